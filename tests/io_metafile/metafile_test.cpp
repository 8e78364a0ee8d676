// The metafile player: header detection and sizes, each record family drawn
// against the same drawing done directly on a canvas, mapping modes, and
// damaged or hostile files.
#include <gtest/gtest.h>

#include <chrono>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/picture.h"
#include "korvane/io/metafile/metafile.h"
#include "korvane/view/kvview.h"
#include "tests/io_metafile/metafile_builder.h"
#include "tests/io_metafile/screen_dpi.h"
#include "tests/test_support.h"

using namespace korvane;
using namespace korvane::test;

namespace {

constexpr uint32_t kRed = 0x0000FF, kBlue = 0xFF0000, kGreen = 0x00FF00;  // as COLORREF

// Same pixels, or the first that differs.
::testing::AssertionResult Same(TBitmap& got, TBitmap& ref) {
  if (SamePixels(got, ref)) return ::testing::AssertionSuccess();
  for (int y = 0; y < std::min(got.Height(), ref.Height()); ++y)
    for (int x = 0; x < std::min(got.Width(), ref.Width()); ++x)
      if (Pixel24(got, x, y) != Pixel24(ref, x, y))
        return ::testing::AssertionFailure() << "(" << x << ", " << y << "): " << std::hex << Pixel24(got, x, y)
                                             << " instead of " << Pixel24(ref, x, y);
  return ::testing::AssertionFailure() << "sizes differ";
}

class Metafile : public ::testing::Test {
 protected:
  static void Load(TMetafile& mf, const Bytes& b) {
    TMemoryStream ms;
    ms.WriteBuffer(b.data(), int64_t(b.size()));
    ms.SetPosition(0);
    mf.LoadFromStream(&ms);
  }
  // Plays the file onto a white 100 x 100 bitmap at dest.
  static void Play(const Bytes& b, TBitmap& out, TRect dest = Rect(0, 0, 100, 100)) {
    out.SetSize(100, 100);
    TMetafile mf;
    Load(mf, b);
    mf.Draw(out.Canvas(), dest);
  }
  // A white 100 x 100 reference with the canvas's own defaults.
  static TCanvas* Blank(TBitmap& ref) {
    ref.SetSize(100, 100);
    return ref.Canvas();
  }
  // WMF of identity mapping: 100 x 100 units at 96 units per inch.
  static Bytes Wmf(const WmfWriter& w) { return w.Placeable(0, 0, 100, 100, 96); }
  // EMF of identity mapping: a 0.1 mm pixel, frame 0..99 pixels.
  static Bytes Emf(const EmfWriter& w) { return w.Build(0, 0, 990, 990, 1000, 1000, 100, 100); }

