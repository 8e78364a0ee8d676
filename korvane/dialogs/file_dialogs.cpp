#include "korvane/dialogs/file_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "korvane/foundations/kvmsg.h"
#include "korvane/io/kvio.h"
#include "korvane/multi/kvmio.h"
#include "korvane/multi/kvmview.h"
#include "korvane/view/kvview.h"

namespace korvane {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string LowerExt(const std::string& name) {
  const QString suffix = QFileInfo(Q(name)).suffix().toLower();
  return suffix.isEmpty() ? std::string() : "." + suffix.toStdString();
}

// The file dialog window: hands its notifications to the component.
class TKVFileDialog : public QFileDialog {
 public:
  TKVFileDialog(TKVCommonDialog* owner, QWidget* parent) : QFileDialog(parent), owner_(owner) {
    setOption(QFileDialog::DontUseNativeDialog, true);
    // Only while the component runs this dialog: the model may still signal
    // while the dialog is torn down.
    // The path comes with the signal: selectedFiles() is updated after it.
    connect(this, &QFileDialog::currentChanged, this, [this](const QString& path) {
      if (Running()) owner_->SelectionChangedTo(path.toStdString());
    });
    connect(this, &QFileDialog::directoryEntered, this, [this](const QString&) {
      if (Running()) owner_->DoFolderChange();
    });
    connect(this, &QFileDialog::filterSelected, this, [this](const QString& f) {
      if (Running()) owner_->FilterSelected(int(nameFilters().indexOf(f)) + 1);
    });
  }

  bool Running() const { return owner_->Dialog() == this; }

  void done(int r) override {
    // File-ok: a refusal keeps the dialog open.
    if (r == QDialog::Accepted && !owner_->CanClose()) return;
    QFileDialog::done(r);
  }

 protected:
  void showEvent(QShowEvent* e) override {
    QFileDialog::showEvent(e);
    if (!shown_) {
      shown_ = true;
      owner_->DoShow();
    }
  }

 private:
  TKVCommonDialog* owner_;
  bool shown_ = false;
};

// The preview window: Escape closes it.
class TPreviewForm : public QDialog {
 public:
  using QDialog::QDialog;

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    if (e->key() == Qt::Key_Escape) {
      reject();
      return;
    }
    QDialog::keyPressEvent(e);
  }
};

// Small button glyphs, drawn rather than loaded.
QIcon PreviewGlyph() {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(30, 30, 30), 1.6));
  p.setBrush(QColor(200, 225, 255));
  p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
  p.setPen(QPen(QColor(30, 30, 30), 2.4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(9.5, 9.5), QPointF(14.5, 14.5));
  return QIcon(pm);
}

QIcon PlayGlyph(bool stop) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  if (stop) {
    p.setBrush(QColor(170, 20, 20));
    p.drawRect(QRectF(3, 3, 10, 10));
  } else {
    p.setBrush(QColor(20, 130, 20));
    QPainterPath path;
    path.moveTo(4, 2);
    path.lineTo(14, 8);
    path.lineTo(4, 14);
    path.closeSubpath();
    p.drawPath(path);
  }
  return QIcon(pm);
}

// The size the open and the save dialog had when they last closed: they
// reopen at it for the rest of the run.
QSize& RememberedSize(bool save) {
  static QSize open, saving;
  return save ? saving : open;
}

// Narrows the name column when the detail list is too narrow for all its
// columns (a small screen bounds the dialog), so that size, type and date
// stay in view.
void FitListColumns(QFileDialog* d) {
  auto* tree = d->findChild<QTreeView*>("treeView");
  if (!tree) return;
  QHeaderView* h = tree->header();
  int others = 0;
  for (int c = 1; c < h->count(); ++c)
    if (!h->isSectionHidden(c)) others += std::max(h->sectionSize(c), h->sectionSizeHint(c));
  const int name = std::max(120, tree->viewport()->width() - others);
  if (name < h->sectionSize(0)) h->resizeSection(0, name);
}

