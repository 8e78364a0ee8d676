// Benchmarks of the JPEG and PNG codecs on a 4000x3000 photo-like image,
// decoding and encoding through memory streams.
//
//   bench_jpng --dump=DIR   writes photo.ppm (the image), photo.jpg (quality
//                           75, integer DCT) and photo.png (Sub filter, level
//                           6), the files the peer programs are timed on, and
//                           exits.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "korvane/io/codecs/jpeg/jpeg_codec.h"
#include "korvane/io/codecs/png/png_codec.h"

using namespace korvane;

namespace {

constexpr int kW = 4000, kH = 3000;

// Smooth shading, soft edges and a little sensor-like noise: compresses the
// way photographs do, so neither codec meets only flat or only random data.
const TBitmap& Photo() {
  static TBitmap* img = [] {
    auto* b = new TBitmap;
    b->Allocate(kW, kH, pf24bit);
    uint32_t s = 2024;
    for (int y = 0; y < kH; ++y) {
      uint8_t* row = b->Scanline(y);
      for (int x = 0; x < kW; ++x) {
        s = s * 1103515245u + 12345u;
        const int noise = int(s >> 29);  // 0..7
        const double fx = x / double(kW), fy = y / double(kH);
        const double blob = std::exp(-((fx - 0.4) * (fx - 0.4) + (fy - 0.5) * (fy - 0.5)) * 12);
        row[3 * x] = uint8_t(std::lround(60 + 120 * blob + 40 * std::sin(fx * 9)) + noise);
        row[3 * x + 1] = uint8_t(std::lround(90 + 100 * fy * blob + 30 * std::cos(fy * 13 + fx * 4)) + noise);
        row[3 * x + 2] = uint8_t(std::lround(40 + 180 * fy * (1 - blob)) + noise);
      }
    }
    return b;
  }();
  return *img;
}

TIOParamsVals& JpegParams() {
  static TIOParamsVals p;
  p.JPEG_Quality = 75;
  p.JPEG_DCTMethod = ioJPEG_ISLOW;
  return p;
}
TIOParamsVals& PngParams() {
  static TIOParamsVals p;
  p.PNG_Filter = ioPNG_FILTER_SUB;
  p.PNG_Compression = 6;
  return p;
}

std::vector<uint8_t> Encode(bool jpeg) {
  TMemoryStream s;
  bool abort = false;
  TProgressRec pr;
  pr.Aborting = &abort;
  TBitmap* img = const_cast<TBitmap*>(&Photo());
  if (jpeg)
    WriteJPegStream(&s, img, JpegParams(), pr);
  else
    WritePNGStream(&s, img, PngParams(), pr);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

const std::vector<uint8_t>& Encoded(bool jpeg) {
  if (jpeg) {
    static std::vector<uint8_t> j = Encode(true);
    return j;
  }
  static std::vector<uint8_t> p = Encode(false);
  return p;
}

// Decodes into one bitmap kept across runs (a viewer reloading an image of
// the same size), or with fresh ones: then the first touch of 36 MB of new
// pixel memory (page faults) is part of every run.
void Decode(benchmark::State& state, bool jpeg, bool fresh) {
  const std::vector<uint8_t>& file = Encoded(jpeg);
  TMemoryStream s;
  s.SetData(file.data(), file.size());
  static TBitmap kept;
  bool abort = false;
  TProgressRec pr;
  pr.Aborting = &abort;
  for (auto _ : state) {
    s.SetPosition(0);
    TIOParamsVals p;
    TBitmap own;
    TBitmap& bmp = fresh ? own : kept;
    if (jpeg)
      ReadJPegStream(&s, &bmp, p, false, pr);
    else
      ReadPNGStream(&s, &bmp, p, false, pr);
    benchmark::DoNotOptimize(bmp.Scanline(kH - 1)[0]);
  }
}

void EncodeBench(benchmark::State& state, bool jpeg) {
  Photo();
  for (auto _ : state) benchmark::DoNotOptimize(Encode(jpeg).size());
}

void BM_JpegDecode(benchmark::State& s) { Decode(s, true, false); }
void BM_JpegDecodeFresh(benchmark::State& s) { Decode(s, true, true); }
void BM_JpegEncode(benchmark::State& s) { EncodeBench(s, true); }
void BM_PngDecode(benchmark::State& s) { Decode(s, false, false); }
void BM_PngEncode(benchmark::State& s) { EncodeBench(s, false); }
BENCHMARK(BM_JpegDecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpegDecodeFresh)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpegEncode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngDecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngEncode)->Unit(benchmark::kMillisecond)->UseRealTime();

bool WriteFile(const std::string& path, const void* data, size_t n) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, n, f) == n;
  return std::fclose(f) == 0 && ok;
}

bool Dump(const std::string& dir) {
  const TBitmap& img = Photo();
  std::string ppm = "P6\n" + std::to_string(kW) + " " + std::to_string(kH) + "\n255\n";
  const size_t head = ppm.size();
  ppm.resize(head + size_t(kW) * kH * 3);
  for (int y = 0; y < kH; ++y) {
    const uint8_t* row = img.Scanline(y);
    char* d = &ppm[head + size_t(y) * kW * 3];
    for (int x = 0; x < kW; ++x) {
      d[3 * x] = char(row[3 * x + 2]);
      d[3 * x + 1] = char(row[3 * x + 1]);
      d[3 * x + 2] = char(row[3 * x]);
    }
  }
  return WriteFile(dir + "/photo.ppm", ppm.data(), ppm.size()) &&
         WriteFile(dir + "/photo.jpg", Encoded(true).data(), Encoded(true).size()) &&
         WriteFile(dir + "/photo.png", Encoded(false).data(), Encoded(false).size());
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--dump=", 7) == 0) {
      if (Dump(argv[i] + 7)) return 0;
      std::fprintf(stderr, "cannot write to %s\n", argv[i] + 7);
      return 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
