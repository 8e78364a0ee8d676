// The filtered resamplers against a plain double-precision resampler of the
// same definition, and the properties the view and the processing component
// rely on: identity, symmetry, flat areas, progress, odd inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "korvane/foundations/host/halftone.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/vector_loops.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

const TResampleFilter kFilters[] = {rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell};

std::string FilterName(TResampleFilter f) {
  static const char* names[] = {"None", "Triangle", "Hermite", "Bell", "BSpline", "Lanczos3", "Mitchell"};
  return names[f];
}

// ---------------------------------------------------------------------------
// Reference: two passes in doubles, written out plainly.

int RefReflect(long long j, int n) {
  while (j < 0 || j >= n) j = j < 0 ? -j - 1 : 2LL * n - j - 1;
  return int(j);
}

struct RefList {
  std::vector<int> index;
  std::vector<double> weight;
};

std::vector<RefList> RefContributors(int src, int dst, TResampleFilter f) {
  const TResampleFilterDef& def = ResampleFilters[f];
  const double scale = double(dst) / src;
  const double width = scale < 1 ? def.Support / scale : def.Support;
  std::vector<RefList> lists(static_cast<size_t>(dst));
  for (int i = 0; i < dst; ++i) {
    const double c = (i + 0.5) / scale - 0.5;
    double sum = 0;
    for (long long j = (long long)std::floor(c - width); j <= (long long)std::ceil(c + width); ++j) {
      const double w = def.Kernel(scale < 1 ? (c - j) * scale : c - j);
      if (w == 0) continue;
      lists[size_t(i)].index.push_back(RefReflect(j, src));
      lists[size_t(i)].weight.push_back(w);
      sum += w;
    }
    for (double& w : lists[size_t(i)].weight) w /= sum;
  }
  return lists;
}

uint8_t RefClamp(double v) {
  if (v > 255) return 255;
  if (v < 0) return 0;
  return uint8_t(std::lround(v));
}

// Rows of pixels as bytes b, g, r.
using Image = std::vector<std::vector<uint8_t>>;

Image ToImage(TBitmap& b) {
  Image img(static_cast<size_t>(b.Height()));
  for (int y = 0; y < b.Height(); ++y) img[size_t(y)].assign(b.Scanline(y), b.Scanline(y) + b.Width() * 3);
  return img;
}

Image RefResample(const Image& in, int sw, int sh, int dw, int dh, TResampleFilter f) {
  const std::vector<RefList> hx = RefContributors(sw, dw, f), vy = RefContributors(sh, dh, f);
  Image mid(static_cast<size_t>(sh), std::vector<uint8_t>(size_t(dw) * 3));
  for (int y = 0; y < sh; ++y)
    for (int x = 0; x < dw; ++x)
      for (int ch = 0; ch < 3; ++ch) {
        double v = 0;
        const RefList& l = hx[size_t(x)];
        for (size_t k = 0; k < l.index.size(); ++k)
          v += l.weight[k] * in[size_t(y)][size_t(l.index[k]) * 3 + size_t(ch)];
        mid[size_t(y)][size_t(x) * 3 + size_t(ch)] = RefClamp(v);
      }
  Image out(static_cast<size_t>(dh), std::vector<uint8_t>(size_t(dw) * 3));
  for (int x = 0; x < dw * 3; ++x)
    for (int y = 0; y < dh; ++y) {
      double v = 0;
      const RefList& l = vy[size_t(y)];
      for (size_t k = 0; k < l.index.size(); ++k) v += l.weight[k] * mid[size_t(l.index[k])][size_t(x)];
      out[size_t(y)][size_t(x)] = RefClamp(v);
    }
  return out;
}

// A smooth picture with some sharp edges and noise: every kind of content a
// kernel can meet.
void FillMixed(TBitmap& b, int w, int h, unsigned seed) {
  test::FillPattern24(b, w, h, seed);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.Scanline(y);
    for (int x = 0; x < w; ++x) {
      if ((x / 5 + y / 3) % 3 == 0) continue;  // leave noise here
      row[3 * x] = uint8_t(x * 255 / std::max(1, w - 1));
      row[3 * x + 1] = uint8_t(y * 255 / std::max(1, h - 1));
      row[3 * x + 2] = (x / 4 + y / 4) % 2 ? 255 : 0;
    }
  }
}

int MaxDifference(const Image& a, TBitmap& b) {
  int worst = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width() * 3; ++x)
      worst = std::max(worst, std::abs(int(a[size_t(y)][size_t(x)]) - int(b.Scanline(y)[x])));
  return worst;
}

// ---------------------------------------------------------------------------

struct Sizes {
  int sw, sh, dw, dh;
};