// Parses "Description|pattern|..." into pairs.
std::vector<std::pair<std::string, std::string>> SplitFilter(const std::string& f) {
  std::vector<std::pair<std::string, std::string>> out;
  const QStringList parts = Q(f).split('|');
  for (int i = 0; i + 1 < parts.size(); i += 2)
    out.emplace_back(parts[i].toStdString(), parts[i + 1].toStdString());
  return out;
}

// "Description (*.a *.b)", the form QFileDialog reads its patterns from.
QStringList QtFilters(const std::string& f) {
  QStringList out;
  for (const auto& [desc, pattern] : SplitFilter(f)) {
    QString pats = Q(pattern);
    pats.replace(';', ' ');
    out << Q(desc) + " (" + pats.simplified() + ")";
  }
  return out;
}

// The extension (with dot) of the first pattern of a filter, empty for "*"
// or "*.*".
std::string PatternExt(const std::string& pattern) {
  const QString first = Q(pattern).split(';').value(0).trimmed();
  const int dot = int(first.lastIndexOf('.'));
  if (dot < 0) return {};
  const QString ext = first.mid(dot);
  if (ext.contains('*') || ext.contains('?') || ext.size() < 2) return {};
  return ext.toStdString();
}

}  // namespace

// ---------------------------------------------------------------------------
// TKVCommonDialog

TKVCommonDialog::TKVCommonDialog(TComponent* AOwner) : TComponent(AOwner) {}
TKVCommonDialog::~TKVCommonDialog() = default;

void TKVCommonDialog::DoShow() {
  if (OnShow) OnShow(this);
}

void TKVCommonDialog::DoClose() {
  if (OnClose) OnClose(this);
}

void TKVCommonDialog::SelectionChangedTo(const std::string& path) {
  const std::string saved = sel_path_;
  const bool was = in_sel_path_;
  sel_path_ = path;
  in_sel_path_ = true;
  DoSelectionChange();
  sel_path_ = saved;
  in_sel_path_ = was;
}

void KVSetFileDialogLanguage(QFileDialog* d, TMsgLanguage lang) {
  if (!d) return;
  const bool save = d->acceptMode() == QFileDialog::AcceptSave;
  d->setLabelText(QFileDialog::LookIn, Q(kvmsg(KVMSG_LOOKIN, lang)));
  d->setLabelText(QFileDialog::FileName, Q(kvmsg(KVMSG_FILENAME, lang)));
  d->setLabelText(QFileDialog::FileType, Q(kvmsg(KVMSG_FILESOFTYPE, lang)));
  d->setLabelText(QFileDialog::Accept, Q(kvmsg(save ? KVMSG_SAVE : KVMSG_OPEN, lang)));
  d->setLabelText(QFileDialog::Reject, Q(kvmsg(KVMSG_CANCEL, lang)));
}

bool TKVCommonDialog::RunModal(QFileDialog* d) {
  dialog_ = d;
  const bool ok = d->exec() == QDialog::Accepted;
  dialog_ = nullptr;
  DoClose();
  return ok;
}

// ---------------------------------------------------------------------------
// TOpenKorvaneDialog

