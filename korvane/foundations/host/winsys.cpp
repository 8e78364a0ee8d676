#include "korvane/foundations/host/winsys.h"

#include <sys/mman.h>

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <unordered_map>

#include "korvane/foundations/host/exceptions.h"

namespace korvane {

// ---------------------------------------------------------------------------
// Movable memory blocks

namespace {

// Blocks of a few megabytes and more (frames, whole pictures) are mapped
// straight from the system: the pages come zeroed, and aligned to 2 MiB with
// transparent huge pages asked for, a frame costs a few page faults instead of
// one per 4 KiB, which on virtual machines outweighed decoding the frame.
// Smaller blocks come from the heap.
constexpr size_t kHugePage = size_t(1) << 21;
constexpr size_t kMapFrom = 2 * kHugePage;

struct BlockFree {
  size_t mapped = 0;  // length of the mapping; 0 for a heap block
  void operator()(uint8_t* p) const {
    if (mapped)
      munmap(p, mapped);
    else
      delete[] p;
  }
};
using BlockBytes = std::unique_ptr<uint8_t[], BlockFree>;

struct GlobalBlock {
  BlockBytes data;
  size_t size = 0;
  int locks = 0;
};

// Handles are table keys; a key is never handed out twice, so a stale handle
// can never reach a newer block.
struct GlobalTable {
  std::unordered_map<uintptr_t, GlobalBlock> blocks;
  uintptr_t next = 1;
};

GlobalTable& Globals() {
  static GlobalTable table;
  return table;
}

GlobalBlock* FindBlock(HGLOBAL h) {
  if (!h) return nullptr;
  auto& t = Globals().blocks;
  auto it = t.find(reinterpret_cast<uintptr_t>(h));
  return it == t.end() ? nullptr : &it->second;
}

BlockBytes ZeroedBytes(size_t n) {
  if (n == 0) return nullptr;
  if (n >= kMapFrom) {
    // Whole huge pages: a partial last one would be faulted 4 KB at a time.
    const size_t len = (n + kHugePage - 1) & ~(kHugePage - 1);
    void* raw = mmap(nullptr, len + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw != MAP_FAILED) {
      // Keep the 2 MiB-aligned part and give back the rest.
      uint8_t* base = static_cast<uint8_t*>(raw);
      uint8_t* start = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(base) + kHugePage - 1) &
                                                  ~uintptr_t(kHugePage - 1));
      if (start > base) munmap(base, size_t(start - base));
      const size_t tail = size_t(base + len + kHugePage - (start + len));
      if (tail) munmap(start + len, tail);
      madvise(start, len, MADV_HUGEPAGE);
      return BlockBytes(start, BlockFree{len});
    }
  }
  return BlockBytes(new (std::nothrow) uint8_t[n]());
}

}  // namespace

HGLOBAL GlobalAlloc(uint32_t, size_t bytes) {
  if (bytes > kMaxGlobalBytes) return nullptr;
  GlobalBlock b;
  b.data = ZeroedBytes(bytes);
  if (bytes && !b.data) return nullptr;
  b.size = bytes;
  GlobalTable& t = Globals();
  uintptr_t key = t.next++;
  t.blocks.emplace(key, std::move(b));
  return reinterpret_cast<HGLOBAL>(key);
}

HGLOBAL GlobalReAlloc(HGLOBAL h, size_t bytes, uint32_t) {
  GlobalBlock* b = FindBlock(h);
  if (!b || b->locks > 0 || bytes > kMaxGlobalBytes) return nullptr;
  if (bytes == b->size) return h;
  BlockBytes nd = ZeroedBytes(bytes);
  if (bytes && !nd) return nullptr;
  if (b->data && nd) std::memcpy(nd.get(), b->data.get(), std::min(bytes, b->size));
  b->data = std::move(nd);
  b->size = bytes;
  return h;
}

