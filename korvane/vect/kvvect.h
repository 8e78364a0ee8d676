// TKorvaneVect: the image view with a layer of vector objects over the
// bitmap (lines with arrow ends, boxes, ellipses, arcs, bitmaps and rotated
// text, grouped in frames), their mouse interaction, measurement of the
// selection polygon in physical units, the KVV file format and DXF import.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "korvane/view/kvview.h"

class QEvent;
class QLineEdit;

namespace korvane {

class TKVHint;
class TStream;

enum TKVVObjectKind : uint8_t { kvkFRAME, kvkLINE, kvkBOX, kvkELLIPSE, kvkARC, kvkBITMAP, kvkTEXT };
enum TKVShape : uint8_t { kvsNONE, kvsINARROW, kvsOUTARROW };
enum TKVVStyleItem { kvvsSelectable, kvvsMoveable, kvvsSizeable, kvvsVisible };
using TKVVStyle = TSet<TKVVStyleItem>;
enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };

enum TKVMouseInteractVtItems {
  miArea,
  miLineLen,
  miPutLine,
  miPutBox,
  miPutEllipse,
  miPutBitmap,
  miPutText,
  miObjectSelect
};
using TKVMouseInteractVt = TSet<TKVMouseInteractVtItems>;
// Registered with Qt's meta-object system (see control_enums in
// host/controls.h).
namespace vect_enums {
Q_NAMESPACE
enum TKVUnits { kvuPIXELS, kvuINCHES, kvuKM, kvuMETERS, kvuCENTIMETERS, kvuMILLIMETERS };
Q_ENUM_NS(TKVUnits)
}  // namespace vect_enums
using namespace vect_enums;

using TKVVMeasureHintEvent = std::function<void(TObject* Sender, std::string& Text, double Value)>;

// The 60-byte font record of text objects, in the byte layout the KVV files
// store (little-endian integers, then the flag bytes and the face name).
struct TLogFont {
  int32_t lfHeight = 0;  // 0: the text fills the box height
  int32_t lfWidth = 0;
  int32_t lfEscapement = 0;  // tenths of a degree, counter-clockwise
  int32_t lfOrientation = 0;
  int32_t lfWeight = 400;  // bold from 700
  uint8_t lfItalic = 0;
  uint8_t lfUnderline = 0;
  uint8_t lfStrikeOut = 0;
  uint8_t lfCharSet = 0;
  uint8_t lfOutPrecision = 0;
  uint8_t lfClipPrecision = 0;
  uint8_t lfQuality = 0;
  uint8_t lfPitchAndFamily = 0;
  char lfFaceName[32] = {};
};
static_assert(sizeof(TLogFont) == 60, "TLogFont is the 60-byte file record");

// The LOGFONT of a font and the font of a LOGFONT (color aside).
TLogFont LogFontOf(const TFont& f);
void FontFromLog(const TLogFont& lf, TFont& f);

constexpr int kKVVStyleAll = 15;

// One vector object. Frames own a list of child indices, bottom first.
struct TKVVObject {
  int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  TKVVObjectKind Kind = kvkFRAME;
  int32_t Parent = -4;
  int32_t ChildCount = 0;         // frames: size of Children
  std::vector<int32_t> Children;  // frames
  TKVShape BeginShape = kvsNONE;
  TKVShape EndShape = kvsNONE;
  int32_t ShapeWidth = 10;
  int32_t ShapeHeight = 20;
  TColor PenColor = 0xFFFFFF;
  TPenStyle PenStyle = psSolid;
  int32_t PenWidth = 1;
  TColor BrushColor = 0xFFFFFF;
  TBrushStyle BrushStyle = bsClear;
  double AngleStart = 0;
  double AngleEnd = 0;
  int32_t BitmapIdx = -1;
  std::string Text;
  std::optional<TLogFont> Font;
  TAlignment TextAlign = taLeftJustify;
  std::string Name;
  int32_t ID = 0;
  TKVVStyle Style = TKVVStyle::FromMask(kKVVStyleAll);
};
using PKVVObject = TKVVObject*;

// A slot of the shared bitmap table; a free slot has no bitmap.
struct TKVVBitmap {
  std::unique_ptr<TBitmap> Bitmap;
  int32_t RefCount = 0;
};

