#include "korvane/pixels/effects.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/dib_procs.h"
#include "korvane/pixels/transforms.h"

namespace korvane {

namespace {

bool ClipRect(const TBitmap* bmp, int& x1, int& y1, int& x2, int& y2) {
  if (!bmp || bmp->PixelFormat() != pf24bit || bmp->Empty()) return false;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, bmp->Width() - 1);
  y2 = std::min(y2, bmp->Height() - 1);
  return x1 <= x2 && y1 <= y2;
}

// Rounds a non-negative s / 100 to nearest, ties to even.
// s / 100 rounded half to even, for either sign.
int64_t RoundDiv100(int64_t s) {
  int64_t q = s / 100, r = s % 100;
  if (r < 0) {
    r += 100;
    --q;
  }
  if (r > 50 || (r == 50 && (q & 1))) ++q;
  return q;
}

}  // namespace

// ---------------------------------------------------------------------------
// Merge

void _Merge(TBitmap* Bitmap, TBitmap* Other, int Percent, int x1, int y1, int x2, int y2,
            const TProgressEvent& OnProgress, TObject* Sender) {
  if (!Other || Other->Empty() || !ClipRect(Bitmap, x1, y1, x2, y2)) return;
  const int p = Percent;
  TBitmap other(x2 - x1 + 1, y2 - y1 + 1, pf24bit);
  other.Canvas()->StretchDraw(Rect(0, 0, other.Width(), other.Height()), Other);
  const int n = (x2 - x1 + 1) * 3;
  if (p < 0 || p > 100) {
    // Outside 0..100 the blend extrapolates away from the other bitmap (or
    // from the image) and blimit clamps: one result per pair of values.
    std::vector<uint8_t> blend(256 * 256);
    for (int c = 0; c < 256; ++c)
      for (int o = 0; o < 256; ++o) {
        const int64_t v = RoundDiv100(int64_t(c) * p + int64_t(o) * (100 - int64_t(p)));
        blend[size_t(c) * 256 + size_t(o)] = uint8_t(std::clamp<int64_t>(v, 0, 255));
      }
    for (int y = y1; y <= y2; ++y) {
      uint8_t* d = Bitmap->Scanline(y) + size_t(x1) * 3;
      const uint8_t* o = other.Scanline(y - y1);
      for (int i = 0; i < n; ++i) d[i] = blend[size_t(d[i]) * 256 + o[i]];
      if (OnProgress) OnProgress(Sender, RowPercent(y, y1, y2));
    }
    return;
  }
  // c * p / 100 + o * (100 - p) / 100 = (c * p + o * (100 - p)) / 100: the
  // numerator is at most 25500, so the rounding is one table.
  std::vector<uint8_t> quot(25501);
  for (int s = 0; s <= 25500; ++s) quot[size_t(s)] = uint8_t(RoundDiv100(s));
  int wc[256], wo[256];
  for (int v = 0; v < 256; ++v) {
    wc[v] = v * p;
    wo[v] = v * (100 - p);
  }
  for (int y = y1; y <= y2; ++y) {
    uint8_t* d = Bitmap->Scanline(y) + size_t(x1) * 3;
    const uint8_t* o = other.Scanline(y - y1);
    for (int i = 0; i < n; ++i) d[i] = quot[size_t(wc[d[i]] + wo[o[i]])];
    if (OnProgress) OnProgress(Sender, RowPercent(y, y1, y2));
  }
}

// ---------------------------------------------------------------------------
// Lens

