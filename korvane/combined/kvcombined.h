// The combined component: TKorvane is an image view that owns a processing
// and an I/O component attached to itself, routes the settings they share
// and offers their operations as its own, so that an application gets view,
// file I/O and processing in one control.
#pragma once
#include <memory>
#include <string>

#include "korvane/io/kvio.h"
#include "korvane/proc/kvproc.h"
#include "korvane/view/kvview.h"

namespace korvane {

// Registered with Qt's meta-object system (see control_enums in
// host/controls.h).
namespace combined_enums {
Q_NAMESPACE
// Color depth of the combined component's image. Only 24 bits is kept.
enum TNColors { nc8bit, nc24bit };
Q_ENUM_NS(TNColors)
}  // namespace combined_enums
using namespace combined_enums;

class TKorvane : public TKorvaneView {
  Q_OBJECT
  Q_PROPERTY(bool AutoUndo READ GetAutoUndo WRITE SetAutoUndo)
  Q_PROPERTY(korvane::combined_enums::TNColors NColors READ GetNColors WRITE SetNColors)
  Q_PROPERTY(korvane::defs_enums::TMsgLanguage MsgLanguage READ GetMsgLanguage WRITE SetMsgLanguage)
  Q_PROPERTY(bool StreamHeaders READ GetStreamHeaders WRITE SetStreamHeaders)

 public:
  explicit TKorvane(TComponent* AOwner = nullptr, QWidget* parent = nullptr);
  template <KVFormParent P>
  explicit TKorvane(P* parent) : TKorvane(nullptr, parent) {}
  ~TKorvane() override;

  // The owned components (attached to this control for their whole life).
  TKorvaneProc* Proc() const { return proc_; }
  TKorvaneIO* IO() const { return io_; }

  // --- Routed settings
  bool GetAutoUndo() const { return proc_->GetAutoUndo(); }
  void SetAutoUndo(bool on) { proc_->SetAutoUndo(on); }
  TNColors GetNColors() const { return ncolors_; }
  // Whatever v is, the bitmap becomes 24-bit and NColors stays nc24bit.
  void SetNColors(TNColors v);
  // Set on both components; read from the processing one.
  const TProgressEvent& GetOnProgress() const { return proc_->OnProgress; }
  void SetOnProgress(const TProgressEvent& e);
  TMsgLanguage GetMsgLanguage() const { return proc_->GetMsgLanguage(); }
  void SetMsgLanguage(TMsgLanguage l);
  TPRPreviewsParams GetProcPreviewsParams() const { return proc_->GetPRPreviewParams(); }
  void SetProcPreviewsParams(TPRPreviewsParams p) { proc_->SetPRPreviewParams(p); }
  TIOPreviewsParams GetIOPreviewsParams() const { return io_->GetIOPreviewParams(); }
  void SetIOPreviewsParams(TIOPreviewsParams p) { io_->SetIOPreviewParams(p); }
  // Set on both (each copies it); read from the I/O component.
  TFont* GetPreviewFont() const { return io_->GetPreviewFont(); }
  void SetPreviewFont(const TFont* f);
  bool GetStreamHeaders() const { return io_->StreamHeaders; }
  void SetStreamHeaders(bool on) { io_->StreamHeaders = on; }
  TIOParamsVals* IOParams() const { return io_->Params(); }
  TKVTWainParams* TWainParams() const { return io_->TWainParams(); }
  // The I/O component's abort flag: set it from a progress handler to stop a load.
  bool GetAborting() const { return io_->Aborting; }
  void SetAborting(bool on) { io_->Aborting = on; }
  bool GetCanUndo() const { return proc_->GetCanUndo(); }

  // Copies the I/O parameters of a TKorvane or a TKorvaneIO, then what the
  // view's Assign copies.
  void Assign(TObject* Source) override;
  // The I/O parameters part of Assign alone.
  void AssignIOParams(TObject* Source);

