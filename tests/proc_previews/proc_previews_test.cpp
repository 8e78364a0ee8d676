// The processing preview form and DoPreviews, driven headless: the form runs
// modally and the show hook moves its controls and closes it.
#include "korvane/dialogs/proc_previews.h"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <fstream>

#include "korvane/controls/ruler_box.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/colors.h"
#include "korvane/proc/kvproc.h"
#include "korvane/view/kvview.h"
#include "tests/file_dialog_support.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

// Sets the form's show hook for one test and counts the shows.
struct HookGuard {
  explicit HookGuard(std::function<void(TfPreviews*)> f) {
    TfPreviews::ShowHook = [this, f](TfPreviews* form) {
      ++shows;
      f(form);
    };
  }
  ~HookGuard() { TfPreviews::ShowHook = nullptr; }
  int shows = 0;
};

// A processing component working on an image view of w x h holding a pattern.
struct Rig {
  Rig(int w, int h) {
    view.SetBounds(0, 0, 200, 150);
    proc.SetAttachedKorvane(&view);
    test::FillPattern24(*view.GetFBitmap(), w, h, 11);
    view.Update();
  }
  TKorvaneView view{nullptr};
  TKorvaneProc proc;
};

void FillGray(TBitmap* b, int w, int h, uint8_t level) {
  b->SetPixelFormat(pf24bit);
  b->SetSize(w, h);
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<TRGB*>(b->Scanline(y));
    for (int x = 0; x < w; ++x) row[x] = TRGB{level, level, level};
  }
}

// A form holding a source image, activated on the offered pages.
struct Form {
  explicit Form(TPreviewEffectsSet effects, int w = 120, int h = 90) {
    test::FillPattern24(*form.Korvane1->GetFBitmap(), w, h, 5);
    form.Korvane1->Update();
    form.SetEffects(effects);
    form.Activate();
  }
  TfPreviews form;
};

void ClickSource(TfPreviews& f, int x, int y) {
  QTest::mouseClick(f.Korvane1, Qt::LeftButton, Qt::NoModifier,
                    f.Korvane1->ClientArea().topLeft() + QPoint(x, y));
}

}  // namespace

TEST(ProcPreviewsForm, WaveAloneIsOneTabWithoutMouseZoom) {
  Form f({peWave});
  EXPECT_EQ(f.form.VisiblePageCount(), 1);
  EXPECT_EQ(f.form.ActivePage(), ppgWave);
  EXPECT_FALSE(f.form.Korvane1->GetMouseInteract().Contains(miZoom));
  const int fitted = f.form.Korvane1->GetZoom();
  ClickSource(f.form, 20, 20);
  EXPECT_EQ(f.form.Korvane1->GetZoom(), fitted);

  // Another page gives the mouse zoom back; returning to the waves fits the
  // source again and takes it away.
  Form g({peContrast, peWave});
  EXPECT_EQ(g.form.VisiblePageCount(), 2);
  EXPECT_EQ(g.form.ActivePage(), ppgContrast);
  const int fit = g.form.Korvane1->GetZoom();
  ClickSource(g.form, 20, 20);
  EXPECT_GT(g.form.Korvane1->GetZoom(), fit);
  ASSERT_TRUE(g.form.SetActivePage(ppgWave));
  EXPECT_EQ(g.form.Korvane1->GetZoom(), fit);
  EXPECT_FALSE(g.form.Korvane1->GetMouseInteract().Contains(miZoom));
  EXPECT_FALSE(g.form.SetActivePage(ppgLens));

  Form all({peAll});
  EXPECT_EQ(all.form.VisiblePageCount(), 9);
}

