/// \file
/// Open and save dialogs with an image preview: TOpenKorvaneDialog and
/// TSaveKorvaneDialog run a (non-native) QFileDialog extended with a pane that
/// loads the file under the cursor into a private image view, or a thumbnail
/// view for multi-image files, and shows its size, colors, resolution, file
/// size and memory need. The save dialog adds an "Advanced" button that opens
/// the save-parameters page of the chosen format on the attached I/O
/// component, and puts that component's parameters back when cancelled.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/object.h"
#include "korvane/foundations/kvdefs.h"
#include "korvane/io/ioparams.h"

class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;
class QWidget;

namespace korvane {

class TKorvaneView;
class TKorvaneMView;
class TKorvaneIO;
class TKorvaneMIO;

/// Options of the open and save dialogs.
enum TOpenOption {
  ofReadOnly,
  ofOverwritePrompt,
  ofHideReadOnly,
  ofNoChangeDir,
  ofShowHelp,
  ofNoValidate,
  ofAllowMultiSelect,
  ofExtensionDifferent,
  ofPathMustExist,
  ofFileMustExist,
  ofCreatePrompt,
  ofShareAware,
  ofNoReadOnlyReturn,
  ofNoTestFileCreate,
  ofNoNetworkButton,
  ofNoLongNames,
  ofOldStyleDialog,
  ofNoDereferenceLinks,
  ofEnableIncludeNotify,
  ofEnableSizing
};
using TOpenOptions = TSet<TOpenOption>;

/// Asked when the user confirms a file; setting CanClose false keeps the
/// dialog open.
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;

/// The base of the two dialogs: the modal run of the file dialog and the
/// notifications every dialog has.
class KORVANE_EXPORT TKVCommonDialog : public TComponent {
 public:
  explicit TKVCommonDialog(TComponent* AOwner = nullptr);
  ~TKVCommonDialog() override;

  bool Ctl3D = true;
  int HelpContext = 0;
  /// Language of the captions (looked up when the dialog opens).
  TMsgLanguage MsgLanguage = msSystem;
  /// The window the dialog is modal to (none: application modal).
  QWidget* ParentWidget = nullptr;
  /// OnShow runs once the dialog and its pane are laid out and shown; OnClose
  /// after it closed.
  TNotifyEvent OnClose;
  TNotifyEvent OnShow;

  /// The file dialog while it is open, else null (tests and applications
  /// drive it through this).
  QFileDialog* Dialog() const { return dialog_; }

  /// Notification steps of the running dialog (public so that the dialog
  /// window can call them).
  virtual void DoShow();
  virtual void DoClose();
  virtual void DoSelectionChange() {}
  /// The file under the cursor changed to path: DoSelectionChange runs with
  /// GetFileName answering path (the dialog's own selection lags behind).
  void SelectionChangedTo(const std::string& path);
  virtual void DoFolderChange() {}
  virtual void DoTypeChange() {}
  /// File-ok: false keeps the dialog open.
  virtual bool CanClose() { return true; }
  /// The filter chosen in the running dialog changed to the 1-based index.
  virtual void FilterSelected(int) {}

 protected:
  /// Runs d modally; true when the user confirmed.
  bool RunModal(QFileDialog* d);

  QFileDialog* dialog_ = nullptr;
  /// The path of the selection change being handled.
  std::string sel_path_;
  bool in_sel_path_ = false;
};

/// Gives a file dialog the labels of a language from the message tables:
/// "Look in", "File name", "Files of type" and the two buttons ("Open" or
/// "Save" by its accept mode, and "Cancel").
KORVANE_EXPORT void KVSetFileDialogLanguage(QFileDialog* d, TMsgLanguage lang);

class KORVANE_EXPORT TOpenKorvaneDialog : public TKVCommonDialog {
 public:
  explicit TOpenKorvaneDialog(TComponent* AOwner = nullptr);
  ~TOpenKorvaneDialog() override;

  /// Runs the dialog; true when the user confirmed a file.
  virtual bool Execute();

  /// @name Published
  /// @{
  std::string DefaultExt;
  /// "Description|pattern|Description|pattern...", patterns separated by ";".
  std::string Filter;
  TOpenOptions Options{ofHideReadOnly};
  std::string Title;
  TCloseQueryEvent OnCanClose;
  TNotifyEvent OnFolderChange;
  TNotifyEvent OnSelectionChange;
  TNotifyEvent OnTypeChange;