void* GlobalLock(HGLOBAL h) {
  GlobalBlock* b = FindBlock(h);
  if (!b || !b->data) return nullptr;
  ++b->locks;
  return b->data.get();
}

bool GlobalUnlock(HGLOBAL h) {
  GlobalBlock* b = FindBlock(h);
  if (!b || b->locks == 0) return false;
  return --b->locks > 0;
}

HGLOBAL GlobalFree(HGLOBAL h) {
  if (!h) return nullptr;
  auto& t = Globals().blocks;
  auto it = t.find(reinterpret_cast<uintptr_t>(h));
  if (it == t.end()) return h;
  t.erase(it);
  return nullptr;
}

size_t GlobalSize(HGLOBAL h) {
  GlobalBlock* b = FindBlock(h);
  return b ? b->size : 0;
}

int GlobalLockCount(HGLOBAL h) {
  GlobalBlock* b = FindBlock(h);
  return b ? b->locks : 0;
}

int GlobalBlockCount() { return int(Globals().blocks.size()); }

// ---------------------------------------------------------------------------
// Packed DIBs

namespace {

[[noreturn]] void BadDIB(const char* what = "unrecognized DIB") { throw EInvalidGraphic(what); }

uint16_t RdU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t RdU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void WrU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void WrU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// A channel mask must be one run of set bits within the pixel.
void CheckMask(uint32_t mask, int bits) {
  if (!DIBMaskValid(mask, bits)) BadDIB();
}

}  // namespace

bool DIBMaskValid(uint32_t mask, int bits) {
  if (mask == 0) return true;
  if (bits == 16 && mask > 0xFFFF) return false;
  uint32_t run = mask >> std::countr_zero(mask);
  return (run & (run + 1)) == 0;
}

TDIBRowDecoder::TDIBRowDecoder(const TDIBInfo& info, TDIBChannelScale scale) : info_(info) {
  if (info.BitCount == 16 || info.BitCount == 32) {
    SetupChannel(0, info.RedMask, scale);
    SetupChannel(1, info.GreenMask, scale);
    SetupChannel(2, info.BlueMask, scale);
  }
}

void TDIBRowDecoder::Decode(const uint8_t* row, int x0, int n, TRGB* out) const {
  const std::vector<TRGB>& pal = info_.Palette;
  switch (info_.BitCount) {
    case 1:
      for (int i = 0; i < n; ++i) {
        int x = x0 + i;
        out[i] = pal[(row[x >> 3] >> (7 - (x & 7))) & 1];
      }
      break;
    case 4:
      for (int i = 0; i < n; ++i) {
        int x = x0 + i;
        out[i] = pal[(x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4)];
      }
      break;
    case 8:
      for (int i = 0; i < n; ++i) out[i] = pal[row[x0 + i]];
      break;
    case 16:
      for (int i = 0; i < n; ++i) out[i] = Bitfields(RdU16(row + 2 * size_t(x0 + i)));
      break;
    case 24: std::memcpy(out, row + 3 * size_t(x0), 3 * size_t(n)); break;
    default:
      for (int i = 0; i < n; ++i) out[i] = Bitfields(RdU32(row + 4 * size_t(x0 + i)));
      break;
  }
}

void TDIBRowDecoder::SetupChannel(int c, uint32_t mask, TDIBChannelScale scale) {
  Channel& ch = ch_[c];
  ch.mask = mask;
  if (!mask) return;
  ch.shift = std::countr_zero(mask);
  ch.width = std::popcount(mask);
  if (ch.width < 8) {
    unsigned max = (1u << ch.width) - 1;
    for (unsigned v = 0; v <= max; ++v)
      ch.lut[v] = scale == dcsRound ? uint8_t((v * 255 + max / 2) / max) : uint8_t(v << (8 - ch.width));
  }
}

