// The HSV box: its setters and clamps, and the colors picked with the mouse
// on the hue bar, in the area and in the gap between them.
#include "korvane/controls/hsv_box.h"

#include <gtest/gtest.h>

#include <QTest>

#include "korvane/pixels/colors.h"

using namespace korvane;

namespace {

struct Box {
  THSVBox box{nullptr};
  int changes = 0;
  Box() {
    box.OnChange = [this](TObject*) { ++changes; };
  }
  void Click(int x, int y) { QTest::mouseClick(&box, Qt::LeftButton, Qt::NoModifier, QPoint(x, y)); }
  unsigned Shown(int x, int y) { return box.ClientImage().pixel(x, y) & 0xFFFFFF; }
};

unsigned Hsv(int h, int s, int v) {
  TRGB c{};
  HSV2RGB(c, h, s, v);
  return (unsigned(c.r) << 16) | (unsigned(c.g) << 8) | c.b;
}

}  // namespace

TEST(HSVBox, SettersClampAndDeriveTheColorWithoutOnChange) {
  Box b;
  b.box.SetHue(400);
  b.box.SetSat(-5);
  b.box.SetVal(150);
  EXPECT_EQ(b.box.GetHue(), 359);
  EXPECT_EQ(b.box.GetSat(), 0);
  EXPECT_EQ(b.box.GetVal(), 99);
  b.box.SetRGB(255, 0, 0);
  EXPECT_EQ(b.box.GetHue(), 0);
  EXPECT_EQ(b.box.GetSat(), 99);
  EXPECT_EQ(b.box.GetVal(), 99);
  EXPECT_EQ(b.box.GetColor(), clRed);
  b.box.SetColor(RGB(0, 0, 255));
  EXPECT_EQ(b.box.GetBlue(), 255);
  EXPECT_EQ(b.box.GetHue(), 240);
  EXPECT_EQ(b.changes, 0);
}

TEST(HSVBox, HueBarEndsMatchThePaintedBar) {
  Box b;
  const int w = b.box.Width(), h = b.box.Height();
  b.Click(w - 10, 0);
  EXPECT_EQ(b.box.GetHue(), 359);
  b.Click(w - 10, h - 1);
  EXPECT_EQ(b.box.GetHue(), 0);
  EXPECT_EQ(b.changes, 2);
  // The bottom row of the bar is hue 0, the top row the last hue painted.
  EXPECT_EQ(b.box.OffscreenBitmap()->GetPixel(w - 10, h - 1), clRed);
  EXPECT_EQ(b.Shown(w - 10, 0), Hsv((h - 1) * 360 / h, 99, 99));
  // The hue grip is outlined inverted over the bar, near the bottom for hue 0.
  const int gy = int(std::lround((h - 1) * 359 / 360.0)) - 2, d = h - 1 - gy;
  EXPECT_EQ(b.Shown(w - 10, gy), ~Hsv(d * 360 / h, 99, 99) & 0xFFFFFF);
}

TEST(HSVBox, AreaCornerPicksBlackAndTheGapNothing) {
  Box b;
  b.box.SetHue(120);
  b.box.SetSat(50);
  b.box.SetVal(50);
  const int a = b.box.AreaWidth(), h = b.box.Height();
  b.Click(a + 2, h / 2);  // in the gap
  EXPECT_EQ(b.box.GetSat(), 50);
  EXPECT_EQ(b.box.GetVal(), 50);
  EXPECT_EQ(b.changes, 0);
  b.Click(0, h - 1);
  EXPECT_EQ(b.box.GetSat(), 0);
  EXPECT_EQ(b.box.GetVal(), 0);
  EXPECT_EQ(b.box.GetColor(), clBlack);
  EXPECT_EQ(b.changes, 1);
  // The top-right corner of the area is the full color of the hue.
  b.Click(a - 1, 0);
  EXPECT_EQ(b.box.GetSat(), 99);
  EXPECT_EQ(b.box.GetVal(), 99);
  EXPECT_EQ(b.box.GetColor(), RGB(0, 255, 0));
  // A drag that leaves the area stays on its edge.
  QTest::mousePress(&b.box, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
  QTest::mouseMove(&b.box, QPoint(a + 3, 10));
  EXPECT_EQ(b.box.GetSat(), 99);
  QTest::mouseRelease(&b.box, Qt::LeftButton, Qt::NoModifier, QPoint(a + 3, 10));
}

TEST(HSVBox, BoxesTooSmallToScaleKeepTheirValues) {
  Box b;
  b.box.SetBounds(0, 0, 24, 1);
  b.box.SetHue(200);
  b.box.ClientImage();
  b.Click(20, 0);  // the hue bar, one row high
  b.Click(0, 0);   // no area: this is the gap
  EXPECT_EQ(b.box.GetHue(), 200);
  EXPECT_EQ(b.changes, 0);
  // A one-column area holds saturation 0 only.
  b.box.SetBounds(0, 0, 26, 50);
  b.box.SetSat(40);
  b.Click(0, 49);
  EXPECT_EQ(b.box.GetSat(), 0);
  EXPECT_EQ(b.changes, 1);
}
