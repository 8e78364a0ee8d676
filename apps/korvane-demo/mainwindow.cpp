#include "apps/korvane-demo/mainwindow.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QStackedWidget>
#include <QStatusBar>
#include <cstdint>

#include "apps/korvane-demo/annotate.h"
#include "apps/korvane-demo/controls_panel.h"
#include "korvane/foundations/kvmsg.h"
#include "korvane/pixels/bitmap_procs.h"

namespace korvane::demo {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle("Korvane demo");
  // The picture is the combined component; the annotation layer works on a
  // copy of it in a second page of the central area.
  stack_ = new QStackedWidget(this);
  view_ = new TKorvane(nullptr, stack_);
  vect_ = new TKorvaneVect(nullptr, stack_);
  stack_->addWidget(view_);
  stack_->addWidget(vect_);
  setCentralWidget(stack_);
  view_->SetScrollBars(ssBoth);
  view_->SetMouseInteract({miZoom, miScroll});
  // Photos open upright, as their camera took them.
  view_->IO()->AutoOrient = true;
  vect_->SetScrollBars(ssBoth);
  vect_->SetMouseInteract({miZoom, miScroll});
  DrawSamplePicture(view_->GetBitmap());
  view_->Update();
  panel_ = new ControlsPanel(view_, view_->Proc(), this);
  panel_->RunChange = [this](const std::function<void()>& change) {
    Modify(change);
    SyncFromView();
  };
  addDockWidget(Qt::RightDockWidgetArea, panel_);
  panel_->hide();

  // Menu bar order: File, View, Filter, Background, Image, Mouse, then
  // Annotate and Language.
  BuildFileMenu();
  BuildViewMenus();
  BuildImageMenu();
  BuildMouseMenu();
  BuildToolBar();
  BuildAnnotateMenu(
      this, vect_,
      {[this] { EnterAnnotation(); }, [this] { TakeAnnotatedPicture(); }, [this] { LeaveAnnotation(); }});
  BuildLanguageMenu();
  BuildStatusBar();
  ConnectView();
  SyncFromView();
}

MainWindow::~MainWindow() {
  // The view's handlers reach into this window: drop them, then the view,
  // while the window is still whole.
  view_->OnViewChange = nullptr;
  view_->OnSelectionChange = nullptr;
  view_->OnMouseMove = nullptr;
  view_->OnMouseDown = nullptr;
  delete view_;
  view_ = nullptr;
  delete vect_;
  vect_ = nullptr;
}

bool MainWindow::Annotating() const { return stack_->currentWidget() == vect_; }

void MainWindow::EnterAnnotation() {
  if (Annotating()) return;
  vect_->Assign(view_);
  vect_->SetCenter(view_->GetCenter());
  vect_->SetBackgroundStyle(view_->GetBackgroundStyle());
  vect_->SetZoom(view_->GetZoom());
  vect_->SetViewXY(view_->GetViewX(), view_->GetViewY());
  stack_->setCurrentWidget(vect_);
}

void MainWindow::TakeAnnotatedPicture() {
  Modify([this] {
    view_->GetBitmap()->Assign(vect_->GetBitmap());
    view_->Update();
    view_->ImageChange();
  });
  SyncFromView();
}

void MainWindow::Modify(const std::function<void()>& change) {
  TBitmap before;
  before.Assign(view_->GetBitmap());
  change();
  const TBitmap* after = view_->GetBitmap();
  // Operations that found nothing to do (no selection, a format they do not
  // take) leave no step behind.
  if (before.PixelFormat() == after->PixelFormat() && _BitmapCompareX(&before, after)) return;
  history_.Push(before);
}

void MainWindow::PictureReplaced() {
  view_->Update();
  view_->ImageChange();
  SyncFromView();
}

bool MainWindow::UndoPicture() {
  if (!history_.Undo(*view_->GetBitmap())) return false;
  PictureReplaced();
  return true;
}

