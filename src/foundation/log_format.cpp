#include <cstring>

#include "foundation/exceptions.h"
#include "foundation/log_event.h"
#include "foundation/log_system.h"

namespace vyn::log {
namespace {

constexpr std::string_view level_names[] = {"debug",   "block",  "info",  "fnction", "notice",
                                            "warning", "thread", "error", "fatal"};

constexpr std::uint64_t ticks_per_ms = 10'000;
constexpr std::uint64_t ms_per_day = 86'400'000;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t days_to_unix_epoch = 134'774;

struct civil_date {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

// Gregorian date of a day counted from 1970-01-01 (H. Hinnant's civil_from_days).
civil_date civil_from_days(std::int64_t days) {
  days += 719'468;
  const std::int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
  const auto day_of_era = static_cast<unsigned>(days - era * 146'097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1'460 + day_of_era / 36'524 - day_of_era / 146'096) / 365;
  const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned mp = (5 * day_of_year + 2) / 153;
  const unsigned day = day_of_year - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2), month, day};
}

}  // namespace

std::string_view level_name(level lvl) noexcept {
  const auto ordinal = static_cast<std::uint32_t>(lvl);
  return ordinal < std::size(level_names) ? level_names[ordinal] : std::string_view{};
}

std::optional<std::string> format_time(std::uint64_t file_time) {
  if (file_time > 0x7FFF'FFFF'FFFF'FFFFull) return std::nullopt;
  const std::uint64_t ms = file_time / ticks_per_ms;
  const auto days = static_cast<std::int64_t>(ms / ms_per_day);
  const std::uint64_t ms_of_day = ms % ms_per_day;
  const civil_date date = civil_from_days(days - days_to_unix_epoch);
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}.{:03}", date.year, date.month, date.day,
                     ms_of_day / 3'600'000, ms_of_day / 60'000 % 60, ms_of_day / 1'000 % 60,
                     ms_of_day % 1'000);
}

std::string format_line(const event& e) noexcept {
  try {
    const std::optional<std::string> time = format_time(e.time);
    if (!time) return {};
    const std::string_view module(e.where.module, ::strnlen(e.where.module, 11));
    const std::string_view file_id(e.where.file_id, ::strnlen(e.where.file_id, 6));
    return fmt::format("[{}] [{:7}] [{:11}] [{:5}:{:5}] [{:6}:{:4}] {}", *time, level_name(e.lvl),
                       module, e.process_id, e.thread_id, file_id, e.where.line, e.message);
  } catch (...) {
    try {
      return "event formatting failed";
    } catch (...) {
      return {};
    }
  }
}

std::string apply_context(std::string_view context, std::string message) {
  if (context.empty()) return message;
  return fmt::format("{{{}}} {}", context, message);
}

std::string render_exception(const std::exception& e) {
  std::string text = fmt::format("Exception: {}", e.what());
  const auto* coded = dynamic_cast<const exceptions::detail::base*>(&e);
  if (coded && coded->has_code()) {
    text += e.what()[0] != '\0' ? "\nCode: " : "Code: ";
    text += fmt::format("{:#010x} ({})", coded->code(), detail::system_message(coded->code()));
  }
  return text;
}

}  // namespace vyn::log
