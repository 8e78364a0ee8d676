// The demo application: a main window around one combined image component
// (view, file I/O and processing in one control) that shows a sample picture
// made for judging zoom and zoom filters, with menus and a toolbar for the
// view's display options and mouse modes, open and save dialogs with a
// preview, a vector annotation layer over a copy of the picture, a choice of
// the dialogs' language, and a status bar that follows zoom, origin, the
// pixel under the mouse and the selection.
#pragma once
#include <QColor>
#include <QImage>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "apps/korvane-demo/image_history.h"
#include "korvane/combined/kvcombined.h"
#include "korvane/io/kvio.h"
#include "korvane/proc/kvproc.h"
#include "korvane/vect/kvvect.h"
#include "korvane/view/kvview.h"

class QAction;
class QActionGroup;
class QLabel;
class QStackedWidget;

namespace korvane::demo {

class ControlsPanel;

// Size of the sample picture.
constexpr int kSampleWidth = 1600;
constexpr int kSampleHeight = 1200;
// Size of the window a screenshot is taken of.
constexpr int kScreenshotWidth = 1000;
constexpr int kScreenshotHeight = 700;
// Largest zoom the command line and the zoom-in action go to (the zoomed
// size of the sample picture stays far from integer limits).
constexpr int kMaxZoom = 6400;

// Draws the sample picture into bmp (made kSampleWidth x kSampleHeight,
// 24-bit): colour and gray gradients, a zone plate, filled and outlined
// shapes, text in several sizes, one-pixel lines, a star chart, checkers and
// line pairs. Six panels of 800 x 400 pixels, each with a caption.
void DrawSamplePicture(TBitmap* bmp);

// What the command line asks for.
struct DemoOptions {
  QString screenshot;  // PNG to write; empty runs the window
  int zoom = 0;        // percent; 0 leaves the zoom alone
  bool fit = false;
  bool hasOrigin = false;
  int originX = 0, originY = 0;  // picture pixel shown at the view's top-left
  bool hasSelection = false;
  int selX1 = 0, selY1 = 0, selX2 = 0, selY2 = 0;  // bitmap pixels
  bool scrollBars = false;  // screenshots: show both bars (the window always starts with them)
  bool center = false;
  bool hasFilter = false;
  TResampleFilter filter = rfNone;
  bool hasBackground = false;
  TKVBackgroundStyle background = kvbsSolid;
  bool help = false;
  bool panel = false;   // show the panel of small controls
  bool camera = false;  // screenshots: the camera window with live synthetic video
  // Image operations run after the options above, in order (--process).
  QStringList process;
  // A file shown instead of the sample picture (--open), and its page,
  // frame or icon image (--index).
  QString open;
  int index = 0;
  // Play --open's multi-image file in the thumbnail browser, one large
  // frame at a time (--play); a screenshot shows frame --index as playing
  // shows it.
  bool play = false;
  // With --screenshot: render the open or save dialog ("open", "save")
  // instead of the window, with --open's file (else the sample) selected.
  QString dialog;
  // Language of the dialogs (--language en|it|de|es|fr|pt|system).
  TMsgLanguage language = msSystem;
};

// Parses the arguments that follow the program name. False, with a one-line
// reason in error, for an unknown option, a missing or malformed value, or a
// value out of range.
bool ParseDemoArgs(const QStringList& args, DemoOptions& opts, QString& error);
// The --help text.
QString DemoUsage();

// Tolerance of the magic wand (per channel).
constexpr int kWandTolerance = 24;

// The outline of the set bits of a 1-bit mask as one polygon through pixel
// corners: every boundary loop (the outer one and those of holes), each
// closed, the later ones reached from the first loop's start point and left
// back to it, so that the connecting edges cancel under the even-odd rule.
// Collinear corners are dropped. Empty for an empty mask.
std::vector<TPoint> MaskOutline(TBitmap* mask);

// True when the name is an operation --process knows ("wand:X:Y" included).
bool IsProcessOp(const QString& op);

// The demo's main window. The view is its central widget, owned through Qt
// parenting and deleted by the window's destructor before the window's own
// members go (its event handlers point into the window).
class MainWindow : public QMainWindow {
 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // The picture: the combined component, central unless annotating.
  TKorvane* View() const { return view_; }
  // The annotation layer, over a copy of the picture taken when annotating
  // starts (any Annotate mode does).
  TKorvaneVect* Annotation() const { return vect_; }
  bool Annotating() const;
  // Shows the annotation layer over a fresh copy of the picture.
  void EnterAnnotation();
  // Puts the layer's picture (with what was burned into it) back as the
  // picture, undoable.
  void TakeAnnotatedPicture();
  // Back to the picture; objects not burned stay on the layer.
  void LeaveAnnotation();
  // Language of the dialogs and of the components' own dialogs.
  TMsgLanguage Language() const { return language_; }
  void SetLanguage(TMsgLanguage l);
  // File > Open and File > Save As: the dialogs with preview (the save
  // dialog's Advanced button edits the I/O component's parameters).
  void OpenWithDialog();
  void SaveWithDialog();
  // Applies the display options of a command line (not the screenshot ones),
  // opening --open's file first. False, with the reason in error when given,
  // when that file cannot be read (the other options are still applied).
  bool ApplyOptions(const DemoOptions& o, QString* error = nullptr);
  // Sets the view's background to an RGB color.
  void SetBackgroundColor(const QColor& c);
  // The whole window as it looks now, after the view's pending paint.
  QImage Render();
  // Reads the view's state back into the checkable actions and the status bar.
  void SyncFromView();
  TKorvaneProc* Proc() const { return view_->Proc(); }
  // The docked panel of small controls (hidden until asked for).
  ControlsPanel* Panel() const { return panel_; }
  // Runs one image operation by its --process name; false for an unknown one.
  bool RunOp(const QString& op);
  // Runs a change of the picture and, when the picture did change, records
  // the state before it for Undo (and forgets what could be redone).
  void Modify(const std::function<void()>& change);
  // Image > Undo and Redo: step through the picture history; false when
  // there is nothing to step to.
  bool UndoPicture();
  bool RedoPicture();
  const ImageHistory& History() const { return history_; }
  // Selects the outline of the magic wand's region from bitmap pixel (x, y).
  void WandSelect(int x, int y, int tolerance = kWandTolerance);
  TKorvaneIO* IO() const { return view_->IO(); }
  // Loads a file by its extension (page, frame or icon image `index` of a
  // multi-image file) into the view; false with the reason in error.
  bool OpenFile(const QString& name, int index, QString& error);
  // Saves the view's picture in the format of the name's extension.
  bool SaveFileAs(const QString& name, QString& error);
  // Pages or frames of the file shown (1 for single images and the sample).
  int ImageCount() const { return image_count_; }

