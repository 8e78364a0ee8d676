// AVI through the multi-image I/O component: the shared fixtures, frame
// rates both ways, files we write read back by ffprobe and ffmpeg, and
// hostile files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/ioparams.h"
#include "korvane/multi/kvmio.h"
#include "korvane/multi/kvmview.h"
#include "tests/fixture_manifest.h"
#include "tests/multi/mio_rig.h"
#include "tests/test_support.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

using test::Rig;

fs::path TempDir() {
  fs::path d = fs::temp_directory_path() / ("korvane_avi_" + std::to_string(::getpid()));
  fs::create_directories(d);
  return d;
}

// Standard output of a command; "" when it fails.
std::string RunCmd(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (pclose(p) != 0) return "";
  return out;
}

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Largest channel difference between a 24-bit bitmap and top-down BGR bytes.
int MaxDiffBGR(TBitmap& b, const std::string& bgr) {
  if (bgr.size() != size_t(b.Width()) * b.Height() * 3) return -1;
  int worst = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width() * 3; ++x)
      worst =
          std::max(worst, std::abs(int(b.Scanline(y)[x]) - int(uint8_t(bgr[size_t(y) * b.Width() * 3 + x]))));
  return worst;
}

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const EInvalidGraphic& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(MIOAvi, SharedFixturesLoadWithFramesDelayAndPixels) {
  auto cases = korvane::test::FixtureCases("avi");
  if (cases.empty()) GTEST_SKIP() << "no AVI fixtures";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Rig r;
    r.mio->LoadFromFileAVI(c.path);
    ASSERT_EQ(r.view->GetImageCount(), c.frames);
    ASSERT_EQ(r.mio->GetParamsCount(), c.frames);
    EXPECT_EQ(r.view->GetImageDelayTime(c.index), 40);
    TIOParamsVals* p = r.mio->GetParams(c.index);
    for (const auto& [name, want] : c.params) {
      std::string got;
      if (p->GetField(name, got)) {
        EXPECT_EQ(got, want) << name;
      }
    }
    EXPECT_EQ(p->FileName, c.path);
    EXPECT_EQ(p->FileType, ioUnknown);
    TBitmap frame;
    r.Pixels(c.index, frame);
    EXPECT_EQ(korvane::test::BitmapMismatch(c, frame), "");
  }
}

TEST(MIOAvi, RatesBothWays) {
  auto dir = TempDir();
  for (auto [delay, rate] : {std::pair{40, 25}, {33, 30}, {1500, 1}, {0, 1000}}) {
    SCOPED_TRACE(delay);
    Rig r;
    r.Add(2, 1, 16, 8, delay);
    r.mio->AVICompressor.Encoder = "rawvideo";
    const std::string f = (dir / "rate.avi").string();
    r.mio->SaveToFileAVI(f);
    TKVAVIReader avi(f);
    EXPECT_EQ(avi.Rate() / std::max(avi.Scale(), 1), rate);
    EXPECT_EQ(avi.Length(), 2);
    Rig back;
    back.mio->LoadFromFileAVI(f);
    EXPECT_EQ(back.view->GetImageDelayTime(0), 1000 / rate);
  }
  fs::remove_all(dir);
}

TEST(MIOAvi, OtherSizedFrameRepeatsThePreviousOne) {
  auto dir = TempDir();
  Rig r;
  r.Add(2, 1, 16, 8, 40);
  r.Add(1, 9, 10, 10, 40);
  r.Add(1, 4, 16, 8, 40);
  r.mio->AVICompressor.Encoder = "rawvideo";
  const std::string f = (dir / "sizes.avi").string();
  r.mio->SaveToFileAVI(f);
  Rig back;
  back.mio->LoadFromFileAVI(f);
  ASSERT_EQ(back.view->GetImageCount(), 4);
  TBitmap second, third, fourth, want4;
  back.Pixels(1, second);
  back.Pixels(2, third);
  back.Pixels(3, fourth);
  r.Pixels(3, want4);
  EXPECT_TRUE(korvane::test::SamePixels(second, third));
  EXPECT_TRUE(korvane::test::SamePixels(fourth, want4));
  fs::remove_all(dir);
}