 private:
  test::TScreenDpi96 dpi_;
};

// ---------------------------------------------------------------------------
// Headers and sizes

TEST_F(Metafile, HeadersGiveTheSizeAtScreenResolution) {
  WmfWriter w;
  w.Rectangle(0, 0, 10, 10);
  TMetafile mf;
  Load(mf, w.Placeable(100, 0, 100 + 1440, 720, 1440));  // one inch by half an inch
  EXPECT_FALSE(mf.Enhanced());
  EXPECT_EQ(mf.Width(), 96);
  EXPECT_EQ(mf.Height(), 48);

  WmfWriter bare;
  bare.WindowOrg(-5, -5);
  bare.WindowExt(200, 120);
  bare.WindowExt(7, 7);  // only the first extent counts
  Load(mf, bare.Bare());
  EXPECT_EQ(mf.Width(), 200);
  EXPECT_EQ(mf.Height(), 120);

  EmfWriter e;
  Load(mf, e.Build(0, 0, 2540, 1270, 1000, 1000, 100, 100));  // 1 x 0.5 inch, inclusive
  EXPECT_TRUE(mf.Enhanced());
  EXPECT_EQ(mf.Width(), 97);
  EXPECT_EQ(mf.Height(), 49);

  // The bytes come back as read; a picture reports the metafile's size.
  TMemoryStream out;
  mf.SaveToStream(&out);
  EXPECT_EQ(out.Size(), int64_t(mf.Data().size()));
  TPicture pic;
  auto held = std::make_unique<TMetafile>();
  Load(*held, e.Build(0, 0, 2540, 1270, 1000, 1000, 100, 100));
  pic.SetGraphic(std::move(held));
  EXPECT_EQ(pic.Width(), 97);
  EXPECT_EQ(pic.Height(), 49);
}

TEST_F(Metafile, BadHeadersAreRefusedAndLeaveItEmpty) {
  WmfWriter w;
  w.Rectangle(0, 0, 10, 10);
  Bytes wrongVersion = w.Bare();
  wrongVersion[4] = 0x00;
  wrongVersion[5] = 0x02;
  Bytes noInch = w.Placeable(0, 0, 10, 10, 0);
  Bytes emfNoSignature = EmfWriter().Build(0, 0, 100, 100, 10, 10, 1, 1);
  emfNoSignature[40] = 'X';
  const Bytes cases[] = {Bytes{}, Bytes(3, 0), wrongVersion, noInch, emfNoSignature, Bytes(200, 0xFF)};
  for (const Bytes& b : cases) {
    TMetafile mf;
    if (!b.empty()) Load(mf, w.Bare());
    try {
      Load(mf, b);
      ADD_FAILURE() << "accepted " << b.size() << " bytes";
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "unrecognized WMF or EMF");
    }
    EXPECT_TRUE(mf.Empty());
    EXPECT_EQ(mf.Width(), 0);
  }
}

// ---------------------------------------------------------------------------
// Drawing against the canvas

TEST_F(Metafile, WmfShapesMatchTheCanvas) {
  WmfWriter w;
  w.Pen(0, 1, kRed);      // slot 0
  w.Brush(0, kBlue);      // slot 1
  w.Pen(0, 3, kGreen);    // slot 2
  w.Select(0);
  w.Select(1);
  w.Rectangle(5, 5, 40, 30);
  w.Ellipse(50, 5, 95, 30);
  w.Poly(0x0324, {10, 40, 40, 45, 20, 70});    // polygon
  w.Poly(0x0325, {50, 40, 90, 40, 60, 60});    // polyline
  w.MoveTo(5, 95);
  w.LineTo(95, 75);
  w.Select(2);
  w.MoveTo(5, 80);
  w.LineTo(40, 80);
  w.Rec(0x041F, {0xFFFF, 0x0000, 90, 90});  // SetPixel yellow at (90, 90)
  TBitmap got, ref;
  Play(Wmf(w), got);

  TCanvas* c = Blank(ref);
  c->Pen()->SetColor(clRed);
  c->Brush()->SetColor(clBlue);
  c->Rectangle(5, 5, 40, 30);
  c->Ellipse(50, 5, 95, 30);
  const TPoint poly[] = {{10, 40}, {40, 45}, {20, 70}};
  c->Polygon(poly, 3);
  const TPoint line[] = {{50, 40}, {90, 40}, {60, 60}};
  c->Polyline(line, 3);
  c->MoveTo(5, 95);
  c->LineTo(95, 75);
  c->Pen()->SetColor(clLime);
  c->Pen()->SetWidth(3);
  c->MoveTo(5, 80);
  c->LineTo(40, 80);
  c->SetPixels(90, 90, clYellow);
  EXPECT_TRUE(Same(got, ref));
}

