#include "korvane/io/metafile/meta_player.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "korvane/foundations/host/raster_ops.h"
#include "korvane/foundations/host/color.h"
#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/winsys.h"

namespace korvane::metafile {

namespace {

// Coordinates handed to Qt stay within +-2^22: far outside any surface, far
// inside Qt's fixed-point limits.
constexpr double kCoordLimit = double(1 << 22);
// Lines and polygons are clipped to the surface grown by this margin (more
// than the widest pen), so what is visible is drawn exactly.
constexpr double kClipMargin = 4096;
constexpr int kMaxPenWidth = 1024;
constexpr int kMaxFontPixels = 1024;
constexpr int kMaxTextChars = 8192;
constexpr size_t kMaxSaveDepth = 4096;
// Dashing costs time in proportion to the outline's length, visible or not:
// curves wider or taller than this are outlined solid.
constexpr double kMaxDashedExtent = 1 << 16;

bool TooLongToDash(const QRectF& r) { return r.width() > kMaxDashedExtent || r.height() > kMaxDashedExtent; }

double ClampCoord(double v) {
  if (!std::isfinite(v)) return v > 0 ? kCoordLimit : -kCoordLimit;
  return std::clamp(v, -kCoordLimit, kCoordLimit);
}

int RoundCoord(double v) { return int(std::lround(ClampCoord(v))); }

// R2_* binary raster operations (1..16) as pen modes.
TPenMode RopMode(int rop2) {
  static const TPenMode kModes[16] = {pmBlack,      pmNotMerge, pmMaskNotPen, pmNotCopy, pmMaskPenNot, pmNot,
                                      pmXor,        pmNotMask,  pmMask,       pmNotXor,  pmNop,        pmMergeNotPen,
                                      pmCopy,       pmMergePenNot, pmMerge,   pmWhite};
  return rop2 >= 1 && rop2 <= 16 ? kModes[rop2 - 1] : pmCopy;
}


TPenStyle PenStyle(int style) {
  switch (style & 0x0F) {
    case kPS_DASH: return psDash;
    case kPS_DOT: return psDot;
    case kPS_DASHDOT: return psDashDot;
    case kPS_DASHDOTDOT: return psDashDotDot;
    case kPS_NULL: return psClear;
    case kPS_INSIDEFRAME: return psInsideFrame;
    default: return psSolid;
  }
}

TBrushStyle BrushStyle(const TLogBrush& b) {
  if (b.style == kBS_NULL) return bsClear;
  if (b.style != kBS_HATCHED) return bsSolid;
  static const TBrushStyle kHatch[6] = {bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross};
  return b.hatch >= 0 && b.hatch < 6 ? kHatch[b.hatch] : bsSolid;
}

// Liang-Barsky: clips the segment a-b to the box; false when nothing is left.
bool ClipSegment(const QRectF& box, QPointF& a, QPointF& b) {
  double t0 = 0, t1 = 1;
  const double dx = b.x() - a.x(), dy = b.y() - a.y();
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x() - box.left(), box.right() - a.x(), a.y() - box.top(), box.bottom() - a.y()};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const double r = q[i] / p[i];
    if (p[i] < 0) {
      if (r > t1) return false;
      t0 = std::max(t0, r);
    } else {
      if (r < t0) return false;
      t1 = std::min(t1, r);
    }
  }
  const QPointF a0 = a;
  a = QPointF(a0.x() + t0 * dx, a0.y() + t0 * dy);
  b = QPointF(a0.x() + t1 * dx, a0.y() + t1 * dy);
  return true;
}

// Sutherland-Hodgman against one edge of the box at a time.
std::vector<QPointF> ClipPolygon(const std::vector<QPointF>& in, const QRectF& box) {
  std::vector<QPointF> cur = in, next;
  for (int edge = 0; edge < 4 && !cur.empty(); ++edge) {
    auto inside = [&](const QPointF& p) {
      switch (edge) {
        case 0: return p.x() >= box.left();
        case 1: return p.x() <= box.right();
        case 2: return p.y() >= box.top();
        default: return p.y() <= box.bottom();
      }
    };
    auto cross = [&](const QPointF& a, const QPointF& b) {
      double t;
      switch (edge) {
        case 0: t = (box.left() - a.x()) / (b.x() - a.x()); break;
        case 1: t = (box.right() - a.x()) / (b.x() - a.x()); break;
        case 2: t = (box.top() - a.y()) / (b.y() - a.y()); break;
        default: t = (box.bottom() - a.y()) / (b.y() - a.y()); break;
      }
      return QPointF(a.x() + t * (b.x() - a.x()), a.y() + t * (b.y() - a.y()));
    };
    next.clear();
    for (size_t i = 0; i < cur.size(); ++i) {
      const QPointF& a = cur[i];
      const QPointF& b = cur[(i + 1) % cur.size()];
      const bool ia = inside(a), ib = inside(b);
      if (ia) next.push_back(a);
      if (ia != ib) next.push_back(cross(a, b));
    }
    cur.swap(next);
  }
  return cur;
}

