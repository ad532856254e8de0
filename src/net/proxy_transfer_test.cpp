// Transfers through the real forward proxies that tests/net/servers starts on 127.0.0.2: one that
// asks for Basic credentials and one open one, configured the way the installer is: by a
// proxy.ini named on the command line.

#include <windows.h>

#include <gtest/gtest.h>

#include <iostream>

#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "net/base64.h"
#include "net/sfx_proxy_parser.h"
#include "net/sfx_win_http.h"
#include "net/test_servers.h"
#include "payload/testing/test_support.h"

namespace vyn::http {
namespace {

using sfx::exceptions::download_file_fail;
using testing::test_servers;
using testing::unique_id;
using lines = std::vector<std::string>;

std::string fetch_body(std::uint32_t size) {
  const std::vector<std::uint8_t> body = testing::scripted_body(0, size);
  return {body.begin(), body.end()};
}

constexpr std::uint32_t seconds = 1000;

class ProxyTransfers : public ::testing::Test {
 protected:
  // proxy.ini naming a proxy on 127.0.0.2, in the given bytes' encoding.
  std::string ini_text(std::int32_t type, const std::string& port_name, const std::string& user,
                       const std::string& password, std::int32_t authorization = 1) {
    return "[ProxySettings]\r\nProxyType=" + std::to_string(type) + "\r\nAuthorization=" +
           std::to_string(authorization) + "\r\nProxyName=127.0.0.2\r\n" +
           "Port=" + servers_.value(port_name) + "\r\nUserName=" + user + "\r\nUserPass=" +
           utils::base64_encode(password) + "\r\n";
  }

  std::optional<ProxySettings> settings_from(const std::vector<std::uint8_t>& bytes) {
    const std::wstring path = (folder_ / L"proxy.ini").wstring();
    files::set_file_content(path, bytes, true);
    const sfx::sfx_proxy_parser parser(L"stub.exe /proxy_ini:\"" + path + L"\"");
    EXPECT_TRUE(parser.is_configured());
    return parser.settings_copy();
  }

  std::string fetch(const std::optional<ProxySettings>& proxy, const url_parts& url, http_result* result = nullptr) {
    sfx::sfx_win_http http(proxy, [](std::uint32_t) {});
    std::vector<std::uint8_t> memory;
    const http_result r = http.get_to_memory(url, &memory, true, 15 * seconds, 15 * seconds, 15 * seconds, 30 * seconds);
    if (result) *result = r;
    return {memory.begin(), memory.end()};
  }

  std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

