// Seed of the random pool on Windows. Every source is optional except the clocks and ids: a
// source that cannot be queried simply contributes nothing.
#include <windows.h>
#include <wincrypt.h>

#include "foundation/random_pool.h"

namespace vyn::utils {
namespace {

template <class T>
void append(std::vector<std::uint8_t>& seed, const T& value) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
  seed.insert(seed.end(), bytes, bytes + sizeof(T));
}

void append_crypto_bytes(std::vector<std::uint8_t>& seed) {
  HCRYPTPROV provider = 0;
  if (!::CryptAcquireContextW(&provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT)) {
    return;
  }
  std::uint8_t bytes[8] = {};
  if (::CryptGenRandom(provider, sizeof(bytes), bytes)) seed.insert(seed.end(), bytes, bytes + 8);
  ::CryptReleaseContext(provider, 0);
}

}  // namespace

std::vector<std::uint8_t> gather_seed() {
  std::vector<std::uint8_t> seed;
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  append(seed, now);
  append(seed, static_cast<std::uint32_t>(::GetCurrentProcessId()));
  append(seed, static_cast<std::uint32_t>(::GetCurrentThreadId()));

  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof(memory);
  if (::GlobalMemoryStatusEx(&memory)) {
    append(seed, static_cast<std::uint64_t>(memory.ullAvailPhys));
    append(seed, static_cast<std::uint64_t>(memory.ullAvailVirtual));
  }
  ULARGE_INTEGER free_bytes{};
  if (::GetDiskFreeSpaceExW(nullptr, &free_bytes, nullptr, nullptr)) {
    append(seed, static_cast<std::uint64_t>(free_bytes.QuadPart));
  }
  FILETIME idle{}, kernel{}, user{};
  if (::GetSystemTimes(&idle, &kernel, &user)) {
    append(seed, idle);
    append(seed, kernel);
    append(seed, user);
  }
  LARGE_INTEGER counter{};
  if (::QueryPerformanceCounter(&counter)) append(seed, static_cast<std::uint64_t>(counter.QuadPart));
  append(seed, random_pool::time_stamp());
  append_crypto_bytes(seed);
  return seed;
}

}  // namespace vyn::utils
