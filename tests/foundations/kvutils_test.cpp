// Color, number, bit, bitmap-row, rectangle and file helpers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "korvane/foundations/kvutils.h"

using namespace korvane;

TEST(ColorHelpers, GrayUsesWeightsSummingTo99) {
  struct Case {
    uint8_t r, g, b;
    int gray;
  };
  for (Case c : {Case{255, 255, 255, 252}, Case{0, 0, 0, 0}, Case{255, 0, 0, 53}, Case{0, 255, 0, 181},
                 Case{0, 0, 255, 17}, Case{100, 150, 200, 141}})
    EXPECT_EQ(_RGBToGray(CreateRGB(c.r, c.g, c.b)), c.gray) << int(c.r) << "," << int(c.g) << "," << int(c.b);
}

TEST(ColorHelpers, PackingKeepsRedInTheLowByte) {
  TRGB p = CreateRGB(0x11, 0x22, 0x33);
  EXPECT_EQ(p.r, 0x11);
  EXPECT_EQ(p.b, 0x33);
  EXPECT_EQ(TRGB2TColor(p), 0x332211u);
  EXPECT_EQ(RGB2TColor(0x11, 0x22, 0x33), 0x332211u);
  EXPECT_TRUE(EqualRGB(TColor2TRGB(0x332211), p));
  EXPECT_FALSE(EqualRGB(p, CreateRGB(0x11, 0x22, 0x34)));
  // System colors resolve before unpacking instead of leaking the 0x80 byte.
  EXPECT_EQ(TRGB2TColor(TColor2TRGB(clBtnFace)), ColorToRGB(clBtnFace));
}

TEST(NumberHelpers, ClampsAndOrdering) {
  EXPECT_EQ(ilimit(5, 10, 0), 0);  // lo > hi: hi wins
  EXPECT_EQ(ilimit(-3, 0, 9), 0);
  EXPECT_EQ(ilimit(12, 0, 9), 9);
  EXPECT_EQ(blimit(-1), 0);
  EXPECT_EQ(blimit(256), 255);
  EXPECT_EQ(blimit(INT_MIN), 0);
  EXPECT_EQ(blimit(128), 128);
  EXPECT_EQ(dmax(-0.5, 0.25), 0.25);
  int x1 = 10, y1 = 3, x2 = 2, y2 = 8;
  OrdCor(x1, y1, x2, y2);
  EXPECT_EQ((std::array{x1, y1, x2, y2}), (std::array{2, 3, 10, 8}));
}

TEST(BitmapHelpers, RowLengthIsPaddedToFourBytes) {
  struct Case {
    int w, bits, len;
  };
  for (Case c : {Case{1, 24, 4}, Case{3, 1, 4}, Case{33, 1, 8}, Case{32, 1, 4}, Case{0, 24, 0}, Case{5, 4, 4},
                 Case{9, 4, 8}, Case{-7, 24, 0}, Case{7, -1, 0}, Case{INT_MAX, 1, 1 << 28},
                 // Would wrap in 32-bit arithmetic: saturates instead.
                 Case{INT_MAX, 24, kMaxBitmapRowLen}, Case{0x20000000, 32, kMaxBitmapRowLen}})
    EXPECT_EQ(_BitmapRowLen(c.w, c.bits), c.len) << c.w << " x " << c.bits;
}

TEST(BitmapHelpers, PixelFormatsAndBitCountsMapBothWays) {
  for (TPixelFormat pf : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit})
    EXPECT_EQ(_Bitcount2Pixelformat(_Pixelformat2BitCount(pf)), pf);
  EXPECT_EQ(_Pixelformat2BitCount(pfDevice), 0);
  EXPECT_EQ(_Pixelformat2BitCount(pfCustom), 0);
  for (int bits : {0, 2, 3, 12, 48, -1}) EXPECT_EQ(_Bitcount2Pixelformat(bits), pfCustom) << bits;
}

