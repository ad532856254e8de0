#pragma once
// Reading a decimal number at the start of a text, the way the C library's string-to-integer
// conversion does: leading white space is skipped, an optional sign is taken, and the digits up
// to the first other character are the number.

#include <cstdint>
#include <string_view>

namespace vyn::sfx {

enum class decimal_status { ok, not_a_number, out_of_range };

struct decimal_result {
  decimal_status status = decimal_status::not_a_number;
  std::int32_t value = 0;  // meaningful only with decimal_status::ok
};

decimal_result parse_decimal_prefix(std::wstring_view text) noexcept;

}  // namespace vyn::sfx
