#pragma once
// Lets another thread end a transfer early: its later attempts can be refused, and the attempt in
// flight can be cancelled by closing its WinHTTP handles from the cancelling thread.
//
//   auto cancel = std::make_shared<http::transfer_cancel>();
//   sfx::sfx_win_http http(proxy, {}, cancel);   // pauses between attempts end when refused
//   ... on another thread: cancel->refuse_retries(); later cancel->cancel();
//
// On Windows, closing the request handle makes a call blocked in it return at once. Wine lets go
// of a connection only when no call uses it any more, so there a blocked call returns only when
// the server answers or closes, or a time-out ends it; the transfer then ends without trying again.
// A cancelled transfer raises transfer_cancelled, which is not logged as a failed attempt.

#include <windows.h>
#include <winhttp.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "foundation/exceptions.h"
#include "net/winhttp_handles.h"

namespace vyn::http {

// Raised instead of making an attempt that is no longer wanted, and for an attempt that failed
// because it was cancelled. It is not a download_file_fail, so the retry policy passes it on at
// once.
class transfer_cancelled : public vyn::exceptions::error {
 public:
  transfer_cancelled() : error(ERROR_WINHTTP_OPERATION_CANCELLED, "The transfer was cancelled") {}
};

class transfer_cancel {
 public:
  // From now on a transfer makes only its first attempt, and a pause between attempts ends now.
  void refuse_retries() noexcept;
  // Refuses every further attempt and closes the handles of the attempt in flight.
  void cancel() noexcept;
  bool cancelled() const noexcept;

  // The transport's side, on the transferring thread.
  // Raises transfer_cancelled when the attempt may not be made.
  void admit(bool first_attempt) const;
  // Waits ms milliseconds between attempts, less once retries are refused.
  void pause(std::uint32_t ms) const;
  // The attempt's handles are open: cancel() may close them until forget(). Raises
  // transfer_cancelled when the transfer is already cancelled.
  void watch(const attempt_handles& handles);
  // Ends the watch; owners whose handles cancel() closed let go of them without closing them again.
  void forget(attempt_handles& handles) noexcept;

 private:
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  bool retries_refused_ = false;
  bool cancelled_ = false;
  bool watching_ = false;
  bool closed_ = false;                  // cancel() closed the watched handles
  std::array<HINTERNET, 3> watched_{};   // request, connection, session
};

}  // namespace vyn::http
