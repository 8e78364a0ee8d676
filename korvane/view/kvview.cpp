#include "korvane/view/kvview.h"

#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "korvane/foundations/host/winsys.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/quant/quantizer.h"
#include "korvane/view/scroll_sync.h"
#include "korvane/view/system_dpi.h"

namespace korvane {

int gSystemDPIX = 0;
int gSystemDPIY = 0;
int gSystemColors = 0;
int gAnimDim = 7;

void InitScreenGlobals() {
  if (gSystemDPIX) return;
  gSystemDPIX = GetScreenDPI();
  gSystemDPIY = GetScreenDPIY();
  gSystemColors = GetScreenBitsPerPixel();
}

int SystemDpiX() { return gSystemDPIX > 0 ? gSystemDPIX : GetScreenDPI(); }
int SystemDpiY() { return gSystemDPIY > 0 ? gSystemDPIY : GetScreenDPIY(); }

// ---------------------------------------------------------------------------
// TKVView

TKVView::TKVView(TComponent* AOwner, QWidget* parent) : TCustomControl(AOwner, parent) {
  InitScreenGlobals();
  SetBorderStyle(bsSingle);
  dpix_ = gSystemDPIX;
  dpiy_ = gSystemDPIY;
}

TKVView::~TKVView() {
  // Listeners unregister while the list still exists.
  BeginDestroy();
}

void TKVView::RegisterBitmapChangeEvent(TObject* listener, TNotifyEvent m) {
  listeners_.emplace_back(listener, std::move(m));
}

void TKVView::RemoveBitmapChangeEvent(TObject* listener) {
  auto it =
      std::find_if(listeners_.begin(), listeners_.end(), [&](const auto& e) { return e.first == listener; });
  if (it != listeners_.end()) listeners_.erase(it);
}

void TKVView::CallBitmapChangeEvents() {
  // A listener may detach itself while being called: walk a copy.
  auto copy = listeners_;
  for (auto& e : copy)
    if (e.second) e.second(this);
}

// ---------------------------------------------------------------------------
// TKorvaneView: construction

TKorvaneView::TKorvaneView(TComponent* AOwner, QWidget* parent) : TKVView(AOwner, parent) {
  bitmap_ = std::make_unique<TBitmap>();
  bitmap_->SetPixelFormat(pf24bit);
  SetOpaque(true);  // every client pixel is painted: no erase
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(105, 105);
  RegisterViewCursors();
  SetCursor(crKVCross2);
  SetTabStop(true);
  sel_ = AnimPolygonNew(clBlack, clWhite, true);
  if (!Designing()) {
    sel_->Visible = false;
    offscreen_ = std::make_unique<TBitmap>();
    offscreen_->SetPixelFormat(pf24bit);
  }
}

TKorvaneView::~TKorvaneView() {
  BeginDestroy();
  if (cursor_saved_) QGuiApplication::restoreOverrideCursor();
  KillTimer(kAnimTimer);
  polygons_.clear();
  sel_ = nullptr;
}

void TKorvaneView::Notification(TComponent* AComponent, TOperation Operation) {
  TKVView::Notification(AComponent, Operation);
}

// ---------------------------------------------------------------------------
// Bitmap

void TKorvaneView::SetBackGround(TColor c) {
  background_ = c;
  if (Designing()) {
    bitmap_->Canvas()->Brush()->SetColor(c);
    bitmap_->Canvas()->Brush()->SetStyle(bsSolid);
    bitmap_->Canvas()->FillRect(Rect(0, 0, bitmap_->Width(), bitmap_->Height()));
  }
  Update();
  ImageChange();
}

void TKorvaneView::ImageChange() {
  if (OnImageChange) OnImageChange(this);
}

void TKorvaneView::Clear() {
  TCanvas* c = bitmap_->Canvas();
  c->Brush()->SetColor(background_);
  c->Brush()->SetStyle(bsSolid);
  c->FillRect(Rect(0, 0, bitmap_->Width(), bitmap_->Height()));
  Update();
}

void TKorvaneView::Blank() {
  bitmap_->SetSize(1, 1);
  Clear();
}

void TKorvaneView::Assign(TObject* Source) {
  if (!Source) {
    Clear();
  } else if (auto* v = dynamic_cast<TKorvaneView*>(Source)) {
    if (v == this) return;
    bitmap_->Assign(v->GetFBitmap());
    background_ = v->GetBackground();
    SetDPI(v->GetDPIX(), v->GetDPIY());
  } else if (auto* b = dynamic_cast<TBitmap*>(Source)) {
    bitmap_->Assign(b);
    if (b->PixelFormat() != pf24bit && b->PixelFormat() != pf1bit) bitmap_->SetPixelFormat(pf24bit);
  } else {
    return;
  }
  Update();
  ImageChange();
}

// ---------------------------------------------------------------------------
// Zoom and origin

void TKorvaneView::SetZoom(int z) {
  if (z <= 0 || z == geo_.Zoom) return;
  ArmFilterDelay();
  LockPaint();
  geo_.Zoom = z;
  Update();
  NPUnLockPaint();
  Invalidate();
  ViewChange(1);
}

void TKorvaneView::GetMaxViewXY(int& mx, int& my) {
  ViewMaxXY(bitmap_->Width(), bitmap_->Height(), geo_.Zoom, ClientWidth(), ClientHeight(), Width(), Height(),
            mx, my);
}

void TKorvaneView::SetViewXY(int x, int y) {
  if (x == geo_.ViewX && y == geo_.ViewY) return;
  ArmFilterDelay();
  int mx, my;
  GetMaxViewXY(mx, my);
  geo_.ViewX = std::clamp(x, 0, mx);
  geo_.ViewY = std::clamp(y, 0, my);
  full_repaint_ = true;
  Invalidate();
  ViewChange(0);
  SyncScrollThumbs();
}

void TKorvaneView::SyncScrollThumbs() {
  if (scroll_bars_ == ssHorizontal || scroll_bars_ == ssBoth) SetScrollPos(SB_HORZ, geo_.ViewX, true);
  if (scroll_bars_ == ssVertical || scroll_bars_ == ssBoth) SetScrollPos(SB_VERT, geo_.ViewY, true);
}

void TKorvaneView::ZoomAt(int x, int y, int z) {
  LockPaint();
  int bx = XScr2Bmp(x), by = YScr2Bmp(y);
  SetZoom(z);
  // trunc(b x Zoom / 100 - client div 2), exactly and without overflow.
  int vx = KVTruncDiv(int64_t(bx) * geo_.Zoom - 100 * int64_t(ClientWidth() / 2), 100);
  int vy = KVTruncDiv(int64_t(by) * geo_.Zoom - 100 * int64_t(ClientHeight() / 2), 100);
  int mx, my;
  GetMaxViewXY(mx, my);
  SetViewXY(std::clamp(vx, 0, mx), std::clamp(vy, 0, my));
  UnLockPaint();
}

void TKorvaneView::Fit() {
  if (bitmap_->Width() == 0 || bitmap_->Height() == 0) return;
  SetZoom(FitZoom(Width(), Height(), bitmap_->Width(), bitmap_->Height()));
}

void TKorvaneView::ZoomSelection() {
  if (!has_sel_) return;
  int x1 = sel_->X1, y1 = sel_->Y1, x2 = sel_->X2, y2 = sel_->Y2;
  LockPaint();
  DeSelect();
  const int64_t bw = int64_t(x2) - x1 + 1, bh = int64_t(y2) - y1 + 1;
  SetZoom(std::min(KVTruncDiv(int64_t(Width()) * 100, bw), KVTruncDiv(int64_t(Height()) * 100, bh)));
  const int64_t z = geo_.Zoom;
  int64_t vx = KVTruncDiv(x1 * z, 100) - (ClientWidth() - int64_t(KVTruncDiv(bw * z, 100))) / 2;
  int64_t vy = KVTruncDiv(y1 * z, 100) - (ClientHeight() - int64_t(KVTruncDiv(bh * z, 100))) / 2;
  SetViewXY(KVSat(vx), KVSat(vy));
  UnLockPaint();
}

int TKorvaneView::GetIdealComponentWidth() {
  int w = KVSat(int64_t(KVTruncDiv(int64_t(bitmap_->Width()) * geo_.Zoom, 100)) + 1);
  if ((scroll_bars_ == ssHorizontal || scroll_bars_ == ssBoth) && w < INT32_MAX - Width())
    w += Width() - ClientWidth();
  return w;
}

int TKorvaneView::GetIdealComponentHeight() {
  int h = KVSat(int64_t(KVTruncDiv(int64_t(bitmap_->Height()) * geo_.Zoom, 100)) + 1);
  if ((scroll_bars_ == ssVertical || scroll_bars_ == ssBoth) && h < INT32_MAX - Height())
    h += Height() - ClientHeight();
  return h;
}

void TKorvaneView::ViewChange(int change) {
  if (OnViewChange) OnViewChange(this, change);
}

void TKorvaneView::SubMouseMoveScroll(int dx, int dy) {
  last_.x += dx;
  last_.y += dy;
}

// ---------------------------------------------------------------------------
// Options

void TKorvaneView::SetZoomFilter(TResampleFilter f) {
  zoom_filter_ = f;
  Update();
}

void TKorvaneView::SetCenter(bool on) {
  center_ = on;
  Update();
}

void TKorvaneView::SetDoubleBuffer(bool on) {
  double_buffer_ = on;
  full_repaint_ = true;
  Invalidate();
}

void TKorvaneView::SetAutoFit(bool on) {
  auto_fit_ = on;
  Update();
}

void TKorvaneView::SetBackgroundStyle(TKVBackgroundStyle s) {
  background_style_ = s;
  Update();
}

void TKorvaneView::SetScrollBars(TScrollStyle s) {
  bool h = s == ssHorizontal || s == ssBoth, v = s == ssVertical || s == ssBoth;
  scroll_bars_ = s;  // before hiding: the resize that hiding causes runs Update
  if (!h) ShowScrollBar(SB_HORZ, false);
  if (!v) ShowScrollBar(SB_VERT, false);
  Update();
}

TColor TKorvaneView::ContrastColor() const { return ColorToRGB(background_) ^ 0xFFFFFF; }

void SyncScrollBar(TCustomControl* window, int bar, bool enabled, int maxView, int client, int pos) {
  if (!window || !enabled) return;
  if (maxView < 1) {
    window->ShowScrollBar(bar, false);
    return;
  }
  TScrollInfo si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  si.nMin = 0;
  si.nMax = client + maxView - 1;
  si.nPage = unsigned(std::max(client, 0));
  si.nPos = pos;
  window->SetScrollInfo(bar, si, true);
  window->ShowScrollBar(bar, true);
}

void SetSBPageSize(TCustomControl* window, int bar, int page, bool redraw) {
  if (!window) return;
  TScrollInfo si;
  si.fMask = SIF_PAGE;
  si.nPage = unsigned(std::max(page, 0));
  window->SetScrollInfo(bar, si, redraw);
}

// ---------------------------------------------------------------------------
// Update and painting

void TKorvaneView::UnLockPaint() {
  if (paint_lock_ > 0) {
    --paint_lock_;
    if (paint_lock_ == 0) Update();
  }
}

void TKorvaneView::Update() {
  TComponentState st = ComponentState();
  if (st.Contains(csLoading) || st.Contains(csReading) || st.Contains(csWriting) || st.Contains(csDestroying))
    return;
  // Showing or hiding a scroll bar changes the client area; the layout is
  // computed again until it is stable (a bar can only appear or disappear
  // once per axis, so a few rounds suffice).
  for (int round = 0; round < 4; ++round) {
    bool clientChanged = false;
    UpdateOnce(clientChanged);
    if (!clientChanged) break;
  }
  full_repaint_ = true;
  Invalidate();
}

void TKorvaneView::UpdateOnce(bool& clientChanged) {
  int bw = bitmap_->Width(), bh = bitmap_->Height();
  if (auto_fit_ && bw > 0 && bh > 0) {
    int z = FitZoom(Width(), Height(), bw, bh);
    if (z > 0) geo_.Zoom = z;
    ViewChange(1);
  }
  if (bw != last_bw_ || bh != last_bh_) {
    last_bw_ = bw;
    last_bh_ = bh;
    DeSelect();
  }
  int cw = ClientWidth(), ch = ClientHeight();
  if (!Designing()) {
    int mx, my;
    GetMaxViewXY(mx, my);
    int vx = std::clamp(geo_.ViewX, 0, mx), vy = std::clamp(geo_.ViewY, 0, my);
    if (vx != geo_.ViewX || vy != geo_.ViewY) {
      geo_.ViewX = vx;
      geo_.ViewY = vy;
      ViewChange(0);
    }
    SyncScrollBar(this, SB_HORZ, scroll_bars_ == ssHorizontal || scroll_bars_ == ssBoth, mx, cw, geo_.ViewX);
    SyncScrollBar(this, SB_VERT, scroll_bars_ == ssVertical || scroll_bars_ == ssBoth, my, ch, geo_.ViewY);
    if (ClientWidth() != cw || ClientHeight() != ch) {
      clientChanged = true;
      return;
    }
    if (has_sel_) sel_->Visible = true;
  }
  geo_.ZoomedWidth = ZoomedSize(bw, geo_.Zoom);
  geo_.ZoomedHeight = ZoomedSize(bh, geo_.Zoom);
  geo_.OffsetX = geo_.OffsetY = 0;
  int availW = Designing() ? Width() : cw, availH = Designing() ? Height() : ch;
  geo_.ExtentX = std::min(geo_.ZoomedWidth, availW);
  geo_.ExtentY = std::min(geo_.ZoomedHeight, availH);
  if (center_ && !Designing()) {
    if (geo_.ExtentX < cw) geo_.OffsetX = (cw - geo_.ExtentX) / 2;
    if (geo_.ExtentY < ch) geo_.OffsetY = (ch - geo_.ExtentY) / 2;
  }
}

void TKorvaneView::WMSize() {
  TKVView::WMSize();
  Update();
}

void TKorvaneView::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  TKVView::SetBounds(ALeft, ATop, AWidth, AHeight);
  TComponentState st = ComponentState();
  if (st.Contains(csDesigning) || st.Contains(csLoading)) {
    bitmap_->SetSize(std::max(AWidth, 0), std::max(AHeight, 0));
    Clear();
  }
}

