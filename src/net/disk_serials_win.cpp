#include "net/disk_serials.h"

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "foundation/handle.h"
#include "foundation/log.h"
#include "foundation/strings.h"

namespace vyn::mi {
namespace {

// The miniport's identify command (FILE_DEVICE_SCSI << 16 | 0x0501), which the system headers
// leave out.
constexpr DWORD miniport_identify = 0x001B0501;
constexpr std::size_t serial_offset = 20;  // bytes: words 10 to 19 of the identify data
constexpr std::size_t serial_size = 20;

std::string trimmed(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// The serial of 512 bytes of identify data, whose words hold their characters high byte first.
std::string identify_data_serial(const std::uint8_t* data) {
  std::string serial(serial_size, '\0');
  for (std::size_t i = 0; i < serial_size; i += 2) {
    serial[i] = static_cast<char>(data[serial_offset + i + 1]);
    serial[i + 1] = static_cast<char>(data[serial_offset + i]);
  }
  return trimmed(serial);
}

win::unique_handle open_device(const std::wstring& name, DWORD access) {
  return win::unique_handle(::CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
}

std::wstring drive_name(std::uint32_t drive) { return utils::to_wide(fmt::format("\\\\.\\PhysicalDrive{}", drive)); }

std::string failed(const char* query, std::uint32_t drive) {
  VYN_LOG_DEBUG("Disk query {} of drive {} failed ({}).", query, drive, ::GetLastError());
  return {};
}

bool control(HANDLE device, DWORD code, void* in, DWORD in_size, void* out, DWORD out_size) {
  DWORD returned = 0;
  return ::DeviceIoControl(device, code, in, in_size, out, out_size, &returned, nullptr) != 0;
}

SENDCMDINPARAMS identify_command(BYTE command, BYTE drive_number, BYTE head) {
  SENDCMDINPARAMS in{};
  in.cBufferSize = IDENTIFY_BUFFER_SIZE;
  in.irDriveRegs.bSectorCountReg = 1;
  in.irDriveRegs.bSectorNumberReg = 1;
  in.irDriveRegs.bDriveHeadReg = head;
  in.irDriveRegs.bCommandReg = command;
  in.bDriveNumber = drive_number;
  return in;
}

}  // namespace

std::string descriptor_serial(std::uint32_t drive) {
  const auto device = open_device(drive_name(drive), 0);
  if (!device) return failed("storage property", drive);
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  std::vector<std::uint8_t> out(4096);
  DWORD returned = 0;
  if (!::DeviceIoControl(device.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), out.data(),
                         static_cast<DWORD>(out.size()), &returned, nullptr)) {
    return failed("storage property", drive);
  }
  STORAGE_DEVICE_DESCRIPTOR descriptor{};
  std::memcpy(&descriptor, out.data(), std::min<std::size_t>(returned, sizeof(descriptor)));
  const DWORD offset = returned >= sizeof(descriptor) ? descriptor.SerialNumberOffset : 0;
  if (offset == 0 || offset >= returned) {
    VYN_LOG_DEBUG("Disk query storage property of drive {} names no serial number.", drive);
    return {};
  }
  return trimmed(std::string_view(reinterpret_cast<const char*>(out.data()) + offset, returned - offset));
}

std::string identify_serial(std::uint32_t drive, identify_variant variant) {
  const char* name = variant == identify_variant::by_drive_number ? "SMART identify" : "SMART device-map identify";
  const auto device = open_device(drive_name(drive), GENERIC_READ | GENERIC_WRITE);
  GETVERSIONINPARAMS version{};
  if (!device || !control(device.get(), SMART_GET_VERSION, nullptr, 0, &version, sizeof(version))) {
    return failed(name, drive);
  }
  SENDCMDINPARAMS in{};
  if (variant == identify_variant::by_drive_number) {
    if ((version.fCapabilities & CAP_ATA_ID_CMD) == 0) return {};
    in = identify_command(ID_CMD, static_cast<BYTE>(drive), static_cast<BYTE>(0xA0 | ((drive & 1) << 4)));
  } else {
    // The map has a bit per device for ATA (bits 0 to 3) and for ATAPI (bits 4 to 7).
    const bool packet = (version.bIDEDeviceMap & (0x10u << (drive & 3))) != 0;
    if ((version.fCapabilities & (packet ? CAP_ATAPI_ID_CMD : CAP_ATA_ID_CMD)) == 0) return {};
    in = identify_command(packet ? ATAPI_ID_CMD : ID_CMD, 0, 0xA0);
  }
  std::vector<std::uint8_t> out(sizeof(SENDCMDOUTPARAMS) + IDENTIFY_BUFFER_SIZE);
  if (!control(device.get(), SMART_RCV_DRIVE_DATA, &in, sizeof(in), out.data(), static_cast<DWORD>(out.size()))) {
    return failed(name, drive);
  }
  return identify_data_serial(out.data() + offsetof(SENDCMDOUTPARAMS, bBuffer));
}

std::string miniport_serial(std::uint32_t drive) {
  SCSI_ADDRESS address{};
  {
    const auto disk = open_device(drive_name(drive), 0);
    if (!disk || !control(disk.get(), IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, sizeof(address))) {
      return failed("SCSI address", drive);
    }
  }
  const auto port =
      open_device(utils::to_wide(fmt::format("\\\\.\\Scsi{}:", address.PortNumber)), GENERIC_READ | GENERIC_WRITE);
  if (!port) return failed("SCSI miniport identify", drive);

  // The request is the control header followed by the command; the answer replaces the command
  // with its output parameters and the identify data.
  constexpr std::size_t header = sizeof(SRB_IO_CONTROL);
  constexpr std::size_t answer = sizeof(SENDCMDOUTPARAMS) + IDENTIFY_BUFFER_SIZE;
  std::vector<std::uint8_t> buffer(header + answer);
  SRB_IO_CONTROL control_block{};
  control_block.HeaderLength = header;
  std::memcpy(control_block.Signature, "SCSIDISK", 8);
  control_block.Timeout = 2;  // seconds
  control_block.ControlCode = miniport_identify;
  control_block.Length = answer;
  std::memcpy(buffer.data(), &control_block, header);
  const SENDCMDINPARAMS in = identify_command(ID_CMD, address.TargetId, static_cast<BYTE>(0xA0 | ((address.TargetId & 1) << 4)));
  std::memcpy(buffer.data() + header, &in, sizeof(in));
  if (!control(port.get(), IOCTL_SCSI_MINIPORT, buffer.data(), static_cast<DWORD>(buffer.size()), buffer.data(),
               static_cast<DWORD>(buffer.size()))) {
    return failed("SCSI miniport identify", drive);
  }
  return identify_data_serial(buffer.data() + header + offsetof(SENDCMDOUTPARAMS, bBuffer));
}

}  // namespace vyn::mi