class TKorvaneVect : public TKorvaneView {
  Q_OBJECT
  Q_PROPERTY(korvane::vect_enums::TKVUnits MUnit READ GetMUnit WRITE SetMUnit)
  Q_PROPERTY(double Scale READ GetScale WRITE SetScale)
  Q_PROPERTY(int FloatDigits READ GetFloatDigits WRITE SetFloatDigits)
  Q_PROPERTY(int FloatPrecision READ GetFloatPrecision WRITE SetFloatPrecision)
  Q_PROPERTY(bool LiveSegment READ GetLiveSegment WRITE SetLiveSegment)
  Q_PROPERTY(bool ShareBitmaps READ GetShareBitmaps WRITE SetShareBitmaps)
  Q_PROPERTY(int UndoLimit READ GetUndoLimit WRITE SetUndoLimit)

 public:
  explicit TKorvaneVect(TComponent* AOwner, QWidget* parent = nullptr);
  template <KVFormParent P>
  explicit TKorvaneVect(P* parent) : TKorvaneVect(nullptr, parent) {}
  ~TKorvaneVect() override;

  static constexpr int kTemplate = -1;
  static constexpr int kLast = -2;
  static constexpr int kRoot = -3;
  static constexpr int kNone = -4;

  // --- Object store and tree
  // The record of an index (special indices included); null when out of range.
  PKVVObject GetObj(int idx);
  int AddVObject(int parent, const TKVVObject& src);
  int AddNewObject() { return AddVObject(kRoot, templ_); }
  void RemoveObject(int idx);
  void RemoveAllObjects();
  int GetObjPos(int parent, int idx);
  int GetObjFromName(const std::string& name);
  int GetObjFromID(int id);
  void ReInsertVObject(int parent, int idx, int pos);
  void SetObjFrontOf(int idx, int other);
  void SetObjBackTo(int idx, int other);
  // Entries of the array (removed objects leave holes until the array ends)
  // and the number of live objects.
  int ObjectArraySize() const { return int(objs_.size()); }
  int ObjectsCount() const { return live_; }

  // --- Object properties (setters repaint unless idx is -1)
  TKVVObjectKind GetObjKind(int idx);
  void SetObjKind(int idx, TKVVObjectKind v);
  void GetObjRect(int idx, TRect& r);
  void SetObjRect(int idx, const TRect& r);
  int GetObjLeft(int idx);
  int GetObjTop(int idx);
  void SetObjLeft(int idx, int v);
  void SetObjTop(int idx, int v);
  int GetObjWidth(int idx);
  int GetObjHeight(int idx);
  void SetObjWidth(int idx, int w);
  void SetObjHeight(int idx, int h);
  TColor GetObjPenColor(int idx);
  void SetObjPenColor(int idx, TColor v);
  TPenStyle GetObjPenStyle(int idx);
  void SetObjPenStyle(int idx, TPenStyle v);
  int GetObjPenWidth(int idx);
  void SetObjPenWidth(int idx, int v);
  TColor GetObjBrushColor(int idx);
  void SetObjBrushColor(int idx, TColor v);
  TBrushStyle GetObjBrushStyle(int idx);
  void SetObjBrushStyle(int idx, TBrushStyle v);
  TKVShape GetObjBeginShape(int idx);
  void SetObjBeginShape(int idx, TKVShape v);
  TKVShape GetObjEndShape(int idx);
  void SetObjEndShape(int idx, TKVShape v);
  int GetObjShapeWidth(int idx);
  void SetObjShapeWidth(int idx, int v);
  int GetObjShapeHeight(int idx);
  void SetObjShapeHeight(int idx, int v);
  int GetObjID(int idx);
  void SetObjID(int idx, int v);
  std::string GetObjName(int idx);
  void SetObjName(int idx, const std::string& v);
  std::string GetObjText(int idx);
  void SetObjText(int idx, const std::string& v);
  TAlignment GetObjTextAlign(int idx);
  void SetObjTextAlign(int idx, TAlignment v);
  TKVVStyle GetObjStyle(int idx);
  void SetObjStyle(int idx, TKVVStyle v);
  void SetObjFont(int idx, const TFont* f);
  double GetObjFontAngle(int idx);
  void SetObjFontAngle(int idx, double degrees);
  int GetObjFontHeight(int idx);
  void SetObjFontHeight(int idx, int h);
  std::string GetObjFontName(int idx);
  void SetObjFontName(int idx, const std::string& name);
  TFontStyles GetObjFontStyles(int idx);
  void SetObjFontStyles(int idx, TFontStyles s);
  double GetObjAngleStart(int idx);
  void SetObjAngleStart(int idx, double a);
  double GetObjAngleEnd(int idx);
  void SetObjAngleEnd(int idx, double a);
  TBitmap* GetObjBitmap(int idx);
  void SetObjBitmap(int idx, const TBitmap* b);
  void SetObjBitmapNU(int idx, const TBitmap* b);
  void SetObjBitmapIdxNU(int idx, int slot);
  // A cx x cy bitmap of a system icon (32512 application, 32513 error,
  // 32514 question, 32515 warning, 32516 information).
  void SetObjBitmapICO(int idx, int resource, int cy, int cx);

