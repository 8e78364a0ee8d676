// The demo's command line: the --help text, parsing the options, and the
// screenshots of the window, the camera window and the file dialogs.
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <utility>

#include "apps/korvane-demo/camera_window.h"
#include "apps/korvane-demo/mainwindow.h"
#include "apps/korvane-demo/thumb_browser.h"
#include "apps/korvane-demo/menu_tables.h"
#include "korvane/dialogs/file_dialogs.h"
#include "korvane/foundations/kvmsg.h"

namespace korvane::demo {

bool IsProcessOp(const QString& op) {
  int x, y;
  return ProcessOpNames().contains(op) || ParseWand(op, x, y) || ParseColors(op, x);
}

QString DemoUsage() {
  QString filters, backgrounds;
  for (const auto& f : kFilters) filters += QString(" ") + f.key;
  for (const auto& b : kBackgrounds) backgrounds += QString(" ") + b.key;
  return QString(
             "Usage: korvane-demo [options]\n"
             "Shows a sample picture in the image view.\n\n"
             "  --screenshot FILE        render the window (%1 x %2) off screen to a PNG file and exit\n"
             "  --zoom N                 zoom in percent (1 .. %3)\n"
             "  --fit                    fit the picture into the view\n"
             "  --origin X,Y             scroll picture pixel (X, Y) to the top-left corner of the view\n"
             "  --select X1,Y1,X2,Y2     select a rectangle, in picture pixels\n"
             "  --scrollbars             show the scroll bars in a screenshot (the window always has them)\n"
             "  --center                 centre a picture smaller than the view\n"
             "  --filter NAME            zoom filter:%4\n"
             "  --background NAME        background style:%5\n"
             "  --process OP[,OP...]     run image operations after the options above, in order:\n"
             "                           %6,\n"
             "                           colors:N (reduce to N colors, 3 .. 256),\n"
             "                           wand:X:Y (magic wand selection from picture pixel X, Y)\n"
             "  --open FILE              show an image file instead of the sample picture (BMP, GIF, JPEG,\n"
             "                           PCX, PNG, TIFF, ICO, CUR, WMF, EMF; chosen by extension)\n"
             "  --index N                page, frame or icon image N of a multi-image file (from 0)\n"
             "  --play                   play --open's GIF, TIFF or AVI file in the thumbnail browser, one\n"
             "                           large frame at a time; a screenshot shows frame --index as\n"
             "                           playing shows it (animated GIF frames composed on their screen)\n"
             "  --panel                  show the panel of small controls (histogram, HSV box, ruler)\n"
             "  --dialog open|save       with --screenshot: render the open or save dialog with --open's\n"
             "                           file (else the sample picture) selected in it\n"
             "  --dialog save-params|proc-previews\n"
             "                           with --screenshot: render the save parameters or the processing\n"
             "                           previews form; these take only --open FILE, --language LANG (en, "
             "it,\n"
             "                           de, es, fr, pt) and --page PAGE (save-params: jpeg, tiff, gif,\n"
             "                           bmp, pcx, png; proc-previews: contrast, hsv, hsl, rgb, filter,\n"
             "                           equalize, bump, lens, wave)\n"
             "  --language LANG          language of the dialogs: system, en, it, de, es, fr, pt\n"
             "  --camera                 screenshot the camera window showing live video from the synthetic "
             "camera\n"
             "  --help                   this text\n")
      .arg(kScreenshotWidth)
      .arg(kScreenshotHeight)
      .arg(kMaxZoom)
      .arg(filters, backgrounds, ProcessOpNames().join(", "));
}

bool ParseDemoArgs(const QStringList& args, DemoOptions& opts, QString& error) {
  opts = DemoOptions{};
  bool zoomGiven = false;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    auto value = [&](QString& out) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    QString v;
    if (a == "--help" || a == "-h") {
      opts.help = true;
    } else if (a == "--screenshot") {
      if (!value(v)) return false;
      if (v.isEmpty()) {
        error = "--screenshot needs a file name";
        return false;
      }
      opts.screenshot = v;
    } else if (a == "--zoom") {
      if (!value(v)) return false;
      if (!ToInt(v, opts.zoom) || opts.zoom < 1 || opts.zoom > kMaxZoom) {
        error = QString("--zoom takes a percentage from 1 to %1, not '%2'").arg(kMaxZoom).arg(v);
        return false;
      }
      zoomGiven = true;
    } else if (a == "--panel") {
      opts.panel = true;
    } else if (a == "--camera") {
      opts.camera = true;
    } else if (a == "--fit") {
      opts.fit = true;
    } else if (a == "--select") {
      if (!value(v)) return false;
      QStringList parts = v.split(',');
      int c[4];
      bool ok = parts.size() == 4;
      for (int k = 0; ok && k < 4; ++k) ok = ToInt(parts[k], c[k]);
      if (!ok) {
        error = "--select takes X1,Y1,X2,Y2, not '" + v + "'";
        return false;
      }
      if (c[0] == c[2] || c[1] == c[3]) {
        error = "--select: the rectangle " + v + " is empty";
        return false;
      }
      for (int k = 0; k < 4; ++k) {
        // Checked against the sample picture; an opened file's view clamps.
        int limit = (k % 2 ? kSampleHeight : kSampleWidth) - 1;
        if (c[k] < 0 || (c[k] > limit && !args.contains("--open"))) {
          error = QString("--select: %1 lies outside the %2 x %3 picture")
                      .arg(v)
                      .arg(kSampleWidth)
                      .arg(kSampleHeight);
          return false;
        }
      }
      opts.hasSelection = true;
      opts.selX1 = c[0], opts.selY1 = c[1], opts.selX2 = c[2], opts.selY2 = c[3];
    } else if (a == "--origin") {
      if (!value(v)) return false;
      QStringList parts = v.split(',');
      bool ok = parts.size() == 2 && ToInt(parts[0], opts.originX) && ToInt(parts[1], opts.originY) &&
                opts.originX >= 0 && opts.originX < kSampleWidth && opts.originY >= 0 &&
                opts.originY < kSampleHeight;
      if (!ok) {
        error = QString("--origin takes X,Y inside the %1 x %2 picture, not '%3'")
                    .arg(kSampleWidth)
                    .arg(kSampleHeight)
                    .arg(v);
        return false;
      }
      opts.hasOrigin = true;
    } else if (a == "--scrollbars") {
      opts.scrollBars = true;
    } else if (a == "--center") {
      opts.center = true;
    } else if (a == "--filter") {
      if (!value(v)) return false;
      opts.hasFilter = false;
      for (const auto& f : kFilters)
        if (v.compare(f.key, Qt::CaseInsensitive) == 0) opts.filter = f.value, opts.hasFilter = true;
      if (!opts.hasFilter) {
        error = "unknown filter '" + v + "'";
        return false;
      }
    } else if (a == "--background") {
      if (!value(v)) return false;
      opts.hasBackground = false;
      for (const auto& b : kBackgrounds)
        if (v.compare(b.key, Qt::CaseInsensitive) == 0) opts.background = b.value, opts.hasBackground = true;
      if (!opts.hasBackground) {
        error = "unknown background style '" + v + "'";
        return false;
      }
    } else if (a == "--process") {
      if (!value(v)) return false;
      for (const QString& op : v.split(',')) {
        if (!IsProcessOp(op.trimmed())) {
          error = "--process: unknown operation '" + op + "'";
          return false;
        }
        opts.process << op.trimmed();
      }
    } else if (a == "--dialog") {
      if (!value(v)) return false;
      if (v != "open" && v != "save") {
        error = "--dialog takes open or save, not '" + v + "'";
        return false;
      }
      opts.dialog = v;
    } else if (a == "--language") {
      if (!value(v)) return false;
      static const std::pair<const char*, TMsgLanguage> langs[] = {
          {"system", msSystem}, {"en", msEnglish}, {"it", msItalian},   {"de", msGerman},
          {"es", msSpanish},    {"fr", msFrench},  {"pt", msPortuguese}};
      bool found = false;
      for (const auto& [key, lang] : langs)
        if (v == key) opts.language = lang, found = true;
      if (!found) {
        error = "--language takes system, en, it, de, es, fr or pt, not '" + v + "'";
        return false;
      }
    } else if (a == "--open") {
      if (!value(opts.open)) return false;
    } else if (a == "--play") {
      opts.play = true;
    } else if (a == "--index") {
      if (!value(v)) return false;
      if (!ToInt(v, opts.index) || opts.index < 0) {
        error = "--index takes a number from 0, not '" + v + "'";
        return false;
      }
    } else {
      error = "unknown option '" + a + "'";
      return false;
    }
  }
  if (!opts.dialog.isEmpty() && opts.screenshot.isEmpty()) {
    error = "--dialog needs --screenshot";
    return false;
  }
  if (opts.play && opts.open.isEmpty()) {
    error = "--play needs --open FILE (GIF, TIFF or AVI)";
    return false;
  }
  if (zoomGiven && opts.fit) {
    error = "--zoom and --fit exclude each other";
    return false;
  }
  return true;
}

