#pragma once
// The records every HTTP transfer takes and returns, and the text form of a URL for log lines.

#include <cstdint>
#include <string>

namespace vyn::http {

// A URL cut into its parts (crack_url); all text UTF-8.
struct url_parts {
  std::string scheme;      // as written: "http", "https", ...
  std::string host;
  std::uint16_t port = 0;  // 0: the scheme's default port
  std::string path;        // normally beginning with "/"; empty when the URL has none
  std::string query;       // after "?" up to the first "#", without either
};

// What one transfer call ends with.
struct http_result {
  std::int32_t status = 0;       // HTTP status of the last response; 0 when none was received
  std::uint8_t retries = 0;      // failed attempts that counted against the limit
  std::uint32_t downloaded = 0;  // body bytes now in the sink, resumed ones included
  std::uint32_t expected = 0;    // the body size announced by Content-Length; 0 until known
  std::int32_t error = 0;        // system error code of the last failure; 0 when none
};

// "http://" or "https://" (any scheme but "https" is shown as "http"), the host, ":port" unless
// the port is 0, "/" when the path does not begin with one, the path, and "?query" unless empty.
std::string display_url(const url_parts& url);

}  // namespace vyn::http