TOpenKorvaneDialog::TOpenKorvaneDialog(TComponent* AOwner) : TKVCommonDialog(AOwner) {
  Filter =
      "All graphics|*.jpg;*.jpeg;*.gif;*.tif;*.tiff;*.pcx;*.png;*.bmp;*.wmf;*.emf;*.ico;*.cur;*.avi"
      "|JPEG Bitmap (JPG;JPEG)|*.jpg;*.jpeg"
      "|CompuServe Bitmap (GIF)|*.gif"
      "|TIFF Bitmap (TIF;TIFF)|*.tif;*.tiff"
      "|PaintBrush (PCX)|*.pcx"
      "|Portable Network Graphics (PNG)|*.png"
      "|Windows Bitmap (BMP)|*.bmp"
      "|OS/2 Bitmap (BMP)|*.bmp"
      "|Enhanced Windows Metafile (EMF)|*.emf"
      "|Windows Metafile (WMF)|*.wmf"
      "|Icon resource (ICO)|*.ico"
      "|Cursor Resource (CUR)|*.cur"
      "|Video for Windows (AVI)|*.avi";

  InfoPanel = new QWidget;
  InfoPanel->setObjectName("InfoPanel");
  InfoLabel1 = new QLabel(InfoPanel);
  InfoLabel1->setObjectName("InfoLabel1");
  InfoLabel2 = new QLabel(InfoPanel);
  InfoLabel2->setObjectName("InfoLabel2");
  AdvancedButton = new QPushButton(InfoPanel);
  AdvancedButton->setObjectName("AdvancedButton");
  AdvancedButton->hide();
  PreviewCheck = new QCheckBox(InfoPanel);
  PreviewCheck->setObjectName("PreviewCheck");
  PreviewCheck->setChecked(true);
  PreviewCheck->hide();
  auto* infoLayout = new QHBoxLayout(InfoPanel);
  infoLayout->setContentsMargins(0, 0, 0, 0);
  auto* labels = new QVBoxLayout;
  labels->addWidget(InfoLabel1);
  labels->addWidget(InfoLabel2);
  infoLayout->addLayout(labels, 1);
  infoLayout->addWidget(PreviewCheck);
  infoLayout->addWidget(AdvancedButton);

  PicturePanel = new QWidget;
  PicturePanel->setObjectName("PicturePanel");
  PicturePanel->setFixedWidth(220);
  KorvaneView = new TKorvaneView(nullptr, PicturePanel);
  KorvaneView->setObjectName("KorvaneView");
  KorvaneView->setMinimumHeight(170);
  KorvaneMView = new TKorvaneMView(nullptr, PicturePanel);
  KorvaneMView->setObjectName("KorvaneMView");
  KorvaneMView->setMinimumHeight(170);
  KorvaneMView->hide();
  ProgressBar = new QProgressBar(PicturePanel);
  ProgressBar->setObjectName("ProgressBar");
  ProgressBar->setRange(0, 100);
  ProgressBar->setMaximumHeight(12);
  ProgressBar->setTextVisible(false);
  ProgressBar->hide();
  PicLabel1 = new QLabel(PicturePanel);
  PicLabel1->setObjectName("PicLabel1");
  PicLabel2 = new QLabel(PicturePanel);
  PicLabel2->setObjectName("PicLabel2");
  PicLabel3 = new QLabel(PicturePanel);
  PicLabel3->setObjectName("PicLabel3");
  ZoomCombo = new QComboBox(PicturePanel);
  ZoomCombo->setObjectName("ZoomCombo");
  ZoomCombo->setToolTip("Zoom");
  PreviewButton = new QToolButton(PicturePanel);
  PreviewButton->setObjectName("PreviewButton");
  PreviewButton->setAutoRaise(true);
  PreviewButton->setIcon(PreviewGlyph());
  PreviewButton->setEnabled(false);
  PlayButton = new QToolButton(PicturePanel);
  PlayButton->setObjectName("PlayButton");
  PlayButton->setAutoRaise(true);
  PlayButton->setCheckable(true);
  PlayButton->setIcon(PlayGlyph(false));
  PlayButton->setEnabled(false);
  auto* pic = new QVBoxLayout(PicturePanel);
  pic->setContentsMargins(4, 0, 0, 0);
  pic->addWidget(KorvaneView, 1);
  pic->addWidget(KorvaneMView, 1);
  pic->addWidget(ProgressBar);
  pic->addWidget(PicLabel1);
  pic->addWidget(PicLabel2);
  pic->addWidget(PicLabel3);
  auto* tools = new QHBoxLayout;
  tools->addWidget(ZoomCombo, 1);
  tools->addWidget(PreviewButton);
  tools->addWidget(PlayButton);
  pic->addLayout(tools);

  io_ = std::make_unique<TKorvaneIO>();
  io_->SetAttachedKorvane(KorvaneView);
  io_->OnProgress = [this](TObject*, int per) { ProgressBar->setValue(std::clamp(per, 0, 100)); };
  mio_ = std::make_unique<TKorvaneMIO>();
  mio_->SetAttachedMView(KorvaneMView);
  mio_->OnProgress = [this](TObject*, int per) { ProgressBar->setValue(std::clamp(per, 0, 100)); };

  QObject::connect(ZoomCombo, &QComboBox::activated, ZoomCombo, [this](int) { SetZoom(); });
  QObject::connect(PreviewButton, &QToolButton::clicked, PreviewButton, [this] { PreviewClick(); });
  QObject::connect(PlayButton, &QToolButton::clicked, PlayButton, [this] { PlayClick(); });
  QObject::connect(PreviewCheck, &QCheckBox::clicked, PreviewCheck, [this] { DoCheckPreview(); });
}

