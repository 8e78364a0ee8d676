// Undo and redo of the vector layer, and the keyboard edits of the
// selection (Delete, the arrow keys, Ctrl+Z and Ctrl+Y).
#include <QKeyEvent>
#include <algorithm>

#include "korvane/proc/kvproc.h"
#include "korvane/vect/kvvect.h"

namespace korvane {

// ---------------------------------------------------------------------------
// States

TKorvaneVect::TUndoState TKorvaneVect::CaptureState(bool WithBitmap) const {
  TUndoState st;
  st.Objs = objs_;
  st.Root = root_;
  st.Live = live_;
  st.TemplateSlot = templ_.BitmapIdx;
  st.Sel = sel_objs_;
  // A slot whose pixels equal the same slot of the newest recorded state
  // shares that copy: a run of steps over a stamped picture keeps one.
  const TUndoState* prev = undo_.empty() ? nullptr : &undo_.back();
  st.Bitmaps.reserve(bitmaps_.size());
  for (size_t i = 0; i < bitmaps_.size(); ++i) {
    const TBitmap* b = bitmaps_[i].Bitmap.get();
    std::shared_ptr<const TBitmap> copy;
    if (b) {
      if (prev && i < prev->Bitmaps.size() && prev->Bitmaps[i].first &&
          _BitmapCompareX(b, prev->Bitmaps[i].first.get()))
        copy = prev->Bitmaps[i].first;
      else {
        auto c = std::make_shared<TBitmap>();
        c->Assign(b);
        copy = std::move(c);
      }
    }
    st.Bitmaps.emplace_back(std::move(copy), bitmaps_[i].RefCount);
  }
  if (WithBitmap) {
    auto pic = std::make_shared<TBitmap>();
    if (TBitmap* b = const_cast<TKorvaneVect*>(this)->GetFBitmap()) pic->Assign(b);
    st.Picture = std::move(pic);
  }
  return st;
}

void TKorvaneVect::RestoreState(const TUndoState& st) {
  // The template is not part of the history: it keeps its current bitmap.
  std::unique_ptr<TBitmap> templBitmap;
  if (TBitmap* tb = GetBitmap(templ_.BitmapIdx)) {
    templBitmap = std::make_unique<TBitmap>();
    templBitmap->Assign(tb);
  }
  objs_ = st.Objs;
  root_ = st.Root;
  live_ = st.Live;
  bitmaps_.clear();
  bitmaps_.resize(st.Bitmaps.size());
  for (size_t i = 0; i < st.Bitmaps.size(); ++i) {
    if (st.Bitmaps[i].first) {
      bitmaps_[i].Bitmap = std::make_unique<TBitmap>();
      bitmaps_[i].Bitmap->Assign(st.Bitmaps[i].first.get());
    }
    bitmaps_[i].RefCount = st.Bitmaps[i].second;
  }
  templ_.BitmapIdx = st.TemplateSlot;
  AttachBitmap(templ_, templBitmap.get());
  // The selection of the state, without objects that no longer exist.
  sel_objs_ = st.Sel;
  sel_objs_.erase(
      std::remove_if(sel_objs_.begin(), sel_objs_.end(),
                     [&](int i) { return i < 0 || i >= int(objs_.size()) || objs_[i].Parent == kNone; }),
      sel_objs_.end());
  edit_idx_ = -1;
  if (st.Picture) {
    if (TBitmap* b = GetFBitmap()) {
      b->Assign(st.Picture.get());
      b->Changed();
    }
  }
  Update();
  if (st.Picture) ImageChange();
  DoSelectObject();
}

void TKorvaneVect::PushUndo(TUndoState st) {
  undo_.push_back(std::move(st));
  if (int(undo_.size()) > undo_limit_) undo_.erase(undo_.begin(), undo_.end() - undo_limit_);
  redo_.clear();
  nudging_ = false;
  UndoChanged();
}

// ---------------------------------------------------------------------------
// History

void TKorvaneVect::SaveUndo(bool WithBitmap) { PushUndo(CaptureState(WithBitmap)); }

bool TKorvaneVect::Undo() {
  // An open text edit is finished first: its change is the step undone.
  CancelInteracts();
  if (undo_.empty()) return false;
  TUndoState st = std::move(undo_.back());
  undo_.pop_back();
  redo_.push_back(CaptureState(st.Picture != nullptr));
  RestoreState(st);
  nudging_ = false;
  UndoChanged();
  return true;
}

bool TKorvaneVect::Redo() {
  CancelInteracts();
  if (redo_.empty()) return false;
  TUndoState st = std::move(redo_.back());
  redo_.pop_back();
  undo_.push_back(CaptureState(st.Picture != nullptr));
  RestoreState(st);
  nudging_ = false;
  UndoChanged();
  return true;
}

bool TKorvaneVect::UndoRestoresBitmap() const { return !undo_.empty() && undo_.back().Picture != nullptr; }

bool TKorvaneVect::RedoRestoresBitmap() const { return !redo_.empty() && redo_.back().Picture != nullptr; }

void TKorvaneVect::ClearUndo() {
  undo_.clear();
  redo_.clear();
  nudging_ = false;
  UndoChanged();
}

void TKorvaneVect::SetUndoLimit(int n) {
  undo_limit_ = std::max(n, 1);
  if (int(undo_.size()) > undo_limit_) undo_.erase(undo_.begin(), undo_.end() - undo_limit_);
  if (int(redo_.size()) > undo_limit_) redo_.erase(redo_.begin(), redo_.end() - undo_limit_);
  UndoChanged();
}

// ---------------------------------------------------------------------------
// Keyboard edits

void TKorvaneVect::DeleteSelObjects() {
  if (sel_objs_.empty()) return;
  SaveUndo();
  const std::vector<int> sel = sel_objs_;
  for (int idx : sel) RemoveObject(idx);  // a removed frame took its children
  sel_objs_.clear();
  DoSelectObject();
}

void TKorvaneVect::NudgeSelObjects(int dx, int dy) {
  std::vector<int> moving;
  for (int idx : sel_objs_)
    if (PKVVObject o = GetObj(idx); o && o->Style.Contains(kvvsMoveable)) moving.push_back(idx);
  if (moving.empty() || (dx == 0 && dy == 0)) return;
  if (!nudging_) {
    SaveUndo();
    nudging_ = true;
  }
  for (int idx : moving) TraslateObject(idx, dx, dy);
  Update();
}

bool TKorvaneVect::HandlesKey(int qtKey, Qt::KeyboardModifiers modifiers) const {
  if (edit_) return false;
  const Qt::KeyboardModifiers m = modifiers & ~Qt::KeypadModifier;
  switch (qtKey) {
    case Qt::Key_Delete:
      return m == Qt::NoModifier && !sel_objs_.empty();
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
      return (m == Qt::NoModifier || m == Qt::ShiftModifier) && !sel_objs_.empty();
    case Qt::Key_Z:
      if (m == Qt::ControlModifier) return CanUndo();
      return m == (Qt::ControlModifier | Qt::ShiftModifier) && CanRedo();
    case Qt::Key_Y:
      return m == Qt::ControlModifier && CanRedo();
    default:
      return false;
  }
}

bool TKorvaneVect::event(QEvent* e) {
  if (e->type() == QEvent::ShortcutOverride) {
    auto* k = static_cast<QKeyEvent*>(e);
    if (HandlesKey(k->key(), k->modifiers())) {
      e->accept();
      return true;
    }
  }
  return TKorvaneView::event(e);
}

void TKorvaneVect::KeyDown(Word& Key, TShiftState Shift) {
  TKorvaneView::KeyDown(Key, Shift);  // the published OnKeyDown may take the key
  if (Key == 0 || edit_) return;
  const bool ctrl = Shift.Contains(ssCtrl), shift = Shift.Contains(ssShift), alt = Shift.Contains(ssAlt);
  if (alt) return;
  const int step = shift ? 10 : 1;
  if (!ctrl) {
    if (sel_objs_.empty()) return;
    switch (Key) {
      case VK_DELETE:
        if (!shift) DeleteSelObjects();
        break;
      case VK_LEFT:
        NudgeSelObjects(-step, 0);
        break;
      case VK_RIGHT:
        NudgeSelObjects(step, 0);
        break;
      case VK_UP:
        NudgeSelObjects(0, -step);
        break;
      case VK_DOWN:
        NudgeSelObjects(0, step);
        break;
      default:
        return;
    }
    Key = 0;
    return;
  }
  if (Key == 'Z' && !shift && CanUndo()) {
    Undo();
    Key = 0;
  } else if (((Key == 'Z' && shift) || (Key == 'Y' && !shift)) && CanRedo()) {
    Redo();
    Key = 0;
  }
}

}  // namespace korvane