// Start angle and span (degrees, counter-clockwise on screen) of the arc of
// box from the ray towards s to the ray towards e, as TCanvas::Arc takes them:
// parametric angles, t = atan2(rx dy, ry dx) for a ray (dx, dy).
void ArcAngles(const QRect& box, const TPoint& s, const TPoint& e, double& start, double& span) {
  const double cx = (box.left() + box.left() + box.width()) / 2.0;
  const double cy = (box.top() + box.top() + box.height()) / 2.0;
  const double rx = box.width() / 2.0, ry = box.height() / 2.0;
  start = std::atan2(-(s.y - cy) * rx, (s.x - cx) * ry) * 180.0 / M_PI;
  const double end = std::atan2(-(e.y - cy) * rx, (e.x - cx) * ry) * 180.0 / M_PI;
  span = end - start;
  while (span <= 0) span += 360.0;
}

}  // namespace

TMetaPlayer::TMetaPlayer(TCanvas* canvas, const TRect& dest, const TMetaFrame& frame)
    : canvas_(canvas), dest_(dest), frame_(frame) {
  savedPen_.Assign(*canvas->Pen());
  savedBrush_.Assign(*canvas->Brush());
  savedFont_.Assign(*canvas->Font());
  savedFill_ = canvas->PolyFillMode();
  savedClip_ = canvas->ClipRegion();
  savedHasClip_ = canvas->HasClip();
  savedPos_ = canvas->PenPos();
  dc_.clip = savedClip_;
  dc_.hasClip = savedHasClip_;
  if (frame.wmfDefaults) {
    dc_.mapMode = kMM_ANISOTROPIC;
    dc_.winOrg = dc_.vpOrg = frame.picture.topLeft();
    dc_.winExt = dc_.vpExt = QPointF(frame.picture.width(), frame.picture.height());
  }
  MappingChanged();
}

TMetaPlayer::~TMetaPlayer() {
  canvas_->Pen()->Assign(savedPen_);
  canvas_->Brush()->Assign(savedBrush_);
  canvas_->Font()->Assign(savedFont_);
  canvas_->SetPolyFillMode(savedFill_);
  if (savedHasClip_)
    canvas_->SetClipRegion(savedClip_);
  else
    canvas_->ResetClip();
  canvas_->MoveTo(savedPos_.x, savedPos_.y);
}

void TMetaPlayer::SetMapMode(int mode) {
  if (mode < kMM_TEXT || mode > kMM_ANISOTROPIC) return;
  dc_.mapMode = mode;
  MappingChanged();
}

void TMetaPlayer::MappingChanged() {
  double sx = 1, sy = 1;
  auto metric = [&](double perInch) {
    sx = frame_.unitsPerInchX / perInch;
    sy = -frame_.unitsPerInchY / perInch;
  };
  switch (dc_.mapMode) {
    case kMM_LOMETRIC: metric(254); break;
    case kMM_HIMETRIC: metric(2540); break;
    case kMM_LOENGLISH: metric(100); break;
    case kMM_HIENGLISH: metric(1000); break;
    case kMM_TWIPS: metric(1440); break;
    case kMM_ISOTROPIC:
    case kMM_ANISOTROPIC:
      sx = dc_.winExt.x() != 0 ? dc_.vpExt.x() / dc_.winExt.x() : 0;
      sy = dc_.winExt.y() != 0 ? dc_.vpExt.y() / dc_.winExt.y() : 0;
      if (dc_.mapMode == kMM_ISOTROPIC) {
        const double m = std::min(std::abs(sx), std::abs(sy));
        sx = std::copysign(m, sx);
        sy = std::copysign(m, sy);
      }
      break;
    default: break;
  }
  const QTransform page(sx, 0, 0, sy, dc_.vpOrg.x() - dc_.winOrg.x() * sx, dc_.vpOrg.y() - dc_.winOrg.y() * sy);
  const QRectF& pic = frame_.picture;
  const double kx = pic.width() != 0 ? dest_.Width() / pic.width() : 0;
  const double ky = pic.height() != 0 ? dest_.Height() / pic.height() : 0;
  const QTransform out(kx, 0, 0, ky, dest_.Left - pic.left() * kx, dest_.Top - pic.top() * ky);
  xf_ = dc_.world * page * out;
  const double m[6] = {xf_.m11(), xf_.m12(), xf_.m21(), xf_.m22(), xf_.dx(), xf_.dy()};
  valid_ = std::all_of(m, m + 6, [](double v) { return std::isfinite(v); }) && xf_.isInvertible();
}

TPoint TMetaPlayer::Clamped(const QPointF& p) const { return Point(RoundCoord(p.x()), RoundCoord(p.y())); }

bool TMetaPlayer::AxisAligned() const { return xf_.m12() == 0 && xf_.m21() == 0; }

double TMetaPlayer::ScaleX() const { return std::hypot(xf_.m11(), xf_.m12()); }

double TMetaPlayer::ScaleY() const { return std::hypot(xf_.m21(), xf_.m22()); }

// ---------------------------------------------------------------------------
// Objects and the save stack

