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

class KORVANE_EXPORT TKorvaneMIO : public TComponent, private TIOParamsOwner {
 public:
  explicit TKorvaneMIO(TComponent* AOwner = nullptr);
  ~TKorvaneMIO() override;

  TKorvaneMView* GetAttachedMView() const { return view_; }
  /// Attaching to a view that already holds images gives each image without
  /// a record one (a copy of the last record, or a default one).
  void SetAttachedMView(TKorvaneMView* v);
  void Notification(TComponent* AComponent, TOperation Operation) override;

  /// Follows the view's last list change (insert or delete).
  void OnBitmapChange(TObject* Sender);
  void InsertIOParam(int idx);
  void RemoveIOParam(int idx);
  /// The record of image idx; null out of range.
  TIOParamsVals* GetParams(int idx) const;
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
  void SaveToFile(const std::string& name);
  void LoadFromFileGif(const std::string& name);
  void LoadFromStreamGif(TStream* stream);
  void SaveToFileGif(const std::string& name);
  void SaveToStreamGif(TStream* stream);
  void LoadFromFileTIFF(const std::string& name);
  void LoadFromStreamTIFF(TStream* stream);
  void SaveToFileTIFF(const std::string& name);
  void SaveToStreamTIFF(TStream* stream);
  /// AVI files (files only). Loads raise "unable to open AVI file" or
  /// "unable to open AVI stream"; saves "unable to create AVI file".
  void LoadFromFileAVI(const std::string& name);
  void SaveToFileAVI(const std::string& name);
  /// The compressor AVI saves use. With an empty Encoder a save asks
  /// OnAVISaveOptions, or, when that is not assigned, shows AVISaveOptions.
  TKVAVICompressOptions AVICompressor;
  TKVAVISaveOptionsEvent OnAVISaveOptions;

  TIOPreviewsParams GetIOPreviewParams() const { return previews_params_; }
  void SetIOPreviewParams(TIOPreviewsParams p) { previews_params_ = p; }
  /// The save-parameters dialog for the view's current image and params
  /// record idx; true when the user closes it with OK.
  bool DoPreviews(int idx, TPreviewParams pp);
  TFont* GetPreviewFont() { return &preview_font_; }
  void SetPreviewFont(const TFont* f) {
    if (f) preview_font_.Assign(*f);
  }
  TMsgLanguage MsgLanguage = msSystem;
  TProgressEvent OnProgress;
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
