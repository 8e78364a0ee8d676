// Fuzz target for packed device-independent bitmaps as they arrive from the
// clipboard: any block either loads into a bitmap that holds what its header
// promised, or raises EInvalidGraphic and leaves the bitmap untouched. The
// drawing path gets the same block.
#include <cstdint>
#include <cstdlib>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/winsys.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TBitmap bmp(3, 2, pf24bit);
  try {
    PackedDIBToBitmap(data, size, &bmp);
  } catch (const EInvalidGraphic&) {
    if (bmp.Width() != 3 || bmp.Height() != 2) std::abort();
    return 0;
  }
  if (bmp.PixelFormat() != pf1bit && bmp.PixelFormat() != pf24bit) std::abort();
  // Touch every pixel byte so uninitialised memory shows.
  unsigned sum = 0;
  size_t row = size_t(bmp.Width()) * (bmp.PixelFormat() == pf1bit ? 1 : 24) / 8;
  for (int y = 0; y < bmp.Height(); ++y)
    for (size_t i = 0; i < row; ++i) sum += bmp.Scanline(y)[i];
  // Draw the same block scaled onto a small canvas.
  TBitmap dst(16, 16, pf24bit);
  DrawPackedDib(dst.Canvas(), 0, 0, 16, 16, data, size, 0, 0, bmp.Width(), bmp.Height());
  return int(sum) & 0;
}