  // --- Shared bitmap table
  bool GetShareBitmaps() const { return share_bitmaps_; }
  void SetShareBitmaps(bool on) { share_bitmaps_ = on; }
  int AllocBitmap();
  void FreeBitmap(int slot);
  int FindBitmap(const TBitmap* b);
  using TKVView::GetBitmap;
  TBitmap* GetBitmap(int slot);
  int BitmapSlotCount() const { return int(bitmaps_.size()); }
  int BitmapRefCount(int slot) const;
  void PackBMP();

  // --- Drawing
  void DrawObject(TCanvas* canvas, PKVVObject o, bool ToBitmap);
  void DrawLineShape(TCanvas* canvas, int X, int Y, int X2, int Y2, TKVShape shape, int W, int H);
  void DrawObjectText(TCanvas* canvas, int x1, int y1, int x2, int y2, PKVVObject o, double scale);
  void DrawObjectGrips(TCanvas* canvas, PKVVObject o);
  void DrawSelGrips(TCanvas* canvas);
  void VPaintTo(TCanvas* canvas);
  void PaintTo(TCanvas* canvas) override;
  // Burns the visible objects into the bitmap; the objects stay.
  void CopyObjectsToBack();
  // Non-frame objects drawn by the last VPaintTo.
  int DrawnObjects() const { return drawn_; }

  void Update() override;
  void ViewChange(int change) override;
  void SetDPIX(int v) override;
  void SetDPIY(int v) override;
  void SetDPI(int x, int y) override;
  void SetMouseInteract(TKVMouseInteract s) override;
  // The view scrolled under a drag: the remembered points follow.
  void SubMouseMoveScroll(int dx, int dy) override;

  // --- Interaction
  TKVMouseInteractVt GetMouseInteractVt() const { return interact_vt_; }
  void SetMouseInteractVt(TKVMouseInteractVt s);
  void CancelInteracts();
  void AddSelObject(int idx);
  void AddSelObjectNS(int idx);
  bool IsSelObject(int idx) const;
  void UnSelObject(int idx);
  void UnSelAllObjects();
  int GetSelObjects(int i) const;
  int SelObjectCount() const { return int(sel_objs_.size()); }
  void SelInRect(int parent, int x1, int y1, int x2, int y2);
  int FindNearObj(int parent, int x, int y, double& dist);
  double CalcDistPtObj(PKVVObject o, int x, int y);
  int FindSelGrip(int x, int y, int& grip);
  void TraslateObject(int idx, int dx, int dy);
  // Adds to the four coordinates independently, in the published argument
  // order: dx1 to x1, dy2 to y2, dx2 to x2, dy1 to y1.
  void ChangeObjectCoor(int idx, int dx1, int dy2, int dx2, int dy1);
  void ActiveTextEdit();
  void RemoveTextEdit();
  // Ends the text edit: Keep stores the typed text (one undo step when it
  // changed), otherwise the object keeps the text it had when the edit
  // opened. Enter and Escape in the editor call it.
  void EndTextEdit(bool Keep);
  int TextEditIndex() const { return edit_idx_; }
  QLineEdit* TextEditor() const { return edit_; }
  // Present for the clipboard menu; they do nothing.
  void CopyToClipboard() {}
  void CutToClipboard() {}
  void PasteFromClipboard() {}
  void InsertFromClipboard(int, int) {}

  // --- Measurement
  TKVUnits GetMUnit() const { return munit_; }
  void SetMUnit(TKVUnits u);
  double GetScale() const { return scale_; }
  void SetScale(double s);
  int GetFloatDigits() const { return float_digits_; }
  void SetFloatDigits(int d);
  int GetFloatPrecision() const { return float_precision_; }
  void SetFloatPrecision(int p);
  bool GetLiveSegment() const { return live_segment_; }
  void SetLiveSegment(bool on) { live_segment_ = on; }
  void CalcCoef();
  double CoefX() const { return cx_; }
  double CoefY() const { return cy_; }
  double GetSelectionLen();
  double GetSelectionArea();
  void SetScaleFromPixels(double pixels, double value);
  void SetScaleFromSelectionLen(double value);
  void UpdateHint(int x, int y);
  TKVHint* Hint() const { return hint_; }
  // The hint text for a value in the current unit ("²" appended for areas).
  std::string MeasureText(double value, bool area) const;

