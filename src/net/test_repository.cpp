#include "net/test_repository.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "foundation/sha256.h"
#include "payload/lzma_codec.h"
#include "payload/signature_testing.h"

namespace vyn::http::testing {

bytes packed_object(std::span<const std::uint8_t> content, const signer& by) {
  sfx::signature::sign_options options;
  options.version = 3;
  return sfx::testing::sign(packers::lzma_compress(content), options, by.set, by.kind, by.index);
}

bytes signed_xml(const std::string& xml, const signer& by) {
  sfx::signature::sign_options options;
  options.form = sfx::signature::block_form::text;
  options.xml_comment = true;
  options.version = 3;
  const bytes text(xml.begin(), xml.end());
  return sfx::testing::sign(text, options, by.set, by.kind, by.index);
}

std::string sha256_hex(std::span<const std::uint8_t> content) {
  root::sha256 hash;
  return root::digest_of(hash, content).hex();
}

std::string universe_path(std::span<const std::uint8_t> content) {
  const std::string h = sha256_hex(content);
  return "universe/" + h.substr(0, 4) + "/" + h.substr(4, 4) + "/" + h.substr(8, 4) + "/" + h + ".lzma";
}

void write_file(const std::wstring& path, std::span<const std::uint8_t> bytes) {
  const std::filesystem::path target(path);
  std::filesystem::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + target.string());
}

}  // namespace vyn::http::testing
