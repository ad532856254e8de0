#include "foundation/files.h"

#include <algorithm>

#include <fmt/format.h>
#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/handle.h"
#include "foundation/log.h"
#include "foundation/strings.h"

namespace vyn::files {
namespace {

// Large transfers go in pieces: ReadFile and WriteFile count in 32 bits.
constexpr DWORD io_chunk = 0x40000000;

// Logs what failed, on which path, and raises it. The path is only logged when the message does
// not name it already.
[[noreturn]] void fail(DWORD code, std::string message, std::wstring_view path = {}) {
  if (path.empty()) {
    VYN_LOG_ERROR("{}, error {}", message, code);
  } else {
    VYN_LOG_ERROR("{} ('{}'), error {}", message, utils::to_log(path), code);
  }
  throw exceptions::error(code, std::move(message));
}

std::string quoted(const char* text, std::wstring_view path) {
  return fmt::format(fmt::runtime(text), utils::to_log(path));
}

std::uint64_t to_u64(FILETIME time) {
  return std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

DWORD attributes_of(std::wstring_view path) {
  const std::wstring name(path);
  return ::GetFileAttributesW(name.c_str());
}

WIN32_FILE_ATTRIBUTE_DATA attribute_data(std::wstring_view path, const char* message) {
  const std::wstring name(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) {
    fail(::GetLastError(), quoted(message, path));
  }
  return data;
}

void write_all(HANDLE file, std::span<const std::uint8_t> bytes, std::wstring_view path = {}) {
  while (!bytes.empty()) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), io_chunk));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), piece, &written, nullptr)) {
      fail(::GetLastError(), "set_file_content", path);
    }
    if (written == 0) fail(ERROR_WRITE_FAULT, "set_file_content", path);
    bytes = bytes.subspan(written);
  }
}

}  // namespace

file_lock::file_lock(HANDLE file, lock_kind kind) : file_(file) {
  const DWORD flags = kind == lock_kind::exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (!::LockFileEx(file_, flags, 0, MAXDWORD, MAXDWORD, &region_)) {
    fail(::GetLastError(), kind == lock_kind::exclusive ? "couldn't obtain exclusive file lock"
                                                        : "couldn't obtain shared file lock");
  }
}

file_lock::~file_lock() { ::UnlockFileEx(file_, 0, MAXDWORD, MAXDWORD, &region_); }

std::vector<std::uint8_t> get_file_content(std::wstring_view path) {
  const std::wstring name(path);
  win::unique_handle file(::CreateFileW(name.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD code = ::GetLastError();
    VYN_LOG_ERROR("Unable to open '{}' for reading, error {}", utils::to_log(path), code);
    throw exceptions::error(code, "couldn't open file");
  }
  const file_lock lock(file.get(), lock_kind::shared);
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) {
    fail(::GetLastError(), "get_file_content: GetFileSizeEx", path);
  }
  const auto total = static_cast<std::uint64_t>(size.QuadPart);
  if (total > SIZE_MAX / 2) fail(ERROR_FILE_TOO_LARGE, quoted("get_file_content '{}'", path));

  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(total));
  for (std::size_t done = 0; done < bytes.size();) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, io_chunk));
    DWORD read = 0;
    if (!::ReadFile(file.get(), bytes.data() + done, piece, &read, nullptr)) {
      fail(::GetLastError(), "get_file_content: ReadFile", path);
    }
    if (read == 0) fail(ERROR_HANDLE_EOF, quoted("get_file_content '{}'", path));
    done += read;
  }
  return bytes;
}

void set_file_content(std::wstring_view path, std::span<const std::uint8_t> bytes, bool overwrite) {
  const std::wstring name(path);
  win::unique_handle file(::CreateFileW(name.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        overwrite ? CREATE_ALWAYS : CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) fail(::GetLastError(), quoted("set_file_content '{}'", path));
  try {
    const file_lock lock(file.get(), lock_kind::exclusive);
    write_all(file.get(), bytes, path);
  } catch (...) {
    file.reset();
    ::DeleteFileW(name.c_str());  // never leave a partial file behind
    throw;
  }
}

void write_file_content(HANDLE file, std::span<const std::uint8_t> bytes) {
  LARGE_INTEGER start{};
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) fail(::GetLastError(), "set_file_content");
  write_all(file, bytes);
  if (!::SetEndOfFile(file)) fail(::GetLastError(), "set_file_content");
}

