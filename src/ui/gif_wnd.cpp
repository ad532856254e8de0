#include "ui/gif_wnd.h"

#include <objidl.h>
#include <propkey.h>
#include <propsys.h>
#include <shobjidl.h>

#include <dwmapi.h>
#include <gdiplus.h>

#include <cstring>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/os_info.h"

namespace vyn::features::splash {
namespace {

struct registered_messages {
  UINT hide;
  UINT taskbar_button_created;
};

// Registered once per process, on first use.
const registered_messages& messages() {
  static const registered_messages registered{::RegisterWindowMessageW(gif_wnd::hide_message_name),
                                              ::RegisterWindowMessageW(L"TaskbarButtonCreated")};
  return registered;
}

bool windows_7_or_later() {
  const os::version_record& v = os::current().version;
  return v.major > 6 || (v.major == 6 && v.minor >= 1);
}

bool windows_11_or_later() {
  const os::version_record& v = os::current().version;
  return v.major >= 10 && v.build >= 22000;
}

// The installer runs elevated and the shell does not: its messages need a pass.
void allow_message(HWND window, UINT message) {
  if (windows_7_or_later()) ::ChangeWindowMessageFilterEx(window, message, MSGFLT_ALLOW, nullptr);
}

// A memory device context with a bitmap of its own selected into it.
class memory_canvas {
 public:
  memory_canvas(HDC compatible_with, int width, int height)
      : dc_(::CreateCompatibleDC(compatible_with)), bitmap_(::CreateCompatibleBitmap(compatible_with, width, height)) {
    if (dc_ && bitmap_) previous_ = ::SelectObject(dc_, bitmap_);
  }
  ~memory_canvas() {
    if (previous_) ::SelectObject(dc_, previous_);
    if (bitmap_) ::DeleteObject(bitmap_);
    if (dc_) ::DeleteDC(dc_);
  }
  memory_canvas(const memory_canvas&) = delete;
  memory_canvas& operator=(const memory_canvas&) = delete;

  HDC dc() const noexcept { return dc_; }
  bool valid() const noexcept { return previous_ != nullptr; }

 private:
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ previous_ = nullptr;
};

}  // namespace

// The decoded GIF and one pre-rendered picture per frame.
struct gif_wnd::animation {
  ~animation() {
    frames.clear();
    delete image;
    if (stream) stream->Release();
  }

  // Delay of a frame in milliseconds; the GIF keeps hundredths of a second.
  UINT delay_ms(UINT frame) const { return frame < delays.size() ? delays[frame] * 10 : 0; }
  void select(UINT frame) { image->SelectActiveFrame(&dimension, frame); }

  IStream* stream = nullptr;  // GDI+ reads the image from it for as long as the image lives
  Gdiplus::Image* image = nullptr;
  GUID dimension = Gdiplus::FrameDimensionTime;
  UINT frame_count = 0;
  std::vector<UINT> delays;  // hundredths of a second, one per frame
  UINT current = 0;
  int width = 0;
  int height = 0;
  std::vector<std::unique_ptr<memory_canvas>> frames;
};

namespace {

IStream* stream_over_copy(const std::vector<std::uint8_t>& bytes) {
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (!memory) return nullptr;
  void* target = ::GlobalLock(memory);
  if (!target) {
    ::GlobalFree(memory);
    return nullptr;
  }
  std::memcpy(target, bytes.data(), bytes.size());
  ::GlobalUnlock(memory);
  IStream* stream = nullptr;
  if (FAILED(::CreateStreamOnHGlobal(memory, TRUE, &stream))) {
    ::GlobalFree(memory);
    return nullptr;
  }
  return stream;
}

// The frame delays, or nothing when the image has none; false when they cannot be read.
bool read_delays(Gdiplus::Image& image, std::vector<UINT>& delays) {
  const UINT size = image.GetPropertyItemSize(PropertyTagFrameDelay);
  if (size == 0) return true;
  std::vector<std::uint8_t> buffer(size);
  auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(buffer.data());
  if (image.GetPropertyItem(PropertyTagFrameDelay, size, item) != Gdiplus::Ok) return false;
  const auto* values = static_cast<const UINT*>(item->value);
  delays.assign(values, values + item->length / sizeof(UINT));
  return true;
}

}  // namespace

gif_wnd::gif_wnd(std::shared_ptr<gif_wnd_data_intf> content)
    : content_(std::move(content)), created_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  Gdiplus::GdiplusStartupInput input;
  if (Gdiplus::GdiplusStartup(&gdiplus_token_, &input, nullptr) != Gdiplus::Ok) {
    VYN_LOG_ERROR("Starting GDI+ failed.");
    gdiplus_token_ = 0;
  }
  messages();
}

