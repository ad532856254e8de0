#include "app/sfx_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "app/test_fakes.h"
#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "payload/payload_writer.h"
#include "payload/testing/stub_image.h"
#include "payload/testing/test_support.h"

namespace vyn::sfx {
namespace {

using namespace vyn::sfx::testing;
using ::testing::_;
using ::testing::DoAll;
using ::testing::InSequence;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::SaveArg;
using ::testing::StrictMock;

const std::wstring master = L"C:\\temp\\vyn-1\\common\\kestro.exe";
// The run opens its own file: this test program's stands in for the stub's.
const std::wstring stub = files::module_path();
using strings = std::vector<std::string>;

class SfxProcess : public ::testing::Test {
 protected:
  std::unique_ptr<test_process> make(std::shared_ptr<sfx_proxy_parser_intf> proxy = {}) {
    auto process = std::make_unique<test_process>(reporting, std::move(proxy), L"session-1");
    auto verifier = std::make_shared<NiceMock<mock_verifier>>();
    ON_CALL(*verifier, verify_handle(_)).WillByDefault(Return(true));
    process->verifier = verifier;
    auto prepare = std::make_unique<NiceMock<mock_prepare>>();
    preparation = prepare.get();
    ON_CALL(*prepare, prepare).WillByDefault([](std::wstring& command, auto, auto) { command = master; });
    process->preparation = std::move(prepare);
    process->launcher = launcher;
    process->info = info;
    return process;
  }

  // Runs with the setup master ending in exit_code; returns the setup master's arguments.
  std::wstring run_arguments(test_process& process, const wchar_t* command_line, std::uint32_t exit_code = 0) {
    std::wstring arguments;
    EXPECT_CALL(*launcher, run(master, _, 0xFFFFFFFFu)).WillOnce(DoAll(SaveArg<1>(&arguments), Return(exit_code)));
    EXPECT_EQ(process.run(stub.c_str(), command_line), exit_code);
    return arguments;
  }

