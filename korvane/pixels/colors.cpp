// Color models and color adjustments.
#include "korvane/pixels/colors.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KORVANE_COLOR_SIMD 1
#endif

#include "korvane/foundations/host/parallel.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/dib_procs.h"

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
// Large rectangles share their rows between threads; f must then keep no
// state from one row to the next.
template <typename F>
void ForRows(const Area& a, const TProgressEvent& OnProgress, TObject* Sender, F&& f) {
  const int n = a.x2 - a.x1 + 1;
  const int rows = a.y2 - a.y1 + 1;
  if (const int threads = KVThreadsFor(int64_t(n) * rows); threads > 1) {
    auto tick = KVReportTick(bool(OnProgress), [&](int64_t done) {
      OnProgress(Sender, RowPercent(a.y1 + int(done) - 1, a.y1, a.y2));
    });
    KVParallelFor(
        rows, KVRowGrain(n, rows), threads,
        [&](int64_t first, int64_t last) {
          for (int y = a.y1 + int(first); y < a.y1 + int(last); ++y) f(a.Row(y) + a.x1, n);
        },
        tick);
    return;
  }
  for (int y = a.y1; y <= a.y2; ++y) {
    f(a.Row(y) + a.x1, n);
    if (OnProgress) OnProgress(Sender, RowPercent(y, a.y1, a.y2));
  }
}

// Applies one byte table per channel to the rectangle. Vector(p, n) may do a
// first part of each row run and answers how many pixels it did.
template <typename Vector>
void ApplyTables(TBitmap* Bitmap, const Area& a, const uint8_t* tr, const uint8_t* tg, const uint8_t* tb,
                 const TProgressEvent& OnProgress, TObject* Sender, Vector&& vector) {
  ForRows(a, OnProgress, Sender, [&](TRGB* p, int n) {
    for (int i = vector(p, n); i < n; ++i) p[i] = TRGB{tb[p[i].b], tg[p[i].g], tr[p[i].r]};
  });
  Bitmap->Changed();
}
void ApplyTables(TBitmap* Bitmap, const Area& a, const uint8_t* tr, const uint8_t* tg, const uint8_t* tb,
                 const TProgressEvent& OnProgress, TObject* Sender) {
  ApplyTables(Bitmap, a, tr, tg, tb, OnProgress, Sender, [](TRGB*, int) { return 0; });
}

// ---------------------------------------------------------------------------
// Vector kernels. Each handles the first 16 * (n / 16) pixels of a row run and
// answers how many it did; the scalar loops finish the row. A run starts at a
// pixel, so a 48-byte block (16 pixels) always holds blue, green, red in
// bytes 0, 1, 2 mod 3.

detail::ColorLoops gLoops = detail::ColorLoops::Fastest;

#ifdef KORVANE_COLOR_SIMD
// Three 16-byte vectors repeating (b, g, r) over 48 bytes.
struct Pattern48 {
  __m128i v[3];
  Pattern48(uint8_t b, uint8_t g, uint8_t r) {
    alignas(16) uint8_t bytes[48];
    for (int j = 0; j < 48; ++j) bytes[j] = j % 3 == 0 ? b : j % 3 == 1 ? g : r;
    for (int i = 0; i < 3; ++i) v[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes + 16 * i));
  }
};

// Saturating add of non-negative `up` and subtraction of non-negative
// `down`, one of them 0 per channel (SSE2).
int IntensityBlocks(TRGB* p, int n, const Pattern48& up, const Pattern48& down) {
  uint8_t* b = reinterpret_cast<uint8_t*>(p);
  const int blocks = n / 16;
  for (int k = 0; k < blocks; ++k, b += 48)
    for (int i = 0; i < 3; ++i) {
      __m128i* q = reinterpret_cast<__m128i*>(b + 16 * i);
      _mm_storeu_si128(q, _mm_subs_epu8(_mm_adds_epu8(_mm_loadu_si128(q), up.v[i]), down.v[i]));
    }
  return blocks * 16;
}

