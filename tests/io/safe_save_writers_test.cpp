// Every write that replaces a file goes through the one safe path: a save
// aborted from OnProgress, a writer that raises, or a disk that fills up
// part-way leaves the file it would have replaced byte for byte as it was,
// and a save to a new name that does not finish leaves no file at all.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "korvane/foundations/host/streams.h"
#include "korvane/io/codecs/gif/gif_codec.h"
#include "korvane/io/codecs/pcx/pcx_codec.h"
#include "korvane/io/kvio.h"
#include "korvane/pixels/filters.h"
#include "korvane/vect/kvvect.h"
#include "tests/io/lzw_coders.h"
#include "tests/test_support.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

std::string Slurp(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void Put(const std::string& name, const std::string& bytes) {
  std::ofstream f(name, std::ios::binary | std::ios::trunc);
  f << bytes;
}

// Files may not grow past `limit` bytes while it lives: writes beyond fail
// as on a full disk (SIGXFSZ ignored, so they report EFBIG).
class DiskLimit {
 public:
  explicit DiskLimit(rlim_t limit) {
    getrlimit(RLIMIT_FSIZE, &old_);
    old_sig_ = signal(SIGXFSZ, SIG_IGN);
    rlimit r = old_;
    r.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &r);
  }
  ~DiskLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, old_sig_);
  }

 private:
  rlimit old_{};
  sighandler_t old_sig_{};
};

class SafeSave : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kvsafe_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    test::FillPattern24(bmp, 120, 90, 3);
    io.SetAttachedBitmap(&bmp);
    io.Params()->SetDefaultParams();
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
  // Names in the folder: no side file may stay behind.
  size_t Entries() const {
    return size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
  }
  // A GIF of three frames and a TIFF of two pages to edit.
  void MakeMultiFiles() {
    io.Params()->GIF_ImageIndex = 0;
    io.SaveToFileGif(Path("anim.gif"));
    for (int i = 1; i < 3; ++i) {
      io.Params()->GIF_ImageIndex = i;
      io.InsertToFileGif(Path("anim.gif"));
    }
    io.SaveToFileTIFF(Path("pages.tif"));
    io.Params()->TIFF_ImageIndex = 1;
    io.InsertToFileTIFF(Path("pages.tif"));
    ASSERT_EQ(EnumGifIm(Path("anim.gif")), 3);
    ASSERT_EQ(EnumTIFFIm(Path("pages.tif")), 2);
  }

  test::LZWCoders coders_;
  fs::path dir;
  TBitmap bmp;
  TKorvaneIO io;
};

const char* const kFormats[] = {"bmp", "gif", "jpg", "pcx", "png", "tif"};

TEST_F(SafeSave, AnAbortAtHalfWayLeavesTheOldFileForEveryFormat) {
  io.OnProgress = [&](TObject*, int per) {
    if (per >= 50) io.Aborting = true;
  };
  for (const char* ext : kFormats) {
    SCOPED_TRACE(ext);
    const std::string old = Path(std::string("old.") + ext), fresh = Path(std::string("new.") + ext);
    Put(old, std::string("the user's picture, not to be lost ") + ext);
    const std::string before = Slurp(old);
    const size_t entries = Entries();
    io.SaveToFile(old);
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(Slurp(old), before);
    io.SaveToFile(fresh);
    EXPECT_TRUE(io.Aborting);
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_EQ(Entries(), entries);
  }
  // Not aborted, the same saves replace the files.
  io.OnProgress = nullptr;
  for (const char* ext : kFormats) {
    io.SaveToFile(Path(std::string("old.") + ext));
    EXPECT_FALSE(io.Aborting);
    EXPECT_EQ(TKorvaneIO::FindFileFormat(Path(std::string("old.") + ext)) == ioUnknown, false) << ext;
  }
}

TEST_F(SafeSave, AWriterThatRaisesPartWayLeavesTheOldFile) {
  io.OnProgress = [&](TObject*, int per) {
    if (per >= 50) throw std::runtime_error("stopped by the test");
  };
  for (const char* ext : kFormats) {
    SCOPED_TRACE(ext);
    const std::string old = Path(std::string("old.") + ext);
    Put(old, "keep me");
    const size_t entries = Entries();
    EXPECT_ANY_THROW(io.SaveToFile(old));
    EXPECT_EQ(Slurp(old), "keep me");
    EXPECT_EQ(Entries(), entries);
  }
}