class ResampleAgainstReference : public ::testing::TestWithParam<std::tuple<TResampleFilter, Sizes>> {};

TEST_P(ResampleAgainstReference, FastPathWithinOneOfDoublePrecision) {
  const auto [f, s] = GetParam();
  TBitmap src;
  FillMixed(src, s.sw, s.sh, unsigned(s.sw * 31 + s.dh));
  TBitmap dst(s.dw, s.dh, pf24bit);
  _Resample(&src, &dst, f, nullptr, nullptr);
  ASSERT_EQ(dst.PixelFormat(), pf24bit);
  ASSERT_EQ(dst.Width(), s.dw);
  ASSERT_EQ(dst.Height(), s.dh);
  EXPECT_LE(MaxDifference(RefResample(ToImage(src), s.sw, s.sh, s.dw, s.dh, f), dst), 1);
}

// The AVX2 loops (where the processor has them), the SSE2 ones and the
// scalar ones give the same pixels.
TEST_P(ResampleAgainstReference, VectorAndScalarLoopsAgree) {
  const auto [f, s] = GetParam();
  TBitmap src;
  FillMixed(src, s.sw, s.sh, 7);
  for (bool quick : {false, true}) {
    TBitmap b(s.dw, s.dh, pf24bit);
    detail::ResampleWith(&src, &b, f, quick, detail::ResampleLoops::Scalar, nullptr, nullptr);
    for (auto widest : {detail::VectorLoops::Fastest, detail::VectorLoops::Scalar}) {
      detail::SetVectorLoops(widest);
      TBitmap a(s.dw, s.dh, pf24bit);
      detail::ResampleWith(&src, &a, f, quick, detail::ResampleLoops::Fastest, nullptr, nullptr);
      detail::SetVectorLoops(detail::VectorLoops::Fastest);
      EXPECT_TRUE(test::SamePixels(a, b)) << (quick ? "quick" : "full")
                                          << (widest == detail::VectorLoops::Fastest ? " avx2" : " sse2");
    }
  }
}

const Sizes kSizes[] = {
    {37, 23, 80, 50},      // enlarge
    {64, 48, 17, 13},      // shrink
    {60, 20, 25, 45},      // shrink across, enlarge down
    {41, 29, 41, 29},      // equal size
    {1, 1, 5, 3},          // a single pixel (kernels reach far past both edges)
    {3, 2, 1, 1},          // to a single pixel
    {50, 1, 7, 9},         // a single row
    {2, 7, 9, 2},          // narrow
    {300, 5, 3, 5},        // strong shrink: long lists
    {400, 9, 90, 4},       // shrink with many long lists inside the row
    {211, 157, 331, 223},  // large enough for rounding coincidences
    {256, 199, 255, 200},  // nearly equal size
};

INSTANTIATE_TEST_SUITE_P(AllFilters, ResampleAgainstReference,
                         ::testing::Combine(::testing::ValuesIn(kFilters), ::testing::ValuesIn(kSizes)),
                         [](const auto& info) {
                           const Sizes s = std::get<1>(info.param);
                           return FilterName(std::get<0>(info.param)) + "_" + std::to_string(s.sw) + "x" +
                                  std::to_string(s.sh) + "_to_" + std::to_string(s.dw) + "x" +
                                  std::to_string(s.dh);
                         });

// ---------------------------------------------------------------------------

class ResampleEachFilter : public ::testing::TestWithParam<TResampleFilter> {};

TEST_P(ResampleEachFilter, SymmetricImageStaysSymmetric) {
  const TResampleFilter f = GetParam();
  TBitmap src;
  const int w = 23, h = 11;
  FillMixed(src, w, h, 3);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = src.Scanline(y);
    for (int x = 0; x < w / 2; ++x) std::memcpy(row + 3 * (w - 1 - x), row + 3 * x, 3);
  }
  for (int dw : {57, 9, 8}) {
    for (bool quick : {false, true}) {
      TBitmap dst(dw, 14, pf24bit);
      if (quick)
        _QuickResample(&src, &dst, f, nullptr, nullptr);
      else
        _Resample(&src, &dst, f, nullptr, nullptr);
      for (int y = 0; y < dst.Height(); ++y)
        for (int x = 0; x < dw / 2; ++x)
          ASSERT_EQ(test::Pixel24(dst, x, y), test::Pixel24(dst, dw - 1 - x, y))
              << "width " << dw << (quick ? " quick" : "") << " at " << x << "," << y;
    }
  }
}

