#pragma once
// The file operations as an interface, for components that are tested with a fake file system
// (permanent storage, device identity). A component that needs files implements
// CFilesWrapper::Factory; its production create_files_wrapper() returns make_files_wrapper().
// Each operation behaves and fails as the function of the same name in files.h,
// directories.h or known_folders.h.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/files.h"
#include "foundation/known_folders.h"

namespace vyn::files {

class CFilesWrapper {
 public:
  class Factory {
   public:
    virtual ~Factory() = default;
    virtual std::unique_ptr<CFilesWrapper> create_files_wrapper() = 0;
  };

  virtual ~CFilesWrapper() = default;

  virtual std::vector<std::uint8_t> get_file_content(std::wstring_view path) = 0;
  virtual void set_file_content(std::wstring_view path, std::span<const std::uint8_t> bytes,
                                bool overwrite) = 0;
  virtual bool file_exists(std::wstring_view path) = 0;
  virtual bool directory_exists(std::wstring_view path) = 0;
  // Returns false when the folder existed; sddl may be null.
  virtual bool create_directory(std::wstring_view path, const wchar_t* sddl) = 0;
  virtual void delete_file(std::wstring_view path) = 0;
  virtual std::uint64_t file_size(std::wstring_view path) = 0;
  virtual std::uint64_t file_write_time(std::wstring_view path) = 0;
  virtual void enumerate_directory(std::wstring_view path,
                                   const std::function<bool(const directory_entry&)>& visit) = 0;
  virtual std::uint64_t free_disk_space(std::wstring_view path) = 0;
  virtual std::wstring expand_environment(std::wstring_view text) = 0;
  virtual std::wstring temp_folder() = 0;
  virtual std::wstring unique_temp_name(std::wstring_view folder, std::wstring_view prefix,
                                        std::wstring_view extension) = 0;
  virtual std::wstring known_folder_path(known_folder folder) = 0;
  virtual std::wstring file_version_string(std::wstring_view path, std::wstring_view name) = 0;
};

// The wrapper over the real file system.
std::unique_ptr<CFilesWrapper> make_files_wrapper();

}  // namespace vyn::files
