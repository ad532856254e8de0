#include "foundation/file_mapping.h"

#include <utility>

#include "foundation/exceptions.h"

namespace vyn::files {

mapped_view::mapped_view(mapped_view&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)), bytes_(std::exchange(other.bytes_, {})) {}

mapped_view& mapped_view::operator=(mapped_view&& other) noexcept {
  if (this != &other) {
    if (base_) ::UnmapViewOfFile(base_);
    base_ = std::exchange(other.base_, nullptr);
    bytes_ = std::exchange(other.bytes_, {});
  }
  return *this;
}

mapped_view::~mapped_view() {
  if (base_) ::UnmapViewOfFile(base_);
}

file_mapping::file_mapping(HANDLE file, bool inheritable) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size)) {
    throw exceptions::error(::GetLastError(), "Unable to create file mapping!");
  }
  size_ = static_cast<std::uint64_t>(size.QuadPart);
  if (size_ == 0) return;  // the system refuses to map an empty file
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, inheritable ? TRUE : FALSE};
  mapping_.reset(::CreateFileMappingW(file, &attributes, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping_) throw exceptions::error(::GetLastError(), "Unable to create file mapping!");
}

utils::byte_view file_mapping::view() const {
  std::call_once(whole_once_, [this] {
    if (size_ != 0) whole_ = map_view(0, size_);
  });
  return whole_.view();
}

mapped_view file_mapping::map_view(std::uint64_t offset, std::uint64_t length) const {
  if (offset > size_ || length > size_ - offset) {
    throw exceptions::error(5u, "Unable to map a view outside of the file mapping!");
  }
  if (!mapping_) throw exceptions::error(6u, "Unable to map a view of uninitialized mapping!");
  if (length == 0) return {};
  if (length > SIZE_MAX) throw exceptions::error(8u, "Unable to create mapping view!");
  SYSTEM_INFO info{};
  ::GetSystemInfo(&info);
  // Views start at a multiple of the allocation granularity.
  const std::uint64_t aligned = offset - offset % info.dwAllocationGranularity;
  const std::uint64_t span_length = length + (offset - aligned);
  if (span_length > SIZE_MAX) throw exceptions::error(8u, "Unable to create mapping view!");
  void* base = ::MapViewOfFile(mapping_.get(), FILE_MAP_READ, static_cast<DWORD>(aligned >> 32),
                               static_cast<DWORD>(aligned), static_cast<SIZE_T>(span_length));
  if (!base) throw exceptions::error(::GetLastError(), "Unable to create mapping view!");
  const auto* first = static_cast<const std::uint8_t*>(base) + (offset - aligned);
  return mapped_view(base, {first, static_cast<std::size_t>(length)});
}

void file_mapping::read_in_views(std::uint64_t offset, std::uint64_t length,
                                 const std::function<void(std::span<const std::uint8_t>)>& take) const {
  if (offset > size_ || length > size_ - offset) {
    throw exceptions::error(5u, "Unable to map a view outside of the file mapping!");
  }
  while (length != 0) {
    const std::uint64_t piece = length < sliding_view_size ? length : sliding_view_size;
    const mapped_view view = map_view(offset, piece);
    take(view.bytes());
    offset += piece;
    length -= piece;
  }
}

}  // namespace vyn::files
