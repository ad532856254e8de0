#include "payload/lzma_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "foundation/exceptions.h"
#include "payload/testing/test_support.h"

namespace vyn::packers {
namespace {

using bytes = std::vector<std::uint8_t>;

// Text-like runs mixed with noise, so that the stream has matches, literals and several passes.
bytes mixed_content(std::size_t size, std::uint32_t seed = 1) {
  bytes out;
  out.reserve(size);
  static const char words[] = "payload record alias lzma stream dictionary kestro setup ";
  while (out.size() < size) {
    seed = seed * 1664525u + 1013904223u;
    if ((seed >> 28) < 5) {
      for (int i = 0; i < 16 && out.size() < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        out.push_back(static_cast<std::uint8_t>(seed >> 24));
      }
    } else {
      const std::size_t at = (seed >> 8) % (sizeof(words) - 12);
      for (std::size_t i = 0; i < 12 && out.size() < size; ++i) out.push_back(static_cast<std::uint8_t>(words[at + i]));
    }
  }
  return out;
}

std::uint32_t code_of(const std::function<void()>& action, std::string* message = nullptr) {
  try {
    action();
  } catch (const vyn::exceptions::error& e) {
    if (message) *message = e.what();
    return e.code();
  }
  return 0;
}

void set_dictionary_size(bytes& stream, std::uint32_t size) {
  for (int i = 0; i < 4; ++i) stream[1 + i] = static_cast<std::uint8_t>(size >> (8 * i));
}

TEST(LzmaCodec, BadInputs_FailWithTheirCodes) {
  const bytes packed = lzma_compress(mixed_content(5000));
  bytes truncated(packed.begin(), packed.end() - 20);
  bytes bad_props = packed;
  bad_props[0] = 225;
  bytes bad_data = packed;
  bad_data[13] = 0x80;  // the range coder's first byte is always zero
  const struct {
    const char* name;
    std::span<const std::uint8_t> input;
    std::uint32_t code;
    const char* message;
  } rows[] = {
      {"missing", {}, 87, "No LZMA stream to decompress!"},
      {"12 bytes", {packed.data(), 12}, 13, "Unable to read LZMA header!"},
      {"truncated", truncated, 1, "The LZMA stream has ended prematurely!"},
      {"header only", {packed.data(), 13}, 1, "The LZMA stream has ended prematurely!"},
      {"props byte 225", bad_props, 4, "Unable to allocate LZMA context!"},
      {"corrupt data", bad_data, 1, "Unable to decompress LZMA stream!"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::string message;
    EXPECT_EQ(code_of([&] { lzma_decompress(r.input); }, &message), r.code);
    EXPECT_EQ(message, r.message);
  }
}

// A stream that stops exactly where a pass of the dictionary buffer ends leaves the decoder "maybe
// finished"; with more data declared, that is a cut-off stream, not the end of it.
TEST(LzmaCodec, KnownSizeStreamCutAtPassBoundary_FailsAsPremature) {
  bytes packed = lzma_compress(mixed_content(8192));
  for (int i = 0; i < 4; ++i) packed[1 + i] = static_cast<std::uint8_t>(8192 >> (8 * i));
  for (int i = 0; i < 8; ++i) packed[5 + i] = static_cast<std::uint8_t>(100000 >> (8 * i));
  lzma_decoder decoder;
  bytes plain;
  vector_sink sink(plain);
  std::string message;
  EXPECT_EQ(code_of([&] { decoder.decode(packed, sink); }, &message), 1u);
  EXPECT_EQ(message, "The LZMA stream has ended prematurely!");
  EXPECT_EQ(decoder.dictionary_buffer_size(), 8192u);

  // Of unknown size and without an end marker, the same stream ends where its input ends.
  for (int i = 0; i < 8; ++i) packed[5 + i] = 0xFF;
  EXPECT_TRUE(lzma_decompress(packed) == mixed_content(8192));
}

TEST(LzmaCodec, DeclaredSizeZero_DecodesNothingFromHeaderAlone) {
  const bytes stream = {0x5D, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(lzma_decompress(stream).empty());
}

TEST(LzmaCodec, RoundTrip_RestoresInputAndDeclaresItsSize) {
  const bytes inputs[] = {{}, {'x'}, mixed_content(100), mixed_content(70000), bytes(3 << 20, 0),
                          mixed_content(2 << 20, 7)};
  for (const bytes& input : inputs) {
    SCOPED_TRACE(input.size());
    const bytes packed = lzma_compress(input);
    ASSERT_GE(packed.size(), lzma_header_size);
    std::uint64_t declared = 0;
    for (int i = 7; i >= 0; --i) declared = declared << 8 | packed[5 + i];
    EXPECT_EQ(declared, input.size());
    EXPECT_TRUE(lzma_decompress(packed) == input);
  }
}

TEST(LzmaCodec, OutputLargerThanDictionary_DecodedInPasses) {
  const bytes input = mixed_content(1 << 20, 3);
  const bytes packed = lzma_compress(input, 9, 1 << 16);
  lzma_decoder decoder;
  bytes plain;
  vector_sink sink(plain);
  decoder.decode(packed, sink);
  EXPECT_EQ(decoder.dictionary_buffer_size(), 1u << 16);
  EXPECT_TRUE(plain == input);
}

TEST(LzmaCodec, DictionaryBufferSize_RoundsAndCapsAtDeclaredSize) {
  const std::uint64_t unknown = lzma_unknown_size;
  const struct {
    std::uint32_t dictionary;
    std::uint64_t declared;
    std::size_t expected;
  } rows[] = {
      {0, unknown, 4096},
      {1000, unknown, 4096},
      {4097, unknown, 8192},
      {(4u << 20) - 1, unknown, 4u << 20},
      {(4u << 20) + 1, unknown, 5u << 20},
      {(1u << 30) + 1, unknown, (1u << 30) + (4u << 20)},
      {0xFFFFFFFFu, unknown, 0xFFFFFFFFu},
      {1u << 23, 0x8000000000000000ull, 1u << 23},  // high bit set: unknown size
      {1u << 23, 0, 4096},
      {1u << 23, 100, 4096},
      {1u << 23, 20000, 20480},
      {1u << 23, 1ull << 40, 1u << 23},
      {1000, 10000, 4096},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(lzma_dictionary_buffer_size(r.dictionary, r.declared), r.expected)
        << r.dictionary << " " << r.declared;
  }
}

TEST(LzmaCodec, TinyDictionary_DecodedWith4096ByteBuffer) {
  bytes packed = lzma_compress(mixed_content(3000));
  set_dictionary_size(packed, 16);
  lzma_decoder decoder;
  bytes plain;
  vector_sink sink(plain);
  decoder.decode(packed, sink);
  EXPECT_EQ(decoder.dictionary_buffer_size(), 4096u);
  EXPECT_TRUE(plain == mixed_content(3000));
}

TEST(LzmaCodec, SameBufferSize_ReusesBufferAndOtherSizeReplacesIt) {
  lzma_decoder decoder;
  bytes sink_bytes;
  vector_sink sink(sink_bytes);
  decoder.decode(lzma_compress(mixed_content(20000, 1)), sink);
  const std::uint8_t* first = decoder.dictionary_buffer();
  decoder.decode(lzma_compress(mixed_content(19000, 2)), sink);
  EXPECT_EQ(decoder.dictionary_buffer(), first);
  EXPECT_EQ(decoder.dictionary_buffer_size(), 20480u);
  decoder.decode(lzma_compress(mixed_content(90000, 3)), sink);
  EXPECT_EQ(decoder.dictionary_buffer_size(), 90112u);
  const bytes expected = [] {
    bytes all = mixed_content(20000, 1);
    for (auto part : {mixed_content(19000, 2), mixed_content(90000, 3)}) all.insert(all.end(), part.begin(), part.end());
    return all;
  }();
  EXPECT_TRUE(sink_bytes == expected);
}

TEST(LzmaCodec, FailedDecode_LeavesDecoderUsable) {
  lzma_decoder decoder;
  bytes plain;
  vector_sink sink(plain);
  const bytes packed = lzma_compress(mixed_content(9000));
  EXPECT_EQ(code_of([&] { decoder.decode({packed.data(), packed.size() - 10}, sink); }), 1u);
  plain.clear();
  decoder.decode(packed, sink);
  EXPECT_TRUE(plain == mixed_content(9000));
}

// Input handed over in pieces of a fixed size, as a file read view by view is.
class pieces final : public decode_source {
 public:
  pieces(std::span<const std::uint8_t> data, std::size_t piece) : rest_(data), piece_(piece) {}
  std::span<const std::uint8_t> next() override {
    const std::size_t n = std::min(piece_, rest_.size());
    const auto out = rest_.first(n);
    rest_ = rest_.subspan(n);
    ++calls_;
    return out;
  }
  int calls() const { return calls_; }

 private:
  std::span<const std::uint8_t> rest_;
  std::size_t piece_;
  int calls_ = 0;
};

bytes decode_in_pieces(std::span<const std::uint8_t> packed, std::size_t piece, lzma_decoder& decoder) {
  bytes plain;
  vector_sink sink(plain);
  pieces source(packed, piece);
  decoder.decode(source, sink);
  return plain;
}

// Pieces of any size, the header split among them, passes that end where a piece ends and
// pieces that end inside a pass: the output is the one of the whole input at once.
TEST(LzmaCodec, InputInPieces_DecodesAsTheWholeInputDoes) {
  const bytes input = mixed_content(300000, 11);
  const bytes packed = lzma_compress(input, 9, 1 << 16);  // several passes of the dictionary buffer
  for (const std::size_t piece : {std::size_t{1}, std::size_t{5}, std::size_t{13}, std::size_t{4096},
                                  std::size_t{65536}, packed.size()}) {
    SCOPED_TRACE(piece);
    lzma_decoder decoder;
    EXPECT_TRUE(decode_in_pieces(packed, piece, decoder) == input);
  }
}

TEST(LzmaCodec, InputInPiecesEndingEarly_FailsAsTheWholeInputDoes) {
  const bytes packed = lzma_compress(mixed_content(50000, 4), 9, 1 << 14);
  const struct {
    const char* name;
    std::size_t length;
    std::uint32_t code;
  } rows[] = {{"no input", 0, 13}, {"12 bytes", 12, 13}, {"header only", 13, 1}, {"cut", packed.size() - 30, 1}};
  for (const auto& r : rows) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{6}, std::size_t{1000}}) {
      SCOPED_TRACE(::testing::Message() << r.name << ", pieces of " << piece);
      lzma_decoder decoder;
      EXPECT_EQ(code_of([&] { decode_in_pieces({packed.data(), r.length}, piece, decoder); }), r.code);
    }
  }
}

// The decoder asks for input only as it needs it: a stream whose declared size is reached does
// not read what follows it.
TEST(LzmaCodec, InputInPieces_ReadOnlyAsFarAsTheStreamGoes) {
  bytes packed = lzma_compress(mixed_content(1000, 2));
  const std::size_t stream_size = packed.size();
  packed.resize(stream_size + 100000, 0xEE);
  bytes plain;
  vector_sink sink(plain);
  pieces source(packed, 64);
  lzma_decoder decoder;
  decoder.decode(source, sink);
  EXPECT_TRUE(plain == mixed_content(1000, 2));
  EXPECT_LE(static_cast<std::size_t>(source.calls()), stream_size / 64 + 2);
}

#ifndef _WIN32
void set_declared_size(bytes& stream, std::uint64_t size) {
  for (int i = 0; i < 8; ++i) stream[5 + i] = static_cast<std::uint8_t>(size >> (8 * i));
}

// Cross-checks against the reference xz tool of the build machine.
class LzmaCodecXz : public ::testing::Test {
 protected:
  static void run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }
  std::string path(const char* name) const { return (folder_ / std::wstring(name, name + std::strlen(name))).string(); }
  static bytes load(const std::string& p) {
    const std::string s = sfx::testing::read_file(p);
    return bytes(s.begin(), s.end());
  }
  static void store(const std::string& p, const bytes& b) { sfx::testing::write_file(p, std::string(b.begin(), b.end())); }

