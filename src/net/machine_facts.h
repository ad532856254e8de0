#pragma once
// Where the machine identifier's inputs come from: the system disk, its serial numbers, the
// hypervisor and the firmware's SMBIOS table. The system's sources query the hardware; tests
// answer from tables.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vyn::mi {

class machine_facts {
 public:
  virtual ~machine_facts() = default;
  // "\\?\Volume{...}\" of the volume that holds the system folder; empty when unknown.
  virtual std::wstring system_volume_name() = 0;
  // The physical drive number of a volume; nothing when the system does not tell it.
  virtual std::optional<std::uint32_t> disk_number(const std::wstring& volume_name) = 0;
  // The four serial-number candidates of a physical drive, in the order the majority rule
  // weighs them: the storage device descriptor, the two identify queries, the SCSI miniport
  // identify. A query that fails leaves its candidate empty.
  virtual std::array<std::string, 4> disk_serials(std::uint32_t drive) = 0;
  // True when the processor reports a hypervisor whose vendor text is "Microsoft Hv".
  virtual bool hyper_v_guest() = 0;
  // The SMBIOS structure table without the system's 8-byte header; nothing when unreadable.
  virtual std::optional<std::vector<std::uint8_t>> smbios_table() = 0;
};

// The sources of the running system.
machine_facts& system_machine_facts();

}  // namespace vyn::mi
