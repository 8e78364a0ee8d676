#include "korvane/io/codecs/bilevel.h"

#include <algorithm>

#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/colordepth.h"
#include "korvane/pixels/quant/quantizer.h"

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

namespace {

inline uint32_t KeyOf(const TRGB& c) { return ((uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b) + 1; }
inline uint32_t SlotOf(uint32_t key) { return (key * 2654435761u) >> 20; }  // 12 bits

}  // namespace

TTwoColorLoad TwoColorLoad(const TRGB& Entry0, const TRGB& Entry1) {
  auto black = [](const TRGB& c) { return (c.r | c.g | c.b) == 0; };
  auto white = [](const TRGB& c) { return (c.r & c.g & c.b) == 255; };
  if (black(Entry0) && white(Entry1)) return tclBlackWhite;
  if (white(Entry0) && black(Entry1)) return tclWhiteBlack;
  return tclColors;
}

TPaletteMap::TPaletteMap(const TBitmap* Src, int Size)
    : pal_(size_t(std::clamp(Size, 2, 256)), TRGB{0, 0, 0}), keys_(kSlots, 0), vals_(kSlots, 0) {
  const int size = int(pal_.size());
  // Collect the distinct colors, giving up at the first one past the room.
  std::vector<uint32_t> colors;
  bool fits = true;
  for (int y = 0; y < Src->Height() && fits; ++y) {
    const TRGB* row = reinterpret_cast<const TRGB*>(Src->Scanline(y));
    for (int x = 0; x < Src->Width(); ++x) {
      const uint32_t key = KeyOf(row[x]);
      uint32_t h = SlotOf(key);
      while (keys_[h] != 0 && keys_[h] != key) h = (h + 1) & (kSlots - 1);
      if (keys_[h] == key) continue;
      if (int(colors.size()) == size) {
        fits = false;
        break;
      }
      keys_[h] = key;
      colors.push_back(key);
    }
  }
  if (!fits) {
    keys_.clear();
    vals_.clear();
    quant_ = std::make_unique<TKVQuantizer>(const_cast<TBitmap*>(Src), pal_.data(), 0, size, -1, 0);
    used_ = size;
    return;
  }
  std::sort(colors.begin(), colors.end());
  used_ = int(colors.size());
  for (int i = 0; i < used_; ++i) {
    const uint32_t c = colors[size_t(i)] - 1;
    pal_[size_t(i)] = TRGB{uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)};
    uint32_t h = SlotOf(colors[size_t(i)]);
    while (keys_[h] != colors[size_t(i)]) h = (h + 1) & (kSlots - 1);
    vals_[h] = uint8_t(i);
  }
}

TPaletteMap::~TPaletteMap() = default;

int TPaletteMap::Index(const TRGB& c) const {
  if (quant_) return quant_->GetRGBIndex(c);
  const uint32_t key = KeyOf(c);
  for (uint32_t h = SlotOf(key); keys_[h] != 0; h = (h + 1) & (kSlots - 1))
    if (keys_[h] == key) return vals_[h];
  int best = 0, bestd = 1 << 30;
  for (int i = 0; i < used_; ++i) {
    const int dr = pal_[size_t(i)].r - c.r, dg = pal_[size_t(i)].g - c.g, db = pal_[size_t(i)].b - c.b;
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestd) bestd = d, best = i;
  }
  return best;
}

}  // namespace korvane
