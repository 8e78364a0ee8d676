// The vector layer headless: the object store and bitmap table, drawing
// checked on rendered pixels, mouse interaction through QTest, measurement.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <cmath>

#include "korvane/foundations/kvhint.h"
#include "korvane/vect/kvvect.h"
#include "tests/test_support.h"
#include "tests/vect/vect_support.h"

using namespace korvane;
using namespace korvane::vtest;

// ---------------------------------------------------------------------------
// Store and tree

TEST(VectStore, LinesKeepDirectionOtherKindsAreNormalized) {
  auto v = MakeVect(100, 100, 100, 100);
  TKVVObject o;
  o.Kind = kvkLINE;
  o.x1 = 50, o.y1 = 40, o.x2 = 10, o.y2 = 5;
  int line = v->AddVObject(TKorvaneVect::kRoot, o);
  o.Kind = kvkBOX;
  int box = v->AddVObject(TKorvaneVect::kRoot, o);
  TRect r;
  v->GetObjRect(line, r);
  EXPECT_EQ(r, Rect(50, 40, 10, 5));
  v->GetObjRect(box, r);
  EXPECT_EQ(r, Rect(10, 5, 50, 40));
  EXPECT_EQ(v->GetObjWidth(box), 41);
  EXPECT_EQ(v->ObjectsCount(), 2);
}

TEST(VectStore, ZOrderWithSpecialOthersAndNamesInFrames) {
  auto v = MakeVect(100, 100, 100, 100);
  int a = AddKind(*v, kvkBOX, 0, 0, 9, 9);
  int b = AddKind(*v, kvkBOX, 0, 0, 9, 9);
  int c = AddKind(*v, kvkBOX, 0, 0, 9, 9);
  v->SetObjFrontOf(a, -1);
  EXPECT_EQ(v->GetObjPos(TKorvaneVect::kRoot, a), 2);
  v->SetObjBackTo(a, -1);
  EXPECT_EQ(v->GetObjPos(TKorvaneVect::kRoot, a), 0);
  v->SetObjFrontOf(a, b);  // just above b: b, a, c
  EXPECT_EQ(v->GetObjPos(TKorvaneVect::kRoot, a), 1);
  v->SetObjBackTo(c, b);  // c, b, a
  EXPECT_EQ(v->GetObjPos(TKorvaneVect::kRoot, c), 0);

  // A frame holding a named child: found through the frame; the frame itself
  // never matches.
  TKVVObject f;
  f.Kind = kvkFRAME;
  f.x2 = f.y2 = 50;
  f.Name = "group";
  f.ID = 7;
  int frame = v->AddVObject(TKorvaneVect::kRoot, f);
  TKVVObject t;
  t.Kind = kvkBOX;
  t.Name = "inner";
  t.ID = 7;
  int inner = v->AddVObject(frame, t);
  EXPECT_EQ(v->GetObjFromName("inner"), inner);
  EXPECT_EQ(v->GetObjFromName("group"), -1);
  EXPECT_EQ(v->GetObjFromID(7), inner);
  // A frame cannot be put inside itself.
  v->SetObjFrontOf(frame, inner);
  EXPECT_EQ(v->GetObj(frame)->Parent, TKorvaneVect::kRoot);

  // Removing the frame takes the selected child along.
  v->AddSelObject(inner);
  v->RemoveObject(frame);
  EXPECT_EQ(v->SelObjectCount(), 0);
  EXPECT_EQ(v->ObjectsCount(), 3);
  EXPECT_EQ(v->ObjectArraySize(), 3);  // the tail shrank
}

