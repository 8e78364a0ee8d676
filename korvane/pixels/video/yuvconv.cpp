#include "korvane/pixels/video/yuvconv.h"

#include <algorithm>

#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/parallel.h"

// The SSE4.1 kernel is built with a function-level target and chosen at run
// time, so the library still runs on processors without it.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KORVANE_YUV_SSE41 1
#include <immintrin.h>
#endif

namespace korvane {

namespace {

// The conversion works in thousandths: with the coefficients scaled by 1000
// every channel is an exact integer X, and the result is X / 1000 rounded to
// nearest, ties to even, limited to 0..255.
//
// Values of X at or below -500 give 0 and at or above 255500 give 255, so X
// is first limited to [-500, 255499]; then n = X + 500 lies in [0, 256000)
// and the rounded value is floor(n / 1000), less one when n is an exact
// multiple of 1000 (a tie) and that quotient is odd. floor(n / 1000) =
// floor((n >> 3) / 125), and for n >> 3 below 32000 the division by 125 is
// exact as a multiplication by 134218 = (2^24 + 34) / 125 and a shift by 24;
// the 24 low bits of that product are below 134218 exactly when 125 divides
// n >> 3. Everything fits 32 bits.
inline uint8_t Round1000(int32_t x) {
  x = std::clamp<int32_t>(x, -500, 255499);
  uint32_t n = uint32_t(x + 500);
  uint32_t m = (n >> 3) * 134218u;
  uint32_t q = m >> 24;
  uint32_t tie = uint32_t((n & 7) == 0) & uint32_t((m & 0xFFFFFF) < 134218u);
  return uint8_t(q - (tie & q));
}

// Chroma contributions of one (U, V) pair, in thousandths.
struct Chroma {
  int32_t b, g, r;
};
inline Chroma ChromaOf(int u, int v) {
  u -= 128;
  v -= 128;
  return Chroma{2018 * u, -813 * v - 391 * u, 1596 * v};
}
inline void Put(TRGB* d, int y, const Chroma& c) {
  int32_t l = 1164 * (y - 16);
  d->b = Round1000(l + c.b);
  d->g = Round1000(l + c.g);
  d->r = Round1000(l + c.r);
}

// ---------------------------------------------------------------------------
// SSE4.1 kernel for the 2:1 horizontally subsampled formats (UYVY, YUY2, YVYU,
// I420, YV12): 16 pixels at a time, bit-identical to Put.
//
// Per pixel and channel the value n = X + 500 (X in thousandths as above)
// is built in 32-bit lanes: 1164 Y - 18124 from the luma and the chroma term
// from its (U, V) pair, both with pmaddwd. Then 16-bit lanes suffice: m =
// n >> 3 limited to 0..31999 (values outside give 0 or 255 whatever their
// low bits, as for Round1000), q = floor(m / 125) = (m * 33555) >> 22 (exact
// for m below 59074, as 33555 * 125 = 2^22 + 71), and a tie is (n & 7) == 0
// with m == 125 q; an odd q at a tie steps down to the even value.

#ifdef KORVANE_YUV_SSE41
#define KV_SSE41 __attribute__((target("sse4.1")))

KV_SSE41 inline __m128i RoundHalf(__m128i x0, __m128i x1) {
  const __m128i seven = _mm_set1_epi32(7);
  __m128i m = _mm_packs_epi32(_mm_srai_epi32(x0, 3), _mm_srai_epi32(x1, 3));
  __m128i low = _mm_packs_epi32(_mm_and_si128(x0, seven), _mm_and_si128(x1, seven));
  m = _mm_min_epi16(_mm_max_epi16(m, _mm_setzero_si128()), _mm_set1_epi16(31999));
  __m128i q = _mm_srli_epi16(_mm_mulhi_epu16(m, _mm_set1_epi16(short(33555))), 6);
  __m128i tie = _mm_and_si128(_mm_cmpeq_epi16(low, _mm_setzero_si128()),
                              _mm_cmpeq_epi16(m, _mm_mullo_epi16(q, _mm_set1_epi16(125))));
  return _mm_sub_epi16(q, _mm_and_si128(tie, _mm_and_si128(q, _mm_set1_epi16(1))));
}

// One channel of 16 pixels: luma terms l[4] (4 pixels each) plus the chroma
// terms of 8 samples (c0: samples 0-3, c1: 4-7), each sample serving two
// neighbouring pixels. Returns 16 bytes.
KV_SSE41 inline __m128i Channel(const __m128i l[4], __m128i c0, __m128i c1) {
  __m128i a = RoundHalf(_mm_add_epi32(l[0], _mm_unpacklo_epi32(c0, c0)),
                        _mm_add_epi32(l[1], _mm_unpackhi_epi32(c0, c0)));
  __m128i b = RoundHalf(_mm_add_epi32(l[2], _mm_unpacklo_epi32(c1, c1)),
                        _mm_add_epi32(l[3], _mm_unpackhi_epi32(c1, c1)));
  return _mm_packus_epi16(a, b);
}

KV_SSE41 inline __m128i Mix(__m128i b, __m128i g, __m128i r, __m128i mb, __m128i mg, __m128i mr) {
  return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(b, mb), _mm_shuffle_epi8(g, mg)),
                      _mm_shuffle_epi8(r, mr));
}

