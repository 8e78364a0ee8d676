/// \file
/// Small color, number, bit, bitmap, rectangle and file helpers shared by the
/// views, codecs and processing procedures. The hot ones are inline.
#pragma once
#include <cstdint>
#include <string>

#include "korvane/foundations/host/color.h"
#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

// ---------------------------------------------------------------------------
// Colors

/// A TRGB from red, green and blue, each 0..255.
inline constexpr TRGB CreateRGB(uint8_t r, uint8_t g, uint8_t b) { return TRGB{b, g, r}; }

/// Gray level (21 r + 71 g + 7 b) div 100. The weights sum to 99, so white
/// gives 252, not 255; stored files and thresholds depend on that scale.
inline constexpr int _RGBToGray(TRGB c) {
  return int((uint32_t(c.r) * 21u + uint32_t(c.g) * 71u + uint32_t(c.b) * 7u) / 100u);
}

/// The TColor of a pixel: red in the low byte, then green, then blue.
inline constexpr TColor TRGB2TColor(TRGB c) { return TColor(c.r) | (TColor(c.g) << 8) | (TColor(c.b) << 16); }
/// The TColor of red, green and blue: red in the low byte, then green, then blue.
inline constexpr TColor RGB2TColor(uint8_t r, uint8_t g, uint8_t b) {
  return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16);
}
/// Resolves system colors first, then unpacks red, green and blue.
inline TRGB TColor2TRGB(TColor c) {
  TColor v = ColorToRGB(c);
  return TRGB{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}
/// True when the two pixels have the same red, green and blue.
inline constexpr bool EqualRGB(TRGB a, TRGB b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

// ---------------------------------------------------------------------------
// Numbers

/// The smaller of two integers.
inline constexpr int imin(int a, int b) { return a < b ? a : b; }
/// The larger of two integers.
inline constexpr int imax(int a, int b) { return a > b ? a : b; }
/// The smaller of two doubles (b when they compare unordered, as with a NaN).
inline constexpr double dmin(double a, double b) { return a < b ? a : b; }
/// The larger of two doubles (b when they compare unordered, as with a NaN).
inline constexpr double dmax(double a, double b) { return a > b ? a : b; }
/// imin(imax(v, lo), hi): when lo > hi the answer is hi.
inline constexpr int ilimit(int v, int lo, int hi) { return imin(imax(v, lo), hi); }
/// Clamps to 0..255.
inline constexpr uint8_t blimit(int v) { return v < 0 ? 0 : v > 255 ? 255 : uint8_t(v); }
/// Exchanges two integers.
inline void iswap(int& a, int& b) {
  int t = a;
  a = b;
  b = t;
}
/// Exchanges two bytes.
inline void bswap(uint8_t& a, uint8_t& b) {
  uint8_t t = a;
  a = b;
  b = t;
}
/// Orders the corners so that (x1, y1) is the top left and (x2, y2) the bottom
/// right.
inline void OrdCor(int& x1, int& y1, int& x2, int& y2) {
  if (x2 < x1) iswap(x1, x2);
  if (y2 < y1) iswap(y1, y2);
}

// ---------------------------------------------------------------------------
// Bitmaps

/// Largest value _BitmapRowLen answers: the biggest multiple of 4 that fits in
/// a signed 32-bit integer.
constexpr int kMaxBitmapRowLen = 0x7FFFFFFC;

/// Bytes of one device-independent bitmap row of width pixels at bits per
/// pixel, padded to 4 bytes: ((width * bits + 31) div 32) * 4. A negative width
/// or bit count gives 0; a row that would not fit in a signed 32-bit integer
/// gives kMaxBitmapRowLen, which every size check rejects, instead of a wrapped
/// (possibly small) value.
inline constexpr int _BitmapRowLen(int width, int bits) {
  if (width <= 0 || bits <= 0) return 0;
  int64_t n = (int64_t(width) * int64_t(bits) + 31) / 32 * 4;  // int32 * int32 cannot overflow int64
  return n > kMaxBitmapRowLen ? kMaxBitmapRowLen : int(n);
}

/// Bits per pixel of a pixel format; 0 for the device and custom formats.
KORVANE_EXPORT int _Pixelformat2BitCount(TPixelFormat pf);
/// Pixel format of a bit depth; pfCustom for depths without a format.
KORVANE_EXPORT TPixelFormat _Bitcount2Pixelformat(int bits);

/// Length of the run of set bits that starts at the lowest set bit of a
/// channel mask (bit-field bitmaps): 0xF800 gives 5, 0 gives 0. A mask whose
/// only set bit is bit 31 gives 1.
inline constexpr int _GetBitCount(uint32_t mask) {
  int i = 0;
  while (i < 31 && !(mask & (1u << i))) ++i;
  int n = 0;
  while (i <= 31 && (mask & (1u << i))) ++i, ++n;
  return n;
}

/// Bits per pixel needed for ncol colors: the smallest n with 2^n >= ncol.
/// 1 gives 0, 2 gives 1, 3 gives 2, 256 gives 8, 257 gives 9. No colors (0 or
/// a negative count) gives -1.
inline constexpr int _NColToBitsPixel(int ncol) {
  if (ncol <= 0) return -1;
  uint32_t v = uint32_t(ncol);
  int hi = 31;
  while (!(v & (1u << hi))) --hi;
  return (v & ((1u << hi) - 1)) ? hi + 1 : hi;
}

/// Number of colors of count samples of bits each: 2^(bits * count); 1 when
/// count or bits is 0 or less. Answers that do not fit in a signed 32-bit
/// integer (an exponent of 31 or more, e.g. three 16-bit samples) saturate at
/// INT32_MAX rather than wrapping.
inline constexpr int _GetNumCol(int bits, int count) {
  if (count <= 0 || bits <= 0) return 1;
  if (bits >= 31 || count >= 31 || bits * count >= 31) return 0x7FFFFFFF;
  return int(1u << (bits * count));
}

/// Reverses the order of the 32 bits (bit 0 becomes bit 31).
inline void ReverseBits(uint32_t& v) {
  uint32_t x = v;
  x = ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
  x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
  x = ((x >> 4) & 0x0F0F0F0Fu) | ((x & 0x0F0F0F0Fu) << 4);
  x = ((x >> 8) & 0x00FF00FFu) | ((x & 0x00FF00FFu) << 8);
  v = (x >> 16) | (x << 16);
}
/// Reverses the order of the 8 bits (bit 0 becomes bit 7).
inline void ReverseBitsB(uint8_t& v) {
  uint32_t x = v;
  x = ((x >> 1) & 0x55u) | ((x & 0x55u) << 1);
  x = ((x >> 2) & 0x33u) | ((x & 0x33u) << 2);
  v = uint8_t((x >> 4) | (x << 4));
}

// ---------------------------------------------------------------------------
// Rectangles (inclusive corners)

/// True when (x, y) lies in the rectangle, edges included.
inline constexpr bool _InRect(int x, int y, int x1, int y1, int x2, int y2) {
  return x >= x1 && x <= x2 && y >= y1 && y <= y2;
}

/// Overlap test; touching edges overlap. The first rectangle's corners may come
/// in any order; the second must be ordered (x3 <= x4, y3 <= y4).
inline constexpr bool _RectXRect(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  return !(imax(x1, x2) < x3 || imin(x1, x2) > x4 || imax(y1, y2) < y3 || imin(y1, y2) > y4);
}

/// Position of rectangle B (x3, y3, x4, y4) against the ordered rectangle A
/// (x1, y1, x2, y2), judged by which of B's edge coordinates fall inside A's
/// ranges: 1 when they cross A's border (part of B inside A), 2 when B lies
/// wholly inside A, 0 otherwise (apart, or B spanning A).
KORVANE_EXPORT int _RectPRect(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);

/// Snaps the segment from the anchor (ax, ay) to (x, y) to a horizontal,
/// vertical or 45-degree line by moving (x, y); the band of 30 units around
/// the diagonal decides between the three. Used while a polygon is drawn with
/// Ctrl held.
KORVANE_EXPORT void _CastPolySelCC(int ax, int ay, int& x, int& y);

/// Size in bytes of a file, -1 when it cannot be queried (missing, a folder,
/// no access). Sizes of 2 GiB and more answer INT32_MAX.
KORVANE_EXPORT int32_t _getfilesize(const std::string& FileName);

}  // namespace korvane
