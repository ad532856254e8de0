#pragma once
// The process-wide logger behind the VYN_LOG_* macros, and the log module that owns it.
//
// The entry point opens the log before anything else:
//
//   const vyn::log::logger_ref logger = vyn::log::open_log(log_folder + L"\\sfx.log");
//
// From then on every event reaches the file (rotated to "<name>.old" once it holds 4 MiB), the
// debugger output, an optional C stream and an in-memory history, each with its own threshold.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "foundation/log.h"
#include "foundation/log_event.h"
#include "foundation/log_system.h"

namespace vyn::log {

inline constexpr std::uint64_t default_max_file_size = 0x400000;  // bytes

struct history_settings {
  std::uint32_t threshold;
  std::size_t capacity;  // events kept; all ones keeps every event
};

struct stream_settings {
  std::FILE* stream;  // not owned
  std::uint32_t threshold;
};

class ILogModule;

// Thresholds are level ordinals 0 to 8, or 9 for "nothing"; a setter given a larger value raises
// vyn::exceptions::error with code 87 and changes nothing. Every setter returns the previous
// value. Logging never raises, except when the write to an open log file fails.
//
// Modules built apart from the executable call through this table, so the order of the 17
// operations is fixed: the module references first, then is_enabled, render_exception (5),
// set_history (6), the thresholds (7 to 10), open_file (11), set_stream (12) and the rest.
class ILogger {
 public:
  // Counted references to the module that owns this logger.
  virtual void add_ref() noexcept = 0;
  virtual void release() noexcept = 0;
  virtual std::uint32_t references() const noexcept = 0;
  virtual ILogModule* module() const noexcept = 0;

  // True when some sink takes events of this level.
  virtual bool is_enabled(level lvl) const noexcept = 0;
  virtual std::string render_exception(const std::exception& e) const = 0;
  virtual history_settings set_history(std::uint32_t threshold, std::size_t capacity) = 0;
  virtual std::uint32_t set_debugger_threshold(std::uint32_t threshold) = 0;
  virtual std::uint32_t file_threshold() const noexcept = 0;
  virtual std::uint32_t set_file_threshold(std::uint32_t threshold) = 0;
  // Events of this level or above are followed by a flush of the file buffers.
  virtual std::uint32_t set_flush_threshold(std::uint32_t threshold) = 0;
  // Opens the log file, rotating it once it holds max_size bytes or more, and sets the file
  // threshold. A failure goes to the debugger output and leaves the file sink as it was; the
  // result tells whether the file is open.
  virtual bool open_file(const std::wstring& path, std::uint64_t max_size,
                         std::uint32_t file_threshold) = 0;
  // The stream (not owned; null for none) receives each line and is flushed after it.
  virtual stream_settings set_stream(std::FILE* stream, std::uint32_t threshold) = 0;
  // Logs one event; it has reached every sink when the call returns.
  virtual void log(level lvl, const source_location& where, std::string_view message) = 0;
  virtual void log(level lvl, const source_location& where, std::wstring_view message) = 0;
  // The events kept in memory, oldest first.
  virtual std::list<event> history() const = 0;
  // Full path of the open log file; empty when none is open.
  virtual std::wstring file_path() const = 0;

 protected:
  ~ILogger() = default;
};

class ILogModule {
 public:
  virtual ILogger& logger() noexcept = 0;
  virtual void add_ref() noexcept = 0;
  virtual void release() noexcept = 0;
  virtual std::uint32_t references() const noexcept = 0;

 protected:
  ~ILogModule() = default;
};

namespace detail {

// Everything of a logger except how it finds its module.
class logger_core : public ILogger {
 public:
  logger_core();
  ~logger_core();

  bool is_enabled(level lvl) const noexcept override;
  std::string render_exception(const std::exception& e) const override;
  history_settings set_history(std::uint32_t threshold, std::size_t capacity) override;
  std::uint32_t set_debugger_threshold(std::uint32_t threshold) override;
  std::uint32_t file_threshold() const noexcept override;
  std::uint32_t set_file_threshold(std::uint32_t threshold) override;
  std::uint32_t set_flush_threshold(std::uint32_t threshold) override;
  bool open_file(const std::wstring& path, std::uint64_t max_size,
                 std::uint32_t file_threshold) override;
  stream_settings set_stream(std::FILE* stream, std::uint32_t threshold) override;
  void log(level lvl, const source_location& where, std::string_view message) override;
  void log(level lvl, const source_location& where, std::wstring_view message) override;
  std::list<event> history() const override;
  std::wstring file_path() const override;

