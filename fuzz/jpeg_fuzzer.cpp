// Fuzz target for the JPEG reader: any input either raises EInvalidGraphic
// or loads a 24-bit bitmap of the size the parameters report. Images larger
// than a few megapixels are only measured (ParamsOnly) to keep runs fast.
#include <cstdint>
#include <cstdlib>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/codecs/jpeg/jpeg_codec.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream s;
  s.SetData(data, size);
  TIOParamsVals p;
  p.JPEG_Scale = ioJPEG_FULLSIZE;
  // The last byte picks the DCT method and a scale, so every decoder path runs.
  if (size > 0) {
    p.JPEG_DCTMethod = TIOJPEGDctMethod(data[size - 1] % 3);
    p.JPEG_Scale = TIOJPEGScale(1 + (data[size - 1] >> 2) % 4);
  }
  TBitmap bmp(3, 2, pf24bit);
  bool abort = false;
  TProgressRec pr;
  pr.Aborting = &abort;
  try {
    ReadJPegStream(&s, &bmp, p, true, pr);
    if (int64_t(p.Width) * p.Height > 4000000) return 0;
    s.SetPosition(0);
    ReadJPegStream(&s, &bmp, p, false, pr);
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  if (bmp.PixelFormat() != pf24bit || bmp.Width() != p.Width || bmp.Height() != p.Height) std::abort();
  // Touch every pixel byte so uninitialised memory shows.
  unsigned sum = 0;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int i = 0; i < bmp.Width() * 3; ++i) sum += bmp.Scanline(y)[i];
  return int(sum) & 0;
}
