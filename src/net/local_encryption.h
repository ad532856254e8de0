#pragma once
// Data bound to this machine: protected with the system's data-protection service for the local
// machine (any user of the machine can unprotect it, no other machine can), with part of a
// secret that its owner supplies as additional entropy.

#include <windows.h>

#include <array>
#include <cstdint>
#include <span>

#include "foundation/handle.h"

namespace vyn::framework::local_encryption {

// A byte block that the system allocated; released with LocalFree.
class protected_block {
 public:
  protected_block(win::unique_local memory, DWORD size) : memory_(std::move(memory)), size_(size) {}
  std::span<const std::uint8_t> bytes() const {
    return {static_cast<const std::uint8_t*>(memory_.get()), size_};
  }

 private:
  win::unique_local memory_;
  DWORD size_;
};

class ILocalEncryption {
 public:
  virtual ~ILocalEncryption() = default;
  // Raises vyn::exceptions::error with the system error code and "Failed to encrypt data".
  virtual protected_block encrypt(std::span<const std::uint8_t> bytes) = 0;
  // Raises vyn::exceptions::error with the system error code and "Failed to decrypt data".
  virtual protected_block decrypt(std::span<const std::uint8_t> bytes) = 0;
};

using secret = std::array<std::uint8_t, 32>;

// Protects with the first 16 bytes of the secret as entropy. Unprotects with those 16 bytes
// and, when that fails, with all 32 bytes, which older data were protected with.
class LocalEncryption : public ILocalEncryption {
 public:
  explicit LocalEncryption(const secret& key) : secret_(key) {}

  protected_block encrypt(std::span<const std::uint8_t> bytes) override;
  protected_block decrypt(std::span<const std::uint8_t> bytes) override;

 private:
  secret secret_;
};

}  // namespace vyn::framework::local_encryption