TEST(VectBitmaps, SharedSlotsCountFreeAndReuse) {
  auto v = MakeVect(100, 100, 100, 100);
  const int base = v->BitmapSlotCount();  // the template's icon
  TBitmap b1, b2, other;
  test::FillPattern24(b1, 8, 6, 1);
  test::FillPattern24(b2, 8, 6, 1);
  test::FillPattern24(other, 8, 6, 2);
  int o1 = AddKind(*v, kvkBITMAP, 0, 0, 9, 9);
  int o2 = AddKind(*v, kvkBITMAP, 0, 0, 9, 9);
  v->SetObjBitmap(o1, &b1);
  v->SetObjBitmap(o2, &b2);
  const int slot = v->GetObj(o1)->BitmapIdx;
  EXPECT_EQ(v->GetObj(o2)->BitmapIdx, slot);
  EXPECT_EQ(v->BitmapRefCount(slot), 2);
  EXPECT_EQ(v->BitmapSlotCount(), base + 1);
  // Giving an object its own bitmap again keeps the slot alive.
  v->SetObjBitmap(o1, &b1);
  EXPECT_EQ(v->BitmapRefCount(slot), 2);
  v->RemoveObject(o1);
  ASSERT_NE(v->GetBitmap(slot), nullptr);
  EXPECT_EQ(v->BitmapRefCount(slot), 1);
  v->RemoveObject(o2);
  EXPECT_EQ(v->GetBitmap(slot), nullptr);
  int o3 = AddKind(*v, kvkBITMAP, 0, 0, 9, 9);
  v->SetObjBitmap(o3, &other);
  EXPECT_EQ(v->GetObj(o3)->BitmapIdx, slot);
  EXPECT_TRUE(test::SamePixels(*v->GetObjBitmap(o3), other));

  // Without sharing, equal bitmaps get their own slots.
  v->SetShareBitmaps(false);
  int o4 = AddKind(*v, kvkBITMAP, 0, 0, 9, 9);
  v->SetObjBitmap(o4, &other);
  EXPECT_NE(v->GetObj(o4)->BitmapIdx, slot);

  // Packing closes holes and renumbers the objects.
  v->RemoveObject(o3);
  v->PackBMP();
  EXPECT_EQ(v->BitmapSlotCount(), base + 1);
  EXPECT_TRUE(test::SamePixels(*v->GetObjBitmap(o4), other));
  EXPECT_NE(v->GetObjBitmap(TKorvaneVect::kTemplate), nullptr);
  // Removing everything keeps the template's icon.
  v->RemoveAllObjects();
  EXPECT_NE(v->GetObjBitmap(TKorvaneVect::kTemplate), nullptr);
}

TEST(VectProps, FontPropertiesMapOntoTheLogFont) {
  auto v = MakeVect(100, 100, 100, 100);
  int t = AddKind(*v, kvkTEXT, 0, 0, 50, 20);
  TFont f;
  f.SetName("DejaVu Sans");
  f.SetHeight(-17);
  f.SetColor(clRed);
  f.SetStyle({fsBold, fsUnderline});
  v->SetObjFont(t, &f);
  EXPECT_EQ(v->GetObjPenColor(t), clRed);
  EXPECT_EQ(v->GetObjFontHeight(t), -17);
  EXPECT_EQ(v->GetObjFontName(t), "DejaVu Sans");
  EXPECT_TRUE(v->GetObjFontStyles(t) == (TFontStyles{fsBold, fsUnderline}));
  v->SetObjFontAngle(t, 45.67);
  EXPECT_DOUBLE_EQ(v->GetObjFontAngle(t), 45.6);
  v->SetObjFontName(t, std::string(40, 'x'));
  EXPECT_EQ(v->GetObjFontName(t).size(), 31u);
  int box = AddKind(*v, kvkBOX, 0, 0, 5, 5);
  EXPECT_EQ(v->GetObjFontHeight(box), 0);
  EXPECT_EQ(v->GetObjFontAngle(box), 0);
}

// ---------------------------------------------------------------------------
// Drawing

