// Our signature and an Authenticode signature made afterwards by osslsigncode (a test certificate
// made with openssl): version 3 survives, version 2 survives only when the certificate entry held
// its final values when we signed.

#include <gtest/gtest.h>

#include <string>

#include "exit_codes.h"
#include "payload/signature_check.h"
#include "payload/signature_testing.h"
#include "tool_test_support.h"

namespace vyn::tool {
namespace {

using test::quote;
using test::run;

class AuthenticodeTest : public test::temp_dir_test {
 protected:
  void SetUp() override {
    temp_dir_test::SetUp();
    const auto r = run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=vyn-sfx-test -keyout " +
                       quote(path("auth-key.pem")) + " -out " + quote(path("auth-cert.pem")));
    ASSERT_EQ(r.code, 0) << r.output;
  }

  // An image with a payload-like tail of `extra` bytes behind its sections.
  std::filesystem::path image(bool pe64, std::size_t extra) {
    auto data = sfx::testing::minimal_pe_image(pe64, 2500);
    data.resize(data.size() + extra, 0x3C);
    const auto file = path(std::string(pe64 ? "pe64-" : "pe32-") + std::to_string(extra) + ".exe");
    test::write_bytes(file, data);
    return file;
  }

  void sign(const std::string& options, const std::filesystem::path& in, const std::filesystem::path& out) {
    const auto r = run(test::sfxtool() + " sign --keys " + quote(test::key_dir()) + " --key dsa:1 " + options + " " +
                       quote(in) + " " + quote(out));
    ASSERT_EQ(r.code, exit_ok) << r.output;
  }

  void authenticode(const std::filesystem::path& in, const std::filesystem::path& out) {
    std::filesystem::remove(out);
    const auto r = run("osslsigncode sign -certs " + quote(path("auth-cert.pem")) + " -key " + quote(path("auth-key.pem")) +
                       " -in " + quote(in) + " -out " + quote(out));
    ASSERT_EQ(r.code, 0) << r.output;
    const auto check = run("osslsigncode verify -CAfile " + quote(path("auth-cert.pem")) + " " + quote(out));
    EXPECT_EQ(check.code, 0) << "the Authenticode signature covers our block: " << check.output;
  }

  static std::uint32_t cert_entry_size(const std::vector<std::uint8_t>& data) {
    const auto pe = sfx::signature::recognise_pe(data);
    std::uint32_t size = 0;
    for (int i = 0; i < 4; ++i) size |= std::uint32_t{data[pe->cert_entry + 4 + i]} << (8 * i);
    return size;
  }

