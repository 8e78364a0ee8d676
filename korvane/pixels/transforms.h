/// \file
/// Geometric transforms behind TKorvaneProc's Rotate and Flip: exact quarter
/// turns, rotation by three shears (24-bit) and by inverse mapping (1-bit),
/// mirroring, and 1-bit pixel access.
#pragma once
#include <cstdint>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

/// Mirror direction of _Flip: fdHorizontal swaps left and right, fdVertical top and bottom.
enum TFlipDir { fdHorizontal, fdVertical };

/// Pixel x of a 1-bit row, most significant bit of each byte first.
inline int _GetPixelbw(const uint8_t* Row, int x) { return (Row[x >> 3] >> (7 - (x & 7))) & 1; }
/// Sets pixel x of a 1-bit row to 1 when Bit is nonzero, else to 0; the other bits stay.
inline void _SetPixelbw(uint8_t* Row, int x, int Bit) {
  const uint8_t m = uint8_t(0x80 >> (x & 7));
  if (Bit)
    Row[x >> 3] |= m;
  else
    Row[x >> 3] &= uint8_t(~m);
}

/// Floor and ceiling of a double as integers, saturating at the int range (NaN
/// gives 0).
KORVANE_EXPORT int _Floor(double v);
/// Ceiling of a double as an integer, saturating at the int range (NaN gives 0).
KORVANE_EXPORT int _Ceil(double v);
/// Truncation toward zero, saturating the same way.
KORVANE_EXPORT int _TruncSat(double v);

/// Quarter turns of a 24-bit bitmap into Dest (Source's format, swapped size):
/// _Rot90 counter-clockwise, _Rot90o clockwise. Nothing for other formats.
KORVANE_EXPORT void _Rot90(const TBitmap* Source, TBitmap* Dest);
/// Quarter turn clockwise of a 24-bit bitmap into Dest; see _Rot90.
KORVANE_EXPORT void _Rot90o(const TBitmap* Source, TBitmap* Dest);

/// Rotates a 1-bit bitmap by Angle degrees counter-clockwise, in place, by
/// inverse mapping to the nearest pixel; the result grows to hold the turned
/// image and uncovered pixels get FillBit. Progress after each row.
KORVANE_EXPORT void _rotate1bit(TBitmap* Bitmap, int FillBit, TProgressRec& Progress, int Angle);

/// Rotates a 24-bit bitmap in place by Angle degrees (-45..45 is the intended
/// range; the quarter turns are the caller's) counter-clockwise by three shears;
/// the bitmap grows to hold the result and uncovered areas get Background.
/// With Antialias, each line's sub-pixel offset is blended linearly (12-bit
/// weights). Progress before each line of each pass.
KORVANE_EXPORT void _RotateShear(TBitmap* Bitmap, double Angle, bool Antialias, TRGB Background,
                                 TProgressRec& Progress);

/// Mirrors a 24-bit or 1-bit bitmap in place (other formats: nothing). A
/// direction outside TFlipDir leaves the bitmap as it is.
KORVANE_EXPORT void _Flip(TBitmap* Bitmap, TFlipDir Dir);

/// Turns a bitmap stored with Exif/TIFF orientation Orientation (1..8) upright,
/// in place, for every pixel format whose pixels are whole bits (1, 4, 8, 24
/// and 32 bits; the palette stays): 2 mirrors, 3 turns half round, 4 flips, 5
/// transposes, 6 turns clockwise, 7 transverses, 8 turns counter-clockwise.
/// 1 and values outside 1..8 leave it as it is.
KORVANE_EXPORT void _Orient(TBitmap* Bitmap, int Orientation);

}  // namespace korvane
