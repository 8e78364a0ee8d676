#include "apps/korvane-demo/proc_previews_shot.h"

#include <QCoreApplication>
#include <QImage>
#include <cstdio>
#include <exception>

#include "apps/korvane-demo/mainwindow.h"
#include "korvane/dialogs/proc_previews.h"
#include "korvane/io/kvio.h"
#include "korvane/proc/kvproc.h"
#include "korvane/view/kvview.h"

namespace korvane::demo {

namespace {

struct PageName {
  const char* key;
  int tag;
};
constexpr PageName kPages[] = {
    {"contrast", ppgContrast}, {"hsv", ppgHSV},           {"hsl", ppgHSL},
    {"rgb", ppgRGB},           {"filter", ppgUserFilter}, {"equalize", ppgEqualization},
    {"bump", ppgBumpMap},      {"lens", ppgLens},         {"wave", ppgWave}};

struct LangName {
  const char* key;
  TMsgLanguage lang;
};
constexpr LangName kLangs[] = {{"en", msEnglish}, {"it", msItalian}, {"de", msGerman},
                               {"es", msSpanish}, {"fr", msFrench},  {"pt", msPortuguese}};

int Fail(int code, const QString& why) {
  std::fprintf(stderr, "korvane-demo: %s\n", qPrintable(why));
  return code;
}

// Values that make each page's effect visible in the picture.
void ShowOff(TfPreviews* f, int tag) {
  switch (tag) {
    case ppgContrast:
      f->SetValue(pvContrast, 30);
      f->SetValue(pvBrightness, 10);
      break;
    case ppgHSV:
      f->SetValue(pvHSVHue, 60);
      break;
    case ppgHSL:
      f->SetValue(pvHSLSat, 40);
      break;
    case ppgRGB:
      f->SetValue(pvRed, 60);
      break;
    case ppgUserFilter:
      f->SetPreset(fpEmboss);
      break;
    case ppgEqualization:
      f->SetEqualize(true);
      break;
    case ppgWave:
      f->SetValue(pvAmplitude, 20);
      break;
    default:
      break;
  }
}

}  // namespace

int RunProcPreviewsShot(const QStringList& args) {
  int at = int(args.indexOf("--dialog"));
  if (at < 0 || at + 1 >= args.size() || args[at + 1] != "proc-previews") return -1;
  QString file, open;
  TMsgLanguage lang = msEnglish;
  int tag = ppgContrast;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--dialog") {
      ++i;
    } else if (a == "--screenshot" && hasValue) {
      file = args[++i];
    } else if (a == "--open" && hasValue) {
      open = args[++i];
    } else if ((a == "--lang" || a == "--language") && hasValue) {
      const QString v = args[++i];
      bool found = false;
      for (const auto& l : kLangs)
        if (v == l.key) lang = l.lang, found = true;
      if (!found) return Fail(2, "unknown language " + v + " (en, it, de, es, fr, pt)");
    } else if (a == "--page" && hasValue) {
      const QString v = args[++i];
      tag = 0;
      for (const auto& p : kPages)
        if (v == p.key) tag = p.tag;
      if (!tag) return Fail(2, "unknown page " + v);
    } else {
      return Fail(2, "the proc-previews dialog takes --screenshot FILE, --lang, --page and --open, not " + a);
    }
  }
  if (file.isEmpty()) return Fail(2, "--dialog proc-previews needs --screenshot FILE");

  TKorvaneView view(nullptr);
  view.SetBounds(0, 0, 800, 600);
  TKorvaneProc proc;
  proc.SetAttachedKorvane(&view);
  if (open.isEmpty()) {
    DrawSamplePicture(view.GetFBitmap());
    view.Update();
    // The upper middle of the picture: gradients and the zone plate.
    proc.Select(400, 100, 1199, 699);
  } else {
    TKorvaneIO io;
    io.SetAttachedKorvane(&view);
    try {
      io.LoadFromFile(open.toStdString());
    } catch (const std::exception& e) {
      return Fail(1, "cannot read " + open + ": " + e.what());
    }
  }
  proc.SetMsgLanguage(lang);
  proc.SetPRPreviewParams({prppDefaultLockPreview});

  bool written = false;
  TfPreviews::ShowHook = [&](TfPreviews* f) {
    f->SetActivePage(tag);
    ShowOff(f, tag);
    f->RefreshResult();
    QCoreApplication::processEvents();
    written = f->grab().toImage().save(file, "PNG");
    f->reject();
  };
  bool shown = false;
  auto hook = TfPreviews::ShowHook;
  TfPreviews::ShowHook = [&](TfPreviews* f) {
    shown = true;
    hook(f);
  };
  proc.DoPreviews({peAll});
  TfPreviews::ShowHook = nullptr;
  if (!shown) return Fail(1, "the image cannot be previewed (a 24-bit image of at least 2 x 2 pixels)");
  if (!written) return Fail(1, "cannot write " + file);
  return 0;
}

}  // namespace korvane::demo
