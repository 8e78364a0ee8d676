// The Qt Designer plugin of Korvane's widgets: one collection offering the
// visual components under the group "Korvane". Designer creates them through
// the (owner, parent) constructor with no owner and marks them as designing,
// so that they paint a preview without images or devices.
#pragma once
#include <QObject>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

// What Designer shows and makes for one widget class.
struct KorvaneWidgetInfo {
  const char* className;   // the class without its namespace
  const char* objectName;  // the default name of a new instance
  const char* header;      // the installed include path
  const char* toolTip;
  int width, height;  // the default size on a form
  QWidget* (*create)(QWidget* parent);
  int glyph;  // which icon to draw
};

// One widget class of the widget box.
class KorvaneWidgetPlugin : public QObject, public QDesignerCustomWidgetInterface {
  Q_OBJECT
  Q_INTERFACES(QDesignerCustomWidgetInterface)

 public:
  KorvaneWidgetPlugin(const KorvaneWidgetInfo& info, QObject* parent);

  // "korvane::TKorvaneView": the class name as the meta-object gives it,
  // which is what Designer matches widgets with and uic writes out.
  QString name() const override;
  QString group() const override { return QStringLiteral("Korvane"); }
  QIcon icon() const override;
  QString toolTip() const override;
  QString whatsThis() const override;
  QString includeFile() const override;
  bool isContainer() const override { return false; }
  QWidget* createWidget(QWidget* parent) override;
  bool isInitialized() const override { return initialized_; }
  void initialize(QDesignerFormEditorInterface*) override { initialized_ = true; }
  QString domXml() const override;

 private:
  const KorvaneWidgetInfo& info_;
  bool initialized_ = false;
};

class KorvaneDesignerPlugins : public QObject, public QDesignerCustomWidgetCollectionInterface {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface")
  Q_INTERFACES(QDesignerCustomWidgetCollectionInterface)

 public:
  explicit KorvaneDesignerPlugins(QObject* parent = nullptr);
  QList<QDesignerCustomWidgetInterface*> customWidgets() const override { return widgets_; }

 private:
  QList<QDesignerCustomWidgetInterface*> widgets_;
};
