// The demo's thumbnail browser driven headless: a folder's images painted in
// their cells from their files, a multi-image file's frames, playing, and a
// cell handed to the image view of the main window.
#include <gtest/gtest.h>

#ifdef KORVANE_DEMO_WINDOW

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <set>

#include "apps/korvane-demo/mainwindow.h"
#include "apps/korvane-demo/thumb_browser.h"
#include "korvane/io/kvio.h"

using namespace korvane;
using namespace korvane::demo;

namespace {

// The three solid pictures both sources carry, as 0xRRGGBB.
constexpr QRgb kColors[3] = {0xC02010, 0x20B040, 0x3040D0};

// Folder images of different sizes: a.png, b.png, c.png.
void WriteFolder(const QString& dir) {
  const QSize sizes[3] = {{40, 30}, {30, 50}, {64, 64}};
  for (int i = 0; i < 3; ++i) {
    QImage img(sizes[i], QImage::Format_RGB32);
    img.fill(kColors[i]);
    ASSERT_TRUE(img.save(dir + "/" + QChar('a' + i) + ".png"));
  }
}

// A GIF of the three colors as 32 x 24 frames, 20 ms each.
void WriteGif(const std::string& name) {
  InstallKorvaneLZWCoders();
  TKorvaneMView v(nullptr);
  TKorvaneMIO mio(nullptr);
  mio.SetAttachedMView(&v);
  for (int i = 0; i < 3; ++i) {
    TBitmap b;
    b.Allocate(32, 24, pf24bit);
    for (int y = 0; y < 24; ++y) {
      TRGB* row = reinterpret_cast<TRGB*>(b.Scanline(y));
      for (int x = 0; x < 32; ++x)
        row[x] = TRGB{uint8_t(kColors[i]), uint8_t(kColors[i] >> 8), uint8_t(kColors[i] >> 16)};
    }
    int idx = v.AppendImage();
    v.SetImage(idx, &b);
    mio.GetParams(idx)->BitsPerSample = 8;
    mio.GetParams(idx)->GIF_DelayTime = 2;
  }
  mio.SaveToFileGif(name);
}

QRgb CellCentre(TKorvaneMView* v, int idx) {
  const int x = v->GetImageX(idx) - v->GetViewX() + v->GetThumbWidth() / 2;
  const int y = v->GetImageY(idx) - v->GetViewY() + v->GetThumbHeight() / 2;
  return v->ClientImage().pixel(x, y) & 0xFFFFFF;
}

QRgb PixelOf(TBitmap* b, int x, int y) {
  const uint8_t* p = b->Scanline(y) + 3 * x;
  return QRgb(p[2]) << 16 | QRgb(p[1]) << 8 | p[0];
}

}  // namespace

