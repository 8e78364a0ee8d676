// Benchmarks of the processing operations on a 4000x3000 24-bit image (and a
// 2480x3508 1-bit page for the 1-bit rotation): filters, rotation, quarter
// turns, flips, histograms, equalization, effects and hidden data.
//
//   bench_ops --dump-ppm=FILE   writes the 24-bit test image as a binary PPM
//   bench_ops --dump-pbm=FILE   writes the 1-bit page as a binary PBM
// (for the peer comparisons of bench/compare_ops.sh) and exits.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "korvane/pixels/bitmap_procs.h"
#include "korvane/proc/kvproc.h"

using namespace korvane;

namespace {

constexpr int kW = 4000, kH = 3000;
constexpr int kPageW = 2480, kPageH = 3508;

const TBitmap& Image24() {
  static TBitmap* img = [] {
    auto* b = new TBitmap;
    b->Allocate(kW, kH, pf24bit);
    uint32_t s = 12345;
    for (int y = 0; y < kH; ++y) {
      uint8_t* row = b->Scanline(y);
      for (int x = 0; x < kW; ++x) {
        s = s * 1103515245u + 12345u;
        const int noise = int(s >> 27);
        const double fx = x / double(kW), fy = y / double(kH);
        row[3 * x] = uint8_t(std::lround(127 + 100 * std::sin(fx * 17 + fy * 5)) + noise / 2);
        row[3 * x + 1] = uint8_t((((x >> 6) ^ (y >> 6)) & 1) ? 200 + noise : 40 + noise);
        row[3 * x + 2] = uint8_t(std::lround(fy * 220) + (noise >> 1));
      }
    }
    return b;
  }();
  return *img;
}

// A text-like page: dark strokes in lines on white.
const TBitmap& Page1() {
  static TBitmap* img = [] {
    auto* b = new TBitmap;
    b->Allocate(kPageW, kPageH, pf1bit);
    uint32_t s = 777;
    for (int y = 0; y < kPageH; ++y) {
      uint8_t* row = b->Scanline(y);
      const bool textLine = (y / 40) % 2 == 1 && y > 200 && y < kPageH - 200;
      for (int i = 0; i < (kPageW + 7) / 8; ++i) {
        s = s * 1103515245u + 12345u;
        row[i] = textLine && i > 20 && i < (kPageW / 8) - 20 ? uint8_t(s >> 24) | 0x11 : 0xFF;
      }
    }
    return b;
  }();
  return *img;
}

bool Dump(const char* path, bool page) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  bool ok = true;
  if (page) {
    const TBitmap& img = Page1();
    std::fprintf(f, "P4\n%d %d\n", img.Width(), img.Height());
    const size_t n = size_t(img.Width() + 7) / 8;
    std::vector<uint8_t> row(n);
    for (int y = 0; y < img.Height() && ok; ++y) {
      // PBM: 1 is black; here bit 1 is white.
      const uint8_t* p = img.Scanline(y);
      for (size_t i = 0; i < n; ++i) row[i] = uint8_t(~p[i]);
      ok = std::fwrite(row.data(), 1, n, f) == n;
    }
  } else {
    const TBitmap& img = Image24();
    std::fprintf(f, "P6\n%d %d\n255\n", img.Width(), img.Height());
    std::vector<uint8_t> rgb(size_t(img.Width()) * 3);
    for (int y = 0; y < img.Height() && ok; ++y) {
      const uint8_t* row = img.Scanline(y);
      for (int x = 0; x < img.Width(); ++x) {
        rgb[size_t(x) * 3] = row[3 * x + 2];
        rgb[size_t(x) * 3 + 1] = row[3 * x + 1];
        rgb[size_t(x) * 3 + 2] = row[3 * x];
      }
      ok = std::fwrite(rgb.data(), 3, size_t(img.Width()), f) == size_t(img.Width());
    }
  }
  return std::fclose(f) == 0 && ok;
}

void Megapixels(benchmark::State& state, const TBitmap& b) {
  state.counters["MP/s"] = benchmark::Counter(
      double(b.Width()) * b.Height() / 1e6 * double(state.iterations()), benchmark::Counter::kIsRate);
}

