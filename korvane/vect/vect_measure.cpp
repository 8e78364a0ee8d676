// Measurement of the view's selection polygon in physical units, the scale
// taken from a known length, and the floating measurement hint.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "korvane/foundations/kvhint.h"
#include "korvane/vect/kvvect.h"

namespace korvane {

namespace {
const char* const kUnitNames[] = {"Pixels", "Inches", "Km", "Mt", "CM", "MM"};
}

void TKorvaneVect::CalcCoef() {
  if (munit_ == kvuPIXELS) {
    cx_ = cy_ = 1;
  } else {
    // A resolution of 0 (unknown) is taken as the screen's.
    const int dx = GetDPIX() > 0 ? GetDPIX() : std::max(gSystemDPIX, 1);
    const int dy = GetDPIY() > 0 ? GetDPIY() : std::max(gSystemDPIY, 1);
    cx_ = 1.0 / dx;
    cy_ = 1.0 / dy;
    double f = 1;  // inches
    switch (munit_) {
      case kvuKM:
        f = 2.54 / 100000;
        break;
      case kvuMETERS:
        f = 2.54 / 100;
        break;
      case kvuCENTIMETERS:
        f = 2.54;
        break;
      case kvuMILLIMETERS:
        f = 25.4;
        break;
      default:
        break;
    }
    cx_ *= f;
    cy_ *= f;
  }
  cx_ *= scale_;
  cy_ *= scale_;
}

void TKorvaneVect::SetMUnit(TKVUnits u) {
  munit_ = u;
  CalcCoef();
  UpdateHint(-1, -1);
}

void TKorvaneVect::SetScale(double s) {
  scale_ = s;
  CalcCoef();
  UpdateHint(-1, -1);
}

void TKorvaneVect::SetFloatDigits(int d) {
  float_digits_ = std::clamp(d, 0, 18);
  UpdateHint(-1, -1);
}

void TKorvaneVect::SetFloatPrecision(int p) {
  float_precision_ = std::clamp(p, 1, 18);
  UpdateHint(-1, -1);
}

void TKorvaneVect::SetDPIX(int v) {
  TKorvaneView::SetDPIX(v);
  CalcCoef();
  UpdateHint(-1, -1);
}

void TKorvaneVect::SetDPIY(int v) {
  TKorvaneView::SetDPIY(v);
  CalcCoef();
  UpdateHint(-1, -1);
}

void TKorvaneVect::SetDPI(int x, int y) {
  TKorvaneView::SetDPI(x, y);
  CalcCoef();
  UpdateHint(-1, -1);
}

// The selection polygon's vertices are kept in bitmap pixels, so they need no
// zoom conversion here.
double TKorvaneVect::GetSelectionLen() {
  const int n = GetPolySelCount();
  double len = 0;
  auto seg = [&](TPoint a, TPoint b) { return std::hypot((b.x - a.x) * cx_, (b.y - a.y) * cy_); };
  for (int i = 1; i < n; ++i) len += seg(GetPolySel(i - 1), GetPolySel(i));
  if (!DrawingPolygon() && n > 2) len += seg(GetPolySel(n - 1), GetPolySel(0));
  if (live_segment_ && n >= 1 && DrawingPolygon() && mouse_pt_.x >= 0)
    len += seg(GetPolySel(n - 1), Point(XScr2Bmp(mouse_pt_.x), YScr2Bmp(mouse_pt_.y)));
  return len;
}

double TKorvaneVect::GetSelectionArea() {
  const int n = GetPolySelCount();
  if (n < 3) return 0;
  double sum = 0;
  for (int i = 0; i < n; ++i) {
    const TPoint a = GetPolySel(i), b = GetPolySel((i + 1) % n);
    sum += double(a.x) * b.y - double(b.x) * a.y;
  }
  return std::abs(sum * cx_ * cy_) / 2;
}

void TKorvaneVect::SetScaleFromPixels(double pixels, double value) {
  const double cx0 = scale_ != 0 ? cx_ / scale_ : 0;
  const double d = pixels * cx0;
  if (!(d != 0) || !std::isfinite(value / d)) return;
  scale_ = value / d;
  CalcCoef();
  UpdateHint(-1, -1);
}

void TKorvaneVect::SetScaleFromSelectionLen(double value) {
  const double sx = cx_, sy = cy_;
  cx_ = cy_ = 1;
  const double px = std::trunc(GetSelectionLen());
  cx_ = sx, cy_ = sy;
  SetScaleFromPixels(px, value);
}

std::string TKorvaneVect::MeasureText(double value, bool area) const {
  char buf[64];
  // Beyond the precision's integer digits the value is shown in exponent form.
  if (std::abs(value) >= std::pow(10.0, float_precision_))
    std::snprintf(buf, sizeof buf, "%.*E", float_precision_ - 1, value);
  else
    std::snprintf(buf, sizeof buf, "%.*f", float_digits_, value);
  std::string t = std::string(buf) + " " + kUnitNames[munit_];
  if (area) t += "\xC2\xB2";
  return t;
}

void TKorvaneVect::ShowHint(int x, int y, double value, bool area) {
  if (!hint_) return;
  std::string text = MeasureText(value, area);
  if (OnMeasureHint) OnMeasureHint(this, text, value);
  hint_->SetText(text);
  if (x >= 0 && y >= 0) {
    x = std::min(x, ClientWidth() - hint_->Width() - 1);
    y = std::min(y, ClientHeight() - hint_->Height() - 1);
    const TPoint s = ClientToScreen(Point(x, y));
    hint_->move(s.x, s.y);
    hint_->SetVisible(true);
  }
  hint_->Invalidate();
}

void TKorvaneVect::UpdateHint(int x, int y) {
  if (interact_vt_.Contains(miArea))
    ShowHint(x, y, GetSelectionArea(), true);
  else if (interact_vt_.Contains(miLineLen))
    ShowHint(x, y, GetSelectionLen(), false);
}

}  // namespace korvane
