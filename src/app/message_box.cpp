#include "app/message_box.h"

#include <windows.h>

#include <fmt/format.h>
#include <fmt/format.h>

#include "app/language_table.h"
#include "app/sfx_translator.h"
#include "foundation/strings.h"

namespace vyn::sfx {
namespace {

// Error icon, brought to the foreground: the installer has no window of its own by then.
constexpr UINT box_style = MB_ICONERROR | MB_SETFOREGROUND;

void show(const std::wstring& text, const std::vector<std::wstring>& arguments, std::int32_t code,
          const std::wstring& log_path) {
  const command_line cmd(::GetCommandLineW(), true);
  const auto box = compose_error_box(cmd, static_cast<std::int32_t>(::GetUserDefaultUILanguage()), code, log_path,
                                     text, arguments);
  if (box) ::MessageBoxW(nullptr, box->body.c_str(), box->caption.c_str(), box_style);
}

}  // namespace

std::optional<error_box> compose_error_box(const command_line& cmd, std::int32_t user_language, std::int32_t code,
                                           const std::wstring& log_path, const std::wstring& text,
                                           const std::vector<std::wstring>& arguments) {
  if (cmd.has(L"silent") || cmd.has(L"verysilent")) return std::nullopt;
  sfx_translator translator(choose_language(cmd, user_language));
  error_box box;
  box.caption = translator.translate(L"@Sfx_MsgBoxTitle");
  box.body = translator.format(text, arguments) +
             L"\n\n" + translator.translate(L"@Sfx_ErrCode") + L":'" + utils::to_wide(fmt::format("{}", code)) +
             L"'.\n\n" + translator.translate(L"@Sfx_LogInfo") + L":\n'" + log_path + L"'.";
  return box;
}

void show_error(std::int32_t code, const std::wstring& log_path, const std::wstring& text) {
  show(text, {}, code, log_path);
}

void show_download_error(std::int32_t code, const std::wstring& log_path, const std::wstring& code_text) {
  show(L"@Sfx_Download_Fail", {code_text}, code, log_path);
}

}  // namespace vyn::sfx
