// The tool as a program: commands, exit codes, messages and the files it writes.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "exit_codes.h"
#include "payload/signature_check.h"
#include "payload/signature_testing.h"
#include "tool_test_support.h"

namespace vyn::tool {
namespace {

using test::quote;
using test::run;
using test::sfxtool;

class SfxtoolTest : public test::temp_dir_test {
 protected:
  std::string sign_args(const std::string& extra, const std::filesystem::path& in, const std::filesystem::path& out) {
    return sfxtool() + " sign --keys " + quote(test::key_dir()) + " " + extra + " " + quote(in) + " " + quote(out);
  }
};

TEST_F(SfxtoolTest, HelpAndUsageErrors) {
  for (const char* command : {"keygen", "sign", "verify", "pack", "unpack", "build", "publish"}) {
    const auto help = run(sfxtool() + " " + command + " --help");
    EXPECT_EQ(help.code, exit_ok) << command;
    EXPECT_NE(help.output.find(std::string("usage: sfxtool ") + command), std::string::npos) << help.output;
  }
  EXPECT_EQ(run(sfxtool() + " --help").code, exit_ok);
  EXPECT_NE(run(sfxtool() + " --help").output.find("exit codes"), std::string::npos);
  const std::pair<std::string, const char*> usage_errors[] = {
      {"", "usage"},
      {"frobnicate", "unknown command 'frobnicate'"},
      {"sign --bogus x", "unknown option --bogus"},
      {"sign --keys k in out", "needs --keys and --key"},
      {"sign --keys k --key dsa:0 --version 4 in out", "--version needs a number from 2 to 3"},
      {"sign --keys k --key dsa:0 --form pdf in out", "--form takes one of binary, text, xml"},
      {"sign --keys k --key dsa:0 --eol crlf in out", "--eol applies to --form xml only"},
      {"sign --keys k --key dsa:0 in", "needs INPUT and OUTPUT"},
      {"verify", "at least one FILE"},
      {"verify --set", "needs a value"},
      {"keygen a b", "exactly one folder"},
  };
  for (const auto& [args, message] : usage_errors) {
    auto in = path("in");
    test::write_text(in, "data");
    const auto r = run("cd " + quote(dir_) + " && " + sfxtool() + " " + args);
    EXPECT_EQ(r.code, exit_usage) << args << ": " << r.output;
    EXPECT_NE(r.output.find(message), std::string::npos) << args << ": " << r.output;
  }
}

TEST_F(SfxtoolTest, SignThenVerify_EveryFormAndVersion) {
  const std::string xml = "<?xml version=\"1.0\"?>\r\n<sfx-info/>\r\n";
  test::write_text(path("in.xml"), xml);
  struct variant {
    std::string args;
    std::string expected_tail;
  };
  const variant variants[] = {{"--form binary --version 2 --key dsa:1", "VYNSig2B"},
                              {"--form binary --key ecdsa:0", "VYNSig3B"},
                              {"--form text --version 2 --key ecdsa:1", "VYNSig2A"},
                              {"--form xml --key set7-dsa-0", "VYNSig3A -->\r\n"},
                              {"--form xml --eol none --version 2 --key dsa:0", "VYNSig2A -->"},
                              {"--set 8 --key ecdsa:6", "VYNSig3B"}};
  for (const auto& v : variants) {
    const auto out = path("out");
    const auto signed_run = run(sign_args(v.args, path("in.xml"), out));
    ASSERT_EQ(signed_run.code, exit_ok) << v.args << ": " << signed_run.output;
    const auto data = test::read_bytes(out);
    const std::string text(data.begin(), data.end());
    EXPECT_EQ(text.substr(text.size() - v.expected_tail.size()), v.expected_tail) << v.args;
    const bool set8 = v.args.find("--set 8") != std::string::npos;
    const auto verified = run(sfxtool() + " verify" + (set8 ? " --set 8 " : " ") + quote(out));
    EXPECT_EQ(verified.code, exit_ok) << v.args << ": " << verified.output;
    EXPECT_NE(verified.output.find(": valid: key set"), std::string::npos) << verified.output;
    // The same check against the key folder's public files instead of the built-in table.
    EXPECT_EQ(run(sfxtool() + " verify --keys " + quote(test::key_dir()) + (set8 ? " --set 8 " : " ") + quote(out)).code,
              exit_ok);
    EXPECT_EQ(sfx::signature::is_signed(data, set8 ? 8 : 7), true);
  }
}

TEST_F(SfxtoolTest, Verify_ReportsWhyAFileIsNotSigned) {
  test::write_text(path("plain"), "nothing appended");
  auto r = run(sfxtool() + " verify " + quote(path("plain")));
  EXPECT_EQ(r.code, exit_not_signed);
  EXPECT_NE(r.output.find("INVALID: no signature block"), std::string::npos) << r.output;

  ASSERT_EQ(run(sign_args("--key dsa:0", path("plain"), path("signed"))).code, exit_ok);
  auto data = test::read_bytes(path("signed"));
  data[3] ^= 1;
  test::write_bytes(path("altered"), data);
  r = run(sfxtool() + " verify " + quote(path("signed")) + " " + quote(path("altered")));
  EXPECT_EQ(r.code, exit_not_signed);
  EXPECT_NE(r.output.find("signed: valid"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("altered: INVALID: no key of key set 7 accepts"), std::string::npos) << r.output;
  EXPECT_EQ(run(sfxtool() + " verify --set 8 " + quote(path("signed"))).code, exit_not_signed);
  EXPECT_EQ(run(sfxtool() + " verify " + quote(path("missing"))).code, exit_io);
  EXPECT_EQ(run(sfxtool() + " verify --set 6 " + quote(path("signed"))).code, exit_key);
}

TEST_F(SfxtoolTest, SignFailures_HaveTheirExitCodesAndLeaveNoOutput) {
  test::write_text(path("in"), "data");
  const auto out = path("out");
  struct failure {
    std::string args;
    std::filesystem::path input;
    int code;
  };
  ASSERT_EQ(run(sign_args("--key dsa:0", path("in"), path("signed"))).code, exit_ok);
  auto pe = sfx::testing::minimal_pe_image(false, 2000);
  sfx::testing::append_cert_table(pe, 512);
  test::write_bytes(path("authenticode.exe"), pe);
  const failure failures[] = {
      {"--key dsa:0", path("missing"), exit_io},
      {"--key dsa:7", path("in"), exit_key},
      {"--set 3 --key set7-dsa-0", path("in"), exit_key},
      {"--key dsa:0", path("signed"), exit_refused},
      {"--key dsa:0", path("authenticode.exe"), exit_refused},
      {"--key dsa:0 --reserve-cert-table 1000", path("in"), exit_refused},
  };
  for (const auto& f : failures) {
    const auto r = run(sign_args(f.args, f.input, out));
    EXPECT_EQ(r.code, f.code) << f.args << ": " << r.output;
    EXPECT_FALSE(std::filesystem::exists(out)) << f.args;
  }
  const auto no_folder = run(sfxtool() + " sign --keys " + quote(path("nokeys")) + " --key dsa:0 " + quote(path("in")) + " " + quote(out));
  EXPECT_EQ(no_folder.code, exit_key);
  EXPECT_NE(no_folder.output.find("keys.txt is missing"), std::string::npos) << no_folder.output;
  // Stripping the Authenticode table is the way out.
  EXPECT_EQ(run(sign_args("--key dsa:0 --strip-authenticode", path("authenticode.exe"), out)).code, exit_ok);
  EXPECT_TRUE(sfx::signature::is_signed(test::read_bytes(out), 7));
  // A private key that does not belong to the public file is caught before anything is written.
  std::filesystem::create_directory(path("mixed"));
  for (const char* f : {"keys.txt", "set7-dsa-0.pub", "set7-dsa-0.pem", "set7-dsa-1.pub", "set7-dsa-1.pem", "set7-ecdsa-0.pub",
                        "set7-ecdsa-0.pem", "set7-ecdsa-1.pub", "set7-ecdsa-1.pem"}) {
    std::filesystem::copy_file(test::key_dir() / f, path("mixed") / f);
  }
  std::filesystem::copy_file(test::key_dir() / "set7-dsa-1.pem", path("mixed") / "set7-dsa-0.pem",
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::remove(out);
  const auto mixed = run(sfxtool() + " sign --keys " + quote(path("mixed")) + " --key dsa:0 " + quote(path("in")) + " " + quote(out));
  EXPECT_EQ(mixed.code, exit_crypto) << mixed.output;
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(SfxtoolTest, Keygen_WritesEverySetAndRefusesAFolderInUse) {
  const auto folder = path("keys");
  const auto r = run(sfxtool() + " keygen " + quote(folder));
  ASSERT_EQ(r.code, exit_ok) << r.output;
  const auto index = test::read_bytes(folder / "keys.txt");
  const std::string text(index.begin(), index.end());
  const std::pair<unsigned, std::pair<int, int>> counts[] = {{7, {2, 2}}, {8, {10, 7}}, {0, {3, 2}}, {1, {4, 3}},
                                                             {2, {5, 2}}, {3, {3, 3}},  {4, {4, 2}}, {5, {5, 3}}};
  std::map<unsigned, std::pair<int, int>> found;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    unsigned set = 0;
    std::string kind;
    if (line.empty() || line[0] == '#' || !(std::istringstream(line) >> set >> kind)) continue;
    (kind == "dsa" ? found[set].first : found[set].second) += 1;
  }
  for (const auto& [set, expected] : counts) EXPECT_EQ(found[set], expected) << "set " << set;
  EXPECT_EQ(found.size(), 8u);
  EXPECT_EQ(std::filesystem::status(folder / "set8-dsa-3.pem").permissions() & std::filesystem::perms::group_read,
            std::filesystem::perms::none);
  // The new folder signs and its own public files verify.
  test::write_text(path("in"), "data");
  ASSERT_EQ(run(sfxtool() + " sign --keys " + quote(folder) + " --set 8 --key dsa:9 " + quote(path("in")) + " " +
                quote(path("out"))).code,
            exit_ok);
  EXPECT_EQ(run(sfxtool() + " verify --set 8 --keys " + quote(folder) + " " + quote(path("out"))).code, exit_ok);
  EXPECT_EQ(run(sfxtool() + " verify --set 8 " + quote(path("out"))).code, exit_not_signed) << "not a built-in key";
  EXPECT_EQ(run(sfxtool() + " keygen " + quote(folder)).code, exit_refused);
}

}  // namespace
}  // namespace vyn::tool
