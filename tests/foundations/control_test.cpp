// TCustomControl: Qt input reaching the framework handlers, timers, window
// scroll bars, the backing-store paint cycle and component ownership.
#include <gtest/gtest.h>

#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <algorithm>
#include <string>
#include <vector>

#include "korvane/foundations/host/controls.h"

using namespace korvane;

namespace {

// Records every framework call it receives.
class Probe : public TCustomControl {
 public:
  explicit Probe(TComponent* owner = nullptr, QWidget* parent = nullptr) : TCustomControl(owner, parent) {}

  struct Call {
    char kind;  // D down, M move, U up, C click, 2 double click
    TMouseButton button;
    TShiftState shift;
    int x, y;
  };
  std::vector<Call> calls;
  std::vector<int> timer_ids;
  std::vector<std::pair<int, int>> vscroll;  // (code, pos)
  std::vector<Word> keys;
  std::string typed;
  int paints = 0;
  int sizes = 0;
  TColor fill = clRed;
  bool swallow_keys = false;
  bool follow_scroll = false;  // move the bar as a real handler would

  void Paint() override {
    ++paints;
    Canvas()->Brush()->SetColor(fill);
    Canvas()->FillRect(Rect(0, 0, 4, 4));
  }
  void MouseDown(TMouseButton b, TShiftState s, int x, int y) override { calls.push_back({'D', b, s, x, y}); }
  void MouseMove(TShiftState s, int x, int y) override { calls.push_back({'M', mbLeft, s, x, y}); }
  void MouseUp(TMouseButton b, TShiftState s, int x, int y) override { calls.push_back({'U', b, s, x, y}); }
  void Click() override { calls.push_back({'C', mbLeft, {}, 0, 0}); }
  void DblClick() override { calls.push_back({'2', mbLeft, {}, 0, 0}); }
  void WMTimer(int id) override { timer_ids.push_back(id); }
  void WMSize() override { ++sizes; }
  void KeyDown(Word& key, TShiftState) override {
    keys.push_back(key);
    if (swallow_keys) key = 0;
  }
  void KeyPress(char& c) override { typed += c; }
  void WMVScroll(int code, int pos) override {
    vscroll.emplace_back(code, pos);
    if (!follow_scroll) return;
    TScrollInfo si;
    si.fMask = SIF_PAGE;
    GetScrollInfo(SB_VERT, si);
    int p = GetScrollPos(SB_VERT);
    if (code == SB_LINEDOWN) p += 1;
    if (code == SB_LINEUP) p -= 1;
    if (code == SB_PAGEDOWN) p += int(si.nPage);
    if (code == SB_PAGEUP) p -= int(si.nPage);
    SetScrollPos(SB_VERT, p);
  }

  std::string Kinds() const {
    std::string s;
    for (const Call& c : calls) s += (c.kind == 'D' && c.shift.Contains(ssDouble)) ? 'd' : c.kind;
    return s;
  }
};

QRgb Q(TColor c) { return qRgb(GetRValue(c), GetGValue(c), GetBValue(c)); }

void ShowAndWait(QWidget& w) {
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
}

}  // namespace

// ---------------------------------------------------------------------------
// Mouse

struct ButtonCase {
  Qt::MouseButton qt;
  TMouseButton button;
  TShiftStateItem held;
};

class ControlMouse : public ::testing::TestWithParam<ButtonCase> {};

std::string ButtonName(const ::testing::TestParamInfo<ButtonCase>& i) {
  static const char* const names[] = {"Left", "Right", "Middle"};
  return names[i.param.button];
}

TEST_P(ControlMouse, PressMoveReleaseArriveInClientCoordinates) {
  const ButtonCase bc = GetParam();
  Probe c;
  c.SetBounds(0, 0, 120, 90);
  c.SetBorderStyle(bsSingle);  // 2-pixel sunken edge: client (0, 0) is widget (2, 2)
  ShowAndWait(c);

  QTest::mousePress(&c, bc.qt, Qt::ShiftModifier, QPoint(12, 7));
  QTest::mouseMove(&c, QPoint(52, 37));
  QTest::mouseRelease(&c, bc.qt, Qt::ShiftModifier, QPoint(52, 37));

  const bool left = bc.button == mbLeft;
  ASSERT_EQ(c.Kinds(), left ? "DMCU" : "DMU");
  const Probe::Call& down = c.calls[0];
  EXPECT_EQ(down.button, bc.button);
  EXPECT_EQ(down.x, 10);
  EXPECT_EQ(down.y, 5);
  EXPECT_EQ(down.shift, (TShiftState{ssShift, bc.held}));
  const Probe::Call& move = c.calls[1];
  EXPECT_EQ(move.x, 50);
  EXPECT_EQ(move.y, 35);
  EXPECT_TRUE(move.shift.Contains(bc.held));
  const Probe::Call& up = c.calls.back();
  EXPECT_EQ(up.button, bc.button);
  EXPECT_EQ(up.x, 50);
  EXPECT_EQ(up.shift, TShiftState{ssShift});  // the released button is no longer held
}

