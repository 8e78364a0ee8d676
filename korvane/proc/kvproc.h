/// \file
/// The processing component: TKorvaneProc works in place on one bitmap that it
/// borrows from an attached view, picture control or bare bitmap, limits its
/// operations to the current selection, keeps one level of undo and exchanges
/// packed DIBs with the clipboard. The plain procedures it shares with the
/// other components come with it from korvane/pixels/.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/picture.h"
#include "korvane/foundations/host/winsys.h"
#include "korvane/foundations/kvdefs.h"
#include "korvane/pixels/dib_procs.h"
#include "korvane/pixels/effects.h"
#include "korvane/pixels/filters.h"
#include "korvane/pixels/hidden.h"
#include "korvane/pixels/histogram.h"
#include "korvane/pixels/transforms.h"
#include "korvane/view/attached_target.h"
#include "korvane/view/kvview.h"

namespace korvane {

/// Effects the processing preview dialog can offer.
enum TPreviewEffects {
  peAll,
  peContrast,
  peHSV,
  peHSL,
  peRGB,
  peUserFilt,
  peEqualize,
  peBumpMap,
  peLens,
  peWave
};
using TPreviewEffectsSet = TSet<TPreviewEffects>;
/// Options of the processing preview dialog.
enum TPRPreviewsParamsItems { prppDefaultLockPreview };
using TPRPreviewsParams = TSet<TPRPreviewsParamsItems>;

class KORVANE_EXPORT TKorvaneProc : public TComponent {
 public:
  explicit TKorvaneProc(TComponent* AOwner = nullptr);
  ~TKorvaneProc() override;

  /// @name Attachment
  /// @{
  TKVView* GetAttachedKorvane() const { return target_.View(); }
  /// Works on the view's bitmap (and follows the view when it replaces it).
  void SetAttachedKorvane(TKVView* v);
  TImage* GetAttachedTImage() const { return target_.Image(); }
  /// Works on the picture control's bitmap (the picture gets one if it has none).
  void SetTImage(TImage* image);
  /// Works on a bare bitmap, in place. Null while a view or picture control is
  /// attached keeps that attachment.
  void SetAttachedBitmap(TBitmap* bitmap);
  /// The working bitmap (null when none).
  TBitmap* GetBitmap() const;
  /// Refreshes what shows the working bitmap: the view's Update and
  /// ImageChange, or the bitmap's change event.
  void Update();
  /// @}

  /// @name Selection
  /// @{
  /// Sets the own selection and, with an image view attached, the view's
  /// (in bitmap coordinates).
  void Select(int x1, int y1, int x2, int y2);
  void SelectAll();
  /// The resolved selection: the inclusive bounding rectangle, clipped to the
  /// working bitmap, and the polygon as selected (null, count 0 for a
  /// rectangle of the own selection). False when nothing is selected: the
  /// rectangle is then the whole working bitmap. A selection wholly outside
  /// the bitmap gives true and an empty rectangle (x2 < x1 or y2 < y1).
  bool GetReSel(int& x1, int& y1, int& x2, int& y2, const TPoint*& Polygon, int& Count) const;
  int GetSelX1() const;
  int GetSelY1() const;
  int GetSelX2() const;
  int GetSelY2() const;
  /// @}

  /// @name Background
  /// @{
  TColor GetReBackground() const;
  void SetReBackground(TColor c);
  /// @}

  /// @name Undo
  /// @{
  virtual void SaveUndo();
  virtual void Undo();
  void ClearUndo();
  bool GetCanUndo() const;
  bool GetAutoUndo() const { return auto_undo_; }
  void SetAutoUndo(bool on) { auto_undo_ = on; }
  /// @}

  /// @name Clipboard
  /// @{
  void CopyToClipboard();
  void SelCopyToClip();
  void SelCutToClip();
  void PasteFromClipboard();
  /// Pastes at (x, y): client coordinates of an attached image view, else
  /// bitmap coordinates. The working bitmap keeps its size.
  void PointPasteFromClip(int x, int y);
  void SelPasteFromClipStretch();
  /// @}

  /// @name Clearing and cropping
  /// @{
  void Clear();
  void ClearSel();
  /// Crops to the selection: columns x1..x2-1 and rows y1..y2-1.
  void CropSel();
  /// @}

