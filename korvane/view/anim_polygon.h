/// \file
/// Animated polygons: vertex lists in bitmap pixels drawn over the image as a
/// dashed outline (3 pixels of each color) whose dashes march by one pixel per
/// animation step. The view's selection is one of them.
#pragma once
#include <cstdint>
#include <memory>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"

namespace korvane {

/// One animated polygon: its vertices, bounding box, two dash colors and marching phase.
class KORVANE_EXPORT TKVAnimPolygon {
 public:
  /// An empty, visible polygon dashed in c1 and c2; animated tells whether the view's timer marches it.
  TKVAnimPolygon(TColor c1, TColor c2, bool animated) : Color1(c1), Color2(c2), Animated(animated) {}

  /// Appends a vertex and widens the bounding box (set from the first two
  /// vertices when the second arrives). Storage grows 64 vertices at a time.
  void AddPoint(int x, int y);
  /// Drops the vertices; the bounding box is left as it is.
  void Clear();
  /// Removes the last vertex (the bounding box is not narrowed).
  void RemoveLast() {
    if (count_ > 0) --count_;
  }

  /// The vertices, Count() of them; null before the first vertex and after Clear.
  const TPoint* Points() const { return points_.get(); }
  /// The vertices for changing in place (null when there are none).
  TPoint* Points() { return points_.get(); }
  /// Number of vertices.
  int Count() const { return count_; }
  /// Vertices the storage holds before it grows (a multiple of 64; 0 after Clear).
  int Capacity() const { return capacity_; }
  /// The i-th vertex; (0, 0) outside the list.
  TPoint At(int i) const { return i >= 0 && i < count_ ? points_[size_t(i)] : TPoint{}; }

  /// Advances the marching phase (0..5).
  void Step() { Phase = Phase >= 5 ? 0 : Phase + 1; }

  /// Draws the dashed outline on a canvas. toScreen converts a vertex from
  /// bitmap to client pixels. The closing edge is drawn when closed is true.
  template <typename ToScreen>
  void Draw(TCanvas* canvas, ToScreen toScreen, bool closed) {
    DashCounter = Phase;
    if (count_ < 1) return;
    auto edge = [&](TPoint a, TPoint b) {
      TPoint sa = toScreen(a), sb = toScreen(b);
      LineDDAPoints(sa.x, sa.y, sb.x, sb.y, [&](int x, int y) { Plot(canvas, x, y); });
    };
    for (int i = 1; i < count_; ++i) edge(points_[size_t(i - 1)], points_[size_t(i)]);
    if (closed && count_ > 1) edge(points_[size_t(count_ - 1)], points_[0]);
  }

  TColor Color1;  ///< color of the first 3 pixels of each 6-pixel dash period
  TColor Color2;  ///< color of the other 3 pixels
  bool Animated;  ///< whether the view's animation timer steps the phase
  int Phase = 0;  ///< dash offset, 0..5, where each drawing starts
  int DashCounter = 0;  ///< position within the dash period while drawing (0..5)
  /// \var X1
  /// Left edge of the bounding box in bitmap pixels (X1 <= X2).
  /// \var Y1
  /// Top edge of the bounding box in bitmap pixels (Y1 <= Y2).
  /// \var X2
  /// Right edge of the bounding box in bitmap pixels, inclusive.
  int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;  ///< bounding box, ordered
  bool Visible = true;  ///< drawn and animated only while true

 private:
  void Plot(TCanvas* canvas, int x, int y) {
    canvas->SetPixels(x, y, DashCounter <= 2 ? Color1 : Color2);
    if (DashCounter > 4) DashCounter = -1;
    ++DashCounter;
  }

  std::unique_ptr<TPoint[]> points_;
  int count_ = 0;
  int capacity_ = 0;
};

}  // namespace korvane
