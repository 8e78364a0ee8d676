#include "korvane/foundations/host/controls.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTimerEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <exception>

namespace korvane {

namespace {

// Handlers run inside Qt's event dispatch, which exceptions must not cross:
// report and go on, as a classic application's exception handler would.
template <typename F>
void Guarded(const char* what, F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    qWarning("korvane: %s raised: %s", what, e.what());
  } catch (...) {
    qWarning("korvane: %s raised an exception", what);
  }
}

bool ButtonOf(Qt::MouseButton b, TMouseButton& out) {
  switch (b) {
    case Qt::LeftButton: out = mbLeft; return true;
    case Qt::RightButton: out = mbRight; return true;
    case Qt::MiddleButton: out = mbMiddle; return true;
    default: return false;
  }
}

}  // namespace

Word QtKeyToVK(int key, Qt::KeyboardModifiers mods) {
  const bool keypad = mods.testFlag(Qt::KeypadModifier);
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return Word(keypad ? VK_NUMPAD0 + (key - Qt::Key_0) : key);
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return Word(key);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return Word(VK_F1 + (key - Qt::Key_F1));
  switch (key) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Clear: return VK_CLEAR;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: return VK_MENU;
    case Qt::Key_Pause: return VK_PAUSE;
    case Qt::Key_CapsLock: return VK_CAPITAL;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Select: return VK_SELECT;
    case Qt::Key_Print: return VK_SNAPSHOT;
    case Qt::Key_Execute: return VK_EXECUTE;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Help: return VK_HELP;
    case Qt::Key_Meta:
    case Qt::Key_Super_L: return VK_LWIN;
    case Qt::Key_Super_R: return VK_RWIN;
    case Qt::Key_Menu: return VK_APPS;
    case Qt::Key_NumLock: return VK_NUMLOCK;
    case Qt::Key_ScrollLock: return VK_SCROLL;
    case Qt::Key_Asterisk: return keypad ? VK_MULTIPLY : Word('8');
    case Qt::Key_Plus: return keypad ? VK_ADD : VK_OEM_PLUS;
    case Qt::Key_Minus: return keypad ? VK_SUBTRACT : VK_OEM_MINUS;
    case Qt::Key_Slash: return keypad ? VK_DIVIDE : VK_OEM_2;
    case Qt::Key_Period: return keypad ? VK_DECIMAL : VK_OEM_PERIOD;
    case Qt::Key_Comma: return keypad ? VK_SEPARATOR : VK_OEM_COMMA;
    case Qt::Key_Equal: return VK_OEM_PLUS;
    case Qt::Key_Underscore: return VK_OEM_MINUS;
    case Qt::Key_Semicolon:
    case Qt::Key_Colon: return VK_OEM_1;
    case Qt::Key_Question: return VK_OEM_2;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde: return VK_OEM_3;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft: return VK_OEM_4;
    case Qt::Key_Backslash:
    case Qt::Key_Bar: return VK_OEM_5;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight: return VK_OEM_6;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl: return VK_OEM_7;
    case Qt::Key_Less: return VK_OEM_COMMA;
    case Qt::Key_Greater: return VK_OEM_PERIOD;
    default: return 0;
  }
}

TShiftState ShiftStateOf(Qt::KeyboardModifiers mods, Qt::MouseButtons buttons) {
  TShiftState s;
  if (mods.testFlag(Qt::ShiftModifier)) s.Include(ssShift);
  if (mods.testFlag(Qt::ControlModifier)) s.Include(ssCtrl);
  if (mods.testFlag(Qt::AltModifier)) s.Include(ssAlt);
  if (buttons.testFlag(Qt::LeftButton)) s.Include(ssLeft);
  if (buttons.testFlag(Qt::RightButton)) s.Include(ssRight);
  if (buttons.testFlag(Qt::MiddleButton)) s.Include(ssMiddle);
  return s;
}

// ---------------------------------------------------------------------------
// Window scroll bars

