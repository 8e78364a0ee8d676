// TKorvaneVideoView: the image view with a capture window laid over it. It
// lists the capture drivers, connects to one, shows live video, negotiates
// a pixel format from a fixed table of codes, hands frames to the
// application as bitmaps or raw data, freezes a frame into its own bitmap
// (where selection and processing work on it) and records AVI files.
#pragma once
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "korvane/capture/capture_driver.h"
#include "korvane/capture/capture_window.h"
#include "korvane/view/kvview.h"

namespace korvane {

// Registered with Qt's meta-object system (see control_enums in
// host/controls.h).
namespace video_enums {
Q_NAMESPACE
enum TVCDisplayMode { dmPreview, dmOverlay };
Q_ENUM_NS(TVCDisplayMode)
}  // namespace video_enums
using namespace video_enums;

// Failures of the video view: "Unable to open video capture driver",
// "Unable to create AVI file", "Unable to start video recording".
class TVideoCapException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using TVideoFrameEvent = std::function<void(TObject* Sender, TBitmap* Bitmap)>;
// hDib is the view's format block (a BITMAPINFO), pData the frame's bytes.
using TVideoFrameRawEvent = std::function<void(TObject* Sender, HGLOBAL hDib, const void* pData)>;

// Bytes of the format block at least.
constexpr size_t kVideoFormatBlockSize = 1068;

// ShowVideo is no property: showing connects to a camera, which is the
// application's business at run time, not a form's.
class TKorvaneVideoView : public TKorvaneView {
  Q_OBJECT
  Q_PROPERTY(int VideoSource READ GetVideoSource WRITE SetVideoSource)
  Q_PROPERTY(korvane::video_enums::TVCDisplayMode DisplayMode READ GetDisplayMode WRITE SetDisplayMode)
  Q_PROPERTY(int PreviewRate READ GetPreviewRate WRITE SetPreviewRate)
  Q_PROPERTY(QString VideoFormat READ VideoFormatQString WRITE SetVideoFormatQString)
  Q_PROPERTY(bool FitFreeze READ GetFitFreeze WRITE SetFitFreeze)
  Q_PROPERTY(QString CaptureFile READ CaptureFileQString WRITE SetCaptureFileQString)
  Q_PROPERTY(int RecordFrameRate READ GetRecordFrameRate WRITE SetRecordFrameRate)
  Q_PROPERTY(bool RecordAudio READ GetRecordAudio WRITE SetRecordAudio)
  Q_PROPERTY(bool RecordYield READ GetRecordYield WRITE SetRecordYield)

 public:
  explicit TKorvaneVideoView(TComponent* AOwner, QWidget* parent = nullptr);
  template <KVFormParent P>
  explicit TKorvaneVideoView(P* parent) : TKorvaneVideoView(nullptr, parent) {}
  ~TKorvaneVideoView() override;

  // --- Drivers
  // The drivers that answer, as "name version", and their indexes. The
  // devices are asked on the first call, not when the view is made (a view
  // in a form editor or a dialog that never looks must not wake cameras);
  // FillDrivers asks again.
  const std::vector<std::string>& GetVideoSourceList() const {
    if (!drivers_filled_) const_cast<TKorvaneVideoView*>(this)->FillDrivers();
    return source_list_;
  }
  const std::vector<int>& GetVideoSourceIndexes() const {
    if (!drivers_filled_) const_cast<TKorvaneVideoView*>(this)->FillDrivers();
    return source_indexes_;
  }
  void FillDrivers();
  int GetVideoSource() const { return video_source_; }
  void SetVideoSource(int i);

  // --- Live video
  bool GetShowVideo() const { return show_video_; }
  // Showing connects to the driver (raising "Unable to open video capture
  // driver" when it cannot, with the video left hidden) and starts preview
  // or overlay; hiding disconnects.
  void SetShowVideo(bool v);
  TVCDisplayMode GetDisplayMode() const { return display_mode_; }
  void SetDisplayMode(TVCDisplayMode m);
  int GetPreviewRate() const { return preview_rate_; }
  void SetPreviewRate(int ms);
  void SetScrollBars(TScrollStyle s) override;
  // Passes to the view only while a frame is frozen or no video is shown.
  void Select(int x1, int y1, int x2, int y2) override;

  // --- Driver connection
  void DriverConnect();
  bool DriverConnectNE();
  void DriverDisconnect();
  bool Connected() const { return connected_; }
  bool GetCaps(TCapDriverCaps& caps);
  bool GetHasOverlay();
  bool GetHasDlgVideoSource();
  bool GetHasDlgVideoFormat();
  bool GetHasDlgVideoDisplay();
  bool DoConfigureSource();
  bool DoConfigureFormat();
  bool DoConfigureDisplay();
  bool DoConfigureCompression();

