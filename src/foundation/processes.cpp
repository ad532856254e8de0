#include "foundation/processes.h"

#include <windows.h>

#include <winternl.h>

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/handle.h"

namespace vyn::os {
namespace {

using error = vyn::exceptions::error;
using query_information_fn = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, void*, ULONG, ULONG*);

// The native routine is looked up by name, like the system's other native queries.
query_information_fn query_information() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (!ntdll) throw error(::GetLastError(), "GetModuleHandleW (ntdll.dll)");
  const auto routine = reinterpret_cast<query_information_fn>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryInformationProcess")));
  if (!routine) throw error(::GetLastError(), "GetProcAddress (NtQueryInformationProcess)");
  return routine;
}

std::uint64_t creation_time(HANDLE process, std::uint32_t process_id) {
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) {
    throw error(::GetLastError(), fmt::format("Unable to read the start time of process {}", process_id));
  }
  return std::uint64_t{created.dwHighDateTime} << 32 | created.dwLowDateTime;
}

win::unique_handle open_for_query(std::uint32_t process_id) {
  win::unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) throw error(::GetLastError(), fmt::format("Unable to open process {}", process_id));
  return process;
}

std::wstring image_path_of(HANDLE process, std::uint32_t process_id) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    auto length = static_cast<DWORD>(path.size());
    if (::QueryFullProcessImageNameW(process, 0, path.data(), &length)) {
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

std::uint32_t parent_process_id() {
  PROCESS_BASIC_INFORMATION information{};
  ULONG returned = 0;
  const LONG status =
      query_information()(::GetCurrentProcess(), ProcessBasicInformation, &information, sizeof(information), &returned);
  if (status < 0) throw error(static_cast<std::uint32_t>(status), "Unable to retrieve basic process information!");
  return static_cast<std::uint32_t>(information.InheritedFromUniqueProcessId);
}

std::wstring process_image_path(std::uint32_t process_id) {
  const win::unique_handle process = open_for_query(process_id);
  return image_path_of(process.get(), process_id);
}

std::wstring parent_process_image_path() {
  const std::uint32_t parent_id = parent_process_id();
  const win::unique_handle parent = open_for_query(parent_id);
  if (creation_time(parent.get(), parent_id) > creation_time(::GetCurrentProcess(), ::GetCurrentProcessId())) {
    throw error(ERROR_NOT_FOUND, fmt::format("Process {} was started after this one", parent_id));
  }
  return image_path_of(parent.get(), parent_id);
}

}  // namespace vyn::os
