/// \file
/// Decoding the files of the multi-image view's cells on worker threads: what
/// a worker is given, what it hands back, and the queue between them.
#pragma once
#include <QThreadPool>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/io/ioparams.h"

class QObject;

namespace korvane {

/// One cell's file to decode. Everything is copied from the view on the
/// interface thread, so that a worker reads nothing of the view.
struct TKVDecodeRequest {
  uint64_t Ticket = 0;  ///< names the request; the view never reuses one
  std::string FileName;
  TColor Background = clBlack;
  bool AutoOrient = false;
  /// The view's loader parameters (JPEG scaling, page indexes...), copied.
  std::shared_ptr<TIOParamsVals> Params;
  /// kvtThumb: the picture is reduced to fit ThumbW x ThumbH, as the view
  /// stores it.
  bool Thumb = false;
  int ThumbW = 0, ThumbH = 0;
};

struct TKVDecodeResult {
  uint64_t Ticket = 0;
  std::unique_ptr<TBitmap> Bitmap;  ///< null when the file gave no picture
  TColor Background = clBlack;      ///< as the load left it (a GIF's own)
};

/// Loads a request's file as the view's on-demand loading does, on the
/// calling thread, with an I/O component of its own. Any error gives a result
/// without a bitmap. Neither the handle table of movable blocks nor Qt's GUI
/// objects are touched: the caller turns the bitmap into the compact store.
KORVANE_EXPORT TKVDecodeResult KVDecodeFile(const TKVDecodeRequest& Request);

/// The picture a cell of ThumbW x ThumbH keeps when thumbnails are stored:
/// Bitmap fitted into the cell by area averaging; 1-bit stays 1-bit,
/// anything else becomes 24-bit.
KORVANE_EXPORT void KVThumbnail(TBitmap* Bitmap, int ThumbW, int ThumbH, TBitmap* Out);

/// Requests go to a thread pool of the decoder's own; results wait in a
/// queue until the interface thread takes them. Whenever results are waiting
/// and no wake-up is, Wake is posted, queued, to Receiver's thread. Every
/// hand-over between threads goes through one std::mutex.
class KORVANE_EXPORT TKVThumbDecoder {
 public:
  TKVThumbDecoder(QObject* Receiver, std::function<void()> Wake);
  /// Drops the requests not started, waits for those running, posts nothing
  /// more.
  ~TKVThumbDecoder();
  TKVThumbDecoder(const TKVThumbDecoder&) = delete;
  TKVThumbDecoder& operator=(const TKVThumbDecoder&) = delete;

  void SetThreads(int n);
  int Threads() const { return pool_.maxThreadCount(); }
  void Request(TKVDecodeRequest Request);
  /// Drops a request that no worker has started; a running one still gives a
  /// result, which the caller recognises by its ticket.
  void Cancel(uint64_t Ticket);
  void CancelAll();
  std::vector<TKVDecodeResult> TakeResults();

 private:
  struct Shared;
  static void RunOne(const std::shared_ptr<Shared>& s);
  std::shared_ptr<Shared> shared_;
  QThreadPool pool_;
};

}  // namespace korvane