// Operations that change the image run on a fresh copy each time; the copy
// is not timed.
template <typename F>
void OnCopy(benchmark::State& state, const TBitmap& src, F op) {
  TBitmap b;
  for (auto _ : state) {
    state.PauseTiming();
    _CopyBitmap(&src, &b);
    state.ResumeTiming();
    op(b);
    benchmark::DoNotOptimize(b.Scanline(0));
  }
  Megapixels(state, src);
}

void BM_ApplyFilterHighPass1(benchmark::State& state) {
  OnCopy(state, Image24(),
         [](TBitmap& b) { _ApplyFilter(&b, KVFiltPres[fpHighPass1], 0, 0, kW - 1, kH - 1); });
}
BENCHMARK(BM_ApplyFilterHighPass1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Rotate30Antialias(benchmark::State& state) {
  TKorvaneProc proc;
  proc.SetAutoUndo(false);
  OnCopy(state, Image24(), [&](TBitmap& b) {
    proc.SetAttachedBitmap(&b);
    proc.Rotate(30, true);
  });
}
BENCHMARK(BM_Rotate30Antialias)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Rot90(benchmark::State& state) {
  TBitmap dst;
  for (auto _ : state) {
    _Rot90(&Image24(), &dst);
    benchmark::DoNotOptimize(dst.Scanline(0));
  }
  Megapixels(state, Image24());
}
BENCHMARK(BM_Rot90)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FlipHorizontal(benchmark::State& state) {
  TBitmap b;
  _CopyBitmap(&Image24(), &b);
  for (auto _ : state) _Flip(&b, fdHorizontal);
  Megapixels(state, b);
}
BENCHMARK(BM_FlipHorizontal)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Rotate1Bit3(benchmark::State& state) {
  OnCopy(state, Page1(), [](TBitmap& b) { _rotate1bit(&b, 1, nullpr, 3); });
}
BENCHMARK(BM_Rotate1Bit3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GetHistogram(benchmark::State& state) {
  THistogramItem h[256];
  for (auto _ : state) {
    _GetHistogram(&Image24(), h, 0, 0, kW - 1, kH - 1);
    benchmark::DoNotOptimize(h[0].R);
  }
  Megapixels(state, Image24());
}
BENCHMARK(BM_GetHistogram)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HistAutoEqualize(benchmark::State& state) {
  OnCopy(state, Image24(), [](TBitmap& b) { _HistAutoEqualize(&b, 0, 0, kW - 1, kH - 1); });
}
BENCHMARK(BM_HistAutoEqualize)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Lens(benchmark::State& state) {
  OnCopy(state, Image24(), [](TBitmap& b) { _lens(&b, kW / 2, kH / 2, kW, kH, 2.0); });
}
BENCHMARK(BM_Lens)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Wave(benchmark::State& state) {
  OnCopy(state, Image24(), [](TBitmap& b) { _wave(&b, 10, 40, 0, false); });
}
BENCHMARK(BM_Wave)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BumpMapping(benchmark::State& state) {
  OnCopy(state, Image24(), [](TBitmap& b) {
    _BumpMapping(&b, kW / 2, kH / 2, kW / 2, kH / 2, 50, TRGB{255, 255, 255}, 0, 0, kW - 1, kH - 1);
  });
}
BENCHMARK(BM_BumpMapping)->Unit(benchmark::kMillisecond)->UseRealTime();

// Hidden data: a block of 1 MB written and read back; the rate is in MB/s.
void BM_HiddenWriteRead(benchmark::State& state) {
  std::vector<uint8_t> data(1 << 20), back(1 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 31);
  TBitmap b;
  _CopyBitmap(&Image24(), &b);
  for (auto _ : state) {
    _WriteHiddenData(&b, data.data(), int(data.size()));
    benchmark::DoNotOptimize(_ReadHiddenData(&b, back.data(), int(back.size())));
  }
  state.counters["MB/s"] = benchmark::Counter(2.0 * double(data.size()) / 1e6 * double(state.iterations()),
                                              benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HiddenWriteRead)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--dump-ppm=", 0) == 0) return Dump(a.c_str() + 11, false) ? 0 : 1;
    if (a.rfind("--dump-pbm=", 0) == 0) return Dump(a.c_str() + 11, true) ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
