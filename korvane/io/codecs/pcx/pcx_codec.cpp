// PCX reading and writing.
#include "korvane/io/codecs/pcx/pcx_codec.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/safe_save.h"
#include "korvane/foundations/host/winsys.h"
#include "korvane/io/codecs/bilevel.h"
#include "korvane/io/codecs/checked_reader.h"
#include "korvane/io/codecs/unsupported.h"
#include "korvane/view/system_dpi.h"

namespace korvane {

namespace {

constexpr const char* kBadPCX = "unrecognized PCX";

// A run code holds at most 63 bytes, so two stored bytes never decode to
// more than 63; a header that needs more than 32 decoded bytes per stored
// byte cannot be filled by its data.
constexpr int64_t kMaxRLEExpansion = 32;

// Run-length decoder over the image data, read from the stream a block at a
// time (no copy of the whole file in memory). A run may cross the end of a
// plane line and continues into the next one.
class RunDecoder {
 public:
  RunDecoder(TCheckedReader& in, int64_t length, bool rle)
      : in_(in), buf_(kBlock + kSlack), streamLeft_(length), rle_(rle) {}
  // Fills out with count bytes; false when the data end first.
  bool Take(uint8_t* out, size_t count) {
    size_t k = 0;
    while (k < count) {
      if (left_ > 0) {  // the rest of a run
        const size_t m = std::min(left_, count - k);
        std::memset(out + k, value_, m);
        k += m;
        left_ -= m;
        continue;
      }
      if (n_ - i_ < kSlack) Refill();
      if (i_ >= n_) return false;
      const uint8_t* d = buf_.data();
      if (!rle_) {
        const size_t m = std::min(count - k, n_ - i_);
        std::memcpy(out + k, d + i_, m);
        k += m;
        i_ += m;
        continue;
      }
      // Literal bytes straight through (sixteen at a time while no run code
      // is among them), then one run code.
#ifdef __SSE2__
      const __m128i c0 = _mm_set1_epi8(char(0xC0));
      while (count - k >= 16 && n_ - i_ >= 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i_));
        const unsigned high = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(a, c0), c0)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), a);
        const size_t m = high ? size_t(std::countr_zero(high)) : 16;
        k += m;
        i_ += m;
        if (high) break;
      }
#endif
      while (k < count && i_ < n_ && d[i_] < 192) out[k++] = d[i_++];
      if (k == count || i_ >= n_) continue;  // done, or more data first
      if (i_ + 1 >= n_) {
        Refill();
        if (i_ + 1 >= n_) return false;
      }
      left_ = buf_[i_] & 63;
      value_ = buf_[i_ + 1];
      i_ += 2;
    }
    return true;
  }

 private:
  static constexpr size_t kBlock = size_t(1) << 18, kSlack = 64;

  // Moves the unread bytes to the front and reads the next block after them.
  void Refill() {
    if (streamLeft_ <= 0) return;
    const size_t keep = n_ - i_;
    std::memmove(buf_.data(), buf_.data() + i_, keep);
    const size_t want = size_t(std::min<int64_t>(streamLeft_, int64_t(buf_.size() - keep)));
    in_.Read(buf_.data() + keep, int64_t(want));
    streamLeft_ -= int64_t(want);
    n_ = keep + want;
    i_ = 0;
  }

  TCheckedReader& in_;
  std::vector<uint8_t> buf_;
  int64_t streamLeft_;
  bool rle_;
  size_t n_ = 0, i_ = 0;
  size_t left_ = 0;
  uint8_t value_ = 0;
};

}  // namespace

void ReadPcxStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly,
                   TProgressRec& Progress, int64_t DataSize) {
  const int64_t start = Stream->Position();
  TCheckedReader in(Stream, kBadPCX, DataSize > 0 ? start + DataSize : -1);
  uint8_t h[128];
  in.Read(h, 128);
  const int bpp = h[3], planes = h[65], enc = h[2];
  // One plane of 1, 2, 4 or 8 bits, three planes of 8 bits (RGB), or two to
  // four planes of 1 bit (the EGA layouts: bit p of a pixel's palette index
  // sits in plane p).
  const bool planar = bpp == 1 && planes >= 2 && planes <= 4;
  if (h[0] != 10 || bpp > 8 || (planes != 1 && planes != 3 && !planar) || enc > 1) in.Fail();
  const int w = int(LE16(h + 8)) - int(LE16(h + 4)) + 1;
  const int ht = int(LE16(h + 10)) - int(LE16(h + 6)) + 1;
  if (w <= 0 || ht <= 0 || int64_t(w) * ht > kMaxPCXPixels) in.Fail();
  const int bpl = LE16(h + 66);

  int dpix = LE16(h + 12), dpiy = LE16(h + 14);
  if (dpix == 0 || dpiy == 0) {
    dpix = SystemDpiX();
    dpiy = SystemDpiY();
  }
  const int64_t dataLen = in.Remaining();
  std::vector<TRGB> pal;
  if (planes == 1 && bpp > 4) {
    if (dataLen < 768) in.Fail();
    uint8_t raw[768];
    in.SeekTo(in.End() - 768);
    in.Read(raw, 768);
    in.SeekTo(start + 128);
    pal.resize(256);
    for (int i = 0; i < 256; ++i) pal[size_t(i)] = TRGB{raw[3 * i + 2], raw[3 * i + 1], raw[3 * i]};
  } else if (planes == 1 || planar) {
    pal.resize(size_t(1) << (bpp * planes));
    for (size_t i = 0; i < pal.size(); ++i)
      pal[i] = TRGB{h[16 + 3 * i + 2], h[16 + 3 * i + 1], h[16 + 3 * i]};
  }

  Params.BitsPerSample = bpp;
  Params.SamplesPerPixel = planes;
  Params.Width = w;
  Params.Height = ht;
  Params.DpiX = dpix;
  Params.DpiY = dpiy;
  Params.PCX_Version = h[1];
  Params.SetColorMap(pal.data(), int32_t(pal.size()));
  if (ParamsOnly) return;

  const bool decodable =
      (planes == 1 && (bpp == 1 || bpp == 2 || bpp == 4 || bpp == 8)) || (planes == 3 && bpp == 8) || planar;
  if (!decodable)
    throw EUnsupportedImage("PCX images of " + std::to_string(planes) + " plane(s) of " +
                            std::to_string(bpp) + " bits are not supported");
  const int64_t total = int64_t(bpl) * planes * ht;
  if (bpl < (int64_t(w) * bpp + 7) / 8) in.Fail();
  if (total > (enc ? dataLen * kMaxRLEExpansion : dataLen)) in.Fail();

  // A 1-bit image stays 1-bit when its header palette is black and white (or
  // gives no palette: version 3, or two equal entries, as writers that leave
  // it zeroed do); other colors load as 24-bit through the palette.
  TTwoColorLoad two = tclBlackWhite;
  if (bpp == 1 && planes == 1 && h[1] != 3 &&
      (pal[0].r != pal[1].r || pal[0].g != pal[1].g || pal[0].b != pal[1].b))
    two = TwoColorLoad(pal[0], pal[1]);
  const bool mono = bpp == 1 && planes == 1 && two != tclColors;
  const bool invert = two == tclWhiteBlack;
  Bitmap->Allocate(w, ht, mono ? pf1bit : pf24bit);
  Progress.Scale = 100.0 / ht;
  {
    RunDecoder dec(in, dataLen, enc == 1);
    std::vector<uint8_t> line(size_t(bpl) * planes);
    for (int y = 0; y < ht; ++y) {
      Progress.Done = y;
      ReportProgress(Progress, int(y * Progress.Scale));
      if (AbortRequested(Progress)) break;
      if (!dec.Take(line.data(), line.size())) in.Fail();
      uint8_t* dst = Bitmap->Scanline(y);
      TRGB* px = reinterpret_cast<TRGB*>(dst);
      if (mono) {
        const uint8_t flip = invert ? 0xFF : 0;
        for (size_t k = 0; k < (size_t(w) + 7) / 8; ++k) dst[k] = line[k] ^ flip;
      } else if (planar) {
        // Eight pixels at a time: each plane's byte gives one bit of the
        // eight indices.
        for (int x0 = 0; x0 < w; x0 += 8) {
          uint8_t idx[8] = {};
          for (int p = 0; p < planes; ++p) {
            const uint8_t b = line[size_t(p) * bpl + size_t(x0) / 8];
            for (int k = 0; k < 8; ++k) idx[k] |= uint8_t(((b >> (7 - k)) & 1) << p);
          }
          for (int k = 0; k < 8 && x0 + k < w; ++k) px[x0 + k] = pal[idx[k]];
        }
      } else if (planes == 3) {
        const uint8_t *r = line.data(), *g = r + bpl, *b = g + bpl;
        for (int x = 0; x < w; ++x) px[x] = TRGB{b[x], g[x], r[x]};
      } else if (bpp == 8) {
        for (int x = 0; x < w; ++x) px[x] = pal[line[size_t(x)]];
      } else if (bpp == 1) {
        for (int x = 0; x < w; ++x) px[x] = pal[(line[size_t(x) >> 3] >> (7 - (x & 7))) & 1];
      } else if (bpp == 2) {
        for (int x = 0; x < w; ++x) px[x] = pal[(line[size_t(x) >> 2] >> (6 - 2 * (x & 3))) & 3];
      } else {
        for (int x = 0; x < w; ++x) {
          const uint8_t b = line[size_t(x) / 2];
          px[x] = pal[(x & 1) ? (b & 15) : (b >> 4)];
        }
      }
    }
  }
  Bitmap->Changed();
}

