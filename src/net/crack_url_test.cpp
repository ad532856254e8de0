#include <gtest/gtest.h>

#include "foundation/exceptions.h"
#include "net/sfx_win_http.h"

namespace vyn::http {
namespace {

TEST(CrackUrl, UrlsCutIntoTheirParts) {
  const struct {
    const wchar_t* url;
    url_parts parts;
    const char* shown;
  } cases[] = {
      {L"https://example.org:443/a?b#c", {"https", "example.org", 0, "/a", "b"}, "https://example.org/a?b"},
      {L"http://example.org:80/x", {"http", "example.org", 0, "/x", ""}, "http://example.org/x"},
      {L"http://example.org:443/x", {"http", "example.org", 443, "/x", ""}, "http://example.org:443/x"},
      {L"https://h:8443/p/q.lzma", {"https", "h", 8443, "/p/q.lzma", ""}, "https://h:8443/p/q.lzma"},
      {L"https://h/a#only-fragment", {"https", "h", 0, "/a", ""}, "https://h/a"},
      {L"https://h/a?", {"https", "h", 0, "/a", ""}, "https://h/a"},
      {L"https://h/a?x=1&y=2#f?g", {"https", "h", 0, "/a", "x=1&y=2"}, "https://h/a?x=1&y=2"},
      {L"http://h", {"http", "h", 0, "", ""}, "http://h/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.url));
    const url_parts parts = crack_url(c.url);
    EXPECT_EQ(parts.scheme, c.parts.scheme);
    EXPECT_EQ(parts.host, c.parts.host);
    EXPECT_EQ(parts.port, c.parts.port);
    EXPECT_EQ(parts.path, c.parts.path);
    EXPECT_EQ(parts.query, c.parts.query);
    EXPECT_EQ(display_url(parts), c.shown);
  }
}

TEST(CrackUrl, TextsThatAreNoUrl_FailWithInvalidParameter) {
  for (const wchar_t* text : {L"", L"example.org/a", L"https://", L"no scheme"}) {
    SCOPED_TRACE(testing::PrintToString(text));
    try {
      crack_url(text);
      ADD_FAILURE() << "cracked";
    } catch (const vyn::exceptions::error& e) {
      EXPECT_EQ(e.code(), 87u);
      EXPECT_EQ(std::string(e.what()).rfind("Unable to crack the URL '", 0), 0u) << e.what();
    }
  }
}

}  // namespace
}  // namespace vyn::http
