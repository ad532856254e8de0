#include "foundation/version_resource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/exceptions.h"

namespace vyn::root {
namespace {

using bytes = std::vector<std::uint8_t>;

void put16(bytes& b, std::size_t at, std::uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<std::uint8_t>(v), b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(bytes& b, std::size_t at, std::uint32_t v) {
  put16(b, at, v & 0xFFFF), put16(b, at + 2, v >> 16);
}
void pad4(bytes& b) { b.resize((b.size() + 3) & ~std::size_t{3}); }
void append_text(bytes& b, std::u16string_view text) {
  for (char16_t c : text) put16(b, b.size(), c);
  put16(b, b.size(), 0);
}

// One node of a version block: length, value length, type, key, value, children.
bytes node(std::u16string_view key, const bytes& value, std::uint16_t value_length,
           std::uint16_t type, const std::vector<bytes>& children = {}) {
  bytes b(6);
  append_text(b, key);
  pad4(b);
  b.insert(b.end(), value.begin(), value.end());
  for (const auto& child : children) {
    pad4(b);
    b.insert(b.end(), child.begin(), child.end());
  }
  put16(b, 0, static_cast<std::uint32_t>(b.size()));
  put16(b, 2, value_length);
  put16(b, 4, type);
  return b;
}

bytes string_entry(std::u16string_view key, std::u16string_view value) {
  bytes text;
  append_text(text, value);
  return node(key, text, static_cast<std::uint16_t>(value.size() + 1), 1);
}

bytes version_block(const std::vector<bytes>& tables) {
  const bytes fixed(52, 0);  // VS_FIXEDFILEINFO, not read
  bytes translation;
  put32(translation, 0, 0x04B00409);
  return node(u"VS_VERSION_INFO", fixed, 52, 0,
              {node(u"StringFileInfo", {}, 0, 1, tables),
               node(u"VarFileInfo", {}, 0, 1, {node(u"Translation", translation, 4, 0)})});
}

// A PE32 image with one section holding the resources at address 0x1000. In the mapped layout
// the section lies at its address; in the file layout at offset 0x400.
struct image_plan {
  std::vector<std::uint32_t> types{3, 16, 24};  // top-level type ids, in directory order
  bytes block = version_block({});
  std::uint32_t directory_count = 16;
  bool empty_resources = false;
};

bytes build(const image_plan& plan, image_layout layout) {
  constexpr std::uint32_t section_address = 0x1000, raw_offset = 0x400;
  bytes rsrc;
  const auto n = static_cast<std::uint32_t>(plan.types.size());
  put16(rsrc, 14, n);
  std::uint32_t next = 16 + 8 * n;
  for (std::uint32_t i = 0; i < n; ++i) {
    put32(rsrc, 16 + 8 * i, plan.types[i]);
    if (plan.types[i] != 16) {  // an empty subdirectory
      put32(rsrc, 20 + 8 * i, 0x80000000u | next);
      put32(rsrc, next + 12, 0);
      next += 16;
      continue;
    }
    const std::uint32_t names = next, languages = next + 24, data = next + 48, block = next + 64;
    put32(rsrc, 20 + 8 * i, 0x80000000u | names);
    put16(rsrc, names + 14, 1), put32(rsrc, names + 16, 1), put32(rsrc, names + 20, 0x80000000u | languages);
    put16(rsrc, languages + 14, 1), put32(rsrc, languages + 16, 0x409), put32(rsrc, languages + 20, data);
    put32(rsrc, data, section_address + block);
    put32(rsrc, data + 4, static_cast<std::uint32_t>(plan.block.size()));
    rsrc.resize(block);
    rsrc.insert(rsrc.end(), plan.block.begin(), plan.block.end());
    next = static_cast<std::uint32_t>((rsrc.size() + 15) & ~std::size_t{15});
  }
  rsrc.resize(next);

  bytes image(0x400, 0);
  image[0] = 'M', image[1] = 'Z';
  put32(image, 0x3C, 0x40);
  put32(image, 0x40, 0x00004550);
  put16(image, 0x44, 0x014c);
  put16(image, 0x46, 1);      // one section
  put16(image, 0x54, 224);    // optional header size
  const std::size_t optional = 0x58;
  put16(image, optional, 0x10B);
  put32(image, optional + 56, section_address + static_cast<std::uint32_t>(rsrc.size()));
  put32(image, optional + 92, plan.directory_count);
  put32(image, optional + 96 + 16, section_address);
  put32(image, optional + 96 + 20, plan.empty_resources ? 0 : static_cast<std::uint32_t>(rsrc.size()));
  const std::size_t section = optional + 224;
  put32(image, section + 8, static_cast<std::uint32_t>(rsrc.size()));
  put32(image, section + 12, section_address);
  put32(image, section + 16, static_cast<std::uint32_t>(rsrc.size()));
  put32(image, section + 20, raw_offset);
  image.resize(layout == image_layout::mapped ? section_address : raw_offset);
  image.insert(image.end(), rsrc.begin(), rsrc.end());
  return image;
}

std::wstring read(const image_plan& plan, image_layout layout, std::wstring_view key, bool optional) {
  const bytes image = build(plan, layout);
  return read_version_string(utils::byte_view(image), layout, key, optional);
}

class VersionResource : public testing::TestWithParam<image_layout> {};

TEST_P(VersionResource, KeyInLaterStringTable_IsFoundIgnoringCase) {
  image_plan plan;
  plan.block = version_block(
      {node(u"040904b0", {}, 0, 1, {string_entry(u"FileVersion", u"1.2.3.4")}),
       node(u"040704b0", {}, 0, 1,
            {string_entry(u"ModuleId", u""), string_entry(u"ProductId", u"orvek-free-online")})});
  EXPECT_EQ(read(plan, GetParam(), L"ProductId", false), L"orvek-free-online");
  EXPECT_EQ(read(plan, GetParam(), L"PRODUCTID", false), L"orvek-free-online");
  EXPECT_EQ(read(plan, GetParam(), L"fileversion", false), L"1.2.3.4");
  EXPECT_EQ(read(plan, GetParam(), L"ModuleId", false), L"");
}

TEST_P(VersionResource, MissingKey_IsEmptyWhenOptionalAndFailsOtherwise) {
  image_plan plan;
  plan.block = version_block({node(u"040904b0", {}, 0, 1, {string_entry(u"FileVersion", u"1")})});
  EXPECT_EQ(read(plan, GetParam(), L"MainProductId", true), L"");
  EXPECT_THAT([&] { read(plan, GetParam(), L"ProductId", false); },
              testing::ThrowsMessage<exceptions::error>(
                  testing::StrEq("Unable to determine product identifier from resources!")));
}

TEST_P(VersionResource, KeyPrefixOrLongerKey_DoesNotMatch) {
  image_plan plan;
  plan.block = version_block({node(u"040904b0", {}, 0, 1, {string_entry(u"ProductIdX", u"no"),
                                                           string_entry(u"Product", u"no")})});
  EXPECT_EQ(read(plan, GetParam(), L"ProductId", true), L"");
}

TEST_P(VersionResource, VersionTypeAmongOtherTypes_IsSelectedByItsId) {
  image_plan plan;
  plan.types = {16, 0x80000010u, 24};  // the second is a named type whose offset bits read 16
  plan.block = version_block({node(u"040904b0", {}, 0, 1, {string_entry(u"ProductId", u"tarn-a")})});
  EXPECT_EQ(read(plan, GetParam(), L"ProductId", false), L"tarn-a");
  plan.types = {3, 24};
  EXPECT_EQ(read(plan, GetParam(), L"ProductId", true), L"");
}

TEST_P(VersionResource, ImageWithoutResourceDirectory_Fails) {
  image_plan plan;
  plan.directory_count = 2;
  EXPECT_THAT([&] { read(plan, GetParam(), L"ProductId", true); },
              testing::ThrowsMessage<exceptions::error>(
                  testing::StrEq("There is no resource section in module")));
  plan.directory_count = 16;
  plan.empty_resources = true;
  EXPECT_THAT([&] { read(plan, GetParam(), L"ProductId", true); },
              testing::ThrowsMessage<exceptions::error>(testing::StrEq("Resource section is empty")));
}

TEST_P(VersionResource, TruncatedImage_FailsReadingOutsideTheView) {
  image_plan plan;
  plan.block = version_block({node(u"040904b0", {}, 0, 1, {string_entry(u"ProductId", u"x-y")})});
  bytes image = build(plan, GetParam());
  image.resize(image.size() - plan.block.size() - 8);  // the block and part of its data entry
  try {
    read_version_string(utils::byte_view(image), GetParam(), L"ProductId", false);
    FAIL() << "a truncated image was read";
  } catch (const exceptions::error& e) {
    EXPECT_EQ(e.code(), 5u);
  }
}

TEST_P(VersionResource, NodeLengthsPastTheirParent_EndTheSearchWithoutReadingBeyond) {
  image_plan plan;
  bytes block = version_block({node(u"040904b0", {}, 0, 1, {string_entry(u"ProductId", u"x-y")})});
  put16(block, 0, 0xFFFF);  // the root claims more than the block holds
  plan.block = block;
  EXPECT_EQ(read(plan, GetParam(), L"ProductId", true), L"");
  bytes zero_length = version_block({node(u"040904b0", {}, 0, 1, {string_entry(u"A", u"1")})});
  put16(zero_length, 0x5C, 0);  // the StringFileInfo node claims no length
  plan.block = zero_length;
  EXPECT_EQ(read(plan, GetParam(), L"A", true), L"");
}

TEST(VersionResourceImage, NotAPeImage_Fails) {
  const bytes junk(0x400, 0x20);
  EXPECT_THAT([&] { read_version_string(utils::byte_view(junk), image_layout::file, L"ProductId", true); },
              testing::ThrowsMessage<exceptions::error>(
                  testing::StrEq("There is no resource section in module")));
}

INSTANTIATE_TEST_SUITE_P(Layouts, VersionResource,
                         testing::Values(image_layout::mapped, image_layout::file),
                         [](const auto& info) {
                           return info.param == image_layout::mapped ? "Mapped" : "File";
                         });

}  // namespace
}  // namespace vyn::root
