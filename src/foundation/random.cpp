// Stand-in source until the random pool exists: the operating system's random device.
#include "foundation/random.h"

#include <mutex>
#include <random>

#include <fmt/format.h>

namespace vyn::utils {

std::uint64_t random_u64() {
  static std::mutex lock;
  static std::random_device device;
  std::lock_guard guard(lock);
  return (static_cast<std::uint64_t>(device()) << 32) | device();
}

std::string random_uuid() {
  const std::uint64_t high = random_u64();
  return format_uuid_v4(high, random_u64());
}

std::string format_uuid_v4(std::uint64_t high, std::uint64_t low) {
  high = (high & ~0xF000ull) | 0x4000ull;                      // version 4
  low = (low & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;  // variant 10
  const auto byte = [low](int i) { return static_cast<unsigned>((low >> (56 - 8 * i)) & 0xFF); };
  return fmt::format("{:08x}-{:04x}-{:04x}-{:02x}{:02x}-{:02x}{:02x}{:02x}{:02x}{:02x}{:02x}",
                     static_cast<std::uint32_t>(high >> 32),
                     static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                     byte(0), byte(1), byte(2), byte(3), byte(4), byte(5), byte(6), byte(7));
}

}  // namespace vyn::utils