// A full disk shows only when the data are flushed: a writer that wrote over
// the file itself would leave it truncated and report success.
TEST_F(SafeSave, AFullDiskLeavesTheOldFileForEveryFileWriter) {
  MakeMultiFiles();
  TIOParamsVals record;
  record.SetDefaultParams();
  record.TIFF_ImageDescription.assign(4000, 'd');
  TMemoryStream mem;
  mem.SetData(std::string(5000, 'm').data(), 5000);
  TKorvaneVect vect(nullptr);
  TGraphFilter filter{{{1, 2, 1}, {2, 4, 2}, {1, 2, 1}}, 16};
  TProgressRec none;
  io.Params()->GIF_ImageIndex = 1;
  io.Params()->TIFF_ImageIndex = 0;

  const std::vector<std::pair<std::string, std::function<void(const std::string&)>>> writers = {
      {"x.bmp", [&](const std::string& n) { io.SaveToFileBMP(n); }},
      {"x.gif", [&](const std::string& n) { io.SaveToFileGif(n); }},
      {"x.jpg", [&](const std::string& n) { io.SaveToFileJpeg(n); }},
      {"x.pcx", [&](const std::string& n) { io.SaveToFilePCX(n); }},
      {"x.png", [&](const std::string& n) { io.SaveToFilePNG(n); }},
      {"x.tif", [&](const std::string& n) { io.SaveToFileTIFF(n); }},
      {"w.gif", [&](const std::string& n) { WriteGif(n, &bmp, *io.Params(), none); }},
      {"w.pcx", [&](const std::string& n) { WritePcx(n, &bmp, *io.Params(), none); }},
      {"anim.gif", [&](const std::string& n) { io.InsertToFileGif(n); }},
      {"anim.gif", [&](const std::string& n) { DeleteGifIm(n, 0); }},
      {"anim.gif", [&](const std::string& n) { _GifMakeAnimate(n, 0, 300, 300); }},
      {"pages.tif", [&](const std::string& n) { io.InsertToFileTIFF(n); }},
      {"pages.tif", [&](const std::string& n) { DeleteTIFFIm(n, 0); }},
      {"mem.bin", [&](const std::string& n) { mem.SaveToFile(n); }},
      {"params.kvp", [&](const std::string& n) { record.SaveToFile(n); }},
      {"vect.kvv", [&](const std::string& n) { vect.SaveToFileKVV(n); }},
      {"blur.flt", [&](const std::string& n) { SaveFilterToFile(n, filter); }},
  };
  for (const auto& [file, write] : writers) {
    SCOPED_TRACE(file);
    const std::string name = Path(file);
    if (!fs::exists(name)) Put(name, "an older file");
    const std::string before = Slurp(name);
    const size_t entries = Entries();
    {
      DiskLimit full(16);
      EXPECT_ANY_THROW(write(name));
    }
    EXPECT_EQ(Slurp(name), before);
    EXPECT_EQ(Entries(), entries);
  }
  // With room, the edits work on the files kept whole.
  EXPECT_EQ(io.InsertToFileGif(Path("anim.gif")), 4);
  EXPECT_EQ(DeleteTIFFIm(Path("pages.tif"), 0), 2);
  EXPECT_EQ(EnumTIFFIm(Path("pages.tif")), 1);
}

TEST_F(SafeSave, AbortedOrFailedPageAndFrameInsertsLeaveTheFile) {
  MakeMultiFiles();
  const std::string gif = Slurp(Path("anim.gif")), tif = Slurp(Path("pages.tif"));
  io.OnProgress = [&](TObject*, int per) {
    if (per >= 50) io.Aborting = true;
  };
  io.InsertToFileTIFF(Path("pages.tif"));
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(Slurp(Path("pages.tif")), tif);
  io.InsertToFileGif(Path("anim.gif"));
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(Slurp(Path("anim.gif")), gif);
  io.OnProgress = [&](TObject*, int per) {
    if (per >= 50) throw std::runtime_error("stopped by the test");
  };
  EXPECT_ANY_THROW(io.InsertToFileTIFF(Path("pages.tif")));
  EXPECT_EQ(Slurp(Path("pages.tif")), tif);
  // A page index outside the file deletes nothing and rewrites nothing.
  EXPECT_EQ(DeleteTIFFIm(Path("pages.tif"), 7), 2);
  EXPECT_EQ(Slurp(Path("pages.tif")), tif);
}

// The file a save replaces keeps its access rights, and a save through a
// symbolic link replaces the file it points at, not the link.
TEST_F(SafeSave, ASaveKeepsTheFilesRightsAndFollowsASymbolicLink) {
  const std::string target = Path("real.png"), link = Path("link.png");
  Put(target, "old");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  fs::create_symlink(target, link);
  io.SaveToFilePNG(link);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(TKorvaneIO::FindFileFormat(target), ioPNG);
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

}  // namespace
