// Geometric transforms: quarter turns, the three-shear rotation against a
// direct inverse-mapping rotation, the 1-bit rotation, flips and resizing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/vector_loops.h"
#include "korvane/proc/kvproc.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

TRGB& At(TBitmap& b, int x, int y) { return reinterpret_cast<TRGB*>(b.Scanline(y))[x]; }

struct TransformOp : testing::Test {
  void SetUp() override { proc.SetAttachedBitmap(&bmp); }
  TBitmap bmp;
  TKorvaneProc proc;
};

TEST_F(TransformOp, ResampleKeepsTheAspectForANegativeWidth) {
  test::FillPattern24(bmp, 200, 100, 1);
  proc.Resample(-1, 50, rfTriangle);
  EXPECT_EQ(bmp.Width(), 100);
  EXPECT_EQ(bmp.Height(), 50);
  proc.Resample(-1, -1, rfTriangle);  // both negative: nothing
  EXPECT_EQ(bmp.Width(), 100);
  bmp.Allocate(30, 20, pf1bit);
  proc.Resample(60, -5, rfLanczos3);  // 1-bit stays 1-bit (stretched)
  EXPECT_EQ(bmp.Width(), 60);
  EXPECT_EQ(bmp.Height(), 40);
  EXPECT_EQ(bmp.PixelFormat(), pf1bit);
}

TEST_F(TransformOp, QuarterTurnsMoveTheCorners) {
  test::FillPattern24(bmp, 3, 2, 4);
  TBitmap orig;
  orig.Assign(&bmp);
  proc.Rotate(90, false);
  ASSERT_EQ(bmp.Width(), 2);
  ASSERT_EQ(bmp.Height(), 3);
  EXPECT_EQ(At(bmp, 0, 0), At(orig, 2, 0));  // top-right comes to the top-left
  EXPECT_EQ(At(bmp, 1, 2), At(orig, 0, 1));
  proc.Undo();
  proc.Rotate(-90, true);
  EXPECT_EQ(At(bmp, 0, 0), At(orig, 0, 1));  // bottom-left comes to the top-left
  EXPECT_EQ(At(bmp, 1, 2), At(orig, 2, 0));
  proc.Undo();
  proc.Rotate(-270, false);  // same as 90
  EXPECT_EQ(At(bmp, 0, 0), At(orig, 2, 0));
}

TEST_F(TransformOp, AnEmptyPictureStaysEmptyAtEveryAngle) {
  for (int angle : {30, 46, 90, 180, 200, 315, -100}) {
    bmp.Allocate(0, 0, pf24bit);
    proc.Rotate(angle, true);
    EXPECT_TRUE(bmp.Empty()) << angle << ": " << bmp.Width() << " x " << bmp.Height();
  }
}

TEST_F(TransformOp, RotateByNoTurnLeavesTheImageButSavesUndo) {
  for (int angle : {0, 360, -720}) {
    test::FillPattern24(bmp, 9, 7, 5);
    TBitmap orig;
    orig.Assign(&bmp);
    proc.ClearUndo();
    proc.Rotate(angle, true);
    EXPECT_TRUE(test::SamePixels(bmp, orig)) << angle;
    EXPECT_TRUE(proc.GetCanUndo()) << angle;
  }
}

// Each pixel of the source carries its own coordinates (red = x, green = y)
// and a marker in blue, so the rotated image tells where each pixel came
// from. The reference maps every output pixel back through the exact affine
// map of the three shears, that is the rotation placed where the passes put
// it (the passes leave margins of a pixel or so, so the turned image is not
// centred to the pixel).
class ShearRotation : public testing::TestWithParam<int> {};

