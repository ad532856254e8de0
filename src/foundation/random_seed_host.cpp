// Seed of the random pool in host tools (the maker tool and host tests), where the random device
// is the natural source.
#include <chrono>
#include <random>
#include <thread>

#include "foundation/random_pool.h"

namespace vyn::utils {
namespace {

void append(std::vector<std::uint8_t>& seed, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) seed.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

std::vector<std::uint8_t> gather_seed() {
  std::vector<std::uint8_t> seed;
  std::random_device device;
  for (int i = 0; i < 8; ++i) append(seed, device());
  append(seed, static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));
  append(seed, static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  append(seed, std::hash<std::thread::id>{}(std::this_thread::get_id()));
  append(seed, random_pool::time_stamp());
  return seed;
}

}  // namespace vyn::utils
