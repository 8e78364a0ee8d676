// Animated GIFs composed on their logical screen: the shared GIF suite's
// multi-frame cases against their expected frames, the composer's corner
// cases, and a save that keeps the animation.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "korvane/io/kvio.h"
#include "korvane/multi/frame_compose.h"
#include "korvane/multi/kvmio.h"
#include "korvane/multi/kvmview.h"
#include "tests/multi/mio_rig.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

using test::Rig;

// One [section] of a suite .conf file: key = value lines.
using Conf = std::map<std::string, std::map<std::string, std::string>>;
Conf ReadConf(const std::string& name) {
  Conf c;
  std::ifstream in(name);
  std::string line, section;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      section = line.substr(1, line.find(']') - 1);
      continue;
    }
    const size_t eq = line.find(" = ");
    if (eq != std::string::npos) c[section][line.substr(0, eq)] = line.substr(eq + 3);
  }
  return c;
}

std::vector<std::string> Split(const std::string& s) {
  std::vector<std::string> out;
  std::stringstream in(s);
  std::string part;
  while (std::getline(in, part, ',')) out.push_back(part);
  return out;
}

// Every multi-frame case of the suite: the frame count, the loop count, and
// each composed frame equal to the expected one wherever that is opaque. The
// expected frames leave the screen transparent where nothing was drawn or a
// frame was restored to the background; Korvane paints the GIF's background
// color there, so those pixels are not compared.
TEST(GifCompose, SuiteAnimationsMatchTheirExpectedFrames) {
  const std::string dir = korvane::test::SharedFile("suites/gif-test-suite/test-suite");
  if (dir.empty()) GTEST_SKIP() << "the shared GIF test suite is missing";
  int cases = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.path().extension() != ".conf") continue;
    Conf c = ReadConf(e.path().string());
    const std::vector<std::string> frames = Split(c["config"]["frames"]);
    if (frames.size() < 2) continue;
    SCOPED_TRACE(e.path().filename().string());
    ++cases;
    Rig r;
    r.mio->LoadFromFile(dir + "/" + c["config"]["input"]);
    // A frame the suite expects may be several images, all but the last
    // without a delay: the screen is shown once the last one is drawn.
    std::vector<int> shown;
    const int images = r.view->GetImageCount();
    if (images == int(frames.size())) {
      for (int i = 0; i < images; ++i) shown.push_back(i);
    } else {
      for (int i = 0; i < images; ++i)
        if (r.mio->GetParams(i)->GIF_DelayTime > 0 || i == images - 1) shown.push_back(i);
    }
    ASSERT_EQ(shown.size(), frames.size());
    const std::string loop = c["config"]["loop-count"];
    if (c["config"]["force-animation"] == "yes") {
      // No looping extension: readers choose to play it; nothing to read.
    } else if (loop == "infinite") {
      EXPECT_EQ(r.mio->GetParams(0)->GIF_LoopCount, 0);
    } else if (loop != "0") {
      EXPECT_EQ(r.mio->GetParams(0)->GIF_LoopCount, std::stoi(loop));
    }
    const int w = std::stoi(c["config"]["width"]), h = std::stoi(c["config"]["height"]);
    for (size_t k = 0; k < frames.size(); ++k) {
      std::ifstream f(dir + "/" + c[frames[k]]["pixels"], std::ios::binary);
      const std::string rgba((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
      ASSERT_EQ(rgba.size(), size_t(w) * h * 4);
      TBitmap screen;
      ASSERT_TRUE(r.view->GetComposedFrame(shown[k], &screen));
      ASSERT_EQ(screen.Width(), w);
      ASSERT_EQ(screen.Height(), h);
      int compared = 0, bad = 0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const uint8_t* p = reinterpret_cast<const uint8_t*>(rgba.data()) + (size_t(y) * w + x) * 4;
          if (p[3] != 255) continue;
          ++compared;
          bad += korvane::test::Pixel24(screen, x, y) != (unsigned(p[0]) << 16 | unsigned(p[1]) << 8 | p[2]);
        }
      EXPECT_EQ(bad, 0) << "frame " << k;
      EXPECT_GT(compared, 0) << "frame " << k;
    }
  }
  EXPECT_GE(cases, 8);
}

void Solid(TBitmap& b, int w, int h, TRGB c) {
  b.Allocate(w, h, pf24bit);
  for (int y = 0; y < h; ++y) std::fill_n(reinterpret_cast<TRGB*>(b.Scanline(y)), w, c);
}

