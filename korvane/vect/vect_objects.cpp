// The object store of TKorvaneVect: records, the frame tree and z-order,
// per-object properties, and the shared bitmap table.
#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "korvane/foundations/kvhint.h"
#include "korvane/proc/kvproc.h"
#include "korvane/vect/kvvect.h"

namespace korvane {

TLogFont LogFontOf(const TFont& f) {
  TLogFont lf;
  lf.lfHeight = f.Height();
  lf.lfEscapement = f.Escapement();
  lf.lfOrientation = f.Escapement();
  lf.lfWeight = f.Style().Contains(fsBold) ? 700 : 400;
  lf.lfItalic = f.Style().Contains(fsItalic);
  lf.lfUnderline = f.Style().Contains(fsUnderline);
  lf.lfStrikeOut = f.Style().Contains(fsStrikeOut);
  std::strncpy(lf.lfFaceName, f.Name().c_str(), sizeof lf.lfFaceName - 1);
  return lf;
}

void FontFromLog(const TLogFont& lf, TFont& f) {
  f.SetName(std::string(lf.lfFaceName, strnlen(lf.lfFaceName, sizeof lf.lfFaceName)));
  f.SetHeight(lf.lfHeight);
  f.SetEscapement(lf.lfEscapement);
  TFontStyles s;
  if (lf.lfWeight >= 700) s.Include(fsBold);
  if (lf.lfItalic) s.Include(fsItalic);
  if (lf.lfUnderline) s.Include(fsUnderline);
  if (lf.lfStrikeOut) s.Include(fsStrikeOut);
  f.SetStyle(s);
}

namespace {

// Draws a system icon from the style's standard icons into a 24-bit bitmap
// over white. Without a widget application the bitmap stays white.
void DrawSystemIcon(TBitmap& b, int resource, int w, int h) {
  b.SetPixelFormat(pf24bit);
  b.SetSize(std::max(w, 1), std::max(h, 1));
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app) return;
  QStyle::StandardPixmap sp;
  switch (resource) {
    case 32513:
      sp = QStyle::SP_MessageBoxCritical;
      break;
    case 32514:
      sp = QStyle::SP_MessageBoxQuestion;
      break;
    case 32515:
      sp = QStyle::SP_MessageBoxWarning;
      break;
    case 32516:
      sp = QStyle::SP_MessageBoxInformation;
      break;
    default:
      sp = QStyle::SP_DesktopIcon;
      break;
  }
  QPixmap pm = QApplication::style()->standardIcon(sp).pixmap(b.Width(), b.Height());
  QPainter* p = b.Canvas()->Painter();
  if (p && !pm.isNull()) p->drawPixmap(QRect(0, 0, b.Width(), b.Height()), pm);
  b.Canvas()->EndPaint();
}

void Normalize(TKVVObject& o) {
  if (o.x1 > o.x2) std::swap(o.x1, o.x2);
  if (o.y1 > o.y2) std::swap(o.y1, o.y2);
}

}  // namespace

TKorvaneVect::TKorvaneVect(TComponent* AOwner, QWidget* parent) : TKorvaneView(AOwner, parent) {
  templ_.x2 = templ_.y2 = 63;
  templ_.AngleEnd = 2 * M_PI;
  TBitmap icon;
  DrawSystemIcon(icon, 32513, 64, 64);
  AttachBitmap(templ_, &icon);
  TFont* f = Canvas()->Font();
  f->SetName("Arial");
  templ_.Font = LogFontOf(*f);
  templ_.PenColor = f->Color();
  root_.x2 = root_.y2 = 100000000;
  hint_ = new TKVHint(this);
  hint_->SetParent(this);
  CalcCoef();
}

TKorvaneVect::~TKorvaneVect() {
  delete edit_;
  edit_ = nullptr;
  delete hint_;
  hint_ = nullptr;
}

// ---------------------------------------------------------------------------
// Store and tree

