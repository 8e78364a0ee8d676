#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/graphics_internal.h"
#include "korvane/foundations/host/raster_ops.h"

namespace korvane {

using detail::NearestIndex;

// ---------------------------------------------------------------------------
// Fonts

namespace {
int ScreenDpi() {
  if (qGuiApp && QGuiApplication::primaryScreen())
    return int(std::lround(QGuiApplication::primaryScreen()->logicalDotsPerInch()));
  return 96;
}
}  // namespace

TFont::TFont() : name_() {}

int TFont::Size() const { return int(std::lround(-height_ * 72.0 / ScreenDpi())); }

void TFont::SetSize(int points) { SetHeight(-int(std::lround(points * ScreenDpi() / 72.0))); }

void TFont::Assign(const TFont& o) {
  name_ = o.name_;
  height_ = o.height_;
  color_ = o.color_;
  style_ = o.style_;
  escapement_ = o.escapement_;
  Changed();
}

QFont TFont::ToQFont() const {
  QFont f;
  if (!name_.empty()) f.setFamily(QString::fromStdString(name_));
  int h = height_ == 0 ? 13 : std::abs(height_);
  f.setPixelSize(std::max(1, h));
  if (height_ > 0) {
    // Positive heights give the cell height: shrink until ascent + descent fits.
    QFontMetrics fm(f);
    if (fm.height() > h) f.setPixelSize(std::max(1, h * h / fm.height()));
  }
  f.setBold(style_.Contains(fsBold));
  f.setItalic(style_.Contains(fsItalic));
  f.setUnderline(style_.Contains(fsUnderline));
  f.setStrikeOut(style_.Contains(fsStrikeOut));
  f.setStyleStrategy(QFont::NoAntialias);
  return f;
}

// ---------------------------------------------------------------------------
// Line stepping

void LineDDA(int x1, int y1, int x2, int y2, const TLineDDAProc& proc) {
  LineDDAPoints(x1, y1, x2, y2, [&](int x, int y) { proc(x, y); });
}

// ---------------------------------------------------------------------------
// TCanvas

namespace {

void Order(int& a, int& b) {
  if (b < a) std::swap(a, b);
}

}  // namespace

TCanvas::TCanvas(TBitmap* bitmap) : bitmap_(bitmap) { brush_.SetColor(clWhite); }

TCanvas::TCanvas(QImage* image) : external_(image) {}

TCanvas::~TCanvas() {
  if (shadow_dirty_) FlushShadow();
  EndPaint();
}

void TCanvas::SetImage(QImage* image) {
  EndPaint();
  external_ = image;
  wrap_valid_ = false;
}

bool TCanvas::ShadowNeeded() const {
  return bitmap_ && (bitmap_->format_ == pf4bit || bitmap_->format_ == pf8bit);
}

QImage* TCanvas::Surface() {
  if (external_) return external_;
  if (!bitmap_ || bitmap_->Empty()) return nullptr;
  if (!wrap_valid_) {
    if (ShadowNeeded()) {
      BeginShadow();
    } else {
      shadow_ = false;
      wrap_ = bitmap_->SharedImage();
    }
    wrap_valid_ = true;
  }
  return &wrap_;
}

void TCanvas::BeginShadow() {
  // Palette formats cannot be painted directly: draw on an RGB32 copy and map
  // it back to the palette when the pixels are next read.
  wrap_ = bitmap_->ToQImage();
  shadow_ = true;
  shadow_dirty_ = false;
}

void TCanvas::FlushShadow() {
  if (!shadow_dirty_ || !bitmap_) return;
  shadow_dirty_ = false;
  EndPaint();
  TBitmap* b = bitmap_;
  NearestIndex near(b->palette_);
  const bool four = b->format_ == pf4bit;
  auto palAt = [&](unsigned i) { return i < b->palette_.size() ? b->palette_[i] : TRGB{0, 0, 0}; };
  for (int y = 0; y < b->height_ && y < wrap_.height(); ++y) {
    const QRgb* s = reinterpret_cast<const QRgb*>(wrap_.constScanLine(y));
    uint8_t* dst = b->data_ + ptrdiff_t(y) * b->stride_;
    for (int x = 0; x < b->width_; ++x) {
      TRGB c{uint8_t(qBlue(s[x])), uint8_t(qGreen(s[x])), uint8_t(qRed(s[x]))};
      // A pixel that still shows its entry's color keeps its index, so pixels
      // the canvas did not touch never move to a duplicate entry.
      if (four) {
        uint8_t& byte = dst[x >> 1];
        unsigned cur = (x & 1) ? byte & 15 : byte >> 4;
        if (palAt(cur) == c) continue;
        unsigned i = near(c) & 15;
        byte = (x & 1) ? uint8_t((byte & 0xF0) | i) : uint8_t((byte & 0x0F) | (i << 4));
      } else {
        if (palAt(dst[x]) == c) continue;
        dst[x] = uint8_t(near(c));
      }
    }
  }
  // Direct writes may follow: take a fresh shadow next time.
  wrap_valid_ = false;
}

int TCanvas::SurfaceWidth() const {
  if (external_) return external_->width();
  return bitmap_ ? bitmap_->Width() : 0;
}

int TCanvas::SurfaceHeight() const {
  if (external_) return external_->height();
  return bitmap_ ? bitmap_->Height() : 0;
}

QPainter* TCanvas::Painter() {
  if (OnDraw) OnDraw();
  if (painter_ && painter_->isActive()) return painter_.get();
  QImage* s = Surface();
  if (!s || s->isNull()) return nullptr;
  if (!painter_) painter_ = std::make_unique<QPainter>();
  if (!painter_->begin(s)) return nullptr;
  painter_->setRenderHint(QPainter::Antialiasing, false);
  painter_->setRenderHint(QPainter::TextAntialiasing, false);
  if (has_clip_) painter_->setClipRegion(clip_);
  return painter_.get();
}

void TCanvas::EndPaint() {
  if (painter_ && painter_->isActive()) painter_->end();
}

void TCanvas::AfterDraw() {
  if (OnDraw) OnDraw();
  if (shadow_) shadow_dirty_ = true;
  if (bitmap_) bitmap_->modified_ = true;
}

void TCanvas::ApplyPen(QPainter& p, bool) {
  if (pen_.Style() == psClear || pen_.Mode() == pmNop) {
    p.setPen(Qt::NoPen);
    return;
  }
  QPen qp(ColorToQColor(pen_.Color()));
  qp.setStyle(ToQPenStyle(pen_.Style()));
  qp.setWidth(pen_.Width() <= 1 ? 0 : pen_.Width());
  qp.setCapStyle(Qt::FlatCap);
  qp.setJoinStyle(Qt::MiterJoin);
  p.setPen(qp);
}

void TCanvas::ApplyBrush(QPainter& p) {
  if (brush_.Style() == bsClear) {
    p.setBrush(Qt::NoBrush);
    return;
  }
  p.setBrush(QBrush(ColorToQColor(brush_.Color()), ToQBrushStyle(brush_.Style())));
}

void TCanvas::ApplyMode(QPainter& p) { p.setCompositionMode(PenModeComposition(pen_.Mode())); }

void TCanvas::DrawPixelsRun(const std::vector<QPoint>& pts) {
  if (pts.empty()) return;
  QPainter* p = Painter();
  if (!p) return;
  p->setPen(QPen(ColorToQColor(pen_.Color()), 0));
  p->setBrush(Qt::NoBrush);
  ApplyMode(*p);
  p->drawPoints(pts.data(), int(pts.size()));
  AfterDraw();
}

void TCanvas::LineTo(int x, int y) {
  TPoint from = pen_pos_;
  pen_pos_ = Point(x, y);
  if (pen_.Style() == psClear || pen_.Mode() == pmNop) return;
  if (pen_.Width() <= 1 && (pen_.Style() == psSolid || pen_.Style() == psInsideFrame)) {
    // One-pixel solid lines step exactly like LineDDA: the last point is out.
    std::vector<QPoint> pts;
    pts.reserve(size_t(std::max(std::abs(x - from.x), std::abs(y - from.y))));
    LineDDAPoints(from.x, from.y, x, y, [&](int px, int py) { pts.emplace_back(px, py); });
    DrawPixelsRun(pts);
    return;
  }
  QPainter* p = Painter();
  if (!p) return;
  ApplyPen(*p, false);
  ApplyMode(*p);
  p->drawLine(from.x, from.y, x, y);
  AfterDraw();
}

void TCanvas::Polyline(const TPoint* pts, int count) {
  if (count <= 0) return;
  TPoint keep = pen_pos_;
  MoveTo(pts[0].x, pts[0].y);
  for (int i = 1; i < count; ++i) LineTo(pts[i].x, pts[i].y);
  pen_pos_ = keep;
}

void TCanvas::FillRect(const TRect& r) {
  if (brush_.Style() == bsClear) return;
  int x1 = r.Left, x2 = r.Right, y1 = r.Top, y2 = r.Bottom;
  if (x2 <= x1 || y2 <= y1) return;
  QPainter* p = Painter();
  if (!p) return;
  ApplyMode(*p);
  p->fillRect(QRect(x1, y1, x2 - x1, y2 - y1),
              QBrush(ColorToQColor(brush_.Color()), ToQBrushStyle(brush_.Style())));
  AfterDraw();
}

void TCanvas::FrameRect(const TRect& r) {
  if (r.Right <= r.Left || r.Bottom <= r.Top) return;
  QPainter* p = Painter();
  if (!p) return;
  ApplyMode(*p);
  QColor c = ColorToQColor(brush_.Color());
  p->fillRect(QRect(r.Left, r.Top, r.Width(), 1), c);
  p->fillRect(QRect(r.Left, r.Bottom - 1, r.Width(), 1), c);
  p->fillRect(QRect(r.Left, r.Top, 1, r.Height()), c);
  p->fillRect(QRect(r.Right - 1, r.Top, 1, r.Height()), c);
  AfterDraw();
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  Order(x1, x2);
  Order(y1, y2);
  if (x2 - x1 < 1 || y2 - y1 < 1) return;
  QPainter* p = Painter();
  if (!p) return;
  ApplyMode(*p);
  bool pen = pen_.Style() != psClear && pen_.Mode() != pmNop;
  if (!pen) {
    // Without a pen the filled area is one pixel smaller on the right and bottom.
    if (brush_.Style() != bsClear && x2 - x1 > 1 && y2 - y1 > 1)
      p->fillRect(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1),
                  QBrush(ColorToQColor(brush_.Color()), ToQBrushStyle(brush_.Style())));
    AfterDraw();
    return;
  }
  int w = pen_.Width();
  if (w <= 1) {
    if (brush_.Style() != bsClear && x2 - x1 > 2 && y2 - y1 > 2)
      p->fillRect(QRect(x1 + 1, y1 + 1, x2 - x1 - 2, y2 - y1 - 2),
                  QBrush(ColorToQColor(brush_.Color()), ToQBrushStyle(brush_.Style())));
    ApplyPen(*p, true);
    p->setBrush(Qt::NoBrush);
    if (x2 - x1 == 1 || y2 - y1 == 1)
      p->fillRect(QRect(x1, y1, x2 - x1, y2 - y1), ColorToQColor(pen_.Color()));
    else
      p->drawRect(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
  } else {
    ApplyPen(*p, false);
    ApplyBrush(*p);
    p->drawRect(QRectF(x1 + 0.5, y1 + 0.5, x2 - x1 - 1, y2 - y1 - 1));
  }
  AfterDraw();
}

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  Order(x1, x2);
  Order(y1, y2);
  if (x2 - x1 < 1 || y2 - y1 < 1) return;
  QPainter* p = Painter();
  if (!p) return;
  ApplyMode(*p);
  ApplyPen(*p, false);
  ApplyBrush(*p);
  p->drawEllipse(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
  AfterDraw();
}

void TCanvas::Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  Order(x1, x2);
  Order(y1, y2);
  if (x2 - x1 < 1 || y2 - y1 < 1) return;
  QPainter* p = Painter();
  if (!p) return;
  // The arc runs counter-clockwise from where the line from the centre
  // through (x3, y3) crosses the ellipse to where the line through (x4, y4)
  // does. drawArc takes parametric angles t (the point rx cos t, ry sin t),
  // so each direction (dx, dy) becomes t = atan2(rx dy, ry dx); on a circle
  // both angles agree. Angles count from three o'clock, y pointing up.
  const double cx = (x1 + x2) / 2.0, cy = (y1 + y2) / 2.0;
  const double rx = (x2 - x1) / 2.0, ry = (y2 - y1) / 2.0;
  auto parametric = [&](int x, int y) { return std::atan2(-(y - cy) * rx, (x - cx) * ry) * 180.0 / M_PI; };
  const double a3 = parametric(x3, y3);
  const double a4 = parametric(x4, y4);
  double span = a4 - a3;
  while (span <= 0) span += 360.0;
  ApplyMode(*p);
  ApplyPen(*p, false);
  p->setBrush(Qt::NoBrush);
  p->drawArc(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1), int(std::lround(a3 * 16)), int(std::lround(span * 16)));
  AfterDraw();
}

