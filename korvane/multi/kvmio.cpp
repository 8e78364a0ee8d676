// TKorvaneMIO: the parameters list, GIF and TIFF multi-image load and save.
#include "korvane/multi/kvmio.h"

#include <cctype>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/io/codecs/gif/gif_codec.h"
#include "korvane/io/codecs/tiff/tiff_codec.h"
#include "korvane/io/file_ext.h"
#include "korvane/proc/kvproc.h"
#include "korvane/view/kvview.h"

namespace korvane {

TKorvaneMIO::TKorvaneMIO(TComponent* AOwner) : TComponent(AOwner) {}

TKorvaneMIO::~TKorvaneMIO() { SetAttachedMView(nullptr); }

void TKorvaneMIO::SetAttachedMView(TKorvaneMView* v) {
  if (view_) {
    view_->RemoveBitmapChangeEvent(this);
    RemoveFreeNotification(view_);
  }
  view_ = v;
  if (v) {
    FreeNotification(v);
    v->RegisterBitmapChangeEvent(this, [this](TObject* s) { OnBitmapChange(s); });
  }
}

void TKorvaneMIO::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && view_ && AComponent == static_cast<TComponent*>(view_)) {
    view_->RemoveBitmapChangeEvent(this);
    view_ = nullptr;
  }
}

bool TKorvaneMIO::IOParamsViewDPI(int32_t& DpiX, int32_t& DpiY) {
  if (!view_) return false;
  DpiX = view_->GetDPIX();
  DpiY = view_->GetDPIY();
  return true;
}

void TKorvaneMIO::OnBitmapChange(TObject*) {
  if (!view_) return;
  int op = view_->GetLastOp();
  if (op == 1)
    InsertIOParam(view_->GetLastOpIdx());
  else if (op == 2)
    RemoveIOParam(view_->GetLastOpIdx());
}

void TKorvaneMIO::Renumber() {
  for (size_t i = 0; i < params_.size(); ++i)
    params_[i]->TIFF_ImageIndex = params_[i]->GIF_ImageIndex = int32_t(i);
}

void TKorvaneMIO::InsertIOParam(int idx) {
  if (idx < 0) idx = 0;
  TIOParamsOwner* owner = this;
  auto rec = std::make_unique<TIOParamsVals>(owner);
  int n = GetParamsCount();
  if (n > 0) rec->Assign(params_[idx < n ? idx : n - 1].get());
  params_.insert(params_.begin() + std::min(idx, n), std::move(rec));
  Renumber();
}

void TKorvaneMIO::RemoveIOParam(int idx) {
  if (idx < 0 || idx >= GetParamsCount()) return;
  params_.erase(params_.begin() + idx);
  Renumber();
}

TIOParamsVals* TKorvaneMIO::GetParams(int idx) const {
  return idx >= 0 && idx < GetParamsCount() ? params_[idx].get() : nullptr;
}

void TKorvaneMIO::Update() {
  if (!view_) return;
  view_->Update();
  view_->ImageChange();
}

TProgressRec TKorvaneMIO::MakeProgress() {
  TProgressRec p;
  p.OnProgress = OnProgress;
  p.Sender = this;
  p.Aborting = &Aborting;
  return p;
}

void TKorvaneMIO::ImageDone(int i, int n) {
  if (OnProgress && n > 0) OnProgress(this, int(int64_t(i) * 100 / n));
}

// ---------------------------------------------------------------------------
// GIF and TIFF

void TKorvaneMIO::LoadMulti(TStream* stream, Multi kind) {
  if (!view_ || !stream) return;
  Aborting = false;
  const int64_t p = stream->Position();
  int index = std::max(view_->GetSelectedItem(), 0);
  int lastDelay = 10;
  int32_t n = 0;
  for (int i = 0;; ++i, ++index) {
    view_->InsertImage(index);
    TIOParamsVals* rec = GetParams(index);
    if (!rec) break;  // the view is not ours to follow (no notification)
    stream->Seek(p, soBeginning);
    TBitmap bmp;
    TProgressRec pr = MakeProgress();
    try {
      if (kind == Multi::Gif) {
        rec->GIF_ImageIndex = i;
        ReadGifStream(stream, &bmp, n, *rec, pr, false);
      } else {
        rec->TIFF_ImageIndex = i;
        TIFFReadStream(&bmp, stream, n, false, pr, rec);
      }
    } catch (...) {
      view_->DeleteImage(index);
      throw;
    }
    rec->GIF_ImageIndex = rec->TIFF_ImageIndex = index;
    rec->FileType = kind == Multi::Gif ? ioGIF : ioTIFF;
    rec->FileName.clear();
    if (n > 0 && !bmp.Empty()) {
      view_->SetImage(index, &bmp);
      if (kind == Multi::Gif) {
        view_->SetImageBackground(index, TRGB2TColor(rec->GIF_Background));
        // A frame without a delay keeps the previous frame's.
        int d = lastDelay;
        if (rec->GIF_DelayTime >= 1) d = lastDelay = rec->GIF_DelayTime * 10;
        view_->SetImageDelayTime(index, d);
      } else {
        view_->SetImageDelayTime(index, 100);
      }
    } else {
      view_->DeleteImage(index);
      --index;
    }
    ImageDone(i, n);
    if (i + 1 >= n || Aborting) break;
  }
  Update();
}

