// Bitmap copies, bit copies, polygon copies and the 1-to-24-bit widening.
#include "korvane/pixels/bitmap_procs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

#include "tests/test_support.h"

using namespace korvane;

namespace {

// A 1-bit bitmap with a pseudo-random pattern.
void FillBits(TBitmap& b, int w, int h, unsigned seed) {
  b.Allocate(w, h, pf1bit);
  unsigned s = seed * 2654435761u + 1;
  for (int y = 0; y < h; ++y)
    for (int i = 0; i < (w + 7) / 8; ++i) {
      s = s * 1103515245u + 12345u;
      b.Scanline(y)[i] = uint8_t(s >> 16);
    }
}

bool Bit(const uint8_t* row, long long i) { return (row[i >> 3] >> (7 - (i & 7))) & 1; }

// Pixels of any bitmap as colors, for comparisons across formats.
std::vector<TColor> Colors(const TBitmap& b) {
  std::vector<TColor> c;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) c.push_back(b.GetPixel(x, y));
  return c;
}

// ---------------------------------------------------------------------------
// _CopyBits

class CopyBitsRanges : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(CopyBitsRanges, CopiesExactlyTheRangeAndReadsOnlyItsBytes) {
  const auto [dstBit, count, srcBit] = GetParam();
  // The source ends with the last byte of its range, so a read beyond it is
  // a heap overflow the sanitizer reports.
  const int srcBytes = std::max(1, (srcBit + count + 7) / 8);
  std::unique_ptr<uint8_t[]> src(new uint8_t[size_t(srcBytes)]);
  for (int i = 0; i < srcBytes; ++i) src[size_t(i)] = uint8_t(0x3C + i * 97);
  std::vector<uint8_t> dst(16, 0x5A), before = dst;
  _CopyBits(dst.data(), src.get(), dstBit, count, srcBit);
  for (int i = 0; i < 128; ++i) {
    const bool expect =
        (i >= dstBit && i < dstBit + count) ? Bit(src.get(), srcBit + (i - dstBit)) : Bit(before.data(), i);
    ASSERT_EQ(Bit(dst.data(), i), expect) << "bit " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Offsets, CopyBitsRanges,
                         ::testing::Combine(::testing::Values(0, 3, 8, 13),
                                            ::testing::Values(0, 1, 5, 8, 9, 31, 60),
                                            ::testing::Values(0, 1, 7, 8, 19)));

TEST(CopyBits, NegativeCountsAndOffsetsCopyNothing) {
  uint8_t src[4] = {0xFF, 0xFF, 0xFF, 0xFF}, dst[4] = {0, 0, 0, 0};
  _CopyBits(dst, src, 0, -5, 0);
  _CopyBits(dst, src, -1, 8, 0);
  _CopyBits(dst, src, 0, 8, -3);
  EXPECT_EQ(dst[0] | dst[1] | dst[2] | dst[3], 0);
}

// ---------------------------------------------------------------------------
// _CopyBitmap

TEST(CopyBitmap, EmptySourceGivesOneByOneInItsFormat) {
  for (TPixelFormat pf : {pf24bit, pf1bit, pf8bit}) {
    TBitmap src(0, 0, pf), dst;
    test::FillPattern24(dst, 6, 5, 1);
    _CopyBitmap(&src, &dst);
    EXPECT_EQ(dst.Width(), 1);
    EXPECT_EQ(dst.Height(), 1);
    EXPECT_EQ(dst.PixelFormat(), pf);
  }
}

TEST(CopyBitmap, CopiesPixelsFormatAndPalette) {
  TBitmap src(7, 5, pf8bit);
  std::vector<TRGB> pal(256);
  for (int i = 0; i < 256; ++i) pal[size_t(i)] = TRGB{uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)};
  src.SetPalette(pal);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) src.Scanline(y)[x] = uint8_t(x * 31 + y);
  TBitmap dst(3, 3, pf24bit);
  _CopyBitmap(&src, &dst);
  EXPECT_TRUE(test::SamePixels(src, dst));
  EXPECT_EQ(dst.Palette(), pal);
  TBitmap mono;
  FillBits(mono, 13, 4, 2);
  _CopyBitmap(&mono, &dst);
  EXPECT_TRUE(test::SamePixels(mono, dst));
}

