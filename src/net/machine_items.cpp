#include "net/machine_items.h"

#include <algorithm>

namespace vyn::mi {
namespace {

struct text_item {
  const char* name;
  std::uint8_t type;    // SMBIOS structure type
  std::uint8_t offset;  // offset of the string number in the structure
  item_modes modes;
};

// The order in which the items enter the firmware digest.
constexpr text_item text_items[] = {
    {"SystemInformationSN", 1, 0x07, item_modes::both},
    {"BoardInformationSN", 2, 0x07, item_modes::both},
    {"BoardInformationTAG", 2, 0x08, item_modes::both},
    {"EnclosureInformatonSN", 3, 0x07, item_modes::first},
    {"EnclosureInformatonTAG", 3, 0x08, item_modes::first},
    {"ProcessorSN", 4, 0x20, item_modes::first},
    {"ProcessorTAG", 4, 0x21, item_modes::first},
    {"MemoryPN", 17, 0x1A, item_modes::first},
    {"MemorySN", 17, 0x18, item_modes::first},
    {"MemoryTAG", 17, 0x19, item_modes::first},
    {"BatterySN", 22, 0x07, item_modes::first},
    {"PowerSupplyPN", 39, 0x0A, item_modes::first},
    {"PowerSupplySN", 39, 0x08, item_modes::first},
    {"PowerSupplyTAG", 39, 0x09, item_modes::first},
};

struct binary_item {
  const char* name;
  std::uint8_t type;
  std::uint8_t offset;
  std::uint8_t size;
  item_modes modes;
};

constexpr binary_item binary_items[] = {
    {"SystemUUID", 1, 0x08, 16, item_modes::both},
    {"ProcessorID", 4, 0x08, 8, item_modes::first},
};

bool applies(item_modes modes, int mode) {
  return (static_cast<int>(modes) & mode) != 0;
}

constexpr std::uint8_t end_of_table = 127;

// One structure: its formatted area and its strings.
struct structure {
  std::span<const std::uint8_t> formatted;
  std::vector<std::string_view> strings;

  std::uint8_t type() const { return formatted[0]; }
  std::string_view string_at(std::uint8_t offset) const {
    if (offset >= formatted.size()) return {};
    const std::uint8_t number = formatted[offset];
    if (number == 0 || number > strings.size()) return {};
    std::string_view text = strings[number - 1];
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
  }
};

std::vector<structure> parse_structures(std::span<const std::uint8_t> table) {
  std::vector<structure> found;
  std::size_t at = 0;
  while (at + 4 <= table.size()) {
    const std::size_t length = table[at + 1];
    if (length < 4 || at + length > table.size()) break;
    structure next{table.subspan(at, length), {}};
    // The string set ends with an empty string; a structure without strings has two NULs.
    std::size_t pos = at + length;
    bool ended = false;
    while (pos < table.size()) {
      const auto* start = reinterpret_cast<const char*>(table.data() + pos);
      const std::size_t limit = table.size() - pos;
      const std::size_t size = std::find(start, start + limit, '\0') - start;
      if (size == limit) break;
      pos += size + 1;
      if (size == 0) {
        if (next.strings.empty() && pos < table.size() && table[pos] == 0) ++pos;
        ended = true;
        break;
      }
      next.strings.emplace_back(start, size);
    }
    if (!ended) break;
    if (next.type() == end_of_table) break;
    found.push_back(std::move(next));
    at = pos;
  }
  return found;
}

void append_value(std::vector<std::uint8_t>& joined, std::span<const std::uint8_t> value) {
  if (!joined.empty()) joined.push_back(0);
  joined.insert(joined.end(), value.begin(), value.end());
}

std::vector<std::uint8_t> text_value(const std::vector<structure>& structures, const text_item& item) {
  std::vector<std::uint8_t> joined;
  for (const auto& s : structures) {
    if (s.type() != item.type) continue;
    const std::string_view text = s.string_at(item.offset);
    if (!text.empty()) append_value(joined, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  }
  return joined;
}

std::vector<std::uint8_t> binary_value(const std::vector<structure>& structures, const binary_item& item) {
  std::vector<std::uint8_t> joined;
  for (const auto& s : structures) {
    if (s.type() != item.type || s.formatted.size() < std::size_t{item.offset} + item.size) continue;
    const auto value = s.formatted.subspan(item.offset, item.size);
    const bool unset = std::all_of(value.begin(), value.end(), [](auto b) { return b == 0; }) ||
                       std::all_of(value.begin(), value.end(), [](auto b) { return b == 0xFF; });
    if (!unset) append_value(joined, value);
  }
  return joined;
}

}  // namespace

std::optional<std::string> majority_serial(const std::array<std::string, 4>& candidates) {
  std::optional<std::string> best;
  int best_votes = -1;
  for (const auto& candidate : candidates) {
    if (candidate.empty()) continue;
    const int votes = static_cast<int>(std::count(candidates.begin(), candidates.end(), candidate)) - 1;
    if (votes > best_votes) best = candidate, best_votes = votes;
  }
  return best;
}

std::optional<std::array<std::uint8_t, 16>> volume_guid_bytes(std::wstring_view name) {
  constexpr std::wstring_view prefix = L"\\\\?\\Volume{";
  if (name.ends_with(L'\\')) name.remove_suffix(1);
  if (!name.starts_with(prefix) || name.size() != prefix.size() + 37 || name.back() != L'}') {
    return std::nullopt;
  }
  const std::wstring_view guid = name.substr(prefix.size(), 36);
  std::array<std::uint8_t, 16> bytes{};
  // Digits of the groups 8-4-4-4-12; the first three are little-endian numbers in memory.
  constexpr int positions[16] = {6, 4, 2, 0, 11, 9, 16, 14, 19, 21, 24, 26, 28, 30, 32, 34};
  for (std::size_t dash : {8u, 13u, 18u, 23u}) {
    if (guid[dash] != L'-') return std::nullopt;
  }
  for (int i = 0; i < 16; ++i) {
    int value = 0;
    for (int j = 0; j < 2; ++j) {
      const wchar_t c = guid[positions[i] + j];
      int digit = -1;
      if (c >= L'0' && c <= L'9') digit = c - L'0';
      if (c >= L'a' && c <= L'f') digit = c - L'a' + 10;
      if (c >= L'A' && c <= L'F') digit = c - L'A' + 10;
      if (digit < 0) return std::nullopt;
      value = value * 16 + digit;
    }
    bytes[i] = static_cast<std::uint8_t>(value);
  }
  return bytes;
}

std::vector<named_bytes> firmware_items(std::span<const std::uint8_t> table, int mode) {
  const auto structures = parse_structures(table);
  std::vector<named_bytes> items;
  for (const auto& item : text_items) {
    if (!applies(item.modes, mode)) continue;
    auto value = text_value(structures, item);
    if (!value.empty()) items.push_back({item.name, std::move(value)});
  }
  for (const auto& item : binary_items) {
    if (!applies(item.modes, mode)) continue;
    auto value = binary_value(structures, item);
    if (!value.empty()) items.push_back({item.name, std::move(value)});
  }
  return items;
}

std::wstring upper_hex(std::span<const std::uint8_t> bytes) {
  constexpr wchar_t digits[] = L"0123456789ABCDEF";
  std::wstring text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

}  // namespace vyn::mi