TEST(ProcPreviewsForm, ApplyAndRestartAccumulatesAndCancelKeepsTheImage) {
  Rig rig(60, 40);
  FillGray(rig.view.GetFBitmap(), 60, 40, 100);
  rig.view.Update();
  TBitmap before;
  before.Assign(rig.view.GetFBitmap());
  HookGuard hook([](TfPreviews* f) {
    EXPECT_TRUE(f->isVisible());
    for (int i = 0; i < 2; ++i) {
      f->SetValue(pvBrightness, 10);
      f->CopyButton()->click();
      EXPECT_EQ(f->Value(pvBrightness), 0);
      EXPECT_EQ(f->Slider(pvBrightness)->value(), 0);
    }
    EXPECT_EQ(test::Pixel24(*f->Korvane1->GetFBitmap(), 30, 20), 0x787878u);  // 100 + 20
    // The result restarts from the new source.
    EXPECT_EQ(test::Pixel24(*f->Korvane2->GetFBitmap(), 5, 5), 0x787878u);
    f->CancelButton()->click();
  });
  EXPECT_FALSE(rig.proc.DoPreviews({peContrast}));
  EXPECT_EQ(hook.shows, 1);
  EXPECT_TRUE(test::SamePixels(before, *rig.view.GetFBitmap()));
  EXPECT_FALSE(rig.proc.GetCanUndo());
}

TEST(ProcPreviewsForm, OkOnContrastChangesOnlyTheSelection) {
  Rig rig(40, 30);
  TBitmap before;
  before.Assign(rig.view.GetFBitmap());
  rig.proc.Select(10, 5, 19, 14);
  int reports = 0;
  TObject* sender = nullptr;
  rig.proc.OnProgress = [&](TObject* s, int) {
    ++reports;
    sender = s;
  };
  HookGuard hook([](TfPreviews* f) {
    EXPECT_EQ(f->Korvane1->GetFBitmap()->Width(), 10);
    EXPECT_EQ(f->Korvane1->GetFBitmap()->Height(), 10);
    f->SetValue(pvContrast, 40);
    f->SetValue(pvBrightness, -15);
    f->OkButton()->click();
  });
  ASSERT_TRUE(rig.proc.DoPreviews({peAll}));
  EXPECT_GT(reports, 0);
  EXPECT_EQ(sender, &rig.proc);

  // Expected: the selected block adjusted around its own means.
  TBitmap block;
  _CopyBitmapRect(&before, &block, 10, 5, 19, 14);
  int mR, mG, mB;
  _GetMediaContrastRGB(&block, mR, mG, mB);
  _ContrastRGB(&block, 0, 0, 9, 9, 40, mR, mG, mB);
  _IntensityRGBall(&block, 0, 0, 9, 9, -15, -15, -15);
  TBitmap* out = rig.view.GetFBitmap();
  int changed = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      bool inside = x >= 10 && x <= 19 && y >= 5 && y <= 14;
      unsigned want = inside ? test::Pixel24(block, x - 10, y - 5) : test::Pixel24(before, x, y);
      ASSERT_EQ(test::Pixel24(*out, x, y), want) << x << "," << y;
      changed += inside && want != test::Pixel24(before, x, y);
    }
  EXPECT_GT(changed, 50);
  ASSERT_TRUE(rig.proc.GetCanUndo());
  rig.proc.Undo();
  EXPECT_TRUE(test::SamePixels(before, *out));
}

TEST(ProcPreviewsForm, OkThroughAPolygonKeepsTheCornersOfItsBox) {
  Rig rig(40, 40);
  FillGray(rig.view.GetFBitmap(), 40, 40, 100);
  rig.view.Update();
  rig.view.SetSelectionBase(kvsbBitmap);
  for (TPoint p : {Point(5, 5), Point(35, 5), Point(5, 35)}) rig.view.AddSelPoint(p.x, p.y);
  HookGuard hook([](TfPreviews* f) {
    ASSERT_TRUE(f->SetActivePage(ppgRGB));
    f->SetValue(pvRed, 60);
    f->OkButton()->click();
  });
  ASSERT_TRUE(rig.proc.DoPreviews({peAll}));
  TBitmap* out = rig.view.GetFBitmap();
  EXPECT_EQ(test::Pixel24(*out, 8, 8), 0xA06464u);
  EXPECT_EQ(test::Pixel24(*out, 32, 32), 0x646464u);  // in the box, outside the triangle
  EXPECT_EQ(test::Pixel24(*out, 1, 1), 0x646464u);
}