// c <= dl ? dv : c, then > ul ? uv (SSE2; unsigned c <= l is max(c, l) == l).
int ThresholdBlocks(TRGB* p, int n, const Pattern48& dl, const Pattern48& ul, const Pattern48& dv,
                    const Pattern48& uv) {
  uint8_t* b = reinterpret_cast<uint8_t*>(p);
  const int blocks = n / 16;
  for (int k = 0; k < blocks; ++k, b += 48)
    for (int i = 0; i < 3; ++i) {
      __m128i* q = reinterpret_cast<__m128i*>(b + 16 * i);
      __m128i c = _mm_loadu_si128(q);
      __m128i low = _mm_cmpeq_epi8(_mm_max_epu8(c, dl.v[i]), dl.v[i]);
      c = _mm_or_si128(_mm_and_si128(low, dv.v[i]), _mm_andnot_si128(low, c));
      __m128i keep = _mm_cmpeq_epi8(_mm_max_epu8(c, ul.v[i]), ul.v[i]);
      _mm_storeu_si128(q, _mm_or_si128(_mm_and_si128(keep, c), _mm_andnot_si128(keep, uv.v[i])));
    }
  return blocks * 16;
}

#define KV_SSSE3 __attribute__((target("ssse3")))

// Shuffle masks: kSplit[c][i] gathers channel c (0 blue, 1 green, 2 red) of
// 16 pixels from the i-th vector of a block; kSpread[i] spreads one byte per
// pixel over the three channel bytes of the i-th vector.
struct ShuffleMasks {
  alignas(16) uint8_t split[3][3][16];
  alignas(16) uint8_t spread[3][16];
  ShuffleMasks() {
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 16; ++k) {
          const int at = 3 * k + c - 16 * i;
          split[c][i][k] = at >= 0 && at < 16 ? uint8_t(at) : 0x80;
        }
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 16; ++j) spread[i][j] = uint8_t((16 * i + j) / 3);
  }
};
const ShuffleMasks kMasks;

KV_SSSE3 inline __m128i Mask(const uint8_t* m) { return _mm_load_si128(reinterpret_cast<const __m128i*>(m)); }
KV_SSSE3 inline __m128i Channel(const __m128i* v, int c) {
  return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(v[0], Mask(kMasks.split[c][0])),
                                   _mm_shuffle_epi8(v[1], Mask(kMasks.split[c][1]))),
                      _mm_shuffle_epi8(v[2], Mask(kMasks.split[c][2])));
}

// Gray (21 r + 71 g + 7 b) div 100 in 16-bit lanes; x div 100 is
// (x * 41944) >> 22 for every x up to 99 * 255 (checked exhaustively).
KV_SSSE3 int GrayBlocks(TRGB* p, int n) {
  uint8_t* b = reinterpret_cast<uint8_t*>(p);
  const int blocks = n / 16;
  const __m128i zero = _mm_setzero_si128(), w21 = _mm_set1_epi16(21), w71 = _mm_set1_epi16(71),
                w7 = _mm_set1_epi16(7), div = _mm_set1_epi16(short(41944));
  for (int k = 0; k < blocks; ++k, b += 48) {
    __m128i v[3];
    for (int i = 0; i < 3; ++i) v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * i));
    const __m128i bl = Channel(v, 0), gr = Channel(v, 1), rd = Channel(v, 2);
    // Eight pixels at a time in 16-bit lanes.
    __m128i halves[2];
    for (int h = 0; h < 2; ++h) {
      const __m128i r16 = h ? _mm_unpackhi_epi8(rd, zero) : _mm_unpacklo_epi8(rd, zero);
      const __m128i g16 = h ? _mm_unpackhi_epi8(gr, zero) : _mm_unpacklo_epi8(gr, zero);
      const __m128i b16 = h ? _mm_unpackhi_epi8(bl, zero) : _mm_unpacklo_epi8(bl, zero);
      const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(r16, w21), _mm_mullo_epi16(g16, w71)),
                                        _mm_mullo_epi16(b16, w7));
      halves[h] = _mm_srli_epi16(_mm_mulhi_epu16(sum, div), 6);
    }
    const __m128i gray = _mm_packus_epi16(halves[0], halves[1]);
    for (int i = 0; i < 3; ++i)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(b + 16 * i),
                       _mm_shuffle_epi8(gray, Mask(kMasks.spread[i])));
  }
  return blocks * 16;
}

