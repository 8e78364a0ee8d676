// Color models and the color adjustments on rectangles.
#include "korvane/pixels/colors.h"

#include <gtest/gtest.h>

#include <climits>
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

// ---------------------------------------------------------------------------
// Models

TEST(ColorModels, HSLKnownValues) {
  double h, s, l;
  RGB2HSL(CreateRGB(128, 128, 128), h, s, l);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(s, 0);
  RGB2HSL(CreateRGB(255, 0, 0), h, s, l);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(l, 0.5);
  TRGB c;
  HSL2RGB(c, 0, 1, 0.5);
  EXPECT_EQ(c, CreateRGB(255, 0, 0));
  HSL2RGB(c, 0.3, 1, 1);
  EXPECT_EQ(c, CreateRGB(255, 255, 255));
  HSL2RGB(c, -2, 5, 0.5);  // clamped to H 0, S 1
  EXPECT_EQ(c, CreateRGB(255, 0, 0));
}

TEST(ColorModels, HSVKnownValues) {
  int h, s, v;
  RGB2HSV(CreateRGB(0, 0, 255), h, s, v);
  EXPECT_EQ(h, 240);
  EXPECT_EQ(s, 99);
  EXPECT_EQ(v, 99);
  TRGB c;
  HSV2RGB(c, 240, 99, 99);
  EXPECT_EQ(c, CreateRGB(0, 0, 255));
  RGB2HSV(CreateRGB(255, 0, 44), h, s, v);
  EXPECT_EQ(h, 350);
  RGB2HSV(CreateRGB(200, 200, 200), h, s, v);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(v, 78);  // round(200 / 255 * 99)
}

// Every 0..99 gray and fully saturated hue survives HSV and back.
TEST(ColorModels, HSVRoundTripOfPrimariesAndGrays) {
  for (int v = 0; v < 256; ++v) {
    int h, s, vv;
    TRGB c;
    RGB2HSV(CreateRGB(uint8_t(v), uint8_t(v), uint8_t(v)), h, s, vv);
    HSV2RGB(c, h, s, vv);
    EXPECT_LE(std::abs(c.r - v), 2) << v;
  }
  for (TRGB p :
       {CreateRGB(255, 0, 0), CreateRGB(0, 255, 0), CreateRGB(255, 255, 0), CreateRGB(0, 255, 255)}) {
    int h, s, v;
    TRGB c;
    RGB2HSV(p, h, s, v);
    HSV2RGB(c, h, s, v);
    EXPECT_EQ(c, p);
  }
}

// ---------------------------------------------------------------------------
// Shifts

// The HSV shift gives the same pixels through the color cube and pixel by
// pixel, and clamps the hue instead of wrapping it.
class HSVvarPaths : public testing::TestWithParam<bool> {};
TEST_P(HSVvarPaths, NoHueWrap) {
  TBitmap b;
  Fill(b, 3, 2, CreateRGB(255, 0, 44));  // H 350
  detail::HSVvarWith(&b, 0, 0, 2, 1, 30, 0, 0, GetParam(), {}, nullptr);
  // H 359 is red with a touch of blue; a wrap to 20 would add green.
  EXPECT_EQ(At(b, 2, 1), CreateRGB(255, 0, 5));
}
// Offsets far past the ranges act as the largest shift, without overflow.
TEST_P(HSVvarPaths, HugeOffsetsActAsTheLargestShift) {
  for (int sign : {1, -1}) {
    TBitmap b, ref;
    test::FillPattern24(b, 9, 5, 3);
    ref.Assign(&b);
    detail::HSVvarWith(&b, 0, 0, 8, 4, sign * INT_MAX, sign * INT_MAX, sign * INT_MAX, GetParam(), {},
                       nullptr);
    detail::HSVvarWith(&ref, 0, 0, 8, 4, sign * 360, sign * 100, sign * 100, GetParam(), {}, nullptr);
    EXPECT_TRUE(test::SamePixels(b, ref)) << sign;
  }
}
TEST_P(HSVvarPaths, SameAsPixelByPixelConversion) {
  TBitmap b, ref;
  test::FillPattern24(b, 37, 23, 5);
  ref.Assign(&b);
  const int hue = -70, sat = 25, val = -12;
  detail::HSVvarWith(&b, 3, 2, 30, 20, hue, sat, val, GetParam(), {}, nullptr);
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 37; ++x) {
      TRGB want = At(ref, x, y);
      if (x >= 3 && x <= 30 && y >= 2 && y <= 20) {
        int h, s, v;
        RGB2HSV(want, h, s, v);
        HSV2RGB(want, h + hue, s + sat, v + val);
      }
      ASSERT_EQ(At(b, x, y), want) << x << "," << y;
    }
}
INSTANTIATE_TEST_SUITE_P(CubeOrDirect, HSVvarPaths, testing::Bool());

