#pragma once
// Owners of WinHTTP handles, and the three handles of one transfer attempt.

#include <windows.h>
#include <winhttp.h>

#include "foundation/handle.h"

namespace vyn::http {

struct hinternet_traits {
  using type = HINTERNET;
  static type empty() noexcept { return nullptr; }
  static bool valid(type h) noexcept { return h != nullptr; }
  static void close(type h) noexcept { ::WinHttpCloseHandle(h); }
};

using unique_hinternet = win::scoped<hinternet_traits>;

// The handles of one attempt, closed request first, then connection, then session. Closing the
// request from another thread makes a call blocked in it return with an error, which is how a
// transfer in flight can be abandoned.
struct attempt_handles {
  unique_hinternet session;
  unique_hinternet connection;
  unique_hinternet request;
};

}  // namespace vyn::http
