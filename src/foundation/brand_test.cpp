#include "foundation/brand.h"

#include <gtest/gtest.h>

#include <cwchar>

#include "foundation/paths.h"

namespace vyn::root {
namespace {

TEST(ClassifyProduct, BrandWordBeforeFirstDash_SelectsKindCaseSensitively) {
  const struct {
    const wchar_t* product_id;
    brand_kind expected;
  } cases[] = {
      {L"orvek-free-online", brand_kind::orvek},
      {L"tarn-suite", brand_kind::tarn},
      {L"sennet-x", brand_kind::sennet},
      {L"quillon-x", brand_kind::quillon},
      {L"pellin-x", brand_kind::pellin},
      {L"halvard-x-y-z", brand_kind::halvard},
      {L"Orvek-free-online", brand_kind::none},
      {L"Tarn-suite", brand_kind::none},
      {L"TARN-suite", brand_kind::none},
      {L"orvekfree", brand_kind::none},          // no "-"
      {L"orvek", brand_kind::none},              // no "-"
      {L"orvekx-free", brand_kind::none},        // the word must match whole
      {L"-orvek", brand_kind::none},
      {L"PlaceholderBrand-x", brand_kind::none},  // the template row is never selected
      {L"", brand_kind::none},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(classify_product(c.product_id, L"").kind, c.expected)
        << std::string(c.product_id, c.product_id + std::wcslen(c.product_id));
  }
}

TEST(ClassifyProduct, KnownBrand_FillsTheTableRowAndKeepsIdentifiers) {
  const brand_record tarn = classify_product(L"tarn-suite-2", L"module-7");
  EXPECT_EQ(tarn.kind, brand_kind::tarn);
  EXPECT_EQ(tarn.product_id, L"tarn-suite-2");
  EXPECT_EQ(tarn.module_id, L"module-7");
  EXPECT_EQ(tarn.brand_word, L"tarn");
  EXPECT_EQ(tarn.company_name, L"TARN");
  EXPECT_EQ(tarn.long_company_name, L"TARN Technologies");
  EXPECT_EQ(tarn.capitalized_prefix, L"Tarn");
  EXPECT_EQ(tarn.index, 1u);
  EXPECT_NE(tarn.identifiers[0], brand_id{});
  EXPECT_EQ(tarn.enabled, 0);
  EXPECT_EQ(classify_product(L"orvek-free-online", L"").capitalized_prefix, L"");
  EXPECT_EQ(classify_product(L"sennet-a", L"").identifiers[0], brand_id{});
}

TEST(ClassifyProduct, WithoutDash_HasNoNamesButKeepsTheIdentifier) {
  const brand_record none = classify_product(L"orvek", L"m");
  EXPECT_EQ(none.kind, brand_kind::none);
  EXPECT_EQ(none.product_id, L"orvek");
  EXPECT_EQ(none.module_id, L"m");
  EXPECT_TRUE(none.brand_word.empty());
  EXPECT_TRUE(none.company_name.empty());
  EXPECT_TRUE(none.short_prefix.empty());
}

TEST(JoinPath, Parts_AreJoinedWithExactlyOneSeparator) {
  const struct {
    const wchar_t *left, *right, *expected;
  } cases[] = {
      {L"C:\\data", L"Logs", L"C:\\data\\Logs"},
      {L"C:\\data\\", L"Logs", L"C:\\data\\Logs"},
      {L"C:\\data", L"\\Logs", L"C:\\data\\Logs"},
      {L"C:\\data\\", L"\\Logs", L"C:\\data\\Logs"},
      {L"C:\\data/", L"/Logs", L"C:\\data/Logs"},
      {L"C:\\data/", L"Logs", L"C:\\data/Logs"},
      {L"C:\\data", L"", L"C:\\data"},
      {L"C:\\data\\", L"", L"C:\\data\\"},
      {L"", L"Logs", L"\\Logs"},
  };
  for (const auto& c : cases) EXPECT_EQ(files::join_path(c.left, c.right), c.expected);
}

}  // namespace
}  // namespace vyn::root
