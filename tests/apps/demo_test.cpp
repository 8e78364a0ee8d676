// The demo window driven headless: its actions reach the view and reflect
// what the view kept, the status bar follows mouse and selection, the
// rendered window shows the selection outline, and the command line rejects
// what it cannot honour.
#include <gtest/gtest.h>

#ifdef KORVANE_DEMO_WINDOW

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>
#include <vector>

#include "apps/korvane-demo/mainwindow.h"
#include "korvane/pixels/bitmap_procs.h"

using namespace korvane;
using namespace korvane::demo;

namespace {

// A shown (but not on screen) window of the screenshot size.
std::unique_ptr<MainWindow> MakeWindow() {
  auto w = std::make_unique<MainWindow>();
  w->setAttribute(Qt::WA_DontShowOnScreen);
  w->resize(kScreenshotWidth, kScreenshotHeight);
  w->show();
  QCoreApplication::processEvents();
  return w;
}

QAction* Act(MainWindow& w, const char* name) {
  auto* a = w.findChild<QAction*>(name);
  EXPECT_NE(a, nullptr) << name;
  return a;
}

QString LabelText(MainWindow& w, const char* name) {
  auto* l = w.findChild<QLabel*>(name);
  return l ? l->text() : QString("<no label %1>").arg(name);
}

QPoint ClientPos(TKorvaneView* v, int x, int y) { return v->ClientArea().topLeft() + QPoint(x, y); }

// A mouse move with no button held, sent to the view itself (QTest would move
// the cursor instead, which reaches no window that is not on screen).
void Hover(TKorvaneView* v, int x, int y) {
  QPoint p = ClientPos(v, x, y);
  QMouseEvent e(QEvent::MouseMove, p, v->mapToGlobal(p), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(v, &e);
}

}  // namespace

TEST(DemoPicture, HasItsSizeAndPatternsWhereExpected) {
  TBitmap b;
  DrawSamplePicture(&b);
  ASSERT_EQ(b.Width(), kSampleWidth);
  ASSERT_EQ(b.Height(), kSampleHeight);
  ASSERT_EQ(b.PixelFormat(), pf24bit);
  // The one-pixel checker block of the bottom-right panel alternates.
  const int x = 800 + 10 + 50, y = 800 + 36 + 50;
  EXPECT_NE(b.GetPixel(x, y), b.GetPixel(x + 1, y));
  EXPECT_NE(b.GetPixel(x, y), b.GetPixel(x, y + 1));
  EXPECT_EQ(b.GetPixel(x, y), b.GetPixel(x + 1, y + 1));
  // The smooth gray ramp runs from black to white.
  EXPECT_EQ(b.GetPixel(1, 320), clBlack);
  EXPECT_EQ(b.GetPixel(798, 320), RGB(254, 254, 254));
  // Half-way down, the hue sweep is fully saturated: cyan in the middle.
  EXPECT_EQ(b.GetPixel(400, 150), RGB(0, 255, 255));
}

TEST(DemoWindow, ZoomActionsStepAboutTheCentreAndFit) {
  auto w = MakeWindow();
  TKorvaneView* v = w->View();
  int cx = v->ClientWidth() / 2, cy = v->ClientHeight() / 2;
  int bx = v->XScr2Bmp(cx), by = v->YScr2Bmp(cy);
  Act(*w, "zoomIn")->trigger();
  EXPECT_EQ(v->GetZoom(), 200);
  // What was in the middle stays in the middle.
  EXPECT_NEAR(v->XScr2Bmp(cx), bx, 1);
  EXPECT_NEAR(v->YScr2Bmp(cy), by, 1);
  EXPECT_EQ(LabelText(*w, "zoomLabel"), "Zoom 200%");
  EXPECT_EQ(LabelText(*w, "originLabel"), QString("Origin %1, %2").arg(v->GetViewX()).arg(v->GetViewY()));
  Act(*w, "zoomOut")->trigger();
  Act(*w, "zoomOut")->trigger();
  EXPECT_EQ(v->GetZoom(), 75);
  Act(*w, "zoom100")->trigger();
  EXPECT_EQ(v->GetZoom(), 100);
  Act(*w, "fit")->trigger();
  // Fitted: the zoomed picture fits the view, one percent more would not.
  int z = v->GetZoom();
  EXPECT_LE(v->GetZoomedWidth(), v->Width());
  EXPECT_LE(v->GetZoomedHeight(), v->Height());
  EXPECT_TRUE(kSampleWidth * (z + 1) / 100 > v->Width() || kSampleHeight * (z + 1) / 100 > v->Height());
  EXPECT_EQ(LabelText(*w, "zoomLabel"), QString("Zoom %1%").arg(z));
  // Zooming out stops at the smallest step instead of turning round.
  v->SetZoom(1);
  EXPECT_FALSE(Act(*w, "zoomOut")->isEnabled());
  Act(*w, "zoomOut")->trigger();
  EXPECT_EQ(v->GetZoom(), 1);
  v->SetZoom(kMaxZoom);
  EXPECT_FALSE(Act(*w, "zoomIn")->isEnabled());
}

// One action of an exclusive group and the view state it must produce.
struct GroupCase {
  const char* action;
  std::function<bool(TKorvaneView&)> holds;
};

class DemoExclusiveAction : public ::testing::TestWithParam<GroupCase> {};

TEST_P(DemoExclusiveAction, SetsTheViewAndIsTheOnlyOneCheckedInItsGroup) {
  auto w = MakeWindow();
  const GroupCase& c = GetParam();
  QAction* a = Act(*w, c.action);
  ASSERT_NE(a, nullptr);
  a->trigger();
  TKorvaneView* v = w->View();
  EXPECT_TRUE(c.holds(*v)) << "scroll bars " << v->ScrollBarVisible(SB_HORZ) << v->ScrollBarVisible(SB_VERT);
  QString group = QString(c.action).section('.', 0, 0) + ".";
  int checked = 0;
  for (QAction* other : w->findChildren<QAction*>())
    if (other->objectName().startsWith(group) && other->isChecked()) ++checked;
  EXPECT_TRUE(a->isChecked());
  EXPECT_EQ(checked, 1);
}

#define KV_CASE(name, expr)                    \
  GroupCase {                                  \
    name, [](TKorvaneView& v) { return expr; } \
  }
INSTANTIATE_TEST_SUITE_P(
    Groups, DemoExclusiveAction,
    ::testing::Values(
        KV_CASE("filter.none", v.GetZoomFilter() == rfNone),
        KV_CASE("filter.triangle", v.GetZoomFilter() == rfTriangle),
        KV_CASE("filter.hermite", v.GetZoomFilter() == rfHermite),
        KV_CASE("filter.bell", v.GetZoomFilter() == rfBell),
        KV_CASE("filter.bspline", v.GetZoomFilter() == rfBSpline),
        KV_CASE("filter.lanczos3", v.GetZoomFilter() == rfLanczos3),
        KV_CASE("filter.mitchell", v.GetZoomFilter() == rfMitchell),
        KV_CASE("background.solid", v.GetBackgroundStyle() == kvbsSolid),
        KV_CASE("background.horizontal", v.GetBackgroundStyle() == kvbsHorizontal),
        KV_CASE("background.vertical", v.GetBackgroundStyle() == kvbsVertical),
        KV_CASE("background.fdiagonal", v.GetBackgroundStyle() == kvbsFDiagonal),
        KV_CASE("background.bdiagonal", v.GetBackgroundStyle() == kvbsBDiagonal),
        KV_CASE("background.cross", v.GetBackgroundStyle() == kvbsCross),
        KV_CASE("background.diagcross", v.GetBackgroundStyle() == kvbsDiagCross),
        KV_CASE("background.chessboard", v.GetBackgroundStyle() == kvbsChessboard),
        KV_CASE("background.diagonals", v.GetBackgroundStyle() == kvbsDiagonals),
        KV_CASE("scrollBars.none",
                v.GetScrollBars() == ssNone && !v.ScrollBarVisible(SB_HORZ) && !v.ScrollBarVisible(SB_VERT)),
        KV_CASE("scrollBars.horizontal", v.GetScrollBars() == ssHorizontal && v.ScrollBarVisible(SB_HORZ) &&
                                             !v.ScrollBarVisible(SB_VERT)),
        KV_CASE("scrollBars.vertical", v.GetScrollBars() == ssVertical && !v.ScrollBarVisible(SB_HORZ) &&
                                           v.ScrollBarVisible(SB_VERT)),
        KV_CASE("scrollBars.both",
                v.GetScrollBars() == ssBoth && v.ScrollBarVisible(SB_HORZ) && v.ScrollBarVisible(SB_VERT))),
    [](const ::testing::TestParamInfo<GroupCase>& info) {
      std::string n = info.param.action;
      for (char& ch : n)
        if (ch == '.') ch = '_';
      return n;
    });

struct ToggleCase {
  const char* action;
  bool (*get)(const TKorvaneView&);
};

class DemoToggleAction : public ::testing::TestWithParam<ToggleCase> {};

TEST_P(DemoToggleAction, SwitchesTheViewOnAndOff) {
  auto w = MakeWindow();
  QAction* a = Act(*w, GetParam().action);
  ASSERT_NE(a, nullptr);
  ASSERT_FALSE(GetParam().get(*w->View()));
  a->trigger();
  EXPECT_TRUE(a->isChecked());
  EXPECT_TRUE(GetParam().get(*w->View()));
  a->trigger();
  EXPECT_FALSE(a->isChecked());
  EXPECT_FALSE(GetParam().get(*w->View()));
}

INSTANTIATE_TEST_SUITE_P(
    Toggles, DemoToggleAction,
    ::testing::Values(ToggleCase{"center", [](const TKorvaneView& v) { return v.GetCenter(); }},
                      ToggleCase{"doubleBuffer", [](const TKorvaneView& v) { return v.GetDoubleBuffer(); }},
                      ToggleCase{"delayFilter",
                                 [](const TKorvaneView& v) { return v.GetDelayZoomFilter(); }}),
    [](const ::testing::TestParamInfo<ToggleCase>& info) { return std::string(info.param.action); });

TEST(DemoWindow, MouseModeActionsShowWhatTheViewKept) {
  auto w = MakeWindow();
  TKorvaneView* v = w->View();
  auto checked = [&](const char* name) { return Act(*w, name)->isChecked(); };
  ASSERT_TRUE(v->GetMouseInteract() == TKVMouseInteract({miZoom, miScroll}));
  ASSERT_TRUE(checked("mouse.zoom") && checked("mouse.scroll"));
  // A polygon selection excludes every other mode.
  Act(*w, "mouse.polygon")->trigger();
  EXPECT_TRUE(v->GetMouseInteract() == TKVMouseInteract({miSelectPolygon}));
  EXPECT_TRUE(checked("mouse.polygon"));
  EXPECT_FALSE(checked("mouse.zoom"));
  EXPECT_FALSE(checked("mouse.scroll"));
  // Zoom drops the polygon; a rectangle selection then keeps zoom beside it.
  Act(*w, "mouse.zoom")->trigger();
  EXPECT_TRUE(v->GetMouseInteract() == TKVMouseInteract({miZoom}));
  EXPECT_FALSE(checked("mouse.polygon"));
  Act(*w, "mouse.rect")->trigger();
  EXPECT_TRUE(v->GetMouseInteract() == TKVMouseInteract({miZoom, miSelect}));
  EXPECT_TRUE(checked("mouse.zoom") && checked("mouse.rect"));
  // Unchecking removes just that mode.
  Act(*w, "mouse.zoom")->trigger();
  EXPECT_TRUE(v->GetMouseInteract() == TKVMouseInteract({miSelect}));
  EXPECT_FALSE(checked("mouse.zoom"));
  EXPECT_TRUE(checked("mouse.rect"));
}

TEST(DemoWindow, StatusBarFollowsTheMouseAndTheSelection) {
  auto w = MakeWindow();
  TKorvaneView* v = w->View();
  EXPECT_EQ(LabelText(*w, "selectionLabel"), "No selection");
  EXPECT_FALSE(Act(*w, "zoomSelection")->isEnabled());
  Act(*w, "mouse.rect")->trigger();
  QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, ClientPos(v, 20, 30));
  QTest::mouseMove(v, ClientPos(v, 70, 60));
  QTest::mouseMove(v, ClientPos(v, 120, 90));
  QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, ClientPos(v, 120, 90));
  ASSERT_TRUE(v->Selected());
  EXPECT_EQ(LabelText(*w, "selectionLabel"), "Selection 20, 30 - 120, 90 (101 x 61)");
  EXPECT_TRUE(Act(*w, "zoomSelection")->isEnabled());
  Act(*w, "deselect")->trigger();
  EXPECT_FALSE(v->Selected());
  EXPECT_EQ(LabelText(*w, "selectionLabel"), "No selection");
  EXPECT_FALSE(Act(*w, "zoomSelection")->isEnabled());

  // At 400 % with the origin at (400, 200), client (41, 20) shows pixel (110, 55).
  v->SetZoom(400);
  v->SetViewXY(400, 200);
  Hover(v, 41, 20);
  EXPECT_EQ(LabelText(*w, "pixelLabel"), "Pixel 110, 55");
  EXPECT_EQ(LabelText(*w, "originLabel"), "Origin 400, 200");
  // Around a centred, zoomed-out picture there is no pixel.
  v->SetCenter(true);
  v->SetZoom(25);
  ASSERT_GT(v->GetOffsetX(), 5);
  Hover(v, 2, v->ClientHeight() / 2);
  EXPECT_EQ(LabelText(*w, "pixelLabel"), "Pixel -");
}

