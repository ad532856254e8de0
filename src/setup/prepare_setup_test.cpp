#include "setup/prepare_setup.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/value_holder.h"
#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/sha256.h"
#include "foundation/strings.h"
#include "payload/payload.h"
#include "payload/payload_writer.h"
#include "payload/sfx_edat.h"
#include "payload/signature_testing.h"
#include "payload/testing/stub_image.h"
#include "foundation/test_support.h"
#include "payload/testing/test_support.h"
#include "setup/kestro_info.h"

namespace vyn::sfx {
namespace {

using ::testing::_;
using ::testing::Return;
using ::testing::Throw;
using bytes = std::vector<std::uint8_t>;

bytes bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

bytes signed_xml(const std::string& xml) {
  signature::sign_options options;
  options.form = signature::block_form::text;
  options.xml_comment = true;
  return testing::sign(bytes_of(xml), options);
}

std::string sha256_hex(const bytes& content) {
  root::sha256 hash;
  return root::digest_of(hash, content).hex();
}

std::string read_file(const std::wstring& path) { return testing::read_file(std::filesystem::path(path)); }

class mock_downloader : public sfx_downloader_intf {
 public:
  MOCK_METHOD(std::shared_ptr<product_info_parser_intf>, download_product_info, (const std::wstring&), (override));
  MOCK_METHOD(void, download_by_hash, (const std::wstring&, const std::wstring&, const std::wstring&), (override));
  MOCK_METHOD(void, download_and_unpack, (const std::wstring&, const std::wstring&, bool, bool), (override));
  MOCK_METHOD(void, set_progress_callback, (progress_callback), (override));
  MOCK_METHOD(double, average_speed, (), (const, override));
  MOCK_METHOD(void, download_to_file, (const std::wstring&, const std::wstring&, bool, bool), (override));
};

class fixed_dialog : public confirm_dlg_intf {
 public:
  explicit fixed_dialog(std::int32_t answer) : answer_(answer) {}
  std::int32_t show(const std::wstring&, std::int32_t) override { return answer_; }

 private:
  std::int32_t answer_;
};

// The real preparation, with a downloader, a dialog and a channel plug-in chosen by the test.
class test_preparation : public prepare_setup {
 public:
  using prepare_setup::prepare_setup;

  std::shared_ptr<sfx_downloader_intf> downloader;
  std::optional<std::int32_t> dialog_answer;
  std::wstring plugin_answer;
  int plugin_calls = 0;

  std::shared_ptr<microstub_intf> launching_stub;

  std::shared_ptr<sfx_downloader_intf> create_sfx_downloader(shared_context&) override { return downloader; }
  std::shared_ptr<microstub_intf> create_microstub(shared_context& context) override {
    return launching_stub ? launching_stub : prepare_setup::create_microstub(context);
  }
  std::unique_ptr<confirm_dlg_intf> create_confirm_dlg() override {
    if (!dialog_answer) return {};
    return std::make_unique<fixed_dialog>(*dialog_answer);
  }

 protected:
  std::wstring plugin_channel(const std::wstring&, const product_info&) override {
    ++plugin_calls;
    return plugin_answer;
  }
};

struct setup_file {
  std::string name;
  bytes content;
  bool in_payload = true;
  std::string alias;  // payload alias when it differs from the name; "-" for none
  std::optional<std::int64_t> size;  // the size the description gives, when not the content's
};

class PrepareSetup : public ::testing::Test {
 protected:
  PrepareSetup() {
    context_.values = std::make_shared<value_holder>();
    context_.values->set(L"tmp-path", temp_.path());
    context_.info = info_;
  }

  std::string sfx_info(const std::string& params = "", const std::string& products =
                           R"(<product name="p" channel="release" version="1.0.0.1"/>)") {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<sfx-info>
  <repository><base-url>repo.example/base</base-url></repository>
  <params>)" + params + R"(</params>
  <products>)" + products + R"(</products>
  <title lang="en-us">Product</title>
</sfx-info>
)";
  }

