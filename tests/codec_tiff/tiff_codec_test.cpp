// The TIFF codec: the shared fixture corpus and sample pictures, writing and
// reading back every compression and color choice, page insertion and
// deletion, and hostile streams.
#include "korvane/io/codecs/tiff/tiff_codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <memory>

#include "korvane/foundations/host/exceptions.h"
#include "tests/codec_tiff/tiff_test_util.h"
#include "tests/fixture_manifest.h"
#include "tests/test_support.h"

namespace korvane {
namespace {

using namespace korvane::test;

std::vector<FixtureCase> TiffCases() {
  std::vector<FixtureCase> v = FixtureCases("tif");
  for (const FixtureCase& c : FixtureCases("hostile"))
    if (c.codec == "tif" || c.codec == "tiff") v.push_back(c);
  if (v.empty()) v.push_back(FixtureCase{});
  return v;
}

class TiffFixture : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(TiffFixture, LoadsAsTheManifestSays) {
  const FixtureCase& c = GetParam();
  if (c.path.empty()) GTEST_SKIP() << "../shared/fixtures not present";
  TIOParamsVals p;
  InstallTiffCoders(p);
  p.TIFF_ImageIndex = c.index;
  TBitmap bmp;
  int32_t pages = -1;
  TFileStream f(c.path, fmOpenRead);
  if (c.error) {
    EXPECT_THROW(TIFFReadStream(&bmp, &f, pages, false, nullpr, &p), EInvalidGraphic);
    return;
  }
  if (c.noCrash) {
    try {
      TIFFReadStream(&bmp, &f, pages, false, nullpr, &p);
      TouchPixels(bmp);
    } catch (const EInvalidGraphic&) {
    }
    return;
  }
  TIFFReadStream(&bmp, &f, pages, false, nullpr, &p);
  if (c.frames >= 0) {
    EXPECT_EQ(pages, c.frames);
  }
  EXPECT_EQ(ParamMismatches(c, p), "");
  EXPECT_EQ(BitmapMismatch(c, bmp), "");
}

INSTANTIATE_TEST_SUITE_P(Manifest, TiffFixture, ::testing::ValuesIn(TiffCases()), [](const auto& i) {
  return i.param.path.empty() ? std::string("absent") : i.param.Name();
});

TEST(TiffRead, LzwWithoutDecoderRaises) {
  KORVANE_REQUIRE_SHARED(path, "fixtures/tif/rgb8_lzw_tiffcp.tif");
  TIOParamsVals p;
  p.TIFF_LZWDecompFunc = nullptr;
  const auto saved = DefTIFF_LZWDECOMPFUNC;
  DefTIFF_LZWDECOMPFUNC = nullptr;
  TBitmap bmp;
  int32_t pages;
  TFileStream f(path, fmOpenRead);
  try {
    TIFFReadStream(&bmp, &f, pages, false, nullpr, &p);
    ADD_FAILURE() << "no exception";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "LZW Decompressor not found");
  }
  // The library-wide hook is used when the record has none.
  DefTIFF_LZWDECOMPFUNC = TIFFLZWDecompress;
  TFileStream g(path, fmOpenRead);
  EXPECT_NO_THROW(TIFFReadStream(&bmp, &g, pages, false, nullpr, &p));
  DefTIFF_LZWDECOMPFUNC = saved;
  EXPECT_EQ(bmp.Width(), 80);
}

// Every sample picture loads or fails cleanly, and those the reader decodes
// match tiff2rgba's pixels.
TEST(TiffRead, SamplePicturesLoadAndMatchTiff2rgba) {
  const std::string dir = SharedDir().empty() ? "" : SharedDir() + "/suites/oiio-images/libtiffpic";
  if (dir.empty() || !std::filesystem::is_directory(dir)) GTEST_SKIP() << "../shared/suites not present";
  const bool peer = OnPath("tiff2rgba");
  const std::string tmp = testing::TempDir() + "/kv_tiff_rgba";
  std::filesystem::create_directories(tmp);
  int loaded = 0, compared = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    const std::string ext = e.path().extension().string();
    if (ext != ".tif" && ext != ".tiff") continue;
    TIOParamsVals p;
    InstallTiffCoders(p);
    TBitmap bmp;
    int32_t pages = 0;
    try {
      TFileStream f(e.path().string(), fmOpenRead);
      TIFFReadStream(&bmp, &f, pages, false, nullpr, &p);
      TouchPixels(bmp);
      ++loaded;
    } catch (const EInvalidGraphic&) {
      continue;
    }
    // Formats decoded exactly as a generic reader shows them: 8-bit RGB and
    // palette, 8-bit gray, bilevel, in strips or tiles; JPEG within 2 levels.
    const bool jpeg = p.TIFF_Compression == ioTIFF_OLDJPEG || p.TIFF_Compression == ioTIFF_JPEG;
    const bool exact =
        (jpeg && p.TIFF_PhotometInterpret == ioTIFF_YCBCR) ||
        (p.TIFF_PhotometInterpret == ioTIFF_RGB && p.BitsPerSample == 8 && p.SamplesPerPixel == 3) ||
        (p.TIFF_PhotometInterpret == ioTIFF_RGBPALETTE && p.BitsPerSample == 8) ||
        (p.TIFF_PhotometInterpret <= ioTIFF_BLACKISZERO && p.SamplesPerPixel == 1 &&
         (p.BitsPerSample == 8 || p.BitsPerSample == 1));
    if (!peer || !exact) continue;
    // tiff2rgba without alpha writes uncompressed 8-bit RGB, which this
    // reader loads exactly (the fixtures check that path).
    const std::string rgb = tmp + "/rgb.tif";
    std::filesystem::remove(rgb);
    RunCommand("tiff2rgba -c none -n '" + e.path().string() + "' " + rgb);
    if (!std::filesystem::exists(rgb)) continue;
    TBitmap theirs;
    TIOParamsVals q;
    TFileStream g(rgb, fmOpenRead);
    TIFFReadStream(&theirs, &g, pages, false, nullpr, &q);
    const int w = theirs.Width(), h = theirs.Height();
    if (w != bmp.Width() || h != bmp.Height()) continue;
    std::vector<uint8_t> ref(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const unsigned c = Pixel24(theirs, x, y);
        ref[(size_t(y) * w + x) * 3] = uint8_t(c >> 16), ref[(size_t(y) * w + x) * 3 + 1] = uint8_t(c >> 8),
                                  ref[(size_t(y) * w + x) * 3 + 2] = uint8_t(c);
      }
    ++compared;
    EXPECT_LE(MaxDiff(bmp, w, h, ref), jpeg ? 2 : 0) << e.path();
  }
  EXPECT_GT(loaded, 20);
  if (peer) {
    EXPECT_GT(compared, 5);
  }
}

