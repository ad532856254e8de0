#include "payload/verify_signature.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/handle.h"
#include "foundation/sha256.h"
#include "foundation/strings.h"
#include "payload/signature_testing.h"

namespace vyn::sfx {
namespace {

using signature::block_form;
using signature::key_kind;

class VerifySignatureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t base[MAX_PATH];
    ASSERT_NE(::GetTempPathW(MAX_PATH, base), 0u);
    dir_ = std::wstring(base) + L"vyn-sig-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           utils::to_wide(::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_TRUE(::CreateDirectoryW(dir_.c_str(), nullptr));
  }

  void TearDown() override {
    for (const auto& f : files_) ::DeleteFileW(f.c_str());
    ::RemoveDirectoryW(dir_.c_str());
  }

  std::wstring write(const std::wstring& name, const std::vector<std::uint8_t>& data) {
    const std::wstring path = dir_ + L"\\" + name;
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    out.close();
    files_.push_back(path);
    return path;
  }

  static win::unique_handle open(const std::wstring& path) {
    return win::unique_handle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
  }

  static bool have_private_keys() { return !testing::test_private_keys().empty(); }

  static std::vector<std::uint8_t> sample(std::size_t size) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return data;
  }

  verify_signature verifier_;
  std::wstring dir_;
  std::vector<std::wstring> files_;
};

