#include "korvane/proc/kvproc.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/proc/bitmap_procs.h"
#include "korvane/proc/video/yuvconv.h"
#include "korvane/view/view_geometry.h"

namespace korvane {

int RowPercent(int row, int y1, int y2) {
  const double per = (double(row) - y1 + 1) * (100.0 / (double(y2) - y1 + 0.5));
  return per >= 100 ? 100 : int(per);
}

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

bool TKorvaneProc::GetReSel(int& x1, int& y1, int& x2, int& y2, const TPoint*& Polygon, int& Count) const {
  Polygon = nullptr;
  Count = 0;
  if (auto* kv = dynamic_cast<TKorvaneView*>(target_.View())) {
    if (kv->Selected() && kv->GetPolySelCount() > 0) {
      x1 = kv->GetSelX1();
      y1 = kv->GetSelY1();
      x2 = kv->GetSelX2();
      y2 = kv->GetSelY2();
      Polygon = kv->GetPolySelArray();
      Count = kv->GetPolySelCount();
    } else {
      x1 = -1;
    }
  } else {
    x1 = sel_x1_;
    y1 = sel_y1_;
    x2 = sel_x2_;
    y2 = sel_y2_;
  }
  if (x1 >= 0) return true;
  const TBitmap* b = GetBitmap();
  x1 = 0;
  y1 = 0;
  x2 = b ? b->Width() - 1 : -1;
  y2 = b ? b->Height() - 1 : -1;
  Polygon = nullptr;
  Count = 0;
  return false;
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

TColor TKorvaneProc::GetReBackground() const { return target_.View() ? target_.View()->GetBackground() : background_; }

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
  if (GetReSel(x1, y1, x2, y2, poly, n)) {
    TBitmap tmp;
    _CopyBitmapPoly(b, &tmp, x1, y1, x2, y2, poly, n);
    // The view drops its selection when the size changes: the polygon is
    // not used past this point.
    _CopyBitmap(&tmp, b);
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
  GetReSel(x1, y1, x2, y2, poly, n);
  // Procedures get a rectangle inside the bitmap.
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, b->Width() - 1);
  y2 = std::min(y2, b->Height() - 1);
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

// ---------------------------------------------------------------------------
// Packed DIBs

HGLOBAL _CopyBitmaptoDIB(TBitmap* Bitmap, int x1, int y1, int x2, int y2) {
  if (!Bitmap || Bitmap->Empty()) return nullptr;
  if (x2 == 0) x2 = Bitmap->Width() - 1;
  if (y2 == 0) y2 = Bitmap->Height() - 1;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, Bitmap->Width() - 1);
  y2 = std::min(y2, Bitmap->Height() - 1);
  if (x2 < x1 || y2 < y1) return nullptr;
  return BitmapToPackedDIB(Bitmap, Rect(x1, y1, x2 + 1, y2 + 1));
}

namespace {

uint32_t Rd32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

}  // namespace

void _CopyDIB2Bitmap(const void* Dib, size_t DibSize, TBitmap* Bitmap, const void* PixelData,
                     size_t PixelDataSize) {
  if (!Bitmap) return;
  const uint8_t* p = static_cast<const uint8_t*>(Dib);
  if (!p || DibSize < 40) throw EInvalidGraphic("unrecognized DIB");
  const uint32_t hsize = Rd32(p);
  const int32_t w = int32_t(Rd32(p + 4));
  const int32_t h = int32_t(Rd32(p + 8));
  const uint32_t comp = Rd32(p + 16);
  const uint32_t clrUsed = Rd32(p + 32);
  // Uncompressed and bit-field DIBs are the host reader's.
  if (comp == TBitmapInfoHeader::kRGB || comp == TBitmapInfoHeader::kBitfields) {
    if (PixelData)
      DIBToBitmap(p, DibSize, PixelData, PixelDataSize, Bitmap);
    else
      PackedDIBToBitmap(p, DibSize, Bitmap);
    return;
  }
  if (hsize < 40 || hsize > DibSize || w <= 0 || h == 0 || h == INT32_MIN)
    throw EInvalidGraphic("unrecognized DIB");
  const int64_t ah = h < 0 ? -int64_t(h) : int64_t(h);
  if (w > kMaxDIBSide || ah > kMaxDIBSide || int64_t(w) * ah > kMaxDIBPixels)
    throw EInvalidGraphic("unrecognized DIB");
  // Only a complete frame is converted: a header alone must not make a big bitmap.
  if (!FindYUVConverter(comp)) throw EInvalidGraphic("unsupported DIB compression");
  const uint8_t* data;
  size_t n;
  if (PixelData) {
    data = static_cast<const uint8_t*>(PixelData);
    n = PixelDataSize;
  } else {
    const uint64_t off = uint64_t(hsize) + uint64_t(clrUsed) * 4;
    if (off > DibSize) throw EInvalidGraphic("truncated DIB");
    data = p + off;
    n = DibSize - size_t(off);
  }
  if (!data || n < YUVFrameSize(comp, w, int(ah))) throw EInvalidGraphic("truncated DIB");
  Bitmap->Allocate(w, int(ah), pf24bit);
  // Frames with a positive height run from the top; the converter reverses
  // the codes stored the other way round.
  CopyYUVFrameToBitmap(comp, data, n, Bitmap, h > 0);
}

void _CopyDIB2Bitmap(HGLOBAL Dib, TBitmap* Bitmap) {
  TGlobalLock lock(Dib);
  if (!lock.Data()) throw EInvalidGraphic("unrecognized DIB");
  _CopyDIB2Bitmap(lock.Data(), lock.Size(), Bitmap);
}

// ---------------------------------------------------------------------------
// Comparison and channel swaps

bool _BitmapCompareX(const TBitmap* a, const TBitmap* b) {
  if (!a || !b) return a == b;
  if (a->Width() != b->Width() || a->Height() != b->Height() || a->PixelFormat() != b->PixelFormat())
    return false;
  const int w = a->Width();
  const size_t bits = size_t(w) * size_t(a->BitsPerPixel());
  const size_t whole = bits / 8;
  const unsigned rest = unsigned(bits % 8);
  const uint8_t lastMask = uint8_t(0xFF << (8 - rest));
  for (int y = 0; y < a->Height(); ++y) {
    const uint8_t* ra = a->Scanline(y);
    const uint8_t* rb = b->Scanline(y);
    if (std::memcmp(ra, rb, whole) != 0) return false;
    if (rest && ((ra[whole] ^ rb[whole]) & lastMask)) return false;
  }
  return true;
}

void _CopyBGR_RGB(TRGB* Dest, const TRGB* Source, int Count) {
  for (int i = 0; i < Count; ++i) Dest[i] = TRGB{Source[i].r, Source[i].g, Source[i].b};
}

void _RGB2BGR(TRGB* Row, int Count) {
  for (int i = 0; i < Count; ++i) std::swap(Row[i].r, Row[i].b);
}

// ---------------------------------------------------------------------------
// Magic wand

namespace {

// Sets bits a..b (inclusive) of a 1-bit row.
inline void SetBitRun(uint8_t* row, int a, int b) {
  int ba = a >> 3, bb = b >> 3;
  const uint8_t ma = uint8_t(0xFF >> (a & 7)), mb = uint8_t(0xFF << (7 - (b & 7)));
  if (ba == bb) {
    row[ba] |= uint8_t(ma & mb);
    return;
  }
  row[ba] |= ma;
  if (bb > ba + 1) std::memset(row + ba + 1, 0xFF, size_t(bb - ba - 1));
  row[bb] |= mb;
}

// One segment of the seed fill: row y was filled over xl..xr; row y + dy is
// to be explored.
struct Segment {
  int32_t y, xl, xr, dy;
};
static_assert(sizeof(Segment) == 16);

}  // namespace

void _MakeMagicWandBitmap(const TBitmap* Source, TBitmap* Mask, int x, int y, int Tolerance) {
  if (!Source || !Mask) return;
  TBitmap conv;
  const TBitmap* src = Source;
  if (Source->PixelFormat() != pf24bit || Source == Mask) {
    conv.Assign(Source);
    conv.SetPixelFormat(pf24bit);
    src = &conv;
  }
  const int w = src->Width(), h = src->Height();
  Mask->Allocate(w, h, pf1bit);
  if (x < 0 || y < 0 || x >= w || y >= h || Tolerance < 0) return;

  const uint8_t* s0 = src->Scanline(0);
  const ptrdiff_t sstride = h > 1 ? src->Scanline(1) - s0 : 0;
  uint8_t* m0 = Mask->Scanline(0);
  const ptrdiff_t mstride = h > 1 ? Mask->Scanline(1) - m0 : 0;

  // A channel matches when it lies within lo..lo+range: one unsigned compare.
  const uint8_t* seed = s0 + y * sstride + 3 * ptrdiff_t(x);
  int lo[3], range[3];
  for (int c = 0; c < 3; ++c) {
    lo[c] = std::max(0, seed[c] - Tolerance);
    range[c] = std::min(255, seed[c] + Tolerance) - lo[c];
  }
  const int lob = lo[0], log = lo[1], lor = lo[2];
  const unsigned rb = unsigned(range[0]), rg = unsigned(range[1]), rr = unsigned(range[2]);

  const uint8_t* srow = nullptr;
  uint8_t* mrow = nullptr;
  auto inside = [&](int xx) -> bool {
    if (mrow[xx >> 3] & (0x80 >> (xx & 7))) return false;
    const uint8_t* px = srow + 3 * ptrdiff_t(xx);
    return unsigned(px[0] - lob) <= rb && unsigned(px[1] - log) <= rg && unsigned(px[2] - lor) <= rr;
  };

  std::vector<Segment> stack;
  stack.reserve(size_t(w) * 2);
  auto push = [&](int yy, int l, int r, int dy) {
    const int ny = yy + dy;
    if (ny >= 0 && ny < h) stack.push_back(Segment{yy, l, r, dy});
  };
  push(y, x, x, 1);
  push(y + 1, x, x, -1);
  while (!stack.empty()) {
    const Segment sg = stack.back();
    stack.pop_back();
    const int dy = sg.dy, yy = sg.y + dy, x1 = sg.xl, x2 = sg.xr;
    srow = s0 + yy * sstride;
    mrow = m0 + yy * mstride;
    // Run through x1 leftwards.
    int xx = x1;
    while (xx >= 0 && inside(xx)) --xx;
    bool skip = xx >= x1;
    int l = xx + 1;
    if (!skip) {
      SetBitRun(mrow, l, x1);
      if (l < x1) push(yy, l, x1 - 1, -dy);  // leak to the left
      xx = x1 + 1;
    }
    do {
      if (!skip) {
        const int start = xx;
        while (xx < w && inside(xx)) ++xx;
        if (xx > start) SetBitRun(mrow, start, xx - 1);
        push(yy, l, xx - 1, dy);
        if (xx > x2 + 1) push(yy, x2 + 1, xx - 1, -dy);  // leak to the right
      }
      skip = false;
      for (++xx; xx <= x2 && !inside(xx); ++xx) {
      }
      l = xx;
    } while (xx <= x2);
  }
}

}  // namespace korvane