gif_wnd::~gif_wnd() {
  close();
  release_taskbar();
  if (font_) ::DeleteObject(font_);
  animation_.reset();
  if (gdiplus_token_) Gdiplus::GdiplusShutdown(gdiplus_token_);
}

bool gif_wnd::start(bool show) {
  if (thread_) return false;
  show_on_start_ = show;
  thread_.reset(::CreateThread(nullptr, 0, &gif_wnd::thread_main, this, 0, nullptr));
  if (!thread_) {
    VYN_LOG_ERROR("Creating the splash thread failed ({}).", ::GetLastError());
    return false;
  }
  ::WaitForSingleObject(created_.get(), 50000000);
  return true;
}

void gif_wnd::close() {
  if (!thread_) return;
  if (HWND window = window_.exchange(nullptr)) ::PostMessageW(window, WM_CLOSE, 0, 0);
  if (::WaitForSingleObject(thread_.get(), 10000) != WAIT_OBJECT_0) {
    VYN_LOG_WARNING("The splash thread did not end in time; it is stopped.");
    ::TerminateThread(thread_.get(), 1);
  }
  thread_.reset();
}

void gif_wnd::show() {
  if (HWND window = window_.load()) ::ShowWindow(window, SW_SHOW);
}

void gif_wnd::hide() {
  if (HWND window = window_.load()) ::ShowWindow(window, SW_HIDE);
}

void gif_wnd::set_text(const std::wstring& text) {
  const std::lock_guard lock(text_mutex_);
  text_ = text;
}

void gif_wnd::set_progress(int percent) {
  if (!windows_7_or_later()) return;
  const std::lock_guard lock(taskbar_mutex_);
  HWND window = window_.load();
  if (!taskbar_ || !window) return;
  try {
    // -1 and anything above 100 say "busy, amount unknown".
    if (static_cast<unsigned>(percent) > 100) {
      taskbar_->SetProgressState(window, TBPF_INDETERMINATE);
    } else {
      taskbar_->SetProgressState(window, TBPF_NORMAL);
      taskbar_->SetProgressValue(window, static_cast<ULONGLONG>(percent), 100);
    }
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::debug, e, "Setting the taskbar progress failed.");
  }
}

HRESULT gif_wnd::mark_taskbar_button() {
  using get_store_fn = HRESULT(WINAPI*)(HWND, REFIID, void**);
  // Looked up by name: the function is missing from older shells.
  const win::unique_hmodule shell(::LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  const auto get_store = shell ? reinterpret_cast<get_store_fn>(reinterpret_cast<void*>(
                                     ::GetProcAddress(shell.get(), "SHGetPropertyStoreForWindow")))
                               : nullptr;
  if (!get_store) return 0;
  IPropertyStore* store = nullptr;
  HRESULT result = get_store(window_.load(), IID_IPropertyStore, reinterpret_cast<void**>(&store));
  if (FAILED(result) || !store) return result;
  // Pinning would pin the installer, which is gone once the product is installed.
  static constexpr PROPERTYKEY prevent_pinning{{0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 9};
  PROPVARIANT value;
  std::memset(&value, 0, sizeof(value));
  value.vt = VT_BOOL;
  value.boolVal = VARIANT_TRUE;
  result = store->SetValue(prevent_pinning, value);
  store->Release();
  return result;
}

ITaskbarList3* gif_wnd::create_taskbar_list() {
  ITaskbarList3* list = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&list))) ||
      !list) {
    throw vyn::exceptions::error("Create taskbar interface fail.");
  }
  if (FAILED(list->HrInit())) {
    list->Release();
    throw vyn::exceptions::error("Initialize taskbar interface fail");
  }
  return list;
}

