// The multi-image view: TKorvaneMView holds an ordered list of images and
// shows them as a scrolling grid of equal cells, one at a time, or plays them
// as an animation. Pictures are kept compact (packed DIBs in movable blocks)
// and become TBitmaps only while borrowed; images may instead name a file or
// an ID and are then loaded when their cell shows and dropped when it leaves,
// on the painting thread or, when asked, on worker threads.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "korvane/foundations/host/list_error.h"
#include "korvane/foundations/host/winsys.h"
#include "korvane/foundations/kvdefs.h"
#include "korvane/multi/frame_compose.h"
#include "korvane/view/kvview.h"

namespace korvane {

class TKorvaneIO;
class TKVThumbDecoder;

// Registered with Qt's meta-object system (see control_enums in
// host/controls.h).
namespace mview_enums {
Q_NAMESPACE
enum TKVStoreType { kvtNormal, kvtThumb };
Q_ENUM_NS(TKVStoreType)
enum TKVMDisplayMode { mdGrid, mdSingle };
Q_ENUM_NS(TKVMDisplayMode)
}  // namespace mview_enums
using namespace mview_enums;
enum TKVMMouseInteractItems { mmiScroll, mmiSelect };
using TKVMMouseInteract = TSet<TKVMMouseInteractItems>;
enum TKVMKeyInteractItems { mkiMoveSelected };
using TKVMKeyInteract = TSet<TKVMKeyInteractItems>;
enum TKVSeek { iskLeft, iskRight, iskUp, iskDown, iskFirst, iskLast, iskPagDown, iskPagUp };

using TKVImageIDRequestEvent = std::function<void(TObject* Sender, int ID, TBitmap*& Bitmap)>;
using TKVImageDrawEvent = std::function<void(TObject* Sender, int idx, int Left, int Top, TCanvas* Canvas)>;
using TKVImageSelectEvent = std::function<void(TObject* Sender, int idx)>;
using TKVMProgressEvent = std::function<void(TObject* Sender, int per, int idx)>;

// One image of the view. FileName and ID exclude each other: an empty name is
// none, ID -1 is none.
struct TKVImageInfo {
  HGLOBAL DIBHandle = nullptr;  // compact store (packed DIB), or none
  int BmpCount = 0;             // outstanding GetBitmap loans
  int X = 0, Y = 0;             // cell's top left in view coordinates
  int Row = 0, Col = 0;
  TColor Background = clBlack;
  std::string FileName;
  int ID = -1;
  int DelayTime = 0;  // milliseconds on screen while playing
  // Set for the frames of an animation: how the frame is drawn on its
  // logical screen (see frame_compose.h).
  TKVFrameLayout Layout;
  // The view's own bookkeeping of decoding on worker threads: the ticket of
  // the decode under way for this image (0 none), and whether the last one
  // gave no picture (the cell then paints as absent until the image is
  // freed, renamed or scrolled out of view and back).
  uint64_t DecodeTicket = 0;
  bool DecodeFailed = false;
};
using PKVImageInfo = TKVImageInfo*;

// Fits a w x h picture into a W x H box keeping its aspect ratio (smaller
// pictures are enlarged). Leaves ow, oh untouched when w or h is 0.
void KVFitSize(int w, int h, int W, int H, int& ow, int& oh);

class TKorvaneMView : public TKVView {
  Q_OBJECT
  Q_PROPERTY(int ThumbWidth READ GetThumbWidth WRITE SetThumbWidth)
  Q_PROPERTY(int ThumbHeight READ GetThumbHeight WRITE SetThumbHeight)
  Q_PROPERTY(int HorizBorder READ GetHorizBorder WRITE SetHorizBorder)
  Q_PROPERTY(int VertBorder READ GetVertBorder WRITE SetVertBorder)
  Q_PROPERTY(int UpperGap READ GetUpperGap WRITE SetUpperGap)
  Q_PROPERTY(int BottomGap READ GetBottomGap WRITE SetBottomGap)
  Q_PROPERTY(int GridWidth READ GetGridWidth WRITE SetGridWidth)
  Q_PROPERTY(korvane::mview_enums::TKVStoreType StoreType READ GetStoreType WRITE SetStoreType)
  Q_PROPERTY(korvane::mview_enums::TKVMDisplayMode DisplayMode READ GetDisplayMode WRITE SetDisplayMode)
  Q_PROPERTY(korvane::view_enums::TScrollStyle ScrollBars READ GetScrollBars WRITE SetScrollBars)
  Q_PROPERTY(bool VisibleSelection READ GetVisibleSelection WRITE SetVisibleSelection)
  Q_PROPERTY(int SelectionWidth READ GetSelectionWidth WRITE SetSelectionWidth)
  Q_PROPERTY(QColor SelectionColor READ SelectionColorQColor WRITE SetSelectionColorQColor)
  Q_PROPERTY(bool PlayLoop READ GetPlayLoop WRITE SetPlayLoop)

