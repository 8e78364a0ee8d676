#include "korvane/dialogs/proc_previews.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "korvane/controls/histogram_box.h"
#include "korvane/controls/hsv_box.h"
#include "korvane/controls/ruler_box.h"
#include "korvane/dialogs/file_dialogs.h"
#include "korvane/dialogs/padlock_icon.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/colors.h"
#include "korvane/pixels/effects.h"
#include "korvane/pixels/histogram.h"
#include "korvane/view/kvview.h"

namespace korvane {

std::function<void(TfPreviews*)> TfPreviews::ShowHook;

namespace {

// Size of each of the two views.
constexpr int kViewWidth = 300;
constexpr int kViewHeight = 225;

// The page a value belongs to.
int PageOfValue(TPreviewValue v) {
  switch (v) {
    case pvContrast:
    case pvBrightness:
      return ppgContrast;
    case pvHSVHue:
    case pvHSVSat:
    case pvHSVVal:
      return ppgHSV;
    case pvHSLHue:
    case pvHSLSat:
    case pvHSLLum:
      return ppgHSL;
    case pvRed:
    case pvGreen:
    case pvBlue:
      return ppgRGB;
    case pvLightX:
    case pvLightY:
    case pvLightWidth:
    case pvLightHeight:
    case pvQuantity:
      return ppgBumpMap;
    case pvLensX:
    case pvLensY:
    case pvLensWidth:
    case pvLensHeight:
    case pvRefraction:
      return ppgLens;
    default:
      return ppgWave;
  }
}

// The effect that offers a page.
TPreviewEffects EffectOfPage(int tag) {
  switch (tag) {
    case ppgContrast:
      return peContrast;
    case ppgHSL:
      return peHSL;
    case ppgRGB:
      return peRGB;
    case ppgUserFilter:
      return peUserFilt;
    case ppgHSV:
      return peHSV;
    case ppgEqualization:
      return peEqualize;
    case ppgBumpMap:
      return peBumpMap;
    case ppgLens:
      return peLens;
    default:
      return peWave;
  }
}

QString Msg(const TKVMsg& m, TMsgLanguage l) { return QString::fromStdString(kvmsg(m, l)); }

TRGB GrayRGB(int v) {
  uint8_t b = uint8_t(std::clamp(v, 0, 255));
  return TRGB{b, b, b};
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

TfPreviews::TfPreviews(QWidget* parent) : QDialog(parent) {
  setModal(true);
  auto* top = new QVBoxLayout(this);

  // Source and result side by side, "<<" between them.
  auto* views = new QGridLayout;
  source_label_ = new QLabel(this);
  result_label_ = new QLabel(this);
  Korvane1 = new TKorvaneView(nullptr, this);
  Korvane2 = new TKorvaneView(nullptr, this);
  for (TKorvaneView* v : {Korvane1, Korvane2}) {
    v->SetBounds(0, 0, kViewWidth, kViewHeight);
    v->setFixedSize(kViewWidth, kViewHeight);
    v->SetCenter(true);
    v->GetFBitmap()->SetPixelFormat(pf24bit);
  }
  Korvane1->SetScrollBars(ssBoth);
  Korvane1->SetMouseInteract(TKVMouseInteract{miZoom});
  Korvane2->SetScrollBars(ssNone);
  Korvane2->SetMouseInteract(TKVMouseInteract{});
  copy_ = new QPushButton("<<", this);
  copy_->setFixedWidth(36);
  views->addWidget(source_label_, 0, 1);
  views->addWidget(result_label_, 0, 3);
  views->addWidget(Korvane1, 1, 1);
  views->addWidget(copy_, 1, 2, Qt::AlignCenter);
  views->addWidget(Korvane2, 1, 3);
  // The pair stays together in the middle when the pages make the form wide.
  views->setColumnStretch(0, 1);
  views->setColumnStretch(4, 1);
  views->setColumnMinimumWidth(2, 60);
  top->addLayout(views);

  // Pages on the left, buttons on the right.
  auto* lower = new QHBoxLayout;
  tabs_ = new QTabWidget(this);
  tabs_->setUsesScrollButtons(false);  // every offered page's tab in sight
  for (int tag :
       {ppgContrast, ppgHSV, ppgHSL, ppgRGB, ppgUserFilter, ppgEqualization, ppgBumpMap, ppgLens, ppgWave}) {
    QWidget* page = BuildPage(tag);
    page->setProperty("tag", tag);
    tabs_->addTab(page, QString());
  }
  lower->addWidget(tabs_, 1);
  auto* buttons = new QVBoxLayout;
  ok_ = new QPushButton(this);
  cancel_ = new QPushButton(this);
  preview_ = new QPushButton(this);
  lock_ = new QToolButton(this);
  lock_->setCheckable(true);
  lock_->setIcon(PadlockIcon());
  lock_->setAutoRaise(true);
  ok_->setDefault(true);
  for (QWidget* w :
       {static_cast<QWidget*>(ok_), static_cast<QWidget*>(cancel_), static_cast<QWidget*>(preview_)})
    buttons->addWidget(w);
  buttons->addWidget(lock_, 0, Qt::AlignLeft);
  buttons->addStretch(1);
  lower->addLayout(buttons);
  top->addLayout(lower, 1);

  proc_ = std::make_unique<TKorvaneProc>();
  proc_->SetAutoUndo(false);
  proc_->SetAttachedKorvane(Korvane2);
  histogram_->SetAKVP(proc_.get());

  connect(ok_, &QPushButton::clicked, this, [this] { ApplyAndAccept(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
  connect(preview_, &QPushButton::clicked, this, [this] { PreviewResult(); });
  connect(copy_, &QPushButton::clicked, this, [this] { CopyResultToSource(); });
  connect(lock_, &QToolButton::toggled, this, [this](bool on) {
    preview_->setEnabled(!on);
    if (on && !loading_) PreviewResult();
  });
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int) {
    if (!loading_) PageChanged();
  });
  // Zooming or scrolling the source changes what the result shows.
  Korvane1->OnViewChange = [this](TObject*, int) { ScheduleRefresh(); };
  Korvane2->OnMouseDown = [this](TObject*, TMouseButton b, TShiftState, int x, int y) {
    if (b == mbLeft) ResultClicked(x, y);
  };

  SetLanguage(msSystem);
}

TfPreviews::~TfPreviews() {
  // The views are deleted by Qt after this body; nothing may call back into
  // the form meanwhile.
  Korvane1->OnViewChange = nullptr;
  Korvane2->OnMouseDown = nullptr;
  histogram_->SetAKVP(nullptr);
  proc_.reset();
}

void TfPreviews::AddRow(QWidget* page, QGridLayout* grid, int row, TPreviewValue v, const TKVMsg* msg,
                        const char* suffix, int min, int max, int def) {
  ValueRow& r = rows_[v];
  r.msg = msg;
  r.suffix = suffix;
  r.def = def;
  r.label = new QLabel(page);
  r.slider = new QSlider(Qt::Horizontal, page);
  r.slider->setRange(min, max);
  r.slider->setValue(def);
  r.slider->setMinimumWidth(160);
  grid->addWidget(r.label, row, 0);
  grid->addWidget(r.slider, row, 1);
  if (v == pvRefraction) {
    r.dspin = new QDoubleSpinBox(page);
    r.dspin->setDecimals(1);
    r.dspin->setSingleStep(0.1);
    r.dspin->setRange(min / 10.0, max / 10.0);
    r.dspin->setValue(def / 10.0);
    r.label->setBuddy(r.dspin);
    grid->addWidget(r.dspin, row, 2);
    connect(r.dspin, &QDoubleSpinBox::valueChanged, this,
            [this, v](double d) { rows_[v].slider->setValue(int(std::lround(d * 10))); });
  } else {
    r.spin = new QSpinBox(page);
    r.spin->setRange(min, max);
    r.spin->setValue(def);
    r.label->setBuddy(r.spin);
    grid->addWidget(r.spin, row, 2);
    connect(r.spin, &QSpinBox::valueChanged, this, [this, v](int x) { rows_[v].slider->setValue(x); });
  }
  connect(r.slider, &QSlider::valueChanged, this, [this, v](int x) {
    ValueRow& rr = rows_[v];
    if (rr.spin) {
      QSignalBlocker block(rr.spin);
      rr.spin->setValue(x);
    } else {
      QSignalBlocker block(rr.dspin);
      rr.dspin->setValue(x / 10.0);
    }
    if (PageOfValue(v) == ppgHSV && !loading_) UpdateNewColor();
    ValueChanged();
  });
}

QWidget* TfPreviews::BuildPage(int tag) {
  auto* page = new QWidget;
  auto* grid = new QGridLayout(page);
  switch (tag) {
    case ppgContrast:
      AddRow(page, grid, 0, pvContrast, &KVMSG_CONTRAST, "", -100, 100, 0);
      AddRow(page, grid, 1, pvBrightness, &KVMSG_BRIGHTNESS, "", -100, 100, 0);
      grid->setRowStretch(2, 1);
      break;
    case ppgHSV: {
      AddRow(page, grid, 0, pvHSVHue, &KVMSG_HUE, " (H)", -180, 180, 0);
      AddRow(page, grid, 1, pvHSVSat, &KVMSG_SATURATION, " (S)", -100, 100, 0);
      AddRow(page, grid, 2, pvHSVVal, &KVMSG_VALUE, " (V)", -100, 100, 0);
      auto* colors = new QHBoxLayout;
      base_label_ = new QLabel(page);
      new_label_ = new QLabel(page);
      base_color_ = new THSVBox(nullptr, page);
      new_color_ = new THSVBox(nullptr, page);
      for (THSVBox* b : {base_color_, new_color_}) {
        b->SetBounds(0, 0, 105, 80);
        b->setFixedSize(105, 80);
      }
      colors->addWidget(base_label_, 0, Qt::AlignTop);
      colors->addWidget(base_color_);
      colors->addSpacing(12);
      colors->addWidget(new_label_, 0, Qt::AlignTop);
      colors->addWidget(new_color_);
      colors->addStretch(1);
      grid->addLayout(colors, 3, 0, 1, 3);
      base_color_->OnChange = [this](TObject*) { UpdateNewColor(); };
      new_color_->OnChange = [this](TObject*) { NewColorPicked(); };
      grid->setRowStretch(4, 1);
      break;
    }
    case ppgHSL:
      AddRow(page, grid, 0, pvHSLHue, &KVMSG_HUE, " (H)", -180, 180, 0);
      AddRow(page, grid, 1, pvHSLSat, &KVMSG_SATURATION, " (S)", -100, 100, 0);
      AddRow(page, grid, 2, pvHSLLum, &KVMSG_LUMINOSITY, " (L)", -100, 100, 0);
      grid->setRowStretch(3, 1);
      break;
    case ppgRGB:
      AddRow(page, grid, 0, pvRed, &KVMSG_RED, " (R)", -255, 255, 0);
      AddRow(page, grid, 1, pvGreen, &KVMSG_GREEN, " (G)", -255, 255, 0);
      AddRow(page, grid, 2, pvBlue, &KVMSG_BLUE, " (B)", -255, 255, 0);
      grid->setRowStretch(3, 1);
      break;
    case ppgUserFilter: {
      filter_group_ = new QGroupBox(page);
      auto* fg = new QGridLayout(filter_group_);
      for (int i = 0; i < 9; ++i) {
        auto* e = new QSpinBox(filter_group_);
        e->setRange(-999, 999);
        e->setMinimumWidth(60);
        filter_edits_[size_t(i)] = e;
        fg->addWidget(e, i / 3, i % 3);
        connect(e, &QSpinBox::valueChanged, this, [this](int) { ValueChanged(); });
      }
      divisor_label_ = new QLabel(filter_group_);
      divisor_ = new QSpinBox(filter_group_);
      divisor_->setRange(-100, 999);
      divisor_label_->setBuddy(divisor_);
      fg->addWidget(divisor_label_, 3, 0, 1, 2, Qt::AlignRight);
      fg->addWidget(divisor_, 3, 2);
      connect(divisor_, &QSpinBox::valueChanged, this, [this](int) { ValueChanged(); });
      grid->addWidget(filter_group_, 0, 0, 3, 1);

      presets_group_ = new QGroupBox(page);
      auto* pg = new QVBoxLayout(presets_group_);
      presets_ = new QComboBox(presets_group_);
      for (int i = 0; i <= LowPass2; ++i) presets_->addItem(QString());
      pg->addWidget(presets_);
      grid->addWidget(presets_group_, 0, 1);
      connect(presets_, &QComboBox::activated, this, [this](int i) {
        SetPreset(TKVFilterPresets(i));
        ValueChanged();
      });
      load_ = new QPushButton(page);
      save_ = new QPushButton(page);
      grid->addWidget(load_, 1, 1);
      grid->addWidget(save_, 2, 1);
      grid->setRowStretch(3, 1);
      grid->setColumnStretch(2, 1);
      load_->setObjectName("LoadFilterButton");
      save_->setObjectName("SaveFilterButton");
      connect(load_, &QPushButton::clicked, this, [this] {
        const QString f = AskFilterFile(false);
        if (f.isEmpty()) return;
        if (!LoadFilter(f.toStdString()))
          QMessageBox::warning(this, windowTitle(), Msg(KVMSG_UNRECOGNIZEDFILTER, language_));
      });
      connect(save_, &QPushButton::clicked, this, [this] {
        const QString f = AskFilterFile(true);
        if (f.isEmpty()) return;
        if (!SaveFilter(f.toStdString()))
          QMessageBox::warning(this, windowTitle(), Msg(KVMSG_CANNOTWRITE, language_) + " " + f);
      });
      break;
    }
    case ppgEqualization: {
      thresh_label_ = new QLabel(page);
      equal_label_ = new QLabel(page);
      thresh_ruler_ = new TRulerBox(nullptr, page);
      equal_ruler_ = new TRulerBox(nullptr, page);
      for (TRulerBox* r : {thresh_ruler_, equal_ruler_}) {
        r->SetBounds(0, 0, 270, 40);
        r->setFixedSize(270, 40);
        // A few units either side keep the end grips and labels inside.
        r->SetViewMin(-6);
        r->SetViewMax(266);
        r->SetFitInView(true);
        r->SetViewPos(-6);
        r->SetFrequency(17);
        r->SetLabelFreq(51);
        r->SetGripsCount(2);
        for (int g = 0; g < 2; ++g) {
          r->SetGripsMin(g, 0);
          r->SetGripsMax(g, 255);
        }
        r->SetGripsKind(0, gkRightTriangle);
        r->SetGripsKind(1, gkLeftTriangle);
        r->SetGripsCol(0, clBlack);
        r->SetGripsCol(1, clWhite);
        r->SetGripsPos(1, 255);
        r->OnRulerPosChange = [this](TObject*, int) { ValueChanged(); };
      }
      equalize_ = new QPushButton(page);
      equalize_->setCheckable(true);
      connect(equalize_, &QPushButton::toggled, this, [this](bool) { ValueChanged(); });
      grid->addWidget(thresh_label_, 0, 0);
      grid->addWidget(thresh_ruler_, 1, 0);
      grid->addWidget(equal_label_, 2, 0);
      grid->addWidget(equal_ruler_, 3, 0);
      grid->addWidget(equalize_, 4, 0, Qt::AlignLeft);
      histo_group_ = new QGroupBox(page);
      auto* hg = new QGridLayout(histo_group_);
      histogram_ = new THistogramBox(nullptr, histo_group_);
      histogram_->SetBounds(0, 0, 256, 105);
      histogram_->setFixedSize(256, 105);
      hg->addWidget(histogram_, 0, 0, 1, 4);
      for (int i = 0; i < 4; ++i) {
        auto* c = new QCheckBox(histo_group_);
        c->setChecked(i == hkGray);
        histo_kinds_[size_t(i)] = c;
        hg->addWidget(c, 1, i);
        connect(c, &QCheckBox::toggled, this, [this](bool) {
          THistogramKind k;
          for (int j = 0; j < 4; ++j)
            if (histo_kinds_[size_t(j)]->isChecked()) k.Include(THistogramKindItem(j));
          histogram_->SetHistogramKind(k);
        });
      }
      grid->addWidget(histo_group_, 0, 1, 6, 1);
      grid->setRowStretch(5, 1);
      break;
    }
    case ppgBumpMap: {
      AddRow(page, grid, 0, pvLightX, &KVMSG_HORIZPOSITION, "", 0, 1, 0);
      AddRow(page, grid, 1, pvLightY, &KVMSG_VERTPOSITION, "", 0, 1, 0);
      AddRow(page, grid, 2, pvLightWidth, &KVMSG_WIDTH, "", 1, 2, 1);
      AddRow(page, grid, 3, pvLightHeight, &KVMSG_HEIGHT, "", 1, 2, 1);
      AddRow(page, grid, 4, pvQuantity, &KVMSG_SOURCEIMAGEQUANTITY, " (%)", 0, 100, 50);
      light_color_label_ = new QLabel(page);
      light_color_ = new THSVBox(nullptr, page);
      light_color_->SetBounds(0, 0, 105, 80);
      light_color_->setFixedSize(105, 80);
      light_color_->SetRGB(255, 255, 255);
      light_color_->OnChange = [this](TObject*) { ValueChanged(); };
      grid->addWidget(light_color_label_, 0, 3, Qt::AlignTop);
      grid->addWidget(light_color_, 1, 3, 4, 1, Qt::AlignTop);
      grid->setRowStretch(5, 1);
      break;
    }
    case ppgLens:
      AddRow(page, grid, 0, pvLensX, &KVMSG_HORIZPOSITION, "", 0, 1, 0);
      AddRow(page, grid, 1, pvLensY, &KVMSG_VERTPOSITION, "", 0, 1, 0);
      AddRow(page, grid, 2, pvLensWidth, &KVMSG_WIDTH, "", 1, 2, 1);
      AddRow(page, grid, 3, pvLensHeight, &KVMSG_HEIGHT, "", 1, 2, 1);
      AddRow(page, grid, 4, pvRefraction, &KVMSG_REFRACTION, "", 10, 100, 20);
      grid->setRowStretch(5, 1);
      break;
    case ppgWave:
      AddRow(page, grid, 0, pvAmplitude, &KVMSG_AMPLITUDE, "", 0, 100, 10);
      AddRow(page, grid, 1, pvWaveLength, &KVMSG_WAVELENGTH, "", 1, 200, 20);
      AddRow(page, grid, 2, pvPhase, &KVMSG_PHASE, "", 0, 359, 0);
      reflective_ = new QCheckBox(page);
      connect(reflective_, &QCheckBox::toggled, this, [this](bool) { ValueChanged(); });
      grid->addWidget(reflective_, 3, 0, 1, 3);
      grid->setRowStretch(4, 1);
      break;
  }
  return page;
}

// ---------------------------------------------------------------------------
// State from the caller

void TfPreviews::SetLanguage(TMsgLanguage l) {
  language_ = l;
  setWindowTitle(Msg(KVMSG_PREVIEWS, l));
  source_label_->setText(Msg(KVMSG_SOURCE, l) + ":");
  result_label_->setText(Msg(KVMSG_RESULT, l) + ":");
  ok_->setText(Msg(KVMSG_OK, l));
  cancel_->setText(Msg(KVMSG_CANCEL, l));
  preview_->setText("&" + Msg(KVMSG_PREVIEW, l));
  lock_->setToolTip(Msg(KVMSG_LOCKPREVIEW, l));
  copy_->setToolTip(Msg(KVMSG_COPYRESULTTOSOURCE, l));
  for (ValueRow& r : rows_)
    if (r.label) r.label->setText("&" + Msg(*r.msg, l) + r.suffix + ":");
  const std::pair<int, const TKVMsg*> tabs[] = {{ppgContrast, &KVMSG_CONTRAST},
                                                {ppgHSV, nullptr},
                                                {ppgHSL, nullptr},
                                                {ppgRGB, nullptr},
                                                {ppgUserFilter, &KVMSG_USERFILTER},
                                                {ppgEqualization, &KVMSG_EQUALIZATION},
                                                {ppgBumpMap, &KVMSG_BUMPMAP},
                                                {ppgLens, &KVMSG_LENS},
                                                {ppgWave, &KVMSG_WAVE}};
  for (auto [tag, msg] : tabs) {
    QString text = msg             ? Msg(*msg, l)
                   : tag == ppgHSV ? QString("HSV")
                   : tag == ppgHSL ? QString("HSL")
                                   : QString("RGB");
    tabs_->setTabText(IndexOfTag(tag), text);
  }
  base_label_->setText(Msg(KVMSG_BASECOLOR, l) + ":");
  new_label_->setText(Msg(KVMSG_NEWCOLOR, l) + ":");
  filter_group_->setTitle(Msg(KVMSG_FILTERVALUES, l));
  divisor_label_->setText(Msg(KVMSG_DIVISOR, l) + ":");
  presets_group_->setTitle(" " + Msg(KVMSG_PRESETS, l));
  const TKVMsg* presetNames[] = {&KVMSG_NONE,     &KVMSG_BLUR,     &KVMSG_EDGES,
                                 &KVMSG_EMBOSS,   &KVMSG_HIGHPASS, &KVMSG_HIGHPASS,
                                 &KVMSG_HIGHPASS, &KVMSG_LOWPASS,  &KVMSG_LOWPASS};
  const char* presetNumbers[] = {"", "", "", "", " 1", " 2", " 3", " 1", " 2"};
  for (int i = 0; i <= LowPass2; ++i) presets_->setItemText(i, Msg(*presetNames[i], l) + presetNumbers[i]);
  load_->setText("&" + Msg(KVMSG_LOAD, l));
  save_->setText("&" + Msg(KVMSG_SAVE, l));
  thresh_label_->setText(Msg(KVMSG_THRESHOLD, l));
  equal_label_->setText(Msg(KVMSG_EQUALIZATION, l));
  equalize_->setText(Msg(KVMSG_EQUALIZE, l));
  histo_group_->setTitle(Msg(KVMSG_HISTOGRAM, l));
  const TKVMsg* kinds[] = {&KVMSG_RED, &KVMSG_GREEN, &KVMSG_BLUE, &KVMSG_GRAY};
  for (int i = 0; i < 4; ++i) histo_kinds_[size_t(i)]->setText(Msg(*kinds[i], l));
  light_color_label_->setText(Msg(KVMSG_LIGHT, l) + " - " + Msg(KVMSG_COLOR, l) + ":");
  reflective_->setText(Msg(KVMSG_REFLECTIVE, l));
}

void TfPreviews::SetProgress(const TProgressEvent& OnProgress, TObject* Sender) {
  on_progress_ = OnProgress;
  sender_ = Sender;
}

void TfPreviews::SetPreviewFont(const TFont* Font) {
  if (Font) setFont(Font->ToQFont());
}

// ---------------------------------------------------------------------------
// Running the form

bool TfPreviews::Execute() {
  Activate();
  if (ShowHook)
    QTimer::singleShot(0, this, [this] {
      if (ShowHook) ShowHook(this);
    });
  return exec() == QDialog::Accepted;
}

void TfPreviews::Activate() {
  ++loading_;
  SetPositionRanges();
  ResetValues(0);
  lock_->setChecked(default_lock_);
  preview_->setEnabled(!default_lock_);
  // An empty set offers nothing to choose from; it counts as every page.
  const bool all = effects_.Contains(peAll) || effects_.Empty();
  int first = -1;
  for (int i = 0; i < tabs_->count(); ++i) {
    bool on = all || effects_.Contains(EffectOfPage(TagOfIndex(i)));
    tabs_->setTabVisible(i, on);
    if (on && first < 0) first = i;
  }
  if (first >= 0) tabs_->setCurrentIndex(first);
  --loading_;
  Korvane1->Fit();
  PageChanged();
}

void TfPreviews::PageChanged() {
  const int tag = ActivePage();
  ResetValues(tag);
  TKVMouseInteract mi = Korvane1->GetMouseInteract();
  if (tag == ppgWave) {
    // The waves are centred on the whole image: the result must show all of
    // it, so the source stays fitted.
    mi.Exclude(miZoom);
    Korvane1->SetMouseInteract(mi);
    Korvane1->Fit();
  } else if (tag != 0) {
    mi.Include(miZoom);
    Korvane1->SetMouseInteract(mi);
  }
  RefreshResult();
}

void TfPreviews::ScheduleRefresh() {
  if (refresh_pending_) return;
  refresh_pending_ = true;
  QTimer::singleShot(0, this, [this] {
    if (refresh_pending_) RefreshResult();
  });
}

void TfPreviews::RefreshResult() {
  refresh_pending_ = false;
  TBitmap* src = Korvane1->GetFBitmap();
  TBitmap* res = Korvane2->GetFBitmap();
  const int ex = Korvane1->GetExtentX(), ey = Korvane1->GetExtentY();
  res->SetPixelFormat(pf24bit);
  if (src->Empty() || ex <= 0 || ey <= 0) {
    res->SetSize(0, 0);
  } else {
    res->SetSize(ex, ey);
    Korvane1->DrawTo(res->Canvas());
    proc_->SaveUndo();
    ApplyPage(res, true, nullpr);
  }
  Korvane2->Update();
  if (ActivePage() == ppgEqualization) histogram_->Update();
}

void TfPreviews::PreviewResult() {
  if (!proc_->GetCanUndo() || Korvane2->GetFBitmap()->Empty()) {
    // A result one pixel wide or high has no undo copy: draw it again.
    RefreshResult();
    return;
  }
  _CopyBitmap(proc_->UndoBitmap(), Korvane2->GetFBitmap());
  ApplyPage(Korvane2->GetFBitmap(), true, nullpr);
  Korvane2->Update();
  if (ActivePage() == ppgEqualization) histogram_->Update();
}

void TfPreviews::CopyResultToSource() {
  TProgressRec none;
  ApplyPage(Korvane1->GetFBitmap(), false, none);
  Korvane1->Update();
  Korvane1->ImageChange();
  ResetValues(ActivePage());
  RefreshResult();
}

void TfPreviews::ApplyAndAccept() {
  TProgressRec pr;
  pr.OnProgress = on_progress_;
  pr.Sender = sender_;
  ApplyPage(Korvane1->GetFBitmap(), false, pr);
  Korvane1->Update();
  accept();
}

void TfPreviews::ValueChanged() {
  if (loading_) return;
  if (GetLockPreview()) PreviewResult();
}

// ---------------------------------------------------------------------------
// Values

void TfPreviews::SetPositionRanges() {
  TBitmap* src = Korvane1->GetFBitmap();
  const int w = std::max(src->Width(), 1), h = std::max(src->Height(), 1);
  auto range = [this](TPreviewValue v, int min, int max, int def) {
    ValueRow& r = rows_[v];
    r.def = def;
    r.slider->setRange(min, max);
    r.spin->setRange(min, max);
  };
  range(pvLightX, 0, w - 1, w / 2);
  range(pvLightY, 0, h - 1, h / 2);
  range(pvLightWidth, 1, 2 * w, std::max(w / 2, 1));
  range(pvLightHeight, 1, 2 * h, std::max(h / 2, 1));
  range(pvLensX, 0, w - 1, w / 2);
  range(pvLensY, 0, h - 1, h / 2);
  range(pvLensWidth, 1, w, std::max(w / 2, 1));
  range(pvLensHeight, 1, h, std::max(h / 2, 1));
}

void TfPreviews::ResetValues(int tag) {
  ++loading_;
  for (int i = 0; i < pvCount; ++i) {
    auto v = TPreviewValue(i);
    if (tag == 0 || PageOfValue(v) == tag) rows_[size_t(i)].slider->setValue(rows_[size_t(i)].def);
  }
  if (tag == 0 || tag == ppgUserFilter) {
    presets_->setCurrentIndex(fpNone);
    SetPreset(fpNone);
  }
  if (tag == 0 || tag == ppgEqualization) {
    for (TRulerBox* r : {thresh_ruler_, equal_ruler_}) {
      r->SetGripsPos(0, 0);
      r->SetGripsPos(1, 255);
    }
    equalize_->setChecked(false);
  }
  if (tag == 0 || tag == ppgBumpMap) light_color_->SetRGB(255, 255, 255);
  if (tag == 0 || tag == ppgWave) reflective_->setChecked(false);
  if (tag == 0 || tag == ppgHSV) {
    // The base color starts as the source's mean color.
    int r = 128, g = 128, b = 128;
    _GetMediaContrastRGB(Korvane1->GetFBitmap(), r, g, b);
    base_color_->SetRGB(uint8_t(r), uint8_t(g), uint8_t(b));
    UpdateNewColor();
  }
  --loading_;
}

int TfPreviews::Value(TPreviewValue v) const { return rows_[v].slider->value(); }

void TfPreviews::SetValue(TPreviewValue v, int x) { rows_[v].slider->setValue(x); }

TGraphFilter TfPreviews::GetFilter() const {
  TGraphFilter f{};
  for (int i = 0; i < 9; ++i) f.Values[i / 3][i % 3] = filter_edits_[size_t(i)]->value();
  f.Divisor = divisor_->value();
  return f;
}

void TfPreviews::SetFilter(const TGraphFilter& f) {
  ++loading_;
  for (int i = 0; i < 9; ++i) filter_edits_[size_t(i)]->setValue(f.Values[i / 3][i % 3]);
  divisor_->setValue(f.Divisor);
  --loading_;
  ValueChanged();
}

void TfPreviews::SetPreset(TKVFilterPresets p) {
  if (p < fpNone || p > LowPass2) return;
  ++loading_;
  presets_->setCurrentIndex(p);
  SetFilter(KVFiltPres[p]);
  --loading_;
}

QString TfPreviews::AskFilterFile(bool save) {
  QFileDialog d(this, (save ? save_ : load_)->text().remove('&'));
  d.setObjectName("FilterFileDialog");
  d.setOption(QFileDialog::DontUseNativeDialog, true);
  d.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  d.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  d.setNameFilters({Msg(KVMSG_FILTERFILES, language_) + " (*.flt)", Msg(KVMSG_ALLFILES, language_) + " (*)"});
  if (save) d.setDefaultSuffix("flt");
  KVSetFileDialogLanguage(&d, language_);
  if (d.exec() != QDialog::Accepted) return {};
  return d.selectedFiles().value(0);
}

bool TfPreviews::LoadFilter(const std::string& FileName) {
  TGraphFilter f;
  try {
    f = LoadFilterFromFile(FileName);
  } catch (const std::exception&) {
    return false;
  }
  SetFilter(f);
  return true;
}

bool TfPreviews::SaveFilter(const std::string& FileName) const {
  try {
    SaveFilterToFile(FileName, GetFilter());
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void TfPreviews::SetEqualize(bool on) { equalize_->setChecked(on); }
bool TfPreviews::GetEqualize() const { return equalize_->isChecked(); }
bool TfPreviews::GetReflective() const { return reflective_->isChecked(); }
void TfPreviews::SetReflective(bool on) { reflective_->setChecked(on); }

TRGB TfPreviews::GetLightColor() const {
  return TRGB{light_color_->GetBlue(), light_color_->GetGreen(), light_color_->GetRed()};
}

void TfPreviews::UpdateNewColor() {
  new_color_->SetHue(base_color_->GetHue() + Value(pvHSVHue));
  new_color_->SetSat(base_color_->GetSat() + Value(pvHSVSat));
  new_color_->SetVal(base_color_->GetVal() + Value(pvHSVVal));
}

void TfPreviews::NewColorPicked() {
  // The offsets become the distance from the base color to the picked one.
  ++loading_;
  SetValue(pvHSVHue, new_color_->GetHue() - base_color_->GetHue());
  SetValue(pvHSVSat, new_color_->GetSat() - base_color_->GetSat());
  SetValue(pvHSVVal, new_color_->GetVal() - base_color_->GetVal());
  --loading_;
  ValueChanged();
}

void TfPreviews::ResultClicked(int X, int Y) {
  const int tag = ActivePage();
  if (tag != ppgBumpMap && tag != ppgLens) return;
  const int zoom = Korvane1->GetZoom();
  if (zoom <= 0 || Korvane2->GetFBitmap()->Empty()) return;
  // Result pixel -> source pixel: the inverse of ResultX and ResultY.
  const int rx = Korvane2->XScr2Bmp(X), ry = Korvane2->YScr2Bmp(Y);
  const int sx = KVTruncDiv((int64_t(rx) + Korvane1->GetViewX()) * 100, zoom);
  const int sy = KVTruncDiv((int64_t(ry) + Korvane1->GetViewY()) * 100, zoom);
  ++loading_;
  SetValue(tag == ppgLens ? pvLensX : pvLightX, sx);
  SetValue(tag == ppgLens ? pvLensY : pvLightY, sy);
  --loading_;
  ValueChanged();
}

// ---------------------------------------------------------------------------
// Pages

int TfPreviews::TagOfIndex(int index) const {
  QWidget* w = tabs_->widget(index);
  return w ? w->property("tag").toInt() : 0;
}

int TfPreviews::IndexOfTag(int tag) const {
  for (int i = 0; i < tabs_->count(); ++i)
    if (TagOfIndex(i) == tag) return i;
  return -1;
}

int TfPreviews::ActivePage() const {
  int i = tabs_->currentIndex();
  return i >= 0 && tabs_->isTabVisible(i) ? TagOfIndex(i) : 0;
}

bool TfPreviews::SetActivePage(int tag) {
  int i = IndexOfTag(tag);
  if (i < 0 || !tabs_->isTabVisible(i)) return false;
  tabs_->setCurrentIndex(i);
  return true;
}

bool TfPreviews::PageVisible(int tag) const {
  int i = IndexOfTag(tag);
  return i >= 0 && tabs_->isTabVisible(i);
}

int TfPreviews::VisiblePageCount() const {
  int n = 0;
  for (int i = 0; i < tabs_->count(); ++i) n += tabs_->isTabVisible(i);
  return n;
}

bool TfPreviews::GetLockPreview() const { return lock_->isChecked(); }
void TfPreviews::SetLockPreview(bool on) { lock_->setChecked(on); }

// ---------------------------------------------------------------------------
// The operations

int TfPreviews::ResultX(int x) const {
  return KVTrunc(x * (Korvane1->GetZoom() / 100.0) - Korvane1->GetViewX());
}

int TfPreviews::ResultY(int y) const {
  return KVTrunc(y * (Korvane1->GetZoom() / 100.0) - Korvane1->GetViewY());
}

int TfPreviews::ResultSize(int s) const { return KVTrunc(s * (Korvane1->GetZoom() / 100.0)); }

void TfPreviews::ApplyPage(TBitmap* bmp, bool onResult, TProgressRec& pr) {
  if (!bmp || bmp->Empty() || bmp->PixelFormat() != pf24bit) return;
  const int x2 = bmp->Width() - 1, y2 = bmp->Height() - 1;
  auto px = [&](TPreviewValue v) { return onResult ? ResultX(Value(v)) : Value(v); };
  auto py = [&](TPreviewValue v) { return onResult ? ResultY(Value(v)) : Value(v); };
  // Sizes keep at least one pixel at a small zoom, so the preview still
  // shows the effect.
  auto ps = [&](TPreviewValue v) {
    int s = Value(v);
    return onResult && s > 0 ? std::max(ResultSize(s), 1) : s;
  };
  switch (ActivePage()) {
    case ppgContrast: {
      // The pivots are the whole source's means on the result as well, so
      // the preview matches what OK does.
      int mR, mG, mB;
      _GetMediaContrastRGB(Korvane1->GetFBitmap(), mR, mG, mB);
      _ContrastRGB(bmp, 0, 0, x2, y2, Value(pvContrast), mR, mG, mB, pr.OnProgress, pr.Sender);
      const int b = Value(pvBrightness);
      _IntensityRGBall(bmp, 0, 0, x2, y2, b, b, b, pr.OnProgress, pr.Sender);
      break;
    }
    case ppgHSV:
      _HSVvar(bmp, 0, 0, x2, y2, Value(pvHSVHue), Value(pvHSVSat), Value(pvHSVVal), pr.OnProgress, pr.Sender);
      break;
    case ppgHSL:
      _HSLvar(bmp, 0, 0, x2, y2, Value(pvHSLHue), Value(pvHSLSat), Value(pvHSLLum), pr.OnProgress, pr.Sender);
      break;
    case ppgRGB:
      _IntensityRGBall(bmp, 0, 0, x2, y2, Value(pvRed), Value(pvGreen), Value(pvBlue), pr.OnProgress,
                       pr.Sender);
      break;
    case ppgUserFilter:
      _ApplyFilter(bmp, GetFilter(), 0, 0, x2, y2, pr);
      break;
    case ppgEqualization: {
      const int t0 = int(std::lround(thresh_ruler_->GetGripsPos(0)));
      const int t1 = int(std::lround(thresh_ruler_->GetGripsPos(1)));
      _Threshold(bmp, 0, 0, x2, y2, GrayRGB(t0), GrayRGB(t1), GrayRGB(0), GrayRGB(255), pr.OnProgress,
                 pr.Sender);
      const int e0 = int(std::lround(equal_ruler_->GetGripsPos(0)));
      const int e1 = int(std::lround(equal_ruler_->GetGripsPos(1)));
      _HistEqualize(bmp, GrayRGB(e0), GrayRGB(e1), 0, 0, x2, y2, pr.OnProgress, pr.Sender);
      if (GetEqualize()) _HistAutoEqualize(bmp, 0, 0, x2, y2, pr.OnProgress, pr.Sender);
      break;
    }
    case ppgBumpMap:
      _BumpMapping(bmp, px(pvLightX), py(pvLightY), ps(pvLightWidth), ps(pvLightHeight), Value(pvQuantity),
                   GetLightColor(), 0, 0, x2, y2, pr);
      break;
    case ppgLens:
      _lens(bmp, px(pvLensX), py(pvLensY), ps(pvLensWidth), ps(pvLensHeight), Value(pvRefraction) / 10.0, pr);
      break;
    case ppgWave:
      _wave(bmp, onResult ? ResultSize(Value(pvAmplitude)) : Value(pvAmplitude), ps(pvWaveLength),
            Value(pvPhase), GetReflective(), pr);
      break;
    default:
      break;
  }
}

}  // namespace korvane
