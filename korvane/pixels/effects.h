/// \file
/// Image effects on 24-bit bitmaps: blending another bitmap in, a lens, waves
/// and bump mapping. Other formats are left alone.
#pragma once

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

/// Blends Other, stretched over the inclusive rectangle, into it: each channel
/// becomes round(c * Percent / 100 + o * (100 - Percent) / 100), so 100 keeps
/// the image and 0 replaces it.
KORVANE_EXPORT void _Merge(TBitmap* Bitmap, TBitmap* Other, int Percent, int x1, int y1, int x2, int y2,
                           const TProgressEvent& OnProgress = {}, TObject* Sender = nullptr);

/// Refraction through an elliptic bulge centred at (x, y) of the given size;
/// a refraction below 1 counts as 1. Progress after each column.
KORVANE_EXPORT void _lens(TBitmap* Bitmap, int x, int y, int Width, int Height, double Refraction,
                          TProgressRec& Progress = nullpr);

/// Concentric waves around the centre (Phase in degrees); Reflective pulls
/// pixels along the radius instead of shifting them diagonally. Nothing when
/// Amplitude or WaveLength is 0 or the bitmap is smaller than 2 x 2.
KORVANE_EXPORT void _wave(TBitmap* Bitmap, int Amplitude, int WaveLength, int Phase, bool Reflective,
                          TProgressRec& Progress = nullpr);

/// Bump mapping of the inclusive rectangle lit by a spot at (LightX, LightY) of
/// size LightWidth x LightHeight in Color; Percent of the image is kept (100
/// leaves it unchanged). Nothing when the light's width or height is 0.
KORVANE_EXPORT void _BumpMapping(TBitmap* Bitmap, int LightX, int LightY, int LightWidth, int LightHeight,
                                 int Percent, TRGB Color, int x1, int y1, int x2, int y2,
                                 TProgressRec& Progress = nullpr);

}  // namespace korvane
