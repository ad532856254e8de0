#include "payload/bigint_vector.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "foundation/exceptions.h"
#include "payload/bigint_montgomery.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define VYN_VECTOR 1
#if defined(__i386__)
// The 32-bit Windows ABI keeps the stack at 4-byte alignment; vector spills need more.
#define VYN_SSE2_CODE __attribute__((target("sse2"), force_align_arg_pointer, noinline))
#define VYN_AVX2_CODE __attribute__((target("avx2"), force_align_arg_pointer, noinline))
#else
#define VYN_SSE2_CODE __attribute__((target("sse2"), noinline))
#define VYN_AVX2_CODE __attribute__((target("avx2"), noinline))
#endif
#endif

namespace vyn::sfx::crypto::vector {
namespace {

constexpr unsigned digit_bits = 28;
constexpr std::uint64_t digit_mask = (std::uint64_t{1} << digit_bits) - 1;
constexpr std::size_t digits = 74;  // 2072 bits: R = 2^2072 exceeds 4m for every m below 2^2048
constexpr std::size_t lanes = 76;   // whole vectors of two or four lanes, the last two always zero
constexpr std::size_t max_modulus_bits = 2048;

// A number as 28-bit digits, one per 64-bit lane, least significant first.
struct element {
  std::uint64_t d[lanes];
};

element to_digits(const natural& x) {
  element e{};
  for (std::size_t j = 0; j < digits; ++j) {
    const std::size_t bit = j * digit_bits;
    const dword pair = dword{x[bit / 32]} | dword{x[bit / 32 + 1]} << 32;
    e.d[j] = (pair >> (bit % 32)) & digit_mask;
  }
  return e;
}

natural from_digits(const element& e) {
  std::array<word, 66> words{};
  for (std::size_t j = 0; j < digits; ++j) {
    const std::size_t bit = j * digit_bits;
    const dword shifted = e.d[j] << (bit % 32);
    words[bit / 32] |= static_cast<word>(shifted);
    words[bit / 32 + 1] |= static_cast<word>(shifted >> 32);
  }
  return natural::from_words(words.data(), words.size());
}

#ifdef VYN_VECTOR

// The lowest lane of a row is a multiple of 2^28 once the row is added: it leaves, its carry moves
// up; after all rows the upper half of t holds the product in unnormalised digits.
void finish_row(std::uint64_t* t, std::size_t i) { t[i + 1] += t[i] >> digit_bits; }

void normalise(element& out, const std::uint64_t* t) {
  std::uint64_t carry = 0;
  for (std::size_t j = 0; j < digits; ++j) {
    carry += t[digits + j];
    out.d[j] = carry & digit_mask;
    carry >>= digit_bits;
  }
  out.d[digits] = out.d[digits + 1] = 0;
}

word row_factor(const std::uint64_t* t, std::size_t i, const element& a, word bi, word m_inv) {
  const std::uint64_t low = t[i] + a.d[0] * bi;
  return (static_cast<word>(low) * m_inv) & static_cast<word>(digit_mask);
}

// One Montgomery multiplication, row by row: t[i..] += a·b[i] + m·q[i] with q[i] chosen to clear
// the lowest digit. The SSE2 and AVX2 versions differ only in the vector width.
VYN_SSE2_CODE void multiply_sse2(element& out, const element& a, const element& b, const element& m, word m_inv) {
  std::uint64_t t[2 * lanes] = {};
  for (std::size_t i = 0; i < digits; ++i) {
    const auto bi = static_cast<word>(b.d[i]);
    const __m128i vb = _mm_set1_epi32(static_cast<int>(bi));
    const __m128i vq = _mm_set1_epi32(static_cast<int>(row_factor(t, i, a, bi, m_inv)));
    std::uint64_t* row = t + i;
    for (std::size_t j = 0; j < lanes; j += 2) {
      const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a.d + j));
      const __m128i vm = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m.d + j));
      __m128i vt = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + j));
      vt = _mm_add_epi64(vt, _mm_add_epi64(_mm_mul_epu32(va, vb), _mm_mul_epu32(vm, vq)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + j), vt);
    }
    finish_row(t, i);
  }
  normalise(out, t);
}

