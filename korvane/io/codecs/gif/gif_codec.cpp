#include "korvane/io/codecs/gif/gif_codec.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/parallel.h"
#include "korvane/foundations/host/prefault.h"
#include "korvane/foundations/host/safe_save.h"
#include "korvane/foundations/host/winsys.h"
#include "korvane/io/codecs/bilevel.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/colordepth.h"
#include "korvane/pixels/quant/quantizer.h"
#include "korvane/pixels/vector_loops.h"
#include "korvane/view/system_dpi.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KV_GIF_AVX2 __attribute__((target("avx2")))
#endif

namespace korvane {

namespace {

constexpr char kUnrecognized[] = "unrecognized GIF";
constexpr char kCorrupted[] = "Corrupted GIF";
constexpr uint8_t kExtIntro = 0x21, kImageIntro = 0x2C, kTrailer = 0x3B;
constexpr uint8_t kGraphicControl = 0xF9, kApplication = 0xFF;
constexpr char kLoopId[] = "NETSCAPE2.0";

// Most pixels one byte of LZW data can stand for. Between two clear codes the
// k-th code adds at most one pixel to the longest string (k pixels at most)
// and takes at least 3 bits, and a table holds under 4096 codes, so a bit
// carries fewer than 4096 / 6 pixels.
constexpr int64_t kMaxPixelsPerByte = 8 * 683;

// Bounds-checked reader over a stream that knows where the stream ends. A
// short read answers false; nothing is read past the end.
class GifIn {
 public:
  explicit GifIn(TStream* s) : s_(s) {
    pos_ = s->Position();
    end_ = s->Size();
  }
  int64_t Pos() const { return pos_; }
  int64_t Left() const { return end_ - pos_; }
  void Resync() { pos_ = s_->Position(); }
  // -1 at the end of the stream.
  int Byte() {
    uint8_t b;
    if (pos_ >= end_ || s_->Read(&b, 1) != 1) return -1;
    ++pos_;
    return b;
  }
  bool Read(void* p, int64_t n) {
    if (n > Left()) return false;
    int64_t got = s_->Read(p, n);
    pos_ += std::max<int64_t>(got, 0);
    return got == n;
  }
  // Skips data sub-blocks up to a zero length or the end of the stream.
  void SkipSubBlocks() {
    for (;;) {
      int len = Byte();
      if (len <= 0) return;
      if (len > Left()) {
        pos_ = s_->Seek(0, soEnd);
        return;
      }
      pos_ = s_->Seek(len, soCurrent);
    }
  }

