#include "ui/confirm_dlg.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "app/language_table.h"
#include "foundation/log.h"

namespace vyn::sfx {
namespace {

constexpr int icon_id = 128;
constexpr int icon_size = 48;
constexpr int margin = 16;
constexpr int text_left = 80;  // right of the icon
constexpr int button_height = 32;

// The labels and the icon have ids that the keyboard's Enter (IDOK) and Esc (IDCANCEL) never use.
constexpr int icon_control_id = 100;
constexpr int title_control_id = 101;
constexpr int first_control_id = 102;
constexpr int second_control_id = 103;

// Arabic, Farsi, Hebrew and Urdu texts read from right to left: their question mark belongs at
// the left end. Languages without texts of their own read US English.
bool reads_right_to_left(std::int32_t language) {
  if (!find_language(language)) return false;
  switch (PRIMARYLANGID(static_cast<LANGID>(language))) {
    case LANG_ARABIC:
    case LANG_FARSI:
    case LANG_HEBREW:
    case LANG_URDU:
      return true;
    default:
      return false;
  }
}

HFONT font_with_height(const LOGFONTW& base, LONG height) {
  LOGFONTW font = base;
  font.lfHeight = height;
  return ::CreateFontIndirectW(&font);
}

// Width of the widest line and the sum of the line heights, in dc's current font.
SIZE measure_lines(HDC dc, const std::wstring& text) {
  SIZE total{0, 0};
  std::size_t start = 0;
  while (true) {
    const std::size_t end = std::min(text.find(L'\n', start), text.size());
    SIZE line{0, 0};
    ::GetTextExtentPoint32W(dc, text.c_str() + start, static_cast<int>(end - start), &line);
    total.cx = std::max(total.cx, line.cx);
    total.cy += line.cy;
    if (end == text.size()) break;
    start = end + 1;
  }
  return total;
}

SIZE measure(HWND window, HFONT font, const std::wstring& text) {
  HDC dc = ::GetDC(window);
  if (!dc) return {0, 0};
  HGDIOBJ previous = ::SelectObject(dc, font);
  const SIZE size = measure_lines(dc, text);
  ::SelectObject(dc, previous);
  ::ReleaseDC(window, dc);
  return size;
}

}  // namespace

confirm_dlg::~confirm_dlg() {
  if (window_) ::DestroyWindow(window_);
}

std::shared_ptr<sfx_translator_intf> confirm_dlg::create_sfx_translator(std::int32_t language) {
  return std::make_shared<sfx_translator>(language);
}

std::int32_t confirm_dlg::show(const std::wstring& title, std::int32_t language) {
  try {
    title_ = title;
    translator_ = create_sfx_translator(language);
    reading_order_ = reads_right_to_left(language) ? WS_EX_RTLREADING : 0;
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    return run(::GetModuleHandleW(nullptr));
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::error, e, "The confirmation dialog failed.");
    return not_shown;
  } catch (...) {
    VYN_LOG_ERROR("The confirmation dialog failed.");
    return not_shown;
  }
}

