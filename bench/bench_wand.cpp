// Benchmark of the magic wand mask on a 4000x3000 24-bit image holding one
// large region: a noisy background (within the tolerance) strewn with disks
// and bars of other colors that the fill has to flow around.
//
//   bench_wand --dump-ppm=FILE   writes the test image as a binary PPM (for
//                                the peer comparison) and exits.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "korvane/proc/kvproc.h"

using namespace korvane;

namespace {

constexpr int kW = 4000, kH = 3000;
// Seed and tolerance shared with the peer comparison.
constexpr int kSeedX = 100, kSeedY = 3, kTolerance = 20;

const TBitmap& TestImage() {
  static TBitmap* img = [] {
    auto* b = new TBitmap;
    b->Allocate(kW, kH, pf24bit);
    uint32_t s = 777;
    for (int y = 0; y < kH; ++y) {
      uint8_t* row = b->Scanline(y);
      for (int x = 0; x < kW; ++x) {
        s = s * 1103515245u + 12345u;
        const int noise = int(s >> 28);  // 0..15
        // Disks of radius 40 on a 150-pixel grid and thin diagonal bars.
        const int cx = x % 150 - 75, cy = y % 150 - 75;
        const bool obstacle = cx * cx + cy * cy < 1600 || ((x + 2 * y) % 500 < 6 && (x / 500) % 2 == 0);
        uint8_t* p = row + 3 * x;
        if (obstacle) {
          p[0] = uint8_t(20 + noise), p[1] = uint8_t(220 - noise), p[2] = uint8_t(60 + noise);
        } else {
          p[0] = uint8_t(200 - noise), p[1] = uint8_t(150 + noise), p[2] = uint8_t(100 + noise);
        }
      }
    }
    return b;
  }();
  return *img;
}

void MagicWand(benchmark::State& state) {
  const TBitmap& src = TestImage();
  TBitmap mask;
  for (auto _ : state) {
    _MakeMagicWandBitmap(&src, &mask, kSeedX, kSeedY, kTolerance);
    benchmark::DoNotOptimize(mask.Scanline(0));
  }
  int64_t n = 0;
  for (int y = 0; y < kH; ++y)
    for (int i = 0; i < (kW + 7) / 8; ++i) n += __builtin_popcount(mask.Scanline(y)[i]);
  state.counters["region_pixels"] = double(n);
}
BENCHMARK(MagicWand)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--dump-ppm=", 11) == 0) {
      const TBitmap& b = TestImage();
      FILE* f = std::fopen(argv[i] + 11, "wb");
      if (!f) return 1;
      std::fprintf(f, "P6\n%d %d\n255\n", kW, kH);
      for (int y = 0; y < kH; ++y) {
        const uint8_t* row = b.Scanline(y);
        for (int x = 0; x < kW; ++x) {
          const uint8_t rgb[3] = {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
          std::fwrite(rgb, 1, 3, f);
        }
      }
      return std::fclose(f) == 0 ? 0 : 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
