// Window-system services: movable memory blocks, packed DIBs (writing,
// reading every depth, hostile headers, drawing) and the clipboard.
#include "korvane/foundations/host/winsys.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <climits>
#include <cstring>
#include <functional>
#include <vector>

#include "korvane/foundations/host/exceptions.h"
#include "tests/test_support.h"

using namespace korvane;

// ---------------------------------------------------------------------------
// Movable memory

TEST(MovableMemory, HandleRules) {
  const int base = GlobalBlockCount();
  HGLOBAL h = GlobalAlloc(GHND, 10);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalSize(h), 10u);
  auto* p = static_cast<uint8_t*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::count(p, p + 10, 0), 10);  // zero-filled
  p[9] = 42;
  EXPECT_EQ(GlobalLock(h), p);
  EXPECT_EQ(GlobalLockCount(h), 2);
  EXPECT_EQ(GlobalReAlloc(h, 20, GHND), nullptr);  // a locked block cannot move
  EXPECT_TRUE(GlobalUnlock(h));                    // still locked once
  EXPECT_FALSE(GlobalUnlock(h));
  EXPECT_FALSE(GlobalUnlock(h));  // not locked at all: rejected

  ASSERT_EQ(GlobalReAlloc(h, 20, GHND), h);
  TGlobalLock lock(h);
  ASSERT_NE(lock.Data(), nullptr);
  EXPECT_EQ(lock.Size(), 20u);
  EXPECT_EQ(lock.Data()[9], 42);
  EXPECT_EQ(lock.Data()[19], 0);

  EXPECT_EQ(GlobalFree(h), nullptr);
  // A freed handle is rejected everywhere and is never handed out again.
  EXPECT_EQ(GlobalFree(h), h);
  EXPECT_EQ(GlobalLock(h), nullptr);
  EXPECT_EQ(GlobalSize(h), 0u);
  EXPECT_FALSE(GlobalUnlock(h));
  HGLOBAL h2 = GlobalAlloc(GHND, 10);
  EXPECT_NE(h2, h);
  GlobalFree(h2);

  EXPECT_EQ(GlobalAlloc(GHND, kMaxGlobalBytes + 1), nullptr);
  HGLOBAL empty = GlobalAlloc(GHND, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(GlobalLock(empty), nullptr);
  GlobalFree(empty);
  EXPECT_EQ(GlobalBlockCount(), base);
}

// ---------------------------------------------------------------------------
// Writing packed DIBs

namespace {

uint32_t U32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

std::vector<uint8_t> BlockBytes(HGLOBAL h) {
  TGlobalLock lock(h);
  return std::vector<uint8_t>(lock.Data(), lock.Data() + lock.Size());
}

}  // namespace

TEST(PackedDIB, TwentyFourBitRoundTripIsBottomUpAndPadded) {
  TBitmap src;
  test::FillPattern24(src, 7, 5, 3);
  HGLOBAL h = BitmapToPackedDIB(&src);
  ASSERT_NE(h, nullptr);
  std::vector<uint8_t> d = BlockBytes(h);
  const size_t row = 24;  // 7 * 3 = 21, padded to 24
  ASSERT_EQ(d.size(), 40 + row * 5);
  EXPECT_EQ(U32(&d[0]), 40u);
  EXPECT_EQ(U32(&d[4]), 7u);
  EXPECT_EQ(U32(&d[8]), 5u);  // positive: bottom-up
  EXPECT_EQ(d[14], 24);
  EXPECT_EQ(U32(&d[16]), 0u);
  // The first stored row is the bitmap's last row.
  EXPECT_EQ(std::memcmp(&d[40], src.Scanline(4), 21), 0);
  EXPECT_EQ(std::memcmp(&d[40 + 4 * row], src.Scanline(0), 21), 0);

  TBitmap back;
  PackedDIBHandleToBitmap(h, &back);
  EXPECT_TRUE(test::SamePixels(src, back));
  GlobalFree(h);
}