// A window scroll bar: a QScrollBar whose user actions go to its control as
// classic scroll codes. Like a window scroll bar it takes no focus, and a
// release ends the scroll with SB_ENDSCROLL.
class TWindowScrollBar : public QScrollBar {
 public:
  TWindowScrollBar(Qt::Orientation o, TCustomControl* owner, int bar)
      : QScrollBar(o, owner), owner_(owner), bar_(bar) {
    setFocusPolicy(Qt::NoFocus);
    setTracking(true);
    hide();
    connect(this, &QAbstractSlider::actionTriggered, this,
            [this](int action) { owner_->ScrollAction(bar_, action); });
  }

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override {
    const bool dragged = isSliderDown();
    QScrollBar::mouseReleaseEvent(e);
    owner_->ScrollReleased(bar_, dragged);
  }
  // The wheel scrolls by lines, three a notch.
  void wheelEvent(QWheelEvent* e) override {
    QPoint d = e->angleDelta();
    int delta = d.y() != 0 ? d.y() : d.x();
    int lines = delta / 40;
    if (lines == 0) {
      e->ignore();
      return;
    }
    int code = lines > 0 ? SB_LINEUP : SB_LINEDOWN;
    for (int i = 0; i < std::abs(lines); ++i) owner_->ReportScroll(bar_, code, owner_->sb_[bar_].pos);
    owner_->ReportScroll(bar_, SB_ENDSCROLL, owner_->sb_[bar_].pos);
    e->accept();
  }

 private:
  TCustomControl* owner_;
  int bar_;
};

// ---------------------------------------------------------------------------
// TCustomControl

TCustomControl::TCustomControl(TComponent* AOwner, QWidget* parent) : QWidget(parent), TComponent(AOwner) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  canvas_ = std::make_unique<TCanvas>(&store_);
  if (auto* pc = dynamic_cast<TCustomControl*>(parent)) ctl3d_ = pc->Ctl3D();
  canvas_->Brush()->SetColor(color_);
  canvas_->Font()->Assign(font_);
  canvas_->OnDraw = [this] {
    if (!in_paint_) ScheduleBlit();
  };
  font_.OnChange = [this](TObject*) {
    canvas_->Font()->Assign(font_);
    Invalidate();
  };
  bars_[SB_HORZ] = new TWindowScrollBar(Qt::Horizontal, this, SB_HORZ);
  bars_[SB_VERT] = new TWindowScrollBar(Qt::Vertical, this, SB_VERT);
}

TCustomControl::~TCustomControl() {
  // Subscribers and owned components may still call on this control while
  // they let go of it: do that before any of its state goes away.
  BeginDestroy();
  DestroyComponents();
  for (auto& t : timers_) killTimer(t.second);
  timers_.clear();
  font_.OnChange = nullptr;
  canvas_->OnDraw = nullptr;
  delete bars_[SB_HORZ];
  delete bars_[SB_VERT];
  bars_[SB_HORZ] = bars_[SB_VERT] = nullptr;
}

void TCustomControl::SetParent(QWidget* p) {
  setParent(p);
  FollowParentCtl3D();
  if (p && visible_) show();
}

void TCustomControl::SetVisible(bool v) {
  visible_ = v;
  setVisible(v);
}

void TCustomControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  setGeometry(ALeft, ATop, std::max(AWidth, 0), std::max(AHeight, 0));
  // Hidden widgets get their resize event only when shown: lay out now.
  SyncGeometry();
}

QRect TCustomControl::ClientArea() const {
  const int b = BorderExtent();
  const int ext = GetScrollBarExtent();
  QRect inner = rect().adjusted(b, b, -b, -b);
  int w = std::max(0, inner.width() - (sb_[SB_VERT].visible ? ext : 0));
  int h = std::max(0, inner.height() - (sb_[SB_HORZ].visible ? ext : 0));
  return QRect(inner.left(), inner.top(), w, h);
}

TPoint TCustomControl::ClientToScreen(TPoint p) const {
  QPoint g = mapToGlobal(ClientArea().topLeft() + QPoint(p.x, p.y));
  return Point(g.x(), g.y());
}

TPoint TCustomControl::ScreenToClient(TPoint p) const {
  QPoint l = mapFromGlobal(QPoint(p.x, p.y)) - ClientArea().topLeft();
  return Point(l.x(), l.y());
}

