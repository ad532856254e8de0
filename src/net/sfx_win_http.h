#pragma once
// The installer's only HTTP client: one GET into an open file, one GET into memory, or one POST,
// over WinHTTP, with the installer's retry policy (retry_policy.h), resume by Range header, the
// fall back from HTTPS to HTTP, the proxy settings and a progress callback.
//
//   auto http = factory.create_sfx_win_http(proxy->settings_copy());
//   const http::http_result r = http->get_to_memory(http::crack_url(url), &bytes, true,
//                                                  15000, 15000, 15000, 30000);
//
// Each user creates its own transport for one transfer; an object is used by one thread at a
// time. Every attempt opens and closes its own session, connection and request.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/http_types.h"
#include "net/retry_policy.h"
#include "net/sfx_proxy_parser.h"

namespace vyn::http {

struct http_sink;

// Cracks the URL with WinHTTP. Raises vyn::exceptions::error code 87 "Unable to crack the URL
// '{}' into components!" (with " Scheme is missing." or " Hostname is missing." when those are).
// Port 80 of "http" and 443 of "https" become 0; the query ends before the first "#".
url_parts crack_url(const std::wstring& url);

}  // namespace vyn::http

namespace vyn::sfx {

class sfx_win_http_intf {
 public:
  // Called after every chunk written to the sink: the chunk's bytes, the result's downloaded and
  // expected so far.
  using progress_callback = std::function<void(std::uint32_t chunk, std::uint32_t downloaded, std::int64_t expected)>;

  virtual ~sfx_win_http_intf() = default;
  // GET into the open file, written at its current position; with resume, a file that already
  // holds bytes is continued at its end. Time-outs in milliseconds.
  virtual http::http_result get_to_file(const http::url_parts& url, HANDLE file, bool resume, std::uint32_t send,
                                        std::uint32_t receive, std::uint32_t resolve, std::uint32_t connect) = 0;
  // GET appended to the vector; with resume, a vector that already holds bytes is continued.
  virtual http::http_result get_to_memory(const http::url_parts& url, std::vector<std::uint8_t>* memory, bool resume,
                                          std::uint32_t send, std::uint32_t receive, std::uint32_t resolve,
                                          std::uint32_t connect) = 0;
  // POST of the body (not copied; it must live until the call returns); the answer's body is not
  // read. Never falls back to HTTP.
  virtual http::http_result post(const http::url_parts& url, const std::uint8_t* body, std::uint32_t length,
                                 std::uint32_t send, std::uint32_t receive, std::uint32_t resolve,
                                 std::uint32_t connect) = 0;
  virtual void set_progress_callback(progress_callback callback) = 0;
};

// Every call returns normally on success and on a 204 (status 204); it raises
// exceptions::download_file_fail with the system error code once the retry policy gives up, and
// vyn::exceptions::error at once for a proxy that WinHTTP refuses or a resumed file of 4 GiB or more.
class sfx_win_http : public sfx_win_http_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // proxy: the installer's proxy settings, copied; empty when none are configured.
    virtual std::unique_ptr<sfx_win_http_intf> create_sfx_win_http(std::optional<http::ProxySettings> proxy) = 0;
  };

  // sleep waits between attempts (Sleep by default); tests pass one that does not wait.
  explicit sfx_win_http(std::optional<http::ProxySettings> proxy, http::sleep_function sleep = {});

  http::http_result get_to_file(const http::url_parts& url, HANDLE file, bool resume, std::uint32_t send,
                                std::uint32_t receive, std::uint32_t resolve, std::uint32_t connect) override;
  http::http_result get_to_memory(const http::url_parts& url, std::vector<std::uint8_t>* memory, bool resume,
                                  std::uint32_t send, std::uint32_t receive, std::uint32_t resolve,
                                  std::uint32_t connect) override;
  http::http_result post(const http::url_parts& url, const std::uint8_t* body, std::uint32_t length,
                         std::uint32_t send, std::uint32_t receive, std::uint32_t resolve,
                         std::uint32_t connect) override;
  void set_progress_callback(progress_callback callback) override;

 private:
  http::http_result perform(http::http_request& request, http::http_sink& sink);

  std::optional<http::ProxySettings> proxy_;
  progress_callback progress_;
  http::sleep_function sleep_;
};

}  // namespace vyn::sfx