 private:
  TStream* s_;
  int64_t pos_ = 0, end_ = 0;
};

inline uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline void PutU16(std::vector<uint8_t>& v, int32_t x) {
  uint16_t u = uint16_t(std::clamp<int32_t>(x, 0, 65535));
  v.push_back(uint8_t(u & 0xFF));
  v.push_back(uint8_t(u >> 8));
}

// A color table read from the file: entries in memory order (blue, green,
// red), padded to 256 with black so any index can be looked up.
struct GifTable {
  int count = 0;  // entries in the file, 0 when absent
  TRGB pal[256] = {};
  bool Read(GifIn& in, uint8_t sizeCode) {
    count = 2 << (sizeCode & 7);
    uint8_t raw[768];
    if (!in.Read(raw, count * 3)) return false;
    for (int i = 0; i < count; ++i) pal[i] = TRGB{raw[3 * i + 2], raw[3 * i + 1], raw[3 * i]};
    return true;
  }
};

// Reads an application extension after its label, up to its terminator.
// Answers the loop count of a looping-animation extension ("NETSCAPE2.0" or
// "ANIMEXTS1.0", sub-block 1), else -1.
int ReadApplicationExt(GifIn& in) {
  int loop = -1;
  const int len = in.Byte();
  uint8_t s[255];
  if (len <= 0 || !in.Read(s, len)) return -1;
  const bool looping =
      len == 11 && (std::memcmp(s, kLoopId, 11) == 0 || std::memcmp(s, "ANIMEXTS1.0", 11) == 0);
  for (;;) {
    const int n = in.Byte();
    if (n <= 0 || !in.Read(s, n)) return loop;
    if (looping && n >= 3 && s[0] == 1) loop = U16(s + 1);
  }
}

// Fills a 1-bit or 24-bit bitmap from the frame's indices. A two-entry table
// of black and white gives a 1-bit bitmap (white is bit 1 whatever its
// place in the table); other colors give 24 bits.
void IndicesToBitmap(const uint8_t* idx, int32_t w, int32_t h, int bits, const TRGB* pal, TBitmap* Bitmap) {
  const TTwoColorLoad two = bits == 1 ? TwoColorLoad(pal[0], pal[1]) : tclColors;
  if (bits == 1 && two != tclColors) {
    Bitmap->Allocate(w, h, pf1bit);
    const uint8_t flip = two == tclWhiteBlack ? 0xFF : 0;
    const int32_t full = w / 8, rest = w % 8;
    for (int32_t y = 0; y < h; ++y) {
      uint8_t* row = Bitmap->Scanline(y);
      const uint8_t* s = idx + size_t(y) * size_t(w);
      for (int32_t b = 0; b < full; ++b, s += 8) {
        row[b] = uint8_t(((s[0] != 0) << 7 | (s[1] != 0) << 6 | (s[2] != 0) << 5 | (s[3] != 0) << 4 |
                          (s[4] != 0) << 3 | (s[5] != 0) << 2 | (s[6] != 0) << 1 | (s[7] != 0)) ^
                         flip);
      }
      if (rest) {
        uint8_t v = 0;
        for (int32_t i = 0; i < rest; ++i) v |= uint8_t((s[i] != 0) << (7 - i));
        row[full] = uint8_t((v ^ flip) & uint8_t(0xFF00 >> rest));
      }
    }
    return;
  }
  Bitmap->Allocate(w, h, pf24bit);
  for (int32_t y = 0; y < h; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(Bitmap->Scanline(y));
    const uint8_t* s = idx + size_t(y) * size_t(w);
    for (int32_t x = 0; x < w; ++x) row[x] = pal[s[x]];
  }
}

TGIFLZWDecompFunc DecoderOf(const TIOParamsVals& p) {
  return p.GIF_LZWDecompFunc ? p.GIF_LZWDecompFunc : DefGIF_LZWDECOMPFUNC;
}
TGIFLZWCompFunc EncoderOf(const TIOParamsVals& p) {
  return p.GIF_LZWCompFunc ? p.GIF_LZWCompFunc : DefGIF_LZWCOMPFUNC;
}

}  // namespace

void ReadGifStream(TStream* Stream, TBitmap* Bitmap, int32_t& ImageCount, TIOParamsVals& Params,
                   TProgressRec& Progress, bool ParamsOnly) {
  ImageCount = 0;
  ReportProgress(Progress, 0);
  if (AbortRequested(Progress)) return;
  int gceFlags = 0, gceDelay = 0, gceTransp = 0;

  GifIn in(Stream);
  uint8_t hdr[13];
  if (!in.Read(hdr, 13) || std::memcmp(hdr, "GIF", 3) != 0) throw EInvalidGraphic(kUnrecognized);
  Params.GIF_Version.assign(reinterpret_cast<const char*>(hdr), 6);
  Params.GIF_WinWidth = U16(hdr + 6);
  Params.GIF_WinHeight = U16(hdr + 8);
  Params.GIF_Ratio = hdr[12];
  Params.GIF_LoopCount = -1;
  Params.DpiX = SystemDpiX();
  Params.DpiY = SystemDpiY();
  Params.SamplesPerPixel = 1;
  GifTable global;
  if (hdr[10] & 0x80) {
    if (!global.Read(in, hdr[10])) throw EInvalidGraphic(kUnrecognized);
    Params.GIF_Background = global.pal[hdr[11]];
  }

  bool found = false, aborted = false;
  for (;;) {
    const int b = in.Byte();
    if (b < 0 || b == kTrailer) break;
    if (b == kExtIntro) {
      const int label = in.Byte();
      if (label < 0) break;
      if (label == kGraphicControl && ImageCount == Params.GIF_ImageIndex) {
        // Size byte (4), flags, delay, transparent index, then any further
        // sub-blocks up to the terminator.
        uint8_t g[5];
        int len = in.Byte();
        if (len >= 4 && in.Read(g, 4)) {
          gceFlags = g[0];
          gceDelay = U16(g + 1);
          gceTransp = g[3];
          for (int i = 4; i < len; ++i) in.Byte();
        } else if (len > 0) {
          for (int i = 0; i < len; ++i) in.Byte();
        }
        if (len > 0) in.SkipSubBlocks();
      } else if (label == kApplication) {
        const int loop = ReadApplicationExt(in);
        if (loop >= 0) Params.GIF_LoopCount = loop;
      } else {
        in.SkipSubBlocks();
      }
      continue;
    }
    if (b != kImageIntro) continue;

    uint8_t d[9];
    if (!in.Read(d, 9)) break;
    GifTable local;
    if ((d[8] & 0x80) && !local.Read(in, d[8])) break;
    if (ImageCount != Params.GIF_ImageIndex) {
      in.Byte();  // code size
      in.SkipSubBlocks();
      ++ImageCount;
      continue;
    }
    found = true;
    ReportProgress(Progress, 30);
    if (AbortRequested(Progress)) {
      aborted = true;
      break;
    }
    const GifTable& table = local.count ? local : global;
    const int32_t w = U16(d + 4), h = U16(d + 6);
    Params.GIF_TranspColor = table.pal[gceTransp];
    Params.GIF_XPos = U16(d);
    Params.GIF_YPos = U16(d + 2);
    Params.Width = w;
    Params.Height = h;
    Params.GIF_DelayTime = gceDelay;
    Params.GIF_FlagTranspColor = (gceFlags & 1) != 0;
    Params.GIF_Disposal = (gceFlags >> 2) & 7;
    Params.GIF_Interlaced = (d[8] & 0x40) != 0;

    std::vector<uint8_t> buf;
    if (ParamsOnly || w == 0 || h == 0) {
      // Nothing to decode (or not asked to): the data are skipped.
      in.Byte();
      in.SkipSubBlocks();
    } else {
      TGIFLZWDecompFunc decode = DecoderOf(Params);
      if (!decode) throw EInvalidGraphic("LZW decompressor not found");
      // The frame must fit the fixed limit and what the remaining data can
      // describe before its buffer is allocated.
      const int64_t pixels = int64_t(w) * h;
      if (pixels > kGifMaxPixels || pixels > std::max<int64_t>(in.Left(), 1) * kMaxPixelsPerByte)
        throw EInvalidGraphic(kCorrupted);
      buf.assign(size_t(pixels), 0);
      decode(Stream, h, w, Params.GIF_Interlaced, buf.data());
      in.Resync();
      ReportProgress(Progress, 70);
      if (AbortRequested(Progress)) {
        aborted = true;
        break;
      }
    }

    // The table that applies becomes the record's palette. A frame without
    // any table reads its indices as gray levels.
    GifTable gray;
    const GifTable* t = &table;
    if (table.count == 0) {
      for (int i = 0; i < 256; ++i) gray.pal[i] = TRGB{uint8_t(i), uint8_t(i), uint8_t(i)};
      gray.count = 256;
      t = &gray;
    }
    int bits = 0;
    while ((1 << bits) < t->count) ++bits;
    Params.BitsPerSample = bits;
    Params.SetColorMap(t->pal, t->count);
    if (!ParamsOnly) IndicesToBitmap(buf.data(), w, h, bits, t->pal, Bitmap);
    ++ImageCount;
  }
  // A frame index past the end (often one left from an earlier file) is a
  // failure, not an empty success.
  if (!found && !aborted)
    throw EInvalidGraphic("GIF frame " + std::to_string(Params.GIF_ImageIndex) +
                          " does not exist (the file has " + std::to_string(ImageCount) +
                          (ImageCount == 1 ? " frame)" : " frames)"));
  if (!AbortRequested(Progress)) ReportProgress(Progress, 100);
}

void ReadGif(const std::string& FileName, TBitmap* Bitmap, int32_t& ImageCount, TIOParamsVals& Params,
             TProgressRec& Progress) {
  TFileStream f(FileName, fmOpenRead);
  ReadGifStream(&f, Bitmap, ImageCount, Params, Progress, false);
}

namespace {

// An allocator whose elements start uninitialized, their pages mapped up
// front: index buffers are written whole right after they are made, so
// clearing them first is wasted work.
template <typename T>
struct NoInitAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = NoInitAllocator<U>;
  };
  using std::allocator<T>::allocator;
  T* allocate(size_t n) {
    T* p = std::allocator<T>::allocate(n);
    KVPrefault(p, n * sizeof(T));
    return p;
  }
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
using IndexBuffer = std::vector<uint8_t, NoInitAllocator<uint8_t>>;

// A frame ready to be written: its palette (2^bits entries) and one index a
// pixel, rows from the top.
struct GifFrame {
  int bits = 8;
  int32_t w = 0, h = 0;
  std::vector<TRGB> pal;
  IndexBuffer idx;
  // Entries the image uses when its colors were mapped exactly; the rest of
  // the table is free.
  int used = 256;
  // Puts c into a free entry when the table was made from the image's own
  // colors and lacks it, so that a transparent or background color given
  // by the record gets an index of its own instead of the nearest pixel
  // color's.
  void Reserve(const TRGB& c) {
    if (quant || bits == 1) return;
    for (int i = 0; i < used; ++i)
      if (pal[size_t(i)].r == c.r && pal[size_t(i)].g == c.g && pal[size_t(i)].b == c.b) return;
    if (used < int(pal.size())) pal[size_t(used++)] = c;
  }
  // Index of a color: the quantizer's answer when one made the palette, else
  // the nearest palette entry.
  const TKVQuantizer* quant = nullptr;
  int IndexOf(const TRGB& c) const {
    if (quant) return quant->GetRGBIndex(c);
    int best = 0, bestd = 1 << 30;
    for (int i = 0; i < int(pal.size()); ++i) {
      int dr = pal[i].r - c.r, dg = pal[i].g - c.g, db = pal[i].b - c.b;
      int dd = dr * dr + dg * dg + db * db;
      if (dd < bestd) bestd = dd, best = i;
    }
    return best;
  }
};

// Indices of a 1-bit bitmap, bit 1 -> index 1.
void OneBitIndices(const TBitmap* b, GifFrame& f) {
  f.bits = 1;
  f.pal = {TRGB{0, 0, 0}, TRGB{255, 255, 255}};
  f.idx.resize(size_t(f.w) * size_t(f.h));
  for (int32_t y = 0; y < f.h; ++y) {
    const uint8_t* row = b->Scanline(y);
    uint8_t* o = f.idx.data() + size_t(y) * size_t(f.w);
    for (int32_t x = 0; x < f.w; ++x) o[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
  }
}

// The colors of an image of at most 256 of them, by open addressing on the
// 24-bit color (b | g << 8 | r << 16) in 4096 slots, so the first probe
// nearly always decides. A slot holds the color and its index (<< 24); an
// empty slot holds a color that does not hash to it, so the one-probe test
// "the slot's color is the pixel's" never takes an empty slot for a hit.
class ColorIndex {
 public:
  static constexpr int kBits = 12;
  static constexpr uint32_t kSlots = 1u << kBits;
  static constexpr uint32_t Hash(uint32_t c) { return (c * 2654435761u) >> (32 - kBits); }

  explicit ColorIndex(int maxColors) : max_(maxColors) {
    for (uint32_t s = 0; s < kSlots; ++s) {
      uint32_t c = 0xFFFFFF;
      while (Hash(c) == s) --c;
      slot_[s] = c;
    }
  }
  const uint32_t* Slots() const { return slot_; }
  // Index of color c, given the next free one when it is new; false when
  // the table is full.
  bool Find(uint32_t c, uint8_t& index) {
    uint32_t h = Hash(c);
    while (used_[h] && (slot_[h] & 0xFFFFFF) != c) h = (h + 1) & (kSlots - 1);
    if (!used_[h]) {
      if (int(pal_.size()) == max_) return false;
      used_[h] = true;
      slot_[h] = c | uint32_t(pal_.size()) << 24;
      pal_.push_back(TRGB{uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
    }
    index = uint8_t(slot_[h] >> 24);
    return true;
  }
  std::vector<TRGB>& Palette() { return pal_; }

 private:
  uint32_t slot_[kSlots];
  bool used_[kSlots] = {};
  int max_;
  std::vector<TRGB> pal_;
};

// Indices of pixels 0..n-1 of a row; false when a color does not fit.
bool RowIndices(const uint8_t* row, int n, uint8_t* o, ColorIndex& t) {
  for (int x = 0; x < n; ++x, row += 3)
    if (!t.Find(row[0] | uint32_t(row[1]) << 8 | uint32_t(row[2]) << 16, o[x])) return false;
  return true;
}

#ifdef KV_GIF_AVX2
// Eight pixels a step: their colors hashed and their slots gathered at once;
// a step in which any pixel misses the first probe (a new color, or one that
// collided) runs pixel by pixel, so indices are given in the order of first
// appearance just as by RowIndices. Returns how many pixels it mapped, or -1
// when a color does not fit.
KV_GIF_AVX2 int RowIndices8(const uint8_t* row, int n, uint8_t* o, ColorIndex& t) {
  const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3, 4,
                                          5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m256i top = _mm256_setr_epi8(3, 7, 11, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 3, 7, 11, 15,
                                       -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i mul = _mm256_set1_epi32(int(2654435761u)), low24 = _mm256_set1_epi32(0xFFFFFF);
  const int* table = reinterpret_cast<const int*>(t.Slots());
  int x = 0;
  // The second 16-byte load reads up to byte 3x + 27: 4 bytes past pixel
  // x + 7, so the last steps stop short of the row's end.
  for (; x + 10 <= n; x += 8, row += 24) {
    const __m256i raw = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 12)), 1);
    const __m256i c = _mm256_shuffle_epi8(raw, spread);
    const __m256i h = _mm256_srli_epi32(_mm256_mullo_epi32(c, mul), 32 - ColorIndex::kBits);
    const __m256i e = _mm256_i32gather_epi32(table, h, 4);
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_and_si256(e, low24), c)) == -1) {
      const __m256i v = _mm256_shuffle_epi8(e, top);
      const uint32_t lo = uint32_t(_mm256_extract_epi32(v, 0)), hi = uint32_t(_mm256_extract_epi32(v, 4));
      std::memcpy(o + x, &lo, 4);
      std::memcpy(o + x + 4, &hi, 4);
    } else if (!RowIndices(row, 8, o + x, t)) {
      return -1;
    }
  }
  return x;
}
#endif

