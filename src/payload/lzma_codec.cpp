#include "payload/lzma_codec.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include <lzma-sdk/LzmaDec.h>

#include "foundation/exceptions.h"
#include "payload/lzma_allocator.h"

namespace vyn::packers {
namespace {

using vyn::exceptions::error;

constexpr std::uint64_t round_up(std::uint64_t value, std::uint64_t mask) {
  return (value + mask) & ~mask;
}

std::uint64_t read_u64(const std::uint8_t* p) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

}  // namespace

std::size_t lzma_dictionary_buffer_size(std::uint32_t dictionary_size, std::uint64_t declared_size) {
  const std::uint64_t dictionary = dictionary_size < 4096 ? 4096 : dictionary_size;
  const std::uint64_t mask = dictionary < (std::uint64_t{1} << 22)   ? 0xFFF
                             : dictionary < (std::uint64_t{1} << 30) ? 0xFFFFF
                                                                     : 0x3FFFFF;
  std::uint64_t size = round_up(dictionary, mask);
  if (size > std::numeric_limits<std::uint32_t>::max()) size = dictionary;
  if (lzma_size_known(declared_size)) {
    const std::uint64_t needed = declared_size < 4096 ? 4096 : round_up(declared_size, 0xFFF);
    if (needed < size) size = needed;
  }
  return static_cast<std::size_t>(size);
}

struct lzma_decoder::state {
  CLzmaDec decoder;
  std::uint8_t* buffer = nullptr;
  std::size_t buffer_size = 0;

  state() { LzmaDec_Construct(&decoder); }
  ~state() {
    LzmaDec_FreeProbs(&decoder, &detail::lzma_heap_allocator);
    std::free(buffer);
  }

  void prepare(const std::uint8_t* header, std::uint64_t declared_size) {
    CLzmaProps props;
    if (const SRes res = LzmaProps_Decode(&props, header, LZMA_PROPS_SIZE); res != SZ_OK) {
      throw error(static_cast<std::uint32_t>(res), "Unable to allocate LZMA context!");
    }
    if (const SRes res =
            LzmaDec_AllocateProbs(&decoder, header, LZMA_PROPS_SIZE, &detail::lzma_heap_allocator);
        res != SZ_OK) {
      throw error(static_cast<std::uint32_t>(res), "Unable to allocate LZMA context!");
    }
    const std::size_t wanted = lzma_dictionary_buffer_size(props.dicSize, declared_size);
    if (!buffer || buffer_size != wanted) {
      std::free(buffer);
      buffer_size = 0;
      buffer = static_cast<std::uint8_t*>(std::malloc(wanted));
      if (!buffer) {
        LzmaDec_FreeProbs(&decoder, &detail::lzma_heap_allocator);
        throw error(2u, "Unable to allocate LZMA context!");
      }
      buffer_size = wanted;
    }
    decoder.dic = buffer;
    decoder.dicBufSize = buffer_size;
    LzmaDec_Init(&decoder);
  }
};

lzma_decoder::lzma_decoder() : state_(std::make_unique<state>()) {}
lzma_decoder::~lzma_decoder() = default;

const std::uint8_t* lzma_decoder::dictionary_buffer() const noexcept { return state_->buffer; }
std::size_t lzma_decoder::dictionary_buffer_size() const noexcept { return state_->buffer_size; }

namespace {

// The whole input as one piece.
class single_piece final : public decode_source {
 public:
  explicit single_piece(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::span<const std::uint8_t> next() override { return std::exchange(bytes_, {}); }

 private:
  std::span<const std::uint8_t> bytes_;
};

// The pieces of a source with their unread rest, as the decoder consumes them.
class input_cursor {
 public:
  explicit input_cursor(decode_source& source) : source_(source) {}

  // Fetches the next piece once the current one is used up; false when the input has ended.
  bool available() {
    while (rest_.empty() && !ended_) {
      rest_ = source_.next();
      ended_ = rest_.empty();
    }
    return !rest_.empty();
  }
  std::span<const std::uint8_t> rest() const noexcept { return rest_; }
  void consume(std::size_t count) noexcept { rest_ = rest_.subspan(count); }
  bool ended() const noexcept { return ended_ && rest_.empty(); }

