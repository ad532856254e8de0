#include "app/temp_dir.h"

#include <windows.h>
#include <sddl.h>

#include <fmt/format.h>

#include "foundation/directories.h"
#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/handle.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/random.h"
#include "foundation/strings.h"

namespace vyn::sfx {
namespace {

// Full control for the system and administrators, read and execute for users: nothing that runs
// without elevation can plant or change a file that the elevated setup later executes.
constexpr const wchar_t* folder_security = L"D:P(A;CIOI;GA;;;SY)(A;CIOI;GA;;;BA)(A;CIOI;GRGX;;;BU)";

std::wstring windows_temp() {
  wchar_t windows[MAX_PATH];
  const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    const DWORD code = length == 0 ? ::GetLastError() : ERROR_INSUFFICIENT_BUFFER;
    VYN_LOG_ERROR("Get window directory fail {}!", code);
    throw exceptions::error(code, "Get window directory fail");
  }
  return files::join_path(std::wstring_view(windows, length), L"Temp");
}

// An existing folder named by the caller, made absolute so that it means the same folder to the
// processes started from it; otherwise the Windows temporary folder.
std::wstring base_folder(const std::wstring& requested) {
  if (requested.empty() || !files::directory_exists(requested)) return windows_temp();
  const DWORD size = ::GetFullPathNameW(requested.c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  const DWORD length = size ? ::GetFullPathNameW(requested.c_str(), size, full.data(), nullptr) : 0;
  if (length == 0 || length >= size) return requested;
  full.resize(length);
  return full;
}

void check_security_descriptor() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(folder_security, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
    const DWORD code = ::GetLastError();
    VYN_LOG_ERROR("Create tmp directory security descriptor fail {}!", code);
    throw exceptions::error(code, "Create tmp directory security descriptor fail");
  }
  const win::unique_local release(descriptor);
}

bool schedule_for_restart(const std::wstring& path) {
  return ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

void delete_file(const std::wstring& path) {
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (::DeleteFileW(path.c_str())) return;
  const DWORD code = ::GetLastError();
  if (schedule_for_restart(path)) {
    VYN_LOG_INFO("Could not delete file '{}', {}, plan it for restart!", utils::to_log(path), code);
    return;
  }
  VYN_LOG_INFO("Could not delete file '{}', {}!", utils::to_log(path), ::GetLastError());
}

void remove_folder(const std::wstring& folder) {
  if (!files::directory_exists(folder)) return;
  ::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (::RemoveDirectoryW(folder.c_str())) {
    VYN_LOG_INFO("SFX temp folder '{}' deleted.", utils::to_log(folder));
    return;
  }
  VYN_LOG_INFO("Could not delete directory '{}', {}, plan it for restart!", utils::to_log(folder), ::GetLastError());
  if (!schedule_for_restart(folder)) {
    VYN_LOG_ERROR("Folder '{}' delete after reboot fail, {}!", utils::to_log(folder), ::GetLastError());
  }
}

void delete_tree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry{};
  const win::unique_find find(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (!find) VYN_LOG_WARNING("Unable to enumerate folder '{}', {}", utils::to_log(folder), ::GetLastError());
  for (bool more = find.valid(); more; more = ::FindNextFileW(find.get(), &entry) != FALSE) {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = files::join_path(folder, name);
    const DWORD attributes = entry.dwFileAttributes;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      delete_file(path);
    } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // A link to a folder elsewhere: remove the link, never what it points to.
      remove_folder(path);
    } else {
      delete_tree(path);
    }
  }
  remove_folder(folder);
}

}  // namespace

temp_dir::temp_dir(std::wstring_view base, bool delete_on_destroy)
    : delete_on_destroy_(delete_on_destroy), requested_base_(base) {
  const std::wstring path =
      files::join_path(base_folder(requested_base_), L"vyn-" + utils::to_wide(utils::random_uuid()));
  check_security_descriptor();
  try {
    files::create_directory(path, folder_security);
  } catch (const exceptions::error& e) {
    VYN_LOG_ERROR("Create directory '{}' fail {}!", utils::to_log(path), e.code());
    throw exceptions::error(e.code(), "Create directory fail");
  }
  VYN_LOG_INFO("SFX temp folder '{}' created.", utils::to_log(path));
  path_ = path;
}

temp_dir::~temp_dir() {
  try {
    if (!delete_on_destroy_) {
      VYN_LOG_DEBUG("Skipping temp folder ({}) delete", utils::to_log(path_));
      return;
    }
    if (path_.empty()) {
      VYN_LOG_WARNING("Skip temp folder delete, path is empty");
      return;
    }
    delete_tree(path_);
    VYN_LOG_DEBUG("Temp folder ({}) deleted", utils::to_log(path_));
  } catch (...) {
    // Deleting is best effort: a run that ends must not end differently because of it.
  }
}

}  // namespace vyn::sfx
