/// \file
/// Window-system services of the host layer: movable memory blocks behind
/// opaque handles, packed device-independent bitmaps (DIBs) and their drawing,
/// clipboard exchange of DIBs, the cursor table, screen metrics, and the
/// constants of window scroll bars.
#pragma once
#include <QCursor>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"

namespace korvane {

// ---------------------------------------------------------------------------
// Movable memory blocks

/// Opaque handle of a movable memory block; never dereferenced. Null is no block.
struct TGlobalBlockTag;
using HGLOBAL = TGlobalBlockTag*;

constexpr uint32_t GMEM_FIXED = 0x0000;
constexpr uint32_t GMEM_MOVEABLE = 0x0002;
constexpr uint32_t GMEM_ZEROINIT = 0x0040;
constexpr uint32_t GMEM_SHARE = 0x2000;
constexpr uint32_t GMEM_DDESHARE = 0x2000;
constexpr uint32_t GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr uint32_t GPTR = GMEM_FIXED | GMEM_ZEROINIT;

/// Largest block GlobalAlloc/GlobalReAlloc hand out (2 GiB).
constexpr size_t kMaxGlobalBytes = size_t(1) << 31;

/// Allocates a block of the given size behind a new handle. Every block is
/// zero-filled whatever the flags say, and every handle is movable (locking is
/// how callers reach the memory). Null when the size is above kMaxGlobalBytes
/// or memory runs out. A block of 0 bytes is valid but locks to null.
KORVANE_EXPORT HGLOBAL GlobalAlloc(uint32_t flags, size_t bytes);
/// Grows or shrinks a block, keeping its leading bytes (new bytes are zero).
/// Returns the handle, or null (the block left as it was) for an unknown handle,
/// a locked block or a size above the limit.
KORVANE_EXPORT HGLOBAL GlobalReAlloc(HGLOBAL h, size_t bytes, uint32_t flags);
/// The block's memory, counting one more lock; null for an unknown handle or
/// an empty block.
KORVANE_EXPORT void* GlobalLock(HGLOBAL h);
/// Drops one lock. True while the block stays locked, false when it is now
/// unlocked or the handle is unknown.
KORVANE_EXPORT bool GlobalUnlock(HGLOBAL h);
/// Frees the block (locked or not). Null on success; the handle itself when it
/// is unknown (already freed, never allocated), which is otherwise harmless.
KORVANE_EXPORT HGLOBAL GlobalFree(HGLOBAL h);
/// Bytes in the block; 0 for an unknown handle.
KORVANE_EXPORT size_t GlobalSize(HGLOBAL h);
/// Number of locks held on the block; 0 for an unknown handle.
KORVANE_EXPORT int GlobalLockCount(HGLOBAL h);
/// Number of live blocks (for leak checks).
KORVANE_EXPORT int GlobalBlockCount();

/// Locks a block for the lifetime of the guard.
class KORVANE_EXPORT TGlobalLock {
 public:
  explicit TGlobalLock(HGLOBAL h) : h_(h), p_(static_cast<uint8_t*>(GlobalLock(h))) {}
  ~TGlobalLock() {
    if (p_) GlobalUnlock(h_);
  }
  TGlobalLock(const TGlobalLock&) = delete;
  TGlobalLock& operator=(const TGlobalLock&) = delete;
  uint8_t* Data() const { return p_; }
  size_t Size() const { return p_ ? GlobalSize(h_) : 0; }

 private:
  HGLOBAL h_;
  uint8_t* p_;
};

// ---------------------------------------------------------------------------
// Packed device-independent bitmaps

/// The 40-byte header in front of a DIB (little-endian on disk and in blocks).
struct KORVANE_EXPORT TBitmapInfoHeader {
  uint32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  ///< positive: rows stored bottom-up; negative: top-down
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;

  static constexpr uint32_t kRGB = 0;  ///< uncompressed
  static constexpr uint32_t kRLE8 = 1;
  static constexpr uint32_t kRLE4 = 2;
  static constexpr uint32_t kBitfields = 3;  ///< 16/32-bit with channel masks
};
static_assert(sizeof(TBitmapInfoHeader) == 40, "BITMAPINFOHEADER layout");

/// What a validated DIB header says, with its color table and channel masks.
struct TDIBInfo {
  int Width = 0;
  int Height = 0;        ///< rows, always positive
  bool TopDown = false;  ///< the first stored row is the top row
  int BitCount = 0;      ///< 1, 4, 8, 16, 24 or 32
  uint32_t Compression = 0;
  uint32_t RedMask = 0, GreenMask = 0, BlueMask = 0;  ///< 16/32-bit only
  std::vector<TRGB> Palette;                          ///< the color table (1/4/8-bit: what the pixels index)
  size_t HeaderBytes = 0;                             ///< header + masks + color table: where packed bits start
  size_t RowBytes = 0;                                ///< stored row length, padded to 4 bytes
  size_t ImageBytes = 0;                              ///< RowBytes * Height
};

/// Largest image a DIB may describe (pixels), and largest side.
constexpr int64_t kMaxDIBPixels = int64_t(1) << 28;
constexpr int kMaxDIBSide = 1 << 20;

/// How channels narrower than 8 bits widen to 8: dcsRound maps v to
/// round(v * 255 / (2^n - 1)) (full range), dcsShift to v << (8 - n) (the top
/// bits only, as bitmap files are commonly read).
enum TDIBChannelScale { dcsRound, dcsShift };

/// Turns stored DIB rows of a checked header into TRGB pixels: 1/4/8-bit
/// through the color table (which must hold 2^BitCount entries), 16/32-bit
/// through the channel masks (contiguous, within the pixel), 24-bit copied.
/// The masks' scaling is tabled once.
class KORVANE_EXPORT TDIBRowDecoder {
 public:
  explicit TDIBRowDecoder(const TDIBInfo& info, TDIBChannelScale scale = dcsRound);
  /// Decodes n pixels from pixel x0 of a stored row.
  void Decode(const uint8_t* row, int x0, int n, TRGB* out) const;

