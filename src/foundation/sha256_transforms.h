#pragma once
// Block transforms behind vyn::root::sha256. Each processes whole 64-byte blocks into the eight
// state words; all produce identical results.

#include <cstddef>
#include <cstdint>

namespace vyn::root::detail {

// The round constants, 16-byte aligned so the vector transform can load them directly.
alignas(16) extern const std::uint32_t sha256_round_constants[64];

void sha256_transform_plain(std::uint32_t* h, const std::uint8_t* data, std::size_t blocks);

// True when the processor offers the SHA extensions together with SSSE3 and SSE4.1.
bool sha256_hardware_available() noexcept;

// Uses the SHA extensions; call only when sha256_hardware_available().
void sha256_transform_hardware(std::uint32_t* h, const std::uint8_t* data, std::size_t blocks);

}  // namespace vyn::root::detail
