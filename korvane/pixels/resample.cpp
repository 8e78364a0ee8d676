// The filtered resamplers _Resample and _QuickResample.
//
// Both passes run on fixed-point contributor lists: each list's double
// weights are normalised to sum 1 and turned into 16-bit integers with
// `shift` fraction bits, the largest one corrected so that the integers sum
// exactly to 1 << shift (a flat area stays flat; one weight of 1 copies
// exactly). The horizontal pass turns source rows into rows of destination
// width, kept in a small ring; the vertical pass then combines ring rows into
// each destination row, so both passes walk rows and the intermediate image
// never exists as a whole.
//
// Intermediate values keep kFrac fraction bits (0..255 << kFrac in 16-bit
// lanes) instead of being rounded to bytes: the result then differs from the
// double-precision two-pass definition, which rounds in between, by less than
// 0.5 * sum |weight| + the fixed-point error, that is by at most 1 after the
// final rounding.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "korvane/foundations/host/halftone.h"
#include "korvane/foundations/host/parallel.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/vector_loops.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define KORVANE_RESAMPLE_SSE2 1
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KORVANE_RESAMPLE_AVX2 __attribute__((target("avx2")))
#endif
#endif

namespace korvane {

namespace {

double Triangle(double x) {
  x = std::fabs(x);
  return x < 1 ? 1 - x : 0;
}
double Hermite(double x) {
  x = std::fabs(x);
  return x < 1 ? (2 * x - 3) * x * x + 1 : 0;
}
double Bell(double x) {
  x = std::fabs(x);
  if (x < 0.5) return 0.75 - x * x;
  if (x < 1.5) return 0.5 * (x - 1.5) * (x - 1.5);
  return 0;
}
double BSpline(double x) {
  x = std::fabs(x);
  if (x < 1) return 0.5 * x * x * x - x * x + 2.0 / 3.0;
  if (x < 2) return (2 - x) * (2 - x) * (2 - x) / 6;
  return 0;
}
double Sinc(double x) {
  if (x == 0) return 1;
  x *= M_PI;
  return std::sin(x) / x;
}
double Lanczos3(double x) {
  x = std::fabs(x);
  return x < 3 ? Sinc(x) * Sinc(x / 3) : 0;
}
double Mitchell(double x) {
  x = std::fabs(x);
  const double x2 = x * x;
  if (x < 1) return (7 * x * x2 - 12 * x2 + 16.0 / 3.0) / 6;
  if (x < 2) return (-(7.0 / 3.0) * x * x2 + 12 * x2 - 20 * x + 32.0 / 3.0) / 6;
  return 0;
}

}  // namespace

const TResampleFilterDef ResampleFilters[rfMitchell + 1] = {
    {nullptr, 0}, {Triangle, 1}, {Hermite, 1}, {Bell, 1.5}, {BSpline, 2}, {Lanczos3, 3}, {Mitchell, 2}};

namespace {

constexpr int kFrac = 7;               // fraction bits of intermediate values
constexpr int kMidMax = 255 << kFrac;  // their largest value (fits int16)

// Index j of an axis of n pixels mirrored about the edges (-1 reads 0, n
// reads n - 1), repeatedly for axes shorter than the kernel.
int Reflect(int64_t j, int n) {
  const int64_t p = 2 * int64_t(n);
  j %= p;
  if (j < 0) j += p;
  return int(j < n ? j : p - 1 - j);
}

// The fixed-point contributor lists of one pass (one list per destination
// pixel of the axis). Taps are stored in pairs; an odd list ends with a zero
// weight on the next source index.
struct Axis {
  int src = 0, dst = 0;
  int shift = 14;              // fraction bits of the weights
  std::vector<int> first;      // raw (unmirrored) source index of each list's first tap
  std::vector<int> pairs;      // tap pairs per list
  std::vector<int> offset;     // index of each list's first pair in coef2 (and of its first tap / 2 in coef)
  std::vector<int16_t> coef;   // weights, two per pair
  std::vector<int32_t> coef2;  // the same weights packed two to a 32-bit word (low half first)
  int64_t lo = 0, hi = 0;      // raw source indices touched, inclusive

