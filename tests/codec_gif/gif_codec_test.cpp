// The GIF codec: the shared fixture corpus, reader behaviours and hostile
// streams, the writer's header, multi-frame editing, and the public GIF test
// suites.
#include "korvane/io/codecs/gif/gif_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/codecs/gif/gif_lzw.h"
#include "korvane/pixels/vector_loops.h"
#include "tests/codec_gif/gif_test_util.h"
#include "tests/fixture_manifest.h"
#include "tests/test_support.h"

namespace korvane {
namespace {

using namespace korvane::test;

class GifFixture : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(GifFixture, LoadsAsTheManifestSays) {
  const FixtureCase& c = GetParam();
  if (c.path.empty()) GTEST_SKIP() << "../shared/fixtures not present";
  TIOParamsVals p;
  InstallGifCoders(p);
  p.GIF_ImageIndex = c.index;
  TBitmap bmp;
  int32_t count = -1;
  if (c.error) {
    EXPECT_THROW(ReadGif(c.path, &bmp, count, p, nullpr), EInvalidGraphic);
    return;
  }
  if (c.noCrash) {
    try {
      ReadGif(c.path, &bmp, count, p, nullpr);
      TouchPixels(bmp);
    } catch (const EInvalidGraphic&) {
    }
    return;
  }
  // Parameters alone (no coder needed) leave the bitmap; then the full load.
  TIOParamsVals q;
  q.GIF_ImageIndex = c.index;
  TFileStream f(c.path, fmOpenRead);
  ReadGifStream(&f, &bmp, count, q, nullpr, true);
  EXPECT_TRUE(bmp.Empty());
  EXPECT_EQ(ParamMismatches(c, q), "");
  ReadGif(c.path, &bmp, count, p, nullpr);
  if (c.frames >= 0) {
    EXPECT_EQ(count, c.frames);
  }
  EXPECT_EQ(ParamMismatches(c, p), "");
  EXPECT_EQ(BitmapMismatch(c, bmp), "");
}

std::vector<FixtureCase> GifCases() {
  std::vector<FixtureCase> v = FixtureCases("gif");
  for (const FixtureCase& c : FixtureCases("hostile"))
    if (c.codec == "gif") v.push_back(c);
  if (v.empty()) v.push_back(FixtureCase{});  // corpus absent: one skipped case
  return v;
}

INSTANTIATE_TEST_SUITE_P(Manifest, GifFixture, ::testing::ValuesIn(GifCases()), [](const auto& info) {
  return info.param.file.empty() ? "none" : info.param.Name();
});

// A three-frame GIF whose frames are 8x6 of one gray (40, 80, 120) with
// delays 10, 20, 30.
std::string ThreeFrames(const std::string& dir) {
  std::string name = dir + "/three.gif";
  TIOParamsVals p;
  InstallGifCoders(p);
  for (int i = 0; i < 3; ++i) {
    TBitmap b;
    Solid(b, 8, 6, uint8_t(40 * (i + 1)));
    p.GIF_DelayTime = 10 * (i + 1);
    p.GIF_ImageIndex = i;
    if (i == 0)
      WriteGif(name, &b, p, nullpr);
    else
      EXPECT_EQ(_InsertGifIm(name, &b, p, nullpr), i + 1);
  }
  return name;
}

// Gray and delay of every frame, read back one by one.
std::vector<std::pair<int, int>> Frames(const std::string& name) {
  std::vector<std::pair<int, int>> v;
  TIOParamsVals p;
  InstallGifCoders(p);
  // Every frame up to the count the reader gives (an index past the end
  // is a failure).
  int32_t count = 1;
  for (int i = 0; i < count; ++i) {
    TBitmap b;
    p.GIF_ImageIndex = i;
    ReadGif(name, &b, count, p, nullpr);
    v.push_back({b.Empty() ? -1 : int(b.Scanline(0)[0]), p.GIF_DelayTime});
  }
  return v;
}

class GifInsert : public ::testing::TestWithParam<int> {};

TEST_P(GifInsert, PutsTheFrameAtItsPosition) {
  TempDir dir;
  std::string name = ThreeFrames(dir.path);
  TIOParamsVals p;
  InstallGifCoders(p);
  p.GIF_ImageIndex = GetParam();
  p.GIF_DelayTime = 77;
  TBitmap b;
  Solid(b, 8, 6, 200);
  EXPECT_EQ(_InsertGifIm(name, &b, p, nullpr), 4);
  std::vector<std::pair<int, int>> want = {{40, 10}, {80, 20}, {120, 30}};
  want.insert(want.begin() + GetParam(), {200, 77});
  EXPECT_EQ(Frames(name), want);
  // Delete it again; counting with -1 does not touch the file.
  EXPECT_EQ(_DeleteGifIm(name, GetParam(), true), 3);
  EXPECT_EQ(_DeleteGifIm(name, -1, false), 3);
  EXPECT_EQ(_DeleteGifIm(name, 0, false), 2);
  EXPECT_EQ(Frames(name), (std::vector<std::pair<int, int>>{{40, 10}, {80, 20}, {120, 30}}));
}
INSTANTIATE_TEST_SUITE_P(FrontMiddleEnd, GifInsert, ::testing::Values(0, 1, 3));

TEST(GifEdit, InsertAtFrontOfAFrameWithoutControlExtension) {
  // A GIF87a-style file: one frame, no graphic control extension.
  TempDir dir;
  std::string name = dir.path + "/plain.gif";
  WriteBytes(name, MinimalGif(false));
  TIOParamsVals p;
  InstallGifCoders(p);
  p.GIF_ImageIndex = 0;
  TBitmap b;
  Solid(b, 8, 6, 200);
  EXPECT_EQ(_InsertGifIm(name, &b, p, nullpr), 2);
  std::vector<std::pair<int, int>> f = Frames(name);
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].first, 200);
}

