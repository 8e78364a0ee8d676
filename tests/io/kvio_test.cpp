// The I/O component: codec choice by extension, format detection, stream
// headers, the messages failures turn into, conversion before saving, abort,
// metafile sizing and the multi-image file operations.
#include "korvane/io/kvio.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/view/kvview.h"
#include "tests/test_support.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

class KorvaneIO : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallKorvaneLZWCoders();
    dir = fs::temp_directory_path() / ("kvio_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    test::FillPattern24(bmp, 37, 23, 5);
    io.SetAttachedBitmap(&bmp);
    io.Params()->SetDefaultParams();
  }
  void TearDown() override {
    fs::remove_all(dir);
    DefGIF_LZWDECOMPFUNC = nullptr;
    DefGIF_LZWCOMPFUNC = nullptr;
    DefTIFF_LZWDECOMPFUNC = nullptr;
    DefTIFF_LZWCOMPFUNC = nullptr;
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
  // The message of the EInvalidGraphic f raises ("" when it raises none).
  static std::string Message(const std::function<void()>& f) {
    try {
      f();
    } catch (const EInvalidGraphic& e) {
      return e.what();
    }
    return "";
  }
  static TMemoryStream Bytes(std::initializer_list<int> head, size_t total) {
    std::vector<uint8_t> d(total, 0);
    size_t i = 0;
    for (int v : head) d[i++] = uint8_t(v);
    TMemoryStream s;
    s.SetData(d.data(), d.size());
    return s;
  }

  fs::path dir;
  TBitmap bmp;
  TKorvaneIO io;
};

TEST_F(KorvaneIO, ExtensionsChooseTheCodecInAnyCase) {
  io.SaveToFile(Path("a.TIFF"));
  io.SaveToFile(Path("b.JpEg"));
  io.SaveToFile(Path("c.xyz"));
  io.SaveToFile(Path("d.Png"));
  EXPECT_EQ(TKorvaneIO::FindFileFormat(Path("a.TIFF")), ioTIFF);
  EXPECT_EQ(TKorvaneIO::FindFileFormat(Path("b.JpEg")), ioJPEG);
  EXPECT_EQ(TKorvaneIO::FindFileFormat(Path("c.xyz")), ioBMP);
  EXPECT_EQ(TKorvaneIO::FindFileFormat(Path("d.Png")), ioPNG);
  EXPECT_FALSE(fs::exists(Path("a.TIFF.kvpart")));

  TBitmap back;
  io.SetAttachedBitmap(&back);
  io.LoadFromFile(Path("a.TIFF"));
  EXPECT_EQ(io.Params()->FileType, ioTIFF);
  EXPECT_EQ(io.Params()->FileName, Path("a.TIFF"));
  EXPECT_TRUE(test::SamePixels(back, bmp));

  // An unknown extension loads nothing and forgets the last file.
  fs::copy_file(Path("c.xyz"), Path("c.bmq"));
  io.LoadFromFile(Path("c.bmq"));
  EXPECT_EQ(io.Params()->FileType, ioUnknown);
  EXPECT_EQ(io.Params()->FileName, "");
  EXPECT_TRUE(test::SamePixels(back, bmp));
}

