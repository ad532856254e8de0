#include "app/language_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace vyn::sfx {
namespace {

TEST(LanguageTable, Rows_AreUniqueAndConsistent) {
  std::set<std::uint16_t> ids;
  for (const language& row : language_table) {
    EXPECT_TRUE(ids.insert(row.id).second) << row.narrow_tag;
    const std::string narrow(row.narrow_tag);
    EXPECT_EQ(std::wstring(narrow.begin(), narrow.end()), row.tag);
    EXPECT_EQ(narrow.size(), 5u);
  }
  EXPECT_EQ(language_table.front().id, us_english);
  EXPECT_STREQ(find_language(0x407)->narrow_tag, "de-de");
  EXPECT_STREQ(find_language(0x81A)->narrow_tag, "sr-sp");
  EXPECT_EQ(find_language(0x4D2), nullptr);
  EXPECT_EQ(find_language(0), nullptr);
}

TEST(LanguageTable, ChooseLanguage_PrefersLangIdAndFallsBackToUsEnglish) {
  constexpr std::int32_t user_default = 0x415;
  const struct {
    const wchar_t* text;
    std::int32_t expected;
  } cases[] = {
      {L"", user_default},
      {L"/other:1031", user_default},
      {L"/lang-id:1031", 0x407},
      {L"/lang-id:1234", 0x409},
      {L"/language:1031", 0x407},
      {L"/lang-id:1040 /language:1031", 0x410},
      {L"/language:1031 /lang-id:abc", 0x409},
      {L"/lang-id:", 0x409},
      {L"/lang-id:\" 2052\"", 0x804},
      {L"/lang-id:99999999999", 0x409},
      {L"/lang-id:3082x", 0xC0A},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(choose_language(command_line(c.text, false), user_default), c.expected) << c.text;
  }
  // The user's own default is taken without a look into the table.
  EXPECT_EQ(choose_language(command_line(L"", false), 0x4D2), 0x4D2);
}

}  // namespace
}  // namespace vyn::sfx
