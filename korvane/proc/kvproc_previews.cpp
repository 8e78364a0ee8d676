#include "korvane/proc/kvproc.h"

namespace korvane {

bool TKorvaneProc::DoPreviews(TPreviewEffectsSet) { return false; }  // dialog not built yet

}  // namespace korvane
