// Hand-built BMP, ICO, CUR and PCX files for what the corpus does not cover:
// bit-field masks, odd palettes, RLE codes that leave the bitmap, lying
// headers, abort, icons of every kind.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/codecs/bmp/bmp_codec.h"
#include "korvane/io/codecs/checked_reader.h"
#include "korvane/io/codecs/pcx/pcx_codec.h"
#include "tests/codec_bmp/codec_test_util.h"
#include "tests/test_support.h"

using namespace korvane;
using namespace korvane::test;

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void Put32(Bytes& b, uint32_t v) {
  b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}

// A DIB header of hsize bytes (40 or more) with the given fields.
Bytes DibHeader(int w, int h, int bits, uint32_t comp, uint32_t clrUsed, uint32_t hsize = 40,
                const std::vector<uint32_t>& inMasks = {}) {
  Bytes b;
  Put32(b, hsize);
  Put32(b, uint32_t(w));
  Put32(b, uint32_t(h));
  Put16(b, 1);
  Put16(b, uint32_t(bits));
  Put32(b, comp);
  Put32(b, 0);
  Put32(b, 2835);  // 72 dpi
  Put32(b, 2835);
  Put32(b, clrUsed);
  Put32(b, 0);
  for (uint32_t m : inMasks) Put32(b, m);
  b.resize(hsize, 0);
  return b;
}

