// The BMP and PCX writers at every depth and option: each file reloads
// through our reader to the source pixels, and Pillow decodes it to the same.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "korvane/io/codecs/bmp/bmp_codec.h"
#include "korvane/io/codecs/checked_reader.h"
#include "korvane/io/codecs/pcx/pcx_codec.h"
#include "tests/codec_bmp/codec_test_util.h"
#include "tests/fixture_manifest.h"
#include "tests/test_support.h"

using namespace korvane;
using namespace korvane::test;

namespace {

constexpr int W = 37, H = 23;  // odd sizes exercise padding and nibble packing

// 16 colors, one per 5-bit histogram cell, so a quantized palette holds them
// exactly. Even rows have runs (RLE runs), odd rows change every pixel.
TRGB Color16(int k) { return TRGB{uint8_t(248 - 8 * k), uint8_t(8 * k), uint8_t((40 * k) & 0xF8)}; }
int Index16(int x, int y) { return (y & 1) ? (x * 7 + y) % 16 : (x / 5 + y) % 16; }
bool Bit(int x, int y) { return ((x / 3 + y) % 3) == 0; }
const TRGB kDark{128, 0, 0}, kLight{0, 255, 255};  // dark blue, yellow

enum Source { kColors, kMono, kTwoColors };

void MakeSource(Source s, TBitmap& b) {
  if (s == kMono) {
    b.Allocate(W, H, pf1bit);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (Bit(x, y)) b.Scanline(y)[x / 8] |= uint8_t(0x80 >> (x % 8));
    return;
  }
  b.Allocate(W, H, pf24bit);
  for (int y = 0; y < H; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(b.Scanline(y));
    for (int x = 0; x < W; ++x) row[x] = s == kColors ? Color16(Index16(x, y)) : (Bit(x, y) ? kLight : kDark);
  }
}

// What the file shows, top row first, red-green-blue.
std::vector<uint8_t> Expected(Source s) {
  std::vector<uint8_t> rgb;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      TRGB c = s == kColors ? Color16(Index16(x, y))
               : s == kMono ? (Bit(x, y) ? TRGB{255, 255, 255} : TRGB{0, 0, 0})
                            : (Bit(x, y) ? kLight : kDark);
      rgb.insert(rgb.end(), {c.r, c.g, c.b});
    }
  return rgb;
}

struct Variant {
  std::string name, codec;
  Source source;
  int bits;  // 1, 4, 8, 24
  TIOBMPVersion version = ioBMP_BM3;
  bool rle = false;
};

std::vector<Variant> Variants() {
  std::vector<Variant> v;
  for (TIOBMPVersion ver : {ioBMP_BM3, ioBMP_BMOS2V1, ioBMP_BMOS2V2})
    for (bool rle : {false, true})
      for (auto [src, bits] :
           {std::pair{kMono, 1}, {kTwoColors, 1}, {kColors, 4}, {kColors, 8}, {kColors, 24}})
        v.push_back({"bmp_v" + std::to_string(ver) + "_" + std::to_string(bits) + "_s" + std::to_string(src) +
                         (rle ? "_rle" : ""),
                     "bmp", src, bits, ver, rle});
  for (bool rle : {false, true})
    for (auto [src, bits] : {std::pair{kMono, 1}, {kColors, 4}, {kColors, 8}, {kColors, 24}})
      v.push_back({"pcx_" + std::to_string(bits) + (rle ? "_rle" : ""), "pcx", src, bits, ioBMP_BM3, rle});
  return v;
}

void Write(const Variant& v, TBitmap& src, TMemoryStream& out) {
  TIOParamsVals p;
  p.BitsPerSample = v.bits == 24 ? 8 : v.bits;
  p.SamplesPerPixel = v.bits == 24 ? 3 : 1;
  p.DpiX = 150;
  p.DpiY = 72;
  if (v.codec == "bmp") {
    p.BMP_Version = v.version;
    p.BMP_Compression = v.rle ? ioBMP_RLE : ioBMP_UNCOMPRESSED;
    BMPWriteStream(&out, &src, p, nullpr);
  } else {
    p.PCX_Version = 5;
    p.PCX_Compression = v.rle ? ioPCX_RLE : ioPCX_UNCOMPRESSED;
    WritePcxStream(&out, &src, p, nullpr);
  }
}

std::string Python() { return test::PythonWith("PIL"); }

