#pragma once
// Description of one record of the payload appended to the stub.

#include <cstdint>
#include <string>

namespace vyn::sfx {

struct payload_record {
  std::uint32_t flags = 0;        // data reader: 0 stored, 1 LZMA packed stream
  std::uint32_t size = 0;         // data bytes stored in the record
  std::uint64_t timestamp = 0;    // seconds since 1970-01-01 UTC, passed through
  std::uint32_t data_offset = 0;  // file offset of the first data byte
  std::wstring sha256;            // 64 lower-case hexadecimal digits of the unpacked content
  std::wstring alias;             // may be empty
  std::uint32_t type = 0;
};

}  // namespace vyn::sfx
