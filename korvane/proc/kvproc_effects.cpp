// TKorvaneProc: image effects.
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/proc/kvproc.h"

namespace korvane {

void TKorvaneProc::RunEffectOp(const std::function<void(TBitmap*, int, int, int, int)>& Work) {
  TBitmap* b = GetBitmap();
  if (!b || b->PixelFormat() != pf24bit) return;
  if (auto_undo_) SaveUndo();
  int x1, y1, x2, y2, n = 0;
  const TPoint* poly = nullptr;
  GetReSel(x1, y1, x2, y2, poly, n);
  if (n <= 0) {
    // Only a view's selection counts; the own rectangle does not.
    if (!b->Empty()) Work(b, 0, 0, b->Width() - 1, b->Height() - 1);
  } else {
    TBitmap tmp;
    if (x2 > x1 && y2 > y1) _CopyBitmapRect(b, &tmp, x1, y1, x2, y2);
    if (!tmp.Empty()) {
      Work(&tmp, 0, 0, tmp.Width() - 1, tmp.Height() - 1);
      _CopyPolygonBitmap(b, &tmp, x1, y1, poly, n);
    }
  }
  Update();
}

void TKorvaneProc::Merge(TBitmap* Other, int Percent) {
  if (!Other) return;
  RunSelOp([&](TBitmap* b, int x1, int y1, int x2, int y2) {
    _Merge(b, Other, Percent, x1, y1, x2, y2, OnProgress, this);
  });
}

void TKorvaneProc::Lens(int x, int y, int Width, int Height, double Refraction) {
  RunEffectOp([&](TBitmap* b, int, int, int, int) {
    TProgressRec pr = ProgressRec();
    _lens(b, x, y, Width, Height, Refraction, pr);
  });
}

void TKorvaneProc::Wave(int Amplitude, int WaveLength, int Phase, bool Reflective) {
  RunEffectOp([&](TBitmap* b, int, int, int, int) {
    TProgressRec pr = ProgressRec();
    _wave(b, Amplitude, WaveLength, Phase, Reflective, pr);
  });
}

void TKorvaneProc::BumpMapping(int LightX, int LightY, int LightWidth, int LightHeight, int Percent,
                               TRGB Color) {
  RunEffectOp([&](TBitmap* b, int x1, int y1, int x2, int y2) {
    TProgressRec pr = ProgressRec();
    _BumpMapping(b, LightX, LightY, LightWidth, LightHeight, Percent, Color, x1, y1, x2, y2, pr);
  });
}

}  // namespace korvane
