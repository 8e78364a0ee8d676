/// \file
/// TfPreviews: the modal form behind TKorvaneProc::DoPreviews. Nine adjustment
/// pages; on each the user moves sliders and sees, side by side, the selected
/// part of the image ("Source:") and that part processed with the current
/// values ("Result:"). OK applies the page's operation to the whole source.
#pragma once
#include <QDialog>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/kvdefs.h"
#include "korvane/foundations/kvmsg.h"
#include "korvane/pixels/filters.h"
#include "korvane/proc/kvproc.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QToolButton;

namespace korvane {

class TKorvaneView;
class THistogramBox;
class THSVBox;
class TRulerBox;

/// Page tags, as the tab sheets carry them.
enum TPreviewPage {
  ppgContrast = 1,
  ppgHSL = 2,
  ppgRGB = 3,
  ppgUserFilter = 4,
  ppgHSV = 5,
  ppgEqualization = 6,
  ppgBumpMap = 7,
  ppgLens = 8,
  ppgWave = 9
};

/// The slider values of the pages. Each is a slider with a spin box; the
/// refraction is kept in tenths (10 is a refraction of 1.0).
enum TPreviewValue {
  pvContrast,
  pvBrightness,
  pvHSVHue,
  pvHSVSat,
  pvHSVVal,
  pvHSLHue,
  pvHSLSat,
  pvHSLLum,
  pvRed,
  pvGreen,
  pvBlue,
  pvLightX,
  pvLightY,
  pvLightWidth,
  pvLightHeight,
  pvQuantity,
  pvLensX,
  pvLensY,
  pvLensWidth,
  pvLensHeight,
  pvRefraction,
  pvAmplitude,
  pvWaveLength,
  pvPhase,
  pvCount
};

/// The processing preview form. The caller hands it the source image in
/// Korvane1 (then calls Execute); after OK, Korvane1 holds the processed image.
///
/// Refreshing the result draws the visible part of Korvane1, as shown at its
/// zoom, into Korvane2 and applies the page's operation to that copy, so
/// positions and sizes of the bump map, lens and wave pages are converted to
/// screen scale first (ResultX, ResultY, ResultSize).
class KORVANE_EXPORT TfPreviews : public QDialog {
 public:
  /// Builds the modal form with all nine pages, captions in the default locale's language, and
  /// its private processing component on Korvane2; parent is the Qt parent.
  explicit TfPreviews(QWidget* parent = nullptr);
  /// Disconnects the views' handlers and frees the processing component before Qt deletes the views.
  ~TfPreviews() override;

  /// The source (full resolution) and the result (screen scale) views.
  TKorvaneView* Korvane1 = nullptr;
  /// The result view: what Korvane1 shows, at screen scale, processed; a click on it places the
  /// light or the lens.
  TKorvaneView* Korvane2 = nullptr;

  /// @name State handed over by the processing component
  //@{
  /// Sets every caption of the form in the language (msSystem: the default locale's).
  void SetLanguage(TMsgLanguage Language);
  /// The captions' language.
  TMsgLanguage GetLanguage() const { return language_; }
  /// The state "Lock preview" takes at activation.
  void SetDefaultLockPreview(bool on) { default_lock_ = on; }
  /// Sets the pages offered at activation (peAll, or an empty set, offers every page).
  void SetEffects(TPreviewEffectsSet Effects) { effects_ = Effects; }
  /// The pages offered (peAll by default).
  TPreviewEffectsSet GetEffects() const { return effects_; }
  /// The caller's progress handler and sender, used by OK.
  void SetProgress(const TProgressEvent& OnProgress, TObject* Sender);
  /// Sets the form's font; null changes nothing.
  void SetPreviewFont(const TFont* Font);

  /// Runs the activation step and the form modally; true after OK. The test
  /// hook, when set, is called once the form is shown (with the modal loop
  /// running), so a headless caller can drive it and close it.
  bool Execute();
  /// The test hook Execute calls once the form runs (empty by default).
  static std::function<void(TfPreviews*)> ShowHook;
  //@}

