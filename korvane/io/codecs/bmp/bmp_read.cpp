// BMP, ICO and CUR reading.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "korvane/foundations/host/winsys.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/io/codecs/bilevel.h"
#include "korvane/io/codecs/bmp/bmp_codec.h"
#include "korvane/io/codecs/checked_reader.h"
#include "korvane/io/codecs/unsupported.h"
#include "korvane/view/system_dpi.h"

namespace korvane {

namespace {

constexpr const char* kBadBMP = "unrecognized BMP";
constexpr const char* kBadICO = "unrecognized ICO";
constexpr const char* kBadCUR = "unrecognized CUR";

// An RLE bitmap can describe many pixels per stored byte (runs of 255, row
// skips); past this ratio its header is taken as lying about the size.
// Real files stay far below it: a row of one color costs 2 bytes per 255
// pixels plus the end-of-line code.
constexpr int64_t kMaxPixelsPerRLEByte = 1024;

// Pixels per metre to dots per inch; 0 (or less) reads as the screen's.
int DpiFromPPM(int32_t ppm, bool y) {
  if (ppm < 1) return y ? SystemDpiY() : SystemDpiX();
  return int(std::lround(double(ppm) / 100.0 * 2.54));
}

void SetProgressUnits(TProgressRec& p, int units) {
  p.Scale = units > 0 ? 100.0 / units : 0;
  p.Done = 0;
}
// Reports the units done so far; true when the caller asked to stop.
bool StepProgress(TProgressRec& p, int done) {
  p.Done = done;
  ReportProgress(p, int(done * p.Scale));
  return AbortRequested(p);
}

// Where decoded rows go: stored row i (0 = first stored) lands on bitmap row
// i for top-down images, height - 1 - i otherwise.
struct RowTarget {
  uint8_t* row0 = nullptr;
  ptrdiff_t stride = 0;
  int h = 0;
  bool topDown = false;
  uint8_t* Row(int stored) const { return row0 + ptrdiff_t(topDown ? stored : h - 1 - stored) * stride; }
};

RowTarget MakeTarget(TBitmap* bmp, bool topDown) {
  RowTarget t;
  t.row0 = bmp->Scanline(0);
  t.stride = bmp->Height() > 1 ? bmp->Scanline(1) - t.row0 : 0;
  t.h = bmp->Height();
  t.topDown = topDown;
  return t;
}

// Decodes RLE8 or RLE4 data into a 24-bit bitmap through a 16- or 256-entry
// palette. Runs and moves that leave the row or the bitmap are clipped;
// decoding stops at the end-of-bitmap code, when the rows are used up, on
// abort, or at the end of the data.
void DecodeRLE(const uint8_t* d, size_t n, bool rle4, const std::vector<TRGB>& pal, const RowTarget& t, int w,
               TProgressRec& progress) {
  size_t i = 0;
  int x = 0, y = 0;
  auto paint = [&](int k, uint8_t index) {
    if (x + k < w) reinterpret_cast<TRGB*>(t.Row(y))[x + k] = pal[index];
  };
  while (y < t.h && i + 2 <= n) {
    const uint8_t c = d[i], v = d[i + 1];
    i += 2;
    if (c > 0) {
      if (x < w) {
        if (rle4) {
          const uint8_t hi = v >> 4, lo = v & 15;
          for (int k = 0; k < c; ++k) paint(k, (k & 1) ? lo : hi);
        } else {
          TRGB* row = reinterpret_cast<TRGB*>(t.Row(y));
          std::fill(row + x, row + std::min(w, x + c), pal[v]);
        }
      }
      x = std::min(w, x + c);
    } else if (v == 0) {  // end of line
      x = 0;
      ++y;
      if (StepProgress(progress, y)) return;
    } else if (v == 1) {  // end of bitmap
      return;
    } else if (v == 2) {  // move right and up
      if (i + 2 > n) return;
      x = std::min(w, x + d[i]);
      y += d[i + 1];
      i += 2;
    } else {  // absolute run of v values
      const size_t bytes = rle4 ? (size_t(v) + 1) / 2 : v;
      const size_t avail = std::min(bytes, n - i);
      const int count = rle4 ? int(std::min<size_t>(v, avail * 2)) : int(avail);
      if (x < w) {
        for (int k = 0; k < count; ++k) {
          uint8_t index = rle4 ? ((k & 1) ? d[i + k / 2] & 15 : d[i + k / 2] >> 4) : d[i + k];
          paint(k, index);
        }
      }
      x = std::min(w, x + v);
      i += bytes + (bytes & 1);
    }
  }
}

// Uncompressed rows: each stored row goes through the decoder (or is copied
// for 24 bits, and for 1 bit into a 1-bit bitmap) into its bitmap row. The
// data were checked to hold every row but possibly the last row's padding.
void ReadRows(TCheckedReader& in, const TDIBInfo& info, TBitmap* bmp, bool invert, TProgressRec& progress) {
  const bool packed = bmp->PixelFormat() == pf1bit;
  const int w = info.Width, h = info.Height;
  const RowTarget t = MakeTarget(bmp, info.TopDown);
  const size_t rowBytes = info.RowBytes;
  const size_t used = (size_t(w) * size_t(info.BitCount) + 7) / 8;
  TStream* s = in.Stream();
  std::vector<uint8_t> buf(rowBytes);
  // Narrow bit-field channels scale to the full range (5-bit 31 is 255).
  TDIBRowDecoder dec(info, dcsRound);
  const uint8_t flip = invert ? 0xFF : 0x00;
  for (int i = 0; i < h; ++i) {
    if (StepProgress(progress, i)) return;
    uint8_t* dst = t.Row(i);
    // The last row may lack its padding.
    const size_t want = i + 1 < h ? rowBytes : used;
    if (info.BitCount == 24) {
      if (s->Read(dst, int64_t(want)) != int64_t(want)) in.Fail();
      if (want < rowBytes && i + 1 < h) s->Seek(int64_t(rowBytes - want), soCurrent);
      continue;
    }
    if (s->Read(buf.data(), int64_t(want)) != int64_t(want)) in.Fail();
    if (packed) {
      for (size_t k = 0; k < used; ++k) dst[k] = buf[k] ^ flip;
    } else {
      dec.Decode(buf.data(), 0, w, reinterpret_cast<TRGB*>(dst));
    }
  }
  StepProgress(progress, h);
}

// Reads an uncompressed image's rows when the data hold them; false (no
// pixels) for a depth the decoder does not take.
bool Decodable(const TDIBInfo& info, uint32_t compression) {
  switch (info.BitCount) {
    case 1:
    case 4:
    case 8:
    case 24:
      return compression == 0;
    case 16:
    case 32:
      return (compression == 0 || compression == 3) && DIBMaskValid(info.RedMask, info.BitCount) &&
             DIBMaskValid(info.GreenMask, info.BitCount) && DIBMaskValid(info.BlueMask, info.BitCount);
    default:
      return false;
  }
}

// The table a 1/4/8-bit decoder needs: 2^bits entries, those the file does
// not give black, so that any index reads inside it.
std::vector<TRGB> FullPalette(const TRGB* pal, int count, int bits) {
  std::vector<TRGB> full(size_t(1) << std::min(bits, 8), TRGB{0, 0, 0});
  for (int i = 0; i < count && i < int(full.size()); ++i) full[size_t(i)] = pal[i];
  return full;
}

}  // namespace

void BMPReadStream(TStream* Stream, TBitmap* Bitmap, int64_t DataSize, TIOParamsVals& Params,
                   TProgressRec& Progress, bool ParamsOnly) {
  TCheckedReader in(Stream, kBadBMP);
  const int64_t start = in.Position();
  uint8_t fh[14];
  in.Read(fh, 14);
  if (LE16(fh) != 0x4D42) in.Fail();
  const uint32_t fileSize = LE32(fh + 2);
  const uint32_t bitsOffset = LE32(fh + 10);
  if (DataSize < 1 && fileSize != 0) DataSize = fileSize;

  const uint32_t hsize = in.U32();
  in.Skip(-4);
  Params.FreeColorMap();

  TDIBInfo info;
  uint32_t compression = 0, imageSize = 0;
  int32_t height = 0;
  if (hsize == 12) {
    uint8_t h[12];
    in.Read(h, 12);
    Params.BMP_Version = ioBMP_BMOS2V1;
    info.Width = LE16(h + 4);
    height = LE16(h + 6);
    info.BitCount = LE16(h + 10);
    Params.DpiX = SystemDpiX();
    Params.DpiY = SystemDpiY();
    if (info.BitCount >= 1 && info.BitCount <= 8) {
      const int count = 1 << info.BitCount;
      std::vector<uint8_t> raw(size_t(count) * 3);
      in.Read(raw.data(), int64_t(raw.size()));
      TRGB* map = Params.AllocColorMap(count);
      for (int i = 0; i < count; ++i) map[i] = TRGB{raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]};
    }
  } else {
    if (hsize < 16) in.Fail();
    uint8_t h[64] = {};
    in.Read(h, std::min<uint32_t>(hsize, 64));
    if (hsize > 64) in.Skip(hsize - 64);
    Params.BMP_Version = hsize == 64 ? ioBMP_BMOS2V2 : hsize == 40 ? ioBMP_BM3 : ioBMP_BM;
    const int32_t w = int32_t(LE32(h + 4));
    height = int32_t(LE32(h + 8));
    info.Width = w;
    info.BitCount = LE16(h + 14);
    compression = LE32(h + 16);
    imageSize = LE32(h + 20);
    Params.DpiX = DpiFromPPM(int32_t(LE32(h + 24)), false);
    Params.DpiY = DpiFromPPM(int32_t(LE32(h + 28)), true);
    const uint32_t clrUsed = LE32(h + 32);
    if (compression == 3) {
      // Headers of 52 bytes and more carry the masks; the 40-byte one is
      // followed by them.
      if (hsize >= 52) {
        info.RedMask = LE32(h + 40), info.GreenMask = LE32(h + 44), info.BlueMask = LE32(h + 48);
      } else {
        info.RedMask = in.U32(), info.GreenMask = in.U32(), info.BlueMask = in.U32();
      }
    }
    uint64_t count = clrUsed;
    if (count == 0 && info.BitCount >= 1 && info.BitCount <= 8) count = uint64_t(1) << info.BitCount;
    // A table of more than 256 entries keeps its first 256.
    const int kept = int(std::min<uint64_t>(count, 256));
    if (kept > 0) {
      std::vector<uint8_t> raw(size_t(kept) * 4);
      in.Read(raw.data(), int64_t(raw.size()));
      TRGB* map = Params.AllocColorMap(kept);
      for (int i = 0; i < kept; ++i) map[i] = TRGB{raw[4 * i], raw[4 * i + 1], raw[4 * i + 2]};
      if (bitsOffset == 0 && count > uint64_t(kept)) in.Skip(int64_t(count - uint64_t(kept)) * 4);
    }
  }
  if (info.BitCount == 16 && compression != 3) {
    info.RedMask = 0x7C00, info.GreenMask = 0x03E0, info.BlueMask = 0x001F;
  } else if (info.BitCount == 32 && compression != 3) {
    info.RedMask = 0xFF0000, info.GreenMask = 0x00FF00, info.BlueMask = 0x0000FF;
  }
  Params.BMP_Compression = (compression == 1 || compression == 2) ? ioBMP_RLE : ioBMP_UNCOMPRESSED;

