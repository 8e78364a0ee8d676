// Color models (HSL on 0..1 doubles, HSV on integer 0..359 / 0..99 / 0..99
// scales) and the point operations that change colors pixel by pixel.
//
// The plain procedures work on the inclusive rectangle x1..x2, y1..y2 of a
// 24-bit bitmap (x2 and y2 clipped to the bitmap, x1 and y1 to 0) and change
// nothing for other formats. Those that take OnProgress report after each row
// with RowProgress.
#pragma once
#include <memory>

#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

// Per-channel means of a whole 24-bit bitmap (channel sum divided by
// width * height, truncated): the contrast pivots. 128 each for another
// format or an empty bitmap.
void _GetMediaContrastRGB(const TBitmap* Bitmap, int& mR, int& mG, int& mB);

}  // namespace korvane
