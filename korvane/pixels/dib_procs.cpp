#include "korvane/pixels/dib_procs.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/video/yuvconv.h"

namespace korvane {

int RowPercent(int row, int y1, int y2) {
  const double per = (double(row) - y1 + 1) * (100.0 / (double(y2) - y1 + 0.5));
  return per >= 100 ? 100 : int(per);
}

// ---------------------------------------------------------------------------
// Packed DIBs

HGLOBAL _CopyBitmaptoDIB(TBitmap* Bitmap, int x1, int y1, int x2, int y2) {
  if (!Bitmap || Bitmap->Empty()) return nullptr;
  if (x2 == 0) x2 = Bitmap->Width() - 1;
  if (y2 == 0) y2 = Bitmap->Height() - 1;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, Bitmap->Width() - 1);
  y2 = std::min(y2, Bitmap->Height() - 1);
  if (x2 < x1 || y2 < y1) return nullptr;
  return BitmapToPackedDIB(Bitmap, Rect(x1, y1, x2 + 1, y2 + 1));
}

namespace {

uint32_t Rd32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

}  // namespace

void _CopyDIB2Bitmap(const void* Dib, size_t DibSize, TBitmap* Bitmap, const void* PixelData,
                     size_t PixelDataSize) {
  if (!Bitmap) return;
  const uint8_t* p = static_cast<const uint8_t*>(Dib);
  if (!p || DibSize < 40) throw EInvalidGraphic("unrecognized DIB");
  const uint32_t hsize = Rd32(p);
  const int32_t w = int32_t(Rd32(p + 4));
  const int32_t h = int32_t(Rd32(p + 8));
  const uint32_t comp = Rd32(p + 16);
  const uint32_t clrUsed = Rd32(p + 32);
  // Uncompressed and bit-field DIBs are the host reader's.
  if (comp == TBitmapInfoHeader::kRGB || comp == TBitmapInfoHeader::kBitfields) {
    if (PixelData)
      DIBToBitmap(p, DibSize, PixelData, PixelDataSize, Bitmap);
    else
      PackedDIBToBitmap(p, DibSize, Bitmap);
    return;
  }
  if (hsize < 40 || hsize > DibSize || w <= 0 || h == 0 || h == INT32_MIN)
    throw EInvalidGraphic("unrecognized DIB");
  const int64_t ah = h < 0 ? -int64_t(h) : int64_t(h);
  if (w > kMaxDIBSide || ah > kMaxDIBSide || int64_t(w) * ah > kMaxDIBPixels)
    throw EInvalidGraphic("unrecognized DIB");
  // Only a complete frame is converted: a header alone must not make a big bitmap.
  if (!FindYUVConverter(comp)) throw EInvalidGraphic("unsupported DIB compression");
  const uint8_t* data;
  size_t n;
  if (PixelData) {
    data = static_cast<const uint8_t*>(PixelData);
    n = PixelDataSize;
  } else {
    const uint64_t off = uint64_t(hsize) + uint64_t(clrUsed) * 4;
    if (off > DibSize) throw EInvalidGraphic("truncated DIB");
    data = p + off;
    n = DibSize - size_t(off);
  }
  if (!data || n < YUVFrameSize(comp, w, int(ah))) throw EInvalidGraphic("truncated DIB");
  Bitmap->Allocate(w, int(ah), pf24bit);
  // Frames with a positive height run from the top; the converter reverses
  // the codes stored the other way round.
  CopyYUVFrameToBitmap(comp, data, n, Bitmap, h > 0);
}

void _CopyDIB2Bitmap(HGLOBAL Dib, TBitmap* Bitmap) {
  TGlobalLock lock(Dib);
  if (!lock.Data()) throw EInvalidGraphic("unrecognized DIB");
  _CopyDIB2Bitmap(lock.Data(), lock.Size(), Bitmap);
}

// ---------------------------------------------------------------------------
// Comparison and channel swaps

bool _BitmapCompareX(const TBitmap* a, const TBitmap* b) {
  if (!a || !b) return a == b;
  if (a->Width() != b->Width() || a->Height() != b->Height() || a->PixelFormat() != b->PixelFormat())
    return false;
  const int w = a->Width();
  const size_t bits = size_t(w) * size_t(a->BitsPerPixel());
  const size_t whole = bits / 8;
  const unsigned rest = unsigned(bits % 8);
  const uint8_t lastMask = uint8_t(0xFF << (8 - rest));
  for (int y = 0; y < a->Height(); ++y) {
    const uint8_t* ra = a->Scanline(y);
    const uint8_t* rb = b->Scanline(y);
    if (std::memcmp(ra, rb, whole) != 0) return false;
    if (rest && ((ra[whole] ^ rb[whole]) & lastMask)) return false;
  }
  return true;
}