bool file_exists(std::wstring_view path) {
  const DWORD attributes = attributes_of(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool directory_exists(std::wstring_view path) {
  const DWORD attributes = attributes_of(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool path_exists(std::wstring_view path) { return attributes_of(path) != INVALID_FILE_ATTRIBUTES; }

void delete_file(std::wstring_view path) {
  const std::wstring name(path);
  if (::DeleteFileW(name.c_str())) return;
  const DWORD code = ::GetLastError();
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return;
  fail(code, quoted("Unable to delete file '{}'!", path));
}

std::uint64_t file_size(std::wstring_view path) {
  const auto data = attribute_data(path, "Unable to get size of file '{}'!");
  return std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
}

std::uint64_t file_write_time(std::wstring_view path) {
  return to_u64(attribute_data(path, "Failed to get file write time '{}'").ftLastWriteTime);
}

void enumerate_directory(std::wstring_view path,
                         const std::function<bool(const directory_entry&)>& visit) {
  std::wstring pattern(path);
  if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found{};
  win::unique_find search(::FindFirstFileW(pattern.c_str(), &found));
  if (!search) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return;  // a drive root without entries
    fail(code, quoted("Unable to enumerate directory '{}'!", path));
  }
  do {
    const std::wstring_view name(found.cFileName);
    if (name == L"." || name == L"..") continue;
    directory_entry entry;
    entry.name = name;
    entry.is_directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.size = std::uint64_t{found.nFileSizeHigh} << 32 | found.nFileSizeLow;
    entry.write_time = to_u64(found.ftLastWriteTime);
    if (!visit(entry)) return;
  } while (::FindNextFileW(search.get(), &found));
  const DWORD code = ::GetLastError();
  if (code != ERROR_NO_MORE_FILES) fail(code, quoted("Unable to enumerate directory '{}'!", path));
}

void copy_file(std::wstring_view source, std::wstring_view destination, const retry_pause& pause) {
  constexpr int tries = 3;
  constexpr std::uint32_t pause_ms = 200;
  const std::wstring from(source);
  const std::wstring to(destination);
  DWORD code = ERROR_SUCCESS;
  for (int attempt = 1; attempt <= tries; ++attempt) {
    const DWORD attributes = ::GetFileAttributesW(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      ::SetFileAttributesW(to.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    }
    if (::CopyFileW(from.c_str(), to.c_str(), FALSE)) return;
    code = ::GetLastError();
    if (attempt == tries) break;
    if (pause) {
      pause(pause_ms);
    } else {
      ::Sleep(pause_ms);
    }
  }
  fail(code, quoted("Unable to copy file '{}'!", source), destination);
}

std::uint64_t free_disk_space(std::wstring_view path) {
  const std::wstring name(path);
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(name.c_str(), &available, nullptr, nullptr)) {
    fail(::GetLastError(), quoted("Unable to get free disk space of '{}'!", path));
  }
  return available.QuadPart;
}

std::wstring module_path(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) fail(::GetLastError(), "Unable to retrieve the path of the module!");
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 0x8000) fail(ERROR_INSUFFICIENT_BUFFER, "Unable to retrieve the path of the module!");
    path.resize(path.size() * 2);  // truncated: the path is longer than the buffer
  }
}

std::wstring expand_environment(std::wstring_view text) {
  const std::wstring source(text);
  std::wstring expanded(source.size() + 64, L'\0');
  for (;;) {
    const DWORD needed = ::ExpandEnvironmentStringsW(source.c_str(), expanded.data(),
                                                     static_cast<DWORD>(expanded.size()));
    if (needed == 0) fail(::GetLastError(), "String environment expansion failed");
    if (needed <= expanded.size()) {
      expanded.resize(needed - 1);
      return expanded;
    }
    expanded.assign(needed, L'\0');
  }
}

}  // namespace vyn::files