  /// The full path: the running dialog's, else the stored one.
  std::string GetFileName() const;
  void SetFileName(const std::string& s) { file_name_ = s; }
  /// 1-based; the running dialog's, else the stored one.
  int GetFilterIndex() const;
  void SetFilterIndex(int i) { filter_index_ = i; }
  const std::string& GetInitialDir() const { return initial_dir_; }
  /// Drops one trailing "/" (not the root's).
  void SetInitialDir(const std::string& s);
  const std::vector<std::string>& GetHistoryList() const { return history_; }
  void SetHistoryList(const std::vector<std::string>& l) { history_ = l; }
  /// The confirmed files: one, or all selected with ofAllowMultiSelect.
  const std::vector<std::string>& Files() const { return files_; }
  /// @}

  /// @name The preview pane (owned; inside the dialog while it runs)
  /// @{
  QWidget* InfoPanel = nullptr;
  QLabel* InfoLabel1 = nullptr;  ///< file type
  QLabel* InfoLabel2 = nullptr;  ///< file and memory size
  QPushButton* AdvancedButton = nullptr;
  QCheckBox* PreviewCheck = nullptr;
  QWidget* PicturePanel = nullptr;
  QLabel* PicLabel1 = nullptr;  ///< size
  QLabel* PicLabel2 = nullptr;  ///< colors
  QLabel* PicLabel3 = nullptr;  ///< resolution
  QComboBox* ZoomCombo = nullptr;
  QToolButton* PreviewButton = nullptr;
  QToolButton* PlayButton = nullptr;
  TKorvaneView* KorvaneView = nullptr;
  TKorvaneMView* KorvaneMView = nullptr;
  QProgressBar* ProgressBar = nullptr;
  TKorvaneIO* PreviewIO() const { return io_.get(); }
  TKorvaneMIO* PreviewMIO() const { return mio_.get(); }
  /// Frames of the file last previewed and its size in bytes.
  int FrameCount() const { return frames_; }
  int64_t PreviewFileSize() const { return file_size_; }
  /// @}

  /// @name Steps (see TKVCommonDialog)
  /// @{
  void DoShow() override;
  void DoSelectionChange() override;
  void DoFolderChange() override;
  void DoTypeChange() override;
  bool CanClose() override;
  void FilterSelected(int index) override;
  /// Fills the labels from a parameters record; null clears them.
  void ShowIOParams(const TIOParamsVals* params);
  /// Zoom combo: "Fit" fits, the rest sets the percentage.
  void SetZoom();
  /// The preview window over the current image (modal, "PreviewForm").
  void PreviewClick();
  void PlayClick();
  void DoCheckPreview();

  /// The pattern of the 1-based filter ("*.jpg;*.jpeg"); empty outside.
  std::string FilterPattern(int index) const;
  /// @}

 protected:
  /// Builds the file dialog for a run; the template flag adds the pane.
  bool DoExecute(bool acceptSave);
  /// The extension (no dot) a name typed without one gets: for saving the
  /// current filter's, else DefaultExt, else that of FileName.
  std::string DefaultSuffix(bool save) const;
  /// The pattern of the current filter, kept while the dialog runs.
  std::string cur_pattern_;
  bool has_preview_ = true;
  std::vector<std::string> files_;

 private:
  void Unparent();
  void ClearPreview();

  std::string file_name_;
  int filter_index_ = 1;
  int cur_filter_index_ = 1;
  std::string initial_dir_;
  std::vector<std::string> history_;
  int64_t file_size_ = 0;
  int frames_ = 1;
  bool in_selection_ = false;
  std::unique_ptr<TKorvaneIO> io_;
  std::unique_ptr<TKorvaneMIO> mio_;
};

/// Save dialog options.
enum TKVSaveDlgOpt { sdShowPreview, sdShowAdvanced };
using TKVSaveDlgOpts = TSet<TKVSaveDlgOpt>;

class KORVANE_EXPORT TSaveKorvaneDialog : public TOpenKorvaneDialog {
 public:
  explicit TSaveKorvaneDialog(TComponent* AOwner = nullptr);
  ~TSaveKorvaneDialog() override;

  bool Execute() override;

  TKVSaveDlgOpts ExOptions{sdShowPreview, sdShowAdvanced};
  TComponent* GetAttachedKorvaneIO() const { return attached_; }
  /// A TKorvaneIO or a TKorvaneMIO; anything else is refused (nothing changes).
  void SetAttachedKorvaneIO(TComponent* c);

  /// Opens the save-parameters page of the format of the typed name (else of
  /// DefaultExt) on the attached component.
  void DoAdvanced();
  void DoTypeChange() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  /// The attached component's parameters (image 0 of a multi-image one).
  TIOParamsVals* AttachedParams() const;

  TComponent* attached_ = nullptr;
  TIOParamsVals snapshot_;
};

}  // namespace korvane
