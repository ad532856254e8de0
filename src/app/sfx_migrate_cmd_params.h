#pragma once
// Rewrites switches written for an older installer's conventions into this installer's names,
// on the text of the command line before it is parsed.

#include <memory>
#include <string>

namespace vyn::sfx {

class sfx_migrate_cmd_params_intf {
 public:
  // /VERYSILENT -> /silent, /LANG=L<id> -> /lang-id:<id>, /DIR=<path> -> /install-path:<path>.
  virtual std::wstring first_conversion(const std::wstring& text) = 0;
  // /ga_clientid -> /track-guid.
  virtual std::wstring second_conversion(const std::wstring& text) = 0;
  virtual ~sfx_migrate_cmd_params_intf() = default;
};

class sfx_migrate_cmd_params : public sfx_migrate_cmd_params_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::unique_ptr<sfx_migrate_cmd_params_intf> create_sfx_migrate_cmd_params() = 0;
  };

  std::wstring first_conversion(const std::wstring& text) override;
  std::wstring second_conversion(const std::wstring& text) override;
};

}  // namespace vyn::sfx
