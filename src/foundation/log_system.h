#pragma once
// What the logger needs from the operating system: the clock, process and thread ids, the
// debugger output, system error messages and the log file. The Windows build provides the real
// ones; the host build (maker tool, host tests) has no debugger output and no log file.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vyn::log::detail {

// System time as a FILETIME: 100 ns ticks since 1601-01-01, UTC.
std::uint64_t system_time() noexcept;
std::uint32_t current_process_id() noexcept;
std::uint32_t current_thread_id() noexcept;

// Hands one UTF-8 line (with its line end) to an attached debugger or a debug-output capture
// tool; does nothing when neither receives it.
void debugger_output(std::string_view text) noexcept;

// The system's text for an error code, without its line end; empty when it has none.
std::string system_message(std::uint32_t code);

// An open log file. Safe for several threads; several processes may append to the same file.
class file_sink_intf {
 public:
  virtual ~file_sink_intf() = default;
  // Appends the bytes with one write after the size check and rotation; flushes the file
  // buffers when asked. Raises the system error when the write fails.
  virtual void write(std::string_view bytes, bool flush) = 0;
  // Full path the sink was opened with.
  virtual const std::wstring& path() const noexcept = 0;
};

// Opens (creating when needed) the log file at the path, which is resolved to a full path first,
// rotating it once it holds max_size bytes or more. Raises on failure.
std::unique_ptr<file_sink_intf> open_file_sink(const std::wstring& path, std::uint64_t max_size);

}  // namespace vyn::log::detail