TEST(DemoThumbBrowser, FolderAndMultiFileCellsPlayAndOpen) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QString folder = tmp.filePath("pics"), empty = tmp.filePath("empty"), gif = tmp.filePath("anim.gif");
  ASSERT_TRUE(QDir().mkpath(folder) && QDir().mkpath(empty));
  WriteFolder(folder);
  WriteGif(gif.toStdString());

  struct Opened {
    int calls = 0;
    QRgb centre = 0;
    int width = 0, height = 0;
    QString file;
  } opened;
  ThumbBrowser b([&](TBitmap* bmp, const QString& file) {
    ++opened.calls;
    opened.file = file;
    opened.width = bmp ? bmp->Width() : -1;
    opened.height = bmp ? bmp->Height() : -1;
    opened.centre = bmp && !bmp->Empty() ? PixelOf(bmp, bmp->Width() / 2, bmp->Height() / 2) : 0;
  });
  b.setAttribute(Qt::WA_DontShowOnScreen);
  b.show();
  QCoreApplication::processEvents();
  TKorvaneMView* v = b.View();

  QString error;
  EXPECT_FALSE(b.OpenFolder(empty, error));
  EXPECT_TRUE(error.contains("no images")) << error.toStdString();

  // A folder: one cell per file, in name order, each painted from its file.
  ASSERT_TRUE(b.OpenFolder(folder, error)) << error.toStdString();
  ASSERT_EQ(v->GetImageCount(), 3);
  // The browser decodes on worker threads: the cells fill in as they arrive.
  EXPECT_GT(v->GetDecodeThreads(), 0);
  ASSERT_TRUE(v->WaitForDecodes(10000));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(QString::fromStdString(v->GetImageFileName(i)), folder + "/" + QChar('a' + i) + ".png");
    EXPECT_EQ(CellCentre(v, i), kColors[i]) << "cell " << i;
  }
  // Opening a folder's cell hands over its file name.
  v->SetSelectedItem(1);
  QAction* openCell = nullptr;
  for (QAction* a : b.findChildren<QAction*>())
    if (a->text() == "Open in &image view") openCell = a;
  ASSERT_NE(openCell, nullptr);
  openCell->trigger();
  EXPECT_EQ(opened.calls, 1);
  EXPECT_EQ(opened.file, folder + "/b.png");

  // A multi-image file replaces the folder: its frames, with their delays.
  EXPECT_FALSE(b.OpenMultiFile(tmp.filePath("missing.gif"), error));
  ASSERT_TRUE(b.OpenMultiFile(gif, error)) << error.toStdString();
  ASSERT_EQ(v->GetImageCount(), 3);
  // The browser decodes on worker threads: the cells fill in as they arrive.
  EXPECT_GT(v->GetDecodeThreads(), 0);
  ASSERT_TRUE(v->WaitForDecodes(10000));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(v->GetImageDelayTime(i), 20);
    EXPECT_EQ(CellCentre(v, i), kColors[i]) << "frame " << i;
  }
  // A frame is handed over whole, at the file's size, without a file name.
  v->SetSelectedItem(2);
  openCell->trigger();
  EXPECT_EQ(opened.calls, 2);
  EXPECT_TRUE(opened.file.isEmpty());
  EXPECT_EQ(opened.width, 32);
  EXPECT_EQ(opened.height, 24);
  EXPECT_EQ(opened.centre, kColors[2]);

  // Playing shows the frames one after another in the first cell, and
  // stopping brings the grid and the selection back.
  QAction* play = nullptr;
  for (QAction* a : b.findChildren<QAction*>())
    if (a->text() == "&Play") play = a;
  ASSERT_NE(play, nullptr);
  play->setChecked(true);
  EXPECT_TRUE(v->GetPlaying());
  std::set<QRgb> seen;
  QTRY_VERIFY_WITH_TIMEOUT((seen.insert(CellCentre(v, 0)), seen.size() >= 3), 5000);
  for (QRgb c : kColors) EXPECT_EQ(seen.count(c), 1u);
  play->setChecked(false);
  EXPECT_FALSE(v->GetPlaying());
  EXPECT_EQ(v->GetDisplayMode(), mdGrid);
  EXPECT_EQ(v->GetSelectedItem(), 2);
}

// The main window's menu opens the browser, whose opened cell of a folder is
// loaded into the image view from its file.
TEST(DemoThumbBrowser, OpensACellInTheMainWindowsView) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  WriteFolder(tmp.path());
  MainWindow w;
  w.setAttribute(Qt::WA_DontShowOnScreen);
  w.show();
  QAction* menu = nullptr;
  for (QAction* a : w.findChildren<QAction*>())
    if (a->text() == "&Thumbnail browser...") menu = a;
  ASSERT_NE(menu, nullptr);
  menu->trigger();
  auto* b = w.findChild<ThumbBrowser*>();
  ASSERT_NE(b, nullptr);
  QString error;
  ASSERT_TRUE(b->OpenFolder(tmp.path(), error));
  TKorvaneMView* v = b->View();
  v->SetSelectedItem(2);
  for (QAction* a : b->findChildren<QAction*>())
    if (a->text() == "Open in &image view") a->trigger();
  TBitmap* shown = w.View()->GetBitmap();
  ASSERT_EQ(shown->Width(), 64);
  EXPECT_EQ(shown->Height(), 64);
  EXPECT_EQ(PixelOf(shown, 10, 10), kColors[2]);
  // File > Close closes (and frees) the browser.
  auto* close = b->findChild<QAction*>("thumbClose");
  ASSERT_NE(close, nullptr);
  EXPECT_EQ(close->shortcut(), QKeySequence(QKeySequence::Close));
  close->trigger();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(w.findChild<ThumbBrowser*>(), nullptr);
}

#endif
