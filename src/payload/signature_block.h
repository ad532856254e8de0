#pragma once
// Where a signature block sits in signed data and what its digest covers.
//
// Binary block (the stub executable): 64 signature bytes, then "VYNSig2B" or "VYNSig3B".
// Text block (XML files, as their last comment): "VYNSig2A", 128 hexadecimal digits, "VYNSig2A"
// (or the same with 3), which an XML file wraps as "<!-- " block " -->" plus an optional CR LF or
// LF. The signed region is everything in front of the block. Digest version 2 hashes the region;
// version 3 also hashes its length, and for PE images leaves the CheckSum and the certificate
// table entry out so that an Authenticode signature can be added after ours.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "foundation/sha256.h"

namespace vyn::sfx::signature {

using bytes = std::span<const std::uint8_t>;

inline constexpr std::size_t signature_size = 64;   // r ‖ s, 32 bytes each, big-endian
inline constexpr std::size_t marker_size = 8;
inline constexpr std::size_t binary_block_size = signature_size + marker_size;     // 72
inline constexpr std::size_t text_block_size = 2 * marker_size + 2 * signature_size;  // 144
inline constexpr std::size_t max_cert_padding = 8;
// The bytes at the end of the considered data that hold any block: a text block with its
// " -->" and CR LF around it.
inline constexpr std::size_t max_block_tail = text_block_size + 6;
// How many bytes a PE recognition reads: the DOS header, and the NT headers up to the larger
// optional header's certificate entry.
inline constexpr std::size_t pe_dos_header_size = 64;
inline constexpr std::size_t pe_nt_headers_size = 24 + 240;

// File offsets of the two fields a PE digest treats specially.
struct pe_fields {
  std::uint64_t checksum = 0;    // optional header CheckSum (4 bytes)
  std::uint64_t cert_entry = 0;  // certificate table data directory entry (8 bytes)
};

// The fields of data recognised as a 32-bit (machine 0x14C, magic 0x10B) or 64-bit (machine 0x8664
// or 0xAA64, magic 0x20B) PE image; empty for anything else.
std::optional<pe_fields> recognise_pe(bytes data) noexcept;

// The same decision from the pieces it reads, for data read in pieces: the NT header offset that
// the first pe_dos_header_size bytes name (empty when they cannot begin a PE image), and the
// recognition from the data's size and the (up to pe_nt_headers_size) bytes at that offset.
std::optional<std::uint64_t> nt_header_offset(bytes dos_header) noexcept;
std::optional<pe_fields> recognise_pe(std::uint64_t size, std::uint64_t nt_offset, bytes nt_headers) noexcept;

// The part of data a signature block is looked for in. For a PE image whose certificate entry
// points inside the data, that ends at the certificate table, less up to 8 zero bytes of
// alignment padding; for other data it is all of it.
bytes considered_data(bytes data, const std::optional<pe_fields>& pe) noexcept;

// The two steps of that rule for data read in pieces: where the certificate table that the
// 8-byte entry names begins in data of this size (size itself when the entry is zero), or empty
// when the table does not lie inside the data (then all of it is considered); and that end less
// the zero bytes of padding that before_end, the (up to 8) bytes directly in front of it, ends in.
std::optional<std::uint64_t> certificate_table_start(std::uint64_t size, bytes cert_entry) noexcept;
std::uint64_t without_padding(std::uint64_t end, bytes before_end) noexcept;

enum class block_form { binary, text };

struct located_block {
  std::size_t signed_length = 0;  // L: the region [0, L) in front of the block
  int version = 0;                // 2 or 3
  block_form form = block_form::binary;
  std::array<std::uint8_t, signature_size> signature{};
};

// Finds the block at the end of the considered data (after dropping a final " -->" with CR LF,
// LF or nothing behind it). Empty when the data ends in no well-formed block. Raises
// std::invalid_argument when a text block holds a character that is not hexadecimal.
std::optional<located_block> locate_block(bytes considered);

// The same for considered data of this length read in pieces: tail holds its last bytes, at
// least max_block_tail of them (all of them when it is shorter).
std::optional<located_block> locate_block(std::uint64_t length, bytes tail);

// Whether the data (a PE image or any other file) already ends in a signature block, counting a
// text block with a damaged digit as one: signing or building on top of it is refused.
bool ends_in_block(bytes data);

// SHA-256 over the signed region [0, length) of data by the rules of the version: PE images skip
// their CheckSum (version 2 hashes four zero bytes instead) and, in version 3, the certificate
// entry too; version 3 appends the length as 8 bytes little-endian. Raises when the region does
// not cover the skipped fields or lies outside the data.
root::digest signed_digest(bytes data, const std::optional<pe_fields>& pe, std::size_t length,
                           int version);

// Hands the bytes [from, to) of the data to the hash.
using region_feeder = std::function<void(root::sha256& hash, std::uint64_t from, std::uint64_t to)>;

// The same digest of data of this size that feed reads.
root::digest signed_digest(std::uint64_t size, const std::optional<pe_fields>& pe, std::uint64_t length,
                           int version, const region_feeder& feed);

}  // namespace vyn::sfx::signature
