#include "payload/testing/stub_image.h"

#include <cstring>

namespace vyn::sfx::testing {
namespace {

constexpr std::uint32_t file_alignment = 0x200;
constexpr std::uint32_t section_alignment = 0x1000;

void put16(std::vector<std::uint8_t>& image, std::size_t at, std::uint16_t value) {
  image[at] = static_cast<std::uint8_t>(value);
  image[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t optional_header_size(const pe_image_layout& layout) {
  return layout.optional_magic == 0x20B ? 240 : 224;
}

std::uint32_t align(std::uint32_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

}  // namespace

std::uint32_t section_table_offset(const pe_image_layout& layout) {
  return layout.nt_offset + 24 + optional_header_size(layout);
}

std::vector<std::uint8_t> make_pe_image(const pe_image_layout& layout) {
  const auto sections = static_cast<std::uint16_t>(layout.section_sizes.size());
  const std::uint32_t table = section_table_offset(layout);
  const std::uint32_t headers_size = align(table + 40u * sections, file_alignment);
  std::uint32_t image_end = headers_size;
  for (const std::uint32_t size : layout.section_sizes) image_end += size;

  std::vector<std::uint8_t> image(image_end, 0);
  image[0] = 'M';
  image[1] = 'Z';
  put32(image, 0x3C, layout.nt_offset);
  const std::size_t nt = layout.nt_offset;
  std::memcpy(&image[nt], "PE\0\0", 4);
  put16(image, nt + 4, layout.optional_magic == 0x20B ? 0x8664 : 0x14C);  // Machine
  put16(image, nt + 6, sections);
  put16(image, nt + 20, static_cast<std::uint16_t>(optional_header_size(layout)));
  put16(image, nt + 22, 0x0102);  // executable, 32-bit machine
  const std::size_t optional = nt + 24;
  put16(image, optional, layout.optional_magic);
  put32(image, optional + 32, section_alignment);
  put32(image, optional + 36, file_alignment);
  put32(image, optional + 60, headers_size);  // SizeOfHeaders
  put16(image, optional + 68, 2);             // Subsystem: GUI

  std::uint32_t raw = headers_size;
  std::uint32_t virtual_address = section_alignment;
  for (std::uint16_t i = 0; i < sections; ++i) {
    const std::size_t header = table + 40u * i;
    const char name[8] = {'.', 's', 'e', 'c', static_cast<char>('0' + i % 10)};
    std::memcpy(&image[header], name, 8);
    put32(image, header + 8, layout.section_sizes[i]);  // VirtualSize
    put32(image, header + 12, virtual_address);
    put32(image, header + 16, layout.section_sizes[i]);  // SizeOfRawData
    put32(image, header + 20, raw);                      // PointerToRawData
    put32(image, header + 36, 0x40000040);               // initialised data, readable
    raw += layout.section_sizes[i];
    virtual_address += align(layout.section_sizes[i], section_alignment);
  }
  put32(image, optional + 56, virtual_address);  // SizeOfImage
  return image;
}

}  // namespace vyn::sfx::testing
