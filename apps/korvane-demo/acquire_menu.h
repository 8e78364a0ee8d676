// File > Select Source... and File > Acquire of the demo: the TWAIN source
// choice and a scan into the view through the window's I/O component.
#pragma once
#include <QMenu>

namespace korvane::demo {

class MainWindow;

// Adds the two actions (object names "select_source" and "acquire") to the
// menu. Acquire shows the source's own window; the status bar says when no
// image arrived.
void AddAcquireActions(QMenu* file, MainWindow* window);

}  // namespace korvane::demo
