// The front end's entry points: they reach the process logger, which exists from the first
// logging call until the process ends.
#include "foundation/log.h"

#include "foundation/logger.h"
#include "foundation/log_system.h"

namespace vyn::log {
namespace {

// The thread's objects are destroyed before the process's at-exit work, which still logs; the
// flag, which needs no destruction, tells that the context is gone.
thread_local bool context_gone = false;

struct context_slot {
  std::string text;
  ~context_slot() { context_gone = true; }
};
thread_local context_slot context;

}  // namespace

bool enabled(level lvl) noexcept {
  detail::LogModule* module = detail::LogModule::instance();
  return module && module->logger().is_enabled(lvl);
}

// A log file that cannot be written (a full disk) must not change what the program does: the
// failure goes to the debugger output instead of to the code that logged.
void write(level lvl, const source_location& where, std::string message) noexcept {
  detail::LogModule* module = detail::LogModule::instance();
  if (!module) return;
  try {
    module->core().log_message(lvl, where, std::move(message));
  } catch (const std::exception& e) {
    try {
      detail::debugger_output("Log write failed: " + render_exception(e) + "\n");
    } catch (...) {
    }
  } catch (...) {
  }
}

std::string set_thread_context(std::string text) {
  return context_gone ? std::string() : std::exchange(context.text, std::move(text));
}

std::string_view thread_context() noexcept {
  return context_gone ? std::string_view() : std::string_view(context.text);
}

}  // namespace vyn::log
