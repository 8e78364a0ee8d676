// Painting cost of the image view: a 12000 x 9000 image painted into a
// 1600 x 1000 client at several zooms, beside a bare QPainter::drawImage of
// the same source rectangle into an image of the client's size.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPainter>
#include <cstdlib>
#include <memory>

#include "korvane/view/kvview.h"
#include "bench/qt_bench_main.h"

using namespace korvane;

namespace {

constexpr int kW = 12000, kH = 9000, kCW = 1600, kCH = 1000;

TKorvaneView* View() {
  static TKorvaneView* v = [] {
    auto* view = new TKorvaneView(nullptr);
    view->SetBorderStyle(bsNone);
    view->SetBounds(0, 0, kCW, kCH);
    TBitmap* b = view->GetBitmap();
    b->Allocate(kW, kH, pf24bit);
    for (int y = 0; y < kH; ++y) {
      uint8_t* row = b->Scanline(y);
      for (int x = 0; x < kW; ++x) {
        row[3 * x] = uint8_t(x ^ y);
        row[3 * x + 1] = uint8_t(x + 2 * y);
        row[3 * x + 2] = uint8_t(3 * x - y);
      }
    }
    view->Update();
    return view;
  }();
  return v;
}

// Sets the zoom and an origin in the middle of the image.
void Prepare(TKorvaneView* v, int zoom, TResampleFilter f) {
  v->SetZoomFilter(f);
  v->SetZoom(zoom);
  int mx, my;
  v->GetMaxViewXY(mx, my);
  v->SetViewXY(mx / 2, my / 2);
}

void BM_ViewPaint(benchmark::State& st) {
  TKorvaneView* v = View();
  Prepare(v, int(st.range(0)), TResampleFilter(st.range(1)));
  TBitmap target(kCW, kCH, pf32bit);
  for (auto _ : st) {
    v->PaintTo(target.Canvas());
    benchmark::DoNotOptimize(target.Canvas()->Painter());
  }
}

// The same source rectangle the view paints, drawn by a bare painter.
void BM_BareDrawImage(benchmark::State& st) {
  TKorvaneView* v = View();
  Prepare(v, int(st.range(0)), rfNone);
  const TViewGeometry& g = v->Geometry();
  int sx = KVRound(double(g.ViewX) * kW / g.ZoomedWidth), sw = KVRound(double(g.ExtentX) * kW / g.ZoomedWidth);
  int sy = KVRound(double(g.ViewY) * kH / g.ZoomedHeight), sh = KVRound(double(g.ExtentY) * kH / g.ZoomedHeight);
  if (sx + sw > kW) --sw;
  if (sy + sh > kH) --sh;
  QImage src = v->GetBitmap()->SharedImage();
  QImage target(kCW, kCH, QImage::Format_RGB32);
  // The painter stays open across iterations, as the view's canvas does.
  QPainter p(&target);
  for (auto _ : st) {
    p.drawImage(QRect(g.OffsetX, g.OffsetY, g.ExtentX, g.ExtentY), src, QRect(sx, sy, sw, sh));
    benchmark::DoNotOptimize(target.constBits());
  }
  p.end();
}

}  // namespace

BENCHMARK(BM_ViewPaint)->Args({8, rfNone})->Args({100, rfNone})->Args({400, rfNone})->Args({400, rfTriangle})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BareDrawImage)->Arg(8)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond)->UseRealTime();

KORVANE_QT_BENCHMARK_MAIN()
