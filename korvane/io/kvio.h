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
  /// Deletes p (null is fine).
  void operator()(TKVTWainParams* p) const;
};
/// Owning pointer to a component's TWAIN parameters.
using TKVTWainParamsPtr = std::unique_ptr<TKVTWainParams, TKVTWainParamsDelete>;

/// Pages of the save parameters dialog.
enum TPreviewParamsItem { ppALL, ppAUTO, ppJPEG, ppTIFF, ppGIF, ppBMP, ppPCX, ppPNG };
/// The pages DoPreviews offers: ppALL shows every page, ppAUTO adds the page of Params()->FileType.
using TPreviewParams = TSet<TPreviewParamsItem>;
/// Options of the save parameters dialog.
enum TIOPreviewsParamsItems { ioppDefaultLockPreview };
/// The dialog options set (ioppDefaultLockPreview: "Lock preview" starts checked).
using TIOPreviewsParams = TSet<TIOPreviewsParamsItems>;

/// Largest bitmap (width x height) a metafile is imported into.
constexpr int64_t kMaxMetafilePixels = int64_t(1) << 28;

/// Size of the stream header written before JPEG, PCX and TIFF data.
constexpr int kIOStreamHeaderSize = 12;

/// The non-visual I/O component. Attach a view, a picture control or a bitmap; loads replace
/// that bitmap and fill Params(), saves write it with what Params() asks for.
class KORVANE_EXPORT TKorvaneIO : public TComponent, private TIOParamsOwner {
 public:
  /// Made without a target, background black and parameters at their defaults; AOwner, when
  /// given, owns and frees it.
  explicit TKorvaneIO(TComponent* AOwner = nullptr);
  /// Sends the removal notification to the components that asked for it and leaves the view's listeners.
  ~TKorvaneIO() override;

  /// @name Attachment
  //@{
  /// The attached image view, or null.
  TKVView* GetAttachedKorvane() const { return target_.View(); }
  /// Works on v's bitmap from now on (following it when v replaces it), dropping a picture control
  /// or bare bitmap; null detaches every target.
  void SetAttachedKorvane(TKVView* v);
  /// The attached picture control, or null.
  TImage* GetAttachedTImage() const { return target_.Image(); }
  /// Works on the control's picture bitmap (made when missing), dropping a view or bare bitmap.
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
  //@}

  /// @name Properties
  //@{
  /// The color for cleared and uncovered areas: the attached view's background, else the
  /// component's own (black at first). Loading a GIF or PNG sets it from the file.
  TColor GetBackground() const;
  /// Sets the attached view's background (a visible view repaints), else the component's own.
  void SetBackground(TColor c);
  /// The parameters record: filled by each load, read by each save. Owned by the component.
  TIOParamsVals* Params() { return &params_; }
  /// The parameters record, read-only.
  const TIOParamsVals* Params() const { return &params_; }
  /// Copies the parameters of another TKorvaneIO or of a TIOParamsVals.
  void AssignParams(TObject* Source);
  /// Set to true (from OnProgress, say) to stop the running operation; each operation clears it.
  bool Aborting = false;
  /// Called during loads and saves with the component and the percentage done (0..100).
  TProgressEvent OnProgress;
  /// The language of the save-parameters dialog; msSystem follows the default locale.
  TMsgLanguage MsgLanguage = msSystem;
  /// When true, the JPEG, PCX and TIFF stream saves write the 12-byte header before the data and
  /// the PCX and TIFF stream loads expect it (JPEG loads take data with or without it).
  bool StreamHeaders = true;
  /// Turns a JPEG or TIFF picture upright on load by its Params()->Orientation
  /// (which keeps the file's value).
  bool AutoOrient = false;
  /// The font of the save-parameters dialog, owned by the component.
  TFont* GetPreviewFont() { return &preview_font_; }
  /// Copies f into the preview font; null changes nothing.
  void SetPreviewFont(const TFont* f);
  /// Options of the save-parameters dialog (empty by default).
  TIOPreviewsParams GetIOPreviewParams() const { return previews_params_; }
  /// Sets the options the next DoPreviews uses.
  void SetIOPreviewParams(TIOPreviewsParams p) { previews_params_ = p; }
  /// Shows the save-parameters dialog over a copy of the target bitmap with the
  /// pages in pp, editing Params; true when the user closes it with OK.
  bool DoPreviews(TPreviewParams pp);
  //@}

