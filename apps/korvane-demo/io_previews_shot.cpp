#include "apps/korvane-demo/io_previews_shot.h"

#include <QCoreApplication>
#include <QImage>
#include <QTabWidget>
#include <cstdio>

#include "apps/korvane-demo/mainwindow.h"
#include "korvane/dialogs/io_previews.h"
#include "korvane/io/kvio.h"

namespace korvane::demo {

namespace {

int Fail(const QString& message, int code) {
  std::fprintf(stderr, "korvane-demo: %s\n", qPrintable(message));
  return code;
}

}  // namespace

int SaveParamsDialogShot(const QStringList& args) {
  const qsizetype d = args.indexOf("--dialog");
  if (d < 0 || d + 1 >= args.size() || args[d + 1] != "save-params") return -1;

  const QStringList langs = {"en", "it", "de", "es", "fr", "pt"};
  const QStringList pages = {"jpeg", "tiff", "gif", "bmp", "pcx", "png"};
  QString file, open;
  int lang = 0, page = 0;
  for (qsizetype i = 0; i < args.size(); i += 2) {
    const QString& a = args[i];
    if (i + 1 >= args.size()) return Fail(a + " needs a value", 2);
    const QString& v = args[i + 1];
    if (a == "--dialog") {
      continue;
    } else if (a == "--screenshot") {
      file = v;
    } else if (a == "--open") {
      open = v;
    } else if (a == "--lang" || a == "--language") {
      lang = int(langs.indexOf(v));
      if (lang < 0) return Fail("--lang takes one of " + langs.join(", ") + ", not '" + v + "'", 2);
    } else if (a == "--page") {
      page = int(pages.indexOf(v));
      if (page < 0) return Fail("--page takes one of " + pages.join(", ") + ", not '" + v + "'", 2);
    } else {
      return Fail("--dialog save-params does not take " + a, 2);
    }
  }
  if (file.isEmpty()) return Fail("--dialog save-params needs --screenshot FILE", 2);

  TBitmap bmp;
  TKorvaneIO io;
  io.SetAttachedBitmap(&bmp);
  try {
    if (open.isEmpty())
      DrawSamplePicture(&bmp);
    else
      io.LoadFromFile(open.toStdString());
  } catch (const std::exception& e) {
    return Fail(QString::fromUtf8(e.what()), 1);
  }
  if (bmp.Empty()) return Fail("nothing to preview in " + open, 1);

  TfIOPreviews form;
  form.SetIOParams(io.Params());
  form.SetLanguage(TMsgLanguage(msEnglish + lang));
  form.Korvane1->Assign(&bmp);
  form.SetPreviewParams({ppALL});
  form.setAttribute(Qt::WA_DontShowOnScreen);
  form.show();
  form.PageControl->setCurrentIndex(page);
  QCoreApplication::processEvents();
  const QImage img = form.grab().toImage();
  if (img.isNull() || !img.save(file, "PNG")) return Fail("cannot write " + file, 1);
  return 0;
}

}  // namespace korvane::demo