TEST_P(ShearRotation, AgreesWithInverseMapping) {
  const int angle = GetParam();
  const int W = 120, H = 80;
  TBitmap bmp(W, H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) At(bmp, x, y) = CreateRGB(uint8_t(x), uint8_t(y), 77);
  TKorvaneProc proc;
  proc.SetAttachedBitmap(&bmp);
  proc.SetReBackground(RGB2TColor(0, 0, 0));
  proc.Rotate(angle, false);

  auto R = [](double v) { return std::nearbyint(v); };
  const double th = angle * M_PI / 180, t = std::abs(std::tan(th / 2)), s = std::abs(std::sin(th));
  const bool pos = angle > 0;
  const double W1 = R(H * t + W + 1), D1 = R((W1 - W) * s), tall = R(W1 * s + H + 1), H2 = R(tall - 2 * D1);
  const double D2 = R((tall - H - D1) * t);
  ASSERT_EQ(bmp.Width(), R(H2 * t + W1 + 1 - 2 * D2));
  ASSERT_EQ(bmp.Height(), H2);
  // Where a source point lands, with the exact (unrounded) line offsets.
  auto forward = [&](double x, double y, double& ox, double& oy) {
    const double x1 = x + (pos ? y : H - y) * t;
    const double y2 = y + (pos ? W1 - x1 : x1) * s - D1;
    ox = x1 + (pos ? y2 : H2 - y2) * t - D2;
    oy = y2;
  };
  double c0x, c0y, c1x, c1y, c2x, c2y;
  forward(0, 0, c0x, c0y);
  forward(1, 0, c1x, c1y);
  forward(0, 1, c2x, c2y);
  const double a = c1x - c0x, b = c2x - c0x, c = c1y - c0y, d = c2y - c0y, det = a * d - b * c;
  // A rotation: the linear part is (cos, sin; -sin, cos).
  ASSERT_NEAR(a, std::cos(th), 1e-9);
  ASSERT_NEAR(b, std::sin(th), 1e-9);
  ASSERT_NEAR(det, 1, 1e-9);

  int compared = 0, off1 = 0;
  double worst = 0;
  for (int Y = 0; Y < bmp.Height(); ++Y)
    for (int X = 0; X < bmp.Width(); ++X) {
      const double u = X - c0x, v = Y - c0y;
      const double sx = (d * u - b * v) / det, sy = (-c * u + a * v) / det;
      const TRGB p = At(bmp, X, Y);
      const bool inside = sx > 2 && sx < W - 3 && sy > 2 && sy < H - 3;
      const bool outside = sx < -3 || sx > W + 2 || sy < -3 || sy > H + 2;
      if (inside) {
        ASSERT_EQ(p.b, 77) << X << "," << Y;
        const double e = std::max(std::abs(p.r - sx), std::abs(p.g - sy));
        worst = std::max(worst, e);
        off1 += e > 1.0;
        ++compared;
      } else if (outside) {
        ASSERT_EQ(p, CreateRGB(0, 0, 0)) << X << "," << Y;
      }
    }
  // Each pass rounds its line offsets to whole pixels (and the source pixel
  // itself is the nearest one to a point between pixels): a pixel can come
  // from up to 1.5 pixels away, more than one pixel only along the seams
  // where the rounding of neighbouring lines changes.
  EXPECT_LE(worst, 1.5 + 1e-9);
  EXPECT_LT(off1, compared / 10) << "of " << compared;
}

INSTANTIATE_TEST_SUITE_P(Angles, ShearRotation, testing::Values(30, -30, 7, 45, -45, -12));

// Linear interpolation at the exact sub-pixel offset of each line, in
// doubles, with the same pass sizes: the anti-aliased rotation must stay
// within 2 levels of it.
std::vector<double> ShearLineRef(const std::vector<double>& line, int len, double e, double bg) {
  std::vector<double> out(size_t(len), bg);
  const int n = int(line.size());
  auto at = [&](int i) { return i >= 0 && i < n ? line[size_t(i)] : bg; };
  for (int X = 0; X < len; ++X) {
    const double p = X - e;
    const int i = int(std::floor(p));
    const double fr = p - i;
    out[size_t(X)] = at(i) * (1 - fr) + at(i + 1) * fr;
  }
  return out;
}

TEST(ShearRotationAntialiased, WithinTwoLevelsOfLinearInterpolation) {
  for (int angle : {23, -31}) {
    const int W = 40, H = 30;
    TBitmap bmp;
    test::FillPattern24(bmp, W, H, 11);
    std::vector<std::vector<double>> img(static_cast<size_t>(H), std::vector<double>(static_cast<size_t>(W)));
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) img[size_t(y)][size_t(x)] = At(bmp, x, y).g;
    const double bg = 40;
    _RotateShear(&bmp, angle, true, CreateRGB(0, uint8_t(bg), 0), nullpr);

    auto R = [](double v) { return int(std::nearbyint(v)); };
    const double th = angle * M_PI / 180, t = std::abs(std::tan(th / 2)), s = std::abs(std::sin(th));
    const bool pos = angle > 0;
    const int W1 = R(H * t + W + 1), D1 = R((W1 - W) * s), tall = R(W1 * s + H + 1), H2 = R(tall - 2.0 * D1);
    const int D2 = R((tall - H - D1) * t), W3 = R(H2 * t + W1 + 1 - 2.0 * D2);
    ASSERT_EQ(bmp.Width(), W3);
    ASSERT_EQ(bmp.Height(), H2);
    std::vector<std::vector<double>> b1(static_cast<size_t>(H)),
        b2(static_cast<size_t>(H2), std::vector<double>(static_cast<size_t>(W1)));
    for (int k = 0; k < H; ++k) b1[size_t(k)] = ShearLineRef(img[size_t(k)], W1, (pos ? k : H - k) * t, bg);
    for (int k = 0; k < W1; ++k) {
      std::vector<double> column(static_cast<size_t>(H));
      for (int y = 0; y < H; ++y) column[size_t(y)] = b1[size_t(y)][size_t(k)];
      const auto out = ShearLineRef(column, H2, (pos ? W1 - k : k) * s - D1, bg);
      for (int y = 0; y < H2; ++y) b2[size_t(y)][size_t(k)] = out[size_t(y)];
    }
    int worst = 0;
    for (int k = 0; k < H2; ++k) {
      const auto out = ShearLineRef(b2[size_t(k)], W3, (pos ? k : H2 - k) * t - D2, bg);
      for (int x = 0; x < W3; ++x) worst = std::max(worst, std::abs(At(bmp, x, k).g - R(out[size_t(x)])));
    }
    EXPECT_LE(worst, 2) << angle;
  }
}

