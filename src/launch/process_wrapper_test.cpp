#include "launch/process_wrapper.h"

#include <gtest/gtest.h>

#include "app/command_line.h"
#include "foundation/exceptions.h"
#include "launch/launch_test_support.h"

namespace vyn::systools {
namespace {

using sfx::testing::bug_report_exe;
using sfx::testing::path_exists;
using testing_support::scoped_environment;

class ProcessWrapper : public sfx::testing::stand_in_test {
 protected:
  std::wstring kestro() { return sfx::quote_argument(master()) + L" /install"; }
  // A child that stays for the given time.
  std::wstring sleeper(const wchar_t* delay_ms) {
    delay_.emplace(L"VYN_TEST_BUG_REPORT_DELAY_MS", delay_ms);
    return sfx::quote_argument(sfx::testing::place(bug_report_exe(), scratch_ / L"sleeper", L"bug_report.exe"));
  }

  process_wrapper wrapper_;
  std::optional<scoped_environment> delay_;
};

// Reports a chosen protection and signing level instead of asking the system.
class protection_probe : public process_wrapper {
 public:
  bool protected_light = false;
  std::optional<std::uint32_t> level;
  int level_queries = 0;

 protected:
  bool running_as_protected_light() override { return protected_light; }
  std::optional<std::uint32_t> cached_signing_level(HANDLE) override {
    ++level_queries;
    return level;
  }
};

// The system's own answer to the protection question.
class system_protection : public process_wrapper {
 public:
  using process_wrapper::running_as_protected_light;
};

TEST_F(ProcessWrapper, RunVariants_ReturnTheChildsExitCode) {
  const scoped_environment code(L"VYN_TEST_EXIT_CODE", L"3");
  process_handles handles;
  EXPECT_EQ(wrapper_.run(kestro(), false, true, infinite_wait, handles), 3u);
  EXPECT_TRUE(handles.process && handles.thread);
  EXPECT_NE(handles.process_id, 0u);
  EXPECT_EQ(::GetProcessId(handles.process.get()), handles.process_id);
  EXPECT_EQ(wrapper_.run_and_wait(kestro(), true, infinite_wait), 3u);
  EXPECT_EQ(recorded(L"command-line.txt"), utils::to_narrow(kestro()));
}

TEST_F(ProcessWrapper, ZeroTimeout_Returns259AtOnceAndHandsOutTheRunningChild) {
  process_handles handles;
  EXPECT_EQ(wrapper_.run(sleeper(L"3000"), false, false, 0, handles), still_active);
  EXPECT_EQ(wrapper_.wait(handles.process.get(), 50, nullptr), static_cast<std::uint32_t>(ERROR_TIMEOUT));
  ASSERT_TRUE(::TerminateProcess(handles.process.get(), 17));
  EXPECT_EQ(wrapper_.wait(handles.process.get(), infinite_wait, nullptr), 17u);
}

TEST_F(ProcessWrapper, FiniteTimeout_Returns259WhileTheChildRuns) {
  process_handles handles;
  EXPECT_EQ(wrapper_.run(sleeper(L"3000"), false, false, 100, handles), still_active);
  EXPECT_FALSE(path_exists(record() + L"\\bug_report-done.txt"));
}

TEST_F(ProcessWrapper, Wait_ReportsAbortTimeoutAndBadHandlesAsCodes) {
  process_handles handles;
  wrapper_.run(sleeper(L"3000"), false, false, 0, handles);
  const win::unique_handle abort(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  EXPECT_EQ(wrapper_.wait(handles.process.get(), infinite_wait, abort.get()), static_cast<std::uint32_t>(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(wrapper_.wait(handles.process.get(), 20, nullptr), static_cast<std::uint32_t>(ERROR_TIMEOUT));
  EXPECT_EQ(wrapper_.wait(nullptr, 20, nullptr), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(wrapper_.wait(INVALID_HANDLE_VALUE, 20, nullptr), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  // A handle that names no process: the system's own failure code comes back.
  EXPECT_EQ(wrapper_.wait(reinterpret_cast<HANDLE>(std::uintptr_t{0x7FF0}), 20, nullptr), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

TEST_F(ProcessWrapper, RunWithInput_ChildReadsTheTextToItsEnd) {
  const scoped_environment read(L"VYN_TEST_READ_INPUT", L"1");
  std::string input = "first line\r\nsecond line\r\n";
  input += std::string(200000, 'x');  // more than a pipe holds at once
  process_handles handles;
  EXPECT_EQ(wrapper_.run_with_input(kestro(), input, false, infinite_wait, handles), 0u);
  EXPECT_EQ(recorded(L"stdin.txt"), input);
}

TEST_F(ProcessWrapper, StartAsUser_StartsSuspendedWithTheUsersOwnEnvironment) {
  const scoped_environment code(L"VYN_TEST_EXIT_CODE", L"7");
  HANDLE token = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &token)) << ::GetLastError();
  const win::unique_handle own_token(token);

  process_handles handles = wrapper_.start_as_user(own_token.get(), kestro(), false, true, false);
  ASSERT_TRUE(handles.process && handles.thread);
  EXPECT_EQ(wrapper_.wait(handles.process.get(), 200, nullptr), static_cast<std::uint32_t>(ERROR_TIMEOUT));
  ASSERT_NE(::ResumeThread(handles.thread.get()), static_cast<DWORD>(-1));
  // The child sees the user's environment, not this process's: neither the exit code nor the
  // record folder asked for here reaches it.
  EXPECT_EQ(wrapper_.wait(handles.process.get(), infinite_wait, nullptr), 0u);
  EXPECT_FALSE(path_exists(record()));
}

TEST_F(ProcessWrapper, StartAsUser_WithoutAToken_Raises) {
  try {
    wrapper_.start_as_user(nullptr, kestro(), false, false, false);
    FAIL() << "a start without a token succeeded";
  } catch (const exceptions::error& e) {
    EXPECT_STREQ(e.what(), "Unable to duplicate the access token!");
    EXPECT_EQ(e.code(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  }
  EXPECT_FALSE(path_exists(record()));
}

TEST_F(ProcessWrapper, NotProtected_StartsWithoutAskingForASigningLevel) {
  EXPECT_FALSE(system_protection().running_as_protected_light());
  protection_probe probe;
  process_handles handles;
  EXPECT_EQ(probe.run(kestro(), false, true, infinite_wait, handles), 0u);
  EXPECT_EQ(probe.level_queries, 0);
}

TEST_F(ProcessWrapper, ProtectedWithoutSigningLevel7_FailsWith577BeforeStarting) {
  const struct {
    std::optional<std::uint32_t> level;
  } cases[] = {{std::nullopt}, {0u}, {6u}, {12u}};
  for (const auto& c : cases) {
    protection_probe probe;
    probe.protected_light = true;
    probe.level = c.level;
    process_handles handles;
    try {
      probe.run(kestro(), false, true, infinite_wait, handles);
      ADD_FAILURE() << "started with signing level " << c.level.value_or(0xFFFFFFFF);
    } catch (const exceptions::error& e) {
      EXPECT_EQ(e.code(), 577u);
      EXPECT_EQ(e.message(), "Wrong signature level '" + utils::to_narrow(kestro()) + "'!");
    }
    EXPECT_EQ(probe.level_queries, 1);
    EXPECT_FALSE(handles.process);
  }
  EXPECT_FALSE(path_exists(record()));
}

TEST_F(ProcessWrapper, ProtectedLaunch_IsTriedOnlyWithInheritedOrStandardHandles) {
  protection_probe probe;
  probe.protected_light = true;
  process_handles handles;
  EXPECT_EQ(probe.run(kestro(), false, false, infinite_wait, handles), 0u);
  EXPECT_EQ(probe.level_queries, 0);
  EXPECT_THROW(probe.run_with_input(kestro(), "text", false, infinite_wait, handles), exceptions::error);
  EXPECT_EQ(probe.level_queries, 1);
}

}  // namespace
}  // namespace vyn::systools
