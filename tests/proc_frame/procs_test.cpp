// The frame's plain procedures: packed DIBs of every depth into bitmaps, the
// magic wand mask, bitmap comparison and channel swaps.
#include <gtest/gtest.h>

#include <cstring>
#include <queue>
#include <vector>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/pixels/video/yuvconv.h"
#include "korvane/proc/kvproc.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

// A packed DIB: header, then `extra` (masks or table), then the rows.
std::vector<uint8_t> Dib(int w, int h, int bits, uint32_t comp, const std::vector<uint8_t>& extra,
                         const std::vector<uint8_t>& rows, uint32_t clrUsed = 0) {
  TBitmapInfoHeader hd;
  hd.biWidth = w;
  hd.biHeight = h;
  hd.biBitCount = uint16_t(bits);
  hd.biCompression = comp;
  hd.biClrUsed = clrUsed;
  std::vector<uint8_t> d(40);
  std::memcpy(d.data(), &hd, 40);
  d.insert(d.end(), extra.begin(), extra.end());
  d.insert(d.end(), rows.begin(), rows.end());
  return d;
}

std::vector<uint8_t> Le32(std::initializer_list<uint32_t> v) {
  std::vector<uint8_t> out;
  for (uint32_t x : v)
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(x >> (8 * i)));
  return out;
}

struct DibCase {
  const char* name;
  std::vector<uint8_t> dib;
  TColor first, last;  // top-left and bottom-right pixel expected
  int w, h;
};

class DibToBitmap : public ::testing::TestWithParam<DibCase> {};

TEST_P(DibToBitmap, DecodesToTwentyFourBits) {
  const DibCase& c = GetParam();
  TBitmap b;
  _CopyDIB2Bitmap(c.dib.data(), c.dib.size(), &b);
  ASSERT_EQ(b.PixelFormat(), pf24bit);
  ASSERT_EQ(b.Width(), c.w);
  ASSERT_EQ(b.Height(), c.h);
  EXPECT_EQ(b.GetPixel(0, 0), c.first);
  EXPECT_EQ(b.GetPixel(c.w - 1, c.h - 1), c.last);
}

// Bottom-up rows: the first stored row is the bottom one.
INSTANTIATE_TEST_SUITE_P(
    Depths, DibToBitmap,
    ::testing::Values(
        // 4-bit, width 5 (odd): the last pixel is a high nibble. Table 0 black, 1 red, 2 green.
        DibCase{"FourBitOddWidth",
                Dib(5, 2, 4, 0, {0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0},
                    {0x12, 0x00, 0x20, 0, /* top: */ 0x20, 0x00, 0x10, 0}, 3),
                RGB(0, 255, 0), RGB(0, 255, 0), 5, 2},
        // 16-bit 5-6-5 bit fields: white at the top left, pure red at the bottom right.
        DibCase{"SixteenBitFields565",
                Dib(2, 2, 16, 3, Le32({0xF800, 0x07E0, 0x001F}),
                    {0x00, 0x00, 0x00, 0xF8, /* top: */ 0xFF, 0xFF, 0, 0}),
                RGB(255, 255, 255), RGB(255, 0, 0), 2, 2},
        // 16-bit default 5-5-5: green 31 -> 255.
        DibCase{"SixteenBit555", Dib(1, 1, 16, 0, {}, {0xE0, 0x03, 0, 0}), RGB(0, 255, 0), RGB(0, 255, 0), 1,
                1},
        // 32-bit: the fourth byte is dropped.
        DibCase{"ThirtyTwoBit", Dib(1, 1, 32, 0, {}, {10, 20, 30, 99}), RGB(30, 20, 10), RGB(30, 20, 10), 1,
                1}),
    [](const auto& info) { return info.param.name; });

TEST(DibProcs, OneBitKeepsWhiteAsBitOneWhateverTheTableOrder) {
  // Entry 0 white, entry 1 black: stored bit 0 is white.
  auto d = Dib(8, 1, 1, 0, {255, 255, 255, 0, 0, 0, 0, 0}, {0x0F, 0, 0, 0});
  TBitmap b;
  _CopyDIB2Bitmap(d.data(), d.size(), &b);
  ASSERT_EQ(b.PixelFormat(), pf1bit);
  EXPECT_EQ(b.Scanline(0)[0], 0xF0);
  EXPECT_EQ(b.GetPixel(0, 0), clWhite);
}

