// The demo's docked panel of small controls: a histogram of the current
// image (kinds and style selectable), an HSV box whose color becomes the
// view's background, a gradient bar from black to that color, and a ruler
// whose two grips are the low and high thresholds of a level stretch.
#pragma once
#include <QDockWidget>
#include <functional>

#include "korvane/controls/gradient_bar.h"
#include "korvane/controls/histogram_box.h"
#include "korvane/controls/hsv_box.h"
#include "korvane/controls/ruler_box.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace korvane {
class TKorvaneProc;
class TKorvaneView;
}  // namespace korvane

namespace korvane::demo {

class ControlsPanel : public QDockWidget {
 public:
  // The panel works on the view's image through proc; both must outlive the
  // panel's use (the window deletes the view first; the controls are not
  // called afterwards).
  ControlsPanel(TKorvaneView* view, TKorvaneProc* proc, QWidget* parent = nullptr);

  THistogramBox* Histogram() const { return histogram_; }
  THSVBox* HSV() const { return hsv_; }
  TKVGradientBar* Gradient() const { return gradient_; }
  TRulerBox* Levels() const { return levels_; }
  // The thresholds the ruler's grips give (0..255).
  int LowThreshold() const;
  int HighThreshold() const;
  // Stretches the levels between the two thresholds (the view's selection, or
  // the whole image) and redraws the histogram.
  void StretchLevels();
  // Runs a change of the picture the panel makes (the window records it for
  // Undo); unset, the change just runs.
  std::function<void(const std::function<void()>&)> RunChange;

 private:
  void UpdateHistogramKind();
  void ShowLevels();
  void ShowGradientPick();

  TKorvaneView* view_;
  TKorvaneProc* proc_;
  THistogramBox* histogram_ = nullptr;
  QCheckBox* kinds_[4] = {};
  QComboBox* style_ = nullptr;
  THSVBox* hsv_ = nullptr;
  QLabel* hsv_label_ = nullptr;
  TKVGradientBar* gradient_ = nullptr;
  QLabel* gradient_label_ = nullptr;
  TRulerBox* levels_ = nullptr;
  QLabel* levels_label_ = nullptr;
  QPushButton* stretch_ = nullptr;
};

}  // namespace korvane::demo