TEST(Writers, EveryDepthAndOptionReloadsAndPillowAgrees) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "korvane_codec_bmp_rt";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::string files;
  for (const Variant& v : Variants()) {
    SCOPED_TRACE(v.name);
    TBitmap src;
    MakeSource(v.source, src);
    TMemoryStream ms;
    Write(v, src, ms);
    const std::string path = (dir / (v.name + "." + v.codec)).string();
    ms.SaveToFile(path);
    files += " " + path;

    TBitmap back;
    TIOParamsVals p;
    LoadWith(v.codec, ms, back, p, 0);
    // A 1-bit file of two colors other than black and white reloads as
    // 24-bit in those colors; black and white stays 1-bit.
    ASSERT_EQ(back.PixelFormat(), v.bits == 1 && v.source != kTwoColors ? pf1bit : pf24bit);
    EXPECT_EQ(MaxDiff(back, W, H, Expected(v.source)), 0);
    if (v.version != ioBMP_BMOS2V1) {  // the OS/2 1.x header stores no resolution
      EXPECT_EQ(p.DpiX, 150);
      EXPECT_EQ(p.DpiY, 72);
    }
    if (v.codec == "bmp") {
      EXPECT_EQ(p.BMP_Version, v.version);
      const bool rle = v.rle && v.version != ioBMP_BMOS2V1 && (v.bits == 4 || v.bits == 8);
      EXPECT_EQ(p.BMP_Compression, rle ? ioBMP_RLE : ioBMP_UNCOMPRESSED);
      const uint8_t* d = ms.Memory();
      const uint32_t entry = v.version == ioBMP_BMOS2V1 ? 3 : 4;
      EXPECT_EQ(LE32(d + 14), v.version == ioBMP_BMOS2V1 ? 12u : v.version == ioBMP_BMOS2V2 ? 64u : 40u);
      EXPECT_EQ(LE32(d + 10), 14 + LE32(d + 14) + (v.bits <= 8 ? entry << v.bits : 0));
      EXPECT_EQ(LE32(d + 2), uint32_t(ms.Size()));
    }
  }

  // Peers where they read these files right: Pillow reads every PCX as
  // run-length coded, has no 4-bit one-plane PCX mode, and drops the last
  // nibble of odd-length RLE4 literals; ImageMagick shows 1-bit PCX inverted
  // and misreads RLE4 after a 64-byte header. So RLE4 BMP goes to
  // ImageMagick, uncompressed 8/24-bit PCX too, and the rest to Pillow
  // except 4-bit PCX, uncompressed 1-bit PCX and 64-byte-header RLE4.
  const std::string py = Python();
  const bool magick = std::system("convert -version >/dev/null 2>&1") == 0;
  if (py.empty() || !magick)
    GTEST_SKIP() << "Pillow (python3-pil) or ImageMagick missing: peer decoding not checked";
  auto peer = [](const Variant& v) {
    if (v.codec == "bmp") {
      if (!v.rle || v.bits != 4 || v.version == ioBMP_BMOS2V1) return "pil";
      return v.version == ioBMP_BMOS2V2 ? "" : "im";
    }
    return v.bits == 4 ? "" : v.rle ? "pil" : v.bits == 1 ? "" : "im";
  };
  std::string pil, im;
  for (const Variant& v : Variants()) {
    const std::string f = " " + (dir / (v.name + "." + v.codec)).string();
    (std::string(peer(v)) == "pil" ? pil : std::string(peer(v)) == "im" ? im : files) += f;
  }
  const std::string script =
      "import sys\nfrom PIL import Image\nfor f in sys.argv[1:]:\n    Image.open(f).convert('RGB').save(f + "
      "'.ppm')\n";
  std::ofstream((dir / "decode.py").string()) << script;
  const std::string err = " 2>" + (dir / "err.txt").string();
  ASSERT_EQ(std::system((py + " " + (dir / "decode.py").string() + pil + err).c_str()), 0)
      << "Pillow failed; see " << (dir / "err.txt").string();
  ASSERT_EQ(
      std::system(
          ("for f in" + im + "; do convert \"$f\" -depth 8 \"ppm:$f.ppm\" || exit 1; done" + err).c_str()),
      0)
      << "ImageMagick failed; see " << (dir / "err.txt").string();
  for (const Variant& v : Variants()) {
    if (!*peer(v)) continue;
    int w, h;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(ReadPPM((dir / (v.name + "." + v.codec + ".ppm")).string(), w, h, rgb)) << v.name;
    EXPECT_EQ(rgb, Expected(v.source)) << v.name << ": " << peer(v) << " decodes other pixels";
  }
  std::filesystem::remove_all(dir);
}

