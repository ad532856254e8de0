#pragma once
// Starts the setup master and waits for it; after an abnormal end, waits for the crash reporter
// that the setup side starts, so that the temporary folder outlives it.

#include <cstdint>
#include <memory>
#include <string>

namespace vyn::sfx {

class secure_process_launcher_intf {
 public:
  // Starts executable with the argument text and waits up to timeout_ms (0xFFFFFFFF: no limit).
  // Returns the process's exit code (259 when it still runs after the time-out). Raises when the
  // process cannot be started or waited for.
  virtual std::uint32_t run(const std::wstring& executable, const std::wstring& arguments,
                            std::uint32_t timeout_ms) = 0;
  // Waits for a running "bug_report.exe" started from folder.
  virtual void wait_for_bug_report(const std::wstring& folder) = 0;
  virtual ~secure_process_launcher_intf() = default;
};

class secure_process_launcher : public secure_process_launcher_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::shared_ptr<secure_process_launcher_intf> create_secure_process_launcher() = 0;
  };
};

}  // namespace vyn::sfx