TOpenKorvaneDialog::~TOpenKorvaneDialog() {
  // The components go before the views they are attached to.
  io_.reset();
  mio_.reset();
  delete InfoPanel;
  delete PicturePanel;
}

void TOpenKorvaneDialog::SetInitialDir(const std::string& s) {
  std::string d = s;
  if (d.size() > 1 && d.back() == '/') d.pop_back();
  initial_dir_ = d;
}

std::string TOpenKorvaneDialog::GetFileName() const {
  if (dialog_ && in_sel_path_) return sel_path_;
  if (dialog_) {
    const QStringList sel = dialog_->selectedFiles();
    return sel.isEmpty() ? std::string() : sel.first().toStdString();
  }
  return file_name_;
}

int TOpenKorvaneDialog::GetFilterIndex() const {
  if (dialog_) return cur_filter_index_;
  return filter_index_;
}

std::string TOpenKorvaneDialog::FilterPattern(int index) const {
  const auto f = SplitFilter(Filter);
  if (index < 1 || index > int(f.size())) return {};
  return f[size_t(index - 1)].second;
}

bool TOpenKorvaneDialog::Execute() {
  PreviewCheck->setText(Q(kvmsg(KVMSG_PREVIEW, MsgLanguage)));
  PreviewCheck->show();
  has_preview_ = true;
  return DoExecute(false);
}

void TOpenKorvaneDialog::Unparent() {
  InfoPanel->hide();
  PicturePanel->hide();
  InfoPanel->setParent(nullptr);
  PicturePanel->setParent(nullptr);
}

