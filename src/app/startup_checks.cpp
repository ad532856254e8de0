#include "app/startup_checks.h"

namespace vyn::sfx {
namespace {

std::wstring_view trim_blanks(std::wstring_view text) noexcept {
  const std::size_t first = text.find_first_not_of(L" \t");
  if (first == std::wstring_view::npos) return {};
  return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

}  // namespace

bool is_supported_os(std::uint32_t major, std::uint32_t minor, std::uint16_t service_pack_major) noexcept {
  if (major != 6) return major > 6;
  if (minor != 1) return minor > 1;
  return service_pack_major >= 1;
}

bool is_session_id_text(std::wstring_view text) noexcept {
  const std::wstring_view id = trim_blanks(text);
  return id.size() == 36 && id[8] == L'-' && id[13] == L'-' && id[18] == L'-' && id[23] == L'-';
}

std::wstring choose_session_id(command_line& cmd, const std::function<std::wstring()>& new_uuid) {
  std::wstring session_id;
  for (const wchar_t* name : {L"track-guid", L"ga_clientid"}) {
    const auto value = cmd.find(name);
    if (!value) continue;
    if (is_session_id_text(*value)) {
      session_id = trim_blanks(*value);
    } else {
      cmd.remove(name);
    }
  }
  return session_id.empty() ? new_uuid() : session_id;
}

}  // namespace vyn::sfx
