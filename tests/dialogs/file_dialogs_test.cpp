// The open and save dialogs, driven headless: the running QFileDialog is
// reached through Dialog() from OnShow, files are chosen through its name
// box, and the pane's views, labels and buttons are read back.
#include "korvane/dialogs/file_dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <functional>

#include "korvane/dialogs/io_previews.h"
#include "korvane/io/kvio.h"
#include "korvane/multi/kvmio.h"
#include "korvane/multi/kvmview.h"
#include "korvane/view/kvview.h"
#include "tests/file_dialog_support.h"
#include "tests/test_support.h"

using namespace korvane;

using korvane::test::Accept;

namespace {

// Runs step once the dialog shows (from the event loop of its modal run).
void WhenShown(TKVCommonDialog& dlg, std::function<void()> step) {
  dlg.OnShow = [step](TObject*) { QTimer::singleShot(0, step); };
}

// Types a name into the dialog's name box and lets the dialog see the change.
void Choose(TOpenKorvaneDialog& dlg, const QString& path) {
  dlg.Dialog()->selectFile(path);
  dlg.DoSelectionChange();
}

void SaveImage(const std::string& name, int w, int h, unsigned seed) {
  TBitmap bmp;
  korvane::test::FillPattern24(bmp, w, h, seed);
  TKorvaneIO io;
  io.SetAttachedBitmap(&bmp);
  io.SaveToFile(name);
}

void SaveAnimatedGif(const std::string& name, int frames) {
  TKorvaneMView view(nullptr);
  view.SetBounds(0, 0, 100, 100);
  TKorvaneMIO mio;
  mio.SetAttachedMView(&view);
  for (int i = 0; i < frames; ++i) {
    TBitmap b;
    korvane::test::FillPattern24(b, 16, 12, unsigned(i + 1));
    view.SetImage(view.AppendImage(), &b);
  }
  mio.SaveToFileGif(name);
}

class FileDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallKorvaneLZWCoders();
    ASSERT_TRUE(dir.isValid());
  }
  std::string Path(const char* n) const { return dir.filePath(n).toStdString(); }
  QTemporaryDir dir;
};

}  // namespace

TEST_F(FileDialogs, GifsPreviewInTheSingleOrTheThumbnailView) {
  SaveAnimatedGif(Path("one.gif"), 1);
  SaveAnimatedGif(Path("three.gif"), 3);
  TOpenKorvaneDialog dlg;
  dlg.SetInitialDir(dir.path().toStdString() + "/");
  EXPECT_EQ(dlg.GetInitialDir(), dir.path().toStdString());
  bool single = false, thumbs = false;
  WhenShown(dlg, [&] {
    Choose(dlg, dir.filePath("one.gif"));
    single = dlg.KorvaneView->isVisibleTo(dlg.PicturePanel) &&
             !dlg.KorvaneMView->isVisibleTo(dlg.PicturePanel) && !dlg.PlayButton->isEnabled() &&
             dlg.PreviewButton->isEnabled() && dlg.KorvaneView->GetBitmap()->Width() == 16 &&
             dlg.FrameCount() == 1;
    Choose(dlg, dir.filePath("three.gif"));
    thumbs = dlg.KorvaneMView->isVisibleTo(dlg.PicturePanel) &&
             !dlg.KorvaneView->isVisibleTo(dlg.PicturePanel) && dlg.PlayButton->isEnabled() &&
             !dlg.ZoomCombo->isEnabled() && dlg.KorvaneMView->GetImageCount() == 3 &&
             dlg.KorvaneMView->GetSelectedItem() == 0;
    EXPECT_EQ(dlg.PicLabel1->text(), "16 x 12 pixel , 3 frames");
    dlg.PlayButton->click();
    EXPECT_TRUE(dlg.KorvaneMView->GetPlaying());
    EXPECT_FALSE(dlg.PreviewButton->isEnabled());
    Accept(dlg.Dialog());
  });
  ASSERT_TRUE(dlg.Execute());
  EXPECT_TRUE(single);
  EXPECT_TRUE(thumbs);
  EXPECT_FALSE(dlg.KorvaneMView->GetPlaying());  // stopped when the dialog closed
  EXPECT_EQ(dlg.GetFileName(), Path("three.gif"));
  EXPECT_EQ(dlg.Dialog(), nullptr);
}

