// TKorvaneMView: the two lists, the compact store and the loan protocol,
// on-demand loading (on worker threads when asked), selection.
#include "korvane/multi/kvmview.h"

#include <unistd.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <filesystem>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/kvio.h"
#include "korvane/multi/thumb_decoder.h"
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

// Half the physical memory: what the compact store may hold by default.
int64_t DefaultStoreLimit() {
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page <= 0) return int64_t(4) << 30;
  return int64_t(pages) * page / 2;
}

}  // namespace

TKorvaneMView::TKorvaneMView(TComponent* AOwner, QWidget* parent) : TKVView(AOwner, parent) {
  store_limit_ = DefaultStoreLimit();
  mouse_interact_ = TKVMMouseInteract{mmiSelect};
  key_interact_ = TKVMKeyInteract{mkiMoveSelected};
  // Cells and gaps cover every pixel: nothing to erase before Paint.
  SetOpaque(true);
  SetTabStop(true);
  loader_ = new TKorvaneIO(this);
  resize(180, 90);
}

TKorvaneMView::~TKorvaneMView() {
  // Marked first: from here on nothing plays, selects, loads or fires an
  // event (the form around the view may be half gone), and attached
  // components have let go of the view.
  BeginDestroy();
  // Running decodes end before the lists go; their pictures are dropped.
  decoder_.reset();
  decodes_pending_ = 0;
  if (decodes_settled_) decodes_settled_();
  KillTimer(kPlayTimer);
  timer_ms_ = 0;
  playing_ = false;
  selected_ = -1;
  sel_loan_ = false;
  bitmaps_.clear();
  for (auto& info : infos_) DropBlock(*info);
  infos_.clear();
}

// ---------------------------------------------------------------------------
// List and content

PKVImageInfo TKorvaneMView::GetImageInfo(int idx) const { return InRange(idx) ? infos_[idx].get() : nullptr; }

void TKorvaneMView::InsertImage(int idx) {
  if (idx < 0) throw EListError(idx);
  SetPlaying(false);
  Recompose();
  auto info = std::make_unique<TKVImageInfo>();
  info->Background = GetBackground();
  int at = idx < GetImageCount() ? idx : GetImageCount();
  infos_.insert(infos_.begin() + at, std::move(info));
  bitmaps_.insert(bitmaps_.begin() + at, nullptr);
  // The selection's index moves with the images behind the new one; the new
  // image is selected (the old one is released at its new index). The new
  // image has no picture, so nothing is loaded.
  if (selected_ >= at) ++selected_;
  Select(at);
  last_op_ = 1;
  last_op_idx_ = selected_;
  NotifyBitmap();
  Update();
}

int TKorvaneMView::AppendImage() {
  InsertImage(GetImageCount());
  return GetImageCount() - 1;
}

