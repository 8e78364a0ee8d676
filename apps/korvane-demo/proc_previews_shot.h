// Renders the processing previews form to a PNG:
//   korvane-demo --screenshot FILE --dialog proc-previews [--lang LANG]
//                [--page PAGE] [--open IMAGE]
#pragma once
#include <QStringList>

namespace korvane::demo {

// -1 when the arguments do not ask for the processing previews form;
// otherwise runs it and returns the exit code (0 written, 1 failed, 2 a
// command line it cannot read).
int RunProcPreviewsShot(const QStringList& args);

}  // namespace korvane::demo
