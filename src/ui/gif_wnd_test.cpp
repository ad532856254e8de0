#include "ui/gif_wnd.h"

#include <shobjidl.h>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>

#include "foundation/exceptions.h"
#include "ui/res_gif_wnd_data.h"

namespace vyn::features::splash {
namespace {

// Content with the stub's artwork unless a test gives other bytes.
class test_content : public gif_wnd_data_intf {
 public:
  explicit test_content(std::optional<std::vector<std::uint8_t>> bytes = std::nullopt) : bytes_(std::move(bytes)) {}
  std::vector<std::uint8_t> gif_bytes() const override { return bytes_ ? *bytes_ : resources_.gif_bytes(); }
  HICON icon() const override { return resources_.icon(); }
  std::wstring window_title() const override { return L"Demo Self-Extractor"; }
  std::wstring product_title() const override { return L"Demo"; }
  int text_top() const override { return 100; }
  std::uint32_t text_colour() const override { return 0x00FEFEFE; }
  void set_text_colour(std::uint32_t) override {}

 private:
  std::optional<std::vector<std::uint8_t>> bytes_;
  res_gif_wnd_data resources_{::GetModuleHandleW(nullptr), 200, L"GIF", 128, L"", L""};
};

// A 1 x 1 GIF with one frame and no frame delay.
const std::vector<std::uint8_t> single_frame = {
    'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF,
    0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 1, 0, 0x3B};

bool eventually(const std::function<bool()>& condition, DWORD timeout_ms = 5000) {
  for (DWORD waited = 0; waited < timeout_ms; waited += 10) {
    if (condition()) return true;
    ::Sleep(10);
  }
  return condition();
}

BOOL CALLBACK count_splash(HWND window, LPARAM counter) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  if (process == ::GetCurrentProcessId() && std::wstring(name) == gif_wnd::class_name) {
    ++*reinterpret_cast<int*>(counter);
  }
  return TRUE;
}

// Splash windows of this process.
int windows_of_class() {
  int count = 0;
  ::EnumWindows(count_splash, reinterpret_cast<LPARAM>(&count));
  return count;
}

TEST(GifWnd, Start_ShowsOneCentredWindowOfThePicturesSizeWithTitleAndIcon) {
  gif_wnd splash(std::make_shared<test_content>());
  ASSERT_TRUE(splash.start(true));
  EXPECT_FALSE(splash.start(true)) << "a second start";
  HWND window = splash.window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(windows_of_class(), 1);
  EXPECT_TRUE(::IsWindowVisible(window));
  RECT r{};
  ::GetWindowRect(window, &r);
  EXPECT_EQ(r.right - r.left, 420);
  EXPECT_EQ(r.bottom - r.top, 150);
  EXPECT_EQ(r.left, (::GetSystemMetrics(SM_CXSCREEN) - 420) / 2);
  EXPECT_EQ(r.top, (::GetSystemMetrics(SM_CYSCREEN) - 150) / 2);
  wchar_t title[64] = {};
  ::GetWindowTextW(window, title, 64);
  EXPECT_STREQ(title, L"Demo Self-Extractor");
  EXPECT_NE(::SendMessageW(window, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_EQ(::GetWindowLongW(window, GWL_STYLE) & WS_CAPTION, 0) << "borderless";
  splash.close();
  EXPECT_FALSE(::IsWindow(window));
  EXPECT_EQ(splash.window(), nullptr);
}

TEST(GifWnd, StartHidden_ShowAndHide) {
  gif_wnd splash(std::make_shared<test_content>());
  ASSERT_TRUE(splash.start(false));
  HWND window = splash.window();
  EXPECT_FALSE(::IsWindowVisible(window));
  splash.show();
  EXPECT_TRUE(::IsWindowVisible(window));
  splash.set_text(L"Demo... 42%");
  splash.hide();
  EXPECT_FALSE(::IsWindowVisible(window));
}

TEST(GifWnd, HideMessage_HidesOnlyWithItsRequestCode) {
  gif_wnd splash(std::make_shared<test_content>());
  ASSERT_TRUE(splash.start(true));
  HWND window = splash.window();
  const UINT hide = ::RegisterWindowMessageW(L"VynSplashScreenHide");
  ::PostMessageW(window, hide, 0, 34);
  ::SendMessageW(window, WM_NULL, 0, 0);  // the posted message has been handled after this
  EXPECT_TRUE(::IsWindowVisible(window));
  ::PostMessageW(window, hide, 0, 35);
  EXPECT_TRUE(eventually([&] { return !::IsWindowVisible(window); }));
  EXPECT_TRUE(::IsWindow(window)) << "hidden, still alive";
}

TEST(GifWnd, PicturesThatCannotBeShown_LeaveNoWindowAndHarmlessCalls) {
  const std::vector<std::uint8_t> damaged = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0x01, 0x02};
  for (const auto& bytes : {std::vector<std::uint8_t>{}, damaged}) {
    gif_wnd splash(std::make_shared<test_content>(bytes));
    EXPECT_TRUE(splash.start(true));
    EXPECT_EQ(splash.window(), nullptr);
    EXPECT_EQ(windows_of_class(), 0);
    splash.set_text(L"x");
    splash.set_progress(5);
    splash.show();
    splash.hide();
    splash.mark_taskbar_button();
    splash.close();
  }
}

TEST(GifWnd, SingleFramePictureWithoutDelay_IsShown) {
  gif_wnd splash(std::make_shared<test_content>(single_frame));
  ASSERT_TRUE(splash.start(true));
  ASSERT_NE(splash.window(), nullptr);
  RECT r{};
  ::GetWindowRect(splash.window(), &r);
  EXPECT_EQ(r.right - r.left, 1);
}

// Records the taskbar calls; counts its references.
class recording_taskbar : public ITaskbarList3 {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE HrInit() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG done, ULONGLONG total) override {
    record("value " + std::to_string(done) + "/" + std::to_string(total));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG state) override {
    record(state == TBPF_INDETERMINATE ? "indeterminate" : state == TBPF_NORMAL ? "normal" : "other");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return S_OK; }

  std::vector<std::string> taken() {
    const std::lock_guard lock(mutex);
    return std::exchange(calls, {});
  }

  std::atomic<ULONG> references{1};

 private:
  void record(std::string call) {
    const std::lock_guard lock(mutex);
    calls.push_back(std::move(call));
  }
  std::mutex mutex;
  std::vector<std::string> calls;
};

class taskbar_wnd : public gif_wnd {
 public:
  taskbar_wnd(recording_taskbar& taskbar, bool fails)
      : gif_wnd(std::make_shared<test_content>()), taskbar_(taskbar), fails_(fails) {}
  std::atomic<int> created{0};

