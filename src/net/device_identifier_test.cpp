#include "net/device_identifier.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "foundation/directories.h"
#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/registry.h"
#include "foundation/strings.h"
#include "foundation/test_support.h"
#include "net/identity_testing.h"
#include "net/machine_items.h"
#include "net/ini_file.h"
#include "payload/testing/test_support.h"

namespace vyn::mi {
namespace {

using testing::registry_sandbox;
using testing::sandboxed_identity;
using testing::table_midex;
using testing_support::scoped_environment;
using testing_support::scratch_folder;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const source_items four_items{
    {"DiskMajoritySN", {'D', '1'}},
    {"SystemInformationSN", {'S', '1'}},
    {"BoardInformationSN", {'B', '1'}},
    {"SystemUUID", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
};

constexpr std::wstring_view fingerprint_key = L"5FD38555-4B16-40AE-9A09-E2C969CB74AF";
constexpr std::wstring_view endpoint_key = L"144807F0-DE37-4C62-9C05-EB4CC64A7A2F";
constexpr std::wstring_view source_data_file = L"6358C710-B89F-46B9-93F2-F6CAC44F5286";

bool is_v4_guid(const std::wstring& text) {
  static const std::wregex form(L"[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  return std::regex_match(text, form);
}

class DeviceIdentifier : public ::testing::Test {
 protected:
  DeviceIdentifier() { machine_.items = four_items; }

  // A provider as one report makes it.
  std::unique_ptr<sandboxed_identity> provider(root::brand_kind brand = root::brand_kind::halvard) {
    return std::make_unique<sandboxed_identity>(brand, sandbox_, lc_ini(), machine_);
  }
  std::wstring fingerprint(std::vector<std::string>* changed = nullptr) {
    std::wstring text;
    std::vector<std::string> names;
    provider()->fingerprint(text, names);
    if (changed) *changed = names;
    return text;
  }
  std::wstring endpoint(root::brand_kind brand = root::brand_kind::halvard) {
    return endpoint_id_text(*provider(brand));
  }
  std::wstring stored(std::wstring_view name) {
    try {
      return registry::read_string(
          registry::open_key(HKEY_CURRENT_USER, sandbox_.path_of(HKEY_LOCAL_MACHINE, machine_storage_key), KEY_READ)
              .get(),
          name);
    } catch (const registry::key_not_exists&) {
      return L"<none>";
    }
  }
  void store(std::wstring_view name, std::wstring_view value) {
    registry::write_string(
        registry::create_key(HKEY_CURRENT_USER, sandbox_.path_of(HKEY_LOCAL_MACHINE, machine_storage_key),
                             KEY_SET_VALUE)
            .get(),
        name, value);
  }
  std::wstring lc_ini() const { return common_ / L"Halvard\\{086A63F0-6B13-4F29-9695-134E7A01E963}\\LC.INI"; }
  void write_lc_ini(std::string_view text) {
    files::create_directory(lc_ini().substr(0, lc_ini().rfind(L'\\')));
    files::set_file_content(lc_ini(), std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), true);
  }
  utils::ini_file read_lc_ini() { return utils::ini_file::parse(files::get_file_content(lc_ini())); }

  scratch_folder temp_;
  scoped_environment tmp_{L"TMP", temp_.path()};
  scratch_folder common_;
  registry_sandbox sandbox_;
  table_midex machine_;
};

TEST_F(DeviceIdentifier, FirstFingerprint_IsTheMachineIdentifierAndIsStored) {
  const std::wstring first = fingerprint();
  EXPECT_EQ(first, upper_hex(machine_.get(2, 16, nullptr)));
  EXPECT_EQ(first.size(), 32u);
  EXPECT_EQ(stored(fingerprint_key), first);
  EXPECT_EQ(fingerprint(), first);
}

TEST_F(DeviceIdentifier, FingerprintStaysWithOneChangedItemAndIsReplacedWithTwo) {
  const std::wstring original = fingerprint();
  std::vector<std::string> changed;

  machine_.items["BoardInformationSN"] = {'B', '2'};  // a new board
  EXPECT_EQ(fingerprint(&changed), original);
  EXPECT_THAT(changed, ElementsAre("BoardInformationSN"));
  EXPECT_EQ(stored(fingerprint_key), original);

  // The stored items now hold the new board: one more change is again only one.
  machine_.items.erase("DiskMajoritySN");  // the disk stopped answering
  EXPECT_EQ(fingerprint(&changed), original);
  EXPECT_THAT(changed, ElementsAre("DiskMajoritySN"));

  machine_.items["SystemInformationSN"] = {'S', '2'};
  machine_.items["SystemUUID"] = {9};
  const std::wstring replaced = fingerprint(&changed);
  EXPECT_NE(replaced, original);
  EXPECT_EQ(replaced, upper_hex(machine_.get(2, 16, nullptr)));
  EXPECT_THAT(changed, ElementsAre("SystemInformationSN", "SystemUUID"));
  EXPECT_EQ(stored(fingerprint_key), replaced);

  // Back to one change against the replaced state.
  machine_.items["SystemUUID"] = {10};
  EXPECT_EQ(fingerprint(&changed), replaced);
  EXPECT_THAT(changed, ElementsAre("SystemUUID"));
}

TEST_F(DeviceIdentifier, StoredSourceDataThatCannotBeLoaded_ReplacesTheFingerprint) {
  struct row {
    const char* damage;
    std::wstring value;
    const char* logged;
  };
  const row rows[] = {
      {"not Base64", L"***", "base64decode failed"},
      {"not ours", L"AAECAw==", "Failed to decrypt data"},
      {"missing", L"", "No stored source data"},
  };
  for (const auto& r : rows) {
    const std::wstring original = fingerprint();
    registry::delete_key(HKEY_CURRENT_USER, sandbox_.path_of(HKEY_LOCAL_MACHINE, machine_storage_key));
    registry::delete_key(HKEY_CURRENT_USER, sandbox_.path_of(HKEY_CLASSES_ROOT, classes_storage_key));
    files::delete_file(temp_ / source_data_file);
    store(fingerprint_key, original);
    if (!r.value.empty()) store(L"8C5CFDF4-AB05-4EB0-8EF6-7B4620DC2CF3", r.value);
    machine_.items["BoardInformationSN"].push_back('x');  // one change only

    sfx::testing::log_capture log;
    std::vector<std::string> changed;
    const std::wstring now = fingerprint(&changed);
    EXPECT_NE(now, original) << r.damage;
    EXPECT_THAT(changed, IsEmpty()) << r.damage;
    EXPECT_EQ(log.count("Load source data failed"), 1) << r.damage;
    EXPECT_GE(log.count(r.logged), 1) << r.damage;
    EXPECT_EQ(log.count("Fingerprint source data changed to much, update it."), 1) << r.damage;
  }
}

TEST_F(DeviceIdentifier, FingerprintWithEveryStoragePlaceFailing_IsStillTheCurrentOne) {
  sandbox_.failing = {HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT};
  sfx::testing::log_capture log;  // before %TMP% goes missing: it keeps its file there
  const scoped_environment missing(L"TMP", temp_ / L"missing");
  EXPECT_EQ(fingerprint(), upper_hex(machine_.get(2, 16, nullptr)));
  EXPECT_EQ(log.count("Store finger print failed"), 1);
  EXPECT_EQ(log.count("Store source data failed"), 1);
}

TEST_F(DeviceIdentifier, NoHardwareItemRead_NeitherReplacesNorBecomesTheStoredFingerprint) {
  machine_.items.clear();
  const std::wstring unknown = fingerprint();
  EXPECT_EQ(unknown, upper_hex(machine_.get(2, 16, nullptr)));
  EXPECT_EQ(stored(fingerprint_key), L"<none>");

  machine_.items = four_items;
  const std::wstring original = fingerprint();
  EXPECT_NE(original, unknown);
  machine_.items.clear();
  std::vector<std::string> changed;
  EXPECT_EQ(fingerprint(&changed), original);
  EXPECT_THAT(changed, IsEmpty());
  EXPECT_EQ(stored(fingerprint_key), original);
  // The stored items are still the machine's: one change later is one change.
  machine_.items = four_items;
  machine_.items["SystemUUID"] = {7};
  EXPECT_EQ(fingerprint(&changed), original);
  EXPECT_THAT(changed, ElementsAre("SystemUUID"));
}

TEST_F(DeviceIdentifier, MachineIdentifierFailing_FailsTheFingerprintOnly) {
  machine_.broken = true;
  auto identity = provider();
  EXPECT_THROW(fingerprint_text(*identity), exceptions::error);
  EXPECT_TRUE(is_v4_guid(endpoint_id_text(*identity)));
}

TEST_F(DeviceIdentifier, NothingStoredOrShared_NewGuidStoredSharedAndKept) {
  const std::wstring id = endpoint();
  EXPECT_TRUE(is_v4_guid(id)) << utils::to_log(id);
  EXPECT_EQ(stored(endpoint_key), id);
  const utils::ini_file ini = read_lc_ini();
  EXPECT_EQ(ini.get(L"MID", L"Value", L""), id);
  EXPECT_EQ(ini.get(L"MID", L"XRef", L""), L"Adapters|MID");
  const auto raw = files::get_file_content(lc_ini());
  EXPECT_THAT(std::vector<std::uint8_t>(raw.begin(), raw.begin() + 3), ElementsAre(0xEF, 0xBB, 0xBF));
  EXPECT_EQ(endpoint(), id);
  auto one = provider();
  const std::wstring first = endpoint_id_text(*one);
  files::delete_file(lc_ini());
  EXPECT_EQ(endpoint_id_text(*one), first);  // the provider keeps its answer
}

TEST_F(DeviceIdentifier, SharedValue_WinsAndIsStoredWithoutItsQuotes) {
  struct row {
    std::string file_value;
    std::wstring expected;
  };
  const row rows[] = {
      {"\"0d1e2f30-4152-4637-8899-aabbccddeeff\"", L"0d1e2f30-4152-4637-8899-aabbccddeeff"},
      {"plain-text-of-another-product", L"plain-text-of-another-product"},
  };
  for (const auto& r : rows) {
    store(endpoint_key, L"stored-before");
    write_lc_ini("[Other]\r\nKeep=1\r\n[MID]\r\nValue=" + r.file_value + "\r\n");
    EXPECT_EQ(endpoint(), r.expected);
    EXPECT_EQ(stored(endpoint_key), utils::to_wide(r.file_value));
    EXPECT_EQ(read_lc_ini().get(L"Other", L"Keep", L""), L"1");
  }
}

TEST_F(DeviceIdentifier, StoredValueWithoutSharedOne_IsSharedForHalvardOnly) {
  store(endpoint_key, L"stored-id");
  EXPECT_EQ(endpoint(root::brand_kind::orvek), L"stored-id");
  EXPECT_FALSE(files::file_exists(lc_ini()));
  write_lc_ini("[Other]\r\nKeep=1\r\n");
  EXPECT_EQ(endpoint(root::brand_kind::halvard), L"stored-id");
  const utils::ini_file ini = read_lc_ini();
  EXPECT_EQ(ini.get(L"MID", L"Value", L""), L"stored-id");
  EXPECT_EQ(ini.get(L"Other", L"Keep", L""), L"1");
}

TEST_F(DeviceIdentifier, OnlyQuotesAnywhere_GivesANewGuid) {
  write_lc_ini("[MID]\r\nValue=\"\"\r\n");
  const std::wstring id = endpoint();
  EXPECT_TRUE(is_v4_guid(id));
  EXPECT_EQ(read_lc_ini().get(L"MID", L"Value", L""), id);
  EXPECT_EQ(stored(endpoint_key), id);
}

TEST_F(DeviceIdentifier, UnreadableSharedFile_IsLoggedAndReplaced) {
  write_lc_ini("[MID]\r\nValue=\xff\xfe\xfd broken\r\n");  // bytes that are not UTF-8
  store(endpoint_key, L"stored-id");
  sfx::testing::log_capture log;
  EXPECT_EQ(endpoint(), L"stored-id");
  EXPECT_EQ(log.count("Failed to read endpoint id from"), 1);
  EXPECT_EQ(log.count("Failed to read original content of"), 1);
  EXPECT_EQ(read_lc_ini().get(L"MID", L"Value", L""), L"stored-id");
}

TEST_F(DeviceIdentifier, MissingSharedFileOrFolder_IsNoWarning) {
  sfx::testing::log_capture log;
  endpoint(root::brand_kind::orvek);
  files::create_directory(common_ / L"Halvard");
  endpoint(root::brand_kind::orvek);
  EXPECT_EQ(log.count("Failed to read endpoint id from"), 0);
}

}  // namespace
}  // namespace vyn::mi
