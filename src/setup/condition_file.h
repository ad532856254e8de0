#pragma once
// The "file" condition: whether a file or device exists, and whether a file is empty.

#include <optional>
#include <string>

#include "setup/condition.h"

namespace vyn::repository::conditions {

// Attributes "path" (expanded), "type" ("file" when absent, or "device"), "exists" and "empty".
// At least one of "exists" and "empty" is required, and "empty" only goes with the type "file".
class condition_file : public basic_condition {
 public:
  void build(const pugi::xml_node& node, const basic_context& context) override;
  void write(pugi::xml_node& node) const override;
  bool evaluate(const basic_context& context) const override;

  // True when "exists" is absent or matches what is found at the expanded path. A device that
  // cannot be queried counts as missing.
  virtual bool test_exists(const std::wstring& path) const;
  // True when "empty" is absent or matches whether the file has no bytes; raises when the
  // file's size cannot be read.
  virtual bool test_empty(const std::wstring& path) const;

 private:
  bool object_exists(const std::wstring& path) const;

  std::optional<std::wstring> path_;
  std::optional<std::wstring> type_;
  std::optional<bool> exists_;
  std::optional<bool> empty_;
};

}  // namespace vyn::repository::conditions