TEST(GifEdit, LoopMarkingTwiceLeavesOneExtension) {
  TempDir dir;
  std::string name = ThreeFrames(dir.path);
  EXPECT_FALSE(_CheckGifAnimate(name));
  _GifMakeAnimate(name, 0, 8, 6);
  _GifMakeAnimate(name, 3, 8, 6);
  EXPECT_TRUE(_CheckGifAnimate(name));
  std::string bytes = ReadText(name);
  size_t first = bytes.find("NETSCAPE2.0");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(bytes.find("NETSCAPE2.0", first + 1), std::string::npos);
  EXPECT_EQ(uint8_t(bytes[first + 13]), 3);  // the second loop count
  EXPECT_EQ(Frames(name).size(), 3u);
  // Pillow plays it with the right frames, delays and loop count.
  PillowResult r = RunPillow(
      "im = Image.open(path)\n"
      "d = []\n"
      "for i in range(im.n_frames):\n"
      "    im.seek(i); d.append(str(im.info.get('duration')))\n"
      "print(im.n_frames, im.info.get('loop'), ' '.join(d))\n",
      name);
  if (!r.available) GTEST_SKIP() << r.output;
  ASSERT_TRUE(r.ok) << r.output;
  EXPECT_EQ(r.output, "3 3 100 200 300\n");
}

// Loads that find no frame, or no coder, leave the bitmap and the palette.
TEST(GifRead, NothingLoadedLeavesBitmapAndPalette) {
  TempDir dir;
  std::string name = ThreeFrames(dir.path);
  TIOParamsVals p;
  InstallGifCoders(p);
  TRGB pal[2] = {{1, 2, 3}, {4, 5, 6}};
  p.SetColorMap(pal, 2);
  p.GIF_ImageIndex = 5;
  TBitmap b(3, 2, pf24bit);
  int32_t count = 0;
  // A frame past the end fails, naming itself and the count, and changes
  // neither the bitmap nor the palette.
  EXPECT_EQ(ErrorOf([&] { ReadGif(name, &b, count, p, nullpr); }), "GIF frame 5 does not exist (the file has 3 frames)");
  EXPECT_EQ(count, 3);
  EXPECT_EQ(p.ColorMapCount, 2);
  p.GIF_ImageIndex = 0;
  p.GIF_LZWDecompFunc = nullptr;
  p.GIF_LZWCompFunc = nullptr;
  EXPECT_EQ(ErrorOf([&] { ReadGif(name, &b, count, p, nullpr); }), "LZW decompressor not found");
  EXPECT_EQ(b.Width(), 3);
  EXPECT_EQ(p.ColorMapCount, 2);
  TMemoryStream out;
  EXPECT_EQ(ErrorOf([&] { WriteGifStream(&out, &b, p, nullpr); }), "LZW compressor not found");
  EXPECT_EQ(out.Size(), 0);
}