INSTANTIATE_TEST_SUITE_P(Buttons, ControlMouse,
                         ::testing::Values(ButtonCase{Qt::LeftButton, mbLeft, ssLeft},
                                           ButtonCase{Qt::RightButton, mbRight, ssRight},
                                           ButtonCase{Qt::MiddleButton, mbMiddle, ssMiddle}),
                         ButtonName);

TEST(ControlMouseTest, DoubleClickIsADownWithDoubleThenDblClick) {
  Probe c;
  c.SetBounds(0, 0, 80, 60);
  ShowAndWait(c);
  // What the window system delivers for a double click: press, release,
  // double-click press, release.
  QTest::mousePress(&c, Qt::LeftButton, Qt::NoModifier, QPoint(30, 20));
  QTest::mouseRelease(&c, Qt::LeftButton, Qt::NoModifier, QPoint(30, 20));
  QTest::mouseDClick(&c, Qt::LeftButton, Qt::NoModifier, QPoint(30, 20));
  QTest::mouseRelease(&c, Qt::LeftButton, Qt::NoModifier, QPoint(30, 20));
  // The second press comes as MouseDown with ssDouble, followed by DblClick,
  // and its release is no click.
  ASSERT_EQ(c.Kinds(), "DCUd2U");
  EXPECT_EQ(c.calls[3].x, 30);
}

TEST(ControlMouseTest, PressOnTheBorderIsNotAClientPress) {
  Probe c;
  c.SetBounds(0, 0, 80, 60);
  c.SetBorderStyle(bsSingle);
  ShowAndWait(c);
  QTest::mouseClick(&c, Qt::LeftButton, Qt::NoModifier, QPoint(0, 30));
  EXPECT_EQ(c.Kinds().find('D'), std::string::npos);
}

// ---------------------------------------------------------------------------
// Keys

struct KeyCase {
  int qt;
  Qt::KeyboardModifiers mods;
  Word vk;
};

class KeyMapping : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyMapping, QtKeysBecomeVirtualKeys) {
  EXPECT_EQ(QtKeyToVK(GetParam().qt, GetParam().mods), GetParam().vk);
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyMapping,
                         ::testing::Values(KeyCase{Qt::Key_A, Qt::NoModifier, Word('A')},
                                           KeyCase{Qt::Key_7, Qt::NoModifier, Word('7')},
                                           KeyCase{Qt::Key_7, Qt::KeypadModifier, VK_NUMPAD0 + 7},
                                           KeyCase{Qt::Key_Plus, Qt::KeypadModifier, VK_ADD},
                                           KeyCase{Qt::Key_Minus, Qt::NoModifier, VK_OEM_MINUS},
                                           KeyCase{Qt::Key_Left, Qt::NoModifier, VK_LEFT},
                                           KeyCase{Qt::Key_PageDown, Qt::NoModifier, VK_NEXT},
                                           KeyCase{Qt::Key_F12, Qt::NoModifier, VK_F12},
                                           KeyCase{Qt::Key_Escape, Qt::NoModifier, VK_ESCAPE},
                                           KeyCase{Qt::Key_Delete, Qt::NoModifier, VK_DELETE},
                                           KeyCase{Qt::Key_unknown, Qt::NoModifier, Word(0)}));

TEST(ControlKeys, KeyDownGetsTheVirtualKeyAndZeroingItSuppressesKeyPress) {
  Probe c;
  QTest::keyClick(&c, Qt::Key_Q);
  ASSERT_EQ(c.keys, std::vector<Word>{Word('Q')});
  EXPECT_EQ(c.typed, "q");
  c.swallow_keys = true;
  QTest::keyClick(&c, Qt::Key_W);
  EXPECT_EQ(c.keys.back(), Word('W'));
  EXPECT_EQ(c.typed, "q");
}

