#pragma once
// The program's logging front end. Every component logs through the VYN_LOG_* macros:
//
//   VYN_LOG_INFO("SFX temp folder '{}' created.", vyn::utils::to_log(path));
//   VYN_LOG_EXC(vyn::log::level::error, e, "Fail on read value {}.", step);
//
// The macros capture the module tag "isfx", an identifier of the source file and the line at the
// call site, format the message from a brace template (checked at compile time) only when some
// sink takes the level, and hand the event to the process-wide logger, which writes it before
// the call returns.

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include <fmt/format.h>

namespace vyn::log {

enum class level : std::uint32_t {
  debug = 0,
  block = 1,
  info = 2,
  fnction = 3,
  notice = 4,
  warning = 5,
  thread = 6,
  error = 7,
  fatal = 8,
};

// Constant per call site.
struct source_location {
  char module[12];      // tag of up to 11 characters, NUL-padded
  char file_id[9];      // 8 upper-case hexadecimal digits naming the source file, NUL-terminated
  std::uint32_t line;
};

// True when at least one sink takes events of this level. Cheap: no lock, no allocation.
bool enabled(level lvl) noexcept;

// Dispatches one event to every sink before returning. Never raises: a failed write to the log
// file (a full disk) goes to the debugger output, so that logging never changes the outcome of
// what logs. The logger's own log operations (logger.h) do raise such a failure.
void write(level lvl, const source_location& where, std::string message) noexcept;

// "Exception: <what>", followed by "Code: 0x%08x (<system text>)" when the exception carries a
// system error code (on a new line when the exception has a text).
std::string render_exception(const std::exception& e);

// The calling thread's context: a text shown in braces before every message the thread logs
// ("{context} message"); empty for none. The setter returns the previous text.
std::string set_thread_context(std::string context);
std::string_view thread_context() noexcept;

// Sets the thread's context for the lifetime of the object and restores the previous one.
class scoped_context {
 public:
  explicit scoped_context(std::string context) : previous_(set_thread_context(std::move(context))) {}
  ~scoped_context() { set_thread_context(std::move(previous_)); }
  scoped_context(const scoped_context&) = delete;
  scoped_context& operator=(const scoped_context&) = delete;

 private:
  std::string previous_;
};

namespace detail {

consteval std::uint32_t fnv1a(std::string_view text) {
  std::uint32_t hash = 2166136261u;
  for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return hash;
}

consteval std::string_view base_name(std::string_view path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

consteval source_location make_location(std::string_view module, std::string_view file,
                                        std::uint32_t line) {
  source_location where{};
  for (std::size_t i = 0; i < module.size() && i < 11; ++i) where.module[i] = module[i];
  const std::uint32_t tag = fnv1a(base_name(file));
  constexpr char digits[] = "0123456789ABCDEF";
  for (int i = 0; i < 8; ++i) where.file_id[i] = digits[(tag >> (28 - 4 * i)) & 0xF];
  where.line = line;
  return where;
}

// The stub's fmt writes no floating-point numbers (they would come out empty): a number with a
// fraction is logged as text, from utils::fixed.
template <class... Args>
constexpr bool no_floating_point = (!std::is_floating_point_v<std::remove_cvref_t<Args>> && ...);

template <class... Args>
void emit(level lvl, const source_location& where, fmt::format_string<Args...> text,
          Args&&... args) {
  static_assert(no_floating_point<Args...>, "log a floating-point number as utils::fixed(value, decimals)");
  std::string message;
  try {
    message = fmt::format(text, std::forward<Args>(args)...);
  } catch (...) {
    message = "event formatting failed";
  }
  write(lvl, where, std::move(message));
}

template <class... Args>
void emit_exception(level lvl, const source_location& where, const std::exception& e,
                    fmt::format_string<Args...> text, Args&&... args) {
  static_assert(no_floating_point<Args...>, "log a floating-point number as utils::fixed(value, decimals)");
  std::string message;
  try {
    message = fmt::format(text, std::forward<Args>(args)...);
    message += ' ';
    message += render_exception(e);
  } catch (...) {
    message = "event formatting failed";
  }
  write(lvl, where, std::move(message));
}

}  // namespace detail
}  // namespace vyn::log

#define VYN_LOG_WHERE_(name)                               \
  static constexpr ::vyn::log::source_location name =      \
      ::vyn::log::detail::make_location("isfx", __FILE__, __LINE__)

#define VYN_LOG(lvl, ...)                                                       \
  do {                                                                          \
    VYN_LOG_WHERE_(vyn_log_where_);                                             \
    if (::vyn::log::enabled(lvl)) ::vyn::log::detail::emit(lvl, vyn_log_where_, __VA_ARGS__); \
  } while (false)

// Logs the message followed by the rendering of the exception.
#define VYN_LOG_EXC(lvl, exc, ...)                                              \
  do {                                                                          \
    VYN_LOG_WHERE_(vyn_log_where_);                                             \
    if (::vyn::log::enabled(lvl))                                               \
      ::vyn::log::detail::emit_exception(lvl, vyn_log_where_, exc, __VA_ARGS__); \
  } while (false)

#define VYN_LOG_DEBUG(...) VYN_LOG(::vyn::log::level::debug, __VA_ARGS__)
#define VYN_LOG_INFO(...) VYN_LOG(::vyn::log::level::info, __VA_ARGS__)
#define VYN_LOG_WARNING(...) VYN_LOG(::vyn::log::level::warning, __VA_ARGS__)
#define VYN_LOG_ERROR(...) VYN_LOG(::vyn::log::level::error, __VA_ARGS__)
#define VYN_LOG_FATAL(...) VYN_LOG(::vyn::log::level::fatal, __VA_ARGS__)
