// The example programs run headless as a user would run them, and their
// results are checked: the viewer's zoomed, selected window, the
// thumbnailer's sizes and colours (and its report of a bad file), and the
// scanning program's multi-page TIFF from SANE's test scanner.
#include <gtest/gtest.h>

#if defined(KV_EXAMPLE_VIEWER) && defined(KV_EXAMPLE_THUMBNAILER) && defined(KV_EXAMPLE_SCAN)

#include <QImage>
#include <QTemporaryDir>
#include <fstream>

#include "korvane/io/kvio.h"
#include "korvane/multi/kvmio.h"
#include "tests/acquire/sane_support.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

// Sanitizer reports exit with codes of their own, never taken for the
// program's own answer.
test::ProcessRun Example(const char* program, const QStringList& args, bool leakCheck = true) {
  return test::RunProcess(
      program, args,
      {leakCheck ? "ASAN_OPTIONS=detect_leaks=1:exitcode=86" : "ASAN_OPTIONS=detect_leaks=0:exitcode=86",
       "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=87",
       "SANE_CONFIG_DIR=" + QString::fromStdString(test::SaneConfigDir()), "KORVANE_TWAIN_DSM=sane"});
}

// A picture in four flat quadrants: red, green, blue, white.
void SaveQuadrants(const std::string& path, int w, int h) {
  TBitmap bmp(w, h, pf24bit);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = bmp.Scanline(y);
    for (int x = 0; x < w; ++x) {
      const int q = (y >= h / 2) * 2 + (x >= w / 2);
      const uint8_t bgr[4][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}};
      std::copy(bgr[q], bgr[q] + 3, row + x * 3);
    }
  }
  TKorvaneIO io;
  io.SetAttachedBitmap(&bmp);
  io.SaveToFile(path);
}

class Examples : public ::testing::Test {
 protected:
  std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }
  QString QPath(const char* name) const { return dir_.filePath(name); }
  QTemporaryDir dir_;
};

}  // namespace

TEST_F(Examples, ViewerZoomsAndSelects) {
  SaveQuadrants(Path("q.bmp"), 400, 300);
  test::ProcessRun r = Example(KV_EXAMPLE_VIEWER, {QPath("q.bmp"), "--screenshot", QPath("shot.png")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("200%"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("selection 5,5 to 30,20"), std::string::npos) << r.out;
  QImage shot(QPath("shot.png"));
  ASSERT_FALSE(shot.isNull());
  // At 200 % the window shows the top-left 320x240 or less of the picture:
  // red at the top left, green past x = 200 (screen 400), blue below y = 150.
  EXPECT_EQ(shot.pixel(6, 6) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(shot.pixel(450, 100) & 0xFFFFFF, 0x00FF00u);
  EXPECT_EQ(shot.pixel(100, 330) & 0xFFFFFF, 0x0000FFu);

  EXPECT_EQ(Example(KV_EXAMPLE_VIEWER, {QPath("missing.bmp"), "--screenshot", QPath("x.png")}).code, 1);
}

TEST_F(Examples, ThumbnailerShrinksKeepsAspectAndReportsBadFiles) {
  SaveQuadrants(Path("big.bmp"), 400, 300);
  SaveQuadrants(Path("small.bmp"), 50, 80);
  std::ofstream(Path("bad.png")) << "not a picture";
  QDir(dir_.path()).mkdir("out");
  test::ProcessRun r = Example(KV_EXAMPLE_THUMBNAILER,
                               {QPath("out"), "100", QPath("big.bmp"), QPath("bad.png"), QPath("small.bmp")});
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_NE(r.err.find("bad.png"), std::string::npos) << r.err;

  QImage big(QPath("out/big.jpg")), small(QPath("out/small.jpg"));
  ASSERT_EQ(big.size(), QSize(100, 75));
  ASSERT_EQ(small.size(), QSize(50, 80));  // never enlarged
  EXPECT_FALSE(QFile::exists(QPath("out/bad.jpg")));
  // The quadrants survive the Lanczos filter and the JPEG coding.
  EXPECT_GT(qRed(big.pixel(10, 10)), 200);
  EXPECT_LT(qGreen(big.pixel(10, 10)), 60);
  EXPECT_GT(qBlue(big.pixel(20, 60)), 200);
  EXPECT_GT(qGreen(big.pixel(90, 10)), 200);
}

TEST_F(Examples, ScanWritesEveryFeederPageToOneTiff) {
  if (!test::HaveLibSane()) GTEST_SKIP() << "libsane1 is not installed";
  test::ProcessRun r = Example(KV_EXAMPLE_SCAN, {QPath("scan.tif"), "--mode", "bw", "--dpi", "50"}, false);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("10 pages written"), std::string::npos) << r.out;

  TKorvaneMView view(nullptr);
  TKorvaneMIO mio;
  mio.SetAttachedMView(&view);
  mio.LoadFromFileTIFF(Path("scan.tif"));
  ASSERT_EQ(view.GetImageCount(), 10);
  for (int i : {0, 9}) {
    EXPECT_EQ(mio.GetParams(i)->TIFF_Compression, ioTIFF_G4FAX) << i;
    TBitmap* page = view.GetBitmap(i);
    EXPECT_EQ(page->PixelFormat(), pf1bit) << i;
    EXPECT_GT(page->Width(), 100) << i;
    view.ReleaseBitmap(i);
  }
  EXPECT_EQ(Example(KV_EXAMPLE_SCAN, {QPath("x.tif"), "--mode", "sepia"}).code, 2);
}

#endif
