#pragma once
// The run's shared settings store (keys such as "session-id", "lang-id", "tmp-path").

#include <cstdint>
#include <string>

namespace vyn::sfx {

class value_holder_intf {
 public:
  virtual ~value_holder_intf() = default;
  // Every set inserts only when the key is absent: the first write wins.
  virtual void set(const wchar_t* key, const std::wstring& value) = 0;
  virtual void set(const wchar_t* key, const wchar_t* value) = 0;
  virtual void set_bool(const wchar_t* key, bool value) = 0;
  virtual void set_int(const wchar_t* key, std::int32_t value) = 0;
  // Each get returns the default when the key is absent.
  virtual std::wstring get(const wchar_t* key, const wchar_t* default_value) const = 0;
  virtual bool get_bool(const wchar_t* key, bool default_value) const = 0;
  virtual std::int32_t get_int(const wchar_t* key, std::int32_t default_value) const = 0;
};

}  // namespace vyn::sfx
