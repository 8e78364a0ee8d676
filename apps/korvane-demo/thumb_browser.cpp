#include "apps/korvane-demo/thumb_browser.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QKeySequence>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QThread>
#include <QToolBar>

namespace korvane::demo {

ThumbBrowser::ThumbBrowser(OpenCell open, QWidget* parent) : QMainWindow(parent), open_(std::move(open)) {
  setWindowTitle("Korvane thumbnails");
  view_ = new TKorvaneMView(nullptr, this);
  view_->SetStoreType(kvtThumb);
  view_->SetThumbWidth(120);
  view_->SetThumbHeight(120);
  view_->SetGridWidth(-1);
  view_->SetScrollBars(ssVertical);
  view_->SetBackGround(0x303030);
  view_->Loader()->AutoOrient = true;
  // Folders of large photographs fill in while the window stays responsive.
  view_->SetDecodeThreads(QThread::idealThreadCount());
  setCentralWidget(view_);
  mio_ = new TKorvaneMIO(nullptr);
  mio_->SetAttachedMView(view_);
  mio_->AVICompressor.Encoder = "mjpeg";
  view_->OnDblClick = [this](TObject*) { OpenSelected(); };
  view_->OnImageSelect = [this](TObject*, int idx) {
    std::string name = view_->GetImageFileName(idx);
    statusBar()->showMessage(
        QString("%1 of %2 %3").arg(idx + 1).arg(view_->GetImageCount()).arg(QString::fromStdString(name)));
  };

  QMenu* file = menuBar()->addMenu("&File");
  QAction* folder = file->addAction("Open &folder...", [this] {
    QString dir = QFileDialog::getExistingDirectory(this, "Open folder");
    QString error;
    if (!dir.isEmpty() && !OpenFolder(dir, error)) QMessageBox::warning(this, "Open folder", error);
  });
  QAction* multi = file->addAction("Open &multi-image file...", [this] {
    QString f = QFileDialog::getOpenFileName(this, "Open multi-image file", QString(),
                                             "Multi-image files (*.gif *.tif *.tiff *.avi)");
    QString error;
    if (!f.isEmpty() && !OpenMultiFile(f, error)) QMessageBox::warning(this, "Open file", error);
  });
  QAction* save = file->addAction("&Save all as...", [this] {
    QString f = QFileDialog::getSaveFileName(this, "Save all images", QString(),
                                             "GIF (*.gif);;TIFF (*.tif);;AVI (*.avi)");
    if (f.isEmpty()) return;
    try {
      mio_->SaveToFile(f.toStdString());
    } catch (const std::exception& e) {
      QMessageBox::warning(this, "Save", e.what());
    }
  });
  file->addSeparator();
  QAction* close = file->addAction("&Close", this, &QWidget::close);
  close->setObjectName("thumbClose");
  close->setShortcut(QKeySequence::Close);
  play_ = new QAction("&Play", this);
  play_->setCheckable(true);
  connect(play_, &QAction::toggled, this, [this](bool on) { view_->SetPlaying(on); });
  QAction* single = new QAction("&One at a time", this);
  single->setCheckable(true);
  connect(single, &QAction::toggled, this,
          [this](bool on) { view_->SetDisplayMode(on ? mdSingle : mdGrid); });
  QAction* openCell = new QAction("Open in &image view", this);
  connect(openCell, &QAction::triggered, this, [this] { OpenSelected(); });
  QMenu* viewMenu = menuBar()->addMenu("&View");
  viewMenu->addActions({play_, single, openCell});
  QToolBar* bar = addToolBar("Thumbnails");
  bar->addActions({folder, multi, save});
  bar->addSeparator();
  bar->addActions({play_, single, openCell});
  resize(900, 600);
}

ThumbBrowser::~ThumbBrowser() {
  view_->SetPlaying(false);
  delete mio_;
}

bool ThumbBrowser::OpenFolder(const QString& dir, QString& error) {
  const QStringList names = QDir(dir).entryList(
      {"*.bmp", "*.jpg", "*.jpeg", "*.png", "*.gif", "*.tif", "*.tiff", "*.pcx", "*.ico", "*.cur"},
      QDir::Files, QDir::Name | QDir::IgnoreCase);
  if (names.isEmpty()) {
    error = dir + ": no images";
    return false;
  }
  view_->SetPlaying(false);
  view_->LockPaint();
  view_->Clear();
  // A folder's images are loaded on demand as thumbnails.
  view_->SetStoreType(kvtThumb);
  for (const QString& n : names) {
    int idx = view_->AppendImage();
    view_->SetImageFileName(idx, QDir(dir).filePath(n).toStdString());
    view_->SetImageDelayTime(idx, 500);
  }
  view_->Deselect();
  view_->SetViewXY(0, 0);
  view_->UnLockPaint();
  setWindowTitle("Korvane thumbnails - " + dir);
  return true;
}

bool ThumbBrowser::OpenMultiFile(const QString& file, QString& error) {
  view_->SetPlaying(false);
  view_->LockPaint();
  view_->Clear();
  // Frames are kept whole, so that an opened cell reaches the image view at
  // its real size; the cells show them scaled.
  view_->SetStoreType(kvtNormal);
  try {
    mio_->LoadFromFile(file.toStdString());
  } catch (const std::exception& e) {
    view_->UnLockPaint();
    error = QString("%1: %2").arg(file, e.what());
    return false;
  }
  view_->UnLockPaint();
  if (view_->GetImageCount() == 0) {
    error = file + ": no frames (GIF, TIFF and AVI files are read)";
    return false;
  }
  setWindowTitle("Korvane thumbnails - " + file);
  return true;
}

void ThumbBrowser::ShowFrames(bool playing) {
  view_->LockPaint();
  view_->SetThumbWidth(std::max(view_->ClientWidth() - 2 * view_->GetHorizBorder(), 16));
  view_->SetThumbHeight(std::max(view_->ClientHeight() - 2 * view_->GetVertBorder(), 16));
  view_->SetDisplayMode(mdSingle);
  view_->SetVisibleFrame(0);
  view_->UnLockPaint();
  play_->setChecked(playing);
}

void ThumbBrowser::OpenSelected() {
  int idx = view_->GetSelectedItem();
  if (idx < 0 || !open_) return;
  const QString name = QString::fromStdString(view_->GetImageFileName(idx));
  // A folder's cell is a reduced thumbnail: the image is opened from its
  // file. A frame of a multi-image file is held whole.
  TBitmap* bmp = view_->GetBitmap(idx);
  open_(bmp, name);
  view_->ReleaseBitmap(idx);
}

}  // namespace korvane::demo
