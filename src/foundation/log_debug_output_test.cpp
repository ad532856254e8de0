#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "foundation/handle.h"
#include "foundation/log_system.h"

namespace vyn::log::detail {
namespace {

// A debug-output capture tool as such tools work: the shared buffer and its two events. Windows
// waits for "buffer ready", writes the sender's process id and the text, and sets "data ready".
struct capture_tool {
  win::unique_handle buffer{::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                                 L"DBWIN_BUFFER")};
  win::unique_handle buffer_ready{::CreateEventW(nullptr, FALSE, TRUE, L"DBWIN_BUFFER_READY")};
  win::unique_handle data_ready{::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY")};

  // The next line this process sends, or nothing within the time. Lines of other processes (tests
  // running beside this one) are read and passed over, as a capture tool shows them all.
  std::string next(DWORD milliseconds) {
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    for (int lines = 0; lines < 1000; ++lines) {
      const ULONGLONG now = ::GetTickCount64();
      if (now >= deadline || ::WaitForSingleObject(data_ready.get(), static_cast<DWORD>(deadline - now)) != WAIT_OBJECT_0) {
        return {};
      }
      const auto* view = static_cast<const char*>(::MapViewOfFile(buffer.get(), FILE_MAP_READ, 0, 0, 4096));
      if (view == nullptr) return {};
      DWORD sender = 0;
      std::memcpy(&sender, view, sizeof sender);
      std::string text(view + sizeof sender, ::strnlen(view + sizeof sender, 4096 - sizeof sender));
      ::UnmapViewOfFile(view);
      ::SetEvent(buffer_ready.get());
      if (sender == ::GetCurrentProcessId()) return text;
    }
    return {};
  }
};

TEST(LogDebugOutput, LinesReachACaptureToolThatListens) {
  ASSERT_FALSE(::IsDebuggerPresent()) << "the test runs without a debugger";
  debugger_output("nobody hears this\n");  // nothing listens: returns at once

  capture_tool tool;
  ASSERT_TRUE(tool.buffer && tool.buffer_ready && tool.data_ready);
  debugger_output("first line\n");
  EXPECT_EQ(tool.next(5000), "first line\n");
  debugger_output("second line\n");
  EXPECT_EQ(tool.next(5000), "second line\n");
  EXPECT_EQ(tool.next(200), "") << "the line sent before the tool listened is not delivered late";
}

}  // namespace
}  // namespace vyn::log::detail