  std::string description(const std::vector<setup_file>& files, const std::string& extra = "") {
    std::string xml = "<product-info><name>p</name><version>1.0.0.1</version><setup-files>";
    for (const auto& f : files) {
      xml += "<file><name>" + f.name + "</name><sha-256>" + sha256_hex(f.content) + "</sha-256><size>" +
             std::to_string(f.size.value_or(static_cast<std::int64_t>(f.content.size()))) + "</size></file>";
    }
    return xml + "</setup-files><setup-commands executable=\"kestro.exe\" arguments=\"--go\"/>" + extra +
           "</product-info>";
  }

  // Writes a stub image carrying the records and indexes it as the run does.
  void make_payload(const std::string& sfx_info_xml, const std::optional<bytes>& description_bytes,
                    const std::vector<setup_file>& files, const std::string& description_alias = "p/release.xml") {
    bytes image = testing::make_pe_image();
    append_file_record(image, "sfx-info.xml", signed_xml(sfx_info_xml), false, record_type_config);
    if (description_bytes) append_file_record(image, description_alias, *description_bytes, true);
    for (const auto& f : files) {
      if (!f.in_payload) continue;
      append_file_record(image, f.alias == "-" ? "" : (f.alias.empty() ? f.name : f.alias), f.content, true);
    }
    append_end_record(image);
    // A new file each time: the previous index still maps its own.
    const std::wstring path = temp_ / (L"stub" + std::to_wstring(++stubs_) + L".exe");
    testing::write_file(path, std::string(image.begin(), image.end()));
    context_.payload = std::make_shared<payload>(path, context_);
  }

  void standard_payload(const std::vector<setup_file>& files, const std::string& params = "<offline>1</offline>") {
    make_payload(sfx_info(params), signed_xml(description(files)), files);
  }

  std::wstring prepare() {
    std::wstring command;
    preparation_.prepare(command, [this](const std::wstring& title) { splash_titles_.push_back(title); },
                         [this](std::uint8_t percent) { progress_.push_back(percent); });
    return command;
  }

  std::wstring common() const { return temp_ / L"common"; }

  std::string saved_info() {
    const std::wstring path = temp_ / L"kestro-info.xml";
    EXPECT_TRUE(info_->save(path));
    return read_file(path);
  }

