// Multi-image saves and loads beyond the round trip: a view that held images
// before the component was attached, the old file kept whole when a save
// fails part-way, file-backed pictures released as they are written, and
// one walk over the stream per load or save.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/codecs/gif/gif_codec.h"
#include "korvane/io/codecs/tiff/tiff_codec.h"
#include "korvane/io/kvio.h"
#include "korvane/multi/kvmio.h"
#include "korvane/multi/kvmview.h"
#include "korvane/pixels/dib_procs.h"
#include "tests/test_support.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's count of live heap bytes (its allocator replaces malloc).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

using namespace korvane;
namespace fs = std::filesystem;

namespace {

struct Dir {
  fs::path path;
  Dir() {
    char tmpl[] = "/tmp/kvmioXXXXXX";
    path = mkdtemp(tmpl);
  }
  ~Dir() { fs::remove_all(path); }
  std::string File(const std::string& name) const { return (path / name).string(); }
  int Entries() const { return int(std::distance(fs::directory_iterator(path), fs::directory_iterator())); }
};

std::string ReadAll(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// A view of n 24-bit images of w x h (image i a pattern of seed 10 + i),
// with mio attached before the images are added when given.
std::unique_ptr<TKorvaneMView> ViewOf(int n, int w = 16, int h = 12, TKorvaneMIO* mio = nullptr) {
  InstallKorvaneLZWCoders();
  auto v = std::make_unique<TKorvaneMView>(nullptr);
  v->SetBounds(0, 0, 300, 100);
  if (mio) mio->SetAttachedMView(v.get());
  for (int i = 0; i < n; ++i) {
    TBitmap b;
    korvane::test::FillPattern24(b, w, h, unsigned(10 + i));
    v->SetImage(v->AppendImage(), &b);
  }
  return v;
}

// A memory stream that counts the bytes read from it.
class CountingStream : public TMemoryStream {
 public:
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = TMemoryStream::Read(buffer, count);
    read += std::max<int64_t>(n, 0);
    return n;
  }
  int64_t read = 0;
};

}  // namespace

