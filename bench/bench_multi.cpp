// The multi-image view and AVI timings that compare_multi.sh sets against
// peers. Each mode prints "name value unit" lines; times are processor time
// (user + system) of the measured phase, one thread.
//
//   bench_multi thumbs DIR          100 x 100 thumbnails of DIR/*.jpg through
//                                   on-demand loading (kvtThumb)
//   bench_multi paint               one 1600 x 1000 paint of a full grid of
//                                   compact cells, ms per paint
//   bench_multi memory DIR N        a view of N file-name images (DIR/*.jpg in
//                                   turn) scrolled from end to end: pictures
//                                   held at most and peak resident memory
//   bench_multi avi FILE            loading an AVI into a view
//   bench_multi parallel DIR T S    S x S thumbnails of DIR/*.jpg on T worker
//                                   threads (0: in Paint), wall time from
//                                   naming the files to the paint showing
//                                   the last one
#include <sys/resource.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "korvane/foundations/host/graphics.h"
#include "korvane/multi/kvmio.h"
#include "korvane/multi/kvmview.h"

using namespace korvane;

namespace {

double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

std::vector<std::string> Jpegs(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".jpg") out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

int Held(TKorvaneMView& v) {
  int n = 0;
  for (int i = 0; i < v.GetImageCount(); ++i)
    n += v.GetBitmapInfo(i) != nullptr || v.GetImageInfo(i)->BmpCount > 0;
  return n;
}

int Thumbs(const std::string& dir) {
  auto files = Jpegs(dir);
  TKorvaneMView v(nullptr);
  v.SetBorderStyle(bsNone);
  v.SetBounds(0, 0, 1100, 1100);  // 10 x 10 cells of 100 x 100: all visible
  v.SetStoreType(kvtThumb);
  v.SetGridWidth(-1);
  v.LockPaint();
  for (const auto& f : files) v.SetImageFileName(v.AppendImage(), f);
  v.Deselect();
  v.NPUnLockPaint();
  v.Update();
  TBitmap target(1100, 1100);
  double t0 = CpuSeconds();
  v.PaintTo(target.Canvas());
  double t = CpuSeconds() - t0;
  std::printf("thumbs_files %zu count\nthumbs_held %d count\nthumbs_cpu %.3f s\n", files.size(), Held(v), t);
  return 0;
}

int Paint() {
  TKorvaneMView v(nullptr);
  v.SetBorderStyle(bsNone);
  v.SetBounds(0, 0, 1600, 1000);
  v.SetGridWidth(-1);
  v.LockPaint();
  TBitmap pic(100, 75);
  for (int i = 0; i < 300; ++i) {
    for (int y = 0; y < 75; ++y)
      for (int x = 0; x < 300; ++x) pic.Scanline(y)[x] = uint8_t(x + y + i * 7);
    v.SetImage(v.AppendImage(), &pic);
  }
  v.Deselect();
  v.NPUnLockPaint();
  v.Update();
  TBitmap target(1600, 1000);
  v.PaintTo(target.Canvas());  // warm
  const int reps = 50;
  double t0 = CpuSeconds();
  for (int i = 0; i < reps; ++i) v.PaintTo(target.Canvas());
  double t = CpuSeconds() - t0;
  int cells = 0;
  for (int i = 0; i < v.GetImageCount(); ++i) cells += v.GetImageVisibility(i) > 0;
  std::printf("paint_cells %d count\npaint_ms %.3f ms\n", cells, t / reps * 1000);
  return 0;
}

long PeakRssKiB() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

int Memory(const std::string& dir, int n) {
  auto files = Jpegs(dir);
  if (files.empty()) return 1;
  TKorvaneMView v(nullptr);
  v.SetBorderStyle(bsNone);
  v.SetBounds(0, 0, 1600, 1000);
  v.SetStoreType(kvtThumb);
  v.SetGridWidth(-1);
  v.LockPaint();
  for (int i = 0; i < n; ++i) v.SetImageFileName(v.AppendImage(), files[size_t(i) % files.size()]);
  v.SetSelectedItem(0);
  v.NPUnLockPaint();
  v.Update();
  TBitmap target(1600, 1000);
  int mx, my;
  v.GetMaxViewXY(mx, my);
  int maxHeld = 0, maxVisible = 0;
  double t0 = CpuSeconds();
  for (int y = 0;; y = std::min(y + 1000, my)) {
    v.SetViewY(y);
    v.PaintTo(target.Canvas());
    int visible = 0;
    for (int i = 0; i < v.GetImageCount(); ++i) visible += v.GetImageVisibility(i) > 0;
    maxVisible = std::max(maxVisible, visible);
    maxHeld = std::max(maxHeld, Held(v));
    if (y == my) break;
  }
  double t = CpuSeconds() - t0;
  std::printf(
      "memory_images %d count\nmemory_visible_max %d count\nmemory_held_max %d count\n"
      "memory_peak_rss %.1f MiB\nmemory_cpu %.3f s\n",
      n, maxVisible, maxHeld, PeakRssKiB() / 1024.0, t);
  return 0;
}

int Avi(const std::string& file) {
  TKorvaneMView v(nullptr);
  v.SetBounds(0, 0, 300, 200);
  TKorvaneMIO mio(nullptr);
  mio.SetAttachedMView(&v);
  double t0 = CpuSeconds();
  mio.LoadFromFileAVI(file);
  double t = CpuSeconds() - t0;
  std::printf("avi_frames %d count\navi_cpu %.3f s\n", v.GetImageCount(), t);
  return 0;
}

int Parallel(const std::string& dir, int threads, int size) {
  auto files = Jpegs(dir);
  const int cols = 10, rows = int(files.size() + 9) / 10;
  TKorvaneMView v(nullptr);
  v.SetBorderStyle(bsNone);
  // Every cell visible: the view decodes only what it shows.
  v.SetBounds(0, 0, 4 + cols * (size + 4), 4 + rows * (size + 4));
  v.SetThumbWidth(size);
  v.SetThumbHeight(size);
  v.SetStoreType(kvtThumb);
  v.SetGridWidth(-1);
  v.SetDecodeThreads(threads);
  const auto t0 = std::chrono::steady_clock::now();
  v.LockPaint();
  for (const auto& f : files) v.SetImageFileName(v.AppendImage(), f);
  v.Deselect();
  v.NPUnLockPaint();
  v.Update();
  const bool done = v.WaitForDecodes(600000);
  const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("parallel_files %zu count\nparallel_held %d count\nparallel_wall %.3f s\n", files.size(), Held(v), t);
  return done ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "thumbs" && argc > 2) return Thumbs(argv[2]);
  if (mode == "paint") return Paint();
  if (mode == "memory" && argc > 3) return Memory(argv[2], std::atoi(argv[3]));
  if (mode == "avi" && argc > 2) return Avi(argv[2]);
  if (mode == "parallel" && argc > 4) return Parallel(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  std::fprintf(stderr, "usage: bench_multi thumbs DIR | paint | memory DIR N | avi FILE | parallel DIR T S\n");
  return 2;
}
