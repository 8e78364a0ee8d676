// The demo's File > Save As and File > Open through the dialogs with preview,
// and the Language menu reaching the dialogs' captions.
#include <gtest/gtest.h>

#ifdef KORVANE_DEMO_WINDOW

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "apps/korvane-demo/mainwindow.h"
#include "tests/file_dialog_support.h"
#include "tests/test_support.h"

using namespace korvane;
using namespace korvane::demo;

using korvane::test::Accept;
using korvane::test::OnNextModal;

TEST(DemoDialogs, SaveAsPngThenOpenThroughTheDialogs) {
  QTemporaryDir dir;
  MainWindow w;
  w.setAttribute(Qt::WA_DontShowOnScreen);
  w.resize(kScreenshotWidth, kScreenshotHeight);
  w.show();
  w.RunOp("negative");
  TBitmap shown;
  shown.Assign(w.View()->GetBitmap());

  w.findChild<QAction*>("language_2")->trigger();  // Italiano
  EXPECT_EQ(w.Language(), msItalian);
  EXPECT_EQ(w.View()->IO()->MsgLanguage, msItalian);
  QString advanced;
  OnNextModal<QFileDialog>([&](QFileDialog* d) {
    advanced = d->findChild<QPushButton*>("AdvancedButton")->text();
    auto* types = d->findChild<QComboBox*>("fileTypeCombo");
    types->setCurrentIndex(4);  // PNG
    emit types->activated(4);
    emit types->textActivated(types->currentText());
    d->setDirectory(dir.path());
    d->findChild<QLineEdit*>("fileNameEdit")->setText("saved");
    Accept(d);
  });
  w.findChild<QAction*>("saveAs")->trigger();
  EXPECT_EQ(advanced, "Avanzate...");
  const QString saved = dir.filePath("saved.png");
  ASSERT_TRUE(QFileInfo::exists(saved));

  QString preview;
  OnNextModal<QFileDialog>([&](QFileDialog* d) {
    preview = d->findChild<QCheckBox*>("PreviewCheck")->text();
    d->selectFile(saved);
    Accept(d);
  });
  w.RunOp("negative");  // the open must bring the saved picture back
  w.findChild<QAction*>("open")->trigger();
  EXPECT_EQ(preview, "Anteprima");
  EXPECT_TRUE(w.windowTitle().startsWith("saved.png"));
  EXPECT_TRUE(korvane::test::SamePixels(*w.View()->GetBitmap(), shown));
}

TEST(DemoDialogs, ScreenshotOfTheSaveDialogInALanguage) {
  DemoOptions o;
  QString error;
  EXPECT_FALSE(ParseDemoArgs({"--dialog", "open"}, o, error));  // only with --screenshot
  EXPECT_FALSE(ParseDemoArgs({"--screenshot", "x.png", "--dialog", "print"}, o, error));
  EXPECT_FALSE(ParseDemoArgs({"--language", "nl"}, o, error));
  QTemporaryDir dir;
  const QString png = dir.filePath("save.png");
  ASSERT_TRUE(ParseDemoArgs({"--screenshot", png, "--dialog", "save", "--language", "es"}, o, error))
      << error.toStdString();
  EXPECT_EQ(o.language, msSpanish);
  ASSERT_TRUE(SaveScreenshot(o, error)) << error.toStdString();
  QImage img(png);
  ASSERT_FALSE(img.isNull());
  // The preview pane at the right shows the sample picture on white.
  EXPECT_GT(img.width(), 600);
  EXPECT_EQ(img.pixelColor(img.width() - 20, 20), QColor(Qt::white));
}

#endif
