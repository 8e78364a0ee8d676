/// \file
/// Sharing the rows of a large picture between threads.
#pragma once
#include <cstdint>
#include <functional>

#include "korvane/foundations/host/export.h"

class QThreadPool;

namespace korvane {

/// Threads one operation may use. KVSetMaxThreads(n) with n >= 1 fixes the
/// count (1: everything runs on the caller's thread, as the one-thread loops
/// always did); 0 returns to the default, which is KORVANE_THREADS when that
/// holds a positive number, else the processor count.
KORVANE_EXPORT int KVMaxThreads();
/// Sets the thread count for later operations; n is clamped to 0-256, 0 restoring the default.
KORVANE_EXPORT void KVSetMaxThreads(int n);

/// Pictures smaller than this many pixels are not worth waking a thread for.
constexpr int64_t kParallelMinPixels = int64_t(1) << 20;

/// The threads to use for work on `pixels` pixels: 1 below
/// kParallelMinPixels, and 1 inside a worker of KVParallelFor (work is not
/// shared twice over), else KVMaxThreads().
KORVANE_EXPORT int KVThreadsFor(int64_t pixels);

/// Rows per range for `rows` rows of `width` pixels: about 256 K pixels a
/// range, and at least eight ranges, so that threads finish close together.
KORVANE_EXPORT int64_t KVRowGrain(int64_t width, int64_t rows);

/// Runs body(first, last) over consecutive half-open ranges that cover
/// [0, count), each at most `grain` items long, on up to `threads` threads,
/// the caller's among them. Whenever ranges finish, the caller's thread calls
/// tick(done) with the items finished so far, so progress events stay on the
/// caller's thread; tick answering false stops handing out ranges, and the
/// call answers false once the ranges under way are done. An exception from
/// body stops the work the same way and is rethrown on the caller's thread.
/// With threads <= 1 the ranges run in order on the caller's thread.
KORVANE_EXPORT bool KVParallelFor(int64_t count, int64_t grain, int threads,
                                  const std::function<void(int64_t, int64_t)>& body,
                                  const std::function<bool(int64_t)>& tick = {});

/// Starts job on pool. Use this rather than QThreadPool::start: Qt hands the
/// job over with locks ThreadSanitizer cannot see, and this marks the
/// hand-off for it, so that what the caller set up before is known to happen
/// before the job runs.
KORVANE_EXPORT void KVStartOnPool(QThreadPool& pool, std::function<void()> job);

/// A tick for KVParallelFor that calls report(done) and never stops the
/// work; empty (no ticks) when no progress is wanted.
template <typename Report>
std::function<bool(int64_t)> KVReportTick(bool wanted, Report report) {
  if (!wanted) return {};
  return [report](int64_t done) {
    report(done);
    return true;
  };
}

/// Runs row(i) for every i in [0, rows), rows of `width` pixels, on the
/// threads KVThreadsFor gives the picture; row(i) must not depend on another.
template <typename Row>
void KVForEachRow(int rows, int64_t width, Row&& row) {
  const int threads = KVThreadsFor(width * rows);
  if (threads <= 1) {
    for (int i = 0; i < rows; ++i) row(i);
    return;
  }
  KVParallelFor(rows, KVRowGrain(width, rows), threads, [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) row(int(i));
  });
}

}  // namespace korvane
