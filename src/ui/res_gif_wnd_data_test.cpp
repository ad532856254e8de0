#include "ui/res_gif_wnd_data.h"

#include <objidl.h>

#include <gdiplus.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vyn::features::splash {
namespace {

HINSTANCE own_module() { return ::GetModuleHandleW(nullptr); }

// The artwork built into this test program is the stub's own (see cmake/stub_resources.cmake).
TEST(ResGifWndData, StubArtwork_IsTheSplashOf420By150With60FramesOf30ms) {
  const res_gif_wnd_data data(own_module(), 200, L"GIF", 128, L"Demo Self-Extractor", L"Demo");
  const std::vector<std::uint8_t> bytes = data.gif_bytes();
  ASSERT_GT(bytes.size(), 6u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF89a");

  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
  {
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(::GlobalLock(memory), bytes.data(), bytes.size());
    ::GlobalUnlock(memory);
    IStream* stream = nullptr;
    ASSERT_EQ(::CreateStreamOnHGlobal(memory, TRUE, &stream), S_OK);
    Gdiplus::Image image(stream);
    EXPECT_EQ(image.GetWidth(), 420u);
    EXPECT_EQ(image.GetHeight(), 150u);
    GUID time = Gdiplus::FrameDimensionTime;
    EXPECT_EQ(image.GetFrameCount(&time), 60u);
    const UINT size = image.GetPropertyItemSize(PropertyTagFrameDelay);
    std::vector<std::uint8_t> buffer(size);
    auto* delays = reinterpret_cast<Gdiplus::PropertyItem*>(buffer.data());
    ASSERT_EQ(image.GetPropertyItem(PropertyTagFrameDelay, size, delays), Gdiplus::Ok);
    ASSERT_EQ(delays->length, 60 * sizeof(UINT));
    for (int i = 0; i < 60; ++i) EXPECT_EQ(static_cast<const UINT*>(delays->value)[i], 3u) << i;
    stream->Release();
  }
  Gdiplus::GdiplusShutdown(token);
}

TEST(ResGifWndData, Fields_AreWhatTheSplashWasCreatedWith) {
  res_gif_wnd_data data(own_module(), 200, L"GIF", 128, L"Demo Self-Extractor", L"Demo");
  EXPECT_EQ(data.window_title(), L"Demo Self-Extractor");
  EXPECT_EQ(data.product_title(), L"Demo");
  EXPECT_EQ(data.text_top(), 100);
  EXPECT_EQ(data.text_colour(), 0x00FEFEFEu);
  data.set_text_colour(0x00123456);
  EXPECT_EQ(data.text_colour(), 0x00123456u);
  EXPECT_NE(data.icon(), nullptr);
}

TEST(ResGifWndData, MissingResources_GiveNoPictureAndNoIcon) {
  const res_gif_wnd_data wrong_id(own_module(), 201, L"GIF", 129, L"", L"");
  EXPECT_TRUE(wrong_id.gif_bytes().empty());
  EXPECT_EQ(wrong_id.icon(), nullptr);
  const res_gif_wnd_data wrong_type(own_module(), 200, L"PNG", 128, L"", L"");
  EXPECT_TRUE(wrong_type.gif_bytes().empty());
  const res_gif_wnd_data integer_type(own_module(), 200, MAKEINTRESOURCEW(10), 128, L"", L"");  // RT_RCDATA
  EXPECT_TRUE(integer_type.gif_bytes().empty());
}

}  // namespace
}  // namespace vyn::features::splash