TEST(VectDraw, KindsOnScreenAtZoomAndBurnedIn) {
  auto v = MakeVect(200, 200, 100, 100);
  int box = AddKind(*v, kvkBOX, 10, 10, 30, 20);
  v->SetObjPenColor(box, clRed);
  int hidden = AddKind(*v, kvkBOX, 50, 50, 60, 60);
  v->SetObjPenColor(hidden, clLime);
  v->SetObjStyle(hidden, TKVVStyle{kvvsSelectable, kvvsMoveable, kvvsSizeable});
  v->SetZoom(200);
  TBitmap shot;
  Render(*v, shot);
  EXPECT_EQ(test::Pixel24(shot, 20, 20), 0xFF0000u);  // bitmap (10, 10) at zoom 200
  EXPECT_EQ(test::Pixel24(shot, 60, 30), 0xFF0000u);  // x2 = 30 -> right edge at 60
  EXPECT_EQ(test::Pixel24(shot, 40, 40), 0xFF0000u);  // y2 = 20 -> bottom edge at 40
  EXPECT_EQ(test::Pixel24(shot, 40, 30), 0x000000u);  // inside, clear brush
  EXPECT_EQ(CountColor(shot, 0x00FF00), 0);
  EXPECT_EQ(v->DrawnObjects(), 1);

  v->CopyObjectsToBack();
  TBitmap* b = v->GetBitmap();
  EXPECT_EQ(test::Pixel24(*b, 10, 10), 0xFF0000u);
  EXPECT_EQ(test::Pixel24(*b, 30, 20), 0xFF0000u);
  EXPECT_EQ(CountColor(*b, 0x00FF00), 0);
  EXPECT_EQ(v->ObjectsCount(), 2);
}

TEST(VectDraw, FullArcIsTheEllipseOutline) {
  auto v = MakeVect(100, 100, 100, 100);
  int arc = AddKind(*v, kvkARC, 10, 10, 70, 50);
  v->SetObjPenColor(arc, clWhite);
  v->SetObjAngleStart(arc, 0);
  v->SetObjAngleEnd(arc, 2 * M_PI);
  TBitmap a;
  Render(*v, a);
  v->SetObjKind(arc, kvkELLIPSE);
  TBitmap e;
  Render(*v, e);
  // Left, right, top and bottom of the outline are all drawn, as the ellipse's.
  const int arcInk = CountColor(a, 0xFFFFFF), ellInk = CountColor(e, 0xFFFFFF);
  EXPECT_GT(arcInk, 100);
  EXPECT_NEAR(arcInk, ellInk, ellInk / 20);
  for (auto [x, y] : {std::pair{10, 30}, {70, 30}, {40, 10}, {40, 50}})
    EXPECT_TRUE(InkNear(a, x, y, 0xFFFFFF, 1)) << x << "," << y;
  // Half the sweep draws about half the outline.
  v->SetObjKind(arc, kvkARC);
  v->SetObjAngleEnd(arc, M_PI);
  TBitmap h;
  Render(*v, h);
  EXPECT_LT(CountColor(h, 0xFFFFFF), arcInk * 2 / 3);
}

TEST(VectDraw, TextOfHeightZeroFollowsTheBox) {
  auto v = MakeVect(300, 200, 300, 200);
  int t = AddKind(*v, kvkTEXT, 10, 10, 280, 30);
  v->SetObjText(t, "HHHH");
  v->SetObjPenColor(t, clWhite);
  v->SetObjFontHeight(t, 0);
  TBitmap small, big;
  Render(*v, small);
  TRect r1 = InkBounds(small, 0xFFFFFF);
  v->SetObjRect(t, Rect(10, 10, 280, 70));
  Render(*v, big);
  TRect r2 = InkBounds(big, 0xFFFFFF);
  ASSERT_GT(r1.Height(), 5);
  EXPECT_NEAR(double(r2.Height()) / r1.Height(), 3.0, 0.6);
  EXPECT_GT(r2.Width(), r1.Width() * 2);
}

