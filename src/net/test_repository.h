#pragma once
// Repository objects made by the tests, as the maker's tool publishes them: a setup file packed
// and signed with a binary block, a description signed in its XML comment, packed and signed
// again. Written below nginx's folder, they are served by nginx and by the fault server.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "payload/signature_check.h"

namespace vyn::http::testing {

using bytes = std::vector<std::uint8_t>;

// Who signs an object: a key of the key folder (key set 7, the first DSA key, by default).
struct signer {
  unsigned set = 7;
  sfx::signature::key_kind kind = sfx::signature::key_kind::dsa;
  std::size_t index = 0;
};

// The content packed (LZMA) and signed with a binary block of version 3.
bytes packed_object(std::span<const std::uint8_t> content, const signer& by = {});
// The XML text signed in its last comment (text block, version 3, LF).
bytes signed_xml(const std::string& xml, const signer& by = {});
// 64 lower-case hexadecimal digits.
std::string sha256_hex(std::span<const std::uint8_t> content);
// "universe/h[0..3]/h[4..7]/h[8..11]/h.lzma" of the content's SHA-256.
std::string universe_path(std::span<const std::uint8_t> content);

// Writes the bytes to the file, making its folders first.
void write_file(const std::wstring& path, std::span<const std::uint8_t> bytes);

}  // namespace vyn::http::testing
