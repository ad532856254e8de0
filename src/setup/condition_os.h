#pragma once
// Conditions on the running system, read from vyn::os::current(): its version numbers (major,
// minor, service-pack major, build), platform and edition.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "foundation/os_info.h"
#include "setup/condition.h"

namespace vyn::repository::conditions {

// The version attributes "major", "minor", "sp" and "build"; each is absent unless its whole
// text is an integer.
class condition_os_base : public basic_condition {
 public:
  void build(const pugi::xml_node& node, const basic_context& context) override;
  void write(pugi::xml_node& node) const override;
  virtual bool test_version(const os::os_info& system) const = 0;

 protected:
  struct level {
    std::optional<std::int32_t> wanted;
    std::uint32_t actual;
  };
  // major, minor, sp and build, in this order.
  std::array<level, 4> levels(const os::os_info& system) const;

  std::optional<std::int32_t> major_;
  std::optional<std::int32_t> minor_;
  std::optional<std::int32_t> sp_;
  std::optional<std::int32_t> build_;
};

// Every version attribute present equals the system's, and "platform" ("x86", "x64", "arm64")
// and "type" ("workstation", "server") match when present, ignoring case.
class condition_os : public condition_os_base {
 public:
  void build(const pugi::xml_node& node, const basic_context& context) override;
  void write(pugi::xml_node& node) const override;
  bool evaluate(const basic_context& context) const override;
  bool test_version(const os::os_info& system) const override;
  // Raise for platforms and product types the condition has no name for.
  virtual bool test_platform(const os::os_info& system) const;
  virtual bool test_edition(const os::os_info& system) const;

 private:
  std::optional<std::wstring> platform_;
  std::optional<std::wstring> type_;
};

// The system's version is at least the one given; the first level present that differs decides.
class condition_os_at_least : public condition_os_base {
 public:
  bool evaluate(const basic_context& context) const override;
  bool test_version(const os::os_info& system) const override;
};

// The system's version is at most the one given; the first level present that differs decides.
class condition_os_at_most : public condition_os_base {
 public:
  bool evaluate(const basic_context& context) const override;
  bool test_version(const os::os_info& system) const override;
};

}  // namespace vyn::repository::conditions
