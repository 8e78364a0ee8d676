#include "designer/korvane_designer.h"

#include <QConicalGradient>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "korvane/capture/kvvideoview.h"
#include "korvane/combined/kvcombined.h"
#include "korvane/controls/gradient_bar.h"
#include "korvane/controls/histogram_box.h"
#include "korvane/controls/hsv_box.h"
#include "korvane/controls/ruler_box.h"
#include "korvane/foundations/host/picture.h"
#include "korvane/multi/kvmview.h"
#include "korvane/vect/kvvect.h"
#include "korvane/view/kvview.h"

namespace {

using namespace korvane;

// A widget as Designer makes it: no owner, in design mode (previews instead
// of images, no devices, no animation), laid out and painted once.
template <class T>
QWidget* Make(QWidget* parent) {
  auto* w = new T(nullptr, parent);
  w->SetDesigning(true);
  if constexpr (requires { w->Update(); })
    w->Update();
  else
    w->Invalidate();
  return w;
}

enum Glyph { kPicture, kCombined, kVect, kMulti, kVideo, kHistogram, kHSV, kGradient, kRuler, kImage };

const KorvaneWidgetInfo kWidgets[] = {
    {"TKorvane", "korvane", "korvane/combined/kvcombined.h",
     "Image view with its own processing and file I/O components", 240, 180, Make<TKorvane>, kCombined},
    {"TKorvaneView", "korvaneView", "korvane/view/kvview.h",
     "Zoomable, scrollable image view with selections", 240, 180, Make<TKorvaneView>, kPicture},
    {"TKorvaneVect", "korvaneVect", "korvane/vect/kvvect.h",
     "Image view with vector objects and measurements", 240, 180, Make<TKorvaneVect>, kVect},
    {"TKorvaneMView", "korvaneMView", "korvane/multi/kvmview.h",
     "Grid of image thumbnails, single image or animation", 320, 240, Make<TKorvaneMView>, kMulti},
    {"TKorvaneVideoView", "korvaneVideoView", "korvane/capture/kvvideoview.h",
     "Image view showing live video from a capture device", 320, 240, Make<TKorvaneVideoView>, kVideo},
    {"THistogramBox", "histogramBox", "korvane/controls/histogram_box.h",
     "Level histogram of a processing component's image", 256, 105, Make<THistogramBox>, kHistogram},
    {"THSVBox", "hsvBox", "korvane/controls/hsv_box.h", "Color picker in the HSV model", 150, 120,
     Make<THSVBox>, kHSV},
    {"TKVGradientBar", "gradientBar", "korvane/controls/gradient_bar.h",
     "Ramp between two colors with a grip picking one step", 30, 150, Make<TKVGradientBar>, kGradient},
    {"TRulerBox", "rulerBox", "korvane/controls/ruler_box.h", "Graduated ruler with draggable grips", 300,
     40, Make<TRulerBox>, kRuler},
    {"TImage", "image", "korvane/foundations/host/picture.h", "Shows a picture, stretched or centred", 100,
     100, Make<TImage>, kImage},
};

// The widget box icons, drawn at 32 x 32.
QIcon DrawIcon(int glyph) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QPen outline(QColor(60, 60, 60), 1.5);
  auto picture = [&](QRectF r) {
    p.setPen(outline);
    p.setBrush(QColor(170, 210, 245));
    p.drawRect(r);
    QPainterPath hills;
    hills.moveTo(r.left(), r.bottom());
    hills.lineTo(r.left() + r.width() * 0.35, r.top() + r.height() * 0.45);
    hills.lineTo(r.left() + r.width() * 0.6, r.top() + r.height() * 0.7);
    hills.lineTo(r.left() + r.width() * 0.75, r.top() + r.height() * 0.55);
    hills.lineTo(r.right(), r.bottom());
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(70, 150, 70));
    p.drawPath(hills);
    p.setBrush(QColor(250, 200, 40));
    p.drawEllipse(QPointF(r.right() - r.width() * 0.22, r.top() + r.height() * 0.25), r.width() * 0.1,
                  r.width() * 0.1);
  };
  switch (glyph) {
    case kPicture:
      picture(QRectF(2, 4, 28, 24));
      break;
    case kImage:
      picture(QRectF(5, 7, 22, 18));
      break;
    case kCombined:
      picture(QRectF(2, 2, 24, 20));
      p.setPen(outline);
      p.setBrush(QColor(230, 120, 40));
      p.drawEllipse(QPointF(24, 24), 6.5, 6.5);
      p.setBrush(Qt::white);
      p.drawEllipse(QPointF(24, 24), 2.5, 2.5);
      break;
    case kVect:
      p.setPen(outline);
      p.setBrush(Qt::white);
      p.drawRect(QRectF(2, 4, 28, 24));
      p.setPen(QPen(QColor(200, 40, 40), 2));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QRectF(6, 8, 12, 10));
      p.setPen(QPen(QColor(40, 80, 200), 2));
      p.drawLine(QPointF(8, 24), QPointF(26, 10));
      break;
    case kMulti:
      for (int i = 0; i < 4; ++i) picture(QRectF(2 + (i % 2) * 15, 3 + (i / 2) * 14, 13, 11));
      break;
    case kVideo:
      p.setPen(outline);
      p.setBrush(QColor(90, 90, 100));
      p.drawRoundedRect(QRectF(2, 9, 20, 15), 2, 2);
      p.drawPolygon(QPolygonF({QPointF(22, 14), QPointF(30, 9), QPointF(30, 24), QPointF(22, 19)}));
      p.setBrush(QColor(120, 180, 240));
      p.drawEllipse(QPointF(12, 16.5), 4.5, 4.5);
      break;
    case kHistogram: {
      p.setPen(outline);
      p.setBrush(Qt::white);
      p.drawRect(QRectF(2, 3, 28, 26));
      static const int h[] = {5, 9, 14, 20, 16, 11, 13, 7, 4};
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(40, 40, 40));
      for (int i = 0; i < 9; ++i) p.drawRect(QRectF(4 + i * 2.8, 27 - h[i], 2.2, h[i]));
      break;
    }
    case kHSV: {
      QLinearGradient sat(3, 0, 22, 0);
      sat.setColorAt(0, Qt::white);
      sat.setColorAt(1, Qt::red);
      p.setPen(outline);
      p.setBrush(sat);
      p.drawRect(QRectF(3, 4, 19, 24));
      QLinearGradient val(0, 4, 0, 28);
      val.setColorAt(0, Qt::transparent);
      val.setColorAt(1, Qt::black);
      p.fillRect(QRectF(3, 4, 19, 24), val);
      QLinearGradient hue(0, 28, 0, 4);
      for (int i = 0; i <= 6; ++i) hue.setColorAt(i / 6.0, QColor::fromHsv((i * 60) % 360, 255, 255));
      p.setBrush(hue);
      p.drawRect(QRectF(24, 4, 5, 24));
      break;
    }
    case kGradient: {
      QLinearGradient g(0, 4, 0, 28);
      g.setColorAt(0, Qt::white);
      g.setColorAt(1, Qt::black);
      p.setPen(outline);
      p.setBrush(g);
      p.drawRect(QRectF(9, 3, 12, 26));
      p.setBrush(QColor(230, 120, 40));
      p.drawPolygon(QPolygonF({QPointF(22, 16), QPointF(29, 11), QPointF(29, 21)}));
      break;
    }
    case kRuler:
      p.setPen(outline);
      p.setBrush(QColor(245, 225, 160));
      p.drawRect(QRectF(2, 5, 28, 10));
      for (int x = 4; x < 30; x += 4) p.drawLine(QPointF(x, 5), QPointF(x, x % 8 == 4 ? 12 : 9));
      p.setBrush(QColor(40, 110, 200));
      p.drawPolygon(QPolygonF({QPointF(14, 17), QPointF(8, 27), QPointF(20, 27)}));
      break;
  }
  return QIcon(pm);
}

}  // namespace

