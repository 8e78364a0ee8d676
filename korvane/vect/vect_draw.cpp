// Drawing of the vector objects: on screen at the view's zoom and origin,
// or into the bitmap itself (CopyObjectsToBack), and the selection grips.
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "korvane/vect/kvvect.h"

namespace korvane {

namespace {

QColor QColorOf(TColor c) {
  c = ColorToRGB(c);
  return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

// trunc(v * zoom / 100), saturated.
int Zoomed(int v, int zoom) { return KVSat(int64_t(v) * zoom / 100); }

// Drawing coordinates are kept within 2^28 of the origin: far beyond any
// surface, and room for the +1 of inclusive corners and for the painter.
constexpr int kFar = 1 << 28;
int Near(int64_t v) { return int(std::clamp<int64_t>(v, -kFar, kFar)); }

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
  pen->SetWidth(o->PenWidth);
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
      canvas->MoveTo(x1, y1);
      canvas->LineTo(x2, y2);
      const int w = KVTrunc(o->ShapeWidth * s), h = KVTrunc(o->ShapeHeight * s);
      DrawLineShape(canvas, x1, y1, x2, y2, o->BeginShape, w, h);
      DrawLineShape(canvas, x2, y2, x1, y1, o->EndShape, w, h);
      break;
    }
    case kvkBOX: canvas->Rectangle(x1, y1, x2 + 1, y2 + 1); break;
    case kvkELLIPSE: canvas->Ellipse(x1, y1, x2 + 1, y2 + 1); break;
    case kvkARC: {
      const double rx = (x2 - x1) / 2.0, ry = (y2 - y1) / 2.0;
      const int sx = x1 + KVTrunc(rx + std::cos(o->AngleStart) * rx);
      const int sy = y1 + KVTrunc(ry + std::sin(o->AngleStart) * ry);
      int ex = x1 + KVTrunc(rx + std::cos(o->AngleEnd) * rx);
      int ey = y1 + KVTrunc(ry + std::sin(o->AngleEnd) * ry);
      // A sweep of whole turns is the full outline: sin(2 pi) is not quite 0,
      // and truncation would otherwise turn it into a one-degree sliver.
      const double turns = (o->AngleEnd - o->AngleStart) / (2 * M_PI);
      if (std::abs(turns - std::round(turns)) < 1e-9) ex = sx, ey = sy;
      canvas->Arc(x1, y1, x2 + 1, y2 + 1, sx, sy, ex, ey);
      break;
    }
    case kvkBITMAP: {
      TBitmap* b = GetBitmap(o->BitmapIdx);
      if (!b || b->Empty()) {
        canvas->MoveTo(x1, y1);
        canvas->LineTo(x2, y2);
        canvas->MoveTo(x2, y1);
        canvas->LineTo(x1, y2);
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
    case kvkTEXT: DrawObjectText(canvas, x1, y1, x2, y2, o, s); break;
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
  const int bx = X + KVTrunc(H * ux), by = Y + KVTrunc(H * uy);
  const int hx = KVTrunc(half * nx), hy = KVTrunc(half * ny);
  TPoint pts[3];
  if (shape == kvsINARROW) {
    pts[0] = Point(X + hx, Y + hy);
    pts[1] = Point(X - hx, Y - hy);
    pts[2] = Point(bx, by);
  } else {
    pts[0] = Point(bx + hx, by + hy);
    pts[1] = Point(bx - hx, by - hy);
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
  TFont* cf = canvas->Font();
  TFont saved;
  saved.Assign(*cf);
  FontFromLog(lf, *cf);
  cf->SetColor(o->PenColor);
  const double a = lf.lfEscapement / 10.0 * M_PI / 180.0;
  const int tw = canvas->TextWidth(o->Text), th = canvas->TextHeight(o->Text);
  const int dy = KVTrunc((y2 - y1) - std::cos(a) * th + std::sin(a) * tw) / 2;
  int dx;
  switch (o->TextAlign) {
    case taRightJustify: dx = KVTrunc((x2 - x1) - std::cos(a) * tw); break;
    case taCenter: dx = KVTrunc((x2 - x1) - std::cos(a) * tw - std::sin(a) * th) / 2; break;
    default: dx = std::abs(KVTrunc(std::sin(a) * th)); break;
  }
  if (lf.lfEscapement == 0) {
    canvas->TextRect(Rect(x1, y1, x2, y2), x1 + dx, y1 + dy, o->Text);
  } else if (QPainter* p = canvas->Painter()) {
    // The canvas's TextRect writes level text; rotated text is drawn here with
    // the same clip, fill and baseline.
    QFont qf = cf->ToQFont();
    QFontMetrics fm(qf);
    p->save();
    p->setCompositionMode(QPainter::CompositionMode_SourceOver);
    QRect qr(x1, y1, x2 - x1, y2 - y1);
    p->setClipRect(qr, canvas->HasClip() ? Qt::IntersectClip : Qt::ReplaceClip);
    if (o->BrushStyle != bsClear) p->fillRect(qr, QColorOf(o->BrushColor));
    p->setFont(qf);
    p->setPen(QColorOf(o->PenColor));
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
  DrawObject(b->Canvas(), &root_, true);
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
