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

/// A point in pixels; y grows downwards.
struct KORVANE_EXPORT TPoint {
  int x = 0;  ///< Horizontal coordinate, from the left.
  int y = 0;  ///< Vertical coordinate, from the top.
  /// True when both coordinates match.
  constexpr bool operator==(const TPoint&) const = default;
};
/// A rectangle in pixels: Left and Top are inside it, Right and Bottom just outside.
struct KORVANE_EXPORT TRect {
  int Left = 0;    ///< First column inside.
  int Top = 0;     ///< First row inside.
  int Right = 0;   ///< First column past the right edge.
  int Bottom = 0;  ///< First row past the bottom edge.
  /// Right - Left; negative for a mirrored rectangle.
  constexpr int Width() const { return Right - Left; }
  /// Bottom - Top; negative for a mirrored rectangle.
  constexpr int Height() const { return Bottom - Top; }
  /// True when all four edges match.
  constexpr bool operator==(const TRect&) const = default;
};
/// The point (x, y).
constexpr TPoint Point(int x, int y) { return TPoint{x, y}; }
/// The rectangle with left `l`, top `t`, right `r` and bottom `b` (right and bottom exclusive).
constexpr TRect Rect(int l, int t, int r, int b) { return TRect{l, t, r, b}; }

/// How a bitmap stores a pixel: 1, 4 or 8 bits through the palette, 15-bit (5-5-5) or 16-bit
/// (5-6-5) RGB, 24-bit BGR, or 32-bit BGRX; pfDevice and pfCustom are stored as 32-bit.
enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

/// How lines are drawn: solid, dashed, dotted, dash-dot, dash-dot-dot, not at all (psClear), or solid
/// (psInsideFrame, drawn as psSolid).
enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
/// How the pen combines with the pixels below, as the classic binary raster operations: pmCopy paints
/// the pen color, pmNop leaves the pixels, pmXor inverts the bits the pen color has, and so on.
enum TPenMode {
  pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
  pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};
/// How areas are filled: solid, not at all (bsClear), or a hatch of lines in the brush color.
enum TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };
/// A font style flag: bold, italic, underlined or struck out.
enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
/// The style flags of a font; empty for regular text.
using TFontStyles = TSet<TFontStyle>;

/// Base of the pen, brush and font: an attribute set that reports its changes.
class KORVANE_EXPORT TGraphicsObject : public TObject {
 public:
  /// Called with the object after every setter and Assign, even when the value stays the same.
  TNotifyEvent OnChange;

 protected:
  /// Fires OnChange when it is assigned.
  void Changed() {
    if (OnChange) OnChange(this);
  }
};

/// What lines and outlines are drawn with: a black, solid, one-pixel pmCopy pen to start with.
class KORVANE_EXPORT TPen : public TGraphicsObject {
 public:
  /// The line color (system colors allowed); clBlack by default.
  TColor Color() const { return color_; }
  /// Sets the line color and reports the change.
  void SetColor(TColor c) { color_ = c; Changed(); }
  /// The line style; psSolid by default.
  TPenStyle Style() const { return style_; }
  /// Sets the line style and reports the change.
  void SetStyle(TPenStyle s) { style_ = s; Changed(); }
  /// The line width in pixels, at least 1; one-pixel solid lines are stepped exactly.
  int Width() const { return width_; }
  /// Sets the line width and reports the change; values below 1 become 1.
  void SetWidth(int w) { width_ = w < 1 ? 1 : w; Changed(); }
  /// The raster operation lines and fills are drawn with; pmCopy by default.
  TPenMode Mode() const { return mode_; }
  /// Sets the raster operation and reports the change.
  void SetMode(TPenMode m) { mode_ = m; Changed(); }
  /// Copies color, style, width and mode from `o` and reports one change.
  void Assign(const TPen& o) { color_ = o.color_; style_ = o.style_; width_ = o.width_; mode_ = o.mode_; Changed(); }

 private:
  TColor color_ = clBlack;
  TPenStyle style_ = psSolid;
  int width_ = 1;
  TPenMode mode_ = pmCopy;
};