namespace {

// cos x for |x| <= 1 (given x2 = x * x) and sin x for 0 <= x <= 1 by their
// Taylor series to x^18 and x^19: the remainders are below 1 / 20!, far under
// the tolerance of the lens below. V is double or a vector of two.
template <typename V>
inline V CosSeries(V x2) {
  V p = x2 * 0 - 1.0 / 6402373705728000.0;  // -1/18!
  for (double d : {1.0 / 20922789888000.0, -1.0 / 87178291200.0, 1.0 / 479001600.0, -1.0 / 3628800.0,
                   1.0 / 40320.0, -1.0 / 720.0, 1.0 / 24.0, -1.0 / 2.0, 1.0})
    p = p * x2 + d;
  return p;
}
template <typename V>
inline V SinSeries(V x) {
  const V x2 = x * x;
  V p = x2 * 0 - 1.0 / 121645100408832000.0;  // -1/19!
  for (double d : {1.0 / 355687428096000.0, -1.0 / 1307674368000.0, 1.0 / 6227020800.0, -1.0 / 39916800.0,
                   1.0 / 362880.0, -1.0 / 5040.0, 1.0 / 120.0, -1.0 / 6.0, 1.0})
    p = p * x2 + d;
  return p * x;
}

// trunc(v), when every value within err of v truncates alike (err at most a
// fraction of a pixel, v a number).
inline bool Settled(double v, double err, int& out) {
  if (!(err < 0.25) || !(v == v)) return false;
  const int a = _TruncSat(v - err), b = _TruncSat(v + err);
  out = a;
  return a == b;
}

// Two doubles in one register (SSE2, the x86-64 baseline; GCC and Clang
// vector extensions elsewhere).
typedef double V2 __attribute__((vector_size(16)));
inline V2 Sqrt(V2 v) {
#if defined(__SSE2__)
  return _mm_sqrt_pd(v);
#else
  return V2{std::sqrt(v[0]), std::sqrt(v[1])};
#endif
}
inline V2 Abs(V2 v) { return V2{std::abs(v[0]), std::abs(v[1])}; }

}  // namespace

