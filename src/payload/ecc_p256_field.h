#pragma once
// GF(p) arithmetic for P-256, p = 2^256 - 2^224 + 2^192 + 2^96 - 1, on eight 32-bit words: the
// point formulas spend nearly all their time here. Additions are inline; products are formed
// column by column (each output word once, with a three-word accumulator) and reduced by the NIST
// fast reduction (FIPS 186-4, D.2.3).

#include <array>
#include <cstdint>

#include "payload/bigint.h"

namespace vyn::sfx::crypto::p256 {

// A field element, little-endian words, always fully reduced (below p).
struct fe {
  std::array<word, 8> v{};
  friend bool operator==(const fe&, const fe&) = default;
};

namespace field {

inline constexpr std::array<word, 8> p_words = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x00000000,
                                                0x00000000, 0x00000000, 0x00000001, 0xFFFFFFFF};

inline bool not_below_p(const std::array<word, 8>& a) noexcept {
  for (std::size_t i = 8; i-- > 0;) {
    if (a[i] != p_words[i]) return a[i] > p_words[i];
  }
  return true;
}

// a -= p, ignoring the final borrow (the caller knows a ≥ p or a wrapped past 2^256).
inline void subtract_p(std::array<word, 8>& a) noexcept {
  word borrow = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    const dword d = dword{a[i]} - p_words[i] - borrow;
    a[i] = static_cast<word>(d);
    borrow = static_cast<word>(d >> 32) & 1;
  }
}

// Adds carry·2^256 ≡ carry·(2^224 - 2^192 - 2^96 + 1) into r and propagates; returns the new carry.
inline std::int64_t fold(std::array<word, 8>& r, std::int64_t carry) noexcept {
  std::int64_t t = std::int64_t{r[0]} + carry;
  r[0] = static_cast<word>(t);
  t = (t >> 32) + r[1];
  r[1] = static_cast<word>(t);
  t = (t >> 32) + r[2];
  r[2] = static_cast<word>(t);
  t = (t >> 32) + r[3] - carry;
  r[3] = static_cast<word>(t);
  t = (t >> 32) + r[4];
  r[4] = static_cast<word>(t);
  t = (t >> 32) + r[5];
  r[5] = static_cast<word>(t);
  t = (t >> 32) + r[6] - carry;
  r[6] = static_cast<word>(t);
  t = (t >> 32) + r[7] + carry;
  r[7] = static_cast<word>(t);
  return t >> 32;
}

// Reduces a 512-bit product: the sum s1 + 2·s2 + 2·s3 + s4 + s5 - s6 - s7 - s8 - s9 of words of c
// leaves a carry of -5 to 6 above 256 bits; two folds of that carry bring the value below 2^256
// and one subtraction below p.
inline fe reduce(const std::array<word, 16>& c) noexcept {
  const std::int64_t c8 = c[8], c9 = c[9], c10 = c[10], c11 = c[11], c12 = c[12], c13 = c[13],
                     c14 = c[14], c15 = c[15];
  fe r;
  std::int64_t t = std::int64_t{c[0]} + c8 + c9 - c11 - c12 - c13 - c14;
  r.v[0] = static_cast<word>(t);
  t = (t >> 32) + c[1] + c9 + c10 - c12 - c13 - c14 - c15;
  r.v[1] = static_cast<word>(t);
  t = (t >> 32) + c[2] + c10 + c11 - c13 - c14 - c15;
  r.v[2] = static_cast<word>(t);
  t = (t >> 32) + c[3] + 2 * (c11 + c12) + c13 - c15 - c8 - c9;
  r.v[3] = static_cast<word>(t);
  t = (t >> 32) + c[4] + 2 * (c12 + c13) + c14 - c9 - c10;
  r.v[4] = static_cast<word>(t);
  t = (t >> 32) + c[5] + 2 * (c13 + c14) + c15 - c10 - c11;
  r.v[5] = static_cast<word>(t);
  t = (t >> 32) + c[6] + 3 * c14 + 2 * c15 + c13 - c8 - c9;
  r.v[6] = static_cast<word>(t);
  t = (t >> 32) + c[7] + 3 * c15 + c8 - c10 - c11 - c12 - c13;
  r.v[7] = static_cast<word>(t);
  std::int64_t carry = t >> 32;
  if (carry != 0) carry = fold(r.v, carry);
  if (carry != 0) fold(r.v, carry);
  if (not_below_p(r.v)) subtract_p(r.v);
  return r;
}

// Three-word column accumulator: lo holds the low 64 bits, hi the overflow.
struct accumulator {
  dword lo = 0;
  word hi = 0;

  void add(dword value) noexcept {
    lo += value;
    hi += lo < value ? 1u : 0u;
  }
  // Emits the low word and shifts the accumulator down by one word.
  word shift() noexcept {
    const word out = static_cast<word>(lo);
    lo = (lo >> 32) | (dword{hi} << 32);
    hi = 0;
    return out;
  }
};

}  // namespace field

inline bool fe_is_zero(const fe& a) noexcept {
  word any = 0;
  for (word w : a.v) any |= w;
  return any == 0;
}

inline bool fe_is_odd(const fe& a) noexcept { return (a.v[0] & 1) != 0; }

inline fe fe_add(const fe& a, const fe& b) noexcept {
  fe r;
  dword carry = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    carry += dword{a.v[i]} + b.v[i];
    r.v[i] = static_cast<word>(carry);
    carry >>= 32;
  }
  if (carry != 0 || field::not_below_p(r.v)) field::subtract_p(r.v);
  return r;
}

inline fe fe_sub(const fe& a, const fe& b) noexcept {
  fe r;
  word borrow = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    const dword d = dword{a.v[i]} - b.v[i] - borrow;
    r.v[i] = static_cast<word>(d);
    borrow = static_cast<word>(d >> 32) & 1;
  }
  if (borrow != 0) {
    dword carry = 0;
    for (std::size_t i = 0; i < 8; ++i) {
      carry += dword{r.v[i]} + field::p_words[i];
      r.v[i] = static_cast<word>(carry);
      carry >>= 32;
    }
  }
  return r;
}

inline fe fe_neg(const fe& a) noexcept { return fe_sub(fe{}, a); }

// Out of line: inlined at every use the unrolled products would cost tens of kilobytes of code.
fe fe_mul(const fe& a, const fe& b) noexcept;
fe fe_sqr(const fe& a) noexcept;

}  // namespace vyn::sfx::crypto::p256