void TKorvaneView::Paint() {
  TCanvas* canvas = Canvas();
  if (Designing()) {
    PaintTo(canvas);
    return;
  }
  if (paint_lock_ > 0) return;
  if (double_buffer_) {
    int cw = ClientWidth(), ch = ClientHeight();
    if (offscreen_->Width() != cw || offscreen_->Height() != ch) {
      offscreen_->Allocate(cw, ch, pf24bit);
      full_repaint_ = true;
    }
    if (full_repaint_) {
      PaintTo(offscreen_->Canvas());
      full_repaint_ = false;
    }
    canvas->Draw(0, 0, offscreen_.get());
  } else {
    PaintTo(canvas);
  }
  // The outlines are drawn over the fresh picture at once rather than at the
  // next animation step, so a repaint never hides the selection.
  DrawOutlines();
  if (drawing_poly_) DrawRubberBand();
}

void TKorvaneView::DrawBackground(TCanvas* canvas) {
  int cw = ClientWidth(), ch = ClientHeight();
  TColor bg = ColorToRGB(background_);
  TColor contrast = ContrastColor();
  TBrush* brush = canvas->Brush();
  TPen* pen = canvas->Pen();
  pen->SetMode(pmCopy);
  switch (background_style_) {
    case kvbsChessboard: {
      for (int y = 0, row = 0; y < ch; y += 16, ++row)
        for (int x = 0, col = 0; x < cw; x += 16, ++col) {
          brush->SetColor(((row + col) & 1) == 0 ? contrast : bg);
          brush->SetStyle(bsSolid);
          canvas->FillRect(Rect(x, y, x + 16, y + 16));
        }
      return;
    }
    case kvbsDiagonals:
      brush->SetColor(bg);
      brush->SetStyle(bsSolid);
      canvas->FillRect(Rect(0, 0, cw, ch));
      pen->SetColor(contrast);
      pen->SetStyle(psSolid);
      pen->SetWidth(1);
      canvas->MoveTo(0, 0);
      canvas->LineTo(cw, ch);
      canvas->MoveTo(cw, 0);
      canvas->LineTo(0, ch);
      return;
    case kvbsSolid:
      brush->SetColor(bg);
      brush->SetStyle(bsSolid);
      canvas->FillRect(Rect(0, 0, cw, ch));
      return;
    default: {
      // Hatched styles: the hatch in the background color over its contrast.
      static const TBrushStyle hatch[] = {bsHorizontal, bsVertical, bsFDiagonal,
                                          bsBDiagonal,  bsCross,    bsDiagCross};
      brush->SetColor(contrast);
      brush->SetStyle(bsSolid);
      canvas->FillRect(Rect(0, 0, cw, ch));
      brush->SetColor(bg);
      brush->SetStyle(hatch[background_style_ - kvbsHorizontal]);
      canvas->FillRect(Rect(0, 0, cw, ch));
      brush->SetStyle(bsSolid);
      return;
    }
  }
}

