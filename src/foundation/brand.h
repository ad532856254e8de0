#pragma once
// The brand a stub is built for. One executable serves several brands of the maker; the brand
// word at the start of the "ProductId" in the version resource ("orvek-free-online") decides the
// company names, prefixes and folders the program uses.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vyn::root {

enum class brand_kind : std::uint32_t {
  none = 0,  // no brand word recognised
  orvek = 1,
  tarn = 2,
  sennet = 3,
  quillon = 4,
  pellin = 5,
  halvard = 6,
  placeholder = 7,  // the template row a build for a not-yet-named brand fills in
};

// A 128-bit identifier in the layout of a Windows GUID.
struct brand_id {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0, data3 = 0;
  std::array<std::uint8_t, 8> data4{};
  bool operator==(const brand_id&) const = default;
};

struct brand_record {
  brand_kind kind = brand_kind::none;
  std::wstring product_id;  // the whole "ProductId"
  std::wstring module_id;   // "ModuleId", may be empty
  std::uint8_t enabled = 0; // whether the installer framework is enabled for the brand
  std::wstring brand_word;  // lower case, as in the product identifier
  std::wstring company_name;
  std::wstring short_company_name;
  std::wstring long_company_name;
  std::wstring short_prefix;
  std::wstring capitalized_prefix;  // empty for brands that have none
  std::uint32_t index = 0;          // 0 to 6; 0 also for kind none, so test the kind first
  // Stable identifiers of the brand (zero for brands that have none).
  std::array<brand_id, 2> identifiers{};
};

// The record filled from the brand table for the product identifier; enabled is left 0. The
// brand word is the text before the first "-", compared case-sensitively with the six brand
// words; without a "-", or with no match, the kind is none and the names stay empty.
brand_record classify_product(std::wstring_view product_id, std::wstring_view module_id);

// The table row of a kind (placeholder included); kind none gives an empty record.
brand_record brand_table_row(brand_kind kind);

// Pellin and Halvard have the installer framework always enabled; the others read it from the
// registry (product_identity.h).
bool always_enabled(brand_kind kind);

}  // namespace vyn::root