void TCanvas::Polygon(const TPoint* pts, int count) {
  if (count < 2) return;
  QPainter* p = Painter();
  if (!p) return;
  QPolygon poly;
  poly.reserve(count);
  for (int i = 0; i < count; ++i) poly << QPoint(pts[i].x, pts[i].y);
  ApplyMode(*p);
  ApplyPen(*p, false);
  ApplyBrush(*p);
  p->drawPolygon(poly, fill_mode_ == ALTERNATE ? Qt::OddEvenFill : Qt::WindingFill);
  AfterDraw();
}

namespace {

bool Is24Bit(QImage::Format f) { return f == QImage::Format_BGR888 || f == QImage::Format_RGB888; }

// Largest source part (pixels) converted before a scaled draw.
constexpr int64_t kConvertBeforeScaling = int64_t(1) << 22;

}  // namespace

void TCanvas::DrawImage(const TRect& d, const QImage& img, const TRect& s) {
  if (img.isNull() || d.Width() == 0 || d.Height() == 0) return;
  QPainter* p = Painter();
  if (!p) return;
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  p->setRenderHint(QPainter::SmoothPixmapTransform, false);
  QRect dr(d.Left, d.Top, d.Width(), d.Height());
  QRect sr(s.Left, s.Top, s.Width(), s.Height());
  if (d.Width() < 0 || d.Height() < 0 || s.Width() < 0 || s.Height() < 0) {
    // Negative extents mirror, as a classic stretch does.
    QImage part = img.copy(sr.normalized());
    part = part.mirrored((d.Width() < 0) != (s.Width() < 0), (d.Height() < 0) != (s.Height() < 0));
    p->drawImage(dr.normalized(), part);
  } else if (dr.size() != sr.size() && Is24Bit(img.format()) && img.rect().contains(sr) &&
             int64_t(sr.width()) * sr.height() <= kConvertBeforeScaling) {
    // The raster engine scales 24-bit images through its slow generic path,
    // several times slower than converting the part to 32 bits first; the
    // pixels drawn are the same.
    p->drawImage(dr, img.copy(sr).convertToFormat(QImage::Format_RGB32));
  } else {
    p->drawImage(dr, img, sr);
  }
  AfterDraw();
}

