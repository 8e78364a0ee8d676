// The shared corpus through the JPEG and PNG readers: every manifest case of
// the two formats (and the hostile files they own) with its parameters and
// reference pixels, and PngSuite: corrupt files fail cleanly, the rest match
// Pillow's decoding under the library's rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/winsys.h"
#include "tests/codec_jpng/jpng_support.h"
#include "tests/fixture_manifest.h"
#include "tests/test_support.h"

using namespace korvane;
using namespace korvane::test;

namespace {

std::vector<FixtureCase> JpngCases() {
  std::vector<FixtureCase> out;
  for (FixtureCase& c : FixtureCases("")) {
    const std::string& f = c.format == "hostile" ? c.codec : c.format;
    if (f == "jpg" || f == "png") out.push_back(c);
  }
  if (out.empty()) out.emplace_back();  // keeps the suite instantiated; the case skips
  return out;
}

// Density unit of the JFIF header (0 when there is none).
int JfifUnit(const std::vector<uint8_t>& b) {
  static const char kTag[] = "JFIF";
  auto it = std::search(b.begin(), b.begin() + std::min<size_t>(b.size(), 64), kTag, kTag + 5);
  return it != b.begin() + std::min<size_t>(b.size(), 64) && it + 8 <= b.end() ? it[7] : 0;
}

class JpngFixture : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(JpngFixture, LoadsAsTheManifestSays) {
  FixtureCase c = GetParam();
  if (c.file.empty()) GTEST_SKIP() << "fixture manifest missing (../shared/fixtures)";
  const bool jpeg = (c.format == "hostile" ? c.codec : c.format) == "jpg";
  const Codec codec = jpeg ? Codec::Jpeg : Codec::Png;
  const std::vector<uint8_t> bytes = FileBytes(c.path);
  ASSERT_FALSE(bytes.empty()) << c.path;
  TIOParamsVals p;
  TBitmap bmp;
  if (c.error) {
    try {
      DecodeBytes(codec, bytes, bmp, p);
      ADD_FAILURE() << "no error";
    } catch (const EInvalidGraphic& e) {
      if (jpeg)
        EXPECT_EQ(std::string(e.what()).rfind("Unrecognized JPeg - JPEG error #", 0), 0u) << e.what();
      else
        EXPECT_STREQ(e.what(), "Unrecognized PNG");
    }
    return;
  }
  if (c.noCrash) {
    try {
      DecodeBytes(codec, bytes, bmp, p);
    } catch (const EInvalidGraphic&) {
    }
    return;
  }
  DecodeBytes(codec, bytes, bmp, p);
  EXPECT_EQ(bmp.Width(), c.width);
  EXPECT_EQ(bmp.Height(), c.height);
  EXPECT_EQ(bmp.PixelFormat(), c.pixelFormat == 1 ? pf1bit : pf24bit);
  // A JFIF density unit 0 is an aspect ratio, not a resolution: the reader
  // gives the system's DPI there, where the manifest lists the stored values.
  if (jpeg && JfifUnit(bytes) == 0) {
    std::erase_if(c.params, [](auto& kv) { return kv.first == "DpiX" || kv.first == "DpiY"; });
    EXPECT_EQ(p.DpiX, GetScreenDPI());
    EXPECT_EQ(p.DpiY, GetScreenDPIY());
  }
  EXPECT_EQ(ParamMismatches(c, p), "");
  EXPECT_EQ(BitmapMismatch(c, bmp), "");
}

INSTANTIATE_TEST_SUITE_P(Manifest, JpngFixture, ::testing::ValuesIn(JpngCases()), [](const auto& info) {
  return info.param.file.empty() ? "none" : info.param.Name();
});

TEST(PngSuite, CorruptFilesFailAndTheRestMatchPillow) {
  KORVANE_REQUIRE_SHARED(dir, "suites/pngsuite/png");
  std::vector<std::filesystem::path> files;
  for (auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".png") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  ASSERT_GT(files.size(), 150u);
  const std::string scratch = ScratchDir("pngsuite");
  std::ofstream list(scratch + "/list.txt");
  int good = 0;
  for (const auto& f : files) {
    const std::string name = f.filename().string();
    const std::vector<uint8_t> bytes = FileBytes(f.string());
    TIOParamsVals p;
    TBitmap bmp;
    if (name[0] == 'x') {
      EXPECT_THROW(DecodeBytes(Codec::Png, bytes, bmp, p), EInvalidGraphic) << name;
      continue;
    }
    try {
      DecodeBytes(Codec::Png, bytes, bmp, p);
    } catch (const EInvalidGraphic& e) {
      ADD_FAILURE() << name << ": " << e.what();
      continue;
    }
    // Size and depth as the IHDR chunk states them.
    const uint32_t w = uint32_t(bytes[16]) << 24 | bytes[17] << 16 | bytes[18] << 8 | bytes[19];
    const uint32_t h = uint32_t(bytes[20]) << 24 | bytes[21] << 16 | bytes[22] << 8 | bytes[23];
    EXPECT_EQ(uint32_t(bmp.Width()), w) << name;
    EXPECT_EQ(uint32_t(bmp.Height()), h) << name;
    EXPECT_EQ(p.BitsPerSample, bytes[24]) << name;
    const std::string ppm = scratch + "/" + name + ".ppm";
    WritePPM(bmp, ppm);
    list << f.string() << " " << ppm << " 0\n";
    ++good;
  }
  list.close();
  EXPECT_GT(good, 140);
  if (PillowPython().empty())
    GTEST_SKIP() << "Pillow/numpy missing (apt-get install python3-pil python3-numpy)";
  int status;
  const std::string out = RunPillowCheck("png " + scratch + "/list.txt", status);
  EXPECT_EQ(status, 0) << out;
  std::filesystem::remove_all(scratch);
}

}  // namespace