// Converts 16 pixels from 16 luma bytes and 8 U and 8 V bytes (low halves)
// and stores them as 48 bytes blue, green, red.
KV_SSE41 inline void Convert16(__m128i y, __m128i u, __m128i v, uint8_t* out) {
  const __m128i k128 = _mm_set1_epi16(128);
  __m128i u16 = _mm_sub_epi16(_mm_cvtepu8_epi16(u), k128);
  __m128i v16 = _mm_sub_epi16(_mm_cvtepu8_epi16(v), k128);
  __m128i uv0 = _mm_unpacklo_epi16(u16, v16), uv1 = _mm_unpackhi_epi16(u16, v16);
  const __m128i kb = _mm_set1_epi32(2018 & 0xFFFF);  // (2018, 0)
  const __m128i kg = _mm_set1_epi32(int((uint32_t(uint16_t(-813)) << 16) | uint16_t(-391)));
  const __m128i kr = _mm_set1_epi32(int(uint32_t(1596) << 16));                       // (0, 1596)
  const __m128i ky = _mm_set1_epi32(int((uint32_t(uint16_t(-18124)) << 16) | 1164));  // (1164, -18124)
  const __m128i one = _mm_set1_epi16(1);
  __m128i y0 = _mm_cvtepu8_epi16(y), y1 = _mm_unpackhi_epi8(y, _mm_setzero_si128());
  __m128i l[4] = {
      _mm_madd_epi16(_mm_unpacklo_epi16(y0, one), ky), _mm_madd_epi16(_mm_unpackhi_epi16(y0, one), ky),
      _mm_madd_epi16(_mm_unpacklo_epi16(y1, one), ky), _mm_madd_epi16(_mm_unpackhi_epi16(y1, one), ky)};
  __m128i b = Channel(l, _mm_madd_epi16(uv0, kb), _mm_madd_epi16(uv1, kb));
  __m128i g = Channel(l, _mm_madd_epi16(uv0, kg), _mm_madd_epi16(uv1, kg));
  __m128i r = Channel(l, _mm_madd_epi16(uv0, kr), _mm_madd_epi16(uv1, kr));
  // Interleave: output byte 3i + c takes byte i of channel c.
  const __m128i b0 = _mm_setr_epi8(0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5);
  const __m128i g0 = _mm_setr_epi8(-1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1);
  const __m128i r0 = _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
  const __m128i b1 = _mm_setr_epi8(-1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1);
  const __m128i g1 = _mm_setr_epi8(5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10);
  const __m128i r1 = _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1);
  const __m128i b2 = _mm_setr_epi8(-1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1);
  const __m128i g2 = _mm_setr_epi8(-1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1);
  const __m128i r2 = _mm_setr_epi8(10, -1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), Mix(b, g, r, b0, g0, r0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), Mix(b, g, r, b1, g1, r1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), Mix(b, g, r, b2, g2, r2));
}