// ---------------------------------------------------------------------------
// _CopyBitmapRect

struct RectCase {
  int x1, y1, x2, y2;    // as passed
  int ex1, ey1, ew, eh;  // expected rectangle of the source
};

class CopyBitmapRectCases : public ::testing::TestWithParam<std::tuple<TPixelFormat, RectCase>> {};

TEST_P(CopyBitmapRectCases, TakesTheInclusiveRectangle) {
  const auto [pf, c] = GetParam();
  TBitmap src;
  if (pf == pf1bit)
    FillBits(src, 21, 9, 5);
  else
    test::FillPattern24(src, 21, 9, 5);
  TBitmap dst;
  test::FillPattern24(dst, 3, 3, 9);
  _CopyBitmapRect(&src, &dst, c.x1, c.y1, c.x2, c.y2);
  ASSERT_EQ(dst.PixelFormat(), pf);
  ASSERT_EQ(dst.Width(), c.ew);
  ASSERT_EQ(dst.Height(), c.eh);
  for (int y = 0; y < c.eh; ++y)
    for (int x = 0; x < c.ew; ++x)
      ASSERT_EQ(dst.GetPixel(x, y), src.GetPixel(c.ex1 + x, c.ey1 + y)) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    Rects, CopyBitmapRectCases,
    ::testing::Combine(::testing::Values(pf24bit, pf1bit),
                       ::testing::Values(RectCase{0, 0, 0, 0, 0, 0, 21,
                                                  9},  // zeros: to the last column and row
                                         RectCase{3, 2, 0, 0, 3, 2, 18, 7},    // odd bit offset, to the end
                                         RectCase{5, 1, 17, 6, 5, 1, 13, 6},   // inside
                                         RectCase{9, 0, 500, 8, 9, 0, 12, 9},  // x2 past the width
                                         RectCase{-4, -2, 6, 3, 0, 0, 7, 4},   // starts before the bitmap
                                         RectCase{7, 3, 7, 3, 7, 3, 1, 1},     // one pixel
                                         RectCase{30, 0, 40, 5, 0, 0, 0, 0},   // entirely to the right
                                         RectCase{8, 4, 2, 6, 0, 0, 0, 0})));  // x2 before x1

TEST(CopyBitmapRect, SourceMayBeTheDestination) {
  TBitmap a, whole;
  test::FillPattern24(a, 10, 6, 4);
  whole.Assign(&a);
  _CopyBitmapRect(&a, &a, 2, 1, 5, 3);
  ASSERT_EQ(a.Width(), 4);
  ASSERT_EQ(a.Height(), 3);
  EXPECT_EQ(test::Pixel24(a, 0, 0), test::Pixel24(whole, 2, 1));
  EXPECT_EQ(test::Pixel24(a, 3, 2), test::Pixel24(whole, 5, 3));
}

// ---------------------------------------------------------------------------
// _Conv1to24

class Conv1to24Widths : public ::testing::TestWithParam<int> {};

TEST_P(Conv1to24Widths, EveryBitBecomesWhiteOrBlack) {
  const int w = GetParam();
  TBitmap src;
  FillBits(src, w, 5, unsigned(w));
  TBitmap dst(2, 2, pf8bit);
  TProgressRec quiet;
  _Conv1to24(&src, &dst, quiet);
  ASSERT_EQ(dst.PixelFormat(), pf24bit);
  ASSERT_EQ(dst.Width(), w);
  ASSERT_EQ(dst.Height(), 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < w; ++x)
      ASSERT_EQ(test::Pixel24(dst, x, y), Bit(src.Scanline(y), x) ? 0xFFFFFFu : 0u) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Widths, Conv1to24Widths, ::testing::Values(1, 7, 8, 9, 16, 17, 33));

