#include "foundation/registry_wrapper.h"

#include "foundation/registry.h"

namespace vyn::registry {
namespace {

class system_registry final : public CRegistryWrapper {
 public:
  bool key_exists(HKEY root, std::wstring_view path, REGSAM view) override {
    try {
      open_key(root, path, KEY_QUERY_VALUE | view);
      return true;
    } catch (const key_not_exists&) {
      return false;
    }
  }
  void create_key(HKEY root, std::wstring_view path, REGSAM view) override {
    registry::create_key(root, path, KEY_QUERY_VALUE | view);
  }
  void delete_key(HKEY root, std::wstring_view path, REGSAM view) override {
    registry::delete_key(root, path, view);
  }
  bool value_exists(HKEY root, std::wstring_view path, std::wstring_view name,
                    REGSAM view) override {
    try {
      return registry::value_exists(reader(root, path, view).get(), name);
    } catch (const key_not_exists&) {
      return false;
    }
  }
  void delete_value(HKEY root, std::wstring_view path, std::wstring_view name,
                    REGSAM view) override {
    registry::delete_value(open_key(root, path, KEY_SET_VALUE | view).get(), name);
  }
  std::wstring read_string(HKEY root, std::wstring_view path, std::wstring_view name,
                           REGSAM view) override {
    return registry::read_string(reader(root, path, view).get(), name);
  }
  std::wstring read_expand_string(HKEY root, std::wstring_view path, std::wstring_view name,
                                  REGSAM view) override {
    return registry::read_expand_string(reader(root, path, view).get(), name);
  }
  std::uint32_t read_dword(HKEY root, std::wstring_view path, std::wstring_view name,
                           REGSAM view) override {
    return registry::read_dword(reader(root, path, view).get(), name);
  }
  std::vector<std::uint8_t> read_binary(HKEY root, std::wstring_view path,
                                        std::wstring_view name, REGSAM view) override {
    return registry::read_binary(reader(root, path, view).get(), name);
  }
  void write_string(HKEY root, std::wstring_view path, std::wstring_view name,
                    std::wstring_view value, REGSAM view) override {
    registry::write_string(writer(root, path, view).get(), name, value);
  }
  void write_expand_string(HKEY root, std::wstring_view path, std::wstring_view name,
                           std::wstring_view value, REGSAM view) override {
    registry::write_expand_string(writer(root, path, view).get(), name, value);
  }
  void write_dword(HKEY root, std::wstring_view path, std::wstring_view name, std::uint32_t value,
                   REGSAM view) override {
    registry::write_dword(writer(root, path, view).get(), name, value);
  }
  void write_binary(HKEY root, std::wstring_view path, std::wstring_view name,
                    std::span<const std::uint8_t> value, REGSAM view) override {
    registry::write_binary(writer(root, path, view).get(), name, value);
  }
  std::vector<std::wstring> subkey_names(HKEY root, std::wstring_view path, REGSAM view) override {
    return registry::subkey_names(open_key(root, path, KEY_ENUMERATE_SUB_KEYS | view).get());
  }
  std::vector<std::wstring> value_names(HKEY root, std::wstring_view path, REGSAM view) override {
    return registry::value_names(open_key(root, path, KEY_QUERY_VALUE | view).get());
  }

 private:
  static win::unique_hkey reader(HKEY root, std::wstring_view path, REGSAM view) {
    return open_key(root, path, KEY_QUERY_VALUE | view);
  }
  static win::unique_hkey writer(HKEY root, std::wstring_view path, REGSAM view) {
    return registry::create_key(root, path, KEY_SET_VALUE | view);
  }
};

}  // namespace

std::unique_ptr<CRegistryWrapper> make_registry_wrapper() {
  return std::make_unique<system_registry>();
}

}  // namespace vyn::registry
