// Decodes a ".lzma" stream memory to memory pass by pass and discards the output (or writes it to
// standard output with --stdout, to check it). Prints the decoding time and throughput.
//   bench_lzma_decode <stream> [--stdout]

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/exceptions.h"
#include "payload/lzma_codec.h"

namespace {

class output final : public vyn::packers::decode_sink {
 public:
  explicit output(std::FILE* to) : to_(to) {}
  void begin(std::uint64_t) override {}
  void write(std::span<const std::uint8_t> bytes) override {
    if (to_ && std::fwrite(bytes.data(), 1, bytes.size(), to_) != bytes.size()) {
      throw vyn::exceptions::error(5u, "write to standard output failed");
    }
    produced += bytes.size();
  }
  void end(std::uint64_t, std::uint64_t) override {}

  std::uint64_t produced = 0;

 private:
  std::FILE* to_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_lzma_decode <stream> [--stdout]\n");
    return 2;
  }
  const bool to_stdout = argc > 2 && std::strcmp(argv[2], "--stdout") == 0;
  const auto start = std::chrono::steady_clock::now();
  std::ifstream in(argv[1], std::ios::binary | std::ios::ate);
  std::vector<std::uint8_t> stream(in ? static_cast<std::size_t>(in.tellg()) : 0);
  in.seekg(0);
  if (stream.empty() || !in.read(reinterpret_cast<char*>(stream.data()), static_cast<std::streamsize>(stream.size()))) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const auto read = std::chrono::steady_clock::now();
  output sink(to_stdout ? stdout : nullptr);
  try {
    vyn::packers::lzma_decoder decoder;
    decoder.decode(stream, sink);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "decoding failed: %s\n", e.what());
    return 1;
  }
  const auto done = std::chrono::steady_clock::now();
  const double decode_s = std::chrono::duration<double>(done - read).count();
  const double total_s = std::chrono::duration<double>(done - start).count();
  std::fprintf(stderr, "decoded %llu bytes in %.3f s (%.1f MB/s), %.3f s with reading\n",
               static_cast<unsigned long long>(sink.produced), decode_s, sink.produced / decode_s / 1e6, total_s);
  return 0;
}
