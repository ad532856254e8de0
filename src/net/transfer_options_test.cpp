#include "net/transfer_options.h"

#include <gtest/gtest.h>

#include "net/http_types.h"

namespace vyn::http {
namespace {

ProxySettings proxy(std::int32_t type) {
  ProxySettings s;
  s.type = type;
  s.name = "p";
  s.port = 3128;
  return s;
}

TEST(TransferOptions, SessionAccess_FollowsTheSystemAndTheProxyType) {
  const system_version win7{6, 1, 7601}, win81{6, 3, 9600};
  const struct {
    const char* name;
    system_version version;
    std::optional<ProxySettings> settings;
    std::uint32_t access;
    const wchar_t* proxy_name;
  } cases[] = {
      {"no settings, Windows 7", win7, std::nullopt, access_default_proxy, L""},
      {"no settings, Windows 8.1", win81, std::nullopt, access_automatic_proxy, L""},
      {"type 0, Windows 10", {10, 0, 19045}, proxy(0), access_automatic_proxy, L""},
      {"system proxy", win81, proxy(1), access_default_proxy, L""},
      {"HTTP proxy", win7, proxy(2), access_named_proxy, L"p:3128"},
      {"HTTPS proxy", win81, proxy(5), access_named_proxy, L"https://p:3128"},
      {"SOCKS 4", win7, proxy(3), access_no_proxy, L""},
      {"SOCKS 5", win7, proxy(4), access_no_proxy, L""},
      {"unknown type", win7, proxy(7), access_no_proxy, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const proxy_access access = session_access(c.version, c.settings);
    EXPECT_EQ(access.access_type, c.access);
    EXPECT_EQ(access.proxy_name, c.proxy_name);
  }
}

TEST(TransferOptions, ProxyOption_NamesEveryTypeButNone) {
  EXPECT_FALSE(proxy_access_for(std::nullopt));
  EXPECT_FALSE(proxy_access_for(proxy(0)));
  EXPECT_EQ(proxy_access_for(proxy(1))->access_type, access_default_proxy);
  EXPECT_EQ(proxy_access_for(proxy(4))->proxy_name, L"://p:3128");
  EXPECT_EQ(proxy_access_for(proxy(5))->proxy_name, L"https://p:3128");
}

TEST(TransferOptions, Protocols_WidenWithTheSystem) {
  const struct {
    system_version version;
    std::uint32_t protocols;
  } cases[] = {
      {{6, 1, 7601}, 0x280},
      {{6, 2, 9200}, 0xA80},
      {{10, 0, 19045}, 0xA80},
      {{10, 0, 22000}, 0x2A80},
      {{6, 3, 22000}, 0xA80},
  };
  for (const auto& c : cases) EXPECT_EQ(widened_protocols(c.version), c.protocols);
}

TEST(DisplayUrl, RendersTheUrlForLogLines) {
  const struct {
    url_parts url;
    const char* text;
  } cases[] = {
      {{"https", "h", 0, "/a", "b"}, "https://h/a?b"},
      {{"http", "h", 8080, "/a", ""}, "http://h:8080/a"},
      {{"ftp", "h", 0, "", ""}, "http://h/"},
      {{"https", "h", 443, "x", "q=1"}, "https://h:443/x?q=1"},
  };
  for (const auto& c : cases) EXPECT_EQ(display_url(c.url), c.text);
}

}  // namespace
}  // namespace vyn::http
