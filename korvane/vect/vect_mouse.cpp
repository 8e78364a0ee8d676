// Mouse interaction of TKorvaneVect: inserting objects by dragging, click and
// rubber-band selection, grip drags, in-place text editing, hit testing.
#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>
#include <cmath>

#include "korvane/foundations/kvhint.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/vect/kvvect.h"

namespace korvane {

namespace {

double SegmentDist(double px, double py, double ax, double ay, double bx, double by) {
  const double vx = bx - ax, vy = by - ay;
  const double l2 = vx * vx + vy * vy;
  double t = l2 > 0 ? ((px - ax) * vx + (py - ay) * vy) / l2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  const double dx = px - (ax + t * vx), dy = py - (ay + t * vy);
  return std::sqrt(dx * dx + dy * dy);
}

bool OnGrip(int x, int y, int gx, int gy) { return x >= gx - 4 && x < gx + 4 && y >= gy - 4 && y < gy + 4; }

// A click farther than this (screen pixels, plus half the pen) from every
// object is a click on empty space.
constexpr double kHitTolerance = 4.0;

// The in-place text editor: Enter keeps the typed text, Escape drops it.
// Both keys are claimed from the window's shortcuts while it has the focus.
class TKVTextEditor : public QLineEdit {
 public:
  TKVTextEditor(QWidget* parent, std::function<void(bool)> end) : QLineEdit(parent), end_(std::move(end)) {}

 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::ShortcutOverride && Ends(static_cast<QKeyEvent*>(e)->key())) {
      e->accept();
      return true;
    }
    return QLineEdit::event(e);
  }
  void keyPressEvent(QKeyEvent* e) override {
    if (Ends(e->key())) {
      e->accept();
      end_(e->key() != Qt::Key_Escape);
      return;
    }
    QLineEdit::keyPressEvent(e);
  }

