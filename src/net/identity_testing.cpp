#include "net/identity_testing.h"

#include <fmt/xchar.h>

#include "foundation/random.h"
#include "foundation/registry.h"
#include "net/md5.h"

namespace vyn::mi::testing {
namespace {

class sandbox_registry final : public registry::CRegistryWrapper {
 public:
  sandbox_registry(registry_sandbox& sandbox) : sandbox_(sandbox), real_(registry::make_registry_wrapper()) {}

  bool key_exists(HKEY root, std::wstring_view path, REGSAM view) override {
    return real_->key_exists(HKEY_CURRENT_USER, at(root, path), view);
  }
  void create_key(HKEY root, std::wstring_view path, REGSAM view) override {
    real_->create_key(HKEY_CURRENT_USER, changing(root, path), view);
  }
  void delete_key(HKEY root, std::wstring_view path, REGSAM view) override {
    real_->delete_key(HKEY_CURRENT_USER, changing(root, path), view);
  }
  bool value_exists(HKEY root, std::wstring_view path, std::wstring_view name, REGSAM view) override {
    return real_->value_exists(HKEY_CURRENT_USER, at(root, path), name, view);
  }
  void delete_value(HKEY root, std::wstring_view path, std::wstring_view name, REGSAM view) override {
    real_->delete_value(HKEY_CURRENT_USER, changing(root, path), name, view);
  }
  std::wstring read_string(HKEY root, std::wstring_view path, std::wstring_view name, REGSAM view) override {
    return real_->read_string(HKEY_CURRENT_USER, at(root, path), name, view);
  }
  std::wstring read_expand_string(HKEY root, std::wstring_view path, std::wstring_view name, REGSAM view) override {
    return real_->read_expand_string(HKEY_CURRENT_USER, at(root, path), name, view);
  }
  std::uint32_t read_dword(HKEY root, std::wstring_view path, std::wstring_view name, REGSAM view) override {
    return real_->read_dword(HKEY_CURRENT_USER, at(root, path), name, view);
  }
  std::vector<std::uint8_t> read_binary(HKEY root, std::wstring_view path, std::wstring_view name,
                                        REGSAM view) override {
    return real_->read_binary(HKEY_CURRENT_USER, at(root, path), name, view);
  }
  void write_string(HKEY root, std::wstring_view path, std::wstring_view name, std::wstring_view value,
                    REGSAM view) override {
    real_->write_string(HKEY_CURRENT_USER, changing(root, path), name, value, view);
  }
  void write_expand_string(HKEY root, std::wstring_view path, std::wstring_view name, std::wstring_view value,
                           REGSAM view) override {
    real_->write_expand_string(HKEY_CURRENT_USER, changing(root, path), name, value, view);
  }
  void write_dword(HKEY root, std::wstring_view path, std::wstring_view name, std::uint32_t value,
                   REGSAM view) override {
    real_->write_dword(HKEY_CURRENT_USER, changing(root, path), name, value, view);
  }
  void write_binary(HKEY root, std::wstring_view path, std::wstring_view name, std::span<const std::uint8_t> value,
                    REGSAM view) override {
    real_->write_binary(HKEY_CURRENT_USER, changing(root, path), name, value, view);
  }
  std::vector<std::wstring> subkey_names(HKEY root, std::wstring_view path, REGSAM view) override {
    return real_->subkey_names(HKEY_CURRENT_USER, at(root, path), view);
  }
  std::vector<std::wstring> value_names(HKEY root, std::wstring_view path, REGSAM view) override {
    return real_->value_names(HKEY_CURRENT_USER, at(root, path), view);
  }

 private:
  std::wstring at(HKEY root, std::wstring_view path) {
    if (sandbox_.failing.contains(root)) throw registry::insufficient_permissions(ERROR_ACCESS_DENIED);
    return sandbox_.path_of(root, path);
  }

  std::wstring changing(HKEY root, std::wstring_view path) {
    if (sandbox_.read_only.contains(root)) throw registry::insufficient_permissions(ERROR_ACCESS_DENIED);
    return at(root, path);
  }

  registry_sandbox& sandbox_;
  std::unique_ptr<registry::CRegistryWrapper> real_;
};

class common_app_data_files final : public files::CFilesWrapper {
 public:
  explicit common_app_data_files(std::wstring folder) : folder_(std::move(folder)), real_(files::make_files_wrapper()) {}

