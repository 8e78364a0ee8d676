#include "korvane/pixels/transforms.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/bitmap_procs.h"

namespace korvane {

int _TruncSat(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT_MAX;
  if (v <= -2147483648.0) return INT_MIN;
  return int(v);
}

int _Floor(double v) {
  const int t = _TruncSat(v);
  return (v < t && t > INT_MIN) ? t - 1 : t;
}

int _Ceil(double v) {
  const int t = _TruncSat(v);
  return (v > t && t < INT_MAX) ? t + 1 : t;
}

// ---------------------------------------------------------------------------
// Quarter turns

namespace {

// Dest pixel (x, y) = Source pixel (sx(y), sy(x)). The destination is walked
// in bands of source rows so that the rows being read stay in cache while
// each destination row is written left to right.
template <typename SX, typename SY>
void QuarterTurn(const TBitmap* Source, TBitmap* Dest, SX sx, SY sy) {
  const int w = Source->Width(), h = Source->Height();
  Dest->Allocate(h, w, pf24bit);
  if (Source->Empty()) return;
  std::vector<const TRGB*> rows(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) rows[size_t(y)] = reinterpret_cast<const TRGB*>(Source->Scanline(y));
  // Square tiles: the source rows of a tile and the destination rows it
  // writes both stay in cache while it is copied.
  constexpr int kTile = 64;
  for (int y0 = 0; y0 < w; y0 += kTile) {
    const int y1 = std::min(y0 + kTile, w);
    for (int x0 = 0; x0 < h; x0 += kTile) {
      const int x1 = std::min(x0 + kTile, h);
      for (int y = y0; y < y1; ++y) {
        TRGB* d = reinterpret_cast<TRGB*>(Dest->Scanline(y));
        const int col = sx(y);
        for (int x = x0; x < x1; ++x) d[x] = rows[size_t(sy(x))][col];
      }
    }
  }
}

}  // namespace

void _Rot90(const TBitmap* Source, TBitmap* Dest) {
  if (!Source || !Dest || Source == Dest || Source->PixelFormat() != pf24bit) return;
  const int w = Source->Width();
  QuarterTurn(
      Source, Dest, [w](int y) { return w - 1 - y; }, [](int x) { return x; });
}

void _Rot90o(const TBitmap* Source, TBitmap* Dest) {
  if (!Source || !Dest || Source == Dest || Source->PixelFormat() != pf24bit) return;
  const int h = Source->Height();
  QuarterTurn(
      Source, Dest, [](int y) { return y; }, [h](int x) { return h - 1 - x; });
}

// ---------------------------------------------------------------------------
// 1-bit rotation

void _rotate1bit(TBitmap* Bitmap, int FillBit, TProgressRec& Progress, int Angle) {
  if (!Bitmap || Bitmap->PixelFormat() != pf1bit || Bitmap->Empty()) return;
  const int w = Bitmap->Width(), h = Bitmap->Height();
  const double th = -double(Angle) / 57.29577951308232;
  // Four decimals of the cosine and sine, so that quarter turns are exact.
  const double c = std::trunc(std::cos(th) * 10000) / 10000;
  const double s = std::trunc(std::sin(th) * 10000) / 10000;
  const int nw = std::max(1, int(std::abs(w * c) + std::abs(h * s)));
  const int nh = std::max(1, int(std::abs(w * s) + std::abs(h * c)));
  const double scx = w / 2.0 - 0.5, scy = h / 2.0 - 0.5;
  const double dcx = nw / 2.0 - 0.5, dcy = nh / 2.0 - 0.5;
  TBitmap out;
  out.Allocate(nw, nh, pf1bit);
  const uint8_t fill = FillBit ? 1 : 0;
  std::vector<const uint8_t*> rows(static_cast<size_t>(h));
  for (int r = 0; r < h; ++r) rows[size_t(r)] = Bitmap->Scanline(r);
  for (int y = 0; y < nh; ++y) {
    const double dy = y - dcy;
    const double bx = s * dy + scx, by = c * dy + scy;
    // Source point of destination column x; truncation toward zero, so
    // (-1, 0) reads column or row 0.
    auto inside = [&](int x) {
      const double dx = x - dcx;
      const double fx = c * dx + bx, fy = -s * dx + by;
      return fx > -1 && fx < w && fy > -1 && fy < h;
    };
    // The columns that read the source form one run (the row crosses a
    // convex area): estimate its ends from the two lines, then settle them
    // with the exact per-pixel test.
    double lo = 0, hi = nw - 1;
    auto limit = [&](double k0, double k1, double lim) {  // -1 < k0 + k1 * dx < lim
      if (k1 == 0) {
        if (!(k0 > -1 && k0 < lim)) hi = -1;
        return;
      }
      double e1 = (-1 - k0) / k1 + dcx, e2 = (lim - k0) / k1 + dcx;
      if (e1 > e2) std::swap(e1, e2);
      lo = std::max(lo, std::floor(e1));
      hi = std::min(hi, std::ceil(e2));
    };
    limit(bx, c, w);
    limit(by, -s, h);
    int x0 = int(std::max(0.0, std::min(lo, double(nw)))), x1 = int(std::max(-1.0, std::min(hi, nw - 1.0)));
    while (x0 <= x1 && !inside(x0)) ++x0;
    while (x1 >= x0 && !inside(x1)) --x1;
    if (x0 <= x1) {
      while (x0 > 0 && inside(x0 - 1)) --x0;
      while (x1 < nw - 1 && inside(x1 + 1)) ++x1;
    }
    uint8_t* d = out.Scanline(y);
    std::memset(d, fill ? 0xFF : 0, size_t(nw + 7) / 8);
    for (int x = x0; x <= x1; ++x) {
      const double dx = x - dcx;
      const int sx = int(c * dx + bx), sy = int(-s * dx + by);
      const int bit = _GetPixelbw(rows[size_t(sy)], sx);
      if (bit != fill) d[x >> 3] ^= uint8_t(0x80 >> (x & 7));
    }
    if (Progress.OnProgress) ReportProgress(Progress, int(y * 100.0 / nh));
  }
  _CopyBitmap(&out, Bitmap);
}

// ---------------------------------------------------------------------------
// Rotation by three shears

namespace {

int Round(double v) { return _TruncSat(std::nearbyint(v)); }

// One sheared line. The line moves by Exact pixels: the whole part r of the
// offset places it, and with anti-aliasing the remainder becomes a 12-bit
// weight f of the preceding pixel, so output pixel r + i is
// (line[i - 1] * f + line[i] * (4096 - f) + 2048) >> 12, with the background
// before the first pixel and after the last one. A negative remainder would
// weigh the preceding pixel negatively (extrapolating); the line is then
// placed one pixel further left with the complementary positive weight, which
// is the same sub-pixel position.
struct Shift {
  int r;
  int f;
};

Shift LineShift(double exact, bool aa, bool truncWeight) {
  Shift sh{Round(exact), 0};
  if (!aa) return sh;
  const double rem = (exact - sh.r) * 4096;
  sh.f = truncWeight ? _TruncSat(rem) : Round(rem);
  if (sh.f < 0) {
    sh.r -= 1;
    sh.f += 4096;
  }
  return sh;
}

inline TRGB Blend(TRGB a, TRGB b, int f) {
  const int g = 4096 - f;
  return TRGB{uint8_t((a.b * f + b.b * g + 2048) >> 12), uint8_t((a.g * f + b.g * g + 2048) >> 12),
              uint8_t((a.r * f + b.r * g + 2048) >> 12)};
}

// Horizontal shear of one row of n pixels into a row of len pixels.
void ShearRow(const TRGB* src, int n, TRGB* dst, int len, Shift sh, TRGB bg) {
  std::fill(dst, dst + len, bg);
  if (sh.f == 0) {
    const int from = std::max(0, -sh.r), to = std::min(n, len - sh.r);
    if (from < to) std::memcpy(dst + sh.r + from, src + from, size_t(to - from) * sizeof(TRGB));
    return;
  }
  // Output columns r .. r + n (the first blends in from the background, the
  // last blends the final pixel out).
  const int from = std::max(0, -sh.r), to = std::min(n, len - 1 - sh.r);
  const int r = sh.r;
  if (from <= to && from == 0) dst[r] = Blend(bg, src[0], sh.f);
  const int inner_to = std::min(to, n - 1);
  for (int i = std::max(from, 1); i <= inner_to; ++i) dst[r + i] = Blend(src[i - 1], src[i], sh.f);
  if (to == n && from <= n) dst[r + n] = Blend(src[n - 1], bg, sh.f);
}

}  // namespace

void _RotateShear(TBitmap* Bitmap, double Angle, bool Antialias, TRGB Background, TProgressRec& Progress) {
  if (!Bitmap || Bitmap->PixelFormat() != pf24bit || Bitmap->Empty()) return;
  if (Angle == 0) return;
  const double th = Angle * M_PI / 180;
  const bool pos = th > 0;
  const int W = Bitmap->Width(), H = Bitmap->Height();
  const double t = std::abs(std::tan(th / 2)), s = std::abs(std::sin(th));
  const int W1 = std::max(1, Round(H * t + W + 1));
  const int D1 = Round((W1 - W) * s);
  const int tall = Round(W1 * s + H + 1);
  const int H2 = std::max(1, Round(tall - 2.0 * D1));
  const int D2 = Round((tall - H - D1) * t);
  const int W3 = std::max(1, Round(H2 * t + W1 + 1 - 2.0 * D2));
  const TRGB bg = Background;
  const double total = H + W1 + H2 + 0.5;
  int counter = 0;
  auto progress = [&] {
    if (Progress.OnProgress) ReportProgress(Progress, std::min(100, int(counter * 100 / total)));
    ++counter;
  };

  // Pass 1: rows of the image into W1 x H.
  std::vector<TRGB> buf1(size_t(W1) * size_t(H + 2), bg);
  for (int k = 0; k < H; ++k) {
    progress();
    const int kk = pos ? k : H - k;
    ShearRow(reinterpret_cast<const TRGB*>(Bitmap->Scanline(k)), W, &buf1[size_t(k + 1) * W1], W1,
             LineShift(kk * t, Antialias, true), bg);
  }

  // Pass 2: columns of buf1 into W1 x H2, moved down by their offsets. Done
  // row by row of the output (each output pixel gathers its column's two
  // source pixels) so that both buffers are read along their rows.
  std::vector<Shift> col(static_cast<size_t>(W1));
  for (int k = 0; k < W1; ++k) {
    progress();
    const int kk = pos ? W1 - k : k;
    col[size_t(k)] = LineShift(kk * s - D1, Antialias, false);
  }
  std::vector<TRGB> buf2(size_t(W1) * size_t(H2));
  // buf1 has a background row above and below its H rows, so that every
  // column reads both of its pixels without tests for i in 0..H (a weight of
  // 0 gives the second pixel exactly).
  const TRGB* rows1 = buf1.data() + W1;  // row 0; row -1 and row H are background
  for (int y = 0; y < H2; ++y) {
    TRGB* d = &buf2[size_t(y) * W1];
    for (int k = 0; k < W1; ++k) {
      const Shift sh = col[size_t(k)];
      const int i = y - sh.r;  // index in the column of the pixel landing here
      if (unsigned(i) > unsigned(H)) {
        d[k] = bg;
      } else {
        const TRGB* p = rows1 + ptrdiff_t(i) * W1 + k;
        d[k] = Blend(p[-W1], p[0], sh.f);
      }
    }
  }
  std::vector<TRGB>().swap(buf1);

  // Pass 3: rows of buf2 into the bitmap, W3 x H2.
  Bitmap->Allocate(W3, H2, pf24bit);
  for (int k = 0; k < H2; ++k) {
    progress();
    const int kk = pos ? k : H2 - k;
    ShearRow(&buf2[size_t(k) * W1], W1, reinterpret_cast<TRGB*>(Bitmap->Scanline(k)), W3,
             LineShift(kk * t - D2, Antialias, false), bg);
  }
}

// ---------------------------------------------------------------------------
// Flip

void _Flip(TBitmap* Bitmap, TFlipDir Dir) {
  if (!Bitmap || Bitmap->Empty()) return;
  const TPixelFormat pf = Bitmap->PixelFormat();
  if (pf != pf24bit && pf != pf1bit) return;
  const int w = Bitmap->Width(), h = Bitmap->Height();
  if (Dir == fdVertical) {
    const size_t n = pf == pf24bit ? size_t(w) * 3 : size_t(w + 7) / 8;
    std::vector<uint8_t> tmp(n);
    for (int y = 0; y < h / 2; ++y) {
      uint8_t* a = Bitmap->Scanline(y);
      uint8_t* b = Bitmap->Scanline(h - 1 - y);
      std::memcpy(tmp.data(), a, n);
      std::memcpy(a, b, n);
      std::memcpy(b, tmp.data(), n);
    }
  } else if (Dir == fdHorizontal) {
    if (pf == pf24bit) {
      for (int y = 0; y < h; ++y) {
        TRGB* r = reinterpret_cast<TRGB*>(Bitmap->Scanline(y));
        std::reverse(r, r + w);
      }
    } else {
      // Reverse the bytes and the bits in each, then shift the row left by
      // the unused bits of the last byte.
      static const std::array<uint8_t, 256> rev = [] {
        std::array<uint8_t, 256> t{};
        for (int v = 0; v < 256; ++v) {
          uint8_t b = uint8_t(v);
          ReverseBitsB(b);
          t[size_t(v)] = b;
        }
        return t;
      }();
      const int n = (w + 7) / 8, pad = n * 8 - w;
      std::vector<uint8_t> tmp(size_t(n) + 1);
      for (int y = 0; y < h; ++y) {
        uint8_t* r = Bitmap->Scanline(y);
        for (int i = 0; i < n; ++i) tmp[size_t(i)] = rev[r[n - 1 - i]];
        _CopyBits(r, tmp.data(), 0, w, pad);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Orientation

namespace {

// The value of pixel x of a row of bpp bits per pixel (bpp < 8: most
// significant bits first; otherwise whole bytes, copied by the caller).
inline unsigned GetBits(const uint8_t* row, int x, int bpp) {
  const int bit = x * bpp;
  return (row[bit >> 3] >> (8 - bpp - (bit & 7))) & ((1u << bpp) - 1);
}
inline void SetBits(uint8_t* row, int x, int bpp, unsigned v) {
  const int bit = x * bpp, shift = 8 - bpp - (bit & 7);
  const unsigned mask = ((1u << bpp) - 1) << shift;
  row[bit >> 3] = uint8_t((row[bit >> 3] & ~mask) | ((v << shift) & mask));
}

}  // namespace

void _Orient(TBitmap* Bitmap, int Orientation) {
  if (!Bitmap || Bitmap->Empty() || Orientation < 2 || Orientation > 8) return;
  const int bpp = Bitmap->BitsPerPixel();
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return;
  const int w = Bitmap->Width(), h = Bitmap->Height();
  const bool swap = Orientation >= 5;
  const int dw = swap ? h : w, dh = swap ? w : h;
  TBitmap dest;
  dest.Allocate(dw, dh, Bitmap->PixelFormat());
  if (bpp <= 8) dest.SetPalette(Bitmap->Palette());
  const size_t bytes = size_t(bpp / 8);
  for (int y = 0; y < dh; ++y) {
    uint8_t* d = dest.Scanline(y);
    for (int x = 0; x < dw; ++x) {
      // The stored pixel shown at (x, y).
      int sx = x, sy = y;
      switch (Orientation) {
        case 2: sx = w - 1 - x; break;
        case 3: sx = w - 1 - x, sy = h - 1 - y; break;
        case 4: sy = h - 1 - y; break;
        case 5: sx = y, sy = x; break;
        case 6: sx = y, sy = h - 1 - x; break;
        case 7: sx = w - 1 - y, sy = h - 1 - x; break;
        default: sx = w - 1 - y, sy = x; break;  // 8
      }
      const uint8_t* s = Bitmap->Scanline(sy);
      if (bpp < 8)
        SetBits(d, x, bpp, GetBits(s, sx, bpp));
      else
        std::memcpy(d + size_t(x) * bytes, s + size_t(sx) * bytes, bytes);
    }
  }
  Bitmap->Assign(&dest);
}

}  // namespace korvane
