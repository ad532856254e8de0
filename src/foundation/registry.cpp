#include "foundation/registry.h"

#include <cstring>

#include <fmt/format.h>

#include "foundation/log.h"
#include "foundation/strings.h"

namespace vyn::registry {
namespace {

bool is_not_found(LSTATUS status) {
  return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

// Logs the failure where it happened (missing keys and values are routine for callers that fall
// back to defaults, so they are logged at debug level only) and raises its type.
[[noreturn]] void fail(LSTATUS status, const char* message, std::wstring_view what) {
  if (is_not_found(status)) {
    VYN_LOG_DEBUG("{}: '{}' not found", message, utils::to_log(what));
  } else {
    VYN_LOG_ERROR("{}: '{}', error {}", message, utils::to_log(what), status);
  }
  raise(status, message);
}

std::wstring wide_from_bytes(const std::vector<std::uint8_t>& bytes) {
  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  if (!text.empty()) std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
  if (const auto nul = text.find(L'\0'); nul != std::wstring::npos) text.resize(nul);
  return text;
}

std::wstring expand(const std::wstring& text) {
  std::wstring expanded(text.size() + 1, L'\0');
  for (;;) {
    const DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(),
                                                     static_cast<DWORD>(expanded.size()));
    if (needed == 0) {
      const DWORD code = ::GetLastError();
      VYN_LOG_ERROR("ExpandEnvironmentStringsW failed for '{}', error {}", utils::to_log(text), code);
      throw registry_error(code, "String environment expansion failed");
    }
    if (needed <= expanded.size()) {
      expanded.resize(needed - 1);
      return expanded;
    }
    expanded.assign(needed, L'\0');
  }
}

void set_value(HKEY key, std::wstring_view name, DWORD type, const void* data, std::size_t size) {
  const std::wstring value_name(name);
  const LSTATUS status = ::RegSetValueExW(key, value_name.c_str(), 0, type,
                                          static_cast<const BYTE*>(data), static_cast<DWORD>(size));
  if (status != ERROR_SUCCESS) fail(status, "Cannot set registry value", name);
}

std::vector<std::wstring> names(HKEY key, bool subkeys) {
  std::vector<std::wstring> result;
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];  // the longest key or value name the registry allows, plus NUL
    DWORD length = static_cast<DWORD>(std::size(name));
    const LSTATUS status =
        subkeys ? ::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr)
                : ::RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return result;
    if (status != ERROR_SUCCESS) fail(status, "Cannot enumerate registry key", {});
    result.emplace_back(name, length);
  }
}

using delete_key_ex_fn = LSTATUS(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

// RegDeleteKeyExW (which honours the view flags) is missing on the oldest systems.
LSTATUS delete_single_key(HKEY parent, const std::wstring& name, REGSAM view) {
  static const auto delete_ex = reinterpret_cast<delete_key_ex_fn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
  return delete_ex ? delete_ex(parent, name.c_str(), view, 0) : ::RegDeleteKeyW(parent, name.c_str());
}

}  // namespace

void raise(LSTATUS status, const char* message) {
  const auto code = static_cast<std::uint32_t>(status);
  switch (status) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      throw key_not_exists(code);
    case ERROR_ACCESS_DENIED:
      throw insufficient_permissions(code);
    case ERROR_KEY_DELETED:
      throw deleted_key(code);
    case ERROR_UNSUPPORTED_TYPE:
      throw bad_type_queried(code);
    default:
      throw registry_error(code, message);
  }
}

win::unique_hkey open_key(HKEY root, std::wstring_view path, REGSAM access) {
  const std::wstring subkey(path);
  HKEY key = nullptr;
  const LSTATUS status = ::RegOpenKeyExW(root, subkey.c_str(), 0, access, &key);
  if (status != ERROR_SUCCESS) fail(status, "Cannot open registry key", path);
  return win::unique_hkey(key);
}

win::unique_hkey create_key(HKEY root, std::wstring_view path, REGSAM access) {
  const std::wstring subkey(path);
  HKEY key = nullptr;
  LSTATUS status = ::RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     access, nullptr, &key, nullptr);
  if (status == ERROR_ACCESS_DENIED) {
    status = ::RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, REG_OPTION_BACKUP_RESTORE, access,
                               nullptr, &key, nullptr);
  }
  if (status != ERROR_SUCCESS) fail(status, "Cannot create registry key", path);
  return win::unique_hkey(key);
}