// Shuffle mask that gathers 16 bytes from a 16-byte half (half 0 or 1) of a
// 32-byte block, taking source byte first + step * i for output byte i (and
// -1, a zero, where that source byte lies in the other half or past count).
void GatherMask(int8_t* m, int first, int step, int count, int half) {
  for (int i = 0; i < 16; ++i) {
    int src = first + step * i - 16 * half;
    m[i] = i < count && src >= 0 && src < 16 ? int8_t(src) : int8_t(-1);
  }
}

KV_SSE41 inline __m128i Mask(const int8_t* m) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(m)); }

// Blocks of 16 pixels of a packed 4:2:2 row (32 bytes each) whose groups of
// four bytes hold luma at yo and yo + 2, U at uo and V at vo.
KV_SSE41 void Packed422Blocks(const uint8_t* s, TRGB* d, int blocks, int yo, int uo, int vo) {
  int8_t m[6][16];
  GatherMask(m[0], yo, 2, 16, 0);
  GatherMask(m[1], yo, 2, 16, 1);
  GatherMask(m[2], uo, 4, 8, 0);
  GatherMask(m[3], uo, 4, 8, 1);
  GatherMask(m[4], vo, 4, 8, 0);
  GatherMask(m[5], vo, 4, 8, 1);
  const __m128i my0 = Mask(m[0]), my1 = Mask(m[1]), mu0 = Mask(m[2]), mu1 = Mask(m[3]), mv0 = Mask(m[4]),
                mv1 = Mask(m[5]);
  uint8_t* o = reinterpret_cast<uint8_t*>(d);
  for (int k = 0; k < blocks; ++k, s += 32, o += 48) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
    __m128i y = _mm_or_si128(_mm_shuffle_epi8(a, my0), _mm_shuffle_epi8(c, my1));
    __m128i u = _mm_or_si128(_mm_shuffle_epi8(a, mu0), _mm_shuffle_epi8(c, mu1));
    __m128i v = _mm_or_si128(_mm_shuffle_epi8(a, mv0), _mm_shuffle_epi8(c, mv1));
    Convert16(y, u, v, o);
  }
}

// Blocks of 16 pixels of a 4:2:0 row: 16 luma bytes, 8 U and 8 V bytes each.
KV_SSE41 void Planar420Blocks(const uint8_t* y, const uint8_t* u, const uint8_t* v, TRGB* d, int blocks) {
  uint8_t* o = reinterpret_cast<uint8_t*>(d);
  for (int k = 0; k < blocks; ++k, y += 16, u += 8, v += 8, o += 48)
    Convert16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)),
              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u)),
              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v)), o);
}

// The same kernel on 256-bit registers: 32 pixels at a time, the low
// 128-bit lane working on pixels 0-15 exactly as Convert16 does and the high
// lane on pixels 16-31 (the byte shuffles and packs stay within lanes).
#define KV_AVX2 __attribute__((target("avx2")))

KV_AVX2 inline __m256i RoundHalf(__m256i x0, __m256i x1) {
  const __m256i seven = _mm256_set1_epi32(7);
  __m256i m = _mm256_packs_epi32(_mm256_srai_epi32(x0, 3), _mm256_srai_epi32(x1, 3));
  __m256i low = _mm256_packs_epi32(_mm256_and_si256(x0, seven), _mm256_and_si256(x1, seven));
  m = _mm256_min_epi16(_mm256_max_epi16(m, _mm256_setzero_si256()), _mm256_set1_epi16(31999));
  __m256i q = _mm256_srli_epi16(_mm256_mulhi_epu16(m, _mm256_set1_epi16(short(33555))), 6);
  __m256i tie = _mm256_and_si256(_mm256_cmpeq_epi16(low, _mm256_setzero_si256()),
                                 _mm256_cmpeq_epi16(m, _mm256_mullo_epi16(q, _mm256_set1_epi16(125))));
  return _mm256_sub_epi16(q, _mm256_and_si256(tie, _mm256_and_si256(q, _mm256_set1_epi16(1))));
}

