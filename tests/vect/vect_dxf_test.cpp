// DXF import: drawings written by ezdxf land where the mapping from the
// drawing's extent to the bitmap puts them; numbers ignore the locale; hostile
// text imports what it can.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "korvane/vect/kvvect.h"
#include "tests/test_support.h"
#include "tests/vect/vect_support.h"

using namespace korvane;
using namespace korvane::vtest;

namespace {

struct Extent {
  const char* name;
  bool set;
  double minX, minY, maxX, maxY;
  int W, H;
};

// The mapping of a drawing point to the bitmap, written out from the
// definition: scale s fits the extent (plus one unit) into the bitmap, y
// flipped, the top of the extent at the top of the bitmap.
struct Mapping {
  double s = 1, minX = 0, minY = 0;
  int yo = 0, H = 0;
  explicit Mapping(const Extent& e) : H(e.H) {
    if (!e.set) return;
    minX = e.minX, minY = e.minY;
    s = std::min(e.H / (e.maxY - e.minY + 1), e.W / (e.maxX - e.minX + 1));
    yo = e.H - int(std::trunc((e.maxY - e.minY) * s));
  }
  int X(double x) const { return int(std::trunc((x - minX) * s)); }
  int Y(double y) const { return H - int(std::trunc((y - minY) * s)) - yo; }
};

class DXFExtents : public ::testing::TestWithParam<Extent> {};

TEST_P(DXFExtents, EzdxfDrawingLandsWhereTheExtentMapsIt) {
  const std::string py = test::PythonWith("ezdxf");
  if (py.empty()) GTEST_SKIP() << "python3-ezdxf is not installed";
  const Extent& e = GetParam();
  QTemporaryDir dir;
  const std::string path = dir.filePath("d.dxf").toStdString();
  const std::string script = dir.filePath("make.py").toStdString();
  {
    std::ofstream f(script);
    f << "import ezdxf, sys\n"
         "doc = ezdxf.new('R2000')\n"
         "msp = doc.modelspace()\n"
         "msp.add_line((10.5, 20.25), (300, 150))\n"
         "msp.add_line((-40, 460), (900, -10))\n"
         "msp.add_circle((100, 80), 25)\n"
         "msp.add_arc((200, 100), 30, 30, 120)\n"
         "msp.add_text('ignored')\n"
         "msp.add_point((5, 5))\n";
    if (e.set)
      f << "msp.reset_extents((" << e.minX << ", " << e.minY << ", 0), (" << e.maxX << ", " << e.maxY
        << ", 0))\n";
    f << "doc.saveas(sys.argv[1])\n";
  }
  ASSERT_EQ(std::system((py + " " + script + " " + path).c_str()), 0);
  auto v = MakeVect(100, 100, e.W, e.H);
  AddKind(*v, kvkBOX, 0, 0, 1, 1);  // an import adds to what is there
  v->ImportDXF(path);
  ASSERT_EQ(v->ObjectsCount(), 5);
  const Mapping m(e);
  TRect r;
  v->GetObjRect(1, r);
  EXPECT_EQ(v->GetObjKind(1), kvkLINE);
  EXPECT_EQ(r, Rect(m.X(10.5), m.Y(20.25), m.X(300), m.Y(150)));
  v->GetObjRect(2, r);
  EXPECT_EQ(r, Rect(m.X(-40), m.Y(460), m.X(900), m.Y(-10)));
  v->GetObjRect(3, r);
  EXPECT_EQ(v->GetObjKind(3), kvkELLIPSE);
  EXPECT_EQ(r, Rect(m.X(75), m.Y(105), m.X(125), m.Y(55)));
  v->GetObjRect(4, r);
  EXPECT_EQ(v->GetObjKind(4), kvkARC);
  EXPECT_EQ(r, Rect(m.X(170), m.Y(130), m.X(230), m.Y(70)));
  EXPECT_NEAR(v->GetObjAngleStart(4), 2 * M_PI - M_PI / 6, 1e-12);
  EXPECT_NEAR(v->GetObjAngleEnd(4), 2 * M_PI - 2 * M_PI / 3, 1e-12);
  // Imported objects take the template's pen, with plain line ends.
  EXPECT_EQ(v->GetObjShapeWidth(1), 10);
  EXPECT_EQ(v->GetObjBeginShape(1), kvsNONE);
}

INSTANTIATE_TEST_SUITE_P(Extents, DXFExtents,
                         ::testing::Values(Extent{"fits", true, 0, 0, 400, 300, 200, 150},
                                           Extent{"offset", true, -50, -20, 950, 480, 300, 300},
                                           Extent{"tall", true, 10, 10, 110, 510, 640, 480},
                                           // ezdxf's never-computed extent (+1e20 .. -1e20).
                                           Extent{"unset", false, 0, 0, 0, 0, 400, 300}),
                         [](const auto& info) { return std::string(info.param.name); });

const char kSmall[] =
    "0\nSECTION\n2\nHEADER\n9\n$EXTMIN\n10\n0.0\n20\n0.0\n9\n$EXTMAX\n10\n99.0\n20\n49.0\n0\nENDSEC\n"
    "0\nSECTION\n2\nENTITIES\n0\nLINE\n8\n0\n10\n1.5\n20\n2.5\n11\n50.75\n21\n40.25\n0\nENDSEC\n0\nEOF\n";

TEST(DXFImport, NumbersUseThePointWhateverTheLocale) {
  // A locale with a decimal comma: installed, or built into a private folder.
  const char* comma = nullptr;
  QTemporaryDir dir;
  for (int attempt = 0; attempt < 2 && !comma; ++attempt) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "it_IT.UTF-8"})
      if (std::setlocale(LC_NUMERIC, name)) {
        comma = name;
        break;
      }
    if (!comma && attempt == 0) {
      const std::string out = dir.filePath("de_DE.UTF-8").toStdString();
      if (std::system(("localedef -i de_DE -f UTF-8 " + out + " >/dev/null 2>&1").c_str()) == 0)
        setenv("LOCPATH", dir.path().toStdString().c_str(), 1);
    }
  }
  if (!comma) GTEST_SKIP() << "no locale with a decimal comma available";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  auto v = MakeVect(100, 100, 100, 50);
  v->ImportDXFText(kSmall, sizeof kSmall - 1);
  const bool stillComma = std::string(std::localeconv()->decimal_point) == ",";
  std::setlocale(LC_NUMERIC, "C");
  unsetenv("LOCPATH");
  EXPECT_TRUE(stillComma) << "the import changed the process's locale";
  ASSERT_EQ(v->ObjectsCount(), 1);
  TRect r;
  v->GetObjRect(0, r);
  // s = min(50 / 50, 100 / 100) = 1, yo = 50 - 49 = 1.
  EXPECT_EQ(r, Rect(1, 50 - 2 - 1, 50, 50 - 40 - 1));
}

