/// \file
/// TKVGradientBar: a bar showing a 256-step ramp between two colors, with a
/// grip that picks one step by clicking or dragging.
#pragma once
#include <array>

#include "korvane/foundations/host/controls.h"
#include "korvane/foundations/host/export.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

// Registered with Qt's meta-object system (see control_enums in
// host/controls.h).
namespace gradient_enums {
Q_NAMESPACE
/// Which way a gradient bar runs.
enum TKVGradientDir { gdHorizontal, gdVertical };
Q_ENUM_NS(TKVGradientDir)
}  // namespace gradient_enums
using namespace gradient_enums;
/// What the mouse may do on a gradient bar: migDragGrip lets clicks and drags move the grip.
enum TKVMouseInteractItemsGr { migDragGrip };
/// The mouse interactions a gradient bar allows.
using TKVMouseInteractGr = TSet<TKVMouseInteractItemsGr>;

/// The gradient bar. A horizontal bar runs from step 0 at the left to 255 at
/// the right; a vertical one is painted with step 0 at the bottom while its
/// grip and clicks count the index from the top, so a click on the top row
/// picks step 0.
class KORVANE_EXPORT TKVGradientBar : public TCustomControl {
  Q_OBJECT
  Q_PROPERTY(int ColorIndex READ GetColorIndex WRITE SetColorIndex)
  Q_PROPERTY(QColor BeginColor READ BeginColorQColor WRITE SetBeginColorQColor)
  Q_PROPERTY(QColor EndColor READ EndColorQColor WRITE SetEndColorQColor)
  Q_PROPERTY(korvane::gradient_enums::TKVGradientDir Direction READ GetDirection WRITE SetDirection)

 public:
  /// An opaque 40 x 300 vertical bar from black to white, index 0, grip dragging on. AOwner owns it;
  /// parent is its Qt parent widget.
  explicit TKVGradientBar(TComponent* AOwner, QWidget* parent = nullptr);
  template <KVFormParent P>
  explicit TKVGradientBar(P* parent) : TKVGradientBar(nullptr, parent) {}

  /// The selected ramp step, 0..255 (0 at first).
  int GetColorIndex() const { return index_; }
  /// Clamped to 0..255.
  void SetColorIndex(int i);
  /// The color of step 0 (black by default).
  TColor GetBeginColor() const { return begin_; }
  /// Sets the first color, rebuilds the ramp and repaints.
  void SetBeginColor(TColor c);
  /// The color of step 255 (white by default).
  TColor GetEndColor() const { return end_; }
  /// Sets the last color, rebuilds the ramp and repaints.
  void SetEndColor(TColor c);
  KV_QCOLOR_ACCESSORS(BeginColor, GetBeginColor, SetBeginColor)
  KV_QCOLOR_ACCESSORS(EndColor, GetEndColor, SetEndColor)
  /// Whether the bar runs across or up (gdVertical by default).
  TKVGradientDir GetDirection() const { return dir_; }
  /// Sets the direction and repaints.
  void SetDirection(TKVGradientDir d);
  /// The mouse interactions allowed; without migDragGrip the grip is hidden and clicks do nothing.
  TKVMouseInteractGr GetMouseInteractGr() const { return interact_; }
  /// Sets the allowed interactions and repaints.
  void SetMouseInteractGr(TKVMouseInteractGr s);

  /// The ramp entry at the color index, as a host color and as a pixel.
  TColor GetColor() const { return ramp_[index_]; }
  /// The same entry as a pixel value.
  TRGB GetRGB() const;
  /// Ramp entry i (0..255); black outside.
  TColor RampColor(int i) const { return i >= 0 && i < 256 ? ramp_[i] : clBlack; }

  /// Fired after the user moves the grip.
  TNotifyEvent OnChange;

  /// Paints the ramp along the bar and, unless designing or dragging is off, the grip as an inverted band.
  void Paint() override;
  /// A left press moves the grip to the pointer (raising OnChange) and starts a drag.
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  /// While dragging with the left button, moves the grip with the pointer (raising OnChange).
  void MouseMove(TShiftState Shift, int X, int Y) override;
  /// Releasing the left button ends the drag.
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;

 private:
  void BuildRamp();
  /// Position of the grip along the bar, in pixels; -1 when the bar is too
  /// short to place it.
  int GripPos() const;
  void DragTo(int x, int y);

  int index_ = 0;
  TColor begin_ = clBlack;
  TColor end_ = clWhite;
  std::array<TColor, 256> ramp_{};
  TKVGradientDir dir_ = gdVertical;
  TKVMouseInteractGr interact_{migDragGrip};
  bool dragging_ = false;
};

}  // namespace korvane