void TMetaPlayer::CreateObject(const TGdiObject& o) {
  for (auto& slot : table_)
    if (slot.kind == TGdiObject::kNone) {
      slot = o;
      return;
    }
  // A full table loses the object, as the recording device would have.
}

void TMetaPlayer::PutObject(uint32_t index, const TGdiObject& o) {
  if (index < table_.size()) table_[index] = o;
}

void TMetaPlayer::SelectObject(uint32_t index) {
  if (index >= table_.size()) return;
  const TGdiObject& o = table_[index];
  switch (o.kind) {
    case TGdiObject::kPen: dc_.pen = o.pen; break;
    case TGdiObject::kBrush: dc_.brush = o.brush; break;
    case TGdiObject::kFont: dc_.font = o.font; break;
    default: break;
  }
}

void TMetaPlayer::SelectStock(uint32_t n) {
  switch (n) {
    case 0: dc_.brush = TLogBrush{kBS_SOLID, clWhite, 0}; break;
    case 1: dc_.brush = TLogBrush{kBS_SOLID, 0xC0C0C0, 0}; break;
    case 2: dc_.brush = TLogBrush{kBS_SOLID, 0x808080, 0}; break;
    case 3: dc_.brush = TLogBrush{kBS_SOLID, 0x404040, 0}; break;
    case 4: dc_.brush = TLogBrush{kBS_SOLID, clBlack, 0}; break;
    case 5: dc_.brush = TLogBrush{kBS_NULL, clBlack, 0}; break;
    case 6: dc_.pen = TLogPen{kPS_SOLID, 0, clWhite}; break;
    case 7: dc_.pen = TLogPen{kPS_SOLID, 0, clBlack}; break;
    case 8: dc_.pen = TLogPen{kPS_NULL, 0, clBlack}; break;
    case 10: case 11: case 12: case 13: case 14: case 16: case 17: dc_.font = TLogFont{}; break;
    case 18: dc_.brush = TLogBrush{kBS_SOLID, clWhite, 0}; break;
    case 19: dc_.pen = TLogPen{kPS_SOLID, 0, clBlack}; break;
    default: break;
  }
}

void TMetaPlayer::DeleteObject(uint32_t index) {
  // The selected copy in the DC stays usable, as a deleted selected object does.
  if (index < table_.size()) table_[index] = TGdiObject{};
}

void TMetaPlayer::SaveDC() {
  if (stack_.size() < kMaxSaveDepth) stack_.push_back(dc_);
}

void TMetaPlayer::RestoreDC(int n) {
  const int64_t index = n > 0 ? int64_t(n) - 1 : int64_t(stack_.size()) + n;
  if (n == 0 || index < 0 || index >= int64_t(stack_.size())) return;
  dc_ = stack_[size_t(index)];
  stack_.resize(size_t(index));
  SetClip(dc_.clip, dc_.hasClip);
  MappingChanged();
}

void TMetaPlayer::SetClip(const QRegion& rgn, bool has) {
  dc_.clip = rgn;
  dc_.hasClip = has;
  if (has)
    canvas_->SetClipRegion(rgn);
  else
    canvas_->ResetClip();
}

QRect TMetaPlayer::DeviceBox(double l, double t, double r, double b) const {
  const QPointF a = Map(l, t), c = Map(r, b);
  int x1 = RoundCoord(a.x()), y1 = RoundCoord(a.y()), x2 = RoundCoord(c.x()), y2 = RoundCoord(c.y());
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  return QRect(QPoint(x1, y1), QPoint(x2, y2));  // right/bottom: the excluded edge
}

void TMetaPlayer::IntersectClip(double l, double t, double r, double b) {
  if (!valid_) return;
  const QRect box = DeviceBox(l, t, r, b);
  canvas_->IntersectClipRect(box.left(), box.top(), box.right(), box.bottom());
  dc_.clip = canvas_->ClipRegion();
  dc_.hasClip = true;
}

void TMetaPlayer::ExcludeClip(double l, double t, double r, double b) {
  if (!valid_) return;
  const QRect box = DeviceBox(l, t, r, b);
  canvas_->ExcludeClipRect(box.left(), box.top(), box.right(), box.bottom());
  dc_.clip = canvas_->ClipRegion();
  dc_.hasClip = true;
}

// ---------------------------------------------------------------------------
// Drawing

void TMetaPlayer::Sync(bool solid) {
  TPen* pen = canvas_->Pen();
  pen->SetColor(dc_.pen.color);
  const TPenStyle style = PenStyle(dc_.pen.style);
  pen->SetStyle(solid && style != psClear ? psSolid : style);
  const double w = std::abs(dc_.pen.width) * (ScaleX() + ScaleY()) / 2;
  pen->SetWidth(std::isfinite(w) ? int(std::clamp(std::lround(std::min(w, 1e9)), 1L, long(kMaxPenWidth))) : 1);
  pen->SetMode(RopMode(dc_.rop2));
  TBrush* brush = canvas_->Brush();
  brush->SetColor(dc_.brush.color);
  brush->SetStyle(BrushStyle(dc_.brush));
  canvas_->SetPolyFillMode(dc_.polyFillMode == WINDING ? WINDING : ALTERNATE);
}

