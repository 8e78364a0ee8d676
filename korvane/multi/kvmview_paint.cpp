// TKorvaneMView: layout, scrolling, painting, playing, mouse and keys.
#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>

#include "korvane/multi/kvmview.h"
#include "korvane/view/scroll_sync.h"

namespace korvane {

// ---------------------------------------------------------------------------
// Layout and scrolling

int TKorvaneMView::Columns() const {
  if (grid_width_ != -1) return grid_width_;
  int step = hborder_ + thumb_w_;
  return step > 0 ? (ClientWidth() - hborder_) / step : 0;
}

void TKorvaneMView::UpdateCoords() {
  int cols = Columns();
  int c = 0, r = 0, maxX = 0, maxY = 0;
  bool any = false;
  for (auto& info : infos_) {
    info->X = hborder_ + c * (thumb_w_ + hborder_);
    info->Y = vborder_ + r * (thumb_h_ + vborder_);
    info->Row = r;
    info->Col = c;
    if (!any || info->X > maxX) maxX = info->X;
    if (!any || info->Y > maxY) maxY = info->Y;
    any = true;
    ++c;
    if (display_mode_ == mdSingle) {
      c = r = 0;
    } else if (c == cols) {
      c = 0;
      ++r;
    }
  }
  if (any) {
    extent_x_ = maxX + thumb_w_ + hborder_;
    extent_y_ = maxY + thumb_h_ + vborder_;
  } else {
    extent_x_ = thumb_w_ + hborder_;
    extent_y_ = thumb_h_ + vborder_;
  }
}

void TKorvaneMView::GetMaxViewXY(int& mx, int& my) const {
  mx = std::max(extent_x_ - ClientWidth(), 0);
  my = std::max(extent_y_ - ClientHeight(), 0);
}

// One layout pass; true when the client area changed (a bar came or went).
bool TKorvaneMView::UpdateOnce() {
  UpdateCoords();
  int cw = ClientWidth(), ch = ClientHeight();
  int mx, my;
  GetMaxViewXY(mx, my);
  bool changed = false;
  if (view_x_ > mx) view_x_ = mx, changed = true;
  if (view_y_ > my) view_y_ = my, changed = true;
  if (changed) ViewChange(0);
  try {
    SyncScrollBar(this, SB_HORZ, scroll_bars_ == ssHorizontal || scroll_bars_ == ssBoth, mx, cw, view_x_);
    SyncScrollBar(this, SB_VERT, scroll_bars_ == ssVertical || scroll_bars_ == ssBoth, my, ch, view_y_);
  } catch (...) {
  }
  return ClientWidth() != cw || ClientHeight() != ch;
}

void TKorvaneMView::Update() {
  TComponentState st = ComponentState();
  if (st.Contains(csLoading) || st.Contains(csReading) || st.Contains(csWriting) || st.Contains(csDestroying))
    return;
  if (st.Contains(csDesigning)) {
    Invalidate();
    return;
  }
  // A bar appearing or vanishing changes the client area, and so the layout
  // (GridWidth -1): a few rounds settle it.
  for (int round = 0; round < 4 && UpdateOnce(); ++round) {
  }
  NotifyBitmap();
  Invalidate();
}

void TKorvaneMView::ViewChange(int change) {
  if (OnViewChange) OnViewChange(this, change);
}

void TKorvaneMView::SetViewXY(int x, int y) {
  if (x == view_x_ && y == view_y_) return;
  int mx, my;
  GetMaxViewXY(mx, my);
  view_x_ = std::clamp(x, 0, mx);
  view_y_ = std::clamp(y, 0, my);
  Invalidate();
  SyncScrollPos();
}

void TKorvaneMView::SyncScrollPos() {
  if (ScrollBarVisible(SB_HORZ)) SetScrollPos(SB_HORZ, view_x_, true);
  if (ScrollBarVisible(SB_VERT)) SetScrollPos(SB_VERT, view_y_, true);
}

void TKorvaneMView::SetScrollBars(TScrollStyle s) {
  scroll_bars_ = s;
  // Both bars go; Update shows again those the style allows and the layout
  // needs (a bar the style no longer allows is never shown again by it).
  ShowScrollBar(SB_HORZ, false);
  ShowScrollBar(SB_VERT, false);
  Update();
}

void TKorvaneMView::SetDisplayMode(TKVMDisplayMode m) {
  if (playing_) {
    saved_mode_ = m;
    return;
  }
  display_mode_ = m;
  Update();
}

void TKorvaneMView::SetBackGround(TColor c) {
  TKVView::SetBackGround(c);
  Update();
}

int TKorvaneMView::UnLockPaint() {
  if (paint_lock_ > 0) --paint_lock_;
  if (paint_lock_ == 0) Update();
  return paint_lock_;
}

int TKorvaneMView::NPUnLockPaint() {
  if (paint_lock_ > 0) --paint_lock_;
  return paint_lock_;
}

void TKorvaneMView::WMSize() {
  TKVView::WMSize();
  Update();
}

void TKorvaneMView::ScrollBy(int bar, int code, int pos) {
  int cur = bar == SB_HORZ ? view_x_ : view_y_;
  int page = bar == SB_HORZ ? thumb_w_ : thumb_h_;
  int mx, my;
  GetMaxViewXY(mx, my);
  int v = cur;
  switch (code) {
    case SB_LINEUP:
      v = cur - 1;
      break;
    case SB_LINEDOWN:
      v = cur + 1;
      break;
    case SB_PAGEUP:
      v = cur - page;
      break;
    case SB_PAGEDOWN:
      v = cur + page;
      break;
    case SB_THUMBTRACK:
      // The full position: grids wider or taller than 65,535 pixels.
      v = pos;
      break;
    case SB_TOP:
      v = 0;
      break;
    case SB_BOTTOM:
      v = bar == SB_HORZ ? mx : my;
      break;
    default:
      break;
  }
  if (bar == SB_HORZ)
    SetViewX(v);
  else
    SetViewY(v);
}

void TKorvaneMView::WMHScroll(int code, int pos) { ScrollBy(SB_HORZ, code, pos); }
void TKorvaneMView::WMVScroll(int code, int pos) { ScrollBy(SB_VERT, code, pos); }

// ---------------------------------------------------------------------------
// Hit tests

int TKorvaneMView::ImageAtPos(int x, int y) const {
  int n = GetImageCount();
  if (display_mode_ == mdSingle || playing_) {
    if (n == 0) return -1;
    int i = std::clamp(visible_frame_, 0, n - 1);
    const TKVImageInfo& r = *infos_[i];
    int cx = r.X - view_x_, cy = r.Y - view_y_;
    return x >= cx && x < cx + thumb_w_ && y >= cy && y < cy + thumb_h_ ? i : -1;
  }
  for (int i = 0; i < n; ++i) {
    const TKVImageInfo& r = *infos_[i];
    int cx = r.X - view_x_, cy = r.Y - view_y_;
    if (x >= cx && x < cx + thumb_w_ && y >= cy && y < cy + thumb_h_) return i;
  }
  return -1;
}

int TKorvaneMView::GetImageVisibility(int idx) const {
  if (!InRange(idx)) return 0;
  const TKVImageInfo& r = *infos_[idx];
  int left = r.X - view_x_, right = r.X + thumb_w_ - 1 - view_x_;
  int top = r.Y - view_y_, bottom = r.Y + thumb_h_ - 1 - view_y_;
  int cw = ClientWidth(), ch = ClientHeight();
  bool L = left >= 0 && left < cw, R = right >= 0 && right < cw;
  bool T = top >= 0 && top < ch, B = bottom >= 0 && bottom < ch;
  if (L && R && T && B) return 2;
  if ((L != R && (T || B)) || ((L || R) && T != B)) return 1;
  return 0;
}

void TKorvaneMView::CenterSelected() {
  if (!InRange(selected_)) return;
  const TKVImageInfo& r = *infos_[selected_];
  SetViewXY(r.X - (ClientWidth() - thumb_w_) / 2, r.Y - (ClientHeight() - thumb_h_) / 2);
}

void TKorvaneMView::CenterFrame() {
  if (!InRange(visible_frame_)) return;
  const TKVImageInfo& r = *infos_[visible_frame_];
  SetViewXY(r.X - (ClientWidth() - thumb_w_) / 2, r.Y - (ClientHeight() - thumb_h_) / 2);
}

// ---------------------------------------------------------------------------
// Painting

void TKorvaneMView::Paint() {
  if (paint_lock_ > 0) return;
  PaintTo(Canvas());
}

void TKorvaneMView::PaintCell(TCanvas* canvas, int idx, int x, int y) {
  TKVImageInfo& info = *infos_[idx];
  if (!bitmaps_[idx] && !info.DIBHandle) {
    if (DecodesAway(info)) {
      // Asked once; the cell is a placeholder until the picture arrives.
      if (!info.DecodeTicket && !info.DecodeFailed) RequestDecode(info);
    } else {
      // A file deleted or unreadable since it was named paints as absent;
      // painting goes on with the other cells.
      try {
        ObtainImage(idx);
      } catch (const std::exception&) {
      }
    }
  }
  int avail = thumb_h_ - bottom_gap_ - upper_gap_;
  TBrush* brush = canvas->Brush();
  brush->SetStyle(bsSolid);
  brush->SetColor(info.Background);
  HGLOBAL block = info.DIBHandle;
  HGLOBAL temp = nullptr;
  // One frame at a time (single mode, playing): a frame of an animation
  // shows on its logical screen.
  TBitmap* screen = (playing_ || display_mode_ == mdSingle) ? Composed(idx) : nullptr;
  if (screen)
    block = temp = BitmapToPackedDIB(screen);
  else if (bitmaps_[idx])
    block = temp = BitmapToPackedDIB(bitmaps_[idx].get());
  bool drawn = false;
  if (block) {
    TGlobalLock lock(block);
    int w = 0, h = 0;
    if (lock.Data() && lock.Size() >= sizeof(TBitmapInfoHeader)) {
      TBitmapInfoHeader hdr;
      std::memcpy(&hdr, lock.Data(), sizeof hdr);
      w = hdr.biWidth;
      h = hdr.biHeight < 0 ? -hdr.biHeight : hdr.biHeight;
    }
    if (w > 0 && h > 0) {
      int fw = 0, fh = 0;
      KVFitSize(w, h, thumb_w_, avail, fw, fh);
      int dx = x + (thumb_w_ - fw) / 2;
      int dy = y + upper_gap_ + (avail - fh) / 2;
      if (fw > 0 && fh > 0) DrawPackedDib(canvas, dx, dy, fw, fh, lock.Data(), lock.Size(), 0, 0, w, h);
      canvas->FillRect(Rect(x, y, dx, y + thumb_h_));
      canvas->FillRect(Rect(dx + fw, y, x + thumb_w_, y + thumb_h_));
      canvas->FillRect(Rect(dx, y, dx + fw, dy));
      canvas->FillRect(Rect(dx, dy + fh, dx + fw, y + thumb_h_));
      drawn = true;
    }
  }
  if (temp) GlobalFree(temp);
  if (drawn) return;
  canvas->FillRect(Rect(x, y, x + thumb_w_, y + thumb_h_));
  if (!info.FileName.empty() && !info.DecodeTicket) PaintAbsentName(canvas, info, x, y);
}

// An image named by a file that gave no picture: an empty frame with the
// file's name, in black or white, whichever stands out on the background.
void TKorvaneMView::PaintAbsentName(TCanvas* canvas, const TKVImageInfo& info, int x, int y) {
  const TColor bg = ColorToRGB(info.Background);
  const int gray = (21 * GetRValue(bg) + 71 * GetGValue(bg) + 7 * GetBValue(bg)) / 100;
  const TColor ink = gray >= 128 ? clBlack : clWhite;
  TPen* pen = canvas->Pen();
  pen->SetWidth(1);
  pen->SetStyle(psSolid);
  pen->SetMode(pmCopy);
  pen->SetColor(ink);
  canvas->Brush()->SetStyle(bsClear);
  canvas->Rectangle(x, y, x + thumb_w_, y + thumb_h_);
  if (thumb_w_ <= 6 || thumb_h_ <= 6) return;
  TFont saved;
  saved.Assign(*canvas->Font());
  canvas->Font()->SetColor(ink);
  canvas->Font()->SetHeight(-std::clamp(thumb_h_ / 6, 8, 12));
  const std::string name = std::filesystem::path(info.FileName).filename().string();
  canvas->TextRect(Rect(x + 2, y + 2, x + thumb_w_ - 2, y + thumb_h_ - 2), x + 3, y + 3, name);
  canvas->Font()->Assign(saved);
  canvas->Brush()->SetStyle(bsSolid);
}

void TKorvaneMView::PaintTo(TCanvas* canvas) {
  if (!canvas) return;
  int count = GetImageCount();
  int n = display_mode_ == mdSingle && count > 0 ? 1 : count;
  int first = 0;
  if ((playing_ || display_mode_ == mdSingle) && count > 0) first = std::clamp(visible_frame_, 0, count - 1);
  // The cells are excluded from the clip region as they are drawn, so the
  // gaps are filled last in one call; the caller's clip is restored after,
  // whatever an event handler raises on the way.
  struct Restore {
    TCanvas* canvas;
    bool hadClip;
    QRegion oldClip;
    bool& painting;
    ~Restore() {
      if (hadClip)
        canvas->SetClipRegion(oldClip);
      else
        canvas->ResetClip();
      painting = false;
    }
  } restore{canvas, canvas->HasClip(), canvas->ClipRegion(), painting_};
  painting_ = true;
  int surfW = Width(), surfH = Height();
  // Pictures that can be had again are dropped when their cell is not shown:
  // memory follows the visible cells. So are decodes under way for them, and
  // a failed decode is tried again when the cell comes back.
  auto dropUnseen = [this](int i) {
    TKVImageInfo& info = *infos_[i];
    ForgetDecode(info);
    info.DecodeFailed = false;
    if (i != selected_ && info.DIBHandle && (info.ID != -1 || !info.FileName.empty()) && info.BmpCount == 0)
      FreeImage(i);
  };
  int idx = first;
  for (int k = 0; k < n; ++k, idx = idx + 1 == count ? 0 : idx + 1) {
    if (OnDrawProgress && n > 1) OnDrawProgress(this, int(int64_t(k) * 100 / n), idx);
    TKVImageInfo& info = *infos_[idx];
    int x = info.X - view_x_, y = info.Y - view_y_;
    bool visible = x + thumb_w_ - 1 >= 0 && x <= surfW - 1 && y + thumb_h_ - 1 >= 0 && y <= surfH - 1;
    if (!visible) {
      dropUnseen(idx);
      continue;
    }
    PaintCell(canvas, idx, x, y);
    if (OnImageDraw) OnImageDraw(this, idx, x, y, canvas);
    if (idx == selected_ && visible_selection_) {
      TPen* pen = canvas->Pen();
      pen->SetWidth(1);
      pen->SetStyle(psSolid);
      pen->SetMode(pmCopy);
      pen->SetColor(selection_color_);
      canvas->Brush()->SetStyle(bsClear);
      int t = Focused() ? selection_width_ : 1;
      for (int i = 1; i <= t; ++i) canvas->Rectangle(x - i, y - i, x + thumb_w_ + i, y + thumb_h_ + i);
      canvas->ExcludeClipRect(x - t, y - t, x + thumb_w_ + t, y + thumb_h_ + t);
    } else {
      canvas->ExcludeClipRect(x, y, x + thumb_w_, y + thumb_h_);
    }
  }
  canvas->Brush()->SetStyle(bsSolid);
  canvas->Brush()->SetColor(GetBackground());
  canvas->FillRect(Rect(0, 0, surfW, surfH));
  // One frame at a time (single mode, playing): the frames not shown go too,
  // or playing a long list of files would end up holding all of them.
  if (n < count)
    for (int i = 0; i < count; ++i)
      if (i != first) dropUnseen(i);
  if (OnDrawProgress && n > 1) OnDrawProgress(this, 100, 0);
  if (decodes_arrived_ && decodes_pending_ == 0) {
    decodes_arrived_ = false;
    if (OnDecodesPainted) OnDecodesPainted(this);
  }
}

// ---------------------------------------------------------------------------
// Playing

void TKorvaneMView::SetPlaying(bool on) {
  if (on == playing_ || Destroying()) return;
  if (on) {
    saved_mode_ = display_mode_;
    saved_selected_ = selected_;
    Deselect();
  }
  playing_ = on;
  PlayFrame();
  if (!playing_) {
    SetDisplayMode(saved_mode_);
    // Stopping is called from inserts and deletions: a picture of the old
    // selection that no longer loads leaves it selected without a bitmap.
    try {
      SetSelectedItem(saved_selected_);
    } catch (const std::exception&) {
    }
  }
}

void TKorvaneMView::SetVisibleFrame(int idx) {
  visible_frame_ = idx;
  Update();
}

void TKorvaneMView::PlayFrame() {
  if (play_guard_ || ComponentState().Contains(csDestroying)) return;
  play_guard_ = true;
  struct Release {
    bool& g;
    ~Release() { g = false; }
  } release{play_guard_};
  if (timer_ms_ != 0) {
    KillTimer(kPlayTimer);
    timer_ms_ = 0;
  }
  if (!playing_) return;
  if (display_mode_ != mdSingle) {
    display_mode_ = mdSingle;
    Update();
  }
  int count = GetImageCount();
  if (visible_frame_ >= count) visible_frame_ = count - 1;
  if (visible_frame_ < 0) {
    // Nothing to play: the run ends here rather than waiting, timerless,
    // with the selection blocked.
    visible_frame_ = 0;
    playing_ = false;
    return;
  }
  int delay = infos_[visible_frame_]->DelayTime;
  Repaint();
  if (visible_frame_ == count - 1) {
    visible_frame_ = 0;
    NotifyBitmap();
    if (!play_loop_) {
      playing_ = false;
      return;
    }
  } else {
    ++visible_frame_;
  }
  int ms = std::max(delay, 10);
  if (SetTimer(kPlayTimer, ms))
    timer_ms_ = ms;
  else
    playing_ = false;  // no timer, no next frame
}

void TKorvaneMView::WMTimer(int id) {
  if (id == kPlayTimer) PlayFrame();
}

// ---------------------------------------------------------------------------
// Seeking

void TKorvaneMView::SelectSeek(TKVSeek kind) {
  int count = GetImageCount();
  if (count == 0) return;
  int cols = Columns();
  int step = vborder_ + thumb_h_;
  int rows = step > 0 ? (ClientHeight() - vborder_) / step : 0;
  int s = selected_;
  auto visible = [this] { return GetImageVisibility(selected_) == 2; };
  auto sel = [this]() -> const TKVImageInfo* {
    return InRange(selected_) ? infos_[selected_].get() : nullptr;
  };
  // A picture that fails to load still gets its cell scrolled into view;
  // the error goes on afterwards.
  std::exception_ptr failed;
  auto select = [&](int idx) {
    try {
      SetSelectedItem(idx);
    } catch (const std::exception&) {
      failed = std::current_exception();
    }
  };
  auto scrollDown = [&] {
    if (visible() || !sel()) return;
    SetViewY(sel()->Y + thumb_h_ + vborder_ - ClientHeight());
    if (!visible()) SetViewX(sel()->X + thumb_w_ + hborder_ - ClientWidth());
  };
  auto scrollUp = [&] {
    if (visible() || !sel()) return;
    SetViewY(sel()->Y - vborder_);
    if (!visible()) SetViewX(sel()->X - hborder_);
  };
  switch (kind) {
    case iskLeft:
      if (s < 0) return;
      select(s - 1);
      if (!visible() && sel()) SetViewXY(sel()->X - hborder_, sel()->Y - vborder_);
      break;
    case iskRight:
      if (s < 0) return;
      select(s + 1);
      if (!visible() && sel())
        SetViewXY(sel()->X + thumb_w_ + hborder_ - ClientWidth(),
                  sel()->Y + thumb_h_ + vborder_ - ClientHeight());
      break;
    case iskUp:
      if (s < 0) return;
      select(grid_width_ != 0 ? std::max(s - cols, 0) : s - 1);
      scrollUp();
      break;
    case iskDown:
      if (s < 0) return;
      select(grid_width_ != 0 ? std::min(s + cols, count - 1) : s + 1);
      scrollDown();
      break;
    case iskFirst:
      select(0);
      if (!visible()) SetViewXY(0, 0);
      break;
    case iskLast:
      select(count - 1);
      scrollDown();
      break;
    case iskPagDown:
      if (s < 0) return;
      select(s + cols * rows);
      scrollDown();
      break;
    case iskPagUp:
      if (s < 0) return;
      select(s - cols * rows);
      scrollUp();
      break;
  }
  if (failed) std::rethrow_exception(failed);
}

// ---------------------------------------------------------------------------
// Mouse and keys

void TKorvaneMView::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TKVView::MouseDown(Button, Shift, X, Y);
  SetFocus();
  captured_ = true;
  down_x_ = X;
  down_y_ = Y;
  down_vx_ = view_x_;
  down_vy_ = view_y_;
}