 private:
  struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int width = 0;
    uint8_t lut[256] = {};
  };
  void SetupChannel(int c, uint32_t mask, TDIBChannelScale scale);
  uint8_t Take(const Channel& ch, uint32_t px) const {
    if (!ch.mask) return 0;
    uint32_t v = (px & ch.mask) >> ch.shift;
    return ch.width >= 8 ? uint8_t(v >> (ch.width - 8)) : ch.lut[v];
  }
  TRGB Bitfields(uint32_t px) const { return TRGB{Take(ch_[2], px), Take(ch_[1], px), Take(ch_[0], px)}; }

  const TDIBInfo& info_;
  Channel ch_[3];
};

/// True when a channel mask is one run of set bits that fits in a pixel of
/// the given bit count (16 or 32); an empty mask passes.
KORVANE_EXPORT bool DIBMaskValid(uint32_t mask, int bits);

/// Reads and checks a DIB header with its masks and color table from the
/// first `size` bytes at p. Accepts headers of 40 bytes or more (the larger
/// versions are read as their first 40 bytes plus masks), bit counts 1, 4, 8,
/// 16, 24, 32, uncompressed or with bit fields (16 and 32 bits). Raises
/// EInvalidGraphic when the header is short, a field is out of range, the masks
/// are not contiguous, or the table does not fit in size.
KORVANE_EXPORT TDIBInfo ParseDIBHeader(const void* p, size_t size);
/// Same, and also checks that the pixel rows follow within size (a packed DIB).
KORVANE_EXPORT TDIBInfo ParsePackedDIB(const void* p, size_t size);

/// Bytes of a packed DIB of the given size and bit count (1 or 24) as
/// BitmapToPackedDIB writes it.
KORVANE_EXPORT size_t PackedDIBSize(int width, int height, int bitCount);

/// Copies the rectangle r (right and bottom excluded, clipped to the bitmap;
/// the whole bitmap when r is empty) of a bitmap into a new packed DIB block:
/// 40-byte header with positive height, a two-entry black/white table for a
/// 1-bit bitmap, 24-bit pixels for any other format, rows bottom-up padded to
/// 4 bytes. Null for an empty bitmap or rectangle. The caller owns the block.
KORVANE_EXPORT HGLOBAL BitmapToPackedDIB(TBitmap* bmp, const TRect& r = TRect{});
/// Writes the same packed DIB into a byte vector.
KORVANE_EXPORT std::vector<uint8_t> BitmapToPackedDIBBytes(TBitmap* bmp, const TRect& r = TRect{});

/// Fills a bitmap from a packed DIB of `size` bytes: 1-bit DIBs give a 1-bit
/// bitmap (bit 1 white: the bits are inverted when the table's entry 0 is the
/// lighter one), every other depth a 24-bit bitmap with the table or the masks
/// applied. Raises EInvalidGraphic on bad data; the bitmap is untouched then.
KORVANE_EXPORT void PackedDIBToBitmap(const void* p, size_t size, TBitmap* bmp);
/// Same from a header (with masks and table) and separate pixel rows.
KORVANE_EXPORT void DIBToBitmap(const void* header, size_t headerSize, const void* bits, size_t bitsSize,
                                TBitmap* bmp);
/// Same from a movable block holding a packed DIB (locked for the copy).
KORVANE_EXPORT void PackedDIBHandleToBitmap(HGLOBAL h, TBitmap* bmp);

/// Stretches the source rectangle (xSrc, ySrc, dxSrc, dySrc: image pixels
/// counted from the top row, whatever the storage order) of a DIB onto the
/// canvas rectangle (xDst, yDst, dxDst, dyDst) with no smoothing; dxDst or
/// dyDst of -1 take the source size. `header` points at the header followed by
/// its masks and color table; `bits` at the first stored row, which must hold
/// RowBytes * Height bytes (the caller's own memory: nothing here can check
/// it). Top-down 1/8/24-bit DIBs are drawn straight from their memory. False
/// when the header is invalid or the source rectangle is not inside the image.
KORVANE_EXPORT bool DrawDibDraw(TCanvas* canvas, int xDst, int yDst, int dxDst, int dyDst, const void* header,
                                const void* bits, int xSrc, int ySrc, int dxSrc, int dySrc);
