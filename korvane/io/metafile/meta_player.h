/// \file
/// The device context shared by the WMF and EMF players: mapping state,
/// selected objects, the object table and the save stack, and the drawing
/// calls both record sets come down to, in logical coordinates. The player
/// maps logical coordinates through the world transform (EMF), the window,
/// viewport and mapping mode into the recording's reference space, and that
/// space's picture rectangle onto the destination rectangle. Everything it hands
/// to the canvas is clamped or clipped so that no coordinate can overflow.
#pragma once
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QRegion>
#include <QString>
#include <QTransform>
#include <cstdint>
#include <string>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"

namespace korvane::metafile {

/// Mapping modes.
enum : int {
  kMM_TEXT = 1,
  kMM_LOMETRIC = 2,
  kMM_HIMETRIC = 3,
  kMM_LOENGLISH = 4,
  kMM_HIENGLISH = 5,
  kMM_TWIPS = 6,
  kMM_ISOTROPIC = 7,
  kMM_ANISOTROPIC = 8
};
/// Pen styles (low nibble of the style), brush styles and hatches.
enum : int { kPS_SOLID, kPS_DASH, kPS_DOT, kPS_DASHDOT, kPS_DASHDOTDOT, kPS_NULL, kPS_INSIDEFRAME };
enum : int { kBS_SOLID = 0, kBS_NULL = 1, kBS_HATCHED = 2, kBS_PATTERN = 3 };
/// Arc directions; how a clip path combines with the clip region.
enum : int { kAD_COUNTERCLOCKWISE = 1, kAD_CLOCKWISE = 2 };
enum : int { kRGN_AND = 1, kRGN_OR = 2, kRGN_XOR = 3, kRGN_DIFF = 4, kRGN_COPY = 5 };
/// Background modes; text alignment flags.
enum : int { kTRANSPARENT = 1, kOPAQUE = 2 };
enum : unsigned { kTA_UPDATECP = 1, kTA_RIGHT = 2, kTA_CENTER = 6, kTA_BOTTOM = 8, kTA_BASELINE = 24 };
/// ExtTextOut options.
enum : unsigned { kETO_OPAQUE = 2, kETO_CLIPPED = 4 };
/// Raster operations of the blits the player understands.
constexpr uint32_t kSRCCOPY = 0x00CC0020;
constexpr uint32_t kPATCOPY = 0x00F00021;
constexpr uint32_t kPATINVERT = 0x005A0049;
constexpr uint32_t kDSTINVERT = 0x00550009;
constexpr uint32_t kBLACKNESS = 0x00000042;
constexpr uint32_t kWHITENESS = 0x00FF0062;

/// A color as stored in records (0x00BBGGRR); the flag byte is dropped.
inline TColor RecordColor(uint32_t c) { return TColor(c & 0xFFFFFF); }

struct TLogPen {
  int style = kPS_SOLID;
  double width = 0;  ///< logical units; 0 is one device pixel
  TColor color = clBlack;
};

struct TLogBrush {
  int style = kBS_SOLID;
  TColor color = clWhite;
  int hatch = 0;
};

struct TLogFont {
  double height = 0;  ///< logical units: negative the character height, positive the cell height
  int escapement = 0;  ///< tenths of a degree
  int weight = 400;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  std::string face;  ///< UTF-8
};

struct TGdiObject {
  enum Kind { kNone, kPen, kBrush, kFont, kOther } kind = kNone;
  TLogPen pen;
  TLogBrush brush;
  TLogFont font;
};

/// An object that occupies a table slot and is never selected (palettes,
/// regions, objects too short to read).
inline TGdiObject OtherObject() {
  TGdiObject o;
  o.kind = TGdiObject::kOther;
  return o;
}

/// Everything SaveDC keeps.
struct TDCState {
  int mapMode = kMM_TEXT;
  QPointF winOrg{0, 0}, winExt{1, 1}, vpOrg{0, 0}, vpExt{1, 1};
  QTransform world;
  TColor bkColor = clWhite;
  int bkMode = kOPAQUE;
  TColor textColor = clBlack;
  unsigned textAlign = 0;
  int polyFillMode = ALTERNATE;
  int rop2 = 13;  ///< R2_COPYPEN
  TLogPen pen;
  TLogBrush brush;
  TLogFont font;
  QPointF pos;  ///< current position, logical
  bool clockwise = false;  ///< arc direction as seen on the output
  QRegion clip;
  bool hasClip = false;
};

/// Where the recording's own coordinates go: its picture rectangle in the
/// reference space (placeable bounds, WMF window, EMF frame in device pixels)
/// and the reference units per inch (for the metric mapping modes).
struct TMetaFrame {
  QRectF picture;
  double unitsPerInchX = 96;
  double unitsPerInchY = 96;
  /// WMF: the window and viewport start as the picture rectangle in the
  /// anisotropic mode, so a file that sets only its window fills the picture.
  bool wmfDefaults = false;
};

class KORVANE_EXPORT TMetaPlayer {
 public:
  TMetaPlayer(TCanvas* canvas, const TRect& dest, const TMetaFrame& frame);
  /// Gives the canvas back its pen, brush, font, fill mode and clip.
  ~TMetaPlayer();
  TMetaPlayer(const TMetaPlayer&) = delete;
  TMetaPlayer& operator=(const TMetaPlayer&) = delete;

