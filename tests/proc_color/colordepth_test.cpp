// Color reduction, black and white conversions, color counting and two-color
// detection.
#include "korvane/pixels/colordepth.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "korvane/foundations/kvutils.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

void Fill(TBitmap& b, int w, int h, TRGB c) {
  b.Allocate(w, h, pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) reinterpret_cast<TRGB*>(b.Scanline(y))[x] = c;
}
TRGB& At(TBitmap& b, int x, int y) { return reinterpret_cast<TRGB*>(b.Scanline(y))[x]; }
bool Bit(const TBitmap& b, int x, int y) { return (b.Scanline(y)[x >> 3] >> (7 - (x & 7))) & 1; }

std::set<unsigned> DistinctColors(TBitmap& b) {
  std::set<unsigned> s;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) s.insert(test::Pixel24(b, x, y));
  return s;
}

TEST(OrderedDither, MidGraySetsBitsWhereTheMatrixIsBelow31) {
  // (128, 128, 128) has gray 126 and 126 div 4 = 31: 31 of every 64 pixels.
  TBitmap b;
  Fill(b, 19, 11, CreateRGB(128, 128, 128));  // odd sizes cross byte and tile edges
  _ConvertToBWOrdered(&b, nullpr);
  ASSERT_EQ(b.PixelFormat(), pf1bit);
  ASSERT_EQ(b.Width(), 19);
  int set = 0;
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 19; ++x) {
      EXPECT_EQ(Bit(b, x, y), kOrderedDither8[x & 7][y & 7] < 31) << x << "," << y;
      if (x < 8 && y < 8) set += Bit(b, x, y);
    }
  EXPECT_EQ(set, 31);
}

TEST(OrderedDither, BlackStaysBlackAndWhiteKeepsOneDotPerTile) {
  // White has gray 252, 252 div 4 = 63, which does not exceed the matrix's 63.
  TBitmap b;
  Fill(b, 8, 8, CreateRGB(255, 255, 255));
  for (int x = 0; x < 8; ++x) At(b, x, 5) = CreateRGB(0, 0, 0);
  _ConvertToBWOrdered(&b, nullpr);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(Bit(b, x, y), y != 5 && kOrderedDither8[x][y] != 63) << x << y;
  _ConvertToBWOrdered(&b, nullpr);  // already 1-bit: unchanged
  EXPECT_EQ(b.PixelFormat(), pf1bit);
}

TEST(ThresholdBW, Gray127IsBlackAnd128White) {
  TBitmap b;
  Fill(b, 10, 1, CreateRGB(0, 0, 0));
  At(b, 0, 0) = CreateRGB(129, 129, 129);  // gray 127
  At(b, 1, 0) = CreateRGB(130, 130, 130);  // gray 128
  At(b, 9, 0) = CreateRGB(255, 255, 255);
  ASSERT_EQ(_RGBToGray(At(b, 0, 0)), 127);
  ASSERT_EQ(_RGBToGray(At(b, 1, 0)), 128);
  _ConvertToBWThreshold(&b, 128, nullpr);
  ASSERT_EQ(b.PixelFormat(), pf1bit);
  EXPECT_FALSE(Bit(b, 0, 0));
  EXPECT_TRUE(Bit(b, 1, 0));
  EXPECT_FALSE(Bit(b, 2, 0));
  EXPECT_TRUE(Bit(b, 9, 0));
}

TEST(ThresholdBW, AutomaticThresholdOfAUniformImageIsItsOwnLevel) {
  // The mean of a flat image is its level, so every pixel reaches it: white.
  // A pivot divided by (w - 1)(h - 1) would lie above the level and give black.
  TBitmap b;
  Fill(b, 6, 5, CreateRGB(90, 90, 90));
  _ConvertToBWThreshold(&b, -1, nullpr);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_TRUE(Bit(b, x, y));
}

