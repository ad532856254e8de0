#pragma once
// The stub's own configuration "sfx-info.xml": the repository, the products to install with their
// channels, the window titles by language, the report endpoint and the behaviour switches.

#include <cstdint>
#include <string>
#include <vector>

#include "setup/product_info_parser_intf.h"

namespace vyn::sfx {

class info_parser_intf {
 public:
  virtual ~info_parser_intf() = default;
  // Reads the file from the payload, checks its signature, parses it, applies the "noupdate" and
  // "channels" parameters and copies the root's children into the setup information document.
  // Called once, before anything else; raises on failure.
  virtual void parse() = 0;
  virtual const std::vector<product_info>& products() const = 0;
  virtual const std::wstring& repository_base_url() const = 0;
  virtual const std::wstring& branding_base_url() const = 0;
  // The title for lcid; else, for any other language than 1033, the English one; else empty.
  virtual std::wstring title(std::uint32_t lcid) const = 0;
  virtual bool silent() const = 0;
  virtual bool nosplash() const = 0;
  virtual bool clear() const = 0;
  virtual bool offline() const = 0;
  virtual const std::wstring& report_url() const = 0;
};

}  // namespace vyn::sfx
