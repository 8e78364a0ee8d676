/// \file
/// The image views: TKVView, the base that attached components hold (bitmap,
/// resolution, background, bitmap-change listeners), and TKorvaneView, the
/// zoomable, scrollable view of one bitmap with selections and mouse
/// interaction.
#pragma once
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "korvane/foundations/host/controls.h"
#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvdefs.h"
#include "korvane/view/anim_polygon.h"
#include "korvane/view/view_geometry.h"

namespace korvane {

// Registered with Qt's meta-object system (see control_enums in
// host/controls.h).
namespace view_enums {
Q_NAMESPACE_EXPORT(KORVANE_EXPORT)
/// How an image view paints the client area around the image.
enum TKVBackgroundStyle {
  kvbsSolid,       ///< the background color
  kvbsHorizontal,  ///< horizontal hatch in the background color over its contrast color
  kvbsVertical,    ///< vertical hatch, likewise
  kvbsFDiagonal,   ///< forward diagonal hatch, likewise
  kvbsBDiagonal,   ///< backward diagonal hatch, likewise
  kvbsCross,       ///< horizontal and vertical cross hatch, likewise
  kvbsDiagCross,   ///< diagonal cross hatch, likewise
  kvbsChessboard,  ///< 16-pixel squares of the contrast color and the background
  kvbsDiagonals    ///< the background crossed corner to corner by two contrast lines
};
Q_ENUM_NS(TKVBackgroundStyle)
/// Which window scroll bars a view uses (none, horizontal, vertical, both); a bar shows only while there
/// is something to scroll on its axis.
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
Q_ENUM_NS(TScrollStyle)
/// Coordinates that TKorvaneView::Select and AddSelPoint take: client (screen) pixels (kvsbClientArea)
/// or bitmap pixels (kvsbBitmap).
enum TKVSelectionBase { kvsbClientArea, kvsbBitmap };
Q_ENUM_NS(TKVSelectionBase)
}  // namespace view_enums
using namespace view_enums;

/// TKVMouseInteract as Qt flags, for the view's MouseInteract property.
class KORVANE_EXPORT TKVMouseInteractFlags {
  Q_GADGET
 public:
  /// The mouse interactions, one bit per TKVMouseInteractItems value.
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

/// Handler of TKorvaneView::OnViewChange: Sender is the view, Change is 0 when the origin moved and 1
/// when the zoom changed.
using TViewChangeEvent = std::function<void(TObject* Sender, int Change)>;

/// Screen resolution and depth read when the library starts: the default
/// resolution of every new view.
extern KORVANE_EXPORT int gSystemDPIX;
extern KORVANE_EXPORT int gSystemDPIY;  ///< vertical resolution in dots per inch
extern KORVANE_EXPORT int gSystemColors;  ///< bits per screen pixel
/// Reads the screen globals when they are not read yet (the first view, I/O
/// component or metafile does; a GUI application must exist).
KORVANE_EXPORT void InitScreenGlobals();
/// An animation setting kept for callers that set it (starts at 7); the views do not read it.
extern KORVANE_EXPORT int gAnimDim;

/// The base of the views: what attached components need from a view.
class KORVANE_EXPORT TKVView : public TCustomControl {
  Q_OBJECT
  Q_PROPERTY(QColor Background READ BackgroundQColor WRITE SetBackgroundQColor)
  Q_PROPERTY(int DPIX READ GetDPIX WRITE SetDPIX)
  Q_PROPERTY(int DPIY READ GetDPIY WRITE SetDPIY)

 public:
  /// Makes a view owned by AOwner (as a component) and parented to parent (as a widget), with a single
  /// border, a clBtnFace background and the screen resolution noted in gSystemDPIX and gSystemDPIY.
  explicit TKVView(TComponent* AOwner, QWidget* parent = nullptr);
  /// Notifies the components that follow the view (opRemove) while its listener list still exists,
  /// so that they can unregister.
  ~TKVView() override;

