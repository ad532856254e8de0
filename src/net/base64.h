#pragma once
// Base64 with the standard alphabet and '=' padding, as proxy.ini stores the proxy password.

#include <string>
#include <string_view>

namespace vyn::utils {

// The text with padding; empty for empty bytes.
std::string base64_encode(std::string_view bytes);

// The bytes of a text whose length is a positive multiple of 4; anything else decodes to nothing.
// Up to two trailing '=' shorten the result; other characters outside the alphabet count as
// zero bits rather than being rejected.
std::string base64_decode(std::string_view text);

}  // namespace vyn::utils