TEST(DibProcs, YuvCodesGoThroughTheVideoConverters) {
  const uint32_t uyvy = MakeFourCC('U', 'Y', 'V', 'Y');
  std::vector<uint8_t> frame = {128, 16, 128, 235, 90, 81, 240, 81, 128, 16, 128, 16, 128, 235, 128, 235};
  auto d = Dib(4, 2, 16, uyvy, {}, frame);
  TBitmap viaDib, direct;
  _CopyDIB2Bitmap(d.data(), d.size(), &viaDib);
  direct.Allocate(4, 2, pf24bit);
  CopyYUVFrameToBitmap(uyvy, frame.data(), frame.size(), &direct, true);
  EXPECT_TRUE(_BitmapCompareX(&viaDib, &direct));
  EXPECT_EQ(viaDib.GetPixel(0, 0), clBlack);  // the first data row is the top one
  EXPECT_EQ(viaDib.GetPixel(1, 0), clWhite);
}

TEST(DibProcs, BadDataRaisesAndLeavesTheBitmap) {
  TBitmap b(3, 3);
  auto d = Dib(100, 100, 24, 0, {}, {1, 2, 3});  // rows missing
  EXPECT_THROW(_CopyDIB2Bitmap(d.data(), d.size(), &b), EInvalidGraphic);
  EXPECT_THROW(_CopyDIB2Bitmap(d.data(), 20, &b), EInvalidGraphic);
  // A huge frame of an unknown code, or a YUV frame without its data.
  auto unknown = Dib(20000, 10000, 16, MakeFourCC('X', 'Y', 'Z', 'W'), {}, {0, 0, 0, 0});
  EXPECT_THROW(_CopyDIB2Bitmap(unknown.data(), unknown.size(), &b), EInvalidGraphic);
  auto shortYuv = Dib(20000, 10000, 16, MakeFourCC('U', 'Y', 'V', 'Y'), {}, {128, 16, 128, 16});
  EXPECT_THROW(_CopyDIB2Bitmap(shortYuv.data(), shortYuv.size(), &b), EInvalidGraphic);
  EXPECT_EQ(b.Width(), 3);
}

TEST(DibProcs, CopyBitmapToDIBTakesTheInclusiveRectangle) {
  TBitmap src;
  test::FillPattern24(src, 9, 7, 2);
  HGLOBAL h = _CopyBitmaptoDIB(&src, 2, 1, 4, 0);  // y2 = 0: to the last row
  ASSERT_NE(h, nullptr);
  TBitmap back;
  _CopyDIB2Bitmap(h, &back);
  GlobalFree(h);
  ASSERT_EQ(back.Width(), 3);
  ASSERT_EQ(back.Height(), 6);
  EXPECT_EQ(back.GetPixel(0, 0), src.GetPixel(2, 1));
  EXPECT_EQ(back.GetPixel(2, 5), src.GetPixel(4, 6));
}

TEST(DibProcs, CompareIgnoresPaddingAndSwapsExchangeRedAndBlue) {
  TBitmap a, b;
  test::FillPattern24(a, 3, 2, 1);
  b.Assign(&a);
  b.Scanline(0)[9] ^= 0x55;  // row padding
  EXPECT_TRUE(_BitmapCompareX(&a, &b));
  b.Scanline(1)[8] ^= 1;
  EXPECT_FALSE(_BitmapCompareX(&a, &b));

  TRGB px[2] = {{1, 2, 3}, {4, 5, 6}}, out[2];
  _CopyBGR_RGB(out, px, 2);
  EXPECT_EQ(out[1], (TRGB{6, 5, 4}));
  _RGB2BGR(out, 2);
  EXPECT_EQ(out[0], px[0]);
}

// ---------------------------------------------------------------------------
// Magic wand

bool MaskBit(TBitmap& m, int x, int y) { return (m.Scanline(y)[x >> 3] >> (7 - (x & 7))) & 1; }

