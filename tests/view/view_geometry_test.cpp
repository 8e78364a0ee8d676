// View arithmetic checked without a window: conversions, limits, fitting,
// mouse zoom steps, interaction rules, selection shapes and the dash pattern.
#include <gtest/gtest.h>

#include "korvane/view/anim_polygon.h"
#include "korvane/view/view_geometry.h"

using namespace korvane;

TEST(ViewGeometry, ConversionsRoundTripAndRoundHalvesToEven) {
  TViewGeometry g;
  for (int x = -3; x < 50; ++x) EXPECT_EQ(g.XScr2Bmp(g.XBmp2Scr(x)), x);
  g.Zoom = 300;
  EXPECT_EQ(g.XScr2Bmp(1), 0);
  EXPECT_EQ(g.XScr2Bmp(2), 1);
  g.Zoom = 200;
  EXPECT_EQ(g.XScr2Bmp(1), 0);  // 0.5 rounds to the even neighbour
  EXPECT_EQ(g.XScr2Bmp(3), 2);  // 1.5 too
  g.Zoom = 100;
  g.ViewX = 10;
  g.OffsetX = 4;
  EXPECT_EQ(g.XScr2Bmp(0), 6);
  EXPECT_EQ(g.XBmp2Scr(6), 0);
}

TEST(ViewGeometry, MaxOriginRespectsClientAndOuterSize) {
  int mx, my;
  ViewMaxXY(200, 100, 100, 100, 100, 100, 100, mx, my);
  EXPECT_EQ(mx, 100);
  EXPECT_EQ(my, 0);
  ViewMaxXY(200, 100, 100, 100, 100, 200, 100, mx, my);
  EXPECT_EQ(mx, 0);
  EXPECT_EQ(my, 0);
  ViewMaxXY(0, 100, 100, 10, 10, 10, 10, mx, my);
  EXPECT_EQ(mx, 0);
  ViewMaxXY(1, 1, 10, 0, 0, 0, 0, mx, my);  // zoomed to nothing
  EXPECT_EQ(mx, 0);
}

TEST(ViewGeometry, FitTakesTheSmallerRatio) {
  EXPECT_EQ(FitZoom(100, 100, 400, 200), 25);
  EXPECT_EQ(FitZoom(300, 300, 100, 150), 200);
  EXPECT_EQ(FitZoom(100, 100, 0, 5), 0);
}

TEST(ViewGeometry, MouseZoomSteps) {
  struct Case { int from, in, out; };
  for (Case c : {Case{2, 5, 2}, Case{33, 50, 25}, Case{100, 200, 75}, Case{150, 250, 100}, Case{250, 350, 150},
                 Case{1, 2, 2}, Case{75, 100, 50}}) {
    EXPECT_EQ(MouseZoomIn(c.from), c.in) << c.from;
    EXPECT_EQ(MouseZoomOut(c.from), c.out) << c.from;
  }
}

TEST(ViewGeometry, NewSelectionModeExcludesTheOthers) {
  TKVMouseInteract zs{miZoom, miScroll};
  EXPECT_EQ(ResolveMouseInteract(zs, zs + TKVMouseInteract{miSelectPolygon}), TKVMouseInteract{miSelectPolygon});
  EXPECT_EQ(ResolveMouseInteract({miSelectPolygon}, {miSelectPolygon, miScroll, miSelectCircle}),
            (TKVMouseInteract{miZoom, miScroll} * TKVMouseInteract{miSelectPolygon, miScroll, miSelectCircle}));
  EXPECT_EQ(ResolveMouseInteract({miSelectPolygon}, {miZoom, miSelectPolygon}), TKVMouseInteract{miZoom});
  EXPECT_EQ(ResolveMouseInteract({miZoom}, {miZoom, miSelectZoom, miSelect}), (TKVMouseInteract{miZoom, miSelect}));
  // Removing items adds nothing: stored as asked.
  EXPECT_EQ(ResolveMouseInteract({miZoom, miScroll}, {miScroll}), TKVMouseInteract{miScroll});
}

