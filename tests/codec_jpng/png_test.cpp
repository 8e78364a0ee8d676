// PNG codec: writers at every option reloaded by our reader and by Pillow,
// background colors in and out at the image's depth, two-color palettes with
// the lighter color first, progress over interlace passes, the signature test,
// and hostile input.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <bit>
#include <csetjmp>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/io/codecs/png/png_codec.h"
#include "korvane/pixels/bitmap_procs.h"
#include "tests/codec_jpng/jpng_support.h"
#include "tests/test_support.h"

using namespace korvane;
using namespace korvane::test;

namespace {

// A small PNG written with libpng directly: rows of packed samples in file
// order, optional palette, tRNS and bKGD.
struct PngSpec {
  int w = 0, h = 0, depth = 8, color = PNG_COLOR_TYPE_RGB;
  std::vector<std::vector<uint8_t>> rows;
  std::vector<png_color> palette;
  std::vector<uint8_t> trns_index;
  png_color_16 trns{}, bkgd{};
  bool has_trns = false, has_bkgd = false;
};

void Append(png_structp png, png_bytep data, size_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}

std::vector<uint8_t> MakePng(const PngSpec& s) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, Append, nullptr);
  png_set_IHDR(png, info, png_uint_32(s.w), png_uint_32(s.h), s.depth, s.color, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), int(s.palette.size()));
  if (s.has_trns)
    png_set_tRNS(png, info, s.trns_index.empty() ? nullptr : s.trns_index.data(), int(s.trns_index.size()),
                 &s.trns);
  if (s.has_bkgd) png_set_bKGD(png, info, &s.bkgd);
  png_write_info(png, info);
  for (const auto& r : s.rows) png_write_row(png, r.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// Body of a chunk of a file, empty when absent.
std::vector<uint8_t> Chunk(const std::vector<uint8_t>& f, const char* type) {
  for (size_t pos = 8; pos + 12 <= f.size();) {
    const size_t n = size_t(f[pos]) << 24 | size_t(f[pos + 1]) << 16 | size_t(f[pos + 2]) << 8 | f[pos + 3];
    if (std::memcmp(&f[pos + 4], type, 4) == 0 && pos + 8 + n <= f.size())
      return std::vector<uint8_t>(f.begin() + ptrdiff_t(pos + 8), f.begin() + ptrdiff_t(pos + 8 + n));
    pos += 12 + n;
  }
  return {};
}

bool IsPngError(const EInvalidGraphic& e) { return std::string(e.what()) == "Unrecognized PNG"; }

// ---------------------------------------------------------------------------
// Writers

enum class Source { Photo, Colors16, OneBit };

void FillSource(TBitmap& bmp, Source s, int w, int h) {
  if (s == Source::OneBit) {
    bmp.Allocate(w, h, pf1bit);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if ((x * x + y * 3) % 7 < 3) bmp.Scanline(y)[x >> 3] |= uint8_t(0x80 >> (x & 7));
    return;
  }
  bmp.Allocate(w, h, pf24bit);
  for (int y = 0; y < h; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(bmp.Scanline(y));
    for (int x = 0; x < w; ++x) {
      if (s == Source::Photo) {
        row[x] = CreateRGB(uint8_t(x * 5 + y), uint8_t(y * 7 ^ x), uint8_t((x * y) >> 2));
      } else {
        // 16 colors, each alone in its 5-bit cell and representable there exactly.
        const int k = (x / 5 + y / 4) % 16;
        row[x] = CreateRGB(uint8_t(k * 16), uint8_t(248 - k * 8), uint8_t((k * 80) & 0xF8));
      }
    }
  }
}

struct PngWriteCase {
  const char* name;
  int samples, bits;
  bool interlaced;
  TIOPNGFilter filter;
  int level;
  Source source;
  TPixelFormat loads_as;
};
class PngWriter : public ::testing::TestWithParam<PngWriteCase> {};

TEST_P(PngWriter, ReloadsExactly) {
  const PngWriteCase c = GetParam();
  TBitmap src;
  FillSource(src, c.source, 53, 37);
  TIOParamsVals p;
  p.SamplesPerPixel = c.samples;
  p.BitsPerSample = c.bits;
  p.PNG_Interlaced = c.interlaced;
  p.PNG_Filter = c.filter;
  p.PNG_Compression = c.level;
  p.DpiX = 300;
  p.DpiY = 150;
  const std::vector<uint8_t> file = EncodeBytes(Codec::Png, src, p);
  TIOParamsVals q;
  TBitmap back;
  DecodeBytes(Codec::Png, file, back, q);
  EXPECT_EQ(back.PixelFormat(), c.loads_as);
  EXPECT_EQ(q.PNG_Interlaced, c.interlaced);
  EXPECT_EQ(q.DpiX, 300);
  EXPECT_EQ(q.DpiY, 150);
  if (c.samples == 1 && c.bits != 1) {
    // One entry per color of an image that fits the palette.
    EXPECT_GT(p.ColorMapCount, 0);
    EXPECT_EQ(q.ColorMapCount, p.ColorMapCount) << "the writer hands back its palette";
  }
  if (c.source == Source::OneBit && c.loads_as == pf24bit) {
    TBitmap wide;
    TProgressRec none;
    _Conv1to24(&src, &wide, none);
    EXPECT_TRUE(SamePixels(wide, back));
  } else {
    EXPECT_TRUE(SamePixels(src, back));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, PngWriter,
    ::testing::Values(
        PngWriteCase{"rgb", 3, 8, false, ioPNG_FILTER_NONE, 5, Source::Photo, pf24bit},
        PngWriteCase{"rgb_sub", 3, 8, false, ioPNG_FILTER_SUB, 5, Source::Photo, pf24bit},
        PngWriteCase{"rgb_paeth_level9", 3, 8, false, ioPNG_FILTER_PAETH, 9, Source::Photo, pf24bit},
        PngWriteCase{"rgb_level0", 3, 8, false, ioPNG_FILTER_NONE, 0, Source::Photo, pf24bit},
        PngWriteCase{"rgb_interlaced", 3, 8, true, ioPNG_FILTER_PAETH, 6, Source::Photo, pf24bit},
        PngWriteCase{"palette", 1, 8, false, ioPNG_FILTER_NONE, 5, Source::Colors16, pf24bit},
        PngWriteCase{"palette_interlaced_sub", 1, 8, true, ioPNG_FILTER_SUB, 5, Source::Colors16, pf24bit},
        PngWriteCase{"bw", 1, 1, false, ioPNG_FILTER_NONE, 5, Source::OneBit, pf1bit},
        PngWriteCase{"bw_interlaced_paeth", 1, 1, true, ioPNG_FILTER_PAETH, 9, Source::OneBit, pf1bit},
        PngWriteCase{"onebit_as_rgb", 3, 8, false, ioPNG_FILTER_NONE, 5, Source::OneBit, pf24bit},
        // Eight bits a sample asked with one sample: the 1-bit rows are widened,
        // never handed to the encoder as RGB.
        PngWriteCase{"onebit_bits1_samples3", 3, 1, false, ioPNG_FILTER_SUB, 5, Source::OneBit, pf24bit}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PngWriterOptions, BilevelFromColorKeepsTwoColorsAndDithersOthers) {
  // Two colors: blue is the darker, so it becomes black and red white.
  TBitmap two;
  two.Allocate(20, 6, pf24bit);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 20; ++x)
      reinterpret_cast<TRGB*>(two.Scanline(y))[x] = x < 7 ? CreateRGB(0, 0, 255) : CreateRGB(255, 0, 0);
  TIOParamsVals p;
  p.SamplesPerPixel = 1;
  p.BitsPerSample = 1;
  TBitmap back;
  DecodeBytes(Codec::Png, EncodeBytes(Codec::Png, two, p), back, p);
  // Written as a 1-bit palette of the two colors, read back in them.
  ASSERT_EQ(back.PixelFormat(), pf24bit);
  EXPECT_TRUE(SamePixels(back, two));

  // A mid-gray area of many colors is dithered: both levels appear.
  TBitmap photo;
  FillSource(photo, Source::Photo, 32, 32);
  DecodeBytes(Codec::Png, EncodeBytes(Codec::Png, photo, p), back, p);
  ASSERT_EQ(back.PixelFormat(), pf1bit);
  int white = 0;
  for (int y = 0; y < 32; ++y)
    for (int i = 0; i < 4; ++i) white += std::popcount(unsigned(back.Scanline(y)[i]));
  EXPECT_GT(white, 32 * 32 / 10);
  EXPECT_LT(white, 32 * 32 * 9 / 10);
}

TEST(PngWriterOptions, LevelAndFilterChangeTheEncoding) {
  TBitmap src;
  FillSource(src, Source::Photo, 120, 90);
  auto encode = [&](TIOPNGFilter f, int level) {
    TIOParamsVals p;
    p.PNG_Filter = f;
    p.PNG_Compression = level;
    return EncodeBytes(Codec::Png, src, p);
  };
  EXPECT_GT(encode(ioPNG_FILTER_NONE, 0).size(), encode(ioPNG_FILTER_NONE, 9).size());
  EXPECT_NE(Chunk(encode(ioPNG_FILTER_NONE, 0), "IDAT"), Chunk(encode(ioPNG_FILTER_SUB, 0), "IDAT"));
  EXPECT_NE(Chunk(encode(ioPNG_FILTER_SUB, 0), "IDAT"), Chunk(encode(ioPNG_FILTER_PAETH, 0), "IDAT"));
}

TEST(PngInterop, PillowDecodesEveryWrittenVariantExactly) {
  if (PillowPython().empty())
    GTEST_SKIP() << "Pillow/numpy missing (apt-get install python3-pil python3-numpy)";
  const std::string dir = ScratchDir("png_interop");
  std::ofstream list(dir + "/list.txt");
  int n = 0;
  for (const PngWriteCase& c :
       {PngWriteCase{"", 3, 8, false, ioPNG_FILTER_SUB, 9, Source::Photo, pf24bit},
        PngWriteCase{"", 3, 8, true, ioPNG_FILTER_PAETH, 1, Source::Photo, pf24bit},
        PngWriteCase{"", 1, 8, false, ioPNG_FILTER_NONE, 5, Source::Colors16, pf24bit},
        PngWriteCase{"", 1, 8, true, ioPNG_FILTER_PAETH, 5, Source::Photo, pf24bit},
        PngWriteCase{"", 1, 1, false, ioPNG_FILTER_SUB, 5, Source::OneBit, pf1bit},
        PngWriteCase{"", 1, 1, true, ioPNG_FILTER_NONE, 0, Source::OneBit, pf1bit}}) {
    TBitmap src;
    FillSource(src, c.source, 61, 43);
    TIOParamsVals p;
    p.SamplesPerPixel = c.samples;
    p.BitsPerSample = c.bits;
    p.PNG_Interlaced = c.interlaced;
    p.PNG_Filter = c.filter;
    p.PNG_Compression = c.level;
    p.PNG_Background = CreateRGB(10, 200, 30);
    const std::vector<uint8_t> file = EncodeBytes(Codec::Png, src, p);
    TBitmap ours;
    DecodeBytes(Codec::Png, file, ours, p);
    const std::string base = dir + "/v" + std::to_string(n++);
    WriteBytes(file, base + ".png");
    WritePPM(ours, base + ".ppm");
    list << base << ".png " << base << ".ppm 0\n";
  }
  list.close();
  int status;
  const std::string out = RunPillowCheck("any " + dir + "/list.txt", status);
  EXPECT_EQ(status, 0) << out;
  std::filesystem::remove_all(dir);
}

// ---------------------------------------------------------------------------
// Background colors: 8 bits a channel in the record, the image's depth in files

TEST(PngBackground, ReadFromFilesOfEveryDepthAsEightBits) {
  // 16-bit RGBA, every pixel transparent, bKGD 0x1234 0x5678 0x9ABC.
  PngSpec rgba16;
  rgba16.w = 3, rgba16.h = 2, rgba16.depth = 16, rgba16.color = PNG_COLOR_TYPE_RGB_ALPHA;
  rgba16.rows.assign(2, std::vector<uint8_t>(3 * 8, 0));
  rgba16.has_bkgd = true;
  rgba16.bkgd.red = 0x1234, rgba16.bkgd.green = 0x5678, rgba16.bkgd.blue = 0x9ABC;
  TIOParamsVals p;
  TBitmap bmp;
  DecodeBytes(Codec::Png, MakePng(rgba16), bmp, p);
  EXPECT_EQ(p.PNG_Background, CreateRGB(0x12, 0x56, 0x9A));
  EXPECT_EQ(Pixel24(bmp, 2, 1), 0x12569Au);

  // 4-bit gray with a transparent level and bKGD level 5: 5 * 17 = 85.
  PngSpec gray4;
  gray4.w = 4, gray4.h = 1, gray4.depth = 4, gray4.color = PNG_COLOR_TYPE_GRAY;
  gray4.rows = {{0x3F, 0x3F}};  // levels 3, 15, 3, 15
  gray4.has_trns = true, gray4.trns.gray = 15;
  gray4.has_bkgd = true, gray4.bkgd.gray = 5;
  TIOParamsVals q;
  DecodeBytes(Codec::Png, MakePng(gray4), bmp, q);
  EXPECT_EQ(q.PNG_Background, CreateRGB(85, 85, 85));
  EXPECT_EQ(Pixel24(bmp, 0, 0), 0x333333u);  // level 3 = 51
  EXPECT_EQ(Pixel24(bmp, 1, 0), 0x555555u);  // transparent: the background
}

TEST(PngBackground, CallersBackgroundIsUsedAtTheImagesDepth) {
  // 16-bit gray with alpha, half of it transparent, no bKGD.
  PngSpec ga16;
  ga16.w = 2, ga16.h = 1, ga16.depth = 16, ga16.color = PNG_COLOR_TYPE_GRAY_ALPHA;
  ga16.rows = {{0x80, 0x00, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00}};
  TIOParamsVals p;
  p.PNG_Background = CreateRGB(200, 200, 200);
  TBitmap bmp;
  DecodeBytes(Codec::Png, MakePng(ga16), bmp, p);
  EXPECT_EQ(p.PNG_Background, CreateRGB(200, 200, 200)) << "no bKGD: the record keeps its color";
  EXPECT_EQ(Pixel24(bmp, 0, 0), 0x808080u);
  EXPECT_EQ(Pixel24(bmp, 1, 0), 0xC8C8C8u);

  // An 8-bit palette with a transparent entry over a colored background.
  PngSpec pal;
  pal.w = 2, pal.h = 1, pal.depth = 8, pal.color = PNG_COLOR_TYPE_PALETTE;
  pal.palette = {{255, 0, 0}, {0, 0, 255}};
  pal.has_trns = true, pal.trns_index = {255, 0};
  pal.rows = {{0, 1}};
  TIOParamsVals r;
  r.PNG_Background = CreateRGB(10, 200, 30);
  DecodeBytes(Codec::Png, MakePng(pal), bmp, r);
  EXPECT_EQ(Pixel24(bmp, 0, 0), 0xFF0000u);
  EXPECT_EQ(Pixel24(bmp, 1, 0), 0x0AC81Eu);
}

TEST(PngBackground, WrittenAtTheImagesDepth) {
  TBitmap src;
  FillSource(src, Source::Colors16, 20, 8);
  const TRGB some = reinterpret_cast<TRGB*>(src.Scanline(0))[0];
  TIOParamsVals p;
  p.PNG_Background = CreateRGB(10, 20, 30);
  const std::vector<uint8_t> rgb = EncodeBytes(Codec::Png, src, p);
  EXPECT_EQ(Chunk(rgb, "bKGD"), (std::vector<uint8_t>{0, 10, 0, 20, 0, 30}));
  TIOParamsVals q;
  TBitmap back;
  DecodeBytes(Codec::Png, rgb, back, q);
  EXPECT_EQ(q.PNG_Background, CreateRGB(10, 20, 30));

  p.SamplesPerPixel = 1;
  p.BitsPerSample = 8;
  p.PNG_Background = some;
  const std::vector<uint8_t> pal = EncodeBytes(Codec::Png, src, p);
  const std::vector<uint8_t> index = Chunk(pal, "bKGD");
  ASSERT_EQ(index.size(), 1u);
  ASSERT_GT(p.ColorMapCount, int(index[0]));
  EXPECT_EQ(p.ColorMap[index[0]], some);

  p.BitsPerSample = 1;
  p.PNG_Background = CreateRGB(250, 250, 250);
  EXPECT_EQ(Chunk(EncodeBytes(Codec::Png, src, p), "bKGD"), (std::vector<uint8_t>{0, 1}));
}

// ---------------------------------------------------------------------------
// Two-color palettes

TEST(PngTwoColors, DarkerEntryIsAlwaysBitZero) {
  for (bool lighter_first : {false, true}) {
    PngSpec s;
    s.w = 10, s.h = 1, s.depth = 1, s.color = PNG_COLOR_TYPE_PALETTE;
    const png_color dark{0, 0, 128}, light{255, 255, 0};
    s.palette = lighter_first ? std::vector<png_color>{light, dark} : std::vector<png_color>{dark, light};
    s.has_bkgd = lighter_first;  // a background changes nothing without transparency
    s.bkgd.index = 1;
    // Pixels 0..9: dark, light, light, dark, ... (index depends on the order).
    const uint8_t dark_first_bits[2] = {0b01101101, 0b10000000};
    s.rows = {{uint8_t(lighter_first ? ~dark_first_bits[0] : dark_first_bits[0]),
               uint8_t(lighter_first ? ~dark_first_bits[1] & 0xC0 : dark_first_bits[1])}};
    TIOParamsVals p;
    TBitmap bmp;
    DecodeBytes(Codec::Png, MakePng(s), bmp, p);
    // Not black and white: the palette's own colors, whatever their order.
    ASSERT_EQ(bmp.PixelFormat(), pf24bit);
    EXPECT_EQ(p.ColorMapCount, 2);
    for (int x = 0; x < 10; ++x) {
      const bool lightPixel = (dark_first_bits[x / 8] >> (7 - x % 8)) & 1;
      EXPECT_EQ(Pixel24(bmp, x, 0), lightPixel ? 0xFFFF00u : 0x000080u) << x << " lighter first: " << lighter_first;
    }
  }
}

// ---------------------------------------------------------------------------
// Progress, signature

TEST(PngProgress, InterlacedSaveCountsSevenPassesAndAbortStops) {
  TBitmap src;
  FillSource(src, Source::Photo, 30, 20);
  TIOParamsVals p;
  p.PNG_Interlaced = true;
  int calls = 0, last = -1;
  bool abort = false;
  TProgressRec pr;
  pr.Aborting = &abort;
  pr.OnProgress = [&](TObject*, int per) { ++calls, last = per; };
  TMemoryStream s;
  WritePNGStream(&s, &src, p, pr);
  EXPECT_EQ(calls, 7 * 20);
  EXPECT_EQ(last, 100);

  // Abort in the middle of a read: rows so far kept, no exception.
  const int64_t size = s.Size();
  s.SetPosition(0);
  pr.OnProgress = [&](TObject*, int per) { abort = per >= 10; };
  TBitmap part;
  TIOParamsVals q;
  ReadPNGStream(&s, &part, q, false, pr);
  EXPECT_EQ(part.Width(), 30);
  EXPECT_LT(s.Position(), size);
  EXPECT_NE(Pixel24(part, 8, 8), 0u);  // first pass
  EXPECT_EQ(Pixel24(part, 1, 1), 0u);  // last pass, never reached
}

TEST(PngSignature, RecognisesAndKeepsThePosition) {
  TBitmap src;
  FillSource(src, Source::Photo, 4, 4);
  TIOParamsVals p;
  const std::vector<uint8_t> file = EncodeBytes(Codec::Png, src, p);
  TMemoryStream s;
  s.Write("abc", 3);
  s.Write(file.data(), int64_t(file.size()));
  s.SetPosition(3);
  EXPECT_TRUE(IsPNGStream(&s));
  EXPECT_EQ(s.Position(), 3);
  s.SetPosition(0);
  EXPECT_FALSE(IsPNGStream(&s));
  EXPECT_EQ(s.Position(), 0);
  s.SetPosition(s.Size() - 4);
  EXPECT_FALSE(IsPNGStream(&s));  // too short
  EXPECT_EQ(s.Position(), s.Size() - 4);
}

// ---------------------------------------------------------------------------
// Hostile input

void PutBE32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v >> 24), b[at + 1] = uint8_t(v >> 16), b[at + 2] = uint8_t(v >> 8), b[at + 3] = uint8_t(v);
}

