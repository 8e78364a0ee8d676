/// \file
/// The combined component: TKorvane is an image view that owns a processing
/// and an I/O component attached to itself, routes the settings they share
/// and offers their operations as its own, so that an application gets view,
/// file I/O and processing in one control.
#pragma once
#include <memory>
#include <string>

#include "korvane/foundations/host/export.h"
#include "korvane/io/kvio.h"
#include "korvane/proc/kvproc.h"
#include "korvane/view/kvview.h"

namespace korvane {

// Registered with Qt's meta-object system (see control_enums in
// host/controls.h).
namespace combined_enums {
Q_NAMESPACE
/// Color depth of the combined component's image. Only 24 bits is kept.
enum TNColors { nc8bit, nc24bit };
Q_ENUM_NS(TNColors)
}  // namespace combined_enums
using namespace combined_enums;

/// The image view with file I/O and processing built in: a TKorvaneView that owns a TKorvaneProc
/// and a TKorvaneIO working on its own bitmap.
class KORVANE_EXPORT TKorvane : public TKorvaneView {
  Q_OBJECT
  Q_PROPERTY(bool AutoUndo READ GetAutoUndo WRITE SetAutoUndo)
  Q_PROPERTY(korvane::combined_enums::TNColors NColors READ GetNColors WRITE SetNColors)
  Q_PROPERTY(korvane::defs_enums::TMsgLanguage MsgLanguage READ GetMsgLanguage WRITE SetMsgLanguage)
  Q_PROPERTY(bool StreamHeaders READ GetStreamHeaders WRITE SetStreamHeaders)

 public:
  /// Makes the view and its two components, both attached to it, AutoUndo on. AOwner owns the
  /// control when given; parent is its Qt parent widget.
  explicit TKorvane(TComponent* AOwner = nullptr, QWidget* parent = nullptr);
  template <KVFormParent P>
  explicit TKorvane(P* parent) : TKorvane(nullptr, parent) {}
  /// Frees the I/O and processing components while the view is still whole, then the view.
  ~TKorvane() override;

  /// The owned components (attached to this control for their whole life).
  TKorvaneProc* Proc() const { return proc_; }
  /// The owned I/O component.
  TKorvaneIO* IO() const { return io_; }

  /// @name Routed settings
  //@{
  /// The processing component's AutoUndo: operations save undo first (on by default).
  bool GetAutoUndo() const { return proc_->GetAutoUndo(); }
  /// Turns the processing component's automatic undo on or off.
  void SetAutoUndo(bool on) { proc_->SetAutoUndo(on); }
  /// The image's color depth: always nc24bit.
  TNColors GetNColors() const { return ncolors_; }
  /// Whatever v is, the bitmap becomes 24-bit and NColors stays nc24bit.
  void SetNColors(TNColors v);
  /// Set on both components; read from the processing one.
  const TProgressEvent& GetOnProgress() const { return proc_->OnProgress; }
  /// Sets the progress handler of both components.
  void SetOnProgress(const TProgressEvent& e);
  /// The language of the preview dialogs, read from the processing component.
  TMsgLanguage GetMsgLanguage() const { return proc_->GetMsgLanguage(); }
  /// Sets the language of both components' dialogs.
  void SetMsgLanguage(TMsgLanguage l);
  /// Options of the processing preview dialog.
  TPRPreviewsParams GetProcPreviewsParams() const { return proc_->GetPRPreviewParams(); }
  /// Sets the options of the processing preview dialog.
  void SetProcPreviewsParams(TPRPreviewsParams p) { proc_->SetPRPreviewParams(p); }
  /// Options of the save-parameters dialog.
  TIOPreviewsParams GetIOPreviewsParams() const { return io_->GetIOPreviewParams(); }
  /// Sets the options of the save-parameters dialog.
  void SetIOPreviewsParams(TIOPreviewsParams p) { io_->SetIOPreviewParams(p); }
  /// Set on both (each copies it); read from the I/O component.
  TFont* GetPreviewFont() const { return io_->GetPreviewFont(); }
  /// Copies f into both components' preview fonts; null changes nothing.
  void SetPreviewFont(const TFont* f);
  /// The I/O component's StreamHeaders: JPEG, PCX and TIFF stream data carry the 12-byte header.
  bool GetStreamHeaders() const { return io_->StreamHeaders; }
  /// Sets whether the stream saves write, and the PCX and TIFF stream loads expect, that header.
  void SetStreamHeaders(bool on) { io_->StreamHeaders = on; }
  /// The I/O component's parameters record, filled by loads and read by saves.
  TIOParamsVals* IOParams() const { return io_->Params(); }
  /// The I/O component's TWAIN parameters (made on first use).
  TKVTWainParams* TWainParams() const { return io_->TWainParams(); }
  /// The I/O component's abort flag: set it from a progress handler to stop a load.
  bool GetAborting() const { return io_->Aborting; }
  /// Sets or clears the I/O component's abort flag.
  void SetAborting(bool on) { io_->Aborting = on; }
  /// True when the undo snapshot holds an image (larger than one pixel each way).
  bool GetCanUndo() const { return proc_->GetCanUndo(); }