void TKorvaneMIO::SaveMulti(TStream* stream, Multi kind) {
  if (!view_ || !stream || view_->GetImageCount() == 0) return;
  Aborting = false;
  const int64_t p = stream->Position();
  int n = view_->GetImageCount();
  for (int i = 0; i < n; ++i) {
    stream->Seek(p, soBeginning);
    TIOParamsVals* rec = GetParams(i);
    if (!rec) break;
    TBitmap* bmp = view_->GetBitmap(i);
    if (!bmp) continue;
    struct Release {
      TKorvaneMView* v;
      int i;
      ~Release() { v->ReleaseBitmap(i); }
    } release{view_, i};
    TProgressRec pr = MakeProgress();
    if (kind == Multi::Gif) {
      // Frames that came from a video keep their delay in milliseconds;
      // GIF counts hundredths of a second.
      struct DelayFix {
        TIOParamsVals* r;
        int32_t saved;
        ~DelayFix() { r->GIF_DelayTime = saved; }
      } fix{rec, rec->GIF_DelayTime};
      if (rec->FileType == ioUnknown && LowerExt(rec->FileName) == ".avi")
        rec->GIF_DelayTime = (rec->GIF_DelayTime + 5) / 10;
      if (i == 0)
        WriteGifStream(stream, bmp, *rec, pr);
      else
        _InsertGifImStream(stream, bmp, *rec, pr);
    } else {
      TIFFWriteStream(stream, i > 0, bmp, *rec, pr);
    }
    ImageDone(i, n);
    if (Aborting) break;
  }
}

void TKorvaneMIO::LoadFromStreamGif(TStream* stream) { LoadMulti(stream, Multi::Gif); }
void TKorvaneMIO::LoadFromStreamTIFF(TStream* stream) { LoadMulti(stream, Multi::Tiff); }
void TKorvaneMIO::SaveToStreamGif(TStream* stream) { SaveMulti(stream, Multi::Gif); }
void TKorvaneMIO::SaveToStreamTIFF(TStream* stream) { SaveMulti(stream, Multi::Tiff); }

void TKorvaneMIO::LoadFromFileGif(const std::string& name) {
  if (!view_) return;
  TFileStream f(name, fmOpenRead);
  LoadFromStreamGif(&f);
}

void TKorvaneMIO::LoadFromFileTIFF(const std::string& name) {
  if (!view_) return;
  TFileStream f(name, fmOpenRead);
  LoadFromStreamTIFF(&f);
}

void TKorvaneMIO::SaveToFileGif(const std::string& name) {
  if (!view_ || view_->GetImageCount() == 0) return;
  TFileStream f(name, fmCreate);
  SaveToStreamGif(&f);
}

void TKorvaneMIO::SaveToFileTIFF(const std::string& name) {
  if (!view_ || view_->GetImageCount() == 0) return;
  TFileStream f(name, fmCreate);
  SaveToStreamTIFF(&f);
}

void TKorvaneMIO::LoadFromFile(const std::string& name) {
  std::string e = LowerExt(name);
  if (e == ".gif")
    LoadFromFileGif(name);
  else if (e == ".tif" || e == ".tiff")
    LoadFromFileTIFF(name);
  else if (e == ".avi")
    LoadFromFileAVI(name);
}

void TKorvaneMIO::SaveToFile(const std::string& name) {
  std::string e = LowerExt(name);
  if (e == ".gif")
    SaveToFileGif(name);
  else if (e == ".tif" || e == ".tiff")
    SaveToFileTIFF(name);
  else if (e == ".avi")
    SaveToFileAVI(name);
}

// ---------------------------------------------------------------------------
// AVI

