// BMP, ICO, CUR and PCX readers against the shared corpus: every manifest
// case (parameters, reference pixels, errors of hostile files), the public
// BMP suite and icon files, and truncations of every fixture.
#include <gtest/gtest.h>

#include <filesystem>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/codecs/bmp/bmp_codec.h"
#include "korvane/io/codecs/pcx/pcx_codec.h"
#include "tests/codec_bmp/codec_test_util.h"
#include "tests/fixture_manifest.h"
#include "tests/test_support.h"

using namespace korvane;
using namespace korvane::test;

namespace {

std::vector<FixtureCase> MyCases() {
  std::vector<FixtureCase> out;
  for (const FixtureCase& c : FixtureCases("")) {
    const std::string& codec = c.format == "hostile" ? c.codec : c.format;
    if (codec == "bmp" || codec == "ico" || codec == "cur" || codec == "pcx") out.push_back(c);
  }
  return out;
}

class Manifest : public testing::TestWithParam<FixtureCase> {};

TEST_P(Manifest, LoadsAsExpected) {
  FixtureCase c = GetParam();
  const std::string codec = c.format == "hostile" ? c.codec : c.format;
  TMemoryStream ms;
  ms.LoadFromFile(c.path);
  TBitmap bmp;
  TIOParamsVals p;
  std::string error;
  try {
    LoadWith(codec, ms, bmp, p, c.index);
  } catch (const EInvalidGraphic& e) {
    error = e.what();
  }
  if (c.noCrash) return;  // an error or an image: both fine, the sanitizers watch the rest
  if (c.error) {
    EXPECT_EQ(error, "unrecognized " + Upper(codec));
    return;
  }
  ASSERT_EQ(error, "");
  // Icon images deeper than 8 bits load their color pixels here, so they
  // report 8 bits and 3 samples where the manifest has the stored depth.
  if ((codec == "ico" || codec == "cur") && c.reference.empty()) {
    for (auto& [name, want] : c.params) {
      if (name == "BitsPerSample") want = "8";
      if (name == "SamplesPerPixel") want = "3";
    }
  }
  EXPECT_EQ(ParamMismatches(c, p), "");
  if (c.width >= 0) {
    EXPECT_EQ(bmp.Width(), c.width);
  }
  if (c.height >= 0) {
    EXPECT_EQ(bmp.Height(), c.height);
  }
  EXPECT_EQ(BitmapMismatch(c, bmp), "");
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Manifest, testing::ValuesIn(MyCases()),
                         [](const testing::TestParamInfo<FixtureCase>& i) { return i.param.Name(); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Manifest);

// Every file of the public BMP suite and every image of the icon files
// loads, at the size its header gives (124..127 x 61..64 in the suite).
TEST(Suites, BmpSuiteAndIconsLoad) {
  const std::string dir = SharedDir() + "/suites/oiio-images/bmpsuite";
  if (SharedDir().empty() || !std::filesystem::exists(dir)) GTEST_SKIP() << "BMP suite missing: " << dir;
  int loaded = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.path().extension() != ".bmp") continue;
    SCOPED_TRACE(e.path().string());
    TMemoryStream ms;
    ms.LoadFromFile(e.path().string());
    TBitmap bmp;
    TIOParamsVals p;
    ASSERT_NO_THROW(LoadWith("bmp", ms, bmp, p, 0));
    EXPECT_EQ(bmp.Width() - bmp.Height(), 63);
    EXPECT_GE(bmp.Width(), 124);
    ++loaded;
  }
  EXPECT_GE(loaded, 25);

  const std::string ico = SharedDir() + "/suites/oiio-images/ico/oiio.ico";
  if (!std::filesystem::exists(ico)) GTEST_SKIP() << "icon file missing: " << ico;
  TMemoryStream ms;
  ms.LoadFromFile(ico);
  ASSERT_TRUE(ICOTryStream(&ms));
  const int count = ms.Memory()[4] | (ms.Memory()[5] << 8);
  for (int i = 0; i < count; ++i) {
    TBitmap bmp;
    TIOParamsVals p;
    ms.SetPosition(0);
    ASSERT_NO_THROW(LoadWith("ico", ms, bmp, p, i)) << "image " << i;
    EXPECT_GT(bmp.Width(), 0);
  }
}

// Each fixture cut at many points: either an error with the format's
// message or an image, never a crash or a read past the data.
TEST(Hostile, TruncatedFixtures) {
  std::vector<FixtureCase> cases = MyCases();
  if (cases.empty()) GTEST_SKIP() << "fixture manifest missing";
  for (const FixtureCase& c : cases) {
    const std::string codec = c.format == "hostile" ? c.codec : c.format;
    TMemoryStream full;
    full.LoadFromFile(c.path);
    const int64_t n = full.Size();
    for (int64_t cut = 0; cut < n; cut += std::max<int64_t>(1, n / 37)) {
      TMemoryStream ms;
      ms.SetData(full.Memory(), size_t(cut));
      TBitmap bmp;
      TIOParamsVals p;
      try {
        LoadWith(codec, ms, bmp, p, c.index);
      } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(std::string(e.what()), "unrecognized " + Upper(codec)) << c.file << " cut at " << cut;
      }
    }
  }
}

}  // namespace
