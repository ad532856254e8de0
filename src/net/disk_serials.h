#pragma once
// The serial-number queries of a physical drive. Each answers the serial as the drive reports it
// (ASCII, blanks at both ends removed), or an empty text when the query fails; failures are
// logged at debug level with their system error code, since many drives and controllers answer
// only some of the queries.

#include <cstdint>
#include <string>

namespace vyn::mi {

// "\\.\PhysicalDrive<n>" with IOCTL_STORAGE_QUERY_PROPERTY: the storage device descriptor.
std::string descriptor_serial(std::uint32_t drive);

// The two ways of sending the ATA identify command through SMART_RCV_DRIVE_DATA after
// SMART_GET_VERSION: the IDENTIFY DEVICE command addressed by drive number and head, as IDE
// controllers expect; or the command the version query's device map names for the drive
// (IDENTIFY PACKET DEVICE for ATAPI devices), addressed by the drive's own handle.
enum class identify_variant { by_drive_number, by_device_map };
std::string identify_serial(std::uint32_t drive, identify_variant variant);

// "\\.\Scsi<port>:" of the drive's SCSI address with IOCTL_SCSI_MINIPORT, signature "SCSIDISK"
// and the miniport identify command.
std::string miniport_serial(std::uint32_t drive);

}  // namespace vyn::mi
