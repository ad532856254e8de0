// build as a maker uses it: the stub it writes is read back with the stub's own payload reader and
// signature check.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "exit_codes.h"
#include "foundation/byte_view.h"
#include "foundation/sha256.h"
#include "foundation/strings.h"
#include "payload/lzma_codec.h"
#include "payload/payload_format.h"
#include "payload/signature_check.h"
#include "payload/signature_testing.h"
#include "tool_test_support.h"

namespace vyn::tool {
namespace {

using test::quote;
using test::run;
using test::sfxtool;

struct read_record {
  std::uint32_t type = 0;
  std::uint32_t flags = 0;
  std::uint64_t timestamp = 0;
  std::string alias;
  std::string content;  // unpacked
};

std::string text_of(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

class BuildTest : public test::temp_dir_test {
 protected:
  std::filesystem::path stub(bool pe64) {
    const auto file = path(pe64 ? "stub64.exe" : "stub32.exe");
    test::write_bytes(file, sfx::testing::minimal_pe_image(pe64, 3000));
    return file;
  }

  test::run_result build(const std::string& args, const std::filesystem::path& in, const std::filesystem::path& out) {
    return run("cd " + quote(dir_) + " && " + sfxtool() + " build --keys " + quote(test::key_dir()) + " --key dsa:0 " +
               args + " " + quote(in) + " " + quote(out));
  }

  // Walks the payload from where the image's sections end, as the stub does, checks every record's
  // content against its SHA-256 and that the end record and the signature block close the file.
  static std::vector<read_record> walk(const std::vector<std::uint8_t>& file, std::uint64_t payload_start) {
    const utils::byte_view view(file);
    sfx::record_walker walker(view, payload_start);
    std::vector<read_record> records;
    std::uint64_t end_record = payload_start;
    for (bool more = walker.first(); more; more = walker.next()) {
      const sfx::payload_record& r = *walker.current();
      const auto data = view.range(r.data_offset, r.size);
      const auto content =
          r.flags == 1 ? packers::lzma_decompress(data) : std::vector<std::uint8_t>(data.begin(), data.end());
      root::sha256 hash;
      EXPECT_EQ(utils::to_wide(root::digest_of(hash, content).hex()), r.sha256) << utils::to_narrow(r.alias);
      records.push_back({r.type, r.flags, r.timestamp, utils::to_narrow(r.alias), text_of(content)});
      end_record = std::uint64_t{r.data_offset} + r.size;
    }
    EXPECT_EQ(file.size(), end_record + 58 + 72) << "end record and signature block close the file";
    EXPECT_EQ(view.read_le<std::uint32_t>(end_record + 8), 0x10u);
    return records;
  }
};

TEST_F(BuildTest, BuiltStub_WalksBackToItsEntriesAndVerifies) {
  test::write_text(path("sfx-info.in"), "<?xml version=\"1.0\"?>\r\n<sfx-info/>\r\n");
  ASSERT_EQ(run(sfxtool() + " sign --keys " + quote(test::key_dir()) + " --key dsa:0 --form xml " +
                quote(path("sfx-info.in")) + " " + quote(path("sfx-info.xml"))).code, exit_ok);
  std::string big;
  for (int i = 0; i < 3000; ++i) big += "setup payload line " + std::to_string(i % 97) + "\n";
  test::write_text(path("setup.bin"), big);
  test::write_text(path("hashed.bin"), "reachable by hash only");
  std::filesystem::create_directories(path("data/sub"));
  test::write_text(path("data/b.edat"), "b");
  test::write_text(path("data/sub/a.edat"), "a");
  test::write_text(path("listed.txt"), "listed");
  test::write_text(path("records.list"),
                   "# entries of a list\nlzma\nfile listed.txt:from/list.txt\nstored\nhashed listed.txt\n");
  const std::string entries = "--file sfx-info.xml --lzma --file setup.bin:product/setup.bin --hashed hashed.bin "
                              "--stored --dir data --list records.list --timestamp 1700000000";
  const std::vector<read_record> expected = {
      {'F', 0, 1700000000, "sfx-info.xml", text_of(test::read_bytes(path("sfx-info.xml")))},
      {'C', 1, 1700000000, "product/setup.bin", big},
      {'C', 1, 1700000000, "", "reachable by hash only"},
      {'C', 0, 1700000000, "b.edat", "b"},
      {'C', 0, 1700000000, "sub/a.edat", "a"},
      {'C', 1, 1700000000, "from/list.txt", "listed"},
      {'C', 0, 1700000000, "", "listed"},
  };
  for (const bool pe64 : {false, true}) {
    const auto in = stub(pe64);
    const auto image = test::read_bytes(in);
    const auto out = path("built.exe");
    const auto r = build(entries + (pe64 ? " --version 2" : ""), in, out);
    ASSERT_EQ(r.code, exit_ok) << r.output;
    EXPECT_EQ(r.output.find("refuse"), std::string::npos) << r.output;
    const auto file = test::read_bytes(out);
    ASSERT_TRUE(std::equal(image.begin(), image.end(), file.begin())) << "the image is kept as linked";
    const std::uint64_t start = pe64 ? image.size() : sfx::payload_start_of(utils::byte_view(file));
    const auto records = walk(file, start);
    ASSERT_EQ(records.size(), expected.size()) << r.output;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(records[i].type, expected[i].type) << i;
      EXPECT_EQ(records[i].flags, expected[i].flags) << i;
      EXPECT_EQ(records[i].timestamp, expected[i].timestamp) << i;
      EXPECT_EQ(records[i].alias, expected[i].alias) << i;
      EXPECT_EQ(records[i].content, expected[i].content) << i;
    }
    const auto check = sfx::signature::check(file, 7);
    EXPECT_TRUE(check.valid()) << "pe64 " << pe64;
    EXPECT_EQ(check.block->version, pe64 ? 2 : 3);
    EXPECT_EQ(check.block->signed_length, file.size() - 72);
  }
}

TEST_F(BuildTest, UnstrippedImage_LosesItsSymbolTableAndLongSectionNames) {
  auto image = sfx::testing::minimal_pe_image(false, 1000);
  const auto sections_end = image.size();
  sfx::testing::put_u32(image, 0x80 + 12, static_cast<std::uint32_t>(sections_end));  // PointerToSymbolTable
  sfx::testing::put_u32(image, 0x80 + 16, 2);                                         // NumberOfSymbols
  const std::size_t section_name = 0x80 + 24 + 224;
  std::copy_n("/4\0\0\0\0\0", 8, image.begin() + section_name);  // the name at offset 4 of the string table
  image.resize(sections_end + 2 * 18, 0x11);
  const std::string strings = std::string("\x10\0\0\0", 4) + std::string(".debug_info\0", 12);
  image.insert(image.end(), strings.begin(), strings.end());
  test::write_bytes(path("unstripped.exe"), image);
  test::write_text(path("x.txt"), "x");
  const auto r = build("--file x.txt", path("unstripped.exe"), path("out.exe"));
  ASSERT_EQ(r.code, exit_ok) << r.output;
  EXPECT_NE(r.output.find("warning: no record has the alias sfx-info.xml"), std::string::npos) << r.output;
  const auto file = test::read_bytes(path("out.exe"));
  const utils::byte_view view(file);
  EXPECT_EQ(view.read_le<std::uint64_t>(0x80 + 12), 0u) << "symbol table pointer and count cleared";
  EXPECT_EQ(std::string(file.begin() + section_name, file.begin() + section_name + 8), ".debug_i");
  const auto records = walk(file, sfx::payload_start_of(view));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].alias, "x.txt");
  EXPECT_TRUE(sfx::signature::is_signed(file, 7));
}

