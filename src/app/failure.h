#pragma once
// What a failure that ends the run turns into: the process exit code, the message the user sees
// and what reporting learns about it.

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace vyn::sfx {

struct failure_outcome {
  enum class message_kind {
    none,      // the failure is not shown (the dialog was answered by the user)
    error,     // show_error with text
    download,  // show_download_error with text as the code argument
  };

  std::uint32_t exit_code = 0;
  message_kind kind = message_kind::none;
  std::wstring text;                       // a message identifier ("@...") or the message itself
  std::int32_t shown_code = 0;             // the code the message box names
  std::optional<std::string> crash_message;  // handed to reporting before the message is shown
};

// An exception's UTF-8 message as wide text; should it not be UTF-8, its ASCII part with '?' for
// the other bytes, so that something readable always comes out.
std::wstring message_text(const char* message);

// Maps an exception that reached the entry point to its outcome, logging what the log must hold
// about it. Never throws.
failure_outcome describe_failure(const std::exception_ptr& failure) noexcept;

}  // namespace vyn::sfx