  int Taps(int i) const { return 2 * pairs[size_t(i)]; }
};

// Builds the lists of an axis from src to dst pixels for a kernel. Weights of
// mirrored destination pixels are bit-for-bit mirrored (the kernel argument
// is formed from exact integers), so a symmetric image stays symmetric.
// inputMax is the largest input value of the pass, which bounds the 32-bit
// sums.
Axis BuildAxis(int src, int dst, const TResampleFilterDef& f, int inputMax) {
  Axis a;
  a.src = src;
  a.dst = dst;
  // Destination pixel i is centred on source position
  //   c = ((2i + 1) src - dst) / (2 dst),
  // and the kernel argument of source pixel j is (c - j) when enlarging and
  // (c - j) * dst / src when shrinking (the kernel widened by src / dst);
  // both are num / den with the integers below.
  const double width = dst < src ? f.Support * src / dst : f.Support;
  const double den = 2.0 * std::max(src, dst);
  constexpr double kExact = double(int64_t(1) << 40);  // weights as exact integers for order-free sums

  struct List {
    int64_t first;
    std::vector<int64_t> q;
    int64_t sum;
  };
  std::vector<List> lists(static_cast<size_t>(dst));
  // Lists whose kernel arguments have the same numerators have the same
  // weights: a ratio like 4:1 or 2:3 repeats a few lists over and over, and
  // the kernel's sines are then computed once per distinct list.
  std::map<std::pair<int64_t, int64_t>, std::vector<int64_t>> seen;
  double maxRatio = 0, maxAbsSum = 0;
  for (int i = 0; i < dst; ++i) {
    List& l = lists[size_t(i)];
    const double c = ((2.0 * i + 1) * src - dst) / (2.0 * dst);
    const int64_t jlo = int64_t(std::floor(c - width)), jhi = int64_t(std::ceil(c + width));
    const int64_t base = (2 * int64_t(i) + 1) * src - dst;
    l.first = jlo;
    std::vector<int64_t>& known = seen[{base - 2 * int64_t(dst) * jlo, jhi - jlo}];
    if (known.empty()) {
      for (int64_t j = jlo; j <= jhi; ++j) {
        const double w = f.Kernel(double(base - 2 * int64_t(dst) * j) / den);
        known.push_back(std::llround(w * kExact));
      }
    }
    l.q = known;
    // Zero weights at either end are dropped.
    size_t b = 0, e = l.q.size();
    while (b < e && l.q[b] == 0) ++b;
    while (e > b && l.q[e - 1] == 0) --e;
    l.q = std::vector<int64_t>(l.q.begin() + ptrdiff_t(b), l.q.begin() + ptrdiff_t(e));
    l.first += int64_t(b);
    int64_t sum = 0, abssum = 0, maxq = 0;
    for (int64_t q : l.q) {
      sum += q;
      abssum += q < 0 ? -q : q;
      maxq = std::max(maxq, q < 0 ? -q : q);
    }
    if (l.q.empty() || sum <= abssum / 100) {
      // No usable weights (cannot happen with the built-in kernels): take the
      // nearest source pixel.
      l.first = std::clamp<int64_t>(std::llround(c), 0, src - 1);
      l.q.assign(1, 1);
      sum = abssum = maxq = 1;
    }
    l.sum = sum;
    maxRatio = std::max(maxRatio, double(maxq) / double(sum));
    maxAbsSum = std::max(maxAbsSum, double(abssum) / double(sum));
  }

  // The most fraction bits that keep every weight in 16 bits (with room for
  // the correction) and every sum of inputMax * |weight| in 32 bits. At
  // least 8, which the degenerate-list guard above guarantees room for.
  auto fits = [&](int sh) {
    return maxRatio * double(1 << sh) + 64 < 32767 && maxAbsSum * inputMax * double(1 << sh) < 2.0e9;
  };
  int shift = 22;
  while (shift > 8 && !fits(shift)) --shift;

  for (;;) {
    a.first.clear();
    a.pairs.clear();
    a.offset.clear();
    a.coef.clear();
    bool inRange = true;
    const int64_t one = int64_t(1) << shift;
    for (int i = 0; i < dst && inRange; ++i) {
      const List& l = lists[size_t(i)];
      const size_t n = l.q.size();
      std::vector<int64_t> c(n);
      int64_t total = 0;
      size_t top = 0;
      for (size_t k = 0; k < n; ++k) {
        // Rounded to nearest, halves away from zero (symmetric in sign).
        const int64_t m = l.q[k] < 0 ? -l.q[k] : l.q[k];
        const int64_t v = (m * one + l.sum / 2) / l.sum;
        c[k] = l.q[k] < 0 ? -v : v;
        total += c[k];
        // The correction goes to the largest weight; between equals, to the
        // one nearer the source centre, so mirrored lists stay mirrored.
        const int64_t dk = std::llabs(2 * (l.first + int64_t(k)) - (src - 1));
        const int64_t dt = std::llabs(2 * (l.first + int64_t(top)) - (src - 1));
        if (c[k] > c[top] || (c[k] == c[top] && dk < dt)) top = k;
      }
      c[top] += one - total;
      a.first.push_back(int(l.first));
      a.offset.push_back(int(a.coef.size() / 2));
      a.pairs.push_back(int((n + 1) / 2));
      for (size_t k = 0; k < n; ++k) {
        if (c[k] < -32768 || c[k] > 32767) inRange = false;
        a.coef.push_back(int16_t(std::clamp<int64_t>(c[k], -32768, 32767)));
      }
      if (n & 1) a.coef.push_back(0);
    }
    if (inRange || shift <= 8) break;
    --shift;
  }
  a.shift = shift;
  a.coef2.resize(a.coef.size() / 2);
  for (size_t k = 0; k < a.coef2.size(); ++k)
    a.coef2[k] = int32_t(uint32_t(uint16_t(a.coef[2 * k])) | (uint32_t(uint16_t(a.coef[2 * k + 1])) << 16));
  a.lo = INT64_MAX;
  a.hi = INT64_MIN;
  for (int i = 0; i < dst; ++i) {
    a.lo = std::min<int64_t>(a.lo, a.first[size_t(i)]);
    a.hi = std::max<int64_t>(a.hi, int64_t(a.first[size_t(i)]) + a.Taps(i) - 1);
  }
  return a;
}

// One weight of 1 per pixel: a pass that leaves its axis as it is.
Axis IdentityAxis(int n) {
  Axis a;
  a.src = a.dst = n;
  a.shift = 14;
  for (int i = 0; i < n; ++i) {
    a.first.push_back(i);
    a.pairs.push_back(1);
    a.offset.push_back(i);
    a.coef.push_back(int16_t(1 << 14));
    a.coef.push_back(0);
    a.coef2.push_back(1 << 14);
  }
  a.lo = 0;
  a.hi = n;
  return a;
}

inline uint8_t Clamp8(int32_t v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }
inline int16_t ClampMid(int32_t v) { return int16_t(v < 0 ? 0 : v > kMidMax ? kMidMax : v); }

// Horizontal pass over one source row laid out from raw index a.lo (pixels
// mirrored in): one intermediate pixel (three values with kFrac fraction
// bits) per list.
void HorizontalScalar(const uint8_t* padded, int16_t* out, const Axis& a, int64_t origin, int x0, int x1) {
  const int down = a.shift - kFrac;
  const int32_t round = 1 << (down - 1);
  for (int x = x0; x < x1; ++x) {
    const uint8_t* p = padded + size_t(a.first[size_t(x)] - origin) * 3;
    const int16_t* c = a.coef.data() + size_t(a.offset[size_t(x)]) * 2;
    int32_t b = round, g = round, r = round;
    for (int k = a.Taps(x); k > 0; --k, p += 3, ++c) {
      b += *c * p[0];
      g += *c * p[1];
      r += *c * p[2];
    }
    out[3 * x] = ClampMid(b >> down);
    out[3 * x + 1] = ClampMid(g >> down);
    out[3 * x + 2] = ClampMid(r >> down);
  }
}

// Vertical pass: value i of the output row combines value i of the list's
// intermediate rows, rounded to a byte.
void VerticalScalar(const int16_t* const* rows, const int16_t* coef, int taps, int shift, uint8_t* out,
                    int count, int32_t* acc) {
  const int down = shift + kFrac;
  const int32_t round = 1 << (down - 1);
  std::fill(acc, acc + count, round);
  for (int k = 0; k < taps; ++k) {
    const int32_t c = coef[k];
    if (c == 0) continue;
    const int16_t* r = rows[k];
    for (int i = 0; i < count; ++i) acc[i] += c * r[i];
  }
  for (int i = 0; i < count; ++i) out[i] = Clamp8(acc[i] >> down);
}

#ifdef KORVANE_RESAMPLE_SSE2
// Two taps of a pixel at p (bytes b0 g0 r0 b1 g1 r1) against their packed
// weights: the blue, green and red sums in the low three 32-bit lanes.
inline __m128i PairSse2(const uint8_t* p, int32_t weights) {
  const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  const __m128i pair = _mm_unpacklo_epi8(_mm_unpacklo_epi8(v, _mm_srli_si128(v, 3)), _mm_setzero_si128());
  return _mm_madd_epi16(pair, _mm_set1_epi32(weights));
}

// A pixel's rounded sums, scaled down by down bits and limited to 0..kMidMax,
// stored at out. Four values are stored: the fourth is overwritten by the
// next pixel or lands in the row's slack.
inline void StorePixelSse2(__m128i sum, int down, int16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  sum = _mm_packs_epi32(_mm_sra_epi32(sum, _mm_cvtsi32_si128(down)), zero);
  sum = _mm_min_epi16(_mm_max_epi16(sum, zero), _mm_set1_epi16(int16_t(kMidMax)));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), sum);
}

