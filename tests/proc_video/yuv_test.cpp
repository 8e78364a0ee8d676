// YUV frame converters: the exact BT.601 conversion, every packed and planar
// layout in both orientations, chroma sharing, odd sizes, short data, the
// four-character dispatch, and frames written by ffmpeg.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "korvane/foundations/host/graphics.h"
#include "korvane/pixels/video/yuvconv.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

// Independent reference: X / 1000 rounded half to even by integer division.
uint8_t RefRound(int64_t x) {
  int64_t q = x >= 0 ? x / 1000 : -((-x + 999) / 1000);  // floor
  int64_t r = x - q * 1000;                              // 0..999
  if (r > 500 || (r == 500 && (q & 1))) ++q;
  return uint8_t(std::clamp<int64_t>(q, 0, 255));
}

TRGB RefYUV(int Y, int U, int V) {
  int64_t y = 1164 * (Y - 16), u = U - 128, v = V - 128;
  return TRGB{RefRound(y + 2018 * u), RefRound(y - 813 * v - 391 * u), RefRound(y + 1596 * v)};
}

TRGB Conv(int Y, int U, int V) {
  TRGB p;
  YUV2RGB(Y, U, V, p);
  return p;
}

}  // namespace

TEST(YUV2RGB, KnownColors) {
  EXPECT_EQ(Conv(16, 128, 128), (TRGB{0, 0, 0}));
  EXPECT_EQ(Conv(235, 128, 128), (TRGB{255, 255, 255}));
  TRGB red = Conv(81, 90, 240);
  EXPECT_GE(red.r, 250);
  EXPECT_LE(red.g, 3);
  EXPECT_LE(red.b, 3);
  EXPECT_EQ(Conv(126, 128, 128), (TRGB{128, 128, 128}));  // 110 * 1.164 = 128.04
}

// The whole YUV cube against the integer reference; and against the
// floating-point formula wherever the value is not within rounding noise of
// a tie.
TEST(YUV2RGB, MatchesTheExactFormulaEverywhere) {
  int ties = 0;
  for (int Y = 0; Y < 256; ++Y)
    for (int U = 0; U < 256; ++U)
      for (int V = 0; V < 256; ++V) {
        TRGB got = Conv(Y, U, V), want = RefYUV(Y, U, V);
        if (!(got == want)) {
          FAIL() << "Y " << Y << " U " << U << " V " << V << ": got " << int(got.r) << "," << int(got.g)
                 << "," << int(got.b) << " want " << int(want.r) << "," << int(want.g) << "," << int(want.b);
        }
        if (U % 17 == 0 && V % 13 == 0) {
          double y = (Y - 16) * 1.164, u = U - 128, v = V - 128;
          double ch[3] = {y + 2.018 * u, y - 0.813 * v - 0.391 * u, y + 1.596 * v};
          uint8_t out[3] = {got.b, got.g, got.r};
          for (int c = 0; c < 3; ++c) {
            double frac = ch[c] - std::floor(ch[c]);
            if (std::fabs(frac - 0.5) < 1e-6) {
              ++ties;
              continue;
            }
            ASSERT_EQ(out[c], uint8_t(std::clamp(std::nearbyint(ch[c]), 0.0, 255.0)));
          }
        }
      }
  EXPECT_GT(ties, 0) << "the sample holds ties, and the reference decides them";
  EXPECT_EQ(Conv(141, 128, 128).g, 146);  // 125 * 1.164 = 145.5 exactly: the even neighbour
  EXPECT_EQ(Conv(116, 128, 128).g, 116);  // 100 * 1.164 = 116.4
}

