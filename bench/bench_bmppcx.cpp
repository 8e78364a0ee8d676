// Benchmarks of the BMP and PCX codecs on a 4000x3000 photo-like image.
//
// Without arguments it runs the Google Benchmark cases. The comparison
// script (compare_bmppcx.sh) uses the small modes so that Korvane and the
// peers work on the very same files:
//   bench_bmppcx --write FILE.bmp|FILE.pcx   the image as 24-bit BMP / RLE PCX
//   bench_bmppcx --time-bmp FILE RUNS        best CPU seconds of a BMP read from the
//                                            file, then of a plain read of the
//                                            file into memory
//   bench_bmppcx --time-pcx FILE RUNS        best CPU seconds of a PCX read from the
//                                            file, then of writing it (in memory)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "korvane/io/codecs/bmp/bmp_codec.h"
#include "korvane/io/codecs/pcx/pcx_codec.h"

using namespace korvane;

namespace {

constexpr int kW = 4000, kH = 3000;

// A photo-like scene (sky gradient, textured ground, a lit ellipse, sensor
// noise), so that run-length coders see realistic runs.
void Scene(TBitmap& b) {
  b.Allocate(kW, kH, pf24bit);
  std::mt19937 rng(1234);
  std::normal_distribution<double> noise(0.0, 2.5);
  for (int y = 0; y < kH; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(b.Scanline(y));
    const double fy = double(y) / kH;
    for (int x = 0; x < kW; ++x) {
      const double fx = double(x) / kW;
      double r, g, bl;
      const double horizon = 0.45 + 0.05 * std::sin(9 * fx);
      if (fy < horizon) {
        const double t = fy / horizon;
        r = 80 + 100 * t, g = 130 + 80 * t, bl = 205 + 35 * t;
      } else {
        const double t = (fy - horizon) / (1 - horizon);
        const double tex = 0.5 + 0.5 * std::sin(40 * fx + 13 * std::sin(25 * fy)) * std::cos(31 * fy);
        r = 30 + 60 * tex - 20 * t, g = 70 + 80 * tex - 30 * t, bl = 20 + 30 * tex - 10 * t;
      }
      const double dx = (fx - 0.62) / 0.16, dy = (fy - 0.5) / 0.24;
      if (dx * dx + dy * dy < 1) {
        const double light =
            0.55 + 0.45 * std::clamp(1 - (dx + 0.4) * (dx + 0.4) - (dy + 0.5) * (dy + 0.5), 0.0, 1.0);
        r = 225 * light, g = 170 * light, bl = 140 * light;
      }
      auto c = [&](double v) { return uint8_t(std::clamp(int(std::lround(v + noise(rng))), 0, 255)); };
      row[x] = TRGB{c(bl), c(g), c(r)};
    }
  }
}

void Encode(TBitmap& b, bool pcx, TStream& out) {
  TIOParamsVals p;
  p.BitsPerSample = 8;
  p.SamplesPerPixel = 3;
  p.DpiX = p.DpiY = 96;
  if (pcx) {
    p.PCX_Version = 5;
    p.PCX_Compression = ioPCX_RLE;
    WritePcxStream(&out, &b, p, nullpr);
  } else {
    BMPWriteStream(&out, &b, p, nullpr);
  }
}

// Process CPU time (user + system): on a shared machine wall time mostly
// measures the other processes; the peer script measures the same way.
double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

template <typename F>
double BestSeconds(int runs, F&& f) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const double t0 = CpuSeconds();
    f();
    best = std::min(best, CpuSeconds() - t0);
  }
  return best;
}

std::vector<uint8_t> PlainRead(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  std::vector<uint8_t> data;
  if (!f) return data;
  std::fseek(f, 0, SEEK_END);
  data.resize(size_t(std::ftell(f)));
  std::fseek(f, 0, SEEK_SET);
  if (std::fread(data.data(), 1, data.size(), f) != data.size()) data.clear();
  std::fclose(f);
  return data;
}

int Tool(int argc, char** argv) {
  const std::string mode = argv[1];
  if (mode == "--write" && argc == 3) {
    TBitmap b;
    Scene(b);
    const std::string name = argv[2];
    TFileStream fs(name, fmCreate);
    Encode(b, name.size() > 4 && name.substr(name.size() - 4) == ".pcx", fs);
    return 0;
  }
  if ((mode == "--time-bmp" || mode == "--time-pcx") && argc == 4) {
    const int runs = std::max(1, std::atoi(argv[3]));
    TBitmap b;
    TIOParamsVals p;
    double first, second;
    if (mode == "--time-bmp") {
      first = BestSeconds(runs, [&] {
        TFileStream fs(argv[2], fmOpenRead);
        BMPReadStream(&fs, &b, fs.Size(), p, nullpr, false);
      });
      size_t n = 0;
      second = BestSeconds(runs, [&] { n += PlainRead(argv[2]).size(); });
      if (n == 0) return 1;
    } else {
      first = BestSeconds(runs, [&] { ReadPcx(argv[2], &b, p, nullpr); });
      second = BestSeconds(runs, [&] {
        TMemoryStream ms;
        Encode(b, true, ms);
      });
    }
    std::printf("%.6f %.6f\n", first, second);
    return 0;
  }
  std::fprintf(stderr, "usage: see the comment at the top of bench_bmppcx.cpp\n");
  return 2;
}

TBitmap& SceneOnce() {
  static TBitmap b;
  if (b.Empty()) Scene(b);
  return b;
}

void BM_BMPRead24(benchmark::State& st) {
  TMemoryStream ms;
  Encode(SceneOnce(), false, ms);
  TBitmap b;
  TIOParamsVals p;
  for (auto _ : st) {
    ms.SetPosition(0);
    BMPReadStream(&ms, &b, ms.Size(), p, nullpr, false);
  }
}
BENCHMARK(BM_BMPRead24)->Unit(benchmark::kMillisecond);

void BM_BMPWrite24(benchmark::State& st) {
  for (auto _ : st) {
    TMemoryStream ms;
    Encode(SceneOnce(), false, ms);
  }
}
BENCHMARK(BM_BMPWrite24)->Unit(benchmark::kMillisecond);

void BM_PcxDecode24(benchmark::State& st) {
  TMemoryStream ms;
  Encode(SceneOnce(), true, ms);
  TBitmap b;
  TIOParamsVals p;
  for (auto _ : st) {
    ms.SetPosition(0);
    ReadPcxStream(&ms, &b, p, false, nullpr, ms.Size());
  }
}
BENCHMARK(BM_PcxDecode24)->Unit(benchmark::kMillisecond);

void BM_PcxEncode24(benchmark::State& st) {
  for (auto _ : st) {
    TMemoryStream ms;
    Encode(SceneOnce(), true, ms);
  }
}
BENCHMARK(BM_PcxEncode24)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]).rfind("--benchmark", 0) != 0) return Tool(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