/// What areas are filled with: a white solid brush to start with.
class KORVANE_EXPORT TBrush : public TGraphicsObject {
 public:
  /// The fill color (system colors allowed); clWhite by default.
  TColor Color() const { return color_; }
  /// Setting a color on a clear brush makes it solid, as classic brushes do.
  void SetColor(TColor c) { color_ = c; if (style_ == bsClear) style_ = bsSolid; Changed(); }
  /// The fill style; bsSolid by default, bsClear leaves areas unfilled.
  TBrushStyle Style() const { return style_; }
  /// Sets the fill style and reports the change.
  void SetStyle(TBrushStyle s) { style_ = s; Changed(); }
  /// Copies color and style from `o` and reports one change.
  void Assign(const TBrush& o) { color_ = o.color_; style_ = o.style_; Changed(); }

 private:
  TColor color_ = clWhite;
  TBrushStyle style_ = bsSolid;
};

/// What text is drawn with: family, height, color, style flags and baseline angle.
class KORVANE_EXPORT TFont : public TGraphicsObject {
 public:
  /// The application's default family, 13 pixels high (about 10 points at 96 dpi), in
  /// clWindowText, regular and horizontal.
  TFont();
  /// The font family name; empty means the application's default family.
  const std::string& Name() const { return name_; }
  /// Sets the family name and reports the change.
  void SetName(const std::string& n) { name_ = n; Changed(); }
  /// Negative: character height in pixels; positive: cell height in pixels.
  int Height() const { return height_; }
  /// Sets the height in pixels (sign as for Height; 0 means 13) and reports the change.
  void SetHeight(int h) { height_ = h; Changed(); }
  /// Size in points at the screen resolution (sets Height).
  int Size() const;
  /// Sets the size in points: Height becomes minus the pixel height at the screen resolution
  /// (96 dpi without a screen).
  void SetSize(int points);
  /// The text color (system colors allowed); clWindowText by default.
  TColor Color() const { return color_; }
  /// Sets the text color and reports the change.
  void SetColor(TColor c) { color_ = c; Changed(); }
  /// The style flags: bold, italic, underline, strike-out; empty by default.
  TFontStyles Style() const { return style_; }
  /// Sets the style flags and reports the change.
  void SetStyle(TFontStyles s) { style_ = s; Changed(); }
  /// Angle of the text baseline in tenths of a degree, counter-clockwise.
  int Escapement() const { return escapement_; }
  /// Sets the baseline angle in tenths of a degree and reports the change.
  void SetEscapement(int e) { escapement_ = e; Changed(); }
  /// Copies every attribute of `o` and reports one change.
  void Assign(const TFont& o);
  /// The matching QFont in pixel size, not antialiased; a positive (cell) height is shrunk until
  /// ascent plus descent fit in it. The escapement is applied by the canvas, not here.
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
  /// The natural width of the graphic in pixels; 0 or less when it has none.
  virtual int Width() const = 0;
  /// The natural height of the graphic in pixels; 0 or less when it has none.
  virtual int Height() const = 0;
  /// Draws the graphic scaled onto dest of the canvas.
  virtual void Draw(TCanvas* canvas, const TRect& dest) const = 0;
};