TEST(VectDraw, ArrowHeadsPointOutOrIn) {
  auto v = MakeVect(200, 100, 200, 100);
  int l = AddKind(*v, kvkLINE, 20, 50, 180, 50);
  v->SetObjPenColor(l, clWhite);
  v->SetObjBrushColor(l, clWhite);
  v->SetObjBrushStyle(l, bsSolid);
  v->SetObjEndShape(l, kvsOUTARROW);
  TBitmap out;
  Render(*v, out);
  // The end arrow's base is 20 pixels before the end point, 10 pixels wide.
  EXPECT_TRUE(InkNear(out, 163, 45, 0xFFFFFF, 1));
  EXPECT_FALSE(InkNear(out, 178, 45, 0xFFFFFF, 1));
  v->SetObjEndShape(l, kvsINARROW);
  TBitmap in;
  Render(*v, in);
  EXPECT_TRUE(InkNear(in, 180, 45, 0xFFFFFF, 1));
  EXPECT_FALSE(InkNear(in, 162, 46, 0xFFFFFF, 1));
}

TEST(VectDraw, LinesFromFarAwayDrawOnlyTheirVisiblePart) {
  auto v = MakeVect(200, 100, 200, 100);
  // Steps of one pixel over 2^28 would take gigabytes; the part on screen
  // is the same as that of a short line.
  AddKind(*v, kvkLINE, -200000000, 50, 200000000, 50);
  AddKind(*v, kvkLINE, -100000000, -100000000, 100000000, 100000000);
  TBitmap shot;
  Render(*v, shot);
  for (int x = 0; x < 200; x += 37) EXPECT_EQ(test::Pixel24(shot, x, 50), 0xFFFFFFu) << x;
  for (int i = 0; i < 100; i += 23) EXPECT_TRUE(InkNear(shot, i, i, 0xFFFFFF, 1)) << i;
}

// ---------------------------------------------------------------------------
// Mouse

TEST(VectMouse, ClickWithoutDragInsertsATemplateSizedBox) {
  auto v = MakeVect(200, 200, 200, 200);
  v->SetMouseInteractVt({miPutBox});
  int selected = 0;
  v->OnSelectObject = [&](TObject*) { ++selected; };
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 30, 40));
  ASSERT_EQ(v->ObjectsCount(), 1);
  TRect r;
  v->GetObjRect(0, r);
  EXPECT_EQ(r, Rect(30, 40, 93, 103));
  EXPECT_EQ(v->GetObjKind(0), kvkBOX);
  EXPECT_EQ(v->GetSelObjects(0), 0);
  EXPECT_GT(selected, 0);
  // A drag gives the dragged rectangle, normalized.
  Drag(*v, {150, 150}, {{120, 130}, {110, 125}});
  v->GetObjRect(1, r);
  EXPECT_EQ(r, Rect(110, 125, 150, 150));
}

TEST(VectMouse, CtrlEllipseIsACircleAndCtrlLineSnaps) {
  auto v = MakeVect(200, 200, 200, 200);
  v->SetMouseInteractVt({miPutEllipse});
  Drag(*v, {20, 20}, {{50, 90}}, Qt::ControlModifier);
  TRect r;
  v->GetObjRect(0, r);
  EXPECT_EQ(r.Right - r.Left, r.Bottom - r.Top);
  EXPECT_EQ(r, Rect(20, 20, 90, 90));
  v->SetMouseInteractVt({miPutLine});
  Drag(*v, {20, 150}, {{120, 153}}, Qt::ControlModifier);
  v->GetObjRect(1, r);
  EXPECT_EQ(r.Top, r.Bottom);  // horizontal
  EXPECT_EQ(r.Left, 20);
}

TEST(VectMouse, ClicksSelectShiftToggles) {
  auto v = MakeVect(200, 200, 200, 200);
  int a = AddKind(*v, kvkBOX, 10, 10, 50, 50);
  int b = AddKind(*v, kvkBOX, 100, 100, 150, 150);
  v->SetMouseInteractVt({miObjectSelect});
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 50, 30));
  ASSERT_EQ(v->SelObjectCount(), 1);
  EXPECT_EQ(v->GetSelObjects(0), a);
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::ShiftModifier, W(*v, 150, 120));
  EXPECT_EQ(v->SelObjectCount(), 2);
  // A plain click on a selected object leaves it alone in the selection...
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 100, 130), 300);
  ASSERT_EQ(v->SelObjectCount(), 1);
  EXPECT_EQ(v->GetSelObjects(0), b);
  // ...and a Shift click on it removes it.
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::ShiftModifier, W(*v, 100, 130), 300);
  EXPECT_EQ(v->SelObjectCount(), 0);
  // A rubber band selects what lies wholly inside.
  Drag(*v, {5, 5}, {{60, 60}, {70, 70}});
  ASSERT_EQ(v->SelObjectCount(), 1);
  EXPECT_EQ(v->GetSelObjects(0), a);
}

