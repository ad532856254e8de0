#pragma once
// The splash window: an animated GIF with one line of status text over it and a taskbar button
// showing progress. It runs its own UI thread; text and progress may be set from any thread.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/handle.h"

struct ITaskbarList3;

namespace vyn::features::splash {

// What the splash window shows.
class gif_wnd_data_intf {
 public:
  // A copy of the GIF file's bytes; empty when there is none.
  virtual std::vector<std::uint8_t> gif_bytes() const = 0;
  // The window's icon; null when there is none.
  virtual HICON icon() const = 0;
  virtual std::wstring window_title() const = 0;
  virtual std::wstring product_title() const = 0;
  // Pixels from the window's top edge to the status text.
  virtual int text_top() const = 0;
  // 0x00BBGGRR.
  virtual std::uint32_t text_colour() const = 0;
  virtual void set_text_colour(std::uint32_t colour) = 0;
  virtual ~gif_wnd_data_intf() = default;
};

class gif_wnd_intf {
 public:
  // Starts the UI thread and waits until the window exists; false when it was already started.
  virtual bool start(bool show) = 0;
  // Closes the window and ends its thread.
  virtual void close() = 0;
  virtual void show() = 0;
  virtual void hide() = 0;
  virtual void set_text(const std::wstring& text) = 0;
  // Percent 0 to 100; any other value shows indeterminate progress.
  virtual void set_progress(int percent) = 0;
  // Keeps the taskbar button from being pinned; returns the system's result code.
  virtual HRESULT mark_taskbar_button() = 0;
  virtual ~gif_wnd_intf() = default;
};

// The window: its own UI thread decodes the GIF with GDI+, renders every frame once and shows one
// per frame delay, with the status text drawn over it.
class gif_wnd : public gif_wnd_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::shared_ptr<gif_wnd_intf> create_gif_wnd(std::shared_ptr<gif_wnd_data_intf> content) = 0;
  };

  static constexpr const wchar_t* class_name = L"vynSfxSplashClass";
  // A program may hide the splash by posting this registered message with this lParam.
  static constexpr const wchar_t* hide_message_name = L"VynSplashScreenHide";
  static constexpr LPARAM hide_request = 35;

  explicit gif_wnd(std::shared_ptr<gif_wnd_data_intf> content);
  ~gif_wnd() override;
  gif_wnd(const gif_wnd&) = delete;
  gif_wnd& operator=(const gif_wnd&) = delete;

  bool start(bool show) override;
  // Waits at most 10 seconds for the UI thread, then ends it.
  void close() override;
  void show() override;
  void hide() override;
  // Shown with the next frame or paint.
  void set_text(const std::wstring& text) override;
  void set_progress(int percent) override;
  HRESULT mark_taskbar_button() override;

  // The window while it exists; null before start, after close or when creation failed.
  HWND window() const noexcept { return window_.load(); }

 protected:
  // The shell's taskbar list, initialised; raises when it cannot be created. Called on the UI
  // thread when the shell announces the window's taskbar button.
  virtual ITaskbarList3* create_taskbar_list();

 private:
  struct animation;

  // Decodes the GIF; null when it is not an image GDI+ can read. Without a frame-delay property
  // the image is still shown, without animation.
  static std::unique_ptr<animation> decode(const std::vector<std::uint8_t>& bytes);
  static DWORD WINAPI thread_main(void* self);
  void run_thread();
  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT on_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  bool on_create(HWND window);
  void on_timer(HWND window);
  void on_paint(HWND window);
  void on_taskbar_button_created();
  void release_taskbar();
  void start_timer(HWND window);

  ULONG_PTR gdiplus_token_ = 0;
  std::unique_ptr<animation> animation_;  // made and used on the UI thread
  std::shared_ptr<gif_wnd_data_intf> content_;
  std::mutex text_mutex_;
  std::optional<std::wstring> text_;
  std::atomic<HWND> window_{nullptr};
  win::unique_handle thread_;
  win::unique_handle created_;  // auto-reset: the window exists, or its creation failed
  bool show_on_start_ = false;
  static constexpr UINT_PTR timer_id_ = 1001;
  UINT_PTR timer_ = 0;
  int text_top_ = 0;
  HFONT font_ = nullptr;
  std::mutex taskbar_mutex_;
  ITaskbarList3* taskbar_ = nullptr;
};

}  // namespace vyn::features::splash
