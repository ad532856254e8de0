// pack and unpack: ".lzma" packed streams (properties, declared size, LZMA data) through the
// stub's own packer, as the payload records and the repository objects carry them.

#include <cstdio>

#include "arguments.h"
#include "command.h"
#include "file_io.h"
#include "payload/lzma_codec.h"

namespace vyn::tool {
namespace {

// INPUT and OUTPUT, the only positional arguments both commands take.
std::pair<std::string, std::string> input_and_output(const arguments& args) {
  if (args.positional().size() != 2) throw tool_error(exit_usage, "expected INPUT and OUTPUT");
  return {args.positional()[0], args.positional()[1]};
}

int run_pack(const std::vector<std::string>& raw) {
  const arguments args(raw, {});
  const auto [input, output] = input_and_output(args);
  const auto plain = read_file(input);
  const auto packed = packers::lzma_compress(plain);
  write_file(output, packed);
  std::printf("packed %s -> %s: %zu bytes -> %zu bytes\n", input.c_str(), output.c_str(), plain.size(),
              packed.size());
  return exit_ok;
}

int run_unpack(const std::vector<std::string>& raw) {
  const arguments args(raw, {});
  const auto [input, output] = input_and_output(args);
  const auto packed = read_file(input);
  std::vector<std::uint8_t> plain;
  try {
    plain = packers::lzma_decompress(packed);
  } catch (const std::exception& e) {
    // Nothing is written for a stream that does not decode completely.
    throw tool_error(exit_refused, input + " is not a complete .lzma stream: " + e.what());
  }
  write_file(output, plain);
  std::printf("unpacked %s -> %s: %zu bytes -> %zu bytes\n", input.c_str(), output.c_str(), packed.size(),
              plain.size());
  return exit_ok;
}

}  // namespace

const command pack_command{
    "pack", "compress a file into a .lzma packed stream",
    "usage: sfxtool pack INPUT OUTPUT\n"
    "\n"
    "Writes INPUT as a .lzma stream (level 9, 8 MiB dictionary, exact size, no end marker), the\n"
    "form of packed payload records and repository objects. OUTPUT is replaced only when complete.\n",
    run_pack};

const command unpack_command{
    "unpack", "decompress a .lzma packed stream",
    "usage: sfxtool unpack INPUT OUTPUT\n"
    "\n"
    "Decodes the .lzma stream INPUT (known size, or unknown size with an end marker) with the\n"
    "stub's decoder. A malformed or truncated stream ends with exit code 5 and writes nothing.\n",
    run_unpack};

}  // namespace vyn::tool