std::int32_t confirm_dlg::run(HINSTANCE module) {
  module_ = module;
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &confirm_dlg::window_proc;
  window_class.hInstance = module;
  window_class.hIcon = static_cast<HICON>(
      ::LoadImageW(module, MAKEINTRESOURCEW(icon_id), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  window_class.lpszClassName = class_name;
  window_class.hIconSm = static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(icon_id), IMAGE_ICON,
                                                          ::GetSystemMetrics(SM_CXSMICON),
                                                          ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  if (!::RegisterClassExW(&window_class)) {
    VYN_LOG_ERROR("Registering the confirmation dialog's class failed ({}).", ::GetLastError());
    return not_shown;
  }
  answered_ = false;
  window_ = ::CreateWindowExW(0, class_name, title_.c_str(), WS_POPUPWINDOW | WS_VISIBLE, 0, 0, 0, 0, nullptr,
                              nullptr, module, this);
  if (!window_) {
    VYN_LOG_ERROR("Creating the confirmation dialog failed ({}).", ::GetLastError());
    ::UnregisterClassW(class_name, module);
    return not_shown;
  }
  MSG message{};
  BOOL got = 0;
  while ((got = ::GetMessageW(&message, nullptr, 0, 0)) != 0) {
    if (got == -1) continue;
    if (window_ && ::IsDialogMessageW(window_, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  ::UnregisterClassW(class_name, module);
  return static_cast<std::int32_t>(message.wParam);
}

LRESULT CALLBACK confirm_dlg::window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<confirm_dlg*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(window, message, wparam, lparam);
  try {
    return self->on_message(window, message, wparam, lparam);
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::error, e, "Confirmation dialog message {:#x} failed.", message);
    return ::DefWindowProcW(window, message, wparam, lparam);
  }
}

LRESULT confirm_dlg::on_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      on_create(window);
      return 0;
    case WM_COMMAND: {
      const auto from = reinterpret_cast<HWND>(lparam);
      if (LOWORD(wparam) == IDOK && (from == nullptr || from == install_button_)) {
        answer(window, install);
        return 0;
      }
      if (LOWORD(wparam) == IDCANCEL && (from == nullptr || from == cancel_button_)) {
        answer(window, cancel);
        return 0;
      }
      break;
    }
    case WM_DESTROY:
      on_destroy();
      // Closed without an answer: the loop must still end.
      if (!answered_) ::PostQuitMessage(closed);
      window_ = nullptr;
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void confirm_dlg::answer(HWND window, std::int32_t result) {
  answered_ = true;
  ::DestroyWindow(window);
  ::PostQuitMessage(result);
}

HWND confirm_dlg::add_control(const wchar_t* control_class, const std::wstring& text, DWORD style, int id,
                              placement where, HFONT font) {
  HWND control = ::CreateWindowExW(reading_order_, control_class, text.c_str(), WS_CHILD | WS_VISIBLE | style, where.x,
                                   where.y, where.width, where.height, window_, reinterpret_cast<HMENU>(
                                       static_cast<INT_PTR>(id)), module_, nullptr);
  if (control && font) ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

// Every size follows from the texts: the title beside the icon, the two descriptions below, the
// buttons sharing the width under them.
void confirm_dlg::on_create(HWND window) {
  window_ = window;
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  const LOGFONTW& message_font = metrics.lfMessageFont;
  const auto large_height = static_cast<LONG>(message_font.lfHeight * 1.5);
  normal_font_ = ::CreateFontIndirectW(&message_font);
  large_font_ = font_with_height(message_font, large_height);
  larger_font_ = font_with_height(message_font, static_cast<LONG>(large_height * 1.2));

  const std::wstring first = translator_->format(L"@Sfx_PPI_Desc1", {title_});
  const std::wstring second = translator_->translate(L"@Sfx_PPI_Desc2");
  const SIZE t = measure(window, larger_font_, title_);
  const SIZE d1 = measure(window, large_font_, first);
  const SIZE d2 = measure(window, normal_font_, second);

  constexpr DWORD label = SS_LEFT | SS_NOPREFIX;
  title_label_ = add_control(L"STATIC", title_, label, title_control_id,
                             {text_left, (icon_size - t.cy) / 2 + margin, t.cx, t.cy}, larger_font_);
  first_label_ = add_control(L"STATIC", first, label, first_control_id, {margin, 80, d1.cx, d1.cy}, large_font_);
  second_label_ = add_control(L"STATIC", second, label, second_control_id, {margin, d1.cy + 88, d2.cx, d2.cy},
                              normal_font_);
  icon_ = static_cast<HICON>(::LoadImageW(module_, MAKEINTRESOURCEW(icon_id), IMAGE_ICON, icon_size, icon_size, 0));
  icon_view_ = add_control(L"STATIC", L"", SS_ICON, icon_control_id, {margin, margin, icon_size, icon_size}, nullptr);
  if (icon_view_ && icon_) ::SendMessageW(icon_view_, STM_SETICON, reinterpret_cast<WPARAM>(icon_), 0);

  const LONG content = std::max({t.cx + text_left, d1.cx + margin, d2.cx + margin});
  const int button = static_cast<int>(((content - 2 * margin) / 2) * 1.05);
  const int top = d1.cy + d2.cy + 104;
  install_button_ = add_control(L"BUTTON", translator_->translate(L"@Sfx_PPI_Install"),
                                BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, {margin, top, button, button_height},
                                normal_font_);
  cancel_button_ = add_control(L"BUTTON", translator_->translate(L"@Sfx_PPI_Cancel"), BS_PUSHBUTTON | WS_TABSTOP,
                               IDCANCEL, {button + 2 * margin, top, button, button_height}, normal_font_);

  const int width = 2 * button + 3 * margin;
  const int height = top + button_height + margin;
  RECT work{};
  if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) return;
  ::SetWindowPos(window, nullptr, (work.right - width) / 2, (work.bottom - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  ::SetFocus(install_button_);
}

void confirm_dlg::on_destroy() {
  for (HWND* control : {&icon_view_, &title_label_, &first_label_, &second_label_, &install_button_, &cancel_button_}) {
    if (*control) ::DestroyWindow(*control);
    *control = nullptr;
  }
  for (HFONT* font : {&normal_font_, &large_font_, &larger_font_}) {
    if (*font) ::DeleteObject(*font);
    *font = nullptr;
  }
  if (icon_) ::DestroyIcon(icon_);
  icon_ = nullptr;
}

}  // namespace vyn::sfx
