#include "foundation/lifetime.h"
#include "foundation/logger.h"

namespace vyn::log {
namespace detail {
namespace {

// The process module and its logger are lifetime objects, created on first use, so that code
// running during static initialisation may log. The module goes before the logger, which it
// writes its last lines through; after the module is destroyed logging calls find no module and
// do nothing.
constinit lifetime::lifetime_object<Logger> logger_holder(lifetime::longevity::logger_holder);
constinit lifetime::lifetime_object<LogModule> module_holder(lifetime::longevity::log_module);

constexpr std::size_t separator_length = 117;

}  // namespace

// Logging while the module is being made (from the thread making it) or after it is gone finds
// no module.
LogModule* LogModule::instance() noexcept {
  if (LogModule* module = module_holder.find()) return module;
  if (module_holder.destroyed()) return nullptr;
  try {
    return &module_holder.get([] { return LogModule(process_tag{}); });
  } catch (...) {
    return nullptr;
  }
}

LogModule::LogModule()
    : owned_logger_(std::make_unique<PrivateLogger>(*this)), logger_(owned_logger_.get()) {}

LogModule::LogModule(process_tag) : logger_(&logger_holder.get()) {}

LogModule::~LogModule() {
  try {
    logger_->write_raw(std::string(separator_length, '=') + "\r\n");
  } catch (...) {
  }
  try {
    VYN_LOG_WHERE_(destroyed);
    logger_->log_message(level::info, destroyed, "LogModule is going to be destroyed.");
    if (references() != 0) {
      VYN_LOG_WHERE_(still_held);
      logger_->log_message(level::warning, still_held,
                           "Module being destroyed is still held somewhere else");
    }
  } catch (...) {
  }
  if (!owned_logger_) logger_->shut_down();
}

void Logger::add_ref() noexcept {
  if (LogModule* module = LogModule::instance()) module->add_ref();
}

void Logger::release() noexcept {
  if (LogModule* module = LogModule::instance()) module->release();
}

std::uint32_t Logger::references() const noexcept {
  const LogModule* module = LogModule::instance();
  return module ? module->references() : 0;
}

ILogModule* Logger::module() const noexcept { return LogModule::instance(); }

void PrivateLogger::add_ref() noexcept { owner_->add_ref(); }
void PrivateLogger::release() noexcept { owner_->release(); }
std::uint32_t PrivateLogger::references() const noexcept { return owner_->references(); }
ILogModule* PrivateLogger::module() const noexcept { return owner_; }

}  // namespace detail

logger_ref acquire_logger() {
  detail::LogModule* module = detail::LogModule::instance();
  return module ? logger_ref(&module->logger()) : logger_ref();
}

logger_ref open_log(const std::wstring& path, std::uint64_t max_size) {
  logger_ref logger = acquire_logger();
  if (logger) {
    logger->open_file(path, max_size, 0);
    logger->set_flush_threshold(static_cast<std::uint32_t>(level::error));
  }
  return logger;
}

}  // namespace vyn::log