QPoint TCustomControl::ToClient(QPointF widgetPos) const {
  QPoint p(int(std::floor(widgetPos.x())), int(std::floor(widgetPos.y())));
  return p - ClientArea().topLeft();
}

void TCustomControl::SetBorderStyle(TBorderStyle s) {
  if (s == border_style_) return;
  border_style_ = s;
  SyncGeometry();
  update();
}

void TCustomControl::SetCtl3D(bool on) {
  parent_ctl3d_ = false;
  ApplyCtl3D(on);
}

void TCustomControl::SetParentCtl3D(bool on) {
  parent_ctl3d_ = on;
  if (on) FollowParentCtl3D();
}

void TCustomControl::FollowParentCtl3D() {
  if (!parent_ctl3d_) return;
  auto* parent = dynamic_cast<TCustomControl*>(parentWidget());
  ApplyCtl3D(parent ? parent->Ctl3D() : true);
}

void TCustomControl::ApplyCtl3D(bool on) {
  if (on == ctl3d_) return;
  ctl3d_ = on;
  SyncGeometry();
  update();
  for (QObject* child : children())
    if (auto* c = dynamic_cast<TCustomControl*>(child)) c->FollowParentCtl3D();
}

void TCustomControl::SetColor(TColor c) {
  if (c == color_) return;
  color_ = c;
  canvas_->Brush()->SetColor(c);
  Invalidate();
}

void TCustomControl::SetCursor(TCursor c) {
  cursor_ = c;
  if (c == crDefault)
    unsetCursor();
  else
    setCursor(CursorFromId(c));
}

int TCustomControl::BorderExtent() const {
  if (border_style_ != bsSingle) return 0;
  return ctl3d_ ? 2 : 1;
}

void TCustomControl::PaintBorder(QPainter& p) {
  const int b = BorderExtent();
  if (b <= 0) return;
  const QRect r = rect();
  if (b == 1) {
    p.setPen(ColorToQColor(clWindowFrame));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(0, 0, -1, -1));
    return;
  }
  // Sunken edge: shadow above and left, highlight below and right, twice.
  auto edge = [&](QRect e, TColor tl, TColor br) {
    p.fillRect(QRect(e.left(), e.top(), e.width(), 1), ColorToQColor(tl));
    p.fillRect(QRect(e.left(), e.top(), 1, e.height()), ColorToQColor(tl));
    p.fillRect(QRect(e.left(), e.bottom(), e.width(), 1), ColorToQColor(br));
    p.fillRect(QRect(e.right(), e.top(), 1, e.height()), ColorToQColor(br));
  };
  edge(r, clBtnShadow, clBtnHighlight);
  edge(r.adjusted(1, 1, -1, -1), cl3DDkShadow, cl3DLight);
}

// ---------------------------------------------------------------------------
// Painting

void TCustomControl::EnsureStore() {
  const QSize want = ClientArea().size();
  if (store_.size() == want) return;
  canvas_->EndPaint();
  // Keep what is on the old image at the top left, as a window keeps its
  // pixels when it grows; the new area is erased and Paint is due.
  QImage old = std::move(store_);
  store_ = want.isEmpty() ? QImage() : QImage(want, QImage::Format_RGB32);
  if (!store_.isNull()) {
    store_.fill(ColorToQColor(color_));
    if (!old.isNull()) {
      QPainter p(&store_);
      p.setCompositionMode(QPainter::CompositionMode_Source);
      p.drawImage(0, 0, old);
    }
  }
  canvas_->SetImage(&store_);
  paint_pending_ = true;
}

void TCustomControl::RunPaint() {
  if (in_paint_) return;
  EnsureStore();
  paint_pending_ = false;
  if (store_.isNull()) return;
  canvas_->EndPaint();
  if (!opaque_) store_.fill(ColorToQColor(color_));
  in_paint_ = true;
  Guarded("Paint", [this] { Paint(); });
  in_paint_ = false;
  canvas_->EndPaint();
}

void TCustomControl::ScheduleBlit() {
  if (blit_pending_) return;
  blit_pending_ = true;
  update();
}

void TCustomControl::Invalidate() {
  paint_pending_ = true;
  update();
}

