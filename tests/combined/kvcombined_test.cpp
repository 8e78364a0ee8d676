// The combined component: settings routed to both owned components, one
// progress handler for loads and operations, abort of a load, and Assign.
#include "korvane/combined/kvcombined.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "tests/test_support.h"

using namespace korvane;

namespace {

std::unique_ptr<TKorvane> NewKorvane() {
  auto k = std::make_unique<TKorvane>(nullptr);
  k->SetBounds(0, 0, 200, 150);
  return k;
}

}  // namespace

TEST(Korvane, NColorsStays24Bit) {
  auto k = NewKorvane();
  k->GetBitmap()->SetSize(8, 8);
  k->GetBitmap()->SetPixelFormat(pf1bit);
  k->SetNColors(nc8bit);
  EXPECT_EQ(k->GetNColors(), nc24bit);
  EXPECT_EQ(k->GetBitmap()->PixelFormat(), pf24bit);
}

TEST(Korvane, SettingsReachBothComponents) {
  auto k = NewKorvane();
  EXPECT_EQ(k->IO()->GetAttachedKorvane(), k.get());
  EXPECT_EQ(k->Proc()->GetAttachedKorvane(), k.get());
  EXPECT_TRUE(k->GetAutoUndo());
  k->SetMsgLanguage(msGerman);
  EXPECT_EQ(k->Proc()->GetMsgLanguage(), msGerman);
  EXPECT_EQ(k->IO()->MsgLanguage, msGerman);
  TFont f;
  f.SetHeight(-17);
  k->SetPreviewFont(&f);
  EXPECT_EQ(k->Proc()->GetPreviewFont()->Height(), -17);
  EXPECT_EQ(k->GetPreviewFont()->Height(), -17);
}

TEST(Korvane, OneProgressHandlerForLoadsAndOperations) {
  QTemporaryDir dir;
  const std::string name = dir.filePath("p.png").toStdString();
  auto k = NewKorvane();
  korvane::test::FillPattern24(*k->GetBitmap(), 40, 30, 3);
  k->SaveToFile(name);

  int calls = 0, last = -1;
  k->SetOnProgress([&](TObject*, int per) { ++calls, last = per; });
  k->LoadFromFile(name);
  EXPECT_GT(calls, 0);
  EXPECT_EQ(last, 100);
  EXPECT_EQ(k->GetBitmap()->Width(), 40);

  calls = 0;
  k->Negative();
  EXPECT_GT(calls, 0);
  EXPECT_TRUE(k->GetCanUndo());
  k->Undo();
  TBitmap saved;
  korvane::test::FillPattern24(saved, 40, 30, 3);
  EXPECT_TRUE(korvane::test::SamePixels(*k->GetBitmap(), saved));
}

TEST(Korvane, AbortingFromTheProgressHandlerStopsALoad) {
  QTemporaryDir dir;
  const std::string name = dir.filePath("white.png").toStdString();
  auto k = NewKorvane();
  k->GetBitmap()->SetSize(32, 300);
  k->GetBitmap()->SetPixelFormat(pf24bit);
  k->GetBitmap()->Canvas()->Brush()->SetColor(clWhite);
  k->GetBitmap()->Canvas()->FillRect(Rect(0, 0, 32, 300));
  k->SaveToFile(name);

  int calls = 0;
  k->SetOnProgress([&](TObject*, int) {
    ++calls;
    k->SetAborting(true);
  });
  k->Blank();
  k->LoadFromFile(name);
  EXPECT_TRUE(k->GetAborting());
  EXPECT_EQ(calls, 1);
  ASSERT_EQ(k->GetBitmap()->Height(), 300);
  // Rows after the abort are not read: the bottom row is not white.
  EXPECT_NE(korvane::test::Pixel24(*k->GetBitmap(), 5, 299), 0xFFFFFFu);
  EXPECT_EQ(korvane::test::Pixel24(*k->GetBitmap(), 5, 0), 0xFFFFFFu);
}

TEST(Korvane, AssignTakesIOParamsThenTheView) {
  auto a = NewKorvane();
  korvane::test::FillPattern24(*a->GetBitmap(), 12, 9, 5);
  a->IOParams()->JPEG_Quality = 33;
  auto b = NewKorvane();
  b->Assign(a.get());
  EXPECT_EQ(b->IOParams()->JPEG_Quality, 33);
  EXPECT_TRUE(korvane::test::SamePixels(*a->GetBitmap(), *b->GetBitmap()));

  TKorvaneIO io;
  io.Params()->JPEG_Quality = 61;
  b->AssignIOParams(&io);
  EXPECT_EQ(b->IOParams()->JPEG_Quality, 61);
  b->Assign(&io);  // the view part ignores an I/O component
  EXPECT_EQ(b->GetBitmap()->Width(), 12);
}
