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
// Registered with Qt's meta-object system (see control_enums in
// host/controls.h).
namespace histogram_enums {
Q_NAMESPACE
/// How counts are drawn: one vertical bar per column, or a polyline.
enum THistogramStyle { hsBars, hsLines };
Q_ENUM_NS(THistogramStyle)
}  // namespace histogram_enums
using namespace histogram_enums;

// The two sets as Qt flags, for the HistogramKind and Labels properties.
class THistogramFlags {
  Q_GADGET
 public:
  enum KindItem {
    hkRed = 1 << korvane::hkRed,
    hkGreen = 1 << korvane::hkGreen,
    hkBlue = 1 << korvane::hkBlue,
    hkGray = 1 << korvane::hkGray
  };
  Q_DECLARE_FLAGS(Kind, KindItem)
  Q_FLAG(Kind)
  enum LabelsItem { hlVertical = 1 << korvane::hlVertical, hlHorizontal = 1 << korvane::hlHorizontal };
  Q_DECLARE_FLAGS(Labels, LabelsItem)
  Q_FLAG(Labels)
};

/// The histogram box. It does not watch the image: it redraws when one of its
/// properties changes, when it is resized and when the application calls
/// Update. In design mode it shows a random histogram as a preview.
class KORVANE_EXPORT THistogramBox : public TCustomControl {
  Q_OBJECT
  Q_PROPERTY(QColor Background READ BackgroundQColor WRITE SetBackgroundQColor)
  Q_PROPERTY(korvane::THistogramFlags::Kind HistogramKind READ HistogramKindFlags WRITE SetHistogramKindFlags)
  Q_PROPERTY(korvane::THistogramFlags::Labels Labels READ LabelsFlags WRITE SetLabelsFlags)
  Q_PROPERTY(bool CompBar READ GetCompBar WRITE SetCompBar)
  Q_PROPERTY(korvane::histogram_enums::THistogramStyle HistogramStyle READ GetHistogramStyle WRITE SetHistogramStyle)

 public:
  /// An opaque 256 x 105 box on white showing the gray histogram as bars with both labels and the
  /// color bar; no processing component yet. It redraws when its font changes.
  explicit THistogramBox(TComponent* AOwner, QWidget* parent = nullptr);
  template <KVFormParent P>
  explicit THistogramBox(P* parent) : THistogramBox(nullptr, parent) {}
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
  KV_QCOLOR_ACCESSORS(Background, GetBackground, SetBackground)
  /// The histograms drawn (gray only by default).
  THistogramKind GetHistogramKind() const { return kind_; }
  /// Sets the histograms drawn and redraws when they change.
  void SetHistogramKind(THistogramKind k);
  /// The axis labels shown (both by default), in the control's font.
  THistogramLabels GetLabels() const { return labels_; }
  /// Sets the labels and redraws when they change.
  void SetLabels(THistogramLabels l);
  THistogramFlags::Kind HistogramKindFlags() const { return KVSetToFlags<THistogramFlags::Kind>(kind_); }
  void SetHistogramKindFlags(THistogramFlags::Kind f) { SetHistogramKind(KVFlagsToSet<THistogramKindItem>(f)); }
  THistogramFlags::Labels LabelsFlags() const { return KVSetToFlags<THistogramFlags::Labels>(labels_); }
  void SetLabelsFlags(THistogramFlags::Labels f) { SetLabels(KVFlagsToSet<THistogramLabelsItem>(f)); }
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
