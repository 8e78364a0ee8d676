// Renders the save-parameters form to a PNG file for
// korvane-demo --dialog save-params --screenshot FILE.
#pragma once
#include <QStringList>

namespace korvane::demo {

// When args ask for --dialog save-params: renders the form and answers the
// exit code (0 written, 1 failed, 2 bad arguments). Otherwise -1.
//   --screenshot FILE   the PNG to write (required)
//   --lang LANG         en, it, de, es, fr or pt (default en)
//   --page PAGE         jpeg, tiff, gif, bmp, pcx or png (default jpeg)
//   --open FILE         the picture to preview (default the sample picture)
int SaveParamsDialogShot(const QStringList& args);

}  // namespace korvane::demo