KV_AVX2 inline __m256i Channel(const __m256i l[4], __m256i c0, __m256i c1) {
  __m256i a = RoundHalf(_mm256_add_epi32(l[0], _mm256_unpacklo_epi32(c0, c0)),
                        _mm256_add_epi32(l[1], _mm256_unpackhi_epi32(c0, c0)));
  __m256i b = RoundHalf(_mm256_add_epi32(l[2], _mm256_unpacklo_epi32(c1, c1)),
                        _mm256_add_epi32(l[3], _mm256_unpackhi_epi32(c1, c1)));
  return _mm256_packus_epi16(a, b);
}

KV_AVX2 inline __m256i Mix(__m256i b, __m256i g, __m256i r, __m128i mb, __m128i mg, __m128i mr) {
  return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, _mm256_broadcastsi128_si256(mb)),
                                         _mm256_shuffle_epi8(g, _mm256_broadcastsi128_si256(mg))),
                         _mm256_shuffle_epi8(r, _mm256_broadcastsi128_si256(mr)));
}

// y: luma of pixels 0-15 (low lane) and 16-31 (high lane); u, v: the chroma
// samples 0-7 (low lane) and 8-15 (high lane) as 16-bit values.
KV_AVX2 inline void Convert32(__m256i y, __m256i u, __m256i v, uint8_t* out) {
  const __m256i k128 = _mm256_set1_epi16(128);
  __m256i u16 = _mm256_sub_epi16(u, k128), v16 = _mm256_sub_epi16(v, k128);
  __m256i uv0 = _mm256_unpacklo_epi16(u16, v16), uv1 = _mm256_unpackhi_epi16(u16, v16);
  const __m256i kb = _mm256_set1_epi32(2018 & 0xFFFF);
  const __m256i kg = _mm256_set1_epi32(int((uint32_t(uint16_t(-813)) << 16) | uint16_t(-391)));
  const __m256i kr = _mm256_set1_epi32(int(uint32_t(1596) << 16));
  const __m256i ky = _mm256_set1_epi32(int((uint32_t(uint16_t(-18124)) << 16) | 1164));
  const __m256i one = _mm256_set1_epi16(1);
  __m256i y0 = _mm256_unpacklo_epi8(y, _mm256_setzero_si256());
  __m256i y1 = _mm256_unpackhi_epi8(y, _mm256_setzero_si256());
  __m256i l[4] = {_mm256_madd_epi16(_mm256_unpacklo_epi16(y0, one), ky),
                  _mm256_madd_epi16(_mm256_unpackhi_epi16(y0, one), ky),
                  _mm256_madd_epi16(_mm256_unpacklo_epi16(y1, one), ky),
                  _mm256_madd_epi16(_mm256_unpackhi_epi16(y1, one), ky)};
  __m256i b = Channel(l, _mm256_madd_epi16(uv0, kb), _mm256_madd_epi16(uv1, kb));
  __m256i g = Channel(l, _mm256_madd_epi16(uv0, kg), _mm256_madd_epi16(uv1, kg));
  __m256i r = Channel(l, _mm256_madd_epi16(uv0, kr), _mm256_madd_epi16(uv1, kr));
  __m256i m0 = Mix(b, g, r, _mm_setr_epi8(0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5),
                   _mm_setr_epi8(-1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1),
                   _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1));
  __m256i m1 = Mix(b, g, r, _mm_setr_epi8(-1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1),
                   _mm_setr_epi8(5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10),
                   _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1));
  __m256i m2 = Mix(b, g, r, _mm_setr_epi8(-1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1),
                   _mm_setr_epi8(-1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1),
                   _mm_setr_epi8(10, -1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15));
  // Low lanes hold output bytes 0-47, high lanes 48-95.
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(m0, m1, 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm256_permute2x128_si256(m2, m0, 0x30));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64), _mm256_permute2x128_si256(m1, m2, 0x31));
}

