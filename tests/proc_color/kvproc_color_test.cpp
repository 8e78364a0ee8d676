// The color and depth operations of the processing component: protocol
// details that the plain procedures do not have (whole-image pivots, undo of
// format changes, selection use).
#include <gtest/gtest.h>

#include <set>

#include "korvane/foundations/kvutils.h"
#include "korvane/proc/kvproc.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

TRGB& At(TBitmap& b, int x, int y) { return reinterpret_cast<TRGB*>(b.Scanline(y))[x]; }

struct ProcOnBitmap : testing::Test {
  void SetUp() override { proc.SetAttachedBitmap(&bmp); }
  TBitmap bmp;
  TKorvaneProc proc;
};

TEST_F(ProcOnBitmap, ContrastLeavesAUniformImageUnchanged) {
  bmp.Allocate(7, 5, pf24bit);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) At(bmp, x, y) = CreateRGB(90, 180, 30);
  TBitmap ref;
  ref.Assign(&bmp);
  for (int amount : {-100, -30, 40, 100}) {
    proc.Contrast(amount);
    EXPECT_TRUE(test::SamePixels(bmp, ref)) << amount;
  }
}

TEST_F(ProcOnBitmap, ContrastPivotsComeFromTheWholeImageNotTheSelection) {
  bmp.Allocate(4, 4, pf24bit);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) At(bmp, x, y) = x < 2 ? CreateRGB(0, 0, 0) : CreateRGB(200, 200, 200);
  proc.Select(0, 0, 1, 3);  // only the black half
  proc.Contrast(-100);      // flattens the selection to the image's mean, 100
  EXPECT_EQ(At(bmp, 0, 0), CreateRGB(100, 100, 100));
  EXPECT_EQ(At(bmp, 2, 0), CreateRGB(200, 200, 200));
}

TEST_F(ProcOnBitmap, IdentityThresholdStillSavesUndo) {
  test::FillPattern24(bmp, 6, 6, 2);
  TBitmap ref;
  ref.Assign(&bmp);
  proc.Threshold(CreateRGB(0, 0, 0), CreateRGB(255, 255, 255), CreateRGB(9, 9, 9), CreateRGB(1, 1, 1));
  EXPECT_TRUE(test::SamePixels(bmp, ref));
  EXPECT_TRUE(proc.GetCanUndo());
}

TEST_F(ProcOnBitmap, NegativeWorksOnOneBitAndUndoes) {
  bmp.Allocate(10, 3, pf1bit);
  proc.Negative();
  EXPECT_EQ(bmp.GetPixel(9, 2), clWhite);
  proc.Undo();
  EXPECT_EQ(bmp.GetPixel(9, 2), clBlack);
}

TEST_F(ProcOnBitmap, ConvertToTwoDithersAndUndoRestoresTwentyFourBits) {
  test::FillPattern24(bmp, 12, 9, 4);
  TBitmap ref;
  ref.Assign(&bmp);
  TRGB pal[2] = {CreateRGB(5, 5, 5), CreateRGB(5, 5, 5)};
  proc.ConvertToPalette(2, pal);
  EXPECT_EQ(bmp.PixelFormat(), pf1bit);
  EXPECT_EQ(pal[0], CreateRGB(0, 0, 0));
  EXPECT_EQ(pal[1], CreateRGB(255, 255, 255));
  EXPECT_EQ(proc.CalcImageNumColors(), 2);
  proc.Undo();
  EXPECT_TRUE(test::SamePixels(bmp, ref));
}

TEST_F(ProcOnBitmap, ConvertToThreeKeepsTwentyFourBitsAndAtMostThreeColors) {
  test::FillPattern24(bmp, 30, 20, 9);
  proc.ConvertTo(3);
  ASSERT_EQ(bmp.PixelFormat(), pf24bit);
  EXPECT_LE(proc.CalcImageNumColors(), 3);
  EXPECT_GE(proc.CalcImageNumColors(), 2);
}

TEST_F(ProcOnBitmap, ConvertTo24BitWidensEveryPixelOfOddWidths) {
  bmp.Allocate(10, 2, pf1bit);
  bmp.Scanline(0)[1] = 0xC0;  // pixels 8 and 9, the partial byte
  proc.ConvertTo24Bit();
  ASSERT_EQ(bmp.PixelFormat(), pf24bit);
  EXPECT_EQ(At(bmp, 8, 0), CreateRGB(255, 255, 255));
  EXPECT_EQ(At(bmp, 9, 0), CreateRGB(255, 255, 255));
  EXPECT_EQ(At(bmp, 7, 0), CreateRGB(0, 0, 0));
  proc.ClearUndo();
  proc.ConvertTo24Bit();  // already 24-bit: nothing, no snapshot
  EXPECT_FALSE(proc.GetCanUndo());
}

TEST_F(ProcOnBitmap, NumColorsCountsTheSelectionRectangle) {
  bmp.Allocate(8, 8, pf24bit);
  At(bmp, 6, 6) = CreateRGB(1, 1, 1);
  EXPECT_EQ(proc.CalcImageNumColors(), 2);
  proc.Select(0, 0, 3, 3);
  EXPECT_EQ(proc.CalcImageNumColors(), 1);
}

TEST(ProcWithoutBitmap, OperationsDoNothing) {
  TKorvaneProc proc;
  proc.HSVvar(10, 0, 0);
  proc.ConvertTo(16);
  EXPECT_EQ(proc.CalcImageNumColors(), 0);
  EXPECT_FALSE(proc.GetHSVChannel(0));
  EXPECT_FALSE(proc.GetCanUndo());
}

}  // namespace