void TCanvas::Draw(int x, int y, TBitmap* src) {
  if (!src || src->Empty()) return;
  QImage img = src->format_ == pf4bit ? src->ToQImage() : src->SharedImage();
  DrawImage(Rect(x, y, x + src->Width(), y + src->Height()), img, Rect(0, 0, src->Width(), src->Height()));
}

void TCanvas::StretchDraw(const TRect& r, TBitmap* src) {
  if (!src || src->Empty()) return;
  QImage img = src->format_ == pf4bit ? src->ToQImage() : src->SharedImage();
  DrawImage(r, img, Rect(0, 0, src->Width(), src->Height()));
}

void TCanvas::CopyRect(const TRect& d, TCanvas* src, const TRect& s) {
  if (!src) return;
  QImage* si = src->Surface();
  if (!si || si->isNull()) return;
  if (src == this) {
    QImage copy = si->copy();
    DrawImage(d, copy, s);
  } else {
    if (src->shadow_dirty_) src->FlushShadow(), si = src->Surface();
    DrawImage(d, *si, s);
  }
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
  QPainter* p = Painter();
  if (!p) return;
  QString t = QString::fromStdString(text);
  QFont f = font_.ToQFont();
  QFontMetrics fm(f);
  p->setFont(f);
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  p->save();
  p->translate(x, y);
  if (font_.Escapement() != 0) p->rotate(-font_.Escapement() / 10.0);
  if (brush_.Style() != bsClear)
    p->fillRect(QRect(0, 0, fm.horizontalAdvance(t), fm.height()), ColorToQColor(brush_.Color()));
  p->setPen(ColorToQColor(font_.Color()));
  p->drawText(0, fm.ascent(), t);
  p->restore();
  pen_pos_ = Point(x + fm.horizontalAdvance(t), y);
  AfterDraw();
}

