// The demo's File menu: opening and saving through the dialogs with preview,
// the page or frame of a multi-image file, the thumbnail browser, the camera
// and scanning.
#include <QAction>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <algorithm>
#include <exception>
#include <string>

#include "apps/korvane-demo/acquire_menu.h"
#include "apps/korvane-demo/camera_window.h"
#include "apps/korvane-demo/mainwindow.h"
#include "apps/korvane-demo/menu_tables.h"
#include "apps/korvane-demo/thumb_browser.h"
#include "korvane/dialogs/file_dialogs.h"

namespace korvane::demo {

void SelectFilterOf(TOpenKorvaneDialog& dlg, const QString& suffix) {
  const QString ext = "*." + suffix.toLower();
  for (int i = 1; !dlg.FilterPattern(i).empty(); ++i)
    if (QString::fromStdString(dlg.FilterPattern(i)).split(';').contains(ext)) {
      dlg.SetFilterIndex(i);
      return;
    }
}

void MainWindow::OpenWithDialog() {
  TOpenKorvaneDialog dlg;
  dlg.ParentWidget = this;
  dlg.MsgLanguage = language_;
  dlg.Title = "Open image";
  if (!file_.isEmpty()) dlg.SetInitialDir(QFileInfo(file_).absolutePath().toStdString());
  if (!dlg.Execute()) return;
  QString error;
  if (!OpenFile(QString::fromStdString(dlg.GetFileName()), 0, error))
    QMessageBox::warning(this, "Open image", error);
}

void MainWindow::SaveWithDialog() {
  TSaveKorvaneDialog dlg;
  dlg.ParentWidget = this;
  dlg.MsgLanguage = language_;
  dlg.Title = "Save image as";
  dlg.SetAttachedKorvaneIO(view_->IO());
  if (!file_.isEmpty()) {
    const QFileInfo fi(file_);
    dlg.SetInitialDir(fi.absolutePath().toStdString());
    dlg.SetFileName(fi.absoluteFilePath().toStdString());
    SelectFilterOf(dlg, fi.suffix());
  }
  if (!dlg.Execute()) return;
  QString error;
  if (!SaveFileAs(QString::fromStdString(dlg.GetFileName()), error))
    QMessageBox::warning(this, "Save image", error);
}

void MainWindow::BuildFileMenu() {
  open_ = NewAction("&Open...", "open", "Open");
  open_->setShortcut(QKeySequence::Open);
  connect(open_, &QAction::triggered, this, [this] { OpenWithDialog(); });
  save_as_ = NewAction("Save &As...", "saveAs");
  save_as_->setShortcut(QKeySequence::SaveAs);
  connect(save_as_, &QAction::triggered, this, [this] { SaveWithDialog(); });
  choose_image_ = NewAction("&Page or frame...", "chooseImage");
  choose_image_->setEnabled(false);
  connect(choose_image_, &QAction::triggered, this, [this] {
    bool ok = false;
    const int i =
        QInputDialog::getInt(this, "Page or frame", QString("Show image (0 .. %1):").arg(image_count_ - 1),
                             image_index_, 0, image_count_ - 1, 1, &ok);
    QString error;
    if (ok && !OpenFile(file_, i, error)) QMessageBox::warning(this, "Open image", error);
  });
  quit_ = NewAction("&Quit", "quit");
  quit_->setShortcut(QKeySequence::Quit);
  connect(quit_, &QAction::triggered, this, &QWidget::close);

  QMenu* file = menuBar()->addMenu("&File");
  file->addActions({open_, save_as_, choose_image_});
  file->addAction("Save &parameters...", this, [this] { view_->IO()->DoPreviews({ppALL}); });
  // The thumbnail browser hands a double-clicked cell to this view: a
  // folder's image from its file, a frame of a multi-image file as it is.
  file->addAction("&Thumbnail browser...", this, [this] {
    auto* browser = new ThumbBrowser(
        [this](TBitmap* bmp, const QString& name) {
          QString error;
          if (!name.isEmpty() ? OpenFile(name, 0, error) : false) return;
          if (bmp) {
            Modify([this, bmp] {
              view_->GetBitmap()->Assign(bmp);
              view_->Update();
              view_->ImageChange();
            });
            SyncFromView();
          }
        },
        this);
    browser->setWindowFlag(Qt::Window);
    browser->setAttribute(Qt::WA_DeleteOnClose);
    browser->show();
  });
  file->addAction("&Camera...", this, [this] {
    auto* camera = new CameraWindow(this);
    camera->setWindowFlag(Qt::Window);
    camera->setAttribute(Qt::WA_DeleteOnClose);
    camera->show();
  });
  file->addSeparator();
  AddAcquireActions(file, this);
  file->addSeparator();
  file->addAction(quit_);
}

bool MainWindow::OpenFile(const QString& name, int index, QString& error) {
  LeaveAnnotation();
  TKorvaneIO* io = view_->IO();
  TIOParamsVals* p = io->Params();
  p->TIFF_ImageIndex = p->GIF_ImageIndex = p->ICO_ImageIndex = p->CUR_ImageIndex = index;
  const std::string path = name.toStdString();
  const QString ext = QFileInfo(name).suffix().toLower();
  try {
    // The multi-image loads answer how many images the file holds.
    if (ext == "gif")
      image_count_ = io->LoadFromFileGif(path);
    else if (ext == "tif" || ext == "tiff")
      image_count_ = io->LoadFromFileTIFF(path);
    else if (ext == "wmf" || ext == "emf")  // on white paper, not the view's background
      io->ImportMetafile(path, -1, -1, clWhite), image_count_ = 1;
    else
      io->LoadFromFile(path), image_count_ = 1;
  } catch (const std::exception& e) {
    error = QString("%1: %2").arg(name, e.what());
    return false;
  }
  if (p->FileType == ioUnknown) {
    error = name + ": not a file type the demo reads";
    return false;
  }
  image_count_ = std::max(image_count_, 1);
  file_ = name;
  image_index_ = std::clamp(index, 0, image_count_ - 1);
  view_->DeSelect();
  view_->ClearUndo();
  history_.Clear();
  ShowFileState();
  SyncFromView();
  return true;
}

bool MainWindow::SaveFileAs(const QString& name, QString& error) {
  try {
    view_->SaveToFile(name.toStdString());
  } catch (const std::exception& e) {
    error = QString("%1: %2").arg(name, e.what());
    return false;
  }
  file_ = name;
  image_count_ = 1;
  image_index_ = 0;
  ShowFileState();
  return true;
}

void MainWindow::ShowFileState() {
  QString title = "Korvane demo";
  if (!file_.isEmpty()) {
    title = QFileInfo(file_).fileName() + " - " + QString::fromStdString(view_->IOParams()->GetFileTypeStr());
    if (image_count_ > 1) title += QString(" - image %1 of %2").arg(image_index_ + 1).arg(image_count_);
    title += " - Korvane demo";
  }
  setWindowTitle(title);
  choose_image_->setEnabled(image_count_ > 1);
}

}  // namespace korvane::demo