KV_AVX2 void Packed422Blocks32(const uint8_t* s, TRGB* d, int blocks, int yo, int uo, int vo) {
  int8_t m[6][16];
  GatherMask(m[0], yo, 2, 16, 0);
  GatherMask(m[1], yo, 2, 16, 1);
  GatherMask(m[2], uo, 4, 8, 0);
  GatherMask(m[3], uo, 4, 8, 1);
  GatherMask(m[4], vo, 4, 8, 0);
  GatherMask(m[5], vo, 4, 8, 1);
  __m256i mk[6];
  for (int i = 0; i < 6; ++i)
    mk[i] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m[i])));
  uint8_t* o = reinterpret_cast<uint8_t*>(d);
  for (int k = 0; k < blocks; ++k, s += 64, o += 96) {
    __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 32));
    // Lane 0 takes source bytes 0-15 and 16-31, lane 1 bytes 32-47 and 48-63.
    __m256i a = _mm256_permute2x128_si256(p, q, 0x20), c = _mm256_permute2x128_si256(p, q, 0x31);
    __m256i y = _mm256_or_si256(_mm256_shuffle_epi8(a, mk[0]), _mm256_shuffle_epi8(c, mk[1]));
    __m256i u = _mm256_or_si256(_mm256_shuffle_epi8(a, mk[2]), _mm256_shuffle_epi8(c, mk[3]));
    __m256i v = _mm256_or_si256(_mm256_shuffle_epi8(a, mk[4]), _mm256_shuffle_epi8(c, mk[5]));
    Convert32(y, _mm256_unpacklo_epi8(u, _mm256_setzero_si256()),
              _mm256_unpacklo_epi8(v, _mm256_setzero_si256()), o);
  }
}

KV_AVX2 void Planar420Blocks32(const uint8_t* y, const uint8_t* u, const uint8_t* v, TRGB* d, int blocks) {
  uint8_t* o = reinterpret_cast<uint8_t*>(d);
  for (int k = 0; k < blocks; ++k, y += 32, u += 16, v += 16, o += 96)
    Convert32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y)),
              _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u))),
              _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v))), o);
}

int DetectedLevel() {
  static const int level = __builtin_cpu_supports("avx2") ? 2 : __builtin_cpu_supports("sse4.1") ? 1 : 0;
  return level;
}
#else
int DetectedLevel() { return 0; }
void Packed422Blocks(const uint8_t*, TRGB*, int, int, int, int) {}
void Packed422Blocks32(const uint8_t*, TRGB*, int, int, int, int) {}
void Planar420Blocks(const uint8_t*, const uint8_t*, const uint8_t*, TRGB*, int) {}
void Planar420Blocks32(const uint8_t*, const uint8_t*, const uint8_t*, TRGB*, int) {}
#endif

int g_level_limit = 2;

// Widest kernel allowed and available: 0 scalar, 1 SSE4.1, 2 AVX2.
int VectorLevel() { return std::min(g_level_limit, DetectedLevel()); }

// Converts the leading pixels of a packed 4:2:2 row with the vector kernels;
// returns how many it converted (a multiple of 16, at most pixels).
int Packed422Vector(const uint8_t* s, TRGB* d, int pixels, int yo, int uo, int vo, int level) {
  int done = 0;
  if (level >= 2 && pixels >= 32) {
    Packed422Blocks32(s, d, pixels / 32, yo, uo, vo);
    done = pixels / 32 * 32;
  }
  if (level >= 1 && pixels - done >= 16) {
    Packed422Blocks(s + 2 * size_t(done), d + done, (pixels - done) / 16, yo, uo, vo);
    done += (pixels - done) / 16 * 16;
  }
  return done;
}

// The same for a 4:2:0 row with its chroma rows.
int Planar420Vector(const uint8_t* y, const uint8_t* u, const uint8_t* v, TRGB* d, int pixels, int level) {
  int done = 0;
  if (level >= 2 && pixels >= 32) {
    Planar420Blocks32(y, u, v, d, pixels / 32);
    done = pixels / 32 * 32;
  }
  if (level >= 1 && pixels - done >= 16) {
    Planar420Blocks(y + done, u + done / 2, v + done / 2, d + done, (pixels - done) / 16);
    done += (pixels - done) / 16 * 16;
  }
  return done;
}

// A 24-bit target with its row addressing taken once.
struct Target {
  uint8_t* row0 = nullptr;
  ptrdiff_t stride = 0;
  int w = 0, h = 0;
  bool Open(TBitmap* bmp) {
    if (!bmp || bmp->PixelFormat() != pf24bit || bmp->Empty()) return false;
    w = bmp->Width();
    h = bmp->Height();
    row0 = bmp->Scanline(0);
    stride = h > 1 ? bmp->Scanline(1) - row0 : 0;
    return true;
  }
  // Bitmap row of data row i.
  TRGB* Row(int i, bool topdown) const {
    int y = topdown ? i : h - 1 - i;
    return reinterpret_cast<TRGB*>(row0 + stride * y);
  }
};