bool TOpenKorvaneDialog::DoExecute(bool acceptSave) {
  files_.clear();
  TKVFileDialog d(this, ParentWidget);
  d.setAcceptMode(acceptSave ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  if (acceptSave)
    d.setFileMode(QFileDialog::AnyFile);
  else
    d.setFileMode(Options.Contains(ofAllowMultiSelect) ? QFileDialog::ExistingFiles
                                                       : QFileDialog::ExistingFile);
  if (!Options.Contains(ofOverwritePrompt)) d.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (Options.Contains(ofNoDereferenceLinks)) d.setOption(QFileDialog::DontResolveSymlinks, true);
  d.setWindowTitle(Q(!Title.empty() ? Title : kvmsg(acceptSave ? KVMSG_SAVE : KVMSG_OPEN, MsgLanguage)));
  KVSetFileDialogLanguage(&d, MsgLanguage);
  const QStringList filters = QtFilters(Filter);
  d.setNameFilters(filters);
  const int count = int(filters.size());
  cur_filter_index_ = (filter_index_ >= 1 && filter_index_ <= count) ? filter_index_ : 1;
  if (count > 0) d.selectNameFilter(filters[cur_filter_index_ - 1]);
  cur_pattern_ = FilterPattern(cur_filter_index_);
  // With a default suffix the dialog itself completes a typed name, so the
  // overwrite prompt sees the file that Execute will return.
  d.setDefaultSuffix(Q(DefaultSuffix(acceptSave)));
  QStringList hist;
  for (const auto& h : history_) hist << Q(h);
  d.setHistory(hist);
  QString dir = Q(initial_dir_);
  if (dir.isEmpty() && !file_name_.empty()) dir = QFileInfo(Q(file_name_)).absolutePath();
  if (!dir.isEmpty()) d.setDirectory(dir);
  if (!file_name_.empty()) d.selectFile(QFileInfo(Q(file_name_)).fileName());

  // The pane: the picture right of the dialog's own controls, the info
  // panel below them.
  if (auto* grid = qobject_cast<QGridLayout*>(d.layout())) {
    const int rows = grid->rowCount(), cols = grid->columnCount();
    if (has_preview_) grid->addWidget(PicturePanel, 0, cols, rows + 1, 1);
    grid->addWidget(InfoPanel, rows, 0, 1, cols);
  } else {
    auto* box = d.layout();
    if (box) {
      if (has_preview_) box->addWidget(PicturePanel);
      box->addWidget(InfoPanel);
    }
  }
  InfoPanel->show();
  PicturePanel->setVisible(has_preview_);
  ShowIOParams(nullptr);
  // Roomy enough for the list's columns, the file type box and the pane,
  // within the screen; after a run, the size the user left it at.
  QSize size = RememberedSize(acceptSave);
  if (!size.isValid()) {
    size = d.sizeHint().expandedTo(QSize(has_preview_ ? 980 : 760, 560));
    QScreen* screen = ParentWidget ? ParentWidget->screen() : QApplication::primaryScreen();
    if (screen) size = size.boundedTo(screen->availableGeometry().size());
  }
  d.resize(size);

  bool ok = false;
  try {
    ok = RunModal(&d);
  } catch (...) {
    Unparent();
    throw;
  }
  KorvaneMView->SetPlaying(false);
  RememberedSize(acceptSave) = d.size();
  if (ok) {
    for (const QString& f : d.selectedFiles()) files_.push_back(f.toStdString());
    if (!files_.empty()) file_name_ = files_.front();
    filter_index_ = cur_filter_index_;
    const std::string ext = LowerExt(file_name_);
    std::string def = DefaultExt;
    if (!def.empty() && def[0] != '.') def = "." + def;
    if (!def.empty() && ext != QString::fromStdString(def).toLower().toStdString())
      Options.Include(ofExtensionDifferent);
    else
      Options.Exclude(ofExtensionDifferent);
  }
  Unparent();
  return ok;
}

void TOpenKorvaneDialog::DoShow() {
  if (dialog_) FitListColumns(dialog_);
  ZoomCombo->clear();
  ZoomCombo->addItem("Fit", 0);
  for (int z : {25, 50, 75, 100, 125, 150, 175, 200, 300, 400}) ZoomCombo->addItem(QString("%1%").arg(z), z);
  ZoomCombo->setCurrentIndex(0);
  KorvaneView->SetBackGround(clWhite);
  KorvaneView->SetCenter(true);
  KorvaneMView->SetBackGround(clWhite);
  KorvaneMView->SetPlaying(false);
  PlayButton->setChecked(false);
  PlayButton->setIcon(PlayGlyph(false));
  PlayButton->setEnabled(false);
  TKVCommonDialog::DoShow();
}

void TOpenKorvaneDialog::ClearPreview() {
  ShowIOParams(nullptr);
  PreviewButton->setEnabled(false);
  KorvaneView->Blank();
  KorvaneView->Update();
}

void TOpenKorvaneDialog::DoSelectionChange() {
  if (has_preview_ && !in_selection_) {
    in_selection_ = true;
    const std::string name = GetFileName();
    const QFileInfo fi(Q(name));
    bool ok = !name.empty() && fi.isFile();
    const bool cursor = ok && PreviewCheck->isChecked();
    if (cursor) QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
      if (ok) {
        file_size_ = fi.size();
        if (PreviewCheck->isChecked()) {
          KorvaneView->SetBackGround(clWhite);
          KorvaneView->Blank();
          KorvaneMView->SetBackGround(clWhite);
          KorvaneMView->SetPlaying(false);
          KorvaneMView->Clear();
          PlayButton->setChecked(false);
          PlayButton->setIcon(PlayGlyph(false));
          const std::string ext = LowerExt(name);
          const bool multi = ext == ".avi" || (ext == ".gif" && EnumGifIm(name) > 1) ||
                             ((ext == ".tif" || ext == ".tiff") && EnumTIFFIm(name) >= 2);
          ProgressBar->setValue(0);
          ProgressBar->show();
          if (multi) {
            PlayButton->setEnabled(true);
            ZoomCombo->setEnabled(false);
            KorvaneView->hide();
            KorvaneMView->show();
            mio_->LoadFromFile(name);
            frames_ = std::max(1, mio_->GetParamsCount());
            KorvaneMView->SelectSeek(iskFirst);
            ShowIOParams(mio_->GetParams(0));
          } else {
            PlayButton->setEnabled(false);
            ZoomCombo->setEnabled(true);
            KorvaneMView->hide();
            KorvaneView->show();
            io_->LoadFromFile(name);
            // PNG and GIF loads give the view the file's background; the
            // pane stays white.
            KorvaneView->SetBackGround(clWhite);
            frames_ = 1;
            if (io_->Params()->FileType == ioUnknown)
              ok = false;
            else
              ShowIOParams(io_->Params());
          }
          ProgressBar->hide();
          ZoomCombo->setCurrentIndex(0);
          SetZoom();
          PreviewButton->setEnabled(ok);
        } else {
          io_->ParamsFromFile(name);
          frames_ = 1;
          if (io_->Params()->FileType != ioUnknown)
            ShowIOParams(io_->Params());
          else
            ShowIOParams(nullptr);
        }
      }
    } catch (const std::exception&) {
      ok = false;
    }
    if (!ok) {
      ProgressBar->hide();
      KorvaneMView->hide();
      KorvaneView->show();
      ClearPreview();
    }
    if (cursor) QApplication::restoreOverrideCursor();
    in_selection_ = false;
  }
  if (OnSelectionChange) OnSelectionChange(this);
}

