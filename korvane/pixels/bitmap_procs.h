/// \file
/// Plain bitmap procedures: whole and partial bitmap copies, copies through a
/// polygon mask, widening of a 1-bit bitmap to 24 bits, and the two filtered
/// resamplers. They work on any host bitmap without a component and keep no
/// state beyond constant tables.
///
/// Polygons are arrays of points in pixel coordinates; the mask they make is
/// the host's polygon clip region with the alternate (even-odd) rule, which
/// leaves out the right and bottom edges. Pixels are copied along the rows of
/// that region, so 24-bit and 1-bit bitmaps (and every other format of equal
/// layout) are copied exactly; a source whose format differs from the
/// destination's is converted first.
#pragma once
#include <cstdint>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

// ---------------------------------------------------------------------------
// Copies

/// Dest becomes a copy of Source: 1x1 in Source's pixel format when Source is
/// empty, otherwise Source's size, format, palette and pixels.
KORVANE_EXPORT void _CopyBitmap(const TBitmap* Source, TBitmap* Dest);

/// Dest becomes the inclusive rectangle x1..x2, y1..y2 of Source in Source's
/// pixel format. x2 = 0 or x2 >= width means the last column, y2 likewise. The
/// rectangle is clipped to Source; when nothing of it is inside, Dest becomes
/// 0x0.
KORVANE_EXPORT void _CopyBitmapRect(const TBitmap* Source, TBitmap* Dest, int x1, int y1, int x2, int y2);

/// Dest becomes the part of Source inside Area (right and bottom edges
/// excluded), in Source's pixel format; unlike _CopyBitmapRect no coordinate
/// has a special meaning. An area with nothing inside Source gives 0x0.
KORVANE_EXPORT void CopyBitmapArea(const TBitmap* Source, TBitmap* Dest, const TRect& Area);

/// Copies Count bits, most significant bit first within each byte, from bit
/// SourceBit of the Source row to bit DestBit of the Dest row. Bits of Dest
/// outside the range are left unchanged and no byte outside the two ranges is
/// read or written. Negative counts or offsets copy nothing.
KORVANE_EXPORT void _CopyBits(uint8_t* Dest, const uint8_t* Source, int64_t DestBit, int64_t Count,
                              int64_t SourceBit);

// ---------------------------------------------------------------------------
// Copies through a polygon

/// Draws Source onto Dest with its top-left at (x, y) through the polygon (in
/// Dest coordinates). Dest pixels outside the polygon are untouched. No points
/// (Count <= 0) means no mask: the whole Source is drawn; one or two points
/// enclose nothing.
KORVANE_EXPORT void _CopyPolygonBitmap(TBitmap* Dest, const TBitmap* Source, int x, int y,
                                       const TPoint* Polygon, int Count);

/// Dest becomes the rectangle x1..x2-1, y1..y2-1 of Source seen through the
/// polygon (in Source coordinates): Source's pixel format, size
/// (x2 - x1) x (y2 - y1), pixels outside the polygon (or outside Source) in
/// the fill of a newly sized bitmap (its canvas brush). No points means the
/// whole rectangle.
KORVANE_EXPORT void _CopyBitmapPoly(const TBitmap* Source, TBitmap* Dest, int x1, int y1, int x2, int y2,
                                    const TPoint* Polygon, int Count);

/// Fills the inside of the polygon with Color. Fewer than 3 points change
/// nothing.
KORVANE_EXPORT void _ClearSel(TBitmap* Bitmap, const TPoint* Polygon, int Count, TColor Color);

/// Copies the polygon's bounding box of Source, through the polygon, into Dest
/// with the box's top-left at Point. Dest grows (filled with its canvas brush)
/// to hold the box; an empty Dest first takes Source's pixel format. Fewer
/// than 3 points change nothing.
KORVANE_EXPORT void _CopyPolygonToPoint(const TBitmap* Source, const TPoint* Polygon, int Count,
                                        TBitmap* Dest, TPoint Point);

/// Copies the rectangle of Source at Point, of the polygon's bounding-box
/// size, into Dest through the polygon (in Dest coordinates). Fewer than 3
/// points change nothing.
KORVANE_EXPORT void _CopyPointToPolygon(const TBitmap* Source, const TPoint* Polygon, int Count,
                                        TBitmap* Dest, TPoint Point);

// ---------------------------------------------------------------------------
// Depth

/// Dest becomes a 24-bit copy of the 1-bit Source, white for bit 1 and black
/// for bit 0, one table look-up per source byte. Progress after each row r
/// (from 0): trunc(r * 100 / (height + 0.5)). A Source of another format is
/// converted by the host (24-bit is copied as it is).
KORVANE_EXPORT void _Conv1to24(const TBitmap* Source, TBitmap* Dest, TProgressRec& Progress);

// ---------------------------------------------------------------------------
// Resampling

/// A resampling kernel and its support (half-width) in source pixels.
struct TResampleFilterDef {
  double (*Kernel)(double x);  ///< weight of a source pixel at distance x; nullptr for rfNone
  double Support;              ///< half-width in source pixels beyond which the weight is 0
};
/// Indexed by TResampleFilter; rfNone has no kernel.
extern KORVANE_EXPORT const TResampleFilterDef ResampleFilters[rfMitchell + 1];

/// Resamples Source into Dest at Dest's current size, which becomes 24-bit.
/// Separable, two passes, one contributor list per destination column and row:
/// destination pixel i of a size-n axis centred on source position
/// c = (i + 0.5) * src / n - 0.5, source pixel j weighted by k(c - j), with the
/// kernel widened by src / n when shrinking; sources beyond the edges mirror
/// about the edge (-1 reads 0); each list is normalised to sum 1. Results are
/// clamped to 0..255 after each pass and rounded to nearest at the end (the
/// intermediate keeps 7 fraction bits, so the result is within 1 of rounding
/// after each pass as well). Progress runs
/// from 0 towards trunc(n * 100 / (n + 0.5)) with n = destination width +
/// source height, reported after each destination row.
///
/// A 1-bit source is widened with _Conv1to24 first, other formats are
/// converted to 24-bit. rfNone (or a value outside the enumeration) takes the
/// nearest source pixel instead. An empty Source or Dest changes nothing;
/// Source == Dest works on a copy.
KORVANE_EXPORT void _Resample(const TBitmap* Source, TBitmap* Dest, TResampleFilter Filter,
                              TProgressEvent OnProgress, TObject* Sender);

/// The same contract, faster: a direction that shrinks is averaged by the
/// host's halftone stretch instead of the filter. Used by the view to paint
/// zoomed images.
KORVANE_EXPORT void _QuickResample(const TBitmap* Source, TBitmap* Dest, TResampleFilter Filter,
                                   TProgressEvent OnProgress, TObject* Sender);

namespace detail {
/// Which inner loops the resamplers run: the vector loops where the machine
/// has them, or the plain scalar loops (the only ones elsewhere). The tests
/// check that both give identical pixels.
enum class ResampleLoops { Fastest, Scalar };
KORVANE_EXPORT void ResampleWith(const TBitmap* Source, TBitmap* Dest, TResampleFilter Filter, bool Quick,
                                 ResampleLoops Loops, const TProgressEvent& OnProgress, TObject* Sender);
}  // namespace detail

}  // namespace korvane
