/// \file
/// Bitmaps and canvases of the host layer. TBitmap owns 4-byte-padded pixel
/// memory in every classic pixel format; TCanvas draws on it (or on a control)
/// through QPainter with the classic geometry rules.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QFont>
#include <QImage>
#include <QRegion>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/kvdefs.h"

class QPainter;
class QPaintDevice;

namespace korvane {

struct KORVANE_EXPORT TPoint {
  int x = 0;
  int y = 0;
  constexpr bool operator==(const TPoint&) const = default;
};
struct KORVANE_EXPORT TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  constexpr int Width() const { return Right - Left; }
  constexpr int Height() const { return Bottom - Top; }
  constexpr bool operator==(const TRect&) const = default;
};
constexpr TPoint Point(int x, int y) { return TPoint{x, y}; }
constexpr TRect Rect(int l, int t, int r, int b) { return TRect{l, t, r, b}; }

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TPenMode {
  pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
  pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};
enum TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };
enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TSet<TFontStyle>;

class KORVANE_EXPORT TGraphicsObject : public TObject {
 public:
  TNotifyEvent OnChange;

 protected:
  void Changed() {
    if (OnChange) OnChange(this);
  }
};

class KORVANE_EXPORT TPen : public TGraphicsObject {
 public:
  TColor Color() const { return color_; }
  void SetColor(TColor c) { color_ = c; Changed(); }
  TPenStyle Style() const { return style_; }
  void SetStyle(TPenStyle s) { style_ = s; Changed(); }
  int Width() const { return width_; }
  void SetWidth(int w) { width_ = w < 1 ? 1 : w; Changed(); }
  TPenMode Mode() const { return mode_; }
  void SetMode(TPenMode m) { mode_ = m; Changed(); }
  void Assign(const TPen& o) { color_ = o.color_; style_ = o.style_; width_ = o.width_; mode_ = o.mode_; Changed(); }

 private:
  TColor color_ = clBlack;
  TPenStyle style_ = psSolid;
  int width_ = 1;
  TPenMode mode_ = pmCopy;
};

class KORVANE_EXPORT TBrush : public TGraphicsObject {
 public:
  TColor Color() const { return color_; }
  /// Setting a color on a clear brush makes it solid, as classic brushes do.
  void SetColor(TColor c) { color_ = c; if (style_ == bsClear) style_ = bsSolid; Changed(); }
  TBrushStyle Style() const { return style_; }
  void SetStyle(TBrushStyle s) { style_ = s; Changed(); }
  void Assign(const TBrush& o) { color_ = o.color_; style_ = o.style_; Changed(); }

 private:
  TColor color_ = clWhite;
  TBrushStyle style_ = bsSolid;
};

class KORVANE_EXPORT TFont : public TGraphicsObject {
 public:
  TFont();
  const std::string& Name() const { return name_; }
  void SetName(const std::string& n) { name_ = n; Changed(); }
  /// Negative: character height in pixels; positive: cell height in pixels.
  int Height() const { return height_; }
  void SetHeight(int h) { height_ = h; Changed(); }
  /// Size in points at the screen resolution (sets Height).
  int Size() const;
  void SetSize(int points);
  TColor Color() const { return color_; }
  void SetColor(TColor c) { color_ = c; Changed(); }
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles s) { style_ = s; Changed(); }
  /// Angle of the text baseline in tenths of a degree, counter-clockwise.
  int Escapement() const { return escapement_; }
  void SetEscapement(int e) { escapement_ = e; Changed(); }
  void Assign(const TFont& o);
  QFont ToQFont() const;

 private:
  std::string name_;
  int height_ = -13;
  TColor color_ = clWindowText;
  TFontStyles style_;
  int escapement_ = 0;
};

class TCanvas;

/// A graphic other than a bitmap that a picture can hold (metafiles): it has a
/// size of its own.
class KORVANE_EXPORT TGraphic : public TObject {
 public:
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  /// Draws the graphic scaled onto dest of the canvas.
  virtual void Draw(TCanvas* canvas, const TRect& dest) const = 0;
};

