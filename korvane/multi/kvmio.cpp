// TKorvaneMIO: the parameters list, GIF and TIFF multi-image load and save.
#include "korvane/multi/kvmio.h"

#include <cctype>
#include <optional>
#include <string>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/safe_save.h"
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
    SyncParams();
  }
}

void TKorvaneMIO::SyncParams() {
  if (!view_) return;
  const int n = view_->GetImageCount();
  while (GetParamsCount() > n) params_.pop_back();
  while (GetParamsCount() < n) InsertIOParam(GetParamsCount());
  Renumber();
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

namespace {

// Borrows image idx of the view for a save. A picture the view loads on
// demand (from its file or through OnImageIDRequest) that was not in memory
// before is dropped again when the loan ends, as painting drops it when its
// cell leaves the window: a save of a file-backed view holds one such picture
// at a time instead of all of them.
class TSaveLoan {
 public:
  TSaveLoan(TKorvaneMView* v, int idx) : v_(v), idx_(idx) {
    const PKVImageInfo info = v->GetImageInfo(idx);
    drop_ =
        info && (info->ID != -1 || !info->FileName.empty()) && !info->DIBHandle && v->GetImageWidth(idx) == 0;
    bmp_ = v->GetBitmap(idx);
  }
  ~TSaveLoan() { End(); }
  TSaveLoan(const TSaveLoan&) = delete;
  TSaveLoan& operator=(const TSaveLoan&) = delete;
  TBitmap* Bitmap() const { return bmp_; }
  // The bitmap, or EInvalidGraphic when the view has no picture for it: a
  // file would be written with a frame missing.
  TBitmap* Required() const {
    if (!bmp_) throw EInvalidGraphic("image " + std::to_string(idx_) + " of the view has no picture to save");
    return bmp_;
  }
  void End() {
    if (bmp_) v_->ReleaseBitmap(idx_);
    bmp_ = nullptr;
    const PKVImageInfo info = v_->GetImageInfo(idx_);
    if (drop_ && info && idx_ != v_->GetSelectedItem() && info->BmpCount == 0) v_->FreeImage(idx_);
    drop_ = false;
  }

 private:
  TKorvaneMView* v_;
  int idx_;
  bool drop_ = false;
  TBitmap* bmp_ = nullptr;
};

}  // namespace

void TKorvaneMIO::LoadMulti(TStream* stream, Multi kind) {
  if (!view_ || !stream) return;
  Aborting = false;
  SyncParams();
  // The frames are found in one walk over the stream and read from there.
  std::unique_ptr<TGifFrameIndex> gif;
  std::unique_ptr<TTIFFPageIndex> tiff;
  if (kind == Multi::Gif) {
    gif = std::make_unique<TGifFrameIndex>(stream);
    // The view composes the frames by their transparent color.
    gif->KeyTransparent = true;
  } else {
    tiff = std::make_unique<TTIFFPageIndex>(stream);
  }
  const int32_t n = gif ? gif->Count() : tiff->Count();
  int index = std::max(view_->GetSelectedItem(), 0);
  const int first = index;
  int lastDelay = 10;
  for (int i = 0; i < n && !Aborting; ++i, ++index) {
    view_->InsertImage(index);
    // The frame goes straight into the compact store rather than being lent
    // out (a lent frame is copied back when the next one is inserted); the
    // last frame is selected again at the end, as an insert leaves it.
    view_->DeselectNU();
    TIOParamsVals* rec = GetParams(index);
    TBitmap bmp;
    TProgressRec pr = MakeProgress();
    try {
      if (!rec) throw EInvalidGraphic("the parameters list does not follow the view");
      if (gif)
        gif->Read(i, &bmp, *rec, pr);
      else
        tiff->Read(i, &bmp, false, pr, *rec);
    } catch (...) {
      view_->DeleteImage(index);
      if (view_->GetSelectedItem() < 0 && view_->GetImageCount() > 0)
        view_->SetSelectedItemNU(std::min(index, view_->GetImageCount() - 1));
      throw;
    }
    rec->GIF_ImageIndex = rec->TIFF_ImageIndex = index;
    rec->FileType = gif ? ioGIF : ioTIFF;
    rec->FileName.clear();
    if (bmp.Empty()) {
      view_->DeleteImageNU(index);
      --index;
    } else {
      view_->SetImageNU(index, &bmp);
      if (gif) {
        view_->SetImageBackground(index, TRGB2TColor(rec->GIF_Background));
        // A frame without a delay keeps the previous frame's.
        int d = lastDelay;
        if (rec->GIF_DelayTime >= 1) d = lastDelay = rec->GIF_DelayTime * 10;
        view_->SetImageDelayTime(index, d);
        // What playing needs to draw the frame on the logical screen; a
        // header without a screen size takes the first frame's extent.
        TKVFrameLayout l;
        l.Valid = true;
        l.First = i == 0;
        l.X = rec->GIF_XPos;
        l.Y = rec->GIF_YPos;
        l.ScreenWidth = rec->GIF_WinWidth > 0 ? rec->GIF_WinWidth : l.X + bmp.Width();
        l.ScreenHeight = rec->GIF_WinHeight > 0 ? rec->GIF_WinHeight : l.Y + bmp.Height();
        l.Disposal = rec->GIF_Disposal;
        l.Transparent = rec->GIF_FlagTranspColor;
        l.TranspColor = rec->GIF_TranspColor;
        view_->SetImageLayout(index, l);
      } else {
        view_->SetImageDelayTime(index, 100);
      }
    }
    ImageDone(i, n);
  }
  if (index > first)
    view_->SetSelectedItemNU(index - 1);
  else if (view_->GetSelectedItem() < 0 && view_->GetImageCount() > 0)
    view_->SetSelectedItemNU(std::min(first, view_->GetImageCount() - 1));
  Update();
}

void TKorvaneMIO::SaveMulti(TStream* stream, Multi kind) {
  if (!view_ || !stream || view_->GetImageCount() == 0) return;
  Aborting = false;
  SyncParams();
  const int n = view_->GetImageCount();
  // Each frame is written once, after the ones before it.
  std::unique_ptr<TGifFrameWriter> gif;
  std::unique_ptr<TTIFFPageWriter> tiff;
  if (kind == Multi::Gif)
    gif = std::make_unique<TGifFrameWriter>(stream);
  else
    tiff = std::make_unique<TTIFFPageWriter>(stream);
  for (int i = 0; i < n; ++i) {
    TIOParamsVals* rec = GetParams(i);
    TSaveLoan loan(view_, i);
    TBitmap* bmp = loan.Required();
    TProgressRec pr = MakeProgress();
    bool written;
    if (gif) {
      // Frames that came from a video keep their delay in milliseconds;
      // GIF counts hundredths of a second.
      struct DelayFix {
        TIOParamsVals* r;
        int32_t saved;
        ~DelayFix() { r->GIF_DelayTime = saved; }
      } fix{rec, rec->GIF_DelayTime};
      if (rec->FileType == ioUnknown && LowerExt(rec->FileName) == ".avi")
        rec->GIF_DelayTime = (rec->GIF_DelayTime + 5) / 10;
      written = gif->Add(bmp, *rec, pr);
    } else {
      written = tiff->Add(bmp, *rec, pr);
    }
    if (!written) break;
    loan.End();
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

// The file saves write through a side file that replaces the file only when
// every image was written: a failure or an abort part-way leaves the old
// file as it was.
void TKorvaneMIO::SaveToFileGif(const std::string& name) {
  if (!view_ || view_->GetImageCount() == 0) return;
  KVSafeSave(
      name, [this](TStream* s) { SaveToStreamGif(s); }, &Aborting);
}

void TKorvaneMIO::SaveToFileTIFF(const std::string& name) {
  if (!view_ || view_->GetImageCount() == 0) return;
  KVSafeSave(
      name, [this](TStream* s) { SaveToStreamTIFF(s); }, &Aborting);
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
  // Image 0 sets the frame size (loaded, and dropped again, when it is not
  // in memory).
  int refW = view_->GetImageWidth(0), refH = view_->GetImageHeight(0);
  if (refW <= 0 || refH <= 0) {
    TSaveLoan loan(view_, 0);
    refW = loan.Required()->Width();
    refH = loan.Required()->Height();
  }
  // The frames go to a side file that replaces the file when complete.
  TSafeFileSave file(name);
  TKVAVIWriter out(file.Stream(), refW, refH, rate, opts);
  const int n = view_->GetImageCount();
  int source = 0;
  for (int i = 0; i < n; ++i) {
    // A frame of another size repeats the last frame of the first size.
    std::optional<TSaveLoan> loan;
    int iw = view_->GetImageWidth(i), ih = view_->GetImageHeight(i);
    if (iw <= 0 || ih <= 0) {
      loan.emplace(view_, i);
      iw = loan->Required()->Width();
      ih = loan->Required()->Height();
    }
    if (iw == refW && ih == refH) {
      source = i;
    } else {
      loan.reset();
    }
    // The compact picture when the view holds one, else a copy of the bitmap.
    HGLOBAL dib = loan ? nullptr : view_->GetBitmapInfo(source);
    HGLOBAL temp = nullptr;
    if (!dib) {
      if (!loan) loan.emplace(view_, source);
      temp = dib = _CopyBitmaptoDIB(loan->Required(), 0, 0, 0, 0);
    }
    struct FreeTemp {
      HGLOBAL h;
      ~FreeTemp() {
        if (h) GlobalFree(h);
      }
    } freeTemp{temp};
    {
      TGlobalLock lock(dib);
      if (!lock.Data()) throw EInvalidGraphic("unable to create AVI file");
      out.WriteDIB(lock.Data(), lock.Size());
    }
    ImageDone(i, n);
    if (Aborting) return;
  }
  out.Close();
  file.Commit();
}

}  // namespace korvane
