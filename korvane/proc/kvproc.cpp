#include "korvane/proc/kvproc.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/video/yuvconv.h"
#include "korvane/view/view_geometry.h"

namespace korvane {

// ---------------------------------------------------------------------------
// Construction and attachment

TKorvaneProc::TKorvaneProc(TComponent* AOwner)
    : TComponent(AOwner), preview_font_(std::make_unique<TFont>()), undo_(std::make_unique<TBitmap>(1, 1)) {}

TKorvaneProc::~TKorvaneProc() { BeginDestroy(); }

void TKorvaneProc::SetAttachedKorvane(TKVView* v) { target_.AttachView(v); }

void TKorvaneProc::SetTImage(TImage* image) {
  // Null forgets only a picture control; an attached view stays.
  if (image)
    target_.AttachImage(image);
  else
    target_.DropImage();
}

void TKorvaneProc::SetAttachedBitmap(TBitmap* bitmap) { target_.AttachBitmap(bitmap); }

TBitmap* TKorvaneProc::GetBitmap() const { return target_.Bitmap(); }

void TKorvaneProc::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove) target_.Removed(AComponent);
}

void TKorvaneProc::Update() { target_.Refresh(); }

// ---------------------------------------------------------------------------
// Selection

void TKorvaneProc::Select(int x1, int y1, int x2, int y2) {
  sel_x1_ = x1;
  sel_y1_ = y1;
  sel_x2_ = x2;
  sel_y2_ = y2;
  if (auto* kv = dynamic_cast<TKorvaneView*>(target_.View())) {
    const TKVSelectionBase base = kv->GetSelectionBase();
    kv->SetSelectionBase(kvsbBitmap);
    kv->Select(x1, y1, x2, y2);
    kv->SetSelectionBase(base);
  }
}

void TKorvaneProc::SelectAll() {
  sel_x1_ = sel_y1_ = sel_x2_ = sel_y2_ = -1;
  if (auto* kv = dynamic_cast<TKorvaneView*>(target_.View())) kv->DeSelect();
}

bool TKorvaneProc::RawSel(int& x1, int& y1, int& x2, int& y2, const TPoint*& Polygon, int& Count) const {
  Polygon = nullptr;
  Count = 0;
  if (auto* kv = dynamic_cast<TKorvaneView*>(target_.View())) {
    if (!kv->Selected() || kv->GetPolySelCount() <= 0) return false;
    x1 = kv->GetSelX1();
    y1 = kv->GetSelY1();
    x2 = kv->GetSelX2();
    y2 = kv->GetSelY2();
    Polygon = kv->GetPolySelArray();
    Count = kv->GetPolySelCount();
    return true;
  }
  x1 = sel_x1_;
  y1 = sel_y1_;
  x2 = sel_x2_;
  y2 = sel_y2_;
  // A negative x1 alone means "nothing selected" (SelectAll stores -1 four
  // times); a rectangle that reaches into the picture from the left is a
  // selection.
  return x1 >= 0 || (x2 >= 0 && y2 >= 0);
}

bool TKorvaneProc::GetReSel(int& x1, int& y1, int& x2, int& y2, const TPoint*& Polygon, int& Count) const {
  const TBitmap* b = GetBitmap();
  const int w = b ? b->Width() : 0, h = b ? b->Height() : 0;
  if (!RawSel(x1, y1, x2, y2, Polygon, Count)) {
    x1 = 0;
    y1 = 0;
    x2 = w - 1;
    y2 = h - 1;
    Polygon = nullptr;
    Count = 0;
    return false;
  }
  // Every operation sees the selection's rectangle inside the bitmap; the
  // polygon stays as it is (its copies and fills clip it). A selection
  // wholly outside the bitmap leaves an empty rectangle (x2 < x1 or y2 < y1).
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  if (b) {
    x2 = std::min(x2, w - 1);
    y2 = std::min(y2, h - 1);
  }
  return true;
}

int TKorvaneProc::GetSelX1() const {
  int x1, y1, x2, y2, n;
  const TPoint* p;
  GetReSel(x1, y1, x2, y2, p, n);
  return x1;
}

int TKorvaneProc::GetSelY1() const {
  int x1, y1, x2, y2, n;
  const TPoint* p;
  GetReSel(x1, y1, x2, y2, p, n);
  return y1;
}

int TKorvaneProc::GetSelX2() const {
  int x1, y1, x2, y2, n;
  const TPoint* p;
  GetReSel(x1, y1, x2, y2, p, n);
  return x2;
}

