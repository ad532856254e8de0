#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "foundation/handle.h"
#include "foundation/log_system.h"

namespace vyn::log::detail {
namespace {

// A debug-output capture tool as such tools work: the shared buffer and its two events. Windows
// waits for "buffer ready", writes the sender's process id and the text, and sets "data ready".
// The tool reads on a thread of its own, as such tools do: a sender waits for "buffer ready"
// inside OutputDebugString, and while other processes (tests running beside this one) keep the
// buffer busy, this test's own thread could never hand the buffer back from inside that call.
class capture_tool {
 public:
  capture_tool() {
    if (buffer && buffer_ready && data_ready && stop) reader_ = std::thread([this] { read(); });
  }
  ~capture_tool() {
    if (reader_.joinable()) {
      ::SetEvent(stop.get());
      reader_.join();
    }
  }
  capture_tool(const capture_tool&) = delete;
  capture_tool& operator=(const capture_tool&) = delete;

  // The next line this process sent, or nothing within the time. Lines of other processes are
  // read and passed over, as a capture tool shows them all.
  std::string next(DWORD milliseconds) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return !lines_.empty(); })) {
      return {};
    }
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    return line;
  }

  win::unique_handle buffer{::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                                 L"DBWIN_BUFFER")};
  win::unique_handle buffer_ready{::CreateEventW(nullptr, FALSE, TRUE, L"DBWIN_BUFFER_READY")};
  win::unique_handle data_ready{::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY")};
  win::unique_handle stop{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

 private:
  void read() {
    const HANDLE events[] = {stop.get(), data_ready.get()};
    // Bounded: a test run never sends this many lines while one test listens.
    for (int lines = 0; lines < 100000; ++lines) {
      if (::WaitForMultipleObjects(2, events, FALSE, 60000) != WAIT_OBJECT_0 + 1) return;
      const auto* view = static_cast<const char*>(::MapViewOfFile(buffer.get(), FILE_MAP_READ, 0, 0, 4096));
      if (view == nullptr) return;
      DWORD sender = 0;
      std::memcpy(&sender, view, sizeof sender);
      std::string text(view + sizeof sender, ::strnlen(view + sizeof sender, 4096 - sizeof sender));
      ::UnmapViewOfFile(view);
      ::SetEvent(buffer_ready.get());
      if (sender != ::GetCurrentProcessId()) continue;
      {
        const std::lock_guard lock(mutex_);
        lines_.push_back(std::move(text));
      }
      arrived_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::string> lines_;
  std::thread reader_;
};

TEST(LogDebugOutput, LinesReachACaptureToolThatListens) {
  ASSERT_FALSE(::IsDebuggerPresent()) << "the test runs without a debugger";
  debugger_output("nobody hears this\n");  // nothing listens: returns at once

  capture_tool tool;
  ASSERT_TRUE(tool.buffer && tool.buffer_ready && tool.data_ready && tool.stop);
  debugger_output("first line\n");
  EXPECT_EQ(tool.next(5000), "first line\n");
  debugger_output("second line\n");
  EXPECT_EQ(tool.next(5000), "second line\n");
  EXPECT_EQ(tool.next(200), "") << "the line sent before the tool listened is not delivered late";
}

}  // namespace
}  // namespace vyn::log::detail
