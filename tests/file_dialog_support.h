// Driving the file dialogs and modal forms headless.
#pragma once
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>
#include <QTimer>
#include <functional>

namespace korvane::test {

// Confirms as the user does: through the dialog's accept button.
inline void Accept(QFileDialog* d) {
  auto* box = d->findChild<QDialogButtonBox*>("buttonBox");
  ASSERT_NE(box, nullptr);
  QPushButton* ok = box->button(d->acceptMode() == QFileDialog::AcceptSave ? QDialogButtonBox::Save
                                                                           : QDialogButtonBox::Open);
  ASSERT_NE(ok, nullptr);
  ok->setEnabled(true);  // the dialog enables it from the name box asynchronously
  ok->click();
}

// Runs step on the next modal widget of type T once its event loop runs.
template <class T>
void OnNextModal(std::function<void(T*)> step) {
  QTimer::singleShot(0, [step] {
    auto* d = dynamic_cast<T*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    step(d);
  });
}

}  // namespace korvane::test