// Pixels inside the per-channel ranges lo..hi become the cast color.
KV_SSSE3 int CastBlocks(TRGB* p, int n, TRGB lo, TRGB hi, const Pattern48& cast) {
  uint8_t* b = reinterpret_cast<uint8_t*>(p);
  const int blocks = n / 16;
  const __m128i los[3] = {_mm_set1_epi8(char(lo.b)), _mm_set1_epi8(char(lo.g)), _mm_set1_epi8(char(lo.r))};
  const __m128i his[3] = {_mm_set1_epi8(char(hi.b)), _mm_set1_epi8(char(hi.g)), _mm_set1_epi8(char(hi.r))};
  for (int k = 0; k < blocks; ++k, b += 48) {
    __m128i v[3];
    for (int i = 0; i < 3; ++i) v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * i));
    __m128i in = _mm_set1_epi8(-1);
    for (int c = 0; c < 3; ++c) {
      const __m128i x = Channel(v, c);
      in = _mm_and_si128(in, _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(x, los[c]), x),
                                           _mm_cmpeq_epi8(_mm_min_epu8(x, his[c]), x)));
    }
    for (int i = 0; i < 3; ++i) {
      const __m128i m = _mm_shuffle_epi8(in, Mask(kMasks.spread[i]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(b + 16 * i),
                       _mm_or_si128(_mm_and_si128(m, cast.v[i]), _mm_andnot_si128(m, v[i])));
    }
  }
  return blocks * 16;
}

// The same two kernels on 256-bit registers, 32 pixels a block: the low
// 128-bit lane works on pixels 0-15 exactly as the 16-pixel kernels do and
// the high lane on pixels 16-31 (the shuffles and packs stay within lanes).
#define KV_AVX2 __attribute__((target("avx2")))

KV_AVX2 inline __m256i Load2(const uint8_t* lo, const uint8_t* hi) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lo))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi)), 1);
}
KV_AVX2 inline void Store2(uint8_t* lo, uint8_t* hi, __m256i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lo), _mm256_castsi256_si128(v));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(hi), _mm256_extracti128_si256(v, 1));
}
KV_AVX2 inline __m256i Mask2(const uint8_t* m) {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(m)));
}
KV_AVX2 inline __m256i Channel2(const __m256i* v, int c) {
  return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(v[0], Mask2(kMasks.split[c][0])),
                                         _mm256_shuffle_epi8(v[1], Mask2(kMasks.split[c][1]))),
                         _mm256_shuffle_epi8(v[2], Mask2(kMasks.split[c][2])));
}

KV_AVX2 int GrayBlocks32(TRGB* p, int n) {
  uint8_t* b = reinterpret_cast<uint8_t*>(p);
  const int blocks = n / 32;
  const __m256i zero = _mm256_setzero_si256(), w21 = _mm256_set1_epi16(21), w71 = _mm256_set1_epi16(71),
                w7 = _mm256_set1_epi16(7), div = _mm256_set1_epi16(short(41944));
  for (int k = 0; k < blocks; ++k, b += 96) {
    __m256i v[3];
    for (int i = 0; i < 3; ++i) v[i] = Load2(b + 16 * i, b + 48 + 16 * i);
    const __m256i bl = Channel2(v, 0), gr = Channel2(v, 1), rd = Channel2(v, 2);
    __m256i halves[2];
    for (int h = 0; h < 2; ++h) {
      const __m256i r16 = h ? _mm256_unpackhi_epi8(rd, zero) : _mm256_unpacklo_epi8(rd, zero);
      const __m256i g16 = h ? _mm256_unpackhi_epi8(gr, zero) : _mm256_unpacklo_epi8(gr, zero);
      const __m256i b16 = h ? _mm256_unpackhi_epi8(bl, zero) : _mm256_unpacklo_epi8(bl, zero);
      const __m256i sum =
          _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(r16, w21), _mm256_mullo_epi16(g16, w71)),
                           _mm256_mullo_epi16(b16, w7));
      halves[h] = _mm256_srli_epi16(_mm256_mulhi_epu16(sum, div), 6);
    }
    const __m256i gray = _mm256_packus_epi16(halves[0], halves[1]);
    for (int i = 0; i < 3; ++i)
      Store2(b + 16 * i, b + 48 + 16 * i, _mm256_shuffle_epi8(gray, Mask2(kMasks.spread[i])));
  }
  return blocks * 32;
}

