// The LZMA encoder behind the packer's compress operations and lzma_compress. The installer stub,
// which never compresses, links lzma_encoder_absent.cpp instead and so carries none of this.
#include <cstdint>
#include <limits>
#include <vector>

#include <lzma-sdk/LzmaEnc.h>

#include "foundation/exceptions.h"
#include "payload/lzma_allocator.h"
#include "payload/lzma_codec.h"

namespace vyn::packers {

using vyn::exceptions::error;

namespace {

struct source_adapter {
  ISeqInStream vtable;
  encode_source* source;

  static SRes read(void* p, void* buffer, size_t* size) {
    auto* self = static_cast<source_adapter*>(p);
    return self->source->read(buffer, *size) ? SZ_OK : SZ_ERROR_READ;
  }
};

struct sink_adapter {
  ISeqOutStream vtable;
  encode_sink* sink;

  static size_t write(void* p, const void* buffer, size_t size) {
    auto* self = static_cast<sink_adapter*>(p);
    return self->sink->accept({static_cast<const std::uint8_t*>(buffer), size});
  }
};

}  // namespace

lzma_encoder::lzma_encoder(int level, std::uint32_t dictionary_size)
    : level_(level), dictionary_size_(dictionary_size) {}

lzma_encoder::~lzma_encoder() {
  if (handle_) LzmaEnc_Destroy(handle_, &detail::lzma_heap_allocator, &detail::lzma_heap_allocator);
}

void lzma_encoder::encode(encode_source& in, std::uint64_t input_size, encode_sink& out) {
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = level_;
  props.dictSize = dictionary_size_;
  props.numThreads = 1;
  // Lets the library shrink the dictionary for small inputs.
  props.reduceSize = input_size > std::numeric_limits<std::uint32_t>::max()
                         ? std::numeric_limits<std::uint32_t>::max()
                         : static_cast<std::uint32_t>(input_size);
  if (!handle_) {
    handle_ = LzmaEnc_Create(&detail::lzma_heap_allocator);
    if (!handle_) throw error(2u, "Unable to create the LZMA encoder!");
  }
  if (const SRes res = LzmaEnc_SetProps(handle_, &props); res != SZ_OK) {
    throw error(static_cast<std::uint32_t>(res), "Unable to store LZMA props into the encoder!");
  }
  std::uint8_t header[lzma_header_size];
  SizeT props_size = LZMA_PROPS_SIZE;
  if (const SRes res = LzmaEnc_WriteProperties(handle_, header, &props_size); res != SZ_OK) {
    throw error(static_cast<std::uint32_t>(res), "Unable to write LZMA properties!");
  }
  for (int i = 0; i < 8; ++i) header[LZMA_PROPS_SIZE + i] = static_cast<std::uint8_t>(input_size >> (8 * i));
  if (out.accept(header) < lzma_header_size) {
    throw error(out.last_error(), "Unable to write to the output file!");
  }
  source_adapter reader{{&source_adapter::read}, &in};
  sink_adapter writer{{&sink_adapter::write}, &out};
  const SRes res = LzmaEnc_Encode(handle_, &writer.vtable, &reader.vtable, nullptr,
                                  &detail::lzma_heap_allocator, &detail::lzma_heap_allocator);
  if (res != SZ_OK) throw error(static_cast<std::uint32_t>(res), "Unable to compress LZMA stream!");
}

std::vector<std::uint8_t> lzma_compress(std::span<const std::uint8_t> plain, int level,
                                        std::uint32_t dictionary_size) {
  std::vector<std::uint8_t> packed;
  vector_sink sink(packed);
  span_source source(plain);
  lzma_encoder encoder(level, dictionary_size);
  encoder.encode(source, plain.size(), sink);
  return packed;
}

}  // namespace vyn::packers
