#pragma once
// Unsigned big integers for the signature checks: 32-bit words with 64-bit products, so the same
// code is fast on the 32-bit stub and on the 64-bit host. Every value public; nothing here needs
// to run in constant time.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vyn::sfx::crypto {

using word = std::uint32_t;
using dword = std::uint64_t;

// 129 words hold the product of two 2048-bit operands plus one carry word, and 2^4096.
inline constexpr std::size_t max_words = 129;

// A non-negative integer of at most max_words words, least significant word first. size() counts
// the significant words; a zero has size 0. Operations raise vyn::exceptions::error when a result
// would not fit.
class natural {
 public:
  natural() = default;
  explicit natural(word value);

  // Big-endian bytes; leading zero bytes are allowed.
  static natural from_be_bytes(std::span<const std::uint8_t> bytes);
  // From little-endian words (count ≤ max_words).
  static natural from_words(const word* words, std::size_t count);
  // 2^bits.
  static natural power_of_two(std::size_t bits);

  // Writes the value big-endian into exactly out.size() bytes; raises when it does not fit.
  void to_be_bytes(std::span<std::uint8_t> out) const;
  // Copies the value into exactly count little-endian words; raises when it does not fit.
  void to_words(word* out, std::size_t count) const;

  std::size_t size() const noexcept { return size_; }
  word operator[](std::size_t i) const noexcept { return i < size_ ? w_[i] : 0; }
  bool is_zero() const noexcept { return size_ == 0; }
  bool is_odd() const noexcept { return size_ != 0 && (w_[0] & 1) != 0; }
  std::size_t bit_length() const noexcept;
  bool bit(std::size_t index) const noexcept;

  friend int compare(const natural& a, const natural& b) noexcept;
  friend natural add(const natural& a, const natural& b);
  friend natural sub(const natural& a, const natural& b);
  friend natural mul(const natural& a, const natural& b);
  friend void divide(const natural& a, const natural& m, natural* quotient, natural* remainder);
  friend natural shift_right(const natural& a, std::size_t bits);

 private:
  void trim() noexcept;

  std::array<word, max_words> w_{};
  std::size_t size_ = 0;
};

int compare(const natural& a, const natural& b) noexcept;
inline bool operator==(const natural& a, const natural& b) noexcept { return compare(a, b) == 0; }
inline bool operator<(const natural& a, const natural& b) noexcept { return compare(a, b) < 0; }

natural add(const natural& a, const natural& b);
// a - b; raises when b > a.
natural sub(const natural& a, const natural& b);
natural mul(const natural& a, const natural& b);
// Quotient and remainder of a / m (either pointer may be null); raises when m is zero.
void divide(const natural& a, const natural& m, natural* quotient, natural* remainder);
natural mod(const natural& a, const natural& m);
natural shift_right(const natural& a, std::size_t bits);
// a * b mod m.
natural mod_mul(const natural& a, const natural& b, const natural& m);
// a^-1 mod m for an odd m > 1; raises when a has no inverse (a ≡ 0 or gcd(a, m) ≠ 1).
natural mod_inverse(const natural& a, const natural& m);

}  // namespace vyn::sfx::crypto
