// The palette picker (hit testing, highlight, choice, Execute) and the hint
// window (sizing, look, mouse transparency).
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <vector>

#include "korvane/foundations/kvhint.h"
#include "korvane/foundations/palette_dialog.h"

using namespace korvane;

namespace {

std::vector<TRGB> Ramp(int n) {
  std::vector<TRGB> p;
  for (int i = 0; i < n; ++i) p.push_back(TRGB{uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)});
  return p;
}

QRgb Q(TColor c) { return qRgb(GetRValue(c), GetGValue(c), GetBValue(c)); }

QPoint CellCenter(int i) {
  TRect r = TKorvanePaletteDialog::CellRect(i);
  return QPoint((r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2);
}

}  // namespace

// ---------------------------------------------------------------------------
// Palette dialog

struct HitCase {
  int x, y;
  int entry;  // with 40 entries
};

class PaletteHit : public ::testing::TestWithParam<HitCase> {};

TEST_P(PaletteHit, PointsMapToCells) {
  std::vector<TRGB> pal = Ramp(40);
  TKorvanePaletteDialog dlg(nullptr);
  dlg.SetPalette(pal.data(), int(pal.size()));
  EXPECT_EQ(dlg.EntryAt(GetParam().x, GetParam().y), GetParam().entry);
}

INSTANTIATE_TEST_SUITE_P(Points, PaletteHit,
                         ::testing::Values(HitCase{1, 1, 0}, HitCase{16, 16, 0}, HitCase{17, 1, 1},
                                           HitCase{1, 17, 32}, HitCase{16 * 7 + 5, 17, 39},
                                           HitCase{16 * 8 + 5, 17, -1},  // past the 40 entries
                                           HitCase{0, 5, -1}, HitCase{5, 0, -1},
                                           HitCase{16 * 32 + 1, 5, -1}));  // right of the grid, no wrap

TEST(PaletteDialog, LayoutAndCells) {
  TKorvanePaletteDialog dlg(nullptr);
  EXPECT_EQ(dlg.size(), QSize(539, 199));
  EXPECT_EQ(dlg.CancelButton()->text(), QStringLiteral("&Cancel"));
  EXPECT_EQ(dlg.CancelButton()->pos(), QPoint(8, 144));
  EXPECT_EQ(dlg.windowTitle(), QString());
  EXPECT_EQ(TKorvanePaletteDialog::CellRect(0), Rect(1, 1, 16, 16));
  EXPECT_EQ(TKorvanePaletteDialog::CellRect(33), Rect(17, 17, 32, 32));
  EXPECT_EQ(dlg.Highlighted(), -1);
}

TEST(PaletteDialog, MoveHighlightsAndClickChooses) {
  std::vector<TRGB> pal = Ramp(40);
  TKorvanePaletteDialog dlg(nullptr);
  dlg.SetPalette(pal.data(), int(pal.size()));
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));

  QTest::mouseMove(&dlg, CellCenter(34));
  QTRY_COMPARE(dlg.Highlighted(), 34);
  // The highlighted cell is outlined in black, the others in white, and
  // filled with their colors.
  QImage shot = dlg.grab().toImage();
  TRect h = TKorvanePaletteDialog::CellRect(34), o = TKorvanePaletteDialog::CellRect(33);
  EXPECT_EQ(shot.pixel(h.Left, h.Top), Q(clBlack));
  EXPECT_EQ(shot.pixel(h.Right - 1, h.Bottom - 1), Q(clBlack));
  EXPECT_EQ(shot.pixel(o.Left, o.Top), Q(clWhite));
  EXPECT_EQ(shot.pixel(h.Left + 5, h.Top + 5), Q(RGB(pal[34].r, pal[34].g, pal[34].b)));
  // Moving off the cells keeps the highlight.
  QTest::mouseMove(&dlg, QPoint(300, 120));
  EXPECT_EQ(dlg.Highlighted(), 34);

  // A click beside the cells chooses nothing.
  QTest::mouseClick(&dlg, Qt::LeftButton, Qt::NoModifier, QPoint(300, 120));
  EXPECT_TRUE(dlg.isVisible());
  QTest::mouseClick(&dlg, Qt::LeftButton, Qt::NoModifier, CellCenter(5));
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.ChosenColor(), RGB(pal[5].r, pal[5].g, pal[5].b));
}

