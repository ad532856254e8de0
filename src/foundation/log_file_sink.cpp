#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/log_file.h"
#include "foundation/strings.h"

namespace vyn::log::detail {
namespace {

std::wstring full_path(const std::wstring& path) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) {
      throw exceptions::error(::GetLastError(),
                              fmt::format("Failed to open log file '{}'", utils::to_log(path)));
    }
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(length);  // the size needed, terminating NUL included
  }
}

// Zero when the size cannot be read: the write that follows then reports the failure.
std::uint64_t size_of(HANDLE file) {
  LARGE_INTEGER size{};
  return ::GetFileSizeEx(file, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

// The locked byte lies far beyond the end of any log, so it never blocks a write.
constexpr DWORD lock_offset_low = 0xFFFFFFFEu;
constexpr DWORD lock_offset_high = 0x7FFFFFFFu;

}  // namespace

file_lock::file_lock(HANDLE file) noexcept : file_(file) {
  OVERLAPPED at{};
  at.Offset = lock_offset_low;
  at.OffsetHigh = lock_offset_high;
  locked_ = ::LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != FALSE;
}

file_lock::~file_lock() {
  if (!locked_) return;
  OVERLAPPED at{};
  at.Offset = lock_offset_low;
  at.OffsetHigh = lock_offset_high;
  ::UnlockFileEx(file_, 0, 1, 0, &at);
}

file_sink::file_sink(const std::wstring& path, std::uint64_t max_size)
    : path_(full_path(path)),
      max_size_(max_size),
      rotates_(is_log_name(path_)),
      handle_(std::make_shared<win::unique_handle>(open_log_file(path_, false))) {}

void file_sink::write(std::string_view bytes, bool flush) {
  shared_handle file = current();
  if (rotates_ && size_of(file->get()) >= max_size_) file = rotate_if_full();
  DWORD written = 0;
  DWORD failure = ERROR_SUCCESS;
  {
    const file_lock exclusive(file->get());
    if (!::WriteFile(file->get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
      failure = ::GetLastError();
    } else if (written != bytes.size()) {
      failure = ERROR_WRITE_FAULT;
    }
  }
  if (failure != ERROR_SUCCESS) {
    throw exceptions::error(failure,
                            fmt::format("Failed to write log file '{}'", utils::to_log(path_)));
  }
  if (flush) ::FlushFileBuffers(file->get());
}

file_sink::shared_handle file_sink::current() const {
  std::lock_guard guard(lock_);
  return handle_;
}

// Another thread may have rotated while this one waited for the lock, and another process may
// have rotated the file away under this handle; in both cases the fresh file is used.
file_sink::shared_handle file_sink::rotate_if_full() {
  std::lock_guard guard(lock_);
  {
    const file_lock exclusive(handle_->get());
    if (size_of(handle_->get()) < max_size_) return handle_;
    rotate_log_file(handle_->get());
  }
  try {
    handle_ = std::make_shared<win::unique_handle>(open_log_file(path_, true));
  } catch (const std::exception& e) {
    // Lines keep going to the full file rather than being lost.
    debugger_output(render_exception(e) + "\n");
  }
  return handle_;
}

}  // namespace vyn::log::detail