// The same sums with 16-bit multiply-adds: two taps of one pixel at a time
// (bytes b0 b1 g0 g1 r0 r1 against weights w0 w1), 8 bytes read per pair,
// so the padded row carries 8 bytes of slack.
inline void HorizontalPixelSse2(const uint8_t* padded, int16_t* out, const Axis& a, int64_t origin, int x) {
  const int down = a.shift - kFrac;
  const uint8_t* p = padded + size_t(a.first[size_t(x)] - origin) * 3;
  const int32_t* c = a.coef2.data() + a.offset[size_t(x)];
  __m128i acc = _mm_set1_epi32(1 << (down - 1));
  for (int k = a.pairs[size_t(x)]; k > 0; --k, p += 6, ++c) acc = _mm_add_epi32(acc, PairSse2(p, *c));
  StorePixelSse2(acc, down, out + 3 * x);
}

void HorizontalSse2(const uint8_t* padded, int16_t* out, const Axis& a, int64_t origin, int x0, int x1) {
  for (int x = x0; x < x1; ++x) HorizontalPixelSse2(padded, out, a, origin, x);
}

#ifdef KORVANE_RESAMPLE_AVX2
// Two pixels at a time, one in each 128-bit lane, with the same sums as the
// loop above; pixels whose lists differ in length (near the edges) go one
// at a time.
KORVANE_RESAMPLE_AVX2 void HorizontalAvx2Pairs(const uint8_t* padded, int16_t* out, const Axis& a,
                                               int64_t origin, int x0, int x1) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i top = _mm256_set1_epi16(int16_t(kMidMax));
  const int down = a.shift - kFrac;
  const __m256i round = _mm256_set1_epi32(1 << (down - 1));
  const __m128i shift = _mm_cvtsi32_si128(down);
  int x = x0;
  for (; x + 1 < x1; x += 2) {
    const int pairs = a.pairs[size_t(x)];
    if (a.pairs[size_t(x) + 1] != pairs) {
      HorizontalPixelSse2(padded, out, a, origin, x);
      HorizontalPixelSse2(padded, out, a, origin, x + 1);
      continue;
    }
    const uint8_t* p0 = padded + size_t(a.first[size_t(x)] - origin) * 3;
    const uint8_t* p1 = padded + size_t(a.first[size_t(x) + 1] - origin) * 3;
    const int32_t* c0 = a.coef2.data() + a.offset[size_t(x)];
    const int32_t* c1 = a.coef2.data() + a.offset[size_t(x) + 1];
    __m256i acc = round;
    for (int k = 0; k < pairs; ++k, p0 += 6, p1 += 6) {
      const __m256i v = _mm256_inserti128_si256(
          _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p0))),
          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p1)), 1);
      const __m256i pair = _mm256_unpacklo_epi8(_mm256_unpacklo_epi8(v, _mm256_srli_si256(v, 3)), zero);
      const __m256i c =
          _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_set1_epi32(c0[k])), _mm_set1_epi32(c1[k]), 1);
      acc = _mm256_add_epi32(acc, _mm256_madd_epi16(pair, c));
    }
    acc = _mm256_packs_epi32(_mm256_sra_epi32(acc, shift), zero);
    acc = _mm256_min_epi16(_mm256_max_epi16(acc, zero), top);
    // The first pixel's fourth value is overwritten by the second pixel.
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * x), _mm256_castsi256_si128(acc));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * x + 3), _mm256_extracti128_si256(acc, 1));
  }
  for (; x < x1; ++x) HorizontalPixelSse2(padded, out, a, origin, x);
}

