// The image view driven headless: layout, zoom and origin rules, painting
// checked on rendered pixels, and selections made with QTest mouse input.
#include <gtest/gtest.h>

#include <QTest>

#include "korvane/foundations/host/winsys.h"
#include "korvane/view/kvview.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

// A view with a client area of exactly cw x ch and a bitmap of bw x bh.
std::unique_ptr<TKorvaneView> MakeView(int cw, int ch, int bw, int bh, TPixelFormat pf = pf24bit) {
  auto v = std::make_unique<TKorvaneView>(nullptr);
  v->SetBorderStyle(bsNone);
  v->SetBounds(0, 0, cw, ch);
  v->GetBitmap()->SetPixelFormat(pf);
  v->GetBitmap()->SetSize(bw, bh);
  v->Update();
  return v;
}

// Widget position of a client point.
QPoint W(TKorvaneView& v, int x, int y) { return v.ClientArea().topLeft() + QPoint(x, y); }

// The client image rendered by Paint, as 0xRRGGBB.
unsigned ClientPixel(TKorvaneView& v, int x, int y) { return v.ClientImage().pixel(x, y) & 0xFFFFFF; }

// A bitmap whose pixel (x, y) encodes its coordinates.
void FillCoords(TBitmap* b) {
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x) {
      uint8_t* p = b->Scanline(y) + 3 * x;
      p[0] = uint8_t(x);
      p[1] = uint8_t(y);
      p[2] = uint8_t(x * 7 + y * 13);
    }
}
unsigned CoordColor(int x, int y) { return (unsigned(uint8_t(x * 7 + y * 13)) << 16) | (unsigned(uint8_t(y)) << 8) | uint8_t(x); }

}  // namespace

TEST(ViewLayout, MaxOriginWithAndWithoutScrollBars) {
  auto v = MakeView(100, 100, 200, 100);
  int mx, my;
  v->GetMaxViewXY(mx, my);
  EXPECT_EQ(mx, 100);
  EXPECT_EQ(my, 0);
  // With the horizontal bar the client height shrinks below the image height.
  v->SetScrollBars(ssBoth);
  EXPECT_TRUE(v->ScrollBarVisible(SB_HORZ));
  EXPECT_LT(v->ClientHeight(), 100);
  v->GetMaxViewXY(mx, my);
  EXPECT_EQ(mx, 200 - v->ClientWidth());
  EXPECT_EQ(my, 100 - v->ClientHeight());
  EXPECT_TRUE(v->ScrollBarVisible(SB_VERT));
  // An outer size that holds the whole image needs no scrolling at all.
  v->SetScrollBars(ssNone);
  v->SetBounds(0, 0, 200, 100);
  v->GetMaxViewXY(mx, my);
  EXPECT_EQ(mx, 0);
  EXPECT_EQ(my, 0);
}

// Exposes the scroll handler the control calls for user scrolling.
struct ScrollableView : TKorvaneView {
  using TKorvaneView::TKorvaneView;
  void H(int code, int pos) { WMHScroll(code, pos); }
};

TEST(ViewLayout, ScrollBarCodesMoveTheOrigin) {
  ScrollableView v(nullptr);
  v.SetBorderStyle(bsNone);
  v.SetBounds(0, 0, 100, 100);
  v.GetBitmap()->SetSize(400, 400);
  v.SetScrollBars(ssBoth);
  int mx, my;
  v.GetMaxViewXY(mx, my);
  ASSERT_GT(mx, 20);
  struct Step { int code; int pos; int expect; };
  for (Step s : {Step{SB_LINEDOWN, 0, 1}, Step{SB_PAGEDOWN, 0, 11}, Step{SB_LINEUP, 0, 10}, Step{SB_THUMBTRACK, 57, 57},
                 Step{SB_THUMBPOSITION, 3, 57}, Step{SB_BOTTOM, 0, mx}, Step{SB_PAGEDOWN, 0, mx}, Step{SB_TOP, 0, 0},
                 Step{SB_LINEUP, 0, 0}}) {
    v.H(s.code, s.pos);
    EXPECT_EQ(v.GetViewX(), s.expect) << "code " << s.code;
    EXPECT_EQ(v.GetScrollPos(SB_HORZ), v.GetViewX());
  }
}

