// Time of the signature checks the stub makes: one DSA key, one ECDSA key, and key set 8 with a
// signature no key accepts (every key tried: the worst case of the extended check). Prints the
// best wall-clock time per check over several rounds and the thread's CPU time per check over all
// of them (on a machine shared with other work the CPU time is the steadier figure).

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "payload/bigint_montgomery.h"
#include "payload/bigint_vector.h"
#include "payload/dsa_verify.h"
#include "payload/ecc_ecdsa.h"
#include "payload/keys.h"
#include "payload/signature_check.h"
#include "payload/signature_testing.h"

namespace {

using namespace vyn::sfx;

// CPU time of the calling thread in microseconds.
double thread_cpu_us() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
  auto us = [](const FILETIME& t) { return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 10.0; };
  return us(kernel) + us(user);
#else
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
#endif
}

struct timing {
  double best_us, cpu_us;
};

timing measure(int rounds, int per_round, const std::function<bool()>& check, bool expected) {
  std::vector<double> samples;
  const double cpu_start = thread_cpu_us();
  for (int r = 0; r < rounds; ++r) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < per_round; ++i) {
      if (check() != expected) {
        std::fprintf(stderr, "unexpected check result\n");
        std::exit(1);
      }
    }
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    samples.push_back(took.count() / per_round);
  }
  const double cpu = (thread_cpu_us() - cpu_start) / (rounds * per_round);
  return {*std::min_element(samples.begin(), samples.end()), cpu};
}

void report(const char* what, const timing& t, double goal_us) {
  std::printf("%-46s best %9.1f us   cpu %9.1f us   (goal %.0f us)\n", what, t.best_us, t.cpu_us, goal_us);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  std::array<std::uint8_t, 32> digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(0x5A ^ (i * 29));
  const auto& set7 = keys::build_key_set(7);
  const auto dsa_sig = testing::sign_digest(testing::test_key(7, signature::key_kind::dsa, 0), digest);
  const auto ecdsa_sig = testing::sign_digest(testing::test_key(7, signature::key_kind::ecdsa, 0), digest);

  report("DSA-2048/256 check (key set 7, key 0)",
         measure(rounds, 20, [&] { return crypto::dsa_verify(set7.dsa[0], digest, dsa_sig); }, true), 1000);
  report("ECDSA P-256 check (key set 7, key 0)",
         measure(rounds, 50, [&] { return crypto::ecdsa_verify(set7.ecdsa[0], digest, ecdsa_sig); }, true), 300);

  // The exponentiation that dominates a DSA check, on each arithmetic the stub may use.
  {
    const auto& key = set7.dsa[0];
    const crypto::natural p = crypto::natural::from_be_bytes(key.p), q = crypto::natural::from_be_bytes(key.q);
    const crypto::natural bases[] = {crypto::natural::from_be_bytes(key.g), crypto::natural::from_be_bytes(key.y)};
    const crypto::natural exponents[] = {crypto::sub(q, crypto::natural(12345)), crypto::sub(q, crypto::natural(6789))};
    const crypto::natural expected = crypto::multi_exp<64>(crypto::montgomery<64>(p), bases, exponents);
    using crypto::vector::width;
    if (crypto::vector::wide_available()) {
      report("  DSA exponentiation, AVX2", measure(rounds, 20, [&] {
        return crypto::vector::multi_exp(p, bases, exponents, width::avx2) == expected; }, true), 1000);
    }
    if (crypto::vector::available()) {
      report("  DSA exponentiation, SSE2", measure(rounds, 20, [&] {
        return crypto::vector::multi_exp(p, bases, exponents, width::sse2) == expected; }, true), 1000);
    }
    report("  DSA exponentiation, portable (no vectors)", measure(std::max(3, rounds / 3), 5, [&] {
      return crypto::multi_exp<64>(crypto::montgomery<64>(p), bases, exponents) == expected; }, true), 1000);
  }

  // A signed block of 4 KiB that key set 8 does not accept: all 10 DSA and 7 ECDSA keys tried.
  std::vector<std::uint8_t> data(4096, 0x42);
  const auto signed_data = testing::sign(data, {}, 7, signature::key_kind::dsa, 0);
  const auto& set8 = keys::build_key_set(8);
  char label[96];
  std::snprintf(label, sizeof label, "key set 8, no key accepts (%zu DSA + %zu ECDSA)", set8.dsa.size(),
                set8.ecdsa.size());
  report(label, measure(std::max(3, rounds / 3), 2, [&] { return signature::is_signed(signed_data, 8); }, false),
         1000.0 * static_cast<double>(set8.dsa.size()) + 300.0 * static_cast<double>(set8.ecdsa.size()));
  return 0;
}
