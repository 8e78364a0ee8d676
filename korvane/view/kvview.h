// The image views: TKVView, the base that attached components hold (bitmap,
// resolution, background, bitmap-change listeners), and TKorvaneView, the
// zoomable, scrollable view of one bitmap with selections and mouse
// interaction.
#pragma once
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "korvane/foundations/host/controls.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvdefs.h"
#include "korvane/view/anim_polygon.h"
#include "korvane/view/view_geometry.h"

namespace korvane {

// Registered with Qt's meta-object system (see control_enums in
// host/controls.h).
namespace view_enums {
Q_NAMESPACE
enum TKVBackgroundStyle {
  kvbsSolid,
  kvbsHorizontal,
  kvbsVertical,
  kvbsFDiagonal,
  kvbsBDiagonal,
  kvbsCross,
  kvbsDiagCross,
  kvbsChessboard,
  kvbsDiagonals
};
Q_ENUM_NS(TKVBackgroundStyle)
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
Q_ENUM_NS(TScrollStyle)
enum TKVSelectionBase { kvsbClientArea, kvsbBitmap };
Q_ENUM_NS(TKVSelectionBase)
}  // namespace view_enums
using namespace view_enums;

// TKVMouseInteract as Qt flags, for the view's MouseInteract property.
class TKVMouseInteractFlags {
  Q_GADGET
 public:
  enum Item {
    miZoom = 1 << korvane::miZoom,
    miScroll = 1 << korvane::miScroll,
    miSelect = 1 << korvane::miSelect,
    miSelectPolygon = 1 << korvane::miSelectPolygon,
    miSelectCircle = 1 << korvane::miSelectCircle,
    miSelectZoom = 1 << korvane::miSelectZoom
  };
  Q_DECLARE_FLAGS(Flags, Item)
  Q_FLAG(Flags)
};

using TViewChangeEvent = std::function<void(TObject* Sender, int Change)>;

// Screen resolution and depth read when the library starts: the default
// resolution of every new view.
extern int gSystemDPIX;
extern int gSystemDPIY;
extern int gSystemColors;
// Reads the screen globals when they are not read yet (the first view, I/O
// component or metafile does; a GUI application must exist).
void InitScreenGlobals();
extern int gAnimDim;

// The base of the views: what attached components need from a view.
class TKVView : public TCustomControl {
  Q_OBJECT
  Q_PROPERTY(QColor Background READ BackgroundQColor WRITE SetBackgroundQColor)
  Q_PROPERTY(int DPIX READ GetDPIX WRITE SetDPIX)
  Q_PROPERTY(int DPIY READ GetDPIY WRITE SetDPIY)

 public:
  explicit TKVView(TComponent* AOwner, QWidget* parent = nullptr);
  ~TKVView() override;

  TColor GetBackground() const { return background_; }
  virtual void SetBackGround(TColor c) { background_ = c; }
  KV_QCOLOR_ACCESSORS(Background, GetBackground, SetBackGround)
  // The bitmap shown; none in the base.
  virtual TBitmap* GetFBitmap() { return nullptr; }
  TBitmap* GetBitmap() { return GetFBitmap(); }

  int GetDPIX() const { return dpix_; }
  int GetDPIY() const { return dpiy_; }
  virtual void SetDPIX(int v) { dpix_ = v; }
  virtual void SetDPIY(int v) { dpiy_ = v; }
  virtual void SetDPI(int x, int y) {
    dpix_ = x;
    dpiy_ = y;
  }
  // Tells the view its bitmap's contents changed (calls OnImageChange in
  // TKorvaneView).
  virtual void ImageChange() {}
  // Recomputes what depends on the bitmap's size and repaints; components
  // call it after changing the bitmap.
  virtual void Update() { Invalidate(); }

  // Bitmap-change listeners, keyed by the listening object: registered when a
  // component attaches, removed when it detaches or is destroyed. Called in
  // registration order with the view as Sender when the view puts another
  // bitmap object in place.
  void RegisterBitmapChangeEvent(TObject* listener, TNotifyEvent m);
  void RemoveBitmapChangeEvent(TObject* listener);
  void CallBitmapChangeEvents();
  int BitmapChangeEventCount() const { return int(listeners_.size()); }

 protected:
  TColor background_ = clBtnFace;
  int dpix_ = 0;
  int dpiy_ = 0;