  sfx::testing::temp_folder folder_;
};

TEST_F(LzmaCodecXz, XzStreamWithEndMarker_Decodes) {
  const bytes input = mixed_content(3 << 20, 5);
  store(path("plain"), input);
  for (const char* options : {"-6", "--lzma1=preset=6,dict=64KiB", "--lzma1=preset=0,dict=4KiB,lc=0,lp=4,pb=4"}) {
    SCOPED_TRACE(options);
    run(std::string("xz --format=lzma ") + options + " -c " + path("plain") + " > " + path("plain.lzma"));
    bytes packed = load(path("plain.lzma"));
    std::uint64_t declared = 0;
    for (int i = 7; i >= 0; --i) declared = declared << 8 | packed[5 + i];
    ASSERT_EQ(declared, lzma_unknown_size);
    EXPECT_TRUE(lzma_decompress(packed) == input);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{4099}}) {
      lzma_decoder decoder;
      EXPECT_TRUE(decode_in_pieces(packed, piece, decoder) == input) << "in pieces of " << piece;
    }
    set_declared_size(packed, input.size());
    EXPECT_TRUE(lzma_decompress(packed) == input) << "with the size patched into the header";
  }
}

TEST_F(LzmaCodecXz, OurStream_DecodesWithXz) {
  for (const bytes& input : {bytes{}, mixed_content(1 << 20, 9)}) {
    store(path("ours.lzma"), lzma_compress(input));
    run("xz --format=lzma -dc " + path("ours.lzma") + " > " + path("ours.out"));
    EXPECT_TRUE(load(path("ours.out")) == input);
  }
}
#endif

}  // namespace
}  // namespace vyn::packers