void TKorvaneView::DrawImageRect(TCanvas* canvas, int dx, int dy, int sx, int sy, int sw, int sh,
                                 bool filter) {
  if (sw <= 0 || sh <= 0 || geo_.ExtentX <= 0 || geo_.ExtentY <= 0) return;
  if (!filter) {
    // Unfiltered: the painter stretches straight from the bitmap's memory.
    canvas->DrawImage(Rect(dx, dy, dx + geo_.ExtentX, dy + geo_.ExtentY), bitmap_->SharedImage(),
                      Rect(sx, sy, sx + sw, sy + sh));
    return;
  }
  // Filtered: copy the visible source rectangle, widen 1-bit images, resample
  // to the extent and draw 1:1.
  TBitmap part;
  CopyBitmapArea(bitmap_.get(), &part, Rect(sx, sy, sx + sw, sy + sh));
  if (part.PixelFormat() == pf1bit) {
    TBitmap wide;
    _Conv1to24(&part, &wide, nullpr);
    part.Assign(&wide);
  }
  TBitmap zoomed(geo_.ExtentX, geo_.ExtentY, pf24bit);
  _QuickResample(&part, &zoomed, zoom_filter_, nullptr, nullptr);
  canvas->Draw(dx, dy, &zoomed);
}

bool TKorvaneView::SourceRect(bool trimOverhang, TRect& r) const {
  int bw = bitmap_->Width(), bh = bitmap_->Height();
  if (bh == 0 || bw == 0 || geo_.ZoomedWidth == 0 || geo_.ZoomedHeight == 0) return false;
  int sx = KVRoundDiv(int64_t(geo_.ViewX) * bw, geo_.ZoomedWidth);
  int sw = KVRoundDiv(int64_t(geo_.ExtentX) * bw, geo_.ZoomedWidth);
  int sy = KVRoundDiv(int64_t(geo_.ViewY) * bh, geo_.ZoomedHeight);
  int sh = KVRoundDiv(int64_t(geo_.ExtentY) * bh, geo_.ZoomedHeight);
  if (trimOverhang) {
    if (sx + sw > bw) sw -= 1;
    if (sy + sh > bh) sh -= 1;
  }
  // Keep the rectangle inside the bitmap whatever the rounding did.
  sx = std::clamp(sx, 0, bw - 1);
  sy = std::clamp(sy, 0, bh - 1);
  sw = std::clamp(sw, 1, bw - sx);
  sh = std::clamp(sh, 1, bh - sy);
  r = Rect(sx, sy, sx + sw, sy + sh);
  return true;
}

