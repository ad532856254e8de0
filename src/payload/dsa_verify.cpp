#include "payload/dsa_verify.h"

#include <array>
#include <exception>

#include "payload/bigint.h"
#include "payload/bigint_montgomery.h"
#include "payload/bigint_vector.h"

namespace vyn::sfx::crypto {
namespace {

constexpr std::size_t p_words = 64;  // 2048 bits

bool check(const dsa_public_key& key, std::span<const std::uint8_t, 32> digest,
           std::span<const std::uint8_t, 64> signature) {
  const natural p = natural::from_be_bytes(key.p);
  const natural q = natural::from_be_bytes(key.q);
  const natural g = natural::from_be_bytes(key.g);
  const natural y = natural::from_be_bytes(key.y);
  if (p.size() > p_words || !p.is_odd() || !q.is_odd() || compare(q, natural(3)) < 0 ||
      compare(g, natural(2)) < 0 || !(g < p) || compare(y, natural(2)) < 0 || !(y < p)) {
    return false;
  }
  const natural r = natural::from_be_bytes(signature.first<32>());
  const natural s = natural::from_be_bytes(signature.last<32>());
  if (r.is_zero() || s.is_zero() || !(r < q) || !(s < q)) return false;

  const natural w = mod_inverse(s, q);
  const natural h = natural::from_be_bytes(digest);
  const std::array<natural, 2> exponents{mod_mul(h, w, q), mod_mul(r, w, q)};
  const std::array<natural, 2> bases{g, y};
  const natural power = vector::available() ? vector::multi_exp(p, bases, exponents)
                                             : multi_exp<p_words>(montgomery<p_words>(p), bases, exponents);
  const natural v = mod(power, q);
  return v == r;
}

}  // namespace

bool dsa_verify(const dsa_public_key& key, std::span<const std::uint8_t, 32> digest,
                std::span<const std::uint8_t, 64> signature) noexcept {
  try {
    return check(key, digest, signature);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace vyn::sfx::crypto
