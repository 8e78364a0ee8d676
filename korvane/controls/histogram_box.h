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

/// A histogram a histogram box can draw: one channel, or the gray level.
enum THistogramKindItem { hkRed, hkGreen, hkBlue, hkGray };
/// The histograms drawn together, each in its own color (red, dark green, blue, black).
using THistogramKind = TSet<THistogramKindItem>;
/// Axis labels: counts beside the graph (vertical) and levels under it (horizontal).
enum THistogramLabelsItem { hlVertical, hlHorizontal };
/// The axis labels shown.
using THistogramLabels = TSet<THistogramLabelsItem>;
/// How counts are drawn: one vertical bar per column, or a polyline.
enum THistogramStyle { hsBars, hsLines };

/// The histogram box. It does not watch the image: it redraws when one of its
/// properties changes, when it is resized and when the application calls
/// Update. In design mode it shows a random histogram as a preview.
class KORVANE_EXPORT THistogramBox : public TCustomControl {
 public:
  /// An opaque 256 x 105 box on white showing the gray histogram as bars with both labels and the
  /// color bar; no processing component yet. It redraws when its font changes.
  explicit THistogramBox(TComponent* AOwner, QWidget* parent = nullptr);
  /// Stops watching the processing component and notifies the components that watch this one.
  ~THistogramBox() override;

  /// The processing component whose image (its selection rectangle) is counted, or null.
  TKorvaneProc* GetAKVP() const { return proc_; }
  /// Attaches the component (dropped again when it is destroyed) and redraws.
  void SetAKVP(TKorvaneProc* p);
  /// The fill behind the graph (white by default).
  TColor GetBackground() const { return background_; }
  /// Sets the fill and redraws.
  void SetBackground(TColor c);
  /// The histograms drawn (gray only by default).
  THistogramKind GetHistogramKind() const { return kind_; }
  /// Sets the histograms drawn and redraws when they change.
  void SetHistogramKind(THistogramKind k);
  /// The axis labels shown (both by default), in the control's font.
  THistogramLabels GetLabels() const { return labels_; }
  /// Sets the labels and redraws when they change.
  void SetLabels(THistogramLabels l);
  /// True (the default) to show a ramp of the drawn channels from 0 to 255 under the graph.
  bool GetCompBar() const { return comp_bar_; }
  /// Shows or hides the ramp and redraws when that changes.
  void SetCompBar(bool on);
  /// Bars (the default) or lines.
  THistogramStyle GetHistogramStyle() const { return style_; }
  /// Sets the style and redraws when it changes.
  void SetHistogramStyle(THistogramStyle s);

  /// Redraws the off-screen picture from the attached component's image and
  /// invalidates the control.
  void Update();
  /// The off-screen picture that Paint shows.
  TBitmap* OffscreenBitmap() { return bitmap_.get(); }

  /// After drawing: the left edge of the graph area in the parent's
  /// coordinates (the control's Left plus the width of the vertical labels).
  int HistogramXPos = 0;

  /// Copies the off-screen picture onto the control.
  void Paint() override;
  /// Resizes the off-screen picture to the client area and redraws it.
  void WMSize() override;
  /// Drops a processing component that is being destroyed and redraws without it.
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
