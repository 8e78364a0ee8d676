/// \file
/// The host's halftone stretch: an area-averaging scale of one bitmap
/// rectangle into another, used wherever the window system would stretch with
/// its halftone mode (shrinking passes of the quick resampler, the unfiltered
/// Resample operation).
#pragma once

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"

namespace korvane {

/// Scales the rectangle SrcRect of Src into the rectangle DestRect of Dest by
/// area averaging: every destination pixel is the average of the source area
/// it covers, each source pixel weighted by the exact fraction of it inside
/// that area, rounded to nearest (halves up). Integer ratios therefore give
/// plain block means. Rectangles exclude their right and bottom edges.
///
/// Source pixels outside Src read as the nearest edge pixel (a source rectangle
/// reaching more than one bitmap size beyond Src does nothing); destination
/// pixels outside Dest are not written. Empty or inverted rectangles and an empty
/// source do nothing; Src == Dest works on a copy of the source. 24-bit to 24-bit is the fast path; other
/// source formats are read through a 24-bit copy, a 1-bit destination takes the nearer of its two palette
/// colors, and other destination formats are drawn through the destination canvas.
KORVANE_EXPORT void HalftoneStretch(TBitmap* Dest, const TRect& DestRect, const TBitmap* Src,
                                    const TRect& SrcRect);

/// Whole bitmap into whole bitmap, at the destination's current size.
KORVANE_EXPORT void HalftoneStretch(TBitmap* Dest, const TBitmap* Src);

}  // namespace korvane
