// The conditions that look at the running system: its version, platform and edition, the brand
// of the executable, and files and devices.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "foundation/exceptions.h"
#include "foundation/os_info.h"
#include "foundation/strings.h"
#include "payload/testing/test_support.h"
#include "setup/condition_containers.h"
#include "setup/condition_factory.h"
#include "setup/expander.h"
#include "setup/running_brand.h"

namespace vyn::repository::conditions {
namespace {

os::os_info system_of(std::uint32_t major, std::uint32_t minor, std::uint16_t sp, std::uint32_t build,
                      os::platform native = os::platform::x64, std::uint8_t product_type = os::product_workstation) {
  os::os_info info;
  info.version.major = major;
  info.version.minor = minor;
  info.version.service_pack_major = sp;
  info.version.build = build;
  info.version.product_type = product_type;
  info.native = native;
  return info;
}

class SystemConditions : public ::testing::Test {
 protected:
  SystemConditions() : expander_(std::make_shared<light_expander>()), context_(std::make_shared<basic_factory>(), expander_) {}

  // "true", "false", or the message of the error evaluation raised.
  std::string outcome(const std::wstring& xml) {
    pugi::xml_document document;
    EXPECT_TRUE(document.load_string(xml.c_str())) << xml;
    condition_root root;
    root.build(document.document_element(), context_);
    try {
      return root.evaluate(context_) ? "true" : "false";
    } catch (const vyn::exceptions::error& e) {
      return e.what();
    }
  }

  std::string outcome_on(const os::os_info& system, const std::wstring& xml) {
    const os::scoped_override use(system);
    return outcome(xml);
  }