// Four taps of one pixel at a time: one 16-byte read of four source pixels
// in both lanes, spread by one shuffle into the low lane's pair (taps 0, 1)
// and the high lane's (taps 2, 3) as in the loop above, against the two
// pairs' weights; the lanes are summed at the end and an odd last pair goes
// as above. The integer sums are the same. The 16-byte reads reach 4 bytes
// past the four pixels, within the row's slack.
KORVANE_RESAMPLE_AVX2 void HorizontalAvx2Quads(const uint8_t* padded, int16_t* out, const Axis& a,
                                               int64_t origin, int x0, int x1) {
  const int down = a.shift - kFrac;
  const __m128i round = _mm_set1_epi32(1 << (down - 1));
  const __m256i spread = _mm256_setr_epi8(0, -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, -1, -1, -1, -1,  //
                                          6, -1, 9, -1, 7, -1, 10, -1, 8, -1, 11, -1, -1, -1, -1, -1);
  const __m256i halves = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
  for (int x = x0; x < x1; ++x) {
    const uint8_t* p = padded + size_t(a.first[size_t(x)] - origin) * 3;
    const int32_t* c = a.coef2.data() + a.offset[size_t(x)];
    const int pairs = a.pairs[size_t(x)];
    __m256i acc = _mm256_setzero_si256();
    int k = 0;
    for (; k + 1 < pairs; k += 2, p += 12, c += 2) {
      const __m256i v = _mm256_shuffle_epi8(
          _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))), spread);
      const __m256i w = _mm256_permutevar8x32_epi32(
          _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(c))), halves);
      acc = _mm256_add_epi32(acc, _mm256_madd_epi16(v, w));
    }
    __m128i sum =
        _mm_add_epi32(_mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1)), round);
    if (k < pairs) sum = _mm_add_epi32(sum, PairSse2(p, *c));
    StorePixelSse2(sum, down, out + 3 * x);
  }
}

