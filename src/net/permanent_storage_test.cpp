#include "net/permanent_storage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/registry.h"
#include "foundation/strings.h"
#include "foundation/test_support.h"
#include "net/identity_testing.h"
#include "payload/testing/test_support.h"

namespace vyn::mi {
namespace {

using testing_support::scoped_environment;
using testing_support::scratch_folder;

constexpr std::wstring_view k1 = L"first-name", k2 = L"second-name", n = L"file-name";

std::vector<std::uint8_t> utf16_bytes(std::wstring_view text) {
  std::vector<std::uint8_t> out(text.size() * sizeof(wchar_t));
  std::memcpy(out.data(), text.data(), out.size());
  return out;
}

// Storage over a private registry key and a scratch %TMP%.
class PermanentStorage : public ::testing::Test {
 protected:
  std::wstring machine_copy() { return copy(HKEY_LOCAL_MACHINE, machine_storage_key, k1); }
  std::wstring classes_copy() { return copy(HKEY_CLASSES_ROOT, classes_storage_key, k2); }
  std::wstring copy(HKEY root, std::wstring_view key, std::wstring_view name) {
    try {
      return registry::read_string(registry::open_key(HKEY_CURRENT_USER, sandbox_.path_of(root, key), KEY_READ).get(),
                                   name);
    } catch (const registry::key_not_exists&) {
      return L"<none>";
    }
  }
  void remove(HKEY root, std::wstring_view key, std::wstring_view name) {
    registry::delete_value(registry::open_key(HKEY_CURRENT_USER, sandbox_.path_of(root, key), KEY_SET_VALUE).get(),
                           name);
  }
  std::wstring file() const { return temp_ / n; }