QPainter* TMetaPlayer::BeginDirect(bool pen, bool brush, bool solid) {
  Sync(solid);
  QPainter* p = canvas_->Painter();
  if (!p) return nullptr;
  const TPen& tp = *canvas_->Pen();
  p->setCompositionMode(PenModeComposition(tp.Mode()));
  if (pen && tp.Style() != psClear && tp.Mode() != pmNop) {
    QPen qp(ColorToQColor(tp.Color()));
    qp.setStyle(ToQPenStyle(tp.Style()));
    qp.setWidth(tp.Width() <= 1 ? 0 : tp.Width());
    qp.setCapStyle(Qt::FlatCap);
    qp.setJoinStyle(Qt::MiterJoin);
    p->setPen(qp);
  } else {
    p->setPen(Qt::NoPen);
  }
  const TBrush& tb = *canvas_->Brush();
  if (brush && tb.Style() != bsClear)
    p->setBrush(QBrush(ColorToQColor(tb.Color()), ToQBrushStyle(tb.Style())));
  else
    p->setBrush(Qt::NoBrush);
  return p;
}

void TMetaPlayer::EndDirect() { canvas_->Drawn(); }

void TMetaPlayer::StrokeSegment(QPointF a, QPointF b) {
  const QRectF box(-kClipMargin, -kClipMargin, canvas_->SurfaceWidth() + 2 * kClipMargin,
                   canvas_->SurfaceHeight() + 2 * kClipMargin);
  if (!ClipSegment(box, a, b)) return;
  canvas_->MoveTo(RoundCoord(a.x()), RoundCoord(a.y()));
  canvas_->LineTo(RoundCoord(b.x()), RoundCoord(b.y()));
}

void TMetaPlayer::LineTo(double x, double y) {
  if (inPath_) {
    PathFrom();
    path_.lineTo(Map(x, y));
    dc_.pos = QPointF(x, y);
    return;
  }
  const QPointF from = dc_.pos;
  dc_.pos = QPointF(x, y);
  if (!valid_) return;
  Sync();
  StrokeSegment(Map(from.x(), from.y()), Map(x, y));
}

void TMetaPlayer::Polyline(const std::vector<QPointF>& in, bool fromPos) {
  if (inPath_) {
    if (in.empty()) return;
    if (fromPos) {
      PathFrom();
      path_.lineTo(Map(in[0].x(), in[0].y()));
      dc_.pos = in.back();
    } else {
      path_.moveTo(Map(in[0].x(), in[0].y()));
    }
    for (size_t i = 1; i < in.size(); ++i) path_.lineTo(Map(in[i].x(), in[i].y()));
    figureOpen_ = fromPos;
    return;
  }
  std::vector<QPointF> pts;
  pts.reserve(in.size() + 1);
  if (fromPos) pts.push_back(dc_.pos);
  pts.insert(pts.end(), in.begin(), in.end());
  if (fromPos && !in.empty()) dc_.pos = in.back();
  if (!valid_ || pts.size() < 2) return;
  Sync();
  for (size_t i = 1; i < pts.size(); ++i)
    StrokeSegment(Map(pts[i - 1].x(), pts[i - 1].y()), Map(pts[i].x(), pts[i].y()));
}

void TMetaPlayer::DrawPolygonDevice(std::vector<QPointF> pts) {
  const QRectF box(-kClipMargin, -kClipMargin, canvas_->SurfaceWidth() + 2 * kClipMargin,
                   canvas_->SurfaceHeight() + 2 * kClipMargin);
  if (std::any_of(pts.begin(), pts.end(), [&](const QPointF& p) { return !box.contains(p); }))
    pts = ClipPolygon(pts, box);
  if (pts.size() < 2) return;
  std::vector<TPoint> ip(pts.size());
  for (size_t i = 0; i < pts.size(); ++i) ip[i] = Clamped(pts[i]);
  canvas_->Polygon(ip.data(), int(ip.size()));
}

void TMetaPlayer::Polygon(const std::vector<QPointF>& in) {
  if (inPath_) {
    PolyPolygon({in});
    return;
  }
  if (!valid_ || in.size() < 2) return;
  Sync();
  std::vector<QPointF> pts(in.size());
  for (size_t i = 0; i < in.size(); ++i) pts[i] = Map(in[i].x(), in[i].y());
  DrawPolygonDevice(std::move(pts));
}

