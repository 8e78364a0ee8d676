// A load never reports success over a picture it did not fill and never
// shows rows of the previous picture; records read from a file say what the
// file holds (progressive flag, palette behind a stream header, the quality
// its tables stand for); editing a hostile TIFF stays bounded.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/io/codecs/checked_reader.h"
#include "korvane/io/codecs/jpeg/jpeg_codec.h"
#include "korvane/io/kvio.h"
#include "tests/io/lzw_coders.h"
#include "tests/test_support.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

TMemoryStream FromBytes(const std::vector<uint8_t>& d) {
  TMemoryStream s;
  s.SetData(d.data(), d.size());
  return s;
}

class LoadIntegrity : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FillPattern24(src, 64, 64, 9);
    io.SetAttachedBitmap(&bmp);
    io.Params()->SetDefaultParams();
  }
  test::LZWCoders coders_;
  TBitmap src, bmp;
  TKorvaneIO io;
};

TEST_F(LoadIntegrity, AnAbortedJpegLoadClearsTheRowsItDidNotReach) {
  TMemoryStream jpg;
  TIOParamsVals p;
  p.SetDefaultParams();
  WriteJPegStream(&jpg, &src, p, nullpr);
  // The target already holds a white picture of the same size, whose block
  // the reader reuses.
  bmp.Allocate(64, 64, pf24bit);
  for (int y = 0; y < 64; ++y) std::memset(bmp.Scanline(y), 0xFF, 64 * 3);
  io.OnProgress = [&](TObject*, int per) {
    if (per >= 50) io.Aborting = true;
  };
  jpg.SetPosition(0);
  io.LoadFromStreamJpeg(&jpg);
  ASSERT_TRUE(io.Aborting);
  ASSERT_EQ(bmp.Height(), 64);
  for (int x = 0; x < 64; ++x) EXPECT_EQ(test::Pixel24(bmp, x, 63), 0u) << x;
  EXPECT_NE(test::Pixel24(bmp, 5, 0), 0xFFFFFFu);
}

TEST_F(LoadIntegrity, WhatAReaderCannotDecodeFailsWithTheReason) {
  // A BMP of 24 bits with compression 4 (JPEG inside).
  std::vector<uint8_t> b(14 + 40 + 64, 0);
  b[0] = 'B', b[1] = 'M';
  PutLE32(&b[2], uint32_t(b.size()));
  PutLE32(&b[10], 54);
  PutLE32(&b[14], 40);
  PutLE32(&b[18], 4);
  PutLE32(&b[22], 4);
  PutLE16(&b[26], 1);
  PutLE16(&b[28], 24);
  PutLE32(&b[30], 4);
  TMemoryStream bmpData = FromBytes(b);
  EXPECT_EQ(Message([&] { io.LoadFromStreamBMP(&bmpData); }),
            "BMP compression 4 is not supported at 24 bits per pixel : unrecognized BMP stream");

  // A TIFF page with compression 34925 (LZMA).
  std::vector<uint8_t> t = {'I', 'I', 42, 0, 8, 0, 0, 0};
  const std::vector<std::array<uint32_t, 3>> tags = {{256, 3, 4}, {257, 3, 4},   {258, 3, 8}, {259, 3, 34925},
                                                     {262, 3, 1}, {273, 4, 200}, {277, 3, 1}, {279, 4, 16}};
  t.push_back(uint8_t(tags.size()));
  t.push_back(0);
  for (const auto& tag : tags) {
    uint8_t e[12] = {};
    PutLE16(e, tag[0]);
    PutLE16(e + 2, tag[1]);
    PutLE32(e + 4, 1);
    if (tag[1] == 3)
      PutLE16(e + 8, tag[2]);
    else
      PutLE32(e + 8, tag[2]);
    t.insert(t.end(), e, e + 12);
  }
  t.resize(240, 0);
  TMemoryStream tif = FromBytes(t);
  io.StreamHeaders = false;
  EXPECT_EQ(Message([&] { io.LoadFromStreamTIFF(&tif); }),
            "TIFF compression 34925 is not supported : unrecognized TIFF stream");

  // An icon image of 64 bits per pixel.
  std::vector<uint8_t> ico(6 + 16 + 40 + 64, 0);
  ico[2] = 1, ico[4] = 1;
  ico[6] = 2, ico[7] = 2;
  PutLE16(&ico[12], 64);
  PutLE32(&ico[14], 40 + 64);
  PutLE32(&ico[18], 22);
  PutLE32(&ico[22], 40);
  PutLE32(&ico[26], 2);
  PutLE32(&ico[30], 4);
  PutLE16(&ico[34], 1);
  PutLE16(&ico[36], 64);
  TMemoryStream icon = FromBytes(ico);
  EXPECT_EQ(Message([&] { io.LoadFromStreamICO(&icon); }),
            "ICO images of 64 bits per pixel are not supported : unrecognized ICO stream");
}