  std::shared_ptr<recording_reporting> reporting = std::make_shared<recording_reporting>();
  std::shared_ptr<recording_info> info = std::make_shared<recording_info>();
  std::shared_ptr<NiceMock<mock_launcher>> launcher = std::make_shared<NiceMock<mock_launcher>>();
  mock_prepare* preparation = nullptr;
};

TEST_F(SfxProcess, NormalRun_ReportsStagesInOrderAndReturnsTheSetupResult) {
  auto process = make();
  EXPECT_CALL(*launcher, wait_for_bug_report(_)).Times(0);
  run_arguments(*process, L"/tmp-path:C:\\base");
  EXPECT_EQ(reporting->events, (strings{"set_disk_path:C:\\temp\\vyn-1", "send:sfx-preparing",
                                        "send:sfx-running-kestro", "set_ret_code:0", "send:sfx-finish"}));
  EXPECT_EQ(process->temp_base, L"C:\\base");
  EXPECT_TRUE(process->temp_deleted_on_destroy);
  EXPECT_TRUE(process->temp_destroyed);
  EXPECT_TRUE(process->payload_created);
}

TEST_F(SfxProcess, SetupCommandLine_ComposedFromRunAndMigratedSwitches) {
  auto process = make();
  EXPECT_EQ(run_arguments(*process, L"/tmp-path:C:\\base /foo:bar /install:x pos \"a b\""),
            L"/kestro-info-path:C:\\temp\\vyn-1\\kestro-info.xml /install:x /foo:bar pos \"a b\"");
}

TEST_F(SfxProcess, ClearAndSilentValues_ReplaceInstallAndAddSilent) {
  for (const auto& [command_line, expected] : std::vector<std::pair<const wchar_t*, const wchar_t*>>{
           {L"", L"/kestro-info-path:C:\\temp\\vyn-1\\kestro-info.xml /clear /silent"},
           {L"/SILENT:x", L"/kestro-info-path:C:\\temp\\vyn-1\\kestro-info.xml /clear /SILENT:x"},
       }) {
    auto process = make();
    ON_CALL(*preparation, prepare).WillByDefault([&process](std::wstring& command, auto, auto) {
      process->context().values->set_bool(L"clear", true);
      process->context().values->set_bool(L"silent", true);
      command = master;
    });
    EXPECT_EQ(run_arguments(*process, command_line), expected);
  }
}

TEST_F(SfxProcess, ConfiguredProxy_IsWrittenForTheSetupMaster) {
  auto process = make(std::make_shared<fake_proxy>(true));
  EXPECT_EQ(run_arguments(*process, L"/proxy_ini:C:\\mine.ini"),
            L"/kestro-info-path:C:\\temp\\vyn-1\\kestro-info.xml /install "
            L"/proxy_ini:C:\\temp\\vyn-1\\proxy.ini");
  EXPECT_EQ(process->proxy_ini_paths, std::vector<std::wstring>{L"C:\\temp\\vyn-1\\proxy.ini"});

  auto unconfigured = make(std::make_shared<fake_proxy>(false));
  EXPECT_EQ(run_arguments(*unconfigured, L"/proxy_ini:C:\\mine.ini"),
            L"/kestro-info-path:C:\\temp\\vyn-1\\kestro-info.xml /install /proxy_ini:C:\\mine.ini");
  EXPECT_TRUE(unconfigured->proxy_ini_paths.empty());
}

TEST_F(SfxProcess, ProxyIniForTheSetupMaster_HoldsTheStubsSettingsInItsFormat) {
  const temp_folder folder;
  const std::wstring own = (folder / L"own proxy.ini").wstring();
  const std::string own_text = "[ProxySettings]\nProxyType=2\nPort=3128\nProxyName=p\nUserName=u\nUserPass=cHc=\n";
  files::set_file_content(own, std::vector<std::uint8_t>(own_text.begin(), own_text.end()), true);
  const std::wstring stub_arguments = L"/proxy_ini:\"" + own + L"\"";
  auto process = make(std::make_shared<sfx_proxy_parser>(L"stub.exe " + stub_arguments));
  process->temp_path = folder.path().wstring();
  process->writes_proxy_ini = true;
  const std::wstring written = process->temp_path + L"\\proxy.ini";

  EXPECT_EQ(run_arguments(*process, stub_arguments.c_str()),
            L"/kestro-info-path:" + process->temp_path + L"\\kestro-info.xml /install /proxy_ini:" + written);
  const std::string expected =
      "\r\n[ProxySettings]\r\nAuthorization=0\r\nFallback=1\r\nPort=3128\r\nProxyName=p\r\nProxyType=2\r\n"
      "UserName=u\r\nUserPass=cHc=\r\n";
  std::vector<std::uint8_t> utf16 = {0xFF, 0xFE};
  for (const char c : expected) utf16.insert(utf16.end(), {static_cast<std::uint8_t>(c), 0});
  EXPECT_EQ(files::get_file_content(written), utf16);
  const sfx_proxy_parser back(L"kestro.exe /proxy_ini:" + written);
  EXPECT_EQ(back.settings().name, "p");
  EXPECT_EQ(back.settings().password, "pw");
  EXPECT_EQ(back.settings().port, 3128);

  files::delete_file(written);
  auto without = make(std::make_shared<sfx_proxy_parser>(L"stub.exe /silent"));
  without->temp_path = folder.path().wstring();
  without->writes_proxy_ini = true;
  EXPECT_EQ(run_arguments(*without, L"/silent"),
            L"/kestro-info-path:" + without->temp_path + L"\\kestro-info.xml /install /silent");
  EXPECT_FALSE(files::file_exists(written));
}

TEST_F(SfxProcess, MigratedCommandLine_ReachesSettingsInfoAndSetup) {
  auto process = make();
  const std::wstring arguments = run_arguments(*process, L"/LANG:L1031 /VERYSILENT /ga_clientid:g /xperf");
  EXPECT_EQ(arguments,
            L"/kestro-info-path:C:\\temp\\vyn-1\\kestro-info.xml /install /lang-id:1031 /silent /track-guid:g /xperf");
  const auto& values = *process->context().values;
  EXPECT_EQ(values.get_int(L"lang-id", 0), 1031);
  EXPECT_EQ(values.get(L"process-path", L""), stub);
  EXPECT_EQ(values.get(L"tmp-path", L""), L"C:\\temp\\vyn-1");
  EXPECT_EQ(values.get(L"session-id", L""), L"session-1");
  EXPECT_FALSE(process->temp_deleted_on_destroy);
  EXPECT_EQ(info->appended, (std::vector<std::pair<std::wstring, std::wstring>>{
                                {L"sfx-cmd", L"/lang-id:1031 /silent /track-guid:g /xperf"},
                                {L"session-id", L"session-1"},
                                {L"temp-base-dir", L"C:\\temp\\vyn-1"}}));
  EXPECT_EQ(info->saved, std::vector<std::wstring>{L"C:\\temp\\vyn-1\\kestro-info.xml"});
}

TEST_F(SfxProcess, NoLanguageSwitch_KeepsTheUserDefault) {
  auto process = make();
  run_arguments(*process, L"");
  EXPECT_EQ(process->context().values->get_int(L"lang-id", -1), ::GetUserDefaultUILanguage());
}

TEST_F(SfxProcess, UnverifiedStub_RaisesBeforeAnythingElse) {
  auto refusing = make();
  auto verifier = std::make_shared<StrictMock<mock_verifier>>();
  EXPECT_CALL(*verifier, verify_handle(_)).WillOnce(Return(false));
  refusing->verifier = verifier;
  auto without_verifier = make();
  without_verifier->verifier.reset();

  for (test_process* process : {refusing.get(), without_verifier.get()}) {
    EXPECT_THROW(process->run(stub.c_str(), L""), exceptions::sfx_invalid_signature);
    EXPECT_FALSE(process->payload_created);
    EXPECT_FALSE(process->temp_destroyed);
  }
  EXPECT_TRUE(reporting->events.empty());
  EXPECT_TRUE(info->appended.empty());
}

TEST_F(SfxProcess, CrashedSetupMaster_IsFollowedByTheCrashReporterWait) {
  const struct {
    std::uint32_t code;
    bool waits;
  } cases[] = {{0, false},   {0xFFFFFFFEu, false}, {111111, false},     {44000, false}, {45999, false},
               {46000, true}, {43999, true},       {0xE06D7363u, true}, {1, true}};
  for (const auto& c : cases) {
    auto process = make();
    EXPECT_CALL(*launcher, wait_for_bug_report(std::wstring(L"C:\\temp\\vyn-1\\common"))).Times(c.waits ? 1 : 0);
    run_arguments(*process, L"", c.code);
    ::testing::Mock::VerifyAndClearExpectations(launcher.get());
  }
}

TEST_F(SfxProcess, RestartRequest_SetsRebootAndPassesTheCodeOn) {
  auto process = make();
  run_arguments(*process, L"", 44080);
  EXPECT_EQ(reporting->of("set_reboot"), strings{"1"});
  EXPECT_EQ(reporting->events.back(), "send:sfx-finish");
  EXPECT_EQ(reporting->of("set_ret_code"), strings{"44080"});
}

TEST_F(SfxProcess, CancelInPreparation_EndsNormallyWith1223) {
  auto process = make();
  ON_CALL(*preparation, prepare).WillByDefault([](auto&, auto, auto) { throw exceptions::ppi_cancel(); });
  EXPECT_EQ(process->run(stub.c_str(), L""), 1223u);
  EXPECT_EQ(reporting->of("send"), (strings{"sfx-preparing", "sfx-finish"}));
  EXPECT_EQ(reporting->of("set_ret_code"), strings{"1223"});
  EXPECT_EQ(process->launchers_created, 0);
  EXPECT_TRUE(process->temp_destroyed);
}

TEST_F(SfxProcess, LaunchFailure_PropagatesAndStillRemovesTheTemporaryFolder) {
  auto process = make();
  EXPECT_CALL(*launcher, run(_, _, _)).WillOnce([](auto&, auto&, auto) -> std::uint32_t {
    throw vyn::exceptions::error(2, "Unable to create process");
  });
  EXPECT_THROW(process->run(stub.c_str(), L""), vyn::exceptions::error);
  EXPECT_EQ(reporting->of("send"), (strings{"sfx-preparing", "sfx-running-kestro"}));
  EXPECT_TRUE(process->temp_destroyed);
}

TEST_F(SfxProcess, MissingLauncher_FailsTheRun) {
  auto process = make();
  process->launcher.reset();
  try {
    process->run(stub.c_str(), L"");
    ADD_FAILURE() << "a run without a launcher succeeded";
  } catch (const vyn::exceptions::error& e) {
    EXPECT_EQ(e.code(), static_cast<std::uint32_t>(ERROR_CALL_NOT_IMPLEMENTED));
  }
}

TEST_F(SfxProcess, Splash_ShowsTitleProgressAndStartAndIsClosedAfterTheSetup) {
  auto process = make();
  auto splash = std::make_shared<StrictMock<mock_splash>>();
  auto data = std::make_shared<fake_splash_data>();
  process->splash = splash;
  process->splash_data = data;
  process->with_translator = true;
  ON_CALL(*preparation, prepare).WillByDefault([](std::wstring& command, auto show_splash, auto report_progress) {
    show_splash(L"Prod");
    report_progress(42);
    command = master;
  });
  {
    InSequence order;
    EXPECT_CALL(*splash, start(true)).WillOnce(Return(true));
    EXPECT_CALL(*splash, mark_taskbar_button()).WillOnce(Return(S_OK));
    EXPECT_CALL(*splash, set_text(std::wstring(L"Prod... 42%")));
    EXPECT_CALL(*splash, set_progress(42));
    EXPECT_CALL(*splash, set_text(std::wstring(L"Prod... 1031:@Sfx_Starting")));
    EXPECT_CALL(*splash, set_progress(-1));
    EXPECT_CALL(*splash, hide());
    EXPECT_CALL(*launcher, run(_, _, _)).WillOnce(Return(0u));
    EXPECT_CALL(*splash, close());
  }
  EXPECT_EQ(process->run(stub.c_str(), L"/lang-id:1031 /silent:STUB_LOADING"), 0u);
  ASSERT_TRUE(process->splash_request);
  EXPECT_EQ(process->splash_request->gif_id, 200);
  EXPECT_EQ(process->splash_request->gif_type, L"GIF");
  EXPECT_EQ(process->splash_request->icon_id, 128);
  EXPECT_EQ(process->splash_request->window_title, L"1031:@Sfx_Title|Prod");
  EXPECT_EQ(process->splash_request->product_title, L"Prod");
  EXPECT_EQ(data->colour, 0x00FEFEFEu);
}

TEST_F(SfxProcess, SplashWithoutTranslator_ShowsIdentifiersAndTellsTheSetupItsProcess) {
  auto process = make();
  auto splash = std::make_shared<NiceMock<mock_splash>>();
  process->splash = splash;
  process->splash_data = std::make_shared<fake_splash_data>();
  ON_CALL(*preparation, prepare).WillByDefault([](std::wstring& command, auto show_splash, auto) {
    show_splash(L"Prod");
    command = master;
  });
  EXPECT_CALL(*splash, set_text(std::wstring(L"Prod... @Sfx_Starting")));
  EXPECT_CALL(*splash, hide()).Times(0);
  EXPECT_EQ(run_arguments(*process, L"/silent"),
            L"/kestro-info-path:C:\\temp\\vyn-1\\kestro-info.xml /install /silent /sssid:" +
                std::to_wstring(::GetCurrentProcessId()));
  EXPECT_EQ(process->splash_request->window_title, L"@Sfx_Title");
}

TEST_F(SfxProcess, NoSplashContent_RunsWithoutSplash) {
  auto process = make();
  process->splash = std::make_shared<StrictMock<mock_splash>>();  // never created without content
  ON_CALL(*preparation, prepare).WillByDefault([](std::wstring& command, auto show_splash, auto report_progress) {
    show_splash(L"Prod");
    report_progress(10);
    command = master;
  });
  EXPECT_EQ(run_arguments(*process, L""), L"/kestro-info-path:C:\\temp\\vyn-1\\kestro-info.xml /install");
}

TEST_F(SfxProcess, AbsentOptionalComponents_AreSkipped) {
  auto process = std::make_unique<test_process>(nullptr, nullptr, L"s");
  auto verifier = std::make_shared<NiceMock<mock_verifier>>();
  ON_CALL(*verifier, verify_handle(_)).WillByDefault(Return(true));
  process->verifier = verifier;
  auto prepare = std::make_unique<NiceMock<mock_prepare>>();
  ON_CALL(*prepare, prepare).WillByDefault([](std::wstring& command, auto, auto) { command = L""; });
  process->preparation = std::move(prepare);
  process->launcher = launcher;
  // No reporting, no proxy, no setup information document, no payload, no setup master text.
  EXPECT_CALL(*launcher, run(std::wstring(), std::wstring(L"/kestro-info-path:C:\\temp\\vyn-1\\kestro-info.xml /install"), _))
      .WillOnce(Return(44080u));
  EXPECT_EQ(process->run(stub.c_str(), L""), 44080u);
}

}  // namespace
}  // namespace vyn::sfx