/// Pixel memory in a classic pixel format, rows top-down and padded to 4 bytes.
class KORVANE_EXPORT TBitmap : public TObject {
 public:
  /// An empty (0 x 0) 24-bit bitmap.
  TBitmap();
  /// A w x h bitmap in `pf` with that format's default palette (black and white, the 16 VGA
  /// colors, or 256 grays), filled white. Raises EOutOfResources for a negative or too large size.
  TBitmap(int w, int h, TPixelFormat pf = pf24bit);
  /// Frees the canvas and the pixel memory.
  ~TBitmap() override;
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  /// The width in pixels; 0 when empty.
  int Width() const { return width_; }
  /// The height in pixels; 0 when empty.
  int Height() const { return height_; }
  /// Size changes keep the old pixels at the top left and fill the new area
  /// with the canvas brush.
  void SetWidth(int w) { SetSize(w, height_); }
  /// Changes the height only, as SetSize.
  void SetHeight(int h) { SetSize(width_, h); }
  /// Changes both dimensions at once and fires OnChange (nothing happens when both stay). Raises
  /// EOutOfResources for a negative size or more than 8 GiB of pixels.
  void SetSize(int w, int h);
  /// The storage format of the pixels; pf24bit by default.
  TPixelFormat PixelFormat() const { return format_; }
  /// Converts the pixels to the new format (palette formats take the nearest
  /// palette entry; 1-bit takes black or white by gray level).
  void SetPixelFormat(TPixelFormat pf);
  /// Sets format and size at once; the pixels are zeroed (black), not filled
  /// with the brush: for readers that overwrite every row.
  void Allocate(int w, int h, TPixelFormat pf);
  /// True when the bitmap has no pixels (width or height 0).
  bool Empty() const { return width_ == 0 || height_ == 0; }
  /// Bits one pixel takes in memory: 1, 4, 8, 16 (both 15- and 16-bit), 24 or 32.
  int BitsPerPixel() const;
  /// Bytes from one row to the next.
  int RowBytes() const { return stride_; }
  /// Address of row y counted from the top.
  uint8_t* Scanline(int y);
  /// Read-only address of row y; y is not checked. Pending canvas drawing is written back first.
  const uint8_t* Scanline(int y) const;
  /// Palette of the 1-, 4- and 8-bit formats (16 or 256 entries, 2 for 1-bit).
  const std::vector<TRGB>& Palette() const { return palette_; }
  /// Replaces the palette (cut or padded with black to the format's entry count) without
  /// changing the pixel indices, and fires OnChange.
  void SetPalette(const std::vector<TRGB>& pal);

  /// The canvas that draws on the bitmap, created on first use (white brush) and owned by it.
  TCanvas* Canvas();
  /// Makes this bitmap a copy of src: size, format, palette and pixels; fires OnChange. Null or
  /// this bitmap itself does nothing.
  void Assign(const TBitmap* src);
  /// Frees the pixels: 0 x 0, format kept.
  void FreeImage();

  /// True after any change through the bitmap or its canvas since the flag was last cleared.
  bool Modified() const { return modified_; }
  /// Setting true is Changed() (the flag plus OnChange); false just clears the flag.
  void SetModified(bool m);
  /// Called with the bitmap after its size, format, palette or contents change through its own
  /// members (FreeImage excepted); drawing on the canvas only sets Modified.
  TNotifyEvent OnChange;
  /// Marks the bitmap modified and fires OnChange.
  void Changed();

  /// Pixel as TColor (any format); setting writes the nearest representable
  /// value. Out-of-range coordinates read as black and write nothing.
  TColor GetPixel(int x, int y) const;
  /// Writes pixel (x, y), resolving system colors; palette formats take the nearest entry.
  /// OnChange is not fired.
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

/// The callback of LineDDA: called with each point of the line.
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
  /// A canvas over `bitmap`, which owns it (see TBitmap::Canvas); its brush starts white.
  explicit TCanvas(TBitmap* bitmap);
  /// A canvas over an image owned elsewhere (a control's backing store). The
  /// image must outlive the canvas or be rebound with SetImage.
  explicit TCanvas(QImage* image);
  /// Maps pending drawing back into a palette bitmap and ends the painter.
  ~TCanvas() override;

  /// The pen for lines and outlines; owned by the canvas and read at each drawing call.
  TPen* Pen() { return &pen_; }
  /// The brush for fills, FrameRect and text backgrounds; owned by the canvas.
  TBrush* Brush() { return &brush_; }
  /// The font of TextOut and TextRect; owned by the canvas.
  TFont* Font() { return &font_; }

