#pragma once
// The system's well-known folders. Each is taken from the shell first, then from the registry
// ("Shell Folders" and "CurrentVersion" values), then from the environment, so that a damaged
// profile or a missing shell still yields the folder.
//
// Program files and common files come in both views: `program_files` is the native folder
// ("C:\Program Files" on 64-bit and 32-bit systems alike) and `program_files_x86` the folder of
// 32-bit programs ("C:\Program Files (x86)" on 64-bit systems, the same as the native one on
// 32-bit systems), whatever the bitness of this process. Whether the process runs under 32-bit
// emulation is derived from vyn::os::current(), so tests can replace it.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace vyn::files {

enum class known_folder {
  common_app_data,
  app_data,
  local_app_data,
  program_files,
  program_files_x86,
  common_files,
  common_files_x86,
};

// "common_app_data", "app_data", ...
const char* known_folder_name(known_folder folder);

// Where a folder path can come from. The system one asks the shell, the registry and the
// environment; tests answer from tables.
class known_folder_sources {
 public:
  virtual ~known_folder_sources() = default;
  // SHGetFolderPathW for the CSIDL; nothing when the shell has no path.
  virtual std::optional<std::wstring> shell(int csidl) const = 0;
  // A string value of root\path; view is KEY_WOW64_64KEY or 0.
  virtual std::optional<std::wstring> registry(HKEY root, std::wstring_view path,
                                               std::wstring_view value, REGSAM view) const = 0;
  // An environment variable; nothing when it is not set or empty.
  virtual std::optional<std::wstring> environment(std::wstring_view name) const = 0;
};

const known_folder_sources& system_known_folder_sources();

// The folder's path from the first source that has one. is_64bit_process tells how this program
// was built and wow64 whether it runs as a 32-bit process on a 64-bit system. Failure:
// "Unable to retrieve a path of the known folder ({})!" with the folder's name.
std::wstring resolve_known_folder(known_folder folder, const known_folder_sources& sources,
                                  bool is_64bit_process, bool wow64);

// resolve_known_folder with the system's sources and this process's facts.
std::wstring known_folder_path(known_folder folder);

}  // namespace vyn::files