void TCustomControl::FlushPaint() {
  EnsureStore();
  if (!paint_pending_) return;
  RunPaint();
  ScheduleBlit();
}

void TCustomControl::Repaint() {
  paint_pending_ = true;
  FlushPaint();
}

TCanvas* TCustomControl::Canvas() {
  if (!in_paint_) EnsureStore();
  return canvas_.get();
}

const QImage& TCustomControl::ClientImage() {
  FlushPaint();
  canvas_->EndPaint();
  return store_;
}

void TCustomControl::PaintClientTo(TCanvas* dest, int x, int y) {
  if (!dest) return;
  const QImage& img = ClientImage();
  if (img.isNull()) return;
  dest->DrawImage(Rect(x, y, x + img.width(), y + img.height()), img, Rect(0, 0, img.width(), img.height()));
}

void TCustomControl::paintEvent(QPaintEvent*) {
  SyncGeometry();
  EnsureStore();
  // A paint cycle that was not asked for only to show canvas drawing (an
  // expose, a first show, an invalidation) runs Paint.
  if (paint_pending_ || !blit_pending_) RunPaint();
  blit_pending_ = false;
  canvas_->EndPaint();
  QPainter p(this);
  const QRect cr = ClientArea();
  if (!store_.isNull()) p.drawImage(cr.topLeft(), store_);
  if (sb_[SB_HORZ].visible && sb_[SB_VERT].visible) {
    const int b = BorderExtent();
    p.fillRect(QRect(QPoint(cr.right() + 1, cr.bottom() + 1), QPoint(width() - 1 - b, height() - 1 - b)),
               ColorToQColor(clBtnFace));
  }
  PaintBorder(p);
}

// ---------------------------------------------------------------------------
// Geometry

void TCustomControl::LayoutScrollBars() {
  const int b = BorderExtent();
  const QRect inner = rect().adjusted(b, b, -b, -b);
  const QRect cr = ClientArea();
  const int ext = GetScrollBarExtent();
  if (sb_[SB_VERT].visible)
    bars_[SB_VERT]->setGeometry(cr.right() + 1, inner.top(), std::min(ext, inner.width()), cr.height());
  if (sb_[SB_HORZ].visible)
    bars_[SB_HORZ]->setGeometry(inner.left(), cr.bottom() + 1, cr.width(), std::min(ext, inner.height()));
  for (int i = 0; i < 2; ++i) bars_[i]->setVisible(sb_[i].visible);
}

void TCustomControl::SyncGeometry() {
  LayoutScrollBars();
  EnsureStore();
  const QSize client = ClientArea().size();
  if (size() == reported_size_ && client == reported_client_) return;
  reported_size_ = size();
  reported_client_ = client;
  RequestWMSize();
}

void TCustomControl::RequestWMSize() {
  if (in_wmsize_) {
    wmsize_again_ = true;
    return;
  }
  in_wmsize_ = true;
  // A handler that changes the client area again (showing a scroll bar) is
  // told again, a bounded number of times.
  for (int round = 0; round < 4; ++round) {
    wmsize_again_ = false;
    Guarded("WMSize", [this] { WMSize(); });
    if (!wmsize_again_) break;
  }
  in_wmsize_ = false;
}

void TCustomControl::WMSize() {
  if (OnResize) OnResize(this);
}

void TCustomControl::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  SyncGeometry();
}

// ---------------------------------------------------------------------------
// Mouse and keyboard

void TCustomControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
}

void TCustomControl::MouseMove(TShiftState Shift, int X, int Y) {
  if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
}

void TCustomControl::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
}

void TCustomControl::Click() {
  if (OnClick) OnClick(this);
}

void TCustomControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

void TCustomControl::KeyDown(Word& Key, TShiftState Shift) {
  if (OnKeyDown) OnKeyDown(this, Key, Shift);
}

void TCustomControl::KeyUp(Word& Key, TShiftState Shift) {
  if (OnKeyUp) OnKeyUp(this, Key, Shift);
}

void TCustomControl::KeyPress(char& Key) {
  if (OnKeyPress) OnKeyPress(this, Key);
}

void TCustomControl::DoEnter() {
  if (OnEnter) OnEnter(this);
}

