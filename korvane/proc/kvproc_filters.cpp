// TKorvaneProc: convolution filters.
#include "korvane/proc/kvproc.h"

namespace korvane {

void TKorvaneProc::ApplyFilter(const TGraphFilter& Filter) {
  RunSelOp([&](TBitmap* b, int x1, int y1, int x2, int y2) {
    TProgressRec pr = ProgressRec();
    _ApplyFilter(b, Filter, x1, y1, x2, y2, pr);
  });
}

void TKorvaneProc::ApplyFilterPreset(TKVFilterPresets Preset) {
  if (Preset < fpNone || Preset > LowPass2) return;
  ApplyFilter(KVFiltPres[Preset]);
}

}  // namespace korvane