void TCanvas::TextRect(const TRect& r, int x, int y, const std::string& text) {
  QPainter* p = Painter();
  if (!p) return;
  QString t = QString::fromStdString(text);
  QFont f = font_.ToQFont();
  QFontMetrics fm(f);
  p->save();
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  QRect qr(r.Left, r.Top, r.Width(), r.Height());
  p->setClipRect(qr, has_clip_ ? Qt::IntersectClip : Qt::ReplaceClip);
  if (brush_.Style() != bsClear) p->fillRect(qr, ColorToQColor(brush_.Color()));
  p->setFont(f);
  p->setPen(ColorToQColor(font_.Color()));
  p->drawText(x, y + fm.ascent(), t);
  p->restore();
  AfterDraw();
}

int TCanvas::TextWidth(const std::string& text) {
  return QFontMetrics(font_.ToQFont()).horizontalAdvance(QString::fromStdString(text));
}

int TCanvas::TextHeight(const std::string&) { return QFontMetrics(font_.ToQFont()).height(); }

TColor TCanvas::Pixels(int x, int y) {
  if (x < 0 || y < 0 || x >= SurfaceWidth() || y >= SurfaceHeight()) return CLR_INVALID;
  if (bitmap_) {
    if (shadow_ && wrap_valid_) {
      QRgb c = wrap_.pixel(x, y);
      return RGB(uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c)));
    }
    return bitmap_->GetPixel(x, y);
  }
  QRgb c = external_->pixel(x, y);
  return RGB(uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c)));
}

