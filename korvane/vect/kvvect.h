/// \file
/// TKorvaneVect: the image view with a layer of vector objects over the
/// bitmap (lines with arrow ends, boxes, ellipses, arcs, bitmaps and rotated
/// text, grouped in frames), their mouse interaction, measurement of the
/// selection polygon in physical units, the KVV file format and DXF import.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/view/kvview.h"

class QEvent;
class QLineEdit;

namespace korvane {

class TKVHint;
class TStream;

/// Kind of a vector object: a frame (a group of children), a line, a box, an ellipse, an elliptic arc,
/// a bitmap stretched to its rectangle or a text in its rectangle.
enum TKVVObjectKind : uint8_t { kvkFRAME, kvkLINE, kvkBOX, kvkELLIPSE, kvkARC, kvkBITMAP, kvkTEXT };
/// End shape of a line: none, an arrow head whose tip points back into the line, or one pointing out.
enum TKVShape : uint8_t { kvsNONE, kvsINARROW, kvsOUTARROW };
/// What the mouse may do with an object (selection, moving, resizing) and whether it is drawn.
enum TKVVStyleItem { kvvsSelectable, kvvsMoveable, kvvsSizeable, kvvsVisible };
/// The set of TKVVStyleItem of an object; new objects have all four.
using TKVVStyle = TSet<TKVVStyleItem>;
/// Horizontal placement of a text object's text in its rectangle.
enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };

/// The mouse interactions of the vector layer, items of TKVMouseInteractVt.
enum TKVMouseInteractVtItems {
  miArea,         ///< measure the area of the selection polygon in the hint
  miLineLen,      ///< measure the length of the selection polygon in the hint
  miPutLine,      ///< drag to insert a line
  miPutBox,       ///< drag to insert a box
  miPutEllipse,   ///< drag to insert an ellipse (Ctrl: a circle)
  miPutBitmap,    ///< drag to insert a bitmap object (the template's bitmap)
  miPutText,      ///< drag to insert a text object and type its text
  miObjectSelect  ///< click or drag to select; drag the grips to move and resize
};
/// What the mouse does on the vector layer; one of the items at a time (empty at first).
using TKVMouseInteractVt = TSet<TKVMouseInteractVtItems>;
// Registered with Qt's meta-object system (see control_enums in
// host/controls.h).
namespace vect_enums {
Q_NAMESPACE_EXPORT(KORVANE_EXPORT)
/// Unit of the measurements; the hint names them Pixels, Inches, Km, Mt, CM and MM.
enum TKVUnits { kvuPIXELS, kvuINCHES, kvuKM, kvuMETERS, kvuCENTIMETERS, kvuMILLIMETERS };
Q_ENUM_NS(TKVUnits)
}  // namespace vect_enums
using namespace vect_enums;

/// TKVMouseInteractVt as Qt flags, for the vector layer's MouseInteractVt property.
class KORVANE_EXPORT TKVMouseInteractVtFlags {
  Q_GADGET
 public:
  /// The vector layer's mouse interactions, one bit per TKVMouseInteractVtItems value.
  enum Item {
    miArea = 1 << korvane::miArea,
    miLineLen = 1 << korvane::miLineLen,
    miPutLine = 1 << korvane::miPutLine,
    miPutBox = 1 << korvane::miPutBox,
    miPutEllipse = 1 << korvane::miPutEllipse,
    miPutBitmap = 1 << korvane::miPutBitmap,
    miPutText = 1 << korvane::miPutText,
    miObjectSelect = 1 << korvane::miObjectSelect
  };
  Q_DECLARE_FLAGS(Flags, Item)
  Q_FLAG(Flags)
};

/// Measurement hint event: Text is the hint about to show (the handler may change it) and Value the
/// measured value in the current unit.
using TKVVMeasureHintEvent = std::function<void(TObject* Sender, std::string& Text, double Value)>;

/// The 60-byte font record of text objects, in the byte layout the KVV files
/// store (little-endian integers, then the flag bytes and the face name).
struct TLogFont {
  int32_t lfHeight = 0;          ///< 0: the text fills the box height
  int32_t lfWidth = 0;           ///< average character width; stored, not used for drawing
  int32_t lfEscapement = 0;      ///< tenths of a degree, counter-clockwise
  int32_t lfOrientation = 0;     ///< written equal to lfEscapement; not read
  int32_t lfWeight = 400;        ///< bold from 700
  uint8_t lfItalic = 0;          ///< nonzero: italic
  uint8_t lfUnderline = 0;       ///< nonzero: underlined
  uint8_t lfStrikeOut = 0;       ///< nonzero: struck out
  uint8_t lfCharSet = 0;         ///< stored, not used
  uint8_t lfOutPrecision = 0;    ///< stored, not used
  uint8_t lfClipPrecision = 0;   ///< stored, not used
  uint8_t lfQuality = 0;         ///< stored, not used
  uint8_t lfPitchAndFamily = 0;  ///< stored, not used
  char lfFaceName[32] = {};      ///< face name, NUL-terminated (at most 31 bytes)
};
static_assert(sizeof(TLogFont) == 60, "TLogFont is the 60-byte file record");

