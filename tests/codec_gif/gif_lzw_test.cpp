// The GIF LZW coders on their own: both encoders against the decoder across
// depths, interlacing and content that forces table clears, and the decoder
// on malformed code streams.
#include "korvane/io/codecs/gif/gif_lzw.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/streams.h"
#include "tests/codec_gif/gif_test_util.h"

namespace korvane {
namespace {

enum Content { kNoise, kLongRuns, kMixedRuns, kConstant };

// Indices below 2^bits: noise, runs of thousands of pixels, runs of random
// length 1..40, or one value.
std::vector<uint8_t> MakeIndices(Content c, int w, int h, int bits, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(size_t(w) * h);
  const int n = 1 << bits;
  size_t i = 0;
  while (i < v.size()) {
    uint8_t p = uint8_t(rng() % n);
    size_t len = c == kNoise       ? 1
                 : c == kLongRuns  ? 1000 + rng() % 30000
                 : c == kMixedRuns ? 1 + rng() % 40
                                   : v.size();
    for (size_t k = 0; k < len && i < v.size(); ++k) v[i++] = p;
  }
  return v;
}

// LSB-first code writer for hand-made code streams, in sub-blocks.
struct CodeWriter {
  std::vector<uint8_t> bytes;
  uint32_t acc = 0;
  int n = 0;
  void Put(int code, int width) {
    acc |= uint32_t(code) << n;
    n += width;
    while (n >= 8) bytes.push_back(uint8_t(acc)), acc >>= 8, n -= 8;
  }
  // Code size byte, sub-blocks, terminator.
  TMemoryStream Stream(int codeSize) {
    if (n > 0) bytes.push_back(uint8_t(acc));
    TMemoryStream s;
    uint8_t cs = uint8_t(codeSize);
    s.Write(&cs, 1);
    for (size_t i = 0; i < bytes.size(); i += 255) {
      uint8_t len = uint8_t(std::min<size_t>(255, bytes.size() - i));
      s.Write(&len, 1);
      s.Write(bytes.data() + i, len);
    }
    uint8_t zero = 0;
    s.Write(&zero, 1);
    s.SetPosition(0);
    return s;
  }
};

using Encoder = decltype(&GIFLZWCompress);

struct RoundTripCase {
  const char* name;
  Encoder encode;
  Content content;
  int w, h;
};

class GifCoderRoundTrip : public ::testing::TestWithParam<std::tuple<RoundTripCase, int, bool>> {};

// Every encoder's stream decodes to the same indices at every depth,
// interlaced or not, including content that fills the table many times.
TEST_P(GifCoderRoundTrip, DecodesToTheSameIndices) {
  const auto& [c, bits, interlaced] = GetParam();
  const std::vector<uint8_t> src = MakeIndices(c.content, c.w, c.h, bits, unsigned(bits * 7 + interlaced));
  TMemoryStream s;
  c.encode(&s, c.h, c.w, interlaced, src.data(), bits);
  const uint8_t tail[] = {0x3B, 0x99};
  s.Write(tail, 2);
  s.SetPosition(0);
  EXPECT_EQ(s.Memory()[0], std::max(bits, 2));
  std::vector<uint8_t> out(src.size(), 0xEE);
  GIFLZWDecompress(&s, c.h, c.w, interlaced, out.data());
  // The decoder stops right after the terminator.
  EXPECT_EQ(s.Position(), s.Size() - 2);
  ASSERT_EQ(out, src);
}

const RoundTripCase kRoundTrips[] = {
    {"lzw_noise", GIFLZWCompress, kNoise, 301, 203},
    {"lzw_mixed", GIFLZWCompress, kMixedRuns, 257, 131},
    {"rle_noise", GIFNONLZWCompress, kNoise, 301, 203},
    {"rle_long", GIFNONLZWCompress, kLongRuns, 1500, 1100},
    {"rle_mixed", GIFNONLZWCompress, kMixedRuns, 640, 480},
    {"rle_constant", GIFNONLZWCompress, kConstant, 2000, 1500},
};

INSTANTIATE_TEST_SUITE_P(All, GifCoderRoundTrip,
                         ::testing::Combine(::testing::ValuesIn(kRoundTrips), ::testing::Range(1, 9),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::to_string(std::get<1>(info.param)) +
                                  (std::get<2>(info.param) ? "_interlaced" : "");
                         });

TEST(GifLZW, InterlacedRowsAreStoredByPass) {
  // Rows 0..3 hold 10, 11, 12, 13; stored order is 0, 2, 1, 3.
  std::vector<uint8_t> src = {10, 11, 12, 13};
  TMemoryStream s;
  GIFLZWCompress(&s, 4, 1, true, src.data(), 4);
  s.SetPosition(0);
  std::vector<uint8_t> stored(4);
  GIFLZWDecompress(&s, 4, 1, false, stored.data());
  EXPECT_EQ(stored, (std::vector<uint8_t>{10, 12, 11, 13}));
}

class GifLZWCorrupt : public ::testing::TestWithParam<int> {};

TEST_P(GifLZWCorrupt, BadCodeSizeIsRejected) {
  CodeWriter w;
  w.Put(4, 3);
  TMemoryStream s = w.Stream(GetParam());
  uint8_t buf[4];
  EXPECT_THROW(GIFLZWDecompress(&s, 2, 2, false, buf), EInvalidGraphic);
}
INSTANTIATE_TEST_SUITE_P(All, GifLZWCorrupt, ::testing::Values(0, 1, 10, 12, 255));

TEST(GifLZW, CodeAboveTheTableIsRejected) {
  CodeWriter w;
  w.Put(256, 9);
  w.Put(1, 9);
  w.Put(259, 9);  // next free code is 258
  TMemoryStream s = w.Stream(8);
  std::vector<uint8_t> buf(100);
  EXPECT_EQ(test::ErrorOf([&] { GIFLZWDecompress(&s, 10, 10, false, buf.data()); }), "Corrupted GIF");
}

// Codes of 0 from a clear until the 4096-entry table is full, then either a
// clear and the end code, or (a deferred clear) one more code, the literal 5,
// then the clear and the end code. The 3839 zeros come first.
TMemoryStream FullTable(bool clearAfter) {
  CodeWriter w;
  int width = 9, next = 258;
  bool prev = false;
  w.Put(256, width);
  while (next < 4096) {
    w.Put(0, width);
    if (prev && ++next == (1 << width) && width < 12) ++width;
    prev = true;
  }
  if (!clearAfter) w.Put(5, 12);
  w.Put(256, width);
  w.Put(257, 9);
  return w.Stream(8);
}

TEST(GifLZW, FullTableTakesAClearNowOrLater) {
  std::vector<uint8_t> buf(5000, 7);
  TMemoryStream ok = FullTable(true);
  EXPECT_NO_THROW(GIFLZWDecompress(&ok, 50, 100, false, buf.data()));
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[4999], 0);
  std::vector<uint8_t> row(3840, 7);
  TMemoryStream deferred = FullTable(false);
  EXPECT_NO_THROW(GIFLZWDecompress(&deferred, 1, 3840, false, row.data()));
  EXPECT_EQ(row[3838], 0);
  EXPECT_EQ(row[3839], 5);
}

// Data that end early (cut inside a sub-block, no terminator, or no data at
// all) keep what was decoded; the rest of the buffer is index 0.
TEST(GifLZW, TruncatedDataLeaveTheRestZero) {
  const int w = 200, h = 100;
  std::vector<uint8_t> src = MakeIndices(kNoise, w, h, 8, 3);
  for (uint8_t& v : src) v |= 1;  // no zero in the source
  TMemoryStream full;
  GIFLZWCompress(&full, h, w, false, src.data(), 8);
  for (int64_t cut : {int64_t(1), int64_t(2), full.Size() / 2, full.Size() - 1}) {
    TMemoryStream s;
    s.SetData(full.Memory(), size_t(cut));
    std::vector<uint8_t> out(src.size(), 0xEE);
    GIFLZWDecompress(&s, h, w, false, out.data());
    size_t good = 0;
    while (good < out.size() && out[good] == src[good]) ++good;
    for (size_t i = good; i < out.size(); ++i) ASSERT_EQ(out[i], 0) << "cut " << cut << " at " << i;
    if (cut == full.Size() / 2) {
      EXPECT_GT(good, src.size() / 4);
    }
  }
}

TEST(GifLZW, OnePixelAtOneBitUsesCodeSizeTwo) {
  for (Encoder e : {GIFLZWCompress, GIFNONLZWCompress}) {
    uint8_t px = 1;
    TMemoryStream s;
    e(&s, 1, 1, false, &px, 1);
    EXPECT_EQ(s.Memory()[0], 2);
    s.SetPosition(0);
    uint8_t out = 0;
    GIFLZWDecompress(&s, 1, 1, false, &out);
    EXPECT_EQ(out, 1);
  }
}

}  // namespace
}  // namespace korvane
