#include "korvane/foundations/palette_dialog.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace korvane {

namespace {
constexpr int kCell = 16;
constexpr int kColumns = 32;
}  // namespace

TKorvanePaletteDialog::TKorvanePaletteDialog(TComponent* AOwner, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      TComponent(AOwner) {
  setWindowTitle(QString());
  setFixedSize(539, 199);
  setMouseTracking(true);
  cancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
  cancel_->setGeometry(8, 144, 75, 25);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

TKorvanePaletteDialog::~TKorvanePaletteDialog() {
  BeginDestroy();
  DestroyComponents();
}

void TKorvanePaletteDialog::SetPalette(const TRGB* entries, int count) {
  entries_ = entries;
  count_ = entries ? std::max(count, 0) : 0;
  if (highlighted_ >= count_) highlighted_ = -1;
  update();
}

bool TKorvanePaletteDialog::Execute() {
  highlighted_ = -1;
  return exec() == QDialog::Accepted;
}

TRect TKorvanePaletteDialog::CellRect(int i) {
  const int col = i % kColumns, row = i / kColumns;
  return Rect(kCell * col + 1, kCell * row + 1, kCell * col + kCell, kCell * row + kCell);
}

int TKorvanePaletteDialog::EntryAt(int x, int y) const {
  // Points left of or above the grid, or right of its 32 columns, hit no
  // cell (they would otherwise wrap into a neighbouring row).
  if (x < 1 || y < 1) return -1;
  const int col = (x - 1) / kCell, row = (y - 1) / kCell;
  if (col >= kColumns) return -1;
  const int64_t i = int64_t(row) * kColumns + col;
  return i < count_ ? int(i) : -1;
}

void TKorvanePaletteDialog::PaintCells(TCanvas* c) const {
  if (!c) return;
  c->Pen()->SetStyle(psSolid);
  c->Pen()->SetWidth(1);
  c->Pen()->SetMode(pmCopy);
  c->Brush()->SetStyle(bsSolid);
  for (int i = 0; i < count_; ++i) {
    const TRGB& e = entries_[i];
    c->Pen()->SetColor(i == highlighted_ ? clBlack : clWhite);
    c->Brush()->SetColor(RGB(e.r, e.g, e.b));
    c->Rectangle(CellRect(i));
  }
}

void TKorvanePaletteDialog::paintEvent(QPaintEvent*) {
  QImage img(size(), QImage::Format_RGB32);
  img.fill(palette().color(QPalette::Window));
  {
    TCanvas c(&img);
    PaintCells(&c);
  }
  QPainter p(this);
  p.drawImage(0, 0, img);
}

void TKorvanePaletteDialog::mouseMoveEvent(QMouseEvent* e) {
  const QPoint pt(int(std::floor(e->position().x())), int(std::floor(e->position().y())));
  const int i = EntryAt(pt.x(), pt.y());
  if (i >= 0 && i != highlighted_) {
    highlighted_ = i;
    update();
  }
  QDialog::mouseMoveEvent(e);
}

void TKorvanePaletteDialog::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QDialog::mouseReleaseEvent(e);
  // A click chooses the entry under the pointer; a click beside the cells
  // chooses nothing.
  const QPoint pt(int(std::floor(e->position().x())), int(std::floor(e->position().y())));
  const int i = EntryAt(pt.x(), pt.y());
  if (i < 0) return;
  highlighted_ = i;
  color_ = RGB(entries_[i].r, entries_[i].g, entries_[i].b);
  accept();
}

void TKorvanePaletteDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (QScreen* s = QGuiApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
}

}  // namespace korvane