unsigned At(const TBitmap* b, int x, int y) {
  return korvane::test::Pixel24(const_cast<TBitmap&>(*b), x, y);
}

// Restore-to-previous over an earlier restore-to-background, a transparent
// key, and frames that reach past the screen or lie wholly outside it.
TEST(GifCompose, DisposalTransparencyAndClipping) {
  const TRGB bg{0, 0, 0}, red{0, 0, 255}, green{0, 255, 0}, blue{255, 0, 0}, key{9, 9, 9};
  TKVFrameComposer c;
  c.Reset(8, 8, bg);
  TKVFrameLayout l;
  l.Valid = true;
  TBitmap full, g, b;
  Solid(full, 8, 8, red);
  l.Disposal = 1;
  c.Add(&full, l);
  // A green square with a transparent middle column, restored to the
  // background afterwards.
  Solid(g, 4, 4, green);
  for (int y = 0; y < 4; ++y) reinterpret_cast<TRGB*>(g.Scanline(y))[1] = key;
  l.X = 2, l.Y = 2, l.Disposal = 2, l.Transparent = true, l.TranspColor = key;
  c.Add(&g, l);
  EXPECT_EQ(At(c.Screen(), 2, 2), 0x00FF00u);
  EXPECT_EQ(At(c.Screen(), 3, 2), 0xFF0000u);  // through the key
  // Blue past the bottom-right corner, restored to what it covered.
  Solid(b, 6, 6, blue);
  l.X = 5, l.Y = 5, l.Disposal = 3, l.Transparent = false;
  c.Add(&b, l);
  EXPECT_EQ(At(c.Screen(), 2, 2), 0x000000u);  // the green frame's area went to the background
  EXPECT_EQ(At(c.Screen(), 7, 7), 0x0000FFu);
  EXPECT_EQ(At(c.Screen(), 0, 0), 0xFF0000u);
  // A frame wholly outside: nothing drawn, and the blue area comes back.
  l.X = 100, l.Y = 100, l.Disposal = 0;
  c.Add(&b, l);
  EXPECT_EQ(At(c.Screen(), 7, 7), 0xFF0000u);
  EXPECT_EQ(At(c.Screen(), 5, 5), 0x000000u);  // under blue lay the green frame's cleared area
  EXPECT_EQ(At(c.Screen(), 2, 2), 0x000000u);
}

// A multi-frame save of a loaded animation keeps it: positions, disposal,
// transparency, delays and the loop count come back from the copy, and the
// composed frames are the same. A frame whose transparent entry shares its
// color with an opaque one must stay opaque where the original is.
TEST(GifCompose, SavedAnimationComposesAsTheOriginal) {
  const std::string name = korvane::test::SharedFile("suites/gif-test-suite/test-suite/dispose-restore-previous.gif");
  if (name.empty()) GTEST_SKIP() << "the shared GIF test suite is missing";
  Rig a;
  a.mio->LoadFromFile(name);
  const int n = a.view->GetImageCount();
  ASSERT_GT(n, 2);
  TMemoryStream copy;
  a.mio->SaveToStreamGif(&copy);
  copy.SetPosition(0);
  Rig b;
  b.mio->LoadFromStreamGif(&copy);
  ASSERT_EQ(b.view->GetImageCount(), n);
  EXPECT_EQ(b.mio->GetParams(0)->GIF_LoopCount, a.mio->GetParams(0)->GIF_LoopCount);
  EXPECT_EQ(b.mio->GetParams(0)->GIF_WinWidth, a.mio->GetParams(0)->GIF_WinWidth);
  for (int i = 0; i < n; ++i) {
    SCOPED_TRACE(i);
    const TIOParamsVals *pa = a.mio->GetParams(i), *pb = b.mio->GetParams(i);
    EXPECT_EQ(pb->GIF_XPos, pa->GIF_XPos);
    EXPECT_EQ(pb->GIF_YPos, pa->GIF_YPos);
    EXPECT_EQ(pb->GIF_Disposal, pa->GIF_Disposal);
    EXPECT_EQ(pb->GIF_FlagTranspColor, pa->GIF_FlagTranspColor);
    EXPECT_EQ(b.view->GetImageDelayTime(i), a.view->GetImageDelayTime(i));
    TBitmap sa, sb;
    ASSERT_TRUE(a.view->GetComposedFrame(i, &sa));
    ASSERT_TRUE(b.view->GetComposedFrame(i, &sb));
    EXPECT_TRUE(korvane::test::SamePixels(sa, sb));
  }
}

}  // namespace