 private:
  std::vector<std::pair<TObject*, TNotifyEvent>> listeners_;
};

// A logical palette as the window system takes it.
struct TPaletteEntry {
  uint8_t peRed = 0, peGreen = 0, peBlue = 0, peFlags = 0;
};
struct TLogPalette {
  uint16_t palVersion = 0x300;
  std::vector<TPaletteEntry> palPalEntry;
};

// The image view.
class TKorvaneView : public TKVView {
  Q_OBJECT
  Q_PROPERTY(int Zoom READ GetZoom WRITE SetZoom)
  Q_PROPERTY(korvane::defs_enums::TResampleFilter ZoomFilter READ GetZoomFilter WRITE SetZoomFilter)
  Q_PROPERTY(bool DelayZoomFilter READ GetDelayZoomFilter WRITE SetDelayZoomFilter)
  Q_PROPERTY(korvane::view_enums::TScrollStyle ScrollBars READ GetScrollBars WRITE SetScrollBars)
  Q_PROPERTY(bool Center READ GetCenter WRITE SetCenter)
  Q_PROPERTY(bool DoubleBuffer READ GetDoubleBuffer WRITE SetDoubleBuffer)
  Q_PROPERTY(bool AutoFit READ GetAutoFit WRITE SetAutoFit)
  Q_PROPERTY(korvane::view_enums::TKVBackgroundStyle BackgroundStyle READ GetBackgroundStyle WRITE SetBackgroundStyle)
  Q_PROPERTY(korvane::TKVMouseInteractFlags::Flags MouseInteract READ MouseInteractFlags WRITE SetMouseInteractFlags)
  Q_PROPERTY(korvane::view_enums::TKVSelectionBase SelectionBase READ GetSelectionBase WRITE SetSelectionBase)
  Q_PROPERTY(bool AnimatedSel READ GetAnimatedSel WRITE SetAnimatedSel)
  Q_PROPERTY(QColor SelColor1 READ SelColor1QColor WRITE SetSelColor1QColor)
  Q_PROPERTY(QColor SelColor2 READ SelColor2QColor WRITE SetSelColor2QColor)

 public:
  explicit TKorvaneView(TComponent* AOwner, QWidget* parent = nullptr);
  template <KVFormParent P>
  explicit TKorvaneView(P* parent) : TKorvaneView(nullptr, parent) {}
  ~TKorvaneView() override;

  // --- Bitmap and attachment
  TBitmap* GetFBitmap() override { return bitmap_.get(); }
  void SetBackGround(TColor c) override;
  void ImageChange() override;
  // Copies a view (bitmap, background, resolution) or a bitmap into this
  // view; null fills the bitmap with the background. Other sources are
  // ignored.
  virtual void Assign(TObject* Source);
  // Fills the bitmap with the background; Blank first makes it 1 x 1.
  void Clear();
  void Blank();

  // --- Zoom and origin
  int GetZoom() const { return geo_.Zoom; }
  void SetZoom(int z);
  int GetViewX() const { return geo_.ViewX; }
  int GetViewY() const { return geo_.ViewY; }
  void SetViewX(int x) { SetViewXY(x, geo_.ViewY); }
  void SetViewY(int y) { SetViewXY(geo_.ViewX, y); }
  void SetViewXY(int x, int y);
  void GetMaxViewXY(int& mx, int& my);
  void ZoomAt(int x, int y, int z);
  void Fit();
  void ZoomSelection();
  int GetIdealComponentWidth();
  int GetIdealComponentHeight();
  int GetOffsetX() const { return geo_.OffsetX; }
  int GetOffsetY() const { return geo_.OffsetY; }
  int GetExtentX() const { return geo_.ExtentX; }
  int GetExtentY() const { return geo_.ExtentY; }
  int GetZoomedWidth() const { return geo_.ZoomedWidth; }
  int GetZoomedHeight() const { return geo_.ZoomedHeight; }
  const TViewGeometry& Geometry() const { return geo_; }

  int XScr2Bmp(int x) const { return geo_.XScr2Bmp(x); }
  int YScr2Bmp(int y) const { return geo_.YScr2Bmp(y); }
  int XBmp2Scr(int x) const { return geo_.XBmp2Scr(x); }
  int YBmp2Scr(int y) const { return geo_.YBmp2Scr(y); }

  // --- Display options
  TResampleFilter GetZoomFilter() const { return zoom_filter_; }
  void SetZoomFilter(TResampleFilter f);
  bool GetDelayZoomFilter() const { return delay_zoom_filter_; }
  void SetDelayZoomFilter(bool on) { delay_zoom_filter_ = on; }
  // Paints left before the delayed filter is applied (0 when none pending).
  int GetFilterDelay() const { return filter_delay_; }
  TScrollStyle GetScrollBars() const { return scroll_bars_; }
  virtual void SetScrollBars(TScrollStyle s);
  bool GetCenter() const { return center_; }
  void SetCenter(bool on);
  bool GetDoubleBuffer() const { return double_buffer_; }
  void SetDoubleBuffer(bool on);
  bool GetAutoFit() const { return auto_fit_; }
  void SetAutoFit(bool on);
  TKVBackgroundStyle GetBackgroundStyle() const { return background_style_; }
  void SetBackgroundStyle(TKVBackgroundStyle s);
  // The color the chessboard and diagonals styles pair with the background:
  // the complement of its RGB value.
  TColor ContrastColor() const;

