#include "app/value_holder.h"

#include <stdexcept>

#include "app/decimal.h"
#include "foundation/strings.h"

namespace vyn::sfx {

void value_holder::insert(const wchar_t* key, std::wstring text) {
  std::pair<std::wstring, std::wstring> entry(key, std::move(text));
  std::lock_guard guard(lock_);
  values_.insert(std::move(entry));
}

std::optional<std::wstring> value_holder::lookup(const wchar_t* key) const {
  std::lock_guard guard(lock_);
  const auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void value_holder::set(const wchar_t* key, const std::wstring& value) { insert(key, value); }

void value_holder::set(const wchar_t* key, const wchar_t* value) { insert(key, value); }

void value_holder::set_bool(const wchar_t* key, bool value) { insert(key, value ? L"1" : L"0"); }

void value_holder::set_int(const wchar_t* key, std::int32_t value) {
  insert(key, utils::decimal(value));
}

std::wstring value_holder::get(const wchar_t* key, const wchar_t* default_value) const {
  return lookup(key).value_or(default_value);
}

bool value_holder::get_bool(const wchar_t* key, bool default_value) const {
  const auto text = lookup(key);
  return text ? *text == L"1" : default_value;
}

std::int32_t value_holder::get_int(const wchar_t* key, std::int32_t default_value) const {
  const auto text = lookup(key);
  if (!text) return default_value;
  const decimal_result number = parse_decimal_prefix(*text);
  switch (number.status) {
    case decimal_status::ok:
      return number.value;
    case decimal_status::out_of_range:
      throw std::out_of_range("stoi argument out of range");
    case decimal_status::not_a_number:
      break;
  }
  throw std::invalid_argument("invalid stoi argument");
}

}  // namespace vyn::sfx
