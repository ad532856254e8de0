#include "setup/condition_values.h"

#include <algorithm>
#include <limits>

#include <fmt/format.h>

#include "foundation/strings.h"

namespace vyn::repository::conditions {
namespace {

bool is_space(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }
bool is_digit(wchar_t c) { return c >= L'0' && c <= L'9'; }

}  // namespace

std::optional<bool> parse_bool(std::wstring_view text) {
  if (text == L"true") return true;
  if (text == L"false") return false;
  return std::nullopt;
}

std::optional<std::int64_t> parse_int64(std::wstring_view text) {
  std::size_t at = 0;
  while (at < text.size() && is_space(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == L'+' || text[at] == L'-')) negative = text[at++] == L'-';
  if (at == text.size()) return std::nullopt;
  // The magnitude may reach 2^63 for the most negative number.
  const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : std::numeric_limits<std::int64_t>::max();
  std::uint64_t magnitude = 0;
  for (; at < text.size(); ++at) {
    if (!is_digit(text[at])) return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(text[at] - L'0');
    if (magnitude > (limit - digit) / 10) return std::nullopt;
    magnitude = magnitude * 10 + digit;
  }
  if (!negative) return static_cast<std::int64_t>(magnitude);
  return magnitude == limit ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(magnitude);
}

std::optional<std::int32_t> parse_int32(std::wstring_view text) {
  const auto value = parse_int64(text);
  if (!value) return std::nullopt;
  if (*value < std::numeric_limits<std::int32_t>::min() || *value > std::numeric_limits<std::int32_t>::max()) {
    throw narrowing_error(fmt::format("Integer attribute value {} does not fit in 32 bits", *value));
  }
  return static_cast<std::int32_t>(*value);
}

std::array<std::uint16_t, 4> parse_version(std::wstring_view text) {
  std::array<std::uint16_t, 4> parts{};
  std::size_t at = 0;
  for (std::size_t part = 0; part < parts.size(); ++part) {
    while (at < text.size() && is_space(text[at])) ++at;
    std::uint32_t value = 0;
    const std::size_t first = at;
    while (at < text.size() && is_digit(text[at]) && value <= 0xFFFF) {
      value = value * 10 + static_cast<std::uint32_t>(text[at++] - L'0');
    }
    if (at == first || value > 0xFFFF) break;
    parts[part] = static_cast<std::uint16_t>(value);
    if (at == text.size() || text[at] != L'.') break;
    ++at;
  }
  return parts;
}

int compare_operands(std::wstring_view left, std::wstring_view right, const std::optional<std::wstring>& type) {
  if (type && utils::iequals(*type, L"version")) {
    const auto a = parse_version(left);
    const auto b = parse_version(right);
    return a < b ? -1 : (b < a ? 1 : 0);
  }
  const auto a = parse_int64(left);
  const auto b = parse_int64(right);
  if (a && b) return *a < *b ? -1 : (*b < *a ? 1 : 0);
  const std::size_t common = std::min(left.size(), right.size());
  for (std::size_t i = 0; i < common; ++i) {
    const wchar_t x = utils::fold_case(left[i]);
    const wchar_t y = utils::fold_case(right[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return left.size() < right.size() ? -1 : (right.size() < left.size() ? 1 : 0);
}

bool istarts_with(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && utils::iequals(text.substr(0, prefix.size()), prefix);
}

bool in_list(std::wstring_view list, std::wstring_view item) {
  for (std::size_t start = 0;;) {
    const std::size_t comma = list.find(L',', start);
    if (utils::iequals(list.substr(start, comma - start), item)) return true;
    if (comma == std::wstring_view::npos) return false;
    start = comma + 1;
  }
}

std::optional<std::wstring_view> brand_word(std::uint32_t kind) {
  switch (kind) {
    case 1: return L"orvek";
    case 2: return L"tarn";
    case 3: return L"sennet";
    case 5: return L"pellin";
    case 6: return L"halvard";
    default: return std::nullopt;
  }
}

std::optional<std::wstring> read_string(const pugi::xml_node& node, const wchar_t* name) {
  const pugi::xml_attribute attribute = node.attribute(name);
  if (!attribute) return std::nullopt;
  return std::wstring(attribute.value());
}

std::optional<bool> read_bool(const pugi::xml_node& node, const wchar_t* name) {
  const pugi::xml_attribute attribute = node.attribute(name);
  return attribute ? parse_bool(attribute.value()) : std::nullopt;
}

std::optional<std::int32_t> read_int(const pugi::xml_node& node, const wchar_t* name) {
  const pugi::xml_attribute attribute = node.attribute(name);
  return attribute ? parse_int32(attribute.value()) : std::nullopt;
}

void write_string(pugi::xml_node& node, const wchar_t* name, const std::optional<std::wstring>& value) {
  if (value) node.append_attribute(name).set_value(value->c_str());
}

void write_bool(pugi::xml_node& node, const wchar_t* name, const std::optional<bool>& value) {
  if (value) node.append_attribute(name).set_value(*value ? L"true" : L"false");
}

void write_int(pugi::xml_node& node, const wchar_t* name, const std::optional<std::int32_t>& value) {
  if (value) node.append_attribute(name).set_value(utils::decimal(*value).c_str());
}

}  // namespace vyn::repository::conditions
