#include "foundation/logger.h"

#include <deque>
#include <exception>

#include "foundation/exceptions.h"
#include "foundation/strings.h"

namespace vyn::log::detail {
namespace {

constexpr std::size_t default_history_capacity = 256;

std::uint32_t checked(std::uint32_t threshold) {
  if (threshold > threshold_off) throw exceptions::error(87u);  // ERROR_INVALID_PARAMETER
  return threshold;
}

// Events wait here until the thread that logged them dispatches them. A sink that logs while it
// writes (even under its own lock) only adds to the queue, which the outermost call drains before
// it returns.
struct queued_event {
  logger_core* target;
  event e;
};

struct event_queue {
  std::deque<queued_event> events;
};

// The queue of the thread's outermost logging call, which owns it on its stack. Only trivially
// destructible objects are thread-local here: with this toolchain the destructor of a
// thread-local object of a secondary thread runs after the thread's storage for it was freed.
thread_local event_queue* active_queue = nullptr;

class active_scope {
 public:
  explicit active_scope(event_queue& queue) noexcept { active_queue = &queue; }
  ~active_scope() { active_queue = nullptr; }
  active_scope(const active_scope&) = delete;
  active_scope& operator=(const active_scope&) = delete;
};

}  // namespace

logger_core::logger_core()
    : debugger_threshold_(0),
      file_threshold_(0),
      flush_threshold_(threshold_off),
      stream_threshold_(threshold_off),
      history_threshold_(threshold_off),
      history_capacity_(default_history_capacity) {}

logger_core::~logger_core() = default;

bool logger_core::is_enabled(level lvl) const noexcept {
  return reaches(lvl, debugger_threshold_) || reaches(lvl, history_threshold_) ||
         (stream_set_ && reaches(lvl, stream_threshold_)) ||
         (file_open_ && reaches(lvl, file_threshold_));
}

std::string logger_core::render_exception(const std::exception& e) const {
  return log::render_exception(e);
}

history_settings logger_core::set_history(std::uint32_t threshold, std::size_t capacity) {
  checked(threshold);
  std::lock_guard guard(history_lock_);
  const history_settings previous{history_threshold_.exchange(threshold), history_capacity_};
  history_capacity_ = capacity;
  while (history_.size() > history_capacity_) history_.pop_front();
  return previous;
}

std::uint32_t logger_core::set_debugger_threshold(std::uint32_t threshold) {
  return debugger_threshold_.exchange(checked(threshold));
}

std::uint32_t logger_core::file_threshold() const noexcept { return file_threshold_; }

std::uint32_t logger_core::set_file_threshold(std::uint32_t threshold) {
  return file_threshold_.exchange(checked(threshold));
}

std::uint32_t logger_core::set_flush_threshold(std::uint32_t threshold) {
  return flush_threshold_.exchange(checked(threshold));
}

bool logger_core::open_file(const std::wstring& path, std::uint64_t max_size,
                            std::uint32_t threshold) {
  file_threshold_ = checked(threshold);
  try {
    std::shared_ptr<file_sink_intf> sink = open_file_sink(path, max_size);
    std::lock_guard guard(file_lock_);
    file_ = std::move(sink);
    file_open_ = true;
  } catch (const std::exception& e) {
    try {
      debugger_output(log::render_exception(e) + "\n");
    } catch (...) {
    }
  }
  return file_open_;
}

stream_settings logger_core::set_stream(std::FILE* stream, std::uint32_t threshold) {
  checked(threshold);
  std::lock_guard guard(stream_lock_);
  const stream_settings previous{stream_, stream_threshold_.exchange(threshold)};
  stream_ = stream;
  stream_set_ = stream != nullptr;
  return previous;
}

void logger_core::log(level lvl, const source_location& where, std::string_view message) {
  log_message(lvl, where, std::string(message));
}

void logger_core::log(level lvl, const source_location& where, std::wstring_view message) {
  log_message(lvl, where, utils::to_log(message));
}

void logger_core::log_message(level lvl, const source_location& where, std::string message) {
  event e{lvl, where, apply_context(thread_context(), std::move(message)), system_time(),
          current_process_id(), current_thread_id()};
  if (active_queue) {
    active_queue->events.push_back({this, std::move(e)});
    return;
  }
  event_queue queue;
  const active_scope active(queue);
  queue.events.push_back({this, std::move(e)});
  std::exception_ptr failure;
  while (!queue.events.empty()) {
    const queued_event next = std::move(queue.events.front());
    queue.events.pop_front();
    try {
      next.target->dispatch(next.e);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

std::list<event> logger_core::history() const {
  std::lock_guard guard(history_lock_);
  return history_;
}

std::wstring logger_core::file_path() const {
  const std::shared_ptr<file_sink_intf> sink = file();
  return sink ? sink->path() : std::wstring();
}

void logger_core::write_raw(std::string_view bytes) {
  if (const std::shared_ptr<file_sink_intf> sink = file()) sink->write(bytes, false);
}

void logger_core::shut_down() noexcept {
  debugger_threshold_ = threshold_off;
  file_threshold_ = threshold_off;
  history_threshold_ = threshold_off;
  stream_threshold_ = threshold_off;
  {
    std::lock_guard guard(stream_lock_);
    stream_set_ = false;
    stream_ = nullptr;
  }
  std::shared_ptr<file_sink_intf> closing;
  {
    std::lock_guard guard(file_lock_);
    file_open_ = false;
    closing = std::move(file_);
  }
  std::lock_guard guard(history_lock_);
  history_.clear();
}

void logger_core::use_file_sink(std::shared_ptr<file_sink_intf> sink) noexcept {
  std::shared_ptr<file_sink_intf> closing;
  std::lock_guard guard(file_lock_);
  closing = std::exchange(file_, std::move(sink));
  file_open_ = file_ != nullptr;
}

void logger_core::dispatch(const event& e) {
  std::string line;
  bool formatted = false;
  const auto text = [&]() -> const std::string& {
    if (!formatted) line = format_line(e), formatted = true;
    return line;
  };
  if (reaches(e.lvl, debugger_threshold_)) debugger_output(text() + "\n");
  if (stream_set_ && reaches(e.lvl, stream_threshold_)) {
    const std::string out = text() + "\n";
    std::lock_guard guard(stream_lock_);
    if (stream_) {
      std::fwrite(out.data(), 1, out.size(), stream_);
      std::fflush(stream_);
    }
  }
  if (reaches(e.lvl, history_threshold_)) keep_in_history(e);
  if (file_open_ && reaches(e.lvl, file_threshold_)) {
    if (const std::shared_ptr<file_sink_intf> sink = file()) {
      sink->write(text() + "\r\n", reaches(e.lvl, flush_threshold_));
    }
  }
}

std::shared_ptr<file_sink_intf> logger_core::file() const {
  std::lock_guard guard(file_lock_);
  return file_;
}

void logger_core::keep_in_history(const event& e) {
  std::lock_guard guard(history_lock_);
  if (history_capacity_ == 0) return;
  history_.push_back(e);
  while (history_.size() > history_capacity_) history_.pop_front();
}

}  // namespace vyn::log::detail
