/// \file
/// Animation frames composed on their logical screen: each frame drawn at its
/// position over what the frames before it left, transparent pixels showing
/// through, after the previous frame's disposal. The multi-image view plays
/// GIF animations this way and the korvane tool's --coalesce writes them.
#pragma once
#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

/// Where and how a frame of an animation is drawn. Valid is false for an
/// image that is a picture of its own (not a frame to compose).
struct TKVFrameLayout {
  bool Valid = false;
  bool First = false;  ///< the first frame of its animation: the screen starts afresh
  int ScreenWidth = 0, ScreenHeight = 0;
  int X = 0, Y = 0;
  /// 0 or 1: leave the frame; 2: restore its area to the background;
  /// 3: restore its area to what it was before the frame (others act as 0).
  int Disposal = 0;
  bool Transparent = false;
  TRGB TranspColor{0, 0, 0};  ///< pixels of this color let the screen show through
};

/// The logical screen of one animation, frame after frame.
class KORVANE_EXPORT TKVFrameComposer {
 public:
  /// A new screen of the given size (each side at least 1) filled with
  /// the background.
  void Reset(int Width, int Height, TRGB Background);
  /// Applies the previous frame's disposal, then draws Frame (1- or 24-bit)
  /// by its layout, clipped to the screen.
  void Add(const TBitmap* Frame, const TKVFrameLayout& Layout);
  /// The screen after the last Add (24-bit).
  const TBitmap* Screen() const { return &screen_; }
  TBitmap* Screen() { return &screen_; }

 private:
  TBitmap screen_, saved_;
  TRGB background_{0, 0, 0};
  int disposal_ = 0;
  int x1_ = 0, y1_ = 0, x2_ = 0, y2_ = 0;  ///< the last frame's area on the screen, x2/y2 exclusive
};

}  // namespace korvane
