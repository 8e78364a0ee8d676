// The multi-image view over real files that change under it: files deleted
// or replaced while their cells are shown, loans kept across on-demand loads,
// attached components following every change of the lent bitmap, a view
// destroyed while it plays, thumbnail and memory limits of video loads, list
// index errors and the scroll bars.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QScrollBar>
#include <filesystem>
#include <fstream>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/winsys.h"
#include "korvane/io/kvio.h"
#include "korvane/multi/kvmio.h"
#include "korvane/multi/kvmview.h"
#include "korvane/pixels/dib_procs.h"
#include "korvane/proc/kvproc.h"
#include "tests/test_support.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

// A scratch folder removed with the object.
struct Scratch {
  explicit Scratch(const char* tag)
      : dir(fs::temp_directory_path() / (std::string("korvane_") + tag + "_" + std::to_string(::getpid()))) {
    fs::create_directories(dir);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::string File(int i) const { return (dir / ("f" + std::to_string(i) + ".bmp")).string(); }
  fs::path dir;
};

// A solid 24-bit bitmap of the colour 0xRRGGBB.
void Solid(TBitmap& b, int w, int h, unsigned rgb) {
  b.Allocate(w, h, pf24bit);
  for (int y = 0; y < h; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(b.Scanline(y));
    for (int x = 0; x < w; ++x) row[x] = TRGB{uint8_t(rgb), uint8_t(rgb >> 8), uint8_t(rgb >> 16)};
  }
}

// Writes a w x h BMP of one colour (0xRRGGBB).
void WriteBmp(const std::string& name, unsigned rgb, int w = 20, int h = 20) {
  TBitmap b;
  Solid(b, w, h, rgb);
  TKorvaneIO io;
  io.SetAttachedBitmap(&b);
  io.SaveToFileBMP(name);
}

// Replaces a file with bytes no reader takes.
void Garble(const std::string& name) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << "BM this is no longer a picture";
}

// Red of image i's picture (0xRRGGBB colours above: red is the top byte).
unsigned Red(TBitmap* b) { return b ? b->Scanline(0)[2] : 999u; }

// The colour of file i: distinct reds.
unsigned ColorOf(int i) { return unsigned(0x10 * (i + 1)) << 16 | 0x0040; }

unsigned Px(TKorvaneMView& v, int x, int y) { return v.ClientImage().pixel(x, y) & 0xFFFFFF; }

// A view of cw x ch client pixels with cell x cell cells and 2-pixel borders.
std::unique_ptr<TKorvaneMView> MakeView(int cw, int ch, int cell = 20) {
  auto v = std::make_unique<TKorvaneMView>(nullptr);
  v->SetBorderStyle(bsNone);
  v->SetBounds(0, 0, cw, ch);
  v->SetThumbWidth(cell);
  v->SetThumbHeight(cell);
  v->SetHorizBorder(2);
  v->SetVertBorder(2);
  return v;
}

// n images naming files f0..f(n-1) of the scratch folder, written first.
void AddFiles(TKorvaneMView& v, const Scratch& s, int n, int w = 20, int h = 20) {
  v.LockPaint();
  for (int i = 0; i < n; ++i) {
    WriteBmp(s.File(i), ColorOf(i), w, h);
    v.AppendImage();
    v.SetImageFileName(i, s.File(i));
  }
  v.Deselect();
  v.NPUnLockPaint();
}

}  // namespace

