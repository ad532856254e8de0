#include "foundation/version_resource.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "foundation/strings.h"

namespace vyn::root {
namespace {

// System error codes of the failures (this file does not see <windows.h>).
constexpr std::uint32_t error_bad_exe_format = 193;
constexpr std::uint32_t error_resource_data_not_found = 1812;
constexpr std::uint32_t error_resource_type_not_found = 1813;
constexpr std::uint32_t error_resource_name_not_found = 1814;

constexpr std::uint32_t resource_type_version = 16;
constexpr std::uint32_t subdirectory_flag = 0x80000000u;
constexpr std::size_t resource_directory_index = 2;

[[noreturn]] void fail(std::uint32_t code, const char* message) {
  VYN_LOG_ERROR("Version resource: {}", message);
  throw exceptions::error(code, message);
}

struct section {
  std::uint32_t virtual_address, virtual_size, raw_size, raw_offset;
};

// The parts of the PE headers the walk needs, and the translation of addresses to offsets.
class pe_image {
 public:
  pe_image(utils::byte_view image, image_layout layout) : image_(image), layout_(layout) {
    if (image.size() < 0x40 || image.read_le<std::uint16_t>(0) != 0x5A4D) {
      fail(error_bad_exe_format, "There is no resource section in module");
    }
    const std::uint64_t pe = image.read_le<std::uint32_t>(0x3C);
    if (image.read_le<std::uint32_t>(pe) != 0x00004550) {
      fail(error_bad_exe_format, "There is no resource section in module");
    }
    const auto section_count = image.read_le<std::uint16_t>(pe + 6);
    const auto optional_size = image.read_le<std::uint16_t>(pe + 20);
    const std::uint64_t optional = pe + 24;
    const bool pe32_plus = image.read_le<std::uint16_t>(optional) == 0x20B;
    directory_count_ = image.read_le<std::uint32_t>(optional + (pe32_plus ? 108 : 92));
    directories_ = optional + (pe32_plus ? 112 : 96);
    for (std::uint64_t i = 0, at = optional + optional_size; i < section_count; ++i, at += 40) {
      sections_.push_back({image.read_le<std::uint32_t>(at + 12), image.read_le<std::uint32_t>(at + 8),
                           image.read_le<std::uint32_t>(at + 16), image.read_le<std::uint32_t>(at + 20)});
    }
  }

  std::uint32_t directory_count() const { return directory_count_; }
  // Address and size of a data directory entry.
  std::pair<std::uint32_t, std::uint32_t> directory(std::size_t index) const {
    const std::uint64_t at = directories_ + 8 * index;
    return {image_.read_le<std::uint32_t>(at), image_.read_le<std::uint32_t>(at + 4)};
  }

  std::uint64_t offset_of(std::uint32_t address) const {
    if (layout_ == image_layout::mapped) return address;
    for (const auto& s : sections_) {
      const std::uint32_t extent = s.virtual_size > s.raw_size ? s.virtual_size : s.raw_size;
      if (address >= s.virtual_address && address - s.virtual_address < extent) {
        return std::uint64_t{s.raw_offset} + (address - s.virtual_address);
      }
    }
    return address;  // inside the headers, which are stored as mapped
  }

