#include "korvane/dialogs/io_previews.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "korvane/dialogs/padlock_icon.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/foundations/palette_dialog.h"
#include "korvane/proc/kvproc.h"

namespace korvane {

struct TfIOPreviews::Caption {
  std::function<void(const QString&)> set;
  const char* english;
  const TKVMsg* msg;
  const char* pattern;
};

namespace {

constexpr QSize kClientSize(522, 383);
constexpr int kTrueColor = 1 << 24;

// (samples per pixel, bits per sample) of each entry of the colors combos.
struct SB {
  int samples, bits;
};
constexpr SB kTIFFColors[] = {{1, 1}, {1, 4}, {1, 8}, {1, 16}, {3, 8}};
constexpr int kTIFFCounts[] = {2, 16, 256, 65536, kTrueColor};
constexpr SB kBMPColors[] = {{1, 1}, {1, 4}, {1, 8}, {3, 5}, {3, 8}, {3, 8}};
constexpr int kBMPCounts[] = {2, 16, 256, 65536, kTrueColor, kTrueColor};
constexpr SB kPCXColors[] = {{1, 1}, {1, 4}, {1, 8}, {3, 8}};
constexpr int kPCXCounts[] = {2, 16, 256, kTrueColor};
constexpr SB kPNGColors[] = {{1, 1}, {1, 8}, {3, 8}};
constexpr int kPNGCounts[] = {2, 256, kTrueColor};
constexpr int kTIFF16M = 4, kGIF256 = 7, kBMP16M = 4, kPCX16M = 3, kPNG16M = 2;

const TPreviewParamsItem kPageItem[kIOPreviewsPageCount] = {ppJPEG, ppTIFF, ppGIF, ppBMP, ppPCX, ppPNG};

// The entry of a colors table that holds (samples, bits); fallback when none.
template <size_t N>
int FindColors(const SB (&table)[N], int samples, int bits, int fallback) {
  for (size_t i = 0; i < N; ++i)
    if (table[i].samples == samples && table[i].bits == bits) return int(i);
  return fallback;
}

// An enumeration read from a record may hold any byte; the combos show the
// named values only.
int ComboIndex(int value, QComboBox* combo) { return value >= 0 && value < combo->count() ? value : 0; }

QComboBox* NewCombo(std::initializer_list<const char*> items) {
  auto* c = new QComboBox;
  for (const char* s : items) c->addItem(QString::fromLatin1(s));
  return c;
}

QSpinBox* NewSpin(int lo, int hi) {
  auto* s = new QSpinBox;
  s->setRange(lo, hi);
  return s;
}

QPushButton* NewColorPanel() {
  auto* b = new QPushButton;
  b->setFixedSize(40, 20);
  b->setFocusPolicy(Qt::StrongFocus);
  return b;
}

int LanguageIndex(TMsgLanguage lang) {
  if (lang == msSystem) return KVMsgIndexOfPrimaryLanguage(GetSystemPrimaryLanguage());
  if (lang >= msEnglish && lang <= msPortuguese) return int(lang) - int(msEnglish);
  return 0;
}

}  // namespace

TfIOPreviews::TfIOPreviews(TComponent* AOwner, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      TComponent(AOwner) {
  AddCaption([this](const QString& s) { setWindowTitle(s); }, "Parameters preview", KVMSG_PARAMETERSPREVIEW, "%1");

  io_ = new TKorvaneIO(this);
  io_->StreamHeaders = false;
  io_->OnProgress = [this](TObject*, int per) { SetProgress(per); };
  proc_ = new TKorvaneProc(this);
  proc_->SetAutoUndo(false);

  // Source and result side by side, each with its size below it.
  Korvane1 = new TKorvaneView(nullptr, this);
  Korvane2 = new TKorvaneView(nullptr, this);
  for (TKorvaneView* v : {Korvane1, Korvane2}) {
    v->setMinimumSize(200, 150);
    v->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  }
  Korvane1->SetMouseInteract({miZoom, miScroll});
  Korvane1->OnViewChange = [this](TObject*, int) {
    Korvane2->SetZoom(Korvane1->GetZoom());
    Korvane2->SetViewXY(Korvane1->GetViewX(), Korvane1->GetViewY());
  };
  SourceLabel = AddLabel("Source:", KVMSG_SOURCE, nullptr);
  ResultLabel = AddLabel("Result:", KVMSG_RESULT, nullptr);
  OriginalSizeLabel = AddLabel("Original size:", KVMSG_ORIGINALSIZE, nullptr);
  CompressedSizeLabel = AddLabel("Compressed size:", KVMSG_COMPRESSEDSIZE, nullptr);
  OriginalSize = new QLabel;
  CompressedSize = new QLabel;
  CompressedSize->setWordWrap(true);

  auto* views = new QGridLayout;
  views->setVerticalSpacing(2);
  views->addWidget(SourceLabel, 0, 0, 1, 2);
  views->addWidget(ResultLabel, 0, 2, 1, 2);
  views->addWidget(Korvane1, 1, 0, 1, 2);
  views->addWidget(Korvane2, 1, 2, 1, 2);
  views->addWidget(OriginalSizeLabel, 2, 0);
  views->addWidget(OriginalSize, 2, 1);
  views->addWidget(CompressedSizeLabel, 2, 2);
  views->addWidget(CompressedSize, 2, 3);
  views->setColumnStretch(1, 1);
  views->setColumnStretch(3, 1);

  PageControl = new QTabWidget;
  PageControl->setTabPosition(QTabWidget::South);
  BuildJPEGPage();
  BuildTIFFPage();
  BuildGIFPage();
  BuildBMPPage();
  BuildPCXPage();
  BuildPNGPage();

  ProgressBar1 = new QProgressBar;
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setMaximumHeight(12);
  LockButton = new QToolButton;
  LockButton->setCheckable(true);
  LockButton->setIcon(PadlockIcon());
  AddCaption([this](const QString& s) { LockButton->setToolTip(s); }, "Lock preview", KVMSG_LOCKPREVIEW, "%1");
  PreviewButton = new QPushButton;
  AddCaption([this](const QString& s) { PreviewButton->setText(s); }, "&Preview", KVMSG_PREVIEW, "&%1");
  OkButton = new QPushButton;
  OkButton->setDefault(true);
  AddCaption([this](const QString& s) { OkButton->setText(s); }, "OK", KVMSG_OK, "%1");
  CancelButton = new QPushButton;
  AddCaption([this](const QString& s) { CancelButton->setText(s); }, "Cancel", KVMSG_CANCEL, "%1");
  for (QPushButton* b : {PreviewButton, OkButton, CancelButton}) b->setAutoDefault(false);
  OkButton->setAutoDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(ProgressBar1, 1);
  buttons->addWidget(LockButton);
  buttons->addWidget(PreviewButton);
  buttons->addSpacing(12);
  buttons->addWidget(OkButton);
  buttons->addWidget(CancelButton);

  auto* main = new QVBoxLayout(this);
  main->setContentsMargins(8, 6, 8, 8);
  main->setSpacing(6);
  main->addLayout(views, 1);
  main->addWidget(PageControl);
  main->addLayout(buttons);

  Connect();
  SetLanguage(msEnglish);
}

TfIOPreviews::~TfIOPreviews() {
  BeginDestroy();
  // The private components leave the views before Qt deletes them.
  DestroyComponents();
}

// --- Captions

void TfIOPreviews::AddCaption(std::function<void(const QString&)> set, const char* english, const TKVMsg& msg,
                              const char* pattern) {
  set(QString::fromUtf8(english));
  captions_.push_back(Caption{std::move(set), english, &msg, pattern});
}

QLabel* TfIOPreviews::AddLabel(const char* english, const TKVMsg& msg, QWidget* buddy) {
  auto* l = new QLabel;
  if (buddy) l->setBuddy(buddy);
  AddCaption([l](const QString& s) { l->setText(s); }, english, msg, buddy ? "&%1:" : "%1:");
  return l;
}

void TfIOPreviews::SetLanguage(TMsgLanguage lang) {
  language_ = lang;
  const bool english = LanguageIndex(lang) == 0;
  for (const Caption& c : captions_) {
    if (english)
      c.set(QString::fromUtf8(c.english));
    else
      c.set(QString::fromLatin1(c.pattern).arg(QString::fromStdString(kvmsg(*c.msg, lang))));
  }
  FitFormSize();
}

void TfIOPreviews::SetPreviewFont(const TFont* f) {
  if (!f) return;
  setFont(f->ToQFont());
  FitFormSize();
}

namespace {
// Drops what a layout and the layouts nested in it measured.
void InvalidateLayout(QLayout* l) {
  for (int i = 0; i < l->count(); ++i)
    if (QLayout* c = l->itemAt(i)->layout()) InvalidateLayout(c);
  l->invalidate();
}
}  // namespace

void TfIOPreviews::FitFormSize() {
  // Widgets not shown yet keep what they first measured: polish them (their
  // style decides their sizes), drop every cached size, then measure the
  // captions the form shows now.
  ensurePolished();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  for (QWidget* w : findChildren<QWidget*>()) {
    w->updateGeometry();
    if (w->layout()) InvalidateLayout(w->layout());
  }
  if (!layout()) return;
  InvalidateLayout(layout());
  layout()->activate();
  setFixedSize(minimumSizeHint().expandedTo(kClientSize));
}

// --- Pages

void TfIOPreviews::BuildJPEGPage() {
  auto* page = Pages[iopJPEG] = new QWidget;
  JPEGQuality = NewSpin(0, 100);
  JPEGQualityBar = new QSlider(Qt::Horizontal);
  JPEGQualityBar->setRange(0, 100);
  JPEGQualityBar->setPageStep(10);
  JPEGPhotometric = NewCombo({"RGB", "GrayScale", "YCbCr", "CMYK", "YCbCrK"});
  JPEGDCTMethod = NewCombo({"ISLOW", "IFAST", "FLOAT"});
  JPEGSmooth = NewSpin(0, 100);
  JPEGOptimalHuffman = new QCheckBox;
  JPEGProgressive = new QCheckBox;
  AddCaption([c = JPEGOptimalHuffman](const QString& s) { c->setText(s); }, "&Optimal Huffman",
             KVMSG_OPTIMALHUFFMAN, "&%1");
  AddCaption([c = JPEGProgressive](const QString& s) { c->setText(s); }, "P&rogressive", KVMSG_PROGRESSIVE, "&%1");

  auto* g = new QGridLayout(page);
  g->addWidget(AddLabel("&Quality:", KVMSG_QUALITY, JPEGQuality), 0, 0);
  g->addWidget(JPEGQuality, 0, 1);
  g->addWidget(JPEGQualityBar, 0, 2, 1, 3);
  g->addWidget(AddLabel("P&hotometric:", KVMSG_PHOTOMETRIC, JPEGPhotometric), 1, 0);
  g->addWidget(JPEGPhotometric, 1, 1, 1, 2);
  g->addWidget(AddLabel("&DCT method:", KVMSG_DCTMETHOD, JPEGDCTMethod), 2, 0);
  g->addWidget(JPEGDCTMethod, 2, 1, 1, 2);
  g->addWidget(AddLabel("&Smoothing factor:", KVMSG_SMOOTHINGFACTOR, JPEGSmooth), 1, 3);
  g->addWidget(JPEGSmooth, 1, 4);
  g->addWidget(JPEGOptimalHuffman, 2, 3, 1, 2);
  g->addWidget(JPEGProgressive, 3, 3, 1, 2);
  g->setColumnStretch(2, 1);
  g->setRowStretch(4, 1);
  PageControl->addTab(page, "JPEG");
}

void TfIOPreviews::BuildTIFFPage() {
  auto* page = Pages[iopTIFF] = new QWidget;
  TIFFCompression = NewCombo(
      {"UNCOMPRESSED", "CCITT1D", "G3FAX1D", "G3FAX2D", "G4FAX", "LZW", "OLDJPEG", "JPEG", "PACKBITS"});
  TIFFImageIndex = NewSpin(0, 1000);
  TIFFPhotometric = NewCombo(
      {"WHITEISZERO", "BLACKISZERO", "RGB", "RGBPALETTE", "TRANSPMASK", "CMYK", "YCBCR", "CIELAB"});
  TIFFColors = NewCombo({"B/W", "16", "256", "65536", "16M"});
  auto* left = new QGridLayout;
  left->addWidget(AddLabel("&Compression:", KVMSG_COMPRESSION, TIFFCompression), 0, 0);
  left->addWidget(TIFFCompression, 0, 1);
  left->addWidget(AddLabel("&Image index:", KVMSG_IMAGEINDEX, TIFFImageIndex), 1, 0);
  left->addWidget(TIFFImageIndex, 1, 1);
  left->addWidget(AddLabel("P&hotometric:", KVMSG_PHOTOMETRIC, TIFFPhotometric), 2, 0);
  left->addWidget(TIFFPhotometric, 2, 1);
  left->addWidget(AddLabel("C&olors:", KVMSG_COLORS, TIFFColors), 3, 0);
  left->addWidget(TIFFColors, 3, 1);
  left->setRowStretch(4, 1);

  TIFFDocInfo = new QGroupBox;
  AddCaption([b = TIFFDocInfo](const QString& s) { b->setTitle(s); }, " Scanned document info ",
             KVMSG_SCANNDEDDOCUMENTINFO, " %1 ");
  TIFFXPos = NewSpin(0, 1000000);
  TIFFYPos = NewSpin(0, 1000000);
  TIFFDocumentName = new QLineEdit;
  TIFFDescription = new QLineEdit;
  TIFFPageName = new QLineEdit;
  TIFFPageNumber = NewSpin(0, 65535);
  TIFFPageCount = NewSpin(0, 65535);
  auto* doc = new QGridLayout(TIFFDocInfo);
  doc->setVerticalSpacing(3);
  doc->addWidget(AddLabel("Horiz. Position (inch):", KVMSG_HORIZPOSITIONINCH, TIFFXPos), 0, 0);
  doc->addWidget(TIFFXPos, 0, 1);
  doc->addWidget(AddLabel("Vert. Position (inch):", KVMSG_VERTPOSITIONINCH, TIFFYPos), 0, 2);
  doc->addWidget(TIFFYPos, 0, 3);
  doc->addWidget(AddLabel("&Name:", KVMSG_NAME, TIFFDocumentName), 1, 0);
  doc->addWidget(TIFFDocumentName, 1, 1, 1, 3);
  doc->addWidget(AddLabel("D&escription:", KVMSG_DESCRIPTION, TIFFDescription), 2, 0);
  doc->addWidget(TIFFDescription, 2, 1, 1, 3);
  doc->addWidget(AddLabel("&Page name:", KVMSG_PAGENAME, TIFFPageName), 3, 0);
  doc->addWidget(TIFFPageName, 3, 1);
  auto* pages = new QHBoxLayout;
  pages->addWidget(AddLabel("Page n&umber:", KVMSG_PAGENUMBER, TIFFPageNumber));
  pages->addWidget(TIFFPageNumber);
  auto* of = new QLabel;
  of->setBuddy(TIFFPageCount);
  AddCaption([of](const QString& s) { of->setText(s); }, "o&f", KVMSG_OF, "%1");
  pages->addWidget(of);
  pages->addWidget(TIFFPageCount);
  doc->addLayout(pages, 3, 2, 1, 2);

  auto* h = new QHBoxLayout(page);
  h->addLayout(left);
  h->addWidget(TIFFDocInfo, 1);
  PageControl->addTab(page, "TIFF");
}

void TfIOPreviews::BuildGIFPage() {
  auto* page = Pages[iopGIF] = new QWidget;
  GIFImageIndex = NewSpin(0, 1000);
  GIFColors = NewCombo({"B/W", "4", "8", "16", "32", "64", "128", "256"});
  GIFTransparent = new QCheckBox;
  AddCaption([c = GIFTransparent](const QString& s) { c->setText(s); }, "&Transparent:", KVMSG_TRANSPARENT, "&%1:");
  GIFTranspColor = NewColorPanel();
  AddCaption([b = GIFTranspColor](const QString& s) { b->setToolTip(s); }, "Transparent color",
             KVMSG_TRANSPARENTCOLOR, "%1");
  GIFInterlaced = new QCheckBox;
  AddCaption([c = GIFInterlaced](const QString& s) { c->setText(s); }, "I&nterlaced:", KVMSG_INTERLACED, "&%1:");
  GIFBackground = NewColorPanel();
  auto* left = new QGridLayout;
  left->addWidget(AddLabel("&Image index:", KVMSG_IMAGEINDEX, GIFImageIndex), 0, 0);
  left->addWidget(GIFImageIndex, 0, 1);
  left->addWidget(AddLabel("&Colors:", KVMSG_COLORS, GIFColors), 1, 0);
  left->addWidget(GIFColors, 1, 1);
  left->addWidget(GIFTransparent, 2, 0);
  left->addWidget(GIFTranspColor, 2, 1);
  left->addWidget(GIFInterlaced, 3, 0);
  left->addWidget(AddLabel("&Background:", KVMSG_BACKGROUND, GIFBackground), 4, 0);
  left->addWidget(GIFBackground, 4, 1);
  left->setRowStretch(5, 1);

  GIFAdvanced = new QGroupBox;
  AddCaption([b = GIFAdvanced](const QString& s) { b->setTitle(s); }, " Advanced ", KVMSG_ADVANCED, " %1 ");
  GIFDelayTime = NewSpin(0, 65535);
  GIFXPos = NewSpin(0, 65535);
  GIFYPos = NewSpin(0, 65535);
  auto* adv = new QGridLayout(GIFAdvanced);
  adv->addWidget(AddLabel("&Delay time:", KVMSG_DELAYTIME, GIFDelayTime), 0, 0);
  adv->addWidget(GIFDelayTime, 0, 1);
  adv->addWidget(new QLabel(QStringLiteral("1/100 s")), 0, 2);
  adv->addWidget(AddLabel("&Horiz. Position:", KVMSG_HORIZPOSITION, GIFXPos), 1, 0);
  adv->addWidget(GIFXPos, 1, 1, 1, 2);
  adv->addWidget(AddLabel("&Vert. Position:", KVMSG_VERTPOSITION, GIFYPos), 2, 0);
  adv->addWidget(GIFYPos, 2, 1, 1, 2);
  adv->setRowStretch(3, 1);

  auto* h = new QHBoxLayout(page);
  h->addLayout(left);
  h->addStretch(1);
  h->addWidget(GIFAdvanced);
  PageControl->addTab(page, "GIF");
}

void TfIOPreviews::BuildBMPPage() {
  auto* page = Pages[iopBMP] = new QWidget;
  BMPCompression = NewCombo({"UNCOMPRESSED", "RLE"});
  BMPColors = NewCombo({"B/W", "16", "256", "65536", "16M", "16M (32bit)"});
  auto* g = new QGridLayout(page);
  g->addWidget(AddLabel("&Compression:", KVMSG_COMPRESSION, BMPCompression), 0, 0);
  g->addWidget(BMPCompression, 0, 1);
  g->addWidget(AddLabel("C&olors:", KVMSG_COLORS, BMPColors), 1, 0);
  g->addWidget(BMPColors, 1, 1);
  g->setColumnStretch(2, 1);
  g->setRowStretch(2, 1);
  PageControl->addTab(page, "BMP");
}

void TfIOPreviews::BuildPCXPage() {
  auto* page = Pages[iopPCX] = new QWidget;
  PCXCompression = NewCombo({"UNCOMPRESSED", "RLE"});
  PCXColors = NewCombo({"B/W", "16", "256", "16M"});
  auto* g = new QGridLayout(page);
  g->addWidget(AddLabel("&Compression:", KVMSG_COMPRESSION, PCXCompression), 0, 0);
  g->addWidget(PCXCompression, 0, 1);
  g->addWidget(AddLabel("C&olors:", KVMSG_COLORS, PCXColors), 1, 0);
  g->addWidget(PCXColors, 1, 1);
  g->setColumnStretch(2, 1);
  g->setRowStretch(2, 1);
  PageControl->addTab(page, "PCX");
}

void TfIOPreviews::BuildPNGPage() {
  auto* page = Pages[iopPNG] = new QWidget;
  PNGColors = NewCombo({"B/W", "256", "16M"});
  PNGBackground = NewColorPanel();
  auto* left = new QGridLayout;
  left->addWidget(AddLabel("C&olors:", KVMSG_COLORS, PNGColors), 0, 0);
  left->addWidget(PNGColors, 0, 1);
  left->addWidget(AddLabel("&Background:", KVMSG_BACKGROUND, PNGBackground), 1, 0);
  left->addWidget(PNGBackground, 1, 1);
  left->setRowStretch(2, 1);

  PNGAdvanced = new QGroupBox;
  AddCaption([b = PNGAdvanced](const QString& s) { b->setTitle(s); }, " Advanced ", KVMSG_ADVANCED, " %1 ");
  PNGFilter = NewCombo({"NONE", "SUB", "PAETH"});
  PNGInterlaced = new QCheckBox;
  AddCaption([c = PNGInterlaced](const QString& s) { c->setText(s); }, "I&nterlaced:", KVMSG_INTERLACED, "&%1:");
  PNGCompression = NewCombo({"NONE", "1", "2", "3", "4", "5", "6", "7", "8", "MAX"});
  auto* adv = new QGridLayout(PNGAdvanced);
  adv->addWidget(AddLabel("&Filter", KVMSG_FILTER, PNGFilter), 0, 0);
  adv->addWidget(PNGFilter, 0, 1);
  adv->addWidget(PNGInterlaced, 1, 0, 1, 2);
  adv->addWidget(AddLabel("Co&mpression", KVMSG_COMPRESSION, PNGCompression), 2, 0);
  adv->addWidget(PNGCompression, 2, 1);
  adv->setRowStretch(3, 1);

  auto* h = new QHBoxLayout(page);
  h->addLayout(left);
  h->addStretch(1);
  h->addWidget(PNGAdvanced);
  PageControl->addTab(page, "PNG");
}

// --- Reacting to the controls

void TfIOPreviews::Connect() {
  // Every control writes its working value; Changed decides on recomputing.
  auto spin = [this](QSpinBox* s, auto setter) {
    connect(s, &QSpinBox::valueChanged, this, [this, setter](int v) { Changed(setter(v)); });
  };
  auto combo = [this](QComboBox* c, auto setter) {
    connect(c, &QComboBox::currentIndexChanged, this, [this, setter](int i) {
      if (i >= 0) Changed(setter(i));
    });
  };
  auto check = [this](QCheckBox* c, auto setter) {
    connect(c, &QCheckBox::toggled, this, [this, setter](bool on) { Changed(setter(on)); });
  };
  auto text = [this](QLineEdit* e, std::string TIOParamsVals::*field) {
    connect(e, &QLineEdit::textEdited, this, [this, field](const QString& s) {
      const std::string v = s.toStdString();
      const bool d = work_.*field != v;
      work_.*field = v;
      Changed(d);
    });
  };
  // Assigns v to the field and answers whether it differed.
  auto assign = [](auto& field, auto v) {
    const bool d = field != v;
    field = v;
    return d;
  };

  connect(JPEGQualityBar, &QSlider::valueChanged, JPEGQuality, &QSpinBox::setValue);
  spin(JPEGQuality, [this, assign](int v) {
    JPEGQualityBar->setValue(v);
    return assign(work_.JPEG_Quality, int32_t(v));
  });
  combo(JPEGPhotometric, [this, assign](int i) { return assign(work_.JPEG_ColorSpace, TIOJPEGColorspace(i)); });
  combo(JPEGDCTMethod, [this, assign](int i) { return assign(work_.JPEG_DCTMethod, TIOJPEGDctMethod(i)); });
  spin(JPEGSmooth, [this, assign](int v) { return assign(work_.JPEG_Smooth, int32_t(v)); });
  check(JPEGOptimalHuffman, [this, assign](bool on) { return assign(work_.JPEG_OptimalHuffman, on); });
  check(JPEGProgressive, [this, assign](bool on) { return assign(work_.JPEG_Progressive, on); });

  combo(TIFFCompression, [this, assign](int i) { return assign(work_.TIFF_Compression, TIOTIFFCompression(i)); });
  spin(TIFFImageIndex, [this, assign](int v) { return assign(work_.TIFF_ImageIndex, int32_t(v)); });
  combo(TIFFPhotometric, [this, assign](int i) {
    const int colors = colors_[iopTIFF];
    const bool d = assign(work_.TIFF_PhotometInterpret, TIOTIFFPhotometInterpret(i));
    if (!filling_) {
      // The photometric choice decides the colors that go with it.
      const auto p = work_.TIFF_PhotometInterpret;
      if (p != ioTIFF_CMYK && p != ioTIFF_YCBCR && p != ioTIFF_CIELAB && p != ioTIFF_WHITEISZERO &&
          p != ioTIFF_BLACKISZERO && colors_[iopTIFF] == 0)
        colors_[iopTIFF] = kTIFF16M;
      TIFFPhotometricRules();
    }
    return d || colors != colors_[iopTIFF];
  });
  combo(TIFFColors, [this, assign](int i) { return assign(colors_[iopTIFF], i); });
  spin(TIFFXPos, [this, assign](int v) { return assign(work_.TIFF_XPos, int32_t(v)); });
  spin(TIFFYPos, [this, assign](int v) { return assign(work_.TIFF_YPos, int32_t(v)); });
  text(TIFFDocumentName, &TIOParamsVals::TIFF_DocumentName);
  text(TIFFDescription, &TIOParamsVals::TIFF_ImageDescription);
  text(TIFFPageName, &TIOParamsVals::TIFF_PageName);
  spin(TIFFPageNumber, [this, assign](int v) { return assign(work_.TIFF_PageNumber, int32_t(v)); });
  spin(TIFFPageCount, [this, assign](int v) { return assign(work_.TIFF_PageCount, int32_t(v)); });

  spin(GIFImageIndex, [this, assign](int v) { return assign(work_.GIF_ImageIndex, int32_t(v)); });
  combo(GIFColors, [this, assign](int i) { return assign(colors_[iopGIF], i); });
  check(GIFTransparent, [this, assign](bool on) { return assign(work_.GIF_FlagTranspColor, on); });
  check(GIFInterlaced, [this, assign](bool on) { return assign(work_.GIF_Interlaced, on); });
  spin(GIFDelayTime, [this, assign](int v) { return assign(work_.GIF_DelayTime, int32_t(v)); });
  spin(GIFXPos, [this, assign](int v) { return assign(work_.GIF_XPos, int32_t(v)); });
  spin(GIFYPos, [this, assign](int v) { return assign(work_.GIF_YPos, int32_t(v)); });
  connect(GIFTranspColor, &QPushButton::clicked, this, [this] {
    const int bits = std::clamp(colors_[iopGIF] + 1, 1, 8);
    PickColor(work_.GIF_TranspColor, GIFTranspColor, true, 1 << bits);
  });
  connect(GIFBackground, &QPushButton::clicked, this,
          [this] { PickColor(work_.GIF_Background, GIFBackground, false, 0); });

  combo(BMPCompression, [this, assign](int i) { return assign(work_.BMP_Compression, TIOBMPCompression(i)); });
  combo(BMPColors, [this, assign](int i) { return assign(colors_[iopBMP], i); });
  combo(PCXCompression, [this, assign](int i) { return assign(work_.PCX_Compression, TIOPCXCompression(i)); });
  combo(PCXColors, [this, assign](int i) { return assign(colors_[iopPCX], i); });

  combo(PNGColors, [this, assign](int i) { return assign(colors_[iopPNG], i); });
  combo(PNGFilter, [this, assign](int i) { return assign(work_.PNG_Filter, TIOPNGFilter(i)); });
  check(PNGInterlaced, [this, assign](bool on) { return assign(work_.PNG_Interlaced, on); });
  combo(PNGCompression, [this, assign](int i) { return assign(work_.PNG_Compression, int32_t(i)); });
  connect(PNGBackground, &QPushButton::clicked, this, [this] {
    // A palette result offers its palette; true color the full color choice.
    const bool palette = ColorCount(iopPNG) <= 256 && io_->Params()->ColorMapCount > 0;
    PickColor(work_.PNG_Background, PNGBackground, palette, io_->Params()->ColorMapCount);
  });

  connect(LockButton, &QToolButton::toggled, this, [this](bool on) {
    PreviewButton->setEnabled(!on);
    if (on && !filling_) applyAct();
  });
  connect(PreviewButton, &QPushButton::clicked, this, [this] { applyAct(); });
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(PageControl, &QTabWidget::currentChanged, this, [this] {
    if (!filling_) PageChanged();
  });
}

void TfIOPreviews::Changed(bool differs) {
  if (filling_) return;
  if (differs && LockButton->isChecked()) applyAct();
}

void TfIOPreviews::TIFFPhotometricRules() {
  const auto p = work_.TIFF_PhotometInterpret;
  const bool full = p == ioTIFF_CMYK || p == ioTIFF_YCBCR || p == ioTIFF_CIELAB;
  const bool bilevel = p == ioTIFF_WHITEISZERO || p == ioTIFF_BLACKISZERO;
  if (full) colors_[iopTIFF] = kTIFF16M;
  if (bilevel) colors_[iopTIFF] = 0;
  const bool was = filling_;
  filling_ = true;
  TIFFColors->setCurrentIndex(colors_[iopTIFF]);
  TIFFColors->setEnabled(!full && !bilevel);
  filling_ = was;
}

// --- Colors

int TfIOPreviews::ColorCount(TIOPreviewsPage page) const {
  const int i = colors_[page];
  switch (page) {
    case iopTIFF: return kTIFFCounts[i];
    case iopGIF: return 1 << (i + 1);
    case iopBMP: return kBMPCounts[i];
    case iopPCX: return kPCXCounts[i];
    case iopPNG: return kPNGCounts[i];
    default: return kTrueColor;
  }
}

void TfIOPreviews::ColorsToRecord(TIOPreviewsPage page, TIOParamsVals& p) const {
  const int i = colors_[page];
  SB sb{p.SamplesPerPixel, p.BitsPerSample};
  switch (page) {
    case iopTIFF:
      sb = kTIFFColors[i];
      if (i == kTIFF16M && work_.TIFF_PhotometInterpret == ioTIFF_CMYK) sb = {4, 8};
      break;
    case iopGIF: sb = {1, i + 1}; break;
    // "16M (32bit)" writes what "16M" writes.
    case iopBMP: sb = kBMPColors[i]; break;
    case iopPCX: sb = kPCXColors[i]; break;
    case iopPNG: sb = kPNGColors[i]; break;
    default: return;
  }
  p.SamplesPerPixel = sb.samples;
  p.BitsPerSample = sb.bits;
}

void TfIOPreviews::ColorsFromRecord(TIOPreviewsPage page, const TIOParamsVals& p) {
  const int s = p.SamplesPerPixel, b = p.BitsPerSample;
  switch (page) {
    case iopTIFF: colors_[page] = s == 4 && b == 8 ? kTIFF16M : FindColors(kTIFFColors, s, b, kTIFF16M); break;
    case iopGIF: colors_[page] = b >= 1 && b <= 8 ? b - 1 : kGIF256; break;
    case iopBMP: colors_[page] = FindColors(kBMPColors, s, b, kBMP16M); break;
    case iopPCX: colors_[page] = FindColors(kPCXColors, s, b, kPCX16M); break;
    case iopPNG: colors_[page] = FindColors(kPNGColors, s, b, kPNG16M); break;
    default: break;
  }
}

void TfIOPreviews::ShowColor(QPushButton* panel, TRGB c) {
  panel->setStyleSheet(QStringLiteral("QPushButton { background-color: rgb(%1, %2, %3); border: 1px solid gray; }")
                           .arg(c.r)
                           .arg(c.g)
                           .arg(c.b));
}

void TfIOPreviews::PickColor(TRGB& target, QPushButton* panel, bool palette, int entries) {
  const TIOParamsVals* p = io_->Params();
  const int n = std::min(entries, p->ColorMapCount);
  TRGB chosen = target;
  if (palette && n > 0) {
    TKorvanePaletteDialog dlg(nullptr, this);
    dlg.setFont(font());
    if (LanguageIndex(language_) != 0)
      dlg.CancelButton()->setText("&" + QString::fromStdString(kvmsg(KVMSG_CANCEL, language_)));
    dlg.SetPalette(p->ColorMap, n);
    if (!dlg.Execute()) return;
    chosen = TColor2TRGB(dlg.ChosenColor());
  } else {
    if (!color_dialog_) color_dialog_ = new QColorDialog(this);
    color_dialog_->setCurrentColor(QColor(target.r, target.g, target.b));
    if (color_dialog_->exec() != QDialog::Accepted) return;
    const QColor c = color_dialog_->selectedColor();
    chosen = TRGB{uint8_t(c.blue()), uint8_t(c.green()), uint8_t(c.red())};
  }
  const bool d = chosen.r != target.r || chosen.g != target.g || chosen.b != target.b;
  target = chosen;
  ShowColor(panel, chosen);
  Changed(d);
}

// --- Showing, page change, result

bool TfIOPreviews::SetPreviewParams(TPreviewParams pages) {
  if (pages.Contains(ppAUTO) && caller_) {
    switch (caller_->FileType) {
      case ioTIFF: pages.Include(ppTIFF); break;
      case ioGIF: pages.Include(ppGIF); break;
      case ioJPEG: pages.Include(ppJPEG); break;
      case ioPCX: pages.Include(ppPCX); break;
      case ioBMP: pages.Include(ppBMP); break;
      case ioPNG: pages.Include(ppPNG); break;
      default: break;
    }
  }
  pages_ = pages;
  bool any = pages.Contains(ppALL);
  for (TPreviewParamsItem item : kPageItem) any = any || pages.Contains(item);
  return any;
}

TIOPreviewsPage TfIOPreviews::ActivePage() const {
  const int i = PageControl->currentIndex();
  return i >= 0 && i < kIOPreviewsPageCount ? TIOPreviewsPage(i) : iopJPEG;
}

int64_t TfIOPreviews::UncompressedSize(TBitmap* b) {
  if (!b) return 0;
  const int64_t bits = b->PixelFormat() == pf1bit ? 1 : 24;
  return (int64_t(b->Width()) * bits + 31) / 32 * 4 * b->Height();
}

void TfIOPreviews::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (e->spontaneous()) return;
  FitFormSize();
  if (QScreen* s = QGuiApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
  Activate();
}

void TfIOPreviews::Activate() {
  filling_ = true;
  LockButton->setChecked(lock_default_);
  PreviewButton->setEnabled(!lock_default_);
  const bool all = pages_.Contains(ppALL);
  int first = -1;
  for (int i = 0; i < kIOPreviewsPageCount; ++i) {
    const bool visible = all || pages_.Contains(kPageItem[i]);
    PageControl->setTabVisible(i, visible);
    if (visible && first < 0) first = i;
  }
  if (first >= 0) PageControl->setCurrentIndex(first);
  filling_ = false;

  const QString bytes = " " + QString::fromStdString(kvmsg(KVMSG_BYTES, language_));
  OriginalSize->setText(QString::number(UncompressedSize(Korvane1->GetFBitmap())) + bytes);
  if (layout()) layout()->activate();
  Korvane1->Fit();
  PageChanged();
}

void TfIOPreviews::PageChanged() {
  if (!caller_) return;
  const TIOPreviewsPage page = ActivePage();
  work_.Assign(caller_);
  ColorsFromRecord(page, work_);
  FillControls(page);
  applyAct();
}

void TfIOPreviews::FillControls(TIOPreviewsPage page) {
  filling_ = true;
  const TIOParamsVals& w = work_;
  switch (page) {
    case iopJPEG:
      JPEGQuality->setValue(w.JPEG_Quality);
      JPEGQualityBar->setValue(w.JPEG_Quality);
      JPEGPhotometric->setCurrentIndex(ComboIndex(w.JPEG_ColorSpace, JPEGPhotometric));
      JPEGDCTMethod->setCurrentIndex(ComboIndex(w.JPEG_DCTMethod, JPEGDCTMethod));
      JPEGSmooth->setValue(w.JPEG_Smooth);
      JPEGOptimalHuffman->setChecked(w.JPEG_OptimalHuffman);
      JPEGProgressive->setChecked(w.JPEG_Progressive);
      break;
    case iopTIFF:
      TIFFCompression->setCurrentIndex(ComboIndex(w.TIFF_Compression, TIFFCompression));
      TIFFImageIndex->setValue(w.TIFF_ImageIndex);
      TIFFPhotometric->setCurrentIndex(ComboIndex(w.TIFF_PhotometInterpret, TIFFPhotometric));
      TIFFXPos->setValue(w.TIFF_XPos);
      TIFFYPos->setValue(w.TIFF_YPos);
      TIFFDocumentName->setText(QString::fromStdString(w.TIFF_DocumentName));
      TIFFDescription->setText(QString::fromStdString(w.TIFF_ImageDescription));
      TIFFPageName->setText(QString::fromStdString(w.TIFF_PageName));
      TIFFPageNumber->setValue(w.TIFF_PageNumber);
      TIFFPageCount->setValue(w.TIFF_PageCount);
      TIFFPhotometricRules();
      break;
    case iopGIF:
      GIFImageIndex->setValue(w.GIF_ImageIndex);
      GIFColors->setCurrentIndex(colors_[iopGIF]);
      GIFTransparent->setChecked(w.GIF_FlagTranspColor);
      GIFInterlaced->setChecked(w.GIF_Interlaced);
      GIFDelayTime->setValue(w.GIF_DelayTime);
      GIFXPos->setValue(w.GIF_XPos);
      GIFYPos->setValue(w.GIF_YPos);
      ShowColor(GIFTranspColor, w.GIF_TranspColor);
      ShowColor(GIFBackground, w.GIF_Background);
      break;
    case iopBMP:
      BMPCompression->setCurrentIndex(ComboIndex(w.BMP_Compression, BMPCompression));
      BMPColors->setCurrentIndex(colors_[iopBMP]);
      break;
    case iopPCX:
      PCXCompression->setCurrentIndex(ComboIndex(w.PCX_Compression, PCXCompression));
      PCXColors->setCurrentIndex(colors_[iopPCX]);
      break;
    case iopPNG:
      PNGColors->setCurrentIndex(colors_[iopPNG]);
      PNGFilter->setCurrentIndex(ComboIndex(w.PNG_Filter, PNGFilter));
      PNGInterlaced->setChecked(w.PNG_Interlaced);
      PNGCompression->setCurrentIndex(ComboIndex(w.PNG_Compression, PNGCompression));
      ShowColor(PNGBackground, w.PNG_Background);
      break;
  }
  filling_ = false;
}

void TfIOPreviews::SetProgress(int per) {
  ProgressBar1->setValue(std::clamp(per / progress_divisor_ + progress_offset_, 0, 100));
  // The computation runs without the event loop: paint the bar now.
  if (ProgressBar1->isVisible()) ProgressBar1->repaint();
}

void TfIOPreviews::applyAct() {
  TBitmap* src = Korvane1->GetFBitmap();
  if (!caller_ || computing_ || !src || src->Empty()) return;
  computing_ = true;
  const TIOPreviewsPage page = ActivePage();
  TIOParamsVals* p = io_->Params();
  p->Assign(&work_);
  ColorsToRecord(page, *p);
  const QString bytes = " " + QString::fromStdString(kvmsg(KVMSG_BYTES, language_));
  try {
    io_->SetAttachedBitmap(src);
    if (page == iopJPEG) {
      // Save, then load what was saved: the result shows the compression.
      TMemoryStream ms;
      progress_divisor_ = 2, progress_offset_ = 0;
      io_->SaveToStreamJpeg(&ms);
      CompressedSize->setText(QString::number(ms.Size()) + bytes);
      ms.SetPosition(0);
      progress_offset_ = 50;
      p->JPEG_Scale = ioJPEG_FULLSIZE;
      io_->SetAttachedKorvane(Korvane2);
      io_->LoadFromStreamJpeg(&ms);
    } else {
      // Only the size of the file matters: count the bytes, keep none.
      TNulStream counter;
      progress_divisor_ = 1, progress_offset_ = 0;
      switch (page) {
        case iopTIFF: io_->SaveToStreamTIFF(&counter); break;
        case iopGIF: io_->SaveToStreamGif(&counter); break;
        case iopBMP: io_->SaveToStreamBMP(&counter); break;
        case iopPCX: io_->SaveToStreamPCX(&counter); break;
        default: io_->SaveToStreamPNG(&counter); break;
      }
      CompressedSize->setText(QString::number(counter.Size()) + bytes);
      Korvane2->Assign(Korvane1);
      const int n = ColorCount(page);
      const auto ph = work_.TIFF_PhotometInterpret;
      const bool fullColorTIFF =
          page == iopTIFF && (ph == ioTIFF_CMYK || ph == ioTIFF_YCBCR || ph == ioTIFF_CIELAB);
      if (n <= 256 && !fullColorTIFF) {
        proc_->SetAttachedKorvane(Korvane2);
        if (page == iopBMP || page == iopPCX) {
          proc_->ConvertTo(n);
        } else if (Korvane2->GetFBitmap()->PixelFormat() == pf24bit) {
          // The palette stays with the private parameters for the pickers.
          proc_->ConvertToPalette(n, p->AllocColorMap(n));
        } else {
          TRGB* pal = p->AllocColorMap(std::min(n, 2));
          pal[0] = TRGB{0, 0, 0};
          if (n > 1) pal[1] = TRGB{255, 255, 255};
        }
      }
    }
  } catch (const std::exception& e) {
    // A combination the writer refuses: say why instead of a size.
    CompressedSize->setText(QString::fromUtf8(e.what()));
  }
  ProgressBar1->setValue(0);
  Korvane2->SetZoom(Korvane1->GetZoom());
  Korvane2->SetViewXY(Korvane1->GetViewX(), Korvane1->GetViewY());
  computing_ = false;
}

// --- Closing

void TfIOPreviews::done(int r) {
  if (r == QDialog::Accepted) WriteActivePage();
  QDialog::done(r);
}

void TfIOPreviews::WriteActivePage() {
  if (!caller_) return;
  TIOParamsVals& c = *caller_;
  const TIOParamsVals& w = work_;
  const TIOPreviewsPage page = ActivePage();
  switch (page) {
    case iopJPEG:
      c.JPEG_Quality = w.JPEG_Quality;
      c.JPEG_ColorSpace = w.JPEG_ColorSpace;
      c.JPEG_DCTMethod = w.JPEG_DCTMethod;
      c.JPEG_Smooth = w.JPEG_Smooth;
      c.JPEG_OptimalHuffman = w.JPEG_OptimalHuffman;
      c.JPEG_Progressive = w.JPEG_Progressive;
      break;
    case iopTIFF:
      c.TIFF_Compression = w.TIFF_Compression;
      c.TIFF_ImageIndex = w.TIFF_ImageIndex;
      c.TIFF_PhotometInterpret = w.TIFF_PhotometInterpret;
      c.TIFF_XPos = w.TIFF_XPos;
      c.TIFF_YPos = w.TIFF_YPos;
      c.TIFF_DocumentName = w.TIFF_DocumentName;
      c.TIFF_ImageDescription = w.TIFF_ImageDescription;
      c.TIFF_PageName = w.TIFF_PageName;
      c.TIFF_PageNumber = w.TIFF_PageNumber;
      c.TIFF_PageCount = w.TIFF_PageCount;
      break;
    case iopGIF:
      c.GIF_ImageIndex = w.GIF_ImageIndex;
      c.GIF_FlagTranspColor = w.GIF_FlagTranspColor;
      c.GIF_TranspColor = w.GIF_TranspColor;
      c.GIF_Interlaced = w.GIF_Interlaced;
      c.GIF_Background = w.GIF_Background;
      c.GIF_DelayTime = w.GIF_DelayTime;
      c.GIF_XPos = w.GIF_XPos;
      c.GIF_YPos = w.GIF_YPos;
      break;
    case iopBMP: c.BMP_Compression = w.BMP_Compression; break;
    case iopPCX: c.PCX_Compression = w.PCX_Compression; break;
    case iopPNG:
      c.PNG_Background = w.PNG_Background;
      c.PNG_Filter = w.PNG_Filter;
      c.PNG_Interlaced = w.PNG_Interlaced;
      c.PNG_Compression = w.PNG_Compression;
      break;
  }
  ColorsToRecord(page, c);
}

}  // namespace korvane
