// Multi-image I/O timings and memory that compare_mio.sh reports. Each mode
// prints "name value unit" lines; times are processor time (user + system)
// of the measured phase, one thread, best of RUNS.
//
//   bench_mio roundtrip FILE OUT [RUNS]   loading FILE (GIF or TIFF, every
//                                         frame) into a view, then saving the
//                                         view as OUT (same format)
//   bench_mio ondemand DIR N OUT          saving a view of N file-name images
//                                         (DIR/*.jpg in turn, loaded on demand)
//                                         as OUT: pictures held at most and
//                                         peak resident memory
#include <sys/resource.h>

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "korvane/io/kvio.h"
#include "korvane/multi/kvmio.h"
#include "korvane/multi/kvmview.h"

using namespace korvane;

namespace {

double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

double PeakRssMiB() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

int RoundTrip(const std::string& file, const std::string& out, int runs) {
  double load = 1e30, save = 1e30;
  int frames = 0;
  for (int r = 0; r < runs; ++r) {
    TKorvaneMView v(nullptr);
    v.SetBounds(0, 0, 300, 200);
    TKorvaneMIO mio(nullptr);
    mio.SetAttachedMView(&v);
    double t0 = CpuSeconds();
    mio.LoadFromFile(file);
    load = std::min(load, CpuSeconds() - t0);
    frames = v.GetImageCount();
    t0 = CpuSeconds();
    mio.SaveToFile(out);
    save = std::min(save, CpuSeconds() - t0);
  }
  std::printf("frames %d count\nload_cpu %.3f s\nsave_cpu %.3f s\n", frames, load, save);
  return frames > 0 ? 0 : 1;
}

int OnDemand(const std::string& dir, int n, const std::string& out) {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".jpg") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  if (files.empty()) return 1;
  TKorvaneMView v(nullptr);
  v.SetBounds(0, 0, 300, 200);
  v.LockPaint();
  for (int i = 0; i < n; ++i) v.SetImageFileName(v.AppendImage(), files[size_t(i) % files.size()]);
  v.Deselect();
  v.NPUnLockPaint();
  TKorvaneMIO mio(nullptr);
  mio.SetAttachedMView(&v);
  mio.AVICompressor = {"mjpeg", 90};
  int held = 0;
  mio.OnProgress = [&](TObject*, int) {
    int h = 0;
    for (int i = 0; i < v.GetImageCount(); ++i) h += v.GetImageWidth(i) > 0;
    held = std::max(held, h);
  };
  const double before = PeakRssMiB();
  const double t0 = CpuSeconds();
  mio.SaveToFile(out);
  const double t = CpuSeconds() - t0;
  std::printf(
      "ondemand_images %d count\nondemand_held_max %d count\nondemand_rss_before %.1f MiB\n"
      "ondemand_peak_rss %.1f MiB\nondemand_cpu %.1f s\n",
      n, held, before, PeakRssMiB(), t);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  InstallKorvaneLZWCoders();
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "roundtrip" && argc > 3) return RoundTrip(argv[2], argv[3], argc > 4 ? std::atoi(argv[4]) : 3);
  if (mode == "ondemand" && argc > 4) return OnDemand(argv[2], std::atoi(argv[3]), argv[4]);
  std::fprintf(stderr, "usage: bench_mio roundtrip FILE OUT [RUNS] | ondemand DIR N OUT\n");
  return 2;
}
