#pragma once
// The decisions the entry point takes before a run starts, kept apart from the system calls that
// supply their inputs: which operating systems are supported, which integrity level suffices and
// which session identifier the run reports under.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/command_line.h"
#include "foundation/os_info.h"

namespace vyn::sfx {

// The running system's version as the native version query reports it.
using os_version = os::version_record;

// Windows 7 with service pack 1, or anything later.
bool is_supported_os(std::uint32_t major, std::uint32_t minor, std::uint16_t service_pack_major) noexcept;

// The process needs the high mandatory level (the manifest asks for administrator rights).
inline constexpr std::uint32_t high_integrity_level = 0x3000;

constexpr bool has_sufficient_integrity(std::uint32_t level) noexcept {
  return level >= high_integrity_level;
}

// 36 characters after trimming blanks and tabs, with "-" at positions 8, 13, 18 and 23.
bool is_session_id_text(std::wstring_view text) noexcept;

// The session identifier of the run: a well-formed "ga_clientid", else a well-formed
// "track-guid", else a new random UUID from new_uuid. A malformed one of these switches is
// removed from cmd so that it is not passed on.
std::wstring choose_session_id(command_line& cmd, const std::function<std::wstring()>& new_uuid);

}  // namespace vyn::sfx
