#include "payload/signature_check.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <vector>

#include "payload/ecc_ecdsa.h"

namespace vyn::sfx::signature {
namespace {

// The first key of the set that accepts the signature of the digest.
std::optional<matched_key> accepting_key(const root::digest& digest, const located_block& block,
                                         const keys::key_set& set) {
  const std::span<const std::uint8_t, 32> hash(digest.bytes().data(), 32);
  const std::span<const std::uint8_t, signature_size> sig(block.signature);
  for (std::size_t i = 0; i < set.dsa.size(); ++i) {
    if (crypto::dsa_verify(set.dsa[i], hash, sig)) return matched_key{key_kind::dsa, i};
  }
  for (std::size_t i = 0; i < set.ecdsa.size(); ++i) {
    if (crypto::ecdsa_verify(set.ecdsa[i], hash, sig)) return matched_key{key_kind::ecdsa, i};
  }
  return std::nullopt;
}

check_result check_with(bytes data, const keys::key_set* given, unsigned key_set_id) {
  check_result result;
  const auto pe = recognise_pe(data);
  result.block = locate_block(considered_data(data, pe));
  if (!result.block) return result;
  const root::digest digest = signed_digest(data, pe, result.block->signed_length, result.block->version);
  result.key = accepting_key(digest, *result.block, given ? *given : keys::build_key_set(key_set_id));
  return result;
}

// The bytes [offset, offset + length) of the data (clipped to its end) in one vector.
std::vector<std::uint8_t> read_span(const piecewise_data& data, std::uint64_t offset, std::size_t length) {
  std::vector<std::uint8_t> out;
  if (offset >= data.size()) return out;
  const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(length, data.size() - offset));
  out.reserve(wanted);
  data.read(offset, wanted, [&out](bytes piece) { out.insert(out.end(), piece.begin(), piece.end()); });
  return out;
}

std::optional<pe_fields> recognise_pe_of(const piecewise_data& data) {
  const auto nt = nt_header_offset(read_span(data, 0, pe_dos_header_size));
  if (!nt) return std::nullopt;
  return recognise_pe(data.size(), *nt, read_span(data, *nt, pe_nt_headers_size));
}

// The length of the data a block is looked for in (see considered_data).
std::uint64_t considered_length(const piecewise_data& data, const std::optional<pe_fields>& pe) {
  if (!pe) return data.size();
  const auto start = certificate_table_start(data.size(), read_span(data, pe->cert_entry, 8));
  if (!start) return data.size();
  const std::uint64_t before = std::min<std::uint64_t>(max_cert_padding, *start);
  return without_padding(*start, read_span(data, *start - before, static_cast<std::size_t>(before)));
}

}  // namespace

check_result check(const piecewise_data& data, unsigned key_set_id) {
  check_result result;
  if (data.size() > std::numeric_limits<std::size_t>::max()) return result;
  const auto pe = recognise_pe_of(data);
  const std::uint64_t length = considered_length(data, pe);
  const std::uint64_t tail = std::min<std::uint64_t>(length, max_block_tail);
  result.block = locate_block(length, read_span(data, length - tail, static_cast<std::size_t>(tail)));
  if (!result.block) return result;
  const auto feed = [&data](root::sha256& hash, std::uint64_t from, std::uint64_t to) {
    data.read(from, to - from, [&hash](bytes piece) { hash.update(piece.data(), piece.size()); });
  };
  const root::digest digest =
      signed_digest(data.size(), pe, result.block->signed_length, result.block->version, feed);
  result.key = accepting_key(digest, *result.block, keys::build_key_set(key_set_id));
  return result;
}

bool is_signed(const piecewise_data& data, unsigned key_set_id) noexcept {
  try {
    return check(data, key_set_id).valid();
  } catch (const std::exception&) {
    return false;
  }
}

check_result check(bytes data, unsigned key_set_id) { return check_with(data, nullptr, key_set_id); }

check_result check(bytes data, const keys::key_set& set) { return check_with(data, &set, set.id); }

bool is_signed(bytes data, unsigned key_set_id) noexcept {
  try {
    return check(data, key_set_id).valid();
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace vyn::sfx::signature