namespace {

// Layout knowledge of the test, written from the formats' definitions: which
// pixel's luma a pixel shows, and which pixel's chroma.
struct Format {
  const char* name;
  uint32_t code;
  int pixels;  // packed: pixels per step; planar: 0
  int sub;     // planar: chroma subsampling
};

const Format kFormats[] = {
    {"UYVY", MakeFourCC('U', 'Y', 'V', 'Y'), 2, 0}, {"YUY2", MakeFourCC('Y', 'U', 'Y', '2'), 2, 0},
    {"YVYU", MakeFourCC('Y', 'V', 'Y', 'U'), 2, 0}, {"IYU1", MakeFourCC('I', 'Y', 'U', '1'), 4, 0},
    {"IYU2", MakeFourCC('I', 'Y', 'U', '2'), 1, 0}, {"Y41P", MakeFourCC('Y', '4', '1', 'P'), 8, 0},
    {"Y211", MakeFourCC('Y', '2', '1', '1'), 4, 0}, {"CLJR", MakeFourCC('C', 'L', 'J', 'R'), 4, 0},
    {"I420", MakeFourCC('I', '4', '2', '0'), 0, 2}, {"YV12", MakeFourCC('Y', 'V', '1', '2'), 0, 2},
    {"YVU9", MakeFourCC('Y', 'V', 'U', '9'), 0, 4},
};

// Per-pixel samples of a frame, already obeying the format's sharing.
struct Samples {
  int w, h;
  std::vector<uint8_t> Y, U, V;
};

// Random samples shared the way the format shares them. CLJR's values are
// widenings of 5- and 6-bit fields.
Samples MakeSamples(const Format& f, int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  Samples s{w, h, {}, {}, {}};
  const std::string n = f.name;
  auto luma = [&](int x) {  // pixel whose luma this pixel shows
    return n == "Y211" ? x & ~1 : x;
  };
  auto group = [&](int x, int y) -> std::pair<int, int> {  // chroma owner
    if (f.pixels == 0) {
      int cw = w / f.sub, ch = h / f.sub;
      if (cw == 0 || ch == 0) return {-1, -1};
      return {std::min(x / f.sub, cw - 1), std::min(y / f.sub, ch - 1)};
    }
    int step = n == "Y41P" ? 4 : f.pixels;
    return {x / step, y};
  };
  std::vector<uint8_t> rY(size_t(w * h)), rU(size_t(w * h)), rV(size_t(w * h));
  for (auto* v : {&rY, &rU, &rV})
    for (auto& b : *v) b = uint8_t(rng());
  if (n == "CLJR") {
    for (auto& b : rY) b = uint8_t((b >> 3) << 3 | (b >> 5));
    for (auto* v : {&rU, &rV})
      for (auto& b : *v) b = uint8_t((b >> 2) << 2 | (b >> 6));
  }
  s.Y.resize(size_t(w * h));
  s.U.resize(size_t(w * h));
  s.V.resize(size_t(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      size_t p = size_t(y * w + x);
      s.Y[p] = rY[size_t(y * w + luma(x))];
      auto [gx, gy] = group(x, y);
      if (gx < 0) {
        s.U[p] = s.V[p] = 128;
      } else {
        size_t g = size_t(gy * w + gx);
        s.U[p] = rU[g];
        s.V[p] = rV[g];
      }
    }
  return s;
}

// Writes the samples in the format's byte layout.
std::vector<uint8_t> Encode(const Format& f, const Samples& s) {
  std::vector<uint8_t> out;
  const std::string n = f.name;
  auto Y = [&](int x, int y) -> uint8_t { return x < s.w ? s.Y[size_t(y * s.w + x)] : 0; };
  auto U = [&](int x, int y) { return s.U[size_t(y * s.w + std::min(x, s.w - 1))]; };
  auto V = [&](int x, int y) { return s.V[size_t(y * s.w + std::min(x, s.w - 1))]; };
  if (f.pixels == 0) {
    for (int y = 0; y < s.h; ++y)
      for (int x = 0; x < s.w; ++x) out.push_back(Y(x, y));
    int cw = s.w / f.sub, ch = s.h / f.sub;
    for (int plane = 0; plane < 2; ++plane) {
      bool u = (plane == 0) == (n == "I420");
      for (int cy = 0; cy < ch; ++cy)
        for (int cx = 0; cx < cw; ++cx)
          out.push_back(u ? U(cx * f.sub, cy * f.sub) : V(cx * f.sub, cy * f.sub));
    }
    return out;
  }
  for (int y = 0; y < s.h; ++y)
    for (int x = 0; x < s.w; x += f.pixels) {
      if (n == "UYVY") out.insert(out.end(), {U(x, y), Y(x, y), V(x, y), Y(x + 1, y)});
      if (n == "YUY2") out.insert(out.end(), {Y(x, y), U(x, y), Y(x + 1, y), V(x, y)});
      if (n == "YVYU") out.insert(out.end(), {Y(x, y), V(x, y), Y(x + 1, y), U(x, y)});
      if (n == "IYU1")
        out.insert(out.end(), {U(x, y), Y(x, y), Y(x + 1, y), V(x, y), Y(x + 2, y), Y(x + 3, y)});
      if (n == "IYU2") out.insert(out.end(), {U(x, y), Y(x, y), V(x, y)});
      if (n == "Y41P")
        out.insert(out.end(), {U(x, y), Y(x, y), V(x, y), Y(x + 1, y), U(x + 4, y), Y(x + 2, y), V(x + 4, y),
                               Y(x + 3, y), Y(x + 4, y), Y(x + 5, y), Y(x + 6, y), Y(x + 7, y)});
      if (n == "Y211") out.insert(out.end(), {Y(x, y), U(x, y), Y(x + 2, y), V(x, y)});
      if (n == "CLJR") {
        uint32_t word = uint32_t(V(x, y) >> 2) | uint32_t(U(x, y) >> 2) << 6;
        for (int k = 0; k < 4; ++k) word |= uint32_t(Y(x + k, y) >> 3) << (12 + 5 * k);
        for (int k = 0; k < 4; ++k) out.push_back(uint8_t(word >> (8 * k)));
      }
    }
  return out;
}

// The bitmap every converter should produce from the samples.
void Expected(const Samples& s, bool topdown, TBitmap& out) {
  out.Allocate(s.w, s.h, pf24bit);
  for (int y = 0; y < s.h; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(out.Scanline(topdown ? y : s.h - 1 - y));
    for (int x = 0; x < s.w; ++x) {
      size_t p = size_t(y * s.w + x);
      row[x] = RefYUV(s.Y[p], s.U[p], s.V[p]);
    }
  }
}

struct ConvCase {
  Format f;
  int w, h;
};

void PrintTo(const ConvCase& c, std::ostream* os) { *os << c.f.name << " " << c.w << "x" << c.h; }

std::string CaseName(const ::testing::TestParamInfo<ConvCase>& info) {
  return std::string(info.param.f.name) + "_" + std::to_string(info.param.w) + "x" +
         std::to_string(info.param.h);
}

std::vector<ConvCase> AllCases() {
  std::vector<ConvCase> v;
  for (const Format& f : kFormats) {
    v.push_back({f, 16, 6});  // whole steps everywhere
    v.push_back({f, 70, 4});  // vector blocks, then whole steps, then a partial one
    v.push_back({f, 54, 3});  // 32- and 16-pixel vector blocks and plain steps
    v.push_back({f, 13, 5});  // a partial last step, odd height
    v.push_back({f, 1, 3});
  }
  return v;
}

}  // namespace

// Restores the default vector level after a test that changed it.
struct LevelGuard {
  ~LevelGuard() { SetYUVVectorLevel(2); }
};

class YUVConverter : public ::testing::TestWithParam<ConvCase> {};

// Every vector level (plain, SSE4.1, AVX2, as far as the processor has
// them) must give the reference pixels.
TEST_P(YUVConverter, ConvertsEveryPixelInBothOrientations) {
  const ConvCase& c = GetParam();
  Samples s = MakeSamples(c.f, c.w, c.h, unsigned(c.w * 31 + c.h));
  std::vector<uint8_t> data = Encode(c.f, s);
  ASSERT_EQ(data.size(), YUVFrameSize(c.f.code, c.w, c.h));
  bool reversed = false;
  TYUVConverter fn = FindYUVConverter(c.f.code, &reversed);
  ASSERT_NE(fn, nullptr);
  LevelGuard guard;
  for (int level : {0, 1, 2}) {
    SetYUVVectorLevel(level);
    for (bool topdown : {true, false}) {
      SCOPED_TRACE(::testing::Message() << "level " << level << (topdown ? " top-down" : " bottom-up"));
      TBitmap want, got;
      Expected(s, topdown, want);
      got.Allocate(c.w, c.h, pf24bit);
      EXPECT_TRUE(fn(data.data(), data.size(), &got, topdown));
      EXPECT_TRUE(test::SamePixels(got, want));
      // The dispatcher turns the orientation around for the reversed codes.
      TBitmap via;
      via.Allocate(c.w, c.h, pf24bit);
      EXPECT_TRUE(
          CopyYUVFrameToBitmap(c.f.code, data.data(), data.size(), &via, reversed ? !topdown : topdown));
      EXPECT_TRUE(test::SamePixels(via, want));
    }
  }
}

// One byte short: packed formats convert the rows held completely and leave
// the last one untouched; planar formats convert nothing.
TEST_P(YUVConverter, ShortDataIsNeverReadPast) {
  const ConvCase& c = GetParam();
  Samples s = MakeSamples(c.f, c.w, c.h, 7);
  std::vector<uint8_t> data = Encode(c.f, s);
  // An exactly sized heap block, so a read past it is caught.
  std::unique_ptr<uint8_t[]> shortcopy(new uint8_t[data.size() - 1]);
  std::memcpy(shortcopy.get(), data.data(), data.size() - 1);
  TBitmap want, got;
  Expected(s, true, want);
  got.Allocate(c.w, c.h, pf24bit);
  std::memset(got.Scanline(c.h - 1), 0x5A, size_t(c.w) * 3);
  EXPECT_FALSE(FindYUVConverter(c.f.code)(shortcopy.get(), data.size() - 1, &got, true));
  const TRGB* last = reinterpret_cast<const TRGB*>(got.Scanline(c.h - 1));
  EXPECT_EQ(last[0], (TRGB{0x5A, 0x5A, 0x5A})) << "the incomplete row is left alone";
  if (c.f.pixels && c.h > 1) {
    EXPECT_EQ(std::memcmp(got.Scanline(0), want.Scanline(0), size_t(c.w) * 3), 0) << "complete rows convert";
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, YUVConverter, ::testing::ValuesIn(AllCases()), CaseName);

TEST(YUVFrames, UYVYFourByTwoFillsBothRowsAndBottomUpPutsTheFirstRowLast) {
  const uint8_t frame[16] = {128, 16,  128, 16,  128, 16,  128, 16,    // black row
                             128, 235, 128, 235, 128, 235, 128, 235};  // white row
  TBitmap b;
  b.Allocate(4, 2, pf24bit);
  ASSERT_TRUE(_CopyUYVYToBitmap(frame, sizeof frame, &b, true));
  EXPECT_EQ(test::Pixel24(b, 3, 0), 0x000000u);
  EXPECT_EQ(test::Pixel24(b, 3, 1), 0xFFFFFFu);
  ASSERT_TRUE(_CopyUYVYToBitmap(frame, sizeof frame, &b, false));
  EXPECT_EQ(test::Pixel24(b, 0, 1), 0x000000u);
  EXPECT_EQ(test::Pixel24(b, 0, 0), 0xFFFFFFu);
}

// Rows 0 and 1 share the first chroma row, rows 2 and 3 the second, counted
// in data order whichever way the rows go into the bitmap.
TEST(YUVFrames, I420ChromaRowsAreSharedByPairsOfDataRows) {
  uint8_t frame[24];
  std::memset(frame, 126, 16);  // luma: mid gray
  const uint8_t u[4] = {128, 128, 200, 200}, v[4] = {128, 128, 60, 60};
  std::memcpy(frame + 16, u, 4);
  std::memcpy(frame + 20, v, 4);
  const TRGB gray = Conv(126, 128, 128), tinted = Conv(126, 200, 60);
  for (bool topdown : {true, false}) {
    TBitmap b;
    b.Allocate(4, 4, pf24bit);
    ASSERT_TRUE(_CopyI420ToBitmap(frame, sizeof frame, &b, topdown));
    for (int data_row = 0; data_row < 4; ++data_row) {
      int y = topdown ? data_row : 3 - data_row;
      const TRGB* row = reinterpret_cast<const TRGB*>(b.Scanline(y));
      EXPECT_EQ(row[1], data_row < 2 ? gray : tinted) << "data row " << data_row << " topdown " << topdown;
    }
  }
}

// The vector kernels of the 4:2:0 rows against the exact formula for every
// (Y, U, V): 64 frames of 512 x 512 whose 2 x 2 blocks carry every (U, V)
// pair and, across the frames, every luma value; each frame is converted at
// both vector levels.
TEST(YUVFrames, I420MatchesTheExactFormulaForEveryColor) {
  const int w = 512, h = 512;
  std::vector<uint8_t> frame(size_t(w) * h * 3 / 2);
  uint8_t* yp = frame.data();
  uint8_t* up = yp + size_t(w) * h;
  uint8_t* vp = up + size_t(w / 2) * (h / 2);
  for (int cy = 0; cy < h / 2; ++cy)
    for (int cx = 0; cx < w / 2; ++cx) {
      up[cy * (w / 2) + cx] = uint8_t(cx);
      vp[cy * (w / 2) + cx] = uint8_t(cy);
    }
  TBitmap want, got;
  want.Allocate(w, h, pf24bit);
  got.Allocate(w, h, pf24bit);
  LevelGuard guard;
  for (int pass = 0; pass < 64; ++pass) {
    for (int y = 0; y < h; ++y) {
      TRGB* row = reinterpret_cast<TRGB*>(want.Scanline(y));
      for (int x = 0; x < w; ++x) {
        yp[y * w + x] = uint8_t(pass * 4 + (y & 1) * 2 + (x & 1));
        row[x] = RefYUV(yp[y * w + x], x / 2, y / 2);
      }
    }
    for (int level : {1, 2}) {
      SetYUVVectorLevel(level);
      ASSERT_TRUE(_CopyI420ToBitmap(frame.data(), frame.size(), &got, true));
      ASSERT_TRUE(test::SamePixels(got, want))
          << "luma " << pass * 4 << ".." << pass * 4 + 3 << " level " << level;
    }
  }
}

TEST(YUVFrames, DispatchKnowsEveryCodeAndOnlyThose) {
  struct Code {
    const char* cc;
    TYUVConverter fn;
    bool reversed;
  };
  const Code codes[] = {{"UYVY", _CopyUYVYToBitmap, false}, {"UYNV", _CopyUYVYToBitmap, false},
                        {"cyuv", _CopyUYVYToBitmap, true},  {"YUY2", _CopyYUY2ToBitmap, false},
                        {"YUNV", _CopyYUY2ToBitmap, false}, {"YVYU", _CopyYVYUToBitmap, false},
                        {"IYU1", _CopyIYU1ToBitmap, false}, {"IYU2", _CopyIYU2ToBitmap, false},
                        {"Y41P", _CopyY41PToBitmap, true},  {"Y211", _CopyY211ToBitmap, false},
                        {"CLJR", _CopyCLJRToBitmap, false}, {"I420", _CopyI420ToBitmap, false},
                        {"IYUV", _CopyI420ToBitmap, false}, {"YV12", _CopyYV12ToBitmap, false},
                        {"YVU9", _CopyYVU9ToBitmap, false}};
  for (const Code& c : codes) {
    bool rev = !c.reversed;
    EXPECT_EQ(FindYUVConverter(MakeFourCC(c.cc[0], c.cc[1], c.cc[2], c.cc[3]), &rev), c.fn) << c.cc;
    EXPECT_EQ(rev, c.reversed) << c.cc;
  }
  bool rev = true;
  EXPECT_EQ(FindYUVConverter(MakeFourCC('R', 'G', 'B', ' '), &rev), nullptr);
  EXPECT_FALSE(rev);
  EXPECT_EQ(FindYUVConverter(MakeFourCC('u', 'y', 'v', 'y')), nullptr) << "codes compare case-sensitively";
  EXPECT_EQ(YUVFrameSize(MakeFourCC('I', '4', '2', '0'), 4, 4), 24u);
  EXPECT_EQ(YUVFrameSize(MakeFourCC('Y', 'V', 'U', '9'), 16, 8), 128u + 2 * 8);
  EXPECT_EQ(YUVFrameSize(MakeFourCC('X', 'X', 'X', 'X'), 4, 4), 0u);
}

TEST(YUVFrames, TargetsThatAreNotSized24BitAreLeftAlone) {
  const uint8_t frame[16] = {};
  TBitmap eight(4, 2, pf8bit);
  EXPECT_FALSE(_CopyUYVYToBitmap(frame, sizeof frame, &eight, true));
  TBitmap empty;
  EXPECT_FALSE(_CopyI420ToBitmap(frame, sizeof frame, &empty, true));
  TBitmap ok;
  ok.Allocate(4, 2, pf24bit);
  EXPECT_FALSE(_CopyUYVYToBitmap(nullptr, 16, &ok, true));
  EXPECT_FALSE(CopyYUVFrameToBitmap(MakeFourCC('M', 'J', 'P', 'G'), frame, sizeof frame, &ok));
}

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// The n-th video chunk ("00dc"/"00db") of the given size in an AVI file.
const uint8_t* FindFrame(const std::vector<uint8_t>& avi, int n, uint32_t size) {
  for (size_t i = 0; i + 8 + size <= avi.size(); ++i) {
    if (avi[i] == '0' && avi[i + 1] == '0' && avi[i + 2] == 'd' && (avi[i + 3] == 'c' || avi[i + 3] == 'b')) {
      uint32_t len = uint32_t(avi[i + 4]) | uint32_t(avi[i + 5]) << 8 | uint32_t(avi[i + 6]) << 16 |
                     uint32_t(avi[i + 7]) << 24;
      if (len == size && n-- == 0) return avi.data() + i + 8;
    }
  }
  return nullptr;
}

}  // namespace

struct AviCase {
  const char* file;
  const char* ref;
  int frame;
  uint32_t code;
};

class YUVFfmpegFrames : public ::testing::TestWithParam<AviCase> {};

TEST_P(YUVFfmpegFrames, MatchTheReferencePixels) {
  const AviCase& c = GetParam();
  KORVANE_REQUIRE_SHARED(avi_path, c.file);
  KORVANE_REQUIRE_SHARED(ref_path, c.ref);
  std::vector<uint8_t> avi = ReadAll(avi_path), ref = ReadAll(ref_path);
  const char* header = "P6\n64 48\n255\n";
  ASSERT_EQ(ref.size(), std::strlen(header) + 64 * 48 * 3);
  ASSERT_EQ(std::memcmp(ref.data(), header, std::strlen(header)), 0);
  const uint8_t* frame = FindFrame(avi, c.frame, 64 * 48 * 2);
  ASSERT_NE(frame, nullptr);
  TBitmap b;
  b.Allocate(64, 48, pf24bit);
  ASSERT_TRUE(CopyYUVFrameToBitmap(c.code, frame, 64 * 48 * 2, &b, true));
  const uint8_t* px = ref.data() + std::strlen(header);
  int worst = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x, px += 3) {
      const TRGB& p = reinterpret_cast<const TRGB*>(b.Scanline(y))[x];
      worst = std::max({worst, std::abs(p.r - px[0]), std::abs(p.g - px[1]), std::abs(p.b - px[2])});
    }
  EXPECT_LE(worst, 1);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, YUVFfmpegFrames,
                         ::testing::Values(AviCase{"fixtures/avi/uyvy_64x48_3f_ffmpeg.avi",
                                                   "fixtures/avi/uyvy_64x48_3f_ffmpeg.f0.ref.ppm", 0,
                                                   MakeFourCC('U', 'Y', 'V', 'Y')},
                                           AviCase{"fixtures/avi/uyvy_64x48_3f_ffmpeg.avi",
                                                   "fixtures/avi/uyvy_64x48_3f_ffmpeg.f2.ref.ppm", 2,
                                                   MakeFourCC('U', 'Y', 'V', 'Y')},
                                           AviCase{"fixtures/avi/yuy2_64x48_3f_ffmpeg.avi",
                                                   "fixtures/avi/yuy2_64x48_3f_ffmpeg.f0.ref.ppm", 0,
                                                   MakeFourCC('Y', 'U', 'Y', '2')},
                                           AviCase{"fixtures/avi/yuy2_64x48_3f_ffmpeg.avi",
                                                   "fixtures/avi/yuy2_64x48_3f_ffmpeg.f2.ref.ppm", 2,
                                                   MakeFourCC('Y', 'U', 'Y', '2')}));
