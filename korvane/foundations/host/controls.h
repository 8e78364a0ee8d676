// Windowed custom controls of the host layer. TCustomControl is a QWidget
// that speaks the classic control vocabulary: Paint on a Canvas, mouse and
// key handlers with shift states and virtual key codes, window timers, window
// scroll bars reporting classic scroll codes, borders, colors and cursors.
#pragma once
#include <QImage>
#include <QWidget>
#include <concepts>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/object.h"
#include "korvane/foundations/host/winsys.h"

class QPainter;

namespace korvane {

using Word = uint16_t;
// A window handle: the control's widget, valid for the control's lifetime.
using HWND = QWidget*;

enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftStateItem { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = TSet<TShiftStateItem>;
// Enumerations of control properties live in a nested namespace that
// registers them with Qt's meta-object system (so property editors such as
// Designer's list their values); the using-directive keeps them reachable as
// korvane::TBorderStyle. Each header that publishes enumerations has its own
// such namespace, since a namespace takes Q_NAMESPACE once.
namespace control_enums {
Q_NAMESPACE
enum TBorderStyle { bsNone, bsSingle };
Q_ENUM_NS(TBorderStyle)
}  // namespace control_enums
using namespace control_enums;

using TMouseEvent =
    std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
using TKeyEvent = std::function<void(TObject* Sender, Word& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TObject* Sender, char& Key)>;

// Virtual key codes. Letters and digits are their upper-case ASCII codes
// ('A' .. 'Z', '0' .. '9').
constexpr Word VK_LBUTTON = 0x01;
constexpr Word VK_RBUTTON = 0x02;
constexpr Word VK_CANCEL = 0x03;
constexpr Word VK_MBUTTON = 0x04;
constexpr Word VK_BACK = 0x08;
constexpr Word VK_TAB = 0x09;
constexpr Word VK_CLEAR = 0x0C;
constexpr Word VK_RETURN = 0x0D;
constexpr Word VK_SHIFT = 0x10;
constexpr Word VK_CONTROL = 0x11;
constexpr Word VK_MENU = 0x12;
constexpr Word VK_PAUSE = 0x13;
constexpr Word VK_CAPITAL = 0x14;
constexpr Word VK_ESCAPE = 0x1B;
constexpr Word VK_SPACE = 0x20;
constexpr Word VK_PRIOR = 0x21;
constexpr Word VK_NEXT = 0x22;
constexpr Word VK_END = 0x23;
constexpr Word VK_HOME = 0x24;
constexpr Word VK_LEFT = 0x25;
constexpr Word VK_UP = 0x26;
constexpr Word VK_RIGHT = 0x27;
constexpr Word VK_DOWN = 0x28;
constexpr Word VK_SELECT = 0x29;
constexpr Word VK_PRINT = 0x2A;
constexpr Word VK_EXECUTE = 0x2B;
constexpr Word VK_SNAPSHOT = 0x2C;
constexpr Word VK_INSERT = 0x2D;
constexpr Word VK_DELETE = 0x2E;
constexpr Word VK_HELP = 0x2F;
constexpr Word VK_LWIN = 0x5B;
constexpr Word VK_RWIN = 0x5C;
constexpr Word VK_APPS = 0x5D;
constexpr Word VK_NUMPAD0 = 0x60;  // .. VK_NUMPAD9 = 0x69
constexpr Word VK_MULTIPLY = 0x6A;
constexpr Word VK_ADD = 0x6B;
constexpr Word VK_SEPARATOR = 0x6C;
constexpr Word VK_SUBTRACT = 0x6D;
constexpr Word VK_DECIMAL = 0x6E;
constexpr Word VK_DIVIDE = 0x6F;
constexpr Word VK_F1 = 0x70;  // .. VK_F24 = 0x87
constexpr Word VK_F2 = 0x71;
constexpr Word VK_F3 = 0x72;
constexpr Word VK_F4 = 0x73;
constexpr Word VK_F5 = 0x74;
constexpr Word VK_F6 = 0x75;
constexpr Word VK_F7 = 0x76;
constexpr Word VK_F8 = 0x77;
constexpr Word VK_F9 = 0x78;
constexpr Word VK_F10 = 0x79;
constexpr Word VK_F11 = 0x7A;
constexpr Word VK_F12 = 0x7B;
constexpr Word VK_NUMLOCK = 0x90;
constexpr Word VK_SCROLL = 0x91;
constexpr Word VK_OEM_1 = 0xBA;  // ;:
constexpr Word VK_OEM_PLUS = 0xBB;
constexpr Word VK_OEM_COMMA = 0xBC;
constexpr Word VK_OEM_MINUS = 0xBD;
constexpr Word VK_OEM_PERIOD = 0xBE;
constexpr Word VK_OEM_2 = 0xBF;  // /?
constexpr Word VK_OEM_3 = 0xC0;  // `~
constexpr Word VK_OEM_4 = 0xDB;  // [{
constexpr Word VK_OEM_5 = 0xDC;  // \|
constexpr Word VK_OEM_6 = 0xDD;  // ]}
constexpr Word VK_OEM_7 = 0xDE;  // '"

// The virtual key of a Qt key (keypad digits and operators become the
// VK_NUMPAD keys when the keypad modifier is set); 0 for keys without one.
Word QtKeyToVK(int key, Qt::KeyboardModifiers mods);
// Shift state of Qt modifiers and held mouse buttons.
TShiftState ShiftStateOf(Qt::KeyboardModifiers mods, Qt::MouseButtons buttons);

class TWindowScrollBar;

// The parent argument of Qt form code: uic writes `new TKorvaneView(parent)`
// with the parent widget alone, which the controls take through a
// constructor template constrained to this. A component argument (a
// control) keeps the (owner, parent) reading.
template <typename P>
concept KVFormParent = std::derived_from<P, QWidget> && !std::derived_from<P, TComponent>;

// A set as Qt flags whose item bits are 1 << enumerator (the flags' value is
// the set's mask), and back: sets published as flags properties hold such a
// Q_FLAG type beside them.
template <typename Flags, typename E>
Flags KVSetToFlags(TSet<E> s) {
  return Flags::fromInt(typename Flags::Int(s.Mask()));
}
template <typename E, typename Flags>
TSet<E> KVFlagsToSet(Flags f) {
  return TSet<E>::FromMask(uint64_t(unsigned(f.toInt())));
}

// Declares Name##QColor() and Set##Name##QColor(), the QColor twins of a
// TColor property's getter and setter, for Q_PROPERTY(QColor Name ...):
// property editors and forms speak QColor. Reading gives the RGB value
// (system colors resolved).
#define KV_QCOLOR_ACCESSORS(Name, Getter, Setter)                                  \
  QColor Name##QColor() const { return ::korvane::ColorToQColor(Getter()); }     \
  void Set##Name##QColor(const QColor& c) { Setter(::korvane::QColorToColor(c)); }

// A windowed control drawn by its own Paint.
//
// Painting: the control keeps a backing image of the client size that its
// Canvas draws on. Invalidate marks the control for painting; the next paint
// cycle erases the image with Color (unless the control is opaque), calls
// Paint, and shows the image. Drawing on the Canvas outside Paint (from a
// timer or a mouse handler) is shown at the next paint cycle without calling
// Paint. Repaint, ClientImage and PaintClientTo run a pending Paint at once,
// so a control works without ever being shown.
//
// Coordinates given to the mouse handlers and used by the Canvas are client
// coordinates: (0, 0) is the top-left pixel inside the border.
//
// Ownership: the owner component frees the control; a control deleted by its
// Qt parent first leaves its owner. The destructor notifies subscribers and
// frees the owned components while the control's own state is still intact.
class TCustomControl : public QWidget, public TComponent {
  Q_OBJECT
  Q_PROPERTY(korvane::control_enums::TBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
  Q_PROPERTY(bool Ctl3D READ Ctl3D WRITE SetCtl3D)
  Q_PROPERTY(bool ParentCtl3D READ ParentCtl3D WRITE SetParentCtl3D)
  Q_PROPERTY(QColor Color READ ColorQColor WRITE SetColorQColor)

 public:
  explicit TCustomControl(TComponent* AOwner, QWidget* parent = nullptr);
  ~TCustomControl() override;

  // Window handle.
  HWND Handle() { return this; }
  bool HandleAllocated() const { return true; }
  QWidget* Parent() const { return parentWidget(); }
  // Reparents the control and shows it there when it is Visible.
  virtual void SetParent(QWidget* p);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);

  // Outer geometry (in the parent's coordinates; on screen for a window).
  int Left() const { return geometry().x(); }
  int Top() const { return geometry().y(); }
  int Width() const { return width(); }
  int Height() const { return height(); }
  virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
  // Client area: the outer size less the border and the visible window scroll bars.
  int ClientWidth() const { return ClientArea().width(); }
  int ClientHeight() const { return ClientArea().height(); }
  TRect ClientRect() const { return Rect(0, 0, ClientWidth(), ClientHeight()); }
  // The client area in widget coordinates.
  QRect ClientArea() const;
  TPoint ClientToScreen(TPoint p) const;
  TPoint ScreenToClient(TPoint p) const;

  // Appearance.
  TBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TBorderStyle s);
  bool Ctl3D() const { return ctl3d_; }
  // Setting Ctl3D explicitly stops following the parent.
  void SetCtl3D(bool on);
  // While true, Ctl3D follows the parent control's Ctl3D (a parent that is
  // not a control counts as true).
  bool ParentCtl3D() const { return parent_ctl3d_; }
  void SetParentCtl3D(bool on);
  TColor Color() const { return color_; }
  void SetColor(TColor c);
  KV_QCOLOR_ACCESSORS(Color, Color, SetColor)
  TCursor Cursor() const { return cursor_; }
  // Shows the cursor registered under the identifier (winsys cursor table).
  void SetCursor(TCursor c);
  TFont* Font() { return &font_; }
  // An opaque control paints every client pixel itself: no erase before Paint.
  bool Opaque() const { return opaque_; }
  void SetOpaque(bool on) { opaque_ = on; }

  // Focus.
  bool Focused() const { return hasFocus(); }
  void SetFocus() { setFocus(Qt::OtherFocusReason); }
  bool TabStop() const { return focusPolicy() == Qt::StrongFocus; }
  void SetTabStop(bool on) { setFocusPolicy(on ? Qt::StrongFocus : Qt::ClickFocus); }
  bool Enabled() const { return isEnabled(); }
  void SetEnabled(bool on) { setEnabled(on); }

  // Painting.
  TCanvas* Canvas();
  virtual void Invalidate();
  // Paints now (into the backing image) and shows the result.
  void Repaint();
  // Runs a pending Paint now.
  void FlushPaint();
  // True while Paint runs.
  bool Painting() const { return in_paint_; }
  // The backing image (client size, RGB32) after any pending Paint.
  const QImage& ClientImage();
  // Draws the client area, after any pending Paint, at (x, y) of a canvas.
  void PaintClientTo(TCanvas* dest, int x, int y);

  // Window timers: WMTimer(id) every ms milliseconds (at least 10) until
  // KillTimer(id). Setting a running id restarts it. SetTimer is false when
  // no timer could be started; KillTimer is false for an id not running.
  bool SetTimer(int id, int ms);
  bool KillTimer(int id);
  bool TimerActive(int id) const { return timers_.count(id) != 0; }

  // Window scroll bars (SB_HORZ, SB_VERT; SB_BOTH where it makes sense).
  // Setting the range or page shows the bar when its range allows scrolling
  // and hides it otherwise (SIF_DISABLENOSCROLL keeps it, disabled). Showing
  // or hiding a bar changes the client area, which WMSize reports.
  int SetScrollInfo(int bar, const TScrollInfo& si, bool redraw = true);  // returns the position
  bool GetScrollInfo(int bar, TScrollInfo& si) const;
  int SetScrollPos(int bar, int pos, bool redraw = true);  // returns the previous position
  int GetScrollPos(int bar) const;
  bool SetScrollRange(int bar, int min, int max, bool redraw = true);
  bool GetScrollRange(int bar, int* min, int* max) const;
  bool ShowScrollBar(int bar, bool show);
  bool ScrollBarVisible(int bar) const;
  // The widget of a window scroll bar (for tests and styling).
  QWidget* WindowScrollBar(int bar) const;

  // Framework handlers, called from the Qt events. The defaults fire the
  // matching On* event.
  virtual void Paint() {}
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void MouseMove(TShiftState Shift, int X, int Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
  // Left button released inside the client area after a press on it.
  virtual void Click();
  // Left double click; called after the MouseDown (with ssDouble) of the
  // second press.
  virtual void DblClick();
  // Setting Key to 0 marks the key handled (and suppresses KeyPress).
  virtual void KeyDown(Word& Key, TShiftState Shift);
  virtual void KeyUp(Word& Key, TShiftState Shift);
  virtual void KeyPress(char& Key);
  // The control or its client area changed size. A change that happens while
  // WMSize runs is reported once more after it returns, never nested.
  virtual void WMSize();
  virtual void WMTimer(int id) { (void)id; }
  virtual void DoEnter();
  virtual void DoExit();
  // User scrolling on a window scroll bar with a classic code; pos is the
  // thumb position for SB_THUMBTRACK/SB_THUMBPOSITION and the bar's position
  // otherwise. The bar does not move by itself (except the dragged thumb):
  // the handler sets the new position with SetScrollPos.
  virtual void WMHScroll(int code, int pos) { (void)code, (void)pos; }
  virtual void WMVScroll(int code, int pos) { (void)code, (void)pos; }
  // Mouse wheel (delta in 1/8 degree, 120 a notch); true when handled.
  // Unhandled wheel events go to the parent widget.
  virtual bool DoMouseWheel(TShiftState Shift, int WheelDelta, int X, int Y);

  TNotifyEvent OnClick, OnDblClick, OnEnter, OnExit, OnResize;
  TMouseEvent OnMouseDown, OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TKeyEvent OnKeyDown, OnKeyUp;
  TKeyPressEvent OnKeyPress;

 protected:
  // Width of the frame around the client area and its drawing; a single
  // border is a 2-pixel sunken edge with Ctl3D, else a 1-pixel line.
  virtual int BorderExtent() const;
  virtual void PaintBorder(QPainter& p);
  // Lays out the border, scroll bars and backing image after a geometry
  // change, and calls WMSize when the outer or client size changed.
  void SyncGeometry();

  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void timerEvent(QTimerEvent* e) override;

 private:
  friend class TWindowScrollBar;
  struct ScrollState {
    int min = 0;
    int max = 0;
    unsigned page = 0;
    int pos = 0;
    int track = 0;
    bool visible = false;
    bool enabled = true;
  };

  void EnsureStore();
  void RunPaint();
  void ScheduleBlit();
  void RequestWMSize();
  void LayoutScrollBars();
  void SetBarVisible(int bar, bool on);
  int MaxScrollPos(int bar) const;
  void SyncBar(int bar);
  void ScrollAction(int bar, int action);
  void ScrollReleased(int bar, bool dragged);
  void ReportScroll(int bar, int code, int pos);
  QPoint ToClient(QPointF widgetPos) const;

  QImage store_;
  std::unique_ptr<TCanvas> canvas_;
  bool paint_pending_ = true;
  bool blit_pending_ = false;
  bool in_paint_ = false;
  bool opaque_ = false;
  bool visible_ = true;

  TBorderStyle border_style_ = bsNone;
  bool ctl3d_ = true;
  bool parent_ctl3d_ = true;
  void ApplyCtl3D(bool on);
  void FollowParentCtl3D();
  TColor color_ = clBtnFace;
  TCursor cursor_ = crDefault;
  TFont font_;

  std::map<int, int> timers_;  // framework id -> Qt timer id

  ScrollState sb_[2];
  TWindowScrollBar* bars_[2] = {nullptr, nullptr};

  QSize reported_size_{-1, -1};
  QSize reported_client_{-1, -1};
  bool in_wmsize_ = false;
  bool wmsize_again_ = false;

  bool clicked_ = false;  // left press inside the client area, waiting for its release
};

// The handle of the first windowed control met walking from the component
// up through its owners (the component itself first); null when none is.
HWND KVFindHandle(TComponent* c);

}  // namespace korvane