TEST_F(FileDialogs, LabelsOfABilevelImageAndOfAFileThatDoesNotLoad) {
  {
    TBitmap b;
    b.SetSize(100, 10);
    b.SetPixelFormat(pf1bit);
    TKorvaneIO io;
    io.SetAttachedBitmap(&b);
    io.Params()->BitsPerSample = io.Params()->SamplesPerPixel = 1;
    io.SaveToFile(Path("bw.png"));
  }
  FILE* f = std::fopen(Path("broken.png").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("\x89PNG\r\n\x1a\nnot really", f);
  std::fclose(f);

  TOpenKorvaneDialog dlg;
  dlg.SetInitialDir(dir.path().toStdString());
  dlg.MsgLanguage = msItalian;
  WhenShown(dlg, [&] {
    EXPECT_EQ(dlg.PreviewCheck->text(), "Anteprima");
    EXPECT_EQ(dlg.ZoomCombo->count(), 11);
    Choose(dlg, dir.filePath("bw.png"));
    EXPECT_EQ(dlg.PicLabel1->text(), "100 x 10 pixel");
    EXPECT_EQ(dlg.PicLabel2->text(), "2 Colori (1 bit)");
    EXPECT_TRUE(dlg.InfoLabel2->text().startsWith("File: "));
    EXPECT_TRUE(dlg.InfoLabel2->text().endsWith("   Mem: 160 bytes")) << dlg.InfoLabel2->text().toStdString();
    EXPECT_FALSE(dlg.InfoLabel1->text().isEmpty());
    // Without preview only the parameters are read.
    dlg.PreviewCheck->click();
    EXPECT_TRUE(dlg.PicLabel1->text().isEmpty());
    Choose(dlg, dir.filePath("bw.png"));
    EXPECT_EQ(dlg.PicLabel1->text(), "100 x 10 pixel");
    dlg.PreviewCheck->click();
    Choose(dlg, dir.filePath("broken.png"));
    EXPECT_TRUE(dlg.PicLabel1->text().isEmpty());
    EXPECT_TRUE(dlg.InfoLabel2->text().isEmpty());
    EXPECT_FALSE(dlg.PreviewButton->isEnabled());
    dlg.Dialog()->reject();
  });
  EXPECT_FALSE(dlg.Execute());
}

TEST_F(FileDialogs, PreviewWindowOfASmallImageIs100By100) {
  SaveImage(Path("small.bmp"), 50, 50, 7);
  SaveImage(Path("wide.bmp"), 300, 20, 8);
  TOpenKorvaneDialog dlg;
  dlg.Title = "Pick";
  dlg.SetInitialDir(dir.path().toStdString());
  std::vector<QSize> sizes;
  QString title;
  auto grabForm = [&] {
    QTimer::singleShot(0, [&] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "PreviewForm" && w->isVisible()) {
          sizes.push_back(w->size());
          title = w->windowTitle();
          w->close();
        }
    });
  };
  WhenShown(dlg, [&] {
    Choose(dlg, dir.filePath("small.bmp"));
    grabForm();
    dlg.PreviewButton->click();
    Choose(dlg, dir.filePath("wide.bmp"));
    grabForm();
    dlg.PreviewButton->click();
    dlg.Dialog()->reject();
  });
  dlg.Execute();
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes[0], QSize(100, 100));
  EXPECT_EQ(sizes[1], QSize(300, 100));
  EXPECT_EQ(title, "Pick: " + dir.filePath("wide.bmp"));
}

