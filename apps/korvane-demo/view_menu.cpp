// The demo's View, Filter, Background and Mouse menus and its toolbar: zoom,
// centring, double buffering, scroll bars, the zoom filter, the background
// style and color, and the mouse modes (the view's own and the magic wand).
#include <QAction>
#include <QActionGroup>
#include <QColor>
#include <QColorDialog>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <algorithm>
#include <cstdint>

#include "apps/korvane-demo/controls_panel.h"
#include "apps/korvane-demo/mainwindow.h"
#include "apps/korvane-demo/menu_tables.h"

namespace korvane::demo {

void MainWindow::BuildViewMenus() {
  zoom_in_ = NewAction("Zoom &in", "zoomIn", "Zoom +");
  zoom_in_->setShortcut(QKeySequence::ZoomIn);
  connect(zoom_in_, &QAction::triggered, this, [this] { ZoomStep(true); });
  zoom_out_ = NewAction("Zoom &out", "zoomOut", "Zoom -");
  zoom_out_->setShortcut(QKeySequence::ZoomOut);
  connect(zoom_out_, &QAction::triggered, this, [this] { ZoomStep(false); });
  zoom_100_ = NewAction("&Actual size (100%)", "zoom100", "100%");
  zoom_100_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
  connect(zoom_100_, &QAction::triggered, this, [this] {
    view_->ZoomAt(view_->ClientWidth() / 2, view_->ClientHeight() / 2, 100);
    SyncFromView();
  });
  fit_ = NewAction("&Fit", "fit", "Fit");
  fit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  connect(fit_, &QAction::triggered, this, [this] {
    view_->Fit();
    SyncFromView();
  });
  zoom_selection_ = NewAction("Zoom to &selection", "zoomSelection", "Zoom sel");
  connect(zoom_selection_, &QAction::triggered, this, [this] {
    view_->ZoomSelection();
    SyncFromView();
  });

  center_ = NewAction("&Center", "center", "Center");
  center_->setCheckable(true);
  connect(center_, &QAction::triggered, this, [this](bool on) { view_->SetCenter(on); });
  double_buffer_ = NewAction("&Double buffer", "doubleBuffer");
  double_buffer_->setCheckable(true);
  connect(double_buffer_, &QAction::triggered, this, [this](bool on) { view_->SetDoubleBuffer(on); });

  auto* filters = new QActionGroup(this);
  for (const auto& f : kFilters) {
    QAction* a = NewAction(f.caption, QString("filter.") + f.key);
    a->setCheckable(true);
    filters->addAction(a);
    TResampleFilter value = f.value;
    connect(a, &QAction::triggered, this, [this, value] { view_->SetZoomFilter(value); });
    filter_actions_.emplace_back(a, value);
  }
  delay_filter_ = NewAction("D&elay filter", "delayFilter");
  delay_filter_->setCheckable(true);
  connect(delay_filter_, &QAction::triggered, this, [this](bool on) { view_->SetDelayZoomFilter(on); });

  auto* backgrounds = new QActionGroup(this);
  for (const auto& b : kBackgrounds) {
    QAction* a = NewAction(b.caption, QString("background.") + b.key);
    a->setCheckable(true);
    backgrounds->addAction(a);
    TKVBackgroundStyle value = b.value;
    connect(a, &QAction::triggered, this, [this, value] { view_->SetBackgroundStyle(value); });
    background_actions_.emplace_back(a, value);
  }
  background_color_ = NewAction("Background &color...", "backgroundColor");
  connect(background_color_, &QAction::triggered, this, [this] {
    TColor rgb = ColorToRGB(view_->GetBackground());
    QColor c = QColorDialog::getColor(QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb)), this,
                                      "Background color");
    if (c.isValid()) SetBackgroundColor(c);
  });

  auto* scrolls = new QActionGroup(this);
  for (const auto& s : kScrolls) {
    QAction* a = NewAction(s.caption, QString("scrollBars.") + s.key);
    a->setCheckable(true);
    scrolls->addAction(a);
    TScrollStyle value = s.value;
    connect(a, &QAction::triggered, this, [this, value] {
      view_->SetScrollBars(value);
      SyncFromView();
    });
    scroll_actions_.emplace_back(a, value);
  }

  QMenu* view = menuBar()->addMenu("&View");
  view->addActions({zoom_in_, zoom_out_, zoom_100_, fit_, zoom_selection_});
  view->addSeparator();
  view->addAction(center_);
  view->addAction(double_buffer_);
  view->addAction(panel_->toggleViewAction());
  QMenu* bars = view->addMenu("Scroll &bars");
  for (auto& [a, s] : scroll_actions_) bars->addAction(a);

  QMenu* filter = menuBar()->addMenu("F&ilter");
  for (auto& [a, f] : filter_actions_) filter->addAction(a);
  filter->addSeparator();
  filter->addAction(delay_filter_);

  QMenu* background = menuBar()->addMenu("&Background");
  for (auto& [a, b] : background_actions_) background->addAction(a);
  background->addSeparator();
  background->addAction(background_color_);
}