TEST_F(BuildTest, BadInputs_AreRefusedWithTheirExitCodesAndWriteNothing) {
  test::write_text(path("a.txt"), "a");
  const auto good = stub(false);
  ASSERT_EQ(build("--file a.txt", good, path("signed.exe")).code, exit_ok);
  auto tail = test::read_bytes(good);
  tail.push_back(0);
  test::write_bytes(path("tail.exe"), tail);
  auto authenticode = test::read_bytes(good);
  sfx::testing::append_cert_table(authenticode, 256);
  test::write_bytes(path("authenticode.exe"), authenticode);
  test::write_text(path("bad-utf8.list"), "file a.txt:\xff\xfe.txt\n");
  test::write_text(path("long.list"), "file a.txt:" + std::string(65536, 'n') + "\n");
  test::write_text(path("control.list"), "file a.txt:tab\there\n");
  struct failure {
    std::string args;
    std::filesystem::path stub;
    int code;
    std::string message;
  };
  const failure failures[] = {
      {"--file a.txt", path("signed.exe"), exit_refused, "already ends in a signature block"},
      {"--file a.txt", path("tail.exe"), exit_refused, "1 bytes lie behind its sections"},
      {"--file a.txt", path("authenticode.exe"), exit_refused, "certificate table"},
      {"--file a.txt", path("a.txt"), exit_refused, "not a PE image"},
      {"--file missing.txt", good, exit_io, "missing.txt"},
      {"--file a.txt --file a.txt", good, exit_usage, "the alias 'a.txt' is given twice"},
      {"--hashed a.txt --hashed a.txt", good, exit_usage, "already in the payload by its hash"},
      {"--file a.txt:", good, exit_usage, "empty alias"},
      {"--list bad-utf8.list", good, exit_usage, "not valid UTF-8"},
      {"--list long.list", good, exit_usage, "at most 65535 bytes"},
      {"--list control.list", good, exit_usage, "control character"},
      {"--file a.txt --version 4", good, exit_usage, "--version needs a number from 2 to 3"},
      {"--file a.txt --timestamp soon", good, exit_usage, "--timestamp needs a number"},
      {"--file a.txt --set 8", good, exit_usage, "build signs with key set 7, the only set the stub checks itself"},
      {"--file a.txt --set 9", good, exit_usage, "a stub signed with key set 9 would refuse to run"},
  };
  for (const auto& f : failures) {
    const auto r = build(f.args, f.stub, path("out.exe"));
    EXPECT_EQ(r.code, f.code) << f.args << ": " << r.output;
    EXPECT_NE(r.output.find(f.message), std::string::npos) << f.args << ": " << r.output;
    EXPECT_FALSE(std::filesystem::exists(path("out.exe"))) << f.args;
  }
  // Duplicates on request: both records are kept in order, the stub's index takes the later one.
  test::write_text(path("b.txt"), "b");
  ASSERT_EQ(build("--allow-duplicates --file a.txt:same --file b.txt:same", good, path("out.exe")).code, exit_ok);
  const auto records = walk(test::read_bytes(path("out.exe")), test::read_bytes(good).size());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].content, "b");
}

