// Benchmarks of the GIF codec with the library's LZW coders.
//
// Without arguments it runs the Google Benchmark cases. The peer comparison
// script (compare_gif.sh) uses its small modes so that Korvane and Pillow
// work on the very same file:
//   bench_gif --write-image FILE.gif        4000x3000 photo-like image in 256
//                                           colors, written by Korvane
//   bench_gif --time-read FILE.gif RUNS     seconds to read it to a bitmap
//   bench_gif --time-write FILE.gif RUNS    seconds to write that bitmap as a
//                                           256-color GIF (palette, indices,
//                                           LZW) to memory
//   bench_gif --time-lzw FILE.gif RUNS      seconds of the LZW encoder alone
//                                           on the frame's indices
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/io/codecs/gif/gif_codec.h"
#include "korvane/io/codecs/gif/gif_lzw.h"
#include "korvane/pixels/quant/quantizer.h"

using namespace korvane;

namespace {

// Sky gradient, textured ground and sensor noise, reduced to 256 colors by
// the median cut: the index statistics of a photograph saved as GIF.
void Scene256(TBitmap& b, int w, int h) {
  b.Allocate(w, h, pf24bit);
  std::mt19937 rng(77);
  std::normal_distribution<double> noise(0.0, 2.5);
  for (int y = 0; y < h; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(b.Scanline(y));
    const double fy = double(y) / h;
    for (int x = 0; x < w; ++x) {
      const double fx = double(x) / w;
      double r, g, bl;
      if (fy < 0.45 + 0.05 * std::sin(9 * fx)) {
        r = 80 + 200 * fy, g = 130 + 170 * fy, bl = 205 + 70 * fy;
      } else {
        const double tex = 0.5 + 0.5 * std::sin(40 * fx + 13 * std::sin(25 * fy)) * std::cos(31 * fy);
        r = 30 + 60 * tex, g = 70 + 80 * tex, bl = 20 + 30 * tex;
      }
      auto c = [&](double v) { return uint8_t(std::clamp(int(std::lround(v + noise(rng))), 0, 255)); };
      row[x] = TRGB{c(bl), c(g), c(r)};
    }
  }
  std::vector<TRGB> pal(256);
  TKVQuantizer q(&b, pal.data(), 0, 256, -1, 0);
  for (int y = 0; y < h; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(b.Scanline(y));
    for (int x = 0; x < w; ++x) row[x] = pal[size_t(q.GetRGBIndex(row[x]))];
  }
}

void Coders(TIOParamsVals& p) {
  p.GIF_LZWDecompFunc = GIFLZWDecompress;
  p.GIF_LZWCompFunc = GIFLZWCompress;
  p.BitsPerSample = 8;
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

void Load(const std::string& name, TBitmap& b, TIOParamsVals& p) {
  int32_t count = 0;
  ReadGif(name, &b, count, p, nullpr);
}

int Tool(int argc, char** argv) {
  const std::string mode = argv[1];
  TIOParamsVals p;
  Coders(p);
  if (mode == "--write-image" && argc == 3) {
    TBitmap b;
    Scene256(b, 4000, 3000);
    WriteGif(argv[2], &b, p, nullpr);
    return 0;
  }
  if (argc != 4) return 2;
  const std::string name = argv[2];
  const int runs = std::max(1, std::atoi(argv[3]));
  TBitmap b;
  double s = 0;
  if (mode == "--time-read") {
    s = BestSeconds(runs, [&] { Load(name, b, p); });
  } else if (mode == "--time-write") {
    Load(name, b, p);
    s = BestSeconds(runs, [&] {
      TMemoryStream out;
      WriteGifStream(&out, &b, p, nullpr);
    });
  } else if (mode == "--time-lzw") {
    Load(name, b, p);
    // Indices of the frame through its own palette.
    std::vector<uint8_t> idx(size_t(b.Width()) * b.Height());
    for (int y = 0; y < b.Height(); ++y) {
      const TRGB* row = reinterpret_cast<const TRGB*>(b.Scanline(y));
      for (int x = 0; x < b.Width(); ++x)
        idx[size_t(y) * b.Width() + x] =
            uint8_t(std::find(p.ColorMap, p.ColorMap + p.ColorMapCount, row[x]) - p.ColorMap);
    }
    s = BestSeconds(runs, [&] {
      TMemoryStream out;
      GIFLZWCompress(&out, b.Height(), b.Width(), false, idx.data(), 8);
    });
  } else {
    return 2;
  }
  std::printf("%.6f\n", s);
  return 0;
}

struct Fixture {
  TBitmap bmp;
  TMemoryStream gif;
  Fixture() {
    Scene256(bmp, 1000, 750);
    TIOParamsVals p;
    Coders(p);
    WriteGifStream(&gif, &bmp, p, nullpr);
  }
};
Fixture& Shared() {
  static Fixture f;
  return f;
}

void BM_GifRead(benchmark::State& state) {
  Fixture& f = Shared();
  TIOParamsVals p;
  Coders(p);
  TBitmap b;
  for (auto _ : state) {
    f.gif.SetPosition(0);
    int32_t count = 0;
    ReadGifStream(&f.gif, &b, count, p, nullpr, false);
  }
  state.SetItemsProcessed(state.iterations() * 750000);
}
BENCHMARK(BM_GifRead)->Unit(benchmark::kMillisecond);

void BM_GifWrite(benchmark::State& state) {
  Fixture& f = Shared();
  TIOParamsVals p;
  Coders(p);
  if (state.range(0)) p.GIF_LZWCompFunc = GIFNONLZWCompress;
  for (auto _ : state) {
    TMemoryStream out;
    WriteGifStream(&out, &f.bmp, p, nullpr);
  }
  state.SetItemsProcessed(state.iterations() * 750000);
}
BENCHMARK(BM_GifWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]).rfind("--", 0) == 0 &&
      std::string(argv[1]).rfind("--benchmark", 0) != 0)
    return Tool(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