// Writing: every compression with bilevel and RGB pages, and CMYK, read back.
struct WriteCase {
  TIOTIFFCompression comp;
  int bits, samples;
  TIOTIFFPhotometInterpret photo;
};

class TiffWrite : public ::testing::TestWithParam<WriteCase> {};

std::unique_ptr<TBitmap> Source(bool bilevel, int w = 77, int h = 45) {
  auto b = std::make_unique<TBitmap>();
  FillPattern24(*b, w, h, 5);
  if (bilevel) {
    auto one = std::make_unique<TBitmap>();
    one->Allocate(w, h, pf1bit);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if ((Pixel24(*b, x, y) & 0xFF) > 120 || (x / 9 + y / 5) % 3 == 0)
          one->Scanline(y)[x / 8] |= uint8_t(0x80 >> (x % 8));
    return one;
  }
  return b;
}

TEST_P(TiffWrite, ReadsBackTheSamePixels) {
  const WriteCase wc = GetParam();
  const bool bilevel = wc.bits == 1;
  auto srcp = Source(bilevel);
  TBitmap& src = *srcp;
  TIOParamsVals p;
  InstallTiffCoders(p);
  p.BitsPerSample = wc.bits;
  p.SamplesPerPixel = wc.samples;
  p.TIFF_Compression = wc.comp;
  p.TIFF_PhotometInterpret = wc.photo;
  p.TIFF_DocumentName = "doc";
  p.TIFF_PageName = "pg";
  p.TIFF_PageNumber = 2;
  p.TIFF_PageCount = 5;
  p.DpiX = 300;
  p.DpiY = 150;
  TMemoryStream m;
  EXPECT_EQ(TIFFWriteStream(&m, false, &src, p, nullpr), 1);
  TIOParamsVals q;
  InstallTiffCoders(q);
  TBitmap back;
  EXPECT_EQ(ReadTiffBytes(std::vector<uint8_t>(m.Memory(), m.Memory() + m.Size()), back, q), 1);
  EXPECT_EQ(q.TIFF_Compression, wc.comp);
  EXPECT_EQ(q.TIFF_DocumentName, "doc");
  EXPECT_EQ(q.TIFF_PageName, "pg");
  EXPECT_EQ(q.TIFF_PageNumber, 2);
  EXPECT_EQ(q.TIFF_PageCount, 5);
  EXPECT_EQ(q.DpiX, 300);
  EXPECT_EQ(q.DpiY, 150);
  if (wc.photo == ioTIFF_CMYK) {
    // CMYK keeps each channel within rounding of the integer divisions.
    ASSERT_EQ(back.Width(), src.Width());
    int worst = 0;
    for (int y = 0; y < src.Height(); ++y)
      for (int x = 0; x < src.Width(); ++x) {
        const unsigned a = Pixel24(src, x, y), b = Pixel24(back, x, y);
        for (int s = 0; s < 24; s += 8)
          worst = std::max(worst, std::abs(int((a >> s) & 0xFF) - int((b >> s) & 0xFF)));
      }
    EXPECT_LE(worst, 2);
    return;
  }
  EXPECT_TRUE(SamePixels(src, back));
}

