// Helpers of the GIF tests: coders in a record, small hand-made GIFs, temp
// folders, and running Pillow on files.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/io/codecs/gif/gif_lzw.h"
#include "korvane/io/ioparams.h"
#include "tests/test_support.h"

namespace korvane::test {

// The message of the EInvalidGraphic that f raises, "" when it raises none.
template <typename F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const EInvalidGraphic& e) {
    return e.what();
  }
  return "";
}

inline void InstallGifCoders(TIOParamsVals& p, bool runLength = false) {
  p.GIF_LZWDecompFunc = GIFLZWDecompress;
  p.GIF_LZWCompFunc = runLength ? GIFNONLZWCompress : GIFLZWCompress;
}

// Reads every pixel byte so the sanitizers see uninitialised or freed memory.
inline unsigned TouchPixels(TBitmap& b) {
  unsigned sum = 0;
  const int bytes = (b.Width() * b.BitsPerPixel() + 7) / 8;
  for (int y = 0; y < b.Height(); ++y)
    for (int i = 0; i < bytes; ++i) sum += b.Scanline(y)[i];
  return sum;
}

inline void Solid(TBitmap& b, int w, int h, uint8_t gray) {
  b.Allocate(w, h, pf24bit);
  for (int y = 0; y < h; ++y) std::fill_n(b.Scanline(y), w * 3, gray);
}

struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/kvgifXXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
};

inline void WriteBytes(const std::string& name, const std::vector<uint8_t>& d) {
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char*>(d.data()), std::streamsize(d.size()));
}
inline std::string ReadText(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// An 8x6 one-frame GIF without a graphic control extension; a 2-entry global
// table (black, white unless given) and pixels 0, 1, 0, 1 ... along each row.
inline std::vector<uint8_t> MinimalGif(bool interlaced,
                                       std::vector<uint8_t> table = {0, 0, 0, 255, 255, 255}) {
  std::vector<uint8_t> g = {'G', 'I', 'F', '8', '7', 'a', 8, 0, 6, 0, 0x80, 0, 0};
  g.insert(g.end(), table.begin(), table.end());
  g.insert(g.end(), {0x2C, 0, 0, 0, 0, 8, 0, 6, 0, uint8_t(interlaced ? 0x40 : 0)});
  std::vector<uint8_t> idx(48);
  for (size_t i = 0; i < idx.size(); ++i) idx[i] = i & 1;
  TMemoryStream s;
  GIFLZWCompress(&s, 6, 8, interlaced, idx.data(), 1);
  g.insert(g.end(), s.Memory(), s.Memory() + s.Size());
  g.push_back(0x3B);
  return g;
}

// A w x h frame described by a few bytes of data.
inline std::vector<uint8_t> HugeFrameGif(int w, int h) {
  const uint8_t wl = uint8_t(w), wh = uint8_t(w >> 8), hl = uint8_t(h), hh = uint8_t(h >> 8);
  std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a', wl, wh, hl, hh, 0x80, 0, 0, 0, 0, 0, 255, 255, 255};
  g.insert(g.end(), {0x2C, 0, 0, 0, 0, wl, wh, hl, hh, 0, 2, 2, 0x4C, 0x01, 0, 0x3B});
  return g;
}

// Thousands of extensions in a row, the last one cut short.
inline std::vector<uint8_t> ExtensionChainGif() {
  std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
  for (int i = 0; i < 20000; ++i) g.insert(g.end(), {0x21, 0xFE, 3, 'a', 'b', 'c', 0});
  g.insert(g.end(), {0x21, 0xFE, 200, 'x'});
  return g;
}

inline std::vector<std::string> SuiteGifs() {
  std::vector<std::string> v;
  std::string dir = SharedDir();
  if (dir.empty() || !std::filesystem::exists(dir + "/suites")) return v;
  for (auto& e : std::filesystem::recursive_directory_iterator(dir + "/suites"))
    if (e.is_regular_file() && e.path().extension() == ".gif") v.push_back(e.path().string());
  std::sort(v.begin(), v.end());
  return v;
}

// The frame's colors as a P6 file: 24-bit as stored; 1-bit through the
// record's 2-entry palette (bit 0 the darker entry).
inline void WritePPM(TBitmap& b, const TIOParamsVals& p, const std::string& name) {
  std::string out = "P6\n" + std::to_string(b.Width()) + " " + std::to_string(b.Height()) + "\n255\n";
  TRGB c0{0, 0, 0}, c1{255, 255, 255};
  if (b.PixelFormat() == pf1bit && p.ColorMapCount >= 2) {
    auto gray = [](const TRGB& c) { return (21 * c.r + 71 * c.g + 7 * c.b) / 100; };
    bool flip = gray(p.ColorMap[0]) > gray(p.ColorMap[1]);
    c0 = p.ColorMap[flip ? 1 : 0];
    c1 = p.ColorMap[flip ? 0 : 1];
  }
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      TRGB c = b.PixelFormat() == pf1bit ? ((b.Scanline(y)[x >> 3] >> (7 - (x & 7))) & 1 ? c1 : c0)
                                         : reinterpret_cast<const TRGB*>(b.Scanline(y))[x];
      out += char(c.r);
      out += char(c.g);
      out += char(c.b);
    }
  std::ofstream(name, std::ios::binary) << out;
}

struct PillowResult {
  bool available = false;  // a Python with Pillow was found
  bool ok = false;         // the snippet ran without error
  std::string output;      // stdout, or why it did not run
};

// Runs a Python snippet with Image imported and `path` set to arg.
inline PillowResult RunPillow(const std::string& body, const std::string& arg) {
  PillowResult r;
  const std::string py = test::PythonWith("PIL");
  if (py.empty()) {
    r.output = "Pillow (python3-pil) is not installed";
    return r;
  }
  r.available = true;
  TempDir d;
  std::ofstream(d.path + "/s.py") << "import sys\nfrom PIL import Image\npath = sys.argv[1]\n" << body;
  std::string cmd = py + " " + d.path + "/s.py '" + arg + "'";
  FILE* f = popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) r.output.append(buf, n);
  r.ok = pclose(f) == 0;
  return r;
}

}  // namespace korvane::test