TEST(GifRead, TwoColorTableWithLighterFirstEntryIsInverted) {
  // Entry 0 white, entry 1 black: index 1 pixels are the dark ones, bit 0.
  std::vector<uint8_t> g = MinimalGif(false, {255, 255, 255, 0, 0, 0});
  TMemoryStream s;
  s.SetData(g.data(), g.size());
  TIOParamsVals p;
  InstallGifCoders(p);
  TBitmap b;
  int32_t count = 0;
  ReadGifStream(&s, &b, count, p, nullpr, false);
  ASSERT_EQ(b.PixelFormat(), pf1bit);
  // MinimalGif's pixels: indices 0, 1, 0, 1 ... along each 8-pixel row.
  EXPECT_EQ(b.Scanline(0)[0], 0xAA);
}

// Hostile streams end in EInvalidGraphic or a partial image, without
// allocating what the data cannot fill.
struct HostileCase {
  const char* name;
  std::vector<uint8_t> (*make)();
  bool error;
};

class GifHostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(GifHostile, FailsCleanly) {
  std::vector<uint8_t> g = GetParam().make();
  TMemoryStream s;
  s.SetData(g.data(), g.size());
  TIOParamsVals p;
  InstallGifCoders(p);
  TBitmap b;
  int32_t count = 0;
  if (GetParam().error) {
    EXPECT_THROW(ReadGifStream(&s, &b, count, p, nullpr, false), EInvalidGraphic);
  } else {
    // A stream without any frame fails as such; nothing else may raise.
    try {
      ReadGifStream(&s, &b, count, p, nullpr, false);
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(count, 0) << e.what();
    }
    TouchPixels(b);
  }
}

INSTANTIATE_TEST_SUITE_P(
    All, GifHostile,
    ::testing::Values(HostileCase{"frame_over_the_limit", [] { return HugeFrameGif(60000, 60000); }, true},
                      HostileCase{"frame_larger_than_its_data", [] { return HugeFrameGif(16000, 16000); },
                                  true},
                      HostileCase{"truncated_header",
                                  [] {
                                    return std::vector<uint8_t>{'G', 'I', 'F', '8'};
                                  },
                                  true},
                      HostileCase{"not_gif", [] { return std::vector<uint8_t>(20, 'x'); }, true},
                      HostileCase{"endless_extensions", [] { return ExtensionChainGif(); }, false},
                      HostileCase{"truncated_sub_block",
                                  [] {
                                    std::vector<uint8_t> g = MinimalGif(false);
                                    g.resize(g.size() - 4);
                                    return g;
                                  },
                                  false},
                      HostileCase{"descriptor_cut",
                                  [] {
                                    std::vector<uint8_t> g = MinimalGif(false);
                                    g.resize(26);
                                    return g;
                                  },
                                  false}),
    [](const auto& info) { return std::string(info.param.name); });

// Progress goes 0, 30, 70, 100; an abort at a step ends the work there
// without an exception.
TEST(GifProgress, StepsAndAbort) {
  std::vector<int> seen;
  bool abort = false;
  int abortAt = -1;
  TProgressRec pr;
  pr.Aborting = &abort;
  pr.OnProgress = [&](TObject*, int per) {
    seen.push_back(per);
    if (per == abortAt) abort = true;
  };
  TIOParamsVals p;
  InstallGifCoders(p);
  TBitmap src;
  Solid(src, 9, 7, 60);
  TMemoryStream gif;
  WriteGifStream(&gif, &src, p, pr);
  EXPECT_EQ(seen, (std::vector<int>{0, 30, 70, 100}));

  // Reads: the full sequence, then aborts at 30 and at 70 that leave the
  // bitmap as it was.
  for (int at : {-1, 30, 70}) {
    seen.clear();
    abort = false;
    abortAt = at;
    TBitmap c(3, 2, pf24bit);
    int32_t count = 0;
    gif.SetPosition(0);
    ReadGifStream(&gif, &c, count, p, pr, false);
    EXPECT_EQ(seen.back(), at < 0 ? 100 : at);
    EXPECT_EQ(c.Width(), at < 0 ? 9 : 3);
  }

  // An aborted write leaves the header, table and descriptor, no image data.
  abort = false;
  abortAt = 70;
  p.BitsPerSample = 2;
  TMemoryStream cut;
  WriteGifStream(&cut, &src, p, pr);
  EXPECT_EQ(cut.Size(), 13 + 12 + 8 + 10);
}

