/// \file
/// The multi-image view: TKorvaneMView holds an ordered list of images and
/// shows them as a scrolling grid of equal cells, one at a time, or plays them
/// as an animation. Pictures are kept compact (packed DIBs in movable blocks)
/// and become TBitmaps only while borrowed; images may instead name a file or
/// an ID and are then loaded when their cell shows and dropped when it leaves,
/// on the painting thread or, when asked, on worker threads.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "korvane/foundations/host/export.h"
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
Q_NAMESPACE_EXPORT(KORVANE_EXPORT)
/// How the multi-image view keeps pictures: kvtNormal at full size, kvtThumb reduced to fit a cell
/// (ThumbWidth x ThumbHeight) when stored.
enum TKVStoreType { kvtNormal, kvtThumb };
Q_ENUM_NS(TKVStoreType)
/// mdGrid shows every image in a grid of cells; mdSingle shows one image, the visible frame, in the
/// first cell.
enum TKVMDisplayMode { mdGrid, mdSingle };
Q_ENUM_NS(TKVMDisplayMode)
}  // namespace mview_enums
using namespace mview_enums;
/// What the mouse does on the multi-image view: mmiScroll drags the grid, mmiSelect selects the image
/// clicked.
enum TKVMMouseInteractItems { mmiScroll, mmiSelect };
/// A set of mouse interactions.
using TKVMMouseInteract = TSet<TKVMMouseInteractItems>;
/// What keys do on the multi-image view: mkiMoveSelected moves the selection with the arrow, page, Home
/// and End keys.
enum TKVMKeyInteractItems { mkiMoveSelected };
/// A set of key interactions.
using TKVMKeyInteract = TSet<TKVMKeyInteractItems>;
/// Where TKorvaneMView::SelectSeek moves the selection: the previous or next image, a row up or down,
/// the first or last image, a page of visible rows down or up.
enum TKVSeek { iskLeft, iskRight, iskUp, iskDown, iskFirst, iskLast, iskPagDown, iskPagUp };

/// Handler asked for the picture of an image that has an ID: it points Bitmap at a bitmap it keeps
/// owning (the view stores a copy); leaving Bitmap null leaves the image absent.
using TKVImageIDRequestEvent = std::function<void(TObject* Sender, int ID, TBitmap*& Bitmap)>;
/// Handler called after a cell is painted, with the image, the cell's top left in client pixels and
/// the canvas, to draw over the cell.
using TKVImageDrawEvent = std::function<void(TObject* Sender, int idx, int Left, int Top, TCanvas* Canvas)>;
/// Handler called when SetSelectedItem or a click selects an image; idx is the selection (-1 none).
using TKVImageSelectEvent = std::function<void(TObject* Sender, int idx)>;
/// Handler of painting progress: per is the percent of cells done, idx the image painted next (100 and
/// 0 at the end).
using TKVMProgressEvent = std::function<void(TObject* Sender, int per, int idx)>;

/// One image of the view. FileName and ID exclude each other: an empty name is
/// none, ID -1 is none.
struct TKVImageInfo {
  HGLOBAL DIBHandle = nullptr;  ///< compact store (packed DIB), or none
  int BmpCount = 0;             ///< outstanding GetBitmap loans
  /// \var X
  /// Left of the cell in view coordinates (before scrolling).
  int X = 0, Y = 0;             ///< cell's top left in view coordinates
  /// \var Row
  /// Grid row of the cell.
  int Row = 0, Col = 0;         ///< grid column of the cell
  TColor Background = clBlack;  ///< color around the picture in its cell; a file load may set it
  std::string FileName;         ///< file the picture is loaded from when needed
  int ID = -1;                  ///< number OnImageIDRequest is asked with
  int DelayTime = 0;            ///< milliseconds on screen while playing
  /// Set for the frames of an animation: how the frame is drawn on its
  /// logical screen (see frame_compose.h).
  TKVFrameLayout Layout;
  /// The view's own bookkeeping of decoding on worker threads: the ticket of
  /// the decode under way for this image (0 none), and whether the last one
  /// gave no picture (the cell then paints as absent until the image is
  /// freed, renamed or scrolled out of view and back).
  uint64_t DecodeTicket = 0;
  bool DecodeFailed = false;  ///< the last decode gave no picture (see DecodeTicket)
};
/// An image's record, owned by the view.
using PKVImageInfo = TKVImageInfo*;

