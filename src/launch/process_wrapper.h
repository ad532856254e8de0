#pragma once
// Starts programs and waits for them. Failures to start, feed, wait for or query a child raise
// vyn::exceptions::error with the system error code; a child still running when a finite time-out
// expires is not a failure (the result is then 259, STILL_ACTIVE).

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "foundation/handle.h"

namespace vyn::systools {

inline constexpr std::uint32_t still_active = 259;       // STILL_ACTIVE
inline constexpr std::uint32_t infinite_wait = INFINITE;  // 0xFFFFFFFF

// A started child: its process and thread handles (owned) and ids.
struct process_handles {
  win::unique_handle process;
  win::unique_handle thread;
  DWORD process_id = 0;
  DWORD thread_id = 0;

  void close() noexcept {
    process.reset();
    thread.reset();
    process_id = 0;
    thread_id = 0;
  }
};

class process_wrapper_intf {
 public:
  // Starts the command line (its first token is the executable) and waits up to timeout_ms
  // (0: not at all). Returns the exit code, or 259 while the child still runs. The child's
  // handles go to handles, which the caller closes.
  virtual std::uint32_t run(const std::wstring& command_line, bool show_window, bool inherit_handles,
                            std::uint32_t timeout_ms, process_handles& handles) = 0;
  // As run, without inheriting the caller's handles; input is written to the child's standard
  // input, which then ends.
  virtual std::uint32_t run_with_input(const std::wstring& command_line, const std::string& input,
                                       bool show_window, std::uint32_t timeout_ms,
                                       process_handles& handles) = 0;
  // As run without inherited handles; the child's handles are closed before returning.
  virtual std::uint32_t run_and_wait(const std::wstring& command_line, bool show_window,
                                     std::uint32_t timeout_ms) = 0;
  // Starts the command line under the user's token on the interactive desktop with the user's
  // environment, without waiting; the caller owns the returned handles.
  virtual process_handles start_as_user(HANDLE token, const std::wstring& command_line, bool show_window,
                                        bool suspended, bool break_away_from_job) = 0;
  // Waits up to timeout_ms for the process, or until abort_event (may be null) is set. Never
  // raises: returns the exit code, 995 when the abort event came first, 1460 on time-out, 6 for
  // an empty process handle, or the system error code when waiting or reading the code fails.
  virtual std::uint32_t wait(HANDLE process, std::uint32_t timeout_ms, HANDLE abort_event) = 0;
  virtual ~process_wrapper_intf() = default;
};

class process_wrapper : public process_wrapper_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::shared_ptr<process_wrapper_intf> create_process_wrapper() = 0;
  };

  std::uint32_t run(const std::wstring& command_line, bool show_window, bool inherit_handles,
                    std::uint32_t timeout_ms, process_handles& handles) override;
  std::uint32_t run_with_input(const std::wstring& command_line, const std::string& input, bool show_window,
                               std::uint32_t timeout_ms, process_handles& handles) override;
  std::uint32_t run_and_wait(const std::wstring& command_line, bool show_window, std::uint32_t timeout_ms) override;
  process_handles start_as_user(HANDLE token, const std::wstring& command_line, bool show_window, bool suspended,
                                bool break_away_from_job) override;
  std::uint32_t wait(HANDLE process, std::uint32_t timeout_ms, HANDLE abort_event) override;

 protected:
  // One start of a child by run and run_with_input.
  struct start_request {
    std::wstring command_line;
    std::optional<std::string> input;  // written to the child's standard input when present
    bool show_window = true;
    bool inherit_handles = false;
    std::uint32_t timeout_ms = infinite_wait;
  };

  std::uint32_t execute(const start_request& request, process_handles& handles);

  // True when this process runs as a protected process light (Windows 10 and later only).
  virtual bool running_as_protected_light();
  // The signing level the system has cached for the open file, having it cached first when the
  // system holds none; nothing when no level can be read (also before Windows 8).
  virtual std::optional<std::uint32_t> cached_signing_level(HANDLE file);

 private:
  void require_protected_signing_level(const std::wstring& command_line);
};

}  // namespace vyn::systools