TEST(GifWrite, FourBitHeader) {
  TIOParamsVals p;
  InstallGifCoders(p);
  p.BitsPerSample = 4;
  TBitmap b;
  Solid(b, 5, 3, 90);
  TMemoryStream s;
  WriteGifStream(&s, &b, p, nullpr);
  ASSERT_GT(s.Size(), 13 + 48);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), 6), "GIF89a");
  EXPECT_EQ(s.Memory()[10], 0xB3);
  EXPECT_EQ(s.Memory()[13 + 48], 0x21);  // the control extension follows the 16-entry table
  EXPECT_EQ(p.ColorMapCount, 16);
}

// A 1-bit request: two colors become a 1-bit frame with the darker color as
// bit 0; more colors are dithered by a write and kept at 8 bits by an insert.
TEST(GifWrite, OneBitRequests) {
  TIOParamsVals p;
  InstallGifCoders(p);
  p.BitsPerSample = 1;
  TBitmap two(16, 4, pf24bit), many;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 16; ++x)
      reinterpret_cast<TRGB*>(two.Scanline(y))[x] = x < 5 ? TRGB{0, 0, 255} : TRGB{255, 0, 0};  // red | blue
  Solid(many, 16, 4, 250);
  for (int y = 0; y < 4; ++y) reinterpret_cast<TRGB*>(many.Scanline(y))[0] = TRGB{0, 0, 1};
  for (int y = 0; y < 4; ++y) std::fill_n(many.Scanline(y) + 3, 3 * 7, uint8_t(5));  // dark columns 1..7

  auto load = [](TStream& s, int index, TBitmap& b, TIOParamsVals& q) {
    InstallGifCoders(q);
    q.GIF_ImageIndex = index;
    int32_t count = 0;
    s.SetPosition(0);
    ReadGifStream(&s, &b, count, q, nullpr, false);
    return count;
  };
  TMemoryStream s1, s2;
  WriteGifStream(&s1, &two, p, nullpr);
  TBitmap b1;
  TIOParamsVals q1;
  load(s1, 0, b1, q1);
  // The two colors stay the frame's own: a 24-bit picture of red and blue.
  ASSERT_EQ(b1.PixelFormat(), pf24bit);
  EXPECT_TRUE(SamePixels(b1, two));

  WriteGifStream(&s2, &many, p, nullpr);
  TBitmap b2;
  TIOParamsVals q2;
  load(s2, 0, b2, q2);
  ASSERT_EQ(b2.PixelFormat(), pf1bit);
  EXPECT_EQ(b2.Scanline(2)[0], 0x00);  // dark columns 0..7 are black
  EXPECT_EQ(b2.Scanline(2)[1], 0xFF);  // the light rest is white

  p.GIF_ImageIndex = 1;
  s1.SetPosition(0);
  EXPECT_EQ(_InsertGifImStream(&s1, &many, p, nullpr), 2);
  TBitmap b3;
  TIOParamsVals q3;
  EXPECT_EQ(load(s1, 1, b3, q3), 2);
  EXPECT_EQ(q3.BitsPerSample, 8);
  EXPECT_TRUE(SamePixels(b3, many));
}

