#include "net/midex.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "foundation/exceptions.h"
#include "net/machine_items.h"
#include "net/md5.h"

namespace vyn::mi {
namespace {

using bytes = std::vector<std::uint8_t>;
using testing::ElementsAre;
using testing::Key;

bytes text(std::string_view s) { return bytes(s.begin(), s.end()); }

bytes hex(std::string_view digits) {
  bytes out;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(digits.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

bytes join(const bytes& a, const bytes& b) {
  bytes all = a;
  all.insert(all.end(), b.begin(), b.end());
  return all;
}

bytes md5_of(const bytes& data) {
  const auto digest = md5(data);
  return {digest.begin(), digest.end()};
}

const bytes zeros(16, 0);
const bytes volume_guid = hex("3322110055447766" "8899aabbccddeeff");

// A system serial number (both modes) and a battery serial number (mode 1 only).
const bytes two_item_table{1, 8, 0, 0, 0, 0, 0, 1, 'S', 'Y', 'S', 0, 0,
                           22, 8, 1, 0, 0, 0, 0, 1, 'B', 'A', 'T', 0, 0};

class fake_facts : public machine_facts {
 public:
  std::wstring system_volume_name() override { return volume; }
  std::optional<std::uint32_t> disk_number(const std::wstring& name) override {
    EXPECT_EQ(name, volume);
    return disk;
  }
  std::array<std::string, 4> disk_serials(std::uint32_t drive) override {
    EXPECT_EQ(drive, 3u);
    ++serial_queries;
    return serials;
  }
  bool hyper_v_guest() override { return hyper_v; }
  std::optional<bytes> smbios_table() override {
    ++table_reads;
    return table;
  }

  std::wstring volume = L"\\\\?\\Volume{00112233-4455-6677-8899-aabbccddeeff}\\";
  std::optional<std::uint32_t> disk = 3;
  std::array<std::string, 4> serials{"OTHER", "", "WD-1", "WD-1"};
  bool hyper_v = false;
  std::optional<bytes> table = two_item_table;
  int serial_queries = 0;
  int table_reads = 0;
};

class Midex : public testing::Test {
 protected:
  bytes get(int mode, std::size_t length, source_items* items = nullptr) {
    return midex(facts_, cache_).get(mode, length, items);
  }

  fake_facts facts_;
  identifier_cache cache_;
};

TEST(Md5, Rfc1321TestSuite) {
  const std::pair<std::string, const char*> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {[] {
         std::string eight;
         for (int i = 0; i < 8; ++i) eight += "1234567890";
         return eight;
       }(),
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [message, digest] : suite) EXPECT_EQ(md5_of(text(message)), hex(digest)) << message;
  md5_hash pieces;
  pieces.update(text("message "));
  pieces.update({});
  pieces.update(text("digest"));
  const auto digest = pieces.finish();
  EXPECT_EQ(bytes(digest.begin(), digest.end()), hex("f96b697d7cb7938d525a2f31aaf161d0"));
}

TEST_F(Midex, BothModes_DigestTheMajoritySerialAndTheirFirmwareItems) {
  source_items items;
  const bytes first = get(1, 32, &items);
  EXPECT_EQ(first, join(md5_of(text("WD-1")), md5_of(text("SYSBAT"))));
  EXPECT_THAT(items, ElementsAre(Key("BatterySN"), Key("DiskMajoritySN"), Key("SystemInformationSN")));
  EXPECT_EQ(items["DiskMajoritySN"], text("WD-1"));
  EXPECT_EQ(get(1, 16), md5_of(first));

  const bytes second = get(2, 32, &items);
  EXPECT_EQ(second, join(md5_of(text("WD-1")), md5_of(text("SYS"))));
  EXPECT_THAT(items, ElementsAre(Key("DiskMajoritySN"), Key("SystemInformationSN")));
  EXPECT_EQ(get(2, 16), md5_of(second));
}

TEST_F(Midex, HyperVGuest_SecondModeTakesTheVolumeGuidAndFirstModeStillReadsTheDisk) {
  facts_.hyper_v = true;
  source_items items;
  EXPECT_EQ(get(2, 32, &items), join(md5_of(volume_guid), md5_of(text("SYS"))));
  EXPECT_EQ(facts_.serial_queries, 0);
  EXPECT_EQ(items["SystemVolumeGUID"], volume_guid);
  EXPECT_FALSE(items.contains("DiskMajoritySN"));
  EXPECT_EQ(get(1, 32), join(md5_of(text("WD-1")), md5_of(text("SYSBAT"))));
  EXPECT_EQ(facts_.serial_queries, 1);
}

TEST_F(Midex, WithoutASerial_OnlyTheSecondModeFallsBackToTheVolumeGuid) {
  struct row {
    const char* situation;
    void (*change)(fake_facts&);
  };
  const row rows[] = {
      {"no serial answered", [](fake_facts& f) { f.serials = {"", "", "", ""}; }},
      {"disk number unknown", [](fake_facts& f) { f.disk = std::nullopt; }},
  };
  for (const auto& r : rows) {
    fake_facts facts;
    r.change(facts);
    identifier_cache cache;
    source_items items;
    EXPECT_EQ(midex(facts, cache).get(2, 32, &items), join(md5_of(volume_guid), md5_of(text("SYS")))) << r.situation;
    EXPECT_TRUE(items.contains("SystemVolumeGUID")) << r.situation;
    EXPECT_EQ(midex(facts, cache).get(1, 32, &items), join(zeros, md5_of(text("SYSBAT")))) << r.situation;
    EXPECT_FALSE(items.contains("SystemVolumeGUID")) << r.situation;
  }
}

TEST_F(Midex, SecondCall_ReturnsTheCachedIdentifierWithoutAskingTheHardware) {
  source_items first_items;
  const bytes first = get(1, 32, &first_items);
  facts_.serials = {"CHANGED", "", "", ""};
  facts_.table = std::nullopt;
  source_items again;
  EXPECT_EQ(get(1, 32, &again), first);
  EXPECT_EQ(again, first_items);
  EXPECT_EQ(facts_.serial_queries, 1);
  EXPECT_EQ(facts_.table_reads, 1);
  get(2, 16);  // the other mode is computed on its own
  EXPECT_EQ(facts_.table_reads, 2);
}

TEST_F(Midex, NothingContributed_ZeroDigestsAndComputedAgainNextTime) {
  facts_.volume.clear();
  facts_.table = std::nullopt;
  source_items items{{"stale", {1}}};
  EXPECT_EQ(get(2, 32, &items), bytes(32, 0));
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(get(2, 16), md5_of(bytes(32, 0)));
  EXPECT_EQ(facts_.table_reads, 2);
  facts_.table = two_item_table;
  EXPECT_EQ(get(2, 32), join(zeros, md5_of(text("SYS"))));
}

TEST_F(Midex, ConcurrentCalls_ComputeOnce) {
  std::vector<std::thread> threads;
  std::vector<bytes> results(4);
  for (auto& result : results) threads.emplace_back([&] { result = get(1, 32); });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(facts_.table_reads, 1);
  for (const auto& result : results) EXPECT_EQ(result, results[0]);
}

TEST_F(Midex, UnsupportedLengthOrMode_FailsWithInvalidParameter) {
  const std::pair<int, std::size_t> calls[] = {{1, 0}, {1, 15}, {2, 20}, {1, 64}, {0, 16}, {3, 32}};
  for (const auto& [mode, length] : calls) {
    try {
      get(mode, length);
      ADD_FAILURE() << mode << " " << length;
    } catch (const exceptions::error& e) {
      EXPECT_EQ(e.code(), 87u);
      EXPECT_EQ(e.message(), length == 16 || length == 32 ? "Unsupported midex mode: " + std::to_string(mode)
                                                           : "Unsupported midex length: " + std::to_string(length));
    }
  }
  EXPECT_EQ(facts_.table_reads, 0);
}

}  // namespace
}  // namespace vyn::mi