// Maps a 24-bit image straight to its own colors when it has no more than
// 2^bits of them (no quantizer loss); false, leaving f unchanged, otherwise.
bool ExactIndices(const TBitmap* src, GifFrame& f) {
  auto table = std::make_unique<ColorIndex>(1 << f.bits);
  IndexBuffer idx(size_t(f.w) * size_t(f.h));
#ifdef KV_GIF_AVX2
  const bool wide = detail::UseAVX2Loops();
#endif
  for (int32_t y = 0; y < f.h; ++y) {
    const uint8_t* row = src->Scanline(y);
    uint8_t* o = idx.data() + size_t(y) * size_t(f.w);
    int x = 0;
#ifdef KV_GIF_AVX2
    if (wide && (x = RowIndices8(row, f.w, o, *table)) < 0) return false;
#endif
    if (!RowIndices(row + 3 * x, f.w - x, o + x, *table)) return false;
  }
  std::vector<TRGB>& pal = table->Palette();
  f.used = int(pal.size());
  pal.resize(size_t(1 << f.bits), TRGB{0, 0, 0});
  f.pal = std::move(pal);
  f.idx = std::move(idx);
  return true;
}

// Builds palette and indices for Bitmap at the requested depth. A 1-bit
// request for an image of other than two colors is dithered to black and
// white when dither is set, else written with 8 bits. q keeps the quantizer
// alive for the caller's index look-ups.
GifFrame PrepareFrame(TBitmap* Bitmap, int bits, bool dither, std::unique_ptr<TKVQuantizer>& q) {
  GifFrame f;
  f.w = Bitmap->Width();
  f.h = Bitmap->Height();
  f.bits = bits < 1 || bits > 8 ? 8 : bits;
  TProgressRec quiet;
  if (f.bits == 1) {
    if (Bitmap->PixelFormat() == pf1bit) {
      OneBitIndices(Bitmap, f);
      return f;
    }
    TBitmap src24;
    const TBitmap* src = Bitmap;
    if (Bitmap->PixelFormat() != pf24bit) {
      src24.Assign(Bitmap);
      src24.SetPixelFormat(pf24bit);
      src = &src24;
    }
    TRGB c0, c1;
    if (std::unique_ptr<TBitmap> two = _ConvertTo1bit(src, c0, c1)) {
      OneBitIndices(two.get(), f);
      f.pal = {c0, c1};  // the image's own two colors
      return f;
    }
    if (dither) {
      TBitmap bw;
      bw.Assign(src);
      _ConvertToBWOrdered(&bw, quiet);
      OneBitIndices(&bw, f);
      return f;
    }
    f.bits = 8;
  }
  TBitmap tmp;
  TBitmap* src = Bitmap;
  if (Bitmap->PixelFormat() == pf1bit) {
    _Conv1to24(Bitmap, &tmp, quiet);
    src = &tmp;
  } else if (Bitmap->PixelFormat() != pf24bit) {
    tmp.Assign(Bitmap);
    tmp.SetPixelFormat(pf24bit);
    src = &tmp;
  }
  if (ExactIndices(src, f)) return f;
  const int n = 1 << f.bits;
  f.pal.assign(size_t(n), TRGB{0, 0, 0});
  q = std::make_unique<TKVQuantizer>(src, f.pal.data(), 0, n, -1, 0);
  f.quant = q.get();
  f.idx.resize(size_t(f.w) * size_t(f.h));
  src->Scanline(0);  // any drawing is written back before the rows are shared
  KVForEachRow(f.h, f.w, [&](int y) {
    const TRGB* row = reinterpret_cast<const TRGB*>(src->Scanline(y));
    uint8_t* o = f.idx.data() + size_t(y) * size_t(f.w);
    for (int32_t x = 0; x < f.w; ++x) o[x] = uint8_t(q->GetRGBIndex(row[x]));
  });
  return f;
}

