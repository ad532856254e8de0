#pragma once
// The confirmation dialog a caller may ask for before anything is installed.

#include <cstdint>
#include <memory>
#include <string>

namespace vyn::sfx {

class confirm_dlg_intf {
 public:
  // Blocks until the user answers: 0 for Install, 2 for Cancel, 1 when the window could not be
  // shown.
  virtual std::int32_t show(const std::wstring& title, std::int32_t language) = 0;
  virtual ~confirm_dlg_intf() = default;
};

class confirm_dlg : public confirm_dlg_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::unique_ptr<confirm_dlg_intf> create_confirm_dlg() = 0;
  };
};

}  // namespace vyn::sfx
