/// \file
/// TKorvaneVideoView: the image view with a capture window laid over it. It
/// lists the capture drivers, connects to one, shows live video, negotiates
/// a pixel format from a fixed table of codes, hands frames to the
/// application as bitmaps or raw data, freezes a frame into its own bitmap
/// (where selection and processing work on it) and records AVI files.
#pragma once
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "korvane/capture/capture_driver.h"
#include "korvane/capture/capture_window.h"
#include "korvane/foundations/host/export.h"
#include "korvane/view/kvview.h"

namespace korvane {

// Registered with Qt's meta-object system (see control_enums in
// host/controls.h).
namespace video_enums {
Q_NAMESPACE
/// How live video is shown: dmPreview pulls frames at the preview rate; dmOverlay asks the device to
/// overlay it, which no driver here can, so it previews at the capture window's rate.
enum TVCDisplayMode { dmPreview, dmOverlay };
Q_ENUM_NS(TVCDisplayMode)
}  // namespace video_enums
using namespace video_enums;

/// Failures of the video view: "Unable to open video capture driver",
/// "Unable to create AVI file", "Unable to start video recording".
class KORVANE_EXPORT TVideoCapException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Handler of the video view's frame event: Bitmap is the frame converted to a bitmap, owned by the
/// view and reused for the next frame.
using TVideoFrameEvent = std::function<void(TObject* Sender, TBitmap* Bitmap)>;
/// hDib is the view's format block (a BITMAPINFO), pData the frame's bytes.
using TVideoFrameRawEvent = std::function<void(TObject* Sender, HGLOBAL hDib, const void* pData)>;

/// Bytes of the format block at least.
constexpr size_t kVideoFormatBlockSize = 1068;

// ShowVideo is no property: showing connects to a camera, which is the
// application's business at run time, not a form's.
/// The video view: live video from a capture driver over an image view, frozen frames, recording.
class KORVANE_EXPORT TKorvaneVideoView : public TKorvaneView {
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
  /// Makes a view owned by AOwner and parented to parent, lists the drivers (registering the synthetic
  /// one when KORVANE_TEST_CAPTURE=1) and allocates the format block; the capture window comes with the
  /// first paint, video is not shown.
  explicit TKorvaneVideoView(TComponent* AOwner, QWidget* parent = nullptr);
  template <KVFormParent P>
  explicit TKorvaneVideoView(P* parent) : TKorvaneVideoView(nullptr, parent) {}
  /// Stops a recording, hides the video, disconnects and deletes the capture window and frees the format
  /// block; frames arriving later no longer reach the view.
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
  /// @name Drivers
  /** The drivers that answer, as "name version", and their indexes. */
  /// The driver index (0..9) of each entry of GetVideoSourceList.
  /// Lists again the drivers that answer at the indexes 0..9.
  void FillDrivers();
  /// The driver index the view connects to (0 at first): an index 0..9, not a list position.
  int GetVideoSource() const { return video_source_; }
  /// Chooses the driver index; with video shown, reconnects to it (raising as SetShowVideo does). The
  /// format and the list of accepted formats are read again.
  void SetVideoSource(int i);
  //@}

  /// @name Live video
  //@{
  /** Whether live video is shown over the view (off at first); the scroll bars hide meanwhile. */
  bool GetShowVideo() const { return show_video_; }
  /// Showing connects to the driver (raising "Unable to open video capture
  /// driver" when it cannot, with the video left hidden) and starts preview
  /// or overlay; hiding disconnects.
  void SetShowVideo(bool v);
  /// How live video is shown; dmPreview at first.
  TVCDisplayMode GetDisplayMode() const { return display_mode_; }
  /// Sets the mode; when connected, removes the selection and restarts the video unless a frame is frozen.
  void SetDisplayMode(TVCDisplayMode m);
  /// Milliseconds between preview frames; 60 at first.
  int GetPreviewRate() const { return preview_rate_; }
  /// Sets the rate, applied at once when connected.
  void SetPreviewRate(int ms);
  /// Keeps the style and applies it only while no video is shown; showing video hides the bars.
  void SetScrollBars(TScrollStyle s) override;
  /// Passes to the view only while a frame is frozen or no video is shown.
  void Select(int x1, int y1, int x2, int y2) override;
  //@}

