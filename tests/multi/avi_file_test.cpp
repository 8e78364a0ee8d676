// The AVI file layer on its own: the reader against hostile stream headers
// (a scale and rate whose frame delay would not fit an int, frame sizes the
// data cannot stand for), and the writer on a full disk.
#include "korvane/multi/avi_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "korvane/foundations/host/exceptions.h"
#include "tests/test_support.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

// A small uncompressed AVI of 16 x 8 frames, as bytes.
std::string SmallAVI(int frames) {
  const fs::path f = fs::temp_directory_path() / ("kv_avi_reader_" + std::to_string(::getpid()) + ".avi");
  {
    TKVAVIWriter w(f.string(), 16, 8, 25, TKVAVICompressOptions{"rawvideo", 90});
    for (int i = 0; i < frames; ++i) {
      TBitmap b;
      test::FillPattern24(b, 16, 8, unsigned(i));
      const std::vector<uint8_t> dib = BitmapToPackedDIBBytes(&b);
      w.WriteDIB(dib.data(), dib.size());
    }
  }
  std::ifstream in(f, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), {});
  fs::remove(f);
  return data;
}

// Offset of the data of the first chunk with this id.
size_t ChunkData(const std::string& d, const char* id) {
  const size_t at = d.find(id);
  EXPECT_NE(at, std::string::npos) << id;
  return at == std::string::npos ? 0 : at + 8;
}

void Put32(std::string& d, size_t at, uint32_t v) {
  ASSERT_LE(at + 4, d.size());
  for (int i = 0; i < 4; ++i) d[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

const uint8_t* Bytes(const std::string& d) { return reinterpret_cast<const uint8_t*>(d.data()); }

}  // namespace

TEST(AVIReader, DelayStaysInRangeForAnyScaleAndRate) {
  const std::string data = SmallAVI(2);
  const size_t strh = ChunkData(data, "strh");
  struct Case {
    uint32_t scale, rate;
    int want;
  };
  for (const Case c : {Case{1, 25, 40}, Case{1001, 30000, 33}, Case{1000000, 3, 333333333},
                       Case{0x7FFFFFFF, 1, INT_MAX}, Case{0x7FFFFFFF, 3, INT_MAX}, Case{1, 0x7FFFFFFF, 0}}) {
    SCOPED_TRACE(testing::Message() << c.scale << "/" << c.rate);
    std::string d = data;
    Put32(d, strh + 20, c.scale);
    Put32(d, strh + 24, c.rate);
    TKVAVIReader avi(Bytes(d), d.size());
    EXPECT_EQ(avi.DelayMs(), c.want);
  }
}

TEST(AVIReader, FramesLargerThanTheDataCanDescribeAreRefused) {
  const std::string data = SmallAVI(2);
  ASSERT_LT(data.size(), size_t(12 * 1024));
  const size_t strf = ChunkData(data, "strf");
  auto open = [&](uint32_t w, uint32_t h) {
    std::string d = data;
    Put32(d, strf + 4, w);
    Put32(d, strf + 8, h);
    TKVAVIReader avi(Bytes(d), d.size());
    TBitmap b;
    int bits = 0;
    int frames = 0;
    while (avi.NextFrame(&b, bits)) ++frames;
    return frames;
  };
  // A 4096 x 4096 stream in a few kilobytes would stand for 48 MB a frame.
  try {
    open(4096, 4096);
    ADD_FAILURE() << "a 4096 x 4096 stream in " << data.size() << " bytes was opened";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "unable to open AVI stream");
  }
  // Up to the size any stream may have, the header is taken (its short
  // frames are skipped).
  EXPECT_EQ(open(2048, 2048), 0);
  EXPECT_EQ(open(16, 8), 2);
}

TEST(AVIWriter, FullDiskRaisesInsteadOfWritingNothing) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TBitmap b;
  test::FillPattern24(b, 64, 48, 3);
  const std::vector<uint8_t> dib = BitmapToPackedDIBBytes(&b);
  for (const char* enc : {"rawvideo", "mjpeg"}) {
    SCOPED_TRACE(enc);
    TKVAVIWriter w("/dev/full", 64, 48, 25, TKVAVICompressOptions{enc, 90});
    std::string error;
    try {
      for (int i = 0; i < 1000; ++i) w.WriteDIB(dib.data(), dib.size());
      w.Close();
    } catch (const EInvalidGraphic& e) {
      error = e.what();
    }
    EXPECT_EQ(error, "unable to write AVI file");
  }
}
