// The photo-like test image the benchmarks share, so that every program and
// peer script times the same pixels.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>
#include <random>

#include "korvane/foundations/host/graphics.h"

namespace korvane::bench {

// A photo-like scene: sky gradient, textured foliage, a lit skin-toned
// ellipse and sensor noise; the distribution of a landscape photograph
// rather than of synthetic noise.
inline void Scene(TBitmap& b, int w, int h) {
  b.Allocate(w, h, pf24bit);
  std::mt19937 rng(1234);
  std::normal_distribution<double> noise(0.0, 2.5);
  for (int y = 0; y < h; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(b.Scanline(y));
    double fy = double(y) / h;
    for (int x = 0; x < w; ++x) {
      double fx = double(x) / w, r, g, bl;
      double horizon = 0.45 + 0.05 * std::sin(9 * fx);
      if (fy < horizon) {
        double t = fy / horizon;
        r = 80 + 100 * t;
        g = 130 + 80 * t;
        bl = 205 + 35 * t;
      } else {
        double t = (fy - horizon) / (1 - horizon);
        double tex = 0.5 + 0.5 * std::sin(40 * fx + 13 * std::sin(25 * fy)) * std::cos(31 * fy);
        r = 30 + 60 * tex - 20 * t;
        g = 70 + 80 * tex - 30 * t;
        bl = 20 + 30 * tex - 10 * t;
      }
      double dx = (fx - 0.62) / 0.16, dy = (fy - 0.5) / 0.24;
      if (dx * dx + dy * dy < 1) {
        double light =
            0.55 + 0.45 * std::clamp(1 - (dx + 0.4) * (dx + 0.4) - (dy + 0.5) * (dy + 0.5), 0.0, 1.0);
        r = 225 * light;
        g = 170 * light;
        bl = 140 * light;
      }
      auto c = [&](double v) { return uint8_t(std::clamp(int(std::lround(v + noise(rng))), 0, 255)); };
      row[x] = TRGB{c(bl), c(g), c(r)};
    }
  }
}

// Writes a 24-bit bitmap as a binary P6 PPM for the peer scripts.
inline bool WritePPM(TBitmap& b, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", b.Width(), b.Height());
  std::vector<uint8_t> line(size_t(b.Width()) * 3);
  for (int y = 0; y < b.Height(); ++y) {
    const TRGB* p = reinterpret_cast<const TRGB*>(b.Scanline(y));
    for (int x = 0; x < b.Width(); ++x) {
      line[size_t(x) * 3] = p[x].r;
      line[size_t(x) * 3 + 1] = p[x].g;
      line[size_t(x) * 3 + 2] = p[x].b;
    }
    std::fwrite(line.data(), 1, line.size(), f);
  }
  return std::fclose(f) == 0;
}

}  // namespace korvane::bench
