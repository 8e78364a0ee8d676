#include "korvane/foundations/host/halftone.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

namespace korvane {

namespace {

// Source contributions along one axis. The source span is cut into units so
// that a source pixel is A units wide and a destination pixel S units wide
// (A = dst / g, S = src / g with g = gcd(src, dst)); the weight of a source
// pixel in a destination pixel is the number of units they share, so every
// destination pixel's weights sum exactly to S.
struct AxisMap {
  std::vector<int> first;  // offset into index/weight of each visible destination pixel
  std::vector<int> index;  // source pixel (clamped into the bitmap)
  std::vector<uint32_t> weight;
  uint64_t total = 1;  // S
};

AxisMap BuildAxis(int srcStart, int srcLen, int srcLimit, int dstLen, int v0, int v1) {
  AxisMap m;
  const int64_t g = std::gcd(int64_t(srcLen), int64_t(dstLen));
  const int64_t A = dstLen / g, S = srcLen / g;
  m.total = uint64_t(S);
  m.first.reserve(size_t(v1 - v0) + 1);
  for (int x = v0; x < v1; ++x) {
    m.first.push_back(int(m.index.size()));
    const int64_t lo = x * S, hi = lo + S;
    for (int64_t j = lo / A; j <= (hi - 1) / A; ++j) {
      const int64_t w = std::min((j + 1) * A, hi) - std::max(j * A, lo);
      m.index.push_back(int(std::clamp<int64_t>(srcStart + j, 0, srcLimit - 1)));
      m.weight.push_back(uint32_t(w));
    }
  }
  m.first.push_back(int(m.index.size()));
  return m;
}

// Exact division of n < 2^k by a fixed d through one wide multiplication:
// with L = k + ceil(log2 d) and m = ceil(2^L / d), floor(n * m / 2^L) equals
// floor(n / d) because n * (m * d - 2^L) < 2^k * d <= 2^L.
class FixedDivisor {
 public:
  explicit FixedDivisor(uint64_t d) {
    int ld = 0;
    while (ld < 63 && (uint64_t(1) << ld) < d) ++ld;
    const int k = ld + 9;  // numerators stay below 256 * d + d / 2 < 2^(ld + 9)
    shift_ = k + ld;
    const unsigned __int128 one = 1;
    mul_ = uint64_t(((one << shift_) + d - 1) / d);
  }
  uint64_t Divide(uint64_t n) const { return uint64_t((static_cast<unsigned __int128>(n) * mul_) >> shift_); }

