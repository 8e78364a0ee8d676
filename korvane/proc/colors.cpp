// Color models and color adjustments.
#include "korvane/proc/colors.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "korvane/foundations/kvutils.h"
#include "korvane/proc/kvproc.h"

namespace korvane {

namespace {

// The clipped rectangle of a bitmap and its rows.
struct Area {
  uint8_t* row0 = nullptr;
  ptrdiff_t stride = 0;
  int x1 = 0, y1 = 0, x2 = -1, y2 = -1;
  TRGB* Row(int y) const { return reinterpret_cast<TRGB*>(row0 + stride * y); }
};

// Clips the rectangle; false when the bitmap is missing, of another format
// than pf (24-bit unless said) or the rectangle is empty.
bool Clip(TBitmap* b, int x1, int y1, int x2, int y2, Area& a, TPixelFormat pf = pf24bit) {
  if (!b || b->PixelFormat() != pf || b->Empty()) return false;
  a.x1 = imax(x1, 0), a.y1 = imax(y1, 0);
  a.x2 = imin(x2, b->Width() - 1), a.y2 = imin(y2, b->Height() - 1);
  if (a.x1 > a.x2 || a.y1 > a.y2) return false;
  a.row0 = b->Scanline(0);
  a.stride = b->Height() > 1 ? b->Scanline(1) - a.row0 : 0;
  return true;
}

// Runs f(pixels, count) on the rectangle's part of every row, with progress.
template <typename F>
void ForRows(const Area& a, const TProgressEvent& OnProgress, TObject* Sender, F&& f) {
  const int n = a.x2 - a.x1 + 1;
  for (int y = a.y1; y <= a.y2; ++y) {
    f(a.Row(y) + a.x1, n);
    if (OnProgress) OnProgress(Sender, RowPercent(y, a.y1, a.y2));
  }
}

// Applies one byte table per channel to the rectangle.
void ApplyTables(TBitmap* Bitmap, const Area& a, const uint8_t* tr, const uint8_t* tg, const uint8_t* tb,
                 const TProgressEvent& OnProgress, TObject* Sender) {
  ForRows(a, OnProgress, Sender, [&](TRGB* p, int n) {
    for (int i = 0; i < n; ++i) p[i] = TRGB{tb[p[i].b], tg[p[i].g], tr[p[i].r]};
  });
  Bitmap->Changed();
}

// Byte scaled to 0..99 with rounding: round(v / 255 * 99). Exact halves
// cannot occur (v * 198 is never an odd multiple of 255), so the integer
// form equals rounding the real quotient.
struct To99Table {
  uint8_t v[256];
  To99Table() {
    for (int i = 0; i < 256; ++i) v[i] = uint8_t((i * 198 + 255) / 510);
  }
};
const To99Table kTo99;

// Byte divided by 255 as a double, as the HSL model computes it.
struct UnitTable {
  double v[256];
  UnitTable() {
    for (int i = 0; i < 256; ++i) v[i] = i / 255.0;
  }
};
const UnitTable kUnit;

// HSV of channels already on the 0..99 scale.
inline void HSV99(int r, int g, int b, int& H, int& S, int& V) {
  const int mx = imax(r, imax(g, b)), mn = imin(r, imin(g, b)), d = mx - mn;
  V = mx;
  S = mx == 0 ? 0 : d * 99 / mx;
  if (S == 0) {
    H = 0;
    return;
  }
  if (r == mx)
    H = (g - b) * 60 / d;
  else if (g == mx)
    H = (b - r) * 60 / d + 120;
  else
    H = (r - g) * 60 / d + 240;
  if (H < 0) H += 360;
}

// 0..99 back to a byte: round(v / 99 * 255); no exact halves occur either.
inline uint8_t From99(int v) { return uint8_t((v * 510 + 99) / 198); }

// The hue interpolation of the HSL model.
inline double HueValue(double m1, double m2, double h) {
  if (h < 0)
    h += 1;
  else if (h > 1)
    h -= 1;
  if (6 * h < 1) return m1 + (m2 - m1) * h * 6;
  if (2 * h < 1) return m2;
  if (3 * h < 2) return m1 + (m2 - m1) * (2.0 / 3.0 - h) * 6;
  return m1;
}

inline uint8_t UnitToByte(double v) { return blimit(int(v * 255)); }

// RGB2HSL on bytes through the 1/255 table.
inline void HSLOf(const TRGB& c, double& H, double& S, double& L) {
  const double r = kUnit.v[c.r], g = kUnit.v[c.g], b = kUnit.v[c.b];
  const double mx = dmax(r, dmax(g, b)), mn = dmin(r, dmin(g, b));
  L = (mx + mn) / 2;
  if (mx == mn) {
    S = 0;
    H = 0;
    return;
  }
  const double d = mx - mn;
  S = L < 0.5 ? d / (mx + mn) : d / (2 - mx - mn);
  if (r == mx)
    H = (g - b) / d;
  else if (g == mx)
    H = 2 + (b - r) / d;
  else
    H = 4 + (r - g) / d;
  H /= 6;
  if (H < 0) H += 1;
}

// A table for each byte value: c -> blimit(m + trunc((c - m) * k)).
void ContrastTable(uint8_t* t, int m, double k) {
  for (int c = 0; c < 256; ++c) t[c] = blimit(m + int((c - m) * k));
}

}  // namespace

// ---------------------------------------------------------------------------
// Color models

void RGB2HSL(TRGB c, double& H, double& S, double& L) { HSLOf(c, H, S, L); }

void HSL2RGB(TRGB& c, double H, double S, double L) {
  H = dmin(dmax(H, 0), 1), S = dmin(dmax(S, 0), 1), L = dmin(dmax(L, 0), 1);
  if (S == 0) {
    const uint8_t v = UnitToByte(L);
    c = TRGB{v, v, v};
    return;
  }
  const double m2 = L <= 0.5 ? L * (1 + S) : L + S - L * S;
  const double m1 = 2 * L - m2;
  c.r = UnitToByte(HueValue(m1, m2, H + 1.0 / 3.0));
  c.g = UnitToByte(HueValue(m1, m2, H));
  c.b = UnitToByte(HueValue(m1, m2, H - 1.0 / 3.0));
}

void RGB2HSV(TRGB c, int& H, int& S, int& V) { HSV99(kTo99.v[c.r], kTo99.v[c.g], kTo99.v[c.b], H, S, V); }

void HSV2RGB(TRGB& c, int H, int S, int V) {
  H = ilimit(H, 0, 359), S = ilimit(S, 0, 99), V = ilimit(V, 0, 99);
  if (S == 0) {
    const uint8_t v = From99(V);
    c = TRGB{v, v, v};
    return;
  }
  const int f = H % 60, sector = H / 60;
  const int p = V - V * S / 99;
  const int q = V - V * S * f / 5940;
  const int t = V - V * S * (60 - f) / 5940;
  int r, g, b;
  switch (sector) {
    case 0:
      r = V, g = t, b = p;
      break;
    case 1:
      r = q, g = V, b = p;
      break;
    case 2:
      r = p, g = V, b = t;
      break;
    case 3:
      r = p, g = q, b = V;
      break;
    case 4:
      r = t, g = p, b = V;
      break;
    default:
      r = V, g = p, b = q;
      break;
  }
  c = TRGB{From99(b), From99(g), From99(r)};
}

// ---------------------------------------------------------------------------
// HSL and HSV shifts

void _HSLvar(TBitmap* Bitmap, int x1, int y1, int x2, int y2, int Hue, int Sat, int Lum,
             const TProgressEvent& OnProgress, TObject* Sender) {
  Area a;
  if (!Clip(Bitmap, x1, y1, x2, y2, a)) return;
  const double dh = Hue / 360.0, ds = Sat / 100.0, dl = Lum / 100.0;
  ForRows(a, OnProgress, Sender, [&](TRGB* p, int n) {
    auto shift = [&](const TRGB& c) {
      double H, S, L;
      HSLOf(c, H, S, L);
      TRGB out;
      HSL2RGB(out, H + dh, S + ds, L + dl);
      return out;
    };
    // Runs of one color (flat areas) are converted once.
    TRGB last = p[0], mapped = shift(last);
    for (int i = 0; i < n; ++i) {
      if (!(p[i] == last)) last = p[i], mapped = shift(last);
      p[i] = mapped;
    }
  });
  Bitmap->Changed();
}

namespace detail {

void HSVvarWith(TBitmap* Bitmap, int x1, int y1, int x2, int y2, int Hue, int Sat, int Val, bool CubeTable,
                const TProgressEvent& OnProgress, TObject* Sender) {
  Area a;
  if (!Clip(Bitmap, x1, y1, x2, y2, a)) return;
  auto shift = [&](int r, int g, int b) {
    int H, S, V;
    HSV99(r, g, b, H, S, V);
    TRGB c;
    HSV2RGB(c, H + Hue, S + Sat, V + Val);
    return c;
  };
  if (!CubeTable) {
    ForRows(a, OnProgress, Sender, [&](TRGB* p, int n) {
      for (int i = 0; i < n; ++i) p[i] = shift(kTo99.v[p[i].r], kTo99.v[p[i].g], kTo99.v[p[i].b]);
    });
  } else {
    // The result depends only on the channels scaled to 0..99, so every one of
    // the 100^3 inputs is computed once and each pixel is three byte look-ups
    // and one cube look-up.
    std::vector<TRGB> cube(size_t(100) * 100 * 100);
    size_t k = 0;
    for (int r = 0; r < 100; ++r)
      for (int g = 0; g < 100; ++g)
        for (int b = 0; b < 100; ++b) cube[k++] = shift(r, g, b);
    uint32_t ir[256], ig[256], ib[256];
    for (int i = 0; i < 256; ++i) ir[i] = kTo99.v[i] * 10000u, ig[i] = kTo99.v[i] * 100u, ib[i] = kTo99.v[i];
    const TRGB* c = cube.data();
    ForRows(a, OnProgress, Sender, [&](TRGB* p, int n) {
      for (int i = 0; i < n; ++i) p[i] = c[ir[p[i].r] + ig[p[i].g] + ib[p[i].b]];
    });
  }
  Bitmap->Changed();
}

}  // namespace detail

void _HSVvar(TBitmap* Bitmap, int x1, int y1, int x2, int y2, int Hue, int Sat, int Val,
             const TProgressEvent& OnProgress, TObject* Sender) {
  // Building the cube costs about as much as converting a million pixels.
  const int64_t w = int64_t(imin(x2, Bitmap ? Bitmap->Width() - 1 : -1)) - imax(x1, 0) + 1;
  const int64_t h = int64_t(imin(y2, Bitmap ? Bitmap->Height() - 1 : -1)) - imax(y1, 0) + 1;
  const bool cube = w > 0 && h > 0 && w * h >= 2000000;
  detail::HSVvarWith(Bitmap, x1, y1, x2, y2, Hue, Sat, Val, cube, OnProgress, Sender);
}

// ---------------------------------------------------------------------------
// Contrast

double ContrastFactor(int Amount) {
  return Amount >= 0 ? 1 + Amount / 10.0 : 1 - std::sqrt(-double(Amount)) / 10.0;
}

void _ContrastRGB(TBitmap* Bitmap, int x1, int y1, int x2, int y2, int Amount, int mR, int mG, int mB,
                  const TProgressEvent& OnProgress, TObject* Sender) {
  Area a;
  if (!Clip(Bitmap, x1, y1, x2, y2, a)) return;
  const double k = ContrastFactor(Amount);
  uint8_t tr[256], tg[256], tb[256];
  ContrastTable(tr, mR, k), ContrastTable(tg, mG, k), ContrastTable(tb, mB, k);
  ApplyTables(Bitmap, a, tr, tg, tb, OnProgress, Sender);
}

void _Contrast(TBitmap* Bitmap, int x1, int y1, int x2, int y2, int Amount, int m,
               const TProgressEvent& OnProgress, TObject* Sender) {
  Area a;
  if (!Clip(Bitmap, x1, y1, x2, y2, a)) return;
  uint8_t t[256];
  ContrastTable(t, m, ContrastFactor(Amount));
  ApplyTables(Bitmap, a, t, t, t, OnProgress, Sender);
}

void _GetMediaContrastRGB(const TBitmap* Bitmap, int& mR, int& mG, int& mB) {
  mR = mG = mB = 128;
  Area a;
  if (!Clip(const_cast<TBitmap*>(Bitmap), 0, 0, INT32_MAX, INT32_MAX, a)) return;
  uint64_t sr = 0, sg = 0, sb = 0;
  for (int y = a.y1; y <= a.y2; ++y) {
    const TRGB* p = a.Row(y);
    for (int x = 0; x <= a.x2; ++x) sr += p[x].r, sg += p[x].g, sb += p[x].b;
  }
  const uint64_t n = uint64_t(a.x2 + 1) * uint64_t(a.y2 + 1);
  mR = int(sr / n), mG = int(sg / n), mB = int(sb / n);
}

int _GetMediaContrast(const TBitmap* Bitmap) {
  if (!Bitmap || Bitmap->PixelFormat() != pf24bit || Bitmap->Empty()) return 128;
  const uint64_t n = uint64_t(Bitmap->Width()) * uint64_t(Bitmap->Height());
  uint64_t s = 0;
  const uint8_t* row0 = Bitmap->Scanline(0);
  const ptrdiff_t stride = Bitmap->Height() > 1 ? Bitmap->Scanline(1) - row0 : 0;
  const size_t bytes = size_t(Bitmap->Width()) * 3;
  for (int y = 0; y < Bitmap->Height(); ++y) {
    const uint8_t* p = row0 + stride * y;
    for (size_t i = 0; i < bytes; ++i) s += p[i];
  }
  return int(s / (3 * n));
}

// ---------------------------------------------------------------------------
// Point operations

void _IntensityRGBall(TBitmap* Bitmap, int x1, int y1, int x2, int y2, int r, int g, int b,
                      const TProgressEvent& OnProgress, TObject* Sender) {
  Area a;
  if (!Clip(Bitmap, x1, y1, x2, y2, a)) return;
  uint8_t tr[256], tg[256], tb[256];
  for (int c = 0; c < 256; ++c) {
    // Offsets beyond +-255 act as +-255: blimit is reached either way and the
    // sum cannot overflow.
    tr[c] = blimit(c + ilimit(r, -255, 255));
    tg[c] = blimit(c + ilimit(g, -255, 255));
    tb[c] = blimit(c + ilimit(b, -255, 255));
  }
  ApplyTables(Bitmap, a, tr, tg, tb, OnProgress, Sender);
}

void _Negative(TBitmap* Bitmap, int x1, int y1, int x2, int y2, const TProgressEvent& OnProgress,
               TObject* Sender) {
  Area a;
  if (Clip(Bitmap, x1, y1, x2, y2, a, pf1bit)) {
    // Bits x1..x2 of each row, most significant bit first.
    const int b1 = a.x1 >> 3, b2 = a.x2 >> 3;
    const uint8_t first = uint8_t(0xFF >> (a.x1 & 7)), last = uint8_t(0xFF << (7 - (a.x2 & 7)));
    for (int y = a.y1; y <= a.y2; ++y) {
      uint8_t* p = a.row0 + a.stride * y;
      if (b1 == b2) {
        p[b1] ^= first & last;
        continue;
      }
      p[b1] ^= first;
      for (int i = b1 + 1; i < b2; ++i) p[i] = uint8_t(~p[i]);
      p[b2] ^= last;
    }
    Bitmap->Changed();
    return;
  }
  if (!Clip(Bitmap, x1, y1, x2, y2, a)) return;
  ForRows(a, OnProgress, Sender, [](TRGB* p, int n) {
    uint8_t* b = reinterpret_cast<uint8_t*>(p);
    for (int i = 0; i < n * 3; ++i) b[i] = uint8_t(~b[i]);
  });
  Bitmap->Changed();
}

void _Negative1Bit(TBitmap* Bitmap) {
  if (!Bitmap || Bitmap->PixelFormat() != pf1bit || Bitmap->Empty()) return;
  const int h = Bitmap->Height(), len = Bitmap->RowBytes();
  for (int y = 0; y < h; ++y) {
    uint8_t* p = Bitmap->Scanline(y);
    for (int i = 0; i < len; ++i) p[i] = uint8_t(~p[i]);
  }
  Bitmap->Changed();
}

void _ConvertToGray(TBitmap* Bitmap, int x1, int y1, int x2, int y2, const TProgressEvent& OnProgress,
                    TObject* Sender) {
  Area a;
  if (!Clip(Bitmap, x1, y1, x2, y2, a)) return;
  // Weighted channel tables; the sum is at most 99 * 255, and a table from
  // sum to gray level replaces the division.
  uint16_t wr[256], wg[256], wb[256];
  for (int c = 0; c < 256; ++c) wr[c] = uint16_t(21 * c), wg[c] = uint16_t(71 * c), wb[c] = uint16_t(7 * c);
  static const std::vector<uint8_t> kDiv100 = [] {
    std::vector<uint8_t> t(99 * 255 + 1);
    for (size_t i = 0; i < t.size(); ++i) t[i] = uint8_t(i / 100);
    return t;
  }();
  const uint8_t* div = kDiv100.data();
  ForRows(a, OnProgress, Sender, [&](TRGB* p, int n) {
    for (int i = 0; i < n; ++i) {
      const uint8_t v = div[wr[p[i].r] + wg[p[i].g] + wb[p[i].b]];
      p[i] = TRGB{v, v, v};
    }
  });
  Bitmap->Changed();
}

void _CastColorRange(TBitmap* Bitmap, int x1, int y1, int x2, int y2, TRGB BeginColor, TRGB EndColor,
                     TRGB CastColor, const TProgressEvent& OnProgress, TObject* Sender) {
  Area a;
  if (!Clip(Bitmap, x1, y1, x2, y2, a)) return;
  // One bit per channel in range: a pixel is in the box when all three are.
  uint8_t in[256];
  for (int c = 0; c < 256; ++c)
    in[c] = uint8_t((c >= BeginColor.r && c <= EndColor.r ? 1 : 0) |
                    (c >= BeginColor.g && c <= EndColor.g ? 2 : 0) |
                    (c >= BeginColor.b && c <= EndColor.b ? 4 : 0));
  ForRows(a, OnProgress, Sender, [&](TRGB* p, int n) {
    for (int i = 0; i < n; ++i)
      if ((in[p[i].r] & 1) & (in[p[i].g] >> 1) & (in[p[i].b] >> 2)) p[i] = CastColor;
  });
  Bitmap->Changed();
}

void _Threshold(TBitmap* Bitmap, int x1, int y1, int x2, int y2, TRGB DownLimit, TRGB UpLimit, TRGB DownVal,
                TRGB UpVal, const TProgressEvent& OnProgress, TObject* Sender) {
  if (DownLimit == TRGB{0, 0, 0} && UpLimit == TRGB{255, 255, 255}) return;
  Area a;
  if (!Clip(Bitmap, x1, y1, x2, y2, a)) return;
  auto table = [](uint8_t* t, int dl, int ul, int dv, int uv) {
    for (int c = 0; c < 256; ++c) {
      int v = c <= dl ? dv : c;
      t[c] = uint8_t(v > ul ? uv : v);
    }
  };
  uint8_t tr[256], tg[256], tb[256];
  table(tr, DownLimit.r, UpLimit.r, DownVal.r, UpVal.r);
  table(tg, DownLimit.g, UpLimit.g, DownVal.g, UpVal.g);
  table(tb, DownLimit.b, UpLimit.b, DownVal.b, UpVal.b);
  ApplyTables(Bitmap, a, tr, tg, tb, OnProgress, Sender);
}

// ---------------------------------------------------------------------------
// HSV channels and palette search

void _GetHSVChannelAll(const TBitmap* Bitmap, TBitmap* H, TBitmap* S, TBitmap* V,
                       const TProgressEvent& OnProgress, TObject* Sender) {
  if (!Bitmap || Bitmap->PixelFormat() != pf24bit) return;
  const int w = Bitmap->Width(), h = Bitmap->Height();
  TBitmap* outs[3] = {H, S, V};
  for (TBitmap* o : outs)
    if (o && (o->PixelFormat() != pf24bit || o->Width() != w || o->Height() != h)) o->Allocate(w, h, pf24bit);
  if (w < 1 || h < 1) return;
  for (int y = 0; y < h; ++y) {
    const TRGB* s = reinterpret_cast<const TRGB*>(Bitmap->Scanline(y));
    TRGB* d[3];
    for (int k = 0; k < 3; ++k) d[k] = outs[k] ? reinterpret_cast<TRGB*>(outs[k]->Scanline(y)) : nullptr;
    for (int x = 0; x < w; ++x) {
      int hsv[3];
      RGB2HSV(s[x], hsv[0], hsv[1], hsv[2]);
      for (int k = 0; k < 3; ++k)
        if (d[k]) {
          const uint8_t g = uint8_t(hsv[k] * 255 / (k == 0 ? 359 : 99));
          d[k][x] = TRGB{g, g, g};
        }
    }
    if (OnProgress) OnProgress(Sender, int(int64_t(y) * 100 / h));
  }
  for (TBitmap* o : outs)
    if (o) o->Changed();
}

std::unique_ptr<TBitmap> _GetHSVChannel(const TBitmap* Bitmap, int Channel, const TProgressEvent& OnProgress,
                                        TObject* Sender) {
  if (!Bitmap || Bitmap->PixelFormat() != pf24bit || Bitmap->Empty()) return nullptr;
  auto out = std::make_unique<TBitmap>();
  TBitmap* dest[3] = {nullptr, nullptr, nullptr};
  dest[Channel == 1 || Channel == 2 ? Channel : 0] = out.get();
  _GetHSVChannelAll(Bitmap, dest[0], dest[1], dest[2], OnProgress, Sender);
  return out;
}

int _GetSimilColor(const TRGB* Palette, int Count, TRGB Color) {
  int best = 1000, index = 0;
  for (int i = 0; i < Count; ++i) {
    const int d = std::abs(Palette[i].r - Color.r) + std::abs(Palette[i].g - Color.g) +
                  std::abs(Palette[i].b - Color.b);
    if (d < best) best = d, index = i;
  }
  return index;
}

}  // namespace korvane