TEST(Conv1to24, NinthPixelComesFromTheSecondByte) {
  TBitmap src(9, 1, pf1bit);
  src.Scanline(0)[0] = 0x00;
  src.Scanline(0)[1] = 0x80;  // only the first bit of the second byte
  TBitmap dst;
  TProgressRec quiet;
  _Conv1to24(&src, &dst, quiet);
  ASSERT_EQ(dst.Width(), 9);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(test::Pixel24(dst, x, 0), 0u);
  EXPECT_EQ(test::Pixel24(dst, 8, 0), 0xFFFFFFu);
}

TEST(Conv1to24, ReportsProgressAfterEachRow) {
  TBitmap src, dst;
  FillBits(src, 12, 4, 1);
  std::vector<int> seen;
  TObject sender;
  TProgressRec p;
  p.Sender = &sender;
  p.OnProgress = [&](TObject* s, int per) {
    EXPECT_EQ(s, &sender);
    seen.push_back(per);
  };
  _Conv1to24(&src, &dst, p);
  EXPECT_EQ(seen, (std::vector<int>{0, 22, 44, 66}));  // trunc(r * 100 / 4.5)
}

TEST(Conv1to24, OtherFormatsAndSelfAreConverted) {
  TBitmap rgb, dst;
  test::FillPattern24(rgb, 5, 3, 7);
  TProgressRec quiet;
  _Conv1to24(&rgb, &dst, quiet);
  EXPECT_TRUE(test::SamePixels(rgb, dst));
  TBitmap mono, expect;
  FillBits(mono, 11, 3, 8);
  _Conv1to24(&mono, &expect, quiet);
  _Conv1to24(&mono, &mono, quiet);
  EXPECT_TRUE(test::SamePixels(mono, expect));
  TBitmap empty(0, 0, pf1bit);
  _Conv1to24(&empty, &dst, quiet);
  EXPECT_TRUE(dst.Empty());
  EXPECT_EQ(dst.PixelFormat(), pf24bit);
}

// ---------------------------------------------------------------------------
// Polygon copies

// Rectangle (2,1)-(6,5): the mask covers x 2..5, y 1..4 (right and bottom
// edges excluded).
const TPoint kSquare[] = {{2, 1}, {6, 1}, {6, 5}, {2, 5}};
// A five-pointed star drawn in one stroke: under the even-odd rule its
// centre pentagon is outside.
const TPoint kStar[] = {{20, 2}, {31, 36}, {2, 14}, {38, 14}, {9, 36}};

bool InSquare(int x, int y) { return x >= 2 && x < 6 && y >= 1 && y < 5; }

void Fill(TBitmap& b, TPixelFormat pf, int w, int h, unsigned seed) {
  if (pf == pf1bit)
    FillBits(b, w, h, seed);
  else
    test::FillPattern24(b, w, h, seed);
}

class PolygonCopies : public ::testing::TestWithParam<TPixelFormat> {};

TEST_P(PolygonCopies, CopyPolygonBitmapTouchesOnlyTheInside) {
  const TPixelFormat pf = GetParam();
  TBitmap dst, src, before;
  Fill(dst, pf, 10, 8, 1);
  Fill(src, pf, 5, 6, 2);
  before.Assign(&dst);
  _CopyPolygonBitmap(&dst, &src, 1, 0, kSquare, 4);  // source placed at (1, 0)
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 10; ++x) {
      const bool inside = InSquare(x, y) && x - 1 < 5 && y < 6;
      ASSERT_EQ(dst.GetPixel(x, y), inside ? src.GetPixel(x - 1, y) : before.GetPixel(x, y)) << x << "," << y;
    }
}

TEST_P(PolygonCopies, EvenOddRuleLeavesTheStarsCentre) {
  const TPixelFormat pf = GetParam();
  TBitmap dst, src(40, 40, pf), before;
  Fill(dst, pf, 40, 40, 3);
  src.Canvas()->Brush()->SetColor(clBlack);
  src.Canvas()->FillRect(Rect(0, 0, 40, 40));
  before.Assign(&dst);
  _CopyPolygonBitmap(&dst, &src, 0, 0, kStar, 5);
  EXPECT_EQ(dst.GetPixel(20, 20), before.GetPixel(20, 20));  // centre: crossed twice
  EXPECT_EQ(dst.GetPixel(20, 8), clBlack);                   // top point
  EXPECT_EQ(dst.GetPixel(5, 15), clBlack);                   // left point
  EXPECT_EQ(dst.GetPixel(1, 1), before.GetPixel(1, 1));      // outside
}

