#pragma once
// The few facts about the running system and process that the entry point needs. These read the
// system directly; the foundation's file and OS-information layer takes them over later.

#include <cstdint>
#include <string>
#include <vector>

#include "app/startup_checks.h"

namespace vyn::sfx::system_info {

// The version as the kernel reports it (RtlGetVersion, not subject to compatibility shims).
// Raises vyn::exceptions::error when ntdll or the routine cannot be found.
os_version query_os_version();

// "x86", "x64" or "arm64": the machine of the system, not of this process.
std::string native_platform();

// The system's R2 metric (Windows Server 2003 R2).
bool is_server_r2();

// The mandatory integrity level of the process token (0x3000 high); 0 when it cannot be read.
std::uint32_t process_integrity_level() noexcept;

struct parent_process {
  std::uint32_t id = 0;
  std::wstring image_path;
};

// The process that started this one. Raises vyn::exceptions::error when it is gone or cannot be
// queried.
parent_process query_parent_process();

// The values of a string of the module's version resource, one per language of its translation
// table, in the table's order. Empty when the module has no version resource or no such string.
std::vector<std::wstring> version_strings(const std::wstring& module_path, const std::wstring& name);

// The file version of the version resource as "a.b.c.d"; empty when there is none.
std::wstring file_version(const std::wstring& module_path);

// Full path of the running executable. Raises vyn::exceptions::error on failure.
std::wstring module_path();

}  // namespace vyn::sfx::system_info
