#include "korvane/pixels/transforms.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#if defined(__x86_64__) || defined(__i386__) || defined(__SSE2__)
#include <immintrin.h>
#endif

#include "korvane/foundations/host/parallel.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/vector_loops.h"

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

namespace {

// True when the eight columns sx[i] are sx[0] + i.
inline bool ConsecutiveColumns8(const int* sx) {
#if defined(__SSE2__)
  const __m128i x0 = _mm_set1_epi32(sx[0]);
  const __m128i lo = _mm_add_epi32(x0, _mm_setr_epi32(0, 1, 2, 3)),
                hi = _mm_add_epi32(x0, _mm_setr_epi32(4, 5, 6, 7));
  auto load = [](const int* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  const __m128i eq = _mm_and_si128(_mm_cmpeq_epi32(load(sx), lo), _mm_cmpeq_epi32(load(sx + 4), hi));
  return _mm_movemask_epi8(eq) == 0xFFFF;
#else
  for (int i = 1; i < 8; ++i)
    if (sx[i] != sx[0] + i) return false;
  return true;
#endif
}

}  // namespace

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
  std::vector<int> srcX(static_cast<size_t>(nw)), srcY(static_cast<size_t>(nw));
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
    // The source points of the run, with the same double arithmetic as
    // inside() (a loop the compiler vectorizes), then its bits gathered a
    // destination byte at a time.
    for (int x = x0; x <= x1; ++x) {
      const double dx = x - dcx;
      srcX[size_t(x)] = int(c * dx + bx);
      srcY[size_t(x)] = int(-s * dx + by);
    }
    for (int x = x0; x <= x1;) {
      // A whole destination byte whose eight points lie on one source row,
      // one column after the other (most of them at small angles), is eight
      // source bits read at once.
      if ((x & 7) == 0 && x + 7 <= x1 && ConsecutiveColumns8(srcX.data() + x)) {
        // Eight source bits at once from the first point's row and, when the
        // points step to the next row (or the one before) part way, from that
        // row for the pixels after the step: the source rows are linear in x,
        // so there is at most one step between neighbouring rows.
        const int y0 = srcY[size_t(x)], y7 = srcY[size_t(x) + 7];
        if (y7 - y0 >= -1 && y7 - y0 <= 1) {
          const int bit = srcX[size_t(x)], at = bit >> 3, sh = bit & 7;
          // With sh > 0 the run reaches into byte at + 1, inside the row.
          auto eight = [&](int r) {
            const uint8_t* row = rows[size_t(r)];
            return sh == 0 ? row[at] : uint8_t((row[at] << sh) | (row[at + 1] >> (8 - sh)));
          };
          uint8_t v = eight(y0);
          if (y7 != y0) {
            int k = 1;
            while (srcY[size_t(x + k)] == y0) ++k;
            const uint8_t first = uint8_t(0xFF00u >> k);  // pixels 0..k-1, most significant first
            v = uint8_t((v & first) | (eight(y7) & ~first));
          }
          d[x >> 3] = v;
          x += 8;
          continue;
        }
      }
      const int last = std::min(x1, x | 7);
      unsigned bits = 0, mask = 0;
      for (; x <= last; ++x) {
        const unsigned m = 0x80u >> (x & 7);
        mask |= m;
        bits |= m & (0u - unsigned(_GetPixelbw(rows[size_t(srcY[size_t(x)])], srcX[size_t(x)])));
      }
      uint8_t& b = d[(last) >> 3];
      b = uint8_t((b & ~mask) | bits);
    }
    if (Progress.OnProgress) ReportProgress(Progress, int(y * 100.0 / nh));
  }
  _CopyBitmap(&out, Bitmap);
}

// ---------------------------------------------------------------------------
// Rotation by three shears

namespace {

detail::VectorLoops gLoops = detail::VectorLoops::Fastest;

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

// The blend of one channel, (a * f + b * (4096 - f) + 2048) >> 12, written
// as b + (((a - b) * f + 2048) >> 12): 4096 b is a whole multiple of 4096, so
// the floor is the same, and the difference form fits 16-bit vector lanes.
inline uint8_t BlendByte(int a, int b, int f) { return uint8_t(b + (((a - b) * f + 2048) >> 12)); }

inline TRGB Blend(TRGB a, TRGB b, int f) {
  return TRGB{BlendByte(a.b, b.b, f), BlendByte(a.g, b.g, f), BlendByte(a.r, b.r, f)};
}

#if defined(__x86_64__) || defined(__i386__)
#define KV_AVX2 __attribute__((target("avx2")))

// The vector blend of 16 channels in 16-bit lanes: with w = 8 f (below 32768
// as f < 4096), mulhrs gives ((a - b) * w + 16384) >> 15, which is
// ((a - b) * f + 2048) >> 12 exactly.
KV_AVX2 inline __m256i Blend16(__m256i a, __m256i b, __m256i w) {
  return _mm256_add_epi16(b, _mm256_mulhrs_epi16(_mm256_sub_epi16(a, b), w));
}

KV_AVX2 inline __m256i Widen(const uint8_t* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// d[j] = BlendByte(a[j], b[j], f) for the first 32 * (n / 32) bytes; answers
// how many it did.
KV_AVX2 int BlendBytesAVX2(const uint8_t* a, const uint8_t* b, uint8_t* d, int n, int f) {
  const __m256i w = _mm256_set1_epi16(short(f * 8));
  int j = 0;
  for (; j + 32 <= n; j += 32) {
    const __m256i lo = Blend16(Widen(a + j), Widen(b + j), w);
    const __m256i hi = Blend16(Widen(a + j + 16), Widen(b + j + 16), w);
    // packus works within 128-bit lanes: put the quarters back in order.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + j),
                        _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8));
  }
  return j;
}