void TKorvaneView::DrawBackgroundAround(TCanvas* canvas, const TRect& image) {
  bool hadClip = canvas->HasClip();
  QRegion keep = canvas->ClipRegion();
  canvas->ExcludeClipRect(image.Left, image.Top, image.Right, image.Bottom);
  DrawBackground(canvas);
  if (hadClip)
    canvas->SetClipRegion(keep);
  else
    canvas->ResetClip();
}

void TKorvaneView::PaintTo(TCanvas* canvas) {
  if (Designing()) {
    DrawBackground(canvas);
    return;
  }
  bool covers = geo_.ExtentX >= ClientWidth() && geo_.ExtentY >= ClientHeight();
  if ((!covers && !center_) || bitmap_->Height() == 0)
    DrawBackgroundAround(canvas, Rect(0, 0, geo_.ExtentX, geo_.ExtentY));
  TRect src;
  if (!SourceRect(true, src)) return;
  if (center_)
    DrawBackgroundAround(
        canvas, Rect(geo_.OffsetX, geo_.OffsetY, geo_.OffsetX + geo_.ExtentX, geo_.OffsetY + geo_.ExtentY));
  bool filter = zoom_filter_ != rfNone && filter_delay_ == 0 && geo_.Zoom > 100;
  DrawImageRect(canvas, geo_.OffsetX, geo_.OffsetY, src.Left, src.Top, src.Width(), src.Height(), filter);
}

