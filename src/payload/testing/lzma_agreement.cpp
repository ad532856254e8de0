#include "payload/testing/lzma_agreement.h"

#include <lzma-sdk/LzmaEnc.h>
#include <reference_lzma_dec.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace vyn::packers::testing {
namespace {

void* heap_alloc(void*, std::size_t size) { return size == 0 ? nullptr : std::malloc(size); }
void heap_free(void*, void* address) { std::free(address); }
ISzAlloc heap_allocator{heap_alloc, heap_free};

struct decoder_calls {
  SRes (*allocate)(CLzmaDec*, const Byte*, unsigned, ISzAlloc*);
  void (*init)(CLzmaDec*);
  SRes (*decode)(CLzmaDec*, SizeT, const Byte*, SizeT*, ELzmaFinishMode, ELzmaStatus*);
  void (*release)(CLzmaDec*, ISzAlloc*);
};
const decoder_calls patched{LzmaDec_Allocate, LzmaDec_Init, LzmaDec_DecodeToDic, LzmaDec_Free};
const decoder_calls reference{reference_LzmaDec_Allocate, reference_LzmaDec_Init, reference_LzmaDec_DecodeToDic,
                              reference_LzmaDec_Free};

}  // namespace

std::vector<std::uint8_t> encode_with_sdk(const std::vector<std::uint8_t>& data, const sdk_stream_options& options) {
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = 5;
  props.lc = options.lc;
  props.lp = options.lp;
  props.pb = options.pb;
  props.dictSize = options.dictionary;
  props.numThreads = 1;
  std::vector<std::uint8_t> out(13 + data.size() + data.size() / 2 + 1024);
  SizeT props_size = LZMA_PROPS_SIZE;
  SizeT packed_size = out.size() - 13;
  const SRes res = LzmaEncode(out.data() + 13, &packed_size, data.data(), data.size(), &props, out.data(),
                              &props_size, options.end_marker ? 1 : 0, nullptr, &heap_allocator, &heap_allocator);
  if (res != SZ_OK) throw std::runtime_error("LzmaEncode failed with " + std::to_string(res));
  const std::uint64_t declared = options.end_marker ? ~std::uint64_t{0} : data.size();
  for (int i = 0; i < 8; ++i) out[5 + i] = static_cast<std::uint8_t>(declared >> (8 * i));
  out.resize(13 + packed_size);
  return out;
}

lzma_trace decode_traced(lzma_decoder_kind kind, const std::uint8_t* stream, std::size_t size,
                         std::uint32_t seed, bool finish_at_end) {
  const decoder_calls& decoder = kind == lzma_decoder_kind::patched ? patched : reference;
  lzma_trace t;
  if (size < 13) return t;
  CLzmaDec state;
  LzmaDec_Construct(&state);
  t.last_result = decoder.allocate(&state, stream, LZMA_PROPS_SIZE, &heap_allocator);
  if (t.last_result != SZ_OK) return t;
  decoder.init(&state);
  lcg rng{seed};
  std::size_t in = 13;
  // Every call either consumes input, produces output or ends the loop; the guard only bounds a
  // decoder that would do neither.
  for (int guard = 0; guard < 10000000; ++guard) {
    if (state.dicPos == state.dicBufSize) state.dicPos = 0;
    const SizeT room = state.dicBufSize - state.dicPos;
    const SizeT out_limit =
        seed == 0 ? room : std::min<SizeT>(room, 1 + rng.below(rng.below(4) == 0 ? 70000 : 300));
    SizeT offered = size - in;
    if (seed != 0 && rng.below(2) == 0) offered = std::min<SizeT>(offered, rng.below(40));
    const SizeT before = state.dicPos;
    ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
    const SRes res = decoder.decode(&state, before + out_limit, stream + in, &offered,
                                    finish_at_end ? LZMA_FINISH_END : LZMA_FINISH_ANY, &status);
    t.output.insert(t.output.end(), state.dic + before, state.dic + state.dicPos);
    t.calls.insert(t.calls.end(), {static_cast<std::uint64_t>(res), static_cast<std::uint64_t>(status), offered,
                                   state.dicPos - before});
    in += offered;
    t.last_result = res;
    t.last_status = status;
    if (res != SZ_OK || status == LZMA_STATUS_FINISHED_WITH_MARK ||
        status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK)
      break;
    if (status == LZMA_STATUS_NEEDS_MORE_INPUT && in == size) break;
  }
  decoder.release(&state, &heap_allocator);
  return t;
}

}  // namespace vyn::packers::testing