  std::vector<std::uint8_t> get_file_content(std::wstring_view path) override { return real_->get_file_content(path); }
  void set_file_content(std::wstring_view path, std::span<const std::uint8_t> bytes, bool overwrite) override {
    real_->set_file_content(path, bytes, overwrite);
  }
  bool file_exists(std::wstring_view path) override { return real_->file_exists(path); }
  bool directory_exists(std::wstring_view path) override { return real_->directory_exists(path); }
  bool create_directory(std::wstring_view path, const wchar_t* sddl) override {
    return real_->create_directory(path, sddl);
  }
  void delete_file(std::wstring_view path) override { real_->delete_file(path); }
  std::uint64_t file_size(std::wstring_view path) override { return real_->file_size(path); }
  std::uint64_t file_write_time(std::wstring_view path) override { return real_->file_write_time(path); }
  void enumerate_directory(std::wstring_view path,
                           const std::function<bool(const files::directory_entry&)>& visit) override {
    real_->enumerate_directory(path, visit);
  }
  std::uint64_t free_disk_space(std::wstring_view path) override { return real_->free_disk_space(path); }
  std::wstring expand_environment(std::wstring_view text) override { return real_->expand_environment(text); }
  std::wstring temp_folder() override { return real_->temp_folder(); }
  std::wstring unique_temp_name(std::wstring_view folder, std::wstring_view prefix,
                                std::wstring_view extension) override {
    return real_->unique_temp_name(folder, prefix, extension);
  }
  std::wstring known_folder_path(files::known_folder folder) override {
    return folder == files::known_folder::common_app_data ? folder_ : real_->known_folder_path(folder);
  }
  std::wstring file_version_string(std::wstring_view path, std::wstring_view name) override {
    return real_->file_version_string(path, name);
  }

 private:
  std::wstring folder_;
  std::unique_ptr<files::CFilesWrapper> real_;
};

const wchar_t* root_name(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return L"HKLM";
  if (root == HKEY_CLASSES_ROOT) return L"HKCR";
  if (root == HKEY_CURRENT_USER) return L"HKCU";
  return L"other";
}

}  // namespace

registry_sandbox::registry_sandbox()
    : base_(fmt::format(L"Software\\VynTests\\{:016x}", utils::random_u64())) {}

registry_sandbox::~registry_sandbox() {
  try {
    registry::delete_key(HKEY_CURRENT_USER, base_);
  } catch (const registry::registry_error&) {
    // Nothing was written.
  }
  ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\VynTests");  // fails while other tests use it
}

std::wstring registry_sandbox::path_of(HKEY root, std::wstring_view path) const {
  return base_ + L"\\" + root_name(root) + L"\\" + std::wstring(path);
}

std::unique_ptr<registry::CRegistryWrapper> registry_sandbox::wrapper() {
  return std::make_unique<sandbox_registry>(*this);
}

std::unique_ptr<files::CFilesWrapper> files_with_common_app_data(std::wstring folder) {
  return std::make_unique<common_app_data_files>(std::move(folder));
}

std::vector<std::uint8_t> table_midex::get(int mode, std::size_t length, source_items* out) {
  ++calls;
  if (out) *out = items;
  if (mode == 1) return std::vector<std::uint8_t>(length, 0x5A);
  const md5_digest digest = md5(serialise_source_items(items));
  return {digest.begin(), digest.end()};
}

std::unique_ptr<permanent_storage_intf> sandboxed_identity::create_permanent_storage() {
  return std::make_unique<sandboxed_storage>(sandbox_);
}

std::unique_ptr<midex_intf> sandboxed_identity::create_midex() {
  struct borrowed : midex_intf {
    explicit borrowed(table_midex& m) : machine(m) {}
    std::vector<std::uint8_t> get(int mode, std::size_t length, source_items* out) override {
      return machine.get(mode, length, out);
    }
    table_midex& machine;
  };
  return std::make_unique<borrowed>(machine_);
}

std::unique_ptr<files::CFilesWrapper> sandboxed_identity::create_files_wrapper() {
  return files_with_common_app_data(common_app_data_);
}

}  // namespace vyn::mi::testing
