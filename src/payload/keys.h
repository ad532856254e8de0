#pragma once
// The public keys built into the program, grouped in numbered key sets. The key values come from
// the key folder chosen when the build is configured (VYN_KEY_DIR); a generated source holds them.

#include <cstdint>
#include <span>

#include "payload/dsa_verify.h"

namespace vyn::sfx::keys {

// Sets 7 (the stub itself, its configuration and downloads) and 8 (the launching-stub check and
// downloads that ask for it) are used; 0 to 5 exist in the table without an operation using them.
inline constexpr unsigned stub_key_set = 7;
inline constexpr unsigned extended_key_set = 8;

struct key_set {
  unsigned id = 0;
  std::span<const crypto::dsa_public_key> dsa;            // tried first, in order
  std::span<const std::span<const std::uint8_t>> ecdsa;  // P-256 points, tried next, in order
};

// Every set of the generated table.
std::span<const key_set> built_in_key_sets() noexcept;

// The set with this number; raises vyn::exceptions::error code 87 "Unknown DSA key!" when there
// is none.
const key_set& build_key_set(unsigned id);

}  // namespace vyn::sfx::keys
