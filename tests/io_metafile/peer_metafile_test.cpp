// Metafiles written by other programs: the drawings in drawings/ are exported
// by Inkscape and by LibreOffice Draw as EMF, WMF and PNG at test time; each
// metafile is imported at the size of the same program's PNG and compared
// with it. Skipped when inkscape or soffice is not installed.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "korvane/io/kvio.h"
#include "korvane/io/metafile/metafile.h"
#include "korvane/view/kvview.h"
#include "tests/peer_command.h"
#include "tests/io_metafile/screen_dpi.h"
#include "tests/test_support.h"

using namespace korvane;
namespace fs = std::filesystem;
using korvane::test::OnPath;
using korvane::test::RunCommand;

namespace {

const char* const kDrawings[] = {"lines", "text",    "fills",   "circles", "bezier",
                                 "arc",   "pie",     "clip",    "mapping", "shapes"};


std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

// One export of every drawing per program, made once per test binary:
// <dir>/<drawing>.{emf,wmf,png}. A missing program leaves its reason.
struct PeerExport {
  fs::path dir;
  std::string missing;
};

const PeerExport& Export(const std::string& peer) {
  static std::map<std::string, PeerExport> done;
  if (auto it = done.find(peer); it != done.end()) return it->second;
  PeerExport& e = done[peer];
  const fs::path src = fs::path(KORVANE_TESTS_SOURCE_DIR) / "io_metafile" / "drawings";
  e.dir = fs::path(testing::TempDir()) / ("kv_meta_" + peer);
  fs::remove_all(e.dir);
  fs::create_directories(e.dir);
  std::string svgs;
  for (const char* d : kDrawings) {
    fs::copy_file(src / (std::string(d) + ".svg"), e.dir / (std::string(d) + ".svg"));
    svgs += " " + std::string(d) + ".svg";
  }
  const std::string cd = "cd " + Quote(e.dir) + " && ";
  if (peer == "inkscape") {
    if (!OnPath("inkscape")) {
      e.missing = "inkscape is not installed";
      return e;
    }
    RunCommand(cd + "inkscape --export-type=emf,wmf,png" + svgs);
  } else {
    if (!OnPath("soffice")) {
      e.missing = "soffice (LibreOffice Draw) is not installed";
      return e;
    }
    // A profile of its own, so that a running office or a stale lock does not
    // turn the conversion into a no-op. One start-up per format: soffice is slow to start.
    const std::string profile = "-env:UserInstallation=file://" + (e.dir / "profile").string();
    for (const char* fmt : {"emf", "wmf", "png"})
      RunCommand(cd + "soffice " + profile + " --headless --convert-to " + fmt + " --outdir ." + svgs);
  }
  return e;
}

struct Case {
  const char* peer;
  const char* drawing;
  const char* ext;
};

std::string Name(const testing::TestParamInfo<Case>& info) {
  return std::string(info.param.peer) + "_" + info.param.drawing + "_" + info.param.ext;
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (const char* peer : {"inkscape", "soffice"})
    for (const char* d : kDrawings)
      for (const char* ext : {"emf", "wmf"}) cases.push_back({peer, d, ext});
  return cases;
}

// How far a pixel of one image is from the other image near it: the
// smallest over the 3 x 3 pixels around the same place of the largest channel
// difference. Edges placed half a pixel apart, or anti-aliased on one side
// only, then cost little; a shape drawn where the other has none costs its
// whole area.
int Distance(const QImage& a, int ax, int ay, const QImage& b, int bx, int by) {
  const QRgb p = a.pixel(ax, ay);
  int best = 255;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      const int x = bx + dx, y = by + dy;
      if (x < 0 || y < 0 || x >= b.width() || y >= b.height()) continue;
      const QRgb q = b.pixel(x, y);
      best = std::min(best, std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                      std::abs(qBlue(p) - qBlue(q))}));
    }
  return best;
}

// Compares got with the part of ref at (ox, oy) that it covers, both ways:
// the mean distance, and the share of pixels farther than kFar.
constexpr int kFar = 64;
struct Difference {
  double mean = 0;
  double farShare = 0;
};