void MainWindow::BuildMouseMenu() {
  // Not an exclusive group: the view decides which modes may stay together,
  // and the actions show what it kept.
  for (const auto& m : kMouseModes) {
    QAction* a = NewAction(m.caption, QString("mouse.") + m.key, m.iconText);
    a->setCheckable(true);
    TKVMouseInteractItems item = m.value;
    connect(a, &QAction::triggered, this, [this, item](bool on) { ToggleMouseItem(item, on); });
    mouse_actions_.emplace_back(a, item);
  }
  wand_ = NewAction("&Magic wand", "mouse.wand", "Wand");
  wand_->setCheckable(true);
  connect(wand_, &QAction::triggered, this, [this](bool on) { SetWandMode(on); });
  deselect_ = NewAction("&Deselect", "deselect", "Deselect");
  deselect_->setShortcut(QKeySequence(Qt::Key_Escape));
  connect(deselect_, &QAction::triggered, this, [this] {
    view_->DeSelect();
    SyncFromView();
  });

  QMenu* mouse = menuBar()->addMenu("&Mouse");
  for (auto& [a, m] : mouse_actions_) mouse->addAction(a);
  mouse->addAction(wand_);
  mouse->addSeparator();
  mouse->addAction(deselect_);
}

void MainWindow::BuildToolBar() {
  QToolBar* tb = addToolBar("Main");
  tb->setObjectName("mainToolBar");
  tb->setMovable(false);
  tb->setToolButtonStyle(Qt::ToolButtonTextOnly);
  tb->addActions({zoom_in_, zoom_out_, zoom_100_, fit_, zoom_selection_});
  tb->addSeparator();
  tb->addAction(center_);
  tb->addSeparator();
  for (auto& [a, m] : mouse_actions_) tb->addAction(a);
  tb->addAction(wand_);
  tb->addSeparator();
  tb->addAction(deselect_);
}

void MainWindow::ZoomStep(bool in) {
  int z = view_->GetZoom();
  int next = in ? std::min(MouseZoomIn(z), kMaxZoom) : MouseZoomOut(z);
  // The mouse steps end at 2 %: below that "out" would zoom in.
  if (in ? next <= z : next >= z) return;
  // Zoom about the centre of the view so that what is in the middle stays there.
  view_->ZoomAt(view_->ClientWidth() / 2, view_->ClientHeight() / 2, next);
  SyncFromView();
}

void MainWindow::ToggleMouseItem(TKVMouseInteractItems item, bool on) {
  if (on) wand_mode_ = false;
  TKVMouseInteract s = view_->GetMouseInteract();
  if (on)
    s.Include(item);
  else
    s.Exclude(item);
  view_->SetMouseInteract(s);
  SyncFromView();
}

void MainWindow::SetBackgroundColor(const QColor& c) {
  view_->SetBackGround(RGB(uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue())));
}

void MainWindow::SetWandMode(bool on) {
  wand_mode_ = on;
  // The wand takes the left button: the view's own modes step aside.
  if (on) view_->SetMouseInteract({});
  SyncFromView();
}

}  // namespace korvane::demo