void TKorvaneView::DrawTo(TCanvas* canvas) {
  TRect src;
  if (!SourceRect(false, src)) return;
  DrawImageRect(canvas, 0, 0, src.Left, src.Top, src.Width(), src.Height(),
                zoom_filter_ != rfNone && geo_.Zoom != 100);
}

TLogPalette* TKorvaneView::_CreatePalette() {
  auto* pal = new TLogPalette;
  pal->palPalEntry.resize(256);
  if (bitmap_->Empty()) return pal;
  // The quantizer reads 24-bit pixels: widen other formats on a copy.
  TBitmap wide;
  TBitmap* src = bitmap_.get();
  if (src->PixelFormat() != pf24bit) {
    wide.Assign(src);
    wide.SetPixelFormat(pf24bit);
    src = &wide;
  }
  std::vector<TRGB> colors(256, TRGB{0, 0, 0});
  TKVQuantizer q(src, colors.data(), 0, 256, -1, 0);
  for (size_t i = 0; i < 256; ++i)
    pal->palPalEntry[i] = TPaletteEntry{colors[i].r, colors[i].g, colors[i].b, 0};
  return pal;
}

void TKorvaneView::SaveCursor(TCursor c) {
  if (cursor_saved_) QGuiApplication::restoreOverrideCursor();
  QGuiApplication::setOverrideCursor(CursorFromId(c));
  cursor_saved_ = true;
}

void TKorvaneView::RestoreCursor() {
  if (!cursor_saved_) return;
  QGuiApplication::restoreOverrideCursor();
  cursor_saved_ = false;
}

// ---------------------------------------------------------------------------
// Scroll bars

void TKorvaneView::Scroll(int bar, int code, int pos) {
  int cur = bar == SB_HORZ ? geo_.ViewX : geo_.ViewY;
  int mx, my;
  GetMaxViewXY(mx, my);
  int v = cur;
  switch (code) {
    case SB_LINEUP:
      v = cur - 1;
      break;
    case SB_LINEDOWN:
      v = cur + 1;
      break;
    case SB_PAGEUP:
      v = cur - 10;
      break;
    case SB_PAGEDOWN:
      v = cur + 10;
      break;
    case SB_THUMBTRACK:
      v = pos;
      break;
    case SB_TOP:
      v = 0;
      break;
    case SB_BOTTOM:
      v = bar == SB_HORZ ? mx : my;
      break;
    default:
      return;
  }
  if (bar == SB_HORZ)
    SetViewX(v);
  else
    SetViewY(v);
}

void TKorvaneView::WMHScroll(int code, int pos) { Scroll(SB_HORZ, code, pos); }
void TKorvaneView::WMVScroll(int code, int pos) { Scroll(SB_VERT, code, pos); }

// ---------------------------------------------------------------------------
// Selection

