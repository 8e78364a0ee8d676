// The video capture view driven by the synthetic driver: negotiation over
// the format table, colors through every converter, frame callbacks and
// their process-wide state, freezing, selection, and recording read back by
// ffprobe (restarted after a time limit, falling behind, configuration
// refused meanwhile). The V4L2 driver is checked as far as a machine without
// cameras allows.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "korvane/capture/kvvideoview.h"
#include "korvane/capture/synthetic_driver.h"
#include "korvane/capture/v4l2_driver.h"
#include "korvane/multi/avi_file.h"
#include "korvane/pixels/bitmap_procs.h"
#include "tests/test_support.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

// The suite registers the drivers it uses itself: a synthetic camera asked
// for by the caller's environment would show up in the no-driver tests.
class CaptureEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { unsetenv("KORVANE_TEST_CAPTURE"); }
};
[[maybe_unused]] ::testing::Environment* const kCaptureEnvironment =
    ::testing::AddGlobalTestEnvironment(new CaptureEnvironment);

bool HaveCameraNodes() {
  struct stat st;
  for (int i = 0; i < kCaptureDriverCount; ++i)
    if (::stat(("/dev/video" + std::to_string(i)).c_str(), &st) == 0) return true;
  return false;
}

void UnregisterAll() {
  for (int i = 0; i < kCaptureDriverCount; ++i) KVUnregisterCaptureDriver(i);
}

// Registers a synthetic driver at index 0 for the test's lifetime.
struct SyntheticAt0 {
  explicit SyntheticAt0(TKVSyntheticOptions o = {}) {
    UnregisterAll();
    KVRegisterSyntheticCaptureDriver(o, 0);
  }
  ~SyntheticAt0() { UnregisterAll(); }
};

std::unique_ptr<TKorvaneVideoView> MakeView(int w = 320, int h = 240) {
  auto v = std::make_unique<TKorvaneVideoView>(nullptr);
  v->SetBorderStyle(bsNone);
  v->SetBounds(0, 0, w, h);
  return v;
}

TKVSyntheticDriver* Synthetic(TKorvaneVideoView& v) {
  return dynamic_cast<TKVSyntheticDriver*>(v.CaptureWindow()->Driver());
}

// Largest channel difference between a bitmap and frame f of the pattern,
// over the centres of its 8 x 8 blocks.
int PatternDiff(TBitmap& b, int f) {
  int worst = 0;
  for (int y = 4; y < b.Height(); y += 8)
    for (int x = 4; x < b.Width(); x += 8) {
      const TRGB want = TKVSyntheticDriver::PatternRGB(b.Width(), b.Height(), f, x, y);
      const TRGB got = reinterpret_cast<const TRGB*>(b.Scanline(y))[x];
      worst = std::max({worst, std::abs(want.r - got.r), std::abs(want.g - got.g), std::abs(want.b - got.b)});
    }
  return worst;
}

TKVSyntheticOptions Options(std::vector<std::string> accepted, int w = 320, int h = 240) {
  TKVSyntheticOptions o;
  o.Accepted = std::move(accepted);
  o.Width = w, o.Height = h;
  o.FrameRate = 0;  // a new frame at every preview step
  return o;
}

}  // namespace

TEST(VideoView, NoDriverListsNothingAndCannotShowVideo) {
  UnregisterAll();
  if (HaveCameraNodes()) GTEST_SKIP() << "this machine has video device nodes";
  auto v = MakeView();
  EXPECT_TRUE(v->GetVideoSourceList().empty());
  v->SetScrollBars(ssBoth);
  try {
    v->SetShowVideo(true);
    FAIL() << "showing video without a driver did not raise";
  } catch (const TVideoCapException& e) {
    EXPECT_STREQ(e.what(), "Unable to open video capture driver");
  }
  // The view is left as it was: no video, its scroll bars back.
  EXPECT_FALSE(v->GetShowVideo());
  EXPECT_EQ(v->GetScrollBars(), ssBoth);
  v->Repaint();  // a paint with no driver must not raise
  EXPECT_FALSE(v->DoConfigureFormat());
  TCapDriverCaps caps;
  EXPECT_FALSE(v->GetCaps(caps));
}

