#include "korvane/io/codecs/tiff/tiff_codec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/winsys.h"
#include "korvane/io/codecs/bilevel.h"
#include "korvane/io/codecs/tiff/tiff_ccitt.h"
#include "korvane/io/codecs/tiff/tiff_chunks.h"
#include "korvane/io/codecs/unsupported.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/colordepth.h"
#include "korvane/view/system_dpi.h"

namespace korvane {

namespace {

constexpr char kUnrecognized[] = "unrecognized TIFF";
constexpr char kInvalid[] = "Invalid TIFF stream";
constexpr char kNoLzw[] = "LZW Decompressor not found";
constexpr char kIntelOnly[] = "Multi image TIFF limited to Intel format";

enum : uint16_t {
  tBYTE = 1,
  tASCII = 2,
  tSHORT = 3,
  tLONG = 4,
  tRATIONAL = 5,
};

int TypeSize(uint16_t type) {
  // Up to IFD (13), then BigTIFF's LONG8, SLONG8 and IFD8 (16..18).
  static const int sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
  return type < 19 ? sizes[type] : 0;
}

// Random access to the TIFF that starts at the stream's position; offsets are
// from that start. A read outside the stream answers false.
class TiffIn {
 public:
  explicit TiffIn(TStream* s) : s_(s) {
    base_ = s->Position();
    size_ = std::max<int64_t>(s->Size() - base_, 0);
  }
  int64_t Size() const { return size_; }
  bool big = false;
  // BigTIFF (version 43): 8-byte offsets and counts, 20-byte entries.
  bool bigtiff = false;
  bool Read(int64_t off, void* p, int64_t n) {
    if (off < 0 || n < 0 || off > size_ || n > size_ - off) return false;
    if (n == 0) return true;
    s_->Seek(base_ + off, soBeginning);
    return s_->Read(p, n) == n;
  }
  uint16_t U16(const uint8_t* p) const {
    return big ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
  }
  uint32_t U32(const uint8_t* p) const {
    return big ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
               : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
  uint64_t U64(const uint8_t* p) const {
    return big ? uint64_t(U32(p)) << 32 | U32(p + 4) : uint64_t(U32(p + 4)) << 32 | U32(p);
  }
  // An offset as the file stores it.
  uint64_t Off(const uint8_t* p) const { return bigtiff ? U64(p) : U32(p); }

 private:
  TStream* s_;
  int64_t base_ = 0, size_ = 0;
};

struct Entry {
  uint16_t tag = 0, type = 0;
  uint64_t count = 0;
  uint8_t raw[8] = {};  // the value field: 4 bytes, or 8 in BigTIFF
  int64_t Bytes() const {
    // Counts no file could hold stay far from overflow.
    return count > (uint64_t(1) << 40) ? int64_t(1) << 62 : int64_t(count) * TypeSize(type);
  }
};

struct Ifd {
  uint64_t offset = 0;
  int64_t linkPos = 0;  // position of the link to the next directory
  uint64_t next = 0;
};

// Reads the header; answers the first directory's offset.
uint64_t ReadHeader(TiffIn& in) {
  uint8_t h[16];
  if (!in.Read(0, h, 8)) throw EInvalidGraphic(kUnrecognized);
  if (h[0] == 'I' && h[1] == 'I')
    in.big = false;
  else if (h[0] == 'M' && h[1] == 'M')
    in.big = true;
  else
    throw EInvalidGraphic(kUnrecognized);
  const uint16_t version = in.U16(h + 2);
  if (version == 42) return in.U32(h + 4);
  // BigTIFF: offset size 8, a reserved 0, then the first offset.
  if (version != 43 || !in.Read(8, h + 8, 8) || in.U16(h + 4) != 8 || in.U16(h + 6) != 0)
    throw EInvalidGraphic(kUnrecognized);
  in.bigtiff = true;
  return in.U64(h + 8);
}

// Page insertion and deletion write classic TIFF only.
void RefuseBigTiff(const TiffIn& in) {
  if (in.bigtiff) throw EUnsupportedImage("pages of BigTIFF files cannot be inserted or deleted");
}

// The chain of directories; a link outside the stream, to a directory that
// does not fit, or back to any earlier directory ends it.
std::vector<Ifd> WalkChain(TiffIn& in, uint64_t first) {
  std::vector<Ifd> chain;
  std::set<uint64_t> seen;
  uint64_t off = first;
  while (off != 0 && off < uint64_t(in.Size()) && !seen.count(off)) {
    uint8_t b[8];
    Ifd d;
    d.offset = off;
    if (in.bigtiff) {
      if (!in.Read(int64_t(off), b, 8)) break;
      const uint64_t n = in.U64(b);
      if (n > uint64_t(in.Size()) / 20) break;
      d.linkPos = int64_t(off) + 8 + 20 * int64_t(n);
      if (!in.Read(d.linkPos, b, 8)) break;
      d.next = in.U64(b);
    } else {
      if (!in.Read(int64_t(off), b, 2)) break;
      const int64_t n = in.U16(b);
      d.linkPos = int64_t(off) + 2 + 12 * n;
      if (!in.Read(d.linkPos, b, 4)) break;
      d.next = in.U32(b);
    }
    seen.insert(off);
    chain.push_back(d);
    off = d.next;
  }
  return chain;
}

std::vector<Entry> ReadEntries(TiffIn& in, const Ifd& d) {
  // The chain walk checked that the entries lie inside the stream.
  uint8_t b[8] = {};
  const int head = in.bigtiff ? 8 : 2, size = in.bigtiff ? 20 : 12;
  in.Read(int64_t(d.offset), b, head);
  const size_t n = in.bigtiff ? size_t(in.U64(b)) : in.U16(b);
  std::vector<uint8_t> raw(n * size);
  if (!in.Read(int64_t(d.offset) + head, raw.data(), int64_t(raw.size()))) throw EInvalidGraphic(kInvalid);
  std::vector<Entry> out(n);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* p = raw.data() + size * i;
    out[i].tag = in.U16(p);
    out[i].type = in.U16(p + 2);
    out[i].count = in.bigtiff ? in.U64(p + 4) : in.U32(p + 4);
    std::memcpy(out[i].raw, p + (in.bigtiff ? 12 : 8), in.bigtiff ? 8 : 4);
  }
  return out;
}

// The bytes of an entry's value: in the entry when they fit in four bytes,
// else at its offset. False when they lie outside the stream.
bool ValueBytes(TiffIn& in, const Entry& e, std::vector<uint8_t>& out) {
  const int64_t n = e.Bytes();
  if (n <= 0) return false;
  if (n <= (in.bigtiff ? 8 : 4)) {
    out.assign(e.raw, e.raw + n);
    return true;
  }
  const uint64_t off = in.Off(e.raw);
  if (n > in.Size() || off > uint64_t(in.Size())) return false;
  out.resize(size_t(n));
  return in.Read(int64_t(off), out.data(), n);
}

// Integer values of a BYTE, SHORT, LONG or LONG8 entry (signed kinds as
// stored).
bool Numbers(TiffIn& in, const Entry& e, std::vector<uint64_t>& out) {
  const int sz = TypeSize(e.type);
  if (e.type == 5 || e.type == 10 || e.type == 11 || e.type == 12 || e.type == tASCII) return false;
  std::vector<uint8_t> b;
  if (!ValueBytes(in, e, b)) return false;
  out.resize(size_t(e.count));
  for (size_t i = 0; i < out.size(); ++i) {
    const uint8_t* p = b.data() + i * sz;
    out[i] = sz == 1 ? p[0] : sz == 2 ? in.U16(p) : sz == 4 ? in.U32(p) : in.U64(p);
  }
  return true;
}

double Rational(TiffIn& in, const Entry& e) {
  std::vector<uint8_t> b;
  if (e.type == tRATIONAL || e.type == 10) {
    if (!ValueBytes(in, e, b)) return 0;
    const uint32_t num = in.U32(b.data()), den = in.U32(b.data() + 4);
    if (e.type == 10) return double(int32_t(num)) / (int32_t(den) ? int32_t(den) : 1);
    return double(num) / (den ? den : 1);
  }
  std::vector<uint64_t> v;
  return Numbers(in, e, v) && !v.empty() ? double(v[0]) : 0;
}

std::string Ascii(TiffIn& in, const Entry& e) {
  std::vector<uint8_t> b;
  if (e.type != tASCII || !ValueBytes(in, e, b)) return {};
  const auto end = std::find(b.begin(), b.end(), 0);
  return std::string(b.begin(), end);
}

// The decoded form of one directory.
struct TTIFFVars {
  int64_t Width = 0, Height = 0;
  int SamplesPerPixel = 1, BitsPerSample = 1;
  int64_t RowsPerStrip = 0;
  int64_t TileWidth = -1, TileLength = -1;
  int Photometric = 2, PlanarConf = 1, Orientation = 1, Compression = 1, Predictor = 1;
  int ResolutionUnit = 2, FillOrder = 1, InkSet = 1, NumberOfInks = 4;
  uint32_t T4Options = 0, T6Options = 0;
  double XResolution = 0, YResolution = 0, XPosition = 0, YPosition = 0;
  std::string DocumentName, ImageDescription, PageName, Software;
  int PageNumber = 0, PageCount = 0;
  std::vector<uint64_t> Tag336, StripOffsets, StripByteCounts, TileOffsets, TileByteCounts;
  std::vector<uint8_t> JPEGTables;
  std::vector<uint64_t> ColorMap, TransferFunction, ExtraSamples;
  // Old-style JPEG: where the page's JPEG interchange stream lies.
  int64_t JpegStream = -1, JpegStreamLength = -1;
  TTIFFLZWDecompFunc LZWDecomp = nullptr;
};

TTIFFVars Decode(TiffIn& in, const std::vector<Entry>& entries) {
  TTIFFVars v;
  bool rowsSet = false;
  std::vector<uint64_t> n;
  auto first = [&](const Entry& e, int64_t def) -> int64_t {
    return Numbers(in, e, n) && !n.empty() ? int64_t(n[0]) : def;
  };
  for (const Entry& e : entries) {
    switch (e.tag) {
      case 256:
        v.Width = first(e, 0);
        break;
      case 257:
        v.Height = first(e, 0);
        break;
      case 258:
        if (Numbers(in, e, n) && !n.empty()) {
          for (uint64_t x : n)
            if (x != n[0]) throw EInvalidGraphic(kInvalid);
          v.BitsPerSample = int(std::min<uint64_t>(n[0], 64));
        }
        break;
      case 259:
        v.Compression = int(first(e, 1));
        break;
      case 262:
        v.Photometric = int(first(e, 2));
        break;
      case 266:
        v.FillOrder = int(first(e, 1));
        break;
      case 269:
        v.DocumentName = Ascii(in, e);
        break;
      case 270:
        v.ImageDescription = Ascii(in, e);
        break;
      case 273:
        Numbers(in, e, v.StripOffsets);
        break;
      case 274:
        v.Orientation = int(first(e, 1));
        break;
      case 277:
        v.SamplesPerPixel = int(std::min<int64_t>(first(e, 1), 64));
        break;
      case 278:
        v.RowsPerStrip = first(e, 0);
        rowsSet = true;
        break;
      case 279:
        Numbers(in, e, v.StripByteCounts);
        break;
      case 282:
        v.XResolution = Rational(in, e);
        break;
      case 283:
        v.YResolution = Rational(in, e);
        break;
      case 284:
        v.PlanarConf = int(first(e, 1));
        break;
      case 285:
        v.PageName = Ascii(in, e);
        break;
      case 286:
        v.XPosition = Rational(in, e);
        break;
      case 287:
        v.YPosition = Rational(in, e);
        break;
      case 292:
        v.T4Options = uint32_t(first(e, 0));
        break;
      case 293:
        v.T6Options = uint32_t(first(e, 0));
        break;
      case 296:
        v.ResolutionUnit = int(first(e, 2));
        break;
      case 297:
        if (Numbers(in, e, n) && n.size() >= 2) {
          v.PageNumber = int(n[0]);
          v.PageCount = int(n[1]);
        }
        break;
      case 301:
        Numbers(in, e, v.TransferFunction);
        break;
      case 305:
        v.Software = Ascii(in, e);
        break;
      case 317:
        v.Predictor = int(first(e, 1));
        break;
      case 320:
        Numbers(in, e, v.ColorMap);
        break;
      case 322:
        v.TileWidth = first(e, -1);
        break;
      case 323:
        v.TileLength = first(e, -1);
        break;
      case 324:
        Numbers(in, e, v.TileOffsets);
        break;
      case 325:
        Numbers(in, e, v.TileByteCounts);
        break;
      case 332:
        v.InkSet = int(first(e, 1));
        break;
      case 334:
        v.NumberOfInks = int(first(e, 4));
        break;
      case 336:
        Numbers(in, e, v.Tag336);
        break;
      case 338:
        Numbers(in, e, v.ExtraSamples);
        break;
      case 347:
        ValueBytes(in, e, v.JPEGTables);
        break;
      case 513:
        v.JpegStream = first(e, -1);
        break;
      case 514:
        v.JpegStreamLength = first(e, -1);
        break;
      default:
        break;
    }
  }
  if (!rowsSet || v.RowsPerStrip <= 0 || v.RowsPerStrip > v.Height) v.RowsPerStrip = v.Height;
  return v;
}

TIOTIFFCompression CompressionOf(const TTIFFVars& v) {
  switch (v.Compression) {
    case 2:
      return ioTIFF_CCITT1D;
    case 3:
      return (v.T4Options & 1) ? ioTIFF_G3FAX2D : ioTIFF_G3FAX1D;
    case 4:
      return ioTIFF_G4FAX;
    case 5:
      return ioTIFF_LZW;
    case 6:
      return ioTIFF_OLDJPEG;
    case 7:
      return ioTIFF_JPEG;
    case 32773:
      return ioTIFF_PACKBITS;
    default:
      return ioTIFF_UNCOMPRESSED;
  }
}

// How a decoded row becomes a bitmap row.
enum class RowKind { None, Bilevel, Gray, Palette, Rgb, Cmyk };

// The two palette entries of a 1-bit palette page (16-bit values, high byte).
TTwoColorLoad PaletteTwoColors(const TTIFFVars& v) {
  auto at = [&](size_t k) { return k < v.ColorMap.size() ? uint8_t(v.ColorMap[k] >> 8) : uint8_t(0); };
  return TwoColorLoad(TRGB{at(4), at(2), at(0)}, TRGB{at(5), at(3), at(1)});
}

bool IsJpeg(int compression) { return compression == 6 || compression == 7; }
bool IsCcitt(int compression) { return compression >= 2 && compression <= 4; }

bool Supported(int compression) {
  return compression == 1 || IsCcitt(compression) || compression == 5 || IsJpeg(compression) ||
         compression == 8 || compression == 32946 || compression == 32773;
}

// Samples a pixel of the photometric interpretation has before extra ones.
int ColorSamples(int photometric) {
  switch (photometric) {
    case 0:
    case 1:
    case 3:
      return 1;
    case 2:
    case 6:
      return 3;
    case 5:
      return 4;
    default:
      return 0;
  }
}

// The first extra sample is alpha when ExtraSamples calls it associated (1)
// or unassociated (2); unspecified extra samples are ignored.
int AlphaKind(const TTIFFVars& v) {
  const int base = ColorSamples(v.Photometric);
  if (base == 0 || v.SamplesPerPixel <= base || v.ExtraSamples.empty()) return 0;
  return v.ExtraSamples[0] == 1 || v.ExtraSamples[0] == 2 ? int(v.ExtraSamples[0]) : 0;
}

RowKind KindOf(const TTIFFVars& v) {
  const int ph = v.Photometric, spp = v.SamplesPerPixel, bps = v.BitsPerSample;
  const bool gray = ph == 0 || ph == 1;
  const int base = ColorSamples(ph);
  if (base == 0 || spp < base) return RowKind::None;
  if (IsJpeg(v.Compression)) {
    // libjpeg gives 8-bit samples; YCbCr comes out as RGB. Extra samples
    // are not coded in JPEG streams.
    // Planes of a YCbCr stream, or of the one old-style stream, are not
    // written by anyone.
    if (bps != 8 || spp != base || ph == 3) return RowKind::None;
    if (v.PlanarConf == 2 && spp > 1 && (ph == 6 || v.Compression == 6)) return RowKind::None;
    return gray ? RowKind::Gray : ph == 5 ? RowKind::Cmyk : RowKind::Rgb;
  }
  if (ph == 6) return RowKind::None;  // YCbCr outside JPEG
  // Planes of samples under 8 bits would not align with pixels.
  if (v.PlanarConf == 2 && spp > 1 && bps != 8 && bps != 16) return RowKind::None;
  if (spp == 1 && bps == 1) {
    // A 1-bit palette of black and white stays bilevel; other colors go
    // through the palette.
    if (gray || (ph == 3 && PaletteTwoColors(v) != tclColors)) return RowKind::Bilevel;
  }
  if (IsCcitt(v.Compression)) return RowKind::None;
  if (gray && (bps == 8 || bps == 16 || (spp == 1 && (bps == 1 || bps == 2 || bps == 4))))
    return RowKind::Gray;
  if (ph == 3 && spp == 1 && (bps == 1 || bps == 2 || bps == 4 || bps == 8)) return RowKind::Palette;
  if (ph == 2 && (bps == 8 || bps == 16)) return RowKind::Rgb;
  if (ph == 5 && (bps == 8 || bps == 16)) return RowKind::Cmyk;
  return RowKind::None;
}

// Most decoded bytes one byte of the compression can stand for.
int64_t Expansion(int compression) {
  switch (compression) {
    case 1:
      return 4;  // subsampled YCbCr holds fewer bytes than its pixels
    case 32773:
      return 64;
    case 5:
      return 3700;  // a 9-bit code can stand for a string of up to 4096 bytes
    case 8:
    case 32946:
      return 1032;  // deflate's largest ratio
    default:
      return 1024;
  }
}

struct Progressor {
  TProgressRec& p;
  bool Step() {
    ++p.Done;
    ReportProgress(p, int(p.Done * p.Scale));
    return p.Aborting && *p.Aborting;
  }
};

// A colour over the background by its 8-bit alpha, rounded as libpng
// composites PNG alpha: (c a + bg (255 - a)) / 255. Associated alpha has
// the colour already multiplied: c + bg (255 - a) / 255.
inline uint8_t Over(int c, int a, int bg, bool associated) {
  if (associated) {
    const int t = bg * (255 - a) + 128;
    return uint8_t(std::min(255, c + ((t + (t >> 8)) >> 8)));
  }
  const int t = c * a + bg * (255 - a) + 128;
  return uint8_t((t + (t >> 8)) >> 8);
}

// Converts one row of 8-bit samples (narrower ones already spread to a byte
// each, wider ones reduced) into the bitmap.
struct RowConverter {
  RowKind kind = RowKind::None;
  int64_t width = 0;
  int spp = 1;    // samples a pixel, extra ones included
  int alpha = 0;  // 0 none, 1 associated, 2 unassociated
  TRGB bg{};      // what alpha shows through to
  uint8_t bgGray = 0;
  TRGB pal[256] = {};
  uint8_t grayMap[256] = {};
  bool invertBits = false;