// Packed layouts: each converts up to kPixels pixels of one step at s into d;
// count is kPixels except in the last, partial step of a row.
// The 4:2:2 layouts also give the byte offsets of Y0, U and V in a group for
// the SSE4.1 kernel.
struct UYVY {
  static constexpr int kPixels = 2, kBytes = 4;
  static constexpr int kY = 1, kU = 0, kV = 2;
  static void Step(const uint8_t* s, TRGB* d, int count) {
    Chroma c = ChromaOf(s[0], s[2]);
    Put(d, s[1], c);
    if (count > 1) Put(d + 1, s[3], c);
  }
};
struct YUY2 {
  static constexpr int kPixels = 2, kBytes = 4;
  static constexpr int kY = 0, kU = 1, kV = 3;
  static void Step(const uint8_t* s, TRGB* d, int count) {
    Chroma c = ChromaOf(s[1], s[3]);
    Put(d, s[0], c);
    if (count > 1) Put(d + 1, s[2], c);
  }
};
struct YVYU {
  static constexpr int kPixels = 2, kBytes = 4;
  static constexpr int kY = 0, kU = 3, kV = 1;
  static void Step(const uint8_t* s, TRGB* d, int count) {
    Chroma c = ChromaOf(s[3], s[1]);
    Put(d, s[0], c);
    if (count > 1) Put(d + 1, s[2], c);
  }
};
struct IYU1 {
  static constexpr int kPixels = 4, kBytes = 6;
  static void Step(const uint8_t* s, TRGB* d, int count) {
    Chroma c = ChromaOf(s[0], s[3]);
    const uint8_t y[4] = {s[1], s[2], s[4], s[5]};
    for (int k = 0; k < count; ++k) Put(d + k, y[k], c);
  }
};
struct IYU2 {
  static constexpr int kPixels = 1, kBytes = 3;
  static void Step(const uint8_t* s, TRGB* d, int) { Put(d, s[1], ChromaOf(s[0], s[2])); }
};
struct Y41P {
  static constexpr int kPixels = 8, kBytes = 12;
  static void Step(const uint8_t* s, TRGB* d, int count) {
    Chroma c0 = ChromaOf(s[0], s[2]);
    Chroma c4 = ChromaOf(s[4], s[6]);
    const uint8_t y[8] = {s[1], s[3], s[5], s[7], s[8], s[9], s[10], s[11]};
    for (int k = 0; k < count; ++k) Put(d + k, y[k], k < 4 ? c0 : c4);
  }
};
struct Y211 {
  static constexpr int kPixels = 4, kBytes = 4;
  static void Step(const uint8_t* s, TRGB* d, int count) {
    Chroma c = ChromaOf(s[1], s[3]);
    for (int k = 0; k < count; ++k) Put(d + k, k < 2 ? s[0] : s[2], c);
  }
};
struct CLJR {
  static constexpr int kPixels = 4, kBytes = 4;
  static int Widen5(uint32_t v) { return int((v << 3) | (v >> 2)); }
  static int Widen6(uint32_t v) { return int((v << 2) | (v >> 4)); }
  static void Step(const uint8_t* s, TRGB* d, int count) {
    uint32_t w = uint32_t(s[0]) | (uint32_t(s[1]) << 8) | (uint32_t(s[2]) << 16) | (uint32_t(s[3]) << 24);
    Chroma c = ChromaOf(Widen6((w >> 6) & 63), Widen6(w & 63));
    for (int k = 0; k < count; ++k) Put(d + k, Widen5((w >> (12 + 5 * k)) & 31), c);
  }
};