void TOpenKorvaneDialog::DoFolderChange() {
  if (OnFolderChange) OnFolderChange(this);
}

void TOpenKorvaneDialog::DoTypeChange() {
  if (OnTypeChange) OnTypeChange(this);
}

bool TOpenKorvaneDialog::CanClose() {
  bool can = true;
  if (OnCanClose) OnCanClose(this, can);
  return can;
}

std::string TOpenKorvaneDialog::DefaultSuffix(bool save) const {
  std::string ext = save ? PatternExt(cur_pattern_) : std::string();
  if (ext.empty()) ext = DefaultExt;
  if (ext.empty()) ext = QFileInfo(Q(file_name_)).suffix().toStdString();
  while (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  return ext;
}

void TOpenKorvaneDialog::FilterSelected(int index) {
  cur_pattern_ = FilterPattern(index);
  if (dialog_ && dialog_->acceptMode() == QFileDialog::AcceptSave)
    dialog_->setDefaultSuffix(Q(DefaultSuffix(true)));
  if (index >= 1 && index != cur_filter_index_) {
    cur_filter_index_ = index;
    DoTypeChange();
  }
}

void TOpenKorvaneDialog::ShowIOParams(const TIOParamsVals* p) {
  if (!p) {
    for (QLabel* l : {PicLabel1, PicLabel2, PicLabel3, InfoLabel1, InfoLabel2}) l->clear();
    return;
  }
  QString size = QString("%1 x %2 pixel").arg(p->Width).arg(p->Height);
  if (frames_ > 1) size += QString(" , %1 frames").arg(frames_);
  PicLabel1->setText(size);
  // A hostile header may claim any depth: the count is shown up to 2^62.
  const int bits = std::clamp(p->BitsPerSample * p->SamplesPerPixel, 0, 62);
  PicLabel2->setText(QString("%1 %2 (%3 bit)")
                         .arg(qint64(1) << bits)
                         .arg(Q(kvmsg(KVMSG_COLORS, MsgLanguage)))
                         .arg(p->BitsPerSample * p->SamplesPerPixel));
  PicLabel3->setText(QString("%1 x %2 dpi").arg(p->DpiX).arg(p->DpiY));
  QString info = file_size_ > 1023 ? QString("File: %1 Kb").arg(file_size_ >> 10)
                                   : QString("File: %1 bytes").arg(file_size_);
  const int64_t w = std::max<int64_t>(p->Width, 0), h = std::max<int64_t>(p->Height, 0);
  const bool bilevel = p->BitsPerSample == 1 && p->SamplesPerPixel == 1;
  const int64_t row = ((w * (bilevel ? 1 : 24) + 31) / 32) * 4;
  const int64_t mem = row * h * std::max(frames_, 1);
  info += mem > 1023 ? QString("   Mem: %1 Kb").arg(mem >> 10) : QString("   Mem: %1 bytes").arg(mem);
  InfoLabel2->setText(info);
  InfoLabel1->setText(Q(p->GetFileTypeStr()));
}

void TOpenKorvaneDialog::SetZoom() {
  const int z = ZoomCombo->currentData().toInt();
  if (z == 0)
    KorvaneView->Fit();
  else
    KorvaneView->SetZoom(z);
}

void TOpenKorvaneDialog::PreviewClick() {
  TPreviewForm form(dialog_ ? static_cast<QWidget*>(dialog_) : ParentWidget);
  form.setObjectName("PreviewForm");
  form.setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  form.setSizeGripEnabled(true);
  const QString title = dialog_ ? dialog_->windowTitle() : Q(Title);
  form.setWindowTitle(title + ": " + Q(GetFileName()));
  auto* layout = new QVBoxLayout(&form);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* view = new TKorvaneView(nullptr, &form);
  view->setObjectName("PreviewView");
  layout->addWidget(view);
  view->SetMouseInteract({miZoom, miScroll});
  view->SetScrollBars(ssBoth);
  view->SetBackGround(clWhite);
  view->SetBackgroundStyle(kvbsChessboard);
  view->SetCenter(true);
  if (KorvaneView->isVisible() || !KorvaneMView->isVisible()) {
    view->Assign(KorvaneView);
  } else {
    const int sel = KorvaneMView->GetSelectedItem();
    if (TBitmap* b = sel >= 0 ? KorvaneMView->GetBitmap(sel) : nullptr) {
      view->Assign(b);
      KorvaneMView->ReleaseBitmap(sel);
    }
  }
  view->SetBackGround(clWhite);
  view->Update();
  // The image's size, at least 100 and at most the screen in each direction.
  QSize screen(1024, 768);
  if (QScreen* s = QApplication::primaryScreen()) screen = s->availableGeometry().size();
  const int w = std::clamp(view->GetBitmap()->Width(), 100, std::max(100, screen.width()));
  const int h = std::clamp(view->GetBitmap()->Height(), 100, std::max(100, screen.height()));
  form.resize(w, h);
  if (QScreen* s = QApplication::primaryScreen())
    form.move(s->availableGeometry().center() - QPoint(w / 2, h / 2));
  form.exec();
}

void TOpenKorvaneDialog::PlayClick() {
  const bool on = PlayButton->isChecked();
  KorvaneMView->SetPlaying(on);
  PlayButton->setIcon(PlayGlyph(on));
  PreviewButton->setEnabled(!on);
}

void TOpenKorvaneDialog::DoCheckPreview() {
  if (PreviewCheck->isChecked()) {
    DoSelectionChange();
    return;
  }
  ShowIOParams(nullptr);
  KorvaneView->SetBackGround(clWhite);
  KorvaneView->Blank();
  KorvaneView->SetZoom(100);
  KorvaneView->Update();
  KorvaneMView->SetPlaying(false);
  KorvaneMView->Clear();
}

// ---------------------------------------------------------------------------
// TSaveKorvaneDialog

TSaveKorvaneDialog::TSaveKorvaneDialog(TComponent* AOwner) : TOpenKorvaneDialog(AOwner) {
  Filter =
      "JPEG Bitmap (JPG)|*.jpg"
      "|CompuServe Bitmap (GIF)|*.gif"
      "|TIFF Bitmap (TIF)|*.tif"
      "|PaintBrush (PCX)|*.pcx"
      "|Portable Network Graphics (PNG)|*.png"
      "|Windows Bitmap (BMP)|*.bmp"
      "|OS/2 Bitmap (BMP)|*.bmp";
  QObject::connect(AdvancedButton, &QPushButton::clicked, AdvancedButton, [this] { DoAdvanced(); });
}

TSaveKorvaneDialog::~TSaveKorvaneDialog() = default;

void TSaveKorvaneDialog::SetAttachedKorvaneIO(TComponent* c) {
  if (c && !dynamic_cast<TKorvaneIO*>(c) && !dynamic_cast<TKorvaneMIO*>(c)) return;
  if (attached_) RemoveFreeNotification(attached_);
  attached_ = c;
  if (c) FreeNotification(c);
}

void TSaveKorvaneDialog::Notification(TComponent* AComponent, TOperation Operation) {
  TOpenKorvaneDialog::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == attached_) attached_ = nullptr;
}

