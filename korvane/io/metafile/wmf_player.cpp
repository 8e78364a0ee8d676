// The WMF record player. Records are a 32-bit size in 16-bit words, a 16-bit
// function number and the parameters, which most functions store in the
// reverse order of the call's arguments (y before x, bottom-right before
// top-left).
#include <QString>
#include <algorithm>

#include "korvane/io/metafile/meta_player.h"

namespace korvane::metafile {

namespace {

enum : uint16_t {
  kEOF = 0x0000,
  kSaveDC = 0x001E,
  kRealizePalette = 0x0035,
  kCreatePalette = 0x00F7,
  kSetBkMode = 0x0102,
  kSetMapMode = 0x0103,
  kSetROP2 = 0x0104,
  kSetPolyFillMode = 0x0106,
  kRestoreDC = 0x0127,
  kSelectObject = 0x012D,
  kSetTextAlign = 0x012E,
  kDIBCreatePatternBrush = 0x0142,
  kDeleteObject = 0x01F0,
  kCreatePatternBrush = 0x01F9,
  kSetBkColor = 0x0201,
  kSetTextColor = 0x0209,
  kSetWindowOrg = 0x020B,
  kSetWindowExt = 0x020C,
  kSetViewportOrg = 0x020D,
  kSetViewportExt = 0x020E,
  kOffsetWindowOrg = 0x020F,
  kOffsetViewportOrg = 0x0211,
  kLineTo = 0x0213,
  kMoveTo = 0x0214,
  kCreatePenIndirect = 0x02FA,
  kCreateFontIndirect = 0x02FB,
  kCreateBrushIndirect = 0x02FC,
  kPolygon = 0x0324,
  kPolyline = 0x0325,
  kScaleWindowExt = 0x0410,
  kScaleViewportExt = 0x0412,
  kExcludeClipRect = 0x0415,
  kIntersectClipRect = 0x0416,
  kEllipse = 0x0418,
  kRectangle = 0x041B,
  kSetPixel = 0x041F,
  kTextOut = 0x0521,
  kPolyPolygon = 0x0538,
  kRoundRect = 0x061C,
  kPatBlt = 0x061D,
  kCreateRegion = 0x06FF,
  kArc = 0x0817,
  kPie = 0x081A,
  kChord = 0x0830,
  kDIBBitBlt = 0x0940,
  kExtTextOut = 0x0A32,
  kDIBStretchBlt = 0x0B41,
  kStretchDIB = 0x0F43,
};

constexpr size_t kHeaderBytes = 18;
constexpr uint16_t kDIB_PAL_COLORS = 1;

// Calls f(function, parameters) for each record after the header until EOF,
// a record size below 3 words or one past the data. Returns early when f
// returns false.
template <typename F>
void ForEachRecord(const uint8_t* data, size_t size, size_t headerPos, F&& f) {
  size_t pos = headerPos + kHeaderBytes;
  while (pos <= size && size - pos >= 6) {
    const TRecordView head{data + pos, size - pos};
    const uint64_t bytes = uint64_t(head.U32(0)) * 2;
    const uint16_t fn = head.U16(4);
    if (bytes < 6 || bytes > size - pos || fn == kEOF) return;
    if (!f(fn, TRecordView{data + pos + 6, size_t(bytes) - 6})) return;
    pos += size_t(bytes);
  }
}

// Points stored as x, y pairs of 16-bit words from byte offset off.
std::vector<QPointF> Points(const TRecordView& r, size_t off, size_t count) {
  std::vector<QPointF> pts(count);
  for (size_t i = 0; i < count; ++i) pts[i] = QPointF(r.S16(off + 4 * i), r.S16(off + 4 * i + 2));
  return pts;
}

QString Latin1(const uint8_t* p, size_t n) {
  return QString::fromLatin1(reinterpret_cast<const char*>(p), qsizetype(n));
}

TGdiObject PenObject(const TRecordView& r) {
  TGdiObject o;
  o.kind = TGdiObject::kPen;
  o.pen.style = r.U16(0);
  o.pen.width = r.S16(2);
  o.pen.color = RecordColor(r.U32(6));
  return o;
}

TGdiObject BrushObject(const TRecordView& r) {
  TGdiObject o;
  o.kind = TGdiObject::kBrush;
  o.brush.style = r.U16(0);
  o.brush.color = RecordColor(r.U32(2));
  o.brush.hatch = r.U16(6);
  return o;
}

TGdiObject FontObject(const TRecordView& r) {
  TGdiObject o;
  o.kind = TGdiObject::kFont;
  o.font.height = r.S16(0);
  o.font.escapement = r.S16(4);
  o.font.weight = r.S16(8);
  o.font.italic = r.U8(10) != 0;
  o.font.underline = r.U8(11) != 0;
  o.font.strikeOut = r.U8(12) != 0;
  size_t n = 0;
  while (n < 32 && 18 + n < r.n && r.p[18 + n]) ++n;
  if (n) o.font.face = Latin1(r.p + 18, n).toStdString();
  return o;
}

// Pattern brushes are drawn solid in the color of their first pixel.
TGdiObject PatternBrushObject(const TRecordView& r) {
  TGdiObject o;
  o.kind = TGdiObject::kBrush;
  o.brush.color = 0x808080;
  TBitmap bmp;
  bool bottomUp;
  if (r.n > 4 && DecodePackedDib(r.p + 4, r.n - 4, bmp, bottomUp))
    o.brush.color = bmp.GetPixel(0, bottomUp ? bmp.Height() - 1 : 0);
  return o;
}

// A DIB blit: the DIB at byte offset dibOff, the source rectangle as the
// record gives it (from the bottom row when fromBottom and the rows are
// stored bottom-up).
void BlitDib(TMetaPlayer& pl, const TRecordView& r, size_t dibOff, double x, double y, double w, double h,
             int xs, int ys, int ws, int hs, bool fromBottom) {
  if (r.n <= dibOff) return;
  TBitmap bmp;
  bool bottomUp;
  if (!DecodePackedDib(r.p + dibOff, r.n - dibOff, bmp, bottomUp)) return;
  if (fromBottom && bottomUp) ys = int(std::clamp<int64_t>(int64_t(bmp.Height()) - ys - hs, INT32_MIN, INT32_MAX));
  pl.Blit(x, y, w, h, &bmp, xs, ys, ws, hs);
}

bool PlayRecord(TMetaPlayer& pl, uint16_t fn, const TRecordView& r) {
  TDCState& dc = pl.DC();
  // Records shorter than their fixed parameters are skipped.
  auto need = [&](size_t bytes) { return r.n >= bytes; };
  switch (fn) {
    case kSetBkColor:
      if (need(4)) dc.bkColor = RecordColor(r.U32(0));
      break;
    case kSetBkMode:
      if (need(2)) dc.bkMode = r.U16(0);
      break;
    case kSetMapMode:
      if (need(2)) pl.SetMapMode(r.U16(0));
      break;
    case kSetROP2:
      if (need(2)) dc.rop2 = r.U16(0);
      break;
    case kSetPolyFillMode:
      if (need(2)) dc.polyFillMode = r.U16(0);
      break;
    case kSetTextColor:
      if (need(4)) dc.textColor = RecordColor(r.U32(0));
      break;
    case kSetTextAlign:
      if (need(2)) dc.textAlign = r.U16(0);
      break;
    case kSetWindowOrg:
    case kSetViewportOrg:
    case kOffsetWindowOrg:
    case kOffsetViewportOrg: {
      if (!need(4)) break;
      const QPointF v(r.S16(2), r.S16(0));
      QPointF& target = (fn == kSetWindowOrg || fn == kOffsetWindowOrg) ? dc.winOrg : dc.vpOrg;
      target = (fn == kSetWindowOrg || fn == kSetViewportOrg) ? v : target + v;
      pl.MappingChanged();
      break;
    }
    case kSetWindowExt:
    case kSetViewportExt: {
      if (!need(4) || r.S16(0) == 0 || r.S16(2) == 0) break;
      (fn == kSetWindowExt ? dc.winExt : dc.vpExt) = QPointF(r.S16(2), r.S16(0));
      pl.MappingChanged();
      break;
    }
    case kScaleWindowExt:
    case kScaleViewportExt: {
      if (!need(8) || r.S16(0) == 0 || r.S16(4) == 0 || r.S16(2) == 0 || r.S16(6) == 0) break;
      QPointF& ext = fn == kScaleWindowExt ? dc.winExt : dc.vpExt;
      ext = QPointF(ext.x() * r.S16(6) / r.S16(4), ext.y() * r.S16(2) / r.S16(0));
      pl.MappingChanged();
      break;
    }
    case kCreatePenIndirect:
      pl.CreateObject(need(10) ? PenObject(r) : OtherObject());
      break;
    case kCreateBrushIndirect:
      pl.CreateObject(need(8) ? BrushObject(r) : OtherObject());
      break;
    case kCreateFontIndirect:
      pl.CreateObject(need(18) ? FontObject(r) : OtherObject());
      break;
    case kDIBCreatePatternBrush:
    case kCreatePatternBrush: {
      TGdiObject o = PatternBrushObject(r);
      if (fn == kCreatePatternBrush) o.brush.color = 0x808080;  // an old device bitmap: not decoded
      pl.CreateObject(o);
      break;
    }
    case kCreatePalette:
    case kCreateRegion:
      pl.CreateObject(OtherObject());
      break;
    case kSelectObject:
      if (need(2)) pl.SelectObject(r.U16(0));
      break;
    case kDeleteObject:
      if (need(2)) pl.DeleteObject(r.U16(0));
      break;
    case kSaveDC:
      pl.SaveDC();
      break;
    case kRestoreDC:
      if (need(2)) pl.RestoreDC(r.S16(0));
      break;
    case kExcludeClipRect:
    case kIntersectClipRect:
      if (!need(8)) break;
      if (fn == kExcludeClipRect)
        pl.ExcludeClip(r.S16(6), r.S16(4), r.S16(2), r.S16(0));
      else
        pl.IntersectClip(r.S16(6), r.S16(4), r.S16(2), r.S16(0));
      break;
    case kMoveTo:
      if (need(4)) pl.MoveTo(r.S16(2), r.S16(0));
      break;
    case kLineTo:
      if (need(4)) pl.LineTo(r.S16(2), r.S16(0));
      break;
    case kPolyline:
    case kPolygon: {
      if (!need(2)) break;
      const size_t count = r.U16(0);
      if (count * 4 > r.n - 2) break;
      if (fn == kPolyline)
        pl.Polyline(Points(r, 2, count));
      else
        pl.Polygon(Points(r, 2, count));
      break;
    }
    case kPolyPolygon: {
      if (!need(2)) break;
      const size_t polys = r.U16(0);
      if (polys * 2 > r.n - 2) break;
      size_t total = 0;
      for (size_t i = 0; i < polys; ++i) total += r.U16(2 + 2 * i);
      size_t off = 2 + 2 * polys;
      if (total * 4 > r.n - off) break;
      std::vector<std::vector<QPointF>> all(polys);
      for (size_t i = 0; i < polys; ++i) {
        const size_t n = r.U16(2 + 2 * i);
        all[i] = Points(r, off, n);
        off += 4 * n;
      }
      pl.PolyPolygon(all);
      break;
    }
    case kRectangle:
    case kEllipse:
      if (!need(8)) break;
      if (fn == kRectangle)
        pl.Rectangle(r.S16(6), r.S16(4), r.S16(2), r.S16(0));
      else
        pl.Ellipse(r.S16(6), r.S16(4), r.S16(2), r.S16(0));
      break;
    case kRoundRect:
      if (need(12)) pl.RoundRect(r.S16(10), r.S16(8), r.S16(6), r.S16(4), r.S16(2), r.S16(0));
      break;
    case kArc:
    case kChord:
    case kPie: {
      if (!need(16)) break;
      const TMetaPlayer::TArcKind kind = fn == kArc ? TMetaPlayer::kArc : fn == kChord ? TMetaPlayer::kChord
                                                                                        : TMetaPlayer::kPie;
      pl.ArcFamily(kind, r.S16(14), r.S16(12), r.S16(10), r.S16(8), r.S16(6), r.S16(4), r.S16(2), r.S16(0));
      break;
    }
    case kSetPixel:
      if (need(8)) pl.SetPixel(r.S16(6), r.S16(4), RecordColor(r.U32(0)));
      break;
    case kTextOut: {
      if (!need(2)) break;
      const size_t count = r.U16(0);
      const size_t padded = (count + 1) & ~size_t(1);
      if (padded + 6 > r.n) break;
      pl.Text(r.S16(2 + padded + 2), r.S16(2 + padded), Latin1(r.p + 2, count), 0, nullptr);
      break;
    }
    case kExtTextOut: {
      if (!need(8)) break;
      const size_t count = r.U16(4);
      const unsigned options = r.U16(6);
      size_t off = 8;
      QRectF rect;
      const bool hasRect = (options & (kETO_OPAQUE | kETO_CLIPPED)) && r.n >= 16 + count;
      if (hasRect) {
        rect = QRectF(QPointF(r.S16(8), r.S16(10)), QPointF(r.S16(12), r.S16(14)));
        off = 16;
      }
      if (count > r.n - off) break;
      pl.Text(r.S16(2), r.S16(0), Latin1(r.p + off, count), options, hasRect ? &rect : nullptr);
      break;
    }
    case kPatBlt:
      if (need(12)) pl.PatBlt(r.S16(10), r.S16(8), r.S16(6), r.S16(4), r.U32(0));
      break;
    case kDIBBitBlt:
      if (r.n == 18) {  // no source bitmap: a pattern operation
        pl.PatBlt(r.S16(16), r.S16(14), r.S16(12), r.S16(10), r.U32(0));
      } else if (need(16)) {
        const int w = r.S16(10), h = r.S16(8);
        BlitDib(pl, r, 16, r.S16(14), r.S16(12), w, h, r.S16(6), r.S16(4), w, h, false);
      }
      break;
    case kDIBStretchBlt:
      if (r.n == 22) {
        pl.PatBlt(r.S16(20), r.S16(18), r.S16(16), r.S16(14), r.U32(0));
      } else if (need(20)) {
        BlitDib(pl, r, 20, r.S16(18), r.S16(16), r.S16(14), r.S16(12), r.S16(10), r.S16(8), r.S16(6),
                r.S16(4), false);
      }
      break;
    case kStretchDIB:
      if (need(22) && r.U16(4) != kDIB_PAL_COLORS)
        BlitDib(pl, r, 22, r.S16(20), r.S16(18), r.S16(16), r.S16(14), r.S16(12), r.S16(10), r.S16(8),
                r.S16(6), true);
      break;
    default:
      break;  // unknown or not drawn: skipped by its size
  }
  return true;
}

}  // namespace

void PlayWmf(const uint8_t* data, size_t size, size_t headerPos, TMetaPlayer& player) {
  if (headerPos > size || size - headerPos < kHeaderBytes) return;
  player.ResizeTable(TRecordView{data + headerPos, kHeaderBytes}.U16(10));
  ForEachRecord(data, size, headerPos,
                [&](uint16_t fn, const TRecordView& r) { return PlayRecord(player, fn, r); });
}

bool FindWmfWindow(const uint8_t* data, size_t size, size_t headerPos, QRectF& window) {
  QPointF org(0, 0);
  bool found = false;
  ForEachRecord(data, size, headerPos, [&](uint16_t fn, const TRecordView& r) {
    if (fn == kSetWindowOrg && r.n >= 4) org = QPointF(r.S16(2), r.S16(0));
    if (fn == kSetWindowExt && r.n >= 4 && r.S16(0) != 0 && r.S16(2) != 0) {
      window = QRectF(org, QSizeF(r.S16(2), r.S16(0)));
      found = true;
      return false;
    }
    return true;
  });
  return found;
}

}  // namespace korvane::metafile
