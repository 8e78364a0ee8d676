// Histograms, equalization and the image effects.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "korvane/foundations/kvutils.h"
#include "korvane/proc/kvproc.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

TRGB& At(TBitmap& b, int x, int y) { return reinterpret_cast<TRGB*>(b.Scanline(y))[x]; }

void Fill(TBitmap& b, int w, int h, TRGB c) {
  b.Allocate(w, h, pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) At(b, x, y) = c;
}

struct EffectOp : testing::Test {
  void SetUp() override { proc.SetAttachedBitmap(&bmp); }
  TBitmap bmp;
  TKorvaneProc proc;
};

TEST_F(EffectOp, HistogramCountsLevelsAndGray) {
  Fill(bmp, 10, 6, CreateRGB(0, 0, 0));
  for (int x = 0; x < 4; ++x) At(bmp, x, 5) = CreateRGB(255, 255, 255);
  At(bmp, 9, 0) = CreateRGB(100, 50, 200);
  THistogramItem h[256];
  proc.GetHistogram(h);
  EXPECT_EQ(h[0].R, 55u);
  EXPECT_EQ(h[0].Gray, 55u);
  EXPECT_EQ(h[255].R, 4u);
  EXPECT_EQ(h[252].Gray, 4u);  // white
  EXPECT_EQ(h[255].Gray, 0u);
  EXPECT_EQ(h[100].R, 1u);
  EXPECT_EQ(h[50].G, 1u);
  EXPECT_EQ(h[200].B, 1u);
  EXPECT_EQ(h[(21 * 100 + 71 * 50 + 7 * 200) / 100].Gray, 1u);
  proc.Select(0, 0, 3, 4);  // no white in it
  proc.GetHistogram(h);
  EXPECT_EQ(h[0].B, 20u);
  EXPECT_EQ(h[252].Gray, 0u);
}

// Counted with interleaved counter sets: every rectangle width (not only
// multiples of the interleave) counts each pixel once, as a plain loop does.
TEST(Histogram, MatchesAPlainCountOnAnyRectangle) {
  TBitmap b;
  test::FillPattern24(b, 23, 9, 5);
  for (int x = 0; x < 23; ++x) At(b, x, 3) = CreateRGB(7, 7, 7);  // one level over a whole row
  struct Box {
    int x1, y1, x2, y2;
  };
  for (const Box& r : {Box{0, 0, 22, 8}, Box{1, 1, 1, 7}, Box{2, 3, 3, 3}, Box{5, 2, 7, 8},
                       Box{-4, -2, 30, 20}, Box{18, 0, 22, 4}, Box{6, 0, 19, 8}}) {
    THistogramItem h[256];
    _GetHistogram(&b, h, r.x1, r.y1, r.x2, r.y2);
    std::vector<uint32_t> want(4 * 256, 0);
    for (int y = std::max(r.y1, 0); y <= std::min(r.y2, 8); ++y)
      for (int x = std::max(r.x1, 0); x <= std::min(r.x2, 22); ++x) {
        const TRGB p = At(b, x, y);
        ++want[p.r];
        ++want[256 + p.g];
        ++want[512 + p.b];
        ++want[768 + (21 * p.r + 71 * p.g + 7 * p.b) / 100];
      }
    for (int i = 0; i < 256; ++i) {
      ASSERT_EQ(h[i].R, want[size_t(i)]) << r.x1 << "," << r.x2 << " level " << i;
      ASSERT_EQ(h[i].G, want[size_t(256 + i)]) << r.x1 << "," << r.x2 << " level " << i;
      ASSERT_EQ(h[i].B, want[size_t(512 + i)]) << r.x1 << "," << r.x2 << " level " << i;
      ASSERT_EQ(h[i].Gray, want[size_t(768 + i)]) << r.x1 << "," << r.x2 << " level " << i;
    }
  }
}

