// A bounded soak of the multi-image view over 5,000 file-backed cells: random
// scrolling, selection, seeking, processing of the selection, files deleted,
// broken and replaced on disk, list deletions, play and stop, and saves
// through the multi-image I/O component. Everything must keep working (cells
// whose files are intact keep showing their pictures), the only errors are
// the loader's for files that went bad, and memory stays bounded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTest>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KV_SOAK_LIVE_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_SOAK_LIVE_HEAP 1
#endif
#endif
#ifdef KV_SOAK_LIVE_HEAP
// The sanitizer's count of bytes allocated and not yet freed.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/winsys.h"
#include "korvane/io/kvio.h"
#include "korvane/multi/kvmio.h"
#include "korvane/multi/kvmview.h"
#include "korvane/proc/kvproc.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

constexpr unsigned kSeed = 26001;  // fixed, so that a failure reproduces
constexpr int kImages = 5000;
constexpr int kColors = 16;
constexpr int kSteps = 4000;           // the sequence the seed gives...
constexpr double kSeconds = 30.0;      // ...cut short after this long
constexpr int kPicW = 96, kPicH = 72;  // each held picture: 20,776 bytes

int64_t RssBytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return int64_t(resident) * sysconf(_SC_PAGESIZE);
}

// Live heap bytes where the sanitizer can tell (freed blocks waiting in its
// quarantine are not counted); -1 elsewhere.
int64_t LiveHeapBytes() {
#ifdef KV_SOAK_LIVE_HEAP
  return int64_t(__sanitizer_get_current_allocated_bytes());
#else
  return -1;
#endif
}

unsigned ColorOf(int c) { return 0x101010u * unsigned(c) ^ (unsigned(c & 3) * 0x3F0000u) ^ 0x0000C0u; }

int Channel(unsigned rgb, int shift) { return int((rgb >> shift) & 0xFF); }

bool Near(unsigned a, unsigned b) {
  for (int s : {0, 8, 16})
    if (std::abs(Channel(a, s) - Channel(b, s)) > 10) return false;
  return true;
}

}  // namespace