// ---------------------------------------------------------------------------
// Timers

TEST(ControlTimers, TimerReachesWMTimerUntilKilled) {
  Probe c;
  ASSERT_TRUE(c.SetTimer(7, 10));
  QTRY_VERIFY(!c.timer_ids.empty());
  EXPECT_EQ(c.timer_ids.front(), 7);
  EXPECT_TRUE(c.KillTimer(7));
  EXPECT_FALSE(c.KillTimer(7));
  EXPECT_FALSE(c.TimerActive(7));
  const size_t fired = c.timer_ids.size();
  // A second timer keeps ticking while the killed one stays silent.
  ASSERT_TRUE(c.SetTimer(8, 10));
  QTRY_VERIFY(std::count(c.timer_ids.begin(), c.timer_ids.end(), 8) >= 3);
  EXPECT_EQ(std::count(c.timer_ids.begin(), c.timer_ids.end(), 7), std::ptrdiff_t(fired));
}

// ---------------------------------------------------------------------------
// Scroll bars

TEST(ControlScrollBars, ShowingBarsShrinksTheClientAreaAndReportsWMSize) {
  Probe c;
  c.SetBounds(0, 0, 200, 150);
  const int ext = GetScrollBarExtent();
  ASSERT_EQ(c.ClientWidth(), 200);
  const int sizes = c.sizes;

  TScrollInfo si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  si.nMax = 499;
  si.nPage = 150;
  si.nPos = 400;
  EXPECT_EQ(c.SetScrollInfo(SB_VERT, si), 350);  // clamped to nMax - nPage + 1
  EXPECT_TRUE(c.ScrollBarVisible(SB_VERT));
  EXPECT_EQ(c.ClientWidth(), 200 - ext);
  EXPECT_EQ(c.ClientHeight(), 150);
  EXPECT_GT(c.sizes, sizes);
  EXPECT_EQ(c.ClientImage().width(), 200 - ext);

  c.ShowScrollBar(SB_HORZ, true);
  EXPECT_EQ(c.ClientHeight(), 150 - ext);
  EXPECT_EQ(c.WindowScrollBar(SB_VERT)->geometry(), QRect(200 - ext, 0, ext, 150 - ext));
  EXPECT_EQ(c.WindowScrollBar(SB_HORZ)->geometry(), QRect(0, 150 - ext, 200 - ext, ext));

  // A range that fits in the page hides the bar again.
  si.fMask = SIF_RANGE | SIF_PAGE;
  si.nMax = 99;
  c.SetScrollInfo(SB_VERT, si);
  EXPECT_FALSE(c.ScrollBarVisible(SB_VERT));
  EXPECT_EQ(c.ClientWidth(), 200);
  EXPECT_EQ(c.GetScrollPos(SB_VERT), 0);
}

// A WMSize handler that shows a scroll bar (as a view's layout does) is told
// of the client change after it returns, not from inside itself.
TEST(ControlScrollBars, ClientChangeDuringWMSizeIsReportedAfterwards) {
  class Layout : public TCustomControl {
   public:
    int depth = 0, max_depth = 0, calls = 0;
    void WMSize() override {
      ++calls;
      max_depth = std::max(max_depth, ++depth);
      TScrollInfo si;
      si.fMask = SIF_RANGE | SIF_PAGE;
      si.nMax = 999;
      si.nPage = unsigned(std::max(ClientHeight(), 1));
      SetScrollInfo(SB_VERT, si);
      --depth;
    }
    Layout() : TCustomControl(nullptr) {}
  } c;
  c.SetBounds(0, 0, 200, 100);
  EXPECT_EQ(c.max_depth, 1);
  EXPECT_EQ(c.calls, 2);  // the resize, then the bar that appeared
  EXPECT_EQ(c.ClientWidth(), 200 - GetScrollBarExtent());
}

struct ScrollClickCase {
  QStyle::SubControl part;
  int code;
  int pos_after;  // with a handler that follows the code, from 100 with page 50
};

class ControlScrollClick : public ::testing::TestWithParam<ScrollClickCase> {};

std::string ScrollName(const ::testing::TestParamInfo<ScrollClickCase>& i) {
  static const char* const names[] = {"LineUp", "LineDown", "PageUp", "PageDown"};
  return names[i.param.code];
}

