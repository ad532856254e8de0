#include "payload/sfx_edat.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/value_holder.h"
#include "foundation/directories.h"
#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/handle.h"
#include "foundation/strings.h"
#include "foundation/test_support.h"
#include "payload/payload.h"
#include "payload/payload_writer.h"
#include "payload/signature_testing.h"
#include "payload/testing/stub_image.h"
#include "payload/testing/test_support.h"

namespace vyn::sfx {
namespace {

using bytes = std::vector<std::uint8_t>;
using testing_support::scratch_folder;

bytes bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

std::optional<std::string> content_of(const std::wstring& path) {
  if (!files::file_exists(path)) return std::nullopt;
  const bytes content = files::get_file_content(path);
  return std::string(content.begin(), content.end());
}

void write(const std::wstring& path, const std::string& text) { files::set_file_content(path, bytes_of(text), true); }

struct record {
  std::string alias;
  std::string content;
};

// The run's context with a temporary folder of its own and a payload made of the records.
class Edat : public ::testing::Test {
 protected:
  Edat() {
    context_.values = std::make_shared<value_holder>();
    context_.values->set(L"tmp-path", temp_.path());
  }

  // alter_last stores the records as they are and changes the last one's content behind its
  // recorded SHA-256.
  void make_payload(const std::vector<record>& records, bool alter_last = false) {
    bytes image = testing::make_pe_image();
    for (const auto& r : records) append_file_record(image, r.alias, bytes_of(r.content), !alter_last);
    if (alter_last) image.back() ^= 1;
    append_end_record(image);
    const std::wstring path = stubs_ / L"stub.exe";
    files::set_file_content(path, image, true);
    context_.payload = std::make_shared<payload>(path, context_);
  }

  std::wstring in_temp(const wchar_t* name) const { return temp_ / name; }

  scratch_folder temp_;
  scratch_folder stubs_;
  shared_context context_;
};

TEST_F(Edat, AliasesContainingEdatInAnyCase_AreUnpackedUnderTheirAliasesWithSubFolders) {
  make_payload({{"EREF.EDAT", "eref"}, {"dir\\x.edat.txt", "x"}, {"x.eda", "not edat"}, {"sub/a.edat", "a"},
                {"readme.txt", "not edat"}, {"..\\escape.edat", "outside"}, {"C:evil.edat", "drive"}});
  write(in_temp(L"EREF.EDAT"), "older");
  const testing::log_capture log;
  sfx_edat(context_).unpack_edat_files();

  EXPECT_EQ(content_of(in_temp(L"EREF.EDAT")), "eref") << "an existing file is replaced";
  EXPECT_EQ(content_of(in_temp(L"dir\\x.edat.txt")), "x");
  EXPECT_EQ(content_of(in_temp(L"sub\\a.edat")), "a");
  EXPECT_FALSE(files::path_exists(in_temp(L"x.eda")));
  EXPECT_FALSE(files::path_exists(in_temp(L"readme.txt")));
  EXPECT_FALSE(files::path_exists(temp_.path() + L"\\..\\escape.edat"));
  EXPECT_EQ(log.count("Unpacking EDAT (EREF.EDAT)"), 1);
  EXPECT_EQ(log.count("Unpacking EDAT (x.eda)"), 0);
  EXPECT_EQ(log.count("EDAT alias '..\\escape.edat' does not stay inside the temporary folder, skip"), 1);
  EXPECT_EQ(log.count("EDAT alias 'C:evil.edat' does not stay inside the temporary folder, skip"), 1);
}

TEST_F(Edat, FolderThatCannotBeMade_IsSkippedAndTheOthersUnpacked) {
  make_payload({{"blocked\\b.edat", "b"}, {"c.edat", "c"}});
  write(in_temp(L"blocked"), "a file where the folder would go");
  const testing::log_capture log;
  sfx_edat(context_).unpack_edat_files();

  EXPECT_EQ(content_of(in_temp(L"c.edat")), "c");
  EXPECT_EQ(log.count("Create EDAT directory '" + utils::to_narrow(in_temp(L"blocked")) + "' fail "), 1) << log.text();
  EXPECT_EQ(log.count(", skip"), 1);
}

TEST_F(Edat, RecordThatFailsItsChecksum_EndsTheUnpackingWithoutRaising) {
  make_payload({{"bad.edat", "altered"}}, true);
  const testing::log_capture log;
  EXPECT_NO_THROW(sfx_edat(context_).unpack_edat_files());
  EXPECT_EQ(log.count("Unpacking EDAT end with exception."), 1);
  EXPECT_FALSE(files::path_exists(in_temp(L"bad.edat"))) << "nothing unverified is left";
}

TEST_F(Edat, WithoutPayload_NothingHappens) {
  const testing::log_capture log;
  EXPECT_NO_THROW(sfx_edat(context_).unpack_edat_files());
  EXPECT_EQ(log.count("EDAT"), 0);
}

// A launching stub whose executable is a file the test signs (or not) and places.
class test_microstub : public microstub {
 public:
  using microstub::microstub;
  std::optional<std::wstring> parent;  // nothing: the parent cannot be found

