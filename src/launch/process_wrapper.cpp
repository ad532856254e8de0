#include "launch/process_wrapper.h"

#include <userenv.h>

#include <algorithm>
#include <vector>

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/strings.h"

namespace vyn::systools {
namespace {

using exceptions::error;
using utils::to_log;

[[noreturn]] void raise_create_failure(DWORD code, const std::wstring& command_line) {
  VYN_LOG_ERROR("Starting '{}' failed, error {}", to_log(command_line), code);
  throw error(code, fmt::format("Unable to create process '{}'!", to_log(command_line)));
}

// A visible child gets a console of its own (console programs only); a hidden one gets none and
// starts with its window hidden.
DWORD window_flags(bool show_window, STARTUPINFOW& startup) {
  if (show_window) return CREATE_NEW_CONSOLE;
  startup.dwFlags |= STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  return CREATE_NO_WINDOW;
}

class attribute_list {
 public:
  attribute_list(DWORD count, const std::wstring& command_line) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, count, 0, &size);
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (!::InitializeProcThreadAttributeList(list, count, 0, &size)) {
      raise_create_failure(::GetLastError(), command_line);
    }
    list_ = list;
  }
  ~attribute_list() {
    if (list_) ::DeleteProcThreadAttributeList(list_);
  }
  attribute_list(const attribute_list&) = delete;
  attribute_list& operator=(const attribute_list&) = delete;

  // value must outlive the start of the process.
  void add(DWORD_PTR attribute, void* value, SIZE_T size, const std::wstring& command_line) {
    if (!::UpdateProcThreadAttribute(list_, 0, attribute, value, size, nullptr, nullptr)) {
      raise_create_failure(::GetLastError(), command_line);
    }
  }
  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  std::vector<std::uint8_t> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

struct input_pipe {
  win::unique_handle read;   // the child's end, inheritable
  win::unique_handle write;  // ours
};

input_pipe make_input_pipe(std::size_t size_hint) {
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!::CreatePipe(&read, &write, &inheritable, static_cast<DWORD>(std::min<std::size_t>(size_hint, 0x100000)))) {
    const DWORD code = ::GetLastError();
    VYN_LOG_ERROR("CreatePipe failed, error {}", code);
    throw error(code, "Unable to create the input pipe!");
  }
  input_pipe pipe{win::unique_handle(read), win::unique_handle(write)};
  if (!::SetHandleInformation(write, HANDLE_FLAG_INHERIT, 0)) {
    const DWORD code = ::GetLastError();
    VYN_LOG_ERROR("SetHandleInformation failed for the input pipe, error {}", code);
    throw error(code, "Unable to create the input pipe!");
  }
  return pipe;
}

void write_input(HANDLE pipe, const std::string& input) {
  if (input.empty()) return;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(pipe, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
  if (!ok || written != input.size()) {
    const DWORD code = ok ? ERROR_WRITE_FAULT : ::GetLastError();
    VYN_LOG_ERROR("Writing {} bytes to the child's input failed after {}, error {}", input.size(), written, code);
    throw error(code, "Unable to write to the pipe!");
  }
}

std::uint32_t wait_for_exit(HANDLE process, std::uint32_t timeout_ms, const std::wstring& command_line) {
  if (::WaitForSingleObject(process, timeout_ms) == WAIT_FAILED) {
    const DWORD code = ::GetLastError();
    VYN_LOG_ERROR("Waiting for '{}' failed, error {}", to_log(command_line), code);
    throw error(code, fmt::format("Unable to wait for process '{}'!", to_log(command_line)));
  }
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(process, &exit_code)) {
    const DWORD code = ::GetLastError();
    VYN_LOG_ERROR("Reading the exit code of '{}' failed, error {}", to_log(command_line), code);
    throw error(code, fmt::format("Unable to retrieve exit status for process '{}'!", to_log(command_line)));
  }
  return exit_code;
}

void take_handles(const PROCESS_INFORMATION& created, process_handles& handles) {
  handles.process.reset(created.hProcess);
  handles.thread.reset(created.hThread);
  handles.process_id = created.dwProcessId;
  handles.thread_id = created.dwThreadId;
}

struct environment_block {
  void* block = nullptr;
  ~environment_block() {
    if (block) ::DestroyEnvironmentBlock(block);
  }
};

}  // namespace

std::uint32_t process_wrapper::run(const std::wstring& command_line, bool show_window, bool inherit_handles,
                                   std::uint32_t timeout_ms, process_handles& handles) {
  return execute({command_line, std::nullopt, show_window, inherit_handles, timeout_ms}, handles);
}

std::uint32_t process_wrapper::run_with_input(const std::wstring& command_line, const std::string& input,
                                              bool show_window, std::uint32_t timeout_ms, process_handles& handles) {
  return execute({command_line, input, show_window, false, timeout_ms}, handles);
}

std::uint32_t process_wrapper::run_and_wait(const std::wstring& command_line, bool show_window,
                                            std::uint32_t timeout_ms) {
  process_handles handles;
  return run(command_line, show_window, false, timeout_ms, handles);
}

