#include "app/decimal.h"

#include <limits>

namespace vyn::sfx {
namespace {

bool is_c_space(wchar_t c) noexcept {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

}  // namespace

decimal_result parse_decimal_prefix(std::wstring_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && is_c_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';

  const std::int64_t limit = negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
                                      : std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  bool any_digit = false;
  bool overflow = false;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    any_digit = true;
    // Keep consuming digits after an overflow: the whole number is out of range.
    if (!overflow) {
      magnitude = magnitude * 10 + (text[i] - L'0');
      overflow = magnitude > limit;
    }
  }
  if (!any_digit) return {decimal_status::not_a_number, 0};
  if (overflow) return {decimal_status::out_of_range, 0};
  return {decimal_status::ok, static_cast<std::int32_t>(negative ? -magnitude : magnitude)};
}

}  // namespace vyn::sfx
