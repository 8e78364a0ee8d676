/// \file
/// Scanner acquisition through TWAIN: complete connections to a source manager
/// (load, open, open a source, negotiate, enable, pump events until the images
/// have arrived, close everything), and TKVTWainParams, the source choice and
/// capability values an I/O component owns.
///
/// The source manager is an installed TWAIN data source manager opened with
/// dlopen (KORVANE_TWAIN_DSM names its path; otherwise libtwaindsm.so) or,
/// when none is installed, Korvane's built-in manager that presents SANE
/// devices as sources (sane_dsm.h). KORVANE_TWAIN_DSM=sane picks the built-in
/// manager directly. Every call is a whole connection that ends with the
/// manager unloaded.
#pragma once
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "korvane/acquire/twain_types.h"
#include "korvane/foundations/containers.h"
#include "korvane/foundations/host/controls.h"
#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvdefs.h"
#include "korvane/io/ioparams.h"

namespace korvane {

/// An acquisition that could not end well although the source opened: the
/// source did not answer within the time limit ("TWAIN source did not
/// answer"), or sent a memory transfer the library cannot copy ("TWAIN image
/// format not supported"). The connection is closed (state 1) first.
class KORVANE_EXPORT ETWainError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Called once per page in multi-page mode with the page bitmap (the caller
/// frees it afterwards: copy what you keep). The receiver sets Params to the
/// record the TWAIN layer then fills with the page's format (left null, the
/// page's format is not reported).
using TKVTWMultiCallBack = std::function<void(TBitmap* Bitmap, TIOParamsVals*& Params)>;

/// The TWAIN source choice and capability values. The source list and the
/// capabilities of the selected source are read lazily, on first use, from the
/// source manager; every capability getter fills them first. Lists carry their
/// change flags: only the parts changed since they were read are sent to the
/// source at the next acquisition.
class KORVANE_EXPORT TKVTWainParams : public TObject {
 public:
  /// Starts with the defaults of SetDefaultParams; nothing is read from the source manager yet.
  explicit TKVTWainParams(TComponent* Owner = nullptr);
  ~TKVTWainParams() override;
  TKVTWainParams(const TKVTWainParams&) = delete;
  TKVTWainParams& operator=(const TKVTWainParams&) = delete;

  /// The component that owns these parameters (not owned here); may be null.
  TComponent* Owner() const { return owner_; }

  /// Empties the source list and resets every field to its default.
  void SetDefaultParams();
  /// Copies every field, the source list and the lists.
  void Assign(const TKVTWainParams* Source);

  /// Reads the source list once (until SetDefaultParams), then the selected
  /// source's capabilities.
  void FillSourceListData();
  /// Reads the selected source's capabilities once per selection.
  void FillCapabilities();
  /// Sends the pending changes to the selected source and reads every
  /// capability back.
  void Update();

  /// ProductName of source i ("" outside the list).
  std::string GetSourceName(int i);
  /// Number of sources the source manager offers; reads the source list on first use.
  int GetSourceCount();
  /// Identity of source i in the list (null outside it).
  const TW_IDENTITY* GetSourceIdentity(int i);
  /// Selects the first source whose ProductName begins with Name, ignoring
  /// case; false when none does.
  bool SelectSourceByName(const std::string& Name);
  /// Index of the source the next acquisition uses; 0 by default.
  int GetSelectedSource() const { return selected_; }
  /// A different index is stored and that source's capabilities are read.
  void SetSelectedSource(int i);

  /// Whether the source shows its own user interface while acquiring; true by default.
  bool GetVisibleDialog() const { return visible_dialog_; }
  /// Takes effect at the next acquisition.
  void SetVisibleDialog(bool v) { visible_dialog_ = v; }

  /// Horizontal resolutions in dots per inch: the values the source offers and the current one.
  /// Empty when the source does not report them. Change the list to send new values at the next acquisition.
  TKVDoubleList* GetXResolution();
  /// Vertical resolutions in dots per inch, as GetXResolution.
  TKVDoubleList* GetYResolution();
  /// Horizontal scaling factors (1 = actual size); a single current 1.0 when the source does not report them.
  TKVDoubleList* GetXScaling();
  /// Vertical scaling factors, as GetXScaling.
  TKVDoubleList* GetYScaling();
  /// 0 black and white, 1 gray, 2 RGB.
  TKVIntegerList* GetPixelType();
  /// Orientations as TWAIN codes (0 upright, 1 a quarter turn, 2 half a turn, 3 three quarters);
  /// a single 0 when the source does not report them. Changes are sent at the next acquisition.
  TKVIntegerList* GetOrientation();
  /// The source's gamma; 2.2 when it does not report one. Read-only.
  double GetGamma();
  /// Height of the source's largest scan area in inches; 0 when unknown. Read-only.
  double GetPhysicalHeight();
  /// Width of the source's largest scan area in inches; 0 when unknown. Read-only.
  double GetPhysicalWidth();
  /// Whether pages come from the document feeder rather than the flatbed; false by default.
  bool GetFeederEnabled();
  /// Sent to the source at every acquisition.
  void SetFeederEnabled(bool v) { feeder_enabled_ = v; }
  /// Whether the source shows its progress indicators while scanning; true by default.
  bool GetIndicators();
  /// Sent to the source at every acquisition.
  void SetIndicators(bool v) { indicators_ = v; }
  /// The scan area in inches: 0 left, 1 top, 2 right, 3 bottom. Other indexes
  /// read 0 and are not stored.
  double GetAcquireFrame(int i);
  /// Sets one side of the scan area; ignored for other indexes. The frame is sent only when right
  /// exceeds left and bottom exceeds top; otherwise the source keeps its own.
  void SetAcquireFrame(int i, double v);
  /// Memory (strip) transfer instead of native when the source agrees.
  bool GetBufferedTransfer() const { return buffered_; }
  /// Takes effect at the next acquisition; true by default.
  void SetBufferedTransfer(bool v) { buffered_ = v; }
  /// The longest an acquisition waits for the source's next message (an
  /// image ready, a close request), in milliseconds; 0 waits for ever. User
  /// input to the application restarts the wait.
  int GetTimeLimit() const { return time_limit_ms_; }
  /// Sets the time limit; a negative value counts as 0 (no limit).
  void SetTimeLimit(int Milliseconds) { time_limit_ms_ = Milliseconds < 0 ? 0 : Milliseconds; }
  /// The default time limit: five minutes.
  static constexpr int kDefaultTimeLimit = 5 * 60 * 1000;

 private:
  friend class TTWainSession;

  TComponent* owner_;
  bool visible_dialog_ = true;
  TKVRecordList sources_{int(sizeof(TW_IDENTITY))};
  int selected_ = 0;
  bool sources_filled_ = false;
  bool caps_filled_ = false;
  TKVDoubleList xres_, yres_, xscale_, yscale_;
  TKVIntegerList pixel_type_;
  double gamma_ = 2.2;
  double physical_height_ = 0;
  double physical_width_ = 0;
  bool feeder_enabled_ = false;
  TKVIntegerList orientation_;
  bool indicators_ = true;
  double frame_[4] = {0, 0, 0, 0};
  bool buffered_ = true;
  int time_limit_ms_ = kDefaultTimeLimit;
};

/// The source manager's own source selection. Name receives the ProductName
/// of the chosen source; true when one was chosen. A null window uses a hidden
/// proxy window.
KORVANE_EXPORT bool KVTW_SelectImageSource(HWND Window, std::string& Name);
/// Clears List, then appends the 156-byte identity of every source.
KORVANE_EXPORT void KVTW_GetSourceList(TKVRecordList* List);
/// One acquisition from the selected source into Bitmap (single-image mode)
/// or, in multi-page mode, of every page through Callback. Params receives the
/// image's format (single-image mode). True when at least one image arrived.
/// Raises ETWainError (see there), and passes on what Callback or the
/// progress handler raises; the connection is closed first either way.
KORVANE_EXPORT bool KVTW_Acquire(HWND Window, TBitmap* Bitmap, bool MultiPage, TProgressRec& Progress,
                                 TIOParamsVals* Params, TKVTWainParams* TWainParams,
                                 const TKVTWMultiCallBack& Callback = {});
/// Takes a single-image acquisition strip by strip as the source sends it,
/// instead of as one bitmap: a page far larger than memory can go straight
/// to a file (see KVTW_AcquireStrips).
class TKVTWainStripSink {
 public:
  virtual ~TKVTWainStripSink() = default;
  /// Before the first strip: the page's size, depth and resolution (Width,
  /// Height, BitsPerSample, SamplesPerPixel, DpiX, DpiY).
  virtual void Begin(const TIOParamsVals& Params) = 0;
  /// Rows Y0 .. Y0 + Count - 1 of the page: the first Count rows of Strip, a
  /// bitmap as wide as the page, 1-bit for black-and-white pages and 24-bit
  /// otherwise. Strips may come in any order.
  virtual void Rows(int Y0, int Count, const TBitmap& Strip) = 0;
};
/// One image from the selected source through Sink, like KVTW_Acquire in
/// single-image mode: Params (when given) receives the image's format, and
/// the result, the errors and the closing of the connection are the same.
/// Memory transfers hand each strip over as it arrives; a source that only
/// transfers whole images hands the page over as one strip.
KORVANE_EXPORT bool KVTW_AcquireStrips(HWND Window, TKVTWainStripSink& Sink, TProgressRec& Progress,
                                       TIOParamsVals* Params, TKVTWainParams* TWainParams);
/// Opens the selected source, sends the pending changes first when Update is
/// set, and reads every capability into TWainParams. False when the source
/// could not be opened (the capabilities then hold their failure values).
KORVANE_EXPORT bool KVTW_GetCapabilities(TKVTWainParams* TWainParams, bool Update);

/// What the last KVTW_ call ended with: its final state (1 after every
/// complete call), the last return code and, when opening or enabling the
/// source failed, the condition code. For diagnostics and tests.
struct TKVTWainCallInfo {
  int FinalState = 1;           ///< state the connection was left in, 1 to 7
  TW_UINT16 ReturnCode = 0;     ///< return code of the last operation the call sent
  TW_UINT16 ConditionCode = 0;  ///< condition code when opening or enabling the source failed, else 0
  bool BuiltinManager = false;  ///< the SANE manager answered
};
/// The record of the last KVTW_ call of the process; the defaults before any call.
KORVANE_EXPORT TKVTWainCallInfo KVTW_LastCallInfo();

}  // namespace korvane
