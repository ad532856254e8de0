#include "foundation/directories.h"

#include <aclapi.h>
#include <sddl.h>

#include <fmt/format.h>
#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/handle.h"
#include "foundation/log.h"
#include "foundation/random.h"
#include "foundation/strings.h"

namespace vyn::files {
namespace {

constexpr DWORD reparse_point_encountered = 4395;  // ERROR_REPARSE_POINT_ENCOUNTERED

[[noreturn]] void fail(DWORD code, const char* text, std::wstring_view path) {
  std::string message = fmt::format(fmt::runtime(text), utils::to_log(path));
  VYN_LOG_ERROR("{}, error {}", message, code);
  throw exceptions::error(code, std::move(message));
}

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring_view without_trailing_separators(std::wstring_view path) {
  while (path.size() > 1 && is_separator(path.back()) && path[path.size() - 2] != L':') {
    path.remove_suffix(1);
  }
  return path;
}

std::wstring_view parent_of(std::wstring_view path) {
  path = without_trailing_separators(path);
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring_view::npos ? std::wstring_view{} : path.substr(0, slash);
}

// The descriptor in system form, or empty when the text cannot be converted.
win::unique_local descriptor_of(const wchar_t* sddl, DWORD& code) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  code = ERROR_SUCCESS;
  if (sddl && !::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                      &descriptor, nullptr)) {
    code = ::GetLastError();
  }
  return win::unique_local(descriptor);
}

// A folder variable's value; empty when the variable is not set. An expansion that fails
// outright raises the given message.
std::wstring expand_folder_variable(const wchar_t* reference, const char* failure) {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD length = ::ExpandEnvironmentStringsW(reference, buffer, static_cast<DWORD>(std::size(buffer)));
  if (length == 0 || length > std::size(buffer)) {
    const DWORD code = length == 0 ? ::GetLastError() : ERROR_INSUFFICIENT_BUFFER;
    VYN_LOG_ERROR("{}, error {}", failure, code);
    throw exceptions::error(code, failure);
  }
  const std::wstring value(buffer, length - 1);
  return value == reference ? std::wstring{} : value;  // unchanged: the variable is not set
}

std::wstring windows_drive_temp() {
  wchar_t windows[MAX_PATH];
  const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
  if (length < 2 || length >= MAX_PATH || windows[1] != L':' ||
      !((windows[0] >= L'A' && windows[0] <= L'Z') || (windows[0] >= L'a' && windows[0] <= L'z'))) {
    const DWORD code = length == 0 ? ::GetLastError() : ERROR_BAD_PATHNAME;
    VYN_LOG_ERROR("No drive letter in the Windows folder '{}'",
                  utils::to_log(std::wstring_view(windows, length < MAX_PATH ? length : 0)));
    throw exceptions::error(code, "Unable to retrieve the system drive letter!");
  }
  return std::wstring(windows, 2) + L"\\Temp";
}

void check_writable(const std::wstring& folder) {
  win::unique_handle handle(::CreateFileW(folder.c_str(), FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                          nullptr));
  if (!handle) fail(::GetLastError(), "Unable to open directory '{}' for writing!", folder);
}

// Opens the file or folder itself, never what a reparse point (a junction, a symbolic link) in
// its place leads to, and refuses a reparse point: whoever may plant one in a folder that an
// elevated process secures would otherwise have it change the security of another folder.
win::unique_handle open_for_security(std::wstring_view path) {
  const std::wstring name(path);
  win::unique_handle handle(::CreateFileW(name.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                          nullptr));
  if (!handle) fail(::GetLastError(), "Unable to apply security descriptor to '{}'!", path);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(handle.get(), &information)) {
    fail(::GetLastError(), "Unable to apply security descriptor to '{}'!", path);
  }
  // The handle's attributes are those of what it opened, so a link swapped in after the check
  // cannot slip through. The name's attributes are asked as well: Wine opens the target of a link
  // even when asked for the link itself and shows the link only by name.
  const DWORD by_name = ::GetFileAttributesW(name.c_str());
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      (by_name != INVALID_FILE_ATTRIBUTES && (by_name & FILE_ATTRIBUTE_REPARSE_POINT))) {
    fail(reparse_point_encountered, "Refusing to apply a security descriptor through the reparse point '{}'!", path);
  }
  return handle;
}