bool MainWindow::RedoPicture() {
  if (!history_.Redo(*view_->GetBitmap())) return false;
  PictureReplaced();
  return true;
}

void MainWindow::LeaveAnnotation() {
  if (!Annotating()) return;
  vect_->SetMouseInteractVt(TKVMouseInteractVt());
  stack_->setCurrentWidget(view_);
}

void MainWindow::SetLanguage(TMsgLanguage l) {
  language_ = l;
  view_->SetMsgLanguage(l);
  for (auto& [a, lang] : language_actions_) a->setChecked(lang == l);
}

void MainWindow::BuildLanguageMenu() {
  QMenu* m = menuBar()->addMenu("&Language");
  auto* group = new QActionGroup(m);
  const std::pair<const char*, TMsgLanguage> list[] = {
      {"&System", msSystem},   {"&English", msEnglish}, {"&Italiano", msItalian},    {"&Deutsch", msGerman},
      {"E&spañol", msSpanish}, {"&Français", msFrench}, {"&Português", msPortuguese}};
  for (const auto& [text, lang] : list) {
    QAction* a = m->addAction(QString::fromUtf8(text));
    a->setCheckable(true);
    a->setObjectName(QString("language_%1").arg(int(lang)));
    group->addAction(a);
    const TMsgLanguage l = lang;
    connect(a, &QAction::triggered, this, [this, l] { SetLanguage(l); });
    language_actions_.emplace_back(a, lang);
  }
  SetLanguage(language_);
}

QAction* MainWindow::NewAction(const QString& text, const QString& name, const QString& iconText) {
  auto* a = new QAction(text, this);
  a->setObjectName(name);
  if (!iconText.isEmpty()) a->setIconText(iconText);
  return a;
}

void MainWindow::BuildStatusBar() {
  auto label = [this](const QString& name, int minWidth) {
    auto* l = new QLabel(this);
    l->setObjectName(name);
    l->setMinimumWidth(minWidth);
    statusBar()->addWidget(l);
    return l;
  };
  zoom_label_ = label("zoomLabel", 90);
  origin_label_ = label("originLabel", 130);
  pixel_label_ = label("pixelLabel", 130);
  selection_label_ = label("selectionLabel", 260);
  pixel_label_->setText("Pixel -");
}

void MainWindow::ConnectView() {
  view_->OnViewChange = [this](TObject*, int) { ShowZoomAndOrigin(); };
  view_->OnSelectionChange = [this](TObject*) { ShowSelection(); };
  view_->OnMouseMove = [this](TObject*, TShiftState, int x, int y) { ShowPixel(x, y); };
  view_->OnMouseDown = [this](TObject*, TMouseButton b, TShiftState, int x, int y) {
    if (wand_mode_ && b == mbLeft) WandSelect(view_->XScr2Bmp(x), view_->YScr2Bmp(y));
  };
}

void MainWindow::SyncFromView() {
  for (auto& [a, f] : filter_actions_) a->setChecked(view_->GetZoomFilter() == f);
  for (auto& [a, b] : background_actions_) a->setChecked(view_->GetBackgroundStyle() == b);
  for (auto& [a, s] : scroll_actions_) a->setChecked(view_->GetScrollBars() == s);
  TKVMouseInteract modes = view_->GetMouseInteract();
  for (auto& [a, m] : mouse_actions_) a->setChecked(modes.Contains(m));
  wand_->setChecked(wand_mode_);
  for (auto& [a, key] : image_actions_) {
    if (key == "undo") a->setEnabled(history_.CanUndo());
    if (key == "redo") a->setEnabled(history_.CanRedo());
  }
  center_->setChecked(view_->GetCenter());
  double_buffer_->setChecked(view_->GetDoubleBuffer());
  delay_filter_->setChecked(view_->GetDelayZoomFilter());
  ShowZoomAndOrigin();
  ShowSelection();
}

