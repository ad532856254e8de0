#include "setup/expander.h"

#include <gtest/gtest.h>

namespace vyn::repository {
namespace {

TEST(LightExpander, OnlyTheExactWholeName_IsReplaced) {
  light_expander expander;
  expander.set(L"%KESTRO_IS_SFX%", L"1");
  const struct {
    const wchar_t* text;
    const wchar_t* expected;
  } cases[] = {
      {L"%KESTRO_IS_SFX%", L"1"},
      {L" %KESTRO_IS_SFX%", L" %KESTRO_IS_SFX%"},
      {L"%KESTRO_IS_SFX% ", L"%KESTRO_IS_SFX% "},
      {L"%kestro_is_sfx%", L"%kestro_is_sfx%"},
      {L"KESTRO_IS_SFX", L"KESTRO_IS_SFX"},
      {L"x%KESTRO_IS_SFX%x", L"x%KESTRO_IS_SFX%x"},
      {L"", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(expander.expand(c.text), c.expected) << c.text;
    EXPECT_EQ(*expander.expand_shared(c.text), c.expected) << c.text;
    EXPECT_EQ(expander.expand_optional(std::wstring(c.text)), std::wstring(c.expected)) << c.text;
  }
}

TEST(LightExpander, ValueNamingAVariable_IsNotExpandedAgain) {
  light_expander expander;
  expander.set(L"%A%", L"%B%");
  expander.set(L"%B%", L"2");
  EXPECT_EQ(expander.expand(L"%A%"), L"%B%");
}

TEST(LightExpander, SetTwice_KeepsTheSecondValue) {
  light_expander expander;
  expander.set(L"%A%", L"first");
  expander.set(L"%A%", L"second");
  EXPECT_EQ(expander.expand(L"%A%"), L"second");
}

TEST(LightExpander, VariableWithEmptyName_ReplacesTheEmptyText) {
  light_expander expander;
  expander.set(L"", L"was empty");
  EXPECT_EQ(expander.expand(L""), L"was empty");
}

TEST(LightExpander, AbsentTextStaysAbsent_AndLookupNeverAnswers) {
  light_expander expander;
  expander.set(L"%A%", L"1");
  EXPECT_FALSE(expander.expand_optional(std::nullopt).has_value());
  EXPECT_FALSE(expander.lookup(L"%A%").has_value());
}

}  // namespace
}  // namespace vyn::repository
