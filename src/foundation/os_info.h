#pragma once
// What the program knows about the running system: its version record, product-info code and
// native platform, and the one-line description written to the start-up log.
//
// The record is queried once per process and read through vyn::os::current(). Code that
// branches on the system (conditions, reporting, the OS check) reads it only through current(),
// so a test replaces the whole record with a scoped_override:
//
//   vyn::os::os_info arm = vyn::os::current();
//   arm.native = vyn::os::platform::arm64;
//   vyn::os::scoped_override use(arm);   // current() returns `arm` until `use` ends
//
// The types and pure functions below are portable; query(), current() and scoped_override are
// available on Windows only.

#include <cstdint>
#include <optional>
#include <string>

namespace vyn::os {

enum class platform : std::uint32_t { x86 = 1, x64 = 2, ia64 = 3, arm = 4, arm64 = 5 };

// Image machine types of the native systems we recognise.
inline constexpr std::uint16_t machine_i386 = 0x014c;
inline constexpr std::uint16_t machine_amd64 = 0x8664;
inline constexpr std::uint16_t machine_ia64 = 0x0200;
inline constexpr std::uint16_t machine_armnt = 0x01c4;
inline constexpr std::uint16_t machine_arm64 = 0xAA64;

// Product types and suite bits of the version record.
inline constexpr std::uint8_t product_workstation = 1;
inline constexpr std::uint8_t product_domain_controller = 2;
inline constexpr std::uint8_t product_server = 3;
inline constexpr std::uint16_t suite_home_server = 0x8000;

// Raises "Unable to convert image machine ({}) to platform enumeration!" for other machines.
platform platform_from_machine(std::uint16_t machine);
// "x86", "x64", "ia64", "arm", "arm64"; raises "Unable to translate platform name ({})!".
std::string platform_name(platform p);

// The system's version record as the native version query reports it.
struct version_record {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::uint16_t service_pack_major = 0;
  std::uint16_t service_pack_minor = 0;
  std::uint16_t suite_mask = 0;
  std::uint8_t product_type = 0;
};

struct os_info {
  version_record version;
  std::uint32_t product_info = 0;  // GetProductInfo's code; 0 before 6.0
  platform native = platform::x86;
  bool server_r2 = false;          // the R2 system metric, which names Windows Server 2003 R2
};

// What decides the native platform. has_native_machine_query tells whether the system offers
// the query of the native machine (then native_machine holds its answer); wow64 whether this
// process is a 32-bit one running under emulation on a 64-bit system; process the platform this
// program was built for.
struct platform_facts {
  bool has_native_machine_query = false;
  std::uint16_t native_machine = 0;
  bool wow64 = false;
  platform process = platform::x86;
};

// The native machine when the system reports it; otherwise a 64-bit process runs on its own
// platform, and a 32-bit process on x64 under emulation and on x86 without.
platform native_platform(const platform_facts& facts);

// "Windows 7 SP1 x64", "Windows 10 (10.0.19045) x64", "Windows Server 2019 (10.0.17763) x64", ...
std::string describe(const os_info& info);

// Windows only. Queries the system now; raises "GetModuleHandleW ({})" or "GetProcAddress ({})"
// with the system code when the native version routine cannot be found, and "Unable to
// determine native architecture of the system!" when the native-machine query fails.
os_info query();

// Windows only. The process's record, queried on first use (or the innermost override).
const os_info& current();

// Windows only. While alive, current() returns the given record. Overrides nest; they are meant
// for tests and are not synchronised with concurrent readers.
class scoped_override {
 public:
  explicit scoped_override(const os_info& replacement);
  ~scoped_override();
  scoped_override(const scoped_override&) = delete;
  scoped_override& operator=(const scoped_override&) = delete;

 private:
  os_info replacement_;
  const os_info* previous_;
};

}  // namespace vyn::os