  // --- Pixel format
  std::string GetVideoFormat() const { return video_format_; }
  void SetVideoFormat(const std::string& code);
  QString VideoFormatQString() const { return QString::fromStdString(video_format_); }
  void SetVideoFormatQString(const QString& code) { SetVideoFormat(code.toStdString()); }
  // The codes the driver accepts.
  const std::vector<std::string>& GetVideoFormatList();
  // (0, 0, width - 1, height - 1) of the frames.
  void GetVideoSize(TRect& r);
  // Brings the format block up to date; false when no driver was available.
  bool FillBitmapInfo();
  HGLOBAL FormatBlock() const { return format_block_; }

  // --- Frames
  void SetOnVideoFrame(const TVideoFrameEvent& e);
  void SetOnVideoFrameRaw(const TVideoFrameRawEvent& e);
  const TVideoFrameEvent& GetOnVideoFrame() const { return on_video_frame_; }
  const TVideoFrameRawEvent& GetOnVideoFrameRaw() const { return on_video_frame_raw_; }
  bool GetCallBackFrame() const { return callback_on_; }
  void SetCallBackFrame(bool on);

  // --- Freezing
  void Freeze() { SetFreeze(true); }
  void UnFreeze() { SetFreeze(false); }
  bool GetFrozen() const { return frozen_; }
  void SetFreeze(bool v);
  bool GetFitFreeze() const { return fit_freeze_; }
  void SetFitFreeze(bool v) { fit_freeze_ = v; }

  // --- Recording
  std::string GetCaptureFile() const { return capture_file_; }
  void SetCaptureFile(const std::string& f) { capture_file_ = f; }
  QString CaptureFileQString() const { return QString::fromStdString(capture_file_); }
  void SetCaptureFileQString(const QString& f) { capture_file_ = f.toStdString(); }
  int GetRecordFrameRate() const { return record_frame_rate_; }
  void SetRecordFrameRate(int fps) { record_frame_rate_ = fps; }
  bool GetRecordAudio() const { return record_audio_; }
  void SetRecordAudio(bool v) { record_audio_ = v; }
  bool GetRecordYield() const { return record_yield_; }
  void SetRecordYield(bool v) { record_yield_ = v; }
  // Also false once the capture window ended the recording by itself (a time
  // limit, a write error).
  bool Recording() const { return recording_ && capwin_ && capwin_->Capturing(); }
  void StartRecord();
  void StopRecord();

  // --- Progress of connecting and negotiating
  TKVJobEvent OnJob;
  void DoJob(TKVJob job, int per);

  // The capture window (null before the first paint or showing of video).
  TKVCaptureWindow* CaptureWindow() const { return capwin_; }
  void CreateCaptureWindow();

  void Paint() override;

 protected:
  void WMSize() override;

 private:
  void StartVideo();
  void ApplyDisplayMode();
  bool TryCodec(const std::string& code);
  void NegotiateVideoFormat();
  void FillVideoFormatList();
  // Connects for a query when not connected; false when that fails.
  bool TempConnect(bool& temp);
  void TempDisconnect(bool temp);
  void EnsureCaptureWindow() {
    if (!capwin_) CreateCaptureWindow();
  }
  static void FrameCallback(TKVCaptureWindow* w, const TVideoHdr* hdr);

  bool show_video_ = false;
  bool frozen_ = false;
  TVCDisplayMode display_mode_ = dmPreview;
  TKVCaptureWindow* capwin_ = nullptr;
  // The picture handed to OnVideoFrame, kept between frames so that its
  // pixel buffer is reused.
  TBitmap frame_bmp_;
  std::vector<std::string> source_list_;
  std::vector<int> source_indexes_;
  int video_source_ = 0;
  bool drivers_filled_ = false;
  TScrollStyle saved_scroll_ = ssNone;
  int preview_rate_ = 60;
  bool callback_on_ = false;
  TVideoFrameEvent on_video_frame_;
  TVideoFrameRawEvent on_video_frame_raw_;
  HGLOBAL format_block_ = nullptr;
  bool format_valid_ = false;
  bool connected_ = false;
  bool fit_freeze_ = true;
  std::vector<std::string> format_list_;
  bool format_list_filled_ = false;
  std::string video_format_ = "RGB ";
  std::string capture_file_ = "Capture.avi";
  int record_frame_rate_ = 15;
  bool record_audio_ = false;
  bool record_yield_ = true;
  bool recording_ = false;
  bool destroying_ = false;
};

}  // namespace korvane
