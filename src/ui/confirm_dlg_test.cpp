#include "ui/confirm_dlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <thread>

#include "foundation/strings.h"

namespace vyn::sfx {
namespace {

struct control {
  RECT box{};  // in the dialog's client coordinates
  std::wstring text;
  HFONT font = nullptr;
  SIZE text_extent{};  // of the text in the control's font, measured while the dialog shows it
  LONG line_height = 0;  // of one line in that font
  LONG font_height = 0;  // the font's logical height
  LONG ex_style = 0;
};

SIZE text_size(HFONT font, const std::wstring& text) {
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ previous = ::SelectObject(dc, font);
  SIZE total{0, 0};
  std::size_t start = 0;
  while (true) {
    const std::size_t end = std::min(text.find(L'\n', start), text.size());
    SIZE line{};
    ::GetTextExtentPoint32W(dc, text.c_str() + start, static_cast<int>(end - start), &line);
    total.cx = std::max(total.cx, line.cx);
    total.cy += line.cy;
    if (end == text.size()) break;
    start = end + 1;
  }
  ::SelectObject(dc, previous);
  ::ReleaseDC(nullptr, dc);
  return total;
}

// The dialog as another thread sees it while it waits for an answer.
struct dialog_view {
  bool found = false;
  std::wstring title;
  RECT box{};
  HWND focus = nullptr;
  std::map<int, control> controls;  // by control id
  HWND install = nullptr;
};

BOOL CALLBACK collect_child(HWND child, LPARAM view_address) {
  auto& view = *reinterpret_cast<dialog_view*>(view_address);
  control c;
  ::GetWindowRect(child, &c.box);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(child), reinterpret_cast<POINT*>(&c.box), 2);
  wchar_t text[512] = {};
  ::GetWindowTextW(child, text, 512);
  c.text = text;
  c.font = reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0));
  // The dialog deletes its fonts with its window: measure now.
  c.text_extent = text_size(c.font, c.text);
  c.line_height = text_size(c.font, L"X").cy;
  LOGFONTW logical{};
  if (c.font && ::GetObjectW(c.font, sizeof(logical), &logical)) c.font_height = logical.lfHeight;
  c.ex_style = ::GetWindowLongW(child, GWL_EXSTYLE);
  const int id = ::GetDlgCtrlID(child);
  if (id == IDOK) view.install = child;
  view.controls[id] = c;
  return TRUE;
}

dialog_view look_at(HWND window) {
  dialog_view view;
  view.found = true;
  wchar_t title[512] = {};
  ::GetWindowTextW(window, title, 512);
  view.title = title;
  ::GetWindowRect(window, &view.box);
  GUITHREADINFO thread{sizeof(thread)};
  if (::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &thread)) view.focus = thread.hwndFocus;
  ::EnumChildWindows(window, collect_child, reinterpret_cast<LPARAM>(&view));
  return view;
}

// Shows the dialog; once it is up, another thread looks at it and then acts like the user.
std::int32_t show_and(const std::wstring& title, std::int32_t language, dialog_view& seen,
                      const std::function<void(HWND window, const dialog_view&)>& act) {
  std::thread user([&] {
    HWND window = nullptr;
    for (int i = 0; i < 1000 && !window; ++i) {
      window = ::FindWindowW(confirm_dlg::class_name, nullptr);
      if (!window) ::Sleep(10);
    }
    if (!window) return;
    ::Sleep(50);  // let the dialog finish its first paint
    seen = look_at(window);
    act(window, seen);
  });
  confirm_dlg dialog;
  const std::int32_t result = dialog.show(title, language);
  user.join();
  return result;
}

void press(HWND window, WPARAM key) { ::PostMessageW(window, WM_KEYDOWN, key, 0); }

LONG width(const RECT& r) { return r.right - r.left; }
LONG height(const RECT& r) { return r.bottom - r.top; }

void expect_at(const control& c, LONG x, LONG y, LONG w, LONG h, const char* what) {
  EXPECT_EQ(c.box.left, x) << what;
  EXPECT_EQ(c.box.top, y) << what;
  EXPECT_EQ(width(c.box), w) << what;
  EXPECT_EQ(height(c.box), h) << what;
}