TEST(ViewLayout, FitCentreAndZoomLimits) {
  auto v = MakeView(100, 100, 400, 200);
  v->Fit();
  EXPECT_EQ(v->GetZoom(), 25);
  v->SetZoom(0);
  v->SetZoom(-5);
  EXPECT_EQ(v->GetZoom(), 25);
  v->SetCenter(true);
  EXPECT_EQ(v->GetExtentX(), 100);
  EXPECT_EQ(v->GetExtentY(), 50);
  EXPECT_EQ(v->GetOffsetX(), 0);
  EXPECT_EQ(v->GetOffsetY(), 25);
  EXPECT_EQ(v->YScr2Bmp(25), 0);
  EXPECT_EQ(v->YBmp2Scr(4), 26);
  // Fit on an empty bitmap changes nothing.
  v->GetBitmap()->SetSize(0, 0);
  v->Fit();
  EXPECT_EQ(v->GetZoom(), 25);
}

TEST(ViewLayout, UnLockPaintNestsAndRepaintsAtZero) {
  auto v = MakeView(50, 50, 50, 50);
  int paints = 0;
  struct Counting : TKorvaneView {
    using TKorvaneView::TKorvaneView;
    int* n = nullptr;
    void Update() override {
      if (n) ++*n;
      TKorvaneView::Update();
    }
  } c(nullptr);
  c.n = &paints;
  c.LockPaint();
  c.LockPaint();
  c.UnLockPaint();
  EXPECT_EQ(paints, 0);
  EXPECT_EQ(c.PaintLockCount(), 1);
  c.UnLockPaint();
  EXPECT_EQ(paints, 1);
  c.UnLockPaint();  // below zero: nothing
  EXPECT_EQ(paints, 1);
  EXPECT_EQ(c.PaintLockCount(), 0);
}

TEST(ViewSelection, BitmapSizeChangeRemovesSelection) {
  auto v = MakeView(100, 100, 80, 60);
  v->Select(10, 10, 30, 40);
  ASSERT_TRUE(v->Selected());
  EXPECT_EQ(v->GetPolySelCount(), 4);
  v->Update();  // same size: kept
  EXPECT_TRUE(v->Selected());
  v->GetBitmap()->SetSize(81, 60);
  v->Update();
  EXPECT_FALSE(v->Selected());
  EXPECT_EQ(v->GetPolySelCount(), 0);
  v->Select(10, 10, 10, 50);  // empty: ignored
  EXPECT_FALSE(v->Selected());
}

class MouseZoom : public ::testing::TestWithParam<std::tuple<int, Qt::MouseButton, int>> {};

TEST_P(MouseZoom, ClickStepsTheZoom) {
  auto [from, button, to] = GetParam();
  auto v = MakeView(200, 200, 100, 100);
  v->SetMouseInteract({miZoom});
  v->SetZoom(from);
  QTest::mouseClick(v.get(), button, Qt::NoModifier, W(*v, 5, 5));
  EXPECT_EQ(v->GetZoom(), to);
}

INSTANTIATE_TEST_SUITE_P(Steps, MouseZoom,
                         ::testing::Values(std::make_tuple(2, Qt::LeftButton, 5), std::make_tuple(33, Qt::LeftButton, 50),
                                           std::make_tuple(100, Qt::LeftButton, 200),
                                           std::make_tuple(250, Qt::LeftButton, 350),
                                           std::make_tuple(2, Qt::RightButton, 2),
                                           std::make_tuple(33, Qt::RightButton, 25),
                                           std::make_tuple(100, Qt::RightButton, 75),
                                           std::make_tuple(250, Qt::RightButton, 150)));

