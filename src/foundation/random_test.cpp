#include "foundation/random.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "foundation/random_pool.h"
#include "foundation/sha256.h"

namespace vyn::utils {
namespace {

TEST(RandomPool, Draw_IsFirstEightBytesOfDigestOfPoolAndCounter) {
  const std::uint8_t seed[] = {1, 2, 3};
  random_pool pool(seed);

  // The pool starts as SHA-256(seed); a draw with counter c gives SHA-256(pool || c as 8
  // little-endian bytes), read as a little-endian number.
  root::sha256 hash;
  const auto start = root::digest_of(hash, seed).bytes();
  std::vector<std::uint8_t> message(start);
  for (int i = 0; i < 8; ++i) message.push_back(static_cast<std::uint8_t>(0x1122334455667788ull >> (8 * i)));
  const auto next = root::digest_of(hash, message).bytes();
  std::uint64_t expected = 0;
  for (int i = 7; i >= 0; --i) expected = expected << 8 | next[static_cast<std::size_t>(i)];

  EXPECT_EQ(pool.next(0x1122334455667788ull), expected);
}

TEST(RandomPool, SameCounterTwice_GivesDifferentNumbersBecauseThePoolMoves) {
  const std::uint8_t seed[] = {0};
  random_pool pool(seed);
  const std::uint64_t first = pool.next(7);
  EXPECT_NE(pool.next(7), first);
}

TEST(RandomPool, ProcessSource_GivesDistinctNumbers) {
  std::set<std::uint64_t> seen;
  for (int i = 0; i < 10000; ++i) seen.insert(random_u64());
  EXPECT_EQ(seen.size(), 10000u);
}

TEST(RandomUuid, Generated_IsWellFormedVersion4AndDistinct) {
  const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string uuid = random_uuid();
    ASSERT_TRUE(std::regex_match(uuid, form)) << uuid;
    seen.insert(uuid);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

TEST(RandomUuid, FormatFromHalves_SetsVersionAndVariantAndKeepsOtherBits) {
  EXPECT_EQ(format_uuid_v4(0, 0), "00000000-0000-4000-8000-000000000000");
  EXPECT_EQ(format_uuid_v4(~0ull, ~0ull), "ffffffff-ffff-4fff-bfff-ffffffffffff");
  EXPECT_EQ(format_uuid_v4(0x0123456789abcdefull, 0xfedcba9876543210ull),
            "01234567-89ab-4def-bedc-ba9876543210");
}

}  // namespace
}  // namespace vyn::utils