  // Logs a message the caller has already formatted.
  void log_message(level lvl, const source_location& where, std::string message);
  // Appends the bytes to the open log file as they are; nothing when no file is open.
  void write_raw(std::string_view bytes);
  // Closes the file and turns every sink off; later events go nowhere.
  void shut_down() noexcept;
  // Takes the sink as the open log file in place of the current one (null closes it); for code
  // that embeds the logger and for tests that need a file that fails.
  void use_file_sink(std::shared_ptr<file_sink_intf> sink) noexcept;

 private:
  void dispatch(const event& e);
  std::shared_ptr<file_sink_intf> file() const;
  void keep_in_history(const event& e);

  std::atomic<std::uint32_t> debugger_threshold_;
  std::atomic<std::uint32_t> file_threshold_;
  std::atomic<std::uint32_t> flush_threshold_;
  std::atomic<std::uint32_t> stream_threshold_;
  std::atomic<std::uint32_t> history_threshold_;
  std::atomic<bool> file_open_{false};
  std::atomic<bool> stream_set_{false};

  mutable std::mutex file_lock_;
  std::shared_ptr<file_sink_intf> file_;

  std::mutex stream_lock_;
  std::FILE* stream_ = nullptr;

  mutable std::mutex history_lock_;
  std::list<event> history_;
  std::size_t history_capacity_;
};

// The process module's logger: it reaches its module through the process-wide singleton.
class Logger final : public logger_core {
 public:
  void add_ref() noexcept override;
  void release() noexcept override;
  std::uint32_t references() const noexcept override;
  ILogModule* module() const noexcept override;
};

// The logger of a module created on its own (tests, embedding code): it holds its module.
class PrivateLogger final : public logger_core {
 public:
  explicit PrivateLogger(ILogModule& owner) noexcept : owner_(&owner) {}
  void add_ref() noexcept override;
  void release() noexcept override;
  std::uint32_t references() const noexcept override;
  ILogModule* module() const noexcept override;

 private:
  ILogModule* owner_;
};

class LogModule final : public ILogModule {
 public:
  // The process-wide module, created on first use and destroyed in the at-exit sequence
  // (longevity 201001, its logger 200999); null once destroyed, and while it is being created.
  static LogModule* instance() noexcept;

  // A module of its own with a PrivateLogger, independent of the process-wide one.
  LogModule();
  // Writes a separator line to the open log file and logs that the module goes away.
  ~LogModule();
  LogModule(const LogModule&) = delete;
  LogModule& operator=(const LogModule&) = delete;

  ILogger& logger() noexcept override { return *logger_; }
  logger_core& core() noexcept { return *logger_; }
  void add_ref() noexcept override { references_.fetch_add(1, std::memory_order_relaxed); }
  void release() noexcept override { references_.fetch_sub(1, std::memory_order_acq_rel); }
  std::uint32_t references() const noexcept override {
    return references_.load(std::memory_order_acquire);
  }

 private:
  struct process_tag {};
  explicit LogModule(process_tag);

  std::atomic<std::uint32_t> references_{0};
  std::unique_ptr<logger_core> owned_logger_;  // a private module's logger
  // The process logger is a lifetime object of its own that outlives the module; the module turns
  // its sinks off when it goes.
  logger_core* logger_;
};

}  // namespace detail

// A counted reference to a logger; the log module reports at its destruction when one is still
// held. Empty when the process logger no longer exists.
class logger_ref {
 public:
  logger_ref() noexcept = default;
  explicit logger_ref(ILogger* logger) noexcept : logger_(logger) {
    if (logger_) logger_->add_ref();
  }
  logger_ref(const logger_ref& other) noexcept : logger_ref(other.logger_) {}
  logger_ref(logger_ref&& other) noexcept : logger_(std::exchange(other.logger_, nullptr)) {}
  logger_ref& operator=(logger_ref other) noexcept {
    std::swap(logger_, other.logger_);
    return *this;
  }
  ~logger_ref() {
    if (logger_) logger_->release();
  }

  ILogger* get() const noexcept { return logger_; }
  ILogger* operator->() const noexcept { return logger_; }
  explicit operator bool() const noexcept { return logger_ != nullptr; }

 private:
  ILogger* logger_ = nullptr;
};

// A reference to the process logger.
logger_ref acquire_logger();

// Opens the program's log file: every event goes to the file, which rotates once it holds
// max_size bytes or more; error and fatal events are flushed to disk. A failure to open goes to
// the debugger output and leaves the file closed.
logger_ref open_log(const std::wstring& path, std::uint64_t max_size = default_max_file_size);

}  // namespace vyn::log