  void operator()(const uint8_t* s, uint8_t* dst) const {
    TRGB* d = reinterpret_cast<TRGB*>(dst);
    const bool assoc = alpha == 1;
    switch (kind) {
      case RowKind::Rgb:
        if (alpha) {
          for (int64_t x = 0; x < width; ++x, s += spp) {
            const int a = s[3];
            d[x] = TRGB{Over(s[2], a, bg.b, assoc), Over(s[1], a, bg.g, assoc), Over(s[0], a, bg.r, assoc)};
          }
        } else if (spp == 3) {
          for (int64_t x = 0; x < width; ++x, s += 3) d[x] = TRGB{s[2], s[1], s[0]};
        } else {
          for (int64_t x = 0; x < width; ++x, s += spp) d[x] = TRGB{s[2], s[1], s[0]};
        }
        break;
      case RowKind::Gray:
        for (int64_t x = 0; x < width; ++x, s += spp) {
          const uint8_t g = alpha ? Over(grayMap[s[0]], s[1], bgGray, assoc) : grayMap[s[0]];
          d[x] = TRGB{g, g, g};
        }
        break;
      case RowKind::Palette:
        for (int64_t x = 0; x < width; ++x) d[x] = pal[s[x]];
        break;
      case RowKind::Cmyk:
        for (int64_t x = 0; x < width; ++x, s += spp) {
          const int k2 = 255 - s[3];
          TRGB c{uint8_t((255 - s[2]) * k2 / 255), uint8_t((255 - s[1]) * k2 / 255),
                 uint8_t((255 - s[0]) * k2 / 255)};
          if (alpha) {
            const int a = s[4];
            c = TRGB{Over(c.b, a, bg.b, assoc), Over(c.g, a, bg.g, assoc), Over(c.r, a, bg.r, assoc)};
          }
          d[x] = c;
        }
        break;
      case RowKind::Bilevel: {
        const int64_t n = (width + 7) / 8;
        if (invertBits)
          for (int64_t i = 0; i < n; ++i) dst[i] = uint8_t(~s[i]);
        else
          std::memcpy(dst, s, size_t(n));
        break;
      }
      case RowKind::None:
        break;
    }
  }
};

// Spreads packed samples of 1, 2 or 4 bits (first sample in the high bits)
// to one byte each.
void SplitSamples(const uint8_t* s, uint8_t* d, int64_t count, int bits) {
  if (bits == 4) {
    for (int64_t i = 0; i < count; ++i) d[i] = (i & 1) ? (s[i >> 1] & 0x0F) : (s[i >> 1] >> 4);
    return;
  }
  const int per = 8 / bits, mask = (1 << bits) - 1;
  for (int64_t i = 0; i < count; ++i) d[i] = uint8_t((s[i / per] >> (8 - bits * (1 + int(i % per)))) & mask);
}

// Why a page cannot be decoded, or empty when it can.
std::string Undecodable(const TTIFFVars& v) {
  if (!Supported(v.Compression))
    return "TIFF compression " + std::to_string(v.Compression) + " is not supported";
  if (v.Compression == 6 && v.JpegStream < 0)
    return "old-style JPEG TIFF pages without a JPEG interchange stream are not supported";
  if (v.StripOffsets.empty() && v.TileOffsets.empty()) return "TIFF page without image data";
  if (KindOf(v) == RowKind::None)
    return "TIFF pages of photometric interpretation " + std::to_string(v.Photometric) + " with " +
           std::to_string(v.SamplesPerPixel) + " sample(s) of " + std::to_string(v.BitsPerSample) + " bits" +
           (v.PlanarConf == 2 ? " in planes" : "") +
           (v.Compression != 1 ? " and compression " + std::to_string(v.Compression) : "") +
           " are not supported";
  if (v.Predictor != 1 && !(v.Predictor == 2 && (v.BitsPerSample == 8 || v.BitsPerSample == 16)))
    return "TIFF predictor " + std::to_string(v.Predictor) + " is not supported at " +
           std::to_string(v.BitsPerSample) + " bits";
  return {};
}

// Horizontal differencing undone on one row of 8-bit samples, spp a pixel.
void Undifference(uint8_t* s, int64_t count, int spp) {
  // Running sums in registers: a loop through memory would wait on each
  // store before the next load.
  if (spp == 3) {
    uint8_t a = s[0], b = s[1], c = s[2];
    for (int64_t i = 3; i + 2 < count; i += 3) {
      s[i] = a = uint8_t(a + s[i]);
      s[i + 1] = b = uint8_t(b + s[i + 1]);
      s[i + 2] = c = uint8_t(c + s[i + 2]);
    }
    return;
  }
  if (spp == 1) {
    uint8_t a = count > 0 ? s[0] : 0;
    for (int64_t i = 1; i < count; ++i) s[i] = a = uint8_t(a + s[i]);
    return;
  }
  for (int64_t i = spp; i < count; ++i) s[i] = uint8_t(s[i] + s[i - spp]);
}

// The same for 16-bit samples stored in the file's byte order.
void Undifference16(uint8_t* s, int64_t count, int spp, bool big) {
  auto get = [&](int64_t i) { return big ? (s[2 * i] << 8 | s[2 * i + 1]) : (s[2 * i + 1] << 8 | s[2 * i]); };
  for (int64_t i = spp; i < count; ++i) {
    const unsigned v = unsigned(get(i) + get(i - spp)) & 0xFFFF;
    if (big)
      s[2 * i] = uint8_t(v >> 8), s[2 * i + 1] = uint8_t(v);
    else
      s[2 * i] = uint8_t(v), s[2 * i + 1] = uint8_t(v >> 8);
  }
}

// Where the pixel data of a page lie: strips (full-width chunks, one band
// each) or tiles (a band is one row of tiles), in one plane or one plane a
// sample. Old-style JPEG pages are one strip: their interchange stream.
struct Layout {
  bool tiled = false;
  int64_t cw = 0, ch = 0;        // chunk width and rows
  int64_t across = 1, down = 0;  // chunks a band, bands
  int planes = 1, sppc = 1;      // planes, samples a pixel within a plane
  int bps = 8;
  int64_t ChunkRowBytes() const { return (cw * sppc * bps + 7) / 8; }
};

// Decodes the chunks of a page band after band and converts the rows.
class PageDecoder {
 public:
  PageDecoder(TiffIn& in, const TTIFFVars& v, const Layout& lay, const RowConverter& conv, TBitmap* bmp)
      : in_(in), v_(v), lay_(lay), conv_(conv), bmp_(bmp) {}
  ~PageDecoder() { ReleaseLzw(); }
  PageDecoder(const PageDecoder&) = delete;
  PageDecoder& operator=(const PageDecoder&) = delete;