  /// The background color (clBtnFace at first): what surrounds the image and what Clear fills with.
  TColor GetBackground() const { return background_; }
  /// Stores the background color; the base neither repaints nor raises an event.
  virtual void SetBackGround(TColor c) { background_ = c; }
  KV_QCOLOR_ACCESSORS(Background, GetBackground, SetBackGround)
  /// The bitmap shown; none in the base.
  virtual TBitmap* GetFBitmap() { return nullptr; }
  /// The bitmap shown, through GetFBitmap; null in the base.
  TBitmap* GetBitmap() { return GetFBitmap(); }

  /// Horizontal resolution of the bitmap in dots per inch; starts at the screen's.
  int GetDPIX() const { return dpix_; }
  /// Vertical resolution of the bitmap in dots per inch; starts at the screen's.
  int GetDPIY() const { return dpiy_; }
  /// Sets the horizontal resolution; nothing is repainted.
  virtual void SetDPIX(int v) { dpix_ = v; }
  /// Sets the vertical resolution; nothing is repainted.
  virtual void SetDPIY(int v) { dpiy_ = v; }
  /// Sets both resolutions at once (dots per inch); nothing is repainted.
  virtual void SetDPI(int x, int y) {
    dpix_ = x;
    dpiy_ = y;
  }
  /// Tells the view its bitmap's contents changed (calls OnImageChange in
  /// TKorvaneView).
  virtual void ImageChange() {}
  /// Recomputes what depends on the bitmap's size and repaints; components
  /// call it after changing the bitmap.
  virtual void Update() { Invalidate(); }

  /// Bitmap-change listeners, keyed by the listening object: registered when a
  /// component attaches, removed when it detaches or is destroyed. Called in
  /// registration order with the view as Sender when the view puts another
  /// bitmap object in place.
  void RegisterBitmapChangeEvent(TObject* listener, TNotifyEvent m);
  /// Removes the first handler registered for listener; nothing when it has none.
  void RemoveBitmapChangeEvent(TObject* listener);
  /// Calls every registered handler, walking a copy of the list so that a handler may detach itself.
  void CallBitmapChangeEvents();
  /// Number of registered bitmap-change handlers.
  int BitmapChangeEventCount() const { return int(listeners_.size()); }

 protected:
  TColor background_ = clBtnFace;  ///< the background color, see GetBackground
  int dpix_ = 0;  ///< horizontal resolution, dots per inch
  int dpiy_ = 0;  ///< vertical resolution, dots per inch

 private:
  std::vector<std::pair<TObject*, TNotifyEvent>> listeners_;
};

/// A logical palette as the window system takes it.
struct TPaletteEntry {
  /// \var peRed
  /// Red intensity, 0..255.
  /// \var peGreen
  /// Green intensity, 0..255.
  /// \var peBlue
  /// Blue intensity, 0..255.
  uint8_t peRed = 0, peGreen = 0, peBlue = 0, peFlags = 0;  ///< flags for the window system; 0 from the view
};
/// A logical palette: a version and its entries, as TKorvaneView::_CreatePalette returns it.
struct TLogPalette {
  uint16_t palVersion = 0x300;  ///< palette format version, always 0x300
  std::vector<TPaletteEntry> palPalEntry;  ///< the colors, 256 from _CreatePalette
};

/// The image view.
class KORVANE_EXPORT TKorvaneView : public TKVView {
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
  /// Makes a view owned by AOwner and parented to parent, 105 x 105 pixels, with an empty 24-bit bitmap,
  /// zoom 100, no scroll bars, the crKVCross2 cursor and a hidden black and white selection outline whose
  /// animation timer starts at once (not while designing).
  explicit TKorvaneView(TComponent* AOwner, QWidget* parent = nullptr);
  /// Makes an unowned control inside a form's widget, as code generated by uic does.
  template <KVFormParent P>
  explicit TKorvaneView(P* parent) : TKorvaneView(nullptr, parent) {}
  /// Notifies subscribed components, restores a cursor SaveCursor left, stops the animation timer and
  /// frees the bitmap and the animated polygons.
  ~TKorvaneView() override;