TEST(ViewMouse, InteractRulesThroughTheView) {
  auto v = MakeView(50, 50, 50, 50);
  v->SetMouseInteract({miZoom, miScroll});
  v->SetMouseInteract({miZoom, miScroll, miSelectPolygon});
  EXPECT_EQ(v->GetMouseInteract(), TKVMouseInteract{miSelectPolygon});
}

TEST(ViewMouse, RectangleDragAtZoom300WithScrolledOrigin) {
  auto v = MakeView(120, 120, 200, 200);
  v->SetZoom(300);
  v->SetViewXY(30, 60);
  ASSERT_EQ(v->GetViewX(), 30);
  v->SetMouseInteract({miSelect});
  int changes = 0;
  v->OnSelectionChange = [&](TObject*) { ++changes; };
  QTest::mousePress(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 3, 6));
  QTest::mouseMove(v.get(), W(*v, 40, 50));
  QTest::mouseMove(v.get(), W(*v, 61, 91));
  QTest::mouseRelease(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 61, 91));
  ASSERT_TRUE(v->Selected());
  ASSERT_EQ(v->GetPolySelCount(), 4);
  // Client (3, 6) is bitmap ((3+30)/3, (6+60)/3) = (11, 22); (61, 91) is (30, 50).
  const TPoint* p = v->GetPolySelArray();
  EXPECT_EQ(p[0], Point(11, 22));
  EXPECT_EQ(p[1], Point(30, 22));
  EXPECT_EQ(p[2], Point(30, 50));
  EXPECT_EQ(p[3], Point(11, 50));
  EXPECT_EQ(v->GetSelX1(), 11);
  EXPECT_EQ(v->GetSelY2(), 50);
  EXPECT_GE(changes, 3);
  // The view origin did not move: the pointer stayed inside.
  EXPECT_EQ(v->GetViewX(), 30);
}

TEST(ViewMouse, PolygonEndsWithDoubleClick) {
  auto v = MakeView(100, 100, 100, 100);
  v->SetMouseInteract({miSelectPolygon});
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 10, 10));
  QTest::mouseMove(v.get(), W(*v, 50, 12));
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 50, 12));
  QTest::mouseMove(v.get(), W(*v, 30, 60));
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 30, 60));
  EXPECT_TRUE(v->DrawingPolygon());
  QTest::mouseDClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 30, 60));
  EXPECT_FALSE(v->DrawingPolygon());
  ASSERT_EQ(v->GetPolySelCount(), 3);
  EXPECT_EQ(v->GetPolySel(1), Point(50, 12));
  EXPECT_EQ(v->GetPolySel(2), Point(30, 60));
  EXPECT_EQ(v->GetPolySel(7), Point(0, 0));
}

TEST(ViewMouse, EllipseDragMakesTheOutline) {
  auto v = MakeView(200, 200, 200, 200);
  v->SetMouseInteract({miSelectCircle});
  QTest::mousePress(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 100, 100));
  QTest::mouseMove(v.get(), W(*v, 140, 120));
  EXPECT_EQ(v->GetPolySelCount(), 31);  // rx 40, ry 20
  QTest::mouseMove(v.get(), W(*v, 140, 120));
  QTest::mouseRelease(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 140, 120));
  EXPECT_TRUE(v->Selected());
  EXPECT_EQ(v->GetSelX2(), 140);
}

TEST(ViewPaint, Zoom300WithoutFilterReplicatesPixels) {
  auto v = MakeView(99, 99, 60, 60);
  FillCoords(v->GetBitmap());
  v->SetZoom(300);
  v->SetViewXY(30, 15);  // source starts at (10, 5)
  for (int y = 0; y < 99; y += 7)
    for (int x = 0; x < 99; x += 5) ASSERT_EQ(ClientPixel(*v, x, y), CoordColor(10 + x / 3, 5 + y / 3)) << x << "," << y;
}

