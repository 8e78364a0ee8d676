// Fuzz target for the AVI reader: any data either raises EInvalidGraphic or
// gives frames of the stream's size (24-bit, or 1-bit from a DIB), at most a
// few dozen of them; frames over a quarter million pixels are refused early.
#include <cstdint>
#include <cstdlib>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/multi/avi_file.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    TKVAVIReader avi(data, size);
    if (int64_t(avi.Width()) * avi.Height() > 262144) return 0;
    TBitmap bmp;
    int bits = 0;
    unsigned sum = 0;
    for (int n = 0; n < 32 && avi.NextFrame(&bmp, bits); ++n) {
      if (bmp.PixelFormat() != pf1bit && bmp.PixelFormat() != pf24bit) std::abort();
      if (bmp.Width() != avi.Width() || bmp.Height() != avi.Height()) std::abort();
      const size_t row =
          bmp.PixelFormat() == pf1bit ? (size_t(bmp.Width()) + 7) / 8 : size_t(bmp.Width()) * 3;
      for (int y = 0; y < bmp.Height(); ++y)
        for (size_t i = 0; i < row; ++i) sum += bmp.Scanline(y)[i];
    }
    return int(sum) & 0;
  } catch (const EInvalidGraphic&) {
    return 0;
  }
}
