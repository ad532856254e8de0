#include "payload/ecc_p256.h"

#include <algorithm>

#include "foundation/exceptions.h"

namespace vyn::sfx::crypto::p256 {
namespace {

// Width of the signed windows: 5 for the variable point (a table of 8 points built per check),
// 7 for G (the 32 built-in points).
constexpr unsigned q_width = 5;
constexpr unsigned g_width = 7;
constexpr std::size_t max_digits = 258;

using digit_array = std::array<std::int8_t, max_digits>;

// Width-w non-adjacent form: digits are 0 or odd in (-2^(w-1), 2^(w-1)), any two non-zero digits
// at least w positions apart, and k = Σ digit[i]·2^i. Returns the number of digits used.
std::size_t wnaf(const natural& k, unsigned width, digit_array& digits) {
  if (k.bit_length() > 256) throw exceptions::error("Scalar too large!");
  std::array<word, 9> v{};
  k.to_words(v.data(), 9);
  digits.fill(0);
  const int full = 1 << width, half = 1 << (width - 1);
  std::size_t length = 0;
  auto nonzero = [&v] { return std::any_of(v.begin(), v.end(), [](word w) { return w != 0; }); };
  for (std::size_t i = 0; nonzero(); ++i) {
    if (v[0] & 1) {
      int d = static_cast<int>(v[0] & static_cast<word>(full - 1));
      if (d >= half) d -= full;
      digits[i] = static_cast<std::int8_t>(d);
      // v -= d, which only touches the low word's odd bits or carries upward
      dword carry = d < 0 ? static_cast<dword>(-d) : 0;
      dword borrow = d > 0 ? static_cast<dword>(d) : 0;
      for (std::size_t j = 0; j < v.size(); ++j) {
        const dword t = dword{v[j]} + carry - borrow;
        v[j] = static_cast<word>(t);
        carry = (t >> 32) == 1 ? 1 : 0;
        borrow = (t >> 32) > 1 ? 1 : 0;
      }
      length = i + 1;
    }
    for (std::size_t j = 0; j + 1 < v.size(); ++j) v[j] = (v[j] >> 1) | (v[j + 1] << 31);
    v.back() >>= 1;
  }
  return length;
}

affine table_point(std::size_t index) {
  const auto& words = generator_table[index];
  affine a;
  std::copy(words.begin(), words.begin() + 8, a.x.v.begin());
  std::copy(words.begin() + 8, words.end(), a.y.v.begin());
  return a;
}

}  // namespace

jacobian double_scalar_mult(const natural& u1, const natural& u2, const affine& q) {
  digit_array g_digits, q_digits;
  const std::size_t top = std::max(wnaf(u1, g_width, g_digits), wnaf(u2, q_width, q_digits));

  // q, 3q, 5q, ..., 15q
  std::array<jacobian, std::size_t{1} << (q_width - 2)> q_table;
  q_table[0] = to_jacobian(q);
  const jacobian q2 = point_double(q_table[0]);
  for (std::size_t i = 1; i < q_table.size(); ++i) q_table[i] = point_add(q_table[i - 1], q2);

  jacobian acc;
  for (std::size_t i = top; i-- > 0;) {
    acc = point_double(acc);
    if (const int d = q_digits[i]; d != 0) {
      jacobian t = q_table[static_cast<std::size_t>(d > 0 ? d : -d) >> 1];
      if (d < 0) t.y = fe_neg(t.y);
      acc = point_add(acc, t);
    }
    if (const int d = g_digits[i]; d != 0) {
      affine t = table_point(static_cast<std::size_t>(d > 0 ? d : -d) >> 1);
      if (d < 0) t.y = fe_neg(t.y);
      acc = point_add_affine(acc, t);
    }
  }
  return acc;
}

}  // namespace vyn::sfx::crypto::p256
