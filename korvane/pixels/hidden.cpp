#include "korvane/pixels/hidden.h"

#include <algorithm>
#include <cstring>

namespace korvane {

namespace {

// Walks the carrier bytes in order, calling f(byte) until it returns false or
// the carrier ends.
template <typename F>
void WalkCarrier(TBitmap* Bitmap, F f) {
  const int n = 3 * Bitmap->Width() - 2;
  for (int y = 0; y < Bitmap->Height(); ++y) {
    uint8_t* p = Bitmap->Scanline(y);
    for (int i = 0; i < n; ++i)
      if (!f(p[i])) return;
  }
}

bool Carries(const TBitmap* Bitmap) { return Bitmap && Bitmap->PixelFormat() == pf24bit && !Bitmap->Empty(); }

}  // namespace

int _GetHiddenDataSpace(const TBitmap* Bitmap) {
  if (!Carries(Bitmap)) return 0;
  const int64_t bits = (3 * int64_t(Bitmap->Width()) - 2) * Bitmap->Height();
  return int(std::clamp<int64_t>(bits / 8 - 8, 0, INT32_MAX));
}

int _WriteHiddenData(TBitmap* Bitmap, const void* Data, int Length) {
  if (!Carries(Bitmap)) return 0;
  const int len = (Data && Length > 0) ? std::min(Length, _GetHiddenDataSpace(Bitmap)) : 0;
  uint8_t header[8] = {0, 0, 0, 0, uint8_t(len), uint8_t(len >> 8), uint8_t(len >> 16), uint8_t(len >> 24)};
  const uint8_t* data = static_cast<const uint8_t*>(Data);
  const int64_t total = int64_t(len) + 8;
  int64_t j = 0;
  int k = 0;
  WalkCarrier(Bitmap, [&](uint8_t& c) {
    const uint8_t byte = j < 8 ? header[j] : data[j - 8];
    const int bit = (byte >> k) & 1;
    if (bit && !(c & 1))
      ++c;
    else if (!bit && (c & 1))
      c = c == 255 ? 254 : uint8_t(c + 1);
    if (++k == 8) {
      k = 0;
      ++j;
    }
    return j < total;
  });
  return len;
}

int _ReadHiddenData(const TBitmap* Bitmap, void* Buffer, int Max) {
  if (!Carries(Bitmap)) return 0;
  const int space = _GetHiddenDataSpace(Bitmap);
  uint8_t header[8] = {};
  uint8_t* out = static_cast<uint8_t*>(Buffer);
  int64_t j = 0, stored = 0, want = 0;
  int k = 0;
  uint8_t acc = 0;
  // Const walk: the carrier is only read.
  WalkCarrier(const_cast<TBitmap*>(Bitmap), [&](uint8_t& c) {
    acc = uint8_t(acc | ((c & 1) << k));
    if (++k < 8) return true;
    if (j < 8) {
      header[j] = acc;
    } else {
      out[j - 8] = acc;
    }
    k = 0;
    acc = 0;
    ++j;
    if (j == 8) {
      stored = int32_t(uint32_t(header[4]) | (uint32_t(header[5]) << 8) | (uint32_t(header[6]) << 16) |
                       (uint32_t(header[7]) << 24));
      want = out ? std::min<int64_t>({std::max(Max, 0), std::max<int64_t>(stored, 0), space}) : 0;
    }
    return j < 8 + want;
  });
  return int(std::clamp<int64_t>(stored, 0, space));
}

bool _HasHiddenData(const TBitmap* Bitmap) {
  if (!Carries(Bitmap)) return false;
  uint8_t header[8] = {};
  int64_t j = 0;
  int k = 0;
  WalkCarrier(const_cast<TBitmap*>(Bitmap), [&](uint8_t& c) {
    header[j] = uint8_t(header[j] | ((c & 1) << k));
    if (++k == 8) {
      k = 0;
      ++j;
    }
    return j < 8;
  });
  if (j < 8 || header[0] || header[1] || header[2] || header[3]) return false;
  const int32_t stored = int32_t(uint32_t(header[4]) | (uint32_t(header[5]) << 8) |
                                 (uint32_t(header[6]) << 16) | (uint32_t(header[7]) << 24));
  return stored > 0 && stored <= _GetHiddenDataSpace(Bitmap);
}

}  // namespace korvane