/// The LOGFONT of a font and the font of a LOGFONT (color aside).
KORVANE_EXPORT TLogFont LogFontOf(const TFont& f);
/// Sets the font's name, height, escapement and bold, italic, underline and strike-out from the record;
/// its color and the fields not listed stay.
KORVANE_EXPORT void FontFromLog(const TLogFont& lf, TFont& f);

/// Mask of all four TKVVStyleItem, the style of new objects.
constexpr int kKVVStyleAll = 15;

/// One vector object. Frames own a list of child indices, bottom first.
struct TKVVObject {
  /// \var x1
  /// Left corner in bitmap pixels, included; a line runs from (x1, y1) to (x2, y2). Objects other than
  /// lines get x1 and y1 as the smaller corner when they are added and after a grip drag.
  /// \var y1
  /// Top corner in bitmap pixels, included; for a line, the y of its start.
  /// \var x2
  /// Right corner in bitmap pixels, included; for a line, the x of its end.
  /// \var y2
  /// Bottom corner in bitmap pixels, included; for a line, the y of its end.
  int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  TKVVObjectKind Kind = kvkFRAME;    ///< what the object is
  int32_t Parent = -4;               ///< index of the frame holding it (kRoot at the top); kNone once removed
  int32_t ChildCount = 0;            ///< frames: size of Children
  std::vector<int32_t> Children;     ///< frames
  TKVShape BeginShape = kvsNONE;     ///< lines: the shape at (x1, y1)
  TKVShape EndShape = kvsNONE;       ///< lines: the shape at (x2, y2)
  int32_t ShapeWidth = 10;           ///< arrow head width in bitmap pixels (scaled with the zoom)
  int32_t ShapeHeight = 20;          ///< arrow head length in bitmap pixels (scaled with the zoom)
  TColor PenColor = 0xFFFFFF;        ///< outline color; also the color of a text
  TPenStyle PenStyle = psSolid;      ///< outline style
  int32_t PenWidth = 1;              ///< outline width in pixels, drawn as 1 to 4096
  TColor BrushColor = 0xFFFFFF;      ///< fill color of boxes, ellipses, arrow heads and text backgrounds
  TBrushStyle BrushStyle = bsClear;  ///< fill style; bsClear leaves the inside unpainted
  /// Arcs: where the arc starts, in radians from the positive x axis, growing clockwise on screen (y points
  /// down). The arc runs counter-clockwise from start to end; a sweep of whole turns draws the full ellipse.
  double AngleStart = 0;
  double AngleEnd = 0;                   ///< arcs: where the arc ends, in radians like AngleStart
  int32_t BitmapIdx = -1;                ///< bitmaps: slot in the shared bitmap table, -1 for none
  std::string Text;                      ///< texts: the text, one line, UTF-8
  std::optional<TLogFont> Font;          ///< texts: the font; absent means a default TLogFont
  TAlignment TextAlign = taLeftJustify;  ///< texts: horizontal alignment in the rectangle
  std::string Name;                      ///< the caller's name for the object (see GetObjFromName)
  int32_t ID = 0;                        ///< the caller's number for the object (see GetObjFromID)
  TKVVStyle Style = TKVVStyle::FromMask(kKVVStyleAll);  ///< mouse rights and visibility
};
/// Pointer to an object record; adding, removing or loading objects may move the records and leave it
/// dangling.
using PKVVObject = TKVVObject*;

/// A slot of the shared bitmap table; a free slot has no bitmap.
struct TKVVBitmap {
  std::unique_ptr<TBitmap> Bitmap;  ///< the bitmap, owned by the table; null for a free slot
  int32_t RefCount = 0;             ///< objects (the template included) that use the slot
};

/// An image view with a layer of vector objects drawn over its bitmap in bitmap coordinates. Objects live
/// in one array and are referred to by index; a frame groups objects, and the root frame (kRoot) spans
/// the bitmap. Bitmap objects share a reference-counted bitmap table. Add the mouse interactions with
/// SetMouseInteractVt; edits made with the mouse and keyboard can be undone.
class KORVANE_EXPORT TKorvaneVect : public TKorvaneView {
  Q_OBJECT
  Q_PROPERTY(korvane::TKVMouseInteractVtFlags::Flags MouseInteractVt READ MouseInteractVtFlags WRITE
                 SetMouseInteractVtFlags)
  Q_PROPERTY(korvane::vect_enums::TKVUnits MUnit READ GetMUnit WRITE SetMUnit)
  Q_PROPERTY(double Scale READ GetScale WRITE SetScale)
  Q_PROPERTY(int FloatDigits READ GetFloatDigits WRITE SetFloatDigits)
  Q_PROPERTY(int FloatPrecision READ GetFloatPrecision WRITE SetFloatPrecision)
  Q_PROPERTY(bool LiveSegment READ GetLiveSegment WRITE SetLiveSegment)
  Q_PROPERTY(bool ShareBitmaps READ GetShareBitmaps WRITE SetShareBitmaps)
  Q_PROPERTY(int UndoLimit READ GetUndoLimit WRITE SetUndoLimit)

