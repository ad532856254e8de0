#pragma once
// The error message box of a failed run: a localised text, the error code and the log file's
// path. Nothing is shown when the command line has "silent" or "verysilent".

#include <cstdint>
#include <string>

namespace vyn::sfx {

// text is a message identifier ("@Sfx_...") or a message shown as it is.
void show_error(std::int32_t code, const std::wstring& log_path, const std::wstring& text);

// The download failure text with code_text filled in.
void show_download_error(std::int32_t code, const std::wstring& log_path, const std::wstring& code_text);

}  // namespace vyn::sfx