 public:
  explicit TKorvaneMView(TComponent* AOwner, QWidget* parent = nullptr);
  template <KVFormParent P>
  explicit TKorvaneMView(P* parent) : TKorvaneMView(nullptr, parent) {}
  ~TKorvaneMView() override;

  virtual void Assign(TObject*) {}

  // --- List and content
  // A negative idx raises EListError; an idx at or past the end appends.
  void InsertImage(int idx);
  int AppendImage();
  bool DeleteImageNU(int idx);
  void DeleteImage(int idx);
  void Clear();
  void SetImage(int idx, TBitmap* Bitmap);
  void SetImageNU(int idx, TBitmap* Bitmap);
  void SetImageRect(int idx, TBitmap* Bitmap, int x1, int y1, int x2, int y2);
  // Stores a packed DIB block as the picture, without repainting: the view
  // takes the block. Blocks that are not 24- or 1-bit DIBs are converted
  // (and freed), and with kvtThumb reduced to the cell size; a block that is
  // no DIB raises EInvalidGraphic and is freed.
  void SetImageDIBNU(int idx, HGLOBAL Dib);
  void SetImageFileName(int idx, const std::string& name);
  std::string GetImageFileName(int idx) const;
  void SetImageID(int idx, int id);
  int GetImageID(int idx) const;
  void SetImageBackground(int idx, TColor c);
  TColor GetImageBackground(int idx) const;
  void SetImageDelayTime(int idx, int ms);
  int GetImageDelayTime(int idx) const;
  // The frame layout of an image (an invalid layout out of range). Images
  // with a valid layout show composed on their animation's logical screen
  // while playing and in mdSingle; the grid shows each frame alone.
  void SetImageLayout(int idx, const TKVFrameLayout& Layout);
  TKVFrameLayout GetImageLayout(int idx) const;
  // The picture of idx as playing shows it: for a frame with a valid layout
  // its logical screen after the frames of its animation up to idx (the
  // animation starts at the last frame before it marked First, or at the
  // first image without a layout); else the picture itself. False, with Out
  // left alone, when there is no picture. Playing forward costs one frame a
  // step.
  bool GetComposedFrame(int idx, TBitmap* Out);
  int GetImageWidth(int idx) const;
  int GetImageHeight(int idx) const;
  int GetImageX(int idx) const;
  int GetImageY(int idx) const;
  int GetImageRow(int idx) const;
  int GetImageCol(int idx) const;
  HGLOBAL GetBitmapInfo(int idx) const;
  int GetImageCount() const { return int(infos_.size()); }
  // The record of an image (null out of range).
  PKVImageInfo GetImageInfo(int idx) const;

