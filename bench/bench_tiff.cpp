// TIFF codec timings: LZW read and write of a 4000x3000 photo-like RGB image
// and Group 4 read and write of a 2480x3508 text-like bilevel page, all in
// memory. With --write DIR the program writes the test files for
// compare_tiff.sh; with --convert IN OUT COMPRESSION RUNS it times the same
// work tiffcp does (read a file, write it with another compression) and
// prints the best time in seconds; with --decode IN RUNS it only reads the
// file (Deflate and JPEG pages made by tiffcp); with --jpeg-of IN OUT it
// writes the JPEG stream of a one-strip JPEG page (its tables spliced in) as
// a file djpeg can read: the very data the page holds.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "korvane/io/codecs/tiff/tiff_codec.h"
#include "korvane/io/codecs/tiff/tiff_lzw.h"

using namespace korvane;

namespace {

void Photo(TBitmap& b) {
  const int w = 4000, h = 3000;
  b.Allocate(w, h, pf24bit);
  uint32_t seed = 1;
  for (int y = 0; y < h; ++y) {
    TRGB* r = reinterpret_cast<TRGB*>(b.Scanline(y));
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int n = int(seed >> 29);  // a little noise over smooth gradients
      r[x] = TRGB{uint8_t((x / 16 + n) & 0xFF), uint8_t((y / 12 + (x + y) / 40) & 0xFF),
                  uint8_t(((x * y) >> 14) + n)};
    }
  }
}

void Page(TBitmap& b) {
  const int w = 2480, h = 3508;
  b.Allocate(w, h, pf1bit);
  for (int y = 0; y < h; ++y) std::memset(b.Scanline(y), 0xFF, size_t((w + 7) / 8));
  // Lines of "text": glyph-like boxes and strokes with margins.
  uint32_t seed = 7;
  for (int line = 0; line < 60; ++line) {
    const int top = 200 + line * 52;
    for (int x = 200; x < w - 200;) {
      seed = seed * 1664525u + 1013904223u;
      const int gw = 8 + int(seed >> 28), gap = (seed >> 20) % 9 == 0 ? 20 : 4;
      for (int y = top; y < top + 30; ++y) {
        uint8_t* row = b.Scanline(y);
        for (int k = 0; k < gw; ++k) {
          const bool ink = k < 3 || k >= gw - 3 || y < top + 3 || ((y - top) % 13 == 0) ||
                           ((seed >> (k % 16)) & 1 && y > top + 24);
          if (ink) row[(x + k) / 8] &= uint8_t(~(0x80 >> ((x + k) % 8)));
        }
      }
      x += gw + gap;
    }
  }
}

void Save(TBitmap& b, TIOTIFFCompression c, TStream* s) {
  TIOParamsVals p;
  p.TIFF_LZWCompFunc = TIFFLZWCompress;
  p.TIFF_Compression = c;
  const bool bilevel = b.PixelFormat() == pf1bit;
  p.BitsPerSample = bilevel ? 1 : 8;
  p.SamplesPerPixel = bilevel ? 1 : 3;
  TIFFWriteStream(s, false, &b, p, nullpr);
}

void Load(TStream* s, TBitmap& b) {
  TIOParamsVals p;
  p.TIFF_LZWDecompFunc = TIFFLZWDecompress;
  int32_t pages;
  s->SetPosition(0);
  TIFFReadStream(&b, s, pages, false, nullpr, &p);
}

void BM_Write(benchmark::State& st, bool bilevel, TIOTIFFCompression c) {
  TBitmap b;
  bilevel ? Page(b) : Photo(b);
  for (auto _ : st) {
    TMemoryStream m;
    Save(b, c, &m);
    benchmark::DoNotOptimize(m.Memory());
  }
}

void BM_Read(benchmark::State& st, bool bilevel, TIOTIFFCompression c) {
  TBitmap b;
  bilevel ? Page(b) : Photo(b);
  TMemoryStream m;
  Save(b, c, &m);
  for (auto _ : st) {
    TBitmap out;
    Load(&m, out);
    benchmark::DoNotOptimize(out.Scanline(0));
  }
}