namespace {

// Runs the open or save dialog over the window with a file selected, grabs it
// once its preview is loaded, and cancels it.
QImage RenderDialog(MainWindow& w, const DemoOptions& opts, QString& error) {
  QTemporaryDir tmp;
  QString file = opts.open.isEmpty() ? QString() : QFileInfo(opts.open).absoluteFilePath();
  if (file.isEmpty()) {
    file = tmp.filePath("sample.png");
    QString why;
    if (!w.SaveFileAs(file, why)) {
      error = why;
      return {};
    }
  }
  std::unique_ptr<TOpenKorvaneDialog> dlg;
  if (opts.dialog == "save") {
    auto save = std::make_unique<TSaveKorvaneDialog>();
    save->SetAttachedKorvaneIO(w.IO());
    save->Title = "Save image as";
    SelectFilterOf(*save, QFileInfo(file).suffix());
    dlg = std::move(save);
  } else {
    dlg = std::make_unique<TOpenKorvaneDialog>();
    dlg->Title = "Open image";
  }
  dlg->MsgLanguage = w.Language();
  dlg->ParentWidget = &w;
  dlg->SetInitialDir(QFileInfo(file).absolutePath().toStdString());
  QImage img;
  TOpenKorvaneDialog* d = dlg.get();
  d->OnShow = [&img, d, file](TObject*) {
    QTimer::singleShot(0, [&img, d, file] {
      QFileDialog* fd = d->Dialog();
      fd->setAttribute(Qt::WA_DontShowOnScreen);
      fd->resize(860, 520);
      fd->selectFile(file);
      d->DoSelectionChange();
      QCoreApplication::processEvents();
      d->KorvaneView->FlushPaint();
      img = fd->grab().toImage();
      fd->reject();
    });
  };
  d->Execute();
  if (img.isNull()) error = "the dialog could not be rendered";
  return img;
}

}  // namespace

