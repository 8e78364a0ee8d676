/// \file
/// Level histograms of 24-bit images and the two equalizations.
#pragma once
#include <cstdint>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

/// Counters of one level; a histogram is 256 of them, indexed by level. Gray
/// is (21 R + 71 G + 7 B) div 100, so white counts at Gray[252].
struct THistogramItem {
  uint32_t R;     ///< pixels whose red is this level
  uint32_t G;     ///< pixels whose green is this level
  uint32_t B;     ///< pixels whose blue is this level
  uint32_t Gray;  ///< pixels whose gray level is this level
};
static_assert(sizeof(THistogramItem) == 16, "four 32-bit counters");

/// Zeroes the 256 items, then counts every pixel of the inclusive rectangle
/// (clipped to the bitmap). Nothing for a non-24-bit bitmap.
KORVANE_EXPORT void _GetHistogram(const TBitmap* Bitmap, THistogramItem* Hist, int x1, int y1, int x2,
                                  int y2);

/// Equalization driven by the gray histogram of the whole bitmap, smoothed
/// locally: a pixel takes the 3x3 mean when that stays within its level's
/// range, otherwise its channels move to the range's ends. Bitmaps of fewer
/// than 256 pixels use a quota of 1 pixel per level.
KORVANE_EXPORT void _HistAutoEqualize(TBitmap* Bitmap, int x1, int y1, int x2, int y2,
                                      const TProgressEvent& OnProgress = {}, TObject* Sender = nullptr);

/// Level stretch: per channel, LoThresh goes to 0 and the levels above it are
/// spread over 0..255, then HiThresh (each channel at least 1) goes to 255.
/// Nothing when LoThresh equals that HiThresh.
KORVANE_EXPORT void _HistEqualize(TBitmap* Bitmap, TRGB LoThresh, TRGB HiThresh, int x1, int y1, int x2,
                                  int y2, const TProgressEvent& OnProgress = {}, TObject* Sender = nullptr);

}  // namespace korvane
