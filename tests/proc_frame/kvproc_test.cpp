// The processing component's frame: attachment, resolved selection, the
// operation protocol, undo, clipboard and clearing, on a bare bitmap, an image
// view and a picture control alike.
#include "korvane/proc/kvproc.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <cstring>
#include <memory>

#include "tests/test_support.h"

using namespace korvane;

namespace {

enum Host { kBare, kView, kImage };

// A processing component attached one way or another to a 40 x 40 pattern.
struct Rig {
  explicit Rig(Host h) {
    switch (h) {
      case kBare:
        proc.SetAttachedBitmap(&bare);
        break;
      case kView:
        view = std::make_unique<TKorvaneView>(nullptr);
        view->SetBounds(0, 0, 60, 60);
        proc.SetAttachedKorvane(view.get());
        break;
      case kImage:
        image = std::make_unique<TImage>(nullptr);
        proc.SetTImage(image.get());
        break;
    }
    test::FillPattern24(*proc.GetBitmap(), 40, 40, 7);
    proc.SetReBackground(RGB(1, 2, 3));
  }
  TBitmap* bmp() { return proc.GetBitmap(); }
  TBitmap bare;
  std::unique_ptr<TKorvaneView> view;
  std::unique_ptr<TImage> image;
  TKorvaneProc proc;
};

int CountColor(TBitmap* b, TColor c) {
  int n = 0;
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x) n += b->GetPixel(x, y) == c;
  return n;
}

bool ClipboardWorks() {
  if (!ClipboardAvailable()) return false;
  QGuiApplication::clipboard()->setText(QStringLiteral("korvane-probe"));
  return QGuiApplication::clipboard()->text() == QStringLiteral("korvane-probe");
}

// The header of the DIB on the clipboard.
TBitmapInfoHeader ClipHeader() {
  TBitmapInfoHeader hd;
  TGlobalLock lock(ClipboardGetDIB());
  if (lock.Size() >= 40) std::memcpy(&hd, lock.Data(), 40);
  return hd;
}

class FrameOnHost : public ::testing::TestWithParam<Host> {};

TEST_P(FrameOnHost, RectangleSelectionClearsCopiesAndCrops) {
  if (!ClipboardWorks()) GTEST_SKIP() << "this platform has no working clipboard";
  Rig r(GetParam());
  r.proc.Select(10, 10, 20, 20);
  EXPECT_EQ(r.proc.GetSelX2(), 20);
  r.proc.SelCopyToClip();
  TBitmapInfoHeader hd = ClipHeader();
  EXPECT_EQ(hd.biWidth, 11);
  EXPECT_EQ(hd.biHeight, 11);
  EXPECT_EQ(hd.biBitCount, 24);

  r.proc.ClearSel();
  EXPECT_EQ(CountColor(r.bmp(), RGB(1, 2, 3)), 121);
  EXPECT_EQ(r.bmp()->GetPixel(10, 10), RGB(1, 2, 3));
  EXPECT_NE(r.bmp()->GetPixel(21, 20), RGB(1, 2, 3));

  r.proc.CropSel();
  EXPECT_EQ(r.bmp()->Width(), 10);
  EXPECT_EQ(r.bmp()->Height(), 10);
  EXPECT_EQ(CountColor(r.bmp(), RGB(1, 2, 3)), 100);
}

