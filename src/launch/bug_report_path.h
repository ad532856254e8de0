#pragma once
// How the crash reporter of a run is recognised among the running processes: by the end of its
// image path, since the system reports that path in its device form ("\Device\HarddiskVolume3\..."),
// whose start differs from the drive or share the folder was given with.

#include <string>
#include <string_view>

namespace vyn::sfx {

inline constexpr std::wstring_view bug_report_name = L"bug_report.exe";

// The path without its root: the drive ("C:"), the share ("\\server\share"), a "\\?\" or
// "\\.\" prefix with what it names, and the separators after it. A relative path comes back
// unchanged.
std::wstring_view without_root(std::wstring_view path);

// The folder without its root, joined with "bug_report.exe". Case is left as it is.
std::wstring expected_bug_report_path(std::wstring_view folder);

// True when image_path ends with expected_path at a path boundary, so that "...\xcommon\..." is
// not taken for "...\common\...". Both must already be in the same case.
bool matches_expected_path(std::wstring_view image_path, std::wstring_view expected_path);

}  // namespace vyn::sfx
