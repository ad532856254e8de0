#pragma once
// The hardware items a machine identifier was computed from, and their stored form.
//
// The stored form lists the items in name order, each as its name and its bytes:
//
//   count:  32-bit little-endian number of items
//   item:   32-bit little-endian name length, the name's bytes,
//           32-bit little-endian value length, the value's bytes
//
// Nothing follows the last item.

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace vyn::mi {

// Item name ("DiskMajoritySN", "SystemUUID", ...) to the item's raw bytes.
using source_items = std::map<std::string, std::vector<std::uint8_t>>;

std::vector<std::uint8_t> serialise_source_items(const source_items& items);

// The items of a stored form. Raises vyn::exceptions::error with code 13 and "Not enough data in
// buffer" when the bytes end inside an item, and "Unexpected data after the source items" when
// bytes follow the last item.
source_items parse_source_items(std::span<const std::uint8_t> bytes);

// Names of the stored items whose current value differs or that are no longer present, in name
// order. Items that only the current set has are not changes.
std::vector<std::string> changed_items(const source_items& stored, const source_items& current);

}  // namespace vyn::mi
