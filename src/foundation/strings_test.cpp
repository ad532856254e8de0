#include "foundation/strings.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "foundation/exceptions.h"

namespace vyn::utils {
namespace {

TEST(Strings, RoundTripsOutsideTheBasicPlane) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  const std::wstring wide = to_wide(text);
  EXPECT_EQ(wide.size(), sizeof(wchar_t) == 2 ? 6u : 5u);
  EXPECT_EQ(to_narrow(wide), text);
}

TEST(Strings, MalformedUtf8_Raises) {
  for (const std::string bad : {"\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF5\x80\x80\x80", "a\xFF"}) {
    try {
      to_wide(bad);
      ADD_FAILURE() << "accepted malformed input";
    } catch (const exceptions::error& e) {
      EXPECT_STREQ(e.what(), "to_wide<char>::MultiByteToWideChar");
    }
  }
}

TEST(Strings, UnpairedSurrogate_RaisesStrictAndReplacesForLog) {
  const std::wstring lone(1, static_cast<wchar_t>(0xD800));
  EXPECT_THROW(to_narrow(lone + L"x"), exceptions::error);
  EXPECT_EQ(to_log(lone + L"x"), "\xEF\xBF\xBDx");
}

TEST(Strings, CaseInsensitiveHelpersFoldAsciiOnly) {
  EXPECT_TRUE(iequals(L"SILENT", L"silent"));
  EXPECT_FALSE(iequals(L"silent", L"silent "));
  EXPECT_FALSE(iequals(L"\u00C9", L"\u00E9"));
  EXPECT_EQ(ifind(L"a /VerySilent", L"/verysilent"), 2u);
  EXPECT_EQ(ifind(L"abc", L"abcd"), std::wstring_view::npos);
}

TEST(Strings, DecimalWritesWhatToWstringWrites) {
  EXPECT_EQ(decimal(0), L"0");
  EXPECT_EQ(decimal(std::int32_t{-2147483647 - 1}), L"-2147483648");
  EXPECT_EQ(decimal(std::uint32_t{4294967295u}), L"4294967295");
  EXPECT_EQ(decimal(std::uint64_t{18446744073709551615u}), L"18446744073709551615");
  for (const long value : {-1L, 7L, 100L, 65535L}) EXPECT_EQ(decimal(value), std::to_wstring(value));
}

}  // namespace
}  // namespace vyn::utils