  static bool is_signed(const std::filesystem::path& file) { return sfx::signature::is_signed(test::read_bytes(file), 7); }
};

TEST_F(AuthenticodeTest, Version3_StaysValidAfterAuthenticodeSigning) {
  for (bool pe64 : {false, true}) {
    for (std::size_t extra : {0u, 3u, 7u}) {  // different alignment padding in front of the table
      const auto in = image(pe64, extra);
      sign("--version 3", in, path("v3.exe"));
      authenticode(path("v3.exe"), path("v3-auth.exe"));
      EXPECT_TRUE(is_signed(path("v3-auth.exe"))) << pe64 << " extra " << extra;
      EXPECT_GT(test::read_bytes(path("v3-auth.exe")).size(), test::read_bytes(path("v3.exe")).size());
    }
  }
}

TEST_F(AuthenticodeTest, Version2_FailsOnceAuthenticodeSetsTheCertificateEntry) {
  for (bool pe64 : {false, true}) {
    sign("--version 2", image(pe64, 5), path("v2.exe"));
    EXPECT_TRUE(is_signed(path("v2.exe")));
    authenticode(path("v2.exe"), path("v2-auth.exe"));
    EXPECT_FALSE(is_signed(path("v2-auth.exe"))) << pe64;
  }
}

TEST_F(AuthenticodeTest, Version2WithTheFinalEntryReserved_StaysValidAfterAuthenticodeSigning) {
  for (bool pe64 : {false, true}) {
    // A trial run shows the size of the Authenticode table for this image and certificate.
    const auto in = image(pe64, 1);
    sign("--version 3", in, path("trial.exe"));
    authenticode(path("trial.exe"), path("trial-auth.exe"));
    const std::uint32_t table = cert_entry_size(test::read_bytes(path("trial-auth.exe")));
    ASSERT_GT(table, 0u);

    sign("--version 2 --reserve-cert-table " + std::to_string(table), in, path("v2.exe"));
    EXPECT_TRUE(is_signed(path("v2.exe")));
    authenticode(path("v2.exe"), path("v2-auth.exe"));
    EXPECT_EQ(cert_entry_size(test::read_bytes(path("v2-auth.exe"))), table);
    EXPECT_TRUE(is_signed(path("v2-auth.exe"))) << pe64;
    // The same reservation with a wrong size does not survive.
    sign("--version 2 --reserve-cert-table " + std::to_string(table + 8), in, path("v2-wrong.exe"));
    authenticode(path("v2-wrong.exe"), path("v2-wrong-auth.exe"));
    EXPECT_FALSE(is_signed(path("v2-wrong-auth.exe")));
  }
}

// build reserves the entry as sign does: a stub built in version 2 keeps its signature once the
// Authenticode table of the reserved size is appended.
TEST_F(AuthenticodeTest, BuildInVersion2WithTheEntryReserved_StaysValidAfterAuthenticodeSigning) {
  for (bool pe64 : {false, true}) {
    const auto stub = path(pe64 ? "stub64.exe" : "stub32.exe");
    test::write_bytes(stub, sfx::testing::minimal_pe_image(pe64, 2500));
    test::write_text(path("a.txt"), "payload file");
    const auto build = [&](const std::string& options, const std::filesystem::path& out) {
      std::filesystem::remove(out);
      const auto r = run(test::sfxtool() + " build --quiet --keys " + quote(test::key_dir()) + " --key dsa:0 " + options +
                         " --file " + quote(path("a.txt")) + " " + quote(stub) + " " + quote(out));
      ASSERT_EQ(r.code, exit_ok) << r.output;
    };
    build("--version 3", path("trial.exe"));
    if (HasFatalFailure()) return;
    authenticode(path("trial.exe"), path("trial-auth.exe"));
    const std::uint32_t table = cert_entry_size(test::read_bytes(path("trial-auth.exe")));
    ASSERT_GT(table, 0u);
    build("--version 2 --reserve-cert-table " + std::to_string(table), path("v2.exe"));
    if (HasFatalFailure()) return;
    EXPECT_TRUE(is_signed(path("v2.exe")));
    authenticode(path("v2.exe"), path("v2-auth.exe"));
    EXPECT_EQ(cert_entry_size(test::read_bytes(path("v2-auth.exe"))), table);
    EXPECT_TRUE(is_signed(path("v2-auth.exe"))) << pe64;
  }
}

TEST_F(AuthenticodeTest, AuthenticodeSignedInput_IsRefusedUnlessStripped) {
  authenticode(image(false, 0), path("auth.exe"));
  const auto refused = run(test::sfxtool() + " sign --keys " + quote(test::key_dir()) + " --key dsa:1 " +
                           quote(path("auth.exe")) + " " + quote(path("out.exe")));
  EXPECT_EQ(refused.code, exit_refused);
  EXPECT_NE(refused.output.find("certificate table"), std::string::npos) << refused.output;
  sign("--strip-authenticode", path("auth.exe"), path("stripped.exe"));
  EXPECT_TRUE(is_signed(path("stripped.exe")));
  authenticode(path("stripped.exe"), path("again.exe"));
  EXPECT_TRUE(is_signed(path("again.exe")));
}

}  // namespace
}  // namespace vyn::tool
