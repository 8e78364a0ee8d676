// The widgets in Qt Designer and in forms: the plugin loaded from the build
// tree as Designer loads it, the widgets it makes painting with no data, the
// properties Designer's editor reads and writes, and a uic-built form
// handing its property values to the widgets.
#include <gtest/gtest.h>

#include <QImage>
#include <QMetaProperty>
#include <QPluginLoader>
#include <QXmlStreamReader>
#include <memory>
#include <set>

#include "korvane/controls/histogram_box.h"
#include "korvane/controls/ruler_box.h"
#include "korvane/multi/kvmview.h"
#include "korvane/vect/kvvect.h"
#include "korvane/view/kvview.h"
#include "ui_form.h"

#ifdef KV_DESIGNER_PLUGIN
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#endif

using namespace korvane;

#ifdef KV_DESIGNER_PLUGIN
namespace {

// The plugin's widgets are reached through the meta-object only: the plugin
// holds its own copy of the static library, so its classes are not this
// program's.
// An attribute of the first element named tag of an XML text, or the
// element's text when attr is empty; null when there is no such element.
QString XmlValue(const QString& xml, const QString& tag, const QString& attr = {}) {
  QXmlStreamReader r(xml);
  while (!r.atEnd())
    if (r.readNext() == QXmlStreamReader::StartElement && r.name() == tag)
      return attr.isEmpty() ? r.readElementText() : r.attributes().value(attr).toString();
  return {};
}

class DesignerPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    loader_.setFileName(QStringLiteral(KV_DESIGNER_PLUGIN));
    auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(loader_.instance());
    ASSERT_NE(collection, nullptr) << loader_.errorString().toStdString();
    widgets_ = collection->customWidgets();
  }

  QDesignerCustomWidgetInterface* Find(const QString& name) {
    for (auto* w : widgets_)
      if (w->name() == name) return w;
    return nullptr;
  }

  // A widget as Designer places it: made by the plugin on a form at the
  // size its default XML gives (then taken off the form, for the test to own).
  std::unique_ptr<QWidget> Make(const QString& name) {
    QDesignerCustomWidgetInterface* iface = Find(name);
    if (!iface) return nullptr;
    QWidget form;
    std::unique_ptr<QWidget> w(iface->createWidget(&form));
    w->setParent(nullptr);
    w->resize(XmlValue(iface->domXml(), "width").toInt(), XmlValue(iface->domXml(), "height").toInt());
    return w;
  }

  static QImage Render(QWidget* w, QRgb under = 0) {
    QImage im(w->size(), QImage::Format_RGB32);
    im.fill(under);
    w->render(&im);
    return im;
  }

  // Pixels the widget leaves as they were: those that differ between
  // renderings over two backgrounds.
  static int Unpainted(QWidget* w) {
    const QImage a = Render(w, 0x000000), b = Render(w, 0xFFFFFF);
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
      for (int x = 0; x < a.width(); ++x) n += a.pixel(x, y) != b.pixel(x, y);
    return n;
  }

  static int CountPixels(const QImage& im, QRgb c) {
    int n = 0;
    for (int y = 0; y < im.height(); ++y)
      for (int x = 0; x < im.width(); ++x) n += (im.pixel(x, y) & 0xFFFFFF) == (c & 0xFFFFFF);
    return n;
  }

  QPluginLoader loader_;
  QList<QDesignerCustomWidgetInterface*> widgets_;
};

const QStringList kClasses = {"TKorvane",      "TKorvaneView", "TKorvaneVect",   "TKorvaneMView", "TKorvaneVideoView",
                              "THistogramBox", "THSVBox",      "TKVGradientBar", "TRulerBox",     "TImage"};

}  // namespace

TEST_F(DesignerPlugin, OffersTheTenWidgetsInTheKorvaneGroup) {
  std::set<QString> names;
  for (auto* w : widgets_) {
    names.insert(w->name());
    SCOPED_TRACE(w->name().toStdString());
    EXPECT_EQ(w->group(), "Korvane");
    EXPECT_FALSE(w->icon().isNull());
    EXPECT_FALSE(w->toolTip().isEmpty());
    EXPECT_FALSE(w->isContainer());
    // The include path is the installed one, which is the tree's too.
    EXPECT_TRUE(QFile::exists(QStringLiteral(KORVANE_TESTS_SOURCE_DIR "/../") + w->includeFile()))
        << w->includeFile().toStdString();
    // The XML Designer drops on a form names the class as the meta-object
    // does (Designer matches widgets by it) and shows it without namespace.
    EXPECT_EQ(XmlValue(w->domXml(), "ui", "displayname"), w->name().mid(9));
    EXPECT_EQ(XmlValue(w->domXml(), "widget", "class"), w->name());
    EXPECT_GT(XmlValue(w->domXml(), "width").toInt(), 0);
  }
  std::set<QString> want;
  for (const QString& c : kClasses) want.insert("korvane::" + c);
  EXPECT_EQ(names, want);
  EXPECT_EQ(widgets_.size(), kClasses.size());
}

