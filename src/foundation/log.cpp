// Interim logger: formats events in the final line format and writes them to an optional stream.
// The file sink, rotation, history and debugger output replace this with the logger proper.
#include "foundation/log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "foundation/exceptions.h"

namespace vyn::log {
namespace {

std::atomic<std::uint32_t> stream_threshold{9};
std::FILE* stream = nullptr;
std::mutex stream_lock;

constexpr const char* level_names[] = {"debug",   "block",  "info",  "fnction", "notice",
                                       "warning", "thread", "error", "fatal"};

std::string time_stamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto days = floor<std::chrono::days>(now);
  const year_month_day ymd{days};
  const hh_mm_ss hms{floor<milliseconds>(now - days)};
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}.{:03}", static_cast<int>(ymd.year()),
                     static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                     hms.hours().count(), hms.minutes().count(), hms.seconds().count(),
                     hms.subseconds().count());
}

}  // namespace

void set_stream_sink(std::FILE* sink, std::uint32_t threshold) {
  std::lock_guard lock(stream_lock);
  stream = sink;
  stream_threshold = threshold;
}

bool enabled(level lvl) noexcept {
  return static_cast<std::uint32_t>(lvl) >= stream_threshold.load(std::memory_order_relaxed);
}

void write(level lvl, const source_location& where, std::string message) {
  const auto ordinal = static_cast<std::uint32_t>(lvl);
  const char* name = ordinal < 9 ? level_names[ordinal] : "";
  const std::string line =
      fmt::format("[{}] [{:7}] [{:11}] [{:5}:{:5}] [{:6}:{:4}] {}\n", time_stamp(), name,
                  where.module, 0, 0, std::string_view(where.file_id, 6), where.line, message);
  std::lock_guard lock(stream_lock);
  if (stream && ordinal >= stream_threshold) {
    std::fputs(line.c_str(), stream);
    std::fflush(stream);
  }
}

std::string render_exception(const std::exception& e) {
  std::string text = fmt::format("Exception: {}", e.what());
  if (const auto* b = dynamic_cast<const exceptions::detail::base*>(&e); b && b->has_code()) {
    text += fmt::format("{}Code: {:#010x}", e.what()[0] ? "\n" : "", b->code());
  }
  return text;
}

}  // namespace vyn::log
