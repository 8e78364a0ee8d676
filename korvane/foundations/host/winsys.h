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
/// A handle of a movable memory block. The block table is not guarded: use blocks from one thread
/// at a time.
using HGLOBAL = TGlobalBlockTag*;

constexpr uint32_t GMEM_FIXED = 0x0000;  ///< Accepted for compatibility; every block is movable.
constexpr uint32_t GMEM_MOVEABLE = 0x0002;  ///< A movable block (what every block is).
constexpr uint32_t GMEM_ZEROINIT = 0x0040;  ///< Zero-filled (every block is).
constexpr uint32_t GMEM_SHARE = 0x2000;  ///< Accepted and ignored.
constexpr uint32_t GMEM_DDESHARE = 0x2000;  ///< Accepted and ignored.
constexpr uint32_t GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;  ///< Movable and zeroed: the usual flags.
constexpr uint32_t GPTR = GMEM_FIXED | GMEM_ZEROINIT;  ///< Fixed and zeroed; gives a movable block here too.

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
  /// Locks h; Data() is null when h is unknown or empty, and then nothing is unlocked later.
  explicit TGlobalLock(HGLOBAL h) : h_(h), p_(static_cast<uint8_t*>(GlobalLock(h))) {}
  /// Drops the lock taken by the constructor.
  ~TGlobalLock() {
    if (p_) GlobalUnlock(h_);
  }
  TGlobalLock(const TGlobalLock&) = delete;
  TGlobalLock& operator=(const TGlobalLock&) = delete;
  /// The block's memory; null when the lock failed.
  uint8_t* Data() const { return p_; }
  /// The block's size in bytes; 0 when the lock failed.
  size_t Size() const { return p_ ? GlobalSize(h_) : 0; }

 private:
  HGLOBAL h_;
  uint8_t* p_;
};

// ---------------------------------------------------------------------------
// Packed device-independent bitmaps

/// The 40-byte header in front of a DIB (little-endian on disk and in blocks).
struct KORVANE_EXPORT TBitmapInfoHeader {
  uint32_t biSize = 40;  ///< Header length in bytes; 40, more for the later header versions.
  int32_t biWidth = 0;  ///< Width in pixels.
  int32_t biHeight = 0;  ///< positive: rows stored bottom-up; negative: top-down
  uint16_t biPlanes = 1;  ///< Always 1.
  uint16_t biBitCount = 0;  ///< Bits per pixel: 1, 4, 8, 16, 24 or 32.
  uint32_t biCompression = 0;  ///< kRGB, kRLE8, kRLE4 or kBitfields.
  uint32_t biSizeImage = 0;  ///< Bytes of pixel data; may be 0 for uncompressed DIBs.
  int32_t biXPelsPerMeter = 0;  ///< Horizontal resolution in pixels per meter; 0 when unknown.
  int32_t biYPelsPerMeter = 0;  ///< Vertical resolution in pixels per meter; 0 when unknown.
  uint32_t biClrUsed = 0;  ///< Color table entries; 0 means 2^biBitCount for 1/4/8-bit.
  uint32_t biClrImportant = 0;  ///< Entries needed to show the image; 0 means all.

  static constexpr uint32_t kRGB = 0;  ///< uncompressed
  static constexpr uint32_t kRLE8 = 1;  ///< run-length encoded 8-bit (not read by ParseDIBHeader)
  static constexpr uint32_t kRLE4 = 2;  ///< run-length encoded 4-bit (not read by ParseDIBHeader)
  static constexpr uint32_t kBitfields = 3;  ///< 16/32-bit with channel masks
};
static_assert(sizeof(TBitmapInfoHeader) == 40, "BITMAPINFOHEADER layout");

/// What a validated DIB header says, with its color table and channel masks.
struct TDIBInfo {
  int Width = 0;         ///< pixels per row, always positive
  int Height = 0;        ///< rows, always positive
  bool TopDown = false;  ///< the first stored row is the top row
  int BitCount = 0;      ///< 1, 4, 8, 16, 24 or 32
  uint32_t Compression = 0;  ///< TBitmapInfoHeader::kRGB or kBitfields
  /// Where red lies in a 16/32-bit pixel (0x7C00 or 0xFF0000 without bit fields); 0 for other depths.
  uint32_t RedMask = 0, GreenMask = 0, BlueMask = 0;  ///< 16/32-bit only
  /// \var TDIBInfo::GreenMask
  /// Where green lies in a 16/32-bit pixel (0x03E0 or 0xFF00 without bit fields); 0 for other depths.
  std::vector<TRGB> Palette;                          ///< the color table (1/4/8-bit: what the pixels index)
  size_t HeaderBytes = 0;                             ///< header + masks + color table: where packed bits start
  size_t RowBytes = 0;                                ///< stored row length, padded to 4 bytes
  size_t ImageBytes = 0;                              ///< RowBytes * Height
};

/// Largest image a DIB may describe (pixels), and largest side.
constexpr int64_t kMaxDIBPixels = int64_t(1) << 28;
constexpr int kMaxDIBSide = 1 << 20;  ///< Largest width or height a DIB may have (1,048,576).

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
  /// A decoder for rows described by info, which must outlive it; scale widens channels narrower
  /// than 8 bits.
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

