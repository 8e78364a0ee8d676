#include "korvane/multi/kvmio.h"

namespace korvane {

bool TKorvaneMIO::DoPreviews(int, TPreviewParams) { return false; }  // dialog not built yet

}  // namespace korvane