TEST(ViewPaint, FilterOnlyAboveZoom100AndNotWhileDelayed) {
  auto v = MakeView(60, 60, 20, 20);
  TBitmap* b = v->GetBitmap();
  // Black left half, white right half: a filter blends across the edge.
  b->Canvas()->Brush()->SetColor(clBlack);
  b->Canvas()->FillRect(Rect(0, 0, 10, 20));
  b->Canvas()->Brush()->SetColor(clWhite);
  b->Canvas()->FillRect(Rect(10, 0, 20, 20));
  auto blended = [&] {
    for (int x = 0; x < v->GetExtentX(); ++x) {
      unsigned p = ClientPixel(*v, x, 5);
      if (p != 0 && p != 0xFFFFFF) return true;
    }
    return false;
  };
  v->SetZoomFilter(rfTriangle);
  EXPECT_FALSE(blended());  // zoom 100
  v->SetZoom(300);
  EXPECT_TRUE(blended());
  v->SetZoomFilter(rfNone);
  EXPECT_FALSE(blended());
  v->SetZoomFilter(rfTriangle);
  v->SetDelayZoomFilter(true);
  v->SetViewXY(5, 0);
  EXPECT_EQ(v->GetFilterDelay(), 2);
  EXPECT_FALSE(blended());
  v->AnimStep(true);
  EXPECT_FALSE(blended());
  v->AnimStep(true);  // delay over: the filtered picture follows
  EXPECT_EQ(v->GetFilterDelay(), 0);
  EXPECT_TRUE(blended());
}

TEST(ViewPaint, ChessboardBackground) {
  auto v = MakeView(64, 48, 0, 0);
  v->SetBackGround(RGB(10, 20, 30));
  v->SetBackgroundStyle(kvbsChessboard);
  unsigned bg = 0x0A141E, contrast = 0xF5EBE1;
  EXPECT_EQ(ClientPixel(*v, 0, 0), contrast);
  EXPECT_EQ(ClientPixel(*v, 15, 15), contrast);
  EXPECT_EQ(ClientPixel(*v, 16, 0), bg);
  EXPECT_EQ(ClientPixel(*v, 0, 16), bg);
  EXPECT_EQ(ClientPixel(*v, 16, 16), contrast);
  EXPECT_EQ(ClientPixel(*v, 63, 47), bg);
  // A system color resolves before the complement.
  v->SetBackGround(clBtnFace);
  TColor c = ColorToRGB(clBtnFace) ^ 0xFFFFFF;
  EXPECT_EQ(ClientPixel(*v, 0, 0), (unsigned(GetRValue(c)) << 16) | (unsigned(GetGValue(c)) << 8) | GetBValue(c));
}

TEST(ViewPaint, SelectionOutlineDashesMarch) {
  auto v = MakeView(60, 30, 60, 30);
  v->SetBackGround(RGB(0, 0, 255));
  v->Clear();
  v->SetSelColor1(clBlack);
  v->SetSelColor2(clWhite);
  v->Select(2, 10, 40, 20);
  auto dashes = [&] {
    std::string s;
    for (int x = 2; x < 14; ++x) s += ClientPixel(*v, x, 10) == 0 ? 'B' : ClientPixel(*v, x, 10) == 0xFFFFFF ? 'W' : '.';
    return s;
  };
  EXPECT_EQ(dashes(), "BBBWWWBBBWWW");
  v->AnimStep(true);
  EXPECT_EQ(dashes(), "BBWWWBBBWWWB");
  v->SetAnimatedSel(false);
  v->AnimStep(true);
  EXPECT_EQ(dashes(), "BBWWWBBBWWWB");
}

