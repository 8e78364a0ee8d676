#include "korvane/dialogs/io_previews.h"
#include "korvane/multi/kvmio.h"

namespace korvane {

bool TKorvaneMIO::DoPreviews(int idx, TPreviewParams pp) {
  TIOParamsVals* rec = GetParams(idx);
  if (!view_ || !rec) return false;
  // The form works on a copy of the current image, borrowed for the copy
  // only: the view's image keeps its format.
  const int current = view_->GetSelectedItem();
  TBitmap* b = view_->GetBitmap(current);
  if (!b) return false;
  TfIOPreviews form;
  form.Korvane1->Assign(b);
  view_->ReleaseBitmap(current);
  if (form.Korvane1->GetFBitmap()->Empty()) return false;

  form.SetLockPreview(previews_params_.Contains(ioppDefaultLockPreview));
  form.SetIOParams(rec);
  form.SetLanguage(MsgLanguage);
  form.SetPreviewFont(&preview_font_);
  const bool ok = form.SetPreviewParams(pp) && form.exec() == QDialog::Accepted;
  // The page may have changed an image index; the records keep their places.
  Renumber();
  Update();
  return ok;
}

}  // namespace korvane
