#include "net/identity_testing.h"

#include <fmt/xchar.h>

#include "foundation/exceptions.h"
#include "foundation/random.h"
#include "foundation/registry.h"
#include "net/md5.h"

namespace vyn::mi::testing {
namespace {

// Every operation goes to the real registry under the sandbox's key.
class sandbox_registry final : public registry::CRegistryWrapper {
 public:
  explicit sandbox_registry(registry_sandbox& sandbox) : sandbox_(sandbox), real_(registry::make_registry_wrapper()) {}

  using name = std::wstring_view;
  bool key_exists(HKEY r, name p, REGSAM v) override { return real_->key_exists(cu, at(r, p), v); }
  void create_key(HKEY r, name p, REGSAM v) override { real_->create_key(cu, change(r, p), v); }
  void delete_key(HKEY r, name p, REGSAM v) override { real_->delete_key(cu, change(r, p), v); }
  bool value_exists(HKEY r, name p, name n, REGSAM v) override { return real_->value_exists(cu, at(r, p), n, v); }
  void delete_value(HKEY r, name p, name n, REGSAM v) override { real_->delete_value(cu, change(r, p), n, v); }
  std::wstring read_string(HKEY r, name p, name n, REGSAM v) override { return real_->read_string(cu, at(r, p), n, v); }
  std::wstring read_expand_string(HKEY r, name p, name n, REGSAM v) override {
    return real_->read_expand_string(cu, at(r, p), n, v);
  }
  std::uint32_t read_dword(HKEY r, name p, name n, REGSAM v) override { return real_->read_dword(cu, at(r, p), n, v); }
  std::vector<std::uint8_t> read_binary(HKEY r, name p, name n, REGSAM v) override {
    return real_->read_binary(cu, at(r, p), n, v);
  }
  void write_string(HKEY r, name p, name n, name value, REGSAM v) override {
    real_->write_string(cu, change(r, p), n, value, v);
  }
  void write_expand_string(HKEY r, name p, name n, name value, REGSAM v) override {
    real_->write_expand_string(cu, change(r, p), n, value, v);
  }
  void write_dword(HKEY r, name p, name n, std::uint32_t value, REGSAM v) override {
    real_->write_dword(cu, change(r, p), n, value, v);
  }
  void write_binary(HKEY r, name p, name n, std::span<const std::uint8_t> value, REGSAM v) override {
    real_->write_binary(cu, change(r, p), n, value, v);
  }
  std::vector<std::wstring> subkey_names(HKEY r, name p, REGSAM v) override { return real_->subkey_names(cu, at(r, p), v); }
  std::vector<std::wstring> value_names(HKEY r, name p, REGSAM v) override { return real_->value_names(cu, at(r, p), v); }

 private:
  static inline const HKEY cu = HKEY_CURRENT_USER;

  std::wstring at(HKEY root, std::wstring_view path) {
    if (sandbox_.failing.contains(root)) throw registry::insufficient_permissions(ERROR_ACCESS_DENIED);
    return sandbox_.path_of(root, path);
  }
  std::wstring change(HKEY root, std::wstring_view path) {
    if (sandbox_.read_only.contains(root)) throw registry::insufficient_permissions(ERROR_ACCESS_DENIED);
    return at(root, path);
  }

  registry_sandbox& sandbox_;
  std::unique_ptr<registry::CRegistryWrapper> real_;
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

std::vector<std::uint8_t> table_midex::get(int mode, std::size_t length, source_items* out) {
  if (broken) throw exceptions::error(NTE_BAD_ALGID, "Failed to get midex");
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

}  // namespace vyn::mi::testing