  test_servers servers_;
  sfx::testing::temp_folder folder_;
};

TEST_F(ProxyTransfers, ProxyIniInEveryEncoding_SendsHttpThroughTheAuthenticatingProxy) {
  const std::string& user = servers_.value("PROXY_USER");
  const std::string& password = servers_.value("PROXY_PASSWORD");
  const std::string basic = ini_text(2, "PROXY_AUTH_PORT", user, password, 1);
  // Authorization 0 with a user name still sends the credentials, by the basic scheme.
  const std::string unnamed = ini_text(2, "PROXY_AUTH_PORT", user, password, 0);
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
  } files_of[] = {
      {"utf-8", bytes_of(basic)},
      {"utf-8 with mark, authorization 0", bytes_of("\xEF\xBB\xBF" + unnamed)},
      {"utf-16 le", testing::utf16(basic, false)},
      {"utf-16 be, authorization 0", testing::utf16(unnamed, true)},
  };
  for (const auto& f : files_of) {
    SCOPED_TRACE(f.name);
    const std::string id = unique_id("via-auth");
    const url_parts url = servers_.served("http", "NGINX_HTTP_PORT", "small.txt", id);
    EXPECT_EQ(fetch(settings_from(f.bytes), url), "small object\n");
    // The proxy logs each request it takes as it came ("HTTP/1.1") and as it passes it on.
    EXPECT_EQ(servers_.log_lines("proxy-auth.log", "GET http://localhost:" + servers_.value("NGINX_HTTP_PORT") +
                                                        "/small.txt?id=" + id + " HTTP/1.1").size(),
              1u);
    EXPECT_EQ(servers_.log_lines("nginx/access.log", "id=" + id).size(), 1u);
  }
}

TEST_F(ProxyTransfers, Https_GoesThroughTheProxyByConnect) {
  const std::string id = unique_id("via-open");
  const url_parts url = servers_.served("https", "NGINX_HTTPS_PORT", "small.txt", id);
  const std::string tunnel = "CONNECT localhost:" + servers_.value("NGINX_HTTPS_PORT");
  const std::size_t earlier = servers_.log_lines("proxy-open.log", tunnel, 0).size();
  http_result result;
  EXPECT_EQ(fetch(settings_from(bytes_of(ini_text(2, "PROXY_OPEN_PORT", "", ""))), url, &result), "small object\n");
  EXPECT_EQ(result.retries, 0);
  EXPECT_EQ(servers_.log_lines("proxy-open.log", tunnel, earlier + 1).size(), earlier + 1);
  const auto served = servers_.log_lines("nginx/access.log", "id=" + id);
  ASSERT_EQ(served.size(), 1u);
  EXPECT_EQ(served[0].rfind("https GET", 0), 0u);
}

// On Windows the same calls authenticate the tunnel. Wine sends CONNECT without the credentials,
// so the proxy refuses the tunnel twice and the transfer goes on over HTTP, through the proxy and
// with the credentials, on the same port (the fault server speaks both there).
TEST_F(ProxyTransfers, HttpsThroughTheAuthenticatingProxy_ArrivesAtTheOrigin) {
  const std::string id = unique_id("https-auth");
  const url_parts url = servers_.scripted("https", "FAULT_DUAL_PORT", id, 4000, "ok");
  const std::optional<ProxySettings> proxy = settings_from(
      bytes_of(ini_text(2, "PROXY_AUTH_PORT", servers_.value("PROXY_USER"), servers_.value("PROXY_PASSWORD"))));
  const std::string tunnel = "CONNECT localhost:" + servers_.value("FAULT_DUAL_PORT");
  const std::size_t earlier = servers_.log_lines("proxy-auth.log", tunnel, 0).size();
  http_result result;
  EXPECT_EQ(fetch(proxy, url, &result), fetch_body(4000));
  const std::size_t tunnels = servers_.log_lines("proxy-auth.log", tunnel, earlier + 2).size() - earlier;
  const lines requests = servers_.requests(id);
  std::cout << "[ figure   ] HTTPS through the Basic proxy: " << tunnels << " CONNECT request(s), "
            << int(result.retries) << " counted failure(s), the origin saw: " << requests.back() << "\n";
  ASSERT_EQ(requests.size(), 1u);
  if (tunnels == 0) {
    EXPECT_EQ(requests[0], "GET https " + url.path + " -");  // the tunnel was authenticated
  } else {
    EXPECT_EQ(tunnels, 2u);
    EXPECT_EQ(requests[0], "GET http " + url.path + " -");
  }
}

TEST_F(ProxyTransfers, WrongPassword_FailsAfterTheRetryPolicy) {
  const std::string id = unique_id("wrong-password");
  const url_parts url = servers_.served("http", "NGINX_HTTP_PORT", "small.txt", id);
  const std::optional<ProxySettings> proxy =
      settings_from(bytes_of(ini_text(2, "PROXY_AUTH_PORT", servers_.value("PROXY_USER"), "not-the-password")));
  try {
    fetch(proxy, url);
    ADD_FAILURE() << "the proxy let a wrong password through";
  } catch (const download_file_fail& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Receive fail status:'40", 0), 0u) << e.what();  // 401 or 407
  }
  // An http transfer tries twice.
  EXPECT_EQ(servers_.log_lines("proxy-auth.log", "/small.txt?id=" + id + " HTTP/1.1", 2).size(), 2u);
  EXPECT_TRUE(servers_.log_lines("nginx/access.log", "id=" + id, 0).empty());
}

TEST_F(ProxyTransfers, InternetExplorerSettings_SelectTheirProxy) {
  std::optional<ProxySettings> proxy;
  {
    const testing::scoped_ie_connection_settings ie("ftp=127.0.0.2:21;http=127.0.0.2:" + servers_.value("PROXY_OPEN_PORT"));
    proxy = settings_from(bytes_of("[ProxySettings]\r\nProxyType=1\r\n"));
  }
  ASSERT_TRUE(proxy);
  EXPECT_EQ(proxy->type, 2);
  EXPECT_EQ(proxy->name, "127.0.0.2");
  const std::string id = unique_id("via-ie");
  EXPECT_EQ(fetch(proxy, servers_.served("http", "NGINX_HTTP_PORT", "small.txt", id)), "small object\n");
  EXPECT_EQ(servers_.log_lines("proxy-open.log", "/small.txt?id=" + id + " HTTP/1.1").size(), 1u);
}

// WinHTTP has no SOCKS: the session opens without a proxy and the proxy option names the server
// without a scheme. Wine accepts and ignores that option, so the transfer goes out directly;
// Windows may refuse it, which ends the call at once with the general error.
TEST_F(ProxyTransfers, SocksProxy_IsWarnedAboutAndNotUsed) {
  sfx::testing::log_capture log;
  const std::string id = unique_id("socks");
  const std::optional<ProxySettings> proxy = settings_from(bytes_of(ini_text(4, "PROXY_OPEN_PORT", "", "")));
  try {
    EXPECT_EQ(fetch(proxy, servers_.served("http", "NGINX_HTTP_PORT", "small.txt", id)), "small object\n");
    EXPECT_EQ(servers_.log_lines("nginx/access.log", "id=" + id).size(), 1u);
    EXPECT_TRUE(servers_.log_lines("proxy-open.log", "id=" + id, 0).empty());
  } catch (const download_file_fail& e) {
    ADD_FAILURE() << "a refused proxy went through the retry policy: " << e.what();
  } catch (const vyn::exceptions::error& e) {
    EXPECT_STREQ(e.what(), "Unable to set WinHTTP proxy information!");
  }
  EXPECT_GE(log.count("The WinHttp does not support to use the SOCKS protocol for communication with the proxy server!"), 1);
}

}  // namespace
}  // namespace vyn::http