namespace vyn::sfx {
namespace {

TEST_F(SfxProcess, FailingLogWrites_KeepTheSetupResultAndRemoveTheTemporaryFolder) {
  auto process = make();
  const scoped_full_log_disk full;
  run_arguments(*process, L"", 44080);  // the restart request logs too
  EXPECT_TRUE(process->temp_destroyed);
  EXPECT_EQ(reporting->of("send").back(), "sfx-finish");
}

}  // namespace
}  // namespace vyn::sfx

namespace vyn::sfx {
namespace {

using namespace vyn::sfx::testing;
using ::testing::_;
using ::testing::NiceMock;
using ::testing::Return;

// A stub image whose payload holds one file of that name.
std::string stub_with_file(std::string_view alias) {
  std::vector<std::uint8_t> image = make_pe_image();
  const std::string_view content = "content";
  append_file_record(image, alias, {reinterpret_cast<const std::uint8_t*>(content.data()), content.size()});
  append_end_record(image);
  image.insert(image.end(), 72, 0x5A);  // the signature block, which the fake verifier accepts
  return std::string(image.begin(), image.end());
}

// Whoever may write the stub's folder could put another file in its place right after the
// signature check; the payload must come from the file that was checked.
TEST(SfxProcessOwnFile, ExchangedRightAfterTheSignatureCheck_PayloadIsReadFromTheCheckedFile) {
  const temp_folder folder;
  const std::wstring stub_path = (folder / L"stub.exe").wstring();
  write_file(stub_path, stub_with_file("checked.txt"));
  const auto exchange = [&] {
    EXPECT_TRUE(::MoveFileExW(stub_path.c_str(), (folder / L"moved.exe").wstring().c_str(), 0));
    write_file(stub_path, stub_with_file("planted.txt"));
    return true;
  };
  auto verifier = std::make_shared<NiceMock<mock_verifier>>();
  ON_CALL(*verifier, verify_handle(_)).WillByDefault(exchange);
  auto launcher = std::make_shared<NiceMock<mock_launcher>>();
  test_process process(nullptr, nullptr, L"s");
  process.verifier = verifier;
  process.real_payload = true;
  auto prepare = std::make_unique<NiceMock<mock_prepare>>();
  ON_CALL(*prepare, prepare).WillByDefault([](std::wstring& command, auto, auto) { command = master; });
  process.preparation = std::move(prepare);
  process.launcher = launcher;
  EXPECT_CALL(*launcher, run(master, _, _)).WillOnce(Return(0u));
  EXPECT_EQ(process.run(stub_path.c_str(), L""), 0u);
  ASSERT_TRUE(process.context().payload);
  EXPECT_EQ(process.context().payload->aliases(), std::vector<std::wstring>{L"checked.txt"});
}

}  // namespace
}  // namespace vyn::sfx