// Each pixel of the lens reads the source pixel
//   x: trunc(bend(dx, z, cos(dx / |(dx, z)|)) + hw),
//   y: trunc(hh - bend(dy, z, asin(dy / |(dy, z)|))),
// bend(d, z, phi) = d - z tan(pi/2 - phi - acos(sin(pi/2 - phi) / n)), with
// z the height of the lens over the pixel. Those five library functions per
// axis and pixel were the whole cost; the fast path below gives the same
// pixels with a quarter of the work and no library calls:
//  - symmetry: z depends on |dx| and |dy| only, the x term on |dx| and z, so
//    one z and one x term serve four pixels (+-dx, +-dy) and one y term two;
//  - the trigonometry folds away: with cos beta = k = sin(pi/2 - phi) / n,
//    tan(pi/2 - phi - beta) = cot(phi + beta)
//      = (cos phi k - sin phi sb) / (sin phi k + cos phi sb), sb = sin beta,
//    where for y sin phi and cos phi are dy / rho and z / rho, and for x they
//    are Taylor series of cos(dx / rho);
//  - the result only has to truncate to the same integer: each value comes
//    with an error bound covering both this evaluation and the library
//    functions of the formula above (that error grows with (1 + t^2) / sb, the
//    conditioning of the tangent and the arc cosine), and a value that lies
//    too near an integer to be settled is computed with the formula itself.
//    That happens for about one pixel in ten thousand.
void _lens(TBitmap* Bitmap, int x, int y, int Width, int Height, double Refraction, TProgressRec& Progress) {
  if (!Bitmap || Bitmap->PixelFormat() != pf24bit || Bitmap->Empty()) return;
  const int W = Bitmap->Width(), H = Bitmap->Height();
  const int64_t hw2 = Width / 2, hh2 = Height / 2;
  const int L = int(std::clamp<int64_t>(int64_t(x) - hw2, 0, W - 1));
  const int T = int(std::clamp<int64_t>(int64_t(y) - hh2, 0, H - 1));
  const int R = int(std::clamp<int64_t>(int64_t(x) + hw2, 0, W - 1));
  const int B = int(std::clamp<int64_t>(int64_t(y) + hh2, 0, H - 1));
  const int bw = R - L, bh = B - T;
  if (bw <= 0 || bh <= 0) return;
  const double hw = bw / 2.0, hh = bh / 2.0;
  const double n = (Refraction >= 1) ? Refraction : 1;  // also catches NaN
  const double m2 = std::min(hw, hh) * std::min(hw, hh);
  TBitmap out;  // every pixel is written below: no fill
  out.Allocate(bw, bh, pf24bit);
  std::vector<const TRGB*> src(static_cast<size_t>(H));
  for (int r = 0; r < H; ++r) src[size_t(r)] = reinterpret_cast<const TRGB*>(Bitmap->Scanline(r));
  // The displacement of one axis, d being the offset from the centre along it.
  auto bend = [&](double d, double z, double phi) {
    const double alpha = M_PI / 2 - phi;
    const double beta = std::acos(std::sin(alpha) / n);
    return d - z * std::tan(M_PI / 2 - phi - beta);
  };
  auto exactX = [&](double dx, double z) {
    return _TruncSat(bend(dx, z, std::cos(dx / std::sqrt(dx * dx + z * z))) + hw);
  };
  auto exactY = [&](double dy, double z) {
    return _TruncSat(hh - bend(dy, z, std::asin(dy / std::sqrt(dy * dy + z * z))));
  };
  // The bounds are about 10^4 times the rounding error they stand for.
  constexpr double kTol = 1e-12;
  const double invN = 1 / n;
  const V2 inf = {INFINITY, INFINITY};
  // Per column of the left half (and one more, so that pairs of columns
  // never read past the end): dx and its term of the ellipse equation; per
  // column of a row pair, the candidate values for +-dx and +-dy and their
  // error bounds (infinite where the fast path does not apply).
  const int cols = (bw + 1) / 2;
  const size_t n2 = size_t(cols) + 1;
  std::vector<double> dxs(n2, 0), exs(n2, 2), xa(n2), xb(n2), xe(n2), ya(n2), yb(n2), yea(n2), yeb(n2);
  for (int c = 0; c < cols; ++c) {
    dxs[size_t(c)] = c - hw + 0.5;  // -dx for column bw - 1 - c
    exs[size_t(c)] = dxs[size_t(c)] * dxs[size_t(c)] / (hw * hw);
  }
  int done = 0;
  for (int r = 0; r < (bh + 1) / 2; ++r) {
    const int r2 = bh - 1 - r;
    const double dy = hh - r - 0.5;  // -dy for row r2
    const double ey = dy * dy / (hh * hh);
    for (int c = 0; c < cols; c += 2) {
      const V2 dx = {dxs[size_t(c)], dxs[size_t(c) + 1]};
      const V2 e = V2{exs[size_t(c)], exs[size_t(c) + 1]} + ey;
      const V2 z = Sqrt((1 - e) * m2);  // not a number outside the lens: unused
      const V2 z2 = z * z;
      {
        const V2 dx2 = dx * dx;
        const V2 phi = CosSeries(dx2 / (dx2 + z2));
        const V2 sp = SinSeries(phi), cp = CosSeries(phi * phi);
        const V2 k = cp * invN, sb2 = 1 - k * k;
        const V2 sb = Sqrt(sb2);
        const V2 den = sp * k + cp * sb;
        const V2 t = (cp * k - sp * sb) / den;
        const V2 zt = z * t;
        const V2 err = kTol * (z * (1 + t * t) * (1 + 1 / sb) + Abs(dx) + Abs(zt) + hw + 1);
        const V2 use = (sb2 > 1e-12) & (Abs(den) > 1e-6) ? err : inf;
        const V2 va = dx - zt + hw, vb = -dx - zt + hw;
        for (int i = 0; i < 2; ++i)
          xa[size_t(c + i)] = va[i], xb[size_t(c + i)] = vb[i], xe[size_t(c + i)] = use[i];
      }
      {
        const V2 rho = Sqrt(dy * dy + z2);
        const V2 k = z / rho * invN, sb2 = 1 - k * k;
        const V2 sb = Sqrt(sb2);
        const V2 g = (1 + 1 / sb) * (1 + rho / z);  // 1 + rho / z: the arc sine's conditioning
        const V2 dena = dy * k + z * sb, denb = -dy * k + z * sb;
        const V2 ta = (z * k - dy * sb) / dena, tb = (z * k + dy * sb) / denb;
        const double base = std::abs(dy) + hh + 1;
        const V2 ea = kTol * (z * (1 + ta * ta) * g + base + Abs(z * ta));
        const V2 eb = kTol * (z * (1 + tb * tb) * g + base + Abs(z * tb));
        const auto ok = (sb2 > 1e-12) & (z > 0);
        const V2 usea = ok & (Abs(dena) > 1e-6 * rho) ? ea : inf;
        const V2 useb = ok & (Abs(denb) > 1e-6 * rho) ? eb : inf;
        const V2 va = hh - (dy - z * ta), vb = hh - (-dy - z * tb);
        for (int i = 0; i < 2; ++i)
          ya[size_t(c + i)] = va[i], yb[size_t(c + i)] = vb[i], yea[size_t(c + i)] = usea[i],
                        yeb[size_t(c + i)] = useb[i];
      }
    }
    TRGB* o1 = reinterpret_cast<TRGB*>(out.Scanline(r));
    TRGB* o2 = reinterpret_cast<TRGB*>(out.Scanline(r2));
    for (int c = 0; c < cols; ++c) {
      const int c2 = bw - 1 - c;
      const size_t i = size_t(c);
      const double e = exs[i] + ey;
      if (!(e < 1)) {
        o1[c] = src[size_t(T + r)][L + c];
        o1[c2] = src[size_t(T + r)][L + c2];
        o2[c] = src[size_t(T + r2)][L + c];
        o2[c2] = src[size_t(T + r2)][L + c2];
        continue;
      }
      int ixa, ixb, iya, iyb;
      const double z = std::sqrt((1 - e) * m2);
      if (!Settled(xa[i], xe[i], ixa)) ixa = exactX(dxs[i], z);
      if (!Settled(xb[i], xe[i], ixb)) ixb = exactX(-dxs[i], z);
      if (!Settled(ya[i], yea[i], iya)) iya = exactY(dy, z);
      if (!Settled(yb[i], yeb[i], iyb)) iyb = exactY(-dy, z);
      // The tangent grows without bound near the axes at low refraction:
      // the conversions saturate before the clamps.
      const int sxa = std::clamp(L + std::clamp(ixa, 0, W - 1), 0, W - 1);
      const int sxb = std::clamp(L + std::clamp(ixb, 0, W - 1), 0, W - 1);
      const TRGB* ra = src[size_t(std::clamp(T + std::clamp(iya, 0, H - 1), 0, H - 1))];
      const TRGB* rb = src[size_t(std::clamp(T + std::clamp(iyb, 0, H - 1), 0, H - 1))];
      o1[c] = ra[sxa];
      o1[c2] = ra[sxb];
      o2[c] = rb[sxa];
      o2[c2] = rb[sxb];
    }
    done += r2 > r ? 2 : 1;
    if (Progress.OnProgress) ReportProgress(Progress, RowPercent(done - 1, 0, bh - 1));
  }
  for (int r = 0; r < bh; ++r)
    std::memcpy(Bitmap->Scanline(T + r) + size_t(L) * 3, out.Scanline(r), size_t(bw) * 3);
}

