#include "korvane/pixels/histogram.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "korvane/foundations/host/parallel.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/dib_procs.h"

namespace korvane {

namespace {

// Gray level of a weighted sum 21 r + 71 g + 7 b (at most 99 * 255): the
// division by 100 done once per call instead of once per pixel.
struct GrayTable {
  uint16_t r[256], g[256], b[256];
  uint8_t div100[99 * 255 + 1];
  GrayTable() {
    for (int v = 0; v < 256; ++v) {
      r[v] = uint16_t(21 * v);
      g[v] = uint16_t(71 * v);
      b[v] = uint16_t(7 * v);
    }
    for (int s = 0; s <= 99 * 255; ++s) div100[s] = uint8_t(s / 100);
  }
  uint8_t Gray(TRGB c) const { return div100[r[c.r] + g[c.g] + b[c.b]]; }
};

const GrayTable& Grays() {
  static const GrayTable t;
  return t;
}

bool ClipRect(const TBitmap* bmp, int& x1, int& y1, int& x2, int& y2) {
  if (!bmp || bmp->PixelFormat() != pf24bit || bmp->Empty()) return false;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, bmp->Width() - 1);
  y2 = std::min(y2, bmp->Height() - 1);
  return x1 <= x2 && y1 <= y2;
}

void Report(const TProgressEvent& OnProgress, TObject* Sender, int y, int y1, int y2) {
  if (OnProgress) OnProgress(Sender, RowPercent(y, y1, y2));
}

// Copies row y with the edge pixel repeated once on each side.
void PaddedRow(const TBitmap* bmp, int y, TRGB* buf) {
  const int w = bmp->Width();
  const TRGB* src = reinterpret_cast<const TRGB*>(bmp->Scanline(y));
  std::memcpy(buf + 1, src, size_t(w) * sizeof(TRGB));
  buf[0] = src[0];
  buf[w + 1] = src[w - 1];
}

}  // namespace

namespace {

// Adds the red, green, blue and gray counts of columns x1..x2 of rows
// ya..yb to total (4 x 256 counters). Four sets of counter arrays, one per
// pixel position mod 4 (16 KB, kept in the first-level cache), so that
// neighbouring pixels of one level do not wait on each other's increments;
// they are summed at the end. The gray level divides by 100 as a multiply
// and shift: (s * 5243) >> 19 equals s div 100 for every weighted sum s up
// to 99 * 255.
void CountRows(const TBitmap* Bitmap, int x1, int x2, int ya, int yb, uint32_t* total) {
  constexpr int kSets = 4;
  std::vector<uint32_t> cnt(kSets * 4 * 256, 0);
  uint32_t* c0 = cnt.data();
  uint32_t* c1 = c0 + 4 * 256;
  uint32_t* c2 = c1 + 4 * 256;
  uint32_t* c3 = c2 + 4 * 256;
  auto count = [](uint32_t* c, TRGB p) {
    ++c[p.r];
    ++c[256 + p.g];
    ++c[512 + p.b];
    ++c[768 + ((uint32_t(21 * p.r + 71 * p.g + 7 * p.b) * 5243u) >> 19)];
  };
  for (int y = ya; y <= yb; ++y) {
    const TRGB* p = reinterpret_cast<const TRGB*>(Bitmap->Scanline(y));
    int x = x1;
    for (; x + 3 <= x2; x += 4) {
      count(c0, p[x]);
      count(c1, p[x + 1]);
      count(c2, p[x + 2]);
      count(c3, p[x + 3]);
    }
    for (; x <= x2; ++x) count(c0, p[x]);
  }
  for (int i = 0; i < 4 * 256; ++i) total[i] += c0[i] + c1[i] + c2[i] + c3[i];
}

}  // namespace

void _GetHistogram(const TBitmap* Bitmap, THistogramItem* Hist, int x1, int y1, int x2, int y2) {
  if (!Hist || !Bitmap || Bitmap->PixelFormat() != pf24bit) return;
  std::memset(Hist, 0, 256 * sizeof(THistogramItem));
  if (!ClipRect(Bitmap, x1, y1, x2, y2)) return;
  uint32_t total[4 * 256] = {};
  const int rows = y2 - y1 + 1;
  if (const int threads = KVThreadsFor(int64_t(x2 - x1 + 1) * rows); threads > 1) {
    // Each range counts on its own; the sums are the same in any order.
    std::mutex m;
    KVParallelFor(rows, KVRowGrain(x2 - x1 + 1, rows), threads, [&](int64_t first, int64_t last) {
      uint32_t part[4 * 256] = {};
      CountRows(Bitmap, x1, x2, y1 + int(first), y1 + int(last) - 1, part);
      std::lock_guard<std::mutex> lock(m);
      for (int i = 0; i < 4 * 256; ++i) total[i] += part[i];
    });
  } else {
    CountRows(Bitmap, x1, x2, y1, y2, total);
  }
  const uint32_t *cr = total, *cg = total + 256, *cb = total + 512, *cy = total + 768;
  for (int i = 0; i < 256; ++i) Hist[i] = THistogramItem{cr[i], cg[i], cb[i], cy[i]};
}