  if (info.Width <= 0 || height == 0 || height == INT32_MIN) in.Fail();
  info.TopDown = height < 0;
  info.Height = height < 0 ? -height : height;
  if (int64_t(info.Width) * info.Height > kMaxBMPPixels) in.Fail();
  Params.Width = info.Width;
  Params.Height = info.Height;

  switch (info.BitCount) {
    case 1:
    case 4:
    case 8:
      Params.BitsPerSample = info.BitCount;
      Params.SamplesPerPixel = 1;
      break;
    case 16:
      Params.BitsPerSample = 5;
      Params.SamplesPerPixel = 3;
      break;
    case 24:
    case 32:
      Params.BitsPerSample = 8;
      Params.SamplesPerPixel = 3;
      break;
    default:
      break;
  }

  if (bitsOffset != 0) in.SeekTo(start + bitsOffset);
  if (ParamsOnly) return;

  // Length of the pixel data: what the known size leaves, else the header's
  // image size, never more than the stream holds.
  const int64_t consumed = in.Position() - start;
  int64_t dataLen = DataSize > 0 ? DataSize - consumed : int64_t(imageSize);
  if (dataLen <= 0 || dataLen > in.Remaining()) dataLen = in.Remaining();

  const int w = info.Width, h = info.Height;
  const bool rle = (compression == 1 && info.BitCount == 8) || (compression == 2 && info.BitCount == 4);
  const bool plain = !rle && Decodable(info, compression);
  // What has no decoder fails with the reason rather than loading as an
  // empty picture.
  if (!rle && !plain) {
    const bool knownDepth = info.BitCount == 1 || info.BitCount == 4 || info.BitCount == 8 ||
                            info.BitCount == 16 || info.BitCount == 24 || info.BitCount == 32;
    if (!knownDepth)
      throw EUnsupportedImage("BMP images of " + std::to_string(info.BitCount) +
                              " bits per pixel are not supported");
    if (compression == 3 && (info.BitCount == 16 || info.BitCount == 32))
      throw EUnsupportedImage("BMP bit-field masks of this file are not supported");
    throw EUnsupportedImage("BMP compression " + std::to_string(compression) + " is not supported at " +
                            std::to_string(info.BitCount) + " bits per pixel");
  }
  info.RowBytes = size_t(((uint64_t(info.BitCount) * uint64_t(w) + 31) / 32) * 4);
  if (plain) {
    const uint64_t lastRow = (uint64_t(w) * uint64_t(info.BitCount) + 7) / 8;
    if (uint64_t(info.RowBytes) * uint64_t(h - 1) + lastRow > uint64_t(in.Remaining())) in.Fail();
  } else if (int64_t(w) * h > std::max<int64_t>(dataLen, 1) * kMaxPixelsPerRLEByte) {
    in.Fail();
  }

