/// \file
/// Plain procedures on whole bitmaps that every component shares: packed DIB
/// conversion both ways, pixel comparison, red/blue swapping and the magic
/// wand mask, and the row progress formula of the processing loops.
#pragma once
#include <cstddef>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/winsys.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

/// Progress of row `row` of the processed rows y1..y2:
/// trunc((row - y1 + 1) * (100 / (y2 - y1 + 0.5))), never above 100 (the bare
/// formula passes 100 on the last rows of short ranges).
KORVANE_EXPORT int RowPercent(int row, int y1, int y2);

// ---------------------------------------------------------------------------
// Packed DIBs, pixel comparison and the magic wand

/// A new packed DIB block of the inclusive rectangle x1..x2, y1..y2 (x2 = 0
/// means the last column, y2 = 0 the last row): 40-byte header with positive
/// height, a black/white table for a 1-bit bitmap, 24-bit pixels for any other
/// format, rows bottom-up padded to 4 bytes. Null for an empty bitmap or a
/// rectangle outside it. The caller (or the clipboard) owns the block.
KORVANE_EXPORT HGLOBAL _CopyBitmaptoDIB(TBitmap* Bitmap, int x1, int y1, int x2, int y2);

/// Fills the bitmap from a packed DIB of DibSize bytes, or, when PixelData is
/// given, from a header (with its masks and table) followed by separate pixel
/// rows of PixelDataSize bytes. 1-bit DIBs give a 1-bit bitmap (bit 1 white:
/// the bits are inverted when the table's first entry is the lighter), 4-, 8-,
/// 16-, 24- and 32-bit DIBs (bit fields applied) a 24-bit one, and the YUV
/// four-character codes go through the video converters (a complete frame
/// only). Raises EInvalidGraphic on bad or short data and on a compression it
/// does not decode (RLE, other codes); the bitmap is then untouched.
KORVANE_EXPORT void _CopyDIB2Bitmap(const void* Dib, size_t DibSize, TBitmap* Bitmap,
                                    const void* PixelData = nullptr, size_t PixelDataSize = 0);
/// The same from a movable block (locked for the copy).
KORVANE_EXPORT void _CopyDIB2Bitmap(HGLOBAL Dib, TBitmap* Bitmap);

/// True when both bitmaps have the same size and pixel format and the same
/// pixels (row padding and unused bits ignored).
KORVANE_EXPORT bool _BitmapCompareX(const TBitmap* a, const TBitmap* b);

/// Copies Count pixels from Source to Dest swapping red and blue.
KORVANE_EXPORT void _CopyBGR_RGB(TRGB* Dest, const TRGB* Source, int Count);
/// Swaps red and blue of Count pixels in place.
KORVANE_EXPORT void _RGB2BGR(TRGB* Row, int Count);

/// The mask becomes a 1-bit bitmap of the source's size with bit 1 (white) for
/// every pixel 4-connected to (x, y) through pixels whose red, green and blue
/// each differ from the seed pixel's by at most Tolerance; every other bit is
/// 0. A seed outside the source leaves the mask all 0. A source of another
/// format than 24-bit is converted first.
KORVANE_EXPORT void _MakeMagicWandBitmap(const TBitmap* Source, TBitmap* Mask, int x, int y, int Tolerance);

}  // namespace korvane
