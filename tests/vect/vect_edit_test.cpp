// Editing the vector layer: text typed in the editor reaching the object
// before it closes, the special indices and coordinate order of the geometry
// calls, the keyboard, clicks on empty space, and undo/redo.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "korvane/foundations/host/streams.h"
#include "korvane/vect/kvvect.h"
#include "tests/test_support.h"
#include "tests/vect/vect_support.h"

using namespace korvane;
using namespace korvane::vtest;

namespace {

// A text object with white text on the black picture.
int AddText(TKorvaneVect& v, const std::string& text) {
  const int t = AddKind(v, kvkTEXT, 20, 20, 150, 60);
  v.SetObjText(t, text);
  return t;
}

// Opens the editor on a text object with a double click inside it.
void OpenEditor(TKorvaneVect& v, int x, int y) {
  v.SetMouseInteractVt({miObjectSelect});
  QTest::mouseDClick(&v, Qt::LeftButton, Qt::NoModifier, W(v, x, y));
}

}  // namespace

// ---------------------------------------------------------------------------
// Text typed into the open editor

TEST(VectTextEdit, TypedTextReachesSavesBurnInAndGetObjText) {
  auto v = MakeVect(200, 200, 200, 200);
  v->show();
  const int t = AddText(*v, "ab");
  OpenEditor(*v, 60, 40);
  ASSERT_NE(v->TextEditor(), nullptr);
  QTest::keyClicks(v->TextEditor(), "cd");
  ASSERT_NE(v->TextEditor(), nullptr);  // still editing
  EXPECT_EQ(v->GetObjText(t), "abcd");

  // The saved layer holds the typed text.
  TMemoryStream m;
  v->SaveToStreamKVV(&m);
  auto back = MakeVect(200, 200, 200, 200);
  m.SetPosition(0);
  back->LoadFromStreamKVV(&m);
  ASSERT_EQ(back->ObjectsCount(), 1);
  EXPECT_EQ(back->GetObjText(0), "abcd");

  // Burning in draws the text, exactly as a layer that was never edited.
  auto ref = MakeVect(200, 200, 200, 200);
  AddText(*ref, "abcd");
  ref->CopyObjectsToBack();
  v->CopyObjectsToBack();
  EXPECT_TRUE(test::SamePixels(*v->GetBitmap(), *ref->GetBitmap()));
  EXPECT_GT(CountColor(*v->GetBitmap(), 0xFFFFFF), 20);
}

// ---------------------------------------------------------------------------
// Special indices and the order of ChangeObjectCoor

TEST(VectGeometry, ChangeObjectCoorOrderAndStyleOfTheLastObject) {
  auto v = MakeVect(200, 200, 200, 200);
  const int b = AddKind(*v, kvkBOX, 10, 20, 50, 60);
  // (idx, dx1, dy2, dx2, dy1)
  v->ChangeObjectCoor(b, 1, 2, 3, 4);
  TRect r;
  v->GetObjRect(b, r);
  EXPECT_EQ(r, Rect(11, 24, 53, 62));

  // Clearing kvvsSelectable through -2 (the last object) drops it from the
  // selection as it does through its own index.
  const int last = AddKind(*v, kvkLINE, 0, 0, 30, 30);
  v->AddSelObject(b);
  v->AddSelObject(last);
  v->SetObjStyle(TKorvaneVect::kLast, TKVVStyle{kvvsVisible});
  EXPECT_FALSE(v->IsSelObject(last));
  EXPECT_TRUE(v->IsSelObject(b));
  EXPECT_TRUE(v->GetObjStyle(last) == TKVVStyle{kvvsVisible});
}

// ---------------------------------------------------------------------------
// Keyboard

