/// \file
/// 3x3 integer convolution of 24-bit images: the filter record, the built-in
/// presets and the 43-byte filter file.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

/// Values[0] weighs the row above (left, centre, right), Values[1] the pixel's
/// own row, Values[2] the row below. The weighted sum is divided by Divisor
/// (0 counts as 1). Ten 32-bit integers, 40 bytes.
struct KORVANE_EXPORT TGraphFilter {
  int32_t Values[3][3];  ///< weights, by row then column
  int32_t Divisor;       ///< divides the weighted sum; 0 counts as 1
  /// True when all nine values and the divisor are equal.
  bool operator==(const TGraphFilter&) const = default;
};
static_assert(sizeof(TGraphFilter) == 40, "TGraphFilter is ten 32-bit integers");

/// The built-in filters of KVFiltPres, in the order the processing preview form lists them.
enum TKVFilterPresets {
  fpNone,       ///< identity: the centre weight 1, divisor 0 (counts as 1)
  fpBlur,       ///< all nine weights 1, divided by 9
  fpEdge,       ///< all 1 around a centre of -8: flat areas go black, edges stay
  fpEmboss,     ///< -1 on the left column, 1 on the right and in the centre
  fpHighPass1,  ///< sharpens with the four neighbours: -1 each around a centre of 5
  fpHighPass2,  ///< sharpens with all eight neighbours: -1 each around a centre of 9
  fpHighPass3,  ///< 1 at the corners, -2 at the sides, 5 in the centre
  LowPass1,     ///< all nine weights 1, divided by 10
  LowPass2      ///< weights 1 2 1, 2 4 2, 1 2 1, divided by 16
};

/// The presets' filters, indexed by TKVFilterPresets.
extern KORVANE_EXPORT const TGraphFilter KVFiltPres[LowPass2 + 1];

/// A filter file that is not recognised.
class KORVANE_EXPORT EFilterInvalid : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Convolves the inclusive rectangle x1..x2, y1..y2 of a 24-bit bitmap (x2, y2
/// clipped to the bitmap, x1, y1 to 0) with the filter, each channel on its
/// own: the sum is divided with truncation toward zero and clamped to 0..255.
/// Neighbours outside the bitmap repeat the nearest edge pixel; neighbours
/// outside the rectangle are the bitmap's own (unchanged) pixels, and the
/// filter never reads its own output. Progress after each row (RowPercent).
/// Nothing for other formats.
KORVANE_EXPORT void _ApplyFilter(TBitmap* Bitmap, const TGraphFilter& Filter, int x1, int y1, int x2, int y2,
                                 TProgressRec& Progress = nullpr);

/// Reads a filter file: bytes 1, 3, 3, then the nine values row by row and the
/// divisor, 32-bit little-endian. Raises EFilterInvalid ("unrecognized filter")
/// on another header or a short file, and the stream's error when the file
/// cannot be opened.
KORVANE_EXPORT TGraphFilter LoadFilterFromFile(const std::string& FileName);
/// Creates (or overwrites) a filter file.
KORVANE_EXPORT void SaveFilterToFile(const std::string& FileName, const TGraphFilter& Filter);

}  // namespace korvane