namespace {

// Copies a DIB whose header has been checked, and whose rows are known to lie
// in bits, into the bitmap.
void FillBitmap(const TDIBInfo& info, const uint8_t* bits, TBitmap* bmp) {
  const int w = info.Width, h = info.Height;
  if (info.BitCount == 1) {
    bmp->Allocate(w, h, pf1bit);
    // Bit 1 must be white: invert when the table has the lighter color first.
    auto gray = [](TRGB c) { return 21 * c.r + 71 * c.g + 7 * c.b; };
    const uint8_t flip = gray(info.Palette[0]) > gray(info.Palette[1]) ? 0xFF : 0x00;
    uint8_t* row0 = bmp->Scanline(0);
    const ptrdiff_t stride = h > 1 ? bmp->Scanline(1) - row0 : 0;
    const size_t n = (size_t(w) + 7) / 8;
    for (int i = 0; i < h; ++i) {
      const uint8_t* src = bits + size_t(i) * info.RowBytes;
      uint8_t* dst = row0 + ptrdiff_t(info.TopDown ? i : h - 1 - i) * stride;
      for (size_t k = 0; k < n; ++k) dst[k] = src[k] ^ flip;
    }
    return;
  }
  bmp->Allocate(w, h, pf24bit);
  uint8_t* row0 = bmp->Scanline(0);
  const ptrdiff_t stride = h > 1 ? bmp->Scanline(1) - row0 : 0;
  TDIBRowDecoder dec(info);
  for (int i = 0; i < h; ++i) {
    const uint8_t* src = bits + size_t(i) * info.RowBytes;
    TRGB* dst = reinterpret_cast<TRGB*>(row0 + ptrdiff_t(info.TopDown ? i : h - 1 - i) * stride);
    dec.Decode(src, 0, w, dst);
  }
}

}  // namespace

TDIBInfo ParseDIBHeader(const void* pv, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(pv);
  if (!p || size < 40) BadDIB();
  const uint32_t hsize = RdU32(p);
  if (hsize < 40 || hsize > size) BadDIB();
  const int32_t w = int32_t(RdU32(p + 4));
  const int32_t h = int32_t(RdU32(p + 8));
  const int bits = RdU16(p + 14);
  const uint32_t comp = RdU32(p + 16);
  const uint32_t clrUsed = RdU32(p + 32);
  if (w <= 0 || h == 0 || h == INT32_MIN) BadDIB();
  const int64_t ah = h < 0 ? -int64_t(h) : int64_t(h);
  if (w > kMaxDIBSide || ah > kMaxDIBSide || int64_t(w) * ah > kMaxDIBPixels) BadDIB();
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) BadDIB();
  if (comp != TBitmapInfoHeader::kRGB &&
      !(comp == TBitmapInfoHeader::kBitfields && (bits == 16 || bits == 32)))
    BadDIB("unsupported DIB compression");

  TDIBInfo info;
  info.Width = w;
  info.Height = int(ah);
  info.TopDown = h < 0;
  info.BitCount = bits;
  info.Compression = comp;
  uint64_t off = hsize;
  if (comp == TBitmapInfoHeader::kBitfields) {
    // Larger headers carry the masks inside; the 40-byte one is followed by them.
    const uint8_t* m = p + 40;
    if (hsize < 52) {
      if (off + 12 > size) BadDIB();
      m = p + off;
      off += 12;
    }
    info.RedMask = RdU32(m);
    info.GreenMask = RdU32(m + 4);
    info.BlueMask = RdU32(m + 8);
  } else if (bits == 16) {
    info.RedMask = 0x7C00;
    info.GreenMask = 0x03E0;
    info.BlueMask = 0x001F;
  } else if (bits == 32) {
    info.RedMask = 0xFF0000;
    info.GreenMask = 0x00FF00;
    info.BlueMask = 0x0000FF;
  }
  if (bits >= 16) {
    CheckMask(info.RedMask, bits);
    CheckMask(info.GreenMask, bits);
    CheckMask(info.BlueMask, bits);
  }

  uint64_t colors = clrUsed;
  if (bits <= 8) {
    const uint32_t full = 1u << bits;
    if (clrUsed > full) BadDIB();
    if (colors == 0) colors = full;
  }
  if (off + colors * 4 > size) BadDIB();
  if (bits <= 8) {
    // Indexes past a short table read as black.
    info.Palette.assign(size_t(1) << bits, TRGB{0, 0, 0});
    for (uint64_t i = 0; i < colors; ++i) {
      const uint8_t* q = p + off + 4 * i;
      info.Palette[size_t(i)] = TRGB{q[0], q[1], q[2]};
    }
  }
  off += colors * 4;
  info.HeaderBytes = size_t(off);
  info.RowBytes = size_t(((uint64_t(bits) * uint64_t(w) + 31) / 32) * 4);
  info.ImageBytes = info.RowBytes * size_t(ah);
  return info;
}