// Long lists (a picture made smaller) go four taps at a time; short ones two
// pixels at a time, which keeps both lanes busy with fewer taps.
KORVANE_RESAMPLE_AVX2 void HorizontalAvx2(const uint8_t* padded, int16_t* out, const Axis& a, int64_t origin,
                                          int x0, int x1) {
  if (a.dst > 0 && a.pairs[size_t(a.dst / 2)] >= 4)
    HorizontalAvx2Quads(padded, out, a, origin, x0, x1);
  else
    HorizontalAvx2Pairs(padded, out, a, origin, x0, x1);
}
#endif

// 16 output bytes from two intermediate rows at a time: interleaved values
// of the pair against the pair's weights.
inline void VerticalChunkSse2(const int16_t* const* rows, const int32_t* coef2, int pairs, __m128i shift,
                              __m128i round, size_t i, uint8_t* out) {
  __m128i a0 = round, a1 = round, a2 = round, a3 = round;
  for (int k = 0; k < pairs; ++k) {
    const int16_t* x = rows[2 * k] + i;
    const int16_t* y = rows[2 * k + 1] + i;
    const __m128i c = _mm_set1_epi32(coef2[k]);
    const __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x));
    const __m128i y0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
    const __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + 8));
    const __m128i y1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + 8));
    a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_unpacklo_epi16(x0, y0), c));
    a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_unpackhi_epi16(x0, y0), c));
    a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_unpacklo_epi16(x1, y1), c));
    a3 = _mm_add_epi32(a3, _mm_madd_epi16(_mm_unpackhi_epi16(x1, y1), c));
  }
  const __m128i w0 = _mm_packs_epi32(_mm_sra_epi32(a0, shift), _mm_sra_epi32(a1, shift));
  const __m128i w1 = _mm_packs_epi32(_mm_sra_epi32(a2, shift), _mm_sra_epi32(a3, shift));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(w0, w1));
}

#ifdef KORVANE_RESAMPLE_AVX2
// 32 output bytes the same way. The lane-wise interleaves and packs keep
// each 128-bit lane's values in order; one permute puts the lanes right.
KORVANE_RESAMPLE_AVX2 inline void VerticalChunkAvx2(const int16_t* const* rows, const int32_t* coef2,
                                                    int pairs, __m128i shift, __m256i round, size_t i,
                                                    uint8_t* out) {
  __m256i a0 = round, a1 = round, a2 = round, a3 = round;
  for (int k = 0; k < pairs; ++k) {
    const int16_t* x = rows[2 * k] + i;
    const int16_t* y = rows[2 * k + 1] + i;
    const __m256i c = _mm256_set1_epi32(coef2[k]);
    const __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x));
    const __m256i y0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
    const __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + 16));
    const __m256i y1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + 16));
    a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(_mm256_unpacklo_epi16(x0, y0), c));
    a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(_mm256_unpackhi_epi16(x0, y0), c));
    a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(_mm256_unpacklo_epi16(x1, y1), c));
    a3 = _mm256_add_epi32(a3, _mm256_madd_epi16(_mm256_unpackhi_epi16(x1, y1), c));
  }
  const __m256i w0 = _mm256_packs_epi32(_mm256_sra_epi32(a0, shift), _mm256_sra_epi32(a1, shift));
  const __m256i w1 = _mm256_packs_epi32(_mm256_sra_epi32(a2, shift), _mm256_sra_epi32(a3, shift));
  const __m256i b = _mm256_permute4x64_epi64(_mm256_packus_epi16(w0, w1), 0xD8);  // lanes 0 2 1 3
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), b);
}

// The whole 32-byte chunks of a row; answers how many bytes they covered.
KORVANE_RESAMPLE_AVX2 size_t VerticalAvx2(const int16_t* const* rows, const int32_t* coef2, int pairs,
                                          int down, uint8_t* out, int count) {
  const __m128i shift = _mm_cvtsi32_si128(down);
  const __m256i round = _mm256_set1_epi32(1 << (down - 1));
  size_t i = 0;
  for (; i + 32 <= size_t(count); i += 32) VerticalChunkAvx2(rows, coef2, pairs, shift, round, i, out + i);
  return i;
}
#endif

