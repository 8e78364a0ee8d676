// Work shared between threads: the sharing itself (every item once, progress
// and stopping on the caller's thread, errors carried back), and every
// operation that shares its rows giving the same bytes as on one thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "korvane/foundations/host/parallel.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/io/codecs/gif/gif_codec.h"
#include "korvane/io/codecs/gif/gif_lzw.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/colordepth.h"
#include "korvane/pixels/colors.h"
#include "korvane/pixels/filters.h"
#include "korvane/pixels/histogram.h"
#include "korvane/pixels/transforms.h"
#include "korvane/pixels/video/yuvconv.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

struct Threads {
  explicit Threads(int n) { KVSetMaxThreads(n); }
  ~Threads() { KVSetMaxThreads(0); }
};

TEST(ParallelFor, SharesEveryItemOnceAndReportsOnTheCallersThread) {
  const auto caller = std::this_thread::get_id();
  std::vector<std::atomic<int>> seen(1000);
  std::vector<int64_t> ticks;
  bool elsewhere = false;
  const bool whole = KVParallelFor(
      1000, 7, 4,
      [&](int64_t first, int64_t last) {
        EXPECT_EQ(KVThreadsFor(int64_t(1) << 30), std::this_thread::get_id() == caller ? KVMaxThreads() : 1)
            << "work is shared once, not again inside a worker";
        for (int64_t i = first; i < last; ++i) ++seen[size_t(i)];
      },
      [&](int64_t done) {
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
        ticks.push_back(done);
        return true;
      });
  EXPECT_TRUE(whole);
  for (auto& s : seen) ASSERT_EQ(s.load(), 1);
  EXPECT_FALSE(elsewhere);
  ASSERT_FALSE(ticks.empty());
  EXPECT_TRUE(std::is_sorted(ticks.begin(), ticks.end()));
  EXPECT_EQ(ticks.back(), 1000);
}

TEST(ParallelFor, StopsWhenAskedAndCarriesErrorsBack) {
  std::atomic<int64_t> done{0};
  const bool whole = KVParallelFor(
      400, 4, 4,
      [&](int64_t first, int64_t last) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        done += last - first;
      },
      [](int64_t) { return false; });
  EXPECT_FALSE(whole);
  EXPECT_LT(done.load(), 400);

  EXPECT_THROW(KVParallelFor(1000, 10, 4,
                             [](int64_t first, int64_t) {
                               if (first == 500) throw std::runtime_error("bad row");
                             }),
               std::runtime_error);
}

// Runs op on two copies of src, with one thread and with four; the results
// must be byte for byte the same.
void ExpectSameOnThreads(const TBitmap& src, const std::function<void(TBitmap&)>& op) {
  TBitmap one, many;
  one.Assign(&src);
  many.Assign(&src);
  {
    Threads t(1);
    op(one);
  }
  {
    Threads t(4);
    op(many);
  }
  EXPECT_TRUE(test::SamePixels(one, many));
}

TEST(ParallelOps, GiveTheOneThreadResult) {
  TBitmap src;
  test::FillPattern24(src, 1280, 1000, 7);
  TProgressRec quiet;
  std::vector<int> percents;
  ExpectSameOnThreads(src, [&](TBitmap& b) {
    TBitmap out;
    out.Allocate(1100, 960, pf24bit);
    _Resample(&b, &out, rfLanczos3, nullptr, nullptr);
    b.Assign(&out);
  });
  ExpectSameOnThreads(src, [&](TBitmap& b) {
    TBitmap out;
    out.Allocate(1500, 1100, pf24bit);
    _Resample(&b, &out, rfMitchell, nullptr, nullptr);
    b.Assign(&out);
  });
  // A rectangle whose bands meet inside it, and the whole picture.
  ExpectSameOnThreads(src, [&](TBitmap& b) { _ApplyFilter(&b, KVFiltPres[fpEmboss], 3, 5, 1270, 990, quiet); });
  ExpectSameOnThreads(src, [&](TBitmap& b) { _ApplyFilter(&b, KVFiltPres[fpBlur], 0, 0, 9999, 9999, quiet); });
  ExpectSameOnThreads(src, [&](TBitmap& b) {
    percents.clear();
    _ConvertToGray(&b, 0, 0, 9999, 9999, [&](TObject*, int per) { percents.push_back(per); });
  });
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.back(), 100);
  ExpectSameOnThreads(src, [&](TBitmap& b) { _HSLvar(&b, 0, 0, 9999, 9999, 40, -20, 10); });
  ExpectSameOnThreads(src, [&](TBitmap& b) { _Contrast(&b, 2, 3, 1200, 998, 30, 120); });
  ExpectSameOnThreads(src, [&](TBitmap& b) { _RotateShear(&b, 30, true, TRGB{1, 2, 3}, quiet); });
  ExpectSameOnThreads(src, [&](TBitmap& b) { _RotateShear(&b, -12.5, false, TRGB{9, 9, 9}, quiet); });
  ExpectSameOnThreads(src, [&](TBitmap& b) { _ConvertTo(&b, 16, nullptr, {}, nullptr); });

  THistogramItem one[256], many[256];
  {
    Threads t(1);
    _GetHistogram(&src, one, 1, 2, 1279, 999);
  }
  {
    Threads t(4);
    _GetHistogram(&src, many, 1, 2, 1279, 999);
  }
  EXPECT_EQ(std::memcmp(one, many, sizeof one), 0);
}

TEST(ParallelOps, VideoFramesAndGifIndicesGiveTheOneThreadResult) {
  const int w = 1280, h = 1024;
  std::vector<uint8_t> frame(YUVFrameSize(MakeFourCC('I', '4', '2', '0'), w, h));
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i * 2654435761u >> 13);
  for (uint32_t code : {MakeFourCC('I', '4', '2', '0'), MakeFourCC('Y', 'U', 'Y', '2')}) {
    TBitmap blank;
    blank.Allocate(w, h, pf24bit);
    ExpectSameOnThreads(blank, [&](TBitmap& b) {
      EXPECT_EQ(CopyYUVFrameToBitmap(code, frame.data(), frame.size(), &b),
                frame.size() >= YUVFrameSize(code, w, h));
    });
  }

  TBitmap src;
  test::FillPattern24(src, 1200, 900, 3);
  std::vector<uint8_t> bytes[2];
  for (int k = 0; k < 2; ++k) {
    Threads t(k == 0 ? 1 : 4);
    TMemoryStream out;
    TIOParamsVals params;
    params.GIF_LZWCompFunc = GIFLZWCompress;
    TProgressRec quiet;
    WriteGifStream(&out, &src, params, quiet);
    bytes[k].assign(out.Memory(), out.Memory() + out.Size());
  }
  EXPECT_FALSE(bytes[0].empty());
  EXPECT_EQ(bytes[0], bytes[1]);
}

}  // namespace