TEST(DemoWindow, RenderShowsThePictureAndTheSelectionOutline) {
  auto w = MakeWindow();
  DemoOptions o;
  QString err;
  ASSERT_TRUE(ParseDemoArgs({"--zoom", "200", "--select", "100,100,400,300"}, o, err)) << err.toStdString();
  w->ApplyOptions(o);
  TKorvaneView* v = w->View();
  ASSERT_TRUE(v->Selected());
  QImage img = w->Render();
  ASSERT_EQ(img.size(), w->size() * w->devicePixelRatio());
  QPoint org = v->mapTo(w.get(), v->ClientArea().topLeft());
  // A picture pixel away from the outline, at 200 %.
  TColor p = v->GetBitmap()->GetPixel(60, 120);
  EXPECT_EQ(img.pixel(org + QPoint(v->XBmp2Scr(60), v->YBmp2Scr(120))) & 0xFFFFFF,
            (unsigned(GetRValue(p)) << 16) | (unsigned(GetGValue(p)) << 8) | GetBValue(p));
  // The top edge of the outline runs over the colour gradient in black and
  // white dashes only.
  int y = org.y() + v->YBmp2Scr(100), blacks = 0, whites = 0;
  for (int x = v->XBmp2Scr(100) + 2; x < v->XBmp2Scr(400) - 2; ++x) {
    unsigned c = img.pixel(org.x() + x, y) & 0xFFFFFF;
    blacks += c == 0;
    whites += c == 0xFFFFFF;
  }
  int span = v->XBmp2Scr(400) - v->XBmp2Scr(100) - 4;
  EXPECT_EQ(blacks + whites, span);
  EXPECT_GT(blacks, span / 3);
  EXPECT_GT(whites, span / 3);
}