 protected:
  ITaskbarList3* create_taskbar_list() override {
    ++created;
    if (fails_) throw vyn::exceptions::error("Create taskbar interface fail.");
    taskbar_.AddRef();
    return &taskbar_;
  }

 private:
  recording_taskbar& taskbar_;
  bool fails_;
};

void announce_taskbar_button(const taskbar_wnd& splash) {
  ::PostMessageW(splash.window(), ::RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0);
  ::SendMessageW(splash.window(), WM_NULL, 0, 0);
}

TEST(GifWnd, Progress_GoesToTheTaskbarButtonOnceItExists) {
  recording_taskbar taskbar;
  taskbar_wnd splash(taskbar, false);
  ASSERT_TRUE(splash.start(true));
  splash.set_progress(10);
  EXPECT_TRUE(taskbar.taken().empty()) << "no taskbar button yet";

  announce_taskbar_button(splash);
  ASSERT_TRUE(eventually([&] { return splash.created == 1; }));
  splash.set_progress(-1);
  splash.set_progress(101);
  splash.set_progress(100);
  splash.set_progress(0);
  EXPECT_EQ(taskbar.taken(), (std::vector<std::string>{"indeterminate", "indeterminate", "normal", "value 100/100",
                                                       "normal", "value 0/100"}));
  announce_taskbar_button(splash);  // the shell restarted: the old interface is let go
  ASSERT_TRUE(eventually([&] { return splash.created == 2; }));
  EXPECT_EQ(taskbar.references, 2u);
  splash.close();
  EXPECT_EQ(taskbar.references, 1u) << "released with the window";
}

TEST(GifWnd, TaskbarThatCannotBeCreated_LeavesTheProgressOut) {
  recording_taskbar taskbar;
  taskbar_wnd splash(taskbar, true);
  ASSERT_TRUE(splash.start(true));
  announce_taskbar_button(splash);
  ASSERT_TRUE(eventually([&] { return splash.created == 1; }));
  splash.set_progress(50);
  EXPECT_TRUE(taskbar.taken().empty());
  EXPECT_TRUE(::IsWindowVisible(splash.window()));
}

}  // namespace
}  // namespace vyn::features::splash
