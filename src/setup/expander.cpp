#include "setup/expander.h"

namespace vyn::repository {

std::wstring light_expander::expand(const std::wstring& text) const {
  const auto found = variables_.find(text);
  return found == variables_.end() ? text : found->second;
}

std::optional<std::wstring> light_expander::lookup(const std::wstring&) const { return std::nullopt; }

std::shared_ptr<std::wstring> light_expander::expand_shared(const std::wstring& text) const {
  return std::make_shared<std::wstring>(expand(text));
}

std::optional<std::wstring> light_expander::expand_optional(const std::optional<std::wstring>& text) const {
  if (!text) return std::nullopt;
  return expand(*text);
}

void light_expander::set(const std::wstring& name, const std::wstring& value) {
  variables_.insert_or_assign(name, value);
}

}  // namespace vyn::repository
