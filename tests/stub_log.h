#pragma once
// The lines one run of a stub wrote to the brand's log, which every stub of the test run shares.
#include <windows.h>

#include <shlobj.h>

#include <sstream>
#include <string>
#include <vector>

#include "stub_process.h"

namespace vyn::testing_support {

// The log of the default brand's data folder, as the stub writes it.
inline std::wstring stub_log_path() {
  wchar_t common[MAX_PATH];
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common))) return {};
  return std::wstring(common) + L"\\Orvek Software\\Kestro\\Logs\\sfx.log";
}

// The lines of the run whose command line holds marker: from its "*** Starting SFX" line to its
// "*** Ending SFX" line, those of its process (the "[  pid:  tid]" field at column 50), so that
// runs of other tests in between do not mix in. Empty when the run is not found.
inline std::vector<std::string> run_log(const std::string& marker) {
  std::vector<std::string> lines;
  std::istringstream in(read_shared(stub_log_path()).value_or(""));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  constexpr std::size_t pid_column = 50;
  std::size_t started = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find("SFX started with command line '") != std::string::npos &&
        lines[i].find(marker) != std::string::npos) {
      started = i;
      break;
    }
  }
  if (started == lines.size() || lines[started].size() < pid_column + 8) return {};
  const std::string process = lines[started].substr(pid_column, lines[started].find(':', pid_column) - pid_column + 1);
  const auto ours = [&](const std::string& l) {
    return l.size() >= pid_column + process.size() && l.compare(pid_column, process.size(), process) == 0;
  };
  std::size_t first = started;
  while (first > 0 && !(ours(lines[first]) && lines[first].find("*** Starting SFX (") != std::string::npos)) --first;
  std::vector<std::string> run;
  for (std::size_t i = first; i < lines.size(); ++i) {
    if (!ours(lines[i])) continue;
    run.push_back(lines[i]);
    if (i > started && lines[i].find("*** Ending SFX") != std::string::npos) break;
  }
  return run;
}

}  // namespace vyn::testing_support
