/// \file
/// TfIOPreviews: the save-parameters form behind DoPreviews of the I/O and
/// multi-image I/O components. One page per file format holds that format's
/// save parameters; two views show the source and the result of saving with
/// the chosen values, with the original and the compressed size in bytes.
/// OK writes the active page's values into the caller's record; Cancel
/// leaves the record alone.
#pragma once
#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/object.h"
#include "korvane/foundations/kvdefs.h"
#include "korvane/foundations/kvmsg.h"
#include "korvane/io/ioparams.h"
#include "korvane/io/kvio.h"
#include "korvane/view/kvview.h"

class QCheckBox;
class QColorDialog;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QToolButton;

namespace korvane {

class TKorvaneProc;

/// Pages of the form, in tab order.
enum TIOPreviewsPage { iopJPEG, iopTIFF, iopGIF, iopBMP, iopPCX, iopPNG };
constexpr int kIOPreviewsPageCount = 6;

class KORVANE_EXPORT TfIOPreviews : public QDialog, public TComponent {
 public:
  explicit TfIOPreviews(TComponent* AOwner = nullptr, QWidget* parent = nullptr);
  ~TfIOPreviews() override;

  /// The caller's record (not owned): read when a page is shown, written by OK.
  void SetIOParams(TIOParamsVals* params) { caller_ = params; }
  TIOParamsVals* GetIOParams() const { return caller_; }
  /// Stores the pages to show. ppAUTO adds the page of the caller's FileType
  /// (set the record first). False when no page would be shown; the caller
  /// then does not show the form.
  bool SetPreviewParams(TPreviewParams pages);
  /// Captions in that language (English keeps the form's own captions with
  /// their access keys).
  void SetLanguage(TMsgLanguage lang);
  /// The "Lock preview" state the form starts with.
  void SetLockPreview(bool on) { lock_default_ = on; }
  void SetPreviewFont(const TFont* f);

  /// Computes the result of the active page's working values: saves the
  /// source with them, shows the compressed size and the result in Korvane2.
  void applyAct();
  /// The page whose values OK writes.
  TIOPreviewsPage ActivePage() const;
  /// Bytes of the source as an uncompressed bitmap: rows of width x 1 bit
  /// (1-bit source) or x 24 bits, padded to 32 bits, times the height.
  static int64_t UncompressedSize(TBitmap* b);

  /// @name The form's controls (owned by the form through Qt)
  //@{
  TKorvaneView* Korvane1 = nullptr;  ///< source
  TKorvaneView* Korvane2 = nullptr;  ///< result
  QProgressBar* ProgressBar1 = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QPushButton* PreviewButton = nullptr;
  QToolButton* LockButton = nullptr;
  QTabWidget* PageControl = nullptr;
  QWidget* Pages[kIOPreviewsPageCount] = {};
  QLabel* SourceLabel = nullptr;
  QLabel* ResultLabel = nullptr;
  QLabel* OriginalSizeLabel = nullptr;
  QLabel* CompressedSizeLabel = nullptr;
  QLabel* OriginalSize = nullptr;    ///< "<n> bytes"
  QLabel* CompressedSize = nullptr;  ///< "<n> bytes", or why the save failed

  QSpinBox* JPEGQuality = nullptr;
  QSlider* JPEGQualityBar = nullptr;
  QComboBox* JPEGPhotometric = nullptr;
  QComboBox* JPEGDCTMethod = nullptr;
  QSpinBox* JPEGSmooth = nullptr;
  QCheckBox* JPEGOptimalHuffman = nullptr;
  QCheckBox* JPEGProgressive = nullptr;

  QComboBox* TIFFCompression = nullptr;
  QSpinBox* TIFFImageIndex = nullptr;
  QComboBox* TIFFPhotometric = nullptr;
  QComboBox* TIFFColors = nullptr;
  QGroupBox* TIFFDocInfo = nullptr;
  QSpinBox* TIFFXPos = nullptr;
  QSpinBox* TIFFYPos = nullptr;
  QLineEdit* TIFFDocumentName = nullptr;
  QLineEdit* TIFFDescription = nullptr;
  QLineEdit* TIFFPageName = nullptr;
  QSpinBox* TIFFPageNumber = nullptr;
  QSpinBox* TIFFPageCount = nullptr;

