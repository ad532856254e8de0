#include "setup/condition_leaves.h"

#include <cstdint>

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/strings.h"
#include "setup/condition_values.h"
#include "setup/running_brand.h"

namespace vyn::repository::conditions {
namespace {

void set_name(pugi::xml_node& node, const std::optional<std::wstring>& name) {
  node.set_name(name.value_or(L"").c_str());
}

const char* relation(int order) { return order < 0 ? "<" : (order > 0 ? ">" : "=="); }

}  // namespace

void condition_boolean::build(const pugi::xml_node& node, const basic_context&) {
  name_ = std::wstring(node.name());
  value_ = read_bool(node, L"value");
}

void condition_boolean::write(pugi::xml_node& node) const {
  set_name(node, name_);
  write_bool(node, L"value", value_);
}

bool condition_boolean::evaluate(const basic_context&) const {
  require(value_.has_value(), "m_value");
  return *value_;
}

void condition_compare::build(const pugi::xml_node& node, const basic_context&) {
  name_ = std::wstring(node.name());
  left_ = read_string(node, L"left");
  right_ = read_string(node, L"right");
  type_ = read_string(node, L"type");
}

void condition_compare::write(pugi::xml_node& node) const {
  set_name(node, name_);
  write_string(node, L"left", left_);
  write_string(node, L"right", right_);
  write_string(node, L"type", type_);
}

int condition_compare::compare(const basic_context& context) const {
  require(left_.has_value(), "m_left");
  require(right_.has_value(), "m_right");
  const std::wstring left = context.expander().expand(*left_);
  const std::wstring right = context.expander().expand(*right_);
  const int order = compare_operands(left, right, type_);
  VYN_LOG_DEBUG("condition_compare: left:'[{}]{{{}}}' {} right:'[{}]{{{}}}'", utils::to_log(*left_),
                utils::to_log(left), relation(order), utils::to_log(*right_), utils::to_log(right));
  return order;
}

bool condition_equals::evaluate(const basic_context& context) const { return compare(context) == 0; }

bool condition_less_than::evaluate(const basic_context& context) const { return compare(context) < 0; }

bool condition_greater_than::evaluate(const basic_context& context) const { return compare(context) > 0; }

void condition_starts_with::build(const pugi::xml_node& node, const basic_context&) {
  name_ = std::wstring(node.name());
  string_ = read_string(node, L"string");
  prefix_ = read_string(node, L"prefix");
}

void condition_starts_with::write(pugi::xml_node& node) const {
  set_name(node, name_);
  write_string(node, L"string", string_);
  write_string(node, L"prefix", prefix_);
}

bool condition_starts_with::evaluate(const basic_context& context) const {
  require(string_.has_value(), "m_str");
  require(prefix_.has_value(), "m_prefix");
  const std::wstring text = context.expander().expand(*string_);
  const std::wstring prefix = context.expander().expand(*prefix_);
  const bool result = istarts_with(text, prefix);
  VYN_LOG_DEBUG("condition_starts_with: string:'{}' prefix:'{}' result={}", utils::to_log(text),
                utils::to_log(prefix), result);
  return result;
}

void condition_find::build(const pugi::xml_node& node, const basic_context&) {
  name_ = std::wstring(node.name());
  string_ = read_string(node, L"string");
  substring_ = read_string(node, L"substring");
  inlist_ = read_bool(node, L"inlist");
}

void condition_find::write(pugi::xml_node& node) const {
  set_name(node, name_);
  write_string(node, L"string", string_);
  write_string(node, L"substring", substring_);
  write_bool(node, L"inlist", inlist_);
}

bool condition_find::evaluate(const basic_context& context) const {
  require(string_.has_value(), "m_str");
  require(substring_.has_value(), "m_substring");
  const std::wstring text = context.expander().expand(*string_);
  const std::wstring substring = context.expander().expand(*substring_);
  const bool result = inlist_.value_or(false) ? in_list(text, substring)
                                              : utils::ifind(text, substring) != std::wstring::npos;
  VYN_LOG_DEBUG("{}: string:'{}' substring:'{}' result={}", "find", utils::to_log(text),
                utils::to_log(substring), result);
  return result;
}

void condition_brand::build(const pugi::xml_node& node, const basic_context&) {
  name_ = std::wstring(node.name());
  brand_name_ = read_string(node, L"name");
}

void condition_brand::write(pugi::xml_node& node) const {
  set_name(node, name_);
  write_string(node, L"name", brand_name_);
}

bool condition_brand::evaluate(const basic_context&) const {
  require(brand_name_ && !brand_name_->empty(), "m_name && !m_name->empty()");
  const auto kind = static_cast<std::uint32_t>(running_brand_kind());
  const auto word = brand_word(kind);
  if (!word) {
    VYN_LOG_ERROR("The executable is running under unknown brand! (kind {})", kind);
    throw exceptions::error("The executable is running under unknown brand!");
  }
  return utils::iequals(*word, *brand_name_);
}

}  // namespace vyn::repository::conditions
