#pragma once
// The condition language of product descriptions. A "conditions" element becomes a tree of
// condition objects: containers (and, or, not, the root) over leaves that test the operating
// system, the brand, files and devices, and strings with setup variables expanded. Every kind also
// exists negated under its name with the prefix "not-". A tree is built once and evaluated against
// a context; the engine keeps no state between evaluations.

#include <memory>
#include <optional>
#include <string>

#include <pugixml.hpp>

#include "setup/expander.h"

namespace vyn::repository::conditions {

class basic_factory;

// What building and evaluating need: the factory that makes conditions from element names and
// the expander of setup variables. Shares ownership of both.
class basic_context {
 public:
  basic_context(std::shared_ptr<basic_factory> factory, std::shared_ptr<expander_intf> expander)
      : factory_(std::move(factory)), expander_(std::move(expander)) {}

  const basic_factory& factory() const { return *factory_; }
  const expander_intf& expander() const { return *expander_; }

 private:
  std::shared_ptr<basic_factory> factory_;
  std::shared_ptr<expander_intf> expander_;
};

class basic_condition {
 public:
  virtual ~basic_condition() = default;
  // Reads the element's attributes (and, for containers, its children). Raises
  // vyn::exceptions::error for what cannot be built, and narrowing_error for an integer attribute
  // beyond 32 bits.
  virtual void build(const pugi::xml_node& node, const basic_context& context) = 0;
  // Gives node the element name this condition was built from and the attributes that are
  // present; containers append their children.
  virtual void write(pugi::xml_node& node) const = 0;
  // Raises vyn::exceptions::error when the condition cannot be decided (a required attribute is
  // missing, the system is of an unknown kind, ...).
  virtual bool evaluate(const basic_context& context) const = 0;

  // The element name it was built from; absent before build.
  const std::optional<std::wstring>& element_name() const { return name_; }

 protected:
  std::optional<std::wstring> name_;
};

// Raises vyn::exceptions::error "The assertion failed for expression: <expression>" unless the
// requirement holds.
void require(bool holds, const char* expression);

}  // namespace vyn::repository::conditions
