// TKorvaneProc: geometric transforms of the whole working bitmap.
#include <algorithm>

#include "korvane/foundations/host/halftone.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/proc/kvproc.h"

namespace korvane {

void TKorvaneProc::Resample(int Width, int Height, TResampleFilter Filter) {
  TBitmap* b = GetBitmap();
  if (!b) return;
  if (auto_undo_) SaveUndo();
  if (Width < 0 && Height < 0) return;
  if (b->Empty()) return;
  // One negative size follows the other with the aspect ratio kept (64-bit,
  // then saturated, so large sizes cannot wrap).
  if (Width < 0) Width = int(std::min<int64_t>(INT32_MAX, int64_t(b->Width()) * Height / b->Height()));
  if (Height < 0) Height = int(std::min<int64_t>(INT32_MAX, int64_t(Width) * b->Height() / b->Width()));
  if (Width < 1 || Height < 1) return;
  TBitmap out(Width, Height, b->PixelFormat());
  if (Filter != rfNone && b->PixelFormat() != pf1bit)
    _Resample(b, &out, Filter, OnProgress, this);
  else
    HalftoneStretch(&out, b);
  _CopyBitmap(&out, b);
  Update();
}

void TKorvaneProc::ImageResize(int Width, int Height) {
  TBitmap* b = GetBitmap();
  if (!b || Width < 1 || Height < 1) return;
  if (auto_undo_) SaveUndo();
  b->Canvas()->Brush()->SetColor(GetReBackground());
  b->SetWidth(Width);
  b->SetHeight(Height);
  Update();
}

void TKorvaneProc::Rotate(int Angle, bool Antialias) {
  TBitmap* b = GetBitmap();
  // An empty picture has nothing to turn (a quarter turn of it would give
  // one pixel).
  if (!b || b->Empty()) return;
  if (b->PixelFormat() != pf24bit) {
    if (b->PixelFormat() != pf1bit) return;
    if (auto_undo_) SaveUndo();
    TProgressRec pr = ProgressRec();
    _rotate1bit(b, background_ != 0 ? 1 : 0, pr, Angle);
    Update();
    return;
  }
  if (auto_undo_) SaveUndo();
  Angle %= 360;
  TBitmap turned;
  while (Angle > 45) {
    _Rot90(b, &turned);
    _CopyBitmap(&turned, b);
    Angle -= 90;
  }
  while (Angle < -45) {
    _Rot90o(b, &turned);
    _CopyBitmap(&turned, b);
    Angle += 90;
  }
  if (Angle != 0) {
    TProgressRec pr = ProgressRec();
    _RotateShear(b, Angle, Antialias, TColor2TRGB(GetReBackground()), pr);
  }
  Update();
}

void TKorvaneProc::Flip(TFlipDir Dir) {
  TBitmap* b = GetBitmap();
  if (!b) return;
  if (auto_undo_) SaveUndo();
  _Flip(b, Dir);
  Update();
}

}  // namespace korvane
