// The vector layer: painting 10,000 objects of mixed kinds at zoom 100
// beside a bare QPainter drawing the same primitives, FindNearObj over them,
// KVV save and load of them, and DXF import of a file of 100,000 entities
// (KORVANE_DXF names it; compare_vect.sh writes it and times ezdxf on it).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPainter>
#include <cmath>
#include <cstdlib>
#include <random>

#include "korvane/foundations/host/streams.h"
#include "korvane/vect/kvvect.h"
#include "bench/qt_bench_main.h"

using namespace korvane;

namespace {

constexpr int kW = 1600, kH = 1000, kObjects = 10000;

// Lines with arrows, boxes, ellipses, arcs, small bitmaps and texts spread
// over the picture, the same for every run.
TKorvaneVect* Layer() {
  static TKorvaneVect* v = [] {
    auto* view = new TKorvaneVect(nullptr);
    view->SetBorderStyle(bsNone);
    view->SetBounds(0, 0, kW, kH);
    view->GetBitmap()->Allocate(kW, kH, pf24bit);
    view->Update();
    TBitmap stamp(16, 12, pf24bit);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> px(0, kW - 60), py(0, kH - 40), sz(4, 60);
    TKVVObject o;
    o.Font = LogFontOf(*view->Canvas()->Font());
    o.Font->lfHeight = -12;
    for (int i = 0; i < kObjects; ++i) {
      o.Kind = TKVVObjectKind(1 + i % 6);
      o.x1 = px(rng), o.y1 = py(rng);
      o.x2 = o.x1 + sz(rng), o.y2 = o.y1 + sz(rng) * 2 / 3;
      o.PenColor = RGB(uint8_t(i * 37), uint8_t(i * 11), uint8_t(i * 5));
      o.BrushStyle = i % 4 == 0 ? bsSolid : bsClear;
      o.BrushColor = clNavy;
      o.EndShape = o.Kind == kvkLINE ? kvsOUTARROW : kvsNONE;
      o.AngleStart = 0.3, o.AngleEnd = 4.0;
      o.Text = o.Kind == kvkTEXT ? "Kv" : "";
      o.BitmapIdx = -1;
      const int idx = view->AddVObject(TKorvaneVect::kRoot, o);
      if (o.Kind == kvkBITMAP) view->SetObjBitmapNU(idx, &stamp);
    }
    return view;
  }();
  return v;
}

void BM_VectPaintObjects(benchmark::State& st) {
  TKorvaneVect* v = Layer();
  TBitmap target(kW, kH, pf32bit);
  for (auto _ : st) {
    v->VPaintTo(target.Canvas());
    benchmark::DoNotOptimize(target.Canvas()->Painter());
  }
  st.counters["drawn"] = v->DrawnObjects();
}

// The same primitives with a bare painter: aliased, the pen, brush and font
// of each object set before it is drawn.
void BM_BarePaintObjects(benchmark::State& st) {
  TKorvaneVect* v = Layer();
  QImage target(kW, kH, QImage::Format_RGB32);
  QImage stamp(16, 12, QImage::Format_RGB32);
  stamp.fill(Qt::black);
  QFont font;
  font.setPixelSize(12);
  font.setStyleStrategy(QFont::NoAntialias);
  QPainter p(&target);
  const auto& kids = v->GetObj(TKorvaneVect::kRoot)->Children;
  for (auto _ : st) {
    for (int idx : kids) {
      const TKVVObject& o = *v->GetObj(idx);
      const QColor pc(GetRValue(o.PenColor), GetGValue(o.PenColor), GetBValue(o.PenColor));
      p.setPen(QPen(pc, 1));
      p.setBrush(o.BrushStyle == bsSolid ? QBrush(Qt::darkBlue) : QBrush(Qt::NoBrush));
      const QRect r(o.x1, o.y1, o.x2 - o.x1, o.y2 - o.y1);
      switch (o.Kind) {
        case kvkLINE: {
          p.drawLine(o.x1, o.y1, o.x2, o.y2);
          const QPoint tri[3] = {{o.x2 - 5, o.y2 - 20}, {o.x2 + 5, o.y2 - 20}, {o.x2, o.y2}};
          p.drawPolygon(tri, 3);
          break;
        }
        case kvkBOX:
          p.drawRect(r);
          break;
        case kvkELLIPSE:
          p.drawEllipse(r);
          break;
        case kvkARC:
          p.drawArc(r, 0, 200 * 16);
          break;
        case kvkBITMAP:
          p.drawImage(QRect(o.x1, o.y1, o.x2 - o.x1 + 1, o.y2 - o.y1 + 1), stamp);
          break;
        case kvkTEXT:
          p.save();
          p.setClipRect(r);
          p.setFont(font);
          p.drawText(o.x1, o.y1 + 12, QString::fromStdString(o.Text));
          p.restore();
          break;
        default:
          break;
      }
    }
    benchmark::DoNotOptimize(target.constBits());
  }
}

void BM_FindNearObj(benchmark::State& st) {
  TKorvaneVect* v = Layer();
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> px(0, kW - 1), py(0, kH - 1);
  for (auto _ : st) {
    double d;
    benchmark::DoNotOptimize(v->FindNearObj(TKorvaneVect::kRoot, px(rng), py(rng), d));
  }
}

void BM_KVVSave(benchmark::State& st) {
  TKorvaneVect* v = Layer();
  for (auto _ : st) {
    TMemoryStream m;
    v->SaveToStreamKVV(&m);
    st.counters["bytes"] = double(m.Size());
  }
}

void BM_KVVLoad(benchmark::State& st) {
  TKorvaneVect* v = Layer();
  TMemoryStream m;
  v->SaveToStreamKVV(&m);
  static TKorvaneVect* target = [] {
    auto* t = new TKorvaneVect(nullptr);
    t->GetBitmap()->Allocate(kW, kH, pf24bit);
    return t;
  }();
  for (auto _ : st) {
    m.SetPosition(0);
    target->LoadFromStreamKVV(&m);
  }
  st.counters["objects"] = target->ObjectsCount();
}

void BM_DXFImport(benchmark::State& st) {
  const char* path = std::getenv("KORVANE_DXF");
  if (!path) {
    st.SkipWithError("KORVANE_DXF is not set");
    return;
  }
  static TKorvaneVect* target = [] {
    auto* t = new TKorvaneVect(nullptr);
    t->GetBitmap()->Allocate(kW, kH, pf24bit);
    return t;
  }();
  for (auto _ : st) {
    st.PauseTiming();
    target->RemoveAllObjects();
    st.ResumeTiming();
    // Reading the file is part of an import.
    target->ImportDXF(path);
  }
  st.counters["objects"] = target->ObjectsCount();
}

}  // namespace

BENCHMARK(BM_VectPaintObjects)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BarePaintObjects)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FindNearObj)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KVVSave)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KVVLoad)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DXFImport)->Unit(benchmark::kMillisecond)->UseRealTime();

KORVANE_QT_BENCHMARK_MAIN()