TEST(ConvertTo1bit, DarkerColorBecomesColorZero) {
  TBitmap b;
  Fill(b, 11, 3, CreateRGB(255, 255, 255));  // white met first
  At(b, 4, 1) = CreateRGB(0, 0, 0);
  At(b, 10, 2) = CreateRGB(0, 0, 0);
  TRGB c0{}, c1{};
  auto bw = _ConvertTo1bit(&b, c0, c1);
  ASSERT_TRUE(bw);
  EXPECT_EQ(c0, CreateRGB(0, 0, 0));
  EXPECT_EQ(c1, CreateRGB(255, 255, 255));
  ASSERT_EQ(bw->PixelFormat(), pf1bit);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 11; ++x) EXPECT_EQ(Bit(*bw, x, y), !((x == 4 && y == 1) || (x == 10 && y == 2)));
}

TEST(ConvertTo1bit, OneOrThreeColorsGiveNull) {
  TBitmap b;
  Fill(b, 5, 5, CreateRGB(10, 20, 30));
  TRGB c0{}, c1{};
  EXPECT_FALSE(_ConvertTo1bit(&b, c0, c1));
  At(b, 1, 1) = CreateRGB(1, 2, 3);
  EXPECT_TRUE(_ConvertTo1bit(&b, c0, c1));
  At(b, 4, 4) = CreateRGB(1, 2, 4);
  EXPECT_FALSE(_ConvertTo1bit(&b, c0, c1));
}

TEST(NumColors, CountsTheClippedRectangle) {
  TBitmap b;
  test::FillPattern24(b, 40, 30, 7);
  EXPECT_EQ(_GetImageNumColors(&b, 0, 0, 1000, 1000), int(DistinctColors(b).size()));
  Fill(b, 40, 30, CreateRGB(1, 1, 1));
  At(b, 5, 5) = CreateRGB(2, 2, 2);
  At(b, 39, 29) = CreateRGB(3, 3, 3);
  EXPECT_EQ(_GetImageNumColors(&b, 0, 0, 4, 4), 1);
  EXPECT_EQ(_GetImageNumColors(&b, 5, 5, 100, 100), 3);
  EXPECT_EQ(_GetImageNumColors(&b, 6, 6, 5, 5), 0);
}

// Reduction to n colors leaves at most n and only palette colors.
class ConvertToN : public testing::TestWithParam<int> {};
TEST_P(ConvertToN, LeavesAtMostNPaletteColors) {
  const int n = GetParam();
  TBitmap b;
  test::FillPattern24(b, 64, 48, unsigned(n));
  std::vector<TRGB> pal(size_t(n), TRGB{0, 0, 0});
  int last = -1;
  _ConvertTo(
      &b, n, pal.data(), [&](TObject*, int per) { EXPECT_GT(per, last), last = per; }, nullptr);
  EXPECT_EQ(b.PixelFormat(), pf24bit);
  std::set<unsigned> inPalette;
  for (const TRGB& c : pal) inPalette.insert(unsigned(c.r) << 16 | unsigned(c.g) << 8 | c.b);
  const std::set<unsigned> got = DistinctColors(b);
  EXPECT_LE(int(got.size()), n);
  for (unsigned c : got) EXPECT_TRUE(inPalette.count(c)) << std::hex << c;
  EXPECT_LE(last, 100);
}
INSTANTIATE_TEST_SUITE_P(Counts, ConvertToN, testing::Values(3, 16, 256, 300));

TEST(WinPalette, OneOpaqueEntryPerColor) {
  const TRGB pal[2] = {CreateRGB(1, 2, 3), CreateRGB(250, 128, 0)};
  const QList<QRgb> t = _CreateWinPalette(pal, 2);
  ASSERT_EQ(t.size(), 2);
  EXPECT_EQ(t[1], qRgb(250, 128, 0));
  EXPECT_TRUE(_CreateWinPalette(pal, 0).isEmpty());
}

}  // namespace
