#pragma once
// One logged event and its rendering as a log line. Portable: the Windows sinks and the host
// build share it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/log.h"

namespace vyn::log {

// Thresholds are level ordinals 0 to 8; this one lets nothing through.
inline constexpr std::uint32_t threshold_off = 9;

struct event {
  level lvl = level::debug;  // may carry an ordinal above 8, shown with an empty name
  source_location where{};
  std::string message;       // UTF-8, with the thread's context already applied
  std::uint64_t time = 0;    // FILETIME: 100 ns ticks since 1601-01-01, UTC
  std::uint32_t process_id = 0;
  std::uint32_t thread_id = 0;
};

// True when an event of this level passes the threshold.
constexpr bool reaches(level lvl, std::uint32_t threshold) noexcept {
  return threshold < threshold_off && static_cast<std::uint32_t>(lvl) >= threshold;
}

// The name a line shows for the level; empty for an ordinal above 8.
std::string_view level_name(level lvl) noexcept;

// "YYYY-MM-DD hh:mm:ss.mmm" in UTC, or nothing for a value the system cannot convert (the top
// bit set, as for FileTimeToSystemTime).
std::optional<std::string> format_time(std::uint64_t file_time);

// "[time] [level  ] [module     ] [  pid:  tid] [fileid:line] message" without a line end.
// An unconvertible time stamp gives an empty line, a failure while formatting the text
// "event formatting failed".
std::string format_line(const event& e) noexcept;

// The message as the thread logs it: "{context} message" when the context is not empty.
std::string apply_context(std::string_view context, std::string message);

}  // namespace vyn::log