 private:
  static bool Ends(int key) { return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter; }
  std::function<void(bool)> end_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Modes

void TKorvaneVect::SetMouseInteractVt(TKVMouseInteractVt s) {
  CancelInteracts();
  if (s == interact_vt_) return;
  TKVMouseInteractVt mode = s;
  for (int i = miArea; i <= miObjectSelect; ++i) {
    auto item = TKVMouseInteractVtItems(i);
    if (!s.Contains(item) || interact_vt_.Contains(item)) continue;
    mode = TKVMouseInteractVt{item};
    if (item != miArea && item != miLineLen) TKorvaneView::SetMouseInteract(TKVMouseInteract());
    break;
  }
  interact_vt_ = mode;
  if (mode.Contains(miArea) || mode.Contains(miLineLen))
    UpdateHint(-1, -1);
  else if (hint_)
    hint_->SetVisible(false);
}

void TKorvaneVect::SetMouseInteract(TKVMouseInteract s) {
  TKorvaneView::SetMouseInteract(s);
  interact_vt_ = interact_vt_ * TKVMouseInteractVt{miArea, miLineLen};
  CancelInteracts();
}

void TKorvaneVect::CancelInteracts() {
  inserting_ = -1;
  grip_ = 0;
  down_ = false;
  rubber_ = false;
  drag_undo_.reset();
  RemoveTextEdit();
  if (edit_idx_ >= 0) {
    edit_idx_ = -1;
    Update();
  }
}

// ---------------------------------------------------------------------------
// Selection

void TKorvaneVect::AddSelObjectNS(int idx) {
  if (idx == kLast) idx = int(objs_.size()) - 1;
  if (idx < 0 || idx >= int(objs_.size()) || objs_[idx].Parent == kNone || IsSelObject(idx)) return;
  sel_objs_.push_back(idx);
}

void TKorvaneVect::AddSelObject(int idx) {
  AddSelObjectNS(idx);
  DoSelectObject();
}

bool TKorvaneVect::IsSelObject(int idx) const {
  return std::find(sel_objs_.begin(), sel_objs_.end(), idx) != sel_objs_.end();
}

void TKorvaneVect::UnSelObject(int idx) {
  auto it = std::find(sel_objs_.begin(), sel_objs_.end(), idx);
  if (it != sel_objs_.end()) sel_objs_.erase(it);
  DoSelectObject();
}

void TKorvaneVect::UnSelAllObjects() {
  sel_objs_.clear();
  DoSelectObject();
}

int TKorvaneVect::GetSelObjects(int i) const {
  return i >= 0 && i < int(sel_objs_.size()) ? sel_objs_[i] : -1;
}

void TKorvaneVect::SelInRect(int parent, int x1, int y1, int x2, int y2) {
  PKVVObject p = GetObj(parent);
  if (!p || p->Kind != kvkFRAME) return;
  const std::vector<int32_t> kids = p->Children;
  for (int c : kids) {
    PKVVObject o = GetObj(c);
    if (!o) continue;
    if (o->Kind == kvkFRAME) {
      SelInRect(c, x1, y1, x2, y2);
      continue;
    }
    if (!o->Style.Contains(kvvsSelectable)) continue;
    const int l = std::min(o->x1, o->x2), r = std::max(o->x1, o->x2);
    const int t = std::min(o->y1, o->y2), b = std::max(o->y1, o->y2);
    if (l >= x1 && r <= x2 && t >= y1 && b <= y2) AddSelObjectNS(c);
  }
}

// ---------------------------------------------------------------------------
// Hit testing

double TKorvaneVect::CalcDistPtObj(PKVVObject o, int x, int y) {
  if (!o) return 10000000.0;
  switch (o->Kind) {
    case kvkLINE:
      return SegmentDist(x, y, o->x1, o->y1, o->x2, o->y2);
    case kvkELLIPSE:
    case kvkARC: {
      const int64_t rx = (int64_t(o->x2) - o->x1) / 2, ry = (int64_t(o->y2) - o->y1) / 2;
      const double cx = double(o->x1 + rx), cy = double(o->y1 + ry);
      // Small ellipses still get a closed outline of at least 8 vertices.
      int n = KVTrunc(2 * M_PI * double(std::min(std::abs(rx), std::abs(ry)))) / 8;
      n = std::clamp(n, 8, 4096);
      double best = 10000000.0;
      double px = cx + double(rx), py = cy;
      for (int k = 1; k <= n; ++k) {
        const double a = (k % n) * 2 * M_PI / n;
        const double qx = cx + std::trunc(std::cos(a) * double(rx)),
                     qy = cy + std::trunc(std::sin(a) * double(ry));
        best = std::min(best, SegmentDist(x, y, px, py, qx, qy));
        px = qx, py = qy;
      }
      return best;
    }
    default: {
      const int l = std::min(o->x1, o->x2), r = std::max(o->x1, o->x2);
      const int t = std::min(o->y1, o->y2), b = std::max(o->y1, o->y2);
      const bool solid = o->Kind == kvkFRAME || o->Kind == kvkBITMAP || o->Kind == kvkTEXT ||
                         (o->Kind == kvkBOX && o->BrushStyle != bsClear);
      if (solid && x >= l && x <= r && y >= t && y <= b) return 0;
      return std::min({SegmentDist(x, y, l, t, r, t), SegmentDist(x, y, r, t, r, b),
                       SegmentDist(x, y, r, b, l, b), SegmentDist(x, y, l, b, l, t)});
    }
  }
}

int TKorvaneVect::FindNearObj(int parent, int x, int y, double& dist) {
  dist = 1000000000.0;
  PKVVObject p = GetObj(parent);
  if (!p || p->Kind != kvkFRAME) return parent;
  const TViewGeometry& g = Geometry();
  const int vx1 = KVSat(int64_t(g.ViewX) * 100 / g.Zoom), vy1 = KVSat(int64_t(g.ViewY) * 100 / g.Zoom);
  const int vx2 = KVSat((int64_t(g.ViewX) + g.ExtentX) * 100 / g.Zoom);
  const int vy2 = KVSat((int64_t(g.ViewY) + g.ExtentY) * 100 / g.Zoom);
  int best = parent;
  // Hit testing never edits the tree, so the list is walked in place.
  const std::vector<int32_t>& kids = p->Children;
  for (auto it = kids.rbegin(); it != kids.rend(); ++it) {
    PKVVObject o = GetObj(*it);
    if (!o || !o->Style.Contains(kvvsSelectable)) continue;
    const int l = std::min(o->x1, o->x2), r = std::max(o->x1, o->x2);
    const int t = std::min(o->y1, o->y2), b = std::max(o->y1, o->y2);
    if (l > vx2 || r < vx1 || t > vy2 || b < vy1) continue;
    double d;
    int cand = *it;
    // Every outline lies in its rectangle, so the distance to the rectangle
    // bounds the distance from below: objects that cannot win are skipped
    // before their outline is computed. Children may lie outside a frame.
    if (o->Kind != kvkFRAME) {
      const double ox = x < l ? double(l) - x : x > r ? double(x) - r : 0;
      const double oy = y < t ? double(t) - y : y > b ? double(y) - b : 0;
      if (ox * ox + oy * oy >= dist * dist) continue;
    }
    if (o->Kind == kvkFRAME) {
      cand = FindNearObj(*it, x, y, d);
      if (cand == *it) continue;
    } else {
      d = CalcDistPtObj(o, x, y);
    }
    if (d < dist) {
      dist = d;
      best = cand;
    }
  }
  return best;
}

int TKorvaneVect::FindSelGrip(int x, int y, int& grip) {
  for (int i = 0; i < int(sel_objs_.size()); ++i) {
    PKVVObject o = GetObj(sel_objs_[i]);
    if (!o) continue;
    int x1, y1, x2, y2;
    ScreenCorners(*o, x1, y1, x2, y2);
    if (!MeetsImage(x1, y1, x2, y2)) continue;
    int g = 0;
    if (OnGrip(x, y, x1, y1))
      g = 1;
    else if (OnGrip(x, y, x2, y2))
      g = 2;
    else if (OnGrip(x, y, x1 + (x2 - x1 + 1) / 2, y1 + (y2 - y1 + 1) / 2))
      g = 3;
    if (o->Kind != kvkLINE) {
      if (OnGrip(x, y, x2, y1))
        g = 4;
      else if (OnGrip(x, y, x1, y2))
        g = 5;
    }
    if (g) {
      grip = g;
      return i;
    }
  }
  return -4;
}

void TKorvaneVect::TraslateObject(int idx, int dx, int dy) { ChangeObjectCoor(idx, dx, dy, dx, dy); }

void TKorvaneVect::ChangeObjectCoor(int idx, int dx1, int dy2, int dx2, int dy1) {
  PKVVObject o = GetObj(idx);
  if (!o) return;
  o->x1 = KVSat(int64_t(o->x1) + dx1);
  o->y1 = KVSat(int64_t(o->y1) + dy1);
  o->x2 = KVSat(int64_t(o->x2) + dx2);
  o->y2 = KVSat(int64_t(o->y2) + dy2);
}

// ---------------------------------------------------------------------------
// Text editing

void TKorvaneVect::ActiveTextEdit() {
  CloseEditor();
  PKVVObject o = GetObj(edit_idx_);
  if (!o || edit_idx_ < 0) return;
  // Reopening after a zoom or scroll continues the same edit.
  if (!edit_undo_) {
    edit_undo_ = CaptureState(false);
    edit_before_ = o->Text;
  }
  int x1, y1, x2, y2;
  ScreenCorners(*o, x1, y1, x2, y2);
  edit_ = new TKVTextEditor(this, [this](bool keep) { EndTextEdit(keep); });
  edit_->setFrame(false);
  const QPoint org = ClientArea().topLeft();
  edit_->setGeometry(org.x() + x1, org.y() + y1, std::max(x2 - x1 + 1, 8), std::max(y2 - y1 + 1, 8));
  TFont f;
  TLogFont lf = o->Font ? *o->Font : TLogFont{};
  lf.lfHeight = lf.lfHeight == 0 ? y2 - y1 : KVTrunc(lf.lfHeight * GetZoom() / 100.0);
  lf.lfEscapement = 0;
  FontFromLog(lf, f);
  edit_->setFont(f.ToQFont());
  QPalette pal = edit_->palette();
  pal.setColor(QPalette::Text, ColorToQColor(o->PenColor));
  pal.setColor(QPalette::Base, ColorToQColor(o->BrushStyle == bsClear ? GetBackground() : o->BrushColor));
  edit_->setPalette(pal);
  edit_->setText(QString::fromStdString(o->Text));
  // Every keystroke reaches the object, so saving, burning in and reading
  // the text see what is typed while the editor stays open.
  QObject::connect(edit_, &QLineEdit::textChanged, edit_, [this](const QString& t) {
    if (PKVVObject e = edit_idx_ >= 0 ? GetObj(edit_idx_) : nullptr) e->Text = t.toStdString();
  });
  edit_->show();
  edit_->setFocus();
}

void TKorvaneVect::CloseEditor() {
  if (!edit_) return;
  if (PKVVObject o = edit_idx_ >= 0 ? GetObj(edit_idx_) : nullptr) o->Text = edit_->text().toStdString();
  QLineEdit* e = edit_;
  edit_ = nullptr;
  const bool focused = e->hasFocus();
  e->hide();
  e->deleteLater();
  if (focused) setFocus();
}

void TKorvaneVect::FinishEditStep() {
  if (!edit_undo_) return;
  PKVVObject o = edit_idx_ >= 0 ? GetObj(edit_idx_) : nullptr;
  if (o && o->Text != edit_before_) PushUndo(std::move(*edit_undo_));
  edit_undo_.reset();
}

void TKorvaneVect::RemoveTextEdit() {
  CloseEditor();
  FinishEditStep();
}

void TKorvaneVect::EndTextEdit(bool Keep) {
  if (!edit_) return;
  if (!Keep) edit_->setText(QString::fromStdString(edit_before_));
  RemoveTextEdit();
  edit_idx_ = -1;
  Update();
}

void TKorvaneVect::SubMouseMoveScroll(int dx, int dy) {
  TKorvaneView::SubMouseMoveScroll(dx, dy);
  cur_pt_.x += dx;
  cur_pt_.y += dy;
}

void TKorvaneVect::ViewChange(int change) {
  TKorvaneView::ViewChange(change);
  if (edit_) ActiveTextEdit();
}

// ---------------------------------------------------------------------------
// Mouse

void TKorvaneVect::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TKorvaneView::MouseDown(Button, Shift, X, Y);
  if (edit_ || edit_idx_ >= 0) {
    RemoveTextEdit();
    edit_idx_ = -1;
    Update();
  }
  if (Button != mbLeft) return;
  // A double click in select mode opens the text editor on the text object
  // under the pointer; its first press already chose the selection.
  if (Shift.Contains(ssDouble) && interact_vt_.Contains(miObjectSelect)) {
    down_ = false;
    double d;
    const int near = FindNearObj(kRoot, XScr2Bmp(X), YScr2Bmp(Y), d);
    PKVVObject o = near >= 0 ? GetObj(near) : nullptr;
    if (o && o->Kind == kvkTEXT && d == 0) {
      sel_objs_.assign(1, near);
      DoSelectObject();
      edit_idx_ = near;
      ActiveTextEdit();
      Update();
    }
    return;
  }
  if (down_) return;
  const TViewGeometry& g = Geometry();
  const TPoint p = Point(std::clamp(X, g.OffsetX, std::max(g.OffsetX, g.OffsetX + g.ExtentX - 1)),
                         std::clamp(Y, g.OffsetY, std::max(g.OffsetY, g.OffsetY + g.ExtentY - 1)));
  down_pt_ = cur_pt_ = p;
  moved_ = false;
  inserting_ = interact_vt_.Contains(miPutLine)      ? kvkLINE
               : interact_vt_.Contains(miPutBox)     ? kvkBOX
               : interact_vt_.Contains(miPutEllipse) ? kvkELLIPSE
               : interact_vt_.Contains(miPutBitmap)  ? kvkBITMAP
               : interact_vt_.Contains(miPutText)    ? kvkTEXT
                                                     : -1;
  if (interact_vt_.Contains(miObjectSelect)) {
    grip_ = 0;
    FindSelGrip(X, Y, grip_);
  }
  drag_changed_ = false;
  if (grip_ != 0) drag_undo_ = CaptureState(false);
  down_ = inserting_ >= 0 || interact_vt_.Contains(miObjectSelect);
}