TEST(HSLvar, HueIsClampedAndLuminanceSaturates) {
  TBitmap b;
  Fill(b, 4, 1, CreateRGB(255, 0, 153));  // H 0.9
  _HSLvar(&b, 0, 0, 1, 0, 60, 0, 0);
  EXPECT_EQ(At(b, 0, 0), CreateRGB(255, 0, 0));  // H 1.0; a wrap to 0.067 adds green
  EXPECT_EQ(At(b, 2, 0), CreateRGB(255, 0, 153));
  _HSLvar(&b, 2, 0, 3, 0, 0, 0, 100);
  EXPECT_EQ(At(b, 3, 0), CreateRGB(255, 255, 255));
}

// The row kernel matches the two conversions pixel for pixel, over more than
// one chunk of a row and with offsets that push every component past its ends.
class HSLvarOffsets : public testing::TestWithParam<std::tuple<int, int, int>> {};
TEST_P(HSLvarOffsets, SameAsTheConversions) {
  const auto [hue, sat, lum] = GetParam();
  TBitmap b, ref;
  test::FillPattern24(b, 600, 3, unsigned(hue + 400));
  for (int x = 0; x < 600; x += 7) At(b, x, 1) = CreateRGB(uint8_t(x), uint8_t(x), uint8_t(x));  // grays
  ref.Assign(&b);
  _HSLvar(&b, 0, 0, 599, 2, hue, sat, lum);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 600; ++x) {
      double h, s, l;
      TRGB want;
      RGB2HSL(At(ref, x, y), h, s, l);
      HSL2RGB(want, h + hue / 360.0, s + sat / 100.0, l + lum / 100.0);
      ASSERT_EQ(At(b, x, y), want) << x << "," << y;
    }
}
INSTANTIATE_TEST_SUITE_P(Shifts, HSLvarOffsets,
                         testing::Values(std::make_tuple(0, 0, 0), std::make_tuple(45, 20, -10),
                                         std::make_tuple(-200, -50, 30), std::make_tuple(400, 150, 0)));

// ---------------------------------------------------------------------------
// Contrast

TEST(Contrast, PivotsAreChannelMeans) {
  TBitmap b;
  Fill(b, 4, 2, CreateRGB(10, 100, 200));
  for (int x = 0; x < 4; ++x) At(b, x, 1) = CreateRGB(30, 101, 0);
  int r, g, bl;
  _GetMediaContrastRGB(&b, r, g, bl);
  EXPECT_EQ(r, 20);
  EXPECT_EQ(g, 100);  // 100.5 truncated
  EXPECT_EQ(bl, 100);
  EXPECT_EQ(_GetMediaContrast(&b), (10 + 100 + 200 + 30 + 101 + 0) / 6);
  // Amount -100 flattens the rectangle to the pivots; 0 changes nothing.
  TBitmap ref;
  ref.Assign(&b);
  _ContrastRGB(&b, 0, 0, 3, 1, 0, r, g, bl);
  EXPECT_TRUE(test::SamePixels(b, ref));
  _ContrastRGB(&b, 1, 0, 2, 1, -100, r, g, bl);
  EXPECT_EQ(At(b, 1, 1), CreateRGB(20, 100, 100));
  EXPECT_EQ(At(b, 2, 0), CreateRGB(20, 100, 100));
  EXPECT_EQ(At(b, 0, 0), CreateRGB(10, 100, 200));
}

TEST(Contrast, UniformImageIsUnchanged) {
  TBitmap b, ref;
  Fill(b, 5, 4, CreateRGB(77, 140, 3));
  ref.Assign(&b);
  int r, g, bl;
  _GetMediaContrastRGB(&b, r, g, bl);
  _ContrastRGB(&b, 0, 0, 4, 3, 60, r, g, bl);
  EXPECT_TRUE(test::SamePixels(b, ref));
  _Contrast(&b, 0, 0, 4, 3, 60, _GetMediaContrast(&b));
  EXPECT_EQ(At(b, 0, 0), CreateRGB(73 + 7 * 4, 255, 0));  // pivot (77+140+3)/3 = 73, k = 7
}

