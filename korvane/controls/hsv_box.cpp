#include "korvane/controls/hsv_box.h"

#include <algorithm>

#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/colors.h"
#include "korvane/view/view_geometry.h"

namespace korvane {

THSVBox::THSVBox(TComponent* AOwner, QWidget* parent) : TCustomControl(AOwner, parent) {
  SetOpaque(true);
  bitmap_ = std::make_unique<TBitmap>();
  bitmap_->SetPixelFormat(pf24bit);
  resize(105, 105);
  SyncGeometry();
}

void THSVBox::ColorFromHSV() {
  TRGB c{};
  HSV2RGB(c, hue_, sat_, val_);
  red_ = c.r;
  green_ = c.g;
  blue_ = c.b;
  color_ = RGB(red_, green_, blue_);
}

void THSVBox::SetHue(int h) {
  hue_ = std::clamp(h, 0, 359);
  ColorFromHSV();
  DrawArea();
  Invalidate();
}

void THSVBox::SetSat(int s) {
  sat_ = std::clamp(s, 0, 99);
  ColorFromHSV();
  Invalidate();
}

void THSVBox::SetVal(int v) {
  val_ = std::clamp(v, 0, 99);
  ColorFromHSV();
  Invalidate();
}

void THSVBox::SetRGB(uint8_t r, uint8_t g, uint8_t b) {
  red_ = r;
  green_ = g;
  blue_ = b;
  RGB2HSV(CreateRGB(r, g, b), hue_, sat_, val_);
  color_ = RGB(r, g, b);
  DrawArea();
  Invalidate();
}

void THSVBox::SetColor(TColor c) {
  const TColor v = ColorToRGB(c);
  SetRGB(GetRValue(v), GetGValue(v), GetBValue(v));
  color_ = c;
}

void THSVBox::SetBackground(TColor c) {
  background_ = c;
  DrawHueBar();
  DrawArea();
  Invalidate();
}

void THSVBox::WMSize() {
  TCustomControl::WMSize();
  bitmap_->Canvas()->EndPaint();
  bitmap_->SetSize(std::max(ClientWidth(), 0), std::max(ClientHeight(), 0));
  DrawHueBar();
  DrawArea();
  Invalidate();
}

void THSVBox::DrawHueBar() {
  const int w = bitmap_->Width(), h = bitmap_->Height();
  if (w <= 0 || h <= 0) return;
  const TRGB bg = TColor2TRGB(ColorToRGB(background_));
  const int bar = w - kHueBarWidth, gap = bar - kGap;
  // Row d from the bottom shows hue trunc(d x 360 / height): 0 at the bottom.
  for (int d = 0; d < h; ++d) {
    TRGB hue{};
    HSV2RGB(hue, d * 360 / h, 99, 99);
    TRGB* row = reinterpret_cast<TRGB*>(bitmap_->Scanline(h - 1 - d));
    for (int x = std::max(gap, 0); x < w; ++x) row[x] = x < bar ? bg : hue;
  }
}

void THSVBox::DrawArea() {
  const int h = bitmap_->Height(), a = std::min(AreaWidth(), bitmap_->Width());
  if (a <= 0 || h <= 0) return;
  // Value trunc(d x 100 / height) for row d from the bottom and saturation
  // trunc(f x 100 / A) for column f, the factors in single precision.
  const double fv = float(100) / float(h), fs = float(100) / float(a);
  for (int d = 0; d < h; ++d) {
    const int v = int(d * fv);
    TRGB* row = reinterpret_cast<TRGB*>(bitmap_->Scanline(h - 1 - d));
    for (int f = 0; f < a; ++f) HSV2RGB(row[f], hue_, int(f * fs), v);
  }
}

void THSVBox::DrawGrips(TCanvas* c) {
  const int w = ClientWidth(), h = ClientHeight(), a = AreaWidth();
  c->Pen()->SetMode(pmNot);
  c->Pen()->SetStyle(psSolid);
  c->Pen()->SetWidth(1);
  c->Brush()->SetStyle(bsClear);
  const int hy = KVRound((h - 1) * (359 - hue_) / 360.0);
  c->Rectangle(w - kHueBarWidth, hy - 2, w, hy + 2);
  if (a > 0) {
    const int x = KVRound(sat_ / 99.0 * (a - 1)), y = KVRound((h - 1) * val_ / 99.0);
    c->Rectangle(x - 3, h - y - 4, x + 3, h - y + 2);
  }
  c->Pen()->SetMode(pmCopy);
  c->Brush()->SetStyle(bsSolid);
}

void THSVBox::Paint() {
  TCanvas* c = Canvas();
  bitmap_->Canvas()->EndPaint();
  c->Draw(0, 0, bitmap_.get());
  DrawGrips(c);
}

void THSVBox::HandleMouse(int x, int y) {
  const int h = ClientHeight(), a = AreaWidth();
  // One row leaves no height to scale the position by.
  if (h < 2) return;
  if (x < a) {
    // A one-column area holds only saturation 0.
    sat_ = a > 1 ? KVRound(double(x) / (a - 1) * 99) : 0;
    val_ = 99 - KVRound(double(y) / (h - 1) * 99);
  } else if (x >= a + kGap) {
    hue_ = 359 - KVRound(double(y) / (h - 1) * 359);
    DrawArea();
  } else {
    return;
  }
  ColorFromHSV();
  if (OnChange) OnChange(this);
  Invalidate();
}

void THSVBox::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TCustomControl::MouseDown(Button, Shift, X, Y);
  if (Button != mbLeft) return;
  const int w = ClientWidth();
  drag_mode_ = X < AreaWidth() ? 1 : X >= w - kHueBarWidth ? 2 : 0;
  DragTo(X, Y);
}

void THSVBox::MouseMove(TShiftState Shift, int X, int Y) {
  TCustomControl::MouseMove(Shift, X, Y);
  if (Shift.Contains(ssLeft)) DragTo(X, Y);
}

void THSVBox::DragTo(int X, int Y) {
  if (drag_mode_ == 0) return;
  const int w = ClientWidth(), h = ClientHeight(), a = AreaWidth();
  // The grip being dragged stays in its own part of the control.
  X = std::max(X, 0);
  Y = std::clamp(Y, 0, std::max(h - 1, 0));
  if (drag_mode_ == 1)
    X = std::min(X, a - 1);
  else
    X = std::clamp(X, std::max(w - kHueBarWidth, 0), std::max(w - 1, 0));
  HandleMouse(X, Y);
}

void THSVBox::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TCustomControl::MouseUp(Button, Shift, X, Y);
  if (Button == mbLeft) drag_mode_ = 0;
}

}  // namespace korvane
