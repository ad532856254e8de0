// Throughput of our SHA-256 transforms (and, in the host build, of OpenSSL's EVP SHA-256) over
// one buffer. Prints one line per variant: "<name> <MB/s>", MB being 10^6 bytes of input per
// second of the measuring thread's processor time, so that other work on a shared machine does
// not count against a variant.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "foundation/sha256.h"

#ifdef VYN_BENCH_OPENSSL
#include <openssl/evp.h>
#endif

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace {

using clock_type = std::chrono::steady_clock;

// Seconds of processor time this thread has used.
double thread_seconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
  const auto ticks = [](FILETIME t) { return (std::uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime); };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
#else
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
#endif
}
using hash_fn = std::function<void(const std::vector<std::uint8_t>&)>;

struct variant {
  const char* name;
  hash_fn hash;
  double best = 0;  // MB/s
};

// The machine is shared, so the variants take turns: each round measures every variant for at
// least a third of a second, and each keeps its best round. Load that comes and goes then affects
// all of them alike.
void measure(std::vector<variant>& variants, const std::vector<std::uint8_t>& buffer, int rounds) {
  for (int round = 0; round < rounds; ++round) {
    for (auto& v : variants) {
      std::size_t bytes = 0;
      const auto wall_start = clock_type::now();
      const double start = thread_seconds();
      double used = 0;
      do {
        v.hash(buffer);
        bytes += buffer.size();
        used = thread_seconds() - start;
      } while (used < 0.3 || clock_type::now() - wall_start < std::chrono::milliseconds(300));
      v.best = std::max(v.best, static_cast<double>(bytes) / used / 1e6);
    }
  }
}

hash_fn ours(vyn::root::sha256::transform_fn transform) {
  auto hash = std::make_shared<vyn::root::sha256>(transform);
  return [hash](const std::vector<std::uint8_t>& data) {
    std::uint8_t out[32];
    hash->reset();
    hash->update(data.data(), data.size());
    hash->finish(out);
  };
}

#ifdef VYN_BENCH_OPENSSL
hash_fn openssl() {
  return [](const std::vector<std::uint8_t>& data) {
    static EVP_MD_CTX* context = EVP_MD_CTX_new();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
    EVP_DigestUpdate(context, data.data(), data.size());
    EVP_DigestFinal_ex(context, out, &length);
  };
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const std::size_t size = (argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 8) << 20;  // MiB
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 8;
  std::vector<std::uint8_t> buffer(size);
  for (std::size_t i = 0; i < size; ++i) buffer[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));

  std::vector<variant> variants{{"plain", ours(vyn::root::sha256::plain_transform())}};
  if (auto hardware = vyn::root::sha256::hardware_transform()) {
    variants.push_back({"sha-ni", ours(hardware)});
  }
#ifdef VYN_BENCH_OPENSSL
  variants.push_back({"openssl", openssl()});
#endif
  measure(variants, buffer, rounds);
  for (const auto& v : variants) std::printf("%s %.1f\n", v.name, v.best);
  return 0;
}
