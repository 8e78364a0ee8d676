// The multi-image I/O component: the parameters list following the view,
// GIF and TIFF loads into a selection, frame delays, and round trips.
#include <gtest/gtest.h>

#include <filesystem>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/codecs/tiff/tiff_codec.h"
#include "korvane/io/kvio.h"
#include "korvane/multi/kvmio.h"
#include "korvane/multi/kvmview.h"
#include "tests/multi/mio_rig.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

using test::Rig;

// A GIF of three frames made by the component, with frame delays in
// hundredths (0 = none).
TMemoryStream ThreeFrameGif(const int delays[3]) {
  Rig r;
  r.Add(3, 100, 8, 6);
  for (int i = 0; i < 3; ++i) {
    r.mio->GetParams(i)->BitsPerSample = 8;
    r.mio->GetParams(i)->GIF_DelayTime = delays[i];
  }
  TMemoryStream s;
  r.mio->SaveToStreamGif(&s);
  s.SetPosition(0);
  return s;
}

}  // namespace

TEST(MIOParams, ListFollowsInsertsAndDeletes) {
  Rig r;
  r.Add(3, 1);
  ASSERT_EQ(r.mio->GetParamsCount(), 3);
  r.mio->GetParams(1)->JPEG_Quality = 33;
  // A new record starts as a copy of its neighbour.
  r.view->InsertImage(1);
  ASSERT_EQ(r.mio->GetParamsCount(), 4);
  EXPECT_EQ(r.mio->GetParams(1)->JPEG_Quality, 33);
  r.view->DeleteImage(0);
  ASSERT_EQ(r.mio->GetParamsCount(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r.mio->GetParams(i)->GIF_ImageIndex, i);
    EXPECT_EQ(r.mio->GetParams(i)->TIFF_ImageIndex, i);
  }
  EXPECT_EQ(r.mio->GetParams(3), nullptr);
  // A destroyed view is let go.
  r.view.reset();
  EXPECT_EQ(r.mio->GetAttachedMView(), nullptr);
}

TEST(MIOGif, ThreeFramesIntoSelectionTwoOfFive) {
  const int delays[3] = {0, 5, 0};
  TMemoryStream gif = ThreeFrameGif(delays);
  Rig src;
  src.Add(3, 100, 8, 6);
  Rig r;
  r.Add(5, 1);
  r.view->SetSelectedItem(2);
  r.mio->LoadFromStreamGif(&gif);
  ASSERT_EQ(r.view->GetImageCount(), 8);
  ASSERT_EQ(r.mio->GetParamsCount(), 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(r.mio->GetParams(i)->GIF_ImageIndex, i);
  for (int f = 0; f < 3; ++f) {
    TBitmap got, want;
    r.Pixels(2 + f, got);
    src.Pixels(f, want);
    EXPECT_EQ(got.Width(), 8);
    EXPECT_EQ(r.mio->GetParams(2 + f)->FileType, ioGIF);
    // Eight bits of a pattern with few colors: the frames come back exactly.
    EXPECT_TRUE(korvane::test::SamePixels(got, want)) << "frame " << f;
  }
  // The old image 2 now follows the frames.
  TBitmap moved, orig;
  r.Pixels(5, moved);
  Rig ref;
  ref.Add(3, 1);
  ref.Pixels(2, orig);
  EXPECT_TRUE(korvane::test::SamePixels(moved, orig));
  // Delays: none on the first frame gives 10 ms, none later repeats the last.
  EXPECT_EQ(r.view->GetImageDelayTime(2), 10);
  EXPECT_EQ(r.view->GetImageDelayTime(3), 50);
  EXPECT_EQ(r.view->GetImageDelayTime(4), 50);
}

TEST(MIOGif, CorruptStreamLeavesTheListAsItWas) {
  Rig r;
  r.Add(2, 1);
  TMemoryStream bad;
  const char junk[] = "GIF89a\x10\x00";
  bad.Write(junk, sizeof junk);
  bad.SetPosition(0);
  EXPECT_THROW(r.mio->LoadFromStreamGif(&bad), EInvalidGraphic);
  EXPECT_EQ(r.view->GetImageCount(), 2);
  EXPECT_EQ(r.mio->GetParamsCount(), 2);
}

TEST(MIOTiff, RoundTripKeepsEveryPage) {
  Rig r;
  r.Add(3, 7, 20, 10);
  TMemoryStream s;
  r.mio->SaveToStreamTIFF(&s);
  EXPECT_EQ(_EnumTIFFImStream((s.SetPosition(0), &s)), 3);
  s.SetPosition(0);
  Rig back;
  back.mio->LoadFromStreamTIFF(&s);
  ASSERT_EQ(back.view->GetImageCount(), 3);
  for (int i = 0; i < 3; ++i) {
    TBitmap a, b;
    r.Pixels(i, a);
    back.Pixels(i, b);
    EXPECT_TRUE(korvane::test::SamePixels(a, b)) << "page " << i;
    EXPECT_EQ(back.view->GetImageDelayTime(i), 100);
    EXPECT_EQ(back.mio->GetParams(i)->FileType, ioTIFF);
  }
}

TEST(MIOFiles, ExtensionInAnyCaseAndUnknownDoesNothing) {
  auto dir = std::filesystem::temp_directory_path() / "korvane_mio_files";
  std::filesystem::create_directories(dir);
  Rig r;
  r.Add(2, 3);
  const std::string gif = (dir / "ANIM.GIF").string(), png = (dir / "x.png").string();
  r.mio->SaveToFile(gif);
  r.mio->SaveToFile(png);
  EXPECT_FALSE(std::filesystem::exists(png));
  EXPECT_EQ(EnumGifIm(gif), 2);
  Rig back;
  back.mio->LoadFromFile(gif);
  EXPECT_EQ(back.view->GetImageCount(), 2);
  back.mio->LoadFromFile(png);
  EXPECT_EQ(back.view->GetImageCount(), 2);
  // Saving an empty view writes nothing.
  Rig empty;
  empty.mio->SaveToFile((dir / "none.tif").string());
  EXPECT_FALSE(std::filesystem::exists(dir / "none.tif"));
  std::filesystem::remove_all(dir);
}