TEST(MagicWand, FillsTheRingNotItsHoleNorDiagonalNeighbours) {
  TBitmap src;
  src.SetSize(20, 20);  // white
  TCanvas* c = src.Canvas();
  c->Brush()->SetColor(RGB(200, 0, 0));
  c->FillRect(Rect(2, 2, 12, 12));
  c->Brush()->SetColor(clWhite);
  c->FillRect(Rect(5, 5, 9, 9));  // the hole
  c->Brush()->SetColor(RGB(205, 3, 0));
  c->FillRect(Rect(12, 12, 14, 14));  // touches the ring only at a corner
  c->EndPaint();
  TBitmap mask;
  _MakeMagicWandBitmap(&src, &mask, 3, 3, 10);
  ASSERT_EQ(mask.PixelFormat(), pf1bit);
  int n = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) n += MaskBit(mask, x, y);
  EXPECT_EQ(n, 100 - 16);
  EXPECT_TRUE(MaskBit(mask, 11, 11));
  EXPECT_FALSE(MaskBit(mask, 6, 6));
  EXPECT_FALSE(MaskBit(mask, 12, 12));
  _MakeMagicWandBitmap(&src, &mask, 20, 3, 10);  // seed outside: empty mask
  for (int y = 0; y < 20; ++y) EXPECT_EQ(mask.Scanline(y)[0] | mask.Scanline(y)[1] | mask.Scanline(y)[2], 0);
}

// Breadth-first 4-connected fill as the reference.
std::vector<uint8_t> ReferenceFill(TBitmap& s, int sx, int sy, int tol) {
  const int w = s.Width(), h = s.Height();
  std::vector<uint8_t> in(size_t(w) * h, 0);
  const uint8_t* seed = s.Scanline(sy) + 3 * sx;
  auto ok = [&](int x, int y) {
    const uint8_t* p = s.Scanline(y) + 3 * x;
    for (int c = 0; c < 3; ++c)
      if (std::abs(p[c] - seed[c]) > tol) return false;
    return true;
  };
  std::queue<std::pair<int, int>> q;
  q.push({sx, sy});
  in[size_t(sy) * w + sx] = 1;
  while (!q.empty()) {
    auto [x, y] = q.front();
    q.pop();
    const int dx[4] = {1, -1, 0, 0}, dy[4] = {0, 0, 1, -1};
    for (int k = 0; k < 4; ++k) {
      int nx = x + dx[k], ny = y + dy[k];
      if (nx < 0 || ny < 0 || nx >= w || ny >= h || in[size_t(ny) * w + nx] || !ok(nx, ny)) continue;
      in[size_t(ny) * w + nx] = 1;
      q.push({nx, ny});
    }
  }
  return in;
}

class MagicWandReference : public ::testing::TestWithParam<int> {};

TEST_P(MagicWandReference, MatchesABreadthFirstFill) {
  // Blobs of a few levels with noise: mazes of regions with holes and leaks.
  const int seed = GetParam();
  TBitmap src;
  test::FillPattern24(src, 37 + seed, 29, unsigned(seed));
  for (int y = 0; y < src.Height(); ++y)
    for (int x = 0; x < 3 * src.Width(); ++x) src.Scanline(y)[x] = uint8_t((src.Scanline(y)[x] >> 6) * 80);
  const int tol = seed % 3 == 0 ? 0 : 90;
  for (int sy = 0; sy < src.Height(); sy += 7) {
    const int sx = (sy * 5 + seed) % src.Width();
    TBitmap mask;
    _MakeMagicWandBitmap(&src, &mask, sx, sy, tol);
    auto ref = ReferenceFill(src, sx, sy, tol);
    for (int y = 0; y < src.Height(); ++y)
      for (int x = 0; x < src.Width(); ++x)
        ASSERT_EQ(MaskBit(mask, x, y), ref[size_t(y) * src.Width() + x] != 0)
            << "seed (" << sx << ", " << sy << ") at " << x << ", " << y;
  }
}

INSTANTIATE_TEST_SUITE_P(Images, MagicWandReference, ::testing::Range(1, 7));

}  // namespace