void TKorvaneView::SelectRect(TPoint a, TPoint b) {
  has_sel_ = true;
  sel_->Clear();
  OrdCor(a.x, a.y, b.x, b.y);
  sel_->AddPoint(a.x, a.y);
  sel_->AddPoint(b.x, a.y);
  sel_->AddPoint(b.x, b.y);
  sel_->AddPoint(a.x, b.y);
  ShowSelectionEx(true);
}

void TKorvaneView::Select(int x1, int y1, int x2, int y2) {
  if (x1 == x2 || y1 == y2) return;
  TPoint a = Point(x1, y1), b = Point(x2, y2);
  if (selection_base_ == kvsbClientArea) {
    a = ToBitmap(a);
    b = ToBitmap(b);
  }
  // A repaint clears the old outline before the new one is drawn.
  if (has_sel_ && paint_lock_ == 0) Invalidate();
  SelectRect(a, b);
}

// The mouse works in client coordinates whatever SelectionBase says; it
// selects through the virtual members so that a descendant sees (and may
// refuse) every selection.
void TKorvaneView::MouseSelect(TPoint a, TPoint b) {
  TKVSelectionBase keep = selection_base_;
  selection_base_ = kvsbClientArea;
  Select(a.x, a.y, b.x, b.y);
  selection_base_ = keep;
}

void TKorvaneView::MouseAddSelPoint(TPoint p) {
  TKVSelectionBase keep = selection_base_;
  selection_base_ = kvsbClientArea;
  AddSelPoint(p.x, p.y);
  selection_base_ = keep;
}

void TKorvaneView::AddSelPoint(int x, int y) {
  TPoint p = Point(x, y);
  if (selection_base_ == kvsbClientArea) p = ToBitmap(p);
  AnimPolygonAddPt(sel_, p.x, p.y);
  ShowSelectionEx(true);
}

void TKorvaneView::DeSelect() {
  if (has_sel_) {
    has_sel_ = false;
    HideSelectionEx(true);
  }
  if (sel_) sel_->Clear();
  drawing_poly_ = selecting_rect_ = selecting_ellipse_ = false;
}

void TKorvaneView::ShowSelectionEx(bool redraw) {
  sel_->Visible = true;
  if (redraw) AnimStep(false);
}

void TKorvaneView::HideSelectionEx(bool repaint) {
  sel_->Visible = false;
  if (repaint && paint_lock_ == 0) {
    full_repaint_ = true;
    Invalidate();
  }
}

void TKorvaneView::AssignSelTo(TObject* Dest) {
  TBitmap* target = nullptr;
  auto* view = dynamic_cast<TKorvaneView*>(Dest);
  if (view)
    target = view->GetFBitmap();
  else
    target = dynamic_cast<TBitmap*>(Dest);
  if (!target || target == bitmap_.get()) return;
  int x1 = sel_->X1, y1 = sel_->Y1, x2 = sel_->X2, y2 = sel_->Y2;
  if (!has_sel_ || sel_->Count() == 0) {
    x1 = y1 = 0;
    x2 = bitmap_->Width();
    y2 = bitmap_->Height();
  }
  // The bounding box is inclusive; the polygon copy takes x1..x2-1.
  int n = _IsRectangle(sel_->Points(), sel_->Count()) || !has_sel_ ? 0 : sel_->Count();
  int ex = has_sel_ ? x2 + 1 : x2, ey = has_sel_ ? y2 + 1 : y2;
  _CopyBitmapPoly(bitmap_.get(), target, x1, y1, ex, ey, sel_->Points(), n);
  if (view) {
    view->background_ = background_;
    view->SetDPI(dpix_, dpiy_);
    view->Update();
    view->ImageChange();
  } else {
    target->SetModified(true);
  }
}

void TKorvaneView::CopyFromPolygon(TBitmap* Source, const TPoint* Polygon, int Count, TPoint Position) {
  if (!Source) return;
  _CopyPolygonToPoint(Source, Polygon, Count, bitmap_.get(), Position);
  Update();
}

void TKorvaneView::CopyToPolygon(TBitmap* Dest, const TPoint* Polygon, int Count, TPoint Position) {
  if (!Dest) return;
  _CopyPointToPolygon(bitmap_.get(), Polygon, Count, Dest, Position);
}

// ---------------------------------------------------------------------------
// Animated polygons

TKVAnimPolygon* TKorvaneView::AnimPolygonNew(TColor c1, TColor c2, bool animated) {
  polygons_.push_back(std::make_unique<TKVAnimPolygon>(c1, c2, animated));
  if (!Designing() && polygons_.size() == 1) SetTimer(kAnimTimer, kAnimInterval);
  return polygons_.back().get();
}

void TKorvaneView::AnimPolygonAddPtEx(TKVAnimPolygon* p, int x, int y) {
  if (!p) return;
  p->AddPoint(x, y);
  has_sel_ = true;
}

void TKorvaneView::AnimPolygonAddPt(TKVAnimPolygon* p, int x, int y) {
  AnimPolygonAddPtEx(p, x, y);
  if (paint_lock_ == 0) Invalidate();
}

