// The screen resolution metafile sizes are measured in, fixed for a test.
#pragma once
#include "korvane/view/kvview.h"

namespace korvane::test {

// Sets the library's screen resolution to 96 dpi, the one drawing programs
// export their PNGs at, for the object's life.
class TScreenDpi96 {
 public:
  TScreenDpi96() { gSystemDPIX = gSystemDPIY = 96; }
  ~TScreenDpi96() {
    gSystemDPIX = x_;
    gSystemDPIY = y_;
  }
  TScreenDpi96(const TScreenDpi96&) = delete;
  TScreenDpi96& operator=(const TScreenDpi96&) = delete;

 private:
  int x_ = gSystemDPIX, y_ = gSystemDPIY;
};

}  // namespace korvane::test