Difference Compare(const QImage& got, const QImage& ref, int ox, int oy) {
  int64_t sum = 0, far = 0;
  for (int y = 0; y < got.height(); ++y)
    for (int x = 0; x < got.width(); ++x) {
      const int d = std::max(Distance(got, x, y, ref, x + ox, y + oy), Distance(ref, x + ox, y + oy, got, x, y));
      sum += d;
      far += d > kFar;
    }
  const double pixels = double(got.width()) * got.height();
  return Difference{double(sum) / pixels, double(far) / pixels};
}

// Sizes at 96 dpi, the resolution both programs export their PNGs at.
class PeerMetafile : public testing::TestWithParam<Case> {
 private:
  test::TScreenDpi96 dpi_;
};

TEST_P(PeerMetafile, DrawsLikeTheProgramsOwnPng) {
  const Case& c = GetParam();
  const PeerExport& e = Export(c.peer);
  if (!e.missing.empty()) GTEST_SKIP() << e.missing;
  // Inkscape writes WMF without clipping (the clip path is dropped), so its
  // WMF of the clipped drawing does not show what its PNG shows.
  if (std::string(c.peer) == "inkscape" && std::string(c.drawing) == "clip" && std::string(c.ext) == "wmf")
    GTEST_SKIP() << "Inkscape's WMF export leaves clipping out";
  const fs::path png = e.dir / (std::string(c.drawing) + ".png");
  const fs::path meta = e.dir / (std::string(c.drawing) + "." + c.ext);
  ASSERT_TRUE(fs::exists(png) && fs::exists(meta)) << c.peer << " did not export " << c.drawing;

  // The reference: the program's PNG (transparent where nothing is drawn) on white.
  const QImage drawn(QString::fromStdString(png.string()));
  ASSERT_FALSE(drawn.isNull());
  QImage ref(drawn.size(), QImage::Format_RGB32);
  ref.fill(Qt::white);
  {
    QPainter p(&ref);
    p.drawImage(0, 0, drawn);
  }

  // Inkscape's metafiles frame the page its PNG shows: they are imported at
  // the PNG's size. LibreOffice's leave the page's margins out (the same on
  // every side) where its PNG keeps them: they are imported at their own size
  // and compared with the middle of the PNG.
  TMetafile mf;
  mf.LoadFromFile(meta.string());
  const bool ownSize = mf.Width() < ref.width() - 4 && mf.Height() < ref.height() - 4;
  TBitmap bmp;
  TKorvaneIO io;
  io.SetAttachedBitmap(&bmp);
  io.SetBackground(clWhite);
  // The import's bitmap is one pixel smaller than the size asked for.
  if (ownSize)
    io.ImportMetafile(meta.string(), -1, -1);
  else
    io.ImportMetafile(meta.string(), ref.width() + 1, ref.height() + 1);
  ASSERT_LE(bmp.Width(), ref.width());
  ASSERT_LE(bmp.Height(), ref.height());
  if (!ownSize) {
    ASSERT_EQ(bmp.Width(), ref.width());
  }
  const QImage got = bmp.ToQImage().convertToFormat(QImage::Format_RGB32);
  const int ox = (ref.width() - got.width()) / 2, oy = (ref.height() - got.height()) / 2;

  // Two renderers of one drawing agree inside shapes and differ along their
  // edges: the player draws aliased where the programs anti-alias, rounds
  // coordinates to the metafile's grid, and rasterises fonts its own way.
  // Compare() forgives a pixel of misplacement; what is left for a correct
  // import of these drawings is a mean below 4 and under 2.5% of pixels off
  // by more than kFar. A wedge in a circle, a Bezier drawn as a loop, a cut
  // arc, a lost clip or a picture scaled by 1% all cost more than a mean of 5
  // or 3% of the pixels.
  const Difference d = Compare(got, ref, ox, oy);
  EXPECT_LT(d.mean, 5.0) << meta;
  EXPECT_LT(d.farShare, 0.03) << meta;
  if (HasFailure()) {
    const fs::path out = e.dir / (std::string(c.drawing) + "_" + c.ext + "_korvane.png");
    got.save(QString::fromStdString(out.string()));
    ADD_FAILURE() << "Korvane's rendering: " << out;
  }
}

INSTANTIATE_TEST_SUITE_P(Drawings, PeerMetafile, testing::ValuesIn(AllCases()), Name);

}  // namespace
