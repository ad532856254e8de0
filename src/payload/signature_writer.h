#pragma once
// Produces signed data: the region to sign, its digest by the verifier's own rules, and the block
// appended behind it. The maker's tool signs through libcrypto, the tests through their own
// signer; both pass the signing step in as a function.
//
// PE images and Authenticode. The block goes directly behind the data; an Authenticode signature
// added later pads the file to 8 bytes and appends its certificate table behind our block, which
// the verifier skips (it looks for our block in front of that table). The reverse order cannot
// work: an Authenticode signature covers every byte in front of its table, so inserting our block
// there breaks it, and a block behind the table lies outside the data the verifier considers. An
// image that already carries a certificate table is therefore refused, or, on request, stripped
// of it first (and signed with Authenticode again afterwards). Version 3 leaves the CheckSum and
// the certificate entry out of the digest, so the later Authenticode step needs no preparation.
// Version 2 hashes the certificate entry: it must hold its final values when we sign, which
// reserve_cert_table arranges (the entry then points at where the table will be appended).

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "payload/signature_block.h"

namespace vyn::sfx::signature {

enum class line_ending { none, lf, crlf };

struct sign_options {
  block_form form = block_form::binary;
  int version = 3;
  // Text form: wrap the block in an XML comment ("<!-- " ... " -->") followed by line_end.
  bool xml_comment = false;
  line_ending line_end = line_ending::lf;
  // PE images: before signing, point the certificate entry at the 8-byte aligned end of the
  // signed file with this table size (the size of the Authenticode table to be appended).
  std::optional<std::uint32_t> reserve_cert_table;
  // PE images: drop an existing certificate table and clear its entry instead of refusing.
  bool strip_cert_table = false;
};

// Makes r ‖ s for a 32-byte digest.
using digest_signer = std::function<std::array<std::uint8_t, signature_size>(
    std::span<const std::uint8_t, 32> digest)>;

// Raised for input that cannot be signed as asked; the message says why.
class refused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct signed_output {
  std::vector<std::uint8_t> data;
  std::size_t signed_length = 0;  // L, the region in front of the block
  root::digest digest;
  bool pe = false;
};

// Signs input. Raises refused for data that already ends in a signature block, a PE image with a
// certificate table (unless strip_cert_table), a version other than 2 or 3, and a reservation on
// data that is no PE image.
signed_output sign_data(bytes input, const sign_options& options, const digest_signer& signer);

// The text block "VYNSig<v>A" + 128 lower-case hexadecimal digits + "VYNSig<v>A".
std::string text_block(std::span<const std::uint8_t, signature_size> signature, int version);

}  // namespace vyn::sfx::signature