/// A cursor identifier: the standard shapes are 0 and below, applications register positive ones.
using TCursor = int;
constexpr TCursor crDefault = 0;  ///< A control's own default cursor (an arrow).
constexpr TCursor crNone = -1;  ///< No visible cursor.
constexpr TCursor crArrow = -2;  ///< The standard arrow.
constexpr TCursor crCross = -3;  ///< A crosshair.
constexpr TCursor crIBeam = -4;  ///< The text I-beam.
constexpr TCursor crSizeNESW = -6;  ///< Diagonal resize arrows, north-east to south-west.
constexpr TCursor crSizeNS = -7;  ///< Vertical resize arrows.
constexpr TCursor crSizeNWSE = -8;  ///< Diagonal resize arrows, north-west to south-east.
constexpr TCursor crSizeWE = -9;  ///< Horizontal resize arrows.
constexpr TCursor crUpArrow = -10;  ///< An arrow pointing up.
constexpr TCursor crHourGlass = -11;  ///< The wait cursor.
constexpr TCursor crDrag = -12;  ///< Dragging (Qt's copy-drag shape).
constexpr TCursor crNoDrop = -13;  ///< No drop here (the forbidden sign).
constexpr TCursor crHSplit = -14;  ///< Splitter between columns.
constexpr TCursor crVSplit = -15;  ///< Splitter between rows.
constexpr TCursor crMultiDrag = -16;  ///< Dragging several items (the copy-drag shape).
constexpr TCursor crSQLWait = -17;  ///< Waiting on a query (the wait cursor).
constexpr TCursor crNo = -18;  ///< The forbidden sign.
constexpr TCursor crAppStart = -19;  ///< Busy in the background (arrow with the busy sign).
constexpr TCursor crHelp = -20;  ///< Arrow with a question mark.
constexpr TCursor crHandPoint = -21;  ///< The pointing hand.
constexpr TCursor crSizeAll = -22;  ///< Four-way move arrows.
constexpr TCursor crSize = crSizeAll;  ///< Same as crSizeAll.

/// Registers (or replaces) the cursor of an identifier. The standard
/// identifiers above are pre-mapped to Qt's shapes; applications and the
/// library add their own with positive identifiers.
KORVANE_EXPORT void RegisterCursor(TCursor id, const QCursor& cursor);
/// True when id has a cursor: a standard identifier or one registered since.
KORVANE_EXPORT bool CursorRegistered(TCursor id);
/// The cursor of an identifier; the arrow for an unknown one.
KORVANE_EXPORT QCursor CursorFromId(TCursor id);

// ---------------------------------------------------------------------------
// Screen and pointer

/// Logical dots per inch of the primary screen; 96 without a screen.
KORVANE_EXPORT int GetScreenDPI();
/// Vertical logical dots per inch of the primary screen; 96 without a screen.
KORVANE_EXPORT int GetScreenDPIY();
/// Bits per pixel of the primary screen; 24 without a screen.
KORVANE_EXPORT int GetScreenBitsPerPixel();
/// Pointer position in screen coordinates.
KORVANE_EXPORT TPoint GetCursorPos();

// ---------------------------------------------------------------------------
// Window scroll bars

/// Bars.
constexpr int SB_HORZ = 0;
constexpr int SB_VERT = 1;  ///< The vertical window scroll bar.
constexpr int SB_CTL = 2;  ///< A scroll bar control; not served by TCustomControl.
constexpr int SB_BOTH = 3;  ///< Both window bars (ShowScrollBar only).
/// Codes of user scrolling.
constexpr int SB_LINEUP = 0;
constexpr int SB_LINELEFT = 0;  ///< One step left (same code as SB_LINEUP).
constexpr int SB_LINEDOWN = 1;  ///< One step down (arrow button).
constexpr int SB_LINERIGHT = 1;  ///< One step right.
constexpr int SB_PAGEUP = 2;  ///< One page up (trough above the thumb).
constexpr int SB_PAGELEFT = 2;  ///< One page left.
constexpr int SB_PAGEDOWN = 3;  ///< One page down (trough below the thumb).
constexpr int SB_PAGERIGHT = 3;  ///< One page right.
constexpr int SB_THUMBPOSITION = 4;  ///< The dragged thumb was released at the given position.
constexpr int SB_THUMBTRACK = 5;  ///< The thumb is being dragged; the position is where it is now.
constexpr int SB_TOP = 6;  ///< To the start of the range.
constexpr int SB_LEFT = 6;  ///< To the left end (same as SB_TOP).
constexpr int SB_BOTTOM = 7;  ///< To the end of the range.
constexpr int SB_RIGHT = 7;  ///< To the right end (same as SB_BOTTOM).
constexpr int SB_ENDSCROLL = 8;  ///< Scrolling has ended (after every user action).
/// Fields of TScrollInfo to set or get.
constexpr unsigned SIF_RANGE = 0x01;
constexpr unsigned SIF_PAGE = 0x02;  ///< nPage: the page size.
constexpr unsigned SIF_POS = 0x04;  ///< nPos: the position.
constexpr unsigned SIF_DISABLENOSCROLL = 0x08;  ///< Keep the bar shown, disabled, when nothing can scroll.
constexpr unsigned SIF_TRACKPOS = 0x10;  ///< nTrackPos: where the dragged thumb is (get only).
constexpr unsigned SIF_ALL = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;  ///< Every field.

/// Range, page and position of a window scroll bar. The position runs from
/// nMin to nMax - max(nPage - 1, 0).
struct TScrollInfo {
  unsigned fMask = 0;   ///< Which fields to set or get: SIF_ flags.
  int nMin = 0;        ///< Lowest position.
  int nMax = 0;        ///< Highest value of the range; raised to nMin when set lower.
  unsigned nPage = 0;  ///< Page size in range units; cut to the range's span.
  int nPos = 0;        ///< Current position; clamped to the range when set.
  int nTrackPos = 0;   ///< Position of the thumb while the user drags it.
};

/// Width of a vertical scroll bar (and height of a horizontal one) in pixels.
KORVANE_EXPORT int GetScrollBarExtent();

}  // namespace korvane