BENCHMARK_CAPTURE(BM_Write, lzw_rgb_4000x3000, false, ioTIFF_LZW)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Read, lzw_rgb_4000x3000, false, ioTIFF_LZW)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Write, g4_2480x3508, true, ioTIFF_G4FAX)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Read, g4_2480x3508, true, ioTIFF_G4FAX)->Unit(benchmark::kMillisecond);

// The JPEG stream of a little-endian one-strip JPEG page with its tables:
// SOI, the tables' segments, then the strip after its own SOI.
int JpegOf(const char* in, const char* out) {
  std::FILE* f = std::fopen(in, "rb");
  if (!f) return 1;
  std::string d;
  char buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) d.append(buf, n);
  std::fclose(f);
  auto u16 = [&](size_t at) { return unsigned(uint8_t(d[at])) | unsigned(uint8_t(d[at + 1])) << 8; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  if (d.size() < 8 || d[0] != 'I') return 1;
  const size_t ifd = u32(4);
  uint32_t strip = 0, count = 0, tables = 0, tablesCount = 0;
  for (unsigned i = 0, n = u16(ifd); i < n; ++i) {
    const size_t e = ifd + 2 + 12 * i;
    const unsigned tag = u16(e), type = u16(e + 2);
    const uint32_t v = type == 3 ? u16(e + 8) : u32(e + 8);
    if (tag == 273) strip = v;
    if (tag == 279) count = v;
    if (tag == 347) tables = v, tablesCount = u32(e + 4);
    if ((tag == 273 || tag == 279) && u32(e + 4) != 1) return 1;  // one strip only
  }
  if (!strip || !tables || tablesCount < 4) return 1;
  std::string j = d.substr(tables, tablesCount - 2) + d.substr(strip + 2, count - 2);
  std::FILE* o = std::fopen(out, "wb");
  if (!o) return 1;
  std::fwrite(j.data(), 1, j.size(), o);
  std::fclose(o);
  return 0;
}

int Tool(int argc, char** argv) {
  const std::string mode = argv[1];
  if (mode == "--write" && argc >= 3) {
    const std::string dir = argv[2];
    TBitmap photo, page;
    Photo(photo);
    Page(page);
    struct {
      TBitmap* b;
      TIOTIFFCompression c;
      const char* name;
    } files[] = {{&photo, ioTIFF_UNCOMPRESSED, "rgb_none.tif"},
                 {&photo, ioTIFF_LZW, "rgb_lzw.tif"},
                 {&page, ioTIFF_UNCOMPRESSED, "page_none.tif"},
                 {&page, ioTIFF_G4FAX, "page_g4.tif"}};
    for (auto& f : files) {
      TFileStream s(dir + "/" + f.name, fmCreate);
      Save(*f.b, f.c, &s);
    }
    return 0;
  }
  if (mode == "--decode" && argc >= 4) {
    double best = 1e30;
    for (int i = 0, n = std::atoi(argv[3]); i < n; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      TBitmap b;
      TFileStream in(argv[2], fmOpenRead);
      Load(&in, b);
      benchmark::DoNotOptimize(b.Scanline(0));
      best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::printf("%.6f\n", best);
    return 0;
  }
  if (mode == "--jpeg-of" && argc >= 4) return JpegOf(argv[2], argv[3]);
  if (mode == "--convert" && argc >= 6) {
    const std::string comp = argv[4];
    const TIOTIFFCompression c = comp == "lzw"  ? ioTIFF_LZW
                                 : comp == "g4" ? ioTIFF_G4FAX
                                                : ioTIFF_UNCOMPRESSED;
    double best = 1e30;
    for (int i = 0, n = std::atoi(argv[5]); i < n; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      TBitmap b;
      {
        TFileStream in(argv[2], fmOpenRead);
        Load(&in, b);
      }
      TFileStream out(argv[3], fmCreate);
      Save(b, c, &out);
      best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::printf("%.6f\n", best);
    return 0;
  }
  std::fprintf(
      stderr,
      "usage: %s --write DIR | --convert IN OUT none|lzw|g4 RUNS | --decode IN RUNS | --jpeg-of IN OUT\n",
      argv[0]);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strncmp(argv[1], "--", 2) == 0 && std::strncmp(argv[1], "--benchmark", 11) != 0)
    return Tool(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