void PutTable(std::vector<uint8_t>& out, const std::vector<TRGB>& pal) {
  for (const TRGB& c : pal) {
    out.push_back(c.r);
    out.push_back(c.g);
    out.push_back(c.b);
  }
}

// Graphic control extension (disposal GIF_Disposal), image
// descriptor and, when asked, the frame's own color table.
void PutFrameHead(std::vector<uint8_t>& out, const GifFrame& f, const TIOParamsVals& p, bool localTable) {
  const int disposal = std::clamp(p.GIF_Disposal, 0, 7);
  out.insert(out.end(),
             {kExtIntro, kGraphicControl, 4, uint8_t(disposal << 2 | (p.GIF_FlagTranspColor ? 1 : 0))});
  PutU16(out, p.GIF_DelayTime);
  out.push_back(uint8_t(f.IndexOf(p.GIF_TranspColor)));
  out.push_back(0);
  out.push_back(kImageIntro);
  PutU16(out, p.GIF_XPos);
  PutU16(out, p.GIF_YPos);
  PutU16(out, f.w);
  PutU16(out, f.h);
  uint8_t packed = p.GIF_Interlaced ? 0x40 : 0;
  if (localTable) packed |= uint8_t(0x80 + (f.bits - 1));
  out.push_back(packed);
  if (localTable) PutTable(out, f.pal);
}

