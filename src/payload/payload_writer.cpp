#include "payload/payload_writer.h"

#include <algorithm>

#include "foundation/exceptions.h"
#include "foundation/sha256.h"
#include "payload/lzma_codec.h"
#include "payload/payload_format.h"

namespace vyn::sfx {
namespace {

template <class T>
void put_le(std::vector<std::uint8_t>& out, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

void append_record(std::vector<std::uint8_t>& out, const record_fields& fields,
                   std::span<const std::uint8_t> data) {
  if (fields.alias.size() > 0xFFFF) throw vyn::exceptions::error(87u, "Record alias is too long!");
  if (data.size() > 0xFFFFFFFFu) throw vyn::exceptions::error(87u, "Record data is too large!");
  out.reserve(out.size() + record_header_size + fields.alias.size() + data.size());
  out.push_back(record_version);
  out.insert(out.end(), {'A', 'P', 'E'});
  put_le<std::uint32_t>(out, fields.type);
  put_le<std::uint32_t>(out, fields.flags);
  put_le<std::uint64_t>(out, fields.timestamp);
  put_le<std::uint32_t>(out, static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), fields.sha256.begin(), fields.sha256.end());
  put_le<std::uint16_t>(out, static_cast<std::uint16_t>(fields.alias.size()));
  out.insert(out.end(), fields.alias.begin(), fields.alias.end());
  out.insert(out.end(), data.begin(), data.end());
}

void append_file_record(std::vector<std::uint8_t>& out, std::string_view alias,
                        std::span<const std::uint8_t> content, bool packed, std::uint32_t type,
                        std::uint64_t timestamp) {
  record_fields fields;
  fields.type = type;
  fields.flags = packed ? 1 : 0;
  fields.timestamp = timestamp;
  fields.alias = alias;
  root::sha256 hash;
  const root::digest sum = root::digest_of(hash, content);
  std::copy(sum.bytes().begin(), sum.bytes().end(), fields.sha256.begin());
  if (packed) {
    append_record(out, fields, packers::lzma_compress(content));
  } else {
    append_record(out, fields, content);
  }
}

void append_end_record(std::vector<std::uint8_t>& out) {
  record_fields fields;
  fields.type = record_type_end;
  fields.flags = end_record_flag;
  append_record(out, fields, {});
}

}  // namespace vyn::sfx
