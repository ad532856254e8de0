#pragma once
// Leaf conditions over values: a fixed boolean, comparisons, prefix and substring tests, and the
// brand of the running executable. Operands other than a brand name pass through the context's
// expander first.

#include <optional>
#include <string>

#include "setup/condition.h"

namespace vyn::repository::conditions {

// The attribute "value": "true" or "false"; anything else cannot be evaluated.
class condition_boolean : public basic_condition {
 public:
  void build(const pugi::xml_node& node, const basic_context& context) override;
  void write(pugi::xml_node& node) const override;
  bool evaluate(const basic_context& context) const override;

 private:
  std::optional<bool> value_;
};

// "left" against "right", as versions when "type" is "version", else as 64-bit integers when
// both are, else as case-insensitive texts.
class condition_compare : public basic_condition {
 public:
  void build(const pugi::xml_node& node, const basic_context& context) override;
  void write(pugi::xml_node& node) const override;

 protected:
  // Negative, zero or positive as the expanded left is less than, equal to or greater than the
  // expanded right.
  int compare(const basic_context& context) const;

 private:
  std::optional<std::wstring> left_;
  std::optional<std::wstring> right_;
  std::optional<std::wstring> type_;
};

class condition_equals : public condition_compare {
 public:
  bool evaluate(const basic_context& context) const override;
};

class condition_less_than : public condition_compare {
 public:
  bool evaluate(const basic_context& context) const override;
};

class condition_greater_than : public condition_compare {
 public:
  bool evaluate(const basic_context& context) const override;
};

// "string" begins with "prefix", ignoring case.
class condition_starts_with : public basic_condition {
 public:
  void build(const pugi::xml_node& node, const basic_context& context) override;
  void write(pugi::xml_node& node) const override;
  bool evaluate(const basic_context& context) const override;

 private:
  std::optional<std::wstring> string_;
  std::optional<std::wstring> prefix_;
};

// "substring" occurs in "string", ignoring case; with "inlist" true it must equal one whole
// comma-separated item of "string".
class condition_find : public basic_condition {
 public:
  void build(const pugi::xml_node& node, const basic_context& context) override;
  void write(pugi::xml_node& node) const override;
  bool evaluate(const basic_context& context) const override;

 private:
  std::optional<std::wstring> string_;
  std::optional<std::wstring> substring_;
  std::optional<bool> inlist_;
};

// The running executable's brand word equals "name", ignoring case. An executable of a brand
// that has no word cannot decide it.
class condition_brand : public basic_condition {
 public:
  void build(const pugi::xml_node& node, const basic_context& context) override;
  void write(pugi::xml_node& node) const override;
  bool evaluate(const basic_context& context) const override;

 private:
  std::optional<std::wstring> brand_name_;
};

}  // namespace vyn::repository::conditions
