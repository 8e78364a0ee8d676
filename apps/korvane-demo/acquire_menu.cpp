#include "apps/korvane-demo/acquire_menu.h"

#include <QAction>
#include <QStatusBar>
#include <exception>

#include "apps/korvane-demo/mainwindow.h"
#include "korvane/acquire/twain.h"

namespace korvane::demo {

void AddAcquireActions(QMenu* file, MainWindow* w) {
  QAction* select = file->addAction("Select &Source...");
  select->setObjectName("select_source");
  QObject::connect(select, &QAction::triggered, w, [w] {
    if (w->IO()->SelectAcquireSource()) {
      TKVTWainParams* tp = w->IO()->TWainParams();
      w->statusBar()->showMessage(
          "Source: " + QString::fromStdString(tp->GetSourceName(tp->GetSelectedSource())), 5000);
    }
  });
  QAction* acquire = file->addAction("&Acquire...");
  acquire->setObjectName("acquire");
  QObject::connect(acquire, &QAction::triggered, w, [w] {
    // A source that stops answering ends the acquisition with an error.
    try {
      if (w->IO()->Acquire()) {
        w->setWindowTitle("Scanned image - Korvane demo");
        w->SyncFromView();
        return;
      }
      w->statusBar()->showMessage("No image was acquired", 5000);
    } catch (const std::exception& e) {
      w->statusBar()->showMessage(QString("No image was acquired: ") + e.what(), 5000);
    }
  });
}

}  // namespace korvane::demo
