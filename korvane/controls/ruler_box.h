/// \file
/// TRulerBox: a graduated ruler over a value range that can scroll, with one
/// or more draggable grips beside it, each with its own value, color, shape
/// and limits. Used as a slider with a scale, in units of the application's
/// choosing.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "korvane/foundations/host/controls.h"
#include "korvane/foundations/host/export.h"

namespace korvane {

/// Grip shapes: a triangle, its left or right half, an arrow with a narrow shaft, or a broad arrow.
enum TGripKind { gkTriangle, gkLeftTriangle, gkRightTriangle, gkArrow, gkArrow2 };
// Registered with Qt's meta-object system (see control_enums in
// host/controls.h).
namespace ruler_enums {
Q_NAMESPACE
/// Side the ruler strip is on: top (left) with gdUp, bottom (right) with gdDown; grips point at it.
enum TGripsDir { gdUp, gdDown };
Q_ENUM_NS(TGripsDir)
/// Whether the ruler runs across (rdHorizontal) or down (rdVertical).
enum TRulerDir { rdHorizontal, rdVertical };
Q_ENUM_NS(TRulerDir)
}  // namespace ruler_enums
using namespace ruler_enums;

/// Handler of a grip event: the ruler box and the grip's index.
using TRulerGripEvent = std::function<void(TObject* Sender, int Grip)>;
/// Handler of a click on the ruler away from the grips: the ruler box and the value clicked.
using TRulerClickEvent = std::function<void(TObject* Sender, double ps)>;

/// One grip: its value in ruler units, fill color, shape and limits (no limit
/// applies unless Max > Min).
struct TRulerGrip {
  double Pos = 0;               ///< value in ruler units
  TColor Color = clBtnFace;     ///< fill color
  TGripKind Kind = gkTriangle;  ///< shape
  double Min = 0;               ///< lowest value
  double Max = 0;               ///< highest value
};

/// Label text of a ruler value: the shortest decimal of up to 15 significant
/// digits (exponent form, "1E+020", for values of 10^15 and more or below
/// 0.00001), or with hex the upper-case hexadecimal of the integer part of the
/// magnitude, "-" in front of negative values.
KORVANE_EXPORT std::string RulerLabel(double v, bool hex);

/// The ruler box. Everything is drawn into an off-screen bitmap that Paint
/// copies, so dragging does not flicker.
///
/// Along the ruler, pixel p shows value p / DotPerUnit + ViewPos. A horizontal
/// ruler measures along its width and x, a vertical one along its height and
/// y, for painting, dragging, fitting, the view limits and clicks alike. With
/// gdUp the ruler strip is at the top (left) and the grips below (right) point
/// up at it; gdDown mirrors that.
///
/// A grip dragged beyond either end scrolls the view one pixel per mouse move
/// and per tick of a timer that runs while the button is held there.
class KORVANE_EXPORT TRulerBox : public TCustomControl {
  Q_OBJECT
  Q_PROPERTY(int GripsCount READ GetGripsCount WRITE SetGripsCount)
  Q_PROPERTY(double ViewMin READ GetViewMin WRITE SetViewMin)
  Q_PROPERTY(double ViewMax READ GetViewMax WRITE SetViewMax)
  Q_PROPERTY(double ViewPos READ GetViewPos WRITE SetViewPos)
  Q_PROPERTY(double DotPerUnit READ GetDotPerUnit WRITE SetDPU)
  Q_PROPERTY(double Frequency READ GetFrequency WRITE SetFrequency)
  Q_PROPERTY(double LabelFreq READ GetLabelFreq WRITE SetLabelFreq)
  Q_PROPERTY(QColor Background READ BackgroundQColor WRITE SetBackgroundQColor)
  Q_PROPERTY(int GripBaseDim READ GetGripBaseDim WRITE SetGripBaseDim)
  Q_PROPERTY(korvane::ruler_enums::TGripsDir GripsDir READ GetGripsDir WRITE SetGripsDir)
  Q_PROPERTY(bool Ruler READ GetRuler WRITE SetRuler)
  Q_PROPERTY(QColor RulerColor READ RulerColorQColor WRITE SetRulerColorQColor)
  Q_PROPERTY(korvane::ruler_enums::TRulerDir RulerDir READ GetRulerDir WRITE SetRulerDir)
  Q_PROPERTY(bool FitInView READ GetFitInView WRITE SetFitInView)
  Q_PROPERTY(bool HexLabels READ GetHexLabels WRITE SetHexLabels)

