// The save-parameters form: pages chosen by the caller, the live result and
// its compressed size, lock preview, OK writing the active page only, Cancel
// writing nothing, and DoPreviews of the I/O and multi-image I/O components.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <set>

#include "korvane/dialogs/io_previews.h"
#include "korvane/io/kvio.h"
#include "korvane/multi/kvmio.h"
#include "korvane/multi/kvmview.h"
#include "tests/io_metafile/metafile_builder.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

// Runs action on the save-parameters form once it runs modally; *shown tells
// whether it did. The action must close the form.
void WhenShown(std::function<void(TfIOPreviews*)> action, bool* shown) {
  *shown = false;
  QTimer::singleShot(0, [action, shown] {
    auto* form = dynamic_cast<TfIOPreviews*>(QApplication::activeModalWidget());
    *shown = form != nullptr;
    if (form) action(form);
  });
}

// The number at the start of a size label ("12345 bytes").
int64_t Bytes(QLabel* l) { return l->text().section(' ', 0, 0).toLongLong(); }

int VisibleTabs(TfIOPreviews* f) {
  int n = 0;
  for (int i = 0; i < f->PageControl->count(); ++i) n += f->PageControl->isTabVisible(i);
  return n;
}

// A form over a 24-bit pattern editing rec, shown (not modally) on pages.
struct ShownForm {
  TBitmap bmp;
  TIOParamsVals rec;
  TfIOPreviews form;
  explicit ShownForm(TPreviewParams pages, bool lock = false) {
    test::FillPattern24(bmp, 96, 64, 7);
    form.SetIOParams(&rec);
    form.SetLockPreview(lock);
    form.Korvane1->Assign(&bmp);
    form.SetPreviewParams(pages);
    form.setAttribute(Qt::WA_DontShowOnScreen);
    form.show();
  }
};

}  // namespace

TEST(IOPreviews, AutoPagesFollowTheLoadedFormat) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string wmf = dir.filePath("m.wmf").toStdString();
  {
    test::WmfWriter w;
    w.Rectangle(10, 10, 60, 60);
    const test::Bytes b = w.Placeable(0, 0, 100, 100, 96);
    TFileStream f(wmf, fmCreate);
    f.WriteBuffer(b.data(), int64_t(b.size()));
  }
  TBitmap bmp;
  TKorvaneIO io;
  io.SetAttachedBitmap(&bmp);
  io.ImportMetafile(wmf, -1, -1);
  ASSERT_EQ(io.Params()->FileType, ioWMF);
  ASSERT_FALSE(bmp.Empty());

  // No page belongs to a metafile: nothing is shown.
  bool shown = true;
  WhenShown([](TfIOPreviews* f) { f->reject(); }, &shown);
  EXPECT_FALSE(io.DoPreviews({ppAUTO}));
  QCoreApplication::processEvents();
  EXPECT_FALSE(shown);

  // After a JPEG load the same call shows the JPEG page alone.
  io.Params()->FileType = ioJPEG;
  int tabs = 0;
  TIOPreviewsPage page = iopPNG;
  WhenShown(
      [&](TfIOPreviews* f) {
        tabs = VisibleTabs(f);
        page = f->ActivePage();
        f->reject();
      },
      &shown);
  EXPECT_FALSE(io.DoPreviews({ppAUTO}));
  EXPECT_TRUE(shown);
  EXPECT_EQ(tabs, 1);
  EXPECT_EQ(page, iopJPEG);
}

TEST(IOPreviews, CancelKeepsTheQualityAndOKWritesIt) {
  TBitmap bmp;
  test::FillPattern24(bmp, 80, 60, 3);
  TKorvaneIO io;
  io.SetAttachedBitmap(&bmp);
  io.Params()->JPEG_Quality = 40;
  bool shown = false;
  WhenShown(
      [](TfIOPreviews* f) {
        f->JPEGQuality->setValue(90);
        QTest::mouseClick(f->CancelButton, Qt::LeftButton);
      },
      &shown);
  EXPECT_FALSE(io.DoPreviews({ppJPEG}));
  EXPECT_TRUE(shown);
  EXPECT_EQ(io.Params()->JPEG_Quality, 40);

  WhenShown(
      [](TfIOPreviews* f) {
        f->JPEGQualityBar->setValue(90);  // the track bar drives the edit
        QTest::mouseClick(f->OkButton, Qt::LeftButton);
      },
      &shown);
  EXPECT_TRUE(io.DoPreviews({ppJPEG}));
  EXPECT_EQ(io.Params()->JPEG_Quality, 90);
}

