#pragma once
// Read-only mapping of a whole file, handing out bounds-checked views. The stub maps its own file
// once for the whole run; large files are read through views of bounded size instead.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "foundation/byte_view.h"
#include "foundation/handle.h"

namespace vyn::files {

// One mapped view; unmapped on destruction.
class mapped_view {
 public:
  mapped_view() = default;
  mapped_view(void* base, std::span<const std::uint8_t> bytes) : base_(base), bytes_(bytes) {}
  mapped_view(mapped_view&& other) noexcept;
  mapped_view& operator=(mapped_view&& other) noexcept;
  mapped_view(const mapped_view&) = delete;
  mapped_view& operator=(const mapped_view&) = delete;
  ~mapped_view();

  std::span<const std::uint8_t> bytes() const noexcept { return bytes_; }
  utils::byte_view view() const noexcept { return utils::byte_view(bytes_); }

 private:
  void* base_ = nullptr;  // start of the mapped region (aligned), what UnmapViewOfFile takes
  std::span<const std::uint8_t> bytes_;
};

// Largest view mapped at once where a file is read view by view.
inline constexpr std::uint64_t sliding_view_size = 0x2000000;  // 32 MiB

class file_mapping {
 public:
  // Maps the open file read-only; with inheritable the mapping handle is inherited by child
  // processes. An empty file gets no mapping object and an empty view. Raises
  // "Unable to create file mapping!" with the system error code.
  explicit file_mapping(HANDLE file, bool inheritable = false);
  file_mapping(const file_mapping&) = delete;
  file_mapping& operator=(const file_mapping&) = delete;

  // Size of the mapped file in bytes.
  std::uint64_t size() const noexcept { return size_; }
  HANDLE mapping_handle() const noexcept { return mapping_.get(); }

  // The whole file, mapped on first use and kept until the mapping is destroyed. Raises
  // "Unable to create mapping view!" when the file cannot be mapped as one view.
  utils::byte_view view() const;

  // A view of [offset, offset + length). Raises "Unable to map a view outside of the file
  // mapping!" (code 5) when the range exceeds the file, "Unable to map a view of uninitialized
  // mapping!" for an empty file's mapping and "Unable to create mapping view!" when mapping fails.
  mapped_view map_view(std::uint64_t offset, std::uint64_t length) const;

  // Hands the bytes [offset, offset + length) to take in order, one view of at most
  // sliding_view_size bytes at a time, each unmapped before the next: address space and memory
  // stay bounded whatever the file size. Raises as map_view does.
  void read_in_views(std::uint64_t offset, std::uint64_t length,
                     const std::function<void(std::span<const std::uint8_t>)>& take) const;

 private:
  win::unique_handle mapping_;
  std::uint64_t size_ = 0;
  mutable std::once_flag whole_once_;
  mutable mapped_view whole_;
};

}  // namespace vyn::files