TEST_F(EffectOp, HistEqualizeStretchesToTheThresholds) {
  bmp.Allocate(256, 1, pf24bit);
  for (int x = 0; x < 256; ++x) At(bmp, x, 0) = CreateRGB(uint8_t(x), uint8_t(x), uint8_t(x));
  TBitmap orig;
  orig.Assign(&bmp);
  proc.HistEqualize(CreateRGB(0, 0, 0), CreateRGB(255, 255, 255));
  EXPECT_TRUE(test::SamePixels(bmp, orig));
  proc.HistEqualize(CreateRGB(0, 0, 0), CreateRGB(128, 128, 128));
  EXPECT_EQ(At(bmp, 64, 0), CreateRGB(128, 128, 128));
  EXPECT_EQ(At(bmp, 1, 0), CreateRGB(2, 2, 2));
  for (int x = 128; x < 256; ++x) ASSERT_EQ(At(bmp, x, 0), CreateRGB(255, 255, 255)) << x;
}

TEST_F(EffectOp, HistAutoEqualizeOnSmallAndFlatImages) {
  // Fewer than 256 pixels: still finishes, and a flat image stays flat.
  Fill(bmp, 5, 5, CreateRGB(90, 90, 90));
  proc.HistAutoEqualize();
  const TRGB c = At(bmp, 0, 0);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) ASSERT_EQ(At(bmp, x, y), c);
  // Levels already spread evenly barely move.
  bmp.Allocate(256, 16, pf24bit);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 256; ++x) At(bmp, x, y) = CreateRGB(uint8_t(x), uint8_t(x), uint8_t(x));
  proc.HistAutoEqualize();
  for (int x = 0; x < 256; ++x) ASSERT_NEAR(At(bmp, x, 8).g, x, 4) << x;
}

TEST_F(EffectOp, MergeAtBothEnds) {
  test::FillPattern24(bmp, 8, 6, 1);
  TBitmap other, orig;
  test::FillPattern24(other, 8, 6, 2);
  orig.Assign(&bmp);
  proc.Merge(&other, 100);
  EXPECT_TRUE(test::SamePixels(bmp, orig));
  proc.Merge(&other, 0);
  EXPECT_TRUE(test::SamePixels(bmp, other));
  proc.Undo();
  proc.Merge(&other, 50);
  const TRGB a = At(orig, 3, 3), b = At(other, 3, 3);
  EXPECT_NEAR(At(bmp, 3, 3).r, (a.r + b.r) / 2.0, 0.51);
}

// Percents outside 0..100 follow the same blend, clamped per channel.
TEST_F(EffectOp, MergeExtrapolatesBeyondBothEnds) {
  Fill(bmp, 4, 3, CreateRGB(100, 200, 10));
  TBitmap other;
  Fill(other, 4, 3, CreateRGB(60, 100, 250));
  proc.Merge(&other, 150);  // 1.5 c - 0.5 o
  EXPECT_EQ(At(bmp, 2, 1), CreateRGB(120, 250, 0));
  proc.Undo();
  proc.Merge(&other, -25);  // -0.25 c + 1.25 o
  EXPECT_EQ(At(bmp, 0, 0), CreateRGB(50, 75, 255));
  proc.Undo();
  proc.Merge(&other, INT_MAX);
  EXPECT_EQ(At(bmp, 3, 2), CreateRGB(255, 255, 0));
}

TEST_F(EffectOp, WaveWithoutAmplitudeOrOnTinyImagesChangesNothing) {
  test::FillPattern24(bmp, 9, 7, 3);
  TBitmap orig;
  orig.Assign(&bmp);
  proc.Wave(0, 10, 30, false);
  EXPECT_TRUE(test::SamePixels(bmp, orig));
  test::FillPattern24(bmp, 1, 7, 3);
  orig.Assign(&bmp);
  proc.Wave(5, 10, 30, true);
  EXPECT_TRUE(test::SamePixels(bmp, orig));
}