  void Run(TProgressRec& Progress) {
    const int64_t W = v_.Width, H = v_.Height;
    const int spp = v_.SamplesPerPixel, bps = v_.BitsPerSample;
    bandRowBytes_ = (W * lay_.sppc * bps + 7) / 8;
    const int64_t chunkRowBytes = lay_.ChunkRowBytes();
    const int64_t samples = W * spp;
    if (lay_.planes > 1) chunky_.resize(size_t(samples * bps / 8));
    if (bps != 8 && conv_.kind != RowKind::Bilevel) narrow_.resize(size_t(samples));
    // Uncompressed 16-bit gray keeps its high byte (shifted by 4 from
    // "Look@Molli v1.1", whose samples have 12 bits), as this reader always
    // gave it; every other 16-bit page is rounded.
    const bool gray = conv_.kind == RowKind::Gray && spp == 1;
    shift16_ = gray && v_.Software.rfind("Look@Molli v1.1", 0) == 0 ? 4 : gray && v_.Compression == 1 ? 8 : 0;

    Progress.Scale = 100.0 / double(H);
    Progress.Done = 0;
    Progressor prog{Progress};
    bands_.resize(size_t(lay_.planes));
    // Colour JPEG strips decode straight into the bitmap, already in its
    // blue, green, red order: no band, no second pass over the pixels.
    bgr_ = IsJpeg(v_.Compression) && !lay_.tiled && lay_.planes == 1 && conv_.kind == RowKind::Rgb &&
           conv_.alpha == 0 && spp == 3 && bps == 8;
    if (bgr_) {
      for (int64_t b = 0; b < lay_.down; ++b) {
        const int64_t y0 = b * lay_.ch, rows = std::min(lay_.ch, H - y0);
        Open(size_t(b), chunkRowBytes, lay_.ch);
        for (int64_t r0 = 0; r0 < rows; r0 += 16) {
          uint8_t* lines[16];
          const int64_t n = std::min<int64_t>(16, rows - r0);
          for (int64_t r = 0; r < n; ++r) lines[r] = bmp_->Scanline(int(y0 + r0 + r));
          if (!jpeg_)
            for (int64_t r = 0; r < n; ++r) std::memset(lines[r], 0, size_t(W * 3));
          else if (!jpeg_->ReadRows(lines, n))
            throw EInvalidGraphic(kInvalid);
          for (int64_t r = 0; r < n; ++r)
            if (prog.Step()) return;
        }
      }
      return;
    }
    // Fax strips too: each row is decoded into its scanline.
    if (IsCcitt(v_.Compression) && !lay_.tiled && lay_.planes == 1 && conv_.kind == RowKind::Bilevel) {
      const int64_t n = (W + 7) / 8;
      for (int64_t b = 0; b < lay_.down; ++b) {
        const int64_t y0 = b * lay_.ch, rows = std::min(lay_.ch, H - y0);
        Open(size_t(b), chunkRowBytes, rows);
        for (int64_t r = 0; r < rows; ++r) {
          uint8_t* line = bmp_->Scanline(int(y0 + r));
          Rows(line, 1);
          if (conv_.invertBits)
            for (int64_t i = 0; i < n; ++i) line[i] = uint8_t(~line[i]);
          if (prog.Step()) return;
        }
      }
      return;
    }
    if (!lay_.tiled && lay_.planes == 1) {
      // Strips of one plane go through a band of a few rows at a time: a
      // page stored as one big strip never needs a buffer for all of it.
      const int64_t group =
          std::clamp<int64_t>((int64_t(1) << 18) / std::max<int64_t>(bandRowBytes_, 1), 1, lay_.ch);
      std::vector<uint8_t>& band = bands_[0];
      band.resize(size_t(bandRowBytes_ * group));
      for (int64_t b = 0; b < lay_.down; ++b) {
        const int64_t y0 = b * lay_.ch, rows = std::min(lay_.ch, H - y0);
        // A JPEG strip may be coded at full height even when it is the last.
        Open(size_t(b), chunkRowBytes, IsJpeg(v_.Compression) ? lay_.ch : rows);
        for (int64_t r0 = 0; r0 < rows; r0 += group) {
          const int64_t n = std::min(group, rows - r0);
          Rows(band.data(), n);
          for (int64_t r = 0; r < n; ++r) {
            const uint8_t* row = band.data() + r * bandRowBytes_;
            if (Emit(&row, y0 + r0 + r) || prog.Step()) return;
          }
        }
      }
      return;
    }
    if (lay_.tiled) tile_.assign(size_t(chunkRowBytes * lay_.ch), 0);
    std::vector<const uint8_t*> planeRows(size_t(lay_.planes));
    for (int64_t b = 0; b < lay_.down; ++b) {
      const int64_t y0 = b * lay_.ch, rows = std::min(lay_.ch, H - y0);
      for (int p = 0; p < lay_.planes; ++p) {
        std::vector<uint8_t>& band = bands_[size_t(p)];
        band.resize(size_t(bandRowBytes_ * std::min(lay_.ch, H)));  // strips: ch <= H
        for (int64_t c = 0; c < lay_.across; ++c) {
          const size_t idx = size_t((int64_t(p) * lay_.down + b) * lay_.across + c);
          if (!lay_.tiled) {
            Open(idx, chunkRowBytes, IsJpeg(v_.Compression) ? lay_.ch : rows);
            Rows(band.data(), rows);
            continue;
          }
          Open(idx, chunkRowBytes, lay_.ch);
          Rows(tile_.data(), lay_.ch);
          // The tile's columns inside the image into the band.
          const int64_t x0 = c * lay_.cw, cols = std::min(lay_.cw, W - x0);
          const int64_t from = x0 * lay_.sppc * bps / 8, len = (cols * lay_.sppc * bps + 7) / 8;
          for (int64_t r = 0; r < rows; ++r)
            std::memcpy(band.data() + r * bandRowBytes_ + from, tile_.data() + r * chunkRowBytes,
                        size_t(len));
        }
      }
      for (int64_t r = 0; r < rows; ++r) {
        for (int p = 0; p < lay_.planes; ++p)
          planeRows[size_t(p)] = bands_[size_t(p)].data() + r * bandRowBytes_;
        if (Emit(planeRows.data(), y0 + r) || prog.Step()) return;
      }
    }
  }