bool SaveScreenshot(const DemoOptions& opts, QString& error) {
  if (opts.camera) return SaveCameraScreenshot(opts.screenshot, error);
  if (opts.play) {
    ThumbBrowser b(nullptr);
    b.setAttribute(Qt::WA_DontShowOnScreen);
    b.resize(kScreenshotWidth, kScreenshotHeight);
    b.show();
    QCoreApplication::processEvents();
    if (!b.OpenMultiFile(opts.open, error)) return false;
    if (opts.index >= b.View()->GetImageCount()) {
      error = QString("%1 has no frame %2").arg(opts.open).arg(opts.index);
      return false;
    }
    b.ShowFrames(false);
    b.View()->SetVisibleFrame(opts.index);
    QCoreApplication::processEvents();
    const QImage img = b.grab().toImage();
    if (img.isNull() || !img.save(opts.screenshot, "PNG")) {
      error = "cannot write " + opts.screenshot;
      return false;
    }
    return true;
  }
  MainWindow w;
  w.setAttribute(Qt::WA_DontShowOnScreen);
  w.resize(kScreenshotWidth, kScreenshotHeight);
  w.show();
  QCoreApplication::processEvents();
  w.View()->SetScrollBars(opts.scrollBars ? ssBoth : ssNone);
  if (!w.ApplyOptions(opts, &error)) return false;
  QString why;
  QImage img = opts.dialog.isEmpty() ? w.Render() : RenderDialog(w, opts, why);
  if (!why.isEmpty()) {
    error = why;
    return false;
  }
  if (img.isNull()) {
    error = "the window could not be rendered";
    return false;
  }
  if (!img.save(opts.screenshot, "PNG")) {
    error = "cannot write " + opts.screenshot;
    return false;
  }
  return true;
}

}  // namespace korvane::demo
