#include "setup/condition_values.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "foundation/exceptions.h"

namespace vyn::repository::conditions {
namespace {

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

}  // namespace
}  // namespace vyn::repository::conditions