TEST(ViewMouse, DragPastTheEdgeScrollsAndKeepsTheDownPointOnTheBitmap) {
  auto v = MakeView(100, 100, 400, 400);
  v->SetMouseInteract({miSelect});
  QTest::mousePress(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 50, 50));
  QTest::mouseMove(v.get(), W(*v, 120, 60));  // 21 pixels right of the image's last column
  EXPECT_EQ(v->GetViewX(), 21);
  // The anchor stays at bitmap (50, 50); the far corner follows the scroll.
  EXPECT_EQ(v->GetSelX1(), 50);
  EXPECT_EQ(v->GetSelX2(), 99 + 21);
  // Held still outside, the animation timer keeps scrolling.
  v->AnimStep(true);
  struct Timer : TKorvaneView {
    static void Tick(TKorvaneView* t) { (t->*(&Timer::WMTimer))(TKorvaneView::kAnimTimer); }
  };
  Timer::Tick(v.get());
  EXPECT_EQ(v->GetViewX(), 42);
  QTest::mouseRelease(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 120, 60));
  Timer::Tick(v.get());
  EXPECT_EQ(v->GetViewX(), 42);  // released: no more scrolling
}

TEST(ViewSelection, AssignSelToCopiesThePolygonArea) {
  auto v = MakeView(50, 50, 40, 40);
  v->SetBackGround(RGB(1, 2, 3));
  v->GetBitmap()->Canvas()->Brush()->SetColor(clRed);
  v->GetBitmap()->Canvas()->FillRect(Rect(0, 0, 40, 40));
  v->SetSelectionBase(kvsbBitmap);
  v->AddSelPoint(10, 10);
  v->AddSelPoint(30, 10);
  v->AddSelPoint(10, 30);
  TKorvaneView dest(nullptr);
  v->AssignSelTo(&dest);
  TBitmap* d = dest.GetBitmap();
  ASSERT_EQ(d->Width(), 21);
  ASSERT_EQ(d->Height(), 21);
  EXPECT_EQ(d->GetPixel(1, 1), clRed);      // inside the triangle
  EXPECT_EQ(d->GetPixel(19, 19), clWhite);  // outside: a new bitmap's fill
  EXPECT_EQ(dest.GetBackground(), RGB(1, 2, 3));
  // A rectangle selection copies the whole box.
  v->Select(5, 5, 9, 8);
  TBitmap b;
  v->AssignSelTo(&b);
  EXPECT_EQ(b.Width(), 5);
  EXPECT_EQ(b.Height(), 4);
  EXPECT_TRUE(b.Modified());
}

TEST(ViewSetup, CursorsPaletteAndListeners) {
  auto v = MakeView(20, 20, 8, 8);
  for (TCursor c = crKVZoomOut; c <= crKVCross2; ++c) EXPECT_TRUE(CursorRegistered(c)) << c;
  EXPECT_EQ(v->Cursor(), crKVCross2);
  // Two colors in the bitmap: both appear in the palette.
  v->GetBitmap()->Canvas()->Brush()->SetColor(RGB(200, 0, 0));
  v->GetBitmap()->Canvas()->FillRect(Rect(0, 0, 4, 8));
  std::unique_ptr<TLogPalette> pal(v->_CreatePalette());
  ASSERT_EQ(pal->palPalEntry.size(), 256u);
  EXPECT_EQ(pal->palVersion, 0x300);
  auto has = [&](int r, int g, int b) {
    for (auto& e : pal->palPalEntry)
      if (std::abs(e.peRed - r) <= 8 && std::abs(e.peGreen - g) <= 8 && std::abs(e.peBlue - b) <= 8) return true;
    return false;
  };
  EXPECT_TRUE(has(200, 0, 0));
  EXPECT_TRUE(has(255, 255, 255));
  // Listeners are called in order and removed by owner.
  std::string calls;
  TObject a, b;
  v->RegisterBitmapChangeEvent(&a, [&](TObject* s) { EXPECT_EQ(s, v.get()); calls += 'a'; });
  v->RegisterBitmapChangeEvent(&b, [&](TObject*) { calls += 'b'; });
  v->CallBitmapChangeEvents();
  v->RemoveBitmapChangeEvent(&a);
  v->CallBitmapChangeEvents();
  EXPECT_EQ(calls, "abb");
}