  // --- Processing (see TKorvaneProc). Clear is the processing component's:
  // it fills the selection-independent bitmap with its background.
  void SaveUndo() { proc_->SaveUndo(); }
  void ClearUndo() { proc_->ClearUndo(); }
  void Undo() { proc_->Undo(); }
  void Negative() { proc_->Negative(); }
  void HSLvar(int Hue, int Sat, int Lum) { proc_->HSLvar(Hue, Sat, Lum); }
  void HSVvar(int Hue, int Sat, int Val) { proc_->HSVvar(Hue, Sat, Val); }
  void IntensityRGBall(int r, int g, int b) { proc_->IntensityRGBall(r, g, b); }
  void Contrast(int Amount) { proc_->Contrast(Amount); }
  void ApplyFilter(const TGraphFilter& Filter) { proc_->ApplyFilter(Filter); }
  void ApplyFilterPreset(TKVFilterPresets Preset) { proc_->ApplyFilterPreset(Preset); }
  void ConvertToGray() { proc_->ConvertToGray(); }
  void CastColorRange(TRGB BeginColor, TRGB EndColor, TRGB CastColor) {
    proc_->CastColorRange(BeginColor, EndColor, CastColor);
  }
  void Rotate(int Angle, bool Antialias) { proc_->Rotate(Angle, Antialias); }
  void Flip(TFlipDir Dir) { proc_->Flip(Dir); }
  void ImageResize(int Width, int Height) { proc_->ImageResize(Width, Height); }
  void Resample(int Width, int Height, TResampleFilter Filter) { proc_->Resample(Width, Height, Filter); }
  void Clear() { proc_->Clear(); }
  void ClearSel() { proc_->ClearSel(); }
  void CropSel() { proc_->CropSel(); }
  void SelCopyToClip() { proc_->SelCopyToClip(); }
  void CopyToClipboard() { proc_->CopyToClipboard(); }
  void SelPasteFromClipStretch() { proc_->SelPasteFromClipStretch(); }
  void PasteFromClipboard() { proc_->PasteFromClipboard(); }
  void PointPasteFromClip(int x, int y) { proc_->PointPasteFromClip(x, y); }
  void SelCutToClip() { proc_->SelCutToClip(); }
  void Merge(TBitmap* Other, int Percent) { proc_->Merge(Other, Percent); }
  void Threshold(TRGB DownLimit, TRGB UpLimit, TRGB DownVal, TRGB UpVal) {
    proc_->Threshold(DownLimit, UpLimit, DownVal, UpVal);
  }
  void HistEqualize(TRGB LoThresh, TRGB HiThresh) { proc_->HistEqualize(LoThresh, HiThresh); }
  void HistAutoEqualize() { proc_->HistAutoEqualize(); }
  void ConvertTo(int NCol) { proc_->ConvertTo(NCol); }
  void ConvertToBWOrdered() { proc_->ConvertToBWOrdered(); }
  void ConvertToBWThreshold(int Threshold = -1) { proc_->ConvertToBWThreshold(Threshold); }
  void ConvertTo24Bit() { proc_->ConvertTo24Bit(); }
  void BumpMapping(int LightX, int LightY, int LightWidth, int LightHeight, int Percent, TRGB Color) {
    proc_->BumpMapping(LightX, LightY, LightWidth, LightHeight, Percent, Color);
  }
  void GetHistogram(THistogramItem* Hist) { proc_->GetHistogram(Hist); }
  void CalcImagePalette(TRGB* Palette, int MaxCol) { proc_->CalcImagePalette(Palette, MaxCol); }
  int CalcImageNumColors() { return proc_->CalcImageNumColors(); }
  std::unique_ptr<TBitmap> GetHSVChannel(int Channel) { return proc_->GetHSVChannel(Channel); }
  void GetHSVChannelAll(TBitmap* H, TBitmap* S, TBitmap* V) { proc_->GetHSVChannelAll(H, S, V); }
  void Lens(int x, int y, int Width, int Height, double Refraction) {
    proc_->Lens(x, y, Width, Height, Refraction);
  }
  void Wave(int Amplitude, int WaveLength, int Phase, bool Reflective) {
    proc_->Wave(Amplitude, WaveLength, Phase, Reflective);
  }
  int WriteHiddenText(const std::string& Text) { return proc_->WriteHiddenText(Text); }
  int WriteHiddenData(const void* Buffer, int Length) { return proc_->WriteHiddenData(Buffer, Length); }
  std::string ReadHiddenText() { return proc_->ReadHiddenText(); }
  int ReadHiddenData(void* Buffer, int Max) { return proc_->ReadHiddenData(Buffer, Max); }
  int GetHiddenDataSpace() { return proc_->GetHiddenDataSpace(); }
  // The processing preview dialog.
  bool DoPreviews(TPreviewEffectsSet effects) { return proc_->DoPreviews(effects); }