  // --- Files
  void SaveToStreamKVV(TStream* s);
  void SaveToFileKVV(const std::string& name);
  void LoadFromStreamKVV(TStream* s);
  void LoadFromFileKVV(const std::string& name);
  void SaveObj(TStream* s, int idx);
  void ImportDXF(const std::string& name);
  // The same from DXF text in memory.
  void ImportDXFText(const char* data, size_t size);

  // --- Undo and redo
  // The mouse and keyboard edits (insert, move, resize, text, delete, nudge)
  // record themselves. Programmatic edits are recorded by calling SaveUndo
  // before them; WithBitmap also keeps the picture, for CopyObjectsToBack
  // and other changes of the bitmap. Recording drops the redo history.
  void SaveUndo(bool WithBitmap = false);
  bool Undo();
  bool Redo();
  bool CanUndo() const { return !undo_.empty(); }
  bool CanRedo() const { return !redo_.empty(); }
  // Whether the next Undo (Redo) also changes the picture.
  bool UndoRestoresBitmap() const;
  bool RedoRestoresBitmap() const;
  void ClearUndo();
  int UndoCount() const { return int(undo_.size()); }
  int RedoCount() const { return int(redo_.size()); }
  // Steps kept (100 by default, at least 1); the oldest go first.
  int GetUndoLimit() const { return undo_limit_; }
  void SetUndoLimit(int n);

  // --- Keyboard edits of the selection (Delete and the arrow keys)
  // Removes the selected objects as one undo step.
  void DeleteSelObjects();
  // Moves the selected moveable objects; a run of nudges is one undo step.
  void NudgeSelObjects(int dx, int dy);

  TNotifyEvent OnSelectObject;
  // The undo or redo history changed.
  TNotifyEvent OnUndoChange;
  TKVVMeasureHintEvent OnMeasureHint;
  TKVVObject& TemplateObject() { return templ_; }

 protected:
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  // Delete removes the selection, the arrows nudge it (Shift: 10 pixels),
  // Ctrl+Z undoes, Ctrl+Y and Ctrl+Shift+Z redo.
  void KeyDown(Word& Key, TShiftState Shift) override;
  // Claims the keys above from the window's shortcuts while they apply here.
  bool event(QEvent* e) override;

 private:
  // One state of the layer: the objects, the bitmap table and, when asked
  // for, the picture. Bitmaps are shared with neighbouring states while
  // their pixels are equal.
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
  // Frees the editor control (its text is already the object's).
  void CloseEditor();
  // A finished text edit that changed the text becomes one undo step.
  void FinishEditStep();
  // Whether a key applies to the layer now (selection, history).
  bool HandlesKey(int qtKey, Qt::KeyboardModifiers modifiers) const;

  void Repaint(int idx) {
    if (idx != kTemplate) Update();
  }
  // Screen corners of an object (s = Zoom / 100).
  void ScreenCorners(const TKVVObject& o, int& x1, int& y1, int& x2, int& y2) const;
  bool MeetsImage(int x1, int y1, int x2, int y2) const;
  void ReleaseData(TKVVObject& o);
  void Unlink(int idx);
  void CollectSubtree(int idx, std::vector<int>& out);
  // Puts idx just in front of (or behind) other, or at the front (back) of
  // its own list for other -1.
  void MoveInZOrder(int idx, int other, bool front);
  int FindIn(int parent, const std::function<bool(const TKVVObject&)>& pred);
  void AttachBitmap(TKVVObject& o, const TBitmap* b);
  void DrawRubber(TCanvas* canvas);
  void DoSelectObject() {
    nudging_ = false;  // a nudge of another selection is a new step
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

  // Interaction.
  TKVMouseInteractVt interact_vt_;
  std::vector<int> sel_objs_;
  int inserting_ = -1;  // kind being inserted, -1 none
  int grip_ = 0;
  bool down_ = false;
  bool moved_ = false;
  bool rubber_ = false;  // rubber-band selection in progress
  TPoint down_pt_, cur_pt_;
  int edit_idx_ = -1;
  QLineEdit* edit_ = nullptr;
  std::string edit_before_;              // the text when the edit opened
  std::optional<TUndoState> edit_undo_;  // the layer when the edit opened
  std::optional<TUndoState> drag_undo_;  // the layer when a grip drag began
  bool drag_changed_ = false;            // the drag moved or sized something

  // Undo.
  std::vector<TUndoState> undo_, redo_;
  int undo_limit_ = 100;
  bool nudging_ = false;  // the last step recorded was a nudge

  // Measurement.
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
