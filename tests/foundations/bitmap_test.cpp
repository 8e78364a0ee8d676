// Pixel memory rules of TBitmap and the drawing geometry of TCanvas.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "korvane/foundations/host/graphics.h"
#include "tests/test_support.h"

using namespace korvane;

TEST(BitmapMemory, RowsArePaddedToFourBytes) {
  struct Case { TPixelFormat pf; int w; int stride; };
  for (Case c : {Case{pf24bit, 1, 4}, Case{pf24bit, 5, 16}, Case{pf1bit, 3, 4}, Case{pf1bit, 33, 8},
                 Case{pf4bit, 9, 8}, Case{pf8bit, 5, 8}, Case{pf16bit, 3, 8}, Case{pf32bit, 3, 12}}) {
    TBitmap b(c.w, 3, c.pf);
    EXPECT_EQ(b.Scanline(1) - b.Scanline(0), c.stride) << "format " << c.pf << " width " << c.w;
    EXPECT_EQ(b.Scanline(2) - b.Scanline(1), c.stride);
  }
}

TEST(BitmapMemory, OneBitIsMsbFirstAndOneIsWhite) {
  TBitmap b(10, 1, pf1bit);
  std::memset(b.Scanline(0), 0, 4);
  b.Scanline(0)[0] = 0x80;  // leftmost pixel
  b.Scanline(0)[1] = 0x40;  // pixel 9
  EXPECT_EQ(b.GetPixel(0, 0), clWhite);
  EXPECT_EQ(b.GetPixel(1, 0), clBlack);
  EXPECT_EQ(b.GetPixel(9, 0), clWhite);
  EXPECT_EQ(b.GetPixel(8, 0), clBlack);
  b.SetPixel(3, 0, clWhite);
  EXPECT_EQ(b.Scanline(0)[0], 0x90);
}

TEST(BitmapMemory, NewBitmapIsFilledWithTheBrushAndResizeKeepsTopLeft) {
  TBitmap b(4, 3, pf24bit);
  EXPECT_EQ(test::Pixel24(b, 3, 2), 0xFFFFFFu);
  b.SetPixel(1, 1, RGB(10, 20, 30));
  b.Canvas()->Brush()->SetColor(clRed);
  b.SetSize(6, 5);
  EXPECT_EQ(b.GetPixel(1, 1), RGB(10, 20, 30));
  EXPECT_EQ(b.GetPixel(0, 0), clWhite);  // old area kept
  EXPECT_EQ(b.GetPixel(5, 0), clRed);    // new columns
  EXPECT_EQ(b.GetPixel(2, 4), clRed);    // new rows
  b.SetSize(2, 2);
  EXPECT_EQ(b.GetPixel(1, 1), RGB(10, 20, 30));
}

TEST(BitmapMemory, OneBitResizeFillsNewBitsOnly) {
  TBitmap b(3, 1, pf1bit);
  b.Canvas()->Brush()->SetColor(clBlack);
  b.SetPixel(0, 0, clWhite);
  b.SetPixel(1, 0, clBlack);
  b.SetPixel(2, 0, clWhite);
  b.SetSize(12, 2);
  EXPECT_EQ(b.GetPixel(0, 0), clWhite);
  EXPECT_EQ(b.GetPixel(1, 0), clBlack);
  EXPECT_EQ(b.GetPixel(2, 0), clWhite);
  for (int x = 3; x < 12; ++x) EXPECT_EQ(b.GetPixel(x, 0), clBlack) << x;
}

TEST(BitmapMemory, AssignIsDeepAndFormatConversionRoundTrips) {
  TBitmap a;
  test::FillPattern24(a, 7, 5, 1);
  TBitmap b;
  b.Assign(&a);
  EXPECT_TRUE(test::SamePixels(a, b));
  a.Scanline(0)[0] ^= 0xFF;
  EXPECT_FALSE(test::SamePixels(a, b));
  TBitmap c;
  c.Assign(&b);
  c.SetPixelFormat(pf32bit);
  c.SetPixelFormat(pf24bit);
  EXPECT_TRUE(test::SamePixels(b, c));
}

TEST(BitmapMemory, ChangeEventFires) {
  TBitmap b;
  int n = 0;
  b.OnChange = [&](TObject* s) { EXPECT_EQ(s, &b); ++n; };
  b.SetSize(3, 3);
  b.Canvas()->FillRect(Rect(0, 0, 1, 1));
  EXPECT_GE(n, 1);
  EXPECT_TRUE(b.Modified());
}

class CanvasGeometry : public ::testing::TestWithParam<TPixelFormat> {};