// A BMP file: header, then the rest (masks, table, pixels) as given.
Bytes Bmp(const Bytes& dib, const Bytes& rest) {
  Bytes b{'B', 'M'};
  Put32(b, uint32_t(14 + dib.size() + rest.size()));
  Put32(b, 0);
  Put32(b, 0);  // pixel offset 0: right after the table
  b.insert(b.end(), dib.begin(), dib.end());
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

struct Loaded {
  TBitmap bmp;
  TIOParamsVals p;
  std::string error;
};

void Load(const std::string& codec, const Bytes& file, Loaded& out, int index = 0) {
  TMemoryStream ms;
  ms.SetData(file.data(), file.size());
  try {
    LoadWith(codec, ms, out.bmp, out.p, index);
  } catch (const EInvalidGraphic& e) {
    out.error = e.what();
  }
}

TEST(BmpRead, BitfieldMasksAreHonoured) {
  // 32-bit, red in the low byte: masks after a 40-byte header.
  Bytes masks;
  for (uint32_t m : {0x000000FFu, 0x0000FF00u, 0x00FF0000u}) Put32(masks, m);
  Bytes px;
  Put32(px, 0x00336699);  // blue 0x33, green 0x66, red 0x99
  masks.insert(masks.end(), px.begin(), px.end());
  Loaded a;
  Load("bmp", Bmp(DibHeader(1, 1, 32, 3, 0), masks), a);
  ASSERT_EQ(a.error, "");
  EXPECT_EQ(Pixel24(a.bmp, 0, 0), 0x996633u);

  // 16-bit 5-6-5 with the masks inside a 108-byte header, top-down, 2 rows.
  Bytes rows;
  Put16(rows, 0xF800), Put16(rows, 0);  // row 0: pure red (+ padding)
  Put16(rows, 0x07E0), Put16(rows, 0);  // row 1: pure green
  Loaded b;
  Load("bmp", Bmp(DibHeader(1, -2, 16, 3, 0, 108, {0xF800, 0x07E0, 0x001F}), rows), b);
  ASSERT_EQ(b.error, "");
  EXPECT_EQ(b.p.BMP_Version, ioBMP_BM);
  EXPECT_EQ(b.p.Height, 2);
  // Channels scale to the full range: 5-bit 31 and 6-bit 63 are 255.
  EXPECT_EQ(Pixel24(b.bmp, 0, 0), 0xFF0000u);
  EXPECT_EQ(Pixel24(b.bmp, 0, 1), 0x00FF00u);
}

TEST(BmpRead, PalettesShortLongAndInverted) {
  // Two entries for an 8-bit image: index 200 is past the table and reads black.
  Bytes rest;
  Put32(rest, 0x00FF0000), Put32(rest, 0x000000FF);
  rest.insert(rest.end(), {1, 200, 0, 0});
  Loaded a;
  Load("bmp", Bmp(DibHeader(2, 1, 8, 0, 2), rest), a);
  ASSERT_EQ(a.error, "");
  EXPECT_EQ(Pixel24(a.bmp, 0, 0), 0x0000FFu);
  EXPECT_EQ(Pixel24(a.bmp, 1, 0), 0u);

  // A colors-used count of 1000 keeps 256 entries and finds the pixels.
  Bytes big;
  for (int i = 0; i < 1000; ++i) Put32(big, uint32_t(i));
  big.insert(big.end(), {7, 0, 0, 0});
  Loaded b;
  Load("bmp", Bmp(DibHeader(1, 1, 8, 0, 1000), big), b);
  ASSERT_EQ(b.error, "");
  EXPECT_EQ(b.p.ColorMapCount, 256);
  EXPECT_EQ(Pixel24(b.bmp, 0, 0), 7u);

  // 1-bit with white first: bits are inverted so bit 1 stays the lighter color.
  for (bool whiteFirst : {false, true}) {
    Bytes t;
    Put32(t, whiteFirst ? 0xFFFFFF : 0), Put32(t, whiteFirst ? 0 : 0xFFFFFF);
    t.insert(t.end(), {0x80, 0, 0, 0});  // first pixel index 1
    Loaded c;
    Load("bmp", Bmp(DibHeader(2, 1, 1, 0, 2), t), c);
    ASSERT_EQ(c.bmp.PixelFormat(), pf1bit);
    EXPECT_EQ(c.bmp.Scanline(0)[0] & 0xC0, whiteFirst ? 0x40 : 0x80);
  }
}

TEST(BmpRead, RLECodesLeavingTheBitmapAreClipped) {
  Bytes pal;
  Put32(pal, 0), Put32(pal, 0x0000FF), Put32(pal, 0x00FF00);
  Bytes rle8 = pal;
  rle8.insert(rle8.end(), {10, 1, 0, 0,           // bottom row: a run past its end
                           0,  2, 1, 0,  2, 2,    // top row: move right 1, two pixels
                           0,  3, 1, 1,  1, 0,    // absolute run past the row end
                           0,  2, 0, 50, 5, 1});  // move far above the bitmap, then a run
  Loaded a;
  Load("bmp", Bmp(DibHeader(4, 2, 8, 1, 3), rle8), a);
  ASSERT_EQ(a.error, "");
  EXPECT_EQ(a.p.BMP_Compression, ioBMP_RLE);
  EXPECT_EQ(Pixel24(a.bmp, 0, 0), 0u);
  EXPECT_EQ(Pixel24(a.bmp, 1, 0), 0x00FF00u);
  EXPECT_EQ(Pixel24(a.bmp, 3, 0), 0x0000FFu);  // first value of the absolute run, the rest clipped
  for (int x = 0; x < 4; ++x) EXPECT_EQ(Pixel24(a.bmp, x, 1), 0x0000FFu);

  // RLE4: the last row ends with an end-of-line code and no end-of-bitmap.
  Bytes rle4 = pal;
  rle4.insert(rle4.end(), {3, 0x12, 0, 0, 0, 3, 0x21, 0x20, 0, 0});
  Loaded b;
  Load("bmp", Bmp(DibHeader(3, 2, 4, 2, 3), rle4), b);
  ASSERT_EQ(b.error, "");
  EXPECT_EQ(Pixel24(b.bmp, 0, 1), 0x0000FFu);
  EXPECT_EQ(Pixel24(b.bmp, 1, 1), 0x00FF00u);
  EXPECT_EQ(Pixel24(b.bmp, 0, 0), 0x00FF00u);
  EXPECT_EQ(Pixel24(b.bmp, 2, 0), 0x00FF00u);
}

// Headers promising far more than the data hold fail before allocating,
// and leave the bitmap as it was.
TEST(BmpRead, LyingSizesFailCleanly) {
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"bmp", Bmp(DibHeader(60000, 60000, 24, 0, 0), Bytes(6, 0))},
      {"bmp", Bmp(DibHeader(60000, 60000, 8, 1, 0), Bytes(20, 0))},
      {"bmp", Bmp(DibHeader(60000, 60000, 2, 0, 1), Bytes(6, 0))},
      {"bmp", Bmp(DibHeader(4, 4, 24, 0, 0), Bytes(40, 0))},  // rows end early
      {"bmp", Bytes{'B', 'M', 0, 0}},
      {"bmp", Bytes{'X', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0}},
  };
  for (const auto& [codec, file] : files) {
    Loaded a;
    a.bmp.Allocate(3, 2, pf24bit);
    Load(codec, file, a);
    EXPECT_EQ(a.error, "unrecognized BMP");
    EXPECT_EQ(a.bmp.Width(), 3);
  }
}

