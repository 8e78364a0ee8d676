// The ruler box: fitting and view limits, grip limits and their events, the
// painted scale, label texts, and grips driven with the mouse, including a
// drag held beyond the end that keeps scrolling.
#include "korvane/controls/ruler_box.h"

#include <gtest/gtest.h>

#include <QTest>
#include <vector>

using namespace korvane;

TEST(RulerBox, FitInViewUsesTheRulersLength) {
  TRulerBox r(nullptr);
  r.SetBounds(0, 0, 256, 40);
  r.SetViewMin(0);
  r.SetViewMax(255);
  r.SetFitInView(true);
  EXPECT_DOUBLE_EQ(r.GetDotPerUnit(), 256.0 / 255.0);
  // A vertical ruler measures along its height.
  r.SetRulerDir(rdVertical);
  r.SetBounds(0, 0, 40, 511);
  EXPECT_DOUBLE_EQ(r.GetDotPerUnit(), 511.0 / 255.0);
  // An empty range leaves the scale as it was.
  r.SetViewMax(0);
  EXPECT_DOUBLE_EQ(r.GetDotPerUnit(), 511.0 / 255.0);
}

TEST(RulerBox, ViewLimitsKeepARangeShorterThanTheRulerAtItsStart) {
  TRulerBox r(nullptr);  // 300 pixels at 1 pixel a unit
  r.SetViewMax(1000);
  r.SetViewPos(900);
  EXPECT_EQ(r.GetViewPos(), 700);
  r.SetViewMax(100);
  r.SetViewPos(0);
  r.SetViewPos(0);
  EXPECT_EQ(r.GetViewPos(), 0);
}

TEST(RulerBox, GripBeyondItsMaxLandsOnMaxAndReportsTwice) {
  TRulerBox r(nullptr);
  std::vector<double> seen;
  r.OnRulerPosChange = [&](TObject*, int g) { seen.push_back(r.GetGripsPos(g)); };
  r.SetGripsPos(0, 150);  // default limits 0..0: none apply
  EXPECT_EQ(r.GetGripsPos(0), 150);
  EXPECT_EQ(seen, std::vector<double>{150});
  seen.clear();
  r.SetGripsMax(0, 100);
  EXPECT_EQ(r.GetGripsPos(0), 100);
  seen.clear();
  r.SetGripsPos(0, 120);
  EXPECT_EQ(r.GetGripsPos(0), 100);
  EXPECT_EQ(seen, (std::vector<double>{100, 100}));
  r.SetGripsPos(5, 1);  // no such grip
  EXPECT_EQ(r.GetGripsPos(5), 0);
}

TEST(RulerBox, ShrinkingTheGripsKeepsTheFirstOnes) {
  TRulerBox r(nullptr);
  r.SetGripsCount(3);
  r.SetGripsPos(0, 7);
  r.SetGripsPos(2, 30);
  r.SetGripsCol(2, clRed);
  r.SetGripsCount(1);
  EXPECT_EQ(r.GetGripsCount(), 1);
  EXPECT_EQ(r.GetGripsPos(0), 7);
  r.SetGripsCount(3);
  EXPECT_EQ(r.GetGripsPos(2), 0);
  EXPECT_EQ(r.GetGripsCol(2), r.GetBackground());
}

TEST(RulerBox, LabelTexts) {
  EXPECT_EQ(RulerLabel(255, true), "FF");
  EXPECT_EQ(RulerLabel(-16, true), "-10");
  EXPECT_EQ(RulerLabel(0, true), "0");
  EXPECT_EQ(RulerLabel(40, false), "40");
  EXPECT_EQ(RulerLabel(-2.5, false), "-2.5");
  EXPECT_EQ(RulerLabel(0.1 + 0.2, false), "0.3");
  EXPECT_EQ(RulerLabel(1e20, false), "1E+020");
}

TEST(RulerBox, TicksStartAtTheMultipleBelowViewPos) {
  TRulerBox r(nullptr);
  r.SetLabelFreq(1000);  // no label in sight
  r.SetViewPos(15);
  TBitmap* b = r.OffscreenBitmap();
  const int rh = r.GetRulerHeight(), len = rh / 4;
  const TColor ink = ColorToRGB(r.Font()->Color());
  auto tick = [&](int x) {
    for (int y = rh - len + 1; y <= rh; ++y)
      if (b->GetPixel(x, y) != ink) return false;
    return b->GetPixel(x, rh - len) != ink;
  };
  EXPECT_TRUE(tick(5));   // value 20
  EXPECT_TRUE(tick(15));  // value 30
  EXPECT_FALSE(tick(0));
  EXPECT_FALSE(tick(10));
  // Without a scale to draw (no pixels per unit) the strip stays plain.
  r.SetDPU(0);
  EXPECT_FALSE(tick(5));
}

