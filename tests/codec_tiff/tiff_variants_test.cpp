// TIFF variants other programs write, made at test time from one picture by
// ImageMagick (16-bit, narrow gray, alpha, CMYK) and libtiff's tiffcp
// (Deflate, predictors, tiles, planes, BigTIFF, JPEG, byte order), read here
// and compared with ImageMagick's decode of the same file: exactly for
// lossless data, within 2 levels for JPEG. Skipped when the peers are missing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/codecs/unsupported.h"
#include "tests/codec_tiff/tiff_test_util.h"
#include "tests/test_support.h"

namespace korvane {
namespace {

using namespace korvane::test;

constexpr int kW = 37, kH = 23;  // odd sizes: tiles and subsampled blocks overhang

// The source picture: 16-bit RGB with every channel varying, so that
// reductions and predictors see carries.
void WriteSourcePpm(const std::string& file) {
  std::ofstream f(file, std::ios::binary);
  f << "P6 " << kW << " " << kH << " 65535\n";
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 3; ++c) {
        const unsigned v = (x * 1777u + y * 3313u + c * 9001u + x * y * 77u) % 65536u;
        f.put(char(v >> 8)).put(char(v));
      }
}

std::vector<uint8_t> ReadAll(const std::string& file) {
  std::ifstream f(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// ImageMagick options that turn the source into each starting page.
struct Source {
  const char* name;
  const char* convert;
};
const Source kSources[] = {
    {"rgb8", "-depth 8"},
    {"rgb16", "-depth 16"},
    {"gray8", "-colorspace Gray -depth 8"},
    {"gray16", "-colorspace Gray -depth 16"},
    {"gray4", "-colorspace Gray -depth 4"},
    {"gray2", "-colorspace Gray -depth 2"},
    {"rgba8", "-alpha set -channel A -fx '(i*7+j*13)%256/255' +channel -depth 8"},
    // tiffcp moves only 8-bit samples between planes and pixels: ImageMagick
    // writes the 16-bit planes.
    {"rgb16planes", "-depth 16 -interlace plane"},
    {"rgba16planes", "-alpha set -channel A -fx '(i*7+j*13)%256/255' +channel -depth 16 -interlace plane"},
    {"graya8", "-colorspace Gray -alpha set -channel A -fx '(i*5+j*11)%256/255' +channel -depth 8"},
    {"cmyk8", "-colorspace CMYK -depth 8"},
};

struct Variant {
  const char* name;
  const char* source;
  const char* tiffcp;  // options of tiffcp from the starting page to the variant
  int tolerance;
};

const Variant kVariants[] = {
    {"Deflate", "rgb8", "-c zip", 0},
    {"DeflatePredictor", "rgb8", "-c zip:2 -r 5", 0},
    {"LzwPredictorTiles", "rgb8", "-c lzw:2 -t -w 16 -l 16", 0},
    {"DeflateTiles", "rgb8", "-c zip -t -w 16 -l 32", 0},
    {"DeflatePlanes", "rgb8", "-c zip:2 -p separate -r 5", 0},
    {"PackBitsPlanarTiles", "rgb8", "-c packbits -p separate -t -w 16 -l 16", 0},
    {"BigTiffDeflate", "rgb8", "-8 -c zip -r 7", 0},
    {"BigTiffBigEndianTiles", "rgb8", "-8 -B -c none -t -w 16 -l 16", 0},
    {"JpegYCbCr", "rgb8", "-c jpeg -r 16", 2},
    {"JpegRgb", "rgb8", "-c jpeg:r -r 8", 2},
    {"JpegYCbCrTiles", "rgb8", "-c jpeg -t -w 16 -l 16", 2},
    {"JpegGray", "gray8", "-c jpeg", 2},
    {"Rgb16BigEndian", "rgb16", "-B -c none", 0},
    {"Rgb16DeflatePredictor", "rgb16", "-c zip:2", 0},
    {"Rgb16LzwPlanarTiles", "rgb16planes", "-B -c lzw:2 -t -w 16 -l 16", 0},
    {"Gray16DeflatePredictorBigEndian", "gray16", "-B -c zip:2 -r 3", 0},
    {"Gray4Deflate", "gray4", "-c zip", 0},
    {"Gray2PackBitsTiles", "gray2", "-c packbits -t -w 16 -l 16", 0},
    {"RgbaDeflatePredictor", "rgba8", "-c zip:2", 0},
    {"RgbaLzwPlanes", "rgba8", "-c lzw -p separate", 0},
    {"Rgba16Planes", "rgba16planes", "-c zip", 0},
    {"GrayAlphaTiles", "graya8", "-c zip -t -w 16 -l 16", 0},
    {"CmykDeflateTiles", "cmyk8", "-c zip -t -w 16 -l 16", 0},
    {"CmykPlanes", "cmyk8", "-c none -p separate", 0},
};

class TiffVariant : public ::testing::TestWithParam<Variant> {};

TEST_P(TiffVariant, MatchesImageMagicksDecode) {
  const Variant& v = GetParam();
  if (!OnPath("tiffcp") || !OnPath("convert")) GTEST_SKIP() << "tiffcp or ImageMagick's convert is missing";
  const std::string dir = testing::TempDir() + "/kv_tiff_variants";
  std::filesystem::create_directories(dir);
  const std::string ppm = dir + "/source.ppm", start = dir + "/" + v.source + ".tif",
                    file = dir + "/" + v.name + ".tif", ref = dir + "/" + v.name + ".raw";
  if (!std::filesystem::exists(ppm)) WriteSourcePpm(ppm);
  const char* options = nullptr;
  for (const Source& s : kSources)
    if (std::string(s.name) == v.source) options = s.convert;
  ASSERT_NE(options, nullptr);
  RunCommand("convert " + ppm + " " + options + " -compress none " + start);
  ASSERT_EQ(RunCommand(std::string("tiffcp ") + v.tiffcp + " " + start + " " + file), "");
  // The peer's decode at 16 bits a sample (8-bit samples come out as
  // v x 257), reduced here as 16-bit pages are: v x 255 / 65535 rounded;
  // CMYK as its inks, anything else as RGBA.
  const bool cmyk = std::string(v.source) == "cmyk8";
  RunCommand("convert " + file + " -depth 16 -endian MSB " + (cmyk ? "cmyk:" : "rgba:") + ref);
  const std::vector<uint8_t> raw = ReadAll(ref);
  ASSERT_EQ(raw.size(), size_t(kW) * kH * 8) << "ImageMagick did not decode " << file;
  std::vector<uint8_t> theirs(raw.size() / 2);
  for (size_t i = 0; i < theirs.size(); ++i)
    theirs[i] = uint8_t(((raw[2 * i] << 8 | raw[2 * i + 1]) * 255u + 32767u) / 65535u);

  TIOParamsVals p;
  InstallTiffCoders(p);
  p.PNG_Background = TRGB{255, 255, 255};  // alpha shows through to white
  TBitmap bmp;
  TFileStream f(file, fmOpenRead);
  int32_t pages = 0;
  TIFFReadStream(&bmp, &f, pages, false, nullpr, &p);
  ASSERT_EQ(bmp.Width(), kW);
  ASSERT_EQ(bmp.Height(), kH);
  ASSERT_EQ(bmp.PixelFormat(), pf24bit);

  int worst = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const uint8_t* s = theirs.data() + (size_t(y) * kW + x) * 4;
      int want[3];
      if (cmyk) {
        for (int c = 0; c < 3; ++c) want[c] = (255 - s[c]) * (255 - s[3]) / 255;
      } else {
        // Unassociated alpha over white, rounded.
        for (int c = 0; c < 3; ++c) want[c] = (s[c] * s[3] + 255 * (255 - s[3]) + 127) / 255;
      }
      const unsigned got = Pixel24(bmp, x, y);
      const int have[3] = {int(got >> 16), int(got >> 8 & 0xFF), int(got & 0xFF)};
      for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(have[c] - want[c]));
    }
  EXPECT_LE(worst, v.tolerance) << v.name;
}

INSTANTIATE_TEST_SUITE_P(Peers, TiffVariant, ::testing::ValuesIn(kVariants),
                         [](const auto& i) { return std::string(i.param.name); });

// Pages that stay undecoded name the reason; BigTIFF files are read, never
// edited in place.
TEST(TiffVariantLimits, UndecodedAndReadOnlyCases) {
  {
    TiffBuilder t;
    const uint32_t px = t.Append(std::vector<uint8_t>(64, 1));
    t.Long(256, {8}), t.Long(257, {8}), t.Short(258, {8}), t.Short(259, {34925}), t.Short(262, {1});
    t.Long(273, {px}), t.Long(279, {64});
    t.Finish();
    TIOParamsVals p;
    TBitmap bmp;
    try {
      ReadTiffBytes(t.data, bmp, p);
      ADD_FAILURE() << "LZMA page loaded";
    } catch (const EUnsupportedImage& e) {
      EXPECT_STREQ(e.what(), "TIFF compression 34925 is not supported");
    }
  }
  if (!OnPath("tiffcp")) GTEST_SKIP() << "tiffcp is missing";
  const std::string dir = testing::TempDir() + "/kv_tiff_variants";
  std::filesystem::create_directories(dir);
  TBitmap src;
  FillPattern24(src, 20, 10, 4);
  TIOParamsVals p;
  {
    TFileStream f(dir + "/classic.tif", fmCreate);
    TIFFWriteStream(&f, false, &src, p, nullpr);
  }
  ASSERT_EQ(RunCommand("tiffcp -8 " + dir + "/classic.tif " + dir + "/classic.tif " + dir + "/big.tif"), "");
  const std::vector<uint8_t> before = ReadAll(dir + "/big.tif");
  {
    TFileStream f(dir + "/big.tif", fmOpenReadWrite);
    EXPECT_EQ(_EnumTIFFImStream(&f), 2);
    f.SetPosition(0);
    EXPECT_THROW(_DeleteTIFFImStream(&f, 0), EUnsupportedImage);
    f.SetPosition(0);
    EXPECT_THROW(TIFFWriteStream(&f, true, &src, p, nullpr), EUnsupportedImage);
  }
  EXPECT_EQ(ReadAll(dir + "/big.tif"), before);
}

}  // namespace
}  // namespace korvane