TEST(VectKeys, EnterKeepsEscapeDropsDeleteAndArrowsEditTheSelection) {
  auto v = MakeVect(200, 200, 200, 200);
  v->show();
  const int t = AddText(*v, "ab");
  OpenEditor(*v, 60, 40);
  ASSERT_NE(v->TextEditor(), nullptr);
  QTest::keyClicks(v->TextEditor(), "cd");
  QTest::keyClick(v->TextEditor(), Qt::Key_Escape);
  EXPECT_EQ(v->TextEditor(), nullptr);
  EXPECT_EQ(v->TextEditIndex(), -1);
  EXPECT_EQ(v->GetObjText(t), "ab");
  EXPECT_FALSE(v->CanUndo());  // nothing changed

  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 5, 190), 300);  // no double click
  OpenEditor(*v, 60, 40);
  ASSERT_NE(v->TextEditor(), nullptr);
  QTest::keyClicks(v->TextEditor(), "xy");
  QTest::keyClick(v->TextEditor(), Qt::Key_Return);
  EXPECT_EQ(v->TextEditor(), nullptr);
  EXPECT_EQ(v->GetObjText(t), "abxy");
  EXPECT_EQ(v->UndoCount(), 1);

  // Arrows nudge the moveable selected objects; a run of them is one step.
  const int a = AddKind(*v, kvkBOX, 10, 100, 40, 130);
  const int fixed = AddKind(*v, kvkBOX, 100, 100, 140, 130);
  v->SetObjStyle(fixed, TKVVStyle{kvvsSelectable, kvvsVisible});
  v->UnSelAllObjects();
  v->AddSelObject(a);
  v->AddSelObject(fixed);
  QTest::keyClick(v.get(), Qt::Key_Right);
  QTest::keyClick(v.get(), Qt::Key_Down, Qt::ShiftModifier);
  QTest::keyClick(v.get(), Qt::Key_Left, Qt::ShiftModifier);
  TRect r;
  v->GetObjRect(a, r);
  EXPECT_EQ(r, Rect(1, 110, 31, 140));
  v->GetObjRect(fixed, r);
  EXPECT_EQ(r, Rect(100, 100, 140, 130));
  EXPECT_EQ(v->UndoCount(), 2);
  QTest::keyClick(v.get(), Qt::Key_Z, Qt::ControlModifier);
  v->GetObjRect(a, r);
  EXPECT_EQ(r, Rect(10, 100, 40, 130));
  QTest::keyClick(v.get(), Qt::Key_Y, Qt::ControlModifier);
  v->GetObjRect(a, r);
  EXPECT_EQ(r, Rect(1, 110, 31, 140));

  // Delete removes every selected object, as one step.
  const int live = v->ObjectsCount();
  QTest::keyClick(v.get(), Qt::Key_Delete);
  EXPECT_EQ(v->ObjectsCount(), live - 2);
  EXPECT_EQ(v->SelObjectCount(), 0);
  QTest::keyClick(v.get(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(v->ObjectsCount(), live);
  EXPECT_EQ(v->GetObjKind(fixed), kvkBOX);
}

TEST(VectMouse, ClickOnEmptySpaceDeselects) {
  auto v = MakeVect(200, 200, 200, 200);
  const int a = AddKind(*v, kvkBOX, 10, 10, 50, 50);
  v->SetMouseInteractVt({miObjectSelect});
  int events = 0;
  v->OnSelectObject = [&](TObject*) { ++events; };
  // Within the tolerance of the outline still hits it.
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 53, 30));
  ASSERT_EQ(v->SelObjectCount(), 1);
  EXPECT_EQ(v->GetSelObjects(0), a);
  // A Shift click far away keeps the selection; a plain one clears it.
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::ShiftModifier, W(*v, 150, 150), 300);
  EXPECT_EQ(v->SelObjectCount(), 1);
  events = 0;
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 150, 150), 300);
  EXPECT_EQ(v->SelObjectCount(), 0);
  EXPECT_EQ(events, 1);
  // At zoom 400 the tolerance is in screen pixels: 3 bitmap pixels off the
  // outline (12 screen pixels) is empty space there.
  v->SetZoom(400);
  v->SetViewXY(0, 0);
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 10 * 4 - 2, 30 * 4), 300);
  EXPECT_EQ(v->SelObjectCount(), 1);
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 10 * 4 - 12, 30 * 4), 300);
  EXPECT_EQ(v->SelObjectCount(), 0);
}

// ---------------------------------------------------------------------------
// Undo and redo

