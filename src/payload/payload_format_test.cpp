#include "payload/payload_format.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "foundation/exceptions.h"
#include "payload/payload_writer.h"
#include "payload/testing/stub_image.h"
#include "payload/testing/test_support.h"

namespace vyn::sfx {
namespace {

using testing::log_capture;
using testing::make_pe_image;
using testing::pe_image_layout;
using bytes = std::vector<std::uint8_t>;

struct failure {
  bool raised = false;
  bool invalid_payload = false;
  bool unsupported_format = false;
  std::uint32_t code = 0;
  std::string message;
};

failure failure_of(const std::function<void()>& action) {
  failure f;
  try {
    action();
  } catch (const vyn::exceptions::error& e) {
    f.raised = true;
    f.invalid_payload = dynamic_cast<const sfx::exceptions::invalid_payload*>(&e) != nullptr;
    f.unsupported_format = dynamic_cast<const sfx::exceptions::unsupported_file_format*>(&e) != nullptr;
    f.code = e.code();
    f.message = e.what();
  }
  return f;
}

void put32(bytes& image, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::span<const std::uint8_t> text(const char* s) {
  return {reinterpret_cast<const std::uint8_t*>(s), std::char_traits<char>::length(s)};
}

TEST(PayloadImage, MalformedHeaders_RaiseInCheckOrderWithTheirLogLines) {
  const pe_image_layout layout;
  const std::uint32_t nt = layout.nt_offset;
  struct row {
    const char* name;
    std::function<void(bytes&)> damage;
    std::uint32_t code;
    const char* message;
    const char* log_line;  // nullptr: nothing logged
  } rows[] = {
      {"63 bytes", [](bytes& b) { b.resize(63); }, 5, "Unable to read outside of the mapped view!", nullptr},
      {"no MZ", [](bytes& b) { b[1] = 'X'; }, 193, "Missing DOS signature.", "File is not PE."},
      {"no MZ and short NT", [](bytes& b) { b[0] = 'Z', put32(b, 0x3C, 0xFFFFFF); }, 193,
       "Missing DOS signature.", "File is not PE."},
      {"NT offset past end", [](bytes& b) { put32(b, 0x3C, static_cast<std::uint32_t>(b.size() + 1)); },
       5, "Unable to read outside of the mapped view!", nullptr},
      {"NT headers cut", [](bytes& b) { put32(b, 0x3C, static_cast<std::uint32_t>(b.size() - 247)); },
       5, "Unable to read outside of the mapped view!", nullptr},
      {"no NT signature", [nt](bytes& b) { b[nt + 2] = 1; }, 193, "Missing NT signature.",
       "File is missing NT signature"},
      {"other image kind",
       [nt](bytes& b) {
         b[nt + 24] = testing::foreign_image_magic & 0xFF, b[nt + 25] = testing::foreign_image_magic >> 8;
       },
       193,
       "Exe file is not supported-bit.", "File is not supported-bit executable."},
      {"section table past end", [nt](bytes& b) { b[nt + 6] = 0xFF, b[nt + 7] = 0xFF; }, 5,
       "Unable to read outside of the mapped view!", nullptr},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    bytes image = make_pe_image(layout);
    r.damage(image);
    log_capture log;
    const failure f = failure_of([&] { payload_start_of(utils::byte_view(image)); });
    EXPECT_TRUE(f.raised);
    EXPECT_EQ(f.unsupported_format, f.code == 193);
    EXPECT_EQ(f.code, r.code);
    EXPECT_EQ(f.message, r.message);
    if (r.log_line) {
      EXPECT_EQ(log.count(std::string("[error  ] [isfx       ]")), 1) << log.text();
      EXPECT_EQ(log.count(r.log_line), 1) << log.text();
    } else {
      EXPECT_EQ(log.text(), "");
    }
  }
}

TEST(PayloadImage, PayloadStart_IsLargestSectionEndWhateverItsPosition) {
  pe_image_layout layout;
  layout.section_sizes = {0x200, 0x200, 0x200};
  bytes image = make_pe_image(layout);
  const std::uint32_t first = testing::section_table_offset(layout);
  EXPECT_EQ(payload_start_of(utils::byte_view(image)), image.size());
  put32(image, first + 20, 0x1000);  // first section's raw data moved behind the others
  EXPECT_EQ(payload_start_of(utils::byte_view(image)), 0x1200u);
}

TEST(PayloadImage, PayloadStartBehindFileEnd_RaisesUnsupportedFormat) {
  pe_image_layout layout;
  bytes image = make_pe_image(layout);
  const std::uint32_t last = testing::section_table_offset(layout) + 40;
  put32(image, last + 16, 0x201);
  log_capture log;
  const std::uint64_t start = payload_start_of(utils::byte_view(image));
  EXPECT_EQ(start, image.size() + 1);
  const failure f = failure_of([&] { check_payload_start(start, image.size()); });
  EXPECT_TRUE(f.unsupported_format);
  EXPECT_EQ(f.message, "Payload starts behind file end.");
  EXPECT_EQ(log.count("Payload starts behind file end. File is invalid."), 1);
  EXPECT_NO_THROW(check_payload_start(image.size(), image.size()));

  // A section end beyond 4 GiB does not wrap around into the image.
  put32(image, last + 20, 0xFFFFFF00);
  put32(image, last + 16, 0x200);
  EXPECT_EQ(payload_start_of(utils::byte_view(image)), 0x100000100ull);
}

class PayloadWalk : public ::testing::Test {
 protected:
  PayloadWalk() : image_(make_pe_image()), start_(image_.size()) {}

  record_walker walker() {
    view_ = utils::byte_view(image_);
    return record_walker(view_, payload_start_of(view_));
  }

  bytes image_;
  std::size_t start_;
  utils::byte_view view_;
};

TEST_F(PayloadWalk, SectionsEndAtFileEnd_NoPayload) {
  log_capture log;
  auto w = walker();
  EXPECT_FALSE(w.first());
  EXPECT_FALSE(w.current());
  EXPECT_FALSE(w.next());
  EXPECT_EQ(log.count("[info   ]"), 1);
  EXPECT_EQ(log.count("No payload present in file."), 1);
}

TEST_F(PayloadWalk, EndRecordOnly_FirstReturnsFalseWithoutRecord) {
  append_end_record(image_);
  auto w = walker();
  EXPECT_FALSE(w.first());
  EXPECT_FALSE(w.current());
}

TEST_F(PayloadWalk, Records_DescribedInOrderUpToEndRecord) {
  record_fields config;
  config.type = record_type_config;
  config.timestamp = 0x0102030405060708ull;
  config.alias = "sfx-info.xml";
  config.sha256[0] = 0x39;
  config.sha256[1] = 0xA5;
  config.sha256[31] = 0xFF;
  append_record(image_, config, text("<sfx-info/>"));
  record_fields unnamed;
  unnamed.flags = 1;
  append_record(image_, unnamed, text("xyz"));
  append_end_record(image_);
  image_.insert(image_.end(), 72, 0xEE);  // signature bytes behind the end record are never read

  auto w = walker();
  ASSERT_TRUE(w.first());
  const payload_record& first = *w.current();
  EXPECT_EQ(first.type, record_type_config);
  EXPECT_EQ(first.flags, 0u);
  EXPECT_EQ(first.timestamp, 0x0102030405060708ull);
  EXPECT_EQ(first.size, 11u);
  EXPECT_EQ(first.data_offset, start_ + 58 + 12);
  EXPECT_EQ(first.alias, L"sfx-info.xml");
  EXPECT_EQ(first.sha256, L"39a5" + std::wstring(58, L'0') + L"ff");
  ASSERT_TRUE(w.next());
  EXPECT_EQ(w.current()->alias, L"");
  EXPECT_EQ(w.current()->flags, 1u);
  EXPECT_EQ(w.current()->data_offset, start_ + 58 + 12 + 11 + 58);
  EXPECT_FALSE(w.next());
  EXPECT_FALSE(w.current());
  EXPECT_FALSE(w.next());
  ASSERT_TRUE(w.first()) << "first() restarts the walk";
  EXPECT_EQ(w.current()->alias, L"sfx-info.xml");
}

TEST_F(PayloadWalk, EndFlagBitAlone_EndsWalkWhateverTheType) {
  record_fields end_by_flag;
  end_by_flag.type = 'C';
  end_by_flag.flags = 0x11;
  record_fields colon_without_flag;
  colon_without_flag.type = record_type_end;
  colon_without_flag.alias = "colon";
  append_record(image_, colon_without_flag, {});
  append_record(image_, end_by_flag, {});
  auto w = walker();
  ASSERT_TRUE(w.first());
  EXPECT_EQ(w.current()->alias, L"colon");
  EXPECT_FALSE(w.next());
}

TEST_F(PayloadWalk, EndRecordCutBehindFlags_StillEnds) {
  append_end_record(image_);
  image_.resize(start_ + 12);  // nothing of the end record is read beyond its flags
  auto w = walker();
  EXPECT_FALSE(w.first());
}

TEST_F(PayloadWalk, RecordPastFileEnd_FailsReadingNextHeader) {
  record_fields huge;
  huge.alias = "big";
  append_record(image_, huge, text("abc"));
  put32(image_, start_ + 20, 0xFFFFFFF0);  // declared size runs far past the file end
  append_end_record(image_);
  auto w = walker();
  ASSERT_TRUE(w.first());
  const failure f = failure_of([&] { w.next(); });
  EXPECT_FALSE(f.invalid_payload);
  EXPECT_EQ(f.code, 5u);
  EXPECT_EQ(f.message, "Unable to read outside of the mapped view!");
  EXPECT_EQ(w.current()->alias, L"big") << "a failed step keeps the previous record";
}

TEST_F(PayloadWalk, MissingEndRecord_FailsAtFileEnd) {
  append_file_record(image_, "a", text("data"));
  auto w = walker();
  ASSERT_TRUE(w.first());
  EXPECT_EQ(failure_of([&] { w.next(); }).code, 5u);
}

TEST_F(PayloadWalk, Version2_RefusedWithItsLogLine) {
  append_end_record(image_);
  image_[start_] = 2;
  log_capture log;
  auto w = walker();
  const failure f = failure_of([&] { w.first(); });
  EXPECT_TRUE(f.invalid_payload);
  EXPECT_EQ(f.code, 487u);
  EXPECT_EQ(f.message, "Header version is not supported");
  EXPECT_EQ(log.count("Version 2 is not supported!"), 1) << log.text();
}

TEST_F(PayloadWalk, WrongMagic_LogsBothLinesAndFailsReadingPayload) {
  append_end_record(image_);
  image_[start_ + 1] = 'X', image_[start_ + 2] = 'Y', image_[start_ + 3] = 'Z';
  log_capture log;
  auto w = walker();
  const failure f = failure_of([&] { w.first(); });
  EXPECT_TRUE(f.invalid_payload);
  EXPECT_EQ(f.message, "Fail on read payload");
  EXPECT_EQ(log.count("Invalid payload, 'APE' expected, 'XYZ' got."), 1) << log.text();
  EXPECT_EQ(log.count("Fail on read value 0. Exception: Invalid magic string"), 1) << log.text();
  EXPECT_EQ(log.count("[error  ]"), 2);
}

TEST_F(PayloadWalk, HeaderCutInsideField_FailsNamingThatField) {
  record_fields fields;
  fields.alias = "name";
  append_record(image_, fields, text("data"));
  const struct {
    std::size_t cut;  // record bytes left
    int step;
  } rows[] = {{1, 0}, {3, 0}, {5, 1}, {9, 2}, {13, 3}, {23, 4}, {40, 5}, {57, 6}, {60, 7}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.cut);
    bytes image(image_.begin(), image_.begin() + static_cast<std::ptrdiff_t>(start_ + r.cut));
    utils::byte_view view(image);
    record_walker w(view, start_);
    log_capture log;
    const failure f = failure_of([&] { w.first(); });
    EXPECT_TRUE(f.invalid_payload);
    EXPECT_EQ(f.message, "Fail on read payload");
    EXPECT_EQ(log.count("Fail on read value " + std::to_string(r.step) + "."), 1) << log.text();
  }
}

TEST_F(PayloadWalk, NameNotUtf8_FailsOnName) {
  record_fields fields;
  fields.alias = "\xC3(";
  append_record(image_, fields, {});
  append_end_record(image_);
  log_capture log;
  auto w = walker();
  EXPECT_TRUE(failure_of([&] { w.first(); }).invalid_payload);
  EXPECT_EQ(log.count("Fail on read value 7."), 1);
}

}  // namespace
}  // namespace vyn::sfx