TDIBInfo ParsePackedDIB(const void* p, size_t size) {
  TDIBInfo info = ParseDIBHeader(p, size);
  if (uint64_t(info.HeaderBytes) + info.ImageBytes > size) BadDIB("truncated DIB");
  return info;
}

size_t PackedDIBSize(int width, int height, int bitCount) {
  if (width <= 0 || height <= 0) return 0;
  size_t row = ((size_t(bitCount) * size_t(width) + 31) / 32) * 4;
  return 40 + (bitCount == 1 ? 8 : 0) + row * size_t(height);
}

namespace {

// Clips r to the bitmap (the whole bitmap for an empty r).
TRect SourceRect(TBitmap* bmp, const TRect& r) {
  if (r.Width() <= 0 || r.Height() <= 0) return Rect(0, 0, bmp->Width(), bmp->Height());
  return Rect(std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, bmp->Width()),
              std::min(r.Bottom, bmp->Height()));
}

// Writes the packed DIB of rectangle r of bmp (1-bit or 24-bit) at out, which
// holds PackedDIBSize bytes.
void WritePackedDIB(TBitmap* bmp, const TRect& r, uint8_t* out) {
  const bool one = bmp->PixelFormat() == pf1bit;
  const int w = r.Width(), h = r.Height();
  const int bits = one ? 1 : 24;
  std::memset(out, 0, 40);
  WrU32(out, 40);
  WrU32(out + 4, uint32_t(w));
  WrU32(out + 8, uint32_t(h));
  WrU16(out + 12, 1);
  WrU16(out + 14, uint16_t(bits));
  uint8_t* px = out + 40;
  if (one) {
    WrU32(px, 0x00000000);
    WrU32(px + 4, 0xFFFFFFFF);
    px += 8;
  }
  const size_t rowBytes = ((size_t(bits) * size_t(w) + 31) / 32) * 4;
  const uint8_t* row0 = bmp->Scanline(0);
  const ptrdiff_t stride = bmp->Height() > 1 ? bmp->Scanline(1) - row0 : 0;
  const size_t used = one ? (size_t(bmp->Width()) + 7) / 8 : 0;  // bytes of a source row in use
  for (int i = 0; i < h; ++i) {
    const uint8_t* src = row0 + ptrdiff_t(r.Bottom - 1 - i) * stride;
    uint8_t* dst = px + size_t(i) * rowBytes;
    std::memset(dst, 0, rowBytes);
    if (!one) {
      std::memcpy(dst, src + 3 * size_t(r.Left), 3 * size_t(w));
      continue;
    }
    // Bits r.Left .. r.Right-1 move to bit 0 onwards, most significant first.
    const int sh = r.Left & 7;
    const size_t first = size_t(r.Left) >> 3;
    const size_t n = (size_t(w) + 7) / 8;
    for (size_t k = 0; k < n; ++k) {
      const size_t s = first + k;
      uint8_t b = uint8_t(src[s] << sh);
      if (sh && s + 1 < used) b = uint8_t(b | (src[s + 1] >> (8 - sh)));
      dst[k] = b;
    }
    if (w & 7) dst[n - 1] &= uint8_t(0xFF << (8 - (w & 7)));
  }
}

