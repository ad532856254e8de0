#pragma once
// Whole-file reads and writes under file locks, file facts, folder enumeration and the module's
// own path. Every failure raises vyn::exceptions::error with the system error code.

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vyn::files {

enum class lock_kind { shared, exclusive };

// Holds a lock over the whole of an open file (waiting for it) and releases it on destruction.
// Raises "couldn't obtain shared file lock" / "couldn't obtain exclusive file lock".
class file_lock {
 public:
  file_lock(HANDLE file, lock_kind kind);
  ~file_lock();
  file_lock(const file_lock&) = delete;
  file_lock& operator=(const file_lock&) = delete;

 private:
  HANDLE file_;
  OVERLAPPED region_{};
};

// The whole file, read under a shared lock. Failures: "couldn't open file",
// "get_file_content: GetFileSizeEx", "get_file_content: ReadFile", and "get_file_content '{}'"
// when the file is too large for memory or ends before its size was read.
std::vector<std::uint8_t> get_file_content(std::wstring_view path);

// Creates the file (a new one, or replacing an existing one when overwrite is set), shared for
// reading and deleting, and writes the bytes under an exclusive lock. Failures:
// "set_file_content '{}'" (create) and "set_file_content" (write); a file that could not be
// written completely is deleted again.
void set_file_content(std::wstring_view path, std::span<const std::uint8_t> bytes, bool overwrite);

// Writes the bytes from the start of an open file and ends the file there.
// Failure: "set_file_content".
void write_file_content(HANDLE file, std::span<const std::uint8_t> bytes);

bool file_exists(std::wstring_view path);       // an existing file, not a folder
bool directory_exists(std::wstring_view path);  // an existing folder
bool path_exists(std::wstring_view path);       // a file or a folder
// Deleting a file that does not exist succeeds. Failure: "Unable to delete file '{}'!".
void delete_file(std::wstring_view path);

// Failure: "Unable to get size of file '{}'!".
std::uint64_t file_size(std::wstring_view path);
// In 100-nanosecond units since 1601 (FILETIME). Failure: "Failed to get file write time '{}'".
std::uint64_t file_write_time(std::wstring_view path);

struct directory_entry {
  std::wstring name;  // without the folder
  bool is_directory = false;
  std::uint64_t size = 0;
  std::uint64_t write_time = 0;  // FILETIME units
};
// Calls visit for each entry of the folder except "." and ".."; visit returns false to stop.
// Failure: "Unable to enumerate directory '{}'!".
void enumerate_directory(std::wstring_view path,
                         const std::function<bool(const directory_entry&)>& visit);

// Waits between two tries of copy_file; receives the milliseconds to wait.
using retry_pause = std::function<void(std::uint32_t milliseconds)>;

// Copies the file to destination, replacing an existing file there (made writable first when it
// is read-only). Tries up to 3 times, 200 ms apart (pause, when given, waits instead), because a
// scanner or indexer may hold either file for a moment. Failure: "Unable to copy file '{}'!"
// (the source) with the last try's system error code.
void copy_file(std::wstring_view source, std::wstring_view destination, const retry_pause& pause = {});

// Bytes available to the caller on the volume holding the path.
// Failure: "Unable to get free disk space of '{}'!".
std::uint64_t free_disk_space(std::wstring_view path);

// Full path of the module (the running image when null).
// Failure: "Unable to retrieve the path of the module!".
std::wstring module_path(HMODULE module = nullptr);

// The text with environment variables expanded; unknown variables stay as they are.
// Failure: "String environment expansion failed".
std::wstring expand_environment(std::wstring_view text);

// A string of the version resource of a file, through the system's version API: the first
// language and code page of "\VarFileInfo\Translation", then "\StringFileInfo\%04x%04x\<name>".
// Failures name the call: "GetFileVersionInfoSizeW '{}'", "GetFileVersionInfoW '{}'",
// "VerQueryValueW '{}'".
std::wstring file_version_string(std::wstring_view path, std::wstring_view name);
// The four numbers of the fixed file version (major, minor, build, revision).
std::array<std::uint16_t, 4> file_version_numbers(std::wstring_view path);

}  // namespace vyn::files