INSTANTIATE_TEST_SUITE_P(Choices, TiffWrite,
                         ::testing::Values(WriteCase{ioTIFF_UNCOMPRESSED, 1, 1, ioTIFF_BLACKISZERO},
                                           WriteCase{ioTIFF_CCITT1D, 1, 1, ioTIFF_BLACKISZERO},
                                           WriteCase{ioTIFF_G3FAX1D, 1, 1, ioTIFF_BLACKISZERO},
                                           WriteCase{ioTIFF_G3FAX2D, 1, 1, ioTIFF_BLACKISZERO},
                                           WriteCase{ioTIFF_G4FAX, 1, 1, ioTIFF_BLACKISZERO},
                                           WriteCase{ioTIFF_LZW, 1, 1, ioTIFF_BLACKISZERO},
                                           WriteCase{ioTIFF_PACKBITS, 1, 1, ioTIFF_BLACKISZERO},
                                           WriteCase{ioTIFF_UNCOMPRESSED, 8, 3, ioTIFF_RGB},
                                           WriteCase{ioTIFF_LZW, 8, 3, ioTIFF_RGB},
                                           WriteCase{ioTIFF_PACKBITS, 8, 3, ioTIFF_RGB},
                                           WriteCase{ioTIFF_UNCOMPRESSED, 8, 4, ioTIFF_CMYK},
                                           WriteCase{ioTIFF_LZW, 8, 4, ioTIFF_CMYK}));

TEST(TiffWriteOptions, LzwWithoutEncoderWritesUncompressedWithoutPredictor) {
  auto srcp = Source(false);
  TBitmap& src = *srcp;
  TIOParamsVals p;
  p.TIFF_LZWCompFunc = nullptr;
  p.TIFF_Compression = ioTIFF_LZW;
  TMemoryStream m;
  TIFFWriteStream(&m, false, &src, p, nullpr);
  std::string bytes(reinterpret_cast<char*>(m.Memory()), size_t(m.Size()));
  EXPECT_EQ(bytes.find(std::string("\x3D\x01\x03\x00", 4)), std::string::npos);  // tag 317
  TIOParamsVals q;
  TBitmap back;
  ReadTiffBytes(std::vector<uint8_t>(m.Memory(), m.Memory() + m.Size()), back, q);
  EXPECT_EQ(q.TIFF_Compression, ioTIFF_UNCOMPRESSED);
  EXPECT_TRUE(SamePixels(src, back));
}