KV_AVX2 int CastBlocks32(TRGB* p, int n, TRGB lo, TRGB hi, const Pattern48& cast) {
  uint8_t* b = reinterpret_cast<uint8_t*>(p);
  const int blocks = n / 32;
  const __m256i los[3] = {_mm256_set1_epi8(char(lo.b)), _mm256_set1_epi8(char(lo.g)),
                          _mm256_set1_epi8(char(lo.r))};
  const __m256i his[3] = {_mm256_set1_epi8(char(hi.b)), _mm256_set1_epi8(char(hi.g)),
                          _mm256_set1_epi8(char(hi.r))};
  __m256i casts[3];
  for (int i = 0; i < 3; ++i) casts[i] = _mm256_broadcastsi128_si256(cast.v[i]);
  for (int k = 0; k < blocks; ++k, b += 96) {
    __m256i v[3];
    for (int i = 0; i < 3; ++i) v[i] = Load2(b + 16 * i, b + 48 + 16 * i);
    __m256i in = _mm256_set1_epi8(-1);
    for (int c = 0; c < 3; ++c) {
      const __m256i x = Channel2(v, c);
      in = _mm256_and_si256(in, _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(x, los[c]), x),
                                                 _mm256_cmpeq_epi8(_mm256_min_epu8(x, his[c]), x)));
    }
    for (int i = 0; i < 3; ++i) {
      const __m256i m = _mm256_shuffle_epi8(in, Mask2(kMasks.spread[i]));
      Store2(b + 16 * i, b + 48 + 16 * i, _mm256_blendv_epi8(v[i], casts[i], m));
    }
  }
  return blocks * 32;
}

bool UseSSE2() { return gLoops != detail::ColorLoops::Scalar; }
bool UseSSSE3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has && gLoops == detail::ColorLoops::Fastest;
}
bool UseAVX2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has && gLoops == detail::ColorLoops::Fastest;
}
#else
bool UseSSE2() { return false; }
bool UseSSSE3() { return false; }
bool UseAVX2() { return false; }
#endif

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

