#pragma once
// The ".lzma" packed-stream format: 1 properties byte, the 32-bit dictionary size, the 64-bit
// declared size of the unpacked data (all ones: unknown, the stream ends with an end marker),
// then raw LZMA data. Byte-level decoding and encoding over abstract inputs and outputs; the
// packer binds them to memory and files.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vyn::packers {

inline constexpr std::size_t lzma_header_size = 13;
inline constexpr std::uint64_t lzma_unknown_size = ~std::uint64_t{0};

// A declared size whose high 32 bits are negative as a signed number counts as unknown.
constexpr bool lzma_size_known(std::uint64_t declared) noexcept {
  return static_cast<std::int32_t>(declared >> 32) >= 0;
}

// Size of the dictionary buffer for a stream: the dictionary size (at least 4096) rounded up to
// 4 KiB below 4 MiB, to 1 MiB below 1 GiB and to 4 MiB above; the dictionary size itself when
// rounding overflows. A stream of known size never needs more history than its own length, so its
// buffer is capped at that length rounded up to 4 KiB: a short stream claiming a huge dictionary
// cannot make the decoder allocate it.
std::size_t lzma_dictionary_buffer_size(std::uint32_t dictionary_size, std::uint64_t declared_size);

// Receives decoded bytes.
class decode_sink {
 public:
  virtual ~decode_sink() = default;
  // Called once before decoding with the declared size (possibly unknown).
  virtual void begin(std::uint64_t declared_size) = 0;
  // Takes the bytes of one pass; raises when they cannot be stored.
  virtual void write(std::span<const std::uint8_t> bytes) = 0;
  // Called when the stream has ended with the number of bytes produced.
  virtual void end(std::uint64_t produced, std::uint64_t declared_size) = 0;
};

// Packed bytes handed over in pieces, for input too large to map as one view.
class decode_source {
 public:
  virtual ~decode_source() = default;
  // The next piece of input, valid until the next call; empty once the input has ended. Raises
  // when the input cannot be read.
  virtual std::span<const std::uint8_t> next() = 0;
};

// Decodes streams in passes of at most one dictionary buffer, so memory stays bounded by the
// stream's dictionary whatever the output size. The probability table and the dictionary buffer
// are kept and reused by the next stream that needs a buffer of the same size.
class lzma_decoder {
 public:
  lzma_decoder();
  ~lzma_decoder();
  lzma_decoder(const lzma_decoder&) = delete;
  lzma_decoder& operator=(const lzma_decoder&) = delete;

  // Raises vyn::exceptions::error: 87 for a missing input, 13 for an input shorter than the
  // header, the library's code for bad properties and corrupt data, 2 when the dictionary buffer
  // cannot be allocated, 1 when the stream ends before its end.
  void decode(std::span<const std::uint8_t> input, decode_sink& out);
  // The same for input in pieces (the header may span pieces); an input that ends within the
  // header fails with 13, one that ends within the stream with 1.
  void decode(decode_source& input, decode_sink& out);

  // The current dictionary buffer (null before the first stream) and its size in bytes.
  const std::uint8_t* dictionary_buffer() const noexcept;
  std::size_t dictionary_buffer_size() const noexcept;

 private:
  struct state;
  std::unique_ptr<state> state_;
};

// Bytes to compress. read fills up to size bytes and sets size to what it read (0 at the end);
// false reports a read failure.
class encode_source {
 public:
  virtual ~encode_source() = default;
  virtual bool read(void* buffer, std::size_t& size) noexcept = 0;
};

// Takes compressed bytes; returns how many it accepted (fewer than offered on failure) and, after
// a failure, the system error code that explains it (0 when there is none).
class encode_sink {
 public:
  virtual ~encode_sink() = default;
  virtual std::size_t accept(std::span<const std::uint8_t> bytes) noexcept = 0;
  virtual std::uint32_t last_error() const noexcept { return 0; }
};

class lzma_encoder {
 public:
  lzma_encoder(int level, std::uint32_t dictionary_size);
  ~lzma_encoder();
  lzma_encoder(const lzma_encoder&) = delete;
  lzma_encoder& operator=(const lzma_encoder&) = delete;

  // Writes the 13-byte header (declared size = input_size) and the raw LZMA data of input_size
  // bytes from in, without an end marker. The encoder is created on first use and kept.
  void encode(encode_source& in, std::uint64_t input_size, encode_sink& out);

 private:
  int level_;
  std::uint32_t dictionary_size_;
  void* handle_ = nullptr;
};

// Appends to a byte vector; reserves the declared size once when it is known and plausible.
class vector_sink final : public decode_sink, public encode_sink {
 public:
  explicit vector_sink(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  void begin(std::uint64_t declared_size) override;
  void write(std::span<const std::uint8_t> bytes) override;
  void end(std::uint64_t, std::uint64_t) override {}
  std::size_t accept(std::span<const std::uint8_t> bytes) noexcept override;

 private:
  std::vector<std::uint8_t>& bytes_;
};

class span_source final : public encode_source {
 public:
  explicit span_source(std::span<const std::uint8_t> bytes) : rest_(bytes) {}
  bool read(void* buffer, std::size_t& size) noexcept override;

 private:
  std::span<const std::uint8_t> rest_;
};

// Memory to memory, with the packer's settings (level 9, 8 MiB dictionary when compressing).
std::vector<std::uint8_t> lzma_decompress(std::span<const std::uint8_t> packed);
std::vector<std::uint8_t> lzma_compress(std::span<const std::uint8_t> plain, int level = 9,
                                        std::uint32_t dictionary_size = 0x800000);

}  // namespace vyn::packers
