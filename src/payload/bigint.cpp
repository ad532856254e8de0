#include "payload/bigint.h"

#include <algorithm>
#include <bit>

#include "foundation/exceptions.h"

namespace vyn::sfx::crypto {
namespace {

[[noreturn]] void overflow() { throw exceptions::error("Big integer exceeds its capacity!"); }

}  // namespace

natural::natural(word value) {
  w_[0] = value;
  size_ = value != 0 ? 1 : 0;
}

void natural::trim() noexcept {
  while (size_ != 0 && w_[size_ - 1] == 0) --size_;
}

natural natural::from_be_bytes(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty() && bytes.front() == 0) bytes = bytes.subspan(1);
  if (bytes.size() > max_words * sizeof(word)) overflow();
  natural result;
  const std::size_t n = bytes.size();
  for (std::size_t i = 0; i < n; ++i) {
    result.w_[i / 4] |= word{bytes[n - 1 - i]} << (8 * (i % 4));
  }
  result.size_ = (n + 3) / 4;
  result.trim();
  return result;
}

natural natural::from_words(const word* words, std::size_t count) {
  if (count > max_words) overflow();
  natural result;
  std::copy(words, words + count, result.w_.begin());
  result.size_ = count;
  result.trim();
  return result;
}

natural natural::power_of_two(std::size_t bits) {
  if (bits / 32 >= max_words) overflow();
  natural result;
  result.w_[bits / 32] = word{1} << (bits % 32);
  result.size_ = bits / 32 + 1;
  return result;
}

void natural::to_be_bytes(std::span<std::uint8_t> out) const {
  if ((bit_length() + 7) / 8 > out.size()) overflow();
  const std::size_t n = out.size();
  for (std::size_t i = 0; i < n; ++i) {
    out[n - 1 - i] = i / 4 < size_ ? static_cast<std::uint8_t>(w_[i / 4] >> (8 * (i % 4))) : 0;
  }
}

void natural::to_words(word* out, std::size_t count) const {
  if (size_ > count) overflow();
  std::copy(w_.begin(), w_.begin() + static_cast<std::ptrdiff_t>(size_), out);
  std::fill(out + size_, out + count, word{0});
}

std::size_t natural::bit_length() const noexcept {
  if (size_ == 0) return 0;
  return 32 * size_ - static_cast<std::size_t>(std::countl_zero(w_[size_ - 1]));
}

bool natural::bit(std::size_t index) const noexcept {
  return index / 32 < size_ && ((w_[index / 32] >> (index % 32)) & 1) != 0;
}

int compare(const natural& a, const natural& b) noexcept {
  if (a.size_ != b.size_) return a.size_ < b.size_ ? -1 : 1;
  for (std::size_t i = a.size_; i-- > 0;) {
    if (a.w_[i] != b.w_[i]) return a.w_[i] < b.w_[i] ? -1 : 1;
  }
  return 0;
}

natural add(const natural& a, const natural& b) {
  natural r;
  const std::size_t n = std::max(a.size_, b.size_);
  dword carry = 0;
  for (std::size_t i = 0; i < n; ++i) {
    carry += dword{a[i]} + b[i];
    r.w_[i] = static_cast<word>(carry);
    carry >>= 32;
  }
  r.size_ = n;
  if (carry != 0) {
    if (n == max_words) overflow();
    r.w_[n] = 1;
    r.size_ = n + 1;
  }
  return r;
}

natural sub(const natural& a, const natural& b) {
  if (compare(a, b) < 0) throw exceptions::error("Big integer subtraction would be negative!");
  natural r;
  word borrow = 0;
  for (std::size_t i = 0; i < a.size_; ++i) {
    const dword d = dword{a.w_[i]} - b[i] - borrow;
    r.w_[i] = static_cast<word>(d);
    borrow = static_cast<word>(d >> 32) & 1;
  }
  r.size_ = a.size_;
  r.trim();
  return r;
}