// The bitmap itself when it is 1-bit or 24-bit, else a 24-bit copy in tmp.
TBitmap* DibSource(TBitmap* bmp, TBitmap& tmp) {
  if (bmp->PixelFormat() == pf1bit || bmp->PixelFormat() == pf24bit) return bmp;
  tmp.Assign(bmp);
  tmp.SetPixelFormat(pf24bit);
  return &tmp;
}

}  // namespace

HGLOBAL BitmapToPackedDIB(TBitmap* bmp, const TRect& r) {
  if (!bmp || bmp->Empty()) return nullptr;
  TRect sr = SourceRect(bmp, r);
  if (sr.Width() <= 0 || sr.Height() <= 0) return nullptr;
  TBitmap tmp;
  TBitmap* src = DibSource(bmp, tmp);
  size_t n = PackedDIBSize(sr.Width(), sr.Height(), src->PixelFormat() == pf1bit ? 1 : 24);
  HGLOBAL h = GlobalAlloc(GHND, n);
  if (!h) throw EOutOfResources("Out of memory for DIB");
  TGlobalLock lock(h);
  WritePackedDIB(src, sr, lock.Data());
  return h;
}

std::vector<uint8_t> BitmapToPackedDIBBytes(TBitmap* bmp, const TRect& r) {
  if (!bmp || bmp->Empty()) return {};
  TRect sr = SourceRect(bmp, r);
  if (sr.Width() <= 0 || sr.Height() <= 0) return {};
  TBitmap tmp;
  TBitmap* src = DibSource(bmp, tmp);
  std::vector<uint8_t> out(PackedDIBSize(sr.Width(), sr.Height(), src->PixelFormat() == pf1bit ? 1 : 24));
  WritePackedDIB(src, sr, out.data());
  return out;
}

void PackedDIBToBitmap(const void* p, size_t size, TBitmap* bmp) {
  if (!bmp) return;
  TDIBInfo info = ParsePackedDIB(p, size);
  FillBitmap(info, static_cast<const uint8_t*>(p) + info.HeaderBytes, bmp);
}

void DIBToBitmap(const void* header, size_t headerSize, const void* bits, size_t bitsSize, TBitmap* bmp) {
  if (!bmp) return;
  TDIBInfo info = ParseDIBHeader(header, headerSize);
  if (!bits || bitsSize < info.ImageBytes) BadDIB("truncated DIB");
  FillBitmap(info, static_cast<const uint8_t*>(bits), bmp);
}

void PackedDIBHandleToBitmap(HGLOBAL h, TBitmap* bmp) {
  TGlobalLock lock(h);
  if (!lock.Data()) BadDIB();
  PackedDIBToBitmap(lock.Data(), lock.Size(), bmp);
}

// ---------------------------------------------------------------------------
// DIB drawing