TEST(ProcPreviewsForm, RefusesImagesItCannotPreview) {
  HookGuard hook([](TfPreviews* f) { f->reject(); });
  for (auto [w, h] : {std::pair{1, 100}, std::pair{100, 1}}) {
    TBitmap b;
    FillGray(&b, w, h, 50);
    TKorvaneProc p;
    p.SetAttachedBitmap(&b);
    EXPECT_FALSE(p.DoPreviews({peAll})) << w << "x" << h;
  }
  TBitmap mono;
  mono.SetPixelFormat(pf1bit);
  mono.SetSize(20, 20);
  TKorvaneProc p;
  p.SetAttachedBitmap(&mono);
  EXPECT_FALSE(p.DoPreviews({peAll}));
  TKorvaneProc none;
  EXPECT_FALSE(none.DoPreviews({peAll}));
  EXPECT_EQ(hook.shows, 0);
}

TEST(ProcPreviewsForm, ResultShowsTheSourceAtItsZoomAndOrigin) {
  Form f({peLens}, 200, 150);
  TfPreviews& form = f.form;
  form.Korvane1->SetZoom(200);
  form.Korvane1->SetViewXY(50, 20);
  form.RefreshResult();
  EXPECT_EQ(form.ResultX(100), 150);
  EXPECT_EQ(form.ResultY(100), 180);
  EXPECT_EQ(form.ResultSize(30), 60);
  // Lens size 1 keeps the result an unchanged copy: pixel (0, 0) of the
  // result is source pixel (25, 10).
  form.SetValue(pvLensWidth, 1);
  form.SetValue(pvLensHeight, 1);
  form.RefreshResult();
  TBitmap* res = form.Korvane2->GetFBitmap();
  EXPECT_EQ(res->Width(), form.Korvane1->GetExtentX());
  EXPECT_EQ(res->Height(), form.Korvane1->GetExtentY());
  EXPECT_EQ(test::Pixel24(*res, 0, 0), test::Pixel24(*form.Korvane1->GetFBitmap(), 25, 10));
  EXPECT_EQ(test::Pixel24(*res, 4, 0), test::Pixel24(*form.Korvane1->GetFBitmap(), 27, 10));
}

TEST(ProcPreviewsForm, LockPreviewDecidesWhenTheResultFollows) {
  TfPreviews form;
  FillGray(form.Korvane1->GetFBitmap(), 50, 50, 100);
  form.Korvane1->Update();
  form.SetEffects({peRGB});
  form.Activate();
  EXPECT_TRUE(form.PreviewButton()->isEnabled());
  form.SetValue(pvGreen, 30);
  EXPECT_EQ(test::Pixel24(*form.Korvane2->GetFBitmap(), 2, 2), 0x646464u);  // not recomputed yet
  form.PreviewButton()->click();
  EXPECT_EQ(test::Pixel24(*form.Korvane2->GetFBitmap(), 2, 2), 0x648264u);
  form.LockButton()->click();  // down
  EXPECT_FALSE(form.PreviewButton()->isEnabled());
  form.SetValue(pvGreen, -40);
  EXPECT_EQ(test::Pixel24(*form.Korvane2->GetFBitmap(), 2, 2), 0x643c64u);

  // The default lock state comes with the activation.
  TfPreviews locked;
  FillGray(locked.Korvane1->GetFBitmap(), 50, 50, 100);
  locked.SetDefaultLockPreview(true);
  locked.SetEffects({peRGB});
  locked.Activate();
  EXPECT_TRUE(locked.GetLockPreview());
  EXPECT_FALSE(locked.PreviewButton()->isEnabled());
}

