// The front end's entry points: they reach the process logger, which exists from the first
// logging call until the process ends.
#include "foundation/log.h"

#include "foundation/logger.h"
#include "foundation/log_system.h"

namespace vyn::log {
namespace {

// The thread's context, allocated only while it is not empty. It is a plain pointer because with
// this toolchain the destructor of a thread-local object of a secondary thread runs after the
// thread's storage for it was freed; a thread that ends with a context set leaves that text behind.
thread_local std::string* context = nullptr;

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
  std::string previous = context ? std::move(*context) : std::string();
  if (text.empty()) {
    delete context;
    context = nullptr;
  } else if (context) {
    *context = std::move(text);
  } else {
    context = new std::string(std::move(text));
  }
  return previous;
}

std::string_view thread_context() noexcept { return context ? std::string_view(*context) : std::string_view(); }

}  // namespace vyn::log