void _CopyBGR_RGB(TRGB* Dest, const TRGB* Source, int Count) {
  for (int i = 0; i < Count; ++i) Dest[i] = TRGB{Source[i].r, Source[i].g, Source[i].b};
}

void _RGB2BGR(TRGB* Row, int Count) {
  for (int i = 0; i < Count; ++i) std::swap(Row[i].r, Row[i].b);
}

// ---------------------------------------------------------------------------
// Magic wand

namespace {

// Sets bits a..b (inclusive) of a 1-bit row.
inline void SetBitRun(uint8_t* row, int a, int b) {
  int ba = a >> 3, bb = b >> 3;
  const uint8_t ma = uint8_t(0xFF >> (a & 7)), mb = uint8_t(0xFF << (7 - (b & 7)));
  if (ba == bb) {
    row[ba] |= uint8_t(ma & mb);
    return;
  }
  row[ba] |= ma;
  if (bb > ba + 1) std::memset(row + ba + 1, 0xFF, size_t(bb - ba - 1));
  row[bb] |= mb;
}

// One segment of the seed fill: row y was filled over xl..xr; row y + dy is
// to be explored.
struct Segment {
  int32_t y, xl, xr, dy;
};
static_assert(sizeof(Segment) == 16);

}  // namespace

void _MakeMagicWandBitmap(const TBitmap* Source, TBitmap* Mask, int x, int y, int Tolerance) {
  if (!Source || !Mask) return;
  TBitmap conv;
  const TBitmap* src = Source;
  if (Source->PixelFormat() != pf24bit || Source == Mask) {
    conv.Assign(Source);
    conv.SetPixelFormat(pf24bit);
    src = &conv;
  }
  const int w = src->Width(), h = src->Height();
  Mask->Allocate(w, h, pf1bit);
  if (x < 0 || y < 0 || x >= w || y >= h || Tolerance < 0) return;

  const uint8_t* s0 = src->Scanline(0);
  const ptrdiff_t sstride = h > 1 ? src->Scanline(1) - s0 : 0;
  uint8_t* m0 = Mask->Scanline(0);
  const ptrdiff_t mstride = h > 1 ? Mask->Scanline(1) - m0 : 0;

  // A channel matches when it lies within lo..lo+range: one unsigned compare.
  const uint8_t* seed = s0 + y * sstride + 3 * ptrdiff_t(x);
  int lo[3], range[3];
  for (int c = 0; c < 3; ++c) {
    lo[c] = std::max(0, seed[c] - Tolerance);
    range[c] = std::min(255, seed[c] + Tolerance) - lo[c];
  }
  const int lob = lo[0], log = lo[1], lor = lo[2];
  const unsigned rb = unsigned(range[0]), rg = unsigned(range[1]), rr = unsigned(range[2]);

  const uint8_t* srow = nullptr;
  uint8_t* mrow = nullptr;
  auto inside = [&](int xx) -> bool {
    if (mrow[xx >> 3] & (0x80 >> (xx & 7))) return false;
    const uint8_t* px = srow + 3 * ptrdiff_t(xx);
    return unsigned(px[0] - lob) <= rb && unsigned(px[1] - log) <= rg && unsigned(px[2] - lor) <= rr;
  };

  std::vector<Segment> stack;
  stack.reserve(size_t(w) * 2);
  auto push = [&](int yy, int l, int r, int dy) {
    const int ny = yy + dy;
    if (ny >= 0 && ny < h) stack.push_back(Segment{yy, l, r, dy});
  };
  push(y, x, x, 1);
  push(y + 1, x, x, -1);
  while (!stack.empty()) {
    const Segment sg = stack.back();
    stack.pop_back();
    const int dy = sg.dy, yy = sg.y + dy, x1 = sg.xl, x2 = sg.xr;
    srow = s0 + yy * sstride;
    mrow = m0 + yy * mstride;
    // Run through x1 leftwards.
    int xx = x1;
    while (xx >= 0 && inside(xx)) --xx;
    bool skip = xx >= x1;
    int l = xx + 1;
    if (!skip) {
      SetBitRun(mrow, l, x1);
      if (l < x1) push(yy, l, x1 - 1, -dy);  // leak to the left
      xx = x1 + 1;
    }
    do {
      if (!skip) {
        const int start = xx;
        while (xx < w && inside(xx)) ++xx;
        if (xx > start) SetBitRun(mrow, start, xx - 1);
        push(yy, l, xx - 1, dy);
        if (xx > x2 + 1) push(yy, x2 + 1, xx - 1, -dy);  // leak to the right
      }
      skip = false;
      for (++xx; xx <= x2 && !inside(xx); ++xx) {
      }
      l = xx;
    } while (xx <= x2);
  }
}

}  // namespace korvane
