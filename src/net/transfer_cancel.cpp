#include "net/transfer_cancel.h"

#include <chrono>

namespace vyn::http {

void transfer_cancel::refuse_retries() noexcept {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    retries_refused_ = true;
  }
  changed_.notify_all();
}

void transfer_cancel::cancel() noexcept {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    retries_refused_ = true;
    cancelled_ = true;
    // The transferring thread lets go of these owners in forget(), under the same lock, so each
    // handle is closed exactly once.
    if (watching_ && !closed_) {
      for (const HINTERNET handle : watched_) {
        if (handle) ::WinHttpCloseHandle(handle);
      }
      closed_ = true;
    }
  }
  changed_.notify_all();
}

bool transfer_cancel::cancelled() const noexcept {
  const std::lock_guard<std::mutex> guard(lock_);
  return cancelled_;
}

void transfer_cancel::admit(bool first_attempt) const {
  const std::lock_guard<std::mutex> guard(lock_);
  if (cancelled_ || (retries_refused_ && !first_attempt)) throw transfer_cancelled();
}

void transfer_cancel::pause(std::uint32_t ms) const {
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return retries_refused_; });
}

void transfer_cancel::watch(const attempt_handles& handles) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (cancelled_) throw transfer_cancelled();
  watched_ = {handles.request.get(), handles.connection.get(), handles.session.get()};
  watching_ = true;
  closed_ = false;
}

void transfer_cancel::forget(attempt_handles& handles) noexcept {
  const std::lock_guard<std::mutex> guard(lock_);
  if (!watching_) return;
  if (closed_) {
    // Closed by cancel(): only the values are dropped.
    (void)handles.request.release();
    (void)handles.connection.release();
    (void)handles.session.release();
  }
  watching_ = false;
  closed_ = false;
  watched_ = {};
}

}  // namespace vyn::http
