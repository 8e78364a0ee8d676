#include <algorithm>
#include <vector>

#include "korvane/dialogs/proc_previews.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/proc/kvproc.h"
#include "korvane/view/kvview.h"

namespace korvane {

bool TKorvaneProc::DoPreviews(TPreviewEffectsSet effects) {
  TBitmap* bmp = GetBitmap();
  if (!bmp || bmp->PixelFormat() != pf24bit || bmp->Width() < 2 || bmp->Height() < 2) return false;
  int x1, y1, x2, y2, n = 0;
  const TPoint* poly = nullptr;
  GetReSel(x1, y1, x2, y2, poly, n);
  x1 = std::clamp(x1, 0, bmp->Width() - 1);
  y1 = std::clamp(y1, 0, bmp->Height() - 1);
  x2 = std::clamp(x2, x1, bmp->Width() - 1);
  y2 = std::clamp(y2, y1, bmp->Height() - 1);
  // The selection may change while the form runs: keep the polygon as it
  // was when the user asked.
  std::vector<TPoint> polygon;
  if (!IsTrueRect(poly, n)) polygon.assign(poly, poly + n);

  TKVView* view = GetAttachedKorvane();
  TfPreviews form(view ? view->window() : nullptr);
  form.SetDefaultLockPreview(previews_params_.Contains(prppDefaultLockPreview));
  form.SetLanguage(msg_language_);
  form.SetPreviewFont(preview_font_.get());
  form.SetProgress(OnProgress, this);
  form.SetEffects(effects);
  // An explicit area: the x2 = 0 shorthand of _CopyBitmapRect would turn a
  // selection of column 0 into the whole width.
  CopyBitmapArea(bmp, form.Korvane1->GetFBitmap(), Rect(x1, y1, x2 + 1, y2 + 1));
  form.Korvane1->Update();
  if (!form.Execute()) return false;

  // The image may have been replaced while the form ran.
  bmp = GetBitmap();
  if (!bmp || bmp->PixelFormat() != pf24bit) return false;
  if (auto_undo_) SaveUndo();
  const TBitmap* result = form.Korvane1->GetFBitmap();
  if (polygon.empty())
    _CopyPolygonBitmap(bmp, result, x1, y1, nullptr, 0);
  else
    _CopyPolygonBitmap(bmp, result, x1, y1, polygon.data(), int(polygon.size()));
  Update();
  return true;
}

}  // namespace korvane
