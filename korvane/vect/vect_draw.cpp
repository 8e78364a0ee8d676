// Drawing of the vector objects: on screen at the view's zoom and origin,
// or into the bitmap itself (CopyObjectsToBack), and the selection grips.
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "korvane/vect/kvvect.h"

namespace korvane {

namespace {

// trunc(v * zoom / 100), saturated.
int Zoomed(int v, int zoom) { return KVSat(int64_t(v) * zoom / 100); }

// Drawing coordinates are kept within 2^28 of the origin: far beyond any
// surface, and room for the +1 of inclusive corners and for the painter.
constexpr int kFar = 1 << 28;
int Near(int64_t v) { return int(std::clamp<int64_t>(v, -kFar, kFar)); }

// A line drawn only where it can touch the surface: the canvas steps
// one-pixel lines point by point, so a line from far outside would cost time
// and memory in proportion to its length. The segment is clipped
// (Liang-Barsky) to the surface grown by a margin that covers any pen.
void ClippedLine(TCanvas* c, int x1, int y1, int x2, int y2) {
  const double m = 64.0 + c->Pen()->Width();
  const double lo_x = -m, lo_y = -m, hi_x = c->SurfaceWidth() + m, hi_y = c->SurfaceHeight() + m;
  if (x1 >= lo_x && x1 <= hi_x && y1 >= lo_y && y1 <= hi_y && x2 >= lo_x && x2 <= hi_x && y2 >= lo_y &&
      y2 <= hi_y) {
    c->MoveTo(x1, y1);
    c->LineTo(x2, y2);
    return;
  }
  const double dx = double(x2) - x1, dy = double(y2) - y1;
  double t0 = 0, t1 = 1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {x1 - lo_x, hi_x - x1, y1 - lo_y, hi_y - y1};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0)
      t0 = std::max(t0, t);
    else
      t1 = std::min(t1, t);
    if (t0 > t1) return;
  }
  c->MoveTo(int(std::lround(x1 + t0 * dx)), int(std::lround(y1 + t0 * dy)));
  c->LineTo(int(std::lround(x1 + t1 * dx)), int(std::lround(y1 + t1 * dy)));
}

}  // namespace

void TKorvaneVect::ScreenCorners(const TKVVObject& o, int& x1, int& y1, int& x2, int& y2) const {
  const TViewGeometry& g = Geometry();
  const int dx = g.OffsetX - g.ViewX, dy = g.OffsetY - g.ViewY;
  x1 = Near(int64_t(Zoomed(o.x1, g.Zoom)) + dx);
  y1 = Near(int64_t(Zoomed(o.y1, g.Zoom)) + dy);
  x2 = Near(int64_t(Zoomed(o.x2, g.Zoom)) + dx);
  y2 = Near(int64_t(Zoomed(o.y2, g.Zoom)) + dy);
}

bool TKorvaneVect::MeetsImage(int x1, int y1, int x2, int y2) const {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  const TViewGeometry& g = Geometry();
  return x1 <= g.OffsetX + g.ExtentX && x2 >= g.OffsetX && y1 <= g.OffsetY + g.ExtentY && y2 >= g.OffsetY;
}