  QSpinBox* GIFImageIndex = nullptr;
  QComboBox* GIFColors = nullptr;
  QCheckBox* GIFTransparent = nullptr;
  QPushButton* GIFTranspColor = nullptr;
  QCheckBox* GIFInterlaced = nullptr;
  QPushButton* GIFBackground = nullptr;
  QGroupBox* GIFAdvanced = nullptr;
  QSpinBox* GIFDelayTime = nullptr;
  QSpinBox* GIFXPos = nullptr;
  QSpinBox* GIFYPos = nullptr;

  QComboBox* BMPCompression = nullptr;
  QComboBox* BMPColors = nullptr;
  QComboBox* PCXCompression = nullptr;
  QComboBox* PCXColors = nullptr;

  QComboBox* PNGColors = nullptr;
  QPushButton* PNGBackground = nullptr;
  QGroupBox* PNGAdvanced = nullptr;
  QComboBox* PNGFilter = nullptr;
  QCheckBox* PNGInterlaced = nullptr;
  QComboBox* PNGCompression = nullptr;

  /// The private components (owned by the form): the I/O component saves the
  /// preview, the processing component reduces the result's colors.
  TKorvaneIO* PreviewIO() const { return io_; }
  TKorvaneProc* PreviewProc() const { return proc_; }

  void done(int r) override;
  //@}

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  struct Caption;
  void BuildJPEGPage();
  void BuildTIFFPage();
  void BuildGIFPage();
  void BuildBMPPage();
  void BuildPCXPage();
  void BuildPNGPage();
  /// A label for buddy captioned english, or msg in another language.
  QLabel* AddLabel(const char* english, const TKVMsg& msg, QWidget* buddy);
  /// Registers a caption: english as it is, or pattern with %1 replaced by msg
  /// in another language.
  void AddCaption(std::function<void(const QString&)> set, const char* english, const TKVMsg& msg,
                  const char* pattern);
  void FitFormSize();
  void Connect();
  /// The showing step: lock state, visible tabs, first page, sizes, fit.
  void Activate();
  /// Reads the active page's working values from the caller's record, fills
  /// its controls and computes the result.
  void PageChanged();
  void FillControls(TIOPreviewsPage page);
  /// A control changed a working value: recompute when it differs and the
  /// preview is locked to the controls.
  void Changed(bool differs);
  void TIFFPhotometricRules();
  /// Colors of the active page's choice and the (samples, bits) it writes.
  int ColorCount(TIOPreviewsPage page) const;
  void ColorsToRecord(TIOPreviewsPage page, TIOParamsVals& p) const;
  void ColorsFromRecord(TIOPreviewsPage page, const TIOParamsVals& p);
  void WriteActivePage();
  void PickColor(TRGB& target, QPushButton* panel, bool palette, int entries);
  void ShowColor(QPushButton* panel, TRGB c);
  void SetProgress(int per);

  TIOParamsVals* caller_ = nullptr;
  TPreviewParams pages_;
  TMsgLanguage language_ = msSystem;
  bool lock_default_ = false;
  /// Working values, one per control: the record's fields and the colors
  /// choice of each page (index into that page's colors combo).
  TIOParamsVals work_;
  int colors_[kIOPreviewsPageCount] = {4, 4, 7, 4, 3, 2};
  bool filling_ = false;
  bool computing_ = false;
  bool activated_ = false;
  int progress_divisor_ = 1, progress_offset_ = 0;
  TKorvaneIO* io_ = nullptr;
  TKorvaneProc* proc_ = nullptr;
  QColorDialog* color_dialog_ = nullptr;
  std::vector<Caption> captions_;
};

}  // namespace korvane
