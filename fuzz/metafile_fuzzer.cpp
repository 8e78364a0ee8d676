// Fuzz target for the metafile player: any input either loads (and then
// plays onto a 64 x 64 bitmap and onto one of its own size, capped at
// 512 x 512) or raises EInvalidGraphic and leaves the metafile empty.
#include <QGuiApplication>
#include <cstdint>
#include <cstdlib>
#include <algorithm>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/metafile/metafile.h"

using namespace korvane;

namespace {

// Text needs fonts, and fonts need a GUI application. It lives until the
// process ends: destroying it among the static destructors would crash.
void EnsureApp() {
  if (QCoreApplication::instance()) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "metafile_fuzzer";
  static char* argv[] = {name, nullptr};
  new QGuiApplication(argc, argv);
}

unsigned Touch(TBitmap& bmp) {
  unsigned sum = 0;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int i = 0; i < bmp.Width() * 3; ++i) sum += bmp.Scanline(y)[i];
  return sum;
}

}  // namespace

// The font configuration library keeps its caches for the life of the
// process once text has been drawn; that is not a leak of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnsureApp();
  TMemoryStream ms;
  ms.SetData(data, size);
  TMetafile mf;
  try {
    mf.LoadFromStream(&ms);
  } catch (const EInvalidGraphic&) {
    if (!mf.Empty()) std::abort();
    return 0;
  }
  if (mf.Width() < 0 || mf.Height() < 0) std::abort();
  TBitmap small(64, 64, pf24bit);
  mf.Draw(small.Canvas(), Rect(0, 0, 64, 64));
  unsigned sum = Touch(small);
  const int w = std::clamp(mf.Width(), 1, 512), h = std::clamp(mf.Height(), 1, 512);
  TBitmap own(w, h, pf24bit);
  mf.Draw(own.Canvas(), Rect(0, 0, w, h));
  sum += Touch(own);
  return int(sum) & 0;
}
