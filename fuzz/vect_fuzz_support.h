// A vector view for the fuzz targets: one offscreen widget application and
// one view for the whole run, emptied before every input.
#pragma once
#include <QApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "korvane/vect/kvvect.h"

// Defined only when libFuzzer itself is linked (not in the corpus replay).
extern "C" int LLVMFuzzerRunDriver(int* argc, char*** argv, int (*cb)(const uint8_t*, size_t))
    __attribute__((weak));

namespace korvane {

inline TKorvaneVect* FuzzVect() {
  // Freed by an exit handler registered after Qt's own statics exist, so
  // they go before Qt is torn down. Under libFuzzer, whose exit path Qt's
  // teardown does not survive, the application is left to the process end.
  static QApplication* app = nullptr;
  static TKorvaneVect* v = nullptr;
  if (!v) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) app = new QApplication(argc, argv);
    v = new TKorvaneVect(nullptr);
    v->SetBounds(0, 0, 64, 48);
    v->GetBitmap()->Allocate(64, 48, pf24bit);
    v->Update();
    // Draw every kind and brush once (rotated text too) before the exit handler is
    // registered: Qt creates its font and glyph caches on first use, and
    // they must outlive the handler that tears the application down.
    TKVVObject o;
    o.x2 = o.y2 = 40;
    o.Text = "Kv";
    o.Font = LogFontOf(*v->Canvas()->Font());
    o.Font->lfEscapement = 450;
    for (int k = kvkLINE; k <= kvkTEXT; ++k) {
      o.Kind = TKVVObjectKind(k);
      v->AddVObject(TKorvaneVect::kRoot, o);
    }
    // Hatched brushes fill their pattern cache on first use.
    o.Kind = kvkBOX;
    for (int b = bsSolid; b <= bsDiagCross; ++b) {
      o.BrushStyle = TBrushStyle(b);
      v->AddVObject(TKorvaneVect::kRoot, o);
    }
    TBitmap warm(64, 48, pf24bit);
    v->PaintTo(warm.Canvas());
    warm.Canvas()->EndPaint();
    std::atexit([] {
      delete v;
      if (!LLVMFuzzerRunDriver) delete app;
    });
  }
  v->RemoveAllObjects();
  return v;
}

// Draws the layer into a bitmap and walks the objects, so sanitizers see
// every field a load filled.
inline unsigned FuzzTouch(TKorvaneVect* v) {
  TBitmap shot(64, 48, pf24bit);
  v->PaintTo(shot.Canvas());
  shot.Canvas()->EndPaint();
  unsigned sum = 0;
  for (int i = 0; i < v->ObjectArraySize(); ++i) {
    PKVVObject o = v->GetObj(i);
    sum += unsigned(o->x1 ^ o->y2) + o->Kind + unsigned(o->Text.size() + o->Name.size());
    if (TBitmap* b = v->GetObjBitmap(i)) sum += unsigned(b->Width());
  }
  double d;
  sum += unsigned(v->FindNearObj(TKorvaneVect::kRoot, 10, 10, d));
  return sum;
}

}  // namespace korvane
