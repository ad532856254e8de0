#include "foundation/known_folders.h"

#include <shlobj.h>

#include <vector>

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/os_info.h"
#include "foundation/registry.h"

namespace vyn::files {
namespace {

constexpr std::wstring_view shell_folders =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr std::wstring_view current_version = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// One place to look for a folder; exactly one of the three is set.
struct lookup {
  int csidl = -1;
  HKEY root = nullptr;
  std::wstring_view key, value;
  std::wstring_view variable;
};

lookup from_shell(int csidl) { return {csidl, nullptr, {}, {}, {}}; }
lookup from_registry(HKEY root, std::wstring_view key, std::wstring_view value) {
  return {-1, root, key, value, {}};
}
lookup from_environment(std::wstring_view variable) { return {-1, nullptr, {}, {}, variable}; }

// Native and 32-bit program folders. On a 32-bit system both are the one program folder; a
// 32-bit process on a 64-bit system must not ask its shell or environment for the native one,
// which they answer with the 32-bit folder.
std::vector<lookup> program_lookups(bool native, bool common, bool is_64bit_process, bool wow64) {
  const bool system_64bit = is_64bit_process || wow64;
  const std::wstring_view dir = common ? L"CommonFilesDir" : L"ProgramFilesDir";
  if (native || !system_64bit) {
    const std::wstring_view variable = common ? L"CommonProgramFiles" : L"ProgramFiles";
    const std::wstring_view variable_6432 = common ? L"CommonProgramW6432" : L"ProgramW6432";
    if (wow64) return {from_registry(HKEY_LOCAL_MACHINE, current_version, dir), from_environment(variable_6432)};
    return {from_shell(common ? CSIDL_PROGRAM_FILES_COMMON : CSIDL_PROGRAM_FILES),
            from_registry(HKEY_LOCAL_MACHINE, current_version, dir), from_environment(variable)};
  }
  return {from_shell(common ? CSIDL_PROGRAM_FILES_COMMONX86 : CSIDL_PROGRAM_FILESX86),
          from_registry(HKEY_LOCAL_MACHINE, current_version,
                        common ? L"CommonFilesDir (x86)" : L"ProgramFilesDir (x86)"),
          from_environment(common ? L"CommonProgramFiles(x86)" : L"ProgramFiles(x86)")};
}

std::vector<lookup> lookups(known_folder folder, bool is_64bit_process, bool wow64) {
  switch (folder) {
    case known_folder::common_app_data:
      return {from_shell(CSIDL_COMMON_APPDATA),
              from_registry(HKEY_LOCAL_MACHINE, shell_folders, L"Common AppData"),
              from_environment(L"ProgramData")};
    case known_folder::app_data:
      return {from_shell(CSIDL_APPDATA), from_registry(HKEY_CURRENT_USER, shell_folders, L"AppData"),
              from_environment(L"APPDATA")};
    case known_folder::local_app_data:
      return {from_shell(CSIDL_LOCAL_APPDATA),
              from_registry(HKEY_CURRENT_USER, shell_folders, L"Local AppData"),
              from_environment(L"LOCALAPPDATA")};
    case known_folder::program_files:
      return program_lookups(true, false, is_64bit_process, wow64);
    case known_folder::program_files_x86:
      return program_lookups(false, false, is_64bit_process, wow64);
    case known_folder::common_files:
      return program_lookups(true, true, is_64bit_process, wow64);
    case known_folder::common_files_x86:
      return program_lookups(false, true, is_64bit_process, wow64);
  }
  return {};
}

class system_sources final : public known_folder_sources {
 public:
  std::optional<std::wstring> shell(int csidl) const override {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) || !*path) {
      return std::nullopt;
    }
    return std::wstring(path);
  }

  std::optional<std::wstring> registry(HKEY root, std::wstring_view path, std::wstring_view value,
                                       REGSAM view) const override {
    try {
      const auto key = registry::open_key(root, path, KEY_QUERY_VALUE | view);
      std::wstring text;
      try {
        text = registry::read_string(key.get(), value);
      } catch (const registry::bad_type_queried&) {
        text = registry::read_expand_string(key.get(), value);
      }
      if (!text.empty()) return text;
    } catch (const registry::registry_error&) {
      // the next source decides
    }
    return std::nullopt;
  }

  std::optional<std::wstring> environment(std::wstring_view name) const override {
    const std::wstring variable(name);
    std::wstring value(MAX_PATH, L'\0');
    for (;;) {
      const DWORD length =
          ::GetEnvironmentVariableW(variable.c_str(), value.data(), static_cast<DWORD>(value.size()));
      if (length == 0) return std::nullopt;
      if (length < value.size()) {
        value.resize(length);
        return value;
      }
      value.resize(length);
    }
  }
};

}  // namespace

const char* known_folder_name(known_folder folder) {
  switch (folder) {
    case known_folder::common_app_data: return "common_app_data";
    case known_folder::app_data: return "app_data";
    case known_folder::local_app_data: return "local_app_data";
    case known_folder::program_files: return "program_files";
    case known_folder::program_files_x86: return "program_files_x86";
    case known_folder::common_files: return "common_files";
    case known_folder::common_files_x86: return "common_files_x86";
  }
  return "unknown";
}

const known_folder_sources& system_known_folder_sources() {
  static const system_sources sources;
  return sources;
}

std::wstring resolve_known_folder(known_folder folder, const known_folder_sources& sources,
                                  bool is_64bit_process, bool wow64) {
  for (const lookup& where : lookups(folder, is_64bit_process, wow64)) {
    std::optional<std::wstring> path;
    if (where.csidl >= 0) {
      path = sources.shell(where.csidl);
    } else if (where.root) {
      path = sources.registry(where.root, where.key, where.value, KEY_WOW64_64KEY);
    } else {
      path = sources.environment(where.variable);
    }
    if (path && !path->empty()) return *path;
  }
  VYN_LOG_ERROR("No source knows the folder {}", known_folder_name(folder));
  throw exceptions::error(
      ERROR_PATH_NOT_FOUND,
      fmt::format("Unable to retrieve a path of the known folder ({})!", known_folder_name(folder)));
}

std::wstring known_folder_path(known_folder folder) {
  constexpr bool is_64bit_process = sizeof(void*) == 8;
  const os::platform native = os::current().native;
  const bool system_64bit =
      native == os::platform::x64 || native == os::platform::arm64 || native == os::platform::ia64;
  return resolve_known_folder(folder, system_known_folder_sources(), is_64bit_process,
                              !is_64bit_process && system_64bit);
}

}  // namespace vyn::files