  /// @name Bitmap and attachment
  //@{
  /** The view's own bitmap, never null; the view owns it for its whole life. */
  TBitmap* GetFBitmap() override { return bitmap_.get(); }
  /// Sets the background (while designing also filling the bitmap with it), updates the layout and
  /// calls ImageChange.
  void SetBackGround(TColor c) override;
  /// Calls OnImageChange with the view, when set.
  void ImageChange() override;
  /// Copies a view (bitmap, background, resolution) or a bitmap into this
  /// view; null fills the bitmap with the background. Other sources are
  /// ignored.
  virtual void Assign(TObject* Source);
  /// Fills the bitmap with the background; Blank first makes it 1 x 1.
  void Clear();
  /// Makes the bitmap 1 x 1 and fills it with the background (through Clear), then updates.
  void Blank();
  //@}

  /// @name Zoom and origin
  //@{
  /** The zoom in percent (100 at first); 100 shows one bitmap pixel per screen pixel. */
  int GetZoom() const { return geo_.Zoom; }
  /// Sets the zoom and repaints, keeping the origin within its limits, and calls ViewChange(1); values
  /// below 1 and the current zoom are ignored. With AutoFit on, the next Update fits again.
  void SetZoom(int z);
  /// Horizontal origin: the zoomed-image column at the client area's left edge, 0 .. the GetMaxViewXY limit.
  int GetViewX() const { return geo_.ViewX; }
  /// Vertical origin: the zoomed-image row at the client area's top edge, 0 .. the GetMaxViewXY limit.
  int GetViewY() const { return geo_.ViewY; }
  /// Scrolls horizontally, as SetViewXY does with the vertical origin kept.
  void SetViewX(int x) { SetViewXY(x, geo_.ViewY); }
  /// Scrolls vertically, as SetViewXY does with the horizontal origin kept.
  void SetViewY(int y) { SetViewXY(geo_.ViewX, y); }
  /// Scrolls to the origin (x, y), clamped to its limits, repaints, calls ViewChange(0) and moves the
  /// scroll bar thumbs; nothing when the origin is already (x, y).
  void SetViewXY(int x, int y);
  /// The largest origins now allowed: 0 on an axis where the zoomed image fits the client area, and 0 on
  /// both when it fits the control's outer size (see ViewMaxXY).
  void GetMaxViewXY(int& mx, int& my);
  /// Zooms to z and scrolls so that the bitmap point that was under client point (x, y) comes to the
  /// client area's centre as far as the limits allow; paints once at the end.
  void ZoomAt(int x, int y, int z);
  /// Zooms so that the whole bitmap fits the control's outer size (FitZoom); nothing for an empty bitmap.
  void Fit();
  /// Zooms so that the selection's bounding box fills the control, centres it and removes the selection;
  /// nothing without a selection.
  void ZoomSelection();
  /// Control width that shows the whole zoomed bitmap: its truncated zoomed width plus 1, plus the
  /// non-client width (border and vertical bar) when horizontal scroll bars are enabled.
  int GetIdealComponentWidth();
  /// Control height that shows the whole zoomed bitmap: its truncated zoomed height plus 1, plus the
  /// non-client height (border and horizontal bar) when vertical scroll bars are enabled.
  int GetIdealComponentHeight();
  /// Client column of the image's left edge: above 0 only when Center is on and the image is narrower.
  int GetOffsetX() const { return geo_.OffsetX; }
  /// Client row of the image's top edge: above 0 only when Center is on and the image is lower.
  int GetOffsetY() const { return geo_.OffsetY; }
  /// Width in client pixels of the image part on screen: the zoomed width, at most the client width.
  int GetExtentX() const { return geo_.ExtentX; }
  /// Height in client pixels of the image part on screen: the zoomed height, at most the client height.
  int GetExtentY() const { return geo_.ExtentY; }
  /// The bitmap's width at the current zoom, in client pixels.
  int GetZoomedWidth() const { return geo_.ZoomedWidth; }
  /// The bitmap's height at the current zoom, in client pixels.
  int GetZoomedHeight() const { return geo_.ZoomedHeight; }
  /// The whole layout as the last Update left it.
  const TViewGeometry& Geometry() const { return geo_; }