TEST(DemoScreenshot, WritesAPngOfTheWindowSize) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QString path = dir.filePath("shot.png");
  DemoOptions o;
  QString err;
  ASSERT_TRUE(ParseDemoArgs(
      {"--screenshot", path, "--zoom", "200", "--select", "100,100,400,300", "--scrollbars"}, o, err))
      << err.toStdString();
  ASSERT_TRUE(SaveScreenshot(o, err)) << err.toStdString();
  EXPECT_GT(QFileInfo(path).size(), 0);
  QImage img(path, "PNG");
  ASSERT_FALSE(img.isNull());
  EXPECT_EQ(img.width(), kScreenshotWidth);
  EXPECT_EQ(img.height(), kScreenshotHeight);

  o.screenshot = dir.filePath("missing-folder/shot.png");
  EXPECT_FALSE(SaveScreenshot(o, err));
  EXPECT_FALSE(err.isEmpty());
}

TEST(DemoArgs, ReadsEveryOption) {
  DemoOptions o;
  QString err;
  ASSERT_TRUE(
      ParseDemoArgs({"--screenshot", "a.png", "--zoom", "400", "--select", "400,300,100,100", "--scrollbars",
                     "--center", "--origin", "820,430", "--filter", "Lanczos3", "--background", "chessboard"},
                    o, err))
      << err.toStdString();
  EXPECT_EQ(o.screenshot, "a.png");
  EXPECT_EQ(o.zoom, 400);
  EXPECT_TRUE(o.hasSelection);
  EXPECT_EQ(o.selX1, 400);
  EXPECT_EQ(o.selY2, 100);
  EXPECT_TRUE(o.scrollBars && o.center);
  EXPECT_TRUE(o.hasOrigin && o.originX == 820 && o.originY == 430);
  EXPECT_TRUE(o.hasFilter && o.filter == rfLanczos3);
  EXPECT_TRUE(o.hasBackground && o.background == kvbsChessboard);
}

