#pragma once
// Joining of Windows paths, shared by every place that builds one.

#include <string>
#include <string_view>

namespace vyn::files {

// left and right with exactly one separator between them: when left ends in "\" or "/" and
// right begins with one, one of them is dropped; when neither has one, "\" is inserted. An empty
// right part adds nothing (left comes back unchanged).
std::wstring join_path(std::wstring_view left, std::wstring_view right);

}  // namespace vyn::files