  // --- File I/O (see TKorvaneIO)
  void LoadFromFile(const std::string& name) { io_->LoadFromFile(name); }
  void SaveToFile(const std::string& name) { io_->SaveToFile(name); }
  void LoadFromFileBMP(const std::string& name) { io_->LoadFromFileBMP(name); }
  void LoadFromStreamBMP(TStream* s) { io_->LoadFromStreamBMP(s); }
  void SaveToFileBMP(const std::string& name) { io_->SaveToFileBMP(name); }
  void SaveToStreamBMP(TStream* s) { io_->SaveToStreamBMP(s); }
  int32_t LoadFromFileGif(const std::string& name) { return io_->LoadFromFileGif(name); }
  int32_t LoadFromStreamGif(TStream* s) { return io_->LoadFromStreamGif(s); }
  void SaveToFileGif(const std::string& name) { io_->SaveToFileGif(name); }
  void SaveToStreamGif(TStream* s) { io_->SaveToStreamGif(s); }
  int32_t InsertToFileGif(const std::string& name) { return io_->InsertToFileGif(name); }
  void LoadFromFileJpeg(const std::string& name) { io_->LoadFromFileJpeg(name); }
  void LoadFromStreamJpeg(TStream* s) { io_->LoadFromStreamJpeg(s); }
  void SaveToFileJpeg(const std::string& name) { io_->SaveToFileJpeg(name); }
  void SaveToStreamJpeg(TStream* s) { io_->SaveToStreamJpeg(s); }
  void LoadFromFilePCX(const std::string& name) { io_->LoadFromFilePCX(name); }
  void LoadFromStreamPCX(TStream* s) { io_->LoadFromStreamPCX(s); }
  void SaveToFilePCX(const std::string& name) { io_->SaveToFilePCX(name); }
  void SaveToStreamPCX(TStream* s) { io_->SaveToStreamPCX(s); }
  void LoadFromFilePNG(const std::string& name) { io_->LoadFromFilePNG(name); }
  void LoadFromStreamPNG(TStream* s) { io_->LoadFromStreamPNG(s); }
  void SaveToFilePNG(const std::string& name) { io_->SaveToFilePNG(name); }
  void SaveToStreamPNG(TStream* s) { io_->SaveToStreamPNG(s); }
  int32_t LoadFromFileTIFF(const std::string& name) { return io_->LoadFromFileTIFF(name); }
  int32_t LoadFromStreamTIFF(TStream* s) { return io_->LoadFromStreamTIFF(s); }
  void SaveToFileTIFF(const std::string& name) { io_->SaveToFileTIFF(name); }
  void SaveToStreamTIFF(TStream* s) { io_->SaveToStreamTIFF(s); }
  int32_t InsertToFileTIFF(const std::string& name) { return io_->InsertToFileTIFF(name); }
  void LoadFromFileICO(const std::string& name) { io_->LoadFromFileICO(name); }
  void LoadFromStreamICO(TStream* s) { io_->LoadFromStreamICO(s); }
  void LoadFromFileCUR(const std::string& name) { io_->LoadFromFileCUR(name); }
  void LoadFromStreamCUR(TStream* s) { io_->LoadFromStreamCUR(s); }
  void ImportMetafile(const std::string& name, int width, int height) {
    io_->ImportMetafile(name, width, height);
  }
  void ParamsFromFile(const std::string& name) { io_->ParamsFromFile(name); }
  void ParamsFromStream(TStream* s) { io_->ParamsFromStream(s); }
  bool Acquire() { return io_->Acquire(); }
  bool SelectAcquireSource() { return io_->SelectAcquireSource(); }
  // The I/O component's save-parameters dialog.
  bool DoIOPreviews(TPreviewParams pp) { return io_->DoPreviews(pp); }

 private:
  TKorvaneProc* proc_ = nullptr;  // owned (also as owned components)
  TKorvaneIO* io_ = nullptr;
  TNColors ncolors_ = nc24bit;
};

}  // namespace korvane
