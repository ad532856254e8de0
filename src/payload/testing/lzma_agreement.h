#pragma once
// Runs the project's patched LZMA decoder and the SDK's unpatched one (reference_lzma_dec.h) through
// the same calls and records everything each did, so that tests and the fuzzer can compare them.

#include <cstdint>
#include <vector>

#include <lzma-sdk/LzmaDec.h>

namespace vyn::packers::testing {

// A small deterministic generator for the pieces, damage and contents the comparisons draw.
struct lcg {
  std::uint32_t state;
  std::uint32_t next() { return state = state * 1664525u + 1013904223u; }
  std::uint32_t below(std::uint32_t n) { return (next() >> 8) % n; }
};

struct sdk_stream_options {
  int lc = 3, lp = 0, pb = 2;
  std::uint32_t dictionary = 1u << 16;
  bool end_marker = false;
};

// A ".lzma" stream made by the SDK's encoder with any properties (the packer always uses its
// defaults): properties, declared size (all ones with an end marker), data. Raises
// std::runtime_error when the encoder fails.
std::vector<std::uint8_t> encode_with_sdk(const std::vector<std::uint8_t>& data, const sdk_stream_options& options);

// Everything a decoder did with a stream: four numbers per decoding call (result, status, input
// consumed, bytes produced) and all bytes it produced.
struct lzma_trace {
  std::vector<std::uint64_t> calls;
  std::vector<std::uint8_t> output;
  SRes last_result = SZ_OK;
  ELzmaStatus last_status = LZMA_STATUS_NOT_SPECIFIED;
  bool operator==(const lzma_trace&) const = default;
};

enum class lzma_decoder_kind { patched, reference };

// Decodes a ".lzma" stream (13-byte header, then data) in calls to LzmaDec_DecodeToDic. With
// `seed` 0 each call offers the rest of the dictionary buffer and all remaining input, as the
// packer does; otherwise the output limit and the input offered are drawn from the seed, down to
// single bytes. The finish mode is "end" with finish_at_end, "any" otherwise. Stops at the first
// error, at a finished status, or when more input is needed than the stream has. The decoder's
// dictionary buffer is the stream's dictionary size, so the caller bounds it.
lzma_trace decode_traced(lzma_decoder_kind kind, const std::uint8_t* stream, std::size_t size,
                         std::uint32_t seed, bool finish_at_end);

}  // namespace vyn::packers::testing