// Eight pixels k .. k + 7 of one row of the column shear: pixel k blends
// rows i - 1 and i of its column, i = y - r[k] kept within -1 .. H + 1 (the
// background rows -2, -1, H and H + 1 make every index outside 0 .. H give
// the background, as the blend of two equal pixels is that pixel). The
// pixels are gathered as 4 bytes each; w4 holds each column's 8 f four
// times. Writes 28 bytes at out (the last 4 are scratch).
KV_AVX2 void ColumnBlend8(const uint8_t* row0, int stride, int y, int H, const int32_t* r, const int16_t* w4,
                          int k, uint8_t* out) {
  const __m256i lane = _mm256_setr_epi32(0, 3, 6, 9, 12, 15, 18, 21);
  __m256i i =
      _mm256_sub_epi32(_mm256_set1_epi32(y), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + k)));
  i = _mm256_min_epi32(_mm256_max_epi32(i, _mm256_set1_epi32(-1)), _mm256_set1_epi32(H + 1));
  const __m256i off = _mm256_add_epi32(_mm256_mullo_epi32(i, _mm256_set1_epi32(stride)),
                                       _mm256_add_epi32(_mm256_set1_epi32(3 * k), lane));
  const __m256i b = _mm256_i32gather_epi32(reinterpret_cast<const int*>(row0), off, 1);
  const __m256i a = _mm256_i32gather_epi32(reinterpret_cast<const int*>(row0 - stride), off, 1);
  const __m256i lo = Blend16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(a)),
                             _mm256_cvtepu8_epi16(_mm256_castsi256_si128(b)),
                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w4 + 4 * k)));
  const __m256i hi = Blend16(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(a, 1)),
                             _mm256_cvtepu8_epi16(_mm256_extracti128_si256(b, 1)),
                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w4 + 4 * k + 16)));
  // Pixels 0-3 in the low lane and 4-7 in the high one, 4 bytes each; drop
  // every fourth byte.
  const __m256i px = _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8);
  const __m256i squeeze = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                           0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i packed = _mm256_shuffle_epi8(px, squeeze);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm256_extracti128_si256(packed, 1));
}
#endif

void BlendBytes(const uint8_t* a, const uint8_t* b, uint8_t* d, int n, int f, bool vec) {
  int j = 0;
#ifdef KV_AVX2
  if (vec && f < 4096) j = BlendBytesAVX2(a, b, d, n, f);
#else
  (void)vec;
#endif
  for (; j < n; ++j) d[j] = BlendByte(a[j], b[j], f);
}

// One sheared row: dst[j] = Blend(E[j - r - 1], E[j - r], f) for j in
// 0 .. len - 1, E being the n pixels of src with the background on both
// sides. Columns r + 1 .. r + n - 1 blend two pixels of the row, column r
// blends in from the background and column r + n out to it; the rest is
// background. (With f = 0 this is the row moved by r.)
void ShearRow(const TRGB* src, int n, TRGB* dst, int len, Shift sh, TRGB bg, bool vec) {
  const int64_t r = sh.r;
  const int64_t lo = std::max<int64_t>(0, r + 1), hi = std::min<int64_t>(len - 1, r + n - 1);
  if (lo > hi) {
    std::fill(dst, dst + len, bg);
  } else {
    std::fill(dst, dst + lo, bg);
    std::fill(dst + hi + 1, dst + len, bg);
    const uint8_t* s = reinterpret_cast<const uint8_t*>(src + (lo - r));
    BlendBytes(s - 3, s, reinterpret_cast<uint8_t*>(dst + lo), int(3 * (hi - lo + 1)), sh.f, vec);
  }
  if (r >= 0 && r < len) dst[r] = Blend(bg, src[0], sh.f);
  if (r + n >= 0 && r + n < len) dst[r + n] = Blend(src[n - 1], bg, sh.f);
}

}  // namespace