  testing_support::scratch_folder temp_;
  int stubs_ = 0;
  std::shared_ptr<kestro_info> info_ = std::make_shared<kestro_info>();
  shared_context context_;
  test_preparation preparation_{context_};
  std::vector<std::wstring> splash_titles_;
  std::vector<std::uint8_t> progress_;
};

const std::vector<setup_file> two_files = {{"kestro.exe", bytes(300, 'k')}, {"data.bin", bytes(100, 'd')}};

TEST_F(PrepareSetup, OfflineWithEverythingInThePayload_PlacesFilesWithoutNetwork) {
  auto downloader = std::make_shared<::testing::StrictMock<mock_downloader>>();
  preparation_.downloader = downloader;
  standard_payload(two_files);

  EXPECT_EQ(prepare(), common() + L"\\kestro.exe --go");
  for (const auto& f : two_files) {
    EXPECT_EQ(read_file(common() + L"\\" + utils::to_wide(f.name)), std::string(f.content.begin(), f.content.end()));
  }
  EXPECT_NE(read_file(common() + L"\\product-info.xml").find("<name>p</name>"), std::string::npos);
  EXPECT_EQ(context_.values->get(L"base-url", L""), L"repo.example/base");
  EXPECT_EQ(splash_titles_, std::vector<std::wstring>{L"Product"});
  EXPECT_EQ(progress_, (std::vector<std::uint8_t>{75, 100}));
  const std::string info = saved_info();
  EXPECT_EQ(info.find("average-download-speed"), std::string::npos);
  EXPECT_NE(info.find("<repository>"), std::string::npos) << "sfx-info's children are copied";
}

TEST_F(PrepareSetup, RecordFoundByHash_ExtractedUnderTheFileNameWhateverItsAlias) {
  std::vector<setup_file> files = two_files;
  files[0].alias = "-";  // reachable by hash only
  files[1].alias = "-";
  standard_payload(files);
  prepare();
  EXPECT_EQ(read_file(common() + L"\\data.bin"), std::string(100, 'd'));
  EXPECT_EQ(read_file(common() + L"\\kestro.exe"), std::string(300, 'k'));
}

TEST_F(PrepareSetup, OnlineWithUnreachableRepository_TakesTheDescriptionFromThePayloadThenFailsLikeTheDownload) {
  auto downloader = std::make_shared<mock_downloader>();
  preparation_.downloader = downloader;
  std::vector<setup_file> files = two_files;
  files[1].in_payload = false;
  standard_payload(files, "");
  EXPECT_CALL(*downloader, download_product_info(std::wstring(L"repo.example/base/defs/p/release.xml.lzma")))
      .WillOnce(Throw(exceptions::download_file_fail(12029u, "Download file 'x' failed")));
  EXPECT_CALL(*downloader, set_progress_callback(_));
  EXPECT_CALL(*downloader, download_by_hash(utils::to_wide(sha256_hex(files[1].content)), common() + L"\\data.bin",
                                            utils::to_wide(sha256_hex(files[1].content))))
      .WillOnce(Throw(exceptions::download_file_fail(12029u, "Download file 'data' failed")));
  try {
    prepare();
    FAIL();
  } catch (const exceptions::download_file_fail& e) {
    EXPECT_STREQ(e.what(), "Download file 'data' failed");
  }
  EXPECT_EQ(read_file(common() + L"\\kestro.exe"), std::string(300, 'k'));
}

TEST_F(PrepareSetup, OnlineDownloadSucceeds_RecordsTheAverageSpeed) {
  auto downloader = std::make_shared<mock_downloader>();
  preparation_.downloader = downloader;
  standard_payload(two_files, "");
  auto parser = std::make_shared<product_info_parser>(context_);
  parser->parse(bytes_of(description(two_files)));
  EXPECT_CALL(*downloader, download_product_info(_)).WillOnce(Return(parser));
  EXPECT_CALL(*downloader, average_speed()).WillOnce(Return(1.5));
  prepare();
  EXPECT_NE(saved_info().find("<average-download-speed>1.500000</average-download-speed>"), std::string::npos);
}

TEST_F(PrepareSetup, DescriptionMissingOrUnsigned_RaisesWithTheAlias) {
  {
    const testing::log_capture log;
    make_payload(sfx_info("<offline>1</offline>"), std::nullopt, two_files);
    EXPECT_THROW(prepare(), exceptions::missign_sfx_file);
    EXPECT_EQ(log.count("The product-info.xml 'p/release.xml' has not been found in SFX, fail!"), 1);
  }
  {
    const testing::log_capture log;
    make_payload(sfx_info("<offline>1</offline>"), bytes_of(description(two_files)), two_files);
    try {
      prepare();
      FAIL();
    } catch (const vyn::exceptions::error& e) {
      EXPECT_STREQ(e.what(), "File is not DSA signed (alias:p/release.xml)!");
    }
    EXPECT_EQ(log.count("DSA verification check of file data 'p/release.xml' fail!"), 1);
  }
}

TEST_F(PrepareSetup, OfflineFileMissingFromThePayload_RaisesNamingFileHashAndProduct) {
  std::vector<setup_file> files = two_files;
  files[1].in_payload = false;
  standard_payload(files);
  try {
    prepare();
    FAIL();
  } catch (const vyn::exceptions::error& e) {
    EXPECT_EQ(std::string(e.what()), "File 'data.bin'|'" + sha256_hex(files[1].content) +
                                         "' not found in SFX archive, mode 'offline', product 'p'");
  }
}

TEST_F(PrepareSetup, AlteredPayloadFile_FailsWithTheChecksumErrorAndLeavesNoFile) {
  const std::string xml = description(two_files);
  bytes image = testing::make_pe_image();
  append_file_record(image, "sfx-info.xml", signed_xml(sfx_info("<offline>1</offline>")), false, record_type_config);
  append_file_record(image, "p/release.xml", signed_xml(xml), true);
  append_file_record(image, "kestro.exe", two_files[0].content, true);
  append_file_record(image, "data.bin", two_files[1].content, false);
  image.back() ^= 1;  // content changed behind the recorded SHA-256
  append_end_record(image);
  const std::wstring path = temp_ / L"altered.exe";
  testing::write_file(path, std::string(image.begin(), image.end()));
  context_.payload = std::make_shared<payload>(path, context_);

  try {
    prepare();
    FAIL();
  } catch (const vyn::exceptions::error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Fail unpack data, wrong checksum (alias:data.bin, hash:", 0), 0u) << e.what();
  }
  EXPECT_FALSE(files::path_exists(common() + L"\\data.bin"));
  EXPECT_TRUE(files::path_exists(common() + L"\\kestro.exe"));
}

TEST_F(PrepareSetup, ConfirmationDialog_CancelAbortOrMissingStopsBeforeAnyFile) {
  const struct {
    std::optional<std::int32_t> answer;
    std::uint32_t code;  // 0: goes on
  } cases[] = {{2, 1223}, {5, 5}, {std::nullopt, 1}, {0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer.value_or(-1));
    testing_support::scratch_folder temp;
    context_.values = std::make_shared<value_holder>();  // values keep their first setting
    context_.values->set(L"tmp-path", temp.path());
    context_.cmd = command_line(L"/ppi_icd", false);
    test_preparation preparation(context_);
    preparation.dialog_answer = c.answer;
    standard_payload(two_files);
    std::wstring command;
    if (c.code == 0) {
      preparation.prepare(command, {}, {});
      EXPECT_TRUE(files::path_exists(temp / L"common\\kestro.exe"));
      continue;
    }
    try {
      preparation.prepare(command, {}, {});
      ADD_FAILURE();
    } catch (const vyn::exceptions::error& e) {
      EXPECT_EQ(e.code(), c.code);
      EXPECT_EQ(c.code == 1223, dynamic_cast<const exceptions::ppi_cancel*>(&e) != nullptr);
    }
    EXPECT_FALSE(files::path_exists(temp / L"common\\kestro.exe"));
  }
}

TEST_F(PrepareSetup, SplashShows_UnlessSilencedByCommandLineOrConfiguration) {
  const struct {
    const wchar_t* command_line;
    const char* params;
    bool shown;
  } cases[] = {
      {L"", "", true},
      {L"/silent", "", false},
      {L"/silent=SPLASH", "", true},
      {L"/silent=x,stub_loading", "", true},
      {L"/verysilent", "", false},
      {L"/nosplash", "", false},
      {L"", "<silent>yes</silent>", false},
      {L"", "<nosplash>1</nosplash>", false},
      {L"", "<silent>no</silent>", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utils::to_log(c.command_line));
    context_.values = std::make_shared<value_holder>();
    context_.values->set(L"tmp-path", temp_.path());
    context_.cmd = command_line(std::wstring(c.command_line) + L" /offline", false);
    make_payload(sfx_info(c.params), signed_xml(description(two_files)), two_files);
    test_preparation preparation(context_);
    bool shown = false;
    std::wstring command;
    preparation.prepare(command, [&](const std::wstring&) { shown = true; }, {});
    EXPECT_EQ(shown, c.shown);
  }
}

TEST_F(PrepareSetup, ChannelPlugin_ConsultedOnlineUnlessChannelsOverrideTheMainProduct) {
  auto downloader = std::make_shared<mock_downloader>();
  preparation_.downloader = downloader;
  const std::vector<setup_file> files = {{"kestro_mod.dll", bytes(50, 'm')}, {"kestro.exe", bytes(10, 'k')}};
  const std::string xml = description(files);
  auto parser = std::make_shared<product_info_parser>(context_);
  parser->parse(bytes_of(xml));
  make_payload(sfx_info(""), signed_xml(xml), files);
  preparation_.plugin_answer = L"beta";
  EXPECT_CALL(*downloader, download_product_info(std::wstring(L"repo.example/base/defs/p/release.xml.lzma")))
      .WillOnce(Return(parser));
  EXPECT_CALL(*downloader, download_product_info(std::wstring(L"repo.example/base/defs/p/beta.xml.lzma")))
      .WillOnce(Return(parser));
  EXPECT_CALL(*downloader, average_speed()).WillRepeatedly(Return(0.0));
  prepare();
  EXPECT_EQ(preparation_.plugin_calls, 1);

  context_.cmd = command_line(L"/channels=p=stable", false);
  test_preparation overridden(context_);
  overridden.downloader = downloader;
  EXPECT_CALL(*downloader, download_product_info(std::wstring(L"repo.example/base/defs/p/stable.xml.lzma")))
      .WillOnce(Return(parser));
  std::wstring command;
  overridden.prepare(command, {}, {});
  EXPECT_EQ(overridden.plugin_calls, 0);
}

TEST_F(PrepareSetup, NoDownloaderAndOnline_PayloadServesTheRunAndMissingFilesFailAsDownloads) {
  std::vector<setup_file> files = two_files;
  standard_payload(files, "");
  EXPECT_EQ(prepare(), common() + L"\\kestro.exe --go");
  EXPECT_NE(saved_info().find("<average-download-speed>0.000000</average-download-speed>"), std::string::npos);

  files[1].in_payload = false;
  testing_support::scratch_folder temp;
  context_.values = std::make_shared<value_holder>();
  context_.values->set(L"tmp-path", temp.path());
  standard_payload(files, "");
  test_preparation preparation(context_);
  std::wstring command;
  EXPECT_THROW(preparation.prepare(command, {}, {}), exceptions::download_file_fail);
}

TEST_F(PrepareSetup, FileWithoutName_RaisesWithItsHash) {
  const std::vector<setup_file> files = {{"", bytes(3, 'x')}};
  standard_payload(files);
  try {
    prepare();
    FAIL();
  } catch (const vyn::exceptions::error& e) {
    EXPECT_EQ(std::string(e.what()), "The file name is not specified in product-info.xml for hash '" +
                                         sha256_hex(files[0].content) + "', fail!");
  }
}

// A downloader that delivers a file in chunks of packed bytes, as the transport reports them, and
// once more the first chunk, as after a server that ignored a range request.
class chunked_downloader : public mock_downloader {
 public:
  explicit chunked_downloader(std::map<std::wstring, bytes> contents) : contents_(std::move(contents)) {
    ON_CALL(*this, set_progress_callback(_)).WillByDefault([this](progress_callback c) { callback_ = std::move(c); });
    ON_CALL(*this, download_by_hash(_, _, _))
        .WillByDefault([this](const std::wstring& hash, const std::wstring& target, const std::wstring&) {
          const bytes& content = contents_.at(hash);
          const auto chunk = static_cast<std::uint32_t>(content.size() / 8);
          for (std::uint32_t i = 0; i < 5; ++i) callback_(chunk, 4 * chunk);
          testing::write_file(target, std::string(content.begin(), content.end()));
        });
  }

 private:
  std::map<std::wstring, bytes> contents_;
  progress_callback callback_;
};

TEST_F(PrepareSetup, DownloadedFilesOf300And100Bytes_ProgressRisesStepByStepTo100) {
  std::vector<setup_file> files = two_files;
  std::map<std::wstring, bytes> contents;
  for (auto& f : files) {
    f.in_payload = false;
    contents[utils::to_wide(sha256_hex(f.content))] = f.content;
  }
  auto downloader = std::make_shared<::testing::NiceMock<chunked_downloader>>(contents);
  preparation_.downloader = downloader;
  standard_payload(files, "");
  EXPECT_CALL(*downloader, download_product_info(_))
      .WillOnce(Throw(exceptions::download_file_fail(12029u, "unreachable")));  // the payload's copy serves
  const testing::log_capture log;
  prepare();
  EXPECT_EQ(progress_, (std::vector<std::uint8_t>{18, 37, 56, 75, 81, 87, 93, 100}));
  EXPECT_EQ(log.count("Setup progress 100%"), 1);
  EXPECT_EQ(read_file(common() + L"\\data.bin"), std::string(100, 'd'));
}

// A launching stub that answers with a cookie and records when the preparation asks it.
class recording_microstub : public microstub_intf {
 public:
  explicit recording_microstub(std::wstring temp) : temp_(std::move(temp)) {}
  bool verify() override {
    calls.push_back("verify");
    return true;
  }
  std::wstring cookie() override {
    calls.push_back("cookie");
    return L"from-launcher";
  }
  void copy_edat_files() override {
    // The payload's data files are already in place, so that these replace them.
    calls.push_back(files::file_exists(temp_ + L"\\trid.edat") ? "copy after unpack" : "copy before unpack");
  }
  std::vector<std::string> calls;

 private:
  std::wstring temp_;
};

TEST_F(PrepareSetup, LaunchingStub_CookieRecordedBeforeTheCommandLinesAndItsFilesCopiedAfterThePayloads) {
  auto stub = std::make_shared<recording_microstub>(temp_.path());
  preparation_.launching_stub = stub;
  context_.cmd = command_line(L"/cookie:from-command-line", false);
  std::vector<setup_file> files = two_files;
  files.push_back({"trid.edat", bytes_of("payload trid")});
  standard_payload(files);
  prepare();
  EXPECT_EQ(stub->calls, (std::vector<std::string>{"verify", "cookie", "copy after unpack"}));
  EXPECT_EQ(context_.microstub, stub);
  const std::string info = saved_info();
  const std::size_t first = info.find("<cookie>from-launcher</cookie>");
  ASSERT_NE(first, std::string::npos) << info;
  EXPECT_NE(info.find("<cookie>from-command-line</cookie>", first), std::string::npos) << info;
}

TEST_F(PrepareSetup, DefaultFactories_YieldTheDataFileComponents) {
  prepare_setup plain(context_);
  EXPECT_NE(dynamic_cast<sfx_edat*>(plain.create_sfx_edat(context_).get()), nullptr);
  EXPECT_NE(dynamic_cast<microstub*>(plain.create_microstub(context_).get()), nullptr);
}

// Sizes are taken from the description as they stand; whatever they are, every percentage
// reported lies within 0 to 100 and never falls.
TEST_F(PrepareSetup, NegativeSizeInTheDescription_KeepsEveryPercentageWithin0To100) {
  const std::int64_t huge = std::int64_t{1} << 62;
  const struct {
    std::int64_t first, second;
  } cases[] = {{-100, 300}, {300, -100}, {-huge, huge + 4096}, {huge + 4096, -huge}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    std::vector<setup_file> files = two_files;
    files[0].size = c.first;
    files[1].size = c.second;
    std::map<std::wstring, bytes> contents;
    for (auto& f : files) {
      f.in_payload = false;
      contents[utils::to_wide(sha256_hex(f.content))] = f.content;
    }
    testing_support::scratch_folder temp;
    context_.values = std::make_shared<value_holder>();
    context_.values->set(L"tmp-path", temp.path());
    standard_payload(files, "");
    auto downloader = std::make_shared<::testing::NiceMock<chunked_downloader>>(contents);
    EXPECT_CALL(*downloader, download_product_info(_)).WillOnce(Throw(exceptions::download_file_fail(12029u, "x")));
    test_preparation preparation(context_);
    preparation.downloader = downloader;
    std::vector<int> reported;
    std::wstring command;
    preparation.prepare(command, {}, [&](std::uint8_t percent) { reported.push_back(percent); });
    for (std::size_t i = 0; i < reported.size(); ++i) {
      EXPECT_LE(reported[i], 100);
      if (i > 0) {
        EXPECT_GT(reported[i], reported[i - 1]);
      }
    }
  }
}

// A payload whose records fail with a standard exception that is not one of the program's own
// (memory running out while unpacking, say).
class failing_payload : public payload_intf {
 public:
  explicit failing_payload(std::shared_ptr<payload_intf> inner) : inner_(std::move(inner)) {}
  std::shared_ptr<unpacker_intf> find_by_hash(const std::wstring& sha256) override {
    return inner_->find_by_hash(sha256) ? std::make_shared<failing_unpacker>() : nullptr;
  }
  std::shared_ptr<unpacker_intf> find_by_alias(const std::wstring& alias) override {
    return inner_->find_by_alias(alias);
  }
  std::vector<std::wstring> aliases() override { return inner_->aliases(); }
  std::optional<std::wstring> text_by_alias(const std::wstring& alias) override {
    return inner_->text_by_alias(alias);
  }

 private:
  class failing_unpacker : public unpacker_intf {
   public:
    void unpack_to_file(const std::wstring&) override { throw std::bad_alloc(); }
    std::vector<std::uint8_t> unpack() override { throw std::bad_alloc(); }
  };
  std::shared_ptr<payload_intf> inner_;
};

TEST_F(PrepareSetup, StandardExceptionWhileExtracting_FallsBackToTheDownload) {
  std::vector<setup_file> files = two_files;
  files[1].alias = "-";  // found by hash only, and that record fails
  standard_payload(files, "");
  context_.payload = std::make_shared<failing_payload>(context_.payload);
  auto downloader = std::make_shared<::testing::NiceMock<mock_downloader>>();
  preparation_.downloader = downloader;
  EXPECT_CALL(*downloader, download_product_info(_)).WillOnce(Throw(exceptions::download_file_fail(12029u, "x")));
  const std::wstring hash = utils::to_wide(sha256_hex(files[1].content));
  EXPECT_CALL(*downloader, download_by_hash(hash, common() + L"\\data.bin", hash));
  const testing::log_capture log;
  prepare();
  EXPECT_EQ(log.count("File 'data.bin' from SFX archive has not been unpacked, fail with error "), 1);
}

// Names are checked before anything is written: a name that leaves the product folder fails the
// preparation, a sub-folder inside it is made.
TEST_F(PrepareSetup, FileNamesLeavingTheProductFolder_AreRefusedSubFoldersAreMade) {
  const struct {
    const char* name;
    const wchar_t* outside;  // where the file would land, relative to the temporary folder
  } refused[] = {{"..\\x.dll", L"x.dll"}, {"bin\\..\\..\\y.dll", L"y.dll"}, {"z.dll:stream", nullptr},
                 {"C:z.dll", nullptr}};
  for (const auto& r : refused) {
    SCOPED_TRACE(r.name);
    testing_support::scratch_folder temp;
    context_.values = std::make_shared<value_holder>();
    context_.values->set(L"tmp-path", temp.path());
    const std::vector<setup_file> files = {{"kestro.exe", bytes(10, 'k')}, {r.name, bytes(20, 'x')}};
    standard_payload(files);
    test_preparation preparation(context_);
    std::wstring command;
    try {
      preparation.prepare(command, {}, {});
      ADD_FAILURE() << "the name was taken";
    } catch (const vyn::exceptions::error& e) {
      EXPECT_EQ(e.code(), 123u);
      EXPECT_EQ(std::string(e.what()), "The file name '" + std::string(r.name) +
                                           "' in product-info.xml does not stay inside the product folder, fail!");
    }
    if (r.outside) EXPECT_FALSE(files::path_exists(temp / r.outside));
    EXPECT_TRUE(files::path_exists(temp / L"common\\kestro.exe")) << "files before it are placed";
  }

  const std::vector<setup_file> nested = {{"kestro.exe", bytes(10, 'k')}, {"bin/engine/core.dll", bytes(30, 'c')}};
  context_.values = std::make_shared<value_holder>();
  context_.values->set(L"tmp-path", temp_.path());
  standard_payload(nested);
  prepare();
  EXPECT_EQ(read_file(common() + L"\\bin\\engine\\core.dll"), std::string(30, 'c'));
}

TEST_F(PrepareSetup, DefaultFactory_YieldsTheRepositoryDownloader) {
  prepare_setup plain(context_);
  const auto downloader = plain.create_sfx_downloader(context_);
  EXPECT_NE(dynamic_cast<sfx_downloader*>(downloader.get()), nullptr);
}


// The channel plug-in call against the stand-in plug-in, loaded into this process.
class plugin_probe : public prepare_setup {
 public:
  using prepare_setup::prepare_setup;
  using prepare_setup::plugin_channel;
};

TEST(PrepareSetupPlugin, AnswersOfThePlugin_GiveTheNewChannelOrKeepTheCurrentOne) {
  shared_context context;
  plugin_probe probe(context);
  const std::wstring dll = testing_support::windows_path(VYN_TEST_KESTRO_MOD_DLL);
  const product_info product{L"p", L"release", L"1.0", false};
  const std::wstring long_channel(150, L'c');  // more than the first buffer holds: asked again
  const struct {
    std::optional<std::wstring> channel;
    std::optional<std::wstring> result;
    std::optional<std::wstring> count_nul;
    std::wstring expected;
    const char* log;
  } cases[] = {
      {L"beta", std::nullopt, std::nullopt, L"beta", nullptr},
      {L"beta", std::nullopt, L"0", L"beta", nullptr},
      {L"RELEASE", std::nullopt, std::nullopt, L"", nullptr},
      {std::nullopt, std::nullopt, std::nullopt, L"", nullptr},
      {long_channel, std::nullopt, std::nullopt, long_channel, nullptr},
      {L"beta", L"5", std::nullopt, L"", "Calling MOD.dll function fail 5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utils::to_log(c.channel.value_or(L"(none)")));
    const testing_support::scoped_environment channel(L"VYN_TEST_MOD_CHANNEL", c.channel);
    const testing_support::scoped_environment result(L"VYN_TEST_MOD_RESULT", c.result);
    const testing_support::scoped_environment count_nul(L"VYN_TEST_MOD_COUNT_NUL", c.count_nul);
    const testing::log_capture log;
    EXPECT_EQ(probe.plugin_channel(dll, product), c.expected);
    if (c.log) {
      EXPECT_EQ(log.count(c.log), 1);
    }
  }
  // Unloaded after every call: nothing keeps the library mapped.
  EXPECT_EQ(::GetModuleHandleW(L"kestro_mod.dll"), nullptr);
}

// The stub restricts the process's DLL search to System32 before anything loads; the plug-in
// still finds a DLL it ships beside it.
TEST(PrepareSetupPlugin, PluginNeedingADllBesideIt_LoadsWhileTheProcessSearchesOnlySystem32) {
  ASSERT_TRUE(::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32));
  struct restore {
    ~restore() { ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS); }
  } restore_search;
  shared_context context;
  plugin_probe probe(context);
  const product_info product{L"p", L"release", L"1.0", false};
  const testing::log_capture log;
  EXPECT_EQ(probe.plugin_channel(testing_support::windows_path(VYN_TEST_KESTRO_MOD_LINKED_DLL), product),
            L"helper-channel")
      << log.text();
  EXPECT_EQ(::GetModuleHandleW(L"mod_helper.dll"), nullptr) << "unloaded with the plug-in";
}

TEST(PrepareSetupPlugin, MissingLibraryOrExport_KeepTheChannelAndLog) {
  shared_context context;
  plugin_probe probe(context);
  const product_info product{L"p", L"release", L"1.0", false};
  const testing::log_capture log;
  EXPECT_EQ(probe.plugin_channel(L"C:\\nowhere\\kestro_mod.dll", product), L"");
  EXPECT_EQ(log.count("Loading MOD:'C:\\nowhere\\kestro_mod.dll' fail "), 1);
  // A library without the export: the system's own.
  EXPECT_EQ(probe.plugin_channel(L"C:\\windows\\system32\\version.dll", product), L"");
  EXPECT_EQ(log.count("MOD.dll function not found"), 1);
}

}  // namespace
}  // namespace vyn::sfx
