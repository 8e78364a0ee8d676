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
/// The pages DoPreviews offers; peAll offers every one.
using TPreviewEffectsSet = TSet<TPreviewEffects>;
/// Options of the processing preview dialog.
enum TPRPreviewsParamsItems { prppDefaultLockPreview };
/// The dialog options set (prppDefaultLockPreview: "Lock preview" starts checked).
using TPRPreviewsParams = TSet<TPRPreviewsParamsItems>;

/// The non-visual processing component: color, depth, filter, geometry, histogram and effect
/// operations on the bitmap of an attached view, picture control or bare bitmap.
class KORVANE_EXPORT TKorvaneProc : public TComponent {
 public:
  /// Made without a target or selection, AutoUndo on, an empty undo snapshot and background 0
  /// (black); AOwner, when given, owns and frees it.
  explicit TKorvaneProc(TComponent* AOwner = nullptr);
  /// Sends the removal notification to the components that asked for it and leaves the view's listeners.
  ~TKorvaneProc() override;

  /// @name Attachment
  //@{
  /// The attached image view, or null.
  TKVView* GetAttachedKorvane() const { return target_.View(); }
  /// Works on the view's bitmap (and follows the view when it replaces it).
  void SetAttachedKorvane(TKVView* v);
  /// The attached picture control, or null.
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
  //@}

  /// @name Selection
  //@{
  /// Sets the own selection and, with an image view attached, the view's
  /// (in bitmap coordinates).
  void Select(int x1, int y1, int x2, int y2);
  /// Drops the own selection and the view's, so that operations take the whole bitmap.
  void SelectAll();
  /// The resolved selection: the inclusive bounding rectangle, clipped to the
  /// working bitmap, and the polygon as selected (null, count 0 for a
  /// rectangle of the own selection). False when nothing is selected: the
  /// rectangle is then the whole working bitmap. A selection wholly outside
  /// the bitmap gives true and an empty rectangle (x2 < x1 or y2 < y1).
  bool GetReSel(int& x1, int& y1, int& x2, int& y2, const TPoint*& Polygon, int& Count) const;
  /// Left column of the resolved selection rectangle (0 without a selection).
  int GetSelX1() const;
  /// Top row of the resolved selection rectangle (0 without a selection).
  int GetSelY1() const;
  /// Right column (inclusive) of the resolved selection rectangle (the last column without one).
  int GetSelX2() const;
  /// Bottom row (inclusive) of the resolved selection rectangle (the last row without one).
  int GetSelY2() const;
  //@}

  /// @name Background
  //@{
  /// The color cleared, cut and uncovered areas take: the attached view's background, else the
  /// component's own (0, black, at first).
  TColor GetReBackground() const;
  /// Sets the attached view's background (a visible view repaints), else the component's own.
  void SetReBackground(TColor c);
  //@}

  /// @name Undo
  //@{
  /// Copies the working bitmap into the undo snapshot (one level: the previous one is lost).
  /// Operations call it first when AutoUndo is on.
  virtual void SaveUndo();
  /// Copies the snapshot back over the working bitmap and updates; nothing when GetCanUndo is false.
  /// The snapshot stays, so Undo can be repeated.
  virtual void Undo();
  /// Empties the undo snapshot (it becomes 1 x 1).
  void ClearUndo();
  /// True when the snapshot is larger than one pixel in both directions.
  bool GetCanUndo() const;
  /// When true (the default), each operation saves undo before it changes the bitmap.
  bool GetAutoUndo() const { return auto_undo_; }
  /// Turns the automatic undo snapshot on or off.
  void SetAutoUndo(bool on) { auto_undo_ = on; }
  //@}

  /// @name Clipboard
  //@{
  /// Puts the whole working bitmap on the clipboard as a packed DIB.
  void CopyToClipboard();
  /// Puts the selected area on the clipboard (a polygon as its bounding rectangle, masked by it);
  /// the whole bitmap without a selection.
  void SelCopyToClip();
  /// Copies the selected area to the clipboard and fills it with the background; nothing without a selection.
  void SelCutToClip();
  /// Replaces the working bitmap with the clipboard's image (size and format included); nothing
  /// when the clipboard holds none.
  void PasteFromClipboard();
  /// Pastes at (x, y): client coordinates of an attached image view, else
  /// bitmap coordinates. The working bitmap keeps its size.
  void PointPasteFromClip(int x, int y);
  /// Stretches the clipboard's image over the selection rectangle; without a selection, as
  /// PasteFromClipboard.
  void SelPasteFromClipStretch();
  //@}

  /// @name Clearing and cropping
  //@{
  /// Fills the whole working bitmap with the background, whatever is selected.
  void Clear();
  /// Fills the selection (rectangle or polygon) with the background; the whole bitmap without one.
  void ClearSel();
  /// Crops to the selection: columns x1..x2-1 and rows y1..y2-1.
  void CropSel();
  //@}

