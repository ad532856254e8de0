#include "net/download_rules.h"

#include <gtest/gtest.h>

#include "foundation/exceptions.h"

namespace vyn::http {
namespace {

TEST(DownloadRules, RepositoryPath_SplitsTheFirstTwelveCharactersKeepingTheLetterCase) {
  const std::wstring hash = L"0123456789abCDEF0123456789abcdef0123456789abcdef0123456789abcdef";
  EXPECT_EQ(repository_path(hash), L"0123/4567/89ab/" + hash + L".lzma");
  EXPECT_EQ(repository_path(L"ABCDEFabcdef"), L"ABCD/EFab/cdef/ABCDEFabcdef.lzma");
  try {
    repository_path(L"0123456789a");
    ADD_FAILURE() << "a hash of 11 characters has no repository path";
  } catch (const vyn::exceptions::error& e) {
    EXPECT_EQ(e.code(), 13u);
  }
}

TEST(DownloadRules, UrlWithoutScheme_GetsHttpsOthersStayAsTheyAre) {
  const struct {
    const wchar_t* text;
    const wchar_t* url;
  } rows[] = {
      {L"repo.example/base/universe/x", L"https://repo.example/base/universe/x"},
      {L"localhost:8443/r", L"https://localhost:8443/r"},
      {L"http://repo.example/a", L"http://repo.example/a"},
      {L"https://repo.example/a", L"https://repo.example/a"},
      {L"ftp://repo.example/a", L"ftp://repo.example/a"},
  };
  for (const auto& r : rows) EXPECT_EQ(download_url(r.text), r.url);
}

TEST(DownloadRules, Speeds_AverageOverTransfersWhoseSizeAndDurationAreKnown) {
  speed_statistics speeds;
  EXPECT_EQ(speeds.average(), 0.0);
  EXPECT_DOUBLE_EQ(speeds.record(2u << 20, 1000), 2.0);
  EXPECT_DOUBLE_EQ(speeds.record(8u << 20, 2000), 4.0);
  EXPECT_DOUBLE_EQ(speeds.average(), 3.0);
  // No Content-Length, or no measurable time: speed 0, not counted.
  EXPECT_EQ(speeds.record(0, 1000), 0.0);
  EXPECT_EQ(speeds.record(1u << 20, 0), 0.0);
  EXPECT_DOUBLE_EQ(speeds.average(), 3.0);
  EXPECT_DOUBLE_EQ(speeds.record(3u << 20, 500), 6.0);
  EXPECT_DOUBLE_EQ(speeds.average(), 4.0);
}

}  // namespace
}  // namespace vyn::http
