#include "foundation/product_identity.h"

#include <windows.h>

#include "foundation/exceptions.h"
#include "foundation/known_folders.h"
#include "foundation/lifetime.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/registry.h"
#include "foundation/strings.h"
#include "foundation/version_resource.h"

namespace vyn::root {
namespace {

HMODULE own_module() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&own_module), &module);
  return module ? module : ::GetModuleHandleW(nullptr);
}

// A missing "ModuleId" is no error, and neither is an image without a version resource here:
// the mandatory "ProductId" read reports that.
std::wstring optional_module_id(HMODULE module) {
  try {
    return read_module_version_string(module, L"ModuleId", true);
  } catch (const exceptions::error& e) {
    VYN_LOG_WARNING("No module identifier: {}", e.message());
    return {};
  }
}

std::wstring own_module_id() {
  HMODULE host = ::GetModuleHandleW(nullptr);
  if (::GetProcAddress(host, "on_orvek_dll_unload")) {
    std::wstring id = optional_module_id(host);
    if (!id.empty()) return id;
  }
  return optional_module_id(own_module());
}

std::wstring own_product_id() {
  try {
    return read_module_version_string(own_module(), L"ProductId", false);
  } catch (const exceptions::detail::base& e) {
    VYN_LOG_FATAL("Product identifier unreadable: {}", e.message());
    throw exceptions::fatal(e.code(), e.message());
  }
}

constinit lifetime::lifetime_object<brand_record> brand_holder(lifetime::longevity::brand_record);
constinit lifetime::lifetime_object<std::wstring> data_folder_holder(lifetime::longevity::caches);

bool read_enabled(const brand_record& record, registry::CRegistryWrapper& keys) {
  if (always_enabled(record.kind)) return true;
  const std::wstring path = persistent_storage_path(record);
  try {
    return keys.read_dword(HKEY_LOCAL_MACHINE, path, enabled_value_name, 0) != 0;
  } catch (const registry::registry_error& e) {
    VYN_LOG_DEBUG("No {} under '{}': {}", utils::to_log(enabled_value_name), utils::to_log(path),
                  e.message());
    return false;
  }
}

std::wstring company_key(const brand_record& record, std::wstring_view leaf) {
  return files::join_path(files::join_path(L"SYSTEM\\Software", record.company_name), leaf);
}

}  // namespace

std::wstring persistent_storage_path(const brand_record& record) {
  return company_key(record, L"PersistentStorage");
}

brand_record make_brand_record(std::wstring_view product_id, std::wstring_view module_id,
                               registry::CRegistryWrapper& keys) {
  brand_record record = classify_product(product_id, module_id);
  record.enabled = read_enabled(record, keys) ? 1 : 0;
  return record;
}

const brand_record& brand() {
  return brand_holder.get([] {
    const std::wstring module_id = own_module_id();
    const std::wstring product_id = own_product_id();
    const auto keys = registry::make_registry_wrapper();
    brand_record made = make_brand_record(product_id, module_id, *keys);
    VYN_LOG_INFO("Brand {} from product '{}', module '{}', enabled {}",
                 static_cast<std::uint32_t>(made.kind), utils::to_log(made.product_id),
                 utils::to_log(made.module_id), made.enabled);
    return made;
  });
}

std::wstring data_folder_for(const brand_record& record, registry::CRegistryWrapper& keys,
                             std::wstring_view common_app_data) {
  const std::wstring key = company_key(record, L"Kestro");
  try {
    std::wstring folder = keys.read_string(HKEY_LOCAL_MACHINE, key, L"OverrideDataFolder", 0);
    if (!folder.empty()) return folder;
  } catch (const exceptions::detail::base&) {
    // no override: the default folder
  }
  return files::join_path(files::join_path(common_app_data, record.company_name), L"Kestro");
}

std::wstring company_folder() {
  return files::join_path(files::known_folder_path(files::known_folder::common_app_data),
                          brand().company_name);
}

const std::wstring& data_folder() {
  return data_folder_holder.get([] {
    const auto keys = registry::make_registry_wrapper();
    return data_folder_for(brand(), *keys, files::known_folder_path(files::known_folder::common_app_data));
  });
}

std::wstring logs_folder() { return files::join_path(data_folder(), L"Logs"); }

std::wstring setup_info_path(std::wstring_view folder) {
  return files::join_path(folder, L"kestro-info.xml");
}

}  // namespace vyn::root