// ---------------------------------------------------------------------------
// Point operations

TEST(Threshold, DownBeforeUpAndIdentityLimits) {
  TBitmap b;
  Fill(b, 3, 1, TRGB{0, 0, 0});
  At(b, 0, 0) = CreateRGB(50, 120, 160);
  At(b, 1, 0) = CreateRGB(0, 0, 0);
  _Threshold(&b, 0, 0, 2, 0, CreateRGB(100, 100, 100), CreateRGB(150, 150, 150), CreateRGB(200, 200, 200),
             CreateRGB(10, 10, 10));
  // 50 <= 100 becomes 200, which is > 150 and becomes 10.
  EXPECT_EQ(At(b, 0, 0), CreateRGB(10, 120, 10));
  // Limits (0,0,0) and (255,255,255) leave even channels equal to 0 alone.
  _Threshold(&b, 0, 0, 2, 0, CreateRGB(0, 0, 0), CreateRGB(255, 255, 255), CreateRGB(9, 9, 9),
             CreateRGB(1, 1, 1));
  EXPECT_EQ(At(b, 1, 0), CreateRGB(10, 10, 10));
}

TEST(Gray, WhiteIsTwoHundredFiftyTwo) {
  TBitmap b;
  Fill(b, 2, 1, CreateRGB(255, 255, 255));
  At(b, 1, 0) = CreateRGB(100, 0, 0);
  _ConvertToGray(&b, 0, 0, 5, 5);
  EXPECT_EQ(At(b, 0, 0), CreateRGB(252, 252, 252));
  EXPECT_EQ(At(b, 1, 0), CreateRGB(21, 21, 21));
}

TEST(Negative, TwiceRestoresAndStaysInTheRectangle) {
  TBitmap b, ref;
  test::FillPattern24(b, 13, 7, 3);
  ref.Assign(&b);
  _Negative(&b, 2, 1, 9, 5);
  EXPECT_EQ(At(b, 2, 1).r, 255 - At(ref, 2, 1).r);
  EXPECT_EQ(At(b, 10, 1), At(ref, 10, 1));
  EXPECT_EQ(At(b, 2, 6), At(ref, 2, 6));
  _Negative(&b, 2, 1, 9, 5);
  EXPECT_TRUE(test::SamePixels(b, ref));
}

TEST(Negative, OneBitInvertsOnlyTheRectangleBits) {
  TBitmap b;
  b.Allocate(21, 3, pf1bit);
  _Negative(&b, 3, 1, 17, 1);
  auto bit = [&](int x, int y) { return (b.Scanline(y)[x >> 3] >> (7 - (x & 7))) & 1; };
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 21; ++x) EXPECT_EQ(bit(x, y), y == 1 && x >= 3 && x <= 17) << x << "," << y;
  _Negative(&b, 3, 1, 17, 1);
  _Negative1Bit(&b);
  for (int x = 0; x < 21; ++x) EXPECT_EQ(bit(x, 0), 1);
}

TEST(CastColorRange, AllThreeChannelsMustBeInRange) {
  TBitmap b;
  Fill(b, 4, 1, CreateRGB(100, 100, 100));
  At(b, 1, 0) = CreateRGB(100, 100, 151);
  At(b, 2, 0) = CreateRGB(50, 150, 120);
  _CastColorRange(&b, 0, 0, 2, 0, CreateRGB(50, 90, 100), CreateRGB(100, 150, 150), CreateRGB(1, 2, 3));
  EXPECT_EQ(At(b, 0, 0), CreateRGB(1, 2, 3));
  EXPECT_EQ(At(b, 1, 0), CreateRGB(100, 100, 151));
  EXPECT_EQ(At(b, 2, 0), CreateRGB(1, 2, 3));
  EXPECT_EQ(At(b, 3, 0), CreateRGB(100, 100, 100));  // outside the rectangle
}

TEST(Intensity, OffsetsClamp) {
  TBitmap b;
  Fill(b, 1, 1, CreateRGB(250, 10, 128));
  _IntensityRGBall(&b, 0, 0, 0, 0, 10, -20, 1 << 30);
  EXPECT_EQ(At(b, 0, 0), CreateRGB(255, 0, 255));
}