 public:
  /// Creates an empty layer owned by AOwner and its hidden measurement hint. The template is a 64 x 64
  /// record at the origin with a full-turn arc, the error icon as its bitmap and the canvas font renamed
  /// Arial, whose color becomes the pen color.
  explicit TKorvaneVect(TComponent* AOwner, QWidget* parent = nullptr);
  /// Makes an unowned control inside a form's widget, as code generated by uic does.
  template <KVFormParent P>
  explicit TKorvaneVect(P* parent) : TKorvaneVect(nullptr, parent) {}
  /// Frees the text editor and the hint; the objects and bitmaps go with the layer.
  ~TKorvaneVect() override;

  static constexpr int kTemplate = -1;  ///< index of the template record that new objects copy
  static constexpr int kLast = -2;      ///< index of the last record of the array
  static constexpr int kRoot = -3;      ///< index of the root frame, which spans the bitmap
  static constexpr int kNone = -4;      ///< no object: the parent of removed records

  /// @name Object store and tree
  //@{
  /** The record of an index (special indices included); null when out of range. */
  PKVVObject GetObj(int idx);
  /// Adds a copy of src at the front of frame parent (kRoot, kLast or a live frame) and returns its index;
  /// -1 when parent is not a live frame. The copy starts without children; other kinds than text drop the
  /// text and font, other kinds than line get ordered corners, and a bitmap object takes src's bitmap slot.
  /// Does not repaint.
  int AddVObject(int parent, const TKVVObject& src);
  /// Adds a copy of the template at the front of the root and returns its index; does not repaint.
  int AddNewObject() { return AddVObject(kRoot, templ_); }
  /// Removes an object (a frame with all it holds): unselects it, releases its bitmaps, cancels the mouse
  /// interaction and repaints. Other indices stay valid. Ignored for removed or unknown indices.
  void RemoveObject(int idx);
  /// Removes every object and bitmap except the template's, empties the selection, cancels the mouse
  /// interaction and repaints. The undo history stays.
  void RemoveAllObjects();
  /// Position of idx in frame parent's list (0 at the back), -1 when it is not there.
  int GetObjPos(int parent, int idx);
  /// The first object other than a frame, searching the tree from the back, whose Name is name; -1 for none.
  int GetObjFromName(const std::string& name);
  /// The first object other than a frame, searching the tree from the back, whose ID is id; -1 for none.
  int GetObjFromID(int id);
  /// Inserts idx into frame parent's list at pos (clamped to the list) and makes parent its parent. It does
  /// not take idx out of its old list and does not repaint.
  void ReInsertVObject(int parent, int idx, int pos);
  /// Moves idx just in front of other, into other's frame; other -1 moves it to the front of its own frame.
  /// Ignored when other lies inside idx or is removed. Repaints.
  void SetObjFrontOf(int idx, int other);
  /// Moves idx just behind other, into other's frame; other -1 moves it to the back of its own frame.
  /// Ignored when other lies inside idx or is removed. Repaints.
  void SetObjBackTo(int idx, int other);
  /// Entries of the array (removed objects leave holes until the array ends)
  /// and the number of live objects.
  int ObjectArraySize() const { return int(objs_.size()); }
  /// Number of live objects.
  int ObjectsCount() const { return live_; }
  //@}

