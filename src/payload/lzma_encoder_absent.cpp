// The installer stub's LZMA encoder: none. Nothing in the stub compresses, and the library's
// encoder and match finder would add about 30 KB to the file every user downloads, so the stub
// links this file in place of lzma_encoder.cpp. The packer's compress operations keep their place
// in its interface and fail with code 120 (the call is not implemented here).
#include "foundation/exceptions.h"
#include "payload/lzma_codec.h"

namespace vyn::packers {

lzma_encoder::lzma_encoder(int level, std::uint32_t dictionary_size)
    : level_(level), dictionary_size_(dictionary_size) {}

lzma_encoder::~lzma_encoder() = default;

void lzma_encoder::encode(encode_source&, std::uint64_t, encode_sink&) {
  throw vyn::exceptions::error(120u, "LZMA compression is not built into the installer stub!");
}

}  // namespace vyn::packers
