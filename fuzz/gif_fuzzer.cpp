// Fuzz target for the GIF reader with the library's LZW decoder installed:
// any byte string either loads a frame (1- or 24-bit, the size the record
// reports) or raises EInvalidGraphic. The frame to load comes from the last
// byte, so later frames are decoded too.
#include <cstdint>
#include <cstdlib>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/io/codecs/gif/gif_codec.h"
#include "korvane/io/codecs/gif/gif_lzw.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream in;
  in.SetData(data, size);
  TIOParamsVals p;
  p.GIF_LZWDecompFunc = GIFLZWDecompress;
  p.GIF_ImageIndex = size ? data[size - 1] % 4 : 0;
  TBitmap bmp;
  int32_t count = 0;
  try {
    // Parameters first: frames above 4 megapixels are not decoded here.
    ReadGifStream(&in, &bmp, count, p, nullpr, true);
    if (int64_t(p.Width) * p.Height > (int64_t(1) << 22)) return 0;
    in.SetPosition(0);
    ReadGifStream(&in, &bmp, count, p, nullpr, false);
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  if ((p.ColorMap == nullptr) != (p.ColorMapCount == 0)) std::abort();
  if (bmp.Empty()) return 0;
  if (bmp.PixelFormat() != pf1bit && bmp.PixelFormat() != pf24bit) std::abort();
  if (bmp.Width() != p.Width || bmp.Height() != p.Height) std::abort();
  // Touch every pixel byte so uninitialised memory shows.
  unsigned sum = 0;
  const int row = (bmp.Width() * bmp.BitsPerPixel() + 7) / 8;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int i = 0; i < row; ++i) sum += bmp.Scanline(y)[i];
  return int(sum) & 0;
}
