// The channel plug-in stand-in keeps the call contract the installer relies on, so that a run
// that fails with it points at the installer, not at the stand-in.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "foundation/handle.h"
#include "foundation/test_support.h"

namespace {

using vyn::testing_support::scoped_environment;
using check_fn = DWORD(WINAPI*)(const wchar_t*, const wchar_t*, wchar_t*, DWORD*, DWORD);

class KestroMod : public ::testing::Test {
 protected:
  void SetUp() override {
    module_.reset(::LoadLibraryW(vyn::testing_support::windows_path(VYN_TEST_KESTRO_MOD_DLL).c_str()));
    ASSERT_TRUE(module_) << ::GetLastError();
    check_ = reinterpret_cast<check_fn>(
        reinterpret_cast<void*>(::GetProcAddress(module_.get(), "CheckChannelCompatibility")));
    ASSERT_NE(check_, nullptr);
  }

  struct answer {
    DWORD result;
    std::wstring channel;
    DWORD length;
  };
  answer ask(const wchar_t* channel, DWORD length) {
    std::wstring buffer(length, L'#');
    DWORD in_out = length;
    const DWORD result = check_(L"orvek", channel, buffer.data(), &in_out, 0);
    return {result, result == 0 ? std::wstring(buffer.c_str()) : std::wstring(), in_out};
  }

  vyn::win::unique_hmodule module_;
  check_fn check_ = nullptr;
};

TEST_F(KestroMod, Answers_AsTheEnvironmentAsks) {
  const std::wstring long_channel(150, L'c');
  const struct {
    std::optional<std::wstring> channel, result, count_nul;
    DWORD buffer;
    answer expected;
  } cases[] = {
      {std::nullopt, std::nullopt, std::nullopt, 100, {0, L"release", 8}},
      {L"beta", std::nullopt, std::nullopt, 100, {0, L"beta", 5}},
      {L"beta", std::nullopt, L"0", 100, {0, L"beta", 4}},
      {L"beta", L"0", std::nullopt, 100, {0, L"beta", 5}},
      {L"beta", L"1627", std::nullopt, 100, {1627, L"", 100}},
      {L"beta", std::nullopt, std::nullopt, 4, {234, L"", 5}},
      {long_channel, std::nullopt, std::nullopt, 100, {234, L"", 151}},
      {long_channel, std::nullopt, std::nullopt, 151, {0, long_channel, 151}},
  };
  for (const auto& c : cases) {
    const scoped_environment channel(L"VYN_TEST_MOD_CHANNEL", c.channel);
    const scoped_environment result(L"VYN_TEST_MOD_RESULT", c.result);
    const scoped_environment count_nul(L"VYN_TEST_MOD_COUNT_NUL", c.count_nul);
    const answer got = ask(L"release", c.buffer);
    EXPECT_EQ(got.result, c.expected.result) << c.channel.value_or(L"-").size();
    EXPECT_EQ(got.channel, c.expected.channel);
    EXPECT_EQ(got.length, c.expected.length);
  }
}

TEST_F(KestroMod, MissingArguments_Fail) {
  DWORD length = 10;
  wchar_t buffer[10];
  EXPECT_EQ(check_(nullptr, L"release", buffer, &length, 0), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(check_(L"orvek", L"release", buffer, nullptr, 0), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(check_(L"orvek", L"release", nullptr, &length, 0), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
