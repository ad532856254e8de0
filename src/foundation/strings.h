#pragma once
// Conversions between UTF-8 (logs, exception messages, JSON) and wide text (paths, XML, UI).
// The strict conversions fail loudly on text that is not well formed; the log form never fails.

#include <concepts>
#include <string>
#include <string_view>

namespace vyn::utils {

// UTF-16 (UTF-32 on the host) to UTF-8. Raises vyn::exceptions::error
// "to_narrow<wchar_t>::WideCharToMultiByte" on an unpaired surrogate.
std::string to_narrow(std::wstring_view text);

// UTF-8 to UTF-16 (UTF-32 on the host). Raises vyn::exceptions::error
// "to_wide<char>::MultiByteToWideChar" on bytes that are not UTF-8.
std::wstring to_wide(std::string_view text);

// UTF-8 for a log line: never fails; what cannot be converted becomes U+FFFD.
std::string to_log(std::wstring_view text) noexcept;

// ASCII-only case folding as the C locale does it, per UTF-16 code unit.
wchar_t fold_case(wchar_t c) noexcept;
bool iequals(std::wstring_view a, std::wstring_view b) noexcept;
// Position of the first case-insensitive occurrence of needle, or npos.
std::size_t ifind(std::wstring_view haystack, std::wstring_view needle) noexcept;

// The decimal text of an integer, as std::to_wstring writes it. std::to_wstring goes through the
// C library's formatted output, which would bring all of that into the stub; std::to_string does not.
template <std::integral T>
std::wstring decimal(T value) {
  const std::string text = std::to_string(value);
  return std::wstring(text.begin(), text.end());
}

// A number with `decimals` digits after the point (at most 9), rounded to nearest as "%.*f"
// writes it: "-0.500", "12.345678", "inf", "nan". The stub keeps the C library's formatted
// output, and fmt's floating-point writers, out of its image.
std::string fixed(double value, int decimals);

}  // namespace vyn::utils
