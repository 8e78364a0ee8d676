// The demo's camera window: a video view over a capture driver (the
// synthetic camera included), with live video, freezing, selection and
// processing of the frozen frame, frames grabbed into the thumbnail
// browser, and recording to AVI.
#pragma once
#include <QMainWindow>
#include <memory>

#include "korvane/capture/kvvideoview.h"
#include "korvane/proc/kvproc.h"

class QAction;
class QComboBox;
class QLabel;
class QTimer;

namespace korvane::demo {

class ThumbBrowser;

class CameraWindow : public QMainWindow {
 public:
  explicit CameraWindow(QWidget* parent = nullptr);
  ~CameraWindow() override;

  TKorvaneVideoView* View() const { return view_; }
  // Connects to the driver at this position of the list and shows live
  // video; false with the reason when it cannot.
  bool StartDriver(int listPos, QString& error);
  // Shows live video again, or freezes the current frame.
  void SetFrozen(bool on);
  // Adds the current frame (the frozen one, or the last one shown) to the
  // thumbnail browser, opening it when needed.
  void GrabToThumbnails();
  ThumbBrowser* Browser() const { return browser_; }

 private:
  void FillDriverList();
  void SyncStatus();
  void Process(const std::function<void(TKorvaneProc&)>& op);
  void ToggleRecord(bool on);

  TKorvaneVideoView* view_ = nullptr;
  std::unique_ptr<TKorvaneProc> proc_;
  QComboBox* drivers_ = nullptr;
  QAction* live_ = nullptr;
  QAction* freeze_ = nullptr;
  QAction* record_ = nullptr;
  QLabel* status_ = nullptr;
  QTimer* status_timer_ = nullptr;
  ThumbBrowser* browser_ = nullptr;
};

// Registers the synthetic camera once for the demo (640 x 480, 30 frames
// per second); the driver index it took, -1 when every index is taken.
int RegisterDemoCamera();

// Renders the camera window showing live video from the synthetic camera
// into a PNG file.
bool SaveCameraScreenshot(const QString& file, QString& error);

}  // namespace korvane::demo