TEST(BitHelpers, ChannelMaskRunLength) {
  struct Case {
    uint32_t mask;
    int n;
  };
  for (Case c : {Case{0, 0}, Case{0xF800, 5}, Case{0x07E0, 6}, Case{0x001F, 5}, Case{0xFF0000, 8},
                 Case{0x80000000u, 1}, Case{0xC0000000u, 2}, Case{0xFFFFFFFFu, 32}, Case{0x0F0F, 4}})
    EXPECT_EQ(_GetBitCount(c.mask), c.n) << std::hex << c.mask;
}

TEST(BitHelpers, BitsPerPixelForColorCount) {
  struct Case {
    int ncol, bits;
  };
  for (Case c : {Case{1, 0}, Case{2, 1}, Case{3, 2}, Case{4, 2}, Case{5, 3}, Case{16, 4}, Case{256, 8},
                 Case{257, 9}, Case{0, -1}, Case{-5, -1}, Case{0x40000000, 30}, Case{INT_MAX, 31}})
    EXPECT_EQ(_NColToBitsPixel(c.ncol), c.bits) << c.ncol;
}

TEST(BitHelpers, ColorCountOfSamples) {
  struct Case {
    int bits, count, ncol;
  };
  for (Case c :
       {Case{1, 1, 2}, Case{8, 1, 256}, Case{8, 3, 1 << 24}, Case{4, 0, 1}, Case{4, -2, 1}, Case{0, 3, 1},
        Case{30, 1, 1 << 30},
        // 2^31 and beyond do not fit: saturated, never a shift past 31.
        Case{31, 1, INT_MAX}, Case{16, 3, INT_MAX}, Case{1, 32, INT_MAX}, Case{INT_MAX, INT_MAX, INT_MAX}})
    EXPECT_EQ(_GetNumCol(c.bits, c.count), c.ncol) << c.bits << "," << c.count;
}

TEST(BitHelpers, ReversalMatchesBitByBitReference) {
  for (int v = 0; v < 256; ++v) {
    uint8_t b = uint8_t(v), ref = 0;
    for (int i = 0; i < 8; ++i)
      if (v & (1 << i)) ref |= uint8_t(0x80 >> i);
    ReverseBitsB(b);
    ASSERT_EQ(b, ref) << v;
  }
  for (uint32_t v : {0u, 1u, 0x80000000u, 0x12345678u, 0xFFFF0000u, 0xA5A5A5A5u}) {
    uint32_t r = v, ref = 0;
    for (int i = 0; i < 32; ++i)
      if (v & (1u << i)) ref |= 0x80000000u >> i;
    ReverseBits(r);
    EXPECT_EQ(r, ref) << std::hex << v;
  }
}

TEST(RectHelpers, InsideAndOverlapIncludeEdges) {
  EXPECT_TRUE(_InRect(10, 20, 10, 20, 30, 40));
  EXPECT_TRUE(_InRect(30, 40, 10, 20, 30, 40));
  EXPECT_FALSE(_InRect(31, 40, 10, 20, 30, 40));
  EXPECT_FALSE(_InRect(10, 19, 10, 20, 30, 40));
  EXPECT_TRUE(_RectXRect(0, 0, 10, 10, 10, 10, 20, 20));  // corners touch
  EXPECT_TRUE(_RectXRect(10, 10, 0, 0, 5, -5, 6, 20));    // first one reversed
  EXPECT_FALSE(_RectXRect(0, 0, 10, 10, 11, 0, 20, 10));
  EXPECT_FALSE(_RectXRect(10, 10, 0, 0, 0, 11, 10, 20));
}

struct RectPCase {
  int x3, y3, x4, y4, result;
  const char* what;
};
class RectPRectTest : public ::testing::TestWithParam<RectPCase> {};

