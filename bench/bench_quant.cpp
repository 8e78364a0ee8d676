// Benchmarks of the color quantizers and the YUV frame converters.
//
// Without arguments it runs the Google Benchmark cases. The peer comparison
// script (compare_quant.sh) uses its small modes so that Korvane and the
// peers work on the very same pixels:
//   bench_quant --write-image FILE.ppm           4000x3000 photo-like image
//   bench_quant --write-frames FORMAT FILE N     N 1920x1080 frames (UYVY|I420)
//   bench_quant --time-quant FILE.ppm RUNS       seconds for median cut to 256
//                                                colors plus mapping every pixel
//   bench_quant --time-frames FORMAT FILE N RUNS seconds per frame to 24-bit
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_scene.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/pixels/quant/quantizer.h"
#include "korvane/pixels/video/yuvconv.h"

using namespace korvane;
using korvane::bench::Scene;

namespace {

constexpr int kImageW = 4000, kImageH = 3000;
constexpr int kFrameW = 1920, kFrameH = 1080;

// One frame from the scene's first 1920x1080 pixels, in BT.601 video range.
std::vector<uint8_t> MakeFrame(const std::string& format) {
  TBitmap b;
  Scene(b, kFrameW, kFrameH);
  auto yuv = [](const TRGB& p, int& Y, int& U, int& V) {
    double r = p.r, g = p.g, bl = p.b;
    Y = int(std::lround(16 + 0.257 * r + 0.504 * g + 0.098 * bl));
    U = int(std::lround(128 - 0.148 * r - 0.291 * g + 0.439 * bl));
    V = int(std::lround(128 + 0.439 * r - 0.368 * g - 0.071 * bl));
  };
  std::vector<uint8_t> out;
  if (format == "UYVY") {
    out.reserve(size_t(kFrameW) * kFrameH * 2);
    for (int y = 0; y < kFrameH; ++y) {
      const TRGB* row = reinterpret_cast<const TRGB*>(b.Scanline(y));
      for (int x = 0; x < kFrameW; x += 2) {
        int Y0, U, V, Y1, U1, V1;
        yuv(row[x], Y0, U, V);
        yuv(row[x + 1], Y1, U1, V1);
        out.insert(out.end(), {uint8_t((U + U1) / 2), uint8_t(Y0), uint8_t((V + V1) / 2), uint8_t(Y1)});
      }
    }
  } else {
    std::vector<uint8_t> Yp(size_t(kFrameW) * kFrameH), Up(Yp.size() / 4), Vp(Yp.size() / 4);
    for (int y = 0; y < kFrameH; ++y) {
      const TRGB* row = reinterpret_cast<const TRGB*>(b.Scanline(y));
      for (int x = 0; x < kFrameW; ++x) {
        int Y, U, V;
        yuv(row[x], Y, U, V);
        Yp[size_t(y) * kFrameW + x] = uint8_t(Y);
        if (!(x & 1) && !(y & 1)) {
          Up[size_t(y / 2) * (kFrameW / 2) + x / 2] = uint8_t(U);
          Vp[size_t(y / 2) * (kFrameW / 2) + x / 2] = uint8_t(V);
        }
      }
    }
    out = Yp;
    out.insert(out.end(), Up.begin(), Up.end());
    out.insert(out.end(), Vp.begin(), Vp.end());
  }
  return out;
}

uint32_t Code(const std::string& format) {
  return format == "UYVY" ? MakeFourCC('U', 'Y', 'V', 'Y') : MakeFourCC('I', '4', '2', '0');
}

// Median cut to 256 colors and the index of every pixel.
void QuantizeAndMap(TBitmap& b, std::vector<uint8_t>& indices, TRGB* pal) {
  TKVQuantizer q(&b, pal, 255, 256, -1, 0);
  const int w = b.Width(), h = b.Height();
  const uint8_t* row0 = b.Scanline(0);
  const ptrdiff_t stride = h > 1 ? b.Scanline(1) - row0 : 0;
  uint8_t* out = indices.data();
  for (int y = 0; y < h; ++y) {
    const TRGB* p = reinterpret_cast<const TRGB*>(row0 + stride * y);
    for (int x = 0; x < w; ++x) *out++ = uint8_t(q.GetRGBIndex(p[x]));
  }
}

bool ReadPPM(const std::string& path, TBitmap& b) {
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int w = 0, h = 0, maxv = 0;
  f >> magic >> w >> h >> maxv;
  f.get();
  if (magic != "P6" || w <= 0 || h <= 0 || maxv != 255) return false;
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

template <typename F>
double BestSeconds(int runs, F&& f) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

int Tool(int argc, char** argv) {
  std::string mode = argv[1];
  if (mode == "--write-image" && argc == 3) {
    TBitmap b;
    Scene(b, kImageW, kImageH);
    return bench::WritePPM(b, argv[2]) ? 0 : 1;
  }
  if (mode == "--write-frames" && argc == 5) {
    std::vector<uint8_t> frame = MakeFrame(argv[2]);
    std::FILE* f = std::fopen(argv[3], "wb");
    if (!f) return 1;
    for (int i = 0, n = std::atoi(argv[4]); i < n; ++i) std::fwrite(frame.data(), 1, frame.size(), f);
    return std::fclose(f) == 0 ? 0 : 1;
  }
  if (mode == "--time-quant" && argc == 4) {
    TBitmap b;
    if (!ReadPPM(argv[2], b)) return 1;
    std::vector<uint8_t> idx(size_t(b.Width()) * b.Height());
    std::vector<TRGB> pal(256);
    double s = BestSeconds(std::atoi(argv[3]), [&] { QuantizeAndMap(b, idx, pal.data()); });
    std::printf("%.6f\n", s);
    return 0;
  }
  if (mode == "--time-frames" && argc == 6) {
    const std::string format = argv[2];
    std::ifstream f(argv[3], std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const int n = std::atoi(argv[4]);
    const size_t size = YUVFrameSize(Code(format), kFrameW, kFrameH);
    if (n <= 0 || data.size() < size * size_t(n)) return 1;
    TBitmap b;
    b.Allocate(kFrameW, kFrameH, pf24bit);
    double s = BestSeconds(std::atoi(argv[5]), [&] {
      for (int i = 0; i < n; ++i)
        CopyYUVFrameToBitmap(Code(format), data.data() + size * size_t(i), size, &b, true);
    });
    std::printf("%.6f\n", s / n);
    return 0;
  }
  std::fprintf(stderr, "unknown mode\n");
  return 2;
}

TBitmap& SceneImage() {
  static TBitmap b;
  if (b.Empty()) Scene(b, kImageW, kImageH);
  return b;
}

void BM_MedianCut256AndMap_4000x3000(benchmark::State& st) {
  TBitmap& b = SceneImage();
  std::vector<uint8_t> idx(size_t(b.Width()) * b.Height());
  std::vector<TRGB> pal(256);
  for (auto _ : st) {
    QuantizeAndMap(b, idx, pal.data());
    benchmark::DoNotOptimize(idx.data());
  }
  st.SetItemsProcessed(st.iterations() * int64_t(idx.size()));
}
BENCHMARK(BM_MedianCut256AndMap_4000x3000)->Unit(benchmark::kMillisecond);

void BM_NeuralNet4096_1000x750(benchmark::State& st) {
  TBitmap b;
  Scene(b, 1000, 750);
  std::vector<TRGB> pal(4096);
  for (auto _ : st) {
    TKVQuantizer q(&b, pal.data(), 255, 4096, -1, 0);
    benchmark::DoNotOptimize(q.GetRGBIndex(TRGB{1, 2, 3}));
  }
}
BENCHMARK(BM_NeuralNet4096_1000x750)->Unit(benchmark::kMillisecond);

void BM_Frame1080p(benchmark::State& st, const char* format) {
  std::vector<uint8_t> frame = MakeFrame(format);
  TBitmap b;
  b.Allocate(kFrameW, kFrameH, pf24bit);
  for (auto _ : st) {
    CopyYUVFrameToBitmap(Code(format), frame.data(), frame.size(), &b, true);
    benchmark::DoNotOptimize(b.Scanline(0));
  }
  st.SetItemsProcessed(st.iterations() * kFrameW * kFrameH);
}
BENCHMARK_CAPTURE(BM_Frame1080p, UYVY, "UYVY")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Frame1080p, I420, "I420")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strncmp(argv[1], "--write", 7) == 0) return Tool(argc, argv);
  if (argc > 1 && std::strncmp(argv[1], "--time", 6) == 0) return Tool(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