// The three-shear rotation written plainly, pixel by pixel with one test
// per pixel: the fast rotation (vector loops or their scalar twins) must give
// exactly these pixels.
void RotateShearRef(TBitmap& b, double angle, bool aa, TRGB bg) {
  auto R = [](double v) { return int(std::nearbyint(v)); };
  auto shift = [&](double exact, bool truncWeight) {
    std::pair<int, int> sh{R(exact), 0};
    if (!aa) return sh;
    const double rem = (exact - sh.first) * 4096;
    sh.second = truncWeight ? int(rem) : R(rem);
    if (sh.second < 0) sh = {sh.first - 1, sh.second + 4096};
    return sh;
  };
  auto blend = [](TRGB a, TRGB c, int f) {
    auto one = [&](int x, int y) { return uint8_t((x * f + y * (4096 - f) + 2048) >> 12); };
    return TRGB{one(a.b, c.b), one(a.g, c.g), one(a.r, c.r)};
  };
  // Line i of n pixels moved by sh into len pixels.
  auto shear = [&](auto get, int n, int len, std::pair<int, int> sh, auto put) {
    auto at = [&](int i) { return i >= 0 && i < n ? get(i) : bg; };
    for (int j = 0; j < len; ++j) put(j, blend(at(j - sh.first - 1), at(j - sh.first), sh.second));
  };
  const double th = angle * M_PI / 180, t = std::abs(std::tan(th / 2)), s = std::abs(std::sin(th));
  const bool pos = th > 0;
  const int W = b.Width(), H = b.Height();
  const int W1 = std::max(1, R(H * t + W + 1)), D1 = R((W1 - W) * s), tall = R(W1 * s + H + 1);
  const int H2 = std::max(1, R(tall - 2.0 * D1)), D2 = R((tall - H - D1) * t);
  const int W3 = std::max(1, R(H2 * t + W1 + 1 - 2.0 * D2));
  std::vector<TRGB> b1(size_t(W1) * H), b2(size_t(W1) * H2);
  for (int k = 0; k < H; ++k)
    shear([&](int i) { return At(b, i, k); }, W, W1, shift((pos ? k : H - k) * t, true),
          [&](int j, TRGB v) { b1[size_t(k) * W1 + j] = v; });
  for (int k = 0; k < W1; ++k)
    shear([&](int i) { return b1[size_t(i) * W1 + k]; }, H, H2, shift((pos ? W1 - k : k) * s - D1, false),
          [&](int j, TRGB v) { b2[size_t(j) * W1 + k] = v; });
  b.Allocate(W3, H2, pf24bit);
  for (int k = 0; k < H2; ++k)
    shear([&](int i) { return b2[size_t(k) * W1 + i]; }, W1, W3, shift((pos ? k : H2 - k) * t - D2, false),
          [&](int j, TRGB v) { At(b, j, k) = v; });
}