// What Designer does with every widget: make it without data, paint it, and
// read and write back every property in its editor.
TEST_F(DesignerPlugin, EveryWidgetPaintsWithoutDataAndTakesBackItsProperties) {
  for (const QString& c : kClasses) {
    SCOPED_TRACE(c.toStdString());
    auto w = Make("korvane::" + c);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(QString(w->metaObject()->className()), "korvane::" + c);
    EXPECT_EQ(Unpainted(w.get()), 0);

    const QMetaObject* mo = w->metaObject();
    int own = 0;
    for (int i = QWidget::staticMetaObject.propertyCount(); i < mo->propertyCount(); ++i, ++own) {
      const QMetaProperty p = mo->property(i);
      SCOPED_TRACE(p.name());
      EXPECT_TRUE(p.isReadable() && p.isWritable());
      // An enumeration of the library's must come with its keys, or the
      // editor shows no drop-down.
      if (QByteArray(p.typeName()).startsWith("korvane::")) {
        EXPECT_TRUE(p.isEnumType());
        EXPECT_GT(p.enumerator().keyCount(), 0);
      }
      EXPECT_TRUE(w->setProperty(p.name(), w->property(p.name())));
    }
    EXPECT_GE(own, 4);  // the control's own four at least
  }
}

TEST_F(DesignerPlugin, PropertiesSetByNameReachTheWidgets) {
  auto view = Make("korvane::TKorvaneView");
  ASSERT_NE(view, nullptr);
  // In design mode the view shows its background; a chessboard pairs the
  // background with its complement.
  EXPECT_TRUE(view->setProperty("Background", QColor(255, 0, 0)));
  EXPECT_EQ(view->property("Background").value<QColor>(), QColor(255, 0, 0));
  QImage im = Render(view.get());
  EXPECT_GT(CountPixels(im, 0xFF0000), 0);
  EXPECT_EQ(CountPixels(im, 0x00FFFF), 0);
  EXPECT_TRUE(view->setProperty("BackgroundStyle", "kvbsChessboard"));
  EXPECT_EQ(view->property("BackgroundStyle").toString(), "kvbsChessboard");
  im = Render(view.get());
  EXPECT_GT(CountPixels(im, 0xFF0000), 0);
  EXPECT_GT(CountPixels(im, 0x00FFFF), 0);
  EXPECT_FALSE(view->setProperty("BackgroundStyle", "kvbsNoSuchStyle"));
  EXPECT_EQ(view->property("BackgroundStyle").toString(), "kvbsChessboard");

  // The other widgets' sets, by their keys.
  auto mview = Make("korvane::TKorvaneMView");
  ASSERT_NE(mview, nullptr);
  EXPECT_TRUE(mview->setProperty("MouseInteract", "mmiScroll"));
  EXPECT_TRUE(mview->setProperty("KeyInteract", 0));
  auto* mv = dynamic_cast<TKorvaneMView*>(mview.get());
  ASSERT_NE(mv, nullptr);
  EXPECT_EQ(mv->GetMouseInteract(), TKVMMouseInteract{mmiScroll});
  EXPECT_TRUE(mv->GetKeyInteract().Empty());
  auto vect = Make("korvane::TKorvaneVect");
  ASSERT_NE(vect, nullptr);
  EXPECT_TRUE(vect->setProperty("MouseInteractVt", "miPutBox"));
  EXPECT_EQ(dynamic_cast<TKorvaneVect*>(vect.get())->GetMouseInteractVt(), TKVMouseInteractVt{miPutBox});

  // The setters' own rules apply: the hue is clamped.
  auto hsv = Make("korvane::THSVBox");
  ASSERT_NE(hsv, nullptr);
  hsv->setProperty("Hue", 400);
  EXPECT_EQ(hsv->property("Hue").toInt(), 359);

  // A set by its keys: only red and blue curves of the design preview.
  auto hist = Make("korvane::THistogramBox");
  ASSERT_NE(hist, nullptr);
  ASSERT_EQ(hist->property("HistogramKind").toString(), "hkGray");
  EXPECT_EQ(CountPixels(Render(hist.get()), 0xFF0000), 0);
  EXPECT_TRUE(hist->setProperty("HistogramKind", "hkRed|hkBlue"));
  EXPECT_EQ(hist->property("HistogramKind").toString(), "hkRed|hkBlue");
  EXPECT_TRUE(hist->setProperty("CompBar", false));
  EXPECT_TRUE(hist->setProperty("Labels", 0));  // black text and axes
  im = Render(hist.get());
  EXPECT_GT(CountPixels(im, 0xFF0000), 0);
  EXPECT_GT(CountPixels(im, 0x0000FF), 0);
  EXPECT_EQ(CountPixels(im, 0x000000), 0);
}
#endif

// A form built by uic: the widgets are made with the parent alone, and the
// values set in Designer reach them through the property system.
TEST(DesignerForm, PropertiesOfTheFormArriveAtTheWidgets) {
  QWidget form;
  Ui::KorvaneForm ui;
  ui.setupUi(&form);
  EXPECT_EQ(ui.view->parentWidget(), &form);
  EXPECT_EQ(ui.view->Owner(), nullptr);
  EXPECT_EQ(ColorToRGB(ui.view->GetBackground()), clRed);
  EXPECT_EQ(ui.view->GetBackgroundStyle(), kvbsChessboard);
  EXPECT_EQ(ui.view->GetScrollBars(), ssBoth);
  EXPECT_EQ(ui.view->GetZoom(), 250);
  EXPECT_EQ(ui.histogram->GetHistogramStyle(), hsLines);
  EXPECT_EQ(ui.histogram->GetHistogramKind(), (THistogramKind{hkRed, hkBlue}));
  EXPECT_EQ(ui.ruler->GetRulerDir(), rdVertical);
  EXPECT_EQ(ui.ruler->GetViewMax(), 500.0);
  // Properties the form leaves alone keep the widgets' defaults.
  EXPECT_EQ(ui.view->GetZoomFilter(), rfNone);
  EXPECT_EQ(ui.histogram->GetLabels(), (THistogramLabels{hlVertical, hlHorizontal}));
}
