#pragma once
// ECDSA signature check on NIST P-256 (FIPS 186-4), on our own field and point arithmetic.

#include <cstdint>
#include <optional>
#include <span>

#include "payload/ecc_p256.h"

namespace vyn::sfx::crypto {

// A public key point: 65 bytes 0x04 ‖ X ‖ Y, 33 bytes 0x02/0x03 ‖ X (compressed, the prefix
// giving the parity of Y) or 64 bytes X ‖ Y. Empty when the bytes are malformed or the point is
// not on the curve.
std::optional<p256::affine> decode_ecdsa_key(std::span<const std::uint8_t> bytes) noexcept;

// True when signature (r then s, 32 bytes each, big-endian) is valid for the 32-byte digest.
// A malformed key or r, s outside [1, n-1] give false; nothing raises.
bool ecdsa_verify(std::span<const std::uint8_t> public_key, std::span<const std::uint8_t, 32> digest,
                  std::span<const std::uint8_t, 64> signature) noexcept;
bool ecdsa_verify(const p256::affine& key, std::span<const std::uint8_t, 32> digest,
                  std::span<const std::uint8_t, 64> signature) noexcept;

}  // namespace vyn::sfx::crypto
