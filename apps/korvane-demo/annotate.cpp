#include "apps/korvane-demo/annotate.h"

#include <QActionGroup>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <algorithm>
#include <stdexcept>
#include <utility>

namespace korvane::demo {

void PrepareInsertion(TKorvaneVect* v, TKVMouseInteractVtItems mode) {
  TKVVObject& t = v->TemplateObject();
  t.PenColor = clRed;
  t.PenWidth = 2;
  t.PenStyle = psSolid;
  t.BrushColor = clRed;
  // Arrow heads are filled with the brush; boxes and ellipses stay hollow.
  t.BrushStyle = mode == miPutLine ? bsSolid : bsClear;
  t.BeginShape = kvsNONE;
  t.EndShape = mode == miPutLine ? kvsOUTARROW : kvsNONE;
  t.ShapeWidth = 12;
  t.ShapeHeight = 18;
  if (mode == miPutText) {
    t.Text = "Text";
    t.PenWidth = 1;
    if (t.Font) t.Font->lfHeight = 0;  // the text fills the box
  }
}

void TakeStampFromPicture(TKorvaneVect* v) {
  TBitmap* pic = v->GetBitmap();
  if (!pic || pic->Empty()) return;
  const int side = std::max(pic->Width(), pic->Height());
  const double k = side > 160 ? 160.0 / side : 1.0;
  TBitmap stamp;
  stamp.Allocate(std::max(1, int(pic->Width() * k)), std::max(1, int(pic->Height() * k)), pf24bit);
  stamp.Canvas()->StretchDraw(Rect(0, 0, stamp.Width(), stamp.Height()), pic);
  stamp.Canvas()->EndPaint();
  v->SetObjBitmapNU(TKorvaneVect::kTemplate, &stamp);
  TKVVObject& t = v->TemplateObject();
  t.x2 = t.x1 + stamp.Width() - 1;
  t.y2 = t.y1 + stamp.Height() - 1;
}

namespace {

void Report(QMainWindow* w, const char* what, const std::exception& e) {
  QMessageBox::warning(w, "Korvane demo", QString("%1: %2").arg(what, e.what()));
}

}  // namespace

void BuildAnnotateMenu(QMainWindow* w, TKorvaneVect* v, const AnnotateHooks& hooks) {
  QMenu* m = w->menuBar()->addMenu("&Annotate");
  auto* modes = new QActionGroup(m);
  modes->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  struct Mode {
    const char* text;
    TKVMouseInteractVtItems item;
  };
  const Mode list[] = {{"&Select objects", miObjectSelect},
                       {"&Line with arrow", miPutLine},
                       {"&Box", miPutBox},
                       {"&Ellipse", miPutEllipse},
                       {"&Text", miPutText},
                       {"Picture &stamp", miPutBitmap},
                       {"Measure l&ength", miLineLen},
                       {"Measure &area", miArea}};
  for (const Mode& mode : list) {
    QAction* a = m->addAction(mode.text);
    a->setCheckable(true);
    a->setObjectName(QString("annotate_%1").arg(int(mode.item)));
    modes->addAction(a);
    const TKVMouseInteractVtItems item = mode.item;
    QObject::connect(a, &QAction::toggled, w, [v, item, enter = hooks.enter](bool on) {
      if (!on) {
        v->SetMouseInteractVt(TKVMouseInteractVt());
        return;
      }
      if (enter) enter();
      if (item == miLineLen || item == miArea) {
        // Measurements follow the view's polygon selection.
        v->SetMouseInteract({miSelectPolygon});
      } else {
        PrepareInsertion(v, item);
        if (item == miPutBitmap) TakeStampFromPicture(v);
      }
      v->SetMouseInteractVt(TKVMouseInteractVt{item});
    });
  }
  m->addSeparator();
  QMenu* units = m->addMenu("&Unit");
  auto* unitGroup = new QActionGroup(units);
  const char* names[] = {"Pixels", "Inches", "Kilometres", "Metres", "Centimetres", "Millimetres"};
  for (int u = kvuPIXELS; u <= kvuMILLIMETERS; ++u) {
    QAction* a = units->addAction(names[u]);
    a->setCheckable(true);
    a->setChecked(u == v->GetMUnit());
    unitGroup->addAction(a);
    QObject::connect(a, &QAction::triggered, w, [v, u] { v->SetMUnit(TKVUnits(u)); });
  }
  QObject::connect(m->addAction("Scale from &known length..."), &QAction::triggered, w, [w, v] {
    bool ok = false;
    const double value = QInputDialog::getDouble(
        w, "Known length", "Length of the selected line in the chosen unit:", 1.0, 1e-9, 1e12, 4, &ok);
    if (ok) v->SetScaleFromSelectionLen(value);
  });
  m->addSeparator();
  // Undo and redo of the layer. The keys are the layer's own (it claims
  // Ctrl+Z and Ctrl+Y while it has something to undo or redo), so the menu
  // only shows them. A step that changes the picture (a burn-in) hands the
  // picture back to the window as a burn-in does.
  QAction* undo = m->addAction("&Undo\tCtrl+Z");
  undo->setObjectName("annotate_undo");
  QAction* redo = m->addAction("&Redo\tCtrl+Y");
  redo->setObjectName("annotate_redo");
  auto step = [v, burned = hooks.burned](bool back) {
    const bool picture = back ? v->UndoRestoresBitmap() : v->RedoRestoresBitmap();
    if (!(back ? v->Undo() : v->Redo())) return;
    if (picture && burned) burned();
  };
  QObject::connect(undo, &QAction::triggered, w, [step] { step(true); });
  QObject::connect(redo, &QAction::triggered, w, [step] { step(false); });
  auto sync = [v, undo, redo] {
    undo->setEnabled(v->CanUndo());
    redo->setEnabled(v->CanRedo());
  };
  sync();
  v->OnUndoChange = [sync](TObject*) { sync(); };
  QObject::connect(m, &QMenu::aboutToShow, w, sync);

  QMenu* colors = m->addMenu("&Colour of selected objects");
  colors->setObjectName("annotate_colors");
  const std::pair<const char*, TColor> palette[] = {{"&Red", clRed},     {"&Green", clLime},
                                                    {"&Blue", clBlue},   {"&Yellow", clYellow},
                                                    {"&White", clWhite}, {"Blac&k", clBlack}};
  for (const auto& [name, color] : palette) {
    const TColor c = color;
    QObject::connect(colors->addAction(name), &QAction::triggered, w, [v, c] {
      if (v->SelObjectCount() == 0) return;
      v->SaveUndo();
      for (int i = 0; i < v->SelObjectCount(); ++i) {
        const int idx = v->GetSelObjects(i);
        v->SetObjPenColor(idx, c);
        if (v->GetObjKind(idx) == kvkLINE || v->GetObjBrushStyle(idx) != bsClear) v->SetObjBrushColor(idx, c);
      }
    });
  }
  QObject::connect(m->addAction("&Delete selected objects\tDel"), &QAction::triggered, w,
                   [v] { v->DeleteSelObjects(); });
  QObject::connect(m->addAction("B&urn objects into picture"), &QAction::triggered, w,
                   [v, burned = hooks.burned] {
                     v->SaveUndo(true);
                     v->CopyObjectsToBack();
                     v->RemoveAllObjects();
                     if (burned) burned();
                   });
  if (hooks.leave) {
    QAction* back = m->addAction("Back to the &picture");
    back->setObjectName("annotate_leave");
    QObject::connect(back, &QAction::triggered, w, [modes, leave = hooks.leave] {
      if (QAction* on = modes->checkedAction()) on->setChecked(false);
      leave();
    });
  }
  m->addSeparator();
  QObject::connect(m->addAction("Save &layer..."), &QAction::triggered, w, [w, v] {
    const QString name = QFileDialog::getSaveFileName(w, "Save layer", {}, "Vector layers (*.kvv)", nullptr,
                                                      QFileDialog::DontUseNativeDialog);
    if (name.isEmpty()) return;
    try {
      v->SaveToFileKVV(name.toStdString());
    } catch (const std::exception& e) {
      Report(w, "Save layer", e);
    }
  });
  QObject::connect(m->addAction("&Open layer..."), &QAction::triggered, w, [w, v] {
    const QString name = QFileDialog::getOpenFileName(w, "Open layer", {}, "Vector layers (*.kvv)", nullptr,
                                                      QFileDialog::DontUseNativeDialog);
    if (name.isEmpty()) return;
    try {
      v->LoadFromFileKVV(name.toStdString());
    } catch (const std::exception& e) {
      Report(w, "Open layer", e);
    }
  });
  QObject::connect(m->addAction("&Import DXF..."), &QAction::triggered, w, [w, v] {
    const QString name = QFileDialog::getOpenFileName(w, "Import DXF", {}, "DXF drawings (*.dxf)", nullptr,
                                                      QFileDialog::DontUseNativeDialog);
    if (name.isEmpty()) return;
    try {
      v->ImportDXF(name.toStdString());
    } catch (const std::exception& e) {
      Report(w, "Import DXF", e);
    }
  });
}

}  // namespace korvane::demo
