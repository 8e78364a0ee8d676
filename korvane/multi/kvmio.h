/// \file
/// The multi-image I/O component: TKorvaneMIO loads animated GIF and
/// multi-page TIFF files into a TKorvaneMView and saves the view's images as
/// such files, keeping one parameters record per image in step with the
/// view's list.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/object.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/foundations/kvdefs.h"
#include "korvane/io/ioparams.h"
#include "korvane/io/kvio.h"
#include "korvane/multi/avi_file.h"
#include "korvane/multi/kvmview.h"

namespace korvane {

/// Asks for the AVI compressor; false cancels the save.
using TKVAVISaveOptionsEvent = std::function<bool(TObject* Sender, TKVAVICompressOptions& Options)>;

/// Shows the compressor choice (a Qt dialog listing KVAVIEncoders(), with the
/// quality for MJPEG); false when the user cancels.
KORVANE_EXPORT bool AVISaveOptions(QWidget* parent, TKVAVICompressOptions& Options);

/// Loads and saves the images of a multi-image view as animated GIF, multi-page TIFF and AVI files,
/// and acquires scanner pages into it.
class KORVANE_EXPORT TKorvaneMIO : public TComponent, private TIOParamsOwner {
 public:
  /// A component owned by AOwner (when given), attached to no view.
  explicit TKorvaneMIO(TComponent* AOwner = nullptr);
  /// Detaches from the view, removing its list-change listener.
  ~TKorvaneMIO() override;

  /// The multi-image view loaded into and saved from; null when none.
  TKorvaneMView* GetAttachedMView() const { return view_; }
  /// Attaching to a view that already holds images gives each image without
  /// a record one (a copy of the last record, or a default one).
  void SetAttachedMView(TKorvaneMView* v);
  void Notification(TComponent* AComponent, TOperation Operation) override;

  /// Follows the view's last list change (insert or delete).
  void OnBitmapChange(TObject* Sender);
  /// Inserts a params record at idx (clamped to 0..count): a copy of the record at idx, or of the last
  /// one past the end, or a default record when there are none; the image indexes are renumbered.
  void InsertIOParam(int idx);
  /// Removes record idx and renumbers the rest; nothing out of range.
  void RemoveIOParam(int idx);
  /// The record of image idx; null out of range.
  TIOParamsVals* GetParams(int idx) const;
  /// Number of params records, one per image of the view while attached.
  int GetParamsCount() const { return int(params_.size()); }
  /// The view's Update and ImageChange.
  void Update();

  /// By lower-cased extension: .gif, .tif/.tiff (and .avi where built);
  /// other extensions do nothing.
  ///
  /// Saves write every image in order and raise EInvalidGraphic for an image
  /// the view cannot give a picture for. The file saves replace the file
  /// only once every image is written: a failure or an abort part-way leaves
  /// the old file as it was. Pictures the view loads on demand are dropped
  /// again once written.
  void LoadFromFile(const std::string& name);
  /// Saves every image in the format the extension names, as LoadFromFile reads them.
  void SaveToFile(const std::string& name);
  /// Inserts the frames of an animated GIF at the selected image and selects the last one; each keeps its
  /// delay (a frame without one takes the previous), background and place on the logical screen.
  void LoadFromFileGif(const std::string& name);
  /// As LoadFromFileGif, from the stream's position.
  void LoadFromStreamGif(TStream* stream);
  /// Writes every image as a frame of an animated GIF with its params record; nothing without a view or
  /// images. Delays of frames that came from an AVI are turned from milliseconds into hundredths.
  void SaveToFileGif(const std::string& name);
  /// As SaveToFileGif, at the stream's position; a failure leaves what was written.
  void SaveToStreamGif(TStream* stream);
  /// Inserts the pages of a TIFF file at the selected image, each with a delay of 100 ms, and selects
  /// the last one.
  void LoadFromFileTIFF(const std::string& name);
  /// As LoadFromFileTIFF, from the stream's position.
  void LoadFromStreamTIFF(TStream* stream);
  /// Writes every image as a page of a multi-page TIFF with its params record; nothing without a view or
  /// images.
  void SaveToFileTIFF(const std::string& name);
  /// As SaveToFileTIFF, at the stream's position; a failure leaves what was written.
  void SaveToStreamTIFF(TStream* stream);
  /// AVI files (files only). Loads raise "unable to open AVI file" or
  /// "unable to open AVI stream"; saves "unable to create AVI file".
  void LoadFromFileAVI(const std::string& name);
  /// Writes every image as a frame at 1000 / (image 0's delay) frames per second and image 0's size; an
  /// image of another size repeats the last frame of that size. A cancelled compressor choice saves nothing.
  void SaveToFileAVI(const std::string& name);
  /// The compressor AVI saves use. With an empty Encoder a save asks
  /// OnAVISaveOptions, or, when that is not assigned, shows AVISaveOptions.
  TKVAVICompressOptions AVICompressor;
  /// Asked by SaveToFileAVI for the compressor when AVICompressor.Encoder is empty; false cancels the save.
  TKVAVISaveOptionsEvent OnAVISaveOptions;