TEST(PaletteDialog, ExecuteReportsTheChoiceOrTheCancel) {
  std::vector<TRGB> pal = Ramp(8);
  TKorvanePaletteDialog dlg(nullptr);
  dlg.SetPalette(pal.data(), int(pal.size()));
  QTimer::singleShot(0, &dlg,
                     [&] { QTest::mouseClick(&dlg, Qt::LeftButton, Qt::NoModifier, CellCenter(7)); });
  EXPECT_TRUE(dlg.Execute());
  EXPECT_EQ(dlg.ChosenColor(), RGB(pal[7].r, pal[7].g, pal[7].b));

  QTimer::singleShot(0, &dlg, [&] { QTest::mouseClick(dlg.CancelButton(), Qt::LeftButton); });
  EXPECT_FALSE(dlg.Execute());
}

TEST(PaletteDialog, OwnerFreesIt) {
  QPointer<QDialog> p;
  {
    TComponent owner;
    p = new TKorvanePaletteDialog(&owner);
  }
  EXPECT_TRUE(p.isNull());
}

// ---------------------------------------------------------------------------
// Hint window

TEST(Hint, SizedToItsTextInItsFont) {
  TKVHint hint(nullptr);
  EXPECT_FALSE(hint.isVisible());
  hint.SetText("123.4 mm");
  QFontMetrics fm(hint.Font()->ToQFont());
  EXPECT_EQ(hint.Width(), fm.horizontalAdvance(QStringLiteral("123.4 mm")) + 4);
  EXPECT_EQ(hint.Height(), fm.height() + 4);

  TFont big;
  big.SetHeight(-30);
  hint.SetFont(&big);
  EXPECT_EQ(hint.Font()->Height(), -30);
  hint.SetText("123.4 mm");
  QFontMetrics fm2(big.ToQFont());
  EXPECT_EQ(hint.Width(), fm2.horizontalAdvance(QStringLiteral("123.4 mm")) + 4);
  EXPECT_EQ(hint.Height(), fm2.height() + 4);
}

TEST(Hint, LooksLikeAHintAndLetsTheMouseThrough) {
  TKVHint hint(nullptr);
  hint.SetText("W");
  EXPECT_TRUE(hint.windowFlags().testFlag(Qt::ToolTip));
  EXPECT_TRUE(hint.windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(hint.testAttribute(Qt::WA_TransparentForMouseEvents));
  EXPECT_EQ(hint.Color(), TColor(0xE0FFFF));

  // Client area inside the 1-pixel edge: yellow, with black text from (1, 1).
  const QImage& img = hint.ClientImage();
  ASSERT_EQ(img.size(), QSize(hint.Width() - 2, hint.Height() - 2));
  EXPECT_EQ(img.pixel(0, 0), Q(0xE0FFFF));
  int black = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) black += img.pixel(x, y) == Q(clBlack);
  EXPECT_GT(black, 0);
  const QImage shot = hint.grab().toImage();
  EXPECT_EQ(shot.pixel(0, 0), Q(ColorToRGB(cl3DLight)));
  EXPECT_EQ(shot.pixel(shot.width() - 1, shot.height() - 1), Q(ColorToRGB(cl3DDkShadow)));

  // Reparenting keeps it a separate tool window.
  QWidget parent;
  hint.SetParent(&parent);
  EXPECT_TRUE(hint.isWindow());
  EXPECT_TRUE(hint.windowFlags().testFlag(Qt::ToolTip));
  hint.SetParent(nullptr);
}