TEST(PackedDIB, OneBitHasTheTwoEntryTableAndSurvivesSubRectangles) {
  TBitmap src(13, 3, pf1bit);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 13; ++x) src.SetPixel(x, y, ((x * 7 + y * 3) % 5) < 2 ? clWhite : clBlack);
  std::vector<uint8_t> d = BitmapToPackedDIBBytes(&src);
  ASSERT_EQ(d.size(), 40u + 8 + 4 * 3);
  EXPECT_EQ(d[14], 1);
  EXPECT_EQ(U32(&d[40]), 0x00000000u);
  EXPECT_EQ(U32(&d[44]), 0xFFFFFFFFu);
  TBitmap back;
  PackedDIBToBitmap(d.data(), d.size(), &back);
  EXPECT_EQ(back.PixelFormat(), pf1bit);
  EXPECT_TRUE(test::SamePixels(src, back));

  // A rectangle starting mid-byte moves its bits to bit 0 onwards.
  std::vector<uint8_t> part = BitmapToPackedDIBBytes(&src, Rect(3, 1, 12, 3));
  TBitmap sub;
  PackedDIBToBitmap(part.data(), part.size(), &sub);
  ASSERT_EQ(sub.Width(), 9);
  ASSERT_EQ(sub.Height(), 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(sub.GetPixel(x, y), src.GetPixel(x + 3, y + 1)) << x << "," << y;
}

TEST(PackedDIB, OtherFormatsAreWrittenAsTwentyFourBit) {
  TBitmap src(3, 2, pf8bit);
  src.SetPixel(1, 1, RGB(200, 100, 50));
  std::vector<uint8_t> d = BitmapToPackedDIBBytes(&src);
  EXPECT_EQ(d[14], 24);
  TBitmap back;
  PackedDIBToBitmap(d.data(), d.size(), &back);
  EXPECT_EQ(back.PixelFormat(), pf24bit);
  EXPECT_EQ(back.GetPixel(1, 1), src.GetPixel(1, 1));
  TBitmap none;
  EXPECT_EQ(BitmapToPackedDIB(&none), nullptr);
}

// ---------------------------------------------------------------------------
// Reading packed DIBs of every depth

namespace {

// A packed DIB of a 3 x 2 image. rows are the image rows top first, unpadded;
// table entries are 0xRRGGBB.
struct DibSpec {
  const char* name;
  int bits;
  uint32_t compression;
  std::vector<uint32_t> masks;
  std::vector<uint32_t> table;
  bool top_down;
  std::vector<std::vector<uint8_t>> rows;
  TPixelFormat format;
  std::vector<TColor> expected;  // row-major, top row first
};

std::vector<uint8_t> Build(const DibSpec& s) {
  const int w = 3, h = 2;
  const size_t row = ((size_t(s.bits) * w + 31) / 32) * 4;
  std::vector<uint8_t> d(40);
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) d[at + i] = uint8_t(v >> (8 * i));
  };
  put(0, 40);
  put(4, w);
  put(8, uint32_t(s.top_down ? -h : h));
  d[12] = 1;
  d[14] = uint8_t(s.bits);
  put(16, s.compression);
  put(32, uint32_t(s.table.size()));
  for (uint32_t m : s.masks) {
    d.resize(d.size() + 4);
    put(d.size() - 4, m);
  }
  for (uint32_t c : s.table) d.insert(d.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 0});
  for (int i = 0; i < h; ++i) {
    const std::vector<uint8_t>& r = s.rows[size_t(s.top_down ? i : h - 1 - i)];
    std::vector<uint8_t> padded(row, 0);
    std::copy(r.begin(), r.end(), padded.begin());
    d.insert(d.end(), padded.begin(), padded.end());
  }
  return d;
}

