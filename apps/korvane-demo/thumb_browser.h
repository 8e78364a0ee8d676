// The demo's thumbnail browser: a window around a multi-image view that opens
// a folder of images (loaded on demand by file name) or a multi-image file
// (GIF, TIFF, AVI), plays them, and hands a double-clicked cell to the image
// view.
#pragma once
#include <QMainWindow>
#include <QString>
#include <functional>

#include "korvane/multi/kvmio.h"
#include "korvane/multi/kvmview.h"

class QAction;

namespace korvane::demo {

class ThumbBrowser : public QMainWindow {
 public:
  // open receives the picture of a double-clicked cell and, for a folder's
  // image, its file name (empty for a frame of a multi-image file).
  using OpenCell = std::function<void(TBitmap* bmp, const QString& file)>;
  explicit ThumbBrowser(OpenCell open, QWidget* parent = nullptr);
  ~ThumbBrowser() override;

  // False with a reason when nothing could be opened.
  bool OpenFolder(const QString& dir, QString& error);
  bool OpenMultiFile(const QString& file, QString& error);
  TKorvaneMView* View() const { return view_; }
  // One frame at a time, as large as the window shows it, playing or not.
  void ShowFrames(bool playing);

 private:
  void OpenSelected();
  void SyncPlay();
  TKorvaneMView* view_ = nullptr;
  TKorvaneMIO* mio_ = nullptr;
  QAction* play_ = nullptr;
  OpenCell open_;
};

}  // namespace korvane::demo
