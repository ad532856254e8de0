#pragma once
// Texts shown to the user, looked up by identifier ("@Sfx_Title", ...) in the localisation
// resource for one language, falling back to US English and finally to the identifier itself.
// A caller may therefore pass a plain message instead of an identifier.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vyn::sfx {

class sfx_translator_intf {
 public:
  // The translation with "{0}", "{1}", ... replaced by the arguments in order.
  virtual std::wstring format(const std::wstring& identifier, const std::vector<std::wstring>& arguments) = 0;
  virtual std::wstring translate(const std::wstring& identifier) = 0;
  virtual ~sfx_translator_intf() = default;
};

class sfx_translator : public sfx_translator_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // language is a Windows language identifier; unknown ones read US English.
    virtual std::shared_ptr<sfx_translator_intf> create_sfx_translator(std::int32_t language) = 0;
  };
};

}  // namespace vyn::sfx
