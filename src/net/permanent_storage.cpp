#include "net/permanent_storage.h"

#include <cstring>
#include <optional>
#include <vector>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/registry.h"
#include "foundation/strings.h"

namespace vyn::mi {
namespace {

constexpr std::uint32_t invalid_parameter = 87;

void check_names(std::wstring_view k1, std::wstring_view k2, std::wstring_view n) {
  if (k1.empty() || k2.empty() || n.empty()) {
    VYN_LOG_ERROR("PSK contains null");
    throw exceptions::error(invalid_parameter, "PSK contains null");
  }
}

struct failure {
  std::uint32_t code;
  std::string message;
};

std::optional<std::wstring> non_empty(std::wstring text) {
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

std::unique_ptr<files::CFilesWrapper> permanent_storage::create_files_wrapper() {
  return files::make_files_wrapper();
}

std::unique_ptr<registry::CRegistryWrapper> permanent_storage::create_registry_wrapper() {
  return registry::make_registry_wrapper();
}

files::CFilesWrapper& permanent_storage::files() {
  std::call_once(files_once_, [this] { files_ = create_files_wrapper(); });
  return *files_;
}

registry::CRegistryWrapper& permanent_storage::keys() {
  std::call_once(keys_once_, [this] { keys_ = create_registry_wrapper(); });
  return *keys_;
}

std::wstring permanent_storage::file_path(std::wstring_view n) {
  const std::wstring folder = files().expand_environment(L"%TMP%");
  // Without the variable the text stays as it was; a relative "%TMP%\..." path would land in
  // whatever the current folder is.
  if (folder.find(L'%') != std::wstring::npos) {
    throw exceptions::error(ERROR_ENVVAR_NOT_FOUND, "Unable to expand %TMP% environment variable!");
  }
  return folder + L"\\" + std::wstring(n);
}

void permanent_storage::write(std::wstring_view k1, std::wstring_view k2, std::wstring_view n,
                              std::wstring_view datum) {
  check_names(k1, k2, n);
  std::optional<failure> last;
  bool stored = false;
  try {
    keys().write_string(HKEY_LOCAL_MACHINE, machine_storage_key, k1, datum, 0);
    stored = true;
  } catch (const exceptions::detail::base& e) {
    VYN_LOG_WARNING("Store data to HKLM failed.");
    last = failure{e.code(), "Permanent storage - failed to store data to HKLM."};
  }
  try {
    keys().write_string(HKEY_CLASSES_ROOT, classes_storage_key, k2, datum, 0);
    stored = true;
  } catch (const exceptions::detail::base& e) {
    VYN_LOG_WARNING("Store data to HKCU failed.");
    last = failure{e.code(), "Permanent storage - failed to store data to HKCU."};
  }
  try {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(datum.data());
    files().set_file_content(file_path(n), std::span(bytes, datum.size() * sizeof(wchar_t)), true);
    stored = true;
  } catch (const exceptions::detail::base& e) {
    VYN_LOG_EXC(log::level::warning, e, "Store data to file failed.");
    last = failure{e.code(), e.message()};
  }
  if (!stored) {
    VYN_LOG_ERROR("Permanent storage - no place took the datum: {}", last->message);
    throw exceptions::error(last->code, last->message);
  }
}

std::wstring permanent_storage::read_copy(std::wstring_view k1, std::wstring_view k2, std::wstring_view n) {
  try {
    if (auto value = non_empty(keys().read_string(HKEY_LOCAL_MACHINE, machine_storage_key, k1, 0))) return *value;
  } catch (const exceptions::detail::base&) {
  }
  try {
    if (auto value = non_empty(keys().read_string(HKEY_CLASSES_ROOT, classes_storage_key, k2, 0))) return *value;
  } catch (const exceptions::detail::base&) {
  }
  try {
    const std::vector<std::uint8_t> bytes = files().get_file_content(file_path(n));
    if (bytes.size() % sizeof(wchar_t) != 0) return {};
    std::wstring value(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(value.data(), bytes.data(), bytes.size());
    return value;
  } catch (const exceptions::detail::base&) {
  }
  return {};
}

std::wstring permanent_storage::read(std::wstring_view k1, std::wstring_view k2, std::wstring_view n,
                                     std::wstring_view fallback) {
  check_names(k1, k2, n);
  std::wstring value = read_copy(k1, k2, n);
  if (value.empty()) return std::wstring(fallback);
  // A copy that was found is the datum even when no place takes the repair.
  try {
    write(k1, k2, n, value);
  } catch (const exceptions::detail::base& e) {
    VYN_LOG_EXC(log::level::warning, e, "Permanent storage - failed to restore the copies.");
  }
  return value;
}

}  // namespace vyn::mi
