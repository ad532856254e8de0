#pragma once
// Writes payload records in the format the stub reads: what the maker's tool appends behind a
// linked stub, and what tests build their images from.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vyn::sfx {

inline constexpr std::uint32_t record_type_config = 'F';
inline constexpr std::uint32_t record_type_data = 'C';
inline constexpr std::uint32_t record_type_end = ':';

struct record_fields {
  std::uint32_t type = record_type_data;
  std::uint32_t flags = 0;  // data reader: 0 stored, 1 LZMA packed stream
  std::uint64_t timestamp = 0;
  std::array<std::uint8_t, 32> sha256{};  // of the content after unpacking
  std::string_view alias;                 // UTF-8, at most 65535 bytes
};

// Appends one record header followed by data (the bytes as stored).
void append_record(std::vector<std::uint8_t>& out, const record_fields& fields,
                   std::span<const std::uint8_t> data);

// Appends the record with its SHA-256 computed from content: stored as is (flags 0) or, with
// packed, as an LZMA stream (flags 1).
void append_file_record(std::vector<std::uint8_t>& out, std::string_view alias,
                        std::span<const std::uint8_t> content, bool packed = false,
                        std::uint32_t type = record_type_data, std::uint64_t timestamp = 0);

// Appends the end record: a full header of type ':' and flags 0x10, everything else zero.
void append_end_record(std::vector<std::uint8_t>& out);

}  // namespace vyn::sfx
