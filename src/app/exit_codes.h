#pragma once
// The stub's process exit codes. This table is stable: products and their telemetry rely on these
// numbers, so an entry is never renumbered and a retired number is never given a new meaning.
//
// Besides these, a run ends with
//  - the setup master's own exit code when the setup master ran to its end, and
//  - the code carried by any other error of the program (often a system error code).

#include <cstdint>

namespace vyn::sfx::exit_code {

inline constexpr std::uint32_t success = 0;
// A standard library exception reached the entry point (also anything not derived from it).
inline constexpr std::uint32_t generic_failure = 1;
// The process token is below high integrity (ERROR_INVALID_LEVEL).
inline constexpr std::uint32_t insufficient_integrity_level = 124;
// The user cancelled in the confirmation dialog (ERROR_CANCELLED).
inline constexpr std::uint32_t cancelled = 1223;
// A setup file or product description could not be downloaded.
inline constexpr std::uint32_t download_failed = 44002;
// The stub's own signature or that of a downloaded file is not valid.
inline constexpr std::uint32_t invalid_signature = 44024;
// A file the stub needs is neither in its payload nor downloadable.
inline constexpr std::uint32_t missing_sfx_file = 44051;
// The setup master finished and asks for a restart; passed on unchanged.
inline constexpr std::uint32_t restart_required = 44080;
// The operating system is older than Windows 7 SP1, or an ARM64 system without an ARM64 setup.
inline constexpr std::uint32_t unsupported_os = 45056;

// Exit codes of the setup master that tell whether it ended abnormally.
namespace setup_master {
inline constexpr std::uint32_t not_started = 0xFFFFFFFEu;  // -2
inline constexpr std::uint32_t handled_failure = 111111;
// Codes of this range are the setup master's own, deliberate results.
inline constexpr std::uint32_t own_first = 44000;
inline constexpr std::uint32_t own_last = 45999;
// An uncaught C++ exception inside the setup master (the runtime's exception code).
inline constexpr std::uint32_t cxx_exception = 0xE06D7363u;
}  // namespace setup_master

// True when the setup master's exit code means it crashed, so its crash reporter may be running
// and must be waited for before the temporary folder disappears.
constexpr bool setup_crashed(std::uint32_t code) noexcept {
  using namespace setup_master;
  if (code == success || code == not_started || code == handled_failure) return false;
  return code == cxx_exception || code < own_first || code > own_last;
}

}  // namespace vyn::sfx::exit_code
