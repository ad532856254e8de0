#include "app/value_holder.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace vyn::sfx {
namespace {

TEST(ValueHolder, SecondWrite_KeepsTheFirstValue) {
  value_holder values;
  values.set_int(L"lang-id", 1031);
  values.set_int(L"lang-id", 1040);
  values.set(L"lang-id", L"7");
  EXPECT_EQ(values.get_int(L"lang-id", 0), 1031);

  values.set(L"tmp-path", std::wstring(L"C:\\a"));
  values.set(L"tmp-path", L"C:\\b");
  EXPECT_EQ(values.get(L"tmp-path", L""), L"C:\\a");
}

TEST(ValueHolder, AbsentKey_ReadsTheDefault) {
  value_holder values;
  EXPECT_FALSE(values.get_bool(L"clear", false));
  EXPECT_TRUE(values.get_bool(L"clear", true));
  EXPECT_EQ(values.get_int(L"lang-id", 0x409), 0x409);
  EXPECT_EQ(values.get(L"tmp-path", L"none"), L"none");
}

TEST(ValueHolder, Booleans_AreTrueOnlyForTheTextOne) {
  value_holder values;
  values.set_bool(L"clear", false);
  values.set_bool(L"silent", true);
  values.set(L"padded", L"1 ");
  values.set(L"two", L"2");
  EXPECT_FALSE(values.get_bool(L"clear", true));
  EXPECT_EQ(values.get(L"clear", L""), L"0");
  EXPECT_TRUE(values.get_bool(L"silent", false));
  EXPECT_FALSE(values.get_bool(L"padded", true));
  EXPECT_EQ(values.get_int(L"padded", 0), 1);
  EXPECT_FALSE(values.get_bool(L"two", true));
}

TEST(ValueHolder, KeysDifferingInCase_AreDistinct) {
  value_holder values;
  values.set(L"Key", L"upper");
  values.set(L"key", L"lower");
  EXPECT_EQ(values.get(L"Key", L""), L"upper");
  EXPECT_EQ(values.get(L"key", L""), L"lower");
  EXPECT_EQ(values.get(L"KEY", L"absent"), L"absent");
}

TEST(ValueHolder, Integers_ReadLikeTheStandardConversion) {
  value_holder values;
  values.set_int(L"negative", -2147483647 - 1);
  values.set(L"spaced", L" \t+42abc");
  values.set(L"max", L"2147483647");
  EXPECT_EQ(values.get(L"negative", L""), L"-2147483648");
  EXPECT_EQ(values.get_int(L"negative", 0), -2147483647 - 1);
  EXPECT_EQ(values.get_int(L"spaced", 0), 42);
  EXPECT_EQ(values.get_int(L"max", 0), 2147483647);
}

TEST(ValueHolder, MalformedInteger_RaisesTheStandardExceptions) {
  value_holder values;
  values.set(L"letters", L"abc");
  values.set(L"empty", L"");
  values.set(L"sign", L"-");
  values.set(L"eleven", L"12345678901");
  values.set(L"above", L"2147483648");
  values.set(L"below", L"-2147483649");
  for (const wchar_t* key : {L"letters", L"empty", L"sign"}) {
    try {
      values.get_int(key, 0);
      ADD_FAILURE() << "no exception for " << key;
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "invalid stoi argument");
    }
  }
  for (const wchar_t* key : {L"eleven", L"above", L"below"}) {
    try {
      values.get_int(key, 0);
      ADD_FAILURE() << "no exception for " << key;
    } catch (const std::out_of_range& e) {
      EXPECT_STREQ(e.what(), "stoi argument out of range");
    }
  }
}

}  // namespace
}  // namespace vyn::sfx
