/// \file
/// The capture window: a child widget laid over the video view that connects
/// to a capture driver, shows its frames (scaled to the window or at their own
/// size), hands each previewed frame to a frame callback, grabs single frames
/// and records sequences to an AVI file. Its methods are the capture
/// messages; each answers whether it succeeded.
///
/// Frames are pulled from the driver by Qt timers on the user-interface
/// thread: the preview timer at the preview rate, and while recording a
/// timer at the requested frame interval.
#pragma once
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "korvane/capture/capture_driver.h"
#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/multi/avi_file.h"

class QEventLoop;

namespace korvane {

class TKVCaptureWindow;
/// Called with each previewed or grabbed frame.
using TCapVideoCallback = void (*)(TKVCaptureWindow* Window, const TVideoHdr* Hdr);

class KORVANE_EXPORT TKVCaptureWindow : public QWidget {
 public:
  explicit TKVCaptureWindow(QWidget* parent);
  ~TKVCaptureWindow() override;

  /// @name Driver
  /// @{
  bool DriverConnect(int index);
  bool DriverDisconnect();
  bool Connected() const { return driver_ && driver_->Connected(); }
  bool DriverGetCaps(TCapDriverCaps& caps) const;
  /// The driver of the last connection (null before the first).
  TKVCaptureDriver* Driver() const { return driver_.get(); }
  /// @}

  /// @name Format: the BITMAPINFO of the frames (header and table).
  /// @{
  /// Size of the format, 0 when not connected.
  size_t GetVideoFormatSize() const;
  /// Copies at most size bytes of it; the bytes copied.
  size_t GetVideoFormat(void* buf, size_t size) const;
  bool SetVideoFormat(const void* buf, size_t size);
  /// @}

  /// @name Preview
  /// @{
  bool SetPreview(bool on);
  bool Previewing() const { return preview_; }
  /// There is no overlay hardware behind V4L2 or the synthetic driver; on
  /// answers false unless the driver reports an overlay.
  bool SetOverlay(bool on);
  bool SetPreviewRate(int ms);
  int PreviewRate() const { return preview_rate_; }
  bool SetScale(bool on);
  bool SetCallbackFrame(TCapVideoCallback cb);
  /// Stops preview and captures one frame (waiting up to two seconds for
  /// it), which the callback receives and the window shows.
  bool GrabFrame();
  /// One preview step: a frame when the driver has a new one. True when one
  /// was delivered. The preview timer calls it.
  bool PreviewStep();
  /// The last frame shown, converted into bmp; false when there is none or
  /// its format has no conversion.
  bool LastFrame(TBitmap* bmp) const;
  /// Puts the last frame shown on the clipboard.
  bool EditCopy();
  int FramesShown() const { return frames_shown_; }
  /// @}

  /// @name Dialogs of the driver, and the compressor choice for recording
  /// @{
  bool DlgVideoSource();
  bool DlgVideoFormat();
  bool DlgVideoDisplay();
  bool DlgVideoCompression();
  const TKVAVICompressOptions& CompressOptions() const { return compress_; }
  void SetCompressOptions(const TKVAVICompressOptions& o) { compress_ = o; }
  /// @}

  /// @name Sequence capture
  /// @{
  bool GetSequenceSetup(TCaptureParms& p) const {
    p = parms_;
    return true;
  }
  bool SetSequenceSetup(const TCaptureParms& p);
  /// The file sequences are written to; false when it cannot be created.
  bool FileSetCaptureFile(const std::string& name);
  /// Starts recording. With fYield it returns at once and the recording runs
  /// from the message loop; without, it returns when the recording stops.
  bool Sequence();
  /// Stops recording.
  bool Stop();
  bool Capturing() const { return writer_ != nullptr; }
  /// Frames written by the last or current recording, how many of them
  /// repeat the previous frame because no new one was ready in time, and how
  /// many frame intervals were dropped because writing fell behind (they are
  /// stored as empty frames, so the file keeps real time).
  int FramesRecorded() const { return recorded_; }
  int FramesRepeated() const { return repeated_; }
  int FramesDropped() const { return dropped_; }
  /// @}

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  void Deliver();
  void RecordStep();
  /// Fills the frame intervals up to `due`, dropping the oldest ones when
  /// writing them all would hold the interface longer than a tick; `stopping`
  /// repeats the last frame instead of reading new ones.
  void CatchUp(int64_t due, bool stopping);
  /// The frame intervals of the time limit, 0 without one.
  int64_t LimitFrames() const;
  void WriteRecordFrame();
  void ApplyPreviewTimer();
  TBitmapInfoHeader Header() const;

  std::unique_ptr<TKVCaptureDriver> driver_;
  int driver_index_ = -1;
  std::vector<uint8_t> format_;  ///< the driver's format, read when it changes
  std::vector<uint8_t> frame_, last_;
  bool has_last_ = false;
  mutable std::unique_ptr<TBitmap> shown_;  ///< last_ converted, for painting
  mutable bool shown_valid_ = false;
  TCapVideoCallback callback_ = nullptr;
  bool preview_ = false;
  bool scale_ = false;
  int preview_rate_ = 66;
  int frames_shown_ = 0;
  QTimer preview_timer_;
  QElapsedTimer clock_;

  TCaptureParms parms_;
  std::string capture_file_;
  TKVAVICompressOptions compress_{"mjpeg", 90};
  std::unique_ptr<TKVAVIWriter> writer_;
  QTimer record_timer_;
  QElapsedTimer record_clock_;
  int64_t record_us_ = 66667;
  int recorded_ = 0, repeated_ = 0, dropped_ = 0;
  /// Microseconds the last recorded frame took to read and write.
  int64_t frame_cost_us_ = 0;
  bool preview_before_record_ = false;
  QEventLoop* loop_ = nullptr;
};

}  // namespace korvane
