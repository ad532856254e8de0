// Forced into every C++ file of the Windows build (cmake/deps.cmake). The stub never formats a
// floating-point number with fmt, so fmt's float, double and long double writers, with their
// tables and the C library's printf behind them, stay out of the program.
//
// fmt answers a format string that names such an argument with FMT_ASSERT(false, ...) while it
// checks the string at compile time. In optimised builds its own FMT_ASSERT does nothing there,
// and the argument would silently print as nothing; this one calls a function that is not
// constexpr, so the check fails and such a call does not compile. At run time it does what
// fmt's does: nothing.
#pragma once

#ifdef __cplusplus
#define FMT_USE_FLOAT 0
#define FMT_USE_DOUBLE 0
#define FMT_USE_LONG_DOUBLE 0

#ifdef NDEBUG
namespace vyn_fmt_config {
inline void floating_point_is_not_formatted(const char*) noexcept {}
}  // namespace vyn_fmt_config
#define FMT_ASSERT(condition, message) \
  ((condition) ? (void)0 : ::vyn_fmt_config::floating_point_is_not_formatted(message))
#endif
#endif
