#include "net/local_encryption.h"

#include <wincrypt.h>
#include <dpapi.h>

#include "foundation/exceptions.h"
#include "foundation/log.h"

namespace vyn::framework::local_encryption {
namespace {

constexpr DWORD protection_flags = CRYPTPROTECT_UI_FORBIDDEN | CRYPTPROTECT_LOCAL_MACHINE;
constexpr DWORD short_entropy = 16;

DATA_BLOB blob_of(std::span<const std::uint8_t> bytes) {
  return {static_cast<DWORD>(bytes.size()), const_cast<BYTE*>(bytes.data())};
}

// Unprotects with the first entropy_size bytes of the secret; false with the thread's last error.
bool unprotect(const secret& key, DWORD entropy_size, std::span<const std::uint8_t> bytes, DATA_BLOB& out) {
  DATA_BLOB in = blob_of(bytes);
  DATA_BLOB entropy = blob_of(std::span(key).first(entropy_size));
  return ::CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, protection_flags, &out) != 0;
}

}  // namespace

protected_block LocalEncryption::encrypt(std::span<const std::uint8_t> bytes) {
  DATA_BLOB in = blob_of(bytes);
  DATA_BLOB entropy = blob_of(std::span(secret_).first(short_entropy));
  DATA_BLOB out{};
  if (!::CryptProtectData(&in, nullptr, &entropy, nullptr, nullptr, protection_flags, &out)) {
    const DWORD code = ::GetLastError();
    VYN_LOG_ERROR("Failed to encrypt data ({}).", code);
    throw exceptions::error(code, "Failed to encrypt data");
  }
  return {win::unique_local(out.pbData), out.cbData};
}

protected_block LocalEncryption::decrypt(std::span<const std::uint8_t> bytes) {
  DATA_BLOB out{};
  if (!unprotect(secret_, short_entropy, bytes, out) &&
      !unprotect(secret_, static_cast<DWORD>(secret_.size()), bytes, out)) {
    const DWORD code = ::GetLastError();
    VYN_LOG_ERROR("Failed to decrypt data ({}).", code);
    throw exceptions::error(code, "Failed to decrypt data");
  }
  return {win::unique_local(out.pbData), out.cbData};
}

}  // namespace vyn::framework::local_encryption