/// The same for a packed DIB of `size` bytes, checked as hostile data.
KORVANE_EXPORT bool DrawPackedDib(TCanvas* canvas, int xDst, int yDst, int dxDst, int dyDst,
                                  const void* packed, size_t size, int xSrc, int ySrc, int dxSrc, int dySrc);

// ---------------------------------------------------------------------------
// Clipboard

/// True when the application has a clipboard to use.
KORVANE_EXPORT bool ClipboardAvailable();
/// True when the clipboard holds a DIB ("image/bmp") or any image.
KORVANE_EXPORT bool ClipboardHasDIB();
/// Empties the clipboard and publishes the packed DIB block as "image/bmp"
/// (with the 14-byte file header in front) and as an image for other
/// programs. The clipboard owns the block afterwards in every case: it is freed
/// here. False when there is no clipboard or the block is not a valid DIB.
KORVANE_EXPORT bool ClipboardSetDIB(HGLOBAL dib);
/// A packed DIB of what the clipboard holds: the "image/bmp" data when it is
/// valid, else any image the clipboard can give. The block belongs to the
/// clipboard layer, as clipboard data does: do not free it; it stays valid
/// until the next ClipboardGetDIB or ClipboardSetDIB. Null when there is none.
KORVANE_EXPORT HGLOBAL ClipboardGetDIB();

// ---------------------------------------------------------------------------
// Cursors

using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crUpArrow = -10;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crDrag = -12;
constexpr TCursor crNoDrop = -13;
constexpr TCursor crHSplit = -14;
constexpr TCursor crVSplit = -15;
constexpr TCursor crMultiDrag = -16;
constexpr TCursor crSQLWait = -17;
constexpr TCursor crNo = -18;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHelp = -20;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crSizeAll = -22;
constexpr TCursor crSize = crSizeAll;

/// Registers (or replaces) the cursor of an identifier. The standard
/// identifiers above are pre-mapped to Qt's shapes; applications and the
/// library add their own with positive identifiers.
KORVANE_EXPORT void RegisterCursor(TCursor id, const QCursor& cursor);
KORVANE_EXPORT bool CursorRegistered(TCursor id);
/// The cursor of an identifier; the arrow for an unknown one.
KORVANE_EXPORT QCursor CursorFromId(TCursor id);

// ---------------------------------------------------------------------------
// Screen and pointer

/// Logical dots per inch of the primary screen; 96 without a screen.
KORVANE_EXPORT int GetScreenDPI();
KORVANE_EXPORT int GetScreenDPIY();
/// Bits per pixel of the primary screen; 24 without a screen.
KORVANE_EXPORT int GetScreenBitsPerPixel();
/// Pointer position in screen coordinates.
KORVANE_EXPORT TPoint GetCursorPos();

// ---------------------------------------------------------------------------
// Window scroll bars

/// Bars.
constexpr int SB_HORZ = 0;
constexpr int SB_VERT = 1;
constexpr int SB_CTL = 2;
constexpr int SB_BOTH = 3;
/// Codes of user scrolling.
constexpr int SB_LINEUP = 0;
constexpr int SB_LINELEFT = 0;
constexpr int SB_LINEDOWN = 1;
constexpr int SB_LINERIGHT = 1;
constexpr int SB_PAGEUP = 2;
constexpr int SB_PAGELEFT = 2;
constexpr int SB_PAGEDOWN = 3;
constexpr int SB_PAGERIGHT = 3;
constexpr int SB_THUMBPOSITION = 4;
constexpr int SB_THUMBTRACK = 5;
constexpr int SB_TOP = 6;
constexpr int SB_LEFT = 6;
constexpr int SB_BOTTOM = 7;
constexpr int SB_RIGHT = 7;
constexpr int SB_ENDSCROLL = 8;
/// Fields of TScrollInfo to set or get.
constexpr unsigned SIF_RANGE = 0x01;
constexpr unsigned SIF_PAGE = 0x02;
constexpr unsigned SIF_POS = 0x04;
constexpr unsigned SIF_DISABLENOSCROLL = 0x08;
constexpr unsigned SIF_TRACKPOS = 0x10;
constexpr unsigned SIF_ALL = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;

/// Range, page and position of a window scroll bar. The position runs from
/// nMin to nMax - max(nPage - 1, 0).
struct TScrollInfo {
  unsigned fMask = 0;
  int nMin = 0;
  int nMax = 0;
  unsigned nPage = 0;
  int nPos = 0;
  int nTrackPos = 0;
};

/// Width of a vertical scroll bar (and height of a horizontal one) in pixels.
KORVANE_EXPORT int GetScrollBarExtent();

}  // namespace korvane