TEST(VideoView, V4L2WithoutCameras) {
  // Nodes that are not capture devices give no driver; neither do indexes
  // out of range.
  EXPECT_EQ(CreateV4L2DriverForPath("/dev/null"), nullptr);
  EXPECT_EQ(CreateV4L2DriverForPath("/nonexistent/video0"), nullptr);
  EXPECT_EQ(CreateV4L2Driver(-1), nullptr);
  EXPECT_EQ(CreateV4L2Driver(10), nullptr);
  EXPECT_NE(V4L2PixelFormatOf("YUY2"), 0u);
  EXPECT_EQ(V4L2PixelFormatOf("YUY2"), V4L2PixelFormatOf("YUNV"));
  EXPECT_EQ(V4L2PixelFormatOf("CLJR"), 0u);
  UnregisterAll();
  for (int i = 0; i < kCaptureDriverCount; ++i) {
    std::string name, version;
    const bool answers = KVCapGetDriverDescription(i, name, version);
    struct stat st;
    if (::stat(("/dev/video" + std::to_string(i)).c_str(), &st) != 0) {
      EXPECT_FALSE(answers) << i;
    }
  }
}

TEST(VideoView, RegisteredDriverIsListedWithNameAndVersion) {
  TKVSyntheticOptions o;
  o.Name = "Test cam";
  o.Version = "2.5";
  SyntheticAt0 reg(o);
  auto v = MakeView();
  ASSERT_EQ(v->GetVideoSourceList().size(), 1u);
  EXPECT_EQ(v->GetVideoSourceList()[0], "Test cam 2.5");
  EXPECT_EQ(v->GetVideoSourceIndexes()[0], 0);
}

TEST(VideoView, RefusedRGBNegotiatesYUY2) {
  SyntheticAt0 reg(Options({"YUY2"}));
  auto v = MakeView();
  std::vector<std::pair<TKVJob, int>> jobs;
  v->OnJob = [&](TObject*, TKVJob j, int per) { jobs.push_back({j, per}); };
  EXPECT_EQ(v->GetVideoFormat(), "RGB ");
  v->SetShowVideo(true);
  EXPECT_TRUE(v->Connected());
  EXPECT_EQ(v->GetVideoFormat(), "YUY2");
  EXPECT_EQ(v->GetVideoFormatList(), std::vector<std::string>{"YUY2"});
  // The format block describes what the driver delivers.
  TGlobalLock lock(v->FormatBlock());
  ASSERT_GE(lock.Size(), kVideoFormatBlockSize);
  TBitmapInfoHeader h;
  std::memcpy(&h, lock.Data(), sizeof h);
  EXPECT_EQ(h.biCompression, StringToFourCC("YUY2"));
  EXPECT_EQ(h.biWidth, 320);
  // Connecting reports its jobs, the format trial runs to 100 %, and the
  // last job is "nothing".
  ASSERT_FALSE(jobs.empty());
  EXPECT_EQ(jobs.front().first, kvjVIDEOCAP_CONNECTING);
  EXPECT_EQ(jobs.back().first, kvjNOTHING);
  int lastTry = -1;
  for (auto [j, per] : jobs)
    if (j == kvjVIDEOCAP_TRYVIDEOFORMATS) {
      EXPECT_GE(per, lastTry);
      lastTry = per;
    }
  EXPECT_EQ(lastTry, 100);
  TRect r;
  v->GetVideoSize(r);
  EXPECT_EQ(r, Rect(0, 0, 319, 239));
}

class VideoFormats : public ::testing::TestWithParam<const char*> {};

