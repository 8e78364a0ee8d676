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
/// Option set of the dialogs. Used: ofAllowMultiSelect, ofOverwritePrompt (the save dialog asks
/// before overwriting), ofNoDereferenceLinks; a run sets ofExtensionDifferent. Others have no effect.
using TOpenOptions = TSet<TOpenOption>;

/// Asked when the user confirms a file; setting CanClose false keeps the
/// dialog open.
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;

/// The base of the two dialogs: the modal run of the file dialog and the
/// notifications every dialog has.
class KORVANE_EXPORT TKVCommonDialog : public TComponent {
 public:
  /// A dialog component that is not running; AOwner, when given, owns and frees it.
  explicit TKVCommonDialog(TComponent* AOwner = nullptr);
  ~TKVCommonDialog() override;

  /// Kept with the component's settings; the Qt dialog does not use it.
  bool Ctl3D = true;
  /// Help topic number, kept with the settings; the dialog offers no help button.
  int HelpContext = 0;
  /// Language of the captions (looked up when the dialog opens).
  TMsgLanguage MsgLanguage = msSystem;
  /// The window the dialog is modal to (none: application modal).
  QWidget* ParentWidget = nullptr;
  /// OnShow runs once the dialog and its pane are laid out and shown; OnClose
  /// after it closed.
  TNotifyEvent OnClose;
  /// See OnClose: called once, when the dialog first shows.
  TNotifyEvent OnShow;

  /// The file dialog while it is open, else null (tests and applications
  /// drive it through this).
  QFileDialog* Dialog() const { return dialog_; }

  /// Notification steps of the running dialog (public so that the dialog
  /// window can call them).
  virtual void DoShow();
  /// Raises OnClose; RunModal calls it after the dialog closed, whatever the answer.
  virtual void DoClose();
  /// The file under the cursor changed; the open dialog previews it and raises OnSelectionChange.
  virtual void DoSelectionChange() {}
  /// The file under the cursor changed to path: DoSelectionChange runs with
  /// GetFileName answering path (the dialog's own selection lags behind).
  void SelectionChangedTo(const std::string& path);
  /// The dialog entered another folder; the open dialog raises OnFolderChange.
  virtual void DoFolderChange() {}
  /// Another file type filter was chosen; the open dialog raises OnTypeChange.
  virtual void DoTypeChange() {}
  /// File-ok: false keeps the dialog open.
  virtual bool CanClose() { return true; }
  /// The filter chosen in the running dialog changed to the 1-based index.
  virtual void FilterSelected(int) {}

 protected:
  /// Runs d modally; true when the user confirmed.
  bool RunModal(QFileDialog* d);

  /// The running file dialog, null between runs.
  QFileDialog* dialog_ = nullptr;
  /// The path of the selection change being handled.
  std::string sel_path_;
  /// True while SelectionChangedTo runs, so that GetFileName answers sel_path_.
  bool in_sel_path_ = false;
};

/// Gives a file dialog the labels of a language from the message tables:
/// "Look in", "File name", "Files of type" and the two buttons ("Open" or
/// "Save" by its accept mode, and "Cancel").
KORVANE_EXPORT void KVSetFileDialogLanguage(QFileDialog* d, TMsgLanguage lang);

/// The open dialog: a file dialog with a preview pane that shows the file under the cursor and its
/// size, colors, resolution, file size and memory need.
class KORVANE_EXPORT TOpenKorvaneDialog : public TKVCommonDialog {
 public:
  /// Builds the preview pane (owned, outside any dialog until a run) with its own I/O components
  /// and a filter of every graphics format the library reads.
  explicit TOpenKorvaneDialog(TComponent* AOwner = nullptr);
  /// Frees the preview components and then the pane.
  ~TOpenKorvaneDialog() override;

  /// Runs the dialog; true when the user confirmed a file.
  virtual bool Execute();