class DemoBadArgs : public ::testing::TestWithParam<std::vector<const char*>> {};

TEST_P(DemoBadArgs, AreRejectedWithAReason) {
  QStringList args;
  for (const char* a : GetParam()) args << a;
  DemoOptions o;
  QString err;
  EXPECT_FALSE(ParseDemoArgs(args, o, err)) << args.join(' ').toStdString();
  EXPECT_FALSE(err.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Rejected, DemoBadArgs,
    ::testing::Values(
        std::vector<const char*>{"--zoom"}, std::vector<const char*>{"--zoom", "0"},
        std::vector<const char*>{"--zoom", "-5"}, std::vector<const char*>{"--zoom", "12abc"},
        std::vector<const char*>{"--zoom", "6401"}, std::vector<const char*>{"--select", "1,2,3"},
        std::vector<const char*>{"--select", "1,2,3,x"}, std::vector<const char*>{"--select", "10,10,10,50"},
        std::vector<const char*>{"--select", "0,0,1600,10"},
        std::vector<const char*>{"--select", "-1,0,10,10"}, std::vector<const char*>{"--filter", "sinc"},
        std::vector<const char*>{"--background", "plaid"}, std::vector<const char*>{"--screenshot"},
        std::vector<const char*>{"--screenshot", ""}, std::vector<const char*>{"--zoom", "200", "--fit"},
        std::vector<const char*>{"--origin", "10"}, std::vector<const char*>{"--origin", "0,1200"},
        std::vector<const char*>{"--bogus"}, std::vector<const char*>{"--process", "crop,melt"},
        std::vector<const char*>{"--process", "wand:5"}, std::vector<const char*>{"--process", "wand:1600:0"},
        std::vector<const char*>{"--process", "colors:2"}));

TEST(DemoImage, ColorOperationsFollowTheSelection) {
  DemoOptions o;
  QString err;
  ASSERT_TRUE(
      ParseDemoArgs({"--select", "10,10,19,19", "--process", "negative,gray,colors:16,bw,rgb24"}, o, err))
      << err.toStdString();
  auto w = MakeWindow();
  TBitmap* b = w->View()->GetBitmap();
  const TColor in = b->GetPixel(15, 15), out = b->GetPixel(25, 15);
  o.process = {"negative"};
  w->ApplyOptions(o);
  EXPECT_EQ(b->GetPixel(15, 15), in ^ 0xFFFFFF);
  EXPECT_EQ(b->GetPixel(25, 15), out);
  o.process = {"bw"};
  w->ApplyOptions(o);
  EXPECT_EQ(b->PixelFormat(), pf1bit);
  Act(*w, "image.undo")->trigger();
  EXPECT_EQ(b->PixelFormat(), pf24bit);
}

TEST(DemoImage, ProcessCropsUndoesAndClearsTheSelection) {
  DemoOptions o;
  QString err;
  ASSERT_TRUE(ParseDemoArgs({"--select", "100,100,199,149", "--process", "crop,undo, clear"}, o, err))
      << err.toStdString();
  auto w = MakeWindow();
  TBitmap* b = w->View()->GetBitmap();
  const TColor before = b->GetPixel(150, 120);
  o.process = {"crop"};
  w->ApplyOptions(o);
  EXPECT_EQ(b->Width(), 99);
  EXPECT_EQ(b->Height(), 49);
  EXPECT_TRUE(Act(*w, "image.undo")->isEnabled());
  Act(*w, "image.undo")->trigger();
  EXPECT_EQ(b->Width(), kSampleWidth);
  EXPECT_EQ(b->GetPixel(150, 120), before);
  o.process = {"clear"};
  w->ApplyOptions(o);
  const TColor bg = ColorToRGB(w->View()->GetBackground());
  EXPECT_EQ(b->GetPixel(150, 120), bg);
  EXPECT_NE(b->GetPixel(200, 120), bg);
}

// The actions that need a selection follow one the mouse draws, while it is
// drawn, not only after the next operation.
TEST(DemoImage, SelectionActionsFollowAMouseSelection) {
  auto w = MakeWindow();
  TKorvaneView* v = w->View();
  for (const char* name : {"image.cut", "image.crop", "image.pastesel"})
    EXPECT_FALSE(Act(*w, name)->isEnabled());
  Act(*w, "mouse.rect")->trigger();
  QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, ClientPos(v, 20, 30));
  QTest::mouseMove(v, ClientPos(v, 70, 60));
  for (const char* name : {"image.cut", "image.crop", "image.pastesel"})
    EXPECT_TRUE(Act(*w, name)->isEnabled()) << name;
  QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, ClientPos(v, 70, 60));
  v->DeSelect();
  v->DoSelectionChange();
  EXPECT_FALSE(Act(*w, "image.cut")->isEnabled());
}

