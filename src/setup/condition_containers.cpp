#include "setup/condition_containers.h"

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/strings.h"
#include "setup/condition_factory.h"
#include "setup/condition_leaves.h"
#include "setup/condition_values.h"

namespace vyn::repository::conditions {
namespace {

// Building and evaluating recurse once per nesting level; a description nested deeper than any
// real one could exhaust the stack, so such a subtree is refused like a malformed element.
constexpr int max_document_depth = 100;

void check_depth(const pugi::xml_node& node) {
  int depth = 0;
  for (pugi::xml_node up = node.parent(); up; up = up.parent()) {
    if (++depth > max_document_depth) {
      VYN_LOG_ERROR("The condition element '{}' is nested too deeply.", utils::to_log(node.name()));
      throw exceptions::error(fmt::format("{}: The XML element is nested too deeply!", utils::to_log(node.name())));
    }
  }
}

// The "boolean" leaf that stands in for a child that could not be built but says what to assume.
std::unique_ptr<basic_condition> unsupported_stand_in(const wchar_t* value, const basic_context& context) {
  pugi::xml_document made_up;
  pugi::xml_node element = made_up.append_child(L"boolean");
  element.append_attribute(L"value").set_value(value);
  auto stand_in = std::make_unique<condition_boolean>();
  stand_in->build(element, context);
  return stand_in;
}

}  // namespace

void require(bool holds, const char* expression) {
  if (holds) return;
  VYN_LOG_ERROR("The assertion failed for expression: {}", expression);
  throw exceptions::error(fmt::format("The assertion failed for expression: {}", expression));
}

void condition_container::build(const pugi::xml_node& node, const basic_context& context) {
  name_ = std::wstring(node.name());
  children_.clear();
  check_depth(node);
  for (const pugi::xml_node& child : node.children()) {
    try {
      std::unique_ptr<basic_condition> condition = context.factory().create(child.name());
      condition->build(child, context);
      children_.push_back(std::move(condition));
    } catch (const exceptions::error& e) {
      VYN_LOG_EXC(log::level::warning, e, "Condition element '{}' left out.", utils::to_log(child.name()));
      const pugi::xml_attribute unsupported = child.attribute(L"unsupported");
      if (!unsupported) continue;
      VYN_LOG_WARNING("Unknown condition, but 'unsupported' attribute present:'{}'",
                      utils::to_log(unsupported.value()));
      children_.push_back(unsupported_stand_in(unsupported.value(), context));
    }
  }
}

void condition_container::write(pugi::xml_node& node) const {
  node.set_name(name_.value_or(L"").c_str());
  for (const auto& child : children_) {
    pugi::xml_node element = node.append_child(pugi::node_element);
    child->write(element);
  }
}

void condition_container::fail_child_count() const {
  const std::string name = utils::to_log(name_.value_or(L""));
  VYN_LOG_ERROR("{}: The XML element is missing required attributes! ({} children)", name, children_.size());
  throw exceptions::error(fmt::format("{}: The XML element is missing required attributes!", name));
}

bool condition_and::evaluate(const basic_context& context) const {
  if (children_.empty()) fail_child_count();
  for (const auto& child : children_) {
    if (!child->evaluate(context)) return false;
  }
  return true;
}

bool condition_or::evaluate(const basic_context& context) const {
  if (children_.empty()) fail_child_count();
  for (const auto& child : children_) {
    if (child->evaluate(context)) return true;
  }
  return false;
}

bool condition_not::evaluate(const basic_context& context) const {
  if (children_.size() != 1) fail_child_count();
  return !children_.front()->evaluate(context);
}

void condition_root::build(const pugi::xml_node& node, const basic_context& context) {
  condition_container::build(node, context);
  default_ = read_bool(node, L"default");
}

void condition_root::write(pugi::xml_node& node) const {
  condition_container::write(node);
  write_bool(node, L"default", default_);
}

bool condition_root::evaluate(const basic_context& context) const {
  for (const auto& child : children_) {
    if (!child->evaluate(context)) return false;
  }
  return default_.value_or(true);
}

}  // namespace vyn::repository::conditions
