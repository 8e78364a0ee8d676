// Color quantizers: the median cut's palette and mapping, and the neural net's
// palette quality and nearest-color search.
#include "korvane/pixels/quant/quantizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "korvane/foundations/host/graphics.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

TRGB* Px(TBitmap& b, int x, int y) { return reinterpret_cast<TRGB*>(b.Scanline(y)) + x; }

// A smooth, photo-like image: overlapping color gradients with a little
// noise, so that its colors spread over a large part of the cube.
void PhotoLike(TBitmap& b, int w, int h, unsigned seed) {
  b.Allocate(w, h, pf24bit);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-6, 6);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double fx = double(x) / w, fy = double(y) / h;
      double r = 128 + 110 * std::sin(6.0 * fx + 2.0 * fy);
      double g = 128 + 100 * std::cos(4.0 * fy - 3.0 * fx * fy);
      double bl = 128 + 120 * std::sin(3.0 * (fx + fy) + 1.0);
      auto c = [&](double v) { return uint8_t(std::clamp(int(v) + noise(rng), 0, 255)); };
      *Px(b, x, y) = TRGB{c(bl), c(g), c(r)};
    }
}

// A photo-like scene: a sky gradient, textured foliage, a lit skin-toned
// ellipse, and sensor-like noise. Like a photograph it fills only a small
// part of the color cube, which an adaptive palette must exploit.
void Scene(TBitmap& b, int w, int h, unsigned seed) {
  b.Allocate(w, h, pf24bit);
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 2.5);
  for (int y = 0; y < h; ++y) {
    TRGB* row = Px(b, 0, y);
    for (int x = 0; x < w; ++x) {
      double fx = double(x) / w, fy = double(y) / h, r, g, bl;
      double horizon = 0.45 + 0.05 * std::sin(9 * fx);
      if (fy < horizon) {
        double t = fy / horizon;
        r = 80 + 100 * t;
        g = 130 + 80 * t;
        bl = 205 + 35 * t;
      } else {
        double t = (fy - horizon) / (1 - horizon);
        double tex = 0.5 + 0.5 * std::sin(40 * fx + 13 * std::sin(25 * fy)) * std::cos(31 * fy);
        r = 30 + 60 * tex - 20 * t;
        g = 70 + 80 * tex - 30 * t;
        bl = 20 + 30 * tex - 10 * t;
      }
      double dx = (fx - 0.62) / 0.16, dy = (fy - 0.5) / 0.24;
      if (dx * dx + dy * dy < 1) {
        double light =
            0.55 + 0.45 * std::clamp(1 - (dx + 0.4) * (dx + 0.4) - (dy + 0.5) * (dy + 0.5), 0.0, 1.0);
        r = 225 * light;
        g = 170 * light;
        bl = 140 * light;
      }
      auto c = [&](double v) { return uint8_t(std::clamp(int(std::lround(v + noise(rng))), 0, 255)); };
      row[x] = TRGB{c(bl), c(g), c(r)};
    }
  }
}

int L1(const TRGB& a, const TRGB& b) {
  return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}

// Mean L1 error of the image mapped through a quantizer to its palette.
template <typename Map>
double MeanError(TBitmap& b, const std::vector<TRGB>& pal, Map&& map) {
  double sum = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const TRGB& c = *Px(b, x, y);
      int i = map(c);
      EXPECT_GE(i, 0);
      EXPECT_LT(i, int(pal.size()));
      if (i < 0 || i >= int(pal.size())) return 1e9;
      sum += L1(c, pal[size_t(i)]);
    }
  return sum / (double(b.Width()) * b.Height());
}

// Mean L1 error of the image against a uniform palette of levels^3 colors.
double UniformPaletteError(TBitmap& b, int levels) {
  double step = 255.0 / (levels - 1), sum = 0;
  auto q = [&](int v) { return int(std::lround(std::round(v / step) * step)); };
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const TRGB& c = *Px(b, x, y);
      sum += std::abs(c.r - q(c.r)) + std::abs(c.g - q(c.g)) + std::abs(c.b - q(c.b));
    }
  return sum / (double(b.Width()) * b.Height());
}

TRGB Cell8(const TRGB& c) { return TRGB{uint8_t(c.b & 0xF8), uint8_t(c.g & 0xF8), uint8_t(c.r & 0xF8)}; }

const TRGB kSentinel{0xAB, 0xCD, 0xEF};

}  // namespace

TEST(MedianCut, TwoColorsGiveThoseTwoColors) {
  TBitmap b(7, 5, pf24bit);
  const TRGB red{0, 0, 255}, teal{200, 120, 3};
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) *Px(b, x, y) = (x + y) % 3 ? red : teal;
  std::vector<TRGB> pal(2, kSentinel);
  TKVQuantizer q(&b, pal.data(), 255, 2, -1, 0);
  EXPECT_EQ(q.GetMethod(), 1);
  EXPECT_EQ(q.ColorsMade(), 2);
  EXPECT_EQ(pal[size_t(q.GetRGBIndex(red))], Cell8(red));
  EXPECT_EQ(pal[size_t(q.GetRGBIndex(teal))], Cell8(teal));
  EXPECT_NE(q.GetRGBIndex(red), q.GetRGBIndex(teal));
}

