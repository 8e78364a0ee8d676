#include "korvane/dialogs/io_previews.h"
#include "korvane/io/kvio.h"

namespace korvane {

bool TKorvaneIO::DoPreviews(TPreviewParams pp) {
  TBitmap* b = GetBitmap();
  // An empty bitmap has nothing to save and nothing to preview.
  if (!b || b->Empty()) return false;
  if (b->PixelFormat() != pf24bit && b->PixelFormat() != pf1bit) b->SetPixelFormat(pf24bit);
  bool ok = false;
  {
    TfIOPreviews form;
    form.SetLockPreview(previews_params_.Contains(ioppDefaultLockPreview));
    form.SetIOParams(&params_);
    form.SetLanguage(MsgLanguage);
    form.SetPreviewFont(&preview_font_);
    form.Korvane1->Assign(b);
    if (form.SetPreviewParams(pp)) ok = form.exec() == QDialog::Accepted;
  }
  Update();
  return ok;
}

}  // namespace korvane
