// Online installations under Wine: stubs built by the maker's tool that carry little more than
// their sfx-info.xml install the product from the repository on the local test servers (nginx,
// the fault server, the proxies). Each run is checked by its exit code, the files the stand-in
// setup master found (by SHA-256), what stays in the product folder "common" when a run fails,
// the temporary folder, and the stub's own log lines.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "foundation/file_digest.h"
#include "foundation/files.h"
#include "foundation/sha256.h"
#include "foundation/strings.h"
#include "foundation/test_support.h"
#include "net/base64.h"
#include "net/sfx_proxy_parser.h"
#include "net/test_repository.h"
#include "net/test_servers.h"
#include "payload/signature_testing.h"
#include "stub_log.h"
#include "stub_process.h"

namespace vyn {
namespace {

using http::testing::bytes;
using testing_support::entries_of;
using testing_support::read_shared;
using testing_support::scoped_environment;
using testing_support::scratch_folder;
using testing_support::sha256_of_file;
using testing_support::windows_path;

constexpr DWORD download_failed = 44002;
constexpr DWORD invalid_signature = 44024;
constexpr DWORD general_error = 0xFFFFFFFF;  // errors that carry only a message
constexpr DWORD invalid_name = 123;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bytes bytes_of(const std::string& text) { return {text.begin(), text.end()}; }
std::string text_of(const bytes& data) { return {data.begin(), data.end()}; }

// "universe/h[0..3]/h[4..7]/h[8..11]/h.lzma".
std::string object_path(const std::string& hash) {
  return "universe/" + hash.substr(0, 4) + "/" + hash.substr(4, 4) + "/" + hash.substr(8, 4) + "/" + hash + ".lzma";
}

// What one run of a stub ended with.
struct run_outcome {
  DWORD exit_code = 0;
  std::vector<std::string> log;  // the run's own lines of the stub's log

  int count(const std::string& needle) const {
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::string& l) { return contains(l, needle); }));
  }
  std::string text() const {
    std::string all;
    for (const auto& line : log) all += line + "\n";
    return all;
  }
};

class OnlineInstallation : public ::testing::Test {
 protected:
  OnlineInstallation() { ::CreateDirectoryW(tmp().c_str(), nullptr); }
  ~OnlineInstallation() override {
    for (const auto& variant : variants_) {
      std::error_code ec;
      std::filesystem::remove_all(std::filesystem::path(servers_.windows_path("www/" + variant)), ec);
    }
  }

  std::wstring stub(const wchar_t* name) const { return windows_path(VYN_ONLINE_STUBS) + L"\\" + name; }
  std::wstring tmp() const { return scratch_ / L"tmp"; }
  std::wstring record() const { return scratch_ / L"record"; }
  std::string recorded(const wchar_t* name) const { return read_shared(record() + L"\\" + name).value_or(""); }

  // The fault server's answers for this test, scripted by rules ("-" for none), over one of its
  // listeners, for a repository folder of nginx's.
  std::string fault_base(const std::string& rules, const char* port = "FAULT_DUAL_PORT",
                         const std::string& repo = "installation") const {
    return fmt::format("https://localhost:{}/f/{}/{}/{}", servers_.port(port), id_, rules, repo);
  }
  std::vector<std::string> requests() const { return servers_.requests(id_); }

  // Starts the stub silently with its temporary folder below the scratch folder; the stand-in
  // setup master records into "record" and exits with 0.
  run_outcome run(const std::wstring& exe, const std::string& arguments = "") {
    const scoped_environment record_dir(L"VYN_TEST_RECORD_DIR", record());
    const scoped_environment exit_code(L"VYN_TEST_EXIT_CODE", L"0");
    const std::string marker = fmt::format("{}-{}", id_, ++runs_);
    const std::wstring command = L"\"" + exe + L"\" /silent /tmp-path:\"" + tmp() + L"\" /vyn-test-run:" +
                                 utils::to_wide(marker) + L" " + utils::to_wide(arguments);
    run_outcome outcome;
    outcome.exit_code = testing_support::run_and_wait(exe, command, 180000);
    outcome.log = testing_support::run_log("/vyn-test-run:" + marker);
    return outcome;
  }

  // What a failed run left: its outcome, and, of the run that kept its temporary folder, that
  // folder's entries and those of its "common".
  struct failed_run {
    run_outcome outcome;
    std::vector<std::wstring> temp;
    std::vector<std::wstring> common;
  };

