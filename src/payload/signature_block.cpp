#include "payload/signature_block.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

#include "foundation/exceptions.h"

namespace vyn::sfx::signature {
namespace {

constexpr std::size_t checksum_offset = 88;    // from the NT header
constexpr std::size_t cert_entry_pe32 = 152;   // from the NT header, 32-bit images
constexpr std::size_t cert_entry_pe64 = 168;   // from the NT header, 64-bit images
constexpr std::size_t file_header_end = 24;    // "PE\0\0" and the 20-byte file header
constexpr std::size_t optional_min_pe32 = 224;
constexpr std::size_t optional_min_pe64 = 240;

std::uint32_t read_u32(bytes data, std::size_t offset) noexcept {
  return std::uint32_t{data[offset]} | std::uint32_t{data[offset + 1]} << 8 |
         std::uint32_t{data[offset + 2]} << 16 | std::uint32_t{data[offset + 3]} << 24;
}

std::uint16_t read_u16(bytes data, std::size_t offset) noexcept {
  return static_cast<std::uint16_t>(data[offset] | data[offset + 1] << 8);
}

bool ends_with(bytes data, std::string_view suffix) noexcept {
  return data.size() >= suffix.size() &&
         std::memcmp(data.data() + data.size() - suffix.size(), suffix.data(), suffix.size()) == 0;
}

bool equals_at(bytes data, std::size_t offset, std::string_view text) noexcept {
  return std::memcmp(data.data() + offset, text.data(), text.size()) == 0;
}

// "VYNSig2B" → (2, binary) and so on.
std::optional<std::pair<int, block_form>> parse_marker(bytes data, std::size_t offset) noexcept {
  if (!equals_at(data, offset, "VYNSig")) return std::nullopt;
  const std::uint8_t digit = data[offset + 6], kind = data[offset + 7];
  if (digit != '2' && digit != '3') return std::nullopt;
  if (kind != 'A' && kind != 'B') return std::nullopt;
  return std::pair{digit - '0', kind == 'B' ? block_form::binary : block_form::text};
}

}  // namespace

std::optional<std::uint64_t> nt_header_offset(bytes dos_header) noexcept {
  if (dos_header.size() < pe_dos_header_size || dos_header[0] != 'M' || dos_header[1] != 'Z') return std::nullopt;
  const auto nt = static_cast<std::int32_t>(read_u32(dos_header, 0x3C));
  if (nt < 0) return std::nullopt;
  return static_cast<std::uint64_t>(nt);
}

std::optional<pe_fields> recognise_pe(std::uint64_t size, std::uint64_t nt, bytes nt_headers) noexcept {
  if (nt > size || size - nt < file_header_end || nt_headers.size() < file_header_end) return std::nullopt;
  if (!equals_at(nt_headers, 0, std::string_view("PE\0\0", 4))) return std::nullopt;
  // Bytes behind the file header, as far as a recognition looks.
  const std::uint64_t rest = std::min<std::uint64_t>(size - nt, nt_headers.size()) - file_header_end;
  const std::uint16_t machine = read_u16(nt_headers, 4);
  if (machine == 0x14C) {
    if (rest < optional_min_pe32 || read_u16(nt_headers, file_header_end) != 0x10B) return std::nullopt;
    return pe_fields{nt + checksum_offset, nt + cert_entry_pe32};
  }
  if (machine == 0x8664 || machine == 0xAA64) {
    if (rest < optional_min_pe64 || read_u16(nt_headers, file_header_end) != 0x20B) return std::nullopt;
    return pe_fields{nt + checksum_offset, nt + cert_entry_pe64};
  }
  return std::nullopt;
}

std::optional<pe_fields> recognise_pe(bytes data) noexcept {
  const auto nt = nt_header_offset(data);
  if (!nt || *nt > data.size()) return std::nullopt;
  const auto at = static_cast<std::size_t>(*nt);
  return recognise_pe(data.size(), *nt, data.subspan(at, std::min(pe_nt_headers_size, data.size() - at)));
}

std::optional<std::uint64_t> certificate_table_start(std::uint64_t size, bytes cert_entry) noexcept {
  if (cert_entry.size() < 8) return std::nullopt;
  const std::uint32_t offset = read_u32(cert_entry, 0);
  const std::uint32_t length = read_u32(cert_entry, 4);
  const std::uint32_t end_of_table = offset + length;
  if (end_of_table < offset || end_of_table > size) return std::nullopt;
  return (offset == 0 && length == 0) ? size : offset;
}

std::uint64_t without_padding(std::uint64_t end, bytes before_end) noexcept {
  for (std::size_t dropped = 0; dropped < max_cert_padding && dropped < before_end.size() && end != 0 &&
                                before_end[before_end.size() - 1 - dropped] == 0;
       ++dropped) {
    --end;
  }
  return end;
}

bytes considered_data(bytes data, const std::optional<pe_fields>& pe) noexcept {
  if (!pe) return data;
  const auto entry = static_cast<std::size_t>(pe->cert_entry);
  const auto start = certificate_table_start(data.size(), data.subspan(entry, std::min<std::size_t>(8, data.size() - entry)));
  if (!start) return data;
  const auto end = static_cast<std::size_t>(*start);
  const std::size_t before = std::min(max_cert_padding, end);
  return data.first(static_cast<std::size_t>(without_padding(end, data.subspan(end - before, before))));
}

std::optional<located_block> locate_block(bytes considered) {
  for (std::string_view ending : {std::string_view(" -->\r\n"), std::string_view(" -->\n"),
                                  std::string_view(" -->")}) {
    if (ends_with(considered, ending)) {
      considered = considered.first(considered.size() - ending.size());
      break;
    }
  }
  std::size_t length = considered.size();
  if (length < marker_size) return std::nullopt;
  const auto marker = parse_marker(considered, length - marker_size);
  if (!marker) return std::nullopt;
  located_block block;
  block.version = marker->first;
  block.form = marker->second;
  if (block.form == block_form::binary) {
    if (length <= binary_block_size - 1) return std::nullopt;
    std::memcpy(block.signature.data(), considered.data() + length - binary_block_size, signature_size);
    block.signed_length = length - binary_block_size;
    return block;
  }
  if (length <= text_block_size - 1) return std::nullopt;
  const std::size_t start = length - text_block_size;
  if (std::memcmp(considered.data() + start, considered.data() + length - marker_size, marker_size) != 0) {
    return std::nullopt;
  }
  const root::digest decoded(std::string_view(
      reinterpret_cast<const char*>(considered.data()) + start + marker_size, 2 * signature_size));
  std::memcpy(block.signature.data(), decoded.bytes().data(), signature_size);
  block.signed_length = start;
  return block;
}

std::optional<located_block> locate_block(std::uint64_t length, bytes tail) {
  if (tail.size() > length) return std::nullopt;
  auto block = locate_block(tail);
  if (block) {
    const std::uint64_t in_front = length - tail.size();
    if (in_front > std::numeric_limits<std::size_t>::max() - block->signed_length) return std::nullopt;
    block->signed_length += static_cast<std::size_t>(in_front);
  }
  return block;
}

root::digest signed_digest(bytes data, const std::optional<pe_fields>& pe, std::size_t length,
                           int version) {
  const std::uint8_t* p = data.data();
  return signed_digest(data.size(), pe, length, version,
                       [p](root::sha256& hash, std::uint64_t from, std::uint64_t to) {
                         hash.update(p + from, static_cast<std::size_t>(to - from));
                       });
}

root::digest signed_digest(std::uint64_t size, const std::optional<pe_fields>& pe, std::uint64_t length,
                           int version, const region_feeder& feed) {
  if (length > size) throw exceptions::error("Signed region lies outside the data!");
  if (version != 2 && version != 3) throw exceptions::error("Unknown signature version!");
  root::sha256 hash;
  if (!pe) {
    feed(hash, 0, length);
  } else {
    const std::uint64_t c = pe->checksum;
    const std::uint64_t d = pe->cert_entry;
    // Both fields lie in the headers; a region ending in front of them signs no image.
    if (length < d + 8) throw exceptions::error("Signed region ends inside the PE headers!");
    feed(hash, 0, c);
    if (version == 2) {
      static constexpr std::uint8_t zeros[4] = {};
      hash.update(zeros, sizeof zeros);
      feed(hash, c + 4, length);
    } else {
      feed(hash, c + 4, d);
      feed(hash, d + 8, length);
    }
  }
  if (version == 3) {
    std::uint8_t trailer[8];
    for (int i = 0; i < 8; ++i) trailer[i] = static_cast<std::uint8_t>(std::uint64_t{length} >> (8 * i));
    hash.update(trailer, sizeof trailer);
  }
  return root::finish_digest(hash);
}

bool ends_in_block(bytes data) {
  try {
    return locate_block(considered_data(data, recognise_pe(data))).has_value();
  } catch (const std::invalid_argument&) {
    return true;
  }
}

}  // namespace vyn::sfx::signature