TEST(MIOAvi, WrittenFilesReadByFFmpeg) {
  if (!HaveTool("ffprobe") || !HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg tools missing";
  auto dir = TempDir();
  // An odd width checks the row padding of uncompressed frames.
  for (auto [enc, tol] : {std::pair{"rawvideo", 0}, {"mjpeg", 40}}) {
    SCOPED_TRACE(enc);
    Rig r;
    r.Add(3, 20, 30, 14, 40);
    // Smooth content so that JPEG's error stays meaningful.
    for (int i = 0; i < 3; ++i) {
      TBitmap b;
      b.Allocate(30, 14, pf24bit);
      for (int y = 0; y < 14; ++y)
        for (int x = 0; x < 30; ++x) {
          uint8_t* p = b.Scanline(y) + 3 * x;
          p[0] = uint8_t(x * 8), p[1] = uint8_t(y * 16), p[2] = uint8_t(60 * i + 40);
        }
      r.view->SetImage(i, &b);
    }
    r.mio->AVICompressor.Encoder = enc;
    r.mio->AVICompressor.Quality = 95;
    const std::string f = (dir / "out.avi").string();
    r.mio->SaveToFileAVI(f);
    std::string probe = RunCmd(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=nb_read_frames,r_frame_rate,width,height -of csv=p=0 '" +
        f + "'");
    EXPECT_NE(probe.find("30,14,25/1,3"), std::string::npos) << probe;
    std::string raw = RunCmd("ffmpeg -v error -i '" + f + "' -f rawvideo -pix_fmt bgr24 -");
    ASSERT_EQ(raw.size(), size_t(30 * 14 * 3 * 3));
    for (int i = 0; i < 3; ++i) {
      TBitmap want;
      r.Pixels(i, want);
      int diff = MaxDiffBGR(want, raw.substr(size_t(i) * 30 * 14 * 3, 30 * 14 * 3));
      EXPECT_GE(diff, 0);
      EXPECT_LE(diff, tol) << "frame " << i;
    }
  }
  fs::remove_all(dir);
}

TEST(MIOAvi, CancelledOptionsWriteNothing) {
  auto dir = TempDir();
  Rig r;
  r.Add(2, 1, 16, 8, 40);
  bool asked = false;
  r.mio->OnAVISaveOptions = [&](TObject*, TKVAVICompressOptions&) { return asked = true, false; };
  const std::string f = (dir / "cancel.avi").string();
  r.mio->SaveToFile(f);
  EXPECT_TRUE(asked);
  EXPECT_FALSE(fs::exists(f));
  EXPECT_EQ(r.view->GetImageCount(), 2);
  EXPECT_EQ(r.view->GetImageWidth(1), 16);
  // Chosen in the callback: saved.
  r.mio->OnAVISaveOptions = [&](TObject*, TKVAVICompressOptions& o) { return o.Encoder = "ffv1", true; };
  r.mio->SaveToFile(f);
  Rig back;
  back.mio->LoadFromFile(f);
  ASSERT_EQ(back.view->GetImageCount(), 2);
  TBitmap a, b;
  r.Pixels(1, a);
  back.Pixels(1, b);
  EXPECT_TRUE(korvane::test::SamePixels(a, b));  // FFV1 is lossless
  fs::remove_all(dir);
}

TEST(MIOAvi, VideoFramesSavedAsGifKeepTheirDelay) {
  InstallKorvaneLZWCoders();
  auto cases = korvane::test::FixtureCases("avi");
  if (cases.empty()) GTEST_SKIP() << "no AVI fixtures";
  auto dir = TempDir();
  Rig r;
  r.mio->LoadFromFileAVI(cases.front().path);
  const std::string g = (dir / "v.gif").string();
  r.mio->SaveToFileGif(g);
  EXPECT_EQ(r.mio->GetParams(0)->GIF_DelayTime, 40);  // the record is left as it was
  Rig back;
  back.mio->LoadFromFileGif(g);
  ASSERT_EQ(back.view->GetImageCount(), r.view->GetImageCount());
  EXPECT_EQ(back.view->GetImageDelayTime(1), 40);
  fs::remove_all(dir);
}

TEST(MIOAvi, HostileFilesRaiseOrLoadPartly) {
  auto dir = TempDir();
  Rig r;
  EXPECT_EQ(Message([&] { r.mio->LoadFromFileAVI((dir / "missing.avi").string()); }),
            "unable to open AVI file");
  {
    std::ofstream(dir / "junk.avi") << "RIFF\x10\x00\x00\x00"
                                       "AVI LIST nonsense";
  }
  std::string m = Message([&] { r.mio->LoadFromFileAVI((dir / "junk.avi").string()); });
  EXPECT_TRUE(m == "unable to open AVI file" || m == "unable to open AVI stream") << m;
  EXPECT_EQ(r.view->GetImageCount(), 0);
  auto cases = korvane::test::FixtureCases("avi");
  if (cases.empty()) GTEST_SKIP() << "no AVI fixtures";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::ifstream in(c.path, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), {});
    // Truncated at several points: an error or fewer frames, never a crash.
    for (size_t cut : {size_t(12), size_t(200), data.size() / 2, data.size() - 7}) {
      const fs::path f = dir / "cut.avi";
      std::ofstream(f, std::ios::binary).write(data.data(), std::streamsize(cut));
      Rig t;
      try {
        t.mio->LoadFromFileAVI(f.string());
        EXPECT_LE(t.view->GetImageCount(), c.frames);
      } catch (const EInvalidGraphic& e) {
        std::string s = e.what();
        EXPECT_TRUE(s == "unable to open AVI file" || s == "unable to open AVI stream") << s;
      }
    }
    // A huge declared length and a stream header of another type.
    std::string big = data, audio = data;
    size_t avih = big.find("avih");
    if (avih != std::string::npos && avih + 8 + 20 <= big.size())
      big.replace(avih + 8 + 16, 4, "\xff\xff\xff\x7f", 4);
    size_t strh = big.find("strh");
    if (strh != std::string::npos && strh + 8 + 36 <= big.size())
      big.replace(strh + 8 + 32, 4, "\xff\xff\xff\x7f", 4);
    if (strh != std::string::npos) audio.replace(strh + 8, 4, "auds");
    for (const std::string* v : {&big, &audio}) {
      const fs::path f = dir / "hdr.avi";
      std::ofstream(f, std::ios::binary).write(v->data(), std::streamsize(v->size()));
      Rig t;
      try {
        t.mio->LoadFromFileAVI(f.string());
        EXPECT_LE(t.view->GetImageCount(), c.frames);
      } catch (const EInvalidGraphic& e) {
        std::string s = e.what();
        EXPECT_TRUE(s == "unable to open AVI file" || s == "unable to open AVI stream") << s;
      }
    }
  }
  fs::remove_all(dir);
}