namespace detail {
void SetVectorLoops(VectorLoops Loops) { gLoops = Loops; }
bool UseAVX2Loops() {
#ifdef KV_AVX2
  static const bool has = __builtin_cpu_supports("avx2");
  return has && gLoops == VectorLoops::Fastest;
#else
  return false;
#endif
}
}  // namespace detail

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
  const bool vec = detail::UseAVX2Loops();
  const double total = H + W1 + H2 + 0.5;
  int counter = 0;
  auto progress = [&] {
    if (Progress.OnProgress) ReportProgress(Progress, std::min(100, int(counter * 100 / total)));
    ++counter;
  };

  // Pass 1: rows of the image into W1 x H. buf1 has two background rows
  // above and below the H rows, so that the column shear reads both of a
  // column's pixels without tests (see ColumnBlend8), and one more row for
  // the 4-byte gathers of 3-byte pixels. (A bitmap, as large blocks of it
  // come in huge pages: 4 KB page faults cost as much as the rotation.)
  TBitmap buf1;
  buf1.Allocate(W1, H + 5, pf24bit);
  const ptrdiff_t stride = H + 5 > 1 ? buf1.Scanline(1) - buf1.Scanline(0) : 0;
  uint8_t* row0 = buf1.Scanline(2);
  auto row1 = [&](int i) { return reinterpret_cast<TRGB*>(row0 + ptrdiff_t(i) * stride); };
  for (int i : {-2, -1, H, H + 1}) std::fill(row1(i), row1(i) + W1, bg);
  // Runs pass(first, last, before) over `lines` lines of `width` pixels; the
  // pass calls before() at the start of each line. Large pictures share the
  // lines between threads, with progress for the lines done so far; others
  // run in one call with progress before each line.
  const int threads = KVThreadsFor(int64_t(W) * H);
  auto runLines = [&](int lines, int width, auto&& pass) {
    if (threads <= 1) {
      pass(0, lines, progress);
      return;
    }
    auto tick = KVReportTick(bool(Progress.OnProgress), [&, base = counter](int64_t done) {
      ReportProgress(Progress, std::min(100, int((base + done - 1) * 100 / total)));
    });
    KVParallelFor(
        lines, KVRowGrain(width, lines), threads,
        [&](int64_t first, int64_t last) { pass(first, last, [] {}); }, tick);
    counter += lines;
  };
  runLines(H, W1, [&](int64_t first, int64_t last, auto&& before) {
    for (int k = int(first); k < int(last); ++k) {
      before();
      const int kk = pos ? k : H - k;
      ShearRow(reinterpret_cast<const TRGB*>(Bitmap->Scanline(k)), W, row1(k), W1,
               LineShift(kk * t, Antialias, true), bg, vec);
    }
  });

  // Pass 2: columns of buf1 into W1 x H2, each moved down by its offset.
  // Done a row of the output at a time (every output pixel gathers its
  // column's two source pixels), and each row goes straight on to pass 3.
  std::vector<int32_t> colR(static_cast<size_t>(W1));
  std::vector<int16_t> colW4(size_t(W1) * 4);
  std::vector<Shift> col(static_cast<size_t>(W1));
  bool fits16 = true;  // every 8 f a 16-bit lane (f < 4096 by construction)
  for (int k = 0; k < W1; ++k) {
    progress();
    const int kk = pos ? W1 - k : k;
    col[size_t(k)] = LineShift(kk * s - D1, Antialias, false);
    colR[size_t(k)] = col[size_t(k)].r;
    std::fill_n(&colW4[size_t(k) * 4], 4, int16_t(col[size_t(k)].f * 8));
    fits16 = fits16 && col[size_t(k)].f < 4096;
  }
  // The gathers take 32-bit offsets from row 0.
  const bool gather = vec && (int64_t(H) + 4) * int64_t(stride) < INT32_MAX && fits16;

  // Pass 3: rows of pass 2 into the bitmap, W3 x H2.
  Bitmap->Allocate(W3, H2, pf24bit);
  runLines(H2, W3, [&](int64_t first, int64_t last, auto&& before) {
    std::vector<TRGB> line(size_t(W1) + 4);
    for (int y = int(first); y < int(last); ++y) {
      before();
      int k = 0;
#ifdef KV_AVX2
      if (gather)
        for (; k + 8 <= W1; k += 8)
          ColumnBlend8(row0, int(stride), y, H, colR.data(), colW4.data(), k,
                       reinterpret_cast<uint8_t*>(line.data() + k));
#endif
      for (; k < W1; ++k) {
        const Shift sh = col[size_t(k)];
        const int i = y - sh.r;  // index in the column of the pixel landing here
        line[size_t(k)] = unsigned(i) > unsigned(H) ? bg : Blend(row1(i - 1)[k], row1(i)[k], sh.f);
      }
      const int kk = pos ? y : H2 - y;
      ShearRow(line.data(), W1, reinterpret_cast<TRGB*>(Bitmap->Scanline(y)), W3,
               LineShift(kk * t - D2, Antialias, false), bg, vec);
    }
  });
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
        case 2:
          sx = w - 1 - x;
          break;
        case 3:
          sx = w - 1 - x, sy = h - 1 - y;
          break;
        case 4:
          sy = h - 1 - y;
          break;
        case 5:
          sx = y, sy = x;
          break;
        case 6:
          sx = y, sy = h - 1 - x;
          break;
        case 7:
          sx = w - 1 - y, sy = h - 1 - x;
          break;
        default:
          sx = w - 1 - y, sy = x;
          break;  // 8
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