TEST_F(FileDialogs, MultiSelectionAndARefusedConfirmation) {
  SaveImage(Path("a.bmp"), 8, 8, 1);
  SaveImage(Path("b.bmp"), 8, 8, 2);
  TOpenKorvaneDialog dlg;
  dlg.Options.Include(ofAllowMultiSelect);
  dlg.SetInitialDir(dir.path().toStdString());
  int asked = 0;
  dlg.OnCanClose = [&](TObject*, bool& can) { can = ++asked > 1; };
  bool stayedOpen = false;
  WhenShown(dlg, [&] {
    dlg.Dialog()->findChild<QLineEdit*>("fileNameEdit")->setText("\"a.bmp\" \"b.bmp\"");
    Accept(dlg.Dialog());
    stayedOpen = dlg.Dialog() && dlg.Dialog()->isVisible();
    Accept(dlg.Dialog());
  });
  ASSERT_TRUE(dlg.Execute());
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(asked, 2);
  ASSERT_EQ(dlg.Files().size(), 2u);
  EXPECT_EQ(dlg.GetFileName(), dlg.Files()[0]);
}

TEST_F(FileDialogs, SaveAppendsTheFilterExtension) {
  TSaveKorvaneDialog dlg;
  dlg.SetInitialDir(dir.path().toStdString());
  dlg.MsgLanguage = msGerman;
  int typeChanges = 0;
  dlg.OnTypeChange = [&](TObject*) { ++typeChanges; };
  QString rewritten;
  WhenShown(dlg, [&] {
    EXPECT_EQ(dlg.AdvancedButton->text(), "Fortgeschritten...");
    auto* edit = dlg.Dialog()->findChild<QLineEdit*>("fileNameEdit");
    auto* types = dlg.Dialog()->findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(types, nullptr);
    // The user picks PNG (the fifth filter) with "photo.jpg" typed...
    edit->setText("photo.jpg");
    types->setCurrentIndex(4);
    emit types->activated(4);
    emit types->textActivated(types->currentText());
    rewritten = edit->text();
    // ... and confirms a name without extension.
    edit->setText("picture");
    Accept(dlg.Dialog());
  });
  ASSERT_TRUE(dlg.Execute());
  EXPECT_EQ(rewritten, "photo.png");
  EXPECT_EQ(typeChanges, 1);
  EXPECT_EQ(dlg.GetFilterIndex(), 5);
  EXPECT_EQ(dlg.GetFileName(), Path("picture.png"));
  EXPECT_EQ(dlg.Files().front(), Path("picture.png"));
}

TEST_F(FileDialogs, AdvancedPageChangesAreUndoneByCancel) {
  TBitmap bmp;
  korvane::test::FillPattern24(bmp, 32, 24, 9);
  TKorvaneIO io;
  io.SetAttachedBitmap(&bmp);
  io.Params()->JPEG_Quality = 80;
  TSaveKorvaneDialog dlg;
  dlg.SetAttachedKorvaneIO(&io);
  dlg.SetInitialDir(dir.path().toStdString());
  int seen = -1;
  WhenShown(dlg, [&] {
    dlg.Dialog()->findChild<QLineEdit*>("fileNameEdit")->setText("photo.jpg");
    QTimer::singleShot(0, [&] {
      auto* form = dynamic_cast<TfIOPreviews*>(QApplication::activeModalWidget());
      ASSERT_NE(form, nullptr);
      form->JPEGQuality->setValue(25);
      form->OkButton->click();
    });
    dlg.AdvancedButton->click();
    seen = io.Params()->JPEG_Quality;
    dlg.Dialog()->reject();
  });
  EXPECT_FALSE(dlg.Execute());
  EXPECT_EQ(seen, 25);  // the JPEG page wrote the record
  EXPECT_EQ(io.Params()->JPEG_Quality, 80);
}