TEST(BmpRead, AbortStopsAfterTheCurrentRow) {
  TBitmap src;
  FillPattern24(src, 8, 6, 3);
  TIOParamsVals p;
  TMemoryStream ms;
  BMPWriteStream(&ms, &src, p, nullpr);

  bool abort = false;
  int calls = 0;
  TProgressRec pr;
  pr.Aborting = &abort;
  pr.OnProgress = [&](TObject*, int) { abort = ++calls == 3; };
  Loaded a;
  LoadWith("bmp", ms, a.bmp, a.p, 0, pr);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(Pixel24(a.bmp, 0, 5), Pixel24(src, 0, 5));  // bottom rows came first
  EXPECT_EQ(Pixel24(a.bmp, 0, 0), 0u);

  // A write stopped by abort leaves the placeholder file header.
  abort = false;
  calls = 0;
  TMemoryStream out;
  BMPWriteStream(&out, &src, p, pr);
  EXPECT_EQ(LE32(out.Memory() + 2), 0u);
}

// ---------------------------------------------------------------------------
// Icons and cursors

// An icon or cursor file of one image (the image bytes as given).
Bytes Icon(uint16_t type, int w, int h, int colors, int bits, const Bytes& image) {
  Bytes b;
  Put16(b, 0), Put16(b, type), Put16(b, 1);
  b.insert(b.end(), {uint8_t(w), uint8_t(h), uint8_t(colors), 0});
  Put16(b, type == 1 ? 1 : 4), Put16(b, type == 1 ? uint32_t(bits) : 7);
  Put32(b, uint32_t(image.size()));
  Put32(b, 22);
  b.insert(b.end(), image.begin(), image.end());
  return b;
}

TEST(IconRead, ColorImagesOfEveryKindLoad) {
  // 24- and 32-bit images: color pixels, parameters 8 bits x 3 samples.
  for (int bits : {24, 32}) {
    Bytes img = DibHeader(2, 4, bits, 0, 0);  // height doubled for the mask
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 2; ++x) {
        img.insert(img.end(), {uint8_t(10 * y), uint8_t(x ? 200 : 100), 50});
        if (bits == 32) img.push_back(0x80);
      }
      if (bits == 24) img.insert(img.end(), {0, 0});
    }
    img.resize(img.size() + 8, 0);  // the AND mask
    Loaded a;
    Load("ico", Icon(1, 2, 2, 0, bits, img), a);
    ASSERT_EQ(a.error, "") << bits;
    EXPECT_EQ(a.p.BitsPerSample, 8);
    EXPECT_EQ(a.p.SamplesPerPixel, 3);
    EXPECT_EQ(Pixel24(a.bmp, 1, 0), 0x32C80Au);  // the stored top row is the last one
    EXPECT_EQ(Pixel24(a.bmp, 0, 1), 0x326400u);
  }

  // A PNG image (as larger icons store them).
  QImage q(5, 3, QImage::Format_RGB32);
  q.fill(QColor(12, 34, 56));
  q.setPixel(4, 2, qRgb(200, 100, 0));
  QByteArray png;
  QBuffer buf(&png);
  buf.open(QIODevice::WriteOnly);
  ASSERT_TRUE(q.save(&buf, "PNG"));
  Loaded b;
  Load("cur", Icon(2, 0, 0, 0, 0, Bytes(png.begin(), png.end())), b);
  ASSERT_EQ(b.error, "");
  EXPECT_EQ(b.p.Width, 5);
  EXPECT_EQ(b.p.CUR_XHotSpot, 4);
  EXPECT_EQ(b.p.CUR_YHotSpot, 7);
  EXPECT_EQ(Pixel24(b.bmp, 0, 0), 0x0C2238u);
  EXPECT_EQ(Pixel24(b.bmp, 4, 2), 0xC86400u);

  // Damaged PNG data is an error, not a crash.
  png[30] = char(png[30] ^ 0x55);
  Loaded c;
  Load("ico", Icon(1, 0, 0, 0, 0, Bytes(png.begin(), png.end())), c);
  EXPECT_EQ(c.error, "unrecognized ICO");
}

