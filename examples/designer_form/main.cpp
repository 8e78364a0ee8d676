// A window laid out in Qt Designer with Korvane's widgets (main_window.ui):
// an image view and a histogram box, their properties set in the form. The
// form places the widgets; the code gives the view a processing and an I/O
// component and points the histogram box at the processing one.
//
//   designer_form [--screenshot FILE] [IMAGE]
//
// With --screenshot the window renders itself into FILE (PNG) instead of
// showing, prints where the histogram box sits in it, and exits.
#include <QApplication>
#include <QCommandLineParser>
#include <QMainWindow>
#include <cstdio>

#include "korvane/io/kvio.h"
#include "korvane/proc/kvproc.h"
#include "ui_main_window.h"

using namespace korvane;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QCommandLineParser cl;
  cl.addHelpOption();
  cl.addOption({"screenshot", "Render the window into <file> and exit.", "file"});
  cl.addPositionalArgument("image", "The image to show.");
  cl.process(app);

  QMainWindow window;
  Ui::MainWindow ui;
  ui.setupUi(&window);

  // Owned by the view, so they go with it.
  auto* io = new TKorvaneIO(ui.view);
  io->SetAttachedKorvane(ui.view);
  auto* proc = new TKorvaneProc(ui.view);
  proc->SetAttachedKorvane(ui.view);
  ui.histogram->SetAKVP(proc);

  if (!cl.positionalArguments().isEmpty()) {
    const QString file = cl.positionalArguments().first();
    try {
      io->LoadFromFile(file.toStdString());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s\n", qPrintable(file), e.what());
      return 1;
    }
    window.setWindowTitle(file);
  }
  // The histogram box draws when told: after every change of the picture.
  ui.view->OnImageChange = [&](TObject*) { ui.histogram->Update(); };
  ui.histogram->Update();

  const QString shot = cl.value("screenshot");
  if (shot.isEmpty()) {
    window.show();
    return app.exec();
  }
  window.setAttribute(Qt::WA_DontShowOnScreen);
  window.show();
  QApplication::processEvents();
  if (!window.grab().save(shot)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(shot));
    return 1;
  }
  const QRect r(ui.histogram->mapTo(&window, QPoint(0, 0)), ui.histogram->size());
  std::printf("histogram %d %d %d %d\n", r.x(), r.y(), r.width(), r.height());
  return 0;
}