TEST_F(EffectOp, WaveKeepsAFlatImageFlat) {
  for (bool reflective : {false, true}) {
    Fill(bmp, 31, 17, CreateRGB(77, 150, 255));
    proc.Wave(6, 9, 40, reflective);
    for (int y = 0; y < 17; ++y)
      for (int x = 0; x < 31; ++x) ASSERT_EQ(At(bmp, x, y), CreateRGB(77, 150, 255)) << x << "," << y;
  }
}

TEST_F(EffectOp, LensBelowOneRefractsAsOneAndStaysInside) {
  test::FillPattern24(bmp, 40, 30, 4);
  TBitmap orig, one;
  orig.Assign(&bmp);
  proc.Lens(20, 15, 30, 20, 1.0);
  one.Assign(&bmp);
  proc.Undo();
  proc.Lens(20, 15, 30, 20, 0.2);
  EXPECT_TRUE(test::SamePixels(bmp, one));
  proc.Undo();
  proc.Lens(20, 15, 30, 20, 2.5);
  EXPECT_FALSE(test::SamePixels(bmp, orig));
  EXPECT_EQ(At(bmp, 0, 0), At(orig, 0, 0));  // outside the box
  proc.Undo();
  proc.Lens(-1000000000, 2000000000, 2000000000, 2000000000, 3);  // clamped to the image
}

// The lens formula evaluated pixel by pixel with the library functions, as
// written: the fast lens must pick exactly the same source pixels, including
// at refraction 1 where the tangent blows up near the axes.
void LensRef(TBitmap& b, int x, int y, int w, int h, double refraction) {
  const int W = b.Width(), H = b.Height();
  const int L = std::clamp(x - w / 2, 0, W - 1), T = std::clamp(y - h / 2, 0, H - 1);
  const int bw = std::clamp(x + w / 2, 0, W - 1) - L, bh = std::clamp(y + h / 2, 0, H - 1) - T;
  if (bw <= 0 || bh <= 0) return;
  const double hw = bw / 2.0, hh = bh / 2.0, n = std::max(refraction, 1.0),
               m2 = std::min(hw, hh) * std::min(hw, hh);
  auto bend = [&](double d, double z, double phi) {
    return d - z * std::tan(M_PI / 2 - phi - std::acos(std::sin(M_PI / 2 - phi) / n));
  };
  auto trunc = [](double v) { return v >= INT_MAX ? INT_MAX : v <= INT_MIN ? INT_MIN : int(v); };
  TBitmap orig;
  orig.Assign(&b);
  for (int r = 0; r < bh; ++r)
    for (int c = 0; c < bw; ++c) {
      const double dx = c - hw + 0.5, dy = hh - r - 0.5;
      const double e = dx * dx / (hw * hw) + dy * dy / (hh * hh);
      int sx = L + c, sy = T + r;
      if (e < 1) {
        const double z = std::sqrt((1 - e) * m2);
        sx = L + std::clamp(trunc(bend(dx, z, std::cos(dx / std::sqrt(dx * dx + z * z))) + hw), 0, W - 1);
        sy = T + std::clamp(trunc(hh - bend(dy, z, std::asin(dy / std::sqrt(dy * dy + z * z)))), 0, H - 1);
      }
      At(b, L + c, T + r) = At(orig, std::min(sx, W - 1), std::min(sy, H - 1));
    }
}

TEST(Lens, PicksTheSourcePixelsOfTheLensFormula) {
  struct Case {
    int W, H, x, y, w, h;
    double n;
  };
  for (const Case& c : {Case{97, 61, 40, 30, 80, 50, 2}, Case{97, 61, 40, 30, 80, 50, 1},
                        Case{97, 61, 40, 30, 80, 50, 1.0001}, Case{41, 33, 20, 16, 41, 33, 1.5},
                        Case{64, 64, 32, 32, 65, 31, 10}, Case{301, 200, 0, 0, 600, 400, 2.5},
                        Case{300, 301, 150, 150, 300, 301, 3}, Case{40, 30, 35, 25, 30, 20, 1.2}}) {
    TBitmap fast, ref;
    test::FillPattern24(fast, c.W, c.H, 9);
    ref.Assign(&fast);
    _lens(&fast, c.x, c.y, c.w, c.h, c.n, nullpr);
    LensRef(ref, c.x, c.y, c.w, c.h, c.n);
    EXPECT_TRUE(test::SamePixels(fast, ref)) << c.W << "x" << c.H << " n " << c.n;
  }
}