namespace vyn::sfx {
namespace {

using namespace vyn::sfx::testing;
using ::testing::_;
using ::testing::DoAll;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::SaveArg;

// The setup master's command text is its path and, when the description gives them, a blank and
// its arguments; the path itself may hold blanks. The master is started by its path and receives
// those arguments ahead of the stub's own, which override same-named ones.
TEST(SfxProcessSetupMaster, CommandTextWithArguments_IsSplitIntoTheProgramAndItsArguments) {
  const temp_folder folder;
  const std::wstring master_path = (folder / L"with blank\\kestro setup.exe").wstring();
  std::filesystem::create_directories(folder / L"with blank");
  write_file(master_path, "");
  std::filesystem::create_directories(folder / L"with");  // a folder is never taken for the program
  const std::wstring stub_arguments = L"/kestro-info-path:C:\\temp\\vyn-1\\kestro-info.xml /install";
  const std::wstring overridden = L"/a /kestro-info-path:C:\\temp\\vyn-1\\kestro-info.xml /install:keep";
  const struct {
    std::wstring text;
    std::wstring program;
    std::wstring arguments;
  } cases[] = {
      {master_path, master_path, stub_arguments},
      {master_path + L" --a \"b c\" /d:e", master_path, L"/a /d:e " + stub_arguments + L" \"b c\""},
      {master_path + L"  -x", master_path, stub_arguments + L" -x"},
      {master_path + L" /a /kestro-info-path:elsewhere /install:keep", master_path, overridden},
      // Naming no file, the text is taken whole, and the start fails as for a missing master.
      {L"C:\\missing\\kestro.exe -x", L"C:\\missing\\kestro.exe -x", stub_arguments},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utils::to_narrow(c.text));
    test_process process(nullptr, nullptr, L"s");
    auto verifier = std::make_shared<NiceMock<mock_verifier>>();
    ON_CALL(*verifier, verify_handle(_)).WillByDefault(Return(true));
    process.verifier = verifier;
    auto prepare = std::make_unique<NiceMock<mock_prepare>>();
    ON_CALL(*prepare, prepare).WillByDefault([&c](std::wstring& command, auto, auto) { command = c.text; });
    process.preparation = std::move(prepare);
    auto launcher = std::make_shared<NiceMock<mock_launcher>>();
    process.launcher = launcher;
    std::wstring program, arguments;
    EXPECT_CALL(*launcher, run(_, _, _))
        .WillOnce(DoAll(SaveArg<0>(&program), SaveArg<1>(&arguments), Return(0u)));
    EXPECT_EQ(process.run(stub.c_str(), L""), 0u);
    EXPECT_EQ(program, c.program);
    EXPECT_EQ(arguments, c.arguments);
  }
}

}  // namespace
}  // namespace vyn::sfx
