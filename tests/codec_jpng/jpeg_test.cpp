// JPEG codec: scaled loading, writer options reloaded by our reader and by
// Pillow, and hostile or failing input (truncations, garbage, declared sizes
// beyond the data, a stream that throws).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/io/codecs/jpeg/jpeg_codec.h"
#include "korvane/pixels/bitmap_procs.h"
#include "tests/codec_jpng/jpng_support.h"
#include "tests/test_support.h"

using namespace korvane;
using namespace korvane::test;

namespace {

// A smooth photo-like picture with some texture (JPEG's home ground).
void FillPhoto(TBitmap& bmp, int w, int h) {
  bmp.Allocate(w, h, pf24bit);
  for (int y = 0; y < h; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(bmp.Scanline(y));
    for (int x = 0; x < w; ++x) {
      const double t = std::sin(x * 0.07) * std::cos(y * 0.05);
      row[x] = CreateRGB(blimit(int(128 + 100 * t)), blimit(int(40 + 2 * x + y)), blimit(int(200 - 2 * y)));
    }
  }
}

int MaxDiff24(TBitmap& a, TBitmap& b) {
  int m = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width() * 3; ++x) m = std::max(m, std::abs(a.Scanline(y)[x] - b.Scanline(y)[x]));
  return m;
}

bool IsJpegError(const EInvalidGraphic& e) {
  return std::string(e.what()).rfind("Unrecognized JPeg - JPEG error #", 0) == 0;
}

// ---------------------------------------------------------------------------
// Scale

struct AutoCase {
  int iw, ih, ww, wh, denom;
};
class JpegAutoScale : public ::testing::TestWithParam<AutoCase> {};

TEST_P(JpegAutoScale, PicksTheClosestArea) {
  const AutoCase c = GetParam();
  EXPECT_EQ(JPegAutoScaleDenom(c.iw, c.ih, c.ww, c.wh), c.denom);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JpegAutoScale,
    ::testing::Values(AutoCase{1600, 1200, 400, 300, 4},    // A div 16 is exactly the asked area
                      AutoCase{1600, 1200, 0, 0, 1},        // nothing asked
                      AutoCase{1600, 1200, 800, 600, 2},    //
                      AutoCase{1600, 1200, 100, 75, 8},     // smaller than the smallest scale
                      AutoCase{1600, 1200, 3200, 2400, 1},  // larger than the image
                      AutoCase{40, 40, 25, 40, 1},  // 1000: 600 from both 1600 and 400, smaller i wins
                      AutoCase{60000, 60000, 60000, 60000, 1}));  // no 32-bit overflow

TEST(JpegScale, AutoCalcAndFixedScalesGiveTheLibrarySizes) {
  TBitmap src;
  FillPhoto(src, 1600, 1200);
  TIOParamsVals p;
  const std::vector<uint8_t> file = EncodeBytes(Codec::Jpeg, src, p);
  TIOParamsVals q;
  q.JPEG_Scale = ioJPEG_AUTOCALC;
  q.Width = 400;
  q.Height = 300;
  TBitmap bmp;
  DecodeBytes(Codec::Jpeg, file, bmp, q, true);
  EXPECT_EQ(q.Width, 400);
  EXPECT_EQ(q.Height, 300);
  EXPECT_TRUE(bmp.Empty()) << "ParamsOnly touched the bitmap";

  KORVANE_REQUIRE_SHARED(odd, "fixtures/jpg/odd_101x101_300dpi_pillow.jpg");
  const std::vector<uint8_t> bytes = FileBytes(odd);
  const std::pair<TIOJPEGScale, int> scales[] = {
      {ioJPEG_HALF, 51}, {ioJPEG_QUARTER, 26}, {ioJPEG_EIGHTH, 13}};
  for (auto [scale, side] : scales) {
    TIOParamsVals r;
    r.JPEG_Scale = scale;
    DecodeBytes(Codec::Jpeg, bytes, bmp, r);
    EXPECT_EQ(r.Width, side);
    EXPECT_EQ(r.Height, side);
    EXPECT_EQ(bmp.Width(), side);
    EXPECT_EQ(bmp.Height(), side);
  }
}

// ---------------------------------------------------------------------------
// Writer options

