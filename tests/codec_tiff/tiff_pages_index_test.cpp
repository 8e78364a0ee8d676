// Whole multi-page files: the one-walk page index reads what TIFFReadStream
// reads, and the one-pass writer writes what TIFFWriteStream's inserts write.
#include <gtest/gtest.h>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/kvutils.h"
#include "tests/codec_tiff/tiff_test_util.h"
#include "tests/test_support.h"

namespace korvane {
namespace {

using namespace korvane::test;

std::vector<uint8_t> Bytes(TMemoryStream& s) { return {s.Memory(), s.Memory() + s.Size()}; }

TEST(TiffPageIndex, WriterAndIndexMatchInsertAndReader) {
  // Pages of every writer path: RGB with LZW and predictor, bilevel G4 and
  // PackBits, CMYK, uncompressed, with names and positions.
  struct Page {
    int w, h;
    bool bilevel;
    TIOTIFFCompression comp;
    bool cmyk;
  };
  const Page pages[] = {{23, 9, false, ioTIFF_LZW, false},
                        {40, 17, true, ioTIFF_G4FAX, false},
                        {9, 31, true, ioTIFF_PACKBITS, false},
                        {12, 5, false, ioTIFF_UNCOMPRESSED, true},
                        {1, 1, false, ioTIFF_PACKBITS, false}};
  const int n = int(std::size(pages));
  std::vector<TBitmap> bmp(n);
  auto params = [&](int i, TIOParamsVals& p) {
    InstallTiffCoders(p);
    p.BitsPerSample = pages[i].bilevel ? 1 : 8;
    p.SamplesPerPixel = pages[i].bilevel ? 1 : 3;
    p.TIFF_Compression = pages[i].comp;
    p.TIFF_PhotometInterpret = pages[i].cmyk ? ioTIFF_CMYK : ioTIFF_RGB;
    p.TIFF_PageName = "page " + std::to_string(i);
    p.TIFF_XPos = i;
    p.DpiX = 100 + i;
    p.DpiY = 50 + i;
  };
  for (int i = 0; i < n; ++i) FillPattern24(bmp[i], pages[i].w, pages[i].h, unsigned(30 + i));

  TMemoryStream old;
  for (int i = 0; i < n; ++i) {
    TIOParamsVals p;
    params(i, p);
    p.TIFF_ImageIndex = i;
    old.SetPosition(0);
    ASSERT_EQ(TIFFWriteStream(&old, i > 0, &bmp[i], p, nullpr), i + 1);
  }
  TMemoryStream now;
  TTIFFPageWriter w(&now);
  for (int i = 0; i < n; ++i) {
    TIOParamsVals p;
    params(i, p);
    ASSERT_TRUE(w.Add(&bmp[i], p, nullpr));
  }
  EXPECT_EQ(w.Count(), n);
  EXPECT_EQ(Bytes(now), Bytes(old));

  // A big-endian file made by hand is read both ways too: two pages, the
  // second's byte count larger than its strip.
  TiffBuilder big(true);
  size_t link = 4;
  for (int k = 0; k < 2; ++k) {
    const uint32_t strip = big.Append(std::vector<uint8_t>(k ? 10 : 48, uint8_t(0x30 + k)));
    big.Long(256, {4});
    big.Long(257, {4});
    big.Short(258, {8, 8, 8});
    big.Short(262, {2});
    big.Short(277, {3});
    big.Long(273, {strip});
    big.Long(279, {48});
    link = big.Finish(0, link) + 2 + 12 * 7;
  }

  TMemoryStream hand;
  hand.SetData(big.data.data(), big.data.size());
  for (TMemoryStream* s : {&now, &hand}) {
    s->SetPosition(0);
    TTIFFPageIndex index(s);
    int32_t count = 0;
    TBitmap none;
    s->SetPosition(0);
    TIFFReadStream(&none, s, count, false, nullpr, nullptr);
    ASSERT_EQ(index.Count(), count);
    for (int i = 0; i < count; ++i) {
      SCOPED_TRACE("page " + std::to_string(i));
      TIOParamsVals pa, pb;
      InstallTiffCoders(pa);
      InstallTiffCoders(pb);
      pa.TIFF_ImageIndex = i;
      TBitmap a, b;
      int32_t pc = 0;
      s->SetPosition(0);
      TIFFReadStream(&a, s, pc, false, nullpr, &pa);
      index.Read(i, &b, false, nullpr, pb);
      EXPECT_TRUE(SamePixels(a, b));
      EXPECT_EQ(pb.TIFF_ImageIndex, i);
      EXPECT_EQ(pa.TIFF_Compression, pb.TIFF_Compression);
      EXPECT_EQ(pa.TIFF_PageName, pb.TIFF_PageName);
      EXPECT_EQ(pa.DpiX, pb.DpiX);
      EXPECT_EQ(pa.BitsPerSample, pb.BitsPerSample);
    }
    TIOParamsVals p;
    TBitmap b;
    EXPECT_THROW(index.Read(count, &b, false, nullpr, p), EInvalidGraphic);
  }
}

}  // namespace
}  // namespace korvane
