#include "korvane/view/view_geometry.h"

#include <algorithm>

namespace korvane {

namespace {
// Percent steps of mouse zooming below 100.
constexpr int kZoomSteps[] = {2, 5, 10, 25, 33, 50, 75, 100};
}  // namespace

void ViewMaxXY(int bmpW, int bmpH, int zoom, int clientW, int clientH, int outerW, int outerH, int& mx,
               int& my) {
  int zw = ZoomedSize(bmpW, zoom);
  int zh = ZoomedSize(bmpH, zoom);
  mx = my = 0;
  if (zw < 1 || zh < 1) return;
  if (outerW >= zw && outerH >= zh) return;
  mx = std::max(0, zw - clientW);
  my = std::max(0, zh - clientH);
}

int FitZoom(int outerW, int outerH, int bmpW, int bmpH) {
  if (bmpW <= 0 || bmpH <= 0) return 0;
  return std::min(KVTruncDiv(int64_t(outerW) * 100, bmpW), KVTruncDiv(int64_t(outerH) * 100, bmpH));
}

int MouseZoomIn(int zoom) {
  if (zoom >= 100) return zoom + 100;
  for (int s : kZoomSteps)
    if (s > zoom) return s;
  return zoom;
}

int MouseZoomOut(int zoom) {
  if (zoom >= 200) return zoom - 100;
  int r = 2;
  for (int s : kZoomSteps)
    if (s < zoom) r = s;
  return r;
}

TKVMouseInteract ResolveMouseInteract(TKVMouseInteract cur, TKVMouseInteract s) {
  if (s == cur) return cur;
  auto added = [&](TKVMouseInteractItems i) { return s.Contains(i) && !cur.Contains(i); };
  if (added(miScroll)) return s * TKVMouseInteract{miZoom, miScroll};
  if (added(miSelect)) return s * TKVMouseInteract{miZoom, miSelect};
  if (added(miSelectPolygon)) return s * TKVMouseInteract{miSelectPolygon};
  if (added(miSelectCircle)) return s * TKVMouseInteract{miSelectCircle};
  if (added(miSelectZoom)) return s * TKVMouseInteract{miZoom, miSelectZoom};
  if (added(miZoom)) return s - TKVMouseInteract{miSelectPolygon, miSelectCircle};
  return s;
}

bool _IsRectangle(const TPoint* pts, int n) {
  if (n != 4 || !pts) return false;
  // 1: vertical edge, 2: horizontal edge, 0: neither (or a zero-length edge).
  int kind[4];
  for (int i = 0; i < 4; ++i) {
    const TPoint& a = pts[i];
    const TPoint& b = pts[(i + 1) % 4];
    kind[i] = (a.x == b.x && a.y != b.y) ? 1 : (a.y == b.y && a.x != b.x) ? 2 : 0;
    if (!kind[i]) return false;
  }
  for (int i = 0; i < 4; ++i)
    if (kind[i] == kind[(i + 1) % 4]) return false;
  return true;
}

std::vector<TPoint> EllipseOutline(int cx, int cy, int rx, int ry) {
  std::vector<TPoint> pts;
  int n = int(std::trunc(std::min(rx, ry) * 2 * M_PI)) / 4;
  pts.reserve(size_t(std::max(n, 0)));
  for (int i = 0; i < n; ++i) {
    double t = 2 * M_PI / n * i;
    pts.push_back(Point(int(std::trunc(std::cos(t) * rx + cx)), int(std::trunc(std::sin(t) * ry + cy))));
  }
  return pts;
}

}  // namespace korvane
