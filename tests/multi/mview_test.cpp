// The multi-image view driven headless: list rules, loans, on-demand loading,
// layout, painting checked on rendered pixels, playing, selection and keys.
#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>

#include "korvane/foundations/host/winsys.h"
#include "korvane/io/kvio.h"
#include "korvane/multi/kvmview.h"
#include "tests/test_support.h"

using namespace korvane;
using korvane::test::SamePixels;

namespace {

// A view whose client area is cw x ch, with 20 x 20 cells and 2-pixel borders.
std::unique_ptr<TKorvaneMView> MakeView(int cw, int ch) {
  auto v = std::make_unique<TKorvaneMView>(nullptr);
  v->SetBorderStyle(bsNone);
  v->SetBounds(0, 0, cw, ch);
  v->SetThumbWidth(20);
  v->SetThumbHeight(20);
  v->SetHorizBorder(2);
  v->SetVertBorder(2);
  return v;
}

// A solid 24-bit bitmap.
void Solid(TBitmap& b, int w, int h, TColor c) {
  b.Allocate(w, h, pf24bit);
  for (int y = 0; y < h; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(b.Scanline(y));
    for (int x = 0; x < w; ++x) row[x] = TRGB{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)};
  }
}

// Appends n images, image i filled with color 0x10 * (i + 1) in red.
void AddImages(TKorvaneMView& v, int n, int w = 20, int h = 20) {
  for (int i = 0; i < n; ++i) {
    TBitmap b;
    Solid(b, w, h, TColor(0x10 * (i + 1)));
    int idx = v.AppendImage();
    v.SetImage(idx, &b);
  }
}

unsigned Px(TKorvaneMView& v, int x, int y) { return v.ClientImage().pixel(x, y) & 0xFFFFFF; }

// Red of the picture held for image idx (borrowed and given back).
int RedOf(TKorvaneMView& v, int idx) {
  TBitmap* b = v.GetBitmap(idx);
  if (!b) return -1;
  int r = b->Scanline(0)[2];
  v.ReleaseBitmap(idx);
  return r;
}

}  // namespace

TEST(MViewLayout, EmptyViewExtentHitAndPaint) {
  auto v = MakeView(100, 60);
  v->SetBackGround(0x00FF00);
  EXPECT_EQ(v->GetExtentX(), 22);
  EXPECT_EQ(v->GetExtentY(), 22);
  EXPECT_EQ(v->ImageAtPos(5, 5), -1);
  EXPECT_EQ(v->GetSelectedItem(), -1);
  EXPECT_EQ(Px(*v, 0, 0), 0x00FF00u);
  EXPECT_EQ(Px(*v, 99, 59), 0x00FF00u);
}

TEST(MViewLayout, GridWidthZeroMinusOneAndSingle) {
  auto v = MakeView(100, 60);
  AddImages(*v, 5);
  // GridWidth 0: one row, extent from the last cell.
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(v->GetImageRow(i), 0);
    EXPECT_EQ(v->GetImageX(i), 2 + i * 22);
  }
  EXPECT_EQ(v->GetExtentX(), 2 + 4 * 22 + 22);
  // -1: as many as fit (100 - 2) div 22 = 4 per row.
  v->SetGridWidth(-1);
  EXPECT_EQ(v->GetImageRow(3), 0);
  EXPECT_EQ(v->GetImageRow(4), 1);
  EXPECT_EQ(v->GetImageCol(4), 0);
  EXPECT_EQ(v->GetImageY(4), 24);
  EXPECT_EQ(v->ImageAtPos(2 + 22 + 5, 5), 1);
  EXPECT_EQ(v->ImageAtPos(1, 1), -1);  // the border
  // A client narrower than one cell never wraps.
  v->SetBounds(0, 0, 15, 60);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(v->GetImageRow(i), 0);
  // A fixed width of 2.
  v->SetGridWidth(2);
  EXPECT_EQ(v->GetImageRow(4), 2);
  EXPECT_EQ(v->GetImageCol(3), 1);
  // Single mode: every cell at the first position, only the visible frame painted.
  v->SetBounds(0, 0, 100, 60);
  v->SetDisplayMode(mdSingle);
  v->SetVisibleFrame(3);
  v->SetVisibleSelection(false);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(v->GetImageX(i), 2);
    EXPECT_EQ(v->GetImageY(i), 2);
  }
  EXPECT_EQ(v->GetExtentX(), 24);
  v->SetBackGround(0x00FF00);
  EXPECT_EQ(Px(*v, 10, 10), 0x400000u);  // image 3 is red 0x40
  EXPECT_EQ(Px(*v, 30, 10), 0x00FF00u);  // nothing at image 1's grid place
}