TEST_F(Metafile, EmfShapesStockObjectsAndTextMatchTheCanvas) {
  EmfWriter e;
  e.Select(0x80000004);  // BLACK_BRUSH
  e.Select(0x80000008);  // NULL_PEN
  e.Rectangle(5, 5, 30, 30);
  e.Pen(1, 0, 2, kRed);
  e.Brush(2, 1, 0);  // BS_NULL
  e.Select(1);
  e.Select(2);
  e.Ellipse(40, 5, 90, 30);
  e.Poly16(87, {10, 50, 50, 60, 90, 50});  // POLYLINE16
  e.Rec(24, {kBlue});                     // SETTEXTCOLOR
  e.Rec(25, {kGreen});                    // SETBKCOLOR
  Bytes text;
  for (char ch : std::string("Hi")) Put16(text, uint32_t(ch));
  // EXTTEXTOUTW at (10, 70): bounds, mode, scales, then the text record.
  e.Rec(84, {0, 0, 0, 0, 1, 0, 0, 10, 70, 2, 76, 0, 0, 0, 0, 0, 0}, text);
  TBitmap got, ref;
  Play(Emf(e), got);

  TCanvas* c = Blank(ref);
  c->Pen()->SetStyle(psClear);
  c->Brush()->SetColor(clBlack);
  c->Rectangle(5, 5, 30, 30);
  c->Pen()->SetStyle(psSolid);
  c->Pen()->SetColor(clRed);
  c->Pen()->SetWidth(2);
  c->Brush()->SetStyle(bsClear);
  c->Ellipse(40, 5, 90, 30);
  const TPoint line[] = {{10, 50}, {50, 60}, {90, 50}};
  c->Polyline(line, 3);
  c->Brush()->SetColor(clLime);
  c->Font()->SetColor(clBlue);
  c->TextOut(10, 70, "Hi");
  EXPECT_TRUE(Same(got, ref));
}

TEST_F(Metafile, EmfPathsAreFilledOrStrokedNotDrawnWhileBuilt) {
  EmfWriter e;
  e.Select(0x80000004);  // BLACK_BRUSH
  e.Pen(1, 0, 1, kRed);
  e.Select(1);
  e.Rec(59, {});  // BEGINPATH
  e.Rectangle(10, 10, 40, 40);
  e.Rec(60, {});  // ENDPATH
  e.Rec(62, {0, 0, 0, 0});  // FILLPATH
  e.Rec(59, {});
  e.Rec(27, {60, 10});
  e.Poly16(89, {90, 10, 90, 40});  // POLYLINETO16
  e.Rec(61, {});  // CLOSEFIGURE
  e.Rec(60, {});
  e.Rec(64, {0, 0, 0, 0});  // STROKEPATH
  e.Rec(59, {});
  e.Rectangle(10, 60, 40, 90);  // never ended: not drawn
  TBitmap got;
  Play(Emf(e), got);
  EXPECT_EQ(Pixel24(got, 25, 25), 0x000000u);
  EXPECT_EQ(Pixel24(got, 10, 25), 0x000000u);  // no outline on a filled path
  EXPECT_EQ(Pixel24(got, 75, 10), 0xFF0000u);  // the stroked figure, closed
  EXPECT_EQ(Pixel24(got, 75, 25), 0xFF0000u);
  EXPECT_EQ(Pixel24(got, 85, 15), 0xFFFFFFu);
  EXPECT_EQ(Pixel24(got, 25, 75), 0xFFFFFFu);
  EXPECT_EQ(Pixel24(got, 10, 60), 0xFFFFFFu);
}

