// Fuzz target for the processing component's DIB reader: packed DIBs of every
// depth and the YUV four-character codes, whole or with the pixel rows apart
// from the header. Any block either loads into a 1- or 24-bit bitmap or
// raises EInvalidGraphic and leaves the bitmap untouched.
#include <cstdint>
#include <cstdlib>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/proc/kvproc.h"

using namespace korvane;

namespace {

unsigned Touch(TBitmap& bmp) {
  if (bmp.PixelFormat() != pf1bit && bmp.PixelFormat() != pf24bit) std::abort();
  unsigned sum = 0;
  const size_t row = (size_t(bmp.Width()) * (bmp.PixelFormat() == pf1bit ? 1 : 24) + 7) / 8;
  for (int y = 0; y < bmp.Height(); ++y)
    for (size_t i = 0; i < row; ++i) sum += bmp.Scanline(y)[i];
  return sum;
}

unsigned Load(const uint8_t* dib, size_t dibSize, const uint8_t* bits, size_t bitsSize) {
  TBitmap bmp(3, 2, pf24bit);
  try {
    _CopyDIB2Bitmap(dib, dibSize, &bmp, bits, bitsSize);
  } catch (const EInvalidGraphic&) {
    if (bmp.Width() != 3 || bmp.Height() != 2) std::abort();
    return 0;
  }
  return Touch(bmp);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  unsigned sum = Load(data, size, nullptr, 0);
  // The same block with its rows apart: a header of 52 bytes (header and
  // masks), the rest as pixels.
  if (size > 52) sum += Load(data, 52, data + 52, size - 52);
  return int(sum) & 0;
}
