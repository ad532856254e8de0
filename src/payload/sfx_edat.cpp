#include "payload/sfx_edat.h"

#include <exception>
#include <string>

#include "foundation/directories.h"
#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/strings.h"
#include "payload/payload.h"
#include "setup/setup_file_name.h"

namespace vyn::sfx {
namespace {

using utils::to_log;

constexpr wchar_t edat_marker[] = L".edat";

// The folder that will hold destination exists afterwards; the system error code when it could
// not be made.
std::uint32_t make_folder_of(const std::wstring& destination) {
  const std::size_t slash = destination.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return 0;
  const std::wstring folder = destination.substr(0, slash);
  if (files::directory_exists(folder)) return 0;
  try {
    files::create_directory(folder);
    return 0;
  } catch (const vyn::exceptions::detail::base& e) {
    return e.code();
  }
}

}  // namespace

void sfx_edat::unpack_edat_files() {
  try {
    const std::wstring temp = context_.values->get(L"tmp-path", L"");
    // Without a temporary folder the files would land in the root of the current drive.
    if (temp.empty() || !context_.payload) return;
    for (const std::wstring& alias : context_.payload->aliases()) {
      if (utils::ifind(alias, edat_marker) == std::wstring::npos) continue;
      VYN_LOG_DEBUG("Unpacking EDAT ({})", to_log(alias));
      const auto record = context_.payload->find_by_alias(alias);
      if (!record) {
        VYN_LOG_DEBUG("EDAT not in payload ({})", to_log(alias));
        continue;
      }
      // The installer runs elevated: whatever the payload says, nothing lands outside the folder.
      if (!stays_in_folder(alias)) {
        VYN_LOG_ERROR("EDAT alias '{}' does not stay inside the temporary folder, skip", to_log(alias));
        continue;
      }
      const std::wstring destination = files::join_path(temp, alias);
      if (const std::uint32_t code = make_folder_of(destination); code != 0) {
        VYN_LOG_ERROR("Create EDAT directory '{}' fail {} ({}), skip",
                      to_log(destination.substr(0, destination.find_last_of(L"\\/"))), code, to_log(alias));
        continue;
      }
      record->unpack_to_file(destination);
    }
  } catch (const std::exception& e) {
    VYN_LOG_EXC(log::level::error, e, "Unpacking EDAT end with exception.");
  }
}

}  // namespace vyn::sfx