  // --- Painting
  void LockPaint() { ++paint_lock_; }
  void UnLockPaint();
  void NPUnLockPaint() {
    if (paint_lock_ > 0) --paint_lock_;
  }
  int PaintLockCount() const { return paint_lock_; }
  // Recomputes the zoomed size, extent, offsets, origin limits and scroll
  // bars, and invalidates the control.
  void Update() override;
  void Paint() override;
  // Background and image with the screen layout.
  virtual void PaintTo(TCanvas* canvas);
  // The visible part of the image at the current zoom at (0, 0), without
  // background.
  void DrawTo(TCanvas* canvas);
  void DrawBackground(TCanvas* canvas);
  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;

  // A 256-entry palette for the bitmap (median cut); the caller owns it.
  TLogPalette* _CreatePalette();

  void SaveCursor(TCursor c);
  void RestoreCursor();

  // --- Selection
  TKVMouseInteract GetMouseInteract() const { return mouse_interact_; }
  virtual void SetMouseInteract(TKVMouseInteract s);
  TKVMouseInteractFlags::Flags MouseInteractFlags() const {
    return KVSetToFlags<TKVMouseInteractFlags::Flags>(GetMouseInteract());
  }
  void SetMouseInteractFlags(TKVMouseInteractFlags::Flags f) {
    SetMouseInteract(KVFlagsToSet<TKVMouseInteractItems>(f));
  }
  TKVSelectionBase GetSelectionBase() const { return selection_base_; }
  void SetSelectionBase(TKVSelectionBase b) { selection_base_ = b; }
  bool GetAnimatedSel() const { return sel_->Animated; }
  void SetAnimatedSel(bool on) { sel_->Animated = on; }
  TColor GetSelColor1() const { return sel_->Color1; }
  void SetSelColor1(TColor c) { sel_->Color1 = c; }
  TColor GetSelColor2() const { return sel_->Color2; }
  void SetSelColor2(TColor c) { sel_->Color2 = c; }
  KV_QCOLOR_ACCESSORS(SelColor1, GetSelColor1, SetSelColor1)
  KV_QCOLOR_ACCESSORS(SelColor2, GetSelColor2, SetSelColor2)

  // Selects the rectangle with corners (x1, y1) and (x2, y2) (client or
  // bitmap coordinates as SelectionBase says); ignored when empty.
  virtual void Select(int x1, int y1, int x2, int y2);
  // Appends a vertex to the selection polygon.
  virtual void AddSelPoint(int x, int y);
  void DeSelect();
  bool Selected() const { return has_sel_; }
  bool DrawingPolygon() const { return drawing_poly_; }
  const TPoint* GetPolySelArray() const { return sel_->Points(); }
  int GetPolySelCount() const { return sel_->Count(); }
  // The i-th vertex in bitmap pixels; (0, 0) outside the polygon.
  TPoint GetPolySel(int i) const { return sel_->At(i); }
  int GetSelX1() const { return sel_->X1; }
  int GetSelY1() const { return sel_->Y1; }
  int GetSelX2() const { return sel_->X2; }
  int GetSelY2() const { return sel_->Y2; }
  void ShowSelectionEx(bool redraw);
  void HideSelectionEx(bool repaint);
  bool GetVisibleSelection() const { return sel_->Visible; }
  void SetVisibleSelection(bool v) {
    if (v) ShowSelectionEx(true); else HideSelectionEx(true);
  }
  void DoSelectionChange() {
    if (OnSelectionChange) OnSelectionChange(this);
  }
  // Copies the selected part of the bitmap (bounding box through the
  // polygon) into a view or a bitmap.
  void AssignSelTo(TObject* Dest);
  void CopyFromPolygon(TBitmap* Source, const TPoint* Polygon, int Count, TPoint Position);
  void CopyToPolygon(TBitmap* Dest, const TPoint* Polygon, int Count, TPoint Position);

