#pragma once
// The registry operations as an interface, for components that are tested with a fake registry
// (brand, permanent storage, device identity). A component that needs the registry implements
// CRegistryWrapper::Factory; its production create_registry_wrapper() returns
// make_registry_wrapper().
//
// Every operation names its key by root and path and opens it for the call alone; `view` adds
// KEY_WOW64_64KEY or KEY_WOW64_32KEY to choose a registry view (0: the process's own). Reads and
// failures are those of registry.h: a missing key or value raises key_not_exists, a value of
// another type bad_type_queried.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vyn::registry {

class CRegistryWrapper {
 public:
  class Factory {
   public:
    virtual ~Factory() = default;
    virtual std::unique_ptr<CRegistryWrapper> create_registry_wrapper() = 0;
  };

  virtual ~CRegistryWrapper() = default;

  virtual bool key_exists(HKEY root, std::wstring_view path, REGSAM view) = 0;
  // Creates the key and missing parents; an existing key is left as it is.
  virtual void create_key(HKEY root, std::wstring_view path, REGSAM view) = 0;
  // Deletes the key with its subkeys.
  virtual void delete_key(HKEY root, std::wstring_view path, REGSAM view) = 0;
  virtual bool value_exists(HKEY root, std::wstring_view path, std::wstring_view name,
                            REGSAM view) = 0;
  virtual void delete_value(HKEY root, std::wstring_view path, std::wstring_view name,
                            REGSAM view) = 0;
  virtual std::wstring read_string(HKEY root, std::wstring_view path, std::wstring_view name,
                                   REGSAM view) = 0;
  virtual std::wstring read_expand_string(HKEY root, std::wstring_view path,
                                          std::wstring_view name, REGSAM view) = 0;
  virtual std::uint32_t read_dword(HKEY root, std::wstring_view path, std::wstring_view name,
                                   REGSAM view) = 0;
  virtual std::vector<std::uint8_t> read_binary(HKEY root, std::wstring_view path,
                                                std::wstring_view name, REGSAM view) = 0;
  // The writes create the key when it is missing.
  virtual void write_string(HKEY root, std::wstring_view path, std::wstring_view name,
                            std::wstring_view value, REGSAM view) = 0;
  virtual void write_expand_string(HKEY root, std::wstring_view path, std::wstring_view name,
                                   std::wstring_view value, REGSAM view) = 0;
  virtual void write_dword(HKEY root, std::wstring_view path, std::wstring_view name,
                           std::uint32_t value, REGSAM view) = 0;
  virtual void write_binary(HKEY root, std::wstring_view path, std::wstring_view name,
                            std::span<const std::uint8_t> value, REGSAM view) = 0;
  virtual std::vector<std::wstring> subkey_names(HKEY root, std::wstring_view path,
                                                 REGSAM view) = 0;
  virtual std::vector<std::wstring> value_names(HKEY root, std::wstring_view path,
                                                REGSAM view) = 0;
};

// The wrapper over the real registry.
std::unique_ptr<CRegistryWrapper> make_registry_wrapper();

}  // namespace vyn::registry
