#include "foundation/product_identity.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/paths.h"
#include "foundation/registry.h"
#include "foundation/strings.h"
#include "foundation/test_support.h"
#include "foundation/version_resource.h"

#include <vector>

namespace vyn::root {
namespace {

using testing::_;
using testing::Return;
using testing::Throw;

class mock_registry : public registry::CRegistryWrapper {
 public:
  MOCK_METHOD(bool, key_exists, (HKEY, std::wstring_view, REGSAM), (override));
  MOCK_METHOD(void, create_key, (HKEY, std::wstring_view, REGSAM), (override));
  MOCK_METHOD(void, delete_key, (HKEY, std::wstring_view, REGSAM), (override));
  MOCK_METHOD(bool, value_exists, (HKEY, std::wstring_view, std::wstring_view, REGSAM), (override));
  MOCK_METHOD(void, delete_value, (HKEY, std::wstring_view, std::wstring_view, REGSAM), (override));
  MOCK_METHOD(std::wstring, read_string, (HKEY, std::wstring_view, std::wstring_view, REGSAM), (override));
  MOCK_METHOD(std::wstring, read_expand_string, (HKEY, std::wstring_view, std::wstring_view, REGSAM),
              (override));
  MOCK_METHOD(std::uint32_t, read_dword, (HKEY, std::wstring_view, std::wstring_view, REGSAM), (override));
  MOCK_METHOD(std::vector<std::uint8_t>, read_binary, (HKEY, std::wstring_view, std::wstring_view, REGSAM),
              (override));
  MOCK_METHOD(void, write_string, (HKEY, std::wstring_view, std::wstring_view, std::wstring_view, REGSAM),
              (override));
  MOCK_METHOD(void, write_expand_string,
              (HKEY, std::wstring_view, std::wstring_view, std::wstring_view, REGSAM), (override));
  MOCK_METHOD(void, write_dword, (HKEY, std::wstring_view, std::wstring_view, std::uint32_t, REGSAM),
              (override));
  MOCK_METHOD(void, write_binary,
              (HKEY, std::wstring_view, std::wstring_view, std::span<const std::uint8_t>, REGSAM),
              (override));
  MOCK_METHOD(std::vector<std::wstring>, subkey_names, (HKEY, std::wstring_view, REGSAM), (override));
  MOCK_METHOD(std::vector<std::wstring>, value_names, (HKEY, std::wstring_view, REGSAM), (override));
};

const std::wstring orvek_storage = L"SYSTEM\\Software\\Orvek Software\\PersistentStorage";
const std::wstring orvek_kestro = L"SYSTEM\\Software\\Orvek Software\\Kestro";

TEST(BrandRecord, EnabledValue_DecidesTheFlagForRegistryBrands) {
  const struct {
    std::uint32_t value;
    std::uint8_t expected;
  } cases[] = {{1, 1}, {0, 0}, {0xFFFFFFFF, 1}};
  for (const auto& c : cases) {
    mock_registry registry;
    EXPECT_CALL(registry, read_dword(HKEY_LOCAL_MACHINE, std::wstring_view(orvek_storage),
                                     std::wstring_view(L"KestroEnabled"), 0))
        .WillOnce(Return(c.value));
    const brand_record record = make_brand_record(L"orvek-free-online", L"", registry);
    EXPECT_EQ(record.kind, brand_kind::orvek);
    EXPECT_EQ(record.enabled, c.expected) << c.value;
  }
}

TEST(BrandRecord, MissingOrUnreadableEnabledValue_LeavesTheFlagClear) {
  mock_registry registry;
  EXPECT_CALL(registry, read_dword(_, _, _, _))
      .WillOnce(Throw(registry::key_not_exists(ERROR_FILE_NOT_FOUND)))
      .WillOnce(Throw(registry::bad_type_queried(ERROR_UNSUPPORTED_TYPE)));
  EXPECT_EQ(make_brand_record(L"tarn-x", L"", registry).enabled, 0);
  EXPECT_EQ(make_brand_record(L"tarn-x", L"", registry).enabled, 0);
}

TEST(BrandRecord, PellinAndHalvard_AreEnabledWithoutAskingTheRegistry) {
  mock_registry registry;
  EXPECT_CALL(registry, read_dword(_, _, _, _)).Times(0);
  EXPECT_EQ(make_brand_record(L"pellin-a", L"", registry).enabled, 1);
  EXPECT_EQ(make_brand_record(L"halvard-b", L"m", registry).enabled, 1);
  EXPECT_EQ(persistent_storage_path(classify_product(L"tarn-x", L"")),
            L"SYSTEM\\Software\\TARN\\PersistentStorage");
}

TEST(DataFolder, OverrideWithTrailingBackslash_GivesOneBackslashBeforeLogs) {
  mock_registry registry;
  EXPECT_CALL(registry, read_string(HKEY_LOCAL_MACHINE, std::wstring_view(orvek_kestro),
                                    std::wstring_view(L"OverrideDataFolder"), 0))
      .WillOnce(Return(L"D:\\Data\\"));
  const std::wstring folder =
      data_folder_for(classify_product(L"orvek-x", L""), registry, L"C:\\ProgramData");
  EXPECT_EQ(folder, L"D:\\Data\\");
  EXPECT_EQ(files::join_path(folder, L"Logs"), L"D:\\Data\\Logs");
  EXPECT_EQ(setup_info_path(folder), L"D:\\Data\\kestro-info.xml");
}

TEST(DataFolder, MissingOrEmptyOverride_SelectsCompanyFolderUnderCommonAppData) {
  mock_registry registry;
  EXPECT_CALL(registry, read_string(_, _, _, _))
      .WillOnce(Throw(registry::key_not_exists(ERROR_FILE_NOT_FOUND)))
      .WillOnce(Return(L""))
      .WillOnce(Throw(registry::key_not_exists(ERROR_FILE_NOT_FOUND)));
  const brand_record orvek = classify_product(L"orvek-x", L"");
  EXPECT_EQ(data_folder_for(orvek, registry, L"C:\\ProgramData\\"),
            L"C:\\ProgramData\\Orvek Software\\Kestro");
  EXPECT_EQ(data_folder_for(orvek, registry, L"C:\\ProgramData"),
            L"C:\\ProgramData\\Orvek Software\\Kestro");
  EXPECT_EQ(data_folder_for(classify_product(L"nobrand", L""), registry, L"C:\\ProgramData"),
            L"C:\\ProgramData\\Kestro");
}

// The stub mapped as the loader maps an image, without running it.
class stub_image {
 public:
  stub_image() {
    const std::wstring path = testing_support::windows_path(VYN_TEST_STUB_PATH);
    module_ = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  }
  ~stub_image() {
    if (module_) ::FreeLibrary(module_);
  }
  // The loader marks image-resource handles in their low bits.
  const void* base() const {
    return reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(module_) & ~std::uintptr_t{3});
  }
  explicit operator bool() const { return module_ != nullptr; }