  using TKVView::GetBitmap;
  // The loan protocol: every GetBitmap that answers a bitmap is matched by one
  // ReleaseBitmap; changes made meanwhile are kept. A lent image keeps its
  // bitmap object until the last release, even when it is given a new
  // picture (the picture is copied into it). An absent image is obtained
  // first; a file that fails to load raises the loader's error.
  TBitmap* GetBitmap(int idx);
  void ReleaseBitmap(int idx) { DecBmpCount(idx); }
  void DecBmpCount(int idx);
  // Drops the picture, lent or not (borrowers must not use it any more).
  void FreeImage(int idx);
  void ObtainImage(int idx);
  void UpdateImage(int idx);

  // Bytes held in the compact store, and the most it may hold. Storing a
  // picture beyond the limit raises EOutOfResources and leaves the image as
  // it was; the default is half the physical memory, 0 means no limit.
  int64_t GetStoreBytes() const { return store_bytes_; }
  int64_t GetStoreLimit() const { return store_limit_; }
  void SetStoreLimit(int64_t bytes) { store_limit_ = bytes; }

  // --- Selection and navigation
  // The selection moves even when its picture cannot be loaded; the
  // loader's error is raised after the change is complete (and, for
  // SetSelectedItem, after OnImageSelect and the repaint).
  int GetSelectedItem() const { return selected_; }
  void SetSelectedItem(int idx);
  void SetSelectedItemNU(int idx);
  void Deselect();
  void DeselectNU();
  TBitmap* GetFBitmap() override;
  bool GetVisibleSelection() const { return visible_selection_; }
  void SetVisibleSelection(bool v);
  int GetSelectionWidth() const { return selection_width_; }
  void SetSelectionWidth(int w);
  TColor GetSelectionColor() const { return selection_color_; }
  void SetSelectionColor(TColor c);
  KV_QCOLOR_ACCESSORS(SelectionColor, GetSelectionColor, SetSelectionColor)
  void SelectSeek(TKVSeek kind);
  void CenterSelected();
  void CenterFrame();
  int ImageAtPos(int x, int y) const;
  int GetImageVisibility(int idx) const;

  // --- Layout, scrolling, painting
  int GetThumbWidth() const { return thumb_w_; }
  void SetThumbWidth(int v) { SetAndUpdate(thumb_w_, v); }
  int GetThumbHeight() const { return thumb_h_; }
  void SetThumbHeight(int v) { SetAndUpdate(thumb_h_, v); }
  int GetHorizBorder() const { return hborder_; }
  void SetHorizBorder(int v) { SetAndUpdate(hborder_, v); }
  int GetVertBorder() const { return vborder_; }
  void SetVertBorder(int v) { SetAndUpdate(vborder_, v); }
  int GetUpperGap() const { return upper_gap_; }
  void SetUpperGap(int v) { SetAndUpdate(upper_gap_, v); }
  int GetBottomGap() const { return bottom_gap_; }
  void SetBottomGap(int v) { SetAndUpdate(bottom_gap_, v); }
  int GetGridWidth() const { return grid_width_; }
  void SetGridWidth(int v) { SetAndUpdate(grid_width_, v); }
  TKVStoreType GetStoreType() const { return store_type_; }
  void SetStoreType(TKVStoreType t) { store_type_ = t; }
  TKVMDisplayMode GetDisplayMode() const { return display_mode_; }
  void SetDisplayMode(TKVMDisplayMode m);
  void SetBackGround(TColor c) override;
  TScrollStyle GetScrollBars() const { return scroll_bars_; }
  virtual void SetScrollBars(TScrollStyle s);
  int GetViewX() const { return view_x_; }
  int GetViewY() const { return view_y_; }
  void SetViewX(int x) { SetViewXY(x, view_y_); }
  void SetViewY(int y) { SetViewXY(view_x_, y); }
  void SetViewXY(int x, int y);
  void GetMaxViewXY(int& mx, int& my) const;
  int GetExtentX() const { return extent_x_; }
  int GetExtentY() const { return extent_y_; }
  void UpdateCoords();
  void Update() override;
  void Paint() override;
  virtual void PaintTo(TCanvas* canvas);
  void LockPaint() { ++paint_lock_; }
  int UnLockPaint();
  int NPUnLockPaint();
  TKVMMouseInteract GetMouseInteract() const { return mouse_interact_; }
  virtual void SetMouseInteract(TKVMMouseInteract s) { mouse_interact_ = s; }
  TKVMKeyInteract GetKeyInteract() const { return key_interact_; }
  virtual void SetKeyInteract(TKVMKeyInteract s) { key_interact_ = s; }
  virtual void ViewChange(int change);

