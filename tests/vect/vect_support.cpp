#include "tests/vect/vect_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <algorithm>
#include <cstring>

#include "tests/test_support.h"

namespace korvane::vtest {

std::unique_ptr<TKorvaneVect> MakeVect(int cw, int ch, int bw, int bh) {
  auto v = std::make_unique<TKorvaneVect>(nullptr);
  v->SetBorderStyle(bsNone);
  v->SetBounds(0, 0, cw, ch);
  v->GetBitmap()->SetPixelFormat(pf24bit);
  v->GetBitmap()->Allocate(bw, bh, pf24bit);
  v->Update();
  return v;
}

int AddKind(TKorvaneVect& v, TKVVObjectKind kind, int x1, int y1, int x2, int y2) {
  TKVVObject& t = v.TemplateObject();
  const TKVVObject saved = t;
  t.Kind = kind;
  t.x1 = x1, t.y1 = y1, t.x2 = x2, t.y2 = y2;
  t.PenColor = clWhite;
  t.BrushStyle = bsClear;
  const int idx = v.AddNewObject();
  t = saved;
  return idx;
}

void Render(TKorvaneVect& v, TBitmap& out) {
  out.Allocate(v.ClientWidth(), v.ClientHeight(), pf24bit);
  v.PaintTo(out.Canvas());
  out.Canvas()->EndPaint();
}

int CountColor(TBitmap& b, unsigned rgb) {
  int n = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) n += test::Pixel24(b, x, y) == rgb;
  return n;
}

TRect InkBounds(TBitmap& b, unsigned rgb) {
  TRect r{b.Width(), b.Height(), -1, -1};
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (test::Pixel24(b, x, y) == rgb) {
        r.Left = std::min(r.Left, x), r.Top = std::min(r.Top, y);
        r.Right = std::max(r.Right, x + 1), r.Bottom = std::max(r.Bottom, y + 1);
      }
  return r;
}

bool InkNear(TBitmap& b, int x, int y, unsigned rgb, int r) {
  for (int j = y - r; j <= y + r; ++j)
    for (int i = x - r; i <= x + r; ++i)
      if (i >= 0 && j >= 0 && i < b.Width() && j < b.Height() && test::Pixel24(b, i, j) == rgb) return true;
  return false;
}

QPoint W(TKorvaneVect& v, int x, int y) { return v.ClientArea().topLeft() + QPoint(x, y); }

void Drag(TKorvaneVect& v, std::pair<int, int> from, std::initializer_list<std::pair<int, int>> path,
          Qt::KeyboardModifiers mods) {
  QTest::mousePress(&v, Qt::LeftButton, mods, W(v, from.first, from.second), 300);
  std::pair<int, int> last = from;
  for (auto p : path) {
    const QPoint w = W(v, p.first, p.second);
    QMouseEvent e(QEvent::MouseMove, QPointF(w), QPointF(v.mapToGlobal(w)), Qt::NoButton, Qt::LeftButton,
                  mods);
    QApplication::sendEvent(&v, &e);
    last = p;
  }
  QTest::mouseRelease(&v, Qt::LeftButton, mods, W(v, last.first, last.second));
}

::testing::AssertionResult SameLayer(TKorvaneVect& a, TKorvaneVect& b) {
  std::vector<std::pair<int, int>> todo;
  auto kids = [](TKorvaneVect& v, int p) { return v.GetObj(p)->Children; };
  std::vector<int32_t> ka = kids(a, TKorvaneVect::kRoot), kb = kids(b, TKorvaneVect::kRoot);
  if (ka.size() != kb.size()) return ::testing::AssertionFailure() << "top-level counts differ";
  for (size_t i = 0; i < ka.size(); ++i) todo.push_back({ka[i], kb[i]});
  while (!todo.empty()) {
    auto [ia, ib] = todo.back();
    todo.pop_back();
    const TKVVObject& x = *a.GetObj(ia);
    const TKVVObject& y = *b.GetObj(ib);
    auto fail = [&](const char* what) {
      return ::testing::AssertionFailure() << what << " differs for objects " << ia << " / " << ib;
    };
    if (x.x1 != y.x1 || x.y1 != y.y1 || x.x2 != y.x2 || x.y2 != y.y2) return fail("rectangle");
    if (x.Kind != y.Kind) return fail("Kind");
    if (x.Name != y.Name || x.ID != y.ID) return fail("Name/ID");
    if (x.PenColor != y.PenColor || x.PenStyle != y.PenStyle || x.PenWidth != y.PenWidth) return fail("pen");
    if (x.BrushColor != y.BrushColor || x.BrushStyle != y.BrushStyle) return fail("brush");
    if (!(x.Style == y.Style)) return fail("Style");
    if (x.Kind == kvkLINE && (x.BeginShape != y.BeginShape || x.EndShape != y.EndShape ||
                              x.ShapeWidth != y.ShapeWidth || x.ShapeHeight != y.ShapeHeight))
      return fail("shapes");
    if (x.Kind == kvkARC && (x.AngleStart != y.AngleStart || x.AngleEnd != y.AngleEnd)) return fail("angles");
    if (x.Kind == kvkTEXT) {
      if (x.Text != y.Text || x.TextAlign != y.TextAlign) return fail("text");
      if (x.Font.has_value() != y.Font.has_value() ||
          (x.Font && std::memcmp(&*x.Font, &*y.Font, sizeof(TLogFont)) != 0))
        return fail("font");
    }
    if (x.Kind == kvkBITMAP) {
      TBitmap* ba = a.GetBitmap(x.BitmapIdx);
      TBitmap* bb = b.GetBitmap(y.BitmapIdx);
      if (!ba != !bb || (ba && !test::SamePixels(*ba, *bb))) return fail("bitmap");
    }
    if (x.Kind == kvkFRAME) {
      if (x.Children.size() != y.Children.size()) return fail("child count");
      for (size_t i = 0; i < x.Children.size(); ++i) todo.push_back({x.Children[i], y.Children[i]});
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace korvane::vtest