 public:
  /// An opaque 300 x 40 horizontal ruler with one grip at 0, 1 dot per unit, ticks every 10 and
  /// labels every 40 units. AOwner owns it; parent is its Qt parent widget.
  explicit TRulerBox(TComponent* AOwner, QWidget* parent = nullptr);
  template <KVFormParent P>
  explicit TRulerBox(P* parent) : TRulerBox(nullptr, parent) {}
  /// Stops the scrolling timer.
  ~TRulerBox() override;

  /// Grips; setters ignore an index outside the list and getters answer 0.
  double GetGripsPos(int i) const;
  /// Stores v, applies the grip's limits, fires OnRulerPosChange and paints
  /// at once.
  void SetGripsPos(int i, double v);
  /// Fill color of grip i.
  TColor GetGripsCol(int i) const;
  /// Sets the fill color of grip i and redraws.
  void SetGripsCol(int i, TColor c);
  /// Shape of grip i (gkTriangle for an index outside the list).
  TGripKind GetGripsKind(int i) const;
  /// Sets the shape of grip i and redraws.
  void SetGripsKind(int i, TGripKind k);
  /// Lowest value grip i may take (only when Max is above Min).
  double GetGripsMin(int i) const;
  /// Highest value grip i may take (only when Max is above Min).
  double GetGripsMax(int i) const;
  /// Store the limit and then apply the limits of every grip.
  void SetGripsMin(int i, double v);
  /// The same for the upper limit.
  void SetGripsMax(int i, double v);
  /// The number of grips (1 at first).
  int GetGripsCount() const { return int(grips_.size()); }
  /// New grips start at 0 in Background, triangles, limited to ViewMin..ViewMax.
  void SetGripsCount(int n);

  /// The value at the ruler's start (pixel 0).
  double GetViewPos() const { return view_pos_; }
  /// Scrolls to v, kept within ViewMin..ViewMax when they form a range, and paints at once.
  void SetViewPos(double v);
  /// Lowest value the view scrolls to; no limit unless ViewMax is above it.
  double GetViewMin() const { return view_min_; }
  /// Highest value the view shows at its end; no limit unless it is above ViewMin.
  double GetViewMax() const { return view_max_; }
  /// Store, keep ViewPos within the limits and set every grip's Min (Max).
  void SetViewMin(double v);
  /// The same for the upper limit.
  void SetViewMax(double v);
  /// Pixels per ruler unit (1 at first); FitInView computes it.
  double GetDotPerUnit() const { return dpu_; }
  /// Ignored in design mode while FitInView is on.
  void SetDPU(double v);
  /// Units between small ticks (10 by default; 0 or less draws none).
  double GetFrequency() const { return frequency_; }
  /// Sets the tick spacing and redraws.
  void SetFrequency(double v);
  /// Units between labelled long ticks (40 by default; 0 or less draws none).
  double GetLabelFreq() const { return label_freq_; }
  /// Sets the label spacing and redraws.
  void SetLabelFreq(double v);
  /// Color of the grip area (clBtnFace by default).
  TColor GetBackground() const { return background_; }
  /// Sets the grip area's color and redraws; existing grips keep their colors.
  void SetBackground(TColor c);
  KV_QCOLOR_ACCESSORS(Background, GetBackground, SetBackground)
  /// Width of a grip's base in pixels (12 by default).
  int GetGripBaseDim() const { return grip_base_; }
  /// Sets the grip width and redraws.
  void SetGripBaseDim(int v);
  /// Which side the strip is on and the grips point to (gdUp by default).
  TGripsDir GetGripsDir() const { return grips_dir_; }
  /// Sets the side and redraws.
  void SetGripsDir(TGripsDir d);
  /// True (the default) to show the graduated strip; off, the grips take the whole control.
  bool GetRuler() const { return ruler_; }
  /// Shows or hides the strip and redraws.
  void SetRuler(bool on);
  /// Fill color of the strip (clBtnFace by default); ticks and labels take the font's color.
  TColor GetRulerColor() const { return ruler_color_; }
  /// Sets the strip's color and redraws.
  void SetRulerColor(TColor c);
  KV_QCOLOR_ACCESSORS(RulerColor, GetRulerColor, SetRulerColor)
  /// Whether the ruler runs across or down (rdHorizontal by default).
  TRulerDir GetRulerDir() const { return ruler_dir_; }
  /// Sets the direction and redraws.
  void SetRulerDir(TRulerDir d);
  /// On: DotPerUnit fits ViewMin..ViewMax into the ruler's length.
  bool GetFitInView() const { return fit_; }
  /// Turns fitting on or off and redraws.
  void SetFitInView(bool on);
  /// True to label the scale in hexadecimal (see RulerLabel).
  bool GetHexLabels() const { return hex_; }
  /// Switches the label form and redraws.
  void SetHexLabels(bool on);

