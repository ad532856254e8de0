#include "payload/signature_check.h"

#include <exception>

#include "payload/ecc_ecdsa.h"

namespace vyn::sfx::signature {
namespace {

check_result check_with(bytes data, const keys::key_set* given, unsigned key_set_id) {
  check_result result;
  const auto pe = recognise_pe(data);
  result.block = locate_block(considered_data(data, pe));
  if (!result.block) return result;
  const root::digest digest = signed_digest(data, pe, result.block->signed_length, result.block->version);
  const std::span<const std::uint8_t, 32> hash(digest.bytes().data(), 32);
  const std::span<const std::uint8_t, signature_size> sig(result.block->signature);
  const keys::key_set& set = given ? *given : keys::build_key_set(key_set_id);
  for (std::size_t i = 0; i < set.dsa.size(); ++i) {
    if (crypto::dsa_verify(set.dsa[i], hash, sig)) {
      result.key = matched_key{key_kind::dsa, i};
      return result;
    }
  }
  for (std::size_t i = 0; i < set.ecdsa.size(); ++i) {
    if (crypto::ecdsa_verify(set.ecdsa[i], hash, sig)) {
      result.key = matched_key{key_kind::ecdsa, i};
      return result;
    }
  }
  return result;
}

}  // namespace

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
