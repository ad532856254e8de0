#pragma once
// The value kinds of condition attributes and the comparisons the condition leaves make. Pure
// functions over text, shared by the condition classes and testable on any platform.

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <pugixml.hpp>

namespace vyn::repository::conditions {

// An integer attribute whose number does not fit in 32 signed bits. It is deliberately not a
// vyn::exceptions::error: no condition or product-description handler catches it, so such a
// document is rejected as a whole instead of having single elements quietly dropped.
class narrowing_error : public std::range_error {
 public:
  using std::range_error::range_error;
};

// "true" and "false" exactly; any other text is no value.
std::optional<bool> parse_bool(std::wstring_view text);

// The whole text as a decimal integer: leading white space and one sign are allowed, nothing may
// follow the digits. Text that is empty, does not parse completely or exceeds 64 bits is no value.
std::optional<std::int64_t> parse_int64(std::wstring_view text);

// As parse_int64, but a number outside 32 signed bits raises narrowing_error.
std::optional<std::int32_t> parse_int32(std::wstring_view text);

// Up to four dot-separated unsigned 16-bit parts; reading stops at the first part that does not
// match, and every part not read is 0 ("1.2" and "1.2.0.0" are the same version).
std::array<std::uint16_t, 4> parse_version(std::wstring_view text);

// How left relates to right: negative, zero or positive. With a type of "version" (any case) the
// operands are versions; otherwise two whole integers compare as signed numbers; otherwise the
// texts compare case-insensitively, a proper prefix sorting first.
int compare_operands(std::wstring_view left, std::wstring_view right, const std::optional<std::wstring>& type);

// Case-insensitive tests of the "starts-with" and "find" conditions.
bool istarts_with(std::wstring_view text, std::wstring_view prefix);
// True when one of the comma-separated items of list (untrimmed, empty ones included) equals
// item, ignoring case.
bool in_list(std::wstring_view list, std::wstring_view item);

// The word a "brand" condition compares with, by brand kind; empty for kinds it does not know.
std::optional<std::wstring_view> brand_word(std::uint32_t kind);

// Attribute readers: a missing attribute is no value.
std::optional<std::wstring> read_string(const pugi::xml_node& node, const wchar_t* name);
std::optional<bool> read_bool(const pugi::xml_node& node, const wchar_t* name);
std::optional<std::int32_t> read_int(const pugi::xml_node& node, const wchar_t* name);

// Attribute writers: an absent value writes nothing.
void write_string(pugi::xml_node& node, const wchar_t* name, const std::optional<std::wstring>& value);
void write_bool(pugi::xml_node& node, const wchar_t* name, const std::optional<bool>& value);
void write_int(pugi::xml_node& node, const wchar_t* name, const std::optional<std::int32_t>& value);

}  // namespace vyn::repository::conditions
