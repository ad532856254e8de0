// The system query behind vyn::os::current(). Routines that older systems lack are looked up by
// name, so the program still starts there and can report the system it found.
#include <windows.h>

#include <atomic>
#include <mutex>

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/os_info.h"
#include "foundation/strings.h"

namespace vyn::os {
namespace {

using rtl_get_version_fn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
using get_product_info_fn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD*);
using is_wow64_process_fn = BOOL(WINAPI*)(HANDLE, BOOL*);
using is_wow64_process2_fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);

constexpr platform this_build =
#if defined(_M_ARM64) || defined(__aarch64__)
    platform::arm64;
#elif defined(_WIN64)
    platform::x64;
#else
    platform::x86;
#endif

HMODULE system_module(const wchar_t* name) {
  HMODULE module = ::GetModuleHandleW(name);
  if (!module) {
    const DWORD code = ::GetLastError();
    VYN_LOG_ERROR("GetModuleHandleW failed for {}, error {}", utils::to_log(name), code);
    throw exceptions::error(code, fmt::format("GetModuleHandleW ({})", utils::to_log(name)));
  }
  return module;
}

template <class Fn>
Fn optional_routine(const wchar_t* module, const char* name) {
  HMODULE handle = ::GetModuleHandleW(module);
  return handle ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(handle, name)))
                : nullptr;
}

version_record query_version() {
  HMODULE ntdll = system_module(L"ntdll.dll");
  auto get_version = reinterpret_cast<rtl_get_version_fn>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
  if (!get_version) {
    const DWORD code = ::GetLastError();
    VYN_LOG_ERROR("GetProcAddress failed for RtlGetVersion, error {}", code);
    throw exceptions::error(code, "GetProcAddress (RtlGetVersion)");
  }
  OSVERSIONINFOEXW raw{};
  raw.dwOSVersionInfoSize = sizeof(raw);
  get_version(&raw);
  version_record v;
  v.major = raw.dwMajorVersion;
  v.minor = raw.dwMinorVersion;
  v.build = raw.dwBuildNumber;
  v.service_pack_major = raw.wServicePackMajor;
  v.service_pack_minor = raw.wServicePackMinor;
  v.suite_mask = raw.wSuiteMask;
  v.product_type = raw.wProductType;
  return v;
}

platform_facts query_platform_facts() {
  platform_facts facts;
  facts.process = this_build;
  if (auto wow64_2 = optional_routine<is_wow64_process2_fn>(L"kernel32.dll", "IsWow64Process2")) {
    USHORT process_machine = 0, native_machine = 0;
    if (!wow64_2(::GetCurrentProcess(), &process_machine, &native_machine)) {
      const DWORD code = ::GetLastError();
      VYN_LOG_ERROR("IsWow64Process2 failed, error {}", code);
      throw exceptions::error(code, "Unable to determine native architecture of the system!");
    }
    facts.has_native_machine_query = true;
    facts.native_machine = native_machine;
  }
  if (auto wow64 = optional_routine<is_wow64_process_fn>(L"kernel32.dll", "IsWow64Process")) {
    BOOL emulated = FALSE;
    facts.wow64 = wow64(::GetCurrentProcess(), &emulated) && emulated;
  }
  return facts;
}

std::atomic<const os_info*> active_override{nullptr};

}  // namespace

os_info query() {
  os_info info;
  info.version = query_version();
  if (info.version.major >= 6) {
    if (auto product = optional_routine<get_product_info_fn>(L"kernel32.dll", "GetProductInfo")) {
      DWORD code = 0;
      if (product(info.version.major, info.version.minor, info.version.service_pack_major,
                  info.version.service_pack_minor, &code)) {
        info.product_info = code;
      }
    }
  }
  info.native = native_platform(query_platform_facts());
  info.server_r2 = ::GetSystemMetrics(SM_SERVERR2) != 0;
  return info;
}

const os_info& current() {
  if (const os_info* replaced = active_override.load(std::memory_order_acquire)) return *replaced;
  static const os_info queried = query();
  return queried;
}

scoped_override::scoped_override(const os_info& replacement)
    : replacement_(replacement), previous_(active_override.exchange(&replacement_)) {}

scoped_override::~scoped_override() { active_override.store(previous_); }

}  // namespace vyn::os