TEST(ViewLayout, HugeZoomSaturatesInsteadOfWrapping) {
  auto v = MakeView(200, 200, 1600, 1200);
  v->SetScrollBars(ssBoth);
  v->SetZoom(200000000);  // no upper limit: the zoomed size saturates
  EXPECT_EQ(v->GetZoomedWidth(), INT32_MAX);
  EXPECT_EQ(v->GetExtentX(), v->ClientWidth());
  v->ZoomAt(100, 100, 400000000);
  EXPECT_GE(v->GetViewX(), 0);
  EXPECT_GT(v->GetIdealComponentWidth(), 0);
  FillCoords(v->GetBitmap());
  v->SetViewXY(0, 0);
  EXPECT_EQ(ClientPixel(*v, 5, 5), CoordColor(0, 0));  // one pixel fills the client
}

TEST(ViewPaint, FilteredEdgeColumnIsCopiedAlone) {
  // At zoom 5000 a 60-pixel client shows one source column: the filtered path
  // must copy that column, not read x2 = 0 as "the last column".
  auto v = MakeView(60, 60, 100, 100);
  TBitmap* b = v->GetBitmap();
  b->Canvas()->Brush()->SetColor(clBlue);
  b->Canvas()->FillRect(Rect(0, 0, 100, 100));
  b->Canvas()->Brush()->SetColor(clRed);
  b->Canvas()->FillRect(Rect(0, 0, 1, 100));
  v->SetZoomFilter(rfTriangle);
  v->SetZoom(5000);
  v->SetViewXY(0, 0);
  for (int x = 0; x < 60; x += 7) ASSERT_EQ(ClientPixel(*v, x, 30), 0xFF0000u) << x;
}

TEST(ViewLayout, IntegerZoomFormulasAtTheView) {
  auto v = MakeView(110, 110, 110, 110);
  v->Fit();
  EXPECT_EQ(v->GetZoom(), 100);
  v->GetBitmap()->SetSize(113, 113);
  v->SetZoom(100);
  EXPECT_EQ(v->GetIdealComponentWidth(), 114);
  EXPECT_EQ(v->GetIdealComponentHeight(), 114);
  // 7 x 150 / 100 = 10.5: the zoomed size and the origin limit agree on 10.
  v->GetBitmap()->SetSize(7, 7);
  v->SetBounds(0, 0, 5, 5);
  v->SetZoom(150);
  EXPECT_EQ(v->GetZoomedWidth(), 10);
  int mx, my;
  v->GetMaxViewXY(mx, my);
  EXPECT_EQ(mx, 10 - v->ClientWidth());
  // Zooming to a selection as wide as the control gives exactly 100.
  v->SetBounds(0, 0, 110, 110);
  v->GetBitmap()->SetSize(400, 400);
  v->SetZoom(100);
  v->SetSelectionBase(kvsbBitmap);
  v->Select(0, 0, 109, 109);
  v->ZoomSelection();
  EXPECT_EQ(v->GetZoom(), 100);
}

TEST(ViewLayout, ZoomAtFarFromTheOriginSaturates) {
  auto v = MakeView(200, 200, 1600, 1200);
  v->SetViewXY(1400, 0);
  ASSERT_EQ(v->GetViewX(), 1400);
  v->ZoomAt(150, 100, 200000000);  // bitmap x 1550 times the zoom overflows 32 bits
  int mx, my;
  v->GetMaxViewXY(mx, my);
  EXPECT_EQ(v->GetViewX(), mx);
  EXPECT_EQ(mx, INT32_MAX - v->ClientWidth());
}