TEST_P(FrameOnHost, OperationsFollowTheSelectionAndUndoRestores) {
  Rig r(GetParam());
  TBitmap orig;
  orig.Assign(r.bmp());
  int calls = 0;
  auto invert = [&](TBitmap* b, int x1, int y1, int x2, int y2) {
    ++calls;
    for (int y = y1; y <= y2; ++y)
      for (int x = 3 * x1; x < 3 * (x2 + 1); ++x) b->Scanline(y)[x] ^= 0xFF;
  };
  r.proc.Select(5, 6, 9, 8);
  r.proc.RunSelOp(invert);
  EXPECT_EQ(r.bmp()->GetPixel(9, 8), orig.GetPixel(9, 8) ^ 0xFFFFFF);
  EXPECT_EQ(r.bmp()->GetPixel(10, 8), orig.GetPixel(10, 8));
  EXPECT_EQ(r.bmp()->GetPixel(5, 5), orig.GetPixel(5, 5));

  // With nothing selected the whole bitmap is the rectangle.
  r.proc.SelectAll();
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  EXPECT_FALSE(r.proc.GetReSel(x1, y1, x2, y2, poly, n));
  EXPECT_EQ(x2, 39);
  EXPECT_EQ(y2, 39);
  r.proc.RunSelOp(invert);
  EXPECT_EQ(r.bmp()->GetPixel(0, 0), orig.GetPixel(0, 0) ^ 0xFFFFFF);

  TBitmap after;
  after.Assign(r.bmp());
  ASSERT_TRUE(r.proc.GetCanUndo());
  r.proc.Undo();
  TBitmap once;
  once.Assign(r.bmp());
  r.proc.Undo();
  EXPECT_TRUE(_BitmapCompareX(&once, r.bmp()));
  EXPECT_FALSE(_BitmapCompareX(&once, &after));
  r.proc.ClearUndo();
  EXPECT_FALSE(r.proc.GetCanUndo());

  // A 1-bit bitmap is refused unless the operation takes it.
  r.bmp()->SetPixelFormat(pf1bit);
  r.proc.RunSelOp(invert);
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(r.proc.GetCanUndo());
  r.proc.RunSelOp([&](TBitmap*, int, int, int, int) { ++calls; }, true);
  EXPECT_EQ(calls, 3);
}

INSTANTIATE_TEST_SUITE_P(Hosts, FrameOnHost, ::testing::Values(kBare, kView, kImage));

TEST(FrameSelection, TrianglePolygonLimitsTheOperationToItsInside) {
  Rig r(kView);
  TBitmap orig;
  orig.Assign(r.bmp());
  r.view->SetSelectionBase(kvsbBitmap);
  r.view->AddSelPoint(10, 10);
  r.view->AddSelPoint(30, 10);
  r.view->AddSelPoint(10, 30);
  r.proc.RunSelOp([](TBitmap* b, int x1, int y1, int x2, int y2) {
    for (int y = y1; y <= y2; ++y)
      for (int x = 3 * x1; x < 3 * (x2 + 1); ++x) b->Scanline(y)[x] ^= 0xFF;
  });
  EXPECT_EQ(r.bmp()->GetPixel(12, 12), orig.GetPixel(12, 12) ^ 0xFFFFFF);  // inside
  EXPECT_EQ(r.bmp()->GetPixel(28, 28), orig.GetPixel(28, 28));             // box, outside the triangle
  EXPECT_EQ(r.bmp()->GetPixel(5, 5), orig.GetPixel(5, 5));                 // outside the box
}

// Selections that reach past the bitmap's edges: operations work on the part
// inside, never on the whole picture, and keep the polygon's shape.
TEST(FrameSelection, PastTheEdgeOnlyThePartInsideIsWorkedOn) {
  {
    Rig r(kView);
    TBitmap orig;
    orig.Assign(r.bmp());
    r.view->SetSelectionBase(kvsbBitmap);
    r.view->AddSelPoint(-10, 20);
    r.view->AddSelPoint(20, 20);
    r.view->AddSelPoint(-10, 38);
    int x1, y1, x2, y2, n;
    const TPoint* poly;
    EXPECT_TRUE(r.proc.GetReSel(x1, y1, x2, y2, poly, n));
    EXPECT_EQ(x1, 0);
    EXPECT_EQ(n, 3);
    r.proc.ClearSel();
    EXPECT_EQ(r.bmp()->GetPixel(1, 22), RGB(1, 2, 3));  // inside the triangle
    EXPECT_EQ(r.bmp()->GetPixel(12, 30), orig.GetPixel(12, 30));
    EXPECT_EQ(r.bmp()->GetPixel(5, 5), orig.GetPixel(5, 5));
  }
  // A rectangle from the left edge, through the view and on a bare bitmap.
  for (Host h : {kView, kBare}) {
    Rig r(h);
    if (r.view) r.view->SetSelectionBase(kvsbBitmap);
    r.proc.Select(-10, 5, 8, 12);
    EXPECT_EQ(r.proc.GetSelX1(), 0);
    r.proc.ClearSel();
    EXPECT_EQ(CountColor(r.bmp(), RGB(1, 2, 3)), 9 * 8) << h;
    r.proc.CropSel();
    EXPECT_EQ(r.bmp()->Width(), 8) << h;
  }
  // Wholly outside: nothing changes.
  {
    Rig r(kView);
    TBitmap orig;
    orig.Assign(r.bmp());
    r.view->SetSelectionBase(kvsbBitmap);
    r.view->AddSelPoint(-30, 5);
    r.view->AddSelPoint(-5, 5);
    r.view->AddSelPoint(-5, 25);
    r.proc.ClearSel();
    r.proc.Negative();
    EXPECT_TRUE(_BitmapCompareX(&orig, r.bmp()));
  }
}