PKVVObject TKorvaneVect::GetObj(int idx) {
  switch (idx) {
    case kTemplate:
      return &templ_;
    case kRoot:
      return &root_;
    case kLast:
      return objs_.empty() ? nullptr : &objs_.back();
    default:
      return idx >= 0 && idx < int(objs_.size()) ? &objs_[idx] : nullptr;
  }
}

// The child list of a frame index (root included); null for anything else.
static std::vector<int32_t>* ChildList(PKVVObject o) {
  return o && o->Kind == kvkFRAME ? &o->Children : nullptr;
}

int TKorvaneVect::AddVObject(int parent, const TKVVObject& src) {
  if (parent == kLast) parent = int(objs_.size()) - 1;
  PKVVObject p = GetObj(parent);
  // Only live frames (the root included) take children.
  if (!ChildList(p) || parent == kTemplate || (parent >= 0 && p->Parent == kNone)) return -1;
  TKVVObject o = src;  // src may live in the array that grows below
  const int idx = int(objs_.size());
  o.Parent = parent;
  o.Children.clear();
  o.ChildCount = 0;
  const int slot = o.BitmapIdx;
  o.BitmapIdx = -1;
  if (o.Kind != kvkTEXT) {
    o.Text.clear();
    o.Font.reset();
  }
  if (o.Kind != kvkLINE) Normalize(o);
  objs_.push_back(std::move(o));
  p = GetObj(parent);
  p->Children.push_back(idx);
  p->ChildCount = int(p->Children.size());
  if (objs_[idx].Kind == kvkBITMAP) SetObjBitmapIdxNU(idx, slot);
  ++live_;
  return idx;
}

void TKorvaneVect::ReleaseData(TKVVObject& o) {
  for (int c : o.Children)
    if (c >= 0 && c < int(objs_.size())) {
      ReleaseData(objs_[c]);
      objs_[c].Parent = kNone;
      --live_;
    }
  o.Children.clear();
  o.ChildCount = 0;
  if (o.BitmapIdx >= 0) FreeBitmap(o.BitmapIdx);
  o.BitmapIdx = -1;
  o.Name.clear();
  o.Text.clear();
  o.Font.reset();
}

void TKorvaneVect::Unlink(int idx) {
  PKVVObject o = GetObj(idx);
  if (!o) return;
  auto* list = ChildList(GetObj(o->Parent));
  if (!list) return;
  PKVVObject p = GetObj(o->Parent);
  list->erase(std::remove(list->begin(), list->end(), idx), list->end());
  p->ChildCount = int(list->size());
}

void TKorvaneVect::CollectSubtree(int idx, std::vector<int>& out) {
  out.push_back(idx);
  PKVVObject o = GetObj(idx);
  if (o && o->Kind == kvkFRAME)
    for (int c : o->Children) CollectSubtree(c, out);
}

void TKorvaneVect::RemoveObject(int idx) {
  if (idx == kLast) idx = int(objs_.size()) - 1;
  if (idx < 0 || idx >= int(objs_.size()) || objs_[idx].Parent == kNone) return;
  CancelInteracts();
  // A frame takes its children with it: none of them may stay selected.
  std::vector<int> gone;
  CollectSubtree(idx, gone);
  for (int g : gone) sel_objs_.erase(std::remove(sel_objs_.begin(), sel_objs_.end(), g), sel_objs_.end());
  Unlink(idx);
  ReleaseData(objs_[idx]);
  objs_[idx].Parent = kNone;
  --live_;
  // The array shrinks while its tail holds removed records, so indices of
  // live objects never move.
  while (!objs_.empty() && objs_.back().Parent == kNone) objs_.pop_back();
  Update();
}

