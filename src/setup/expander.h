#pragma once
// Setup variables in condition texts. A condition operand that is exactly the name of a variable
// (percent signs included, "%KESTRO_IS_SILENT%") stands for the variable's value; any other text
// stands for itself. There is no substitution inside longer texts, no nesting and no escaping.

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace vyn::repository {

class expander_intf {
 public:
  virtual ~expander_intf() = default;
  // The value of the variable named exactly text, or text itself.
  virtual std::wstring expand(const std::wstring& text) const = 0;
  virtual std::optional<std::wstring> lookup(const std::wstring& text) const = 0;
  // As expand, in a newly allocated string.
  virtual std::shared_ptr<std::wstring> expand_shared(const std::wstring& text) const = 0;
  // An absent text stays absent; a present one is expanded.
  virtual std::optional<std::wstring> expand_optional(const std::optional<std::wstring>& text) const = 0;
};

// A plain table of variables; names match exactly, case-sensitively.
class light_expander : public expander_intf {
 public:
  std::wstring expand(const std::wstring& text) const override;
  // Always empty: the table answers only whole-text expansions.
  std::optional<std::wstring> lookup(const std::wstring& text) const override;
  std::shared_ptr<std::wstring> expand_shared(const std::wstring& text) const override;
  std::optional<std::wstring> expand_optional(const std::optional<std::wstring>& text) const override;

  // Adds the variable, or replaces the value of an existing one.
  void set(const std::wstring& name, const std::wstring& value);

 private:
  std::map<std::wstring, std::wstring> variables_;
};

}  // namespace vyn::repository
