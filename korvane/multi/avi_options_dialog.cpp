// The AVI compressor choice: a dialog listing the encoders the installed
// FFmpeg can store in AVI, with the quality of MJPEG.
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>
#include <QVBoxLayout>

#include "korvane/multi/kvmio.h"

namespace korvane {

bool AVISaveOptions(QWidget* parent, TKVAVICompressOptions& Options) {
  QDialog dlg(parent);
  dlg.setWindowTitle("Video Compression");
  auto* layout = new QVBoxLayout(&dlg);
  layout->addWidget(new QLabel("Compressor:", &dlg));
  auto* list = new QListWidget(&dlg);
  const std::vector<TKVAVIEncoder> encoders = KVAVIEncoders();
  for (const TKVAVIEncoder& e : encoders) {
    auto* item = new QListWidgetItem(QString::fromStdString(e.Description + " (" + e.Name + ")"), list);
    item->setData(Qt::UserRole, QString::fromStdString(e.Name));
    if (e.Name == (Options.Encoder.empty() ? "rawvideo" : Options.Encoder)) list->setCurrentItem(item);
  }
  if (!list->currentItem() && list->count() > 0) list->setCurrentRow(0);
  layout->addWidget(list);
  auto* qlabel = new QLabel("Compression quality:", &dlg);
  auto* quality = new QSpinBox(&dlg);
  quality->setRange(1, 100);
  quality->setValue(std::clamp(Options.Quality, 1, 100));
  layout->addWidget(qlabel);
  layout->addWidget(quality);
  auto sync = [&] {
    bool q = list->currentItem() && list->currentItem()->data(Qt::UserRole).toString() == "mjpeg";
    qlabel->setEnabled(q);
    quality->setEnabled(q);
  };
  QObject::connect(list, &QListWidget::currentRowChanged, &dlg, [&](int) { sync(); });
  sync();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  layout->addWidget(buttons);
  if (dlg.exec() != QDialog::Accepted || !list->currentItem()) return false;
  Options.Encoder = list->currentItem()->data(Qt::UserRole).toString().toStdString();
  Options.Quality = quality->value();
  return true;
}

}  // namespace korvane