int TKorvaneProc::GetSelY2() const {
  int x1, y1, x2, y2, n;
  const TPoint* p;
  GetReSel(x1, y1, x2, y2, p, n);
  return y2;
}

bool TKorvaneProc::IsTrueRect(const TPoint* Polygon, int Count) const {
  return Count <= 0 || _IsRectangle(Polygon, Count);
}

// ---------------------------------------------------------------------------
// Background

TColor TKorvaneProc::GetReBackground() const {
  return target_.View() ? target_.View()->GetBackground() : background_;
}

void TKorvaneProc::SetReBackground(TColor c) {
  if (TKVView* v = target_.View())
    v->SetBackGround(c);
  else
    background_ = c;
}

// ---------------------------------------------------------------------------
// Undo

void TKorvaneProc::SaveUndo() {
  TBitmap* b = GetBitmap();
  if (!b) return;
  undo_->SetSize(1, 1);
  if (b->Width() >= 1 && b->Height() >= 1) _CopyBitmap(b, undo_.get());
}

void TKorvaneProc::Undo() {
  TBitmap* b = GetBitmap();
  if (!b || !GetCanUndo()) return;
  _CopyBitmap(undo_.get(), b);
  Update();
}

void TKorvaneProc::ClearUndo() { undo_->SetSize(1, 1); }

bool TKorvaneProc::GetCanUndo() const { return undo_->Width() > 1 && undo_->Height() > 1; }

// ---------------------------------------------------------------------------
// Clipboard

HGLOBAL TKorvaneProc::SelectionDIB(TBitmap* bmp, int x1, int y1, int x2, int y2, const TPoint* Polygon,
                                   int Count) {
  if (IsTrueRect(Polygon, Count)) {
    // The inclusive rectangle; x2 or y2 of 0 would mean "to the edge".
    if (x2 < x1 || y2 < y1) return nullptr;
    return BitmapToPackedDIB(bmp, Rect(x1, y1, x2 + 1, y2 + 1));
  }
  TBitmap tmp;
  _CopyBitmapPoly(bmp, &tmp, x1, y1, x2, y2, Polygon, Count);
  return BitmapToPackedDIB(&tmp);
}

void TKorvaneProc::FillSelection(TBitmap* bmp, int x1, int y1, int x2, int y2, const TPoint* Polygon,
                                 int Count) {
  if (x2 < x1 || y2 < y1) return;
  const TColor c = GetReBackground();
  if (IsTrueRect(Polygon, Count)) {
    TCanvas* cv = bmp->Canvas();
    cv->Brush()->SetColor(c);
    cv->Brush()->SetStyle(bsSolid);
    cv->FillRect(Rect(x1, y1, x2 + 1, y2 + 1));
    cv->EndPaint();
  } else {
    _ClearSel(bmp, Polygon, Count, c);
  }
}

void TKorvaneProc::CopyToClipboard() {
  TBitmap* b = GetBitmap();
  if (!b || !ClipboardAvailable()) return;
  if (HGLOBAL h = _CopyBitmaptoDIB(b, 0, 0, 0, 0)) ClipboardSetDIB(h);
}

void TKorvaneProc::SelCopyToClip() {
  TBitmap* b = GetBitmap();
  if (!b) return;
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  if (!GetReSel(x1, y1, x2, y2, poly, n)) {
    CopyToClipboard();
    return;
  }
  if (!ClipboardAvailable()) return;
  if (HGLOBAL h = SelectionDIB(b, x1, y1, x2, y2, poly, n)) ClipboardSetDIB(h);
}

void TKorvaneProc::SelCutToClip() {
  TBitmap* b = GetBitmap();
  if (!b) return;
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  if (!GetReSel(x1, y1, x2, y2, poly, n)) return;
  if (auto_undo_) SaveUndo();
  if (ClipboardAvailable())
    if (HGLOBAL h = SelectionDIB(b, x1, y1, x2, y2, poly, n)) ClipboardSetDIB(h);
  FillSelection(b, x1, y1, x2, y2, poly, n);
  Update();
}

bool TKorvaneProc::ClipboardBitmap(TBitmap& out) {
  if (!ClipboardAvailable()) return false;
  HGLOBAL h = ClipboardGetDIB();
  if (!h) return false;
  try {
    _CopyDIB2Bitmap(h, &out);
  } catch (const EInvalidGraphic&) {
    return false;
  }
  return !out.Empty();
}