void TCustomControl::DoExit() {
  if (OnExit) OnExit(this);
}

bool TCustomControl::DoMouseWheel(TShiftState, int, int, int) { return false; }

void TCustomControl::mousePressEvent(QMouseEvent* e) {
  TMouseButton b;
  if (!ButtonOf(e->button(), b)) return;
  const QPoint c = ToClient(e->position());
  // Presses on the border belong to the frame, not to the client area.
  if (!QRect(QPoint(0, 0), ClientArea().size()).contains(c)) return;
  if (b == mbLeft) clicked_ = true;
  const TShiftState s = ShiftStateOf(e->modifiers(), e->buttons());
  Guarded("MouseDown", [&] { MouseDown(b, s, c.x(), c.y()); });
}

void TCustomControl::mouseMoveEvent(QMouseEvent* e) {
  const QPoint c = ToClient(e->position());
  // While a button is held the control has the mouse, wherever it goes.
  if (e->buttons() == Qt::NoButton && !QRect(QPoint(0, 0), ClientArea().size()).contains(c)) return;
  const TShiftState s = ShiftStateOf(e->modifiers(), e->buttons());
  Guarded("MouseMove", [&] { MouseMove(s, c.x(), c.y()); });
}

void TCustomControl::mouseReleaseEvent(QMouseEvent* e) {
  TMouseButton b;
  if (!ButtonOf(e->button(), b)) return;
  const QPoint c = ToClient(e->position());
  const TShiftState s = ShiftStateOf(e->modifiers(), e->buttons());
  if (b == mbLeft && clicked_) {
    clicked_ = false;
    if (QRect(QPoint(0, 0), ClientArea().size()).contains(c)) Guarded("Click", [this] { Click(); });
  }
  Guarded("MouseUp", [&] { MouseUp(b, s, c.x(), c.y()); });
}

void TCustomControl::mouseDoubleClickEvent(QMouseEvent* e) {
  TMouseButton b;
  if (!ButtonOf(e->button(), b)) return;
  const QPoint c = ToClient(e->position());
  if (!QRect(QPoint(0, 0), ClientArea().size()).contains(c)) return;
  clicked_ = false;
  TShiftState s = ShiftStateOf(e->modifiers(), e->buttons());
  s.Include(ssDouble);
  Guarded("MouseDown", [&] { MouseDown(b, s, c.x(), c.y()); });
  if (b == mbLeft) Guarded("DblClick", [this] { DblClick(); });
}

void TCustomControl::wheelEvent(QWheelEvent* e) {
  const QPoint c = ToClient(e->position());
  const TShiftState s = ShiftStateOf(e->modifiers(), e->buttons());
  const QPoint d = e->angleDelta();
  const int delta = d.y() != 0 ? d.y() : d.x();
  bool handled = false;
  Guarded("DoMouseWheel", [&] { handled = DoMouseWheel(s, delta, c.x(), c.y()); });
  if (handled)
    e->accept();
  else
    e->ignore();
}

namespace {
// Keys a dialog acts on when the focused control leaves them alone.
bool DialogKey(Word vk) { return vk == VK_ESCAPE || vk == VK_RETURN || vk == VK_TAB; }
}  // namespace

void TCustomControl::keyPressEvent(QKeyEvent* e) {
  const Word vk = QtKeyToVK(e->key(), e->modifiers());
  const TShiftState s = ShiftStateOf(e->modifiers(), Qt::NoButton);
  Word key = vk;
  if (key) Guarded("KeyDown", [&] { KeyDown(key, s); });
  bool handled = vk != 0 && key == 0;
  if (!handled && !e->text().isEmpty()) {
    char ch = e->text().at(0).toLatin1();
    if (ch) {
      Guarded("KeyPress", [&] { KeyPress(ch); });
      handled = ch == 0;
    }
  }
  if (!handled && DialogKey(vk))
    e->ignore();
  else
    e->accept();
}

void TCustomControl::keyReleaseEvent(QKeyEvent* e) {
  const Word vk = QtKeyToVK(e->key(), e->modifiers());
  Word key = vk;
  if (key) Guarded("KeyUp", [&] { KeyUp(key, ShiftStateOf(e->modifiers(), Qt::NoButton)); });
  if (key != 0 && DialogKey(vk))
    e->ignore();
  else
    e->accept();
}

