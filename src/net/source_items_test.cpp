#include "net/source_items.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/exceptions.h"
#include "net/base64.h"

namespace vyn::mi {
namespace {

using bytes = std::vector<std::uint8_t>;
using testing::ElementsAre;

const source_items sample{
    {"DiskMajoritySN", {'W', 'D', '-', '1'}},
    {"SystemUUID", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0xFF}},
    {"MemorySN", {'A', 0, 'B'}},
    {"BatterySN", {}},
};

TEST(SourceItems, StoredFormReadsBackAsTheSameItems) {
  for (const auto& items : {sample, source_items{}}) {
    EXPECT_EQ(parse_source_items(serialise_source_items(items)), items);
  }
  const bytes one = serialise_source_items({{"AB", {7}}});
  EXPECT_EQ(one, (bytes{1, 0, 0, 0, 2, 0, 0, 0, 'A', 'B', 1, 0, 0, 0, 7}));
}

TEST(SourceItems, StoredFormThatEndsEarly_FailsWithNotEnoughData) {
  const bytes whole = serialise_source_items(sample);
  for (std::size_t size = 0; size < whole.size(); ++size) {
    EXPECT_THAT([&] { parse_source_items(std::span(whole).first(size)); },
                testing::ThrowsMessage<exceptions::error>(testing::StrEq("Not enough data in buffer")))
        << size;
  }
  // A count far beyond what follows, and a length beyond the buffer.
  EXPECT_THROW(parse_source_items(bytes{0xFF, 0xFF, 0xFF, 0xFF}), exceptions::error);
  EXPECT_THROW(parse_source_items(bytes{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 'A'}), exceptions::error);
}

TEST(SourceItems, BytesAfterTheLastItem_Fail) {
  bytes longer = serialise_source_items(sample);
  longer.push_back(0);
  EXPECT_THAT([&] { parse_source_items(longer); },
              testing::ThrowsMessage<exceptions::error>(testing::StrEq("Unexpected data after the source items")));
}

TEST(SourceItems, ChangedItemsAreStoredOnesThatDifferOrWentAway) {
  source_items current = sample;
  EXPECT_TRUE(changed_items(sample, current).empty());
  current["NewItem"] = {1};  // only in the current set: no change
  EXPECT_TRUE(changed_items(sample, current).empty());
  current["MemorySN"] = {'A', 0, 'C'};
  current.erase("BatterySN");
  EXPECT_THAT(changed_items(sample, current), ElementsAre("BatterySN", "MemorySN"));
  EXPECT_THAT(changed_items(sample, {}), ElementsAre("BatterySN", "DiskMajoritySN", "MemorySN", "SystemUUID"));
}

TEST(Base64Strict, KnownVectorsEncodeAndDecode) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : vectors) {
    const std::string text(plain);
    const bytes data(text.begin(), text.end());
    EXPECT_EQ(utils::base64_encode(data), encoded);
    EXPECT_EQ(utils::base64_decode_strict(encoded), data) << encoded;
  }
  const bytes all = [] {
    bytes b(256);
    for (int i = 0; i < 256; ++i) b[i] = static_cast<std::uint8_t>(i);
    return b;
  }();
  EXPECT_EQ(utils::base64_decode_strict(utils::base64_encode(all)), all);
}

TEST(Base64Strict, TextsThatAreNotBase64_GiveNothing) {
  for (const char* bad : {"Zg=", "Zg", "Z===", "Zm9v!mFy", "Zg==Zg==", "=Zg=", "Zm=v", "Zh==", "Zm9=", " Zm9v",
                          "Zm9v\n"}) {
    EXPECT_EQ(utils::base64_decode_strict(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace vyn::mi
