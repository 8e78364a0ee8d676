/// \file
/// THSVBox: a color picker in the HSV model (hue 0..359, saturation and value
/// 0..99): a saturation/value area for the current hue and a hue bar at the
/// right, each with a grip the user drags.
#pragma once
#include <cstdint>

#include "korvane/foundations/host/controls.h"
#include "korvane/foundations/host/export.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

/// The HSV box. The hue bar is the rightmost 20 pixels, with hue 0 at the
/// bottom; a 5-pixel gap in Background separates it from the area, which takes
/// the remaining width (saturation rising to the right, value upwards).
///
/// Color, GetColor and SetColor are the picked color; the control's own
/// background color is Background.
class KORVANE_EXPORT THSVBox : public TCustomControl {
  Q_OBJECT
  Q_PROPERTY(int Hue READ GetHue WRITE SetHue)
  Q_PROPERTY(int Sat READ GetSat WRITE SetSat)
  Q_PROPERTY(int Val READ GetVal WRITE SetVal)
  // The picked color, in place of the control's own Color.
  Q_PROPERTY(QColor Color READ PickedQColor WRITE SetPickedQColor)
  Q_PROPERTY(QColor Background READ BackgroundQColor WRITE SetBackgroundQColor)

 public:
  /// An opaque 105 x 105 picker at hue, saturation and value 0 (black) on clBtnFace. AOwner owns it;
  /// parent is its Qt parent widget.
  explicit THSVBox(TComponent* AOwner, QWidget* parent = nullptr);
  template <KVFormParent P>
  explicit THSVBox(P* parent) : THSVBox(nullptr, parent) {}

  static constexpr int kHueBarWidth = 20;  ///< Width of the hue bar, in pixels.
  static constexpr int kGap = 5;           ///< Gap between the area and the hue bar, in pixels.

  /// The picked hue in degrees, 0..359.
  int GetHue() const { return hue_; }
  /// The picked saturation, 0..99.
  int GetSat() const { return sat_; }
  /// The picked value (brightness), 0..99.
  int GetVal() const { return val_; }
  /// Clamped to 0..359 and 0..99; they repaint but do not fire OnChange.
  void SetHue(int h);
  /// Sets the saturation, moving the area's grip.
  void SetSat(int s);
  /// Sets the value, moving the area's grip.
  void SetVal(int v);
  /// Red of the picked color, 0..255.
  uint8_t GetRed() const { return red_; }
  /// Green of the picked color, 0..255.
  uint8_t GetGreen() const { return green_; }
  /// Blue of the picked color, 0..255.
  uint8_t GetBlue() const { return blue_; }
  /// Takes red, green and blue and derives hue, saturation and value.
  void SetRGB(uint8_t r, uint8_t g, uint8_t b);
  /// The picked color (as given to SetColor, or made from the HSV or RGB values).
  TColor GetColor() const { return color_; }
  /// As SetRGB with the color's RGB value; GetColor answers c itself.
  void SetColor(TColor c);
  KV_QCOLOR_ACCESSORS(Picked, GetColor, SetColor)
  /// The color of the gap beside the hue bar (clBtnFace by default).
  TColor GetBackground() const { return background_; }
  /// Sets the gap's color and repaints.
  void SetBackground(TColor c);
  KV_QCOLOR_ACCESSORS(Background, GetBackground, SetBackground)

  /// Width of the saturation/value area (Width - 25; none when not positive).
  int AreaWidth() const { return ClientWidth() - kHueBarWidth - kGap; }
  /// The off-screen picture of bar and area, without the grips.
  TBitmap* OffscreenBitmap() { return bitmap_.get(); }

  /// Fired when the user picks a color with the mouse.
  TNotifyEvent OnChange;

  /// Shows the off-screen picture and draws both grips as inverted rectangles.
  void Paint() override;
  /// Resizes the off-screen picture to the client area and redraws bar and area.
  void WMSize() override;
  /// A left press in the area or on the hue bar picks there (raising OnChange) and starts dragging
  /// that grip; a press in the gap does nothing.
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  /// With the left button down, drags the grip, kept in its own part (raising OnChange).
  void MouseMove(TShiftState Shift, int X, int Y) override;
  /// Releasing the left button ends the drag.
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;

 private:
  void ColorFromHSV();
  void DrawHueBar();
  void DrawArea();
  void DrawGrips(TCanvas* c);
  /// Clamps a pointer position to the part being dragged and handles it.
  void DragTo(int X, int Y);
  void HandleMouse(int x, int y);

  int hue_ = 0, sat_ = 0, val_ = 0;
  uint8_t red_ = 0, green_ = 0, blue_ = 0;
  TColor background_ = clBtnFace;
  std::unique_ptr<TBitmap> bitmap_;
  int drag_mode_ = 0;  ///< 0 none, 1 area, 2 hue bar
  TColor color_ = clBlack;
};

}  // namespace korvane
