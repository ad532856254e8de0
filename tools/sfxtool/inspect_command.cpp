// inspect: what a built stub carries, as the stub reads it: its payload records and its
// signature.

#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "arguments.h"
#include "command.h"
#include "file_io.h"
#include "foundation/byte_view.h"
#include "foundation/strings.h"
#include "key_folder.h"
#include "payload/lzma_codec.h"
#include "payload/payload_format.h"
#include "payload/signature_check.h"

namespace vyn::tool {
namespace {

using sfx::signature::block_form;

constexpr unsigned key_sets_tried[] = {7, 8, 0, 1, 2, 3, 4, 5};

struct image_kind {
  const char* name;
  std::uint64_t payload_start;
};

// The stub's payload start as the i686 stub (PE32) or the x86_64 test build (PE32+) finds it.
image_kind payload_of(const utils::byte_view& image, const std::string& path) {
  for (const auto& [name, magic] : {std::pair{"PE32", sfx::pe32_magic}, std::pair{"PE32+", sfx::pe32plus_magic}}) {
    try {
      const std::uint64_t start = sfx::payload_start_of(image, magic);
      sfx::check_payload_start(start, image.size());
      return {name, start};
    } catch (const std::exception&) {
    }
  }
  throw tool_error(exit_refused, path + " is no PE32 or PE32+ image a payload can follow");
}

// "stored", or "lzma" with the declared size of the unpacked content.
std::string packing_of(const utils::byte_view& image, const sfx::payload_record& r, std::string& unpacked) {
  if (r.flags == 0) {
    unpacked = std::to_string(r.size);
    return "stored";
  }
  if (r.flags != 1) {
    unpacked = "?";
    return "reader " + std::to_string(r.flags);
  }
  unpacked = "?";
  if (r.size >= packers::lzma_header_size) {
    const auto declared = image.read_le<std::uint64_t>(std::uint64_t{r.data_offset} + 5);
    unpacked = packers::lzma_size_known(declared) ? std::to_string(declared) : "unknown";
  }
  return "lzma";
}

std::string type_of(std::uint32_t type) {
  if (type >= 0x20 && type < 0x7F) return std::string(1, static_cast<char>(type));
  return std::to_string(type);
}

// Lists the records; returns where the end record begins.
std::uint64_t list_records(const utils::byte_view& image, std::uint64_t payload_start) {
  sfx::record_walker walker(image, payload_start);
  std::printf("  %-3s %-4s %-6s %10s %10s %11s  %-64s  %s\n", "#", "type", "flags", "size", "unpacked",
              "timestamp", "sha-256", "alias");
  std::uint64_t end = payload_start;
  int n = 0;
  for (bool more = walker.first(); more; more = walker.next()) {
    const sfx::payload_record& r = *walker.current();
    std::string unpacked;
    const std::string packing = packing_of(image, r, unpacked);
    std::printf("  %-3d %-4s %-6s %10u %10s %11llu  %-64s  %s\n", ++n, type_of(r.type).c_str(), packing.c_str(),
                r.size, unpacked.c_str(), static_cast<unsigned long long>(r.timestamp),
                utils::to_narrow(r.sha256).c_str(), r.alias.empty() ? "(none: by hash only)" : utils::to_narrow(r.alias).c_str());
    end = std::uint64_t{r.data_offset} + r.size;
  }
  if (n == 0) std::printf("  (no records)\n");
  return end;
}

// Prints the signature and the key that accepts it; false when none does.
bool show_signature(std::span<const std::uint8_t> file, std::optional<unsigned> only_set) {
  std::optional<sfx::signature::check_result> found;
  unsigned set_found = 0;
  for (const unsigned set : key_sets_tried) {
    if (only_set && set != *only_set) continue;
    sfx::signature::check_result result;
    try {
      result = sfx::signature::check(file, set);
    } catch (const std::invalid_argument&) {
      std::printf("signature: INVALID: the text block holds a character that is not hexadecimal\n");
      return false;
    }
    if (!result.block) {
      std::printf("signature: none (no signature block at the end of the image)\n");
      return false;
    }
    found = result;
    set_found = set;
    if (result.valid()) break;
  }
  const auto& block = *found->block;
  std::printf("signature: version %d, %s block, %zu signed bytes, ", block.version,
              block.form == block_form::binary ? "binary" : "text", block.signed_length);
  if (!found->valid()) {
    std::printf("INVALID: no key of %s accepts it\n", only_set ? "that key set" : "the key sets 0-5, 7 and 8");
    return false;
  }
  std::printf("key set %u, %s key %zu\n", set_found, std::string(kind_name(found->key->kind)).c_str(),
              found->key->index);
  return true;
}

int run(const std::vector<std::string>& raw) {
  const arguments args(raw, {{"set", true}});
  if (args.positional().size() != 1) throw tool_error(exit_usage, "inspect needs one STUB");
  std::optional<unsigned> only_set;
  if (args.value("set")) {
    only_set = args.number("set", 7, 0, 8);
    if (*only_set == 6) throw tool_error(exit_usage, "there is no key set 6");
  }
  const std::string& path = args.positional().front();
  const auto file = read_file(path);
  const utils::byte_view image(file);
  try {
    const image_kind kind = payload_of(image, path);
    std::printf("%s: %s image of %zu bytes, payload at offset %llu\n", path.c_str(), kind.name, file.size(),
                static_cast<unsigned long long>(kind.payload_start));
    const std::uint64_t end = list_records(image, kind.payload_start);
    std::printf("end record at offset %llu\n", static_cast<unsigned long long>(end));
  } catch (const tool_error&) {
    throw;
  } catch (const std::exception& e) {
    throw tool_error(exit_refused, path + ": the payload cannot be read: " + e.what());
  }
  return show_signature(file, only_set) ? exit_ok : exit_not_signed;
}

}  // namespace

const command inspect_command{
    "inspect", "list a built stub's payload records and its signature",
    "usage: sfxtool inspect [--set N] STUB\n"
    "\n"
    "Reads STUB as the stub reads itself and lists its payload records in order: type (F the\n"
    "configuration, C data), packing (stored, or lzma with the unpacked size its stream declares),\n"
    "stored size, timestamp, the SHA-256 of the unpacked content and the alias; then the signature\n"
    "block (digest version, form, signed length) and the key that accepts it, looked for in the key\n"
    "sets built into sfxtool (7, 8, then 0-5) or only in key set N.\n"
    "Exit code 0 when the signature is valid, 1 when it is not, 5 when STUB carries no readable\n"
    "payload.\n",
    run};

}  // namespace vyn::tool