void _HistAutoEqualize(TBitmap* Bitmap, int x1, int y1, int x2, int y2, const TProgressEvent& OnProgress,
                       TObject* Sender) {
  if (!ClipRect(Bitmap, x1, y1, x2, y2)) return;
  const int w = Bitmap->Width(), h = Bitmap->Height();
  THistogramItem hist[256];
  _GetHistogram(Bitmap, hist, 0, 0, w - 1, h - 1);
  // Each output level takes about q pixels; below 256 pixels a quota of 0
  // would never move on, so it is at least 1.
  const int64_t q = std::max<int64_t>(1, int64_t(w) * h / 256);
  uint8_t left[256], right[256];
  int64_t i = 0, s = 0;
  for (int k = 0; k < 256; ++k) {
    left[k] = blimit(int(std::min<int64_t>(i, 256)));
    s += hist[k].Gray;
    // i only grows while s > q, at most (w * h) / q times in all.
    const int64_t steps = s > q ? (s - 1) / q : 0;
    s -= steps * q;
    i += steps;
    right[k] = blimit(int(std::min<int64_t>(i, 256)));
  }

  const GrayTable& gt = Grays();
  // Original rows above, at and below the current row (rows are written back
  // once done), each with the edge pixels repeated.
  const size_t pw = size_t(w) + 2;
  std::vector<TRGB> store(3 * pw);
  TRGB* above = store.data();
  TRGB* cur = above + pw;
  TRGB* below = cur + pw;
  PaddedRow(Bitmap, std::max(y1 - 1, 0), above);
  PaddedRow(Bitmap, y1, cur);
  std::vector<int> colsum(3 * pw);
  for (int y = y1; y <= y2; ++y) {
    PaddedRow(Bitmap, std::min(y + 1, h - 1), below);
    // Column sums over the three rows for x1 - 1 .. x2 + 1 (padded indexes).
    for (int x = x1; x <= x2 + 2; ++x) {
      colsum[3 * size_t(x)] = above[x].b + cur[x].b + below[x].b;
      colsum[3 * size_t(x) + 1] = above[x].g + cur[x].g + below[x].g;
      colsum[3 * size_t(x) + 2] = above[x].r + cur[x].r + below[x].r;
    }
    TRGB* out = reinterpret_cast<TRGB*>(Bitmap->Scanline(y));
    for (int x = x1; x <= x2; ++x) {
      const int* c = &colsum[3 * size_t(x)];
      const TRGB mean{uint8_t((c[0] + c[3] + c[6]) / 9), uint8_t((c[1] + c[4] + c[7]) / 9),
                      uint8_t((c[2] + c[5] + c[8]) / 9)};
      const TRGB px = cur[x + 1];
      const int g = gt.Gray(px), a = gt.Gray(mean);
      if (left[g] == right[g])
        out[x] = TRGB{left[px.b], left[px.g], left[px.r]};
      else if (a > right[g])
        out[x] = TRGB{right[px.b], right[px.g], right[px.r]};
      else if (a < left[g])
        out[x] = TRGB{left[px.b], left[px.g], left[px.r]};
      else
        out[x] = mean;
    }
    std::swap(above, cur);
    std::swap(cur, below);
    Report(OnProgress, Sender, y, y1, y2);
  }
}

void _HistEqualize(TBitmap* Bitmap, TRGB LoThresh, TRGB HiThresh, int x1, int y1, int x2, int y2,
                   const TProgressEvent& OnProgress, TObject* Sender) {
  if (!ClipRect(Bitmap, x1, y1, x2, y2)) return;
  const TRGB hi{uint8_t(std::max<int>(HiThresh.b, 1)), uint8_t(std::max<int>(HiThresh.g, 1)),
                uint8_t(std::max<int>(HiThresh.r, 1))};
  if (LoThresh == hi) return;
  // Per channel (b, g, r) the two stretches composed into one table; rounding
  // to nearest, ties to even.
  uint8_t lut[3][256];
  const int lo[3] = {LoThresh.b, LoThresh.g, LoThresh.r};
  const int top[3] = {hi.b, hi.g, hi.r};
  for (int ch = 0; ch < 3; ++ch) {
    const double d = 255 - lo[ch] == 0 ? 1 : 255 - lo[ch];
    for (int v = 0; v < 256; ++v) {
      const int first = blimit(int(std::nearbyint((v - lo[ch]) / d * 255)));
      lut[ch][v] = blimit(int(std::nearbyint(first / double(top[ch]) * 255)));
    }
  }
  for (int y = y1; y <= y2; ++y) {
    TRGB* p = reinterpret_cast<TRGB*>(Bitmap->Scanline(y));
    for (int x = x1; x <= x2; ++x) p[x] = TRGB{lut[0][p[x].b], lut[1][p[x].g], lut[2][p[x].r]};
    Report(OnProgress, Sender, y, y1, y2);
  }
}

}  // namespace korvane