  /// @name Loading (each raises EInvalidGraphic with the format's message)
  //@{
  /// Loads a BMP file into the target (nothing happens without one) and fills Params; the view
  /// takes the file's resolution.
  void LoadFromFileBMP(const std::string& name);
  /// Loads a BMP from the stream's position ("unrecognized BMP stream"); the view keeps its resolution.
  void LoadFromStreamBMP(TStream* stream);
  /// Loads image ICO_ImageIndex of an icon file into the target; the view takes its resolution.
  void LoadFromFileICO(const std::string& name);
  /// Loads image ICO_ImageIndex of the icon at the stream's position ("unrecognized ICO stream").
  void LoadFromStreamICO(TStream* stream);
  /// Loads image CUR_ImageIndex of a cursor file, with its hot spot in Params.
  void LoadFromFileCUR(const std::string& name);
  /// Loads image CUR_ImageIndex of the cursor at the stream's position ("unrecognized CUR stream").
  void LoadFromStreamCUR(TStream* stream);
  /// The GIF and TIFF loads answer the number of images in the file.
  int32_t LoadFromFileGif(const std::string& name);
  /// Loads frame GIF_ImageIndex of the GIF at the stream's position; like the file load, the
  /// background becomes the transparent color when there is one, else the GIF's background.
  int32_t LoadFromStreamGif(TStream* stream);
  /// Loads a JPEG file (scaled by JPEG_Scale) into the target; a file that cannot be opened
  /// raises the stream error rather than "unrecognized JPEG".
  void LoadFromFileJpeg(const std::string& name);
  /// Loads a JPEG from the stream's position, skipping a "JFIF" stream header when there is one
  /// and then leaving the stream at the end of the data it announces.
  void LoadFromStreamJpeg(TStream* stream);
  /// Loads a PCX file into the target; the view takes the file's resolution.
  void LoadFromFilePCX(const std::string& name);
  /// Loads a PCX from the stream; with StreamHeaders the data must start with a "PCX2" header
  /// (or the older 4-byte "PCX" one), and the stream is left after the data it announces.
  void LoadFromStreamPCX(TStream* stream);
  /// Loads a PNG file with its alpha flattened onto the current background; the background then
  /// becomes the file's bKGD color when it has one.
  void LoadFromFilePNG(const std::string& name);
  /// Loads a PNG from the stream's position, flattened onto PNG_Background, which becomes the background.
  void LoadFromStreamPNG(TStream* stream);
  /// Loads page TIFF_ImageIndex of a TIFF file, alpha flattened onto the background.
  int32_t LoadFromFileTIFF(const std::string& name);
  /// Loads page TIFF_ImageIndex of a TIFF from the stream; with StreamHeaders the data must start
  /// with a "TIFF" stream header, and the stream is left after the data it announces.
  int32_t LoadFromStreamTIFF(TStream* stream);
  /// By extension (any case); an unknown extension loads nothing and clears
  /// FileName and FileType.
  void LoadFromFile(const std::string& name);
  //@}

  /// @name Saving (targets neither 24-bit nor 1-bit become 24-bit first)
  //@{
  /// Writes the target as a BMP file (BMP_Version, BMP_Compression, depth from BitsPerSample and
  /// SamplesPerPixel). File saves replace the file only when the write finished and was not aborted.
  void SaveToFileBMP(const std::string& name);
  /// Writes the target as a BMP at the stream's position (no stream header).
  void SaveToStreamBMP(TStream* stream);
  /// Writes the target as a one-frame GIF file of BitsPerSample bits; the palette goes to Params.
  void SaveToFileGif(const std::string& name);
  /// Writes the target as a one-frame GIF at the stream's position (no stream header).
  void SaveToStreamGif(TStream* stream);
  /// Writes the target as a JPEG file with the JPEG_ fields (quality, color space, ...).
  void SaveToFileJpeg(const std::string& name);
  /// Writes the target as a JPEG at the stream's position, after a "JFIF" header when
  /// StreamHeaders is set (an aborted save still gets its header).
  void SaveToStreamJpeg(TStream* stream);
  /// Writes the target as a PCX file, run-length encoded when PCX_Compression is ioPCX_RLE.
  void SaveToFilePCX(const std::string& name);
  /// Writes the target as a PCX at the stream's position, after a "PCX2" header when StreamHeaders
  /// is set (an aborted save leaves the header zeroed).
  void SaveToStreamPCX(TStream* stream);
  /// Writes the target as a PNG file (PNG_Interlaced, PNG_Filter, PNG_Compression 0..9).
  void SaveToFilePNG(const std::string& name);
  /// Writes the target as a PNG at the stream's position (no stream header).
  void SaveToStreamPNG(TStream* stream);
  /// Writes the target as a new one-page TIFF file with TIFF_Compression.
  void SaveToFileTIFF(const std::string& name);
  /// Writes the target as a one-page TIFF at the stream's position, after a "TIFF" header when
  /// StreamHeaders is set.
  void SaveToStreamTIFF(TStream* stream);
  /// By extension (any case); unknown extensions write BMP.
  void SaveToFile(const std::string& name);
  //@}