void TKorvaneView::AnimPolygonClear(TKVAnimPolygon* p) {
  if (!p) return;
  p->Clear();
  if (paint_lock_ == 0) Invalidate();
}

void TKorvaneView::AnimPolygonDel(TKVAnimPolygon* p) {
  auto it = std::find_if(polygons_.begin(), polygons_.end(), [&](const auto& q) { return q.get() == p; });
  if (it == polygons_.end()) return;
  // The selection polygon lives as long as the view.
  if (p == sel_) return;
  polygons_.erase(it);
  if (polygons_.empty()) KillTimer(kAnimTimer);
  if (paint_lock_ == 0) Invalidate();
}

void TKorvaneView::DrawOutlines() {
  if (paint_lock_ > 0 || Designing()) return;
  TCanvas* c = Canvas();
  c->Pen()->SetMode(pmCopy);
  auto toScreen = [this](TPoint q) { return Point(XBmp2Scr(q.x), YBmp2Scr(q.y)); };
  for (auto& p : polygons_)
    if (p->Visible) p->Draw(c, toScreen, !drawing_poly_);
}

void TKorvaneView::AnimStep(bool fromTimer) {
  bool dragging = selecting_rect_ || drawing_poly_ || selecting_ellipse_;
  for (auto& p : polygons_) {
    if (!p->Visible) continue;
    if (fromTimer && p->Animated && !dragging) p->Step();
  }
  DrawOutlines();
  if (fromTimer && filter_delay_ > 0) {
    if (--filter_delay_ == 0) Update();
  }
}

void TKorvaneView::WMTimer(int id) {
  if (id != kAnimTimer) return;
  // A selection drag held still outside the image keeps scrolling: replay
  // the last mouse move.
  if (captured_ && (selecting_rect_ || drawing_poly_ || selecting_ellipse_) && PointerOutsideImage())
    MouseMove(last_shift_, pointer_.x, pointer_.y);
  AnimStep(true);
}

void TKorvaneView::SetMouseInteract(TKVMouseInteract s) {
  if (s == mouse_interact_) return;
  mouse_interact_ = ResolveMouseInteract(mouse_interact_, s);
}

// ---------------------------------------------------------------------------
// Mouse

TPoint TKorvaneView::ClampToImage(int x, int y) const {
  int x1 = geo_.OffsetX, x2 = geo_.OffsetX + geo_.ExtentX - 1;
  int y1 = geo_.OffsetY, y2 = geo_.OffsetY + geo_.ExtentY - 1;
  return Point(std::clamp(x, x1, std::max(x1, x2)), std::clamp(y, y1, std::max(y1, y2)));
}

void TKorvaneView::DrawRubberBand() {
  if (sel_->Count() < 1) return;
  TCanvas* c = Canvas();
  TPen* pen = c->Pen();
  TPenMode mode = pen->Mode();
  pen->SetMode(pmNot);
  pen->SetStyle(psSolid);
  pen->SetWidth(1);
  TPoint v = sel_->At(sel_->Count() - 1);
  c->MoveTo(last_.x, last_.y);
  c->LineTo(XBmp2Scr(v.x), YBmp2Scr(v.y));
  pen->SetMode(mode);
}

bool TKorvaneView::PointerOutsideImage() const {
  return pointer_.x < geo_.OffsetX || pointer_.x > geo_.OffsetX + geo_.ExtentX - 1 ||
         pointer_.y < geo_.OffsetY || pointer_.y > geo_.OffsetY + geo_.ExtentY - 1;
}

void TKorvaneView::AutoScroll() {
  // The pointer as the last mouse event saw it (client coordinates, not
  // clamped to the image).
  TPoint p = pointer_;
  int left = geo_.OffsetX, right = geo_.OffsetX + geo_.ExtentX - 1;
  int top = geo_.OffsetY, bottom = geo_.OffsetY + geo_.ExtentY - 1;
  int dx = p.x < left ? p.x - left : p.x > right ? p.x - right : 0;
  int dy = p.y < top ? p.y - top : p.y > bottom ? p.y - bottom : 0;
  if (dx == 0 && dy == 0) return;
  // One step per mouse move or animation tick: a pointer held outside the
  // image keeps the view scrolling without blocking the interface.
  int ox = geo_.ViewX, oy = geo_.ViewY;
  SetViewXY(ox + dx, oy + dy);
  int mx = geo_.ViewX - ox, my = geo_.ViewY - oy;
  if (mx == 0 && my == 0) return;
  down_.x -= mx;
  down_.y -= my;
  SubMouseMoveScroll(-dx, -dy);
}

