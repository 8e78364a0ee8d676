#include "korvane/controls/gradient_bar.h"

#include <algorithm>

#include "korvane/foundations/kvutils.h"

namespace korvane {

TKVGradientBar::TKVGradientBar(TComponent* AOwner, QWidget* parent) : TCustomControl(AOwner, parent) {
  SetOpaque(true);
  resize(40, 300);
  BuildRamp();
}

void TKVGradientBar::BuildRamp() {
  const TColor b = ColorToRGB(begin_), e = ColorToRGB(end_);
  // Channel c of entry i is b + trunc(i x (e - b) / 255), computed exactly in
  // integers: a real step (e - b) / 255 multiplied by i falls just short of
  // a whole number for some entries (drop 195 at entry 153: 116.99...) and
  // would truncate one level off.
  auto ch = [](int from, int to, int i) { return uint8_t(from + i * (to - from) / 255); };
  for (int i = 0; i < 256; ++i)
    ramp_[i] = RGB(ch(GetRValue(b), GetRValue(e), i), ch(GetGValue(b), GetGValue(e), i),
                   ch(GetBValue(b), GetBValue(e), i));
}

TRGB TKVGradientBar::GetRGB() const {
  const TColor c = GetColor();
  return CreateRGB(GetRValue(c), GetGValue(c), GetBValue(c));
}

void TKVGradientBar::SetColorIndex(int i) {
  index_ = std::clamp(i, 0, 255);
  Invalidate();
}

void TKVGradientBar::SetBeginColor(TColor c) {
  begin_ = c;
  BuildRamp();
  Invalidate();
}

void TKVGradientBar::SetEndColor(TColor c) {
  end_ = c;
  BuildRamp();
  Invalidate();
}

void TKVGradientBar::SetDirection(TKVGradientDir d) {
  dir_ = d;
  Invalidate();
}

void TKVGradientBar::SetMouseInteractGr(TKVMouseInteractGr s) {
  interact_ = s;
  Invalidate();
}

int TKVGradientBar::GripPos() const {
  const int len = (dir_ == gdHorizontal ? ClientWidth() : ClientHeight()) - 1;
  return len > 0 ? index_ * len / 255 : -1;
}

void TKVGradientBar::Paint() {
  TCanvas* c = Canvas();
  const int w = ClientWidth(), h = ClientHeight();
  c->Brush()->SetStyle(bsSolid);
  const int len = (dir_ == gdHorizontal ? w : h) - 1;
  if (len <= 0) {
    // One pixel along the bar has no ramp to show.
    c->Brush()->SetColor(Color());
    c->FillRect(Rect(0, 0, w, h));
    return;
  }
  // Entry trunc(255 / len x a) for pixel a along the bar, computed exactly so
  // the last pixel shows entry 255.
  for (int a = 0; a <= len; ++a) {
    c->Brush()->SetColor(ramp_[255 * a / len]);
    if (dir_ == gdHorizontal)
      c->FillRect(Rect(a, 0, a + 1, h));
    else
      c->FillRect(Rect(0, h - 1 - a, w, h - a));
  }
  if (ComponentState().Contains(csDesigning) || !interact_.Contains(migDragGrip)) return;
  // The grip: a 6-pixel band across the bar outlined with an inverting pen.
  const int p = GripPos();
  c->Pen()->SetMode(pmNot);
  c->Pen()->SetStyle(psSolid);
  c->Pen()->SetWidth(1);
  c->Brush()->SetStyle(bsClear);
  if (dir_ == gdHorizontal)
    c->Rectangle(p - 3, 0, p + 3, h);
  else
    c->Rectangle(0, p - 3, w, p + 3);
  c->Pen()->SetMode(pmCopy);
  c->Brush()->SetStyle(bsSolid);
}

void TKVGradientBar::DragTo(int x, int y) {
  if (!interact_.Contains(migDragGrip)) return;
  const int w = ClientWidth(), h = ClientHeight();
  const int len = (dir_ == gdHorizontal ? w : h) - 1;
  if (len <= 0) return;
  x = std::clamp(x, 0, std::max(w - 1, 0));
  y = std::clamp(y, 0, std::max(h - 1, 0));
  index_ = (dir_ == gdHorizontal ? x : y) * 255 / len;
  Invalidate();
  if (OnChange) OnChange(this);
}

void TKVGradientBar::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TCustomControl::MouseDown(Button, Shift, X, Y);
  if (Button != mbLeft) return;
  dragging_ = true;
  DragTo(X, Y);
}

void TKVGradientBar::MouseMove(TShiftState Shift, int X, int Y) {
  TCustomControl::MouseMove(Shift, X, Y);
  if (dragging_ && Shift.Contains(ssLeft)) DragTo(X, Y);
}

void TKVGradientBar::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TCustomControl::MouseUp(Button, Shift, X, Y);
  if (Button == mbLeft) dragging_ = false;
}

}  // namespace korvane
