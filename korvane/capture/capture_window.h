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

/// The capture window the video view lays over itself; unconnected and not previewing at first.
class KORVANE_EXPORT TKVCaptureWindow : public QWidget {
 public:
  /// A black, unconnected child of parent, which owns it through Qt; its preview and recording timers
  /// are set up but stopped.
  explicit TKVCaptureWindow(QWidget* parent);
  /// Stops a recording, completing its file, and disconnects the driver.
  ~TKVCaptureWindow() override;

  /// @name Driver
  //@{
  /** Connects to the driver at index (0..9), disconnecting first, reads its format and restarts the
      frame clock. The driver object is kept while the index stays, so its dialog settings hold. False
      when no driver answers there or it cannot connect. */
  bool DriverConnect(int index);
  /// Stops a recording and the preview and closes the device; false when not connected.
  bool DriverDisconnect();
  /// True while a driver is connected.
  bool Connected() const { return driver_ && driver_->Connected(); }
  /// Fills caps with the connected driver's capabilities; false, caps untouched, when not connected.
  bool DriverGetCaps(TCapDriverCaps& caps) const;
  /// The driver of the last connection (null before the first).
  TKVCaptureDriver* Driver() const { return driver_.get(); }
  //@}

  /// @name Format: the BITMAPINFO of the frames (header and table).
  //@{
  /** Size of the format, 0 when not connected. */
  size_t GetVideoFormatSize() const;
  /// Copies at most size bytes of it; the bytes copied.
  size_t GetVideoFormat(void* buf, size_t size) const;
  /// Asks the driver for the format in buf (a bitmap info header at its start) and reads the format back.
  /// False when not connected, recording, size is below the header, or the driver delivers another one.
  bool SetVideoFormat(const void* buf, size_t size);
  //@}

  /// @name Preview
  //@{
  /** Starts or stops previewing: the preview timer pulls a frame every PreviewRate milliseconds (paused
      while recording). False when asked to start without a connection. */
  bool SetPreview(bool on);
  /// True while previewing is on (also while a recording pauses it).
  bool Previewing() const { return preview_; }
  /// There is no overlay hardware behind V4L2 or the synthetic driver; on
  /// answers false unless the driver reports an overlay.
  bool SetOverlay(bool on);
  /// Sets the milliseconds between preview frames (at least 1) and restarts the timer; the rate is kept
  /// either way, the answer tells whether a driver is connected.
  bool SetPreviewRate(int ms);
  /// Milliseconds between preview frames; 66 at first.
  int PreviewRate() const { return preview_rate_; }
  /// Shows frames stretched to the window (on) or at their own size at the top left, and repaints; kept
  /// either way, the answer tells whether a driver is connected.
  bool SetScale(bool on);
  /// Sets the function called with each previewed or grabbed frame (not recorded ones); null calls none.
  /// Kept either way, the answer tells whether a driver is connected.
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
  /// Frames taken from drivers since the window was made: previewed, grabbed and recorded.
  int FramesShown() const { return frames_shown_; }
  //@}

  /// @name Dialogs of the driver, and the compressor choice for recording
  //@{
  /** Shows the driver's source dialog and reads the format back; false when not connected, cancelled or
      the driver has no such dialog. */
  bool DlgVideoSource();
  /// Shows the driver's format dialog and reads the format back; false when not connected, recording,
  /// cancelled or the driver has no such dialog.
  bool DlgVideoFormat();
  /// Shows the driver's display dialog; false when not connected, cancelled or the driver has none.
  bool DlgVideoDisplay();
  /// Lets the user choose the compressor for recordings (AVISaveOptions); false, the choice kept, when
  /// not connected or cancelled.
  bool DlgVideoCompression();
  /// The compressor recordings use; MJPEG at quality 90 at first.
  const TKVAVICompressOptions& CompressOptions() const { return compress_; }
  /// Sets the compressor from the next recording on.
  void SetCompressOptions(const TKVAVICompressOptions& o) { compress_ = o; }
  //@}

  /// @name Sequence capture
  //@{
  /** Copies the recording settings into p; always true. */
  bool GetSequenceSetup(TCaptureParms& p) const {
    p = parms_;
    return true;
  }
  /// Takes new recording settings; false, nothing changed, while recording or when the frame interval
  /// is 0.
  bool SetSequenceSetup(const TCaptureParms& p);
  /// The file sequences are written to; false when it cannot be created.
  bool FileSetCaptureFile(const std::string& name);
  /// Starts recording. With fYield it returns at once and the recording runs
  /// from the message loop; without, it returns when the recording stops.
  bool Sequence();
  /// Stops recording.
  bool Stop();
  /// True while a recording runs.
  bool Capturing() const { return writer_ != nullptr; }
  /// Frames written by the last or current recording, how many of them
  /// repeat the previous frame because no new one was ready in time, and how
  /// many frame intervals were dropped because writing fell behind (they are
  /// stored as empty frames, so the file keeps real time).
  int FramesRecorded() const { return recorded_; }
  int FramesRepeated() const { return repeated_; }  ///< see FramesRecorded
  int FramesDropped() const { return dropped_; }  ///< see FramesRecorded
  //@}

 protected:
  /// Paints black, then the last frame, stretched with Scale on, else at its size; a new frame is
  /// converted once, at its first paint.
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