// Records that continue from the current position, in and out of paths:
// Bezier and arc figures start where the previous record left the position,
// arcs turn the way SETARCDIRECTION says, and a clip path clips.
TEST_F(Metafile, EmfFiguresContinueFromThePositionAndClipPathsClip) {
  // Two POLYBEZIERTO16 records of straight segments: 10..50 then 50..90 on
  // y = 20. The first must start at the MOVETOEX point.
  EmfWriter e;
  e.Pen(1, 0, 3, kRed);
  e.Select(1);
  e.Rec(59, {});
  e.Rec(27, {10, 20});
  e.Poly16(88, {20, 20, 40, 20, 50, 20});
  e.Poly16(88, {60, 20, 80, 20, 90, 20});
  e.Rec(60, {});
  e.Rec(64, {0, 0, 0, 0});  // STROKEPATH
  // ARCTO in a path, counter-clockwise (the default) from the ray towards
  // (90, 60) to the ray towards (50, 30) on the circle around (50, 60) of
  // radius 30: a line from the position to the arc's start, then a quarter.
  e.Rec(59, {});
  e.Rec(27, {50, 60});
  e.Rec(55, {20, 30, 80, 90, 90, 60, 50, 30});  // ARCTO
  e.Rec(60, {});
  e.Rec(64, {0, 0, 0, 0});
  // The same arc clockwise outside a path, on a circle around (50, 60) of radius 35.
  e.Rec(57, {2});  // SETARCDIRECTION clockwise
  e.Rec(45, {15, 25, 85, 95, 90, 60, 50, 30});  // ARC
  TBitmap got;
  Play(Emf(e), got);
  EXPECT_EQ(Pixel24(got, 25, 20), 0xFF0000u);  // first record's segment
  EXPECT_EQ(Pixel24(got, 75, 20), 0xFF0000u);
  EXPECT_EQ(Pixel24(got, 70, 60), 0xFF0000u);  // ARCTO's line from the position
  EXPECT_EQ(Pixel24(got, 71, 39), 0xFF0000u);  // its upper right quarter
  EXPECT_EQ(Pixel24(got, 29, 81), 0xFFFFFFu);  // not the lower left
  EXPECT_EQ(Pixel24(got, 25, 85), 0xFF0000u);  // the clockwise arc's lower left
  EXPECT_EQ(Pixel24(got, 75, 35), 0xFFFFFFu);  // and not its upper right

  // A clip path (RGN_COPY) keeps the left half of a filled rectangle; after
  // RESTOREDC the whole rectangle fills again.
  EmfWriter c;
  c.Brush(1, 0, kBlue);
  c.Select(1);
  c.Select(0x80000008);  // NULL_PEN
  c.Rec(33, {});  // SAVEDC
  c.Rec(59, {});
  c.Rectangle(0, 0, 50, 50);
  c.Rec(60, {});
  c.Rec(67, {5});  // SELECTCLIPPATH
  c.Rectangle(0, 0, 100, 50);
  c.Rec(34, {-1});  // RESTOREDC
  c.Rectangle(0, 60, 100, 100);
  Play(Emf(c), got);
  EXPECT_EQ(Pixel24(got, 25, 25), 0x0000FFu);
  EXPECT_EQ(Pixel24(got, 75, 25), 0xFFFFFFu);
  EXPECT_EQ(Pixel24(got, 75, 80), 0x0000FFu);
}

TEST_F(Metafile, ArcsRoundRectsAndPies) {
  WmfWriter w;
  w.Pen(0, 1, kRed);
  w.Brush(0, kBlue);
  w.Select(0);
  w.Select(1);
  w.Rec(0x0817, {20, 0, 20, 40, 40, 40, 0, 0});       // Arc box 0..40, from (40,20) to (0,20): upper half
  w.Rec(0x081A, {60, 80, 80, 100, 100, 100, 60, 60});  // Pie box 60..100, from (100,80) to (80,60)
  w.Rec(0x061C, {10, 10, 95, 45, 55, 5});              // RoundRect 5,55 - 45,95, corners 10
  TBitmap got, ref;
  Play(Wmf(w), got);
  TCanvas* c = Blank(ref);
  c->Pen()->SetColor(clRed);
  c->Arc(0, 0, 40, 40, 40, 20, 0, 20);
  for (int y = 0; y < 45; ++y)
    for (int x = 0; x < 45; ++x) ASSERT_EQ(Pixel24(got, x, y), Pixel24(ref, x, y)) << x << "," << y;
  // The pie is the top right quarter of its circle: filled there, not beside.
  EXPECT_EQ(Pixel24(got, 88, 72), 0x0000FFu);
  EXPECT_EQ(Pixel24(got, 72, 85), 0xFFFFFFu);
  EXPECT_EQ(Pixel24(got, 90, 75), 0x0000FFu);
  // Rounded corners stay white; the middle and the straight edges are drawn.
  EXPECT_EQ(Pixel24(got, 5, 55), 0xFFFFFFu);
  EXPECT_EQ(Pixel24(got, 25, 75), 0x0000FFu);
  EXPECT_EQ(Pixel24(got, 25, 55), 0xFF0000u);
  EXPECT_EQ(Pixel24(got, 5, 75), 0xFF0000u);
}

