#pragma once
// The confirmation dialog a caller may ask for before anything is installed: the product's icon
// and title, a question and a reassuring line in the user's language, Install and Cancel. It is
// made of plain window controls, sized to its texts and centred in the work area.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "app/sfx_translator.h"

namespace vyn::sfx {

class confirm_dlg_intf {
 public:
  // Blocks until the user answers: 0 for Install, 2 for Cancel (also when the window is closed by
  // the system close command), 1 when the window could not be shown.
  virtual std::int32_t show(const std::wstring& title, std::int32_t language) = 0;
  virtual ~confirm_dlg_intf() = default;
};

class confirm_dlg : public confirm_dlg_intf, public sfx_translator::factory {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::unique_ptr<confirm_dlg_intf> create_confirm_dlg() = 0;
  };

  static constexpr const wchar_t* class_name = L"{32f2b598-6055-4f5b-b0eb-fed112efa9b7}";
  static constexpr std::int32_t install = 0;
  static constexpr std::int32_t cancel = 2;
  static constexpr std::int32_t not_shown = 1;
  // Closing the window (Alt+F4, the system menu) declines, as it does in any Windows dialog: the
  // run then ends as after Cancel, not as a failure.
  static constexpr std::int32_t closed = cancel;

  confirm_dlg() = default;
  ~confirm_dlg() override;
  confirm_dlg(const confirm_dlg&) = delete;
  confirm_dlg& operator=(const confirm_dlg&) = delete;

  std::int32_t show(const std::wstring& title, std::int32_t language) override;
  std::shared_ptr<sfx_translator_intf> create_sfx_translator(std::int32_t language) override;

 private:
  struct placement {
    int x;
    int y;
    int width;
    int height;
  };

  std::int32_t run(HINSTANCE module);
  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT on_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void on_create(HWND window);
  HWND add_control(const wchar_t* control_class, const std::wstring& text, DWORD style, int id, placement where,
                   HFONT font);
  void answer(HWND window, std::int32_t result);
  void on_destroy();

  std::shared_ptr<sfx_translator_intf> translator_;
  std::wstring title_;
  HINSTANCE module_ = nullptr;
  HWND window_ = nullptr;
  HWND icon_view_ = nullptr;
  HWND title_label_ = nullptr;
  HWND first_label_ = nullptr;
  HWND second_label_ = nullptr;
  HWND install_button_ = nullptr;
  HWND cancel_button_ = nullptr;
  HICON icon_ = nullptr;  // 48 x 48
  HFONT normal_font_ = nullptr;
  HFONT large_font_ = nullptr;
  HFONT larger_font_ = nullptr;
  bool answered_ = false;
  DWORD reading_order_ = 0;  // WS_EX_RTLREADING for the texts of right-to-left languages
};

}  // namespace vyn::sfx
