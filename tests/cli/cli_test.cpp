// The korvane program run end to end: every fixture converts to a 24-bit BMP
// with the reference's pixels, hostile files fail with a message and never
// crash, info reports what the manifest expects, process runs its operations
// on the selection, and the command line is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#ifdef KORVANE_CLI

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <map>
#include <sstream>

#include "korvane/foundations/host/streams.h"
#include "korvane/foundations/host/winsys.h"
#include "korvane/io/codecs/bmp/bmp_codec.h"
#include "korvane/io/codecs/jpeg/jpeg_codec.h"
#include "korvane/io/kvio.h"
#include "tests/fixture_manifest.h"
#include "tests/test_support.h"

using namespace korvane;
using namespace korvane::test;

namespace {

struct RunResult {
  int code = -1;
  bool crashed = false;
  std::string out, err;
};

// Runs the program; sanitizer reports get exit codes of their own so that
// they cannot pass for the tool's own failure status.
RunResult RunTool(const std::vector<std::string>& args) {
  QStringList qargs;
  for (const std::string& a : args) qargs << QString::fromStdString(a);
  const test::ProcessRun p = test::RunProcess(
      KORVANE_CLI, qargs, {"ASAN_OPTIONS=detect_leaks=1:exitcode=86", "UBSAN_OPTIONS=print_stacktrace=1:exitcode=87"});
  RunResult r;
  r.out = p.out;
  r.err = p.err;
  r.crashed = p.code == -1 || p.code == 86 || p.code == 87 || r.err.find("Sanitizer") != std::string::npos ||
              r.err.find("runtime error:") != std::string::npos;
  r.code = r.crashed ? -1 : p.code;
  return r;
}

std::string Describe(const RunResult& r) {
  return "exit " + std::to_string(r.code) + (r.crashed ? " (crashed)" : "") + "\nstdout: " + r.out +
         "\nstderr: " + r.err;
}

bool IsToolError(const RunResult& r) { return r.code == 1 && r.err.rfind("korvane: ", 0) == 0; }

// The "Name: value" lines of info output.
std::map<std::string, std::string> InfoLines(const std::string& out) {
  std::map<std::string, std::string> m;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    size_t colon = line.find(": ");
    if (colon != std::string::npos) m[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return m;
}

bool ReadBMP(const std::string& path, TBitmap& bmp) {
  try {
    TFileStream fs(path, fmOpenRead);
    TIOParamsVals p;
    BMPReadStream(&fs, &bmp, 0, p, nullpr, false);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void WriteBMP(const std::string& path, TBitmap& bmp) {
  TFileStream fs(path, fmCreate);
  TIOParamsVals p;
  BMPWriteStream(&fs, &bmp, p, nullpr);
}

bool Readable(const FixtureCase& c) { return c.format != "hostile" && c.format != "avi" && !c.error; }
bool Hostile(const FixtureCase& c) { return c.format == "hostile" || c.error; }

std::vector<FixtureCase> Cases(bool (*pick)(const FixtureCase&)) {
  std::vector<FixtureCase> out;
  for (const FixtureCase& c : FixtureCases(""))
    if (pick(c)) out.push_back(c);
  return out;
}

// The manifest's parameters with the library's two documented departures:
// a JPEG without a JFIF density in dots (unit 0, or no JFIF marker) has the
// system's resolution, and icon images deeper than 8 bits report the 24-bit
// pixels they load as.
FixtureCase AsTheLibraryReports(FixtureCase c) {
  if (c.format == "jpg") {
    QFile f(QString::fromStdString(c.path));
    QByteArray head = f.open(QIODevice::ReadOnly) ? f.read(64) : QByteArray();
    const qsizetype at = head.indexOf(QByteArray("JFIF\0", 5));
    const int unit = at >= 0 && at + 7 < head.size() ? head[at + 7] : 0;
    if (unit == 0) {
      for (auto& [name, want] : c.params) {
        if (name == "DpiX") want = std::to_string(GetScreenDPI());
        if (name == "DpiY") want = std::to_string(GetScreenDPIY());
      }
    }
  }
  if ((c.format == "ico" || c.format == "cur") && c.reference.empty()) {
    for (auto& [name, want] : c.params) {
      if (name == "BitsPerSample") want = "8";
      if (name == "SamplesPerPixel") want = "3";
    }
  }
  return c;
}

std::string CaseName(const testing::TestParamInfo<FixtureCase>& i) { return i.param.Name(); }

class CliFixture : public testing::TestWithParam<FixtureCase> {
 protected:
  QTemporaryDir dir_;
  std::string Out(const char* name) { return dir_.filePath(name).toStdString(); }
};

}  // namespace

// ---------------------------------------------------------------------------
// convert over the corpus

using ConvertFixture = CliFixture;

TEST_P(ConvertFixture, To24BitBMPWithTheReferencePixels) {
  const FixtureCase& c = GetParam();
  const std::string out = Out("out.bmp");
  RunResult r = RunTool({"convert", c.path, out, "--index", std::to_string(c.index), "--set",
                         "BitsPerSample=8", "--set", "SamplesPerPixel=3", "--quiet"});
  ASSERT_EQ(r.code, 0) << Describe(r);
  EXPECT_EQ(r.err, "");
  TBitmap bmp;
  ASSERT_TRUE(ReadBMP(out, bmp)) << "the output is not a BMP the library reads";
  ASSERT_EQ(bmp.PixelFormat(), pf24bit);
  if (c.width >= 0) {
    EXPECT_EQ(bmp.Width(), c.width);
  }
  if (c.height >= 0) {
    EXPECT_EQ(bmp.Height(), c.height);
  }
  if (c.reference.empty()) return;
  int w, h;
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(ReadReference(c, w, h, rgb)) << c.reference;
  const int diff = MaxDiff(bmp, w, h, rgb);
  EXPECT_GE(diff, 0) << "size differs from the reference";
  EXPECT_LE(diff, c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ConvertFixture, testing::ValuesIn(Cases(Readable)), CaseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ConvertFixture);

TEST(ConvertAvi, FramesByIndexInfoAndEveryFrameAcrossFormats) {
  const auto cases = Cases([](const FixtureCase& c) { return c.format == "avi"; });
  if (cases.empty()) GTEST_SKIP() << "no AVI cases (is the corpus present?)";
  QTemporaryDir dir;
  auto out = [&](const char* name) { return dir.filePath(name).toStdString(); };
  for (const FixtureCase& c : cases) {
    SCOPED_TRACE(c.file);
    RunResult r = RunTool({"convert", c.path, out("f.bmp"), "--index", std::to_string(c.index), "--quiet"});
    ASSERT_EQ(r.code, 0) << Describe(r);
    TBitmap bmp;
    ASSERT_TRUE(ReadBMP(out("f.bmp"), bmp));
    int w, h;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(ReadReference(c, w, h, rgb));
    const int diff = MaxDiff(bmp, w, h, rgb);
    EXPECT_GE(diff, 0);
    EXPECT_LE(diff, c.tolerance);
    RunResult info = RunTool({"info", c.path});
    ASSERT_EQ(info.code, 0) << Describe(info);
    EXPECT_NE(info.out.find("Frames: " + std::to_string(c.frames) + "\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Delay: 40 ms"), std::string::npos) << info.out;
  }
  // Every frame: AVI to GIF to TIFF to AVI.
  const std::string src = cases.front().path;
  ASSERT_EQ(RunTool({"convert", src, out("a.gif"), "--frames", "all", "--quiet"}).code, 0);
  ASSERT_EQ(RunTool({"convert", out("a.gif"), out("a.tif"), "--frames", "all", "--quiet"}).code, 0);
  RunResult r =
      RunTool({"convert", out("a.tif"), out("a.avi"), "--frames", "all", "--avi-codec", "mjpeg", "--quiet"});
  ASSERT_EQ(r.code, 0) << Describe(r);
  RunResult info = RunTool({"info", out("a.avi")});
  EXPECT_NE(info.out.find("Frames: " + std::to_string(cases.front().frames) + "\n"), std::string::npos)
      << info.out;
  RunResult gif = RunTool({"info", out("a.gif")});
  EXPECT_NE(gif.out.find(std::to_string(cases.front().frames)), std::string::npos) << gif.out;
  // A frame past the end is a failure that leaves no output.
  r = RunTool({"convert", src, out("none.bmp"), "--index", "99", "--quiet"});
  EXPECT_EQ(r.code, 1) << Describe(r);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(out("none.bmp"))));
  EXPECT_EQ(RunTool({"convert", src, out("x.png"), "--frames", "all"}).code, 2);
}

using HostileFixture = CliFixture;

TEST_P(HostileFixture, FailsWithAMessageOrLoadsWithoutCrashing) {
  const FixtureCase& c = GetParam();
  const std::string out = Out("out.bmp");
  RunResult r = RunTool({"convert", c.path, out, "--index", std::to_string(c.index), "--quiet"});
  ASSERT_FALSE(r.crashed) << Describe(r);
  if (c.error) {
    EXPECT_TRUE(IsToolError(r)) << Describe(r);
  } else {
    EXPECT_TRUE(r.code == 0 || IsToolError(r)) << Describe(r);
  }
  // A failed conversion leaves no output behind.
  if (r.code != 0) {
    EXPECT_FALSE(QFile::exists(QString::fromStdString(out)));
  }
  RunResult info = RunTool({"info", c.path});
  EXPECT_FALSE(info.crashed) << Describe(info);
  EXPECT_TRUE(info.code == 0 || IsToolError(info)) << Describe(info);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, HostileFixture, testing::ValuesIn(Cases(Hostile)), CaseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(HostileFixture);

// ---------------------------------------------------------------------------
// info

using InfoFixture = CliFixture;

// The size, the counts and every expected field that info shows (common
// depth fields and the format's own) have the manifest's values.
TEST_P(InfoFixture, ReportsTheManifestsParameters) {
  const FixtureCase c = AsTheLibraryReports(GetParam());
  RunResult r = RunTool({"info", "--index", std::to_string(c.index), c.path});
  ASSERT_EQ(r.code, 0) << Describe(r);
  auto lines = InfoLines(r.out);
  EXPECT_FALSE(lines["Type"].empty());
  if (c.width >= 0 && c.height >= 0) {
    EXPECT_EQ(lines["Size"], std::to_string(c.width) + " x " + std::to_string(c.height));
  }
  if (c.frames >= 0) {
    const char* count = c.format == "gif" ? "Frames" : "Pages";
    EXPECT_EQ(lines[count], std::to_string(c.frames)) << count;
  }
  std::map<std::string, std::string> expected(c.params.begin(), c.params.end());
  if (expected.count("DpiX") && expected.count("DpiY")) {
    EXPECT_EQ(lines["DPI"], expected["DpiX"] + " x " + expected["DpiY"]);
  }
  for (const auto& [field, value] : c.params) {
    if (!lines.count(field)) {
      // Every field of the input's format is listed.
      EXPECT_EQ(field.find('_'), std::string::npos) << field << " missing";
      continue;
    }
    EXPECT_EQ(lines[field], value) << field;
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, InfoFixture, testing::ValuesIn(Cases(Readable)), CaseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(InfoFixture);

TEST(Info, SeveralFilesGetHeadersAndAFailureDoesNotStopTheOthers) {
  KORVANE_REQUIRE_SHARED(bmp, "fixtures/bmp/24bit_200x150_pillow.bmp");
  KORVANE_REQUIRE_SHARED(gif, "fixtures/gif/anim_4frames_delay20_loop_im.gif");
  RunResult r = RunTool({"info", bmp, "/nonexistent/x.png", gif});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("File: " + bmp + "\nType: Windows Bitmap (BMP)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n\nFile: /nonexistent/x.png\n\nFile: " + gif + "\nType: CompuServe Bitmap (GIF)"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.err, "korvane: /nonexistent/x.png: cannot open the file\n");
}

TEST(Info, CountsTheImagesOfAnIcon) {
  KORVANE_REQUIRE_SHARED(ico, "fixtures/ico/im_three_sizes.ico");
  EXPECT_EQ(InfoLines(RunTool({"info", ico}).out)["Images"], "3");
}

// ---------------------------------------------------------------------------
// process

namespace {

class Process : public testing::Test {
 protected:
  void SetUp() override {
    FillPattern24(src_, 8, 6, 7);
    in_ = dir_.filePath("in.bmp").toStdString();
    out_ = dir_.filePath("out.bmp").toStdString();
    WriteBMP(in_, src_);
  }
  // Runs process on in.bmp and reads out.bmp back.
  RunResult Apply(std::vector<std::string> ops, TBitmap& result) {
    std::vector<std::string> args = {"process", in_, out_};
    args.insert(args.end(), ops.begin(), ops.end());
    RunResult r = RunTool(args);
    if (r.code == 0) {
      EXPECT_TRUE(ReadBMP(out_, result));
    }
    return r;
  }
  QTemporaryDir dir_;
  TBitmap src_;
  std::string in_, out_;
};

}  // namespace

TEST_F(Process, NegativeInvertsOnlyTheSelection) {
  TBitmap all, part;
  RunResult r = Apply({"--negative"}, all);
  ASSERT_EQ(r.code, 0) << Describe(r);
  r = Apply({"--select", "2,1,4,3", "--negative", "--select-all", "--flip", "h"}, part);
  ASSERT_EQ(r.code, 0) << Describe(r);
  ASSERT_EQ(all.Width(), 8);
  ASSERT_EQ(part.Width(), 8);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      const unsigned p = Pixel24(src_, x, y);
      EXPECT_EQ(Pixel24(all, x, y), p ^ 0xFFFFFF) << x << "," << y;
      // The flip after --select-all covers the whole image.
      const bool inside = x >= 2 && x <= 4 && y >= 1 && y <= 3;
      EXPECT_EQ(Pixel24(part, 7 - x, y), inside ? p ^ 0xFFFFFF : p) << x << "," << y;
    }
}

TEST_F(Process, CropKeepsTheSelectionWithBothCorners) {
  TBitmap out;
  RunResult r = Apply({"--select", "1,2,3,5", "--crop", "--resample", "6", "-1", "lanczos3"}, out);
  ASSERT_EQ(r.code, 0) << Describe(r);
  // 3 x 4 cropped, then resampled to 6 wide keeping the aspect ratio.
  EXPECT_EQ(out.Width(), 6);
  EXPECT_EQ(out.Height(), 8);
  TBitmap cropped;
  ASSERT_EQ(Apply({"--select", "1,2,3,5", "--crop"}, cropped).code, 0);
  ASSERT_EQ(cropped.Width(), 3);
  ASSERT_EQ(cropped.Height(), 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(Pixel24(cropped, x, y), Pixel24(src_, x + 1, y + 2));
}

// A rectangle reaching past the left or top edge limits the operations to
// its part inside the image.
TEST_F(Process, SelectionPastTheEdgeChangesOnlyThePartInside) {
  struct Case {
    const char* rect;
    int x1, y1, x2, y2;  // the part inside
  };
  for (const Case& k :
       {Case{"-3,1,4,3", 0, 1, 4, 3}, Case{"2,-4,5,2", 2, 0, 5, 2}, Case{"-9,-9,1,1", 0, 0, 1, 1}}) {
    TBitmap out;
    RunResult r = Apply({"--select", k.rect, "--negative"}, out);
    ASSERT_EQ(r.code, 0) << Describe(r);
    ASSERT_EQ(out.Width(), 8);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) {
        const bool inside = x >= k.x1 && x <= k.x2 && y >= k.y1 && y <= k.y2;
        const unsigned p = Pixel24(src_, x, y);
        EXPECT_EQ(Pixel24(out, x, y), inside ? p ^ 0xFFFFFF : p) << k.rect << " at " << x << "," << y;
      }
  }
  TBitmap cropped;
  ASSERT_EQ(Apply({"--select", "-3,-1,2,3", "--crop"}, cropped).code, 0);
  EXPECT_EQ(cropped.Width(), 3);
  EXPECT_EQ(cropped.Height(), 4);
  EXPECT_EQ(Pixel24(cropped, 0, 0), Pixel24(src_, 0, 0));
  // Wholly outside: refused.
  EXPECT_TRUE(IsToolError(Apply({"--select", "-5,0,-1,3", "--negative"}, cropped)));
}

// A picture without hidden text says so and fails instead of printing noise.
TEST_F(Process, ReadTextWithoutHiddenTextFails) {
  TBitmap black(8, 6, pf24bit), white(8, 6, pf24bit);
  black.Canvas()->Brush()->SetColor(clBlack);
  black.Canvas()->FillRect(Rect(0, 0, 8, 6));
  black.Canvas()->EndPaint();
  for (TBitmap* b : {&src_, &black, &white}) {
    WriteBMP(in_, *b);
    RunResult r = RunTool({"process", in_, "-", "--read-text"});
    EXPECT_EQ(r.code, 1) << Describe(r);
    EXPECT_EQ(r.err, "korvane: no hidden text\n");
    EXPECT_EQ(r.out, "");
  }
}

// An unknown name lists the names --help gives.
TEST_F(Process, UnknownNamesListTheNamesOfTheHelp) {
  RunResult r = RunTool({"process", in_, "-", "--resample", "4", "4", "cubic"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("none, triangle, hermite, bell, bspline, lanczos3, mitchell"), std::string::npos)
      << r.err;
  r = RunTool({"process", in_, "-", "--filter", "sharpen"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("blur, edge, emboss, highpass1, highpass2, highpass3, lowpass1, lowpass2"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("fpBlur"), std::string::npos) << r.err;
}

// Resampling a bilevel page with a filter widens it first, so the strokes
// come out as gray levels instead of dropping out.
TEST_F(Process, FilteredResampleOfABilevelImageIsTwentyFourBit) {
  KORVANE_REQUIRE_SHARED(in, "fixtures/bmp/1bit_33x20_im.bmp");
  RunResult r = RunTool({"process", in, out_, "--resample", "21", "-1", "triangle"});
  ASSERT_EQ(r.code, 0) << Describe(r);
  TBitmap out;
  ASSERT_TRUE(ReadBMP(out_, out));
  ASSERT_EQ(out.PixelFormat(), pf24bit);
  EXPECT_EQ(out.Width(), 21);
  int grays = 0;
  for (int y = 0; y < out.Height(); ++y)
    for (int x = 0; x < out.Width(); ++x) {
      const unsigned p = Pixel24(out, x, y);
      grays += p != 0 && p != 0xFFFFFF;
    }
  EXPECT_GT(grays, 0);
  // Without a filter the page stays black and white.
  ASSERT_EQ(RunTool({"process", in, out_, "--resample", "21", "-1", "none"}).code, 0);
  ASSERT_TRUE(ReadBMP(out_, out));
  EXPECT_EQ(out.PixelFormat(), pf1bit);
}

TEST_F(Process, HiddenTextRoundTripsAndTooLongATextFails) {
  const std::string mid = dir_.filePath("mid.bmp").toStdString();
  RunResult r = RunTool({"process", in_, mid, "--hide-text", "hi"});
  ASSERT_EQ(r.code, 0) << Describe(r);
  r = RunTool({"process", mid, "-", "--read-text"});
  ASSERT_EQ(r.code, 0) << Describe(r);
  EXPECT_EQ(r.out, "hi\n");
  // 8 x 6 pixels carry ((3 * 8 - 2) * 6) div 8 - 8 = 8 bytes.
  r = RunTool({"process", in_, mid, "--hide-text", "nine byte"});
  EXPECT_TRUE(IsToolError(r)) << Describe(r);
  EXPECT_NE(r.err.find("holds 8"), std::string::npos) << r.err;
}

// A bilevel input is widened for a color operation, and its bilevel save
// parameters do not turn the result back into black and white.
TEST_F(Process, ColorOperationsOnABilevelImageKeepTheirColors) {
  KORVANE_REQUIRE_SHARED(in, "fixtures/bmp/1bit_33x20_im.bmp");
  int w, h;
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(ReadPPM(in.substr(0, in.size() - 4) + ".ref.ppm", w, h, rgb));
  RunResult r = RunTool({"process", in, out_, "--intensity", "0,0,60"});
  ASSERT_EQ(r.code, 0) << Describe(r);
  TBitmap out;
  ASSERT_TRUE(ReadBMP(out_, out));
  ASSERT_EQ(out.PixelFormat(), pf24bit);
  for (size_t i = 2; i < rgb.size(); i += 3) rgb[i] = uint8_t(std::min(255, rgb[i] + 60));
  EXPECT_EQ(MaxDiff(out, w, h, rgb), 0);
}

TEST_F(Process, BadOperationsAreRefusedBeforeLoading) {
  for (const std::vector<std::string>& ops :
       std::vector<std::vector<std::string>>{{"--contrast"},
                                             {"--contrast", "x"},
                                             {"--hsl", "1,2"},
                                             {"--resample", "4", "4", "rfBogus"},
                                             {"--flip", "d"},
                                             {"--select", "5,5,1,1", "--negative"},
                                             {"--sharpen-a-lot"},
                                             {}}) {
    std::vector<std::string> args = {"process", "/nonexistent.bmp", out_};
    args.insert(args.end(), ops.begin(), ops.end());
    RunResult r = RunTool(args);
    EXPECT_EQ(r.code, 2) << (ops.empty() ? "" : ops[0]) << "\n" << Describe(r);
    EXPECT_EQ(r.err.find("cannot open"), std::string::npos) << r.err;
  }
}

// ---------------------------------------------------------------------------
// The command line

TEST(CommandLine, HelpSucceedsForTheToolAndEachCommand) {
  for (const char* cmd : {"", "info", "convert", "process"}) {
    std::vector<std::string> args;
    if (*cmd) args.push_back(cmd);
    args.push_back("--help");
    RunResult r = RunTool(args);
    EXPECT_EQ(r.code, 0) << cmd;
    EXPECT_EQ(r.out.rfind("Usage: korvane", 0), 0u) << r.out;
  }
  EXPECT_NE(RunTool({"process", "--help"}).out.find("--resample W H FILTER"), std::string::npos);
  EXPECT_EQ(RunTool({}).code, 2);
  EXPECT_EQ(RunTool({"frobnicate"}).code, 2);
}

TEST(CommandLine, SetNamesAndValuesAreChecked) {
  KORVANE_REQUIRE_SHARED(in, "fixtures/bmp/24bit_200x150_pillow.bmp");
  QTemporaryDir dir;
  const std::string tif = dir.filePath("out.tif").toStdString();
  RunResult r = RunTool({"convert", in, tif, "--set", "NoSuchField=1"});
  EXPECT_TRUE(IsToolError(r)) << Describe(r);
  EXPECT_NE(r.err.find("NoSuchField"), std::string::npos);
  r = RunTool({"convert", in, tif, "--set", "TIFF_Compression=ioTIFF_ZIP"});
  EXPECT_TRUE(IsToolError(r)) << Describe(r);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(tif)));
  // A valid --set reaches the saved file.
  r = RunTool({"convert", in, tif, "--set", "TIFF_Compression=ioTIFF_PACKBITS"});
  ASSERT_EQ(r.code, 0) << Describe(r);
  EXPECT_EQ(InfoLines(RunTool({"info", tif}).out)["TIFF_Compression"], "ioTIFF_PACKBITS");
}

TEST(Convert, MetafilesImportAtTheirOwnSize) {
  // A placeable WMF of 400 x 100 pixels at the screen resolution, with only
  // its header and end record; the import is one pixel smaller each way.
  std::vector<uint8_t> d;
  auto w16 = [&](int v) {
    d.push_back(uint8_t(v));
    d.push_back(uint8_t(v >> 8));
  };
  auto w32 = [&](uint32_t v) {
    w16(int(v & 0xFFFF));
    w16(int(v >> 16));
  };
  w32(0x9AC6CDD7u);
  w16(0);
  w16(0), w16(0), w16(400), w16(100);
  w16(GetScreenDPI());
  w32(0);
  w16(0);
  w16(1), w16(9), w16(0x300), w32(12), w16(0), w32(3), w16(0);
  w32(3), w16(0);
  if (GetScreenDPI() != GetScreenDPIY()) GTEST_SKIP() << "non-square screen resolution";
  QTemporaryDir dir;
  const std::string wmf = dir.filePath("m.WMF").toStdString(), bmp = dir.filePath("m.bmp").toStdString();
  {
    TFileStream f(wmf, fmCreate);
    f.WriteBuffer(d.data(), int64_t(d.size()));
  }
  RunResult r = RunTool({"convert", wmf, bmp});
  ASSERT_EQ(r.code, 0) << Describe(r);
  TBitmap out;
  ASSERT_TRUE(ReadBMP(bmp, out));
  EXPECT_EQ(out.Width(), 399);
  EXPECT_EQ(out.Height(), 99);
  // The picture draws nothing: what shows is the paper, white unless
  // --background says otherwise.
  EXPECT_EQ(Pixel24(out, 200, 50), 0xFFFFFFu);
  r = RunTool({"convert", wmf, bmp, "--background", "0,0,0"});
  ASSERT_EQ(r.code, 0) << Describe(r);
  ASSERT_TRUE(ReadBMP(bmp, out));
  EXPECT_EQ(Pixel24(out, 200, 50), 0x000000u);
  r = RunTool({"process", wmf, bmp, "--background", "10,20,30", "--negative"});
  ASSERT_EQ(r.code, 0) << Describe(r);
  ASSERT_TRUE(ReadBMP(bmp, out));
  EXPECT_EQ(Pixel24(out, 200, 50), 0xF5EBE1u);
  // Content detection does not know metafiles; info reads them by extension.
  auto lines = InfoLines(RunTool({"info", wmf}).out);
  EXPECT_EQ(lines["Type"], "Windows Metafile (WMF)");
  EXPECT_EQ(lines["Size"], "399 x 99");
}

TEST(CommandLine, UnknownInputExtensionFails) {
  QTemporaryDir dir;
  const std::string odd = dir.filePath("image.xyz").toStdString();
  QFile f(QString::fromStdString(odd));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("BM");
  f.close();
  RunResult r = RunTool({"convert", odd, dir.filePath("o.bmp").toStdString()});
  EXPECT_TRUE(IsToolError(r)) << Describe(r);
  EXPECT_NE(r.err.find("extension"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Colours, qualities and formats through the tool

namespace {

std::string Tmp(QTemporaryDir& d, const char* name) { return d.filePath(name).toStdString(); }

// Loads any file the library reads into a 24-bit bitmap.
bool Load24(const std::string& path, TBitmap& bmp) {
  try {
    TKorvaneIO io;
    io.SetAttachedBitmap(&bmp);
    io.LoadFromFile(path);
    if (bmp.PixelFormat() != pf24bit) bmp.SetPixelFormat(pf24bit);
    return !bmp.Empty();
  } catch (const std::exception&) {
    return false;
  }
}

// The quality ImageMagick reads from a JPEG's tables; -1 without identify.
int IdentifyQuality(const std::string& path) {
  QProcess p;
  p.start("identify", {"-format", "%Q", QString::fromStdString(path)});
  if (!p.waitForFinished(60000) || p.exitCode() != 0) return -1;
  return p.readAllStandardOutput().trimmed().toInt();
}

}  // namespace

TEST(ConvertColours, GrayRampsAndTwoHundredColoursRoundTripThroughPaletteFormats) {
  InstallKorvaneLZWCoders();
  QTemporaryDir dir;
  TBitmap ramp, many;
  ramp.Allocate(256, 4, pf24bit);
  many.Allocate(40, 15, pf24bit);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 256; ++x) reinterpret_cast<TRGB*>(ramp.Scanline(y))[x] = TRGB{uint8_t(x), uint8_t(x), uint8_t(x)};
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 40; ++x) {
      const int i = (y * 40 + x) / 3;  // 200 colours
      reinterpret_cast<TRGB*>(many.Scanline(y))[x] = TRGB{uint8_t(i * 37), uint8_t(i * 91), uint8_t(i * 13)};
    }
  for (TBitmap* src : {&ramp, &many}) {
    WriteBMP(Tmp(dir, "in.bmp"), *src);
    for (const char* ext : {"bmp", "png", "pcx"}) {
      SCOPED_TRACE(ext);
      const std::string out = Tmp(dir, "out.") + ext;
      RunResult r = RunTool({"convert", Tmp(dir, "in.bmp"), out, "--set", "BitsPerSample=8", "--set",
                             "SamplesPerPixel=1", "--quiet"});
      ASSERT_EQ(r.code, 0) << Describe(r);
      TBitmap back;
      ASSERT_TRUE(Load24(out, back));
      EXPECT_TRUE(SamePixels(back, *src));
      // And once more from the 8-bit file to its own format.
      const std::string again = Tmp(dir, "again.") + ext;
      ASSERT_EQ(RunTool({"convert", out, again, "--quiet"}).code, 0);
      TBitmap twice;
      ASSERT_TRUE(Load24(again, twice));
      EXPECT_TRUE(SamePixels(twice, *src));
    }
  }
}

// Two-colour files of blue and green from Pillow: a 1-bit PNG it writes
// itself, and 1-bit BMP, GIF and TIFF files it writes black and white whose
// palette is then set to blue and green (Pillow writes no coloured 1-bit
// BMP, GIF or TIFF of its own).
TEST(ConvertColours, BlueAndGreenOneBitFilesFromPillowKeepTheirColours) {
  const std::string py = PythonWith("PIL");
  if (py.empty()) GTEST_SKIP() << "Pillow (python3-pil) missing: no third-party 1-bit files to convert";
  QTemporaryDir dir;
  const char* script = R"PY(
import sys, struct
from PIL import Image
d = sys.argv[1]
BLUE, GREEN = (0, 0, 200), (0, 160, 0)
one = Image.new('1', (21, 7))
for y in range(7):
    for x in range(21):
        one.putpixel((x, y), 1 if (x + y) % 3 == 0 else 0)
p = one.convert('P')
p.putpalette(list(BLUE) + list(GREEN) + [0] * 762)
p.save(d + '/c.png', bits=1)
one.save(d + '/c.bmp')
b = bytearray(open(d + '/c.bmp', 'rb').read())
b[54:62] = bytes([BLUE[2], BLUE[1], BLUE[0], 0, GREEN[2], GREEN[1], GREEN[0], 0])
open(d + '/c.bmp', 'wb').write(b)
p.save(d + '/c.gif')
g = bytearray(open(d + '/c.gif', 'rb').read())
n = 2 << (g[10] & 7)
g[10] &= 0xF8
g[13:13 + 3 * n] = bytes(BLUE + GREEN)
open(d + '/c.gif', 'wb').write(g)
one.save(d + '/c.tif')
t = bytearray(open(d + '/c.tif', 'rb').read())
ifd = struct.unpack('<I', t[4:8])[0]
n = struct.unpack('<H', t[ifd:ifd + 2])[0]
entries = [bytearray(t[ifd + 2 + 12 * i: ifd + 14 + 12 * i]) for i in range(n)]
for e in entries:
    if struct.unpack('<H', e[0:2])[0] == 262:
        e[8:12] = struct.pack('<HH', 3, 0)
cmap = len(t)
t += struct.pack('<6H', BLUE[0] * 257, GREEN[0] * 257, BLUE[1] * 257, GREEN[1] * 257, BLUE[2] * 257, GREEN[2] * 257)
entries.append(bytearray(struct.pack('<HHII', 320, 3, 6, cmap)))
entries.sort(key=lambda e: struct.unpack('<H', e[0:2])[0])
if len(t) % 2: t += b'\0'
at = len(t)
t += struct.pack('<H', len(entries)) + b''.join(entries) + b'\0\0\0\0'
t[4:8] = struct.pack('<I', at)
open(d + '/c.tif', 'wb').write(t)
)PY";
  QProcess p;
  p.start(QString::fromStdString(py), {"-c", script, dir.path()});
  ASSERT_TRUE(p.waitForFinished(60000));
  ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  for (const char* ext : {"bmp", "png", "gif", "tif"}) {
    SCOPED_TRACE(ext);
    const std::string in = Tmp(dir, "c.") + ext, out = Tmp(dir, "out.bmp");
    RunResult r = RunTool({"convert", in, out, "--set", "BitsPerSample=8", "--set", "SamplesPerPixel=3", "--quiet"});
    ASSERT_EQ(r.code, 0) << Describe(r);
    TBitmap bmp;
    ASSERT_TRUE(ReadBMP(out, bmp));
    ASSERT_EQ(bmp.PixelFormat(), pf24bit);
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 21; ++x)
        ASSERT_EQ(Pixel24(bmp, x, y), (x + y) % 3 == 0 ? 0x00A000u : 0x0000C8u) << x << "," << y;
    // Converted to the same format, the colours stay too.
    const std::string same = Tmp(dir, "same.") + ext;
    ASSERT_EQ(RunTool({"convert", in, same, "--quiet"}).code, 0);
    TBitmap again;
    ASSERT_TRUE(Load24(same, again));
    EXPECT_EQ(Pixel24(again, 0, 0), 0x00A000u);
    EXPECT_EQ(Pixel24(again, 1, 0), 0x0000C8u);
  }
}

TEST(ConvertQuality, AJpegKeepsItsQualityAndOtherInputsGetNinety) {
  QTemporaryDir dir;
  TBitmap src;
  FillPattern24(src, 64, 48, 3);
  const std::string in = Tmp(dir, "q75.jpg"), png = Tmp(dir, "in.png");
  {
    TKorvaneIO io;
    io.SetAttachedBitmap(&src);
    io.Params()->JPEG_Quality = 75;
    io.SaveToFileJpeg(in);
    io.SaveToFilePNG(png);
  }
  auto quality = [](const std::string& path) {
    TFileStream f(path, fmOpenRead);
    return JPegEstimateQuality(&f);
  };
  ASSERT_EQ(quality(in), 75);
  EXPECT_EQ(InfoLines(RunTool({"info", in}).out)["Estimated quality"], "75");
  ASSERT_EQ(RunTool({"convert", in, Tmp(dir, "out.jpg"), "--quiet"}).code, 0);
  ASSERT_EQ(RunTool({"process", in, Tmp(dir, "neg.jpg"), "--negative", "--quiet"}).code, 0);
  ASSERT_EQ(RunTool({"convert", in, in, "--quiet"}).code, 0);
  ASSERT_EQ(RunTool({"convert", png, Tmp(dir, "png.jpg"), "--quiet"}).code, 0);
  ASSERT_EQ(RunTool({"convert", png, Tmp(dir, "set.jpg"), "--set", "JPEG_Quality=40", "--quiet"}).code, 0);
  EXPECT_EQ(quality(Tmp(dir, "out.jpg")), 75);
  EXPECT_EQ(quality(Tmp(dir, "neg.jpg")), 75);
  EXPECT_EQ(quality(in), 75);
  EXPECT_EQ(quality(Tmp(dir, "png.jpg")), 90);
  EXPECT_EQ(quality(Tmp(dir, "set.jpg")), 40);
  // Out of range is an error, not a clamp.
  RunResult r = RunTool({"convert", png, Tmp(dir, "bad.jpg"), "--set", "JPEG_Quality=150"});
  EXPECT_TRUE(IsToolError(r)) << Describe(r);
  EXPECT_NE(r.err.find("1..100"), std::string::npos) << r.err;
  EXPECT_FALSE(QFile::exists(QString::fromStdString(Tmp(dir, "bad.jpg"))));
  // ImageMagick reads the same qualities.
  if (IdentifyQuality(in) < 0) GTEST_SKIP() << "ImageMagick's identify missing: its reading not checked";
  EXPECT_NEAR(IdentifyQuality(Tmp(dir, "out.jpg")), 75, 2);
  EXPECT_NEAR(IdentifyQuality(Tmp(dir, "neg.jpg")), 75, 2);
  EXPECT_NEAR(IdentifyQuality(Tmp(dir, "png.jpg")), 90, 2);
}

TEST(ConvertFormat, AnExtensionTheToolCannotWriteIsRefusedAndFormatForcesOne) {
  KORVANE_REQUIRE_SHARED(in, "fixtures/bmp/24bit_200x150_pillow.bmp");
  QTemporaryDir dir;
  const std::string webp = Tmp(dir, "out.webp");
  RunResult r = RunTool({"convert", in, webp});
  EXPECT_EQ(r.code, 2) << Describe(r);
  EXPECT_NE(r.err.find("bmp, gif, jpg, jpeg, pcx, png, tif, tiff"), std::string::npos) << r.err;
  EXPECT_FALSE(QFile::exists(QString::fromStdString(webp)));
  EXPECT_EQ(RunTool({"process", in, webp, "--negative"}).code, 2);
  EXPECT_EQ(RunTool({"convert", in, Tmp(dir, "x.png"), "--format", "webp"}).code, 2);
  r = RunTool({"convert", in, webp, "--format", "png", "--quiet"});
  ASSERT_EQ(r.code, 0) << Describe(r);
  EXPECT_EQ(TKorvaneIO::FindFileFormat(webp), ioPNG);
  ASSERT_EQ(RunTool({"convert", in, Tmp(dir, "x.TIFF"), "--quiet"}).code, 0);
  EXPECT_EQ(TKorvaneIO::FindFileFormat(Tmp(dir, "x.TIFF")), ioTIFF);
}

#endif  // KORVANE_CLI

// Camera-style files from Pillow: a JPEG with an Exif orientation and a TIFF
// with tag 274, for every orientation. info names it; --auto-orient turns the
// JPEG as Pillow's exif_transpose does (within 2 levels) and the TIFF exactly
// as Pillow's transposes of the source by the same table; without it the
// stored picture comes out as stored.
TEST(ConvertOrientation, AutoOrientTurnsEveryOrientationAsPillowDoes) {
  const std::string py = PythonWith("PIL");
  if (py.empty()) GTEST_SKIP() << "Pillow (python3-pil) missing: no oriented files to compare with";
  QTemporaryDir dir;
  const char* script = R"PY(
import sys
from PIL import Image, ImageOps
d = sys.argv[1]
im = Image.new('RGB', (40, 26))
im.putdata([(x * 6, y * 9, 255 if x < 8 and y < 5 else 40) for y in range(26) for x in range(40)])
for o in range(1, 9):
    exif = Image.Exif()
    exif[0x0112] = o
    im.save('%s/o%d.jpg' % (d, o), quality=95, subsampling=0, exif=exif)
    im.save('%s/o%d.tif' % (d, o), tiffinfo={274: o})
    # The JPEG as Pillow turns it from its Exif; the lossless TIFF must equal
    # the source turned by the same table.
    ImageOps.exif_transpose(Image.open('%s/o%d.jpg' % (d, o))).convert('RGB').save('%s/r%djpg.png' % (d, o))
    turn = {2: Image.FLIP_LEFT_RIGHT, 3: Image.ROTATE_180, 4: Image.FLIP_TOP_BOTTOM, 5: Image.TRANSPOSE,
            6: Image.ROTATE_270, 7: Image.TRANSVERSE, 8: Image.ROTATE_90}
    (im.transpose(turn[o]) if o in turn else im).save('%s/r%dtif.png' % (d, o))
)PY";
  QProcess p;
  p.start(QString::fromStdString(py), {"-c", script, dir.path()});
  ASSERT_TRUE(p.waitForFinished(60000));
  ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  for (int o = 1; o <= 8; ++o) {
    for (const std::string ext : {"jpg", "tif"}) {
      SCOPED_TRACE(ext + " orientation " + std::to_string(o));
      const std::string in = Tmp(dir, "o") + std::to_string(o) + "." + ext;
      EXPECT_EQ(InfoLines(RunTool({"info", in}).out)["Orientation"], std::to_string(o));
      const std::string out = Tmp(dir, "out.bmp");
      RunResult r = RunTool({"convert", in, out, "--auto-orient", "--quiet"});
      ASSERT_EQ(r.code, 0) << Describe(r);
      TBitmap got, want;
      ASSERT_TRUE(Load24(out, got));
      ASSERT_TRUE(Load24(Tmp(dir, "r") + std::to_string(o) + ext + ".png", want));
      ASSERT_EQ(got.Width(), want.Width());
      ASSERT_EQ(got.Height(), want.Height());
      const int tolerance = ext == "jpg" ? 2 : 0;
      int worst = 0;
      for (int y = 0; y < got.Height(); ++y)
        for (int x = 0; x < got.Width(); ++x)
          for (int k = 0; k < 3; ++k)
            worst = std::max(worst, std::abs(int(got.Scanline(y)[3 * x + k]) - int(want.Scanline(y)[3 * x + k])));
      EXPECT_LE(worst, tolerance);
      ASSERT_EQ(RunTool({"convert", in, out, "--quiet"}).code, 0);
      ASSERT_TRUE(Load24(out, got));
      EXPECT_EQ(got.Width(), 40);
    }
  }
}