// Progress of short ranges stops at 100 (the row formula gives 105 for ten
// rows) and rises with every row.
TEST(Progress, NeverAboveOneHundred) {
  TBitmap b;
  test::FillPattern24(b, 4, 30, 1);
  for (int rows : {1, 2, 10, 30}) {
    std::vector<int> got;
    _Negative(&b, 0, 0, 3, rows - 1, [&](TObject*, int per) { got.push_back(per); });
    ASSERT_EQ(int(got.size()), rows);
    EXPECT_EQ(got.back(), 100) << rows;
    for (size_t i = 1; i < got.size(); ++i) EXPECT_GE(got[i], got[i - 1]);
  }
}

// The vector loops and the scalar loops give identical pixels, on runs whose
// length is not a multiple of the vector block and that start mid-row.
using PointOp = void (*)(TBitmap*);
class VectorLoops : public testing::TestWithParam<std::tuple<PointOp, detail::ColorLoops>> {};
TEST_P(VectorLoops, MatchScalarLoops) {
  const auto [op, loops] = GetParam();
  TBitmap vec, scalar;
  test::FillPattern24(vec, 157, 9, 11);
  for (int x = 0; x < 157; x += 3) At(vec, x, 4) = CreateRGB(70, 120, 60);  // inside the cast box
  scalar.Assign(&vec);
  detail::SetColorLoops(loops);
  op(&vec);
  detail::SetColorLoops(detail::ColorLoops::Scalar);
  op(&scalar);
  detail::SetColorLoops(detail::ColorLoops::Fastest);
  EXPECT_TRUE(test::SamePixels(vec, scalar));
}
INSTANTIATE_TEST_SUITE_P(
    Ops, VectorLoops,
    testing::Combine(testing::Values(
                         +[](TBitmap* b) { _IntensityRGBall(b, 5, 1, 150, 8, 40, -70, 300); },
                         +[](TBitmap* b) {
                           _Threshold(b, 1, 0, 156, 8, CreateRGB(60, 10, 100), CreateRGB(200, 90, 100),
                                      CreateRGB(250, 0, 99), CreateRGB(3, 255, 101));
                         },
                         +[](TBitmap* b) { _ConvertToGray(b, 2, 0, 156, 8); },
                         +[](TBitmap* b) { _HSLvar(b, 1, 0, 155, 8, 50, -20, 15); },
                         +[](TBitmap* b) {
                           _CastColorRange(b, 0, 0, 140, 8, CreateRGB(60, 90, 20), CreateRGB(120, 160, 80),
                                           CreateRGB(255, 0, 255));
                         }),
                     testing::Values(detail::ColorLoops::Fastest, detail::ColorLoops::Baseline)));

// ---------------------------------------------------------------------------
// HSV channels and palette search

TEST(HSVChannel, GrayImagesOfTheComponents) {
  TBitmap b;
  Fill(b, 2, 2, CreateRGB(0, 0, 255));
  At(b, 1, 1) = CreateRGB(128, 128, 128);
  auto h = _GetHSVChannel(&b, 0), s = _GetHSVChannel(&b, 1), v = _GetHSVChannel(&b, 2),
       other = _GetHSVChannel(&b, 7);
  ASSERT_TRUE(h && s && v && other);
  EXPECT_EQ(At(*h, 0, 0), CreateRGB(170, 170, 170));  // 240 * 255 / 359
  EXPECT_EQ(At(*s, 0, 0), CreateRGB(255, 255, 255));
  EXPECT_EQ(At(*s, 1, 1), CreateRGB(0, 0, 0));
  EXPECT_EQ(At(*v, 1, 1), CreateRGB(128, 128, 128));  // V 50: 50 * 255 / 99
  EXPECT_TRUE(test::SamePixels(*other, *h));
  b.SetPixelFormat(pf1bit);
  EXPECT_FALSE(_GetHSVChannel(&b, 0));
}

TEST(SimilColor, NearestLowestIndexOnTies) {
  const TRGB pal[3] = {CreateRGB(0, 0, 10), CreateRGB(0, 0, 30), CreateRGB(0, 0, 10)};
  EXPECT_EQ(_GetSimilColor(pal, 3, CreateRGB(0, 0, 20)), 0);
  EXPECT_EQ(_GetSimilColor(pal, 3, CreateRGB(0, 0, 25)), 1);
  EXPECT_EQ(_GetSimilColor(pal, 0, CreateRGB(0, 0, 25)), 0);
}

}  // namespace
