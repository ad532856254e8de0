#include "payload/lzma_packer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "foundation/exceptions.h"
#include "foundation/file_digest.h"
#include "foundation/file_mapping.h"
#include "foundation/handle.h"
#include "foundation/sha256.h"
#include "payload/testing/test_support.h"

namespace vyn::packers {
namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;
using sfx::testing::read_file;
using sfx::testing::write_file;

bytes to_bytes(const std::string& s) { return bytes(s.begin(), s.end()); }

bytes sample(std::size_t size) {
  bytes out(size);
  std::uint32_t x = 7;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = (i % 97 < 60) ? static_cast<std::uint8_t>("abcdefgh"[i % 8]) : static_cast<std::uint8_t>(x >> 24);
  }
  return out;
}

std::uint32_t code_of(const std::function<void()>& action, std::string* message = nullptr) {
  try {
    action();
  } catch (const vyn::exceptions::error& e) {
    if (message) *message = e.what();
    return e.code();
  }
  return 0;
}

class LzmaPacker : public ::testing::Test {
 protected:
  std::wstring path(const wchar_t* name) const { return (folder_ / name).wstring(); }

  win::unique_handle open_read(const std::wstring& p) {
    return win::unique_handle(::CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  }
  win::unique_handle create(const std::wstring& p, DWORD access = GENERIC_READ | GENERIC_WRITE) {
    return win::unique_handle(::CreateFileW(p.c_str(), access, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
  }

  sfx::testing::temp_folder folder_;
  lzma_packer packer_;
};

TEST_F(LzmaPacker, EverySlotPair_RoundTrips) {
  const bytes input = sample(300000);
  write_file(path(L"in.bin"), std::string(input.begin(), input.end()));
  using compress_slot = std::function<bytes(lzma_packer&)>;
  const std::pair<const char*, compress_slot> compressors[] = {
      {"file to file", [&](lzma_packer& p) { p.compress(path(L"in.bin"), path(L"c.lzma")); return to_bytes(read_file(path(L"c.lzma"))); }},
      {"handle to handle", [&](lzma_packer& p) {
         { auto in = open_read(path(L"in.bin")); auto out = create(path(L"c.lzma")); p.compress(in.get(), out.get()); }
         return to_bytes(read_file(path(L"c.lzma"))); }},
      {"memory to file", [&](lzma_packer& p) { p.compress(input, path(L"c.lzma")); return to_bytes(read_file(path(L"c.lzma"))); }},
      {"memory to handle", [&](lzma_packer& p) {
         { auto out = create(path(L"c.lzma")); p.compress(input, out.get()); }
         return to_bytes(read_file(path(L"c.lzma"))); }},
      {"memory to memory", [&](lzma_packer& p) { return p.compress(input); }},
  };
  using decompress_slot = std::function<bytes(lzma_packer&, const bytes&)>;
  const std::pair<const char*, decompress_slot> decompressors[] = {
      {"file to file", [&](lzma_packer& p, const bytes& packed) {
         write_file(path(L"p.lzma"), std::string(packed.begin(), packed.end()));
         p.decompress(path(L"p.lzma"), path(L"out.bin"));
         return to_bytes(read_file(path(L"out.bin"))); }},
      {"handle to handle", [&](lzma_packer& p, const bytes& packed) {
         write_file(path(L"p.lzma"), std::string(packed.begin(), packed.end()));
         { auto in = open_read(path(L"p.lzma")); auto out = create(path(L"out.bin")); p.decompress(in.get(), out.get()); }
         return to_bytes(read_file(path(L"out.bin"))); }},
      {"memory to file", [&](lzma_packer& p, const bytes& packed) {
         p.decompress(packed, path(L"out.bin"));
         return to_bytes(read_file(path(L"out.bin"))); }},
      {"memory to handle", [&](lzma_packer& p, const bytes& packed) {
         { auto out = create(path(L"out.bin")); p.decompress(packed, out.get()); }
         return to_bytes(read_file(path(L"out.bin"))); }},
      {"memory to memory", [&](lzma_packer& p, const bytes& packed) { return p.decompress(packed); }},
  };
  for (const auto& [compress_name, compress] : compressors) {
    lzma_packer packer;
    const bytes packed = compress(packer);
    for (const auto& [decompress_name, decompress] : decompressors) {
      SCOPED_TRACE(std::string(compress_name) + " / " + decompress_name);
      EXPECT_TRUE(decompress(packer, packed) == input);
    }
  }
}

TEST_F(LzmaPacker, XzStreamOfUnknownSize_FileEndsAtProducedLength) {
  const std::string plain = read_file(sfx::testing::fixture(L"plain.bin"));
  const bytes packed = to_bytes(read_file(sfx::testing::fixture(L"plain.lzma")));
  packer_.decompress(packed, path(L"out.bin"));
  EXPECT_EQ(fs::file_size(path(L"out.bin")), plain.size());
  EXPECT_EQ(read_file(path(L"out.bin")), plain);
}

// The source file is read view by view: a stream larger than one view decodes across the seam.
TEST_F(LzmaPacker, SourceFileLargerThanOneView_DecodesHandleToHandle) {
  const std::wstring source = sfx::testing::fixture(L"noise.lzma");
  ASSERT_GT(fs::file_size(source), files::sliding_view_size);
  auto in = open_read(source);
  auto out = create(path(L"noise.bin"));
  packer_.decompress(in.get(), out.get());
  root::sha256 hash;
  EXPECT_EQ(root::digest_of_file(hash, out.get()).hex(), read_file(sfx::testing::fixture(L"noise.sha256")).substr(0, 64));
}

TEST_F(LzmaPacker, TruncatedStreamToHandle_FailsAndLeavesFilePresized) {
  const bytes packed = packer_.compress(sample(200000));
  auto out = create(path(L"out.bin"));
  EXPECT_EQ(code_of([&] { packer_.decompress(std::span(packed).first(packed.size() / 2), out.get()); }), 1u);
  out.reset();
  EXPECT_EQ(fs::file_size(path(L"out.bin")), 200000u);
}

TEST_F(LzmaPacker, StreamToHandle_WrittenAtFilePointer) {
  auto out = create(path(L"out.bin"));
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(out.get(), "head", 4, &written, nullptr));
  const bytes packed = packer_.compress(sample(1000));
  packer_.decompress(packed, out.get());
  out.reset();
  const std::string text = read_file(path(L"out.bin"));
  // The pre-sizing sets the file to the declared size; the data follows what was there.
  EXPECT_EQ(text.substr(0, 4), "head");
  EXPECT_EQ(text.substr(4), std::string(reinterpret_cast<const char*>(sample(1000).data()), 1000));
}

TEST_F(LzmaPacker, UnsupportedAndMissingArguments_FailWithTheirCodes) {
  write_file(path(L"empty"), "");
  write_file(path(L"garbage.lzma"), std::string(40, '\xFF'));
  bytes buffer(16);
  const bytes packed = packer_.compress(sample(10));
  auto readonly_out = create(path(L"ro.lzma"), GENERIC_READ);
  std::string message;
  const struct {
    const char* name;
    std::function<void()> action;
    std::uint32_t code;
  } rows[] = {
      {"slot 6", [&] { packer_.decompress(packed, std::span(buffer)); }, 120},
      {"empty source by path", [&] { packer_.decompress(path(L"empty"), path(L"out1")); }, 87},
      {"empty source by handle", [&] { auto in = open_read(path(L"empty")); auto out = create(path(L"out2")); packer_.decompress(in.get(), out.get()); }, 87},
      {"missing path", [&] { packer_.decompress(std::wstring(), path(L"out3")); }, 87},
      {"missing compress path", [&] { packer_.compress(path(L"empty"), std::wstring()); }, 87},
      {"invalid handle", [&] { packer_.decompress(INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE); }, 87},
      {"invalid compress handle", [&] { packer_.compress(nullptr, INVALID_HANDLE_VALUE); }, 87},
      {"source not found", [&] { packer_.decompress(path(L"none.lzma"), path(L"out4")); }, ERROR_FILE_NOT_FOUND},
      {"garbage", [&] { packer_.decompress(path(L"garbage.lzma"), path(L"out5")); }, 4},
      {"destination not writable", [&] { packer_.compress(packed, readonly_out.get()); }, ERROR_ACCESS_DENIED},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(code_of(r.action, &message), r.code) << message;
  }
  EXPECT_FALSE(fs::exists(path(L"out1"))) << "a failed file-to-file decompression deletes its output";
  EXPECT_FALSE(fs::exists(path(L"out5")));
  EXPECT_EQ(message, "Unable to write to the output file!");
}

}  // namespace
}  // namespace vyn::packers