 private:
  // One builder per menu, each making its own actions (file_menu.cpp,
  // view_menu.cpp, image_menu.cpp); the constructor calls them in menu bar
  // order.
  void BuildFileMenu();
  void BuildViewMenus();  // View, Filter and Background
  void BuildImageMenu();
  void BuildMouseMenu();
  void BuildToolBar();
  void BuildLanguageMenu();
  void BuildStatusBar();
  void ConnectView();
  QAction* NewAction(const QString& text, const QString& name, const QString& iconText = {});
  void ZoomStep(bool in);
  void ToggleMouseItem(TKVMouseInteractItems item, bool on);
  void ShowPixel(int clientX, int clientY);
  void ShowZoomAndOrigin();
  void ShowSelection();
  void SetWandMode(bool on);

  // Shows the picture after the history replaced it.
  void PictureReplaced();

  TKorvane* view_ = nullptr;
  TKorvaneVect* vect_ = nullptr;
  ImageHistory history_;
  QStackedWidget* stack_ = nullptr;
  TMsgLanguage language_ = msSystem;
  std::vector<std::pair<QAction*, TMsgLanguage>> language_actions_;
  QString file_;         // the file shown; empty for the sample picture
  int image_count_ = 1;  // its pages or frames
  int image_index_ = 0;
  QAction* open_ = nullptr;
  QAction* save_as_ = nullptr;
  QAction* choose_image_ = nullptr;
  void ShowFileState();
  ControlsPanel* panel_ = nullptr;
  bool wand_mode_ = false;
  QAction* wand_ = nullptr;
  std::vector<std::pair<QAction*, QString>> image_actions_;
  std::vector<std::pair<QAction*, QString>> color_actions_;
  std::vector<QAction*> filter_op_actions_, transform_actions_, effect_actions_;
  QLabel* zoom_label_ = nullptr;
  QLabel* origin_label_ = nullptr;
  QLabel* pixel_label_ = nullptr;
  QLabel* selection_label_ = nullptr;

  QAction* quit_ = nullptr;
  QAction* zoom_in_ = nullptr;
  QAction* zoom_out_ = nullptr;
  QAction* zoom_100_ = nullptr;
  QAction* fit_ = nullptr;
  QAction* zoom_selection_ = nullptr;
  QAction* center_ = nullptr;
  QAction* double_buffer_ = nullptr;
  QAction* delay_filter_ = nullptr;
  QAction* background_color_ = nullptr;
  QAction* deselect_ = nullptr;
  std::vector<std::pair<QAction*, TResampleFilter>> filter_actions_;
  std::vector<std::pair<QAction*, TKVBackgroundStyle>> background_actions_;
  std::vector<std::pair<QAction*, TScrollStyle>> scroll_actions_;
  std::vector<std::pair<QAction*, TKVMouseInteractItems>> mouse_actions_;
};

// Builds a window of kScreenshotWidth x kScreenshotHeight off screen, applies
// the options (scroll bars only with opts.scrollBars), renders it, or the
// dialog opts.dialog names, and writes it as PNG to opts.screenshot. False
// with a reason when it cannot.
bool SaveScreenshot(const DemoOptions& opts, QString& error);

}  // namespace korvane::demo
