// Fuzz target for the icon and cursor readers: the detection functions and
// every image of the directory (up to 8) through both readers; each load
// either succeeds or raises EInvalidGraphic.
#include <cstdint>
#include <cstdlib>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/codecs/bmp/bmp_codec.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream ms;
  ms.SetData(data, size);
  ICOTryStream(&ms);
  CURTryStream(&ms);
  if (ms.Position() != 0) std::abort();
  unsigned sum = 0;
  for (int index = 0; index < 8; ++index) {
    for (bool cursor : {false, true}) {
      TBitmap bmp;
      TIOParamsVals p;
      p.ICO_ImageIndex = p.CUR_ImageIndex = index;
      ms.SetPosition(0);
      try {
        cursor ? CURReadStream(&ms, &bmp, p, false) : ICOReadStream(&ms, &bmp, p, false);
      } catch (const EInvalidGraphic&) {
        continue;
      }
      const size_t row = (size_t(bmp.Width()) * (bmp.PixelFormat() == pf1bit ? 1 : 24) + 7) / 8;
      for (int y = 0; y < bmp.Height(); ++y)
        for (size_t i = 0; i < row; ++i) sum += bmp.Scanline(y)[i];
    }
  }
  return int(sum) & 0;
}
