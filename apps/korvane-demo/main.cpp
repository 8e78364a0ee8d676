// korvane-demo: shows a sample picture in the image view, or renders the
// window to a PNG file with --screenshot.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "apps/korvane-demo/io_previews_shot.h"
#include "apps/korvane-demo/mainwindow.h"
#include "apps/korvane-demo/proc_previews_shot.h"
#include "apps/korvane-demo/thumb_browser.h"

using korvane::demo::DemoOptions;

int main(int argc, char** argv) {
  // Without a display (and without a platform chosen by the caller) run on
  // the offscreen platform: screenshots and --help still work, and the
  // window itself is refused with a hint below.
  const bool noDisplay =
      !std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY");
  if (noDisplay) setenv("QT_QPA_PLATFORM", "offscreen", 1);

  QApplication app(argc, argv);
  // GIF and LZW-compressed TIFF files need the library's LZW coders.
  korvane::InstallKorvaneLZWCoders();
  QApplication::setApplicationName("korvane-demo");
  // --dialog save-params --screenshot FILE renders the save-parameters form.
  if (const int rc = korvane::demo::SaveParamsDialogShot(QApplication::arguments().mid(1)); rc >= 0) return rc;

  // --screenshot FILE --dialog proc-previews renders the processing previews form.
  if (int rc = korvane::demo::RunProcPreviewsShot(QApplication::arguments().mid(1)); rc >= 0) return rc;

  DemoOptions opts;
  QString error;
  if (!korvane::demo::ParseDemoArgs(QApplication::arguments().mid(1), opts, error)) {
    std::fprintf(stderr, "korvane-demo: %s\n\n%s", qPrintable(error), qPrintable(korvane::demo::DemoUsage()));
    return 2;
  }
  if (opts.help) {
    std::fputs(qPrintable(korvane::demo::DemoUsage()), stdout);
    return 0;
  }
  if (!opts.screenshot.isEmpty()) {
    if (!korvane::demo::SaveScreenshot(opts, error)) {
      std::fprintf(stderr, "korvane-demo: %s\n", qPrintable(error));
      return 1;
    }
    return 0;
  }

  if (noDisplay) {
    std::fprintf(stderr,
                 "korvane-demo: no display (DISPLAY and WAYLAND_DISPLAY are unset).\n"
                 "Run it on a virtual X server: xvfb-run -a %s\n"
                 "or render the window to a file: %s --screenshot FILE\n",
                 argv[0], argv[0]);
    return 1;
  }

  if (opts.play) {
    auto* browser = new korvane::demo::ThumbBrowser(nullptr);
    browser->setAttribute(Qt::WA_DeleteOnClose);
    browser->show();
    QCoreApplication::processEvents();
    if (!browser->OpenMultiFile(opts.open, error)) {
      std::fprintf(stderr, "korvane-demo: %s\n", qPrintable(error));
      return 1;
    }
    browser->ShowFrames(true);
    return app.exec();
  }

  korvane::demo::MainWindow window;
  window.resize(1200, 850);
  window.show();
  // Fitting and centring need the view's final size.
  QCoreApplication::processEvents();
  if (!window.ApplyOptions(opts, &error)) std::fprintf(stderr, "korvane-demo: %s\n", qPrintable(error));
  return app.exec();
}