 private:
  // Converts the row of each plane into bitmap row y; always false (the
  // caller's progress step decides whether to go on).
  bool Emit(const uint8_t* const* planeRows, int64_t y) {
    const int64_t W = v_.Width, samples = W * v_.SamplesPerPixel;
    const int bps = v_.BitsPerSample, sampleBytes = bps / 8, spp = v_.SamplesPerPixel;
    const uint8_t* src = planeRows[0];
    if (lay_.planes > 1) {
      // One sample from each plane, pixel by pixel.
      for (int p = 0; p < lay_.planes; ++p) {
        const uint8_t* s = planeRows[p];
        uint8_t* d = chunky_.data() + p * sampleBytes;
        for (int64_t x = 0; x < W; ++x, s += sampleBytes, d += spp * sampleBytes)
          std::memcpy(d, s, size_t(sampleBytes));
      }
      src = chunky_.data();
    }
    if (bps == 16) {
      for (int64_t i = 0; i < samples; ++i) {
        const unsigned x = in_.big ? (src[2 * i] << 8 | src[2 * i + 1]) : (src[2 * i + 1] << 8 | src[2 * i]);
        // x * 255 / 65535 rounded, which (x + 128) / 257 gives exactly.
        narrow_[size_t(i)] = shift16_ ? uint8_t(std::min(x >> shift16_, 255u)) : uint8_t((x + 128) / 257);
      }
      src = narrow_.data();
    } else if (bps < 8 && conv_.kind != RowKind::Bilevel) {
      SplitSamples(src, narrow_.data(), samples, bps);
      src = narrow_.data();
    }
    conv_(src, bmp_->Scanline(int(y)));
    return false;
  }

  int64_t OffsetOf(size_t i) const {
    const auto& offs = lay_.tiled ? v_.TileOffsets : v_.StripOffsets;
    if (v_.Compression == 6) return i == 0 ? v_.JpegStream : -1;
    return i < offs.size() ? int64_t(std::min<uint64_t>(offs[i], INT64_MAX)) : -1;
  }
  int64_t CountOf(size_t i) const {
    const auto& cnts = lay_.tiled ? v_.TileByteCounts : v_.StripByteCounts;
    if (v_.Compression == 6) return i == 0 ? v_.JpegStreamLength : -1;
    return i < cnts.size() ? int64_t(std::min<uint64_t>(cnts[i], INT64_MAX)) : -1;
  }

  // The chunk's stored bytes (to the stream's end when no count is given),
  // never more than Cap.
  void ReadChunk(size_t i, int64_t cap) {
    int64_t off = OffsetOf(i), count = CountOf(i);
    data_.clear();
    if (off < 0 || off >= in_.Size()) return;
    if (count < 0) count = in_.Size() - off;
    count = std::min({count, in_.Size() - off, cap});
    if (count <= 0) return;
    data_.resize(size_t(count));
    if (!in_.Read(off, data_.data(), count)) data_.clear();
  }

  // Opens chunk i, rows of rowBytes, Rows of them. Its rows are then decoded
  // as they are asked for, but PackBits chunks, which decode whole into a
  // buffer the rows are taken from.
  void Open(size_t i, int64_t rowBytes, int64_t rows) {
    const int comp = v_.Compression;
    rowBytes_ = rowBytes;
    row_ = 0;
    inflater_.reset();
    jpeg_.reset();
    ccitt_.reset();
    ReleaseLzw();
    const int64_t need = rowBytes * rows;
    if (comp == 1) {
      // Read straight from the stream as the rows are asked for.
      rawOff_ = OffsetOf(i);
      rawLeft_ = rawOff_ < 0 || rawOff_ >= in_.Size() ? 0 : in_.Size() - rawOff_;
      if (const int64_t count = CountOf(i); count >= 0) rawLeft_ = std::min(rawLeft_, count);
      return;
    }
    // Compressed data may grow a little over the raw bytes; CCITT rows can
    // be much longer than their bits.
    ReadChunk(i, IsCcitt(comp) ? (lay_.cw * 4 + 64) * rows : need * 4 + 65536);
    if (comp == 8 || comp == 32946) {
      // A chunk of moderate size decodes whole (fast); the rows are then
      // taken from the buffer as PackBits rows are.
      if (need <= kWholeDeflate) {
        if (!deflate_) deflate_ = std::make_unique<TTiffDeflate>();
        whole_.resize(size_t(need));
        if (deflate_->Whole(data_.data(), data_.size(), whole_.data(), whole_.size())) return;
      }
      inflater_ = std::make_unique<TTiffInflater>(data_.data(), data_.size());
      return;
    }
    if (IsJpeg(comp)) {
      // One sample a plane decodes as gray; the buffer holds sppc samples a
      // pixel, which the colour's components always equal (see KindOf).
      const TTiffJpegColor color = lay_.sppc == 1        ? TTiffJpegColor::Gray
                                   : v_.Photometric == 6 ? TTiffJpegColor::YCbCr
                                   : v_.Photometric == 5 ? TTiffJpegColor::Cmyk
                                                         : TTiffJpegColor::Rgb;
      if (TiffJpegComponents(color) != lay_.sppc) throw EInvalidGraphic(kInvalid);
      if (data_.empty()) return;  // no data: black rows
      // Old-style pages repeat subsampled chroma, as the decoders of their
      // time did; newer ones interpolate it, as libjpeg does by default.
      const bool tables = comp == 7 && !v_.JPEGTables.empty();
      jpeg_ = std::make_unique<TTiffJpegReader>();
      if (!jpeg_->Start(tables ? v_.JPEGTables.data() : nullptr, tables ? v_.JPEGTables.size() : 0,
                        data_.data(), data_.size(), color, comp == 7, lay_.cw, rows, bgr_))
        throw EInvalidGraphic(kInvalid);
      return;
    }
    if (comp == 5) return;  // the coder's state starts with the first row
    if (IsCcitt(comp)) {
      ccittStopped_ = false;
      ccitt_ = std::make_unique<TCCITTDecoder>(data_.data(), int64_t(data_.size()), int32_t(lay_.cw),
                                               v_.FillOrder);
      return;
    }
    // PackBits: the whole chunk at once.
    whole_.assign(size_t(need), 0);
    PackBitsUnpack(data_.data(), int64_t(data_.size()), whole_.data(), need);
  }

  void ReleaseLzw() {
    if (lzw_) v_.LZWDecomp(nullptr, 0, 0, lzw_);
    lzw_ = nullptr;
  }

