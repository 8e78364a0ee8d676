/// \file
/// Color models (HSL on 0..1 doubles, HSV on integer 0..359 / 0..99 / 0..99
/// scales) and the point operations that change colors pixel by pixel.
///
/// The rectangle procedures work on the inclusive rectangle x1..x2, y1..y2 of
/// a 24-bit bitmap (x2 and y2 clipped to the bitmap, x1 and y1 to 0; nothing
/// when it is empty) and change nothing for other formats (_Negative also
/// takes 1-bit bitmaps). They report progress through OnProgress after each
/// row with RowPercent (kvproc.h), never above 100.
/// Each call precomputes its per-channel tables once.
#pragma once
#include <memory>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

// ---------------------------------------------------------------------------
// Color models

/// HSL with H as a fraction of a turn; all three in 0..1. Gray gives H = S = 0.
KORVANE_EXPORT void RGB2HSL(TRGB c, double& H, double& S, double& L);
/// H, S and L are clamped to 0..1 first (no hue wrap); channels are truncated,
/// not rounded, to bytes.
KORVANE_EXPORT void HSL2RGB(TRGB& c, double H, double S, double L);
/// HSV on H 0..359 degrees, S and V 0..99 (not 100), integer arithmetic.
KORVANE_EXPORT void RGB2HSV(TRGB c, int& H, int& S, int& V);
/// H, S and V are clamped to 0..359, 0..99, 0..99 first (no hue wrap).
KORVANE_EXPORT void HSV2RGB(TRGB& c, int H, int S, int V);

// ---------------------------------------------------------------------------
// Adjustments

/// Adds Hue degrees, Sat and Lum percent in HSL; sums are clamped, not wrapped.
KORVANE_EXPORT void _HSLvar(TBitmap* Bitmap, int x1, int y1, int x2, int y2, int Hue, int Sat, int Lum,
                            const TProgressEvent& OnProgress = {}, TObject* Sender = nullptr);
/// Adds Hue degrees and Sat, Val on the 0..99 scale in HSV; clamped, not wrapped.
KORVANE_EXPORT void _HSVvar(TBitmap* Bitmap, int x1, int y1, int x2, int y2, int Hue, int Sat, int Val,
                            const TProgressEvent& OnProgress = {}, TObject* Sender = nullptr);

/// The contrast factor of an amount: 1 + amount / 10 for amount >= 0,
/// 1 - sqrt(-amount) / 10 below (so -100 flattens every channel to its pivot).
KORVANE_EXPORT double ContrastFactor(int Amount);
/// Each channel c becomes blimit(m + trunc((c - m) * k)) with m the channel's
/// pivot and k = ContrastFactor(Amount).
KORVANE_EXPORT void _ContrastRGB(TBitmap* Bitmap, int x1, int y1, int x2, int y2, int Amount, int mR, int mG,
                                 int mB, const TProgressEvent& OnProgress = {}, TObject* Sender = nullptr);
/// The same with one pivot for the three channels.
KORVANE_EXPORT void _Contrast(TBitmap* Bitmap, int x1, int y1, int x2, int y2, int Amount, int m,
                              const TProgressEvent& OnProgress = {}, TObject* Sender = nullptr);
/// Per-channel means of a whole 24-bit bitmap (channel sum divided by
/// width * height, truncated): the pivots of _ContrastRGB, so a flat image
/// keeps its level. 128 each for another format or an empty bitmap.
KORVANE_EXPORT void _GetMediaContrastRGB(const TBitmap* Bitmap, int& mR, int& mG, int& mB);
/// The mean of every channel byte of a whole 24-bit bitmap (sum divided by
/// 3 * width * height); 128 for another format or an empty bitmap.
KORVANE_EXPORT int _GetMediaContrast(const TBitmap* Bitmap);

/// Adds r, g and b to the channels, clamped to 0..255.
KORVANE_EXPORT void _IntensityRGBall(TBitmap* Bitmap, int x1, int y1, int x2, int y2, int r, int g, int b,
                                     const TProgressEvent& OnProgress = {}, TObject* Sender = nullptr);