void CheckWritable(const TBitmap* Bitmap) {
  if (Bitmap->Empty() || Bitmap->Width() > 65535 || Bitmap->Height() > 65535)
    throw EInvalidGraphic("GIF frames are 1 to 65535 pixels wide and high");
}

std::vector<uint8_t> ReadAll(TStream* s) {
  std::vector<uint8_t> d(size_t(std::max<int64_t>(s->Remaining(), 0)));
  if (!d.empty()) d.resize(size_t(std::max<int64_t>(s->Read(d.data(), int64_t(d.size())), 0)));
  return d;
}
std::vector<uint8_t> ReadFile(const std::string& name) {
  TFileStream f(name, fmOpenRead);
  return ReadAll(&f);
}
// Replaces a file with the bytes d through the safe path (side file, flush,
// rename), so a failure never leaves the file half-written.
void SaveFile(const std::string& name, const std::vector<uint8_t>& d) {
  KVSafeSave(name, [&](TStream* s) { s->WriteBuffer(d.data(), int64_t(d.size())); });
}

// End of the header and global table of a GIF held in memory.
size_t HeaderEnd(const std::vector<uint8_t>& d) {
  if (d.size() < 13 || std::memcmp(d.data(), "GIF", 3) != 0) throw EInvalidGraphic(kUnrecognized);
  size_t end = 13;
  if (d[10] & 0x80) end += size_t(3) << ((d[10] & 7) + 1);
  if (end > d.size()) throw EInvalidGraphic(kUnrecognized);
  return end;
}

enum GifBlockKind { gbExtension, gbImage, gbTrailer, gbOther, gbEnd };

// The block that starts at pos of a GIF in memory, its end in end. A block cut
// short by the end of the data reads as gbEnd.
GifBlockKind NextBlock(const std::vector<uint8_t>& d, size_t pos, size_t& end, uint8_t& label) {
  const size_t n = d.size();
  auto subBlocks = [&](size_t p) -> size_t {
    for (;;) {
      if (p >= n) return 0;
      size_t len = d[p];
      p += 1 + len;
      if (len == 0) return p;
      if (p > n) return 0;
    }
  };
  if (pos >= n) return gbEnd;
  switch (d[pos]) {
    case kExtIntro:
      if (pos + 2 > n) return gbEnd;
      label = d[pos + 1];
      end = subBlocks(pos + 2);
      return end ? gbExtension : gbEnd;
    case kImageIntro: {
      if (pos + 10 > n) return gbEnd;
      size_t p = pos + 10;
      if (d[pos + 9] & 0x80) p += size_t(3) << ((d[pos + 9] & 7) + 1);
      if (p + 1 > n) return gbEnd;
      end = subBlocks(p + 1);  // after the code size byte
      return end ? gbImage : gbEnd;
    }
    case kTrailer:
      end = pos + 1;
      return gbTrailer;
    default:
      end = pos + 1;
      return gbOther;
  }
}

// The header and global table with the version set to 89a.
std::vector<uint8_t> Header89a(const std::vector<uint8_t>& d, size_t hdrEnd) {
  std::vector<uint8_t> out(d.begin(), d.begin() + int64_t(hdrEnd));
  std::memcpy(out.data() + 3, "89a", 3);
  return out;
}

bool IsLoopExtension(const std::vector<uint8_t>& d, size_t pos, size_t end) {
  return end >= pos + 14 && d[pos + 1] == kApplication && d[pos + 2] == 11 &&
         std::memcmp(d.data() + pos + 3, kLoopId, 11) == 0;
}

}  // namespace

void WriteGifStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  ReportProgress(Progress, 0);
  if (AbortRequested(Progress)) return;
  // Checked before anything is written, so a missing coder leaves no
  // half-written file.
  TGIFLZWCompFunc encode = EncoderOf(Params);
  if (!encode) throw EInvalidGraphic("LZW compressor not found");
  CheckWritable(Bitmap);
  std::unique_ptr<TKVQuantizer> q;
  GifFrame f = PrepareFrame(Bitmap, Params.BitsPerSample, true, q);
  if (Params.GIF_FlagTranspColor) f.Reserve(Params.GIF_TranspColor);
  f.Reserve(Params.GIF_Background);
  ReportProgress(Progress, 30);
  if (AbortRequested(Progress)) return;

  std::vector<uint8_t> out;
  const std::string& v = Params.GIF_Version;
  const std::string version = v.size() >= 6 && v.compare(0, 3, "GIF") == 0 ? v.substr(0, 6) : "GIF89a";
  out.insert(out.end(), version.begin(), version.end());
  PutU16(out, f.w);
  PutU16(out, f.h);
  out.push_back(uint8_t(0x80 + (f.bits - 1) * 16 + (f.bits - 1)));
  out.push_back(uint8_t(f.IndexOf(Params.GIF_Background)));
  out.push_back(0);
  PutTable(out, f.pal);
  PutFrameHead(out, f, Params, false);
  Params.SetColorMap(f.pal.data(), int32_t(f.pal.size()));
  // Everything up to the image data goes out before the abort check: an
  // aborted write leaves a file without image data.
  Stream->WriteBuffer(out.data(), int64_t(out.size()));
  ReportProgress(Progress, 70);
  if (AbortRequested(Progress)) return;
  encode(Stream, f.h, f.w, Params.GIF_Interlaced, f.idx.data(), f.bits);
  const uint8_t trailer = kTrailer;
  Stream->WriteBuffer(&trailer, 1);
  ReportProgress(Progress, 100);
}

