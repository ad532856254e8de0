#pragma once
// Modular exponentiation for moduli of up to 2048 bits on SSE2 vectors: the DSA check's
// bottleneck. Numbers are held as 74 digits of 28 bits in 64-bit lanes, so that one PMULUDQ forms
// two products and the column sums of a whole Montgomery multiplication fit their lanes without
// carrying (at most 148 products below 2^56 per lane). Used where the processor has SSE2 (every
// x86-64 processor, and a check at run time on 32-bit x86); multi_exp of bigint_montgomery.h is
// the portable fallback with identical results.

#include <span>

#include "payload/bigint.h"

namespace vyn::sfx::crypto::vector {

// True when this build and this processor can run the vector code (SSE2).
bool available() noexcept;
// True when the processor and the system also support AVX2 (four products per instruction).
bool wide_available() noexcept;

enum class width { best, sse2, avx2 };

// Π bases[i]^exponents[i] mod m for an odd m of at most 2048 bits (at least 3), one or two
// bases, exponents of up to 2048 bits, on the widest vectors available (or those asked for).
// Raises vyn::exceptions::error otherwise or when the vectors asked for are not available.
natural multi_exp(const natural& m, std::span<const natural> bases, std::span<const natural> exponents,
                  width use = width::best);

}  // namespace vyn::sfx::crypto::vector
