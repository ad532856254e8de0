#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/log_file.h"
#include "foundation/random.h"
#include "foundation/strings.h"

namespace vyn::log::detail {
namespace {

constexpr unsigned char bom[] = {0xEF, 0xBB, 0xBF};
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Creating the file and rotating it away again can race with other processes; this bounds the
// retries of a path that keeps disappearing.
constexpr int open_attempts = 8;

[[noreturn]] void fail_open(DWORD code, const std::wstring& path) {
  throw exceptions::error(code, fmt::format("Failed to open log file '{}'", utils::to_log(path)));
}

// Creates the folder and its missing parents; a failure shows when the file is created in it.
void create_folders(const std::wstring& folder) {
  if (::CreateDirectoryW(folder.c_str(), nullptr) || ::GetLastError() != ERROR_PATH_NOT_FOUND) {
    return;
  }
  const std::size_t slash = folder.find_last_of(L"\\/");
  if (slash == std::wstring::npos || slash == 0) return;
  create_folders(folder.substr(0, slash));
  ::CreateDirectoryW(folder.c_str(), nullptr);
}

void create_parent_folders(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos && slash > 0) create_folders(path.substr(0, slash));
}

// A new log file appears with its byte-order mark already in place: it is written under a
// temporary name and renamed without replacing, so when several processes create the log at once
// exactly one file wins and every process opens that one.
void create_by_rename(const std::wstring& path) {
  const std::wstring temp = path + L".tmp." + utils::to_wide(utils::random_uuid());
  win::unique_handle file(::CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, share_all, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    throw exceptions::error(::GetLastError(), fmt::format("Failed to create new log file '{}'",
                                                          utils::to_log(temp)));
  }
  DWORD written = 0;
  if (!::WriteFile(file.get(), bom, sizeof(bom), &written, nullptr) || written != sizeof(bom)) {
    const DWORD code = ::GetLastError();
    delete_on_close(file.get());
    throw exceptions::error(code, fmt::format("Failed to create new log file '{}'",
                                              utils::to_log(temp)));
  }
  if (!rename_by_handle(file.get(), path, false)) delete_on_close(file.get());
}

void require_single_link(HANDLE file, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) fail_open(::GetLastError(), path);
  if (info.nNumberOfLinks != 1) fail_open(ERROR_INVALID_HANDLE_STATE, path);
}

bool starts_with_bom(HANDLE file, const std::wstring& path) {
  unsigned char head[sizeof(bom)] = {};
  OVERLAPPED at_start{};
  DWORD read = 0;
  if (!::ReadFile(file, head, sizeof(head), &read, &at_start)) {
    const DWORD code = ::GetLastError();
    if (code != ERROR_HANDLE_EOF) fail_open(code, path);
    read = 0;
  }
  return read == sizeof(bom) && std::equal(head, head + sizeof(head), bom);
}

}  // namespace

win::unique_handle open_log_file(const std::wstring& path, bool after_rotation) {
  DWORD code = ERROR_FILE_NOT_FOUND;
  for (int attempt = 0; attempt < open_attempts; ++attempt) {
    win::unique_handle file(::CreateFileW(path.c_str(), GENERIC_READ | FILE_APPEND_DATA | DELETE,
                                          share_all, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      code = ::GetLastError();
      if (code == ERROR_PATH_NOT_FOUND) {
        create_parent_folders(path);
      } else if (code != ERROR_FILE_NOT_FOUND) {
        fail_open(code, path);
      }
      create_by_rename(path);
      continue;
    }
    require_single_link(file.get(), path);
    if (starts_with_bom(file.get(), path)) return file;
    if (after_rotation) {
      throw exceptions::error(fmt::format("BOM not present in '{}'", utils::to_log(path)));
    }
    {
      const file_lock exclusive(file.get());
      rotate_log_file(file.get());
    }
    // The file may not have moved (a name not ending in ".log"): the next open must not loop.
    after_rotation = true;
  }
  fail_open(code, path);
}

}  // namespace vyn::log::detail
