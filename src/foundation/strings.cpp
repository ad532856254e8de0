#include "foundation/strings.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "foundation/exceptions.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vyn::utils {
namespace {

constexpr char32_t replacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[i]; returns false for malformed input (overlong forms,
// surrogates, values above U+10FFFF and truncated sequences included).
[[maybe_unused]] bool decode_utf8(std::string_view text, std::size_t& i, char32_t& cp) {
  const auto lead = static_cast<unsigned char>(text[i]);
  int extra = 0;
  if (lead < 0x80) {
    cp = lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    cp = lead & 0x1Fu, extra = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    cp = lead & 0x0Fu, extra = 2;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    cp = lead & 0x07u, extra = 3;
  } else {
    return false;
  }
  if (text.size() - i - 1 < static_cast<std::size_t>(extra)) return false;
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  constexpr char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
  if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += static_cast<std::size_t>(extra) + 1;
  return true;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

[[maybe_unused]] void append_wide(std::wstring& out, char32_t cp) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (cp >> 10));
      out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
      return;
    }
  }
  out += static_cast<wchar_t>(cp);
}

// Reads one code point from wide text; false for an unpaired surrogate or a value out of range.
bool decode_wide(std::wstring_view text, std::size_t& i, char32_t& cp) {
  cp = static_cast<char32_t>(text[i]);
  if constexpr (sizeof(wchar_t) == 2) {
    cp &= 0xFFFF;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= text.size()) return false;
      const auto low = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
      if (low < 0xDC00 || low > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
      return true;
    }
  }
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
  ++i;
  return true;
}

}  // namespace

#ifdef _WIN32

std::string to_narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length,
                                           nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(needed), '\0');
  if (needed <= 0 || ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length,
                                           out.data(), needed, nullptr, nullptr) != needed) {
    throw exceptions::error(::GetLastError(), "to_narrow<wchar_t>::WideCharToMultiByte");
  }
  return out;
}

std::wstring to_wide(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int needed =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(needed), L'\0');
  if (needed <= 0 || ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length,
                                           out.data(), needed) != needed) {
    throw exceptions::error(::GetLastError(), "to_wide<char>::MultiByteToWideChar");
  }
  return out;
}

#else

std::string to_narrow(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    if (!decode_wide(text, i, cp)) throw exceptions::error(1113u, "to_narrow<wchar_t>::WideCharToMultiByte");
    append_utf8(out, cp);
  }
  return out;
}

std::wstring to_wide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    if (!decode_utf8(text, i, cp)) throw exceptions::error(1113u, "to_wide<char>::MultiByteToWideChar");
    append_wide(out, cp);
  }
  return out;
}

#endif

std::string to_log(std::wstring_view text) noexcept try {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    if (!decode_wide(text, i, cp)) {
      cp = replacement;
      ++i;
    }
    append_utf8(out, cp);
  }
  return out;
} catch (...) {
  return {};
}

wchar_t fold_case(wchar_t c) noexcept {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool iequals(std::wstring_view a, std::wstring_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold_case(a[i]) != fold_case(b[i])) return false;
  }
  return true;
}

std::size_t ifind(std::wstring_view haystack, std::wstring_view needle) noexcept {
  if (needle.size() > haystack.size()) return std::wstring_view::npos;
  for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
    if (iequals(haystack.substr(i, needle.size()), needle)) return i;
  }
  return std::wstring_view::npos;
}

namespace {

// The decimal digits of mantissa * 2^exponent, exponent >= 0: every integer a double can hold.
std::string integer_digits(std::uint64_t mantissa, int exponent) {
  std::vector<unsigned char> digits;  // least significant first
  for (; mantissa != 0; mantissa /= 10) digits.push_back(static_cast<unsigned char>(mantissa % 10));
  for (int i = 0; i < exponent; ++i) {
    unsigned carry = 0;
    for (unsigned char& digit : digits) {
      const unsigned twice = digit * 2u + carry;
      digit = static_cast<unsigned char>(twice % 10);
      carry = twice / 10;
    }
    if (carry != 0) digits.push_back(static_cast<unsigned char>(carry));
  }
  std::string text;
  for (auto digit = digits.rbegin(); digit != digits.rend(); ++digit) text += static_cast<char>('0' + *digit);
  return text;
}

}  // namespace

std::string fixed(double value, int decimals) {
  decimals = std::clamp(decimals, 0, 9);
  std::string text = std::signbit(value) ? "-" : "";
  if (std::isnan(value)) return text + "nan";
  if (std::isinf(value)) return text + "inf";
  const double magnitude = std::fabs(value);

  constexpr double first_without_fraction = 9007199254740992.0;  // 2^53
  if (magnitude >= first_without_fraction) {
    const auto bits = std::bit_cast<std::uint64_t>(magnitude);
    const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    text += integer_digits(mantissa, static_cast<int>(bits >> 52) - 1075);
    if (decimals > 0) text += '.' + std::string(static_cast<std::size_t>(decimals), '0');
    return text;
  }

  std::uint64_t whole = static_cast<std::uint64_t>(magnitude);
  const double fraction = magnitude - static_cast<double>(whole);  // exact below 2^53
  std::uint64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  // A tie (fraction * scale ending in exactly .5) has at most decimals + 1 binary places, so its
  // product is exact in long double and ties round to even as the C library's output does.
  const long double scaled = static_cast<long double>(fraction) * static_cast<long double>(scale);
  auto part = static_cast<std::uint64_t>(scaled);
  const long double rest = scaled - static_cast<long double>(part);
  const std::uint64_t last_digit = decimals == 0 ? whole : part;  // a tie goes to its even neighbour
  if (rest > 0.5L || (rest == 0.5L && (last_digit & 1) != 0)) ++part;
  if (part == scale) {
    ++whole;
    part = 0;
  }
  text += std::to_string(whole);
  if (decimals > 0) {
    const std::string digits = std::to_string(part);
    text += '.';
    text.append(static_cast<std::size_t>(decimals) - digits.size(), '0');
    text += digits;
  }
  return text;
}

}  // namespace vyn::utils