namespace {

// Bytes of header, masks and color table that a trusted header announces.
size_t AnnouncedHeaderBytes(const uint8_t* p) {
  uint32_t hsize = RdU32(p);
  int bits = RdU16(p + 14);
  uint32_t comp = RdU32(p + 16);
  uint64_t colors = RdU32(p + 32);
  if (bits <= 8 && bits > 0 && colors == 0) colors = uint64_t(1) << bits;
  if (colors > 65536) colors = 65536;  // ParseDIBHeader rejects what is larger anyway
  uint64_t n = hsize + (comp == TBitmapInfoHeader::kBitfields && hsize < 52 ? 12 : 0) + colors * 4;
  return size_t(std::min<uint64_t>(n, uint64_t(1) << 20));
}

QList<QRgb> ColorTable(const std::vector<TRGB>& pal) {
  QList<QRgb> t;
  t.reserve(qsizetype(pal.size()));
  for (const TRGB& c : pal) t.push_back(qRgb(c.r, c.g, c.b));
  return t;
}

bool DrawDib(TCanvas* canvas, int xd, int yd, int dxd, int dyd, const TDIBInfo& info, const uint8_t* bits,
             int xs, int ys, int dxs, int dys) {
  if (!canvas || !bits) return false;
  if (xs < 0 || ys < 0 || dxs <= 0 || dys <= 0 || int64_t(xs) + dxs > info.Width ||
      int64_t(ys) + dys > info.Height)
    return false;
  if (dxd == -1) dxd = dxs;
  if (dyd == -1) dyd = dys;
  if (dxd < 0 || dyd < 0) return false;
  if (dxd == 0 || dyd == 0) return true;
  const TRect dst = Rect(xd, yd, xd + dxd, yd + dyd);
  const int bc = info.BitCount;
  const QImage::Format direct = bc == 1    ? QImage::Format_Mono
                                : bc == 8  ? QImage::Format_Indexed8
                                : bc == 24 ? QImage::Format_BGR888
                                           : QImage::Format_Invalid;
  if (info.TopDown && direct != QImage::Format_Invalid) {
    // Drawn straight from the caller's rows.
    QImage img(bits, info.Width, info.Height, qsizetype(info.RowBytes), direct);
    if (bc <= 8) img.setColorTable(ColorTable(info.Palette));
    canvas->DrawImage(dst, img, Rect(xs, ys, xs + dxs, ys + dys));
    return true;
  }
  // Stored row of image row y.
  auto stored = [&](int y) { return bits + size_t(info.TopDown ? y : info.Height - 1 - y) * info.RowBytes; };
  QImage part;
  if (bc == 8 || bc == 24) {
    // Bottom-up rows of a byte-aligned format: only their order changes.
    part = QImage(dxs, dys, direct);
    const size_t bpp = size_t(bc / 8);
    for (int y = 0; y < dys; ++y)
      std::memcpy(part.scanLine(y), stored(ys + y) + size_t(xs) * bpp, size_t(dxs) * bpp);
    if (bc == 8) part.setColorTable(ColorTable(info.Palette));
  } else {
    part = QImage(dxs, dys, QImage::Format_RGB32);
    TDIBRowDecoder dec(info);
    std::vector<TRGB> row(static_cast<size_t>(dxs));
    for (int y = 0; y < dys; ++y) {
      dec.Decode(stored(ys + y), xs, dxs, row.data());
      QRgb* out = reinterpret_cast<QRgb*>(part.scanLine(y));
      for (int x = 0; x < dxs; ++x) out[x] = qRgb(row[size_t(x)].r, row[size_t(x)].g, row[size_t(x)].b);
    }
  }
  canvas->DrawImage(dst, part, Rect(0, 0, dxs, dys));
  return true;
}

}  // namespace

bool DrawDibDraw(TCanvas* canvas, int xDst, int yDst, int dxDst, int dyDst, const void* header,
                 const void* bits, int xSrc, int ySrc, int dxSrc, int dySrc) {
  if (!header) return false;
  const uint8_t* hp = static_cast<const uint8_t*>(header);
  try {
    TDIBInfo info = ParseDIBHeader(hp, AnnouncedHeaderBytes(hp));
    return DrawDib(canvas, xDst, yDst, dxDst, dyDst, info, static_cast<const uint8_t*>(bits), xSrc, ySrc,
                   dxSrc, dySrc);
  } catch (const EInvalidGraphic&) {
    return false;
  }
}

bool DrawPackedDib(TCanvas* canvas, int xDst, int yDst, int dxDst, int dyDst, const void* packed, size_t size,
                   int xSrc, int ySrc, int dxSrc, int dySrc) {
  try {
    TDIBInfo info = ParsePackedDIB(packed, size);
    return DrawDib(canvas, xDst, yDst, dxDst, dyDst, info,
                   static_cast<const uint8_t*>(packed) + info.HeaderBytes, xSrc, ySrc, dxSrc, dySrc);
  } catch (const EInvalidGraphic&) {
    return false;
  }
}

// ---------------------------------------------------------------------------
// Clipboard