// A descendant that sees, and may refuse, every selection.
struct GuardedView : TKorvaneView {
  using TKorvaneView::TKorvaneView;
  bool refuse = false;
  std::vector<std::string> calls;
  void Select(int x1, int y1, int x2, int y2) override {
    calls.push_back("Select " + std::to_string(x1) + "," + std::to_string(y1) + "," + std::to_string(x2) + "," +
                    std::to_string(y2));
    if (!refuse) TKorvaneView::Select(x1, y1, x2, y2);
  }
  void AddSelPoint(int x, int y) override {
    calls.push_back("AddSelPoint " + std::to_string(x) + "," + std::to_string(y));
    if (!refuse) TKorvaneView::AddSelPoint(x, y);
  }
};

TEST(ViewMouse, MouseSelectionsGoThroughTheVirtualMembers) {
  GuardedView v(nullptr);
  v.SetBorderStyle(bsNone);
  v.SetBounds(0, 0, 100, 100);
  v.GetBitmap()->SetSize(100, 100);
  v.SetZoom(200);
  v.SetSelectionBase(kvsbBitmap);  // the mouse still works in client coordinates
  v.SetMouseInteract({miSelect});
  QTest::mousePress(&v, Qt::LeftButton, Qt::NoModifier, W(v, 10, 20));
  QTest::mouseMove(&v, W(v, 40, 60));
  QTest::mouseRelease(&v, Qt::LeftButton, Qt::NoModifier, W(v, 40, 60));
  ASSERT_FALSE(v.calls.empty());
  EXPECT_EQ(v.calls.back(), "Select 10,20,40,60");
  EXPECT_EQ(v.GetSelX1(), 5);
  EXPECT_EQ(v.GetSelY2(), 30);
  EXPECT_EQ(v.GetSelectionBase(), kvsbBitmap);

  v.DeSelect();
  v.calls.clear();
  v.refuse = true;
  QTest::mousePress(&v, Qt::LeftButton, Qt::NoModifier, W(v, 10, 20));
  QTest::mouseMove(&v, W(v, 40, 60));
  QTest::mouseRelease(&v, Qt::LeftButton, Qt::NoModifier, W(v, 40, 60));
  EXPECT_FALSE(v.Selected());

  v.refuse = false;
  v.calls.clear();
  v.SetMouseInteract({miSelectPolygon});
  QTest::mouseClick(&v, Qt::LeftButton, Qt::NoModifier, W(v, 30, 30));
  ASSERT_EQ(v.calls.size(), 1u);
  EXPECT_EQ(v.calls[0], "AddSelPoint 30,30");
  EXPECT_EQ(v.GetPolySelArray()[0], Point(15, 15));
}

TEST(ViewMouse, SecondButtonDuringADragKeepsTheZoomFilter) {
  auto v = MakeView(100, 100, 100, 100);
  v->SetZoomFilter(rfTriangle);
  v->SetMouseInteract({miSelect});
  QTest::mousePress(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 10, 10));
  EXPECT_EQ(v->GetZoomFilter(), rfNone);  // suspended while the button is held
  QTest::mousePress(v.get(), Qt::RightButton, Qt::NoModifier, W(*v, 20, 20));
  QTest::mouseRelease(v.get(), Qt::RightButton, Qt::NoModifier, W(*v, 20, 20));
  EXPECT_EQ(v->GetZoomFilter(), rfNone);  // the drag goes on
  QTest::mouseRelease(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 30, 30));
  EXPECT_EQ(v->GetZoomFilter(), rfTriangle);
}

TEST(ViewSetup, ParentCtl3DFollowsTheParentControl) {
  TKorvaneView parent(nullptr);
  parent.SetCtl3D(false);
  TKorvaneView child(nullptr, &parent);
  EXPECT_TRUE(child.ParentCtl3D());
  EXPECT_FALSE(child.Ctl3D());
  parent.SetCtl3D(true);
  EXPECT_TRUE(child.Ctl3D());
  child.SetCtl3D(false);  // an explicit value stops following
  EXPECT_FALSE(child.ParentCtl3D());
  parent.SetCtl3D(false);
  parent.SetCtl3D(true);
  EXPECT_FALSE(child.Ctl3D());
  child.SetParentCtl3D(true);
  EXPECT_TRUE(child.Ctl3D());
}