// An effect on a selection that starts above the picture puts every pixel
// back where it was taken from.
TEST(FrameSelection, EffectsPasteBackInPlacePastTheTopEdge) {
  Rig r(kView);
  TBitmap orig;
  orig.Assign(r.bmp());
  r.view->SetSelectionBase(kvsbBitmap);
  r.view->AddSelPoint(5, -10);
  r.view->AddSelPoint(30, -10);
  r.view->AddSelPoint(30, 20);
  r.view->AddSelPoint(12, 25);
  r.proc.Wave(0, 10, 0, false);  // leaves its input as it is
  EXPECT_TRUE(_BitmapCompareX(&orig, r.bmp()));
  r.proc.Wave(6, 7, 0, false);
  EXPECT_EQ(r.bmp()->GetPixel(3, 3), orig.GetPixel(3, 3));
  EXPECT_EQ(r.bmp()->GetPixel(20, 30), orig.GetPixel(20, 30));
  int changed = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 6; x < 30; ++x) changed += r.bmp()->GetPixel(x, y) != orig.GetPixel(x, y);
  EXPECT_GT(changed, 0);
}

class FrameDetach : public ::testing::TestWithParam<Host> {};

TEST_P(FrameDetach, DestroyedHostLeavesNoWorkingBitmap) {
  Rig r(GetParam());
  r.view.reset();
  r.image.reset();
  EXPECT_EQ(r.proc.GetAttachedKorvane(), nullptr);
  EXPECT_EQ(r.proc.GetAttachedTImage(), nullptr);
  EXPECT_EQ(r.proc.GetBitmap(), nullptr);
  bool called = false;
  r.proc.RunSelOp([&](TBitmap*, int, int, int, int) { called = true; });
  r.proc.Clear();
  r.proc.CropSel();
  r.proc.Undo();
  EXPECT_FALSE(called);
  // Attached again, it works.
  TBitmap b(4, 4);
  r.proc.SetAttachedBitmap(&b);
  r.proc.RunSelOp([&](TBitmap*, int, int, int, int) { called = true; });
  EXPECT_TRUE(called);
}

INSTANTIATE_TEST_SUITE_P(Hosts, FrameDetach, ::testing::Values(kView, kImage));

// A view that replaces its bitmap object, as the multi-image view does.
class SwappingView : public TKVView {
 public:
  SwappingView() : TKVView(nullptr) {}
  TBitmap* GetFBitmap() override { return cur_; }
  void Swap() {
    cur_ = cur_ == &a_ ? &b_ : &a_;
    CallBitmapChangeEvents();
  }

 private:
  TBitmap a_{3, 3}, b_{5, 5};
  TBitmap* cur_ = &a_;
};