void WriteGif(const std::string& FileName, TBitmap* Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  KVSafeSave(
      FileName, [&](TStream* s) { WriteGifStream(s, Bitmap, Params, Progress); }, Progress.Aborting);
}

int32_t _InsertGifImStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  ReportProgress(Progress, 0);
  if (AbortRequested(Progress)) return 0;
  const int64_t start = Stream->Position();
  const std::vector<uint8_t> d = ReadAll(Stream);
  const size_t hdrEnd = HeaderEnd(d);
  TGIFLZWCompFunc encode = EncoderOf(Params);
  if (!encode) throw EInvalidGraphic("LZW compressor not found");
  CheckWritable(Bitmap);
  std::vector<uint8_t> out = Header89a(d, hdrEnd);
  std::unique_ptr<TKVQuantizer> q;
  GifFrame f = PrepareFrame(Bitmap, Params.BitsPerSample, false, q);
  if (Params.GIF_FlagTranspColor) f.Reserve(Params.GIF_TranspColor);
  ReportProgress(Progress, 30);
  if (AbortRequested(Progress)) return 0;

  const int32_t at = Params.GIF_ImageIndex;
  int32_t n = 0;  // frames passed, the new one included
  bool written = false;
  // Writes the new frame once; false when the abort flag is set.
  auto insert = [&]() {
    ReportProgress(Progress, 70);
    if (AbortRequested(Progress)) return false;
    PutFrameHead(out, f, Params, true);
    TMemoryStream data;
    encode(&data, f.h, f.w, Params.GIF_Interlaced, f.idx.data(), f.bits);
    out.insert(out.end(), data.Memory(), data.Memory() + data.Size());
    written = true;
    ++n;
    return true;
  };
  size_t pos = hdrEnd, end = 0;
  uint8_t label = 0;
  for (;;) {
    const GifBlockKind k = NextBlock(d, pos, end, label);
    if (k == gbEnd || k == gbTrailer) {
      if (!written && n == at && !insert()) return 0;
      break;
    }
    // The new frame goes before the graphic control extension of the frame
    // it displaces, or before that frame's descriptor when it has none.
    if (!written && n == at && (k == gbImage || (k == gbExtension && label == kGraphicControl)) && !insert())
      return 0;
    if (k != gbOther) out.insert(out.end(), d.begin() + int64_t(pos), d.begin() + int64_t(end));
    pos = end;
    if (k == gbImage) {
      ++n;
      if (!written && n == at && !insert()) return 0;
    }
  }
  out.push_back(kTrailer);
  Stream->SetPosition(start);
  Stream->WriteBuffer(out.data(), int64_t(out.size()));
  Stream->SetSize(start + int64_t(out.size()));
  ReportProgress(Progress, 100);
  return n;
}

int32_t _InsertGifIm(const std::string& FileName, TBitmap* Bitmap, TIOParamsVals& Params,
                     TProgressRec& Progress) {
  // The frame is inserted into a copy in memory; the file is replaced only
  // when that worked and was not aborted.
  TMemoryStream m;
  m.LoadFromFile(FileName);
  const int32_t n = _InsertGifImStream(&m, Bitmap, Params, Progress);
  if (n > 0 && !AbortRequested(Progress)) KVSafeSave(FileName, [&](TStream* s) { m.SaveToStream(s); });
  return n;
}

int32_t _DeleteGifIm(const std::string& FileName, int32_t Index, bool Save) {
  const std::vector<uint8_t> d = ReadFile(FileName);
  const size_t hdrEnd = HeaderEnd(d);
  std::vector<uint8_t> out = Header89a(d, hdrEnd);
  int32_t n = 0, kept = 0;
  size_t pos = hdrEnd, end = 0;
  uint8_t label = 0;
  for (;;) {
    const GifBlockKind k = NextBlock(d, pos, end, label);
    if (k == gbEnd || k == gbTrailer) break;
    const bool drop =
        k == gbOther || (n == Index && (k == gbImage || (k == gbExtension && label == kGraphicControl)));
    if (!drop) out.insert(out.end(), d.begin() + int64_t(pos), d.begin() + int64_t(end));
    if (k == gbImage) {
      if (n != Index) ++kept;
      ++n;
    }
    pos = end;
  }
  out.push_back(kTrailer);
  if (Save) SaveFile(FileName, out);
  return kept;
}

bool _CheckGifAnimate(const std::string& FileName) {
  TFileStream f(FileName, fmOpenRead);
  GifIn in(&f);
  uint8_t hdr[13], ext[14];
  if (!in.Read(hdr, 13) || std::memcmp(hdr, "GIF", 3) != 0) return false;
  GifTable global;
  if ((hdr[10] & 0x80) && !global.Read(in, hdr[10])) return false;
  return in.Read(ext, 14) && ext[0] == kExtIntro && ext[1] == kApplication && ext[2] == 11 &&
         std::memcmp(ext + 3, kLoopId, 11) == 0;
}

namespace {

// The GIF d as version 89a with the given logical screen size and one
// loop-count extension right after the global color table.
std::vector<uint8_t> AnimatedCopy(const std::vector<uint8_t>& d, uint16_t LoopCount, int32_t Width,
                                  int32_t Height) {
  const size_t hdrEnd = HeaderEnd(d);
  std::vector<uint8_t> out = Header89a(d, hdrEnd);
  out[6] = uint8_t(Width & 0xFF);
  out[7] = uint8_t((Width >> 8) & 0xFF);
  out[8] = uint8_t(Height & 0xFF);
  out[9] = uint8_t((Height >> 8) & 0xFF);
  out.insert(out.end(), {kExtIntro, kApplication, 11});
  out.insert(out.end(), kLoopId, kLoopId + 11);
  out.insert(out.end(), {3, 1, uint8_t(LoopCount & 0xFF), uint8_t(LoopCount >> 8), 0});
  // The rest is copied as it is, less any loop-count extension already there
  // (so marking twice leaves one). What cannot be parsed is copied unread.
  size_t pos = hdrEnd, end = 0;
  uint8_t label = 0;
  for (;;) {
    const GifBlockKind k = NextBlock(d, pos, end, label);
    if (k == gbEnd || k == gbTrailer) break;
    if (!(k == gbExtension && IsLoopExtension(d, pos, end)))
      out.insert(out.end(), d.begin() + int64_t(pos), d.begin() + int64_t(end));
    pos = end;
  }
  out.insert(out.end(), d.begin() + int64_t(std::min(pos, d.size())), d.end());
  return out;
}

}  // namespace

