#pragma once
// The error message box of a failed run: a localised text, the error code and the log file's
// path. Nothing is shown when the command line has "silent" or "verysilent".

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace vyn::sfx {

// text is a message identifier ("@Sfx_...") or a message shown as it is.
void show_error(std::int32_t code, const std::wstring& log_path, const std::wstring& text);

// The download failure text with code_text filled in.
void show_download_error(std::int32_t code, const std::wstring& log_path, const std::wstring& code_text);

struct error_box {
  std::wstring caption;
  std::wstring body;
};

// What the box shows for the process command line cmd (program name first) and the user's
// default language: nothing for a silent run; otherwise the translated caption and the text
// (formatted with arguments) followed by the error code and the log path.
std::optional<error_box> compose_error_box(const command_line& cmd, std::int32_t user_language, std::int32_t code,
                                           const std::wstring& log_path, const std::wstring& text,
                                           const std::vector<std::wstring>& arguments);

}  // namespace vyn::sfx
