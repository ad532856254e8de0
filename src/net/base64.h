#pragma once
// Base64 with the standard alphabet and '=' padding (RFC 4648, section 4): leniently read, as
// proxy.ini stores the proxy password, and strictly read, for the identity data the program
// stores itself.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vyn::utils {

// The text with padding; empty for empty bytes.
std::string base64_encode(std::string_view bytes);
std::string base64_encode(std::span<const std::uint8_t> bytes);

// The bytes of a text whose length is a positive multiple of 4; anything else decodes to nothing.
// Up to two trailing '=' shorten the result; other characters outside the alphabet count as
// zero bits rather than being rejected.
std::string base64_decode(std::string_view text);

// The bytes of a padded Base64 text; nothing when the text is not one (a length that is not a
// multiple of 4, a character outside the alphabet, padding other than at the end, or padding
// bits that are not zero).
std::optional<std::vector<std::uint8_t>> base64_decode_strict(std::string_view text);

}  // namespace vyn::utils
