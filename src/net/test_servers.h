#pragma once
// What the network tests know about the servers that tests/net/servers started for them: their
// ports (from servers.env in the build folder's "net-servers"), the URLs of scripted answers,
// the requests the fault server recorded and the proxies' logs.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/http_types.h"

namespace vyn::http::testing {

class test_servers {
 public:
  // Reads servers.env; raises std::runtime_error naming the command to run when it is missing.
  test_servers();

  std::uint16_t port(const std::string& name) const;  // e.g. "NGINX_HTTPS_PORT"
  const std::string& value(const std::string& name) const;
  // A Linux path of the state folder as the Windows side sees it ("Z:\...").
  std::wstring windows_path(const std::string& relative) const;

  // The fault server's answer for id, scripted by plan (see tests/net/fault_server.py).
  url_parts scripted(const char* scheme, const std::string& port_name, const std::string& id,
                     std::uint32_t size, const std::string& plan) const;
  // An object of nginx's folder ("small.txt", "big-50m.bin") with a query that names the test.
  url_parts served(const char* scheme, const std::string& port_name, const std::string& object,
                   const std::string& id) const;

  // The fault server's record of id: one "<method> <scheme> <path> <range or ->" per request.
  std::vector<std::string> requests(const std::string& id) const;
  // The lines of a log file of the state folder that contain needle. Servers write their log
  // line after the answer, so this waits (up to 3 s) until at least `at_least` lines are there.
  std::vector<std::string> log_lines(const std::string& relative, const std::string& needle,
                                     std::size_t at_least = 1) const;
  std::string read(const std::string& relative) const;

 private:
  std::map<std::string, std::string> values_;
  std::string state_;
};

// The fault server's body bytes [start, end).
std::vector<std::uint8_t> scripted_body(std::uint32_t start, std::uint32_t end);

// A name no other test of this run uses.
std::string unique_id(const std::string& stem);

// ASCII text as UTF-16 with its byte-order mark.
std::vector<std::uint8_t> utf16(std::string_view text, bool big_endian);

// The user's Internet Explorer connection settings naming a proxy list, replaced for the test and
// restored after.
class scoped_ie_connection_settings {
 public:
  explicit scoped_ie_connection_settings(const std::string& proxy_list);
  ~scoped_ie_connection_settings();
  scoped_ie_connection_settings(const scoped_ie_connection_settings&) = delete;
  scoped_ie_connection_settings& operator=(const scoped_ie_connection_settings&) = delete;

 private:
  void* key_ = nullptr;  // HKEY
  std::optional<std::vector<std::uint8_t>> saved_;
};

}  // namespace vyn::http::testing
