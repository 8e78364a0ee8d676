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
/// The number of pages (and of TIOPreviewsPage values).
constexpr int kIOPreviewsPageCount = 6;

/// The save-parameters form. Working values start from the caller's record each time a page is
/// shown; the result is recomputed on Preview, or on every change while "Lock preview" is down.
class KORVANE_EXPORT TfIOPreviews : public QDialog, public TComponent {
 public:
  /// Builds the form in English with its private I/O and processing components and no record;
  /// AOwner owns the component side, parent is the Qt parent.
  explicit TfIOPreviews(TComponent* AOwner = nullptr, QWidget* parent = nullptr);
  /// Frees the private components before Qt deletes the views they are attached to.
  ~TfIOPreviews() override;

  /// The caller's record (not owned): read when a page is shown, written by OK.
  void SetIOParams(TIOParamsVals* params) { caller_ = params; }
  /// The caller's record, or null.
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
  /// The form's font, sized to fit its captions; null changes nothing.
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
  TKorvaneView* Korvane1 = nullptr;           ///< source
  TKorvaneView* Korvane2 = nullptr;           ///< result
  QProgressBar* ProgressBar1 = nullptr;       ///< progress of computing the result
  QPushButton* OkButton = nullptr;            ///< writes the active page into the record and closes
  QPushButton* CancelButton = nullptr;        ///< closes, the record untouched
  QPushButton* PreviewButton = nullptr;       ///< computes the result (disabled while locked)
  QToolButton* LockButton = nullptr;          ///< "Lock preview": recompute on every change
  QTabWidget* PageControl = nullptr;          ///< one tab per format, hidden unless offered
  QWidget* Pages[kIOPreviewsPageCount] = {};  ///< the pages, by TIOPreviewsPage
  QLabel* SourceLabel = nullptr;              ///< "Source:" caption
  QLabel* ResultLabel = nullptr;              ///< "Result:" caption
  QLabel* OriginalSizeLabel = nullptr;        ///< "Original size:" caption
  QLabel* CompressedSizeLabel = nullptr;      ///< "Compressed size:" caption
  QLabel* OriginalSize = nullptr;             ///< "<n> bytes"
  QLabel* CompressedSize = nullptr;           ///< "<n> bytes", or why the save failed

  QSpinBox* JPEGQuality = nullptr;          ///< JPEG_Quality, 0..100
  QSlider* JPEGQualityBar = nullptr;        ///< the same quality as a slider
  QComboBox* JPEGPhotometric = nullptr;     ///< JPEG_ColorSpace
  QComboBox* JPEGDCTMethod = nullptr;       ///< JPEG_DCTMethod
  QSpinBox* JPEGSmooth = nullptr;           ///< JPEG_Smooth, 0..100
  QCheckBox* JPEGOptimalHuffman = nullptr;  ///< JPEG_OptimalHuffman
  QCheckBox* JPEGProgressive = nullptr;     ///< JPEG_Progressive

  QComboBox* TIFFCompression = nullptr;   ///< TIFF_Compression
  QSpinBox* TIFFImageIndex = nullptr;     ///< TIFF_ImageIndex, 0..1000
  QComboBox* TIFFPhotometric = nullptr;   ///< TIFF_PhotometInterpret; it can fix the colors choice
  QComboBox* TIFFColors = nullptr;        ///< B/W, 16, 256, 65536 or 16M colors
  QGroupBox* TIFFDocInfo = nullptr;       ///< "Scanned document info" group
  QSpinBox* TIFFXPos = nullptr;           ///< TIFF_XPos, in inches
  QSpinBox* TIFFYPos = nullptr;           ///< TIFF_YPos, in inches
  QLineEdit* TIFFDocumentName = nullptr;  ///< TIFF_DocumentName
  QLineEdit* TIFFDescription = nullptr;   ///< TIFF_ImageDescription
  QLineEdit* TIFFPageName = nullptr;      ///< TIFF_PageName
  QSpinBox* TIFFPageNumber = nullptr;     ///< TIFF_PageNumber, 0..65535
  QSpinBox* TIFFPageCount = nullptr;      ///< TIFF_PageCount, 0..65535

  QSpinBox* GIFImageIndex = nullptr;      ///< GIF_ImageIndex, 0..1000
  QComboBox* GIFColors = nullptr;         ///< B/W to 256 colors (1 to 8 bits)
  QCheckBox* GIFTransparent = nullptr;    ///< GIF_FlagTranspColor
  QPushButton* GIFTranspColor = nullptr;  ///< GIF_TranspColor, picked from the result's palette
  QCheckBox* GIFInterlaced = nullptr;     ///< GIF_Interlaced
  QPushButton* GIFBackground = nullptr;   ///< GIF_Background, picked with the color dialog
  QGroupBox* GIFAdvanced = nullptr;       ///< "Advanced" group
  QSpinBox* GIFDelayTime = nullptr;       ///< GIF_DelayTime, in 1/100 s
  QSpinBox* GIFXPos = nullptr;            ///< GIF_XPos, in pixels
  QSpinBox* GIFYPos = nullptr;            ///< GIF_YPos, in pixels

  QComboBox* BMPCompression = nullptr;  ///< BMP_Compression
  QComboBox* BMPColors = nullptr;       ///< B/W, 16, 256, 65536, 16M or 16M (32bit)
  QComboBox* PCXCompression = nullptr;  ///< PCX_Compression
  QComboBox* PCXColors = nullptr;       ///< B/W, 16, 256 or 16M colors

  QComboBox* PNGColors = nullptr;        ///< B/W, 256 or 16M colors
  QPushButton* PNGBackground = nullptr;  ///< PNG_Background, from the palette for a palette result
  QGroupBox* PNGAdvanced = nullptr;      ///< "Advanced" group
  QComboBox* PNGFilter = nullptr;        ///< PNG_Filter
  QCheckBox* PNGInterlaced = nullptr;    ///< PNG_Interlaced
  QComboBox* PNGCompression = nullptr;   ///< PNG_Compression, NONE, 1..8 or MAX (9)

  /// The private components (owned by the form): the I/O component saves the
  /// preview, the processing component reduces the result's colors.
  TKorvaneIO* PreviewIO() const { return io_; }
  /// The private processing component.
  TKorvaneProc* PreviewProc() const { return proc_; }

  /// Closes the form; on OK first writes the active page's values into the caller's record.
  void done(int r) override;
  //@}

 protected:
  /// When the application shows the form (not the window system): fits, centres, shows the pages.
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