// The vector and the scalar mapping of an image's own colors write the same
// bytes and lose no color: new colors first met in the middle of a vector
// step, rows whose length is not a multiple of the step, and a 257th color
// that sends both to the quantizer.
TEST(GifWrite, ExactColorMappingVectorAndScalarAgree) {
  TIOParamsVals p;
  InstallGifCoders(p);
  std::mt19937 rng(7);
  for (const int colors : {200, 256, 257}) {
    TBitmap b(53, 41, pf24bit);
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x) {
        // Mostly a few early colors, with the rest first appearing anywhere.
        const int k = int(rng() % 4 ? rng() % 8 : rng() % unsigned(colors));
        reinterpret_cast<TRGB*>(b.Scanline(y))[x] = TRGB{uint8_t(k * 37), uint8_t(k), uint8_t(255 - k / 2)};
      }
    for (int k = 0; k < colors; ++k)  // every color present
      reinterpret_cast<TRGB*>(b.Scanline(40))[k % 53] = TRGB{uint8_t(k * 37), uint8_t(k), uint8_t(255 - k / 2)};
    TMemoryStream vec, scalar;
    WriteGifStream(&vec, &b, p, nullpr);
    detail::SetVectorLoops(detail::VectorLoops::Scalar);
    WriteGifStream(&scalar, &b, p, nullpr);
    detail::SetVectorLoops(detail::VectorLoops::Fastest);
    ASSERT_EQ(vec.Size(), scalar.Size()) << colors;
    EXPECT_EQ(std::memcmp(vec.Memory(), scalar.Memory(), size_t(vec.Size())), 0) << colors;
    if (colors > 256) continue;
    TBitmap back;
    TIOParamsVals q;
    InstallGifCoders(q);
    int32_t count = 0;
    vec.SetPosition(0);
    ReadGifStream(&vec, &back, count, q, nullpr, false);
    back.SetPixelFormat(pf24bit);
    EXPECT_TRUE(SamePixels(back, b)) << colors;
  }
}

// Every GIF of the public suites loads or fails cleanly, and the first
// frame's pixels agree with Pillow's wherever both decode it.
TEST(GifSuites, FirstFramesMatchPillow) {
  std::vector<std::string> files = SuiteGifs();
  if (files.empty()) GTEST_SKIP() << "../shared/suites not present";
  TempDir dir;
  std::ofstream list(dir.path + "/list.txt");
  std::vector<std::pair<std::string, std::string>> loaded;  // ppm, source
  std::string rejected;
  int n = 0;
  for (const std::string& f : files) {
    TIOParamsVals p;
    InstallGifCoders(p);
    TBitmap b;
    int32_t count = 0;
    try {
      ReadGif(f, &b, count, p, nullpr);
    } catch (const EInvalidGraphic& e) {
      rejected += " " + std::filesystem::path(f).filename().string() + " (" + e.what() + ")";
      continue;
    }
    TouchPixels(b);
    if (b.Empty() || count < 1) continue;
    std::string ppm = dir.path + "/" + std::to_string(n++) + ".ppm";
    WritePPM(b, p, ppm + ".ours");
    list << f << '\t' << p.GIF_XPos << ' ' << p.GIF_YPos << ' ' << b.Width() << ' ' << b.Height() << '\t'
         << ppm << '\n';
    loaded.push_back({ppm, f});
  }
  list.close();
  std::cout << "[          ] rejected:" << rejected << "\n";
  EXPECT_GT(loaded.size(), files.size() / 2);
  PillowResult r = RunPillow(
      "for line in open(path):\n"
      "    f, box, out = line.rstrip('\\n').split('\\t')\n"
      "    x, y, w, h = map(int, box.split())\n"
      "    try:\n"
      "        im = Image.open(f); im.load()\n"
      "    except Exception:\n"
      "        continue\n"
      "    if x + w > im.size[0] or y + h > im.size[1]: continue\n"
      "    if im.mode == 'P':\n"
      "        pal = im.getpalette() or []\n"
      "        idx = im.crop((x, y, x + w, y + h)).tobytes()\n"
      "        if max(idx) * 3 >= len(pal): continue  # indices outside the table: no common answer\n"
      "        rgb = bytes(b for i in idx for b in pal[3 * i:3 * i + 3])\n"
      "    else:\n"
      "        rgb = im.convert('RGB').crop((x, y, x + w, y + h)).tobytes()\n"
      "    open(out, 'wb').write(b'P6\\n%d %d\\n255\\n' % (w, h) + rgb)\n",
      dir.path + "/list.txt");
  if (!r.available) GTEST_SKIP() << r.output;
  ASSERT_TRUE(r.ok) << r.output;
  int compared = 0;
  for (const auto& [ppm, source] : loaded) {
    int w, h, w2, h2;
    std::vector<uint8_t> theirs, ours;
    if (!ReadPPM(ppm, w, h, theirs)) continue;
    ASSERT_TRUE(ReadPPM(ppm + ".ours", w2, h2, ours));
    ASSERT_EQ(w, w2);
    ASSERT_EQ(h, h2);
    EXPECT_TRUE(theirs == ours) << source;
    ++compared;
  }
  EXPECT_GT(compared, int(loaded.size()) / 2);
}

}  // namespace
}  // namespace korvane