TEST_P(PolygonCopies, CopyBitmapPolyCropsThroughThePolygon) {
  const TPixelFormat pf = GetParam();
  TBitmap src, dst;
  Fill(src, pf, 12, 10, 4);
  // Source rectangle x 1..8, y 0..6; the square seen from there.
  _CopyBitmapPoly(&src, &dst, 1, 0, 9, 7, kSquare, 4);
  ASSERT_EQ(dst.PixelFormat(), pf);
  ASSERT_EQ(dst.Width(), 8);
  ASSERT_EQ(dst.Height(), 7);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 8; ++x)
      ASSERT_EQ(dst.GetPixel(x, y), InSquare(x + 1, y) ? src.GetPixel(x + 1, y) : clWhite) << x << "," << y;
  // No points: the whole rectangle; parts beyond the source keep the fill.
  _CopyBitmapPoly(&src, &dst, 8, 6, 14, 11, nullptr, 0);
  ASSERT_EQ(dst.Width(), 6);
  ASSERT_EQ(dst.Height(), 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x)
      ASSERT_EQ(dst.GetPixel(x, y), x + 8 < 12 && y + 6 < 10 ? src.GetPixel(x + 8, y + 6) : clWhite)
          << x << "," << y;
}

TEST_P(PolygonCopies, ClearSelFillsTheInside) {
  const TPixelFormat pf = GetParam();
  TBitmap b, before;
  Fill(b, pf, 9, 7, 5);
  before.Assign(&b);
  _ClearSel(&b, kSquare, 4, clWhite);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) ASSERT_EQ(b.GetPixel(x, y), InSquare(x, y) ? clWhite : before.GetPixel(x, y));
  _ClearSel(&b, kSquare, 2, clBlack);
  _ClearSel(&b, kSquare, 0, clBlack);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) ASSERT_EQ(b.GetPixel(x, y), InSquare(x, y) ? clWhite : before.GetPixel(x, y));
}

TEST_P(PolygonCopies, PolygonToPointCopiesTheBoxAndGrowsTheDestination) {
  const TPixelFormat pf = GetParam();
  TBitmap src, dst, before;
  Fill(src, pf, 10, 8, 6);
  Fill(dst, pf, 4, 4, 7);
  before.Assign(&dst);
  _CopyPolygonToPoint(&src, kSquare, 4, &dst, Point(3, 2));
  // The box (2,1)-(6,5) lands at (3,2): destination x = source x + 1.
  ASSERT_EQ(dst.Width(), 3 + 5);
  ASSERT_EQ(dst.Height(), 2 + 5);
  for (int y = 0; y < dst.Height(); ++y)
    for (int x = 0; x < dst.Width(); ++x) {
      if (InSquare(x - 1, y - 1)) {
        ASSERT_EQ(dst.GetPixel(x, y), src.GetPixel(x - 1, y - 1)) << x << "," << y;
      } else if (x < 4 && y < 4) {
        ASSERT_EQ(dst.GetPixel(x, y), before.GetPixel(x, y)) << x << "," << y;
      }
    }
}

TEST_P(PolygonCopies, PointToPolygonCopiesIntoThePolygon) {
  const TPixelFormat pf = GetParam();
  TBitmap src, dst, before;
  Fill(src, pf, 10, 8, 8);
  Fill(dst, pf, 9, 7, 9);
  before.Assign(&dst);
  // Source rectangle at (5, 3) of the square's box size goes into the square.
  _CopyPointToPolygon(&src, kSquare, 4, &dst, Point(5, 3));
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x)
      ASSERT_EQ(dst.GetPixel(x, y),
                InSquare(x, y) ? src.GetPixel(x - 2 + 5, y - 1 + 3) : before.GetPixel(x, y))
          << x << "," << y;
}

