// Convolution filters: the procedure against a plain per-pixel convolution,
// the filter file, and the operation's use of the selection.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "korvane/foundations/kvutils.h"
#include "korvane/proc/kvproc.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

TRGB& At(TBitmap& b, int x, int y) { return reinterpret_cast<TRGB*>(b.Scanline(y))[x]; }
uint8_t Clamp(long long v) { return uint8_t(std::clamp(v, 0LL, 255LL)); }

// Straightforward convolution of the original image: edge neighbours clamped
// to the image, every channel on its own, truncating division, clamped.
void ReferenceFilter(TBitmap& src, const TGraphFilter& f, int x1, int y1, int x2, int y2, TBitmap& out) {
  out.Assign(&src);
  const int w = src.Width(), h = src.Height();
  const int div = f.Divisor == 0 ? 1 : f.Divisor;
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x) {
      long long s[3] = {0, 0, 0};
      for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) {
          const TRGB p = At(src, std::clamp(x + i, 0, w - 1), std::clamp(y + j, 0, h - 1));
          const int k = f.Values[j + 1][i + 1];
          s[0] += (long long)k * p.b;
          s[1] += (long long)k * p.g;
          s[2] += (long long)k * p.r;
        }
      At(out, x, y) = TRGB{Clamp(s[0] / div), Clamp(s[1] / div), Clamp(s[2] / div)};
    }
}

struct FilterCase {
  const char* name;
  TGraphFilter filter;
  int w, h;
  int x1, y1, x2, y2;  // x2, y2 may reach past the image
};

class FilterMatchesReference : public testing::TestWithParam<FilterCase> {};

TEST_P(FilterMatchesReference, SamePixels) {
  const FilterCase& c = GetParam();
  TBitmap img, ref;
  test::FillPattern24(img, c.w, c.h, 7);
  ReferenceFilter(img, c.filter, c.x1, c.y1, std::min(c.x2, c.w - 1), std::min(c.y2, c.h - 1), ref);
  _ApplyFilter(&img, c.filter, c.x1, c.y1, c.x2, c.y2);
  EXPECT_TRUE(test::SamePixels(img, ref));
}

std::vector<FilterCase> FilterCases() {
  std::vector<FilterCase> v;
  const char* names[] = {"none", "blur", "edge", "emboss", "hp1", "hp2", "hp3", "lp1", "lp2"};
  for (int p = fpNone; p <= LowPass2; ++p) v.push_back({names[p], KVFiltPres[p], 23, 17, 0, 0, 22, 16});
  // Inside a rectangle the neighbours beyond it are the untouched image.
  v.push_back({"hp2_inner_rect", KVFiltPres[fpHighPass2], 20, 15, 4, 3, 12, 9});
  v.push_back({"blur_rect_past_edge", KVFiltPres[fpBlur], 20, 15, 10, 5, 99, 99});
  v.push_back({"one_pixel_wide", KVFiltPres[fpHighPass1], 1, 9, 0, 0, 0, 8});
  v.push_back({"one_pixel_high", KVFiltPres[fpEmboss], 9, 1, 0, 0, 8, 0});
  v.push_back({"divisor_zero", {{{1, 2, 1}, {0, 3, 0}, {-1, -2, -1}}, 0}, 11, 8, 0, 0, 10, 7});
  v.push_back({"negative_divisor", {{{0, 0, 0}, {0, -3, 0}, {0, 0, 0}}, -2}, 11, 8, 0, 0, 10, 7});
  // Weights whose sums leave 32 bits.
  v.push_back({"huge_weights", {{{2000000000, 0, 0}, {0, -2000000000, 0}, {0, 0, 7}}, 3}, 9, 6, 0, 0, 8, 5});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterMatchesReference, testing::ValuesIn(FilterCases()),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(ApplyFilter, UniformImages) {
  TBitmap img(13, 9);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 13; ++x) At(img, x, y) = CreateRGB(200, 90, 31);
  TBitmap ref;
  ref.Assign(&img);
  _ApplyFilter(&img, KVFiltPres[fpBlur], 0, 0, 12, 8);
  EXPECT_TRUE(test::SamePixels(img, ref));
  _ApplyFilter(&img, KVFiltPres[fpEdge], 0, 0, 12, 8);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 13; ++x) ASSERT_EQ(At(img, x, y), CreateRGB(0, 0, 0));
}

TEST(FilterFile, SaveLoadAndHeaderCheck) {
  const std::string path = testing::TempDir() + "kv_filter.flt";
  const TGraphFilter f{{{-7, 2, 3}, {4, 100000, -6}, {7, 8, INT32_MIN}}, -5};
  SaveFilterToFile(path, f);
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  in.close();
  ASSERT_EQ(bytes.size(), 43u);
  EXPECT_EQ(bytes.substr(0, 3), std::string("\1\3\3", 3));
  EXPECT_EQ(LoadFilterFromFile(path), f);

  auto expectInvalid = [&](const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    try {
      LoadFilterFromFile(path);
      ADD_FAILURE() << "accepted";
    } catch (const EFilterInvalid& e) {
      EXPECT_STREQ(e.what(), "unrecognized filter");
    }
  };
  std::string wrong = bytes;
  wrong[0] = 2;
  expectInvalid(wrong);
  expectInvalid(bytes.substr(0, 20));  // right header, short record
  std::remove(path.c_str());
  EXPECT_THROW(LoadFilterFromFile(path), std::exception);
}

TEST(ApplyFilterOperation, LimitedToTheSelectionAndUndoable) {
  TBitmap bmp;
  test::FillPattern24(bmp, 16, 12, 3);
  TBitmap orig, ref;
  orig.Assign(&bmp);
  TKorvaneProc proc;
  proc.SetAttachedBitmap(&bmp);
  proc.Select(3, 2, 9, 7);
  proc.ApplyFilterPreset(fpHighPass3);
  ReferenceFilter(orig, KVFiltPres[fpHighPass3], 3, 2, 9, 7, ref);
  EXPECT_TRUE(test::SamePixels(bmp, ref));
  proc.Undo();
  EXPECT_TRUE(test::SamePixels(bmp, orig));
}

}  // namespace