 private:
  uint64_t mul_ = 1;
  int shift_ = 0;
};

// Area-averaged pixels of the visible destination block vx0..vx1 x vy0..vy1
// (relative to the destination rectangle) written through out(row, y).
// H is the accumulator of the horizontal sums (at most 255 * S per channel).
template <typename H, typename Out>
void Average24(const TBitmap* src, const TRect& s, int dw, int dh, int vx0, int vx1, int vy0, int vy1,
               Out&& out) {
  const AxisMap mx = BuildAxis(s.Left, s.Right - s.Left, src->Width(), dw, vx0, vx1);
  const AxisMap my = BuildAxis(s.Top, s.Bottom - s.Top, src->Height(), dh, vy0, vy1);
  const int vw = vx1 - vx0;
  const uint64_t d = mx.total * my.total;
  const FixedDivisor div(d);

  // Horizontal sums of the last two source rows used (rows come in order, and
  // neighbouring destination rows share at most the boundary row).
  std::vector<H> cache[2] = {std::vector<H>(size_t(vw) * 3), std::vector<H>(size_t(vw) * 3)};
  int cached[2] = {-1, -1};
  auto horizontal = [&](int row) -> const H* {
    const int slot = row & 1;
    if (cached[slot] == row) return cache[slot].data();
    const uint8_t* in = src->Scanline(row);
    H* h = cache[slot].data();
    for (int x = 0; x < vw; ++x) {
      H b = 0, g = 0, r = 0;
      for (int k = mx.first[size_t(x)]; k < mx.first[size_t(x) + 1]; ++k) {
        const uint8_t* p = in + size_t(mx.index[size_t(k)]) * 3;
        const H w = mx.weight[size_t(k)];
        b += w * p[0];
        g += w * p[1];
        r += w * p[2];
      }
      h[3 * x] = b;
      h[3 * x + 1] = g;
      h[3 * x + 2] = r;
    }
    cached[slot] = row;
    return h;
  };

  std::vector<uint64_t> acc(size_t(vw) * 3);
  std::vector<uint8_t> line(size_t(vw) * 3);
  for (int y = vy0; y < vy1; ++y) {
    const size_t yi = size_t(y - vy0);
    std::fill(acc.begin(), acc.end(), d / 2);
    for (int k = my.first[yi]; k < my.first[yi + 1]; ++k) {
      const H* h = horizontal(my.index[size_t(k)]);
      const uint64_t w = my.weight[size_t(k)];
      for (size_t i = 0; i < acc.size(); ++i) acc[i] += w * h[i];
    }
    for (size_t i = 0; i < acc.size(); ++i) line[i] = uint8_t(div.Divide(acc[i]));
    out(line.data(), y);
  }
}

}  // namespace

void HalftoneStretch(TBitmap* Dest, const TRect& DestRect, const TBitmap* Src, const TRect& SrcRect) {
  if (!Dest || !Src || Src->Empty() || Dest->Empty()) return;
  // Extents in 64 bits: hostile rectangles may span more than an int.
  const int64_t dw64 = int64_t(DestRect.Right) - DestRect.Left,
                dh64 = int64_t(DestRect.Bottom) - DestRect.Top;
  const int64_t sw64 = int64_t(SrcRect.Right) - SrcRect.Left, sh64 = int64_t(SrcRect.Bottom) - SrcRect.Top;
  if (dw64 <= 0 || dh64 <= 0 || sw64 <= 0 || sh64 <= 0) return;
  if (dw64 > INT32_MAX || dh64 > INT32_MAX || sw64 > INT32_MAX || sh64 > INT32_MAX) return;
  // Source pixels outside the bitmap repeat its edges, but only within one
  // bitmap size of it: this bounds the work and keeps every sum in 64 bits.
  const int64_t W = Src->Width(), H = Src->Height();
  if (SrcRect.Left < -W || SrcRect.Top < -H || int64_t(SrcRect.Right) > 2 * W ||
      int64_t(SrcRect.Bottom) > 2 * H)
    return;
  const int dw = int(dw64), dh = int(dh64), sw = int(sw64);
  // The part of the destination rectangle inside the bitmap, relative to it.
  const int vx0 = int(std::clamp<int64_t>(-int64_t(DestRect.Left), 0, dw64));
  const int vy0 = int(std::clamp<int64_t>(-int64_t(DestRect.Top), 0, dh64));
  const int vx1 = int(std::min<int64_t>(dw, int64_t(Dest->Width()) - DestRect.Left));
  const int vy1 = int(std::min<int64_t>(dh, int64_t(Dest->Height()) - DestRect.Top));
  if (vx0 >= vx1 || vy0 >= vy1) return;

  // Read any source format (and a source that is also the destination)
  // through a 24-bit copy.
  TBitmap copy;
  const TBitmap* src = Src;
  if (Src->PixelFormat() != pf24bit || Src == Dest) {
    copy.Assign(Src);
    copy.SetPixelFormat(pf24bit);
    src = &copy;
  }

  const int ox = DestRect.Left, oy = DestRect.Top;
  TBitmap block;  // result for destinations that are not 24-bit
  if (Dest->PixelFormat() != pf24bit) block.Allocate(vx1 - vx0, vy1 - vy0, pf24bit);
  auto write = [&](const uint8_t* line, int y) {
    if (Dest->PixelFormat() == pf24bit)
      std::memcpy(Dest->Scanline(oy + y) + size_t(ox + vx0) * 3, line, size_t(vx1 - vx0) * 3);
    else
      std::memcpy(block.Scanline(y - vy0), line, size_t(vx1 - vx0) * 3);
  };
  // Per-channel horizontal sums reach 255 * (sw / gcd): 32-bit unless the
  // source span is huge and coprime with the destination.
  if (uint64_t(sw) * 255 < (uint64_t(1) << 32))
    Average24<uint32_t>(src, SrcRect, dw, dh, vx0, vx1, vy0, vy1, write);
  else
    Average24<uint64_t>(src, SrcRect, dw, dh, vx0, vx1, vy0, vy1, write);

  if (Dest->PixelFormat() == pf1bit) {
    // The nearer palette entry by squared distance, as the host converts.
    const std::vector<TRGB>& pal = Dest->Palette();
    const TRGB c0 = pal.size() > 0 ? pal[0] : TRGB{0, 0, 0};
    const TRGB c1 = pal.size() > 1 ? pal[1] : TRGB{255, 255, 255};
    auto dist = [](const uint8_t* p, TRGB c) {
      const int db = p[0] - c.b, dg = p[1] - c.g, dr = p[2] - c.r;
      return db * db + dg * dg + dr * dr;
    };
    for (int y = vy0; y < vy1; ++y) {
      const uint8_t* in = block.Scanline(y - vy0);
      uint8_t* row = Dest->Scanline(oy + y);
      for (int x = vx0; x < vx1; ++x, in += 3) {
        const int px = ox + x;
        const uint8_t bit = uint8_t(0x80 >> (px & 7));
        if (dist(in, c1) < dist(in, c0))
          row[px >> 3] |= bit;
        else
          row[px >> 3] &= uint8_t(~bit);
      }
    }
  } else if (Dest->PixelFormat() != pf24bit) {
    TCanvas* c = Dest->Canvas();
    c->Draw(ox + vx0, oy + vy0, &block);
    c->EndPaint();
  }
  Dest->Changed();
}

void HalftoneStretch(TBitmap* Dest, const TBitmap* Src) {
  if (!Dest || !Src) return;
  HalftoneStretch(Dest, Rect(0, 0, Dest->Width(), Dest->Height()), Src,
                  Rect(0, 0, Src->Width(), Src->Height()));
}

}  // namespace korvane