void TCustomControl::focusInEvent(QFocusEvent* e) {
  QWidget::focusInEvent(e);
  Guarded("DoEnter", [this] { DoEnter(); });
}

void TCustomControl::focusOutEvent(QFocusEvent* e) {
  QWidget::focusOutEvent(e);
  Guarded("DoExit", [this] { DoExit(); });
}

// ---------------------------------------------------------------------------
// Timers

bool TCustomControl::SetTimer(int id, int ms) {
  KillTimer(id);
  // Window timers do not run faster than every 10 ms; a 0 ms Qt timer would
  // fire on every pass of the event loop.
  const int q = startTimer(std::max(ms, 10));
  if (q == 0) return false;
  timers_[id] = q;
  return true;
}

bool TCustomControl::KillTimer(int id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return false;
  killTimer(it->second);
  timers_.erase(it);
  return true;
}

void TCustomControl::timerEvent(QTimerEvent* e) {
  for (const auto& t : timers_) {
    if (t.second == e->timerId()) {
      const int id = t.first;  // the handler may change the table
      Guarded("WMTimer", [&] { WMTimer(id); });
      return;
    }
  }
  QWidget::timerEvent(e);
}

// ---------------------------------------------------------------------------
// Scroll bar state

int TCustomControl::MaxScrollPos(int bar) const {
  const ScrollState& s = sb_[bar];
  const int page = int(std::min<unsigned>(s.page, unsigned(INT32_MAX)));
  const int64_t m = int64_t(s.max) - std::max(page - 1, 0);
  return int(std::max<int64_t>(m, s.min));
}

void TCustomControl::SyncBar(int bar) {
  ScrollState& s = sb_[bar];
  QScrollBar* q = bars_[bar];
  const int maxpos = MaxScrollPos(bar);
  q->setRange(s.min, maxpos);
  q->setPageStep(int(std::clamp<unsigned>(s.page, 1u, unsigned(INT32_MAX))));
  q->setSingleStep(1);
  q->setValue(s.pos);
  q->setEnabled(s.enabled && maxpos > s.min);
}

void TCustomControl::SetBarVisible(int bar, bool on) {
  if (sb_[bar].visible == on) return;
  sb_[bar].visible = on;
  SyncGeometry();
  update();
}

int TCustomControl::SetScrollInfo(int bar, const TScrollInfo& si, bool) {
  if (bar != SB_HORZ && bar != SB_VERT) return 0;
  ScrollState& s = sb_[bar];
  if (si.fMask & SIF_RANGE) {
    s.min = si.nMin;
    s.max = std::max(si.nMax, si.nMin);
  }
  if (si.fMask & SIF_PAGE) s.page = si.nPage;
  // The page never exceeds the range.
  const uint64_t span = uint64_t(int64_t(s.max) - s.min) + 1;
  if (s.page > span) s.page = unsigned(span);
  if (si.fMask & SIF_POS) s.pos = si.nPos;
  s.pos = std::clamp(s.pos, s.min, MaxScrollPos(bar));
  if (si.fMask & (SIF_RANGE | SIF_PAGE)) {
    const bool scrollable = MaxScrollPos(bar) > s.min;
    s.enabled = scrollable;
    SyncBar(bar);
    SetBarVisible(bar, scrollable || (si.fMask & SIF_DISABLENOSCROLL) != 0);
  } else {
    SyncBar(bar);
  }
  return s.pos;
}

bool TCustomControl::GetScrollInfo(int bar, TScrollInfo& si) const {
  if (bar != SB_HORZ && bar != SB_VERT) return false;
  const ScrollState& s = sb_[bar];
  if (si.fMask & SIF_RANGE) {
    si.nMin = s.min;
    si.nMax = s.max;
  }
  if (si.fMask & SIF_PAGE) si.nPage = s.page;
  if (si.fMask & SIF_POS) si.nPos = s.pos;
  if (si.fMask & SIF_TRACKPOS) si.nTrackPos = s.track;
  return true;
}

