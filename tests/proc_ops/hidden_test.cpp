// Data hidden in the pixels.
#include <gtest/gtest.h>

#include "korvane/foundations/kvutils.h"
#include "korvane/proc/kvproc.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

void Fill(TBitmap& b, int w, int h, uint8_t v) {
  b.Allocate(w, h, pf24bit);
  for (int y = 0; y < h; ++y) std::memset(b.Scanline(y), v, size_t(w) * 3);
}

struct HiddenOp : testing::Test {
  void SetUp() override { proc.SetAttachedBitmap(&bmp); }
  TBitmap bmp;
  TKorvaneProc proc;
};

TEST_F(HiddenOp, TextRoundTripChangesOnlyParity) {
  for (uint8_t v : {uint8_t(255), uint8_t(0)}) {
    Fill(bmp, 10, 10, v);
    EXPECT_EQ(proc.WriteHiddenText("abc"), 3);
    EXPECT_EQ(proc.ReadHiddenText(), "abc");
    EXPECT_EQ(proc.ReadHiddenData(nullptr, 0), 3);
    // 255 holding a 0 becomes 254, 0 holding a 1 becomes 1; the green and red
    // bytes of each row's last pixel and everything after the 88 stream bits
    // stay as they were.
    int changed = 0;
    for (int y = 0; y < 10; ++y) {
      const uint8_t* p = bmp.Scanline(y);
      for (int i = 0; i < 30; ++i) {
        const int index = y * 28 + i;
        if (i >= 28 || index >= 88) {
          ASSERT_EQ(p[i], v) << y << "," << i;
        } else if (p[i] != v) {
          ASSERT_EQ(p[i], v == 255 ? 254 : 1);
          ++changed;
        }
      }
    }
    // "abc" and the length 3 have 12 set bits among 88.
    EXPECT_EQ(changed, v == 255 ? 88 - 12 : 12);
  }
}

TEST_F(HiddenOp, CapacityIsWhatTheCarrierHolds) {
  Fill(bmp, 10, 10, 128);
  EXPECT_EQ(proc.GetHiddenDataSpace(), 27);  // 280 bits = 35 bytes, 8 for the header
  std::string data(29, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char('A' + i);
  EXPECT_EQ(proc.WriteHiddenData(data.data(), int(data.size())), 27);
  char back[40] = {};
  EXPECT_EQ(proc.ReadHiddenData(back, 40), 27);
  EXPECT_EQ(std::string(back, 27), data.substr(0, 27));
  EXPECT_EQ(proc.ReadHiddenData(back, 2), 27);  // a short buffer takes what fits
  EXPECT_EQ(proc.ReadHiddenText(), data.substr(0, 27));
}

TEST_F(HiddenOp, NoiseNeverReadsPastTheCarrier) {
  for (unsigned seed = 1; seed < 20; ++seed) {
    test::FillPattern24(bmp, 7, 5, seed);
    const int space = proc.GetHiddenDataSpace();
    const int n = proc.ReadHiddenData(nullptr, 0);
    EXPECT_GE(n, 0);
    EXPECT_LE(n, space);
    EXPECT_LE(int(proc.ReadHiddenText().size()), space);
  }
}

TEST_F(HiddenOp, OneBitImagesHoldNothing) {
  bmp.Allocate(64, 64, pf1bit);
  char buf[4];
  EXPECT_EQ(proc.WriteHiddenText("abc"), 0);
  EXPECT_EQ(proc.WriteHiddenData("abc", 3), 0);
  EXPECT_EQ(proc.ReadHiddenData(buf, 4), 0);
  EXPECT_EQ(proc.ReadHiddenText(), "");
  EXPECT_EQ(proc.GetHiddenDataSpace(), 0);
  EXPECT_FALSE(proc.GetCanUndo());
}

}  // namespace
