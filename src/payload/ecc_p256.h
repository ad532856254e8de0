#pragma once
// Arithmetic on the NIST P-256 curve y² = x³ - 3x + b over GF(p), p = 2^256 - 2^224 + 2^192 +
// 2^96 - 1: field elements of eight 32-bit words reduced by the NIST fast reduction, points in
// Jacobian coordinates (x = X/Z², y = Y/Z³). Only public values pass through here, so nothing
// needs to run in constant time.

#include <array>
#include <cstdint>
#include <span>

#include "payload/bigint.h"
#include "payload/ecc_p256_field.h"

namespace vyn::sfx::crypto::p256 {

// Raises when the 32 big-endian bytes are not below p.
fe fe_from_be(std::span<const std::uint8_t, 32> bytes);
void fe_to_be(const fe& a, std::span<std::uint8_t, 32> out);
fe fe_from_natural(const natural& value);  // value below p
// a^-1 for a non-zero a (Fermat); zero gives zero.
fe fe_inverse(const fe& a) noexcept;
// A square root of a, when a is a square.
bool fe_sqrt(const fe& a, fe& root) noexcept;

struct affine {
  fe x, y;
};

// Z = 0 marks the point at infinity.
struct jacobian {
  fe x, y, z;
};

jacobian to_jacobian(const affine& a) noexcept;
bool is_infinity(const jacobian& a) noexcept;
// Raises for the point at infinity.
affine to_affine(const jacobian& a);
// x³ - 3x + b, the square of y for a point on the curve.
fe curve_rhs(const fe& x) noexcept;
bool on_curve(const affine& a) noexcept;

jacobian point_double(const jacobian& a) noexcept;
jacobian point_add(const jacobian& a, const jacobian& b) noexcept;
jacobian point_add_affine(const jacobian& a, const affine& b) noexcept;

// u1·G + u2·q for scalars below 2^256, with G's odd multiples taken from a built-in table.
jacobian double_scalar_mult(const natural& u1, const natural& u2, const affine& q);

const affine& generator() noexcept;
const natural& order();  // n
const natural& prime();  // p

// Affine odd multiples G, 3G, 5G, ..., 63G (the fixed-base table).
inline constexpr std::size_t generator_table_size = 32;
extern const std::array<std::array<word, 16>, generator_table_size> generator_table;

}  // namespace vyn::sfx::crypto::p256