TEST_F(KorvaneIO, DetectionFollowsTheFirstBytesAndTheirMinimumSizes) {
  auto find = [](TMemoryStream s) {
    s.SetPosition(0);
    const TIOFileType t = TKorvaneIO::FindStreamFormat(&s);
    EXPECT_EQ(s.Position(), 0);
    return t;
  };
  EXPECT_EQ(find(Bytes({'I', 'I'}, 12)), ioTIFF);
  EXPECT_EQ(find(Bytes({'M', 'M'}, 9)), ioTIFF);
  EXPECT_EQ(find(Bytes({'I', 'I'}, 8)), ioUnknown);
  EXPECT_EQ(find(Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0, 0, 'J', 'F', 'I', 'F', 0}, 13)), ioJPEG);
  EXPECT_EQ(find(Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0, 0, 'J', 'F', 'I', 'F', 0}, 12)), ioUnknown);
  // A camera's JPEG opens with an Exif marker instead of JFIF.
  EXPECT_EQ(find(Bytes({0xFF, 0xD8, 0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f'}, 100)), ioJPEG);
  EXPECT_EQ(find(Bytes({'J', 'F', 'I', 'F'}, 13)), ioJPEG);
  EXPECT_EQ(find(Bytes({'G', 'I', 'F'}, 14)), ioGIF);
  EXPECT_EQ(find(Bytes({'G', 'I', 'F'}, 13)), ioUnknown);
  EXPECT_EQ(find(Bytes({'P', 'C', 'X', '2'}, 13)), ioPCX);
  EXPECT_EQ(find(Bytes({'P', 'C', 'X'}, 5)), ioPCX);
  EXPECT_EQ(find(Bytes({'B', 'M'}, 15)), ioBMP);
  EXPECT_EQ(find(Bytes({'B', 'M'}, 14)), ioUnknown);
  EXPECT_EQ(find(Bytes({0x0A, 5}, 129)), ioPCX);
  EXPECT_EQ(find(Bytes({0x0A, 6}, 129)), ioUnknown);
  EXPECT_EQ(find(Bytes({0x0A, 5}, 128)), ioUnknown);
  EXPECT_EQ(find(Bytes({'T', 'I', 'F', 'F'}, 13)), ioTIFF);
  EXPECT_EQ(find(Bytes({0x89, 'P', 'N', 'G', 13, 10, 26, 10}, 9)), ioPNG);
  EXPECT_EQ(find(Bytes({}, 0)), ioUnknown);
  EXPECT_EQ(TKorvaneIO::FindFileFormat(Path("missing.bmp")), ioUnknown);

  // Icons and cursors are recognised by their directories.
  EXPECT_EQ(find(Bytes({0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 24, 0, 100, 0, 0, 0, 22}, 200)), ioICO);
  EXPECT_EQ(find(Bytes({0, 0, 2, 0, 1, 0, 16, 16, 0, 0, 1, 0, 24, 0, 100, 0, 0, 0, 22}, 200)), ioCUR);
  EXPECT_EQ(find(Bytes({0, 0, 2, 0, 1, 0, 16, 16, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 22}, 200)), ioUnknown);
}

TEST_F(KorvaneIO, HeadedStreamsLoadBackImageByImage) {
  TMemoryStream s;
  io.SaveToStreamJpeg(&s);
  const int64_t afterJpeg = s.Position();
  TBitmap second;
  test::FillPattern24(second, 19, 11, 9);
  io.SetAttachedBitmap(&second);
  io.SaveToStreamPCX(&s);
  const int64_t afterPcx = s.Position();
  io.SaveToStreamTIFF(&s);
  EXPECT_EQ(std::memcmp(s.Memory(), "JFIF\0\0\0\0", 8), 0);
  EXPECT_EQ(std::memcmp(s.Memory() + afterJpeg, "PCX2", 4), 0);
  EXPECT_EQ(std::memcmp(s.Memory() + afterPcx, "TIFF", 4), 0);
  const uint8_t* h = s.Memory() + afterJpeg;
  EXPECT_EQ(int64_t(h[8] | h[9] << 8 | h[10] << 16 | h[11] << 24), afterPcx - afterJpeg - 12);

  s.SetPosition(0);
  EXPECT_EQ(TKorvaneIO::FindStreamFormat(&s), ioJPEG);
  TBitmap a, b, c;
  io.SetAttachedBitmap(&a);
  io.LoadFromStreamJpeg(&s);
  EXPECT_EQ(s.Position(), afterJpeg);
  EXPECT_EQ(a.Width(), 37);
  io.SetAttachedBitmap(&b);
  io.LoadFromStreamPCX(&s);
  EXPECT_EQ(s.Position(), afterPcx);
  EXPECT_TRUE(test::SamePixels(b, second));
  io.SetAttachedBitmap(&c);
  io.LoadFromStreamTIFF(&s);
  EXPECT_EQ(s.Position(), s.Size());
  EXPECT_TRUE(test::SamePixels(c, second));
  EXPECT_EQ(io.Params()->FileType, ioTIFF);

  // Parameters only: the header is stepped over, the position kept.
  s.SetPosition(afterJpeg);
  io.ParamsFromStream(&s);
  EXPECT_EQ(io.Params()->FileType, ioPCX);
  EXPECT_EQ(io.Params()->Width, 19);
  EXPECT_EQ(s.Position(), afterJpeg);

  // With headers expected, a PCX stream must carry one; the older 4-byte
  // header is still read.
  TMemoryStream bare;
  io.StreamHeaders = false;
  io.SaveToStreamPCX(&bare);
  io.StreamHeaders = true;
  bare.SetPosition(0);
  EXPECT_EQ(Message([&] { io.LoadFromStreamPCX(&bare); }), "unrecognized PCX stream");
  TMemoryStream old;
  old.WriteBuffer("PCX\0", 4);
  old.CopyFrom(&bare, 0);
  old.SetPosition(0);
  TBitmap d;
  io.SetAttachedBitmap(&d);
  io.LoadFromStreamPCX(&old);
  EXPECT_TRUE(test::SamePixels(d, c));
}

TEST_F(KorvaneIO, FailuresBecomeTheFormatsMessagesAndLeaveTheRecord) {
  const std::string junk = Path("junk");
  {
    TFileStream f(junk, fmCreate);
    f.WriteBuffer("this is not an image at all, not even close", 44);
  }
  io.Params()->FileType = ioPNG;
  io.Params()->FileName = "kept";
  EXPECT_EQ(Message([&] { io.LoadFromFileBMP(junk); }), "unrecognized BMP");
  EXPECT_EQ(Message([&] { io.LoadFromFileBMP(Path("missing")); }), "unrecognized BMP");
  EXPECT_EQ(Message([&] { io.LoadFromFilePCX(Path("missing")); }), "unrecognized PCX");
  EXPECT_THROW(io.LoadFromFileJpeg(Path("missing")), EFOpenError);
  EXPECT_EQ(Message([&] { io.LoadFromFileJpeg(junk); }), "unrecognized JPEG");
  EXPECT_EQ(Message([&] { io.ImportMetafile(junk, -1, -1); }), "unrecognized WMF or EMF");
  EXPECT_EQ(Message([&] { io.InsertToFileGif(junk); }), "unrecognized GIF");
  // Appended: the codec's own text, then the component's.
  const std::string gif = Message([&] { io.LoadFromFileGif(Path("missing")); });
  EXPECT_TRUE(gif.ends_with(" : unrecognized GIF")) << gif;
  const std::string tif = Message([&] { io.LoadFromFileTIFF(junk); });
  EXPECT_TRUE(tif.ends_with(" : unrecognized TIFF")) << tif;
  TMemoryStream s;
  s.WriteBuffer("garbage bytes, twenty+", 22);
  s.SetPosition(0);
  const std::string png = Message([&] { io.LoadFromStreamPNG(&s); });
  EXPECT_TRUE(png.ends_with(" : unrecognized PNG stream")) << png;
  s.SetPosition(0);
  EXPECT_EQ(Message([&] { io.LoadFromStreamBMP(&s); }), "unrecognized BMP stream");
  s.SetPosition(0);
  EXPECT_EQ(Message([&] { io.LoadFromStreamTIFF(&s); }), "unrecognized TIFF stream");
  EXPECT_EQ(io.Params()->FileType, ioPNG);
  EXPECT_EQ(io.Params()->FileName, "kept");

  // A failed save leaves the file it would have replaced as it was.
  io.SaveToFileBMP(Path("keep.png"));
  const auto before = fs::file_size(Path("keep.png"));
  TBitmap empty;
  io.SetAttachedBitmap(&empty);
  EXPECT_ANY_THROW(io.SaveToFilePNG(Path("keep.png")));
  EXPECT_EQ(fs::file_size(Path("keep.png")), before);
  EXPECT_FALSE(fs::exists(Path("keep.png.kvpart")));
}

TEST_F(KorvaneIO, SavingConvertsAnEightBitTargetAndAbortIsNoFailure) {
  bmp.SetPixelFormat(pf8bit);
  TMemoryStream s;
  io.SaveToStreamBMP(&s);
  EXPECT_EQ(bmp.PixelFormat(), pf24bit);

  int calls = 0;
  io.OnProgress = [&](TObject* sender, int) {
    EXPECT_EQ(sender, &io);
    ++calls;
    io.Aborting = true;
  };
  TBitmap back;
  io.SetAttachedBitmap(&back);
  s.SetPosition(0);
  io.LoadFromStreamBMP(&s);
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(io.Params()->FileType, ioBMP);
  // The next operation starts with the flag cleared.
  io.OnProgress = nullptr;
  s.SetPosition(0);
  io.LoadFromStreamBMP(&s);
  EXPECT_FALSE(io.Aborting);
  EXPECT_TRUE(test::SamePixels(back, bmp));
}

TEST_F(KorvaneIO, LoadsReachTheViewWithResolutionAndBackground) {
  TKorvaneView view(nullptr);
  view.resize(100, 80);
  io.SetAttachedKorvane(&view);
  io.Params()->DpiX = 300;
  io.Params()->DpiY = 150;
  TBitmap src;
  test::FillPattern24(src, 12, 9, 3);
  io.SetAttachedBitmap(&src);
  io.SaveToFileBMP(Path("r.bmp"));
  TMemoryStream s;
  io.SaveToStreamBMP(&s);
  io.SetAttachedKorvane(&view);
  view.SetDPI(1, 1);
  s.SetPosition(0);
  io.LoadFromStreamBMP(&s);  // streams of BMP leave the view's resolution
  EXPECT_EQ(view.GetDPIX(), 1);
  io.LoadFromFileBMP(Path("r.bmp"));
  EXPECT_EQ(view.GetDPIX(), 300);
  EXPECT_EQ(view.GetDPIY(), 150);
  EXPECT_TRUE(test::SamePixels(*view.GetBitmap(), src));

  // A GIF's transparent color becomes the background.
  io.Params()->GIF_FlagTranspColor = true;
  io.Params()->GIF_TranspColor = TRGB{10, 20, 30};
  io.SaveToFileGif(Path("t.gif"));
  view.SetBackGround(clBlack);
  io.LoadFromFileGif(Path("t.gif"));
  if (io.Params()->GIF_FlagTranspColor)
    EXPECT_EQ(io.GetBackground(), TRGB2TColor(io.Params()->GIF_TranspColor));
  else
    EXPECT_EQ(io.GetBackground(), TRGB2TColor(io.Params()->GIF_Background));
}

TEST_F(KorvaneIO, MetafilesImportOnePixelSmallerThanTheirSize) {
  // A placeable WMF of 400 x 100 pixels at the screen resolution.
  const int inch = gSystemDPIX;
  std::vector<uint8_t> d;
  auto w16 = [&](int v) { d.push_back(uint8_t(v)); d.push_back(uint8_t(v >> 8)); };
  auto w32 = [&](uint32_t v) { w16(int(v & 0xFFFF)); w16(int(v >> 16)); };
  w32(0x9AC6CDD7u);
  w16(0);
  w16(0), w16(0), w16(400), w16(100);
  w16(inch);
  w32(0);
  w16(0);
  w16(1), w16(9), w16(0x300), w32(12), w16(0), w32(3), w16(0);
  w32(3), w16(0);  // end of file record
  {
    TFileStream f(Path("m.wmf"), fmCreate);
    f.WriteBuffer(d.data(), int64_t(d.size()));
  }
  if (gSystemDPIX != gSystemDPIY) GTEST_SKIP() << "non-square screen resolution";
  io.ImportMetafile(Path("m.wmf"), 200, -1);
  EXPECT_EQ(bmp.Width(), 199);
  EXPECT_EQ(bmp.Height(), 49);
  EXPECT_EQ(bmp.PixelFormat(), pf24bit);
  EXPECT_EQ(io.Params()->FileType, ioWMF);
  EXPECT_EQ(io.Params()->Width, 199);
  io.ImportMetafile(Path("m.wmf"), 0, 50);  // nothing
  EXPECT_EQ(bmp.Width(), 199);
  io.LoadFromFile(Path("m.wmf"));
  EXPECT_EQ(bmp.Width(), 399);
  EXPECT_EQ(bmp.Height(), 99);
}

TEST_F(KorvaneIO, MultiImageFilesGrowAndShrink) {
  const std::string gif = Path("anim.gif");
  io.Params()->GIF_ImageIndex = 0;
  io.SaveToFileGif(gif);
  EXPECT_EQ(EnumGifIm(gif), 1);
  EXPECT_FALSE(CheckAniGif(gif));
  TBitmap wide;
  test::FillPattern24(wide, 50, 10, 4);
  io.SetAttachedBitmap(&wide);
  io.Params()->GIF_ImageIndex = 1;
  EXPECT_EQ(io.InsertToFileGif(gif), 2);
  EXPECT_TRUE(CheckAniGif(gif));
  EXPECT_EQ(io.Params()->GIF_WinWidth, 50);
  EXPECT_EQ(DeleteGifIm(gif, 0), 1);
  EXPECT_EQ(EnumGifIm(gif), 1);
  EXPECT_EQ(EnumGifIm(Path("missing.gif")), 0);
  EXPECT_FALSE(CheckAniGif(Path("missing.gif")));
  EXPECT_EQ(Message([&] { DeleteGifIm(Path("missing.gif"), 0); }), "unrecognized GIF");

  const std::string tif = Path("pages.tif");
  io.SaveToFileTIFF(tif);
  io.Params()->TIFF_ImageIndex = 5;
  io.SetAttachedBitmap(&bmp);
  EXPECT_EQ(io.InsertToFileTIFF(tif), 2);
  EXPECT_EQ(EnumTIFFIm(tif), 2);
  EXPECT_EQ(DeleteTIFFIm(tif, 0), 2);
  EXPECT_EQ(EnumTIFFIm(tif), 1);
  TBitmap back;
  io.SetAttachedBitmap(&back);
  io.Params()->TIFF_ImageIndex = 0;
  EXPECT_EQ(io.LoadFromFileTIFF(tif), 1);
  EXPECT_TRUE(test::SamePixels(back, bmp));
}

}  // namespace