// Rows are read 16 values at a time up to the next multiple of 16, so ring
// rows are allocated that long.
void VerticalSse2(const int16_t* const* rows, const int32_t* coef2, int pairs, int shiftBits, uint8_t* out,
                  int count, bool avx2) {
  const int down = shiftBits + kFrac;
  const __m128i shift = _mm_cvtsi32_si128(down);
  const __m128i round = _mm_set1_epi32(1 << (down - 1));
  size_t i = 0;
#ifdef KORVANE_RESAMPLE_AVX2
  if (avx2) i = VerticalAvx2(rows, coef2, pairs, down, out, count);
#else
  (void)avx2;
#endif
  for (; i + 16 <= size_t(count); i += 16) VerticalChunkSse2(rows, coef2, pairs, shift, round, i, out + i);
  if (i < size_t(count)) {
    alignas(16) uint8_t tail[16];
    VerticalChunkSse2(rows, coef2, pairs, shift, round, i, tail);
    std::memcpy(out + i, tail, size_t(count) - i);
  }
}
#endif

// Reports trunc(units * 100 / (n + 0.5)) when it is assigned.
struct Progress {
  const TProgressEvent& event;
  TObject* sender;
  int64_t n;
  void Report(int64_t units) const {
    if (event) event(sender, int(double(units) * 100.0 / (double(n) + 0.5)));
  }
};