TEST(MIOAttach, ViewThatHeldImagesGetsItsRecords) {
  auto view = ViewOf(3);
  TKorvaneMIO mio;
  mio.SetAttachedMView(view.get());
  ASSERT_EQ(mio.GetParamsCount(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(mio.GetParams(i)->GIF_ImageIndex, i);
  // Every image is saved, and a load adds exactly the frames.
  Dir d;
  mio.SaveToFile(d.File("a.gif"));
  EXPECT_EQ(EnumGifIm(d.File("a.gif")), 3);
  mio.LoadFromFile(d.File("a.gif"));
  EXPECT_EQ(view->GetImageCount(), 6);
  EXPECT_EQ(mio.GetParamsCount(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_GT(view->GetImageWidth(i), 0) << i;
  // Attached to a smaller view, the list follows it.
  auto small = ViewOf(1);
  mio.SetAttachedMView(small.get());
  EXPECT_EQ(mio.GetParamsCount(), 1);
}

// A save that fails or is aborted at the second image, in every way that can
// happen, leaves the old file byte for byte and no side file.
TEST(MIOSafeSave, FailureAtTheSecondImageKeepsTheOldFile) {
  enum How { kNoPicture, kFileGone, kThrows, kAborted };
  for (const char* ext : {".gif", ".tif", ".avi"}) {
    for (How how : {kNoPicture, kFileGone, kThrows, kAborted}) {
      SCOPED_TRACE(std::string(ext) + " case " + std::to_string(int(how)));
      Dir d;
      const std::string target = d.File(std::string("out") + ext);
      std::ofstream(target, std::ios::binary) << "the old file";
      TKorvaneMIO mio;
      auto view = ViewOf(3, 16, 12, &mio);
      mio.AVICompressor.Encoder = "rawvideo";
      // Image 1 comes from a file or through the ID request.
      const std::string picture = d.File("one.bmp");
      if (how == kFileGone) {
        TBitmap b;
        korvane::test::FillPattern24(b, 16, 12, 3);
        TKorvaneIO io;
        io.SetAttachedBitmap(&b);
        io.SaveToFile(picture);
        view->SetImageFileName(1, picture);
      } else {
        view->SetImageID(1, 7);
      }
      view->SetSelectedItem(0);
      view->FreeImage(1);
      TBitmap given;
      korvane::test::FillPattern24(given, 16, 12, 4);
      view->OnImageIDRequest = [&](TObject*, int, TBitmap*& b) {
        if (how == kThrows) throw std::runtime_error("no such picture");
        if (how == kAborted) {
          mio.Aborting = true;
          b = &given;
        }
      };
      if (how == kFileGone) fs::remove(picture);
      if (how == kAborted) {
        mio.SaveToFile(target);
        EXPECT_TRUE(mio.Aborting);
      } else {
        EXPECT_ANY_THROW(mio.SaveToFile(target));
      }
      EXPECT_EQ(ReadAll(target), "the old file");
      EXPECT_EQ(d.Entries(), 1);
    }
  }
}

TEST(MIOSafeSave, AviWriterReportsOutputThatFails) {
  auto view = ViewOf(1, 64, 48);
  TBitmap* b = view->GetBitmap(0);
  ASSERT_NE(b, nullptr);
  HGLOBAL dib = _CopyBitmaptoDIB(b, 0, 0, 0, 0);
  view->ReleaseBitmap(0);
  struct Free {
    HGLOBAL h;
    ~Free() { GlobalFree(h); }
  } release{dib};
  TGlobalLock lock(dib);
  // A full disk, through a file the writer opens itself.
  if (fs::exists("/dev/full")) {
    EXPECT_ANY_THROW({
      TKVAVIWriter w("/dev/full", 64, 48, 25, {"rawvideo", 90});
      for (int i = 0; i < 20; ++i) w.WriteDIB(lock.Data(), lock.Size());
      w.Close();
    });
  }
  // A stream that takes no more than a few kilobytes: its own error passes on.
  class Short : public TMemoryStream {
   public:
    int64_t Write(const void* p, int64_t n) override {
      if (Size() + n > 20000) throw EWriteError("stream full");
      return TMemoryStream::Write(p, n);
    }
  } full;
  EXPECT_THROW(
      {
        TKVAVIWriter w(&full, 64, 48, 25, {"rawvideo", 90});
        for (int i = 0; i < 20; ++i) w.WriteDIB(lock.Data(), lock.Size());
        w.Close();
      },
      EWriteError);
}

// Saving a view of file-backed images loads each picture for its frame and
// drops it again: at no point are more than the image being written and the
// selected one in memory.
TEST(MIOOnDemand, SaveDropsEachFilePictureAfterWritingIt) {
  constexpr int kImages = 24, kW = 400, kH = 300;
  Dir d;
  InstallKorvaneLZWCoders();
  TKorvaneMView view(nullptr);
  view.SetBounds(0, 0, 120, 120);
  TKorvaneMIO mio;
  mio.SetAttachedMView(&view);
  for (int i = 0; i < kImages; ++i) {
    TBitmap b;
    b.Allocate(kW, kH, pf24bit);
    for (int y = 0; y < kH; ++y) std::fill_n(b.Scanline(y), kW * 3, uint8_t(i * 10 + y / 50));
    TKorvaneIO io;
    io.SetAttachedBitmap(&b);
    const std::string name = d.File("p" + std::to_string(i) + ".bmp");
    io.SaveToFile(name);
    view.SetImageFileName(view.AppendImage(), name);
  }
  view.SetSelectedItem(0);
  mio.AVICompressor.Encoder = "rawvideo";
  auto held = [&] {
    int n = 0;
    for (int i = 0; i < view.GetImageCount(); ++i)
      n += i != view.GetSelectedItem() && view.GetImageWidth(i) > 0;
    return n;
  };
  for (const char* ext : {".gif", ".tif", ".avi"}) {
    SCOPED_TRACE(ext);
    int most = 0;
    size_t base = 0, peak = 0;
#if defined(__SANITIZE_ADDRESS__)
    base = __sanitizer_get_current_allocated_bytes();
#endif
    mio.OnProgress = [&](TObject*, int) {
      most = std::max(most, held());
#if defined(__SANITIZE_ADDRESS__)
      peak = std::max(peak, __sanitizer_get_current_allocated_bytes());
#endif
    };
    mio.SaveToFile(d.File(std::string("all") + ext));
    EXPECT_LE(most, 1);
    EXPECT_EQ(held(), 0);
    // All pictures held would be 24 x 360 KB twice over (bitmap and compact
    // copy); one at a time stays within a few of them.
    if (base) {
      EXPECT_LT(peak - std::min(peak, base), size_t(8) * kW * kH * 3);
    }
  }
  TKorvaneMView back(nullptr);
  TKorvaneMIO in;
  in.SetAttachedMView(&back);
  in.LoadFromFile(d.File("all.tif"));
  EXPECT_EQ(back.GetImageCount(), kImages);
}

// Loading or saving N frames reads the stream about once, not N times
// over.
TEST(MIOFrames, LoadAndSaveGoThroughTheStreamOnce) {
  constexpr int kFrames = 300;
  TKorvaneMIO mio;
  auto view = ViewOf(kFrames, 8, 6, &mio);
  for (bool gif : {true, false}) {
    SCOPED_TRACE(gif ? "GIF" : "TIFF");
    CountingStream s;
    gif ? mio.SaveToStreamGif(&s) : mio.SaveToStreamTIFF(&s);
    EXPECT_LT(s.read, s.Size()) << "the save read its own output back";
    s.SetPosition(0);
    ASSERT_EQ(gif ? TGifFrameIndex(&s).Count() : _EnumTIFFImStream(&s), kFrames);
    auto into = ViewOf(0);
    TKorvaneMIO loader;
    loader.SetAttachedMView(into.get());
    s.SetPosition(0);
    s.read = 0;
    gif ? loader.LoadFromStreamGif(&s) : loader.LoadFromStreamTIFF(&s);
    EXPECT_EQ(into->GetImageCount(), kFrames);
    EXPECT_LT(s.read, 2 * s.Size());
  }
}