  /// @name Driver connection
  //@{
  /** Connects the capture window to the VideoSource driver, negotiates the pixel format and lists the
      accepted ones, reporting through OnJob. Raises TVideoCapException ("Unable to open video capture
      driver") when the driver cannot be opened. */
  void DriverConnect();
  /// Connects the capture window to the driver for a query, without raising and without marking the view
  /// connected; false when it fails.
  bool DriverConnectNE();
  /// Disconnects the capture window's driver, which stops its recording and preview.
  void DriverDisconnect();
  /// True from DriverConnect to DriverDisconnect.
  bool Connected() const { return connected_; }
  /// The driver's capabilities, connecting for the query when not connected; false when no driver opens.
  bool GetCaps(TCapDriverCaps& caps);
  /// Whether the driver overlays video itself (false without a driver, and for the drivers here).
  bool GetHasOverlay();
  /// Whether the driver has a source dialog (false without a driver).
  bool GetHasDlgVideoSource();
  /// Whether the driver has a format dialog (false without a driver).
  bool GetHasDlgVideoFormat();
  /// Whether the driver has a display dialog (false without a driver).
  bool GetHasDlgVideoDisplay();
  /// Shows the driver's source dialog, connecting for it when needed, then negotiates the format again;
  /// false while recording, without a driver, or when cancelled.
  bool DoConfigureSource();
  /// Shows the driver's format dialog, connecting for it when needed, then negotiates the format again;
  /// false while recording, without a driver, or when cancelled.
  bool DoConfigureFormat();
  /// Shows the driver's display dialog, connecting for it when needed; false while recording, without a
  /// driver or such a dialog, or when cancelled.
  bool DoConfigureDisplay();
  /// Lets the user choose the compressor recordings use; false while recording, without a driver, or
  /// when cancelled.
  bool DoConfigureCompression();
  //@}

  /// @name Pixel format
  //@{
  /** The four-character code of the frames' pixel format ("RGB " at first); "????" when the driver
      accepted no code of the table. */
  std::string GetVideoFormat() const { return video_format_; }
  /// Asks for a pixel format (the first four characters of code), negotiated at once when connected,
  /// else at the next connection; when the driver refuses it, the table's codes are tried in order.
  void SetVideoFormat(const std::string& code);
  QString VideoFormatQString() const { return QString::fromStdString(video_format_); }
  void SetVideoFormatQString(const QString& code) { SetVideoFormat(code.toStdString()); }
  /// The codes the driver accepts.
  const std::vector<std::string>& GetVideoFormatList();
  /// (0, 0, width - 1, height - 1) of the frames.
  void GetVideoSize(TRect& r);
  /// Brings the format block up to date; false when no driver was available.
  bool FillBitmapInfo();
  /// The format block: the frames' bitmap info header and table, at least kVideoFormatBlockSize bytes.
  /// The view owns it; each negotiation replaces it.
  HGLOBAL FormatBlock() const { return format_block_; }
  //@}

  /// @name Frames
  //@{
  /** Sets the handler called with each previewed or grabbed frame as a bitmap; the frame callback is on
      while this or the raw handler is set. */
  void SetOnVideoFrame(const TVideoFrameEvent& e);
  /// Sets the handler called with each previewed or grabbed frame's format block and bytes; the frame
  /// callback is on while this or the bitmap handler is set.
  void SetOnVideoFrameRaw(const TVideoFrameRawEvent& e);
  /// The bitmap frame handler (empty when none).
  const TVideoFrameEvent& GetOnVideoFrame() const { return on_video_frame_; }
  /// The raw frame handler (empty when none).
  const TVideoFrameRawEvent& GetOnVideoFrameRaw() const { return on_video_frame_raw_; }
  /// Whether frames are handed to the handlers; off at first, set by the handler setters.
  bool GetCallBackFrame() const { return callback_on_; }
  /// Routes the capture window's frames to this view's handlers, or stops that; applies when connected.
  /// Of several views, the one that switched it on last receives frames.
  void SetCallBackFrame(bool on);
  //@}