TEST_P(PolygonCopies, FewerThanThreePointsChangeNothing) {
  const TPixelFormat pf = GetParam();
  TBitmap src, dst, before;
  Fill(src, pf, 10, 8, 10);
  Fill(dst, pf, 4, 4, 11);
  before.Assign(&dst);
  for (int n : {2, 1, 0, -3}) {
    _CopyPolygonToPoint(&src, kSquare, n, &dst, Point(3, 3));
    _CopyPointToPolygon(&src, kSquare, n, &dst, Point(0, 0));
    EXPECT_TRUE(test::SamePixels(before, dst)) << n << " points";
  }
}

TEST_P(PolygonCopies, PolygonsOutsideTheBitmapAreHarmless) {
  const TPixelFormat pf = GetParam();
  TBitmap src, dst, before;
  Fill(src, pf, 10, 8, 12);
  Fill(dst, pf, 10, 8, 13);
  before.Assign(&dst);
  const TPoint away[] = {{-50, -50}, {-20, -50}, {-20, -10}};
  const TPoint huge[] = {{-2000000000, -2000000000}, {2000000000, -2000000000}, {0, -1999999999}};
  const auto start = std::chrono::steady_clock::now();
  for (const TPoint* poly : {away, huge}) {
    _CopyPolygonBitmap(&dst, &src, 0, 0, poly, 3);
    _CopyPolygonBitmap(&dst, &src, -30000, 40000, kSquare, 4);
    _ClearSel(&dst, poly, 3, clBlack);
    _CopyPointToPolygon(&src, poly, 3, &dst, Point(0, 0));
    _CopyPointToPolygon(&src, kSquare, 4, &dst, Point(-100, 2000000000));
    EXPECT_TRUE(test::SamePixels(before, dst));
    TBitmap grow;
    _CopyPolygonToPoint(&src, poly, 3, &grow, Point(0, 0));
    EXPECT_TRUE(grow.Empty());
  }
  // A polygon that covers the bitmap from far away still masks it, quickly.
  const TPoint cover[] = {{-2000000000, -2000000000}, {2000000000, -2000000000}, {0, 2000000000}};
  _ClearSel(&dst, cover, 3, clBlack);
  EXPECT_EQ(dst.GetPixel(5, 4), clBlack);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

INSTANTIATE_TEST_SUITE_P(Formats, PolygonCopies, ::testing::Values(pf24bit, pf1bit),
                         [](const auto& info) { return info.param == pf1bit ? "OneBit" : "TwentyFourBit"; });

TEST(PolygonCopy, DifferentFormatsAreConverted) {
  TBitmap dst(10, 8, pf1bit), src(10, 8, pf24bit);
  src.Canvas()->Brush()->SetColor(clWhite);
  src.Canvas()->FillRect(Rect(0, 0, 10, 8));
  dst.Canvas()->Brush()->SetColor(clBlack);
  dst.Canvas()->FillRect(Rect(0, 0, 10, 8));
  _CopyPolygonBitmap(&dst, &src, 0, 0, kSquare, 4);
  EXPECT_EQ(dst.PixelFormat(), pf1bit);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 10; ++x) ASSERT_EQ(dst.GetPixel(x, y), InSquare(x, y) ? clWhite : clBlack);
  // An 8-bit destination with its own palette gets the nearest entries.
  TBitmap pal(10, 8, pf8bit);
  std::vector<TRGB> entries(256, TRGB{0, 0, 0});
  entries[7] = TRGB{255, 255, 255};
  pal.SetPalette(entries);
  for (int y = 0; y < 8; ++y) std::memset(pal.Scanline(y), 0, 10);
  _CopyPolygonBitmap(&pal, &src, 0, 0, kSquare, 4);
  const std::vector<TColor> c = Colors(pal);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 10; ++x) ASSERT_EQ(c[size_t(y * 10 + x)], InSquare(x, y) ? clWhite : clBlack);
}

}  // namespace
