// Arbitrary bytes through the project's patched LZMA decoder and the SDK's unpatched one, in the
// same calls: both must do exactly the same (results, statuses, input consumed, output).
// Input: one byte choosing how the stream is fed (0: as the packer does, in one call per
// dictionary buffer; else in pieces drawn from it, with finish mode "end" for odd values), then
// the ".lzma" stream.

#include <cstddef>
#include <cstdint>

#include "payload/lzma_codec.h"
#include "payload/testing/lzma_agreement.h"

using vyn::packers::testing::decode_traced;
using vyn::packers::testing::lzma_decoder_kind;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 + 13) return 0;
  const std::uint8_t feed = data[0];
  const std::uint8_t* stream = data + 1;
  const std::uint32_t dictionary = static_cast<std::uint32_t>(stream[1]) | stream[2] << 8 | stream[3] << 16 |
                                   static_cast<std::uint32_t>(stream[4]) << 24;
  // The decoder allocates the whole dictionary; gigabytes of it only exercise the allocator.
  if (dictionary > (16u << 20)) return 0;
  const auto ours = decode_traced(lzma_decoder_kind::patched, stream, size - 1, feed, feed & 1);
  const auto theirs = decode_traced(lzma_decoder_kind::reference, stream, size - 1, feed, feed & 1);
  if (!(ours == theirs)) __builtin_trap();
  return 0;
}
