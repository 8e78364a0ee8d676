// TKorvaneProc: histogram and equalization.
#include "korvane/proc/kvproc.h"

namespace korvane {

void TKorvaneProc::GetHistogram(THistogramItem* Hist) {
  TBitmap* b = GetBitmap();
  if (!Hist || !b || b->PixelFormat() != pf24bit) return;
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  GetReSel(x1, y1, x2, y2, poly, n);
  _GetHistogram(b, Hist, x1, y1, x2, y2);
}

void TKorvaneProc::HistAutoEqualize() {
  RunSelOp([&](TBitmap* b, int x1, int y1, int x2, int y2) {
    _HistAutoEqualize(b, x1, y1, x2, y2, OnProgress, this);
  });
}

void TKorvaneProc::HistEqualize(TRGB LoThresh, TRGB HiThresh) {
  RunSelOp([&](TBitmap* b, int x1, int y1, int x2, int y2) {
    _HistEqualize(b, LoThresh, HiThresh, x1, y1, x2, y2, OnProgress, this);
  });
}

}  // namespace korvane