TEST_F(EffectOp, BumpMappingAtFullPercentChangesNothing) {
  test::FillPattern24(bmp, 20, 12, 6);
  TBitmap orig;
  orig.Assign(&bmp);
  proc.BumpMapping(5, 5, 10, 10, 100, CreateRGB(255, 255, 0));
  EXPECT_TRUE(test::SamePixels(bmp, orig));
  proc.BumpMapping(5, 5, 10, 10, 30, CreateRGB(255, 255, 0));
  EXPECT_FALSE(test::SamePixels(bmp, orig));
  // Extreme arguments saturate instead of overflowing.
  proc.BumpMapping(INT_MIN, INT_MAX, 1, -1, INT_MAX, CreateRGB(255, 255, 0));
}

// A flat area has no relief: the top row of a rectangle lower down is lit
// like the rows under it, exactly as the same area on its own would be.
TEST(BumpMappingProc, RectangleTopHasNoFalseEdge) {
  TBitmap whole, part;
  Fill(whole, 12, 10, CreateRGB(200, 120, 40));
  Fill(part, 12, 5, CreateRGB(200, 120, 40));
  _BumpMapping(&whole, 6, 7, 8, 8, 40, CreateRGB(255, 255, 255), 0, 5, 11, 9);
  _BumpMapping(&part, 6, 2, 8, 8, 40, CreateRGB(255, 255, 255), 0, 0, 11, 4);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 12; ++x) ASSERT_EQ(At(whole, x, y + 5), At(part, x, y)) << x << "," << y;
  EXPECT_EQ(At(whole, 3, 2), CreateRGB(200, 120, 40));  // above the rectangle
}

}  // namespace

namespace {

// Every operation reports progress that climbs to 100 and never passes it
// (the per-row formula alone reaches 105 on ten rows).
TEST(OperationProgress, ClimbsToAtMost100) {
  TBitmap bmp, other;
  TKorvaneProc proc;
  proc.SetAttachedBitmap(&bmp);
  int last = -1, top = -1;
  bool ordered = true;
  proc.OnProgress = [&](TObject*, int per) {
    ordered = ordered && per >= last;
    last = per;
    top = std::max(top, per);
  };
  test::FillPattern24(other, 3, 3, 1);
  const std::vector<std::pair<const char*, std::function<void()>>> ops = {
      {"filter", [&] { proc.ApplyFilterPreset(fpBlur); }},
      {"rotate", [&] { proc.Rotate(20, true); }},
      {"autoequalize", [&] { proc.HistAutoEqualize(); }},
      {"equalize", [&] { proc.HistEqualize(CreateRGB(10, 10, 10), CreateRGB(200, 200, 200)); }},
      {"merge", [&] { proc.Merge(&other, 40); }},
      {"lens", [&] { proc.Lens(6, 5, 10, 8, 2); }},
      {"wave", [&] { proc.Wave(3, 5, 0, false); }},
      {"bump", [&] { proc.BumpMapping(3, 3, 5, 5, 50, CreateRGB(255, 255, 255)); }},
  };
  for (const auto& [name, op] : ops) {
    test::FillPattern24(bmp, 12, 10, 2);
    last = top = -1;
    ordered = true;
    op();
    EXPECT_TRUE(ordered) << name;
    EXPECT_GE(top, 89) << name;
    EXPECT_LE(top, 100) << name;
  }
}

}  // namespace
