#pragma once
// Folders: creation with an access-restricting security descriptor, the user's temporary
// folder, unique temporary names, and the guard that lets a 32-bit process see the native
// system folder.

#include <windows.h>

#include <string>
#include <string_view>

namespace vyn::files {

// Creates the folder and any missing parent. Each folder created gets the security descriptor
// given in SDDL form (revision 1); when it cannot be built, or none is given, default security
// applies. Returns false when the folder already existed. Failure: "Unable to create directory
// '{}'!" (also when the path names a file).
bool create_directory(std::wstring_view path, const wchar_t* sddl = nullptr);

// Applies the owner, group and DACL of an SDDL descriptor (revision 1) to an existing file or
// folder; a protected DACL ("D:P") stops inheritance from the parent. A reparse point (a junction
// or symbolic link) in the path's place is refused, never followed. Failures: "Unable to convert
// security descriptor '{}'!", "Refusing to apply a security descriptor through the reparse point
// '{}'!" (code 4395) and "Unable to apply security descriptor to '{}'!".
void set_security(std::wstring_view path, const wchar_t* sddl);

// The user's temporary folder, without a trailing backslash: %TMP%, else %TEMP%, else the
// Windows folder's drive followed by "\Temp". It is created when missing and must be writable.
// Failures: "Unable to expand %TMP% environment variable!", "Unable to expand %TEMP% environment
// variable!", "Unable to retrieve the system drive letter!", "Unable to create directory '{}'!",
// "Unable to open directory '{}' for writing!".
std::wstring temp_folder();

// "<folder>\<prefix><16 hex digits>.<extension>" with a fresh random number, repeated until no
// file or folder of that name exists. Nothing is created.
std::wstring unique_temp_name(std::wstring_view folder, std::wstring_view prefix,
                              std::wstring_view extension);

// While alive, file-system redirection of a 32-bit process on a 64-bit system is switched off,
// so the process sees the native system folder. Does nothing where the system has no
// redirection (32-bit systems, 64-bit processes, systems without the routines).
class fs_redirection_auto {
 public:
  fs_redirection_auto() noexcept;
  ~fs_redirection_auto();
  fs_redirection_auto(const fs_redirection_auto&) = delete;
  fs_redirection_auto& operator=(const fs_redirection_auto&) = delete;

  // True when redirection was switched off and will be restored.
  bool active() const noexcept { return active_; }

 private:
  void* previous_ = nullptr;
  bool active_ = false;
};

}  // namespace vyn::files
