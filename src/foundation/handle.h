#pragma once
// Move-only owners of Windows handles. Null and INVALID_HANDLE_VALUE both count as empty, and
// closing a handle leaves GetLastError() as it was, so an owner may be reset on an error path
// before the code that failed is read.

#include <windows.h>

#include <utility>

namespace vyn::win {

template <class Traits>
class scoped {
 public:
  using type = typename Traits::type;

  scoped() noexcept = default;
  explicit scoped(type value) noexcept : value_(value) {}
  scoped(scoped&& other) noexcept : value_(std::exchange(other.value_, Traits::empty())) {}
  scoped& operator=(scoped&& other) noexcept {
    if (this != &other) reset(std::exchange(other.value_, Traits::empty()));
    return *this;
  }
  scoped(const scoped&) = delete;
  scoped& operator=(const scoped&) = delete;
  ~scoped() { reset(); }

  type get() const noexcept { return value_; }
  bool valid() const noexcept { return Traits::valid(value_); }
  explicit operator bool() const noexcept { return valid(); }

  void reset(type value = Traits::empty()) noexcept {
    if (Traits::valid(value_)) {
      const DWORD saved = ::GetLastError();
      Traits::close(value_);
      ::SetLastError(saved);
    }
    value_ = value;
  }
  [[nodiscard]] type release() noexcept { return std::exchange(value_, Traits::empty()); }

 private:
  type value_ = Traits::empty();
};

struct handle_traits {
  using type = HANDLE;
  static type empty() noexcept { return nullptr; }
  static bool valid(type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(type h) noexcept { ::CloseHandle(h); }
};

struct hkey_traits {
  using type = HKEY;
  static type empty() noexcept { return nullptr; }
  static bool valid(type h) noexcept { return h != nullptr; }
  static void close(type h) noexcept { ::RegCloseKey(h); }
};

struct hmodule_traits {
  using type = HMODULE;
  static type empty() noexcept { return nullptr; }
  static bool valid(type h) noexcept { return h != nullptr; }
  static void close(type h) noexcept { ::FreeLibrary(h); }
};

struct find_traits {
  using type = HANDLE;
  static type empty() noexcept { return INVALID_HANDLE_VALUE; }
  static bool valid(type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(type h) noexcept { ::FindClose(h); }
};

struct local_traits {
  using type = HLOCAL;
  static type empty() noexcept { return nullptr; }
  static bool valid(type h) noexcept { return h != nullptr; }
  static void close(type h) noexcept { ::LocalFree(h); }
};

using unique_handle = scoped<handle_traits>;
using unique_hkey = scoped<hkey_traits>;
using unique_hmodule = scoped<hmodule_traits>;
using unique_find = scoped<find_traits>;
using unique_local = scoped<local_traits>;

}  // namespace vyn::win