VYN_AVX2_CODE void multiply_avx2(element& out, const element& a, const element& b, const element& m, word m_inv) {
  std::uint64_t t[2 * lanes] = {};
  for (std::size_t i = 0; i < digits; ++i) {
    const auto bi = static_cast<word>(b.d[i]);
    const __m256i vb = _mm256_set1_epi32(static_cast<int>(bi));
    const __m256i vq = _mm256_set1_epi32(static_cast<int>(row_factor(t, i, a, bi, m_inv)));
    std::uint64_t* row = t + i;
    for (std::size_t j = 0; j < lanes; j += 4) {
      const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a.d + j));
      const __m256i vm = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m.d + j));
      __m256i vt = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + j));
      vt = _mm256_add_epi64(vt, _mm256_add_epi64(_mm256_mul_epu32(va, vb), _mm256_mul_epu32(vm, vq)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + j), vt);
    }
    finish_row(t, i);
  }
  normalise(out, t);
}

bool processor_has_sse2() noexcept {
#if defined(__x86_64__)
  return true;
#else
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & bit_SSE2) != 0;
#endif
}

// AVX2 needs the processor feature and the system saving the vector registers (XCR0 bits 1, 2).
bool processor_has_avx2() noexcept {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0) return false;
  unsigned xcr0_low = 0, xcr0_high = 0;
  __asm__("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
  if ((xcr0_low & 6) != 6) return false;
  return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & bit_AVX2) != 0;
}

// Almost-Montgomery arithmetic modulo m with R = 2^2072: products of values below 2m stay below
// 2m without a final subtraction, so the digit loop runs the same for every operand.
class engine {
 public:
  engine(const natural& m, bool avx2) : modulus_(m), m_(to_digits(m)), multiply_(avx2 ? &multiply_avx2 : &multiply_sse2) {
    word inverse = 1;
    for (int i = 0; i < 5; ++i) inverse *= 2 - static_cast<word>(m_.d[0]) * inverse;
    m_inv_ = static_cast<word>(0u - inverse);
    const natural r = mod(natural::power_of_two(digits * digit_bits), m);
    r2_ = to_digits(mod_mul(r, r, m));
  }

  element to_mont(const natural& x) const {
    element out;
    mul(out, to_digits(mod(x, modulus_)), r2_);
    return out;
  }

  natural from_mont(const element& x) const {
    element one{}, out;
    one.d[0] = 1;
    mul(out, x, one);
    return mod(from_digits(out), modulus_);
  }

  // out = a·b·R^-1 mod m (below 2m) for a, b below 2m in normalised digits; out may alias a or b.
  void mul(element& out, const element& a, const element& b) const { multiply_(out, a, b, m_, m_inv_); }

 private:
  using multiply_fn = void (*)(element&, const element&, const element&, const element&, word);

  natural modulus_;
  element m_;
  element r2_{};
  word m_inv_ = 0;
  multiply_fn multiply_;
};

#endif  // VYN_VECTOR

}  // namespace

bool available() noexcept {
#ifdef VYN_VECTOR
  static const bool has_sse2 = processor_has_sse2();
  return has_sse2;
#else
  return false;
#endif
}

bool wide_available() noexcept {
#ifdef VYN_VECTOR
  static const bool has_avx2 = available() && processor_has_avx2();
  return has_avx2;
#else
  return false;
#endif
}

natural multi_exp(const natural& m, std::span<const natural> bases, std::span<const natural> exponents, width use) {
#ifdef VYN_VECTOR
  if (!available() || (use == width::avx2 && !wide_available())) {
    throw exceptions::error("Vector arithmetic is not available!");
  }
  if (!m.is_odd() || m.bit_length() > max_modulus_bits || compare(m, natural(3)) < 0) {
    throw exceptions::error("Unsupported Montgomery modulus!");
  }
  if (bases.size() != exponents.size() || bases.empty() || bases.size() > 2) {
    throw exceptions::error("Unsupported multi-exponentiation!");
  }
  const engine ctx(m, use == width::avx2 || (use == width::best && wide_available()));
  return multi_exp_in(ctx, m, bases, exponents);
#else
  (void)m, (void)bases, (void)exponents, (void)use;
  throw exceptions::error("Vector arithmetic is not available!");
#endif
}

}  // namespace vyn::sfx::crypto::vector
