#include "korvane/controls/histogram_box.h"

#include <QRandomGenerator>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "korvane/proc/kvproc.h"
#include "korvane/view/view_geometry.h"

namespace korvane {

THistogramBox::THistogramBox(TComponent* AOwner, QWidget* parent) : TCustomControl(AOwner, parent) {
  SetOpaque(true);
  bitmap_ = std::make_unique<TBitmap>();
  bitmap_->SetPixelFormat(pf24bit);
  // Labels follow the font.
  TNotifyEvent fontChanged = Font()->OnChange;
  Font()->OnChange = [this, fontChanged](TObject* s) {
    if (fontChanged) fontChanged(s);
    Update();
  };
  resize(256, 105);
  SyncGeometry();
}

THistogramBox::~THistogramBox() {
  BeginDestroy();
  if (proc_) proc_->RemoveFreeNotification(this);
  proc_ = nullptr;
}

void THistogramBox::SetAKVP(TKorvaneProc* p) {
  if (p == proc_) return;
  if (proc_) proc_->RemoveFreeNotification(this);
  proc_ = p;
  if (proc_) proc_->FreeNotification(this);
  Update();
}

void THistogramBox::Notification(TComponent* AComponent, TOperation Operation) {
  TCustomControl::Notification(AComponent, Operation);
  if (Operation == opRemove && proc_ && AComponent == static_cast<TComponent*>(proc_)) {
    proc_ = nullptr;
    if (!Destroying()) Update();
  }
}

void THistogramBox::SetBackground(TColor c) {
  background_ = c;
  Update();
}

void THistogramBox::SetHistogramKind(THistogramKind k) {
  if (k == kind_) return;
  kind_ = k;
  Update();
}

void THistogramBox::SetLabels(THistogramLabels l) {
  if (l == labels_) return;
  labels_ = l;
  Update();
}

void THistogramBox::SetCompBar(bool on) {
  if (on == comp_bar_) return;
  comp_bar_ = on;
  Update();
}

void THistogramBox::SetHistogramStyle(THistogramStyle s) {
  if (s == style_) return;
  style_ = s;
  Update();
}

void THistogramBox::WMSize() {
  TCustomControl::WMSize();
  bitmap_->Canvas()->EndPaint();
  bitmap_->SetSize(std::max(ClientWidth(), 0), std::max(ClientHeight(), 0));
  Update();
}

void THistogramBox::Paint() {
  bitmap_->Canvas()->EndPaint();
  Canvas()->Draw(0, 0, bitmap_.get());
}

void THistogramBox::Update() {
  TCanvas* c = bitmap_->Canvas();
  const int w = bitmap_->Width(), h = bitmap_->Height();
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(background_);
  c->FillRect(Rect(0, 0, w, h));
  HistogramXPos = Left();

  const bool designing = ComponentState().Contains(csDesigning);
  std::vector<THistogramItem> hist(256, THistogramItem{0, 0, 0, 0});
  if (designing) {
    QRandomGenerator* rnd = QRandomGenerator::global();
    for (auto& it : hist)
      it = {rnd->bounded(256u), rnd->bounded(256u), rnd->bounded(256u), rnd->bounded(256u)};
  } else if (proc_ && proc_->GetBitmap()) {
    proc_->GetHistogram(hist.data());
  }
  uint32_t max = 0;
  for (const auto& it : hist) {
    if (kind_.Contains(hkRed)) max = std::max(max, it.R);
    if (kind_.Contains(hkGreen)) max = std::max(max, it.G);
    if (kind_.Contains(hkBlue)) max = std::max(max, it.B);
    if (kind_.Contains(hkGray)) max = std::max(max, it.Gray);
  }
  if (max > 0 && w > 0 && h > 0) DrawGraph(hist.data(), max);
  c->EndPaint();
  Invalidate();
}

void THistogramBox::DrawGraph(const THistogramItem* hist, uint32_t max) {
  TCanvas* c = bitmap_->Canvas();
  c->Font()->Assign(*Font());
  c->Brush()->SetStyle(bsClear);
  const int fh = std::abs(Font()->Height());
  const int w = bitmap_->Width(), h = bitmap_->Height();
  int gw = w, gh = h, s = 0;
  const int barH = int(fh * 1.2);
  if (comp_bar_) gh -= barH + 2;

  const std::string maxText = std::to_string(max);
  c->Pen()->SetColor(Font()->Color());
  c->Pen()->SetMode(pmCopy);
  c->Pen()->SetStyle(psSolid);
  c->Pen()->SetWidth(1);
  if (labels_.Contains(hlVertical)) {
    const int tw = c->TextWidth(maxText);
    c->TextOut(0, gh / 2, std::to_string(max / 2));
    c->TextOut(0, 0, maxText);
    gw -= tw + 2;
    s += tw + 2;
  }
  if (labels_.Contains(hlHorizontal)) {
    const int y = gh - fh - 1;
    for (int v : {0, 64, 128, 192}) c->TextOut(s + KVRound(v / 256.0 * gw), y, std::to_string(v));
    c->TextOut(s + gw - c->TextWidth("255"), y, "255");
    gh -= c->TextHeight(maxText) + 2;
    c->MoveTo(s - 1, 0);
    c->LineTo(s - 1, gh);
    c->LineTo(s + gw, gh);
  }
  HistogramXPos = Left() + s;
  if (gw <= 0) return;

  if (comp_bar_ && barH > 0) {
    const bool red = kind_.Contains(hkRed) || kind_.Contains(hkGray);
    const bool green = kind_.Contains(hkGreen) || kind_.Contains(hkGray);
    const bool blue = kind_.Contains(hkBlue) || kind_.Contains(hkGray);
    c->EndPaint();
    for (int y = std::max(h - barH, 0); y < h; ++y) {
      TRGB* row = reinterpret_cast<TRGB*>(bitmap_->Scanline(y));
      for (int l = 0; l < gw && s + l < w; ++l) {
        // round(l / gw x 256) reaches 256 in the last columns of a narrow bar.
        const uint8_t v = uint8_t(std::min(KVRound(double(l) / gw * 256), 255));
        row[s + l] = TRGB{blue ? v : uint8_t(0), green ? v : uint8_t(0), red ? v : uint8_t(0)};
      }
    }
  }
  if (gh <= 0) return;

  struct Kind {
    THistogramKindItem item;
    TColor color;
    uint32_t THistogramItem::*count;
  };
  static constexpr Kind kinds[] = {{hkRed, clRed, &THistogramItem::R},
                                   {hkGreen, RGB(0, 0x80, 0), &THistogramItem::G},
                                   {hkBlue, clBlue, &THistogramItem::B},
                                   {hkGray, clBlack, &THistogramItem::Gray}};
  auto height = [&](const Kind& k, int x) {
    const int level = int(int64_t(x) * 256 / gw);
    return KVRound(double(hist[level].*k.count) / max * gh);
  };
  for (const Kind& k : kinds) {
    if (!kind_.Contains(k.item)) continue;
    c->Pen()->SetColor(k.color);
    if (style_ == hsBars) {
      for (int x = 0; x < gw; ++x) {
        c->MoveTo(s + x, gh - 1);
        c->LineTo(s + x, gh - height(k, x) - 2);
      }
    } else {
      std::vector<TPoint> pts;
      pts.reserve(gw + 1);
      pts.push_back(Point(s, gh - 1));
      for (int x = 0; x < gw; ++x) pts.push_back(Point(s + x, gh - height(k, x) - 1));
      c->Polyline(pts.data(), int(pts.size()));
    }
  }
}

}  // namespace korvane