TEST(PngHostile, DeclaredSizeBeyondTheDataIsRefusedBeforeAllocating) {
  TBitmap src;
  FillSource(src, Source::Photo, 8, 8);
  TIOParamsVals p;
  std::vector<uint8_t> file = EncodeBytes(Codec::Png, src, p);
  PutBE32(file, 16, 30000);  // IHDR width and height, CRC fixed below
  PutBE32(file, 20, 30000);
  PutBE32(file, 29, uint32_t(crc32(0, &file[12], 17)));
  TBitmap bmp(3, 2, pf24bit);
  TIOParamsVals q;
  try {
    DecodeBytes(Codec::Png, file, bmp, q);
    ADD_FAILURE() << "accepted";
  } catch (const EInvalidGraphic& e) {
    EXPECT_TRUE(IsPngError(e)) << e.what();
  }
  EXPECT_EQ(bmp.Width(), 3);
  // The header alone is still readable.
  DecodeBytes(Codec::Png, file, bmp, q, true);
  EXPECT_EQ(q.Width, 30000);
}

TEST(PngHostile, HugeAncillaryChunkLengthIsNotAllocated) {
  // Found by fuzzing: a suggested-palette chunk declaring 0x7F000000 bytes
  // made libpng allocate and clear 2 GB before noticing the file had ended.
  TBitmap src;
  FillSource(src, Source::Photo, 4, 4);
  TIOParamsVals p;
  std::vector<uint8_t> file = EncodeBytes(Codec::Png, src, p);
  const std::vector<uint8_t> chunk = {0x7F, 0, 0, 0, 's', 'P', 'L', 'T', 'p', 'a', 'l', 0, 8, 1, 2, 3};
  for (const char* type : {"sPLT", "iCCP", "zTXt", "tEXt"}) {
    std::vector<uint8_t> bad(file.begin(), file.begin() + 33);  // signature and IHDR
    bad.insert(bad.end(), chunk.begin(), chunk.end());
    std::memcpy(&bad[37], type, 4);
    TBitmap bmp;
    TIOParamsVals q;
    try {
      DecodeBytes(Codec::Png, bad, bmp, q);
      ADD_FAILURE() << type << " accepted";
    } catch (const EInvalidGraphic& e) {
      EXPECT_TRUE(IsPngError(e)) << e.what();
    }
  }
}