void TKorvaneProc::PasteFromClipboard() {
  TBitmap* b = GetBitmap();
  if (!b) return;
  TBitmap tmp;
  if (!ClipboardBitmap(tmp)) return;
  if (auto_undo_) SaveUndo();
  _CopyBitmap(&tmp, b);
  Update();
}

void TKorvaneProc::PointPasteFromClip(int x, int y) {
  TBitmap* b = GetBitmap();
  if (!b) return;
  TBitmap tmp;
  if (!ClipboardBitmap(tmp)) return;
  if (auto_undo_) SaveUndo();
  if (auto* kv = dynamic_cast<TKorvaneView*>(target_.View())) {
    x = kv->XScr2Bmp(x);
    y = kv->YScr2Bmp(y);
  }
  b->Canvas()->Draw(x, y, &tmp);
  b->Canvas()->EndPaint();
  Update();
}

void TKorvaneProc::SelPasteFromClipStretch() {
  TBitmap* b = GetBitmap();
  if (!b) return;
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  if (!GetReSel(x1, y1, x2, y2, poly, n)) {
    PasteFromClipboard();
    return;
  }
  if (x2 < x1 || y2 < y1) return;
  TBitmap tmp;
  if (!ClipboardBitmap(tmp)) return;
  if (auto_undo_) SaveUndo();
  b->Canvas()->StretchDraw(Rect(x1, y1, x2 + 1, y2 + 1), &tmp);
  b->Canvas()->EndPaint();
  Update();
}

// ---------------------------------------------------------------------------
// Clearing and cropping

void TKorvaneProc::Clear() {
  TBitmap* b = GetBitmap();
  if (!b) return;
  if (auto_undo_) SaveUndo();
  TCanvas* cv = b->Canvas();
  cv->Brush()->SetColor(GetReBackground());
  cv->Brush()->SetStyle(bsSolid);
  cv->FillRect(Rect(0, 0, b->Width(), b->Height()));
  cv->EndPaint();
  Update();
}

void TKorvaneProc::ClearSel() {
  TBitmap* b = GetBitmap();
  if (!b) return;
  if (auto_undo_) SaveUndo();
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  GetReSel(x1, y1, x2, y2, poly, n);
  FillSelection(b, x1, y1, x2, y2, poly, n);
  Update();
}

void TKorvaneProc::CropSel() {
  TBitmap* b = GetBitmap();
  if (!b) return;
  if (auto_undo_) SaveUndo();
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  if (RawSel(x1, y1, x2, y2, poly, n)) {
    // The crop keeps x1..x2-1 and y1..y2-1: a selection reaching past an
    // edge keeps the picture up to that edge, never more.
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, b->Width());
    y2 = std::min(y2, b->Height());
    if (x2 > x1 && y2 > y1) {
      TBitmap tmp;
      _CopyBitmapPoly(b, &tmp, x1, y1, x2, y2, poly, n);
      // The view drops its selection when the size changes: the polygon is
      // not used past this point.
      _CopyBitmap(&tmp, b);
    }
  }
  Update();
}

// ---------------------------------------------------------------------------
// Operation protocol

void TKorvaneProc::RunSelOp(const std::function<void(TBitmap*, int, int, int, int)>& Work, bool Accept1Bit) {
  TBitmap* b = GetBitmap();
  if (!b) return;
  const TPixelFormat pf = b->PixelFormat();
  if (pf != pf24bit && !(Accept1Bit && pf == pf1bit)) return;
  if (auto_undo_) SaveUndo();
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  // Procedures get a rectangle inside the bitmap.
  GetReSel(x1, y1, x2, y2, poly, n);
  if (x1 <= x2 && y1 <= y2) {
    if (IsTrueRect(poly, n)) {
      Work(b, x1, y1, x2, y2);
    } else {
      // A polygon one pixel wide or high encloses nothing (its right and
      // bottom edges are outside); 0 would also mean "to the edge" here.
      TBitmap tmp;
      if (x2 > x1 && y2 > y1) _CopyBitmapRect(b, &tmp, x1, y1, x2, y2);
      if (!tmp.Empty()) {
        Work(&tmp, 0, 0, tmp.Width() - 1, tmp.Height() - 1);
        _CopyPolygonBitmap(b, &tmp, x1, y1, poly, n);
      }
    }
  }
  Update();
}

TProgressRec TKorvaneProc::ProgressRec() {
  TProgressRec r;
  r.OnProgress = OnProgress;
  r.Sender = this;
  return r;
}

void TKorvaneProc::SetPreviewFont(const TFont* f) {
  if (f) preview_font_->Assign(*f);
}

}  // namespace korvane
