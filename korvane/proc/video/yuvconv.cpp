#include "korvane/proc/video/yuvconv.h"

#include <algorithm>

#include "korvane/foundations/host/graphics.h"

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
struct UYVY {
  static constexpr int kPixels = 2, kBytes = 4;
  static void Step(const uint8_t* s, TRGB* d, int count) {
    Chroma c = ChromaOf(s[0], s[2]);
    Put(d, s[1], c);
    if (count > 1) Put(d + 1, s[3], c);
  }
};
struct YUY2 {
  static constexpr int kPixels = 2, kBytes = 4;
  static void Step(const uint8_t* s, TRGB* d, int count) {
    Chroma c = ChromaOf(s[1], s[3]);
    Put(d, s[0], c);
    if (count > 1) Put(d + 1, s[2], c);
  }
};
struct YVYU {
  static constexpr int kPixels = 2, kBytes = 4;
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
  for (int i = 0; i < rows; ++i) {
    const uint8_t* s = data + size_t(i) * row_bytes;
    TRGB* d = t.Row(i, topdown);
    for (int k = 0; k < full; ++k, s += L::kBytes, d += L::kPixels) L::Step(s, d, L::kPixels);
    if (rest) L::Step(s, d, rest);
  }
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
  for (int i = 0; i < t.h; ++i) {
    const uint8_t* y = data + size_t(i) * size_t(t.w);
    TRGB* d = t.Row(i, topdown);
    if (plane == 0) {
      for (int x = 0; x < t.w; ++x) Put(d + x, y[x], neutral);
      continue;
    }
    const size_t crow = size_t(std::min(i / sub, ch - 1)) * size_t(cw);
    const uint8_t* u = uplane + crow;
    const uint8_t* v = vplane + crow;
    if (sub == 2) {
      for (int x = 0; x < paired; x += 2, ++u, ++v) {
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
  }
  return true;
}

}  // namespace

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