  // The open chunk's next Count rows at dest (zeros where the data end),
  // with the predictor undone.
  void Rows(uint8_t* dest, int64_t count) {
    const int comp = v_.Compression;
    const size_t bytes = size_t(count * rowBytes_);
    if (comp == 1) {
      const int64_t n = std::min<int64_t>(rawLeft_, int64_t(bytes));
      if (n > 0 && !in_.Read(rawOff_, dest, n)) rawLeft_ = 0;
      const int64_t got = rawLeft_ > 0 ? n : 0;
      if (got < int64_t(bytes)) std::memset(dest + got, 0, bytes - size_t(got));
      rawOff_ += got;
      rawLeft_ -= got;
    } else if (inflater_) {
      inflater_->Read(dest, bytes);
    } else if (comp == 5) {
      for (int64_t r = 0; r < count; ++r) {
        const uint8_t* row =
            data_.empty() ? nullptr
                          : v_.LZWDecomp(data_.data(), int32_t(std::min<size_t>(data_.size(), INT32_MAX)),
                                         int32_t(rowBytes_), lzw_);
        if (row)
          std::memcpy(dest + r * rowBytes_, row, size_t(rowBytes_));
        else
          std::memset(dest + r * rowBytes_, 0, size_t(rowBytes_));
      }
    } else if (IsCcitt(comp)) {
      for (int64_t r = 0; r < count; ++r) {
        uint8_t* row = dest + r * rowBytes_;
        if (ccittStopped_ || ccitt_->AtEnd()) {
          // Rows the data do not reach come out black.
          std::memset(row, conv_.invertBits ? 0xFF : 0, size_t(rowBytes_));
          continue;
        }
        const bool ok = comp == 2   ? ccitt_->DecodeHuffman(row)
                        : comp == 3 ? ccitt_->DecodeG3(row, v_.T4Options & 1)
                                    : ccitt_->DecodeG4(row);
        if (!ok && comp != 3) ccittStopped_ = true;
      }
    } else if (IsJpeg(comp)) {
      if (!jpeg_)
        std::memset(dest, 0, bytes);
      else if (!jpeg_->Read(dest, count))
        throw EInvalidGraphic(kInvalid);
    } else {
      std::memcpy(dest, whole_.data() + row_ * rowBytes_, bytes);
    }
    row_ += count;
    if (v_.Predictor != 2 || IsJpeg(comp) || IsCcitt(comp)) return;
    const int64_t samples = lay_.cw * lay_.sppc;
    for (int64_t r = 0; r < count; ++r) {
      if (v_.BitsPerSample == 16)
        Undifference16(dest + r * rowBytes_, samples, lay_.sppc, in_.big);
      else
        Undifference(dest + r * rowBytes_, samples, lay_.sppc);
    }
  }

  TiffIn& in_;
  const TTIFFVars& v_;
  const Layout& lay_;
  const RowConverter& conv_;
  TBitmap* bmp_;
  std::vector<uint8_t> data_, tile_, whole_, chunky_, narrow_;
  int64_t bandRowBytes_ = 0;
  int shift16_ = 0;
  std::vector<std::vector<uint8_t>> bands_;
  // The open chunk.
  int64_t rowBytes_ = 0, row_ = 0, rawOff_ = 0, rawLeft_ = 0;
  bool bgr_ = false;  // colour JPEG decoded in the bitmap's order
  // Deflate chunks up to this size decode whole; a bigger one (a page
  // stored as one strip) streams, so that it needs no buffer for all of it.
  static constexpr int64_t kWholeDeflate = int64_t(8) << 20;
  std::unique_ptr<TTiffInflater> inflater_;
  std::unique_ptr<TTiffDeflate> deflate_;
  std::unique_ptr<TTiffJpegReader> jpeg_;
  std::unique_ptr<TCCITTDecoder> ccitt_;
  bool ccittStopped_ = false;  // a broken row ended the chunk
  void* lzw_ = nullptr;        // the LZW coder's state for the open chunk
};

// The luminance of the background, rounded, white staying 255: gray
// pages show through to it as PNG gray files do.
uint8_t BackgroundGray(TRGB c) { return uint8_t((c.r * 299 + c.g * 587 + c.b * 114 + 500) / 1000); }

void DecodePixels(TiffIn& in, const TTIFFVars& v, const Layout& lay, TBitmap* Bitmap, TProgressRec& Progress,
                  TRGB background) {
  const RowKind kind = KindOf(v);
  // The caller checked the page with Undecodable.
  if (kind == RowKind::None) return;

  RowConverter conv;
  conv.kind = kind;
  conv.width = v.Width;
  conv.spp = v.SamplesPerPixel;
  conv.alpha = kind == RowKind::Palette || kind == RowKind::Bilevel ? 0 : AlphaKind(v);
  conv.bg = background;
  conv.bgGray = BackgroundGray(background);
  // Samples of n bits scale to the full range: v x 255 / (2^n - 1), rounded.
  const int maxSample = v.BitsPerSample < 8 ? (1 << v.BitsPerSample) - 1 : 255;
  for (int i = 0; i < 256; ++i) {
    const int g = (std::min(i, maxSample) * 255 + maxSample / 2) / maxSample;
    conv.grayMap[i] = uint8_t(v.Photometric == 0 ? 255 - g : g);
  }
  if (kind == RowKind::Palette) {
    const size_t n = size_t(1) << v.BitsPerSample;
    for (size_t i = 0; i < n && i < 256; ++i) {
      auto at = [&](size_t k) { return k < v.ColorMap.size() ? uint8_t(v.ColorMap[k] >> 8) : uint8_t(0); };
      conv.pal[i] = TRGB{at(2 * n + i), at(n + i), at(i)};
    }
  }
  const bool whiteIsZero = v.Photometric == 0;
  const bool ccitt = IsCcitt(v.Compression);
  conv.invertBits = (whiteIsZero && !ccitt) || (!whiteIsZero && ccitt);
  if (v.Photometric == 3 && kind == RowKind::Bilevel)
    conv.invertBits = (PaletteTwoColors(v) == tclWhiteBlack) != ccitt;

  PageDecoder(in, v, lay, conv, Bitmap).Run(Progress);
}

}  // namespace

void PackBitsPack(const uint8_t* Src, int32_t Count, std::string& Out) {
  int32_t i = 0;
  while (i < Count) {
    // Length of the run of equal bytes at i.
    int32_t run = 1;
    while (i + run < Count && run < 128 && Src[i + run] == Src[i]) ++run;
    if (run >= 4) {
      Out.push_back(char(uint8_t(1 - run)));
      Out.push_back(char(Src[i]));
      i += run;
      continue;
    }
    // Literal group up to the next run of 4 or 128 bytes.
    int32_t j = i;
    while (j < Count && j - i < 128) {
      if (j + 3 < Count && Src[j] == Src[j + 1] && Src[j] == Src[j + 2] && Src[j] == Src[j + 3]) break;
      ++j;
    }
    Out.push_back(char(uint8_t(j - i - 1)));
    Out.append(reinterpret_cast<const char*>(Src + i), size_t(j - i));
    i = j;
  }
}

int64_t PackBitsUnpack(const uint8_t* Src, int64_t SrcSize, uint8_t* Dest, int64_t Count) {
  int64_t s = 0, d = 0;
  while (d < Count && s < SrcSize) {
    const int8_t n = int8_t(Src[s++]);
    if (n >= 0) {
      const int64_t len = std::min<int64_t>({n + 1, SrcSize - s, Count - d});
      std::memcpy(Dest + d, Src + s, size_t(len));
      s += n + 1;
      d += len;
    } else if (n != -128) {
      if (s >= SrcSize) break;
      const int64_t len = std::min<int64_t>(1 - n, Count - d);
      std::memset(Dest + d, Src[s++], size_t(len));
      d += len;
    }
  }
  return std::min(s, SrcSize);
}

namespace {

// TIFFReadStream on a directory chain already walked.
void ReadPage(TBitmap* Bitmap, TiffIn& in, const std::vector<Ifd>& chain, int32_t& PageCount, bool ParamsOnly,
              TProgressRec& Progress, TIOParamsVals* Params) {
  PageCount = int32_t(std::min<size_t>(chain.size(), INT32_MAX));
  if (!Params) return;
  const int32_t index = Params->TIFF_ImageIndex;
  // A page index past the end (often one left from an earlier file) names
  // itself and the page count.
  if (index < 0 || size_t(index) >= chain.size())
    throw EInvalidGraphic("TIFF page " + std::to_string(index) + " does not exist (the file has " +
                          std::to_string(chain.size()) + (chain.size() == 1 ? " page)" : " pages)"));
  TTIFFVars v = Decode(in, ReadEntries(in, chain[size_t(index)]));

  TIOParamsVals& p = *Params;
  p.Width = int32_t(std::min<int64_t>(v.Width, INT32_MAX));
  p.Height = int32_t(std::min<int64_t>(v.Height, INT32_MAX));
  p.BitsPerSample = v.BitsPerSample;
  p.SamplesPerPixel = v.SamplesPerPixel;
  p.TIFF_Compression = CompressionOf(v);
  if (v.Photometric >= 0 && v.Photometric <= 6)
    p.TIFF_PhotometInterpret = TIOTIFFPhotometInterpret(v.Photometric);
  else if (v.Photometric == 8)
    p.TIFF_PhotometInterpret = ioTIFF_CIELAB;
  p.TIFF_PlanarConf = v.PlanarConf;
  p.Orientation = v.Orientation >= 1 && v.Orientation <= 8 ? v.Orientation : 1;
  p.TIFF_DocumentName = v.DocumentName;
  p.TIFF_ImageDescription = v.ImageDescription;
  p.TIFF_PageName = v.PageName;
  p.TIFF_PageNumber = v.PageNumber;
  p.TIFF_PageCount = v.PageCount;
  const double factor = v.ResolutionUnit == 3 ? 2.54 : 1.0;
  auto trunc32 = [](double x) {
    return int32_t(std::clamp(std::trunc(x), double(INT32_MIN), double(INT32_MAX)));
  };
  p.DpiX = trunc32(v.XResolution * factor);
  p.DpiY = trunc32(v.YResolution * factor);
  if (p.DpiX == 0) p.DpiX = SystemDpiX();
  if (p.DpiY == 0) p.DpiY = SystemDpiY();
  p.TIFF_XPos = trunc32(v.XPosition * factor);
  p.TIFF_YPos = trunc32(v.YPosition * factor);
  p.FreeColorMap();
  if (v.Photometric == 3 && !v.ColorMap.empty() && v.BitsPerSample <= 16) {
    const size_t n = size_t(1) << v.BitsPerSample;
    TRGB* pal = p.AllocColorMap(int32_t(n));
    for (size_t i = 0; i < n; ++i) {
      auto at = [&](size_t k) { return k < v.ColorMap.size() ? uint8_t(v.ColorMap[k] >> 8) : uint8_t(0); };
      pal[i] = TRGB{at(2 * n + i), at(n + i), at(i)};
    }
  }
  if (v.Compression == 5) {
    v.LZWDecomp = p.TIFF_LZWDecompFunc ? p.TIFF_LZWDecompFunc : DefTIFF_LZWDECOMPFUNC;
    if (!v.LZWDecomp) throw EInvalidGraphic(kNoLzw);
  }
  if (ParamsOnly || !Bitmap) return;
  // What has no decoder fails with the reason, never as an empty page.
  if (const std::string why = Undecodable(v); !why.empty()) throw EUnsupportedImage(why);

  // Size checks before allocating: a fixed pixel limit, and no more decoded
  // bytes than the strips (or tiles) present could stand for.
  if (v.Width <= 0 || v.Height <= 0 || v.Width > kTiffMaxPixels || v.Height > kTiffMaxPixels ||
      v.Width * v.Height > kTiffMaxPixels)
    throw EInvalidGraphic(kInvalid);
  Layout lay;
  lay.bps = v.BitsPerSample;
  lay.planes = v.PlanarConf == 2 && v.SamplesPerPixel > 1 ? v.SamplesPerPixel : 1;
  lay.sppc = lay.planes > 1 ? 1 : v.SamplesPerPixel;
  // Tile sizes make a tiled page; some writers list its tiles under
  // StripOffsets and StripByteCounts, as libtiff accepts.
  lay.tiled = v.Compression != 6 && v.TileWidth > 0 && v.TileLength > 0;
  if (lay.tiled && v.TileOffsets.empty()) {
    v.TileOffsets = v.StripOffsets;
    v.TileByteCounts = v.StripByteCounts;
  }
  if (v.Compression == 6) {
    lay.cw = v.Width, lay.ch = v.Height;  // one interchange stream
  } else if (lay.tiled) {
    lay.cw = v.TileWidth, lay.ch = v.TileLength;
    // A tile may overhang the image, within reason: it is decoded whole.
    if (lay.cw > 65536 || lay.ch > 65536 ||
        lay.cw * lay.ch > std::max<int64_t>(4 * v.Width * v.Height, 1 << 20))
      throw EInvalidGraphic(kInvalid);
  } else {
    if (v.StripOffsets.empty()) throw EInvalidGraphic(kInvalid);
    lay.cw = v.Width, lay.ch = v.RowsPerStrip;
  }
  lay.across = (v.Width + lay.cw - 1) / lay.cw;
  lay.down = (v.Height + lay.ch - 1) / lay.ch;
  // Rows must stay within what the row coders count in (32 bits).
  if ((lay.cw * lay.sppc * lay.bps + 7) / 8 > INT32_MAX / 2 ||
      (v.Width * lay.sppc * lay.bps + 7) / 8 > INT32_MAX / 2)
    throw EInvalidGraphic(kInvalid);
  // Every tile must be listed (a missing strip only leaves its rows black).
  if (lay.tiled && int64_t(v.TileOffsets.size()) < lay.across * lay.down * lay.planes)
    throw EInvalidGraphic(kInvalid);

  std::vector<uint64_t> oldJpeg;
  if (v.Compression == 6)
    oldJpeg = {uint64_t(v.JpegStream),
               v.JpegStreamLength < 0 ? uint64_t(in.Size()) : uint64_t(v.JpegStreamLength)};
  const auto& offs = v.Compression == 6 ? std::vector<uint64_t>{oldJpeg[0]}
                     : lay.tiled        ? v.TileOffsets
                                        : v.StripOffsets;
  const auto& cnts = v.Compression == 6 ? std::vector<uint64_t>{oldJpeg[1]}
                     : lay.tiled        ? v.TileByteCounts
                                        : v.StripByteCounts;
  int64_t present = 0;
  for (size_t i = 0; i < offs.size(); ++i) {
    if (offs[i] >= uint64_t(in.Size())) continue;
    const int64_t left = in.Size() - int64_t(offs[i]);
    present += i < cnts.size() ? int64_t(std::min<uint64_t>(cnts[i], uint64_t(left))) : left;
    if (present > in.Size() * 64) break;  // strips may overlap; enough is enough
  }
  const int64_t bitsPerPixel = int64_t(std::max(v.SamplesPerPixel, 1)) * std::max(v.BitsPerSample, 1);
  const int64_t rawBytes = (v.Width * bitsPerPixel + 7) / 8 * v.Height;
  const bool fits = IsCcitt(v.Compression) ? v.Height <= present * 8 + int64_t(offs.size())
                                           : rawBytes <= present * Expansion(v.Compression) + 4096;
  if (!fits) throw EInvalidGraphic(kInvalid);

  const bool bilevel = KindOf(v) == RowKind::Bilevel;
  Bitmap->Allocate(int(v.Width), int(v.Height), bilevel ? pf1bit : pf24bit);
  DecodePixels(in, v, lay, Bitmap, Progress, p.PNG_Background);
}

}  // namespace

void TIFFReadStream(TBitmap* Bitmap, TStream* Stream, int32_t& PageCount, bool ParamsOnly,
                    TProgressRec& Progress, TIOParamsVals* Params) {
  PageCount = 0;
  TiffIn in(Stream);
  const uint64_t first = ReadHeader(in);
  const std::vector<Ifd> chain = WalkChain(in, first);
  ReadPage(Bitmap, in, chain, PageCount, ParamsOnly, Progress, Params);
}

int32_t _EnumTIFFImStream(TStream* Stream) {
  int32_t n = 0;
  TBitmap* none = nullptr;
  TIFFReadStream(none, Stream, n, true, nullpr, nullptr);
  return n;
}

namespace {

// Directory entries of a page being written (little-endian); values over four
// bytes go to the stream at once.
class TagWriter {
 public:
  TagWriter(TStream* s, int64_t base) : s_(s), base_(base) {}
  struct Tag {
    uint16_t tag, type;
    uint32_t count;
    uint8_t value[4];
  };
  std::vector<Tag> tags;

