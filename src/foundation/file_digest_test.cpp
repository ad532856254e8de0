#include "foundation/file_digest.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/handle.h"
#include "foundation/strings.h"
#include "foundation/test_support.h"

namespace vyn::root {
namespace {

// Writes `size` bytes of the pattern byte(i) = (i * 7 + (i >> 11)) & 0xFF. The expected digests
// below were computed with sha256sum over the same pattern on the build machine:
//   python3 -c "import sys; sys.stdout.buffer.write(bytes(((i*7+(i>>11))&255) for i in range(N)))" | sha256sum
void write_pattern(const std::wstring& path, std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 11));
  files::set_file_content(path, bytes, true);
}

std::vector<sha256::transform_fn> transforms() {
  std::vector<sha256::transform_fn> all{sha256::plain_transform()};
  if (auto hardware = sha256::hardware_transform()) all.push_back(hardware);
  return all;
}

class FileDigest : public testing::Test {
 protected:
  testing_support::scratch_folder scratch_;
};

TEST_F(FileDigest, FilesAroundAndBeyondOneView_MatchSha256sum) {
  const struct {
    std::size_t size;
    const char* expected;
  } cases[] = {
      {40000000, "c85a0746e69f8b4bd4cd6c8ce82017308175a8422ae2bad4326ab14d062a1e9d"},
      {33554432, "61f28d2f251d70daff2f1c00d0f53d489bc485d06e49dda82a7e4bd2b0ad3398"},  // one view
      {33554433, "6bbbd5614bd0b113db2913b201bdfe0e82e0ccd80b2f67f26f68411ca01ae637"},
  };
  const std::wstring path = scratch_ / L"pattern.bin";
  for (const auto& c : cases) {
    write_pattern(path, c.size);
    for (const auto transform : transforms()) {
      sha256 hash(transform);
      EXPECT_EQ(digest_of_file(hash, path).hex(), c.expected) << c.size << " bytes";
    }
  }
}

TEST_F(FileDigest, OpenFileWithMovedPointer_IsHashedFromTheStart) {
  const std::wstring path = scratch_ / L"abc.txt";
  const std::uint8_t abc[] = {'a', 'b', 'c'};
  files::set_file_content(path, abc, false);
  win::unique_handle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  ::SetFilePointer(file.get(), 2, nullptr, FILE_BEGIN);
  sha256 hash;
  EXPECT_EQ(digest_of_file(hash, file.get()).hex(),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(FileDigest, EmptyFile_HashesNoBytes) {
  const std::wstring path = scratch_ / L"empty";
  files::set_file_content(path, {}, false);
  sha256 hash;
  EXPECT_EQ(digest_of_file(hash, path).hex(),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_F(FileDigest, MissingFile_FailsNamingThePath) {
  const std::wstring path = scratch_ / L"missing.bin";
  sha256 hash;
  try {
    digest_of_file(hash, path);
    FAIL() << "a missing file was hashed";
  } catch (const exceptions::error& e) {
    EXPECT_EQ(e.message(), "Unable to open file '" + utils::to_narrow(path) + "' for reading!");
    EXPECT_EQ(e.code(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
  }
}

}  // namespace
}  // namespace vyn::root
