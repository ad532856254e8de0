#pragma once
// Bounds-checked reads over a range of bytes (a mapped file, a downloaded buffer). Every read
// that would reach past the end raises vyn::exceptions::error with code 5 and
// "Unable to read outside of the mapped view!".

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

#include "foundation/exceptions.h"

namespace vyn::utils {

class byte_view {
 public:
  byte_view() = default;
  explicit byte_view(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}

  std::uint64_t size() const noexcept { return bytes_.size(); }
  std::span<const std::uint8_t> bytes() const noexcept { return bytes_; }

  // The bytes [offset, offset + length).
  std::span<const std::uint8_t> range(std::uint64_t offset, std::uint64_t length) const {
    if (offset > bytes_.size() || length > bytes_.size() - offset) {
      throw exceptions::error(5u, "Unable to read outside of the mapped view!");
    }
    return bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
  }

  // A little-endian unsigned integer of sizeof(T) bytes at offset.
  template <class T>
  T read_le(std::uint64_t offset) const {
    static_assert(std::is_unsigned_v<T>);
    const auto raw = range(offset, sizeof(T));
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(raw[i]) << (8 * i);
    return value;
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

}  // namespace vyn::utils
