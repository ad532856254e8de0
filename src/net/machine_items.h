#pragma once
// Byte-level pieces of the machine identifier: the disk serial chosen by majority, the system
// volume's GUID, the SMBIOS items, and the text forms of identifiers.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vyn::mi {

// The serial that the most other candidates agree with; on a tie the earlier one. Empty
// candidates (failed queries) neither win nor count; nothing when all are empty.
std::optional<std::string> majority_serial(const std::array<std::string, 4>& candidates);

// The 16 bytes (in GUID memory order) of a volume name "\\?\Volume{xxxxxxxx-xxxx-xxxx-xxxx-
// xxxxxxxxxxxx}\"; nothing for any other text. The trailing backslash is optional.
std::optional<std::array<std::uint8_t, 16>> volume_guid_bytes(std::wstring_view volume_name);

// SMBIOS text items are read for one or both identifier modes.
enum class item_modes : std::uint8_t { first = 1, both = 3 };

struct named_bytes {
  std::string name;
  std::vector<std::uint8_t> bytes;
};

// The firmware items of an SMBIOS structure table (the structures themselves, without the
// 8-byte header that the system puts before them) for mode 1 or 2, present and non-empty ones
// only, in the order the identifier digests them: the text items, then "SystemUUID" and, in mode
// 1, "ProcessorID".
//
// A text item is the string a structure field names, blanks at both ends removed; when the
// table holds several structures of the type (memory devices, processors), their non-empty
// values are joined with a NUL byte in table order. A binary item of all zero or all 0xFF bytes
// means "not set" and is left out. Parsing stops at the end-of-table structure, at a structure
// shorter than its header and at one that runs past the table's end.
std::vector<named_bytes> firmware_items(std::span<const std::uint8_t> table, int mode);

// Upper-case hexadecimal digits of the bytes, two per byte, no separators.
std::wstring upper_hex(std::span<const std::uint8_t> bytes);

}  // namespace vyn::mi