// Undo and Redo walk a history of many steps, bounded in memory, and a new
// change forgets what could be redone.
TEST(DemoImage, UndoAndRedoWalkAHistoryOfManySteps) {
  auto w = MakeWindow();
  TBitmap* b = w->View()->GetBitmap();
  std::vector<std::unique_ptr<TBitmap>> states;
  auto keep = [&] {
    states.push_back(std::make_unique<TBitmap>());
    states.back()->Assign(b);
  };
  keep();
  const char* ops[] = {"negative", "rotate90", "fliph", "flipv"};
  for (int i = 0; i < 24; ++i) {
    ASSERT_TRUE(w->RunOp(ops[i % 4]));
    keep();
  }
  EXPECT_EQ(w->History().UndoSteps(), 24u);
  EXPECT_LE(w->History().Bytes(), ImageHistory::kDefaultBytes);
  EXPECT_FALSE(Act(*w, "image.redo")->isEnabled());
  w->RunOp("copy");  // changes nothing: no step
  EXPECT_EQ(w->History().UndoSteps(), 24u);
  for (int k = 23; k >= 2; --k) {
    Act(*w, "image.undo")->trigger();
    ASSERT_TRUE(_BitmapCompareX(b, states[size_t(k)].get())) << k;
    ASSERT_EQ(b->Width(), states[size_t(k)]->Width()) << k;
  }
  EXPECT_TRUE(Act(*w, "image.redo")->isEnabled());
  Act(*w, "image.redo")->trigger();
  Act(*w, "image.redo")->trigger();
  EXPECT_TRUE(_BitmapCompareX(b, states[4].get()));
  w->RunOp("negative");
  EXPECT_FALSE(Act(*w, "image.redo")->isEnabled());
  EXPECT_FALSE(w->RedoPicture());
  EXPECT_EQ(w->History().UndoSteps(), 5u);
}

