// Benchmarks of the plain bitmap procedures: the filtered resamplers on a
// 4000x3000 photo-sized image (down to 1000x750, up to 6000x4500), the quick
// resampler, and the 1-to-24-bit widening against a plain copy of its result.
//
//   bench_procs --dump-ppm=FILE   writes the resampling test image as a binary
//                                 PPM (for peer comparisons) and exits.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "korvane/pixels/bitmap_procs.h"

using namespace korvane;

namespace {

constexpr int kSrcW = 4000, kSrcH = 3000;

// A deterministic picture with smooth areas, edges and fine texture, so that
// no kernel meets only flat input.
const TBitmap& TestImage() {
  static TBitmap* img = [] {
    auto* b = new TBitmap;
    b->Allocate(kSrcW, kSrcH, pf24bit);
    uint32_t s = 12345;
    for (int y = 0; y < kSrcH; ++y) {
      uint8_t* row = b->Scanline(y);
      for (int x = 0; x < kSrcW; ++x) {
        s = s * 1103515245u + 12345u;
        const int noise = int(s >> 27);  // 0..31
        const double fx = x / double(kSrcW), fy = y / double(kSrcH);
        row[3 * x] = uint8_t(std::lround(127 + 100 * std::sin(fx * 17 + fy * 5)) + noise / 2);
        row[3 * x + 1] = uint8_t((((x >> 6) ^ (y >> 6)) & 1) ? 200 + noise : 40 + noise);
        row[3 * x + 2] = uint8_t(std::lround(fy * 220) + (noise >> 1));
      }
    }
    return b;
  }();
  return *img;
}

bool DumpPpm(const char* path) {
  const TBitmap& img = TestImage();
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", img.Width(), img.Height());
  std::unique_ptr<uint8_t[]> rgb(new uint8_t[size_t(img.Width()) * 3]);
  bool ok = true;
  for (int y = 0; y < img.Height() && ok; ++y) {
    const uint8_t* row = img.Scanline(y);
    for (int x = 0; x < img.Width(); ++x) {
      rgb[size_t(x) * 3] = row[3 * x + 2];
      rgb[size_t(x) * 3 + 1] = row[3 * x + 1];
      rgb[size_t(x) * 3 + 2] = row[3 * x];
    }
    ok = std::fwrite(rgb.get(), 3, size_t(img.Width()), f) == size_t(img.Width());
  }
  return std::fclose(f) == 0 && ok;
}

template <bool Quick>
void BM_Resample(benchmark::State& state) {
  const TResampleFilter f = TResampleFilter(state.range(0));
  const int w = int(state.range(1)), h = int(state.range(2));
  const TBitmap& src = TestImage();
  TBitmap dst(w, h, pf24bit);
  for (auto _ : state) {
    if (Quick)
      _QuickResample(&src, &dst, f, nullptr, nullptr);
    else
      _Resample(&src, &dst, f, nullptr, nullptr);
    benchmark::DoNotOptimize(dst.Scanline(0));
  }
}

void ResampleArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"filter", "w", "h"});
  for (int f : {int(rfLanczos3), int(rfTriangle)}) {
    b->Args({f, 1000, 750});
    b->Args({f, 6000, 4500});
  }
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK_TEMPLATE(BM_Resample, false)->Name("Resample")->Apply(ResampleArgs);
BENCHMARK_TEMPLATE(BM_Resample, true)->Name("QuickResample")->Apply(ResampleArgs);

constexpr int kMonoSide = 10000;

const TBitmap& MonoImage() {
  static TBitmap* img = [] {
    auto* b = new TBitmap;
    b->Allocate(kMonoSide, kMonoSide, pf1bit);
    uint32_t s = 777;
    for (int y = 0; y < kMonoSide; ++y) {
      uint8_t* row = b->Scanline(y);
      for (int i = 0; i < (kMonoSide + 7) / 8; ++i) {
        s = s * 1103515245u + 12345u;
        row[i] = uint8_t(s >> 24);
      }
    }
    return b;
  }();
  return *img;
}

void BM_Conv1to24(benchmark::State& state) {
  const TBitmap& src = MonoImage();
  TBitmap dst(kMonoSide, kMonoSide, pf24bit);  // reused, as the memcpy target is
  TProgressRec quiet;
  for (auto _ : state) {
    _Conv1to24(&src, &dst, quiet);
    benchmark::DoNotOptimize(dst.Scanline(0));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * dst.RowBytes() * kMonoSide);
}
BENCHMARK(BM_Conv1to24)->Name("Conv1to24")->Unit(benchmark::kMillisecond)->UseRealTime();

// The baseline: one memcpy of a 24-bit 10000x10000 bitmap's pixels into
// another already allocated.
void BM_Memcpy24(benchmark::State& state) {
  TBitmap a(kMonoSide, kMonoSide, pf24bit), b(kMonoSide, kMonoSide, pf24bit);
  const size_t bytes = size_t(a.RowBytes()) * kMonoSide;
  for (auto _ : state) {
    std::memcpy(b.Scanline(0), a.Scanline(0), bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(BM_Memcpy24)->Name("Memcpy24")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--dump-ppm=", 11) == 0) {
      if (DumpPpm(argv[i] + 11)) return 0;
      std::fprintf(stderr, "cannot write %s\n", argv[i] + 11);
      return 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
