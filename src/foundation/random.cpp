#include "foundation/random.h"

#include <fmt/format.h>

#include "foundation/lifetime.h"
#include "foundation/random_pool.h"
#include "foundation/sha256.h"

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#else
#include <chrono>
#endif

namespace vyn::utils {

random_pool::random_pool(std::span<const std::uint8_t> seed) {
  root::sha256 hash;
  hash.update(seed.data(), seed.size());
  hash.finish(pool_.data());
}

std::uint64_t random_pool::next(std::uint64_t counter) {
  std::uint8_t tail[8];
  for (int i = 0; i < 8; ++i) tail[i] = static_cast<std::uint8_t>(counter >> (8 * i));
  std::lock_guard guard(lock_);
  root::sha256 hash;
  hash.update(pool_.data(), pool_.size());
  hash.update(tail, sizeof(tail));
  hash.finish(pool_.data());
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value |= std::uint64_t{pool_[static_cast<std::size_t>(i)]} << (8 * i);
  return value;
}

std::uint64_t random_pool::time_stamp() noexcept {
#if defined(__x86_64__) || defined(__i386__)
  return __rdtsc();
#else
  return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

namespace {

constinit lifetime::lifetime_object<random_pool> pool_holder(lifetime::longevity::random_pool);

}  // namespace

std::uint64_t random_u64() {
  random_pool& pool = pool_holder.get([] { return random_pool(gather_seed()); });
  return pool.next(random_pool::time_stamp());
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
