/// \file
/// Converters from the YUV pixel formats of video capture drivers and codecs
/// into a 24-bit bitmap, and their dispatch by four-character code.
///
/// Every converter takes the frame's bytes (rows follow each other without
/// padding), their count, a 24-bit bitmap the caller has already sized to the
/// frame, and the orientation: true puts the first data row at the top of the
/// bitmap, false at the bottom. A converter never reads past DataSize bytes:
/// packed formats convert the rows the data holds completely and leave the
/// others untouched; planar formats convert nothing unless the whole frame is
/// there. Each returns true when every row was converted.
///
/// Row sizes: packed formats store a row as whole steps (a width that is not a
/// multiple of the step's pixels rounds up to the next step, whose extra
/// pixels are dropped). Planar formats hold a Y plane of width x height and
/// chroma planes of (width div s) x (height div s) with s = 2 (4:2:0) or 4
/// (YVU9); luma rows 2k and 2k+1 (4k..4k+3 for YVU9) share chroma row k, and
/// pixels past the last chroma sample of a row or plane reuse the last one.
#pragma once
#include <cstddef>
#include <cstdint>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

class TBitmap;

/// BT.601 video-range conversion: y = (Y - 16) * 1.164, u = U - 128,
/// v = V - 128; blue = y + 2.018 u, green = y - 0.813 v - 0.391 u,
/// red = y + 1.596 v, each rounded to nearest with ties to even (computed
/// exactly, in thousandths) and limited to 0..255.
KORVANE_EXPORT void YUV2RGB(int Y, int U, int V, TRGB& Pixel);

/// The widest vector kernel the 4:2:2 and 4:2:0 converters may use: 0 plain
/// code, 1 SSE4.1, 2 AVX2 (the default; a level the processor lacks falls back
/// to the next one down). All levels give identical pixels; tests and
/// benchmarks use this to compare them.
KORVANE_EXPORT void SetYUVVectorLevel(int Level);

KORVANE_EXPORT bool _CopyUYVYToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap,
                                      bool TopDown);  ///< U0 Y0 V0 Y1
KORVANE_EXPORT bool _CopyYUY2ToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap,
                                      bool TopDown);  ///< Y0 U0 Y1 V0
KORVANE_EXPORT bool _CopyYVYUToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap,
                                      bool TopDown);  ///< Y0 V0 Y1 U0
/// 4 pixels per 6 bytes: U Y0 Y1 V Y2 Y3.
KORVANE_EXPORT bool _CopyIYU1ToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown);
/// 1 pixel per 3 bytes: U Y V.
KORVANE_EXPORT bool _CopyIYU2ToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown);
/// 8 pixels per 12 bytes: U0 Y0 V0 Y1 U4 Y2 V4 Y3 Y4 Y5 Y6 Y7; pixels 0-3 take
/// U0 V0, pixels 4-7 take U4 V4.
KORVANE_EXPORT bool _CopyY41PToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown);
/// 4 pixels per 4 bytes: Y0 U Y2 V; pixels 0 and 1 take Y0, 2 and 3 take Y2.
KORVANE_EXPORT bool _CopyY211ToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown);
/// 4 pixels per little-endian 32-bit word: V bits 0-5, U bits 6-11, Y0..Y3 in
/// bits 12-16, 17-21, 22-26, 27-31. The 5-bit luma and 6-bit chroma fields are
/// widened to 8 bits by repeating their top bits before conversion.
KORVANE_EXPORT bool _CopyCLJRToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown);
/// Planar 4:2:0, planes Y, U, V.
KORVANE_EXPORT bool _CopyI420ToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown);
/// Planar 4:2:0, planes Y, V, U.
KORVANE_EXPORT bool _CopyYV12ToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown);
/// Planar 4:1:0, planes Y, V, U.
KORVANE_EXPORT bool _CopyYVU9ToBitmap(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown);

/// A four-character code as the little-endian 32-bit value of its letters.
constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
         (uint32_t(uint8_t(d)) << 24);
}

/// Signature shared by the converters above; true when every row was converted.
using TYUVConverter = bool (*)(const uint8_t* Data, size_t DataSize, TBitmap* Bitmap, bool TopDown);

/// The converter of a code (UYVY, UYNV, cyuv, YUY2, YUNV, YVYU, IYU1, IYU2,
/// Y41P, Y211, CLJR, I420, IYUV, YV12, YVU9), or nullptr. Reversed is set
/// when the code's frames are stored with the opposite orientation (cyuv,
/// Y41P).
KORVANE_EXPORT TYUVConverter FindYUVConverter(uint32_t FourCC, bool* Reversed = nullptr);

/// Bytes a complete frame of the code takes at this size, 0 for an unknown
/// code or an empty size.
KORVANE_EXPORT size_t YUVFrameSize(uint32_t FourCC, int Width, int Height);

/// Converts a frame by its code. TopDown is the orientation of the ordinary
/// codes; cyuv and Y41P get the opposite one. False for an unknown code or an
/// incomplete conversion.
KORVANE_EXPORT bool CopyYUVFrameToBitmap(uint32_t FourCC, const uint8_t* Data, size_t DataSize,
                                         TBitmap* Bitmap, bool TopDown = true);

}  // namespace korvane