  /// @name Object properties (setters repaint unless idx is -1)
  //@{
  /** Kind of the object; kvkFRAME for an unknown index. */
  TKVVObjectKind GetObjKind(int idx);
  /// Changes the kind; the other fields stay.
  void SetObjKind(int idx, TKVVObjectKind v);
  /// Receives the corners (x1, y1, x2, y2) in r; an empty rectangle for an unknown index.
  void GetObjRect(int idx, TRect& r);
  /// Sets the corners as given (not reordered) and updates the view.
  void SetObjRect(int idx, const TRect& r);
  /// The x1 corner; 0 for an unknown index.
  int GetObjLeft(int idx);
  /// The y1 corner; 0 for an unknown index.
  int GetObjTop(int idx);
  /// Moves the object horizontally so that x1 is v, keeping its width, and updates the view.
  void SetObjLeft(int idx, int v);
  /// Moves the object vertically so that y1 is v, keeping its height, and updates the view.
  void SetObjTop(int idx, int v);
  /// Width in bitmap pixels, x2 - x1 + 1; 0 for an unknown index.
  int GetObjWidth(int idx);
  /// Height in bitmap pixels, y2 - y1 + 1; 0 for an unknown index.
  int GetObjHeight(int idx);
  /// Moves x2 so that the width is w and updates the view.
  void SetObjWidth(int idx, int w);
  /// Moves y2 so that the height is h and updates the view.
  void SetObjHeight(int idx, int h);
  /// Outline and text color; 0 for an unknown index.
  TColor GetObjPenColor(int idx);
  /// Sets the outline and text color.
  void SetObjPenColor(int idx, TColor v);
  /// Outline style; psSolid for an unknown index.
  TPenStyle GetObjPenStyle(int idx);
  /// Sets the outline style.
  void SetObjPenStyle(int idx, TPenStyle v);
  /// Outline width in pixels; 0 for an unknown index.
  int GetObjPenWidth(int idx);
  /// Sets the outline width (drawn as 1 to 4096).
  void SetObjPenWidth(int idx, int v);
  /// Fill color; 0 for an unknown index.
  TColor GetObjBrushColor(int idx);
  /// Sets the fill color.
  void SetObjBrushColor(int idx, TColor v);
  /// Fill style; bsSolid for an unknown index.
  TBrushStyle GetObjBrushStyle(int idx);
  /// Sets the fill style; bsClear leaves the inside unpainted.
  void SetObjBrushStyle(int idx, TBrushStyle v);
  /// Shape at a line's (x1, y1) end; kvsNONE for an unknown index.
  TKVShape GetObjBeginShape(int idx);
  /// Sets the shape at a line's (x1, y1) end.
  void SetObjBeginShape(int idx, TKVShape v);
  /// Shape at a line's (x2, y2) end; kvsNONE for an unknown index.
  TKVShape GetObjEndShape(int idx);
  /// Sets the shape at a line's (x2, y2) end.
  void SetObjEndShape(int idx, TKVShape v);
  /// Arrow head width in bitmap pixels; 0 for an unknown index.
  int GetObjShapeWidth(int idx);
  /// Sets the arrow head width.
  void SetObjShapeWidth(int idx, int v);
  /// Arrow head length in bitmap pixels; 0 for an unknown index.
  int GetObjShapeHeight(int idx);
  /// Sets the arrow head length.
  void SetObjShapeHeight(int idx, int v);
  /// The caller's number for the object; 0 for an unknown index.
  int GetObjID(int idx);
  /// Sets the caller's number (found again with GetObjFromID).
  void SetObjID(int idx, int v);
  /// The caller's name for the object; empty for an unknown index.
  std::string GetObjName(int idx);
  /// Sets the caller's name (found again with GetObjFromName).
  void SetObjName(int idx, const std::string& v);
  /// The text of a text object; empty for an unknown index.
  std::string GetObjText(int idx);
  /// Sets the text.
  void SetObjText(int idx, const std::string& v);
  /// Horizontal alignment of the text; taLeftJustify for an unknown index.
  TAlignment GetObjTextAlign(int idx);
  /// Sets the horizontal alignment of the text.
  void SetObjTextAlign(int idx, TAlignment v);
  /// What the mouse may do with the object and whether it is drawn; empty for an unknown index.
  TKVVStyle GetObjStyle(int idx);
  /// Sets the style; an object that stops being selectable leaves the selection.
  void SetObjStyle(int idx, TKVVStyle v);
  /// Copies the font into the object's font record and its color into the pen color; ignored for null.
  void SetObjFont(int idx, const TFont* f);
  /// Text angle in degrees, counter-clockwise; 0 without a font record.
  double GetObjFontAngle(int idx);
  /// Sets the text angle (kept in tenths of a degree, truncated); ignored without a font record.
  void SetObjFontAngle(int idx, double degrees);
  /// Font height at zoom 100 (0: the text fills the rectangle's height); 0 without a font record.
  int GetObjFontHeight(int idx);
  /// Sets the font height; ignored without a font record.
  void SetObjFontHeight(int idx, int h);
  /// Font face name; empty without a font record.
  std::string GetObjFontName(int idx);
  /// Sets the face name (at most 31 bytes kept); ignored without a font record. It does not repaint.
  void SetObjFontName(int idx, const std::string& name);
  /// Bold, italic, underline and strike-out of the font; empty without a font record.
  TFontStyles GetObjFontStyles(int idx);
  /// Sets bold (weight 700, else 400), italic, underline and strike-out; ignored without a font record.
  /// It does not repaint.
  void SetObjFontStyles(int idx, TFontStyles s);
  /// Start angle of an arc in radians (see TKVVObject::AngleStart); 0 for an unknown index.
  double GetObjAngleStart(int idx);
  /// Sets the start angle of an arc, in radians.
  void SetObjAngleStart(int idx, double a);
  /// End angle of an arc in radians; 0 for an unknown index.
  double GetObjAngleEnd(int idx);
  /// Sets the end angle of an arc, in radians.
  void SetObjAngleEnd(int idx, double a);
  /// The object's bitmap, owned by the bitmap table; null when it has none.
  TBitmap* GetObjBitmap(int idx);
  /// Gives the object a copy of b (or, with ShareBitmaps, the slot of an equal bitmap) and releases the
  /// one it had; null leaves it without one. Repaints unless idx is -1.
  void SetObjBitmap(int idx, const TBitmap* b);
  /// SetObjBitmap without the repaint.
  void SetObjBitmapNU(int idx, const TBitmap* b);
  /// Gives the object the bitmap of a slot: the slot itself with ShareBitmaps on, a new copy otherwise;
  /// a free or unknown slot leaves it without a bitmap. Does not repaint.
  void SetObjBitmapIdxNU(int idx, int slot);
  /// A cx x cy bitmap of a system icon (32512 application, 32513 error,
  /// 32514 question, 32515 warning, 32516 information).
  void SetObjBitmapICO(int idx, int resource, int cy, int cx);
  //@}