  /// Bitmap column under client column x, rounded; not clamped to the bitmap.
  int XScr2Bmp(int x) const { return geo_.XScr2Bmp(x); }
  /// Bitmap row under client row y, rounded; not clamped to the bitmap.
  int YScr2Bmp(int y) const { return geo_.YScr2Bmp(y); }
  /// Client column where bitmap column x is drawn at the current zoom and origin.
  int XBmp2Scr(int x) const { return geo_.XBmp2Scr(x); }
  /// Client row where bitmap row y is drawn at the current zoom and origin.
  int YBmp2Scr(int y) const { return geo_.YBmp2Scr(y); }
  //@}

  /// @name Display options
  //@{
  /** Resampling filter for drawing the image zoomed in (above 100 percent); rfNone, the default,
      stretches pixels without filtering. A mouse drag suspends it until the button is released. */
  TResampleFilter GetZoomFilter() const { return zoom_filter_; }
  /// Sets the filter and updates the layout, which repaints.
  void SetZoomFilter(TResampleFilter f);
  /// Whether a zoom or scroll first paints unfiltered and applies the filter two animation steps later
  /// (about 300 ms); off by default.
  bool GetDelayZoomFilter() const { return delay_zoom_filter_; }
  /// Turns the delay on or off from the next zoom or scroll on.
  void SetDelayZoomFilter(bool on) { delay_zoom_filter_ = on; }
  /// Paints left before the delayed filter is applied (0 when none pending).
  int GetFilterDelay() const { return filter_delay_; }
  /// Which window scroll bars the view uses (ssNone at first).
  TScrollStyle GetScrollBars() const { return scroll_bars_; }
  /// Hides the bars no longer used and updates the layout, which shows the others as needed.
  virtual void SetScrollBars(TScrollStyle s);
  /// Whether an image smaller than the client area is centred in it rather than drawn at the top left.
  bool GetCenter() const { return center_; }
  /// Sets centring and updates the layout.
  void SetCenter(bool on);
  /// Whether painting goes through an off-screen bitmap redrawn only after a change; off by default.
  bool GetDoubleBuffer() const { return double_buffer_; }
  /// Sets double buffering and repaints in full.
  void SetDoubleBuffer(bool on);
  /// Whether every Update zooms so that the bitmap fits the control (FitZoom); off by default.
  bool GetAutoFit() const { return auto_fit_; }
  /// Sets auto-fit and updates the layout, which fits at once when on.
  void SetAutoFit(bool on);
  /// How the area around the image is painted; kvbsSolid by default.
  TKVBackgroundStyle GetBackgroundStyle() const { return background_style_; }
  /// Sets the style and updates the layout, which repaints.
  void SetBackgroundStyle(TKVBackgroundStyle s);
  /// The color the chessboard and diagonals styles pair with the background:
  /// the complement of its RGB value.
  TColor ContrastColor() const;
  //@}

  /// @name Painting
  //@{
  /** Suspends painting: Paint draws nothing until every lock is released. Locks nest. */
  void LockPaint() { ++paint_lock_; }
  /// Releases one lock; releasing the last one updates the layout and repaints.
  void UnLockPaint();
  /// Releases one lock without updating or repainting.
  void NPUnLockPaint() {
    if (paint_lock_ > 0) --paint_lock_;
  }
  /// Number of locks held.
  int PaintLockCount() const { return paint_lock_; }
  /// Recomputes the zoomed size, extent, offsets, origin limits and scroll
  /// bars, and invalidates the control.
  void Update() override;
  /// Paints background and image (through the off-screen bitmap with DoubleBuffer), then the visible
  /// polygon outlines and a polygon's rubber band; nothing while painting is locked.
  void Paint() override;
  /// Background and image with the screen layout.
  virtual void PaintTo(TCanvas* canvas);
  /// The visible part of the image at the current zoom at (0, 0), without
  /// background.
  void DrawTo(TCanvas* canvas);
  /// Fills the whole client-sized area of canvas in the background style, image ignored.
  void DrawBackground(TCanvas* canvas);
  /// Moves and sizes the control; while designing or loading it also gives the bitmap the new size and
  /// clears it.
  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;

