#include "net/local_encryption.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <wincrypt.h>
#include <dpapi.h>

#include "foundation/exceptions.h"

namespace vyn::framework::local_encryption {
namespace {

using bytes = std::vector<std::uint8_t>;

secret numbered_secret(std::uint8_t first) {
  secret s{};
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(first + i);
  return s;
}

bytes copy(const protected_block& block) { return {block.bytes().begin(), block.bytes().end()}; }

// Data protected the way older versions did: the whole secret as entropy.
bytes protect_with_entropy(const bytes& data, std::span<const std::uint8_t> entropy) {
  DATA_BLOB in{static_cast<DWORD>(data.size()), const_cast<BYTE*>(data.data())};
  DATA_BLOB extra{static_cast<DWORD>(entropy.size()), const_cast<BYTE*>(entropy.data())};
  DATA_BLOB out{};
  EXPECT_TRUE(::CryptProtectData(&in, nullptr, &extra, nullptr, nullptr,
                                 CRYPTPROTECT_UI_FORBIDDEN | CRYPTPROTECT_LOCAL_MACHINE, &out));
  bytes sealed(out.pbData, out.pbData + out.cbData);
  ::LocalFree(out.pbData);
  return sealed;
}

const bytes plain{'s', 'o', 'u', 'r', 'c', 'e', 0, 1, 2, 0xFF};

TEST(LocalEncryption, EncryptedDataDecryptsToTheOriginal) {
  LocalEncryption encryption(numbered_secret(1));
  const bytes sealed = copy(encryption.encrypt(plain));
  EXPECT_NE(sealed, plain);
  EXPECT_EQ(copy(encryption.decrypt(sealed)), plain);
}

TEST(LocalEncryption, DataProtectedWithEitherEntropyLengthDecrypts) {
  const secret key = numbered_secret(1);
  LocalEncryption encryption(key);
  EXPECT_EQ(copy(encryption.decrypt(protect_with_entropy(plain, std::span(key).first(16)))), plain);
  EXPECT_EQ(copy(encryption.decrypt(protect_with_entropy(plain, key))), plain);
}

TEST(LocalEncryption, OtherSecretOrDamagedData_FailsToDecrypt) {
  const bytes sealed = copy(LocalEncryption(numbered_secret(1)).encrypt(plain));
  secret same_start = numbered_secret(1);
  same_start[20] ^= 1;  // only the first 16 bytes protect new data
  EXPECT_EQ(copy(LocalEncryption(same_start).decrypt(sealed)), plain);

  bytes damaged = sealed;
  damaged.back() ^= 0x40;  // in the signature over the data
  int row = 0;
  for (const auto& [key, data] : {std::pair{numbered_secret(2), sealed}, std::pair{numbered_secret(1), damaged},
                                  std::pair{numbered_secret(1), bytes{1, 2, 3}}}) {
    ++row;
    try {
      LocalEncryption(key).decrypt(data);
      ADD_FAILURE() << "case " << row << " decrypted";
    } catch (const exceptions::error& e) {
      EXPECT_STREQ(e.what(), "Failed to decrypt data");
      EXPECT_NE(e.code(), 0u);
    }
  }
}

}  // namespace
}  // namespace vyn::framework::local_encryption
