#include "app/system_info.h"

#include <windows.h>

#include <tlhelp32.h>

#include "foundation/exceptions.h"
#include "foundation/handle.h"
#include "foundation/log.h"
#include "foundation/processes.h"
#include "foundation/strings.h"

namespace vyn::sfx::system_info {
namespace {

using error = vyn::exceptions::error;

}  // namespace

std::uint32_t process_integrity_level() noexcept {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return 0;
  const win::unique_handle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size);
  if (size < sizeof(TOKEN_MANDATORY_LABEL)) return 0;
  std::vector<std::uint8_t> buffer(size);
  if (!::GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.data(), size, &size)) return 0;
  const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data())->Label.Sid;
  if (!sid || !::IsValidSid(sid)) return 0;
  const UCHAR count = *::GetSidSubAuthorityCount(sid);
  if (count == 0) return 0;
  return *::GetSidSubAuthority(sid, count - 1u);
}

parent_process query_parent_process() {
  const win::unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) throw error(::GetLastError(), "Unable to list processes");
  const DWORD self = ::GetCurrentProcessId();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == self) {
      const std::uint32_t parent = entry.th32ParentProcessID;
      return {parent, os::process_image_path(parent)};
    }
  }
  throw error(ERROR_NOT_FOUND, "The process is not in the process list");
}

}  // namespace vyn::sfx::system_info