TEST(IOPreviews, JPEGCompressedSizeIsTheSizeOfTheSavedFile) {
  TBitmap bmp;
  test::FillPattern24(bmp, 120, 90, 11);
  TKorvaneIO io;
  io.SetAttachedBitmap(&bmp);
  int64_t shownSize = -1;
  bool shown = false;
  WhenShown(
      [&](TfIOPreviews* f) {
        f->JPEGQuality->setValue(83);
        f->JPEGSmooth->setValue(20);
        f->JPEGOptimalHuffman->setChecked(true);
        QTest::mouseClick(f->PreviewButton, Qt::LeftButton);
        shownSize = Bytes(f->CompressedSize);
        f->accept();
      },
      &shown);
  ASSERT_TRUE(io.DoPreviews({ppALL}));
  ASSERT_GT(shownSize, 0);

  QTemporaryDir dir;
  const std::string name = dir.filePath("q.jpg").toStdString();
  io.SaveToFileJpeg(name);
  EXPECT_EQ(QFileInfo(QString::fromStdString(name)).size(), shownSize);
}

TEST(IOPreviews, LockPreviewDecidesWhenTheResultIsComputed) {
  ShownForm s({ppJPEG});
  TfIOPreviews& f = s.form;
  ASSERT_FALSE(f.LockButton->isChecked());
  ASSERT_TRUE(f.PreviewButton->isEnabled());
  EXPECT_EQ(Bytes(f.OriginalSize), TfIOPreviews::UncompressedSize(&s.bmp));
  EXPECT_EQ(Bytes(f.OriginalSize), 96 * 3 * 64);  // 288-byte rows need no padding
  const int64_t at50 = Bytes(f.CompressedSize);
  ASSERT_GT(at50, 0);
  TBitmap before;
  before.Assign(f.Korvane2->GetFBitmap());

  // Up: a changed value waits for "&Preview".
  f.JPEGQuality->setValue(98);
  EXPECT_EQ(Bytes(f.CompressedSize), at50);
  EXPECT_TRUE(test::SamePixels(before, *f.Korvane2->GetFBitmap()));
  QTest::mouseClick(f.PreviewButton, Qt::LeftButton);
  const int64_t at98 = Bytes(f.CompressedSize);
  EXPECT_GT(at98, at50);
  EXPECT_FALSE(test::SamePixels(before, *f.Korvane2->GetFBitmap()));
  EXPECT_EQ(f.ProgressBar1->value(), 0);

  // Down: pressing it computes at once and disables "&Preview"; every change
  // then recomputes.
  f.JPEGQuality->setValue(10);
  f.LockButton->click();
  EXPECT_FALSE(f.PreviewButton->isEnabled());
  const int64_t at10 = Bytes(f.CompressedSize);
  EXPECT_LT(at10, at50);
  f.JPEGQuality->setValue(98);
  EXPECT_EQ(Bytes(f.CompressedSize), at98);
}

TEST(IOPreviews, BMP32BitChoiceWritesWhat16MWrites) {
  for (int choice : {4, 5}) {
    ShownForm s({ppBMP});
    s.rec.SamplesPerPixel = 1, s.rec.BitsPerSample = 1;
    s.form.hide();
    s.form.show();  // the page reads the record again
    ASSERT_EQ(s.form.ActivePage(), iopBMP);
    EXPECT_EQ(s.form.BMPColors->currentText(), "B/W");
    s.form.BMPColors->setCurrentIndex(choice);
    s.form.accept();
    EXPECT_EQ(s.rec.SamplesPerPixel, 3) << s.form.BMPColors->currentText().toStdString();
    EXPECT_EQ(s.rec.BitsPerSample, 8) << s.form.BMPColors->currentText().toStdString();
  }
}

TEST(IOPreviews, OKWritesTheActivePageOnly) {
  ShownForm s({ppALL});
  s.rec.JPEG_Quality = 50;
  s.form.JPEGQuality->setValue(77);
  s.form.PageControl->setCurrentIndex(iopPCX);  // re-reads the record: the 77 is gone
  s.form.PCXCompression->setCurrentIndex(ioPCX_UNCOMPRESSED);
  s.form.PCXColors->setCurrentIndex(2);  // 256
  s.form.accept();
  EXPECT_EQ(s.rec.JPEG_Quality, 50);
  EXPECT_EQ(s.rec.PCX_Compression, ioPCX_UNCOMPRESSED);
  EXPECT_EQ(s.rec.SamplesPerPixel, 1);
  EXPECT_EQ(s.rec.BitsPerSample, 8);
}

