#pragma once
// One attempt of a transfer over WinHTTP: session, connection, request, options, the Range header
// of a resumed GET, the proxy, sending, the status, and the body into the sink.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "net/retry_policy.h"
#include "net/sfx_proxy_parser.h"
#include "net/sfx_win_http.h"
#include "net/transfer_options.h"
#include "net/winhttp_handles.h"

namespace vyn::http {

// Where a GET puts the body: a vector or an open file (neither for a POST).
struct http_sink {
  std::vector<std::uint8_t>* memory = nullptr;
  HANDLE file = INVALID_HANDLE_VALUE;
  // Where the body's first byte lies in the sink: the sink's position when a call without resume
  // started, and 0 for a resumed call or once the sink was emptied.
  std::uint64_t body_start = 0;
  // True once an attempt without resume wrote into the sink; the next one then starts again at
  // body_start, so that a retried body never lands behind the remains of a failed one.
  bool written = false;

  bool empty() const noexcept { return memory == nullptr && file == INVALID_HANDLE_VALUE; }
};

struct attempt_setup {
  const std::optional<ProxySettings>* proxy = nullptr;
  const sfx::sfx_win_http_intf::progress_callback* progress = nullptr;
  system_version version;
};

// Runs one attempt into handles (which the caller owns, so that they can be closed from outside);
// a function of the form attempt_function expects, with the sink and setup bound.
void run_attempt(const attempt_setup& setup, http_sink& sink, attempt_handles& handles, http_request& request,
                 http_result& result, std::uint32_t& moved);

}  // namespace vyn::http