  std::shared_ptr<light_expander> expander_;
  basic_context context_;
};

TEST_F(SystemConditions, OsAtLeastAndAtMost_FirstDifferingLevelDecides) {
  const auto win11 = system_of(10, 0, 0, 22631);
  const auto win10 = system_of(10, 0, 0, 19045);
  const auto win7sp1 = system_of(6, 1, 1, 7601);
  const auto win7sp2 = system_of(6, 1, 2, 7000);
  const struct {
    os::os_info system;
    const wchar_t* xml;
    const char* expected;
  } cases[] = {
      {win11, L"<c><os-at-least major='10' minor='0' build='22000'/></c>", "true"},
      {win10, L"<c><os-at-least major='10' minor='0' build='22000'/></c>", "false"},
      {win11, L"<c><os-at-most major='10' minor='0' build='22000'/></c>", "false"},
      {win10, L"<c><os-at-most major='10' minor='0' build='22000'/></c>", "true"},
      {win10, L"<c><os-at-most major='10' minor='0' build='19045'/></c>", "true"},
      {win7sp1, L"<c><os-at-least major='6' minor='2'/></c>", "false"},
      // The service-pack level decides before the build is looked at.
      {win7sp2, L"<c><os-at-least major='6' minor='1' sp='1' build='7601'/></c>", "true"},
      {win7sp2, L"<c><os-at-most major='6' minor='1' sp='1' build='9999'/></c>", "false"},
      {win7sp1, L"<c><os-at-least sp='1' build='7602'/></c>", "false"},
      {win7sp1, L"<c><os-at-least/></c>", "true"},
      {win7sp1, L"<c><os-at-most/></c>", "true"},
      {win10, L"<c><not-os-at-least major='11'/></c>", "true"},
      {win10, L"<c><os-at-least major='-1'/></c>", "true"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome_on(c.system, c.xml), c.expected) << c.xml;
}

TEST_F(SystemConditions, OsVersionFields_EveryPresentOneMustEqual) {
  const auto win7sp1 = system_of(6, 1, 1, 7601);
  const struct {
    const wchar_t* xml;
    const char* expected;
  } cases[] = {
      {L"<c><os major='6' minor='1' sp='1' build='7601'/></c>", "true"},
      {L"<c><os major='6' minor='2'/></c>", "false"},
      {L"<c><os sp='0'/></c>", "false"},
      {L"<c><os build=' 7601'/></c>", "true"},
      {L"<c><os/></c>", "true"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome_on(win7sp1, c.xml), c.expected) << c.xml;
}

TEST_F(SystemConditions, OsWithNonNumericMajor_HoldsOnEverySystem) {
  for (const auto& system : {system_of(5, 1, 3, 2600, os::platform::x86), system_of(6, 1, 1, 7601),
                             system_of(10, 0, 0, 26100, os::platform::arm64, os::product_server)}) {
    EXPECT_EQ(outcome_on(system, L"<c><os major='ten'/></c>"), "true");
    EXPECT_EQ(outcome_on(system, L"<c><os major='10 '/></c>"), "true");
    EXPECT_EQ(outcome_on(system, L"<c><os-at-least major='99x'/></c>"), "true");
  }
}

TEST_F(SystemConditions, OsPlatformAndEdition_NamedIgnoringCase_UnknownOnesUndecidable) {
  const struct {
    os::platform native;
    std::uint8_t product_type;
    const wchar_t* xml;
    const char* expected;
  } cases[] = {
      {os::platform::x64, os::product_workstation, L"<c><os platform='X64'/></c>", "true"},
      {os::platform::x64, os::product_workstation, L"<c><os platform='x86'/></c>", "false"},
      {os::platform::arm64, os::product_workstation, L"<c><os platform='arm64' type='Workstation'/></c>", "true"},
      {os::platform::arm64, os::product_workstation, L"<c><os platform='arm64' type='server'/></c>", "false"},
      {os::platform::x64, os::product_server, L"<c><os type='server'/></c>", "true"},
      {os::platform::x64, os::product_domain_controller, L"<c><os type='SERVER'/></c>", "true"},
      {os::platform::x64, os::product_domain_controller, L"<c><os type='workstation'/></c>", "false"},
      {os::platform::ia64, os::product_workstation, L"<c><os platform='x64'/></c>",
       "The executable is running under unknown OS platform!"},
      {os::platform::arm, os::product_workstation, L"<c><not-os platform='arm'/></c>",
       "The executable is running under unknown OS platform!"},
      {os::platform::ia64, os::product_workstation, L"<c><os type='workstation'/></c>", "true"},
      {os::platform::x64, 0, L"<c><os type='workstation'/></c>", "The executable is running under unknown OS type!"},
      {os::platform::x64, 4, L"<c><os platform='x64'/></c>", "true"},
      // A version that does not match decides before the platform is asked for.
      {os::platform::ia64, os::product_workstation, L"<c><os major='5' platform='x64'/></c>", "false"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(outcome_on(system_of(10, 0, 0, 19045, c.native, c.product_type), c.xml), c.expected) << c.xml;
  }
}

TEST_F(SystemConditions, Brand_ComparedWithTheBrandWordIgnoringCase) {
  const struct {
    root::brand_kind kind;
    const wchar_t* xml;
    const char* expected;
  } cases[] = {
      {root::brand_kind::orvek, L"<c><brand name='ORVEK'/></c>", "true"},
      {root::brand_kind::orvek, L"<c><brand name='tarn'/></c>", "false"},
      {root::brand_kind::orvek, L"<c><not-brand name='Orvek'/></c>", "false"},
      {root::brand_kind::tarn, L"<c><brand name='Tarn'/></c>", "true"},
      {root::brand_kind::halvard, L"<c><brand name='HALVARD'/></c>", "true"},
      {root::brand_kind::quillon, L"<c><brand name='quillon'/></c>", "The executable is running under unknown brand!"},
      {root::brand_kind::none, L"<c><brand name='orvek'/></c>", "The executable is running under unknown brand!"},
      {root::brand_kind::orvek, L"<c><brand name=''/></c>",
       "The assertion failed for expression: m_name && !m_name->empty()"},
      // The name is taken as written, never as a variable.
      {root::brand_kind::orvek, L"<c><brand name='%BRAND%'/></c>", "false"},
  };
  expander_->set(L"%BRAND%", L"orvek");
  for (const auto& c : cases) {
    const scoped_brand_override brand(c.kind);
    EXPECT_EQ(outcome(c.xml), c.expected) << c.xml;
  }
}

class FileConditions : public SystemConditions {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::CreateDirectoryW((folder_ + L"\\sub").c_str(), nullptr));
    sfx::testing::write_file(temp_ / L"empty.txt", "");
    sfx::testing::write_file(temp_ / L"full.txt", "content");
    expander_->set(L"%FULL%", folder_ + L"\\full.txt");
  }

  // A file condition on a path inside the test folder (or on the given text when it names a
  // variable or another place).
  std::string file_outcome(const std::wstring& attributes) {
    return outcome(L"<c><file " + attributes + L"/></c>");
  }
  std::wstring at(const wchar_t* name) const { return L"path='" + folder_ + L"\\" + name + L"' "; }

  sfx::testing::temp_folder temp_;
  const std::wstring folder_ = temp_.path().wstring();
};

TEST_F(FileConditions, Exists_FileMeansAFileAndNotAFolder) {
  const struct {
    std::wstring attributes;
    const char* expected;
  } cases[] = {
      {at(L"full.txt") + L"exists='true'", "true"},
      {at(L"full.txt") + L"exists='false'", "false"},
      {at(L"missing.txt") + L"exists='false'", "true"},
      {at(L"missing\\deeper.txt") + L"exists='true'", "false"},
      {at(L"sub") + L"exists='true'", "false"},
      {at(L"full.txt") + L"type='FILE' exists='true'", "true"},
      {at(L"full.txt") + L"type='socket' exists='true'", "false"},
      {at(L"full.txt") + L"type='socket' exists='false'", "true"},
      {L"path='%FULL%' exists='true'", "true"},
  };
  for (const auto& c : cases) EXPECT_EQ(file_outcome(c.attributes), c.expected) << c.attributes;

  const sfx::testing::log_capture log;
  file_outcome(L"path='%FULL%' type='File' exists='false'");
  EXPECT_EQ(log.count("file: The File '[%FULL%]{" + utils::to_narrow(folder_) + "\\full.txt}' exists."), 1);
}

TEST_F(FileConditions, DeviceExists_WhenItOpensForSynchronisation_QueryFailureCountsAsMissing) {
  const struct {
    std::wstring attributes;
    const char* expected;
  } cases[] = {
      {at(L"full.txt") + L"type='device' exists='true'", "true"},
      {at(L"sub") + L"type='Device' exists='true'", "true"},
      {at(L"missing") + L"type='device' exists='false'", "true"},
      {at(L"missing\\deeper") + L"type='device' exists='true'", "false"},
      // An invalid name is neither "not found" nor openable: logged, and taken as missing.
      {at(L"bad<name>") + L"type='device' exists='true'", "false"},
      {at(L"bad<name>") + L"type='device' exists='false'", "true"},
  };
  for (const auto& c : cases) EXPECT_EQ(file_outcome(c.attributes), c.expected) << c.attributes;

  const sfx::testing::log_capture log;
  file_outcome(at(L"bad<name>") + L"type='device' exists='true'");
  EXPECT_EQ(log.count("Exception in 'exists' condition " + utils::to_narrow(folder_) + "\\bad<name> ("), 1);
  EXPECT_EQ(log.count("does not exist."), 1);
}

TEST_F(FileConditions, Empty_ReadsTheSizeOfAnExistingFile) {
  const struct {
    std::wstring attributes;
    const char* expected;
  } cases[] = {
      {at(L"empty.txt") + L"empty='true'", "true"},
      {at(L"full.txt") + L"empty='true'", "false"},
      {at(L"full.txt") + L"empty='false'", "true"},
      {at(L"full.txt") + L"exists='true' empty='false'", "true"},
      {at(L"missing.txt") + L"exists='true' empty='true'", "false"},
      {at(L"empty.txt") + L"type='file' exists='true' empty='true'", "true"},
  };
  for (const auto& c : cases) EXPECT_EQ(file_outcome(c.attributes), c.expected) << c.attributes;
  const sfx::testing::log_capture log;
  file_outcome(at(L"full.txt") + L"empty='false'");
  EXPECT_EQ(log.count("file: The file '" + utils::to_narrow(folder_) + "\\full.txt' is not empty."), 1);
  // Without "exists" nothing guards the size query of a missing file.
  EXPECT_NE(file_outcome(at(L"missing.txt") + L"empty='true'").find("Unable to get size of file"), std::string::npos);
}

TEST_F(FileConditions, MissingOrContradictoryAttributes_AreUndecidable) {
  const struct {
    std::wstring attributes;
    const char* expected;
  } cases[] = {
      {L"exists='true'", "The assertion failed for expression: m_path && !m_path->empty()"},
      {L"path='' exists='true'", "The assertion failed for expression: m_path && !m_path->empty()"},
      {at(L"full.txt"), "The assertion failed for expression: m_exists || m_empty"},
      {at(L"full.txt") + L"exists='yes'", "The assertion failed for expression: m_exists || m_empty"},
      {at(L"full.txt") + L"type='device' empty='false'",
       "The assertion failed for expression: !m_empty || m_type == L\"file\""},
      {at(L"full.txt") + L"type='File' empty='false'",
       "The assertion failed for expression: !m_empty || m_type == L\"file\""},
  };
  for (const auto& c : cases) EXPECT_EQ(file_outcome(c.attributes), c.expected) << c.attributes;
}

}  // namespace
}  // namespace vyn::repository::conditions
