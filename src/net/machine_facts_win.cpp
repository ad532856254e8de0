#include <windows.h>
#include <winioctl.h>

#include <cpuid.h>

#include <algorithm>
#include <cstring>

#include "foundation/handle.h"
#include "foundation/log.h"
#include "foundation/strings.h"
#include "net/disk_serials.h"
#include "net/machine_facts.h"

namespace vyn::mi {
namespace {

constexpr DWORD raw_smbios_provider = 0x52534D42;  // 'RSMB'
constexpr std::size_t raw_smbios_header = 8;  // calling method, major, minor, revision, length

class system_facts final : public machine_facts {
 public:
  std::wstring system_volume_name() override {
    wchar_t system[MAX_PATH] = {};
    wchar_t mount_point[MAX_PATH] = {};
    wchar_t volume[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !::GetVolumePathNameW(system, mount_point, MAX_PATH) ||
        !::GetVolumeNameForVolumeMountPointW(mount_point, volume, MAX_PATH)) {
      VYN_LOG_DEBUG("The system volume is unknown ({}).", ::GetLastError());
      return {};
    }
    return volume;
  }

  std::optional<std::uint32_t> disk_number(const std::wstring& volume_name) override {
    // The volume itself is opened by its name without the trailing backslash.
    std::wstring device = volume_name;
    if (device.ends_with(L'\\')) device.pop_back();
    const win::unique_handle volume(::CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
    STORAGE_DEVICE_NUMBER number{};
    DWORD returned = 0;
    if (!volume || !::DeviceIoControl(volume.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                      sizeof(number), &returned, nullptr)) {
      VYN_LOG_DEBUG("The disk of volume '{}' is unknown ({}).", utils::to_log(volume_name), ::GetLastError());
      return std::nullopt;
    }
    return number.DeviceNumber;
  }

  std::array<std::string, 4> disk_serials(std::uint32_t drive) override {
    return {descriptor_serial(drive), identify_serial(drive, identify_variant::by_drive_number),
            identify_serial(drive, identify_variant::by_device_map), miniport_serial(drive)};
  }

  bool hyper_v_guest() override {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || (c & (1u << 31)) == 0) return false;
    __cpuid(0x40000000, a, b, c, d);
    char vendor[12];
    std::memcpy(vendor, &b, 4);
    std::memcpy(vendor + 4, &c, 4);
    std::memcpy(vendor + 8, &d, 4);
    return std::memcmp(vendor, "Microsoft Hv", 12) == 0;
  }

  std::optional<std::vector<std::uint8_t>> smbios_table() override {
    // Every system the program loads on (it imports functions of Windows Vista and later) has
    // the firmware table query, so the physical-memory section that older systems offered
    // instead is not read.
    // The table can change size between the two calls (hot-plugged memory): ask again then.
    for (int attempt = 0; attempt < 3; ++attempt) {
      const UINT size = ::GetSystemFirmwareTable(raw_smbios_provider, 0, nullptr, 0);
      if (size <= raw_smbios_header) break;
      std::vector<std::uint8_t> raw(size);
      const UINT read = ::GetSystemFirmwareTable(raw_smbios_provider, 0, raw.data(), size);
      if (read > size) continue;
      if (read <= raw_smbios_header) break;
      DWORD length = 0;
      std::memcpy(&length, raw.data() + 4, sizeof(length));
      const std::size_t available = read - raw_smbios_header;
      raw.resize(raw_smbios_header + std::min<std::size_t>(length, available));
      raw.erase(raw.begin(), raw.begin() + raw_smbios_header);
      return raw;
    }
    VYN_LOG_DEBUG("The SMBIOS table cannot be read ({}).", ::GetLastError());
    return std::nullopt;
  }
};

}  // namespace

machine_facts& system_machine_facts() {
  static system_facts facts;
  return facts;
}

}  // namespace vyn::mi
