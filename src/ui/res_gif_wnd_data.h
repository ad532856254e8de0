#pragma once
// Splash content taken from the executable's resources: the GIF, the icon and the texts.

#include <windows.h>

#include <memory>
#include <string>

#include "ui/gif_wnd.h"

namespace vyn::features::splash {

class res_gif_wnd_data : public gif_wnd_data_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // The GIF is resource gif_id of type gif_type in module, the icon resource icon_id.
    virtual std::shared_ptr<gif_wnd_data_intf> create_res_gif_wnd_data(
        HINSTANCE module, int gif_id, const wchar_t* gif_type, int icon_id,
        const std::wstring& window_title, const std::wstring& product_title) = 0;
  };
};

}  // namespace vyn::features::splash