DWORD WINAPI gif_wnd::thread_main(void* self) {
  static_cast<gif_wnd*>(self)->run_thread();
  return 0;
}

void gif_wnd::run_thread() {
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HINSTANCE module = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = &gif_wnd::window_proc;
  window_class.hInstance = module;
  window_class.hIcon = content_->icon();
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(1));
  window_class.lpszClassName = class_name;
  const bool registered = ::RegisterClassExW(&window_class) != 0;

  HWND window = ::CreateWindowExW(0, class_name, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, module, this);
  if (window) {
    allow_message(window, messages().taskbar_button_created);
    if (windows_11_or_later()) {
      const int round = 2;  // DWMWCP_ROUND
      ::DwmSetWindowAttribute(window, 33, &round, sizeof(round));
    }
    if (show_on_start_) {
      ::ShowWindow(window, SW_SHOW);
      ::UpdateWindow(window);
    }
    window_.store(window);
    ::SetEvent(created_.get());
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  } else {
    VYN_LOG_ERROR("The splash window could not be created ({}).", ::GetLastError());
    ::SetEvent(created_.get());
  }
  window_.store(nullptr);
  if (registered) ::UnregisterClassW(class_name, module);
  if (SUCCEEDED(com)) ::CoUninitialize();
}

LRESULT CALLBACK gif_wnd::window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<gif_wnd*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(window, message, wparam, lparam);
  try {
    return self->on_message(window, message, wparam, lparam);
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::error, e, "Splash window message {:#x} failed.", message);
    return ::DefWindowProcW(window, message, wparam, lparam);
  }
}

