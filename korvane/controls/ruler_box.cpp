#include "korvane/controls/ruler_box.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "korvane/view/view_geometry.h"

namespace korvane {

namespace {

// More ticks than this in one pass (a tiny Frequency) are not drawn: they
// would fill the strip solid and take unbounded time.
constexpr double kMaxTicks = 65536;

bool PtIn(const TRect& r, int x, int y) { return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom; }

}  // namespace

std::string RulerLabel(double v, bool hex) {
  char buf[64];
  if (hex) {
    const double a = std::trunc(std::fabs(v));
    // Magnitudes beyond 64 bits saturate; NaN reads as 0.
    const unsigned long long n = a >= 1.8e19 ? ~0ull : a >= 1 ? (unsigned long long)a : 0ull;
    std::snprintf(buf, sizeof buf, "%s%llX", v < 0 ? "-" : "", n);
    return buf;
  }
  if (v == 0) return "0";
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  // 15 significant digits; the exponent after rounding decides the form.
  std::snprintf(buf, sizeof buf, "%.14E", v);
  std::string s = buf;
  const size_t e = s.find('E');
  const int exp = std::atoi(s.c_str() + e + 1);
  if (exp < 15 && std::fabs(v) >= 0.00001) {
    std::snprintf(buf, sizeof buf, "%.*f", std::max(0, 14 - exp), v);
    s = buf;
    if (s.find('.') != std::string::npos) {
      s.erase(s.find_last_not_of('0') + 1);
      if (s.back() == '.') s.pop_back();
    }
    return s;
  }
  std::string mant = s.substr(0, e);
  mant.erase(mant.find_last_not_of('0') + 1);
  if (mant.back() == '.') mant.pop_back();
  std::snprintf(buf, sizeof buf, "E%c%03d", exp < 0 ? '-' : '+', std::abs(exp));
  return mant + buf;
}

TRulerBox::TRulerBox(TComponent* AOwner, QWidget* parent) : TCustomControl(AOwner, parent) {
  SetOpaque(true);
  bitmap_ = std::make_unique<TBitmap>();
  bitmap_->SetPixelFormat(pf24bit);
  grips_.resize(1);
  grips_[0].Color = background_;
  TNotifyEvent fontChanged = Font()->OnChange;
  Font()->OnChange = [this, fontChanged](TObject* s) {
    if (fontChanged) fontChanged(s);
    Update();
  };
  resize(300, 40);
  SyncGeometry();
}

TRulerBox::~TRulerBox() { KillTimer(kScrollTimer); }

// ---------------------------------------------------------------------------
// Grips

double TRulerBox::GetGripsPos(int i) const { return i >= 0 && i < GetGripsCount() ? grips_[i].Pos : 0; }
TColor TRulerBox::GetGripsCol(int i) const { return i >= 0 && i < GetGripsCount() ? grips_[i].Color : 0; }
TGripKind TRulerBox::GetGripsKind(int i) const {
  return i >= 0 && i < GetGripsCount() ? grips_[i].Kind : gkTriangle;
}
double TRulerBox::GetGripsMin(int i) const { return i >= 0 && i < GetGripsCount() ? grips_[i].Min : 0; }
double TRulerBox::GetGripsMax(int i) const { return i >= 0 && i < GetGripsCount() ? grips_[i].Max : 0; }

void TRulerBox::SetGripsPos(int i, double v) {
  if (i < 0 || i >= GetGripsCount() || !std::isfinite(v)) return;
  grips_[i].Pos = v;
  AdjustGripLimits(i);
  if (OnRulerPosChange) OnRulerPosChange(this, i);
  Update();
  Repaint();
}

void TRulerBox::AdjustGripLimits(int i) {
  const TRulerGrip& g = grips_[i];
  if (!(g.Max > g.Min)) return;
  // Through SetGripsPos, so a limited grip reports its new position too.
  if (g.Pos < g.Min)
    SetGripsPos(i, g.Min);
  else if (g.Pos > g.Max)
    SetGripsPos(i, g.Max);
}

void TRulerBox::SetGripsCol(int i, TColor c) {
  if (i < 0 || i >= GetGripsCount()) return;
  grips_[i].Color = c;
  Update();
}

void TRulerBox::SetGripsKind(int i, TGripKind k) {
  if (i < 0 || i >= GetGripsCount()) return;
  grips_[i].Kind = k;
  Update();
}

void TRulerBox::SetGripsMin(int i, double v) {
  if (i < 0 || i >= GetGripsCount()) return;
  grips_[i].Min = v;
  for (int j = 0; j < GetGripsCount(); ++j) AdjustGripLimits(j);
  Update();
}

void TRulerBox::SetGripsMax(int i, double v) {
  if (i < 0 || i >= GetGripsCount()) return;
  grips_[i].Max = v;
  for (int j = 0; j < GetGripsCount(); ++j) AdjustGripLimits(j);
  Update();
}

void TRulerBox::SetGripsCount(int n) {
  n = std::max(n, 0);
  if (pressed_ >= n) pressed_ = -1;
  TRulerGrip fresh;
  fresh.Color = background_;
  fresh.Min = view_min_;
  fresh.Max = view_max_;
  grips_.resize(size_t(n), fresh);
  Update();
}

// ---------------------------------------------------------------------------
// View and appearance

void TRulerBox::SetViewPos(double v) {
  if (!std::isfinite(v)) return;
  view_pos_ = v;
  AdjustViewLimits();
  Update();
  Repaint();
}

void TRulerBox::SetViewMin(double v) {
  view_min_ = v;
  AdjustViewLimits();
  for (auto& g : grips_) g.Min = v;
  Update();
}

void TRulerBox::SetViewMax(double v) {
  view_max_ = v;
  AdjustViewLimits();
  for (auto& g : grips_) g.Max = v;
  Update();
}

void TRulerBox::SetDPU(double v) {
  if ((Designing() && fit_) || !std::isfinite(v)) return;
  dpu_ = v;
  Update();
}

void TRulerBox::SetFrequency(double v) {
  frequency_ = v;
  Update();
}

void TRulerBox::SetLabelFreq(double v) {
  label_freq_ = v;
  Update();
}

void TRulerBox::SetBackground(TColor c) {
  background_ = c;
  Update();
}

void TRulerBox::SetGripBaseDim(int v) {
  grip_base_ = v;
  Update();
}

void TRulerBox::SetGripsDir(TGripsDir d) {
  grips_dir_ = d;
  Update();
}

void TRulerBox::SetRuler(bool on) {
  ruler_ = on;
  Update();
}

void TRulerBox::SetRulerColor(TColor c) {
  ruler_color_ = c;
  Update();
}

void TRulerBox::SetRulerDir(TRulerDir d) {
  ruler_dir_ = d;
  Update();
}

void TRulerBox::SetFitInView(bool on) {
  fit_ = on;
  Update();
}

void TRulerBox::SetHexLabels(bool on) {
  hex_ = on;
  Update();
}

int TRulerBox::Length() const { return Vertical() ? bitmap_->Height() : bitmap_->Width(); }

int TRulerBox::GetXGripPos(int i) const {
  if (i < 0 || i >= GetGripsCount()) return 0;
  // Kept well inside the int range so that grip outlines cannot overflow.
  return std::clamp(KVRound((grips_[i].Pos - view_pos_) * dpu_), -(1 << 24), 1 << 24);
}

double TRulerBox::GetWidthInUnit() const { return dpu_ != 0 ? Length() / dpu_ : 0; }

int TRulerBox::GetRulerHeight() const {
  if (!ruler_) return 0;
  const int fh = const_cast<TRulerBox*>(this)->Font()->Height();
  return int(std::abs(fh) * 1.7) + 3;
}

void TRulerBox::AdjustViewLimits() {
  if (!(view_min_ < view_max_)) return;
  // The end limit first and the start limit last: a range shorter than the
  // ruler shows from its start instead of alternating between the two.
  const double last = view_max_ - GetWidthInUnit();
  if (view_pos_ > last) view_pos_ = last;
  if (view_pos_ < view_min_) view_pos_ = view_min_;
}

// ---------------------------------------------------------------------------
// Geometry of the grips

std::vector<TPoint> TRulerBox::GetGripPoly(int i) const {
  if (i < 0 || i >= GetGripsCount()) return {};
  const int p = Designing() ? i * (grip_base_ + 5) : GetXGripPos(i);
  const int far = (Vertical() ? bitmap_->Width() : bitmap_->Height()) - 1;
  const int r = GetRulerHeight();
  const bool up = grips_dir_ == gdUp;
  const int e = up ? far : 0, t = up ? r : far - r;
  const int h = grip_base_ / 2, q = grip_base_ / 4;
  std::vector<TPoint> pts;
  switch (grips_[i].Kind) {
    case gkTriangle:
      pts = {{p - h, e}, {p + h, e}, {p, t}};
      break;
    case gkLeftTriangle:
      pts = {{p - h, e}, {p, e}, {p, t}};
      break;
    case gkRightTriangle:
      pts = {{p, e}, {p + h, e}, {p, t}};
      break;
    case gkArrow: {
      // The head takes the third of the length next to the tip.
      const int m = up ? t + (e - t) / 3 : e + (t - e) / 3 * 2;
      pts = {{p - q, e}, {p + q, e}, {p + q, m}, {p + h, m}, {p, t}, {p - h, m}, {p - q, m}};
      break;
    }
    case gkArrow2: {
      const int m = up ? t + (e - t) / 2 : e + (t - e) / 2;
      pts = {{p - h, e}, {p + h, e}, {p + h, m}, {p, t}, {p - h, m}};
      break;
    }
  }
  if (Vertical())
    for (TPoint& pt : pts) std::swap(pt.x, pt.y);
  return pts;
}

void TRulerBox::GetGripRect(int i, TRect& r) const {
  const std::vector<TPoint> pts = GetGripPoly(i);
  if (pts.empty()) {
    r = TRect{};
    return;
  }
  r = Rect(pts[0].x, pts[0].y, pts[0].x, pts[0].y);
  for (const TPoint& p : pts) {
    r.Left = std::min(r.Left, p.x);
    r.Top = std::min(r.Top, p.y);
    r.Right = std::max(r.Right, p.x);
    r.Bottom = std::max(r.Bottom, p.y);
  }
  ++r.Right;
  ++r.Bottom;
}

int TRulerBox::GetClickedGrip(int x, int y) const {
  // Later grips are drawn over earlier ones: test them first.
  for (int i = GetGripsCount() - 1; i >= 0; --i) {
    TRect r;
    GetGripRect(i, r);
    if (PtIn(r, x, y)) return i;
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Drawing

void TRulerBox::Update() {
  if (fit_ && view_max_ > view_min_ && Length() > 0) {
    dpu_ = Length() / (view_max_ - view_min_);
    AdjustViewLimits();
  }
  RepaintGrips();
  RepaintRuler();
  bitmap_->Canvas()->EndPaint();
  Invalidate();
}

void TRulerBox::RepaintGrips() {
  TCanvas* c = bitmap_->Canvas();
  const int w = bitmap_->Width(), h = bitmap_->Height(), r = GetRulerHeight();
  TRect area = Rect(0, 0, w, h);
  if (ruler_) {
    const bool up = grips_dir_ == gdUp;
    if (Vertical())
      (up ? area.Left : area.Right) = up ? r : w - r;
    else
      (up ? area.Top : area.Bottom) = up ? r + 1 : h - r;
  }
  c->Pen()->SetMode(pmCopy);
  c->Pen()->SetStyle(psSolid);
  c->Pen()->SetWidth(1);
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(background_);
  c->FillRect(area);
  c->Pen()->SetColor(clBlack);
  for (int i = 0; i < GetGripsCount(); ++i) {
    const std::vector<TPoint> pts = GetGripPoly(i);
    c->Brush()->SetColor(grips_[i].Color);
    c->Polygon(pts.data(), int(pts.size()));
  }
}

void TRulerBox::RepaintRuler() {
  if (!ruler_) return;
  TCanvas* c = bitmap_->Canvas();
  const int w = bitmap_->Width(), h = bitmap_->Height(), r = GetRulerHeight();
  const bool up = grips_dir_ == gdUp;
  TRect strip;
  if (Vertical())
    strip = up ? Rect(0, 0, r, h) : Rect(w - r, 0, w, h);
  else
    strip = up ? Rect(0, 0, w, r + 1) : Rect(0, h - r, w, h);
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(ruler_color_);
  c->FillRect(strip);
  c->Pen()->SetColor(Font()->Color());
  c->Font()->Assign(*Font());
  DrawScale(frequency_, r / 4, false);
  DrawScale(label_freq_, r / 2, true);
}

void TRulerBox::DrawScale(double freq, int tickLen, bool labels) {
  const int len = Length();
  if (!(freq > 0) || !(dpu_ > 0) || len <= 0) return;
  const double count = std::trunc(len / dpu_ / freq) + 2;
  if (!(count <= kMaxTicks)) return;
  TCanvas* c = bitmap_->Canvas();
  const int w = bitmap_->Width(), h = bitmap_->Height(), r = GetRulerHeight();
  const bool up = grips_dir_ == gdUp;
  // The strip's edge that faces the grips, and the direction into the strip.
  const int inner = Vertical() ? (up ? r - 1 : w - r) : (up ? r : h - r);
  const int into = up ? -1 : 1;
  const int fh = std::abs(Font()->Height());
  const double first = freq * std::trunc(view_pos_ / freq);
  c->Brush()->SetStyle(bsClear);
  for (int k = 0; k < int(count); ++k) {
    const double v = k * freq + first;
    const int px = KVRound((v - view_pos_) * dpu_);
    if (px < -len || px > 2 * len) continue;
    if (Vertical()) {
      c->MoveTo(inner, px);
      c->LineTo(inner + into * tickLen, px);
    } else {
      c->MoveTo(px, inner);
      c->LineTo(px, inner + into * tickLen);
    }
    if (!labels) continue;
    const std::string text = RulerLabel(v, hex_);
    const int tw = c->TextWidth(text);
    if (!Vertical()) {
      c->TextOut(px - tw / 2, up ? 0 : h - fh, text);
    } else {
      // Text along the ruler, read from the bottom with gdUp and from the top
      // with gdDown, its top towards the strip's outer edge.
      c->Font()->SetEscapement(up ? 900 : -900);
      if (up)
        c->TextOut(0, px + tw / 2, text);
      else
        c->TextOut(w, px - tw / 2, text);
      c->Font()->SetEscapement(Font()->Escapement());
    }
  }
  c->Brush()->SetStyle(bsSolid);
}

void TRulerBox::Paint() {
  bitmap_->Canvas()->EndPaint();
  Canvas()->Draw(0, 0, bitmap_.get());
}

void TRulerBox::WMSize() {
  TCustomControl::WMSize();
  bitmap_->Canvas()->EndPaint();
  bitmap_->SetSize(std::max(ClientWidth(), 0), std::max(ClientHeight(), 0));
  Update();
}

// ---------------------------------------------------------------------------
// Mouse

void TRulerBox::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TCustomControl::MouseDown(Button, Shift, X, Y);
  if (Button != mbLeft) return;
  const int a = Vertical() ? Y : X;
  pressed_ = GetClickedGrip(X, Y);
  down_ = pointer_ = a;
  moved_ = false;
  if (pressed_ >= 0) {
    if (Shift.Contains(ssDouble) && OnRulerGripDblClick) OnRulerGripDblClick(this, pressed_);
    grip_pixel_ = GetXGripPos(pressed_);
  } else if (dpu_ != 0 && OnRulerClick) {
    OnRulerClick(this, a / dpu_ + view_pos_);
  }
}

void TRulerBox::MouseMove(TShiftState Shift, int X, int Y) {
  TCustomControl::MouseMove(Shift, X, Y);
  if (pressed_ < 0 || !Shift.Contains(ssLeft)) return;
  const int a = Vertical() ? Y : X;
  if (a != down_) moved_ = true;
  pointer_ = a;
  if (dpu_ == 0) return;
  if (a >= 0 && a < Length()) {
    KillTimer(kScrollTimer);
    SetGripsPos(pressed_, (a + grip_pixel_ - down_) / dpu_ + view_pos_);
    return;
  }
  // Beyond an end the view scrolls, one pixel now and one per timer tick
  // while the pointer stays there with the button held.
  ScrollStep(a < 0 ? -1 : 1);
  SetTimer(kScrollTimer, kScrollInterval);
}

void TRulerBox::WMTimer(int id) {
  if (id != kScrollTimer) return;
  if (pressed_ < 0 || dpu_ == 0 || (pointer_ >= 0 && pointer_ < Length())) {
    KillTimer(kScrollTimer);
    return;
  }
  ScrollStep(pointer_ < 0 ? -1 : 1);
}

void TRulerBox::ScrollStep(int dir) {
  if (pressed_ < 0 || pressed_ >= GetGripsCount() || dpu_ == 0) return;
  const double step = 1 / dpu_;
  // The grip stays one pixel beyond the end while the view moves under it.
  const double off = dir < 0 ? grip_pixel_ - down_ : Length() + grip_pixel_ - down_ - 1;
  grips_[pressed_].Pos = off / dpu_ + view_pos_ + dir * step;
  AdjustGripLimits(pressed_);
  view_pos_ += dir * step;
  AdjustViewLimits();
  if (OnRulerPosChange) OnRulerPosChange(this, pressed_);
  Update();
  Repaint();
}

void TRulerBox::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TCustomControl::MouseUp(Button, Shift, X, Y);
  if (Button != mbLeft) return;
  KillTimer(kScrollTimer);
  const int g = pressed_;
  pressed_ = -1;
  if (g >= 0 && !moved_ && OnRulerGripClick) OnRulerGripClick(this, g);
}

}  // namespace korvane