// Both passes from a 24-bit source into a 24-bit destination of h.dst x
// v.dst pixels. Progress after each destination row y: (y + 1) / rows of the
// n units (source rows plus destination columns).
void RunPasses(const TBitmap* src, TBitmap* dst, const Axis& h, const Axis& v, bool simd,
               const Progress& progress) {
  const int outBytes = h.dst * 3;
  const size_t ringStride = (size_t(outBytes) + 15) / 16 * 16 + 16;  // in values

  // Rows of each vertical list, mirrored; the ring holds the widest span of
  // rows one list needs, so no list evicts its own rows.
  std::vector<int> rowsOf(v.coef.size());
  int ringSize = 1;
  for (int y = 0; y < v.dst; ++y) {
    const int taps = v.Taps(y);
    int* r = rowsOf.data() + size_t(v.offset[size_t(y)]) * 2;
    int lo = INT32_MAX, hi = -1;
    for (int k = 0; k < taps; ++k) {
      // A padding tap (zero weight) reuses the list's first row.
      r[k] = v.coef[size_t(v.offset[size_t(y)]) * 2 + size_t(k)] == 0 && k == taps - 1 && k > 0
                 ? r[0]
                 : Reflect(int64_t(v.first[size_t(y)]) + k, v.src);
      lo = std::min(lo, r[k]);
      hi = std::max(hi, r[k]);
    }
    ringSize = std::max(ringSize, hi - lo + 1);
  }
  const size_t padPixels = size_t(h.hi - h.lo + 1);
  const int64_t inLo = std::max<int64_t>(h.lo, 0), inHi = std::min<int64_t>(h.hi, h.src - 1);

  // The lists x0 .. x1 - 1 that lie inside the source row with the vector
  // loops' read slack (16 bytes) too: they read the row in place. The lists
  // before and after read the padded copy, which then needs only pixels
  // lo .. leftHi and rightLo .. hi.
  struct {
    int x0 = 0, x1 = 0;
    int64_t leftHi = 0, rightLo = 0;
  } inner;
  {
    auto inside = [&](int x) {
      return h.first[size_t(x)] >= 0 &&
             (int64_t(h.first[size_t(x)]) + h.Taps(x)) * 3 + 16 <= int64_t(h.src) * 3;
    };
    int x0 = 0;
    while (x0 < h.dst && !inside(x0)) ++x0;
    int x1 = x0;
    while (x1 < h.dst && inside(x1)) ++x1;
    bool contiguous = true;
    for (int x = x1; x < h.dst && contiguous; ++x) contiguous = !inside(x);
    if (contiguous && x1 - x0 >= 16) {
      inner.x0 = x0, inner.x1 = x1;
      inner.leftHi = h.lo - 1;
      inner.rightLo = h.hi + 1;
      // 6 more pixels cover the slack the edge lists' vector reads take.
      for (int x = 0; x < x0; ++x)
        inner.leftHi = std::max<int64_t>(inner.leftHi, int64_t(h.first[size_t(x)]) + h.Taps(x) - 1 + 6);
      for (int x = x1; x < h.dst; ++x) inner.rightLo = std::min<int64_t>(inner.rightLo, h.first[size_t(x)]);
      inner.leftHi = std::min(inner.leftHi, h.hi);
    }
  }

  const bool avx2 = simd && detail::UseAVX2Loops();
  // Destination rows ya .. yb - 1, with buffers of their own so that bands
  // can run on several threads; a band recomputes the few source rows it
  // shares with the band before.
  auto band = [&](int ya, int yb, auto&& afterRow) {
    // Zeroed: the vector loops read the slack after each row (and discard it).
    std::unique_ptr<int16_t[]> ring(new int16_t[ringStride * size_t(ringSize)]());
    std::vector<int> ringRow(size_t(ringSize), -1);
    // One source row with the horizontal mirror margins, plus read slack.
    std::unique_ptr<uint8_t[]> padded(new uint8_t[padPixels * 3 + 16]);
    std::memset(padded.get() + padPixels * 3, 0, 16);
    // Pixels j of the padded row, mirrored where they lie outside.
    auto pad = [&](const uint8_t* in, int64_t ja, int64_t jb) {
      uint8_t* p = padded.get();
      const int64_t a = std::max(ja, inLo), b = std::min(jb, inHi);
      if (a <= b) std::memcpy(p + size_t(a - h.lo) * 3, in + size_t(a) * 3, size_t(b - a + 1) * 3);
      for (int64_t j = ja; j <= jb; ++j) {
        if (j >= a && j <= b) {
          j = b;
          continue;
        }
        std::memcpy(p + size_t(j - h.lo) * 3, in + size_t(Reflect(j, h.src)) * 3, 3);
      }
    };
    auto run = [&](const uint8_t* base, int64_t origin, int x0, int x1, int16_t* out) {
      if (x0 >= x1) return;
#ifdef KORVANE_RESAMPLE_AVX2
      if (simd && avx2) return HorizontalAvx2(base, out, h, origin, x0, x1);
#endif
#ifdef KORVANE_RESAMPLE_SSE2
      if (simd) return HorizontalSse2(base, out, h, origin, x0, x1);
#endif
      HorizontalScalar(base, out, h, origin, x0, x1);
    };
    auto horizontal = [&](int row, int16_t* out) {
      const uint8_t* in = src->Scanline(row);
      if (inner.x0 >= inner.x1) {
        pad(in, h.lo, h.hi);
        return run(padded.get(), h.lo, 0, h.dst, out);
      }
      // The inner lists read the row itself; only the edges' pixels are
      // copied, with their mirrored margins.
      pad(in, h.lo, inner.leftHi);
      pad(in, inner.rightLo, h.hi);
      run(padded.get(), h.lo, 0, inner.x0, out);
      run(in, 0, inner.x0, inner.x1, out);
      run(padded.get(), h.lo, inner.x1, h.dst, out);
    };

    std::vector<const int16_t*> rows;
    std::vector<int32_t> acc(simd ? 0 : size_t(outBytes));
    for (int y = ya; y < yb; ++y) {
      const int taps = v.Taps(y);
      const int* r = rowsOf.data() + size_t(v.offset[size_t(y)]) * 2;
      rows.resize(size_t(taps));
      for (int k = 0; k < taps; ++k) {
        const size_t slot = size_t(r[k] % ringSize);
        int16_t* line = ring.get() + slot * ringStride;
        if (ringRow[slot] != r[k]) {
          horizontal(r[k], line);
          ringRow[slot] = r[k];
        }
        rows[size_t(k)] = line;
      }
      uint8_t* out = dst->Scanline(y);
#ifdef KORVANE_RESAMPLE_SSE2
      if (simd) {
        VerticalSse2(rows.data(), v.coef2.data() + v.offset[size_t(y)], v.pairs[size_t(y)], v.shift, out,
                     outBytes, avx2);
      } else
#endif
      {
        VerticalScalar(rows.data(), v.coef.data() + size_t(v.offset[size_t(y)]) * 2, taps, v.shift, out,
                       outBytes, acc.data());
      }
      afterRow(y);
    }
  };

  // Worth sharing when either side is large (a big picture made small reads
  // all of its rows).
  if (const int threads = KVThreadsFor(std::max(int64_t(h.src) * v.src, int64_t(h.dst) * v.dst));
      threads > 1) {
    auto tick =
        KVReportTick(bool(progress.event), [&](int64_t done) { progress.Report(done * progress.n / v.dst); });
    // Few long bands: each one filters again the source rows it shares with
    // the band before and zeroes a ring of its own, which for short bands of
    // a wide enlargement came to a sixth of the work.
    const int64_t grain = std::max<int64_t>(KVRowGrain(h.dst, v.dst), (v.dst + threads * 4 - 1) / (threads * 4));
    KVParallelFor(
        v.dst, grain, threads,
        [&](int64_t first, int64_t last) { band(int(first), int(last), [](int) {}); }, tick);
    return;
  }
  band(0, v.dst, [&](int y) { progress.Report((int64_t(y) + 1) * progress.n / v.dst); });
}

