#pragma once
// Builds synthetic stub images in memory: a minimal PE image (headers and zero-filled sections)
// to which payload records are appended. For tests and for checking the maker's output.

#include <cstdint>
#include <vector>

#include "payload/payload_format.h"

namespace vyn::sfx::testing {

// The image kind this build does not read its payload from.
inline constexpr std::uint16_t foreign_image_magic =
    payload_image_magic == pe32_magic ? pe32plus_magic : pe32_magic;

struct pe_image_layout {
  // 0x10B: 32-bit image, 0x20B: 64-bit image; by default the kind whose payload this build reads
  std::uint16_t optional_magic = payload_image_magic;
  std::uint32_t nt_offset = 0x80;        // e_lfanew
  // Raw sizes of the sections, laid out one after the other from the first file-aligned offset
  // behind the headers.
  std::vector<std::uint32_t> section_sizes = {0x200, 0x200};
};

// A PE image whose file ends exactly where its last section's raw data ends.
std::vector<std::uint8_t> make_pe_image(const pe_image_layout& layout = {});

// Offset of the section table in an image made by make_pe_image.
std::uint32_t section_table_offset(const pe_image_layout& layout);

}  // namespace vyn::sfx::testing
