// Arbitrary bytes through the signature check (PE recognition, block location, digests, DSA and
// ECDSA with arbitrary r and s), through key decoding and DSA with arbitrary domains, and through
// the big-integer and P-256 arithmetic, whose results are checked against each other.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <vector>

#include "fuzz_signature_input.h"
#include "payload/bigint.h"
#include "payload/bigint_montgomery.h"
#include "payload/bigint_vector.h"
#include "payload/dsa_verify.h"
#include "payload/ecc_ecdsa.h"
#include "payload/signature_check.h"

namespace {

using namespace vyn::sfx;
using bytes = std::span<const std::uint8_t>;

// Consumes n bytes, padding with zeros when the input runs out.
std::vector<std::uint8_t> take(bytes& in, std::size_t n) {
  std::vector<std::uint8_t> out(n, 0);
  const std::size_t k = std::min(n, in.size());
  std::copy_n(in.begin(), k, out.begin());
  in = in.subspan(k);
  return out;
}

void require(bool condition) {
  if (!condition) __builtin_trap();
}

template <std::size_t N>
void check_montgomery(const crypto::natural& a, const crypto::natural& b, const crypto::natural& m) {
  if (!m.is_odd() || m.size() > N || compare(m, crypto::natural(3)) < 0) return;
  const crypto::montgomery<N> ctx(m);
  typename crypto::montgomery<N>::element x = ctx.to_mont(a), y = ctx.to_mont(b), z;
  ctx.mul(z, x, y);
  require(ctx.from_mont(z) == crypto::mod_mul(a, b, m));
  ctx.mul(z, x, x);
  require(ctx.from_mont(z) == crypto::mod_mul(a, a, m));
  const std::array<crypto::natural, 2> bases{a, b};
  const std::array<crypto::natural, 2> exps{crypto::mod(b, crypto::natural(64)), crypto::natural(3)};
  crypto::natural expected(1);
  for (unsigned i = 0; i < exps[0][0]; ++i) expected = crypto::mod_mul(expected, a, m);
  expected = crypto::mod_mul(expected, crypto::mod_mul(crypto::mod_mul(b, b, m), b, m), m);
  require(crypto::multi_exp<N>(ctx, bases, exps) == expected);
  if (crypto::vector::available()) {
    require(crypto::vector::multi_exp(m, bases, exps, crypto::vector::width::sse2) == expected);
    if (crypto::vector::wide_available()) {
      require(crypto::vector::multi_exp(m, bases, exps, crypto::vector::width::avx2) == expected);
    }
  }
}

void arithmetic(bytes in) {
  const std::size_t la = take(in, 1)[0] % 130, lb = take(in, 1)[0] % 130, lm = take(in, 1)[0] % 130;
  const auto a = crypto::natural::from_be_bytes(take(in, la * 4));
  const auto b = crypto::natural::from_be_bytes(take(in, lb * 4));
  const auto m = crypto::natural::from_be_bytes(take(in, lm * 4));
  if (m.is_zero()) return;
  crypto::natural q, r;
  crypto::divide(a, m, &q, &r);
  require(r < m);
  if (q.size() + m.size() <= crypto::max_words) require(crypto::add(crypto::mul(q, m), r) == a);
  if (m.is_odd() && compare(m, crypto::natural(1)) > 0) {
    try {
      const auto inverse = crypto::mod_inverse(a, m);
      require(crypto::mod_mul(inverse, a, m) == crypto::natural(1));
    } catch (const vyn::exceptions::error&) {
      // no inverse: a shares a factor with m
    }
  }
  check_montgomery<8>(a, b, m);
  check_montgomery<64>(a, b, m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  bytes in(data + 1, size - 1);
  const auto mode = static_cast<vyn::fuzz::signature_mode>(data[0] % vyn::fuzz::signature_modes);
  switch (mode) {
    case vyn::fuzz::signature_mode::locate:
      try {
        const auto pe = signature::recognise_pe(in);
        const auto considered = signature::considered_data(in, pe);
        require(considered.data() == in.data() && considered.size() <= in.size());
        if (const auto block = signature::locate_block(considered)) {
          require(block->signed_length < considered.size());
          (void)signature::signed_digest(in, pe, block->signed_length, block->version);
        }
      } catch (const std::exception&) {
      }
      break;
    case vyn::fuzz::signature_mode::check:
      try {
        (void)signature::check(in, 7);
      } catch (const std::exception&) {
      }
      // The stub's entry point never raises.
      (void)signature::is_signed(in, 7);
      break;
    case vyn::fuzz::signature_mode::ecdsa: {
      const auto key = take(in, take(in, 1)[0] % 70);
      const auto digest = take(in, 32), sig = take(in, 64);
      (void)crypto::ecdsa_verify(key, std::span<const std::uint8_t, 32>(digest.data(), 32),
                                 std::span<const std::uint8_t, 64>(sig.data(), 64));
      break;
    }
    case vyn::fuzz::signature_mode::dsa: {
      const auto p = take(in, 256), q = take(in, 32), g = take(in, 256), y = take(in, 256);
      const auto digest = take(in, 32), sig = take(in, 64);
      (void)crypto::dsa_verify({p, q, g, y}, std::span<const std::uint8_t, 32>(digest.data(), 32),
                               std::span<const std::uint8_t, 64>(sig.data(), 64));
      break;
    }
    case vyn::fuzz::signature_mode::arithmetic:
      try {
        arithmetic(in);
      } catch (const vyn::exceptions::error&) {
        // a result beyond the 129-word capacity
      }
      break;
  }
  return 0;
}
