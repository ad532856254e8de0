#include "foundation/os_info.h"

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/log.h"

namespace vyn::os {
namespace {

struct platform_row {
  platform value;
  std::uint16_t machine;
  const char* name;
};

constexpr platform_row platforms[] = {
    {platform::x86, machine_i386, "x86"},     {platform::x64, machine_amd64, "x64"},
    {platform::ia64, machine_ia64, "ia64"},   {platform::arm, machine_armnt, "arm"},
    {platform::arm64, machine_arm64, "arm64"},
};

bool is_64bit(platform p) { return p == platform::x64 || p == platform::ia64 || p == platform::arm64; }

std::string six_name(const version_record& v) {
  const bool workstation = v.product_type == product_workstation;
  static constexpr const char* workstations[] = {"Windows Vista", "Windows 7", "Windows 8",
                                                 "Windows 8.1"};
  static constexpr const char* servers[] = {"Windows Server 2008", "Windows Server 2008 R2",
                                            "Windows Server 2012", "Windows Server 2012 R2"};
  return workstation ? workstations[v.minor] : servers[v.minor];
}

std::string system_name(const os_info& info) {
  const version_record& v = info.version;
  if (v.major == 5 && v.minor == 0) return "Windows 2000";
  if (v.major == 5 && v.minor == 1) return "Windows XP";
  if (v.major == 5 && v.minor == 2) {
    if (v.product_type == product_workstation) return "Windows XP";
    if (v.suite_mask & suite_home_server) return "Windows Home Server";
    return info.server_r2 ? "Windows Server 2003 R2" : "Windows Server 2003";
  }
  if (v.major == 6 && v.minor <= 3) return six_name(v);
  if (v.major == 10) {
    const char* name = v.product_type == product_workstation ? "Windows 10"
                       : v.build >= 17763                    ? "Windows Server 2019"
                                                             : "Windows Server 2016";
    return fmt::format("{} (10.0.{})", name, v.build);
  }
  return fmt::format("Windows {}.{}.{}", v.major, v.minor, v.build);
}

}  // namespace

platform platform_from_machine(std::uint16_t machine) {
  for (const auto& row : platforms) {
    if (row.machine == machine) return row.value;
  }
  VYN_LOG_ERROR("Unknown native machine type {:#06x}", machine);
  throw exceptions::error(
      fmt::format("Unable to convert image machine ({}) to platform enumeration!", machine));
}

std::string platform_name(platform p) {
  for (const auto& row : platforms) {
    if (row.value == p) return row.name;
  }
  const auto value = static_cast<std::uint32_t>(p);
  VYN_LOG_ERROR("Unknown platform value {}", value);
  throw exceptions::error(fmt::format("Unable to translate platform name ({})!", value));
}

platform native_platform(const platform_facts& facts) {
  if (facts.has_native_machine_query) return platform_from_machine(facts.native_machine);
  // Without the query only a 32-bit process can be emulated; a 64-bit process runs natively.
  if (is_64bit(facts.process)) return facts.process;
  return facts.wow64 ? platform::x64 : platform::x86;
}

std::string describe(const os_info& info) {
  std::string text = system_name(info);
  if (info.version.service_pack_major != 0) {
    text += fmt::format(" SP{}", info.version.service_pack_major);
  }
  text += ' ';
  text += platform_name(info.native);
  return text;
}

}  // namespace vyn::os