void TKorvaneVect::MouseMove(TShiftState Shift, int X, int Y) {
  TKorvaneView::MouseMove(Shift, X, Y);
  const TViewGeometry& g = Geometry();
  TPoint p = Point(std::clamp(X, g.OffsetX, std::max(g.OffsetX, g.OffsetX + g.ExtentX - 1)),
                   std::clamp(Y, g.OffsetY, std::max(g.OffsetY, g.OffsetY + g.ExtentY - 1)));
  mouse_pt_ = p;
  UpdateHint(p.x, p.y);
  if (!down_) return;
  if (p.x != down_pt_.x || p.y != down_pt_.y) moved_ = true;
  if (inserting_ == kvkLINE) {
    if (Shift.Contains(ssCtrl)) _CastPolySelCC(down_pt_.x, down_pt_.y, p.x, p.y);
    cur_pt_ = p;
    Invalidate();
  } else if (inserting_ == kvkELLIPSE) {
    if (Shift.Contains(ssCtrl)) {
      const int dx = p.x - down_pt_.x, dy = p.y - down_pt_.y;
      const int o = std::abs(dy) < std::abs(dx) ? dx : dy;
      p = Point(down_pt_.x + o, down_pt_.y + o);
    }
    cur_pt_ = p;
    Invalidate();
  } else if (inserting_ >= 0) {
    cur_pt_ = p;
    Invalidate();
  } else if (grip_ != 0) {
    const int dx = KVRound((p.x - cur_pt_.x) * 100.0 / g.Zoom);
    const int dy = KVRound((p.y - cur_pt_.y) * 100.0 / g.Zoom);
    // Only the movement turned into whole bitmap pixels is used up, so slow
    // drags at high zoom still move.
    cur_pt_.x += KVRound(dx * g.Zoom / 100.0);
    cur_pt_.y += KVRound(dy * g.Zoom / 100.0);
    if (dx == 0 && dy == 0) return;
    for (int idx : sel_objs_) {
      PKVVObject o = GetObj(idx);
      if (!o) continue;
      // (idx, dx1, dy2, dx2, dy1)
      if (o->Style.Contains(kvvsSizeable)) {
        if (grip_ == 1) ChangeObjectCoor(idx, dx, 0, 0, dy);
        if (grip_ == 2) ChangeObjectCoor(idx, 0, dy, dx, 0);
        if (grip_ == 4) ChangeObjectCoor(idx, 0, 0, dx, dy);
        if (grip_ == 5) ChangeObjectCoor(idx, dx, dy, 0, 0);
        drag_changed_ |= grip_ != 3;
      }
      if (grip_ == 3 && o->Style.Contains(kvvsMoveable)) {
        TraslateObject(idx, dx, dy);
        drag_changed_ = true;
      }
    }
    Update();
  } else if (interact_vt_.Contains(miObjectSelect) && moved_) {
    rubber_ = true;
    cur_pt_ = p;
    sel_objs_.clear();
    int x1 = XScr2Bmp(down_pt_.x), y1 = YScr2Bmp(down_pt_.y);
    int x2 = XScr2Bmp(cur_pt_.x), y2 = YScr2Bmp(cur_pt_.y);
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    SelInRect(kRoot, x1, y1, x2, y2);
    DoSelectObject();
    Invalidate();
  }
}