void TKorvaneVect::RemoveAllObjects() {
  CancelInteracts();
  root_.Children.clear();
  root_.ChildCount = 0;
  objs_.clear();
  sel_objs_.clear();
  live_ = 0;
  // The template's bitmap survives: it is the template's, not the layer's.
  std::unique_ptr<TBitmap> keep;
  if (templ_.BitmapIdx >= 0 && templ_.BitmapIdx < int(bitmaps_.size()))
    keep = std::move(bitmaps_[templ_.BitmapIdx].Bitmap);
  bitmaps_.clear();
  templ_.BitmapIdx = -1;
  if (keep) {
    bitmaps_.push_back({std::move(keep), 1});
    templ_.BitmapIdx = 0;
  }
  edit_idx_ = -1;
  Update();
}

int TKorvaneVect::GetObjPos(int parent, int idx) {
  auto* list = ChildList(GetObj(parent));
  if (!list) return -1;
  auto it = std::find(list->begin(), list->end(), idx);
  return it == list->end() ? -1 : int(it - list->begin());
}

int TKorvaneVect::FindIn(int parent, const std::function<bool(const TKVVObject&)>& pred) {
  PKVVObject p = GetObj(parent);
  if (!ChildList(p)) return -1;
  const std::vector<int32_t> kids = p->Children;
  for (int c : kids) {
    PKVVObject o = GetObj(c);
    if (!o) continue;
    if (o->Kind == kvkFRAME) {
      int r = FindIn(c, pred);
      if (r >= 0) return r;
    } else if (pred(*o)) {
      return c;
    }
  }
  return -1;
}

int TKorvaneVect::GetObjFromName(const std::string& name) {
  return FindIn(kRoot, [&](const TKVVObject& o) { return o.Name == name; });
}

int TKorvaneVect::GetObjFromID(int id) {
  return FindIn(kRoot, [&](const TKVVObject& o) { return o.ID == id; });
}

void TKorvaneVect::ReInsertVObject(int parent, int idx, int pos) {
  PKVVObject p = GetObj(parent);
  PKVVObject o = GetObj(idx);
  if (!ChildList(p) || !o || idx < 0) return;
  pos = std::clamp(pos, 0, int(p->Children.size()));
  p->Children.insert(p->Children.begin() + pos, idx);
  p->ChildCount = int(p->Children.size());
  o->Parent = parent;
}

void TKorvaneVect::SetObjFrontOf(int idx, int other) { MoveInZOrder(idx, other, true); }

void TKorvaneVect::SetObjBackTo(int idx, int other) { MoveInZOrder(idx, other, false); }

void TKorvaneVect::MoveInZOrder(int idx, int other, bool front) {
  if (idx == kLast) idx = int(objs_.size()) - 1;
  PKVVObject o = GetObj(idx);
  if (!o || idx < 0 || o->Parent == kNone) return;
  // A frame cannot go inside itself.
  std::vector<int> sub;
  CollectSubtree(idx, sub);
  if (other >= 0 && std::find(sub.begin(), sub.end(), other) != sub.end()) return;
  if (other >= 0 && (!GetObj(other) || GetObj(other)->Parent == kNone)) return;
  Unlink(idx);
  if (other < 0) {
    // -1: the front (end) or the back (start) of its own list.
    ReInsertVObject(o->Parent, idx, front ? INT32_MAX : 0);
  } else {
    int parent = objs_[other].Parent;
    ReInsertVObject(parent, idx, GetObjPos(parent, other) + (front ? 1 : 0));
  }
  Update();
}

// ---------------------------------------------------------------------------
// Properties

#define KV_GETSET(Name, Field, Type, Neutral)        \
  Type TKorvaneVect::GetObj##Name(int idx) {         \
    PKVVObject o = GetObj(idx);                      \
    return o ? o->Field : Neutral;                   \
  }                                                  \
  void TKorvaneVect::SetObj##Name(int idx, Type v) { \
    PKVVObject o = GetObj(idx);                      \
    if (!o) return;                                  \
    o->Field = v;                                    \
    Repaint(idx);                                    \
  }