TEST_P(VideoFormats, FramesArriveInTheirColors) {
  const std::string code = GetParam();
  // An odd size in blocks checks the step rounding of the packed formats.
  SyntheticAt0 reg(Options({code}, 200, 120));
  auto v = MakeView();
  v->SetVideoFormat(code);
  std::unique_ptr<TBitmap> got;
  v->SetOnVideoFrame([&](TObject* s, TBitmap* b) {
    EXPECT_EQ(s, v.get());
    got = std::make_unique<TBitmap>();
    got->Assign(b);
  });
  v->SetShowVideo(true);
  ASSERT_EQ(v->GetVideoFormat(), code);
  ASSERT_TRUE(v->CaptureWindow()->PreviewStep());
  ASSERT_TRUE(v->CaptureWindow()->PreviewStep());  // a moved frame too
  ASSERT_TRUE(got);
  ASSERT_EQ(got->Width(), 200);
  ASSERT_EQ(got->Height(), 120);
  const int f = Synthetic(*v)->FrameCount() - 1;
  // CLJR keeps 5 bits of luma and 6 of chroma; the others are exact.
  EXPECT_LE(PatternDiff(*got, f), code == "CLJR" ? 16 : 0);
  // The capture window shows the same frame.
  TBitmap shown;
  ASSERT_TRUE(v->CaptureWindow()->LastFrame(&shown));
  EXPECT_TRUE(test::SamePixels(shown, *got));
}

INSTANTIATE_TEST_SUITE_P(Table, VideoFormats,
                         ::testing::Values("RGB ", "IYU1", "IYU2", "UYVY", "UYNV", "cyuv", "YUY2", "YUNV",
                                           "YVYU", "Y41P", "Y211", "CLJR", "YVU9", "YV12", "I420", "IYUV"),
                         [](const auto& info) {
                           std::string n = info.param;
                           return n == "RGB " ? std::string("RGB") : n;
                         });

TEST(VideoView, FrameCallbackFollowsTheEvents) {
  SyntheticAt0 reg(Options({"I420"}));
  auto v = MakeView();
  v->SetShowVideo(true);
  int frames = 0, raw = 0;
  v->SetOnVideoFrame([&](TObject*, TBitmap*) { ++frames; });
  EXPECT_TRUE(v->GetCallBackFrame());
  v->CaptureWindow()->PreviewStep();
  EXPECT_EQ(frames, 1);
  // Raw frames come with the format block.
  v->SetOnVideoFrameRaw([&](TObject*, HGLOBAL dib, const void* data) {
    EXPECT_EQ(dib, v->FormatBlock());
    EXPECT_NE(data, nullptr);
    ++raw;
  });
  v->CaptureWindow()->PreviewStep();
  EXPECT_EQ(frames, 2);
  EXPECT_EQ(raw, 1);
  v->SetOnVideoFrame(nullptr);
  EXPECT_TRUE(v->GetCallBackFrame());  // the raw event is still assigned
  v->SetOnVideoFrameRaw(nullptr);
  EXPECT_FALSE(v->GetCallBackFrame());
  EXPECT_TRUE(v->CaptureWindow()->PreviewStep());
  EXPECT_EQ(frames, 2);
  EXPECT_EQ(raw, 1);
}

TEST(VideoView, OnlyTheLastViewSwitchedOnReceivesFrames) {
  SyntheticAt0 reg(Options({"UYVY"}));
  auto a = MakeView();
  auto b = MakeView();
  a->SetShowVideo(true);
  b->SetShowVideo(true);
  int fa = 0, fb = 0;
  a->SetOnVideoFrame([&](TObject*, TBitmap*) { ++fa; });
  b->SetOnVideoFrame([&](TObject*, TBitmap*) { ++fb; });
  a->CaptureWindow()->PreviewStep();
  b->CaptureWindow()->PreviewStep();
  EXPECT_EQ(fa, 0);
  EXPECT_EQ(fb, 1);
  // Destroying the receiving view clears the state: a later frame of the
  // other view's window reaches nobody (and nothing freed).
  b.reset();
  EXPECT_TRUE(a->CaptureWindow()->PreviewStep());
  EXPECT_EQ(fa, 0);
  // Switching a on again makes it the receiver.
  a->SetOnVideoFrame([&](TObject*, TBitmap*) { ++fa; });
  a->CaptureWindow()->PreviewStep();
  EXPECT_EQ(fa, 1);
}