TEST_F(LoadIntegrity, AnIndexPastTheEndNamesItselfAndTheCount) {
  const fs::path dir = fs::temp_directory_path() / ("kvidx_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  io.SetAttachedBitmap(&src);
  io.SaveToFileTIFF((dir / "one.tif").string());
  io.SaveToFileGif((dir / "one.gif").string());
  io.SetAttachedBitmap(&bmp);
  io.Params()->TIFF_ImageIndex = 3;
  io.Params()->GIF_ImageIndex = 5;
  EXPECT_EQ(Message([&] { io.LoadFromFileTIFF((dir / "one.tif").string()); }),
            "TIFF page 3 does not exist (the file has 1 page) : unrecognized TIFF");
  EXPECT_EQ(Message([&] { io.LoadFromFileGif((dir / "one.gif").string()); }),
            "GIF frame 5 does not exist (the file has 1 frame) : unrecognized GIF");
  EXPECT_TRUE(bmp.Empty());
  fs::remove_all(dir);
}

// Deleting a page rebuilds the file; strips that all point at one range are
// copied once, and strips that overlap cannot make the file grow past the
// input plus its directories.
TEST_F(LoadIntegrity, DeletingATiffPageStaysBoundedOnSharedAndOverlappingStrips) {
  constexpr uint32_t kStrips = 2000, kData = 50000;
  auto build = [&](bool overlapping) {
    std::vector<uint8_t> d = {'I', 'I', 42, 0, 0, 0, 0, 0};
    const uint32_t dataAt = uint32_t(d.size());
    d.resize(d.size() + kData, 0x55);
    const uint32_t offsAt = uint32_t(d.size());
    for (uint32_t i = 0; i < kStrips; ++i) {
      uint8_t v[4];
      PutLE32(v, dataAt + (overlapping ? i : 0));
      d.insert(d.end(), v, v + 4);
    }
    const uint32_t cntsAt = uint32_t(d.size());
    for (uint32_t i = 0; i < kStrips; ++i) {
      uint8_t v[4];
      PutLE32(v, kData - kStrips);
      d.insert(d.end(), v, v + 4);
    }
    // Two pages: the second is the hostile one, the first is deleted.
    auto ifd = [&](uint32_t strips, uint32_t offs, uint32_t cnts, uint32_t next) {
      const uint32_t at = uint32_t(d.size());
      const std::vector<std::array<uint32_t, 4>> tags = {
          {256, 3, 1, 8},         {257, 3, 1, strips}, {258, 3, 1, 8},        {262, 3, 1, 1},
          {273, 4, strips, offs}, {278, 3, 1, 1},      {279, 4, strips, cnts}};
      d.push_back(uint8_t(tags.size()));
      d.push_back(0);
      for (const auto& t : tags) {
        uint8_t e[12] = {};
        PutLE16(e, t[0]);
        PutLE16(e + 2, t[1]);
        PutLE32(e + 4, t[2]);
        if (t[1] == 3)
          PutLE16(e + 8, t[3]);
        else
          PutLE32(e + 8, t[3]);
        d.insert(d.end(), e, e + 12);
      }
      uint8_t n[4];
      PutLE32(n, next);
      d.insert(d.end(), n, n + 4);
      return at;
    };
    const uint32_t second = ifd(kStrips, offsAt, cntsAt, 0);
    const uint32_t first = ifd(1, dataAt, dataAt, second);  // one strip of 8 bytes
    PutLE32(&d[4], first);
    return d;
  };
  const fs::path dir = fs::temp_directory_path() / ("kvdel_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string name = (dir / "h.tif").string();
  for (bool overlapping : {false, true}) {
    SCOPED_TRACE(overlapping);
    const std::vector<uint8_t> d = build(overlapping);
    {
      TFileStream f(name, fmCreate);
      f.WriteBuffer(d.data(), int64_t(d.size()));
    }
    if (!overlapping) {
      EXPECT_EQ(DeleteTIFFIm(name, 0), 2);
      EXPECT_LE(fs::file_size(name), d.size());
      EXPECT_EQ(EnumTIFFIm(name), 1);
    } else {
      EXPECT_THROW(DeleteTIFFIm(name, 0), EInvalidGraphic);
      EXPECT_EQ(fs::file_size(name), d.size());
    }
  }
  fs::remove_all(dir);
}

// A sequential JPEG whose components come in separate scans.
TMemoryStream SequentialMultiScanJpeg(TBitmap& b) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = JDIMENSION(b.Width());
  c.image_height = JDIMENSION(b.Height());
  c.input_components = 3;
  c.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&c);
  static jpeg_scan_info scans[3];
  for (int i = 0; i < 3; ++i) scans[i] = jpeg_scan_info{1, {i, 0, 0, 0}, 0, 63, 0, 0};
  c.scan_info = scans;
  c.num_scans = 3;
  jpeg_start_compress(&c, TRUE);
  for (int y = 0; y < b.Height(); ++y) {
    JSAMPROW row = b.Scanline(y);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  TMemoryStream s;
  s.SetData(out, size);
  std::free(out);
  return s;
}

TEST_F(LoadIntegrity, TheRecordSaysWhatTheFileHolds) {
  // Several scans do not make a file progressive.
  TMemoryStream seq = SequentialMultiScanJpeg(src);
  io.Params()->JPEG_Progressive = true;
  io.LoadFromStreamJpeg(&seq);
  EXPECT_FALSE(io.Params()->JPEG_Progressive);
  TMemoryStream prog;
  TIOParamsVals p;
  p.SetDefaultParams();
  p.JPEG_Progressive = true;
  WriteJPegStream(&prog, &src, p, nullpr);
  prog.SetPosition(0);
  io.LoadFromStreamJpeg(&prog);
  EXPECT_TRUE(io.Params()->JPEG_Progressive);

  // The palette of a PCX behind a "PCX2" header is the one at the end of
  // its own data, not of whatever follows it in the stream.
  TBitmap ramp;
  ramp.Allocate(64, 4, pf24bit);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 64; ++x) reinterpret_cast<TRGB*>(ramp.Scanline(y))[x] = TRGB{uint8_t(4 * x), 9, 200};
  io.SetAttachedBitmap(&ramp);
  io.Params()->BitsPerSample = 8;
  io.Params()->SamplesPerPixel = 1;
  TMemoryStream s;
  io.SaveToStreamPCX(&s);
  std::vector<uint8_t> next(2000, 0x77);
  s.WriteBuffer(next.data(), int64_t(next.size()));
  s.SetPosition(0);
  io.SetAttachedBitmap(&bmp);
  io.ParamsFromStream(&s);
  ASSERT_EQ(io.Params()->FileType, ioPCX);
  ASSERT_EQ(io.Params()->ColorMapCount, 256);
  EXPECT_EQ(io.Params()->ColorMap[0].r, 200);
  EXPECT_EQ(io.Params()->ColorMap[63].b, 252);
}

TEST(JpegQuality, TheEstimateReadsTheQualityBackFromTheTables) {
  TBitmap b;
  test::FillPattern24(b, 32, 24, 4);
  for (int q : {5, 10, 25, 50, 75, 90, 97, 100}) {
    for (TIOJPEGColorspace space : {ioJPEG_YCbCr, ioJPEG_GRAYLEV}) {
      TIOParamsVals p;
      p.SetDefaultParams();
      p.JPEG_Quality = q;
      p.JPEG_ColorSpace = space;
      TMemoryStream s;
      WriteJPegStream(&s, &b, p, nullpr);
      s.SetPosition(0);
      EXPECT_EQ(JPegEstimateQuality(&s), q) << q << (space == ioJPEG_GRAYLEV ? " gray" : "");
      EXPECT_EQ(s.Position(), 0);
    }
  }
  TMemoryStream junk;
  junk.WriteBuffer("not a jpeg at all", 17);
  junk.SetPosition(0);
  EXPECT_EQ(JPegEstimateQuality(&junk), 0);
}

}  // namespace