  /// A 256-entry palette for the bitmap (median cut); the caller owns it.
  TLogPalette* _CreatePalette();

  /// Shows cursor c over the whole application until RestoreCursor; a second call replaces the first.
  void SaveCursor(TCursor c);
  /// Takes away the cursor SaveCursor set; nothing when none is set.
  void RestoreCursor();
  //@}

  /// @name Selection
  //@{
  /** What the mouse does on the view (empty at first: nothing). */
  TKVMouseInteract GetMouseInteract() const { return mouse_interact_; }
  /// Sets the interactions through ResolveMouseInteract: a selection mode newly added drops the others.
  virtual void SetMouseInteract(TKVMouseInteract s);
  /// The mouse interactions as Qt flags, for the MouseInteract property.
  TKVMouseInteractFlags::Flags MouseInteractFlags() const {
    return KVSetToFlags<TKVMouseInteractFlags::Flags>(GetMouseInteract());
  }
  /// Sets the mouse interactions from Qt flags, as SetMouseInteract does.
  void SetMouseInteractFlags(TKVMouseInteractFlags::Flags f) {
    SetMouseInteract(KVFlagsToSet<TKVMouseInteractItems>(f));
  }
  /// Coordinates Select and AddSelPoint take (kvsbClientArea at first); the mouse always selects in
  /// client coordinates.
  TKVSelectionBase GetSelectionBase() const { return selection_base_; }
  /// Sets the coordinates for later calls; the current selection is unchanged.
  void SetSelectionBase(TKVSelectionBase b) { selection_base_ = b; }
  /// Whether the selection outline's dashes march; on by default.
  bool GetAnimatedSel() const { return sel_->Animated; }
  /// Starts or stops the marching from the next animation step.
  void SetAnimatedSel(bool on) { sel_->Animated = on; }
  /// First dash color of the selection outline (black at first).
  TColor GetSelColor1() const { return sel_->Color1; }
  /// Sets the first dash color; it shows from the next animation step.
  void SetSelColor1(TColor c) { sel_->Color1 = c; }
  /// Second dash color of the selection outline (white at first).
  TColor GetSelColor2() const { return sel_->Color2; }
  /// Sets the second dash color; it shows from the next animation step.
  void SetSelColor2(TColor c) { sel_->Color2 = c; }
  KV_QCOLOR_ACCESSORS(SelColor1, GetSelColor1, SetSelColor1)
  KV_QCOLOR_ACCESSORS(SelColor2, GetSelColor2, SetSelColor2)

