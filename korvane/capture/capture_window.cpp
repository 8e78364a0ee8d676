#include "korvane/capture/capture_window.h"

#include <QEventLoop>
#include <QPainter>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/multi/kvmio.h"
#include "korvane/proc/kvproc.h"

namespace korvane {

TKVCaptureWindow::TKVCaptureWindow(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  preview_timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&preview_timer_, &QTimer::timeout, this, [this] { PreviewStep(); });
  record_timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&record_timer_, &QTimer::timeout, this, [this] { RecordStep(); });
}

TKVCaptureWindow::~TKVCaptureWindow() {
  Stop();
  DriverDisconnect();
}

bool TKVCaptureWindow::DriverConnect(int index) {
  DriverDisconnect();
  // The driver object outlives its connections, so settings made in its
  // dialogs hold for the next connection to the same index.
  if (!driver_ || index != driver_index_) {
    driver_ = KVCreateCaptureDriver(index);
    driver_index_ = index;
  }
  if (!driver_ || !driver_->Connect()) return false;
  format_ = driver_->GetFormat();
  clock_.start();
  return true;
}

bool TKVCaptureWindow::DriverDisconnect() {
  if (!Connected()) return false;
  Stop();
  SetPreview(false);
  driver_->Disconnect();
  return true;
}

bool TKVCaptureWindow::DriverGetCaps(TCapDriverCaps& caps) const {
  if (!Connected()) return false;
  caps = driver_->Caps();
  return true;
}

size_t TKVCaptureWindow::GetVideoFormatSize() const { return Connected() ? format_.size() : 0; }

size_t TKVCaptureWindow::GetVideoFormat(void* buf, size_t size) const {
  if (!Connected() || !buf) return 0;
  const size_t n = std::min(size, format_.size());
  std::memcpy(buf, format_.data(), n);
  return n;
}

bool TKVCaptureWindow::SetVideoFormat(const void* buf, size_t size) {
  if (!Connected() || !buf || size < sizeof(TBitmapInfoHeader) || Capturing()) return false;
  TBitmapInfoHeader h;
  std::memcpy(&h, buf, sizeof h);
  const bool ok = driver_->SetFormat(h);
  format_ = driver_->GetFormat();
  return ok;
}

TBitmapInfoHeader TKVCaptureWindow::Header() const {
  TBitmapInfoHeader h;
  if (format_.size() >= sizeof h) std::memcpy(&h, format_.data(), sizeof h);
  return h;
}

void TKVCaptureWindow::ApplyPreviewTimer() {
  if (preview_ && Connected() && !Capturing())
    preview_timer_.start(std::max(1, preview_rate_));
  else
    preview_timer_.stop();
}

bool TKVCaptureWindow::SetPreview(bool on) {
  if (on && !Connected()) return false;
  preview_ = on;
  ApplyPreviewTimer();
  return true;
}

bool TKVCaptureWindow::SetOverlay(bool on) {
  TCapDriverCaps caps;
  if (!DriverGetCaps(caps)) return false;
  return !on || caps.fHasOverlay;
}

bool TKVCaptureWindow::SetPreviewRate(int ms) {
  preview_rate_ = std::max(1, ms);
  ApplyPreviewTimer();
  return Connected();
}

bool TKVCaptureWindow::SetScale(bool on) {
  scale_ = on;
  update();
  return Connected();
}

bool TKVCaptureWindow::SetCallbackFrame(TCapVideoCallback cb) {
  callback_ = cb;
  return Connected();
}

void TKVCaptureWindow::Deliver() {
  // The frame just read becomes the one shown; the buffers swap, no copy.
  last_.swap(frame_);
  has_last_ = true;
  shown_valid_ = false;
  ++frames_shown_;
  if (callback_) {
    TVideoHdr hdr;
    hdr.lpData = last_.data();
    hdr.dwBufferLength = hdr.dwBytesUsed = last_.size();
    hdr.dwTimeCaptured = uint32_t(clock_.isValid() ? clock_.elapsed() : 0);
    callback_(this, &hdr);
  }
  update();
}