/// Fits a w x h picture into a W x H box keeping its aspect ratio (smaller
/// pictures are enlarged). Leaves ow, oh untouched when w or h is 0.
KORVANE_EXPORT void KVFitSize(int w, int h, int W, int H, int& ow, int& oh);

/// The multi-image view's mouse and key interactions as Qt flags, for its MouseInteract and KeyInteract
/// properties.
class KORVANE_EXPORT TKVMInteractFlags {
  Q_GADGET
 public:
  /// The mouse interactions, one bit per TKVMMouseInteractItems value.
  enum MouseItem { mmiScroll = 1 << korvane::mmiScroll, mmiSelect = 1 << korvane::mmiSelect };
  Q_DECLARE_FLAGS(Mouse, MouseItem)
  Q_FLAG(Mouse)
  /// The key interactions, one bit per TKVMKeyInteractItems value.
  enum KeyItem { mkiMoveSelected = 1 << korvane::mkiMoveSelected };
  Q_DECLARE_FLAGS(Keys, KeyItem)
  Q_FLAG(Keys)
};

/// The multi-image view; it owns its images' pictures and records and the loader of on-demand files.
class KORVANE_EXPORT TKorvaneMView : public TKVView {
  Q_OBJECT
  Q_PROPERTY(korvane::TKVMInteractFlags::Mouse MouseInteract READ MouseInteractFlags WRITE SetMouseInteractFlags)
  Q_PROPERTY(korvane::TKVMInteractFlags::Keys KeyInteract READ KeyInteractFlags WRITE SetKeyInteractFlags)
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
  /// Makes a 180 x 90 view owned by AOwner and parented to parent: no images, 100 x 100 cells, mmiSelect
  /// and mkiMoveSelected, a store limit of half the physical memory and its own loader (a TKorvaneIO).
  explicit TKorvaneMView(TComponent* AOwner, QWidget* parent = nullptr);
  /// Makes an unowned control inside a form's widget, as code generated by uic does.
  template <KVFormParent P>
  explicit TKorvaneMView(P* parent) : TKorvaneMView(nullptr, parent) {}
  /// Stops decoding and playing without raising events, then frees every picture and record.
  ~TKorvaneMView() override;

  /// Does nothing: the view copies no other object.
  virtual void Assign(TObject*) {}