TEST(DemoHistory, KeepsTheNewestStatesWithinItsBounds) {
  auto state = [](int seed) {
    auto b = std::make_unique<TBitmap>(10, 10, pf24bit);
    b->Canvas()->Brush()->SetColor(TColor(seed * 0x010203));
    b->Canvas()->FillRect(Rect(0, 0, 10, 10));
    b->Canvas()->EndPaint();
    return b;
  };
  const int64_t one = ImageHistory::BytesOf(*state(0));
  ASSERT_EQ(one, 10 * 32);  // rows padded to four bytes
  ImageHistory bytes(50, 3 * one), steps(4, one * 1000);
  for (int i = 0; i < 6; ++i) {
    auto s = state(i);
    bytes.Push(*s);
    steps.Push(*s);
  }
  EXPECT_EQ(bytes.UndoSteps(), 3u);
  EXPECT_LE(bytes.Bytes(), 3 * one);
  EXPECT_EQ(steps.UndoSteps(), 4u);
  TBitmap cur;
  cur.Assign(state(6).get());
  for (int i = 5; i >= 3; --i) {
    ASSERT_TRUE(bytes.Undo(cur));
    EXPECT_EQ(cur.GetPixel(0, 0), state(i)->GetPixel(0, 0)) << i;
  }
  EXPECT_FALSE(bytes.Undo(cur));
  // A state larger than the bound still gives one step back.
  ImageHistory tiny(50, 1);
  tiny.Push(*state(1));
  EXPECT_TRUE(tiny.CanUndo());
}

