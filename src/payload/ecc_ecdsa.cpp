#include "payload/ecc_ecdsa.h"

#include <exception>

namespace vyn::sfx::crypto {
namespace {

using namespace p256;

std::optional<affine> decode(std::span<const std::uint8_t> bytes) {
  affine a;
  if (bytes.size() == 65 && bytes[0] == 0x04) bytes = bytes.subspan(1);
  if (bytes.size() == 64) {
    a.x = fe_from_be(bytes.first<32>());
    a.y = fe_from_be(bytes.subspan<32, 32>());
  } else if (bytes.size() == 33 && (bytes[0] == 0x02 || bytes[0] == 0x03)) {
    a.x = fe_from_be(bytes.subspan<1, 32>());
    if (!fe_sqrt(curve_rhs(a.x), a.y)) return std::nullopt;
    if (fe_is_odd(a.y) != (bytes[0] == 0x03)) a.y = fe_neg(a.y);
  } else {
    return std::nullopt;
  }
  if (!on_curve(a)) return std::nullopt;
  return a;
}

bool check(const affine& key, std::span<const std::uint8_t, 32> digest,
           std::span<const std::uint8_t, 64> signature) {
  const natural& n = order();
  const natural r = natural::from_be_bytes(signature.first<32>());
  const natural s = natural::from_be_bytes(signature.last<32>());
  if (r.is_zero() || s.is_zero() || !(r < n) || !(s < n)) return false;
  const natural e = mod(natural::from_be_bytes(digest), n);
  const natural w = mod_inverse(s, n);
  const jacobian point = double_scalar_mult(mod_mul(e, w, n), mod_mul(r, w, n), key);
  if (is_infinity(point)) return false;
  // x(point) mod n == r, without an inversion: X == r'·Z² for r' = r or r + n (when below p).
  const fe z2 = fe_sqr(point.z);
  if (fe_mul(fe_from_natural(r), z2) == point.x) return true;
  const natural r_plus_n = add(r, n);
  return r_plus_n < prime() && fe_mul(fe_from_natural(r_plus_n), z2) == point.x;
}

}  // namespace

std::optional<affine> decode_ecdsa_key(std::span<const std::uint8_t> bytes) noexcept {
  try {
    return decode(bytes);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool ecdsa_verify(const affine& key, std::span<const std::uint8_t, 32> digest,
                  std::span<const std::uint8_t, 64> signature) noexcept {
  try {
    return check(key, digest, signature);
  } catch (const std::exception&) {
    return false;
  }
}

bool ecdsa_verify(std::span<const std::uint8_t> public_key, std::span<const std::uint8_t, 32> digest,
                  std::span<const std::uint8_t, 64> signature) noexcept {
  const auto key = decode_ecdsa_key(public_key);
  return key && ecdsa_verify(*key, digest, signature);
}

}  // namespace vyn::sfx::crypto