  /// Moves the pen position to (x, y) without drawing.
  void MoveTo(int x, int y) { pen_pos_ = Point(x, y); }
  /// The pen position: where the next LineTo starts; (0, 0) at first.
  TPoint PenPos() const { return pen_pos_; }
  /// Line from the pen position to (x, y), the last point left out.
  void LineTo(int x, int y);
  /// Lines through the count points in turn, each leaving out its last point as LineTo does; the
  /// pen position is left where it was.
  void Polyline(const TPoint* pts, int count);
  /// Filled with the brush, right and bottom edges excluded.
  void FillRect(const TRect& r);
  /// A one-pixel border just inside r, in the brush color (not the pen); empty rectangles draw
  /// nothing.
  void FrameRect(const TRect& r);
  /// Outlined with the pen and filled with the brush; covers x1..x2-1, y1..y2-1.
  void Rectangle(int x1, int y1, int x2, int y2);
  /// Rectangle over r's edges, as the four-coordinate form.
  void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
  /// The ellipse inside the box (x1,y1)-(x2,y2), right and bottom excluded, outlined with the pen
  /// and filled with the brush; the corners may come in any order.
  void Ellipse(int x1, int y1, int x2, int y2);
  /// Counter-clockwise arc of the ellipse bounded by (x1,y1)-(x2,y2), from the
  /// ray towards (x3,y3) to the ray towards (x4,y4).
  void Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
  /// The closed polygon through the count points, outlined with the pen and filled with the brush
  /// by the PolyFillMode rule; fewer than two points draw nothing.
  void Polygon(const TPoint* pts, int count);
  /// Sets the fill rule for later Polygon calls.
  void SetPolyFillMode(TPolyFillMode m) { fill_mode_ = m; }
  /// The fill rule of Polygon; ALTERNATE (even-odd) by default.
  TPolyFillMode PolyFillMode() const { return fill_mode_; }

  /// Copies all of src with its top left at (x, y), unscaled; a null or empty src draws nothing.
  void Draw(int x, int y, TBitmap* src);
  /// Copies all of src scaled into r without smoothing; negative extents mirror it.
  void StretchDraw(const TRect& r, TBitmap* src);
  /// Copies src's rectangle s onto this canvas's rectangle d, stretched.
  void CopyRect(const TRect& d, TCanvas* src, const TRect& s);
  /// Copies img's rectangle s into d, scaled by pixel repetition; opposite signs of the extents
  /// mirror the image. The pen mode is not applied.
  void DrawImage(const TRect& d, const QImage& img, const TRect& s);

  /// Draws text in the font with its top left at (x, y), rotated by the font's escapement, over a
  /// box in the brush color unless the brush is clear; the pen position moves past the text.
  void TextOut(int x, int y, const std::string& text);
  /// Fills r with the brush (unless clear) and draws text at (x, y) clipped to r.
  void TextRect(const TRect& r, int x, int y, const std::string& text);
  /// The advance of text in the current font, in pixels.
  int TextWidth(const std::string& text);
  /// The line height (ascent plus descent) of the current font in pixels, whatever the text.
  int TextHeight(const std::string& text);

  /// The color of pixel (x, y) as RGB; CLR_INVALID outside the surface.
  TColor Pixels(int x, int y);
  /// Writes one pixel, resolving system colors; nothing happens outside the surface or the clip.
  void SetPixels(int x, int y, TColor c);

  /// Clipping. A polygon region with the given fill rule; an excluded
  /// rectangle removes (x1,y1)-(x2,y2) with right and bottom excluded.
  void SetClipPolygon(const TPoint* pts, int count, TPolyFillMode mode = ALTERNATE);
  /// Clips later drawing to rgn, in surface pixels.
  void SetClipRegion(const QRegion& rgn);
  /// Removes (x1,y1)-(x2,y2), right and bottom excluded, from the clip (the whole surface when
  /// there was none).
  void ExcludeClipRect(int x1, int y1, int x2, int y2);
  /// Narrows the clip (the whole surface when there was none) to (x1,y1)-(x2,y2), right and
  /// bottom excluded.
  void IntersectClipRect(int x1, int y1, int x2, int y2);
  /// Drops the clip: later drawing reaches the whole surface.
  void ResetClip();
  /// True while a clip region is set.
  bool HasClip() const { return has_clip_; }
  /// The clip region in surface pixels; meaningful only while HasClip() is true.
  const QRegion& ClipRegion() const { return clip_; }

  /// Width and height of the surface.
  int SurfaceWidth() const;
  /// Height of the surface; 0 without one.
  int SurfaceHeight() const;
  /// The painter, begun on demand with the current clip. Callers that draw with
  /// it directly leave it begun.
  QPainter* Painter();
  /// Ends the painter (before the surface reallocates or is read directly).
  void EndPaint();
  /// Records drawing done through Painter() directly: the bitmap is marked
  /// modified and a palette bitmap's working copy is mapped back later.
  void Drawn() { AfterDraw(); }
  /// Rebinds the canvas to another external image (null for none), ending the painter first.
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