namespace {

struct Ruler {
  TRulerBox r{nullptr};
  std::vector<int> clicks;
  std::vector<double> rulerClicks;
  Ruler() {
    r.OnRulerGripClick = [this](TObject*, int g) { clicks.push_back(g); };
    r.OnRulerClick = [this](TObject*, double v) { rulerClicks.push_back(v); };
    r.SetGripsPos(0, 50);
  }
};

}  // namespace

TEST(RulerBox, MouseClicksAndDragsGrips) {
  Ruler t;
  const int y = t.r.Height() - 3;  // among the grips, below the ruler
  QTest::mouseClick(&t.r, Qt::LeftButton, Qt::NoModifier, QPoint(52, y));
  EXPECT_EQ(t.clicks, std::vector<int>{0});
  QTest::mouseClick(&t.r, Qt::LeftButton, Qt::NoModifier, QPoint(120, y));
  EXPECT_EQ(t.rulerClicks, std::vector<double>{120});
  // The grip keeps its offset from the pointer.
  QTest::mousePress(&t.r, Qt::LeftButton, Qt::NoModifier, QPoint(52, y));
  QTest::mouseMove(&t.r, QPoint(90, y));
  QTest::mouseRelease(&t.r, Qt::LeftButton, Qt::NoModifier, QPoint(90, y));
  EXPECT_EQ(t.r.GetGripsPos(0), 88);
  EXPECT_EQ(t.clicks.size(), 1u);
  // Without pixels per unit a drag moves nothing.
  t.r.SetDPU(0);
  QTest::mousePress(&t.r, Qt::LeftButton, Qt::NoModifier, QPoint(2, y));
  QTest::mouseMove(&t.r, QPoint(40, y));
  QTest::mouseRelease(&t.r, Qt::LeftButton, Qt::NoModifier, QPoint(40, y));
  EXPECT_EQ(t.r.GetGripsPos(0), 88);
}

TEST(RulerBox, VerticalRulerReportsClicksAlongItsHeight) {
  Ruler t;
  t.r.SetRulerDir(rdVertical);
  t.r.SetBounds(0, 0, 40, 300);
  QTest::mouseClick(&t.r, Qt::LeftButton, Qt::NoModifier, QPoint(37, 200));
  EXPECT_EQ(t.rulerClicks, std::vector<double>{200});
  QTest::mouseClick(&t.r, Qt::LeftButton, Qt::NoModifier, QPoint(37, 50));
  EXPECT_EQ(t.clicks, std::vector<int>{0});
}

TEST(RulerBox, GripHeldPastTheEdgeScrollsUntilReleased) {
  Ruler t;
  const int y = t.r.Height() - 3;
  QTest::mousePress(&t.r, Qt::LeftButton, Qt::NoModifier, QPoint(50, y));
  QTest::mouseMove(&t.r, QPoint(-10, y));
  EXPECT_EQ(t.r.GetViewPos(), -1);
  EXPECT_EQ(t.r.GetGripsPos(0), -1);
  // Held still beyond the edge, the view keeps moving and the grip with it.
  QTRY_VERIFY(t.r.GetViewPos() <= -4);
  EXPECT_EQ(t.r.GetGripsPos(0), t.r.GetViewPos());
  QTest::mouseRelease(&t.r, Qt::LeftButton, Qt::NoModifier, QPoint(-10, y));
  EXPECT_FALSE(t.r.TimerActive(TRulerBox::kScrollTimer));
  // Past the right end, up to the view's limit.
  t.r.SetViewMax(302);
  EXPECT_EQ(t.r.GetViewPos(), 0);
  t.r.SetGripsPos(0, 250);
  QTest::mousePress(&t.r, Qt::LeftButton, Qt::NoModifier, QPoint(250, y));
  QTest::mouseMove(&t.r, QPoint(400, y));
  // The grip reaches the end of the range, shown at the right edge.
  QTRY_COMPARE(t.r.GetGripsPos(0), 302.0);
  EXPECT_EQ(t.r.GetViewPos(), 2);
  QTest::mouseRelease(&t.r, Qt::LeftButton, Qt::NoModifier, QPoint(400, y));
  EXPECT_EQ(t.clicks.size(), 0u);
}