TEST(ShearRotation, MatchesThePlainThreeShears) {
  struct Case {
    int w, h;
    double angle;
    bool aa;
  };
  for (const Case& c :
       {Case{37, 23, 30, true}, Case{37, 23, -30, true}, Case{61, 50, 1, true}, Case{61, 50, -7.5, true},
        Case{45, 45, 45, true}, Case{33, 71, -45, true}, Case{130, 9, 13, false}, Case{9, 130, -22, false},
        Case{1, 5, 40, true}, Case{5, 1, -40, true}, Case{2, 2, 3, true}})
    for (auto loops : {detail::VectorLoops::Fastest, detail::VectorLoops::Scalar}) {
      TBitmap fast, ref;
      test::FillPattern24(fast, c.w, c.h, unsigned(c.w * 7 + c.h));
      ref.Assign(&fast);
      const TRGB bg = CreateRGB(200, 17, 90);
      detail::SetVectorLoops(loops);
      _RotateShear(&fast, c.angle, c.aa, bg, nullpr);
      detail::SetVectorLoops(detail::VectorLoops::Fastest);
      RotateShearRef(ref, c.angle, c.aa, bg);
      EXPECT_TRUE(test::SamePixels(fast, ref)) << c.w << "x" << c.h << " by " << c.angle
                                               << (loops == detail::VectorLoops::Scalar ? " scalar" : "");
    }
}

TEST_F(TransformOp, RotateBy30EnlargesWithBackgroundCorners) {
  test::FillPattern24(bmp, 50, 30, 8);
  proc.SetReBackground(RGB2TColor(10, 200, 30));
  proc.Rotate(30, true);
  EXPECT_GT(bmp.Width(), 50);
  EXPECT_GT(bmp.Height(), 30);
  const TRGB bg = CreateRGB(10, 200, 30);
  const int w = bmp.Width() - 1, h = bmp.Height() - 1;
  for (auto [x, y] : {std::pair{0, 0}, {w, 0}, {0, h}, {w, h}}) EXPECT_EQ(At(bmp, x, y), bg);
}

TEST(Rotate1Bit, QuarterTurnIsExact) {
  TBitmap b(13, 6, pf1bit);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 13; ++x) _SetPixelbw(b.Scanline(y), x, (x * 7 + y * 3) % 5 < 2);
  TBitmap orig;
  orig.Assign(&b);
  _rotate1bit(&b, 0, nullpr, 90);
  ASSERT_EQ(b.Width(), 6);
  ASSERT_EQ(b.Height(), 13);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 6; ++x)
      ASSERT_EQ(_GetPixelbw(b.Scanline(y), x), _GetPixelbw(orig.Scanline(x), 12 - y)) << x << "," << y;
}

// The 1-bit rotation against the per-pixel inverse mapping it stands for.
TEST(Rotate1Bit, MatchesPerPixelInverseMapping) {
  for (int angle : {3, -1, 30, -37, 61, 180, 200}) {
    TBitmap b(53, 31, pf1bit);
    for (int y = 0; y < 31; ++y)
      for (int x = 0; x < 53; ++x) _SetPixelbw(b.Scanline(y), x, (x * 13 + y * 7 + x * y) % 11 < 5);
    TBitmap orig;
    orig.Assign(&b);
    _rotate1bit(&b, 1, nullpr, angle);
    const double th = -angle / 57.29577951308232;
    const double c = std::trunc(std::cos(th) * 10000) / 10000, s = std::trunc(std::sin(th) * 10000) / 10000;
    const int nw = int(std::abs(53 * c) + std::abs(31 * s)), nh = int(std::abs(53 * s) + std::abs(31 * c));
    ASSERT_EQ(b.Width(), nw);
    ASSERT_EQ(b.Height(), nh);
    for (int y = 0; y < nh; ++y)
      for (int x = 0; x < nw; ++x) {
        const double dx = x - (nw / 2.0 - 0.5), dy = y - (nh / 2.0 - 0.5);
        const double fx = c * dx + s * dy + 26, fy = -s * dx + c * dy + 15;
        const int sx = int(std::trunc(fx)), sy = int(std::trunc(fy));
        const int want = (sx >= 0 && sx < 53 && sy >= 0 && sy < 31) ? _GetPixelbw(orig.Scanline(sy), sx) : 1;
        ASSERT_EQ(_GetPixelbw(b.Scanline(y), x), want) << angle << ": " << x << "," << y;
      }
  }
}

TEST_F(TransformOp, Rotate1BitFillsWithTheOwnBackground) {
  bmp.Allocate(40, 40, pf1bit);  // black
  proc.SetReBackground(clWhite);
  proc.Rotate(45, false);
  EXPECT_EQ(bmp.PixelFormat(), pf1bit);
  EXPECT_EQ(bmp.Width(), 56);
  EXPECT_EQ(bmp.GetPixel(0, 0), clWhite);
  EXPECT_EQ(bmp.GetPixel(28, 28), clBlack);
  proc.Rotate(INT_MIN, false);  // no overflow in the angle
  EXPECT_EQ(bmp.PixelFormat(), pf1bit);
}

