#include "foundation/strings.h"

#include <cstdint>
#include <cstdio>
#include <limits>
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

TEST(Strings, FixedWritesWhatPrintfWritesWithThatPrecision) {
  const auto printed = [](double value, int decimals) {
    char text[400];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return std::string(text);
  };
  // Ties round to even, carries reach the whole part, signs stay on zeros.
  for (const double value : {0.0, -0.0, 0.5, 1.5, 2.5, -2.5, 0.125, 0.375, 9.9999999, 0.0000005, 0.0000015,
                             1e-300, -1e-7, 123456.7890125, 4503599627370495.5, 9007199254740991.0,
                             9007199254740992.0, 1.8446744073709552e19, 1e300, 1.7976931348623157e308}) {
    for (const int decimals : {0, 1, 3, 4, 6, 9}) {
      EXPECT_EQ(fixed(value, decimals), printed(value, decimals)) << value << " with " << decimals;
    }
  }
  // Speeds and shares as the stub writes them, from a fixed sequence of values of every scale.
  std::uint64_t state = 88172645463325252u;
  for (int i = 0; i < 20000; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    const double value = static_cast<double>(state >> 11) / static_cast<double>(1ull << (state % 60));
    const int decimals = static_cast<int>(state % 10);
    ASSERT_EQ(fixed(value, decimals), printed(value, decimals)) << value << " with " << decimals;
  }
  EXPECT_EQ(fixed(std::numeric_limits<double>::infinity(), 4), "inf");
  EXPECT_EQ(fixed(-std::numeric_limits<double>::infinity(), 4), "-inf");
  EXPECT_EQ(fixed(std::numeric_limits<double>::quiet_NaN(), 4), "nan");
  EXPECT_EQ(fixed(1.25, -3), "1") << "no fewer than 0 decimals";
  EXPECT_EQ(fixed(1.25, 12), "1.250000000") << "no more than 9";
}

}  // namespace
}  // namespace vyn::utils