  // Runs a stub that must fail: once with "xperf", which keeps the temporary folder, to see what
  // stays there, and once without, whose temporary folder must be gone.
  failed_run run_failing(const std::wstring& exe, const std::string& arguments, DWORD expected_code) {
    testing_support::remove_tree(record());
    failed_run failed;
    failed.outcome = run(exe, arguments + " /xperf");
    EXPECT_EQ(failed.outcome.exit_code, expected_code) << failed.outcome.text();
    EXPECT_TRUE(recorded(L"command-line.txt").empty()) << "the setup master must not start";
    const auto left = entries_of(tmp());
    EXPECT_EQ(left.size(), 1u) << "xperf keeps the temporary folder";
    if (left.size() == 1) {
      failed.temp = entries_of(tmp() + L"\\" + left[0]);
      failed.common = entries_of(tmp() + L"\\" + left[0] + L"\\common");
    }
    testing_support::remove_tree(tmp());
    ::CreateDirectoryW(tmp().c_str(), nullptr);

    const run_outcome removed = run(exe, arguments);
    EXPECT_EQ(removed.exit_code, expected_code) << removed.text();
    EXPECT_TRUE(entries_of(tmp()).empty()) << "the temporary folder is removed after a failed run";
    return failed;
  }

  // The demo product's files, as the setup master found them beside itself.
  void expect_demo_installed() {
    const std::string files = recorded(L"files.txt");
    EXPECT_TRUE(contains(files, kestro_ + "  common\\kestro.exe")) << files;
    EXPECT_TRUE(contains(files, bug_report_ + "  common\\bug_report.exe")) << files;
    EXPECT_TRUE(contains(files, readme_ + "  common\\readme.txt")) << files;
    EXPECT_TRUE(contains(files, "  common\\product-info.xml")) << files;
    EXPECT_TRUE(contains(recorded(L"arguments.txt"), "\n/install")) << recorded(L"arguments.txt");
    EXPECT_TRUE(entries_of(tmp()).empty()) << "the temporary folder is removed at the end";
  }

  // A copy of the published repository under a name of its own, for a test to alter.
  std::string variant_repository() {
    const std::string name = "variant-" + id_ + "-" + std::to_string(variants_.size());
    std::filesystem::copy(std::filesystem::path(servers_.windows_path("www/installation")),
                          std::filesystem::path(servers_.windows_path("www/" + name)),
                          std::filesystem::copy_options::recursive);
    variants_.push_back(name);
    return name;
  }
  std::wstring repo_file(const std::string& repo, const std::string& path) const {
    return servers_.windows_path("www/" + repo + "/" + path);
  }

  http::testing::test_servers servers_;
  scratch_folder scratch_;
  std::string id_ = http::testing::unique_id("online");
  int runs_ = 0;
  std::vector<std::string> variants_;
  const std::string kestro_ = sha256_of_file(windows_path(VYN_TEST_KESTRO_EXE));
  const std::string bug_report_ = sha256_of_file(windows_path(VYN_TEST_BUG_REPORT_EXE));
  const std::string readme_ = sha256_of_file(windows_path(VYN_FIXTURES_SOURCE) + L"\\product\\readme.txt");
};

// The main job: a stub that carries only its configuration installs the product from the HTTPS
// repository its sfx-info.xml names, with the download speeds logged and handed on.
TEST_F(OnlineInstallation, StubWithOnlyItsConfiguration_InstallsFromTheRepository) {
  const run_outcome outcome = run(stub(L"online.exe"));
  ASSERT_EQ(outcome.exit_code, 0u) << outcome.text();
  expect_demo_installed();
  EXPECT_EQ(outcome.count(fmt::format("Download of 'https://localhost:{}/installation/", servers_.port("NGINX_HTTPS_PORT"))), 4)
      << outcome.text();
  EXPECT_EQ(outcome.count("succeeded. (speed current: "), 4);
  EXPECT_EQ(outcome.count("correctly downloaded and stored to"), 3);
  EXPECT_EQ(outcome.count("unpacked from SFX archive"), 0) << "nothing comes from the payload";
  const std::string info = recorded(L"kestro-info.xml");
  EXPECT_TRUE(contains(info, "<average-download-speed>")) << info;
  EXPECT_TRUE(contains(info, "<alias>sfx-info.xml</alias>")) << info;
  EXPECT_EQ(info.find("<alias>"), info.rfind("<alias>")) << "the payload carries the configuration only";

  // Progress, logged as it rises, reaches 100 and never goes back.
  std::vector<int> percents;
  for (const auto& line : outcome.log) {
    const std::size_t at = line.find("Setup progress ");
    if (at != std::string::npos) percents.push_back(std::stoi(line.substr(at + 15)));
  }
  ASSERT_FALSE(percents.empty()) << outcome.text();
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_EQ(std::adjacent_find(percents.begin(), percents.end()), percents.end()) << "each percentage once";
  EXPECT_EQ(percents.back(), 100);
  EXPECT_GT(percents.size(), 3u);
}