void TKorvaneMIO::LoadFromFileAVI(const std::string& name) {
  if (!view_) return;
  Aborting = false;
  TKVAVIReader avi(name);
  const int delay = avi.DelayMs();
  const int64_t n = avi.Length();
  int index = std::max(view_->GetSelectedItem(), 0);
  const int first = index;
  view_->LockPaint();
  struct Unlock {
    TKorvaneMView* v;
    ~Unlock() {
      if (v) v->NPUnLockPaint();
    }
  } unlock{view_};
  HGLOBAL dib = nullptr;
  int bits = 24;
  for (int64_t i = 0; avi.NextFrameDIB(dib, bits); ++i, ++index) {
    view_->InsertImage(index);
    // The frame goes straight into the compact store without being lent out
    // (a lent frame would be copied back and forth for every frame that
    // follows); the last one is selected again at the end, as an insert
    // leaves it.
    view_->DeselectNU();
    try {
      view_->SetImageDIBNU(index, dib);
    } catch (...) {
      view_->DeleteImage(index);  // a frame the view cannot hold leaves no empty image
      throw;
    }
    view_->SetImageDelayTime(index, delay);
    if (TIOParamsVals* rec = GetParams(index)) {
      rec->GIF_DelayTime = delay;
      switch (bits) {
        case 1:
          rec->BitsPerSample = 1, rec->SamplesPerPixel = 1;
          break;
        case 4:
          rec->BitsPerSample = 4, rec->SamplesPerPixel = 1;
          break;
        case 8:
          rec->BitsPerSample = 8, rec->SamplesPerPixel = 1;
          break;
        case 15:
          rec->BitsPerSample = 5, rec->SamplesPerPixel = 3;
          break;
        default:
          rec->BitsPerSample = 8, rec->SamplesPerPixel = 3;
          break;
      }
      rec->GIF_ImageIndex = rec->TIFF_ImageIndex = index;
      InitScreenGlobals();
      rec->DpiX = gSystemDPIX;
      rec->DpiY = gSystemDPIY;
      rec->Width = view_->GetImageWidth(index);
      rec->Height = view_->GetImageHeight(index);
      rec->FileName = name;
      rec->FileType = ioUnknown;
      rec->FreeColorMap();
    }
    ImageDone(int(i), int(std::max<int64_t>(n, i + 1)));
    if (Aborting) break;
  }
  view_->NPUnLockPaint();
  unlock.v = nullptr;
  if (index > first) view_->SetSelectedItemNU(index - 1);
  Update();
}

void TKorvaneMIO::SaveToFileAVI(const std::string& name) {
  if (!view_ || view_->GetImageCount() == 0) return;
  Aborting = false;
  TKVAVICompressOptions opts = AVICompressor;
  if (opts.Encoder.empty()) {
    bool ok = OnAVISaveOptions ? OnAVISaveOptions(this, opts) : AVISaveOptions(view_, opts);
    if (!ok) return;
  }
  // Whole frames per second: at least one, so that slow first frames still
  // give a rate players accept.
  const int d = std::max(view_->GetImageDelayTime(0), 1);
  const int rate = std::max(1000 / d, 1);
  int refW = view_->GetImageWidth(0), refH = view_->GetImageHeight(0);
  if (refW <= 0 || refH <= 0) {
    // Image 0 may be absent until obtained.
    TBitmap* b = view_->GetBitmap(0);
    if (!b) return;
    refW = b->Width();
    refH = b->Height();
    view_->ReleaseBitmap(0);
  }
  TKVAVIWriter out(name, refW, refH, rate, opts);
  const int n = view_->GetImageCount();
  int source = 0;
  for (int i = 0; i < n; ++i) {
    // A frame of another size repeats the last frame of the first size.
    TBitmap* probe = nullptr;
    int iw = view_->GetImageWidth(i), ih = view_->GetImageHeight(i);
    if (iw == 0 || ih == 0) {
      probe = view_->GetBitmap(i);
      if (probe) iw = probe->Width(), ih = probe->Height();
      if (probe) view_->ReleaseBitmap(i);
    }
    if (iw == refW && ih == refH) source = i;
    HGLOBAL dib = view_->GetBitmapInfo(source);
    HGLOBAL temp = nullptr;
    if (!dib) {
      TBitmap* b = view_->GetBitmap(source);
      if (!b) continue;
      temp = dib = _CopyBitmaptoDIB(b, 0, 0, 0, 0);
      view_->ReleaseBitmap(source);
    }
    struct FreeTemp {
      HGLOBAL h;
      ~FreeTemp() {
        if (h) GlobalFree(h);
      }
    } freeTemp{temp};
    {
      TGlobalLock lock(dib);
      if (!lock.Data()) continue;
      out.WriteDIB(lock.Data(), lock.Size());
    }
    ImageDone(i, n);
    if (Aborting) break;
  }
  out.Close();
}

}  // namespace korvane