constexpr TColor R = RGB(255, 0, 0), G = RGB(0, 255, 0), B = RGB(0, 0, 255), K = clBlack, W = clWhite;
const std::vector<uint32_t> kTable4 = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};

}  // namespace

class DibReader : public ::testing::TestWithParam<DibSpec> {};

TEST_P(DibReader, DecodesPixelsInImageOrder) {
  const DibSpec& s = GetParam();
  std::vector<uint8_t> d = Build(s);
  TBitmap bmp;
  PackedDIBToBitmap(d.data(), d.size(), &bmp);
  ASSERT_EQ(bmp.Width(), 3);
  ASSERT_EQ(bmp.Height(), 2);
  EXPECT_EQ(bmp.PixelFormat(), s.format);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(bmp.GetPixel(x, y), s.expected[size_t(y * 3 + x)]) << "pixel " << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    Depths, DibReader,
    ::testing::Values(
        DibSpec{"pal8", 8, 0, {}, kTable4, false, {{1, 2, 3}, {3, 0, 1}}, pf24bit, {R, G, B, B, K, R}},
        DibSpec{
            "pal4odd", 4, 0, {}, kTable4, false, {{0x12, 0x30}, {0x30, 0x10}}, pf24bit, {R, G, B, B, K, R}},
        DibSpec{"rgb555",
                16,
                0,
                {},
                {},
                false,
                {{0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00}, {0xFF, 0x7F, 0x00, 0x00, 0x00, 0x7C}},
                pf24bit,
                {R, G, B, W, K, R}},
        DibSpec{"bitfields565",
                16,
                3,
                {0xF800, 0x07E0, 0x001F},
                {},
                false,
                {{0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00}, {0x10, 0x84, 0xFF, 0xFF, 0x00, 0x00}},
                pf24bit,
                {R, G, B, RGB(132, 130, 132), W, K}},
        DibSpec{"rgb24topdown",
                24,
                0,
                {},
                {},
                true,
                {{0, 0, 255, 0, 255, 0, 255, 0, 0}, {255, 255, 255, 0, 0, 0, 1, 2, 3}},
                pf24bit,
                {R, G, B, W, K, RGB(3, 2, 1)}},
        DibSpec{"rgb32junkalpha",
                32,
                0,
                {},
                {},
                false,
                {{0, 0, 255, 9, 0, 255, 0, 0, 255, 0, 0, 77}, {1, 2, 3, 4, 0, 0, 0, 0, 255, 255, 255, 255}},
                pf24bit,
                {R, G, B, RGB(3, 2, 1), K, W}},
        DibSpec{"bitfields32rgba",
                32,
                3,
                {0x000000FF, 0x0000FF00, 0x00FF0000},
                {},
                false,
                {{255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0}, {10, 20, 30, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
                pf24bit,
                {R, G, B, RGB(10, 20, 30), K, K}},
        DibSpec{"mono", 1, 0, {}, {0x000000, 0xFFFFFF}, false, {{0xA0}, {0x40}}, pf1bit, {W, K, W, K, W, K}},
        DibSpec{"monoInvertedTable",
                1,
                0,
                {},
                {0xFFFFFF, 0x000000},
                false,
                {{0xA0}, {0x40}},
                pf1bit,
                {K, W, K, W, K, W}}),
    [](const ::testing::TestParamInfo<DibSpec>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// Hostile packed DIBs

namespace {

// A valid 8-bit 3 x 2 DIB with a 4-entry table: 40 + 16 + 2 * 4 bytes.
std::vector<uint8_t> ValidDib() {
  return Build(DibSpec{"", 8, 0, {}, kTable4, false, {{1, 2, 3}, {3, 0, 1}}, pf24bit, {}});
}

void Put32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + i] = uint8_t(v >> (8 * i));
}

struct Mutation {
  const char* name;
  std::function<void(std::vector<uint8_t>&)> apply;
};

}  // namespace

class DibHostile : public ::testing::TestWithParam<Mutation> {};

TEST_P(DibHostile, IsRejectedAndLeavesTheBitmapAlone) {
  std::vector<uint8_t> d = ValidDib();
  GetParam().apply(d);
  TBitmap bmp;
  test::FillPattern24(bmp, 2, 2, 9);
  TBitmap before;
  before.Assign(&bmp);
  EXPECT_THROW(PackedDIBToBitmap(d.data(), d.size(), &bmp), EInvalidGraphic);
  EXPECT_TRUE(test::SamePixels(before, bmp));
  TBitmap canvasTarget(4, 4, pf24bit);
  EXPECT_FALSE(DrawPackedDib(canvasTarget.Canvas(), 0, 0, 4, 4, d.data(), d.size(), 0, 0, 1, 1));
}

INSTANTIATE_TEST_SUITE_P(
    Headers, DibHostile,
    ::testing::Values(Mutation{"shorterThanHeader", [](auto& d) { d.resize(39); }},
                      Mutation{"coreHeader", [](auto& d) { Put32(d, 0, 12); }},
                      Mutation{"headerPastBlock", [](auto& d) { Put32(d, 0, 200); }},
                      Mutation{"zeroWidth", [](auto& d) { Put32(d, 4, 0); }},
                      Mutation{"negativeWidth", [](auto& d) { Put32(d, 4, uint32_t(-3)); }},
                      Mutation{"zeroHeight", [](auto& d) { Put32(d, 8, 0); }},
                      Mutation{"minHeight", [](auto& d) { Put32(d, 8, uint32_t(INT_MIN)); }},
                      Mutation{"hugeImage",
                               [](auto& d) {
                                 Put32(d, 4, 100000);
                                 Put32(d, 8, 100000);
                               }},
                      Mutation{"bitCount7", [](auto& d) { d[14] = 7; }},
                      Mutation{"rle8", [](auto& d) { Put32(d, 16, 1); }},
                      Mutation{"bitfieldsOn8bit", [](auto& d) { Put32(d, 16, 3); }},
                      Mutation{"tooManyColors", [](auto& d) { Put32(d, 32, 300); }},
                      Mutation{"tableOverrun",
                               [](auto& d) {
                                 d[14] = 24;
                                 Put32(d, 32, 0x40000000);
                               }},
                      Mutation{"truncatedRows", [](auto& d) { d.pop_back(); }},
                      Mutation{"splitMask",
                               [](auto& d) {
                                 d[14] = 16;
                                 Put32(d, 16, 3);
                                 Put32(d, 32, 0);
                                 Put32(d, 40, 0x0F0F);
                               }}),
    [](const ::testing::TestParamInfo<Mutation>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// Drawing DIBs

class DrawDibTest : public ::testing::TestWithParam<TPixelFormat> {};

TEST_P(DrawDibTest, StretchesWithoutSmoothingInEitherRowOrder) {
  TBitmap src;
  test::FillPattern24(src, 5, 4, 11);
  if (GetParam() == pf1bit) src.SetPixelFormat(pf1bit);
  std::vector<uint8_t> packed = BitmapToPackedDIBBytes(&src);

  // The same image described top-down over the bitmap's own rows.
  std::vector<uint8_t> header(packed.begin(), packed.begin() + (GetParam() == pf1bit ? 48 : 40));
  Put32(header, 8, uint32_t(-src.Height()));

  TBitmap a(10, 8, pf24bit), b(10, 8, pf24bit);
  ASSERT_TRUE(DrawPackedDib(a.Canvas(), 0, 0, 10, 8, packed.data(), packed.size(), 0, 0, 5, 4));
  ASSERT_TRUE(DrawDibDraw(b.Canvas(), 0, 0, 10, 8, header.data(), src.Scanline(0), 0, 0, 5, 4));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 10; ++x) {
      ASSERT_EQ(a.GetPixel(x, y), src.GetPixel(x / 2, y / 2)) << x << "," << y;
      ASSERT_EQ(b.GetPixel(x, y), src.GetPixel(x / 2, y / 2)) << x << "," << y;
    }

  // A source sub-rectangle at its own size (-1), placed at (3, 2).
  TBitmap c(10, 8, pf24bit);
  ASSERT_TRUE(DrawPackedDib(c.Canvas(), 3, 2, -1, -1, packed.data(), packed.size(), 1, 2, 3, 2));
  EXPECT_EQ(c.GetPixel(3, 2), src.GetPixel(1, 2));
  EXPECT_EQ(c.GetPixel(5, 3), src.GetPixel(3, 3));
  EXPECT_EQ(c.GetPixel(6, 3), clWhite);
  EXPECT_EQ(c.GetPixel(2, 2), clWhite);

  // A source rectangle outside the image draws nothing.
  EXPECT_FALSE(DrawPackedDib(c.Canvas(), 0, 0, 4, 4, packed.data(), packed.size(), 3, 0, 3, 1));
}

INSTANTIATE_TEST_SUITE_P(Formats, DrawDibTest, ::testing::Values(pf24bit, pf1bit));

// ---------------------------------------------------------------------------
// Clipboard

namespace {
bool ClipboardWorks() {
  if (!ClipboardAvailable()) return false;
  QGuiApplication::clipboard()->setText(QStringLiteral("korvane-probe"));
  return QGuiApplication::clipboard()->text() == QStringLiteral("korvane-probe");
}
}  // namespace

TEST(Clipboard, DIBRoundTripAndForeignImages) {
  if (!ClipboardWorks()) GTEST_SKIP() << "this platform has no working clipboard";
  const int base = GlobalBlockCount();
  TBitmap src;
  test::FillPattern24(src, 6, 3, 5);
  ASSERT_TRUE(ClipboardSetDIB(BitmapToPackedDIB(&src)));
  EXPECT_EQ(GlobalBlockCount(), base);  // the clipboard took the block
  EXPECT_TRUE(ClipboardHasDIB());

  const QMimeData* m = QGuiApplication::clipboard()->mimeData();
  ASSERT_TRUE(m->hasFormat("image/bmp"));
  QByteArray bmp = m->data("image/bmp");
  ASSERT_GE(bmp.size(), 14 + 40);
  EXPECT_EQ(bmp.left(2), QByteArray("BM"));
  EXPECT_EQ(U32(reinterpret_cast<const uint8_t*>(bmp.constData()) + 2), uint32_t(bmp.size()));
  QImage other = QGuiApplication::clipboard()->image();
  ASSERT_FALSE(other.isNull());
  EXPECT_EQ(other.pixel(2, 1) & 0xFFFFFF, test::Pixel24(src, 2, 1));

  HGLOBAL h = ClipboardGetDIB();
  ASSERT_NE(h, nullptr);
  TBitmap back;
  PackedDIBHandleToBitmap(h, &back);
  EXPECT_TRUE(test::SamePixels(src, back));

  // An image put there by another program comes back as a DIB too.
  QImage red(4, 2, QImage::Format_RGB32);
  red.fill(qRgb(255, 0, 0));
  QGuiApplication::clipboard()->setImage(red);
  h = ClipboardGetDIB();  // the previous block is released by this call
  ASSERT_NE(h, nullptr);
  PackedDIBHandleToBitmap(h, &back);
  EXPECT_EQ(back.Width(), 4);
  EXPECT_EQ(back.GetPixel(3, 1), RGB(255, 0, 0));
  EXPECT_EQ(GlobalBlockCount(), base + 1);

  // A block that is not a DIB is refused, and still taken.
  HGLOBAL junk = GlobalAlloc(GHND, 16);
  EXPECT_FALSE(ClipboardSetDIB(junk));
  EXPECT_EQ(GlobalSize(junk), 0u);
}
