// Whether a processor emulator runs what the stub does from its first moments: requests to a device
// and an exception raised and handled inside the system (debug output), while a second thread of
// the process waits. The stub's report worker is such a thread. Prints what it did and exits 0 when
// everything returned; an emulator that cannot do it hangs or crashes instead, and the caller's
// time limit ends it.
#include <windows.h>

#include <cstdio>

namespace {

HANDLE stop_event = nullptr;

DWORD WINAPI waiting_thread(void*) { return ::WaitForSingleObject(stop_event, INFINITE) == WAIT_OBJECT_0 ? 0 : 1; }

void say(const char* text) {
  std::printf("emulator probe: %s\n", text);
  std::fflush(stdout);
}

}  // namespace

int main() {
  stop_event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = ::CreateThread(nullptr, 0, waiting_thread, nullptr, 0, nullptr);
  if (stop_event == nullptr || thread == nullptr) {
    say("no second thread");
    return 2;
  }
  ::Sleep(100);

  // Answered or refused, the request must return; the disk may not exist at all.
  HANDLE disk = ::CreateFileW(L"\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (disk != INVALID_HANDLE_VALUE) {
    unsigned char version[24] = {};
    DWORD returned = 0;
    ::DeviceIoControl(disk, 0x00074080 /* SMART_GET_VERSION */, nullptr, 0, version, sizeof version, &returned,
                      nullptr);
    ::CloseHandle(disk);
  }
  say("device request returned");

  ::OutputDebugStringW(L"emulator probe\n");
  say("debug output returned");

  ::SetEvent(stop_event);
  const bool joined = ::WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0;
  say(joined ? "second thread ended" : "second thread did not end");
  return joined ? 0 : 3;
}
