// The EMF record player. Records are a 32-bit type, a 32-bit size in bytes
// (the record's own eight bytes included) and the parameters; offsets inside
// a record (strings, DIBs) count from the record's start.
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "korvane/io/metafile/meta_player.h"

namespace korvane::metafile {

namespace {

enum : uint32_t {
  kHEADER = 1,
  kPOLYBEZIER = 2,
  kPOLYGON = 3,
  kPOLYLINE = 4,
  kPOLYBEZIERTO = 5,
  kPOLYLINETO = 6,
  kPOLYPOLYLINE = 7,
  kPOLYPOLYGON = 8,
  kSETWINDOWEXTEX = 9,
  kSETWINDOWORGEX = 10,
  kSETVIEWPORTEXTEX = 11,
  kSETVIEWPORTORGEX = 12,
  kEOF = 14,
  kSETPIXELV = 15,
  kSETMAPMODE = 17,
  kSETBKMODE = 18,
  kSETPOLYFILLMODE = 19,
  kSETROP2 = 20,
  kSETTEXTALIGN = 22,
  kSETTEXTCOLOR = 24,
  kSETBKCOLOR = 25,
  kMOVETOEX = 27,
  kEXCLUDECLIPRECT = 29,
  kINTERSECTCLIPRECT = 30,
  kSCALEVIEWPORTEXTEX = 31,
  kSCALEWINDOWEXTEX = 32,
  kSAVEDC = 33,
  kRESTOREDC = 34,
  kSETWORLDTRANSFORM = 35,
  kMODIFYWORLDTRANSFORM = 36,
  kSELECTOBJECT = 37,
  kCREATEPEN = 38,
  kCREATEBRUSHINDIRECT = 39,
  kDELETEOBJECT = 40,
  kELLIPSE = 42,
  kRECTANGLE = 43,
  kROUNDRECT = 44,
  kARC = 45,
  kCHORD = 46,
  kPIE = 47,
  kCREATEPALETTE = 49,
  kLINETO = 54,
  kARCTO = 55,
  kSETARCDIRECTION = 57,
  kBEGINPATH = 59,
  kENDPATH = 60,
  kCLOSEFIGURE = 61,
  kFILLPATH = 62,
  kSTROKEANDFILLPATH = 63,
  kSTROKEPATH = 64,
  kSELECTCLIPPATH = 67,
  kABORTPATH = 68,
  kBITBLT = 76,
  kSTRETCHBLT = 77,
  kSTRETCHDIBITS = 81,
  kEXTCREATEFONTINDIRECTW = 82,
  kEXTTEXTOUTA = 83,
  kEXTTEXTOUTW = 84,
  kPOLYBEZIER16 = 85,
  kPOLYGON16 = 86,
  kPOLYLINE16 = 87,
  kPOLYBEZIERTO16 = 88,
  kPOLYLINETO16 = 89,
  kPOLYPOLYLINE16 = 90,
  kPOLYPOLYGON16 = 91,
  kCREATEMONOBRUSH = 93,
  kCREATEDIBPATTERNBRUSHPT = 94,
  kEXTCREATEPEN = 95,
};

constexpr uint32_t kStockBit = 0x80000000u;
constexpr uint32_t kPS_GEOMETRIC = 0x00010000u;
constexpr uint32_t kDIB_PAL_COLORS = 1;

// Points from byte offset off: 32-bit pairs, or 16-bit pairs when small.
std::vector<QPointF> Points(const TRecordView& r, size_t off, size_t count, bool small) {
  std::vector<QPointF> pts(count);
  for (size_t i = 0; i < count; ++i)
    pts[i] = small ? QPointF(r.S16(off + 4 * i), r.S16(off + 4 * i + 2))
                   : QPointF(r.S32(off + 8 * i), r.S32(off + 8 * i + 4));
  return pts;
}

float F32(const TRecordView& r, size_t off) {
  const uint32_t u = r.U32(off);
  float f;
  static_assert(sizeof f == 4);
  std::memcpy(&f, &u, 4);
  return f;
}

// An XFORM at off; false when a value is not finite.
bool Xform(const TRecordView& r, size_t off, QTransform& t) {
  double v[6];
  for (int i = 0; i < 6; ++i) {
    v[i] = F32(r, off + 4 * size_t(i));
    if (!std::isfinite(v[i])) return false;
  }
  t = QTransform(v[0], v[1], v[2], v[3], v[4], v[5]);
  return true;
}

// The part [off, off + len) of a record, when it lies inside it.
bool Span(const TRecordView& r, uint32_t off, uint32_t len) { return len > 0 && r.Has(off, len); }

// Pattern brushes are drawn solid in the color of their first pixel.
TGdiObject PatternBrush(const TRecordView& r) {
  TGdiObject o;
  o.kind = TGdiObject::kBrush;
  o.brush.color = 0x808080;
  const uint32_t offBmi = r.U32(16), cbBmi = r.U32(20), offBits = r.U32(24), cbBits = r.U32(28);
  TBitmap bmp;
  bool bottomUp;
  if (Span(r, offBmi, cbBmi) && Span(r, offBits, cbBits) &&
      DecodeDib(r.p + offBmi, cbBmi, r.p + offBits, cbBits, bmp, bottomUp))
    o.brush.color = bmp.GetPixel(0, bottomUp ? bmp.Height() - 1 : 0);
  return o;
}

TGdiObject FontObject(const TRecordView& r) {
  TGdiObject o;
  o.kind = TGdiObject::kFont;
  o.font.height = r.S32(12);
  o.font.escapement = r.S32(20);
  o.font.weight = r.S32(28);
  o.font.italic = r.U8(32) != 0;
  o.font.underline = r.U8(33) != 0;
  o.font.strikeOut = r.U8(34) != 0;
  QString face;
  for (size_t i = 0; i < 32; ++i) {
    const uint16_t c = r.U16(40 + 2 * i);
    if (!c) break;
    face += QChar(c);
  }
  o.font.face = face.toStdString();
  return o;
}

// A blit's DIB at (offBmi, cbBmi) and (offBits, cbBits) onto the logical
// rectangle; the source y counts from the bottom row of a bottom-up DIB when
// fromBottom.
void BlitDib(TMetaPlayer& pl, const TRecordView& r, size_t at, double x, double y, double w, double h, int xs,
             int ys, int ws, int hs, bool fromBottom) {
  const uint32_t offBmi = r.U32(at), cbBmi = r.U32(at + 4), offBits = r.U32(at + 8), cbBits = r.U32(at + 12);
  if (!Span(r, offBmi, cbBmi) || !Span(r, offBits, cbBits)) return;
  TBitmap bmp;
  bool bottomUp;
  if (!DecodeDib(r.p + offBmi, cbBmi, r.p + offBits, cbBits, bmp, bottomUp)) return;
  if (fromBottom && bottomUp) ys = int(std::clamp<int64_t>(int64_t(bmp.Height()) - ys - hs, INT32_MIN, INT32_MAX));
  pl.Blit(x, y, w, h, &bmp, xs, ys, ws, hs);
}

void Text(TMetaPlayer& pl, const TRecordView& r, bool wide) {
  if (r.n < 76) return;
  const uint32_t count = r.U32(44), off = r.U32(48), options = r.U32(52);
  const size_t bytes = size_t(count) * (wide ? 2 : 1);
  if (count == 0 || !r.Has(off, bytes)) return;
  QString s;
  if (wide) {
    s.resize(qsizetype(count));
    for (uint32_t i = 0; i < count; ++i) s[i] = QChar(r.U16(off + 2 * size_t(i)));
  } else {
    s = QString::fromLatin1(reinterpret_cast<const char*>(r.p + off), qsizetype(count));
  }
  const QRectF rect(QPointF(r.S32(56), r.S32(60)), QPointF(r.S32(64), r.S32(68)));
  const bool hasRect = (options & (kETO_OPAQUE | kETO_CLIPPED)) && !rect.isEmpty();
  pl.Text(r.S32(36), r.S32(40), s, options, hasRect ? &rect : nullptr);
}

void Poly(TMetaPlayer& pl, uint32_t type, const TRecordView& r) {
  const bool small = type >= kPOLYBEZIER16;
  const size_t ptBytes = small ? 4 : 8;
  if (r.n < 28) return;
  const size_t count = r.U32(24);
  if (count > (r.n - 28) / ptBytes) return;
  const std::vector<QPointF> pts = Points(r, 28, count, small);
  switch (type) {
    case kPOLYBEZIER: case kPOLYBEZIER16: pl.PolyBezier(pts, false); break;
    case kPOLYBEZIERTO: case kPOLYBEZIERTO16: pl.PolyBezier(pts, true); break;
    case kPOLYGON: case kPOLYGON16: pl.Polygon(pts); break;
    case kPOLYLINE: case kPOLYLINE16: pl.Polyline(pts); break;
    default: pl.Polyline(pts, true); break;  // POLYLINETO
  }
}

void PolyPoly(TMetaPlayer& pl, uint32_t type, const TRecordView& r) {
  const bool small = type == kPOLYPOLYLINE16 || type == kPOLYPOLYGON16;
  const size_t ptBytes = small ? 4 : 8;
  if (r.n < 32) return;
  const size_t polys = r.U32(24), total = r.U32(28);
  if (polys > (r.n - 32) / 4) return;
  size_t off = 32 + 4 * polys;
  if (total > (r.n - off) / ptBytes) return;
  std::vector<std::vector<QPointF>> all(polys);
  size_t used = 0;
  for (size_t i = 0; i < polys; ++i) {
    const size_t n = r.U32(32 + 4 * i);
    if (n > total - used) return;
    all[i] = Points(r, off, n, small);
    off += n * ptBytes;
    used += n;
  }
  if (type == kPOLYPOLYGON || type == kPOLYPOLYGON16) {
    pl.PolyPolygon(all);
  } else {
    for (const auto& line : all) pl.Polyline(line);
  }
}

void PlayRecord(TMetaPlayer& pl, uint32_t type, const TRecordView& r) {
  TDCState& dc = pl.DC();
  auto need = [&](size_t bytes) { return r.n >= bytes; };
  switch (type) {
    case kSETWINDOWEXTEX:
    case kSETVIEWPORTEXTEX:
      if (!need(16) || r.S32(8) == 0 || r.S32(12) == 0) break;
      (type == kSETWINDOWEXTEX ? dc.winExt : dc.vpExt) = QPointF(r.S32(8), r.S32(12));
      pl.MappingChanged();
      break;
    case kSETWINDOWORGEX:
    case kSETVIEWPORTORGEX:
      if (!need(16)) break;
      (type == kSETWINDOWORGEX ? dc.winOrg : dc.vpOrg) = QPointF(r.S32(8), r.S32(12));
      pl.MappingChanged();
      break;
    case kSCALEVIEWPORTEXTEX:
    case kSCALEWINDOWEXTEX: {
      if (!need(24) || r.S32(12) == 0 || r.S32(20) == 0 || r.S32(8) == 0 || r.S32(16) == 0) break;
      QPointF& ext = type == kSCALEWINDOWEXTEX ? dc.winExt : dc.vpExt;
      ext = QPointF(ext.x() * r.S32(8) / r.S32(12), ext.y() * r.S32(16) / r.S32(20));
      pl.MappingChanged();
      break;
    }
    case kSETMAPMODE:
      if (need(12)) pl.SetMapMode(r.S32(8));
      break;
    case kSETBKMODE:
      if (need(12)) dc.bkMode = r.S32(8);
      break;
    case kSETPOLYFILLMODE:
      if (need(12)) dc.polyFillMode = r.S32(8);
      break;
    case kSETROP2:
      if (need(12)) dc.rop2 = r.S32(8);
      break;
    case kSETTEXTALIGN:
      if (need(12)) dc.textAlign = r.U32(8);
      break;
    case kSETTEXTCOLOR:
      if (need(12)) dc.textColor = RecordColor(r.U32(8));
      break;
    case kSETBKCOLOR:
      if (need(12)) dc.bkColor = RecordColor(r.U32(8));
      break;
    case kSETWORLDTRANSFORM: {
      QTransform t;
      if (need(32) && Xform(r, 8, t)) {
        dc.world = t;
        pl.MappingChanged();
      }
      break;
    }
    case kMODIFYWORLDTRANSFORM: {
      QTransform t;
      if (!need(36) || !Xform(r, 8, t)) break;
      switch (r.U32(32)) {
        case 1: dc.world = QTransform(); break;
        case 2: dc.world = t * dc.world; break;  // the new transform applies first
        case 3: dc.world = dc.world * t; break;
        case 4: dc.world = t; break;
        default: return;
      }
      pl.MappingChanged();
      break;
    }
    case kCREATEPEN: {
      if (!need(28)) break;
      TGdiObject o;
      o.kind = TGdiObject::kPen;
      o.pen.style = int(r.U32(12) & 0x0F);
      o.pen.width = r.S32(16);
      o.pen.color = RecordColor(r.U32(24));
      pl.PutObject(r.U32(8), o);
      break;
    }
    case kEXTCREATEPEN: {
      if (!need(48)) break;
      TGdiObject o;
      o.kind = TGdiObject::kPen;
      const uint32_t style = r.U32(28);
      o.pen.style = r.U32(36) == kBS_NULL ? kPS_NULL : int(style & 0x0F);
      o.pen.width = (style & kPS_GEOMETRIC) ? double(r.U32(32) & 0x7FFFFFFF) : 0.0;
      o.pen.color = RecordColor(r.U32(40));
      pl.PutObject(r.U32(8), o);
      break;
    }
    case kCREATEBRUSHINDIRECT: {
      if (!need(24)) break;
      TGdiObject o;
      o.kind = TGdiObject::kBrush;
      o.brush.style = int(r.U32(12));
      o.brush.color = RecordColor(r.U32(16));
      o.brush.hatch = int(r.U32(20));
      pl.PutObject(r.U32(8), o);
      break;
    }
    case kCREATEDIBPATTERNBRUSHPT:
    case kCREATEMONOBRUSH:
      if (need(32)) pl.PutObject(r.U32(8), PatternBrush(r));
      break;
    case kEXTCREATEFONTINDIRECTW:
      if (need(104)) pl.PutObject(r.U32(8), FontObject(r));
      break;
    case kCREATEPALETTE:
      if (need(12)) pl.PutObject(r.U32(8), OtherObject());
      break;
    case kSELECTOBJECT:
      if (!need(12)) break;
      if (r.U32(8) & kStockBit)
        pl.SelectStock(r.U32(8) & ~kStockBit);
      else
        pl.SelectObject(r.U32(8));
      break;
    case kDELETEOBJECT:
      if (need(12)) pl.DeleteObject(r.U32(8));
      break;
    case kSAVEDC:
      pl.SaveDC();
      break;
    case kRESTOREDC:
      if (need(12)) pl.RestoreDC(r.S32(8));
      break;
    case kEXCLUDECLIPRECT:
    case kINTERSECTCLIPRECT:
      if (!need(24)) break;
      if (type == kEXCLUDECLIPRECT)
        pl.ExcludeClip(r.S32(8), r.S32(12), r.S32(16), r.S32(20));
      else
        pl.IntersectClip(r.S32(8), r.S32(12), r.S32(16), r.S32(20));
      break;
    case kMOVETOEX:
      if (need(16)) pl.MoveTo(r.S32(8), r.S32(12));
      break;
    case kLINETO:
      if (need(16)) pl.LineTo(r.S32(8), r.S32(12));
      break;
    case kSETPIXELV:
      if (need(20)) pl.SetPixel(r.S32(8), r.S32(12), RecordColor(r.U32(16)));
      break;
    case kPOLYBEZIER: case kPOLYGON: case kPOLYLINE: case kPOLYBEZIERTO: case kPOLYLINETO:
    case kPOLYBEZIER16: case kPOLYGON16: case kPOLYLINE16: case kPOLYBEZIERTO16: case kPOLYLINETO16:
      Poly(pl, type, r);
      break;
    case kPOLYPOLYLINE: case kPOLYPOLYGON: case kPOLYPOLYLINE16: case kPOLYPOLYGON16:
      PolyPoly(pl, type, r);
      break;
    case kRECTANGLE:
      if (need(24)) pl.Rectangle(r.S32(8), r.S32(12), r.S32(16), r.S32(20));
      break;
    case kELLIPSE:
      if (need(24)) pl.Ellipse(r.S32(8), r.S32(12), r.S32(16), r.S32(20));
      break;
    case kROUNDRECT:
      if (need(32)) pl.RoundRect(r.S32(8), r.S32(12), r.S32(16), r.S32(20), r.S32(24), r.S32(28));
      break;
    case kARC:
    case kARCTO:
    case kCHORD:
    case kPIE: {
      if (!need(40)) break;
      const TMetaPlayer::TArcKind kind = type == kARC     ? TMetaPlayer::kArc
                                         : type == kARCTO ? TMetaPlayer::kArcTo
                                         : type == kCHORD ? TMetaPlayer::kChord
                                                          : TMetaPlayer::kPie;
      pl.ArcFamily(kind, r.S32(8), r.S32(12), r.S32(16), r.S32(20), r.S32(24), r.S32(28), r.S32(32),
                   r.S32(36));
      break;
    }
    case kBEGINPATH:
      pl.BeginPath();
      break;
    case kENDPATH:
      pl.EndPath();
      break;
    case kCLOSEFIGURE:
      pl.CloseFigure();
      break;
    case kFILLPATH:
    case kSTROKEANDFILLPATH:
    case kSTROKEPATH:
      pl.DrawPath(type != kFILLPATH, type != kSTROKEPATH);
      break;
    case kSETARCDIRECTION:
      if (need(12)) pl.SetArcDirection(r.S32(8));
      break;
    case kSELECTCLIPPATH:
      if (need(12)) pl.SelectClipPath(r.S32(8));
      break;
    case kABORTPATH:
      pl.AbortPath();
      break;
    case kEXTTEXTOUTW:
    case kEXTTEXTOUTA:
      Text(pl, r, type == kEXTTEXTOUTW);
      break;
    case kBITBLT:
    case kSTRETCHBLT: {
      if (!need(100)) break;
      const int x = r.S32(24), y = r.S32(28), w = r.S32(32), h = r.S32(36);
      if (r.U32(88) == 0) {  // no source: a pattern operation
        pl.PatBlt(x, y, w, h, r.U32(40));
        break;
      }
      if (r.U32(80) == kDIB_PAL_COLORS) break;
      int ws = w, hs = h;
      if (type == kSTRETCHBLT) {
        if (!need(108)) break;
        ws = r.S32(100);
        hs = r.S32(104);
      }
      BlitDib(pl, r, 84, x, y, w, h, r.S32(44), r.S32(48), ws, hs, false);
      break;
    }
    case kSTRETCHDIBITS:
      if (!need(80) || r.U32(64) == kDIB_PAL_COLORS) break;
      BlitDib(pl, r, 48, r.S32(24), r.S32(28), r.S32(72), r.S32(76), r.S32(32), r.S32(36), r.S32(40), r.S32(44),
              true);
      break;
    default:
      break;  // unknown or not drawn: skipped by its size
  }
}

}  // namespace

void PlayEmf(const uint8_t* data, size_t size, TMetaPlayer& player) {
  size_t pos = 0;
  while (pos <= size && size - pos >= 8) {
    const TRecordView head{data + pos, size - pos};
    const uint32_t type = head.U32(0), bytes = head.U32(4);
    if (bytes < 8 || bytes > size - pos || type == kEOF) return;
    const TRecordView r{data + pos, bytes};
    if (type == kHEADER) {
      if (pos == 0) player.ResizeTable(r.U16(56));
    } else {
      PlayRecord(player, type, r);
    }
    pos += bytes;
  }
}

}  // namespace korvane::metafile