  /// @name Published
  //@{
  /// Extension (with or without the dot) a name typed without one gets; a confirmed name with
  /// another extension sets ofExtensionDifferent.
  std::string DefaultExt;
  /// "Description|pattern|Description|pattern...", patterns separated by ";".
  std::string Filter;
  /// The dialog's options (ofHideReadOnly by default).
  TOpenOptions Options{ofHideReadOnly};
  /// Window title; empty gives "Open" or "Save" in MsgLanguage.
  std::string Title;
  /// Asked when the user confirms a file; CanClose false keeps the dialog open.
  TCloseQueryEvent OnCanClose;
  /// Called after the dialog entered another folder.
  TNotifyEvent OnFolderChange;
  /// Called after the file under the cursor changed (and, when the preview is on, was loaded).
  TNotifyEvent OnSelectionChange;
  /// Called after the user chose another file type filter.
  TNotifyEvent OnTypeChange;

  /// The full path: the running dialog's, else the stored one.
  std::string GetFileName() const;
  /// Sets the file the next run starts on (its folder, when InitialDir is empty, and its name).
  void SetFileName(const std::string& s) { file_name_ = s; }
  /// 1-based; the running dialog's, else the stored one.
  int GetFilterIndex() const;
  /// Sets the 1-based filter the next run starts with (out of range: the first).
  void SetFilterIndex(int i) { filter_index_ = i; }
  /// Folder the next run opens in; empty takes the folder of FileName.
  const std::string& GetInitialDir() const { return initial_dir_; }
  /// Drops one trailing "/" (not the root's).
  void SetInitialDir(const std::string& s);
  /// Folders offered in the dialog's history list.
  const std::vector<std::string>& GetHistoryList() const { return history_; }
  /// Sets the folders offered in the history list.
  void SetHistoryList(const std::vector<std::string>& l) { history_ = l; }
  /// The confirmed files: one, or all selected with ofAllowMultiSelect.
  const std::vector<std::string>& Files() const { return files_; }
  //@}

  /// @name The preview pane (owned; inside the dialog while it runs)
  //@{
  /// Panel below the dialog's controls with the file labels, the preview check box and "Advanced".
  QWidget* InfoPanel = nullptr;
  QLabel* InfoLabel1 = nullptr;  ///< file type
  QLabel* InfoLabel2 = nullptr;  ///< file and memory size
  /// The save dialog's "Advanced..." button (hidden in the open dialog).
  QPushButton* AdvancedButton = nullptr;
  /// "Preview" check box: unchecked, only the parameters of the file are read and shown.
  QCheckBox* PreviewCheck = nullptr;
  /// Panel right of the dialog's controls with the views, picture labels and tools.
  QWidget* PicturePanel = nullptr;
  QLabel* PicLabel1 = nullptr;  ///< size
  QLabel* PicLabel2 = nullptr;  ///< colors
  QLabel* PicLabel3 = nullptr;  ///< resolution
  /// Zoom of the single-image view: "Fit" or a percentage from 25 to 400.
  QComboBox* ZoomCombo = nullptr;
  /// Opens the current image in a separate preview window.
  QToolButton* PreviewButton = nullptr;
  /// Plays or stops a multi-image file in the thumbnail view.
  QToolButton* PlayButton = nullptr;
  /// The view that shows single-image files.
  TKorvaneView* KorvaneView = nullptr;
  /// The thumbnail view that shows multi-image files (AVI, GIF and TIFF of several images).
  TKorvaneMView* KorvaneMView = nullptr;
  /// Progress of the preview load, shown while it runs.
  QProgressBar* ProgressBar = nullptr;
  /// The I/O component that loads single-image previews into KorvaneView.
  TKorvaneIO* PreviewIO() const { return io_.get(); }
  /// The multi-image I/O component that loads multi-image previews into KorvaneMView.
  TKorvaneMIO* PreviewMIO() const { return mio_.get(); }
  /// Frames of the file last previewed and its size in bytes.
  int FrameCount() const { return frames_; }
  /// Size in bytes of the file last previewed.
  int64_t PreviewFileSize() const { return file_size_; }
  //@}