  /// Options of the save-parameters dialog DoPreviews shows (ioppDefaultLockPreview); none at first.
  TIOPreviewsParams GetIOPreviewParams() const { return previews_params_; }
  /// Sets the dialog options from the next DoPreviews on.
  void SetIOPreviewParams(TIOPreviewsParams p) { previews_params_ = p; }
  /// The save-parameters dialog for the view's current image and params
  /// record idx; true when the user closes it with OK.
  bool DoPreviews(int idx, TPreviewParams pp);
  /// The font of the save-parameters dialog, owned by the component.
  TFont* GetPreviewFont() { return &preview_font_; }
  /// Copies f into the dialog's font; null is ignored.
  void SetPreviewFont(const TFont* f) {
    if (f) preview_font_.Assign(*f);
  }
  /// Language of the save-parameters dialog; the system's by default.
  TMsgLanguage MsgLanguage = msSystem;
  /// Called with the percent done during loads, saves and acquisitions: after each image, and by the
  /// codecs within one.
  TProgressEvent OnProgress;
  /// Set to true (from OnProgress, say) to stop a load, save or acquisition after the current image;
  /// each of them clears it when it starts.
  bool Aborting = false;

  /// Scanner pages into the view: every page the selected TWAIN source gives
  /// (the feeder's too) is inserted at the selected image, with a delay of
  /// 100 ms and its own parameters record. True when a page arrived.
  bool Acquire();
  /// The source manager's selection dialog; the chosen source is selected in
  /// TWainParams. True when one was chosen.
  bool SelectAcquireSource();
  /// The TWAIN source choice and capabilities, owned (made on first use).
  TKVTWainParams* TWainParams();

 private:
  TBitmap* IOParamsBitmap() override { return view_ ? view_->GetFBitmap() : nullptr; }
  bool IOParamsViewDPI(int32_t& DpiX, int32_t& DpiY) override;
  TProgressRec MakeProgress();
  void Renumber();
  /// One record per image of the view: missing records are added (as
  /// InsertIOParam adds them) and surplus ones dropped from the end.
  void SyncParams();
  void ImageDone(int i, int n);
  /// Shared frame loop of the GIF and TIFF loads.
  enum class Multi { Gif, Tiff };
  void LoadMulti(TStream* stream, Multi kind);
  void SaveMulti(TStream* stream, Multi kind);

  TKorvaneMView* view_ = nullptr;
  std::vector<std::unique_ptr<TIOParamsVals>> params_;
  TIOPreviewsParams previews_params_;
  TFont preview_font_;
  TKVTWainParamsPtr twain_params_;
};

}  // namespace korvane