  // --- Animated polygons (the selection is the first)
  TKVAnimPolygon* AnimPolygonNew(TColor c1, TColor c2, bool animated);
  void AnimPolygonAddPtEx(TKVAnimPolygon* p, int x, int y);
  void AnimPolygonAddPt(TKVAnimPolygon* p, int x, int y);
  void AnimPolygonClear(TKVAnimPolygon* p);
  void AnimPolygonDel(TKVAnimPolygon* p);
  int AnimPolygonCount() const { return int(polygons_.size()); }
  // One animation step: from the timer it advances the phases and counts the
  // filter delay down; called directly it only draws.
  void AnimStep(bool fromTimer);

  // --- Mouse zoom steps and view changes
  virtual void ViewChange(int change);
  virtual void SubMouseMoveScroll(int dx, int dy);

  TViewChangeEvent OnViewChange;
  TNotifyEvent OnImageChange;
  TNotifyEvent OnSelectionChange;

  // Identifier of the animation timer.
  static constexpr int kAnimTimer = 1;
  static constexpr int kAnimInterval = 150;

 protected:
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void DblClick() override;
  void WMSize() override;
  void WMTimer(int id) override;
  void WMHScroll(int code, int pos) override;
  void WMVScroll(int code, int pos) override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  bool Designing() const { return ComponentState().Contains(csDesigning); }
  void ArmFilterDelay() {
    if (delay_zoom_filter_) filter_delay_ = 2;
  }
  void UpdateOnce(bool& clientChanged);
  void SyncScrollThumbs();
  void Scroll(int bar, int code, int pos);
  void DrawOutlines();
  void DrawRubberBand();
  TPoint ClampToImage(int x, int y) const;
  TPoint ToBitmap(TPoint client) const { return Point(XScr2Bmp(client.x), YScr2Bmp(client.y)); }
  void SelectRect(TPoint a, TPoint b);  // bitmap coordinates
  void MouseSelect(TPoint a, TPoint b);  // client coordinates, through Select
  void MouseAddSelPoint(TPoint p);      // client coordinates, through AddSelPoint
  void AutoScroll();
  bool PointerOutsideImage() const;
  // The bitmap rectangle on screen at the current zoom and origin; false for
  // an empty bitmap. trimOverhang drops the column or row that rounding
  // pushed past the bitmap's edge.
  bool SourceRect(bool trimOverhang, TRect& r) const;
  // The background with the image's rectangle left out.
  void DrawBackgroundAround(TCanvas* canvas, const TRect& image);
  void DrawImageRect(TCanvas* canvas, int dx, int dy, int sx, int sy, int sw, int sh, bool filter);

  std::unique_ptr<TBitmap> bitmap_;
  std::unique_ptr<TBitmap> offscreen_;
  TViewGeometry geo_;
  TResampleFilter zoom_filter_ = rfNone;
  bool delay_zoom_filter_ = false;
  int filter_delay_ = 0;
  TScrollStyle scroll_bars_ = ssNone;
  bool center_ = false;
  bool double_buffer_ = false;
  bool auto_fit_ = false;
  TKVBackgroundStyle background_style_ = kvbsSolid;
  int paint_lock_ = 0;
  bool full_repaint_ = true;
  int last_bw_ = -1, last_bh_ = -1;
  int update_depth_ = 0;

  // Selection and polygons.
  std::vector<std::unique_ptr<TKVAnimPolygon>> polygons_;
  TKVAnimPolygon* sel_ = nullptr;
  bool has_sel_ = false;
  bool drawing_poly_ = false;
  bool selecting_rect_ = false;
  bool selecting_ellipse_ = false;
  TKVMouseInteract mouse_interact_;
  TKVSelectionBase selection_base_ = kvsbClientArea;

  // Mouse state.
  bool captured_ = false;
  TMouseButton drag_button_ = mbLeft;  // the press that started the drag
  TPoint down_;
  TPoint down_view_;
  TPoint last_;
  TPoint pointer_;  // last mouse position, unclamped
  TShiftState last_shift_;
  TResampleFilter saved_filter_ = rfNone;
  bool cursor_saved_ = false;
};

// Sets only the page size of one window scroll bar of a control.
void SetSBPageSize(TCustomControl* window, int bar, int page, bool redraw);

// Identifiers of the view's cursors, registered when the first view is made.
constexpr TCursor crKVZoomOut = 1778;
constexpr TCursor crKVZoomIn = 1779;
constexpr TCursor crKVCross = 1780;
constexpr TCursor crKVEraser = 1781;
constexpr TCursor crKVHand = 1782;
constexpr TCursor crKVPen = 1783;
constexpr TCursor crKVCross1 = 1784;
constexpr TCursor crKVCross2 = 1785;
// Draws and registers the eight cursors (once).
void RegisterViewCursors();

}  // namespace korvane