/// Pixel memory in a classic pixel format, rows top-down and padded to 4 bytes.
class KORVANE_EXPORT TBitmap : public TObject {
 public:
  TBitmap();
  TBitmap(int w, int h, TPixelFormat pf = pf24bit);
  ~TBitmap() override;
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  /// Size changes keep the old pixels at the top left and fill the new area
  /// with the canvas brush.
  void SetWidth(int w) { SetSize(w, height_); }
  void SetHeight(int h) { SetSize(width_, h); }
  void SetSize(int w, int h);
  TPixelFormat PixelFormat() const { return format_; }
  /// Converts the pixels to the new format (palette formats take the nearest
  /// palette entry; 1-bit takes black or white by gray level).
  void SetPixelFormat(TPixelFormat pf);
  /// Sets format and size at once; the pixels are zeroed (black), not filled
  /// with the brush: for readers that overwrite every row.
  void Allocate(int w, int h, TPixelFormat pf);
  bool Empty() const { return width_ == 0 || height_ == 0; }
  int BitsPerPixel() const;
  /// Bytes from one row to the next.
  int RowBytes() const { return stride_; }
  /// Address of row y counted from the top.
  uint8_t* Scanline(int y);
  const uint8_t* Scanline(int y) const;
  /// Palette of the 1-, 4- and 8-bit formats (16 or 256 entries, 2 for 1-bit).
  const std::vector<TRGB>& Palette() const { return palette_; }
  void SetPalette(const std::vector<TRGB>& pal);

  TCanvas* Canvas();
  void Assign(const TBitmap* src);
  /// Frees the pixels: 0 x 0, format kept.
  void FreeImage();

  bool Modified() const { return modified_; }
  void SetModified(bool m);
  TNotifyEvent OnChange;
  /// Marks the bitmap modified and fires OnChange.
  void Changed();

  /// Pixel as TColor (any format); setting writes the nearest representable
  /// value. Out-of-range coordinates read as black and write nothing.
  TColor GetPixel(int x, int y) const;
  void SetPixel(int x, int y, TColor c);

  /// A QImage that shares this bitmap's memory (24-bit: BGR888, 32-bit and
  /// device: RGB32, 15/16-bit: RGB555/RGB16, 1-bit: Mono, 8-bit: Indexed8).
  /// Valid until the next size or format change. 4-bit has no shared form and
  /// gives a null image.
  QImage SharedImage();
  /// A copy in an RGB32 QImage (any format).
  QImage ToQImage() const;
  /// Takes the pixels of an image: 1-bit images stay 1-bit, the rest become
  /// 24-bit.
  void LoadFromQImage(const QImage& img);
  /// Loads a bitmap from a Qt resource or file name (cursor and button
  /// bitmaps). False when it cannot be read.
  bool LoadFromResourceName(const std::string& name);

  /// Writes any pending canvas drawing into the pixel memory (the canvas of the
  /// 4- and 8-bit formats draws on an RGB32 shadow image); called by Scanline.
  void FlushCanvas() const;

 private:
  friend class TCanvas;
  void Reallocate(int w, int h, TPixelFormat pf, bool keep, bool fill);
  void FillArea(int x0, int y0, int x1, int y1, TColor c);
  static std::vector<TRGB> DefaultPalette(TPixelFormat pf);

  int width_ = 0;
  int height_ = 0;
  TPixelFormat format_ = pf24bit;
  int stride_ = 0;
  uint8_t* data_ = nullptr;
  std::vector<TRGB> palette_;
  std::unique_ptr<TCanvas> canvas_;
  bool modified_ = false;
};

/// What Pixels answers outside the surface.
constexpr TColor CLR_INVALID = 0xFFFFFFFF;

using TLineDDAProc = std::function<void(int x, int y)>;

/// Steps from (x1, y1) towards (x2, y2) one pixel at a time along the major
/// axis, calling f(x, y) for every point but the last (Bresenham stepping).
template <typename F>
void LineDDAPoints(int x1, int y1, int x2, int y2, F&& f) {
  int dx = x2 > x1 ? x2 - x1 : x1 - x2;
  int dy = y2 > y1 ? y2 - y1 : y1 - y2;
  int sx = x2 >= x1 ? 1 : -1, sy = y2 >= y1 ? 1 : -1;
  int x = x1, y = y1;
  if (dx >= dy) {
    int err = dx / 2;
    for (int i = 0; i < dx; ++i) {
      f(x, y);
      x += sx;
      err -= dy;
      if (err < 0) { y += sy; err += dx; }
    }
  } else {
    int err = dy / 2;
    for (int i = 0; i < dy; ++i) {
      f(x, y);
      y += sy;
      err -= dx;
      if (err < 0) { x += sx; err += dy; }
    }
  }
}
/// The window system's line-stepping routine with a callback.
KORVANE_EXPORT void LineDDA(int x1, int y1, int x2, int y2, const TLineDDAProc& proc);

/// Polygon fill rule for regions and polygons.
enum TPolyFillMode { ALTERNATE = 1, WINDING = 2 };

