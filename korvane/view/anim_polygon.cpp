#include "korvane/view/anim_polygon.h"

#include <algorithm>
#include <cstring>

namespace korvane {

void TKVAnimPolygon::AddPoint(int x, int y) {
  if (count_ == capacity_) {
    // Grow by a block of 64 vertices when the store is full.
    int cap = count_ + 64;
    std::unique_ptr<TPoint[]> np(new TPoint[size_t(cap)]);
    if (count_) std::copy(points_.get(), points_.get() + count_, np.get());
    points_ = std::move(np);
    capacity_ = cap;
  }
  points_[size_t(count_++)] = Point(x, y);
  if (count_ == 2) {
    X1 = std::min(points_[0].x, x);
    X2 = std::max(points_[0].x, x);
    Y1 = std::min(points_[0].y, y);
    Y2 = std::max(points_[0].y, y);
  } else if (count_ > 2) {
    X1 = std::min(X1, x);
    X2 = std::max(X2, x);
    Y1 = std::min(Y1, y);
    Y2 = std::max(Y2, y);
  }
}

void TKVAnimPolygon::Clear() {
  points_.reset();
  count_ = 0;
  capacity_ = 0;
}

}  // namespace korvane