TEST_F(Metafile, RasterOperations) {
  WmfWriter w;
  w.Pen(5, 0, 0);  // PS_NULL
  w.Brush(0, kRed);
  w.Select(0);
  w.Select(1);
  w.Rec(0x0104, {7});  // R2_XORPEN
  w.Rectangle(0, 0, 20, 20);
  w.Rectangle(0, 0, 20, 20);  // twice: back to white
  w.Rectangle(30, 0, 50, 20);
  w.Rec(0x0104, {6});  // R2_NOT
  w.Rectangle(60, 0, 80, 20);
  w.Rec(0x0104, {13});  // R2_COPYPEN
  w.Rec(0x061D, {0x0062, 0x00FF, 10, 20, 10, 30});  // PatBlt WHITENESS: 30,10 20 x 10
  w.Rec(0x061D, {0x0009, 0x0055, 10, 10, 30, 0});   // DSTINVERT: 0,30 10 x 10
  TBitmap got;
  Play(Wmf(w), got);
  EXPECT_EQ(Pixel24(got, 10, 10), 0xFFFFFFu);
  EXPECT_EQ(Pixel24(got, 40, 5), 0x00FFFFu);  // red xor white
  EXPECT_EQ(Pixel24(got, 40, 15), 0xFFFFFFu);
  EXPECT_EQ(Pixel24(got, 70, 10), 0x000000u);  // white inverted
  EXPECT_EQ(Pixel24(got, 5, 35), 0x000000u);
}

TEST_F(Metafile, DibsAreStretchedOntoTheirRectangle) {
  const Bytes dib = PackedDib24(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0x808080});
  WmfWriter w;
  // StretchDIB: rop, usage, source 2 x 2 at 0,0, dest 40 x 20 at (10, 10).
  w.Rec(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 20, 40, 10, 10}, dib);
  EmfWriter e;
  // STRETCHDIBITS: bounds, dest (10, 10), source 0,0 2 x 2, bmi at 80 (40 bytes), bits after, 40 x 20.
  Bytes tail(dib.begin(), dib.end());
  e.Rec(81, {0, 0, 0, 0, 10, 10, 0, 0, 2, 2, 80, 40, 120, 16, 0, 0x00CC0020, 40, 20}, tail);
  for (const Bytes& file : {Wmf(w), Emf(e)}) {
    TBitmap got;
    Play(file, got);
    EXPECT_EQ(Pixel24(got, 10, 10), 0xFF0000u);
    EXPECT_EQ(Pixel24(got, 49, 19), 0x00FF00u);
    EXPECT_EQ(Pixel24(got, 10, 29), 0x0000FFu);
    EXPECT_EQ(Pixel24(got, 49, 29), 0x808080u);
    EXPECT_EQ(Pixel24(got, 9, 10), 0xFFFFFFu);
    EXPECT_EQ(Pixel24(got, 50, 20), 0xFFFFFFu);
  }
}