// Runs of the row encoders: literal groups never exceed 255 values, and
// the codes describe exactly the row.
// Strips in any order, of any size, make the file the whole-bitmap writer
// makes, in every header kind; rows never written are black.
TEST(Writers, StripWriterMakesTheWholeWritersFile) {
  TBitmap src;
  MakeSource(kColors, src);
  auto bytes = [](TMemoryStream& m) { return std::vector<uint8_t>(m.Memory(), m.Memory() + m.Size()); };
  for (TIOBMPVersion ver : {ioBMP_BM3, ioBMP_BMOS2V1, ioBMP_BMOS2V2}) {
    TIOParamsVals p;
    p.DpiX = 150;
    p.DpiY = 72;
    p.BMP_Version = ver;
    TMemoryStream whole, strips;
    BMPWriteStream(&whole, &src, p, nullpr);
    TBMPStripWriter w(&strips, W, H, p);
    for (auto [y0, n] : {std::pair{16, 7}, {0, 5}, {6, 10}, {5, 1}}) {
      TBitmap strip;
      strip.Allocate(W, n + 2, pf24bit);  // taller than the rows it hands over
      for (int r = 0; r < n; ++r) std::memcpy(strip.Scanline(r), src.Scanline(y0 + r), size_t(W) * 3);
      w.Write(y0, n, strip);
    }
    w.Finish();
    EXPECT_EQ(bytes(whole), bytes(strips)) << "version " << ver;
  }
  TIOParamsVals p;
  TMemoryStream partial, blank;
  TBMPStripWriter w(&partial, W, H, p);
  w.Write(0, 10, src);
  w.Finish();
  for (int y = 10; y < H; ++y) std::memset(src.Scanline(y), 0, size_t(W) * 3);
  BMPWriteStream(&blank, &src, p, nullpr);
  EXPECT_EQ(bytes(blank), bytes(partial));
  p.SamplesPerPixel = 1;
  EXPECT_FALSE(TBMPStripWriter::Takes(p));
  EXPECT_THROW(TBMPStripWriter(&partial, W, H, p), EInvalidGraphic);
}

TEST(Writers, RLEEncodersSplitLongLiterals) {
  std::vector<uint8_t> row(300);
  for (int i = 0; i < 300; ++i) row[size_t(i)] = uint8_t(i * 7);
  for (bool rle4 : {false, true}) {
    std::vector<uint8_t> v = row, out;
    if (rle4)
      for (uint8_t& x : v) x &= 15;
    rle4 ? BMPEncodeRLE4Row(v.data(), 300, out) : BMPEncodeRLE8Row(v.data(), 300, out);
    std::vector<uint8_t> decoded;
    size_t i = 0;
    for (; i + 2 <= out.size(); i += 2) {
      const uint8_t c = out[i], b = out[i + 1];
      if (c > 0) {
        for (int k = 0; k < c; ++k) decoded.push_back(rle4 ? ((k & 1) ? b & 15 : b >> 4) : b);
      } else if (b == 0) {
        break;
      } else {
        ASSERT_GE(b, 3);  // (0, 1) and (0, 2) are never written inside a row
        const size_t bytes = rle4 ? (b + 1) / 2 : b;
        for (int k = 0; k < b; ++k)
          decoded.push_back(rle4 ? ((k & 1) ? out[i + 2 + k / 2] & 15 : out[i + 2 + k / 2] >> 4)
                                 : out[i + 2 + k]);
        i += bytes + (bytes & 1);
      }
    }
    EXPECT_EQ(i + 2, out.size()) << "end-of-line code last";
    EXPECT_EQ(decoded, v);
  }
}

TEST(Writers, PcxHighBytesAndOddNibbleRows) {
  const uint8_t line[4] = {200, 5, 5, 192};
  std::vector<uint8_t> out;
  PcxEncodeLine(line, 4, out);
  EXPECT_EQ(out, (std::vector<uint8_t>{193, 200, 194, 5, 193, 192}));

  TBitmap src;
  MakeSource(kColors, src);
  TIOParamsVals p;
  p.BitsPerSample = 4;
  p.SamplesPerPixel = 1;
  p.PCX_Compression = ioPCX_UNCOMPRESSED;
  TMemoryStream ms;
  WritePcxStream(&ms, &src, p, nullpr);
  EXPECT_EQ(LE16(ms.Memory() + 66), 20);  // (37 + 1) div 2 = 19, rounded up to even
  EXPECT_EQ(ms.Size(), 128 + 20 * H);

  // Rows mixing noise, high bytes and runs of every length (the block paths
  // of the coder and decoder), over several of the reader's 256 KB blocks,
  // come back exactly, run-length coded or not; cut short, they fail.
  TBitmap wide;
  FillPattern24(wide, 301, 600, 9);
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 301; ++x)
      if ((x / (y % 7 + 2)) % 3 == 0) wide.Scanline(y)[3 * x + y % 3] = uint8_t(190 + y);
  p.BitsPerSample = 8;
  p.SamplesPerPixel = 3;
  for (const auto comp : {ioPCX_RLE, ioPCX_UNCOMPRESSED}) {
    p.PCX_Compression = comp;
    TMemoryStream wms;
    WritePcxStream(&wms, &wide, p, nullpr);
    TBitmap back;
    TIOParamsVals q;
    LoadWith("pcx", wms, back, q, 0);
    EXPECT_TRUE(SamePixels(back, wide)) << comp;
    wms.SetSize(wms.Size() - 1000);
    EXPECT_THROW(LoadWith("pcx", wms, back, q, 0), EInvalidGraphic) << comp;
  }
}

}  // namespace
