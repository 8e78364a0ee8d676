// Fuzz target for the AVI reader: any data either raises EInvalidGraphic or
// gives frames of the stream's size (24-bit, or 1-bit from a DIB), at most a
// few dozen of them, never larger than the frame limit for the data's size;
// the frame delay stays in 0 .. INT32_MAX whatever scale and rate say.
#include <cstdint>
#include <cstdlib>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/multi/avi_file.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    TKVAVIReader avi(data, size);
    // The reader refuses frames the data cannot stand for before it
    // allocates any.
    if (int64_t(avi.Width()) * avi.Height() > KVAVIFramePixelLimit(size)) std::abort();
    if (avi.DelayMs() < 0) std::abort();
    TBitmap bmp;
    int bits = 0;
    unsigned sum = 0;
    for (int n = 0; n < 32 && avi.NextFrame(&bmp, bits); ++n) {
      if (bmp.PixelFormat() != pf1bit && bmp.PixelFormat() != pf24bit) std::abort();
      if (bmp.Width() != avi.Width() || bmp.Height() != avi.Height()) std::abort();
      const size_t row =
          bmp.PixelFormat() == pf1bit ? (size_t(bmp.Width()) + 7) / 8 : size_t(bmp.Width()) * 3;
      // Every row of small frames, a sample of the rows of large ones.
      const int step = bmp.Height() > 256 ? bmp.Height() / 64 : 1;
      for (int y = 0; y < bmp.Height(); y += step)
        for (size_t i = 0; i < row; ++i) sum += bmp.Scanline(y)[i];
    }
    return int(sum) & 0;
  } catch (const EInvalidGraphic&) {
    return 0;
  }
}
