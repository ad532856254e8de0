#include "launch/bug_report_path.h"

#include <gtest/gtest.h>

namespace vyn::sfx {
namespace {

TEST(BugReportPath, WithoutRoot_DropsDriveShareDevicePrefixAndSeparators) {
  const struct {
    const wchar_t* path;
    const wchar_t* expected;
  } cases[] = {
      {L"C:\\Temp\\vyn\\common", L"Temp\\vyn\\common"},
      {L"c:/Temp/common", L"Temp/common"},
      {L"C:\\\\Temp", L"Temp"},
      {L"C:relative", L"relative"},
      {L"C:\\", L""},
      {L"\\\\server\\share\\setup\\common", L"setup\\common"},
      {L"\\\\server\\share", L""},
      {L"\\\\?\\C:\\Temp\\common", L"Temp\\common"},
      {L"\\\\.\\D:\\x", L"x"},
      {L"\\\\?\\UNC\\server\\share\\x\\common", L"x\\common"},
      {L"\\\\?\\Volume{1234}\\x", L"x"},
      {L"\\Temp\\common", L"Temp\\common"},
      {L"Temp\\common", L"Temp\\common"},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(without_root(c.path), c.expected) << c.path;
}

TEST(BugReportPath, ExpectedPath_JoinsTheRootlessFolderWithTheReporterName) {
  EXPECT_EQ(expected_bug_report_path(L"C:\\Temp\\vyn-1\\common"), L"Temp\\vyn-1\\common\\bug_report.exe");
  EXPECT_EQ(expected_bug_report_path(L"C:\\Temp\\vyn-1\\common\\"), L"Temp\\vyn-1\\common\\bug_report.exe");
  EXPECT_EQ(expected_bug_report_path(L"\\\\server\\share\\common"), L"common\\bug_report.exe");
  EXPECT_EQ(expected_bug_report_path(L"D:\\"), L"bug_report.exe");
}

TEST(BugReportPath, Match_NeedsTheWholeTailAtAPathBoundary) {
  const std::wstring expected = L"temp\\vyn-1\\common\\bug_report.exe";
  const struct {
    const wchar_t* image;
    bool matches;
  } cases[] = {
      {L"\\device\\harddiskvolume3\\temp\\vyn-1\\common\\bug_report.exe", true},
      {L"\\device\\mup\\server\\share\\temp\\vyn-1\\common\\bug_report.exe", true},
      {L"temp\\vyn-1\\common\\bug_report.exe", true},
      {L"\\device\\harddiskvolume3\\mytemp\\vyn-1\\common\\bug_report.exe", false},
      {L"\\device\\harddiskvolume3\\temp\\vyn-2\\common\\bug_report.exe", false},
      {L"\\device\\harddiskvolume3\\temp\\vyn-1\\common\\deeper\\bug_report.exe", false},
      {L"\\device\\harddiskvolume3\\temp\\vyn-1\\common\\bug_report.exe.old", false},
      {L"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(matches_expected_path(c.image, expected), c.matches) << c.image;
  EXPECT_FALSE(matches_expected_path(L"\\device\\x\\bug_report.exe", L""));
}

}  // namespace
}  // namespace vyn::sfx