  /// @name Shared bitmap table
  //@{
  /** Whether objects given a bitmap equal (size, format and pixels) to one in the table share that slot
      instead of holding a copy; on by default. */
  bool GetShareBitmaps() const { return share_bitmaps_; }
  /// Applies to bitmaps given from now on; the table stays as it is.
  void SetShareBitmaps(bool on) { share_bitmaps_ = on; }
  /// Index of a free slot (the first one, or a new one at the end); the slot stays empty until filled.
  int AllocBitmap();
  /// Drops one reference to a slot; the last one frees the bitmap and leaves the slot free.
  void FreeBitmap(int slot);
  /// The last slot whose bitmap equals b in size, format and pixels; -1 for none or a null b.
  int FindBitmap(const TBitmap* b);
  /// The view's own bitmap, as in TKVView (the overload below reads the table).
  using TKVView::GetBitmap;
  /// The bitmap of a slot, owned by the table; null for a free or unknown slot.
  TBitmap* GetBitmap(int slot);
  /// Number of slots, free ones included.
  int BitmapSlotCount() const { return int(bitmaps_.size()); }
  /// References to a slot; 0 for a free or unknown slot.
  int BitmapRefCount(int slot) const;
  /// Removes the free slots and renumbers the objects' and the template's slots; saving does it first.
  void PackBMP();
  //@}

  /// @name Drawing
  //@{
  /** Draws an object, a frame as its children from the back, with its pen and brush. ToBitmap draws in
      bitmap pixels; otherwise at the view's zoom and origin, skipping objects off the image. Objects
      without kvvsVisible and a null o draw nothing. */
  void DrawObject(TCanvas* canvas, PKVVObject o, bool ToBitmap);
  /// Draws the shape of a line end at (X, Y), the line going towards (X2, Y2): an arrow head W wide and H
  /// long, filled with the brush; kvsNONE draws nothing.
  void DrawLineShape(TCanvas* canvas, int X, int Y, int X2, int Y2, TKVShape shape, int W, int H);
  /// Draws o's text clipped to the rectangle, aligned by TextAlign and centred vertically, with the font
  /// height times scale (0: the rectangle's height) and turned by the font's angle. The text being edited
  /// draws only a frame.
  void DrawObjectText(TCanvas* canvas, int x1, int y1, int x2, int y2, PKVVObject o, double scale);
  /// Draws an object's grips inverted: 8 x 8 squares on the corners (a line's two ends) and a diamond in
  /// the middle; a frame also draws its children's grips.
  void DrawObjectGrips(TCanvas* canvas, PKVVObject o);
  /// Draws the grips of every selected object.
  void DrawSelGrips(TCanvas* canvas);
  /// Draws the layer in screen coordinates: the objects, the grips of the selection and the rubber band of
  /// an insert or selection drag. Counts DrawnObjects anew.
  void VPaintTo(TCanvas* canvas);
  void PaintTo(TCanvas* canvas) override;
  /// Burns the visible objects into the bitmap; the objects stay.
  void CopyObjectsToBack();
  /// Non-frame objects drawn by the last VPaintTo.
  int DrawnObjects() const { return drawn_; }

  void Update() override;
  /// Handles the view change as the view does, then moves the open text editor to the new zoom and origin.
  void ViewChange(int change) override;
  /// Sets the horizontal resolution, recomputes the measuring coefficients and refreshes the hint.
  void SetDPIX(int v) override;
  /// Sets the vertical resolution, recomputes the measuring coefficients and refreshes the hint.
  void SetDPIY(int v) override;
  /// Sets both resolutions, recomputes the measuring coefficients and refreshes the hint.
  void SetDPI(int x, int y) override;
  /// Sets the view's own interactions; of the layer's, only miArea and miLineLen stay. Cancels the layer's
  /// interaction in progress.
  void SetMouseInteract(TKVMouseInteract s) override;
  /// The view scrolled under a drag: the remembered points follow.
  void SubMouseMoveScroll(int dx, int dy) override;
  //@}