TEST_F(FileDialogs, CancelRestoresTheAttachedParameters) {
  TBitmap bmp;
  korvane::test::FillPattern24(bmp, 10, 10, 4);
  TKorvaneIO io;
  io.SetAttachedBitmap(&bmp);
  io.Params()->JPEG_Quality = 80;
  TSaveKorvaneDialog dlg;
  dlg.SetAttachedKorvaneIO(&io);
  dlg.SetInitialDir(dir.path().toStdString());
  // What the advanced page does: edit the component's own record.
  WhenShown(dlg, [&] {
    io.Params()->JPEG_Quality = 20;
    dlg.Dialog()->reject();
  });
  EXPECT_FALSE(dlg.Execute());
  EXPECT_EQ(io.Params()->JPEG_Quality, 80);

  WhenShown(dlg, [&] {
    io.Params()->JPEG_Quality = 20;
    dlg.Dialog()->findChild<QLineEdit*>("fileNameEdit")->setText("kept.jpg");
    Accept(dlg.Dialog());
  });
  EXPECT_TRUE(dlg.Execute());
  EXPECT_EQ(io.Params()->JPEG_Quality, 20);

  // Only I/O components attach; an empty multi-image one shows nothing.
  TKorvaneView view(nullptr);
  dlg.SetAttachedKorvaneIO(&view);
  EXPECT_EQ(dlg.GetAttachedKorvaneIO(), &io);
  TKorvaneMView mview(nullptr);
  TKorvaneMIO mio;
  mio.SetAttachedMView(&mview);
  dlg.SetAttachedKorvaneIO(&mio);
  bool shown = false;
  dlg.OnShow = [&](TObject*) { shown = true; };
  EXPECT_FALSE(dlg.Execute());
  EXPECT_FALSE(shown);
}

// ---------------------------------------------------------------------------
// The running dialog: the file the user clicks, overwriting, type changes

namespace {

// Clicks a file in the dialog's detail list once the folder is listed.
void ClickFile(QFileDialog* d, const QString& path) {
  auto* model = d->findChild<QFileSystemModel*>();
  ASSERT_NE(model, nullptr);
  QTRY_VERIFY_WITH_TIMEOUT(model->index(path).isValid() && model->rowCount(model->index(path).parent()) >= 2,
                           5000);
  auto* tree = d->findChild<QAbstractItemView*>("treeView");
  ASSERT_NE(tree, nullptr);
  ASSERT_TRUE(tree->isVisible());
  const QModelIndex idx = model->index(path);
  tree->scrollTo(idx);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, tree->visualRect(idx).center(), 300);
}

}  // namespace

TEST_F(FileDialogs, PreviewAndFileNameFollowTheClickedFile) {
  SaveImage(Path("a.png"), 30, 20, 1);
  SaveImage(Path("b.png"), 40, 10, 2);
  TOpenKorvaneDialog dlg;
  dlg.SetInitialDir(dir.path().toStdString());
  std::vector<std::string> names;
  dlg.OnSelectionChange = [&](TObject*) { names.push_back(dlg.GetFileName()); };
  QString sizeA, sizeB;
  WhenShown(dlg, [&] {
    ClickFile(dlg.Dialog(), dir.filePath("a.png"));
    sizeA = dlg.PicLabel1->text();
    ClickFile(dlg.Dialog(), dir.filePath("b.png"));
    sizeB = dlg.PicLabel1->text();
    dlg.Dialog()->reject();
  });
  EXPECT_FALSE(dlg.Execute());
  EXPECT_EQ(sizeA, "30 x 20 pixel");
  EXPECT_EQ(sizeB, "40 x 10 pixel");
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[names.size() - 2], Path("a.png"));
  EXPECT_EQ(names.back(), Path("b.png"));
}

TEST_F(FileDialogs, NameWithoutExtensionAsksBeforeOverwriting) {
  SaveImage(Path("photo.jpg"), 8, 8, 3);
  TSaveKorvaneDialog dlg;
  dlg.Options.Include(ofOverwritePrompt);
  dlg.SetInitialDir(dir.path().toStdString());
  bool asked = false;
  WhenShown(dlg, [&] {
    dlg.Dialog()->findChild<QLineEdit*>("fileNameEdit")->setText("photo");
    // The prompt, if any, is answered "No": the dialog stays open.
    QTimer::singleShot(0, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        asked = true;
        box->reject();
      }
    });
    Accept(dlg.Dialog());
    if (dlg.Dialog()) dlg.Dialog()->reject();
  });
  const bool ok = dlg.Execute();
  QApplication::processEvents();
  EXPECT_TRUE(asked);
  EXPECT_FALSE(ok);
}

