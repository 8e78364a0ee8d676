// Video capture timings with the synthetic driver:
//
//   BM_SyntheticRender/CODE    the driver drawing one 1920 x 1080 frame (the
//                              camera's share, to subtract from the next)
//   BM_FrameToOnVideoFrame/CODE  one preview step: a 1920 x 1080 frame read
//                              from the driver and delivered to OnVideoFrame
//                              as a 24-bit bitmap (conversion included)
//   BM_Record720pMJPEG         five seconds of 1280 x 720 video recorded at
//                              30 frames per second with MJPEG; counters give
//                              the frames written, the frames repeated
//                              because none was ready in time (dropped), and
//                              processor time per frame
//
// CODE is 0 for UYVY, 1 for I420.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "korvane/capture/kvvideoview.h"
#include "korvane/capture/synthetic_driver.h"
#include "bench/qt_bench_main.h"

using namespace korvane;

namespace {

const char* CodeOf(int64_t i) { return i == 0 ? "UYVY" : "I420"; }

double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

TKVSyntheticOptions Opts(const char* code, int w, int h, int rate) {
  TKVSyntheticOptions o;
  o.Accepted = {code};
  o.Width = w, o.Height = h;
  o.FrameRate = rate;
  return o;
}

void BM_SyntheticRender(benchmark::State& state) {
  TKVSyntheticDriver d(Opts(CodeOf(state.range(0)), 1920, 1080, 0));
  d.Connect();
  std::vector<uint8_t> frame;
  for (auto _ : state) d.ReadFrame(frame, 0);
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(CodeOf(state.range(0)));
}

void BM_FrameToOnVideoFrame(benchmark::State& state) {
  KVRegisterSyntheticCaptureDriver(Opts(CodeOf(state.range(0)), 1920, 1080, 0), 0);
  TKorvaneVideoView v(nullptr);
  v.SetBounds(0, 0, 640, 360);
  uint64_t sum = 0;
  int frames = 0;
  v.SetOnVideoFrame([&](TObject*, TBitmap* b) {
    sum += b->Scanline(b->Height() / 2)[3 * (b->Width() / 2)];
    ++frames;
  });
  v.SetShowVideo(true);
  for (auto _ : state) v.CaptureWindow()->PreviewStep();
  benchmark::DoNotOptimize(sum);
  if (frames != int(state.iterations())) state.SkipWithError("frames were not delivered");
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(CodeOf(state.range(0)));
  v.SetShowVideo(false);
  KVUnregisterCaptureDriver(0);
}

void BM_Record720pMJPEG(benchmark::State& state) {
  KVRegisterSyntheticCaptureDriver(Opts("YUY2", 1280, 720, 30), 0);
  const auto file = std::filesystem::temp_directory_path() / "kv_bench_capture.avi";
  int written = 0, repeated = 0;
  double cpu = 0;
  for (auto _ : state) {
    TKorvaneVideoView v(nullptr);
    v.SetBounds(0, 0, 640, 360);
    v.SetShowVideo(true);
    v.SetCaptureFile(file.string());
    v.SetRecordFrameRate(30);
    v.CaptureWindow()->SetCompressOptions({"mjpeg", 90});
    const double c0 = CpuSeconds();
    v.StartRecord();
    QEventLoop loop;
    QTimer::singleShot(5000, &loop, [&] {
      v.StopRecord();
      loop.quit();
    });
    loop.exec();
    cpu = CpuSeconds() - c0;
    written = v.CaptureWindow()->FramesRecorded();
    repeated = v.CaptureWindow()->FramesRepeated();
  }
  state.counters["frames"] = written;
  state.counters["dropped"] = repeated;
  state.counters["cpu_ms_per_frame"] = written ? 1000.0 * cpu / written : 0;
  std::filesystem::remove(file);
  KVUnregisterCaptureDriver(0);
}

}  // namespace

BENCHMARK(BM_SyntheticRender)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameToOnVideoFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Record720pMJPEG)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

KORVANE_QT_BENCHMARK_MAIN()
