// Fuzz target for the PNG reader: any input either raises EInvalidGraphic or
// loads a 1- or 24-bit bitmap of the size the parameters report. Images
// larger than a few megapixels are only measured (ParamsOnly).
#include <cstdint>
#include <cstdlib>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/codecs/png/png_codec.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream s;
  s.SetData(data, size);
  TIOParamsVals p;
  if (size > 0) p.PNG_Background = TRGB{data[size - 1], uint8_t(data[size - 1] * 3), 77};
  TBitmap bmp(3, 2, pf24bit);
  bool abort = false;
  TProgressRec pr;
  pr.Aborting = &abort;
  try {
    ReadPNGStream(&s, &bmp, p, true, pr);
    if (int64_t(p.Width) * p.Height > 4000000) return 0;
    s.SetPosition(0);
    ReadPNGStream(&s, &bmp, p, false, pr);
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  const TPixelFormat pf = bmp.PixelFormat();
  if ((pf != pf24bit && pf != pf1bit) || bmp.Width() != p.Width || bmp.Height() != p.Height) std::abort();
  unsigned sum = 0;
  const int bytes = pf == pf1bit ? (bmp.Width() + 7) / 8 : bmp.Width() * 3;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int i = 0; i < bytes; ++i) sum += bmp.Scanline(y)[i];
  return int(sum) & 0;
}