// The nearest source pixel of every destination pixel (centres aligned).
void Nearest(const TBitmap* src, TBitmap* dst, const Progress& progress) {
  const int sw = src->Width(), sh = src->Height(), dw = dst->Width(), dh = dst->Height();
  std::vector<int> xs(static_cast<size_t>(dw));
  for (int x = 0; x < dw; ++x)
    xs[size_t(x)] = int(std::min<int64_t>((2 * int64_t(x) + 1) * sw / (2 * int64_t(dw)), sw - 1));
  for (int y = 0; y < dh; ++y) {
    const int sy = int(std::min<int64_t>((2 * int64_t(y) + 1) * sh / (2 * int64_t(dh)), sh - 1));
    const uint8_t* in = src->Scanline(sy);
    uint8_t* out = dst->Scanline(y);
    for (int x = 0; x < dw; ++x) std::memcpy(out + 3 * x, in + size_t(xs[size_t(x)]) * 3, 3);
    progress.Report((int64_t(y) + 1) * progress.n / dh);
  }
}

}  // namespace

namespace detail {

void ResampleWith(const TBitmap* Source, TBitmap* Dest, TResampleFilter Filter, bool Quick,
                  ResampleLoops Loops, const TProgressEvent& OnProgress, TObject* Sender) {
  if (!Source || !Dest || Source->Empty() || Dest->Width() <= 0 || Dest->Height() <= 0) return;
  // A 24-bit source that is not the destination itself.
  TBitmap wide;
  const TBitmap* src = Source;
  if (Source->PixelFormat() == pf1bit) {
    TProgressRec quiet;
    _Conv1to24(Source, &wide, quiet);
    src = &wide;
  } else if (Source->PixelFormat() != pf24bit || Source == Dest) {
    wide.Assign(Source);
    wide.SetPixelFormat(pf24bit);
    src = &wide;
  }
  const int sw = src->Width(), sh = src->Height(), dw = Dest->Width(), dh = Dest->Height();
  if (Dest->PixelFormat() != pf24bit) Dest->Allocate(dw, dh, pf24bit);
  const Progress progress{OnProgress, Sender, int64_t(dw) + sh};
  const bool simd = Loops == ResampleLoops::Fastest;

  if (Filter <= rfNone || Filter > rfMitchell) {
    Nearest(src, Dest, progress);
  } else if (!Quick) {
    const TResampleFilterDef& f = ResampleFilters[Filter];
    RunPasses(src, Dest, BuildAxis(sw, dw, f, 255), BuildAxis(sh, dh, f, kMidMax), simd, progress);
  } else {
    // Shrinking directions are averaged by the halftone stretch.
    const TResampleFilterDef& f = ResampleFilters[Filter];
    const bool shrinkX = dw < sw, shrinkY = dh < sh;
    if (shrinkX && shrinkY) {
      HalftoneStretch(Dest, src);
      progress.Report(progress.n);
    } else if (shrinkX) {
      TBitmap mid;
      mid.Allocate(dw, sh, pf24bit);
      HalftoneStretch(&mid, src);
      RunPasses(&mid, Dest, IdentityAxis(dw), BuildAxis(sh, dh, f, kMidMax), simd, progress);
    } else if (shrinkY) {
      TBitmap mid;
      mid.Allocate(dw, sh, pf24bit);
      const TProgressEvent none;
      RunPasses(src, &mid, BuildAxis(sw, dw, f, 255), IdentityAxis(sh), simd, Progress{none, nullptr, 1});
      HalftoneStretch(Dest, &mid);
      progress.Report(progress.n);
    } else {
      RunPasses(src, Dest, BuildAxis(sw, dw, f, 255), BuildAxis(sh, dh, f, kMidMax), simd, progress);
    }
  }
  Dest->Changed();
}

}  // namespace detail

void _Resample(const TBitmap* Source, TBitmap* Dest, TResampleFilter Filter, TProgressEvent OnProgress,
               TObject* Sender) {
  detail::ResampleWith(Source, Dest, Filter, false, detail::ResampleLoops::Fastest, OnProgress, Sender);
}

void _QuickResample(const TBitmap* Source, TBitmap* Dest, TResampleFilter Filter, TProgressEvent OnProgress,
                    TObject* Sender) {
  detail::ResampleWith(Source, Dest, Filter, true, detail::ResampleLoops::Fastest, OnProgress, Sender);
}

}  // namespace korvane
