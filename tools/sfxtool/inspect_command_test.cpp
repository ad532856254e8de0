#include <gtest/gtest.h>

#include <string>

#include "exit_codes.h"
#include "payload/signature_testing.h"
#include "tool_test_support.h"

namespace vyn::tool {
namespace {

using test::quote;
using test::run;
using test::sfxtool;

class InspectTest : public test::temp_dir_test {
 protected:
  // A stub of a minimal PE32 image with a configuration (stored), a packed file and one reachable
  // by hash only.
  std::filesystem::path built_stub() {
    test::write_bytes(path("stub.exe"), sfx::testing::minimal_pe_image(false, 3000));
    test::write_text(path("sfx-info.xml"), "<sfx-info/>\n");
    test::write_text(path("setup.bin"), std::string(5000, 's'));
    test::write_text(path("hashed.bin"), "by hash");
    const auto result = run(sfxtool() + " build --keys " + quote(test::key_dir()) + " --key dsa:0 --timestamp 1700000000 " +
                            "--file " + quote(path("sfx-info.xml")) + " --lzma --file " + quote(path("setup.bin")) +
                            ":product/setup.bin --stored --hashed " + quote(path("hashed.bin")) + " " +
                            quote(path("stub.exe")) + " " + quote(path("built.exe")));
    EXPECT_EQ(result.code, exit_ok) << result.output;
    return path("built.exe");
  }
};

TEST_F(InspectTest, BuiltStub_ListsEveryRecordAndTheKeyOfItsSignature) {
  const auto stub = built_stub();
  const auto result = run(sfxtool() + " inspect " + quote(stub));
  EXPECT_EQ(result.code, exit_ok) << result.output;
  const std::string& out = result.output;
  EXPECT_NE(out.find(": PE32 image of "), std::string::npos) << out;
  // sha256sum of "<sfx-info/>\n" and 5000 's' characters.
  for (const std::string line : {
           "  1   F    stored         12         12  1700000000  ",
           "  2   C    lzma   ",
           "       5000  1700000000  ",
           "  product/setup.bin",
           "  3   C    stored          7          7  1700000000  ",
           "  (none: by hash only)",
           "signature: version 3, binary block, ",
           "key set 7, dsa key 0",
       }) {
    EXPECT_NE(out.find(line), std::string::npos) << "'" << line << "'\n" << out;
  }
}

TEST_F(InspectTest, AlteredOrForeignOrNoStub_SaySoInTheExitCode) {
  const auto stub = built_stub();
  auto bytes = test::read_bytes(stub);
  bytes[bytes.size() - 100] ^= 1;  // a byte of the last record's data
  test::write_bytes(path("altered.exe"), bytes);
  const auto altered = run(sfxtool() + " inspect " + quote(path("altered.exe")));
  EXPECT_EQ(altered.code, exit_not_signed) << altered.output;
  EXPECT_NE(altered.output.find("INVALID: no key of the key sets 0-5, 7 and 8 accepts it"), std::string::npos)
      << altered.output;

  const auto other_set = run(sfxtool() + " inspect --set 8 " + quote(stub));
  EXPECT_EQ(other_set.code, exit_not_signed) << other_set.output;
  EXPECT_EQ(run(sfxtool() + " inspect --set 6 " + quote(stub)).code, exit_usage);

  test::write_text(path("text.txt"), "not a stub at all, not even MZ");
  EXPECT_EQ(run(sfxtool() + " inspect " + quote(path("text.txt"))).code, exit_refused);
  EXPECT_EQ(run(sfxtool() + " inspect " + quote(path("missing.exe"))).code, exit_io);
}

}  // namespace
}  // namespace vyn::tool
