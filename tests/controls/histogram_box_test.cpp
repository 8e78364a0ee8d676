// The histogram box drawn headless: what an image's histogram looks like on
// the rendered pixels, where the labels and the graph go, and when it redraws.
#include "korvane/controls/histogram_box.h"

#include <gtest/gtest.h>

#include "korvane/proc/kvproc.h"

using namespace korvane;

namespace {

unsigned Px(THistogramBox& b, int x, int y) { return b.ClientImage().pixel(x, y) & 0xFFFFFF; }

// A 24-bit bitmap of one color.
void Fill(TBitmap& bmp, int w, int h, TColor c) {
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(w, h);
  bmp.Canvas()->Brush()->SetColor(c);
  bmp.Canvas()->FillRect(Rect(0, 0, w, h));
  bmp.Canvas()->EndPaint();
}

}  // namespace

TEST(HistogramBox, WithoutAComponentShowsOnlyTheBackground) {
  TBitmap img;
  Fill(img, 10, 10, clBlack);
  auto proc = std::make_unique<TKorvaneProc>();
  proc->SetAttachedBitmap(&img);
  THistogramBox box(nullptr);
  box.SetAKVP(proc.get());
  box.SetBackground(RGB(10, 20, 30));
  auto onlyBackground = [&] {
    const QImage& im = box.ClientImage();
    for (int y = 0; y < im.height(); ++y)
      for (int x = 0; x < im.width(); ++x)
        if ((im.pixel(x, y) & 0xFFFFFF) != 0x0A141E) return false;
    return true;
  };
  EXPECT_FALSE(onlyBackground());
  // The box forgets a destroyed component and draws nothing more.
  proc.reset();
  EXPECT_EQ(box.GetAKVP(), nullptr);
  box.Update();
  EXPECT_TRUE(onlyBackground());
}

TEST(HistogramBox, AllBlackImageIsOneFullBarLabelledWithThePixelCount) {
  TBitmap img;
  Fill(img, 40, 25, clBlack);  // 1000 pixels, all at gray level 0
  TKorvaneProc proc;
  proc.SetAttachedBitmap(&img);
  THistogramBox box(nullptr);
  box.SetAKVP(&proc);

  // The same texts drawn on their own, to compare the labels with.
  TBitmap ref;
  Fill(ref, box.Width(), box.Height(), clWhite);
  TCanvas* rc = ref.Canvas();
  rc->Font()->Assign(*box.Font());
  rc->Brush()->SetStyle(bsClear);
  const int fh = std::abs(box.Font()->Height());
  int gh = box.Height() - (int(fh * 1.2) + 2);
  rc->TextOut(0, 0, "1000");
  rc->TextOut(0, gh / 2, "500");
  const int s = rc->TextWidth("1000") + 2;
  const int th = rc->TextHeight("1000");
  rc->EndPaint();
  for (int y = 0; y < th; ++y)
    for (int x = 0; x < s - 2; ++x) {
      ASSERT_EQ(Px(box, x, y), ref.GetPixel(x, y) & 0xFFFFFF) << x << "," << y;
      ASSERT_EQ(Px(box, x, gh / 2 + y), ref.GetPixel(x, gh / 2 + y) & 0xFFFFFF) << x << "," << gh / 2 + y;
    }
  EXPECT_EQ(box.HistogramXPos, box.Left() + s);

  // Level 0 is the first graph column, black from the top to the axis; the
  // others have only their base dot.
  gh -= th + 2;
  for (int y = 0; y < gh; ++y) ASSERT_EQ(Px(box, s, y), 0u) << y;
  EXPECT_EQ(Px(box, s + 5, gh / 2), 0xFFFFFFu);
  EXPECT_EQ(Px(box, s + 5, gh - 1), 0u);
  // The color bar under it runs from black to white through gray 128.
  const int gw = box.Width() - s;
  EXPECT_EQ(Px(box, s, box.Height() - 1), 0u);
  const unsigned mid = unsigned(std::lround(double(gw / 2) / gw * 256));
  EXPECT_EQ(Px(box, s + gw / 2, box.Height() - 1), mid * 0x010101u);
}

TEST(HistogramBox, UsesTheWholeControlWithoutBarAndLabels) {
  TBitmap img;
  Fill(img, 8, 8, clBlack);
  TKorvaneProc proc;
  proc.SetAttachedBitmap(&img);
  THistogramBox box(nullptr);
  box.SetCompBar(false);
  box.SetLabels({});
  box.SetAKVP(&proc);
  const int h = box.Height();
  for (int y = 0; y < h; ++y) ASSERT_EQ(Px(box, 0, y), 0u) << y;
  EXPECT_EQ(Px(box, 1, h - 2), 0xFFFFFFu);
  EXPECT_EQ(Px(box, 1, h - 1), 0u);
  EXPECT_EQ(Px(box, box.Width() - 1, h - 1), 0u);
  EXPECT_EQ(box.HistogramXPos, box.Left());

  // Lines: from the base to the top at level 0 and back down to the base.
  box.SetHistogramStyle(hsLines);
  EXPECT_EQ(Px(box, 0, 0), 0u);
  EXPECT_EQ(Px(box, 1, h - 1), 0u);
  EXPECT_EQ(Px(box, 1, 0), 0xFFFFFFu);
}

TEST(HistogramBox, SettingAPropertyToItsValueDoesNotRedraw) {
  TBitmap img;
  Fill(img, 8, 8, clBlack);
  TKorvaneProc proc;
  proc.SetAttachedBitmap(&img);
  THistogramBox box(nullptr);
  box.SetAKVP(&proc);
  const QImage black = box.ClientImage().copy();
  // The image changes behind the box's back; only a redraw shows it.
  Fill(img, 8, 8, clWhite);
  box.SetHistogramKind({hkGray});
  box.SetLabels({hlVertical, hlHorizontal});
  box.SetCompBar(true);
  box.SetHistogramStyle(hsBars);
  EXPECT_EQ(box.ClientImage(), black);
  box.SetHistogramKind({hkGray, hkRed});
  EXPECT_NE(box.ClientImage(), black);
}
