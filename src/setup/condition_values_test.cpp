#include "setup/condition_values.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "foundation/exceptions.h"

namespace vyn::repository::conditions {
namespace {

TEST(ConditionValues, Boolean_IsExactlyTrueOrFalse) {
  EXPECT_EQ(parse_bool(L"true"), true);
  EXPECT_EQ(parse_bool(L"false"), false);
  for (const wchar_t* text : {L"", L"TRUE", L"True", L"1", L"yes", L" true", L"false "}) {
    EXPECT_FALSE(parse_bool(text).has_value()) << text;
  }
}

TEST(ConditionValues, Integer_IsTheWholeTextInDecimal) {
  const struct {
    const wchar_t* text;
    std::optional<std::int64_t> expected;
  } cases[] = {
      {L"42", 42},
      {L"  \t42", 42},
      {L"+7", 7},
      {L"-7", -7},
      {L"007", 7},
      {L"9223372036854775807", INT64_MAX},
      {L"-9223372036854775808", INT64_MIN},
      {L"9223372036854775808", std::nullopt},
      {L"99999999999999999999999", std::nullopt},
      {L"42 ", std::nullopt},
      {L"4 2", std::nullopt},
      {L"0x10", std::nullopt},
      {L"ten", std::nullopt},
      {L"", std::nullopt},
      {L" ", std::nullopt},
      {L"-", std::nullopt},
      {L"+-1", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_int64(c.text), c.expected) << c.text;
}

TEST(ConditionValues, IntegerBeyond32Bits_RaisesNarrowingErrorThatNoHandlerOfErrorsCatches) {
  static_assert(std::is_base_of_v<std::exception, narrowing_error>);
  static_assert(!std::is_base_of_v<vyn::exceptions::error, narrowing_error>);
  EXPECT_EQ(parse_int32(L"2147483647"), INT32_MAX);
  EXPECT_EQ(parse_int32(L"-2147483648"), INT32_MIN);
  EXPECT_THROW(parse_int32(L"2147483648"), narrowing_error);
  EXPECT_THROW(parse_int32(L"-2147483649"), narrowing_error);
  EXPECT_THROW(parse_int32(L"4294967296"), narrowing_error);
  // Beyond 64 bits the text is no number at all, so nothing is raised.
  EXPECT_FALSE(parse_int32(L"99999999999999999999999").has_value());
  EXPECT_FALSE(parse_int32(L"12x").has_value());
}

TEST(ConditionValues, Version_ReadsUpToFourPartsAndStopsAtTheFirstMismatch) {
  using v = std::array<std::uint16_t, 4>;
  const struct {
    const wchar_t* text;
    v expected;
  } cases[] = {
      {L"10.0.19045", v{10, 0, 19045, 0}},
      {L"1.2", v{1, 2, 0, 0}},
      {L"1.2.3.4.5", v{1, 2, 3, 4}},
      {L"65535.1", v{65535, 1, 0, 0}},
      {L"65536.1", v{0, 0, 0, 0}},
      {L"1.x.3", v{1, 0, 0, 0}},
      {L"1.2beta.3", v{1, 2, 0, 0}},
      {L"1..3", v{1, 0, 0, 0}},
      {L"", v{0, 0, 0, 0}},
      {L"abc", v{0, 0, 0, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_version(c.text), c.expected) << c.text;
}

TEST(ConditionValues, Comparison_ByVersionNumberOrCaseInsensitiveText) {
  const std::optional<std::wstring> none;
  const struct {
    const wchar_t* left;
    const wchar_t* right;
    std::optional<std::wstring> type;
    int expected;
  } cases[] = {
      {L"10", L"9", none, 1},                                // numbers
      {L"-5", L"3", none, -1},
      {L" 7", L"+7", none, 0},
      {L"9223372036854775807", L"-1", none, 1},
      {L"a10", L"a9", none, -1},                             // text: "1" sorts before "9"
      {L"10.0.19045", L"10.0.9200", none, -1},               // text without a type
      {L"10.0.19045", L"10.0.9200", L"VERSION", 1},
      {L"1.2", L"1.2.0.0", L"version", 0},
      {L"1.2", L"1.10", L"Version", -1},
      {L"abc", L"ABC", none, 0},
      {L"ab", L"abc", none, -1},
      {L"abc", L"ab", none, 1},
      {L"", L"", none, 0},
      {L"_", L"a", none, -1},                                // case folds to lower case
      {L"1.2", L"1.10", L"numeric", 1},                      // an unknown type compares as text
  };
  for (const auto& c : cases) {
    const int order = compare_operands(c.left, c.right, c.type);
    EXPECT_EQ((order > 0) - (order < 0), c.expected) << c.left << L" vs " << c.right;
  }
}

TEST(ConditionValues, ListItems_AreWholeUntrimmedAndCaseInsensitive) {
  EXPECT_TRUE(in_list(L"x86,x64,arm64", L"X64"));
  EXPECT_TRUE(in_list(L"x86,x64,arm64", L"arm64"));
  EXPECT_FALSE(in_list(L"x86,x64,arm64", L"86"));
  EXPECT_FALSE(in_list(L"x86, x64", L"x64"));
  EXPECT_TRUE(in_list(L"x86, x64", L" x64"));
  EXPECT_TRUE(in_list(L"a,,b", L""));
  EXPECT_TRUE(in_list(L"a,", L""));
  EXPECT_TRUE(in_list(L"", L""));
  EXPECT_FALSE(in_list(L"a,b", L""));
}

TEST(ConditionValues, Prefix_IsCaseInsensitiveAndNoLongerThanTheText) {
  EXPECT_TRUE(istarts_with(L"Windows 10", L"WIN"));
  EXPECT_TRUE(istarts_with(L"abc", L""));
  EXPECT_TRUE(istarts_with(L"abc", L"ABC"));
  EXPECT_FALSE(istarts_with(L"ab", L"abc"));
  EXPECT_FALSE(istarts_with(L"xabc", L"abc"));
}

TEST(ConditionValues, BrandWords_ExistForFiveKinds) {
  EXPECT_EQ(brand_word(1), L"orvek");
  EXPECT_EQ(brand_word(2), L"tarn");
  EXPECT_EQ(brand_word(3), L"sennet");
  EXPECT_EQ(brand_word(5), L"pellin");
  EXPECT_EQ(brand_word(6), L"halvard");
  for (std::uint32_t kind : {0u, 4u, 7u, 8u}) EXPECT_FALSE(brand_word(kind).has_value()) << kind;
}

}  // namespace
}  // namespace vyn::repository::conditions
