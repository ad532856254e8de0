#pragma once
// MD5 (RFC 1321) through the system's base cryptographic provider, for the machine identifier.

#include <windows.h>
#include <wincrypt.h>

#include <array>
#include <cstdint>
#include <span>

namespace vyn::mi {

using md5_digest = std::array<std::uint8_t, 16>;

// One MD5 computation fed in pieces. Every failure raises vyn::exceptions::error with the
// system error code: "CryptAcquireContext failed", "CryptCreateHash failed", "CryptHashData
// failed", "CryptGetHashParam failed".
class md5_hash {
 public:
  md5_hash();
  ~md5_hash();
  md5_hash(const md5_hash&) = delete;
  md5_hash& operator=(const md5_hash&) = delete;

  void update(std::span<const std::uint8_t> bytes);
  // The digest of everything fed so far; the object takes no more data afterwards.
  md5_digest finish();

 private:
  HCRYPTPROV provider_ = 0;
  HCRYPTHASH hash_ = 0;
};

md5_digest md5(std::span<const std::uint8_t> bytes);

}  // namespace vyn::mi