// ---------------------------------------------------------------------------
// Wave

void _wave(TBitmap* Bitmap, int Amplitude, int WaveLength, int Phase, bool Reflective,
           TProgressRec& Progress) {
  if (!Bitmap || Bitmap->PixelFormat() != pf24bit || Amplitude == 0 || WaveLength == 0) return;
  const int W = Bitmap->Width(), H = Bitmap->Height();
  // The bilinear step reads 2 x 2 pixels.
  if (W < 2 || H < 2) return;
  TBitmap copy;
  _CopyBitmap(Bitmap, &copy);
  const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
  double sx = 1, sy = 1;
  if (W > H)
    sy = double(W) / H;
  else if (H > W)
    sx = double(H) / W;
  const double k = 2 * M_PI / (2.0 * WaveLength), ph = Phase * M_PI / 180;
  std::vector<const TRGB*> rows(static_cast<size_t>(H));
  for (int r = 0; r < H; ++r) rows[size_t(r)] = reinterpret_cast<const TRGB*>(copy.Scanline(r));
  for (int y = 0; y < H; ++y) {
    TRGB* d = reinterpret_cast<TRGB*>(Bitmap->Scanline(y));
    const double dy = (y - cy) * sy;
    for (int x = 0; x < W; ++x) {
      const double dx = (x - cx) * sx;
      const double a = std::sqrt(dx * dx + dy * dy) * k + ph;
      double px, py;
      if (Reflective) {
        const double w = std::abs(std::sin(a)) * Amplitude;
        px = cx + dx * w / sx;
        py = cy + dy * w / sy;
      } else {
        const double w = std::sin(a) * Amplitude;
        px = cx + (dx + w) / sx;
        py = cy + (dy + w) / sy;
      }
      const int ix0 = _TruncSat(px), iy0 = _TruncSat(py);
      double fx = px - std::trunc(px), fy = py - std::trunc(py);
      if (!(fx == fx)) fx = 0;
      if (!(fy == fy)) fy = 0;
      if (fx < 0) fx += 1;
      if (fy < 0) fy += 1;
      const int ix = std::clamp(ix0, 0, W - 2), iy = std::clamp(iy0, 0, H - 2);
      const TRGB* r0 = rows[size_t(iy)] + ix;
      const TRGB* r1 = rows[size_t(iy) + 1] + ix;
      // Bilinear weights in 1/256, so that the four weights sum to exactly 1
      // and a flat area keeps its level (summed in doubles, the truncation
      // can drop a level).
      const int ax = int(fx * 256), ay = int(fy * 256);
      const int w00 = (256 - ax) * (256 - ay), w01 = (256 - ax) * ay, w10 = ax * (256 - ay), w11 = ax * ay;
      auto mix = [&](uint8_t p00, uint8_t p01, uint8_t p10, uint8_t p11) {
        return uint8_t((w00 * p00 + w01 * p01 + w10 * p10 + w11 * p11) >> 16);
      };
      d[x] = TRGB{mix(r0[0].b, r1[0].b, r0[1].b, r1[1].b), mix(r0[0].g, r1[0].g, r0[1].g, r1[1].g),
                  mix(r0[0].r, r1[0].r, r0[1].r, r1[1].r)};
    }
    if (Progress.OnProgress) ReportProgress(Progress, int(y * 100.0 / H));
  }
}

