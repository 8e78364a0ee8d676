#include "korvane/io/kvio.h"

namespace korvane {

bool TKorvaneIO::DoPreviews(TPreviewParams) { return false; }  // dialog not built yet

}  // namespace korvane