  TDCState& DC() { return dc_; }
  /// Recomputes the logical-to-canvas transform after a mapping change.
  void MappingChanged();
  void SetMapMode(int mode);

  /// Object table: WMF objects take the lowest free slot, EMF records name it.
  void ResizeTable(size_t n) { table_.assign(n, TGdiObject{}); }
  void CreateObject(const TGdiObject& o);
  void PutObject(uint32_t index, const TGdiObject& o);
  void SelectObject(uint32_t index);
  /// Stock objects (the index without its top bit).
  void SelectStock(uint32_t n);
  void DeleteObject(uint32_t index);

  void SaveDC();
  /// Negative: relative to the top of the stack; positive: that saved level.
  void RestoreDC(int n);

  /// Clip rectangles in logical units (right and bottom excluded).
  void IntersectClip(double l, double t, double r, double b);
  void ExcludeClip(double l, double t, double r, double b);

  /// Path brackets: between BeginPath and EndPath lines, curves, polygons,
  /// rectangles and ellipses build the path instead of drawing (other drawing
  /// is left out); the path is then filled, stroked or dropped.
  void BeginPath();
  void EndPath() { inPath_ = false; }
  void CloseFigure();
  void AbortPath();
  void DrawPath(bool stroke, bool fill);
  /// Combines the closed path with the clip region (kRGN_*) and uses it up.
  void SelectClipPath(int mode);

  /// Drawing, logical coordinates.
  void MoveTo(double x, double y) {
    dc_.pos = QPointF(x, y);
    figureOpen_ = false;
  }
  void LineTo(double x, double y);
  void Polyline(const std::vector<QPointF>& pts, bool fromPos = false);
  void Polygon(const std::vector<QPointF>& pts);
  void PolyPolygon(const std::vector<std::vector<QPointF>>& polys);
  void PolyBezier(const std::vector<QPointF>& pts, bool fromPos);
  void Rectangle(double l, double t, double r, double b);
  void Ellipse(double l, double t, double r, double b);
  void RoundRect(double l, double t, double r, double b, double w, double h);
  /// The arc of the ellipse in the box from the ray towards (xs, ys) to the
  /// ray towards (xe, ye), in the DC's direction. ArcTo draws a line from the
  /// current position to the arc's start first and moves the position to its
  /// end; inside a path bracket all four add to the path.
  enum TArcKind { kArc, kChord, kPie, kArcTo };
  void ArcFamily(TArcKind kind, double l, double t, double r, double b, double xs, double ys, double xe,
                 double ye);
  void SetArcDirection(int dir);
  void SetPixel(double x, double y, TColor c);
  /// Text at (x, y) with the DC's alignment and font; opaqueRect (logical) is
  /// filled with the background color when options ask for it.
  void Text(double x, double y, const QString& text, unsigned options, const QRectF* rect);
  /// Draws a decoded DIB onto the logical rectangle (w, h may be negative),
  /// from the source rectangle counted from the top row.
  void Blit(double x, double y, double w, double h, TBitmap* src, int xs, int ys, int ws, int hs);
  /// Raster operations without a source on the logical rectangle.
  void PatBlt(double x, double y, double w, double h, uint32_t rop);

