// Files the codec writes, checked with libtiff's tools: tiffinfo -D reads
// them without errors or warnings, and tiffcp -c none gives an uncompressed
// file whose pixels equal the source. Skipped when libtiff-tools are missing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "korvane/foundations/host/exceptions.h"
#include "tests/codec_tiff/tiff_test_util.h"
#include "tests/test_support.h"

namespace korvane {
namespace {

using namespace korvane::test;

void Save(const std::string& file, TBitmap& bmp, TIOParamsVals& p, bool insert) {
  TFileStream f(file, insert ? fmOpenReadWrite : fmCreate);
  TIFFWriteStream(&f, insert, &bmp, p, nullpr);
}

void Picture(TBitmap& out, bool bilevel, int w, int h, unsigned seed) {
  TBitmap b;
  FillPattern24(b, w, h, seed);
  if (!bilevel) {
    out.Assign(&b);
    return;
  }
  out.Allocate(w, h, pf1bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if ((Pixel24(b, x, y) & 0xFF) > 100 || (x / 7 + y / 3) % 4 == 0)
        out.Scanline(y)[x / 8] |= uint8_t(0x80 >> (x % 8));
}

// tiffinfo -D must print no error or warning; tiffcp -c none must give the
// source's pixels on each page.
void CheckWithLibtiff(const std::string& file, const std::vector<TBitmap*>& pages) {
  const std::string info = RunCommand("tiffinfo -D '" + file + "'");
  EXPECT_EQ(info.find("rror"), std::string::npos) << file << "\n" << info;
  EXPECT_EQ(info.find("arning"), std::string::npos) << file << "\n" << info;
  const std::string plain = file + ".none.tif";
  const std::string out = RunCommand("tiffcp -c none '" + file + "' '" + plain + "'");
  EXPECT_EQ(out, "") << file;
  TFileStream f(plain, fmOpenRead);
  ASSERT_EQ(_EnumTIFFImStream(&f), int32_t(pages.size())) << file;
  for (size_t i = 0; i < pages.size(); ++i) {
    TIOParamsVals p;
    p.TIFF_ImageIndex = int32_t(i);
    TBitmap back;
    int32_t n;
    f.SetPosition(0);
    TIFFReadStream(&back, &f, n, false, nullpr, &p);
    EXPECT_EQ(p.TIFF_Compression, ioTIFF_UNCOMPRESSED);
    EXPECT_TRUE(SamePixels(*pages[i], back)) << file << " page " << i;
  }
}

TEST(TiffInterop, LibtiffReadsEveryCompressionAndColorChoice) {
  if (!OnPath("tiffinfo") || !OnPath("tiffcp"))
    GTEST_SKIP() << "libtiff-tools (tiffinfo, tiffcp) are not installed";
  const std::string dir = testing::TempDir() + "/kv_tiff_interop";
  std::filesystem::create_directories(dir);
  struct Choice {
    const char* name;
    TIOTIFFCompression comp;
    bool bilevel;
  } choices[] = {{"none1", ioTIFF_UNCOMPRESSED, true}, {"mh", ioTIFF_CCITT1D, true},
                 {"g3", ioTIFF_G3FAX1D, true},         {"g32d", ioTIFF_G3FAX2D, true},
                 {"g4", ioTIFF_G4FAX, true},           {"lzw1", ioTIFF_LZW, true},
                 {"pb1", ioTIFF_PACKBITS, true},       {"none24", ioTIFF_UNCOMPRESSED, false},
                 {"lzw24", ioTIFF_LZW, false},         {"pb24", ioTIFF_PACKBITS, false}};
  for (const Choice& c : choices) {
    TBitmap src;
    Picture(src, c.bilevel, 301, 67, 3);
    TIOParamsVals p;
    InstallTiffCoders(p);
    p.BitsPerSample = c.bilevel ? 1 : 8;
    p.SamplesPerPixel = c.bilevel ? 1 : 3;
    p.TIFF_Compression = c.comp;
    p.TIFF_PageName = "ab";  // fits in the entry
    p.TIFF_ImageDescription = "a longer description";
    p.TIFF_PageNumber = 1;
    p.TIFF_PageCount = 1;
    p.DpiX = p.DpiY = 200;
    const std::string file = dir + "/" + c.name + ".tif";
    Save(file, src, p, false);
    CheckWithLibtiff(file, {&src});
  }
  // CMYK: tiffinfo reads it; the separated samples are checked by our reader.
  TBitmap src;
  Picture(src, false, 50, 20, 4);
  TIOParamsVals p;
  p.TIFF_PhotometInterpret = ioTIFF_CMYK;
  const std::string file = dir + "/cmyk.tif";
  Save(file, src, p, false);
  const std::string info = RunCommand("tiffinfo -D '" + file + "'");
  EXPECT_EQ(info.find("rror"), std::string::npos) << info;
  EXPECT_NE(info.find("separated"), std::string::npos) << info;
}

TEST(TiffInterop, InsertedPagesComeOutInOrder) {
  if (!OnPath("tiffinfo") || !OnPath("tiffcp"))
    GTEST_SKIP() << "libtiff-tools (tiffinfo, tiffcp) are not installed";
  const std::string file = testing::TempDir() + "/kv_tiff_pages.tif";
  TBitmap a, b, c, d;
  Picture(a, false, 40, 10, 1), Picture(b, true, 41, 11, 2), Picture(c, false, 42, 12, 3),
      Picture(d, true, 43, 13, 4);
  TIOParamsVals p;
  InstallTiffCoders(p);
  Save(file, a, p, false);  // a
  p.TIFF_ImageIndex = 0;
  p.TIFF_Compression = ioTIFF_LZW;
  Save(file, c, p, true);  // c a
  p.TIFF_ImageIndex = 1;
  p.BitsPerSample = 1;
  p.SamplesPerPixel = 1;
  p.TIFF_Compression = ioTIFF_G4FAX;
  Save(file, b, p, true);  // c b a
  p.TIFF_ImageIndex = 50;
  p.TIFF_Compression = ioTIFF_G3FAX2D;
  Save(file, d, p, true);  // c b a d
  CheckWithLibtiff(file, {&c, &b, &a, &d});
}

TEST(TiffInterop, DeletingAPageOfABigEndianFile) {
  if (!OnPath("tiffcp") || !OnPath("tiffinfo"))
    GTEST_SKIP() << "libtiff-tools (tiffinfo, tiffcp) are not installed";
  const std::string dir = testing::TempDir();
  const std::string le = dir + "/kv_tiff_le.tif", be = dir + "/kv_tiff_be.tif";
  TBitmap a, b, c;
  Picture(a, false, 33, 9, 7), Picture(b, true, 34, 9, 8), Picture(c, false, 35, 9, 9);
  TIOParamsVals p;
  InstallTiffCoders(p);
  p.TIFF_Compression = ioTIFF_LZW;
  p.TIFF_PageName = "named page";
  Save(le, a, p, false);
  p.TIFF_ImageIndex = 1;
  p.BitsPerSample = p.SamplesPerPixel = 1;
  p.TIFF_Compression = ioTIFF_G4FAX;
  Save(le, b, p, true);
  p.TIFF_ImageIndex = 2;
  p.BitsPerSample = 8;
  p.SamplesPerPixel = 3;
  p.TIFF_Compression = ioTIFF_PACKBITS;
  Save(le, c, p, true);
  EXPECT_EQ(RunCommand("tiffcp -B '" + le + "' '" + be + "'"), "");
  {
    TFileStream f(be, fmOpenReadWrite);
    uint8_t mm[2];
    f.ReadBuffer(mm, 2);
    ASSERT_EQ(mm[0], 'M');
    f.SetPosition(0);
    EXPECT_EQ(_DeleteTIFFImStream(&f, 1), 3);
  }
  CheckWithLibtiff(be, {&a, &c});
}

}  // namespace
}  // namespace korvane
