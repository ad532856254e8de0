#include "stub_input.h"

#include <algorithm>
#include <array>
#include <optional>
#include <stdexcept>

#include "arguments.h"
#include "command.h"
#include "foundation/byte_view.h"
#include "payload/payload_format.h"
#include "payload/signature_block.h"

namespace vyn::tool {
namespace {

namespace sig = sfx::signature;

constexpr std::uint64_t symbol_record_size = 18;

[[noreturn]] void refuse(const std::string& name, const std::string& why) {
  throw tool_error(exit_refused, name + ": " + why);
}

struct coff_tables {
  std::uint64_t symbols = 0;  // file offset of the symbol table
  std::uint64_t strings = 0;  // file offset of the string table (its 4-byte size first)
};

// The symbol and string tables when the bytes from start to the end of the file are exactly those
// the file header points at.
std::optional<coff_tables> symbol_tables_at(const utils::byte_view& image, std::uint64_t start) {
  const std::uint64_t nt = image.read_le<std::uint32_t>(0x3C);
  const coff_tables tables{image.read_le<std::uint32_t>(nt + 12),
                           start + symbol_record_size * image.read_le<std::uint32_t>(nt + 16)};
  if (tables.symbols != start || tables.strings + 4 > image.size()) return std::nullopt;
  const std::uint32_t strings_size = image.read_le<std::uint32_t>(tables.strings);
  if (strings_size < 4 || tables.strings + strings_size != image.size()) return std::nullopt;
  return tables;
}

// Section names longer than 8 characters live in the string table ("/4" is the name at offset
// 4). Images have no string table by rule, so they get their first 8 characters, as linkers that
// write no symbols do; tools that read PE files then still accept the signed stub.
void shorten_long_section_names(std::vector<std::uint8_t>& image, std::uint64_t strings, const std::string& name) {
  const utils::byte_view view(image);
  const std::uint64_t nt = view.read_le<std::uint32_t>(0x3C);
  const std::uint16_t count = view.read_le<std::uint16_t>(nt + 6);
  const std::uint64_t table = nt + 24 + view.read_le<std::uint16_t>(nt + 20);
  for (std::uint64_t i = 0; i < count; ++i) {
    const auto header = image.begin() + static_cast<std::ptrdiff_t>(table + i * 40);
    if (header[0] != '/') continue;
    const std::string digits(header + 1, std::find(header + 1, header + 8, std::uint8_t{0}));
    const auto offset = digits.empty() ? std::nullopt : parse_number(digits);
    const std::uint64_t at = offset ? std::min<std::uint64_t>(strings + *offset, image.size()) : image.size();
    const auto first = image.begin() + static_cast<std::ptrdiff_t>(at);
    const auto end = std::find(first, image.end(), std::uint8_t{0});
    if (end == image.end()) refuse(name, "the section name '/" + digits + "' is not in its string table");
    const auto length = std::min<std::ptrdiff_t>(end - first, 8);
    std::array<std::uint8_t, 8> short_name{};
    std::copy_n(first, length, short_name.begin());
    std::copy(short_name.begin(), short_name.end(), header);
  }
}

void drop_symbol_tables(std::vector<std::uint8_t>& image, const coff_tables& tables, const std::string& name) {
  shorten_long_section_names(image, tables.strings, name);
  const std::uint64_t nt = utils::byte_view(image).read_le<std::uint32_t>(0x3C);
  std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(nt + 12), 8, std::uint8_t{0});
  image.resize(static_cast<std::size_t>(tables.symbols));
}

}  // namespace

stub_input prepare_stub(std::vector<std::uint8_t> file, const std::string& name) {
  const auto pe = sig::recognise_pe(file);
  if (!pe) refuse(name, "not a PE image (a stub is a 32-bit or 64-bit Windows executable)");
  if (sig::ends_in_block(file)) {
    refuse(name, "already ends in a signature block; build from the stub as linked");
  }
  const utils::byte_view view(file);
  if (view.read_le<std::uint64_t>(pe->cert_entry) != 0) {
    refuse(name, "carries a certificate table entry (Authenticode); build from the stub as linked and add "
                 "the Authenticode signature to the built stub");
  }
  stub_input out;
  out.pe64 = view.read_le<std::uint16_t>(view.read_le<std::uint32_t>(0x3C) + 24) == sfx::pe32plus_magic;
  // Where the raw data of the last section ends: where the stub will look for its payload.
  std::uint64_t end = 0;
  try {
    end = sfx::payload_start_of(view, out.pe64 ? sfx::pe32plus_magic : sfx::pe32_magic);
  } catch (const std::exception&) {
    refuse(name, "its section table runs past the end of the file");
  }
  if (end > file.size()) refuse(name, "its sections end behind the end of the file (a truncated image?)");
  if (end < file.size()) {
    const auto tables = symbol_tables_at(view, end);
    if (!tables) {
      refuse(name, std::to_string(file.size() - end) +
                       " bytes lie behind its sections (a payload or other appended data); build from the "
                       "stub as linked");
    }
    out.dropped_symbols = file.size() - end;
    drop_symbol_tables(file, *tables, name);
  }
  out.image = std::move(file);
  return out;
}

}  // namespace vyn::tool
