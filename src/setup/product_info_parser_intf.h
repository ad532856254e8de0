#pragma once
// The product description "product-info.xml": the product's name and version, the setup files of
// the installation, the command that starts the setup master and the branding files, each part
// selected for the machine at hand by its conditions.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "setup/condition.h"

namespace vyn::sfx {

// One product to install as "sfx-info.xml" names it, after the command line's channel overrides.
struct product_info {
  std::wstring name;
  std::wstring channel;
  std::wstring version;
  bool channel_overridden = false;  // set when the "channels" parameter named this product
};

// One setup file of the installation.
struct file_info {
  std::wstring name;         // file name in the setup folder
  std::wstring sha256;       // 64 hexadecimal digits
  std::int64_t timestamp = 0;
  std::int64_t size = 0;     // bytes
};

// A file that brands the installation, with an optional companion holding its hash.
struct branding_file {
  std::wstring url;
  std::wstring edat_alias;   // "<edat-alias>.edat"
  std::wstring name;
  std::optional<std::wstring> hash_url;          // all three present exactly when the
  std::optional<std::wstring> hash_edat_alias;   // description names a hash URL
  std::optional<std::wstring> hash_name;
};

class product_info_parser_intf {
 public:
  // Parses the description (already verified by the caller) and builds every list. Raises
  // vyn::exceptions::error for empty or malformed data, and lets the conditions' narrowing error
  // through; on any failure the parser keeps its previous content.
  virtual void parse(std::span<const std::uint8_t> bytes) = 0;
  // Empty when the description has no name.
  virtual const std::wstring& name() const = 0;
  // The setup files whose group and own conditions hold, in document order.
  virtual const std::vector<file_info>& setup_files() const = 0;
  virtual const std::vector<branding_file>& branding_files() const = 0;
  // The first "setup-commands" element whose conditions hold, or an empty node. The node belongs
  // to the parser's document and lives as long as the parser, until the next parse.
  virtual pugi::xml_node setup_commands() const = 0;
  // Writes the bytes given to the last successful parse, unchanged, to path (replacing a file).
  virtual void save(const std::wstring& path) const = 0;
  virtual ~product_info_parser_intf() = default;
  // A new condition context: a new factory and an expander holding the setup variables.
  virtual std::shared_ptr<repository::conditions::basic_context> make_context() const = 0;

  // Empty when the description has no version.
  virtual const std::wstring& version() const = 0;
  // Whether the description carries a setup master and, anywhere, an ARM64 "os" condition.
  virtual bool has_arm64_master() const = 0;
};

}  // namespace vyn::sfx