TEST_P(ControlScrollClick, ClickOnTheBarArrivesAsWMVScroll) {
  const ScrollClickCase sc = GetParam();
  Probe c;
  c.SetBounds(0, 0, 120, 200);
  TScrollInfo si;
  si.fMask = SIF_ALL;
  si.nMax = 299;
  si.nPage = 50;
  si.nPos = 100;
  c.SetScrollInfo(SB_VERT, si);
  ShowAndWait(c);
  auto* bar = qobject_cast<QScrollBar*>(c.WindowScrollBar(SB_VERT));
  ASSERT_NE(bar, nullptr);

  QStyleOptionSlider opt;
  opt.initFrom(bar);
  opt.subControls = QStyle::SC_All;
  opt.orientation = Qt::Vertical;
  opt.minimum = bar->minimum();
  opt.maximum = bar->maximum();
  opt.sliderPosition = opt.sliderValue = bar->value();
  opt.singleStep = bar->singleStep();
  opt.pageStep = bar->pageStep();
  const QRect part = bar->style()->subControlRect(QStyle::CC_ScrollBar, &opt, sc.part, bar);
  ASSERT_TRUE(part.isValid()) << "style has no such part";

  // Without a handler moving it, a window scroll bar stays where it is.
  QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, part.center());
  ASSERT_EQ(c.vscroll.size(), 1u);
  EXPECT_EQ(c.vscroll.front().first, sc.code);
  EXPECT_EQ(bar->value(), 100);
  QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, part.center());
  EXPECT_EQ(c.vscroll.back().first, SB_ENDSCROLL);
  EXPECT_EQ(c.GetScrollPos(SB_VERT), 100);

  c.vscroll.clear();
  c.follow_scroll = true;
  QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, part.center());
  EXPECT_EQ(c.vscroll.front().first, sc.code);
  EXPECT_EQ(c.GetScrollPos(SB_VERT), sc.pos_after);
  EXPECT_EQ(bar->value(), sc.pos_after);
}

INSTANTIATE_TEST_SUITE_P(Parts, ControlScrollClick,
                         ::testing::Values(ScrollClickCase{QStyle::SC_ScrollBarAddLine, SB_LINEDOWN, 101},
                                           ScrollClickCase{QStyle::SC_ScrollBarSubLine, SB_LINEUP, 99},
                                           ScrollClickCase{QStyle::SC_ScrollBarAddPage, SB_PAGEDOWN, 150},
                                           ScrollClickCase{QStyle::SC_ScrollBarSubPage, SB_PAGEUP, 50}),
                         ScrollName);

// ---------------------------------------------------------------------------
// Painting

TEST(ControlPaint, InvalidateRunsPaintIntoTheBackingStore) {
  Probe c;
  c.SetBounds(0, 0, 60, 40);
  c.SetColor(clWhite);
  ShowAndWait(c);
  QTRY_VERIFY(c.paints > 0);
  const int before = c.paints;
  c.fill = clBlue;
  c.Invalidate();
  QTRY_VERIFY(c.paints > before);
  const QImage& img = c.ClientImage();
  EXPECT_EQ(img.pixel(1, 1), Q(clBlue));
  EXPECT_EQ(img.pixel(10, 10), Q(clWhite));  // erased with Color before Paint
}

TEST(ControlPaint, CanvasDrawingOutsidePaintIsShownWithoutPaint) {
  Probe c;
  c.SetBounds(0, 0, 60, 40);
  c.SetBorderStyle(bsSingle);
  c.SetColor(clWhite);
  ShowAndWait(c);
  QTRY_VERIFY(c.paints > 0);
  c.ClientImage();
  const int before = c.paints;

  c.Canvas()->SetPixels(20, 10, clLime);
  c.Canvas()->Pen()->SetColor(clRed);
  c.Canvas()->MoveTo(0, 30);
  c.Canvas()->LineTo(10, 30);
  // The next paint cycle shows it, with no Paint call.
  const QImage shot = c.grab().toImage();
  EXPECT_EQ(shot.pixel(22, 12), Q(clLime));
  EXPECT_EQ(shot.pixel(2 + 5, 2 + 30), Q(clRed));
  EXPECT_EQ(shot.pixel(0, 0), Q(ColorToRGB(clBtnShadow)));  // the border stays outside the client area
  EXPECT_EQ(c.paints, before);
  EXPECT_EQ(c.ClientImage().pixel(20, 10), Q(clLime));
}