  /// Selects the rectangle with corners (x1, y1) and (x2, y2) (client or
  /// bitmap coordinates as SelectionBase says); ignored when empty.
  virtual void Select(int x1, int y1, int x2, int y2);
  /// Appends a vertex to the selection polygon.
  virtual void AddSelPoint(int x, int y);
  /// Removes the selection and ends a selection in progress, repainting when there was one; raises no
  /// OnSelectionChange.
  void DeSelect();
  /// True while there is a selection (a rectangle, an ellipse, or a polygon with a vertex).
  bool Selected() const { return has_sel_; }
  /// True while a polygon is being drawn: from its first click to the double click that closes it.
  bool DrawingPolygon() const { return drawing_poly_; }
  /// The selection's vertices in bitmap pixels (four for a rectangle); null when there are none.
  const TPoint* GetPolySelArray() const { return sel_->Points(); }
  /// Number of vertices of the selection.
  int GetPolySelCount() const { return sel_->Count(); }
  /// The i-th vertex in bitmap pixels; (0, 0) outside the polygon.
  TPoint GetPolySel(int i) const { return sel_->At(i); }
  /// Left edge of the selection's bounding box in bitmap pixels, inclusive; kept after DeSelect.
  int GetSelX1() const { return sel_->X1; }
  /// Top edge of the selection's bounding box in bitmap pixels, inclusive; kept after DeSelect.
  int GetSelY1() const { return sel_->Y1; }
  /// Right edge of the selection's bounding box in bitmap pixels, inclusive; kept after DeSelect.
  int GetSelX2() const { return sel_->X2; }
  /// Bottom edge of the selection's bounding box in bitmap pixels, inclusive; kept after DeSelect.
  int GetSelY2() const { return sel_->Y2; }
  /// Makes the selection outline visible; redraw draws it at once rather than at the next step.
  void ShowSelectionEx(bool redraw);
  /// Hides the selection outline, keeping the selection; repaint repaints unless painting is locked.
  void HideSelectionEx(bool repaint);
  /// Whether the selection outline is drawn.
  bool GetVisibleSelection() const { return sel_->Visible; }
  /// Shows the outline and draws it, or hides it and repaints.
  void SetVisibleSelection(bool v) {
    if (v) ShowSelectionEx(true); else HideSelectionEx(true);
  }
  /// Calls OnSelectionChange with the view, when set.
  void DoSelectionChange() {
    if (OnSelectionChange) OnSelectionChange(this);
  }
  /// Copies the selected part of the bitmap (bounding box through the
  /// polygon) into a view or a bitmap.
  void AssignSelTo(TObject* Dest);
  /// Copies the polygon's bounding box of Source, through the polygon, into the bitmap with the box's top
  /// left at Position (the bitmap grows as needed) and updates; nothing for a null Source.
  void CopyFromPolygon(TBitmap* Source, const TPoint* Polygon, int Count, TPoint Position);
  /// Copies the bitmap's rectangle at Position, of the polygon's bounding-box size, into Dest through
  /// the polygon (in Dest coordinates); nothing for a null Dest.
  void CopyToPolygon(TBitmap* Dest, const TPoint* Polygon, int Count, TPoint Position);
  //@}

  /// @name Animated polygons (the selection is the first)
  //@{
  /** Adds an empty polygon with dash colors c1 and c2, owned by the view, and returns it; the first
      polygon starts the animation timer. */
  TKVAnimPolygon* AnimPolygonNew(TColor c1, TColor c2, bool animated);
  /// Appends a vertex in bitmap pixels to p without repainting, and marks the view as having a
  /// selection whichever polygon p is; nothing for a null p.
  void AnimPolygonAddPtEx(TKVAnimPolygon* p, int x, int y);
  /// Appends a vertex as AnimPolygonAddPtEx does, then repaints unless painting is locked.
  void AnimPolygonAddPt(TKVAnimPolygon* p, int x, int y);
  /// Drops p's vertices and repaints unless painting is locked; nothing for a null p.
  void AnimPolygonClear(TKVAnimPolygon* p);
  /// Removes and frees a polygon made by AnimPolygonNew and repaints; the selection polygon and unknown
  /// pointers are ignored. Removing the last polygon stops the timer.
  void AnimPolygonDel(TKVAnimPolygon* p);
  /// Number of animated polygons, the selection's included.
  int AnimPolygonCount() const { return int(polygons_.size()); }
  /// One animation step: from the timer it advances the phases and counts the
  /// filter delay down; called directly it only draws.
  void AnimStep(bool fromTimer);
  //@}

  /// @name Mouse zoom steps and view changes
  //@{
  /** Calls OnViewChange with change: 0 after the origin moved, 1 after the zoom changed (and on every
      Update with AutoFit on). Descendants override it to follow the view. */
  virtual void ViewChange(int change);
  /// Shifts the last mouse point by (dx, dy) client pixels after a drag scrolled the view, so that the
  /// drag goes on from the same bitmap point.
  virtual void SubMouseMoveScroll(int dx, int dy);

  /// Called by ViewChange with the view and the kind of change.
  TViewChangeEvent OnViewChange;
  /// Called by ImageChange with the view after its bitmap's contents changed.
  TNotifyEvent OnImageChange;
  /// Called with the view as the mouse changes the selection (press, move, closing double click) and by
  /// DoSelectionChange.
  TNotifyEvent OnSelectionChange;

