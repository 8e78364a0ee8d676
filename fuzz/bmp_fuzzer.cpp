// Fuzz target for the BMP reader: any input either loads into a 1- or 24-bit
// bitmap of the size the parameters report, or raises EInvalidGraphic.
// Headers promising more than a million pixels are only parsed.
#include <cstdint>
#include <cstdlib>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/codecs/bmp/bmp_codec.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream ms;
  ms.SetData(data, size);
  TBitmap bmp;
  TIOParamsVals p;
  try {
    BMPReadStream(&ms, &bmp, 0, p, nullpr, true);
    if (int64_t(p.Width) * p.Height > (int64_t(1) << 20)) return 0;
    ms.SetPosition(0);
    BMPReadStream(&ms, &bmp, int64_t(size), p, nullpr, false);
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  if (bmp.Width() != p.Width || bmp.Height() != p.Height) std::abort();
  if (bmp.PixelFormat() != pf1bit && bmp.PixelFormat() != pf24bit) std::abort();
  // Touch every pixel byte so uninitialised memory shows.
  unsigned sum = 0;
  const size_t row = (size_t(bmp.Width()) * (bmp.PixelFormat() == pf1bit ? 1 : 24) + 7) / 8;
  for (int y = 0; y < bmp.Height(); ++y)
    for (size_t i = 0; i < row; ++i) sum += bmp.Scanline(y)[i];
  return int(sum) & 0;
}
