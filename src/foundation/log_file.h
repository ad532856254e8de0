#pragma once
// The log file on Windows. Several processes (the installer and the setup it starts) append to
// and rotate the same file, so every step works on open handles with full sharing: the file is
// renamed through its handle, and a process keeps appending to whatever file it opened.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "foundation/handle.h"
#include "foundation/log_system.h"

namespace vyn::log::detail {

// Opens the log file at the full path for reading, appending and deletion, sharing read, write
// and delete; creates it with a UTF-8 byte-order mark when it does not exist. A file without the
// mark is rotated away on a first open and refused after a rotation. Raises on failure.
win::unique_handle open_log_file(const std::wstring& path, bool after_rotation);

// Holds an exclusive lock on one byte of the file far beyond any log's end, so that the processes
// sharing a log append and rotate one at a time. Not every system appends atomically for several
// processes, and some rename an open file through a name that another process has changed since.
// Without lock support the lock is simply not held.
class file_lock {
 public:
  explicit file_lock(HANDLE file) noexcept;
  ~file_lock();
  file_lock(const file_lock&) = delete;
  file_lock& operator=(const file_lock&) = delete;

 private:
  HANDLE file_;
  bool locked_;
};

// Only a file whose name ends in ".log" (in any case) is ever rotated.
bool is_log_name(std::wstring_view name) noexcept;

// Moves the file behind the handle to "<name>.old", replacing the previous generation, when its
// name ends in ".log". The caller holds the file's lock. Never raises; a step that fails leaves
// the file where it is or marks it for deletion.
void rotate_log_file(HANDLE file) noexcept;

// Renames the file behind the handle (opened with delete access) to another full path.
bool rename_by_handle(HANDLE file, const std::wstring& target, bool replace) noexcept;

// Marks the file behind the handle (opened with delete access) for deletion once every handle to
// it is closed.
bool delete_on_close(HANDLE file) noexcept;

// The full path of the file behind the handle, in the "\\?\" form; empty when it cannot be read.
std::wstring file_name_of(HANDLE file);

class file_sink final : public file_sink_intf {
 public:
  // Opens the log file at the path, resolved to a full path; raises on failure.
  file_sink(const std::wstring& path, std::uint64_t max_size);

  void write(std::string_view bytes, bool flush) override;
  const std::wstring& path() const noexcept override { return path_; }

 private:
  using shared_handle = std::shared_ptr<win::unique_handle>;

  shared_handle current() const;
  shared_handle rotate_if_full();

  const std::wstring path_;
  const std::uint64_t max_size_;
  const bool rotates_;
  mutable std::mutex lock_;
  shared_handle handle_;  // writers take a counted reference; rotation swaps it
};

}  // namespace vyn::log::detail