void TKorvaneVect::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TKorvaneView::MouseUp(Button, Shift, X, Y);
  if (Button != mbLeft || !down_) return;
  down_ = false;
  if (edit_) return;
  if (inserting_ >= 0) {
    const int bx1 = XScr2Bmp(down_pt_.x), by1 = YScr2Bmp(down_pt_.y);
    if (!moved_) {
      templ_.x2 = KVSat(int64_t(templ_.x2) + bx1 - templ_.x1);
      templ_.y2 = KVSat(int64_t(templ_.y2) + by1 - templ_.y1);
      templ_.x1 = bx1;
      templ_.y1 = by1;
    } else {
      templ_.x1 = bx1;
      templ_.y1 = by1;
      templ_.x2 = XScr2Bmp(cur_pt_.x);
      templ_.y2 = YScr2Bmp(cur_pt_.y);
    }
    templ_.Kind = TKVVObjectKind(inserting_);
    SaveUndo();
    const int idx = AddVObject(kRoot, templ_);
    sel_objs_.clear();
    AddSelObject(idx);
    if (templ_.Kind == kvkTEXT) {
      edit_idx_ = idx;
      ActiveTextEdit();
    }
  } else if (interact_vt_.Contains(miObjectSelect) && grip_ == 0 && !moved_) {
    double d;
    const int near = FindNearObj(kRoot, XScr2Bmp(down_pt_.x), YScr2Bmp(down_pt_.y), d);
    PKVVObject o = near >= 0 ? GetObj(near) : nullptr;
    const double tol = o ? kHitTolerance * 100.0 / std::max(GetZoom(), 1) + o->PenWidth / 2.0 : 0;
    if (o && d > tol) {
      // Empty space: a plain click deselects, a Shift click keeps the
      // selection for the next object.
      if (!Shift.Contains(ssShift) && !sel_objs_.empty()) {
        sel_objs_.clear();
        DoSelectObject();
      }
    } else if (near >= 0) {
      if (!IsSelObject(near)) {
        if (!Shift.Contains(ssShift)) sel_objs_.clear();
        sel_objs_.push_back(near);
      } else if (Shift.Contains(ssShift)) {
        sel_objs_.erase(std::find(sel_objs_.begin(), sel_objs_.end(), near));
      } else {
        sel_objs_.assign(1, near);
      }
      DoSelectObject();
    }
  } else if (grip_ != 0) {
    for (int idx : sel_objs_) {
      PKVVObject o = GetObj(idx);
      if (o && o->Kind != kvkLINE) {
        if (o->x1 > o->x2) std::swap(o->x1, o->x2);
        if (o->y1 > o->y2) std::swap(o->y1, o->y2);
      }
    }
    if (drag_changed_ && drag_undo_) PushUndo(std::move(*drag_undo_));
  }
  drag_undo_.reset();
  Update();
  inserting_ = -1;
  grip_ = 0;
  rubber_ = false;
}

}  // namespace korvane
