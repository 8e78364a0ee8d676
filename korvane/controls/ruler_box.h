// TRulerBox: a graduated ruler over a value range that can scroll, with one
// or more draggable grips beside it, each with its own value, color, shape
// and limits. Used as a slider with a scale, in units of the application's
// choosing.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "korvane/foundations/host/controls.h"

namespace korvane {

enum TGripKind { gkTriangle, gkLeftTriangle, gkRightTriangle, gkArrow, gkArrow2 };
// Registered with Qt's meta-object system (see control_enums in
// host/controls.h).
namespace ruler_enums {
Q_NAMESPACE
enum TGripsDir { gdUp, gdDown };
Q_ENUM_NS(TGripsDir)
enum TRulerDir { rdHorizontal, rdVertical };
Q_ENUM_NS(TRulerDir)
}  // namespace ruler_enums
using namespace ruler_enums;

using TRulerGripEvent = std::function<void(TObject* Sender, int Grip)>;
using TRulerClickEvent = std::function<void(TObject* Sender, double ps)>;

// One grip: its value in ruler units, fill color, shape and limits (no limit
// applies unless Max > Min).
struct TRulerGrip {
  double Pos = 0;
  TColor Color = clBtnFace;
  TGripKind Kind = gkTriangle;
  double Min = 0;
  double Max = 0;
};

// Label text of a ruler value: the shortest decimal of up to 15 significant
// digits (exponent form, "1E+020", for values of 10^15 and more or below
// 0.00001), or with hex the upper-case hexadecimal of the integer part of the
// magnitude, "-" in front of negative values.
std::string RulerLabel(double v, bool hex);

// The ruler box. Everything is drawn into an off-screen bitmap that Paint
// copies, so dragging does not flicker.
//
// Along the ruler, pixel p shows value p / DotPerUnit + ViewPos. A horizontal
// ruler measures along its width and x, a vertical one along its height and
// y, for painting, dragging, fitting, the view limits and clicks alike. With
// gdUp the ruler strip is at the top (left) and the grips below (right) point
// up at it; gdDown mirrors that.
//
// A grip dragged beyond either end scrolls the view one pixel per mouse move
// and per tick of a timer that runs while the button is held there.
class TRulerBox : public TCustomControl {
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
  explicit TRulerBox(TComponent* AOwner, QWidget* parent = nullptr);
  template <KVFormParent P>
  explicit TRulerBox(P* parent) : TRulerBox(nullptr, parent) {}
  ~TRulerBox() override;

  // Grips; setters ignore an index outside the list and getters answer 0.
  double GetGripsPos(int i) const;
  // Stores v, applies the grip's limits, fires OnRulerPosChange and paints
  // at once.
  void SetGripsPos(int i, double v);
  TColor GetGripsCol(int i) const;
  void SetGripsCol(int i, TColor c);
  TGripKind GetGripsKind(int i) const;
  void SetGripsKind(int i, TGripKind k);
  double GetGripsMin(int i) const;
  double GetGripsMax(int i) const;
  // Store the limit and then apply the limits of every grip.
  void SetGripsMin(int i, double v);
  void SetGripsMax(int i, double v);
  int GetGripsCount() const { return int(grips_.size()); }
  // New grips start at 0 in Background, triangles, limited to ViewMin..ViewMax.
  void SetGripsCount(int n);

  double GetViewPos() const { return view_pos_; }
  void SetViewPos(double v);
  double GetViewMin() const { return view_min_; }
  double GetViewMax() const { return view_max_; }
  // Store, keep ViewPos within the limits and set every grip's Min (Max).
  void SetViewMin(double v);
  void SetViewMax(double v);
  double GetDotPerUnit() const { return dpu_; }
  // Ignored in design mode while FitInView is on.
  void SetDPU(double v);
  double GetFrequency() const { return frequency_; }
  void SetFrequency(double v);
  double GetLabelFreq() const { return label_freq_; }
  void SetLabelFreq(double v);
  TColor GetBackground() const { return background_; }
  void SetBackground(TColor c);
  KV_QCOLOR_ACCESSORS(Background, GetBackground, SetBackground)
  int GetGripBaseDim() const { return grip_base_; }
  void SetGripBaseDim(int v);
  TGripsDir GetGripsDir() const { return grips_dir_; }
  void SetGripsDir(TGripsDir d);
  bool GetRuler() const { return ruler_; }
  void SetRuler(bool on);
  TColor GetRulerColor() const { return ruler_color_; }
  void SetRulerColor(TColor c);
  KV_QCOLOR_ACCESSORS(RulerColor, GetRulerColor, SetRulerColor)
  TRulerDir GetRulerDir() const { return ruler_dir_; }
  void SetRulerDir(TRulerDir d);
  // On: DotPerUnit fits ViewMin..ViewMax into the ruler's length.
  bool GetFitInView() const { return fit_; }
  void SetFitInView(bool on);
  bool GetHexLabels() const { return hex_; }
  void SetHexLabels(bool on);

  // Pixel of a grip along the ruler: round((Pos - ViewPos) x DotPerUnit).
  int GetXGripPos(int i) const;
  // The ruler's length in units (0 while DotPerUnit is 0).
  double GetWidthInUnit() const;
  // Thickness of the ruler strip: 0 without Ruler, else
  // trunc(|Font.Height| x 1.7) + 3.
  int GetRulerHeight() const;
  // The outline of a grip (3 to 7 points); empty for an unknown grip.
  std::vector<TPoint> GetGripPoly(int i) const;
  // The grip's bounding box, right and bottom one past its points.
  void GetGripRect(int i, TRect& r) const;
  // The topmost grip whose rectangle holds the point, or -1.
  int GetClickedGrip(int x, int y) const;

  // Refits, redraws grips and ruler into the off-screen bitmap, invalidates.
  void Update();
  void RepaintGrips();
  void RepaintRuler();
  TBitmap* OffscreenBitmap() { return bitmap_.get(); }

  TRulerGripEvent OnRulerPosChange, OnRulerGripClick, OnRulerGripDblClick;
  TRulerClickEvent OnRulerClick;

  // Timer that scrolls while a grip is held beyond an end, and its interval.
  static constexpr int kScrollTimer = 1;
  static constexpr int kScrollInterval = 30;

  void Paint() override;
  void WMSize() override;
  void WMTimer(int id) override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;

 private:
  bool Designing() const { return ComponentState().Contains(csDesigning); }
  bool Vertical() const { return ruler_dir_ == rdVertical; }
  // Length of the ruler in pixels: the bitmap's width, or height when vertical.
  int Length() const;
  void AdjustViewLimits();
  void AdjustGripLimits(int i);
  void DrawScale(double freq, int tickLen, bool labels);
  // One step of scrolling with the pressed grip beyond an end: dir -1 before
  // the start, +1 past the end.
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

  int pressed_ = -1;    // grip held by the left button
  int grip_pixel_ = 0;  // its pixel position at the press
  int down_ = 0;        // press position along the ruler
  int pointer_ = 0;     // last pointer position along the ruler
  bool moved_ = false;
};

}  // namespace korvane
