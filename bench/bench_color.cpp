// Benchmarks of the color adjustments and color depth conversions on a
// 4000x3000 24-bit photo-like image, one thread.
//
// Without arguments it runs the Google Benchmark cases. The peer comparison
// script (compare_color.sh) uses its small modes so that Korvane and the peers
// work on the very same pixels:
//   bench_color --write-image FILE.ppm     the 4000x3000 scene
//   bench_color --time OP FILE.ppm RUNS    best CPU seconds of OP on a fresh copy
//                                          of the image (OP: memcpy, Negative,
//                                          IntensityRGBall, ConvertToGray,
//                                          Threshold, CastColorRange, HSLvar,
//                                          HSVvar, ConvertToBWOrdered,
//                                          ConvertTo256, GetImageNumColors)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_scene.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/colordepth.h"
#include "korvane/pixels/colors.h"

using namespace korvane;

namespace {

constexpr int kW = 4000, kH = 3000;

// Every operation timed, as it runs on the whole image. memcpy is the floor:
// one read and one write of every byte.
const std::map<std::string, std::function<void(TBitmap&, TBitmap&)>>& Ops() {
  static const std::map<std::string, std::function<void(TBitmap&, TBitmap&)>> ops = {
      {"memcpy",
       [](TBitmap& b, TBitmap& out) {
         std::memcpy(out.Scanline(0), b.Scanline(0), size_t(b.RowBytes()) * size_t(b.Height()));
       }},
      {"Negative", [](TBitmap& b, TBitmap&) { _Negative(&b, 0, 0, kW - 1, kH - 1); }},
      {"IntensityRGBall",
       [](TBitmap& b, TBitmap&) { _IntensityRGBall(&b, 0, 0, kW - 1, kH - 1, 20, -10, 5); }},
      {"ConvertToGray", [](TBitmap& b, TBitmap&) { _ConvertToGray(&b, 0, 0, kW - 1, kH - 1); }},
      {"Threshold",
       [](TBitmap& b, TBitmap&) {
         _Threshold(&b, 0, 0, kW - 1, kH - 1, CreateRGB(40, 40, 40), CreateRGB(200, 200, 200),
                    CreateRGB(0, 0, 0), CreateRGB(255, 255, 255));
       }},
      {"CastColorRange",
       [](TBitmap& b, TBitmap&) {
         _CastColorRange(&b, 0, 0, kW - 1, kH - 1, CreateRGB(60, 90, 20), CreateRGB(120, 160, 80),
                         CreateRGB(255, 0, 255));
       }},
      {"HSLvar", [](TBitmap& b, TBitmap&) { _HSLvar(&b, 0, 0, kW - 1, kH - 1, 20, 30, 0); }},
      {"HSVvar", [](TBitmap& b, TBitmap&) { _HSVvar(&b, 0, 0, kW - 1, kH - 1, 20, 30, 0); }},
      {"ConvertToBWOrdered", [](TBitmap& b, TBitmap&) { _ConvertToBWOrdered(&b, nullpr); }},
      {"ConvertTo256", [](TBitmap& b, TBitmap&) { _ConvertTo(&b, 256, nullptr, {}, nullptr); }},
      {"GetImageNumColors",
       [](TBitmap& b, TBitmap&) { benchmark::DoNotOptimize(_GetImageNumColors(&b, 0, 0, kW - 1, kH - 1)); }},
  };
  return ops;
}

bool ReadPPM(const std::string& path, TBitmap& b) {
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int w = 0, h = 0, maxv = 0;
  f >> magic >> w >> h >> maxv;
  f.get();
  if (magic != "P6" || w != kW || h != kH || maxv != 255) return false;
  b.Allocate(w, h, pf24bit);
  std::vector<uint8_t> line(size_t(w) * 3);
  for (int y = 0; y < h; ++y) {
    if (!f.read(reinterpret_cast<char*>(line.data()), std::streamsize(line.size()))) return false;
    TRGB* p = reinterpret_cast<TRGB*>(b.Scanline(y));
    for (int x = 0; x < w; ++x)
      p[x] = TRGB{line[size_t(x) * 3 + 2], line[size_t(x) * 3 + 1], line[size_t(x) * 3]};
  }
  return true;
}

// Processor time of this (single-threaded) process in seconds: on a machine
// shared with other work, wall time measures the queue as much as the code.
double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// Best processor time of the operation over runs, each on a fresh copy of
// the image (the copy is not timed).
double TimeOp(const std::string& op, const TBitmap& image, int runs) {
  TBitmap work, out;
  out.Allocate(kW, kH, pf24bit);
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    work.Assign(&image);
    const double t0 = CpuSeconds();
    Ops().at(op)(work, out);
    best = std::min(best, CpuSeconds() - t0);
  }
  return best;
}

TBitmap& SceneImage() {
  static TBitmap b;
  if (b.Empty()) bench::Scene(b, kW, kH);
  return b;
}

void BM_Color(benchmark::State& st, const char* op) {
  TBitmap work, out;
  out.Allocate(kW, kH, pf24bit);
  for (auto _ : st) {
    st.PauseTiming();
    work.Assign(&SceneImage());
    st.ResumeTiming();
    Ops().at(op)(work, out);
    benchmark::DoNotOptimize(work.Scanline(0));
  }
  st.SetItemsProcessed(st.iterations() * int64_t(kW) * kH);
}
#define KV_COLOR_BENCH(op) BENCHMARK_CAPTURE(BM_Color, op, #op)->Unit(benchmark::kMillisecond)->Iterations(5)
KV_COLOR_BENCH(memcpy);
KV_COLOR_BENCH(Negative);
KV_COLOR_BENCH(IntensityRGBall);
KV_COLOR_BENCH(ConvertToGray);
KV_COLOR_BENCH(Threshold);
KV_COLOR_BENCH(CastColorRange);
KV_COLOR_BENCH(HSLvar);
KV_COLOR_BENCH(HSVvar);
KV_COLOR_BENCH(ConvertToBWOrdered);
KV_COLOR_BENCH(ConvertTo256);
KV_COLOR_BENCH(GetImageNumColors);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write-image") == 0) {
    return bench::WritePPM(SceneImage(), argv[2]) ? 0 : 1;
  }
  if (argc == 5 && std::strcmp(argv[1], "--time") == 0) {
    TBitmap image;
    if (!Ops().count(argv[2]) || !ReadPPM(argv[3], image)) return 1;
    std::printf("%.6f\n", TimeOp(argv[2], image, std::max(1, std::atoi(argv[4]))));
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
