#pragma once
// Test support: signatures made with the build's key folder and our own arithmetic, so that the
// tests can sign any data on every platform (the maker's tool signs through libcrypto instead;
// the host tests cross-check the two).

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "payload/bigint.h"
#include "payload/signature_check.h"
#include "payload/signature_writer.h"

namespace vyn::sfx::testing {

// One private key file of the key folder, as generated into the test build.
struct private_key_file {
  unsigned set;
  signature::key_kind kind;
  const char* name;
  const char* pem;  // PKCS#8 PEM text
};

// Every private key of the configured key folder (none when the folder holds public keys only).
std::span<const private_key_file> test_private_keys() noexcept;

struct private_key {
  signature::key_kind kind = signature::key_kind::dsa;
  crypto::natural secret;   // DSA x or ECDSA d
  crypto::natural p, q, g;  // DSA domain
};

// Decodes the PEM text; raises std::runtime_error when it is no DSA or P-256 key in PKCS#8 form.
private_key parse_private_key(const char* pem);

// The index-th key of that kind in the set, in key folder order; raises std::runtime_error when the
// folder has no such private key.
private_key test_key(unsigned set, signature::key_kind kind, std::size_t index);

// r ‖ s over a digest, with a nonce derived from the key and the digest.
std::array<std::uint8_t, 64> sign_digest(const private_key& key, std::span<const std::uint8_t, 32> digest);

signature::digest_signer signer(unsigned set, signature::key_kind kind, std::size_t index);

// sign_data with one of the folder's keys; defaults: key set 7, first DSA key.
std::vector<std::uint8_t> sign(std::span<const std::uint8_t> data, const signature::sign_options& options,
                               unsigned set = 7, signature::key_kind kind = signature::key_kind::dsa,
                               std::size_t index = 0);

// A small valid PE image: DOS header, NT headers of a 32-bit (machine 0x14C) or 64-bit (0x8664)
// GUI image with one section of body_size bytes (filled with a pattern). CheckSum and certificate
// entry are zero.
std::vector<std::uint8_t> minimal_pe_image(bool pe64, std::size_t body_size);

// Appends a certificate table as an Authenticode signer does: zero bytes up to a multiple of 8,
// then table_size bytes starting with a WIN_CERTIFICATE header, and points the certificate entry
// at it. Returns the number of padding bytes.
std::size_t append_cert_table(std::vector<std::uint8_t>& image, std::uint32_t table_size);

// Writes a little-endian 32-bit value at offset.
void put_u32(std::vector<std::uint8_t>& data, std::size_t offset, std::uint32_t value);

}  // namespace vyn::sfx::testing