void delete_key(HKEY root, std::wstring_view path, REGSAM view) {
  const win::unique_hkey key = open_key(root, path, KEY_READ | KEY_WRITE | DELETE | view);
  for (const auto& child : subkey_names(key.get())) {
    delete_key(key.get(), child, view);
  }
  const LSTATUS status = delete_single_key(root, std::wstring(path), view);
  if (status != ERROR_SUCCESS) fail(status, "Cannot delete registry key", path);
}

value_query query_of(HKEY key, std::wstring_view name) {
  return [key, value_name = std::wstring(name)](DWORD* type, BYTE* data, DWORD* size) {
    return ::RegQueryValueExW(key, value_name.c_str(), nullptr, type, data, size);
  };
}

std::vector<std::uint8_t> read_value(const value_query& query, DWORD expected_type,
                                     std::wstring_view name) {
  for (int attempt = 0; attempt < max_read_attempts; ++attempt) {
    DWORD type = REG_NONE, size = 0;
    LSTATUS status = query(&type, nullptr, &size);
    if (status != ERROR_SUCCESS) fail(status, "Cannot query registry value size", name);
    if (type != expected_type) fail(ERROR_UNSUPPORTED_TYPE, "Cannot query registry value", name);

    std::vector<std::uint8_t> data(size);
    DWORD read = size;
    status = query(&type, data.empty() ? nullptr : data.data(), &read);
    if (status == ERROR_MORE_DATA) continue;  // it grew after the size query
    if (status != ERROR_SUCCESS) fail(status, "Cannot query registry value data", name);
    if (type != expected_type) fail(ERROR_UNSUPPORTED_TYPE, "Cannot query registry value", name);
    if (read != size) continue;  // it shrank: read it again so the result is one whole value
    return data;
  }
  VYN_LOG_ERROR("Registry value '{}' changed size on each of {} reads", utils::to_log(name),
                max_read_attempts);
  throw registry_error(static_cast<std::uint32_t>(ERROR_MORE_DATA),
                       "Cannot query registry data due to value changed too often");
}

std::wstring read_string(const value_query& query, std::wstring_view name) {
  return wide_from_bytes(read_value(query, REG_SZ, name));
}

std::wstring read_expand_string(const value_query& query, std::wstring_view name) {
  return expand(wide_from_bytes(read_value(query, REG_EXPAND_SZ, name)));
}

std::uint32_t read_dword(const value_query& query, std::wstring_view name) {
  const auto bytes = read_value(query, REG_DWORD, name);
  if (bytes.size() != sizeof(std::uint32_t)) {
    fail(ERROR_UNSUPPORTED_TYPE, "Cannot query registry value", name);
  }
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::vector<std::uint8_t> read_binary(const value_query& query, std::wstring_view name) {
  return read_value(query, REG_BINARY, name);
}

std::wstring read_string(HKEY key, std::wstring_view name) {
  return read_string(query_of(key, name), name);
}

std::wstring read_expand_string(HKEY key, std::wstring_view name) {
  return read_expand_string(query_of(key, name), name);
}

std::uint32_t read_dword(HKEY key, std::wstring_view name) {
  return read_dword(query_of(key, name), name);
}

std::vector<std::uint8_t> read_binary(HKEY key, std::wstring_view name) {
  return read_binary(query_of(key, name), name);
}

bool value_exists(HKEY key, std::wstring_view name) {
  DWORD type = REG_NONE, size = 0;
  const LSTATUS status = query_of(key, name)(&type, nullptr, &size);
  if (is_not_found(status)) return false;
  if (status != ERROR_SUCCESS) fail(status, "Cannot query registry value", name);
  return true;
}

void write_string(HKEY key, std::wstring_view name, std::wstring_view value) {
  const std::wstring text(value);
  set_value(key, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

void write_expand_string(HKEY key, std::wstring_view name, std::wstring_view value) {
  const std::wstring text(value);
  set_value(key, name, REG_EXPAND_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

void write_dword(HKEY key, std::wstring_view name, std::uint32_t value) {
  const DWORD data = value;
  set_value(key, name, REG_DWORD, &data, sizeof(data));
}

void write_binary(HKEY key, std::wstring_view name, std::span<const std::uint8_t> value) {
  set_value(key, name, REG_BINARY, value.data(), value.size());
}

void delete_value(HKEY key, std::wstring_view name) {
  const std::wstring value_name(name);
  const LSTATUS status = ::RegDeleteValueW(key, value_name.c_str());
  if (status != ERROR_SUCCESS) fail(status, "Cannot delete registry value", name);
}

std::vector<std::wstring> subkey_names(HKEY key) { return names(key, true); }
std::vector<std::wstring> value_names(HKEY key) { return names(key, false); }

}  // namespace vyn::registry