natural mul(const natural& a, const natural& b) {
  natural r;
  if (a.is_zero() || b.is_zero()) return r;
  if (a.size_ + b.size_ > max_words + 1) overflow();
  std::array<word, 2 * max_words> t{};
  for (std::size_t i = 0; i < a.size_; ++i) {
    dword carry = 0;
    for (std::size_t j = 0; j < b.size_; ++j) {
      carry += dword{a.w_[i]} * b.w_[j] + t[i + j];
      t[i + j] = static_cast<word>(carry);
      carry >>= 32;
    }
    t[i + b.size_] = static_cast<word>(carry);
  }
  std::size_t n = a.size_ + b.size_;
  while (n != 0 && t[n - 1] == 0) --n;
  if (n > max_words) overflow();
  std::copy(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(n), r.w_.begin());
  r.size_ = n;
  return r;
}

natural shift_right(const natural& a, std::size_t bits) {
  natural r;
  const std::size_t words = bits / 32, shift = bits % 32;
  if (words >= a.size_) return r;
  r.size_ = a.size_ - words;
  for (std::size_t i = 0; i < r.size_; ++i) {
    const word low = a.w_[i + words] >> shift;
    const word high = (shift != 0 && i + words + 1 < a.size_) ? a.w_[i + words + 1] << (32 - shift) : 0;
    r.w_[i] = low | high;
  }
  r.trim();
  return r;
}

// Long division by the schoolbook method with normalised divisor (Knuth, TAOCP 4.3.1, D).
void divide(const natural& a, const natural& m, natural* quotient, natural* remainder) {
  if (m.is_zero()) throw exceptions::error("Big integer division by zero!");
  if (compare(a, m) < 0) {
    if (quotient) *quotient = natural();
    if (remainder) *remainder = a;
    return;
  }
  const std::size_t n = m.size_, len = a.size_;
  const int s = std::countl_zero(m.w_[n - 1]);
  std::array<word, max_words> v{};
  std::array<word, max_words + 1> u{};
  for (std::size_t i = n; i-- > 0;) {
    v[i] = (m.w_[i] << s) | (s != 0 && i != 0 ? m.w_[i - 1] >> (32 - s) : 0);
  }
  u[len] = s != 0 ? a.w_[len - 1] >> (32 - s) : 0;
  for (std::size_t i = len; i-- > 0;) {
    u[i] = (a.w_[i] << s) | (s != 0 && i != 0 ? a.w_[i - 1] >> (32 - s) : 0);
  }
  natural q;
  for (std::size_t j = len - n + 1; j-- > 0;) {
    const dword top = (dword{u[j + n]} << 32) | u[j + n - 1];
    dword qhat = top / v[n - 1];
    dword rhat = top % v[n - 1];
    while (qhat >> 32 != 0 || (n >= 2 && qhat * v[n - 2] > ((rhat << 32) | u[j + n - 2]))) {
      --qhat;
      rhat += v[n - 1];
      if (rhat >> 32 != 0) break;
    }
    // u[j .. j+n] -= qhat * v
    std::int64_t borrow = 0;
    dword carry = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const dword p = qhat * v[i] + carry;
      carry = p >> 32;
      const std::int64_t t = std::int64_t{u[i + j]} - static_cast<std::int64_t>(p & 0xFFFFFFFFu) + borrow;
      u[i + j] = static_cast<word>(t);
      borrow = t >> 32;
    }
    const std::int64_t t = std::int64_t{u[j + n]} - static_cast<std::int64_t>(carry) + borrow;
    u[j + n] = static_cast<word>(t);
    if (t < 0) {
      // qhat was one too large: add the divisor back.
      --qhat;
      dword c = 0;
      for (std::size_t i = 0; i < n; ++i) {
        c += dword{u[i + j]} + v[i];
        u[i + j] = static_cast<word>(c);
        c >>= 32;
      }
      u[j + n] += static_cast<word>(c);
    }
    q.w_[j] = static_cast<word>(qhat);
  }
  if (quotient) {
    q.size_ = len - n + 1;
    q.trim();
    *quotient = q;
  }
  if (remainder) {
    natural r;
    for (std::size_t i = 0; i < n; ++i) {
      r.w_[i] = (u[i] >> s) | (s != 0 ? u[i + 1] << (32 - s) : 0);
    }
    r.size_ = n;
    r.trim();
    *remainder = r;
  }
}