int TCustomControl::SetScrollPos(int bar, int pos, bool redraw) {
  if (bar != SB_HORZ && bar != SB_VERT) return 0;
  const int old = sb_[bar].pos;
  TScrollInfo si;
  si.fMask = SIF_POS;
  si.nPos = pos;
  SetScrollInfo(bar, si, redraw);
  return old;
}

int TCustomControl::GetScrollPos(int bar) const {
  return bar == SB_HORZ || bar == SB_VERT ? sb_[bar].pos : 0;
}

bool TCustomControl::SetScrollRange(int bar, int min, int max, bool redraw) {
  if (bar != SB_HORZ && bar != SB_VERT) return false;
  TScrollInfo si;
  si.fMask = SIF_RANGE;
  si.nMin = min;
  si.nMax = max;
  SetScrollInfo(bar, si, redraw);
  return true;
}

bool TCustomControl::GetScrollRange(int bar, int* min, int* max) const {
  if (bar != SB_HORZ && bar != SB_VERT) return false;
  if (min) *min = sb_[bar].min;
  if (max) *max = sb_[bar].max;
  return true;
}

bool TCustomControl::ShowScrollBar(int bar, bool show) {
  if (bar == SB_BOTH) {
    // One layout pass for both bars.
    if (sb_[SB_HORZ].visible == show && sb_[SB_VERT].visible == show) return true;
    sb_[SB_HORZ].visible = sb_[SB_VERT].visible = show;
    SyncGeometry();
    update();
    return true;
  }
  if (bar != SB_HORZ && bar != SB_VERT) return false;
  SetBarVisible(bar, show);
  return true;
}

bool TCustomControl::ScrollBarVisible(int bar) const {
  return (bar == SB_HORZ || bar == SB_VERT) && sb_[bar].visible;
}

QWidget* TCustomControl::WindowScrollBar(int bar) const {
  return bar == SB_HORZ || bar == SB_VERT ? bars_[bar] : nullptr;
}

// ---------------------------------------------------------------------------
// User scrolling

void TCustomControl::ReportScroll(int bar, int code, int pos) {
  Guarded("scroll handler", [&] {
    if (bar == SB_HORZ)
      WMHScroll(code, pos);
    else
      WMVScroll(code, pos);
  });
}

void TCustomControl::ScrollAction(int bar, int action) {
  QScrollBar* q = bars_[bar];
  ScrollState& s = sb_[bar];
  int code = -1;
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd: code = SB_LINEDOWN; break;
    case QAbstractSlider::SliderSingleStepSub: code = SB_LINEUP; break;
    case QAbstractSlider::SliderPageStepAdd: code = SB_PAGEDOWN; break;
    case QAbstractSlider::SliderPageStepSub: code = SB_PAGEUP; break;
    case QAbstractSlider::SliderToMinimum: code = SB_TOP; break;
    case QAbstractSlider::SliderToMaximum: code = SB_BOTTOM; break;
    case QAbstractSlider::SliderMove: code = SB_THUMBTRACK; break;
    default: return;
  }
  if (code == SB_THUMBTRACK) {
    // The dragged thumb follows the mouse; the handler decides the position.
    s.track = q->sliderPosition();
    ReportScroll(bar, code, s.track);
    return;
  }
  // A window scroll bar does not move by itself: undo Qt's step and let the
  // handler set the position (Qt applies sliderPosition after this slot).
  q->setSliderPosition(s.pos);
  ReportScroll(bar, code, s.pos);
  q->setSliderPosition(s.pos);
}

void TCustomControl::ScrollReleased(int bar, bool dragged) {
  if (dragged) ReportScroll(bar, SB_THUMBPOSITION, sb_[bar].track);
  ReportScroll(bar, SB_ENDSCROLL, sb_[bar].pos);
  // The thumb rests where the handler put the position.
  SyncBar(bar);
}

// ---------------------------------------------------------------------------

HWND KVFindHandle(TComponent* c) {
  for (TComponent* p = c; p; p = p->Owner())
    if (auto* ctl = dynamic_cast<TCustomControl*>(p)) return ctl->Handle();
  return nullptr;
}

}  // namespace korvane
