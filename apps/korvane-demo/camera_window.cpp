#include "apps/korvane-demo/camera_window.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "apps/korvane-demo/thumb_browser.h"
#include "korvane/capture/synthetic_driver.h"

namespace korvane::demo {

int RegisterDemoCamera() {
  static int index = -2;
  if (index != -2) return index;
  TKVSyntheticOptions o;
  o.Width = 640;
  o.Height = 480;
  index = KVRegisterSyntheticCaptureDriver(o);
  return index;
}

CameraWindow::CameraWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle("Korvane camera");
  RegisterDemoCamera();
  view_ = new TKorvaneVideoView(nullptr, this);
  view_->SetBackGround(0x202020);
  view_->SetMouseInteract({miSelect});
  setCentralWidget(view_);
  proc_ = std::make_unique<TKorvaneProc>();
  proc_->SetAttachedKorvane(view_);

  QToolBar* bar = addToolBar("Camera");
  drivers_ = new QComboBox(this);
  drivers_->setMinimumWidth(220);
  bar->addWidget(drivers_);
  live_ = bar->addAction("&Live");
  live_->setCheckable(true);
  freeze_ = bar->addAction("&Freeze");
  freeze_->setCheckable(true);
  QAction* grab = bar->addAction("&Grab to thumbnails", this, [this] { GrabToThumbnails(); });
  record_ = bar->addAction("&Record");
  record_->setCheckable(true);

  connect(live_, &QAction::toggled, this, [this](bool on) {
    if (!on) {
      freeze_->setChecked(false);
      view_->SetShowVideo(false);
      return;
    }
    QString error;
    if (!StartDriver(drivers_->currentIndex(), error)) {
      QMessageBox::warning(this, "Camera", error);
      QSignalBlocker block(live_);
      live_->setChecked(false);
    }
  });
  connect(freeze_, &QAction::toggled, this, [this](bool on) { SetFrozen(on); });
  connect(record_, &QAction::toggled, this, [this](bool on) { ToggleRecord(on); });
  connect(drivers_, &QComboBox::currentIndexChanged, this, [this](int) {
    if (view_->GetShowVideo()) {
      QString error;
      if (!StartDriver(drivers_->currentIndex(), error)) QMessageBox::warning(this, "Camera", error);
    }
  });

  QMenu* video = menuBar()->addMenu("&Video");
  video->addActions({live_, freeze_, grab, record_});
  video->addSeparator();
  video->addAction("Video &source...", this, [this] { view_->DoConfigureSource(); });
  video->addAction("Video &format...", this, [this] { view_->DoConfigureFormat(); });
  video->addAction("Video &display...", this, [this] { view_->DoConfigureDisplay(); });
  video->addAction("&Compression...", this, [this] { view_->DoConfigureCompression(); });
  QMenu* image = menuBar()->addMenu("&Image");
  image->addAction("&Negative", this, [this] { Process([](TKorvaneProc& p) { p.Negative(); }); });
  image->addAction("&Gray", this, [this] { Process([](TKorvaneProc& p) { p.ConvertToGray(); }); });
  image->addAction("&Blur", this, [this] { Process([](TKorvaneProc& p) { p.ApplyFilterPreset(fpBlur); }); });
  image->addAction("&Edges", this, [this] { Process([](TKorvaneProc& p) { p.ApplyFilterPreset(fpEdge); }); });
  image->addAction("E&qualize", this, [this] { Process([](TKorvaneProc& p) { p.HistAutoEqualize(); }); });
  image->addAction("&Undo", this, [this] { Process([](TKorvaneProc& p) { p.Undo(); }); });

  status_ = new QLabel(this);
  statusBar()->addWidget(status_, 1);
  status_timer_ = new QTimer(this);
  connect(status_timer_, &QTimer::timeout, this, [this] { SyncStatus(); });
  status_timer_->start(500);
  FillDriverList();
  SyncStatus();
  resize(820, 620);
}

CameraWindow::~CameraWindow() {
  view_->StopRecord();
  proc_->SetAttachedKorvane(nullptr);
}

void CameraWindow::FillDriverList() {
  view_->FillDrivers();
  QSignalBlocker block(drivers_);
  drivers_->clear();
  for (const std::string& s : view_->GetVideoSourceList()) drivers_->addItem(QString::fromStdString(s));
  if (drivers_->count() == 0) drivers_->addItem("(no video capture driver)");
}

