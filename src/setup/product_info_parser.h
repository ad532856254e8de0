#pragma once

#include <memory>

#include "app/shared_context.h"
#include "setup/product_info_parser_intf.h"

namespace vyn::sfx {

// Reads the run's "silent" value and command-line parameter through the shared context, which
// must outlive the parser.
class product_info_parser : public product_info_parser_intf, public sfx_data_holder {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::shared_ptr<product_info_parser_intf> create_product_info_parser(shared_context& context) = 0;
  };

  explicit product_info_parser(shared_context& context);
  ~product_info_parser() override;

  void parse(std::span<const std::uint8_t> bytes) override;
  const std::wstring& name() const override { return name_; }
  const std::vector<file_info>& setup_files() const override { return setup_files_; }
  const std::vector<branding_file>& branding_files() const override { return branding_files_; }
  pugi::xml_node setup_commands() const override;
  void save(const std::wstring& path) const override;
  std::shared_ptr<repository::conditions::basic_context> make_context() const override;
  const std::wstring& version() const override { return version_; }
  bool has_arm64_master() const override { return has_arm64_master_; }

 private:
  // Whether an element's "conditions" and then "conditions2" hold; a condition that cannot be
  // decided makes the element not apply.
  bool applies(const pugi::xml_node& element) const;
  std::vector<file_info> collect_setup_files(const pugi::xml_document& document) const;
  std::vector<branding_file> collect_branding_files(const pugi::xml_document& document) const;
  const wchar_t* silent_variable() const;

  std::unique_ptr<pugi::xml_document> document_;
  std::vector<std::uint8_t> raw_;
  std::wstring name_;
  std::wstring version_;
  std::vector<file_info> setup_files_;
  std::vector<branding_file> branding_files_;
  bool has_arm64_master_ = false;
};

}  // namespace vyn::sfx
