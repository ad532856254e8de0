#pragma once
// The machine identifier ("midex"): digests of the system disk's serial number and of the
// firmware's SMBIOS items, in two selections.
//
// Mode 1 reads every item; its 32 bytes are the hardware id of the analytics records and the
// secret of the local encryption. Mode 2 reads fewer items, leaves the disks alone on Hyper-V
// guests (whose virtual disks change with every move) and falls back to the system volume's GUID;
// its 16 bytes are the source of the fingerprint.
//
// 32-byte form: MD5 of the disk item (or 16 zero bytes), then MD5 of the firmware items fed in
// order (or 16 zero bytes). 16-byte form: MD5 of the 32 bytes. Each mode is computed once per
// process, under one lock, and kept as long as some item contributed.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/machine_facts.h"
#include "net/source_items.h"

namespace vyn::mi {

class midex_intf {
 public:
  virtual ~midex_intf() = default;
  // The identifier of mode 1 or 2 in its 16- or 32-byte form; items, when given, receives the
  // items it was computed from. Raises vyn::exceptions::error with code 87 and "Unsupported midex
  // length: {}" (or "... mode: {}"), and "Failed to get midex" with the failure's code when the
  // computation fails.
  virtual std::vector<std::uint8_t> get(int mode, std::size_t length, source_items* items) = 0;
};

struct machine_identifier {
  std::array<std::uint8_t, 32> full{};    // disk digest, firmware digest
  std::array<std::uint8_t, 16> digest{};  // MD5 of full
  source_items items;                     // what contributed
};

// One computation, without the cache. Raises when a digest cannot be computed.
machine_identifier compute_machine_identifier(int mode, machine_facts& facts);

// Computed identifiers by mode, and the lock that serialises computing and reading them.
struct identifier_cache {
  std::mutex lock;
  std::array<std::optional<machine_identifier>, 2> modes;
};

// The cache of the running process.
identifier_cache& process_identifier_cache();

class midex : public midex_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    virtual std::unique_ptr<midex_intf> create_midex() = 0;
  };

  // The running system's hardware, cached for the process.
  midex();
  // Other sources and another cache, both outliving the object.
  midex(machine_facts& facts, identifier_cache& cache) : facts_(facts), cache_(cache) {}

  std::vector<std::uint8_t> get(int mode, std::size_t length, source_items* items) override;

 private:
  machine_facts& facts_;
  identifier_cache& cache_;
};

using midex_factory = midex::factory;

// The hardware id of the analytics records: the 32 mode-1 bytes as 64 upper-case hexadecimal
// digits. Raises as midex_intf::get.
std::wstring hardware_id_text(midex_intf& source);
// The same of the running system (midex's process cache).
std::wstring hardware_id_text();

}  // namespace vyn::mi
