#include "payload/ecc_p256.h"

#include <cstdint>

#include "foundation/exceptions.h"

namespace vyn::sfx::crypto::p256 {
namespace {

using field::p_words;
constexpr fe curve_b = {{0x27D2604B, 0x3BCE3C3E, 0xCC53B0F6, 0x651D06B0, 0x769886BC, 0xB3EBBD55,
                         0xAA3A93E7, 0x5AC635D8}};
constexpr affine g_point = {
    {{0xD898C296, 0xF4A13945, 0x2DEB33A0, 0x77037D81, 0x63A440F2, 0xF8BCE6E5, 0xE12C4247,
      0x6B17D1F2}},
    {{0x37BF51F5, 0xCBB64068, 0x6B315ECE, 0x2BCE3357, 0x7C0F9E16, 0x8EE7EB4A, 0xFE1A7F9B,
      0x4FE342E2}}};

}  // namespace

using field::accumulator;
using field::reduce;

fe fe_mul(const fe& a, const fe& b) noexcept {
  std::array<word, 16> c;
  accumulator acc;
  // Unrolled completely: loops whose length changes with every column cost a mispredicted branch
  // per column, as much as the products themselves.
#pragma GCC unroll 15
  for (std::size_t k = 0; k < 15; ++k) {
    const std::size_t first = k < 8 ? 0 : k - 7, last = k < 8 ? k : 7;
#pragma GCC unroll 8
    for (std::size_t i = first; i <= last; ++i) acc.add(dword{a.v[i]} * b.v[k - i]);
    c[k] = acc.shift();
  }
  c[15] = static_cast<word>(acc.lo);
  return reduce(c);
}

fe fe_sqr(const fe& a) noexcept {
  std::array<word, 16> c;
  accumulator acc;
#pragma GCC unroll 15
  for (std::size_t k = 0; k < 15; ++k) {
    // The products a[i]·a[k-i] with i < k - i, doubled, then the square on the diagonal.
    accumulator cross;
    const std::size_t first = k < 8 ? 0 : k - 7;
#pragma GCC unroll 4
    for (std::size_t i = first; 2 * i < k; ++i) cross.add(dword{a.v[i]} * a.v[k - i]);
    cross.hi = (cross.hi << 1) | static_cast<word>(cross.lo >> 63);
    cross.lo <<= 1;
    if (k % 2 == 0) cross.add(dword{a.v[k / 2]} * a.v[k / 2]);
    acc.add(cross.lo);
    acc.hi += cross.hi;
    c[k] = acc.shift();
  }
  c[15] = static_cast<word>(acc.lo);
  return reduce(c);
}

fe fe_from_be(std::span<const std::uint8_t, 32> bytes) {
  fe r;
  for (std::size_t i = 0; i < 32; ++i) r.v[(31 - i) / 4] |= word{bytes[i]} << (8 * ((31 - i) % 4));
  if (field::not_below_p(r.v)) throw exceptions::error("Field element is not below the prime!");
  return r;
}

void fe_to_be(const fe& a, std::span<std::uint8_t, 32> out) {
  for (std::size_t i = 0; i < 32; ++i) out[i] = static_cast<std::uint8_t>(a.v[(31 - i) / 4] >> (8 * ((31 - i) % 4)));
}

fe fe_from_natural(const natural& value) {
  fe r;
  value.to_words(r.v.data(), 8);
  if (field::not_below_p(r.v)) throw exceptions::error("Field element is not below the prime!");
  return r;
}

namespace {

// a^e for an exponent given as little-endian words, square-and-multiply from the top bit.
fe fe_pow(const fe& a, const std::array<word, 8>& e) noexcept {
  fe r{{1}};
  for (std::size_t i = 256; i-- > 0;) {
    r = fe_sqr(r);
    if ((e[i / 32] >> (i % 32)) & 1) r = fe_mul(r, a);
  }
  return r;
}

}  // namespace

fe fe_inverse(const fe& a) noexcept {
  std::array<word, 8> e = p_words;
  e[0] -= 2;  // p - 2
  return fe_pow(a, e);
}

bool fe_sqrt(const fe& a, fe& root) noexcept {
  // p ≡ 3 (mod 4), so a^((p+1)/4) is a root whenever one exists.
  constexpr std::array<word, 8> e = {0x00000000, 0x00000000, 0x40000000, 0x00000000,
                                     0x00000000, 0x40000000, 0xC0000000, 0x3FFFFFFF};
  const fe r = fe_pow(a, e);
  if (!(fe_sqr(r) == a)) return false;
  root = r;
  return true;
}

jacobian to_jacobian(const affine& a) noexcept { return {a.x, a.y, fe{{1}}}; }

bool is_infinity(const jacobian& a) noexcept { return fe_is_zero(a.z); }

affine to_affine(const jacobian& a) {
  if (is_infinity(a)) throw exceptions::error("The point at infinity has no affine form!");
  const fe zi = fe_inverse(a.z);
  const fe zi2 = fe_sqr(zi);
  return {fe_mul(a.x, zi2), fe_mul(a.y, fe_mul(zi2, zi))};
}

fe curve_rhs(const fe& x) noexcept {
  const fe x3 = fe_mul(fe_sqr(x), x);
  const fe three_x = fe_add(fe_add(x, x), x);
  return fe_add(fe_sub(x3, three_x), curve_b);
}

bool on_curve(const affine& a) noexcept { return fe_sqr(a.y) == curve_rhs(a.x); }

// dbl-2001-b for a = -3: 3M + 5S.
jacobian point_double(const jacobian& a) noexcept {
  if (is_infinity(a) || fe_is_zero(a.y)) return {};
  const fe delta = fe_sqr(a.z);
  const fe gamma = fe_sqr(a.y);
  const fe beta = fe_mul(a.x, gamma);
  const fe t = fe_mul(fe_sub(a.x, delta), fe_add(a.x, delta));
  const fe alpha = fe_add(fe_add(t, t), t);
  const fe beta4 = fe_add(fe_add(beta, beta), fe_add(beta, beta));
  jacobian r;
  r.x = fe_sub(fe_sqr(alpha), fe_add(beta4, beta4));
  r.z = fe_sub(fe_sub(fe_sqr(fe_add(a.y, a.z)), gamma), delta);
  const fe gamma2 = fe_sqr(gamma);
  const fe gamma2_4 = fe_add(fe_add(gamma2, gamma2), fe_add(gamma2, gamma2));
  r.y = fe_sub(fe_mul(alpha, fe_sub(beta4, r.x)), fe_add(gamma2_4, gamma2_4));
  return r;
}

// add-2007-bl: 11M + 5S.
jacobian point_add(const jacobian& a, const jacobian& b) noexcept {
  if (is_infinity(a)) return b;
  if (is_infinity(b)) return a;
  const fe z1z1 = fe_sqr(a.z);
  const fe z2z2 = fe_sqr(b.z);
  const fe u1 = fe_mul(a.x, z2z2);
  const fe u2 = fe_mul(b.x, z1z1);
  const fe s1 = fe_mul(fe_mul(a.y, b.z), z2z2);
  const fe s2 = fe_mul(fe_mul(b.y, a.z), z1z1);
  const fe h = fe_sub(u2, u1);
  const fe rr = fe_sub(s2, s1);
  if (fe_is_zero(h)) return fe_is_zero(rr) ? point_double(a) : jacobian{};
  const fe h2 = fe_add(h, h);
  const fe i = fe_sqr(h2);
  const fe j = fe_mul(h, i);
  const fe r2 = fe_add(rr, rr);
  const fe v = fe_mul(u1, i);
  jacobian r;
  r.x = fe_sub(fe_sub(fe_sqr(r2), j), fe_add(v, v));
  const fe s1j = fe_mul(s1, j);
  r.y = fe_sub(fe_mul(r2, fe_sub(v, r.x)), fe_add(s1j, s1j));
  r.z = fe_mul(fe_sub(fe_sub(fe_sqr(fe_add(a.z, b.z)), z1z1), z2z2), h);
  return r;
}

// madd-2007-bl (b has Z = 1): 7M + 4S.
jacobian point_add_affine(const jacobian& a, const affine& b) noexcept {
  if (is_infinity(a)) return to_jacobian(b);
  const fe z1z1 = fe_sqr(a.z);
  const fe u2 = fe_mul(b.x, z1z1);
  const fe s2 = fe_mul(fe_mul(b.y, a.z), z1z1);
  const fe h = fe_sub(u2, a.x);
  const fe rr = fe_sub(s2, a.y);
  if (fe_is_zero(h)) return fe_is_zero(rr) ? point_double(a) : jacobian{};
  const fe hh = fe_sqr(h);
  const fe i = fe_add(fe_add(hh, hh), fe_add(hh, hh));
  const fe j = fe_mul(h, i);
  const fe r2 = fe_add(rr, rr);
  const fe v = fe_mul(a.x, i);
  jacobian r;
  r.x = fe_sub(fe_sub(fe_sqr(r2), j), fe_add(v, v));
  const fe y1j = fe_mul(a.y, j);
  r.y = fe_sub(fe_mul(r2, fe_sub(v, r.x)), fe_add(y1j, y1j));
  r.z = fe_sub(fe_sub(fe_sqr(fe_add(a.z, h)), z1z1), hh);
  return r;
}

const affine& generator() noexcept { return g_point; }

const natural& prime() {
  static const natural value = natural::from_words(p_words.data(), 8);
  return value;
}

const natural& order() {
  static constexpr std::array<word, 8> n_words = {0xFC632551, 0xF3B9CAC2, 0xA7179E84, 0xBCE6FAAD,
                                                  0xFFFFFFFF, 0xFFFFFFFF, 0x00000000, 0xFFFFFFFF};
  static const natural value = natural::from_words(n_words.data(), 8);
  return value;
}

}  // namespace vyn::sfx::crypto::p256