TEST(DXFImport, HostileTextImportsWhatItCan) {
  struct Case {
    const char* name;
    std::string text;
    int objects;
  };
  const std::string ent = "0\nSECTION\n2\nENTITIES\n";
  const std::string line = "0\nLINE\n10\n1\n20\n1\n11\n5\n21\n5\n";
  const Case cases[] = {
      {"empty", "", 0},
      {"code without a value", ent + line + "0", 1},
      {"line missing its end", ent + "0\nLINE\n10\n1\n20\n1\n11\n5\n" + line, 1},
      {"zero-size extent",
       "0\nSECTION\n2\nHEADER\n9\n$EXTMIN\n10\n5\n20\n5\n9\n$EXTMAX\n10\n4\n20\n4\n0\nENDSEC\n" + ent + line,
       1},
      {"huge numbers",
       ent + "0\nLINE\n10\n1e308\n20\n-1e308\n11\n1e400\n21\n5\n" + line +
           "0\nCIRCLE\n10\n1e300\n20\n1e300\n40\n1e300\n",
       2},
      {"not numbers", ent + "0\nLINE\n10\nabc\n20\n1,5\n11\nnan\n21\ninf\nxx\nLINE\n" + line, 1},
      {"no section", line + line, 0},
      {"extent of one point",
       "0\nSECTION\n2\nHEADER\n9\n$EXTMAX\n10\n1e308\n20\n1e308\n0\nENDSEC\n" + ent + line, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto v = MakeVect(50, 50, 60, 40);
    v->ImportDXFText(c.text.data(), c.text.size());
    EXPECT_EQ(v->ObjectsCount(), c.objects);
    TBitmap shot;
    Render(*v, shot);
  }
  // With an empty extent the drawing maps one to one, y flipped.
  auto v = MakeVect(50, 50, 60, 40);
  v->ImportDXFText(cases[3].text.data(), cases[3].text.size());
  TRect r;
  v->GetObjRect(0, r);
  EXPECT_EQ(r, Rect(1, 39, 5, 35));
}

}  // namespace