LRESULT gif_wnd::on_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == messages().hide) {
    if (lparam == hide_request) ::ShowWindow(window, SW_HIDE);
    return 0;
  }
  if (message == messages().taskbar_button_created && windows_7_or_later()) {
    on_taskbar_button_created();
    return 0;
  }
  switch (message) {
    case WM_CREATE:
      return on_create(window) ? 0 : -1;
    case WM_TIMER:
      if (wparam != timer_id_) break;
      on_timer(window);
      return 0;
    case WM_PAINT:
      on_paint(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_CLOSE:
      if (timer_) ::KillTimer(window, timer_id_);
      timer_ = 0;
      break;
    case WM_DESTROY:
      release_taskbar();
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

bool gif_wnd::on_create(HWND window) {
  animation_ = decode(content_->gif_bytes());
  if (!animation_) return false;
  animation& a = *animation_;
  text_top_ = content_->text_top();

  const int x = (::GetSystemMetrics(SM_CXSCREEN) - a.width) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - a.height) / 2;
  ::SetWindowPos(window, nullptr, x, y, a.width, a.height, SWP_NOZORDER | SWP_NOACTIVATE);
  if (HICON icon = content_->icon()) {
    ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  }
  if (const std::wstring title = content_->window_title(); !title.empty()) ::SetWindowTextW(window, title.c_str());

  HDC screen = ::GetDC(window);
  for (UINT i = 0; i < a.frame_count; ++i) {
    a.select(i);
    auto canvas = std::make_unique<memory_canvas>(screen, a.width, a.height);
    if (canvas->valid()) {
      Gdiplus::Graphics graphics(canvas->dc());
      graphics.DrawImage(a.image, 0, 0, a.width, a.height);
    }
    a.frames.push_back(std::move(canvas));
  }
  ::ReleaseDC(window, screen);
  if (a.frame_count > 0) a.select(a.current);

  font_ = ::CreateFontW(-13, 0, 0, 0, FW_THIN, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
  if (!a.delays.empty() && a.frame_count > 1) start_timer(window);
  allow_message(window, messages().hide);
  return true;
}

void gif_wnd::start_timer(HWND window) {
  timer_ = ::SetTimer(window, timer_id_, animation_->delay_ms(animation_->current), nullptr);
}

void gif_wnd::on_timer(HWND window) {
  ::KillTimer(window, timer_id_);
  animation& a = *animation_;
  a.current = (a.current + 1) % a.frame_count;
  a.select(a.current);
  start_timer(window);
  ::InvalidateRect(window, nullptr, FALSE);
}

// The current frame, and over it the status text once there is one. The picture is composed off
// screen so that the text never flickers.
void gif_wnd::on_paint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(window, &paint);
  std::wstring text;
  {
    const std::lock_guard lock(text_mutex_);
    if (text_) text = *text_;
  }
  const animation* a = animation_.get();
  if (dc && a && a->current < a->frames.size()) {
    memory_canvas canvas(dc, a->width, a->height);
    if (canvas.valid()) {
      ::BitBlt(canvas.dc(), 0, 0, a->width, a->height, a->frames[a->current]->dc(), 0, 0, SRCCOPY);
      if (!text.empty()) {
        ::SetBkMode(canvas.dc(), TRANSPARENT);
        ::SetTextColor(canvas.dc(), static_cast<COLORREF>(content_->text_colour()));
        HGDIOBJ previous = font_ ? ::SelectObject(canvas.dc(), font_) : nullptr;
        RECT band{0, text_top_, a->width, a->height};
        ::DrawTextW(canvas.dc(), text.c_str(), static_cast<int>(text.size()), &band, DT_CENTER | DT_NOPREFIX);
        if (previous) ::SelectObject(canvas.dc(), previous);
      }
      ::BitBlt(dc, 0, 0, a->width, a->height, canvas.dc(), 0, 0, SRCCOPY);
    }
  }
  ::EndPaint(window, &paint);
}

void gif_wnd::on_taskbar_button_created() {
  release_taskbar();
  ITaskbarList3* list = create_taskbar_list();
  const std::lock_guard lock(taskbar_mutex_);
  taskbar_ = list;
}

void gif_wnd::release_taskbar() {
  const std::lock_guard lock(taskbar_mutex_);
  if (taskbar_) taskbar_->Release();
  taskbar_ = nullptr;
}

std::unique_ptr<gif_wnd::animation> gif_wnd::decode(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) {
    VYN_LOG_ERROR("The splash picture is missing.");
    return nullptr;
  }
  auto a = std::make_unique<gif_wnd::animation>();
  a->stream = stream_over_copy(bytes);
  if (!a->stream) {
    VYN_LOG_ERROR("The splash picture cannot be copied ({}).", ::GetLastError());
    return nullptr;
  }
  a->image = Gdiplus::Image::FromStream(a->stream, FALSE);
  if (!a->image || a->image->GetLastStatus() != Gdiplus::Ok) {
    VYN_LOG_ERROR("The splash picture cannot be decoded.");
    return nullptr;
  }
  a->width = static_cast<int>(a->image->GetWidth());
  a->height = static_cast<int>(a->image->GetHeight());
  if (const UINT dimensions = a->image->GetFrameDimensionsCount(); dimensions > 0) {
    std::vector<GUID> list(dimensions);
    if (a->image->GetFrameDimensionsList(list.data(), dimensions) == Gdiplus::Ok) {
      a->dimension = list.front();
      a->frame_count = a->image->GetFrameCount(&a->dimension);
    }
  }
  if (!read_delays(*a->image, a->delays)) {
    VYN_LOG_ERROR("The frame delays of the splash picture cannot be read.");
    return nullptr;
  }
  return a;
}

}  // namespace vyn::features::splash
