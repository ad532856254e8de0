#include "foundation/brand.h"

namespace vyn::root {
namespace {

struct brand_row {
  brand_kind kind;
  const wchar_t* word;
  const wchar_t* company;
  const wchar_t* short_company;
  const wchar_t* long_company;
  const wchar_t* prefix;
  const wchar_t* capitalized_prefix;
  std::uint32_t index;
  std::array<brand_id, 2> identifiers;
};

constexpr brand_id none_id{};

const brand_row rows[] = {
    {brand_kind::orvek, L"orvek", L"Orvek Software", L"Orvek", L"Orvek Software", L"vyn", L"", 0,
     {brand_id{0xe820801b, 0xb4ad, 0x4701, {0xbe, 0xcb, 0xa5, 0x66, 0x6a, 0x05, 0x55, 0x8a}},
      brand_id{0x8b1d93c5, 0x8d89, 0x44a8, {0xb4, 0xac, 0x10, 0xdb, 0xb3, 0x23, 0x36, 0x6b}}}},
    {brand_kind::tarn, L"tarn", L"TARN", L"TARN", L"TARN Technologies", L"tarn", L"Tarn", 1,
     {brand_id{0x03efdfc4, 0xdaba, 0x4ee6, {0xb4, 0x3c, 0x10, 0x38, 0x9b, 0xd7, 0xf5, 0x9e}},
      brand_id{0x14b17a50, 0x74cb, 0x460b, {0x90, 0x5a, 0x0e, 0xd8, 0xba, 0x6a, 0x50, 0x07}}}},
    {brand_kind::sennet, L"sennet", L"Sennet", L"Sennet", L"Sennet", L"snt", L"", 2,
     {none_id, none_id}},
    {brand_kind::quillon, L"quillon", L"Quillon", L"Quillon", L"Quillon", L"qln", L"", 3,
     {none_id, none_id}},
    {brand_kind::pellin, L"pellin", L"Pellin", L"Pellin", L"Pellin", L"pln", L"", 4,
     {brand_id{0x6823f18e, 0x3a04, 0x456c, {0x90, 0xc7, 0x51, 0x11, 0x21, 0xeb, 0xd4, 0xff}},
      brand_id{0x1acd8826, 0x8f80, 0x4ee9, {0xad, 0xe7, 0x7e, 0xc8, 0xab, 0x07, 0xc6, 0xd6}}}},
    {brand_kind::halvard, L"halvard", L"Halvard", L"Halvard", L"Halvard", L"hvd", L"", 5,
     {brand_id{0x64b24c56, 0xa02d, 0x46ee, {0xac, 0x9b, 0xa3, 0x97, 0xa9, 0x31, 0x44, 0x19}},
      brand_id{0x46c17ec1, 0x7921, 0x45a7, {0x80, 0x5a, 0x3b, 0x6f, 0xd6, 0xe1, 0x1e, 0x42}}}},
    {brand_kind::placeholder, L"PlaceholderBrand", L"PlaceholderBrandCompany",
     L"PlaceholderBrandShortCompanyName", L"PlaceholderBrandLongCompanyName",
     L"PlaceholderBrandPrefix", L"PlaceholderBrandCapitalizedLongPrefix", 6, {none_id, none_id}},
};

// Only these words select a brand; the placeholder row is never matched.
constexpr brand_kind matched_kinds[] = {brand_kind::orvek,   brand_kind::tarn,   brand_kind::sennet,
                                        brand_kind::quillon, brand_kind::pellin, brand_kind::halvard};

}  // namespace

brand_record brand_table_row(brand_kind kind) {
  brand_record record;
  for (const auto& row : rows) {
    if (row.kind != kind) continue;
    record.kind = kind;
    record.brand_word = row.word;
    record.company_name = row.company;
    record.short_company_name = row.short_company;
    record.long_company_name = row.long_company;
    record.short_prefix = row.prefix;
    record.capitalized_prefix = row.capitalized_prefix;
    record.index = row.index;
    record.identifiers = row.identifiers;
  }
  return record;
}

brand_record classify_product(std::wstring_view product_id, std::wstring_view module_id) {
  brand_record record;
  const auto dash = product_id.find(L'-');
  if (dash != std::wstring_view::npos) {
    const std::wstring_view word = product_id.substr(0, dash);
    for (const brand_kind kind : matched_kinds) {
      brand_record row = brand_table_row(kind);
      if (row.brand_word == word) {
        record = std::move(row);
        break;
      }
    }
  }
  record.product_id = product_id;
  record.module_id = module_id;
  return record;
}

bool always_enabled(brand_kind kind) {
  return kind == brand_kind::pellin || kind == brand_kind::halvard;
}

}  // namespace vyn::root