  int64_t Offset() { return s_->Position() - base_; }
  void Align() {
    if (Offset() & 1) {
      const uint8_t z = 0;
      s_->WriteBuffer(&z, 1);
    }
  }
  // Value bytes already in file order.
  void Add(uint16_t tag, uint16_t type, uint32_t count, const std::vector<uint8_t>& bytes) {
    Tag t{tag, type, count, {}};
    if (bytes.size() <= 4) {
      std::memcpy(t.value, bytes.data(), bytes.size());
    } else {
      Align();
      Put32(t.value, uint32_t(Offset()));
      s_->WriteBuffer(bytes.data(), int64_t(bytes.size()));
    }
    tags.push_back(t);
  }
  void Short(uint16_t tag, uint32_t v) { Shorts(tag, {v}); }
  void Shorts(uint16_t tag, std::vector<uint32_t> v) {
    std::vector<uint8_t> b;
    for (uint32_t x : v) b.insert(b.end(), {uint8_t(x), uint8_t(x >> 8)});
    Add(tag, tSHORT, uint32_t(v.size()), b);
  }
  void Long(uint16_t tag, uint32_t v) { Longs(tag, {v}); }
  void Longs(uint16_t tag, std::vector<uint32_t> v) {
    std::vector<uint8_t> b;
    for (uint32_t x : v) b.insert(b.end(), {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)});
    Add(tag, tLONG, uint32_t(v.size()), b);
  }
  void Rational(uint16_t tag, uint32_t num, uint32_t den) {
    std::vector<uint8_t> b;
    for (uint32_t x : {num, den})
      b.insert(b.end(), {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)});
    Add(tag, tRATIONAL, 1, b);
  }
  void Ascii(uint16_t tag, const std::string& s) {
    if (s.empty()) return;
    std::vector<uint8_t> b(s.begin(), s.end());
    b.push_back(0);
    Add(tag, tASCII, uint32_t(b.size()), b);
  }
  // Writes the directory; answers its offset.
  uint32_t WriteIfd(uint32_t next) {
    Align();
    const uint32_t at = uint32_t(Offset());
    std::stable_sort(tags.begin(), tags.end(), [](const Tag& a, const Tag& b) { return a.tag < b.tag; });
    std::vector<uint8_t> b;
    b.insert(b.end(), {uint8_t(tags.size()), uint8_t(tags.size() >> 8)});
    for (const Tag& t : tags) {
      b.insert(b.end(), {uint8_t(t.tag), uint8_t(t.tag >> 8), uint8_t(t.type), uint8_t(t.type >> 8)});
      b.insert(b.end(),
               {uint8_t(t.count), uint8_t(t.count >> 8), uint8_t(t.count >> 16), uint8_t(t.count >> 24)});
      b.insert(b.end(), t.value, t.value + 4);
    }
    b.insert(b.end(), {uint8_t(next), uint8_t(next >> 8), uint8_t(next >> 16), uint8_t(next >> 24)});
    s_->WriteBuffer(b.data(), int64_t(b.size()));
    return at;
  }
  static void Put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = uint8_t(v >> 24);
  }

 private:
  TStream* s_;
  int64_t base_;
};