template <typename L>
bool Packed(const uint8_t* data, size_t size, TBitmap* bmp, bool topdown) {
  Target t;
  if (!data || !t.Open(bmp)) return false;
  const int full = t.w / L::kPixels;
  const int rest = t.w % L::kPixels;
  const size_t row_bytes = size_t(full + (rest ? 1 : 0)) * L::kBytes;
  const int rows = int(std::min<size_t>(size_t(t.h), size / row_bytes));
  const int level = VectorLevel();
  KVForEachRow(rows, t.w, [&](int i) {
    const uint8_t* s = data + size_t(i) * row_bytes;
    TRGB* d = t.Row(i, topdown);
    int k = 0;
    if constexpr (requires { L::kY; }) {
      const int done = level ? Packed422Vector(s, d, full * 2, L::kY, L::kU, L::kV, level) : 0;
      k = done / 2;
      s += size_t(done) * 2;
      d += done;
    }
    for (; k < full; ++k, s += L::kBytes, d += L::kPixels) L::Step(s, d, L::kPixels);
    if (rest) L::Step(s, d, rest);
  });
  return rows == t.h;
}

// Planar frames: a Y plane of w x h, then two chroma planes of (w div sub) x
// (h div sub) in the order given by u_first.
bool Planar(const uint8_t* data, size_t size, TBitmap* bmp, bool topdown, int sub, bool u_first) {
  Target t;
  if (!data || !t.Open(bmp)) return false;
  const size_t luma = size_t(t.w) * size_t(t.h);
  const int cw = t.w / sub, ch = t.h / sub;
  const size_t plane = size_t(cw) * size_t(ch);
  if (size < luma + 2 * plane) return false;
  const uint8_t* first = data + luma;
  const uint8_t* uplane = u_first ? first : first + plane;
  const uint8_t* vplane = u_first ? first + plane : first;
  // Pixels with a chroma sample of their own, per row.
  const int paired = std::min(cw, t.w / sub) * sub;
  const Chroma neutral = ChromaOf(128, 128);
  const int level = VectorLevel();
  KVForEachRow(t.h, t.w, [&](int i) {
    const uint8_t* y = data + size_t(i) * size_t(t.w);
    TRGB* d = t.Row(i, topdown);
    if (plane == 0) {
      for (int x = 0; x < t.w; ++x) Put(d + x, y[x], neutral);
      return;
    }
    const size_t crow = size_t(std::min(i / sub, ch - 1)) * size_t(cw);
    const uint8_t* u = uplane + crow;
    const uint8_t* v = vplane + crow;
    if (sub == 2) {
      int x = level ? Planar420Vector(y, u, v, d, paired, level) : 0;
      u += x / 2;
      v += x / 2;
      for (; x < paired; x += 2, ++u, ++v) {
        Chroma c = ChromaOf(*u, *v);
        Put(d + x, y[x], c);
        Put(d + x + 1, y[x + 1], c);
      }
    } else {
      for (int x = 0; x < paired; x += sub, ++u, ++v) {
        Chroma c = ChromaOf(*u, *v);
        for (int k = 0; k < sub; ++k) Put(d + x + k, y[x + k], c);
      }
    }
    if (paired < t.w) {
      const uint8_t* ul = uplane + crow + (cw - 1);
      const uint8_t* vl = vplane + crow + (cw - 1);
      Chroma c = ChromaOf(*ul, *vl);
      for (int x = paired; x < t.w; ++x) Put(d + x, y[x], c);
    }
  });
  return true;
}

}  // namespace

void SetYUVVectorLevel(int Level) { g_level_limit = std::clamp(Level, 0, 2); }

void YUV2RGB(int Y, int U, int V, TRGB& Pixel) { Put(&Pixel, Y, ChromaOf(U, V)); }

bool _CopyUYVYToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown) {
  return Packed<UYVY>(Data, DataSize, Bitmap, TopDown);
}
bool _CopyYUY2ToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown) {
  return Packed<YUY2>(Data, DataSize, Bitmap, TopDown);
}
bool _CopyYVYUToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown) {
  return Packed<YVYU>(Data, DataSize, Bitmap, TopDown);
}
bool _CopyIYU1ToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown) {
  return Packed<IYU1>(Data, DataSize, Bitmap, TopDown);
}
bool _CopyIYU2ToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown) {
  return Packed<IYU2>(Data, DataSize, Bitmap, TopDown);
}
bool _CopyY41PToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown) {
  return Packed<Y41P>(Data, DataSize, Bitmap, TopDown);
}
bool _CopyY211ToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown) {
  return Packed<Y211>(Data, DataSize, Bitmap, TopDown);
}
bool _CopyCLJRToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown) {
  return Packed<CLJR>(Data, DataSize, Bitmap, TopDown);
}
bool _CopyI420ToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown) {
  return Planar(Data, DataSize, Bitmap, TopDown, 2, true);
}
bool _CopyYV12ToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown) {
  return Planar(Data, DataSize, Bitmap, TopDown, 2, false);
}
bool _CopyYVU9ToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown) {
  return Planar(Data, DataSize, Bitmap, TopDown, 4, false);
}