  /// Copies the I/O parameters of a TKorvane or a TKorvaneIO, then what the
  /// view's Assign copies.
  void Assign(TObject* Source) override;
  /// The I/O parameters part of Assign alone.
  void AssignIOParams(TObject* Source);
  //@}

  /// @name Processing (see TKorvaneProc)
  //@{
  /// Copies the bitmap into the one-level undo snapshot.
  void SaveUndo() { proc_->SaveUndo(); }
  /// Empties the undo snapshot.
  void ClearUndo() { proc_->ClearUndo(); }
  /// Puts the undo snapshot back into the bitmap; nothing when there is none.
  void Undo() { proc_->Undo(); }
  /// Inverts the colors of the selection (24-bit and 1-bit).
  void Negative() { proc_->Negative(); }
  /// Adds Hue degrees, Sat and Lum percent in HSL to the selection, clamped.
  void HSLvar(int Hue, int Sat, int Lum) { proc_->HSLvar(Hue, Sat, Lum); }
  /// Adds Hue degrees and Sat, Val (0..99 scale) in HSV to the selection, clamped.
  void HSVvar(int Hue, int Sat, int Val) { proc_->HSVvar(Hue, Sat, Val); }
  /// Adds r, g and b to the channels of the selection, clamped to 0..255.
  void IntensityRGBall(int r, int g, int b) { proc_->IntensityRGBall(r, g, b); }
  /// Changes the selection's contrast around the whole image's channel means (0: none, -100: flat).
  void Contrast(int Amount) { proc_->Contrast(Amount); }
  /// Convolves the selection with the 3 x 3 filter.
  void ApplyFilter(const TGraphFilter& Filter) { proc_->ApplyFilter(Filter); }
  /// Convolves the selection with a preset filter.
  void ApplyFilterPreset(TKVFilterPresets Preset) { proc_->ApplyFilterPreset(Preset); }
  /// Turns the selection gray, staying 24-bit.
  void ConvertToGray() { proc_->ConvertToGray(); }
  /// Paints CastColor over the selection's pixels whose channels all lie in BeginColor..EndColor.
  void CastColorRange(TRGB BeginColor, TRGB EndColor, TRGB CastColor) {
    proc_->CastColorRange(BeginColor, EndColor, CastColor);
  }
  /// Turns the whole image counter-clockwise by Angle degrees; uncovered corners take the background.
  void Rotate(int Angle, bool Antialias) { proc_->Rotate(Angle, Antialias); }
  /// Mirrors the whole image in the given direction.
  void Flip(TFlipDir Dir) { proc_->Flip(Dir); }
  /// Changes the canvas size, keeping the pixels at the top left; new area takes the background.
  void ImageResize(int Width, int Height) { proc_->ImageResize(Width, Height); }
  /// Scales the whole image to Width x Height with Filter; one negative size keeps the aspect ratio.
  void Resample(int Width, int Height, TResampleFilter Filter) { proc_->Resample(Width, Height, Filter); }
  /// Clear is the processing component's: it fills the selection-independent bitmap with its background.
  void Clear() { proc_->Clear(); }
  /// Fills the selection with the background (the whole bitmap without one).
  void ClearSel() { proc_->ClearSel(); }
  /// Crops the bitmap to the selection.
  void CropSel() { proc_->CropSel(); }
  /// Copies the selection (the whole bitmap without one) to the clipboard.
  void SelCopyToClip() { proc_->SelCopyToClip(); }
  /// Copies the whole bitmap to the clipboard.
  void CopyToClipboard() { proc_->CopyToClipboard(); }
  /// Stretches the clipboard's image over the selection rectangle (replaces the bitmap without one).
  void SelPasteFromClipStretch() { proc_->SelPasteFromClipStretch(); }
  /// Replaces the bitmap with the clipboard's image.
  void PasteFromClipboard() { proc_->PasteFromClipboard(); }
  /// Pastes the clipboard's image with its top left at the client point (x, y).
  void PointPasteFromClip(int x, int y) { proc_->PointPasteFromClip(x, y); }
  /// Copies the selection to the clipboard and fills it with the background.
  void SelCutToClip() { proc_->SelCutToClip(); }
  /// Blends Other into the selection, keeping Percent of the image.
  void Merge(TBitmap* Other, int Percent) { proc_->Merge(Other, Percent); }
  /// Per channel, values at or below DownLimit become DownVal, values above UpLimit UpVal.
  void Threshold(TRGB DownLimit, TRGB UpLimit, TRGB DownVal, TRGB UpVal) {
    proc_->Threshold(DownLimit, UpLimit, DownVal, UpVal);
  }
  /// Stretches the selection's levels so that LoThresh becomes 0 and HiThresh 255.
  void HistEqualize(TRGB LoThresh, TRGB HiThresh) { proc_->HistEqualize(LoThresh, HiThresh); }
  /// Equalizes the selection by the whole image's gray histogram.
  void HistAutoEqualize() { proc_->HistAutoEqualize(); }
  /// Reduces the image to NCol colors (staying 24-bit), or dithers it to 1-bit for NCol <= 2.
  void ConvertTo(int NCol) { proc_->ConvertTo(NCol); }
  /// Dithers the image to 1-bit with an ordered pattern.
  void ConvertToBWOrdered() { proc_->ConvertToBWOrdered(); }
  /// Turns the image 1-bit at a gray threshold (-1: the mean gray level).
  void ConvertToBWThreshold(int Threshold = -1) { proc_->ConvertToBWThreshold(Threshold); }
  /// Turns a 1-bit image 24-bit.
  void ConvertTo24Bit() { proc_->ConvertTo24Bit(); }
  /// Lights the selection (the whole image without one) as a relief by a spot of Color.
  void BumpMapping(int LightX, int LightY, int LightWidth, int LightHeight, int Percent, TRGB Color) {
    proc_->BumpMapping(LightX, LightY, LightWidth, LightHeight, Percent, Color);
  }
  /// Counts the levels of the selection rectangle into Hist.
  void GetHistogram(THistogramItem* Hist) { proc_->GetHistogram(Hist); }
  /// Fills Palette with up to MaxCol colors the quantizer picks for the image.
  void CalcImagePalette(TRGB* Palette, int MaxCol) { proc_->CalcImagePalette(Palette, MaxCol); }
  /// The number of distinct colors in the selection rectangle.
  int CalcImageNumColors() { return proc_->CalcImageNumColors(); }
  /// A new gray image of one HSV component (0 H, 1 S, 2 V) of the whole image.
  std::unique_ptr<TBitmap> GetHSVChannel(int Channel) { return proc_->GetHSVChannel(Channel); }
  /// Makes H, S and V the three HSV component images.
  void GetHSVChannelAll(TBitmap* H, TBitmap* S, TBitmap* V) { proc_->GetHSVChannelAll(H, S, V); }
  /// A lens bulge of Width x Height centred at (x, y) of the selection or whole image.
  void Lens(int x, int y, int Width, int Height, double Refraction) {
    proc_->Lens(x, y, Width, Height, Refraction);
  }
  /// Concentric waves over the selection or whole image.
  void Wave(int Amplitude, int WaveLength, int Phase, bool Reflective) {
    proc_->Wave(Amplitude, WaveLength, Phase, Reflective);
  }
  /// Hides Text in the pixels; returns the bytes hidden.
  int WriteHiddenText(const std::string& Text) { return proc_->WriteHiddenText(Text); }
  /// Hides up to Length bytes of Buffer in the pixels; returns the bytes hidden.
  int WriteHiddenData(const void* Buffer, int Length) { return proc_->WriteHiddenData(Buffer, Length); }
  /// The text hidden in the pixels.
  std::string ReadHiddenText() { return proc_->ReadHiddenText(); }
  /// Copies up to Max hidden bytes into Buffer; returns the stored length.
  int ReadHiddenData(void* Buffer, int Max) { return proc_->ReadHiddenData(Buffer, Max); }
  /// Bytes the image can hide.
  int GetHiddenDataSpace() { return proc_->GetHiddenDataSpace(); }
  /// The processing preview dialog.
  bool DoPreviews(TPreviewEffectsSet effects) { return proc_->DoPreviews(effects); }
  //@}