TEST_P(RectPRectTest, AgainstRectangle10To20) {
  const RectPCase& c = GetParam();
  EXPECT_EQ(_RectPRect(10, 10, 20, 20, c.x3, c.y3, c.x4, c.y4), c.result) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Positions, RectPRectTest,
                         ::testing::Values(RectPCase{12, 12, 18, 18, 2, "inside"},
                                           RectPCase{10, 10, 20, 20, 2, "same rectangle"},
                                           RectPCase{15, 15, 25, 25, 1, "one corner inside"},
                                           RectPCase{15, 12, 25, 18, 1, "crosses the right edge"},
                                           RectPCase{12, 5, 18, 15, 1, "crosses the top edge"},
                                           RectPCase{0, 0, 30, 30, 0, "contains A"},
                                           RectPCase{30, 30, 40, 40, 0, "apart"},
                                           RectPCase{5, 12, 25, 18, 0, "spans A horizontally"},
                                           RectPCase{20, 20, 30, 30, 1, "shares the corner (20, 20)"}));

struct CastCase {
  int ax, ay, x, y, ex, ey;
};
class CastPolySelTest : public ::testing::TestWithParam<CastCase> {};

TEST_P(CastPolySelTest, SnapsToAxisOrDiagonal) {
  const CastCase& c = GetParam();
  int x = c.x, y = c.y;
  _CastPolySelCC(c.ax, c.ay, x, y);
  EXPECT_EQ(x, c.ex) << "from (" << c.x << ", " << c.y << ")";
  EXPECT_EQ(y, c.ey) << "from (" << c.x << ", " << c.y << ")";
}

INSTANTIATE_TEST_SUITE_P(
    Branches, CastPolySelTest,
    ::testing::Values(CastCase{0, 0, 100, 10, 100, 0},     // mostly horizontal
                      CastCase{0, 0, 10, 100, 0, 100},     // mostly vertical
                      CastCase{0, 0, 29, 60, 0, 60},       // just outside the band
                      CastCase{0, 0, 30, 60, 60, 60},      // on the band's edge: diagonal
                      CastCase{0, 0, 40, 50, 50, 50},      // right-below, taller: x grows
                      CastCase{0, 0, 50, 40, 50, 50},      // right-below, wider: y grows
                      CastCase{0, 0, -40, -50, -40, -40},  // left-above, taller: y shrinks
                      CastCase{0, 0, -50, -40, -40, -40},  // left-above, wider: x shrinks
                      CastCase{0, 0, -40, 50, -50, 50},    // left-below, taller
                      CastCase{0, 0, -50, 40, -50, 50},    // left-below, wider
                      CastCase{0, 0, 40, -50, 50, -50},    // right-above, taller
                      CastCase{0, 0, 50, -40, 50, -50},    // right-above, wider
                      CastCase{0, 0, 20, 0, 20, 0},        // on the axis to the right: kept
                      CastCase{0, 0, 0, 20, 0, 20},        // on the axis below: kept
                      CastCase{0, 0, -20, 0, -20, 20},     // on the axis to the left: diagonal
                      CastCase{0, 0, 0, 0, 0, 0},          // on the anchor
                      CastCase{100, 200, 140, 250, 150, 250},
                      CastCase{INT_MIN, 0, INT_MAX, 0, INT_MAX, 0},  // no overflow at the extremes
                      CastCase{0, 0, INT_MIN, INT_MIN, INT_MIN, INT_MIN}));

TEST(FileHelpers, FileSizeOrMinusOne) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("kv_fsize_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "a.bin", std::ios::binary) << std::string(123, 'x');
  std::ofstream(dir / "empty.bin", std::ios::binary);
  EXPECT_EQ(_getfilesize((dir / "a.bin").string()), 123);
  EXPECT_EQ(_getfilesize((dir / "empty.bin").string()), 0);
  EXPECT_EQ(_getfilesize((dir / "missing.bin").string()), -1);
  EXPECT_EQ(_getfilesize(dir.string()), -1);
  EXPECT_EQ(_getfilesize(""), -1);
  fs::remove_all(dir);
}