  // --- Playing
  bool GetPlaying() const { return playing_; }
  void SetPlaying(bool on);
  bool GetPlayLoop() const { return play_loop_; }
  void SetPlayLoop(bool on) { play_loop_ = on; }
  int GetVisibleFrame() const { return visible_frame_; }
  void SetVisibleFrame(int idx);
  void PlayFrame();
  // Interval of the running playback timer in milliseconds; 0 when none runs.
  int PlayTimerInterval() const { return timer_ms_; }

  // What the last list change was (0 none, 1 insert, 2 delete); reading it
  // resets it to 0.
  int GetLastOp();
  int GetLastOpIdx() const { return last_op_idx_; }

  // The component that loads on-demand files (owned by the view).
  TKorvaneIO* Loader() const { return loader_; }

  // --- Decoding on worker threads
  // With n above 0 the grid decodes the files of its visible cells on n
  // threads of its own while the interface goes on: a cell paints as a
  // placeholder (its background) until its picture arrives, and the view
  // repaints as pictures arrive. The decode uses the Loader's parameters
  // and background as they are when the cell is first painted; OnIOProgress
  // is not called for it. Pictures for images deleted, renamed, given a
  // picture or scrolled out of view meanwhile are dropped. Images with an
  // ID, metafiles, the single-frame mode and playing load on the painting
  // thread as with 0, the default. GetBitmap and ObtainImage always load at
  // once, whatever is under way.
  void SetDecodeThreads(int n);
  int GetDecodeThreads() const { return decode_threads_; }
  // Decodes requested and not yet arrived.
  int GetDecodesPending() const { return decodes_pending_; }
  // Runs the event loop until every decode the visible cells need has
  // arrived and been painted (the view paints itself if Qt does not, as
  // when it is not shown), or TimeoutMs have passed (-1: no limit). True when
  // nothing is pending. Without worker threads it paints once.
  bool WaitForDecodes(int TimeoutMs = -1);
  // Fired at the end of the paint that shows the last picture arriving from
  // the workers (no decode pending any more).
  TNotifyEvent OnDecodesPainted;

  TViewChangeEvent OnViewChange;
  TKVImageIDRequestEvent OnImageIDRequest;
  TKVImageDrawEvent OnImageDraw;
  TKVImageSelectEvent OnImageSelect;
  TProgressEvent OnIOProgress;
  TKVMProgressEvent OnDrawProgress;

  static constexpr int kPlayTimer = 0;

 protected:
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void KeyDown(Word& Key, TShiftState Shift) override;
  void WMSize() override;
  void WMTimer(int id) override;
  void WMHScroll(int code, int pos) override;
  void WMVScroll(int code, int pos) override;
  void DoEnter() override;
  void DoExit() override;

