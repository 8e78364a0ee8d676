// The gradient bar: its ramp, the painted bar against the picked index, and
// the mouse with and without grip interaction.
#include "korvane/controls/gradient_bar.h"

#include <gtest/gtest.h>

#include <QTest>

using namespace korvane;

namespace {
unsigned Shown(TKVGradientBar& g, int x, int y) { return g.ClientImage().pixel(x, y) & 0xFFFFFF; }
unsigned Rgb(TColor c) {
  return (unsigned(GetRValue(c)) << 16) | (unsigned(GetGValue(c)) << 8) | GetBValue(c);
}
}  // namespace

TEST(GradientBar, RampRunsExactlyFromBeginToEnd) {
  TKVGradientBar g(nullptr);
  EXPECT_EQ(g.GetColor(), clBlack);
  g.SetColorIndex(255);
  EXPECT_EQ(g.GetColor(), clWhite);
  g.SetBeginColor(clWhite);
  g.SetEndColor(clBlack);
  EXPECT_EQ(g.RampColor(128), RGB(127, 127, 127));
  // Uneven steps: the ends are the two colors, and entry 153 of a drop of
  // 195 is exactly 117 down (153 x 195 / 255).
  g.SetBeginColor(RGB(10, 200, 33));
  g.SetEndColor(RGB(250, 5, 101));
  EXPECT_EQ(g.RampColor(0), RGB(10, 200, 33));
  EXPECT_EQ(g.RampColor(255), RGB(250, 5, 101));
  EXPECT_EQ(GetGValue(g.RampColor(153)), 200 - 117);
  EXPECT_EQ(g.GetRGB().r, 250);
}

TEST(GradientBar, VerticalBarPicksFromTheTopAndPaintsStepZeroAtTheBottom) {
  TKVGradientBar g(nullptr);  // vertical, 40 x 300
  g.SetBeginColor(RGB(200, 0, 0));
  g.SetEndColor(RGB(0, 0, 200));
  int changes = 0;
  g.OnChange = [&](TObject*) { ++changes; };
  g.SetColorIndex(200);
  QTest::mouseClick(&g, Qt::LeftButton, Qt::NoModifier, QPoint(20, 0));
  EXPECT_EQ(g.GetColorIndex(), 0);
  EXPECT_EQ(g.GetColor(), RGB(200, 0, 0));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(Shown(g, 20, 299), 0xC80000u);
  EXPECT_EQ(Shown(g, 20, 150), Rgb(g.RampColor(255 * 149 / 299)));
  // The grip at index 0 outlines rows -3..2 inverted, across the bar.
  EXPECT_EQ(Shown(g, 20, 2), ~Rgb(g.RampColor(255 * 297 / 299)) & 0xFFFFFF);
  // Dragging below the bar stops at its last row.
  QTest::mousePress(&g, Qt::LeftButton, Qt::NoModifier, QPoint(20, 100));
  QTest::mouseMove(&g, QPoint(20, 400));
  QTest::mouseRelease(&g, Qt::LeftButton, Qt::NoModifier, QPoint(20, 400));
  EXPECT_EQ(g.GetColorIndex(), 255);
}

TEST(GradientBar, WithoutGripInteractionClicksChangeNothing) {
  TKVGradientBar g(nullptr);
  g.SetDirection(gdHorizontal);
  g.SetBounds(0, 0, 256, 20);
  g.SetColorIndex(100);
  g.SetMouseInteractGr({});
  int changes = 0;
  g.OnChange = [&](TObject*) { ++changes; };
  QTest::mouseClick(&g, Qt::LeftButton, Qt::NoModifier, QPoint(30, 10));
  EXPECT_EQ(g.GetColorIndex(), 100);
  EXPECT_EQ(changes, 0);
  // No grip: every column shows its plain ramp entry.
  for (int x = 0; x < 256; ++x) ASSERT_EQ(Shown(g, x, 0), Rgb(g.RampColor(x))) << x;
}

TEST(GradientBar, OnePixelLongBarIgnoresTheMouse) {
  TKVGradientBar g(nullptr);
  g.SetDirection(gdHorizontal);
  g.SetBounds(0, 0, 1, 20);
  g.SetColorIndex(7);
  QTest::mouseClick(&g, Qt::LeftButton, Qt::NoModifier, QPoint(0, 5));
  EXPECT_EQ(g.GetColorIndex(), 7);
  EXPECT_EQ(Shown(g, 0, 5), Rgb(ColorToRGB(g.Color())));
}
