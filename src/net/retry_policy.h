#pragma once
// How one transfer call repeats its attempts: each failed attempt counts against a limit unless it
// was a resumable GET that moved more than 16384 bytes; after two counted failures an "https"
// transfer that allows it goes on over "http", anything else gives up; after four counted
// failures every transfer gives up. A pause of one second follows each failure that is retried.
// The attempt itself (WinHTTP) and the pause are given by the caller, so the policy is tested
// without a network and without waiting.

#include <cstdint>
#include <functional>
#include <string>

#include "net/http_types.h"

namespace vyn::http {

// One call's request; the policy may switch its scheme from "https" to "http".
struct http_request {
  url_parts url;
  std::wstring method = L"GET";     // L"GET" or L"POST"
  bool resume = true;               // a GET asks for the bytes after those already in its sink
  bool https_fallback = true;       // may go on over "http" after failures over "https"
  bool log_failures_as_error = true;  // level of the per-attempt failure line (else warning)
  std::uint32_t send_timeout = 15000;  // milliseconds
  std::uint32_t receive_timeout = 15000;
  std::uint32_t resolve_timeout = 15000;
  std::uint32_t connect_timeout = 30000;
  const std::uint8_t* body = nullptr;  // POST only; not owned
  std::uint32_t body_length = 0;
};

// Performs one attempt: fills result and adds the body bytes it put into the sink to moved, also
// when it fails. Fails with vyn::sfx::exceptions::download_file_fail (retried),
// download_no_content (a 204: the call returns normally) or any other exception (the call ends).
using attempt_function = std::function<void(http_request& request, http_result& result, std::uint32_t& moved)>;
using sleep_function = std::function<void(std::uint32_t milliseconds)>;

inline constexpr std::uint32_t retry_pause_ms = 1000;
// An attempt of a resumable GET that moved more than this many bytes is not counted as a failure.
inline constexpr std::uint32_t progress_without_penalty = 16384;

// True when a failed attempt that moved the given number of bytes counts against the limit.
bool failure_counts(const http_request& request, std::uint32_t moved) noexcept;

// Runs attempts until one succeeds or the policy gives up, and returns the result; rethrows the
// last download_file_fail when it gives up. The result starts zeroed.
http_result perform_with_retries(http_request& request, const attempt_function& attempt, const sleep_function& sleep);

}  // namespace vyn::http
