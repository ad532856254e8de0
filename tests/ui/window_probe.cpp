// The test's hands and eyes inside Wine: starts a stub and tells its process id and exit code,
// lists the windows a process shows with their texts and places, and posts messages to them.
// Everything it reports goes to files, so that no Wine process holds the test's output open.
//
//   vyn_test_windows start <result file> <command line>
//       starts the command line; the file gets "pid <n>" at once and "exit <n>" when the program
//       ends (decimal, the full 32-bit code), or "exit timeout" after 5 minutes (it is stopped)
//   vyn_test_windows windows <output file> <pid or 0> [<class>]
//       the top-level windows of the process (0: of every process), optionally of one class, as
//       one JSON document (see write_windows)
//   vyn_test_windows post <window> <message> <wparam> <lparam>
//       posts the message (a number, or the name of a registered message) to the window
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD longest_run_ms = 300000;

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::string json_string(const std::wstring& text) {
  std::string out = "\"";
  for (const char c : utf8(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string json_rect(const RECT& r) {
  return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
         std::to_string(r.bottom) + "]";
}

bool write_file(const std::wstring& path, const std::string& text, bool append) {
  const HANDLE file = ::CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
  return ok && written == text.size();
}

std::wstring window_text(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring class_of(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return name;
}

struct listing {
  DWORD pid;
  std::wstring class_name;
  std::vector<HWND> windows;
};

BOOL CALLBACK collect_top_level(HWND window, LPARAM address) {
  auto& list = *reinterpret_cast<listing*>(address);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (list.pid != 0 && owner != list.pid) return TRUE;
  if (!list.class_name.empty() && class_of(window) != list.class_name) return TRUE;
  list.windows.push_back(window);
  return TRUE;
}

BOOL CALLBACK collect_child(HWND child, LPARAM address) {
  reinterpret_cast<std::vector<HWND>*>(address)->push_back(child);
  return TRUE;
}

// {"screen":[w,h],"work_area":[l,t,r,b],"windows":[{"hwnd":n,"pid":n,"class":s,"title":s,
//  "visible":b,"rect":[...],"children":[{"class":s,"text":s,"id":n,"visible":b,"rect":[...]}]}]}
// Child rectangles are in the client coordinates of the window.
std::string describe(const listing& list) {
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  std::string out = "{\"screen\":[" + std::to_string(::GetSystemMetrics(SM_CXSCREEN)) + "," +
                    std::to_string(::GetSystemMetrics(SM_CYSCREEN)) + "],\"work_area\":" + json_rect(work) +
                    ",\"windows\":[";
  for (std::size_t i = 0; i < list.windows.size(); ++i) {
    HWND window = list.windows[i];
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    RECT box{};
    ::GetWindowRect(window, &box);
    out += (i ? ",{" : "{");
    out += "\"hwnd\":" + std::to_string(reinterpret_cast<ULONG_PTR>(window)) + ",\"pid\":" + std::to_string(owner) +
           ",\"class\":" + json_string(class_of(window)) + ",\"title\":" + json_string(window_text(window)) +
           ",\"visible\":" + (::IsWindowVisible(window) ? "true" : "false") + ",\"rect\":" + json_rect(box) +
           ",\"children\":[";
    std::vector<HWND> children;
    ::EnumChildWindows(window, collect_child, reinterpret_cast<LPARAM>(&children));
    for (std::size_t j = 0; j < children.size(); ++j) {
      RECT child{};
      ::GetWindowRect(children[j], &child);
      ::MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&child), 2);
      out += (j ? ",{" : "{");
      out += "\"class\":" + json_string(class_of(children[j])) + ",\"text\":" + json_string(window_text(children[j])) +
             ",\"id\":" + std::to_string(::GetDlgCtrlID(children[j])) +
             ",\"visible\":" + (::IsWindowVisible(children[j]) ? "true" : "false") + ",\"rect\":" + json_rect(child) +
             "}";
    }
    out += "]}";
  }
  return out + "]}\n";
}

int start(const std::wstring& result, std::wstring command) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    write_file(result, "error " + std::to_string(::GetLastError()) + "\n", false);
    return 1;
  }
  ::CloseHandle(process.hThread);
  write_file(result, "pid " + std::to_string(process.dwProcessId) + "\n", false);
  std::string end = "exit timeout\n";
  if (::WaitForSingleObject(process.hProcess, longest_run_ms) == WAIT_OBJECT_0) {
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    end = "exit " + std::to_string(code) + "\n";
  } else {
    ::TerminateProcess(process.hProcess, 1);
    ::WaitForSingleObject(process.hProcess, 5000);
  }
  ::CloseHandle(process.hProcess);
  write_file(result, end, true);
  return 0;
}

int post(const std::wstring& window, const std::wstring& message, const std::wstring& wparam,
         const std::wstring& lparam) {
  UINT id = static_cast<UINT>(std::wcstoul(message.c_str(), nullptr, 0));
  if (id == 0) id = ::RegisterWindowMessageW(message.c_str());
  const auto hwnd = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::wcstoull(window.c_str(), nullptr, 0)));
  const BOOL posted = ::PostMessageW(hwnd, id, static_cast<WPARAM>(std::wcstoull(wparam.c_str(), nullptr, 0)),
                                     static_cast<LPARAM>(std::wcstoll(lparam.c_str(), nullptr, 0)));
  return posted ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring action = argc > 1 ? argv[1] : L"";
  if (action == L"start" && argc == 4) return start(argv[2], argv[3]);
  if (action == L"windows" && (argc == 4 || argc == 5)) {
    listing list{static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)), argc == 5 ? argv[4] : L"", {}};
    ::EnumWindows(collect_top_level, reinterpret_cast<LPARAM>(&list));
    return write_file(argv[2], describe(list), false) ? 0 : 1;
  }
  if (action == L"post" && argc == 6) return post(argv[2], argv[3], argv[4], argv[5]);
  std::fwprintf(stderr, L"usage: vyn_test_windows start <result> <command line> | windows <output> <pid> [class] |"
                        L" post <window> <message> <wparam> <lparam>\n");
  return 2;
}