  /// @name Interaction
  //@{
  /** What the mouse does on the layer (empty at first: nothing). */
  TKVMouseInteractVt GetMouseInteractVt() const { return interact_vt_; }
  /// Cancels the interaction in progress and sets the mode: an item newly added replaces the others. Any
  /// item but miArea and miLineLen clears the view's own interactions; miArea and miLineLen show the
  /// measurement hint, the others hide it.
  void SetMouseInteractVt(TKVMouseInteractVt s);
  /// The vector interactions as Qt flags, for the MouseInteractVt property.
  TKVMouseInteractVtFlags::Flags MouseInteractVtFlags() const {
    return KVSetToFlags<TKVMouseInteractVtFlags::Flags>(GetMouseInteractVt());
  }
  /// Sets the vector interactions from Qt flags, as SetMouseInteractVt does.
  void SetMouseInteractVtFlags(TKVMouseInteractVtFlags::Flags f) {
    SetMouseInteractVt(KVFlagsToSet<TKVMouseInteractVtItems>(f));
  }
  /// Abandons an insert, a grip drag or a rubber band in progress and closes the text editor (keeping the
  /// typed text, as one undo step when it changed).
  void CancelInteracts();
  /// Adds an object to the selection (as AddSelObjectNS) and calls OnSelectObject. Does not repaint.
  void AddSelObject(int idx);
  /// Adds an object (kLast allowed) to the selection without calling OnSelectObject; ignored for removed,
  /// unknown or already selected objects.
  void AddSelObjectNS(int idx);
  /// True when the object is selected.
  bool IsSelObject(int idx) const;
  /// Takes an object out of the selection and calls OnSelectObject.
  void UnSelObject(int idx);
  /// Empties the selection and calls OnSelectObject.
  void UnSelAllObjects();
  /// Index of the i-th selected object, in the order of selection; -1 outside the selection.
  int GetSelObjects(int i) const;
  /// Number of selected objects.
  int SelObjectCount() const { return int(sel_objs_.size()); }
  /// Adds to the selection, without OnSelectObject, every selectable object inside frame parent (frames are
  /// searched, not selected) that lies wholly in the rectangle, given in bitmap pixels with x1 and y1 the
  /// smaller.
  void SelInRect(int parent, int x1, int y1, int x2, int y2);
  /// The selectable object inside frame parent (searched from the front, into frames) nearest to the bitmap
  /// point among those in view; dist receives its distance in bitmap pixels. Returns parent when none.
  int FindNearObj(int parent, int x, int y, double& dist);
  /// Distance in bitmap pixels from a bitmap point to an object's outline; 0 inside frames, bitmaps, texts
  /// and filled boxes. Arcs count as their whole ellipse; 10000000 for a null o.
  double CalcDistPtObj(PKVVObject o, int x, int y);
  /// The position in the selection of the object whose grip is under the client point, with grip set to 1
  /// (x1, y1), 2 (x2, y2), 3 (the middle), 4 (x2, y1) or 5 (x1, y2); -4 when no grip is there.
  int FindSelGrip(int x, int y, int& grip);
  /// Moves an object by dx, dy bitmap pixels; a frame moves alone, not its children. No repaint, no undo.
  void TraslateObject(int idx, int dx, int dy);
  /// Adds to the four coordinates independently, in the published argument
  /// order: dx1 to x1, dy2 to y2, dx2 to x2, dy1 to y1.
  void ChangeObjectCoor(int idx, int dx1, int dy2, int dx2, int dy1);
  /// Opens the in-place editor over the text object being edited (TextEditIndex) with its font and colors,
  /// or moves it after a zoom or scroll. Nothing when no text is being edited.
  void ActiveTextEdit();
  /// Closes the editor keeping the typed text, as one undo step when it changed; the object stays the one
  /// being edited.
  void RemoveTextEdit();
  /// Ends the text edit: Keep stores the typed text (one undo step when it
  /// changed), otherwise the object keeps the text it had when the edit
  /// opened. Enter and Escape in the editor call it.
  void EndTextEdit(bool Keep);
  /// Index of the text object being edited, -1 when none.
  int TextEditIndex() const { return edit_idx_; }
  /// The in-place editor while it is open, else null; it belongs to the layer.
  QLineEdit* TextEditor() const { return edit_; }
  /// Present for the clipboard menu; they do nothing.
  void CopyToClipboard() {}
  /// Does nothing.
  void CutToClipboard() {}
  /// Does nothing.
  void PasteFromClipboard() {}
  /// Does nothing.
  void InsertFromClipboard(int, int) {}
  //@}

