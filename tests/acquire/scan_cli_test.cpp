// korvane sources and korvane scan run end to end over SANE's test backend:
// the devices listed, a scan written with the size, resolution and pixels
// of the same acquisition made in process, one file per feeder page, and
// the errors of a bad command line or an unknown source.
#include <gtest/gtest.h>

#ifdef KORVANE_CLI

#include <QDir>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "korvane/acquire/twain.h"
#include "korvane/io/kvio.h"
#include "tests/acquire/sane_support.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

// The test backend leaks a few strings of its own until the process ends,
// so the program runs with the address checks but without the leak check.
test::ProcessRun Tool(const QStringList& args, const std::string& saneConfig = test::SaneConfigDir()) {
  return test::RunProcess(
      KORVANE_CLI, args,
      {"ASAN_OPTIONS=detect_leaks=0:exitcode=86", "SANE_CONFIG_DIR=" + QString::fromStdString(saneConfig),
       "KORVANE_TWAIN_DSM=sane"});
}

class ScanCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveLibSane()) GTEST_SKIP() << "libsane1 is not installed";
    setenv("SANE_CONFIG_DIR", test::SaneConfigDir().c_str(), 1);
    setenv("KORVANE_TWAIN_DSM", "sane", 1);
    TKVTWainParams tp;
    if (tp.GetSourceCount() == 0) GTEST_SKIP() << "SANE's test backend is not installed";
    ASSERT_TRUE(dir.isValid());
  }
  void TearDown() override { unsetenv("KORVANE_TWAIN_DSM"); }
  QString Path(const char* name) const { return dir.filePath(name); }
  QTemporaryDir dir;
};

}  // namespace

TEST_F(ScanCli, SourcesListsTheDevices) {
  const test::ProcessRun r = Tool({"sources"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "test:0\tNoname\tfrontend-tester\ntest:1\tNoname\tfrontend-tester\n");
}

// Colour pages go to a BMP strip by strip, gray and line-art ones are
// gathered first.
TEST_F(ScanCli, ScanWritesTheImageTheSourceGives) {
  for (auto [mode, type] : {std::pair{"color", TWPT_RGB}, {"gray", TWPT_GRAY}, {"bw", TWPT_BW}}) {
    const test::ProcessRun r = Tool({"scan", Path("a.bmp"), "--source", "TEST:1", "--dpi", "75", "--mode",
                                     mode, "--area", "0,0,2,1", "--quiet"});
    ASSERT_EQ(r.code, 0) << r.err;
    TBitmap saved;
    TKorvaneIO io;
    io.SetAttachedBitmap(&saved);
    io.LoadFromFile(Path("a.bmp").toStdString());
    ASSERT_EQ(saved.Width(), 150);
    ASSERT_EQ(saved.Height(), 75);
    EXPECT_EQ(io.Params()->DpiX, 75);
    EXPECT_EQ(io.Params()->SamplesPerPixel, type == TWPT_RGB ? 3 : 1) << mode;
    // The same scan in process.
    TBitmap direct;
    TKorvaneIO dio;
    dio.SetAttachedBitmap(&direct);
    TKVTWainParams& tp = *dio.TWainParams();
    ASSERT_TRUE(tp.SelectSourceByName("test:1"));
    tp.SetVisibleDialog(false);
    tp.GetPixelType()->SetCurrentValue(type);
    tp.GetXResolution()->SetCurrentValue(75);
    tp.GetYResolution()->SetCurrentValue(75);
    for (int i = 0; i < 4; ++i) tp.SetAcquireFrame(i, i == 2 ? 2 : i == 3 ? 1 : 0);
    ASSERT_TRUE(dio.Acquire());
    EXPECT_TRUE(test::SamePixels(saved, direct)) << mode;
  }
}

// A device that fails in the middle of the scan fails it: no black page
// replaces the file already there, and no side file is left.
TEST_F(ScanCli, DeviceErrorKeepsTheFileThere) {
  const std::string conf = dir.filePath("sane").toStdString();
  std::filesystem::create_directories(conf);
  std::ifstream in(test::SaneConfigDir() + "/test.conf");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string from = "read-status-code \"Default\"";
  ASSERT_NE(text.find(from), std::string::npos);
  text.replace(text.find(from), from.size(), "read-status-code \"SANE_STATUS_IO_ERROR\"");
  std::ofstream(conf + "/test.conf") << text;
  std::ofstream(conf + "/dll.conf") << "test\n";
  std::ofstream(Path("keep.bmp").toStdString()) << "old";
  for (const char* mode : {"color", "gray", "bw"}) {
    const test::ProcessRun r = Tool({"scan", Path("keep.bmp"), "--mode", mode, "--quiet"}, conf);
    EXPECT_EQ(r.code, 1) << mode << r.err;
    std::ifstream kept(Path("keep.bmp").toStdString());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), std::istreambuf_iterator<char>()), "old")
        << mode;
  }
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"keep.bmp"});
}

TEST_F(ScanCli, FeederWritesOneNumberedFilePerPage) {
  const test::ProcessRun r =
      Tool({"scan", Path("page.png"), "--adf", "--dpi", "50", "--mode", "bw", "--area", "0,0,1,0.5"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("10 pages scanned"), std::string::npos) << r.err;
  for (int i = 1; i <= 10; ++i) {
    TBitmap b;
    TKorvaneIO io;
    io.SetAttachedBitmap(&b);
    io.LoadFromFile(Path(("page" + std::to_string(i) + ".png").c_str()).toStdString());
    EXPECT_EQ(b.Width(), 50) << i;
    EXPECT_EQ(b.Height(), 25) << i;
    EXPECT_EQ(b.PixelFormat(), pf1bit) << i;
  }
  EXPECT_FALSE(QFile::exists(Path("page11.png")));
}

TEST_F(ScanCli, BadArgumentsAndUnknownSourcesFail) {
  EXPECT_EQ(Tool({"scan", Path("x.bmp"), "--mode", "sepia"}).code, 2);
  EXPECT_EQ(Tool({"scan", Path("x.bmp"), "--area", "2,0,1,1"}).code, 2);
  EXPECT_EQ(Tool({"scan"}).code, 2);
  const test::ProcessRun r = Tool({"scan", Path("x.bmp"), "--source", "nosuch"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.rfind("korvane: no source named 'nosuch'", 0), 0u) << r.err;
  EXPECT_FALSE(QFile::exists(Path("x.bmp")));
}

#endif  // KORVANE_CLI