 protected:
  std::wstring parent_image_path() override {
    if (!parent) throw vyn::exceptions::error(ERROR_INVALID_PARAMETER, "Unable to open process 0");
    return *parent;
  }
};

class Microstub : public Edat {
 protected:
  Microstub() {
    files::create_directory(edat_dir());
    write(edat_dir() + L"\\ecoo.edat", "cookie-\xC3\xA4");
    write(edat_dir() + L"\\trid.edat", "launcher trid");
    write(edat_dir() + L"\\NEW.EDAT", "launcher new");
    write(edat_dir() + L"\\note.edatx", "not edat");
    files::create_directory(edat_dir() + L"\\folder.edat");
    write(edat_dir() + L"\\folder.edat\\inner.edat", "in a sub-folder");
  }

  std::wstring edat_dir() const { return stubs_ / L"launcher"; }

  // A launcher image signed with the key set given, or unsigned.
  std::wstring launcher(std::optional<unsigned> key_set) {
    bytes image = testing::minimal_pe_image(sizeof(void*) == 8, 0x400);
    if (key_set) image = testing::sign(image, signature::sign_options{}, *key_set);
    const std::wstring path = stubs_ / (L"launcher" + std::to_wstring(key_set.value_or(0)) + L".exe");
    files::set_file_content(path, image, true);
    return path;
  }

  // A microstub for the command line, already verified against the parent.
  std::unique_ptr<test_microstub> checked(const std::wstring& command, std::optional<std::wstring> parent) {
    context_.cmd = command_line(command, false);
    auto stub = std::make_unique<test_microstub>(context_);
    stub->parent = std::move(parent);
    verified_ = stub->verify();
    return stub;
  }

  std::wstring with_dir(const std::wstring& suffix = L"\\") const {
    return L"/edat_dir:\"" + edat_dir() + suffix + L"\"";
  }

  bool verified_ = false;
};

TEST_F(Microstub, WithoutEdatDir_DoesNothingAndLogsNothing) {
  write(in_temp(L"trid.edat"), "payload trid");
  const testing::log_capture log;
  const auto stub = checked(L"/cookie:x", launcher(8));
  EXPECT_FALSE(verified_);
  EXPECT_EQ(stub->cookie(), L"");
  stub->copy_edat_files();
  EXPECT_EQ(content_of(in_temp(L"trid.edat")), "payload trid");
  EXPECT_EQ(log.text(), "");
}

TEST_F(Microstub, LauncherSignedWithTheLaunchingStubKeys_HandsOverCookieAndEdatFiles) {
  write(in_temp(L"trid.edat"), "payload trid");
  write(in_temp(L"eref.edat"), "payload eref");
  const testing::log_capture log;
  const auto stub = checked(with_dir(), launcher(8));
  EXPECT_TRUE(verified_);
  EXPECT_EQ(log.count("DSA for microstub verified with result 'true'"), 1);
  EXPECT_EQ(stub->cookie(), L"cookie-\u00E4");
  stub->copy_edat_files();

  EXPECT_EQ(content_of(in_temp(L"trid.edat")), "launcher trid") << "the launcher's file replaces the payload's";
  EXPECT_EQ(content_of(in_temp(L"eref.edat")), "payload eref");
  EXPECT_EQ(content_of(in_temp(L"NEW.EDAT")), "launcher new");
  EXPECT_EQ(content_of(in_temp(L"ecoo.edat")), "cookie-\xC3\xA4");
  EXPECT_FALSE(files::path_exists(in_temp(L"note.edatx")));
  EXPECT_FALSE(files::path_exists(in_temp(L"folder.edat")));
  EXPECT_FALSE(files::path_exists(in_temp(L"inner.edat")));
  EXPECT_EQ(log.count("Microstub not verified"), 0);
}

// The cookie file is the parameter's value with "ecoo.edat" appended as it stands.
TEST_F(Microstub, CookieFileName_IsAppendedWithoutASeparator) {
  const struct {
    std::wstring parameter;
    std::wstring cookie;
  } cases[] = {
      {with_dir(L"\\"), L"cookie-\u00E4"},
      {with_dir(L"/"), L"cookie-\u00E4"},
      {with_dir(L""), L""},  // "<folder>ecoo.edat" does not exist
      {L"/edat_dir:", L""},
      {L"/edat_dir:\"" + (stubs_ / L"missing\\") + L"\"", L""},
      {L"/edat_dir:\"" + edat_dir() + L"\\ecoo.edat\"", L""},  // a file, not a folder
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utils::to_narrow(c.parameter));
    EXPECT_EQ(checked(c.parameter, launcher(8))->cookie(), c.cookie);
  }
  // Without a separator the folder's files are still copied.
  checked(with_dir(L""), launcher(8))->copy_edat_files();
  EXPECT_EQ(content_of(in_temp(L"trid.edat")), "launcher trid");

