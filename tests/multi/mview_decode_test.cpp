// The multi-image view decoding its cells' files on worker threads: the same
// pixels as decoding on the painting thread, placeholders until pictures
// arrive, and pictures of images deleted, renamed or scrolled away dropped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "korvane/io/kvio.h"
#include "korvane/multi/kvmview.h"
#include "tests/test_support.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

struct Folder {
  explicit Folder(const char* tag)
      : dir(fs::temp_directory_path() / (std::string("korvane_") + tag + "_" + std::to_string(::getpid()))) {
    fs::create_directories(dir);
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir;
};

// Writes file i of a mixed set: every writable format in turn, each picture
// a pattern of its own; every seventh file holds no picture at all.
std::string WriteFile(const Folder& f, int i, int w, int h) {
  static const char* const kExt[] = {".jpg", ".png", ".bmp", ".gif", ".tif"};
  const std::string name = (f.dir / ("p" + std::to_string(i) + kExt[i % 5])).string();
  if (i % 7 == 6) {
    std::ofstream(name, std::ios::binary) << "not a picture";
    return name;
  }
  TBitmap b;
  test::FillPattern24(b, w, h, unsigned(i * 31 + 5));
  TKorvaneIO io;
  io.SetAttachedBitmap(&b);
  io.SaveToFile(name);
  return name;
}

// A 4-column view of 30 x 30 cells showing two rows, over n files.
std::unique_ptr<TKorvaneMView> GridOf(const std::vector<std::string>& files, TKVStoreType store) {
  auto v = std::make_unique<TKorvaneMView>(nullptr);
  v->SetBorderStyle(bsNone);
  v->SetBounds(0, 0, 4 * 32 + 2, 2 * 32 + 2);
  v->SetThumbWidth(30);
  v->SetThumbHeight(30);
  v->SetHorizBorder(2);
  v->SetVertBorder(2);
  v->SetGridWidth(4);
  v->SetBackGround(0x00FF00);
  v->SetStoreType(store);
  v->LockPaint();
  for (const std::string& f : files) {
    const int idx = v->AppendImage();
    v->SetImageFileName(idx, f);
    v->SetImageBackground(idx, RGB(0x20, 0x40, 0x80));
  }
  v->Deselect();
  v->NPUnLockPaint();
  return v;
}

unsigned Px(TKorvaneMView& v, int x, int y) { return v.ClientImage().pixel(x, y) & 0xFFFFFF; }

}  // namespace

class MViewDecode : public ::testing::TestWithParam<TKVStoreType> {};

TEST_P(MViewDecode, WorkerThreadsPaintWhatThePaintingThreadPaints) {
  InstallKorvaneLZWCoders();
  Folder f("mvdecode");
  std::vector<std::string> files;
  for (int i = 0; i < 8; ++i) files.push_back(WriteFile(f, i, 90 + 7 * i, 60 + 5 * i));

  auto one = GridOf(files, GetParam());
  const QImage want = one->ClientImage().copy();

  auto many = GridOf(files, GetParam());
  int told = 0;
  many->OnDecodesPainted = [&](TObject*) { ++told; };
  many->SetDecodeThreads(3);
  // The first paint asks for every visible cell and shows placeholders: no
  // picture can arrive before the event loop runs.
  EXPECT_EQ(Px(*many, 2 + 15, 2 + 15), 0x204080u);
  EXPECT_EQ(many->GetDecodesPending(), 8);
  // A caller that needs a picture now still gets it at once; the decode
  // under way for it is given up.
  TBitmap* b = many->GetBitmap(3);
  ASSERT_NE(b, nullptr);
  EXPECT_GT(b->Width(), 0);
  many->ReleaseBitmap(3);
  EXPECT_EQ(many->GetDecodesPending(), 7);
  ASSERT_TRUE(many->WaitForDecodes(60000));
  EXPECT_TRUE(many->ClientImage() == want);
  EXPECT_EQ(told, 1);
  EXPECT_EQ(many->GetDecodesPending(), 0);
  // The unreadable file paints as absent, as on the painting thread, and is
  // not asked for again by later paints.
  EXPECT_TRUE(many->GetImageInfo(6)->DecodeFailed);
  many->Repaint();
  EXPECT_EQ(many->GetDecodesPending(), 0);
}

INSTANTIATE_TEST_SUITE_P(Stores, MViewDecode, ::testing::Values(kvtThumb, kvtNormal));

TEST(MViewDecodeLifetime, ClearRenameScrollAndDeleteWhileWorkersRun) {
  Folder f("mvdecodelife");
  std::vector<std::string> files;
  for (int i = 0; i < 24; ++i) files.push_back(WriteFile(f, i * 35, 400, 300));  // JPEGs only
  TBitmap red;
  red.Allocate(40, 40, pf24bit);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) reinterpret_cast<TRGB*>(red.Scanline(y))[x] = TRGB{0, 0, 255};
  const std::string redFile = (f.dir / "red.bmp").string();
  {
    TKorvaneIO io;
    io.SetAttachedBitmap(&red);
    io.SaveToFileBMP(redFile);
  }

  auto v = GridOf(files, kvtThumb);
  v->SetDecodeThreads(2);
  (void)v->ClientImage();
  ASSERT_EQ(v->GetDecodesPending(), 8);
  // Renamed while its decode is under way: the old file's picture never
  // lands, the new file's does.
  v->SetImageFileName(1, redFile);
  EXPECT_EQ(v->GetDecodesPending(), 7);
  // Scrolled away: the first row's decodes are given up and their pictures
  // dropped; the cells now in view are asked for.
  v->SetViewY(32);
  (void)v->ClientImage();
  ASSERT_TRUE(v->WaitForDecodes(60000));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(v->GetBitmapInfo(i), nullptr) << i;
  for (int i = 4; i < 12; ++i) EXPECT_NE(v->GetBitmapInfo(i), nullptr) << i;
  v->SetViewY(0);
  ASSERT_TRUE(v->WaitForDecodes(60000));
  EXPECT_EQ(Px(*v, 32 + 2 + 15, 2 + 15), 0xFF0000u);

  // Cleared and refilled while the workers run: no picture of the old list
  // reaches the new one.
  v->SetViewY(2 * 32);
  (void)v->ClientImage();
  ASSERT_GT(v->GetDecodesPending(), 0);
  v->Clear();
  EXPECT_EQ(v->GetDecodesPending(), 0);
  for (int i = 0; i < 8; ++i) v->SetImageFileName(v->AppendImage(), redFile);
  v->Deselect();
  ASSERT_TRUE(v->WaitForDecodes(60000));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(Px(*v, 2 + 32 * (i % 4) + 15, 2 + 32 * (i / 4) + 15), 0xFF0000u) << i;

  // Deleted with decodes queued and running: nothing lands on freed memory
  // (the sanitizers watch), and later events find no view.
  v->SetViewY(0);
  for (int i = 0; i < 8; ++i) {
    v->SetImageFileName(i, files[size_t(i)]);
    v->FreeImage(i);
  }
  v->Repaint();
  ASSERT_GT(v->GetDecodesPending(), 0);
  v.reset();
  QCoreApplication::processEvents();
}