namespace {

struct FormatEntry {
  uint32_t code;
  TYUVConverter fn;
  bool reversed;
  int pixels, bytes;  // packed: pixels and bytes per step; planar: pixels 0, bytes = subsampling
};

const FormatEntry kFormats[] = {
    {MakeFourCC('U', 'Y', 'V', 'Y'), _CopyUYVYToBitmap, false, 2, 4},
    {MakeFourCC('U', 'Y', 'N', 'V'), _CopyUYVYToBitmap, false, 2, 4},
    {MakeFourCC('c', 'y', 'u', 'v'), _CopyUYVYToBitmap, true, 2, 4},
    {MakeFourCC('Y', 'U', 'Y', '2'), _CopyYUY2ToBitmap, false, 2, 4},
    {MakeFourCC('Y', 'U', 'N', 'V'), _CopyYUY2ToBitmap, false, 2, 4},
    {MakeFourCC('Y', 'V', 'Y', 'U'), _CopyYVYUToBitmap, false, 2, 4},
    {MakeFourCC('I', 'Y', 'U', '1'), _CopyIYU1ToBitmap, false, 4, 6},
    {MakeFourCC('I', 'Y', 'U', '2'), _CopyIYU2ToBitmap, false, 1, 3},
    {MakeFourCC('Y', '4', '1', 'P'), _CopyY41PToBitmap, true, 8, 12},
    {MakeFourCC('Y', '2', '1', '1'), _CopyY211ToBitmap, false, 4, 4},
    {MakeFourCC('C', 'L', 'J', 'R'), _CopyCLJRToBitmap, false, 4, 4},
    {MakeFourCC('I', '4', '2', '0'), _CopyI420ToBitmap, false, 0, 2},
    {MakeFourCC('I', 'Y', 'U', 'V'), _CopyI420ToBitmap, false, 0, 2},
    {MakeFourCC('Y', 'V', '1', '2'), _CopyYV12ToBitmap, false, 0, 2},
    {MakeFourCC('Y', 'V', 'U', '9'), _CopyYVU9ToBitmap, false, 0, 4},
};

const FormatEntry* FindFormat(uint32_t code) {
  for (const FormatEntry& e : kFormats)
    if (e.code == code) return &e;
  return nullptr;
}

}  // namespace

TYUVConverter FindYUVConverter(uint32_t FourCC, bool* Reversed) {
  const FormatEntry* e = FindFormat(FourCC);
  if (Reversed) *Reversed = e && e->reversed;
  return e ? e->fn : nullptr;
}

size_t YUVFrameSize(uint32_t FourCC, int Width, int Height) {
  const FormatEntry* e = FindFormat(FourCC);
  if (!e || Width <= 0 || Height <= 0) return 0;
  const size_t w = size_t(Width), h = size_t(Height);
  if (e->pixels == 0) {
    const size_t sub = size_t(e->bytes);
    return w * h + 2 * (w / sub) * (h / sub);
  }
  const size_t steps = (w + size_t(e->pixels) - 1) / size_t(e->pixels);
  return steps * size_t(e->bytes) * h;
}

bool CopyYUVFrameToBitmap(uint32_t FourCC, const uint8_t* Data, size_t DataSize, TBitmap* Bitmap,
                          bool TopDown) {
  bool reversed = false;
  TYUVConverter fn = FindYUVConverter(FourCC, &reversed);
  return fn && fn(Data, DataSize, Bitmap, reversed ? !TopDown : TopDown);
}

}  // namespace korvane
