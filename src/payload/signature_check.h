#pragma once
// The byte-level signature check shared by the stub and the maker's tool: recognise a PE image,
// find the block, compute the digest and try the keys of one key set.

#include <cstddef>
#include <optional>

#include "payload/keys.h"
#include "payload/signature_block.h"

namespace vyn::sfx::signature {

enum class key_kind { dsa, ecdsa };

// The key that accepted a signature: its kind and position within its key set.
struct matched_key {
  key_kind kind = key_kind::dsa;
  std::size_t index = 0;
};

struct check_result {
  std::optional<located_block> block;  // empty: the data carries no well-formed block
  std::optional<matched_key> key;      // empty: no key of the set accepts the signature
  bool valid() const noexcept { return key.has_value(); }
};

// Checks data against the keys of a key set (the built-in one with the number key_set_id, or one
// given). Raises on an unknown key set and on a text
// block with a non-hexadecimal character (std::invalid_argument); callers that only want a yes or
// no use is_signed.
check_result check(bytes data, unsigned key_set_id);
check_result check(bytes data, const keys::key_set& set);

// check(...).valid(), with every failure turned into false.
bool is_signed(bytes data, unsigned key_set_id) noexcept;

}  // namespace vyn::sfx::signature
