/// \file
/// Windowed custom controls of the host layer. TCustomControl is a QWidget
/// that speaks the classic control vocabulary: Paint on a Canvas, mouse and
/// key handlers with shift states and virtual key codes, window timers, window
/// scroll bars reporting classic scroll codes, borders, colors and cursors.
#pragma once
#include <QImage>
#include <QWidget>
#include <concepts>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/object.h"
#include "korvane/foundations/host/winsys.h"

class QPainter;

namespace korvane {

/// A 16-bit unsigned value: the type of virtual key codes.
using Word = uint16_t;
/// A window handle: the control's widget, valid for the control's lifetime.
using HWND = QWidget*;

/// The mouse button a press or release is about.
enum TMouseButton { mbLeft, mbRight, mbMiddle };
/// What was held during an input event: Shift, Alt or Ctrl, the left, right or middle button;
/// ssDouble marks the second press of a double click.
enum TShiftStateItem { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
/// The keys and buttons held during an input event.
using TShiftState = TSet<TShiftStateItem>;
// Enumerations of control properties live in a nested namespace that
// registers them with Qt's meta-object system (so property editors such as
// Designer's list their values); the using-directive keeps them reachable as
// korvane::TBorderStyle. Each header that publishes enumerations has its own
// such namespace, since a namespace takes Q_NAMESPACE once.
namespace control_enums {
Q_NAMESPACE_EXPORT(KORVANE_EXPORT)
/// The frame of a control: none, or a single border (see TCustomControl::BorderExtent).
enum TBorderStyle { bsNone, bsSingle };
Q_ENUM_NS(TBorderStyle)
}  // namespace control_enums
using namespace control_enums;

/// A mouse button handler: the control, the button, what was held and the point in client
/// coordinates.
using TMouseEvent =
    std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
/// A mouse move handler: the control, what was held and the point in client coordinates.
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
/// A key down or up handler: the control, the virtual key (set it to 0 to mark the key handled)
/// and what was held.
using TKeyEvent = std::function<void(TObject* Sender, Word& Key, TShiftState Shift)>;
/// A character handler: the control and the typed Latin-1 character (set it to 0 to mark it handled).
using TKeyPressEvent = std::function<void(TObject* Sender, char& Key)>;

/// Virtual key codes. Letters and digits are their upper-case ASCII codes
/// ('A' .. 'Z', '0' .. '9').
constexpr Word VK_LBUTTON = 0x01;
constexpr Word VK_RBUTTON = 0x02;  ///< Right mouse button.
constexpr Word VK_CANCEL = 0x03;  ///< Control-break.
constexpr Word VK_MBUTTON = 0x04;  ///< Middle mouse button.
constexpr Word VK_BACK = 0x08;  ///< Backspace.
constexpr Word VK_TAB = 0x09;  ///< Tab (and Backtab).
constexpr Word VK_CLEAR = 0x0C;  ///< Clear.
constexpr Word VK_RETURN = 0x0D;  ///< Return and keypad Enter.
constexpr Word VK_SHIFT = 0x10;  ///< Either Shift key.
constexpr Word VK_CONTROL = 0x11;  ///< Either Ctrl key.
constexpr Word VK_MENU = 0x12;  ///< Either Alt key.
constexpr Word VK_PAUSE = 0x13;  ///< Pause.
constexpr Word VK_CAPITAL = 0x14;  ///< Caps Lock.
constexpr Word VK_ESCAPE = 0x1B;  ///< Escape.
constexpr Word VK_SPACE = 0x20;  ///< Space bar.
constexpr Word VK_PRIOR = 0x21;  ///< Page Up.
constexpr Word VK_NEXT = 0x22;  ///< Page Down.
constexpr Word VK_END = 0x23;  ///< End.
constexpr Word VK_HOME = 0x24;  ///< Home.
constexpr Word VK_LEFT = 0x25;  ///< Left arrow.
constexpr Word VK_UP = 0x26;  ///< Up arrow.
constexpr Word VK_RIGHT = 0x27;  ///< Right arrow.
constexpr Word VK_DOWN = 0x28;  ///< Down arrow.
constexpr Word VK_SELECT = 0x29;  ///< Select.
constexpr Word VK_PRINT = 0x2A;  ///< Print (Qt's Print key gives VK_SNAPSHOT).
constexpr Word VK_EXECUTE = 0x2B;  ///< Execute.
constexpr Word VK_SNAPSHOT = 0x2C;  ///< Print Screen.
constexpr Word VK_INSERT = 0x2D;  ///< Insert.
constexpr Word VK_DELETE = 0x2E;  ///< Delete.
constexpr Word VK_HELP = 0x2F;  ///< Help.
constexpr Word VK_LWIN = 0x5B;  ///< Left logo (Super or Meta) key.
constexpr Word VK_RWIN = 0x5C;  ///< Right logo key.
constexpr Word VK_APPS = 0x5D;  ///< Context menu key.
constexpr Word VK_NUMPAD0 = 0x60;  ///< .. VK_NUMPAD9 = 0x69
constexpr Word VK_MULTIPLY = 0x6A;  ///< Keypad *.
constexpr Word VK_ADD = 0x6B;  ///< Keypad +.
constexpr Word VK_SEPARATOR = 0x6C;  ///< Keypad separator (keypad comma).
constexpr Word VK_SUBTRACT = 0x6D;  ///< Keypad -.
constexpr Word VK_DECIMAL = 0x6E;  ///< Keypad decimal point.
constexpr Word VK_DIVIDE = 0x6F;  ///< Keypad /.
constexpr Word VK_F1 = 0x70;  ///< .. VK_F24 = 0x87
constexpr Word VK_F2 = 0x71;  ///< F2.
constexpr Word VK_F3 = 0x72;  ///< F3.
constexpr Word VK_F4 = 0x73;  ///< F4.
constexpr Word VK_F5 = 0x74;  ///< F5.
constexpr Word VK_F6 = 0x75;  ///< F6.
constexpr Word VK_F7 = 0x76;  ///< F7.
constexpr Word VK_F8 = 0x77;  ///< F8.
constexpr Word VK_F9 = 0x78;  ///< F9.
constexpr Word VK_F10 = 0x79;  ///< F10.
constexpr Word VK_F11 = 0x7A;  ///< F11.
constexpr Word VK_F12 = 0x7B;  ///< F12.
constexpr Word VK_NUMLOCK = 0x90;  ///< Num Lock.
constexpr Word VK_SCROLL = 0x91;  ///< Scroll Lock.
constexpr Word VK_OEM_1 = 0xBA;  ///< ;:
constexpr Word VK_OEM_PLUS = 0xBB;  ///< The =+ key.
constexpr Word VK_OEM_COMMA = 0xBC;  ///< The comma key (also for `<`).
constexpr Word VK_OEM_MINUS = 0xBD;  ///< The -_ key.
constexpr Word VK_OEM_PERIOD = 0xBE;  ///< The period key (also for `>`).
constexpr Word VK_OEM_2 = 0xBF;  ///< /?
constexpr Word VK_OEM_3 = 0xC0;  ///< `~
constexpr Word VK_OEM_4 = 0xDB;  ///< [{
constexpr Word VK_OEM_5 = 0xDC;  ///< \|
constexpr Word VK_OEM_6 = 0xDD;  ///< ]}
constexpr Word VK_OEM_7 = 0xDE;  ///< '"

/// The virtual key of a Qt key (keypad digits and operators become the
/// VK_NUMPAD keys when the keypad modifier is set); 0 for keys without one.
KORVANE_EXPORT Word QtKeyToVK(int key, Qt::KeyboardModifiers mods);
/// Shift state of Qt modifiers and held mouse buttons.
KORVANE_EXPORT TShiftState ShiftStateOf(Qt::KeyboardModifiers mods, Qt::MouseButtons buttons);

class TWindowScrollBar;

/// The parent argument of Qt form code: uic writes `new TKorvaneView(parent)`
/// with the parent widget alone, which the controls take through a
/// constructor template constrained to this. A component argument (a
/// control) keeps the (owner, parent) reading.
template <typename P>
concept KVFormParent = std::derived_from<P, QWidget> && !std::derived_from<P, TComponent>;

/// A set as Qt flags whose item bits are `1 << enumerator` (the flags' value is
/// the set's mask): sets published as flags properties hold such a Q_FLAG type
/// beside them.
template <typename Flags, typename E>
Flags KVSetToFlags(TSet<E> s) {
  return Flags::fromInt(typename Flags::Int(s.Mask()));
}
/// Qt flags back to the set they stand for (the inverse of KVSetToFlags).
template <typename E, typename Flags>
TSet<E> KVFlagsToSet(Flags f) {
  return TSet<E>::FromMask(uint64_t(unsigned(f.toInt())));
}

/// Declares `Name##QColor()` and `Set##Name##QColor()`, the QColor twins of a
/// TColor property's getter and setter, for `Q_PROPERTY(QColor Name ...)`:
/// property editors and forms speak QColor. Reading gives the RGB value
/// (system colors resolved).
#define KV_QCOLOR_ACCESSORS(Name, Getter, Setter)                                  \
  QColor Name##QColor() const { return ::korvane::ColorToQColor(Getter()); }     \
  void Set##Name##QColor(const QColor& c) { Setter(::korvane::QColorToColor(c)); }

/// A windowed control drawn by its own Paint.
///
/// Painting: the control keeps a backing image of the client size that its
/// Canvas draws on. Invalidate marks the control for painting; the next paint
/// cycle erases the image with Color (unless the control is opaque), calls
/// Paint, and shows the image. Drawing on the Canvas outside Paint (from a
/// timer or a mouse handler) is shown at the next paint cycle without calling
/// Paint. Repaint, ClientImage and PaintClientTo run a pending Paint at once,
/// so a control works without ever being shown.
///
/// Coordinates given to the mouse handlers and used by the Canvas are client
/// coordinates: (0, 0) is the top-left pixel inside the border.
///
/// Ownership: the owner component frees the control; a control deleted by its
/// Qt parent first leaves its owner. The destructor notifies subscribers and
/// frees the owned components while the control's own state is still intact.
class KORVANE_EXPORT TCustomControl : public QWidget, public TComponent {
  Q_OBJECT
  Q_PROPERTY(korvane::control_enums::TBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
  Q_PROPERTY(bool Ctl3D READ Ctl3D WRITE SetCtl3D)
  Q_PROPERTY(bool ParentCtl3D READ ParentCtl3D WRITE SetParentCtl3D)
  Q_PROPERTY(QColor Color READ ColorQColor WRITE SetColorQColor)

 public:
  /// A borderless, click-focus control in clBtnFace with Visible true, owned by AOwner (which frees
  /// it) and a child of parent (a top-level window without one); a parent control lends its Ctl3D.
  explicit TCustomControl(TComponent* AOwner, QWidget* parent = nullptr);
  /// Notifies subscribers and frees the owned components first, then stops the timers and
  /// deletes the scroll bars.
  ~TCustomControl() override;

  /// Window handle.
  HWND Handle() { return this; }
  /// Always true: the widget exists for the control's whole lifetime.
  bool HandleAllocated() const { return true; }
  /// The parent widget; null for a top-level window.
  QWidget* Parent() const { return parentWidget(); }
  /// Reparents the control and shows it there when it is Visible.
  virtual void SetParent(QWidget* p);
  /// Whether the control is meant to be shown (true by default); it stays true while a parent
  /// is hidden.
  bool Visible() const { return visible_; }
  /// Records Visible and shows or hides the widget.
  void SetVisible(bool v);

  /// Outer geometry (in the parent's coordinates; on screen for a window).
  int Left() const { return geometry().x(); }
  /// Top edge, in the parent's coordinates.
  int Top() const { return geometry().y(); }
  /// Outer width in pixels, border and scroll bars included.
  int Width() const { return width(); }
  /// Outer height in pixels, border and scroll bars included.
  int Height() const { return height(); }
  /// Moves and resizes the control (negative sizes become 0) and lays it out at once, even while
  /// hidden; WMSize follows when the outer or client size changed.
  virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
  /// Client area: the outer size less the border and the visible window scroll bars.
  int ClientWidth() const { return ClientArea().width(); }
  /// Client height: the outer height less the border and a visible horizontal scroll bar.
  int ClientHeight() const { return ClientArea().height(); }
  /// The client area in client coordinates: (0, 0) to (ClientWidth, ClientHeight).
  TRect ClientRect() const { return Rect(0, 0, ClientWidth(), ClientHeight()); }
  /// The client area in widget coordinates.
  QRect ClientArea() const;
  /// The screen position of client point p.
  TPoint ClientToScreen(TPoint p) const;
  /// The client point at screen position p (may lie outside the client area).
  TPoint ScreenToClient(TPoint p) const;

  /// Appearance.
  TBorderStyle BorderStyle() const { return border_style_; }
  /// Changes the frame, lays the control out again (WMSize when the client area changes) and
  /// repaints.
  void SetBorderStyle(TBorderStyle s);
  /// Whether a single border is drawn as a 2-pixel sunken edge rather than a 1-pixel line; true
  /// by default, or the parent control's value.
  bool Ctl3D() const { return ctl3d_; }
  /// Setting Ctl3D explicitly stops following the parent.
  void SetCtl3D(bool on);
  /// While true, Ctl3D follows the parent control's Ctl3D (a parent that is
  /// not a control counts as true).
  bool ParentCtl3D() const { return parent_ctl3d_; }
  /// Sets ParentCtl3D; turning it on takes the parent's Ctl3D at once.
  void SetParentCtl3D(bool on);
  /// The background each paint cycle erases the client area with, and the canvas brush color;
  /// clBtnFace by default.
  TColor Color() const { return color_; }
  /// Sets Color and the canvas brush color, and invalidates the control.
  void SetColor(TColor c);
  KV_QCOLOR_ACCESSORS(Color, Color, SetColor)
  /// The cursor identifier shown over the control; crDefault (the parent's cursor) by default.
  TCursor Cursor() const { return cursor_; }
  /// Shows the cursor registered under the identifier (winsys cursor table).
  void SetCursor(TCursor c);
  /// The control's font, owned by it; every change is copied to the canvas font and invalidates.
  TFont* Font() { return &font_; }
  /// An opaque control paints every client pixel itself: no erase before Paint.
  bool Opaque() const { return opaque_; }
  /// Sets Opaque; it takes effect at the next paint cycle (nothing is repainted now).
  void SetOpaque(bool on) { opaque_ = on; }

  /// Focus.
  bool Focused() const { return hasFocus(); }
  /// Gives the control the keyboard focus; DoEnter follows when it gets it.
  void SetFocus() { setFocus(Qt::OtherFocusReason); }
  /// Whether Tab moves the focus to the control (besides clicks); false by default.
  bool TabStop() const { return focusPolicy() == Qt::StrongFocus; }
  /// Sets TabStop by switching between strong and click focus.
  void SetTabStop(bool on) { setFocusPolicy(on ? Qt::StrongFocus : Qt::ClickFocus); }
  /// Whether the control takes mouse and keyboard input (false also while a parent is disabled).
  bool Enabled() const { return isEnabled(); }
  /// Enables or disables the control and its children.
  void SetEnabled(bool on) { setEnabled(on); }

  /// Painting.
  TCanvas* Canvas();
  /// Marks Paint as due and asks for a paint cycle; nothing is drawn before the event loop runs.
  virtual void Invalidate();
  /// Paints now (into the backing image) and shows the result.
  void Repaint();
  /// Runs a pending Paint now.
  void FlushPaint();
  /// True while Paint runs.
  bool Painting() const { return in_paint_; }
  /// The backing image (client size, RGB32) after any pending Paint.
  const QImage& ClientImage();
  /// Draws the client area, after any pending Paint, at (x, y) of a canvas.
  void PaintClientTo(TCanvas* dest, int x, int y);

  /// Window timers: WMTimer(id) every ms milliseconds (at least 10) until
  /// KillTimer(id). Setting a running id restarts it. SetTimer is false when
  /// no timer could be started; KillTimer is false for an id not running.
  bool SetTimer(int id, int ms);
  /// Stops the window timer id; false when it was not running.
  bool KillTimer(int id);
  /// True while the window timer id runs.
  bool TimerActive(int id) const { return timers_.count(id) != 0; }

  /// Window scroll bars (SB_HORZ, SB_VERT; SB_BOTH where it makes sense).
  /// Setting the range or page shows the bar when its range allows scrolling
  /// and hides it otherwise (SIF_DISABLENOSCROLL keeps it, disabled). Showing
  /// or hiding a bar changes the client area, which WMSize reports.
  int SetScrollInfo(int bar, const TScrollInfo& si, bool redraw = true);  ///< returns the position
  /// Fills the fields of si that si.fMask selects; false for a bar other than SB_HORZ or SB_VERT.
  bool GetScrollInfo(int bar, TScrollInfo& si) const;
  int SetScrollPos(int bar, int pos, bool redraw = true);  ///< returns the previous position
  /// The bar's position; 0 for a bar other than SB_HORZ or SB_VERT.
  int GetScrollPos(int bar) const;
  /// Sets the range as SetScrollInfo with SIF_RANGE does (a max below min becomes min); false for
  /// a bar other than SB_HORZ or SB_VERT.
  bool SetScrollRange(int bar, int min, int max, bool redraw = true);
  /// Stores the range in the non-null pointers; false for a bar other than SB_HORZ or SB_VERT.
  bool GetScrollRange(int bar, int* min, int* max) const;
  /// Shows or hides SB_HORZ, SB_VERT or SB_BOTH whatever the range; WMSize reports the new client
  /// area. False for other bars.
  bool ShowScrollBar(int bar, bool show);
  /// True while the window scroll bar SB_HORZ or SB_VERT is shown.
  bool ScrollBarVisible(int bar) const;
  /// The widget of a window scroll bar (for tests and styling).
  QWidget* WindowScrollBar(int bar) const;

  /// Framework handlers, called from the Qt events. The defaults fire the
  /// matching On* event.
  virtual void Paint() {}
  /// A button was pressed inside the client area (presses on the border or scroll bars are not
  /// reported); fires OnMouseDown.
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  /// The mouse moved over the client area, or anywhere while a button is held; fires OnMouseMove.
  virtual void MouseMove(TShiftState Shift, int X, int Y);
  /// A button was released, wherever the mouse is (after Click for the left button); fires
  /// OnMouseUp.
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
  /// Left button released inside the client area after a press on it.
  virtual void Click();
  /// Left double click; called after the MouseDown (with ssDouble) of the
  /// second press.
  virtual void DblClick();
  /// Setting Key to 0 marks the key handled (and suppresses KeyPress).
  virtual void KeyDown(Word& Key, TShiftState Shift);
  /// A key with a virtual key code was released; fires OnKeyUp.
  virtual void KeyUp(Word& Key, TShiftState Shift);
  /// A character was typed after an unhandled KeyDown (Latin-1 characters only); setting Key to 0
  /// marks it handled. Fires OnKeyPress.
  virtual void KeyPress(char& Key);
  /// The control or its client area changed size. A change that happens while
  /// WMSize runs is reported once more after it returns, never nested.
  virtual void WMSize();
  /// A tick of the window timer id; the default does nothing.
  virtual void WMTimer(int id) { (void)id; }
  /// The control got the keyboard focus; fires OnEnter.
  virtual void DoEnter();
  /// The control lost the keyboard focus; fires OnExit.
  virtual void DoExit();
  /// User scrolling on a window scroll bar with a classic code; pos is the
  /// thumb position for SB_THUMBTRACK/SB_THUMBPOSITION and the bar's position
  /// otherwise. The bar does not move by itself (except the dragged thumb):
  /// the handler sets the new position with SetScrollPos.
  virtual void WMHScroll(int code, int pos) { (void)code, (void)pos; }
  /// User scrolling on the vertical window scroll bar, as WMHScroll.
  virtual void WMVScroll(int code, int pos) { (void)code, (void)pos; }
  /// Mouse wheel (delta in 1/8 degree, 120 a notch); true when handled.
  /// Unhandled wheel events go to the parent widget.
  virtual bool DoMouseWheel(TShiftState Shift, int WheelDelta, int X, int Y);

  /// Called by Click: the left button went down and up inside the client area.
  TNotifyEvent OnClick, OnDblClick, OnEnter, OnExit, OnResize;
  /// Called by MouseDown with the button, what was held and the client point of a press.
  TMouseEvent OnMouseDown, OnMouseUp;  ///< Called by MouseUp with the button released and the client point.
  /// Called by MouseMove with what is held and the client point.
  TMouseMoveEvent OnMouseMove;
  /// Called by KeyDown with the virtual key (0 on return: handled, no KeyPress) and what was held.
  TKeyEvent OnKeyDown, OnKeyUp;  ///< Called by KeyUp with the released virtual key and what was held.
  /// Called by KeyPress with the typed character (0 on return: handled).
  TKeyPressEvent OnKeyPress;
  /// \var TCustomControl::OnDblClick
  /// Called by DblClick: a left double click inside the client area.
  ///
  /// \var TCustomControl::OnEnter
  /// Called by DoEnter when the control gets the keyboard focus.
  ///
  /// \var TCustomControl::OnExit
  /// Called by DoExit when the control loses the keyboard focus.
  ///
  /// \var TCustomControl::OnResize
  /// Called by WMSize when the outer or client size changed.

 protected:
  /// Width of the frame around the client area and its drawing; a single
  /// border is a 2-pixel sunken edge with Ctl3D, else a 1-pixel line.
  virtual int BorderExtent() const;
  /// Draws the frame over the widget's edge: a clWindowFrame line, or with Ctl3D a sunken edge in
  /// the button shadow, dark shadow, light and highlight colors.
  virtual void PaintBorder(QPainter& p);
  /// Lays out the border, scroll bars and backing image after a geometry
  /// change, and calls WMSize when the outer or client size changed.
  void SyncGeometry();

  /// The paint cycle: runs Paint unless the cycle only shows canvas drawing, then shows the backing
  /// image in the client area, the corner between two scroll bars, and the border.
  void paintEvent(QPaintEvent* e) override;
  /// Lays the control out again for its new size (WMSize when a size changed).
  void resizeEvent(QResizeEvent* e) override;
  /// Calls MouseDown for a left, right or middle press inside the client area. Exceptions from the
  /// handlers here and below are logged with qWarning and go no further.
  void mousePressEvent(QMouseEvent* e) override;
  /// Calls MouseMove over the client area, or anywhere while a button is held.
  void mouseMoveEvent(QMouseEvent* e) override;
  /// Calls Click when a left press inside the client area ends there, then MouseUp.
  void mouseReleaseEvent(QMouseEvent* e) override;
  /// Calls MouseDown with ssDouble for the second press inside the client area, then DblClick for
  /// the left button.
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  /// Calls DoMouseWheel with the vertical (else horizontal) delta; ignored events go to the parent.
  void wheelEvent(QWheelEvent* e) override;
  /// Calls KeyDown with the virtual key, then KeyPress with the character unless KeyDown handled
  /// it. Unhandled Escape, Return and Tab are passed on for the dialog.
  void keyPressEvent(QKeyEvent* e) override;
  /// Calls KeyUp with the virtual key; Escape, Return and Tab are passed on unless KeyUp cleared them.
  void keyReleaseEvent(QKeyEvent* e) override;
  /// Calls DoEnter after Qt's own handling.
  void focusInEvent(QFocusEvent* e) override;
  /// Calls DoExit after Qt's own handling.
  void focusOutEvent(QFocusEvent* e) override;
  /// Calls WMTimer with the window timer id of a running timer; other timers go to QWidget.
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

  std::map<int, int> timers_;  ///< framework id -> Qt timer id

  ScrollState sb_[2];
  TWindowScrollBar* bars_[2] = {nullptr, nullptr};

  QSize reported_size_{-1, -1};
  QSize reported_client_{-1, -1};
  bool in_wmsize_ = false;
  bool wmsize_again_ = false;

  bool clicked_ = false;  ///< left press inside the client area, waiting for its release
};

/// The handle of the first windowed control met walking from the component
/// up through its owners (the component itself first); null when none is.
KORVANE_EXPORT HWND KVFindHandle(TComponent* c);

}  // namespace korvane