TEST(MViewFiles, DeletedAndBrokenFilesPaintAsAbsentAndPaintingGoesOn) {
  Scratch s("mvpaint");
  auto v = MakeView(230, 50, 40);  // five 40 x 40 cells in one row
  v->SetBackGround(0x00FF00);
  AddFiles(*v, s, 5);
  v->Repaint();
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Px(*v, 2 + 42 * i + 20, 20), ColorOf(i)) << i;
  // Files 1 and 3 go bad while the view shows them; the view has dropped
  // their pictures (as it does when their cells scroll away) and reloads.
  fs::remove(s.File(1));
  Garble(s.File(3));
  v->FreeImage(1);
  v->FreeImage(3);
  v->SetImageBackground(1, 0x000000);
  v->Repaint();
  for (int i : {0, 2, 4}) EXPECT_EQ(Px(*v, 2 + 42 * i + 20, 20), ColorOf(i)) << i;
  EXPECT_EQ(Px(*v, 225, 20), 0x00FF00u);  // the gaps, filled last
  // An absent cell: its background inside a frame that stands out (white
  // on black, black on green), and the file's name.
  for (int i : {1, 3}) {
    const int x = 2 + 42 * i;
    const unsigned bg = Px(*v, x + 20, 36), ink = Px(*v, x, 2);
    EXPECT_NE(bg, ink) << i;
    EXPECT_EQ(Px(*v, x + 39, 41), ink) << i;
    int inked = 0;
    for (int y = 5; y < 16; ++y)
      for (int xx = x + 3; xx < x + 30; ++xx) inked += Px(*v, xx, y) == ink;
    EXPECT_GT(inked, 5) << "file name drawn in cell " << i;
  }
  EXPECT_EQ(Px(*v, 2 + 42 + 20, 36), 0x000000u);
  EXPECT_EQ(v->GetBitmapInfo(1), nullptr);
  // Later paints are whole: nothing is left clipped away.
  v->SetBackGround(clRed);
  v->Repaint();
  EXPECT_EQ(Px(*v, 225, 20), 0xFF0000u);
  EXPECT_EQ(Px(*v, 1, 1), 0xFF0000u);
  EXPECT_EQ(Px(*v, 2 + 42 * 4 + 20, 20), ColorOf(4));
  // A handler that raises while a cell is drawn leaves the canvas unclipped.
  TBitmap shot;
  shot.Allocate(230, 50, pf24bit);
  v->OnImageDraw = [](TObject*, int idx, int, int, TCanvas*) {
    if (idx == 2) throw std::runtime_error("handler failed");
  };
  EXPECT_THROW(v->PaintTo(shot.Canvas()), std::runtime_error);
  EXPECT_FALSE(shot.Canvas()->HasClip());
  // A file that works again is shown again.
  WriteBmp(s.File(1), 0xABCDEF);
  v->OnImageDraw = nullptr;
  v->Repaint();
  EXPECT_EQ(Px(*v, 2 + 42 + 20, 20), 0xABCDEFu);
}