  write(edat_dir() + L"\\ecoo.edat", "\xFF\xFE not UTF-8");
  EXPECT_EQ(checked(with_dir(), launcher(8))->cookie(), L"");
}

TEST_F(Microstub, LauncherNotSignedWithTheLaunchingStubKeys_TakesNothingOver) {
  const struct {
    std::optional<unsigned> key_set;  // nothing: unsigned
    bool parent_found;
  } cases[] = {{7, true}, {std::nullopt, true}, {8, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key_set.value_or(0));
    scratch_folder temp;
    context_.values = std::make_shared<value_holder>();
    context_.values->set(L"tmp-path", temp.path());
    const testing::log_capture log;
    const std::wstring parent = launcher(c.key_set);
    const auto stub = checked(with_dir(), c.parent_found ? std::optional(parent) : std::nullopt);
    EXPECT_FALSE(verified_);
    EXPECT_EQ(log.count("DSA for microstub verified with result 'false'"), c.parent_found ? 1 : 0);
    EXPECT_EQ(stub->cookie(), L"");
    stub->copy_edat_files();
    EXPECT_EQ(log.count("Microstub not verified, skip get cookie"), 1);
    EXPECT_EQ(log.count("Microstub not verified, skip copy edat files"), 1);
    EXPECT_FALSE(files::path_exists(temp / L"trid.edat"));
  }
}

TEST_F(Microstub, OneCopyFailing_DoesNotStopTheOthers) {
  write(in_temp(L"ecoo.edat"), "read-only older copy");
  ::SetFileAttributesW(in_temp(L"ecoo.edat").c_str(), FILE_ATTRIBUTE_READONLY);
  const std::wstring locked = edat_dir() + L"\\locked.edat";
  write(locked, "held by the launcher");
  const win::unique_handle hold(
      ::CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(hold);
  const testing::log_capture log;
  checked(with_dir(), launcher(8))->copy_edat_files();

  EXPECT_EQ(log.count("Copy edat file '" + utils::to_narrow(locked) + "'->'" +
                      utils::to_narrow(in_temp(L"locked.edat")) + "' fail 32"),
            1)
      << log.text();
  EXPECT_FALSE(files::path_exists(in_temp(L"locked.edat")));
  EXPECT_EQ(content_of(in_temp(L"trid.edat")), "launcher trid");
  EXPECT_EQ(content_of(in_temp(L"NEW.EDAT")), "launcher new");
  EXPECT_EQ(content_of(in_temp(L"ecoo.edat")), "cookie-\xC3\xA4") << "a read-only destination is replaced";
}

TEST_F(Microstub, EdatDirThatCannotBeListed_CopiesNothing) {
  const testing::log_capture log;
  checked(L"/edat_dir:\"" + (stubs_ / L"missing") + L"\"", launcher(8))->copy_edat_files();
  EXPECT_EQ(log.count("Copy"), 0);
}

}  // namespace
}  // namespace vyn::sfx