  /// @name Steps of the form, public so that a caller can drive them
  //@{
  /// Resets the values, sets up "Lock preview", shows the offered pages, makes
  /// the first one active, fits the source and runs the page change.
  void Activate();
  /// Makes Korvane2 the visible part of the source with the page applied.
  void RefreshResult();
  /// Restores the result's unprocessed copy and applies the page again.
  void PreviewResult();
  /// "<<": applies the current values to the source, resets them and refreshes
  /// the result.
  void CopyResultToSource();
  /// "OK": applies the current values to the source with the caller's
  /// progress handler, then closes with the OK result.
  void ApplyAndAccept();
  //@}

  /// @name Pages
  //@{
  /// Tag of the active page (0 when none is visible).
  int ActivePage() const;
  /// Makes the page with the tag active; false when it is not offered.
  bool SetActivePage(int Tag);
  /// True when the page with the tag is offered.
  bool PageVisible(int Tag) const;
  /// The number of pages offered.
  int VisiblePageCount() const;
  /// The tab widget holding the pages.
  QTabWidget* Pages() const { return tabs_; }
  //@}

  /// @name Values (setting one behaves as the user changing it)
  //@{
  /// The current value of slider v.
  int Value(TPreviewValue v) const;
  /// Moves slider v to x, clamped to its range.
  void SetValue(TPreviewValue v, int x);
  /// The slider of value v.
  QSlider* Slider(TPreviewValue v) const { return rows_[v].slider; }
  /// The user filter page's nine values and divisor.
  TGraphFilter GetFilter() const;
  /// Fills the user filter edits from f and refreshes the result when the preview is locked.
  void SetFilter(const TGraphFilter& f);
  /// Fills the filter edits from a preset (the " Presets" list).
  void SetPreset(TKVFilterPresets p);
  /// Filter files: false (with the error shown nowhere) when the file cannot
  /// be read or is not a filter file.
  bool LoadFilter(const std::string& FileName);
  /// Writes the current filter to the file; false when it cannot be written.
  bool SaveFilter(const std::string& FileName) const;
  /// Equalization: the threshold and equalization grips (0..255), the toggle.
  TRulerBox* ThresholdRuler() const { return thresh_ruler_; }
  /// The equalization ruler (grips 0 and 255 at first).
  TRulerBox* EqualizeRuler() const { return equal_ruler_; }
  /// Sets the "Equalize" toggle: on, automatic equalization follows the threshold and the stretch.
  void SetEqualize(bool on);
  /// True when "Equalize" is down.
  bool GetEqualize() const;
  /// The equalization page's histogram of the result.
  THistogramBox* Histogram() const { return histogram_; }
  /// The wave page's "Reflective" check box.
  bool GetReflective() const;
  /// Sets the "Reflective" check box.
  void SetReflective(bool on);
  /// The bump map page's light color (white at first).
  TRGB GetLightColor() const;
  /// The HSV page's base color: the source's mean color at first.
  THSVBox* BaseColorBox() const { return base_color_; }
  /// The HSV page's new color: the base color moved by the HSV offsets; picking one sets them.
  THSVBox* NewColorBox() const { return new_color_; }
  //@}

  /// @name Lock preview and buttons
  //@{
  /// True while "Lock preview" is down: every change refreshes the result.
  bool GetLockPreview() const;
  /// Presses or releases "Lock preview"; pressing it refreshes the result.
  void SetLockPreview(bool on);
  /// The "Lock preview" button.
  QToolButton* LockButton() const { return lock_; }
  /// "OK": ApplyAndAccept.
  QPushButton* OkButton() const { return ok_; }
  /// "Cancel": closes, the source unchanged.
  QPushButton* CancelButton() const { return cancel_; }
  /// "Preview": PreviewResult (disabled while the preview is locked).
  QPushButton* PreviewButton() const { return preview_; }
  /// "<<": CopyResultToSource.
  QPushButton* CopyButton() const { return copy_; }

