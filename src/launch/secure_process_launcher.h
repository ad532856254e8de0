#pragma once
// Starts the setup master and waits for it; after an abnormal end, waits for the crash reporter
// that the setup side starts, so that the temporary folder outlives it.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "launch/process_wrapper.h"

namespace vyn::sfx {

class secure_process_launcher_intf {
 public:
  // Starts executable with the argument text and waits up to timeout_ms (0xFFFFFFFF: no limit).
  // Returns the process's exit code (259 when it still runs after the time-out). Raises when the
  // process cannot be started or waited for.
  virtual std::uint32_t run(const std::wstring& executable, const std::wstring& arguments,
                            std::uint32_t timeout_ms) = 0;
  // Waits, for at most about 30 seconds, while a "bug_report.exe" started from folder runs.
  // Raises when the running processes cannot be listed.
  virtual void wait_for_bug_report(const std::wstring& folder) = 0;
  virtual ~secure_process_launcher_intf() = default;
};

// Runs the child visible, with inherited handles and, when the installer itself runs as a
// protected process light, with the same protection. Holds nothing but its timing settings.
class secure_process_launcher : public secure_process_launcher_intf, public systools::process_wrapper::factory {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::shared_ptr<secure_process_launcher_intf> create_secure_process_launcher() = 0;
  };

  secure_process_launcher() = default;

  std::uint32_t run(const std::wstring& executable, const std::wstring& arguments, std::uint32_t timeout_ms) override;
  void wait_for_bug_report(const std::wstring& folder) override;
  std::shared_ptr<systools::process_wrapper_intf> create_process_wrapper() override;

 protected:
  // How long the crash reporter is waited for at most, and how often the processes are listed.
  secure_process_launcher(std::chrono::milliseconds bug_report_limit, std::chrono::milliseconds poll_interval)
      : bug_report_limit_(bug_report_limit), poll_interval_(poll_interval) {}

 private:
  std::chrono::milliseconds bug_report_limit_{30000};
  std::chrono::milliseconds poll_interval_{1000};
};

}  // namespace vyn::sfx