KorvaneWidgetPlugin::KorvaneWidgetPlugin(const KorvaneWidgetInfo& info, QObject* parent)
    : QObject(parent), info_(info) {}

QString KorvaneWidgetPlugin::name() const { return QStringLiteral("korvane::") + QLatin1String(info_.className); }

QIcon KorvaneWidgetPlugin::icon() const { return DrawIcon(info_.glyph); }

QString KorvaneWidgetPlugin::toolTip() const { return QString::fromUtf8(info_.toolTip); }

QString KorvaneWidgetPlugin::whatsThis() const {
  return QStringLiteral("%1: %2.").arg(QLatin1String(info_.className), QString::fromUtf8(info_.toolTip));
}

QString KorvaneWidgetPlugin::includeFile() const { return QLatin1String(info_.header); }

QWidget* KorvaneWidgetPlugin::createWidget(QWidget* parent) { return info_.create(parent); }

QString KorvaneWidgetPlugin::domXml() const {
  // displayname keeps the widget box entry free of the namespace.
  return QStringLiteral(
             "<ui language=\"c++\" displayname=\"%1\">\n"
             " <widget class=\"%2\" name=\"%3\">\n"
             "  <property name=\"geometry\">\n"
             "   <rect><x>0</x><y>0</y><width>%4</width><height>%5</height></rect>\n"
             "  </property>\n"
             " </widget>\n"
             "</ui>\n")
      .arg(QLatin1String(info_.className), name(), QLatin1String(info_.objectName))
      .arg(info_.width)
      .arg(info_.height);
}

KorvaneDesignerPlugins::KorvaneDesignerPlugins(QObject* parent) : QObject(parent) {
  for (const KorvaneWidgetInfo& info : kWidgets) widgets_.append(new KorvaneWidgetPlugin(info, this));
}