 private:
  QPointF Map(double x, double y) const { return xf_.map(QPointF(x, y)); }
  TPoint Clamped(const QPointF& p) const;
  bool AxisAligned() const;
  double ScaleX() const;
  double ScaleY() const;
  /// Pushes the DC's pen, brush, mode and fill rule into the canvas; a
  /// dashed pen is made solid when solid is set (shapes too large to dash).
  void Sync(bool solid = false);
  QPainter* BeginDirect(bool pen, bool brush, bool solid = false);
  void EndDirect();
  void StrokeSegment(QPointF a, QPointF b);
  void DrawPolygonDevice(std::vector<QPointF> pts);
  void DrawPathDevice(const QPainterPath& path, bool stroke, bool fill);
  /// Starts a path figure at the current position unless one ends there.
  void PathFrom();
  /// Adds a closed shape (canvas coordinates) to the path, or draws it.
  void AddOrDraw(const QPainterPath& path);
  QRect DeviceBox(double l, double t, double r, double b) const;
  void SetClip(const QRegion& rgn, bool has);

  TCanvas* canvas_;
  TRect dest_;
  TMetaFrame frame_;
  QTransform xf_;
  bool valid_ = true;  ///< false when the mapping is degenerate or not finite
  TDCState dc_;
  std::vector<TGdiObject> table_;
  std::vector<TDCState> stack_;
  bool inPath_ = false;
  bool figureOpen_ = false;  ///< the path's last figure ends at the current position
  QPainterPath path_;        ///< canvas coordinates
  /// The canvas state on entry.
  TPen savedPen_;
  TBrush savedBrush_;
  TFont savedFont_;
  TPolyFillMode savedFill_;
  QRegion savedClip_;
  bool savedHasClip_;
  TPoint savedPos_;
};

}  // namespace korvane::metafile

namespace korvane::metafile {

/// Decode the DIB of a blit or a pattern brush into a 1- or 24-bit bitmap;
/// false (the bitmap untouched) on bad data. bottomUp tells how the rows were
/// stored, which decides where a source y is counted from.
KORVANE_EXPORT bool DecodePackedDib(const uint8_t* p, size_t n, TBitmap& bmp, bool& bottomUp);
KORVANE_EXPORT bool DecodeDib(const uint8_t* header, size_t headerBytes, const uint8_t* bits, size_t bitBytes,
                              TBitmap& bmp, bool& bottomUp);

/// Plays the records of a WMF whose 18-byte header starts at headerPos.
KORVANE_EXPORT void PlayWmf(const uint8_t* data, size_t size, size_t headerPos, TMetaPlayer& player);
/// The window a bare WMF sets with its first SetWindowExt (and the origin set
/// before it); false when it sets none.
KORVANE_EXPORT bool FindWmfWindow(const uint8_t* data, size_t size, size_t headerPos, QRectF& window);
/// Plays the records of an EMF (the header record first).
KORVANE_EXPORT void PlayEmf(const uint8_t* data, size_t size, TMetaPlayer& player);

/// Little-endian reads inside one record; anything past its end reads as 0.
struct TRecordView {
  const uint8_t* p = nullptr;
  size_t n = 0;
  bool Has(size_t off, size_t len) const { return off <= n && len <= n - off; }
  uint8_t U8(size_t off) const { return off < n ? p[off] : 0; }
  uint16_t U16(size_t off) const { return Has(off, 2) ? uint16_t(p[off] | p[off + 1] << 8) : 0; }
  int16_t S16(size_t off) const { return int16_t(U16(off)); }
  uint32_t U32(size_t off) const {
    return Has(off, 4) ? uint32_t(p[off]) | uint32_t(p[off + 1]) << 8 | uint32_t(p[off + 2]) << 16 |
                             uint32_t(p[off + 3]) << 24
                       : 0;
  }
  int32_t S32(size_t off) const { return int32_t(U32(off)); }
};

}  // namespace korvane::metafile