  /// @name Operation protocol
  //@{
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
  /// Adds r, g and b to the red, green and blue channels, clamped to 0..255.
  void IntensityRGBall(int r, int g, int b);
  /// 24-bit and 1-bit.
  void Negative();
  /// Replaces each pixel by its gray level (21 r + 71 g + 7 b) div 100, staying 24-bit.
  void ConvertToGray();
  /// Paints CastColor over every pixel whose red, green and blue each lie between BeginColor's
  /// and EndColor's (inclusive).
  void CastColorRange(TRGB BeginColor, TRGB EndColor, TRGB CastColor);
  /// Per channel: a value at or below DownLimit's becomes DownVal's, then one above UpLimit's
  /// becomes UpVal's.
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
  /// Turns a 24-bit working bitmap into a 1-bit one by ordered dithering.
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

  /// Convolves the selection with the 3 x 3 filter, each channel divided by the filter's divisor
  /// and clamped to 0..255.
  void ApplyFilter(const TGraphFilter& Filter);
  /// ApplyFilter with one of the preset filters; an unknown preset does nothing.
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
  /// Equalizes the selection by the gray histogram of the whole bitmap, smoothed locally.
  void HistAutoEqualize();
  /// Stretches each channel's levels so that LoThresh's becomes 0 and HiThresh's 255.
  void HistEqualize(TRGB LoThresh, TRGB HiThresh);

  // Effects (24-bit). Merge follows the selection like the other operations;
  // Lens, Wave and BumpMapping run on the bounding rectangle of the view's
  // selection pasted back through it, or on the whole image when the view
  // has none (the own rectangle is not used).

  /// Blends Other, stretched over the selection rectangle, into it: Percent of the image is kept
  /// (100 keeps it, 0 replaces it). Nothing when Other is null.
  void Merge(TBitmap* Other, int Percent);
  /// A lens bulge of Width x Height centred at (x, y) of the area worked on; refraction below 1
  /// counts as 1.
  void Lens(int x, int y, int Width, int Height, double Refraction);
  /// Concentric waves around the centre of the area (Amplitude and WaveLength in pixels, Phase in
  /// degrees); Reflective pulls pixels along the radius. Nothing when Amplitude or WaveLength is 0.
  void Wave(int Amplitude, int WaveLength, int Phase, bool Reflective);
  /// Lights the area as a relief by a spot of Color at (LightX, LightY), LightWidth x LightHeight;
  /// Percent of the image is kept (100 leaves it unchanged).
  void BumpMapping(int LightX, int LightY, int LightWidth, int LightHeight, int Percent, TRGB Color);

  // Hidden data (the whole 24-bit bitmap; all return 0 and do nothing for
  // other formats)

  /// Hides min(Length, GetHiddenDataSpace()) bytes and returns that count.
  int WriteHiddenData(const void* Buffer, int Length);
  /// Hides the bytes of Text (no terminator) as WriteHiddenData does and returns the count hidden.
  int WriteHiddenText(const std::string& Text);
  /// Copies up to Max stored bytes into Buffer (none when null) and returns
  /// the stored length, at most GetHiddenDataSpace().
  int ReadHiddenData(void* Buffer, int Max);
  /// The stored bytes as a string (empty for other formats; noise from an image that hides nothing).
  std::string ReadHiddenText();
  /// Bytes the bitmap can hide: ((3 x width - 2) x height) div 8 - 8, at least 0; 0 for other formats.
  int GetHiddenDataSpace();
  //@}

  /// @name Other properties
  //@{
  /// The language of the preview dialog; msSystem (the default) follows the default locale.
  TMsgLanguage GetMsgLanguage() const { return msg_language_; }
  /// Sets the language the next DoPreviews uses.
  void SetMsgLanguage(TMsgLanguage l) { msg_language_ = l; }
  /// Options of the preview dialog (empty by default).
  TPRPreviewsParams GetPRPreviewParams() const { return previews_params_; }
  /// Sets the options the next DoPreviews uses.
  void SetPRPreviewParams(TPRPreviewsParams p) { previews_params_ = p; }
  /// The processing preview dialog with the pages in effects; on OK the
  /// adjusted selection is pasted back. True when the user pressed OK.
  bool DoPreviews(TPreviewEffectsSet effects);
  /// The preview dialog's font, owned by the component.
  TFont* GetPreviewFont() const { return preview_font_.get(); }
  /// Copies the font's attributes into the owned preview font.
  void SetPreviewFont(const TFont* f);
  /// The undo snapshot (1 x 1 when empty).
  const TBitmap* UndoBitmap() const { return undo_.get(); }

  /// Called during operations with the component and the percentage done (0..100).
  TProgressEvent OnProgress;

  /// Forgets an attached view or picture control that is being destroyed (and its bitmap).
  void Notification(TComponent* AComponent, TOperation Operation) override;
  //@}

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
