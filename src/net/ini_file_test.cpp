#include "net/ini_file.h"

#include <gtest/gtest.h>

#include <limits>

#include "foundation/exceptions.h"

namespace vyn::utils {
namespace {

std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

// ASCII text as UTF-16 with its byte-order mark.
std::vector<std::uint8_t> utf16(std::string_view text, bool big_endian) {
  std::vector<std::uint8_t> bytes = big_endian ? std::vector<std::uint8_t>{0xFE, 0xFF}
                                               : std::vector<std::uint8_t>{0xFF, 0xFE};
  for (const char c : text) {
    bytes.push_back(big_endian ? 0 : static_cast<std::uint8_t>(c));
    bytes.push_back(big_endian ? static_cast<std::uint8_t>(c) : 0);
  }
  return bytes;
}

std::uint32_t parse_failure(const std::vector<std::uint8_t>& bytes) {
  try {
    ini_file::parse(bytes);
  } catch (const exceptions::error& e) {
    return e.code();
  }
  return 0;
}

constexpr std::string_view sample =
    "; comment\r\n"
    "ignored=before any section\r\n"
    "[ProxySettings]\r\n"
    "# another comment\r\n"
    "\r\n"
    "ProxyType=2\n"
    " \t ProxyName \f\v= proxy.example \t\r\r\n"
    "no equals sign here\r\n"
    "UserPass=a=b==\r\n"
    "PROXYTYPE=5\r\n"
    "[other]\n"
    "k=v";

TEST(IniFile, EveryEncoding_ParsesTheSameEntriesAndRemembersItsEncoding) {
  struct case_t {
    const char* name;
    std::vector<std::uint8_t> bytes;
    text_encoding encoding;
  };
  const case_t cases[] = {
      {"utf-8", bytes_of(sample), text_encoding::utf8},
      {"utf-8 with mark", bytes_of("\xEF\xBB\xBF" + std::string(sample)), text_encoding::utf8},
      {"utf-16 le", utf16(sample, false), text_encoding::utf16_le},
      {"utf-16 be", utf16(sample, true), text_encoding::utf16_be},
  };
  for (const case_t& c : cases) {
    SCOPED_TRACE(c.name);
    const ini_file ini = ini_file::parse(c.bytes);
    EXPECT_EQ(ini.encoding(), c.encoding);
    ASSERT_EQ(ini.sections().size(), 2u);
    EXPECT_EQ(ini.sections().at(L"ProxySettings").size(), 3u);
    EXPECT_EQ(ini.get(L"proxysettings", L"proxytype", L""), L"5");  // the later value replaces
    EXPECT_EQ(ini.get(L"ProxySettings", L"ProxyName", L""), L"proxy.example");
    EXPECT_EQ(ini.get(L"ProxySettings", L"UserPass", L""), L"a=b==");
    EXPECT_EQ(ini.get(L"OTHER", L"K", L""), L"v");
    EXPECT_FALSE(ini.find(L"ProxySettings", L"ignored"));
    EXPECT_FALSE(ini.find(L"ProxySettings", L"no equals sign here"));
  }
}

TEST(IniFile, LineRules_OnlyExactBracketLinesOpenSections) {
  const ini_file ini = ini_file::parse(bytes_of(
      "[ spaced ]\r\n"
      "a=1\r\n"
      "  [indented]\r\n"  // no section, no '=': ignored
      "[trailing] \r\n"    // does not end with ']': ignored
      "b=2\r\n"
      "[x=y]\r\n"          // a section although it holds '='
      "=empty key\r\n"
      "c=\r\n"
      "[ spaced ]\r\n"     // continues the earlier section
      "d = 4 = four\r\n"));
  ASSERT_EQ(ini.sections().size(), 2u);
  const ini_file::section& spaced = ini.sections().at(L" spaced ");
  EXPECT_EQ(spaced.at(L"a"), L"1");
  EXPECT_EQ(spaced.at(L"b"), L"2");
  EXPECT_EQ(spaced.at(L"d"), L"4 = four");
  const ini_file::section& xy = ini.sections().at(L"x=y");
  EXPECT_EQ(xy.at(L""), L"empty key");
  EXPECT_EQ(xy.at(L"c"), L"");
}

TEST(IniFile, EmptyOrMarkOnlyText_IsAnEmptyDocument) {
  for (const auto& bytes : {bytes_of(""), bytes_of("\xEF\xBB\xBF"), utf16("", false), utf16("", true),
                            bytes_of("\r\n\n\r\n")}) {
    EXPECT_TRUE(ini_file::parse(bytes).empty());
  }
}

TEST(IniFile, MalformedText_FailsWithInvalidData) {
  const std::vector<std::uint8_t> cases[] = {
      bytes_of("[s]\nk=\xC3"),                       // truncated UTF-8 sequence
      bytes_of("[s]\nk=\xFF\xFF"),                   // not UTF-8 (and not a UTF-16 mark at the start)
      {0xFF, 0xFE, 'a', 0, 'b'},                     // odd number of UTF-16 bytes
      {0xFF, 0xFE, 0x00, 0xD8, 'a', 0},              // high surrogate without its low half
      {0xFF, 0xFE, 'a', 0, 0x00, 0xDC},              // low surrogate alone
      {0xFE, 0xFF, 0xD8, 0x00},                      // high surrogate at the end, big-endian
  };
  for (const auto& bytes : cases) EXPECT_EQ(parse_failure(bytes), 13u);
}

TEST(IniFile, Render_WritesSectionsAndKeysInCaseInsensitiveOrder) {
  ini_file ini;
  for (const wchar_t* key : {L"ProxyType", L"UserPass", L"Port", L"ProxyName", L"Authorization", L"UserName",
                             L"Fallback"}) {
    ini.set(L"ProxySettings", key, L"v");
  }
  const std::string expected =
      "\r\n[ProxySettings]\r\nAuthorization=v\r\nFallback=v\r\nPort=v\r\nProxyName=v\r\n"
      "ProxyType=v\r\nUserName=v\r\nUserPass=v\r\n";
  EXPECT_EQ(ini.encoding(), text_encoding::utf16_le);
  EXPECT_EQ(ini.render(), utf16(expected, false));
  EXPECT_EQ(ini.render(text_encoding::utf16_be), utf16(expected, true));
  EXPECT_EQ(ini.render(text_encoding::utf8), bytes_of("\xEF\xBB\xBF" + expected));
}

TEST(IniFile, RenderedText_ParsesBackToTheSameDocumentInEveryEncoding) {
  ini_file ini;
  ini.set(L"b", L"key", L"caf\u00E9 \U0001F600");  // beyond the basic plane: a surrogate pair
  ini.set(L"A", L"z", L"1");
  ini.set(L"A", L"Y", L"");
  ini.set(L"a", L"y", L"2");  // same section and key: the first spelling stays
  for (const text_encoding encoding : {text_encoding::utf8, text_encoding::utf16_le, text_encoding::utf16_be}) {
    const ini_file back = ini_file::parse(ini.render(encoding));
    EXPECT_EQ(back.encoding(), encoding);
    EXPECT_EQ(back.sections(), ini.sections());
  }
  EXPECT_EQ(ini.sections().begin()->first, L"A");
  EXPECT_EQ(ini.sections().at(L"a").begin()->first, L"Y");
  EXPECT_EQ(ini.get(L"a", L"y", L""), L"2");
}

TEST(IniFile, Integers_FallBackUnlessTheValueStartsWithA32BitNumber) {
  const struct {
    const wchar_t* value;
    std::int32_t expected;
  } cases[] = {
      {L"42", 42}, {L"-12", -12}, {L"+7", 7}, {L"42abc", 42}, {L"007", 7},
      {L"2147483647", std::numeric_limits<std::int32_t>::max()},
      {L"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {L"2147483648", -1}, {L"-2147483649", -1}, {L"99999999999999999999", -1},
      {L"abc", -1}, {L"", -1}, {L"-", -1}, {L"+", -1}, {L"- 1", -1}, {L"0x10", 0},
  };
  ini_file ini;
  for (const auto& c : cases) {
    ini.set(L"s", L"k", c.value);
    EXPECT_EQ(ini.get_int(L"s", L"k", -1), c.expected) << "value '" << testing::PrintToString(c.value) << "'";
  }
  EXPECT_EQ(ini.get_int(L"s", L"missing", 8080), 8080);
  EXPECT_EQ(ini.get_int(L"missing", L"k", 8080), 8080);
  ini.set_int(L"s", L"k", -5);
  EXPECT_EQ(ini.get(L"s", L"k", L""), L"-5");
}

TEST(IniFile, UnpairedSurrogateInTheDocument_FailsToRender) {
  ini_file ini;
  ini.set(L"s", L"k", std::wstring(1, static_cast<wchar_t>(0xD800)));
  for (const text_encoding encoding : {text_encoding::utf8, text_encoding::utf16_le, text_encoding::utf16_be}) {
    try {
      ini.render(encoding);
      ADD_FAILURE() << "rendered a lone surrogate";
    } catch (const exceptions::error& e) {
      EXPECT_EQ(e.code(), 13u);
    }
  }
}

}  // namespace
}  // namespace vyn::utils
