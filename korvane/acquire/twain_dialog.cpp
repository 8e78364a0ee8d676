#include "korvane/acquire/twain_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvane {

int RunSourceSelectDialog(QWidget* parent, const std::vector<std::string>& lines, int current) {
  QDialog dlg(parent);
  dlg.setObjectName(kSourceSelectDialogName);
  dlg.setWindowTitle("Select Source");
  auto* layout = new QVBoxLayout(&dlg);
  layout->addWidget(new QLabel("Sources:", &dlg));
  auto* list = new QListWidget(&dlg);
  for (const std::string& s : lines) list->addItem(QString::fromStdString(s));
  if (!lines.empty()) list->setCurrentRow(current >= 0 && current < int(lines.size()) ? current : 0);
  layout->addWidget(list);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  buttons->button(QDialogButtonBox::Ok)->setText("Select");
  buttons->button(QDialogButtonBox::Ok)->setEnabled(!lines.empty());
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  QObject::connect(list, &QListWidget::itemDoubleClicked, &dlg, &QDialog::accept);
  layout->addWidget(buttons);
  if (dlg.exec() != QDialog::Accepted) return -1;
  return list->currentRow();
}

TSourceUIDialog::TSourceUIDialog(const std::string& device, std::function<void()> onScan,
                                 std::function<void()> onCancel)
    : QDialog(nullptr), on_scan_(std::move(onScan)), on_cancel_(std::move(onCancel)) {
  setObjectName(kSourceUIDialogName);
  setWindowTitle(QString::fromStdString(device));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QString::fromStdString("Scanner: " + device), this));
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* scan = buttons->addButton("Scan", QDialogButtonBox::AcceptRole);
  scan->setObjectName("scan");
  QPushButton* cancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  cancel->setObjectName("cancel");
  connect(scan, &QPushButton::clicked, this, [this] {
    if (on_scan_) on_scan_();
  });
  connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
  layout->addWidget(buttons);
}

void TSourceUIDialog::reject() {
  // The source closes when the manager disables it; until then the window
  // only reports the request.
  if (on_cancel_) on_cancel_();
}

}  // namespace korvane