namespace {

const char kBmpMime[] = "image/bmp";

QClipboard* Clip() {
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard()
                                                                      : nullptr;
}

// The block last handed out by ClipboardGetDIB; the clipboard layer owns it.
HGLOBAL& CachedClipboardBlock() {
  static HGLOBAL h = nullptr;
  return h;
}

void DropCachedBlock() {
  HGLOBAL& h = CachedClipboardBlock();
  if (h) GlobalFree(h);
  h = nullptr;
}

HGLOBAL BlockFromBytes(const uint8_t* p, size_t n) {
  HGLOBAL h = GlobalAlloc(GHND, n);
  if (!h) return nullptr;
  TGlobalLock lock(h);
  if (n) std::memcpy(lock.Data(), p, n);
  return h;
}

// A packed DIB from the bytes of a BMP file (file header, DIB header, table,
// then the rows at the file header's offset). Null when they are not valid.
HGLOBAL DIBFromBmpBytes(const QByteArray& data) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(data.constData());
  const size_t n = size_t(data.size());
  try {
    if (n < 14 || p[0] != 'B' || p[1] != 'M') {
      ParsePackedDIB(p, n);  // some programs publish the packed DIB alone
      return BlockFromBytes(p, n);
    }
    TDIBInfo info = ParseDIBHeader(p + 14, n - 14);
    uint64_t off = RdU32(p + 10);
    if (off < 14 + info.HeaderBytes || off + info.ImageBytes > n) {
      // An offset of 0 or one that is out of place: take the rows right after the table.
      off = 14 + info.HeaderBytes;
      if (off + info.ImageBytes > n) return nullptr;
    }
    std::vector<uint8_t> packed(info.HeaderBytes + info.ImageBytes);
    std::memcpy(packed.data(), p + 14, info.HeaderBytes);
    std::memcpy(packed.data() + info.HeaderBytes, p + off, info.ImageBytes);
    return BlockFromBytes(packed.data(), packed.size());
  } catch (const EInvalidGraphic&) {
    return nullptr;
  }
}

}  // namespace

bool ClipboardAvailable() { return Clip() != nullptr; }

bool ClipboardHasDIB() {
  QClipboard* c = Clip();
  if (!c) return false;
  const QMimeData* m = c->mimeData();
  return m && (m->hasFormat(kBmpMime) || m->hasImage());
}

bool ClipboardSetDIB(HGLOBAL dib) {
  struct FreeAtEnd {
    HGLOBAL h;
    ~FreeAtEnd() { GlobalFree(h); }
  } owner{dib};
  QClipboard* c = Clip();
  if (!c) return false;
  TBitmap bmp;
  QByteArray bytes;
  {
    TGlobalLock lock(dib);
    if (!lock.Data()) return false;
    try {
      TDIBInfo info = ParsePackedDIB(lock.Data(), lock.Size());
      PackedDIBToBitmap(lock.Data(), lock.Size(), &bmp);
      const size_t packed = info.HeaderBytes + info.ImageBytes;
      bytes.resize(qsizetype(14 + packed));
      uint8_t* out = reinterpret_cast<uint8_t*>(bytes.data());
      out[0] = 'B';
      out[1] = 'M';
      WrU32(out + 2, uint32_t(14 + packed));
      WrU32(out + 6, 0);
      WrU32(out + 10, uint32_t(14 + info.HeaderBytes));
      std::memcpy(out + 14, lock.Data(), packed);
    } catch (const EInvalidGraphic&) {
      return false;
    }
  }
  DropCachedBlock();
  auto* mime = new QMimeData;
  mime->setData(kBmpMime, bytes);
  mime->setImageData(bmp.ToQImage());
  c->setMimeData(mime);
  return true;
}

