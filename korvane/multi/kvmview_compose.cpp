// TKorvaneMView: animation frames composed on their logical screen.
#include "korvane/multi/kvmview.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/dib_procs.h"

namespace korvane {

void TKorvaneMView::SetImageLayout(int idx, const TKVFrameLayout& Layout) {
  if (!InRange(idx)) return;
  infos_[idx]->Layout = Layout;
  Recompose();
}

TKVFrameLayout TKorvaneMView::GetImageLayout(int idx) const {
  return InRange(idx) ? infos_[idx]->Layout : TKVFrameLayout();
}

TBitmap* TKorvaneMView::Composed(int idx) {
  if (!InRange(idx) || !infos_[idx]->Layout.Valid) return nullptr;
  int first = idx;
  while (first > 0 && !infos_[first]->Layout.First && infos_[first - 1]->Layout.Valid) --first;
  // Going on from the screen already made when it lies on the way to idx;
  // otherwise starting again from the animation's first frame.
  int from = first;
  if (composed_gen_ == compose_gen_ && composed_first_ == first && composed_idx_ >= first &&
      composed_idx_ <= idx) {
    if (composed_idx_ == idx) return composer_.Screen();
    from = composed_idx_ + 1;
  } else {
    const TKVFrameLayout& l = infos_[first]->Layout;
    composer_.Reset(l.ScreenWidth, l.ScreenHeight, TColor2TRGB(ColorToRGB(infos_[first]->Background)));
  }
  const int64_t gen = compose_gen_;
  for (int i = from; i <= idx; ++i) {
    TBitmap frame;
    if (bitmaps_[i]) {
      frame.Assign(bitmaps_[i].get());
    } else {
      if (!infos_[i]->DIBHandle) {
        try {
          ObtainImage(i);
        } catch (const std::exception&) {
        }
      }
      if (bitmaps_[i])
        frame.Assign(bitmaps_[i].get());
      else if (infos_[i]->DIBHandle)
        _CopyDIB2Bitmap(infos_[i]->DIBHandle, &frame);
    }
    composer_.Add(frame.Empty() ? nullptr : &frame, infos_[i]->Layout);
  }
  // Obtaining a picture stores it, which counts as a change; the screen is
  // still the one of these pictures.
  compose_gen_ = gen;
  composed_gen_ = gen;
  composed_first_ = first;
  composed_idx_ = idx;
  return composer_.Screen();
}

bool TKorvaneMView::GetComposedFrame(int idx, TBitmap* Out) {
  if (!InRange(idx) || !Out) return false;
  if (TBitmap* s = Composed(idx)) {
    Out->Assign(s);
    return true;
  }
  TBitmap* b = GetBitmap(idx);
  if (!b) return false;
  Out->Assign(b);
  ReleaseBitmap(idx);
  return true;
}

}  // namespace korvane