  /// Source coordinates at the result's scale: with z = zoom / 100,
  /// trunc(x * z - ViewX), trunc(y * z - ViewY), trunc(s * z).
  int ResultX(int x) const;
  /// The same for a row.
  int ResultY(int y) const;
  /// The same for a length.
  int ResultSize(int s) const;

  /// Applies the active page's operation to a whole bitmap: the source
  /// (positions as they are) or the result (positions converted).
  void ApplyPage(TBitmap* Bitmap, bool OnResult, TProgressRec& Progress);
  //@}

 private:
  /// Asks for a filter file to load or save, with the form's language.
  QString AskFilterFile(bool save);
  struct ValueRow {
    QLabel* label = nullptr;
    QSlider* slider = nullptr;
    QSpinBox* spin = nullptr;
    QDoubleSpinBox* dspin = nullptr;  ///< the refraction shows tenths as a real
    const TKVMsg* msg = nullptr;
    const char* suffix = "";  // text after the message ("(H)", "(%)")
    int def = 0;
  };
  QWidget* BuildPage(int Tag);
  void AddRow(QWidget* page, QGridLayout* grid, int row, TPreviewValue v, const TKVMsg* msg,
              const char* suffix, int min, int max, int def);
  void ValueChanged();
  /// Resets the values of one page (all pages for 0).
  void ResetValues(int Tag);
  /// Ranges of the position pages follow the source's size.
  void SetPositionRanges();
  void PageChanged();
  void ScheduleRefresh();
  void UpdateNewColor();
  void NewColorPicked();
  void ResultClicked(int X, int Y);
  int TagOfIndex(int index) const;
  int IndexOfTag(int Tag) const;

  TMsgLanguage language_ = msSystem;
  bool default_lock_ = false;
  TPreviewEffectsSet effects_{peAll};
  TProgressEvent on_progress_;
  TObject* sender_ = nullptr;
  bool refresh_pending_ = false;
  int loading_ = 0;  ///< >0 while values are set by the form itself

  std::array<ValueRow, pvCount> rows_;
  QTabWidget* tabs_ = nullptr;
  QLabel* source_label_ = nullptr;
  QLabel* result_label_ = nullptr;
  QToolButton* lock_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* preview_ = nullptr;
  QPushButton* copy_ = nullptr;
  /// HSV page
  THSVBox* base_color_ = nullptr;
  THSVBox* new_color_ = nullptr;
  QLabel* base_label_ = nullptr;
  QLabel* new_label_ = nullptr;
  /// User filter page
  std::array<QSpinBox*, 9> filter_edits_{};
  QSpinBox* divisor_ = nullptr;
  QLabel* divisor_label_ = nullptr;
  QGroupBox* filter_group_ = nullptr;
  QGroupBox* presets_group_ = nullptr;
  QComboBox* presets_ = nullptr;
  QPushButton* load_ = nullptr;
  QPushButton* save_ = nullptr;
  /// Equalization page
  QLabel* thresh_label_ = nullptr;
  QLabel* equal_label_ = nullptr;
  TRulerBox* thresh_ruler_ = nullptr;
  TRulerBox* equal_ruler_ = nullptr;
  QPushButton* equalize_ = nullptr;
  QGroupBox* histo_group_ = nullptr;
  THistogramBox* histogram_ = nullptr;
  std::array<QCheckBox*, 4> histo_kinds_{};
  /// Bump map page
  QLabel* light_color_label_ = nullptr;
  THSVBox* light_color_ = nullptr;
  /// Wave page
  QCheckBox* reflective_ = nullptr;
  /// Works on Korvane2: keeps the result's unprocessed copy as its undo and
  /// feeds the histogram box.
  std::unique_ptr<TKorvaneProc> proc_;
};

}  // namespace korvane
