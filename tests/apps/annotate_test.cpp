// The demo's Annotate menu: a box drawn in its box mode on the layer over a
// copy of the picture is burned into the picture, and the measurement modes
// leave the layer drawing polygons.
#include <gtest/gtest.h>

#ifdef KORVANE_DEMO_WINDOW

#include <QAction>
#include <QApplication>
#include <QTest>

#include "apps/korvane-demo/annotate.h"
#include "apps/korvane-demo/mainwindow.h"
#include "tests/test_support.h"

using namespace korvane;
using namespace korvane::demo;

TEST(DemoAnnotate, DrawnBoxIsBurnedIntoThePicture) {
  MainWindow w;
  w.setAttribute(Qt::WA_DontShowOnScreen);
  w.resize(kScreenshotWidth, kScreenshotHeight);
  w.show();
  TKorvaneVect* v = w.Annotation();
  ASSERT_NE(v, nullptr);
  w.View()->SetZoom(100);
  w.View()->SetViewXY(0, 0);
  EXPECT_FALSE(w.Annotating());
  auto* box = w.findChild<QAction*>(QString("annotate_%1").arg(int(miPutBox)));
  ASSERT_NE(box, nullptr);
  box->trigger();
  ASSERT_TRUE(w.Annotating());
  EXPECT_EQ(v->GetZoom(), 100);
  EXPECT_TRUE(korvane::test::SamePixels(*v->GetBitmap(), *w.View()->GetBitmap()));
  EXPECT_TRUE(v->GetMouseInteractVt() == TKVMouseInteractVt{miPutBox});
  const QPoint o = v->ClientArea().topLeft();
  QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, o + QPoint(20, 30));
  QTest::mouseMove(v, o + QPoint(90, 80));
  QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, o + QPoint(90, 80));
  ASSERT_EQ(v->ObjectsCount(), 1);
  TRect r;
  v->GetObjRect(0, r);
  EXPECT_EQ(r, Rect(v->XScr2Bmp(20), v->YScr2Bmp(30), v->XScr2Bmp(90), v->YScr2Bmp(80)));
  QAction* burn = nullptr;
  for (QAction* a : w.findChildren<QAction*>())
    if (a->text() == "B&urn objects into picture") burn = a;
  ASSERT_NE(burn, nullptr);
  burn->trigger();
  EXPECT_EQ(v->ObjectsCount(), 0);
  EXPECT_EQ(ColorToRGB(v->GetBitmap()->GetPixel(r.Left, (r.Top + r.Bottom) / 2)), TColor(clRed));
  // The burned layer became the picture, undoably.
  EXPECT_EQ(ColorToRGB(w.View()->GetBitmap()->GetPixel(r.Left, (r.Top + r.Bottom) / 2)), TColor(clRed));
  EXPECT_TRUE(w.View()->GetCanUndo());

  auto* len = w.findChild<QAction*>(QString("annotate_%1").arg(int(miLineLen)));
  ASSERT_NE(len, nullptr);
  len->trigger();
  EXPECT_TRUE(v->GetMouseInteract().Contains(miSelectPolygon));
  EXPECT_TRUE(v->GetMouseInteractVt() == TKVMouseInteractVt{miLineLen});

  // Back to the picture: the layer's mode is dropped.
  auto* leave = w.findChild<QAction*>("annotate_leave");
  ASSERT_NE(leave, nullptr);
  leave->trigger();
  EXPECT_FALSE(w.Annotating());
  EXPECT_FALSE(len->isChecked());
  EXPECT_TRUE(v->GetMouseInteractVt() == TKVMouseInteractVt());
}

#endif
