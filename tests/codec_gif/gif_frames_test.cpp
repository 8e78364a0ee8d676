// Whole animations: the one-walk frame index reads what ReadGifStream reads,
// and the one-pass writer writes what WriteGifStream followed by
// _InsertGifImStream writes.
#include <gtest/gtest.h>

#include "korvane/foundations/kvutils.h"
#include "korvane/io/codecs/gif/gif_codec.h"
#include "tests/codec_gif/gif_test_util.h"

namespace korvane {
namespace {

using namespace korvane::test;

// Frames of every kind the writer handles: few colors, bilevel, more colors
// than the palette (quantized), a 4-bit request; with their own delays,
// positions, transparency and interlacing.
struct Frames {
  std::vector<TBitmap> bmp;
  std::vector<TIOParamsVals> par;
  Frames() : bmp(4), par(4) {
    Solid(bmp[0], 20, 10, 40);
    bmp[0].Scanline(3)[5] = 200;
    bmp[1].Allocate(17, 9, pf1bit);
    for (int y = 0; y < 9; ++y) bmp[1].Scanline(y)[y % 3] = 0xA5;
    FillPattern24(bmp[2], 33, 21, 7);
    FillPattern24(bmp[3], 12, 12, 9);
    const int bits[4] = {8, 1, 8, 4};
    for (int i = 0; i < 4; ++i) {
      InstallGifCoders(par[i]);
      par[i].BitsPerSample = bits[i];
      par[i].GIF_DelayTime = 3 * i;
      par[i].GIF_XPos = i;
      par[i].GIF_YPos = 2 * i;
      par[i].GIF_Interlaced = i == 2;
      par[i].GIF_FlagTranspColor = i == 3;
    }
  }
};

std::vector<uint8_t> Bytes(TMemoryStream& s) { return {s.Memory(), s.Memory() + s.Size()}; }

// What ReadGifStream and the index give must agree field by field.
void ExpectSameFrame(TBitmap& a, const TIOParamsVals& pa, TBitmap& b, const TIOParamsVals& pb, int i) {
  SCOPED_TRACE("frame " + std::to_string(i));
  if (a.Empty() || b.Empty())
    EXPECT_EQ(a.Empty(), b.Empty());
  else
    EXPECT_TRUE(SamePixels(a, b));
  EXPECT_EQ(pa.Width, pb.Width);
  EXPECT_EQ(pa.Height, pb.Height);
  EXPECT_EQ(pa.BitsPerSample, pb.BitsPerSample);
  EXPECT_EQ(pa.GIF_DelayTime, pb.GIF_DelayTime);
  EXPECT_EQ(pa.GIF_XPos, pb.GIF_XPos);
  EXPECT_EQ(pa.GIF_YPos, pb.GIF_YPos);
  EXPECT_EQ(pa.GIF_Interlaced, pb.GIF_Interlaced);
  EXPECT_EQ(pa.GIF_FlagTranspColor, pb.GIF_FlagTranspColor);
  EXPECT_EQ(TRGB2TColor(pa.GIF_TranspColor), TRGB2TColor(pb.GIF_TranspColor));
  EXPECT_EQ(TRGB2TColor(pa.GIF_Background), TRGB2TColor(pb.GIF_Background));
  EXPECT_EQ(pa.GIF_Version, pb.GIF_Version);
  ASSERT_EQ(pa.ColorMapCount, pb.ColorMapCount);
  for (int k = 0; k < pa.ColorMapCount; ++k)
    EXPECT_EQ(TRGB2TColor(pa.ColorMap[k]), TRGB2TColor(pb.ColorMap[k]));
}

// Every frame of the stream through both readers; both raise alike.
void ExpectIndexMatchesReader(TStream& s) {
  int32_t count = 0;
  TIOParamsVals first;
  InstallGifCoders(first);
  TBitmap ignored;
  s.SetPosition(0);
  // A file without frames: the reader refuses frame 0, the index is empty.
  const std::string none = ErrorOf([&] { ReadGifStream(&s, &ignored, count, first, nullpr, true); });
  s.SetPosition(0);
  TGifFrameIndex index(&s);
  if (!none.empty()) {
    EXPECT_EQ(index.Count(), 0) << none;
    return;
  }
  ASSERT_EQ(index.Count(), count);
  for (int i = 0; i < count; ++i) {
    TIOParamsVals pa, pb;
    InstallGifCoders(pa);
    InstallGifCoders(pb);
    pa.GIF_ImageIndex = i;
    TBitmap a, b;
    const std::string ea = ErrorOf([&] {
      s.SetPosition(0);
      int32_t n = 0;
      ReadGifStream(&s, &a, n, pa, nullpr, false);
    });
    const std::string eb = ErrorOf([&] { index.Read(i, &b, pb, nullpr); });
    EXPECT_EQ(ea, eb) << "frame " << i;
    if (ea.empty() && eb.empty()) ExpectSameFrame(a, pa, b, pb, i);
  }
}

TEST(GifFrames, WriterGivesTheBytesOfWriteThenInsert) {
  Frames f;
  TMemoryStream old;
  WriteGifStream(&old, &f.bmp[0], f.par[0], nullpr);
  for (int i = 1; i < 4; ++i) {
    old.SetPosition(0);
    TIOParamsVals p;
    p.Assign(&f.par[i]);
    p.GIF_ImageIndex = i;
    _InsertGifImStream(&old, &f.bmp[i], p, nullpr);
  }
  Frames g;
  TMemoryStream now;
  TGifFrameWriter w(&now);
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(w.Add(&g.bmp[i], g.par[i], nullpr));
    // Complete after every frame.
    TMemoryStream copy;
    copy.SetData(now.Memory(), size_t(now.Size()));
    TGifFrameIndex idx(&copy);
    EXPECT_EQ(idx.Count(), i + 1);
  }
  // The same bytes but for the logical screen, which grows to hold every
  // frame at its position.
  std::vector<uint8_t> a = Bytes(now), b = Bytes(old);
  ASSERT_GE(a.size(), 10u);
  int sw = 0, sh = 0;
  for (int i = 0; i < 4; ++i) {
    sw = std::max(sw, g.par[i].GIF_XPos + g.bmp[i].Width());
    sh = std::max(sh, g.par[i].GIF_YPos + g.bmp[i].Height());
  }
  EXPECT_EQ(a[6] | a[7] << 8, sw);
  EXPECT_EQ(a[8] | a[9] << 8, sh);
  std::copy(a.begin() + 6, a.begin() + 10, b.begin() + 6);
  EXPECT_EQ(a, b);
  // The first frame's palette went into its record, as WriteGifStream does.
  EXPECT_EQ(g.par[0].ColorMapCount, f.par[0].ColorMapCount);
  ExpectIndexMatchesReader(now);
}

TEST(GifFrames, IndexReadsWhatTheReaderReads) {
  // Hand-made: comment and application extensions, a frame without a
  // graphic control extension after one with it, two extensions before one
  // frame (the last counts), a local table, and a last frame cut short.
  std::vector<uint8_t> one = MinimalGif(false);
  one.pop_back();  // trailer
  std::vector<uint8_t> g(one.begin(), one.begin() + 19);
  const std::vector<uint8_t> frame(one.begin() + 19, one.end());
  auto gce = [&](uint8_t delay, uint8_t transp) {
    g.insert(g.end(), {0x21, 0xF9, 4, 1, delay, 0, transp, 0});
  };
  g.insert(g.end(), {0x21, 0xFE, 2, 'h', 'i', 0});
  gce(7, 1);
  g.insert(g.end(), frame.begin(), frame.end());
  g.insert(g.end(), frame.begin(), frame.end());
  gce(9, 0);
  g.insert(g.end(), {0x21, 0xFF, 3, 'a', 'b', 'c', 0});
  gce(11, 1);
  std::vector<uint8_t> local = frame;
  local[9] |= 0x80;  // a 2-entry local table: red and blue
  local.insert(local.begin() + 10, {255, 0, 0, 0, 0, 255});
  g.insert(g.end(), local.begin(), local.end());
  g.insert(g.end(), frame.begin(), frame.begin() + int(frame.size()) - 4);
  TMemoryStream s;
  s.SetData(g.data(), g.size());
  ExpectIndexMatchesReader(s);

  // Every GIF of the public suites, where present.
  for (const std::string& name : SuiteGifs()) {
    SCOPED_TRACE(name);
    TMemoryStream m;
    m.LoadFromFile(name);
    const std::string err = ErrorOf([&] { TGifFrameIndex probe(&m); });
    if (!err.empty()) {
      int32_t n = 0;
      TIOParamsVals p;
      TBitmap b;
      m.SetPosition(0);
      EXPECT_EQ(ErrorOf([&] { ReadGifStream(&m, &b, n, p, nullpr, true); }), err);
      continue;
    }
    ExpectIndexMatchesReader(m);
  }
}

}  // namespace
}  // namespace korvane