struct WriteCase {
  const char* name;
  TIOJPEGColorspace space;
  int quality;
  bool progressive, optimal;
  TIOJPEGDctMethod dct;
  int smooth;
  int tolerance;  // against the source picture
};
class JpegWriter : public ::testing::TestWithParam<WriteCase> {};

TEST_P(JpegWriter, ReloadsWithTheOptionsAndPixels) {
  const WriteCase c = GetParam();
  TBitmap src;
  FillPhoto(src, 67, 45);  // not a whole number of blocks
  TIOParamsVals p;
  p.JPEG_ColorSpace = c.space;
  p.JPEG_Quality = c.quality;
  p.JPEG_Progressive = c.progressive;
  p.JPEG_OptimalHuffman = c.optimal;
  p.JPEG_DCTMethod = c.dct;
  p.JPEG_Smooth = c.smooth;
  p.DpiX = 150;
  p.DpiY = 75;
  const std::vector<uint8_t> file = EncodeBytes(Codec::Jpeg, src, p);
  TIOParamsVals q;
  TBitmap bmp;
  DecodeBytes(Codec::Jpeg, file, bmp, q);
  EXPECT_EQ(q.JPEG_ColorSpace, c.space);
  EXPECT_EQ(q.JPEG_Progressive, c.progressive);
  if (c.space == ioJPEG_YCbCr || c.space == ioJPEG_GRAYLEV) {  // the color spaces with a JFIF header
    EXPECT_EQ(q.DpiX, 150);
    EXPECT_EQ(q.DpiY, 75);
  }
  ASSERT_EQ(bmp.Width(), 67);
  ASSERT_EQ(bmp.Height(), 45);
  if (c.space == ioJPEG_GRAYLEV) {
    // Gray files hold the luminance; every pixel comes back gray.
    for (int y = 0; y < 45; ++y)
      for (int x = 0; x < 67; ++x) {
        const TRGB v = reinterpret_cast<TRGB*>(bmp.Scanline(y))[x];
        const TRGB s = reinterpret_cast<TRGB*>(src.Scanline(y))[x];
        ASSERT_TRUE(v.r == v.g && v.g == v.b);
        EXPECT_NEAR(v.r, 0.299 * s.r + 0.587 * s.g + 0.114 * s.b, c.tolerance);
      }
  } else {
    EXPECT_LE(MaxDiff24(src, bmp), c.tolerance);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, JpegWriter,
    ::testing::Values(WriteCase{"ycbcr_q90", ioJPEG_YCbCr, 90, false, false, ioJPEG_ISLOW, 0, 40},
                      WriteCase{"ycbcr_q100_float", ioJPEG_YCbCr, 100, false, false, ioJPEG_FLOAT, 0, 12},
                      WriteCase{"progressive", ioJPEG_YCbCr, 90, true, false, ioJPEG_ISLOW, 0, 40},
                      WriteCase{"optimal_ifast", ioJPEG_YCbCr, 90, false, true, ioJPEG_IFAST, 0, 40},
                      WriteCase{"smoothed", ioJPEG_YCbCr, 90, false, false, ioJPEG_ISLOW, 50, 60},
                      WriteCase{"rgb", ioJPEG_RGB, 95, false, false, ioJPEG_ISLOW, 0, 12},
                      WriteCase{"gray", ioJPEG_GRAYLEV, 95, false, false, ioJPEG_ISLOW, 0, 6},
                      WriteCase{"gray_progressive", ioJPEG_GRAYLEV, 95, true, true, ioJPEG_ISLOW, 0, 6},
                      WriteCase{"cmyk", ioJPEG_CMYK, 100, false, false, ioJPEG_ISLOW, 0, 12},
                      WriteCase{"ycck_progressive", ioJPEG_YCbCrK, 100, true, false, ioJPEG_ISLOW, 0, 12}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JpegWriterOptions, QualityAndOptimalHuffmanChangeTheSize) {
  TBitmap src;
  FillPhoto(src, 160, 120);
  auto size = [&](int quality, bool optimal) {
    TIOParamsVals p;
    p.JPEG_Quality = quality;
    p.JPEG_OptimalHuffman = optimal;
    return EncodeBytes(Codec::Jpeg, src, p).size();
  };
  EXPECT_LT(size(10, false), size(60, false));
  EXPECT_LT(size(60, false), size(98, false));
  EXPECT_LT(size(60, true), size(60, false));
}

TEST(JpegStream, ReadStopsRightAfterTheImage) {
  // Containers hold more after a JPEG; the source gives back what it read ahead.
  TBitmap src;
  FillPhoto(src, 40, 30);
  TIOParamsVals p;
  const std::vector<uint8_t> file = EncodeBytes(Codec::Jpeg, src, p);
  TMemoryStream s;
  s.Write("xy", 2);
  s.Write(file.data(), int64_t(file.size()));
  s.Write("trailing data", 13);
  s.SetPosition(2);
  bool abort = false;
  TProgressRec pr;
  pr.Aborting = &abort;
  TBitmap bmp;
  ReadJPegStream(&s, &bmp, p, false, pr);
  EXPECT_EQ(s.Position(), int64_t(2 + file.size()));
}

TEST(JpegInterop, PillowDecodesEveryWrittenVariantLikeOurReader) {
  if (PillowPython().empty())
    GTEST_SKIP() << "Pillow/numpy missing (apt-get install python3-pil python3-numpy)";
  const std::string dir = ScratchDir("jpeg_interop");
  std::ofstream list(dir + "/list.txt");
  TBitmap src;
  FillPhoto(src, 83, 61);
  const TIOJPEGColorspace spaces[] = {ioJPEG_YCbCr, ioJPEG_RGB, ioJPEG_GRAYLEV, ioJPEG_CMYK, ioJPEG_YCbCrK};
  int n = 0;
  for (TIOJPEGColorspace space : spaces)
    for (bool progressive : {false, true}) {
      TIOParamsVals p;
      p.JPEG_ColorSpace = space;
      p.JPEG_Progressive = progressive;
      p.JPEG_OptimalHuffman = !progressive;
      p.JPEG_Quality = 85;
      const std::vector<uint8_t> file = EncodeBytes(Codec::Jpeg, src, p);
      TBitmap ours;
      DecodeBytes(Codec::Jpeg, file, ours, p);
      const std::string base = dir + "/v" + std::to_string(n++);
      WriteBytes(file, base + ".jpg");
      WritePPM(ours, base + ".ppm");
      list << base << ".jpg " << base << ".ppm 2\n";
    }
  list.close();
  int status;
  const std::string out = RunPillowCheck("any " + dir + "/list.txt", status);
  EXPECT_EQ(status, 0) << out;
  std::filesystem::remove_all(dir);
}

// ---------------------------------------------------------------------------
// Failures and hostile input

TEST(JpegHostile, NotAJpegRaisesAndLeavesTheBitmap) {
  const std::vector<std::vector<uint8_t>> inputs = {
      {}, {0x89, 'P', 'N', 'G'}, {0xFF, 0xD8}, {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x02, 0xFF, 0xD9}};
  for (const auto& in : inputs) {
    TBitmap bmp(3, 2, pf24bit);
    TIOParamsVals p;
    try {
      DecodeBytes(Codec::Jpeg, in, bmp, p);
      ADD_FAILURE() << "accepted " << in.size() << " bytes";
    } catch (const EInvalidGraphic& e) {
      EXPECT_TRUE(IsJpegError(e)) << e.what();
    }
    EXPECT_EQ(bmp.Width(), 3);
    EXPECT_EQ(bmp.Height(), 2);
  }
}

// The frame header's height and width fields of a baseline file.
size_t FindSof(const std::vector<uint8_t>& b) {
  for (size_t i = 2; i + 9 < b.size(); ++i)
    if (b[i] == 0xFF && (b[i + 1] == 0xC0 || b[i + 1] == 0xC2)) return i + 5;
  return 0;
}

TEST(JpegHostile, DeclaredSizeBeyondTheDataIsRefusedBeforeAllocating) {
  TBitmap src;
  FillPhoto(src, 16, 16);
  TIOParamsVals p;
  std::vector<uint8_t> file = EncodeBytes(Codec::Jpeg, src, p);
  const size_t sof = FindSof(file);
  ASSERT_GT(sof, 0u);
  // 30000 x 30000: 2.7 GB of bitmap from a file of a few hundred bytes.
  file[sof] = 0x75, file[sof + 1] = 0x30, file[sof + 2] = 0x75, file[sof + 3] = 0x30;
  TBitmap bmp(3, 2, pf24bit);
  TIOParamsVals q;
  try {
    DecodeBytes(Codec::Jpeg, file, bmp, q);
    ADD_FAILURE() << "accepted";
  } catch (const EInvalidGraphic& e) {
    EXPECT_TRUE(IsJpegError(e)) << e.what();
  }
  EXPECT_EQ(bmp.Width(), 3);
}

TEST(JpegHostile, TruncationsAndDamageLoadPartlyOrRaise) {
  int files = 0;
  for (const char* rel : {"fixtures/jpg/progressive_80x60_cjpeg.jpg", "fixtures/jpg/cmyk_ycck_64x48_im.jpg",
                          "fixtures/jpg/ycbcr422_120x90_72dpi_pillow.jpg"}) {
    const std::string path = SharedFile(rel);
    if (path.empty()) continue;
    ++files;
    const std::vector<uint8_t> full = FileBytes(path);
    unsigned seed = 7;
    for (size_t cut = 0; cut < full.size(); cut += 1 + cut / 8) {
      for (int damaged = 0; damaged < 2; ++damaged) {
        std::vector<uint8_t> part(full.begin(), full.begin() + ptrdiff_t(cut));
        if (damaged)
          for (size_t i = 20; i < part.size(); i += 17)
            part[i] ^= uint8_t(seed = seed * 1103515245u + 12345u);
        TBitmap bmp;
        TIOParamsVals p;
        try {
          DecodeBytes(Codec::Jpeg, part, bmp, p);
          EXPECT_EQ(bmp.Width(), p.Width);
        } catch (const EInvalidGraphic& e) {
          EXPECT_TRUE(IsJpegError(e)) << e.what();
        }
      }
    }
  }
  if (files == 0) GTEST_SKIP() << "shared fixtures missing";
}

// A stream whose reads fail after some bytes, as a broken file or network
// source would.
class FailingStream : public TMemoryStream {
 public:
  int64_t budget = 0;
  int64_t Read(void* buffer, int64_t count) override {
    if (budget <= 0) throw EReadError("disk gone");
    const int64_t n = TMemoryStream::Read(buffer, std::min(count, budget));
    budget -= n;
    return n;
  }
};

TEST(JpegHostile, StreamErrorsPassThroughAndReleaseTheDecoder) {
  TBitmap src;
  FillPhoto(src, 300, 200);
  TIOParamsVals p;
  p.JPEG_Progressive = true;
  const std::vector<uint8_t> file = EncodeBytes(Codec::Jpeg, src, p);
  for (int64_t budget : {int64_t(0), int64_t(100), int64_t(file.size() / 2)}) {
    FailingStream s;
    s.SetData(file.data(), file.size());
    s.budget = budget;
    TBitmap bmp;
    TIOParamsVals q;
    bool abort = false;
    TProgressRec pr;
    pr.Aborting = &abort;
    // The stream's own exception arrives; the leak checker sees the rest.
    EXPECT_THROW(ReadJPegStream(&s, &bmp, q, false, pr), EReadError) << budget;
  }
}

TEST(JpegProgress, ReachesHundredAndAbortKeepsTheRowsRead) {
  TBitmap src;
  FillPhoto(src, 64, 96);
  TIOParamsVals p;
  const std::vector<uint8_t> file = EncodeBytes(Codec::Jpeg, src, p);
  TMemoryStream s;
  s.SetData(file.data(), file.size());
  bool abort = false;
  std::vector<int> seen;
  TProgressRec pr;
  pr.Aborting = &abort;
  pr.OnProgress = [&](TObject*, int per) { seen.push_back(per); };
  TBitmap bmp;
  ReadJPegStream(&s, &bmp, p, false, pr);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 100);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));

  s.SetPosition(0);
  seen.clear();
  pr.OnProgress = [&](TObject*, int per) {
    seen.push_back(per);
    abort = per >= 25;
  };
  TBitmap part;
  ReadJPegStream(&s, &part, p, false, pr);  // no exception
  EXPECT_EQ(part.Height(), 96);
  EXPECT_LT(seen.back(), 50);
  EXPECT_EQ(Pixel24(part, 10, 95), 0u) << "rows after the abort were decoded";
  EXPECT_NE(Pixel24(part, 10, 2), 0u);
}

}  // namespace