 private:
  decode_source& source_;
  std::span<const std::uint8_t> rest_;
  bool ended_ = false;
};

// The 13-byte header, gathered from as many pieces as it spans.
std::array<std::uint8_t, lzma_header_size> read_header(input_cursor& input) {
  std::array<std::uint8_t, lzma_header_size> header{};
  std::size_t have = 0;
  while (have < header.size()) {
    if (!input.available()) throw error(13u, "Unable to read LZMA header!");
    const std::size_t take = std::min(header.size() - have, input.rest().size());
    std::memcpy(header.data() + have, input.rest().data(), take);
    input.consume(take);
    have += take;
  }
  return header;
}

}  // namespace

void lzma_decoder::decode(std::span<const std::uint8_t> input, decode_sink& out) {
  if (input.data() == nullptr) throw error(87u, "No LZMA stream to decompress!");
  if (input.size() < lzma_header_size) throw error(13u, "Unable to read LZMA header!");
  single_piece source(input);
  decode(source, out);
}

void lzma_decoder::decode(decode_source& source, decode_sink& out) {
  input_cursor input(source);
  const auto header = read_header(input);
  const std::uint64_t declared = read_u64(header.data() + LZMA_PROPS_SIZE);
  const bool known = lzma_size_known(declared);
  state_->prepare(header.data(), declared);
  CLzmaDec& decoder = state_->decoder;
  const std::size_t buffer_size = state_->buffer_size;
  out.begin(declared);

  std::uint64_t produced = 0;
  for (;;) {
    // The dictionary buffer is the decoder's window into the history: it starts over only once
    // it is full.
    if (decoder.dicPos == buffer_size) decoder.dicPos = 0;
    const std::size_t start = decoder.dicPos;
    const std::size_t room = buffer_size - start;
    const std::uint64_t rest = known ? declared - produced : lzma_unknown_size;
    if (rest == 0) return;
    const bool last_pass = known && rest <= room;
    const std::size_t limit = start + (last_pass ? static_cast<std::size_t>(rest) : room);
    input.available();
    SizeT consumed = input.rest().size();
    ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
    const SRes res = LzmaDec_DecodeToDic(&decoder, limit, input.rest().data(), &consumed,
                                         last_pass ? LZMA_FINISH_END : LZMA_FINISH_ANY, &status);
    if (res != SZ_OK) throw error(static_cast<std::uint32_t>(res), "Unable to decompress LZMA stream!");
    input.consume(consumed);
    const std::size_t decoded = decoder.dicPos - start;
    out.write({decoder.dic + start, decoded});
    produced += decoded;
    // The decoder may call a stream "maybe finished" at any pass boundary where its range coder
    // happens to be at rest; that ends the stream only when nothing more is due, otherwise data
    // would be silently cut off.
    const bool finished = status == LZMA_STATUS_FINISHED_WITH_MARK ||
                          (status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK &&
                           (known ? produced == declared : !input.available()));
    if (finished) {
      out.end(produced, declared);
      return;
    }
    // A pass that neither read nor wrote anything waits for input that will not come.
    if (decoded == 0 && consumed == 0 && !input.available()) {
      throw error(1u, "The LZMA stream has ended prematurely!");
    }
  }
}

void vector_sink::begin(std::uint64_t declared_size) {
  if (lzma_size_known(declared_size) && declared_size != 0 && declared_size < 0x7FFFFFFF) {
    bytes_.reserve(bytes_.size() + static_cast<std::size_t>(declared_size));
  }
}

void vector_sink::write(std::span<const std::uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

std::size_t vector_sink::accept(std::span<const std::uint8_t> bytes) noexcept {
  try {
    write(bytes);
    return bytes.size();
  } catch (...) {
    return 0;
  }
}

bool span_source::read(void* buffer, std::size_t& size) noexcept {
  if (size > rest_.size()) size = rest_.size();
  if (size != 0) std::memcpy(buffer, rest_.data(), size);
  rest_ = rest_.subspan(size);
  return true;
}

std::vector<std::uint8_t> lzma_decompress(std::span<const std::uint8_t> packed) {
  std::vector<std::uint8_t> plain;
  vector_sink sink(plain);
  lzma_decoder decoder;
  decoder.decode(packed, sink);
  return plain;
}

}  // namespace vyn::packers
