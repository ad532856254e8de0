#pragma once
// The first byte of a fuzz input selects what the rest feeds.

#include <cstdint>

namespace vyn::fuzz {

enum class signature_mode : std::uint8_t {
  locate = 0,      // rest: data whose block is located and whose signed region is hashed
  check = 1,       // rest: data checked against key set 7 (key set 8 runs the same loop over 17 keys)
  ecdsa = 2,       // rest: key bytes (length from the next byte), 32 digest bytes, 64 signature bytes
  dsa = 3,         // rest: p (256), q (32), g (256), y (256), digest (32), signature (64)
  arithmetic = 4,  // rest: lengths and bytes of a, b, m for differential checks
};
inline constexpr std::uint8_t signature_modes = 5;

}  // namespace vyn::fuzz