  /// @name Steps (see TKVCommonDialog)
  //@{
  /// Fits the file list's columns, fills the zoom list, resets the views and raises OnShow.
  void DoShow() override;
  /// Previews the file under the cursor (or reads only its parameters with the preview off), then
  /// raises OnSelectionChange; a file that fails to load clears the pane.
  void DoSelectionChange() override;
  /// Raises OnFolderChange.
  void DoFolderChange() override;
  /// Raises OnTypeChange.
  void DoTypeChange() override;
  /// Asks OnCanClose; true when there is no handler.
  bool CanClose() override;
  /// Keeps the filter's pattern (a save dialog takes its extension as the default suffix) and
  /// raises DoTypeChange when the index changed.
  void FilterSelected(int index) override;
  /// Fills the labels from a parameters record; null clears them.
  void ShowIOParams(const TIOParamsVals* params);
  /// Zoom combo: "Fit" fits, the rest sets the percentage.
  void SetZoom();
  /// The preview window over the current image (modal, "PreviewForm").
  void PreviewClick();
  /// Starts or stops playing the thumbnail view with the play button's state.
  void PlayClick();
  /// Follows the preview check box: on previews the current file, off clears the pane.
  void DoCheckPreview();

  /// The pattern of the 1-based filter ("*.jpg;*.jpeg"); empty outside.
  std::string FilterPattern(int index) const;
  //@}

 protected:
  /// Builds the file dialog for a run; the template flag adds the pane.
  bool DoExecute(bool acceptSave);
  /// The extension (no dot) a name typed without one gets: for saving the
  /// current filter's, else DefaultExt, else that of FileName.
  std::string DefaultSuffix(bool save) const;
  /// The pattern of the current filter, kept while the dialog runs.
  std::string cur_pattern_;
  /// Whether this run shows the picture panel.
  bool has_preview_ = true;
  /// The files confirmed in the last run.
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
/// The save dialog's options (both by default).
using TKVSaveDlgOpts = TSet<TKVSaveDlgOpt>;

/// The save dialog: the open dialog in save mode, with a filter of the formats the library writes,
/// a typed name's extension following the chosen type, and "Advanced..." for the save parameters.
class KORVANE_EXPORT TSaveKorvaneDialog : public TOpenKorvaneDialog {
 public:
  /// A save dialog with no attached I/O component; AOwner, when given, owns and frees it.
  explicit TSaveKorvaneDialog(TComponent* AOwner = nullptr);
  /// Frees the dialog (the attached component is not owned).
  ~TSaveKorvaneDialog() override;

  /// Runs the save dialog; true when the user confirmed a name, which gets the chosen type's
  /// extension (else DefaultExt) when it has none. A cancel restores the attached parameters;
  /// false at once when an attached multi-image component holds no images.
  bool Execute() override;

  /// sdShowPreview shows the picture panel, sdShowAdvanced the "Advanced..." button.
  TKVSaveDlgOpts ExOptions{sdShowPreview, sdShowAdvanced};
  /// The TKorvaneIO or TKorvaneMIO whose parameters "Advanced..." edits, or null.
  TComponent* GetAttachedKorvaneIO() const { return attached_; }
  /// A TKorvaneIO or a TKorvaneMIO; anything else is refused (nothing changes).
  void SetAttachedKorvaneIO(TComponent* c);

  /// Opens the save-parameters page of the format of the typed name (else of
  /// DefaultExt) on the attached component.
  void DoAdvanced();
  /// Gives the typed name the chosen type's extension, then raises OnTypeChange.
  void DoTypeChange() override;
  /// Forgets the attached component when it is destroyed.
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  /// The attached component's parameters (image 0 of a multi-image one).
  TIOParamsVals* AttachedParams() const;

  TComponent* attached_ = nullptr;
  TIOParamsVals snapshot_;
};

}  // namespace korvane