TEST_F(Metafile, ObjectSlotsSelectionDeletionAndSaveRestore) {
  WmfWriter w;
  w.Brush(0, kRed);    // slot 0
  w.Brush(0, kGreen);  // slot 1
  w.Select(0);
  w.Delete(0);
  w.Select(7);     // empty slot: ignored
  w.Select(4000);  // outside the table: ignored
  w.Delete(4000);
  w.Rectangle(0, 0, 20, 20);  // the deleted red brush stays selected
  w.Brush(0, kBlue);          // takes the freed slot 0
  w.Select(0);
  w.Rectangle(20, 0, 40, 20);
  w.Rec(0x001E, {});  // SaveDC with blue
  w.Select(1);
  w.Rec(0x001E, {});  // SaveDC with green
  w.Select(0);
  w.Rec(0x0127, {1});  // RestoreDC to the first save: blue
  w.Select(1);
  w.Rec(0x0127, {-1});  // nothing left to restore: still green
  w.Rectangle(40, 0, 60, 20);
  TBitmap got;
  Play(Wmf(w), got);
  EXPECT_EQ(Pixel24(got, 10, 10), 0xFF0000u);
  EXPECT_EQ(Pixel24(got, 30, 10), 0x0000FFu);
  EXPECT_EQ(Pixel24(got, 50, 10), 0x00FF00u);

  WmfWriter r;
  r.Brush(0, kRed);
  r.Brush(0, kBlue);
  r.Select(0);
  r.Rec(0x001E, {});
  r.Select(1);
  r.Rec(0x0127, {-1});
  r.Rectangle(0, 0, 20, 20);
  Play(Wmf(r), got);
  EXPECT_EQ(Pixel24(got, 10, 10), 0xFF0000u);
}

TEST_F(Metafile, MappingModesAndScaling) {
  TBitmap ref;
  TCanvas* c = Blank(ref);
  c->Rectangle(10, 10, 50, 40);
  c->Ellipse(60, 20, 90, 80);

  // WMF window of 50 x 50 over the 100 x 100 picture.
  WmfWriter w;
  w.WindowExt(50, 50);
  w.Rectangle(5, 5, 25, 20);
  w.Ellipse(30, 10, 45, 40);
  // Anisotropic window and viewport in an EMF: logical x2, y1 -> reference.
  EmfWriter a;
  a.Rec(17, {8});
  a.Rec(9, {100, 100});
  a.Rec(11, {200, 100});
  a.Rec(10, {-10, 0});
  a.Rectangle(-5, 10, 15, 40);
  a.Ellipse(20, 20, 35, 80);
  // Metric mode: tenths of a millimetre on a 10 pixels/mm device, y up.
  EmfWriter m;
  m.Rec(17, {2});
  m.Rectangle(10, -10, 50, -40);
  m.Ellipse(60, -20, 90, -80);
  for (const Bytes& file : {Wmf(w), Emf(a), Emf(m)}) {
    TBitmap got;
    Play(file, got);
    EXPECT_TRUE(Same(got, ref));
  }

  // The picture scales onto the destination: half size at an offset.
  TBitmap half, refHalf;
  WmfWriter s;
  s.Rectangle(20, 20, 80, 60);
  Play(Wmf(s), half, Rect(10, 10, 60, 60));
  Blank(refHalf)->Rectangle(20, 20, 50, 40);
  EXPECT_TRUE(Same(half, refHalf));
}

// ---------------------------------------------------------------------------
// Damaged and hostile files

TEST_F(Metafile, DamagedRecordsEndThePlaybackWithWhatWasDrawn) {
  Bytes bad;
  Put32(bad, 0x7FFFFFFF);  // a size far past the end
  Put16(bad, 0x041B);
  WmfWriter w;
  w.Rectangle(0, 0, 20, 20);
  w.Poly(0x0324, {0, 0});  // fine
  w.Rec(0x0325, {5000, 1, 2});  // polyline claiming more points than it holds: skipped
  w.Rectangle(20, 0, 40, 20);
  w.Raw(bad);
  w.Rectangle(40, 0, 60, 20);
  TBitmap got;
  Play(Wmf(w), got);
  EXPECT_EQ(Pixel24(got, 0, 0), 0x000000u);
  EXPECT_EQ(Pixel24(got, 20, 0), 0x000000u);
  EXPECT_EQ(Pixel24(got, 40, 0), 0xFFFFFFu);

  EmfWriter e;
  e.Rectangle(0, 0, 20, 20);
  e.Raw({43, 0, 0, 0, 0, 0, 0, 0});  // size 0
  e.Rectangle(40, 0, 60, 20);
  Play(Emf(e), got);
  EXPECT_EQ(Pixel24(got, 0, 0), 0x000000u);
  EXPECT_EQ(Pixel24(got, 40, 0), 0xFFFFFFu);
}

