#include <cstddef>
#include <cstring>
#include <vector>

#include <fmt/format.h>
#include <fmt/format.h>

#include "foundation/log_file.h"
#include "foundation/random.h"
#include "foundation/strings.h"

namespace vyn::log::detail {
namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The rename request takes a native path: "\??\C:\..." or "\??\UNC\server\share\...". Names
// already in the "\\?\" form only change their prefix.
std::wstring native_path(const std::wstring& path) {
  if (path.starts_with(LR"(\\?\)")) return LR"(\??\)" + path.substr(4);
  if (path.starts_with(LR"(\\)")) return LR"(\??\UNC\)" + path.substr(2);
  return LR"(\??\)" + path;
}

// Some file systems report the name a handle was opened with even after another handle renamed
// the file; renaming through such a stale name would move whichever file has that name now.
bool still_named(HANDLE file, const std::wstring& name) {
  const win::unique_handle named(::CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  BY_HANDLE_FILE_INFORMATION ours{}, theirs{};
  return named && ::GetFileInformationByHandle(file, &ours) &&
         ::GetFileInformationByHandle(named.get(), &theirs) &&
         ours.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
         ours.nFileIndexHigh == theirs.nFileIndexHigh && ours.nFileIndexLow == theirs.nFileIndexLow;
}

void delete_at_restart(const std::wstring& path) noexcept {
  ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void delete_on_close_or_at_restart(HANDLE file, const std::wstring& path) noexcept {
  if (!delete_on_close(file)) delete_at_restart(path);
}

std::wstring random_suffix_name(const std::wstring& name, const wchar_t* kind) {
  return name + L"." + kind + utils::to_wide(fmt::format(".{:016x}", utils::random_u64()));
}

// The previous generation is still open elsewhere or cannot be replaced: it is renamed out of the
// way and deleted, and the rotated file takes its name.
void replace_previous_generation(HANDLE file, const std::wstring& rotated, const std::wstring& old,
                                 const std::wstring& name) {
  win::unique_handle previous(::CreateFileW(old.c_str(), DELETE, share_all, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!previous) {
    delete_on_close_or_at_restart(file, rotated);
    return;
  }
  const std::wstring doomed = random_suffix_name(name, L"to_delete");
  const bool moved = rename_by_handle(previous.get(), doomed, true);
  delete_on_close_or_at_restart(previous.get(), moved ? doomed : old);
  previous.reset();
  if (!rename_by_handle(file, old, true)) delete_on_close_or_at_restart(file, rotated);
}

}  // namespace

bool is_log_name(std::wstring_view name) noexcept {
  return name.size() >= 4 && utils::iequals(name.substr(name.size() - 4), L".log");
}

bool rename_by_handle(HANDLE file, const std::wstring& target, bool replace) noexcept {
  try {
    const std::wstring native = native_path(target);
    const std::size_t name_bytes = native.size() * sizeof(wchar_t);
    const std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(wchar_t);
    // Zeroed, pointer-aligned storage (a buffer of long double may keep garbage in its padding).
    std::vector<std::uint64_t> buffer(size / sizeof(std::uint64_t) + 1);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(info->FileName, native.data(), name_bytes);
    return ::SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(size)) != FALSE;
  } catch (...) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
}

bool delete_on_close(HANDLE file) noexcept {
  FILE_DISPOSITION_INFO disposition{TRUE};
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof(disposition)) != FALSE;
}

std::wstring file_name_of(HANDLE file) {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(file, name.data(), static_cast<DWORD>(name.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    if (length < name.size()) {
      name.resize(length);
      return name;
    }
    name.resize(length);  // the size needed, terminating NUL included
  }
}

void rotate_log_file(HANDLE file) noexcept {
  try {
    const std::wstring name = file_name_of(file);
    if (!is_log_name(name) || !still_named(file, name)) return;
    const std::wstring rotated = random_suffix_name(name, L"to_rotate");
    if (!rename_by_handle(file, rotated, true)) return;
    const std::wstring old = name + L".old";
    if (rename_by_handle(file, old, true)) return;
    replace_previous_generation(file, rotated, old, name);
  } catch (...) {
    // Out of memory: the file keeps growing under whatever name it has.
  }
}

}  // namespace vyn::log::detail