TEST(TiffWriteOptions, ColorImageSavedAsBilevelIsThresholdedOrDithered) {
  TBitmap two(20, 10, pf24bit);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x)
      reinterpret_cast<TRGB*>(two.Scanline(y))[x] = x < 7 ? TRGB{0, 0, 200} : TRGB{0, 250, 0};
  TIOParamsVals p;
  p.BitsPerSample = 1;
  p.SamplesPerPixel = 1;
  p.TIFF_Compression = ioTIFF_G4FAX;
  TMemoryStream m;
  TIFFWriteStream(&m, false, &two, p, nullpr);
  TBitmap back;
  TIOParamsVals q;
  ReadTiffBytes(std::vector<uint8_t>(m.Memory(), m.Memory() + m.Size()), back, q);
  ASSERT_EQ(back.PixelFormat(), pf1bit);
  // Red (darker) is black, green white.
  EXPECT_EQ(back.Scanline(3)[0], 0x01);
  EXPECT_EQ(back.Scanline(3)[1], 0xFF);
}

// Pages of a multi-page file by their width.
std::vector<int> PageWidths(TMemoryStream& m) {
  std::vector<int> w;
  m.SetPosition(0);
  const int32_t n = _EnumTIFFImStream(&m);
  for (int32_t i = 0; i < n; ++i) {
    TIOParamsVals p;
    p.TIFF_ImageIndex = i;
    TBitmap b;
    int32_t pages;
    m.SetPosition(0);
    TIFFReadStream(&b, &m, pages, false, nullpr, &p);
    w.push_back(b.Width());
  }
  m.SetPosition(0);
  return w;
}

TEST(TiffPages, InsertAtStartMiddleAndPastEndThenDelete) {
  TMemoryStream m;
  TIOParamsVals p;
  auto a = Source(false, 10, 4);
  EXPECT_EQ(TIFFWriteStream(&m, false, a.get(), p, nullpr), 1);
  auto insert = [&](int w, int at, bool bilevel) {
    auto b = Source(bilevel, w, 3);
    TIOParamsVals q;
    q.TIFF_ImageIndex = at;
    q.BitsPerSample = bilevel ? 1 : 8;
    q.SamplesPerPixel = bilevel ? 1 : 3;
    q.TIFF_Compression = bilevel ? ioTIFF_G4FAX : ioTIFF_PACKBITS;
    m.SetPosition(0);
    return TIFFWriteStream(&m, true, b.get(), q, nullpr);
  };
  EXPECT_EQ(insert(20, 0, false), 2);   // 20 10
  EXPECT_EQ(insert(30, 1, true), 3);    // 20 30 10
  EXPECT_EQ(insert(40, 99, false), 4);  // 20 30 10 40
  EXPECT_EQ(PageWidths(m), (std::vector<int>{20, 30, 10, 40}));
  EXPECT_EQ(_DeleteTIFFImStream(&m, 1), 4);
  m.SetPosition(0);
  EXPECT_EQ(PageWidths(m), (std::vector<int>{20, 10, 40}));
  m.SetPosition(0);
  EXPECT_EQ(_DeleteTIFFImStream(&m, 7), 3);  // out of range: unchanged
  EXPECT_EQ(PageWidths(m), (std::vector<int>{20, 10, 40}));
}

TEST(TiffPages, BigEndianFilesRefuseInsertButDelete) {
  // Three big-endian pages 1x1, 2x1 and 3x1 of 8-bit gray, each with a
  // two-value inline PageNumber and a short inline name.
  TiffBuilder t(true);
  size_t slot = 4;
  for (uint32_t i = 1; i <= 3; ++i) {
    const uint32_t px = t.Append(std::vector<uint8_t>(i, uint8_t(40 * i)));
    t.Long(256, {i});
    t.Long(257, {1});
    t.Short(258, {8});
    t.Short(262, {1});
    t.Long(273, {px});
    t.Short(277, {1});
    t.Long(279, {i});
    t.entries.push_back({285, 2, 3, {uint8_t('p'), uint8_t('0' + i), 0}});
    t.Short(297, {i - 1, 3});
    slot = t.Finish(0, slot) + 2 + 12 * 9;
  }
  TMemoryStream m;
  m.SetData(t.data.data(), t.data.size());
  TIOParamsVals p;
  p.TIFF_ImageIndex = 1;
  TBitmap b;
  int32_t pages;
  TIFFReadStream(&b, &m, pages, false, nullpr, &p);
  EXPECT_EQ(pages, 3);
  EXPECT_EQ(p.TIFF_PageName, "p2");
  EXPECT_EQ(p.TIFF_PageNumber, 1);
  EXPECT_EQ(p.TIFF_PageCount, 3);
  EXPECT_EQ(Pixel24(b, 1, 0), 0x505050u);
  m.SetPosition(0);
  try {
    TIFFWriteStream(&m, true, &b, p, nullpr);
    ADD_FAILURE() << "inserted into a big-endian file";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Multi image TIFF limited to Intel format");
  }
  m.SetPosition(0);
  EXPECT_EQ(_DeleteTIFFImStream(&m, 0), 3);
  EXPECT_EQ(m.Memory()[0], 'M');
  EXPECT_EQ(PageWidths(m), (std::vector<int>{2, 3}));
  p.TIFF_ImageIndex = 1;
  TIFFReadStream(&b, &m, pages, false, nullpr, &p);
  EXPECT_EQ(p.TIFF_PageName, "p3");
  EXPECT_EQ(Pixel24(b, 2, 0), 0x787878u);
}

