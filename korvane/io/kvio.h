/// \file
/// The I/O component: TKorvaneIO loads images into, and saves them from, the
/// bitmap of an attached view, picture control or bare bitmap. It picks the
/// codec by method or by extension, detects a stream's format from its first
/// bytes, reads only the parameters of a file, imports metafiles, wraps JPEG,
/// PCX and TIFF data in a 12-byte stream header so that several images can
/// follow each other in one stream, and edits multi-image GIF and TIFF files.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/object.h"
#include "korvane/foundations/host/picture.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/foundations/kvdefs.h"
#include "korvane/io/ioparams.h"
#include "korvane/view/attached_target.h"

namespace korvane {

class TKVTWainParams;
/// Frees the TWAIN parameters a component owns. Defined beside them in the
/// acquisition folder, so that the I/O components hold them without knowing
/// the scanner code.
struct KORVANE_EXPORT TKVTWainParamsDelete {
  void operator()(TKVTWainParams* p) const;
};
using TKVTWainParamsPtr = std::unique_ptr<TKVTWainParams, TKVTWainParamsDelete>;

/// Pages of the save parameters dialog.
enum TPreviewParamsItem { ppALL, ppAUTO, ppJPEG, ppTIFF, ppGIF, ppBMP, ppPCX, ppPNG };
using TPreviewParams = TSet<TPreviewParamsItem>;
/// Options of the save parameters dialog.
enum TIOPreviewsParamsItems { ioppDefaultLockPreview };
using TIOPreviewsParams = TSet<TIOPreviewsParamsItems>;

/// Largest bitmap (width x height) a metafile is imported into.
constexpr int64_t kMaxMetafilePixels = int64_t(1) << 28;

/// Size of the stream header written before JPEG, PCX and TIFF data.
constexpr int kIOStreamHeaderSize = 12;

class KORVANE_EXPORT TKorvaneIO : public TComponent, private TIOParamsOwner {
 public:
  explicit TKorvaneIO(TComponent* AOwner = nullptr);
  ~TKorvaneIO() override;

  /// @name Attachment
  /// @{
  TKVView* GetAttachedKorvane() const { return target_.View(); }
  void SetAttachedKorvane(TKVView* v);
  TImage* GetAttachedTImage() const { return target_.Image(); }
  void SetTImage(TImage* c);
  /// A bare bitmap, written in place. Null while a view or picture control is
  /// attached changes nothing.
  void SetAttachedBitmap(TBitmap* b) { target_.AttachBitmap(b); }
  /// The target bitmap (null when there is none).
  TBitmap* GetBitmap() const { return target_.Bitmap(); }
  /// The view's Update and ImageChange, or the bitmap marked modified.
  void Update();
  /// Fills the target with Background.
  void Clear();
  /// @}

  /// @name Properties
  /// @{
  TColor GetBackground() const;
  void SetBackground(TColor c);
  TIOParamsVals* Params() { return &params_; }
  const TIOParamsVals* Params() const { return &params_; }
  /// Copies the parameters of another TKorvaneIO or of a TIOParamsVals.
  void AssignParams(TObject* Source);
  bool Aborting = false;
  TProgressEvent OnProgress;
  TMsgLanguage MsgLanguage = msSystem;
  bool StreamHeaders = true;
  /// Turns a JPEG or TIFF picture upright on load by its Params()->Orientation
  /// (which keeps the file's value).
  bool AutoOrient = false;
  TFont* GetPreviewFont() { return &preview_font_; }
  void SetPreviewFont(const TFont* f);
  TIOPreviewsParams GetIOPreviewParams() const { return previews_params_; }
  void SetIOPreviewParams(TIOPreviewsParams p) { previews_params_ = p; }
  /// Shows the save-parameters dialog over a copy of the target bitmap with the
  /// pages in pp, editing Params; true when the user closes it with OK.
  bool DoPreviews(TPreviewParams pp);
  /// @}

  /// @name Loading (each raises EInvalidGraphic with the format's message)
  /// @{
  void LoadFromFileBMP(const std::string& name);
  void LoadFromStreamBMP(TStream* stream);
  void LoadFromFileICO(const std::string& name);
  void LoadFromStreamICO(TStream* stream);
  void LoadFromFileCUR(const std::string& name);
  void LoadFromStreamCUR(TStream* stream);
  /// The GIF and TIFF loads answer the number of images in the file.
  int32_t LoadFromFileGif(const std::string& name);
  int32_t LoadFromStreamGif(TStream* stream);
  void LoadFromFileJpeg(const std::string& name);
  void LoadFromStreamJpeg(TStream* stream);
  void LoadFromFilePCX(const std::string& name);
  void LoadFromStreamPCX(TStream* stream);
  void LoadFromFilePNG(const std::string& name);
  void LoadFromStreamPNG(TStream* stream);
  int32_t LoadFromFileTIFF(const std::string& name);
  int32_t LoadFromStreamTIFF(TStream* stream);
  /// By extension (any case); an unknown extension loads nothing and clears
  /// FileName and FileType.
  void LoadFromFile(const std::string& name);
  /// @}

