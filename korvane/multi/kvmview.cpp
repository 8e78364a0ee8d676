// TKorvaneMView: the two lists, the compact store and the loan protocol,
// on-demand loading, selection.
#include "korvane/multi/kvmview.h"

#include <algorithm>
#include <cstring>

#include "korvane/foundations/host/halftone.h"
#include "korvane/io/kvio.h"
#include "korvane/proc/kvproc.h"

namespace korvane {

void KVFitSize(int w, int h, int W, int H, int& ow, int& oh) {
  if (w == 0 || h == 0) return;
  double s = std::min(double(W) / w, double(H) / h);
  ow = int(w * s);
  oh = int(h * s);
}

namespace {

// Width and height of a compact block from its 40-byte header; false when the
// block holds no header.
bool CompactSize(HGLOBAL h, int& w, int& ht) {
  TGlobalLock lock(h);
  if (!lock.Data() || lock.Size() < sizeof(TBitmapInfoHeader)) return false;
  TBitmapInfoHeader hdr;
  std::memcpy(&hdr, lock.Data(), sizeof hdr);
  w = hdr.biWidth;
  ht = hdr.biHeight < 0 ? -hdr.biHeight : hdr.biHeight;
  return true;
}

}  // namespace

TKorvaneMView::TKorvaneMView(TComponent* AOwner, QWidget* parent) : TKVView(AOwner, parent) {
  mouse_interact_ = TKVMMouseInteract{mmiSelect};
  key_interact_ = TKVMKeyInteract{mkiMoveSelected};
  // Cells and gaps cover every pixel: nothing to erase before Paint.
  SetOpaque(true);
  SetTabStop(true);
  loader_ = new TKorvaneIO(this);
  resize(180, 90);
}

TKorvaneMView::~TKorvaneMView() {
  KillTimer(kPlayTimer);
  DeselectNU();
  while (!infos_.empty()) DeleteImageNU(0);
}

// ---------------------------------------------------------------------------
// List and content

PKVImageInfo TKorvaneMView::GetImageInfo(int idx) const { return InRange(idx) ? infos_[idx].get() : nullptr; }

void TKorvaneMView::InsertImage(int idx) {
  SetPlaying(false);
  auto info = std::make_unique<TKVImageInfo>();
  info->Background = GetBackground();
  int at = idx < GetImageCount() ? idx : GetImageCount();
  infos_.insert(infos_.begin() + at, std::move(info));
  bitmaps_.insert(bitmaps_.begin() + at, nullptr);
  // The selection's index moves with the images behind the new one; the new
  // image is selected (the old one is released at its new index).
  if (selected_ >= at) ++selected_;
  SetSelectedItemNU(at);
  last_op_ = 1;
  last_op_idx_ = selected_;
  CallBitmapChangeEvents();
  Update();
}

int TKorvaneMView::AppendImage() {
  InsertImage(GetImageCount());
  return GetImageCount() - 1;
}

bool TKorvaneMView::DeleteImageNU(int idx) {
  SetPlaying(false);
  if (idx < 0 || idx >= GetImageCount()) return false;
  int oldSel = selected_;
  DeselectNU();
  FreeImage(idx);
  infos_.erase(infos_.begin() + idx);
  bitmaps_.erase(bitmaps_.begin() + idx);
  int n = GetImageCount();
  int sel = oldSel;
  if (oldSel != idx || idx < n) {
    if (oldSel > idx) --sel;
  } else {
    sel = n - 1;  // the selected last image went: the new last one
  }
  if (sel >= 0 && sel < n) SetSelectedItemNU(sel);
  last_op_ = 2;
  last_op_idx_ = idx;
  CallBitmapChangeEvents();
  return true;
}

void TKorvaneMView::DeleteImage(int idx) {
  DeleteImageNU(idx);
  Update();
}

void TKorvaneMView::Clear() {
  DeselectNU();
  while (!infos_.empty()) DeleteImageNU(0);
  Update();
}

void TKorvaneMView::StoreCompact(int idx, HGLOBAL h) {
  FreeImage(idx);
  infos_[idx]->DIBHandle = h;
}

void TKorvaneMView::SetImageNU(int idx, TBitmap* Bitmap) {
  if (!InRange(idx) || !Bitmap) return;
  // The compact copy is made before the old picture is freed: the bitmap
  // given may be this image's own lent bitmap.
  HGLOBAL h = nullptr;
  if (store_type_ == kvtThumb && !Bitmap->Empty()) {
    int w = Bitmap->Width(), ht = Bitmap->Height();
    KVFitSize(Bitmap->Width(), Bitmap->Height(), thumb_w_, thumb_h_, w, ht);
    TBitmap thumb;
    thumb.Allocate(std::max(w, 1), std::max(ht, 1), Bitmap->PixelFormat() == pf1bit ? pf1bit : pf24bit);
    HalftoneStretch(&thumb, Bitmap);
    h = _CopyBitmaptoDIB(&thumb, 0, 0, 0, 0);
  } else {
    h = _CopyBitmaptoDIB(Bitmap, 0, 0, 0, 0);
  }
  StoreCompact(idx, h);
  Update();
}

void TKorvaneMView::SetImage(int idx, TBitmap* Bitmap) {
  if (!InRange(idx)) return;
  SetImageNU(idx, Bitmap);
  if (idx == selected_) GetBitmap(idx);
  Update();
}

void TKorvaneMView::SetImageRect(int idx, TBitmap* Bitmap, int x1, int y1, int x2, int y2) {
  if (!InRange(idx) || !Bitmap || Bitmap->Empty()) return;
  x1 = std::min(x1, Bitmap->Width() - 1);
  x2 = std::min(x2, Bitmap->Width() - 1);
  y1 = std::min(y1, Bitmap->Height() - 1);
  y2 = std::min(y2, Bitmap->Height() - 1);
  StoreCompact(idx, _CopyBitmaptoDIB(Bitmap, x1, y1, x2, y2));
  if (idx == selected_) GetBitmap(idx);
  Update();
}

void TKorvaneMView::SetImageDIBNU(int idx, HGLOBAL Dib) {
  if (!Dib) return;
  if (!InRange(idx)) {
    GlobalFree(Dib);
    return;
  }
  try {
    TDIBInfo info;
    {
      TGlobalLock lock(Dib);
      info = ParsePackedDIB(lock.Data(), lock.Size());
    }
    if (info.Compression != 0 || (info.BitCount != 24 && info.BitCount != 1) || info.TopDown) {
      TBitmap b;
      _CopyDIB2Bitmap(Dib, &b);
      GlobalFree(Dib);
      Dib = _CopyBitmaptoDIB(&b, 0, 0, 0, 0);
    }
  } catch (...) {
    GlobalFree(Dib);
    throw;
  }
  StoreCompact(idx, Dib);
  if (idx == selected_) GetBitmap(idx);
}

void TKorvaneMView::SetImageFileName(int idx, const std::string& name) {
  if (!InRange(idx)) return;
  infos_[idx]->FileName = name;
  infos_[idx]->ID = -1;
}

std::string TKorvaneMView::GetImageFileName(int idx) const {
  return InRange(idx) ? infos_[idx]->FileName : std::string();
}

void TKorvaneMView::SetImageID(int idx, int id) {
  if (!InRange(idx)) return;
  infos_[idx]->ID = id;
  infos_[idx]->FileName.clear();
}

int TKorvaneMView::GetImageID(int idx) const { return InRange(idx) ? infos_[idx]->ID : -1; }

void TKorvaneMView::SetImageBackground(int idx, TColor c) {
  if (!InRange(idx)) return;
  infos_[idx]->Background = c;
  Update();
}

TColor TKorvaneMView::GetImageBackground(int idx) const { return InRange(idx) ? infos_[idx]->Background : 0; }

void TKorvaneMView::SetImageDelayTime(int idx, int ms) {
  if (InRange(idx)) infos_[idx]->DelayTime = ms;
}

int TKorvaneMView::GetImageDelayTime(int idx) const { return InRange(idx) ? infos_[idx]->DelayTime : 0; }

int TKorvaneMView::GetImageWidth(int idx) const {
  if (!InRange(idx)) return 0;
  if (bitmaps_[idx]) return bitmaps_[idx]->Width();
  int w = 0, h = 0;
  if (infos_[idx]->DIBHandle) CompactSize(infos_[idx]->DIBHandle, w, h);
  return w;
}

int TKorvaneMView::GetImageHeight(int idx) const {
  if (!InRange(idx)) return 0;
  if (bitmaps_[idx]) return bitmaps_[idx]->Height();
  int w = 0, h = 0;
  if (infos_[idx]->DIBHandle) CompactSize(infos_[idx]->DIBHandle, w, h);
  return h;
}

int TKorvaneMView::GetImageX(int idx) const { return InRange(idx) ? infos_[idx]->X : 0; }
int TKorvaneMView::GetImageY(int idx) const { return InRange(idx) ? infos_[idx]->Y : 0; }
int TKorvaneMView::GetImageRow(int idx) const { return InRange(idx) ? infos_[idx]->Row : 0; }
int TKorvaneMView::GetImageCol(int idx) const { return InRange(idx) ? infos_[idx]->Col : 0; }
HGLOBAL TKorvaneMView::GetBitmapInfo(int idx) const {
  return InRange(idx) ? infos_[idx]->DIBHandle : nullptr;
}

// ---------------------------------------------------------------------------
// Loans

TBitmap* TKorvaneMView::GetBitmap(int idx) {
  if (!InRange(idx)) return nullptr;
  TKVImageInfo& info = *infos_[idx];
  if (info.BmpCount++ > 0 && bitmaps_[idx]) return bitmaps_[idx].get();
  if (!bitmaps_[idx] && !info.DIBHandle) ObtainImage(idx);
  if (!bitmaps_[idx] && !info.DIBHandle) {
    info.BmpCount = 0;
    return nullptr;
  }
  if (!bitmaps_[idx]) {
    auto bmp = std::make_unique<TBitmap>();
    try {
      _CopyDIB2Bitmap(info.DIBHandle, bmp.get());
    } catch (...) {
      info.BmpCount = 0;
      throw;
    }
    GlobalFree(info.DIBHandle);
    info.DIBHandle = nullptr;
    bitmaps_[idx] = std::move(bmp);
  }
  return bitmaps_[idx].get();
}

void TKorvaneMView::DecBmpCount(int idx) {
  if (!InRange(idx)) return;
  TKVImageInfo& info = *infos_[idx];
  if (info.BmpCount > 0) --info.BmpCount;
  if (info.BmpCount == 0 && bitmaps_[idx]) {
    HGLOBAL h = _CopyBitmaptoDIB(bitmaps_[idx].get(), 0, 0, 0, 0);
    if (info.DIBHandle) GlobalFree(info.DIBHandle);
    info.DIBHandle = h;
    bitmaps_[idx].reset();
  }
}

void TKorvaneMView::FreeImage(int idx) {
  if (!InRange(idx)) return;
  TKVImageInfo& info = *infos_[idx];
  bitmaps_[idx].reset();
  if (info.DIBHandle) GlobalFree(info.DIBHandle);
  info.DIBHandle = nullptr;
  info.BmpCount = 0;
}

void TKorvaneMView::ObtainImage(int idx) {
  if (!InRange(idx)) return;
  TKVImageInfo& info = *infos_[idx];
  if (info.ID >= 0 && OnImageIDRequest) {
    TBitmap* bmp = nullptr;
    OnImageIDRequest(this, info.ID, bmp);
    // A handler that gives no bitmap leaves the image absent.
    if (bmp && !bmp->Empty()) SetImageNU(idx, bmp);
  } else if (!info.FileName.empty()) {
    TBitmap bmp;
    loader_->SetBackground(info.Background);
    loader_->SetAttachedBitmap(&bmp);
    loader_->OnProgress = OnIOProgress;
    TIOParamsVals* p = loader_->Params();
    if (store_type_ == kvtThumb) {
      p->JPEG_Scale = ioJPEG_AUTOCALC;
      p->Width = thumb_w_;
      p->Height = thumb_h_;
    } else {
      p->JPEG_Scale = ioJPEG_FULLSIZE;
    }
    struct Detach {
      TKorvaneIO* io;
      ~Detach() { io->SetAttachedBitmap(nullptr); }
    } detach{loader_};
    loader_->LoadFromFile(info.FileName);
    info.Background = loader_->GetBackground();
    if (!bmp.Empty()) SetImageNU(idx, &bmp);
  }
}

void TKorvaneMView::UpdateImage(int idx) {
  (void)idx;
  // The host repaints the whole client area from the cells; one Update does.
  Update();
}

// ---------------------------------------------------------------------------
// Selection

void TKorvaneMView::SetSelectedItem(int idx) {
  if (playing_) return;
  SetSelectedItemNU(idx);
  if (OnImageSelect) OnImageSelect(this, selected_);
  Update();
}

void TKorvaneMView::SetSelectedItemNU(int idx) {
  if (playing_ || !InRange(idx)) return;
  if (selected_ >= 0) ReleaseBitmap(selected_);
  selected_ = idx;
  GetBitmap(idx);
}

void TKorvaneMView::DeselectNU() {
  if (selected_ >= 0) ReleaseBitmap(selected_);
  selected_ = -1;
}

void TKorvaneMView::Deselect() {
  DeselectNU();
  Update();
}

TBitmap* TKorvaneMView::GetFBitmap() {
  if (!InRange(selected_)) return nullptr;
  return bitmaps_[selected_].get();
}

void TKorvaneMView::SetVisibleSelection(bool v) {
  visible_selection_ = v;
  Update();
}

void TKorvaneMView::SetSelectionWidth(int w) {
  selection_width_ = w;
  Update();
}

void TKorvaneMView::SetSelectionColor(TColor c) {
  selection_color_ = c;
  Update();
}

int TKorvaneMView::GetLastOp() {
  int op = last_op_;
  last_op_ = 0;
  return op;
}

}  // namespace korvane