bool TKVCaptureWindow::PreviewStep() {
  if (!Connected() || !driver_->ReadFrame(frame_, 0)) return false;
  Deliver();
  return true;
}

bool TKVCaptureWindow::GrabFrame() {
  if (!Connected() || Capturing()) return false;
  SetPreview(false);
  if (!driver_->ReadFrame(frame_, 2000)) return false;
  Deliver();
  return true;
}

bool TKVCaptureWindow::LastFrame(TBitmap* bmp) const {
  if (!has_last_ || !bmp || format_.empty()) return false;
  try {
    _CopyDIB2Bitmap(format_.data(), format_.size(), bmp, last_.data(), last_.size());
  } catch (const EInvalidGraphic&) {
    return false;
  }
  return true;
}

bool TKVCaptureWindow::EditCopy() {
  TBitmap bmp;
  if (!LastFrame(&bmp)) return false;
  return ClipboardSetDIB(BitmapToPackedDIB(&bmp));
}

void TKVCaptureWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  if (!shown_valid_ && has_last_) {
    if (!shown_) shown_ = std::make_unique<TBitmap>();
    shown_valid_ = LastFrame(shown_.get());
  }
  if (!shown_valid_ || shown_->Empty()) return;
  const QImage img = shown_->SharedImage();
  if (scale_)
    p.drawImage(rect(), img);
  else
    p.drawImage(0, 0, img);
}

bool TKVCaptureWindow::DlgVideoSource() {
  if (!Connected()) return false;
  const bool ok = driver_->DialogVideoSource(this);
  format_ = driver_->GetFormat();
  return ok;
}

bool TKVCaptureWindow::DlgVideoFormat() {
  if (!Connected() || Capturing()) return false;
  const bool ok = driver_->DialogVideoFormat(this);
  format_ = driver_->GetFormat();
  return ok;
}

bool TKVCaptureWindow::DlgVideoDisplay() { return Connected() && driver_->DialogVideoDisplay(this); }

bool TKVCaptureWindow::DlgVideoCompression() {
  if (!Connected()) return false;
  TKVAVICompressOptions o = compress_;
  if (!AVISaveOptions(this, o)) return false;
  compress_ = o;
  return true;
}

bool TKVCaptureWindow::SetSequenceSetup(const TCaptureParms& p) {
  if (Capturing() || p.dwRequestMicroSecPerFrame == 0) return false;
  parms_ = p;
  return true;
}

bool TKVCaptureWindow::FileSetCaptureFile(const std::string& name) {
  if (name.empty() || Capturing()) return false;
  // The file must be creatable now; the recording replaces it.
  std::FILE* f = std::fopen(name.c_str(), "ab");
  if (!f) return false;
  std::fclose(f);
  capture_file_ = name;
  return true;
}

bool TKVCaptureWindow::Sequence() {
  if (!Connected() || Capturing() || capture_file_.empty()) return false;
  const TBitmapInfoHeader h = Header();
  const int w = h.biWidth, ht = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  if (w <= 0 || ht <= 0) return false;
  record_us_ = std::max<int64_t>(1, parms_.dwRequestMicroSecPerFrame);
  const int rate = std::max(1, int(std::lround(1e6 / double(record_us_))));
  try {
    writer_ = std::make_unique<TKVAVIWriter>(capture_file_, w, ht, rate, compress_);
  } catch (const std::exception&) {
    return false;
  }
  recorded_ = repeated_ = dropped_ = 0;
  frame_cost_us_ = 0;
  preview_before_record_ = preview_;
  preview_timer_.stop();
  record_clock_.start();
  // Ticks at half the frame interval write each frame within half an
  // interval of its time.
  record_timer_.start(int(std::max<int64_t>(1, record_us_ / 2000)));
  RecordStep();
  if (!parms_.fYield && Capturing()) {
    // Without yielding the call returns when the recording ends.
    QEventLoop loop;
    loop_ = &loop;
    loop.exec();
    loop_ = nullptr;
  }
  return true;
}

