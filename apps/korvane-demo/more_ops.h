// Image > More operations of the demo: hidden text, merging with another
// picture, a convolution filter read from a filter file and a color cast of
// a range, each behind a small prompt.
#pragma once
#include <QMenu>

namespace korvane::demo {

class MainWindow;

// Adds the submenu's actions (object names "image.hideText",
// "image.readText", "image.merge", "image.userFilter", "image.castRange").
void AddMoreOperations(QMenu* image, MainWindow* window);

}  // namespace korvane::demo
