#include "korvane/pixels/filters.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/parallel.h"
#include "korvane/foundations/host/safe_save.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/dib_procs.h"

namespace korvane {

const TGraphFilter KVFiltPres[LowPass2 + 1] = {
    {{{0, 0, 0}, {0, 1, 0}, {0, 0, 0}}, 0},          // fpNone
    {{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, 9},          // fpBlur
    {{{1, 1, 1}, {1, -8, 1}, {1, 1, 1}}, 1},         // fpEdge
    {{{-1, 0, 1}, {-1, 1, 1}, {-1, 0, 1}}, 1},       // fpEmboss
    {{{0, -1, 0}, {-1, 5, -1}, {0, -1, 0}}, 1},      // fpHighPass1
    {{{-1, -1, -1}, {-1, 9, -1}, {-1, -1, -1}}, 1},  // fpHighPass2
    {{{1, -2, 1}, {-2, 5, -2}, {1, -2, 1}}, 1},      // fpHighPass3
    {{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, 10},         // LowPass1
    {{{1, 2, 1}, {2, 4, 2}, {1, 2, 1}}, 16},         // LowPass2
};

namespace {

// One output row: rows a, m and b are the rows above, at and below, each with
// one edge pixel repeated on both sides, starting at the left neighbour of
// the first output pixel; n channel bytes are written to out. The weights are
// plain integer multiplies, which the compiler turns into vector code (a
// table look-up per tap would not vectorise).
template <typename Acc, bool kDivide>
void ConvolveRow(const uint8_t* a, const uint8_t* m, const uint8_t* b, uint8_t* out, int n, const int* k,
                 Acc div) {
  const Acc k0 = k[0], k1 = k[1], k2 = k[2], k3 = k[3], k4 = k[4], k5 = k[5], k6 = k[6], k7 = k[7], k8 = k[8];
  for (int i = 0; i < n; ++i) {
    Acc s = k0 * a[i] + k1 * a[i + 3] + k2 * a[i + 6] + k3 * m[i] + k4 * m[i + 3] + k5 * m[i + 6] +
            k6 * b[i] + k7 * b[i + 3] + k8 * b[i + 6];
    if (kDivide) s /= div;  // truncates toward zero
    out[i] = uint8_t(s < 0 ? 0 : s > 255 ? 255 : s);
  }
}

// The same for weights whose sums always fit 16 bits and a divisor of 1: the
// sum is taken modulo 2^16 (exact here), which lets the compiler work on
// eight 16-bit lanes with the plain SSE2 16-bit multiply.
void ConvolveRow16(const uint8_t* a, const uint8_t* m, const uint8_t* b, uint8_t* out, int n, const int* k) {
  const int16_t k0 = int16_t(k[0]), k1 = int16_t(k[1]), k2 = int16_t(k[2]), k3 = int16_t(k[3]),
                k4 = int16_t(k[4]), k5 = int16_t(k[5]), k6 = int16_t(k[6]), k7 = int16_t(k[7]),
                k8 = int16_t(k[8]);
  for (int i = 0; i < n; ++i) {
    const int16_t s = int16_t(k0 * a[i] + k1 * a[i + 3] + k2 * a[i + 6] + k3 * m[i] + k4 * m[i + 3] +
                              k5 * m[i + 6] + k6 * b[i] + k7 * b[i + 3] + k8 * b[i + 6]);
    out[i] = uint8_t(s < 0 ? 0 : s > 255 ? 255 : s);
  }
}

// Copies row y of the bitmap into buf with the edge pixel repeated once on
// each side (buf holds width + 2 pixels).
void PaddedRow(const TBitmap* bmp, int y, uint8_t* buf) {
  const int w = bmp->Width();
  const uint8_t* src = bmp->Scanline(y);
  std::memcpy(buf + 3, src, size_t(w) * 3);
  std::memcpy(buf, src, 3);
  std::memcpy(buf + 3 * (w + 1), src + 3 * (w - 1), 3);
}

int32_t Le32(const uint8_t* p) {
  return int32_t(uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24));
}

void PutLe32(uint8_t* p, int32_t v) {
  const uint32_t u = uint32_t(v);
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(u >> (8 * i));
}

}  // namespace

namespace {

// The weights of a 3x3 filter and the accumulator they need.
struct Kernel {
  int k[9];
  int div;
  bool wide, narrow;
  void Row(const uint8_t* a, const uint8_t* m, const uint8_t* b, uint8_t* out, int n) const {
    if (narrow)
      ConvolveRow16(a, m, b, out, n, k);
    else if (wide)
      ConvolveRow<int64_t, true>(a, m, b, out, n, k, div);
    else if (div == 1)
      ConvolveRow<int, false>(a, m, b, out, n, k, 1);
    else
      ConvolveRow<int, true>(a, m, b, out, n, k, div);
  }
};

// Filters rows ya..yb, columns x1 .. x1 + n / 3 - 1. `above` is the padded
// row above ya as it was before the filter ran; `lastBelow`, when given,
// stands for the row below yb (another thread may have filtered it). Rows
// are written back as soon as they are done, so the row above is kept from
// the previous step and the row below is still the original.
template <typename AfterRow>
void FilterBand(TBitmap* bmp, const Kernel& k, int ya, int yb, int x1, int n, const uint8_t* above0,
                const uint8_t* lastBelow, AfterRow&& afterRow) {
  const int w = bmp->Width(), h = bmp->Height();
  const size_t padded = size_t(w + 2) * 3;
  std::vector<uint8_t> store(3 * padded);
  uint8_t* above = store.data();
  uint8_t* cur = above + padded;
  uint8_t* below = cur + padded;
  std::memcpy(above, above0, padded);
  PaddedRow(bmp, ya, cur);
  const size_t off = size_t(x1) * 3;  // left neighbour of x1 in a padded row
  for (int y = ya; y <= yb; ++y) {
    if (y == yb && lastBelow)
      std::memcpy(below, lastBelow, padded);
    else
      PaddedRow(bmp, std::min(y + 1, h - 1), below);
    k.Row(above + off, cur + off, below + off, bmp->Scanline(y) + off, n);
    std::swap(above, cur);  // the old current row becomes the row above
    std::swap(cur, below);
    afterRow(y);
  }
}

}  // namespace

void _ApplyFilter(TBitmap* Bitmap, const TGraphFilter& Filter, int x1, int y1, int x2, int y2,
                  TProgressRec& Progress) {
  if (!Bitmap || Bitmap->PixelFormat() != pf24bit || Bitmap->Empty()) return;
  const int w = Bitmap->Width(), h = Bitmap->Height();
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, w - 1);
  y2 = std::min(y2, h - 1);
  if (x1 > x2 || y1 > y2) return;
  Kernel k;
  for (int i = 0; i < 9; ++i) k.k[i] = Filter.Values[i / 3][i % 3];
  k.div = Filter.Divisor == 0 ? 1 : Filter.Divisor;
  // Weights from a file can be anything: sums that might leave 32 bits are
  // taken in 64.
  int64_t reach = 0;
  for (int v : k.k) reach += std::abs(int64_t(v)) * 255;
  k.wide = reach > INT32_MAX;
  k.narrow = reach <= INT16_MAX && k.div == 1;

  const int n = (x2 - x1 + 1) * 3;
  const size_t padded = size_t(w + 2) * 3;
  const int rows = y2 - y1 + 1;
  const int threads = KVThreadsFor(int64_t(x2 - x1 + 1) * rows);
  if (threads <= 1) {
    std::vector<uint8_t> above(padded);
    PaddedRow(Bitmap, std::max(y1 - 1, 0), above.data());
    FilterBand(Bitmap, k, y1, y2, x1, n, above.data(), nullptr, [&](int y) {
      if (Progress.OnProgress) ReportProgress(Progress, RowPercent(y, y1, y2));
    });
    return;
  }
  // Bands of rows on several threads. Each band needs the rows just outside
  // it as they were, and its neighbours may filter those first: both are
  // copied before any band starts (the row above band b and band b's first
  // row, which is the row below band b - 1).
  const int64_t grain = KVRowGrain(x2 - x1 + 1, rows);
  const int64_t bands = (rows + grain - 1) / grain;
  std::vector<uint8_t> edges(size_t(bands) * 2 * padded);
  for (int64_t b = 0; b < bands; ++b) {
    const int first = y1 + int(b * grain);
    PaddedRow(Bitmap, std::max(first - 1, 0), edges.data() + size_t(b) * 2 * padded);
    PaddedRow(Bitmap, first, edges.data() + (size_t(b) * 2 + 1) * padded);
  }
  auto tick = KVReportTick(bool(Progress.OnProgress), [&](int64_t done) {
    ReportProgress(Progress, RowPercent(y1 + int(done) - 1, y1, y2));
  });
  KVParallelFor(
      rows, grain, threads,
      [&](int64_t first, int64_t last) {
        const int64_t b = first / grain;
        const uint8_t* below = b + 1 < bands ? edges.data() + (size_t(b + 1) * 2 + 1) * padded : nullptr;
        FilterBand(Bitmap, k, y1 + int(first), y1 + int(last) - 1, x1, n,
                   edges.data() + size_t(b) * 2 * padded, below, [](int) {});
      },
      tick);
}

TGraphFilter LoadFilterFromFile(const std::string& FileName) {
  TFileStream f(FileName, fmOpenRead);
  uint8_t buf[43];
  const int64_t got = f.Read(buf, sizeof buf);
  if (got < 3 || buf[0] != 1 || buf[1] != 3 || buf[2] != 3 || got < 43)
    throw EFilterInvalid("unrecognized filter");
  TGraphFilter r;
  for (int i = 0; i < 9; ++i) r.Values[i / 3][i % 3] = Le32(buf + 3 + 4 * i);
  r.Divisor = Le32(buf + 39);
  return r;
}

void SaveFilterToFile(const std::string& FileName, const TGraphFilter& Filter) {
  uint8_t buf[43] = {1, 3, 3};
  for (int i = 0; i < 9; ++i) PutLe32(buf + 3 + 4 * i, Filter.Values[i / 3][i % 3]);
  PutLe32(buf + 39, Filter.Divisor);
  KVSafeSave(FileName, [&](TStream* f) { f->WriteBuffer(buf, sizeof buf); });
}

}  // namespace korvane