  const int bits = info.BitCount;
  if (bits >= 1 && bits <= 8) info.Palette = FullPalette(Params.ColorMap, Params.ColorMapCount, bits);

  const TTwoColorLoad two = bits == 1 ? TwoColorLoad(info.Palette[0], info.Palette[1]) : tclColors;
  const bool mono = bits == 1 && two != tclColors;
  Bitmap->Allocate(w, h, mono ? pf1bit : pf24bit);
  SetProgressUnits(Progress, h);
  if (plain) {
    ReadRows(in, info, Bitmap, two == tclWhiteBlack, Progress);
  } else if (rle) {
    std::vector<uint8_t> data(static_cast<size_t>(dataLen));
    in.Read(data.data(), dataLen);
    DecodeRLE(data.data(), data.size(), bits == 4, info.Palette, MakeTarget(Bitmap, info.TopDown), w,
              Progress);
  }
  Bitmap->Changed();
}

// ---------------------------------------------------------------------------
// Icons and cursors

namespace {

constexpr uint8_t kPNGSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool TryIconStream(TStream* s, uint16_t type) {
  const int64_t pos = s->Position();
  bool ok = false;
  try {
    TCheckedReader in(s, "");
    if (in.Remaining() > 22) {
      uint8_t hdr[6];
      in.Read(hdr, 6);
      if (LE16(hdr) == 0 && LE16(hdr + 2) == type) {
        const int count = LE16(hdr + 4);
        ok = true;
        for (int i = 0; i < count && ok; ++i) {
          uint8_t e[16];
          in.Read(e, 16);
          const int64_t entryEnd = 6 + 16 * int64_t(i + 1);
          ok = e[3] == 0 && LE32(e + 8) > 0 && int64_t(LE32(e + 12)) >= entryEnd;
        }
      }
    }
  } catch (const EInvalidGraphic&) {
    ok = false;
  }
  s->Seek(pos, soBeginning);
  return ok;
}

void ReadIconImage(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly, bool cursor) {
  const char* msg = cursor ? kBadCUR : kBadICO;
  TCheckedReader in(Stream, msg);
  const int64_t start = in.Position();
  uint8_t hdr[6];
  in.Read(hdr, 6);
  const int count = LE16(hdr + 4);
  const int index = cursor ? Params.CUR_ImageIndex : Params.ICO_ImageIndex;
  if (index < 0 || index >= count) return;
  in.Skip(16 * int64_t(index));
  uint8_t e[16];
  in.Read(e, 16);
  // A size byte of 0 stands for 256.
  const int w = e[0] ? e[0] : 256, h = e[1] ? e[1] : 256;
  const int colorCount = e[2];
  const uint32_t dataSize = LE32(e + 8), offset = LE32(e + 12);
  Params.Width = w;
  Params.Height = h;
  Params.SamplesPerPixel = 1;
  if (cursor) {
    Params.CUR_XHotSpot = LE16(e + 4);
    Params.CUR_YHotSpot = LE16(e + 6);
  }
  in.SeekTo(start + offset);

  // Images stored as PNG: color pixels, alpha dropped.
  uint8_t sig[8] = {};
  if (in.Remaining() >= 8) {
    in.Read(sig, 8);
    in.Skip(-8);
  }
  if (std::memcmp(sig, kPNGSignature, 8) == 0) {
    const int64_t n = std::min<int64_t>(dataSize ? int64_t(dataSize) : in.Remaining(), in.Remaining());
    std::vector<uint8_t> png(static_cast<size_t>(n));
    in.Read(png.data(), n);
    int pw = 0, ph = 0;
    if (!DecodeIconPNG(png.data(), png.size(), Bitmap, ParamsOnly, pw, ph)) in.Fail();
    Params.FreeColorMap();
    Params.Width = pw;
    Params.Height = ph;
    Params.BitsPerSample = 8;
    Params.SamplesPerPixel = 3;
    Params.DpiX = SystemDpiX();
    Params.DpiY = SystemDpiY();
    return;
  }

  uint8_t ih[40];
  in.Read(ih, 40);
  const uint32_t hsize = LE32(ih);
  if (hsize < 40) in.Fail();
  in.Skip(int64_t(hsize) - 40);
  Params.DpiX = DpiFromPPM(int32_t(LE32(ih + 24)), false);
  Params.DpiY = DpiFromPPM(int32_t(LE32(ih + 28)), true);
  int bits = cursor ? 0 : LE16(e + 6);
  if (LE16(ih + 14) != 0) bits = LE16(ih + 14);
  if (bits == 0) {
    if (colorCount == 0) in.Fail();
    bits = std::bit_width(unsigned(colorCount - 1));
    if (bits == 0) bits = 1;
  }
  const bool indexed = bits <= 8;
  const int palCount = indexed ? (colorCount ? colorCount : 1 << bits) : 0;
  Params.FreeColorMap();
  std::vector<TRGB> pal;
  if (palCount > 0) {
    std::vector<uint8_t> raw(size_t(palCount) * 4);
    in.Read(raw.data(), int64_t(raw.size()));
    TRGB* map = Params.AllocColorMap(palCount);
    for (int i = 0; i < palCount; ++i) map[i] = TRGB{raw[4 * i], raw[4 * i + 1], raw[4 * i + 2]};
  }
  if (indexed) {
    Params.BitsPerSample = bits;
  } else {
    Params.BitsPerSample = 8;
    Params.SamplesPerPixel = 3;
  }
  if (ParamsOnly) return;

  TDIBInfo info;
  info.Width = w;
  info.Height = h;
  info.BitCount = bits;
  info.RowBytes = size_t(((uint64_t(bits) * uint64_t(w) + 31) / 32) * 4);
  if (bits == 16) info.RedMask = 0x7C00, info.GreenMask = 0x03E0, info.BlueMask = 0x001F;
  if (bits == 32) info.RedMask = 0xFF0000, info.GreenMask = 0x00FF00, info.BlueMask = 0x0000FF;
  if (indexed) info.Palette = FullPalette(Params.ColorMap, Params.ColorMapCount, bits);
  const bool known = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
  if (!known)
    throw EUnsupportedImage(std::string(cursor ? "CUR" : "ICO") + " images of " + std::to_string(bits) +
                            " bits per pixel are not supported");
  if (uint64_t(info.RowBytes) * uint64_t(h) > uint64_t(in.Remaining())) in.Fail();
  const TTwoColorLoad two = bits == 1 ? TwoColorLoad(info.Palette[0], info.Palette[1]) : tclColors;
  Bitmap->Allocate(w, h, bits == 1 && two != tclColors ? pf1bit : pf24bit);
  TProgressRec none;
  ReadRows(in, info, Bitmap, two == tclWhiteBlack, none);
  Bitmap->Changed();
}

}  // namespace

bool ICOTryStream(TStream* Stream) { return TryIconStream(Stream, 1); }
bool CURTryStream(TStream* Stream) { return TryIconStream(Stream, 2); }

void ICOReadStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly) {
  ReadIconImage(Stream, Bitmap, Params, ParamsOnly, false);
}
void CURReadStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly) {
  ReadIconImage(Stream, Bitmap, Params, ParamsOnly, true);
}

}  // namespace korvane