TEST(MedianCut, OnePixelMakesOneBoxAndLeavesTheRestOfThePalette) {
  TBitmap b(1, 1, pf24bit);
  *Px(b, 0, 0) = TRGB{10, 100, 250};
  std::vector<TRGB> pal(256, kSentinel);
  TKVQuantizer q(&b, pal.data(), 255, 256, -1, 0);
  EXPECT_EQ(q.ColorsMade(), 1);
  EXPECT_EQ(pal[0], (TRGB{8, 96, 248}));
  for (size_t i = 1; i < pal.size(); ++i) ASSERT_EQ(pal[i], kSentinel) << i;
  for (int cell = 0; cell < 32768; cell += 7) {
    TRGB c{uint8_t((cell & 31) << 3), uint8_t(((cell >> 5) & 31) << 3), uint8_t((cell >> 10) << 3)};
    ASSERT_EQ(q.GetRGBIndex(c), 0);
  }
}

TEST(MedianCut, EmptyBitmapWritesNoPaletteAndMapsToZero) {
  TBitmap b;
  std::vector<TRGB> pal(4, kSentinel);
  TKVQuantizer q(&b, pal.data(), 255, 4, -1, 0);
  EXPECT_EQ(q.ColorsMade(), 0);
  EXPECT_EQ(pal[0], kSentinel);
  EXPECT_EQ(q.GetRGBIndex(TRGB{1, 2, 3}), 0);
}

// K distinct colors in K distinct cells quantized to K colors: every split
// must separate occupied cells, so each color gets its own exact entry.
class MedianCutDistinct : public ::testing::TestWithParam<int> {};

TEST_P(MedianCutDistinct, EachColorGetsItsOwnEntry) {
  const int k = GetParam();
  std::mt19937 rng{unsigned(k)};
  std::vector<TRGB> colors;
  std::vector<bool> used(32768);
  while (int(colors.size()) < k) {
    TRGB c{uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
    if (used[QuantCell(c)]) continue;
    used[QuantCell(c)] = true;
    colors.push_back(c);
  }
  TBitmap b(k * 3, 4, pf24bit);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < k * 3; ++x) *Px(b, x, y) = colors[size_t((x + y * 5) % k)];
  std::vector<TRGB> pal(size_t(k), kSentinel);
  TKVQuantizer q(&b, pal.data(), 255, k, -1, 0);
  EXPECT_EQ(q.ColorsMade(), k);
  std::vector<bool> hit(static_cast<size_t>(k));
  for (const TRGB& c : colors) {
    int i = q.GetRGBIndex(c);
    ASSERT_LT(i, k);
    EXPECT_EQ(pal[size_t(i)], Cell8(c));
    EXPECT_FALSE(hit[size_t(i)]) << "two colors share entry " << i;
    hit[size_t(i)] = true;
  }
}

INSTANTIATE_TEST_SUITE_P(Counts, MedianCutDistinct, ::testing::Values(3, 16, 100, 256));

// Every color of the cube maps to an entry the quantizer wrote, for any
// palette size, also colors absent from the image.
class MedianCutMapping : public ::testing::TestWithParam<int> {};

TEST_P(MedianCutMapping, EveryColorMapsToAWrittenEntry) {
  TBitmap b;
  PhotoLike(b, 97, 61, 3);
  const int n = GetParam();
  std::vector<TRGB> pal(size_t(n), kSentinel);
  TKVQuantizer q(&b, pal.data(), 255, n, -1, 0);
  ASSERT_GE(q.ColorsMade(), 1);
  ASSERT_LE(q.ColorsMade(), n);
  std::vector<int> seen(static_cast<size_t>(n));
  for (int cell = 0; cell < 32768; ++cell) {
    TRGB c{uint8_t((cell & 31) << 3 | 5), uint8_t(((cell >> 5) & 31) << 3), uint8_t((cell >> 10) << 3 | 7)};
    int i = q.GetRGBIndex(c);
    ASSERT_GE(i, 0);
    ASSERT_LT(i, q.ColorsMade()) << "cell " << cell;
    ++seen[size_t(i)];
  }
  for (int i = 0; i < q.ColorsMade(); ++i) {
    EXPECT_GT(seen[size_t(i)], 0) << "box " << i << " holds no cell";
    EXPECT_NE(pal[size_t(i)], kSentinel);
  }
  // A photo-like image has far more than n cells, so every box is made.
  EXPECT_EQ(q.ColorsMade(), n);
}

INSTANTIATE_TEST_SUITE_P(Sizes, MedianCutMapping, ::testing::Values(1, 2, 16, 200, 256));

TEST(MedianCut, PaletteApproximatesThePicture) {
  TBitmap b;
  Scene(b, 160, 120, 5);
  std::vector<TRGB> pal(256);
  TKVQuantizer q(&b, pal.data(), 255, 256, -1, 0);
  double err = MeanError(b, pal, [&](const TRGB& c) { return q.GetRGBIndex(c); });
  // A uniform palette of 216 colors; the cut adapts to the image and must do
  // clearly better.
  double uniform = UniformPaletteError(b, 6);
  EXPECT_LT(err, 0.5 * uniform) << "median cut " << err << ", uniform " << uniform;
}