TEST(MViewFiles, SelectionOfAFileThatFailsStillMovesAndListsStayInStep) {
  InstallKorvaneLZWCoders();
  Scratch s("mvsel");
  auto v = MakeView(200, 30);
  TKorvaneMIO mio;
  mio.SetAttachedMView(v.get());
  AddFiles(*v, s, 4);
  ASSERT_EQ(mio.GetParamsCount(), 4);
  v->SetSelectedItem(1);
  ASSERT_EQ(Red(v->GetBitmap()), ColorOf(1) >> 16);
  // Deleting the selection selects its follower, whose file is gone: the
  // deletion stands and the parameters list follows it.
  fs::remove(s.File(2));
  EXPECT_NO_THROW(v->DeleteImage(1));
  EXPECT_EQ(v->GetImageCount(), 3);
  EXPECT_EQ(mio.GetParamsCount(), 3);
  EXPECT_EQ(v->GetSelectedItem(), 1);
  EXPECT_EQ(v->GetBitmap(), nullptr);
  EXPECT_EQ(v->GetImageInfo(1)->BmpCount, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(mio.GetParams(i)->GIF_ImageIndex, i);
  // Selecting a broken file reports the loader's error after the selection
  // moved and OnImageSelect told of it.
  Garble(s.File(3));
  int told = -1;
  v->OnImageSelect = [&](TObject*, int idx) { told = idx; };
  EXPECT_ANY_THROW(v->SetSelectedItem(2));
  EXPECT_EQ(v->GetSelectedItem(), 2);
  EXPECT_EQ(told, 2);
  EXPECT_EQ(v->GetBitmap(), nullptr);
  // And a good one afterwards works as before.
  v->SetSelectedItem(0);
  EXPECT_EQ(Red(v->GetBitmap()), ColorOf(0) >> 16);
  v->DeleteImage(2);
  v->DeleteImage(1);
  EXPECT_EQ(mio.GetParamsCount(), 1);
}

TEST(MViewLoans, OnDemandLoadKeepsTheLoanThatAsked) {
  InstallKorvaneLZWCoders();
  Scratch s("mvloan");
  auto v = MakeView(100, 52);  // 4 columns, 2 rows of cells
  v->SetGridWidth(-1);
  TKorvaneMIO mio;
  mio.SetAttachedMView(v.get());
  TKorvaneProc proc;
  proc.SetAttachedKorvane(v.get());
  AddFiles(*v, s, 10);
  v->SetSelectedItem(1);
  // A page down lands on image 9, the last, off screen and never loaded: it
  // is loaded for the selection's loan, which must survive the load.
  ASSERT_EQ(v->GetBitmapInfo(9), nullptr);
  v->SelectSeek(iskPagDown);
  ASSERT_EQ(v->GetSelectedItem(), 9);
  EXPECT_EQ(v->GetImageInfo(9)->BmpCount, 1);
  ASSERT_NE(v->GetBitmap(), nullptr);
  // The file changes on disk meanwhile; the view keeps the picture it lent.
  WriteBmp(s.File(9), 0x0000FF);
  // The save borrows and returns every image, the selection's included.
  mio.SaveToFile((s.dir / "x.gif").string());
  EXPECT_EQ(v->GetImageInfo(9)->BmpCount, 1);
  EXPECT_NE(v->GetBitmap(), nullptr);
  // The processing component still works on a live bitmap.
  proc.Negative();
  EXPECT_EQ(Red(v->GetBitmap()), 255 - (ColorOf(9) >> 16));
  // A second loan and its release leave the selection's loan standing.
  TBitmap* again = v->GetBitmap(9);
  EXPECT_EQ(again, v->GetBitmap());
  v->ReleaseBitmap(9);
  EXPECT_EQ(v->GetImageInfo(9)->BmpCount, 1);
  v->Deselect();
  EXPECT_EQ(v->GetImageInfo(9)->BmpCount, 0);
  EXPECT_NE(v->GetBitmapInfo(9), nullptr);
}

TEST(MViewLoans, NewPictureForALentImageGoesIntoTheLentBitmap) {
  auto v = MakeView(200, 30);
  TBitmap a, b;
  Solid(a, 20, 20, 0x112233);
  Solid(b, 30, 10, 0x445566);
  v->AppendImage();
  v->SetImage(0, &a);
  TBitmap* sel = v->GetBitmap();
  TBitmap* mine = v->GetBitmap(0);  // a second borrower
  ASSERT_EQ(sel, mine);
  v->SetImage(0, &b);
  EXPECT_EQ(v->GetBitmap(), mine);
  EXPECT_EQ(mine->Width(), 30);
  EXPECT_EQ(Red(mine), 0x44u);
  EXPECT_EQ(v->GetImageInfo(0)->BmpCount, 2);
  v->ReleaseBitmap(0);
  v->Deselect();
  EXPECT_EQ(v->GetImageInfo(0)->BmpCount, 0);
  EXPECT_EQ(v->GetImageWidth(0), 30);
}

TEST(MViewNotify, EveryChangeOfTheLentBitmapReachesAttachedComponents) {
  Scratch s("mvnote");
  auto v = MakeView(200, 30);
  TKorvaneProc proc;
  proc.SetAttachedKorvane(v.get());
  AddFiles(*v, s, 5);
  v->Repaint();  // every cell on screen: the pictures are held, no load below
  // A listener of our own records what it was told.
  TBitmap* told = nullptr;
  int calls = 0;
  TObject key;
  v->RegisterBitmapChangeEvent(&key, [&](TObject*) { ++calls, told = v->GetBitmap(); });
  auto redOf = [&](int idx) {
    TBitmap* b = v->GetBitmap(idx);
    unsigned r = Red(b);
    if (b) v->ReleaseBitmap(idx);
    return r;
  };
  v->SetSelectedItem(1);
  // Selection moves without a repaint: the old bitmap goes back to the store.
  v->SetSelectedItemNU(2);
  EXPECT_EQ(told, v->GetBitmap());
  proc.Negative();
  EXPECT_EQ(redOf(2), 255 - (ColorOf(2) >> 16));
  EXPECT_EQ(redOf(1), ColorOf(1) >> 16);
  // No selection: the component works on nothing.
  v->DeselectNU();
  EXPECT_EQ(told, nullptr);
  proc.Negative();
  EXPECT_EQ(redOf(2), 255 - (ColorOf(2) >> 16));
  // The selection's picture freed, then its file replaced and reloaded.
  v->SetSelectedItemNU(3);
  v->FreeImage(3);
  EXPECT_EQ(told, nullptr);
  proc.Negative();
  WriteBmp(s.File(3), 0x0000FF);
  v->SetSelectedItemNU(3);
  EXPECT_EQ(told, v->GetBitmap());
  proc.Negative();
  EXPECT_EQ(redOf(3), 255u);
  // A DIB stored for the selection.
  TBitmap other;
  Solid(other, 8, 8, 0x300000);
  calls = 0;
  v->SetImageDIBNU(3, _CopyBitmaptoDIB(&other, 0, 0, 0, 0));
  EXPECT_GE(calls, 1);
  EXPECT_EQ(told, v->GetBitmap());
  proc.Negative();
  EXPECT_EQ(redOf(3), 255u - 0x30);
  EXPECT_EQ(v->GetImageWidth(3), 8);
  // Deleting the selected file image moves the selection to a file that is
  // gone (and whose picture the view had let go); the component is told and
  // works on nothing.
  fs::remove(s.File(4));
  v->FreeImage(4);
  v->DeleteImageNU(3);
  EXPECT_EQ(v->GetSelectedItem(), 3);
  EXPECT_EQ(told, nullptr);
  proc.Negative();
  v->RemoveBitmapChangeEvent(&key);
}

TEST(MViewLifetime, DestroyingAPlayingViewFiresNothingAndLoadsNothing) {
  Scratch s("mvdtor");
  for (bool owned : {false, true}) {
    SCOPED_TRACE(owned);
    auto owner = std::make_unique<TComponent>(nullptr);
    auto* v = new TKorvaneMView(owned ? owner.get() : nullptr);
    v->SetBounds(0, 0, 200, 60);
    AddFiles(*v, s, 4);
    v->AppendImage();
    v->SetImageID(4, 7);
    int events = 0;
    TBitmap given;
    Solid(given, 4, 4, 0x123456);
    v->OnImageIDRequest = [&](TObject*, int, TBitmap*& b) { ++events, b = &given; };
    v->SetSelectedItem(4);  // the ID image: obtained for the selection
    v->FreeImage(2);
    v->OnImageSelect = [&](TObject*, int) { ++events; };
    v->OnViewChange = [&](TObject*, int) { ++events; };
    v->OnImageDraw = [&](TObject*, int, int, int, TCanvas*) { ++events; };
    v->OnIOProgress = [&](TObject*, int) { ++events; };
    v->SetPlaying(true);
    ASSERT_TRUE(v->GetPlaying());
    // The files go while it plays.
    fs::remove(s.File(1));
    Garble(s.File(2));
    v->FreeImage(4);
    events = 0;
    if (owned)
      owner.reset();
    else
      delete v;
    EXPECT_EQ(events, 0);
  }
}

TEST(MViewDemand, OneFrameAtATimeHoldsOnlyTheFrameShown) {
  Scratch s("mvsingle");
  auto v = MakeView(100, 60);
  AddFiles(*v, s, 30);
  v->SetDisplayMode(mdSingle);
  const int64_t picture = 40 + 20 * 20 * 3;
  for (int i = 0; i < 30; ++i) {
    v->SetVisibleFrame(i);
    v->Repaint();
    ASSERT_LE(v->GetStoreBytes(), picture) << i;
  }
  EXPECT_NE(v->GetBitmapInfo(29), nullptr);
}

TEST(MViewList, NegativeInsertIndexRaisesListError) {
  auto v = MakeView(200, 60);
  v->AppendImage();
  EXPECT_THROW(v->InsertImage(-1), EListError);
  EXPECT_THROW(v->InsertImage(-100), EListError);
  EXPECT_EQ(v->GetImageCount(), 1);
  EXPECT_EQ(v->GetSelectedItem(), 0);
}

TEST(MViewAvi, VideoLoadsHonourThumbnailsAndTheMemoryLimit) {
  Scratch s("mvavi");
  const std::string avi = (s.dir / "clip.avi").string();
  {
    TKorvaneMView src(nullptr);
    TKorvaneMIO out;
    out.SetAttachedMView(&src);
    for (int i = 0; i < 12; ++i) {
      TBitmap b;
      korvane::test::FillPattern24(b, 160, 120, unsigned(i));
      src.SetImage(src.AppendImage(), &b);
      src.SetImageDelayTime(i, 40);
    }
    out.AVICompressor.Encoder = "rawvideo";
    out.SaveToFileAVI(avi);
  }
  {
    TKorvaneMView v(nullptr);
    v.SetThumbWidth(40);
    v.SetThumbHeight(40);
    v.SetStoreType(kvtThumb);
    TKorvaneMIO mio;
    mio.SetAttachedMView(&v);
    mio.LoadFromFileAVI(avi);
    ASSERT_EQ(v.GetImageCount(), 12);
    for (int i = 0; i < 12; ++i) {
      EXPECT_EQ(v.GetImageWidth(i), 40) << i;
      EXPECT_EQ(v.GetImageHeight(i), 30) << i;
    }
    EXPECT_LT(v.GetStoreBytes(), 12 * 5000);
  }
  {
    // Room for five full frames: the sixth stops the load with an error;
    // what was loaded stays, and no empty image is left behind.
    TKorvaneMView v(nullptr);
    TKorvaneMIO mio;
    mio.SetAttachedMView(&v);
    const int64_t frame = 40 + 160 * 120 * 3;
    v.SetStoreLimit(5 * frame + frame / 2);
    try {
      mio.LoadFromFileAVI(avi);
      ADD_FAILURE() << "the load went past the limit";
    } catch (const EOutOfResources& e) {
      EXPECT_NE(std::string(e.what()).find("memory"), std::string::npos) << e.what();
    }
    EXPECT_EQ(v.GetImageCount(), 5);
    EXPECT_EQ(mio.GetParamsCount(), 5);
    EXPECT_LE(v.GetStoreBytes(), v.GetStoreLimit());
    for (int i = 0; i < 5; ++i) EXPECT_EQ(v.GetImageWidth(i), 160);
    // Pictures that would pass the limit are refused the same way.
    TBitmap big;
    Solid(big, 160, 120, 0);
    v.AppendImage();
    EXPECT_THROW(v.SetImage(5, &big), EOutOfResources);
    EXPECT_EQ(v.GetImageWidth(5), 0);
    v.SetStoreLimit(0);
    v.SetImage(5, &big);
    EXPECT_EQ(v.GetImageWidth(5), 160);
  }
}

TEST(MViewLayout, ScrollBarsFollowTheStyleAndTheThumbPastSixteenBits) {
  auto v = MakeView(100, 60);
  // 400 cells 200 pixels wide in one row: 2 + 400 x 202 = 80,802 pixels.
  v->SetThumbWidth(200);
  v->LockPaint();
  for (int i = 0; i < 400; ++i) v->AppendImage();
  v->NPUnLockPaint();
  ASSERT_EQ(v->GetExtentX(), 80802);
  v->SetScrollBars(ssHorizontal);
  ASSERT_TRUE(v->ScrollBarVisible(SB_HORZ));
  // Dragging the thumb past 65,535 pixels.
  auto* bar = qobject_cast<QScrollBar*>(v->WindowScrollBar(SB_HORZ));
  ASSERT_NE(bar, nullptr);
  bar->setSliderDown(true);
  bar->setSliderPosition(70000);
  EXPECT_EQ(v->GetViewX(), 70000);
  bar->setSliderPosition(65537);
  EXPECT_EQ(v->GetViewX(), 65537);
  bar->setSliderDown(false);
  // Both bars, then none, then one.
  v->SetThumbWidth(20);
  v->SetGridWidth(30);  // 30 columns, 14 rows: wider and taller than the client
  v->SetScrollBars(ssBoth);
  EXPECT_TRUE(v->ScrollBarVisible(SB_HORZ));
  EXPECT_TRUE(v->ScrollBarVisible(SB_VERT));
  v->SetScrollBars(ssNone);
  EXPECT_FALSE(v->ScrollBarVisible(SB_HORZ));
  EXPECT_FALSE(v->ScrollBarVisible(SB_VERT));
  v->SetScrollBars(ssBoth);
  v->SetScrollBars(ssVertical);
  EXPECT_FALSE(v->ScrollBarVisible(SB_HORZ));
  EXPECT_TRUE(v->ScrollBarVisible(SB_VERT));
  v->SetThumbHeight(21);  // a later layout does not bring the dropped bar back
  EXPECT_FALSE(v->ScrollBarVisible(SB_HORZ));
  EXPECT_TRUE(v->ScrollBarVisible(SB_VERT));
}