  /// @name List and content
  //@{
  /** A negative idx raises EListError; an idx at or past the end appends. */
  void InsertImage(int idx);
  /// Inserts an image at the end, as InsertImage does, and returns its index.
  int AppendImage();
  /// Removes image idx with its picture, without repainting, and stops playing. The selection stays on its
  /// image (the new last one when the selected last image went); the listeners hear of the change. False
  /// out of range.
  bool DeleteImageNU(int idx);
  /// Removes image idx as DeleteImageNU does, then updates the layout and repaints.
  void DeleteImage(int idx);
  /// Deselects and removes every image, then repaints.
  void Clear();
  /// Stores a copy of Bitmap as the picture of idx (reduced with kvtThumb), lends it to the selection
  /// when idx is selected, and repaints. Raises EOutOfResources beyond the store limit.
  void SetImage(int idx, TBitmap* Bitmap);
  /// Stores a copy of Bitmap as the picture of idx and updates the layout, but lends nothing to the
  /// selection; null and out-of-range idx are ignored. A lent image's bitmap takes the new picture.
  void SetImageNU(int idx, TBitmap* Bitmap);
  /// Stores a copy of the inclusive rectangle x1..x2, y1..y2 of Bitmap (clipped; x2, y2 0 mean the last
  /// column and row) as the picture of idx and repaints; an empty Bitmap is ignored.
  void SetImageRect(int idx, TBitmap* Bitmap, int x1, int y1, int x2, int y2);
  /// Stores a packed DIB block as the picture, without repainting: the view
  /// takes the block. Blocks that are not 24- or 1-bit DIBs are converted
  /// (and freed), and with kvtThumb reduced to the cell size; a block that is
  /// no DIB raises EInvalidGraphic and is freed.
  void SetImageDIBNU(int idx, HGLOBAL Dib);
  /// Names the file the picture of idx is loaded from when needed, clearing its ID and giving up a decode
  /// under way; a picture held now stays until it is freed. Nothing is repainted.
  void SetImageFileName(int idx, const std::string& name);
  /// The file name of idx; empty when none or out of range.
  std::string GetImageFileName(int idx) const;
  /// Gives idx an ID that OnImageIDRequest is asked with, clearing its file name; a picture held now
  /// stays until it is freed. Nothing is repainted.
  void SetImageID(int idx, int id);
  /// The ID of idx; -1 when none or out of range.
  int GetImageID(int idx) const;
  /// Sets the color around the picture of idx (the screen color of an animation starting there) and
  /// repaints.
  void SetImageBackground(int idx, TColor c);
  /// The background of idx; 0 out of range.
  TColor GetImageBackground(int idx) const;
  /// Sets how long idx shows while playing, in milliseconds (at least 10 are used).
  void SetImageDelayTime(int idx, int ms);
  /// The delay of idx in milliseconds; 0 out of range.
  int GetImageDelayTime(int idx) const;
  /// The frame layout of an image (an invalid layout out of range). Images
  /// with a valid layout show composed on their animation's logical screen
  /// while playing and in mdSingle; the grid shows each frame alone.
  void SetImageLayout(int idx, const TKVFrameLayout& Layout);
  /// The layout of idx; an invalid one out of range.
  TKVFrameLayout GetImageLayout(int idx) const;
  /// The picture of idx as playing shows it: for a frame with a valid layout
  /// its logical screen after the frames of its animation up to idx (the
  /// animation starts at the last frame before it marked First, or at the
  /// first image without a layout); else the picture itself. False, with Out
  /// left alone, when there is no picture. Playing forward costs one frame a
  /// step.
  bool GetComposedFrame(int idx, TBitmap* Out);
  /// Width of the picture of idx in pixels; 0 when absent or out of range. Loads nothing.
  int GetImageWidth(int idx) const;
  /// Height of the picture of idx in pixels; 0 when absent or out of range. Loads nothing.
  int GetImageHeight(int idx) const;
  /// Left of the cell of idx in view coordinates, as the last layout placed it; 0 out of range.
  int GetImageX(int idx) const;
  /// Top of the cell of idx in view coordinates, as the last layout placed it; 0 out of range.
  int GetImageY(int idx) const;
  /// Grid row of the cell of idx; 0 out of range.
  int GetImageRow(int idx) const;
  /// Grid column of the cell of idx; 0 out of range.
  int GetImageCol(int idx) const;
  /// The compact block of idx (a packed DIB the view owns); null while lent, when absent or out of range.
  HGLOBAL GetBitmapInfo(int idx) const;
  /// Number of images.
  int GetImageCount() const { return int(infos_.size()); }
  /// The record of an image (null out of range).
  PKVImageInfo GetImageInfo(int idx) const;

  /// The selected image's bitmap (GetFBitmap), without a loan.
  using TKVView::GetBitmap;
  /// The loan protocol: every GetBitmap that answers a bitmap is matched by one
  /// ReleaseBitmap; changes made meanwhile are kept. A lent image keeps its
  /// bitmap object until the last release, even when it is given a new
  /// picture (the picture is copied into it). An absent image is obtained
  /// first; a file that fails to load raises the loader's error.
  TBitmap* GetBitmap(int idx);
  /// Ends one GetBitmap loan of idx.
  void ReleaseBitmap(int idx) { DecBmpCount(idx); }
  /// Ends one loan of idx; at the last, the bitmap with its changes goes back to the compact store.
  void DecBmpCount(int idx);
  /// Drops the picture, lent or not (borrowers must not use it any more).
  void FreeImage(int idx);
  /// Loads the picture of idx anew: from OnImageIDRequest for an image with an ID, else from its file
  /// through the Loader (reduced with kvtThumb), and repaints. Raises the loader's error.
  void ObtainImage(int idx);
  /// Repaints after the picture of idx changed (the whole view is updated).
  void UpdateImage(int idx);

