#include "net/proxy_rules.h"

#include <gtest/gtest.h>

#include "net/base64.h"

namespace vyn::http {
namespace {

std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

ProxySettings from_text(std::string_view text) { return settings_from_ini(utils::ini_file::parse(bytes_of(text))); }

TEST(ProxyRules, SchemeNames_MapToTypesInAnyCase) {
  const struct {
    const wchar_t* scheme;
    std::int32_t type;
  } cases[] = {{L"http", 2}, {L"HTTP", 2}, {L"https", 5}, {L"socks", 3}, {L"Socks4", 3},
               {L"socks5", 4}, {L"ftp", 0}, {L"", 0}, {L"http ", 0}};
  for (const auto& c : cases) EXPECT_EQ(proxy_type_from_scheme(c.scheme), c.type) << testing::PrintToString(c.scheme);
}

TEST(ProxyRules, LowerCaseSectionAndKey_AreRead) {
  const ProxySettings s = from_text("[proxysettings]\nproxytype=2\n");
  EXPECT_EQ(s.type, 2);
  EXPECT_EQ(s.port, 8080);
  EXPECT_EQ(s.name, "");
  EXPECT_EQ(s.authorization, 0);
  EXPECT_EQ(s.fallback, 1);
}

TEST(ProxyRules, MissingOrMalformedKeys_KeepTheirDefaults) {
  const ProxySettings s = from_text(
      "[ProxySettings]\nProxyType=two\nAuthorization=99999999999\nPort=\nFallback=x\nUserPass=abc\n"
      "[Other]\nProxyName=elsewhere\n");
  const ProxySettings defaults;
  EXPECT_EQ(s.type, defaults.type);
  EXPECT_EQ(s.authorization, defaults.authorization);
  EXPECT_EQ(s.port, defaults.port);
  EXPECT_EQ(s.fallback, defaults.fallback);
  EXPECT_EQ(s.name, "");
  EXPECT_EQ(s.password, "");
}

TEST(ProxyRules, Passwords_DecodeOnlyFromWholeBase64Groups) {
  const struct {
    const char* text;
    std::string bytes;
  } cases[] = {
      {"", ""},
      {"cGFzcw==", "pass"},
      {"cGFzczE=", "pass1"},
      {"cGFzczEy", "pass12"},
      {"cGFzcw=", ""},          // 7 characters
      {"cGFzcw===", ""},        // 9 characters
      {"cA", ""},
      {"c!!=", std::string("\x70\x00", 2)},  // characters outside the alphabet count as zero bits
  };
  for (const auto& c : cases) EXPECT_EQ(utils::base64_decode(c.text), c.bytes) << c.text;
  for (const std::string& bytes : {std::string(), std::string("p"), std::string("pa"), std::string("pas"), std::string("\0\xFF\x80", 3)}) {
    const std::string text = utils::base64_encode(bytes);
    EXPECT_EQ(text.size() % 4, 0u);
    EXPECT_EQ(utils::base64_decode(text), bytes);
  }
  EXPECT_EQ(utils::base64_encode("pass1"), "cGFzczE=");
}

TEST(ProxyRules, WrittenSettings_HoldEveryKeyAndReadBackTheSame) {
  ProxySettings s;
  s.type = 5;
  s.authorization = 2;
  s.port = 3128;
  s.name = "proxy.example";
  s.user_name = "J\xC3\xBCrgen";
  s.password = std::string("p\0w\xFF", 4);
  s.fallback = 0;
  const utils::ini_file ini = settings_to_ini(s);
  const auto& keys = ini.sections().at(L"ProxySettings");
  std::vector<std::wstring> order;
  for (const auto& [key, value] : keys) order.push_back(key);
  EXPECT_EQ(order, (std::vector<std::wstring>{L"Authorization", L"Fallback", L"Port", L"ProxyName", L"ProxyType",
                                              L"UserName", L"UserPass"}));
  EXPECT_EQ(keys.at(L"UserPass"), L"cAB3/w==");

  const ProxySettings back = settings_from_ini(utils::ini_file::parse(ini.render()));
  EXPECT_EQ(back.type, s.type);
  EXPECT_EQ(back.authorization, s.authorization);
  EXPECT_EQ(back.port, s.port);
  EXPECT_EQ(back.name, s.name);
  EXPECT_EQ(back.user_name, s.user_name);
  EXPECT_EQ(back.password, s.password);
  EXPECT_EQ(back.fallback, s.fallback);
}

TEST(ProxyRules, InternetExplorerLists_SelectTheFirstHttpEntry) {
  const struct {
    const wchar_t* list;
    std::optional<std::pair<std::string, std::int32_t>> proxy;
  } cases[] = {
      {L"ftp=a:21;https=b:8443", std::pair{"b", 8443}},
      {L"socks=s:1080", std::nullopt},
      {L"http://h", std::pair{"h", 8080}},
      {L"h:3128", std::pair{"h", 3128}},
      {L"http=h1:1;https=h2:2", std::pair{"h1", 1}},
      {L"https=https://x:1;http=y:2", std::pair{"y", 2}},     // only http:// addresses qualify
      {L"http=socks://x:1;https=http://z:3", std::pair{"z", 3}},
      {L"HTTP=Up:80", std::pair{"Up", 80}},
      {L"ftp=a:21; https=b:8443 ", std::pair{"b", 8443}},     // blanks around entries
      {L";;h:1", std::pair{"h", 1}},                          // empty entries name nothing
      {L"h:notaport", std::pair{"h", 8080}},
      {L"", std::nullopt},
      {L"ftp=a:21;socks=b:1", std::nullopt},
      {L"http=", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.list));
    const std::optional<ProxySettings> chosen = proxy_from_ie_list(c.list);
    ASSERT_EQ(chosen.has_value(), c.proxy.has_value());
    if (!chosen) continue;
    EXPECT_EQ(chosen->type, 2);
    EXPECT_EQ(chosen->name, c.proxy->first);
    EXPECT_EQ(chosen->port, c.proxy->second);
    EXPECT_EQ(chosen->authorization, 0);
    EXPECT_EQ(chosen->user_name, "");
    EXPECT_EQ(chosen->fallback, 1);
  }
}

TEST(ProxyRules, NamesForTheLogAndWinHttp) {
  ProxySettings s;
  s.name = "host";
  s.port = 81;
  const struct {
    std::int32_t type;
    const char* log_text;
    const wchar_t* server;
  } cases[] = {
      {1, "Preconfig (use IE settings)", L"://host:81"},
      {2, "HTTP proxy (rfc2616,2617)", L"http://host:81"},
      {3, "SOCKS proxy (rfc1928,1929)", L"://host:81"},
      {4, "no proxy", L"://host:81"},
      {5, "no proxy", L"https://host:81"},
      {9, "no proxy", L"://host:81"},
  };
  for (const auto& c : cases) {
    s.type = c.type;
    EXPECT_STREQ(proxy_type_text(c.type), c.log_text);
    EXPECT_EQ(proxy_server_name(s), c.server);
  }
  EXPECT_STREQ(proxy_authorization_text(0), "no authentication");
  EXPECT_STREQ(proxy_authorization_text(1), "basic");
  EXPECT_STREQ(proxy_authorization_text(2), "NTLM");
  EXPECT_STREQ(proxy_authorization_text(3), "no authentication");
}

}  // namespace
}  // namespace vyn::http