HGLOBAL ClipboardGetDIB() {
  DropCachedBlock();
  QClipboard* c = Clip();
  if (!c) return nullptr;
  const QMimeData* m = c->mimeData();
  if (!m) return nullptr;
  HGLOBAL h = nullptr;
  if (m->hasFormat(kBmpMime)) h = DIBFromBmpBytes(m->data(kBmpMime));
  if (!h && m->hasImage()) {
    QImage img = qvariant_cast<QImage>(m->imageData());
    if (!img.isNull()) {
      TBitmap bmp;
      bmp.LoadFromQImage(img);
      h = BitmapToPackedDIB(&bmp);
    }
  }
  CachedClipboardBlock() = h;
  return h;
}

// ---------------------------------------------------------------------------
// Cursors

namespace {

std::map<TCursor, QCursor>*& CursorTablePtr() {
  static std::map<TCursor, QCursor>* table = nullptr;
  return table;
}

// The table holds pixmap cursors, which must go before the application does.
void DropCursorTable() {
  delete CursorTablePtr();
  CursorTablePtr() = nullptr;
}

std::map<TCursor, QCursor>& CursorTable() {
  auto*& t = CursorTablePtr();
  if (!t) {
    t = new std::map<TCursor, QCursor>{
        {crDefault, QCursor(Qt::ArrowCursor)},
        {crNone, QCursor(Qt::BlankCursor)},
        {crArrow, QCursor(Qt::ArrowCursor)},
        {crCross, QCursor(Qt::CrossCursor)},
        {crIBeam, QCursor(Qt::IBeamCursor)},
        {crSizeNESW, QCursor(Qt::SizeBDiagCursor)},
        {crSizeNS, QCursor(Qt::SizeVerCursor)},
        {crSizeNWSE, QCursor(Qt::SizeFDiagCursor)},
        {crSizeWE, QCursor(Qt::SizeHorCursor)},
        {crUpArrow, QCursor(Qt::UpArrowCursor)},
        {crHourGlass, QCursor(Qt::WaitCursor)},
        {crDrag, QCursor(Qt::DragCopyCursor)},
        {crNoDrop, QCursor(Qt::ForbiddenCursor)},
        {crHSplit, QCursor(Qt::SplitHCursor)},
        {crVSplit, QCursor(Qt::SplitVCursor)},
        {crMultiDrag, QCursor(Qt::DragCopyCursor)},
        {crSQLWait, QCursor(Qt::WaitCursor)},
        {crNo, QCursor(Qt::ForbiddenCursor)},
        {crAppStart, QCursor(Qt::BusyCursor)},
        {crHelp, QCursor(Qt::WhatsThisCursor)},
        {crHandPoint, QCursor(Qt::PointingHandCursor)},
        {crSizeAll, QCursor(Qt::SizeAllCursor)},
    };
    if (QCoreApplication::instance()) qAddPostRoutine(DropCursorTable);
  }
  return *t;
}

}  // namespace

void RegisterCursor(TCursor id, const QCursor& cursor) { CursorTable()[id] = cursor; }

bool CursorRegistered(TCursor id) { return CursorTable().count(id) != 0; }

QCursor CursorFromId(TCursor id) {
  auto& t = CursorTable();
  auto it = t.find(id);
  return it == t.end() ? QCursor(Qt::ArrowCursor) : it->second;
}

// ---------------------------------------------------------------------------
// Screen and pointer

namespace {
QScreen* Primary() {
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::primaryScreen()
                                                                      : nullptr;
}
}  // namespace

int GetScreenDPI() {
  QScreen* s = Primary();
  return s ? int(std::lround(s->logicalDotsPerInchX())) : 96;
}

int GetScreenDPIY() {
  QScreen* s = Primary();
  return s ? int(std::lround(s->logicalDotsPerInchY())) : 96;
}

int GetScreenBitsPerPixel() {
  QScreen* s = Primary();
  return s ? s->depth() : 24;
}

TPoint GetCursorPos() {
  QPoint p = QCursor::pos();
  return Point(p.x(), p.y());
}

int GetScrollBarExtent() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()))
    return QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  return 16;
}

}  // namespace korvane
