// Fuzz target for the TIFF reader: any stream either loads a page (1- or
// 24-bit, the size its directory gave) or raises EInvalidGraphic. The page is
// chosen by the first byte; the library's LZW decoder is installed; pages
// over a million pixels are only parsed.
#include <cstdint>
#include <cstdlib>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/io/codecs/tiff/tiff_codec.h"
#include "korvane/io/codecs/tiff/tiff_lzw.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  TMemoryStream m;
  m.SetData(data + 1, size - 1);
  TIOParamsVals p;
  p.TIFF_LZWDecompFunc = TIFFLZWDecompress;
  p.TIFF_ImageIndex = data[0] & 3;
  TBitmap bmp;
  int32_t pages = 0;
  try {
    TIFFReadStream(&bmp, &m, pages, true, nullpr, &p);
    if (int64_t(p.Width) * p.Height > 1000000) return 0;
    m.SetPosition(0);
    TIFFReadStream(&bmp, &m, pages, false, nullpr, &p);
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  if (bmp.PixelFormat() != pf1bit && bmp.PixelFormat() != pf24bit) std::abort();
  if (bmp.Width() != p.Width || bmp.Height() != p.Height) std::abort();
  unsigned sum = 0;
  const size_t row = bmp.PixelFormat() == pf1bit ? (size_t(bmp.Width()) + 7) / 8 : size_t(bmp.Width()) * 3;
  for (int y = 0; y < bmp.Height(); ++y)
    for (size_t i = 0; i < row; ++i) sum += bmp.Scanline(y)[i];
  return int(sum) & 0;
}
