#pragma once
// The process's source of random numbers: a 32-byte pool mixed with SHA-256. The pool starts as
// the digest of the machine's entropy sources; each draw replaces it by SHA-256(pool || time-stamp
// counter) and hands out the first 8 bytes of the new pool.

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace vyn::utils {

class random_pool {
 public:
  // The pool becomes SHA-256(seed).
  explicit random_pool(std::span<const std::uint8_t> seed);

  // Mixes counter into the pool and returns the first 8 bytes of the new pool, little-endian.
  // Thread-safe.
  std::uint64_t next(std::uint64_t counter);

  // The processor's time-stamp counter (a monotonic clock where there is none).
  static std::uint64_t time_stamp() noexcept;

 private:
  std::mutex lock_;
  std::array<std::uint8_t, 32> pool_{};
};

// The entropy this process collects on first use of the pool: on Windows the system time,
// process and thread ids, memory status, free disk space, system times, performance counter,
// time-stamp counter and bytes of the system's cryptographic provider; elsewhere the random
// device and the clocks.
std::vector<std::uint8_t> gather_seed();

}  // namespace vyn::utils