TEST(ControlPaint, HeadlessControlPaintsOnDemand) {
  Probe c;
  c.SetBounds(0, 0, 30, 20);
  c.fill = clFuchsia;
  EXPECT_FALSE(c.isVisible());
  const QImage& img = c.ClientImage();
  ASSERT_EQ(img.size(), QSize(30, 20));
  EXPECT_EQ(img.pixel(0, 0), Q(clFuchsia));
  EXPECT_EQ(c.paints, 1);

  TBitmap out(40, 30, pf24bit);
  c.PaintClientTo(out.Canvas(), 5, 5);
  EXPECT_EQ(out.GetPixel(5, 5), clFuchsia);
  EXPECT_EQ(out.GetPixel(0, 0), clWhite);
  EXPECT_EQ(c.paints, 1);  // nothing pending, nothing repainted
}

// ---------------------------------------------------------------------------
// Cursors

TEST(ControlCursor, StandardAndRegisteredCursorsReachTheWidget) {
  Probe c;
  c.SetCursor(crCross);
  EXPECT_EQ(c.cursor().shape(), Qt::CrossCursor);
  RegisterCursor(1782, QCursor(Qt::OpenHandCursor));
  c.SetCursor(1782);
  EXPECT_EQ(c.Cursor(), 1782);
  EXPECT_EQ(c.cursor().shape(), Qt::OpenHandCursor);
  c.SetCursor(crDefault);
  EXPECT_EQ(c.cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(CursorFromId(123456).shape(), Qt::ArrowCursor);
}

// ---------------------------------------------------------------------------
// Ownership

namespace {

// Holds a reference to a control and drops it when told of its removal.
class Holder : public TComponent {
 public:
  TCustomControl* ref = nullptr;
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == opRemove && c == ref) ref = nullptr;
  }
};

// Owned by a control; reads the control's state while it is being freed.
class Child : public TComponent {
 public:
  Child(TCustomControl* owner, int* seen) : TComponent(owner), owner_(owner), seen_(seen) {}
  ~Child() override { *seen_ = owner_->ClientWidth() + (owner_->TimerActive(1) ? 1000 : 0); }

 private:
  TCustomControl* owner_;
  int* seen_;
};

}  // namespace

TEST(ControlOwnership, OwnerFreesItsControls) {
  QPointer<QWidget> a, b;
  {
    TComponent owner;
    a = new Probe(&owner);
    b = new Probe(&owner);
    EXPECT_EQ(owner.ComponentCount(), 2);
  }
  EXPECT_TRUE(a.isNull());
  EXPECT_TRUE(b.isNull());
}

TEST(ControlOwnership, ControlDeletedByItsQtParentLeavesItsOwner) {
  TComponent owner;
  auto* parent = new QWidget;
  auto* c = new Probe(&owner, parent);
  Holder h;
  h.ref = c;
  h.FreeNotification(c);
  ASSERT_EQ(owner.ComponentCount(), 1);
  delete parent;  // deletes the control
  EXPECT_EQ(owner.ComponentCount(), 0);
  EXPECT_EQ(h.ref, nullptr);
  // owner and h go out of scope here without touching the freed control.
}

TEST(ControlOwnership, FreeNotificationClearsTheReference) {
  Holder h;
  auto* c = new Probe;
  h.ref = c;
  h.FreeNotification(c);
  delete c;
  EXPECT_EQ(h.ref, nullptr);
}

TEST(ControlOwnership, OwnedComponentsGoWhileTheControlIsIntact) {
  int seen = -1;
  auto* c = new Probe;
  c->SetBounds(0, 0, 77, 10);
  c->SetTimer(1, 1000);
  new Child(c, &seen);
  delete c;
  EXPECT_EQ(seen, 1077);
}

TEST(ControlOwnership, FindHandleWalksUpToTheFirstControl) {
  TComponent root;
  auto* c = new Probe(&root);
  auto* inner = new TComponent(c);
  auto* leaf = new TComponent(inner);
  EXPECT_EQ(KVFindHandle(leaf), c->Handle());
  EXPECT_EQ(KVFindHandle(c), c->Handle());
  EXPECT_EQ(KVFindHandle(&root), nullptr);
  EXPECT_EQ(KVFindHandle(nullptr), nullptr);
}
