// Decoding of arbitrary bytes as an LZMA packed stream, memory to memory.

#include <cstddef>
#include <cstdint>

#include "foundation/exceptions.h"
#include "fuzz_options.h"
#include "payload/lzma_codec.h"

namespace {

// Counts the output instead of keeping it: what matters here is the decoder, and a vector sized
// by a declared size of gigabytes would only measure the allocator.
class counting_sink final : public vyn::packers::decode_sink {
 public:
  void begin(std::uint64_t) override { produced = 0; }
  void write(std::span<const std::uint8_t> bytes) override {
    for (const std::uint8_t b : bytes) check = check * 31 + b;  // touch every byte decoded
    produced += bytes.size();
    // Beyond this, a few input bytes expanding into a long output only cost time.
    if (produced > limit) throw vyn::exceptions::error("fuzz output limit");
  }
  void end(std::uint64_t, std::uint64_t) override {}

  static constexpr std::uint64_t limit = 16u << 20;
  std::uint64_t produced = 0;
  std::uint32_t check = 0;
};

std::uint64_t read_le(const std::uint8_t* p, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint64_t declared = 0;
  if (size >= 13) {
    declared = read_le(data + 5, 8);
    const auto dictionary = static_cast<std::uint32_t>(read_le(data + 1, 4));
    // A dictionary buffer of gigabytes (a big dictionary and a big or unknown size) is a legitimate
    // request that only exercises the allocator; leave it out to keep the fuzzer fast.
    if (vyn::packers::lzma_dictionary_buffer_size(dictionary, declared) > (16u << 20)) return 0;
  }
  // One decoder for many inputs, as a packer may decode several streams: buffer reuse gets fuzzed.
  static vyn::packers::lzma_decoder decoder;
  counting_sink sink;
  try {
    decoder.decode({data, size}, sink);
    // A stream of known size never yields more than it declares.
    if (vyn::packers::lzma_size_known(declared) && sink.produced > declared) __builtin_trap();
  } catch (const vyn::exceptions::error&) {
  }
  return 0;
}