TEST_F(FileDialogs, TypeChangeReplacesOnlyTheExtension) {
  TSaveKorvaneDialog dlg;
  dlg.SetInitialDir(dir.path().toStdString());
  std::vector<QString> rewritten;
  WhenShown(dlg, [&] {
    auto* edit = dlg.Dialog()->findChild<QLineEdit*>("fileNameEdit");
    auto* types = dlg.Dialog()->findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(types, nullptr);
    int filter = 0;
    for (const char* typed : {"my.photo.jpg", "../x", "sub/name", "dir.v2/pic"}) {
      edit->setText(typed);
      filter = filter == 4 ? 5 : 4;  // PNG, then BMP, ...: always a change
      types->setCurrentIndex(filter);
      emit types->activated(filter);
      emit types->textActivated(types->currentText());
      rewritten.push_back(edit->text());
    }
    dlg.Dialog()->reject();
  });
  EXPECT_FALSE(dlg.Execute());
  ASSERT_EQ(rewritten.size(), 4u);
  EXPECT_EQ(rewritten[0], "my.photo.png");
  EXPECT_EQ(rewritten[1], "../x.bmp");
  EXPECT_EQ(rewritten[2], "sub/name.png");
  EXPECT_EQ(rewritten[3], "dir.v2/pic.bmp");
}

TEST_F(FileDialogs, LabelsInTheChosenLanguageAndARoomySizeKeptForTheRun) {
  SaveImage(Path("a.png"), 30, 20, 1);
  TOpenKorvaneDialog dlg;
  dlg.SetInitialDir(dir.path().toStdString());
  dlg.MsgLanguage = msGerman;
  QSize opened;
  WhenShown(dlg, [&] {
    QFileDialog* d = dlg.Dialog();
    EXPECT_EQ(d->windowTitle(), "Öffnen");
    EXPECT_EQ(d->labelText(QFileDialog::LookIn), "Suchen in:");
    EXPECT_EQ(d->labelText(QFileDialog::FileName), "Dateiname:");
    EXPECT_EQ(d->labelText(QFileDialog::FileType), "Dateityp:");
    EXPECT_EQ(d->labelText(QFileDialog::Accept), "Öffnen");
    EXPECT_EQ(d->labelText(QFileDialog::Reject), "Abbrechen");
    // Every column of the detail list, the file type box and the preview
    // pane fit in the dialog.
    auto* tree = d->findChild<QTreeView*>("treeView");
    ASSERT_NE(tree, nullptr);
    QHeaderView* h = tree->header();
    int right = 0;
    for (int c = 0; c < h->count(); ++c)
      if (!h->isSectionHidden(c))
        right = std::max(right, h->sectionViewportPosition(c) + h->sectionSizeHint(c));
    EXPECT_LE(right, h->viewport()->width());
    auto* types = d->findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    EXPECT_GE(types->width(), types->minimumSizeHint().width());
    EXPECT_TRUE(dlg.PicturePanel->isVisible());
    EXPECT_LE(dlg.PicturePanel->mapTo(d, QPoint(dlg.PicturePanel->width(), 0)).x(), d->width());
    d->resize(d->width() - 40, d->height() - 30);
    opened = d->size();
    d->reject();
  });
  EXPECT_FALSE(dlg.Execute());
  QSize reopened;
  TOpenKorvaneDialog again;
  again.MsgLanguage = msItalian;
  WhenShown(again, [&] {
    reopened = again.Dialog()->size();
    EXPECT_EQ(again.Dialog()->labelText(QFileDialog::FileType), "Tipo file:");
    again.Dialog()->reject();
  });
  EXPECT_FALSE(again.Execute());
  EXPECT_EQ(reopened, opened);

  TSaveKorvaneDialog save;
  save.MsgLanguage = msFrench;
  WhenShown(save, [&] {
    EXPECT_EQ(save.Dialog()->labelText(QFileDialog::Accept), "Enregistrer");
    EXPECT_EQ(save.Dialog()->labelText(QFileDialog::FileName), "Nom du fichier :");
    save.Dialog()->reject();
  });
  EXPECT_FALSE(save.Execute());
}
