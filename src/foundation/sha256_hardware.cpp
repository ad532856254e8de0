// SHA-256 block transform on the processor's SHA extensions. Only this function is compiled for
// them (through a target attribute), so the rest of the program still runs on processors without.
#include "foundation/sha256_transforms.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace vyn::root::detail {

#if defined(__x86_64__) || defined(__i386__)

bool sha256_hardware_available() noexcept {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = (c & (1u << 9)) != 0;
  const bool sse41 = (c & (1u << 19)) != 0;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  const bool sha = (b & (1u << 29)) != 0;
  return ssse3 && sse41 && sha;
}

#if defined(__i386__)
// The 32-bit Windows ABI promises the stack only 4-byte alignment, and the vector spills need 16:
// the function aligns its own frame, whoever calls it.
#define VYN_SHA_CODE __attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer))
#else
#define VYN_SHA_CODE __attribute__((target("sha,sse4.1,ssse3")))
#endif

// The state is kept as the two halves ABEF and CDGH that sha256rnds2 works on. Each group of
// four rounds consumes one message vector; the message schedule for later groups is computed
// four words at a time with sha256msg1/sha256msg2 in a ring of four vectors.
VYN_SHA_CODE
void sha256_transform_hardware(std::uint32_t* h, const std::uint8_t* data, std::size_t blocks) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  const auto* k = reinterpret_cast<const __m128i*>(sha256_round_constants);

  __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0xB1);
  __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4)), 0x1B);
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);   // ABEF
  state1 = _mm_blend_epi16(state1, tmp, 0xF0);         // CDGH

  // The state at the start of each block is added back at its end. Kept in memory, that copy costs
  // nothing; without the barrier the i686 build (eight vector registers) would keep the state
  // itself in memory and make every block wait for it to be stored and read back.
  __m128i saved[2];
  for (; blocks != 0; --blocks, data += 64) {
    saved[0] = state0;
    saved[1] = state1;
    asm("" : "+m"(saved));
    __m128i m[4];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
      m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)),
                              byte_swap);
    }
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i) {
      __m128i msg = _mm_add_epi32(m[i & 3], _mm_load_si128(k + i));
      state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
      if (i >= 3 && i <= 14) {
        const __m128i carry = _mm_alignr_epi8(m[i & 3], m[(i - 1) & 3], 4);
        m[(i + 1) & 3] = _mm_sha256msg2_epu32(_mm_add_epi32(m[(i + 1) & 3], carry), m[i & 3]);
      }
      msg = _mm_shuffle_epi32(msg, 0x0E);
      state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
      if (i >= 1 && i <= 12) m[(i - 1) & 3] = _mm_sha256msg1_epu32(m[(i - 1) & 3], m[i & 3]);
    }
    state0 = _mm_add_epi32(state0, saved[0]);
    state1 = _mm_add_epi32(state1, saved[1]);
  }

  tmp = _mm_shuffle_epi32(state0, 0x1B);               // FEBA
  state1 = _mm_shuffle_epi32(state1, 0xB1);            // DCHG
  state0 = _mm_blend_epi16(tmp, state1, 0xF0);         // DCBA
  state1 = _mm_alignr_epi8(state1, tmp, 8);            // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), state1);
}

#else

bool sha256_hardware_available() noexcept { return false; }

void sha256_transform_hardware(std::uint32_t* h, const std::uint8_t* data, std::size_t blocks) {
  sha256_transform_plain(h, data, blocks);
}

#endif

}  // namespace vyn::root::detail