// ---------------------------------------------------------------------------
// Bump mapping

void _BumpMapping(TBitmap* Bitmap, int LightX, int LightY, int LightWidth, int LightHeight, int Percent,
                  TRGB Color, int x1, int y1, int x2, int y2, TProgressRec& Progress) {
  if (LightWidth == 0 || LightHeight == 0 || !ClipRect(Bitmap, x1, y1, x2, y2)) return;
  // The light spot: 1 - distance from the centre of a 256 x 256 square, in
  // 1/256 (the exact centre wraps to 0).
  static const std::vector<uint8_t> spot = [] {
    std::vector<uint8_t> m(256 * 256);
    for (int u = 0; u < 256; ++u)
      for (int v = 0; v < 256; ++v) {
        const double nx = (u - 128) / 128.0, ny = (v - 128) / 128.0;
        const double l = std::max(0.0, 1 - std::sqrt(nx * nx + ny * ny));
        m[size_t(u) * 256 + size_t(v)] = uint8_t(int(l * 256) & 0xFF);
      }
    return m;
  }();
  const int rw = x2 - x1 + 1, rh = y2 - y1 + 1;
  // Height map of the rectangle: gray levels.
  std::vector<uint8_t> hm(size_t(rw) * size_t(rh));
  for (int y = y1; y <= y2; ++y) {
    const TRGB* p = reinterpret_cast<const TRGB*>(Bitmap->Scanline(y));
    uint8_t* h = &hm[size_t(y - y1) * rw];
    for (int x = x1; x <= x2; ++x) h[x - x1] = uint8_t(_RGBToGray(p[x]));
  }
  // c' = round(c * p / 100 + spot * (100 - p) / 100 * color / 255): the two
  // terms tabulated, one per channel value and one per spot value and channel.
  double keep[256], lit[3][256];
  const int col[3] = {Color.b, Color.g, Color.r};
  for (int v = 0; v < 256; ++v) {
    keep[v] = v * double(Percent) / 100;
    for (int ch = 0; ch < 3; ++ch) lit[ch][v] = v * (100.0 - Percent) / 100 * col[ch] / 255;
  }
  std::vector<int> tx(static_cast<size_t>(rw));
  for (int x = x1; x <= x2; ++x) tx[size_t(x - x1)] = _TruncSat((double(x) - LightX) / LightWidth * 128);
  for (int y = y1; y <= y2; ++y) {
    const int ty = _TruncSat((double(y) - LightY) / LightHeight * 128);
    const int r = y - y1;
    const uint8_t* h = &hm[size_t(r) * rw];
    // The row above inside the rectangle, as the columns are: the height map
    // holds nothing above it.
    const uint8_t* up = &hm[size_t(std::max(r - 1, 0)) * rw];
    const uint8_t* dn = &hm[size_t(std::min(r + 1, rh - 1)) * rw];
    TRGB* p = reinterpret_cast<TRGB*>(Bitmap->Scanline(y));
    for (int i = 0; i < rw; ++i) {
      const int gx = h[std::min(i + 1, rw - 1)] - h[std::max(i - 1, 0)];
      const int gy = dn[i] - up[i];
      const int u = blimit(int(std::clamp<int64_t>(int64_t(gx) - tx[size_t(i)] + 128, -1, 256)));
      const int v = blimit(int(std::clamp<int64_t>(int64_t(gy) - ty + 128, -1, 256)));
      const int s = spot[size_t(u) * 256 + size_t(v)];
      TRGB& c = p[x1 + i];
      c = TRGB{blimit(_TruncSat(std::nearbyint(keep[c.b] + lit[0][s]))),
               blimit(_TruncSat(std::nearbyint(keep[c.g] + lit[1][s]))),
               blimit(_TruncSat(std::nearbyint(keep[c.r] + lit[2][s])))};
    }
    if (Progress.OnProgress) ReportProgress(Progress, RowPercent(y, y1, y2));
  }
}

}  // namespace korvane
