#include "net/sfx_proxy_parser.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/strings.h"
#include "net/proxy_rules.h"
#include "net/test_servers.h"
#include "payload/testing/test_support.h"

namespace vyn::sfx {
namespace {

using sfx::testing::log_capture;
using sfx::testing::temp_folder;

std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

ie_proxy_config ie_list(const wchar_t* list) { return {true, 0, std::wstring(list)}; }

class ProxyParser : public ::testing::Test {
 protected:
  std::wstring write(std::span<const std::uint8_t> bytes) {
    const std::wstring path = (folder_ / L"proxy.ini").wstring();
    files::set_file_content(path, bytes, true);
    return path;
  }
  std::wstring command_for(const std::wstring& path) { return L"\"C:\\dl\\stub.exe\" /silent /proxy_ini:\"" + path + L"\""; }

  sfx_proxy_parser parse(std::string_view ini, sfx_proxy_parser::ie_reader read_ie = unused_ie) {
    return sfx_proxy_parser(command_for(write(bytes_of(ini))), std::move(read_ie));
  }

  static ie_proxy_config unused_ie() {
    ADD_FAILURE() << "the Internet Explorer settings were read";
    return {};
  }

  temp_folder folder_;
  log_capture log_;
};

constexpr std::string_view basic_proxy =
    "[ProxySettings]\r\nProxyType=2\r\nAuthorization=1\r\nPort=3128\r\nProxyName=proxy.example\r\n"
    "UserName=agent-smith\r\nUserPass=c2VjcmV0LXdvcmQ=\r\nFallback=0\r\n";

TEST_F(ProxyParser, NoUsableOption_HoldsNothing) {
  const std::wstring folder = folder_.path().wstring();
  for (const std::wstring& command : {std::wstring(L"stub.exe"), std::wstring(L"stub.exe /proxy_ini:"),
                                      L"stub.exe /proxy_ini:\"" + folder + L"\\missing.ini\"",
                                      L"stub.exe /proxy_ini:\"" + folder + L"\""}) {
    SCOPED_TRACE(utils::to_log(command));
    const sfx_proxy_parser parser(command, unused_ie);
    EXPECT_FALSE(parser.is_configured());
    EXPECT_FALSE(parser.settings_copy());
    EXPECT_THROW(parser.settings(), std::bad_optional_access);
  }
  EXPECT_EQ(log_.count("Loading Proxy settings:"), 0);
}

TEST_F(ProxyParser, EveryEncoding_LoadsTheSettingsAndLogsThemWithoutCredentials) {
  const std::vector<std::uint8_t> files[] = {
      bytes_of(basic_proxy),
      bytes_of("\xEF\xBB\xBF" + std::string(basic_proxy)),
      http::testing::utf16(basic_proxy, false),
      http::testing::utf16(basic_proxy, true),
  };
  for (const auto& bytes : files) {
    const sfx_proxy_parser parser(command_for(write(bytes)), unused_ie);
    ASSERT_TRUE(parser.is_configured());
    const http::ProxySettings& s = parser.settings();
    EXPECT_EQ(s.type, 2);
    EXPECT_EQ(s.authorization, 1);
    EXPECT_EQ(s.port, 3128);
    EXPECT_EQ(s.name, "proxy.example");
    EXPECT_EQ(s.user_name, "agent-smith");
    EXPECT_EQ(s.password, "secret-word");
    EXPECT_EQ(s.fallback, 0);
    EXPECT_EQ(parser.settings_copy()->password, "secret-word");
  }
  const std::string text = log_.text();
  EXPECT_EQ(log_.count("Loading Proxy settings:"), 4);
  EXPECT_EQ(log_.count("Proxy-Type: 'HTTP proxy (rfc2616,2617)'"), 4);
  EXPECT_EQ(log_.count("Proxy-Authorization: 'basic'"), 4);
  EXPECT_EQ(log_.count("Proxy-Port: '3128'"), 4);
  EXPECT_EQ(log_.count("Proxy-Name: 'proxy.example'"), 4);
  EXPECT_EQ(text.find("agent-smith"), std::string::npos);
  EXPECT_EQ(text.find("secret-word"), std::string::npos);
  EXPECT_EQ(text.find("c2VjcmV0LXdvcmQ="), std::string::npos);
}

TEST_F(ProxyParser, FilesWithoutAProxy_AreHeldButNotConfigured) {
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"type 0", "[ProxySettings]\nProxyType=0\nProxyName=p\n"},
      {"no section", "ProxyType=2\n"},
      {"not UTF-8: every key at its default", "[ProxySettings]\nProxyType=2\nProxyName=\xC3\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const sfx_proxy_parser parser = parse(c.text);
    EXPECT_FALSE(parser.is_configured());
    ASSERT_TRUE(parser.settings_copy());
    EXPECT_EQ(parser.settings().type, 0);
    EXPECT_EQ(parser.settings().port, 8080);
  }
  EXPECT_EQ(log_.count("Proxy-Type: 'no proxy'"), 3);
}

TEST_F(ProxyParser, SocksProxy_IsHeldAndLoggedAsNoProxy) {
  const sfx_proxy_parser parser = parse("[ProxySettings]\nProxyType=4\nProxyName=s\nPort=1080\n");
  EXPECT_TRUE(parser.is_configured());
  EXPECT_EQ(parser.settings().type, 4);
  EXPECT_EQ(log_.count("Proxy-Type: 'no proxy'"), 1);
  EXPECT_EQ(log_.count("Proxy-Authorization: 'no authentication'"), 1);
}

TEST_F(ProxyParser, SystemSettingsNamingAProxy_ReplaceTheWholeRecord) {
  const sfx_proxy_parser parser =
      parse("[ProxySettings]\nProxyType=1\nAuthorization=2\nUserName=u\nUserPass=cGFzcw==\nFallback=0\nPort=1\n",
            [] { return ie_list(L"ftp=a:21;https=b:8443"); });
  ASSERT_TRUE(parser.is_configured());
  const http::ProxySettings& s = parser.settings();
  EXPECT_EQ(s.type, 2);
  EXPECT_EQ(s.name, "b");
  EXPECT_EQ(s.port, 8443);
  EXPECT_EQ(s.authorization, 0);
  EXPECT_EQ(s.user_name, "");
  EXPECT_EQ(s.password, "");
  EXPECT_EQ(s.fallback, 1);
  EXPECT_EQ(log_.count("Detection of IE proxy settings."), 1);
  EXPECT_EQ(log_.count("The IE proxy settings contains servers: 'ftp=a:21;https=b:8443'."), 1);
  EXPECT_EQ(log_.count("Proxy-Type: 'HTTP proxy (rfc2616,2617)'"), 1);
}

TEST_F(ProxyParser, SystemSettingsWithoutAUsableProxy_HoldNothing) {
  const struct {
    const char* name;
    sfx_proxy_parser::ie_reader read_ie;
    const char* line;
  } cases[] = {
      {"unreadable", [] { return ie_proxy_config{false, 5, std::nullopt}; }, "Get IE proxy settings failed with error '5'."},
      {"no proxy", [] { return ie_proxy_config{true, 0, std::nullopt}; }, "IE proxy settings is not set."},
      {"empty list", [] { return ie_list(L""); }, "No proxy server name is defined."},
      {"only socks", [] { return ie_list(L"socks=s:1080"); }, "The IE proxy settings contains servers: 'socks=s:1080'."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const sfx_proxy_parser parser = parse("[ProxySettings]\nProxyType=1\n", c.read_ie);
    EXPECT_FALSE(parser.is_configured());
    EXPECT_FALSE(parser.settings_copy());
    EXPECT_EQ(log_.count(c.line), 1);
  }
  EXPECT_EQ(log_.count("Detection of IE proxy settings failed, use direct connection."), 4);
  EXPECT_EQ(log_.count("Loading Proxy settings:"), 0);
}

TEST_F(ProxyParser, WrittenProxyIni_HasTheExactBytesAndReadsBackTheSame) {
  http::ProxySettings s;
  s.type = 2;
  s.authorization = 1;
  s.port = 3128;
  s.name = "p.example";
  s.user_name = "u";
  s.password = "pw";
  s.fallback = 1;
  const std::wstring path = (folder_ / L"written.ini").wstring();
  files::set_file_content(path, std::vector<std::uint8_t>(1000, 'x'), true);  // replaced whole
  write_proxy_ini(s, path);
  EXPECT_EQ(files::get_file_content(path),
            http::testing::utf16("\r\n[ProxySettings]\r\nAuthorization=1\r\nFallback=1\r\nPort=3128\r\nProxyName=p.example\r\n"
                  "ProxyType=2\r\nUserName=u\r\nUserPass=cHc=\r\n",
                  false));
  const sfx_proxy_parser back(command_for(path), unused_ie);
  const http::ProxySettings& r = back.settings();
  EXPECT_EQ(std::tie(r.type, r.authorization, r.port, r.name, r.user_name, r.password, r.fallback),
            std::tie(s.type, s.authorization, s.port, s.name, s.user_name, s.password, s.fallback));

  EXPECT_THROW(write_proxy_ini(s, (folder_ / L"no folder" / L"proxy.ini").wstring()), vyn::exceptions::error);
}

TEST_F(ProxyParser, SystemSettingsInTheRegistry_AreReadThroughWinHttp) {
  const std::wstring path = write(bytes_of("[ProxySettings]\nProxyType=1\n"));
  std::optional<sfx_proxy_parser> parser;
  {
    const http::testing::scoped_ie_connection_settings ie("http=127.0.0.2:3129;ftp=127.0.0.2:21");
    EXPECT_EQ(*sfx_proxy_parser::read_ie_settings().proxy, L"http=127.0.0.2:3129;ftp=127.0.0.2:21");
    parser.emplace(command_for(path));
  }
  ASSERT_TRUE(parser->is_configured());
  EXPECT_EQ(parser->settings().name, "127.0.0.2");
  EXPECT_EQ(parser->settings().port, 3129);
}

}  // namespace
}  // namespace vyn::sfx