void WriteU32At(TStream* s, int64_t pos, uint32_t v) {
  uint8_t b[4];
  TagWriter::Put32(b, v);
  s->Seek(pos, soBeginning);
  s->WriteBuffer(b, 4);
}

// Where the pages of a TTIFFPageWriter go: the file's start, the link to set
// to the next page's directory (from the start), and the pages so far.
struct TiffAppend {
  int64_t base = 0, link = 0;
  int32_t pages = 0;
};

// TIFFWriteStream; with append, an insert goes after the page append
// describes instead of walking the chain, and append then describes the page
// written.
int32_t WritePage(TStream* Stream, bool Insert, TBitmap* Bitmap, TIOParamsVals& Params,
                  TProgressRec& Progress, TiffAppend* append) {
  const int64_t base = append && Insert ? append->base : Stream->Position();
  const bool bilevel = Params.BitsPerSample == 1 && Params.SamplesPerPixel == 1;

  // The source pixels: a 1-bit or a 24-bit bitmap. A two-color image of
  // other colors than black and white keeps them in a two-entry palette.
  std::unique_ptr<TBitmap> owned;
  const TBitmap* src = Bitmap;
  TRGB pal2[2] = {{0, 0, 0}, {255, 255, 255}};
  if (bilevel && Bitmap->PixelFormat() != pf1bit) {
    const TBitmap* b24 = Bitmap;
    std::unique_ptr<TBitmap> wide;
    if (Bitmap->PixelFormat() != pf24bit) {
      wide = std::make_unique<TBitmap>(1, 1, pf24bit);
      wide->Assign(Bitmap);
      wide->SetPixelFormat(pf24bit);
      b24 = wide.get();
    }
    TRGB c0, c1;
    owned = _ConvertTo1bit(b24, c0, c1);
    if (owned) pal2[0] = c0, pal2[1] = c1;
    if (!owned) {
      owned = std::make_unique<TBitmap>(1, 1, pf24bit);
      owned->Assign(b24);
      _ConvertToBWOrdered(owned.get(), nullpr);
    }
    src = owned.get();
  } else if (!bilevel && Bitmap->PixelFormat() != pf24bit) {
    owned = std::make_unique<TBitmap>(1, 1, pf24bit);
    if (Bitmap->PixelFormat() == pf1bit) {
      _Conv1to24(Bitmap, owned.get(), nullpr);
    } else {
      owned->Assign(Bitmap);
      owned->SetPixelFormat(pf24bit);
    }
    src = owned.get();
  }
  const int32_t W = src->Width(), H = src->Height();
  const bool cmyk = !bilevel && Params.TIFF_PhotometInterpret == ioTIFF_CMYK;

  // Compression and predictor.
  const TTIFFLZWCompFunc lzw = Params.TIFF_LZWCompFunc ? Params.TIFF_LZWCompFunc : DefTIFF_LZWCOMPFUNC;
  int compression = 1;
  bool twoD = false;
  switch (Params.TIFF_Compression) {
    case ioTIFF_CCITT1D:
      compression = 2;
      break;
    case ioTIFF_G3FAX1D:
      compression = 3;
      break;
    case ioTIFF_G3FAX2D:
      compression = 3, twoD = true;
      break;
    case ioTIFF_G4FAX:
      compression = 4;
      break;
    case ioTIFF_LZW:
      compression = lzw ? 5 : 1;
      break;
    case ioTIFF_PACKBITS:
      compression = 32773;
      break;
    default:
      break;
  }
  if (compression >= 2 && compression <= 4 && !bilevel) compression = 1;
  const bool predictor = compression == 5 && !bilevel && !cmyk && Params.BitsPerSample == 8 &&
                         (Params.SamplesPerPixel == 1 || Params.SamplesPerPixel == 3);

  // Where the page goes.
  int32_t pages = 0;
  int64_t slot = 0;       // link that will point at the new directory
  uint32_t nextLink = 0;  // what the new directory links to
  if (Insert && append) {
    pages = append->pages;
    slot = append->link;
    Stream->Seek(0, soEnd);
  } else if (Insert) {
    TiffIn in(Stream);
    uint8_t h[2] = {};
    in.Read(0, h, 2);
    if (!(h[0] == 'I' && h[1] == 'I')) throw EInvalidGraphic(kIntelOnly);
    const uint64_t first = ReadHeader(in);
    RefuseBigTiff(in);
    const std::vector<Ifd> chain = WalkChain(in, first);
    pages = int32_t(chain.size());
    const int32_t at = std::max(Params.TIFF_ImageIndex, 0);
    if (chain.empty()) {
      slot = 4;
    } else if (at < pages) {
      slot = at == 0 ? 4 : chain[size_t(at - 1)].linkPos;
      nextLink = uint32_t(chain[size_t(at)].offset);
    } else {
      slot = chain.back().linkPos;
    }
    Stream->Seek(0, soEnd);
  } else {
    const uint8_t zeros[8] = {};
    Stream->WriteBuffer(zeros, 8);
  }

  TagWriter tw(Stream, base);
  tw.Long(256, uint32_t(W));
  tw.Long(257, uint32_t(H));
  if (bilevel)
    tw.Short(258, 1);
  else
    tw.Longs(258, std::vector<uint32_t>(cmyk ? 4 : 3, 8));
  tw.Short(259, uint32_t(compression));
  // CCITT codes white runs as zero bits, so a coded bilevel page is
  // WhiteIsZero; other bilevel pages store white as 1 (BlackIsZero), or are
  // palette pages when their two colors are not black and white.
  const bool ccittOut = compression >= 2 && compression <= 4;
  const bool palette2 = bilevel && !ccittOut && TwoColorLoad(pal2[0], pal2[1]) != tclBlackWhite;
  tw.Short(262, palette2 ? 3 : bilevel ? (ccittOut ? 0 : 1) : cmyk ? 5 : 2);
  tw.Ascii(269, Params.TIFF_DocumentName);
  tw.Ascii(270, Params.TIFF_ImageDescription);
  tw.Align();
  const int64_t dataStart = tw.Offset();
  tw.Long(273, uint32_t(dataStart));

  // Pixel rows, top first.
  const int32_t spp = bilevel ? 1 : cmyk ? 4 : 3;
  const int64_t rowBytes = bilevel ? (int64_t(W) + 7) / 8 : int64_t(W) * spp;
  std::vector<uint8_t> row(size_t(rowBytes) + 1);
  std::vector<uint8_t> ref;
  std::string packed;
  void* state = nullptr;
  int32_t pendingBits = 0;
  uint8_t pendingByte = 0;
  bool aborted = false;
  for (int32_t y = 0; y < H; ++y) {
    ReportProgress(Progress, int(int64_t(y) * 100 / H));
    const uint8_t* s = src->Scanline(y);
    if (bilevel) {
      std::memcpy(row.data(), s, size_t(rowBytes));
    } else if (cmyk) {
      const TRGB* p = reinterpret_cast<const TRGB*>(s);
      uint8_t* d = row.data();
      for (int32_t x = 0; x < W; ++x, d += 4) {
        const int mx = std::max({p[x].r, p[x].g, p[x].b});
        const int m = mx ? mx : 1;
        d[0] = uint8_t(255 - p[x].r * 255 / m);
        d[1] = uint8_t(255 - p[x].g * 255 / m);
        d[2] = uint8_t(255 - p[x].b * 255 / m);
        d[3] = uint8_t(255 - mx);
      }
    } else {
      const TRGB* p = reinterpret_cast<const TRGB*>(s);
      uint8_t* d = row.data();
      if (predictor) {
        d[0] = p[0].r, d[1] = p[0].g, d[2] = p[0].b;
        for (int32_t x = 1; x < W; ++x) {
          d[3 * x] = uint8_t(p[x].r - p[x - 1].r);
          d[3 * x + 1] = uint8_t(p[x].g - p[x - 1].g);
          d[3 * x + 2] = uint8_t(p[x].b - p[x - 1].b);
        }
      } else {
        for (int32_t x = 0; x < W; ++x, d += 3) d[0] = p[x].r, d[1] = p[x].g, d[2] = p[x].b;
      }
    }
    switch (compression) {
      case 2:
        CCITTHuffmanPutLine(row.data(), W, Stream);
        break;
      case 3:
        if (twoD)
          CCITTHuffmanPutLineG32D(row.data(), W, Stream, ref, pendingBits, pendingByte);
        else
          CCITTHuffmanPutLineG3(row.data(), W, Stream, pendingBits, pendingByte);
        break;
      case 4:
        CCITTHuffmanPutLineG4(row.data(), W, Stream, ref, pendingBits, pendingByte);
        break;
      case 5:
        lzw(row.data(), int32_t(rowBytes), Stream, state);
        break;
      case 32773:
        packed.clear();
        PackBitsPack(row.data(), int32_t(rowBytes), packed);
        Stream->WriteBuffer(packed.data(), int64_t(packed.size()));
        break;
      default:
        Stream->WriteBuffer(row.data(), rowBytes);
        break;
    }
    if (Progress.Aborting && *Progress.Aborting) {
      aborted = true;
      break;
    }
  }
  // Final calls end the code streams (and release the LZW state).
  if (compression == 3)
    (twoD ? CCITTHuffmanPutLineG32D(nullptr, W, Stream, ref, pendingBits, pendingByte)
          : CCITTHuffmanPutLineG3(nullptr, W, Stream, pendingBits, pendingByte));
  else if (compression == 4)
    CCITTHuffmanPutLineG4(nullptr, W, Stream, ref, pendingBits, pendingByte);
  else if (compression == 5 && state)
    lzw(nullptr, 0, Stream, state);
  if (aborted) return 0;
  const int64_t dataBytes = tw.Offset() - dataStart;

  tw.Short(277, uint32_t(spp));
  tw.Long(278, uint32_t(H));
  tw.Long(279, uint32_t(dataBytes));
  if (predictor) tw.Short(317, 2);
  tw.Rational(282, uint32_t(std::max(Params.DpiX, 0)), 1);
  tw.Rational(283, uint32_t(std::max(Params.DpiY, 0)), 1);
  tw.Ascii(285, Params.TIFF_PageName);
  auto pos = [](int32_t v) { return uint32_t(std::clamp<int64_t>(int64_t(v) * 10000, 0, UINT32_MAX)); };
  tw.Rational(286, pos(Params.TIFF_XPos), 10000);
  tw.Rational(287, pos(Params.TIFF_YPos), 10000);
  if (compression == 3) tw.Long(292, twoD ? 1 : 0);
  if (palette2)
    tw.Shorts(320, {pal2[0].r * 257u, pal2[1].r * 257u, pal2[0].g * 257u, pal2[1].g * 257u, pal2[0].b * 257u,
                    pal2[1].b * 257u});
  tw.Short(296, 2);
  if (Params.TIFF_PageNumber != 0 || Params.TIFF_PageCount != 0)
    tw.Shorts(297, {uint32_t(uint16_t(Params.TIFF_PageNumber)), uint32_t(uint16_t(Params.TIFF_PageCount))});

  const uint32_t ifd = tw.WriteIfd(nextLink);
  const int64_t end = Stream->Position();
  if (Insert) {
    WriteU32At(Stream, base + slot, ifd);
  } else {
    const uint8_t h[8] = {
        'I', 'I', 42, 0, uint8_t(ifd), uint8_t(ifd >> 8), uint8_t(ifd >> 16), uint8_t(ifd >> 24)};
    Stream->Seek(base, soBeginning);
    Stream->WriteBuffer(h, 8);
  }
  Stream->Seek(end, soBeginning);
  if (append) {
    append->base = base;
    append->link = int64_t(ifd) + 2 + 12 * int64_t(tw.tags.size());
    append->pages = Insert ? pages + 1 : 1;
  }
  return Insert ? pages + 1 : 1;
}

}  // namespace

