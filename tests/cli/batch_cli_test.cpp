// korvane convert and process with several inputs: each output has the
// pixels of its own input, failures are reported in input order while the
// other files go on, output names follow -o and --output-template, and
// clashing names are refused before any file is written.
#include <gtest/gtest.h>

#ifdef KORVANE_CLI

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "korvane/io/kvio.h"
#include "tests/test_support.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

test::ProcessRun Tool(const std::vector<std::string>& args) {
  QStringList q;
  for (const std::string& a : args) q << QString::fromStdString(a);
  return test::RunProcess(KORVANE_CLI, q);
}

// A w x h BMP of pattern seed.
void WritePattern(const std::string& name, unsigned seed, int w = 40, int h = 30) {
  TBitmap b;
  test::FillPattern24(b, w, h, seed);
  TKorvaneIO io;
  io.SetAttachedBitmap(&b);
  io.SaveToFileBMP(name);
}

bool Load(const std::string& name, TBitmap& b) {
  TKorvaneIO io;
  io.SetAttachedBitmap(&b);
  try {
    io.LoadFromFile(name);
  } catch (const std::exception&) {
    return false;
  }
  return !b.Empty();
}

}  // namespace

TEST(BatchCli, EveryOutputHasItsInputsPixelsAndFailuresGoOnInOrder) {
  QTemporaryDir tmp;
  const std::string d = tmp.path().toStdString();
  fs::create_directory(d + "/out");
  std::vector<std::string> args = {"convert"};
  for (int i = 0; i < 6; ++i) {
    const std::string in = d + "/p" + std::to_string(i) + ".bmp";
    if (i == 2)
      std::ofstream(in) << "BM not a picture";
    else if (i != 4)
      WritePattern(in, unsigned(i + 1));
    args.push_back(in);
  }
  args.insert(args.end(), {"-o", d + "/out", "--format", "png", "-j", "3"});
  const test::ProcessRun r = Tool(args);
  EXPECT_EQ(r.code, 1) << r.err;
  // One line per failure, in input order, then the count.
  const size_t broken = r.err.find("korvane: " + d + "/p2.bmp: ");
  const size_t missing = r.err.find("korvane: " + d + "/p4.bmp: ");
  EXPECT_NE(broken, std::string::npos) << r.err;
  EXPECT_LT(broken, missing) << r.err;
  EXPECT_NE(r.err.find("2 of 6 files failed"), std::string::npos) << r.err;
  for (int i : {0, 1, 3, 5}) {
    TBitmap want, got;
    test::FillPattern24(want, 40, 30, unsigned(i + 1));
    ASSERT_TRUE(Load(d + "/out/p" + std::to_string(i) + ".png", got)) << i;
    EXPECT_TRUE(test::SamePixels(want, got)) << i;
  }
  EXPECT_FALSE(fs::exists(d + "/out/p2.png"));
  EXPECT_FALSE(fs::exists(d + "/out/p4.png"));
}

TEST(BatchCli, OutputNamesAndClashesAreSettledBeforeAnyFileIsWritten) {
  QTemporaryDir tmp;
  const std::string d = tmp.path().toStdString();
  fs::create_directories(d + "/a");
  fs::create_directories(d + "/b");
  WritePattern(d + "/a/x.bmp", 1);
  WritePattern(d + "/a/y.bmp", 2);
  WritePattern(d + "/b/x.bmp", 3);
  // Placeholders: the input's folder and name, the format's extension, a
  // literal percent sign.
  test::ProcessRun r = Tool(
      {"convert", d + "/a/x.bmp", d + "/b/x.bmp", "--output-template", "%d/%s_50%%.%e", "--format", "jpeg"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::exists(d + "/a/x_50%.jpg"));
  EXPECT_TRUE(fs::exists(d + "/b/x_50%.jpg"));
  // Without --format the input's own format is kept.
  r = Tool({"convert", d + "/a/y.bmp", "-o", d + "/b"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::exists(d + "/b/y.bmp"));

  // Refused with nothing written: two inputs with one output (the clash
  // comes last, after a file that could have been done), an output that is
  // another input, an unknown placeholder, several inputs without -o.
  fs::create_directories(d + "/out");
  const std::vector<std::vector<std::string>> refused = {
      {"convert", d + "/a/y.bmp", d + "/a/x.bmp", d + "/b/x.bmp", "-o", d + "/out", "--format", "png"},
      {"convert", d + "/b/x.bmp", d + "/a/x.bmp", "-o", d + "/a"},
      {"convert", d + "/a/x.bmp", "--output-template", d + "/out/%n.png"},
      {"convert", d + "/a/x.bmp", d + "/a/y.bmp", d + "/out/z.png"},
      {"process", d + "/a/x.bmp", d + "/b/x.bmp", "-o", d + "/out", "--negative"}};
  for (const auto& args : refused) {
    r = Tool(args);
    EXPECT_EQ(r.code, 2) << args.back() << "\n" << r.err;
    EXPECT_TRUE(fs::is_empty(d + "/out")) << args.back();
  }
  EXPECT_NE(Tool(refused[0]).err.find("would both be written to"), std::string::npos);
}

TEST(BatchCli, ProcessPrintsEachFilesResultsInInputOrder) {
  QTemporaryDir tmp;
  const std::string d = tmp.path().toStdString();
  // Solid pictures of 1 color, then patterns with many; sizes differ so the
  // files take different times.
  std::vector<std::string> args = {"process"};
  std::string want;
  for (int i = 0; i < 8; ++i) {
    const std::string in = d + "/f" + std::to_string(i) + ".bmp";
    TBitmap b;
    test::FillPattern24(b, 40 + 60 * (7 - i), 30, unsigned(i));
    if (i % 2) b.Canvas()->FillRect(Rect(0, 0, b.Width(), b.Height())), b.Canvas()->EndPaint();
    TKorvaneIO io;
    io.SetAttachedBitmap(&b);
    io.SaveToFileBMP(in);
    args.push_back(in);
    want += in + ": " + (i % 2 ? "1" : "many") + "\n";
  }
  args.insert(args.end(), {"-o", "-", "-j", "4", "--num-colors"});
  const test::ProcessRun r = Tool(args);
  ASSERT_EQ(r.code, 0) << r.err;
  // Lines in input order, each naming its file.
  std::string got;
  size_t at = 0;
  for (int i = 0; i < 8; ++i) {
    const size_t end = r.out.find('\n', at);
    ASSERT_NE(end, std::string::npos) << r.out;
    const std::string line = r.out.substr(at, end - at);
    const size_t colon = line.rfind(": ");
    got += line.substr(0, colon + 2) + (line.substr(colon + 2) == "1" ? "1" : "many") + "\n";
    at = end + 1;
  }
  EXPECT_EQ(got, want);
}

#endif  // KORVANE_CLI