TEST(FrameAttach, ListenerFollowsTheViewAndLeavesOnDetach) {
  SwappingView v;
  TKorvaneProc proc;
  proc.SetAttachedKorvane(&v);
  EXPECT_EQ(v.BitmapChangeEventCount(), 1);
  v.Swap();
  EXPECT_EQ(proc.GetBitmap(), v.GetFBitmap());
  // A null bitmap keeps the view; another bitmap replaces it.
  proc.SetAttachedBitmap(nullptr);
  EXPECT_EQ(proc.GetAttachedKorvane(), &v);
  TBitmap bare(2, 2);
  proc.SetAttachedBitmap(&bare);
  EXPECT_EQ(proc.GetAttachedKorvane(), nullptr);
  EXPECT_EQ(v.BitmapChangeEventCount(), 0);
  v.Swap();
  EXPECT_EQ(proc.GetBitmap(), &bare);
}

TEST(FrameAttach, PictureControlRepaintsAfterAnOperation) {
  TImage image(nullptr);
  image.SetBounds(0, 0, 8, 8);
  TKorvaneProc proc;
  proc.SetTImage(&image);
  proc.GetBitmap()->SetSize(8, 8);
  proc.SetReBackground(RGB(200, 10, 10));
  EXPECT_EQ(image.ClientImage().pixel(3, 3) & 0xFFFFFF, 0xFFFFFFu);  // new bitmap: white
  proc.Clear();
  EXPECT_EQ(image.ClientImage().pixel(3, 3) & 0xFFFFFF, 0xC80A0Au);
}

TEST(FrameClipboard, OneBitRoundTripAndPalettedPaste) {
  if (!ClipboardWorks()) GTEST_SKIP() << "this platform has no working clipboard";
  TBitmap mono;
  test::FillPattern24(mono, 13, 5, 3);
  mono.SetPixelFormat(pf1bit);
  TKorvaneProc proc;
  proc.SetAttachedBitmap(&mono);
  proc.CopyToClipboard();
  {
    TGlobalLock lock(ClipboardGetDIB());
    ASSERT_GE(lock.Size(), 48u);
    TBitmapInfoHeader hd;
    std::memcpy(&hd, lock.Data(), 40);
    EXPECT_EQ(hd.biBitCount, 1);
    const uint8_t table[8] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(lock.Data() + 40, table, 8), 0);
  }
  TBitmap target(2, 2);
  TKorvaneProc proc2;
  proc2.SetAttachedBitmap(&target);
  proc2.PasteFromClipboard();
  EXPECT_EQ(target.PixelFormat(), pf1bit);
  EXPECT_TRUE(_BitmapCompareX(&target, &mono));

  // An 8-bit paletted DIB 3 x 1: indexes 2, 0, 1.
  std::vector<uint8_t> dib(40 + 256 * 4 + 4, 0);
  TBitmapInfoHeader hd;
  hd.biWidth = 3;
  hd.biHeight = 1;
  hd.biBitCount = 8;
  std::memcpy(dib.data(), &hd, 40);
  const uint8_t pal[12] = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0};  // blue, green, red
  std::memcpy(dib.data() + 40, pal, 12);
  const uint8_t px[3] = {2, 0, 1};
  std::memcpy(dib.data() + 40 + 1024, px, 3);
  HGLOBAL h = GlobalAlloc(GHND, dib.size());
  std::memcpy(TGlobalLock(h).Data(), dib.data(), dib.size());
  ASSERT_TRUE(ClipboardSetDIB(h));
  proc2.PasteFromClipboard();
  ASSERT_EQ(target.PixelFormat(), pf24bit);
  ASSERT_EQ(target.Width(), 3);
  EXPECT_EQ(target.GetPixel(0, 0), RGB(90, 80, 70));
  EXPECT_EQ(target.GetPixel(1, 0), RGB(30, 20, 10));
  EXPECT_EQ(target.GetPixel(2, 0), RGB(60, 50, 40));
}

TEST(FrameProgress, RowPercentNeverPassesOneHundred) {
  EXPECT_EQ(RowPercent(9, 0, 9), 100);  // 10 rows: the bare formula gives 105
  EXPECT_EQ(RowPercent(0, 0, 9), 10);
  EXPECT_EQ(RowPercent(108, 10, 109), 99);
  EXPECT_EQ(RowPercent(109, 10, 109), 100);
  EXPECT_EQ(RowPercent(5, 5, 5), 100);
}

}  // namespace