  /// Bytes held in the compact store, and the most it may hold. Storing a
  /// picture beyond the limit raises EOutOfResources and leaves the image as
  /// it was; the default is half the physical memory, 0 means no limit.
  int64_t GetStoreBytes() const { return store_bytes_; }
  /// The most the compact store may hold in bytes; 0 means no limit.
  int64_t GetStoreLimit() const { return store_limit_; }
  /// Sets the limit for pictures stored from now on; pictures held stay.
  void SetStoreLimit(int64_t bytes) { store_limit_ = bytes; }
  //@}

  /// @name Selection and navigation
  //@{
  /// The selection moves even when its picture cannot be loaded; the
  /// loader's error is raised after the change is complete (and, for
  /// SetSelectedItem, after OnImageSelect and the repaint).
  int GetSelectedItem() const { return selected_; }  ///< the selected image, -1 when none
  /// Selects idx, lending it the view's bitmap, then calls OnImageSelect and repaints; out of range keeps
  /// the selection (the event still fires). Ignored while playing.
  void SetSelectedItem(int idx);
  /// Selects idx without OnImageSelect or a repaint (the bitmap-change listeners hear of it); ignored
  /// while playing or out of range.
  void SetSelectedItemNU(int idx);
  /// Selects nothing and repaints.
  void Deselect();
  /// Selects nothing without repainting; the selection's loan ends.
  void DeselectNU();
  /// The selected image's lent bitmap; null when nothing is selected or it has no picture.
  TBitmap* GetFBitmap() override;
  /// Whether the selected cell is framed; on at first.
  bool GetVisibleSelection() const { return visible_selection_; }
  /// Sets framing and repaints.
  void SetVisibleSelection(bool v);
  /// Thickness of the frame in pixels while the view has the focus (1 without it); 3 at first.
  int GetSelectionWidth() const { return selection_width_; }
  /// Sets the thickness and repaints.
  void SetSelectionWidth(int w);
  /// Color of the frame; clRed at first.
  TColor GetSelectionColor() const { return selection_color_; }
  /// Sets the color and repaints.
  void SetSelectionColor(TColor c);
  KV_QCOLOR_ACCESSORS(SelectionColor, GetSelectionColor, SetSelectionColor)
  /// Moves the selection as kind says and scrolls its cell into view; nothing without images or, but for
  /// iskFirst and iskLast, without a selection. A loader error is raised after the scroll.
  void SelectSeek(TKVSeek kind);
  /// Scrolls the selected cell to the centre of the client area as far as the limits allow.
  void CenterSelected();
  /// Scrolls the visible frame's cell to the centre of the client area as far as the limits allow.
  void CenterFrame();
  /// The image whose cell holds client point (x, y), -1 for none; in mdSingle and while playing only the
  /// visible frame's cell counts.
  int ImageAtPos(int x, int y) const;
  /// How much of the cell of idx the client area shows, judged by its edges: 2 all, 1 part, 0 none (or out
  /// of range).
  int GetImageVisibility(int idx) const;
  //@}

