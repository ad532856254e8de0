#include "setup/setup_file_name.h"

#include <gtest/gtest.h>

#include <string>

namespace vyn::sfx {
namespace {

TEST(SetupFileName, NamesInsideTheProductFolder_AreTakenOthersRefused) {
  const struct {
    std::wstring name;
    bool taken;
  } rows[] = {
      {L"kestro.exe", true},
      {L"bin\\engine.dll", true},
      {L"data/licenses/readme.txt", true},
      {L".hidden", true},
      {L"a..b.txt", true},
      {L"", false},
      {L"..\\x.dll", false},
      {L"../x.dll", false},
      {L"bin\\..\\..\\x.dll", false},
      {L"bin\\.\\x.dll", false},
      {L"...\\x.dll", false},
      {L"\\windows\\x.dll", false},
      {L"/x.dll", false},
      {L"\\\\server\\share\\x.dll", false},
      {L"\\\\?\\C:\\x.dll", false},
      {L"C:\\x.dll", false},
      {L"C:x.dll", false},
      {L"x.dll:stream", false},
      {L"bin\\", false},
      {L"bin\\\\x.dll", false},
      {L"x.dll.", false},
      {L"x.dll ", false},
      {L"a\tb", false},
      {L"a?b", false},
      {L"NUL", false},
      {L"bin\\con.txt", false},
      {L"COM1", false},
      {L"lpt9.log", false},
      {L"COM", true},
      {L"console.exe", true},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(stays_in_folder(r.name), r.taken) << std::string(r.name.begin(), r.name.end());
  }
}

}  // namespace
}  // namespace vyn::sfx