  scratch_folder temp_;
  scoped_environment tmp_{L"TMP", temp_.path()};
  testing::registry_sandbox sandbox_;
  testing::sandboxed_storage storage_{sandbox_};
};

TEST_F(PermanentStorage, Write_PutsTheDatumInAllThreePlaces) {
  storage_.write(k1, k2, n, L"datum \u00e9");
  EXPECT_EQ(machine_copy(), L"datum \u00e9");
  EXPECT_EQ(classes_copy(), L"datum \u00e9");
  EXPECT_EQ(files::get_file_content(file()), utf16_bytes(L"datum \u00e9"));  // no terminator, no mark
}

TEST_F(PermanentStorage, LostCopies_AreRestoredFromTheRemainingOne) {
  struct row {
    const char* lost;
    bool machine, classes, in_file;
  };
  const row rows[] = {
      {"HKLM value", true, false, false},
      {"both registry values", true, true, false},
      {"HKLM value and file", true, false, true},
      {"HKCR value and file", false, true, true},
  };
  for (const auto& r : rows) {
    storage_.write(k1, k2, n, L"kept");
    if (r.machine) remove(HKEY_LOCAL_MACHINE, machine_storage_key, k1);
    if (r.classes) remove(HKEY_CLASSES_ROOT, classes_storage_key, k2);
    if (r.in_file) files::delete_file(file());
    // A new storage object, as the next run makes.
    testing::sandboxed_storage next(sandbox_);
    EXPECT_EQ(next.read(k1, k2, n, L"fallback"), L"kept") << r.lost;
    EXPECT_EQ(machine_copy(), L"kept") << r.lost;
    EXPECT_EQ(classes_copy(), L"kept") << r.lost;
    EXPECT_EQ(files::get_file_content(file()), utf16_bytes(L"kept")) << r.lost;
  }
}

TEST_F(PermanentStorage, FirstPlaceWins) {
  storage_.write(k1, k2, n, L"old");
  registry::write_string(registry::create_key(HKEY_CURRENT_USER, sandbox_.path_of(HKEY_LOCAL_MACHINE, machine_storage_key),
                                              KEY_SET_VALUE).get(), k1, L"new");
  EXPECT_EQ(storage_.read(k1, k2, n, L""), L"new");
  EXPECT_EQ(classes_copy(), L"new");
}

TEST_F(PermanentStorage, OddLengthOrEmptyCopies_CountAsMissing) {
  storage_.write(k1, k2, n, L"kept");
  remove(HKEY_LOCAL_MACHINE, machine_storage_key, k1);
  remove(HKEY_CLASSES_ROOT, classes_storage_key, k2);
  const std::vector<std::uint8_t> odd{'a', 0, 'b'};
  for (const auto& content : {odd, std::vector<std::uint8_t>{}}) {
    files::set_file_content(file(), content, true);
    EXPECT_EQ(storage_.read(k1, k2, n, L"fallback"), L"fallback");
    EXPECT_EQ(machine_copy(), L"<none>");
    EXPECT_EQ(files::get_file_content(file()), content);  // nothing written back
  }
  // Behind a registry copy, an odd file is repaired.
  storage_.write(k1, k2, n, L"second");
  remove(HKEY_LOCAL_MACHINE, machine_storage_key, k1);
  files::set_file_content(file(), odd, true);
  EXPECT_EQ(storage_.read(k1, k2, n, L""), L"second");
  EXPECT_EQ(files::get_file_content(file()), utf16_bytes(L"second"));
}

TEST_F(PermanentStorage, NothingStored_ReadGivesTheFallbackAndWritesNothing) {
  EXPECT_EQ(storage_.read(k1, k2, n, L"fallback"), L"fallback");
  EXPECT_EQ(machine_copy(), L"<none>");
  EXPECT_FALSE(files::file_exists(file()));
}

TEST_F(PermanentStorage, EmptyName_FailsWithInvalidParameter) {
  using names = std::tuple<std::wstring_view, std::wstring_view, std::wstring_view>;
  for (const auto& [a, b, c] : {names{L"", k2, n}, names{k1, L"", n}, names{k1, k2, L""}}) {
    for (int operation = 0; operation < 2; ++operation) {
      try {
        operation == 0 ? storage_.write(a, b, c, L"x") : static_cast<void>(storage_.read(a, b, c, L"x"));
        ADD_FAILURE() << "accepted";
      } catch (const exceptions::error& e) {
        EXPECT_EQ(e.code(), 87u);
        EXPECT_STREQ(e.what(), "PSK contains null");
      }
    }
  }
}

TEST_F(PermanentStorage, SomePlacesFailing_WriteSucceedsAndWarns) {
  sandbox_.failing = {HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT};
  sfx::testing::log_capture log;
  storage_.write(k1, k2, n, L"file only");
  EXPECT_EQ(log.count("Store data to HKLM failed."), 1);
  EXPECT_EQ(log.count("Store data to HKCU failed."), 1);
  EXPECT_EQ(storage_.read(k1, k2, n, L""), L"file only");

  sandbox_.failing.clear();
  const scoped_environment missing(L"TMP", temp_ / L"missing");
  storage_.write(k1, k2, n, L"registry only");
  EXPECT_EQ(log.count("Store data to file failed."), 1);
  EXPECT_EQ(machine_copy(), L"registry only");
}

TEST_F(PermanentStorage, AllPlacesFailing_WriteRaisesTheFileFailure) {
  sandbox_.failing = {HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT};
  const std::wstring folder = temp_ / L"missing";
  const scoped_environment missing(L"TMP", folder);
  try {
    storage_.write(k1, k2, n, L"lost");
    ADD_FAILURE() << "no failure";
  } catch (const exceptions::error& e) {
    EXPECT_EQ(e.code(), static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(e.message(), "set_file_content '" + utils::to_narrow(folder + L"\\" + std::wstring(n)) + "'");
  }
}

TEST_F(PermanentStorage, CopyFoundButNoPlaceTakesTheRepair_ReadStillGivesTheCopy) {
  storage_.write(k1, k2, n, L"found");
  sandbox_.read_only = {HKEY_LOCAL_MACHINE};
  sandbox_.failing = {HKEY_CLASSES_ROOT};
  sfx::testing::log_capture log;  // before %TMP% goes missing: it keeps its file there
  const scoped_environment missing(L"TMP", temp_ / L"missing");
  EXPECT_EQ(storage_.read(k1, k2, n, L"fallback"), L"found");
  EXPECT_EQ(log.count("Permanent storage - failed to restore the copies."), 1);
}

TEST_F(PermanentStorage, UnsetTmp_FileCopyFailsInsteadOfUsingTheCurrentFolder) {
  const scoped_environment unset(L"TMP", std::nullopt);
  sandbox_.failing = {HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT};
  EXPECT_THAT([&] { storage_.write(k1, k2, n, L"x"); },
              ::testing::ThrowsMessage<exceptions::error>(::testing::StrEq("Unable to expand %TMP% environment variable!")));
}

}  // namespace
}  // namespace vyn::mi
