/// \file
/// Data hidden in the least significant bits of a 24-bit image. The carrier is
/// the channel bytes of each row, top row first, except the green and red
/// bytes of each row's last pixel; each holds one bit (odd = 1). The stream is
/// 4 zero bytes, the data length (32-bit little-endian) and the data, bits
/// least significant first.
#pragma once
#include <cstdint>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"

namespace korvane {

/// Data bytes the carrier of a 24-bit bitmap holds after the 8-byte header:
/// ((3 * width - 2) * height) div 8 - 8, at least 0; 0 for other formats.
KORVANE_EXPORT int _GetHiddenDataSpace(const TBitmap* Bitmap);

/// Hides min(Length, capacity) bytes of Data and returns that count (also the
/// length written in the header); 0 for other formats. A carrier byte changes
/// by at most one level (255 holding a 0 becomes 254).
KORVANE_EXPORT int _WriteHiddenData(TBitmap* Bitmap, const void* Data, int Length);

/// Reads the header and up to Max data bytes into Buffer (none with a null
/// Buffer), never beyond the carrier. Returns the stored length, limited to
/// 0..capacity (on an image without hidden data the header is noise); 0 for
/// other formats.
KORVANE_EXPORT int _ReadHiddenData(const TBitmap* Bitmap, void* Buffer, int Max);

/// Whether the carrier starts with a header as _WriteHiddenData writes it:
/// four zero bytes and a length of 1..capacity. On a picture that holds
/// nothing hidden the header is noise and this is false (but for a chance of
/// about one in four billion).
KORVANE_EXPORT bool _HasHiddenData(const TBitmap* Bitmap);

}  // namespace korvane
