#pragma once
// The start-up sequence of the stub: proxy settings, reporting, session identifier, log, the
// checks of the system and the process, then the run itself. Every failure that ends the run is
// turned into an exit code here (see exit_codes.h), shown to the user and reported.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/failure.h"
#include "app/sfx_process.h"
#include "app/startup_checks.h"
#include "app/system_info.h"
#include "net/sfx_proxy_parser.h"
#include "net/sfx_reporting.h"

namespace vyn::sfx {

// What the start-up sequence takes from the process and the system, and the components it
// creates. The stub's own host reads the facts from Windows; tests bring their own.
class entry_host : public sfx_proxy_parser::factory, public sfx_reporting::factory, public sfx_process::factory {
 public:
  // The process command line, program name first.
  virtual std::wstring process_command_line() = 0;
  // Full path of the running executable.
  virtual std::wstring process_path() = 0;
  // Creates the log folders and opens the log file; reads the OS information once.
  virtual void prepare_log_file() = 0;
  // The log file's path as the error message names it; empty while there is no log file.
  virtual std::wstring log_file_path() = 0;
  virtual os_version system_version() = 0;
  // The system's name for the start-up log line.
  virtual std::string system_description() = 0;
  // Mandatory integrity level of the process token; 0 when unreadable.
  virtual std::uint32_t integrity_level() = 0;
  // Raises when the parent is gone or cannot be queried.
  virtual system_info::parent_process parent_process() = 0;
  // The values of the version resource's "MainProductId", one per translation.
  virtual std::vector<std::wstring> main_product_ids() = 0;
  // The executable's file version, "a.b.c.d".
  virtual std::wstring file_version() = 0;
  // The version resource's "SpecialBuild" text (a build that trusts the development keys says
  // so there); empty for a release.
  virtual std::wstring special_build() = 0;
  // A new random version-4 UUID text.
  virtual std::wstring new_session_id() = 0;
  // Tells the user about the failure that ended the run (the stub's own host: the localised
  // message box, none for a silent run).
  virtual void show_failure(const failure_outcome& outcome, const std::wstring& log_path) = 0;
};

// Runs the whole stub against host and returns the process exit code.
std::uint32_t run_entry_sequence(entry_host& host) noexcept;

// Runs the whole stub for this process and returns its exit code.
std::uint32_t entry_point(HINSTANCE instance) noexcept;

}  // namespace vyn::sfx
