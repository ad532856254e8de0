// The identity of the running system (the test's Wine prefix), through its real storage places,
// as two runs of the installer see it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <regex>
#include <sstream>

#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/handle.h"
#include "foundation/known_folders.h"
#include "foundation/registry.h"
#include "foundation/strings.h"
#include "foundation/test_support.h"
#include "net/ini_file.h"

namespace vyn::mi {
namespace {

constexpr const wchar_t* machine_key = L"SOFTWARE\\1D0EC6DE-4A80-4CC3-A335-E6E41C951198";
constexpr const wchar_t* stored_names[] = {L"144807F0-DE37-4C62-9C05-EB4CC64A7A2F",
                                           L"5FD38555-4B16-40AE-9A09-E2C969CB74AF",
                                           L"8C5CFDF4-AB05-4EB0-8EF6-7B4620DC2CF3"};

struct probe_result {
  DWORD exit_code = 0;
  std::map<std::string, std::string> values;
  std::string log;
};

std::string read_all(const std::wstring& path) {
  try {
    const auto bytes = files::get_file_content(path);
    return std::string(bytes.begin(), bytes.end());
  } catch (const exceptions::error&) {
    return {};
  }
}

probe_result run_probe(const std::wstring& output) {
  std::wstring command = L"\"" + testing_support::windows_path(VYN_IDENTITY_PROBE_EXE) + L"\" \"" + output + L"\" halvard";
  STARTUPINFOW startup{sizeof(startup)};
  PROCESS_INFORMATION started{};
  probe_result result;
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    ADD_FAILURE() << "CreateProcessW failed: " << ::GetLastError();
    return result;
  }
  ::CloseHandle(started.hThread);
  const win::unique_handle process(started.hProcess);
  EXPECT_EQ(::WaitForSingleObject(process.get(), 120000), WAIT_OBJECT_0);
  ::GetExitCodeProcess(process.get(), &result.exit_code);
  std::istringstream lines(read_all(output));
  for (std::string line; std::getline(lines, line);) {
    const auto equals = line.find('=');
    if (line.starts_with('[') || equals == std::string::npos) {
      result.log += line + "\n";
    } else {
      result.values[line.substr(0, equals)] = line.substr(equals + 1);
    }
  }
  return result;
}

std::wstring machine_copy(const wchar_t* name) {
  try {
    return registry::read_string(registry::open_key(HKEY_LOCAL_MACHINE, machine_key, KEY_READ).get(), name);
  } catch (const registry::key_not_exists&) {
    return L"<none>";
  }
}

TEST(IdentityProbe, TwoRunsGiveTheSameIdentityAndTheSecondRestoresLostMachineCopies) {
  testing_support::scratch_folder folder;
  probe_result first = run_probe(folder / L"first.txt");
  ASSERT_EQ(first.exit_code, 0u) << first.log;
  std::printf("%s", first.log.c_str());
  for (const auto& [key, value] : first.values) std::printf("%s=%s\n", key.c_str(), value.c_str());

  EXPECT_TRUE(std::regex_match(first.values["hwid"], std::regex("[0-9A-F]{64}"))) << first.values["hwid"];
  EXPECT_TRUE(std::regex_match(first.values["fingerprint"], std::regex("[0-9A-F]{32}"))) << first.values["fingerprint"];
  EXPECT_TRUE(std::regex_match(first.values["endpoint_id"],
                               std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
      << first.values["endpoint_id"];

  // Lose the machine-wide copies, as a cleaning tool might.
  const win::unique_hkey key = registry::open_key(HKEY_LOCAL_MACHINE, machine_key, KEY_QUERY_VALUE | KEY_SET_VALUE);
  for (const wchar_t* name : stored_names) {
    if (registry::value_exists(key.get(), name)) registry::delete_value(key.get(), name);
  }

  probe_result second = run_probe(folder / L"second.txt");
  ASSERT_EQ(second.exit_code, 0u) << second.log;
  for (const char* name : {"hwid", "fingerprint", "endpoint_id", "items1", "items2"}) {
    EXPECT_EQ(second.values.at(name), first.values.at(name)) << name;
  }
  EXPECT_EQ(utils::to_narrow(machine_copy(stored_names[0])), first.values["endpoint_id"]);
  EXPECT_EQ(utils::to_narrow(machine_copy(stored_names[1])), first.values["fingerprint"]);
  // The probe runs as a Halvard build: the shared file holds the identifier too.
  const std::wstring shared = files::known_folder_path(files::known_folder::common_app_data) +
                              L"\\Halvard\\{086A63F0-6B13-4F29-9695-134E7A01E963}\\LC.INI";
  EXPECT_EQ(utils::ini_file::parse(files::get_file_content(shared)).get(L"MID", L"Value", L""),
            utils::to_wide(first.values["endpoint_id"]));
}

}  // namespace
}  // namespace vyn::mi
