/// \file
/// Video capture drivers: the interface the capture window drives, the table
/// of pixel formats the video view negotiates over, and the process-wide
/// table of the ten driver indexes (0..9).
///
/// Index i answers with a registered driver when one is registered there,
/// else with the V4L2 camera /dev/video followed by i when that device
/// captures video.
#pragma once
#include <QWidget>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/winsys.h"

namespace korvane {

/// What a driver can do (the capture window's 44-byte capability record).
struct TCapDriverCaps {
  uint32_t wDeviceIndex = 0;            ///< driver index; the library's drivers leave it 0
  int32_t fHasOverlay = 0;              ///< non-zero when the device overlays video itself (none here)
  int32_t fHasDlgVideoSource = 0;       ///< non-zero when DialogVideoSource shows a dialog
  int32_t fHasDlgVideoFormat = 0;       ///< non-zero when DialogVideoFormat shows a dialog
  int32_t fHasDlgVideoDisplay = 0;      ///< non-zero when DialogVideoDisplay shows a dialog
  int32_t fCaptureInitialized = 0;      ///< non-zero while the driver is connected
  int32_t fDriverSuppliesPalettes = 0;  ///< non-zero when palette formats come with the driver's table
  /// \var hVideoIn
  /// Handle of the video-in channel; unused, 0.
  /// \var hVideoOut
  /// Handle of the video-out channel; unused, 0.
  /// \var hVideoExtIn
  /// Handle of the external-in channel; unused, 0.
  uint32_t hVideoIn = 0, hVideoOut = 0, hVideoExtIn = 0, hVideoExtOut = 0;  ///< external-out; unused
};
static_assert(sizeof(TCapDriverCaps) == 44, "CAPDRIVERCAPS layout");

/// The sequence capture settings (the capture window's 92-byte record; the
/// fields the library reads and writes are named, the rest kept as given).
struct TCaptureParms {
  uint32_t dwRequestMicroSecPerFrame = 66667;  ///< frame interval to record at, in microseconds (not 0)
  int32_t fMakeUserHitOKToCapture = 0;         ///< ask before recording; kept, never asked
  uint32_t wPercentDropForError = 10;          ///< drops that fail a recording, percent; kept, unused
  int32_t fYield = 0;                          ///< non-zero: Sequence returns at once, recording goes on
  uint32_t dwIndexSize = 0;                    ///< most index entries; kept, unused
  uint32_t wChunkGranularity = 0;              ///< file chunk size in bytes; kept, unused
  int32_t fUsingDOSMemory = 0;                 ///< kept, unused
  uint32_t wNumVideoRequested = 4;             ///< video buffers to allocate; kept, unused
  int32_t fCaptureAudio = 0;                   ///< -1 when the video view asks for sound; not recorded
  uint32_t wNumAudioRequested = 0;             ///< audio buffers to allocate; kept, unused
  uint32_t vKeyAbort = 0;                      ///< key that stops recording; kept, unused (Stop does)
  int32_t fAbortLeftMouse = 0;                 ///< left button stops recording; kept, unused
  int32_t fAbortRightMouse = 0;                ///< right button stops recording; kept, unused
  int32_t fLimitEnabled = 0;                   ///< non-zero: recording stops after wTimeLimit
  uint32_t wTimeLimit = 0;                     ///< seconds, when fLimitEnabled
  int32_t fMCIControl = 0;                     ///< drive an external video device; kept, unused
  int32_t fStepMCIDevice = 0;                  ///< step that device frame by frame; kept, unused
  /// \var dwMCIStartTime
  /// Where the external device starts, in milliseconds; kept, unused.
  uint32_t dwMCIStartTime = 0, dwMCIStopTime = 0;  ///< where it stops, ms; kept, unused
  int32_t fStepCaptureAt2x = 0;                    ///< step capture at twice the size; kept, unused
  uint32_t wStepCaptureAverageFrames = 0;          ///< frames averaged per step; kept, unused
  uint32_t dwAudioBufferSize = 0;                  ///< audio buffer bytes; kept, unused
  int32_t fDisableWriteCache = 0;                  ///< kept, unused
};
static_assert(sizeof(TCaptureParms) == 92, "CAPTUREPARMS layout");

/// One captured frame as the frame callback receives it.
struct TVideoHdr {
  const uint8_t* lpData = nullptr;  ///< the frame's pixels in the driver's format
  size_t dwBufferLength = 0;        ///< bytes at lpData
  size_t dwBytesUsed = 0;           ///< bytes of frame data, equal to dwBufferLength
  uint32_t dwTimeCaptured = 0;      ///< milliseconds since the capture began
};

/// An entry of the pixel format table: code and bits per pixel.
struct TKVVideoFormatEntry {
  char Code[5];  ///< four-character code, zero-terminated ("RGB " for BI_RGB)
  int Bits;      ///< bits per pixel
};
/// The formats the view negotiates, in the order they are tried.
constexpr int kVideoFormatCount = 16;
/// The table itself: "RGB " first, then the YUV codes.
extern KORVANE_EXPORT const TKVVideoFormatEntry VideoFormatTable[kVideoFormatCount];
/// Index of a code in the table, -1 when it is not there.
KORVANE_EXPORT int VideoFormatIndex(const std::string& code);
/// The four-character code of a compression value ("RGB " for BI_RGB).
KORVANE_EXPORT std::string FourCCToString(uint32_t fourcc);
/// The compression value of a four-character code: BI_RGB for "RGB ", else the code's characters
/// (a shorter code padded with spaces).
KORVANE_EXPORT uint32_t StringToFourCC(const std::string& code);
/// Bytes of one frame of the header's size and format: padded rows for
/// BI_RGB, width * height * bits / 8 otherwise (at least what the YUV
/// converters need for the code).
KORVANE_EXPORT size_t FrameBytes(const TBitmapInfoHeader& h);

/// A capture driver: one device, connected by the capture window. Frames are
/// pulled, never pushed: the window asks for one at each preview or
/// recording tick, so the library starts no threads.
class KORVANE_EXPORT TKVCaptureDriver {
 public:
  /// Closes nothing itself; each driver disconnects in its own destructor.
  virtual ~TKVCaptureDriver() = default;
  /// The device's name for driver lists, e.g. the camera's card name.
  virtual std::string Name() const = 0;
  /// The driver's version text, e.g. "1.0".
  virtual std::string Version() const = 0;
  /// Opens the device; false when it cannot be used.
  virtual bool Connect() = 0;
  /// Closes the device; nothing when it is not open. Settings made in dialogs stay with the object.
  virtual void Disconnect() = 0;
  /// True between a successful Connect and Disconnect.
  virtual bool Connected() const = 0;
  /// What the driver can do; fCaptureInitialized tells whether it is connected.
  virtual TCapDriverCaps Caps() const = 0;
  /// The current frame format (header and, for palette formats, table).
  virtual std::vector<uint8_t> GetFormat() const = 0;
  /// Asks for a frame format; true when the driver now delivers exactly it.
  virtual bool SetFormat(const TBitmapInfoHeader& h) = 0;
  /// The next frame into Data (resized to the frame). WaitMs 0 answers at
  /// once: false when no new frame is ready; a positive wait blocks up to that
  /// long for one.
  virtual bool ReadFrame(std::vector<uint8_t>& Data, int WaitMs) = 0;
  /// The driver's configuration dialogs; true when the user accepted one.
  virtual bool DialogVideoSource(QWidget* parent) {
    (void)parent;
    return false;
  }
  /// The format dialog (size and pixel format); false in the base, which has none.
  virtual bool DialogVideoFormat(QWidget* parent) {
    (void)parent;
    return false;
  }
  /// The display dialog; false in the base, which has none.
  virtual bool DialogVideoDisplay(QWidget* parent) {
    (void)parent;
    return false;
  }
};

/// Makes a new, unconnected driver; registered per index with KVRegisterCaptureDriver.
using TKVCaptureDriverFactory = std::function<std::unique_ptr<TKVCaptureDriver>()>;

/// Number of driver indexes (0..9).
constexpr int kCaptureDriverCount = 10;

/// Registers a driver at an index (0..9), replacing what answered there;
/// -1 takes the lowest index where neither a registered driver nor a video
/// device node exists. Returns the index, -1 when none is free.
KORVANE_EXPORT int KVRegisterCaptureDriver(const TKVCaptureDriverFactory& factory, int index = -1);
/// Removes the driver registered at an index, so that the video device there answers again; indexes
/// outside 0..9 are ignored.
KORVANE_EXPORT void KVUnregisterCaptureDriver(int index);
/// Registers the synthetic driver when KORVANE_TEST_CAPTURE=1 is set in the
/// environment (once per process); the index it took, or -1.
KORVANE_EXPORT int KVRegisterTestCaptureFromEnv();

/// Name and version of the driver at an index; false when none answers.
KORVANE_EXPORT bool KVCapGetDriverDescription(int index, std::string& Name, std::string& Version);
/// A new, unconnected driver for the index; null when none answers.
KORVANE_EXPORT std::unique_ptr<TKVCaptureDriver> KVCreateCaptureDriver(int index);

}  // namespace korvane