TEST_F(OnlineInstallation, DescriptionMissingOnTheServer_PayloadCopyServesOtherwiseTheRunFails) {
  const std::string base = " /base-url:" + fault_base("defs=status:404");
  const run_outcome served = run(stub(L"with-description.exe"), base);
  ASSERT_EQ(served.exit_code, 0u) << served.text();
  expect_demo_installed();
  EXPECT_EQ(served.count("The product-info.xml 'demo/release.xml' has been correctly unpacked from SFX archive."), 1);
  EXPECT_EQ(served.count("Receive fail status:'404'"), 3) << served.text();

  const auto failed = run_failing(stub(L"online.exe"), base, download_failed);
  EXPECT_EQ(failed.outcome.count("The product-info.xml 'demo/release.xml' has not been found in SFX, fail!"), 1)
      << failed.outcome.text();
  EXPECT_TRUE(failed.common.empty());
}

TEST_F(OnlineInstallation, SetupFileDroppedMidBody_ResumedWithRangeCompleteAndCorrect) {
  const run_outcome outcome = run(stub(L"online.exe"), " /base-url:" + fault_base("universe=drop:100000,ok"));
  ASSERT_EQ(outcome.exit_code, 0u) << outcome.text();
  expect_demo_installed();
  const auto seen = requests();
  EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [&](const std::string& r) {
              return contains(r, object_path(kestro_)) && contains(r, " bytes=100000-");
            }),
            1)
      << fmt::format("{}", fmt::join(seen, "\n"));
  EXPECT_EQ(outcome.count("msg:'Download less than expected'"), 1) << outcome.text();
}