  /// @name Freezing
  //@{
  /** Freezes the current frame into the bitmap (see SetFreeze). */
  void Freeze() { SetFreeze(true); }
  /// Resumes live video (see SetFreeze).
  void UnFreeze() { SetFreeze(false); }
  /// Whether a frame is frozen; off at first.
  bool GetFrozen() const { return frozen_; }
  /// Freezing grabs a frame into the view's bitmap (resampled to the view with FitFreeze) and shows it
  /// with the view's own painting; unfreezing shows live video again. Acts only while video is shown.
  void SetFreeze(bool v);
  /// Whether a frozen frame is resampled to the view's size (triangle filter when enlarging); on at first.
  bool GetFitFreeze() const { return fit_freeze_; }
  /// Sets fitting from the next freeze on.
  void SetFitFreeze(bool v) { fit_freeze_ = v; }
  //@}

  /// @name Recording
  //@{
  /** The AVI file recordings replace; "Capture.avi" at first, relative to the working directory. */
  std::string GetCaptureFile() const { return capture_file_; }
  /// Sets the file from the next recording on.
  void SetCaptureFile(const std::string& f) { capture_file_ = f; }
  QString CaptureFileQString() const { return QString::fromStdString(capture_file_); }
  void SetCaptureFileQString(const QString& f) { capture_file_ = f.toStdString(); }
  /// Frames per second recordings are made at; 15 at first, values below 1 count as 1.
  int GetRecordFrameRate() const { return record_frame_rate_; }
  /// Sets the rate from the next recording on.
  void SetRecordFrameRate(int fps) { record_frame_rate_ = fps; }
  /// Whether a recording asks for sound (off at first); no sound is recorded, the flag is only passed on.
  bool GetRecordAudio() const { return record_audio_; }
  /// Sets the flag from the next recording on.
  void SetRecordAudio(bool v) { record_audio_ = v; }
  /// Whether StartRecord returns at once, the recording running from the event loop (on at first), or
  /// only when the recording has ended.
  bool GetRecordYield() const { return record_yield_; }
  /// Sets yielding from the next recording on.
  void SetRecordYield(bool v) { record_yield_ = v; }
  /// Also false once the capture window ended the recording by itself (a time
  /// limit, a write error).
  bool Recording() const { return recording_ && capwin_ && capwin_->Capturing(); }
  /// Records the live video into CaptureFile at RecordFrameRate; nothing while recording. Raises
  /// TVideoCapException "Unable to create AVI file" or "Unable to start video recording".
  void StartRecord();
  /// Stops the recording, completing the file, and negotiates a format asked for meanwhile; nothing
  /// when not recording.
  void StopRecord();
  //@}

  /// @name Progress of connecting and negotiating
  //@{
  /** Called with the view while connecting (kvjVIDEOCAP_CONNECTING), negotiating a format and trying the
      formats (with percent), then with kvjNOTHING. */
  TKVJobEvent OnJob;
  /// Calls OnJob with the view, job and percent, when set.
  void DoJob(TKVJob job, int per);

  /// The capture window (null before the first paint or showing of video).
  TKVCaptureWindow* CaptureWindow() const { return capwin_; }
  /// Makes the capture window, covering the view and hidden, and starts the video when ShowVideo is on
  /// (raising as SetShowVideo does); nothing when it exists.
  void CreateCaptureWindow();

  /// Makes the capture window at the first paint (a driver failure leaves the video hidden, without
  /// raising) and paints the view while no live video covers it.
  void Paint() override;
  //@}

 protected:
  /// Updates the layout and keeps the capture window covering the view.
  void WMSize() override;

 private:
  void StartVideo();
  void ApplyDisplayMode();
  bool TryCodec(const std::string& code);
  void NegotiateVideoFormat();
  void FillVideoFormatList();
  /// Connects for a query when not connected; false when that fails.
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
  /// The picture handed to OnVideoFrame, kept between frames so that its
  /// pixel buffer is reused.
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