TEST(IOPreviews, TIFFPhotometricChoiceDrivesTheColors) {
  ShownForm s({ppTIFF}, true);
  TfIOPreviews& f = s.form;
  ASSERT_EQ(f.ActivePage(), iopTIFF);
  f.TIFFPhotometric->setCurrentIndex(ioTIFF_WHITEISZERO);
  EXPECT_EQ(f.TIFFColors->currentText(), "B/W");
  EXPECT_FALSE(f.TIFFColors->isEnabled());
  // The bilevel result shows two colors.
  EXPECT_EQ(f.Korvane2->GetFBitmap()->PixelFormat(), pf1bit);
  f.TIFFPhotometric->setCurrentIndex(ioTIFF_RGB);
  EXPECT_EQ(f.TIFFColors->currentText(), "16M");
  EXPECT_TRUE(f.TIFFColors->isEnabled());
  EXPECT_EQ(f.Korvane2->GetFBitmap()->PixelFormat(), pf24bit);
  f.TIFFColors->setCurrentIndex(1);  // 16
  f.TIFFPhotometric->setCurrentIndex(ioTIFF_CMYK);
  EXPECT_EQ(f.TIFFColors->currentText(), "16M");
  EXPECT_FALSE(f.TIFFColors->isEnabled());
  f.accept();
  EXPECT_EQ(s.rec.TIFF_PhotometInterpret, ioTIFF_CMYK);
  EXPECT_EQ(s.rec.SamplesPerPixel, 4);
  EXPECT_EQ(s.rec.BitsPerSample, 8);
}

TEST(IOPreviews, GIFResultHasTheChosenColorsAndKeepsThePalette) {
  InstallKorvaneLZWCoders();
  ShownForm s({ppGIF}, true);
  TfIOPreviews& f = s.form;
  f.GIFColors->setCurrentIndex(3);  // 16
  TBitmap* r = f.Korvane2->GetFBitmap();
  ASSERT_EQ(r->PixelFormat(), pf24bit);
  std::set<unsigned> colors;
  for (int y = 0; y < r->Height(); ++y)
    for (int x = 0; x < r->Width(); ++x) colors.insert(test::Pixel24(*r, x, y));
  EXPECT_LE(colors.size(), 16u);
  EXPECT_GT(colors.size(), 2u);
  EXPECT_EQ(f.PreviewIO()->Params()->ColorMapCount, 16);
  EXPECT_GT(Bytes(f.CompressedSize), 0);
  // The result follows the source's zoom.
  f.Korvane1->SetZoom(300);
  EXPECT_EQ(f.Korvane2->GetZoom(), 300);
}

TEST(IOPreviews, CaptionsFollowTheLanguage) {
  TfIOPreviews f;
  EXPECT_EQ(f.windowTitle(), "Parameters preview");
  EXPECT_EQ(f.PreviewButton->text(), "&Preview");
  f.SetLanguage(msItalian);
  EXPECT_EQ(f.windowTitle(), QString::fromUtf8("Anteprima parametri"));
  EXPECT_EQ(f.CancelButton->text(), "Annulla");
  EXPECT_EQ(f.PreviewButton->text(), "&Anteprima");
  f.SetLanguage(msEnglish);
  EXPECT_EQ(f.OkButton->text(), "OK");
  EXPECT_EQ(f.windowTitle(), "Parameters preview");
}

TEST(IOPreviews, MultiImageRecordOfTheCurrentImage) {
  InstallKorvaneLZWCoders();
  TKorvaneMIO mio;
  EXPECT_FALSE(mio.DoPreviews(0, {ppALL}));  // no view

  TKorvaneMView view(nullptr);
  view.SetBounds(0, 0, 200, 200);
  mio.SetAttachedMView(&view);
  TBitmap bmp;
  test::FillPattern24(bmp, 40, 30, 5);
  for (int i = 0; i < 2; ++i) view.SetImage(view.AppendImage(), &bmp);
  view.SetSelectedItem(1);
  ASSERT_EQ(mio.GetParamsCount(), 2);
  EXPECT_FALSE(mio.DoPreviews(5, {ppALL}));  // no such record

  bool shown = false;
  WhenShown(
      [](TfIOPreviews* f) {
        f->GIFDelayTime->setValue(25);
        f->GIFImageIndex->setValue(7);
        f->accept();
      },
      &shown);
  EXPECT_TRUE(mio.DoPreviews(1, {ppGIF}));
  EXPECT_TRUE(shown);
  EXPECT_EQ(mio.GetParams(1)->GIF_DelayTime, 25);
  EXPECT_EQ(mio.GetParams(0)->GIF_DelayTime, 0);
  // The records keep their places in the list.
  EXPECT_EQ(mio.GetParams(1)->GIF_ImageIndex, 1);
}
