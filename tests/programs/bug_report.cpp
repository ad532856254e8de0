// Stand-in of the crash reporter: announces its start, stays for the time the test asks for and
// then leaves a marker, so that a test can tell whether the installer waited for it. See README.md.
#include <windows.h>

#include "stand_in.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  using namespace vyn::stand_in;
  const std::optional<std::wstring> record = environment(L"VYN_TEST_RECORD_DIR");
  const bool recording = record && !record->empty() && make_folders(*record);
  if (recording && !write_text(*record + L"\\bug_report-started.txt", utf8(::GetCommandLineW()))) {
    ::ExitProcess(failure_exit_code);
  }
  DWORD delay = 0;
  if (const auto text = environment(L"VYN_TEST_BUG_REPORT_DELAY_MS")) {
    const auto parsed = parse_number(*text);
    if (!parsed) ::ExitProcess(failure_exit_code);
    delay = *parsed;
  }
  ::Sleep(delay);
  if (recording && !write_text(*record + L"\\bug_report-done.txt", "done\n")) ::ExitProcess(failure_exit_code);
  ::ExitProcess(0);
}
