#include "apps/korvane-demo/controls_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "korvane/foundations/kvutils.h"
#include "korvane/proc/kvproc.h"
#include "korvane/view/kvview.h"

namespace korvane::demo {

namespace {
QLabel* Caption(const QString& text) {
  auto* l = new QLabel(text);
  QFont f = l->font();
  f.setBold(true);
  l->setFont(f);
  return l;
}
}  // namespace

ControlsPanel::ControlsPanel(TKorvaneView* view, TKorvaneProc* proc, QWidget* parent)
    : QDockWidget("Controls", parent), view_(view), proc_(proc) {
  setObjectName("controlsPanel");
  auto* body = new QWidget;
  auto* col = new QVBoxLayout(body);

  // Histogram of the current image.
  col->addWidget(Caption("Histogram"));
  histogram_ = new THistogramBox(nullptr, body);
  histogram_->setObjectName("histogramBox");
  histogram_->setFixedSize(256 + 40, 120);
  col->addWidget(histogram_);
  auto* kindRow = new QHBoxLayout;
  const char* kindNames[4] = {"Red", "Green", "Blue", "Gray"};
  for (int i = 0; i < 4; ++i) {
    kinds_[i] = new QCheckBox(kindNames[i]);
    kinds_[i]->setObjectName(QString("histogram") + kindNames[i]);
    kinds_[i]->setChecked(i == hkGray);
    connect(kinds_[i], &QCheckBox::toggled, this, [this] { UpdateHistogramKind(); });
    kindRow->addWidget(kinds_[i]);
  }
  style_ = new QComboBox;
  style_->setObjectName("histogramStyle");
  style_->addItems({"Bars", "Lines"});
  connect(style_, &QComboBox::currentIndexChanged, this,
          [this](int i) { histogram_->SetHistogramStyle(i == 1 ? hsLines : hsBars); });
  kindRow->addWidget(style_);
  col->addLayout(kindRow);
  histogram_->SetAKVP(proc_);
  // Operations on the image end with the view's ImageChange: redraw then.
  TNotifyEvent previous = view_->OnImageChange;
  view_->OnImageChange = [this, previous](TObject* s) {
    if (previous) previous(s);
    histogram_->Update();
  };

  // Background color.
  col->addWidget(Caption("View background"));
  auto* hsvRow = new QHBoxLayout;
  hsv_ = new THSVBox(nullptr, body);
  hsv_->setObjectName("hsvBox");
  hsv_->setFixedSize(130, 105);
  hsv_->SetColor(ColorToRGB(view_->GetBackground()));
  hsv_label_ = new QLabel;
  hsv_->OnChange = [this](TObject*) {
    view_->SetBackGround(hsv_->GetColor());
    gradient_->SetEndColor(hsv_->GetColor());
    hsv_label_->setText(
        QString("H %1  S %2  V %3").arg(hsv_->GetHue()).arg(hsv_->GetSat()).arg(hsv_->GetVal()));
    ShowGradientPick();
  };
  hsvRow->addWidget(hsv_);
  hsvRow->addWidget(hsv_label_, 1);
  col->addLayout(hsvRow);

  // A ramp from black to the background color; its pick is shown as text.
  col->addWidget(Caption("Gradient"));
  gradient_ = new TKVGradientBar(nullptr, body);
  gradient_->setObjectName("gradientBar");
  gradient_->SetDirection(gdHorizontal);
  gradient_->setFixedSize(256 + 40, 22);
  gradient_->SetEndColor(hsv_->GetColor());
  gradient_->SetColorIndex(160);
  gradient_->OnChange = [this](TObject*) { ShowGradientPick(); };
  col->addWidget(gradient_);
  gradient_label_ = new QLabel;
  col->addWidget(gradient_label_);

  // Level stretch thresholds on a 0..255 ruler.
  col->addWidget(Caption("Level stretch"));
  levels_ = new TRulerBox(nullptr, body);
  levels_->setObjectName("levelsRuler");
  levels_->setFixedSize(256 + 40, 44);
  // The scale runs 20 units (one pixel each) past both ends so that the end
  // labels, centred on their ticks, stay inside the control; the grips keep
  // to 0..255, and the labels fall on 0, 85, 170 and 255.
  levels_->SetViewMin(-20);
  levels_->SetViewMax(276);
  levels_->SetFitInView(true);
  levels_->SetFrequency(17);
  levels_->SetLabelFreq(85);
  levels_->SetGripsCount(2);
  levels_->SetGripsCol(0, RGB(40, 40, 40));
  levels_->SetGripsKind(0, gkRightTriangle);
  levels_->SetGripsCol(1, RGB(245, 245, 245));
  levels_->SetGripsKind(1, gkLeftTriangle);
  for (int i = 0; i < 2; ++i) {
    levels_->SetGripsMin(i, 0);
    levels_->SetGripsMax(i, 255);
  }
  levels_->SetGripsPos(0, 16);
  levels_->SetGripsPos(1, 240);
  levels_->OnRulerPosChange = [this](TObject*, int) { ShowLevels(); };
  col->addWidget(levels_);
  auto* levelRow = new QHBoxLayout;
  levels_label_ = new QLabel;
  stretch_ = new QPushButton("Stretch levels");
  stretch_->setObjectName("stretchLevels");
  connect(stretch_, &QPushButton::clicked, this, [this] { StretchLevels(); });
  levelRow->addWidget(levels_label_, 1);
  levelRow->addWidget(stretch_);
  col->addLayout(levelRow);
  col->addStretch(1);

  setWidget(body);
  hsv_->OnChange(hsv_);
  ShowLevels();
}

void ControlsPanel::UpdateHistogramKind() {
  THistogramKind k;
  for (int i = 0; i < 4; ++i)
    if (kinds_[i]->isChecked()) k.Include(THistogramKindItem(i));
  histogram_->SetHistogramKind(k);
}

int ControlsPanel::LowThreshold() const {
  return std::clamp(int(std::lround(levels_->GetGripsPos(0))), 0, 255);
}
int ControlsPanel::HighThreshold() const {
  return std::clamp(int(std::lround(levels_->GetGripsPos(1))), 0, 255);
}

void ControlsPanel::ShowLevels() {
  if (levels_label_)
    levels_label_->setText(QString("Low %1  High %2").arg(LowThreshold()).arg(HighThreshold()));
}

void ControlsPanel::ShowGradientPick() {
  if (!gradient_label_) return;
  const TRGB c = gradient_->GetRGB();
  gradient_label_->setText(
      QString("Step %1: RGB %2, %3, %4").arg(gradient_->GetColorIndex()).arg(c.r).arg(c.g).arg(c.b));
}

void ControlsPanel::StretchLevels() {
  const uint8_t lo = uint8_t(std::min(LowThreshold(), HighThreshold()));
  const uint8_t hi = uint8_t(std::max(LowThreshold(), HighThreshold()));
  auto stretch = [&] { proc_->HistEqualize(CreateRGB(lo, lo, lo), CreateRGB(hi, hi, hi)); };
  if (RunChange)
    RunChange(stretch);
  else
    stretch();
  histogram_->Update();
}

}  // namespace korvane::demo
