// Decoding the multi-image view's cell files on worker threads.
#include "korvane/multi/thumb_decoder.h"

#include <QMetaObject>
#include <QObject>
#include <algorithm>
#include <deque>
#include <exception>
#include <mutex>

#include "korvane/foundations/host/halftone.h"
#include "korvane/foundations/host/parallel.h"
#include "korvane/io/kvio.h"
#include "korvane/multi/kvmview.h"

namespace korvane {

void KVThumbnail(TBitmap* Bitmap, int ThumbW, int ThumbH, TBitmap* Out) {
  int w = Bitmap->Width(), h = Bitmap->Height();
  KVFitSize(Bitmap->Width(), Bitmap->Height(), ThumbW, ThumbH, w, h);
  Out->Allocate(std::max(w, 1), std::max(h, 1), Bitmap->PixelFormat() == pf1bit ? pf1bit : pf24bit);
  HalftoneStretch(Out, Bitmap);
}

TKVDecodeResult KVDecodeFile(const TKVDecodeRequest& Request) {
  TKVDecodeResult out;
  out.Ticket = Request.Ticket;
  out.Background = Request.Background;
  try {
    auto bmp = std::make_unique<TBitmap>();
    TKorvaneIO io;
    if (Request.Params) io.Params()->Assign(Request.Params.get());
    io.AutoOrient = Request.AutoOrient;
    io.SetBackground(Request.Background);
    io.SetAttachedBitmap(bmp.get());
    io.LoadFromFile(Request.FileName);
    io.SetAttachedBitmap(nullptr);
    out.Background = io.GetBackground();
    if (bmp->Empty()) return out;
    if (Request.Thumb && Request.ThumbW > 0 && Request.ThumbH > 0) {
      auto thumb = std::make_unique<TBitmap>();
      KVThumbnail(bmp.get(), Request.ThumbW, Request.ThumbH, thumb.get());
      out.Bitmap = std::move(thumb);
    } else {
      out.Bitmap = std::move(bmp);
    }
  } catch (const std::exception&) {
    out.Bitmap.reset();
  }
  return out;
}

// What the view's thread and the workers share. Receiver is cleared by the
// decoder's destructor, under the mutex, so a worker never posts to a view
// that is going.
struct TKVThumbDecoder::Shared {
  std::mutex mutex;
  std::deque<TKVDecodeRequest> requests;
  std::vector<TKVDecodeResult> results;
  QObject* receiver = nullptr;
  std::function<void()> wake;
  bool wake_posted = false;
};

TKVThumbDecoder::TKVThumbDecoder(QObject* Receiver, std::function<void()> Wake)
    : shared_(std::make_shared<Shared>()) {
  shared_->receiver = Receiver;
  shared_->wake = std::move(Wake);
}

TKVThumbDecoder::~TKVThumbDecoder() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->receiver = nullptr;
    shared_->requests.clear();
  }
  pool_.clear();
  pool_.waitForDone();
}

void TKVThumbDecoder::SetThreads(int n) { pool_.setMaxThreadCount(std::max(n, 1)); }

void TKVThumbDecoder::Request(TKVDecodeRequest Request) {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->requests.push_back(std::move(Request));
  }
  // A task takes whichever request is first when it runs: cancelled
  // requests leave tasks that find nothing and end at once.
  KVStartOnPool(pool_, [s = shared_] { RunOne(s); });
}

void TKVThumbDecoder::Cancel(uint64_t Ticket) {
  std::lock_guard lock(shared_->mutex);
  auto& q = shared_->requests;
  q.erase(std::remove_if(q.begin(), q.end(), [&](const TKVDecodeRequest& r) { return r.Ticket == Ticket; }),
          q.end());
}

void TKVThumbDecoder::CancelAll() {
  std::lock_guard lock(shared_->mutex);
  shared_->requests.clear();
}

std::vector<TKVDecodeResult> TKVThumbDecoder::TakeResults() {
  std::lock_guard lock(shared_->mutex);
  shared_->wake_posted = false;
  return std::exchange(shared_->results, {});
}

void TKVThumbDecoder::RunOne(const std::shared_ptr<Shared>& s) {
  TKVDecodeRequest request;
  {
    std::lock_guard lock(s->mutex);
    if (s->requests.empty()) return;
    request = std::move(s->requests.front());
    s->requests.pop_front();
  }
  TKVDecodeResult result = KVDecodeFile(request);
  std::lock_guard lock(s->mutex);
  if (!s->receiver) return;
  s->results.push_back(std::move(result));
  if (s->wake_posted) return;
  s->wake_posted = true;
  QMetaObject::invokeMethod(s->receiver, s->wake, Qt::QueuedConnection);
}

}  // namespace korvane
