#include "setup/condition_factory.h"

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/strings.h"
#include "setup/condition_containers.h"
#include "setup/condition_file.h"
#include "setup/condition_leaves.h"
#include "setup/condition_os.h"

namespace vyn::repository::conditions {

basic_factory::basic_factory() {
  register_condition<condition_not>(L"not");
  register_condition<condition_and>(L"and");
  register_condition<condition_or>(L"or");
  register_condition<condition_boolean>(L"boolean");
  register_condition<condition_os>(L"os");
  register_condition<condition_os_at_least>(L"os-at-least");
  register_condition<condition_os_at_most>(L"os-at-most");
  register_condition<condition_file>(L"file");
  register_condition<condition_equals>(L"equals");
  register_condition<condition_less_than>(L"less-than");
  register_condition<condition_greater_than>(L"greater-than");
  register_condition<condition_starts_with>(L"starts-with");
  register_condition<condition_brand>(L"brand");
  register_condition<condition_find>(L"find");
}

std::unique_ptr<basic_condition> basic_factory::create(std::wstring_view name) const {
  const auto found = creators_.find(name);
  if (found == creators_.end()) {
    throw exceptions::error(fmt::format("Unable to parse element '{}' as a condition!", utils::to_log(name)));
  }
  return found->second();
}

}  // namespace vyn::repository::conditions
