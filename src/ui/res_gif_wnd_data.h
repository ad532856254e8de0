#pragma once
// Splash content taken from the executable's resources: the GIF, the icon and the texts.

#include <windows.h>

#include <cstdint>
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

  static constexpr std::uint32_t default_text_colour = 0x00FEFEFE;
  static constexpr int status_text_top = 100;

  // gif_type is a type name or an integer resource type (MAKEINTRESOURCE).
  res_gif_wnd_data(HINSTANCE module, int gif_id, const wchar_t* gif_type, int icon_id, std::wstring window_title,
                   std::wstring product_title);

  std::vector<std::uint8_t> gif_bytes() const override;
  // Shared with the module: the caller does not destroy it.
  HICON icon() const override;
  std::wstring window_title() const override { return window_title_; }
  std::wstring product_title() const override { return product_title_; }
  int text_top() const override { return status_text_top; }
  std::uint32_t text_colour() const override { return text_colour_; }
  void set_text_colour(std::uint32_t colour) override { text_colour_ = colour; }

 private:
  const wchar_t* type() const noexcept { return type_id_ ? MAKEINTRESOURCEW(type_id_) : type_name_.c_str(); }

  HINSTANCE module_;
  int gif_id_;
  std::wstring type_name_;
  WORD type_id_ = 0;  // non-zero for an integer resource type
  int icon_id_;
  std::wstring window_title_;
  std::wstring product_title_;
  std::uint32_t text_colour_ = default_text_colour;
};

}  // namespace vyn::features::splash
