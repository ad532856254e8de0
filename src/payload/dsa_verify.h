#pragma once
// DSA signature check (FIPS 186-4) for 2048-bit p and 256-bit q, on our own big integers.

#include <cstdint>
#include <span>

namespace vyn::sfx::crypto {

// One public key: p, q, g and y as big-endian bytes (p, g, y 256 bytes, q 32 bytes).
struct dsa_public_key {
  std::span<const std::uint8_t> p, q, g, y;
};

// True when signature (r then s, 32 bytes each, big-endian) is valid for the 32-byte digest.
// A malformed key or r, s outside [1, q-1] give false; nothing raises.
bool dsa_verify(const dsa_public_key& key, std::span<const std::uint8_t, 32> digest,
                std::span<const std::uint8_t, 64> signature) noexcept;

}  // namespace vyn::sfx::crypto
