/// \file
/// The arithmetic of the image view, kept apart from the widget so that it can
/// be checked without a window: zoom steps, origin limits, fitting, screen and
/// bitmap coordinate conversion, mouse-interaction rules, selection shapes.
#pragma once
#include <cmath>
#include <climits>
#include <cstdint>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"

namespace korvane {

/// What the mouse does on an image view. miZoom: a left click zooms in, a right click out; miScroll:
/// dragging moves the image; miSelect: dragging selects a rectangle; miSelectPolygon: clicks and drags
/// add polygon vertices, a double click closes the polygon; miSelectCircle: dragging selects an ellipse
/// (a circle with Ctrl); miSelectZoom: the view zooms into the rectangle dragged.
enum TKVMouseInteractItems { miZoom, miScroll, miSelect, miSelectPolygon, miSelectCircle, miSelectZoom };
/// A set of mouse interactions; ResolveMouseInteract keeps the selection modes exclusive.
using TKVMouseInteract = TSet<TKVMouseInteractItems>;

/// Rounds to the nearest integer, halves to the even neighbour; values beyond
/// the 32-bit range saturate (a huge zoom must not wrap around).
inline int32_t KVRound(double v) {
  double r = std::nearbyint(v);
  if (!(r > -2147483648.0)) return INT32_MIN;  ///< also NaN
  if (r > 2147483647.0) return INT32_MAX;
  return int32_t(r);
}

/// Saturates a 64-bit value to the 32-bit range.
inline int32_t KVSat(int64_t v) { return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : int32_t(v); }

/// n / d (d > 0) rounded to the nearest integer, halves to the even neighbour,
/// computed exactly and saturated to 32 bits.
inline int32_t KVRoundDiv(int64_t n, int64_t d) {
  int64_t q = n / d, r = n % d;
  if (r < 0) r += d, q -= 1;  ///< floor division: 0 <= r < d
  if (2 * r > d || (2 * r == d && (q & 1))) ++q;
  return KVSat(q);
}

/// n / d (d > 0) truncated toward zero, saturated to 32 bits.
inline int32_t KVTruncDiv(int64_t n, int64_t d) { return KVSat(n / d); }

/// A bitmap dimension shown at a zoom: nearest(size x zoom / 100). Every place
/// that needs the zoomed size of a bitmap uses this.
inline int32_t ZoomedSize(int size, int zoom) { return KVRoundDiv(int64_t(size) * zoom, 100); }

/// Zoom, origin and layout of a view: the state Update derives and the
/// conversions between client (screen) pixels and bitmap pixels.
struct TViewGeometry {
  int Zoom = 100;        ///< percent
  int ViewX = 0;         ///< origin in zoomed-image pixels
  int ViewY = 0;         ///< vertical origin in zoomed-image pixels
  int OffsetX = 0;       ///< image top-left in the client area (centring)
  int OffsetY = 0;       ///< image top in the client area (centring)
  int ExtentX = 0;       ///< part of the zoomed image on screen
  int ExtentY = 0;       ///< height of the part of the zoomed image on screen
  int ZoomedWidth = 0;   ///< bitmap width at Zoom (ZoomedSize)
  int ZoomedHeight = 0;  ///< bitmap height at Zoom (ZoomedSize)

  /// Bitmap column under client column x (rounded to the nearest pixel; may lie outside the bitmap).
  int XScr2Bmp(int x) const { return KVRoundDiv(100 * (int64_t(x) + ViewX - OffsetX), Zoom); }
  /// Bitmap row under client row y (rounded to the nearest pixel; may lie outside the bitmap).
  int YScr2Bmp(int y) const { return KVRoundDiv(100 * (int64_t(y) + ViewY - OffsetY), Zoom); }
  /// Client column where bitmap column x is drawn (rounded, saturated to 32 bits).
  int XBmp2Scr(int x) const { return KVRoundDiv(int64_t(x) * Zoom + 100 * (int64_t(OffsetX) - ViewX), 100); }
  /// Client row where bitmap row y is drawn (rounded, saturated to 32 bits).
  int YBmp2Scr(int y) const { return KVRoundDiv(int64_t(y) * Zoom + 100 * (int64_t(OffsetY) - ViewY), 100); }
};

/// Largest view origin for a bitmap at a zoom in a client area; 0 on an axis
/// the image fits, and 0 on both when the control's outer size holds the whole
/// zoomed image.
KORVANE_EXPORT void ViewMaxXY(int bmpW, int bmpH, int zoom, int clientW, int clientH, int outerW, int outerH,
                              int& mx, int& my);

/// Zoom that fits a bitmap into an outer size (the smaller of the two ratios
/// trunc(outer / (bitmap / 100)), exact), 0 when the bitmap is empty.
KORVANE_EXPORT int FitZoom(int outerW, int outerH, int bmpW, int bmpH);

/// The zoom a left click (in) or right click (out) leads to.
KORVANE_EXPORT int MouseZoomIn(int zoom);
/// The zoom a right click leads to: 100 less from 200 up, else the next lower
/// of the steps 2, 5, 10, 25, 33, 50, 75, 100 (never below 2).
KORVANE_EXPORT int MouseZoomOut(int zoom);

/// The set of mouse interactions kept when s is requested while cur is in
/// force: a newly added selection mode excludes the others.
KORVANE_EXPORT TKVMouseInteract ResolveMouseInteract(TKVMouseInteract cur, TKVMouseInteract s);

/// True for four vertices whose closed outline alternates strictly between
/// vertical and horizontal edges: an axis-aligned rectangle.
KORVANE_EXPORT bool _IsRectangle(const TPoint* pts, int n);

/// Vertices of the ellipse drawn with the mouse around (cx, cy) with radii rx
/// and ry, in the coordinates given.
KORVANE_EXPORT std::vector<TPoint> EllipseOutline(int cx, int cy, int rx, int ry);

/// Truncates toward zero, saturating beyond the 32-bit range.
inline int32_t KVTrunc(double v) {
  double r = std::trunc(v);
  if (!(r > -2147483648.0)) return INT32_MIN;
  if (r > 2147483647.0) return INT32_MAX;
  return int32_t(r);
}

/// Snaps the point for a drag from the down point when the Ctrl key asks for a
/// circle: both radii become the larger one.
inline void CircleRadii(int& rx, int& ry) { rx = ry = rx > ry ? rx : ry; }

}  // namespace korvane