void TKorvaneVect::DrawObject(TCanvas* canvas, PKVVObject o, bool ToBitmap) {
  if (!o) return;
  int x1 = Near(o->x1), y1 = Near(o->y1), x2 = Near(o->x2), y2 = Near(o->y2);
  double s = 1;
  if (!ToBitmap) {
    ScreenCorners(*o, x1, y1, x2, y2);
    s = GetZoom() / 100.0;
  }
  TPen* pen = canvas->Pen();
  pen->SetColor(o->PenColor);
  pen->SetStyle(o->PenStyle);
  // Widths beyond any surface only cost time.
  pen->SetWidth(std::clamp(o->PenWidth, 1, 4096));
  pen->SetMode(pmCopy);
  canvas->Brush()->SetColor(o->BrushColor);
  canvas->Brush()->SetStyle(o->BrushStyle);
  if (!o->Style.Contains(kvvsVisible)) return;
  if (!ToBitmap && !MeetsImage(x1, y1, x2, y2)) return;
  switch (o->Kind) {
    case kvkFRAME: {
      // Children are drawn from a copy of the list: drawing never edits the
      // tree, but the records may move if a handler adds objects.
      const std::vector<int32_t> kids = o->Children;
      for (int c : kids) DrawObject(canvas, GetObj(c), ToBitmap);
      return;
    }
    case kvkLINE: {
      ClippedLine(canvas, x1, y1, x2, y2);
      const int w = KVTrunc(o->ShapeWidth * s), h = KVTrunc(o->ShapeHeight * s);
      DrawLineShape(canvas, x1, y1, x2, y2, o->BeginShape, w, h);
      DrawLineShape(canvas, x2, y2, x1, y1, o->EndShape, w, h);
      break;
    }
    case kvkBOX:
      canvas->Rectangle(x1, y1, x2 + 1, y2 + 1);
      break;
    case kvkELLIPSE:
      canvas->Ellipse(x1, y1, x2 + 1, y2 + 1);
      break;
    case kvkARC: {
      const double rx = (x2 - x1) / 2.0, ry = (y2 - y1) / 2.0;
      // Angles that are not numbers count as 0.
      const double a0 = std::isfinite(o->AngleStart) ? o->AngleStart : 0;
      const double a1 = std::isfinite(o->AngleEnd) ? o->AngleEnd : 0;
      const int sx = Near(int64_t(x1) + KVTrunc(rx + std::cos(a0) * rx));
      const int sy = Near(int64_t(y1) + KVTrunc(ry + std::sin(a0) * ry));
      int ex = Near(int64_t(x1) + KVTrunc(rx + std::cos(a1) * rx));
      int ey = Near(int64_t(y1) + KVTrunc(ry + std::sin(a1) * ry));
      // A sweep of whole turns is the full outline: sin(2 pi) is not quite 0,
      // and truncation would otherwise turn it into a one-degree sliver.
      const double turns = (a1 - a0) / (2 * M_PI);
      if (std::abs(turns - std::round(turns)) < 1e-9) ex = sx, ey = sy;
      canvas->Arc(x1, y1, x2 + 1, y2 + 1, sx, sy, ex, ey);
      break;
    }
    case kvkBITMAP: {
      TBitmap* b = GetBitmap(o->BitmapIdx);
      if (!b || b->Empty()) {
        ClippedLine(canvas, x1, y1, x2, y2);
        ClippedLine(canvas, x2, y1, x1, y2);
        canvas->Rectangle(x1, y1, x2 + 1, y2 + 1);
        break;
      }
      if (x1 > x2) std::swap(x1, x2);
      if (y1 > y2) std::swap(y1, y2);
      QImage img = b->SharedImage();
      if (img.isNull()) img = b->ToQImage();
      canvas->DrawImage(Rect(x1, y1, x2 + 1, y2 + 1), img, Rect(0, 0, b->Width(), b->Height()));
      break;
    }
    case kvkTEXT:
      DrawObjectText(canvas, x1, y1, x2, y2, o, s);
      break;
  }
  ++drawn_;
}

void TKorvaneVect::DrawLineShape(TCanvas* canvas, int X, int Y, int X2, int Y2, TKVShape shape, int W,
                                 int H) {
  if (shape != kvsINARROW && shape != kvsOUTARROW) return;
  double ux = X2 - X, uy = Y2 - Y;
  const double len = std::hypot(ux, uy);
  if (len == 0) {
    ux = 0, uy = -1;
  } else {
    ux /= len, uy /= len;
  }
  const double nx = -uy, ny = ux;
  const double half = W / 2.0;
  const int64_t bx = int64_t(X) + KVTrunc(H * ux), by = int64_t(Y) + KVTrunc(H * uy);
  const int64_t hx = KVTrunc(half * nx), hy = KVTrunc(half * ny);
  TPoint pts[3];
  if (shape == kvsINARROW) {
    pts[0] = Point(Near(X + hx), Near(Y + hy));
    pts[1] = Point(Near(X - hx), Near(Y - hy));
    pts[2] = Point(Near(bx), Near(by));
  } else {
    pts[0] = Point(Near(bx + hx), Near(by + hy));
    pts[1] = Point(Near(bx - hx), Near(by - hy));
    pts[2] = Point(X, Y);
  }
  canvas->Polygon(pts, 3);
}

void TKorvaneVect::DrawObjectText(TCanvas* canvas, int x1, int y1, int x2, int y2, PKVVObject o,
                                  double scale) {
  if (o->Text.empty()) return;
  if (edit_idx_ >= 0 && GetObj(edit_idx_) == o) {
    canvas->Brush()->SetStyle(bsClear);
    canvas->Rectangle(x1 - 1, y1 - 1, x2 + 1, y2 + 1);
    return;
  }
  TLogFont lf = o->Font ? *o->Font : TLogFont{};
  lf.lfHeight = lf.lfHeight == 0 ? y2 - y1 : KVTrunc(lf.lfHeight * scale);
  // Glyphs taller than this are never readable and cost the font engine
  // memory in proportion to their size.
  lf.lfHeight = std::clamp(lf.lfHeight, -4096, 4096);
  TFont* cf = canvas->Font();
  TFont saved;
  saved.Assign(*cf);
  FontFromLog(lf, *cf);
  cf->SetColor(o->PenColor);
  const double a = lf.lfEscapement / 10.0 * M_PI / 180.0;
  // One font and one set of metrics serve the measuring (and rotated text).
  const QFont qf = cf->ToQFont();
  const QFontMetrics fm(qf);
  // Level text on the left needs no width, and shaping the text only to
  // measure it costs as much as drawing it.
  const bool measure = lf.lfEscapement != 0 || o->TextAlign == taRightJustify || o->TextAlign == taCenter;
  const int tw = measure ? fm.horizontalAdvance(QString::fromStdString(o->Text)) : 0, th = fm.height();
  const int dy = KVTrunc((y2 - y1) - std::cos(a) * th + std::sin(a) * tw) / 2;
  int dx;
  switch (o->TextAlign) {
    case taRightJustify:
      dx = KVTrunc((x2 - x1) - std::cos(a) * tw);
      break;
    case taCenter:
      dx = KVTrunc((x2 - x1) - std::cos(a) * tw - std::sin(a) * th) / 2;
      break;
    default:
      dx = std::abs(KVTrunc(std::sin(a) * th));
      break;
  }
  if (lf.lfEscapement == 0) {
    canvas->TextRect(Rect(x1, y1, x2, y2), x1 + dx, y1 + dy, o->Text);
  } else if (QPainter* p = canvas->Painter()) {
    // The canvas's TextRect writes level text; rotated text is drawn here with
    // the same clip, fill and baseline.
    p->save();
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    QRect qr(x1, y1, x2 - x1, y2 - y1);
    p->setClipRect(qr, canvas->HasClip() ? Qt::IntersectClip : Qt::ReplaceClip);
    if (o->BrushStyle != bsClear) p->fillRect(qr, ColorToQColor(o->BrushColor));
    p->setFont(qf);
    p->setPen(ColorToQColor(o->PenColor));
    p->translate(x1 + dx, y1 + dy);
    p->rotate(-lf.lfEscapement / 10.0);
    p->drawText(0, fm.ascent(), QString::fromStdString(o->Text));
    p->restore();
  }
  cf->Assign(saved);
}