  /// @name Layout, scrolling, painting
  //@{
  /** Width of a cell in pixels, the picture fitted into it; 100 at first. */
  int GetThumbWidth() const { return thumb_w_; }
  /// Sets the width, lays the grid out again and repaints; pictures already stored keep their size.
  void SetThumbWidth(int v) { SetAndUpdate(thumb_w_, v); }
  /// Height of a cell in pixels, the picture fitted between UpperGap and BottomGap; 100 at first.
  int GetThumbHeight() const { return thumb_h_; }
  /// Sets the height, lays the grid out again and repaints; pictures already stored keep their size.
  void SetThumbHeight(int v) { SetAndUpdate(thumb_h_, v); }
  /// Pixels between columns and left of the first one; 4 at first.
  int GetHorizBorder() const { return hborder_; }
  /// Sets the border, lays the grid out again and repaints.
  void SetHorizBorder(int v) { SetAndUpdate(hborder_, v); }
  /// Pixels between rows and above the first one; 4 at first.
  int GetVertBorder() const { return vborder_; }
  /// Sets the border, lays the grid out again and repaints.
  void SetVertBorder(int v) { SetAndUpdate(vborder_, v); }
  /// Pixels at the top of each cell kept free of the picture; 0 at first.
  int GetUpperGap() const { return upper_gap_; }
  /// Sets the gap and repaints.
  void SetUpperGap(int v) { SetAndUpdate(upper_gap_, v); }
  /// Pixels at the bottom of each cell kept free of the picture (room for OnImageDraw); 0 at first.
  int GetBottomGap() const { return bottom_gap_; }
  /// Sets the gap and repaints.
  void SetBottomGap(int v) { SetAndUpdate(bottom_gap_, v); }
  /// Columns of the grid: -1 as many as fit the client width, 0 (the default) one row, else that many.
  int GetGridWidth() const { return grid_width_; }
  /// Sets the columns, lays the grid out again and repaints.
  void SetGridWidth(int v) { SetAndUpdate(grid_width_, v); }
  /// How pictures are stored; kvtNormal at first.
  TKVStoreType GetStoreType() const { return store_type_; }
  /// Sets the store type for pictures stored from now on.
  void SetStoreType(TKVStoreType t) { store_type_ = t; }
  /// Grid or single image; mdGrid at first.
  TKVMDisplayMode GetDisplayMode() const { return display_mode_; }
  /// Sets the mode and repaints; while playing, the mode is kept for when playing stops.
  void SetDisplayMode(TKVMDisplayMode m);
  /// Sets the color of the gaps between cells and repaints; images keep their own backgrounds (new ones
  /// take this one).
  void SetBackGround(TColor c) override;
  /// Which window scroll bars the view uses (ssNone at first); a bar shows only while the grid is larger
  /// than the client area on its axis.
  TScrollStyle GetScrollBars() const { return scroll_bars_; }
  /// Hides both bars and updates, which shows again those the style allows and the grid needs.
  virtual void SetScrollBars(TScrollStyle s);
  /// Horizontal scroll position in pixels, 0 .. the GetMaxViewXY limit.
  int GetViewX() const { return view_x_; }
  /// Vertical scroll position in pixels, 0 .. the GetMaxViewXY limit.
  int GetViewY() const { return view_y_; }
  /// Scrolls horizontally, as SetViewXY does with the vertical position kept.
  void SetViewX(int x) { SetViewXY(x, view_y_); }
  /// Scrolls vertically, as SetViewXY does with the horizontal position kept.
  void SetViewY(int y) { SetViewXY(view_x_, y); }
  /// Scrolls to (x, y), clamped to the limits, repaints and moves the scroll bar thumbs; ViewChange is
  /// not called.
  void SetViewXY(int x, int y);
  /// The largest scroll positions: the grid's extent less the client size, at least 0.
  void GetMaxViewXY(int& mx, int& my) const;
  /// Width of the whole grid in pixels, borders included, as the last layout computed it.
  int GetExtentX() const { return extent_x_; }
  /// Height of the whole grid in pixels, borders included, as the last layout computed it.
  int GetExtentY() const { return extent_y_; }
  /// Places the cells again (positions, rows, columns, extent) without repainting.
  void UpdateCoords();
  /// Lays the grid out, settles the scroll bars, tells the bitmap-change listeners and repaints; nothing
  /// while loading or going.
  void Update() override;
  /// Paints through PaintTo; nothing while painting is locked.
  void Paint() override;
  /// Paints the visible cells (loading or requesting their pictures), calls OnImageDraw for each, frames
  /// the selected one and fills the gaps; reports through OnDrawProgress. Pictures that can be had again
  /// are dropped when their cell is out of view.
  virtual void PaintTo(TCanvas* canvas);
  /// Suspends painting until every lock is released; locks nest.
  void LockPaint() { ++paint_lock_; }
  /// Releases one lock and, with none left, updates and repaints; returns the locks left.
  int UnLockPaint();
  /// Releases one lock without updating; returns the locks left.
  int NPUnLockPaint();
  /// What the mouse does; {mmiSelect} at first.
  TKVMMouseInteract GetMouseInteract() const { return mouse_interact_; }
  /// Sets the mouse interactions as given.
  virtual void SetMouseInteract(TKVMMouseInteract s) { mouse_interact_ = s; }
  /// What keys do; {mkiMoveSelected} at first. KeyDown moves the selection whatever it holds.
  TKVMKeyInteract GetKeyInteract() const { return key_interact_; }
  /// Sets the key interactions as given.
  virtual void SetKeyInteract(TKVMKeyInteract s) { key_interact_ = s; }
  /// The mouse interactions as Qt flags, for the MouseInteract property.
  TKVMInteractFlags::Mouse MouseInteractFlags() const {
    return KVSetToFlags<TKVMInteractFlags::Mouse>(GetMouseInteract());
  }
  /// Sets the mouse interactions from Qt flags, as SetMouseInteract does.
  void SetMouseInteractFlags(TKVMInteractFlags::Mouse f) {
    SetMouseInteract(KVFlagsToSet<TKVMMouseInteractItems>(f));
  }
  /// The key interactions as Qt flags, for the KeyInteract property.
  TKVMInteractFlags::Keys KeyInteractFlags() const { return KVSetToFlags<TKVMInteractFlags::Keys>(GetKeyInteract()); }
  /// Sets the key interactions from Qt flags, as SetKeyInteract does.
  void SetKeyInteractFlags(TKVMInteractFlags::Keys f) { SetKeyInteract(KVFlagsToSet<TKVMKeyInteractItems>(f)); }
  /// Calls OnViewChange with change; the view calls it with 0 when a layout pulls the scroll position
  /// back within its limits.
  virtual void ViewChange(int change);
  //@}

