/// \file
/// What the bitmap and the canvas halves of the host graphics share: mapping
/// colors to palette entries (a bitmap converting its format, a canvas writing
/// its drawing back into a palette bitmap).
#pragma once
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "korvane/foundations/host/graphics.h"

namespace korvane::detail {

/// Nearest palette entry by squared distance, with a cache for runs of equal
/// colors.
class NearestIndex {
 public:
  explicit NearestIndex(const std::vector<TRGB>& pal) : pal_(pal) {}
  unsigned operator()(TRGB c) {
    uint32_t key = c.r | (c.g << 8) | (c.b << 16);
    auto it = cache_.find(key);
    if (it != cache_.end()) return it->second;
    unsigned best = 0;
    int bestd = 1 << 30;
    for (size_t i = 0; i < pal_.size(); ++i) {
      int dr = int(pal_[i].r) - c.r, dg = int(pal_[i].g) - c.g, db = int(pal_[i].b) - c.b;
      int d = dr * dr + dg * dg + db * db;
      if (d < bestd) {
        bestd = d;
        best = unsigned(i);
      }
    }
    if (cache_.size() < 65536) cache_.emplace(key, best);
    return best;
  }

 private:
  const std::vector<TRGB>& pal_;
  std::unordered_map<uint32_t, unsigned> cache_;
};

}  // namespace korvane::detail