/// 24-bit: every channel c becomes 255 - c. 1-bit: every bit of the rectangle
/// is inverted (bits outside keep their values) and no progress is reported.
KORVANE_EXPORT void _Negative(TBitmap* Bitmap, int x1, int y1, int x2, int y2,
                              const TProgressEvent& OnProgress = {}, TObject* Sender = nullptr);
/// Inverts every row of a whole 1-bit bitmap, padding included.
KORVANE_EXPORT void _Negative1Bit(TBitmap* Bitmap);

/// Gray (21 r + 71 g + 7 b) div 100 into the three channels (white gives 252).
KORVANE_EXPORT void _ConvertToGray(TBitmap* Bitmap, int x1, int y1, int x2, int y2,
                                   const TProgressEvent& OnProgress = {}, TObject* Sender = nullptr);

/// A pixel whose red, green and blue each lie in BeginColor..EndColor of that
/// channel (inclusive) becomes CastColor.
KORVANE_EXPORT void _CastColorRange(TBitmap* Bitmap, int x1, int y1, int x2, int y2, TRGB BeginColor,
                                    TRGB EndColor, TRGB CastColor, const TProgressEvent& OnProgress = {},
                                    TObject* Sender = nullptr);

/// Per channel, in this order: a value <= DownLimit's becomes DownVal's; then a
/// value (possibly just replaced) > UpLimit's becomes UpVal's. Limits
/// (0, 0, 0) and (255, 255, 255) together change nothing.
KORVANE_EXPORT void _Threshold(TBitmap* Bitmap, int x1, int y1, int x2, int y2, TRGB DownLimit, TRGB UpLimit,
                               TRGB DownVal, TRGB UpVal, const TProgressEvent& OnProgress = {},
                               TObject* Sender = nullptr);

// ---------------------------------------------------------------------------
// HSV channels and palette search

/// A new 24-bit gray image of one HSV component of a whole 24-bit bitmap:
/// trunc(x * 255 / max), max 359 for H (channel 0, and any number other than
/// 1 and 2), 99 for S (1) and V (2). Progress after each row counted from 0:
/// trunc(row * 100 / height). Null for another format or an empty bitmap.
KORVANE_EXPORT std::unique_ptr<TBitmap> _GetHSVChannel(const TBitmap* Bitmap, int Channel,
                                                       const TProgressEvent& OnProgress = {},
                                                       TObject* Sender = nullptr);
/// H, S and V become 24-bit images of Bitmap's size holding the three gray
/// images of _GetHSVChannel, in one pass. Nothing for another format.
KORVANE_EXPORT void _GetHSVChannelAll(const TBitmap* Bitmap, TBitmap* H, TBitmap* S, TBitmap* V,
                                      const TProgressEvent& OnProgress = {}, TObject* Sender = nullptr);

/// Index of the palette entry nearest to Color by |dR| + |dG| + |dB|, the
/// lowest index on ties; 0 for an empty palette.
KORVANE_EXPORT int _GetSimilColor(const TRGB* Palette, int Count, TRGB Color);

namespace detail {
/// Which inner loops the point operations run: the fastest vector loops the
/// machine has (chosen at run time), only the SSE2 loops every x86-64 has, or
/// only the plain scalar loops. The tests check that all give identical pixels.
enum class ColorLoops { Fastest, Baseline, Scalar };
KORVANE_EXPORT void SetColorLoops(ColorLoops Loops);
/// _HSVvar either through a table over every color of the 0..99 HSV input
/// cube (the path large rectangles take) or pixel by pixel; both give the same
/// pixels.
KORVANE_EXPORT void HSVvarWith(TBitmap* Bitmap, int x1, int y1, int x2, int y2, int Hue, int Sat, int Val,
                               bool CubeTable, const TProgressEvent& OnProgress, TObject* Sender);
}  // namespace detail

}  // namespace korvane
