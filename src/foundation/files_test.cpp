#include "foundation/files.h"

#include <shlobj.h>

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "foundation/directories.h"
#include "foundation/exceptions.h"
#include "foundation/files_wrapper.h"
#include "foundation/handle.h"
#include "foundation/known_folders.h"
#include "foundation/strings.h"
#include "foundation/test_support.h"

namespace vyn::files {
namespace {

using testing::HasSubstr;
using testing::StartsWith;
using testing::StrEq;
using testing::ThrowsMessage;
using testing_support::scoped_environment;
using testing_support::scratch_folder;

std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

std::uint32_t code_of(const std::function<void()>& action) {
  try {
    action();
  } catch (const exceptions::error& e) {
    return e.code();
  }
  return 0;
}

class Files : public testing::Test {
 protected:
  scratch_folder scratch_;
};

TEST_F(Files, ContentWritten_ReadsBackAndOverwritesOnlyWhenAllowed) {
  const std::wstring path = scratch_ / L"data.bin";
  set_file_content(path, bytes_of("first content"), false);
  EXPECT_EQ(get_file_content(path), bytes_of("first content"));

  EXPECT_THAT([&] { set_file_content(path, bytes_of("second"), false); },
              ThrowsMessage<exceptions::error>(HasSubstr("set_file_content '")));
  EXPECT_EQ(code_of([&] { set_file_content(path, bytes_of("second"), false); }),
            static_cast<std::uint32_t>(ERROR_FILE_EXISTS));
  EXPECT_EQ(get_file_content(path), bytes_of("first content"));

  set_file_content(path, bytes_of("second"), true);
  EXPECT_EQ(get_file_content(path), bytes_of("second"));
  set_file_content(path, {}, true);
  EXPECT_TRUE(get_file_content(path).empty());
}

TEST_F(Files, MissingFile_FailsToOpenWithTheSystemCode) {
  EXPECT_THAT([&] { get_file_content(scratch_ / L"missing"); },
              ThrowsMessage<exceptions::error>(StrEq("couldn't open file")));
  EXPECT_EQ(code_of([&] { get_file_content(scratch_ / L"missing"); }),
            static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_THAT([&] { set_file_content(scratch_ / L"no\\such\\folder.bin", {}, true); },
              ThrowsMessage<exceptions::error>(HasSubstr("folder.bin'")));
}

TEST_F(Files, WriteToOpenFile_ReplacesLongerContent) {
  const std::wstring path = scratch_ / L"open.bin";
  set_file_content(path, bytes_of("a much longer original content"), false);
  {
    win::unique_handle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    ::SetFilePointer(file.get(), 5, nullptr, FILE_BEGIN);
    write_file_content(file.get(), bytes_of("short"));
  }
  EXPECT_EQ(get_file_content(path), bytes_of("short"));
}

TEST_F(Files, ExclusiveLock_CoversTheWholeFileUntilReleased) {
  const std::wstring path = scratch_ / L"locked.bin";
  set_file_content(path, bytes_of("0123456789"), false);
  win::unique_handle holder(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  win::unique_handle other(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder && other);
  const auto try_lock = [&](DWORD offset) {
    OVERLAPPED at{};
    at.Offset = offset;
    const bool locked = ::LockFileEx(other.get(), LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
    if (locked) ::UnlockFileEx(other.get(), 0, 1, 0, &at);
    return locked;
  };
  {
    const file_lock lock(holder.get(), lock_kind::exclusive);
    EXPECT_FALSE(try_lock(0));
    EXPECT_FALSE(try_lock(9));
    EXPECT_FALSE(try_lock(1000000));  // past the end of the file too
  }
  EXPECT_TRUE(try_lock(0));
  {
    const file_lock shared(holder.get(), lock_kind::shared);
    EXPECT_TRUE(try_lock(0));  // a shared request beside a shared lock
  }
}

TEST_F(Files, FileFactsAndEnumeration_DescribeTheFolder) {
  set_file_content(scratch_ / L"one.txt", bytes_of("12345"), false);
  create_directory(scratch_ / L"sub");
  EXPECT_EQ(file_size(scratch_ / L"one.txt"), 5u);
  EXPECT_GT(file_write_time(scratch_ / L"one.txt"), 0x01D0000000000000u);  // after 2014
  EXPECT_TRUE(file_exists(scratch_ / L"one.txt"));
  EXPECT_FALSE(file_exists(scratch_ / L"sub"));
  EXPECT_TRUE(directory_exists(scratch_ / L"sub"));
  EXPECT_FALSE(directory_exists(scratch_ / L"one.txt"));

  std::map<std::wstring, directory_entry> seen;
  enumerate_directory(scratch_.path(), [&](const directory_entry& entry) {
    seen[entry.name] = entry;
    return true;
  });
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_FALSE(seen[L"one.txt"].is_directory);
  EXPECT_EQ(seen[L"one.txt"].size, 5u);
  EXPECT_TRUE(seen[L"sub"].is_directory);

  int visits = 0;
  enumerate_directory(scratch_.path() + L"\\", [&](const directory_entry&) { return ++visits < 1; });
  EXPECT_EQ(visits, 1);

  delete_file(scratch_ / L"one.txt");
  delete_file(scratch_ / L"one.txt");  // already gone
  EXPECT_FALSE(file_exists(scratch_ / L"one.txt"));
  EXPECT_GT(free_disk_space(scratch_.path()), 0u);
}

TEST_F(Files, FactsOfMissingPaths_FailWithTheirMessages) {
  const std::wstring missing = scratch_ / L"missing";
  const std::string shown = utils::to_narrow(missing);
  EXPECT_THAT([&] { file_size(missing); },
              ThrowsMessage<exceptions::error>(StrEq("Unable to get size of file '" + shown + "'!")));
  EXPECT_THAT([&] { file_write_time(missing); },
              ThrowsMessage<exceptions::error>(StrEq("Failed to get file write time '" + shown + "'")));
  EXPECT_THAT([&] { enumerate_directory(missing, [](const directory_entry&) { return true; }); },
              ThrowsMessage<exceptions::error>(StrEq("Unable to enumerate directory '" + shown + "'!")));
}

// A source held open by another program fails every try; released during the first pause, the
// second try copies it. A read-only destination is replaced.
TEST_F(Files, CopyFile_TriesThreeTimesAndReplacesAReadOnlyDestination) {
  const std::wstring source = scratch_ / L"source.edat";
  const std::wstring destination = scratch_ / L"copy.edat";
  set_file_content(source, bytes_of("new"), false);
  set_file_content(destination, bytes_of("old"), false);
  ::SetFileAttributesW(destination.c_str(), FILE_ATTRIBUTE_READONLY);

  win::unique_handle hold(
      ::CreateFileW(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(hold);
  std::vector<std::uint32_t> pauses;
  EXPECT_EQ(code_of([&] { copy_file(source, destination, [&](std::uint32_t ms) { pauses.push_back(ms); }); }),
            static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(pauses, (std::vector<std::uint32_t>{200, 200}));
  EXPECT_EQ(get_file_content(destination), bytes_of("old"));

  pauses.clear();
  copy_file(source, destination, [&](std::uint32_t ms) {
    pauses.push_back(ms);
    hold.reset();
  });
  EXPECT_EQ(pauses.size(), 1u);
  EXPECT_EQ(get_file_content(destination), bytes_of("new"));

  EXPECT_THAT([&] { copy_file(scratch_ / L"missing", destination, [](std::uint32_t) {}); },
              ThrowsMessage<exceptions::error>(StrEq("Unable to copy file '" + utils::to_narrow(scratch_ / L"missing") +
                                                     "'!")));
}

TEST_F(Files, CreateDirectory_CreatesMissingParentsWithDescriptor) {
  const std::wstring deep = scratch_ / L"a\\b\\c";
  const wchar_t* sddl = L"D:P(A;CIOI;GA;;;SY)(A;CIOI;GA;;;BA)(A;CIOI;GRGX;;;BU)";
  EXPECT_TRUE(create_directory(deep + L"\\", sddl));
  EXPECT_TRUE(directory_exists(scratch_ / L"a\\b"));
  EXPECT_TRUE(directory_exists(deep));
  EXPECT_FALSE(create_directory(deep, sddl));
  // A descriptor that cannot be built falls back to default security.
  EXPECT_TRUE(create_directory(scratch_ / L"d", L"not a descriptor"));
  EXPECT_TRUE(directory_exists(scratch_ / L"d"));

  set_file_content(scratch_ / L"file", {}, false);
  EXPECT_THAT([&] { create_directory(scratch_ / L"file"); },
              ThrowsMessage<exceptions::error>(HasSubstr("Unable to create directory '")));
}

TEST_F(Files, SecurityOfExistingFolder_IsApplied) {
  create_directory(scratch_ / L"logs");
  EXPECT_NO_THROW(set_security(scratch_ / L"logs",
                               L"O:BAG:BAD:P(A;CIOI;FA;;;SY)(A;CIOI;FA;;;BA)(A;CIOI;DTFRFW;;;BU)"));
  EXPECT_THAT([&] { set_security(scratch_ / L"logs", L"D:(bogus"); },
              ThrowsMessage<exceptions::error>(StrEq("Unable to convert security descriptor 'D:(bogus'!")));
  EXPECT_THAT([&] { set_security(scratch_ / L"missing", L"D:P(A;;GA;;;SY)"); },
              ThrowsMessage<exceptions::error>(HasSubstr("Unable to apply security descriptor to '")));
}

// The build made a folder and a link to it (a symbolic link of the build machine, which Wine
// presents as a reparse point). A descriptor applied through the link would secure, or open up,
// the folder it points to.
TEST(FolderSecurity, ReparsePoint_IsRefusedAndItsTargetLeftAlone) {
  const std::wstring link = testing_support::windows_path(VYN_TEST_REPARSE_LINK);
  const std::wstring target = testing_support::windows_path(VYN_TEST_REPARSE_TARGET);
  ASSERT_NE(::GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "no reparse point to test with";
  const wchar_t* sddl = L"O:BAG:BAD:P(A;CIOI;FA;;;SY)(A;CIOI;FA;;;BA)(A;CIOI;DTFRFW;;;BU)";
  EXPECT_THAT([&] { set_security(link, sddl); },
              ThrowsMessage<exceptions::error>(StrEq("Refusing to apply a security descriptor through the reparse "
                                                     "point '" + utils::to_narrow(link) + "'!")));
  EXPECT_NO_THROW(set_security(target, sddl));
}

TEST_F(Files, TmpNamingMissingCreatableFolder_IsCreatedAndUsed) {
  const std::wstring wanted = scratch_ / L"new\\tmp";
  scoped_environment tmp(L"TMP", wanted + L"\\");
  EXPECT_EQ(temp_folder(), wanted);
  EXPECT_TRUE(directory_exists(wanted));
}

TEST_F(Files, TemporaryFolderSources_AreTriedInOrder) {
  {
    scoped_environment tmp(L"TMP", std::nullopt);
    scoped_environment temp(L"TEMP", scratch_ / L"from-temp");
    EXPECT_EQ(temp_folder(), scratch_ / L"from-temp");
  }
  {
    scoped_environment tmp(L"TMP", std::nullopt);
    scoped_environment temp(L"TEMP", std::nullopt);
    wchar_t windows[MAX_PATH];
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_EQ(temp_folder(), std::wstring(windows, 2) + L"\\Temp");
  }
}

TEST_F(Files, TmpNamingAFile_FailsToCreateTheFolder) {
  set_file_content(scratch_ / L"plain-file", {}, false);
  scoped_environment tmp(L"TMP", scratch_ / L"plain-file");
  EXPECT_THAT([&] { temp_folder(); },
              ThrowsMessage<exceptions::error>(HasSubstr("Unable to create directory '")));
}

TEST_F(Files, UniqueTemporaryNames_AreFreshAndWellFormed) {
  const std::wregex form(LR"(.*\\vyn[0-9a-f]{16}\.tmp)");
  std::set<std::wstring> names;
  for (int i = 0; i < 100; ++i) {
    const std::wstring name = unique_temp_name(scratch_.path() + L"\\", L"vyn", L"tmp");
    EXPECT_TRUE(std::regex_match(name, form));
    EXPECT_EQ(name.rfind(scratch_.path() + L"\\vyn", 0), 0u);  // one backslash after the folder
    EXPECT_FALSE(path_exists(name));
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 100u);
}

TEST(ModuleFacts, ModulePathAndRedirectionGuard_WorkInThisProcess) {
  const std::wstring path = module_path();
  EXPECT_TRUE(path.ends_with(L"foundation_tests.exe")) << utils::to_log(path);
  EXPECT_TRUE(file_exists(path));
  const fs_redirection_auto guard;
  if (sizeof(void*) == 8) {
    EXPECT_FALSE(guard.active());  // 64-bit processes are never redirected
  }
  EXPECT_TRUE(directory_exists(L"C:\\windows\\system32"));
}

TEST(FileVersion, BuiltStub_HasItsVersionStrings) {
  const std::wstring stub = testing_support::windows_path(VYN_TEST_STUB_PATH);
  EXPECT_EQ(file_version_string(stub, L"ProductId"), utils::to_wide(VYN_TEST_PRODUCT_ID));
  EXPECT_EQ(file_version_string(stub, L"OriginalFilename"), L"vyn-sfx.exe");
  const auto numbers = file_version_numbers(stub);
  EXPECT_EQ(fmt::format("{}.{}.{}.{}", numbers[0], numbers[1], numbers[2], numbers[3]),
            VYN_TEST_FILE_VERSION);
  EXPECT_THAT([&] { file_version_string(stub, L"NoSuchString"); },
              ThrowsMessage<exceptions::error>(StartsWith("VerQueryValueW '")));
  EXPECT_THAT([&] { file_version_string(module_path(), L"ProductId"); },
              ThrowsMessage<exceptions::error>(StartsWith("GetFileVersionInfoSizeW '")));
}

TEST(KnownFolders, EveryFolder_ResolvesToAnExistingFolder) {
  for (const auto folder : {known_folder::common_app_data, known_folder::app_data,
                            known_folder::local_app_data, known_folder::program_files,
                            known_folder::program_files_x86, known_folder::common_files,
                            known_folder::common_files_x86}) {
    const std::wstring path = known_folder_path(folder);
    EXPECT_TRUE(directory_exists(path)) << known_folder_name(folder) << ": " << utils::to_log(path);
  }
  EXPECT_NE(known_folder_path(known_folder::program_files),
            known_folder_path(known_folder::program_files_x86));
}

// Sources answering from tables, recording what was asked.
class table_sources : public known_folder_sources {
 public:
  std::map<int, std::wstring> shell_paths;
  std::map<std::wstring, std::wstring> registry_paths;  // by value name
  std::map<std::wstring, std::wstring> environment_paths;
  mutable std::vector<std::wstring> asked;

  std::optional<std::wstring> shell(int csidl) const override {
    asked.push_back(L"shell:" + std::to_wstring(csidl));
    return find(shell_paths, csidl);
  }
  std::optional<std::wstring> registry(HKEY root, std::wstring_view, std::wstring_view value,
                                       REGSAM view) const override {
    asked.push_back(std::wstring(root == HKEY_LOCAL_MACHINE ? L"hklm:" : L"hkcu:") +
                    std::wstring(value) + (view & KEY_WOW64_64KEY ? L":64" : L""));
    return find(registry_paths, std::wstring(value));
  }
  std::optional<std::wstring> environment(std::wstring_view name) const override {
    asked.push_back(L"env:" + std::wstring(name));
    return find(environment_paths, std::wstring(name));
  }

 private:
  template <class Map, class Key>
  static std::optional<std::wstring> find(const Map& map, const Key& key) {
    const auto it = map.find(key);
    return it == map.end() ? std::nullopt : std::optional<std::wstring>(it->second);
  }
};

TEST(KnownFolders, NativeProgramFilesOf32BitProcessOn64BitSystem_ComeFromTheNativeView) {
  table_sources sources;
  sources.shell_paths[CSIDL_PROGRAM_FILES] = L"C:\\Program Files (x86)";  // what WOW64 answers
  sources.environment_paths[L"ProgramFiles"] = L"C:\\Program Files (x86)";
  sources.environment_paths[L"ProgramW6432"] = L"C:\\Program Files";
  sources.registry_paths[L"ProgramFilesDir"] = L"D:\\Programs";
  EXPECT_EQ(resolve_known_folder(known_folder::program_files, sources, false, true), L"D:\\Programs");
  EXPECT_THAT(sources.asked, testing::ElementsAre(L"hklm:ProgramFilesDir:64"));

  sources.registry_paths.clear();
  sources.asked.clear();
  EXPECT_EQ(resolve_known_folder(known_folder::program_files, sources, false, true), L"C:\\Program Files");
  EXPECT_THAT(sources.asked, testing::ElementsAre(L"hklm:ProgramFilesDir:64", L"env:ProgramW6432"));

  sources.environment_paths[L"CommonProgramW6432"] = L"C:\\Program Files\\Common Files";
  EXPECT_EQ(resolve_known_folder(known_folder::common_files, sources, false, true),
            L"C:\\Program Files\\Common Files");
}

TEST(KnownFolders, ProgramFolderViews_FollowProcessAndSystem) {
  table_sources sources;
  sources.shell_paths[CSIDL_PROGRAM_FILES] = L"C:\\PF";
  sources.shell_paths[CSIDL_PROGRAM_FILESX86] = L"C:\\PF86";
  sources.shell_paths[CSIDL_PROGRAM_FILES_COMMONX86] = L"C:\\CF86";
  // 64-bit process: the shell knows both views.
  EXPECT_EQ(resolve_known_folder(known_folder::program_files, sources, true, false), L"C:\\PF");
  EXPECT_EQ(resolve_known_folder(known_folder::program_files_x86, sources, true, false), L"C:\\PF86");
  EXPECT_EQ(resolve_known_folder(known_folder::common_files_x86, sources, false, true), L"C:\\CF86");
  // 32-bit system: the 32-bit view is the one program folder.
  sources.shell_paths.erase(CSIDL_PROGRAM_FILESX86);
  EXPECT_EQ(resolve_known_folder(known_folder::program_files_x86, sources, false, false), L"C:\\PF");
  sources.shell_paths.clear();
  sources.registry_paths[L"ProgramFilesDir (x86)"] = L"R:\\PF86";
  EXPECT_EQ(resolve_known_folder(known_folder::program_files_x86, sources, true, false), L"R:\\PF86");
  sources.registry_paths.clear();
  sources.environment_paths[L"ProgramFiles(x86)"] = L"E:\\PF86";
  EXPECT_EQ(resolve_known_folder(known_folder::program_files_x86, sources, false, true), L"E:\\PF86");
}

TEST(KnownFolders, ShellMissing_FallsBackToRegistryThenEnvironment) {
  table_sources sources;
  sources.registry_paths[L"Common AppData"] = L"R:\\ProgramData";
  sources.environment_paths[L"APPDATA"] = L"E:\\Roaming";
  sources.environment_paths[L"LOCALAPPDATA"] = L"E:\\Local";
  EXPECT_EQ(resolve_known_folder(known_folder::common_app_data, sources, true, false), L"R:\\ProgramData");
  EXPECT_EQ(resolve_known_folder(known_folder::app_data, sources, true, false), L"E:\\Roaming");
  EXPECT_EQ(resolve_known_folder(known_folder::local_app_data, sources, true, false), L"E:\\Local");
  EXPECT_THAT(sources.asked, testing::Contains(L"hkcu:AppData:64"));

  sources.registry_paths.clear();
  EXPECT_THAT([&] { resolve_known_folder(known_folder::common_app_data, sources, true, false); },
              ThrowsMessage<exceptions::error>(
                  StrEq("Unable to retrieve a path of the known folder (common_app_data)!")));
}

}  // namespace
}  // namespace vyn::files
