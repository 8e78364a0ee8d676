// The demo's Annotate menu: a box drawn in its box mode on the layer over a
// copy of the picture is burned into the picture, and the measurement modes
// leave the layer drawing polygons.
#include <gtest/gtest.h>

#ifdef KORVANE_DEMO_WINDOW

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QTest>
#include <cstdlib>

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
  EXPECT_TRUE(w.History().CanUndo());

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

// The layer's edits undo and redo from the Annotate menu and with the keys,
// which the layer claims from the window's own shortcuts (Delete would
// otherwise clear the picture's selection and leave the page).
TEST(DemoAnnotate, UndoAndRedoOfTheLayerThroughTheMenuAndTheKeys) {
  MainWindow w;
  w.setAttribute(Qt::WA_DontShowOnScreen);
  w.resize(kScreenshotWidth, kScreenshotHeight);
  w.show();
  w.activateWindow();
  TKorvaneVect* v = w.Annotation();
  w.View()->SetZoom(100);
  w.View()->SetViewXY(0, 0);
  auto* undo = w.findChild<QAction*>("annotate_undo");
  auto* redo = w.findChild<QAction*>("annotate_redo");
  ASSERT_NE(undo, nullptr);
  ASSERT_NE(redo, nullptr);
  EXPECT_FALSE(undo->isEnabled());
  auto drag = [v](QPoint a, QPoint b) {
    const QPoint o = v->ClientArea().topLeft();
    QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, o + a);
    QTest::mouseMove(v, o + b);
    QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, o + b);
  };
  w.findChild<QAction*>(QString("annotate_%1").arg(int(miPutBox)))->trigger();
  ASSERT_TRUE(w.Annotating());
  drag({40, 40}, {200, 150});
  w.findChild<QAction*>(QString("annotate_%1").arg(int(miPutEllipse)))->trigger();
  drag({260, 60}, {400, 200});
  w.findChild<QAction*>(QString("annotate_%1").arg(int(miPutLine)))->trigger();
  drag({60, 300}, {420, 260});
  ASSERT_EQ(v->ObjectsCount(), 3);
  EXPECT_TRUE(undo->isEnabled());

  // The menu's Undo takes the arrow back, Redo brings it again.
  undo->trigger();
  EXPECT_EQ(v->ObjectsCount(), 2);
  EXPECT_TRUE(redo->isEnabled());
  redo->trigger();
  EXPECT_EQ(v->ObjectsCount(), 3);

  // Delete and Ctrl+Z on the focused layer: the page stays.
  v->setFocus();
  ASSERT_GT(v->SelObjectCount(), 0);
  QTest::keyClick(v, Qt::Key_Delete);
  EXPECT_TRUE(w.Annotating());
  EXPECT_EQ(v->ObjectsCount(), 2);
  QTest::keyClick(v, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_TRUE(w.Annotating());
  EXPECT_EQ(v->ObjectsCount(), 3);

  // A colour change and a burn-in are steps too; undoing the burn-in gives
  // the picture back without the objects and the layer its objects.
  w.findChild<QMenu*>("annotate_colors")->actions().at(2)->trigger();  // blue
  const int line = v->GetSelObjects(0);
  EXPECT_EQ(v->GetObjPenColor(line), TColor(clBlue));
  TRect box;
  v->GetObjRect(0, box);
  QAction* burn = nullptr;
  for (QAction* a : w.findChildren<QAction*>())
    if (a->text() == "B&urn objects into picture") burn = a;
  ASSERT_NE(burn, nullptr);
  const TColor before = ColorToRGB(v->GetBitmap()->GetPixel(box.Left, (box.Top + box.Bottom) / 2));
  burn->trigger();
  EXPECT_EQ(v->ObjectsCount(), 0);
  EXPECT_EQ(ColorToRGB(w.View()->GetBitmap()->GetPixel(box.Left, (box.Top + box.Bottom) / 2)), TColor(clRed));
  undo->trigger();
  EXPECT_EQ(v->ObjectsCount(), 3);
  EXPECT_EQ(ColorToRGB(v->GetBitmap()->GetPixel(box.Left, (box.Top + box.Bottom) / 2)), before);
  EXPECT_EQ(ColorToRGB(w.View()->GetBitmap()->GetPixel(box.Left, (box.Top + box.Bottom) / 2)), before);
  undo->trigger();
  EXPECT_EQ(v->GetObjPenColor(line), TColor(clRed));

  // KORVANE_ANNOTATE_SHOT names a PNG for the page as it is now.
  if (const char* shot = std::getenv("KORVANE_ANNOTATE_SHOT")) {
    QApplication::processEvents();
    EXPECT_TRUE(w.grab().toImage().save(shot, "PNG"));
  }
}

#endif
