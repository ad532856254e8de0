// Starting a child of a protected process light with the parent's protection. The system starts
// such a child only when its file carries a cached signing level the protection accepts, so the
// level is checked first and the launch refused with a clear error otherwise. The routines are
// looked up by name: the installer still starts on systems that lack them.
#include <fmt/format.h>

#include "app/command_line.h"
#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/os_info.h"
#include "foundation/strings.h"
#include "launch/process_wrapper.h"

namespace vyn::systools {
namespace {

using nt_query_information_process_fn = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
using get_cached_signing_level_fn = BOOL(WINAPI*)(HANDLE, ULONG*, ULONG*, UCHAR*, ULONG*, ULONG*);
using set_cached_signing_level_fn = BOOL(WINAPI*)(HANDLE*, ULONG, ULONG, HANDLE);

constexpr ULONG process_protection_information = 61;
constexpr UCHAR protected_type_light = 1;       // low three bits of the protection byte
constexpr ULONG signing_level_required = 7;     // what a protected light child must carry
constexpr ULONG cache_from_file_itself = 5;     // flags of the request to cache a level
constexpr DWORD wrong_signing_level = 577;      // ERROR_INVALID_IMAGE_HASH

template <class Fn>
Fn routine(const wchar_t* module, const char* name) {
  HMODULE handle = ::GetModuleHandleW(module);
  return handle ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(handle, name))) : nullptr;
}

struct signing_level_routines {
  get_cached_signing_level_fn get = nullptr;
  set_cached_signing_level_fn set = nullptr;
};

// Looked up once per process; both stay null before Windows 8.
const signing_level_routines& signing_routines() {
  static const signing_level_routines routines = [] {
    const os::version_record& v = os::current().version;
    signing_level_routines found;
    if (v.major > 6 || (v.major == 6 && v.minor >= 2)) {
      found.get = routine<get_cached_signing_level_fn>(L"kernel32.dll", "GetCachedSigningLevel");
      found.set = routine<set_cached_signing_level_fn>(L"kernel32.dll", "SetCachedSigningLevel");
    }
    return found;
  }();
  return routines;
}

std::optional<std::uint32_t> read_signing_level(get_cached_signing_level_fn get, HANDLE file) {
  ULONG flags = 0;
  ULONG level = 0;
  UCHAR thumbprint[64] = {};
  ULONG thumbprint_size = sizeof(thumbprint);
  ULONG algorithm = 0;
  if (!get(file, &flags, &level, thumbprint, &thumbprint_size, &algorithm)) return std::nullopt;
  return level;
}

}  // namespace

bool process_wrapper::running_as_protected_light() {
  if (os::current().version.major < 10) return false;
  const auto query = routine<nt_query_information_process_fn>(L"ntdll.dll", "NtQueryInformationProcess");
  if (!query) return false;
  UCHAR protection = 0;
  ULONG returned = 0;
  const LONG status = query(::GetCurrentProcess(), process_protection_information, &protection,
                            sizeof(protection), &returned);
  return status >= 0 && (protection & 7) == protected_type_light;
}

std::optional<std::uint32_t> process_wrapper::cached_signing_level(HANDLE file) {
  const signing_level_routines& routines = signing_routines();
  if (!routines.get) return std::nullopt;
  std::optional<std::uint32_t> level = read_signing_level(routines.get, file);
  if (!level && ::GetLastError() == ERROR_NOT_FOUND && routines.set) {
    HANDLE source = file;
    if (routines.set(&source, 1, cache_from_file_itself, file)) {
      level = read_signing_level(routines.get, file);
    } else {
      VYN_LOG_WARNING("SetCachedSigningLevel failed, error {}", ::GetLastError());
    }
  }
  return level;
}

void process_wrapper::require_protected_signing_level(const std::wstring& command_line) {
  const std::wstring executable = sfx::command_line(command_line, true).program_name().value_or(L"");
  win::unique_handle file(::CreateFileW(executable.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::optional<std::uint32_t> level;
  if (file) {
    level = cached_signing_level(file.get());
  } else {
    VYN_LOG_ERROR("Opening '{}' to read its signing level failed, error {}", utils::to_log(executable),
                  ::GetLastError());
  }
  if (level == signing_level_required) return;
  VYN_LOG_ERROR("The signing level of '{}' is {}, a protected child needs {}", utils::to_log(executable),
                level ? fmt::to_string(*level) : std::string("unknown"), signing_level_required);
  throw exceptions::error(wrong_signing_level,
                          fmt::format("Wrong signature level '{}'!", utils::to_log(command_line)));
}

}  // namespace vyn::systools