  /// @name Measurement
  //@{
  /** Unit of the measured lengths and areas; kvuPIXELS at first. */
  TKVUnits GetMUnit() const { return munit_; }
  /// Sets the unit, recomputes the coefficients and refreshes the hint.
  void SetMUnit(TKVUnits u);
  /// Factor every measurement is multiplied by, such as the scale of a map; 1 at first.
  double GetScale() const { return scale_; }
  /// Sets the factor, recomputes the coefficients and refreshes the hint.
  void SetScale(double s);
  /// Decimals of the hint's values, 0 to 18; 2 at first.
  int GetFloatDigits() const { return float_digits_; }
  /// Sets the decimals (clamped to 0 to 18) and refreshes the hint.
  void SetFloatDigits(int d);
  /// Significant digits of the exponent form, 1 to 18 (15 at first): values from 10 to the power of
  /// this on are shown in that form.
  int GetFloatPrecision() const { return float_precision_; }
  /// Sets the significant digits (clamped to 1 to 18) and refreshes the hint.
  void SetFloatPrecision(int p);
  /// Whether the length of a polygon being drawn includes the segment from its last vertex to the pointer;
  /// on at first.
  bool GetLiveSegment() const { return live_segment_; }
  /// Takes effect at the next measurement.
  void SetLiveSegment(bool on) { live_segment_ = on; }
  /// Recomputes CoefX and CoefY from the unit, the view's resolution (0 taken as the screen's) and Scale.
  void CalcCoef();
  /// Units per bitmap pixel horizontally (1 for pixels, times Scale).
  double CoefX() const { return cx_; }
  /// Units per bitmap pixel vertically (1 for pixels, times Scale).
  double CoefY() const { return cy_; }
  /// Length of the view's selection polygon in the unit: closed once finished with more than two vertices,
  /// plus the live segment while it is drawn.
  double GetSelectionLen();
  /// Area enclosed by the selection polygon in square units; 0 under three vertices.
  double GetSelectionArea();
  /// Sets Scale so that a horizontal distance of pixels bitmap pixels measures value; ignored when that
  /// gives no finite scale.
  void SetScaleFromPixels(double pixels, double value);
  /// Sets Scale so that the selection polygon's length (in whole pixels) measures value.
  void SetScaleFromSelectionLen(double value);
  /// Shows the area (miArea) or length (miLineLen) in the hint at client point (x, y), kept inside the
  /// client area; negative coordinates only refresh the text. Nothing in other modes.
  void UpdateHint(int x, int y);
  /// The measurement hint window, owned by the layer.
  TKVHint* Hint() const { return hint_; }
  /// The hint text for a value in the current unit ("²" appended for areas).
  std::string MeasureText(double value, bool area) const;
  //@}

  /// @name Files
  //@{
  /** Writes the layer as a KVV version 4 stream at the stream's position: the scale, the bitmap table as
      PNG images (after PackBMP; a slot only the template uses is left empty) and the objects deflated. */
  void SaveToStreamKVV(TStream* s);
  /// Writes a KVV file through a side file, so that a failed save leaves the old file; raises on errors.
  void SaveToFileKVV(const std::string& name);
  /// Replaces the objects and bitmaps with a KVV stream of version 1 to 4 and takes its scale; the template
  /// keeps its bitmap. Raises EInvalidGraphic for data it cannot read; objects read before stay.
  void LoadFromStreamKVV(TStream* s);
  /// Loads a KVV file; raises when the file cannot be opened, else as LoadFromStreamKVV.
  void LoadFromFileKVV(const std::string& name);
  /// Writes one object record (a frame with its children) as KVV version 4 stores it, uncompressed;
  /// nothing for a negative or unknown index.
  void SaveObj(TStream* s, int idx);
  /// Adds the LINE, CIRCLE and ARC entities of a DXF file to the root as lines, ellipses and arcs with the
  /// template's colors, scaled so that the drawing's extent fits the bitmap, y pointing down.
  void ImportDXF(const std::string& name);
  /// The same from DXF text in memory.
  void ImportDXFText(const char* data, size_t size);
  //@}

  /// @name Undo and redo
  //@{
  /// The mouse and keyboard edits (insert, move, resize, text, delete, nudge)
  /// record themselves. Programmatic edits are recorded by calling SaveUndo
  /// before them; WithBitmap also keeps the picture, for CopyObjectsToBack
  /// and other changes of the bitmap. Recording drops the redo history.
  /** Records the current layer (objects, bitmap table, selection and, with WithBitmap, the picture) as
      one undo step; calls OnUndoChange. */
  void SaveUndo(bool WithBitmap = false);
  /// Closes any open interaction, then goes back one step (the current state goes to the redo history);
  /// false when there is nothing to undo. Calls OnSelectObject and OnUndoChange.
  bool Undo();
  /// Closes any open interaction, then goes forward one step; false when there is nothing to redo.
  /// Calls OnSelectObject and OnUndoChange.
  bool Redo();
  /// True when there is a step to undo.
  bool CanUndo() const { return !undo_.empty(); }
  /// True when there is a step to redo.
  bool CanRedo() const { return !redo_.empty(); }
  /// Whether the next Undo (Redo) also changes the picture.
  bool UndoRestoresBitmap() const;
  /// True when the next Redo also changes the picture.
  bool RedoRestoresBitmap() const;
  /// Forgets both histories and calls OnUndoChange.
  void ClearUndo();
  /// Steps that can be undone.
  int UndoCount() const { return int(undo_.size()); }
  /// Steps that can be redone.
  int RedoCount() const { return int(redo_.size()); }
  /// Steps kept (100 by default, at least 1); the oldest go first.
  int GetUndoLimit() const { return undo_limit_; }
  /// Sets the limit (at least 1), dropping the oldest steps of both histories beyond it; calls OnUndoChange.
  void SetUndoLimit(int n);
  //@}

  /// @name Keyboard edits of the selection (Delete and the arrow keys)
  //@{
  /** Removes the selected objects as one undo step. */
  void DeleteSelObjects();
  /// Moves the selected moveable objects; a run of nudges is one undo step.
  void NudgeSelObjects(int dx, int dy);