  /// @name Saving (targets neither 24-bit nor 1-bit become 24-bit first)
  /// @{
  void SaveToFileBMP(const std::string& name);
  void SaveToStreamBMP(TStream* stream);
  void SaveToFileGif(const std::string& name);
  void SaveToStreamGif(TStream* stream);
  void SaveToFileJpeg(const std::string& name);
  void SaveToStreamJpeg(TStream* stream);
  void SaveToFilePCX(const std::string& name);
  void SaveToStreamPCX(TStream* stream);
  void SaveToFilePNG(const std::string& name);
  void SaveToStreamPNG(TStream* stream);
  void SaveToFileTIFF(const std::string& name);
  void SaveToStreamTIFF(TStream* stream);
  /// By extension (any case); unknown extensions write BMP.
  void SaveToFile(const std::string& name);
  /// @}

  /// @name Detection and parameters only
  /// @{
  /// Never raises; the stream position is kept.
  static TIOFileType FindStreamFormat(TStream* stream);
  static TIOFileType FindFileFormat(const std::string& name);
  /// Fills Params from the image without decoding it; FileType ioUnknown on
  /// any failure (nothing is raised).
  void ParamsFromStream(TStream* stream);
  void ParamsFromFile(const std::string& name);
  /// @}

  /// @name Metafiles: width/height 0 does nothing; a negative one keeps the
  /// @{
  /// aspect ratio, both negative take the metafile's own size. Raises
  /// "unrecognized WMF or EMF".
  void ImportMetafile(const std::string& name, int width, int height);
  /// The same drawn on the given color instead of Background (drawing
  /// programs show metafiles on white paper).
  void ImportMetafile(const std::string& name, int width, int height, TColor paper);
  /// @}

  /// @name Multi-image files
  /// @{
  int32_t InsertToFileGif(const std::string& name);
  int32_t InsertToFileTIFF(const std::string& name);
  /// @}

  /// @name Scanner acquisition (korvane/acquire/kvio_acquire.cpp)
  /// @{
  /// The TWAIN source choice and capabilities, owned (made on first use).
  TKVTWainParams* TWainParams();
  /// Acquires one image from the selected source into the target; on success
  /// the view takes the image's resolution. True when an image arrived.
  bool Acquire();
  /// The source manager's selection dialog; the chosen source becomes the
  /// selected one. True when one was chosen.
  bool SelectAcquireSource();

  void Notification(TComponent* AComponent, TOperation Operation) override;
  /// @}

 private:
  TBitmap* IOParamsBitmap() override { return GetBitmap(); }
  bool IOParamsViewDPI(int32_t& DpiX, int32_t& DpiY) override;
  TProgressRec MakeProgress();
  /// Starts an operation: clears Aborting; the target or null.
  TBitmap* Begin();
  /// After a successful load: file type and name, resolution, Update.
  void Loaded(TIOFileType type, const std::string& name, bool dpiToView);
  /// Before a save: a target neither 24-bit nor 1-bit becomes 24-bit.
  TBitmap* BeginSave();
  void SaveWithHeader(TStream* stream, const char* signature, bool headerWhenAborted,
                      void (*writer)(TStream*, TBitmap*, TIOParamsVals&, TProgressRec&));
  void ApplyGifBackground();

  TAttachedTarget target_{this};
  TColor background_ = clBlack;
  TFont preview_font_;
  TIOPreviewsParams previews_params_;
  TKVTWainParamsPtr twain_params_;
  /// Last: its constructor asks this component for the target bitmap.
  TIOParamsVals params_{this};
};

/// Multi-image files without a component. The GIF delete raises
/// "unrecognized GIF" on failure; the enumerations answer 0 and the check
/// false on failure.
KORVANE_EXPORT int32_t DeleteGifIm(const std::string& name, int32_t index);
KORVANE_EXPORT int32_t EnumGifIm(const std::string& name);
KORVANE_EXPORT bool CheckAniGif(const std::string& name);
KORVANE_EXPORT int32_t DeleteTIFFIm(const std::string& name, int32_t index);
KORVANE_EXPORT int32_t EnumTIFFIm(const std::string& name);

/// Installs the library's own LZW coders into the four library-wide hooks
/// (GIF and TIFF, reading and writing). Records made afterwards take them.
KORVANE_EXPORT void InstallKorvaneLZWCoders();

}  // namespace korvane