TEST_F(Metafile, HugeExtentsAndCoordinatesFinishQuickly) {
  const auto start = std::chrono::steady_clock::now();
  WmfWriter w;
  w.Pen(0, 32767, kRed);
  w.Select(0);
  w.MapMode(8);
  w.WindowExt(1, 1);
  w.ViewportExt(32767, 32767);
  w.Rectangle(-32768, -32768, 32767, 32767);
  w.MoveTo(-32768, 5);
  w.LineTo(32767, 7);
  w.Ellipse(-32768, -32768, 32767, 32767);
  w.Poly(0x0325, {-32768, -32768, 32767, 32767, 0, 32767});
  w.Rec(0x0521, {2, 'A' | 'B' << 8, 0, 0});
  EmfWriter e;
  e.Rec(35, {0x7F000000, 0, 0, 0x7F000000, 0, 0});  // an enormous world scale
  e.Rectangle(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
  e.Rec(54, {INT32_MAX, INT32_MIN});
  e.Rec(35, {0x3F800000, 0, 0, 0x3F800000, 0, 0});
  e.Rec(82, {1, -2000000000, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  e.Select(1);
  Bytes text;
  Put16(text, 'A');
  e.Rec(84, {0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 76, 0, 0, 0, 0, 0, 0}, text);
  e.Rec(31, {INT32_MAX, 1, INT32_MAX, 1});
  e.Rectangle(0, 0, 1000000, 1000000);
  for (const Bytes& file : {Wmf(w), w.Bare(), Emf(e), e.Build(0, 0, INT32_MAX, INT32_MAX, 1, 1, 1, 1)}) {
    TBitmap got;
    Play(file, got);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(Metafile, EveryTruncationLoadsOrIsRefused) {
  WmfWriter w;
  w.Pen(0, 2, kRed);
  w.Select(0);
  w.Rectangle(5, 5, 50, 50);
  w.Rec(0x0A32, {10, 10, 3, 2, 0, 0, 50, 50}, Bytes{'a', 'b', 'c'});
  EmfWriter e;
  e.Poly16(86, {1, 1, 50, 1, 20, 40});
  e.Rectangle(5, 5, 50, 50);
  for (const Bytes& full : {Wmf(w), Emf(e)}) {
    for (size_t n = 0; n <= full.size(); ++n) {
      const Bytes cut(full.begin(), full.begin() + ptrdiff_t(n));
      TMetafile mf;
      try {
        Load(mf, cut);
      } catch (const EInvalidGraphic&) {
        EXPECT_TRUE(mf.Empty());
        continue;
      }
      TBitmap got;
      got.SetSize(20, 20);
      mf.Draw(got.Canvas(), Rect(0, 0, 20, 20));
    }
  }
}

}  // namespace

// A picture holding a metafile is drawn by the image control: centred at its
// size, or stretched over the client area.
TEST_F(Metafile, ImageControlPaintsItsMetafile) {
  WmfWriter w;
  w.Brush(0, kBlue);
  w.Select(0);
  w.Rectangle(0, 0, 100, 100);  // covers the whole 100 x 100 picture
  auto mf = std::make_unique<TMetafile>();
  Load(*mf, Wmf(w));
  TImage image(nullptr);
  image.SetBounds(0, 0, 200, 160);
  image.Picture()->SetGraphic(std::move(mf));
  image.SetCenter(true);
  TBitmap shot(200, 160);
  image.PaintClientTo(shot.Canvas(), 0, 0);
  EXPECT_EQ(Pixel24(shot, 100, 80), 0x0000FFu);  // the picture, centred
  EXPECT_NE(Pixel24(shot, 20, 10), 0x0000FFu);   // outside it
  image.SetStretch(true);
  image.PaintClientTo(shot.Canvas(), 0, 0);
  EXPECT_EQ(Pixel24(shot, 20, 10), 0x0000FFu);
  EXPECT_EQ(Pixel24(shot, 190, 150), 0x0000FFu);
}