// Transforms reach the view (its size follows) and the menu runs them too.
TEST(DemoImage, TransformsAndFiltersFromTheMenuAndProcess) {
  DemoOptions o;
  QString err;
  ASSERT_TRUE(ParseDemoArgs({"--process", "rotate90,half,blur,wave,autoequalize"}, o, err))
      << err.toStdString();
  auto w = MakeWindow();
  TBitmap* b = w->View()->GetBitmap();
  o.process = {"rotate90"};
  w->ApplyOptions(o);
  EXPECT_EQ(b->Width(), kSampleHeight);
  EXPECT_EQ(b->Height(), kSampleWidth);
  Act(*w, "image.half")->trigger();
  EXPECT_EQ(b->Width(), kSampleHeight / 2);
  EXPECT_EQ(w->View()->GetZoomedWidth(), ZoomedSize(kSampleHeight / 2, w->View()->GetZoom()));
  const TColor before = b->GetPixel(10, 10);
  Act(*w, "image.fliph")->trigger();
  Act(*w, "image.fliph")->trigger();
  EXPECT_EQ(b->GetPixel(10, 10), before);
}

TEST(DemoImage, MaskOutlineSelectsExactlyTheMask) {
  // A ring with a hole and a pixel touching it only at a corner.
  TBitmap mask;
  mask.Allocate(12, 10, pf1bit);
  auto set = [&](int x, int y) { mask.Scanline(y)[x >> 3] |= uint8_t(0x80 >> (x & 7)); };
  for (int y = 1; y < 7; ++y)
    for (int x = 1; x < 8; ++x)
      if (!(x >= 3 && x < 5 && y >= 3 && y < 5)) set(x, y);
  set(8, 7);
  std::vector<TPoint> pts = MaskOutline(&mask);
  ASSERT_GE(pts.size(), 8u);
  // Filled through the even-odd region, the outline gives the mask back.
  TBitmap back;
  back.Allocate(12, 10, pf1bit);
  back.Canvas()->Brush()->SetColor(clWhite);
  back.Canvas()->SetClipPolygon(pts.data(), int(pts.size()));
  back.Canvas()->FillRect(Rect(0, 0, 12, 10));
  back.Canvas()->EndPaint();
  EXPECT_TRUE(_BitmapCompareX(&back, &mask));
}