// The layout follows from the three texts' sizes in their fonts.
void expect_layout(const dialog_view& view) {
  ASSERT_EQ(view.controls.size(), 6u);
  const control& title = view.controls.at(101);
  const control& first = view.controls.at(102);
  const control& second = view.controls.at(103);
  const SIZE t = title.text_extent;
  const SIZE d1 = first.text_extent;
  const SIZE d2 = second.text_extent;
  expect_at(view.controls.at(100), 16, 16, 48, 48, "icon");
  expect_at(title, 80, (48 - t.cy) / 2 + 16, t.cx, t.cy, "title");
  expect_at(first, 16, 80, d1.cx, d1.cy, "first description");
  expect_at(second, 16, d1.cy + 88, d2.cx, d2.cy, "second description");
  const LONG content = std::max({t.cx + 80, d1.cx + 16, d2.cx + 16});
  const LONG button = static_cast<LONG>(((content - 32) / 2) * 1.05);
  const LONG top = d1.cy + d2.cy + 104;
  expect_at(view.controls.at(IDOK), 16, top, button, 32, "Install");
  expect_at(view.controls.at(IDCANCEL), button + 32, top, button, 32, "Cancel");
  EXPECT_EQ(width(view.box), 2 * button + 48);
  EXPECT_EQ(height(view.box), top + 48);
  // Normal: the system's message font; large 1.5 times that, larger 1.2 times large.
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  const LONG normal = metrics.lfMessageFont.lfHeight;
  const auto large = static_cast<LONG>(normal * 1.5);
  EXPECT_EQ(title.font_height, static_cast<LONG>(large * 1.2));
  EXPECT_EQ(first.font_height, large);
  EXPECT_EQ(second.font_height, normal);
  EXPECT_EQ(view.controls.at(IDOK).font_height, normal);
  EXPECT_EQ(view.controls.at(IDCANCEL).font_height, normal);
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(view.box.left, (work.right - width(view.box)) / 2);
  EXPECT_EQ(view.box.top, (work.bottom - height(view.box)) / 2);
}

TEST(ConfirmDlg, EnterInstalls_EscAndClosingCancel) {
  const struct {
    const char* how;
    std::function<void(HWND, const dialog_view&)> act;
    std::int32_t result;
  } cases[] = {
      {"Enter", [](HWND, const dialog_view& v) { press(v.focus ? v.focus : v.install, VK_RETURN); }, 0},
      {"Esc", [](HWND, const dialog_view& v) { press(v.focus ? v.focus : v.install, VK_ESCAPE); }, 2},
      {"Install clicked", [](HWND w, const dialog_view& v) {
         ::PostMessageW(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(v.install));
       }, 0},
      {"system close", [](HWND w, const dialog_view&) { ::PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); }, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    dialog_view seen;
    EXPECT_EQ(show_and(L"Demo", 0x409, seen, c.act), c.result);
    EXPECT_TRUE(seen.found);
    EXPECT_EQ(::FindWindowW(confirm_dlg::class_name, nullptr), nullptr) << "the dialog is gone";
  }
}

TEST(ConfirmDlg, Focus_IsOnInstall) {
  dialog_view seen;
  show_and(L"Demo", 0x409, seen, [](HWND w, const dialog_view&) { ::PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); });
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.focus, seen.install);
}

TEST(ConfirmDlg, GermanTexts_WithLanguage1031) {
  dialog_view seen;
  show_and(L"Orvek Free", 1031, seen, [](HWND, const dialog_view& v) { press(v.install, VK_ESCAPE); });
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.title, L"Orvek Free");
  EXPECT_EQ(seen.controls[101].text, L"Orvek Free");
  EXPECT_EQ(seen.controls[102].text, L"Bereit für die Installation von Orvek Free?");
  EXPECT_EQ(seen.controls[103].text,
            L"Surfen Sie ruhig weiter im Internet oder holen Sie sich einen Kaffee.\n"
            L"Wir sagen Bescheid, sobald alles fertig ist.");
  EXPECT_EQ(seen.controls[IDOK].text, L"Installieren");
  EXPECT_EQ(seen.controls[IDCANCEL].text, L"Abbrechen");
}

TEST(ConfirmDlg, TextsOfRightToLeftLanguages_ReadFromTheRight) {
  const struct {
    std::int32_t language;
    bool right_to_left;
  } cases[] = {{1025, true}, {1037, true}, {1065, true}, {1056, true}, {1033, false}, {1031, false},
               {0x0C01, false} /* Arabic of Egypt: no texts of its own, US English */};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    dialog_view seen;
    show_and(L"Demo", c.language, seen, [](HWND, const dialog_view& v) { press(v.install, VK_ESCAPE); });
    ASSERT_TRUE(seen.found);
    for (const int id : {101, 102, 103, IDOK, IDCANCEL}) {
      EXPECT_EQ((seen.controls[id].ex_style & WS_EX_RTLREADING) != 0, c.right_to_left) << id;
    }
  }
}

TEST(ConfirmDlg, Layout_FollowsTheTextsForShortAndLongTitles) {
  dialog_view short_title;
  dialog_view long_title;
  const auto close = [](HWND, const dialog_view& v) { press(v.install, VK_ESCAPE); };
  show_and(L"Demo", 0x409, short_title, close);
  show_and(L"Orvek Internet Security Premium Edition for Home and Small Office", 0x409, long_title, close);
  ASSERT_TRUE(short_title.found && long_title.found);
  {
    SCOPED_TRACE("short title");
    expect_layout(short_title);
  }
  {
    SCOPED_TRACE("long title");
    expect_layout(long_title);
  }
  // The long title is wider than both descriptions: it decides the buttons and the window.
  const RECT& title = long_title.controls[101].box;
  EXPECT_GT(width(title) + 80, width(long_title.controls[102].box) + 16);
  EXPECT_GT(width(long_title.controls[IDOK].box), width(short_title.controls[IDOK].box));
  EXPECT_GT(width(long_title.box), width(short_title.box));
  // The second description has two lines, measured one by one.
  const control& second = short_title.controls[103];
  EXPECT_EQ(height(second.box), 2 * second.line_height);
}

}  // namespace
}  // namespace vyn::sfx
