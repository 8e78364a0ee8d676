// Bitmap copies, copies through polygon masks and 1-to-24-bit widening.
#include "korvane/pixels/bitmap_procs.h"

#include <QRegion>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace korvane {

namespace {

bool IsPaletteFormat(TPixelFormat pf) { return pf == pf1bit || pf == pf4bit || pf == pf8bit; }

// Bytes holding the pixels of one row (without the padding).
size_t PixelBytes(const TBitmap* b) { return (size_t(b->Width()) * size_t(b->BitsPerPixel()) + 7) / 8; }

// Reads k (1..8) bits starting at bit pos of row, touching only the bytes
// that hold them.
inline unsigned GetBits(const uint8_t* row, int64_t pos, int k) {
  const uint8_t* p = row + (pos >> 3);
  const int o = int(pos & 7);
  unsigned v = unsigned(p[0]) << 8;
  if (o + k > 8) v |= p[1];
  return (v >> (16 - o - k)) & ((1u << k) - 1);
}

// Writes the k (1..8) low bits of v at bit pos of row, keeping the other bits
// of the byte(s).
inline void PutBits(uint8_t* row, int64_t pos, int k, unsigned v) {
  uint8_t* p = row + (pos >> 3);
  const int o = int(pos & 7);
  const unsigned wide = (v & ((1u << k) - 1)) << (16 - o - k);
  const unsigned mask = ((1u << k) - 1) << (16 - o - k);
  p[0] = uint8_t((p[0] & ~(mask >> 8)) | (wide >> 8));
  if (o + k > 8) p[1] = uint8_t((p[1] & ~mask) | (wide & 0xFF));
}

// Sets or clears n bits from bit pos.
void FillBits(uint8_t* row, int64_t pos, int64_t n, bool set) {
  const uint8_t fill = set ? 0xFF : 0x00;
  while (n > 0 && (pos & 7)) {
    const int k = int(std::min<int64_t>(n, 8 - (pos & 7)));
    PutBits(row, pos, k, fill);
    pos += k;
    n -= k;
  }
  if (n >= 8) {
    std::memset(row + (pos >> 3), fill, size_t(n >> 3));
    pos += n & ~int64_t(7);
    n &= 7;
  }
  if (n > 0) PutBits(row, pos, int(n), fill);
}

// A rectangle in 64-bit coordinates, right and bottom excluded.
struct Box {
  int64_t l, t, r, b;
  bool Empty() const { return l >= r || t >= b; }
  Box Intersect(const Box& o) const {
    return Box{std::max(l, o.l), std::max(t, o.t), std::min(r, o.r), std::min(b, o.b)};
  }
};
Box BoundsOf(const TBitmap* b) { return Box{0, 0, b->Width(), b->Height()}; }

// Clips a closed polygon to a rectangle (Sutherland-Hodgman). Points outside
// are replaced by runs along the window's edges; inside the window the
// even-odd coverage is unchanged.
std::vector<TPoint> ClipPolygon(const std::vector<std::array<int64_t, 2>>& in, const Box& w) {
  struct P {
    double x, y;
  };
  std::vector<P> poly;
  poly.reserve(in.size());
  for (const auto& p : in) poly.push_back(P{double(p[0]), double(p[1])});
  const double lim[4] = {double(w.l), double(w.r), double(w.t), double(w.b)};
  for (int side = 0; side < 4 && !poly.empty(); ++side) {
    const bool isX = side < 2, keepAbove = side % 2 == 0;
    auto coord = [&](const P& p) { return isX ? p.x : p.y; };
    auto inside = [&](const P& p) { return keepAbove ? coord(p) >= lim[side] : coord(p) <= lim[side]; };
    std::vector<P> out;
    out.reserve(poly.size() + 4);
    for (size_t i = 0; i < poly.size(); ++i) {
      const P& a = poly[i];
      const P& b = poly[(i + 1) % poly.size()];
      const bool ia = inside(a), ib = inside(b);
      if (ia) out.push_back(a);
      if (ia != ib) {
        const double t = (lim[side] - coord(a)) / (coord(b) - coord(a));
        P c{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
        if (isX)
          c.x = lim[side];
        else
          c.y = lim[side];
        out.push_back(c);
      }
    }
    poly.swap(out);
  }
  std::vector<TPoint> res;
  res.reserve(poly.size());
  for (const P& p : poly) res.push_back(TPoint{int(std::lround(p.x)), int(std::lround(p.y))});
  return res;
}

// The mask of a polygon (moved by dx, dy) within area: the host's polygon
// clip region with the alternate rule, as a canvas builds it, intersected
// with area. Polygons reaching far beyond the area are first clipped to a
// window around it, which bounds the region's work by the area's size.
QRegion PolygonMask(const TPoint* pts, int count, int64_t dx, int64_t dy, const Box& area) {
  if (!pts || count < 3 || area.Empty()) return QRegion();
  constexpr int64_t kMargin = 1 << 16;
  const Box window{area.l - kMargin, area.t - kMargin, area.r + kMargin, area.b + kMargin};
  std::vector<std::array<int64_t, 2>> moved(static_cast<size_t>(count));
  bool far = false;
  for (int i = 0; i < count; ++i) {
    const int64_t x = pts[i].x + dx, y = pts[i].y + dy;
    moved[size_t(i)] = {x, y};
    far = far || x < window.l || x > window.r || y < window.t || y > window.b;
  }
  std::vector<TPoint> poly;
  if (far) {
    poly = ClipPolygon(moved, window);
  } else {
    poly.reserve(moved.size());
    for (const auto& p : moved) poly.push_back(TPoint{int(p[0]), int(p[1])});
  }
  if (poly.size() < 3) return QRegion();

  // A canvas of its own, so that the callers' canvases keep their clips.
  TBitmap scratch;
  TCanvas* c = scratch.Canvas();
  c->SetClipPolygon(poly.data(), int(poly.size()), ALTERNATE);
  return c->ClipRegion().intersected(
      QRect(int(area.l), int(area.t), int(area.r - area.l), int(area.b - area.t)));
}

// The whole of area as a mask (area lies within an int-sized bitmap).
QRegion BoxMask(const Box& area) {
  if (area.Empty()) return QRegion();
  return QRegion(int(area.l), int(area.t), int(area.r - area.l), int(area.b - area.t));
}

// The source in the destination's pixel layout: Source itself when the
// formats (and palettes) agree, else a converted copy in tmp. Null when the
// host's canvas must draw it (palette formats with a different palette).
const TBitmap* InDestFormat(const TBitmap* source, const TBitmap* dest, TBitmap& tmp) {
  const TPixelFormat pf = dest->PixelFormat();
  const bool samePalette = !IsPaletteFormat(pf) || pf == pf1bit || source->Palette() == dest->Palette();
  if (source != dest && source->PixelFormat() == pf && samePalette) return source;
  tmp.Assign(source);
  if (tmp.PixelFormat() == pf) return samePalette ? &tmp : nullptr;
  tmp.SetPixelFormat(pf);
  return (pf == pf4bit || pf == pf8bit) && tmp.Palette() != dest->Palette() ? nullptr : &tmp;
}

// Copies the pixels of mask (destination coordinates) from source, where
// destination (X, Y) takes source (X - ox, Y - oy). The mask is cut to both
// bitmaps here, so any mask and offset are safe.
void CopyMasked(TBitmap* dest, const TBitmap* source, const QRegion& mask, int64_t ox, int64_t oy) {
  if (mask.isEmpty() || dest->Empty() || source->Empty()) return;
  const Box limit = BoundsOf(dest).Intersect(Box{ox, oy, ox + source->Width(), oy + source->Height()});
  if (limit.Empty()) return;
  const QRegion cut = mask.intersected(BoxMask(limit));
  if (cut.isEmpty()) return;

  TBitmap tmp;
  const TBitmap* src = InDestFormat(source, dest, tmp);
  if (!src) {
    // Palette formats with different palettes: let the canvas map the colors.
    TBitmap copy;
    copy.Assign(source);
    TCanvas* c = dest->Canvas();
    const bool hadClip = c->HasClip();
    const QRegion oldClip = c->ClipRegion();
    c->SetClipRegion(cut);
    c->Draw(int(ox), int(oy), &copy);
    if (hadClip)
      c->SetClipRegion(oldClip);
    else
      c->ResetClip();
    c->EndPaint();
    dest->Changed();
    return;
  }
  const int64_t bpp = dest->BitsPerPixel();
  for (const QRect& r : cut) {
    for (int y = r.top(); y <= r.bottom(); ++y) {
      _CopyBits(dest->Scanline(y), src->Scanline(int(y - oy)), int64_t(r.left()) * bpp,
                int64_t(r.width()) * bpp, (r.left() - ox) * bpp);
    }
  }
  dest->Changed();
}

// Bounding box of the points, edges included.
Box PolygonBox(const TPoint* pts, int count) {
  Box b{pts[0].x, pts[0].y, pts[0].x, pts[0].y};
  for (int i = 1; i < count; ++i) {
    b.l = std::min<int64_t>(b.l, pts[i].x);
    b.r = std::max<int64_t>(b.r, pts[i].x);
    b.t = std::min<int64_t>(b.t, pts[i].y);
    b.b = std::max<int64_t>(b.b, pts[i].y);
  }
  b.r += 1;
  b.b += 1;
  return b;
}

// The 8 pixels of every byte value, set bits white: the whole widening of a
// 1-bit row is one table look-up and one 24-byte copy per source byte.
using Expansion = std::array<std::array<uint8_t, 24>, 256>;
constexpr Expansion MakeExpansion() {
  Expansion t{};
  for (int v = 0; v < 256; ++v)
    for (int bit = 0; bit < 8; ++bit) {
      const uint8_t c = (v & (0x80 >> bit)) ? 255 : 0;
      t[size_t(v)][size_t(bit) * 3] = t[size_t(v)][size_t(bit) * 3 + 1] = t[size_t(v)][size_t(bit) * 3 + 2] =
          c;
    }
  return t;
}
constexpr Expansion kExpansion = MakeExpansion();

}  // namespace

// ---------------------------------------------------------------------------

void _CopyBits(uint8_t* Dest, const uint8_t* Source, int64_t DestBit, int64_t Count, int64_t SourceBit) {
  if (!Dest || !Source || Count <= 0 || DestBit < 0 || SourceBit < 0) return;
  // Head: bring the destination to a byte boundary.
  while (Count > 0 && (DestBit & 7)) {
    const int k = int(std::min<int64_t>(Count, 8 - (DestBit & 7)));
    PutBits(Dest, DestBit, k, GetBits(Source, SourceBit, k));
    DestBit += k;
    SourceBit += k;
    Count -= k;
  }
  // Whole destination bytes.
  const int64_t whole = Count >> 3;
  if (whole > 0) {
    uint8_t* d = Dest + (DestBit >> 3);
    if ((SourceBit & 7) == 0) {
      std::memmove(d, Source + (SourceBit >> 3), size_t(whole));
    } else {
      const uint8_t* s = Source + (SourceBit >> 3);
      const int sh = int(SourceBit & 7);
      // Every byte takes the tail of one source byte and the head of the
      // next; the last next byte is within range because the whole bytes end
      // sh bits into it.
      for (int64_t i = 0; i < whole; ++i) d[i] = uint8_t((s[i] << sh) | (s[i + 1] >> (8 - sh)));
    }
    DestBit += whole * 8;
    SourceBit += whole * 8;
    Count -= whole * 8;
  }
  if (Count > 0) PutBits(Dest, DestBit, int(Count), GetBits(Source, SourceBit, int(Count)));
}

void _CopyBitmap(const TBitmap* Source, TBitmap* Dest) {
  if (!Source || !Dest || Source == Dest) return;
  const TPixelFormat pf = Source->PixelFormat();
  const int w = Source->Width(), h = Source->Height();
  if (w < 1 || h < 1) {
    Dest->FreeImage();
    Dest->SetPixelFormat(pf);
    if (IsPaletteFormat(pf)) Dest->SetPalette(Source->Palette());
    Dest->SetSize(1, 1);
    return;
  }
  if (Dest->PixelFormat() != pf || Dest->Width() != w || Dest->Height() != h) Dest->Allocate(w, h, pf);
  if (IsPaletteFormat(pf) && Dest->Palette() != Source->Palette()) Dest->SetPalette(Source->Palette());
  const size_t len = PixelBytes(Source);
  if (h > 1 && Source->Scanline(1) - Source->Scanline(0) == Dest->Scanline(1) - Dest->Scanline(0) &&
      Source->Scanline(1) - Source->Scanline(0) == ptrdiff_t(Source->RowBytes())) {
    // Same top-down layout: the rows are one block.
    std::memcpy(Dest->Scanline(0), Source->Scanline(0), size_t(Source->RowBytes()) * size_t(h - 1) + len);
  } else {
    for (int y = 0; y < h; ++y) std::memcpy(Dest->Scanline(y), Source->Scanline(y), len);
  }
  Dest->Changed();
}

void _CopyBitmapRect(const TBitmap* Source, TBitmap* Dest, int x1, int y1, int x2, int y2) {
  if (!Source || !Dest) return;
  const int w = Source->Width(), h = Source->Height();
  if (x2 == 0 || x2 >= w) x2 = w - 1;
  if (y2 == 0 || y2 >= h) y2 = h - 1;
  CopyBitmapArea(Source, Dest, Rect(x1, y1, x2 >= x1 ? x2 + 1 : x1, y2 >= y1 ? y2 + 1 : y1));
}

void CopyBitmapArea(const TBitmap* Source, TBitmap* Dest, const TRect& Area) {
  if (!Source || !Dest) return;
  TBitmap copy;
  if (Source == Dest) {
    copy.Assign(Source);
    Source = &copy;
  }
  const TPixelFormat pf = Source->PixelFormat();
  const int x1 = std::max(Area.Left, 0), y1 = std::max(Area.Top, 0);
  const int x2 = std::min(Area.Right, Source->Width()), y2 = std::min(Area.Bottom, Source->Height());
  int nw = x2 > x1 ? x2 - x1 : 0, nh = y2 > y1 ? y2 - y1 : 0;
  if (nw == 0 || nh == 0) nw = nh = 0;
  Dest->Allocate(nw, nh, pf);
  if (IsPaletteFormat(pf)) Dest->SetPalette(Source->Palette());
  if (nw == 0 || nh == 0) return;
  const int64_t bpp = Source->BitsPerPixel();
  for (int y = 0; y < nh; ++y) _CopyBits(Dest->Scanline(y), Source->Scanline(y1 + y), 0, nw * bpp, x1 * bpp);
  Dest->Changed();
}

void _CopyPolygonBitmap(TBitmap* Dest, const TBitmap* Source, int x, int y, const TPoint* Polygon,
                        int Count) {
  if (!Dest || !Source || Dest->Empty() || Source->Empty()) return;
  const Box area =
      BoundsOf(Dest).Intersect(Box{x, y, int64_t(x) + Source->Width(), int64_t(y) + Source->Height()});
  const QRegion mask = (Count <= 0 || !Polygon) ? BoxMask(area) : PolygonMask(Polygon, Count, 0, 0, area);
  CopyMasked(Dest, Source, mask, x, y);
}

void _CopyBitmapPoly(const TBitmap* Source, TBitmap* Dest, int x1, int y1, int x2, int y2,
                     const TPoint* Polygon, int Count) {
  if (!Source || !Dest) return;
  TBitmap copy;
  if (Source == Dest) {
    copy.Assign(Source);
    Source = &copy;
  }
  const int64_t w = std::max<int64_t>(0, int64_t(x2) - x1), h = std::max<int64_t>(0, int64_t(y2) - y1);
  const TPixelFormat pf = Source->PixelFormat();
  // A newly sized bitmap: every pixel in the canvas brush's color.
  Dest->FreeImage();
  Dest->SetPixelFormat(pf);
  if (IsPaletteFormat(pf)) Dest->SetPalette(Source->Palette());
  if (w > INT32_MAX || h > INT32_MAX) return;
  Dest->SetSize(int(w), int(h));
  if (Dest->Empty()) return;
  const Box area = BoundsOf(Dest).Intersect(
      Box{-int64_t(x1), -int64_t(y1), int64_t(Source->Width()) - x1, int64_t(Source->Height()) - y1});
  const QRegion mask = (Count <= 0 || !Polygon)
                           ? BoxMask(area)
                           : PolygonMask(Polygon, Count, -int64_t(x1), -int64_t(y1), area);
  CopyMasked(Dest, Source, mask, -int64_t(x1), -int64_t(y1));
}

void _ClearSel(TBitmap* Bitmap, const TPoint* Polygon, int Count, TColor Color) {
  if (!Bitmap || Bitmap->Empty() || !Polygon || Count < 3) return;
  const QRegion mask = PolygonMask(Polygon, Count, 0, 0, BoundsOf(Bitmap));
  if (mask.isEmpty()) return;
  const TColor rgb = ColorToRGB(Color);
  const TRGB c{GetBValue(rgb), GetGValue(rgb), GetRValue(rgb)};
  const TPixelFormat pf = Bitmap->PixelFormat();
  if (pf == pf24bit) {
    for (const QRect& r : mask)
      for (int y = r.top(); y <= r.bottom(); ++y) {
        TRGB* p = reinterpret_cast<TRGB*>(Bitmap->Scanline(y)) + r.left();
        std::fill(p, p + r.width(), c);
      }
  } else if (pf == pf1bit) {
    // The nearer of the two palette colors, as the host picks it.
    const std::vector<TRGB>& pal = Bitmap->Palette();
    auto dist = [&](TRGB e) {
      const int db = e.b - c.b, dg = e.g - c.g, dr = e.r - c.r;
      return db * db + dg * dg + dr * dr;
    };
    const bool set =
        pal.size() >= 2 ? dist(pal[1]) < dist(pal[0]) : dist(TRGB{255, 255, 255}) < dist(TRGB{0, 0, 0});
    for (const QRect& r : mask)
      for (int y = r.top(); y <= r.bottom(); ++y) FillBits(Bitmap->Scanline(y), r.left(), r.width(), set);
  } else {
    TCanvas* cv = Bitmap->Canvas();
    const bool hadClip = cv->HasClip();
    const QRegion oldClip = cv->ClipRegion();
    const TColor oldColor = cv->Brush()->Color();
    const TBrushStyle oldStyle = cv->Brush()->Style();
    cv->SetClipRegion(mask);
    cv->Brush()->SetColor(Color);
    cv->Brush()->SetStyle(bsSolid);
    cv->FillRect(Rect(0, 0, Bitmap->Width(), Bitmap->Height()));
    cv->Brush()->SetColor(oldColor);
    cv->Brush()->SetStyle(oldStyle);
    if (hadClip)
      cv->SetClipRegion(oldClip);
    else
      cv->ResetClip();
    cv->EndPaint();
  }
  Bitmap->Changed();
}

void _CopyPolygonToPoint(const TBitmap* Source, const TPoint* Polygon, int Count, TBitmap* Dest,
                         TPoint Point) {
  if (!Source || !Dest || !Polygon || Count < 3 || Source->Empty()) return;
  TBitmap copy;
  if (Source == Dest) {
    copy.Assign(Source);
    Source = &copy;
  }
  // Only the part of the box that lies on the source has pixels to copy.
  const Box box = PolygonBox(Polygon, Count);
  const Box part = box.Intersect(BoundsOf(Source));
  if (part.Empty()) return;
  const int64_t ox = int64_t(Point.x) - box.l, oy = int64_t(Point.y) - box.t;
  const int64_t needW = std::max<int64_t>(Dest->Width(), part.r + ox);
  const int64_t needH = std::max<int64_t>(Dest->Height(), part.b + oy);
  if (needW > INT32_MAX || needH > INT32_MAX) return;
  if (Dest->Empty()) {
    Dest->SetPixelFormat(Source->PixelFormat());
    if (IsPaletteFormat(Source->PixelFormat())) Dest->SetPalette(Source->Palette());
  }
  if (needW != Dest->Width() || needH != Dest->Height()) Dest->SetSize(int(needW), int(needH));
  // The mask is built in destination coordinates: the polygon moved with the box.
  const Box area = Box{part.l + ox, part.t + oy, part.r + ox, part.b + oy}.Intersect(BoundsOf(Dest));
  CopyMasked(Dest, Source, PolygonMask(Polygon, Count, ox, oy, area), ox, oy);
}

void _CopyPointToPolygon(const TBitmap* Source, const TPoint* Polygon, int Count, TBitmap* Dest,
                         TPoint Point) {
  if (!Source || !Dest || !Polygon || Count < 3 || Source->Empty() || Dest->Empty()) return;
  const Box box = PolygonBox(Polygon, Count);
  // Destination (X, Y) takes source (Point.x + X - box.l, Point.y + Y - box.t).
  const int64_t ox = box.l - int64_t(Point.x), oy = box.t - int64_t(Point.y);
  const Box area = box.Intersect(BoundsOf(Dest));
  CopyMasked(Dest, Source, PolygonMask(Polygon, Count, 0, 0, area), ox, oy);
}

void _Conv1to24(const TBitmap* Source, TBitmap* Dest, TProgressRec& Progress) {
  if (!Source || !Dest) return;
  TBitmap copy;
  if (Source == Dest) {
    copy.Assign(Source);
    Source = &copy;
  }
  if (Source->PixelFormat() != pf1bit) {
    if (Source->PixelFormat() == pf24bit) {
      _CopyBitmap(Source, Dest);
    } else {
      TBitmap wide;
      wide.Assign(Source);
      wide.SetPixelFormat(pf24bit);
      _CopyBitmap(&wide, Dest);
    }
    return;
  }
  const int w = Source->Width(), h = Source->Height();
  // Every pixel is written below, so an unfilled allocation is enough (and a
  // destination already of this size and format is reused).
  if (Dest->PixelFormat() != pf24bit || Dest->Width() != w || Dest->Height() != h)
    Dest->Allocate(w, h, pf24bit);
  const int whole = w >> 3, rest = w & 7;
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = Source->Scanline(y);
    uint8_t* d = Dest->Scanline(y);
    for (int i = 0; i < whole; ++i, d += 24) std::memcpy(d, kExpansion[s[i]].data(), 24);
    if (rest) std::memcpy(d, kExpansion[s[whole]].data(), size_t(rest) * 3);
    ReportProgress(Progress, int(y * 100 / (h + 0.5)));
  }
  Dest->Changed();
}

}  // namespace korvane
