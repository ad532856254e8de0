// The INI parser over arbitrary bytes (proxy.ini and LC.INI come from outside): parsing either
// fails with the invalid-data error or yields a document that renders and parses back to itself
// in every encoding (unless a key cannot be written back), and whose proxy settings can be read.

#include <cstddef>
#include <cstdint>
#include <span>

#include "foundation/exceptions.h"
#include "fuzz_options.h"
#include "net/ini_file.h"
#include "net/proxy_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vyn::utils::ini_file;
  using vyn::utils::text_encoding;
  ini_file ini;
  try {
    ini = ini_file::parse(std::span<const std::uint8_t>(data, size));
  } catch (const vyn::exceptions::error& e) {
    if (e.code() != 13) __builtin_trap();
    return 0;
  }
  vyn::http::settings_from_ini(ini);
  // A key that begins with a comment character or '[' (read from an indented line) is written
  // back at the start of its line, where it means something else: the format cannot hold it.
  for (const auto& [name, entries] : ini.sections()) {
    for (const auto& [key, value] : entries) {
      if (!key.empty() && (key[0] == L'#' || key[0] == L';' || key[0] == L'[')) return 0;
    }
  }
  for (const text_encoding encoding : {text_encoding::utf8, text_encoding::utf16_le, text_encoding::utf16_be}) {
    const ini_file back = ini_file::parse(ini.render(encoding));
    if (back.sections() != ini.sections() || back.encoding() != encoding) __builtin_trap();
  }
  return 0;
}