namespace {

// The HSL shift of n <= kHSLChunk pixels, written as straight-line selects over
// arrays so that the compiler keeps it free of branches (and vectorises it):
// hue-dependent branches would be mispredicted on nearly every pixel. Every
// value is computed with the same operations, in the same order, as RGB2HSL
// and HSL2RGB, so the pixels are identical to theirs.
constexpr int kHSLChunk = 256;
#ifdef KORVANE_COLOR_SIMD
// The same computation on two pixels at a time (SSE2). Masks select where the
// scalar code branches; max_pd and min_pd answer exactly dmax and dmin.
inline __m128d Sel(__m128d m, __m128d a, __m128d b) {
  return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b));
}
void HSLShiftPairs(const double* r, const double* g, const double* b, int n, double dh, double ds, double dl,
                   int* outR, int* outG, int* outB) {
  const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1), two = _mm_set1_pd(2), three = _mm_set1_pd(3),
                four = _mm_set1_pd(4), six = _mm_set1_pd(6), half = _mm_set1_pd(0.5),
                third = _mm_set1_pd(1.0 / 3.0), twoThirds = _mm_set1_pd(2.0 / 3.0), k255 = _mm_set1_pd(255),
                vdh = _mm_set1_pd(dh), vds = _mm_set1_pd(ds), vdl = _mm_set1_pd(dl);
  for (int i = 0; i < n; i += 2) {
    const __m128d ri = _mm_loadu_pd(r + i), gi = _mm_loadu_pd(g + i), bi = _mm_loadu_pd(b + i);
    const __m128d mx = _mm_max_pd(ri, _mm_max_pd(gi, bi)), mn = _mm_min_pd(ri, _mm_min_pd(gi, bi));
    const __m128d sum = _mm_add_pd(mx, mn), L = _mm_mul_pd(sum, half), d = _mm_sub_pd(mx, mn);
    const __m128d flat = _mm_cmpeq_pd(mx, mn);
    const __m128d dd = Sel(flat, one, d);
    const __m128d den = Sel(flat, one, Sel(_mm_cmplt_pd(L, half), sum, _mm_sub_pd(_mm_sub_pd(two, mx), mn)));
    const __m128d S = Sel(flat, zero, _mm_div_pd(d, den));
    const __m128d rmax = _mm_cmpeq_pd(ri, mx), gmax = _mm_cmpeq_pd(gi, mx);
    const __m128d num = Sel(rmax, _mm_sub_pd(gi, bi), Sel(gmax, _mm_sub_pd(bi, ri), _mm_sub_pd(ri, gi)));
    const __m128d base = Sel(rmax, zero, Sel(gmax, two, four));
    __m128d H = _mm_div_pd(_mm_add_pd(base, _mm_div_pd(num, dd)), six);
    H = Sel(_mm_cmplt_pd(H, zero), _mm_add_pd(H, one), H);
    H = Sel(flat, zero, H);
    const __m128d h2 = _mm_min_pd(_mm_max_pd(_mm_add_pd(H, vdh), zero), one);
    const __m128d s2 = _mm_min_pd(_mm_max_pd(_mm_add_pd(S, vds), zero), one);
    const __m128d l2 = _mm_min_pd(_mm_max_pd(_mm_add_pd(L, vdl), zero), one);
    const __m128d m2 = Sel(_mm_cmple_pd(l2, half), _mm_mul_pd(l2, _mm_add_pd(one, s2)),
                           _mm_sub_pd(_mm_add_pd(l2, s2), _mm_mul_pd(l2, s2)));
    const __m128d m1 = _mm_sub_pd(_mm_mul_pd(two, l2), m2), span = _mm_sub_pd(m2, m1);
    auto hue = [&](__m128d h) {
      h = Sel(_mm_cmplt_pd(h, zero), _mm_add_pd(h, one), Sel(_mm_cmpgt_pd(h, one), _mm_sub_pd(h, one), h));
      const __m128d rise = _mm_add_pd(m1, _mm_mul_pd(_mm_mul_pd(span, h), six));
      const __m128d fall = _mm_add_pd(m1, _mm_mul_pd(_mm_mul_pd(span, _mm_sub_pd(twoThirds, h)), six));
      return Sel(_mm_cmplt_pd(_mm_mul_pd(six, h), one), rise,
                 Sel(_mm_cmplt_pd(_mm_mul_pd(two, h), one), m2,
                     Sel(_mm_cmplt_pd(_mm_mul_pd(three, h), two), fall, m1)));
    };
    const __m128d gray = _mm_cmpeq_pd(s2, zero);
    const __m128d vr = Sel(gray, l2, hue(_mm_add_pd(h2, third))), vg = Sel(gray, l2, hue(h2)),
                  vb = Sel(gray, l2, hue(_mm_sub_pd(h2, third)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(outR + i), _mm_cvttpd_epi32(_mm_mul_pd(vr, k255)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(outG + i), _mm_cvttpd_epi32(_mm_mul_pd(vg, k255)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(outB + i), _mm_cvttpd_epi32(_mm_mul_pd(vb, k255)));
  }
}
#endif

#ifdef KORVANE_COLOR_SIMD
// Four pixels at a time with AVX, written with vector types: a comparison
// gives a lane mask and ?: selects per lane, exactly as the scalar selects.
typedef double V4d __attribute__((vector_size(32)));
typedef int32_t V4i __attribute__((vector_size(16)));
#define KV_AVX __attribute__((target("avx"), always_inline)) inline
KV_AVX V4d Max4(V4d a, V4d c) { return a > c ? a : c; }
KV_AVX V4d Min4(V4d a, V4d c) { return a < c ? a : c; }
KV_AVX V4d Hue4(V4d m1, V4d m2, V4d h) {
  const V4d twoThirds = {2.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0};
  h = h < 0 ? h + 1 : (h > 1 ? h - 1 : h);
  const V4d rise = m1 + (m2 - m1) * h * 6, fall = m1 + (m2 - m1) * (twoThirds - h) * 6;
  return 6 * h < 1 ? rise : (2 * h < 1 ? m2 : (3 * h < 2 ? fall : m1));
}
#undef KV_AVX
__attribute__((target("avx"))) void HSLShiftQuads(const double* r, const double* g, const double* b, int n,
                                                  double dh, double ds, double dl, int* outR, int* outG,
                                                  int* outB) {
  const V4d zero = {0, 0, 0, 0}, one = zero + 1, two = zero + 2, four = zero + 4, third = zero + 1.0 / 3.0;
  for (int i = 0; i < n; i += 4) {
    V4d ri, gi, bi;
    std::memcpy(&ri, r + i, sizeof ri), std::memcpy(&gi, g + i, sizeof gi),
        std::memcpy(&bi, b + i, sizeof bi);
    const V4d mx = Max4(ri, Max4(gi, bi)), mn = Min4(ri, Min4(gi, bi));
    const V4d L = (mx + mn) / 2, d = mx - mn;
    const auto flat = mx == mn;
    const V4d dd = flat ? one : d;
    V4d den = L < 0.5 ? mx + mn : 2 - mx - mn;
    den = flat ? one : den;
    const V4d q = d / den;
    const V4d S = flat ? zero : q;
    const auto rmax = ri == mx, gmax = gi == mx;
    const V4d num = rmax ? gi - bi : (gmax ? bi - ri : ri - gi);
    const V4d base = rmax ? zero : (gmax ? two : four);
    V4d H = (base + num / dd) / 6;
    H = H < 0 ? H + 1 : H;
    H = flat ? zero : H;
    const V4d h2 = Min4(Max4(H + dh, zero), one), s2 = Min4(Max4(S + ds, zero), one),
              l2 = Min4(Max4(L + dl, zero), one);
    const V4d m2 = l2 <= 0.5 ? l2 * (1 + s2) : l2 + s2 - l2 * s2;
    const V4d m1 = 2 * l2 - m2;
    const auto gray = s2 == 0;
    const V4d vr = gray ? l2 : Hue4(m1, m2, h2 + third), vg = gray ? l2 : Hue4(m1, m2, h2),
              vb = gray ? l2 : Hue4(m1, m2, h2 - third);
    const V4i ir = __builtin_convertvector(vr * 255, V4i), ig = __builtin_convertvector(vg * 255, V4i),
              ib = __builtin_convertvector(vb * 255, V4i);
    std::memcpy(outR + i, &ir, sizeof ir), std::memcpy(outG + i, &ig, sizeof ig);
    std::memcpy(outB + i, &ib, sizeof ib);
  }
}

bool UseAVX() {
  static const bool has = __builtin_cpu_supports("avx");
  return has && gLoops == detail::ColorLoops::Fastest;
}
#endif

void HSLShiftChunk(TRGB* p, int n, double dh, double ds, double dl) {
  // One spare slot so that the pair loop may run one pixel past an odd n.
  double r[kHSLChunk + 3], g[kHSLChunk + 3], b[kHSLChunk + 3];
  int outR[kHSLChunk + 3], outG[kHSLChunk + 3], outB[kHSLChunk + 3];
  for (int i = 0; i < n; ++i) r[i] = kUnit.v[p[i].r], g[i] = kUnit.v[p[i].g], b[i] = kUnit.v[p[i].b];
  for (int i = n; i < n + 3; ++i) r[i] = g[i] = b[i] = 0;
#ifdef KORVANE_COLOR_SIMD
  if (UseAVX()) {
    HSLShiftQuads(r, g, b, n, dh, ds, dl, outR, outG, outB);
    for (int i = 0; i < n; ++i) p[i] = TRGB{blimit(outB[i]), blimit(outG[i]), blimit(outR[i])};
    return;
  }
  if (UseSSE2()) {
    HSLShiftPairs(r, g, b, n, dh, ds, dl, outR, outG, outB);
    for (int i = 0; i < n; ++i) p[i] = TRGB{blimit(outB[i]), blimit(outG[i]), blimit(outR[i])};
    return;
  }
#endif
  const double third = 1.0 / 3.0, twoThirds = 2.0 / 3.0;
  for (int i = 0; i < n; ++i) {
    const double ri = r[i], gi = g[i], bi = b[i];
    const double mx = dmax(ri, dmax(gi, bi)), mn = dmin(ri, dmin(gi, bi));
    const double L = (mx + mn) / 2, d = mx - mn;
    const bool flat = mx == mn;
    const double dd = flat ? 1.0 : d;
    double den = L < 0.5 ? mx + mn : 2 - mx - mn;
    den = flat ? 1.0 : den;
    const double q = d / den;
    const double S = flat ? 0.0 : q;
    // One division for whichever channel is the largest (adding 0 changes no
    // value, so red's case matches the plain quotient).
    const double num = ri == mx ? gi - bi : gi == mx ? bi - ri : ri - gi;
    const double base = ri == mx ? 0.0 : gi == mx ? 2.0 : 4.0;
    double H = base + num / dd;
    H /= 6;
    const double wrapped = H + 1;
    H = H < 0 ? wrapped : H;
    H = flat ? 0.0 : H;
    // HSL2RGB of the shifted values.
    const double h2 = dmin(dmax(H + dh, 0), 1), s2 = dmin(dmax(S + ds, 0), 1), l2 = dmin(dmax(L + dl, 0), 1);
    const double m2 = l2 <= 0.5 ? l2 * (1 + s2) : l2 + s2 - l2 * s2;
    const double m1 = 2 * l2 - m2;
    auto hue = [m1, m2, twoThirds](double h) {
      const double up = h + 1, down = h - 1;
      h = h < 0 ? up : h > 1 ? down : h;
      const double rise = m1 + (m2 - m1) * h * 6, fall = m1 + (m2 - m1) * (twoThirds - h) * 6;
      const double h6 = 6 * h, h2 = 2 * h, h3 = 3 * h;
      return h6 < 1 ? rise : h2 < 1 ? m2 : h3 < 2 ? fall : m1;
    };
    const bool gray = s2 == 0;
    const double vr = gray ? l2 : hue(h2 + third), vg = gray ? l2 : hue(h2), vb = gray ? l2 : hue(h2 - third);
    outR[i] = int(vr * 255), outG[i] = int(vg * 255), outB[i] = int(vb * 255);
  }
  for (int i = 0; i < n; ++i) p[i] = TRGB{blimit(outB[i]), blimit(outG[i]), blimit(outR[i])};
}

}  // namespace

void _HSLvar(TBitmap* Bitmap, int x1, int y1, int x2, int y2, int Hue, int Sat, int Lum,
             const TProgressEvent& OnProgress, TObject* Sender) {
  Area a;
  if (!Clip(Bitmap, x1, y1, x2, y2, a)) return;
  const double dh = Hue / 360.0, ds = Sat / 100.0, dl = Lum / 100.0;
  ForRows(a, OnProgress, Sender, [&](TRGB* p, int n) {
    for (int i = 0; i < n; i += kHSLChunk) HSLShiftChunk(p + i, imin(kHSLChunk, n - i), dh, ds, dl);
  });
  Bitmap->Changed();
}

namespace detail {

void SetColorLoops(ColorLoops Loops) { gLoops = Loops; }

void HSVvarWith(TBitmap* Bitmap, int x1, int y1, int x2, int y2, int Hue, int Sat, int Val, bool CubeTable,
                const TProgressEvent& OnProgress, TObject* Sender) {
  Area a;
  if (!Clip(Bitmap, x1, y1, x2, y2, a)) return;
  // Hue runs 0..359 and saturation and value 0..99 with no wrap-around, so
  // larger offsets act as these: HSV2RGB clamps either way and the sums
  // cannot overflow.
  Hue = ilimit(Hue, -360, 360), Sat = ilimit(Sat, -100, 100), Val = ilimit(Val, -100, 100);
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
  // Offsets beyond +-255 act as +-255: blimit is reached either way and the
  // sums cannot overflow.
  r = ilimit(r, -255, 255), g = ilimit(g, -255, 255), b = ilimit(b, -255, 255);
  uint8_t tr[256], tg[256], tb[256];
  for (int c = 0; c < 256; ++c) tr[c] = blimit(c + r), tg[c] = blimit(c + g), tb[c] = blimit(c + b);
#ifdef KORVANE_COLOR_SIMD
  if (UseSSE2()) {
    const Pattern48 up(uint8_t(imax(b, 0)), uint8_t(imax(g, 0)), uint8_t(imax(r, 0)));
    const Pattern48 down(uint8_t(imax(-b, 0)), uint8_t(imax(-g, 0)), uint8_t(imax(-r, 0)));
    ApplyTables(Bitmap, a, tr, tg, tb, OnProgress, Sender,
                [&](TRGB* p, int n) { return IntensityBlocks(p, n, up, down); });
    return;
  }
#endif
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
  const bool vec = UseSSSE3(), wide = UseAVX2();
  ForRows(a, OnProgress, Sender, [&](TRGB* p, int n) {
    int i = 0;
#ifdef KORVANE_COLOR_SIMD
    // 32-pixel blocks, then one of 16 (which keeps the 16-pixel kernel in use
    // and tested on AVX2 machines), then single pixels.
    if (wide) i = GrayBlocks32(p, n);
    if (vec) i += GrayBlocks(p + i, n - i);
#else
    (void)wide;
#endif
    for (; i < n; ++i) {
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
  const bool vec = UseSSSE3();
#ifdef KORVANE_COLOR_SIMD
  const Pattern48 cast(CastColor.b, CastColor.g, CastColor.r);
#endif
  const bool wide = UseAVX2();
  ForRows(a, OnProgress, Sender, [&](TRGB* p, int n) {
    int i = 0;
#ifdef KORVANE_COLOR_SIMD
    if (wide) i = CastBlocks32(p, n, BeginColor, EndColor, cast);
    if (vec) i += CastBlocks(p + i, n - i, BeginColor, EndColor, cast);
#else
    (void)wide;
#endif
    for (; i < n; ++i)
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
#ifdef KORVANE_COLOR_SIMD
  if (UseSSE2()) {
    const Pattern48 dl(DownLimit.b, DownLimit.g, DownLimit.r), ul(UpLimit.b, UpLimit.g, UpLimit.r),
        dv(DownVal.b, DownVal.g, DownVal.r), uv(UpVal.b, UpVal.g, UpVal.r);
    ApplyTables(Bitmap, a, tr, tg, tb, OnProgress, Sender,
                [&](TRGB* p, int n) { return ThresholdBlocks(p, n, dl, ul, dv, uv); });
    return;
  }
#endif
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
  if (!Palette) return 0;
  int best = 1000, index = 0;
  for (int i = 0; i < Count; ++i) {
    const int d = std::abs(Palette[i].r - Color.r) + std::abs(Palette[i].g - Color.g) +
                  std::abs(Palette[i].b - Color.b);
    if (d < best) best = d, index = i;
  }
  return index;
}

}  // namespace korvane