TEST(ProcPreviewsForm, ThresholdGripsMakeBlackAndWhite) {
  TfPreviews form;
  TBitmap* src = form.Korvane1->GetFBitmap();
  FillGray(src, 256, 4, 0);
  for (int x = 0; x < 256; ++x) src->SetPixel(x, 0, RGB(x, x, x));
  form.SetEffects({peEqualize});
  form.SetLockPreview(false);
  form.Activate();
  form.ThresholdRuler()->SetGripsPos(0, 100);
  form.ThresholdRuler()->SetGripsPos(1, 150);
  TProgressRec none;
  form.ApplyPage(src, false, none);
  EXPECT_EQ(test::Pixel24(*src, 100, 0), 0u);
  EXPECT_EQ(test::Pixel24(*src, 101, 0), 0x656565u);
  EXPECT_EQ(test::Pixel24(*src, 150, 0), 0x969696u);
  EXPECT_EQ(test::Pixel24(*src, 151, 0), 0xFFFFFFu);
}

TEST(ProcPreviewsForm, FilterFilesAndPresets) {
  Form f({peUserFilt});
  QTemporaryDir dir;
  const std::string path = dir.filePath("blur.flt").toStdString();
  f.form.SetPreset(fpBlur);
  EXPECT_EQ(f.form.GetFilter(), KVFiltPres[fpBlur]);
  ASSERT_TRUE(f.form.SaveFilter(path));
  f.form.SetPreset(fpNone);
  ASSERT_TRUE(f.form.LoadFilter(path));
  EXPECT_EQ(f.form.GetFilter(), KVFiltPres[fpBlur]);

  const std::string bad = dir.filePath("bad.flt").toStdString();
  std::ofstream(bad, std::ios::binary) << std::string(43, '\2');
  EXPECT_FALSE(f.form.LoadFilter(bad));
  EXPECT_FALSE(f.form.LoadFilter(dir.filePath("missing.flt").toStdString()));
  EXPECT_EQ(f.form.GetFilter(), KVFiltPres[fpBlur]);
}

TEST(ProcPreviewsForm, FilterFileDialogAndItsErrorSpeakTheFormsLanguage) {
  Form f({peUserFilt});
  f.form.SetLanguage(msItalian);
  QTemporaryDir dir;
  const QString bad = dir.filePath("bad.flt");
  std::ofstream(bad.toStdString(), std::ios::binary) << std::string(43, '\2');
  auto* load = f.form.findChild<QPushButton*>("LoadFilterButton");
  ASSERT_NE(load, nullptr);
  QStringList filters;
  QString lookIn, fileName, error;
  test::OnNextModal<QFileDialog>([&](QFileDialog* d) {
    filters = d->nameFilters();
    lookIn = d->labelText(QFileDialog::LookIn);
    fileName = d->labelText(QFileDialog::FileName);
    d->findChild<QLineEdit*>("fileNameEdit")->setText(bad);
    test::OnNextModal<QMessageBox>([&](QMessageBox* box) {
      error = box->text();
      box->reject();
    });
    test::Accept(d);
  });
  load->click();
  ASSERT_EQ(filters.size(), 2);
  EXPECT_EQ(filters[0], "File di filtro (*.flt)");
  EXPECT_EQ(filters[1], "Tutti i file (*)");
  EXPECT_EQ(lookIn, "Cerca in:");
  EXPECT_EQ(fileName, "Nome file:");
  EXPECT_EQ(error, "filtro non riconosciuto");
}

TEST(ProcPreviewsForm, CaptionsFollowTheLanguage) {
  TfPreviews form;
  form.SetLanguage(msItalian);
  EXPECT_EQ(form.windowTitle(), QString("Anteprime"));
  EXPECT_EQ(form.CancelButton()->text(), QString("Annulla"));
  EXPECT_EQ(form.PreviewButton()->text(), QString("&Anteprima"));
  EXPECT_EQ(form.Pages()->tabText(0), QString("Contrasto"));
  EXPECT_EQ(form.LockButton()->toolTip(), QString("Blocca anteprima"));
  form.SetLanguage(msEnglish);
  EXPECT_EQ(form.windowTitle(), QString("Previews"));
  EXPECT_EQ(form.CopyButton()->toolTip(), QString("Copy Result to Source"));
  EXPECT_EQ(form.Pages()->tabText(6), QString("Bump map"));
}
