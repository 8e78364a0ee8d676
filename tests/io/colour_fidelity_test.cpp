// A save or a load never changes colours: palette writers keep every colour
// of an image that fits their palette, two-colour images keep their two
// colours whatever the palette holds, and narrow samples reach full
// intensity.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <set>

#include "korvane/foundations/host/streams.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/io/codecs/bmp/bmp_codec.h"
#include "korvane/io/codecs/checked_reader.h"
#include "korvane/io/codecs/gif/gif_codec.h"
#include "korvane/io/codecs/pcx/pcx_codec.h"
#include "korvane/io/codecs/png/png_codec.h"
#include "korvane/io/codecs/tiff/tiff_codec.h"
#include "korvane/io/kvio.h"
#include "tests/io/lzw_coders.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

using Writer = std::function<void(TStream*, TBitmap*, TIOParamsVals&)>;
using Reader = std::function<void(TStream*, TBitmap*, TIOParamsVals&)>;

struct Format {
  const char* name;
  Writer write;
  Reader read;
};

std::vector<Format> PaletteFormats() {
  return {
      {"BMP", [](TStream* s, TBitmap* b, TIOParamsVals& p) { BMPWriteStream(s, b, p, nullpr); },
       [](TStream* s, TBitmap* b, TIOParamsVals& p) { BMPReadStream(s, b, 0, p, nullpr, false); }},
      {"PNG", [](TStream* s, TBitmap* b, TIOParamsVals& p) { WritePNGStream(s, b, p, nullpr); },
       [](TStream* s, TBitmap* b, TIOParamsVals& p) { ReadPNGStream(s, b, p, false, nullpr); }},
      {"PCX", [](TStream* s, TBitmap* b, TIOParamsVals& p) { WritePcxStream(s, b, p, nullpr); },
       [](TStream* s, TBitmap* b, TIOParamsVals& p) { ReadPcxStream(s, b, p, false, nullpr, 0); }},
      {"GIF", [](TStream* s, TBitmap* b, TIOParamsVals& p) { WriteGifStream(s, b, p, nullpr); },
       [](TStream* s, TBitmap* b, TIOParamsVals& p) {
         int32_t n = 0;
         p.GIF_ImageIndex = 0;
         ReadGifStream(s, b, n, p, nullpr, false);
       }},
      {"TIFF", [](TStream* s, TBitmap* b, TIOParamsVals& p) { TIFFWriteStream(s, false, b, p, nullpr); },
       [](TStream* s, TBitmap* b, TIOParamsVals& p) {
         int32_t n = 0;
         p.TIFF_ImageIndex = 0;
         TIFFReadStream(b, s, n, false, nullpr, &p);
       }},
  };
}

// Writes b at the given depth and reads it back.
void RoundTrip(const Format& f, TBitmap& b, int bits, TBitmap& back, TIOParamsVals& p) {
  test::LZWCoders coders;
  p.SetDefaultParams();
  p.BitsPerSample = bits;
  p.SamplesPerPixel = 1;
  TMemoryStream s;
  f.write(&s, &b, p);
  s.SetPosition(0);
  f.read(&s, &back, p);
}

void Fill(TBitmap& b, int w, int h, const std::function<TRGB(int, int)>& at) {
  b.Allocate(w, h, pf24bit);
  for (int y = 0; y < h; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(b.Scanline(y));
    for (int x = 0; x < w; ++x) row[x] = at(x, y);
  }
}

TEST(ColourFidelity, PaletteWritersKeepEveryColourOfAnImageThatFits) {
  TBitmap ramp, many, sixteen;
  Fill(ramp, 256, 3, [](int x, int) { return TRGB{uint8_t(x), uint8_t(x), uint8_t(x)}; });
  // 200 colours spread over the cube, each in a run of 3 pixels.
  Fill(many, 60, 10, [](int x, int y) {
    const int i = (y * 60 + x) / 3;
    return TRGB{uint8_t(i * 37 % 256), uint8_t(i * 91 % 256), uint8_t(i * 13 % 256)};
  });
  Fill(sixteen, 16, 4, [](int x, int) { return TRGB{uint8_t(x * 17), 100, uint8_t(255 - x * 17)}; });
  for (const Format& f : PaletteFormats()) {
    if (std::string(f.name) == "TIFF") continue;  // no palette writer
    SCOPED_TRACE(f.name);
    for (TBitmap* src : {&ramp, &many}) {
      TBitmap back;
      TIOParamsVals p;
      RoundTrip(f, *src, 8, back, p);
      ASSERT_EQ(back.PixelFormat(), pf24bit);
      EXPECT_TRUE(test::SamePixels(back, *src));
    }
    if (std::string(f.name) == "BMP" || std::string(f.name) == "PCX") {
      TBitmap back;
      TIOParamsVals p;
      RoundTrip(f, sixteen, 4, back, p);
      EXPECT_TRUE(test::SamePixels(back, sixteen));
    }
  }
  // The gray ramp's palette comes out in order, so index = level.
  TMemoryStream s;
  TIOParamsVals p;
  p.SetDefaultParams();
  p.BitsPerSample = 8;
  p.SamplesPerPixel = 1;
  BMPWriteStream(&s, &ramp, p, nullpr);
  ASSERT_EQ(p.ColorMapCount, 256);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(p.ColorMap[i].g, i);
}

