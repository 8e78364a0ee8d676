// What the GIF writer makes, with either encoder, at every depth, interlaced
// or not, is decoded by other programs (Pillow, giflib's giftext and
// gifbuild) to the very indices we wrote.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "korvane/io/codecs/gif/gif_codec.h"
#include "korvane/io/codecs/gif/gif_lzw.h"
#include "tests/codec_gif/gif_test_util.h"

namespace korvane {
namespace {

using namespace korvane::test;

struct Written {
  std::string file;
  int w, h;
  bool interlaced;
  std::vector<uint8_t> idx;  // expected indices, display order
};

// A 160 x 120 image of exactly 2^bits colors: noisy rows and rows of long
// runs, so the LZW table fills and the run-length coder builds long runs.
void Source(TBitmap& b, int bits, std::vector<uint8_t>& idx, std::mt19937& rng) {
  const int w = 160, h = 120, n = 1 << bits;
  idx.resize(size_t(w) * h);
  size_t i = 0;
  while (i < idx.size()) {
    const bool noisy = (i / w) % 3 != 0;
    const size_t len = noisy ? 1 : 1 + rng() % 300;
    const uint8_t v = uint8_t(rng() % n);
    for (size_t k = 0; k < len && i < idx.size(); ++k) idx[i++] = v;
  }
  for (int k = 0; k < n; ++k) idx[size_t(k)] = uint8_t(k);  // every color present
  if (bits == 1) {
    b.Allocate(w, h, pf1bit);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (idx[size_t(y) * w + x]) b.Scanline(y)[x >> 3] |= uint8_t(0x80 >> (x & 7));
    return;
  }
  b.Allocate(w, h, pf24bit);
  for (int y = 0; y < h; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(b.Scanline(y));
    for (int x = 0; x < w; ++x) {
      const uint8_t v = idx[size_t(y) * w + x];
      row[x] = TRGB{uint8_t(v * 3), uint8_t(255 - v), uint8_t(v ^ 0x5A)};
    }
  }
}

std::vector<Written> WriteAll(const std::string& dir) {
  std::vector<Written> out;
  std::mt19937 rng(99);
  for (int rle = 0; rle < 2; ++rle)
    for (int bits = 1; bits <= 8; ++bits)
      for (int il = 0; il < 2; ++il) {
        TBitmap b;
        std::vector<uint8_t> src;
        Source(b, bits, src, rng);
        TIOParamsVals p;
        InstallGifCoders(p, rle != 0);
        p.BitsPerSample = bits;
        p.GIF_Interlaced = il != 0;
        Written wr{dir + "/" + (rle ? "rle" : "lzw") + std::to_string(bits) + (il ? "i" : "") + ".gif",
                   b.Width(),
                   b.Height(),
                   il != 0,
                   {}};
        WriteGif(wr.file, &b, p, nullpr);
        EXPECT_EQ(p.ColorMapCount, 1 << bits);
        // The palette index of each source color, as written.
        wr.idx.resize(src.size());
        for (size_t i = 0; i < src.size(); ++i) {
          if (bits == 1) {
            wr.idx[i] = src[i];
            continue;
          }
          const uint8_t v = src[i];
          const TRGB c{uint8_t(v * 3), uint8_t(255 - v), uint8_t(v ^ 0x5A)};
          wr.idx[i] = uint8_t(std::find(p.ColorMap, p.ColorMap + p.ColorMapCount, c) - p.ColorMap);
        }
        WriteBytes(wr.file + ".idx", wr.idx);
        out.push_back(std::move(wr));
      }
  return out;
}

std::string RunCommand(const std::string& cmd) {
  std::string out;
  FILE* f = popen(cmd.c_str(), "r");
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  pclose(f);
  return out;
}

bool OnPath(const char* prog) {
  return std::system((std::string("command -v ") + prog + " >/dev/null").c_str()) == 0;
}

class GifInterop : public ::testing::Test {
 protected:
  void SetUp() override { files_ = WriteAll(dir_.path); }
  TempDir dir_;
  std::vector<Written> files_;
};

TEST_F(GifInterop, PillowReadsOurIndices) {
  std::ofstream list(dir_.path + "/list.txt");
  for (const Written& w : files_) list << w.file << '\n';
  list.close();
  PillowResult r = RunPillow(
      "for f in open(path).read().split():\n"
      "    im = Image.open(f); im.load()\n"
      "    ok = im.mode in ('P', 'L') and im.tobytes() == open(f + '.idx', 'rb').read()\n"
      "    print(f.rsplit('/', 1)[1], 'ok' if ok else 'DIFFERENT')\n",
      dir_.path + "/list.txt");
  if (!r.available) GTEST_SKIP() << r.output;
  ASSERT_TRUE(r.ok) << r.output;
  EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), int(files_.size()));
  EXPECT_EQ(r.output.find("DIFFERENT"), std::string::npos) << r.output;
}

TEST_F(GifInterop, GiftextReadsOurIndices) {
  if (!OnPath("giftext")) GTEST_SKIP() << "giftext (giflib-tools) is not installed";
  for (const Written& w : files_) {
    // giftext -r dumps the rows in the order they are stored.
    std::string raw = RunCommand("giftext -r '" + w.file + "'");
    ASSERT_EQ(raw.size(), w.idx.size()) << w.file;
    std::vector<uint8_t> display(raw.size());
    for (int i = 0; i < w.h; ++i) {
      int y = w.interlaced ? GifInterlacedRow(i, w.h) : i;
      std::copy_n(raw.begin() + int64_t(i) * w.w, w.w, display.begin() + int64_t(y) * w.w);
    }
    EXPECT_TRUE(display == w.idx) << w.file;
  }
}

// gifbuild -d writes the frame as text: hex pairs for large tables, else one
// character per index with the "rgb r g b is c" lines giving the characters.
std::vector<uint8_t> ParseGifbuild(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  std::map<char, int> chars;
  int entry = 0;
  std::vector<uint8_t> out;
  while (std::getline(in, line)) {
    if (line.find("rgb ") != std::string::npos) {
      size_t is = line.find(" is ");
      if (is != std::string::npos) chars[line[is + 4]] = entry;
      ++entry;
      continue;
    }
    if (line.rfind("image bits", 0) != 0) continue;
    int w = 0, h = 0;
    std::sscanf(line.c_str(), "image bits %d by %d", &w, &h);
    const bool hex = line.find("hex") != std::string::npos;
    for (int y = 0; y < h && std::getline(in, line); ++y)
      for (int x = 0; x < w; ++x)
        out.push_back(hex ? uint8_t(std::stoi(line.substr(size_t(x) * 2, 2), nullptr, 16))
                          : uint8_t(chars.count(line[size_t(x)]) ? chars[line[size_t(x)]] : 255));
    break;
  }
  return out;
}

TEST_F(GifInterop, GifbuildReadsOurIndices) {
  if (!OnPath("gifbuild")) GTEST_SKIP() << "gifbuild (giflib-tools) is not installed";
  for (const Written& w : files_)
    EXPECT_TRUE(ParseGifbuild(RunCommand("gifbuild -d '" + w.file + "'")) == w.idx) << w.file;
}

}  // namespace
}  // namespace korvane