TEST_F(VerifySignatureTest, MissingFile_RaisesTheOpenFailure) {
  const std::wstring missing = dir_ + L"\\missing.exe";
  for (bool ext : {false, true}) {
    try {
      ext ? verifier_.verify_file_ext(missing) : verifier_.verify_file(missing);
      ADD_FAILURE() << "no exception";
    } catch (const exceptions::error& e) {
      EXPECT_STREQ(e.what(), "Open file for DSA check fail!");
      EXPECT_EQ(e.code(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    }
  }
}

TEST_F(VerifySignatureTest, EmptyFile_IsNotSigned) {
  const auto path = write(L"empty.bin", {});
  EXPECT_FALSE(verifier_.verify_file(path));
  EXPECT_FALSE(verifier_.verify_handle(open(path).get()));
  EXPECT_FALSE(verifier_.verify_handle_ext(open(path).get()));
  EXPECT_FALSE(verifier_.verify_handle(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(verifier_.verify_block(nullptr, 10));
  EXPECT_FALSE(verifier_.verify_block(reinterpret_cast<const std::uint8_t*>(""), 0));
}

// The stub this build made and signed with sfxtool (key set 7, DSA key 0, version 2).
TEST_F(VerifySignatureTest, SignedStub_VerifiesByPathHandleAndBytes) {
  const char* build = std::getenv("VYN_BUILD_DIR");
  ASSERT_NE(build, nullptr);
  std::wstring path = utils::to_wide(build) + L"/bin/vyn-sfx-signed.exe";
  if (path[0] == L'/') path = L"Z:" + path;  // a Linux path, seen from Wine
  if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "no signed stub in this build (the host sfxtool signs it; see VYN_SFXTOOL)";
  }
  EXPECT_TRUE(verifier_.verify_file(path));
  EXPECT_TRUE(verifier_.verify_handle(open(path).get()));
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 1000u);
  EXPECT_TRUE(verifier_.verify_block(bytes.data(), bytes.size()));
  EXPECT_EQ(std::string(bytes.end() - 8, bytes.end()), "VYNSig2B");
  EXPECT_FALSE(verifier_.verify_file_ext(path));
  auto altered = bytes;
  altered[altered.size() / 3] ^= 0x20;
  EXPECT_FALSE(verifier_.verify_block(altered.data(), altered.size()));
}

TEST_F(VerifySignatureTest, Set8Signature_OnlyTheExtOperationsAccept) {
  if (!have_private_keys()) GTEST_SKIP() << "no private keys in this build";
  const auto path = write(L"set8.bin", testing::sign(sample(5000), {}, 8, key_kind::dsa, 9));
  EXPECT_FALSE(verifier_.verify_file(path));
  EXPECT_FALSE(verifier_.verify_handle(open(path).get()));
  EXPECT_TRUE(verifier_.verify_file_ext(path));
  EXPECT_TRUE(verifier_.verify_handle_ext(open(path).get()));
  const auto set7 = write(L"set7.bin", testing::sign(sample(5000), {}, 7, key_kind::ecdsa, 0));
  EXPECT_TRUE(verifier_.verify_file(set7));
  EXPECT_FALSE(verifier_.verify_file_ext(set7));
}

TEST_F(VerifySignatureTest, XmlBlocksInMemory_VerifyAndBadDigitsGiveFalse) {
  if (!have_private_keys()) GTEST_SKIP() << "no private keys in this build";
  const std::string xml = "<?xml version=\"1.0\"?>\r\n<sfx-info/>\r\n";
  signature::sign_options o;
  o.form = block_form::text;
  o.xml_comment = true;
  o.line_end = signature::line_ending::crlf;
  o.version = 2;
  auto data = testing::sign(std::vector<std::uint8_t>(xml.begin(), xml.end()), o, 7, key_kind::ecdsa, 1);
  EXPECT_TRUE(verifier_.verify_block(data.data(), data.size()));
  data[xml.size() + 5 + 8 + 10] = 'q';
  EXPECT_FALSE(verifier_.verify_block(data.data(), data.size()));
}

TEST_F(VerifySignatureTest, FileByHash_ComparesWithTheFilesDigest) {
  const auto data = sample(70000);
  const auto path = write(L"data.bin", data);
  root::sha256 hash;
  const std::string lower = root::digest_of(hash, data).hex();
  std::string upper = lower;
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  std::string wrong = lower;
  wrong[10] = wrong[10] == '0' ? '1' : '0';
  struct hash_case {
    std::string text;
    bool matches;
  };
  const hash_case cases[] = {{lower, true},           {upper, true},          {wrong, false},
                             {lower.substr(1), false}, {lower + "00", false},   {"", false},
                             {lower.substr(0, 63) + "g", false}};
  for (const auto& c : cases) EXPECT_EQ(verifier_.verify_file_by_hash(path, c.text), c.matches) << c.text;
  EXPECT_FALSE(verifier_.verify_file_by_hash(dir_ + L"\\missing.bin", lower));
}

TEST_F(VerifySignatureTest, FileByHashFile_UsesTheFirstLineWithItsCarriageReturn) {
  const auto data = sample(1000);
  const auto path = write(L"data.bin", data);
  root::sha256 hash;
  const std::string digest = root::digest_of(hash, data).hex();
  struct line_case {
    const wchar_t* name;
    std::string content;
    bool matches;
  };
  const line_case cases[] = {{L"lf.sha", digest + "\nsecond line\n", true},
                             {L"bare.sha", digest, true},
                             {L"crlf.sha", digest + "\r\n", false},
                             {L"empty.sha", "", false},
                             {L"other.sha", std::string(64, '0') + "\n", false}};
  for (const auto& c : cases) {
    const auto hash_file = write(c.name, std::vector<std::uint8_t>(c.content.begin(), c.content.end()));
    EXPECT_EQ(verifier_.verify_file_by_hash_file(path, utils::to_narrow(hash_file)), c.matches)
        << utils::to_narrow(c.name);
  }
  EXPECT_FALSE(verifier_.verify_file_by_hash_file(path, utils::to_narrow(dir_ + L"\\missing.sha")));
}

// A downloaded setup file may come close to the transport's 4 GiB limit. A 32-bit process has no
// room for a view of such a file, so the check reads it view by view: one file of 1.6 GiB,
// written and signed here (version 3, binary block) as it is written, checked by handle and by
// path, then with one byte changed. Skipped where the disk has no room for it.
TEST_F(VerifySignatureTest, FileAbove1Point5GiB_VerifiesThroughBoundedViews) {
  constexpr std::uint64_t size = 1600ull << 20;
  constexpr std::size_t chunk = 8u << 20;
  if (!have_private_keys()) GTEST_SKIP() << "the key folder's private keys are not in this build";
  if (files::free_disk_space(dir_) < size + (2ull << 30)) GTEST_SKIP() << "less than 3.6 GiB free on the disk";
  const std::wstring path = dir_ + L"\\big.bin";
  files_.push_back(path);
  {
    win::unique_handle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    root::sha256 hash;
    std::vector<std::uint8_t> piece(chunk);
    for (std::uint64_t done = 0; done < size; done += chunk) {
      for (std::size_t i = 0; i < chunk; i += 4096) piece[i] = static_cast<std::uint8_t>(done >> 23);
      hash.update(piece.data(), piece.size());
      DWORD written = 0;
      ASSERT_TRUE(::WriteFile(file.get(), piece.data(), chunk, &written, nullptr) && written == chunk);
      if (done == 0) std::iota(piece.begin(), piece.end(), std::uint8_t{0});
    }
    std::uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(size >> (8 * i));
    hash.update(length, sizeof length);
    const root::digest digest = root::finish_digest(hash);
    const auto signature = testing::sign_digest(testing::test_key(7, key_kind::dsa, 0),
                                                std::span<const std::uint8_t, 32>(digest.bytes().data(), 32));
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), signature.data(), 64, &written, nullptr));
    ASSERT_TRUE(::WriteFile(file.get(), "VYNSig3B", 8, &written, nullptr));
  }
  EXPECT_TRUE(verifier_.verify_file(path));
  {
    const auto file = open(path);
    EXPECT_TRUE(verifier_.verify_handle(file.get()));
  }
  {
    win::unique_handle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size - 12345);
    ASSERT_TRUE(::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN));
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), "x", 1, &written, nullptr));
  }
  EXPECT_FALSE(verifier_.verify_file(path));
}

// Components obtain the verifier through the factory they implement.
class checking_component : public verify_signature::factory {
 public:
  std::shared_ptr<verify_signature_intf> create_verify_signature() override {
    return std::make_shared<verify_signature>();
  }
};

TEST_F(VerifySignatureTest, Factory_CreatesAWorkingVerifier) {
  checking_component component;
  const auto verifier = component.create_verify_signature();
  ASSERT_TRUE(verifier);
  EXPECT_FALSE(verifier->verify_block(reinterpret_cast<const std::uint8_t*>("not signed"), 10));
}

}  // namespace
}  // namespace vyn::sfx