KV_GETSET(Kind, Kind, TKVVObjectKind, kvkFRAME)
KV_GETSET(PenColor, PenColor, TColor, 0)
KV_GETSET(PenStyle, PenStyle, TPenStyle, psSolid)
KV_GETSET(PenWidth, PenWidth, int, 0)
KV_GETSET(BrushColor, BrushColor, TColor, 0)
KV_GETSET(BrushStyle, BrushStyle, TBrushStyle, bsSolid)
KV_GETSET(BeginShape, BeginShape, TKVShape, kvsNONE)
KV_GETSET(EndShape, EndShape, TKVShape, kvsNONE)
KV_GETSET(ShapeWidth, ShapeWidth, int, 0)
KV_GETSET(ShapeHeight, ShapeHeight, int, 0)
KV_GETSET(ID, ID, int, 0)
KV_GETSET(TextAlign, TextAlign, TAlignment, taLeftJustify)
KV_GETSET(AngleStart, AngleStart, double, 0)
KV_GETSET(AngleEnd, AngleEnd, double, 0)
#undef KV_GETSET

std::string TKorvaneVect::GetObjName(int idx) {
  PKVVObject o = GetObj(idx);
  return o ? o->Name : std::string();
}
void TKorvaneVect::SetObjName(int idx, const std::string& v) {
  if (PKVVObject o = GetObj(idx)) {
    o->Name = v;
    Repaint(idx);
  }
}
std::string TKorvaneVect::GetObjText(int idx) {
  PKVVObject o = GetObj(idx);
  return o ? o->Text : std::string();
}
void TKorvaneVect::SetObjText(int idx, const std::string& v) {
  if (PKVVObject o = GetObj(idx)) {
    o->Text = v;
    Repaint(idx);
  }
}

void TKorvaneVect::GetObjRect(int idx, TRect& r) {
  PKVVObject o = GetObj(idx);
  r = o ? Rect(o->x1, o->y1, o->x2, o->y2) : TRect{};
}
void TKorvaneVect::SetObjRect(int idx, const TRect& r) {
  PKVVObject o = GetObj(idx);
  if (!o) return;
  o->x1 = r.Left, o->y1 = r.Top, o->x2 = r.Right, o->y2 = r.Bottom;
  Update();
}
int TKorvaneVect::GetObjLeft(int idx) {
  PKVVObject o = GetObj(idx);
  return o ? o->x1 : 0;
}
int TKorvaneVect::GetObjTop(int idx) {
  PKVVObject o = GetObj(idx);
  return o ? o->y1 : 0;
}
void TKorvaneVect::SetObjLeft(int idx, int v) {
  PKVVObject o = GetObj(idx);
  if (!o) return;
  o->x2 = KVSat(int64_t(o->x2) + v - o->x1);
  o->x1 = v;
  Update();
}
void TKorvaneVect::SetObjTop(int idx, int v) {
  PKVVObject o = GetObj(idx);
  if (!o) return;
  o->y2 = KVSat(int64_t(o->y2) + v - o->y1);
  o->y1 = v;
  Update();
}
int TKorvaneVect::GetObjWidth(int idx) {
  PKVVObject o = GetObj(idx);
  return o ? KVSat(int64_t(o->x2) - o->x1 + 1) : 0;
}
int TKorvaneVect::GetObjHeight(int idx) {
  PKVVObject o = GetObj(idx);
  return o ? KVSat(int64_t(o->y2) - o->y1 + 1) : 0;
}
void TKorvaneVect::SetObjWidth(int idx, int w) {
  PKVVObject o = GetObj(idx);
  if (!o) return;
  o->x2 = KVSat(int64_t(o->x1) + w - 1);
  Update();
}
void TKorvaneVect::SetObjHeight(int idx, int h) {
  PKVVObject o = GetObj(idx);
  if (!o) return;
  o->y2 = KVSat(int64_t(o->y1) + h - 1);
  Update();
}