natural mod(const natural& a, const natural& m) {
  natural r;
  divide(a, m, nullptr, &r);
  return r;
}

natural mod_mul(const natural& a, const natural& b, const natural& m) { return mod(mul(a, b), m); }

namespace {

// Fixed-width helpers for the inverse: n + 1 words, the top word absorbing carries.
using wide_words = std::array<word, max_words + 1>;

bool is_one(const wide_words& x, std::size_t n) {
  if (x[0] != 1) return false;
  for (std::size_t i = 1; i <= n; ++i) {
    if (x[i] != 0) return false;
  }
  return true;
}

bool is_zero_words(const wide_words& x, std::size_t n) {
  for (std::size_t i = 0; i <= n; ++i) {
    if (x[i] != 0) return false;
  }
  return true;
}

bool not_less(const wide_words& a, const wide_words& b, std::size_t n) {
  for (std::size_t i = n + 1; i-- > 0;) {
    if (a[i] != b[i]) return a[i] > b[i];
  }
  return true;
}

void add_to(wide_words& a, const wide_words& b, std::size_t n) {
  dword carry = 0;
  for (std::size_t i = 0; i <= n; ++i) {
    carry += dword{a[i]} + b[i];
    a[i] = static_cast<word>(carry);
    carry >>= 32;
  }
}

void sub_from(wide_words& a, const wide_words& b, std::size_t n) {
  word borrow = 0;
  for (std::size_t i = 0; i <= n; ++i) {
    const dword d = dword{a[i]} - b[i] - borrow;
    a[i] = static_cast<word>(d);
    borrow = static_cast<word>(d >> 32) & 1;
  }
}

void halve(wide_words& a, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) a[i] = (a[i] >> 1) | (a[i + 1] << 31);
  a[n] >>= 1;
}

// x / 2 mod m for odd m and x < m.
void halve_mod(wide_words& x, const wide_words& m, std::size_t n) {
  if (x[0] & 1) add_to(x, m, n);
  halve(x, n);
}

// a - b mod m for a, b < m.
void sub_mod(wide_words& a, const wide_words& b, const wide_words& m, std::size_t n) {
  if (!not_less(a, b, n)) add_to(a, m, n);
  sub_from(a, b, n);
}

}  // namespace

// Binary extended Euclid; variable time, which is fine for public values.
natural mod_inverse(const natural& a, const natural& m) {
  if (!m.is_odd() || compare(m, natural(1)) <= 0) {
    throw exceptions::error("Modular inverse needs an odd modulus!");
  }
  const natural reduced = mod(a, m);
  if (reduced.is_zero()) throw exceptions::error("Value has no modular inverse!");
  const std::size_t n = m.size();
  wide_words u{}, v{}, x1{}, x2{}, mm{};
  reduced.to_words(u.data(), n);
  m.to_words(v.data(), n);
  m.to_words(mm.data(), n);
  x1[0] = 1;
  while (!is_one(u, n) && !is_one(v, n)) {
    while ((u[0] & 1) == 0) {
      halve(u, n);
      halve_mod(x1, mm, n);
    }
    while ((v[0] & 1) == 0) {
      halve(v, n);
      halve_mod(x2, mm, n);
    }
    if (not_less(u, v, n)) {
      sub_from(u, v, n);
      sub_mod(x1, x2, mm, n);
    } else {
      sub_from(v, u, n);
      sub_mod(x2, x1, mm, n);
    }
    // A common factor leaves one side at zero before either reaches one.
    if (is_zero_words(u, n) || is_zero_words(v, n)) {
      throw exceptions::error("Value has no modular inverse!");
    }
  }
  return natural::from_words(is_one(u, n) ? x1.data() : x2.data(), n);
}

}  // namespace vyn::sfx::crypto