void TKorvaneVect::DrawObjectGrips(TCanvas* canvas, PKVVObject o) {
  if (!o) return;
  int x1, y1, x2, y2;
  ScreenCorners(*o, x1, y1, x2, y2);
  if (!MeetsImage(x1, y1, x2, y2)) return;
  if (o->Kind == kvkFRAME) {
    const std::vector<int32_t> kids = o->Children;
    for (int c : kids) DrawObjectGrips(canvas, GetObj(c));
  }
  canvas->Pen()->SetMode(pmNot);
  canvas->Pen()->SetWidth(1);
  canvas->Pen()->SetStyle(psSolid);
  canvas->Brush()->SetStyle(bsClear);
  auto square = [&](int x, int y) { canvas->Rectangle(x - 4, y - 4, x + 4, y + 4); };
  square(x1, y1);
  square(x2, y2);
  if (o->Kind != kvkLINE) {
    square(x2, y1);
    square(x1, y2);
  }
  const int cx = x1 + (x2 - x1 + 1) / 2, cy = y1 + (y2 - y1 + 1) / 2;
  const TPoint diamond[4] = {Point(cx, cy - 4), Point(cx + 4, cy), Point(cx, cy + 4), Point(cx - 4, cy)};
  canvas->Polygon(diamond, 4);
  canvas->Pen()->SetMode(pmCopy);
}

void TKorvaneVect::DrawSelGrips(TCanvas* canvas) {
  for (int i : sel_objs_) DrawObjectGrips(canvas, GetObj(i));
}

void TKorvaneVect::DrawRubber(TCanvas* canvas) {
  if (!down_ || !moved_ || (inserting_ < 0 && !rubber_)) return;
  canvas->Pen()->SetMode(pmNot);
  canvas->Pen()->SetWidth(1);
  canvas->Pen()->SetStyle(psSolid);
  canvas->Brush()->SetStyle(bsClear);
  const int x0 = std::min(down_pt_.x, cur_pt_.x), x1 = std::max(down_pt_.x, cur_pt_.x);
  const int y0 = std::min(down_pt_.y, cur_pt_.y), y1 = std::max(down_pt_.y, cur_pt_.y);
  if (inserting_ == kvkLINE) {
    canvas->MoveTo(down_pt_.x, down_pt_.y);
    canvas->LineTo(cur_pt_.x, cur_pt_.y);
  } else if (inserting_ == kvkELLIPSE) {
    canvas->Ellipse(x0, y0, x1, y1);
  } else {
    canvas->Rectangle(x0, y0, x1, y1);
  }
  canvas->Pen()->SetMode(pmCopy);
}

void TKorvaneVect::VPaintTo(TCanvas* canvas) {
  drawn_ = 0;
  DrawObject(canvas, &root_, false);
  DrawSelGrips(canvas);
  DrawRubber(canvas);
}

void TKorvaneVect::PaintTo(TCanvas* canvas) {
  TKorvaneView::PaintTo(canvas);
  VPaintTo(canvas);
}

void TKorvaneVect::CopyObjectsToBack() {
  TBitmap* b = GetFBitmap();
  if (!b || b->Empty()) return;
  // A text being edited is drawn as its text, not as the edit frame; the
  // editor stays open.
  const int editing = edit_idx_;
  edit_idx_ = -1;
  DrawObject(b->Canvas(), &root_, true);
  edit_idx_ = editing;
  b->Canvas()->EndPaint();
  b->Changed();
  Update();
  ImageChange();
}

void TKorvaneVect::Update() {
  TKorvaneView::Update();
  if (TBitmap* b = GetFBitmap()) {
    root_.x1 = root_.y1 = 0;
    root_.x2 = b->Width() - 1;
    root_.y2 = b->Height() - 1;
  }
}

}  // namespace korvane