  /// @name File I/O (see TKorvaneIO)
  //@{
  /// Loads a file into the view by its extension (any case); unknown extensions load nothing.
  void LoadFromFile(const std::string& name) { io_->LoadFromFile(name); }
  /// Saves the image by the file's extension; unknown extensions write BMP.
  void SaveToFile(const std::string& name) { io_->SaveToFile(name); }
  /// Loads a BMP file.
  void LoadFromFileBMP(const std::string& name) { io_->LoadFromFileBMP(name); }
  /// Loads a BMP from the stream's position.
  void LoadFromStreamBMP(TStream* s) { io_->LoadFromStreamBMP(s); }
  /// Saves the image as a BMP file.
  void SaveToFileBMP(const std::string& name) { io_->SaveToFileBMP(name); }
  /// Writes the image as a BMP at the stream's position.
  void SaveToStreamBMP(TStream* s) { io_->SaveToStreamBMP(s); }
  /// Loads frame GIF_ImageIndex of a GIF file; answers the number of frames.
  int32_t LoadFromFileGif(const std::string& name) { return io_->LoadFromFileGif(name); }
  /// Loads frame GIF_ImageIndex of the GIF at the stream's position; answers the number of frames.
  int32_t LoadFromStreamGif(TStream* s) { return io_->LoadFromStreamGif(s); }
  /// Saves the image as a one-frame GIF file.
  void SaveToFileGif(const std::string& name) { io_->SaveToFileGif(name); }
  /// Writes the image as a one-frame GIF at the stream's position.
  void SaveToStreamGif(TStream* s) { io_->SaveToStreamGif(s); }
  /// Inserts the image as frame GIF_ImageIndex of a GIF file; answers the new frame count.
  int32_t InsertToFileGif(const std::string& name) { return io_->InsertToFileGif(name); }
  /// Loads a JPEG file.
  void LoadFromFileJpeg(const std::string& name) { io_->LoadFromFileJpeg(name); }
  /// Loads a JPEG from the stream's position (with or without a stream header).
  void LoadFromStreamJpeg(TStream* s) { io_->LoadFromStreamJpeg(s); }
  /// Saves the image as a JPEG file.
  void SaveToFileJpeg(const std::string& name) { io_->SaveToFileJpeg(name); }
  /// Writes the image as a JPEG at the stream's position.
  void SaveToStreamJpeg(TStream* s) { io_->SaveToStreamJpeg(s); }
  /// Loads a PCX file.
  void LoadFromFilePCX(const std::string& name) { io_->LoadFromFilePCX(name); }
  /// Loads a PCX from the stream's position.
  void LoadFromStreamPCX(TStream* s) { io_->LoadFromStreamPCX(s); }
  /// Saves the image as a PCX file.
  void SaveToFilePCX(const std::string& name) { io_->SaveToFilePCX(name); }
  /// Writes the image as a PCX at the stream's position.
  void SaveToStreamPCX(TStream* s) { io_->SaveToStreamPCX(s); }
  /// Loads a PNG file.
  void LoadFromFilePNG(const std::string& name) { io_->LoadFromFilePNG(name); }
  /// Loads a PNG from the stream's position.
  void LoadFromStreamPNG(TStream* s) { io_->LoadFromStreamPNG(s); }
  /// Saves the image as a PNG file.
  void SaveToFilePNG(const std::string& name) { io_->SaveToFilePNG(name); }
  /// Writes the image as a PNG at the stream's position.
  void SaveToStreamPNG(TStream* s) { io_->SaveToStreamPNG(s); }
  /// Loads page TIFF_ImageIndex of a TIFF file; answers the number of pages.
  int32_t LoadFromFileTIFF(const std::string& name) { return io_->LoadFromFileTIFF(name); }
  /// Loads page TIFF_ImageIndex of the TIFF at the stream's position; answers the number of pages.
  int32_t LoadFromStreamTIFF(TStream* s) { return io_->LoadFromStreamTIFF(s); }
  /// Saves the image as a one-page TIFF file.
  void SaveToFileTIFF(const std::string& name) { io_->SaveToFileTIFF(name); }
  /// Writes the image as a one-page TIFF at the stream's position.
  void SaveToStreamTIFF(TStream* s) { io_->SaveToStreamTIFF(s); }
  /// Inserts the image as page TIFF_ImageIndex of a TIFF file; answers the new page count.
  int32_t InsertToFileTIFF(const std::string& name) { return io_->InsertToFileTIFF(name); }
  /// Loads image ICO_ImageIndex of an icon file.
  void LoadFromFileICO(const std::string& name) { io_->LoadFromFileICO(name); }
  /// Loads image ICO_ImageIndex of the icon at the stream's position.
  void LoadFromStreamICO(TStream* s) { io_->LoadFromStreamICO(s); }
  /// Loads image CUR_ImageIndex of a cursor file.
  void LoadFromFileCUR(const std::string& name) { io_->LoadFromFileCUR(name); }
  /// Loads image CUR_ImageIndex of the cursor at the stream's position.
  void LoadFromStreamCUR(TStream* s) { io_->LoadFromStreamCUR(s); }
  /// Draws a WMF or EMF file into the image at width x height (negative: keep the aspect ratio).
  void ImportMetafile(const std::string& name, int width, int height) {
    io_->ImportMetafile(name, width, height);
  }
  /// Fills IOParams from a file without decoding the image.
  void ParamsFromFile(const std::string& name) { io_->ParamsFromFile(name); }
  /// Fills IOParams from the image at the stream's position without decoding it.
  void ParamsFromStream(TStream* s) { io_->ParamsFromStream(s); }
  /// Acquires one image from the selected scanner source; true when one arrived.
  bool Acquire() { return io_->Acquire(); }
  /// Shows the scanner source selection dialog; true when a source was chosen.
  bool SelectAcquireSource() { return io_->SelectAcquireSource(); }
  /// The I/O component's save-parameters dialog.
  bool DoIOPreviews(TPreviewParams pp) { return io_->DoPreviews(pp); }
  //@}

 private:
  TKorvaneProc* proc_ = nullptr;  ///< owned (also as owned components)
  TKorvaneIO* io_ = nullptr;
  TNColors ncolors_ = nc24bit;
};

}  // namespace korvane