TEST(DemoImage, WandModeSelectsTheRegionUnderTheClick) {
  auto w = MakeWindow();
  TKorvaneView* v = w->View();
  TBitmap* b = v->GetBitmap();
  b->Canvas()->Brush()->SetColor(RGB(255, 0, 255));  // a border the fill stops at
  b->Canvas()->FillRect(Rect(0, 0, 42, 32));
  b->Canvas()->Brush()->SetColor(RGB(10, 200, 30));
  b->Canvas()->FillRect(Rect(0, 0, 40, 30));
  b->Canvas()->EndPaint();
  v->Update();
  Act(*w, "mouse.wand")->trigger();
  EXPECT_TRUE(v->GetMouseInteract().Empty());
  QTest::mouseClick(v, Qt::LeftButton, Qt::NoModifier, ClientPos(v, v->XBmp2Scr(5), v->YBmp2Scr(5)));
  ASSERT_TRUE(v->Selected());
  EXPECT_EQ(v->GetSelX1(), 0);
  EXPECT_EQ(v->GetSelY1(), 0);
  EXPECT_EQ(v->GetSelX2(), 39);
  EXPECT_EQ(v->GetSelY2(), 29);
}

TEST(DemoWindow, OpensSavesAndChoosesPagesOfFiles) {
  InstallKorvaneLZWCoders();
  auto w = MakeWindow();
  QTemporaryDir dir;
  const QString tif = dir.filePath("two.TIF");
  QString err;
  ASSERT_TRUE(w->SaveFileAs(tif, err)) << err.toStdString();
  TBitmap small(40, 30);
  w->IO()->SetAttachedBitmap(&small);
  w->IO()->Params()->TIFF_ImageIndex = 5;  // after the last page
  ASSERT_EQ(w->IO()->InsertToFileTIFF(tif.toStdString()), 2);
  w->IO()->SetAttachedKorvane(w->View());

  DemoOptions o;
  ASSERT_TRUE(ParseDemoArgs({"--open", tif, "--index", "1", "--select", "2000,10,2100,20"}, o, err))
      << err.toStdString();
  ASSERT_TRUE(w->ApplyOptions(o, &err)) << err.toStdString();
  EXPECT_EQ(w->View()->GetBitmap()->Width(), 40);
  EXPECT_EQ(w->ImageCount(), 2);
  EXPECT_TRUE(Act(*w, "chooseImage")->isEnabled());
  EXPECT_TRUE(w->windowTitle().contains("image 2 of 2")) << w->windowTitle().toStdString();

  const QString junk = dir.filePath("junk.png");
  QFile f(junk);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("not a png");
  f.close();
  EXPECT_FALSE(w->OpenFile(junk, 0, err));
  EXPECT_TRUE(err.contains("unrecognized PNG")) << err.toStdString();
  EXPECT_FALSE(w->OpenFile(dir.filePath("x.unknown"), 0, err));
  EXPECT_EQ(w->View()->GetBitmap()->Width(), 40);  // the shown picture stays
  EXPECT_FALSE(ParseDemoArgs({"--index", "-1"}, o, err));
  DefGIF_LZWDECOMPFUNC = nullptr;
  DefGIF_LZWCOMPFUNC = nullptr;
  DefTIFF_LZWDECOMPFUNC = nullptr;
  DefTIFF_LZWCOMPFUNC = nullptr;
}

#else

TEST(Demo, NotBuilt) { GTEST_SKIP() << "the demo window is not built (KORVANE_APPS=OFF)"; }

#endif