void _GifMakeAnimateStream(TStream* Stream, uint16_t LoopCount, int32_t Width, int32_t Height) {
  const int64_t start = Stream->Position();
  const std::vector<uint8_t> out = AnimatedCopy(ReadAll(Stream), LoopCount, Width, Height);
  Stream->SetPosition(start);
  Stream->WriteBuffer(out.data(), int64_t(out.size()));
  Stream->SetSize(start + int64_t(out.size()));
}

void _GifMakeAnimate(const std::string& FileName, uint16_t LoopCount, int32_t Width, int32_t Height) {
  SaveFile(FileName, AnimatedCopy(ReadFile(FileName), LoopCount, Width, Height));
}

// ---------------------------------------------------------------------------
// Whole animations

TGifFrameIndex::TGifFrameIndex(TStream* Stream) : stream_(Stream) {
  GifIn in(Stream);
  if (!in.Read(header_, 13) || std::memcmp(header_, "GIF", 3) != 0) throw EInvalidGraphic(kUnrecognized);
  if (header_[10] & 0x80) {
    GifTable global;
    if (!global.Read(in, header_[10])) throw EInvalidGraphic(kUnrecognized);
    globalCount_ = global.count;
    std::copy(global.pal, global.pal + 256, global_);
  }
  // The blocks are walked as ReadGifStream walks them: a frame counts once
  // its descriptor and color table are whole, and it takes the last graphic
  // control extension since the frame before it.
  Frame next;
  for (;;) {
    const int b = in.Byte();
    if (b < 0 || b == kTrailer) break;
    if (b == kExtIntro) {
      const int label = in.Byte();
      if (label < 0) break;
      if (label == kGraphicControl) {
        uint8_t g[4];
        const int len = in.Byte();
        if (len >= 4 && in.Read(g, 4)) {
          next.flags = g[0];
          next.delay = U16(g + 1);
          next.transp = g[3];
          for (int i = 4; i < len; ++i) in.Byte();
        } else if (len > 0) {
          for (int i = 0; i < len; ++i) in.Byte();
        }
        if (len > 0) in.SkipSubBlocks();
      } else if (label == kApplication) {
        const int loop = ReadApplicationExt(in);
        if (loop >= 0) loop_ = loop;
      } else {
        in.SkipSubBlocks();
      }
      continue;
    }
    if (b != kImageIntro) continue;
    next.at = in.Pos();
    uint8_t d[9];
    if (!in.Read(d, 9)) break;
    if (d[8] & 0x80) {
      // The frame's own table is read again with the frame; here it is
      // only passed.
      const int64_t bytes = int64_t(3) << ((d[8] & 7) + 1);
      if (bytes > in.Left()) break;
      Stream->Seek(bytes, soCurrent);
      in.Resync();
    }
    in.Byte();  // code size
    in.SkipSubBlocks();
    frames_.push_back(next);
    next = Frame();
  }
}

void TGifFrameIndex::Read(int32_t Index, TBitmap* Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
                          bool ParamsOnly) {
  if (Index < 0 || Index >= Count()) throw EInvalidGraphic(kCorrupted);
  const Frame& fr = frames_[size_t(Index)];
  ReportProgress(Progress, 0);
  if (AbortRequested(Progress)) return;
  Params.GIF_Version.assign(reinterpret_cast<const char*>(header_), 6);
  Params.GIF_WinWidth = U16(header_ + 6);
  Params.GIF_WinHeight = U16(header_ + 8);
  Params.GIF_Ratio = header_[12];
  Params.GIF_LoopCount = loop_;
  Params.DpiX = SystemDpiX();
  Params.DpiY = SystemDpiY();
  Params.SamplesPerPixel = 1;
  if (header_[10] & 0x80) Params.GIF_Background = global_[header_[11]];

  stream_->Seek(fr.at, soBeginning);
  GifIn in(stream_);
  uint8_t d[9];
  GifTable local;
  if (!in.Read(d, 9) || ((d[8] & 0x80) && !local.Read(in, d[8]))) throw EInvalidGraphic(kCorrupted);
  ReportProgress(Progress, 30);
  if (AbortRequested(Progress)) return;
  GifTable global;
  global.count = globalCount_;
  std::copy(global_, global_ + 256, global.pal);
  const GifTable& table = local.count ? local : global;
  const int32_t w = U16(d + 4), h = U16(d + 6);
  Params.GIF_TranspColor = table.pal[fr.transp];
  Params.GIF_XPos = U16(d);
  Params.GIF_YPos = U16(d + 2);
  Params.Width = w;
  Params.Height = h;
  Params.GIF_DelayTime = fr.delay;
  Params.GIF_FlagTranspColor = (fr.flags & 1) != 0;
  Params.GIF_Disposal = (fr.flags >> 2) & 7;
  Params.GIF_Interlaced = (d[8] & 0x40) != 0;

  std::vector<uint8_t> buf;
  if (!ParamsOnly && w > 0 && h > 0) {
    TGIFLZWDecompFunc decode = DecoderOf(Params);
    if (!decode) throw EInvalidGraphic("LZW decompressor not found");
    const int64_t pixels = int64_t(w) * h;
    if (pixels > kGifMaxPixels || pixels > std::max<int64_t>(in.Left(), 1) * kMaxPixelsPerByte)
      throw EInvalidGraphic(kCorrupted);
    buf.assign(size_t(pixels), 0);
    decode(stream_, h, w, Params.GIF_Interlaced, buf.data());
    ReportProgress(Progress, 70);
    if (AbortRequested(Progress)) return;
  }
  GifTable gray;
  const GifTable* t = &table;
  if (table.count == 0) {
    for (int i = 0; i < 256; ++i) gray.pal[i] = TRGB{uint8_t(i), uint8_t(i), uint8_t(i)};
    gray.count = 256;
    t = &gray;
  }
  int bits = 0;
  while ((1 << bits) < t->count) ++bits;
  Params.BitsPerSample = bits;
  Params.SetColorMap(t->pal, t->count);
  // With KeyTransparent, a transparent entry that shares its color with
  // another entry of the table gets a color of its own, so that the pixels
  // it marks, and only those, carry GIF_TranspColor.
  GifTable keyed;
  if (KeyTransparent && Params.GIF_FlagTranspColor) {
    const TRGB c = t->pal[fr.transp];
    bool shared = false;
    for (int i = 0; i < t->count && !shared; ++i)
      shared = i != fr.transp && t->pal[i].r == c.r && t->pal[i].g == c.g && t->pal[i].b == c.b;
    if (shared) {
      keyed = *t;
      TRGB k = c;
      for (uint32_t v = 0x010203;; v += 0x0F1D07) {
        k = TRGB{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)};
        bool used = false;
        for (int i = 0; i < t->count && !used; ++i)
          used = t->pal[i].r == k.r && t->pal[i].g == k.g && t->pal[i].b == k.b;
        if (!used) break;
      }
      keyed.pal[fr.transp] = k;
      keyed.count = std::max(keyed.count, fr.transp + 1);
      Params.GIF_TranspColor = k;
      t = &keyed;
      if (bits < 2) bits = 2;  // a keyed two-entry table is no longer black and white
    }
  }
  if (!ParamsOnly) IndicesToBitmap(buf.data(), w, h, bits, t->pal, Bitmap);
  ReportProgress(Progress, 100);
}

