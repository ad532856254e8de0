// The payload walk over arbitrary bytes: as a whole stub file (headers included), and as the
// payload behind a well-formed image (so that most inputs reach the record parser).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/exceptions.h"
#include "fuzz_options.h"
#include "payload/payload_format.h"
#include "payload/testing/stub_image.h"

namespace {

void walk(const std::vector<std::uint8_t>& file) {
  const vyn::utils::byte_view view(file);
  try {
    const std::uint64_t start = vyn::sfx::payload_start_of(view);
    vyn::sfx::check_payload_start(start, view.size());
    vyn::sfx::record_walker walker(view, start);
    std::size_t records = 0;
    for (bool more = walker.first(); more; more = walker.next()) {
      const auto& record = *walker.current();
      // Every record the walker reports starts inside the file and has 64 hexadecimal digits.
      if (record.data_offset > view.size() || record.sha256.size() != 64) __builtin_trap();
      if (++records > view.size()) __builtin_trap();  // each record takes at least 58 bytes
    }
  } catch (const vyn::exceptions::error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::vector<std::uint8_t> file;
  if (data[0] & 1) {
    static const std::vector<std::uint8_t> image = vyn::sfx::testing::make_pe_image();
    file = image;
  }
  file.insert(file.end(), data + 1, data + size);
  walk(file);
  return 0;
}