  /// @name Detection and parameters only
  //@{
  /// The format of the image at the stream's position, told from its first bytes (stream
  /// headers included); ioUnknown when none matches. Never raises; the stream position is kept.
  static TIOFileType FindStreamFormat(TStream* stream);
  /// The format of the file's contents, whatever its extension; ioUnknown when it cannot be opened.
  static TIOFileType FindFileFormat(const std::string& name);
  /// Fills Params from the image without decoding it; FileType ioUnknown on
  /// any failure (nothing is raised).
  void ParamsFromStream(TStream* stream);
  /// The same on a file; FileName is set to name even when the file cannot be read.
  void ParamsFromFile(const std::string& name);
  //@}

  /// @name Metafiles
  //@{
  /// Plays the WMF or EMF file at width x height onto Background in the target, which becomes
  /// a 24-bit bitmap one pixel smaller each way, and fills the file, size and resolution fields
  /// of Params (the view takes the screen resolution). Width/height 0 does nothing; a negative one keeps the
  /// aspect ratio, both negative take the metafile's own size. Raises
  /// "unrecognized WMF or EMF".
  void ImportMetafile(const std::string& name, int width, int height);
  /// The same drawn on the given color instead of Background (drawing
  /// programs show metafiles on white paper).
  void ImportMetafile(const std::string& name, int width, int height, TColor paper);
  //@}

  /// @name Multi-image files
  //@{
  /// Inserts the target as frame GIF_ImageIndex of an existing GIF file, widens the logical screen
  /// to hold it, makes the file a looping animation and answers the new frame count.
  int32_t InsertToFileGif(const std::string& name);
  /// Inserts the target as page TIFF_ImageIndex (after the last when beyond) of an existing
  /// little-endian TIFF file and answers the new page count (0 when aborted).
  int32_t InsertToFileTIFF(const std::string& name);
  //@}

  /// @name Scanner acquisition (korvane/acquire/kvio_acquire.cpp)
  //@{
  /// The TWAIN source choice and capabilities, owned (made on first use).
  /// Acquire and SelectAcquireSource use them.
  TKVTWainParams* TWainParams();
  /// Acquires one image from the selected source into the target; on success
  /// the view takes the image's resolution. True when an image arrived.
  bool Acquire();
  /// The source manager's selection dialog; the chosen source becomes the
  /// selected one. True when one was chosen.
  bool SelectAcquireSource();

  /// Forgets an attached view or picture control that is being destroyed (and its bitmap).
  void Notification(TComponent* AComponent, TOperation Operation) override;
  //@}

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
/// The number of frames in a GIF file (0 when it cannot be read).
KORVANE_EXPORT int32_t EnumGifIm(const std::string& name);
/// True when a GIF file carries the looping-animation extension right after its global color table.
KORVANE_EXPORT bool CheckAniGif(const std::string& name);
/// Removes page index of a TIFF file and answers the page count before the deletion; an index
/// outside the pages leaves the file alone. Raises EInvalidGraphic for a file that is no classic TIFF.
KORVANE_EXPORT int32_t DeleteTIFFIm(const std::string& name, int32_t index);
/// The number of pages in a TIFF file (0 when it cannot be read).
KORVANE_EXPORT int32_t EnumTIFFIm(const std::string& name);

/// Installs the library's own LZW coders into the four library-wide hooks
/// (GIF and TIFF, reading and writing). Records made afterwards take them.
KORVANE_EXPORT void InstallKorvaneLZWCoders();

}  // namespace korvane