TEST(MViewSoak, FileBackedCellsUnderRandomUse) {
  InstallKorvaneLZWCoders();
  // In memory where the system offers it: 5,000 files made and removed on
  // a busy disk would take most of the time.
  const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  const fs::path dir = base / ("korvane_soak_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  struct Cleanup {
    fs::path d;
    ~Cleanup() {
      std::error_code ec;
      fs::remove_all(d, ec);
    }
  } cleanup{dir};

  const auto setupStart = std::chrono::steady_clock::now();
  // Sixteen small JPEG pictures of one colour each, copied to 5,000 names.
  std::vector<std::string> colorFile(kColors);
  for (int c = 0; c < kColors; ++c) {
    TBitmap b;
    b.Allocate(kPicW, kPicH, pf24bit);
    const unsigned rgb = ColorOf(c);
    for (int y = 0; y < kPicH; ++y) {
      TRGB* row = reinterpret_cast<TRGB*>(b.Scanline(y));
      for (int x = 0; x < kPicW; ++x) row[x] = TRGB{uint8_t(rgb), uint8_t(rgb >> 8), uint8_t(rgb >> 16)};
    }
    TKorvaneIO io;
    io.SetAttachedBitmap(&b);
    colorFile[c] = (dir / ("c" + std::to_string(c) + ".jpg")).string();
    io.SaveToFileJpeg(colorFile[c]);
  }
  std::vector<std::string> names(kImages);
  std::vector<int> color(kImages);  // the file's colour, -1 once it was touched
  for (int i = 0; i < kImages; ++i) {
    names[i] = (dir / ("p" + std::to_string(i) + ".jpg")).string();
    color[i] = i % kColors;
    fs::copy_file(colorFile[color[i]], names[i]);
  }

  const auto made = std::chrono::steady_clock::now();
  const int blocksBefore = GlobalBlockCount();
  {
    TKorvaneMView v(nullptr);
    v.SetBorderStyle(bsNone);
    v.SetBounds(0, 0, 400, 300);
    v.SetThumbWidth(40);
    v.SetThumbHeight(40);
    v.SetGridWidth(-1);
    v.SetScrollBars(ssBoth);
    v.SetBackGround(0x203040);
    TKorvaneMIO mio;
    mio.SetAttachedMView(&v);
    TKorvaneProc proc;
    proc.SetAttachedKorvane(&v);
    // Which view index shows which file.
    std::vector<int> fileOf(kImages);
    v.LockPaint();
    for (int i = 0; i < kImages; ++i) {
      v.AppendImage();
      v.SetImageFileName(i, names[i]);
      fileOf[i] = i;
    }
    v.Deselect();
    v.UnLockPaint();
    ASSERT_EQ(mio.GetParamsCount(), kImages);
    std::printf("soak setup: files %.1f s, view %.1f s\n",
                std::chrono::duration<double>(made - setupStart).count(),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - made).count());

    std::mt19937 rng(kSeed);
    auto pick = [&](int n) { return int(rng() % unsigned(std::max(n, 1))); };
    const int64_t picture = 40 + int64_t(kPicW) * 3 * kPicH;
    // What the cells on screen, the selection and a few borrowed pictures
    // take; everything else must have been let go.
    auto storeBound = [&] {
      const int cols = std::max(1, v.ClientWidth() / 44 + 2), rows = v.ClientHeight() / 44 + 2;
      return (int64_t(cols) * rows + 8) * picture;
    };
    int loaderErrors = 0, saves = 0, savesFailed = 0, plays = 0, checkedCells = 0, absentPainted = 0;
    // Cells painted without a picture because their file went bad.
    v.OnImageDraw = [&](TObject*, int idx, int, int, TCanvas*) {
      if (!v.GetBitmapInfo(idx) && v.GetImageInfo(idx)->BmpCount == 0 && color[fileOf[idx]] < 0)
        ++absentPainted;
    };
    int64_t worstStore = 0, rssStart = 0, heapStart = 0;
    auto expectedFailure = [&](const std::exception& e) {
      // A file deleted (open error) or broken (the reader's error).
      if (dynamic_cast<const EStreamError*>(&e) || dynamic_cast<const EInvalidGraphic*>(&e)) {
        ++loaderErrors;
        return;
      }
      ADD_FAILURE() << "unexpected error: " << e.what();
    };
    // The image under a random point of the client area, or -1.
    auto onScreen = [&] { return v.ImageAtPos(pick(v.ClientWidth()), pick(v.ClientHeight())); };
    auto paintAndCheck = [&] {
      v.Repaint();
      worstStore = std::max(worstStore, v.GetStoreBytes());
      ASSERT_LE(v.GetStoreBytes(), storeBound()) << "pictures kept after their cells left";
      if (v.GetDisplayMode() != mdGrid || v.GetImageCount() == 0) return;
      // A cell on screen whose file was never touched shows its colour.
      const int idx = onScreen();
      if (idx < 0 || v.GetImageVisibility(idx) != 2 || color[fileOf[idx]] < 0 || idx == v.GetSelectedItem())
        return;
      const int x = v.GetImageX(idx) - v.GetViewX() + 20, y = v.GetImageY(idx) - v.GetViewY() + 20;
      const unsigned got = v.ClientImage().pixel(x, y) & 0xFFFFFF;
      ++checkedCells;
      ASSERT_TRUE(Near(got, ColorOf(color[fileOf[idx]])))
          << "cell " << idx << " shows " << std::hex << got << " for " << ColorOf(color[fileOf[idx]]);
    };
    const auto start = std::chrono::steady_clock::now();
    int step = 0;
    for (; step < kSteps; ++step) {
      if (step == 200) {
        rssStart = RssBytes();
        heapStart = LiveHeapBytes();
      }
      if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > kSeconds) break;
      const int n = v.GetImageCount();
      const int op = pick(100);
      try {
        if (op < 30) {
          int mx, my;
          v.GetMaxViewXY(mx, my);
          v.SetViewXY(pick(mx + 1), pick(my + 1));
          paintAndCheck();
        } else if (op < 42) {
          v.SetViewY(v.GetViewY() + (pick(2) ? 1 : -1) * (1 + pick(300)));
          paintAndCheck();
        } else if (op < 54) {
          v.SetSelectedItem(pick(n));
          v.CenterSelected();
          paintAndCheck();
        } else if (op < 62) {
          v.SelectSeek(TKVSeek(pick(8)));
          paintAndCheck();
        } else if (op < 67) {
          const int sel = v.GetSelectedItem();
          proc.Negative();
          if (sel >= 0 && v.GetBitmap()) color[fileOf[sel]] = -1;  // no longer the file's colour
        } else if (op < 80) {
          // A file goes bad on disk, mostly one the view shows: deleted,
          // broken, or another picture.
          const int shown = onScreen();
          const int f = shown >= 0 && pick(4) != 0 ? fileOf[shown] : pick(kImages);
          const int how = pick(3);
          color[f] = -1;
          if (how == 0) {
            fs::remove(names[f]);
          } else if (how == 1) {
            std::ofstream(names[f], std::ios::binary | std::ios::trunc) << "\xFF\xD8\xFF garbage";
          } else {
            fs::copy_file(colorFile[pick(kColors)], names[f], fs::copy_options::overwrite_existing);
          }
        } else if (op < 86) {
          if (n > 0) {
            const int idx = pick(n);
            v.DeleteImage(idx);
            fileOf.erase(fileOf.begin() + idx);
            ASSERT_EQ(mio.GetParamsCount(), v.GetImageCount());
          }
        } else if (op < 92) {
          ++plays;
          v.SetVisibleFrame(pick(n));
          v.SetPlaying(true);
          for (int k = pick(15); k > 0 && v.GetPlaying(); --k) v.PlayFrame();
          QTest::qWait(15);  // and a few frames from the timer
          worstStore = std::max(worstStore, v.GetStoreBytes());
          EXPECT_LE(v.GetStoreBytes(), storeBound()) << "frames kept while playing";
          v.SetPlaying(false);
          EXPECT_EQ(v.GetDisplayMode(), mdGrid);
          paintAndCheck();
        } else if (op < 95) {
          // A save, cut short once it has loaded some twenty pictures, so
          // that it stays brief (the save keeps what it loaded; the next
          // paint lets those pictures go).
          ++saves;
          const int64_t before = v.GetStoreBytes();
          mio.OnProgress = [&](TObject*, int) {
            if (v.GetStoreBytes() > before + 20 * picture) mio.Aborting = true;
          };
          const bool gif = pick(2) == 0;
          try {
            mio.SaveToFile((dir / (gif ? "out.gif" : "out.tif")).string());
          } catch (const std::exception& e) {
            ++savesFailed;
            expectedFailure(e);
          }
          mio.OnProgress = nullptr;
          paintAndCheck();
        } else {
          v.SetSelectedItem(pick(n));
          v.Deselect();
          paintAndCheck();
        }
      } catch (const std::exception& e) {
        expectedFailure(e);
      }
      if (HasFatalFailure()) break;
      ASSERT_EQ(v.GetImageCount(), int(fileOf.size()));
      ASSERT_EQ(mio.GetParamsCount(), v.GetImageCount());
    }
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int64_t rssGrowth = RssBytes() - rssStart;
    const int64_t heapGrowth = heapStart >= 0 ? LiveHeapBytes() - heapStart : -1;
    std::printf(
        "soak seed %u: %d steps in %.1f s, %d images left, %d loader errors, %d cells painted absent, %d "
        "saves "
        "(%d failed), %d plays, %d cells checked, store peak %lld bytes, RSS growth %lld KiB, live heap "
        "growth "
        "%lld KiB\n",
        kSeed, step, secs, v.GetImageCount(), loaderErrors, absentPainted, saves, savesFailed, plays,
        checkedCells, (long long)worstStore, (long long)(rssGrowth >> 10), (long long)(heapGrowth >> 10));
    std::fflush(stdout);
    // A loaded machine (two test programs at once under the sanitizers) gets
    // through some 80 steps of the cut-short sequence.
    EXPECT_GE(step, 50) << "too few steps to mean anything";
    EXPECT_GT(checkedCells, 20);
    EXPECT_GT(absentPainted, 0) << "the files that went bad were never met";
    v.OnImageDraw = nullptr;
    // Had every picture stayed, the store would hold 5,000 x 20 KiB = 100 MB.
    EXPECT_LE(worstStore, storeBound());
    if (heapGrowth >= 0) {
      EXPECT_LT(heapGrowth, int64_t(32) << 20);
    }
    // Under the sanitizer the live heap above is the measure: it keeps up to
    // 256 MiB of freed blocks in quarantine and its size classes keep their
    // pages, all of which the resident size counts; only a gross growth is
    // refused there.
    const int64_t rssAllowance = heapGrowth >= 0 ? int64_t(768) << 20 : int64_t(64) << 20;
    EXPECT_LT(rssGrowth, rssAllowance);
  }
  EXPECT_EQ(GlobalBlockCount(), blocksBefore);
}
