#include "net/machine_items.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>

namespace vyn::mi {
namespace {

using bytes = std::vector<std::uint8_t>;

bytes text(std::string_view s) { return bytes(s.begin(), s.end()); }

// One SMBIOS structure: header, the rest of its formatted area, then its strings.
bytes structure(std::uint8_t type, bytes formatted_rest, std::initializer_list<std::string_view> strings) {
  bytes s = formatted_rest;
  const std::uint8_t header[] = {type, static_cast<std::uint8_t>(4 + formatted_rest.size()), 0x00, 0x01};
  s.insert(s.begin(), std::begin(header), std::end(header));
  for (const auto str : strings) {
    s.insert(s.end(), str.begin(), str.end());
    s.push_back(0);
  }
  if (strings.size() == 0) s.push_back(0);
  s.push_back(0);
  return s;
}

// A formatted area of length bytes after the header, string numbers placed at their offsets.
bytes area(std::size_t length, std::initializer_list<std::pair<std::size_t, std::uint8_t>> at) {
  bytes a(length - 4, 0);
  for (const auto& [offset, value] : at) a[offset - 4] = value;
  return a;
}

bytes with_bytes(bytes a, std::size_t offset, const bytes& value) {
  std::copy(value.begin(), value.end(), a.begin() + static_cast<std::ptrdiff_t>(offset - 4));
  return a;
}

bytes concat(std::initializer_list<bytes> parts) {
  bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const bytes uuid{0x10, 0x32, 0x54, 0x76, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
const bytes processor_id{0xA1, 0xB2, 0, 0, 0xFF, 0xFB, 0x8B, 0x17};

// A table holding every item once, each value naming its item.
bytes full_table() {
  return concat({
      structure(0, area(0x12, {{0x04, 1}}), {"bios vendor"}),
      structure(1, with_bytes(area(0x1B, {{0x07, 2}}), 0x08, uuid), {"maker", "  SYS-SN "}),
      structure(2, area(0x0F, {{0x07, 1}, {0x08, 2}}), {"BOARD-SN", "BOARD-TAG"}),
      structure(3, area(0x15, {{0x07, 1}, {0x08, 2}}), {"ENC-SN", "ENC-TAG"}),
      structure(4, with_bytes(area(0x2A, {{0x20, 1}, {0x21, 2}}), 0x08, processor_id), {"CPU-SN", "CPU-TAG"}),
      structure(17, area(0x28, {{0x18, 1}, {0x19, 2}, {0x1A, 3}}), {"MEM-SN", "MEM-TAG", "MEM-PN"}),
      structure(22, area(0x1A, {{0x07, 1}}), {"BAT-SN"}),
      structure(39, area(0x16, {{0x08, 1}, {0x09, 2}, {0x0A, 3}}), {"PSU-SN", "PSU-TAG", "PSU-PN"}),
      structure(127, {}, {}),
  });
}

std::vector<std::string> names(const std::vector<named_bytes>& items) {
  std::vector<std::string> out;
  for (const auto& item : items) out.push_back(item.name);
  return out;
}

TEST(MajoritySerial, MostAgreedNonEmptyCandidateWinsAndEarlierOneOnATie) {
  struct row {
    std::array<std::string, 4> candidates;
    std::optional<std::string> expected;
  };
  const row rows[] = {
      {{"A", "A", "B", ""}, "A"},
      {{"", "B", "A", "A"}, "A"},
      {{"B", "A", "B", "A"}, "B"},  // tie of two pairs: the earlier
      {{"A", "B", "", ""}, "A"},    // no agreement at all: the earlier
      {{"", "", "", "X"}, "X"},
      {{"", "", "", ""}, std::nullopt},
      {{"", "C", "C", "C"}, "C"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(majority_serial(r.candidates), r.expected) << r.candidates[0] << "|" << r.candidates[1] << "|"
                                                         << r.candidates[2] << "|" << r.candidates[3];
  }
}

TEST(VolumeGuid, VolumeNameGivesTheGuidInMemoryOrder) {
  const std::array<std::uint8_t, 16> expected{0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                              0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(volume_guid_bytes(L"\\\\?\\Volume{00112233-4455-6677-8899-aabbccddeeff}\\"), expected);
  EXPECT_EQ(volume_guid_bytes(L"\\\\?\\Volume{00112233-4455-6677-8899-AABBCCDDEEFF}"), expected);
  for (const wchar_t* bad : {L"", L"C:\\", L"\\\\?\\Volume{00112233-4455-6677-8899-aabbccddeef}\\",
                             L"\\\\?\\Volume{0011223g-4455-6677-8899-aabbccddeeff}\\",
                             L"\\\\?\\Volume{00112233+4455-6677-8899-aabbccddeeff}\\"}) {
    EXPECT_EQ(volume_guid_bytes(bad), std::nullopt) << bad;
  }
}

TEST(FirmwareItems, EachModeReadsItsItemsInDigestOrder) {
  const auto table = full_table();
  EXPECT_THAT(names(firmware_items(table, 1)),
              testing::ElementsAre("SystemInformationSN", "BoardInformationSN", "BoardInformationTAG",
                                   "EnclosureInformatonSN", "EnclosureInformatonTAG", "ProcessorSN", "ProcessorTAG",
                                   "MemoryPN", "MemorySN", "MemoryTAG", "BatterySN", "PowerSupplyPN", "PowerSupplySN",
                                   "PowerSupplyTAG", "SystemUUID", "ProcessorID"));
  const auto second = firmware_items(table, 2);
  EXPECT_THAT(names(second),
              testing::ElementsAre("SystemInformationSN", "BoardInformationSN", "BoardInformationTAG", "SystemUUID"));
  EXPECT_EQ(second[0].bytes, text("SYS-SN"));  // blanks at both ends removed
  EXPECT_EQ(second[3].bytes, uuid);
  const auto first = firmware_items(table, 1);
  EXPECT_EQ(first[7].bytes, text("MEM-PN"));
  EXPECT_EQ(first[13].bytes, text("PSU-TAG"));
  EXPECT_EQ(first[15].bytes, processor_id);
}

TEST(FirmwareItems, SeveralStructuresOfATypeAreJoinedAndEmptyValuesLeftOut) {
  const auto table = concat({
      structure(17, area(0x28, {{0x18, 1}}), {"SN-1"}),
      structure(17, area(0x28, {{0x18, 1}}), {"   "}),  // blanks only
      structure(17, area(0x28, {{0x18, 0}}), {}),       // no string
      structure(17, area(0x28, {{0x18, 3}}), {"x"}),    // a number past the strings
      structure(17, area(0x28, {{0x18, 1}}), {"SN-2"}),
  });
  const auto items = firmware_items(table, 1);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].name, "MemorySN");
  EXPECT_EQ(items[0].bytes, text(std::string_view("SN-1\0SN-2", 9)));
}

TEST(FirmwareItems, UnsetOrMissingFieldsAreNoItems) {
  const auto zeros = bytes(16, 0), ones = bytes(16, 0xFF);
  const bytes table_rows[] = {
      structure(1, with_bytes(area(0x1B, {}), 0x08, zeros), {}),
      structure(1, with_bytes(area(0x1B, {}), 0x08, ones), {}),
      structure(1, area(0x08, {{0x07, 1}}), {"  "}),  // too short for the UUID (SMBIOS 2.0)
      structure(4, area(0x1A, {}), {}),             // too short for serial and tag
  };
  for (const auto& table : table_rows) EXPECT_TRUE(firmware_items(table, 1).empty());
}

TEST(FirmwareItems, DamagedTablesYieldTheStructuresBeforeTheDamage) {
  const auto good = structure(2, area(0x0F, {{0x07, 1}}), {"BOARD-SN"});
  const auto later = structure(1, area(0x1B, {{0x07, 1}}), {"SYS-SN"});
  bytes short_header = later;
  short_header[1] = 3;
  bytes unterminated = later;
  unterminated.resize(unterminated.size() - 1);
  bytes past_end = later;
  past_end[1] = 0xFF;
  const bytes end = structure(127, {}, {});
  for (const auto& rest : {short_header, unterminated, past_end, concat({end, later})}) {
    const auto items = firmware_items(concat({good, rest}), 2);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, "BoardInformationSN");
  }
  EXPECT_TRUE(firmware_items({}, 1).empty());
  EXPECT_TRUE(firmware_items(bytes{1, 2}, 1).empty());
}

TEST(UpperHex, TwoUpperCaseDigitsPerByte) {
  EXPECT_EQ(upper_hex(bytes{0x00, 0x0F, 0xA5, 0xFF}), L"000FA5FF");
  EXPECT_EQ(upper_hex(bytes{}), L"");
}

}  // namespace
}  // namespace vyn::mi