TEST(IconRead, IndexesDetectionAndTwoColorImages) {
  // 1-bit 8x8 image with white first in its table: inverted on load.
  Bytes img = DibHeader(8, 16, 1, 0, 0);
  Put32(img, 0xFFFFFF), Put32(img, 0);
  for (int y = 0; y < 8; ++y) Put32(img, y == 0 ? 0x0F : 0);  // bottom row: left half white
  img.resize(img.size() + 32, 0);
  const Bytes ico = Icon(1, 8, 8, 2, 1, img);
  Loaded a;
  Load("ico", ico, a);
  ASSERT_EQ(a.error, "");
  ASSERT_EQ(a.bmp.PixelFormat(), pf1bit);
  EXPECT_EQ(a.bmp.Scanline(7)[0], 0xF0);
  EXPECT_EQ(a.bmp.Scanline(6)[0], 0xFF);

  // The image count as index loads nothing and raises nothing.
  Loaded b;
  b.p.Width = 77;
  Load("ico", ico, b, 1);
  EXPECT_EQ(b.error, "");
  EXPECT_EQ(b.p.Width, 77);
  EXPECT_TRUE(b.bmp.Empty());

  TMemoryStream ms;
  ms.SetData(ico.data(), ico.size());
  ms.SetPosition(0);
  EXPECT_TRUE(ICOTryStream(&ms));
  EXPECT_FALSE(CURTryStream(&ms));
  EXPECT_EQ(ms.Position(), 0);
  ms.SetData(ico.data(), 22);
  EXPECT_FALSE(ICOTryStream(&ms));

  // Pixel rows cut short: an error.
  Loaded c;
  Load("ico", Bytes(ico.begin(), ico.begin() + 22 + 40 + 8 + 10), c);
  EXPECT_EQ(c.error, "unrecognized ICO");
}

// ---------------------------------------------------------------------------
// PCX

Bytes PcxHeader(int manufacturer, int xmin, int xmax, int bpp, int planes, int bpl, int enc = 1) {
  Bytes h(128, 0);
  h[0] = uint8_t(manufacturer), h[1] = 5, h[2] = uint8_t(enc), h[3] = uint8_t(bpp);
  PutLE16(&h[4], uint32_t(xmin)), PutLE16(&h[8], uint32_t(xmax)), PutLE16(&h[10], 1);
  h[65] = uint8_t(planes);
  PutLE16(&h[66], uint32_t(bpl));
  return h;
}

TEST(PcxRead, BadHeadersAndShortData) {
  auto with = [](Bytes h, size_t extra) {
    h.resize(h.size() + extra, 0x41);
    return h;
  };
  const std::vector<Bytes> files = {
      with(PcxHeader(5, 0, 9, 8, 3, 10), 100),          // not a PCX maker
      with(PcxHeader(10, 9, 0, 8, 3, 10), 100),         // xmax below xmin
      with(PcxHeader(10, 0, 9, 8, 2, 10), 100),         // two planes
      with(PcxHeader(10, 0, 9, 8, 3, 4), 100),          // lines shorter than the width
      with(PcxHeader(10, 0, 9, 8, 3, 10, 0), 30),       // uncompressed rows cut short
      with(PcxHeader(10, 0, 60000, 8, 3, 60002), 300),  // far more than the data can hold
      Bytes(100, 10),
  };
  for (const Bytes& f : files) {
    Loaded a;
    a.bmp.Allocate(3, 2, pf24bit);
    Load("pcx", f, a);
    EXPECT_EQ(a.error, "unrecognized PCX");
    EXPECT_EQ(a.bmp.Width(), 3);
  }
  // A run crossing from one plane line into the next.
  Bytes ok = PcxHeader(10, 0, 1, 8, 3, 2);
  ok.insert(ok.end(), {0xC3, 9, 0xC3, 7, 0xC3, 5, 0xC3, 3});
  Loaded b;
  Load("pcx", ok, b);
  ASSERT_EQ(b.error, "");
  EXPECT_EQ(Pixel24(b.bmp, 0, 0), 0x090907u);
  EXPECT_EQ(Pixel24(b.bmp, 0, 1), 0x050503u);
}

}  // namespace