void TMetaPlayer::PolyPolygon(const std::vector<std::vector<QPointF>>& polys) {
  if (inPath_) {
    for (const auto& poly : polys) {
      if (poly.empty()) continue;
      path_.moveTo(Map(poly[0].x(), poly[0].y()));
      for (size_t i = 1; i < poly.size(); ++i) path_.lineTo(Map(poly[i].x(), poly[i].y()));
      path_.closeSubpath();
    }
    figureOpen_ = false;
    return;
  }
  if (!valid_) return;
  const QRectF box(-kClipMargin, -kClipMargin, canvas_->SurfaceWidth() + 2 * kClipMargin,
                   canvas_->SurfaceHeight() + 2 * kClipMargin);
  // One path for the fill, so holes follow the fill rule; then the outlines.
  QPainterPath path;
  path.setFillRule(dc_.polyFillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
  std::vector<QPolygon> outlines;
  for (const auto& poly : polys) {
    std::vector<QPointF> pts(poly.size());
    for (size_t i = 0; i < poly.size(); ++i) pts[i] = Map(poly[i].x(), poly[i].y());
    if (std::any_of(pts.begin(), pts.end(), [&](const QPointF& p) { return !box.contains(p); }))
      pts = ClipPolygon(pts, box);
    if (pts.size() < 2) continue;
    QPolygon q;
    for (const QPointF& p : pts) q << QPoint(RoundCoord(p.x()), RoundCoord(p.y()));
    path.addPolygon(QPolygonF(q));
    path.closeSubpath();
    outlines.push_back(q);
  }
  if (outlines.empty()) return;
  if (QPainter* p = BeginDirect(false, true)) {
    if (p->brush().style() != Qt::NoBrush) p->drawPath(path);
    p = BeginDirect(true, false);
    if (p->pen().style() != Qt::NoPen)
      for (const QPolygon& q : outlines) p->drawPolygon(q);
    EndDirect();
  }
}

void TMetaPlayer::PolyBezier(const std::vector<QPointF>& in, bool fromPos) {
  std::vector<QPointF> pts;
  if (fromPos) pts.push_back(dc_.pos);
  pts.insert(pts.end(), in.begin(), in.end());
  const size_t n = pts.size() < 4 ? 0 : 1 + (pts.size() - 1) / 3 * 3;
  if (!valid_ || n < 4) {
    if (fromPos && n > 1) dc_.pos = pts[n - 1];
    return;
  }
  if (inPath_) {
    // The figure continues from the position before this record: the
    // position moves to the last end point only once the curves are added.
    if (fromPos)
      PathFrom();
    else
      path_.moveTo(Map(pts[0].x(), pts[0].y()));
    for (size_t i = 1; i + 2 < n; i += 3)
      path_.cubicTo(Map(pts[i].x(), pts[i].y()), Map(pts[i + 1].x(), pts[i + 1].y()),
                    Map(pts[i + 2].x(), pts[i + 2].y()));
    if (fromPos) dc_.pos = pts[n - 1];
    figureOpen_ = fromPos;
    return;
  }
  if (fromPos) dc_.pos = pts[n - 1];
  QPainterPath path(Map(pts[0].x(), pts[0].y()));
  for (size_t i = 1; i + 2 < n; i += 3)
    path.cubicTo(Map(pts[i].x(), pts[i].y()), Map(pts[i + 1].x(), pts[i + 1].y()),
                 Map(pts[i + 2].x(), pts[i + 2].y()));
  DrawPathDevice(path, true, false);
}

void TMetaPlayer::AddOrDraw(const QPainterPath& path) {
  if (inPath_) {
    path_.addPath(path);
    figureOpen_ = false;
  } else {
    DrawPathDevice(path, true, true);
  }
}

void TMetaPlayer::DrawPathDevice(const QPainterPath& path, bool stroke, bool fill) {
  const QRectF r = path.boundingRect();
  if (!std::isfinite(r.left()) || !std::isfinite(r.right()) || !std::isfinite(r.top()) ||
      !std::isfinite(r.bottom()) || r.left() < -kCoordLimit || r.top() < -kCoordLimit ||
      r.right() > kCoordLimit || r.bottom() > kCoordLimit)
    return;
  if (QPainter* p = BeginDirect(stroke, fill, TooLongToDash(r))) {
    p->drawPath(path);
    EndDirect();
  }
}

void TMetaPlayer::PathFrom() {
  if (!figureOpen_) {
    path_.moveTo(Map(dc_.pos.x(), dc_.pos.y()));
    figureOpen_ = true;
  }
}

void TMetaPlayer::BeginPath() {
  path_ = QPainterPath();
  inPath_ = true;
  figureOpen_ = false;
}

void TMetaPlayer::CloseFigure() {
  if (inPath_) path_.closeSubpath();
  figureOpen_ = false;
}

void TMetaPlayer::AbortPath() {
  path_ = QPainterPath();
  inPath_ = false;
}

void TMetaPlayer::SelectClipPath(int mode) {
  inPath_ = false;
  QPainterPath path;
  path.swap(path_);
  figureOpen_ = false;
  if (!valid_ || mode < kRGN_AND || mode > kRGN_COPY) return;
  const QRect surface(0, 0, canvas_->SurfaceWidth(), canvas_->SurfaceHeight());
  // The region is built from the part of the path on the surface (a path
  // reaching far outside would cost a scan of every row it spans).
  QRegion rgn;
  if (!path.isEmpty()) {
    path.setFillRule(dc_.polyFillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
    const QRectF r = path.boundingRect();
    if (!std::isfinite(r.left()) || !std::isfinite(r.right()) || !std::isfinite(r.top()) ||
        !std::isfinite(r.bottom()))
      return;
    if (!QRectF(surface).contains(r)) {
      QPainterPath on;
      on.addRect(QRectF(surface).adjusted(-1, -1, 1, 1));
      path = path.intersected(on);
    }
    rgn = QRegion(path.toFillPolygon().toPolygon(), path.fillRule());
  }
  const QRegion current = dc_.hasClip ? dc_.clip : QRegion(surface);
  switch (mode) {
    case kRGN_AND: rgn = current.intersected(rgn); break;
    case kRGN_OR: rgn = current.united(rgn); break;
    case kRGN_XOR: rgn = current.xored(rgn); break;
    case kRGN_DIFF: rgn = current.subtracted(rgn); break;
    default: break;  // COPY: the path alone
  }
  // Never outside what the caller let the picture draw on.
  if (savedHasClip_) rgn = rgn.intersected(savedClip_);
  SetClip(rgn, true);
}

void TMetaPlayer::DrawPath(bool stroke, bool fill) {
  if (inPath_) return;
  QPainterPath path;
  path.swap(path_);
  if (!valid_ || path.isEmpty()) return;
  path.setFillRule(dc_.polyFillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
  DrawPathDevice(path, stroke, fill);
}

void TMetaPlayer::Rectangle(double l, double t, double r, double b) {
  if (!valid_) return;
  if (inPath_ || !AxisAligned()) {
    QPainterPath path;
    path.addRect(QRectF(QPointF(l, t), QPointF(r, b)));
    AddOrDraw(xf_.map(path));
    return;
  }
  Sync();
  QRect box = DeviceBox(l, t, r, b);
  // Edges beyond the surface margin are pulled in: the visible part is the same.
  const int m = int(kClipMargin);
  const int x1 = std::max(box.left(), -m), y1 = std::max(box.top(), -m);
  const int x2 = std::min(box.right(), canvas_->SurfaceWidth() + m);
  const int y2 = std::min(box.bottom(), canvas_->SurfaceHeight() + m);
  if (x2 > x1 && y2 > y1) canvas_->Rectangle(x1, y1, x2, y2);
}

void TMetaPlayer::Ellipse(double l, double t, double r, double b) {
  if (!valid_) return;
  if (inPath_ || !AxisAligned()) {
    QPainterPath path;
    path.addEllipse(QRectF(QPointF(l, t), QPointF(r, b)));
    AddOrDraw(xf_.map(path));
    return;
  }
  const QRect box = DeviceBox(l, t, r, b);
  Sync(TooLongToDash(box));
  canvas_->Ellipse(box.left(), box.top(), box.right(), box.bottom());
}

void TMetaPlayer::RoundRect(double l, double t, double r, double b, double w, double h) {
  if (!valid_) return;
  if (inPath_ || !AxisAligned()) {
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(l, t), QPointF(r, b)).normalized(), std::abs(w) / 2, std::abs(h) / 2);
    AddOrDraw(xf_.map(path));
    return;
  }
  const QRect box = DeviceBox(l, t, r, b);
  if (box.width() < 1 || box.height() < 1) return;
  const double rx = std::min(std::abs(w * ScaleX()) / 2, box.width() / 2.0);
  const double ry = std::min(std::abs(h * ScaleY()) / 2, box.height() / 2.0);
  if (QPainter* p = BeginDirect(true, true, TooLongToDash(box))) {
    // The classic geometry: like Ellipse, right and bottom edges excluded.
    p->drawRoundedRect(QRectF(box.left(), box.top(), box.width() - 1, box.height() - 1), rx, ry);
    EndDirect();
  }
}

void TMetaPlayer::SetArcDirection(int dir) {
  if (dir == kAD_COUNTERCLOCKWISE || dir == kAD_CLOCKWISE) dc_.clockwise = dir == kAD_CLOCKWISE;
}

void TMetaPlayer::ArcFamily(TArcKind kind, double l, double t, double r, double b, double xs, double ys,
                            double xe, double ye) {
  const QRectF box = QRectF(QPointF(l, t), QPointF(r, b)).normalized();
  const QPointF c = box.center();
  const double rx = box.width() / 2, ry = box.height() / 2;
  // Parametric angles of the two rays, counter-clockwise with y down as Qt
  // counts them; the end points are where the rays meet the ellipse.
  const double a0 = std::atan2(-(ys - c.y()) * rx, (xs - c.x()) * ry) * 180.0 / M_PI;
  const double a1 = std::atan2(-(ye - c.y()) * rx, (xe - c.x()) * ry) * 180.0 / M_PI;
  auto onEllipse = [&](double deg) {
    const double rad = deg * M_PI / 180.0;
    return QPointF(c.x() + rx * std::cos(rad), c.y() - ry * std::sin(rad));
  };
  const QPointF from = dc_.pos, end = onEllipse(a1);
  if (kind == kArcTo) dc_.pos = end;
  if (!valid_ || !std::isfinite(a0) || !std::isfinite(a1)) return;

  if (inPath_) {
    // The direction is the one seen on the output: a mapping that mirrors
    // turns it around in logical units.
    const bool mirrored = xf_.determinant() < 0;
    double sweep = a1 - a0;
    if (dc_.clockwise != mirrored) {
      while (sweep >= 0) sweep -= 360.0;
    } else {
      while (sweep <= 0) sweep += 360.0;
    }
    QPainterPath arc;
    if (kind == kArcTo) {
      arc.moveTo(from);
      arc.arcTo(box, a0, sweep);  // a line to the arc's start, then the arc
    } else if (kind == kPie) {
      arc.moveTo(c);
      arc.arcTo(box, a0, sweep);
      arc.closeSubpath();
    } else {
      arc.arcMoveTo(box, a0);
      arc.arcTo(box, a0, sweep);
      if (kind == kChord) arc.closeSubpath();
    }
    const QPainterPath mapped = xf_.map(arc);
    if (kind == kArcTo) {
      // The figure goes on when one ends at the position, else starts there.
      if (figureOpen_)
        path_.connectPath(mapped);
      else
        path_.addPath(mapped);
      figureOpen_ = true;
    } else if (kind == kArc) {
      path_.addPath(mapped);
      figureOpen_ = false;
    } else {
      AddOrDraw(mapped);
    }
    return;
  }

  if (kind == kArcTo) {
    Sync();
    const QPointF start = onEllipse(a0);
    StrokeSegment(Map(from.x(), from.y()), Map(start.x(), start.y()));
  }
  // Under a rotating world transform the arc is drawn in the bounds of the
  // mapped box: close enough for the rare recordings that do this.
  const QRectF mapped = xf_.mapRect(box);
  const QRect dbox(QPoint(RoundCoord(mapped.left()), RoundCoord(mapped.top())),
                   QPoint(RoundCoord(mapped.right()), RoundCoord(mapped.bottom())));
  if (dbox.width() < 1 || dbox.height() < 1) return;
  // Clockwise from s to e covers what counter-clockwise from e to s does.
  TPoint s = Clamped(Map(xs, ys)), e = Clamped(Map(xe, ye));
  if (dc_.clockwise) std::swap(s, e);
  if (kind == kArc || kind == kArcTo) {
    Sync(TooLongToDash(dbox));
    canvas_->Arc(dbox.left(), dbox.top(), dbox.right(), dbox.bottom(), s.x, s.y, e.x, e.y);
    return;
  }
  double start, span;
  ArcAngles(QRect(dbox.left(), dbox.top(), dbox.width(), dbox.height()), s, e, start, span);
  if (QPainter* p = BeginDirect(true, true, TooLongToDash(dbox))) {
    const QRect qr(dbox.left(), dbox.top(), dbox.width() - 1, dbox.height() - 1);
    const int a = int(std::lround(start * 16)), sp = int(std::lround(span * 16));
    if (kind == kChord)
      p->drawChord(qr, a, sp);
    else
      p->drawPie(qr, a, sp);
    EndDirect();
  }
}

void TMetaPlayer::SetPixel(double x, double y, TColor c) {
  if (!valid_ || inPath_) return;
  const TPoint p = Clamped(Map(x, y));
  canvas_->SetPixels(p.x, p.y, c);
}

void TMetaPlayer::Text(double x, double y, const QString& text, unsigned options, const QRectF* rect) {
  const bool updateCP = dc_.textAlign & kTA_UPDATECP;
  const QPointF at = updateCP ? dc_.pos : QPointF(x, y);
  if (!valid_ || inPath_) return;
  const QString t = text.left(kMaxTextChars);
  TFont* font = canvas_->Font();
  font->Assign(savedFont_);
  if (!dc_.font.face.empty()) font->SetName(dc_.font.face);
  const double hl = dc_.font.height * ScaleY();
  int h = savedFont_.Height();
  if (dc_.font.height != 0 && std::isfinite(hl)) {
    // Negative heights stay character heights, positive ones cell heights.
    h = int(std::lround(std::clamp(std::abs(hl), 1.0, double(kMaxFontPixels))));
    if (hl < 0) h = -h;
  }
  font->SetHeight(h);
  TFontStyles st;
  if (dc_.font.weight >= 600) st.Include(fsBold);
  if (dc_.font.italic) st.Include(fsItalic);
  if (dc_.font.underline) st.Include(fsUnderline);
  if (dc_.font.strikeOut) st.Include(fsStrikeOut);
  font->SetStyle(st);
  font->SetEscapement(dc_.font.escapement % 3600);
  font->SetColor(dc_.textColor);

  const QFont qf = font->ToQFont();
  const QFontMetrics fm(qf);
  const int w = fm.horizontalAdvance(t), fh = fm.height();
  const unsigned halign = dc_.textAlign & kTA_CENTER, valign = dc_.textAlign & kTA_BASELINE;
  const int dx = halign == kTA_CENTER ? -w / 2 : halign == kTA_RIGHT ? -w : 0;
  const int dy = valign == kTA_BASELINE ? -fm.ascent() : valign == kTA_BOTTOM ? -fh : 0;
  const TPoint dp = Clamped(Map(at.x(), at.y()));

  QPainter* p = canvas_->Painter();
  if (!p) return;
  p->save();
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  if (rect) {
    const QRect box = DeviceBox(rect->left(), rect->top(), rect->right(), rect->bottom());
    const QRect qr(box.left(), box.top(), box.width(), box.height());
    if (options & kETO_OPAQUE) p->fillRect(qr, ColorToQColor(dc_.bkColor));
    if (options & kETO_CLIPPED) p->setClipRect(qr, canvas_->HasClip() ? Qt::IntersectClip : Qt::ReplaceClip);
  }
  p->setFont(qf);
  p->translate(dp.x, dp.y);
  if (font->Escapement() != 0) p->rotate(-font->Escapement() / 10.0);
  if (dc_.bkMode == kOPAQUE) p->fillRect(QRect(dx, dy, w, fh), ColorToQColor(dc_.bkColor));
  p->setPen(ColorToQColor(dc_.textColor));
  p->drawText(dx, dy + fm.ascent(), t);
  p->restore();
  EndDirect();
  if (updateCP && halign == 0 && ScaleX() > 0) dc_.pos = QPointF(at.x() + w / ScaleX(), at.y());
}

void TMetaPlayer::Blit(double x, double y, double w, double h, TBitmap* src, int xs, int ys, int ws, int hs) {
  if (!valid_ || inPath_ || !src || src->Empty() || ws <= 0 || hs <= 0) return;
  // A source rectangle reaching outside the image keeps its inside part, and
  // the destination shrinks with it.
  const int64_t sx0 = std::max<int64_t>(xs, 0), sy0 = std::max<int64_t>(ys, 0);
  const int64_t sx1 = std::min<int64_t>(int64_t(xs) + ws, src->Width());
  const int64_t sy1 = std::min<int64_t>(int64_t(ys) + hs, src->Height());
  if (sx1 <= sx0 || sy1 <= sy0) return;
  const double fx0 = double(sx0 - xs) / ws, fx1 = double(sx1 - xs) / ws;
  const double fy0 = double(sy0 - ys) / hs, fy1 = double(sy1 - ys) / hs;
  const QPointF a = Map(x + w * fx0, y + h * fy0), b = Map(x + w * fx1, y + h * fy1);
  const TRect d = Rect(RoundCoord(a.x()), RoundCoord(a.y()), RoundCoord(b.x()), RoundCoord(b.y()));
  if (d.Width() == 0 || d.Height() == 0) return;
  const QImage img = src->PixelFormat() == pf1bit ? src->ToQImage() : src->SharedImage();
  canvas_->DrawImage(d, img, Rect(int(sx0), int(sy0), int(sx1), int(sy1)));
}

void TMetaPlayer::PatBlt(double x, double y, double w, double h, uint32_t rop) {
  if (!valid_ || inPath_) return;
  QRect box = DeviceBox(x, y, x + w, y + h);
  const int m = int(kClipMargin);
  box = box.intersected(QRect(-m, -m, canvas_->SurfaceWidth() + 2 * m, canvas_->SurfaceHeight() + 2 * m));
  if (box.width() < 1 || box.height() < 1) return;
  QPainter* p = BeginDirect(false, true);
  if (!p) return;
  const QRect r(box.left(), box.top(), box.width(), box.height());
  QBrush brush = p->brush();
  switch (rop) {
    case kBLACKNESS: p->setCompositionMode(QPainter::CompositionMode_SourceOver); brush = QBrush(Qt::black); break;
    case kWHITENESS: p->setCompositionMode(QPainter::CompositionMode_SourceOver); brush = QBrush(Qt::white); break;
    case kDSTINVERT: p->setCompositionMode(QPainter::RasterOp_NotDestination); brush = QBrush(Qt::black); break;
    case kPATINVERT: p->setCompositionMode(QPainter::RasterOp_SourceXorDestination); break;
    default: p->setCompositionMode(QPainter::CompositionMode_SourceOver); break;  // PATCOPY and the rest
  }
  if (brush.style() != Qt::NoBrush) p->fillRect(r, brush);
  EndDirect();
}

// ---------------------------------------------------------------------------
// DIBs

bool DecodePackedDib(const uint8_t* p, size_t n, TBitmap& bmp, bool& bottomUp) {
  try {
    const TDIBInfo info = ParsePackedDIB(p, n);
    PackedDIBToBitmap(p, n, &bmp);
    bottomUp = !info.TopDown;
    return true;
  } catch (const EInvalidGraphic&) {
    return false;
  }
}

bool DecodeDib(const uint8_t* header, size_t headerBytes, const uint8_t* bits, size_t bitBytes, TBitmap& bmp,
               bool& bottomUp) {
  try {
    const TDIBInfo info = ParseDIBHeader(header, headerBytes);
    if (bitBytes < info.ImageBytes) return false;
    DIBToBitmap(header, headerBytes, bits, bitBytes, &bmp);
    bottomUp = !info.TopDown;
    return true;
  } catch (const EInvalidGraphic&) {
    return false;
  }
}

}  // namespace korvane::metafile