TEST_P(CanvasGeometry, RectangleAndFillRectExcludeRightAndBottom) {
  TBitmap b(10, 10, GetParam());
  TCanvas* c = b.Canvas();
  c->Brush()->SetColor(clBlack);
  c->FillRect(Rect(2, 2, 5, 6));
  EXPECT_EQ(b.GetPixel(2, 2), clBlack);
  EXPECT_EQ(b.GetPixel(4, 5), clBlack);
  EXPECT_EQ(b.GetPixel(5, 5), clWhite);
  EXPECT_EQ(b.GetPixel(4, 6), clWhite);
  EXPECT_EQ(b.GetPixel(1, 2), clWhite);

  TBitmap r(10, 10, GetParam());
  r.Canvas()->Pen()->SetColor(clBlack);
  r.Canvas()->Brush()->SetStyle(bsClear);
  r.Canvas()->Rectangle(1, 1, 6, 4);
  EXPECT_EQ(r.GetPixel(1, 1), clBlack);
  EXPECT_EQ(r.GetPixel(5, 1), clBlack);
  EXPECT_EQ(r.GetPixel(5, 3), clBlack);
  EXPECT_EQ(r.GetPixel(6, 1), clWhite);
  EXPECT_EQ(r.GetPixel(1, 4), clWhite);
  EXPECT_EQ(r.GetPixel(3, 2), clWhite);  // clear brush leaves the inside
}

TEST_P(CanvasGeometry, LineToLeavesOutItsLastPoint) {
  TBitmap b(10, 10, GetParam());
  TCanvas* c = b.Canvas();
  c->Pen()->SetColor(clBlack);
  c->MoveTo(1, 1);
  c->LineTo(6, 1);
  for (int x = 1; x <= 5; ++x) EXPECT_EQ(b.GetPixel(x, 1), clBlack) << x;
  EXPECT_EQ(b.GetPixel(6, 1), clWhite);
  EXPECT_EQ(c->PenPos(), Point(6, 1));
  c->LineTo(6, 6);  // continues down without redrawing the corner twice
  EXPECT_EQ(b.GetPixel(6, 1), clBlack);
  EXPECT_EQ(b.GetPixel(6, 5), clBlack);
  EXPECT_EQ(b.GetPixel(6, 6), clWhite);
}

TEST_P(CanvasGeometry, EvenOddPolygonClipLeavesOutsideAndHoleUntouched) {
  TBitmap b(20, 20, GetParam());
  TCanvas* c = b.Canvas();
  // Outer square and an inner square traced in the same polygon: even-odd
  // makes the inner one a hole.
  TPoint pts[] = {{2, 2}, {18, 2}, {18, 18}, {2, 18}, {2, 2}, {7, 7}, {13, 7}, {13, 13}, {7, 13}, {7, 7}};
  c->SetClipPolygon(pts, 10, ALTERNATE);
  c->Brush()->SetColor(clBlack);
  c->FillRect(Rect(0, 0, 20, 20));
  c->ResetClip();
  EXPECT_EQ(b.GetPixel(4, 4), clBlack);    // inside the ring
  EXPECT_EQ(b.GetPixel(10, 10), clWhite);  // the hole
  EXPECT_EQ(b.GetPixel(0, 0), clWhite);    // outside
  EXPECT_EQ(b.GetPixel(19, 10), clWhite);
}

TEST_P(CanvasGeometry, XorPenTwiceRestores) {
  TBitmap b(8, 8, GetParam());
  TBitmap before;
  before.Assign(&b);
  TCanvas* c = b.Canvas();
  c->Pen()->SetMode(pmXor);
  c->Pen()->SetColor(clWhite);
  c->MoveTo(0, 3);
  c->LineTo(8, 3);
  EXPECT_EQ(b.GetPixel(4, 3), clBlack);
  c->MoveTo(0, 3);
  c->LineTo(8, 3);
  EXPECT_TRUE(test::SamePixels(b, before));
}

INSTANTIATE_TEST_SUITE_P(Formats, CanvasGeometry, ::testing::Values(pf24bit, pf1bit, pf32bit, pf8bit));