  /// Called after the selection changed through the mouse, the keyboard, undo, redo or the selection calls.
  TNotifyEvent OnSelectObject;
  /// The undo or redo history changed.
  TNotifyEvent OnUndoChange;
  /// Called each time the hint shows a measurement, with its text (which the handler may change) and value.
  TKVVMeasureHintEvent OnMeasureHint;
  /// The template: mouse inserts and AddNewObject copy it (an insert sets its kind and corners first).
  TKVVObject& TemplateObject() { return templ_; }
  //@}

 protected:
  /// Closes an open text edit; with the left button starts an insert, a grip drag or a selection, and a
  /// double click in select mode opens the editor on the text object under the pointer.
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  /// Refreshes the hint; while the left button is down, follows the insert's rubber band (Ctrl: lines at
  /// multiples of 45 degrees, circles), moves or sizes the selection by its grip, or selects with a
  /// rubber band.
  void MouseMove(TShiftState Shift, int X, int Y) override;
  /// Ends the drag: adds and selects the inserted object (a text opens its editor) as one undo step,
  /// selects what a click hits (Shift adds or removes), or ends a grip drag as one undo step.
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  /// Delete removes the selection, the arrows nudge it (Shift: 10 pixels),
  /// Ctrl+Z undoes, Ctrl+Y and Ctrl+Shift+Z redo.
  void KeyDown(Word& Key, TShiftState Shift) override;
  /// Claims the keys above from the window's shortcuts while they apply here.
  bool event(QEvent* e) override;

 private:
  /// One state of the layer: the objects, the bitmap table and, when asked
  /// for, the picture. Bitmaps are shared with neighbouring states while
  /// their pixels are equal.
  struct TUndoState {
    std::vector<TKVVObject> Objs;
    TKVVObject Root;
    int Live = 0;
    std::vector<std::pair<std::shared_ptr<const TBitmap>, int32_t>> Bitmaps;
    int TemplateSlot = -1;
    std::vector<int> Sel;
    std::shared_ptr<const TBitmap> Picture;
  };
  TUndoState CaptureState(bool WithBitmap) const;
  void RestoreState(const TUndoState& st);
  void PushUndo(TUndoState st);
  void UndoChanged() {
    if (OnUndoChange) OnUndoChange(this);
  }
  /// Frees the editor control (its text is already the object's).
  void CloseEditor();
  /// A finished text edit that changed the text becomes one undo step.
  void FinishEditStep();
  /// Whether a key applies to the layer now (selection, history).
  bool HandlesKey(int qtKey, Qt::KeyboardModifiers modifiers) const;

  void Repaint(int idx) {
    if (idx != kTemplate) Update();
  }
  /// Screen corners of an object (s = Zoom / 100).
  void ScreenCorners(const TKVVObject& o, int& x1, int& y1, int& x2, int& y2) const;
  bool MeetsImage(int x1, int y1, int x2, int y2) const;
  void ReleaseData(TKVVObject& o);
  void Unlink(int idx);
  void CollectSubtree(int idx, std::vector<int>& out);
  /// Puts idx just in front of (or behind) other, or at the front (back) of
  /// its own list for other -1.
  void MoveInZOrder(int idx, int other, bool front);
  int FindIn(int parent, const std::function<bool(const TKVVObject&)>& pred);
  void AttachBitmap(TKVVObject& o, const TBitmap* b);
  void DrawRubber(TCanvas* canvas);
  void DoSelectObject() {
    nudging_ = false;  ///< a nudge of another selection is a new step
    if (OnSelectObject) OnSelectObject(this);
  }
  void ShowHint(int x, int y, double value, bool area);
  void LoadKVV(TStream* s);

  std::vector<TKVVObject> objs_;
  int live_ = 0;
  TKVVObject templ_;
  TKVVObject root_;
  std::vector<TKVVBitmap> bitmaps_;
  bool share_bitmaps_ = true;
  int drawn_ = 0;

  /// Interaction.
  TKVMouseInteractVt interact_vt_;
  std::vector<int> sel_objs_;
  int inserting_ = -1;  ///< kind being inserted, -1 none
  int grip_ = 0;
  bool down_ = false;
  bool moved_ = false;
  bool rubber_ = false;  ///< rubber-band selection in progress
  TPoint down_pt_, cur_pt_;
  int edit_idx_ = -1;
  QLineEdit* edit_ = nullptr;
  std::string edit_before_;              ///< the text when the edit opened
  std::optional<TUndoState> edit_undo_;  ///< the layer when the edit opened
  std::optional<TUndoState> drag_undo_;  ///< the layer when a grip drag began
  bool drag_changed_ = false;            ///< the drag moved or sized something

  /// Undo.
  std::vector<TUndoState> undo_, redo_;
  int undo_limit_ = 100;
  bool nudging_ = false;  ///< the last step recorded was a nudge

  /// Measurement.
  TKVUnits munit_ = kvuPIXELS;
  double scale_ = 1.0;
  double cx_ = 1.0, cy_ = 1.0;
  int float_digits_ = 2;
  int float_precision_ = 15;
  bool live_segment_ = true;
  TPoint mouse_pt_{-1, -1};
  TKVHint* hint_ = nullptr;
};

}  // namespace korvane
