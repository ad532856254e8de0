#include "net/ini_file.h"

#include <algorithm>
#include <limits>

#include "foundation/exceptions.h"
#include "foundation/strings.h"

namespace vyn::utils {
namespace {

constexpr std::uint32_t invalid_data = 13;  // ERROR_INVALID_DATA

[[noreturn]] void malformed(const char* what) {
  throw exceptions::error(invalid_data, what);
}

bool is_high_surrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void append_code_point(std::wstring& out, char32_t cp) {
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

std::wstring decode_utf16(std::span<const std::uint8_t> bytes, bool big_endian) {
  if (bytes.size() % 2 != 0) malformed("The INI text has an odd number of UTF-16 bytes");
  const auto unit_at = [&](std::size_t i) -> char32_t {
    const std::uint8_t first = bytes[2 * i], second = bytes[2 * i + 1];
    return big_endian ? char32_t(first) << 8 | second : char32_t(second) << 8 | first;
  };
  const std::size_t units = bytes.size() / 2;
  std::wstring out;
  out.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t unit = unit_at(i);
    if (is_low_surrogate(unit)) malformed("The INI text holds an unpaired UTF-16 surrogate");
    if (!is_high_surrogate(unit)) {
      out += static_cast<wchar_t>(unit);
      continue;
    }
    if (i + 1 == units || !is_low_surrogate(unit_at(i + 1))) {
      malformed("The INI text holds an unpaired UTF-16 surrogate");
    }
    append_code_point(out, 0x10000 + ((unit - 0xD800) << 10) + (unit_at(++i) - 0xDC00));
  }
  return out;
}

std::wstring decode_utf8(std::span<const std::uint8_t> bytes) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  try {
    return to_wide(text);
  } catch (const exceptions::error&) {
    malformed("The INI text is not valid UTF-8");
  }
}

// The text without its byte-order mark, decoded, and the encoding it was in.
std::wstring decode(std::span<const std::uint8_t> bytes, text_encoding& encoding) {
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    encoding = text_encoding::utf16_le;
    return decode_utf16(bytes.subspan(2), false);
  }
  if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
    encoding = text_encoding::utf16_be;
    return decode_utf16(bytes.subspan(2), true);
  }
  encoding = text_encoding::utf8;
  if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) bytes = bytes.subspan(3);
  return decode_utf8(bytes);
}

std::wstring_view trim(std::wstring_view text) {
  constexpr std::wstring_view blanks = L" \t\r\n\f\v";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::wstring_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// UTF-16 code units of the text; on the host, code points above the basic plane become pairs.
std::u16string utf16_units(std::wstring_view text) {
  std::u16string units;
  units.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<char32_t>(text[i]) & (sizeof(wchar_t) == 2 ? 0xFFFF : 0xFFFFFFFF);
    if constexpr (sizeof(wchar_t) == 2) {
      const bool paired = is_high_surrogate(c) && i + 1 < text.size() &&
                          is_low_surrogate(static_cast<char32_t>(text[i + 1]) & 0xFFFF);
      if (is_low_surrogate(c) || (is_high_surrogate(c) && !paired)) {
        malformed("The INI document holds an unpaired UTF-16 surrogate");
      }
      units += static_cast<char16_t>(c);
      if (paired) units += static_cast<char16_t>(text[++i]);
    } else {
      if (is_high_surrogate(c) || is_low_surrogate(c) || c > 0x10FFFF) {
        malformed("The INI document holds a character that UTF-16 cannot encode");
      }
      if (c < 0x10000) {
        units += static_cast<char16_t>(c);
      } else {
        units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      }
    }
  }
  return units;
}