// An arc runs from where the ray through its start point crosses the ellipse
// to where the ray through its end point does, on any aspect ratio.
TEST(CanvasArc, EndsWhereTheRaysCrossTheEllipse) {
  struct Case {
    int w, h;
    double from, to;  // degrees, counter-clockwise from three o'clock
  };
  for (const Case& k : {Case{200, 100, 0, 45}, Case{100, 200, 30, 80}, Case{120, 120, 10, 100},
                        Case{300, 60, 100, 200}, Case{80, 240, 200, 330}}) {
    TBitmap b(k.w + 20, k.h + 20, pf24bit);
    TCanvas* c = b.Canvas();
    c->Pen()->SetColor(clBlack);
    const double cx = 10 + k.w / 2.0, cy = 10 + k.h / 2.0, rx = k.w / 2.0, ry = k.h / 2.0;
    auto ray = [&](double deg, double len) {
      const double a = deg * M_PI / 180;
      return std::pair<double, double>(cx + len * std::cos(a), cy - len * std::sin(a));
    };
    // The crossing of the ray at deg with the ellipse.
    auto crossing = [&](double deg) {
      const double a = deg * M_PI / 180;
      return ray(deg, rx * ry / std::hypot(ry * std::cos(a), rx * std::sin(a)));
    };
    const auto s = ray(k.from, 400), e = ray(k.to, 400);
    c->Arc(10, 10, 10 + k.w, 10 + k.h, int(std::lround(s.first)), int(std::lround(s.second)),
           int(std::lround(e.first)), int(std::lround(e.second)));
    c->EndPaint();
    std::vector<std::pair<int, int>> drawn;
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x)
        if (b.GetPixel(x, y) == clBlack) drawn.emplace_back(x, y);
    ASSERT_FALSE(drawn.empty());
    auto nearest = [&](std::pair<double, double> p) {
      double best = 1e9;
      for (auto [x, y] : drawn) best = std::min(best, std::hypot(x + 0.5 - p.first, y + 0.5 - p.second));
      return best;
    };
    const std::string what = std::to_string(k.w) + "x" + std::to_string(k.h) + " " + std::to_string(k.from);
    EXPECT_LT(nearest(crossing(k.from)), 2.5) << what;
    EXPECT_LT(nearest(crossing(k.to)), 2.5) << what;
    // Nothing is drawn beyond the ends: every pixel is near the true arc.
    std::vector<std::pair<double, double>> arc;
    for (double d = k.from; d <= k.to; d += 0.05) arc.push_back(crossing(d));
    for (auto [x, y] : drawn) {
      double best = 1e9;
      for (auto [ax, ay] : arc) best = std::min(best, std::hypot(x + 0.5 - ax, y + 0.5 - ay));
      ASSERT_LT(best, 2.5) << what << " pixel " << x << "," << y;
    }
  }
}

// A 24-bit picture stretched, whole or in part, lands with the same pixels
// as its 32-bit copy: scaled 24-bit draws take a converting shortcut.
TEST(CanvasDrawImage, ScaledTwentyFourBitDrawsLikeThirtyTwoBit) {
  TBitmap src(16, 12, pf24bit);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x) src.SetPixel(x, y, RGB(uint8_t(x * 16), uint8_t(y * 20), uint8_t(x * y)));
  const QImage img24 = src.SharedImage(), img32 = img24.convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(img24.format(), QImage::Format_BGR888);
  struct Case { TRect d, s; };
  for (const Case& k : {Case{Rect(3, 4, 50, 33), Rect(0, 0, 16, 12)}, Case{Rect(0, 0, 7, 5), Rect(0, 0, 16, 12)},
                        Case{Rect(10, 2, 71, 60), Rect(3, 2, 11, 9)}, Case{Rect(5, 5, 21, 17), Rect(0, 0, 16, 12)}}) {
    TBitmap a(80, 64, pf24bit), b(80, 64, pf24bit);
    a.Canvas()->DrawImage(k.d, img24, k.s);
    b.Canvas()->DrawImage(k.d, img32, k.s);
    a.Canvas()->EndPaint();
    b.Canvas()->EndPaint();
    EXPECT_TRUE(test::SamePixels(a, b)) << k.d.Left << "," << k.d.Top << " " << k.d.Width() << "x" << k.d.Height();
  }
}

// A palette bitmap is drawn through a working copy. Direct writes between
// canvas uses must survive, and pixels the canvas did not touch keep their
// index even when another palette entry has the same color.
TEST(CanvasPalette, DirectWritesSurviveAndDuplicateEntriesKeepTheirIndex) {
  for (TPixelFormat pf : {pf8bit, pf4bit}) {
    TBitmap b(8, 8, pf);
    std::vector<TRGB> pal = b.Palette();
    pal[1] = pal[2] = TRGB{10, 20, 30};
    pal[3] = TRGB{200, 100, 50};
    b.SetPalette(pal);
    auto index = [&](int x, int y) {
      const uint8_t* r = b.Scanline(y);
      return pf == pf8bit ? r[x] : (x & 1) ? r[x >> 1] & 15 : r[x >> 1] >> 4;
    };
    auto setIndex = [&](int x, int y, int i) {
      uint8_t* r = b.Scanline(y);
      if (pf == pf8bit) r[x] = uint8_t(i);
      else r[x >> 1] = (x & 1) ? uint8_t((r[x >> 1] & 0xF0) | i) : uint8_t((r[x >> 1] & 0x0F) | (i << 4));
    };
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) setIndex(x, y, 2);
    // Reading through the canvas makes its working copy without drawing.
    TBitmap dst(8, 8, pf24bit);
    dst.Canvas()->CopyRect(Rect(0, 0, 8, 8), b.Canvas(), Rect(0, 0, 8, 8));
    setIndex(0, 0, 3);
    EXPECT_EQ(b.Canvas()->Pixels(0, 0), RGB(50, 100, 200)) << pf;
    b.Canvas()->Brush()->SetColor(RGB(50, 100, 200));
    b.Canvas()->FillRect(Rect(5, 5, 7, 7));
    EXPECT_EQ(index(0, 0), 3) << pf;
    EXPECT_EQ(index(5, 5), 3) << pf;
    EXPECT_EQ(index(4, 4), 2) << pf;
    EXPECT_EQ(index(7, 7), 2) << pf;
  }
}