/// Drawing surface over a bitmap or a control's backing image.
class KORVANE_EXPORT TCanvas : public TObject {
 public:
  explicit TCanvas(TBitmap* bitmap);
  /// A canvas over an image owned elsewhere (a control's backing store). The
  /// image must outlive the canvas or be rebound with SetImage.
  explicit TCanvas(QImage* image);
  ~TCanvas() override;

  TPen* Pen() { return &pen_; }
  TBrush* Brush() { return &brush_; }
  TFont* Font() { return &font_; }

  void MoveTo(int x, int y) { pen_pos_ = Point(x, y); }
  TPoint PenPos() const { return pen_pos_; }
  /// Line from the pen position to (x, y), the last point left out.
  void LineTo(int x, int y);
  void Polyline(const TPoint* pts, int count);
  /// Filled with the brush, right and bottom edges excluded.
  void FillRect(const TRect& r);
  void FrameRect(const TRect& r);
  /// Outlined with the pen and filled with the brush; covers x1..x2-1, y1..y2-1.
  void Rectangle(int x1, int y1, int x2, int y2);
  void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
  void Ellipse(int x1, int y1, int x2, int y2);
  /// Counter-clockwise arc of the ellipse bounded by (x1,y1)-(x2,y2), from the
  /// ray towards (x3,y3) to the ray towards (x4,y4).
  void Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
  void Polygon(const TPoint* pts, int count);
  void SetPolyFillMode(TPolyFillMode m) { fill_mode_ = m; }
  TPolyFillMode PolyFillMode() const { return fill_mode_; }

  void Draw(int x, int y, TBitmap* src);
  void StretchDraw(const TRect& r, TBitmap* src);
  /// Copies src's rectangle s onto this canvas's rectangle d, stretched.
  void CopyRect(const TRect& d, TCanvas* src, const TRect& s);
  void DrawImage(const TRect& d, const QImage& img, const TRect& s);

  void TextOut(int x, int y, const std::string& text);
  void TextRect(const TRect& r, int x, int y, const std::string& text);
  int TextWidth(const std::string& text);
  int TextHeight(const std::string& text);

  TColor Pixels(int x, int y);
  void SetPixels(int x, int y, TColor c);

  /// Clipping. A polygon region with the given fill rule; an excluded
  /// rectangle removes (x1,y1)-(x2,y2) with right and bottom excluded.
  void SetClipPolygon(const TPoint* pts, int count, TPolyFillMode mode = ALTERNATE);
  void SetClipRegion(const QRegion& rgn);
  void ExcludeClipRect(int x1, int y1, int x2, int y2);
  void IntersectClipRect(int x1, int y1, int x2, int y2);
  void ResetClip();
  bool HasClip() const { return has_clip_; }
  const QRegion& ClipRegion() const { return clip_; }

  /// Width and height of the surface.
  int SurfaceWidth() const;
  int SurfaceHeight() const;
  /// The painter, begun on demand with the current clip. Callers that draw with
  /// it directly leave it begun.
  QPainter* Painter();
  /// Ends the painter (before the surface reallocates or is read directly).
  void EndPaint();
  /// Records drawing done through Painter() directly: the bitmap is marked
  /// modified and a palette bitmap's working copy is mapped back later.
  void Drawn() { AfterDraw(); }
  void SetImage(QImage* image);

  /// Called whenever something is about to be drawn; a control's canvas uses it
  /// to show drawing done outside the control's paint cycle.
  std::function<void()> OnDraw;

 private:
  friend class TBitmap;
  QImage* Surface();
  void ApplyPen(QPainter& p, bool cosmetic_only);
  void ApplyBrush(QPainter& p);
  void ApplyMode(QPainter& p);
  void DrawPixelsRun(const std::vector<QPoint>& pts);
  void AfterDraw();
  bool ShadowNeeded() const;
  void BeginShadow();
  void FlushShadow();

  TBitmap* bitmap_ = nullptr;
  QImage* external_ = nullptr;
  QImage wrap_;    ///< QImage over the bitmap memory (or its shadow)
  bool wrap_valid_ = false;
  bool shadow_ = false;  ///< wrap_ is an RGB32 copy of a 4-bit bitmap
  bool shadow_dirty_ = false;
  std::unique_ptr<QPainter> painter_;
  TPen pen_;
  TBrush brush_;
  TFont font_;
  TPoint pen_pos_;
  TPolyFillMode fill_mode_ = ALTERNATE;
  QRegion clip_;
  bool has_clip_ = false;
};

}  // namespace korvane
