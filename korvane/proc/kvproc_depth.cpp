// TKorvaneProc: color depth conversion.
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/colordepth.h"
#include "korvane/pixels/quant/quantizer.h"
#include "korvane/proc/kvproc.h"

namespace korvane {

namespace {
bool Is24(const TBitmap* b) { return b && b->PixelFormat() == pf24bit; }
}  // namespace

void TKorvaneProc::ConvertTo(int NCol) { ConvertToPalette(NCol, nullptr); }

void TKorvaneProc::ConvertToPalette(int NCol, TRGB* Palette) {
  TBitmap* b = GetBitmap();
  if (!Is24(b)) return;
  if (GetAutoUndo()) SaveUndo();
  if (NCol > 2) {
    _ConvertTo(b, NCol, Palette, OnProgress, this);
  } else {
    TProgressRec pr = ProgressRec();
    _ConvertToBWOrdered(b, pr);
    // Only the entries the caller gave room for.
    if (Palette && NCol >= 1) Palette[0] = TRGB{0, 0, 0};
    if (Palette && NCol >= 2) Palette[1] = TRGB{255, 255, 255};
  }
  Update();
}

void TKorvaneProc::ConvertToBWOrdered() {
  TBitmap* b = GetBitmap();
  if (!Is24(b)) return;
  if (GetAutoUndo()) SaveUndo();
  TProgressRec pr = ProgressRec();
  _ConvertToBWOrdered(b, pr);
  Update();
}

void TKorvaneProc::ConvertToBWThreshold(int Threshold) {
  TBitmap* b = GetBitmap();
  if (!Is24(b)) return;
  if (GetAutoUndo()) SaveUndo();
  TProgressRec pr = ProgressRec();
  _ConvertToBWThreshold(b, Threshold, pr);
  Update();
}

void TKorvaneProc::ConvertTo24Bit() {
  TBitmap* b = GetBitmap();
  if (!b || b->PixelFormat() != pf1bit) return;
  if (GetAutoUndo()) SaveUndo();
  TBitmap copy;
  copy.Assign(b);
  TProgressRec pr = ProgressRec();
  _Conv1to24(&copy, b, pr);
  Update();
}

void TKorvaneProc::CalcImagePalette(TRGB* Palette, int MaxCol) {
  TBitmap* b = GetBitmap();
  if (!Is24(b) || b->Empty() || !Palette || MaxCol < 1) return;
  TKVQuantizer q(b, Palette, 255, MaxCol, -1, 0);
}

int TKorvaneProc::CalcImageNumColors() {
  TBitmap* b = GetBitmap();
  if (!b) return 0;
  if (b->PixelFormat() == pf1bit) return 2;
  if (b->PixelFormat() != pf24bit) return 0;
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  GetReSel(x1, y1, x2, y2, poly, n);
  return _GetImageNumColors(b, x1, y1, x2, y2);
}

}  // namespace korvane
