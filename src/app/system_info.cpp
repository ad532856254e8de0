#include "app/system_info.h"

#include <windows.h>

#include <tlhelp32.h>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "foundation/exceptions.h"
#include "foundation/handle.h"
#include "foundation/log.h"
#include "foundation/strings.h"

namespace vyn::sfx::system_info {
namespace {

using error = vyn::exceptions::error;

template <class Function>
Function* ntdll_routine(const char* name) {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (!ntdll) throw error(::GetLastError(), "GetModuleHandleW (ntdll.dll)");
  auto* routine = reinterpret_cast<Function*>(reinterpret_cast<void*>(::GetProcAddress(ntdll, name)));
  if (!routine) throw error(::GetLastError(), fmt::format("GetProcAddress ({})", name));
  return routine;
}

// The version resource of a module, read into memory; empty when it has none.
std::vector<std::uint8_t> version_block(const std::wstring& module_path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(module_path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<std::uint8_t> block(size);
  if (!::GetFileVersionInfoW(module_path.c_str(), 0, size, block.data())) return {};
  return block;
}

// The value of a query into a version block, or null.
const void* query_value(std::vector<std::uint8_t>& block, const std::wstring& query, UINT& length) {
  void* value = nullptr;
  length = 0;
  if (!::VerQueryValueW(block.data(), query.c_str(), &value, &length)) return nullptr;
  return value;
}

std::wstring image_path_of(std::uint32_t process_id) {
  const win::unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) throw error(::GetLastError(), fmt::format("Unable to open process {}", process_id));
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    auto length = static_cast<DWORD>(path.size());
    if (::QueryFullProcessImageNameW(process.get(), 0, path.data(), &length)) {
      path.resize(length);
      return path;
    }
    const DWORD code = ::GetLastError();
    if (code != ERROR_INSUFFICIENT_BUFFER || path.size() >= 32768) {
      throw error(code, fmt::format("Unable to read the image path of process {}", process_id));
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

os_version query_os_version() {
  using rtl_get_version = LONG NTAPI(OSVERSIONINFOEXW*);
  auto* get_version = ntdll_routine<rtl_get_version>("RtlGetVersion");
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (const LONG status = get_version(&info); status != 0) {
    throw error(static_cast<std::uint32_t>(status), "RtlGetVersion");
  }
  return {info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber, info.wServicePackMajor,
          info.wServicePackMinor, info.wSuiteMask, info.wProductType};
}

std::string native_platform() {
  using is_wow64_process2 = BOOL WINAPI(HANDLE, USHORT*, USHORT*);
  if (HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
    if (auto* query = reinterpret_cast<is_wow64_process2*>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process2")))) {
      USHORT process_machine = 0;
      USHORT native_machine = 0;
      if (query(::GetCurrentProcess(), &process_machine, &native_machine)) {
        switch (native_machine) {
          case IMAGE_FILE_MACHINE_I386: return "x86";
          case IMAGE_FILE_MACHINE_AMD64: return "x64";
          case IMAGE_FILE_MACHINE_ARM64: return "arm64";
          default: break;
        }
      }
    }
  }
  BOOL wow64 = FALSE;
#ifdef _WIN64
  wow64 = TRUE;
#else
  ::IsWow64Process(::GetCurrentProcess(), &wow64);
#endif
  return wow64 ? "x64" : "x86";
}

bool is_server_r2() { return ::GetSystemMetrics(SM_SERVERR2) != 0; }

std::uint32_t process_integrity_level() noexcept {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return 0;
  const win::unique_handle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size);
  if (size < sizeof(TOKEN_MANDATORY_LABEL)) return 0;
  std::vector<std::uint8_t> buffer(size);
  if (!::GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.data(), size, &size)) return 0;
  const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data())->Label.Sid;
  if (!sid || !::IsValidSid(sid)) return 0;
  const UCHAR count = *::GetSidSubAuthorityCount(sid);
  if (count == 0) return 0;
  return *::GetSidSubAuthority(sid, count - 1u);
}

parent_process query_parent_process() {
  const win::unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) throw error(::GetLastError(), "Unable to list processes");
  const DWORD self = ::GetCurrentProcessId();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == self) {
      const std::uint32_t parent = entry.th32ParentProcessID;
      return {parent, image_path_of(parent)};
    }
  }
  throw error(ERROR_NOT_FOUND, "The process is not in the process list");
}

std::vector<std::wstring> version_strings(const std::wstring& module_path, const std::wstring& name) {
  std::vector<std::uint8_t> block = version_block(module_path);
  if (block.empty()) return {};
  struct translation {
    WORD language;
    WORD code_page;
  };
  UINT length = 0;
  const auto* table = static_cast<const translation*>(query_value(block, L"\\VarFileInfo\\Translation", length));
  std::vector<std::wstring> values;
  for (UINT i = 0; table && i < length / sizeof(translation); ++i) {
    const std::wstring query =
        fmt::format(L"\\StringFileInfo\\{:04x}{:04x}\\{}", table[i].language, table[i].code_page, name);
    UINT characters = 0;
    if (const auto* text = static_cast<const wchar_t*>(query_value(block, query, characters))) {
      std::wstring value(text, characters);
      if (const auto nul = value.find(L'\0'); nul != std::wstring::npos) value.resize(nul);
      values.push_back(std::move(value));
    }
  }
  return values;
}

std::wstring file_version(const std::wstring& module_path) {
  std::vector<std::uint8_t> block = version_block(module_path);
  if (block.empty()) return {};
  UINT length = 0;
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query_value(block, L"\\", length));
  if (!fixed || length < sizeof(VS_FIXEDFILEINFO)) return {};
  return fmt::format(L"{}.{}.{}.{}", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                     HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
}

std::wstring module_path() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) throw error(::GetLastError(), "Unable to retrieve the path of the module!");
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 32768) throw error(ERROR_INSUFFICIENT_BUFFER, "Unable to retrieve the path of the module!");
    path.resize(path.size() * 2);
  }
}

}  // namespace vyn::sfx::system_info
