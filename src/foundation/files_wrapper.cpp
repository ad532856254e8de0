#include "foundation/files_wrapper.h"

#include "foundation/directories.h"

namespace vyn::files {
namespace {

class system_files final : public CFilesWrapper {
 public:
  std::vector<std::uint8_t> get_file_content(std::wstring_view path) override {
    return files::get_file_content(path);
  }
  void set_file_content(std::wstring_view path, std::span<const std::uint8_t> bytes,
                        bool overwrite) override {
    files::set_file_content(path, bytes, overwrite);
  }
  bool file_exists(std::wstring_view path) override { return files::file_exists(path); }
  bool directory_exists(std::wstring_view path) override { return files::directory_exists(path); }
  bool create_directory(std::wstring_view path, const wchar_t* sddl) override {
    return files::create_directory(path, sddl);
  }
  void delete_file(std::wstring_view path) override { files::delete_file(path); }
  std::uint64_t file_size(std::wstring_view path) override { return files::file_size(path); }
  std::uint64_t file_write_time(std::wstring_view path) override {
    return files::file_write_time(path);
  }
  void enumerate_directory(std::wstring_view path,
                           const std::function<bool(const directory_entry&)>& visit) override {
    files::enumerate_directory(path, visit);
  }
  std::uint64_t free_disk_space(std::wstring_view path) override {
    return files::free_disk_space(path);
  }
  std::wstring expand_environment(std::wstring_view text) override {
    return files::expand_environment(text);
  }
  std::wstring temp_folder() override { return files::temp_folder(); }
  std::wstring unique_temp_name(std::wstring_view folder, std::wstring_view prefix,
                                std::wstring_view extension) override {
    return files::unique_temp_name(folder, prefix, extension);
  }
  std::wstring known_folder_path(known_folder folder) override {
    return files::known_folder_path(folder);
  }
  std::wstring file_version_string(std::wstring_view path, std::wstring_view name) override {
    return files::file_version_string(path, name);
  }
};

}  // namespace

std::unique_ptr<CFilesWrapper> make_files_wrapper() { return std::make_unique<system_files>(); }

}  // namespace vyn::files