TEST(ColourFidelity, TwoColourImagesKeepTheirColoursThroughEveryFormat) {
  const TRGB blue{200, 0, 0}, green{0, 160, 0};
  TBitmap two;
  Fill(two, 21, 7, [&](int x, int y) { return (x + y) % 3 ? blue : green; });
  for (const Format& f : PaletteFormats()) {
    SCOPED_TRACE(f.name);
    TBitmap back;
    TIOParamsVals p;
    RoundTrip(f, two, 1, back, p);
    ASSERT_EQ(back.PixelFormat(), pf24bit);
    EXPECT_TRUE(test::SamePixels(back, two));
    // The record keeps the palette as the file holds it.
    ASSERT_GE(p.ColorMapCount, 2);
    std::set<unsigned> pal = {unsigned(TRGB2TColor(p.ColorMap[0])), unsigned(TRGB2TColor(p.ColorMap[1]))};
    EXPECT_EQ(pal, (std::set<unsigned>{unsigned(TRGB2TColor(blue)), unsigned(TRGB2TColor(green))}));
  }
}

// A hand-made 1-bit BMP: 8 x 2 pixels, rows 0xF0 and 0x0F, with the given
// palette entries (clrUsed = their count).
TMemoryStream OneBitBMP(const std::vector<TRGB>& pal) {
  std::vector<uint8_t> d(14 + 40 + 4 * pal.size() + 8, 0);
  d[0] = 'B', d[1] = 'M';
  PutLE32(&d[2], uint32_t(d.size()));
  PutLE32(&d[10], uint32_t(14 + 40 + 4 * pal.size()));
  PutLE32(&d[14], 40);
  PutLE32(&d[18], 8);
  PutLE32(&d[22], 2);
  PutLE16(&d[26], 1);
  PutLE16(&d[28], 1);
  PutLE32(&d[46], uint32_t(pal.size()));
  for (size_t i = 0; i < pal.size(); ++i) {
    d[54 + 4 * i] = pal[i].b, d[55 + 4 * i] = pal[i].g, d[56 + 4 * i] = pal[i].r;
  }
  const size_t px = 54 + 4 * pal.size();
  d[px] = 0x0F;      // bottom row
  d[px + 4] = 0xF0;  // top row
  TMemoryStream s;
  s.SetData(d.data(), d.size());
  return s;
}

TEST(ColourFidelity, OneBitPalettesOtherThanBlackAndWhiteLoadThroughThePalette) {
  const TRGB white{255, 255, 255}, black{0, 0, 0}, red{0, 0, 255};
  TIOParamsVals p;
  p.SetDefaultParams();
  // White first: still 1-bit, with the bits inverted so that the picture is
  // not (the top row's first four pixels are entry 1, black).
  {
    TMemoryStream s = OneBitBMP({white, black});
    TBitmap b;
    BMPReadStream(&s, &b, 0, p, nullpr, false);
    ASSERT_EQ(b.PixelFormat(), pf1bit);
    EXPECT_EQ(b.Scanline(0)[0] & 0xF0, 0x00);
    EXPECT_EQ(b.Scanline(0)[0] & 0x0F, 0x0F);
    EXPECT_EQ(TRGB2TColor(p.ColorMap[0]), TRGB2TColor(white));
  }
  // One red entry: red where the bits are 0, and the missing entry black.
  {
    TMemoryStream s = OneBitBMP({red});
    TBitmap b;
    BMPReadStream(&s, &b, 0, p, nullpr, false);
    ASSERT_EQ(b.PixelFormat(), pf24bit);
    EXPECT_EQ(test::Pixel24(b, 0, 0), 0x000000u);
    EXPECT_EQ(test::Pixel24(b, 7, 0), 0xFF0000u);
  }
}