namespace {

// Codes the byte at in (a run when the next byte repeats it, else a
// literal, prefixed by a run of 1 when it is 192 or more) and returns the
// next input position.
inline const uint8_t* EncodeCode(const uint8_t* in, const uint8_t* end, uint8_t*& o) {
  const uint8_t v = *in++;
  if (in < end && *in == v) {
    const uint8_t* lim = end - in > 62 ? in + 62 : end;
    const uint8_t* p = in + 1;
    while (p < lim && *p == v) ++p;
    *o++ = uint8_t(192 | (p - in + 1));
    *o++ = v;
    return p;
  }
  if (v >= 192) *o++ = 193;
  *o++ = v;
  return in;
}

// Codes one plane line at o (room for 2 x count + 16 bytes) and returns the
// end. Sixteen bytes at a time are checked for a byte that equals its
// successor or is 192 or more; the bytes before it are plain literals and
// are stored as a block, so photographs, where most bytes differ from the
// next, avoid a hard-to-predict branch per byte.
uint8_t* EncodeLine(const uint8_t* in, int count, uint8_t* o) {
  const uint8_t* end = in + count;
#ifdef __SSE2__
  const __m128i c0 = _mm_set1_epi8(char(0xC0));
  while (end - in > 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 1));
    const unsigned stop = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b))) |
                          unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(a, c0), c0)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), a);
    if (stop == 0) {
      o += 16;
      in += 16;
      continue;
    }
    const int n = std::countr_zero(stop);
    o += n;
    in = EncodeCode(in + n, end, o);
  }
#endif
  while (in < end) in = EncodeCode(in, end, o);
  return o;
}

}  // namespace

void PcxEncodeLine(const uint8_t* Line, int Count, std::vector<uint8_t>& Out) {
  const size_t base = Out.size();
  Out.resize(base + 2 * size_t(Count) + 16);
  Out.resize(size_t(EncodeLine(Line, Count, Out.data() + base) - Out.data()));
}

void WritePcxStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  const int w = Bitmap->Width(), ht = Bitmap->Height();
  if (w <= 0 || ht <= 0 || w > 65536 || ht > 65536) throw EInvalidGraphic(kBadPCX);
  int depth = Params.BitsPerSample * Params.SamplesPerPixel;
  if (depth != 1 && depth != 4 && depth != 8) depth = 24;

  std::unique_ptr<TBitmap> keep;
  const TBitmap* src = nullptr;
  std::vector<TRGB> pal;
  std::unique_ptr<TPaletteMap> quant;
  if (depth == 1) {
    TRGB c0{0, 0, 0}, c1{255, 255, 255};
    src = PrepareBilevel(Bitmap, keep, c0, c1);
    pal = {c0, c1};
  } else {
    src = Prepare24(Bitmap, keep);
    if (depth != 24) {
      quant = std::make_unique<TPaletteMap>(src, depth == 4 ? 16 : 256);
      pal = quant->Palette();
    }
  }
  const int bpp = depth == 24 ? 8 : depth, planes = depth == 24 ? 3 : 1;
  int bpl = depth == 1 ? (w + 7) / 8 : depth == 4 ? (w + 1) / 2 : w;
  bpl += bpl & 1;
  const bool rle = Params.PCX_Compression == ioPCX_RLE;

  uint8_t h[128] = {};
  h[0] = 10;
  h[1] = uint8_t(Params.PCX_Version);
  h[2] = rle ? 1 : 0;
  h[3] = uint8_t(bpp);
  PutLE16(h + 8, uint32_t(w - 1));
  PutLE16(h + 10, uint32_t(ht - 1));
  PutLE16(h + 12, uint32_t(std::clamp(Params.DpiX, 0, 0xFFFF)));
  PutLE16(h + 14, uint32_t(std::clamp(Params.DpiY, 0, 0xFFFF)));
  if (depth <= 4)
    for (size_t i = 0; i < pal.size(); ++i) {
      h[16 + 3 * i] = pal[i].r;
      h[16 + 3 * i + 1] = pal[i].g;
      h[16 + 3 * i + 2] = pal[i].b;
    }
  h[65] = uint8_t(planes);
  PutLE16(h + 66, uint32_t(bpl));
  PutLE16(h + 68, depth == 24 ? 0 : 1);
  Stream->WriteBuffer(h, 128);

  std::vector<uint8_t> line(size_t(bpl) * planes, 0), out(2 * line.size() + 16);
  Progress.Scale = 100.0 / ht;
  for (int y = 0; y < ht; ++y) {
    Progress.Done = y;
    ReportProgress(Progress, int(y * Progress.Scale));
    if (AbortRequested(Progress)) return;
    const uint8_t* row = src->Scanline(y);
    const TRGB* px = reinterpret_cast<const TRGB*>(row);
    if (depth == 1) {
      std::memcpy(line.data(), row, (size_t(w) + 7) / 8);
    } else if (depth == 24) {
      uint8_t *r = line.data(), *g = r + bpl, *b = g + bpl;
      for (int x = 0; x < w; ++x) r[x] = px[x].r, g[x] = px[x].g, b[x] = px[x].b;
    } else if (depth == 8) {
      for (int x = 0; x < w; ++x) line[size_t(x)] = uint8_t(quant->Index(px[x]));
    } else {
      std::fill(line.begin(), line.end(), 0);
      for (int x = 0; x < w; ++x) line[size_t(x) / 2] |= uint8_t(quant->Index(px[x]) << ((x & 1) ? 0 : 4));
    }
    if (rle) {
      uint8_t* o = out.data();
      for (int p = 0; p < planes; ++p) o = EncodeLine(line.data() + size_t(p) * bpl, bpl, o);
      Stream->WriteBuffer(out.data(), int64_t(o - out.data()));
    } else {
      Stream->WriteBuffer(line.data(), int64_t(line.size()));
    }
  }
  Progress.Done = ht;
  if (depth == 8) {
    uint8_t raw[769];
    raw[0] = 12;
    for (int i = 0; i < 256; ++i) {
      raw[1 + 3 * i] = pal[size_t(i)].r;
      raw[2 + 3 * i] = pal[size_t(i)].g;
      raw[3 + 3 * i] = pal[size_t(i)].b;
    }
    Stream->WriteBuffer(raw, 769);
  }
}

void ReadPcx(const std::string& FileName, TBitmap* Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  TFileStream fs(FileName, fmOpenRead);
  ReadPcxStream(&fs, Bitmap, Params, false, Progress, fs.Size());
}

void WritePcx(const std::string& FileName, TBitmap* Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  KVSafeSave(
      FileName, [&](TStream* s) { WritePcxStream(s, Bitmap, Params, Progress); }, Progress.Aborting);
}

}  // namespace korvane
