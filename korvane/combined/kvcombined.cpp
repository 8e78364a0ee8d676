#include "korvane/combined/kvcombined.h"

namespace korvane {

TKorvane::TKorvane(TComponent* AOwner, QWidget* parent) : TKorvaneView(AOwner, parent) {
  proc_ = new TKorvaneProc(this);
  proc_->SetAttachedKorvane(this);
  proc_->SetAutoUndo(true);
  io_ = new TKorvaneIO(this);
  io_->SetAttachedKorvane(this);
}

TKorvane::~TKorvane() {
  // Both detach from this view while it is still whole: left to the
  // component base, they would go after the view part is destroyed.
  delete io_;
  io_ = nullptr;
  delete proc_;
  proc_ = nullptr;
}

void TKorvane::SetNColors(TNColors) {
  // The view and the operations work on 24-bit images only; a palette depth
  // is not kept.
  ncolors_ = nc24bit;
  TBitmap* bmp = GetFBitmap();
  if (bmp && bmp->PixelFormat() != pf24bit) {
    bmp->SetPixelFormat(pf24bit);
    Update();
    ImageChange();
  }
}

void TKorvane::SetOnProgress(const TProgressEvent& e) {
  proc_->OnProgress = e;
  io_->OnProgress = e;
}

void TKorvane::SetMsgLanguage(TMsgLanguage l) {
  proc_->SetMsgLanguage(l);
  io_->MsgLanguage = l;
}

void TKorvane::SetPreviewFont(const TFont* f) {
  proc_->SetPreviewFont(f);
  io_->SetPreviewFont(f);
}

void TKorvane::AssignIOParams(TObject* Source) {
  if (auto* k = dynamic_cast<TKorvane*>(Source)) {
    if (k != this) io_->Params()->Assign(k->IOParams());
  } else if (auto* o = dynamic_cast<TKorvaneIO*>(Source)) {
    if (o != io_) io_->Params()->Assign(o->Params());
  }
}

void TKorvane::Assign(TObject* Source) {
  AssignIOParams(Source);
  TKorvaneView::Assign(Source);
}

}  // namespace korvane
