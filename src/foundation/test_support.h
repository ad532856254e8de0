#pragma once
// Helpers of the foundation's Windows tests: a private scratch folder per test, environment
// variables restored after a test, and Linux build paths as Wine sees them.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace vyn::testing_support {

// Deletes a folder with everything in it; a missing folder is fine.
void remove_tree(const std::wstring& path);

// A fresh folder under the system's temporary folder, removed with its content at the end.
class scratch_folder {
 public:
  scratch_folder();
  ~scratch_folder();
  scratch_folder(const scratch_folder&) = delete;
  scratch_folder& operator=(const scratch_folder&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring operator/(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }

 private:
  std::wstring path_;
};

// Sets (or with nullopt removes) an environment variable and restores it at the end.
class scoped_environment {
 public:
  scoped_environment(const wchar_t* name, std::optional<std::wstring> value);
  ~scoped_environment();
  scoped_environment(const scoped_environment&) = delete;
  scoped_environment& operator=(const scoped_environment&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> previous_;
};

// "/a/b" becomes "Z:\a\b" (Wine maps the Linux root to drive Z:); other text is unchanged.
std::wstring windows_path(std::string_view build_path);

}  // namespace vyn::testing_support
