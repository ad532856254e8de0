#include "payload/bigint_montgomery.h"

#include <algorithm>

namespace vyn::sfx::crypto {

std::size_t window_digits(const natural& exponent, unsigned width, std::span<std::uint8_t> digits) {
  const std::size_t bits = exponent.bit_length();
  if (bits > digits.size()) throw exceptions::error("Exponent too large!");
  std::fill(digits.begin(), digits.end(), std::uint8_t{0});
  std::size_t end = 0;
  for (std::size_t i = 0; i < bits;) {
    if (!exponent.bit(i)) {
      ++i;
      continue;
    }
    std::uint8_t value = 0;
    for (unsigned k = 0; k < width; ++k) {
      if (exponent.bit(i + k)) value = static_cast<std::uint8_t>(value | (1u << k));
    }
    digits[i] = value;
    end = i + 1;
    i += width;
  }
  return end;
}

}  // namespace vyn::sfx::crypto
