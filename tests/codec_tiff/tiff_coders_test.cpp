// The TIFF row coders: LZW through the hook contract, PackBits, and the CCITT
// encoders and decoders against each other and against known codes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "korvane/io/codecs/tiff/tiff_ccitt.h"
#include "korvane/io/codecs/tiff/tiff_codec.h"
#include "korvane/io/codecs/tiff/tiff_lzw.h"

namespace korvane {
namespace {

// Rows of test data: noise, long runs, and a repeating pattern, so the table
// clears several times.
std::vector<uint8_t> Sample(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) {
    const size_t part = i * 3 / n;
    v[i] = part == 0 ? uint8_t(rng()) : part == 1 ? uint8_t((i / 700) & 0xFF) : uint8_t(i % 13 * 7);
  }
  return v;
}

std::vector<uint8_t> LzwEncode(const std::vector<uint8_t>& v, int32_t rowLen) {
  TMemoryStream m;
  void* st = nullptr;
  for (size_t i = 0; i < v.size(); i += size_t(rowLen))
    TIFFLZWCompress(v.data() + i, int32_t(std::min<size_t>(rowLen, v.size() - i)), &m, st);
  TIFFLZWCompress(nullptr, 0, &m, st);
  EXPECT_EQ(st, nullptr);
  return std::vector<uint8_t>(m.Memory(), m.Memory() + m.Size());
}

std::vector<uint8_t> LzwDecode(const std::vector<uint8_t>& code, size_t total, int32_t rowLen) {
  std::vector<uint8_t> out;
  void* st = nullptr;
  for (size_t i = 0; i < total; i += size_t(rowLen)) {
    const uint8_t* r = TIFFLZWDecompress(code.data(), int32_t(code.size()), rowLen, st);
    out.insert(out.end(), r, r + rowLen);
  }
  TIFFLZWDecompress(nullptr, 0, 0, st);
  EXPECT_EQ(st, nullptr);
  out.resize(total);
  return out;
}

TEST(TiffLzw, RoundTripsAcrossTableClears) {
  for (int32_t rowLen : {1, 7, 300, 12000}) {
    const std::vector<uint8_t> v = Sample(200000, unsigned(rowLen));
    const std::vector<uint8_t> code = LzwEncode(v, rowLen);
    EXPECT_LT(code.size(), v.size()) << rowLen;
    EXPECT_EQ(LzwDecode(code, v.size(), rowLen), v) << rowLen;
  }
}

// Packs 9-bit codes most significant bit first.
std::vector<uint8_t> Codes9(std::initializer_list<int> codes) {
  std::vector<uint8_t> out;
  uint32_t acc = 0;
  int n = 0;
  for (int c : codes) {
    acc = acc << 9 | uint32_t(c);
    n += 9;
    while (n >= 8) out.push_back(uint8_t(acc >> (n -= 8)));
  }
  if (n) out.push_back(uint8_t(acc << (8 - n)));
  return out;
}

TEST(TiffLzw, DecodesWithoutLeadingClearAndStopsAtBadCodes) {
  // No clear code first; 258 is the code being defined (KwKwK).
  EXPECT_EQ(LzwDecode(Codes9({'x', 258, 'y', 257}), 4, 4), (std::vector<uint8_t>{'x', 'x', 'x', 'y'}));
  // A code past the next free one ends the strip: the rest is zero.
  EXPECT_EQ(LzwDecode(Codes9({256, 'a', 'b', 300, 'c'}), 5, 5), (std::vector<uint8_t>{'a', 'b', 0, 0, 0}));
  // Data that end early leave zeros, and the decoder reads no further.
  const std::vector<uint8_t> one = Codes9({256, 'q'});
  EXPECT_EQ(LzwDecode(std::vector<uint8_t>(one.begin(), one.begin() + 2), 3, 3),
            (std::vector<uint8_t>{0, 0, 0}));
}

TEST(TiffPackBits, RoundTripsAndUsesRunsOfFour) {
  std::string packed;
  const uint8_t runs[] = {5, 5, 5, 5, 5, 1, 2, 2, 2, 3};
  PackBitsPack(runs, 10, packed);
  EXPECT_EQ(packed, std::string("\xFC\x05\x04\x01\x02\x02\x02\x03", 8));
  for (unsigned seed = 0; seed < 4; ++seed) {
    std::vector<uint8_t> v = Sample(1000 + seed * 333, seed);
    packed.clear();
    PackBitsPack(v.data(), int32_t(v.size()), packed);
    std::vector<uint8_t> back(v.size(), 0xEE);
    const auto* p = reinterpret_cast<const uint8_t*>(packed.data());
    EXPECT_EQ(PackBitsUnpack(p, int64_t(packed.size()), back.data(), int64_t(back.size())),
              int64_t(packed.size()));
    EXPECT_EQ(back, v);
  }
  // -128 is skipped; a run or literal cut by the end of the data stops there.
  const uint8_t odd[] = {0x80, 0xFE, 7, 0x05, 1, 2};
  std::vector<uint8_t> out(8, 0xEE);
  PackBitsUnpack(odd, 6, out.data(), 8);
  EXPECT_EQ(out, (std::vector<uint8_t>{7, 7, 7, 1, 2, 0xEE, 0xEE, 0xEE}));
}

// Bilevel test rows: text-like strokes, an all-black row, a row starting
// black, single-pixel alternation, and a blank row.
std::vector<std::vector<uint8_t>> BilevelRows(int32_t width, int rows) {
  const int32_t n = (width + 7) / 8;
  std::vector<std::vector<uint8_t>> out;
  std::mt19937 rng(7);
  for (int r = 0; r < rows; ++r) {
    std::vector<uint8_t> row(size_t(n), 0xFF);
    switch (r % 6) {
      case 0:
        for (int k = 0; k < 12; ++k) {
          const int32_t a = int32_t(rng() % uint32_t(width)), len = int32_t(rng() % 40);
          for (int32_t x = a; x < std::min(width, a + len); ++x)
            row[size_t(x / 8)] &= uint8_t(~(0x80 >> (x % 8)));
        }
        break;
      case 1:
        std::fill(row.begin(), row.end(), 0);
        break;
      case 2:
        row[0] = 0x0F;
        break;
      case 3:
        std::fill(row.begin(), row.end(), 0xAA);
        break;
      case 4:
        break;
      default:
        row = out.back();
        row[size_t(n / 2)] ^= 0x18;
    }
    // Bits past the width are padding: keep them set so encoders must ignore them.
    if (width % 8) row[size_t(n - 1)] |= uint8_t(0xFF >> (width % 8));
    out.push_back(row);
  }
  return out;
}

bool SameBits(const std::vector<uint8_t>& a, const uint8_t* b, int32_t width) {
  for (int32_t x = 0; x < width; ++x)
    if (((a[size_t(x / 8)] >> (7 - x % 8)) & 1) != ((b[x / 8] >> (7 - x % 8)) & 1)) return false;
  return true;
}

enum class Fax { MH, G3, G32D, G4 };

std::vector<uint8_t> FaxEncode(Fax kind, const std::vector<std::vector<uint8_t>>& rows, int32_t width) {
  TMemoryStream m;
  std::vector<uint8_t> ref;
  int32_t bits = 0;
  uint8_t byte = 0;
  for (const auto& r : rows) {
    switch (kind) {
      case Fax::MH:
        CCITTHuffmanPutLine(r.data(), width, &m);
        break;
      case Fax::G3:
        CCITTHuffmanPutLineG3(r.data(), width, &m, bits, byte);
        break;
      case Fax::G32D:
        CCITTHuffmanPutLineG32D(r.data(), width, &m, ref, bits, byte);
        break;
      case Fax::G4:
        CCITTHuffmanPutLineG4(r.data(), width, &m, ref, bits, byte);
        break;
    }
  }
  if (kind == Fax::G3) CCITTHuffmanPutLineG3(nullptr, width, &m, bits, byte);
  if (kind == Fax::G32D) CCITTHuffmanPutLineG32D(nullptr, width, &m, ref, bits, byte);
  if (kind == Fax::G4) CCITTHuffmanPutLineG4(nullptr, width, &m, ref, bits, byte);
  return std::vector<uint8_t>(m.Memory(), m.Memory() + m.Size());
}

class FaxRoundTrip : public ::testing::TestWithParam<std::tuple<Fax, int32_t, int>> {};

TEST_P(FaxRoundTrip, DecodesWhatWasEncoded) {
  const auto [kind, width, fill] = GetParam();
  const auto rows = BilevelRows(width, 30);
  std::vector<uint8_t> code = FaxEncode(kind, rows, width);
  if (fill == 2)
    for (uint8_t& b : code) {
      uint8_t r = 0;
      for (int i = 0; i < 8; ++i) r |= uint8_t(((b >> i) & 1) << (7 - i));
      b = r;
    }
  TCCITTDecoder d(code.data(), int64_t(code.size()), width, fill);
  std::vector<uint8_t> out(size_t((width + 7) / 8));
  for (size_t r = 0; r < rows.size(); ++r) {
    bool ok = kind == Fax::MH   ? d.DecodeHuffman(out.data())
              : kind == Fax::G4 ? d.DecodeG4(out.data())
                                : d.DecodeG3(out.data(), kind == Fax::G32D);
    ASSERT_TRUE(ok) << "row " << r;
    ASSERT_TRUE(SameBits(rows[r], out.data(), width)) << "row " << r;
  }
}

INSTANTIATE_TEST_SUITE_P(AllCoders, FaxRoundTrip,
                         ::testing::Combine(::testing::Values(Fax::MH, Fax::G3, Fax::G32D, Fax::G4),
                                            ::testing::Values(1, 13, 1728, 2600, 6000),
                                            ::testing::Values(1, 2)));

TEST(TiffCcitt, WhiteRowOf1728IsMakeUpThenZero) {
  std::vector<uint8_t> row(216, 0xFF);
  TMemoryStream m;
  CCITTHuffmanPutLine(row.data(), 1728, &m);
  // 010011011 (make-up 1728) then 00110101 (white 0): 17 bits, padded.
  ASSERT_EQ(m.Size(), 3);
  EXPECT_EQ(m.Memory()[0], 0x4D);
  EXPECT_EQ(m.Memory()[1], 0x9A);
  EXPECT_EQ(m.Memory()[2], 0x80);
}

TEST(TiffCcitt, BlankGroup4PageDecodesWhite) {
  const int32_t w = 2480;
  std::vector<std::vector<uint8_t>> rows(50, std::vector<uint8_t>(310, 0xFF));
  const std::vector<uint8_t> code = FaxEncode(Fax::G4, rows, w);
  EXPECT_LT(code.size(), 16u);  // one bit per row plus the end block
  TCCITTDecoder d(code.data(), int64_t(code.size()), w, 1);
  std::vector<uint8_t> out(310, 0);
  for (int r = 0; r < 50; ++r) {
    ASSERT_TRUE(d.DecodeG4(out.data()));
    ASSERT_TRUE(SameBits(rows[0], out.data(), w));
  }
}

TEST(TiffCcitt, EmptyRunsAreNoChangesOfTheReferenceRow) {
  // Row 1: horizontal white 4 black 4, horizontal white 0 black 0 (an empty
  // pair at 8), vertical 0 to the end. Row 2: three vertical-0 codes, which
  // must stop taking the reference row's changes at the empty pair: the row
  // is row 1 again. Row 3: a pass over the changes 4 and 8, then vertical 0:
  // the next change is the row's end, so the row is white.
  const std::string bits = "001" "1011" "011" "001" "00110101" "0000110111" "1" "111" "0001" "1";
  std::vector<uint8_t> code((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') code[i / 8] |= uint8_t(0x80 >> (i % 8));
  TCCITTDecoder d(code.data(), int64_t(code.size()), 16, 1);
  const uint8_t want[3][2] = {{0xF0, 0xFF}, {0xF0, 0xFF}, {0xFF, 0xFF}};
  for (const auto& w : want) {
    uint8_t row[2];
    ASSERT_TRUE(d.DecodeG4(row));
    EXPECT_EQ(row[0], w[0]);
    EXPECT_EQ(row[1], w[1]);
  }
}

TEST(TiffCcitt, GarbageEndsRowsWithoutOverrun) {
  // Zeros are no valid code; all-ones decode as short runs that never finish
  // a wide row; both must stop at the end of the data.
  for (uint8_t fillByte : {0x00, 0xFF, 0x5A}) {
    std::vector<uint8_t> junk(64, fillByte);
    std::vector<uint8_t> out(1000);
    TCCITTDecoder d(junk.data(), int64_t(junk.size()), 8000, 1);
    int rows = 0;
    while (!d.AtEnd() && rows < 10000) {
      d.DecodeG3(out.data(), true);
      ++rows;
    }
    EXPECT_LT(rows, 10000);
    TCCITTDecoder g4(junk.data(), int64_t(junk.size()), 8000, 1);
    for (int i = 0; i < 100; ++i) g4.DecodeG4(out.data());
    EXPECT_LE(g4.BitPosition(), int64_t(junk.size()) * 8 + 16);
  }
}

}  // namespace
}  // namespace korvane