using wow64_disable_fn = BOOL(WINAPI*)(PVOID*);
using wow64_revert_fn = BOOL(WINAPI*)(PVOID);

template <class Fn>
Fn kernel32_routine(const char* name) {
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  return kernel32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel32, name)))
                  : nullptr;
}

}  // namespace

bool create_directory(std::wstring_view path, const wchar_t* sddl) {
  const std::wstring folder(without_trailing_separators(path));
  if (directory_exists(folder)) return false;
  const std::wstring_view parent = parent_of(folder);
  if (!parent.empty() && parent.size() < folder.size() && !path_exists(parent) &&
      parent.back() != L':') {
    create_directory(parent, sddl);
  }
  DWORD code = ERROR_SUCCESS;
  const win::unique_local descriptor = descriptor_of(sddl, code);
  if (code != ERROR_SUCCESS) {
    VYN_LOG_WARNING("Security descriptor '{}' cannot be built (error {}), creating '{}' with "
                    "default security", utils::to_log(sddl), code, utils::to_log(folder));
  }
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
  if (::CreateDirectoryW(folder.c_str(), descriptor ? &attributes : nullptr)) return true;
  code = ::GetLastError();
  if (code == ERROR_ALREADY_EXISTS && directory_exists(folder)) return false;  // lost a race
  fail(code, "Unable to create directory '{}'!", folder);
}

void set_security(std::wstring_view path, const wchar_t* sddl) {
  DWORD code = ERROR_SUCCESS;
  const win::unique_local descriptor = descriptor_of(sddl, code);
  if (!descriptor) fail(code, "Unable to convert security descriptor '{}'!", sddl ? sddl : L"");

  PSID owner = nullptr, group = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted);
  ::GetSecurityDescriptorGroup(descriptor.get(), &group, &defaulted);
  ::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted);
  ::GetSecurityDescriptorControl(descriptor.get(), &control, &revision);

  SECURITY_INFORMATION what = 0;
  if (owner) what |= OWNER_SECURITY_INFORMATION;
  if (group) what |= GROUP_SECURITY_INFORMATION;
  if (present) {
    what |= DACL_SECURITY_INFORMATION;
    what |= (control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                          : UNPROTECTED_DACL_SECURITY_INFORMATION;
  }
  const win::unique_handle folder = open_for_security(path);
  const DWORD status = ::SetSecurityInfo(folder.get(), SE_FILE_OBJECT, what, owner, group, dacl, nullptr);
  if (status != ERROR_SUCCESS) fail(status, "Unable to apply security descriptor to '{}'!", path);
}

std::wstring temp_folder() {
  std::wstring folder = expand_folder_variable(L"%TMP%", "Unable to expand %TMP% environment variable!");
  if (folder.empty()) {
    folder = expand_folder_variable(L"%TEMP%", "Unable to expand %TEMP% environment variable!");
  }
  if (folder.empty()) folder = windows_drive_temp();
  folder = std::wstring(without_trailing_separators(folder));
  create_directory(folder);
  check_writable(folder);
  return folder;
}

std::wstring unique_temp_name(std::wstring_view folder, std::wstring_view prefix,
                              std::wstring_view extension) {
  const std::wstring_view base = without_trailing_separators(folder);
  for (;;) {
    std::wstring name = std::wstring(base) + L"\\";
    name.append(prefix).append(utils::to_wide(fmt::format("{:016x}.", utils::random_u64()))).append(extension);
    if (!path_exists(name)) return name;
  }
}

fs_redirection_auto::fs_redirection_auto() noexcept {
  static const auto disable = kernel32_routine<wow64_disable_fn>("Wow64DisableWow64FsRedirection");
  active_ = disable && disable(&previous_);
}

fs_redirection_auto::~fs_redirection_auto() {
  static const auto revert = kernel32_routine<wow64_revert_fn>("Wow64RevertWow64FsRedirection");
  if (active_ && revert) revert(previous_);
}

}  // namespace vyn::files