TEST(MViewPaint, PictureFittedCentredWithBackgroundAndFrame) {
  auto v = MakeView(100, 60);
  v->SetBackGround(0x00FF00);
  TBitmap b;
  Solid(b, 40, 20, 0xFF0000);  // blue, twice as wide as high
  v->AppendImage();
  v->SetImage(0, &b);
  v->SetImageBackground(0, 0x0000FF);
  v->SetSelectionColor(0xFFFFFF);
  // The 40 x 20 picture fits the 20 x 20 cell as 20 x 10 at rows 5..14.
  EXPECT_EQ(Px(*v, 12, 10), 0x0000FFu);  // picture (blue as 0xRRGGBB)
  EXPECT_EQ(Px(*v, 12, 4), 0xFF0000u);   // cell background above it (red)
  EXPECT_EQ(Px(*v, 12, 18), 0xFF0000u);  // and below
  EXPECT_EQ(Px(*v, 1, 1), 0xFFFFFFu);    // the selection frame, 1 pixel without focus
  EXPECT_EQ(Px(*v, 0, 0), 0x00FF00u);    // gap
  EXPECT_EQ(Px(*v, 50, 30), 0x00FF00u);
  // Gaps above and below narrow the picture's area.
  v->SetUpperGap(10);
  EXPECT_EQ(Px(*v, 12, 8), 0xFF0000u);
  EXPECT_EQ(Px(*v, 12, 14), 0x0000FFu);
}

TEST(MViewList, DeletionRules) {
  auto v = MakeView(200, 60);
  AddImages(*v, 4);
  // The last image is selected after appending; deleting it selects the new last.
  ASSERT_EQ(v->GetSelectedItem(), 3);
  EXPECT_TRUE(v->DeleteImageNU(3));
  EXPECT_EQ(v->GetSelectedItem(), 2);
  EXPECT_EQ(RedOf(*v, 2), 0x30);
  ASSERT_NE(v->GetBitmap(), nullptr);
  // Deleting before the selection keeps the same picture selected at index - 1.
  EXPECT_TRUE(v->DeleteImageNU(0));
  EXPECT_EQ(v->GetSelectedItem(), 1);
  EXPECT_EQ(v->GetBitmap()->Scanline(0)[2], 0x30);
  // Deleting the selected image that is not last selects its follower.
  v->SetSelectedItem(0);
  EXPECT_TRUE(v->DeleteImageNU(0));
  EXPECT_EQ(v->GetSelectedItem(), 0);
  EXPECT_EQ(v->GetBitmap()->Scanline(0)[2], 0x30);
  EXPECT_FALSE(v->DeleteImageNU(5));
  EXPECT_EQ(v->GetLastOp(), 2);
  EXPECT_EQ(v->GetLastOp(), 0);  // read once
  // The only image.
  v->DeleteImage(0);
  EXPECT_EQ(v->GetImageCount(), 0);
  EXPECT_EQ(v->GetSelectedItem(), -1);
  EXPECT_EQ(v->GetBitmap(), nullptr);
}

TEST(MViewList, InsertBeforeSelectionReleasesTheRightImage) {
  auto v = MakeView(200, 60);
  AddImages(*v, 3);
  v->SetSelectedItem(1);
  v->InsertImage(0);
  EXPECT_EQ(v->GetSelectedItem(), 0);
  EXPECT_EQ(v->GetLastOp(), 1);
  EXPECT_EQ(v->GetLastOpIdx(), 0);
  // The image that was selected (now at 2) went back to the compact store.
  EXPECT_NE(v->GetBitmapInfo(2), nullptr);
  EXPECT_EQ(v->GetImageInfo(2)->BmpCount, 0);
  EXPECT_EQ(RedOf(*v, 2), 0x20);
  // The new image is absent and gives no bitmap.
  EXPECT_EQ(v->GetBitmap(0), nullptr);
  EXPECT_EQ(v->GetImageInfo(0)->BmpCount, 0);
}