TIOParamsVals* TSaveKorvaneDialog::AttachedParams() const {
  if (auto* io = dynamic_cast<TKorvaneIO*>(attached_)) return io->Params();
  if (auto* mio = dynamic_cast<TKorvaneMIO*>(attached_)) return mio->GetParams(0);
  return nullptr;
}

bool TSaveKorvaneDialog::Execute() {
  if (auto* mio = dynamic_cast<TKorvaneMIO*>(attached_); mio && mio->GetParamsCount() == 0) return false;
  has_preview_ = ExOptions.Contains(sdShowPreview);
  AdvancedButton->setVisible(ExOptions.Contains(sdShowAdvanced));
  AdvancedButton->setText(Q(kvmsg(KVMSG_ADVANCED, MsgLanguage)) + "...");
  PreviewCheck->setText(Q(kvmsg(KVMSG_PREVIEW, MsgLanguage)));
  PreviewCheck->setVisible(has_preview_);
  TIOParamsVals* params = AttachedParams();
  if (params) snapshot_.Assign(params);
  const bool ok = DoExecute(true);
  // The advanced page edits the component's own record: a cancel undoes it.
  params = AttachedParams();
  if (!ok && params) params->Assign(&snapshot_);
  const std::string name = GetFileName();
  if (!name.empty() && QFileInfo(Q(name)).suffix().isEmpty()) {
    std::string ext = PatternExt(cur_pattern_);
    if (ext.empty() && !DefaultExt.empty()) ext = DefaultExt[0] == '.' ? DefaultExt : "." + DefaultExt;
    if (!ext.empty()) {
      SetFileName(name + ext);
      if (!files_.empty()) files_.front() = name + ext;
    }
  }
  return ok;
}