void TCanvas::SetPixels(int x, int y, TColor c) {
  if (x < 0 || y < 0 || x >= SurfaceWidth() || y >= SurfaceHeight()) return;
  if (has_clip_ && !clip_.contains(QPoint(x, y))) return;
  if (bitmap_ && !(shadow_ && wrap_valid_)) {
    bitmap_->SetPixel(x, y, c);
    bitmap_->modified_ = true;
    return;
  }
  QImage* s = Surface();
  c = ColorToRGB(c);
  s->setPixel(x, y, qRgb(GetRValue(c), GetGValue(c), GetBValue(c)));
  AfterDraw();
}

void TCanvas::SetClipRegion(const QRegion& rgn) {
  clip_ = rgn;
  has_clip_ = true;
  if (painter_ && painter_->isActive()) painter_->setClipRegion(clip_);
}

void TCanvas::SetClipPolygon(const TPoint* pts, int count, TPolyFillMode mode) {
  QPolygon poly;
  for (int i = 0; i < count; ++i) poly << QPoint(pts[i].x, pts[i].y);
  SetClipRegion(QRegion(poly, mode == ALTERNATE ? Qt::OddEvenFill : Qt::WindingFill));
}

void TCanvas::ExcludeClipRect(int x1, int y1, int x2, int y2) {
  Order(x1, x2);
  Order(y1, y2);
  QRegion base = has_clip_ ? clip_ : QRegion(0, 0, SurfaceWidth(), SurfaceHeight());
  SetClipRegion(base.subtracted(QRegion(x1, y1, x2 - x1, y2 - y1)));
}

void TCanvas::IntersectClipRect(int x1, int y1, int x2, int y2) {
  Order(x1, x2);
  Order(y1, y2);
  QRegion base = has_clip_ ? clip_ : QRegion(0, 0, SurfaceWidth(), SurfaceHeight());
  SetClipRegion(base.intersected(QRegion(x1, y1, x2 - x1, y2 - y1)));
}

void TCanvas::ResetClip() {
  has_clip_ = false;
  clip_ = QRegion();
  if (painter_ && painter_->isActive()) painter_->setClipping(false);
}

}  // namespace korvane