bool TKorvaneMView::DeleteImageNU(int idx) {
  SetPlaying(false);
  if (idx < 0 || idx >= GetImageCount()) return false;
  Recompose();
  int oldSel = selected_;
  // One notification, once the list change is recorded.
  Quiet quiet{quiet_};
  ReleaseSelection();
  selected_ = -1;
  bitmaps_[idx].reset();
  DropBlock(*infos_[idx]);
  ForgetDecode(*infos_[idx]);
  infos_.erase(infos_.begin() + idx);
  bitmaps_.erase(bitmaps_.begin() + idx);
  int n = GetImageCount();
  int sel = oldSel;
  if (oldSel != idx || idx < n) {
    if (oldSel > idx) --sel;
  } else {
    sel = n - 1;  // the selected last image went: the new last one
  }
  if (sel >= 0 && sel < n) {
    // The deletion stands whatever happens to the new selection: a picture
    // that cannot be loaded leaves it selected without a bitmap (its cell
    // paints as absent), and the listeners still hear of the deletion.
    try {
      Select(sel);
    } catch (const std::exception&) {
    }
  }
  last_op_ = 2;
  last_op_idx_ = idx;
  quiet.Leave();
  NotifyBitmap();
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

void TKorvaneMView::TakeBlock(TKVImageInfo& info, HGLOBAL h) {
  info.DIBHandle = h;
  if (h) store_bytes_ += int64_t(GlobalSize(h));
}

void TKorvaneMView::DropBlock(TKVImageInfo& info) {
  if (!info.DIBHandle) return;
  store_bytes_ -= int64_t(GlobalSize(info.DIBHandle));
  GlobalFree(info.DIBHandle);
  info.DIBHandle = nullptr;
}

HGLOBAL TKorvaneMView::CompactCopy(TBitmap* Bitmap) {
  if (store_type_ != kvtThumb || Bitmap->Empty()) return _CopyBitmaptoDIB(Bitmap, 0, 0, 0, 0);
  TBitmap thumb;
  KVThumbnail(Bitmap, thumb_w_, thumb_h_, &thumb);
  return _CopyBitmaptoDIB(&thumb, 0, 0, 0, 0);
}

void TKorvaneMView::StorePicture(int idx, HGLOBAL h) {
  Recompose();
  TKVImageInfo& info = *infos_[idx];
  // A picture given another way makes a decode under way pointless.
  ForgetDecode(info);
  info.DecodeFailed = false;
  const int64_t add = h ? int64_t(GlobalSize(h)) : 0;
  const int64_t drop = info.DIBHandle ? int64_t(GlobalSize(info.DIBHandle)) : 0;
  if (store_limit_ > 0 && add > 0 && store_bytes_ - drop + add > store_limit_) {
    GlobalFree(h);
    throw EOutOfResources("The images need more memory than the multi-image view may hold (" +
                          std::to_string(store_limit_ >> 20) + " MiB)");
  }
  if (TBitmap* lent = bitmaps_[idx].get()) {
    // Borrowers keep their bitmap object: it takes the new picture.
    struct Free {
      HGLOBAL h;
      ~Free() {
        if (h) GlobalFree(h);
      }
    } free{h};
    if (h)
      _CopyDIB2Bitmap(h, lent);
    else
      lent->SetSize(0, 0);
    return;
  }
  DropBlock(info);
  TakeBlock(info, h);
}

void TKorvaneMView::SetImageNU(int idx, TBitmap* Bitmap) {
  if (!InRange(idx) || !Bitmap) return;
  // The compact copy is made before the old picture goes: the bitmap given
  // may be this image's own lent bitmap.
  StorePicture(idx, CompactCopy(Bitmap));
  Update();
}

void TKorvaneMView::SetImage(int idx, TBitmap* Bitmap) {
  if (!InRange(idx)) return;
  SetImageNU(idx, Bitmap);
  if (idx == selected_ && !sel_loan_) LendSelection();
  Update();
}

void TKorvaneMView::SetImageRect(int idx, TBitmap* Bitmap, int x1, int y1, int x2, int y2) {
  if (!InRange(idx) || !Bitmap || Bitmap->Empty()) return;
  x1 = std::min(x1, Bitmap->Width() - 1);
  x2 = std::min(x2, Bitmap->Width() - 1);
  y1 = std::min(y1, Bitmap->Height() - 1);
  y2 = std::min(y2, Bitmap->Height() - 1);
  StorePicture(idx, _CopyBitmaptoDIB(Bitmap, x1, y1, x2, y2));
  if (idx == selected_ && !sel_loan_) LendSelection();
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
    // Frames are reduced like any other picture when thumbnails are stored:
    // a long video held at full size would exhaust the memory.
    if (store_type_ == kvtThumb || info.Compression != 0 || (info.BitCount != 24 && info.BitCount != 1) ||
        info.TopDown) {
      TBitmap b;
      _CopyDIB2Bitmap(Dib, &b);
      GlobalFree(Dib);
      Dib = nullptr;
      Dib = CompactCopy(&b);
    }
  } catch (...) {
    if (Dib) GlobalFree(Dib);
    throw;
  }
  StorePicture(idx, Dib);
  if (idx != selected_) return;
  if (!sel_loan_) LendSelection();
  // The selection's picture changed without a repaint: tell the listeners.
  NotifyBitmap();
}

void TKorvaneMView::SetImageFileName(int idx, const std::string& name) {
  if (!InRange(idx)) return;
  ForgetDecode(*infos_[idx]);
  infos_[idx]->DecodeFailed = false;
  infos_[idx]->FileName = name;
  infos_[idx]->ID = -1;
}

std::string TKorvaneMView::GetImageFileName(int idx) const {
  return InRange(idx) ? infos_[idx]->FileName : std::string();
}

void TKorvaneMView::SetImageID(int idx, int id) {
  if (!InRange(idx)) return;
  ForgetDecode(*infos_[idx]);
  infos_[idx]->DecodeFailed = false;
  infos_[idx]->ID = id;
  infos_[idx]->FileName.clear();
}

int TKorvaneMView::GetImageID(int idx) const { return InRange(idx) ? infos_[idx]->ID : -1; }

