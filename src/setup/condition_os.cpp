#include "setup/condition_os.h"

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/strings.h"
#include "setup/condition_values.h"

namespace vyn::repository::conditions {
namespace {

// The platform names a description may use; other platforms cannot be matched.
std::optional<std::wstring_view> platform_word(os::platform native) {
  switch (native) {
    case os::platform::x86: return L"x86";
    case os::platform::x64: return L"x64";
    case os::platform::arm64: return L"arm64";
    default: return std::nullopt;
  }
}

std::optional<std::wstring_view> edition_word(std::uint8_t product_type) {
  switch (product_type) {
    case os::product_workstation: return L"workstation";
    case os::product_domain_controller:
    case os::product_server: return L"server";
    default: return std::nullopt;
  }
}

}  // namespace

void condition_os_base::build(const pugi::xml_node& node, const basic_context&) {
  name_ = std::wstring(node.name());
  major_ = read_int(node, L"major");
  minor_ = read_int(node, L"minor");
  sp_ = read_int(node, L"sp");
  build_ = read_int(node, L"build");
}

void condition_os_base::write(pugi::xml_node& node) const {
  node.set_name(name_.value_or(L"").c_str());
  write_int(node, L"major", major_);
  write_int(node, L"minor", minor_);
  write_int(node, L"sp", sp_);
  write_int(node, L"build", build_);
}

std::array<condition_os_base::level, 4> condition_os_base::levels(const os::os_info& system) const {
  return {{{major_, system.version.major},
           {minor_, system.version.minor},
           {sp_, system.version.service_pack_major},
           {build_, system.version.build}}};
}

void condition_os::build(const pugi::xml_node& node, const basic_context& context) {
  condition_os_base::build(node, context);
  platform_ = read_string(node, L"platform");
  type_ = read_string(node, L"type");
}

void condition_os::write(pugi::xml_node& node) const {
  condition_os_base::write(node);
  write_string(node, L"platform", platform_);
  write_string(node, L"type", type_);
}

bool condition_os::evaluate(const basic_context&) const {
  const os::os_info& system = os::current();
  return test_version(system) && test_platform(system) && test_edition(system);
}

bool condition_os::test_version(const os::os_info& system) const {
  for (const level& l : levels(system)) {
    if (l.wanted && std::int64_t{*l.wanted} != std::int64_t{l.actual}) return false;
  }
  return true;
}

bool condition_os::test_platform(const os::os_info& system) const {
  if (!platform_) return true;
  const auto word = platform_word(system.native);
  if (!word) {
    VYN_LOG_ERROR("The executable is running under unknown OS platform! ({})", static_cast<std::uint32_t>(system.native));
    throw exceptions::error("The executable is running under unknown OS platform!");
  }
  return utils::iequals(*platform_, *word);
}

bool condition_os::test_edition(const os::os_info& system) const {
  if (!type_) return true;
  const auto word = edition_word(system.version.product_type);
  if (!word) {
    VYN_LOG_ERROR("The executable is running under unknown OS type! ({})", system.version.product_type);
    throw exceptions::error("The executable is running under unknown OS type!");
  }
  return utils::iequals(*type_, *word);
}

bool condition_os_at_least::evaluate(const basic_context&) const { return test_version(os::current()); }

bool condition_os_at_least::test_version(const os::os_info& system) const {
  for (const level& l : levels(system)) {
    if (!l.wanted) continue;
    if (std::int64_t{l.actual} < *l.wanted) return false;
    if (std::int64_t{l.actual} > *l.wanted) return true;
  }
  return true;
}

bool condition_os_at_most::evaluate(const basic_context&) const { return test_version(os::current()); }

bool condition_os_at_most::test_version(const os::os_info& system) const {
  for (const level& l : levels(system)) {
    if (!l.wanted) continue;
    if (std::int64_t{l.actual} < *l.wanted) return true;
    if (std::int64_t{l.actual} > *l.wanted) return false;
  }
  return true;
}

}  // namespace vyn::repository::conditions