bool CameraWindow::StartDriver(int listPos, QString& error) {
  const auto& idx = view_->GetVideoSourceIndexes();
  if (listPos < 0 || listPos >= int(idx.size())) {
    error = "No video capture driver is installed.";
    return false;
  }
  freeze_->setChecked(false);
  try {
    view_->SetShowVideo(false);
    view_->SetVideoSource(idx[size_t(listPos)]);
    view_->SetShowVideo(true);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  if (drivers_->currentIndex() != listPos) {
    QSignalBlocker block(drivers_);
    drivers_->setCurrentIndex(listPos);
  }
  QSignalBlocker block(live_);
  live_->setChecked(true);
  SyncStatus();
  return true;
}

void CameraWindow::SetFrozen(bool on) {
  if (on == view_->GetFrozen()) return;
  if (on)
    view_->Freeze();
  else
    view_->UnFreeze();
  QSignalBlocker block(freeze_);
  freeze_->setChecked(view_->GetFrozen());
  SyncStatus();
}

void CameraWindow::GrabToThumbnails() {
  TBitmap frame;
  if (view_->GetFrozen() || !view_->GetShowVideo())
    frame.Assign(view_->GetBitmap());
  else if (!view_->CaptureWindow() || !view_->CaptureWindow()->LastFrame(&frame))
    return;
  if (frame.Empty()) return;
  if (!browser_) {
    browser_ = new ThumbBrowser([](TBitmap*, const QString&) {}, this);
    browser_->setWindowFlag(Qt::Window);
    browser_->setWindowTitle("Korvane camera: grabbed frames");
    connect(browser_, &QObject::destroyed, this, [this] { browser_ = nullptr; });
    browser_->setAttribute(Qt::WA_DeleteOnClose);
  }
  TKorvaneMView* mv = browser_->View();
  const int i = mv->AppendImage();
  mv->SetImage(i, &frame);
  if (isVisible()) browser_->show();
}

void CameraWindow::Process(const std::function<void(TKorvaneProc&)>& op) {
  if (view_->GetShowVideo() && !view_->GetFrozen()) {
    QMessageBox::information(this, "Camera", "Freeze a frame first: the image operations work on the still frame.");
    return;
  }
  op(*proc_);
}

void CameraWindow::ToggleRecord(bool on) {
  if (!on) {
    view_->StopRecord();
    SyncStatus();
    return;
  }
  QString f = QFileDialog::getSaveFileName(this, "Record to AVI", QDir::home().filePath("Capture.avi"),
                                           "AVI (*.avi)");
  QSignalBlocker block(record_);
  if (f.isEmpty() || !view_->GetShowVideo()) {
    record_->setChecked(false);
    return;
  }
  view_->SetCaptureFile(f.toStdString());
  try {
    view_->StartRecord();
  } catch (const std::exception& e) {
    record_->setChecked(false);
    QMessageBox::warning(this, "Record", e.what());
  }
  SyncStatus();
}

void CameraWindow::SyncStatus() {
  QString s;
  if (!view_->GetShowVideo()) {
    s = "Video off";
  } else {
    TRect r;
    view_->GetVideoSize(r);
    s = QString("%1  %2 x %3  format \"%4\"")
            .arg(view_->GetFrozen() ? "Frozen" : "Live")
            .arg(r.Right + 1)
            .arg(r.Bottom + 1)
            .arg(QString::fromStdString(view_->GetVideoFormat()));
    if (view_->CaptureWindow()) s += QString("  %1 frames").arg(view_->CaptureWindow()->FramesShown());
    if (view_->Recording())
      s += QString("  recording %1 frames").arg(view_->CaptureWindow()->FramesRecorded());
  }
  if (view_->Selected())
    s += QString("  selection %1,%2 - %3,%4")
             .arg(view_->GetSelX1())
             .arg(view_->GetSelY1())
             .arg(view_->GetSelX2())
             .arg(view_->GetSelY2());
  status_->setText(s);
  if (record_->isChecked() != view_->Recording()) {
    QSignalBlocker block(record_);
    record_->setChecked(view_->Recording());
  }
}

bool SaveCameraScreenshot(const QString& file, QString& error) {
  const int index = RegisterDemoCamera();
  CameraWindow w;
  w.setAttribute(Qt::WA_DontShowOnScreen);
  w.show();
  QCoreApplication::processEvents();
  const auto& idx = w.View()->GetVideoSourceIndexes();
  const auto it = std::find(idx.begin(), idx.end(), index);
  if (it == idx.end()) {
    error = "the synthetic camera could not be registered";
    return false;
  }
  if (!w.StartDriver(int(it - idx.begin()), error)) return false;
  // Let the preview deliver some frames, so that the picture has moved.
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 700) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  const QImage img = w.grab().toImage();
  if (img.isNull() || !img.save(file, "PNG")) {
    error = "cannot write " + file;
    return false;
  }
  return true;
}

}  // namespace korvane::demo