TEST(VectMouse, OneGripResizesEverySelectedBox) {
  auto v = MakeVect(200, 200, 200, 200);
  int a = AddKind(*v, kvkBOX, 10, 10, 50, 50);
  int b = AddKind(*v, kvkBOX, 100, 100, 150, 150);
  v->AddSelObject(a);
  v->AddSelObject(b);
  v->SetMouseInteractVt({miObjectSelect});
  Drag(*v, {50, 50}, {{60, 55}, {70, 58}});  // the (x2, y2) grip of a
  TRect r;
  v->GetObjRect(a, r);
  EXPECT_EQ(r, Rect(10, 10, 70, 58));
  v->GetObjRect(b, r);
  EXPECT_EQ(r, Rect(100, 100, 170, 158));
  // The centre grip moves both; a non-moveable object stays.
  v->SetObjStyle(b, TKVVStyle{kvvsSelectable, kvvsSizeable, kvvsVisible});
  Drag(*v, {10 + 61 / 2, 10 + 49 / 2}, {{45, 44}});
  v->GetObjRect(a, r);
  EXPECT_EQ(r, Rect(15, 20, 75, 68));
  v->GetObjRect(b, r);
  EXPECT_EQ(r, Rect(100, 100, 170, 158));
  // Dragging x1 past x2 normalizes on release.
  Drag(*v, {15, 20}, {{100, 20}});
  v->GetObjRect(a, r);
  EXPECT_EQ(r, Rect(75, 20, 100, 68));
}

TEST(VectMouse, DoubleClickEditsTextOnlyInsideText) {
  auto v = MakeVect(200, 200, 200, 200);
  v->show();
  int line = AddKind(*v, kvkLINE, 10, 150, 190, 150);
  int text = AddKind(*v, kvkTEXT, 20, 20, 120, 50);
  v->SetObjText(text, "abc");
  v->SetMouseInteractVt({miObjectSelect});
  QTest::mouseDClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 100, 150));
  EXPECT_EQ(v->TextEditor(), nullptr);
  EXPECT_EQ(v->TextEditIndex(), -1);
  (void)line;
  QTest::mouseDClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 60, 30));
  ASSERT_NE(v->TextEditor(), nullptr);
  EXPECT_EQ(v->TextEditIndex(), text);
  EXPECT_EQ(v->TextEditor()->text(), "abc");
  v->TextEditor()->setText("changed");
  // The next press stores the text and closes the editor.
  QTest::mouseClick(v.get(), Qt::LeftButton, Qt::NoModifier, W(*v, 180, 20), 300);
  EXPECT_EQ(v->TextEditor(), nullptr);
  EXPECT_EQ(v->GetObjText(text), "changed");
}

TEST(VectMouse, ModesAreExclusive) {
  auto v = MakeVect(100, 100, 100, 100);
  v->SetMouseInteract({miSelectPolygon});
  v->SetMouseInteractVt({miLineLen});
  EXPECT_TRUE(v->GetMouseInteract().Contains(miSelectPolygon));
  v->SetMouseInteractVt({miLineLen, miPutBox});
  EXPECT_TRUE(v->GetMouseInteractVt() == TKVMouseInteractVt{miPutBox});
  EXPECT_TRUE(v->GetMouseInteract().Empty());
  v->SetMouseInteractVt({miArea, miPutBox});
  EXPECT_TRUE(v->GetMouseInteractVt() == TKVMouseInteractVt{miArea});
  v->SetMouseInteract({miSelect});
  EXPECT_TRUE(v->GetMouseInteractVt() == TKVMouseInteractVt{miArea});
  // The clipboard operations change nothing.
  AddKind(*v, kvkBOX, 0, 0, 5, 5);
  v->CopyToClipboard();
  v->CutToClipboard();
  v->PasteFromClipboard();
  v->InsertFromClipboard(1, 1);
  EXPECT_EQ(v->ObjectsCount(), 1);
}