TEST(ViewGeometry, IsRectangle) {
  TPoint r[] = {{0, 0}, {10, 0}, {10, 5}, {0, 5}};
  TPoint rv[] = {{0, 0}, {0, 5}, {10, 5}, {10, 0}};
  TPoint notr[] = {{0, 0}, {10, 0}, {10, 5}, {5, 5}};
  TPoint flat[] = {{0, 0}, {10, 0}, {10, 0}, {0, 0}};
  EXPECT_TRUE(_IsRectangle(r, 4));
  EXPECT_TRUE(_IsRectangle(rv, 4));
  EXPECT_FALSE(_IsRectangle(notr, 4));
  EXPECT_FALSE(_IsRectangle(flat, 4));
  EXPECT_FALSE(_IsRectangle(r, 3));
}

TEST(ViewGeometry, EllipseVertexCount) {
  EXPECT_EQ(EllipseOutline(0, 0, 40, 20).size(), 31u);
  auto pts = EllipseOutline(100, 50, 10, 10);
  ASSERT_EQ(pts.size(), 15u);
  EXPECT_EQ(pts[0], Point(110, 50));
  EXPECT_TRUE(EllipseOutline(0, 0, 0, 30).empty());
}

TEST(AnimPolygon, GrowsBySixtyFourAndKeepsBoundingBox) {
  TKVAnimPolygon p(clBlack, clWhite, true);
  p.AddPoint(5, 7);
  EXPECT_EQ(p.X2, 0);  // one vertex does not set the box
  for (int i = 1; i < 64; ++i) p.AddPoint(5 + i, 7 - i);
  EXPECT_EQ(p.Capacity(), 64);
  p.AddPoint(-1, 100);
  EXPECT_EQ(p.Capacity(), 128);
  EXPECT_EQ(p.Count(), 65);
  EXPECT_EQ(p.X1, -1);
  EXPECT_EQ(p.X2, 68);
  EXPECT_EQ(p.Y1, -56);
  EXPECT_EQ(p.Y2, 100);
  EXPECT_EQ(p.At(0), Point(5, 7));
  EXPECT_EQ(p.At(65), Point(0, 0));
  p.Clear();
  EXPECT_EQ(p.Count(), 0);
  EXPECT_EQ(p.X2, 68);  // left as it is
}

TEST(AnimPolygon, DashesAreThreeAndThreeAndMarchOnePixelPerStep) {
  TBitmap b(20, 3, pf24bit);
  TKVAnimPolygon p(clBlack, clRed, true);
  p.AddPoint(0, 1);
  p.AddPoint(15, 1);
  auto id = [](TPoint q) { return q; };
  auto row = [&] {
    std::string s;
    for (int x = 0; x < 15; ++x) s += b.GetPixel(x, 1) == clBlack ? 'B' : b.GetPixel(x, 1) == clRed ? 'R' : '.';
    return s;
  };
  p.Draw(b.Canvas(), id, false);
  EXPECT_EQ(row(), "BBBRRRBBBRRRBBB");
  p.Step();
  p.Draw(b.Canvas(), id, false);
  EXPECT_EQ(row(), "BBRRRBBBRRRBBBR");
  for (int i = 0; i < 5; ++i) p.Step();
  EXPECT_EQ(p.Phase, 0);
}

// The integer formulas, written out: fit = trunc(outer / (w / 100)) =
// outer * 100 div w; zoomed = nearest(w * zoom / 100), halves to even;
// ideal = trunc(w / 100 * zoom) + 1.
TEST(ViewGeometry, IntegerFormulasOverEveryWidth) {
  auto nearest = [](int64_t n) {
    int64_t q = n / 100, r = n % 100;
    return r > 50 || (r == 50 && (q & 1)) ? q + 1 : q;
  };
  for (int w = 1; w <= 4000; ++w) {
    ASSERT_EQ(FitZoom(110, 110, w, w), 110 * 100 / w) << w;
    ASSERT_EQ(FitZoom(1234, 4000, w, 1), 1234 * 100 / w) << w;
    for (int zoom : {1, 33, 50, 150, 250, 333, 1000})
      ASSERT_EQ(ZoomedSize(w, zoom), nearest(int64_t(w) * zoom)) << w << " at " << zoom;
  }
  EXPECT_EQ(ZoomedSize(INT32_MAX, INT32_MAX), INT32_MAX);
  EXPECT_EQ(KVRoundDiv(-150, 100), -2);  // -1.5 to the even neighbour
  EXPECT_EQ(KVRoundDiv(-250, 100), -2);
}
