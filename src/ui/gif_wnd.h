#pragma once
// The splash window: an animated GIF with one line of status text over it and a taskbar button
// showing progress. It runs its own UI thread; text and progress may be set from any thread.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

class gif_wnd : public gif_wnd_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::shared_ptr<gif_wnd_intf> create_gif_wnd(std::shared_ptr<gif_wnd_data_intf> content) = 0;
  };
};

}  // namespace vyn::features::splash