 private:
  utils::byte_view image_;
  image_layout layout_;
  std::uint32_t directory_count_ = 0;
  std::uint64_t directories_ = 0;
  std::vector<section> sections_;
};

// One node of a version block: a length, a value length, a type, a NUL-terminated UTF-16 key,
// the value and the children, each part aligned to 4 bytes within the block.
struct version_node {
  std::uint64_t end = 0;       // offset just past the node
  std::wstring key;
  std::uint64_t value = 0;     // offset of the value
  std::uint64_t children = 0;  // offset of the first child
};

std::uint64_t align4(std::uint64_t offset) { return (offset + 3) & ~std::uint64_t{3}; }

void append_utf16(std::wstring& text, std::uint16_t unit, std::uint16_t& pending_high) {
  if constexpr (sizeof(wchar_t) == 2) {
    text += static_cast<wchar_t>(unit);
  } else if (unit >= 0xD800 && unit <= 0xDBFF) {
    pending_high = unit;
  } else if (unit >= 0xDC00 && unit <= 0xDFFF && pending_high) {
    text += static_cast<wchar_t>(0x10000 + ((pending_high - 0xD800) << 10) + (unit - 0xDC00));
    pending_high = 0;
  } else {
    text += static_cast<wchar_t>(unit);
  }
}

// UTF-16 text from offset up to the first NUL or the limit; next receives the offset past the NUL.
std::wstring read_text(utils::byte_view block, std::uint64_t offset, std::uint64_t limit,
                       std::uint64_t* next = nullptr) {
  std::wstring text;
  std::uint16_t pending_high = 0;
  for (; offset + 2 <= limit; offset += 2) {
    const auto unit = block.read_le<std::uint16_t>(offset);
    if (unit == 0) {
      offset += 2;
      break;
    }
    append_utf16(text, unit, pending_high);
  }
  if (next) *next = offset;
  return text;
}

std::optional<version_node> read_node(utils::byte_view block, std::uint64_t offset, std::uint64_t limit) {
  if (offset + 6 > limit) return std::nullopt;
  const auto length = block.read_le<std::uint16_t>(offset);
  const auto value_length = block.read_le<std::uint16_t>(offset + 2);
  const auto type = block.read_le<std::uint16_t>(offset + 4);
  if (length < 6 || offset + length > limit) return std::nullopt;  // malformed: end of the list
  version_node node;
  node.end = offset + length;
  std::uint64_t after_key = 0;
  node.key = read_text(block, offset + 6, node.end, &after_key);
  node.value = align4(after_key);
  const std::uint64_t value_bytes = type == 1 ? std::uint64_t{value_length} * 2 : value_length;
  node.children = align4(node.value + value_bytes);
  return node;
}

// Calls visit for each child of the parent node, in order.
template <class Visit>
bool find_child(utils::byte_view block, const version_node& parent, Visit&& visit) {
  for (std::uint64_t at = parent.children; at < parent.end;) {
    const auto child = read_node(block, at, parent.end);
    if (!child) return false;
    if (visit(*child)) return true;
    at = align4(child->end);
  }
  return false;
}

std::optional<std::wstring> find_string(utils::byte_view block, std::wstring_view key) {
  const auto root = read_node(block, 0, block.size());
  if (!root) return std::nullopt;
  std::optional<std::wstring> found;
  find_child(block, *root, [&](const version_node& info) {
    if (!utils::iequals(info.key, L"StringFileInfo")) return false;
    return find_child(block, info, [&](const version_node& table) {
      return find_child(block, table, [&](const version_node& entry) {
        if (!utils::iequals(entry.key, key)) return false;
        found = read_text(block, entry.value, entry.end);
        return true;
      });
    });
  });
  return found;
}

// The resource directory entry at index of the directory at offset (relative to the section).
std::pair<std::uint32_t, std::uint32_t> entry_at(utils::byte_view image, std::uint64_t section,
                                                 std::uint64_t directory, std::uint64_t index) {
  const std::uint64_t at = section + directory + 16 + 8 * index;
  return {image.read_le<std::uint32_t>(at), image.read_le<std::uint32_t>(at + 4)};
}

std::uint64_t entry_count(utils::byte_view image, std::uint64_t section, std::uint64_t directory) {
  return std::uint64_t{image.read_le<std::uint16_t>(section + directory + 12)} +
         image.read_le<std::uint16_t>(section + directory + 14);
}

// The version block under a type entry: its first name, that name's first language.
std::optional<utils::byte_view> version_block(utils::byte_view image, const pe_image& pe,
                                              std::uint64_t section, std::uint32_t type_target) {
  std::uint32_t target = type_target;
  for (int level = 0; level < 2; ++level) {
    if (!(target & subdirectory_flag)) return std::nullopt;
    const std::uint64_t directory = target & ~subdirectory_flag;
    if (entry_count(image, section, directory) == 0) return std::nullopt;
    target = entry_at(image, section, directory, 0).second;
  }
  if (target & subdirectory_flag) return std::nullopt;
  const std::uint64_t data_entry = section + target;
  const auto address = image.read_le<std::uint32_t>(data_entry);
  const auto size = image.read_le<std::uint32_t>(data_entry + 4);
  return utils::byte_view(image.range(pe.offset_of(address), size));
}

}  // namespace

std::wstring read_version_string(utils::byte_view image, image_layout layout,
                                 std::wstring_view key, bool optional) {
  const pe_image pe(image, layout);
  if (pe.directory_count() <= resource_directory_index) {
    fail(error_resource_data_not_found, "There is no resource section in module");
  }
  const auto [address, size] = pe.directory(resource_directory_index);
  if (size == 0) fail(error_resource_type_not_found, "Resource section is empty");

  const std::uint64_t section = pe.offset_of(address);
  for (std::uint64_t i = entry_count(image, section, 0); i-- > 0;) {
    const auto [type, target] = entry_at(image, section, 0, i);
    if ((type & subdirectory_flag) || type != resource_type_version) continue;
    if (const auto block = version_block(image, pe, section, target)) {
      if (auto text = find_string(*block, key)) return std::move(*text);
    }
  }
  if (optional) return {};
  VYN_LOG_ERROR("Version resource has no '{}'", utils::to_log(key));
  throw exceptions::error(error_resource_name_not_found,
                          "Unable to determine product identifier from resources!");
}

std::wstring read_module_version_string(const void* module_base, std::wstring_view key,
                                        bool optional) {
  const auto* base = static_cast<const std::uint8_t*>(module_base);
  // The first page holds the headers, which tell how large the mapped image is.
  const utils::byte_view header_page({base, 0x1000});
  if (header_page.read_le<std::uint16_t>(0) != 0x5A4D) {
    fail(error_bad_exe_format, "There is no resource section in module");
  }
  const std::uint64_t pe = header_page.read_le<std::uint32_t>(0x3C);
  const auto image_size = header_page.read_le<std::uint32_t>(pe + 24 + 56);
  return read_version_string(utils::byte_view({base, image_size}), image_layout::mapped, key, optional);
}

}  // namespace vyn::root