void MainWindow::ShowZoomAndOrigin() {
  if (!zoom_label_) return;
  int z = view_->GetZoom();
  zoom_label_->setText(QString("Zoom %1%").arg(z));
  zoom_in_->setEnabled(z < kMaxZoom);
  zoom_out_->setEnabled(MouseZoomOut(z) < z);
  origin_label_->setText(QString("Origin %1, %2").arg(view_->GetViewX()).arg(view_->GetViewY()));
}

void MainWindow::ShowPixel(int clientX, int clientY) {
  if (!pixel_label_) return;
  TBitmap* b = view_->GetBitmap();
  int bx = view_->XScr2Bmp(clientX), by = view_->YScr2Bmp(clientY);
  // Outside the image (the background around a centred or small picture)
  // there is no pixel to report.
  bool inside = clientX >= view_->GetOffsetX() && clientX < view_->GetOffsetX() + view_->GetExtentX() &&
                clientY >= view_->GetOffsetY() && clientY < view_->GetOffsetY() + view_->GetExtentY() &&
                bx >= 0 && by >= 0 && bx < b->Width() && by < b->Height();
  pixel_label_->setText(inside ? QString("Pixel %1, %2").arg(bx).arg(by) : QString("Pixel -"));
}

void MainWindow::ShowSelection() {
  if (!selection_label_) return;
  // The actions that need a selection follow it as the mouse draws it.
  for (auto& [a, key] : image_actions_)
    if (key == "cut" || key == "crop" || key == "pastesel") a->setEnabled(view_->Selected());
  bool sel = view_->Selected() && view_->GetPolySelCount() >= 2;
  zoom_selection_->setEnabled(sel);
  deselect_->setEnabled(view_->Selected());
  if (!sel) {
    selection_label_->setText("No selection");
    return;
  }
  int x1 = view_->GetSelX1(), y1 = view_->GetSelY1(), x2 = view_->GetSelX2(), y2 = view_->GetSelY2();
  selection_label_->setText(QString("Selection %1, %2 - %3, %4 (%5 x %6)")
                                .arg(x1)
                                .arg(y1)
                                .arg(x2)
                                .arg(y2)
                                .arg(x2 - x1 + 1)
                                .arg(y2 - y1 + 1));
}

bool MainWindow::ApplyOptions(const DemoOptions& o, QString* error) {
  SetLanguage(o.language);
  bool opened = true;
  if (!o.open.isEmpty()) {
    QString why;
    opened = OpenFile(o.open, o.index, why);
    if (!opened && error) *error = why;
  }
  if (o.panel && !panel_->isVisible()) {
    panel_->show();
    QCoreApplication::processEvents();  // the view's final size, for fitting
  }
  if (o.center) view_->SetCenter(true);
  if (o.hasFilter) view_->SetZoomFilter(o.filter);
  if (o.hasBackground) view_->SetBackgroundStyle(o.background);
  if (o.fit)
    view_->Fit();
  else if (o.zoom > 0)
    view_->SetZoom(o.zoom);
  if (o.hasOrigin) {
    // Picture pixels to zoomed pixels; the view clamps to what it can show.
    int64_t x = int64_t(o.originX) * view_->GetZoom() / 100, y = int64_t(o.originY) * view_->GetZoom() / 100;
    view_->SetViewXY(int(x), int(y));
  }
  if (o.hasSelection) {
    // The command line gives picture pixels, whatever the zoom.
    TKVSelectionBase base = view_->GetSelectionBase();
    view_->SetSelectionBase(kvsbBitmap);
    view_->Select(o.selX1, o.selY1, o.selX2, o.selY2);
    view_->SetSelectionBase(base);
  }
  for (const QString& op : o.process) RunOp(op);
  SyncFromView();
  return opened;
}

QImage MainWindow::Render() {
  // Settle pending layout and resize events, then run the view's pending
  // paint so that the grab shows the current picture and selection outline.
  QCoreApplication::processEvents();
  view_->FlushPaint();
  return grab().toImage();
}

}  // namespace korvane::demo
