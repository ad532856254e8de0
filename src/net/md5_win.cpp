#include "net/md5.h"

#include <algorithm>

#include "foundation/exceptions.h"

namespace vyn::mi {

md5_hash::md5_hash() {
  if (!::CryptAcquireContextW(&provider_, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    throw exceptions::error(::GetLastError(), "CryptAcquireContext failed");
  }
  if (!::CryptCreateHash(provider_, CALG_MD5, 0, 0, &hash_)) {
    const DWORD code = ::GetLastError();
    ::CryptReleaseContext(provider_, 0);
    throw exceptions::error(code, "CryptCreateHash failed");
  }
}

md5_hash::~md5_hash() {
  ::CryptDestroyHash(hash_);
  ::CryptReleaseContext(provider_, 0);
}

void md5_hash::update(std::span<const std::uint8_t> bytes) {
  // CryptHashData takes at most 4 GiB per call; identifier items are a few bytes each.
  while (!bytes.empty()) {
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0x10000000));
    if (!::CryptHashData(hash_, bytes.data(), piece, 0)) {
      throw exceptions::error(::GetLastError(), "CryptHashData failed");
    }
    bytes = bytes.subspan(piece);
  }
}

md5_digest md5_hash::finish() {
  md5_digest digest{};
  DWORD size = static_cast<DWORD>(digest.size());
  if (!::CryptGetHashParam(hash_, HP_HASHVAL, digest.data(), &size, 0)) {
    throw exceptions::error(::GetLastError(), "CryptGetHashParam failed");
  }
  if (size != digest.size()) throw exceptions::error(ERROR_INVALID_DATA, "CryptGetHashParam failed");
  return digest;
}

md5_digest md5(std::span<const std::uint8_t> bytes) {
  md5_hash hash;
  hash.update(bytes);
  return hash.finish();
}

}  // namespace vyn::mi
