// The host build (maker tool, host tests) logs to a stream only: it has no debugger output and
// no log file.
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

#include "foundation/exceptions.h"
#include "foundation/log_system.h"

namespace vyn::log::detail {

std::uint64_t system_time() noexcept {
  // 100 ns ticks from 1601-01-01 to 1970-01-01.
  constexpr std::uint64_t unix_epoch = 116'444'736'000'000'000ull;
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  using ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
  return unix_epoch + static_cast<std::uint64_t>(std::chrono::duration_cast<ticks>(since_epoch).count());
}

std::uint32_t current_process_id() noexcept { return static_cast<std::uint32_t>(::getpid()); }

std::uint32_t current_thread_id() noexcept {
  return static_cast<std::uint32_t>(::syscall(SYS_gettid));
}

void debugger_output(std::string_view) noexcept {}

// The codes are Windows system error codes, for which the host has no texts.
std::string system_message(std::uint32_t) { return {}; }

std::unique_ptr<file_sink_intf> open_file_sink(const std::wstring&, std::uint64_t) {
  throw exceptions::error("Log files are written on Windows only");
}

}  // namespace vyn::log::detail
