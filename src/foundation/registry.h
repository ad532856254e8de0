#pragma once
// Registry access with typed failures. Keys are held by win::unique_hkey; values are read whole
// and checked against the type asked for.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/exceptions.h"
#include "foundation/handle.h"

namespace vyn::registry {

// Base of every registry failure; carries the system error code.
class registry_error : public exceptions::error {
 public:
  using exceptions::error::error;
};

// ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND: a key or value that is not there.
class key_not_exists : public registry_error {
 public:
  explicit key_not_exists(std::uint32_t code)
      : registry_error(code, "Cannot open registry key, it does not exists") {}
};

// ERROR_ACCESS_DENIED.
class insufficient_permissions : public registry_error {
 public:
  explicit insufficient_permissions(std::uint32_t code)
      : registry_error(code, "Dont have sufficient permissions to execute registry operation") {}
};

// ERROR_KEY_DELETED.
class deleted_key : public registry_error {
 public:
  explicit deleted_key(std::uint32_t code)
      : registry_error(code,
                       "Attempt to execute operation on opened key which is scheduled for deletion") {}
};

// A value of another type than asked for (code ERROR_UNSUPPORTED_TYPE).
class bad_type_queried : public registry_error {
 public:
  explicit bad_type_queried(std::uint32_t code)
      : registry_error(code, "Querying registry value, but queried different type than expected") {}
};

// Raises the failure type that the status names (table above), or registry_error with the
// status and message.
[[noreturn]] void raise(LSTATUS status, const char* message);

// Opens root\path with the access asked for (add KEY_WOW64_64KEY / KEY_WOW64_32KEY to pick a
// view). Failure: "Cannot open registry key" or the typed failure of its code.
win::unique_hkey open_key(HKEY root, std::wstring_view path, REGSAM access);
// Opens or creates root\path. When creating is refused with ERROR_ACCESS_DENIED, it is tried once
// more with the backup-restore option. Failure: "Cannot create registry key".
win::unique_hkey create_key(HKEY root, std::wstring_view path, REGSAM access);
// Deletes root\path with all its subkeys. Failure: "Cannot delete registry key".
void delete_key(HKEY root, std::wstring_view path, REGSAM view = 0);

// RegQueryValueExW's contract for one value: type out, data (null to ask for the size only) and
// its size in bytes in and out. Every read below goes through one, so a test can hand in a value
// that misbehaves.
using value_query = std::function<LSTATUS(DWORD* type, BYTE* data, DWORD* size)>;
value_query query_of(HKEY key, std::wstring_view name);

// A value whose size changes between the size query and the data query is read again, at most
// this many times in all.
inline constexpr int max_read_attempts = 8;

// The whole value, which must be of the expected type. Failures: "Cannot query registry value
// size", "Cannot query registry value data", "Cannot query registry data due to value changed too
// often", bad_type_queried, and the typed failures of their codes.
// The name only labels log lines.
std::vector<std::uint8_t> read_value(const value_query& query, DWORD expected_type,
                                     std::wstring_view name = {});
// REG_SZ, up to its first NUL.
std::wstring read_string(const value_query& query, std::wstring_view name = {});
// REG_EXPAND_SZ with environment variables expanded ("String environment expansion failed").
std::wstring read_expand_string(const value_query& query, std::wstring_view name = {});
// REG_DWORD of exactly 4 bytes.
std::uint32_t read_dword(const value_query& query, std::wstring_view name = {});
// REG_BINARY.
std::vector<std::uint8_t> read_binary(const value_query& query, std::wstring_view name = {});

std::wstring read_string(HKEY key, std::wstring_view name);
std::wstring read_expand_string(HKEY key, std::wstring_view name);
std::uint32_t read_dword(HKEY key, std::wstring_view name);
std::vector<std::uint8_t> read_binary(HKEY key, std::wstring_view name);

// True when the value exists (of any type). Failure: "Cannot query registry value".
bool value_exists(HKEY key, std::wstring_view name);

// Writes (creating or replacing) a value. Failure: "Cannot set registry value".
void write_string(HKEY key, std::wstring_view name, std::wstring_view value);
void write_expand_string(HKEY key, std::wstring_view name, std::wstring_view value);
void write_dword(HKEY key, std::wstring_view name, std::uint32_t value);
void write_binary(HKEY key, std::wstring_view name, std::span<const std::uint8_t> value);
// Failure: "Cannot delete registry value".
void delete_value(HKEY key, std::wstring_view name);

// Names of the direct subkeys / values. Failure: "Cannot enumerate registry key".
std::vector<std::wstring> subkey_names(HKEY key);
std::vector<std::wstring> value_names(HKEY key);

}  // namespace vyn::registry
