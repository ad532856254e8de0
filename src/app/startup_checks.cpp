#include "app/startup_checks.h"

#include <fmt/format.h>

namespace vyn::sfx {
namespace {

constexpr std::uint16_t suite_wh_server = 0x8000;
constexpr std::uint8_t workstation = 1;

std::wstring_view trim_blanks(std::wstring_view text) noexcept {
  const std::size_t first = text.find_first_not_of(L" \t");
  if (first == std::wstring_view::npos) return {};
  return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

std::string version_name(const os_version& v, bool server_r2) {
  const bool ws = v.product_type == workstation;
  if (v.major == 5 && v.minor == 0) return "Windows 2000";
  if (v.major == 5 && v.minor == 1) return "Windows XP";
  if (v.major == 5 && v.minor == 2) {
    if (ws) return "Windows XP";
    if (v.suite_mask & suite_wh_server) return "Windows Home Server";
    return server_r2 ? "Windows Server 2003 R2" : "Windows Server 2003";
  }
  if (v.major == 6 && v.minor <= 3) {
    static constexpr const char* workstations[] = {"Windows Vista", "Windows 7", "Windows 8", "Windows 8.1"};
    static constexpr const char* servers[] = {"Windows Server 2008", "Windows Server 2008 R2",
                                              "Windows Server 2012", "Windows Server 2012 R2"};
    return ws ? workstations[v.minor] : servers[v.minor];
  }
  if (v.major == 10) {
    const char* name = ws ? "Windows 10" : v.build >= 17763 ? "Windows Server 2019" : "Windows Server 2016";
    return fmt::format("{} (10.0.{})", name, v.build);
  }
  return fmt::format("Windows {}.{}.{}", v.major, v.minor, v.build);
}

}  // namespace

bool is_supported_os(std::uint32_t major, std::uint32_t minor, std::uint16_t service_pack_major) noexcept {
  if (major != 6) return major > 6;
  if (minor != 1) return minor > 1;
  return service_pack_major >= 1;
}

std::string describe_os(const os_version& version, bool server_r2, std::string_view platform) {
  std::string text = version_name(version, server_r2);
  if (version.service_pack_major != 0) text += fmt::format(" SP{}", version.service_pack_major);
  text += ' ';
  text += platform;
  return text;
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
