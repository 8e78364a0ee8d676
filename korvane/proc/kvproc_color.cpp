// TKorvaneProc: color models and color adjustments.
#include "korvane/pixels/colors.h"
#include "korvane/proc/kvproc.h"

namespace korvane {

void TKorvaneProc::HSLvar(int Hue, int Sat, int Lum) {
  RunSelOp([&](TBitmap* b, int x1, int y1, int x2, int y2) {
    _HSLvar(b, x1, y1, x2, y2, Hue, Sat, Lum, OnProgress, this);
  });
}

void TKorvaneProc::HSVvar(int Hue, int Sat, int Val) {
  RunSelOp([&](TBitmap* b, int x1, int y1, int x2, int y2) {
    _HSVvar(b, x1, y1, x2, y2, Hue, Sat, Val, OnProgress, this);
  });
}

void TKorvaneProc::Contrast(int Amount) {
  TBitmap* bmp = GetBitmap();
  if (!bmp || bmp->PixelFormat() != pf24bit || bmp->Width() < 2 || bmp->Height() < 2) return;
  // The pivots come from the whole image, also when a selection limits the
  // change.
  int mR, mG, mB;
  _GetMediaContrastRGB(bmp, mR, mG, mB);
  RunSelOp([&](TBitmap* b, int x1, int y1, int x2, int y2) {
    _ContrastRGB(b, x1, y1, x2, y2, Amount, mR, mG, mB, OnProgress, this);
  });
}

void TKorvaneProc::IntensityRGBall(int r, int g, int b) {
  RunSelOp([&](TBitmap* bmp, int x1, int y1, int x2, int y2) {
    _IntensityRGBall(bmp, x1, y1, x2, y2, r, g, b, OnProgress, this);
  });
}

void TKorvaneProc::Negative() {
  RunSelOp(
      [&](TBitmap* b, int x1, int y1, int x2, int y2) { _Negative(b, x1, y1, x2, y2, OnProgress, this); },
      true);
}

void TKorvaneProc::ConvertToGray() {
  RunSelOp([&](TBitmap* b, int x1, int y1, int x2, int y2) {
    _ConvertToGray(b, x1, y1, x2, y2, OnProgress, this);
  });
}

void TKorvaneProc::CastColorRange(TRGB BeginColor, TRGB EndColor, TRGB CastColor) {
  RunSelOp([&](TBitmap* b, int x1, int y1, int x2, int y2) {
    _CastColorRange(b, x1, y1, x2, y2, BeginColor, EndColor, CastColor, OnProgress, this);
  });
}

void TKorvaneProc::Threshold(TRGB DownLimit, TRGB UpLimit, TRGB DownVal, TRGB UpVal) {
  RunSelOp([&](TBitmap* b, int x1, int y1, int x2, int y2) {
    _Threshold(b, x1, y1, x2, y2, DownLimit, UpLimit, DownVal, UpVal, OnProgress, this);
  });
}

std::unique_ptr<TBitmap> TKorvaneProc::GetHSVChannel(int Channel) {
  return _GetHSVChannel(GetBitmap(), Channel, OnProgress, this);
}

void TKorvaneProc::GetHSVChannelAll(TBitmap* H, TBitmap* S, TBitmap* V) {
  _GetHSVChannelAll(GetBitmap(), H, S, V, OnProgress, this);
}

}  // namespace korvane