TEST_F(TransformOp, FlipsMirrorAndTwiceRestore) {
  bmp.Allocate(13, 5, pf1bit);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 13; ++x) _SetPixelbw(bmp.Scanline(y), x, (x * x + y) % 3 == 0);
  TBitmap orig;
  orig.Assign(&bmp);
  proc.Flip(fdHorizontal);
  for (int x = 0; x < 13; ++x)
    ASSERT_EQ(_GetPixelbw(bmp.Scanline(2), x), _GetPixelbw(orig.Scanline(2), 12 - x)) << x;
  proc.Flip(fdHorizontal);
  EXPECT_TRUE(test::SamePixels(bmp, orig));
  proc.Flip(fdVertical);
  EXPECT_EQ(_GetPixelbw(bmp.Scanline(0), 3), _GetPixelbw(orig.Scanline(4), 3));
  proc.Flip(fdVertical);
  EXPECT_TRUE(test::SamePixels(bmp, orig));

  test::FillPattern24(bmp, 7, 4, 2);
  orig.Assign(&bmp);
  proc.Flip(fdHorizontal);
  EXPECT_EQ(At(bmp, 0, 1), At(orig, 6, 1));
  proc.Flip(fdVertical);
  EXPECT_EQ(At(bmp, 0, 0), At(orig, 6, 3));
  proc.Flip(TFlipDir(7));  // not a direction: the picture stays
  EXPECT_EQ(At(bmp, 0, 0), At(orig, 6, 3));
}

TEST_F(TransformOp, ImageResizeFillsNewAreaWithTheBackground) {
  test::FillPattern24(bmp, 4, 3, 9);
  TBitmap orig;
  orig.Assign(&bmp);
  proc.SetReBackground(RGB2TColor(1, 2, 3));
  proc.ImageResize(6, 5);
  ASSERT_EQ(bmp.Width(), 6);
  EXPECT_EQ(At(bmp, 3, 2), At(orig, 3, 2));
  EXPECT_EQ(At(bmp, 5, 0), CreateRGB(1, 2, 3));
  EXPECT_EQ(At(bmp, 0, 4), CreateRGB(1, 2, 3));
}

}  // namespace

// Turning a picture upright by its orientation: the quarter turns and
// mirrors agree with _Rot90o, _Rot90 and _Flip; 1-, 4- and 8-bit pictures
// (odd widths, so rows end inside a byte) turn as their 24-bit copy does.
TEST(Orient, AgreesWithTheTurnsAndFlipsAndEveryDepth) {
  TBitmap src;
  test::FillPattern24(src, 13, 7, 5);
  TBitmap got, want;
  auto turn = [&](int o) {
    got.Assign(&src);
    _Orient(&got, o);
  };
  _Rot90o(&src, &want);
  turn(6);
  EXPECT_TRUE(test::SamePixels(got, want));
  _Rot90(&src, &want);
  turn(8);
  EXPECT_TRUE(test::SamePixels(got, want));
  want.Assign(&src);
  _Flip(&want, fdHorizontal);
  turn(2);
  EXPECT_TRUE(test::SamePixels(got, want));
  _Flip(&want, fdVertical);
  turn(3);
  EXPECT_TRUE(test::SamePixels(got, want));
  for (int o : {0, 1, 9}) {
    turn(o);
    EXPECT_TRUE(test::SamePixels(got, src)) << o;
  }

  for (TPixelFormat pf : {pf1bit, pf4bit, pf8bit}) {
    TBitmap low;
    low.Allocate(13, 7, pf);
    for (int y = 0; y < 7; ++y)
      for (int i = 0; i < low.RowBytes(); ++i) low.Scanline(y)[i] = uint8_t(y * 37 + i * 101);
    TBitmap wide;
    wide.Allocate(13, 7, pf24bit);
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 13; ++x) wide.SetPixel(x, y, low.GetPixel(x, y));
    for (int o = 2; o <= 8; ++o) {
      SCOPED_TRACE(std::to_string(low.BitsPerPixel()) + " bits, orientation " + std::to_string(o));
      TBitmap a, b;
      a.Assign(&low);
      b.Assign(&wide);
      _Orient(&a, o);
      _Orient(&b, o);
      ASSERT_EQ(a.PixelFormat(), pf);
      ASSERT_EQ(a.Width(), b.Width());
      ASSERT_EQ(a.Height(), b.Height());
      for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) ASSERT_EQ(a.GetPixel(x, y), b.GetPixel(x, y)) << x << "," << y;
    }
  }
}
