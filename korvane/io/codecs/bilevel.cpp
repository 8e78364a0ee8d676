#include "korvane/io/codecs/bilevel.h"

#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/colordepth.h"

namespace korvane {

const TBitmap* Prepare24(const TBitmap* Source, std::unique_ptr<TBitmap>& Keep) {
  if (Source->PixelFormat() == pf24bit) return Source;
  Keep = std::make_unique<TBitmap>();
  if (Source->PixelFormat() == pf1bit) {
    TProgressRec none;
    _Conv1to24(Source, Keep.get(), none);
  } else {
    Keep->Assign(Source);
    Keep->SetPixelFormat(pf24bit);
  }
  return Keep.get();
}

const TBitmap* PrepareBilevel(const TBitmap* Source, std::unique_ptr<TBitmap>& Keep, TRGB& Color0,
                              TRGB& Color1) {
  Color0 = TRGB{0, 0, 0};
  Color1 = TRGB{255, 255, 255};
  if (Source->PixelFormat() == pf1bit) return Source;
  const TBitmap* src24 = Prepare24(Source, Keep);
  TRGB c0, c1;
  if (std::unique_ptr<TBitmap> two = _ConvertTo1bit(src24, c0, c1)) {
    Color0 = c0;
    Color1 = c1;
    Keep = std::move(two);
    return Keep.get();
  }
  // More than two colors: a black-and-white dithered copy.
  auto copy = std::make_unique<TBitmap>();
  copy->Assign(src24);
  TProgressRec none;
  _ConvertToBWOrdered(copy.get(), none);
  Keep = std::move(copy);
  return Keep.get();
}

}  // namespace korvane
