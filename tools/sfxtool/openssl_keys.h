#pragma once
// Key generation, loading and signing through OpenSSL's libcrypto (the maker's side only; the
// stub verifies with its own code).

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "key_folder.h"

namespace vyn::tool::openssl {

struct pkey_free {
  void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
};
using pkey = std::unique_ptr<EVP_PKEY, pkey_free>;

// A DSA domain (p of 2048 bits, q of 256 bits, g); takes a while.
pkey generate_dsa_domain();
pkey generate_dsa_key(EVP_PKEY* domain);
pkey generate_ecdsa_key();  // NIST P-256

// The private key as unencrypted PKCS#8 PEM.
std::string private_pem(EVP_PKEY* key);
public_values public_of(EVP_PKEY* key, key_kind kind);

// Reads a PEM private key of the expected kind; raises tool_error(exit_key).
pkey load_private(const std::filesystem::path& path, key_kind kind);

// r ‖ s, 32 bytes each, big-endian, over a 32-byte SHA-256 digest.
std::array<std::uint8_t, 64> sign_digest(EVP_PKEY* key, std::span<const std::uint8_t, 32> digest);

}  // namespace vyn::tool::openssl
