// TKVGradientBar: a bar showing a 256-step ramp between two colors, with a
// grip that picks one step by clicking or dragging.
#pragma once
#include <array>

#include "korvane/foundations/host/controls.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

// Registered with Qt's meta-object system (see control_enums in
// host/controls.h).
namespace gradient_enums {
Q_NAMESPACE
enum TKVGradientDir { gdHorizontal, gdVertical };
Q_ENUM_NS(TKVGradientDir)
}  // namespace gradient_enums
using namespace gradient_enums;
enum TKVMouseInteractItemsGr { migDragGrip };
using TKVMouseInteractGr = TSet<TKVMouseInteractItemsGr>;

// The gradient bar. A horizontal bar runs from step 0 at the left to 255 at
// the right; a vertical one is painted with step 0 at the bottom while its
// grip and clicks count the index from the top, so a click on the top row
// picks step 0.
class TKVGradientBar : public TCustomControl {
  Q_OBJECT
  Q_PROPERTY(int ColorIndex READ GetColorIndex WRITE SetColorIndex)
  Q_PROPERTY(QColor BeginColor READ BeginColorQColor WRITE SetBeginColorQColor)
  Q_PROPERTY(QColor EndColor READ EndColorQColor WRITE SetEndColorQColor)
  Q_PROPERTY(korvane::gradient_enums::TKVGradientDir Direction READ GetDirection WRITE SetDirection)

 public:
  explicit TKVGradientBar(TComponent* AOwner, QWidget* parent = nullptr);
  template <KVFormParent P>
  explicit TKVGradientBar(P* parent) : TKVGradientBar(nullptr, parent) {}

  int GetColorIndex() const { return index_; }
  // Clamped to 0..255.
  void SetColorIndex(int i);
  TColor GetBeginColor() const { return begin_; }
  void SetBeginColor(TColor c);
  TColor GetEndColor() const { return end_; }
  void SetEndColor(TColor c);
  KV_QCOLOR_ACCESSORS(BeginColor, GetBeginColor, SetBeginColor)
  KV_QCOLOR_ACCESSORS(EndColor, GetEndColor, SetEndColor)
  TKVGradientDir GetDirection() const { return dir_; }
  void SetDirection(TKVGradientDir d);
  TKVMouseInteractGr GetMouseInteractGr() const { return interact_; }
  void SetMouseInteractGr(TKVMouseInteractGr s);

  // The ramp entry at the color index, as a host color and as a pixel.
  TColor GetColor() const { return ramp_[index_]; }
  TRGB GetRGB() const;
  // Ramp entry i (0..255); black outside.
  TColor RampColor(int i) const { return i >= 0 && i < 256 ? ramp_[i] : clBlack; }

  // Fired after the user moves the grip.
  TNotifyEvent OnChange;

  void Paint() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;

 private:
  void BuildRamp();
  // Position of the grip along the bar, in pixels; -1 when the bar is too
  // short to place it.
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
