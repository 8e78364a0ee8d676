/// \file
/// Color depth conversion: reduction of a 24-bit image to N palette colors,
/// black and white by ordered dithering or by a threshold, counting colors,
/// recognising a two-color image as 1-bit, and the Qt color table of a
/// palette. Widening 1-bit to 24-bit is _Conv1to24 in bitmap_procs.h.
///
/// Gray level everywhere here: (21 r + 71 g + 7 b) div 100 (_RGBToGray).
#pragma once
#include <QList>
#include <QRgb>
#include <memory>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

/// Reduces a 24-bit bitmap to at most NCol colors; it stays 24-bit, each pixel
/// replaced by its palette color. The palette (NCol entries) is built by
/// TKVQuantizer into Palette, or into a block of its own when Palette is null.
/// Progress after each row r (from 1): trunc(100 / (height + 0.5) * r). Other
/// formats, empty bitmaps and NCol < 1 change nothing.
KORVANE_EXPORT void _ConvertTo(TBitmap* Bitmap, int NCol, TRGB* Palette, const TProgressEvent& OnProgress,
                               TObject* Sender);

/// The 8x8 ordered-dither matrix, indexed [x mod 8][y mod 8], values 0..63.
extern KORVANE_EXPORT const uint8_t kOrderedDither8[8][8];

/// Turns a 24-bit bitmap into a 1-bit one of the same size by ordered
/// dithering: a pixel is white when gray div 4 > kOrderedDither8[x & 7][y & 7].
/// Progress after each row r (from 1): trunc(r * 100 / (height + 0.5)).
/// Other formats change nothing.
KORVANE_EXPORT void _ConvertToBWOrdered(TBitmap* Bitmap, TProgressRec& Progress);

/// Turns a 24-bit bitmap into a 1-bit one: black where gray < Threshold, white
/// elsewhere. Threshold -1 takes the gray level of the per-channel means
/// (_GetMediaContrastRGB). Progress as _ConvertToBWOrdered.
KORVANE_EXPORT void _ConvertToBWThreshold(TBitmap* Bitmap, int Threshold, TProgressRec& Progress);

/// Number of distinct colors in the inclusive rectangle of a 24-bit bitmap
/// (x2, y2 clipped to the bitmap); 0 for other formats or an empty rectangle.
/// Linear in the pixels whatever the number of colors.
KORVANE_EXPORT int _GetImageNumColors(const TBitmap* Bitmap, int x1, int y1, int x2, int y2);

/// A new 1-bit bitmap when the image has exactly two colors (Color0 the darker), else null.
/// Pixels of Color0 get a clear bit, pixels of Color1 a set bit. The darker
/// color is the one of lower rounded real gray level; at equal levels the color
/// met first (in row order) is Color0. Color0 and Color1 are written only when
/// a bitmap is returned.
KORVANE_EXPORT std::unique_ptr<TBitmap> _ConvertTo1bit(const TBitmap* Bitmap, TRGB& Color0, TRGB& Color1);

/// The Qt color table (one opaque entry per palette color) for an indexed
/// image or a palette-aware painter. Count <= 0 gives an empty table.
KORVANE_EXPORT QList<QRgb> _CreateWinPalette(const TRGB* Palette, int Count);

}  // namespace korvane