TEST(VideoView, FreezeFitsTheFrameWithTriangle) {
  SyntheticAt0 reg(Options({"YUY2"}, 320, 240));
  auto v = MakeView(640, 480);
  TBitmap frame;
  v->SetOnVideoFrame([&](TObject*, TBitmap* b) { frame.Assign(b); });
  v->SetShowVideo(true);
  v->Freeze();
  EXPECT_TRUE(v->GetFrozen());
  EXPECT_FALSE(v->CaptureWindow()->isVisibleTo(v.get()));
  TBitmap* bmp = v->GetBitmap();
  ASSERT_EQ(bmp->Width(), 640);
  ASSERT_EQ(bmp->Height(), 480);
  ASSERT_EQ(frame.Width(), 320);
  TBitmap want(640, 480);
  _Resample(&frame, &want, rfTriangle, nullptr, nullptr);
  EXPECT_TRUE(test::SamePixels(*bmp, want));
  // The grab left the callback on for the assigned event; live video resumes.
  EXPECT_TRUE(v->GetCallBackFrame());
  v->UnFreeze();
  EXPECT_TRUE(v->CaptureWindow()->Previewing());
  EXPECT_TRUE(v->CaptureWindow()->isVisibleTo(v.get()));
}

TEST(VideoView, NoTableFormatFreezesTheShownFrame) {
  SyntheticAt0 reg(Options({}, 160, 120));
  auto v = MakeView(640, 480);
  v->SetShowVideo(true);
  EXPECT_EQ(v->GetVideoFormat(), "????");
  EXPECT_TRUE(v->GetVideoFormatList().empty());
  ASSERT_TRUE(v->CaptureWindow()->PreviewStep());
  v->Freeze();
  // The driver's own 32-bit frame as the window showed it, not resampled.
  TBitmap* bmp = v->GetBitmap();
  ASSERT_EQ(bmp->Width(), 160);
  ASSERT_EQ(bmp->Height(), 120);
  EXPECT_EQ(PatternDiff(*bmp, Synthetic(*v)->FrameCount() - 1), 0);
}

