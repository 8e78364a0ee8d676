// A whole session with the demo, driven the way a user drives it: the menus,
// the open and save dialogs, the processing previews form, the save
// parameters form and a mouse drag on the picture.
#include <gtest/gtest.h>

#ifdef KORVANE_DEMO_WINDOW

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "apps/korvane-demo/mainwindow.h"
#include "korvane/dialogs/io_previews.h"
#include "korvane/dialogs/proc_previews.h"
#include "tests/file_dialog_support.h"
#include "tests/test_support.h"

using namespace korvane;
using namespace korvane::demo;

using korvane::test::Accept;
using korvane::test::OnNextModal;

namespace {

void Trigger(MainWindow& w, const char* name) {
  auto* a = w.findChild<QAction*>(name);
  ASSERT_NE(a, nullptr) << name;
  ASSERT_TRUE(a->isEnabled()) << name;
  a->trigger();
}

void OpenThroughDialog(MainWindow& w, const QString& file) {
  OnNextModal<QFileDialog>([file](QFileDialog* d) {
    d->selectFile(file);
    Accept(d);
  });
  Trigger(w, "open");
}

// Sum of squared distances of the channel values from their mean: grows with
// the contrast.
double Spread(TBitmap& b) {
  double sum = 0, sq = 0, n = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const unsigned p = test::Pixel24(b, x, y);
      for (int s = 0; s < 24; s += 8) {
        const double v = (p >> s) & 255;
        sum += v, sq += v * v, n += 1;
      }
    }
  return sq - sum * sum / n;
}

}  // namespace

TEST(DemoScript, OpenContrastSelectNegativeUndoSavePngAndReload) {
  KORVANE_REQUIRE_SHARED(jpeg, "fixtures/jpg/ycbcr422_120x90_72dpi_pillow.jpg");
  QTemporaryDir dir;
  MainWindow w;
  w.setAttribute(Qt::WA_DontShowOnScreen);
  w.resize(kScreenshotWidth, kScreenshotHeight);
  w.show();
  QCoreApplication::processEvents();
  TKorvane* v = w.View();

  // File > Open.
  OpenThroughDialog(w, QString::fromStdString(jpeg));
  ASSERT_EQ(v->GetBitmap()->Width(), 120);
  ASSERT_EQ(v->GetBitmap()->Height(), 90);
  EXPECT_TRUE(w.windowTitle().startsWith("ycbcr422_120x90_72dpi_pillow.jpg"));
  TBitmap opened;
  opened.Assign(v->GetBitmap());

  // Image > Previews..., the contrast page, OK.
  int shows = 0;
  TfPreviews::ShowHook = [&shows](TfPreviews* f) {
    ++shows;
    ASSERT_TRUE(f->SetActivePage(ppgContrast));
    f->SetValue(pvContrast, 40);
    f->OkButton()->click();
  };
  Trigger(w, "procPreviews");
  TfPreviews::ShowHook = nullptr;
  ASSERT_EQ(shows, 1);
  TBitmap contrasted;
  contrasted.Assign(v->GetBitmap());
  EXPECT_FALSE(test::SamePixels(contrasted, opened));
  EXPECT_GT(Spread(contrasted), Spread(opened) * 1.2);

  // A rectangle dragged with Mouse > Select rectangle, at 100 % from the
  // picture's top-left corner.
  Trigger(w, "mouse.rect");
  ASSERT_TRUE(v->GetMouseInteract().Contains(miSelect));
  ASSERT_EQ(v->GetZoom(), 100);
  const QPoint o = v->ClientArea().topLeft() + QPoint(v->GetOffsetX(), v->GetOffsetY());
  QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, o + QPoint(20, 10));
  QTest::mouseMove(v, o + QPoint(40, 30));
  QTest::mouseMove(v, o + QPoint(60, 50));
  QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, o + QPoint(60, 50));
  ASSERT_TRUE(v->Selected());
  const int x1 = v->GetSelX1(), y1 = v->GetSelY1(), x2 = v->GetSelX2(), y2 = v->GetSelY2();
  EXPECT_EQ(x1, 20);
  EXPECT_EQ(y1, 10);
  EXPECT_EQ(x2, 60);
  EXPECT_EQ(y2, 50);

  // Image > Colors > Negative works inside the selection only.
  Trigger(w, "image.negative");
  TBitmap* b = v->GetBitmap();
  EXPECT_EQ(test::Pixel24(*b, 30, 30), ~test::Pixel24(contrasted, 30, 30) & 0xFFFFFFu);
  EXPECT_EQ(test::Pixel24(*b, 100, 80), test::Pixel24(contrasted, 100, 80));
  EXPECT_EQ(test::Pixel24(*b, 5, 5), test::Pixel24(contrasted, 5, 5));

  // Image > Undo brings back the contrasted picture.
  Trigger(w, "image.undo");
  ASSERT_TRUE(test::SamePixels(*v->GetBitmap(), contrasted));

  // File > Save As: PNG, with the Advanced button's PNG page setting the
  // strongest compression.
  const QString saved = dir.filePath("result.png");
  int advancedPage = -1;
  OnNextModal<QFileDialog>([&](QFileDialog* d) {
    auto* types = d->findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    ASSERT_TRUE(types->itemText(4).contains("PNG"));
    types->setCurrentIndex(4);
    emit types->activated(4);
    emit types->textActivated(types->currentText());
    d->setDirectory(dir.path());
    d->findChild<QLineEdit*>("fileNameEdit")->setText("result.png");
    OnNextModal<TfIOPreviews>([&](TfIOPreviews* f) {
      advancedPage = int(f->ActivePage());
      f->PNGCompression->setCurrentIndex(9);  // "MAX"
      f->OkButton->click();
    });
    d->findChild<QPushButton*>("AdvancedButton")->click();
    Accept(d);
  });
  Trigger(w, "saveAs");
  EXPECT_EQ(advancedPage, int(iopPNG));
  ASSERT_TRUE(QFileInfo::exists(saved));
  EXPECT_EQ(w.IO()->Params()->PNG_Compression, 9);
  // The level reached the writer: the same picture stored uncompressed is
  // larger.
  w.IO()->Params()->PNG_Compression = 0;
  const QString plain = dir.filePath("plain.png");
  w.IO()->SaveToFile(plain.toStdString());
  EXPECT_LT(QFileInfo(saved).size(), QFileInfo(plain).size());

  // File > Open of the PNG gives back exactly the picture that was saved.
  Trigger(w, "image.negative");
  OpenThroughDialog(w, saved);
  EXPECT_TRUE(w.windowTitle().startsWith("result.png"));
  EXPECT_TRUE(test::SamePixels(*v->GetBitmap(), contrasted));
}

TEST(DemoScript, MoreOperationsHideTextAndReadItBack) {
  MainWindow w;
  for (const char* name :
       {"image.hideText", "image.readText", "image.merge", "image.userFilter", "image.castRange"})
    EXPECT_NE(w.findChild<QAction*>(name), nullptr) << name;
  TBitmap before;
  before.Assign(w.View()->GetBitmap());

  OnNextModal<QInputDialog>([](QInputDialog* d) {
    d->setTextValue("hidden words");
    d->accept();
  });
  Trigger(w, "image.hideText");
  EXPECT_FALSE(test::SamePixels(*w.View()->GetBitmap(), before));
  QString shown;
  OnNextModal<QMessageBox>([&shown](QMessageBox* m) {
    shown = m->text();
    m->accept();
  });
  Trigger(w, "image.readText");
  EXPECT_EQ(shown, "hidden words");
}

#endif
