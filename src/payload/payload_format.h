#pragma once
// The byte format of the payload appended behind the stub's PE image: validation of the image
// headers, where the payload starts, and the walk over its records. Works on any range of bytes,
// so the maker's tool and the fuzzers use it as the stub does.

#include <cstdint>
#include <optional>

#include "foundation/byte_view.h"
#include "payload/payload_record.h"

namespace vyn::sfx {

inline constexpr std::uint32_t record_header_size = 58;
inline constexpr std::uint32_t end_record_flag = 0x10;
inline constexpr std::uint8_t record_version = 1;

inline constexpr std::uint16_t pe32_magic = 0x10B;
inline constexpr std::uint16_t pe32plus_magic = 0x20B;

// The stub ships as a 32-bit program and reads the payload of PE32 images only. Its x86_64 build,
// which exists solely to run the tests on machines that cannot execute 32-bit code, reads the
// payload of its own PE32+ image instead (and refuses PE32). Never defined for a shipped stub.
#ifdef VYN_PAYLOAD_IN_PE32PLUS
inline constexpr std::uint16_t payload_image_magic = pe32plus_magic;
#else
inline constexpr std::uint16_t payload_image_magic = pe32_magic;
#endif

// Validates the DOS and NT headers of an image whose optional header carries image_magic and
// returns the payload start offset: the largest end (PointerToRawData + SizeOfRawData) over all
// section headers. The sum is taken in 64 bits so that a section end past 4 GiB cannot wrap
// around into the image. Raises code 5 for reads outside the image and unsupported_file_format
// for images that are not PE files of that kind.
std::uint64_t payload_start_of(const utils::byte_view& image,
                               std::uint16_t image_magic = payload_image_magic);

// Raises unsupported_file_format when the payload would start behind the end of the file.
void check_payload_start(std::uint64_t payload_start, std::uint64_t file_size);

// Walks the records from the payload start. Describes records only; never copies their data.
class record_walker {
 public:
  // file must stay valid for the walker's lifetime.
  record_walker(const utils::byte_view& file, std::uint64_t payload_start)
      : file_(file), payload_start_(payload_start) {}

  // Positions on the first record; false for an empty payload or when the first record is the
  // end record.
  bool first();
  // Parses the record behind the current one; false when there is no current record or the
  // next one is the end record.
  bool next();
  // The current record; none before first() and after the end record.
  const std::optional<payload_record>& current() const noexcept { return current_; }

 private:
  bool read_at(std::uint64_t pos);
  payload_record parse_header(std::uint64_t pos, bool& is_end) const;

  utils::byte_view file_;
  std::uint64_t payload_start_;
  std::uint64_t next_pos_ = 0;
  std::optional<payload_record> current_;
};

}  // namespace vyn::sfx