void TKVCaptureWindow::WriteRecordFrame() {
  // Uncompressed 24-bit frames are packed DIBs already; the others are
  // converted through a bitmap.
  const TBitmapInfoHeader h = Header();
  std::vector<uint8_t> dib;
  if (h.biCompression == TBitmapInfoHeader::kRGB && h.biBitCount == 24 && h.biHeight > 0) {
    dib.resize(sizeof h + last_.size());
    TBitmapInfoHeader hh = h;
    hh.biSize = 40;
    hh.biClrUsed = 0;
    std::memcpy(dib.data(), &hh, sizeof hh);
    std::memcpy(dib.data() + sizeof hh, last_.data(), last_.size());
  } else {
    TBitmap bmp;
    if (!LastFrame(&bmp)) return;
    dib = BitmapToPackedDIBBytes(&bmp);
  }
  writer_->WriteDIB(dib.data(), dib.size());
}

int64_t TKVCaptureWindow::LimitFrames() const {
  if (!parms_.fLimitEnabled || parms_.wTimeLimit == 0) return 0;
  return std::max<int64_t>(1, std::llround(double(parms_.wTimeLimit) * 1e6 / double(record_us_)));
}

void TKVCaptureWindow::CatchUp(int64_t due, bool stopping) {
  // The next frame interval to fill; intervals are written or dropped in
  // order.
  int64_t next = int64_t(recorded_) + dropped_;
  if (next >= due) return;
  // A tick writes what fits in half a frame interval (at least one frame),
  // judged by what the last frame cost. When writing falls further behind,
  // the oldest intervals are dropped, as a recorder does, instead of being
  // written on every tick while the interface waits.
  if (recorded_ > 0) {
    const int64_t fit = std::max<int64_t>(1, (record_us_ / 2) / std::max<int64_t>(1, frame_cost_us_));
    if (due - next > fit) {
      const int64_t drop = due - next - fit;
      writer_->SkipFrames(drop);
      dropped_ += int(drop);
      next += drop;
    }
  }
  while (next < due) {
    QElapsedTimer cost;
    cost.start();
    const bool fresh = !stopping && driver_->ReadFrame(frame_, recorded_ == 0 && !has_last_ ? 2000 : 0);
    if (fresh) {
      last_.swap(frame_);
      has_last_ = true;
      shown_valid_ = false;
      ++frames_shown_;
    } else if (!has_last_) {
      return;
    } else if (recorded_ > 0) {
      ++repeated_;
    }
    WriteRecordFrame();
    ++recorded_;
    ++next;
    frame_cost_us_ = cost.nsecsElapsed() / 1000;
  }
}

void TKVCaptureWindow::RecordStep() {
  if (!writer_) return;
  // Frame k covers [k, k + 1) frame intervals from the start: every frame
  // due by now is written, a new one when the driver has it, else the last
  // one again, so the file keeps the real timing.
  int64_t due = record_clock_.nsecsElapsed() / 1000 / record_us_ + 1;
  // A time limit counts frames, not timer ticks: a late tick must not add
  // frames past the limit.
  const int64_t limit = LimitFrames();
  if (limit) due = std::min(due, limit);
  try {
    CatchUp(due, false);
  } catch (const std::exception&) {
    Stop();
    return;
  }
  if (limit && int64_t(recorded_) + dropped_ >= limit) {
    Stop();
    return;
  }
  update();
}

bool TKVCaptureWindow::Stop() {
  if (!writer_) return false;
  record_timer_.stop();
  // The frames whose interval began before now complete the file (within
  // the time limit).
  const int64_t us = record_clock_.nsecsElapsed() / 1000;
  int64_t total = (us + record_us_ - 1) / record_us_;
  if (const int64_t limit = LimitFrames()) total = std::min(total, limit);
  try {
    CatchUp(total, true);
    writer_->Close();
  } catch (const std::exception&) {
  }
  writer_.reset();
  if (loop_) loop_->quit();
  preview_ = preview_before_record_;
  ApplyPreviewTimer();
  return true;
}

}  // namespace korvane