std::vector<std::uint8_t> encode(std::wstring_view text, text_encoding encoding) {
  std::vector<std::uint8_t> bytes;
  if (encoding == text_encoding::utf8) {
    std::string narrow;
    try {
      narrow = to_narrow(text);
    } catch (const exceptions::error&) {
      malformed("The INI document holds an unpaired UTF-16 surrogate");
    }
    bytes = {0xEF, 0xBB, 0xBF};
    bytes.insert(bytes.end(), narrow.begin(), narrow.end());
    return bytes;
  }
  const bool big_endian = encoding == text_encoding::utf16_be;
  const std::u16string units = utf16_units(text);
  bytes.reserve(2 + 2 * units.size());
  bytes.push_back(big_endian ? 0xFE : 0xFF);
  bytes.push_back(big_endian ? 0xFF : 0xFE);
  for (const char16_t unit : units) {
    const auto high = static_cast<std::uint8_t>(unit >> 8), low = static_cast<std::uint8_t>(unit & 0xFF);
    bytes.push_back(big_endian ? high : low);
    bytes.push_back(big_endian ? low : high);
  }
  return bytes;
}

}  // namespace

bool ini_name_less::operator()(std::wstring_view a, std::wstring_view b) const noexcept {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
    return static_cast<std::uint32_t>(fold_case(x)) < static_cast<std::uint32_t>(fold_case(y));
  });
}

ini_file ini_file::parse(std::span<const std::uint8_t> bytes) {
  ini_file document;
  const std::wstring text = decode(bytes, document.encoding_);
  section* current = nullptr;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring_view line(text.data() + start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
    if (line.empty() || line.front() == L'#' || line.front() == L';') continue;
    if (line.size() >= 2 && line.front() == L'[' && line.back() == L']') {
      const std::wstring name(line.substr(1, line.size() - 2));
      current = &document.sections_.try_emplace(name).first->second;
      continue;
    }
    const std::size_t equals = line.find(L'=');
    if (equals == std::wstring_view::npos || current == nullptr) continue;
    const std::wstring key(trim(line.substr(0, equals)));
    (*current)[key] = std::wstring(trim(line.substr(equals + 1)));
  }
  return document;
}

std::vector<std::uint8_t> ini_file::render(text_encoding encoding) const {
  std::wstring text;
  for (const auto& [name, entries] : sections_) {
    text += L"\r\n[";
    text += name;
    text += L"]\r\n";
    for (const auto& [key, value] : entries) {
      text += key;
      text += L'=';
      text += value;
      text += L"\r\n";
    }
  }
  return encode(text, encoding);
}

std::optional<std::wstring> ini_file::find(std::wstring_view section_name, std::wstring_view key) const {
  const auto found_section = sections_.find(section_name);
  if (found_section == sections_.end()) return std::nullopt;
  const auto found_key = found_section->second.find(key);
  if (found_key == found_section->second.end()) return std::nullopt;
  return found_key->second;
}

std::wstring ini_file::get(std::wstring_view section_name, std::wstring_view key, std::wstring_view fallback) const {
  return find(section_name, key).value_or(std::wstring(fallback));
}

std::int32_t ini_file::get_int(std::wstring_view section_name, std::wstring_view key, std::int32_t fallback) const {
  const std::optional<std::wstring> value = find(section_name, key);
  if (!value) return fallback;
  return parse_leading_int(*value).value_or(fallback);
}

void ini_file::set(std::wstring_view section_name, std::wstring_view key, std::wstring_view value) {
  auto found_section = sections_.find(section_name);
  if (found_section == sections_.end()) found_section = sections_.try_emplace(std::wstring(section_name)).first;
  section& entries = found_section->second;
  if (const auto found_key = entries.find(key); found_key != entries.end()) {
    found_key->second = std::wstring(value);
  } else {
    entries.try_emplace(std::wstring(key), std::wstring(value));
  }
}

void ini_file::set_int(std::wstring_view section_name, std::wstring_view key, std::int32_t value) {
  set(section_name, key, utils::decimal(value));
}

std::optional<std::int32_t> parse_leading_int(std::wstring_view text) noexcept {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == L'-';
  if (!text.empty() && (text[0] == L'-' || text[0] == L'+')) i = 1;
  if (i == text.size() || text[i] < L'0' || text[i] > L'9') return std::nullopt;
  // Accumulated as a magnitude, which reaches 2^31 for the smallest negative number.
  const std::int64_t limit = negative ? std::int64_t{1} << 31 : std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - L'0');
    if (magnitude > limit) return std::nullopt;
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace vyn::utils
