#pragma once
// Base64 with the standard alphabet and '=' padding (RFC 4648, section 4).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vyn::utils {

std::string base64_encode(std::span<const std::uint8_t> bytes);

// The bytes of a padded Base64 text; nothing when the text is not one (a length that is not a
// multiple of 4, a character outside the alphabet, padding other than at the end, or padding
// bits that are not zero).
std::optional<std::vector<std::uint8_t>> base64_decode(std::string_view text);

}  // namespace vyn::utils