  /// @name Operation protocol
  /// @{
  /// Runs one selection-limited operation: returns at once without a working bitmap or when its format is
  /// not 24-bit (nor 1-bit when Accept1Bit), saves undo when AutoUndo, resolves the selection and calls
  /// Work on the working bitmap's rectangle, or, for a true polygon, on a copy of the bounding rectangle
  /// pasted back through the polygon; then Update.
  void RunSelOp(const std::function<void(TBitmap* Bitmap, int x1, int y1, int x2, int y2)>& Work,
                bool Accept1Bit = false);
  /// Progress record reporting to OnProgress with this component as Sender.
  TProgressRec ProgressRec();

  // Color models and adjustments (24-bit; the selection limits them; undo,
  // progress and Update as RunSelOp says)

  /// Adds Hue degrees, Sat and Lum percent in HSL; sums are clamped, not wrapped.
  void HSLvar(int Hue, int Sat, int Lum);
  /// Adds Hue degrees and Sat, Val on the 0..99 scale in HSV; clamped, not wrapped.
  void HSVvar(int Hue, int Sat, int Val);
  /// Contrast around the channel means of the whole bitmap (amount 0: none,
  /// -100: flat). Bitmaps smaller than 2 x 2 are left alone.
  void Contrast(int Amount);
  void IntensityRGBall(int r, int g, int b);
  /// 24-bit and 1-bit.
  void Negative();
  void ConvertToGray();
  void CastColorRange(TRGB BeginColor, TRGB EndColor, TRGB CastColor);
  void Threshold(TRGB DownLimit, TRGB UpLimit, TRGB DownVal, TRGB UpVal);
  /// A new gray image of one HSV component (0 = H, 1 = S, 2 = V, others H) of
  /// the whole bitmap; null without a 24-bit working bitmap. No undo.
  std::unique_ptr<TBitmap> GetHSVChannel(int Channel);
  /// H, S and V become the three component images; nothing without a 24-bit
  /// working bitmap.
  void GetHSVChannelAll(TBitmap* H, TBitmap* S, TBitmap* V);

  // Color depth conversion (the whole bitmap, selection ignored except by
  // CalcImageNumColors; a 24-bit working bitmap unless said)

  /// NCol > 2: reduces to NCol colors, staying 24-bit; NCol <= 2: ordered
  /// dithering to 1-bit.
  void ConvertTo(int NCol);
  /// As ConvertTo, returning the palette in Palette (NCol entries, or none when
  /// null); for NCol <= 2 black and white, as far as NCol entries go.
  void ConvertToPalette(int NCol, TRGB* Palette);
  void ConvertToBWOrdered();
  /// Threshold -1 takes the gray level of the channel means.
  void ConvertToBWThreshold(int Threshold = -1);
  /// A 1-bit working bitmap becomes 24-bit; others are left alone.
  void ConvertTo24Bit();
  /// Fills Palette (MaxCol entries) with the quantizer's palette of the image,
  /// leaving the image as it is.
  void CalcImagePalette(TRGB* Palette, int MaxCol);
  /// Distinct colors of the resolved selection rectangle of a 24-bit bitmap, 2
  /// for a 1-bit one, 0 otherwise.
  int CalcImageNumColors();

  // Convolution filters (24-bit; the selection limits them)

  void ApplyFilter(const TGraphFilter& Filter);
  void ApplyFilterPreset(TKVFilterPresets Preset);

  // Geometric transforms (the whole bitmap; the selection is ignored)

  /// Scales to Width x Height with Filter (rfNone, and any 1-bit image: the
  /// host's halftone stretch). One negative size keeps the aspect ratio; both
  /// negative change nothing.
  void Resample(int Width, int Height, TResampleFilter Filter);
  /// Changes the canvas size, keeping the pixels at the top left and filling
  /// new area with the background. Sizes below 1 change nothing.
  void ImageResize(int Width, int Height);
  /// Turns the image counter-clockwise by Angle degrees (the image grows to hold
  /// it, uncovered corners take the background). 24-bit: quarter turns exactly,
  /// the rest by three shears, blended when Antialias. 1-bit: inverse mapping
  /// to the nearest pixel, filled with white when the own background is not 0.
  void Rotate(int Angle, bool Antialias);
  /// 24-bit and 1-bit.
  void Flip(TFlipDir Dir);

