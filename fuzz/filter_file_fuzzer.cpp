// Fuzz target for the 43-byte filter file: any file either raises
// EFilterInvalid or gives the filter its bytes hold, which saves back to the
// same 43 bytes; the filter, whatever its weights and divisor, then convolves
// a small picture (the rest of the input) exactly as a plain 64-bit sum does.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "korvane/foundations/host/graphics.h"
#include "korvane/pixels/filters.h"

using namespace korvane;

namespace {

// One scratch file per process, removed at exit (a plain array: it outlives
// every exit handler).
char gScratch[] = "/tmp/korvane_filter_fuzz_XXXXXX";

const char* Scratch() {
  static const bool made = [] {
    int fd = mkstemp(gScratch);
    if (fd < 0) std::abort();
    close(fd);
    std::atexit([] { std::remove(gScratch); });
    return true;
  }();
  (void)made;
  return gScratch;
}

void WriteFile(const std::string& name, const uint8_t* data, size_t size) {
  std::ofstream f(name, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

std::vector<uint8_t> ReadFile(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = Scratch();
  WriteFile(name, data, size);
  const bool valid = size >= 43 && data[0] == 1 && data[1] == 3 && data[2] == 3;
  TGraphFilter f;
  try {
    f = LoadFilterFromFile(name);
  } catch (const EFilterInvalid&) {
    if (valid) std::abort();
    return 0;
  }
  if (!valid) std::abort();
  SaveFilterToFile(name, f);
  const std::vector<uint8_t> saved = ReadFile(name);
  if (saved.size() != 43 || std::memcmp(saved.data(), data, 43) != 0) std::abort();

  // A picture of up to 9 x 4 pixels from the bytes after the filter.
  const uint8_t* px = data + 43;
  const size_t left = size - 43;
  const int w = int(std::min<size_t>(9, std::max<size_t>(1, left / 12)));
  const int h = int(std::min<size_t>(4, std::max<size_t>(1, left / (3 * size_t(w)))));
  TBitmap bmp;
  bmp.Allocate(w, h, pf24bit);
  for (int y = 0; y < h; ++y)
    for (int i = 0; i < 3 * w; ++i) {
      const size_t k = size_t(y) * 3 * w + size_t(i);
      bmp.Scanline(y)[i] = k < left ? px[k] : uint8_t(k * 37);
    }
  std::vector<uint8_t> orig(size_t(w) * h * 3);
  for (int y = 0; y < h; ++y) std::memcpy(&orig[size_t(y) * w * 3], bmp.Scanline(y), size_t(w) * 3);
  _ApplyFilter(&bmp, f, 0, 0, w - 1, h - 1);

  const int64_t div = f.Divisor == 0 ? 1 : f.Divisor;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        int64_t sum = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int sy = std::clamp(y + dy, 0, h - 1), sx = std::clamp(x + dx, 0, w - 1);
            sum += int64_t(f.Values[dy + 1][dx + 1]) * orig[(size_t(sy) * w + size_t(sx)) * 3 + size_t(c)];
          }
        const int64_t want = std::clamp<int64_t>(sum / div, 0, 255);
        if (bmp.Scanline(y)[x * 3 + c] != want) std::abort();
      }
  return 0;
}
