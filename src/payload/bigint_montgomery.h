#pragma once
// Montgomery arithmetic modulo an odd number of at most N words, and the simultaneous
// exponentiation g1^e1 · g2^e2 · ... that a DSA check needs, on plain 32-bit words. Elements in
// Montgomery form are exactly N words, each value below the modulus. (bigint_vector.h does the
// same faster where SSE2 is available; squaring by a separate routine was measured no faster than
// the multiplication below, so there is none.)

#include <array>
#include <cstddef>
#include <span>

#include "foundation/exceptions.h"
#include "payload/bigint.h"

namespace vyn::sfx::crypto {

template <std::size_t N>
class montgomery {
 public:
  using element = std::array<word, N>;

  // Raises when the modulus is even, below 3 or wider than N words.
  explicit montgomery(const natural& modulus) : modulus_(modulus) {
    if (!modulus.is_odd() || modulus.size() > N || compare(modulus, natural(3)) < 0) {
      throw exceptions::error("Unsupported Montgomery modulus!");
    }
    modulus.to_words(m_.data(), N);
    // -m^-1 mod 2^32 by Newton's iteration; each step doubles the correct low bits.
    word inverse = 1;
    for (int i = 0; i < 5; ++i) inverse *= 2 - m_[0] * inverse;
    m_inv_ = static_cast<word>(0u - inverse);
    mod(natural::power_of_two(64 * N), modulus).to_words(r2_.data(), N);
  }

  const natural& modulus() const noexcept { return modulus_; }

  element to_mont(const natural& x) const {
    element plain{}, out{};
    mod(x, modulus_).to_words(plain.data(), N);
    mul(out, plain, r2_);
    return out;
  }

  natural from_mont(const element& x) const {
    element one{}, out{};
    one[0] = 1;
    mul(out, x, one);
    return natural::from_words(out.data(), N);
  }

  // out = a·b·R^-1 mod m (out may alias a or b). Operand scanning with the reduction folded
  // into the same pass over the words.
  void mul(element& out, const element& a, const element& b) const {
    std::array<word, N> t{};
    word top = 0;
    for (std::size_t i = 0; i < N; ++i) {
      const dword bi = b[i];
      dword c1 = dword{t[0]} + a[0] * bi;
      const word q = static_cast<word>(c1) * m_inv_;
      dword c2 = dword{static_cast<word>(c1)} + dword{q} * m_[0];
      c1 >>= 32;
      c2 >>= 32;
      for (std::size_t j = 1; j < N; ++j) {
        c1 += dword{t[j]} + a[j] * bi;
        c2 += dword{static_cast<word>(c1)} + dword{q} * m_[j];
        t[j - 1] = static_cast<word>(c2);
        c1 >>= 32;
        c2 >>= 32;
      }
      const dword s = dword{top} + c1 + c2;
      t[N - 1] = static_cast<word>(s);
      top = static_cast<word>(s >> 32);
    }
    finish(out, t, top);
  }

 private:
  // The value top·2^(32N) + t is below 2m; subtract m once if it is not below m.
  void finish(element& out, const std::array<word, N>& t, word top) const {
    bool subtract = top != 0;
    if (!subtract) {
      subtract = true;  // equal counts as not below
      for (std::size_t i = N; i-- > 0;) {
        if (t[i] != m_[i]) {
          subtract = t[i] > m_[i];
          break;
        }
      }
    }
    if (!subtract) {
      out = t;
      return;
    }
    word borrow = 0;
    for (std::size_t i = 0; i < N; ++i) {
      const dword d = dword{t[i]} - m_[i] - borrow;
      out[i] = static_cast<word>(d);
      borrow = static_cast<word>(d >> 32) & 1;
    }
  }

  natural modulus_;
  element m_{};
  element r2_{};
  word m_inv_ = 0;
};

// Signed-free sliding-window digits of an exponent: digit[i] is 0 or an odd value below 2^width,
// and the exponent equals the sum of digit[i]·2^i. Returns one past the highest non-zero digit.
std::size_t window_digits(const natural& exponent, unsigned width, std::span<std::uint8_t> digits);

// Π bases[i]^exponents[i] mod m, by interleaved sliding windows of 4 bits over all exponents at
// once (the squarings are shared), in any Montgomery context: one with to_mont(natural),
// mul(out, a, b) and from_mont(element) over the odd modulus m. Bases are reduced modulo m first;
// at most two bases, exponents up to 2048 bits.
template <typename Context>
natural multi_exp_in(const Context& ctx, const natural& m, std::span<const natural> bases,
                     std::span<const natural> exponents) {
  constexpr unsigned width = 4;
  constexpr std::size_t table_size = std::size_t{1} << (width - 1);
  constexpr std::size_t max_bases = 2;
  constexpr std::size_t max_bits = 2048;
  if (bases.size() != exponents.size() || bases.size() > max_bases || bases.empty()) {
    throw exceptions::error("Unsupported multi-exponentiation!");
  }
  using element = decltype(ctx.to_mont(bases[0]));
  std::array<std::array<element, table_size>, max_bases> table;
  std::array<std::array<std::uint8_t, max_bits + 1>, max_bases> digits{};
  std::size_t top = 0;
  for (std::size_t b = 0; b < bases.size(); ++b) {
    if (exponents[b].bit_length() > max_bits) throw exceptions::error("Exponent too large!");
    top = std::max(top, window_digits(exponents[b], width, digits[b]));
    // Odd powers g, g^3, g^5, ... of each base.
    table[b][0] = ctx.to_mont(bases[b]);
    element square;
    ctx.mul(square, table[b][0], table[b][0]);
    for (std::size_t i = 1; i < table_size; ++i) ctx.mul(table[b][i], table[b][i - 1], square);
  }
  element acc{};
  bool started = false;
  for (std::size_t i = top; i-- > 0;) {
    if (started) ctx.mul(acc, acc, acc);
    for (std::size_t b = 0; b < bases.size(); ++b) {
      const std::uint8_t d = digits[b][i];
      if (d == 0) continue;
      if (started) {
        ctx.mul(acc, acc, table[b][d >> 1]);
      } else {
        acc = table[b][d >> 1];
        started = true;
      }
    }
  }
  if (!started) return mod(natural(1), m);
  return ctx.from_mont(acc);
}

template <std::size_t N>
natural multi_exp(const montgomery<N>& ctx, std::span<const natural> bases,
                  std::span<const natural> exponents) {
  return multi_exp_in(ctx, ctx.modulus(), bases, exponents);
}

}  // namespace vyn::sfx::crypto