// A key folder of one ECDSA key of set 7, made with openssl (faster than keygen's DSA domains).
std::filesystem::path own_key_folder(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir);
  const auto pem = dir / "own-ecdsa-0.pem";
  const auto made = run("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " + quote(pem));
  EXPECT_EQ(made.code, 0) << made.output;
  const auto point = run("openssl pkey -in " + quote(pem) + " -pubout -outform DER | tail -c 65 | od -An -v -tx1 | tr -d ' \\n'");
  EXPECT_EQ(point.code, 0) << point.output;
  EXPECT_EQ(point.output.size(), 130u) << point.output;
  test::write_text(dir / "keys.txt", "7 ecdsa own-ecdsa-0\n");
  test::write_text(dir / "own-ecdsa-0.pub", "point " + point.output + "\n");
  return dir;
}

// The stub that a build signs trusts the key folder it was built with: its sfx-info.xml is
// checked against that folder, not against the keys the tool was built with.
TEST_F(BuildTest, SfxInfo_IsCheckedAgainstTheKeyFolderThatSigns) {
  const auto own = own_key_folder(path("own-keys"));
  test::write_text(path("sfx-info.in"), "<?xml version=\"1.0\"?>\n<sfx-info/>\n");
  const struct {
    std::filesystem::path sign_keys;
    std::string sign_key;
    std::filesystem::path build_keys;
    std::string build_key;
    bool warned;
  } cases[] = {
      {own, "ecdsa:0", own, "ecdsa:0", false},
      {own, "ecdsa:0", test::key_dir(), "dsa:0", true},
      {test::key_dir(), "dsa:1", own, "ecdsa:0", true},
      {test::key_dir(), "dsa:1", test::key_dir(), "dsa:0", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sign_keys.string() + " / " + c.build_keys.string());
    std::filesystem::remove(path("sfx-info.xml"));
    ASSERT_EQ(run(sfxtool() + " sign --quiet --keys " + quote(c.sign_keys) + " --key " + c.sign_key + " --form xml " +
                  quote(path("sfx-info.in")) + " " + quote(path("sfx-info.xml"))).code, exit_ok);
    const auto r = run(sfxtool() + " build --keys " + quote(c.build_keys) + " --key " + c.build_key +
                       " --file " + quote(path("sfx-info.xml")) + " " + quote(stub(false)) + " " + quote(path("out.exe")));
    ASSERT_EQ(r.code, exit_ok) << r.output;
    EXPECT_EQ(r.output.find("carries no signature that key set 7 of") != std::string::npos, c.warned) << r.output;
  }
}

// Whatever a development key signs can be forged by anyone: build, sign and publish say so.
TEST_F(BuildTest, DevelopmentKey_IsWarnedAboutWhenSigning) {
  const auto own = own_key_folder(path("own-keys"));
  test::write_text(path("a.txt"), "a");
  const std::string warning = "is a development key of keys/dev, whose private half is public";
  for (const auto& [keys, key, warned] : {std::tuple{test::key_dir(), "dsa:0", true}, {own, "ecdsa:0", false}}) {
    SCOPED_TRACE(keys.string());
    const std::string options = " --quiet --keys " + quote(keys) + " --key " + key + " ";
    const auto built = run(sfxtool() + " build" + options + "--file " + quote(path("a.txt")) + " " + quote(stub(false)) +
                           " " + quote(path("built.exe")));
    ASSERT_EQ(built.code, exit_ok) << built.output;
    EXPECT_EQ(built.output.find(warning) != std::string::npos, warned) << built.output;
    const auto signed_file =
        run(sfxtool() + " sign" + options + quote(path("a.txt")) + " " + quote(path("a.sig")));
    ASSERT_EQ(signed_file.code, exit_ok) << signed_file.output;
    EXPECT_EQ(signed_file.output.find(warning) != std::string::npos, warned) << signed_file.output;
    std::filesystem::remove(path("built.exe"));
    std::filesystem::remove(path("a.sig"));
  }
}

}  // namespace
}  // namespace vyn::tool
