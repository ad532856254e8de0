#include "net/report_machine.h"

#include <windows.h>

#include <cctype>

#include "foundation/files.h"
#include "foundation/os_info.h"

namespace vyn::sfx::report {
namespace {

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t unix_epoch_in_filetime = 116444736000000000;

std::int64_t total_memory_mib() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);
  if (!::GlobalMemoryStatusEx(&status)) return 0;
  return static_cast<std::int64_t>(status.ullTotalPhys >> 20);
}

std::int64_t available_mib(const std::wstring& disk_path) {
  const std::wstring root = volume_root(disk_path);
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr)) return 0;
  return static_cast<std::int64_t>(available.QuadPart >> 20);
}

// A program without a version resource (a test program) reports an empty version.
std::string running_version() {
  try {
    const auto v = files::file_version_numbers(files::module_path());
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
  } catch (const std::exception&) {
    return {};
  }
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::int32_t time_zone_bias() {
  TIME_ZONE_INFORMATION zone{};
  if (::GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return 0;
  return static_cast<std::int32_t>(zone.Bias);
}

}  // namespace

std::int64_t utc_milliseconds() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const std::int64_t ticks = (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (ticks - unix_epoch_in_filetime) / 10000;
}

void read_machine_facts(report_facts& facts, const std::wstring& disk_path) {
  const os::os_info& system = os::current();
  facts.event_time = utc_milliseconds();
  facts.sfx_version = running_version();
  facts.memory_mib = total_memory_mib();
  SYSTEM_INFO info{};
  ::GetSystemInfo(&info);
  facts.processors = info.dwNumberOfProcessors;
  facts.workstation = system.version.product_type == os::product_workstation;
  if (!disk_path.empty()) facts.hdd_available_mib = available_mib(disk_path);
  facts.architecture = upper(os::platform_name(system.native));
  facts.major = system.version.major;
  facts.minor = system.version.minor;
  facts.build = system.version.build;
  facts.lang = language_tag(::GetUserDefaultUILanguage());
  facts.time_zone = time_zone_bias();
}

}  // namespace vyn::sfx::report