TKVVStyle TKorvaneVect::GetObjStyle(int idx) {
  PKVVObject o = GetObj(idx);
  return o ? o->Style : TKVVStyle();
}
void TKorvaneVect::SetObjStyle(int idx, TKVVStyle v) {
  PKVVObject o = GetObj(idx);
  if (!o) return;
  // The selection holds real indices: -2 is looked up as the last object.
  const int real = idx == kLast ? int(objs_.size()) - 1 : idx;
  if (!v.Contains(kvvsSelectable) && IsSelObject(real)) UnSelObject(real);
  o->Style = v;
  Repaint(idx);
}

void TKorvaneVect::SetObjFont(int idx, const TFont* f) {
  PKVVObject o = GetObj(idx);
  if (!o || !f) return;
  o->Font = LogFontOf(*f);
  o->PenColor = f->Color();
  Repaint(idx);
}
double TKorvaneVect::GetObjFontAngle(int idx) {
  PKVVObject o = GetObj(idx);
  return o && o->Font ? o->Font->lfEscapement / 10.0 : 0;
}
void TKorvaneVect::SetObjFontAngle(int idx, double degrees) {
  PKVVObject o = GetObj(idx);
  if (!o || !o->Font) return;
  o->Font->lfEscapement = KVTrunc(degrees * 10);
  Repaint(idx);
}
int TKorvaneVect::GetObjFontHeight(int idx) {
  PKVVObject o = GetObj(idx);
  return o && o->Font ? o->Font->lfHeight : 0;
}
void TKorvaneVect::SetObjFontHeight(int idx, int h) {
  PKVVObject o = GetObj(idx);
  if (!o || !o->Font) return;
  o->Font->lfHeight = h;
  Repaint(idx);
}
std::string TKorvaneVect::GetObjFontName(int idx) {
  PKVVObject o = GetObj(idx);
  if (!o || !o->Font) return {};
  return std::string(o->Font->lfFaceName, strnlen(o->Font->lfFaceName, sizeof o->Font->lfFaceName));
}
void TKorvaneVect::SetObjFontName(int idx, const std::string& name) {
  PKVVObject o = GetObj(idx);
  if (!o || !o->Font) return;
  std::memset(o->Font->lfFaceName, 0, sizeof o->Font->lfFaceName);
  std::strncpy(o->Font->lfFaceName, name.c_str(), sizeof o->Font->lfFaceName - 1);
}
TFontStyles TKorvaneVect::GetObjFontStyles(int idx) {
  PKVVObject o = GetObj(idx);
  TFontStyles s;
  if (!o || !o->Font) return s;
  if (o->Font->lfWeight >= 700) s.Include(fsBold);
  if (o->Font->lfItalic) s.Include(fsItalic);
  if (o->Font->lfUnderline) s.Include(fsUnderline);
  if (o->Font->lfStrikeOut) s.Include(fsStrikeOut);
  return s;
}
void TKorvaneVect::SetObjFontStyles(int idx, TFontStyles s) {
  PKVVObject o = GetObj(idx);
  if (!o || !o->Font) return;
  o->Font->lfWeight = s.Contains(fsBold) ? 700 : 400;
  o->Font->lfItalic = s.Contains(fsItalic);
  o->Font->lfUnderline = s.Contains(fsUnderline);
  o->Font->lfStrikeOut = s.Contains(fsStrikeOut);
}

// ---------------------------------------------------------------------------
// Bitmaps

int TKorvaneVect::AllocBitmap() {
  for (size_t i = 0; i < bitmaps_.size(); ++i)
    if (!bitmaps_[i].Bitmap) return int(i);
  bitmaps_.emplace_back();
  return int(bitmaps_.size()) - 1;
}

void TKorvaneVect::FreeBitmap(int slot) {
  if (slot < 0 || slot >= int(bitmaps_.size()) || !bitmaps_[slot].Bitmap) return;
  if (--bitmaps_[slot].RefCount <= 0) {
    bitmaps_[slot].Bitmap.reset();
    bitmaps_[slot].RefCount = 0;
  }
}