 private:
  bool InRange(int idx) const { return idx >= 0 && idx < GetImageCount(); }
  void SetAndUpdate(int& field, int v) {
    field = v;
    Update();
  }
  // Columns of the grid for layout and seeking (GridWidth, or what fits).
  int Columns() const;
  bool UpdateOnce();
  void SyncScrollPos();
  void ScrollBy(int bar, int code, int pos);
  // The compact copy a new picture is stored as (reduced with kvtThumb).
  HGLOBAL CompactCopy(TBitmap* Bitmap);
  // Makes block h (taken; null for none) the picture of idx: into the lent
  // bitmap when the image is lent, else into the compact store.
  void StorePicture(int idx, HGLOBAL h);
  void TakeBlock(TKVImageInfo& info, HGLOBAL h);
  void DropBlock(TKVImageInfo& info);
  // Moves the selection to idx and borrows its image, without telling the
  // listeners; a failing load raises after the selection moved.
  void Select(int idx);
  void ReleaseSelection();
  void LendSelection();
  // The bitmap-change listeners: NotifyBitmap always calls them,
  // NotifyIfSwapped only when the selection's bitmap object is not the one
  // they were last told of.
  void NotifyBitmap();
  void NotifyIfSwapped();
  // Holds NotifyIfSwapped back while a list change is under way.
  struct Quiet {
    int& depth;
    bool in = true;
    explicit Quiet(int& d) : depth(d) { ++depth; }
    ~Quiet() { Leave(); }
    void Leave() {
      if (in) --depth, in = false;
    }
  };
  void PaintCell(TCanvas* canvas, int idx, int x, int y);
  // The composed screen of idx (GetComposedFrame's work), or null.
  TBitmap* Composed(int idx);
  // Any change to the list, a picture or a layout makes the composed screen
  // stale.
  void Recompose() { ++compose_gen_; }
  void PaintAbsentName(TCanvas* canvas, const TKVImageInfo& info, int x, int y);
  // Whether the picture of info is decoded on a worker thread.
  bool DecodesAway(const TKVImageInfo& info) const;
  void RequestDecode(TKVImageInfo& info);
  // Gives up the decode under way for info: its picture, when it comes, is
  // dropped.
  void ForgetDecode(TKVImageInfo& info);
  // Stores the pictures the workers finished (on the interface thread).
  void DeliverDecodes();

  std::vector<std::unique_ptr<TBitmap>> bitmaps_;
  std::vector<std::unique_ptr<TKVImageInfo>> infos_;
  TScrollStyle scroll_bars_ = ssNone;
  int view_x_ = 0, view_y_ = 0;
  TKVStoreType store_type_ = kvtNormal;
  int thumb_w_ = 100, thumb_h_ = 100;
  int hborder_ = 4, vborder_ = 4;
  int upper_gap_ = 0, bottom_gap_ = 0;
  int grid_width_ = 0;
  TKVMDisplayMode display_mode_ = mdGrid;
  int extent_x_ = 0, extent_y_ = 0;
  int selected_ = -1;
  bool visible_selection_ = true;
  int selection_width_ = 3;
  TColor selection_color_ = clRed;
  TKVMMouseInteract mouse_interact_;
  TKVMKeyInteract key_interact_;
  bool playing_ = false;
  bool play_loop_ = true;
  int visible_frame_ = 0;
  TKVMDisplayMode saved_mode_ = mdGrid;
  int saved_selected_ = -1;
  int timer_ms_ = 0;
  bool play_guard_ = false;
  int paint_lock_ = 0;
  int last_op_ = 0, last_op_idx_ = 0;
  bool captured_ = false;
  int down_x_ = 0, down_y_ = 0, down_vx_ = 0, down_vy_ = 0;
  TKorvaneIO* loader_ = nullptr;
  bool sel_loan_ = false;        // the selection holds one loan of its image
  TBitmap* told_bmp_ = nullptr;  // the bitmap the listeners were last told of
  int quiet_ = 0;
  bool painting_ = false;
  int64_t store_bytes_ = 0;
  int64_t store_limit_ = 0;
  TKVFrameComposer composer_;
  int64_t compose_gen_ = 0, composed_gen_ = -1;
  int composed_first_ = -1, composed_idx_ = -1;
  std::unique_ptr<TKVThumbDecoder> decoder_;
  int decode_threads_ = 0;
  int decodes_pending_ = 0;
  uint64_t last_ticket_ = 0;
  bool decodes_arrived_ = false;           // since OnDecodesPainted last fired
  std::function<void()> decodes_settled_;  // set while WaitForDecodes waits
};

}  // namespace korvane