  /// Identifier of the animation timer.
  static constexpr int kAnimTimer = 1;
  static constexpr int kAnimInterval = 150;  ///< milliseconds between animation steps
  //@}

 protected:
  /// Starts a drag with the first button pressed: suspends the zoom filter and, by MouseInteract, adds
  /// a polygon vertex (Ctrl snaps its edge), starts a rectangle or starts an ellipse.
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  /// With a button held scrolls (miScroll) or grows the rectangle, polygon or ellipse being selected,
  /// scrolling when the pointer leaves the image; otherwise moves a polygon's rubber band.
  void MouseMove(TShiftState Shift, int X, int Y) override;
  /// Ends the drag of the button that started it: a click zooms in (left) or out (right) with miZoom,
  /// else it scrolls, zooms into the selection or ends it; then restores the zoom filter.
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  /// Closes the polygon being drawn, dropping the vertex the second press added.
  void DblClick() override;
  /// Updates the layout after a resize.
  void WMSize() override;
  /// On the animation timer: keeps a selection drag held outside the image scrolling, then takes an
  /// animation step.
  void WMTimer(int id) override;
  /// Scrolls horizontally: 1 pixel per line, 10 per page, to the thumb, or to either end.
  void WMHScroll(int code, int pos) override;
  /// Scrolls vertically: 1 pixel per line, 10 per page, to the thumb, or to either end.
  void WMVScroll(int code, int pos) override;
  /// Passes the notice to the base; the view holds no component references of its own.
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
  void SelectRect(TPoint a, TPoint b);  ///< bitmap coordinates
  void MouseSelect(TPoint a, TPoint b);  ///< client coordinates, through Select
  void MouseAddSelPoint(TPoint p);      ///< client coordinates, through AddSelPoint
  void AutoScroll();
  bool PointerOutsideImage() const;
  /// The bitmap rectangle on screen at the current zoom and origin; false for
  /// an empty bitmap. trimOverhang drops the column or row that rounding
  /// pushed past the bitmap's edge.
  bool SourceRect(bool trimOverhang, TRect& r) const;
  /// The background with the image's rectangle left out.
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

  /// Selection and polygons.
  std::vector<std::unique_ptr<TKVAnimPolygon>> polygons_;
  TKVAnimPolygon* sel_ = nullptr;
  bool has_sel_ = false;
  bool drawing_poly_ = false;
  bool selecting_rect_ = false;
  bool selecting_ellipse_ = false;
  TKVMouseInteract mouse_interact_;
  TKVSelectionBase selection_base_ = kvsbClientArea;

  /// Mouse state.
  bool captured_ = false;
  TMouseButton drag_button_ = mbLeft;  ///< the press that started the drag
  TPoint down_;
  TPoint down_view_;
  TPoint last_;
  TPoint pointer_;  ///< last mouse position, unclamped
  TShiftState last_shift_;
  TResampleFilter saved_filter_ = rfNone;
  bool cursor_saved_ = false;
};

/// Sets only the page size of one window scroll bar of a control.
KORVANE_EXPORT void SetSBPageSize(TCustomControl* window, int bar, int page, bool redraw);

/// Identifiers of the view's cursors, registered when the first view is made.
constexpr TCursor crKVZoomOut = 1778;
constexpr TCursor crKVZoomIn = 1779;  ///< magnifier with a plus
constexpr TCursor crKVCross = 1780;  ///< plain cross
constexpr TCursor crKVEraser = 1781;  ///< eraser, hot spot at its tip
constexpr TCursor crKVHand = 1782;  ///< open hand
constexpr TCursor crKVPen = 1783;  ///< pen, hot spot at its tip
constexpr TCursor crKVCross1 = 1784;  ///< cross with an open centre
constexpr TCursor crKVCross2 = 1785;  ///< cross with a centre dot; the view's own cursor
/// Draws and registers the eight cursors (once).
KORVANE_EXPORT void RegisterViewCursors();

}  // namespace korvane