  /// Pixel of a grip along the ruler: round((Pos - ViewPos) x DotPerUnit).
  int GetXGripPos(int i) const;
  /// The ruler's length in units (0 while DotPerUnit is 0).
  double GetWidthInUnit() const;
  /// Thickness of the ruler strip: 0 without Ruler, else
  /// trunc(|Font.Height| x 1.7) + 3.
  int GetRulerHeight() const;
  /// The outline of a grip (3 to 7 points); empty for an unknown grip.
  std::vector<TPoint> GetGripPoly(int i) const;
  /// The grip's bounding box, right and bottom one past its points.
  void GetGripRect(int i, TRect& r) const;
  /// The topmost grip whose rectangle holds the point, or -1.
  int GetClickedGrip(int x, int y) const;

  /// Refits, redraws grips and ruler into the off-screen bitmap, invalidates.
  void Update();
  /// Redraws the grip area and the grips into the off-screen bitmap (no invalidation).
  void RepaintGrips();
  /// Redraws the strip with its ticks and labels into the off-screen bitmap (no invalidation).
  void RepaintRuler();
  /// The off-screen picture Paint shows.
  TBitmap* OffscreenBitmap() { return bitmap_.get(); }

  /// \var OnRulerPosChange
  /// Called with a grip's index when its value changes (by code, its limits, dragging or scrolling).
  /// \var OnRulerGripClick
  /// Called with a grip's index when the left button lets go of it without having moved it.
  /// \var OnRulerGripDblClick
  /// Called with a grip's index on a double click on it.
  TRulerGripEvent OnRulerPosChange, OnRulerGripClick, OnRulerGripDblClick;
  /// Called on a left press away from the grips, with the value under the pointer.
  TRulerClickEvent OnRulerClick;

  /// Timer that scrolls while a grip is held beyond an end, and its interval.
  static constexpr int kScrollTimer = 1;
  static constexpr int kScrollInterval = 30;  ///< milliseconds

  /// Copies the off-screen picture onto the control.
  void Paint() override;
  /// Resizes the off-screen picture to the client area and redraws (refitting with FitInView).
  void WMSize() override;
  /// On the scroll timer, scrolls one more pixel while a grip is held beyond an end; else stops it.
  void WMTimer(int id) override;
  /// A left press takes hold of the grip under the pointer (OnRulerGripDblClick on a double click)
  /// or, away from the grips, raises OnRulerClick.
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  /// Drags the held grip with the pointer; beyond an end it scrolls the view and starts the timer.
  void MouseMove(TShiftState Shift, int X, int Y) override;
  /// Lets go of the grip, stops the timer, and raises OnRulerGripClick when the grip did not move.
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;

 private:
  bool Designing() const { return ComponentState().Contains(csDesigning); }
  bool Vertical() const { return ruler_dir_ == rdVertical; }
  /// Length of the ruler in pixels: the bitmap's width, or height when vertical.
  int Length() const;
  void AdjustViewLimits();
  void AdjustGripLimits(int i);
  void DrawScale(double freq, int tickLen, bool labels);
  /// One step of scrolling with the pressed grip beyond an end: dir -1 before
  /// the start, +1 past the end.
  void ScrollStep(int dir);

  std::unique_ptr<TBitmap> bitmap_;
  std::vector<TRulerGrip> grips_;
  double view_pos_ = 0;
  TColor background_ = clBtnFace;
  int grip_base_ = 12;
  TGripsDir grips_dir_ = gdUp;
  bool ruler_ = true;
  double dpu_ = 1.0;
  double frequency_ = 10.0;
  double label_freq_ = 40.0;
  TColor ruler_color_ = clBtnFace;
  TRulerDir ruler_dir_ = rdHorizontal;
  double view_min_ = 0;
  double view_max_ = 0;
  bool fit_ = false;
  bool hex_ = false;

  int pressed_ = -1;    ///< grip held by the left button
  int grip_pixel_ = 0;  ///< its pixel position at the press
  int down_ = 0;        ///< press position along the ruler
  int pointer_ = 0;     ///< last pointer position along the ruler
  bool moved_ = false;
};

}  // namespace korvane
