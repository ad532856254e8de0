#pragma once
// The run's settings store. Values are kept as text whatever operation wrote them; the first
// write of a key wins, later writes of the same key are ignored.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/value_holder_intf.h"

namespace vyn::sfx {

class value_holder : public value_holder_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::shared_ptr<value_holder_intf> create_value_holder() = 0;
  };

  void set(const wchar_t* key, const std::wstring& value) override;
  void set(const wchar_t* key, const wchar_t* value) override;
  void set_bool(const wchar_t* key, bool value) override;
  void set_int(const wchar_t* key, std::int32_t value) override;
  std::wstring get(const wchar_t* key, const wchar_t* default_value) const override;
  // True only for a stored "1".
  bool get_bool(const wchar_t* key, bool default_value) const override;
  // Reads the leading decimal number of the stored text. Raises std::invalid_argument
  // ("invalid stoi argument") when it does not start with one and std::out_of_range
  // ("stoi argument out of range") when it does not fit 32 bits.
  std::int32_t get_int(const wchar_t* key, std::int32_t default_value) const override;

 private:
  void insert(const wchar_t* key, std::wstring text);
  std::optional<std::wstring> lookup(const wchar_t* key) const;

  mutable std::mutex lock_;
  std::map<std::wstring, std::wstring> values_;  // ordinal key order, case-sensitive
};

}  // namespace vyn::sfx