TEST(VectHit, NearestObjectAndSmallEllipses) {
  auto v = MakeVect(200, 200, 200, 200);
  int e = AddKind(*v, kvkELLIPSE, 100, 100, 106, 106);  // radius 3
  int box = AddKind(*v, kvkBOX, 10, 10, 50, 50);
  double d;
  EXPECT_EQ(v->FindNearObj(TKorvaneVect::kRoot, 103, 99, d), e);
  EXPECT_LT(d, 2.0);
  EXPECT_NEAR(v->CalcDistPtObj(v->GetObj(e), 103, 103), 3.0, 0.5);  // an octagon, not 10^7
  EXPECT_EQ(v->FindNearObj(TKorvaneVect::kRoot, 30, 30, d), box);
  EXPECT_DOUBLE_EQ(d, 20.0);  // clear box: distance to its edges
  v->SetObjBrushStyle(box, bsSolid);
  v->FindNearObj(TKorvaneVect::kRoot, 30, 30, d);
  EXPECT_EQ(d, 0.0);
  // Non-selectable objects are never hit.
  v->SetObjStyle(box, TKVVStyle{kvvsVisible});
  EXPECT_EQ(v->FindNearObj(TKorvaneVect::kRoot, 30, 30, d), e);
}

// ---------------------------------------------------------------------------
// Measurement

TEST(VectMeasure, LengthInUnitsAndScaleFromKnownLength) {
  auto v = MakeVect(300, 300, 300, 300);
  v->SetDPI(254, 254);
  v->SetMUnit(kvuCENTIMETERS);
  v->SetSelectionBase(kvsbBitmap);
  v->AddSelPoint(10, 10);
  v->AddSelPoint(110, 10);
  EXPECT_NEAR(v->GetSelectionLen(), 1.0, 1e-12);
  v->SetMouseInteractVt({miLineLen});
  EXPECT_EQ(v->Hint()->Text(), "1.00 CM");
  v->SetScaleFromPixels(100, 5);
  EXPECT_NEAR(v->GetSelectionLen(), 5.0, 1e-9);
  EXPECT_EQ(v->Hint()->Text(), "5.00 CM");
  v->SetMUnit(kvuMILLIMETERS);
  EXPECT_NEAR(v->GetSelectionLen(), 50.0, 1e-9);
  v->SetScale(1);
  v->SetMUnit(kvuINCHES);
  EXPECT_NEAR(v->GetSelectionLen(), 100.0 / 254, 1e-12);
  // From the selection itself: its 100 pixels become 20 units.
  v->SetScaleFromSelectionLen(20);
  EXPECT_NEAR(v->GetSelectionLen(), 20.0, 1e-9);
}

TEST(VectMeasure, AreaAndHintText) {
  auto v = MakeVect(300, 300, 300, 300);
  v->SetSelectionBase(kvsbBitmap);
  v->AddSelPoint(0, 0);
  v->AddSelPoint(10, 0);
  EXPECT_EQ(v->GetSelectionArea(), 0);
  v->AddSelPoint(10, 10);
  v->AddSelPoint(0, 10);
  EXPECT_DOUBLE_EQ(v->GetSelectionArea(), 100.0);
  EXPECT_DOUBLE_EQ(v->GetSelectionLen(), 40.0);  // closed polygon
  std::string seen;
  v->OnMeasureHint = [&](TObject*, std::string& text, double value) {
    seen = text;
    if (value > 50) text = "big";
  };
  v->SetMouseInteractVt({miArea});
  EXPECT_EQ(seen, "100.00 Pixels\xC2\xB2");
  EXPECT_EQ(v->Hint()->Text(), "big");
  v->SetFloatDigits(0);
  EXPECT_EQ(seen, "100 Pixels\xC2\xB2");
}