void TKorvaneView::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TKVView::MouseDown(Button, Shift, X, Y);
  // Another button pressed during a drag belongs to that drag: only the first
  // press suspends the filter and only its release restores it.
  if (captured_) return;
  captured_ = true;
  drag_button_ = Button;
  saved_filter_ = zoom_filter_;
  zoom_filter_ = rfNone;
  TPoint p = ClampToImage(X, Y);
  down_ = last_ = p;
  pointer_ = Point(X, Y);
  down_view_ = Point(geo_.ViewX, geo_.ViewY);
  if (mouse_interact_.Contains(miSelectPolygon)) {
    if (!drawing_poly_) DeSelect();
    if (Shift.Contains(ssCtrl) && sel_->Count() >= 1) {
      TPoint v = sel_->At(sel_->Count() - 1);
      _CastPolySelCC(XBmp2Scr(v.x), YBmp2Scr(v.y), p.x, p.y);
      last_ = p;
    }
    MouseAddSelPoint(p);
    drawing_poly_ = true;
  } else if (mouse_interact_.Contains(miSelect) || mouse_interact_.Contains(miSelectZoom)) {
    selecting_rect_ = true;
  } else if (mouse_interact_.Contains(miSelectCircle)) {
    if (!selecting_ellipse_) DeSelect();
    selecting_ellipse_ = true;
    sel_->Visible = true;
  } else {
    return;
  }
  DoSelectionChange();
}

void TKorvaneView::MouseMove(TShiftState Shift, int X, int Y) {
  TKVView::MouseMove(Shift, X, Y);
  pointer_ = Point(X, Y);
  last_shift_ = Shift;
  TPoint p = ClampToImage(X, Y);
  bool held = captured_ && (Shift.Contains(ssLeft) || Shift.Contains(ssRight) || Shift.Contains(ssMiddle));
  if (held) {
    if (mouse_interact_.Contains(miScroll)) {
      SetViewXY(down_view_.x + (down_.x - X), down_view_.y + (down_.y - Y));
    }
    if (selecting_rect_) {
      AutoScroll();
      p = ClampToImage(X, Y);
      MouseSelect(down_, p);
      DoSelectionChange();
    } else if (drawing_poly_) {
      AutoScroll();
      Repaint();         // ends with the rubber band
      DrawRubberBand();  // ...which this removes again
      TPoint b = ToBitmap(p);
      AnimPolygonAddPtEx(sel_, b.x, b.y);
      last_ = p;
      AnimStep(false);
      DoSelectionChange();
    } else if (selecting_ellipse_) {
      AutoScroll();
      sel_->Clear();
      int rx = std::abs(down_.x - p.x), ry = std::abs(down_.y - p.y);
      if (Shift.Contains(ssCtrl)) CircleRadii(rx, ry);
      if (paint_lock_ == 0) Invalidate();
      for (const TPoint& v : EllipseOutline(down_.x, down_.y, rx, ry)) {
        TPoint b = ToBitmap(v);
        AnimPolygonAddPtEx(sel_, b.x, b.y);
      }
      AnimStep(false);
      DoSelectionChange();
    }
  } else if (drawing_poly_) {
    DrawRubberBand();
    if (Shift.Contains(ssCtrl) && sel_->Count() >= 1) {
      TPoint v = sel_->At(sel_->Count() - 1);
      _CastPolySelCC(XBmp2Scr(v.x), YBmp2Scr(v.y), p.x, p.y);
    }
    last_ = p;
    DrawRubberBand();
    DoSelectionChange();
  }
  last_ = p;
}

void TKorvaneView::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TKVView::MouseUp(Button, Shift, X, Y);
  if (!captured_ || Button != drag_button_) return;
  captured_ = false;
  TPoint p = ClampToImage(X, Y);
  TResampleFilter restore = saved_filter_;
  zoom_filter_ = restore;
  if (mouse_interact_.Contains(miZoom) && p == down_) {
    selecting_rect_ = selecting_ellipse_ = false;
    if (Button == mbLeft)
      ZoomAt(p.x, p.y, MouseZoomIn(geo_.Zoom));
    else if (Button == mbRight)
      ZoomAt(p.x, p.y, MouseZoomOut(geo_.Zoom));
  } else if (mouse_interact_.Contains(miScroll)) {
    SetViewXY(down_view_.x + (down_.x - X), down_view_.y + (down_.y - Y));
  } else if (mouse_interact_.Contains(miSelectZoom)) {
    selecting_rect_ = false;
    ZoomSelection();
  } else if (mouse_interact_.Contains(miSelect)) {
    selecting_rect_ = false;
  } else if (mouse_interact_.Contains(miSelectCircle)) {
    selecting_ellipse_ = false;
  }
  if (restore != rfNone) {
    full_repaint_ = true;
    Invalidate();
  }
}

void TKorvaneView::DblClick() {
  TKVView::DblClick();
  if (!drawing_poly_) return;
  // The second press added a vertex: take it off and close the polygon.
  sel_->RemoveLast();
  drawing_poly_ = false;
  captured_ = false;
  zoom_filter_ = saved_filter_;
  full_repaint_ = true;
  Invalidate();
  DoSelectionChange();
}

}  // namespace korvane
