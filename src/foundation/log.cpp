// The front end's entry points: they reach the process logger, which exists from the first
// logging call until the process ends.
#include "foundation/log.h"

#include "foundation/logger.h"

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

void write(level lvl, const source_location& where, std::string message) {
  if (detail::LogModule* module = detail::LogModule::instance()) {
    module->core().log_message(lvl, where, std::move(message));
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
