// Color models and color adjustments.
#include "korvane/proc/colors.h"

#include <cstdint>

namespace korvane {

void _GetMediaContrastRGB(const TBitmap* Bitmap, int& mR, int& mG, int& mB) {
  mR = mG = mB = 128;
  if (!Bitmap || Bitmap->PixelFormat() != pf24bit || Bitmap->Empty()) return;
  const int w = Bitmap->Width(), h = Bitmap->Height();
  const uint8_t* row0 = Bitmap->Scanline(0);
  const ptrdiff_t stride = h > 1 ? Bitmap->Scanline(1) - row0 : 0;
  uint64_t sr = 0, sg = 0, sb = 0;
  for (int y = 0; y < h; ++y) {
    const TRGB* p = reinterpret_cast<const TRGB*>(row0 + stride * y);
    for (int x = 0; x < w; ++x) sr += p[x].r, sg += p[x].g, sb += p[x].b;
  }
  const uint64_t n = uint64_t(w) * uint64_t(h);
  mR = int(sr / n), mG = int(sg / n), mB = int(sb / n);
}

}  // namespace korvane
