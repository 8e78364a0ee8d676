// Fuzz target for the I/O component's stream path: detection, parameters
// only, then a load by the detected format, with the library's LZW coders
// installed. Any byte string either loads (a 1- or 24-bit bitmap) or raises
// EInvalidGraphic; the last byte picks the frame, page or icon image.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/io/kvio.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool installed = (InstallKorvaneLZWCoders(), true);
  (void)installed;
  TMemoryStream in;
  in.SetData(data, size);
  TBitmap bmp;
  TKorvaneIO io;
  io.SetAttachedBitmap(&bmp);
  const TIOFileType type = TKorvaneIO::FindStreamFormat(&in);
  if (in.Position() != 0) std::abort();
  io.ParamsFromStream(&in);
  if (io.Params()->FileType != type && io.Params()->FileType != ioUnknown) std::abort();
  // Images above 4 megapixels are not decoded here.
  if (io.Params()->FileType != ioUnknown && int64_t(io.Params()->Width) * io.Params()->Height > (int64_t(1) << 22))
    return 0;
  const int32_t index = size ? data[size - 1] % 3 : 0;
  io.Params()->GIF_ImageIndex = io.Params()->TIFF_ImageIndex = index;
  io.Params()->ICO_ImageIndex = io.Params()->CUR_ImageIndex = index;
  // Headed streams (what the stream saves write) are read with headers on.
  io.StreamHeaders = size >= 4 && (std::memcmp(data, "TIFF", 4) == 0 || std::memcmp(data, "PCX", 3) == 0);
  in.SetPosition(0);
  try {
    switch (type) {
      case ioJPEG: io.LoadFromStreamJpeg(&in); break;
      case ioGIF: io.LoadFromStreamGif(&in); break;
      case ioPCX: io.LoadFromStreamPCX(&in); break;
      case ioBMP: io.LoadFromStreamBMP(&in); break;
      case ioTIFF: io.LoadFromStreamTIFF(&in); break;
      case ioPNG: io.LoadFromStreamPNG(&in); break;
      case ioICO: io.LoadFromStreamICO(&in); break;
      case ioCUR: io.LoadFromStreamCUR(&in); break;
      default: return 0;
    }
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  if (in.Position() < 0 || in.Position() > int64_t(size)) std::abort();
  if (bmp.Empty()) return 0;
  if (bmp.PixelFormat() != pf1bit && bmp.PixelFormat() != pf24bit) std::abort();
  unsigned sum = 0;
  const int row = (bmp.Width() * bmp.BitsPerPixel() + 7) / 8;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int i = 0; i < row; ++i) sum += bmp.Scanline(y)[i];
  return int(sum) & 0;
}
