#pragma once
// Conditions over other conditions. Children are evaluated in document order and evaluation
// stops as soon as the result is known, so a later child that could not be decided is never
// reached.

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "setup/condition.h"

namespace vyn::repository::conditions {

// Owns the children, in document order. A child element that cannot be made or built is left
// out with a warning, unless it carries an "unsupported" attribute, whose text then stands in as
// a "boolean" value.
class condition_container : public basic_condition {
 public:
  void build(const pugi::xml_node& node, const basic_context& context) override;
  void write(pugi::xml_node& node) const override;

  std::size_t size() const { return children_.size(); }

 protected:
  // vyn::exceptions::error "<name>: The XML element is missing required attributes!".
  [[noreturn]] void fail_child_count() const;

  std::vector<std::unique_ptr<basic_condition>> children_;
};

// True when every child is true; no children is an error.
class condition_and : public condition_container {
 public:
  bool evaluate(const basic_context& context) const override;
};

// True when some child is true; no children is an error.
class condition_or : public condition_container {
 public:
  bool evaluate(const basic_context& context) const override;
};

// The negation of its only child; any other number of children is an error.
class condition_not : public condition_container {
 public:
  bool evaluate(const basic_context& context) const override;
};

// A "conditions" element: false as soon as a child is false; otherwise its "default" attribute,
// or true without one. Built from an empty node it has no children and is true.
class condition_root : public condition_container {
 public:
  void build(const pugi::xml_node& node, const basic_context& context) override;
  void write(pugi::xml_node& node) const override;
  bool evaluate(const basic_context& context) const override;

 private:
  std::optional<bool> default_;
};

}  // namespace vyn::repository::conditions