TEST_P(ResampleEachFilter, FlatImageStaysFlat) {
  // Normalised lists: a uniform area keeps its exact value at any scale,
  // including white (where an unnormalised kernel would darken it).
  TBitmap src(13, 9, pf24bit);
  for (uint8_t v : {uint8_t(255), uint8_t(77)}) {
    for (int y = 0; y < 9; ++y) std::memset(src.Scanline(y), v, 13 * 3);
    for (Sizes s : {Sizes{0, 0, 40, 31}, Sizes{0, 0, 5, 4}, Sizes{0, 0, 13, 20}}) {
      TBitmap dst(s.dw, s.dh, pf24bit);
      _Resample(&src, &dst, GetParam(), nullptr, nullptr);
      for (int y = 0; y < s.dh; ++y)
        for (int x = 0; x < s.dw * 3; ++x) ASSERT_EQ(dst.Scanline(y)[x], v) << s.dw << "x" << s.dh;
    }
  }
}

TEST_P(ResampleEachFilter, ProgressClimbsToTheLastUnitAndCarriesTheSender) {
  TBitmap src;
  FillMixed(src, 30, 40, 1);
  TBitmap dst(50, 25, pf24bit);
  TObject sender;
  std::vector<int> seen;
  TObject* from = nullptr;
  for (bool quick : {false, true}) {
    seen.clear();
    auto ev = [&](TObject* s, int per) {
      from = s;
      seen.push_back(per);
    };
    if (quick)
      _QuickResample(&src, &dst, GetParam(), ev, &sender);
    else
      _Resample(&src, &dst, GetParam(), ev, &sender);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(from, &sender);
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i - 1], seen[i]);
    EXPECT_GE(seen.front(), 0);
    // n = destination width + source height = 90 units.
    EXPECT_EQ(seen.back(), int(90 * 100 / 90.5));
  }
}

INSTANTIATE_TEST_SUITE_P(AllFilters, ResampleEachFilter, ::testing::ValuesIn(kFilters),
                         [](const auto& info) { return FilterName(info.param); });

// ---------------------------------------------------------------------------

TEST(Resample, TriangleAtEqualSizeIsTheIdentity) {
  for (int w : {1, 2, 5, 16, 33}) {
    TBitmap src, dst(w, 7, pf24bit);
    test::FillPattern24(src, w, 7, unsigned(w));
    _Resample(&src, &dst, rfTriangle, nullptr, nullptr);
    EXPECT_TRUE(test::SamePixels(src, dst)) << "width " << w;
  }
}

TEST(Resample, NoFilterTakesTheNearestPixel) {
  TBitmap src;
  test::FillPattern24(src, 4, 3, 9);
  for (TResampleFilter f : {rfNone, TResampleFilter(7)}) {
    TBitmap dst(8, 6, pf24bit);
    _Resample(&src, &dst, f, nullptr, nullptr);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(test::Pixel24(dst, x, y), test::Pixel24(src, x / 2, y / 2));
    TBitmap small(2, 1, pf24bit);
    _QuickResample(&src, &small, f, nullptr, nullptr);
    EXPECT_EQ(test::Pixel24(small, 0, 0), test::Pixel24(src, 1, 1));
    EXPECT_EQ(test::Pixel24(small, 1, 0), test::Pixel24(src, 3, 1));
  }
}

TEST(Resample, OneBitSourceIsWidenedFirst) {
  TBitmap mono(10, 6, pf1bit);
  for (int y = 0; y < 6; ++y) mono.Scanline(y)[0] = mono.Scanline(y)[1] = uint8_t(0xA5 ^ (y * 0x11));
  TBitmap wide;
  TProgressRec quiet;
  _Conv1to24(&mono, &wide, quiet);
  TBitmap a(23, 9, pf1bit), b(23, 9, pf24bit);
  _Resample(&mono, &a, rfMitchell, nullptr, nullptr);
  _Resample(&wide, &b, rfMitchell, nullptr, nullptr);
  EXPECT_EQ(a.PixelFormat(), pf24bit);
  EXPECT_TRUE(test::SamePixels(a, b));
}

TEST(Resample, EmptySourceOrDestinationChangesNothing) {
  TBitmap empty;
  TBitmap dst;
  test::FillPattern24(dst, 5, 4, 2);
  TBitmap before;
  before.Assign(&dst);
  _Resample(&empty, &dst, rfLanczos3, nullptr, nullptr);
  _QuickResample(&empty, &dst, rfLanczos3, nullptr, nullptr);
  EXPECT_TRUE(test::SamePixels(before, dst));
  TBitmap src;
  test::FillPattern24(src, 5, 4, 3);
  TBitmap flat(0, 7, pf1bit);
  _Resample(&src, &flat, rfLanczos3, nullptr, nullptr);
  EXPECT_EQ(flat.Width(), 0);
  EXPECT_EQ(flat.PixelFormat(), pf1bit);
  _Resample(nullptr, &dst, rfTriangle, nullptr, nullptr);
  _Resample(&src, nullptr, rfTriangle, nullptr, nullptr);
}