TEST(VectUndo, EveryKindOfEditStepsBackAndForth) {
  auto v = MakeVect(200, 200, 200, 200);
  v->TemplateObject().PenColor = clRed;
  v->TemplateObject().BrushStyle = bsClear;
  std::vector<TRect> rects;
  auto rect = [&] {
    TRect r;
    v->GetObjRect(0, r);
    return r;
  };
  // Insert (a click in box mode), move (centre grip), resize (corner grip).
  v->SetMouseInteractVt({miPutBox});
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 20, 20));
  ASSERT_EQ(v->ObjectsCount(), 1);
  rects.push_back(rect());  // 20,20 - 83,83
  v->SetMouseInteractVt({miObjectSelect});
  Drag(*v, {20 + 64 / 2, 20 + 64 / 2}, {{60, 62}});
  rects.push_back(rect());
  Drag(*v, {rects.back().Right, rects.back().Bottom}, {{150, 160}});
  rects.push_back(rect());
  EXPECT_EQ(rects[1], Rect(28, 30, 91, 93));
  EXPECT_EQ(rects[2], Rect(28, 30, 150, 160));
  // A property change and a burn-in, recorded by the caller.
  v->SaveUndo();
  v->SetObjPenColor(0, clLime);
  v->SaveUndo(true);
  v->CopyObjectsToBack();
  EXPECT_EQ(ColorToRGB(v->GetBitmap()->GetPixel(28, 100)), TColor(clLime));
  // Delete.
  QTest::keyClick(v.get(), Qt::Key_Delete);
  EXPECT_EQ(v->ObjectsCount(), 0);
  EXPECT_EQ(v->UndoCount(), 6);

  ASSERT_TRUE(v->Undo());  // delete
  ASSERT_EQ(v->ObjectsCount(), 1);
  EXPECT_TRUE(v->UndoRestoresBitmap());
  ASSERT_TRUE(v->Undo());  // burn-in: the picture is black again
  EXPECT_EQ(ColorToRGB(v->GetBitmap()->GetPixel(28, 100)), TColor(clBlack));
  EXPECT_EQ(v->GetObjPenColor(0), TColor(clLime));
  ASSERT_TRUE(v->Undo());  // colour
  EXPECT_EQ(v->GetObjPenColor(0), TColor(clRed));
  for (int i = 2; i >= 0; --i) {
    EXPECT_EQ(rect(), rects[size_t(i)]);
    ASSERT_TRUE(v->Undo());
  }
  EXPECT_EQ(v->ObjectsCount(), 0);
  EXPECT_FALSE(v->Undo());

  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(v->Redo());
    EXPECT_EQ(rect(), rects[size_t(i)]);
  }
  ASSERT_TRUE(v->Redo());
  ASSERT_TRUE(v->Redo());
  EXPECT_EQ(ColorToRGB(v->GetBitmap()->GetPixel(28, 100)), TColor(clLime));
  ASSERT_TRUE(v->Redo());
  EXPECT_EQ(v->ObjectsCount(), 0);
  EXPECT_FALSE(v->CanRedo());
  // A new edit drops what could be redone.
  ASSERT_TRUE(v->Undo());
  v->SaveUndo();
  EXPECT_FALSE(v->CanRedo());
}

TEST(VectUndo, FiftyStepsAndTheTemplateKeepsItsBitmap) {
  auto v = MakeVect(200, 200, 200, 200);
  const int b = AddKind(*v, kvkBOX, 0, 0, 10, 10);
  for (int i = 1; i <= 60; ++i) {
    v->SaveUndo();
    v->SetObjLeft(b, i);
  }
  EXPECT_EQ(v->UndoCount(), 60);
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(v->Undo());
  EXPECT_EQ(v->GetObjLeft(b), 0);
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(v->Redo());
  EXPECT_EQ(v->GetObjLeft(b), 60);
  v->SetUndoLimit(50);
  EXPECT_EQ(v->UndoCount(), 50);

  // A stamp shares the template's bitmap slot; undoing and redoing it keeps
  // the template's bitmap and the counts right.
  TBitmap* templ = v->GetObjBitmap(TKorvaneVect::kTemplate);
  ASSERT_NE(templ, nullptr);
  const int slot = v->TemplateObject().BitmapIdx;
  v->SetMouseInteractVt({miPutBitmap});
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 100, 100));
  const int stamp = v->ObjectArraySize() - 1;
  ASSERT_EQ(v->GetObjKind(stamp), kvkBITMAP);
  EXPECT_EQ(v->GetObj(stamp)->BitmapIdx, slot);
  EXPECT_EQ(v->BitmapRefCount(slot), 2);
  ASSERT_TRUE(v->Undo());
  EXPECT_EQ(v->ObjectArraySize() - 1, b);
  EXPECT_EQ(v->TemplateObject().BitmapIdx, slot);
  EXPECT_EQ(v->BitmapRefCount(slot), 1);
  ASSERT_TRUE(v->Redo());
  EXPECT_EQ(v->BitmapRefCount(v->GetObj(stamp)->BitmapIdx), 2);
  ASSERT_NE(v->GetObjBitmap(TKorvaneVect::kTemplate), nullptr);
  EXPECT_TRUE(test::SamePixels(*v->GetObjBitmap(stamp), *v->GetObjBitmap(TKorvaneVect::kTemplate)));
}