  /// @name Playing
  //@{
  /** Whether the images are being played one after the other in mdSingle. */
  bool GetPlaying() const { return playing_; }
  /// Starting deselects, switches to mdSingle and shows the visible frame, then each next image after its
  /// delay; stopping restores the display mode and the selection. Nothing while the view goes.
  void SetPlaying(bool on);
  /// Whether playing starts over after the last image (on at first); otherwise it stops there.
  bool GetPlayLoop() const { return play_loop_; }
  /// Sets looping from the next step on.
  void SetPlayLoop(bool on) { play_loop_ = on; }
  /// The image mdSingle shows (0 at first); while playing, the one shown next.
  int GetVisibleFrame() const { return visible_frame_; }
  /// Sets the image to show (not clamped; painting clamps) and repaints.
  void SetVisibleFrame(int idx);
  /// One playing step: shows the visible frame, advances it (to 0 after the last, stopping there without
  /// PlayLoop) and sets the timer to the shown image's delay. The play timer calls it.
  void PlayFrame();
  /// Interval of the running playback timer in milliseconds; 0 when none runs.
  int PlayTimerInterval() const { return timer_ms_; }

  /// What the last list change was (0 none, 1 insert, 2 delete); reading it
  /// resets it to 0.
  int GetLastOp();
  /// Index of the image the last list change inserted or deleted.
  int GetLastOpIdx() const { return last_op_idx_; }

  /// The component that loads on-demand files (owned by the view).
  TKorvaneIO* Loader() const { return loader_; }
  //@}

  /// @name Decoding on worker threads
  //@{
  /** With n above 0 the grid decodes the files of its visible cells on n
      threads of its own while the interface goes on: a cell paints as a
      placeholder (its background) until its picture arrives, and the view
      repaints as pictures arrive. The decode uses the Loader's parameters
      and background as they are when the cell is first painted; OnIOProgress
      is not called for it. Pictures for images deleted, renamed, given a
      picture or scrolled out of view meanwhile are dropped. Images with an
      ID, metafiles, the single-frame mode and playing load on the painting
      thread as with 0, the default. GetBitmap and ObtainImage always load at
      once, whatever is under way. */
  void SetDecodeThreads(int n);
  /// Threads decoding the cells' files; 0 (the default) decodes on the painting thread.
  int GetDecodeThreads() const { return decode_threads_; }
  /// Decodes requested and not yet arrived.
  int GetDecodesPending() const { return decodes_pending_; }
  /// Runs the event loop until every decode the visible cells need has
  /// arrived and been painted (the view paints itself if Qt does not, as
  /// when it is not shown), or TimeoutMs have passed (-1: no limit). True when
  /// nothing is pending. Without worker threads it paints once.
  bool WaitForDecodes(int TimeoutMs = -1);
  /// Fired at the end of the paint that shows the last picture arriving from
  /// the workers (no decode pending any more).
  TNotifyEvent OnDecodesPainted;

