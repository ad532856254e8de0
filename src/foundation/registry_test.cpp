#include "foundation/registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/xchar.h>

#include "foundation/random.h"
#include "foundation/registry_wrapper.h"
#include "foundation/test_support.h"

namespace vyn::registry {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

// Every test works in its own key under HKCU\Software\VynTests, deleted afterwards.
class Registry : public testing::Test {
 protected:
  void SetUp() override {
    path_ = fmt::format(L"Software\\VynTests\\{:016x}", utils::random_u64());
    key_ = create_key(HKEY_CURRENT_USER, path_, KEY_ALL_ACCESS);
  }
  void TearDown() override {
    key_.reset();
    delete_key(HKEY_CURRENT_USER, path_);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\VynTests");  // fails while other tests use it
  }
  void set_raw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(::RegSetValueExW(key_.get(), name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
  }

  std::wstring path_;
  win::unique_hkey key_;
};

TEST_F(Registry, WrittenValues_ReadBackAsTheirTypes) {
  testing_support::scoped_environment variable(L"VYN_REGISTRY_TEST", L"expanded");
  write_string(key_.get(), L"text", L"plain text");
  write_expand_string(key_.get(), L"expand", L"%VYN_REGISTRY_TEST%\\x %VYN_NOT_SET%");
  write_dword(key_.get(), L"number", 0xDEADBEEF);
  const std::vector<std::uint8_t> blob{0, 1, 2, 0xFF, 0};
  write_binary(key_.get(), L"blob", blob);
  write_binary(key_.get(), L"empty", {});
  write_string(key_.get(), L"", L"default value");

  const auto key = open_key(HKEY_CURRENT_USER, path_, KEY_READ);
  EXPECT_EQ(read_string(key.get(), L"text"), L"plain text");
  EXPECT_EQ(read_expand_string(key.get(), L"expand"), L"expanded\\x %VYN_NOT_SET%");
  EXPECT_EQ(read_dword(key.get(), L"number"), 0xDEADBEEFu);
  EXPECT_EQ(read_binary(key.get(), L"blob"), blob);
  EXPECT_TRUE(read_binary(key.get(), L"empty").empty());
  EXPECT_EQ(read_string(key.get(), L""), L"default value");
}

TEST_F(Registry, StringsWithoutTerminatorOrWithOddSize_ReadWhole) {
  const wchar_t unterminated[] = {L'a', L'b', L'c'};
  set_raw(L"unterminated", REG_SZ, unterminated, sizeof(unterminated));
  set_raw(L"odd", REG_SZ, L"xyz", 7);  // three characters and half of the terminator
  set_raw(L"embedded", REG_SZ, L"one\0two", 16);
  EXPECT_EQ(read_string(key_.get(), L"unterminated"), L"abc");
  EXPECT_EQ(read_string(key_.get(), L"odd"), L"xyz");
  EXPECT_EQ(read_string(key_.get(), L"embedded"), L"one");
}

TEST_F(Registry, ValueOfAnotherType_FailsWithBadType) {
  write_string(key_.get(), L"text", L"1");
  write_expand_string(key_.get(), L"expand", L"1");
  write_dword(key_.get(), L"number", 1);
  const std::uint16_t short_dword = 1;
  set_raw(L"short", REG_DWORD, &short_dword, sizeof(short_dword));

  const char* message = "Querying registry value, but queried different type than expected";
  EXPECT_THAT([&] { read_dword(key_.get(), L"text"); }, ThrowsMessage<bad_type_queried>(StrEq(message)));
  EXPECT_THAT([&] { read_string(key_.get(), L"expand"); }, ThrowsMessage<bad_type_queried>(StrEq(message)));
  EXPECT_THAT([&] { read_expand_string(key_.get(), L"text"); }, ThrowsMessage<bad_type_queried>(StrEq(message)));
  EXPECT_THAT([&] { read_binary(key_.get(), L"number"); }, ThrowsMessage<bad_type_queried>(StrEq(message)));
  EXPECT_THAT([&] { read_dword(key_.get(), L"short"); }, ThrowsMessage<bad_type_queried>(StrEq(message)));
  try {
    read_string(key_.get(), L"number");
  } catch (const bad_type_queried& e) {
    EXPECT_EQ(e.code(), static_cast<std::uint32_t>(ERROR_UNSUPPORTED_TYPE));
  }
}

TEST_F(Registry, MissingKeyOrValue_FailsWithKeyNotExists) {
  const char* message = "Cannot open registry key, it does not exists";
  EXPECT_THAT([&] { open_key(HKEY_CURRENT_USER, path_ + L"\\missing", KEY_READ); },
              ThrowsMessage<key_not_exists>(StrEq(message)));
  EXPECT_THAT([&] { read_string(key_.get(), L"missing"); }, ThrowsMessage<key_not_exists>(StrEq(message)));
  EXPECT_FALSE(value_exists(key_.get(), L"missing"));
  try {
    open_key(HKEY_CURRENT_USER, path_ + L"\\missing", KEY_READ);
  } catch (const key_not_exists& e) {
    EXPECT_EQ(e.code(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
  }
}

TEST_F(Registry, KeyDeletedWhileOpen_FailsWithDeletedKey) {
  auto child = create_key(HKEY_CURRENT_USER, path_ + L"\\child", KEY_ALL_ACCESS);
  write_string(child.get(), L"v", L"1");
  delete_key(HKEY_CURRENT_USER, path_ + L"\\child");
  EXPECT_THAT([&] { read_string(child.get(), L"v"); },
              ThrowsMessage<deleted_key>(StrEq(
                  "Attempt to execute operation on opened key which is scheduled for deletion")));
}

TEST(RegistryRaise, SystemCodes_MapToTheirFailureTypes) {
  const auto raised = [](LSTATUS status) -> std::pair<std::string, std::uint32_t> {
    try {
      raise(status, "Cannot query registry value");
    } catch (const registry_error& e) {
      return {e.what(), e.code()};
    }
  };
  EXPECT_THROW(raise(ERROR_FILE_NOT_FOUND, ""), key_not_exists);
  EXPECT_THROW(raise(ERROR_PATH_NOT_FOUND, ""), key_not_exists);
  EXPECT_THROW(raise(ERROR_ACCESS_DENIED, ""), insufficient_permissions);
  EXPECT_THROW(raise(ERROR_KEY_DELETED, ""), deleted_key);
  EXPECT_THROW(raise(ERROR_UNSUPPORTED_TYPE, ""), bad_type_queried);
  EXPECT_EQ(raised(ERROR_ACCESS_DENIED),
            std::make_pair(std::string("Dont have sufficient permissions to execute registry operation"), 5u));
  EXPECT_EQ(raised(ERROR_INVALID_HANDLE), std::make_pair(std::string("Cannot query registry value"), 6u));
}

// A value served by a test: its size is given per size query, its data fills what is asked.
struct changing_value {
  std::vector<DWORD> sizes;  // size reported at each size query; the last one repeats
  std::size_t size_queries = 0;
  std::size_t data_queries = 0;
  DWORD current = 0;

  LSTATUS operator()(DWORD* type, BYTE* data, DWORD* size) {
    *type = REG_SZ;
    if (!data) {
      current = sizes[std::min(size_queries++, sizes.size() - 1)];
      *size = current;
      return ERROR_SUCCESS;
    }
    ++data_queries;
    const DWORD now = sizes[std::min(size_queries, sizes.size() - 1)];  // the value as it is now
    if (*size < now) {
      *size = now;
      return ERROR_MORE_DATA;
    }
    // now / 2 - 1 characters "x" and the terminator
    for (DWORD i = 0; i + 1 < now; i += 2) data[i] = i + 2 < now ? 'x' : 0, data[i + 1] = 0;
    *size = now;
    return ERROR_SUCCESS;
  }
};

TEST(RegistryRead, ValueGrowingOnEveryRead_FailsAfterBoundedRetries) {
  changing_value value;
  for (DWORD i = 1; i <= 50; ++i) value.sizes.push_back(4 * i);
  EXPECT_THAT([&] { read_string(std::ref(value)); },
              ThrowsMessage<registry_error>(
                  StrEq("Cannot query registry data due to value changed too often")));
  EXPECT_EQ(value.size_queries, static_cast<std::size_t>(max_read_attempts));
  EXPECT_EQ(value.data_queries, static_cast<std::size_t>(max_read_attempts));
}

TEST(RegistryRead, ValueChangingSizeOnce_IsReadAgainWhole) {
  changing_value grows{{4, 10}};  // "x" then "xxxx" plus terminators
  EXPECT_EQ(read_string(std::ref(grows)), L"xxxx");
  EXPECT_EQ(grows.size_queries, 2u);

  changing_value shrinks{{10, 4}};
  EXPECT_EQ(read_string(std::ref(shrinks)), L"x");
  EXPECT_EQ(shrinks.size_queries, 2u);
}

TEST(RegistryRead, FailingSizeOrDataQuery_RaisesItsMessage) {
  EXPECT_THAT([] { read_string([](DWORD*, BYTE*, DWORD*) -> LSTATUS { return ERROR_INVALID_HANDLE; }); },
              ThrowsMessage<registry_error>(StrEq("Cannot query registry value size")));
  const auto data_fails = [](DWORD* type, BYTE* data, DWORD* size) -> LSTATUS {
    *type = REG_SZ;
    if (!data) return *size = 4, ERROR_SUCCESS;
    return ERROR_INVALID_HANDLE;
  };
  EXPECT_THAT([&] { read_string(data_fails); },
              ThrowsMessage<registry_error>(StrEq("Cannot query registry value data")));
}

TEST_F(Registry, Wrapper_WritesReadsEnumeratesAndDeletes) {
  const auto registry = make_registry_wrapper();
  const std::wstring sub = path_ + L"\\a\\b";
  registry->write_string(HKEY_CURRENT_USER, sub, L"s", L"text", 0);
  registry->write_expand_string(HKEY_CURRENT_USER, sub, L"e", L"%SystemRoot%", 0);
  registry->write_dword(HKEY_CURRENT_USER, sub, L"d", 7, 0);
  const std::uint8_t blob[] = {9, 8};
  registry->write_binary(HKEY_CURRENT_USER, sub, L"b", blob, 0);

  EXPECT_TRUE(registry->key_exists(HKEY_CURRENT_USER, sub, 0));
  EXPECT_EQ(registry->read_string(HKEY_CURRENT_USER, sub, L"s", 0), L"text");
  EXPECT_NE(registry->read_expand_string(HKEY_CURRENT_USER, sub, L"e", 0).find(L":\\"), std::wstring::npos);
  EXPECT_EQ(registry->read_dword(HKEY_CURRENT_USER, sub, L"d", 0), 7u);
  EXPECT_EQ(registry->read_binary(HKEY_CURRENT_USER, sub, L"b", 0), std::vector<std::uint8_t>(blob, blob + 2));
  EXPECT_THAT(registry->value_names(HKEY_CURRENT_USER, sub, 0),
              testing::UnorderedElementsAre(L"s", L"e", L"d", L"b"));
  EXPECT_THAT(registry->subkey_names(HKEY_CURRENT_USER, path_, 0), testing::ElementsAre(L"a"));

  registry->delete_value(HKEY_CURRENT_USER, sub, L"s", 0);
  EXPECT_FALSE(registry->value_exists(HKEY_CURRENT_USER, sub, L"s", 0));
  EXPECT_TRUE(registry->value_exists(HKEY_CURRENT_USER, sub, L"d", 0));
  registry->delete_key(HKEY_CURRENT_USER, path_ + L"\\a", 0);
  EXPECT_FALSE(registry->key_exists(HKEY_CURRENT_USER, sub, 0));
  EXPECT_FALSE(registry->value_exists(HKEY_CURRENT_USER, sub, L"d", 0));
  EXPECT_THROW(registry->read_dword(HKEY_CURRENT_USER, sub, L"d", 0), key_not_exists);
}

}  // namespace
}  // namespace vyn::registry
