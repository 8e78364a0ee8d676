#include "apps/korvane-demo/more_ops.h"

#include <QAction>
#include <QColor>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStatusBar>
#include <exception>

#include "apps/korvane-demo/mainwindow.h"
#include "korvane/dialogs/file_dialogs.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/filters.h"

namespace korvane::demo {

namespace {

QAction* Add(QMenu* m, const char* text, const char* name) {
  QAction* a = m->addAction(text);
  a->setObjectName(name);
  return a;
}

// "#RRGGBB #RRGGBB #RRGGBB" (or any three names QColor knows) into colors.
bool ParseThreeColors(const QString& s, TRGB out[3]) {
  const QStringList parts = s.simplified().split(' ');
  if (parts.size() != 3) return false;
  for (int i = 0; i < 3; ++i) {
    const QColor c = QColor::fromString(parts[i]);
    if (!c.isValid()) return false;
    out[i] = CreateRGB(uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue()));
  }
  return true;
}

}  // namespace

void AddMoreOperations(QMenu* image, MainWindow* w) {
  QMenu* m = image->addMenu("&More operations");
  auto done = [w](const QString& message) {
    w->SyncFromView();
    w->statusBar()->showMessage(message, 5000);
  };

  QObject::connect(
      Add(m, "&Hide text in the picture...", "image.hideText"), &QAction::triggered, w, [w, done] {
        TKorvane* v = w->View();
        const int space = v->Proc()->GetHiddenDataSpace();
        if (space <= 0) {
          QMessageBox::warning(w, "Hide text", "Only a true color picture can hide text.");
          return;
        }
        bool ok = false;
        const QString text = QInputDialog::getText(
            w, "Hide text", QString("Text (up to %1 bytes):").arg(space), QLineEdit::Normal, QString(), &ok);
        if (!ok) return;
        const std::string bytes = text.toStdString();
        int written = 0;
        w->Modify([&] { written = v->WriteHiddenText(bytes); });
        if (written < int(bytes.size()))
          QMessageBox::warning(w, "Hide text",
                               QString("Only the first %1 of %2 bytes fit.").arg(written).arg(bytes.size()));
        done(QString("%1 bytes hidden").arg(written));
      });

  QObject::connect(Add(m, "&Read hidden text...", "image.readText"), &QAction::triggered, w, [w] {
    const std::string text = w->View()->ReadHiddenText();
    QMessageBox::information(
        w, "Hidden text",
        text.empty() ? QString("The picture hides no text.") : QString::fromStdString(text));
  });

  QObject::connect(Add(m, "&Merge with a file...", "image.merge"), &QAction::triggered, w, [w, done] {
    TOpenKorvaneDialog dlg;
    dlg.ParentWidget = w;
    dlg.MsgLanguage = w->Language();
    dlg.Title = "Merge with";
    if (!dlg.Execute()) return;
    bool ok = false;
    const int percent =
        QInputDialog::getInt(w, "Merge", "Weight of the current picture (%):", 50, 0, 100, 5, &ok);
    if (!ok) return;
    TBitmap other;
    TKorvaneIO io;
    io.SetAttachedBitmap(&other);
    try {
      io.LoadFromFile(dlg.GetFileName());
    } catch (const std::exception& e) {
      QMessageBox::warning(w, "Merge", e.what());
      return;
    }
    if (other.Width() <= 0 || other.Height() <= 0) {
      QMessageBox::warning(w, "Merge", "The file holds no picture the demo reads.");
      return;
    }
    w->Modify([&] { w->View()->Merge(&other, percent); });
    done(QString("Merged %1%").arg(percent));
  });

  QObject::connect(
      Add(m, "&User filter from a file...", "image.userFilter"), &QAction::triggered, w, [w, done] {
        const QString f =
            QFileDialog::getOpenFileName(w, "User filter", QString(), "Filter files (*.flt);;All files (*)");
        if (f.isEmpty()) return;
        try {
          const TGraphFilter filter = LoadFilterFromFile(f.toStdString());
          w->Modify([&] { w->View()->ApplyFilter(filter); });
        } catch (const std::exception& e) {
          QMessageBox::warning(w, "User filter", QString("%1: %2").arg(f, e.what()));
          return;
        }
        done("Filter applied");
      });

  QObject::connect(Add(m, "&Cast a color range...", "image.castRange"), &QAction::triggered, w, [w, done] {
    bool ok = false;
    const QString s = QInputDialog::getText(w, "Cast color range",
                                            "From color, to color, cast color (#RRGGBB #RRGGBB #RRGGBB):",
                                            QLineEdit::Normal, "#000000 #404040 #ff0000", &ok);
    if (!ok) return;
    TRGB c[3];
    if (!ParseThreeColors(s, c)) {
      QMessageBox::warning(w, "Cast color range", "Give three colors, such as #000000 #404040 #ff0000.");
      return;
    }
    w->Modify([&] { w->View()->CastColorRange(c[0], c[1], c[2]); });
    done("Color range cast");
  });
}

}  // namespace korvane::demo
