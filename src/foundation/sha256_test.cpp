#include "foundation/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vyn::root {
namespace {

using transform_fn = sha256::transform_fn;

// Both transforms where the processor has the hardware one; the plain one everywhere.
std::vector<transform_fn> transforms() {
  std::vector<transform_fn> all{sha256::plain_transform()};
  if (auto hardware = sha256::hardware_transform()) all.push_back(hardware);
  return all;
}

std::string hex_of(transform_fn transform, const std::string& text) {
  sha256 hash(transform);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  return digest_of(hash, {bytes, text.size()}).hex();
}

std::vector<std::uint8_t> pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + (i >> 7));
  return bytes;
}

TEST(Sha256, FipsVectors_MatchForEveryTransform) {
  struct vector_case {
    std::string message, expected;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmno"
       "pqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const transform_fn transform : transforms()) {
    for (const auto& c : cases) {
      EXPECT_EQ(hex_of(transform, c.message), c.expected) << "message length " << c.message.size();
    }
  }
}

TEST(Sha256, ProcessorWithShaExtensions_SelectsHardwareTransform) {
  if (!sha256::hardware_transform()) GTEST_SKIP() << "the processor has no SHA extensions";
  EXPECT_EQ(sha256::selected_transform(), sha256::hardware_transform());
}

TEST(Sha256, HardwareTransform_MatchesPlainForEveryLengthAroundBlockEdges) {
  const transform_fn hardware = sha256::hardware_transform();
  if (!hardware) GTEST_SKIP() << "the processor has no SHA extensions";
  const auto bytes = pattern(600);
  sha256 plain_hash(sha256::plain_transform()), hardware_hash(hardware);
  for (std::size_t length = 0; length <= bytes.size(); ++length) {
    const std::span<const std::uint8_t> part(bytes.data(), length);
    ASSERT_EQ(digest_of(plain_hash, part), digest_of(hardware_hash, part)) << "length " << length;
  }
}

#if defined(__i386__)
// Calls fn(arg) with the stack pointer `shift` bytes off the 16-byte alignment that compiled code
// expects at a call, as a 32-bit Windows caller (a window procedure, a thread's start) may leave it.
__attribute__((naked, noinline)) void call_with_stack_shift(void (*)(void*), void*, unsigned) {
  asm(R"(
    pushl %ebp
    movl %esp, %ebp
    andl $-16, %esp
    subl 16(%ebp), %esp
    subl $12, %esp
    pushl 12(%ebp)
    call *8(%ebp)
    movl %ebp, %esp
    popl %ebp
    ret
  )");
}

TEST(Sha256, HardwareTransform_CalledOnAStackOfAnyAlignment_GivesThePlainDigest) {
  const transform_fn hardware = sha256::hardware_transform();
  if (!hardware) GTEST_SKIP() << "the processor has no SHA extensions";
  struct job {
    transform_fn transform;
    std::vector<std::uint8_t> data;
    digest result;
  };
  const auto run = [](void* arg) {
    auto& j = *static_cast<job*>(arg);
    sha256 hash(j.transform);
    j.result = digest_of(hash, j.data);
  };
  const auto bytes = pattern(1000);
  sha256 plain_hash(sha256::plain_transform());
  const digest expected = digest_of(plain_hash, bytes);
  for (const unsigned shift : {0u, 4u, 8u, 12u}) {
    job j{hardware, bytes, {}};
    call_with_stack_shift(run, &j, shift);
    EXPECT_EQ(j.result, expected) << "stack " << shift << " bytes off its alignment";
  }
}
#endif

TEST(Sha256, UpdatesInUnevenPieces_GiveTheOneShotDigest) {
  const auto bytes = pattern(5000);
  for (const transform_fn transform : transforms()) {
    sha256 hash(transform);
    const digest whole = digest_of(hash, bytes);
    for (const std::size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 127u, 1000u}) {
      hash.reset();
      for (std::size_t at = 0; at < bytes.size(); at += piece) {
        hash.update(bytes.data() + at, std::min(piece, bytes.size() - at));
      }
      EXPECT_EQ(finish_digest(hash), whole) << "pieces of " << piece;
    }
  }
}

TEST(Sha256, ResetAfterFinish_StartsANewMessage) {
  sha256 hash;
  const std::uint8_t abc[] = {'a', 'b', 'c'};
  hash.update(abc, 3);
  (void)finish_digest(hash);
  EXPECT_EQ(digest_of(hash, abc).hex(),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace vyn::root