TEST(VideoView, MouseSelectsOnlyAFrozenFrame) {
  SyntheticAt0 reg(Options({"RGB "}));
  auto v = MakeView();
  v->SetMouseInteract({miSelect});
  v->SetShowVideo(true);
  auto drag = [&] {
    QTest::mousePress(v.get(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QTest::mouseMove(v.get(), QPoint(60, 50));
    QTest::mouseRelease(v.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 80));
  };
  drag();
  EXPECT_FALSE(v->Selected());
  v->Select(5, 5, 50, 50);
  EXPECT_FALSE(v->Selected());
  v->Freeze();
  drag();
  EXPECT_TRUE(v->Selected());
  // Going live again clears the selection.
  v->UnFreeze();
  EXPECT_FALSE(v->Selected());
}

TEST(VideoView, RecordingRequestsTheFrameIntervalAndFailsCleanly) {
  SyntheticAt0 reg(Options({"I420"}, 64, 48));
  auto v = MakeView();
  // Not connected: no video to record.
  v->SetCaptureFile((fs::temp_directory_path() / "kv_video_unused.avi").string());
  try {
    v->StartRecord();
    FAIL();
  } catch (const TVideoCapException& e) {
    EXPECT_STREQ(e.what(), "Unable to start video recording");
  }
  EXPECT_FALSE(v->Recording());
  TCaptureParms p;
  v->CaptureWindow()->GetSequenceSetup(p);
  EXPECT_EQ(p.dwRequestMicroSecPerFrame, 66667u);
  EXPECT_NE(p.fYield, 0);
  EXPECT_EQ(p.fCaptureAudio, 0);
  v->SetRecordFrameRate(30);
  v->SetShowVideo(true);
  v->SetCaptureFile("/nonexistent-dir/capture.avi");
  try {
    v->StartRecord();
    FAIL();
  } catch (const TVideoCapException& e) {
    EXPECT_STREQ(e.what(), "Unable to create AVI file");
  }
  v->CaptureWindow()->GetSequenceSetup(p);
  EXPECT_EQ(p.dwRequestMicroSecPerFrame, 33333u);
  std::remove((fs::temp_directory_path() / "kv_video_unused.avi").c_str());
}

TEST(VideoView, FiveSecondsAt15FpsGive75Frames) {
  if (std::system("command -v ffprobe >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffprobe missing";
  TKVSyntheticOptions o = Options({"YUY2"}, 160, 120);
  o.FrameRate = 30;
  SyntheticAt0 reg(o);
  auto v = MakeView();
  const fs::path file = fs::temp_directory_path() / ("kv_video_" + std::to_string(::getpid()) + ".avi");
  v->SetCaptureFile(file.string());
  v->SetShowVideo(true);
  // Five seconds by the capture's own time limit, which counts frames, so a
  // busy machine's late timers cannot lengthen the file.
  TCaptureParms p;
  v->CaptureWindow()->GetSequenceSetup(p);
  p.fLimitEnabled = -1;
  p.wTimeLimit = 5;
  ASSERT_TRUE(v->CaptureWindow()->SetSequenceSetup(p));
  v->StartRecord();
  ASSERT_TRUE(v->Recording());
  QTRY_VERIFY_WITH_TIMEOUT(!v->Recording(), 20000);
  // Preview resumes after the recording.
  EXPECT_TRUE(v->CaptureWindow()->Previewing());
  const int written = v->CaptureWindow()->FramesRecorded();
  EXPECT_NEAR(written, 75, 2);
  std::string cmd =
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=nb_read_frames,r_frame_rate,width,height -of csv=p=0 '" +
      file.string() + "'";
  std::string out;
  if (FILE* pipe = popen(cmd.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, pipe)) out += buf;
    pclose(pipe);
  }
  int w = 0, h = 0, num = 0, den = 0, n = 0;
  ASSERT_EQ(std::sscanf(out.c_str(), "%d,%d,%d/%d,%d", &w, &h, &num, &den, &n), 5) << out;
  EXPECT_EQ(w, 160);
  EXPECT_EQ(h, 120);
  EXPECT_EQ(num / std::max(1, den), 15);
  EXPECT_NEAR(n, 75, 2);
  EXPECT_EQ(n, written);
  fs::remove(file);
}

TEST(VideoView, V4L2WaitTakesDescriptorsPast1024) {
  // A process with many files open gets high descriptor numbers for its
  // cameras; fd_set holds only the first 1024.
  const int high = 1030;
  rlimit lim{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
  if (lim.rlim_cur <= rlim_t(high)) {
    rlimit more = lim;
    more.rlim_cur = std::min<rlim_t>(lim.rlim_max, 2048);
    if (more.rlim_cur <= rlim_t(high) || setrlimit(RLIMIT_NOFILE, &more) != 0)
      GTEST_SKIP() << "cannot open descriptor " << high;
  }
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  ASSERT_EQ(dup2(p[0], high), high);
  EXPECT_FALSE(V4L2WaitReadable(high, 20));
  ASSERT_EQ(write(p[1], "x", 1), 1);
  EXPECT_TRUE(V4L2WaitReadable(high, 1000));
  close(high);
  close(p[0]);
  close(p[1]);
  setrlimit(RLIMIT_NOFILE, &lim);
}

namespace {

fs::path CaptureFile(const char* tag) {
  return fs::temp_directory_path() /
         ("kv_video_" + std::string(tag) + "_" + std::to_string(::getpid()) + ".avi");
}

// Ends recordings by the capture window's own time limit.
void LimitRecording(TKorvaneVideoView& v, int seconds) {
  TCaptureParms p;
  v.CaptureWindow()->GetSequenceSetup(p);
  p.fLimitEnabled = -1;
  p.wTimeLimit = uint32_t(seconds);
  ASSERT_TRUE(v.CaptureWindow()->SetSequenceSetup(p));
}

// A camera whose frames take longer to arrive than 30 frames a second allow.
class SlowCamera : public TKVSyntheticDriver {
 public:
  using TKVSyntheticDriver::TKVSyntheticDriver;
  bool ReadFrame(std::vector<uint8_t>& Data, int WaitMs) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    return TKVSyntheticDriver::ReadFrame(Data, WaitMs);
  }
};

}  // namespace

TEST(VideoRecording, StartsAgainAfterEndingByItself) {
  SyntheticAt0 reg(Options({"YUY2"}, 64, 48));
  auto v = MakeView();
  const fs::path file = CaptureFile("again");
  v->SetCaptureFile(file.string());
  v->SetShowVideo(true);
  LimitRecording(*v, 1);
  v->StartRecord();
  ASSERT_TRUE(v->Recording());
  QTRY_VERIFY_WITH_TIMEOUT(!v->Recording(), 10000);
  fs::remove(file);
  // A write error (a full disk) ends a recording by itself too.
  if (fs::exists("/dev/full")) {
    LimitRecording(*v, 0);  // no time limit: only the error can end it
    v->SetCaptureFile("/dev/full");
    v->StartRecord();
    EXPECT_TRUE(v->Recording());
    QTRY_VERIFY_WITH_TIMEOUT(!v->Recording(), 10000);
    v->SetCaptureFile(file.string());
    LimitRecording(*v, 1);
  }
  v->StartRecord();
  EXPECT_TRUE(v->Recording());
  QTRY_VERIFY_WITH_TIMEOUT(!v->Recording(), 10000);
  EXPECT_TRUE(fs::exists(file));
  EXPECT_GT(v->CaptureWindow()->FramesRecorded(), 0);
  fs::remove(file);
}

TEST(VideoRecording, FallingBehindDropsFramesWithoutFreezing) {
  UnregisterAll();
  const TKVSyntheticOptions o = Options({"YUY2"}, 64, 48);
  KVRegisterCaptureDriver([o] { return std::make_unique<SlowCamera>(o); }, 0);
  struct Unregister {
    ~Unregister() { UnregisterAll(); }
  } unregister;
  auto v = MakeView();
  const fs::path file = CaptureFile("slow");
  v->SetCaptureFile(file.string());
  v->SetRecordFrameRate(30);
  v->SetShowVideo(true);
  LimitRecording(*v, 2);
  // The interface keeps its events coming while the recording runs.
  QElapsedTimer clock;
  qint64 last = -1, worst = 0;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    if (last >= 0) worst = std::max(worst, now - last);
    last = now;
  });
  clock.start();
  probe.start(10);
  v->StartRecord();
  QTRY_VERIFY_WITH_TIMEOUT(!v->Recording(), 20000);
  probe.stop();
  EXPECT_LT(worst, 500);
  const TKVCaptureWindow* w = v->CaptureWindow();
  EXPECT_GT(w->FramesDropped(), 0);
  // Every interval of the two seconds is in the file, the dropped ones as
  // empty frames, so the file keeps real time.
  EXPECT_EQ(w->FramesRecorded() + w->FramesDropped(), 60);
  TKVAVIReader avi(file.string());
  EXPECT_EQ(avi.Length(), 60);
  TBitmap frame;
  int bits = 0, frames = 0;
  while (avi.NextFrame(&frame, bits)) ++frames;
  EXPECT_EQ(frames, w->FramesRecorded());
  fs::remove(file);
}

