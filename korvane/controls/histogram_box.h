/// \file
/// THistogramBox: draws the level histogram of a processing component's image
/// as bars or lines, for any of red, green, blue and gray, with optional axis
/// labels and a color bar under the graph.
#pragma once
#include <memory>

#include "korvane/foundations/host/controls.h"
#include "korvane/foundations/host/export.h"
#include "korvane/pixels/histogram.h"

namespace korvane {

class TKorvaneProc;

enum THistogramKindItem { hkRed, hkGreen, hkBlue, hkGray };
using THistogramKind = TSet<THistogramKindItem>;
enum THistogramLabelsItem { hlVertical, hlHorizontal };
using THistogramLabels = TSet<THistogramLabelsItem>;
enum THistogramStyle { hsBars, hsLines };

/// The histogram box. It does not watch the image: it redraws when one of its
/// properties changes, when it is resized and when the application calls
/// Update. In design mode it shows a random histogram as a preview.
class KORVANE_EXPORT THistogramBox : public TCustomControl {
 public:
  explicit THistogramBox(TComponent* AOwner, QWidget* parent = nullptr);
  ~THistogramBox() override;

  TKorvaneProc* GetAKVP() const { return proc_; }
  void SetAKVP(TKorvaneProc* p);
  TColor GetBackground() const { return background_; }
  void SetBackground(TColor c);
  THistogramKind GetHistogramKind() const { return kind_; }
  void SetHistogramKind(THistogramKind k);
  THistogramLabels GetLabels() const { return labels_; }
  void SetLabels(THistogramLabels l);
  bool GetCompBar() const { return comp_bar_; }
  void SetCompBar(bool on);
  THistogramStyle GetHistogramStyle() const { return style_; }
  void SetHistogramStyle(THistogramStyle s);

  /// Redraws the off-screen picture from the attached component's image and
  /// invalidates the control.
  void Update();
  /// The off-screen picture that Paint shows.
  TBitmap* OffscreenBitmap() { return bitmap_.get(); }

  /// After drawing: the left edge of the graph area in the parent's
  /// coordinates (the control's Left plus the width of the vertical labels).
  int HistogramXPos = 0;

  void Paint() override;
  void WMSize() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  void DrawGraph(const THistogramItem* hist, uint32_t max);

  TKorvaneProc* proc_ = nullptr;
  TColor background_ = clWhite;
  THistogramKind kind_{hkGray};
  THistogramLabels labels_{hlVertical, hlHorizontal};
  bool comp_bar_ = true;
  THistogramStyle style_ = hsBars;
  std::unique_ptr<TBitmap> bitmap_;
};

}  // namespace korvane
