// pack and unpack as a maker uses them, checked against xz, a decoder we did not write.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "exit_codes.h"
#include "tool_test_support.h"

namespace vyn::tool {
namespace {

using test::quote;
using test::run;
using test::sfxtool;

class PackTest : public test::temp_dir_test {};

TEST_F(PackTest, PackedStream_DecodesWithXzAndUnpacksToTheInput) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i % 977) + " of the setup file\n";
  test::write_text(path("in.bin"), text);
  ASSERT_EQ(run(sfxtool() + " pack " + quote(path("in.bin")) + " " + quote(path("in.lzma"))).code, exit_ok);
  EXPECT_EQ(run("xz --format=lzma -dc " + quote(path("in.lzma")) + " | cmp - " + quote(path("in.bin"))).code, 0);
  ASSERT_EQ(run(sfxtool() + " unpack " + quote(path("in.lzma")) + " " + quote(path("out.bin"))).code, exit_ok);
  EXPECT_EQ(run("cmp " + quote(path("in.bin")) + " " + quote(path("out.bin"))).code, 0);
}

TEST_F(PackTest, XzStreamWithEndMarker_Unpacks) {
  test::write_text(path("in.bin"), std::string(100000, 'x') + "tail");
  ASSERT_EQ(run("xz --format=lzma -c " + quote(path("in.bin")) + " > " + quote(path("xz.lzma"))).code, 0);
  ASSERT_EQ(run(sfxtool() + " unpack " + quote(path("xz.lzma")) + " " + quote(path("out.bin"))).code, exit_ok);
  EXPECT_EQ(run("cmp " + quote(path("in.bin")) + " " + quote(path("out.bin"))).code, 0);
}

TEST_F(PackTest, TruncatedOrForeignStream_IsRefusedAndWritesNothing) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += std::to_string(i * 7919) + ",";
  test::write_text(path("in.bin"), text);
  ASSERT_EQ(run(sfxtool() + " pack " + quote(path("in.bin")) + " " + quote(path("in.lzma"))).code, exit_ok);
  const auto size = std::filesystem::file_size(path("in.lzma"));
  std::filesystem::resize_file(path("in.lzma"), size / 2);
  test::write_text(path("text.lzma"), "this is not a packed stream at all");
  for (const char* name : {"in.lzma", "text.lzma"}) {
    const auto r = run(sfxtool() + " unpack " + quote(path(name)) + " " + quote(path("out.bin")));
    EXPECT_EQ(r.code, exit_refused) << name << ": " << r.output;
    EXPECT_FALSE(std::filesystem::exists(path("out.bin"))) << name;
  }
  EXPECT_EQ(run(sfxtool() + " unpack " + quote(path("missing.lzma")) + " " + quote(path("out.bin"))).code, exit_io);
  EXPECT_EQ(run(sfxtool() + " pack " + quote(path("in.bin"))).code, exit_usage);
}

}  // namespace
}  // namespace vyn::tool