void TKorvaneMView::MouseMove(TShiftState Shift, int X, int Y) {
  TKVView::MouseMove(Shift, X, Y);
  if (captured_ && mouse_interact_.Contains(mmiScroll))
    SetViewXY(down_vx_ + down_x_ - X, down_vy_ + down_y_ - Y);
}

void TKorvaneMView::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TKVView::MouseUp(Button, Shift, X, Y);
  bool wasCaptured = captured_;
  captured_ = false;
  if (playing_) return;
  std::exception_ptr failed;
  if (mouse_interact_.Contains(mmiSelect)) {
    int idx = ImageAtPos(X, Y);
    if (idx >= 0) {
      try {
        SetSelectedItemNU(idx);
      } catch (const std::exception&) {
        failed = std::current_exception();  // selected all the same
      }
      if (visible_selection_) Update();
      if (OnImageSelect) OnImageSelect(this, selected_);
      NotifyBitmap();
    }
  }
  if (wasCaptured && mouse_interact_.Contains(mmiScroll))
    SetViewXY(down_vx_ + down_x_ - X, down_vy_ + down_y_ - Y);
  if (failed) std::rethrow_exception(failed);
}

void TKorvaneMView::KeyDown(Word& Key, TShiftState Shift) {
  // The published OnKeyDown fires first, and may take the key away.
  TKVView::KeyDown(Key, Shift);
  if (playing_ || Key == 0) return;
  switch (Key) {
    case VK_PRIOR:
      SelectSeek(iskPagUp);
      break;
    case VK_NEXT:
      SelectSeek(iskPagDown);
      break;
    case VK_END:
      SelectSeek(iskLast);
      break;
    case VK_HOME:
      SelectSeek(iskFirst);
      break;
    case VK_LEFT:
      SelectSeek(iskLeft);
      break;
    case VK_UP:
      SelectSeek(iskUp);
      break;
    case VK_RIGHT:
      SelectSeek(iskRight);
      break;
    case VK_DOWN:
      SelectSeek(iskDown);
      break;
    default:
      break;
  }
  Update();
}

void TKorvaneMView::DoEnter() {
  TKVView::DoEnter();
  Invalidate();
}

void TKorvaneMView::DoExit() {
  TKVView::DoExit();
  Invalidate();
}

}  // namespace korvane