void TKorvaneMView::SetImageBackground(int idx, TColor c) {
  if (!InRange(idx)) return;
  infos_[idx]->Background = c;
  Recompose();
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
  if (!bitmaps_[idx]) {
    // The count is raised only once the bitmap exists: obtaining the picture
    // stores it, and a load that fails leaves the image as it was.
    if (!info.DIBHandle) ObtainImage(idx);
    if (!bitmaps_[idx]) {
      if (!info.DIBHandle) return nullptr;
      auto bmp = std::make_unique<TBitmap>();
      _CopyDIB2Bitmap(info.DIBHandle, bmp.get());
      DropBlock(info);
      bitmaps_[idx] = std::move(bmp);
      info.BmpCount = 0;
    }
  }
  ++info.BmpCount;
  if (idx == selected_) NotifyIfSwapped();
  return bitmaps_[idx].get();
}

void TKorvaneMView::DecBmpCount(int idx) {
  if (!InRange(idx)) return;
  TKVImageInfo& info = *infos_[idx];
  if (info.BmpCount > 0) --info.BmpCount;
  if (info.BmpCount == 0 && bitmaps_[idx]) {
    Recompose();  // the borrower may have changed the picture
    HGLOBAL h = _CopyBitmaptoDIB(bitmaps_[idx].get(), 0, 0, 0, 0);
    DropBlock(info);
    TakeBlock(info, h);
    bitmaps_[idx].reset();
    if (idx == selected_) {
      sel_loan_ = false;
      NotifyIfSwapped();
    }
  }
}

void TKorvaneMView::FreeImage(int idx) {
  if (!InRange(idx)) return;
  TKVImageInfo& info = *infos_[idx];
  bitmaps_[idx].reset();
  DropBlock(info);
  info.BmpCount = 0;
  info.DecodeFailed = false;  // the next paint tries the file again
  if (idx == selected_) {
    sel_loan_ = false;
    NotifyIfSwapped();
  }
}

void TKorvaneMView::ObtainImage(int idx) {
  if (!InRange(idx) || Destroying()) return;
  TKVImageInfo& info = *infos_[idx];
  // Painting draws the picture at once: no Update (and repaint) for it.
  auto stored = [&](TBitmap* bmp) {
    StorePicture(idx, CompactCopy(bmp));
    if (!painting_) Update();
  };
  if (info.ID >= 0 && OnImageIDRequest) {
    TBitmap* bmp = nullptr;
    OnImageIDRequest(this, info.ID, bmp);
    // A handler that gives no bitmap leaves the image absent.
    if (bmp && !bmp->Empty() && InRange(idx)) stored(bmp);
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
    if (!bmp.Empty()) stored(&bmp);
  }
}

// ---------------------------------------------------------------------------
// Decoding on worker threads
//
// A cell's file is decoded by KVDecodeFile on one of the decoder's threads;
// the request carries copies of everything the decode reads. The finished
// picture comes back through the decoder's queue, and a queued call on this
// thread stores it (the movable-block table and the widget are this thread's
// alone). A request is named by a ticket kept in the image's record: a
// result whose ticket no record holds any more is dropped, so pictures of
// images deleted, renamed, given another picture or scrolled away never land.

void TKorvaneMView::SetDecodeThreads(int n) {
  n = std::max(n, 0);
  if (n == decode_threads_) return;
  decode_threads_ = n;
  if (n == 0) {
    for (auto& info : infos_) ForgetDecode(*info);
    decoder_.reset();
  } else {
    if (!decoder_) decoder_ = std::make_unique<TKVThumbDecoder>(this, [this] { DeliverDecodes(); });
    decoder_->SetThreads(n);
  }
  Invalidate();
}

bool TKorvaneMView::DecodesAway(const TKVImageInfo& info) const {
  if (!decoder_ || display_mode_ != mdGrid || playing_ || info.FileName.empty()) return false;
  // Metafiles are drawn with fonts, which Qt renders on its GUI thread only.
  std::string e = std::filesystem::path(info.FileName).extension().string();
  for (char& c : e) c = char(std::tolower(static_cast<unsigned char>(c)));
  return e != ".wmf" && e != ".emf";
}

void TKorvaneMView::RequestDecode(TKVImageInfo& info) {
  TKVDecodeRequest r;
  r.Ticket = ++last_ticket_;
  r.FileName = info.FileName;
  r.Background = info.Background;
  r.AutoOrient = loader_->AutoOrient;
  r.Params = std::make_shared<TIOParamsVals>();
  r.Params->Assign(loader_->Params());
  // As ObtainImage asks the loader.
  if (store_type_ == kvtThumb) {
    r.Params->JPEG_Scale = ioJPEG_AUTOCALC;
    r.Params->Width = thumb_w_;
    r.Params->Height = thumb_h_;
    r.Thumb = true;
    r.ThumbW = thumb_w_;
    r.ThumbH = thumb_h_;
  } else {
    r.Params->JPEG_Scale = ioJPEG_FULLSIZE;
  }
  info.DecodeTicket = r.Ticket;
  ++decodes_pending_;
  decoder_->Request(std::move(r));
}