int32_t TIFFWriteStream(TStream* Stream, bool Insert, TBitmap* Bitmap, TIOParamsVals& Params,
                        TProgressRec& Progress) {
  return WritePage(Stream, Insert, Bitmap, Params, Progress, nullptr);
}

int32_t _DeleteTIFFImStream(TStream* Stream, int32_t Index) {
  const int64_t base = Stream->Position();
  TiffIn in(Stream);
  const uint64_t first = ReadHeader(in);
  RefuseBigTiff(in);
  const std::vector<Ifd> chain = WalkChain(in, first);
  const int32_t pages = int32_t(chain.size());
  if (Index < 0 || Index >= pages) {
    Stream->Seek(base, soBeginning);
    return pages;
  }
  std::vector<uint8_t> out;
  auto put16 = [&](std::vector<uint8_t>& v, size_t at, uint32_t x) {
    if (in.big)
      v[at] = uint8_t(x >> 8), v[at + 1] = uint8_t(x);
    else
      v[at] = uint8_t(x), v[at + 1] = uint8_t(x >> 8);
  };
  auto put32 = [&](std::vector<uint8_t>& v, size_t at, uint32_t x) {
    if (in.big) {
      put16(v, at, x >> 16), put16(v, at + 2, x & 0xFFFF);
    } else {
      put16(v, at, x & 0xFFFF), put16(v, at + 2, x >> 16);
    }
  };
  auto align = [&] {
    if (out.size() & 1) out.push_back(0);
  };
  // Copies len bytes from off to the end of out; answers their new offset.
  // A range copied before is shared, not copied again (strips may all point
  // at the same data), and the data copied in all never exceed the input:
  // the rebuilt file is at most the input plus its directories.
  std::map<std::pair<int64_t, int64_t>, uint32_t> copied;
  int64_t budget = in.Size();
  auto copy = [&](int64_t off, int64_t len) -> uint32_t {
    len = std::clamp<int64_t>(len, 0, std::max<int64_t>(in.Size() - off, 0));
    if (auto it = copied.find({off, len}); it != copied.end()) return it->second;
    if (len > budget) throw EInvalidGraphic(kInvalid);
    budget -= len;
    align();
    const uint32_t at = uint32_t(out.size());
    copied[{off, len}] = at;
    out.resize(out.size() + size_t(len));
    if (len > 0 && !in.Read(off, out.data() + at, len)) std::memset(out.data() + at, 0, size_t(len));
    return at;
  };
  out.resize(8);
  in.Read(0, out.data(), 4);
  size_t link = 4;
  put32(out, link, 0);
  for (int32_t i = 0; i < pages; ++i) {
    if (i == Index) continue;
    std::vector<Entry> entries = ReadEntries(in, chain[size_t(i)]);
    // Strip or tile data, with their new offsets.
    std::vector<std::vector<uint32_t>> moved(entries.size());
    for (const auto& tags : {std::pair<uint16_t, uint16_t>{273, 279}, {324, 325}}) {
      const uint16_t offTag = tags.first, cntTag = tags.second;
      auto fo = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.tag == offTag; });
      if (fo == entries.end()) continue;
      auto fc = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.tag == cntTag; });
      std::vector<uint64_t> offs, cnts;
      if (!Numbers(in, *fo, offs)) continue;
      if (fc != entries.end()) Numbers(in, *fc, cnts);
      auto& mv = moved[size_t(fo - entries.begin())];
      for (size_t k = 0; k < offs.size(); ++k) {
        const int64_t off = int64_t(std::min<uint64_t>(offs[k], uint64_t(in.Size())));
        const int64_t len =
            k < cnts.size() ? int64_t(std::min<uint64_t>(cnts[k], uint64_t(in.Size()))) : in.Size() - off;
        mv.push_back(copy(off, len));
      }
    }
    std::vector<uint8_t> ifd(2 + 12 * entries.size() + 4);
    size_t kept = 0;
    for (size_t k = 0; k < entries.size(); ++k) {
      Entry e = entries[k];
      uint8_t* p = ifd.data() + 2 + 12 * kept;
      if (!moved[k].empty()) {
        e.type = tLONG;
        e.count = uint32_t(moved[k].size());
        std::vector<uint8_t> vals(moved[k].size() * 4);
        for (size_t j = 0; j < moved[k].size(); ++j) put32(vals, 4 * j, moved[k][j]);
        if (vals.size() <= 4) {
          std::memcpy(e.raw, vals.data(), 4);
        } else {
          align();
          const size_t at = out.size();
          out.insert(out.end(), vals.begin(), vals.end());
          std::vector<uint8_t> r(4);
          put32(r, 0, uint32_t(at));
          std::memcpy(e.raw, r.data(), 4);
        }
      } else if (e.Bytes() > 4) {
        const int64_t off = in.U32(e.raw);
        if (TypeSize(e.type) == 0 || off + e.Bytes() > in.Size())
          continue;  // value outside the file: dropped
        std::vector<uint8_t> r(4);
        put32(r, 0, copy(off, e.Bytes()));
        std::memcpy(e.raw, r.data(), 4);
      }
      put16(ifd, 2 + 12 * kept, e.tag);
      put16(ifd, 2 + 12 * kept + 2, e.type);
      put32(ifd, 2 + 12 * kept + 4, e.count);
      std::memcpy(p + 8, e.raw, 4);
      ++kept;
    }
    ifd.resize(2 + 12 * kept + 4);
    put16(ifd, 0, uint32_t(kept));
    put32(ifd, 2 + 12 * kept, 0);
    align();
    const uint32_t at = uint32_t(out.size());
    put32(out, link, at);
    out.insert(out.end(), ifd.begin(), ifd.end());
    link = at + 2 + 12 * kept;
  }
  Stream->Seek(base, soBeginning);
  Stream->SetSize(base);
  Stream->WriteBuffer(out.data(), int64_t(out.size()));
  return pages;
}

// ---------------------------------------------------------------------------
// Whole multi-page files

struct TTIFFPageIndex::Impl {
  explicit Impl(TStream* s) : in(s) {}
  TiffIn in;
  std::vector<Ifd> chain;
};

TTIFFPageIndex::TTIFFPageIndex(TStream* Stream) : d_(std::make_unique<Impl>(Stream)) {
  d_->chain = WalkChain(d_->in, ReadHeader(d_->in));
}

TTIFFPageIndex::~TTIFFPageIndex() = default;

int32_t TTIFFPageIndex::Count() const { return int32_t(std::min<size_t>(d_->chain.size(), INT32_MAX)); }

void TTIFFPageIndex::Read(int32_t Index, TBitmap* Bitmap, bool ParamsOnly, TProgressRec& Progress,
                          TIOParamsVals& Params) {
  Params.TIFF_ImageIndex = Index;
  int32_t pages = 0;
  ReadPage(Bitmap, d_->in, d_->chain, pages, ParamsOnly, Progress, &Params);
}

bool TTIFFPageWriter::Add(TBitmap* Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  TiffAppend at{base_, link_, pages_};
  if (WritePage(stream_, pages_ > 0, Bitmap, Params, Progress, &at) == 0) return false;
  base_ = at.base;
  link_ = at.link;
  pages_ = at.pages;
  return true;
}

}  // namespace korvane