std::uint32_t process_wrapper::execute(const start_request& request, process_handles& handles) {
  const bool redirect_input = request.input.has_value();
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup.StartupInfo);
  DWORD flags = window_flags(request.show_window, startup.StartupInfo);

  const bool launch_protected = (request.inherit_handles || redirect_input) && running_as_protected_light();
  if (launch_protected) require_protected_signing_level(request.command_line);

  input_pipe pipe;
  if (redirect_input) {
    pipe = make_input_pipe(request.input->size());
    startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = pipe.read.get();
  }

  // A pipe reaches the child only through inheritance; without inherited handles, the child
  // inherits the pipe's end and nothing else.
  const bool limit_inheritance = redirect_input && !request.inherit_handles;
  HANDLE inherited[] = {pipe.read.get()};
  DWORD protection = PROTECTION_LEVEL_SAME;
  std::optional<attribute_list> attributes;
  if (launch_protected || limit_inheritance) {
    attributes.emplace(static_cast<DWORD>(launch_protected) + static_cast<DWORD>(limit_inheritance),
                       request.command_line);
    if (launch_protected) {
      attributes->add(PROC_THREAD_ATTRIBUTE_PROTECTION_LEVEL, &protection, sizeof(protection), request.command_line);
      flags |= CREATE_PROTECTED_PROCESS;
    }
    if (limit_inheritance) {
      attributes->add(PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof(inherited), request.command_line);
    }
    startup.StartupInfo.cb = sizeof(startup);
    startup.lpAttributeList = attributes->get();
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }

  std::wstring writable = request.command_line;
  PROCESS_INFORMATION created{};
  if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, request.inherit_handles || redirect_input, flags,
                        nullptr, nullptr, &startup.StartupInfo, &created)) {
    raise_create_failure(::GetLastError(), request.command_line);
  }
  take_handles(created, handles);

  pipe.read.reset();
  if (redirect_input) {
    write_input(pipe.write.get(), *request.input);
    pipe.write.reset();  // the child reads the end of its input
  }
  if (request.timeout_ms == 0) return still_active;
  return wait_for_exit(handles.process.get(), request.timeout_ms, request.command_line);
}

process_handles process_wrapper::start_as_user(HANDLE token, const std::wstring& command_line, bool show_window,
                                               bool suspended, bool break_away_from_job) {
  HANDLE duplicate = nullptr;
  if (!::DuplicateTokenEx(token, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary, &duplicate)) {
    const DWORD code = ::GetLastError();
    VYN_LOG_ERROR("DuplicateTokenEx failed for '{}', error {}", to_log(command_line), code);
    throw error(code, "Unable to duplicate the access token!");
  }
  const win::unique_handle primary(duplicate);

  environment_block environment;
  if (!::CreateEnvironmentBlock(&environment.block, primary.get(), FALSE)) {
    const DWORD code = ::GetLastError();
    VYN_LOG_ERROR("CreateEnvironmentBlock failed for '{}', error {}", to_log(command_line), code);
    throw error(code, "Unable to retrieve environment of the user!");
  }

  wchar_t desktop[] = L"WinSta0\\Default";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.lpDesktop = desktop;
  DWORD flags = CREATE_UNICODE_ENVIRONMENT | window_flags(show_window, startup);
  if (suspended) flags |= CREATE_SUSPENDED;
  if (break_away_from_job) flags |= CREATE_BREAKAWAY_FROM_JOB;

  std::wstring writable = command_line;
  PROCESS_INFORMATION created{};
  if (!::CreateProcessAsUserW(primary.get(), nullptr, writable.data(), nullptr, nullptr, FALSE, flags,
                              environment.block, nullptr, &startup, &created)) {
    raise_create_failure(::GetLastError(), command_line);
  }
  process_handles handles;
  take_handles(created, handles);
  return handles;
}

std::uint32_t process_wrapper::wait(HANDLE process, std::uint32_t timeout_ms, HANDLE abort_event) {
  if (process == nullptr || process == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  const HANDLE objects[] = {process, abort_event};
  const DWORD count = abort_event ? 2 : 1;
  switch (::WaitForMultipleObjects(count, objects, FALSE, timeout_ms)) {
    case WAIT_OBJECT_0: {
      DWORD exit_code = 0;
      if (::GetExitCodeProcess(process, &exit_code)) return exit_code;
      const DWORD code = ::GetLastError();
      VYN_LOG_ERROR("Reading the exit code of process {:#x} failed, error {}", reinterpret_cast<std::uintptr_t>(process), code);
      return code;
    }
    case WAIT_OBJECT_0 + 1:
      return ERROR_OPERATION_ABORTED;
    case WAIT_TIMEOUT:
      return ERROR_TIMEOUT;
    default: {
      const DWORD code = ::GetLastError();
      VYN_LOG_ERROR("Waiting for process {:#x} failed, error {}", reinterpret_cast<std::uintptr_t>(process), code);
      return code;
    }
  }
}

}  // namespace vyn::systools