void TSaveKorvaneDialog::DoAdvanced() {
  auto page = [](std::string e, TPreviewParamsItem& pp) {
    if (!e.empty() && e[0] != '.') e = "." + e;
    e = QString::fromStdString(e).toLower().toStdString();
    if (e == ".jpg" || e == ".jpeg")
      pp = ppJPEG;
    else if (e == ".tif" || e == ".tiff")
      pp = ppTIFF;
    else if (e == ".gif")
      pp = ppGIF;
    else if (e == ".bmp")
      pp = ppBMP;
    else if (e == ".pcx")
      pp = ppPCX;
    else if (e == ".png")
      pp = ppPNG;
    else
      return false;
    return true;
  };
  TPreviewParamsItem pp = ppALL;
  if (!page(LowerExt(GetFileName()), pp) && !page(DefaultExt, pp)) return;
  if (auto* io = dynamic_cast<TKorvaneIO*>(attached_))
    io->DoPreviews({pp});
  else if (auto* mio = dynamic_cast<TKorvaneMIO*>(attached_))
    mio->DoPreviews(0, {pp});
}

void TSaveKorvaneDialog::DoTypeChange() {
  if (dialog_) {
    auto* edit = dialog_->findChild<QLineEdit*>("fileNameEdit");
    QString typed = edit ? edit->text() : QFileInfo(Q(GetFileName())).fileName();
    const QString ext = Q(PatternExt(cur_pattern_));
    if (!typed.isEmpty() && !ext.isEmpty()) {
      // Only the extension of the last path part changes (a leading dot
      // counts as one, as the dialog's own rewrite takes it).
      const int slash = int(typed.lastIndexOf('/'));
      const int dot = int(typed.lastIndexOf('.'));
      if (dot > slash) typed.truncate(dot);
      typed += ext;
      if (edit)
        edit->setText(typed);
      else
        dialog_->selectFile(typed);
    }
  }
  TOpenKorvaneDialog::DoTypeChange();
}

}  // namespace korvane
