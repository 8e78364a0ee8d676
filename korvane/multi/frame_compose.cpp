#include "korvane/multi/frame_compose.h"

#include <algorithm>
#include <cstring>

namespace korvane {

void TKVFrameComposer::Reset(int Width, int Height, TRGB Background) {
  screen_.Allocate(std::max(Width, 1), std::max(Height, 1), pf24bit);
  background_ = Background;
  for (int y = 0; y < screen_.Height(); ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(screen_.Scanline(y));
    std::fill_n(row, screen_.Width(), Background);
  }
  disposal_ = 0;
  x1_ = y1_ = x2_ = y2_ = 0;
}

void TKVFrameComposer::Add(const TBitmap* Frame, const TKVFrameLayout& Layout) {
  if (screen_.Empty()) Reset(Layout.ScreenWidth, Layout.ScreenHeight, background_);
  const int sw = screen_.Width(), sh = screen_.Height();
  // The previous frame's area goes back to the background or to what it
  // covered.
  if (disposal_ == 2) {
    for (int y = y1_; y < y2_; ++y)
      std::fill_n(reinterpret_cast<TRGB*>(screen_.Scanline(y)) + x1_, x2_ - x1_, background_);
  } else if (disposal_ == 3 && !saved_.Empty()) {
    for (int y = y1_; y < y2_; ++y)
      std::memcpy(reinterpret_cast<TRGB*>(screen_.Scanline(y)) + x1_, saved_.Scanline(y - y1_),
                  size_t(x2_ - x1_) * sizeof(TRGB));
  }
  const int fw = Frame ? Frame->Width() : 0, fh = Frame ? Frame->Height() : 0;
  x1_ = std::clamp(Layout.X, 0, sw);
  y1_ = std::clamp(Layout.Y, 0, sh);
  x2_ = int(std::clamp<int64_t>(int64_t(Layout.X) + fw, x1_, sw));
  y2_ = int(std::clamp<int64_t>(int64_t(Layout.Y) + fh, y1_, sh));
  disposal_ = Layout.Disposal;
  saved_.Allocate(0, 0, pf24bit);
  if (disposal_ == 3 && x2_ > x1_ && y2_ > y1_) {
    saved_.Allocate(x2_ - x1_, y2_ - y1_, pf24bit);
    for (int y = y1_; y < y2_; ++y)
      std::memcpy(saved_.Scanline(y - y1_), reinterpret_cast<TRGB*>(screen_.Scanline(y)) + x1_,
                  size_t(x2_ - x1_) * sizeof(TRGB));
  }
  if (x2_ <= x1_ || y2_ <= y1_) return;
  const bool mono = Frame->PixelFormat() == pf1bit;
  const TRGB key = Layout.TranspColor;
  for (int y = y1_; y < y2_; ++y) {
    const uint8_t* src = Frame->Scanline(y - Layout.Y);
    TRGB* dst = reinterpret_cast<TRGB*>(screen_.Scanline(y));
    for (int x = x1_; x < x2_; ++x) {
      const int fx = x - Layout.X;
      TRGB c;
      if (mono) {
        const uint8_t v = (src[fx >> 3] >> (7 - (fx & 7))) & 1 ? 255 : 0;
        c = TRGB{v, v, v};
      } else {
        c = reinterpret_cast<const TRGB*>(src)[fx];
      }
      if (Layout.Transparent && c.r == key.r && c.g == key.g && c.b == key.b) continue;
      dst[x] = c;
    }
  }
}

}  // namespace korvane