int TKorvaneVect::FindBitmap(const TBitmap* b) {
  if (!b) return -1;
  for (int i = int(bitmaps_.size()) - 1; i >= 0; --i)
    if (bitmaps_[i].Bitmap && _BitmapCompareX(bitmaps_[i].Bitmap.get(), b)) return i;
  return -1;
}

TBitmap* TKorvaneVect::GetBitmap(int slot) {
  return slot >= 0 && slot < int(bitmaps_.size()) ? bitmaps_[slot].Bitmap.get() : nullptr;
}

int TKorvaneVect::BitmapRefCount(int slot) const {
  return slot >= 0 && slot < int(bitmaps_.size()) ? bitmaps_[slot].RefCount : 0;
}

void TKorvaneVect::AttachBitmap(TKVVObject& o, const TBitmap* b) {
  // The new slot is taken before the old one is released, so giving an
  // object the bitmap it already has never frees it on the way.
  int slot = -1;
  if (b) {
    slot = share_bitmaps_ ? FindBitmap(b) : -1;
    if (slot >= 0) {
      ++bitmaps_[slot].RefCount;
    } else {
      slot = AllocBitmap();
      bitmaps_[slot].Bitmap = std::make_unique<TBitmap>();
      bitmaps_[slot].Bitmap->Assign(b);
      bitmaps_[slot].RefCount = 1;
    }
  }
  const int old = o.BitmapIdx;
  o.BitmapIdx = slot;
  if (old >= 0) FreeBitmap(old);
}

TBitmap* TKorvaneVect::GetObjBitmap(int idx) {
  PKVVObject o = GetObj(idx);
  return o ? GetBitmap(o->BitmapIdx) : nullptr;
}

void TKorvaneVect::SetObjBitmapNU(int idx, const TBitmap* b) {
  if (PKVVObject o = GetObj(idx)) AttachBitmap(*o, b);
}

void TKorvaneVect::SetObjBitmap(int idx, const TBitmap* b) {
  SetObjBitmapNU(idx, b);
  Repaint(idx);
}

void TKorvaneVect::SetObjBitmapIdxNU(int idx, int slot) {
  PKVVObject o = GetObj(idx);
  if (!o) return;
  TBitmap* b = GetBitmap(slot);
  if (!b) {
    const int old = o->BitmapIdx;
    o->BitmapIdx = -1;
    if (old >= 0) FreeBitmap(old);
    return;
  }
  if (share_bitmaps_) {
    ++bitmaps_[slot].RefCount;
    const int old = o->BitmapIdx;
    o->BitmapIdx = slot;
    if (old >= 0) FreeBitmap(old);
  } else {
    TBitmap copy;
    copy.Assign(b);
    AttachBitmap(*o, &copy);
  }
}

void TKorvaneVect::SetObjBitmapICO(int idx, int resource, int cy, int cx) {
  TBitmap b;
  DrawSystemIcon(b, resource, cx, cy);
  SetObjBitmapNU(idx, &b);
  Repaint(idx);
}

void TKorvaneVect::PackBMP() {
  std::vector<int> map(bitmaps_.size(), -1);
  std::vector<TKVVBitmap> packed;
  for (size_t i = 0; i < bitmaps_.size(); ++i)
    if (bitmaps_[i].Bitmap) {
      map[i] = int(packed.size());
      packed.push_back(std::move(bitmaps_[i]));
    }
  bitmaps_ = std::move(packed);
  auto renumber = [&](TKVVObject& o) {
    o.BitmapIdx = o.BitmapIdx >= 0 && o.BitmapIdx < int(map.size()) ? map[o.BitmapIdx] : -1;
  };
  renumber(templ_);
  std::vector<int> all;
  for (int c : root_.Children) CollectSubtree(c, all);
  for (int i : all)
    if (PKVVObject o = GetObj(i)) renumber(*o);
}

}  // namespace korvane
