// The project decodes with a patched copy of the LZMA SDK's decoder (third_party/lzma-sdk). These
// tests hold it against the SDK's decoder as Debian ships it: for the same calls, both must return
// the same results, statuses, consumed input and output, on good, damaged and cut streams and with
// the input and output offered in pieces of every size.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "payload/testing/lzma_agreement.h"

namespace vyn::packers::testing {
namespace {

using bytes = std::vector<std::uint8_t>;

// Text, noise, long runs and far repeats: literals, matched literals, short and long matches,
// repeated distances and every distance slot get their turn.
bytes mixed_content(std::size_t size, std::uint32_t seed) {
  static const char words[] = "payload record alias stream dictionary setup master channel kestro ";
  lcg rng{seed};
  bytes out;
  while (out.size() < size) {
    switch (rng.below(5)) {
      case 0:
        for (int i = rng.below(40); i >= 0; --i) out.push_back(static_cast<std::uint8_t>(rng.next() >> 24));
        break;
      case 1:
        out.insert(out.end(), rng.below(300), static_cast<std::uint8_t>(rng.next() >> 24));
        break;
      case 2:
        if (out.size() > 16) {  // a copy from anywhere before, slightly changed
          const std::size_t from = rng.below(static_cast<std::uint32_t>(out.size() - 8));
          const auto longest = static_cast<std::uint32_t>(std::min<std::size_t>(out.size() - from - 8, 600));
          const std::size_t length = 8 + rng.below(longest);
          for (std::size_t i = 0; i < length; ++i) out.push_back(out[from + i]);
          out.back() ^= 1;
        }
        break;
      default: {
        const std::size_t at = rng.below(sizeof(words) - 10);
        out.insert(out.end(), words + at, words + at + 10);
      }
    }
  }
  out.resize(size);
  return out;
}

lzma_trace run(lzma_decoder_kind kind, const bytes& stream, std::uint32_t seed, bool finish_at_end) {
  return decode_traced(kind, stream.data(), stream.size(), seed, finish_at_end);
}

void expect_agreement(const bytes& stream, std::uint32_t seed, bool finish_at_end = false) {
  const lzma_trace ours = run(lzma_decoder_kind::patched, stream, seed, finish_at_end);
  const lzma_trace theirs = run(lzma_decoder_kind::reference, stream, seed, finish_at_end);
  EXPECT_EQ(ours.last_result, theirs.last_result) << "seed " << seed;
  EXPECT_EQ(ours.last_status, theirs.last_status) << "seed " << seed;
  EXPECT_EQ(ours.output.size(), theirs.output.size()) << "seed " << seed;
  EXPECT_TRUE(ours == theirs) << "seed " << seed;
}

TEST(LzmaDecoderAgreement, GoodStreams_EveryPropertyMix_DecodeAlikeAndRestoreTheData) {
  const sdk_stream_options mixes[] = {
      {},
      {.end_marker = true},
      {.lc = 0, .lp = 0, .pb = 0},
      {.lc = 8, .lp = 0, .pb = 0, .end_marker = true},
      {.lc = 1, .lp = 4, .pb = 4},
      {.lc = 4, .lp = 2, .pb = 1, .dictionary = 4096},  // smaller than the data: the buffer wraps
      {.lc = 3, .lp = 1, .pb = 3, .dictionary = 5000, .end_marker = true},
  };
  std::uint32_t seed = 0;
  for (const sdk_stream_options& mix : mixes) {
    const bytes data = mixed_content(150000, 7 + seed);
    const bytes stream = encode_with_sdk(data, mix);
    SCOPED_TRACE(::testing::Message() << "lc " << mix.lc << " lp " << mix.lp << " pb " << mix.pb << " dictionary "
                                    << mix.dictionary << " end marker " << mix.end_marker);
    const lzma_trace whole = run(lzma_decoder_kind::patched, stream, 0, false);
    EXPECT_EQ(whole.output, data);
    EXPECT_EQ(whole.last_result, SZ_OK);
    expect_agreement(stream, 0);
    expect_agreement(stream, 0, true);
    for (int pieces = 0; pieces < 4; ++pieces) expect_agreement(stream, ++seed, pieces % 2 == 1);
  }
}

// A literal right after a match is coded against the byte the match would have continued with,
// and the decoder follows that byte's bits until the literal's first differing bit. A block that
// comes back again and again with one byte changed in a single bit makes that bit every one of
// the eight in turn, at the first, last and middle positions of the block.
TEST(LzmaDecoderAgreement, LiteralsDepartingFromTheMatchByteAtEachBit_DecodeAlike) {
  lcg rng{99};
  bytes block(256);
  for (std::uint8_t& b : block) b = static_cast<std::uint8_t>(rng.next() >> 24);
  bytes data = block;
  for (int round = 0; round < 96; ++round) {
    bytes copy = block;
    const std::size_t at = round % 3 == 0 ? 0 : round % 3 == 1 ? block.size() - 1 : 100 + round;
    copy[at] ^= static_cast<std::uint8_t>(1u << (round % 8));
    data.insert(data.end(), copy.begin(), copy.end());
  }
  for (const sdk_stream_options& mix : {sdk_stream_options{}, sdk_stream_options{.lc = 0, .lp = 2, .pb = 0}}) {
    const bytes stream = encode_with_sdk(data, mix);
    EXPECT_EQ(run(lzma_decoder_kind::patched, stream, 0, false).output, data);
    expect_agreement(stream, 0);
    expect_agreement(stream, 5, true);
  }
}

TEST(LzmaDecoderAgreement, DamagedStreams_FailOrDecodeExactlyAlike) {
  const bytes data = mixed_content(40000, 3);
  const bytes streams[] = {encode_with_sdk(data, {}),
                           encode_with_sdk(data, {.lc = 0, .lp = 2, .pb = 0, .end_marker = true}),
                           encode_with_sdk(data, {.dictionary = 4096})};
  lcg rng{99};
  int failures = 0;
  for (int round = 0; round < 240; ++round) {
    bytes damaged = streams[round % 3];
    const int flips = 1 + static_cast<int>(rng.below(3));
    for (int i = 0; i < flips; ++i) {
      const std::size_t at = 13 + rng.below(static_cast<std::uint32_t>(damaged.size() - 13));
      damaged[at] ^= static_cast<std::uint8_t>(1u << rng.below(8));
    }
    const std::uint32_t seed = round % 4 == 0 ? 0 : 1000 + round;
    expect_agreement(damaged, seed, round % 2 == 0);
    failures += run(lzma_decoder_kind::patched, damaged, seed, round % 2 == 0).last_result != SZ_OK;
  }
  EXPECT_GT(failures, 24);  // the damage did reach the decoder's error paths
}

TEST(LzmaDecoderAgreement, CutStreamsAndNoise_StopAlike) {
  const bytes stream = encode_with_sdk(mixed_content(30000, 5), {.end_marker = true});
  for (std::size_t cut = 13; cut < stream.size(); cut += 1 + cut / 7) {
    const bytes part(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
    expect_agreement(part, 0);
    expect_agreement(part, static_cast<std::uint32_t>(cut), true);
  }
  lcg rng{1234};
  for (int round = 0; round < 100; ++round) {
    bytes noise(stream.begin(), stream.begin() + 13);  // a valid header
    noise.push_back(0);                                // and the range coder's zero byte
    for (int i = rng.below(3000); i > 0; --i) noise.push_back(static_cast<std::uint8_t>(rng.next() >> 24));
    expect_agreement(noise, round % 3 == 0 ? 0 : static_cast<std::uint32_t>(round));
  }
}

}  // namespace
}  // namespace vyn::packers::testing