TEST(PngHostile, TruncationsAndDamageLoadPartlyOrRaise) {
  std::vector<std::vector<uint8_t>> files;
  TBitmap src;
  FillSource(src, Source::Photo, 40, 30);
  TIOParamsVals p;
  p.PNG_Interlaced = true;
  files.push_back(EncodeBytes(Codec::Png, src, p));
  for (const char* rel : {"fixtures/png/rgba8_bkgd_56x40_pnmtopng.png",
                          "fixtures/png/palette1_33x20_pillow.png", "fixtures/png/gray16_50x40_pnmtopng.png"})
    if (std::string path = SharedFile(rel); !path.empty()) files.push_back(FileBytes(path));
  unsigned seed = 3;
  for (const auto& full : files) {
    for (size_t cut = 0; cut < full.size(); cut += 1 + cut / 6) {
      for (int damaged = 0; damaged < 2; ++damaged) {
        std::vector<uint8_t> part(full.begin(), full.begin() + ptrdiff_t(cut));
        if (damaged)
          for (size_t i = 8; i < part.size(); i += 23) part[i] ^= uint8_t(seed = seed * 1103515245u + 12345u);
        TBitmap bmp;
        TIOParamsVals q;
        try {
          DecodeBytes(Codec::Png, part, bmp, q);
        } catch (const EInvalidGraphic& e) {
          EXPECT_TRUE(IsPngError(e)) << e.what();
        }
      }
    }
  }
}

}  // namespace
