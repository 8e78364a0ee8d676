// An image viewer on TKorvane: scroll bars, a click zooms in (a right click
// out), a drag selects a rectangle, and the title follows zoom and selection.
//   viewer IMAGE                     opens a window
//   viewer IMAGE --screenshot OUT    zooms to 200 %, selects, saves the window
#include <QApplication>
#include <cstdio>
#include <exception>

#include "korvane/combined/kvcombined.h"

using namespace korvane;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const bool shot = argc == 4 && QString(argv[2]) == "--screenshot";
  if (argc != 2 && !shot) {
    std::fprintf(stderr, "usage: viewer IMAGE [--screenshot OUT.png]\n");
    return 2;
  }
  TKorvane view;
  view.resize(640, 480);
  view.SetScrollBars(ssBoth);
  view.SetMouseInteract(TKVMouseInteract{miZoom, miSelect});
  auto retitle = [&](TObject*) {
    QString title = QString("%1 - %2%").arg(argv[1]).arg(view.GetZoom());
    if (view.Selected())
      title += QString(" - selection %1,%2 to %3,%4")
                   .arg(view.GetSelX1()).arg(view.GetSelY1()).arg(view.GetSelX2()).arg(view.GetSelY2());
    view.setWindowTitle(title);
  };
  view.OnViewChange = [&](TObject* sender, int) { retitle(sender); };
  view.OnSelectionChange = retitle;
  try {
    view.LoadFromFile(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "viewer: %s\n", e.what());
    return 1;
  }
  if (!shot) {
    view.show();
    return app.exec();
  }
  view.SetZoom(200);
  view.Select(10, 10, 60, 40);  // window coordinates: at 200 % the pixels 5,5 to 30,20
  retitle(&view);  // the events follow the mouse, not the program's calls
  std::printf("%s\n", qPrintable(view.windowTitle()));
  return view.ClientImage().save(argv[3]) ? 0 : 1;
}
