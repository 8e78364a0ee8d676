// The demo's panel of small controls driven headless: the HSV box sets the
// view's background and the ruler's grips the thresholds of the level stretch.
#include <gtest/gtest.h>

#ifdef KORVANE_DEMO_WINDOW

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "apps/korvane-demo/controls_panel.h"
#include "apps/korvane-demo/mainwindow.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/histogram.h"
#include "tests/test_support.h"

using namespace korvane;
using namespace korvane::demo;

TEST(DemoPanel, DrivesTheViewBackgroundAndTheLevelStretch) {
  MainWindow w;
  w.setAttribute(Qt::WA_DontShowOnScreen);
  w.resize(kScreenshotWidth, kScreenshotHeight);
  w.show();
  QCoreApplication::processEvents();
  ASSERT_FALSE(w.Panel()->isVisible());
  DemoOptions o;
  o.panel = true;
  w.ApplyOptions(o);
  ControlsPanel* p = w.Panel();
  ASSERT_TRUE(p->isVisible());

  // The top-right corner of the area at hue 0 is full red.
  p->HSV()->SetHue(0);
  QTest::mouseClick(p->HSV(), Qt::LeftButton, Qt::NoModifier, QPoint(p->HSV()->AreaWidth() - 1, 0));
  EXPECT_EQ(ColorToRGB(w.View()->GetBackground()), clRed);
  EXPECT_EQ(p->Gradient()->GetEndColor(), clRed);

  TBitmap* b = w.View()->GetBitmap();
  test::FillPattern24(*b, 64, 48, 7);
  w.View()->Update();
  p->Histogram()->Update();
  const QImage before = p->Histogram()->ClientImage().copy();
  TBitmap expected;
  expected.Assign(b);
  p->Levels()->SetGripsPos(0, 40);
  p->Levels()->SetGripsPos(1, 180);
  EXPECT_EQ(p->LowThreshold(), 40);
  EXPECT_EQ(p->HighThreshold(), 180);
  p->findChild<QPushButton*>("stretchLevels")->click();
  _HistEqualize(&expected, CreateRGB(40, 40, 40), CreateRGB(180, 180, 180), 0, 0, 63, 47);
  EXPECT_TRUE(test::SamePixels(*b, expected));
  EXPECT_NE(p->Histogram()->ClientImage(), before);
}

#endif