TEST(MViewLoans, TwoLoansTwoReleasesAndChangesPersist) {
  auto v = MakeView(200, 60);
  AddImages(*v, 2);
  v->Deselect();
  TBitmap* a = v->GetBitmap(0);
  TBitmap* b = v->GetBitmap(0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(v->GetBitmapInfo(0), nullptr);
  a->Scanline(0)[0] = 0x77;
  v->ReleaseBitmap(0);
  EXPECT_EQ(v->GetBitmapInfo(0), nullptr);  // still lent
  v->ReleaseBitmap(0);
  EXPECT_NE(v->GetBitmapInfo(0), nullptr);
  v->ReleaseBitmap(0);  // one too many: nothing below 0
  EXPECT_EQ(v->GetImageInfo(0)->BmpCount, 0);
  TBitmap* c = v->GetBitmap(0);
  EXPECT_EQ(c->Scanline(0)[0], 0x77);
  EXPECT_EQ(v->GetImageWidth(0), 20);
  v->ReleaseBitmap(0);
  EXPECT_EQ(v->GetImageWidth(0), 20);  // from the compact header
  v->FreeImage(0);
  EXPECT_EQ(v->GetImageWidth(0), 0);
  EXPECT_EQ(v->GetBitmap(0), nullptr);
}

TEST(MViewLoans, SetImageFromItsOwnLentBitmap) {
  auto v = MakeView(200, 60);
  AddImages(*v, 1);
  TBitmap* own = v->GetBitmap();  // the selection's lent bitmap
  ASSERT_NE(own, nullptr);
  own->Scanline(0)[0] = 0x55;
  v->SetImage(0, own);
  ASSERT_NE(v->GetBitmap(), nullptr);
  EXPECT_EQ(v->GetBitmap()->Scanline(0)[0], 0x55);
  EXPECT_EQ(v->GetBitmap()->Width(), 20);
}

TEST(MViewLoans, ThumbStoreAndRect) {
  auto v = MakeView(200, 60);
  v->SetStoreType(kvtThumb);
  TBitmap b;
  Solid(b, 400, 100, 0x123456);
  v->AppendImage();
  v->SetImageNU(0, &b);
  EXPECT_EQ(v->GetImageWidth(0), 20);
  EXPECT_EQ(v->GetImageHeight(0), 5);
  EXPECT_EQ(unsigned(RedOf(*v, 0)), 0x56u);
  v->SetStoreType(kvtNormal);
  v->SetImageRect(0, &b, 10, 20, 0, 29);
  EXPECT_EQ(v->GetImageWidth(0), 390);
  EXPECT_EQ(v->GetImageHeight(0), 10);
}

TEST(MViewDemand, IdRequestAndEmptyAnswerLeavesImageAbsent) {
  auto v = MakeView(200, 60);
  TBitmap given;
  Solid(given, 30, 10, 0x0000AA);
  int asked = 0;
  v->OnImageIDRequest = [&](TObject*, int id, TBitmap*& bmp) {
    ++asked;
    if (id == 7) bmp = &given;
  };
  v->AppendImage();
  v->AppendImage();
  v->Deselect();
  v->SetImageID(0, 7);
  v->SetImageID(1, 8);
  EXPECT_EQ(v->GetImageFileName(0), "");
  TBitmap* b = v->GetBitmap(0);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(b, &given);  // a copy; the handler keeps its own
  EXPECT_EQ(b->Width(), 30);
  v->ReleaseBitmap(0);
  EXPECT_EQ(v->GetBitmap(1), nullptr);
  EXPECT_EQ(v->GetImageInfo(1)->BmpCount, 0);
  EXPECT_EQ(asked, 2);
  // Painting asks for the missing one again and fills its cell with the background.
  v->SetImageBackground(1, 0x00FFFF);
  EXPECT_EQ(Px(*v, 22 + 10, 10), 0xFFFF00u);
  EXPECT_EQ(asked, 3);
}

TEST(MViewDemand, FileImagesDroppedOutOfViewSelectionKept) {
  auto dir = std::filesystem::temp_directory_path() / "korvane_mview_files";
  std::filesystem::create_directories(dir);
  const int n = 12;
  for (int i = 0; i < n; ++i) {
    TBitmap b;
    Solid(b, 40, 40, TColor(0x10 * (i + 1)));
    TKorvaneIO io;
    io.SetAttachedBitmap(&b);
    io.SaveToFileBMP((dir / ("f" + std::to_string(i) + ".bmp")).string());
  }
  auto v = MakeView(60, 30);  // two cells visible in the single row
  v->LockPaint();
  for (int i = 0; i < n; ++i) {
    v->AppendImage();
    v->SetImageFileName(i, (dir / ("f" + std::to_string(i) + ".bmp")).string());
  }
  v->SetSelectedItem(0);  // loads image 0 on loan
  v->UnLockPaint();
  v->Repaint();
  EXPECT_NE(v->GetBitmap(), nullptr);
  EXPECT_NE(v->GetBitmapInfo(1), nullptr);  // visible: loaded
  EXPECT_EQ(v->GetBitmapInfo(5), nullptr);  // never shown
  EXPECT_EQ(Px(*v, 22 + 10, 10), 0x200000u);
  // Scroll to the end: the second cell is dropped, the selection is not.
  v->SetViewX(v->GetExtentX());
  v->Repaint();
  EXPECT_EQ(v->GetBitmapInfo(1), nullptr);
  EXPECT_NE(v->GetBitmap(), nullptr);
  EXPECT_NE(v->GetBitmapInfo(n - 1), nullptr);
  int held = 0;
  for (int i = 0; i < n; ++i) held += v->GetBitmapInfo(i) != nullptr;
  EXPECT_LE(held, 3);
  // And back: reloaded from its file.
  v->SetViewX(0);
  v->Repaint();
  EXPECT_NE(v->GetBitmapInfo(1), nullptr);
  EXPECT_EQ(Px(*v, 22 + 10, 10), 0x200000u);
  EXPECT_EQ(RedOf(*v, 1), 0x20);
  std::filesystem::remove_all(dir);
}

TEST(MViewPlay, TimerIntervalsAndEndWithoutLoop) {
  auto v = MakeView(200, 60);
  AddImages(*v, 3);
  v->SetImageDelayTime(0, 0);
  v->SetImageDelayTime(1, 50);
  v->SetImageDelayTime(2, 200);
  v->SetSelectedItem(1);
  v->SetPlayLoop(false);
  v->SetPlaying(true);
  EXPECT_TRUE(v->GetPlaying());
  EXPECT_EQ(v->GetDisplayMode(), mdSingle);
  EXPECT_EQ(v->GetSelectedItem(), -1);
  EXPECT_EQ(v->PlayTimerInterval(), 10);
  EXPECT_EQ(v->GetVisibleFrame(), 1);
  // Selection and display-mode changes wait while playing.
  v->SetSelectedItem(2);
  EXPECT_EQ(v->GetSelectedItem(), -1);
  v->SetDisplayMode(mdGrid);
  EXPECT_EQ(v->GetDisplayMode(), mdSingle);
  v->PlayFrame();
  EXPECT_EQ(v->PlayTimerInterval(), 50);
  v->PlayFrame();
  EXPECT_FALSE(v->GetPlaying());
  EXPECT_EQ(v->GetVisibleFrame(), 0);
  EXPECT_EQ(v->PlayTimerInterval(), 0);
  EXPECT_FALSE(v->TimerActive(TKorvaneMView::kPlayTimer));
}

TEST(MViewPlay, RunsOnTheTimerAndStopRestores) {
  auto v = MakeView(200, 60);
  AddImages(*v, 3);
  for (int i = 0; i < 3; ++i) v->SetImageDelayTime(i, 10);
  v->SetSelectedItem(2);
  v->SetPlaying(true);
  std::vector<int> shown;
  v->OnImageDraw = [&](TObject*, int idx, int, int, TCanvas*) { shown.push_back(idx); };
  QTRY_VERIFY_WITH_TIMEOUT(shown.size() >= 4, 5000);
  // Looping: every frame comes round.
  EXPECT_NE(std::find(shown.begin(), shown.end(), 0), shown.end());
  EXPECT_NE(std::find(shown.begin(), shown.end(), 2), shown.end());
  v->SetPlaying(false);
  EXPECT_FALSE(v->TimerActive(TKorvaneMView::kPlayTimer));
  EXPECT_EQ(v->GetDisplayMode(), mdGrid);
  EXPECT_EQ(v->GetSelectedItem(), 2);
}

TEST(MViewPlay, EmptyListStopsAtOnceAndRestores) {
  auto v = MakeView(200, 60);
  // Nothing to play: the run ends at once instead of leaving the view
  // playing without a timer, with selection blocked.
  v->SetPlaying(true);
  EXPECT_FALSE(v->GetPlaying());
  EXPECT_FALSE(v->TimerActive(TKorvaneMView::kPlayTimer));
  EXPECT_EQ(v->GetDisplayMode(), mdGrid);
  AddImages(*v, 2);
  EXPECT_FALSE(v->GetPlaying());
  EXPECT_EQ(v->GetDisplayMode(), mdGrid);
  v->SetSelectedItem(0);
  EXPECT_EQ(v->GetSelectedItem(), 0);
  EXPECT_EQ(v->GetBitmap()->Scanline(0)[2], 0x10);
}

TEST(MViewInput, ClicksSelectOnlyOnCells) {
  auto v = MakeView(200, 60);
  AddImages(*v, 3);
  v->SetSelectedItem(0);
  int fired = 0, last = -1;
  v->OnImageSelect = [&](TObject*, int idx) { ++fired, last = idx; };
  QTest::mouseClick(v.get(), Qt::LeftButton, {}, v->ClientArea().topLeft() + QPoint(100, 40));
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(v->GetSelectedItem(), 0);
  QTest::mouseClick(v.get(), Qt::LeftButton, {}, v->ClientArea().topLeft() + QPoint(2 + 44 + 5, 5));
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(last, 2);
  EXPECT_EQ(v->GetSelectedItem(), 2);
  EXPECT_EQ(v->GetBitmap()->Scanline(0)[2], 0x30);
}

TEST(MViewInput, DragScrollFollowsTheHand) {
  auto v = MakeView(50, 30);
  AddImages(*v, 6);
  v->SetMouseInteract(TKVMMouseInteract{mmiScroll});
  QPoint o = v->ClientArea().topLeft();
  QTest::mousePress(v.get(), Qt::LeftButton, {}, o + QPoint(40, 10));
  QTest::mouseMove(v.get(), o + QPoint(10, 10));
  EXPECT_EQ(v->GetViewX(), 30);
  QTest::mouseRelease(v.get(), Qt::LeftButton, {}, o + QPoint(5, 10));
  EXPECT_EQ(v->GetViewX(), 35);
}

TEST(MViewInput, KeysAndSeeking) {
  auto v = MakeView(100, 52);  // 4 columns, 2 rows of cells
  v->SetGridWidth(-1);
  AddImages(*v, 10);
  v->SetSelectedItem(1);
  v->setFocus();
  QTest::keyClick(v.get(), Qt::Key_Down);
  EXPECT_EQ(v->GetSelectedItem(), 5);
  QTest::keyClick(v.get(), Qt::Key_Right);
  EXPECT_EQ(v->GetSelectedItem(), 6);
  QTest::keyClick(v.get(), Qt::Key_Up);
  EXPECT_EQ(v->GetSelectedItem(), 2);
  QTest::keyClick(v.get(), Qt::Key_End);
  EXPECT_EQ(v->GetSelectedItem(), 9);
  EXPECT_EQ(v->GetImageVisibility(9), 2);  // scrolled into view
  // A page down past the end leaves the selection where it is.
  v->SetSelectedItem(3);
  v->SelectSeek(iskPagDown);
  EXPECT_EQ(v->GetSelectedItem(), 3);
  v->SetSelectedItem(1);
  v->SelectSeek(iskPagDown);
  EXPECT_EQ(v->GetSelectedItem(), 9);
  QTest::keyClick(v.get(), Qt::Key_Home);
  EXPECT_EQ(v->GetSelectedItem(), 0);
  EXPECT_EQ(v->GetViewY(), 0);
  v->SelectSeek(iskLeft);
  EXPECT_EQ(v->GetSelectedItem(), 0);
}

TEST(MViewLayout, ScrollBarsAndVisibility) {
  auto v = MakeView(60, 40);
  AddImages(*v, 6);
  v->SetScrollBars(ssHorizontal);
  EXPECT_TRUE(v->ScrollBarVisible(SB_HORZ));
  int mx, my;
  v->GetMaxViewXY(mx, my);
  EXPECT_EQ(mx, v->GetExtentX() - v->ClientWidth());
  v->SetViewX(100000);
  EXPECT_EQ(v->GetViewX(), mx);
  EXPECT_EQ(v->GetScrollPos(SB_HORZ), mx);
  EXPECT_EQ(v->GetImageVisibility(5), 2);
  EXPECT_EQ(v->GetImageVisibility(0), 0);
  v->SetViewX(10);
  EXPECT_EQ(v->GetImageVisibility(0), 1);
  // Removing images pulls the origin back into range.
  int changes = 0;
  v->OnViewChange = [&](TObject*, int) { ++changes; };
  v->SetViewX(mx);
  while (v->GetImageCount() > 1) v->DeleteImage(0);
  EXPECT_EQ(v->GetViewX(), 0);
  EXPECT_GE(changes, 1);
  EXPECT_FALSE(v->ScrollBarVisible(SB_HORZ));
}

TEST(MViewLoans, NoBlockOutlivesTheView) {
  const int before = GlobalBlockCount();
  {
    auto v = MakeView(100, 60);
    AddImages(*v, 5);
    v->GetBitmap(1);
    v->SetSelectedItem(3);
    v->Repaint();
    v->DeleteImage(2);
  }
  EXPECT_EQ(GlobalBlockCount(), before);
}
