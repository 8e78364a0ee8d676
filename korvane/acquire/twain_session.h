/// \file
/// One TWAIN connection: the connection record, its state machine (1 nothing
/// loaded .. 7 transferring), the DSM_Entry triplets, negotiation, the event
/// loop and the transfers. Internal to the acquisition functions of twain.h.
#pragma once
#include <memory>

#include "korvane/acquire/twain.h"
#include "korvane/acquire/twain_caps.h"
#include "korvane/foundations/host/export.h"

class QWidget;

namespace korvane {

class KORVANE_EXPORT TTWainSession {
 public:
  explicit TTWainSession(TKVTWainParams* params);
  /// Closes whatever is still open, down to state 1.
  ~TTWainSession();
  TTWainSession(const TTWainSession&) = delete;
  TTWainSession& operator=(const TTWainSession&) = delete;

  /// The parent window: the given one, or a hidden proxy window made here
  /// (none without a QApplication).
  void UseWindow(HWND window);

  /// State steps; each answers whether it reached its state.
  bool LoadManager();    ///< 1 -> 2
  void UnloadManager();  ///< 2 -> 1
  bool OpenManager();    ///< 2 -> 3
  void CloseManager();   ///< 3 -> 2
  /// Opens the source the parameters name (or the manager's default).
  bool OpenSource();    ///< 3 -> 4
  void CloseSource();   ///< 4 -> 3
  bool EnableSource();  ///< 4 -> 5
  /// Ends pending transfers first (7 -> 6 -> 5), then 5 -> 4.
  void DisableSource();
  /// Everything down to state 1.
  void CloseAll();
  /// Load, open the manager; false (state 1) on failure.
  bool Start();

  TW_UINT16 Call(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 ConditionCode(TW_IDENTITY* dest);

  /// Negotiation and capabilities. SetCompressionNone answers whether the
  /// source sends uncompressed images: it has no compression to choose, or it
  /// took none.
  bool SetCompressionNone();
  void Negotiate();
  void ReadCapabilities(bool keepChanges);

  /// The manager's source selection dialog; true with the identity chosen.
  bool UserSelect(TW_IDENTITY& chosen);
  /// Appends every source's identity.
  void ListSources(TKVRecordList* list);

  /// Runs the acquisition after a successful EnableSource. Raises
  /// ETWainError when the source says nothing for the parameters' time limit
  /// (user input to the application restarts the wait), and passes on what a
  /// page callback or the progress handler raises; the parent window is
  /// enabled again either way.
  void RunLoop();
  /// Restarts the wait for the source's next message.
  void Touch();

  /// Connection record.
  int State = 1;
  void* Library = nullptr;
  DSMENTRYPROC Entry = nullptr;
  bool Builtin = false;
  HWND Parent = nullptr;
  TW_UINT16 ReturnCode = TWRC_SUCCESS;
  TW_UINT16 Condition = TWCC_SUCCESS;
  TW_IDENTITY AppId{};
  TW_IDENTITY SourceId{};
  TW_USERINTERFACE UI{};
  bool HideUI = false;
  TW_INT16 Pending = 0;
  bool MultiPage = false;
  const TKVTWMultiCallBack* Callback = nullptr;
  bool DisableAfterFailure = false;
  TKVTWainParams* Params;
  TIOParamsVals* OutParams = nullptr;
  bool Buffered = false;
  bool Done = false;
  TBitmap* Target = nullptr;
  /// When set, the single image goes here strip by strip; Target is not used.
  TKVTWainStripSink* Sink = nullptr;
  TProgressRec* Progress = nullptr;

  /// What the source said through the registered callback, handled by the
  /// loop (0: nothing).
  TW_UINT16 PostedMessage = 0;

 private:
  bool GetCap(TW_UINT16 cap, TW_CAPABILITY& out);
  bool SetCap(TW_UINT16 cap, TW_UINT16 conType, TW_HANDLE container);
  bool SetOneValue(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 item);
  bool SendDoubleList(TW_UINT16 cap, const TKVDoubleList& list);
  bool SendIntegerList(TW_UINT16 cap, const TKVIntegerList& list, int32_t maxValue);
  void FreeContainer(TW_CAPABILITY& cap);

  void HandleMessage(TW_UINT16 msg);
  /// Raises ETWainError unless a memory transfer of this image can be copied
  /// into a bitmap (uncompressed, chunky, 1, 8 or 24 bits a pixel).
  static void CheckCopyable(const TW_IMAGEINFO& info);
  void TransferSingle();
  void TransferMulti();
  /// Sizes bmp from the image info; false when the size is unusable.
  bool SizeBitmap(TBitmap* bmp, const TW_IMAGEINFO& info);
  /// One image into bmp (state 6 on entry, 6 or 7 after).
  void TransferImage(TBitmap* bmp, const TW_IMAGEINFO& info);
  void BufferedTransfer(TBitmap* bmp, const TW_IMAGEINFO& info);
  void NativeTransfer(TBitmap* bmp);
  /// The sink's single image: memory strips one by one, a whole image as one strip.
  void SinkTransfer(const TW_IMAGEINFO& info);
  /// Hands one memory strip to the sink, through strip_.
  void SinkStrip(const TW_IMAGEINFO& info, const TW_IMAGEMEMXFER& x, const uint8_t* mem, size_t length);
  void EndTransfer();
  void FillOutParams(TIOParamsVals* out, const TW_IMAGEINFO& info);
  void Failed();

  TTWainMemory mem_;
  TBitmap strip_;  ///< the sink's strip, as wide as the page
  std::unique_ptr<QWidget> proxy_;
  int64_t waitStart_ = 0;  ///< milliseconds on the monotonic clock
};

/// Copies one memory-transfer strip into a 1- or 24-bit bitmap: rows YOffset
/// .. YOffset + Rows - 1 from column XOffset; 24-bit data arrives as RGB and
/// is stored BGR, 8-bit data becomes gray, 1-bit data is copied bit by bit.
/// Everything outside the bitmap or beyond `length` bytes of strip memory is
/// left out.
KORVANE_EXPORT void CopyTWainStrip(TBitmap* bmp, int bitsPerPixel, const TW_IMAGEMEMXFER& strip,
                                   const uint8_t* mem, size_t length);

}  // namespace korvane
