#include "korvane/foundations/kvutils.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

namespace korvane {

int _Pixelformat2BitCount(TPixelFormat pf) {
  switch (pf) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit: return 15;
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pf32bit: return 32;
    case pfDevice:
    case pfCustom: break;
  }
  return 0;
}

TPixelFormat _Bitcount2Pixelformat(int bits) {
  switch (bits) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 15: return pf15bit;
    case 16: return pf16bit;
    case 24: return pf24bit;
    case 32: return pf32bit;
    default: return pfCustom;
  }
}

int _RectPRect(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  const bool X3 = x3 >= x1 && x3 <= x2;
  const bool X4 = x4 >= x1 && x4 <= x2;
  const bool Y3 = y3 >= y1 && y3 <= y2;
  const bool Y4 = y4 >= y1 && y4 <= y2;
  if ((X3 != X4 && (Y3 || Y4)) || ((X3 || X4) && Y3 != Y4) || (X3 != X4 && Y3 != Y4)) return 1;
  if (X3 && X4 && Y3 && Y4) return 2;
  return 0;
}

namespace {
// Keeps a moved coordinate representable; the snapping works in 64 bits so
// that extreme coordinates cannot overflow.
int ClampInt(int64_t v) { return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : int(v); }
}  // namespace

void _CastPolySelCC(int ax, int ay, int& x, int& y) {
  const int64_t dx = int64_t(ax) - x, dy = int64_t(ay) - y;
  const int64_t e = dx < 0 ? -dx : dx, f = dy < 0 ? -dy : dy;
  if (e + 30 < f) {  // mostly vertical
    x = ax;
    return;
  }
  if (f < e - 30) {  // mostly horizontal
    y = ay;
    return;
  }
  // Near the diagonal: move one coordinate by the difference of the sides.
  const int64_t k = e > f ? e - f : f - e;
  const bool w = e >= f;
  if (dx < 0 && dy < 0) {  // right of and below the anchor: the shorter side grows
    if (w)
      y = ClampInt(int64_t(y) + k);
    else
      x = ClampInt(int64_t(x) + k);
  } else if (dx > 0 && dy > 0) {  // left and above: the longer side shrinks
    if (w)
      x = ClampInt(int64_t(x) + k);
    else
      y = ClampInt(int64_t(y) + k);
  } else if (dx > 0 && dy <= 0) {  // left and below
    if (w)
      y = ClampInt(int64_t(y) + k);
    else
      x = ClampInt(int64_t(x) - k);
  } else if (dy > 0 && dx <= 0) {  // right and above
    if (w)
      y = ClampInt(int64_t(y) - k);
    else
      x = ClampInt(int64_t(x) + k);
  }
  // Otherwise a zero difference on one axis inside the band: left as it is.
}

int32_t _getfilesize(const std::string& FileName) {
  struct stat st;
  if (FileName.empty() || ::stat(FileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size > INT32_MAX ? INT32_MAX : int32_t(st.st_size);
}

}  // namespace korvane
