#include "net/midex.h"

#include <algorithm>

#include <fmt/format.h>

#include "foundation/exceptions.h"
#include "foundation/log.h"
#include "net/machine_items.h"
#include "net/md5.h"

namespace vyn::mi {
namespace {

constexpr std::uint32_t invalid_parameter = 87;

std::span<const std::uint8_t> bytes_of(const std::string& text) {
  return std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// The disk digest: the majority serial of the system disk, or in mode 2 the system volume's GUID.
md5_digest disk_digest(int mode, machine_facts& facts, source_items& items) {
  const std::wstring volume = facts.system_volume_name();
  if (!volume.empty() && !(mode == 2 && facts.hyper_v_guest())) {
    if (const auto drive = facts.disk_number(volume)) {
      if (const auto serial = majority_serial(facts.disk_serials(*drive))) {
        const auto bytes = bytes_of(*serial);
        items["DiskMajoritySN"].assign(bytes.begin(), bytes.end());
        return md5(bytes);
      }
    }
  }
  if (mode == 2) {
    if (const auto guid = volume_guid_bytes(volume)) {
      items["SystemVolumeGUID"].assign(guid->begin(), guid->end());
      return md5(*guid);
    }
  }
  return {};
}

md5_digest firmware_digest(int mode, machine_facts& facts, source_items& items) {
  const auto table = facts.smbios_table();
  if (!table) return {};
  const auto found = firmware_items(*table, mode);
  if (found.empty()) return {};
  md5_hash hash;
  for (const auto& item : found) {
    hash.update(item.bytes);
    items[item.name] = item.bytes;
  }
  return hash.finish();
}

std::string item_names(const source_items& items) {
  std::string names;
  for (const auto& item : items) names += (names.empty() ? "" : ", ") + item.first;
  return names;
}

}  // namespace

machine_identifier compute_machine_identifier(int mode, machine_facts& facts) {
  machine_identifier id;
  const md5_digest disk = disk_digest(mode, facts, id.items);
  const md5_digest firmware = firmware_digest(mode, facts, id.items);
  std::copy(disk.begin(), disk.end(), id.full.begin());
  std::copy(firmware.begin(), firmware.end(), id.full.begin() + disk.size());
  id.digest = md5(id.full);
  VYN_LOG_DEBUG("Machine identifier of mode {} computed from: {}", mode, item_names(id.items));
  return id;
}

identifier_cache& process_identifier_cache() {
  static identifier_cache cache;
  return cache;
}

midex::midex() : midex(system_machine_facts(), process_identifier_cache()) {}

std::vector<std::uint8_t> midex::get(int mode, std::size_t length, source_items* items) {
  if (length != 16 && length != 32) {
    VYN_LOG_ERROR("Unsupported midex length: {}", length);
    throw exceptions::error(invalid_parameter, fmt::format("Unsupported midex length: {}", length));
  }
  if (mode != 1 && mode != 2) {
    VYN_LOG_ERROR("Unsupported midex mode: {}", mode);
    throw exceptions::error(invalid_parameter, fmt::format("Unsupported midex mode: {}", mode));
  }
  const std::lock_guard lock(cache_.lock);
  auto& cached = cache_.modes[mode - 1];
  std::optional<machine_identifier> computed;
  if (!cached) {
    try {
      computed = compute_machine_identifier(mode, facts_);
    } catch (const exceptions::detail::base& e) {
      VYN_LOG_EXC(log::level::error, e, "Failed to get midex");
      throw exceptions::error(e.code(), "Failed to get midex");
    }
    // Without any item the result says nothing about the machine: try again next time.
    if (!computed->items.empty()) cached = std::move(computed);
  }
  const machine_identifier& id = cached ? *cached : *computed;
  if (items) *items = id.items;
  if (length == 32) return {id.full.begin(), id.full.end()};
  return {id.digest.begin(), id.digest.end()};
}

std::wstring hardware_id_text(midex_intf& source) { return upper_hex(source.get(1, 32, nullptr)); }

std::wstring hardware_id_text() {
  midex system;
  return hardware_id_text(system);
}

}  // namespace vyn::mi
