#include "payload/payload_enumerator.h"

#include <gtest/gtest.h>

#include "foundation/exceptions.h"
#include "payload/payload_writer.h"
#include "payload/testing/stub_image.h"
#include "payload/testing/test_support.h"

namespace vyn::sfx {
namespace {

class PayloadEnumerator : public ::testing::Test {
 protected:
  std::shared_ptr<files::file_mapping> map(const std::vector<std::uint8_t>& image) {
    const auto path = folder_ / L"stub.exe";
    testing::write_file(path, std::string(image.begin(), image.end()));
    file_.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return std::make_shared<files::file_mapping>(file_.get());
  }

  testing::temp_folder folder_;
  win::unique_handle file_;
};

TEST_F(PayloadEnumerator, NoMapping_RaisesCode87AndLogs) {
  testing::log_capture log;
  try {
    payload_enumerator enumerator(nullptr);
    FAIL();
  } catch (const vyn::exceptions::error& e) {
    EXPECT_EQ(e.code(), 87u);
    EXPECT_STREQ(e.what(), "file handle is null");
  }
  EXPECT_EQ(log.count("payload_enumerator: input handle is nullptr"), 1);
}

TEST_F(PayloadEnumerator, EmptyFile_RaisesUnmappedView) {
  try {
    payload_enumerator enumerator(map({}));
    FAIL();
  } catch (const vyn::exceptions::error& e) {
    EXPECT_STREQ(e.what(), "Unable to retrieve pointer of the unmapped view!");
  }
}

TEST_F(PayloadEnumerator, ImageOfTheOtherKind_RefusedAtCreation) {
  testing::pe_image_layout layout;
  layout.optional_magic = testing::foreign_image_magic;
  EXPECT_THROW(payload_enumerator enumerator(map(testing::make_pe_image(layout))),
               sfx::exceptions::unsupported_file_format);
}

TEST_F(PayloadEnumerator, MappedStub_WalksRecordsAndRestarts) {
  auto image = testing::make_pe_image();
  const std::uint8_t data[] = {'x', 'y'};
  append_file_record(image, "one", data);
  append_file_record(image, "two", data, true);
  append_end_record(image);
  payload_enumerator enumerator(map(image));
  EXPECT_FALSE(enumerator.current());
  ASSERT_TRUE(enumerator.first());
  EXPECT_EQ(enumerator.current()->alias, L"one");
  ASSERT_TRUE(enumerator.next());
  EXPECT_EQ(enumerator.current()->alias, L"two");
  EXPECT_EQ(enumerator.current()->flags, 1u);
  EXPECT_FALSE(enumerator.next());
  EXPECT_FALSE(enumerator.current());
  EXPECT_TRUE(enumerator.first());
}

TEST_F(PayloadEnumerator, NoPayload_FirstReturnsFalse) {
  payload_enumerator enumerator(map(testing::make_pe_image()));
  EXPECT_FALSE(enumerator.first());
}

}  // namespace
}  // namespace vyn::sfx