// A hand-made one-strip TIFF of one sample per pixel.
TMemoryStream Tiff(int w, int h, int bits, int photometric, const std::vector<uint8_t>& data,
                   const std::vector<uint16_t>& colormap = {}) {
  std::vector<uint8_t> d(8, 0);
  d[0] = d[1] = 'I';
  d[2] = 42;
  const uint32_t dataAt = 8;
  d.insert(d.end(), data.begin(), data.end());
  if (d.size() & 1) d.push_back(0);
  const uint32_t mapAt = uint32_t(d.size());
  for (uint16_t v : colormap) d.push_back(uint8_t(v)), d.push_back(uint8_t(v >> 8));
  const uint32_t ifd = uint32_t(d.size());
  PutLE32(&d[4], ifd);
  std::vector<std::array<uint32_t, 4>> tags = {
      {256, 3, 1, uint32_t(w)}, {257, 3, 1, uint32_t(h)},           {258, 3, 1, uint32_t(bits)},
      {259, 3, 1, 1},           {262, 3, 1, uint32_t(photometric)}, {273, 4, 1, dataAt},
      {277, 3, 1, 1},           {278, 3, 1, uint32_t(h)},           {279, 4, 1, uint32_t(data.size())}};
  if (!colormap.empty()) tags.push_back({320, 3, uint32_t(colormap.size()), mapAt});
  d.push_back(uint8_t(tags.size()));
  d.push_back(0);
  for (const auto& t : tags) {
    uint8_t e[12] = {};
    PutLE16(e, t[0]);
    PutLE16(e + 2, t[1]);
    PutLE32(e + 4, t[2]);
    if (t[1] == 3 && t[2] == 1)
      PutLE16(e + 8, t[3]);
    else
      PutLE32(e + 8, t[3]);
    d.insert(d.end(), e, e + 12);
  }
  d.insert(d.end(), {0, 0, 0, 0});
  TMemoryStream s;
  s.SetData(d.data(), d.size());
  return s;
}

void ReadTiff(TMemoryStream s, TBitmap& b) {
  TIOParamsVals p;
  p.SetDefaultParams();
  int32_t n = 0;
  TIFFReadStream(&b, &s, n, false, nullpr, &p);
}

TEST(ColourFidelity, NarrowSamplesReachFullIntensity) {
  // 4-bit gray 0, 5, 10, 15 and 2-bit gray 0..3.
  TBitmap g4, g2, pal, bw;
  ReadTiff(Tiff(4, 1, 4, 1, {0x05, 0xAF}), g4);
  ASSERT_EQ(g4.Width(), 4);
  EXPECT_EQ(test::Pixel24(g4, 0, 0), 0x000000u);
  EXPECT_EQ(test::Pixel24(g4, 1, 0), 0x555555u);
  EXPECT_EQ(test::Pixel24(g4, 2, 0), 0xAAAAAAu);
  EXPECT_EQ(test::Pixel24(g4, 3, 0), 0xFFFFFFu);
  ReadTiff(Tiff(4, 1, 2, 1, {0x1B}), g2);
  ASSERT_EQ(g2.PixelFormat(), pf24bit);
  EXPECT_EQ(test::Pixel24(g2, 0, 0), 0x000000u);
  EXPECT_EQ(test::Pixel24(g2, 1, 0), 0x555555u);
  EXPECT_EQ(test::Pixel24(g2, 2, 0), 0xAAAAAAu);
  EXPECT_EQ(test::Pixel24(g2, 3, 0), 0xFFFFFFu);
  // A 1-bit palette page of blue and green; one of black and white, white
  // first, stays 1-bit and upright.
  ReadTiff(Tiff(8, 1, 1, 3, {0xF0}, {0, 0, 0, 40000, 65535, 0}), pal);
  ASSERT_EQ(pal.PixelFormat(), pf24bit);
  EXPECT_EQ(test::Pixel24(pal, 0, 0), 0x009C00u);
  EXPECT_EQ(test::Pixel24(pal, 7, 0), 0x0000FFu);
  ReadTiff(Tiff(8, 1, 1, 3, {0xF0}, {65535, 0, 65535, 0, 65535, 0}), bw);
  ASSERT_EQ(bw.PixelFormat(), pf1bit);
  EXPECT_EQ(bw.Scanline(0)[0], 0x0F);

  // 16-bit BMP channels: 5-bit 31 and 6-bit 63 are 255, 16 is 132.
  for (uint32_t green : {0x03E0u, 0x07E0u}) {
    SCOPED_TRACE(green);
    std::vector<uint8_t> d(14 + 40 + 12 + 4, 0);
    d[0] = 'B', d[1] = 'M';
    PutLE32(&d[2], uint32_t(d.size()));
    PutLE32(&d[10], 66);
    PutLE32(&d[14], 40);
    PutLE32(&d[18], 2);
    PutLE32(&d[22], 1);
    PutLE16(&d[26], 1);
    PutLE16(&d[28], 16);
    PutLE32(&d[30], 3);
    const uint32_t red = green == 0x03E0u ? 0x7C00u : 0xF800u;
    PutLE32(&d[54], red);
    PutLE32(&d[58], green);
    PutLE32(&d[62], 0x001F);
    PutLE16(&d[66], red | green | 0x1F);
    PutLE16(&d[68], 0x10);  // blue 16 of 31
    TMemoryStream s;
    s.SetData(d.data(), d.size());
    TBitmap b;
    TIOParamsVals p;
    BMPReadStream(&s, &b, 0, p, nullpr, false);
    EXPECT_EQ(test::Pixel24(b, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(test::Pixel24(b, 1, 0), 132u);
  }
}

}  // namespace