void TKorvaneMView::ForgetDecode(TKVImageInfo& info) {
  if (!info.DecodeTicket) return;
  if (decoder_) decoder_->Cancel(info.DecodeTicket);
  info.DecodeTicket = 0;
  if (--decodes_pending_ == 0 && decodes_settled_) decodes_settled_();
}

void TKorvaneMView::DeliverDecodes() {
  if (!decoder_ || Destroying()) return;
  bool arrived = false;
  for (TKVDecodeResult& r : decoder_->TakeResults()) {
    auto it = std::find_if(infos_.begin(), infos_.end(), [&](const std::unique_ptr<TKVImageInfo>& i) {
      return i->DecodeTicket == r.Ticket;
    });
    if (it == infos_.end()) continue;
    const int idx = int(it - infos_.begin());
    TKVImageInfo& info = **it;
    info.DecodeTicket = 0;
    --decodes_pending_;
    arrived = true;
    if (!r.Bitmap) {
      info.DecodeFailed = true;
      continue;
    }
    info.Background = r.Background;
    try {
      // The worker reduced a thumbnail already: what CompactCopy stores.
      StorePicture(idx, _CopyBitmaptoDIB(r.Bitmap.get(), 0, 0, 0, 0));
      if (idx == selected_ && !sel_loan_) LendSelection();
    } catch (const std::exception&) {
      info.DecodeFailed = true;
    }
  }
  if (!arrived) return;
  decodes_arrived_ = true;
  Invalidate();
  if (decodes_pending_ == 0 && decodes_settled_) decodes_settled_();
}

bool TKorvaneMView::WaitForDecodes(int TimeoutMs) {
  QElapsedTimer clock;
  clock.start();
  const QPointer<QObject> alive(this);
  while (true) {
    // A pending paint runs now and asks for the cells it lacks.
    (void)ClientImage();
    if (decodes_pending_ == 0) return true;
    const qint64 left = TimeoutMs < 0 ? -1 : TimeoutMs - clock.elapsed();
    if (TimeoutMs >= 0 && left <= 0) return false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (left >= 0) timer.start(int(left));
    decodes_settled_ = [&loop] { loop.quit(); };
    loop.exec();
    if (!alive) return true;  // the view went while waiting
    decodes_settled_ = nullptr;
  }
}

void TKorvaneMView::UpdateImage(int idx) {
  (void)idx;
  // The host repaints the whole client area from the cells; one Update does.
  Update();
}

// ---------------------------------------------------------------------------
// Selection

void TKorvaneMView::NotifyBitmap() {
  told_bmp_ = GetFBitmap();
  CallBitmapChangeEvents();
}

void TKorvaneMView::NotifyIfSwapped() {
  if (quiet_ == 0 && GetFBitmap() != told_bmp_) NotifyBitmap();
}

void TKorvaneMView::ReleaseSelection() {
  if (sel_loan_ && InRange(selected_)) {
    sel_loan_ = false;
    ReleaseBitmap(selected_);
  }
  sel_loan_ = false;
}

void TKorvaneMView::LendSelection() {
  if (sel_loan_ || !InRange(selected_)) return;
  try {
    sel_loan_ = GetBitmap(selected_) != nullptr;
  } catch (...) {
    NotifyIfSwapped();
    throw;
  }
  NotifyIfSwapped();
}

void TKorvaneMView::Select(int idx) {
  if (idx == selected_ && sel_loan_) return;
  Quiet quiet{quiet_};  // the caller tells the listeners once
  ReleaseSelection();
  selected_ = idx;
  sel_loan_ = GetBitmap(idx) != nullptr;
}

void TKorvaneMView::SetSelectedItem(int idx) {
  if (playing_ || Destroying()) return;
  // A picture that fails to load still leaves the selection moved, the
  // event fired and the view repainted before the error goes on.
  std::exception_ptr failed;
  try {
    SetSelectedItemNU(idx);
  } catch (const std::exception&) {
    failed = std::current_exception();
  }
  if (OnImageSelect) OnImageSelect(this, selected_);
  Update();
  if (failed) std::rethrow_exception(failed);
}

void TKorvaneMView::SetSelectedItemNU(int idx) {
  if (playing_ || !InRange(idx) || Destroying()) return;
  try {
    Select(idx);
  } catch (...) {
    NotifyIfSwapped();
    throw;
  }
  NotifyIfSwapped();
}

void TKorvaneMView::DeselectNU() {
  ReleaseSelection();
  selected_ = -1;
  NotifyIfSwapped();
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