// Hostile streams: each must raise EInvalidGraphic or load a (partial) image,
// never crash, hang or allocate what the data cannot fill.
struct Hostile {
  const char* name;
  std::vector<uint8_t> (*make)();
  bool mustThrow;
};

std::vector<uint8_t> Base(TiffBuilder& t, uint32_t w, uint32_t h, uint32_t comp, uint32_t bits, uint32_t spp,
                          uint32_t photo) {
  t.Long(256, {w});
  t.Long(257, {h});
  t.Short(258, std::vector<uint32_t>(spp, bits));
  t.Short(259, {comp});
  t.Short(262, {photo});
  t.Short(277, {spp});
  return {};
}

const Hostile kHostile[] = {
    {"StripPastEnd",
     [] {
       TiffBuilder t;
       Base(t, 100, 100, 1, 8, 3, 2);
       t.Long(273, {0x7FFFFFF0});
       t.Long(279, {30000});
       t.Finish();
       return t.data;
     },
     true},
    {"CountPastEnd",
     [] {
       TiffBuilder t;
       const uint32_t px = t.Append(std::vector<uint8_t>(900, 9));
       Base(t, 10, 10, 1, 8, 3, 2);
       t.Long(273, {px});
       t.Long(279, {0xFFFFFFFF});
       t.Finish();
       return t.data;
     },
     false},
    {"LoopingChain",
     [] {
       TiffBuilder t;
       Base(t, 1, 1, 1, 8, 1, 1);
       const uint32_t a = t.Finish();
       Base(t, 1, 1, 1, 8, 1, 1);
       const uint32_t b = t.Finish(a, 4);  // header -> b -> a
       (void)b;
       // a links back to b: patch a's next link.
       const size_t link = a + 2 + 12 * 6;
       t.data[link] = uint8_t(b), t.data[link + 1] = uint8_t(b >> 8);
       return t.data;
     },
     false},
    {"MillionsOfOffsets",
     [] {
       TiffBuilder t;
       Base(t, 2000, 2000, 1, 8, 1, 1);
       t.Raw(273, 4, 4000000, 8);
       t.Raw(279, 4, 4000000, 8);
       t.Short(278, {1});
       t.Finish();
       return t.data;
     },
     true},
    {"LzwCodesPastTable",
     [] {
       TiffBuilder t;
       const uint32_t px = t.Append({0x80, 0x00, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
       Base(t, 16, 16, 5, 8, 1, 1);
       t.Long(273, {px});
       t.Long(279, {8});
       t.Finish();
       return t.data;
     },
     false},
    {"CcittRowsThatNeverEnd",
     [] {
       TiffBuilder t;
       const uint32_t px = t.Append(std::vector<uint8_t>(400, 0xFF));
       Base(t, 60000, 3000, 3, 1, 1, 0);
       t.Long(292, {1});
       t.Long(273, {px});
       t.Long(279, {400});
       t.Finish();
       return t.data;
     },
     false},
    {"PlanarTooFewStrips",
     [] {
       TiffBuilder t;
       const uint32_t px = t.Append(std::vector<uint8_t>(64, 200));
       Base(t, 8, 8, 1, 8, 3, 2);
       t.Short(284, {2});
       t.Long(273, {px});
       t.Long(279, {64});
       t.Finish();
       return t.data;
     },
     false},
    {"UnlistedDepths",
     [] {
       TiffBuilder t;
       const uint32_t px = t.Append(std::vector<uint8_t>(600, 1));
       Base(t, 10, 10, 1, 12, 5, 2);
       t.Long(273, {px});
       t.Long(279, {600});
       t.Finish();
       return t.data;
     },
     false},
    {"HugeFromTwentyBytes",
     [] {
       TiffBuilder t;
       Base(t, 60000, 60000, 1, 8, 3, 2);
       t.Long(273, {8});
       t.Finish();
       return t.data;
     },
     true},
    {"UnequalBitDepths",
     [] {
       TiffBuilder t;
       Base(t, 4, 4, 1, 8, 3, 2);
       t.entries[2] = {258, 3, 3, {8, 0, 8, 0, 16, 0}};
       t.Finish();
       return t.data;
     },
     true},
    {"TruncatedHeader",
     [] {
       return std::vector<uint8_t>{'I', 'I', 42};
     },
     true},
    {"DeflateGarbage",
     [] {
       TiffBuilder t;
       const uint32_t px = t.Append(std::vector<uint8_t>(50, 0xA5));
       Base(t, 30, 30, 8, 8, 3, 2);
       t.Long(273, {px});
       t.Long(279, {50});
       t.Finish();
       return t.data;
     },
     true},
    {"JpegGarbage",
     [] {
       TiffBuilder t;
       const uint32_t px =
           t.Append({0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 3, 1, 0x22});
       Base(t, 30, 30, 7, 8, 3, 6);
       t.Long(273, {px});
       t.Long(279, {14});
       t.Finish();
       return t.data;
     },
     true},
    {"PlanarYCbCrJpeg",  // three planes of one 3-component stream would overrun a plane
     [] {
       TiffBuilder t;
       const uint32_t px = t.Append(std::vector<uint8_t>(96, 0xFF));
       Base(t, 16, 16, 7, 8, 3, 6);
       t.Short(284, {2});
       t.Long(273, {px, px, px});
       t.Long(279, {96, 96, 96});
       t.Finish();
       return t.data;
     },
     true},
    {"TilesLargerThanReason",
     [] {
       TiffBuilder t;
       const uint32_t px = t.Append(std::vector<uint8_t>(64, 1));
       Base(t, 4, 4, 32946, 8, 1, 1);
       t.Long(322, {60000}), t.Long(323, {60000});
       t.Long(324, {px}), t.Long(325, {64});
       t.Finish();
       return t.data;
     },
     true},
    {"TooFewTiles",
     [] {
       TiffBuilder t;
       const uint32_t px = t.Append(std::vector<uint8_t>(256, 1));
       Base(t, 64, 64, 1, 8, 1, 1);
       t.Long(322, {16}), t.Long(323, {16});
       t.Long(324, {px}), t.Long(325, {256});
       t.Finish();
       return t.data;
     },
     true},
    {"BigTiffEntryCountPastEnd",
     [] {
       // Version 43, offsets of 8 bytes, first directory at 16 claiming 2^40 entries.
       return std::vector<uint8_t>{'I', 'I', 43, 0, 8, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0,
                                   0,   0,   0,  0, 0, 1, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0};
     },
     true},
};

class TiffHostile : public ::testing::TestWithParam<Hostile> {};

TEST_P(TiffHostile, FailsCleanlyOrLoadsPart) {
  const Hostile& h = GetParam();
  TIOParamsVals p;
  InstallTiffCoders(p);
  TBitmap bmp;
  try {
    ReadTiffBytes(h.make(), bmp, p);
    EXPECT_FALSE(h.mustThrow) << "loaded " << bmp.Width() << "x" << bmp.Height();
    TouchPixels(bmp);
  } catch (const EInvalidGraphic&) {
    if (!h.mustThrow) SUCCEED() << "refused";
  }
}

INSTANTIATE_TEST_SUITE_P(Streams, TiffHostile, ::testing::ValuesIn(kHostile),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(TiffHostileDetail, LoopingChainCountsEachDirectoryOnce) {
  TiffBuilder t;
  Base(t, 1, 1, 1, 8, 1, 1);
  const uint32_t a = t.Finish();
  Base(t, 1, 1, 1, 8, 1, 1);
  const uint32_t b = t.Finish(a, 4);
  const size_t link = a + 2 + 12 * 6;
  t.data[link] = uint8_t(b), t.data[link + 1] = uint8_t(b >> 8);
  TMemoryStream m;
  m.SetData(t.data.data(), t.data.size());
  EXPECT_EQ(_EnumTIFFImStream(&m), 2);
}

// Deflate strips a whole-buffer decoder refuses load as a streaming inflate
// gives them: a last strip coded at full strip height, strips holding more
// rows than they cover, a strip cut short (the rows it reaches, then black).
TEST(TiffRead, DeflateStripsLongerOrCutShortLoadWhatTheyHold) {
  constexpr int W = 64, H = 60, R = 16;  // four strips, the last covers 12 rows
  auto value = [](int x, int y, int c) { return uint8_t((x * 7 + y * 13 + c * 101) ^ (x * y)); };
  auto zip = [&](int y0, int rows) {
    std::vector<uint8_t> raw;
    for (int y = y0; y < y0 + rows; ++y)
      for (int x = 0; x < W; ++x)
        for (int c = 0; c < 3; ++c) raw.push_back(value(x, y, c));
    uLongf n = compressBound(uLong(raw.size()));
    std::vector<uint8_t> out(n);
    EXPECT_EQ(compress2(out.data(), &n, raw.data(), uLong(raw.size()), 6), Z_OK);
    out.resize(n);
    return out;
  };
  struct Case {
    const char* name;
    int extraRows;   // coded past each strip's rows
    bool cutSecond;  // the second strip keeps half its bytes
  };
  for (const Case c : {Case{"exact", 0, false}, Case{"full last strip", R - H % R, false},
                       Case{"longer strips", 8, false}, Case{"cut short", 0, true}}) {
    SCOPED_TRACE(c.name);
    TiffBuilder t;
    std::vector<uint32_t> offsets, counts;
    for (int y0 = 0; y0 < H; y0 += R) {
      std::vector<uint8_t> z = zip(y0, std::min(R, H - y0) + c.extraRows);
      if (c.cutSecond && y0 == R) z.resize(z.size() / 2);
      offsets.push_back(t.Append(z));
      counts.push_back(uint32_t(z.size()));
    }
    Base(t, W, H, 8, 8, 3, 2);
    t.Long(278, {R});
    t.Long(273, offsets);
    t.Long(279, counts);
    t.Finish();
    TIOParamsVals p;
    TBitmap bmp;
    ASSERT_NO_THROW(ReadTiffBytes(t.data, bmp, p));
    ASSERT_EQ(bmp.Width(), W);
    ASSERT_EQ(bmp.Height(), H);
    // In the cut strip the data end inside a pixel: the pixels before it
    // are right, those after it black.
    int wrong = 0, black = 0;
    bool ended = false;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const unsigned want = unsigned(value(x, y, 0)) << 16 | unsigned(value(x, y, 1)) << 8 | value(x, y, 2);
        const unsigned got = Pixel24(bmp, x, y);
        if (c.cutSecond && y >= R && y < 2 * R && (ended || got != want)) {
          if (ended) wrong += got != 0;
          black += ended;
          ended = true;
          continue;
        }
        wrong += got != want;
      }
    EXPECT_EQ(wrong, 0);
    if (c.cutSecond) {
      EXPECT_GT(black, 0);
      EXPECT_LT(black, W * R);
    }
  }
}

TEST(TiffRead, AbortStopsAfterTheCurrentRow) {
  auto srcp = Source(false, 30, 40);
  TBitmap& src = *srcp;
  TIOParamsVals p;
  TMemoryStream m;
  TIFFWriteStream(&m, false, &src, p, nullpr);
  bool abort = false;
  int calls = 0;
  TProgressRec pr;
  pr.Aborting = &abort;
  pr.OnProgress = [&](TObject*, int) {
    if (++calls == 5) abort = true;
  };
  m.SetPosition(0);
  TBitmap back;
  int32_t pages;
  EXPECT_NO_THROW(TIFFReadStream(&back, &m, pages, false, pr, &p));
  EXPECT_EQ(calls, 5);
  for (int x = 0; x < 30; ++x) {
    EXPECT_EQ(Pixel24(back, x, 4), Pixel24(src, x, 4));  // rows up to the abort are filled
    EXPECT_EQ(Pixel24(back, x, 39), 0u);
  }
}

}  // namespace
}  // namespace korvane
