// The demo's Annotate menu: a box drawn in its box mode is burned into the
// picture, and the measurement modes leave the view drawing polygons.
#include <gtest/gtest.h>

#ifdef KORVANE_DEMO_WINDOW

#include <QAction>
#include <QApplication>
#include <QTest>

#include "apps/korvane-demo/annotate.h"
#include "apps/korvane-demo/mainwindow.h"

using namespace korvane;
using namespace korvane::demo;

TEST(DemoAnnotate, DrawnBoxIsBurnedIntoThePicture) {
  MainWindow w;
  w.setAttribute(Qt::WA_DontShowOnScreen);
  w.resize(kScreenshotWidth, kScreenshotHeight);
  w.show();
  auto* v = dynamic_cast<TKorvaneVect*>(w.View());
  ASSERT_NE(v, nullptr);
  v->SetZoom(100);
  v->SetViewXY(0, 0);
  auto* box = w.findChild<QAction*>(QString("annotate_%1").arg(int(miPutBox)));
  ASSERT_NE(box, nullptr);
  box->trigger();
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

  auto* len = w.findChild<QAction*>(QString("annotate_%1").arg(int(miLineLen)));
  ASSERT_NE(len, nullptr);
  len->trigger();
  EXPECT_TRUE(v->GetMouseInteract().Contains(miSelectPolygon));
  EXPECT_TRUE(v->GetMouseInteractVt() == TKVMouseInteractVt{miLineLen});
}

#endif