TEST(Resample, SourceMayBeTheDestination) {
  TBitmap a, b(9, 9, pf24bit);
  FillMixed(a, 9, 9, 5);
  _Resample(&a, &b, rfBell, nullptr, nullptr);
  _Resample(&a, &a, rfBell, nullptr, nullptr);
  EXPECT_TRUE(test::SamePixels(a, b));
}

// ---------------------------------------------------------------------------

TEST(QuickResample, EnlargingFiltersLikeResample) {
  TBitmap src;
  FillMixed(src, 21, 17, 4);
  for (TResampleFilter f : kFilters) {
    TBitmap a(50, 17, pf24bit), b(50, 17, pf24bit);
    _Resample(&src, &a, f, nullptr, nullptr);
    _QuickResample(&src, &b, f, nullptr, nullptr);
    EXPECT_TRUE(test::SamePixels(a, b)) << FilterName(f);
  }
}

TEST(QuickResample, ShrinkingDirectionsUseTheHalftoneStretch) {
  TBitmap src;
  FillMixed(src, 40, 30, 6);
  // Both directions shrink: the stretch alone.
  TBitmap a(13, 11, pf24bit), b(13, 11, pf24bit);
  _QuickResample(&src, &a, rfLanczos3, nullptr, nullptr);
  HalftoneStretch(&b, &src);
  EXPECT_TRUE(test::SamePixels(a, b));
  // Across shrinks, down enlarges: the stretch across, then the filter down
  // (a triangle at equal width changes nothing across).
  TBitmap c(13, 70, pf24bit), mid(13, 30, pf24bit), d(13, 70, pf24bit);
  _QuickResample(&src, &c, rfTriangle, nullptr, nullptr);
  HalftoneStretch(&mid, &src);
  _Resample(&mid, &d, rfTriangle, nullptr, nullptr);
  EXPECT_TRUE(test::SamePixels(c, d));
  // And the other way round.
  TBitmap e(90, 10, pf24bit), mid2(90, 30, pf24bit), g(90, 10, pf24bit);
  _QuickResample(&src, &e, rfTriangle, nullptr, nullptr);
  _Resample(&src, &mid2, rfTriangle, nullptr, nullptr);
  HalftoneStretch(&g, &mid2);
  EXPECT_TRUE(test::SamePixels(e, g));
}

// ---------------------------------------------------------------------------

struct KernelPoint {
  TResampleFilter f;
  double x, expected;
};

class ResampleKernel : public ::testing::TestWithParam<KernelPoint> {};

TEST_P(ResampleKernel, MatchesItsFormula) {
  const KernelPoint p = GetParam();
  const TResampleFilterDef& d = ResampleFilters[p.f];
  EXPECT_NEAR(d.Kernel(p.x), p.expected, 1e-12);
  EXPECT_NEAR(d.Kernel(-p.x), p.expected, 1e-12);
  EXPECT_EQ(d.Kernel(d.Support), 0.0);
  EXPECT_EQ(d.Kernel(d.Support + 0.25), 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Points, ResampleKernel,
    ::testing::Values(KernelPoint{rfTriangle, 0, 1}, KernelPoint{rfTriangle, 0.25, 0.75},
                      KernelPoint{rfHermite, 0.5, 0.5}, KernelPoint{rfHermite, 0.25, 0.84375},
                      KernelPoint{rfBell, 0.25, 0.6875}, KernelPoint{rfBell, 1, 0.125},
                      KernelPoint{rfBSpline, 0, 2.0 / 3}, KernelPoint{rfBSpline, 1.5, 0.125 / 6},
                      KernelPoint{rfLanczos3, 0, 1}, KernelPoint{rfLanczos3, 1, 0},
                      KernelPoint{rfLanczos3, 0.5, (2 / M_PI) * (std::sin(M_PI / 6) * 6 / M_PI)},
                      KernelPoint{rfMitchell, 0, 16.0 / 18}, KernelPoint{rfMitchell, 1, 1.0 / 18}));

TEST(ResampleKernelTable, SupportsAndNoKernelForNone) {
  EXPECT_EQ(ResampleFilters[rfNone].Kernel, nullptr);
  const double supports[] = {0, 1, 1, 1.5, 2, 3, 2};
  for (int f = rfTriangle; f <= rfMitchell; ++f) EXPECT_EQ(ResampleFilters[f].Support, supports[f]) << f;
}

}  // namespace
