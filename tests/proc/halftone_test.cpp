// The host's halftone stretch: exact block means on integer ratios, area
// weights otherwise, and clipping of both rectangles.
#include "korvane/foundations/host/halftone.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "tests/test_support.h"

using namespace korvane;

namespace {

class HalftoneIntegerRatios : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(HalftoneIntegerRatios, EveryPixelIsTheRoundedBlockMean) {
  const auto [rx, ry] = GetParam();
  const int dw = 7, dh = 5;
  TBitmap src, dst(dw, dh, pf24bit);
  test::FillPattern24(src, dw * rx, dh * ry, unsigned(rx * 10 + ry));
  HalftoneStretch(&dst, &src);
  const int n = rx * ry;
  for (int y = 0; y < dh; ++y)
    for (int x = 0; x < dw; ++x)
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int j = 0; j < ry; ++j)
          for (int i = 0; i < rx; ++i) sum += src.Scanline(y * ry + j)[(x * rx + i) * 3 + c];
        ASSERT_EQ(dst.Scanline(y)[x * 3 + c], (sum + n / 2) / n) << x << "," << y << " channel " << c;
      }
}

INSTANTIATE_TEST_SUITE_P(Ratios, HalftoneIntegerRatios,
                         ::testing::Values(std::make_tuple(2, 2), std::make_tuple(3, 3),
                                           std::make_tuple(4, 1), std::make_tuple(1, 5),
                                           std::make_tuple(6, 2), std::make_tuple(1, 1)));

TEST(Halftone, EnlargingByAnIntegerRepeatsPixels) {
  TBitmap src, dst(12, 6, pf24bit);
  test::FillPattern24(src, 4, 3, 1);
  HalftoneStretch(&dst, &src);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 12; ++x) ASSERT_EQ(test::Pixel24(dst, x, y), test::Pixel24(src, x / 3, y / 2));
}

TEST(Halftone, FractionalRatiosWeighByCoveredArea) {
  // 3 source pixels into 2: the first destination pixel is 1 * p0 + 0.5 * p1
  // over 1.5 pixels.
  TBitmap src(3, 1, pf24bit), dst(2, 1, pf24bit);
  const uint8_t v[3] = {30, 90, 201};
  for (int x = 0; x < 3; ++x) std::memset(src.Scanline(0) + 3 * x, v[x], 3);
  HalftoneStretch(&dst, &src);
  EXPECT_EQ(dst.Scanline(0)[0], uint8_t(std::lround((30 + 0.5 * 90) / 1.5)));
  EXPECT_EQ(dst.Scanline(0)[3], uint8_t(std::lround((0.5 * 90 + 201) / 1.5)));
  // Any ratio: within the covered values, and a flat area stays flat.
  TBitmap flat(17, 13, pf24bit), out(5, 4, pf24bit);
  for (int y = 0; y < 13; ++y) std::memset(flat.Scanline(y), 123, 17 * 3);
  HalftoneStretch(&out, &flat);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 15; ++x) ASSERT_EQ(out.Scanline(y)[x], 123);
}

TEST(Halftone, RectanglesAreClipped) {
  TBitmap src, dst, before;
  test::FillPattern24(src, 16, 16, 3);
  test::FillPattern24(dst, 10, 10, 4);
  before.Assign(&dst);
  // Destination rectangle hanging over the bottom-right corner: only the
  // covered part changes, and it matches the same stretch into a bitmap big
  // enough to hold it.
  HalftoneStretch(&dst, Rect(6, 7, 14, 15), &src, Rect(0, 0, 16, 16));
  TBitmap whole(8, 8, pf24bit);
  HalftoneStretch(&whole, &src);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x)
      ASSERT_EQ(test::Pixel24(dst, x, y),
                x >= 6 && y >= 7 ? test::Pixel24(whole, x - 6, y - 7) : test::Pixel24(before, x, y));
  // Sources beyond the bitmap repeat its edge pixels.
  TBitmap edge(2, 1, pf24bit);
  HalftoneStretch(&edge, Rect(0, 0, 2, 1), &src, Rect(-2, 0, 0, 1));
  EXPECT_EQ(test::Pixel24(edge, 0, 0), test::Pixel24(src, 0, 0));
  EXPECT_EQ(test::Pixel24(edge, 1, 0), test::Pixel24(src, 0, 0));
  // Empty, inverted or far-away rectangles do nothing.
  TBitmap keep;
  keep.Assign(&dst);
  HalftoneStretch(&dst, Rect(5, 5, 5, 9), &src, Rect(0, 0, 8, 8));
  HalftoneStretch(&dst, Rect(0, 0, 4, 4), &src, Rect(6, 0, 2, 8));
  HalftoneStretch(&dst, Rect(-50, -50, -10, -10), &src, Rect(0, 0, 8, 8));
  HalftoneStretch(&dst, Rect(0, 0, 4, 4), &src, Rect(-2000000000, 0, 2000000000, 8));
  EXPECT_TRUE(test::SamePixels(keep, dst));
}

TEST(Halftone, OneBitDestinationTakesTheNearerColor) {
  TBitmap src(4, 2, pf24bit), dst(2, 1, pf1bit);
  // Left block averages to 191 (white), right block to 64 (black).
  const uint8_t v[4] = {255, 127, 0, 255};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) std::memset(src.Scanline(y) + 3 * x, y == 0 ? v[x] : (x < 2 ? 191 : 0), 3);
  HalftoneStretch(&dst, &src);
  EXPECT_EQ(dst.GetPixel(0, 0), clWhite);
  EXPECT_EQ(dst.GetPixel(1, 0), clBlack);
  // A 1-bit source reads as black and white.
  TBitmap mono(4, 1, pf1bit), gray(2, 1, pf24bit);
  mono.Scanline(0)[0] = 0xE0;  // white, white, white, black
  HalftoneStretch(&gray, &mono);
  EXPECT_EQ(test::Pixel24(gray, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(test::Pixel24(gray, 1, 0), 0x808080u);
}

}  // namespace