  /// Called by ViewChange with the view and the change.
  TViewChangeEvent OnViewChange;
  /// Asked for the picture of an image with an ID whenever it is needed.
  TKVImageIDRequestEvent OnImageIDRequest;
  /// Called after each cell is painted, to draw over it.
  TKVImageDrawEvent OnImageDraw;
  /// Called after SetSelectedItem or a click selected an image.
  TKVImageSelectEvent OnImageSelect;
  /// Progress of loading a file on the painting thread (handed to the Loader).
  TProgressEvent OnIOProgress;
  /// Called during PaintTo as the cells are painted.
  TKVMProgressEvent OnDrawProgress;

  /// Identifier of the play timer.
  static constexpr int kPlayTimer = 0;
  //@}

 protected:
  /// Takes the focus and notes where a drag starts.
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  /// With mmiScroll, scrolls the grid along with a drag.
  void MouseMove(TShiftState Shift, int X, int Y) override;
  /// With mmiSelect selects the image under the pointer, calls OnImageSelect and tells the listeners;
  /// with mmiScroll ends the drag's scroll. Nothing is selected while playing.
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  /// After the OnKeyDown handler, moves the selection with the arrow, page, Home and End keys and
  /// repaints; nothing while playing or when the handler took the key.
  void KeyDown(Word& Key, TShiftState Shift) override;
  /// Lays the grid out again after a resize.
  void WMSize() override;
  /// Plays the next frame on the play timer.
  void WMTimer(int id) override;
  /// Scrolls horizontally: 1 pixel per line, a cell width per page, to the thumb, or to either end.
  void WMHScroll(int code, int pos) override;
  /// Scrolls vertically: 1 pixel per line, a cell height per page, to the thumb, or to either end.
  void WMVScroll(int code, int pos) override;
  /// Repaints: the selection's frame is SelectionWidth thick only while the view has the focus.
  void DoEnter() override;
  /// Repaints, the selection's frame going back to 1 pixel.
  void DoExit() override;

 private:
  bool InRange(int idx) const { return idx >= 0 && idx < GetImageCount(); }
  void SetAndUpdate(int& field, int v) {
    field = v;
    Update();
  }
  /// Columns of the grid for layout and seeking (GridWidth, or what fits).
  int Columns() const;
  bool UpdateOnce();
  void SyncScrollPos();
  void ScrollBy(int bar, int code, int pos);
  /// The compact copy a new picture is stored as (reduced with kvtThumb).
  HGLOBAL CompactCopy(TBitmap* Bitmap);
  /// Makes block h (taken; null for none) the picture of idx: into the lent
  /// bitmap when the image is lent, else into the compact store.
  void StorePicture(int idx, HGLOBAL h);
  void TakeBlock(TKVImageInfo& info, HGLOBAL h);
  void DropBlock(TKVImageInfo& info);
  /// Moves the selection to idx and borrows its image, without telling the
  /// listeners; a failing load raises after the selection moved.
  void Select(int idx);
  void ReleaseSelection();
  void LendSelection();
  /// The bitmap-change listeners: NotifyBitmap always calls them,
  /// NotifyIfSwapped only when the selection's bitmap object is not the one
  /// they were last told of.
  void NotifyBitmap();
  void NotifyIfSwapped();
  /// Holds NotifyIfSwapped back while a list change is under way.
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
  /// The composed screen of idx (GetComposedFrame's work), or null.
  TBitmap* Composed(int idx);
  /// Any change to the list, a picture or a layout makes the composed screen
  /// stale.
  void Recompose() { ++compose_gen_; }
  void PaintAbsentName(TCanvas* canvas, const TKVImageInfo& info, int x, int y);
  /// Whether the picture of info is decoded on a worker thread.
  bool DecodesAway(const TKVImageInfo& info) const;
  void RequestDecode(TKVImageInfo& info);
  /// Gives up the decode under way for info: its picture, when it comes, is
  /// dropped.
  void ForgetDecode(TKVImageInfo& info);
  /// Stores the pictures the workers finished (on the interface thread).
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
  bool sel_loan_ = false;        ///< the selection holds one loan of its image
  TBitmap* told_bmp_ = nullptr;  ///< the bitmap the listeners were last told of
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
  bool decodes_arrived_ = false;           ///< since OnDecodesPainted last fired
  std::function<void()> decodes_settled_;  ///< set while WaitForDecodes waits
};

}  // namespace korvane
