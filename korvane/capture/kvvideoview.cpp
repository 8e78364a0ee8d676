#include "korvane/capture/kvvideoview.h"

#include <cmath>
#include <cstring>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/proc/kvproc.h"

namespace korvane {

namespace {

// The frame callback state of the process: the view that last switched its
// frame callback on, its events and format block, and the target of a
// pending grab.
struct TFrameCallbackState {
  TKorvaneVideoView* View = nullptr;
  TVideoFrameEvent OnVideoFrame;
  TVideoFrameRawEvent OnVideoFrameRaw;
  HGLOBAL Format = nullptr;
  TBitmap* GrabTarget = nullptr;
  bool Grab = false;
};
TFrameCallbackState gFrameState;

void ClearFrameState() { gFrameState = TFrameCallbackState{}; }

}  // namespace

TKorvaneVideoView::TKorvaneVideoView(TComponent* AOwner, QWidget* parent) : TKorvaneView(AOwner, parent) {
  KVRegisterTestCaptureFromEnv();
  format_block_ = GlobalAlloc(GHND, kVideoFormatBlockSize);
}

TKorvaneVideoView::~TKorvaneVideoView() {
  destroying_ = true;
  // A frame arriving later must not reach this view.
  if (gFrameState.View == this) ClearFrameState();
  if (capwin_) {
    if (recording_) capwin_->Stop();
    recording_ = false;
    SetShowVideo(false);
    delete capwin_;
    capwin_ = nullptr;
  }
  GlobalFree(format_block_);
}

void TKorvaneVideoView::FillDrivers() {
  drivers_filled_ = true;
  source_list_.clear();
  source_indexes_.clear();
  for (int i = 0; i < kCaptureDriverCount; ++i) {
    std::string name, version;
    if (KVCapGetDriverDescription(i, name, version)) {
      source_list_.push_back(name + " " + version);
      source_indexes_.push_back(i);
    }
  }
}

void TKorvaneVideoView::DoJob(TKVJob job, int per) {
  if (OnJob) OnJob(this, job, per);
}

void TKorvaneVideoView::CreateCaptureWindow() {
  if (capwin_) return;
  capwin_ = new TKVCaptureWindow(this);
  capwin_->setGeometry(0, 0, Width(), Height());
  capwin_->hide();
  if (show_video_) StartVideo();
}

void TKorvaneVideoView::Paint() {
  if (!capwin_) {
    // Painting must not raise: a driver that cannot be opened leaves the
    // video hidden.
    try {
      CreateCaptureWindow();
    } catch (const TVideoCapException&) {
    }
  }
  if (!show_video_ || frozen_) TKorvaneView::Paint();
}

void TKorvaneVideoView::WMSize() {
  TKorvaneView::WMSize();
  if (capwin_) {
    capwin_->setGeometry(0, 0, Width(), Height());
    capwin_->update();
  }
}

void TKorvaneVideoView::SetScrollBars(TScrollStyle s) {
  saved_scroll_ = s;
  // While video is shown the bars stay hidden; they come back with it.
  if (!show_video_) TKorvaneView::SetScrollBars(s);
}

void TKorvaneVideoView::SetShowVideo(bool v) {
  if (v) {
    if (show_video_) return;
    if (GetScrollBars() != ssNone) TKorvaneView::SetScrollBars(ssNone);
    show_video_ = true;
    if (!capwin_)
      CreateCaptureWindow();
    else
      StartVideo();
    return;
  }
  if (capwin_) {
    DriverDisconnect();
    capwin_->SetPreview(false);
    capwin_->SetOverlay(false);
    capwin_->hide();
  }
  const bool was = show_video_;
  show_video_ = false;
  if (was && !destroying_) {
    TKorvaneView::SetScrollBars(saved_scroll_);
    Invalidate();
  }
}

void TKorvaneVideoView::StartVideo() {
  if (!connected_) {
    try {
      DriverConnect();
    } catch (...) {
      show_video_ = false;
      if (!destroying_) TKorvaneView::SetScrollBars(saved_scroll_);
      throw;
    }
  }
  capwin_->SetScale(true);
  ApplyDisplayMode();
  SetCallBackFrame(callback_on_);
  capwin_->setGeometry(0, 0, Width(), Height());
  capwin_->show();
  capwin_->raise();
  capwin_->update();
  if (frozen_) SetFreeze(true);
}

void TKorvaneVideoView::ApplyDisplayMode() {
  if (!connected_) return;
  DeSelect();
  if (frozen_) return;
  if (display_mode_ == dmOverlay) {
    capwin_->SetPreview(true);
    capwin_->SetOverlay(true);
  } else {
    capwin_->SetPreviewRate(preview_rate_);
    capwin_->SetPreview(true);
  }
}

void TKorvaneVideoView::SetDisplayMode(TVCDisplayMode m) {
  display_mode_ = m;
  ApplyDisplayMode();
}

void TKorvaneVideoView::SetPreviewRate(int ms) {
  preview_rate_ = ms;
  if (connected_) capwin_->SetPreviewRate(ms);
}

void TKorvaneVideoView::Select(int x1, int y1, int x2, int y2) {
  if (frozen_ || !show_video_) TKorvaneView::Select(x1, y1, x2, y2);
}

void TKorvaneVideoView::DriverConnect() {
  DoJob(kvjVIDEOCAP_CONNECTING, 0);
  EnsureCaptureWindow();
  if (!capwin_->DriverConnect(video_source_)) {
    DoJob(kvjNOTHING, 0);
    throw TVideoCapException("Unable to open video capture driver");
  }
  connected_ = true;
  format_valid_ = false;
  FillBitmapInfo();
  FillVideoFormatList();
  DoJob(kvjNOTHING, 0);
}

bool TKorvaneVideoView::DriverConnectNE() {
  EnsureCaptureWindow();
  return capwin_->DriverConnect(video_source_);
}

void TKorvaneVideoView::DriverDisconnect() {
  if (capwin_) capwin_->DriverDisconnect();
  connected_ = false;
}

bool TKorvaneVideoView::TempConnect(bool& temp) {
  temp = false;
  if (connected_) return true;
  if (!DriverConnectNE()) return false;
  temp = true;
  return true;
}

void TKorvaneVideoView::TempDisconnect(bool temp) {
  if (temp) capwin_->DriverDisconnect();
}

void TKorvaneVideoView::SetVideoSource(int i) {
  video_source_ = i;
  if (show_video_) {
    SetShowVideo(false);
    format_list_filled_ = false;
    SetShowVideo(true);
  } else {
    format_list_filled_ = false;
    format_valid_ = false;
  }
}

bool TKorvaneVideoView::GetCaps(TCapDriverCaps& caps) {
  bool temp;
  if (!TempConnect(temp)) return false;
  const bool ok = capwin_->DriverGetCaps(caps);
  TempDisconnect(temp);
  return ok;
}

bool TKorvaneVideoView::GetHasOverlay() {
  TCapDriverCaps c;
  return GetCaps(c) && c.fHasOverlay;
}
bool TKorvaneVideoView::GetHasDlgVideoSource() {
  TCapDriverCaps c;
  return GetCaps(c) && c.fHasDlgVideoSource;
}
bool TKorvaneVideoView::GetHasDlgVideoFormat() {
  TCapDriverCaps c;
  return GetCaps(c) && c.fHasDlgVideoFormat;
}
bool TKorvaneVideoView::GetHasDlgVideoDisplay() {
  TCapDriverCaps c;
  return GetCaps(c) && c.fHasDlgVideoDisplay;
}

namespace {
template <class F>
bool RunDialog(TKorvaneVideoView* v, bool connected, TKVCaptureWindow* w, F dlg, bool& formatValid) {
  bool temp = false;
  if (!connected) {
    if (!v->DriverConnectNE()) return false;
    temp = true;
  }
  const bool r = (w->*dlg)();
  formatValid = false;
  v->FillBitmapInfo();
  if (temp) w->DriverDisconnect();
  return r;
}
}  // namespace

// The driver's dialogs are refused while recording: the format they may
// change is the one being written, and renegotiating it meanwhile would fail.
bool TKorvaneVideoView::DoConfigureSource() {
  if (Recording()) return false;
  EnsureCaptureWindow();
  return RunDialog(this, connected_, capwin_, &TKVCaptureWindow::DlgVideoSource, format_valid_);
}
bool TKorvaneVideoView::DoConfigureFormat() {
  if (Recording()) return false;
  EnsureCaptureWindow();
  return RunDialog(this, connected_, capwin_, &TKVCaptureWindow::DlgVideoFormat, format_valid_);
}
bool TKorvaneVideoView::DoConfigureDisplay() {
  if (Recording()) return false;
  EnsureCaptureWindow();
  return RunDialog(this, connected_, capwin_, &TKVCaptureWindow::DlgVideoDisplay, format_valid_);
}
bool TKorvaneVideoView::DoConfigureCompression() {
  if (Recording()) return false;
  EnsureCaptureWindow();
  return RunDialog(this, connected_, capwin_, &TKVCaptureWindow::DlgVideoCompression, format_valid_);
}

void TKorvaneVideoView::SetVideoFormat(const std::string& code) {
  video_format_ = code.substr(0, 4);
  format_valid_ = false;
  if (connected_) FillBitmapInfo();
}

bool TKorvaneVideoView::TryCodec(const std::string& code) {
  const int i = VideoFormatIndex(code);
  if (i < 0 || !capwin_) return false;
  uint8_t buf[44] = {};
  if (capwin_->GetVideoFormat(buf, sizeof buf) < sizeof(TBitmapInfoHeader)) return false;
  TBitmapInfoHeader h;
  std::memcpy(&h, buf, sizeof h);
  h.biBitCount = uint16_t(VideoFormatTable[i].Bits);
  h.biPlanes = 1;
  const int64_t w = h.biWidth, ht = h.biHeight < 0 ? -int64_t(h.biHeight) : int64_t(h.biHeight);
  if (code == "RGB ") {
    h.biCompression = TBitmapInfoHeader::kRGB;
    h.biSizeImage = uint32_t(((w * h.biBitCount + 31) / 32) * 4 * ht);
  } else {
    h.biCompression = StringToFourCC(code);
    h.biSizeImage = uint32_t(w * ht * h.biBitCount / 8);
  }
  std::memcpy(buf, &h, sizeof h);
  return capwin_->SetVideoFormat(buf, sizeof buf);
}

void TKorvaneVideoView::NegotiateVideoFormat() {
  if (TryCodec(video_format_)) return;
  for (const auto& e : VideoFormatTable)
    if (e.Code != video_format_ && TryCodec(e.Code)) {
      video_format_ = e.Code;
      return;
    }
  video_format_ = "????";
}

bool TKorvaneVideoView::FillBitmapInfo() {
  DoJob(kvjVIDEOCAP_NEGOTIATINGVIDEOFORMAT, 0);
  // While recording the driver keeps the format being written: a format
  // asked for meanwhile is negotiated when the recording stops.
  if (!format_valid_ && !(capwin_ && capwin_->Capturing())) {
    EnsureCaptureWindow();
    bool temp;
    if (!TempConnect(temp)) {
      DoJob(kvjNOTHING, 0);
      return false;
    }
    NegotiateVideoFormat();
    const size_t size = std::max(kVideoFormatBlockSize, capwin_->GetVideoFormatSize());
    HGLOBAL block = GlobalAlloc(GHND, size);
    if (block) {
      {
        TGlobalLock lock(block);
        capwin_->GetVideoFormat(lock.Data(), size);
      }
      // The callback state keeps the block of its view: follow the swap.
      if (gFrameState.Format == format_block_) gFrameState.Format = block;
      GlobalFree(format_block_);
      format_block_ = block;
    }
    TempDisconnect(temp);
    format_valid_ = true;
  }
  DoJob(kvjNOTHING, 0);
  return true;
}

void TKorvaneVideoView::FillVideoFormatList() {
  if (format_list_filled_) return;
  EnsureCaptureWindow();
  bool temp;
  if (!TempConnect(temp)) return;
  format_list_.clear();
  for (int i = 0; i < kVideoFormatCount; ++i) {
    if (TryCodec(VideoFormatTable[i].Code)) format_list_.push_back(VideoFormatTable[i].Code);
    DoJob(kvjVIDEOCAP_TRYVIDEOFORMATS, i * 100 / (kVideoFormatCount - 1));
  }
  TryCodec(video_format_);
  format_list_filled_ = true;
  TempDisconnect(temp);
  DoJob(kvjNOTHING, 0);
}

const std::vector<std::string>& TKorvaneVideoView::GetVideoFormatList() {
  EnsureCaptureWindow();
  FillBitmapInfo();
  FillVideoFormatList();
  return format_list_;
}

void TKorvaneVideoView::GetVideoSize(TRect& r) {
  EnsureCaptureWindow();
  FillBitmapInfo();
  TBitmapInfoHeader h;
  {
    TGlobalLock lock(format_block_);
    if (lock.Data()) std::memcpy(&h, lock.Data(), sizeof h);
  }
  r = Rect(0, 0, h.biWidth - 1, std::abs(h.biHeight) - 1);
}

void TKorvaneVideoView::SetOnVideoFrame(const TVideoFrameEvent& e) {
  on_video_frame_ = e;
  SetCallBackFrame(on_video_frame_ || on_video_frame_raw_);
}

void TKorvaneVideoView::SetOnVideoFrameRaw(const TVideoFrameRawEvent& e) {
  on_video_frame_raw_ = e;
  SetCallBackFrame(on_video_frame_ || on_video_frame_raw_);
}

void TKorvaneVideoView::SetCallBackFrame(bool on) {
  callback_on_ = on;
  if (!connected_) return;
  if (on) {
    capwin_->SetCallbackFrame(&FrameCallback);
    gFrameState.View = this;
    gFrameState.OnVideoFrame = on_video_frame_;
    gFrameState.OnVideoFrameRaw = on_video_frame_raw_;
    gFrameState.Format = format_block_;
  } else {
    capwin_->SetCallbackFrame(nullptr);
    if (gFrameState.View == this) {
      TBitmap* grab = gFrameState.GrabTarget;
      const bool pending = gFrameState.Grab;
      ClearFrameState();
      gFrameState.GrabTarget = grab, gFrameState.Grab = pending;
    }
  }
}

void TKorvaneVideoView::FrameCallback(TKVCaptureWindow* w, const TVideoHdr* hdr) {
  // Only the view that switched the callback on last receives frames, and
  // only from its own capture window: another view's frames would not match
  // its format block.
  TKorvaneVideoView* v = gFrameState.View;
  if (!v || v->capwin_ != w || !hdr || !hdr->lpData) return;
  // Each step re-reads the state: a handler may change the events, the
  // format or the receiving view.
  auto convert = [&](TBitmap* target) {
    TGlobalLock fmt(gFrameState.Format);
    if (!fmt.Data()) return false;
    try {
      _CopyDIB2Bitmap(fmt.Data(), fmt.Size(), target, hdr->lpData, hdr->dwBytesUsed);
    } catch (const EInvalidGraphic&) {
      return false;
    }
    return true;
  };
  if (gFrameState.OnVideoFrame) {
    TVideoFrameEvent e = gFrameState.OnVideoFrame;
    if (convert(&v->frame_bmp_)) e(v, &v->frame_bmp_);
  }
  if (gFrameState.View == v && gFrameState.OnVideoFrameRaw) {
    TVideoFrameRawEvent e = gFrameState.OnVideoFrameRaw;
    e(v, gFrameState.Format, hdr->lpData);
  }
  if (gFrameState.View == v && gFrameState.Grab && gFrameState.GrabTarget) convert(gFrameState.GrabTarget);
}

void TKorvaneVideoView::SetFreeze(bool v) {
  frozen_ = v;
  if (!show_video_ || !connected_) return;
  if (!v) {
    // Live video resumes over the view.
    capwin_->show();
    capwin_->raise();
    ApplyDisplayMode();
    Invalidate();
    return;
  }
  TBitmap* bmp = GetFBitmap();
  if (video_format_ != "????") {
    gFrameState.GrabTarget = bmp;
    gFrameState.Grab = true;
    SetCallBackFrame(true);
    capwin_->SetPreview(true);
    capwin_->GrabFrame();
    gFrameState.Grab = false;
    gFrameState.GrabTarget = nullptr;
    SetCallBackFrame(on_video_frame_ || on_video_frame_raw_);
    if (fit_freeze_ && !bmp->Empty()) {
      const TResampleFilter f = (bmp->Width() < Width() || bmp->Height() < Height()) ? rfTriangle : rfNone;
      TKorvaneProc proc;
      proc.SetAutoUndo(false);
      proc.SetAttachedBitmap(bmp);
      proc.Resample(Width(), Height(), f);
    }
  } else {
    // No table format: the frame the capture window shows last, as it is.
    capwin_->SetPreview(false);
    capwin_->LastFrame(bmp);
  }
  // The still frame is shown by the view itself, where selections and
  // processing results are drawn.
  capwin_->hide();
  Update();
  ImageChange();
}

void TKorvaneVideoView::StartRecord() {
  // Recording() and not the flag: a recording that ended by itself (a time
  // limit, a write error) leaves the flag set.
  if (Recording()) return;
  recording_ = false;
  EnsureCaptureWindow();
  TCaptureParms p;
  capwin_->GetSequenceSetup(p);
  p.fYield = record_yield_ ? -1 : 0;
  p.fCaptureAudio = record_audio_ ? -1 : 0;
  p.dwRequestMicroSecPerFrame = uint32_t(std::lround(1000000.0 / std::max(1, record_frame_rate_)));
  capwin_->SetSequenceSetup(p);
  if (!capwin_->FileSetCaptureFile(capture_file_)) throw TVideoCapException("Unable to create AVI file");
  recording_ = true;
  if (!capwin_->Sequence()) {
    recording_ = false;
    throw TVideoCapException("Unable to start video recording");
  }
  // Without yielding, Sequence returns when the recording has ended.
  if (!capwin_->Capturing()) recording_ = false;
}

void TKorvaneVideoView::StopRecord() {
  if (!recording_) return;
  capwin_->Stop();
  recording_ = false;
  if (connected_ && !format_valid_) FillBitmapInfo();
}

}  // namespace korvane
