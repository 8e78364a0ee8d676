#include "korvane/foundations/host/parallel.h"

#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>

#if defined(__SANITIZE_THREAD__)
// Qt's pool hands a job to its thread with locks ThreadSanitizer cannot see
// (Qt is not instrumented); these tell it that the job's set-up happens
// before the job runs.
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#define KV_TSAN_RELEASE(p) __tsan_release(p)
#define KV_TSAN_ACQUIRE(p) __tsan_acquire(p)
#else
#define KV_TSAN_RELEASE(p) ((void)(p))
#define KV_TSAN_ACQUIRE(p) ((void)(p))
#endif

namespace korvane {

namespace {

constexpr int kThreadLimit = 256;

std::atomic<int> gMaxThreads{0};  // 0: the default
thread_local bool tInWorker = false;

int DefaultThreads() {
  static const int n = [] {
    if (const char* e = std::getenv("KORVANE_THREADS")) {
      char* end = nullptr;
      const long v = std::strtol(e, &end, 10);
      if (end != e && *end == '\0' && v >= 1) return int(std::min<long>(v, kThreadLimit));
    }
    return std::clamp(QThread::idealThreadCount(), 1, kThreadLimit);
  }();
  return n;
}

// The library's own pool, so that an application's use of the global pool
// neither starves nor is starved by picture work. Never destroyed: its idle
// threads end with the process.
QThreadPool* Pool() {
  static QThreadPool* pool = [] {
    auto* p = new QThreadPool;
    p->setMaxThreadCount(kThreadLimit);
    return p;
  }();
  return pool;
}

// What the threads of one KVParallelFor share. Workers that start after the
// work is over find no range left and touch nothing else.
struct Shared {
  std::mutex m;
  std::condition_variable cv;
  int64_t count = 0, grain = 1, next = 0, done = 0;
  int inflight = 0;
  bool stop = false;
  std::exception_ptr error;
  const std::function<void(int64_t, int64_t)>* body = nullptr;

  bool Claim(int64_t& first, int64_t& last) {
    std::lock_guard<std::mutex> lock(m);
    if (stop || next >= count) return false;
    first = next;
    last = std::min(count, first + grain);
    next = last;
    ++inflight;
    return true;
  }
  void Finish(int64_t n, std::exception_ptr e) {
    {
      std::lock_guard<std::mutex> lock(m);
      --inflight;
      done += n;
      if (e && !error) {
        error = e;
        stop = true;
      }
    }
    cv.notify_all();
  }
  // Runs ranges until none is left; `each` runs after every range.
  template <typename Each>
  void RunRanges(Each&& each) {
    int64_t first, last;
    while (Claim(first, last)) {
      std::exception_ptr e;
      try {
        (*body)(first, last);
      } catch (...) {
        e = std::current_exception();
      }
      Finish(last - first, e);
      each();
    }
  }
};

char gHandOff;  // the address the hand-off to pool threads is ordered on

class Job : public QRunnable {
 public:
  explicit Job(std::function<void()> f) : f_(std::move(f)) {}
  void run() override {
    KV_TSAN_ACQUIRE(&gHandOff);
    f_();
  }

 private:
  std::function<void()> f_;
};

}  // namespace

void KVStartOnPool(QThreadPool& pool, std::function<void()> job) {
  auto* r = new Job(std::move(job));  // built before the release below
  KV_TSAN_RELEASE(&gHandOff);
  pool.start(r);
}

int KVMaxThreads() {
  const int n = gMaxThreads.load(std::memory_order_relaxed);
  return n > 0 ? n : DefaultThreads();
}

void KVSetMaxThreads(int n) { gMaxThreads.store(std::clamp(n, 0, kThreadLimit), std::memory_order_relaxed); }

int KVThreadsFor(int64_t pixels) {
  if (tInWorker || pixels < kParallelMinPixels) return 1;
  return KVMaxThreads();
}

int64_t KVRowGrain(int64_t width, int64_t rows) {
  const int64_t bySize = (int64_t(1) << 18) / std::max<int64_t>(width, 1);
  return std::max<int64_t>(1, std::min(bySize, (rows + 7) / 8));
}

bool KVParallelFor(int64_t count, int64_t grain, int threads,
                   const std::function<void(int64_t, int64_t)>& body,
                   const std::function<bool(int64_t)>& tick) {
  if (count <= 0) return true;
  grain = std::max<int64_t>(grain, 1);
  if (threads <= 1 || count <= grain) {
    for (int64_t first = 0; first < count; first += grain) {
      const int64_t last = std::min(count, first + grain);
      body(first, last);
      if (tick && !tick(last)) return false;
    }
    return true;
  }
  auto s = std::make_shared<Shared>();
  s->count = count;
  s->grain = grain;
  s->body = &body;
  const int64_t ranges = (count + grain - 1) / grain;
  const int helpers = int(std::min<int64_t>(threads, ranges)) - 1;
  for (int i = 0; i < helpers; ++i)
    KVStartOnPool(*Pool(), [s] {
      tInWorker = true;
      s->RunRanges([] {});
      tInWorker = false;
    });

  // The caller works too, and reports progress between its ranges and while
  // it waits for the last ones.
  bool aborted = false;
  int64_t reported = 0;
  auto report = [&] {
    if (!tick || aborted) return;
    int64_t done;
    {
      std::lock_guard<std::mutex> lock(s->m);
      done = s->done;
    }
    if (done == reported) return;
    reported = done;
    if (!tick(done)) {
      aborted = true;
      std::lock_guard<std::mutex> lock(s->m);
      s->stop = true;
    }
  };
  s->RunRanges(report);
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(s->m);
      const int64_t seen = s->done;
      s->cv.wait(lock, [&] { return s->inflight == 0 || s->done != seen; });
      if (s->inflight == 0 && (s->stop || s->next >= s->count)) break;
    }
    report();
  }
  if (s->error) std::rethrow_exception(s->error);
  report();
  return !aborted && s->done == count;
}

}  // namespace korvane