TEST(VideoRecording, ConfigurationIsRefusedWhileRecording) {
  SyntheticAt0 reg(Options({"YUY2", "I420"}, 64, 48));
  auto v = MakeView();
  const fs::path file = CaptureFile("config");
  v->SetVideoFormat("YUY2");
  v->SetCaptureFile(file.string());
  v->SetShowVideo(true);
  ASSERT_EQ(v->GetVideoFormat(), "YUY2");
  v->StartRecord();
  ASSERT_TRUE(v->Recording());
  // No dialog may open; one that did is closed so that the test goes on.
  bool dialog = false;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (QWidget* m = QApplication::activeModalWidget()) dialog = true, m->close();
  });
  closer.start(50);
  EXPECT_FALSE(v->DoConfigureFormat());
  EXPECT_FALSE(v->DoConfigureSource());
  EXPECT_FALSE(v->DoConfigureDisplay());
  EXPECT_FALSE(v->DoConfigureCompression());
  closer.stop();
  EXPECT_FALSE(dialog);
  EXPECT_EQ(v->GetVideoFormat(), "YUY2");
  // A format chosen meanwhile is negotiated when the recording ends.
  v->SetVideoFormat("I420");
  EXPECT_TRUE(v->Recording());
  v->StopRecord();
  EXPECT_EQ(v->GetVideoFormat(), "I420");
  TGlobalLock lock(v->FormatBlock());
  TBitmapInfoHeader h;
  std::memcpy(&h, lock.Data(), sizeof h);
  EXPECT_EQ(h.biCompression, StringToFourCC("I420"));
  fs::remove(file);
}
