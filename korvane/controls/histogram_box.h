// THistogramBox: draws the level histogram of a processing component's image
// as bars or lines, for any of red, green, blue and gray, with optional axis
// labels and a color bar under the graph.
#pragma once
#include <memory>

#include "korvane/foundations/host/controls.h"
#include "korvane/pixels/histogram.h"

namespace korvane {

class TKorvaneProc;

enum THistogramKindItem { hkRed, hkGreen, hkBlue, hkGray };
using THistogramKind = TSet<THistogramKindItem>;
enum THistogramLabelsItem { hlVertical, hlHorizontal };
using THistogramLabels = TSet<THistogramLabelsItem>;
// Registered with Qt's meta-object system (see control_enums in
// host/controls.h).
namespace histogram_enums {
Q_NAMESPACE
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

// The histogram box. It does not watch the image: it redraws when one of its
// properties changes, when it is resized and when the application calls
// Update. In design mode it shows a random histogram as a preview.
class THistogramBox : public TCustomControl {
  Q_OBJECT
  Q_PROPERTY(QColor Background READ BackgroundQColor WRITE SetBackgroundQColor)
  Q_PROPERTY(korvane::THistogramFlags::Kind HistogramKind READ HistogramKindFlags WRITE SetHistogramKindFlags)
  Q_PROPERTY(korvane::THistogramFlags::Labels Labels READ LabelsFlags WRITE SetLabelsFlags)
  Q_PROPERTY(bool CompBar READ GetCompBar WRITE SetCompBar)
  Q_PROPERTY(korvane::histogram_enums::THistogramStyle HistogramStyle READ GetHistogramStyle WRITE SetHistogramStyle)

 public:
  explicit THistogramBox(TComponent* AOwner, QWidget* parent = nullptr);
  template <KVFormParent P>
  explicit THistogramBox(P* parent) : THistogramBox(nullptr, parent) {}
  ~THistogramBox() override;

  TKorvaneProc* GetAKVP() const { return proc_; }
  void SetAKVP(TKorvaneProc* p);
  TColor GetBackground() const { return background_; }
  void SetBackground(TColor c);
  KV_QCOLOR_ACCESSORS(Background, GetBackground, SetBackground)
  THistogramKind GetHistogramKind() const { return kind_; }
  void SetHistogramKind(THistogramKind k);
  THistogramLabels GetLabels() const { return labels_; }
  void SetLabels(THistogramLabels l);
  THistogramFlags::Kind HistogramKindFlags() const { return KVSetToFlags<THistogramFlags::Kind>(kind_); }
  void SetHistogramKindFlags(THistogramFlags::Kind f) { SetHistogramKind(KVFlagsToSet<THistogramKindItem>(f)); }
  THistogramFlags::Labels LabelsFlags() const { return KVSetToFlags<THistogramFlags::Labels>(labels_); }
  void SetLabelsFlags(THistogramFlags::Labels f) { SetLabels(KVFlagsToSet<THistogramLabelsItem>(f)); }
  bool GetCompBar() const { return comp_bar_; }
  void SetCompBar(bool on);
  THistogramStyle GetHistogramStyle() const { return style_; }
  void SetHistogramStyle(THistogramStyle s);

  // Redraws the off-screen picture from the attached component's image and
  // invalidates the control.
  void Update();
  // The off-screen picture that Paint shows.
  TBitmap* OffscreenBitmap() { return bitmap_.get(); }

  // After drawing: the left edge of the graph area in the parent's
  // coordinates (the control's Left plus the width of the vertical labels).
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