TGifFrameWriter::TGifFrameWriter(TStream* Stream) : stream_(Stream) { start_ = end_ = Stream->Position(); }

bool TGifFrameWriter::Add(TBitmap* Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  if (count_ == 0) {
    TMemoryStream first;
    WriteGifStream(&first, Bitmap, Params, Progress);
    if (AbortRequested(Progress)) return false;
    std::vector<uint8_t> d(first.Memory(), first.Memory() + first.Size());
    if (Params.GIF_LoopCount >= 0) {
      const size_t at = HeaderEnd(d);
      // The application extension: identifier, then the loop sub-block.
      uint8_t ext[19] = {kExtIntro, kApplication, 11};
      std::memcpy(ext + 3, kLoopId, 11);
      ext[14] = 3;
      ext[15] = 1;
      const uint16_t loops = uint16_t(std::clamp<int32_t>(Params.GIF_LoopCount, 0, 65535));
      ext[16] = uint8_t(loops & 0xFF);
      ext[17] = uint8_t(loops >> 8);
      ext[18] = 0;
      d.insert(d.begin() + int64_t(at), ext, ext + 19);
      std::memcpy(d.data() + 3, "89a", 3);
    }
    screenW_ = std::max(Params.GIF_WinWidth, 0);
    screenH_ = std::max(Params.GIF_WinHeight, 0);
    stream_->Seek(start_, soBeginning);
    stream_->WriteBuffer(d.data(), int64_t(d.size()));
    end_ = stream_->Position();
    count_ = 1;
    GrowScreen(Bitmap, Params);
    return true;
  }
  // As _InsertGifImStream adds a frame past the last one.
  ReportProgress(Progress, 0);
  if (AbortRequested(Progress)) return false;
  TGIFLZWCompFunc encode = EncoderOf(Params);
  if (!encode) throw EInvalidGraphic("LZW compressor not found");
  CheckWritable(Bitmap);
  std::unique_ptr<TKVQuantizer> q;
  GifFrame f = PrepareFrame(Bitmap, Params.BitsPerSample, false, q);
  if (Params.GIF_FlagTranspColor) f.Reserve(Params.GIF_TranspColor);
  ReportProgress(Progress, 30);
  if (AbortRequested(Progress)) return false;
  ReportProgress(Progress, 70);
  if (AbortRequested(Progress)) return false;
  if (count_ == 1) {
    // A file of several frames is a version 89a file.
    stream_->Seek(start_ + 3, soBeginning);
    stream_->WriteBuffer("89a", 3);
  }
  // The new frame takes the trailer's place.
  stream_->Seek(end_ - 1, soBeginning);
  std::vector<uint8_t> head;
  PutFrameHead(head, f, Params, true);
  stream_->WriteBuffer(head.data(), int64_t(head.size()));
  encode(stream_, f.h, f.w, Params.GIF_Interlaced, f.idx.data(), f.bits);
  const uint8_t trailer = kTrailer;
  stream_->WriteBuffer(&trailer, 1);
  end_ = stream_->Position();
  ++count_;
  GrowScreen(Bitmap, Params);
  ReportProgress(Progress, 100);
  return true;
}

void TGifFrameWriter::GrowScreen(const TBitmap* Bitmap, const TIOParamsVals& Params) {
  const int32_t w = std::min(std::max(screenW_, std::max(Params.GIF_XPos, 0) + Bitmap->Width()), 65535);
  const int32_t h = std::min(std::max(screenH_, std::max(Params.GIF_YPos, 0) + Bitmap->Height()), 65535);
  if (w == screenW_ && h == screenH_ && count_ > 1) return;
  screenW_ = w;
  screenH_ = h;
  std::vector<uint8_t> size;
  PutU16(size, w);
  PutU16(size, h);
  const int64_t back = stream_->Position();
  stream_->Seek(start_ + 6, soBeginning);
  stream_->WriteBuffer(size.data(), 4);
  stream_->Seek(back, soBeginning);
}

}  // namespace korvane