 private:
  HMODULE module_ = nullptr;
};

TEST(StubVersionResource, BuiltStub_CarriesItsIdentityInBothLayouts) {
  const stub_image stub;
  ASSERT_TRUE(stub) << "error " << ::GetLastError();
  EXPECT_EQ(read_module_version_string(stub.base(), L"ProductId", false),
            utils::to_wide(VYN_TEST_PRODUCT_ID));
  EXPECT_EQ(read_module_version_string(stub.base(), L"moduleid", true), utils::to_wide(VYN_TEST_MODULE_ID));
  EXPECT_EQ(read_module_version_string(stub.base(), L"NoSuchKey", true), L"");

  const auto file = files::get_file_content(testing_support::windows_path(VYN_TEST_STUB_PATH));
  EXPECT_EQ(read_version_string(utils::byte_view(file), image_layout::file, L"ProductId", false),
            utils::to_wide(VYN_TEST_PRODUCT_ID));
  EXPECT_EQ(read_version_string(utils::byte_view(file), image_layout::file, L"FileVersion", false),
            utils::to_wide(VYN_TEST_FILE_VERSION));
}

// A stub that trusts the development keys cannot pass for a release: its version resource names
// it a special build; a stub built with another key folder carries no such text.
TEST(StubVersionResource, DevelopmentKeys_AreNamedInTheVersionResource) {
  const stub_image stub;
  ASSERT_TRUE(stub) << "error " << ::GetLastError();
  EXPECT_EQ(read_module_version_string(stub.base(), L"SpecialBuild", true),
            utils::to_wide(VYN_TEST_DEVELOPMENT_KEYS ? VYN_TEST_DEVELOPMENT_BUILD_TEXT : ""));
  DWORD ignored = 0;
  const std::wstring path = testing_support::windows_path(VYN_TEST_STUB_PATH);
  std::vector<std::uint8_t> block(::GetFileVersionInfoSizeW(path.c_str(), &ignored));
  ASSERT_FALSE(block.empty());
  ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ((fixed->dwFileFlags & VS_FF_SPECIALBUILD) != 0, VYN_TEST_DEVELOPMENT_KEYS);
}

TEST(StubVersionResource, ImageWithoutResources_MakesTheBrandFatal) {
  // The test program itself has no version resource.
  EXPECT_THROW(read_module_version_string(::GetModuleHandleW(nullptr), L"ProductId", false),
               exceptions::error);
  EXPECT_THROW(brand(), exceptions::fatal);
}

}  // namespace
}  // namespace vyn::root
