#include "korvane/foundations/host/picture.h"

namespace korvane {

// ---------------------------------------------------------------------------
// TPicture

TPicture::~TPicture() {
  if (auto* b = dynamic_cast<TBitmap*>(graphic_.get())) b->OnChange = nullptr;
}

void TPicture::Hook() {
  // The bitmap's own change event becomes the picture's.
  if (auto* b = dynamic_cast<TBitmap*>(graphic_.get())) b->OnChange = [this](TObject*) { Changed(); };
}

void TPicture::SetGraphic(std::unique_ptr<TObject> g) {
  if (auto* b = dynamic_cast<TBitmap*>(graphic_.get())) b->OnChange = nullptr;
  graphic_ = std::move(g);
  Hook();
  Changed();
}

TBitmap* TPicture::Bitmap() {
  if (auto* b = dynamic_cast<TBitmap*>(graphic_.get())) return b;
  auto b = std::make_unique<TBitmap>();
  TBitmap* raw = b.get();
  SetGraphic(std::move(b));
  return raw;
}

void TPicture::SetBitmap(const TBitmap* b) {
  if (!b) {
    SetGraphic(nullptr);
    return;
  }
  Bitmap()->Assign(b);  // fires the change through the hook
}

void TPicture::Assign(TObject* Source) {
  if (!Source) {
    SetGraphic(nullptr);
  } else if (auto* p = dynamic_cast<TPicture*>(Source)) {
    if (p == this) return;
    if (auto* b = dynamic_cast<TBitmap*>(p->Graphic()))
      SetBitmap(b);
    else
      SetGraphic(nullptr);
  } else if (auto* b = dynamic_cast<TBitmap*>(Source)) {
    SetBitmap(b);
  }
}

int TPicture::Width() const {
  if (auto* b = dynamic_cast<TBitmap*>(graphic_.get())) return b->Width();
  if (auto* g = dynamic_cast<TGraphic*>(graphic_.get())) return g->Width();
  return 0;
}

int TPicture::Height() const {
  if (auto* b = dynamic_cast<TBitmap*>(graphic_.get())) return b->Height();
  if (auto* g = dynamic_cast<TGraphic*>(graphic_.get())) return g->Height();
  return 0;
}

// ---------------------------------------------------------------------------
// TImage

TImage::TImage(TComponent* AOwner, QWidget* parent) : TCustomControl(AOwner, parent) {
  resize(105, 105);
  picture_.OnChange = [this](TObject*) { Invalidate(); };
}

TImage::~TImage() {
  // Removal notifications go out while the picture still exists.
  BeginDestroy();
  picture_.OnChange = nullptr;
}

void TImage::SetStretch(bool on) {
  if (on == stretch_) return;
  stretch_ = on;
  Invalidate();
}

void TImage::SetCenter(bool on) {
  if (on == center_) return;
  center_ = on;
  Invalidate();
}

void TImage::Paint() {
  TCanvas* c = Canvas();
  const int cw = ClientWidth(), ch = ClientHeight();
  // Other graphics (metafiles) draw themselves at their size, or stretched.
  if (auto* g = dynamic_cast<TGraphic*>(picture_.Graphic())) {
    const int w = g->Width(), h = g->Height();
    if (w <= 0 || h <= 0) return;
    const int x = center_ && !stretch_ ? (cw - w) / 2 : 0, y = center_ && !stretch_ ? (ch - h) / 2 : 0;
    g->Draw(c, stretch_ ? Rect(0, 0, cw, ch) : Rect(x, y, x + w, y + h));
    return;
  }
  auto* b = dynamic_cast<TBitmap*>(picture_.Graphic());
  if (!b || b->Empty()) return;
  if (stretch_) {
    c->StretchDraw(Rect(0, 0, cw, ch), b);
  } else if (center_) {
    c->Draw((cw - b->Width()) / 2, (ch - b->Height()) / 2, b);
  } else {
    c->Draw(0, 0, b);
  }
}

}  // namespace korvane