  // Histogram and equalization (24-bit; the selection limits them)

  /// Counts the resolved selection's bounding rectangle; the array is left
  /// untouched without a 24-bit working bitmap.
  void GetHistogram(THistogramItem* Hist);
  void HistAutoEqualize();
  void HistEqualize(TRGB LoThresh, TRGB HiThresh);

  // Effects (24-bit). Merge follows the selection like the other operations;
  // Lens, Wave and BumpMapping run on the bounding rectangle of the view's
  // selection pasted back through it, or on the whole image when the view
  // has none (the own rectangle is not used).

  void Merge(TBitmap* Other, int Percent);
  void Lens(int x, int y, int Width, int Height, double Refraction);
  void Wave(int Amplitude, int WaveLength, int Phase, bool Reflective);
  void BumpMapping(int LightX, int LightY, int LightWidth, int LightHeight, int Percent, TRGB Color);

  // Hidden data (the whole 24-bit bitmap; all return 0 and do nothing for
  // other formats)

  /// Hides min(Length, GetHiddenDataSpace()) bytes and returns that count.
  int WriteHiddenData(const void* Buffer, int Length);
  int WriteHiddenText(const std::string& Text);
  /// Copies up to Max stored bytes into Buffer (none when null) and returns
  /// the stored length, at most GetHiddenDataSpace().
  int ReadHiddenData(void* Buffer, int Max);
  std::string ReadHiddenText();
  int GetHiddenDataSpace();
  /// @}

  /// @name Other properties
  /// @{
  TMsgLanguage GetMsgLanguage() const { return msg_language_; }
  void SetMsgLanguage(TMsgLanguage l) { msg_language_ = l; }
  TPRPreviewsParams GetPRPreviewParams() const { return previews_params_; }
  void SetPRPreviewParams(TPRPreviewsParams p) { previews_params_ = p; }
  /// The processing preview dialog with the pages in effects; on OK the
  /// adjusted selection is pasted back. True when the user pressed OK.
  bool DoPreviews(TPreviewEffectsSet effects);
  TFont* GetPreviewFont() const { return preview_font_.get(); }
  /// Copies the font's attributes into the owned preview font.
  void SetPreviewFont(const TFont* f);
  /// The undo snapshot (1 x 1 when empty).
  const TBitmap* UndoBitmap() const { return undo_.get(); }

  TProgressEvent OnProgress;

  void Notification(TComponent* AComponent, TOperation Operation) override;
  /// @}

 private:
  /// The selection as stored, not clipped; false when there is none.
  bool RawSel(int& x1, int& y1, int& x2, int& y2, const TPoint*& Polygon, int& Count) const;
  bool IsTrueRect(const TPoint* Polygon, int Count) const;
  /// Runs an effect on the bounding rectangle of the view's selection, pasted
  /// back through it, or on the whole bitmap without one; undo and Update as
  /// RunSelOp.
  void RunEffectOp(const std::function<void(TBitmap* Bitmap, int x1, int y1, int x2, int y2)>& Work);
  /// The packed DIB block of the selected area (rectangle or polygon).
  HGLOBAL SelectionDIB(TBitmap* bmp, int x1, int y1, int x2, int y2, const TPoint* Polygon, int Count);
  /// Fills the resolved selection with the background.
  void FillSelection(TBitmap* bmp, int x1, int y1, int x2, int y2, const TPoint* Polygon, int Count);
  /// The clipboard's DIB in a bitmap; false when there is none or it is not valid.
  bool ClipboardBitmap(TBitmap& out);

  bool auto_undo_ = true;
  int sel_x1_ = -1, sel_y1_ = -1, sel_x2_ = -1, sel_y2_ = -1;
  TColor background_ = 0;
  TMsgLanguage msg_language_ = msSystem;
  TPRPreviewsParams previews_params_;
  std::unique_ptr<TFont> preview_font_;
  std::unique_ptr<TBitmap> undo_;
  TAttachedTarget target_{this};
};

}  // namespace korvane
