#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/shared_context.h"
#include "payload/verify_signature.h"
#include "setup/info_parser_intf.h"

namespace vyn::sfx {

// Reads "sfx-info.xml" from the run's payload, the "channels" and "noupdate" parameters from its
// command line, and appends the configuration to its setup information document, all through the
// shared context, which must outlive the parser. Makes its own signature verifier.
class info_parser : public info_parser_intf, public sfx_data_holder, public verify_signature::factory {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::shared_ptr<info_parser_intf> create_info_parser(shared_context& context) = 0;
  };

  explicit info_parser(shared_context& context);

  // Raises missign_sfx_file when the file is missing or is no XML, vyn::exceptions::error when it
  // is not signed, when "channels" is malformed (code 44030) or when it names no product. The
  // signature is checked before a single byte is parsed. On failure nothing is kept and nothing
  // reaches the setup information document.
  void parse() override;
  const std::vector<product_info>& products() const override { return state_.products; }
  const std::wstring& repository_base_url() const override { return state_.repository_base_url; }
  const std::wstring& branding_base_url() const override { return state_.branding_base_url; }
  std::wstring title(std::uint32_t lcid) const override;
  bool silent() const override { return state_.silent; }
  bool nosplash() const override { return state_.nosplash; }
  bool clear() const override { return state_.clear; }
  bool offline() const override { return state_.offline; }
  const std::wstring& report_url() const override { return state_.report_url; }

  std::shared_ptr<verify_signature_intf> create_verify_signature() override;

 private:
  struct state {
    std::wstring repository_base_url;
    std::wstring branding_base_url;
    std::wstring report_url;
    bool silent = false;
    bool nosplash = false;
    bool clear = false;
    bool offline = false;
    std::map<std::uint32_t, std::wstring> titles;  // by LCID
    std::vector<product_info> products;
  };

  std::vector<std::uint8_t> read_signed_file();

  state state_;
};

}  // namespace vyn::sfx