TEST_F(OnlineInstallation, ServerFailures_EndWithTheDownloadFailureAndLeaveNothing) {
  const struct {
    const char* name;
    const char* rules;
    const char* log;
    int log_lines;
  } cases[] = {
      {"500 on every attempt", "universe=status:500", "msg:'Receive fail status:'500''", 3},
      {"204 for the description", "defs=status:204", "No content for '", 1},
      {"204 for a setup file", "universe=status:204", "No content for '", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    id_ = http::testing::unique_id("failure");
    const auto failed = run_failing(stub(L"online.exe"), std::string(" /base-url:") + fault_base(c.rules),
                                    download_failed);
    EXPECT_EQ(failed.outcome.count(c.log), c.log_lines) << failed.outcome.text();
    EXPECT_EQ(failed.common, contains(c.rules, "universe") ? std::vector<std::wstring>{L"product-info.xml"}
                                                    : std::vector<std::wstring>{});
  }
  // Per failed run: two attempts over HTTPS, then one over HTTP, and no more.
  id_ = http::testing::unique_id("attempts");
  run(stub(L"online.exe"), " /base-url:" + fault_base("universe=status:500"));
  const auto seen = requests();
  ASSERT_EQ(seen.size(), 4u) << fmt::format("{}", fmt::join(seen, "\n"));
  EXPECT_TRUE(contains(seen[1], "GET https ") && contains(seen[2], "GET https ") && contains(seen[3], "GET http "))
      << fmt::format("{}", fmt::join(seen, "\n"));
}

TEST_F(OnlineInstallation, TlsRefused_InstalledOverHttp) {
  const run_outcome outcome = run(stub(L"online.exe"), " /base-url:" + fault_base("-", "FAULT_PLAIN_PORT"));
  ASSERT_EQ(outcome.exit_code, 0u) << outcome.text();
  expect_demo_installed();
  const auto seen = requests();
  EXPECT_EQ(seen.size(), 4u) << fmt::format("{}", fmt::join(seen, "\n")) << outcome.text();
  for (const auto& r : seen) EXPECT_TRUE(contains(r, "GET http /f/")) << r;
  // The log names the URL asked for; each object took two failed attempts over HTTPS first.
  EXPECT_EQ(outcome.count("succeeded. (speed current: "), 4) << outcome.text();
  EXPECT_EQ(outcome.count("GET fail err:"), 8);
}

// Objects that fail a check are refused, and neither they nor their packed downloads stay.
TEST_F(OnlineInstallation, ObjectsFailingTheirChecks_RefusedWithoutLeavingAFile) {
  const std::string foreign = variant_repository();
  {
    const std::wstring object = repo_file(foreign, object_path(readme_));
    bytes packed = files::get_file_content(object);
    packed.resize(packed.size() - 72);  // the publisher's signature block
    sfx::signature::sign_options options;
    http::testing::write_file(object, sfx::testing::sign(packed, options, 8, sfx::signature::key_kind::dsa, 0));
  }
  const std::string altered_description = variant_repository();
  const std::string signed_description = text_of(files::get_file_content(repo_file("installation", "defs/demo/release.xml")));
  {
    std::string xml = signed_description;
    const std::size_t version = xml.find("1.0.0.1");
    xml[version] = '9';  // under the document's own signature
    http::testing::write_file(repo_file(altered_description, "defs/demo/release.xml.lzma"),
                              http::testing::packed_object(bytes_of(xml)));
  }
  const std::string other_content = variant_repository();
  http::testing::write_file(repo_file(other_content, object_path(readme_)),
                            http::testing::packed_object(bytes_of("not the readme")));
  const std::string outside = variant_repository();
  {
    std::string xml = signed_description.substr(0, signed_description.rfind("<!-- VYNSig"));
    const std::size_t name = xml.find("<name>readme.txt</name>");
    xml.replace(name, 23, "<name>..\\x.dll</name>");
    http::testing::write_file(repo_file(outside, "defs/demo/release.xml.lzma"),
                              http::testing::packed_object(http::testing::signed_xml(xml)));
  }
  const std::vector<std::wstring> before_readme = {L"bug_report.exe", L"kestro.exe", L"product-info.xml"};
  const struct {
    const char* name;
    std::string base;
    DWORD exit_code;
    const char* log;
    std::vector<std::wstring> common;
  } cases[] = {
      {"object signed by a foreign key", "https://localhost:" + servers_.value("NGINX_HTTPS_PORT") + "/" + foreign,
       invalid_signature, "DSA verification check of downloaded LZMA file (url ", before_readme},
      {"object with one byte changed", fault_base(readme_.substr(0, 12) + "=flip:20"), invalid_signature,
       "DSA verification check of downloaded LZMA file (url ", before_readme},
      {"description's own signature", "https://localhost:" + servers_.value("NGINX_HTTPS_PORT") + "/" + altered_description,
       invalid_signature, "DSA verification check of downloaded data product-info.xml (url ", {}},
      {"unpacked content of another SHA-256", "https://localhost:" + servers_.value("NGINX_HTTPS_PORT") + "/" + other_content,
       general_error, "Fail unpack data, wrong checksum (", before_readme},
      {"name leaving the product folder", "https://localhost:" + servers_.value("NGINX_HTTPS_PORT") + "/" + outside,
       invalid_name, "The file name '..\\x.dll' in product-info.xml does not stay inside the product folder, fail!",
       before_readme},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto failed = run_failing(stub(L"online.exe"), " /base-url:" + c.base, c.exit_code);
    EXPECT_GE(failed.outcome.count(c.log), 1) << failed.outcome.text();
    EXPECT_EQ(failed.common, c.common);
    EXPECT_EQ(failed.temp, std::vector<std::wstring>{L"common"}) << "nothing is written outside the product folder";
  }
}

// A base URL without a scheme is taken as HTTPS; a "base-url" parameter overrides sfx-info.xml.
TEST_F(OnlineInstallation, BaseUrls_HttpsWithoutSchemeAndTheParameterOverridesTheConfiguration) {
  const run_outcome plain = run(stub(L"noscheme.exe"));
  ASSERT_EQ(plain.exit_code, 0u) << plain.text();
  expect_demo_installed();
  const auto served = servers_.log_lines("nginx/access.log", " /installation-noscheme/", 4);
  EXPECT_GE(served.size(), 4u);
  for (const auto& line : served) EXPECT_TRUE(line.starts_with("https GET ")) << line;

  testing_support::remove_tree(record());
  const run_outcome overridden = run(stub(L"online.exe"), " /base-url:" + fault_base("-"));
  ASSERT_EQ(overridden.exit_code, 0u) << overridden.text();
  expect_demo_installed();
  EXPECT_EQ(requests().size(), 4u) << "every object came from the parameter's repository";
}

// The channel plug-in, a stand-in kestro_mod.dll from the repository, answers with another
// channel: the description of that channel is fetched and installed.
TEST_F(OnlineInstallation, ChannelPlugin_SwitchesToTheDescriptionOfItsChannel) {
  const scoped_environment channel(L"VYN_TEST_MOD_CHANNEL", L"beta");
  const run_outcome outcome = run(stub(L"plugged.exe"));
  ASSERT_EQ(outcome.exit_code, 0u) << outcome.text();
  const std::string beta = sha256_of_file(windows_path(VYN_FIXTURES_SOURCE) + L"\\plugged\\beta.txt");
  const std::string files = recorded(L"files.txt");
  EXPECT_TRUE(contains(files, beta + "  common\\beta.txt")) << files;
  EXPECT_TRUE(contains(files, kestro_ + "  common\\kestro.exe")) << files;
  EXPECT_TRUE(contains(files, sha256_of_file(windows_path(VYN_TEST_KESTRO_MOD_DLL)) + "  common\\kestro_mod.dll")) << files;
  EXPECT_EQ(recorded(L"kestro_mod-calls.txt"), "plugged|release|100|0\n");
  EXPECT_EQ(outcome.count("/installation/defs/plugged/beta.xml.lzma' succeeded."), 1) << outcome.text();
  EXPECT_TRUE(entries_of(tmp()).empty());
}

TEST_F(OnlineInstallation, ChannelsGiven_PluginNotConsulted) {
  const scoped_environment channel(L"VYN_TEST_MOD_CHANNEL", L"beta");
  const run_outcome outcome = run(stub(L"plugged.exe"), " /channels=plugged=release");
  ASSERT_EQ(outcome.exit_code, 0u) << outcome.text();
  EXPECT_EQ(recorded(L"kestro_mod-calls.txt"), "");
  const std::string files = recorded(L"files.txt");
  EXPECT_TRUE(contains(files, readme_ + "  common\\readme.txt")) << files;
  EXPECT_FALSE(contains(files, "beta.txt")) << files;
  EXPECT_EQ(outcome.count("/installation/defs/plugged/release.xml.lzma' succeeded."), 1) << outcome.text();
}

// Through the proxy that asks for Basic credentials, configured by proxy.ini: under Wine the
// HTTPS tunnels are refused (Wine sends CONNECT without the credentials) and every object comes
// over HTTP through the proxy, with the credentials, as the transport's fall back allows; the
// setup master gets the same settings in a proxy.ini of its own.
TEST_F(OnlineInstallation, AuthenticatedProxy_CarriesTheInstallationAndItsSettingsReachTheMaster) {
  const std::wstring ini = scratch_ / L"proxy.ini";
  const std::string text = "[ProxySettings]\r\nProxyType=2\r\nAuthorization=1\r\nProxyName=127.0.0.2\r\nPort=" +
                           servers_.value("PROXY_AUTH_PORT") + "\r\nUserName=" + servers_.value("PROXY_USER") +
                           "\r\nUserPass=" + utils::base64_encode(servers_.value("PROXY_PASSWORD")) + "\r\n";
  files::set_file_content(ini, bytes_of(text), true);
  const run_outcome outcome =
      run(stub(L"online.exe"), " /base-url:" + fault_base("-") + " /proxy_ini:\"" + utils::to_narrow(ini) + "\"");
  ASSERT_EQ(outcome.exit_code, 0u) << outcome.text();
  expect_demo_installed();
  // The proxy saw every object (each asked twice: once without, once with the credentials).
  const std::string forwarded = fmt::format("GET http://localhost:{}/f/{}/", servers_.value("FAULT_DUAL_PORT"), id_);
  EXPECT_EQ(servers_.log_lines("proxy-auth.log", forwarded, 8).size(), 8u);
  const auto seen = requests();
  EXPECT_EQ(seen.size(), 4u) << fmt::format("{}", fmt::join(seen, "\n"));
  for (const auto& r : seen) EXPECT_TRUE(contains(r, "GET http /f/")) << r;

  const sfx::sfx_proxy_parser parser(L"stub.exe /proxy_ini:\"" + ini + L"\"");
  const std::wstring expected = scratch_ / L"expected-proxy.ini";
  sfx::write_proxy_ini(parser.settings(), expected);
  EXPECT_TRUE(contains(recorded(L"files.txt"), sha256_of_file(expected) + "  proxy.ini")) << recorded(L"files.txt");
  EXPECT_TRUE(contains(recorded(L"arguments.txt"), "/proxy_ini:")) << recorded(L"arguments.txt");
}

}  // namespace
}  // namespace vyn