TEST(MedianCut, FreeFunctionsAndOtherPixelFormatsAgreeWithTheClass) {
  TBitmap b;
  PhotoLike(b, 50, 40, 9);
  std::vector<TRGB> pal1(64), pal2(64), pal3(64);
  TKVQuantizer q(&b, pal1.data(), 255, 64, -1, 0);
  TMedianCutState* s = CreateMedianCutQuantizer(&b, pal2.data(), 255, 64);
  TBitmap b32;
  b32.Assign(&b);
  b32.SetPixelFormat(pf32bit);
  TKVQuantizer q32(&b32, pal3.data(), 255, 64, -1, 0);
  EXPECT_EQ(pal1, pal2);
  EXPECT_EQ(pal1, pal3);
  for (int cell = 0; cell < 32768; cell += 3) {
    TRGB c{uint8_t((cell & 31) << 3), uint8_t(((cell >> 5) & 31) << 3), uint8_t((cell >> 10) << 3)};
    ASSERT_EQ(q.GetRGBIndex(c), MedianCutFindIndex(s, c));
    ASSERT_EQ(q.GetRGBIndex(c), q32.GetRGBIndex(c));
  }
  FreeMedianCutQuantizer(s);
}

TEST(NeuralNet, SamplingFactor) {
  EXPECT_EQ(NeuralSamplingFactor(-1, 1999), 1);
  EXPECT_EQ(NeuralSamplingFactor(-1, 100000), 11);  // round(1274000 / 148000 + 2)
  EXPECT_EQ(NeuralSamplingFactor(-1, 12000000), 30);
  EXPECT_EQ(NeuralSamplingFactor(100, 12000000), 1);
  EXPECT_EQ(NeuralSamplingFactor(50, 10), 15);
  EXPECT_EQ(NeuralSamplingFactor(0, 10), 30);
  EXPECT_EQ(NeuralSamplingFactor(-50, 10), 30);
}

TEST(NeuralNet, FourThousandColorsApproximateAPhotograph) {
  TBitmap b;
  Scene(b, 192, 128, 11);
  const int n = 4096;
  std::vector<TRGB> pal(n);
  TKVQuantizer q(&b, pal.data(), 0x7FFFFFF, n, -1, 0);
  EXPECT_EQ(q.GetMethod(), 0);
  double err = MeanError(b, pal, [&](const TRGB& c) { return q.GetRGBIndex(c); });
  double uniform = UniformPaletteError(b, 16);  // 4096 colors
  EXPECT_LT(err, 0.5 * uniform) << "neural net " << err << ", uniform " << uniform;
}

// The green-sorted search returns an entry at the smallest L1 distance, for
// colors in and out of the image.
TEST(NeuralNet, SearchFindsTheNearestEntry) {
  TBitmap b;
  PhotoLike(b, 80, 60, 13);
  const int n = 300;
  std::vector<TRGB> pal(n);
  TKVQuantizer q(&b, pal.data(), 255, n, 100, 0);
  std::mt19937 rng(1);
  for (int t = 0; t < 3000; ++t) {
    TRGB c{uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
    if (t % 2) c = *Px(b, int(rng() % 80), int(rng() % 60));
    int best = INT32_MAX;
    for (const TRGB& p : pal) best = std::min(best, L1(c, p));
    int i = q.GetRGBIndex(c);
    ASSERT_GE(i, 0);
    ASSERT_LT(i, n);
    ASSERT_EQ(L1(c, pal[size_t(i)]), best) << "color " << int(c.r) << "," << int(c.g) << "," << int(c.b);
  }
}

// One color seen in 40000 samples: the frequency bias makes many neurons win
// in turn, and the color is learnt exactly.
TEST(NeuralNet, OneColorImageWithManySamples) {
  TBitmap b(400, 100, pf24bit);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 400; ++x) *Px(b, x, y) = TRGB{30, 60, 90};
  std::vector<TRGB> pal(300);
  TKVQuantizer q(&b, pal.data(), 255, 300, 100, 0);
  EXPECT_EQ(pal[size_t(q.GetRGBIndex(TRGB{30, 60, 90}))], (TRGB{30, 60, 90}));
}

TEST(NeuralNet, TinyAndEmptyImagesStillGiveAUsablePalette) {
  TBitmap one(1, 1, pf24bit);
  *Px(one, 0, 0) = TRGB{0, 255, 0};
  std::vector<TRGB> pal(512);
  TKVQuantizer q(&one, pal.data(), 255, 512, -1, 0);
  EXPECT_EQ(pal[size_t(q.GetRGBIndex(TRGB{0, 255, 0}))], (TRGB{0, 255, 0}))
      << "the only color is learnt exactly";
  TBitmap empty;
  TKVQuantizer e(&empty, pal.data(), 255, 512, -1, 0);
  EXPECT_LT(e.GetRGBIndex(TRGB{1, 2, 3}), 512);
}
