// Writes well-formed starting inputs for the fuzz targets: fuzz_seeds <target> <folder>.

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "payload/lzma_codec.h"
#include "payload/payload_writer.h"
#include "payload/testing/stub_image.h"

namespace {

using bytes = std::vector<std::uint8_t>;

void save(const std::string& folder, const std::string& name, const bytes& content) {
  std::ofstream(folder + "/" + name, std::ios::binary)
      .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
}

bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fuzz_seeds payload|lzma <folder>\n");
    return 2;
  }
  const std::string target = argv[1], folder = argv[2];
  const bytes small = text("<sfx-info><repository>x</repository></sfx-info>");
  const bytes repeated = text(std::string(3000, 'a') + "payload alias stream" + std::string(200, 'b'));
  if (target == "payload") {
    bytes records;
    vyn::sfx::append_file_record(records, "sfx-info.xml", small, false, vyn::sfx::record_type_config);
    vyn::sfx::append_file_record(records, "", repeated, true);
    vyn::sfx::append_end_record(records);
    bytes as_payload = {1};  // behind the fuzzer's own image
    as_payload.insert(as_payload.end(), records.begin(), records.end());
    save(folder, "payload-records", as_payload);
    bytes whole = {0};
    const bytes image = vyn::sfx::testing::make_pe_image();
    whole.insert(whole.end(), image.begin(), image.end());
    whole.insert(whole.end(), records.begin(), records.end());
    save(folder, "whole-image", whole);
  } else if (target == "lzma") {
    save(folder, "small", vyn::packers::lzma_compress(small));
    save(folder, "repeated", vyn::packers::lzma_compress(repeated));
    save(folder, "tiny-dictionary", vyn::packers::lzma_compress(repeated, 9, 4096));
  } else {
    return 2;
  }
  return 0;
}
