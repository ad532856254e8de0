#pragma once
// The byte-level signature check shared by the stub and the maker's tool: recognise a PE image,
// find the block, compute the digest and try the keys of one key set.

#include <cstddef>
#include <cstdint>
#include <functional>
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

// Data too large to hold in one span (a downloaded file in a 32-bit process, whose address
// space has no room for a view of the whole file), read in pieces.
class piecewise_data {
 public:
  virtual ~piecewise_data() = default;
  virtual std::uint64_t size() const = 0;
  // Hands the bytes [offset, offset + length) to take in order, in one or more pieces. Raises
  // when they cannot be read.
  virtual void read(std::uint64_t offset, std::uint64_t length, const std::function<void(bytes)>& take) const = 0;
};

// The same check over data read in pieces: the headers, the certificate entry and the block are
// read as small pieces, the signed region streams through the hash once. Data of more than
// SIZE_MAX bytes carries no block this program accepts.
check_result check(const piecewise_data& data, unsigned key_set_id);
bool is_signed(const piecewise_data& data, unsigned key_set_id) noexcept;

}  // namespace vyn::sfx::signature
